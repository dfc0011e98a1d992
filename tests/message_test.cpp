// Vendor message: the greeting out through the control collection, the
// device's message back from the message collection, printed as data.

#include <gtest/gtest.h>

#include <csignal>

#include "tests/support.h"

namespace {

const std::string kExchange = "Writing vendor message report\nReading vendor message report\nSuccess!\n    ";

std::string printed_reply(const std::string& scenario) {
    const run_result run = run_here(scenario, {"/message"});
    EXPECT_EQ(run.status, 0);
    const std::string prefix = connected_prologue() + kExchange;
    EXPECT_EQ(run.out.substr(0, prefix.size()), prefix);
    return run.out.size() > prefix.size() ? run.out.substr(prefix.size()) : "";
}

}  // namespace

TEST(Message, GreetingGoesOutZeroPaddedAndTheEchoIsPrinted) {
    const run_result run = run_here("", {"/message"});
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/message"));
    EXPECT_EQ(frames_received(), expected_frames("/message"));
    EXPECT_EQ(reports_read(), expected_replies("/message"));
    EXPECT_EQ(sim_events().back().target, "message");
    EXPECT_TRUE(sim_usage().none());
}

TEST(Message, RepliesArePrintedAsDataUpToTheFirstZeroAndAtMost32Bytes) {
    EXPECT_EQ(printed_reply("reply=%s %n %d %x"), "%s %n %d %x");
    EXPECT_EQ(printed_reply("reply="), "");
    EXPECT_EQ(printed_reply("replyhex=00414243"), "");
    EXPECT_EQ(printed_reply("replyhex=c3a9ff80410042"), "\xc3\xa9\xff\x80\x41");
    const std::string full(32, 'Z');
    EXPECT_EQ(printed_reply("reply=" + full), full);
    // A read that delivers less than a whole report prints only what came.
    EXPECT_EQ(printed_reply("replylen=6,reply=" + full), "ZZZZZ");
    EXPECT_EQ(printed_reply("replylen=0,reply=" + full), "");
}

TEST(Message, RefusedWriteReadsNothingAndFailedReadPrintsNoSuccess) {
    const run_result refused = run_here("fail=WriteFile", {"/message"});
    EXPECT_EQ(refused.status, 0);
    EXPECT_EQ(refused.out, connected_prologue() + "Writing vendor message report\nfailed WriteFile 31\n");
    EXPECT_EQ(sim_calls("ReadFile"), 0);

    const run_result unread = run_here("fail=ReadFile", {"/message"});
    EXPECT_EQ(unread.status, 0);
    EXPECT_EQ(unread.out, connected_prologue() +
                              "Writing vendor message report\nReading vendor message report\nfailed ReadFile 1167\n");
    EXPECT_TRUE(sim_usage().none());
}

TEST(Message, EveryLineReachesARedirectedStdoutWhileTheReadWaits) {
    const run_result run = run_program_until("answer=none", {"/message"}, "sim: ReadFile message waits");
    EXPECT_EQ(run.signal, SIGTERM);
    EXPECT_EQ(run.out, connected_prologue() + "Writing vendor message report\nReading vendor message report\n");
}

TEST(Joystick, EveryLineReachesARedirectedStdoutWhenCtrlCStopsTheStream) {
    const run_result run = run_program("clock=virtual,interrupt-after=25", {"/joystick"});
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_EQ(run.out, connected_prologue() + "Sending joystick report\n");
    EXPECT_NE(run.err.find("joystick v1=24 v2=24 v3=152 v4=24 v5=152 v6=40 v7="), std::string::npos);
}
