#include "app/trace.h"

#include <cstdio>
#include <cstring>

#include "client/error_text.h"
#include "layout/report_layout.h"

namespace {

struct run_trace {
    HANDLE file;
    const char* name;
    DWORD timeout_ms;
    bool ended;
    // The first call that failed, and its error: the trace stops there.
    const char* failed;
    DWORD error;
    // The run's thread writes the lines; the summary's thread, which may be
    // another, the last one.
    SRWLOCK lock;
};
run_trace g_trace = {INVALID_HANDLE_VALUE, nullptr, 0, false, nullptr, 0, SRWLOCK_INIT};

// Under the lock.
void put(const char* text, size_t length) {
    if (g_trace.ended || g_trace.failed != nullptr) return;
    DWORD written = 0;
    if (WriteFile(g_trace.file, text, static_cast<DWORD>(length), &written, nullptr) && written == length) return;
    g_trace.error = GetLastError();
    g_trace.failed = "WriteFile";
}

// "ok", "refused 87 (text)", or how long a cancelled one was under way.
size_t result(const quorvex_transfer* transfer, char* out, size_t size) {
    char text[QUORVEX_ERROR_TEXT_MAX];
    if (transfer->late)
        return static_cast<size_t>(snprintf(out, size, "not done within %u ms: cancelled, %s",
                                            static_cast<unsigned>(g_trace.timeout_ms),
                                            quorvex_error_text(transfer->error, text, sizeof(text))));
    if (transfer->error != 0)
        return static_cast<size_t>(
            snprintf(out, size, "refused %s", quorvex_error_text(transfer->error, text, sizeof(text))));
    return static_cast<size_t>(snprintf(out, size, "ok"));
}

void on_transfer(void*, const quorvex_transfer* transfer) {
    char line[LAYOUT_STEP_MAX + QUORVEX_ERROR_TEXT_MAX + 64];
    const char* op = transfer->op;
    size_t length = 0;
    if (std::strcmp(op, "Sleep") == 0) {
        length = static_cast<size_t>(snprintf(line, sizeof(line), "sleep %u\r\n", static_cast<unsigned>(transfer->length)));
    } else if (std::strcmp(op, "ReadFile") == 0) {
        if (transfer->bytes != nullptr && transfer->length > 0) {
            length = layout_describe_answer(transfer->bytes + 1, transfer->length - 1, line, sizeof(line) - 16);
            length += static_cast<size_t>(snprintf(line + length, sizeof(line) - length, " # answered\r\n"));
        } else {
            // No answer is no step: a replay reads none either.
            length = static_cast<size_t>(snprintf(line, sizeof(line), "# ReadFile: no answer, "));
            length += result(transfer, line + length, sizeof(line) - length - 2);
            length += static_cast<size_t>(snprintf(line + length, sizeof(line) - length, "\r\n"));
        }
    } else {
        if (transfer->bytes != nullptr)
            length = layout_describe_frame(transfer->bytes, std::strcmp(op, "HidD_SetOutputReport") == 0, line,
                                           LAYOUT_STEP_MAX);
        else
            length = static_cast<size_t>(snprintf(line, sizeof(line), "flush"));
        length += static_cast<size_t>(snprintf(line + length, sizeof(line) - length, " # "));
        length += result(transfer, line + length, sizeof(line) - length - 2);
        length += static_cast<size_t>(snprintf(line + length, sizeof(line) - length, "\r\n"));
    }
    AcquireSRWLockExclusive(&g_trace.lock);
    put(line, length);
    ReleaseSRWLockExclusive(&g_trace.lock);
}

const char* stop_words(quorvex_stop_cause stop) {
    switch (stop) {
        case quorvex_stop_cause::deadline: return "stopped: a transfer was not done within its deadline";
        case quorvex_stop_cause::ctrl_c: return "stopped by Ctrl+C";
        case quorvex_stop_cause::ctrl_break: return "stopped by Ctrl+Break";
        case quorvex_stop_cause::console_closing: return "stopped: the console is closing";
        case quorvex_stop_cause::none: break;
    }
    return "ended";
}

int say_failure(int status) {
    if (g_trace.failed == nullptr) return status;
    char text[QUORVEX_ERROR_TEXT_MAX];
    printf("Error: the trace %s: %s failed: %s\n", g_trace.name, g_trace.failed,
           quorvex_error_text(g_trace.error, text, sizeof(text)));
    return EXIT_NO_RESOURCES;
}

}  // namespace

bool trace_open(const run_settings& settings) {
    g_trace.file = INVALID_HANDLE_VALUE;
    if (settings.trace == nullptr) return true;
    g_trace.name = settings.trace;
    g_trace.timeout_ms = settings.timeout_ms;
    g_trace.ended = false;
    g_trace.failed = nullptr;
    InitializeSRWLock(&g_trace.lock);
    // Never over an existing file: /play:A /trace:A would lose the script.
    g_trace.file =
        CreateFileA(settings.trace, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_trace.file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        char text[QUORVEX_ERROR_TEXT_MAX];
        printf("Error: the trace %s: CreateFileA failed: %s; nothing was sent\n", settings.trace,
               quorvex_error_text(error, text, sizeof(text)));
        return false;
    }
    char line[MAX_PATH + 64];
    const int length = snprintf(line, sizeof(line), "# testquorvex trace, each transfer within %u ms\r\n",
                                static_cast<unsigned>(settings.timeout_ms));
    put(line, static_cast<size_t>(length));
    return true;
}

void trace_listen(quorvex_client* client) {
    if (g_trace.file == INVALID_HANDLE_VALUE) return;
    client->on_transfer = on_transfer;
    client->listener = &g_trace;
}

int trace_end(const quorvex_client* client, quorvex_stop_cause stop, int status) {
    if (g_trace.file == INVALID_HANDLE_VALUE) return status;
    AcquireSRWLockExclusive(&g_trace.lock);
    if (g_trace.ended) {
        ReleaseSRWLockExclusive(&g_trace.lock);
        return status;
    }
    char line[128];
    const char* stalled = client != nullptr ? client->stalled.load() : nullptr;
    const int length =
        stalled != nullptr
            ? snprintf(line, sizeof(line), "# %s (%s), status %d\r\n", stop_words(stop), stalled, status)
            : snprintf(line, sizeof(line), "# %s, status %d\r\n", stop_words(stop), status);
    put(line, static_cast<size_t>(length));
    g_trace.ended = true;
    if (g_trace.failed == nullptr && !FlushFileBuffers(g_trace.file)) {
        g_trace.error = GetLastError();
        g_trace.failed = "FlushFileBuffers";
    }
    status = say_failure(status);
    // Said once: the close after it has its own say.
    g_trace.failed = nullptr;
    ReleaseSRWLockExclusive(&g_trace.lock);
    return status;
}

int trace_close(int status) {
    if (g_trace.file == INVALID_HANDLE_VALUE) return status;
    status = trace_end(nullptr, quorvex_stop_cause::none, status);
    const HANDLE file = g_trace.file;
    g_trace.file = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) {
        g_trace.error = GetLastError();
        g_trace.failed = "CloseHandle";
    }
    return say_failure(status);
}
