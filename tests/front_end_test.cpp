// The command line, the exit statuses and the run as a whole process.

#include <gtest/gtest.h>

#include "app/testquorvex.h"
#include "tests/support.h"

TEST(FrontEnd, OptionsMatchWholeAndCaseSensitively) {
    struct {
        std::vector<const char*> argv;
        uint8_t mode;
    } cases[] = {
        {{"t"}, 0},           {{"t", "/MOUSE"}, 0},          {{"t", "mouse"}, 0},
        {{"t", "/mouse "}, 0}, {{"t", "/mouses"}, 0},         {{"t", "/"}, 0},
        {{"t", ""}, 0},       {{"t", "/multitouch"}, 1},     {{"t", "/mouse"}, 3},
        {{"t", "/digitizer"}, 5}, {{"t", "/joystick"}, 6},   {{"t", "/keyboard"}, 7},
        {{"t", "/message"}, 16}, {{"t", "/mouse", "/keyboard", "x"}, 3},
        {{"t", "/list"}, QUORVEX_MODE_LIST}, {{"t", "/all"}, QUORVEX_MODE_ALL}, {{"t", "/?"}, QUORVEX_MODE_HELP},
        {{"t", "/help"}, QUORVEX_MODE_HELP}, {{"t", "/LIST"}, 0}, {{"t", "/all "}, 0}, {{"t", "-?"}, 0},
        {{"t", "/?", "/mouse"}, QUORVEX_MODE_HELP},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mode_from_options(static_cast<int>(c.argv.size()), c.argv.data()), c.mode)
            << (c.argv.size() > 1 ? c.argv[1] : "(none)");
    }
}

TEST(FrontEnd, BadOptionPrintsUsageWithoutTouchingTheDevice) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"/MOUSE"}, {"mouse"}}) {
        const run_result run = run_here("", args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kUsage);
        EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0);
        EXPECT_EQ(sim_calls("malloc"), 0);
    }
}

TEST(FrontEnd, ExtraWordsAfterTheOptionAreIgnored) {
    const run_result plain = run_here("clock=virtual", {"/mouse"});
    const run_result extra = run_here("clock=virtual", {"/mouse", "extra", "words"});
    EXPECT_EQ(extra.status, 0);
    EXPECT_EQ(extra.out, plain.out);
}

TEST(FrontEnd, ConnectedRunAnnouncesOnceBetweenDiscoveryAndDemonstration) {
    const run_result run = run_here("clock=virtual", {"/mouse"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, connected_prologue() + "Sending mouse report\n");
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

TEST(FrontEnd, NoDeviceEndsWithStatusThreeAfterOneSearch) {
    const run_result run = run_here("device=none,locked=1", {"/mouse"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, search_line(1) + "Error: CreateFile failed: 5\n" + kNotFound);
    EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 1);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

TEST(FrontEnd, FailedAllocationOfTheRecordEndsSilentlyWithStatusTwo) {
    const run_result run = run_here("fail=malloc@1", {"/mouse"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0);
}

TEST(WholeProgram, ExitStatusesAndTheDeviceTrace) {
    const run_result usage = run_program("", {"/Mouse"});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.out, kUsage);

    const run_result none = run_program("device=none", {"/keyboard"});
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.out, search_line(1) + kNotFound);
    EXPECT_NE(none.err.find("sim: exit: nothing left open\n"), std::string::npos) << none.err;

    const run_result oom = run_program("fail=malloc@1", {"/keyboard"});
    EXPECT_EQ(oom.status, 2);
    EXPECT_EQ(oom.out, "");

    const run_result mouse = run_program(nullptr, {"/mouse"});
    EXPECT_EQ(mouse.status, 0);
    EXPECT_EQ(mouse.out, connected_prologue() + "Sending mouse report\n");
    EXPECT_NE(mouse.err.find("sim: WriteFile control 65 bytes: 40 07 03 00 e8 03 10 27 00 00 00 "), std::string::npos)
        << mouse.err;
    EXPECT_NE(mouse.err.find(" | mouse buttons=0x00 x=1000 y=10000 wheel=0\n"), std::string::npos);
    EXPECT_NE(mouse.err.find("sim: exit: nothing left open\n"), std::string::npos);
}

TEST(WholeProgram, MalformedScenarioStopsBeforeTheClientStarts) {
    for (const char* bad : {"bogus=1", "others=x", "fail=NoSuchCall", "fail=WriteFile@0", "device=maybe", "locked"}) {
        const run_result run = run_program(bad, {"/mouse"});
        EXPECT_EQ(run.status, 64) << bad;
        EXPECT_EQ(run.out, "") << bad;
        EXPECT_NE(run.err.find("sim: bad QUORVEX_SIM item"), std::string::npos) << run.err;
    }
}

TEST(FrontEnd, HelpGivesTheVersionAndTheUsageWithoutTouchingTheDevice) {
    for (const char* option : {"/?", "/help"}) {
        const run_result run = run_here("", {option});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, expected_help());
        EXPECT_EQ(sim_calls("SetupDiGetClassDevsA") + sim_calls("malloc"), 0);
    }
}

// /all: one connect, the five demonstrations that end, and a status that
// tells a refused report or an unread message from a clean run.
TEST(All, EveryReportAcceptedAndTheMessageReadBackIsStatusZero) {
    const run_result run = run_here("clock=virtual", {"/all"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/all"));
    EXPECT_EQ(frames_received(), expected_frames("/all"));
    EXPECT_EQ(reports_read(), expected_replies("/all"));
    EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 2);
    EXPECT_EQ(sleeps(), (std::vector<DWORD>{3000, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100}));
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

TEST(All, RefusalsAndAFailedReadEndWithStatusFour) {
    struct {
        const char* scenario;
        int status;
        std::string summary;  // the last line
    } const cases[] = {
        {"fail=WriteFile@3", 4, "All: 31 reports sent, 1 refused; vendor message read back\n"},
        // A refused first report of a touch phase leaves out the second.
        {"fail=HidD_SetOutputReport@1", 4, "All: 30 reports sent, 1 refused; vendor message read back\n"},
        {"fail=ReadFile", 4, "All: 31 reports sent, 0 refused; vendor message not read back\n"},
        // The message write refused: nothing is read.
        {"fail=WriteFile@25", 4, "All: 31 reports sent, 1 refused; vendor message not read back\n"},
        {"unplug-after=20", 4, "All: 31 reports sent, 11 refused; vendor message not read back\n"},
        {"device=none", 3, kNotFound},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, {"/all"});
        EXPECT_EQ(run.status, c.status) << c.scenario;
        ASSERT_GE(run.out.size(), c.summary.size()) << c.scenario;
        EXPECT_EQ(run.out.substr(run.out.size() - c.summary.size()), c.summary) << c.scenario << "\n" << run.out;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
}
