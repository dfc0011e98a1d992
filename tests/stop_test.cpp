// Stopping a long run: Ctrl+C and Ctrl+Break end it with its summary so far
// and the stop status, a deadline still wins, the modes end at once as they
// always did, and a run of any length keeps its memory flat.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fcntl.h>

#include "app/testquorvex.h"
#include "tests/child_process.h"
#include "tests/support.h"

namespace {

std::string tail(const std::string& text, size_t length) {
    return text.size() < length ? text : text.substr(text.size() - length);
}

// The whole program's peak resident memory, in KiB, its output thrown away.
long peak_kib(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        setenv("QUORVEX_SIM", "clock=virtual", 1);
        std::vector<char*> argv = {const_cast<char*>(TESTQUORVEX_EXE)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run did not end cleanly";
    return usage.ru_maxrss;
}

}  // namespace

// Each long run, stopped during its 9th transfer: that transfer finishes,
// nothing more is played, and the summary says what was done.
TEST(Stop, CtrlCEndsEachLongRunWithItsSummarySoFar) {
    const std::string journal = scratch_path("stop-journal.txt");
    const struct {
        std::vector<std::string> args;
        const char* scenario;
        int status;
        std::string tail;
    } cases[] = {
        {{"/all"}, "ctrl-c-after=9", EXIT_INTERRUPTED,
         "Sending digitizer report\nStopped by Ctrl+C\nAll: 9 reports sent, 0 refused; vendor message not read back\n"},
        {{"/ping", "/count:50"}, "ctrl-c-after=9", EXIT_INTERRUPTED,
         "Stopped by Ctrl+C\nRound trips: 5 sent, 5 answered; minimum 2.000 ms, median 2.000 ms, 99th percentile 2.000 "
         "ms, maximum 2.000 ms\n"},
        {{"/flood", "/count:100"}, "ctrl-break-after=9", EXIT_INTERRUPTED,
         "Stopped by Ctrl+Break\nFlood: 9 frames in 0.009 s, 1000 frames/s, 0 refused\n"},
        // A long pause is cut short too: the stop comes during the pause's first slice.
        {{"/play:" + example("multitouch")}, "interrupt-after=1", EXIT_INTERRUPTED,
         "Stopped by Ctrl+C\nPlay: 1 step, 0 reports sent, 0 refused\n"},
        {{"/play:" + example("digitizer"), "/repeat:5"}, "ctrl-c-after=9", EXIT_INTERRUPTED,
         "digitizer.txt:19: digitizer status=2 x=3000 y=20000\nStopped by Ctrl+C\nPlay: 17 steps, 9 reports sent, 0 "
         "refused\n"},
        // /fuzz checks the driver first; the journal goes only if it answers.
        // (The probe of whether the device echoes is transfers 1 and 2.)
        {{"/fuzz", "/seed:1", "/count:300", "/out:" + journal}, "ctrl-c-after=9", EXIT_INTERRUPTED,
         "Stopped by Ctrl+C\nFuzz: 7 frames (seed 1): 4 accepted, 3 refused (87: 3); the driver answered all 1 checks\n"
         "Fuzz: refused with 87 (The parameter is incorrect.)\n"},
        {{"/fuzz", "/seed:1", "/count:300", "/out:" + journal}, "ctrl-c-after=9,fail=ReadFile@2", EXIT_STALLED,
         "Fuzz: 7 frames (seed 1): 4 accepted, 3 refused (87: 3); the driver answered 0 of 1 checks\n"
         "Fuzz: refused with 87 (The parameter is incorrect.)\n"},
        // Ctrl+C while the second batch's journal is written: none of it goes out.
        {{"/fuzz", "/seed:1", "/count:300", "/out:" + journal}, "ctrl-c-at=file:WriteFile@2", EXIT_INTERRUPTED,
         "Stopped by Ctrl+C\nFuzz: 64 frames (seed 1): 6 accepted, 58 refused (87: 58); the driver answered all 1 checks\n"
         "Fuzz: refused with 87 (The parameter is incorrect.)\n"},
        // A deadline wins over the stop.
        {{"/flood", "/count:100"}, "ctrl-c-after=9,stall=WriteFile@9", EXIT_STALLED,
         "failed WriteFile 995\nStopped: the driver did not complete WriteFile within 5000 ms\nFlood: 9 frames in "
         "5.008 s, 1 frames/s, 1 refused\n"},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,latency=1000,") + c.scenario, c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << " " << c.scenario;
        EXPECT_EQ(tail(run.out, c.tail.size()), c.tail) << c.args[0] << " " << c.scenario << "\n" << run.out;
        EXPECT_TRUE(sim_usage().none()) << c.args[0] << ": " << sim_describe(sim_usage());
        const bool kept = c.status == EXIT_STALLED && c.args[0] == "/fuzz";
        EXPECT_EQ(access(journal.c_str(), F_OK) == 0, kept) << c.scenario;
        unlink(journal.c_str());
    }
}

// The whole program: a real SIGINT stops /flood with its summary and then
// ends it as SIGINT ends a program; the modes, with no handler, end at once.
TEST(Stop, TheWholeProgramEndsAsCtrlCEndsIt) {
    const run_result flood =
        run_program_until("latency=200", {"/flood", "/count:100000000"}, "sim: WriteFile control", SIGINT);
    EXPECT_EQ(flood.signal, SIGINT);
    EXPECT_NE(flood.out.find("\nStopped by Ctrl+C\nFlood: "), std::string::npos) << flood.out;
    EXPECT_EQ(tail(flood.out, 12), ", 0 refused\n") << flood.out;
    EXPECT_NE(flood.err.find("sim: exit: nothing left open\n"), std::string::npos) << tail(flood.err, 300);

    // A closing console leaves a few seconds: the summary at once, from the
    // handler's thread, and the process ends there, its handles to Windows.
    const run_result closing = run_program("clock=virtual,ctrl-close-after=9", {"/flood", "/count:100"});
    EXPECT_EQ(closing.status, static_cast<int>(STATUS_CONTROL_C_EXIT & 0xFF));
    const std::string closed = "\nStopped: the console is closing\nFlood: 9 frames in 0.000 s, too quick to time, 0 refused\n";
    EXPECT_EQ(tail(closing.out, closed.size()), closed) << closing.out;

    // Ctrl+C while the summary is printed: the summary has decided, from the
    // one look it took, and the status is its own.
    const run_result late = run_program("clock=virtual,ctrl-c-at-line=All:", {"/all"});
    EXPECT_EQ(late.status, 0) << late.out;
    EXPECT_EQ(late.out, connected_prologue() + expected_demonstration("/all"));

    const run_result mode = run_program("clock=virtual,ctrl-c-after=5", {"/keyboard"});
    EXPECT_EQ(mode.signal, SIGINT);
    EXPECT_EQ(mode.out, connected_prologue() + "Sending keyboard report\n");
    EXPECT_NE(mode.err.find("sim: no handler takes it: the process ends\n"), std::string::npos);
}

// The standalone program keeps no record of its transfers: ten times the
// frames, the same memory.
TEST(Stop, ALongRunKeepsItsMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's quarantine makes peak memory its own";
#else
    const long short_run = peak_kib({"/flood", "/count:300000"});
    const long long_run = peak_kib({"/flood", "/count:3000000"});
    printf("peak memory: %ld KiB for 300000 frames, %ld KiB for 3000000\n", short_run, long_run);
    EXPECT_LE(long_run, short_run + 2048);
#endif
}
