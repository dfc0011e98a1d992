#include "app/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/testquorvex.h"
#include "client/error_text.h"
#include "client/quorvex_client.h"

namespace {

// Enough for any /all, /ping, /flood or /fuzz and a long /play; past it the
// cases are counted, not kept: a report of a million cases helps nobody.
constexpr size_t kCasesKept = 1000;
constexpr size_t kTextRoom = 256 * 1024;
constexpr size_t kPropertiesKept = 32;
constexpr size_t kNotesRoom = 4096;
constexpr uint32_t kNoText = 0xFFFFFFFFu;

struct case_record {
    const char* classname;
    const char* type;
    uint32_t name;  // offsets into the text block
    uint32_t message;
    uint32_t notes;
    int64_t time_us;
    report_outcome outcome;
};

struct property_record {
    const char* name;
    uint32_t value;
};

struct report_state {
    bool on;
    bool sealed;  // written: nothing more is taken
    HANDLE temp;
    const char* file;
    const char* suite;
    char temp_path[MAX_PATH + 8];
    char timestamp[48];
    char host[64];
    int64_t started;
    int64_t per_second;
    case_record cases[kCasesKept];
    size_t count;
    uint64_t not_kept;
    uint64_t not_kept_failed;
    property_record properties[kPropertiesKept];
    size_t property_count;
    char text[kTextRoom];
    size_t used;
    char notes[kNotesRoom];
    size_t notes_used;
    bool open;
    const char* open_classname;
    char open_name[384];
    int64_t open_started;
    SRWLOCK lock;
    quorvex_transfer_listener chained;
    void* chained_context;
};
report_state g_report;

int64_t now_ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t since_us(int64_t started) { return (now_ticks() - started) * 1000000 / g_report.per_second; }

struct locked {
    locked() { AcquireSRWLockExclusive(&g_report.lock); }
    ~locked() { ReleaseSRWLockExclusive(&g_report.lock); }
    locked(const locked&) = delete;
    locked& operator=(const locked&) = delete;
};

uint32_t keep(const char* text) {
    if (text == nullptr) return kNoText;
    const size_t length = std::strlen(text);
    if (g_report.used + length + 1 > kTextRoom) return kNoText;
    std::memcpy(g_report.text + g_report.used, text, length + 1);
    const auto at = static_cast<uint32_t>(g_report.used);
    g_report.used += length + 1;
    return at;
}

const char* text_at(uint32_t at) { return at == kNoText ? nullptr : g_report.text + at; }

void add_locked(const char* classname, uint32_t name, int64_t time_us, report_outcome outcome, const char* type,
                const char* message) {
    // Every case takes the notes before it; a failure or an error keeps them.
    const bool failed = outcome == report_outcome::failure || outcome == report_outcome::error;
    const uint32_t notes = failed && g_report.notes_used != 0 ? keep(g_report.notes) : kNoText;
    g_report.notes_used = 0;
    g_report.notes[0] = '\0';
    if (g_report.count == kCasesKept || name == kNoText) {
        ++g_report.not_kept;
        if (failed) ++g_report.not_kept_failed;
        return;
    }
    g_report.cases[g_report.count++] = {classname, type, name, keep(message), notes, time_us, outcome};
}

void end_open_locked(report_outcome outcome, const char* type, const char* message) {
    g_report.open = false;
    add_locked(g_report.open_classname, g_report.count < kCasesKept ? keep(g_report.open_name) : kNoText,
               since_us(g_report.open_started), outcome, type, message);
}

// ---- writing -------------------------------------------------------------------

struct writer {
    char block[64 * 1024];
    size_t length;
    const char* failed_call;  // the first call that failed
    DWORD error;
};
writer g_out;

void flush_block() {
    if (g_out.length == 0 || g_out.failed_call != nullptr) return;
    DWORD written = 0;
    if (!WriteFile(g_report.temp, g_out.block, static_cast<DWORD>(g_out.length), &written, nullptr) ||
        written != g_out.length) {
        g_out.error = GetLastError();
        g_out.failed_call = "WriteFile";
    }
    g_out.length = 0;
}

void put(const char* text, size_t length) {
    while (length > 0) {
        if (g_out.length == sizeof(g_out.block)) flush_block();
        size_t room = sizeof(g_out.block) - g_out.length;
        if (room > length) room = length;
        std::memcpy(g_out.block + g_out.length, text, room);
        g_out.length += room;
        text += room;
        length -= room;
    }
}

void put(const char* text) { put(text, std::strlen(text)); }

void put_format(QUORVEX_FORMAT_STRING const char* format, ...) QUORVEX_PRINTF_LIKE(1, 2);
void put_format(const char* format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    if (length > 0) put(line, static_cast<size_t>(length) < sizeof(line) ? static_cast<size_t>(length) : sizeof(line) - 1);
}

// XML 1.0 has no control characters, even escaped, and the text may hold
// the device's own bytes: anything outside printable ASCII is written as
// \xNN, as scripts write it. In an attribute a line end stays one too.
void put_escaped(const char* text, bool attribute) {
    if (text == nullptr) return;
    for (const char* at = text; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        switch (byte) {
            case '&': put("&amp;"); continue;
            case '<': put("&lt;"); continue;
            case '>': put("&gt;"); continue;
            case '"': put("&quot;"); continue;
            default: break;
        }
        if (byte == '\n' || byte == '\t') {
            if (attribute) put_format("&#%u;", static_cast<unsigned>(byte));
            else put(at, 1);
            continue;
        }
        if (byte < 0x20 || byte >= 0x7F) {
            put_format("\\x%02x", static_cast<unsigned>(byte));
            continue;
        }
        put(at, 1);
    }
}

void put_seconds(int64_t us) {
    if (us < 0) us = 0;
    put_format("%lld.%06lld", static_cast<long long>(us / 1000000), static_cast<long long>(us % 1000000));
}

// GitLab keeps only the first of cases with one name: a repeated name gets
// its place in the file after it.
bool name_taken_before(size_t index) {
    const char* name = text_at(g_report.cases[index].name);
    for (size_t i = 0; i < index; ++i)
        if (std::strcmp(text_at(g_report.cases[i].name), name) == 0) return true;
    return false;
}

void put_case(size_t index) {
    const case_record& record = g_report.cases[index];
    put("    <testcase classname=\"");
    put_escaped(record.classname, true);
    put("\" name=\"");
    put_escaped(text_at(record.name), true);
    if (name_taken_before(index)) put_format(" #%u", static_cast<unsigned>(index + 1));
    put("\" time=\"");
    put_seconds(record.time_us);
    if (record.outcome == report_outcome::passed) {
        put("\"/>\n");
        return;
    }
    if (record.outcome == report_outcome::skipped) {
        put("\">\n      <skipped message=\"");
        put_escaped(text_at(record.message), true);
        put("\"/>\n    </testcase>\n");
        return;
    }
    const char* element = record.outcome == report_outcome::failure ? "failure" : "error";
    put_format("\">\n      <%s type=\"", element);
    put_escaped(record.type != nullptr ? record.type : element, true);
    put("\" message=\"");
    put_escaped(text_at(record.message), true);
    put("\">");
    put_escaped(text_at(record.notes), false);
    put_format("</%s>\n    </testcase>\n", element);
}

void put_report(const char* stop_words, int status) {
    uint64_t failures = 0, errors = 0, skipped = 0;
    for (size_t i = 0; i < g_report.count; ++i) {
        const report_outcome outcome = g_report.cases[i].outcome;
        failures += outcome == report_outcome::failure ? 1 : 0;
        errors += outcome == report_outcome::error ? 1 : 0;
        skipped += outcome == report_outcome::skipped ? 1 : 0;
    }
    const bool summed = g_report.not_kept != 0;
    failures += summed && g_report.not_kept_failed != 0 ? 1 : 0;
    put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n  <testsuite name=\"");
    put_escaped(g_report.suite, true);
    put("\" package=\"testquorvex\" id=\"0\" hostname=\"");
    put_escaped(g_report.host, true);
    put_format("\" timestamp=\"%s\" tests=\"%llu\" failures=\"%llu\" errors=\"%llu\" skipped=\"%llu\" time=\"",
               g_report.timestamp, static_cast<unsigned long long>(g_report.count + (summed ? 1 : 0)),
               static_cast<unsigned long long>(failures), static_cast<unsigned long long>(errors),
               static_cast<unsigned long long>(skipped));
    put_seconds(since_us(g_report.started));
    put_format("\">\n    <properties>\n      <property name=\"exit status\" value=\"%d\"/>\n", status);
    for (size_t i = 0; i < g_report.property_count; ++i) {
        put("      <property name=\"");
        put_escaped(g_report.properties[i].name, true);
        put("\" value=\"");
        put_escaped(text_at(g_report.properties[i].value), true);
        put("\"/>\n");
    }
    put("    </properties>\n");
    for (size_t i = 0; i < g_report.count; ++i) put_case(i);
    if (summed) {
        put_format("    <testcase classname=\"testquorvex\" name=\"%llu more test cases\" time=\"0\"",
                   static_cast<unsigned long long>(g_report.not_kept));
        if (g_report.not_kept_failed == 0)
            put("/>\n");
        else
            put_format(">\n      <failure type=\"not kept\" message=\"%llu of them failed; the run's output names "
                       "them\"/>\n    </testcase>\n",
                       static_cast<unsigned long long>(g_report.not_kept_failed));
    }
    put("    <system-out>");
    put_escaped(GetCommandLineA(), false);
    put_format("\nexit status %d\n</system-out>\n    <system-err>", status);
    if (stop_words != nullptr) {
        put_escaped(stop_words, false);
        put("\n");
    }
    put("</system-err>\n  </testsuite>\n</testsuites>\n");
    flush_block();
}

bool report_failed(const char* call, DWORD error) {
    char text[QUORVEX_ERROR_TEXT_MAX];
    printf("Error: the report %s: %s failed: %s\n", g_report.file, call, quorvex_error_text(error, text, sizeof(text)));
    return false;
}

void on_transfer(void*, const quorvex_transfer* transfer) {
    if (transfer->error != 0) report_note("failed %s %d", transfer->op, static_cast<int>(transfer->error));
    if (g_report.chained != nullptr) g_report.chained(g_report.chained_context, transfer);
}

}  // namespace

bool report_open(const char* file, const char* suite) {
    g_report.on = false;
    g_report.sealed = false;
    g_report.temp = INVALID_HANDLE_VALUE;
    if (file == nullptr) return true;
    InitializeSRWLock(&g_report.lock);
    g_report.file = file;
    g_report.suite = suite;
    g_report.count = 0;
    g_report.not_kept = 0;
    g_report.not_kept_failed = 0;
    g_report.property_count = 0;
    g_report.used = 0;
    g_report.notes_used = 0;
    g_report.notes[0] = '\0';
    g_report.open = false;
    g_report.chained = nullptr;
    g_out.length = 0;
    g_out.failed_call = nullptr;
    const int length = snprintf(g_report.temp_path, sizeof(g_report.temp_path), "%s.tmp", file);
    if (length < 0 || static_cast<size_t>(length) > MAX_PATH - 1) {
        printf("Error: the report %s: its name is too long for the temporary file beside it; nothing was sent\n", file);
        return false;
    }
    // Made before anything is sent: a run that cannot leave its report does not start.
    g_report.temp = CreateFileA(g_report.temp_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (g_report.temp == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        char text[QUORVEX_ERROR_TEXT_MAX];
        printf("Error: the report %s: CreateFileA failed for %s: %s; nothing was sent\n", file, g_report.temp_path,
               quorvex_error_text(error, text, sizeof(text)));
        return false;
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    snprintf(g_report.timestamp, sizeof(g_report.timestamp), "%04u-%02u-%02uT%02u:%02u:%02u",
             static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth), static_cast<unsigned>(now.wDay),
             static_cast<unsigned>(now.wHour), static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond));
    DWORD size = sizeof(g_report.host);
    if (!GetComputerNameA(g_report.host, &size) || size == 0) snprintf(g_report.host, sizeof(g_report.host), "localhost");
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_report.per_second = frequency.QuadPart;
    g_report.started = now_ticks();
    g_report.on = true;
    return true;
}

bool report_on() { return g_report.on; }

void report_listen(quorvex_client* client) {
    if (!g_report.on) return;
    g_report.chained = client->on_transfer;
    g_report.chained_context = client->listener;
    client->on_transfer = on_transfer;
    client->listener = nullptr;
}

void report_property(const char* name, const char* format, ...) {
    if (!g_report.on) return;
    char value[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(value, sizeof(value), format, arguments);
    va_end(arguments);
    const locked hold;
    if (g_report.sealed || g_report.property_count == kPropertiesKept) return;
    const uint32_t at = keep(value);
    if (at != kNoText) g_report.properties[g_report.property_count++] = {name, at};
}

void report_note(const char* format, ...) {
    if (!g_report.on) return;
    const locked hold;
    if (g_report.sealed) return;
    // Kept whole lines only; the first ones say most.
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    if (length < 0 || g_report.notes_used + static_cast<size_t>(length) + 2 > kNotesRoom) return;
    std::memcpy(g_report.notes + g_report.notes_used, line, static_cast<size_t>(length));
    g_report.notes_used += static_cast<size_t>(length);
    g_report.notes[g_report.notes_used++] = '\n';
    g_report.notes[g_report.notes_used] = '\0';
}

void report_case(const char* classname, const char* name, int64_t time_us, report_outcome outcome, const char* type,
                 const char* message) {
    if (!g_report.on) return;
    const locked hold;
    if (g_report.sealed) return;
    add_locked(classname, g_report.count < kCasesKept ? keep(name) : kNoText, time_us, outcome, type, message);
}

void report_begin(const char* classname, const char* name) {
    if (!g_report.on) return;
    const locked hold;
    if (g_report.sealed) return;
    g_report.notes_used = 0;
    g_report.notes[0] = '\0';
    g_report.open = true;
    g_report.open_classname = classname;
    snprintf(g_report.open_name, sizeof(g_report.open_name), "%s", name);
    g_report.open_started = now_ticks();
}

void report_end(report_outcome outcome, const char* type, const char* message) {
    if (!g_report.on) return;
    const locked hold;
    if (g_report.sealed || !g_report.open) return;
    end_open_locked(outcome, type, message);
}

void report_drop() {
    if (!g_report.on) return;
    const locked hold;
    g_report.open = false;
    g_report.notes_used = 0;
    g_report.notes[0] = '\0';
}

bool report_case_open() { return g_report.on && g_report.open; }

const char* report_stop_words(quorvex_stop_cause stop, const char* stalled, uint32_t timeout_ms, char* out,
                              size_t size) {
    switch (stop) {
        case quorvex_stop_cause::none: return nullptr;
        case quorvex_stop_cause::ctrl_c: snprintf(out, size, "Stopped by Ctrl+C"); break;
        case quorvex_stop_cause::ctrl_break: snprintf(out, size, "Stopped by Ctrl+Break"); break;
        case quorvex_stop_cause::console_closing: snprintf(out, size, "Stopped: the console is closing"); break;
        case quorvex_stop_cause::deadline:
            snprintf(out, size, "Stopped: the driver did not complete %s within %u ms",
                     stalled != nullptr ? stalled : "a transfer", static_cast<unsigned>(timeout_ms));
            break;
    }
    return out;
}

int report_finish(const char* stop_words, int status) {
    if (!g_report.on) return status;
    {
        const locked hold;
        if (g_report.open) {
            end_open_locked(report_outcome::error, stop_words != nullptr ? "stopped" : "ended",
                            stop_words != nullptr ? stop_words : "the run ended inside this case");
        }
        g_report.sealed = true;
        put_report(stop_words, status);
    }
    g_report.on = false;
    const HANDLE temp = g_report.temp;
    g_report.temp = INVALID_HANDLE_VALUE;
    bool written = g_out.failed_call == nullptr || report_failed(g_out.failed_call, g_out.error);
    if (written && !FlushFileBuffers(temp)) written = report_failed("FlushFileBuffers", GetLastError());
    CloseHandle(temp);
    if (written && !MoveFileExA(g_report.temp_path, g_report.file, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        written = report_failed("MoveFileExA", GetLastError());
    if (written) return status;
    // No half report is left behind, and a CI job without its report must not pass.
    DeleteFileA(g_report.temp_path);
    return EXIT_NO_RESOURCES;
}
