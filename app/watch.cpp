// /watch: what the system receives from the device, printed as the script
// that sends it, with sleep steps for the time between arrivals, so that
// /play replays it with the same timing. Every other line is a comment.

#include <cstdio>
#include <cstring>

#include "app/long_run.h"
#include "client/inputs.h"
#include "client/rebuild.h"
#include "layout/report_layout.h"

namespace {

// Arrivals wait here for the run's thread, which alone prints.
constexpr uint32_t kQueued = 1024;

struct seen_report {
    uint8_t bytes[QUORVEX_INPUT_REPORT_MAX];
    DWORD length;
    quorvex_input_kind kind;
    bool rebuilt;
    int64_t ticks;
};

struct watch_state {
    SRWLOCK lock;
    quorvex_inputs inputs;
    seen_report queue[kQueued];
    uint64_t head, tail;
    uint64_t dropped;  // arrivals the queue had no room for
    uint64_t printed;
    uint32_t count;  // 0: until stopped
    int64_t per_second;
    int64_t last;  // the previous arrival's ticks; 0 before the first
    bool said_rebuilt[QUORVEX_INPUT_KINDS];
    quorvex_rebuilt_state rebuilt;
    bool active;
};
watch_state g_watch;

void queue(const seen_report& report) {
    watch_state& w = g_watch;
    AcquireSRWLockExclusive(&w.lock);
    if (w.active) {
        if (w.tail - w.head < kQueued) w.queue[w.tail++ % kQueued] = report;
        else ++w.dropped;
    }
    ReleaseSRWLockExclusive(&w.lock);
}

void take_report(void*, quorvex_input_kind kind, const uint8_t* bytes, DWORD length, int64_t ticks) {
    seen_report report = {};
    report.length = length < QUORVEX_INPUT_REPORT_MAX ? length : QUORVEX_INPUT_REPORT_MAX;
    std::memcpy(report.bytes, bytes, report.length);
    report.kind = kind;
    report.ticks = ticks;
    queue(report);
}

void take_event(void*, const quorvex_input_event* event, int64_t ticks) {
    watch_state& w = g_watch;
    seen_report report = {};
    report.kind = event->kind;
    report.rebuilt = true;
    report.ticks = ticks;
    AcquireSRWLockExclusive(&w.lock);
    bool keep = true;
    if (event->kind == QUORVEX_INPUT_MOUSE) {
        quorvex_apply_mouse(&w.rebuilt, w.inputs.collections[QUORVEX_INPUT_MOUSE], event->mouse, report.bytes);
        report.length = 7;
    } else {
        int usage = 0;
        bool down = false;
        keep = quorvex_apply_key(&w.rebuilt, event->keyboard, &usage, &down);
        quorvex_report_of_keys(w.rebuilt.keys, report.bytes);
        report.length = 9;
    }
    ReleaseSRWLockExclusive(&w.lock);
    if (keep) queue(report);
}

bool prepare(long_run* run, int*) {
    watch_state& w = g_watch;
    run->own = &w;
    InitializeSRWLock(&w.lock);
    w.head = w.tail = w.dropped = w.printed = 0;
    w.count = run->settings->count;
    w.last = 0;
    std::memset(w.said_rebuilt, 0, sizeof(w.said_rebuilt));
    std::memset(&w.rebuilt, 0, sizeof(w.rebuilt));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    w.per_second = frequency.QuadPart;
    w.active = false;
    return true;
}

const char* how_read(input_path path) {
    switch (path) {
        case input_path::missing: return "not on the device";
        case input_path::read: return "read";
        case input_path::held: return "Raw Input: the system holds it";
        case input_path::refused: return "does not open for reading";
    }
    return "";
}

bool begin(long_run* run, int* status) {
    watch_state& w = g_watch;
    if (w.count != 0) printf("# Watching the quorvex device's input: %u report(s)\n", static_cast<unsigned>(w.count));
    else printf("# Watching the quorvex device's input until Ctrl+C\n");
    w.active = true;
    if (!quorvex_inputs_start(&w.inputs, take_report, take_event, nullptr, run->settings->timeout_ms) ||
        !quorvex_inputs_read_messages(&w.inputs, run->client->message)) {
        quorvex_inputs_stop(&w.inputs, run->settings->timeout_ms);
        w.active = false;
        *status = EXIT_NO_RESOURCES;
        return false;
    }
    for (int i = 0; i < QUORVEX_INPUT_KINDS; ++i)
        printf("# %s: %s\n", QUORVEX_INPUTS[i].name, how_read(w.inputs.collections[i].path));
    return true;
}

void print_report(const seen_report& report) {
    watch_state& w = g_watch;
    if (w.last != 0) {
        const int64_t ms = (report.ticks - w.last) * 1000 / w.per_second;
        if (ms > 0) printf("sleep %lld\n", static_cast<long long>(ms));
    }
    w.last = report.ticks;
    char step[LAYOUT_STEP_MAX];
    if (report.kind == QUORVEX_INPUT_MESSAGE) {
        layout_describe_answer(report.bytes + 1, report.length > 1 ? report.length - 1 : 0, step, sizeof(step));
        printf("%s\n", step);
        return;
    }
    if (report.rebuilt && !w.said_rebuilt[report.kind]) {
        w.said_rebuilt[report.kind] = true;
        printf("# %s: rebuilt from the system's events (key and button state, position over the declared range)\n",
               QUORVEX_INPUTS[report.kind].name);
    }
    const layout_kind* kind = layout_kind_of(report.bytes[0]);
    layout_describe_inner(report.bytes, report.length, kind != nullptr && kind->set_output, step, sizeof(step));
    printf("%s\n", step);
}

bool step(long_run* run) {
    watch_state& w = g_watch;
    for (int waited = 0; waited < 100; ++waited) {
        AcquireSRWLockExclusive(&w.lock);
        const bool any = w.head < w.tail;
        seen_report report = {};
        if (any) report = w.queue[w.head++ % kQueued];
        ReleaseSRWLockExclusive(&w.lock);
        if (!any) {
            if (quorvex_stopped(run->client)) return true;
            Sleep(1);
            continue;
        }
        print_report(report);
        ++w.printed;
        return w.count == 0 || w.printed < w.count;
    }
    return true;
}

void before_stop(const long_run* run) {
    const quorvex_stop_cause stop = quorvex_stop_seen(run->client);
    // The stop's own line, a comment like every line that is not a step.
    if (stop == quorvex_stop_cause::ctrl_c || stop == quorvex_stop_cause::ctrl_break) printf("# ");
}

void totals(const long_run*, quorvex_stop_cause) {
    watch_state& w = g_watch;
    AcquireSRWLockExclusive(&w.lock);
    printf("# Watch: %llu report(s)", static_cast<unsigned long long>(w.printed));
    if (w.dropped != 0) printf(", %llu more not printed (the tool fell behind)", static_cast<unsigned long long>(w.dropped));
    printf("\n");
    ReleaseSRWLockExclusive(&w.lock);
}

int verdict(const long_run*, quorvex_stop_cause stop) { return long_run_stop_status(stop); }

}  // namespace

void watch_end(long_run* run) {
    watch_state& w = g_watch;
    if (!w.active) return;
    quorvex_inputs_stop(&w.inputs, run->settings->timeout_ms);
    AcquireSRWLockExclusive(&w.lock);
    w.active = false;
    ReleaseSRWLockExclusive(&w.lock);
}

const long_run_kind LONG_RUN_WATCH = {prepare, begin, step, nullptr, before_stop, totals, verdict, nullptr, nullptr};
