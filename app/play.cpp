// /play and /send: the tester's own steps, read and checked whole before the
// device is searched, then played through the same send and read operations
// the demonstrations use, every transfer under the run's deadline.

#include <cstdio>
#include <cstring>

#include <atomic>

#include "app/long_run.h"
#include "app/verify.h"
#include "client/error_text.h"
#include "reports/message.h"
#include "script/script.h"

struct quorvex_script {
    const char* name;  // as the tester gave it, for FILE:LINE
    char* text;        // the whole script, as read
    script_step* steps;
    size_t count;
};

namespace {

constexpr DWORD kChunk = 64 * 1024;

// What the summary counts. The reports sent and refused are the client's
// own counts, which the watchdog keeps too when it gives up a send.
struct play_counts {
    std::atomic<uint64_t> steps;
    std::atomic<uint64_t> expectations;
    std::atomic<uint64_t> met;
    std::atomic<uint64_t> other_failures;  // a queue that would not empty
    const quorvex_script* script;
    uint32_t round;
    size_t next;
};
play_counts g_play;

void release(quorvex_script* script) {
    if (script == nullptr) return;
    host_free(script->text);
    host_free(script->steps);
    host_free(script);
}

// Checks the text whole, then compiles it into one block of steps.
quorvex_script* compile(const char* name, char* text, size_t size, int* status) {
    auto* script = static_cast<quorvex_script*>(host_malloc(sizeof(quorvex_script)));
    if (script == nullptr) {
        host_free(text);
        *status = EXIT_NO_RESOURCES;
        printf("Error: no room for the script %s\n", name);
        return nullptr;
    }
    *script = {name, text, nullptr, 0};
    script_check check;
    if (!script_compile(text, size, nullptr, 0, &check) && check.utf16) {
        printf("%s: the script is UTF-16 text, as Windows PowerShell 5.1's > writes it; save it as UTF-8 (for "
               "instance with Set-Content -Encoding utf8, or Notepad's Save as with Encoding UTF-8) and play it "
               "again; nothing was sent\n",
               name);
        release(script);
        return nullptr;
    }
    if (check.errors != 0) {
        for (size_t i = 0; i < check.errors && i < SCRIPT_ERRORS_KEPT; ++i)
            printf("%s:%u:%u: %s\n", name, static_cast<unsigned>(check.kept[i].line),
                   static_cast<unsigned>(check.kept[i].column), check.kept[i].expected);
        printf("%s: %llu error(s); nothing was sent\n", name, static_cast<unsigned long long>(check.errors));
        // What looks like a modifier was read as the step's own words.
        if (std::strcmp(name, "/send") == 0 && std::strstr(text, " /") != nullptr)
            printf("/send takes no modifiers: everything after it, to the end of the line, is its one step\n");
        release(script);
        return nullptr;
    }
    if (check.steps > SCRIPT_MAX_STEPS) {
        printf("%s: more than %u steps; nothing was sent\n", name, static_cast<unsigned>(SCRIPT_MAX_STEPS));
        release(script);
        return nullptr;
    }
    script->count = check.steps;
    if (script->count > 0) {
        script->steps = static_cast<script_step*>(host_malloc(script->count * sizeof(script_step)));
        if (script->steps == nullptr) {
            *status = EXIT_NO_RESOURCES;
            printf("Error: no room for the %llu steps of %s\n", static_cast<unsigned long long>(script->count), name);
            release(script);
            return nullptr;
        }
        script_compile(text, size, script->steps, script->count, &check);
    }
    return script;
}

bool unreadable(const char* name, const char* call, DWORD error, HANDLE file) {
    char text[QUORVEX_ERROR_TEXT_MAX];
    printf("Error: the script %s cannot be read: %s failed: %s\n", name, call, quorvex_error_text(error, text, sizeof(text)));
    if (file != nullptr && file != INVALID_HANDLE_VALUE && std::strcmp(name, "-") != 0) CloseHandle(file);
    return false;
}

// The whole file, or standard input for "-", into one block of at most
// SCRIPT_MAX_BYTES; one byte more tells a larger one.
bool read_whole(const char* name, char** text, size_t* size, int* status) {
    const bool standard_input = std::strcmp(name, "-") == 0;
    HANDLE file = standard_input ? GetStdHandle(STD_INPUT_HANDLE)
                                 : CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return unreadable(name, standard_input ? "GetStdHandle" : "CreateFileA", GetLastError(), file);
    auto* block = static_cast<char*>(host_malloc(SCRIPT_MAX_BYTES + 1));
    if (block == nullptr) {
        if (!standard_input) CloseHandle(file);
        *status = EXIT_NO_RESOURCES;
        printf("Error: no room for the script %s\n", name);
        return false;
    }
    size_t got = 0;
    while (got <= SCRIPT_MAX_BYTES) {
        const size_t room = SCRIPT_MAX_BYTES + 1 - got;
        DWORD read = 0;
        if (!ReadFile(file, block + got, room < kChunk ? static_cast<DWORD>(room) : kChunk, &read, nullptr)) {
            // Read before anything else can change it; freeing may.
            const DWORD error = GetLastError();
            // A pipe's writer closing is its end, not a failure.
            if (error == ERROR_BROKEN_PIPE) break;
            host_free(block);
            return unreadable(name, "ReadFile", error, file);
        }
        if (read == 0) break;
        got += read;
    }
    if (!standard_input) CloseHandle(file);
    if (got > SCRIPT_MAX_BYTES) {
        host_free(block);
        printf("%s: more than 1 MiB; nothing was sent\n", name);
        return false;
    }
    *text = block;
    *size = got;
    return true;
}

void print_step(const quorvex_script* script, const script_step& step) {
    printf("%s:%u: %.*s\n", script->name, static_cast<unsigned>(step.line), static_cast<int>(step.text_length),
           script->text + step.text);
}

// The next answer against the step: any answer meets expect any; expect
// compares all 32 data bytes, and a mismatch shows both.
void expect(quorvex_client* client, const quorvex_script* script, const script_step& step, bool quiet) {
    ++g_play.expectations;
    quorvex_message answer = {};
    if (!quorvex_read_message(client, &answer)) {
        if (quiet) printf("    in ");
        if (quiet) print_step(script, step);
        return;
    }
    if (step.kind == step_kind::expect_any || std::memcmp(answer.bytes + 1, step.bytes, LAYOUT_DATA_SIZE) == 0) {
        ++g_play.met;
        return;
    }
    char wanted[LAYOUT_STEP_MAX], got[LAYOUT_STEP_MAX];
    layout_describe_data(step.bytes, wanted, sizeof(wanted));
    layout_describe_data(answer.bytes + 1, got, sizeof(got));
    printf("%s:%u: expected %s, the device answered %s\n", script->name, static_cast<unsigned>(step.line), wanted, got);
}

// A long pause in slices, so that a stop does not wait it out.
void pause(const quorvex_client* client, DWORD ms) {
    constexpr DWORD kSlice = 100;
    if (ms == 0) Sleep(0);
    for (DWORD left = ms; left > 0 && !quorvex_stopped(client); left -= left < kSlice ? left : kSlice)
        Sleep(left < kSlice ? left : kSlice);
}

void play_step(quorvex_client* client, const quorvex_script* script, const script_step& step, bool quiet) {
    ++g_play.steps;
    verify_line(script->name, step.line);
    switch (step.kind) {
        case step_kind::write:
        case step_kind::set: {
            if (!quiet) print_step(script, step);
            if (quorvex_send_frame(client, step.bytes, step.kind == step_kind::set ? QUORVEX_SEND_SET : QUORVEX_SEND_WRITE))
                return;
            if (quiet) printf("    in ");
            if (quiet) print_step(script, step);
            return;
        }
        case step_kind::expect:
        case step_kind::expect_any: expect(client, script, step, quiet); return;
        case step_kind::flush:
            if (!quorvex_flush_answers(client)) ++g_play.other_failures;
            return;
        case step_kind::sleep: pause(client, step.sleep_ms); return;
    }
}

// The step /send plays: the rest of the command line as typed, from the
// command line itself, so that its quotes survive.
const char* step_on_command_line() {
    const char* step = skip_argument(skip_argument(GetCommandLineA()));
    if (*step != '\0') return step;
    print_usage();
    printf("Missing value: /send STEP\n");
    return nullptr;
}

bool prepare(long_run* run, int* status) {
    *status = EXIT_USAGE;
    quorvex_script* script = nullptr;
    if (run->mode == QUORVEX_MODE_SEND) {
        const char* step = step_on_command_line();
        if (step == nullptr) return false;
        script = load_script_text("/send", step, status);
    } else {
        script = load_script_file(run->settings->file, status);
    }
    if (script == nullptr) return false;
    g_play.steps = 0;
    g_play.expectations = 0;
    g_play.met = 0;
    g_play.other_failures = 0;
    g_play.script = script;
    g_play.round = 0;
    g_play.next = 0;
    run->own = &g_play;
    return true;
}

bool begin(long_run* run, int*) {
    if (run->mode != QUORVEX_MODE_PLAY) return true;
    char head[MAX_PATH + 96];
    snprintf(head, sizeof(head), "Playing %s: %llu step(s), %u time(s)", g_play.script->name,
             static_cast<unsigned long long>(g_play.script->count), static_cast<unsigned>(run->settings->repeat));
    long_run_start_line(head, "transfer", run->settings->timeout_ms);
    return true;
}

bool step(long_run* run) {
    const quorvex_script* script = g_play.script;
    if (script->count == 0) return false;
    play_step(run->client, script, script->steps[g_play.next], run->settings->quiet);
    if (++g_play.next == script->count) {
        g_play.next = 0;
        ++g_play.round;
    }
    return g_play.round < run->settings->repeat;
}

void progress(const long_run* run, int64_t) {
    if (!run->settings->quiet) return;
    printf("Play: %llu steps so far, %llu reports sent, %llu refused\n",
           static_cast<unsigned long long>(g_play.steps), static_cast<unsigned long long>(run->client->reports_sent),
           static_cast<unsigned long long>(run->client->reports_refused));
}

// "1 step", "2 steps".
const char* plural(uint64_t count, const char* one, const char* more) { return count == 1 ? one : more; }

void totals(const long_run* run, quorvex_stop_cause) {
    const uint64_t steps = g_play.steps, sent = run->client->reports_sent, expectations = g_play.expectations;
    printf("Play: %llu %s, %llu %s sent, %llu refused", static_cast<unsigned long long>(steps),
           plural(steps, "step", "steps"), static_cast<unsigned long long>(sent), plural(sent, "report", "reports"),
           static_cast<unsigned long long>(run->client->reports_refused));
    // A script without expectations has nothing to say of them.
    if (expectations != 0)
        printf("; %llu of %llu %s met", static_cast<unsigned long long>(g_play.met),
               static_cast<unsigned long long>(expectations), plural(expectations, "expectation", "expectations"));
    printf("\n");
}

int verdict(const long_run* run, quorvex_stop_cause stop) {
    if (const int stopped = long_run_stop_status(stop)) return stopped;
    const bool clean =
        run->client->reports_refused == 0 && g_play.met == g_play.expectations && g_play.other_failures == 0;
    return clean ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

void play_release(long_run*) {
    free_script(const_cast<quorvex_script*>(g_play.script));
    g_play.script = nullptr;
}

}  // namespace

const char* skip_argument(const char* at) {
    bool quoted = false;
    for (; *at != '\0' && (quoted || (*at != ' ' && *at != '\t')); ++at)
        if (*at == '"') quoted = !quoted;
    while (*at == ' ' || *at == '\t') ++at;
    return at;
}

quorvex_script* load_script_file(const char* name, int* status) {
    char* text = nullptr;
    size_t size = 0;
    *status = EXIT_USAGE;
    if (!read_whole(name, &text, &size, status)) return nullptr;
    return compile(name, text, size, status);
}

quorvex_script* load_script_text(const char* name, const char* step, int* status) {
    const size_t size = std::strlen(step);
    *status = EXIT_USAGE;
    auto* text = static_cast<char*>(host_malloc(size + 1));
    if (text == nullptr) {
        *status = EXIT_NO_RESOURCES;
        printf("Error: no room for the step\n");
        return nullptr;
    }
    std::memcpy(text, step, size + 1);
    return compile(name, text, size, status);
}

void free_script(quorvex_script* script) { release(script); }

const long_run_kind LONG_RUN_PLAY = {prepare, begin, step, progress, nullptr, totals, verdict, play_release};
