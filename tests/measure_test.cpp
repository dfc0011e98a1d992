// /ping and /flood over the simulated system, in virtual time: exact
// summaries, and the statuses a refusal, a failure and a stall give.

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

const std::string kPingHead = "Round trips to the quorvex device: 4 vendor message(s), each answer within 5000 ms\n";
const std::string kFloodHead = "Flooding the quorvex device: 7 joystick frame(s) back to back, each within 5000 ms\n";

}  // namespace

TEST(Ping, EveryRoundTripTimedFromTheWriteToItsAnswer) {
    const run_result run = run_here("clock=virtual,latency=250", {"/ping", "/count:4"});
    EXPECT_EQ(run.status, 0);
    // Each transfer takes 250 us: a write and its read, 0.5 ms.
    EXPECT_EQ(run.out, connected_prologue() + kPingHead +
                           "Round trips: 4 sent, 4 answered; minimum 0.500 ms, median 0.500 ms, 99th percentile "
                           "0.500 ms, maximum 0.500 ms\n");
    EXPECT_EQ(frames_received(), expected_frames("/ping", 4));
    EXPECT_EQ(reports_read(), expected_replies("/ping", 4));
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());

    // Latencies taken in turn: round trips of 0.3, 1.2, 1.7, 0.6 and 2.4 ms.
    const run_result spread = run_here("clock=virtual,latency=100/200/400/800/1600", {"/ping", "/count:5"});
    EXPECT_NE(spread.out.find("\nRound trips: 5 sent, 5 answered; minimum 0.300 ms, median 1.200 ms, 99th percentile "
                              "2.400 ms, maximum 2.400 ms\n"),
              std::string::npos)
        << spread.out;
}

// Past 65535 the sequence number's upper half goes out too, in its place.
TEST(Ping, SequenceNumbersPastSixteenBits) {
    const run_result run = run_here("clock=virtual", {"/ping", "/count:70000"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(frames_received(), expected_frames("/ping", 70000));
}

TEST(Ping, RefusalsFailuresAndAStall) {
    const std::string times = "; minimum 0.500 ms, median 0.500 ms, 99th percentile 0.500 ms, maximum 0.500 ms\n";
    struct {
        const char* scenario;
        int status;
        std::string tail;
        int writes;
    } const cases[] = {
        // A refused message has no answer to wait for; the run goes on.
        {"fail=WriteFile@2", 4, "failed WriteFile 31\nRound trips: 4 sent, 3 answered" + times, 4},
        {"fail=ReadFile@3", 4, "failed ReadFile 1167\nRound trips: 4 sent, 3 answered" + times, 4},
        {"fail=ReadFile", 4, "failed ReadFile 1167\nRound trips: 4 sent, 0 answered\n", 4},
        // No answer within the deadline: the run stops there, with what it has.
        {"stall=ReadFile@2", 5,
         "failed ReadFile 995\nStopped: the driver did not complete ReadFile within 5000 ms\nRound trips: 2 sent, 1 "
         "answered" + times, 2},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,latency=250,") + c.scenario, {"/ping", "/count:4"});
        EXPECT_EQ(run.status, c.status) << c.scenario;
        ASSERT_GE(run.out.size(), c.tail.size()) << c.scenario;
        EXPECT_EQ(run.out.substr(run.out.size() - c.tail.size()), c.tail) << c.scenario << "\n" << run.out;
        EXPECT_EQ(sim_calls("WriteFile"), c.writes) << c.scenario;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
}

TEST(Flood, NeutralFramesBackToBackAndTheirRate) {
    struct {
        const char* scenario;
        int status;
        std::string out;
        size_t frames;
    } const cases[] = {
        {"latency=250", 0, "Flood: 7 frames in 0.001 s, 4000 frames/s, 0 refused\n", 7},
        {"", 0, "Flood: 7 frames in 0.000 s, too quick to time, 0 refused\n", 7},
        {"fail=WriteFile@3", 4, "failed WriteFile 31\nFlood: 7 frames in 0.000 s, too quick to time, 1 refused\n", 6},
        // The time includes the deadline the stalled frame waited out.
        {"stall=WriteFile@4", 5,
         "failed WriteFile 995\nStopped: the driver did not complete WriteFile within 5000 ms\nFlood: 4 frames in "
         "5.000 s, 0 frames/s, 1 refused\n", 3},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, {"/flood", "/count:7"});
        EXPECT_EQ(run.status, c.status) << c.scenario;
        EXPECT_EQ(run.out, connected_prologue() + kFloodHead + c.out) << c.scenario;
        EXPECT_EQ(frames_received(), expected_frames("/flood", c.frames)) << c.scenario;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
    // A run longer than a second says how it goes, once a second.
    const run_result long_run = run_here("clock=virtual,latency=250", {"/flood", "/count:9000"});
    EXPECT_NE(long_run.out.find("\nFlood: 4000 frames so far, 4000 frames/s\nFlood: 8000 frames so far, 4000 "
                                "frames/s\nFlood: 9000 frames in 2.250 s, 4000 frames/s, 0 refused\n"),
              std::string::npos)
        << long_run.out;
}
