// The one place a transfer's deadline is kept. The transfers stay the
// synchronous calls every mode makes; a watchdog thread cancels the one under
// way with CancelSynchronousIo, the only documented way to end a synchronous
// call another thread is blocked in, HidD_SetOutputReport's among them.

#include "client/deadline.h"

#include <cstdio>

#include "client/error_text.h"
#include "client/run_end.h"

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

// The calling thread's record, under the lock; null for a thread not bounded.
quorvex_bound* bound_here(quorvex_deadline* deadline) {
    const DWORD me = GetCurrentThreadId();
    for (int i = 0; i < deadline->thread_count; ++i)
        if (deadline->threads[i].thread_id == me) return &deadline->threads[i];
    return nullptr;
}

// The driver keeps the transfer even after its cancel: this thread ends the
// run, since the caller is held in the call for as long as the driver likes.
[[noreturn]] void abandon(quorvex_deadline* deadline, quorvex_bound* bound) {
    const char* op = bound->in_flight;
    const bool send = bound->send;
    // A closing console's handler may have the summary already. The lock stays
    // held otherwise, so that a transfer returning now cannot count or print
    // its own failure beside this summary.
    if (!quorvex_end_claim()) {
        ReleaseSRWLockExclusive(&deadline->lock);
        quorvex_end_yield();
    }
    quorvex_client* client = deadline->client;
    printf("Stopped: the driver did not complete %s within %u ms, nor give it up when cancelled\n", op,
           static_cast<unsigned>(deadline->timeout_ms));
    client->stalled = op;
    if (send) client->reports_refused.fetch_add(1);
    ExitProcess(static_cast<UINT>(quorvex_end_summary(client)));
}

DWORD WINAPI watch(LPVOID argument) {
    auto* deadline = static_cast<quorvex_deadline*>(argument);
    // A tenth of the deadline, at most 100 ms: it passes within that of its time.
    const DWORD interval = deadline->timeout_ms < 1000 ? (deadline->timeout_ms + 9) / 10 : 100;
    while (WaitForSingleObject(deadline->stop, interval) == WAIT_TIMEOUT) {
        AcquireSRWLockExclusive(&deadline->lock);
        const int64_t now = ticks();
        for (int i = 0; i < deadline->thread_count; ++i) {
            quorvex_bound* bound = &deadline->threads[i];
            if (bound->in_flight == nullptr) continue;
            const int64_t under_way = ms_between(deadline, bound->started, now);
            if (!bound->cancelled && under_way >= deadline->timeout_ms) {
                // Under the lock, so that the cancel cannot reach the caller's
                // next transfer. A thread not yet inside its call has nothing
                // to cancel (ERROR_NOT_FOUND): tried again at the next tick,
                // but not for longer than the grace a cancelled call gets.
                if (CancelSynchronousIo(bound->caller)) {
                    bound->cancelled = true;
                    bound->cancelled_at = now;
                } else if (under_way >= static_cast<int64_t>(deadline->timeout_ms) + kGraceMs) {
                    abandon(deadline, bound);
                }
            } else if (bound->cancelled && ms_between(deadline, bound->cancelled_at, now) >= kGraceMs) {
                abandon(deadline, bound);
            }
        }
        ReleaseSRWLockExclusive(&deadline->lock);
    }
    return 0;
}

// Names the call Windows refused, with its error, before anything else runs.
bool could_not_start(const char* call) {
    const DWORD error = GetLastError();
    char text[QUORVEX_ERROR_TEXT_MAX];
    printf("Error: the transfer watchdog could not start: %s failed: %s\n", call, quorvex_error_text(error, text, sizeof(text)));
    return false;
}

}  // namespace

bool quorvex_deadline_start(quorvex_deadline* deadline, quorvex_client* client, DWORD timeout_ms) {
    deadline->client = client;
    deadline->timeout_ms = timeout_ms;
    deadline->thread_count = 0;
    InitializeSRWLock(&deadline->lock);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    deadline->ticks_per_second = frequency.QuadPart;

    if (!quorvex_deadline_bind(deadline)) return false;
    deadline->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (deadline->stop == nullptr) {
        could_not_start("CreateEventA");
        CloseHandle(deadline->threads[0].caller);
        return false;
    }
    deadline->watchdog = CreateThread(nullptr, 0, watch, deadline, 0, nullptr);
    if (deadline->watchdog == nullptr) {
        could_not_start("CreateThread");
        CloseHandle(deadline->stop);
        CloseHandle(deadline->threads[0].caller);
        return false;
    }
    client->deadline = deadline;
    return true;
}

bool quorvex_deadline_bind(quorvex_deadline* deadline) {
    quorvex_bound bound = {};
    bound.thread_id = GetCurrentThreadId();
    // CancelSynchronousIo needs a real handle with THREAD_TERMINATE, not the pseudo-handle.
    bound.caller = OpenThread(THREAD_TERMINATE, FALSE, bound.thread_id);
    if (bound.caller == nullptr) return could_not_start("OpenThread");
    AcquireSRWLockExclusive(&deadline->lock);
    const bool room = deadline->thread_count < QUORVEX_BOUND_THREADS;
    if (room) deadline->threads[deadline->thread_count++] = bound;
    ReleaseSRWLockExclusive(&deadline->lock);
    if (room) return true;
    CloseHandle(bound.caller);
    printf("Error: no more than %d threads have a transfer deadline\n", QUORVEX_BOUND_THREADS);
    return false;
}

void quorvex_deadline_unbind(quorvex_deadline* deadline) {
    AcquireSRWLockExclusive(&deadline->lock);
    quorvex_bound* bound = bound_here(deadline);
    HANDLE caller = nullptr;
    if (bound != nullptr) {
        caller = bound->caller;
        *bound = deadline->threads[--deadline->thread_count];
    }
    ReleaseSRWLockExclusive(&deadline->lock);
    if (caller != nullptr) CloseHandle(caller);
}

void quorvex_deadline_stop(quorvex_deadline* deadline) {
    SetEvent(deadline->stop);
    WaitForSingleObject(deadline->watchdog, INFINITE);
    CloseHandle(deadline->watchdog);
    CloseHandle(deadline->stop);
    for (int i = 0; i < deadline->thread_count; ++i) CloseHandle(deadline->threads[i].caller);
    deadline->thread_count = 0;
    deadline->client->deadline = nullptr;
}

void quorvex_deadline_arm(quorvex_deadline* deadline, const char* op, bool send) {
    const int64_t now = ticks();
    AcquireSRWLockExclusive(&deadline->lock);
    if (quorvex_bound* bound = bound_here(deadline)) {
        bound->in_flight = op;
        bound->send = send;
        bound->started = now;
        bound->cancelled = false;
    }
    ReleaseSRWLockExclusive(&deadline->lock);
}

bool quorvex_deadline_disarm(quorvex_deadline* deadline) {
    AcquireSRWLockExclusive(&deadline->lock);
    quorvex_bound* bound = bound_here(deadline);
    const bool cancelled = bound != nullptr && bound->cancelled;
    if (bound != nullptr) bound->in_flight = nullptr;
    ReleaseSRWLockExclusive(&deadline->lock);
    return cancelled;
}
