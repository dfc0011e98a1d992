#include "platform/sim/console.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/bus.h"
#include "platform/sim/threads.h"

namespace {

std::mutex g_lock;  // the handlers, between the client and the delivering thread
std::vector<PHANDLER_ROUTINE> g_handlers;
int g_transfers = 0;
int g_signal_pipe[2] = {-1, -1};
std::thread g_listener;  // delivers the terminal's Ctrl+C

// A closing console, made deterministic: the handler's thread starts held;
// the main thread's next call of the system lets it run and waits there until
// it has ended the process, which then ends at the main thread's next call.
enum closing { kOpen, kHeld, kRunning, kEnded, kEnding };
std::atomic<int> g_closing{kOpen};
std::condition_variable g_close_changed;
std::thread g_closer;
UINT g_closed_status = 0;

[[noreturn]] void hold_for_ever() {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

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

bool any_handler() {
    std::lock_guard<std::mutex> lock(g_lock);
    return !g_handlers.empty();
}

// The handlers of a closing console, on the thread started held.
void close_console() {
    {
        std::unique_lock<std::mutex> lock(g_lock);
        g_close_changed.wait(lock, [] { return g_closing.load() == kRunning; });
    }
    if (!offer(CTRL_CLOSE_EVENT)) {
        trace("no handler takes it: the process ends");
        end_at_once();
    }
    // A handler that returns from this event ends the process as Windows ends it.
    console_handler_exits(STATUS_CONTROL_C_EXIT);
}

// Handlers run on a thread of their own; a test sees the event taken, or the
// process ending, before the call it came in goes on.
void deliver(DWORD event) {
    // A handler may call the system itself.
    system_released unlocked;
    bool taken = false;
    const bool any = any_handler();
    if (any && event == CTRL_CLOSE_EVENT && g_closing.load() == kOpen) {
        g_closing = kHeld;
        g_closer = std::thread(close_console);
        return;
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
    if (g_closer.joinable()) g_closer.detach();
    g_closing = kOpen;
}

void console_checkpoint() {
    const int state = g_closing.load();
    if (state == kOpen || state == kEnding) return;
    {
        std::unique_lock<std::mutex> lock(g_lock);
        if (g_closing.load() == kHeld) {
            // This call goes on once the handler is done; the next one ends the process.
            g_closing = kRunning;
            g_close_changed.notify_all();
            g_close_changed.wait(lock, [] { return g_closing.load() >= kEnded; });
            return;
        }
        g_close_changed.wait(lock, [] { return g_closing.load() >= kEnded; });
        if (g_closing.load() == kEnding) return;
        g_closing = kEnding;
    }
    trace("the process ends, as the console's handler ended it");
    end_process(g_closed_status);
}

void console_handler_exits(UINT status) {
    if (!g_closer.joinable() || g_closer.get_id() != std::this_thread::get_id()) return;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_closed_status = status;
        g_closing = kEnded;
        g_close_changed.notify_all();
    }
    hold_for_ever();
}

int console_closed_status() {
    if (g_closing.load() == kOpen) return -1;
    std::unique_lock<std::mutex> lock(g_lock);
    if (g_closing.load() == kHeld) {
        g_closing = kRunning;
        g_close_changed.notify_all();
    }
    g_close_changed.wait(lock, [] { return g_closing.load() >= kEnded; });
    return static_cast<int>(g_closed_status);
}

void console_raise(DWORD event) { deliver(event); }

namespace {

std::string g_watched;  // the line start ctrl-c-at-line waits for; empty once it came
std::string g_line;     // the line printed so far

ssize_t write_watched(void*, const char* text, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t wrote = write(STDOUT_FILENO, text + done, size - done);
        if (wrote <= 0) return done == 0 ? -1 : static_cast<ssize_t>(done);
        done += static_cast<size_t>(wrote);
    }
    for (size_t i = 0; i < size && !g_watched.empty(); ++i) {
        if (text[i] != '\n') {
            g_line += text[i];
            continue;
        }
        const bool due = g_line.compare(0, g_watched.size(), g_watched) == 0;
        g_line.clear();
        if (!due) continue;
        trace("Ctrl+C after the line starting " + g_watched);
        g_watched.clear();
        system_call call;
        deliver(CTRL_C_EVENT);
    }
    return static_cast<ssize_t>(size);
}

}  // namespace

void console_watch_output(const std::string& line_start) {
    if (line_start.empty()) return;
    cookie_io_functions_t io = {};
    io.write = write_watched;
    FILE* watched = fopencookie(nullptr, "w", io);
    if (watched == nullptr) return;
    g_watched = line_start;
    setvbuf(watched, nullptr, _IONBF, 0);
    stdout = watched;
}

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
    system_call call;
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
