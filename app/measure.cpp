// /ping and /flood: the driver's round trips and its sustained frame rate,
// through the same send and read operations the demonstrations use, with
// every transfer under the run's deadline.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/testquorvex.h"
#include "client/deadline.h"
#include "client/stop.h"
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

// What the summaries need, where the watchdog's last words reach it too.
struct measurement {
    int64_t per_second;
    int64_t started;
    uint32_t* round_trips_us;  // /ping: one per answer, in one block taken before the first
    uint32_t sent;
    uint32_t answered;
};
measurement g_run;

void print_ms(const char* name, uint32_t us) {
    printf("%s %u.%03u ms", name, static_cast<unsigned>(us / 1000), static_cast<unsigned>(us % 1000));
}

// The nearest-rank percentile: the smallest time that many percent of the
// round trips took at most.
uint32_t percentile(const uint32_t* sorted, uint32_t count, uint32_t percent) {
    const uint64_t rank = (static_cast<uint64_t>(count) * percent + 99) / 100;
    return sorted[rank == 0 ? 0 : rank - 1];
}

int ping_summary(quorvex_client* client) {
    quorvex_stop_say(client);
    printf("Round trips: %u sent, %u answered", static_cast<unsigned>(g_run.sent),
           static_cast<unsigned>(g_run.answered));
    if (g_run.answered > 0) {
        uint32_t* times = g_run.round_trips_us;
        std::sort(times, times + g_run.answered);
        print_ms("; minimum", times[0]);
        print_ms(", median", percentile(times, g_run.answered, 50));
        print_ms(", 99th percentile", percentile(times, g_run.answered, 99));
        print_ms(", maximum", times[g_run.answered - 1]);
    }
    printf("\n");
    if (const int stopped = stop_status(client)) return stopped;
    return g_run.answered == g_run.sent ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

int flood_summary(quorvex_client* client) {
    const int64_t us = microseconds(now_ticks() - g_run.started, g_run.per_second);
    const auto frames = static_cast<unsigned long long>(client->reports_sent);
    quorvex_stop_say(client);
    printf("Flood: %llu frames in %lld.%03lld s, ", frames, static_cast<long long>(us / 1000000),
           static_cast<long long>(us / 1000 % 1000));
    if (us == 0) printf("too quick to time");
    else printf("%llu frames/s", frames * 1000000ULL / static_cast<unsigned long long>(us));
    printf(", %llu refused\n", static_cast<unsigned long long>(client->reports_refused));
    if (const int stopped = stop_status(client)) return stopped;
    return client->reports_refused == 0 ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

}  // namespace

progress_clock progress_from_now() {
    const int64_t now = now_ticks(), per_second = ticks_per_second();
    return {now, now + per_second, per_second};
}

bool progress_due(progress_clock* clock, int64_t* elapsed_us) {
    const int64_t now = now_ticks();
    if (now < clock->next) return false;
    while (clock->next <= now) clock->next += clock->per_second;
    if (elapsed_us != nullptr) *elapsed_us = microseconds(now - clock->started, clock->per_second);
    return true;
}

int (*measure_last_words(uint8_t mode))(quorvex_client*) {
    return mode == QUORVEX_MODE_PING ? ping_summary : flood_summary;
}

int run_ping(quorvex_client* client, uint32_t count) {
    // Every time in one block, taken now: nothing is allocated per round trip.
    auto* times = static_cast<uint32_t*>(host_malloc(static_cast<size_t>(count) * sizeof(uint32_t)));
    if (times == nullptr) {
        printf("Error: no room for %u round-trip times\n", static_cast<unsigned>(count));
        return EXIT_NO_MEMORY;
    }
    g_run = {ticks_per_second(), now_ticks(), times, 0, 0};
    printf("Round trips to the quorvex device: %u vendor message(s), each answer within %u ms\n",
           static_cast<unsigned>(count), static_cast<unsigned>(client->deadline->timeout_ms));

    quorvex_message message;
    for (uint32_t sequence = 1; sequence <= count && !quorvex_stopped(client); ++sequence) {
        std::memset(&message, 0, sizeof(message));
        put_le32(message.bytes + 1, sequence);
        ++g_run.sent;
        const int64_t start = now_ticks();
        // A refused message has no answer to wait for.
        if (!quorvex_write_message(client, &message)) continue;
        if (!quorvex_read_message(client, &message)) continue;
        const int64_t took = microseconds(now_ticks() - start, g_run.per_second);
        times[g_run.answered++] = took > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(took);
    }
    const int status = ping_summary(client);
    host_free(times);
    g_run = {};
    return status;
}

int run_flood(quorvex_client* client, uint32_t count) {
    g_run = {ticks_per_second(), now_ticks(), nullptr, 0, 0};
    printf("Flooding the quorvex device: %u joystick frame(s) back to back, each within %u ms\n",
           static_cast<unsigned>(count), static_cast<unsigned>(client->deadline->timeout_ms));
    progress_clock progress = progress_from_now();
    for (uint32_t sent = 0; sent < count && !quorvex_stopped(client); ++sent) {
        quorvex_update_joystick(client, kQuorvexJoystickNeutral);
        int64_t us = 0;
        if (quorvex_stopped(client) || !progress_due(&progress, &us)) continue;
        printf("Flood: %u frames so far, %llu frames/s\n", static_cast<unsigned>(sent + 1),
               static_cast<unsigned long long>(sent + 1) * 1000000ULL / static_cast<unsigned long long>(us));
    }
    const int status = flood_summary(client);
    g_run = {};
    return status;
}
