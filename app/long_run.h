// The one frame of every long run (/all, /ping, /flood, /play and /send,
// /fuzz): preparing before the device is searched, connecting with a deadline
// on every transfer and a Ctrl+C handler, the loop with its stop check and
// progress clock, the one summary, and teardown. Each option's row names its
// run's parts; the frame calls them.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/testquorvex.h"
#include "client/stop.h"

struct long_run {
    uint8_t mode;
    const run_settings* settings;
    const long_run_kind* kind;
    quorvex_client* client;  // null before the connection record is made
    void* own;               // the kind's own record, which its prepare sets
};

struct long_run_kind {
    // Before the device is searched: what must be ready, or nothing is sent.
    // False, with the reason printed and *status set. Null: nothing to do.
    bool (*prepare)(long_run* run, int* status);
    // Connected: the start line (through long_run_start_line) and what the
    // run takes before its first step. False, with *status set, ends it at once.
    bool (*begin)(long_run* run, int* status);
    // One step; false when there is nothing more to play. The frame looks
    // for a stop between steps.
    bool (*step)(long_run* run);
    // Once a second between steps, when not null: the totals so far.
    void (*progress)(const long_run* run, int64_t elapsed_us);
    // The summary, printed once: what goes before "Stopped by" (null for
    // nothing), the totals line after it, and the status when no stop
    // decides it (the stop seen is passed to both, read once).
    void (*before_stop)(const long_run* run);
    void (*totals)(const long_run* run, quorvex_stop_cause stop);
    int (*verdict)(const long_run* run, quorvex_stop_cause stop);
    // After the device is let go, whatever happened, when prepare succeeded.
    void (*release)(long_run* run);
};

extern const long_run_kind LONG_RUN_ALL;
extern const long_run_kind LONG_RUN_PING;
extern const long_run_kind LONG_RUN_FLOOD;
extern const long_run_kind LONG_RUN_PLAY;  // /play and /send
extern const long_run_kind LONG_RUN_FUZZ;
extern const long_run_kind LONG_RUN_WATCH;
// /watch's readers stop before the device is let go: one reads the client's
// message collection.
void watch_end(long_run* run);

// Plays the option's long run whole, from prepare to release; the exit status.
int long_run_main(const option_entry& option, const run_settings& settings);

// "HEAD, each EACH within N ms TAIL": every start line ends with the deadline.
void long_run_start_line(const char* head, const char* each, uint32_t timeout_ms, const char* tail = "");

// The status a stop decides: 5 for a deadline, which wins, 130 for the
// tester or a closing console; 0 when nothing stopped the run.
int long_run_stop_status(quorvex_stop_cause stop);
