#include "platform/sim/console.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/bus.h"

namespace {

std::mutex g_lock;  // the handlers, between the client and the delivering thread
std::vector<PHANDLER_ROUTINE> g_handlers;
int g_transfers = 0;
int g_signal_pipe[2] = {-1, -1};
std::thread g_listener;  // delivers the terminal's Ctrl+C

// Whether a handler took the event: the last registered is asked first.
bool offer(DWORD event) {
    std::vector<PHANDLER_ROUTINE> handlers;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        handlers = g_handlers;
    }
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
        if ((*it)(event)) return true;
    return false;
}

[[noreturn]] void end_at_once() {
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    std::_Exit(130);
}

// Handlers run on a thread of their own; a test sees the event taken, or the
// process ending, before the transfer it came in goes on.
void deliver(DWORD event) {
    bool taken = false;
    bool any = false;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        any = !g_handlers.empty();
    }
    if (any) std::thread([&] { taken = offer(event); }).join();
    if (taken) return;
    trace("no handler takes it: the process ends");
    if (sys().interrupt != nullptr) sys().interrupt();
    end_at_once();
}

// A real Ctrl+C at the terminal: the signal handler only wakes the thread
// that delivers it.
void on_sigint(int) {
    const char event = CTRL_C_EVENT;
    if (write(g_signal_pipe[1], &event, 1) < 0) {
    }
}

void deliver_signals() {
    char event = 0;
    while (read(g_signal_pipe[0], &event, 1) == 1)
        if (!offer(static_cast<DWORD>(event))) end_at_once();
}

void listen_for_sigint() {
    if (g_signal_pipe[0] >= 0 || pipe(g_signal_pipe) != 0) return;
    g_listener = std::thread(deliver_signals);
    struct sigaction action = {};
    action.sa_handler = on_sigint;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

void console_reset() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_handlers.clear();
    g_transfers = 0;
}

void console_raise(DWORD event) { deliver(event); }

void console_stop_listening() {
    if (!g_listener.joinable() || g_listener.get_id() == std::this_thread::get_id()) return;
    close(g_signal_pipe[1]);  // the listener reads the end of it and returns
    g_listener.join();
}

void console_transfer_begins() {
    const sim_scenario& s = sys().scenario;
    if (s.ctrl_c_after == 0 && s.ctrl_break_after == 0 && s.ctrl_close_after == 0) return;
    ++g_transfers;
    if (g_transfers == s.ctrl_c_after) {
        trace("Ctrl+C during transfer " + std::to_string(g_transfers));
        deliver(CTRL_C_EVENT);
    }
    if (g_transfers == s.ctrl_break_after) {
        trace("Ctrl+Break during transfer " + std::to_string(g_transfers));
        deliver(CTRL_BREAK_EVENT);
    }
    if (g_transfers == s.ctrl_close_after) {
        trace("the console window closes during transfer " + std::to_string(g_transfers));
        deliver(CTRL_CLOSE_EVENT);
    }
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    if (maybe_inject("SetConsoleCtrlHandler")) return FALSE;
    if (handler == nullptr) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (add) {
            g_handlers.push_back(handler);
        } else {
            auto it = std::find(g_handlers.begin(), g_handlers.end(), handler);
            if (it == g_handlers.end()) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
            g_handlers.erase(it);
        }
    }
    // Only the whole program listens at the terminal; the tests raise events from the scenario.
    if (add && sys().trace) listen_for_sigint();
    return succeed_with(TRUE);
}
