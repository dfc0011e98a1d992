// Every mode, every platform call the client makes, each call in turn made to
// fail: the run must end cleanly, say what failed at most once, and give back
// everything it took.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>

#include "client/quorvex_client.h"
#include "tests/support.h"

namespace {

// Every kind of step a script has.
const std::string& sweep_script() {
    static const std::string path =
        script_file("mouse x=1\nmultitouch [id=1] count=1\nmessage \"hi\"\nexpect \"hi\"\nflush\nsleep 10\n");
    return path;
}

const std::string& sweep_journal() {
    static const std::string path = scratch_path("sweep-journal.txt");
    return path;
}

struct mode {
    const char* option;
    const char* scenario;
    int reports;  // frames a clean run sends
    std::vector<std::string> args() const {
        // With their modifiers: every transfer of /all has a deadline, and /list waits first.
        if (std::string(option) == "/all") return {option, "/timeout:1000"};
        if (std::string(option) == "/play") return {"/play:" + sweep_script(), "/timeout:1000"};
        if (std::string(option) == "/send") return {option, "mouse", "x=1"};
        // Two batches: the journal is written over once.
        if (std::string(option) == "/fuzz") return {option, "/count:70", "/seed:1", "/out:" + sweep_journal(), "/timeout:1000"};
        if (std::string(option) == "/list") return {option, "/wait:1"};
        if (std::string(option) == "/ping") return {option, "/timeout:1000", "/count:3"};
        if (std::string(option) == "/flood") return {option, "/count:5"};
        return {option};
    }
};

const mode kModes[] = {
    {"/multitouch", "clock=virtual", 6}, {"/mouse", "clock=virtual", 1},
    {"/digitizer", "clock=virtual", 12}, {"/joystick", "clock=virtual,interrupt-after=3", 3},
    {"/keyboard", "clock=virtual", 11},  {"/message", "clock=virtual", 1},
    {"/all", "clock=virtual", 31},       {"/list", "clock=virtual,locked=1,busy=1", 0},
    {"/ping", "clock=virtual", 3},       {"/flood", "clock=virtual", 5},
    {"/play", "clock=virtual", 3},       {"/send", "clock=virtual", 1},
    {"/fuzz", "clock=virtual", 73},  // 70 frames, the probe and two checks
};

bool scripted(const std::string& option) { return option == "/play" || option == "/send"; }

// The line each operation's failure prints, with the code the stand-in gives it.
const std::map<std::string, std::string> kFailureLine = {
    {"malloc", "Error: OpenDeviceInterface: malloc failed"},
    {"SetupDiGetClassDevsA", "SetupDiGetClassDevs failed: e0000209"},
    {"SetupDiGetDeviceInterfaceDetailA", "Error: SetupDiGetInterfaceDeviceDetail failed"},
    {"CreateFileA", "Error: CreateFile failed: 2"},
    {"HidD_GetPreparsedData", "Error: HidD_GetPreparsedData failed "},
    {"HidD_GetAttributes", "Error: HidD_GetAttributes failed "},
    {"HidP_GetCaps", "Error: HidP_GetCaps failed "},
    {"HidD_SetNumInputBuffers", "failed HidD_SetNumInputBuffers 87"},
    {"WriteFile", "failed WriteFile 31"},
    {"HidD_SetOutputReport", "failed HidD_SetOutputReport 31"},
    {"ReadFile", "failed ReadFile 1167"},
    {"HidD_FlushQueue", "failed HidD_FlushQueue 31"},
};

int count_lines(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    int n = 0;
    for (std::string l; std::getline(in, l);) n += l == line;
    return n;
}

int count_of(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::map<std::string, int> calls_of_every_operation() {
    std::map<std::string, int> calls;
    for (const std::string& op : sim_failable_operations()) calls[op] = sim_calls(op);
    return calls;
}

// Calls each operation makes while connecting on the default bus.
std::map<std::string, int> calls_to_connect() {
    std::string error;
    EXPECT_TRUE(sim_configure("", &error));
    quorvex_client* client = quorvex_new_client();
    testing::internal::CaptureStdout();
    EXPECT_EQ(quorvex_connect(client), 1);
    testing::internal::GetCapturedStdout();
    quorvex_disconnect(client);
    quorvex_free_client(client);
    return calls_of_every_operation();
}

// Each search opens each interface at most once; a listing opens it twice,
// without access and then as the modes do.
void expect_single_opens(const std::string& context, int most = 1) {
    std::map<std::string, int> opened;
    for (const sim_event& event : sim_events()) {
        if (event.op == "SetupDiGetClassDevsA") opened.clear();
        if (event.op != "CreateFileA") continue;
        EXPECT_LE(++opened[event.target], most) << context << ": opened too often in one search";
    }
}

int lines_starting(const std::string& text, const std::string& start) {
    std::istringstream in(text);
    int n = 0;
    for (std::string l; std::getline(in, l);) n += l.rfind(start, 0) == 0;
    return n;
}

std::string last_line_of(const std::string& out) {
    if (out.empty()) return out;
    const size_t start = out.rfind('\n', out.size() - 2);
    return out.substr(start == std::string::npos ? 0 : start + 1);
}

// /ping's and /flood's status against what the run printed.
void expect_measure_verdict(const run_result& run, const std::string& context) {
    const int failed = lines_starting(run.out, "failed ");
    const bool no_room = run.out.find("Error: no room for") != std::string::npos;
    EXPECT_EQ(run.status, no_room ? 2 : failed == 0 ? 0 : 4) << context << "\n" << run.out;
}

// /all's status and summary against what the run printed.
void expect_all_verdict(const run_result& run, const std::string& context) {
    const int refused = lines_starting(run.out, "failed WriteFile") + lines_starting(run.out, "failed HidD_SetOutputReport");
    const bool read_back = run.out.find("Success!") != std::string::npos;
    EXPECT_NE(run.out.find(", " + std::to_string(refused) + " refused; vendor message " +
                           (read_back ? "read back\n" : "not read back\n")),
              std::string::npos)
        << context << "\n" << run.out;
    EXPECT_EQ(run.status, refused == 0 && read_back ? 0 : 4) << context;
}

// Apart from what a /fuzz run printed, its journal is on disk exactly when
// it ends with 5 after fuzzed frames went out (the device was handed more
// than the first, the probe), or when removing it failed (as the failing
// DeleteFileA itself shows); it goes before the next run.
void expect_journal_kept_on_stall_only(const run_result& run, const std::string& context) {
    struct stat seen;
    const bool kept = stat(sweep_journal().c_str(), &seen) == 0;
    const bool undeletable = context.find(" fail=file:DeleteFileA@") != std::string::npos;
    const bool fuzzed = frames_handed().size() > 1;
    EXPECT_EQ(kept, (run.status == 5 && fuzzed) || (undeletable && run.status == 0)) << context << ": the journal is " << (kept ? "kept" : "gone") << " after status "
                                     << run.status << "\n" << run.out;
    unlink(sweep_journal().c_str());
}

// /fuzz's status against what the run printed.
void expect_fuzz_verdict(const run_result& run, const std::string& context) {
    const bool journal = run.out.find("Error: the fuzz journal") != std::string::npos;
    if (count_of(run.out, kSending) == 0) {
        const bool no_room = lines_starting(last_line_of(run.out), "Fuzzing") > 0 ||
                             run.out.find("watchdog could not start") != std::string::npos;
        EXPECT_EQ(run.status, journal || no_room ? 2 : 3) << context << "\n" << run.out;
        return;
    }
    const bool stopped = run.out.find("Fuzz: the driver stopped answering") != std::string::npos ||
                         run.out.find("Fuzz: the driver did not answer") != std::string::npos;
    EXPECT_EQ(run.status, stopped ? 5 : journal && run.out.find("the batch was not sent") != std::string::npos ? 2 : 0)
        << context << "\n" << run.out;
}

// /play's and /send's status against what the run printed.
void expect_play_verdict(const run_result& run, const std::string& context) {
    if (count_of(run.out, kSending) == 0) {
        // Ended before the device was searched, or it was not found.
        const bool unreadable = run.out.find("cannot be read") != std::string::npos;
        const bool no_room = run.out.empty() || run.out.find("Error: no room") != std::string::npos ||
                             run.out.find("watchdog could not start") != std::string::npos;
        EXPECT_EQ(run.status, unreadable ? 1 : no_room ? 2 : 3) << context << "\n" << run.out;
        return;
    }
    // An answer that never comes, its message refused, is waited for as long as the deadline.
    const bool stopped = lines_starting(run.out, "Stopped: ") > 0;
    const bool failed = lines_starting(run.out, "failed ") > 0 || run.out.find(": expected ") != std::string::npos;
    EXPECT_EQ(run.status, stopped ? 5 : failed ? 4 : 0) << context << "\n" << run.out;
}

void expect_released(const run_result& run, const std::string& context) {
    const sim_in_use usage = sim_usage();
    EXPECT_EQ(usage.sets, 0) << context;
    EXPECT_EQ(usage.preparsed, 0) << context;
    if (run.interrupted) {
        // Stopped like Ctrl+C mid-stream: process exit releases the connection.
        EXPECT_EQ(usage.handles, 2) << context;
        EXPECT_EQ(usage.heap_blocks, 1) << context;
    } else {
        EXPECT_TRUE(usage.none()) << context << ": " << sim_describe(usage);
    }
}

}  // namespace

TEST(Cost, EveryReportIsOneSendAndNoAllocation) {
    const std::map<std::string, int> connect = calls_to_connect();
    for (const mode& m : kModes) {
        run_here(m.scenario, m.args());
        EXPECT_EQ(sim_calls("WriteFile") + sim_calls("HidD_SetOutputReport"), m.reports) << m.option;
        EXPECT_EQ(frames_handed().size(), static_cast<size_t>(m.reports)) << m.option;
        if (std::string(m.option) == "/list") continue;
        // /ping keeps every round trip's time in one block, taken before the
        // first; a script is its text, its record and its steps.
        const int timings = std::string(m.option) == "/ping" ? 1 : scripted(m.option) ? 3 : 0;
        EXPECT_EQ(sim_calls("malloc"), connect.at("malloc") + timings) << m.option << ": the record and discovery only";
        expect_single_opens(m.option);
    }
}

TEST(FaultSweep, EveryCallOfEveryOperationFailingInTurn) {
    const std::map<std::string, int> connect = calls_to_connect();
    int runs = 0;
    for (const mode& m : kModes) {
        const run_result clean = run_here(m.scenario, m.args());
        const std::map<std::string, int> calls = calls_of_every_operation();

        for (const auto& [op, total] : calls) {
            for (int k = 1; k <= total; ++k) {
                const std::string context = std::string(m.option) + " fail=" + op + "@" + std::to_string(k);
                const run_result run = run_here(std::string(m.scenario) + ",fail=" + op + "@" + std::to_string(k),
                                                m.args());
                ++runs;
                if (std::string(m.option) == "/fuzz") expect_journal_kept_on_stall_only(run, context);
                expect_released(run, context);
                const bool listing = std::string(m.option) == "/list";
                expect_single_opens(context, listing ? 2 : 1);
                if (listing) {
                    // It finds the device or says why not; it never connects.
                    const bool found = run.out.find("; the modes will find the device\n") != std::string::npos;
                    EXPECT_EQ(run.status, found ? 0 : 3) << context << "\n" << run.out;
                    EXPECT_EQ(count_of(run.out, kSending), 0) << context;
                    continue;
                }

                if (op == "CreateEventA" || op == "OpenThread" || op == "CreateThread" ||
                    op == "SetConsoleCtrlHandler") {
                    // No deadline or no way to stop it with its summary, no run: it ends before the device is searched.
                    EXPECT_EQ(run.status, 2) << context;
                    const std::string no_memory = " (Not enough memory resources are available to process this command.)\n";
                    const std::string line =
                        op == "SetConsoleCtrlHandler"
                            ? "Error: the Ctrl+C handler could not be installed: SetConsoleCtrlHandler failed: 8" + no_memory
                            : "Error: the transfer watchdog could not start: " + op + " failed: 8" + no_memory;
                    EXPECT_EQ(run.out.substr(run.out.size() - std::min(line.size(), run.out.size())), line) << context;
                    EXPECT_EQ(count_of(run.out, kSending), 0) << context;
                    continue;
                }
                const std::string option = m.option;
                if (op == "malloc" && k == 1 && !scripted(option) && option != "/fuzz") {
                    EXPECT_EQ(run.status, 2) << context;
                    EXPECT_EQ(run.out, "") << context;
                    continue;
                }
                const bool connected = count_of(run.out, kSending) == 1;
                if (scripted(option)) expect_play_verdict(run, context);
                else if (option == "/fuzz") expect_fuzz_verdict(run, context);
                else if (connected && option == "/all") expect_all_verdict(run, context);
                else if (connected && (option == "/ping" || option == "/flood")) expect_measure_verdict(run, context);
                else EXPECT_TRUE(run.interrupted || run.status == (connected ? 0 : 3)) << context << "\n" << run.out;
                // A script is read before connect: its blocks and its file calls come first.
                const bool read_first = (scripted(option) && op == "malloc") || op.rfind("file:", 0) == 0;
                if (k > connect.at(op) && !read_first) {
                    // Past connect: discovery is untouched (after /fuzz's first line, which names its journal).
                    const std::string out = option == "/fuzz" ? run.out.substr(run.out.find('\n') + 1) : run.out;
                    EXPECT_EQ(out.substr(0, connected_prologue().size()), connected_prologue()) << context;
                }
                auto line = kFailureLine.find(op);
                if (line != kFailureLine.end()) {
                    EXPECT_LE(count_lines(run.out, line->second), count_lines(clean.out, line->second) + 1)
                        << context << "\n" << run.out;
                }
                const bool ended_early = run.status == 3 || (scripted(option) && (run.status == 1 || run.status == 2)) ||
                                         (option == "/fuzz" && run.status == 2 && count_of(run.out, kSending) == 0);
                EXPECT_EQ(count_of(run.out, kSending), ended_early ? 0 : 1) << context;
            }
        }
    }
    EXPECT_GT(runs, 600);
}
