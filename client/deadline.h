// A transfer's deadline, for the runs that must always end: one watchdog
// thread per run cancels a bounded thread's synchronous transfer once it has
// been under way longer than the deadline, with the same calls the modes make.
#pragma once

#include "client/quorvex_client.h"

// The threads whose transfers one watchdog bounds: the run's own, and a
// reader of its own.
constexpr int QUORVEX_BOUND_THREADS = 4;

// One bounded thread and the transfer it has under way.
struct quorvex_bound {
    DWORD thread_id;
    HANDLE caller;          // opened for cancelling
    const char* in_flight;  // null between transfers
    bool send;              // a refused send counts in the summary
    bool cancelled;         // a cancel reached the call
    int64_t started;        // performance-counter ticks
    int64_t cancelled_at;
};

struct quorvex_deadline {
    quorvex_client* client;
    DWORD timeout_ms;
    HANDLE stop;  // set when the run is over
    HANDLE watchdog;
    int64_t ticks_per_second;
    // Between the bounded threads and the watchdog. Windows' own lock, so that
    // a MinGW-w64 runtime of either thread model builds the program.
    SRWLOCK lock;
    quorvex_bound threads[QUORVEX_BOUND_THREADS];
    int thread_count;
};

// Starts bounding the calling thread's transfers on this client. False, with
// the failure printed and nothing left open, when Windows refuses the thread,
// its event or the caller's handle.
bool quorvex_deadline_start(quorvex_deadline* deadline, quorvex_client* client, DWORD timeout_ms);
// Bounds the calling thread's transfers too (a reader thread's own); false,
// with the failure printed, when Windows refuses its handle or all the
// records are taken. Unbound before the thread ends.
bool quorvex_deadline_bind(quorvex_deadline* deadline);
void quorvex_deadline_unbind(quorvex_deadline* deadline);
void quorvex_deadline_stop(quorvex_deadline* deadline);

// Around every transfer of a bounded thread; a thread that is not bounded
// passes through.
void quorvex_deadline_arm(quorvex_deadline* deadline, const char* op, bool send);
bool quorvex_deadline_disarm(quorvex_deadline* deadline);
inline void quorvex_transfer_begin(quorvex_client* client, const char* op, bool send) {
    if (client->deadline != nullptr) quorvex_deadline_arm(client->deadline, op, send);
}
// Disarms the deadline of the transfer that just returned; true when the
// watchdog's cancel reached it.
inline bool quorvex_transfer_end(quorvex_client* client) {
    return client->deadline != nullptr && quorvex_deadline_disarm(client->deadline);
}
