// The one place a transfer's deadline is kept. The transfers stay the
// synchronous calls every mode makes; a watchdog thread cancels the one under
// way with CancelSynchronousIo, the only documented way to end a synchronous
// call another thread is blocked in, HidD_SetOutputReport's among them.

#include "client/deadline.h"

#include <cstdio>

namespace {

// How long a driver may take to give up a cancelled transfer before the run
// is ended without it.
constexpr DWORD kGraceMs = 1000;

int64_t ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t ms_between(const quorvex_deadline* deadline, int64_t from, int64_t to) {
    return (to - from) * 1000 / deadline->ticks_per_second;
}

// The driver keeps the transfer even after its cancel: this thread ends the
// run, since the caller is held in the call for as long as the driver likes.
[[noreturn]] void abandon(quorvex_deadline* deadline) {
    quorvex_client* client = deadline->client;
    printf("Stopped: the driver did not complete %s within %u ms, nor give it up when cancelled\n",
           deadline->in_flight, static_cast<unsigned>(deadline->timeout_ms));
    client->stalled = deadline->in_flight;
    if (deadline->send) ++client->reports_refused;
    ExitProcess(static_cast<UINT>(deadline->last_words(client)));
}

DWORD WINAPI watch(LPVOID argument) {
    auto* deadline = static_cast<quorvex_deadline*>(argument);
    // A tenth of the deadline, at most 100 ms: it passes within that of its time.
    const DWORD interval = deadline->timeout_ms < 1000 ? (deadline->timeout_ms + 9) / 10 : 100;
    while (WaitForSingleObject(deadline->stop, interval) == WAIT_TIMEOUT) {
        AcquireSRWLockExclusive(&deadline->lock);
        const int64_t now = ticks();
        const bool busy = deadline->in_flight != nullptr;
        if (busy && !deadline->cancelled && ms_between(deadline, deadline->started, now) >= deadline->timeout_ms) {
            // Under the lock, so that the cancel cannot reach the caller's next transfer.
            deadline->cancelled = true;
            deadline->cancelled_at = now;
            CancelSynchronousIo(deadline->caller);
        } else if (busy && deadline->cancelled && ms_between(deadline, deadline->cancelled_at, now) >= kGraceMs) {
            abandon(deadline);
        }
        ReleaseSRWLockExclusive(&deadline->lock);
    }
    return 0;
}

// Names the call Windows refused, with its error, before anything else runs.
bool could_not_start(const char* call) {
    printf("Error: the transfer watchdog could not start: %s failed: %d\n", call, static_cast<int>(GetLastError()));
    return false;
}

}  // namespace

bool quorvex_deadline_start(quorvex_deadline* deadline, quorvex_client* client, DWORD timeout_ms,
                            int (*last_words)(quorvex_client* client)) {
    deadline->client = client;
    deadline->timeout_ms = timeout_ms;
    deadline->last_words = last_words;
    deadline->in_flight = nullptr;
    deadline->cancelled = false;
    InitializeSRWLock(&deadline->lock);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    deadline->ticks_per_second = frequency.QuadPart;

    // CancelSynchronousIo needs a real handle with THREAD_TERMINATE, not the pseudo-handle.
    deadline->caller = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
    if (deadline->caller == nullptr) return could_not_start("OpenThread");
    deadline->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (deadline->stop == nullptr) {
        could_not_start("CreateEventA");
        CloseHandle(deadline->caller);
        return false;
    }
    deadline->watchdog = CreateThread(nullptr, 0, watch, deadline, 0, nullptr);
    if (deadline->watchdog == nullptr) {
        could_not_start("CreateThread");
        CloseHandle(deadline->stop);
        CloseHandle(deadline->caller);
        return false;
    }
    client->deadline = deadline;
    return true;
}

void quorvex_deadline_stop(quorvex_deadline* deadline) {
    SetEvent(deadline->stop);
    WaitForSingleObject(deadline->watchdog, INFINITE);
    CloseHandle(deadline->watchdog);
    CloseHandle(deadline->stop);
    CloseHandle(deadline->caller);
    deadline->client->deadline = nullptr;
}

void quorvex_deadline_arm(quorvex_deadline* deadline, const char* op, bool send) {
    const int64_t now = ticks();
    AcquireSRWLockExclusive(&deadline->lock);
    deadline->in_flight = op;
    deadline->send = send;
    deadline->started = now;
    deadline->cancelled = false;
    ReleaseSRWLockExclusive(&deadline->lock);
}

bool quorvex_deadline_disarm(quorvex_deadline* deadline) {
    AcquireSRWLockExclusive(&deadline->lock);
    deadline->in_flight = nullptr;
    const bool cancelled = deadline->cancelled;
    ReleaseSRWLockExclusive(&deadline->lock);
    return cancelled;
}
