// Multitouch: four contacts, two per set-output-report, down, moved and up.

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

const std::string kPhaseLine[] = {"quorvex_update_multitouch TOUCH_DOWN FAILED\n",
                                  "quorvex_update_multitouch TOUCH_MOVE FAILED\n",
                                  "quorvex_update_multitouch TOUCH_UP FAILED\n"};

}  // namespace

TEST(Multitouch, SixSetOutputReportsDownMoveUp) {
    const run_result run = run_here("clock=virtual", {"/multitouch"});
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/multitouch"));
    EXPECT_EQ(frames_received(), expected_frames("/multitouch"));
    // The contacts go down only after the three-second pause.
    std::string order;
    for (const sim_event& event : sim_events()) {
        if (event.op == "HidD_SetOutputReport") order += "S";
        if (event.op == "Sleep") order += std::to_string(event.sleep_ms);
    }
    EXPECT_EQ(order, "3000SSSSSS");
}

TEST(Multitouch, ARefusedReportEndsItsPhaseAndTheNextPhaseGoesOn) {
    // Calls 1-2 are the down phase, 3-4 move, 5-6 up; the phases after a
    // refusal still carry the moved, then lifted, contacts.
    struct {
        const char* fault;
        std::vector<size_t> sent;  // which of the six expected frames arrive
        std::string lines;
    } cases[] = {
        {"fail=HidD_SetOutputReport@1", {2, 3, 4, 5}, "failed HidD_SetOutputReport 31\n" + kPhaseLine[0]},
        {"fail=HidD_SetOutputReport@4", {0, 1, 2, 4, 5}, "failed HidD_SetOutputReport 31\n" + kPhaseLine[1]},
        {"fail=HidD_SetOutputReport@5", {0, 1, 2, 3}, "failed HidD_SetOutputReport 31\n" + kPhaseLine[2]},
        {"fail=HidD_SetOutputReport", {},
         "failed HidD_SetOutputReport 31\n" + kPhaseLine[0] + "failed HidD_SetOutputReport 31\n" + kPhaseLine[1] +
             "failed HidD_SetOutputReport 31\n" + kPhaseLine[2]},
    };
    const std::vector<expected_frame> all = expected_frames("/multitouch");
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.fault, {"/multitouch"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/multitouch") + c.lines) << c.fault;
        std::vector<expected_frame> expected;
        for (size_t i : c.sent) expected.push_back(all[i]);
        EXPECT_EQ(frames_received(), expected) << c.fault;
    }
}
