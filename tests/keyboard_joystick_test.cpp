// Keyboard script, the endless joystick stream and its generator.

#include <gtest/gtest.h>

#include "reports/joystick.h"
#include "tests/support.h"

TEST(Keyboard, ElevenFramesTypeHelloWithOnePause) {
    const run_result run = run_here("clock=virtual", {"/keyboard"});
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/keyboard"));
    EXPECT_EQ(frames_received(), expected_frames("/keyboard"));
    // One pause, after the second report.
    EXPECT_EQ(sleeps(), std::vector<DWORD>{100});
    size_t writes_before_pause = 0;
    for (const sim_event& event : sim_events()) {
        if (event.op == "Sleep") break;
        if (event.op == "WriteFile") ++writes_before_pause;
    }
    EXPECT_EQ(writes_before_pause, 2u);
}

TEST(Keyboard, TraceNamesTheKeys) {
    const run_result run = run_program("clock=virtual", {"/keyboard"});
    EXPECT_EQ(run.status, 0);
    for (const char* shown : {"modifiers=[Left GUI] keys=[]", "modifiers=[Left Shift] keys=[H]", "keys=[E]",
                              "keys=[L]", "keys=[O]", "keys=[Caps Lock]"}) {
        EXPECT_NE(run.err.find(shown), std::string::npos) << shown;
    }
}

TEST(Joystick, GeneratorIsTheClassicUnseededRuntimeRand) {
    rand15 generator;
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int value : expected) EXPECT_EQ(rand15_next(generator), value);
    for (int i = 0; i < 100000; ++i) {
        const int value = rand15_next(generator);
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 0x7FFF);
    }
}

TEST(Joystick, StreamCountersWrapAndCarryTheRandomWord) {
    const run_result run = run_here("clock=virtual,interrupt-after=300", {"/joystick"});
    EXPECT_TRUE(run.interrupted);
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/joystick"));
    EXPECT_EQ(sleeps(), std::vector<DWORD>(300, 10));
    // Past 256 reports, so both counters have wrapped.
    EXPECT_EQ(frames_received(), expected_frames("/joystick", 300));
}

TEST(Joystick, RefusedWritesDoNotStopTheStream) {
    const run_result run = run_here("clock=virtual,interrupt-after=5,fail=WriteFile@2,fail=WriteFile@4", {"/joystick"});
    EXPECT_EQ(run.out, connected_prologue() + "Sending joystick report\nfailed WriteFile 31\nfailed WriteFile 31\n");
    EXPECT_EQ(sim_calls("WriteFile"), 5);
    const std::vector<expected_frame> all = expected_frames("/joystick", 5);
    EXPECT_EQ(frames_received(), (std::vector<expected_frame>{all[0], all[2], all[4]}));
}

// Unplugged mid-stream, as Windows reports it: every frame after fails with
// ERROR_DEVICE_NOT_CONNECTED, the stream goes on and stays stoppable, and
// nothing is held beyond the connection that process exit gives back.
TEST(Joystick, AnUnpluggedDeviceFailsEveryFrameAndTheStreamStaysStoppable) {
    const run_result run = run_here("clock=virtual,unplug-after=3,interrupt-after=10", {"/joystick"});
    EXPECT_TRUE(run.interrupted);
    std::string failures;
    for (int i = 0; i < 7; ++i) failures += "failed WriteFile 1167\n";
    EXPECT_EQ(run.out, connected_prologue() + "Sending joystick report\n" + failures);
    EXPECT_EQ(frames_received(), expected_frames("/joystick", 3));
    EXPECT_EQ(sim_calls("WriteFile"), 10);
    const sim_in_use usage = sim_usage();
    EXPECT_EQ(usage.handles, 2);
    EXPECT_EQ(usage.heap_blocks, 1);
    EXPECT_EQ(usage.sets + usage.preparsed, 0);
}
