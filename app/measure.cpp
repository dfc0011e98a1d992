// /ping and /flood: the driver's round trips and its sustained frame rate,
// through the same send and read operations the demonstrations use, with
// every transfer under the run's deadline.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/long_run.h"
#include "app/verify.h"
#include "reports/joystick.h"
#include "reports/message.h"

namespace {

int64_t now_ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t ticks_per_second() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

int64_t microseconds(int64_t ticks, int64_t per_second) { return ticks * 1000000 / per_second; }

struct measurement {
    int64_t per_second;
    int64_t started;
    uint32_t count;
    uint32_t* round_trips_us;  // /ping: one per answer, in one block taken before the first
    std::atomic<uint32_t> sent;
    std::atomic<uint32_t> answered;
};
measurement g_measurement;

measurement* own(const long_run* run) { return static_cast<measurement*>(run->own); }

bool prepare(long_run* run, int*) {
    run->own = &g_measurement;
    measurement* m = own(run);
    m->count = run->settings->count;
    m->round_trips_us = nullptr;
    m->sent = 0;
    m->answered = 0;
    // A closing console may ask for the summary while the device is still searched for.
    m->per_second = ticks_per_second();
    m->started = now_ticks();
    return true;
}

void print_ms(const char* name, uint32_t us) {
    printf("%s %u.%03u ms", name, static_cast<unsigned>(us / 1000), static_cast<unsigned>(us % 1000));
}

// The nearest-rank percentile: the smallest time that many percent of the
// round trips took at most.
uint32_t percentile(const uint32_t* sorted, uint32_t count, uint32_t percent) {
    const uint64_t rank = (static_cast<uint64_t>(count) * percent + 99) / 100;
    return sorted[rank == 0 ? 0 : rank - 1];
}

bool ping_begin(long_run* run, int* status) {
    measurement* m = own(run);
    // Every time in one block, taken now: nothing is allocated per round trip.
    m->round_trips_us = static_cast<uint32_t*>(host_malloc(static_cast<size_t>(m->count) * sizeof(uint32_t)));
    if (m->round_trips_us == nullptr) {
        printf("Error: no room for %u round-trip times\n", static_cast<unsigned>(m->count));
        *status = EXIT_NO_RESOURCES;
        return false;
    }
    m->started = now_ticks();  // the search for the device is not the run's time
    char head[96];
    snprintf(head, sizeof(head), "Round trips to the quorvex device: %u vendor message(s)",
             static_cast<unsigned>(m->count));
    long_run_start_line(head, "answer", run->settings->timeout_ms);
    return true;
}

bool ping_step(long_run* run) {
    measurement* m = own(run);
    const uint32_t sequence = m->sent + 1;
    quorvex_message message = {};
    put_le32(message.bytes + 1, sequence);
    m->sent = sequence;
    const int64_t start = now_ticks();
    // A refused message has no answer to wait for.
    if (quorvex_write_message(run->client, &message) && quorvex_read_message(run->client, &message)) {
        const int64_t took = microseconds(now_ticks() - start, m->per_second);
        m->round_trips_us[m->answered] = took > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(took);
        ++m->answered;
    }
    return sequence < m->count;
}

void ping_totals(const long_run* run, quorvex_stop_cause) {
    const measurement* m = own(run);
    const uint32_t answered = m->answered;
    printf("Round trips: %u sent, %u answered", static_cast<unsigned>(m->sent), static_cast<unsigned>(answered));
    if (answered > 0) {
        uint32_t* times = m->round_trips_us;
        std::sort(times, times + answered);
        print_ms("; minimum", times[0]);
        print_ms(", median", percentile(times, answered, 50));
        print_ms(", 99th percentile", percentile(times, answered, 99));
        print_ms(", maximum", times[answered - 1]);
    }
    printf("\n");
}

int ping_verdict(const long_run* run, quorvex_stop_cause stop) {
    if (const int stopped = long_run_stop_status(stop)) return stopped;
    return own(run)->answered == own(run)->sent ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

void ping_release(long_run* run) {
    host_free(own(run)->round_trips_us);
    own(run)->round_trips_us = nullptr;
}

bool flood_begin(long_run* run, int*) {
    measurement* m = own(run);
    m->started = now_ticks();  // the search for the device is not the run's time
    char head[96];
    snprintf(head, sizeof(head), "Flooding the quorvex device: %u joystick frame(s) back to back",
             static_cast<unsigned>(m->count));
    long_run_start_line(head, "", run->settings->timeout_ms);
    verify_source("/flood");
    return true;
}

bool flood_step(long_run* run) {
    measurement* m = own(run);
    quorvex_update_joystick(run->client, kQuorvexJoystickNeutral);
    return ++m->sent < m->count;
}

void flood_progress(const long_run* run, int64_t elapsed_us) {
    const uint32_t sent = own(run)->sent;
    printf("Flood: %u frames so far, %llu frames/s\n", static_cast<unsigned>(sent),
           static_cast<unsigned long long>(sent) * 1000000ULL / static_cast<unsigned long long>(elapsed_us));
}

void flood_totals(const long_run* run, quorvex_stop_cause) {
    const measurement* m = own(run);
    const int64_t us = microseconds(now_ticks() - m->started, m->per_second);
    const auto frames = static_cast<unsigned long long>(run->client->reports_sent);
    printf("Flood: %llu frames in %lld.%03lld s, ", frames, static_cast<long long>(us / 1000000),
           static_cast<long long>(us / 1000 % 1000));
    if (us == 0) printf("too quick to time");
    else printf("%llu frames/s", frames * 1000000ULL / static_cast<unsigned long long>(us));
    printf(", %llu refused\n", static_cast<unsigned long long>(run->client->reports_refused));
}

int flood_verdict(const long_run* run, quorvex_stop_cause stop) {
    if (const int stopped = long_run_stop_status(stop)) return stopped;
    return run->client->reports_refused == 0 ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

}  // namespace

const long_run_kind LONG_RUN_PING = {prepare,     ping_begin,  ping_step,    nullptr,
                                     nullptr,     ping_totals, ping_verdict, ping_release};
const long_run_kind LONG_RUN_FLOOD = {prepare,      flood_begin,  flood_step,    flood_progress,
                                      nullptr,      flood_totals, flood_verdict, nullptr};
