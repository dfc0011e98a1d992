#include "client/run_end.h"

#include <atomic>

namespace {

std::atomic<quorvex_summary_hook> g_summary{nullptr};
std::atomic<bool> g_claimed{false};
std::atomic<bool> g_done{false};

}  // namespace

void quorvex_on_run_end(quorvex_summary_hook summary) { g_summary = summary; }

void quorvex_end_reset() {
    g_claimed = false;
    g_done = false;
}

bool quorvex_end_claim() { return !g_claimed.exchange(true); }

int quorvex_end_summary(quorvex_client* client) {
    const quorvex_summary_hook summary = g_summary.load();
    const int status = summary != nullptr ? summary(client) : 0;
    g_done = true;
    return status;
}

void quorvex_end_finished() { g_done = true; }

bool quorvex_end_done() { return g_done.load(); }

void quorvex_end_yield() {
    // The process ends around this thread: on Windows ExitProcess ends every
    // thread, whatever it is doing.
    for (;;) Sleep(1000);
}
