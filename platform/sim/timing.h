// Transfer timing in the simulated system: the transfers a scenario stalls,
// the threads and events a client may use to bound them, and the cancelling
// of one thread's synchronous I/O by another. The bus is single-threaded;
// this room is the one part of the system that two threads share.
#pragma once

#include <vector>

#include "platform/sim/winapi.h"

// Forgets every object and stall (a new run); each transfer from now on
// takes the next of these latencies, in turn.
void timing_reset(const std::vector<int>& latency_us);
// A transfer's own time, on the clock.
void timing_transfer();
// Objects (threads, events) the client holds open.
int timing_open_objects();

// Holds the calling thread in a transfer the driver does not complete until
// another thread cancels the caller's synchronous I/O, and gives the error
// the transfer then fails with. A deaf transfer ignores the cancel and never
// returns. With no other thread alive, nothing could ever cancel it: then
// the no-canceller hook runs (a test's way out), or the wait is for ever.
DWORD timing_stall(bool deaf, void (*no_canceller)());

HANDLE timing_create_event(bool manual_reset, bool initial);
BOOL timing_set_event(HANDLE event);
// Under the virtual clock a wait with a timeout passes at once while a
// transfer is stalled, and not before: the deadline moves only then.
DWORD timing_wait(HANDLE object, DWORD milliseconds);
HANDLE timing_create_thread(LPTHREAD_START_ROUTINE start, LPVOID argument);
HANDLE timing_open_thread(DWORD thread_id);
DWORD timing_thread_id();
BOOL timing_cancel_io(HANDLE thread);
// False when the handle is none of this room's.
bool timing_close(HANDLE object);
