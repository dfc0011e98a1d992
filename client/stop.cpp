#include "client/stop.h"

#include <atomic>
#include <cstdio>

#include "client/error_text.h"
#include "client/run_end.h"

namespace {

constexpr int kNone = -1;
std::atomic<int> g_event{kNone};  // the control event that stopped the run
std::atomic<quorvex_client*> g_client{nullptr};
std::atomic<bool> g_closing{false};

BOOL WINAPI on_control(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        int none = kNone;
        // The first asks the run to stop; a second ends the process at once,
        // through the next handler, as Ctrl+C always did.
        return g_event.compare_exchange_strong(none, static_cast<int>(event)) ? TRUE : FALSE;
    }
    quorvex_client* client = g_client.load();
    if (event != CTRL_CLOSE_EVENT || client == nullptr) return FALSE;
    // The console is closing, and Windows ends the process when this returns
    // or after a few seconds, whatever the run's thread is doing. If the run
    // is printing its own summary, it is let finish; otherwise this thread
    // prints it at once, without waiting for the driver.
    g_closing = true;
    if (!quorvex_end_claim()) {
        while (!quorvex_end_done()) Sleep(10);
        return TRUE;
    }
    printf("Stopped: the console is closing\n");
    quorvex_end_summary(client);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

bool quorvex_stop_requested() { return g_event.load() != kNone || g_closing.load(); }

bool quorvex_stop_install(quorvex_client* client) {
    g_event = kNone;
    g_closing = false;
    g_client = client;
    if (SetConsoleCtrlHandler(on_control, TRUE)) return true;
    g_client = nullptr;
    const DWORD error = GetLastError();
    char text[QUORVEX_ERROR_TEXT_MAX];
    printf("Error: the Ctrl+C handler could not be installed: SetConsoleCtrlHandler failed: %s\n",
           quorvex_error_text(error, text, sizeof(text)));
    return false;
}

void quorvex_stop_forget() {
    g_client = nullptr;
    g_event = kNone;
}

quorvex_stop_cause quorvex_stop_seen(const quorvex_client* client) {
    if (quorvex_stalled(client)) return quorvex_stop_cause::deadline;
    switch (g_event.load()) {
        case CTRL_C_EVENT: return quorvex_stop_cause::ctrl_c;
        case CTRL_BREAK_EVENT: return quorvex_stop_cause::ctrl_break;
        default: break;
    }
    return g_closing.load() ? quorvex_stop_cause::console_closing : quorvex_stop_cause::none;
}

bool quorvex_stop_say(quorvex_stop_cause cause) {
    if (cause != quorvex_stop_cause::ctrl_c && cause != quorvex_stop_cause::ctrl_break) return false;
    printf("Stopped by %s\n", cause == quorvex_stop_cause::ctrl_break ? "Ctrl+Break" : "Ctrl+C");
    return true;
}
