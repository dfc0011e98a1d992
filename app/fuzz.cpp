// /fuzz: malformed and boundary frames at the driver's parser, a check after
// every 64 that the driver still answers, and each batch on disk, flushed,
// before it goes out: if the driver takes the system down with it, the frames
// that did it are in the journal, a script /play replays.

#include <cstdio>
#include <cstring>

#include "app/testquorvex.h"
#include "client/deadline.h"
#include "client/stop.h"
#include "layout/fuzz_frames.h"
#include "reports/message.h"

namespace {

constexpr uint64_t kBatch = 64;
constexpr int kCodesKept = 16;
constexpr char kCheck[] = "fuzz check";

struct refusals_by_code {
    DWORD code;
    uint64_t count;
};

// The run, where the watchdog's last words reach it too.
struct fuzz_run {
    uint32_t seed;
    uint64_t count;
    uint64_t sent;      // frames the driver has taken, accepted or refused
    uint64_t refused;
    refusals_by_code codes[kCodesKept];
    int code_count;
    uint64_t other_codes;  // refusals past the codes kept
    uint64_t checks;
    uint64_t answered;
    bool stopped_answering;
    HANDLE journal;
    char path[MAX_PATH + 1];
};
fuzz_run g_fuzz;

// One batch as a script: its frames, then the check. Kept here, so that
// writing the journal allocates nothing.
char g_text[kBatch * LAYOUT_STEP_MAX + 512];

void count_refusal(DWORD code) {
    ++g_fuzz.refused;
    for (int i = 0; i < g_fuzz.code_count; ++i) {
        if (g_fuzz.codes[i].code != code) continue;
        ++g_fuzz.codes[i].count;
        return;
    }
    if (g_fuzz.code_count == kCodesKept) {
        ++g_fuzz.other_codes;
        return;
    }
    g_fuzz.codes[g_fuzz.code_count++] = {code, 1};
}

bool journal_failed(const char* call) {
    printf("Error: the fuzz journal %s: %s failed: %d; the batch was not sent\n", g_fuzz.path, call,
           static_cast<int>(GetLastError()));
    return false;
}

// The batch from frame first (from 0), written over the one before and on
// the disk before any of it is sent.
bool write_journal(uint64_t first, uint64_t frames) {
    size_t length = static_cast<size_t>(snprintf(
        g_text, sizeof(g_text),
        "# testquorvex /fuzz, seed %u: frames %llu to %llu, sent since the driver last answered.\r\n"
        "# testquorvex /play:%s sends them again.\r\n",
        static_cast<unsigned>(g_fuzz.seed), static_cast<unsigned long long>(first + 1),
        static_cast<unsigned long long>(first + frames), g_fuzz.path));
    uint8_t frame[LAYOUT_FRAME_SIZE];
    for (uint64_t i = first; i < first + frames; ++i) {
        fuzz_frame(g_fuzz.seed, i, frame);
        length += layout_describe_raw_frame(frame, fuzz_via_set(i), g_text + length, sizeof(g_text) - length);
        length += static_cast<size_t>(snprintf(g_text + length, sizeof(g_text) - length, "\r\n"));
    }
    length += static_cast<size_t>(
        snprintf(g_text + length, sizeof(g_text) - length, "flush\r\nmessage \"%s\"\r\nexpect any\r\n", kCheck));

    DWORD written = 0;
    if (SetFilePointer(g_fuzz.journal, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return journal_failed("SetFilePointer");
    if (!WriteFile(g_fuzz.journal, g_text, static_cast<DWORD>(length), &written, nullptr) || written != length)
        return journal_failed("WriteFile");
    if (!SetEndOfFile(g_fuzz.journal)) return journal_failed("SetEndOfFile");
    if (!FlushFileBuffers(g_fuzz.journal)) return journal_failed("FlushFileBuffers");
    return true;
}

// Whether the driver still answers: its queue emptied of what fuzzed
// messages left there, one message, and any answer within the deadline.
bool driver_answers(quorvex_client* client) {
    ++g_fuzz.checks;
    if (!HidD_FlushQueue(client->message)) printf("failed HidD_FlushQueue %d\n", static_cast<int>(GetLastError()));
    quorvex_message message = {};
    std::memcpy(message.bytes + 1, kCheck, sizeof(kCheck) - 1);
    // The message, not the tail of the last fuzzed frame after it.
    std::memset(client->control_report, 0, sizeof(client->control_report));
    client->quiet_refusals = false;
    const bool answered = quorvex_write_message(client, &message) && quorvex_read_message(client, &message);
    client->quiet_refusals = true;
    if (answered) ++g_fuzz.answered;
    return answered;
}

int fuzz_summary(quorvex_client* client) {
    // A send past its deadline is a driver that stopped answering too.
    if (quorvex_stalled(client)) g_fuzz.stopped_answering = true;
    quorvex_stop_say(client);
    if (g_fuzz.stopped_answering)
        printf("Fuzz: the driver stopped answering after frame %llu (seed %u)\nThe frames sent since it last answered "
               "are in %s; testquorvex /play:%s sends them again\n",
               static_cast<unsigned long long>(g_fuzz.sent), static_cast<unsigned>(g_fuzz.seed), g_fuzz.path,
               g_fuzz.path);
    printf("Fuzz: %llu frames (seed %u): %llu accepted, %llu refused", static_cast<unsigned long long>(g_fuzz.sent),
           static_cast<unsigned>(g_fuzz.seed), static_cast<unsigned long long>(g_fuzz.sent - g_fuzz.refused),
           static_cast<unsigned long long>(g_fuzz.refused));
    for (int i = 0; i < g_fuzz.code_count; ++i)
        printf("%s%d: %llu", i == 0 ? " (" : ", ", static_cast<int>(g_fuzz.codes[i].code),
               static_cast<unsigned long long>(g_fuzz.codes[i].count));
    if (g_fuzz.other_codes != 0) printf(", others: %llu", static_cast<unsigned long long>(g_fuzz.other_codes));
    if (g_fuzz.code_count != 0) printf(")");
    if (g_fuzz.stopped_answering)
        printf("; the driver answered %llu of %llu checks\n", static_cast<unsigned long long>(g_fuzz.answered),
               static_cast<unsigned long long>(g_fuzz.checks));
    else
        printf("; the driver answered all %llu checks\n", static_cast<unsigned long long>(g_fuzz.checks));
    if (g_fuzz.stopped_answering) return EXIT_STALLED;
    return quorvex_stop_requested() ? EXIT_INTERRUPTED : EXIT_DEMONSTRATED;
}

}  // namespace

bool fuzz_begin(const run_settings& settings, int* status) {
    g_fuzz = {};
    g_fuzz.count = settings.count;
    if (settings.seed_given) {
        g_fuzz.seed = settings.seed;
    } else {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        g_fuzz.seed = static_cast<uint32_t>(now.QuadPart ^ now.QuadPart >> 32);
    }
    char name[64];
    snprintf(name, sizeof(name), "quorvex-fuzz-%u.txt", static_cast<unsigned>(g_fuzz.seed));
    const char* out = settings.out != nullptr ? settings.out : name;
    const DWORD length = GetFullPathNameA(out, sizeof(g_fuzz.path), g_fuzz.path, nullptr);
    if (length == 0 || length >= sizeof(g_fuzz.path)) {
        printf("Error: the fuzz journal %s: GetFullPathNameA failed: %d\n", out, static_cast<int>(GetLastError()));
        *status = EXIT_NO_MEMORY;
        return false;
    }
    printf("Fuzzing the quorvex device with %llu frame(s) from seed %u, each transfer within %u ms; journal %s\n",
           static_cast<unsigned long long>(g_fuzz.count), static_cast<unsigned>(g_fuzz.seed),
           static_cast<unsigned>(settings.timeout_ms), g_fuzz.path);
    // Never over an existing file: it may be the evidence of an earlier run.
    g_fuzz.journal = CreateFileA(g_fuzz.path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    if (g_fuzz.journal == INVALID_HANDLE_VALUE) {
        printf("Error: the fuzz journal %s: CreateFileA failed: %d; nothing was sent\n", g_fuzz.path,
               static_cast<int>(GetLastError()));
        *status = EXIT_NO_MEMORY;
        return false;
    }
    return true;
}

void fuzz_end() {
    CloseHandle(g_fuzz.journal);
    // The journal is evidence only of a driver that stopped answering.
    if (!g_fuzz.stopped_answering && !DeleteFileA(g_fuzz.path))
        printf("Error: the fuzz journal %s: DeleteFileA failed: %d\n", g_fuzz.path, static_cast<int>(GetLastError()));
}

int (*fuzz_last_words())(quorvex_client*) { return fuzz_summary; }

int run_fuzz(quorvex_client* client) {
    client->quiet_refusals = true;
    progress_clock progress = progress_from_now();
    uint8_t frame[LAYOUT_FRAME_SIZE];
    for (uint64_t first = 0; first < g_fuzz.count; first += kBatch) {
        const uint64_t frames = g_fuzz.count - first < kBatch ? g_fuzz.count - first : kBatch;
        if (!write_journal(first, frames)) {
            // Not safe to go on: a crash now would leave no evidence.
            fuzz_summary(client);
            return EXIT_NO_MEMORY;
        }
        for (uint64_t i = first; i < first + frames; ++i) {
            fuzz_frame(g_fuzz.seed, i, frame);
            std::memcpy(client->control_report, frame, sizeof(frame));
            const int sent = fuzz_via_set(i) ? quorvex_set_control_report(client) : quorvex_write_control_report(client);
            if (quorvex_stalled(client)) return fuzz_summary(client);
            ++g_fuzz.sent;
            if (!sent) count_refusal(client->last_error);
            if (quorvex_stop_requested()) break;
        }
        // Stopped or not, the frames sent must have left the driver answering;
        // only then does the journal of them go.
        if (!driver_answers(client)) {
            g_fuzz.stopped_answering = true;
            return fuzz_summary(client);
        }
        if (quorvex_stop_requested()) return fuzz_summary(client);
        if (!progress_due(&progress)) continue;
        printf("Fuzz: %llu frames so far, %llu refused; the driver answered all %llu checks\n",
               static_cast<unsigned long long>(g_fuzz.sent), static_cast<unsigned long long>(g_fuzz.refused),
               static_cast<unsigned long long>(g_fuzz.checks));
    }
    return fuzz_summary(client);
}
