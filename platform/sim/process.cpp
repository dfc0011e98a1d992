// The process: its start (the scenario, the arguments and the command line
// GetCommandLineA gives), and its end, with the simulated system's account of
// what the run left open.

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/sim/bus.h"
#include "platform/sim/console.h"
#include "platform/sim/heap.h"
#include "platform/sim/threads.h"

namespace {

// The program returns from main: a closing console's handler that ended the
// process first has the last word on its status.
void at_exit() {
    report_at_exit();
    const int status = console_closed_status();
    if (status >= 0) std::_Exit(status);
}

}  // namespace

void report_at_exit() {
    console_stop_listening();
    heap_check_all();
    const sim_in_use usage = sim_usage();
    fprintf(stderr, "sim: exit: %s\n", usage.none() ? "nothing left open" : ("left open: " + sim_describe(usage)).c_str());
}

void end_process(UINT status) {
    // The default console process ends without flushing the C runtime's
    // buffers; the simulated system still says what was left open.
    if (sys().trace) report_at_exit();
    std::_Exit(static_cast<int>(status));
}

void ExitProcess(UINT status) {
    // From a closing console's handler, the process ends where the main
    // thread next calls the system.
    console_handler_exits(status);
    end_process(status);
}

void sim_set_arguments(int argc, const char* const* argv) {
    // Quoted as the C runtime will split it again: blanks and quotes inside a
    // quoted argument, and the backslashes before a quote, escaped.
    std::string line;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i > 0) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    sys().command_line = line;
}

char* sim_command_line() { return &sys().command_line[0]; }

// ---- the platform layer's own calls -----------------------------------------

void host_start(int argc, char** argv) {
    sim_set_arguments(argc, argv);
    const char* text = std::getenv("QUORVEX_SIM");
    std::string error;
    if (!sim_configure(text == nullptr ? "" : text, &error)) {
        fprintf(stderr, "sim: %s\n", error.c_str());
        std::exit(64);
    }
    sim_set_trace(true);
    console_watch_output(sys().scenario.ctrl_c_at_line);
    // No test reads the standalone program's record: a run of any length
    // keeps its memory flat.
    sys().recording = false;
    std::atexit(at_exit);
}

void host_end_interrupted() {
    threads_checkpoint();
    // As the default console handler ends it, after the simulated system has
    // said what the run left open.
    report_at_exit();
    std::fflush(stdout);
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    std::_Exit(130);
}
