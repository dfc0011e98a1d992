// A transfer's deadline, for the runs that must always end: one watchdog
// thread per run cancels the caller's synchronous transfer once it has been
// under way longer than the deadline, with the same calls the modes make.
#pragma once

#include "client/quorvex_client.h"

struct quorvex_deadline {
    quorvex_client* client;
    DWORD timeout_ms;
    // When the driver ignores the cancel as well, the caller never returns:
    // the watchdog prints the run's last lines with this and ends the
    // process with the status it gives.
    int (*last_words)(quorvex_client* client);
    HANDLE caller;    // the thread whose transfers are bounded, opened for cancelling
    HANDLE stop;      // set when the run is over
    HANDLE watchdog;
    int64_t ticks_per_second;

    // The transfer under way, between caller and watchdog. Windows' own lock,
    // so that a MinGW-w64 runtime of either thread model builds the program.
    SRWLOCK lock;
    const char* in_flight;  // null between transfers
    bool send;              // a refused send counts in the summary
    bool cancelled;
    int64_t started;        // performance-counter ticks
    int64_t cancelled_at;
};

// Starts bounding the calling thread's transfers on this client. False, with
// the failure printed and nothing left open, when Windows refuses the thread,
// its event or the caller's handle.
bool quorvex_deadline_start(quorvex_deadline* deadline, quorvex_client* client, DWORD timeout_ms,
                            int (*last_words)(quorvex_client* client));
void quorvex_deadline_stop(quorvex_deadline* deadline);
