// /verify: what the driver accepted against what its input collections
// delivered. Every accepted send of an input kind is expected on its
// collection; the readers' arrivals are matched against the oldest expected
// report of their kind. Only the run's own thread prints: the readers record.

#include "app/verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/long_run.h"
#include "app/report.h"
#include "client/error_text.h"
#include "client/inputs.h"
#include "client/rebuild.h"
#include "layout/report_layout.h"

namespace {

// What may be in flight at once: fewer than the 512 reports a handle keeps,
// so that a reader falling behind can never lose one to its own buffer.
constexpr uint32_t kInFlight = 256;
// Arrivals that came before their send was seen to complete.
constexpr uint32_t kEarly = 8;
// Unasked reports kept to be printed with their bytes; the rest are counted.
constexpr uint32_t kUnaskedKept = 16;

enum class fate : uint8_t { pending, arrived, changed, missed };

struct expected {
    uint8_t bytes[QUORVEX_INPUT_REPORT_MAX];
    uint8_t got[QUORVEX_INPUT_REPORT_MAX];
    DWORD length;
    DWORD got_length;
    quorvex_input_kind kind;
    fate result;
    bool via_set;
    bool by_events;  // mouse and keyboard held by the system: compared as the events they make
    uint8_t keys[32];  // keyboard by events: the keys down after it, by usage
    const char* source;  // a script's name, or the option whose reports these are
    uint32_t number;     // its line, or the report's count
    bool line;
    int64_t sent;  // performance-counter ticks when the send completed
};

struct arrival {
    uint8_t bytes[QUORVEX_INPUT_REPORT_MAX];
    DWORD length;
    quorvex_input_kind kind;
    int64_t ticks;
    bool rebuilt;  // from mouse events: positions within one unit
};

struct verify_state {
    SRWLOCK lock;
    quorvex_inputs inputs;
    // Whoever listened before (a trace, a report) hears every transfer too.
    quorvex_transfer_listener chained;
    void* chained_context;
    int64_t per_second;
    int64_t timeout_ticks;
    // The ring of reports in flight: [head, tail), oldest first.
    expected ring[kInFlight];
    uint64_t head;
    uint64_t tail;
    arrival early[QUORVEX_INPUT_KINDS][kEarly];
    uint32_t early_count[QUORVEX_INPUT_KINDS];
    // The last report that arrived as sent, per kind: a second copy of it is unasked.
    uint8_t last[QUORVEX_INPUT_KINDS][QUORVEX_INPUT_REPORT_MAX];
    DWORD last_length[QUORVEX_INPUT_KINDS];
    arrival unasked_list[kUnaskedKept];
    uint32_t unasked_kept;
    // Keyboard by events: the keys the sent reports hold down, and those the
    // system's events say are down. Mouse: the buttons its events left down.
    uint8_t sent_keys[32];
    quorvex_rebuilt_state seen;
    uint32_t keys_unmatched;  // key events with no keyboard report in flight
    bool contract_said[QUORVEX_INPUT_KINDS];
    bool contract_broken[QUORVEX_INPUT_KINDS];
    // What the next sends are.
    const char* source;
    uint32_t number;
    bool line;
    // The counts the summary gives.
    uint64_t accepted;
    uint64_t arrived;
    uint64_t missed;
    uint64_t changed;
    uint64_t unasked;
    uint64_t malformed;
    // Per kind, for the report's case of each: what was decided, and the
    // first miss's line.
    uint64_t kind_sent[QUORVEX_INPUT_KINDS];
    uint64_t kind_missed[QUORVEX_INPUT_KINDS];
    uint64_t kind_changed[QUORVEX_INPUT_KINDS];
    uint64_t kind_unasked[QUORVEX_INPUT_KINDS];
    char kind_first_miss[QUORVEX_INPUT_KINDS][2 * LAYOUT_STEP_MAX + 64];
    // Arrival times in microseconds, in a block that grows by doubling.
    uint32_t* times;
    uint64_t time_count;
    uint64_t time_room;
    bool active;
    const quorvex_client* client;  // whose stop ends a wait for room in flight
};
verify_state g_verify;

int64_t now_ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

struct locked {
    locked() { AcquireSRWLockExclusive(&g_verify.lock); }
    ~locked() { ReleaseSRWLockExclusive(&g_verify.lock); }
    locked(const locked&) = delete;
    locked& operator=(const locked&) = delete;
};

bool same(const uint8_t* a, DWORD a_length, const uint8_t* b, DWORD b_length) {
    return a_length == b_length && std::memcmp(a, b, a_length) == 0;
}

int16_t distance(const uint8_t* a, const uint8_t* b) {
    return static_cast<int16_t>((a[0] | a[1] << 8) - (b[0] | b[1] << 8));
}

// A mouse report rebuilt from events: buttons and wheel exact, the position
// within one unit, since the events carry it normalized.
bool same_as_rebuilt(const expected& e, const arrival& a) {
    if (!a.rebuilt) return same(e.bytes, e.length, a.bytes, a.length);
    if (e.length != a.length || e.bytes[0] != a.bytes[0] || e.bytes[1] != a.bytes[1] || e.bytes[6] != a.bytes[6])
        return false;
    const int dx = distance(e.bytes + 2, a.bytes + 2), dy = distance(e.bytes + 4, a.bytes + 4);
    return dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1;
}

void keep_time(int64_t ticks) {
    verify_state& v = g_verify;
    if (ticks < 0) ticks = 0;
    const int64_t us = ticks * 1000000 / v.per_second;
    if (v.time_count == v.time_room) {
        // No room, no time kept: the report still counts.
        const uint64_t room = v.time_room == 0 ? 1024 : v.time_room * 2;
        auto* grown = static_cast<uint32_t*>(host_malloc(static_cast<size_t>(room) * sizeof(uint32_t)));
        if (grown == nullptr) return;
        if (v.times != nullptr) std::memcpy(grown, v.times, static_cast<size_t>(v.time_count) * sizeof(uint32_t));
        host_free(v.times);
        v.times = grown;
        v.time_room = room;
    }
    v.times[v.time_count++] = us > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(us);
}

void arrived_as_sent(expected* e, int64_t ticks) {
    verify_state& v = g_verify;
    e->result = fate::arrived;
    ++v.arrived;
    keep_time(ticks - e->sent);
    std::memcpy(v.last[e->kind], e->bytes, e->length);
    v.last_length[e->kind] = e->length;
}

void keep_unasked(const arrival& a) {
    verify_state& v = g_verify;
    ++v.unasked;
    ++v.kind_unasked[a.kind];
    if (v.unasked_kept < kUnaskedKept) v.unasked_list[v.unasked_kept++] = a;
}

// One arrival against the reports of its kind still in flight, under the lock.
// Reports of one collection arrive in the order sent, so one that matches a
// later report means those before it were lost.
bool match(const arrival& a) {
    verify_state& v = g_verify;
    expected* first = nullptr;
    for (uint64_t i = v.head; i < v.tail; ++i) {
        expected* e = &v.ring[i % kInFlight];
        if (e->kind != a.kind || e->result != fate::pending) continue;
        if (first == nullptr) first = e;
        if (!same_as_rebuilt(*e, a)) continue;
        for (uint64_t j = v.head; j < i; ++j) {
            expected* lost = &v.ring[j % kInFlight];
            if (lost->kind != a.kind || lost->result != fate::pending) continue;
            // Movement events may be coalesced: a report that only moved is not lost.
            if (a.rebuilt && lost->bytes[1] == e->bytes[1] && lost->bytes[6] == 0) {
                lost->result = fate::arrived;
                ++v.arrived;
                continue;
            }
            lost->result = fate::missed;
            ++v.missed;
        }
        arrived_as_sent(e, a.ticks);
        return true;
    }
    if (first == nullptr) return false;
    if (!a.rebuilt && same(v.last[a.kind], v.last_length[a.kind], a.bytes, a.length)) {
        keep_unasked(a);  // a second copy of the last report
        return true;
    }
    first->result = fate::changed;
    std::memcpy(first->got, a.bytes, a.length);
    first->got_length = a.length;
    ++v.changed;
    return true;
}

// An arrival before its send was seen to complete waits for it; the oldest
// waiting one makes room.
void hold_early(const arrival& a) {
    verify_state& v = g_verify;
    uint32_t& count = v.early_count[a.kind];
    if (count == kEarly) {
        keep_unasked(v.early[a.kind][0]);
        std::memmove(&v.early[a.kind][0], &v.early[a.kind][1], (kEarly - 1) * sizeof(arrival));
        --count;
    }
    v.early[a.kind][count++] = a;
}

void take_arrival(void*, quorvex_input_kind kind, const uint8_t* bytes, DWORD length, int64_t ticks) {
    verify_state& v = g_verify;
    locked hold;
    if (!v.active) return;
    arrival a = {};
    a.length = length < QUORVEX_INPUT_REPORT_MAX ? length : QUORVEX_INPUT_REPORT_MAX;
    std::memcpy(a.bytes, bytes, a.length);
    a.kind = kind;
    a.ticks = ticks;
    if (v.contract_broken[kind]) return;
    if (a.length == 0 || a.bytes[0] != QUORVEX_INPUTS[kind].report_id) {
        v.contract_broken[kind] = true;  // its reports all count as not delivered
        return;
    }
    if (!match(a)) hold_early(a);
}

// Key events against the oldest keyboard report in flight: it arrived once
// the keys down are its keys; an event that leads away from them changed it.
void take_key(const RAWKEYBOARD& key, int64_t ticks) {
    verify_state& v = g_verify;
    int usage = 0;
    bool down = false;
    if (!quorvex_apply_key(&v.seen, key, &usage, &down)) return;
    expected* first = nullptr;
    for (uint64_t i = v.head; i < v.tail && first == nullptr; ++i) {
        expected* e = &v.ring[i % kInFlight];
        if (e->kind == QUORVEX_INPUT_KEYBOARD && e->result == fate::pending) first = e;
    }
    if (first == nullptr) {
        ++v.keys_unmatched;  // a report's send not yet seen complete, or unasked
        return;
    }
    if (std::memcmp(v.seen.keys, first->keys, sizeof(first->keys)) == 0) {
        first->result = fate::arrived;
        ++v.arrived;
        keep_time(ticks - first->sent);
        return;
    }
    if (quorvex_key_down(first->keys, usage) == down) return;  // on its way
    first->result = fate::changed;
    quorvex_report_of_keys(v.seen.keys, first->got);
    first->got_length = 9;
    ++v.changed;
}

// A mouse event as the report that makes it: the buttons it leaves down,
// the position over the collection's declared range, the wheel in notches.
void take_mouse(const RAWMOUSE& mouse, int64_t ticks) {
    verify_state& v = g_verify;
    arrival a = {};
    a.length = 7;
    a.kind = QUORVEX_INPUT_MOUSE;
    a.ticks = ticks;
    a.rebuilt = true;
    quorvex_apply_mouse(&v.seen, v.inputs.collections[QUORVEX_INPUT_MOUSE], mouse, a.bytes);
    if (!match(a)) hold_early(a);
}

void take_event(void*, const quorvex_input_event* event, int64_t ticks) {
    verify_state& v = g_verify;
    locked hold;
    if (!v.active) return;
    if (event->kind == QUORVEX_INPUT_KEYBOARD) take_key(event->keyboard, ticks);
    else if (event->kind == QUORVEX_INPUT_MOUSE) take_mouse(event->mouse, ticks);
}

void print_origin(const expected& e) {
    if (e.line) printf("%s:%u", e.source, static_cast<unsigned>(e.number));
    else printf("%s report %u", e.source, static_cast<unsigned>(e.number));
}

// The report names a kind's first miss as its line says it.
void keep_first_miss(const expected& e, const char* what, const char* sent, const char* got) {
    char* out = g_verify.kind_first_miss[e.kind];
    const size_t size = sizeof(g_verify.kind_first_miss[e.kind]);
    if (out[0] != 0) return;
    int n = e.line ? snprintf(out, size, "%s:%u: ", e.source, static_cast<unsigned>(e.number))
                   : snprintf(out, size, "%s report %u: ", e.source, static_cast<unsigned>(e.number));
    if (n < 0 || static_cast<size_t>(n) >= size) return;
    snprintf(out + n, size - static_cast<size_t>(n), "%s%s%s%s", what, sent, got != nullptr ? ", arrived " : "",
             got != nullptr ? got : "");
}

// Prints what has been decided, oldest first, and lets it go: a report whose
// deadline passed is not delivered. Under the lock; on the run's thread only.
void report_decided(int64_t now) {
    verify_state& v = g_verify;
    char sent[LAYOUT_STEP_MAX], got[LAYOUT_STEP_MAX];
    while (v.head < v.tail) {
        expected& e = v.ring[v.head % kInFlight];
        if (e.result == fate::pending) {
            if (now - e.sent < v.timeout_ticks) break;
            e.result = fate::missed;
            ++v.missed;
        }
        ++v.kind_sent[e.kind];
        if (e.result == fate::missed) ++v.kind_missed[e.kind];
        if (e.result == fate::changed) ++v.kind_changed[e.kind];
        if (e.result == fate::missed && !v.contract_broken[e.kind]) {
            layout_describe_inner(e.bytes, e.length, e.via_set, sent, sizeof(sent));
            printf("Not delivered: ");
            print_origin(e);
            printf(": %s\n", sent);
            keep_first_miss(e, "not delivered: ", sent, nullptr);
        }
        if (e.result == fate::changed) {
            layout_describe_inner(e.bytes, e.length, e.via_set, sent, sizeof(sent));
            layout_describe_inner(e.got, e.got_length, e.via_set, got, sizeof(got));
            printf("Changed: ");
            print_origin(e);
            printf(": sent %s, arrived %s\n", sent, got);
            keep_first_miss(e, "changed: sent ", sent, got);
        }
        ++v.head;
    }
    for (int kind = 0; kind < QUORVEX_INPUT_KINDS; ++kind) {
        if (!v.contract_broken[kind] || v.contract_said[kind]) continue;
        v.contract_said[kind] = true;
        printf("The quorvex %s input collection does not follow the device's contract: its input report is not "
               "report 0x%02x as sent; its reports count as not delivered\n",
               QUORVEX_INPUTS[kind].name, static_cast<unsigned>(QUORVEX_INPUTS[kind].report_id));
    }
    for (uint32_t i = 0; i < v.unasked_kept; ++i) {
        const layout_kind* kind = layout_kind_of(v.unasked_list[i].bytes[0]);
        layout_describe_inner(v.unasked_list[i].bytes, v.unasked_list[i].length, kind != nullptr && kind->set_output, got,
                 sizeof(got));
        printf("Unasked: the %s input collection delivered %s\n", QUORVEX_INPUTS[v.unasked_list[i].kind].name, got);
    }
    v.unasked_kept = 0;
}

bool in_flight_of(quorvex_input_kind kind) {
    verify_state& v = g_verify;
    for (uint64_t i = v.head; i < v.tail; ++i)
        if (v.ring[i % kInFlight].kind == kind && v.ring[i % kInFlight].result == fate::pending) return true;
    return false;
}

// Every send passes here with its result, on the run's thread.
void listen(void*, const quorvex_transfer* transfer) {
    verify_state& v = g_verify;
    if (v.chained != nullptr) v.chained(v.chained_context, transfer);
    const bool send = std::strcmp(transfer->op, "WriteFile") == 0 || std::strcmp(transfer->op, "HidD_SetOutputReport") == 0;
    if (!send || transfer->bytes == nullptr || transfer->length < QUORVEX_CONTROL_HEADER_SIZE + 1) return;
    const int64_t now = now_ticks();
    const uint8_t* frame = transfer->bytes;
    const uint32_t number = v.line ? v.number : ++v.number;
    quorvex_input_kind kind;
    // A refused report must produce nothing: nothing is expected of it.
    if (transfer->error != 0 || !quorvex_input_of_report(frame[2], &kind)) return;
    const layout_kind* layout = layout_kind_of(frame[2]);
    locked hold;
    ++v.accepted;
    if (layout == nullptr || frame[1] != layout->length) {
        ++v.malformed;  // accepted though malformed: nothing should arrive
        return;
    }
    const quorvex_input_collection& collection = v.inputs.collections[kind];
    const bool readable = collection.path == input_path::read || collection.path == input_path::held;
    if (!readable || !collection.follows || v.contract_broken[kind]) {
        ++v.missed;  // said once, at the start
        ++v.kind_sent[kind];
        ++v.kind_missed[kind];
        return;
    }
    // In flight at most kInFlight: the oldest must arrive or pass its deadline first.
    while (v.tail - v.head >= kInFlight) {
        report_decided(now_ticks());
        if (v.tail - v.head < kInFlight) break;
        if (quorvex_stopped(v.client)) {
            --v.accepted;  // a stop leaves it unchecked, rather than waiting out the deadline
            return;
        }
        ReleaseSRWLockExclusive(&v.lock);
        Sleep(1);
        AcquireSRWLockExclusive(&v.lock);
    }
    expected& e = v.ring[v.tail % kInFlight];
    e = {};
    e.length = layout->length;
    std::memcpy(e.bytes, frame + 2, e.length);
    e.kind = kind;
    e.result = fate::pending;
    e.via_set = std::strcmp(transfer->op, "HidD_SetOutputReport") == 0;
    e.source = v.source;
    e.number = number;
    e.line = v.line;
    e.sent = now;
    e.by_events = collection.path == input_path::held && (kind == QUORVEX_INPUT_MOUSE || kind == QUORVEX_INPUT_KEYBOARD);
    if (e.by_events && kind == QUORVEX_INPUT_KEYBOARD) {
        if (!quorvex_keys_of_report(e.bytes, e.keys)) std::memcpy(e.keys, v.sent_keys, sizeof(e.keys));
        // A report that changes no key makes no event: nothing to wait for.
        const bool changes = std::memcmp(e.keys, v.sent_keys, sizeof(e.keys)) != 0;
        std::memcpy(v.sent_keys, e.keys, sizeof(e.keys));
        if (!changes) {
            e.result = fate::arrived;
            ++v.arrived;
        } else if (v.keys_unmatched != 0 && std::memcmp(v.seen.keys, e.keys, sizeof(e.keys)) == 0) {
            arrived_as_sent(&e, now);  // its events came before its send was seen complete
        }
        v.keys_unmatched = 0;
    }
    ++v.tail;
    // An arrival that beat its send's completion.
    uint32_t& count = v.early_count[kind];
    while (count > 0 && in_flight_of(kind)) {
        const arrival a = v.early[kind][0];
        std::memmove(&v.early[kind][0], &v.early[kind][1], (kEarly - 1) * sizeof(arrival));
        --count;
        match(a);
    }
    // What is decided prints with the summary (or when in flight is full), so
    // a miss's line never lands between a demonstration's lines by chance.
}

const char* open_error_text(DWORD error) {
    switch (error) {
        case 5: return "access denied";
        case 32: return "sharing violation";
        default: return "refused";
    }
}

}  // namespace

bool verify_begin(long_run* run, int* status) {
    verify_state& v = g_verify;
    v.client = run->client;
    InitializeSRWLock(&v.lock);
    v.head = v.tail = 0;
    std::memset(v.early_count, 0, sizeof(v.early_count));
    std::memset(v.last_length, 0, sizeof(v.last_length));
    std::memset(v.contract_said, 0, sizeof(v.contract_said));
    std::memset(v.contract_broken, 0, sizeof(v.contract_broken));
    v.unasked_kept = 0;
    v.source = "";
    v.number = 0;
    v.line = false;
    v.accepted = v.arrived = v.missed = v.changed = v.unasked = v.malformed = 0;
    std::memset(v.kind_sent, 0, sizeof(v.kind_sent));
    std::memset(v.kind_missed, 0, sizeof(v.kind_missed));
    std::memset(v.kind_changed, 0, sizeof(v.kind_changed));
    std::memset(v.kind_unasked, 0, sizeof(v.kind_unasked));
    std::memset(v.kind_first_miss, 0, sizeof(v.kind_first_miss));
    v.times = nullptr;
    v.time_count = v.time_room = 0;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    v.per_second = frequency.QuadPart;
    v.timeout_ticks = static_cast<int64_t>(run->settings->timeout_ms) * v.per_second / 1000;
    v.active = true;
    std::memset(v.sent_keys, 0, sizeof(v.sent_keys));
    std::memset(&v.seen, 0, sizeof(v.seen));
    v.keys_unmatched = 0;
    if (!quorvex_inputs_start(&v.inputs, take_arrival, take_event, nullptr, run->settings->timeout_ms)) {
        v.active = false;
        *status = EXIT_NO_RESOURCES;
        return false;
    }
    for (int kind = 0; kind < QUORVEX_INPUT_KINDS; ++kind) {
        const quorvex_input_contract& c = QUORVEX_INPUTS[kind];
        const quorvex_input_collection& collection = v.inputs.collections[kind];
        switch (collection.path) {
            case input_path::missing:
                printf("Verify: the quorvex device has no %s (0x%02x/0x%02x) input collection\n", c.name,
                       static_cast<unsigned>(c.usage_page), static_cast<unsigned>(c.usage));
                break;
            case input_path::held: break;
            case input_path::refused:
                printf("Verify: the quorvex %s input collection does not open for reading (error %d, %s); its "
                       "reports count as not delivered\n",
                       c.name, static_cast<int>(collection.open_error), open_error_text(collection.open_error));
                break;
            case input_path::read:
                if (!collection.follows)
                    printf("Verify: the quorvex %s input collection does not follow the device's contract: its input "
                           "report is %u bytes, not its kind's; its reports count as not delivered\n",
                           c.name, static_cast<unsigned>(collection.input_length));
                break;
        }
    }
    v.chained = run->client->on_transfer;
    v.chained_context = run->client->listener;
    run->client->on_transfer = listen;
    run->client->listener = nullptr;
    return true;
}

void verify_line(const char* script, uint32_t line) {
    g_verify.source = script;
    g_verify.number = line;
    g_verify.line = true;
}

void verify_source(const char* name) {
    g_verify.source = name;
    g_verify.number = 0;
    g_verify.line = false;
}

namespace {

// Whether every report in flight has arrived or passed its deadline.
bool all_decided(int64_t now) {
    verify_state& v = g_verify;
    for (uint64_t i = v.head; i < v.tail; ++i) {
        expected& e = v.ring[i % kInFlight];
        if (e.result != fate::pending) continue;
        if (now - e.sent < v.timeout_ticks) return false;
        e.result = fate::missed;
        ++v.missed;
    }
    return true;
}

}  // namespace

void verify_settle(long_run* run) {
    verify_state& v = g_verify;
    // The misses left are printed with the summary, after the run's own last line.
    for (;;) {
        {
            locked hold;
            if (all_decided(now_ticks())) break;
        }
        if (quorvex_stopped(run->client)) return;
        Sleep(1);
    }
    // What came unasked after the last report, within a short grace.
    Sleep(10);
    locked hold;
    for (int kind = 0; kind < QUORVEX_INPUT_KINDS; ++kind) {
        for (uint32_t i = 0; i < v.early_count[kind]; ++i) keep_unasked(v.early[kind][i]);
        v.early_count[kind] = 0;
    }
    if (v.keys_unmatched != 0 && std::memcmp(v.seen.keys, v.sent_keys, sizeof(v.sent_keys)) != 0) {
        arrival a = {};
        quorvex_report_of_keys(v.seen.keys, a.bytes);
        a.length = 9;
        a.kind = QUORVEX_INPUT_KEYBOARD;
        keep_unasked(a);
    }
}

void verify_totals(const long_run*) {
    verify_state& v = g_verify;
    locked hold;
    report_decided(now_ticks());
    // A reader that ended on an error heard nothing after it: said, so that
    // those misses are not taken for the driver's alone.
    for (int kind = 0; kind < QUORVEX_INPUT_KINDS; ++kind) {
        const DWORD error = v.inputs.collections[kind].read_error;
        if (error == 0) continue;
        char text[QUORVEX_ERROR_TEXT_MAX];
        printf("Verify: reading the quorvex %s input collection stopped: ReadFile failed: %s; its reports after that "
               "count as not delivered\n",
               QUORVEX_INPUTS[kind].name, quorvex_error_text(error, text, sizeof(text)));
    }
    const uint64_t well_formed = v.accepted - v.malformed;
    printf("Verify: %llu of %llu accepted reports arrived as sent; %llu not delivered, %llu changed, %llu unasked",
           static_cast<unsigned long long>(v.arrived), static_cast<unsigned long long>(well_formed),
           static_cast<unsigned long long>(v.missed), static_cast<unsigned long long>(v.changed),
           static_cast<unsigned long long>(v.unasked));
    if (v.malformed != 0)
        printf("; %llu accepted though malformed", static_cast<unsigned long long>(v.malformed));
    if (v.time_count > 0) {
        std::sort(v.times, v.times + v.time_count);
        auto at = [&](uint64_t percent) {
            const uint64_t rank = (v.time_count * percent + 99) / 100;
            return v.times[rank == 0 ? 0 : rank - 1];
        };
        auto ms = [](const char* name, uint32_t us) {
            printf("%s %u.%03u ms", name, static_cast<unsigned>(us / 1000), static_cast<unsigned>(us % 1000));
        };
        ms("; arrival minimum", v.times[0]);
        ms(", median", at(50));
        ms(", 99th percentile", at(99));
        ms(", maximum", v.times[v.time_count - 1]);
    }
    printf("\n");
}

void verify_report() {
    verify_state& v = g_verify;
    locked hold;
    for (int kind = 0; kind < QUORVEX_INPUT_KINDS; ++kind) {
        const uint64_t sent = v.kind_sent[kind], missed = v.kind_missed[kind], changed = v.kind_changed[kind],
                       unasked = v.kind_unasked[kind];
        if (sent == 0 && unasked == 0) continue;
        char why[sizeof(v.kind_first_miss[0]) + 128];
        const int n = snprintf(why, sizeof(why), "%llu of %llu arrived as sent; %llu not delivered, %llu changed, %llu unasked",
                               static_cast<unsigned long long>(sent - missed - changed),
                               static_cast<unsigned long long>(sent), static_cast<unsigned long long>(missed),
                               static_cast<unsigned long long>(changed), static_cast<unsigned long long>(unasked));
        if (v.kind_first_miss[kind][0] != 0 && n > 0 && static_cast<size_t>(n) < sizeof(why))
            snprintf(why + n, sizeof(why) - static_cast<size_t>(n), "; first: %s", v.kind_first_miss[kind]);
        const bool failed = missed != 0 || changed != 0 || unasked != 0;
        char name[64];
        snprintf(name, sizeof(name), "%s input collection", QUORVEX_INPUTS[kind].name);
        report_case("verify", name, 0, failed ? report_outcome::failure : report_outcome::passed,
                    failed ? "input" : nullptr, failed ? why : nullptr);
    }
}

bool verify_missed() {
    verify_state& v = g_verify;
    locked hold;
    return v.missed != 0 || v.changed != 0 || v.unasked != 0;
}

void verify_end(long_run* run) {
    verify_state& v = g_verify;
    run->client->on_transfer = v.chained;
    run->client->listener = v.chained_context;
    quorvex_inputs_stop(&v.inputs, run->settings->timeout_ms);
    locked hold;
    v.active = false;
    host_free(v.times);
    v.times = nullptr;
    v.time_count = v.time_room = 0;
}
