// Multitouch: four contacts, two per set-output-report, down, moved and up.

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

struct contact {
    unsigned status, id, x, y, w, h;
    bool operator==(const contact& o) const {
        return status == o.status && id == o.id && x == o.x && y == o.y && w == o.w && h == o.h;
    }
};

contact read_contact(const std::vector<uint8_t>& frame, size_t at) {
    auto le16 = [&](size_t i) { return unsigned(frame[i] | (frame[i + 1] << 8)); };
    return {frame[at], frame[at + 1], le16(at + 2), le16(at + 4), le16(at + 6), le16(at + 8)};
}

const std::string kPhaseLine[] = {"quorvex_update_multitouch TOUCH_DOWN FAILED\n",
                                  "quorvex_update_multitouch TOUCH_MOVE FAILED\n",
                                  "quorvex_update_multitouch TOUCH_UP FAILED\n"};

}  // namespace

TEST(Multitouch, SixSetOutputReportsDownMoveUp) {
    const run_result run = run_here("clock=virtual", {"/multitouch"});
    EXPECT_EQ(run.out, connected_prologue() + "Sending multitouch report\n");
    EXPECT_EQ(sim_calls("WriteFile"), 0);
    // The contacts go down only after the three-second pause.
    std::string order;
    for (const sim_event& event : sim_events()) {
        if (event.op == "HidD_SetOutputReport") order += "S";
        if (event.op == "Sleep") order += std::to_string(event.sleep_ms);
    }
    EXPECT_EQ(order, "3000SSSSSS");

    const auto frames = frames_sent("HidD_SetOutputReport");
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(std::vector<uint8_t>(frames[0].begin(), frames[0].begin() + 13),
              (std::vector<uint8_t>{0x40, 0x16, 0x01, 0x07, 0x00, 0xE8, 0x03, 0x64, 0x19, 0x14, 0x00, 0x1E, 0x00}));

    for (size_t phase = 0; phase < 3; ++phase) {
        const unsigned status = phase == 2 ? 0 : 7;
        const unsigned moved = phase == 0 ? 0 : 1000;
        for (size_t half = 0; half < 2; ++half) {
            const auto& frame = frames[phase * 2 + half];
            EXPECT_EQ(frame[0], 0x40);
            EXPECT_EQ(frame[1], 22);
            EXPECT_EQ(frame[2], 0x01);
            EXPECT_EQ(frame[23], half == 0 ? 4 : 0) << "count, phase " << phase;
            for (unsigned slot = 0; slot < 2; ++slot) {
                const unsigned k = unsigned(half) * 2 + slot;
                const contact expected = {status, k, (k + 1) * 1000 + moved, 6500 + 1500 * k + moved, 20, 30};
                EXPECT_EQ(read_contact(frame, 3 + slot * 10), expected) << "phase " << phase << " contact " << k;
            }
        }
    }
}

TEST(Multitouch, ARefusedReportEndsItsPhaseAndTheNextPhaseGoesOn) {
    // Calls 1-2 are the down phase, 3-4 move, 5-6 up.
    struct {
        const char* fault;
        size_t sent;
        std::string lines;
    } cases[] = {
        {"fail=HidD_SetOutputReport@1", 4, "failed HidD_SetOutputReport 31\n" + kPhaseLine[0]},
        {"fail=HidD_SetOutputReport@4", 5, "failed HidD_SetOutputReport 31\n" + kPhaseLine[1]},
        {"fail=HidD_SetOutputReport@5", 4, "failed HidD_SetOutputReport 31\n" + kPhaseLine[2]},
        {"fail=HidD_SetOutputReport", 0,
         "failed HidD_SetOutputReport 31\n" + kPhaseLine[0] + "failed HidD_SetOutputReport 31\n" + kPhaseLine[1] +
             "failed HidD_SetOutputReport 31\n" + kPhaseLine[2]},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.fault, {"/multitouch"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, connected_prologue() + "Sending multitouch report\n" + c.lines) << c.fault;
        EXPECT_EQ(frames_sent().size(), c.sent) << c.fault;
    }
    // The phase after a refused first report still carries the moved contacts.
    run_here("clock=virtual,fail=HidD_SetOutputReport@1", {"/multitouch"});
    const auto frames = frames_sent();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(read_contact(frames[0], 3).x, 2000u);
    EXPECT_EQ(read_contact(frames[3], 13).y, 12000u);
    EXPECT_EQ(read_contact(frames[3], 13).status, 0u);
}
