// Mouse and digitizer: frames as the device received them, and the pauses.

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

std::vector<uint8_t> head(const std::vector<uint8_t>& frame, size_t n) { return {frame.begin(), frame.begin() + n}; }

}  // namespace

TEST(Mouse, OneFrameWithLittleEndianCoordinates) {
    const run_result run = run_here("clock=virtual", {"/mouse"});
    EXPECT_EQ(run.out, connected_prologue() + "Sending mouse report\n");
    const auto frames = frames_sent("WriteFile");
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].size(), 65u);
    EXPECT_EQ(head(frames[0], 9), (std::vector<uint8_t>{0x40, 0x07, 0x03, 0x00, 0xE8, 0x03, 0x10, 0x27, 0x00}));
    // Nothing uninitialised travels after the inner report.
    for (size_t i = 9; i < 65; ++i) EXPECT_EQ(frames[0][i], 0) << i;
    EXPECT_TRUE(sleeps().empty());
}

TEST(Digitizer, TwelveFramesAlongThePathWithTenPauses) {
    const run_result run = run_here("clock=virtual", {"/digitizer"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, connected_prologue() + "Sending digitizer report\n");

    const auto frames = frames_sent("WriteFile");
    ASSERT_EQ(frames.size(), 12u);
    EXPECT_EQ(head(frames[0], 8), (std::vector<uint8_t>{0x40, 0x06, 0x05, 0x02, 0xE8, 0x03, 0x10, 0x27}));
    EXPECT_EQ(head(frames[11], 8), (std::vector<uint8_t>{0x40, 0x06, 0x05, 0x00, 0xB8, 0x0B, 0x10, 0x27}));
    // Status 3 from Y 16000 on the first leg to X 3000 on the second.
    std::string statuses;
    for (const auto& frame : frames) statuses += static_cast<char>('0' + frame[3]);
    EXPECT_EQ(statuses, "222333332220");

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
