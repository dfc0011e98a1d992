#include "client/stop.h"

#include <atomic>
#include <cstdio>

namespace {

constexpr int kNone = -1;
std::atomic<int> g_event{kNone};  // the control event that stopped the run
std::atomic<quorvex_client*> g_client{nullptr};
int (*g_last_words)(quorvex_client* client);

BOOL WINAPI on_control(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        int none = kNone;
        // The first asks the run to stop; a second ends the process at once,
        // through the next handler, as Ctrl+C always did.
        return g_event.compare_exchange_strong(none, static_cast<int>(event)) ? TRUE : FALSE;
    }
    // The console is closing: Windows gives the handlers a few seconds, so
    // the summary is printed at once and the driver not waited for.
    quorvex_client* client = g_client.exchange(nullptr);
    if (event != CTRL_CLOSE_EVENT || client == nullptr) return FALSE;
    g_event = static_cast<int>(event);
    printf("Stopped: the console is closing\n");
    g_last_words(client);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

bool quorvex_stop_requested() { return g_event.load() != kNone; }

bool quorvex_stop_install(quorvex_client* client, int (*last_words)(quorvex_client* client)) {
    g_event = kNone;
    g_last_words = last_words;
    g_client = client;
    if (SetConsoleCtrlHandler(on_control, TRUE)) return true;
    g_client = nullptr;
    printf("Error: the Ctrl+C handler could not be installed: SetConsoleCtrlHandler failed: %d\n",
           static_cast<int>(GetLastError()));
    return false;
}

void quorvex_stop_forget() {
    g_client = nullptr;
    g_event = kNone;
}

bool quorvex_stop_say(const quorvex_client* client) {
    const int event = g_event.load();
    if (quorvex_stalled(client) || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) return false;
    printf("Stopped by %s\n", event == CTRL_BREAK_EVENT ? "Ctrl+Break" : "Ctrl+C");
    return true;
}
