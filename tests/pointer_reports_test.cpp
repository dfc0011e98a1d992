// Mouse and digitizer: frames as the device received them, and the pauses.

#include <gtest/gtest.h>

#include "tests/support.h"

TEST(Mouse, OneFrameWithLittleEndianCoordinates) {
    const run_result run = run_here("clock=virtual", {"/mouse"});
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/mouse"));
    // Whole frames: nothing uninitialised travels after the inner report.
    EXPECT_EQ(frames_received(), expected_frames("/mouse"));
    EXPECT_TRUE(sleeps().empty());
}

TEST(Digitizer, TwelveFramesAlongThePathWithTenPauses) {
    const run_result run = run_here("clock=virtual", {"/digitizer"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/digitizer"));
    EXPECT_EQ(frames_received(), expected_frames("/digitizer"));

    // A pause after each of the first ten sends, none after the last two.
    std::vector<std::string> order;
    for (const sim_event& event : sim_events()) {
        if (event.op == "WriteFile") order.push_back("W");
        if (event.op == "Sleep") order.push_back(std::to_string(event.sleep_ms));
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) {
        expected.push_back("W");
        expected.push_back("100");
    }
    expected.push_back("W");
    expected.push_back("W");
    EXPECT_EQ(order, expected);
}

TEST(Digitizer, EveryWriteRefusedStillMakesAllTwelveCalls) {
    const run_result run = run_here("clock=virtual,fail=WriteFile", {"/digitizer"});
    EXPECT_EQ(run.status, 0);
    std::string expected = connected_prologue() + "Sending digitizer report\n";
    for (int i = 0; i < 12; ++i) expected += "failed WriteFile 31\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(sim_calls("WriteFile"), 12);
    EXPECT_EQ(sleeps().size(), 10u);
    EXPECT_TRUE(sim_usage().none());
}

TEST(Digitizer, RealClockPausesAboutOneSecondAndTheTraceDecodes) {
    const run_result run = run_program("", {"/digitizer"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find(" | digitizer status=3 x=2000 y=20000\nsim: Sleep 100\n"), std::string::npos) << run.err;
}
