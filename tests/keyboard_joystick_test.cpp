// Keyboard script, the endless joystick stream and its generator.

#include <gtest/gtest.h>

#include "reports/joystick.h"
#include "tests/support.h"

TEST(Keyboard, ElevenFramesTypeHelloWithOnePause) {
    const run_result run = run_here("clock=virtual", {"/keyboard"});
    EXPECT_EQ(run.out, connected_prologue() + "Sending keyboard report\n");
    const auto frames = frames_sent("WriteFile");
    ASSERT_EQ(frames.size(), 11u);
    const uint8_t modifiers[11] = {0x08, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t keys[11] = {0, 0, 0x0B, 0x08, 0x0F, 0, 0x0F, 0x12, 0, 0x39, 0};
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        EXPECT_EQ(f[0], 0x40);
        EXPECT_EQ(f[1], 9);
        EXPECT_EQ(f[2], 0x07);
        EXPECT_EQ(f[3], modifiers[i]) << i;
        EXPECT_EQ(f[4], 0) << "reserved byte, frame " << i;
        EXPECT_EQ(f[5], keys[i]) << i;
        for (size_t k = 6; k < 11; ++k) EXPECT_EQ(f[k], 0) << "frame " << i << " byte " << k;
    }
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
    EXPECT_EQ(run.out, connected_prologue() + "Sending joystick report\n");
    const auto frames = frames_sent("WriteFile");
    ASSERT_EQ(frames.size(), 300u);
    EXPECT_EQ(sleeps(), std::vector<DWORD>(300, 10));

    EXPECT_EQ(std::vector<uint8_t>(frames[0].begin(), frames[0].begin() + 11),
              (std::vector<uint8_t>{0x40, 0x09, 0x06, 0x00, 0x00, 0x80, 0x00, 0x80, 0x40, 0x00, 0x00}));
    rand15 generator;
    for (size_t n = 0; n < frames.size(); ++n) {
        const auto& f = frames[n];
        const uint8_t up = static_cast<uint8_t>(n);
        ASSERT_EQ(f[3], up) << n;
        ASSERT_EQ(f[4], up) << n;
        ASSERT_EQ(f[5], static_cast<uint8_t>(up + 0x80)) << n;
        ASSERT_EQ(f[6], up) << n;
        ASSERT_EQ(f[7], static_cast<uint8_t>(up + 0x80)) << n;
        ASSERT_EQ(f[8], static_cast<uint8_t>(0x40 - n)) << n;
        if (n > 0) {
            const int first = rand15_next(generator);
            const int second = rand15_next(generator);
            const unsigned r = ((first << 15) | second) & 0xFFFF;
            ASSERT_EQ(f[9] | (f[10] << 8), r) << n;
        }
    }
    // Bit 15 comes from the first draw's lowest bit, the rest from the second draw.
    EXPECT_EQ(frames[1][9] | (frames[1][10] << 8), (41 << 15 | 18467) & 0xFFFF);
    EXPECT_EQ(frames[256][3], 0);
    EXPECT_EQ(frames[256][8], 0x40);
}

TEST(Joystick, RefusedWritesDoNotStopTheStream) {
    const run_result run = run_here("clock=virtual,interrupt-after=5,fail=WriteFile@2,fail=WriteFile@4", {"/joystick"});
    EXPECT_EQ(run.out, connected_prologue() + "Sending joystick report\nfailed WriteFile 31\nfailed WriteFile 31\n");
    EXPECT_EQ(sim_calls("WriteFile"), 5);
    const auto frames = frames_sent();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1][3], 2);  // the third report goes on with U = 2
}
