// /fuzz: malformed and boundary frames at the driver's parser, a check after
// every 64 that the driver still answers, and each batch on disk, flushed,
// before it goes out: if the driver takes the system down with it, the frames
// that did it are in the journal, a script /play replays.

#include <cstdio>
#include <cstring>

#include "app/long_run.h"
#include "app/report.h"
#include "client/error_text.h"
#include "layout/fuzz_frames.h"
#include "reports/message.h"

namespace {

constexpr uint64_t kBatch = 64;
constexpr int kCodesKept = 16;
constexpr char kCheck[] = "fuzz check";
// A device that does not echo: how long the queue must have had time to
// take late answers before it is emptied for a check.
constexpr DWORD kQuietMs = 100;
// An echoing device: how many other answers a check reads past before it
// gives up on its own, which no queue of this many can hide.
constexpr int kOtherAnswersMax = static_cast<int>(kBatch) + static_cast<int>(QUORVEX_MESSAGE_INPUT_BUFFERS);

struct refusals_by_code {
    DWORD code;
    std::atomic<uint64_t> count;
};

struct fuzz_run {
    uint32_t seed;
    uint64_t count;
    uint64_t first;                // the next batch's first frame
    std::atomic<uint64_t> sent;    // frames the driver has taken, accepted or refused
    std::atomic<uint64_t> refused;
    refusals_by_code codes[kCodesKept];
    std::atomic<int> code_count;
    std::atomic<uint64_t> other_codes;  // refusals past the codes kept
    std::atomic<uint64_t> checks;
    std::atomic<uint64_t> answered;
    std::atomic<bool> stopped_answering;
    bool probed;
    bool echoes;          // the device answers a message with the message itself
    std::atomic<bool> never_answered;  // not even before the first frame
    std::atomic<bool> probing;         // the probe is under way: nothing is journalled yet
    bool journal_failed;
    uint64_t batch_first;  // the last batch's frames, for the report
    uint64_t batch_frames;
    int64_t phase_us[3];   // each batch's time goes to the phase of its first frame
    HANDLE journal;
    char path[MAX_PATH + 1];
};
fuzz_run g_fuzz;

// One batch as a script: its frames, then the check. Kept here, so that
// writing the journal allocates nothing.
char g_text[kBatch * LAYOUT_STEP_MAX + 512];

void count_refusal(DWORD code) {
    ++g_fuzz.refused;
    const int known = g_fuzz.code_count;
    for (int i = 0; i < known; ++i) {
        if (g_fuzz.codes[i].code != code) continue;
        ++g_fuzz.codes[i].count;
        return;
    }
    if (known == kCodesKept) {
        ++g_fuzz.other_codes;
        return;
    }
    g_fuzz.codes[known].code = code;
    g_fuzz.codes[known].count = 1;
    g_fuzz.code_count = known + 1;
}

bool journal_failed(const char* call) {
    const DWORD error = GetLastError();
    char text[QUORVEX_ERROR_TEXT_MAX];
    printf("Error: the fuzz journal %s: %s failed: %s; the batch was not sent\n", g_fuzz.path, call,
           quorvex_error_text(error, text, sizeof(text)));
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

quorvex_message check_message(quorvex_client* client) {
    quorvex_message message = {};
    message.bytes[0] = QUORVEX_REPORT_MESSAGE;
    std::memcpy(message.bytes + 1, kCheck, sizeof(kCheck) - 1);
    // The message, not the tail of the last fuzzed frame after it.
    quorvex_clear_frame(client);
    return message;
}

// Before the first frame, any answer can only be the probe's own: whether
// the device echoes decides how every later check tells a stale answer.
bool probe(quorvex_client* client) {
    quorvex_message message = check_message(client), answer = {};
    if (!quorvex_write_message(client, &message) || !quorvex_read_message(client, &answer)) return false;
    g_fuzz.echoes = std::memcmp(answer.bytes, message.bytes, sizeof(answer.bytes)) == 0;
    return true;
}

// Whether the driver still answers: its queue emptied of what fuzzed
// messages left there, one message, and its answer within the deadline. An
// answer to a fuzzed message that comes after the flush would pass for the
// check's own: an echoing device must give the check's own; for one that does
// not echo, late answers are given time to land before the flush.
bool driver_answers(quorvex_client* client) {
    ++g_fuzz.checks;
    if (!g_fuzz.echoes) quorvex_pause(client, kQuietMs);
    quorvex_flush_answers(client);
    quorvex_message message = check_message(client);
    if (!quorvex_write_message(client, &message)) return false;
    for (int read = 0; read <= kOtherAnswersMax; ++read) {
        quorvex_message answer = {};
        if (!quorvex_read_message(client, &answer)) return false;
        if (g_fuzz.echoes && std::memcmp(answer.bytes, message.bytes, sizeof(answer.bytes)) != 0) continue;
        ++g_fuzz.answered;
        return true;
    }
    return false;
}

// The seed, the journal's full path and the start line; the journal is
// created (never over an existing file) before the device is searched.
bool prepare(long_run* run, int* status) {
    const run_settings& settings = *run->settings;
    g_fuzz.seed = 0;
    g_fuzz.count = settings.count;
    g_fuzz.first = 0;
    g_fuzz.sent = 0;
    g_fuzz.refused = 0;
    g_fuzz.code_count = 0;
    g_fuzz.other_codes = 0;
    g_fuzz.checks = 0;
    g_fuzz.answered = 0;
    g_fuzz.stopped_answering = false;
    g_fuzz.probed = false;
    g_fuzz.echoes = false;
    g_fuzz.never_answered = false;
    g_fuzz.probing = false;
    g_fuzz.journal_failed = false;
    g_fuzz.batch_first = 0;
    g_fuzz.batch_frames = 0;
    for (int64_t& us : g_fuzz.phase_us) us = 0;
    g_fuzz.journal = INVALID_HANDLE_VALUE;
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
    if (length == 0) {
        const DWORD error = GetLastError();
        char text[QUORVEX_ERROR_TEXT_MAX];
        printf("Error: the fuzz journal %s: GetFullPathNameA failed: %s\n", out, quorvex_error_text(error, text, sizeof(text)));
        *status = EXIT_NO_RESOURCES;
        return false;
    }
    // Too long a path is no failure of the call: it gives the size it needs
    // and leaves the last error as it was.
    if (length >= sizeof(g_fuzz.path)) {
        printf("Error: the fuzz journal %s: its full path is %u characters long, more than the %d a path may have; "
               "give /out: a shorter one\n",
               out, static_cast<unsigned>(length - 1), static_cast<int>(sizeof(g_fuzz.path) - 1));
        *status = EXIT_NO_RESOURCES;
        return false;
    }
    char head[96], tail[MAX_PATH + 16];
    snprintf(head, sizeof(head), "Fuzzing the quorvex device with %llu frame(s) from seed %u",
             static_cast<unsigned long long>(g_fuzz.count), static_cast<unsigned>(g_fuzz.seed));
    snprintf(tail, sizeof(tail), "; journal %s", g_fuzz.path);
    long_run_start_line(head, "transfer", settings.timeout_ms, tail);
    // Never over an existing file: it may be the evidence of an earlier run.
    g_fuzz.journal = CreateFileA(g_fuzz.path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    if (g_fuzz.journal == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        char text[QUORVEX_ERROR_TEXT_MAX];
        // Most likely the last run's, kept because the driver stopped answering then.
        if (error == ERROR_FILE_EXISTS)
            printf("Error: the fuzz journal %s is already there, from an earlier run: replay it with testquorvex "
                   "/play:%s, or move it away, or choose another with /out:FILE; nothing was sent\n",
                   g_fuzz.path, g_fuzz.path);
        else
            printf("Error: the fuzz journal %s: CreateFileA failed: %s; nothing was sent\n", g_fuzz.path,
                   quorvex_error_text(error, text, sizeof(text)));
        *status = EXIT_NO_RESOURCES;
        return false;
    }
    run->own = &g_fuzz;
    return true;
}

// One batch: on disk, then sent frame by frame, then the check.
bool step(long_run* run) {
    quorvex_client* client = run->client;
    if (!g_fuzz.probed) {
        g_fuzz.probed = true;
        g_fuzz.probing = true;
        const bool answered = probe(client);
        if (!answered) g_fuzz.never_answered = true;
        g_fuzz.probing = false;
        return answered;
    }
    const uint64_t first = g_fuzz.first;
    if (first >= g_fuzz.count) return false;
    const uint64_t frames = g_fuzz.count - first < kBatch ? g_fuzz.count - first : kBatch;
    g_fuzz.batch_first = first;
    g_fuzz.batch_frames = frames;
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    if (!write_journal(first, frames)) {
        // Not safe to go on: a crash now would leave no evidence.
        g_fuzz.journal_failed = true;
        return false;
    }
    uint8_t frame[LAYOUT_FRAME_SIZE];
    const int phase = report_on() ? static_cast<int>(fuzz_frame(g_fuzz.seed, first, frame)) : 0;
    uint64_t sent = 0;
    for (uint64_t i = first; i < first + frames; ++i) {
        // Before each send: a stop that came while the journal was written
        // or a line printed lets no further frame out.
        if (quorvex_stop_requested()) break;
        fuzz_frame(g_fuzz.seed, i, frame);
        const int accepted =
            quorvex_send_frame(client, frame, fuzz_via_set(i) ? QUORVEX_SEND_QUIET | QUORVEX_SEND_SET : QUORVEX_SEND_QUIET);
        if (quorvex_stalled(client)) return false;
        ++g_fuzz.sent;
        ++sent;
        if (!accepted) count_refusal(client->last_error);
    }
    g_fuzz.first = first + frames;
    // Refusals are what fuzzing expects: only a check's own failures are a case's text.
    report_drop();
    // Stopped or not, the frames sent must have left the driver answering;
    // only then does the journal of them go.
    const bool answers = sent == 0 || driver_answers(client);
    if (report_on()) {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        g_fuzz.phase_us[phase] += (now.QuadPart - started.QuadPart) * 1000000 / frequency.QuadPart;
    }
    if (!answers) {
        g_fuzz.stopped_answering = true;
        return false;
    }
    return g_fuzz.first < g_fuzz.count;
}

void progress(const long_run*, int64_t) {
    printf("Fuzz: %llu frames so far, %llu refused; the driver answered all %llu checks\n",
           static_cast<unsigned long long>(g_fuzz.sent), static_cast<unsigned long long>(g_fuzz.refused),
           static_cast<unsigned long long>(g_fuzz.checks));
}

// Closes the journal and removes it, once: it holds no evidence.
void forget_journal() {
    const HANDLE journal = g_fuzz.journal;
    if (journal == INVALID_HANDLE_VALUE) return;
    g_fuzz.journal = INVALID_HANDLE_VALUE;
    CloseHandle(journal);
    if (DeleteFileA(g_fuzz.path)) return;
    const DWORD error = GetLastError();
    char text[QUORVEX_ERROR_TEXT_MAX];
    printf("Error: the fuzz journal %s: DeleteFileA failed: %s\n", g_fuzz.path, quorvex_error_text(error, text, sizeof(text)));
}

// A send past its deadline is a driver that stopped answering too.
bool stopped_answering_seen(quorvex_stop_cause stop) {
    return g_fuzz.stopped_answering || stop == quorvex_stop_cause::deadline;
}

void totals(const long_run*, quorvex_stop_cause stop) {
    // The watchdog or a closing console may end the run inside the probe.
    if (g_fuzz.never_answered || g_fuzz.probing) {
        printf("Fuzz: the driver did not answer a message before the first frame (seed %u); nothing was fuzzed\n",
               static_cast<unsigned>(g_fuzz.seed));
        return;
    }
    const bool stopped_answering = stopped_answering_seen(stop);
    const auto sent = static_cast<unsigned long long>(g_fuzz.sent);
    const auto refused = static_cast<unsigned long long>(g_fuzz.refused);
    if (stopped_answering)
        printf("Fuzz: the driver stopped answering after frame %llu (seed %u)\nThe frames sent since it last answered "
               "are in %s; testquorvex /play:%s sends them again\n",
               sent, static_cast<unsigned>(g_fuzz.seed), g_fuzz.path, g_fuzz.path);
    printf("Fuzz: %llu frames (seed %u): %llu accepted, %llu refused", sent, static_cast<unsigned>(g_fuzz.seed),
           sent - refused, refused);
    const int known = g_fuzz.code_count;
    for (int i = 0; i < known; ++i)
        printf("%s%d: %llu", i == 0 ? " (" : ", ", static_cast<int>(g_fuzz.codes[i].code),
               static_cast<unsigned long long>(g_fuzz.codes[i].count));
    if (g_fuzz.other_codes != 0) printf(", others: %llu", static_cast<unsigned long long>(g_fuzz.other_codes));
    if (known != 0) printf(")");
    if (stopped_answering)
        printf("; the driver answered %llu of %llu checks\n", static_cast<unsigned long long>(g_fuzz.answered),
               static_cast<unsigned long long>(g_fuzz.checks));
    else
        printf("; the driver answered all %llu checks\n", static_cast<unsigned long long>(g_fuzz.checks));
    // The codes stay numbers above, and are named once here.
    if (known == 0) return;
    printf("Fuzz: refused with");
    char text[QUORVEX_ERROR_TEXT_MAX];
    for (int i = 0; i < known; ++i)
        printf("%s %s", i == 0 ? "" : ",", quorvex_error_text(g_fuzz.codes[i].code, text, sizeof(text)));
    printf("\n");
}

// Decides the status, and with it whether the journal is evidence to keep.
int verdict(const long_run*, quorvex_stop_cause stop) {
    // Nothing of the journal was sent: no evidence to keep.
    if (g_fuzz.never_answered || g_fuzz.probing) {
        // The process may end with this thread's summary: the journal goes now.
        forget_journal();
        return EXIT_STALLED;
    }
    if (stopped_answering_seen(stop)) g_fuzz.stopped_answering = true;
    if (g_fuzz.journal_failed) return EXIT_NO_RESOURCES;
    if (g_fuzz.stopped_answering) return EXIT_STALLED;
    return long_run_stop_status(stop);
}

// The journal is closed, and removed unless it is evidence of a driver
// that stopped answering.
void release(long_run*) {
    if (g_fuzz.stopped_answering) {
        CloseHandle(g_fuzz.journal);
        return;
    }
    forget_journal();
}

// One case per phase and one for a failed check: a run of any length makes
// a handful of cases; the figures are the suite's properties.
void fuzz_report(const long_run*, quorvex_stop_cause stop) {
    const uint64_t sent = g_fuzz.sent, seed = g_fuzz.seed;
    report_property("seed", "%u", static_cast<unsigned>(seed));
    report_property("frames", "%llu", static_cast<unsigned long long>(sent));
    report_property("refused", "%llu", static_cast<unsigned long long>(g_fuzz.refused.load()));
    report_property("checks", "%llu", static_cast<unsigned long long>(g_fuzz.checks.load()));
    report_property("checks answered", "%llu", static_cast<unsigned long long>(g_fuzz.answered.load()));
    report_property("journal", "%s", g_fuzz.path);
    const bool unprobed = g_fuzz.never_answered || g_fuzz.probing;
    char why[3 * MAX_PATH + 160];
    if (unprobed) {
        snprintf(why, sizeof(why), "the driver did not answer a message before the first frame (seed %u)",
                 static_cast<unsigned>(seed));
        report_case("fuzz", "probe", 0, report_outcome::error, "no answer", why);
    }
    const uint64_t last = g_fuzz.batch_first + g_fuzz.batch_frames;
    if (!unprobed && g_fuzz.stopped_answering) {
        char name[64];
        snprintf(name, sizeof(name), "check after frame %llu", static_cast<unsigned long long>(sent));
        snprintf(why, sizeof(why),
                 "the driver stopped answering after frame %llu (seed %u); frames %llu to %llu are in %s; "
                 "testquorvex /play:%s sends them again",
                 static_cast<unsigned long long>(sent), static_cast<unsigned>(seed),
                 static_cast<unsigned long long>(g_fuzz.batch_first + 1), static_cast<unsigned long long>(last),
                 g_fuzz.path, g_fuzz.path);
        report_case("fuzz", name, 0, report_outcome::failure, "stopped answering", why);
    }
    static const char* const kPhases[] = {"header sweep", "field boundaries", "random"};
    const uint64_t headers = fuzz_header_frames(), fields = fuzz_field_frames();
    const uint64_t starts[] = {0, headers, headers + fields, UINT64_MAX};
    char words[64];
    const char* stopped = report_stop_words(stop, nullptr, 0, words, sizeof(words));
    for (int phase = 0; phase < 3; ++phase) {
        const uint64_t start = starts[phase];
        const uint64_t end = starts[phase + 1] < g_fuzz.count ? starts[phase + 1] : g_fuzz.count;
        const int64_t us = g_fuzz.phase_us[phase];
        const bool failed_here = g_fuzz.batch_frames != 0 && g_fuzz.batch_first >= start && g_fuzz.batch_first < end;
        if (start >= g_fuzz.count) {
            snprintf(why, sizeof(why), "no frames of this phase in %llu", static_cast<unsigned long long>(g_fuzz.count));
            report_case("fuzz", kPhases[phase], 0, report_outcome::skipped, nullptr, why);
        } else if (!unprobed && g_fuzz.stopped_answering && failed_here) {
            snprintf(why, sizeof(why), "the driver stopped answering after frame %llu (seed %u)",
                     static_cast<unsigned long long>(sent), static_cast<unsigned>(seed));
            report_case("fuzz", kPhases[phase], us, report_outcome::failure, "stopped answering", why);
        } else if (g_fuzz.journal_failed && failed_here) {
            report_case("fuzz", kPhases[phase], us, report_outcome::error, "journal",
                        "the fuzz journal could not be written; the batch was not sent");
        } else if (sent >= end) {
            report_case("fuzz", kPhases[phase], us, report_outcome::passed, nullptr, nullptr);
        } else if (sent > start) {
            report_case("fuzz", kPhases[phase], us, report_outcome::error, "stopped",
                        stopped != nullptr ? stopped : "the run ended inside this phase");
        } else {
            snprintf(why, sizeof(why), "not reached: the run ended after frame %llu", static_cast<unsigned long long>(sent));
            report_case("fuzz", kPhases[phase], 0, report_outcome::skipped, nullptr, why);
        }
    }
}

}  // namespace

const long_run_kind LONG_RUN_FUZZ = {prepare, nullptr, step, progress, nullptr, totals, verdict, release, fuzz_report};
