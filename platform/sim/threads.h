// Threads in the simulated system: the one lock over the whole system, the
// waits that release it (for input, for a cancel, for an event, in Sleep),
// the virtual clock's moving on when every running thread waits, the threads
// and events the client creates, and the cancelling of one thread's
// synchronous I/O by another.
#pragma once

#include <functional>
#include <vector>

#include "platform/sim/winapi.h"

// ---- the lock ------------------------------------------------------------------
// Every stand-in holds the system's lock while it runs; a stand-in that calls
// another takes it again.
struct system_call {
    system_call();
    ~system_call();
    system_call(const system_call&) = delete;
    system_call& operator=(const system_call&) = delete;
};
// Lets go of the lock for a while (a control event's handler may call the
// system), and takes it back however that ends.
struct system_released {
    system_released();
    ~system_released();
    system_released(const system_released&) = delete;
    system_released& operator=(const system_released&) = delete;
    int depth;
};
// Every counted call passes here (count_call): on the thread that started the
// run, a closing console's handler runs here, with the lock let go.
void threads_checkpoint();
// The thread that started the run (the program's main thread, or the test's).
void threads_set_main();
bool threads_on_main();
// Wakes every wait to look again at what it waits for.
void threads_changed();

// ---- waits ---------------------------------------------------------------------
// Holds the calling thread, the lock let go, until ready() (checked under the
// lock) or, with a timeout, until it passes; true when ready. Under the
// virtual clock the timeout passes only while every running thread waits:
// the clock then moves on by the shortest time any of them has left.
bool threads_wait_until(const std::function<bool()>& ready, DWORD milliseconds);
// Whether a thread besides the caller's could ever wake it: one the client
// created and that has not returned.
bool threads_others_alive();

// Forgets every object and stall (a new run); each transfer from now on
// takes the next of these latencies, in turn.
void threads_reset(const std::vector<int>& latency_us);
// A transfer's own time, on the clock.
void threads_transfer();
// Objects (threads, events) the client holds open.
int threads_open_objects();

// Holds the calling thread in a synchronous call that ends only when another
// thread cancels it, or when done() (delivery), and gives ERROR_OPERATION_ABORTED
// or ERROR_SUCCESS. A deaf call ignores the cancel. With no other thread alive
// nothing could ever end it: then the no-canceller hook runs (a test's way
// out), or the wait is for ever.
DWORD threads_in_call(bool deaf, const std::function<bool()>& done, void (*no_canceller)());
// Holds the calling thread, not yet inside its call, until another thread has
// tried to cancel its synchronous I/O once; at once when no other thread is alive.
void threads_enter_late();

HANDLE threads_create_event(bool manual_reset, bool initial);
BOOL threads_set_event(HANDLE event);
DWORD threads_wait(HANDLE object, DWORD milliseconds);
// Waits for any of the objects (all, with wait_all), or for also(): WAIT_OBJECT_0
// plus the index of the first signaled, plus count for also(), or WAIT_TIMEOUT.
DWORD threads_wait_any(const HANDLE* objects, DWORD count, bool wait_all, DWORD milliseconds,
                       const std::function<bool()>& also);
void threads_sleep(DWORD milliseconds);
HANDLE threads_create_thread(LPTHREAD_START_ROUTINE start, LPVOID argument);
HANDLE threads_open_thread(DWORD thread_id);
DWORD threads_thread_id();
BOOL threads_cancel_io(HANDLE thread);
// False when the handle is none of this room's.
bool threads_close(HANDLE object);
