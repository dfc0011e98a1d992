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
        {{"t", "/?", "/mouse"}, QUORVEX_MODE_HELP}, {{"t", "/play:a.txt"}, QUORVEX_MODE_PLAY},
        {{"t", "/play"}, QUORVEX_MODE_PLAY}, {{"t", "/send"}, QUORVEX_MODE_SEND}, {{"t", "/send:x"}, 0},
        {{"t", "/fuzz:1"}, 0}, {{"t", "/mouse:1"}, 0},
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
    for (const char* bad : {"bogus=1", "others=x", "fail=NoSuchCall", "fail=WriteFile@0", "device=maybe", "locked",
                            "late-entry=CloseHandle@1", "late-entry=ReadFile", "ctrl-c-at=Nope@1", "ctrl-c-at=Sleep@0",
                            "ctrl-c-at-line=", "ctrl-c-at-line=a,ctrl-c-at-line=b"}) {
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
        std::string summary;  // the last lines
        const char* modifier = "/timeout:5000";
    } const cases[] = {
        {"fail=WriteFile@3", 4, "All: 31 reports sent, 1 refused; vendor message read back\n"},
        // A refused first report of a touch phase leaves out the second.
        {"fail=HidD_SetOutputReport@1", 4, "All: 30 reports sent, 1 refused; vendor message read back\n"},
        {"fail=ReadFile", 4, "All: 31 reports sent, 0 refused; vendor message not read back\n"},
        // The message write refused: nothing is read.
        {"fail=WriteFile@25", 4, "All: 31 reports sent, 1 refused; vendor message not read back\n"},
        {"unplug-after=20", 4, "All: 31 reports sent, 11 refused; vendor message not read back\n"},
        {"device=none", 3, kNotFound},
        // A transfer the driver keeps past its deadline is cancelled; nothing more is played.
        {"stall=WriteFile@3", 5,
         "Sending digitizer report\nfailed WriteFile 995\nStopped: the driver did not complete WriteFile within 5000 "
         "ms\nAll: 9 reports sent, 1 refused; vendor message not read back\n"},
        {"stall=HidD_SetOutputReport@2", 5,
         "Sending multitouch report\nfailed HidD_SetOutputReport 995\nStopped: the driver did not complete "
         "HidD_SetOutputReport within 250 ms\nquorvex_update_multitouch TOUCH_DOWN FAILED\nAll: 2 reports sent, 1 "
         "refused; vendor message not read back\n",
         "/timeout:250"},
        {"stall=WriteFile@14", 5,
         "Sending keyboard report\nfailed WriteFile 995\nStopped: the driver did not complete WriteFile within 1 ms\n"
         "All: 20 reports sent, 1 refused; vendor message not read back\n",
         "/timeout:1"},
        {"answer=none", 5,
         "Reading vendor message report\nfailed ReadFile 995\nStopped: the driver did not complete ReadFile within "
         "600000 ms\nAll: 31 reports sent, 0 refused; vendor message not read back\n",
         "/timeout:600000"},
        {"stall=ReadFile@1", 5, "failed ReadFile 995\nStopped: the driver did not complete ReadFile within 5000 ms\n"
         "All: 31 reports sent, 0 refused; vendor message not read back\n"},
        // The watchdog comes before the call is under way: its cancel finds
        // nothing, and neither a refusal at once nor a stall is taken for a
        // cancel that was never sent.
        {"late-entry=WriteFile@3,fail=WriteFile@3", 4, "All: 31 reports sent, 1 refused; vendor message read back\n",
         "/timeout:10"},
        {"late-entry=WriteFile@3,stall=WriteFile@3", 5,
         "Sending digitizer report\nfailed WriteFile 995\nStopped: the driver did not complete WriteFile within 10 ms\n"
         "All: 9 reports sent, 1 refused; vendor message not read back\n",
         "/timeout:10"},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, {"/all", c.modifier});
        EXPECT_EQ(run.status, c.status) << c.scenario;
        ASSERT_GE(run.out.size(), c.summary.size()) << c.scenario;
        EXPECT_EQ(run.out.substr(run.out.size() - c.summary.size()), c.summary) << c.scenario << "\n" << run.out;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
}

// A driver that keeps the cancelled transfer too: the run still ends, from
// the watchdog, with the same status.
TEST(All, ADriverThatIgnoresTheCancelStillEndsTheRun) {
    const run_result run = run_program("clock=virtual,stall=WriteFile@1:deaf", {"/all"});
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(run.out, connected_prologue() + expected_demonstration("/multitouch") +
                           "Sending mouse report\nStopped: the driver did not complete WriteFile within 5000 ms, nor "
                           "give it up when cancelled\nAll: 7 reports sent, 1 refused; vendor message not read back\n");
    EXPECT_NE(run.err.find("sim: WriteFile control stalls"), std::string::npos) << run.err;
}

// /wait: a device still arriving is waited for, quietly, then found as usual.
TEST(All, WaitsForADeviceStillArriving) {
    const run_result arrived = run_here("clock=virtual,arrive-after=1100", {"/all", "/wait:2"});
    EXPECT_EQ(arrived.status, 0);
    EXPECT_EQ(arrived.out, "Waiting up to 2 s for the quorvex device\nThe quorvex device is ready after 1250 ms\n" +
                               connected_prologue() + expected_demonstration("/all"));
    EXPECT_EQ(frames_received(), expected_frames("/all"));

    const run_result late = run_here("clock=virtual,arrive-after=1500", {"/all", "/wait:1"});
    EXPECT_EQ(late.status, 3);
    EXPECT_EQ(late.out, "Waiting up to 1 s for the quorvex device\nThe quorvex device did not come within 1 s\n" +
                            search_line(1) + kNotFound);
    EXPECT_EQ(sleeps(), (std::vector<DWORD>{250, 250, 250, 250}));
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

TEST(FrontEnd, AMalformedModifierPrintsTheUsageAndNamesIt) {
    const struct {
        std::vector<std::string> args;
        const char* line;
    } cases[] = {
        {{"/all", "/timeout:0"}, "Bad value after /all: /timeout:0 (a whole number from 1 to 600000)\n"},
        {{"/all", "/timeout:600001"}, "Bad value after /all: /timeout:600001 (a whole number from 1 to 600000)\n"},
        {{"/all", "/wait:"}, "Bad value after /all: /wait: (a whole number from 1 to 3600)\n"},
        {{"/all", "/wait:-1"}, "Bad value after /all: /wait:-1 (a whole number from 1 to 3600)\n"},
        {{"/all", "/timeout:5", "extra"}, "Malformed modifier after /all: extra\n"},
        {{"/all", "timeout:5"}, "Malformed modifier after /all: timeout:5\n"},
        {{"/list", "/timeout:5"}, "Not a modifier of /list: /timeout:5\n"},
        {{"/all", "/TIMEOUT:5"}, "Not a modifier of /all: /TIMEOUT:5\n"},
        {{"/all", "/time:5"}, "Not a modifier of /all: /time:5\n"},
        {{"/ping", "/count:0"}, "Bad value after /ping: /count:0 (a whole number from 1 to 1000000)\n"},
        {{"/ping", "/count:1000001"}, "Bad value after /ping: /count:1000001 (a whole number from 1 to 1000000)\n"},
        {{"/flood", "/count:100000001"},
         "Bad value after /flood: /count:100000001 (a whole number from 1 to 100000000)\n"},
        {{"/flood", "/count:1234567890"},
         "Bad value after /flood: /count:1234567890 (a whole number from 1 to 100000000)\n"},
        {{"/ping", "/wait:1"}, "Not a modifier of /ping: /wait:1\n"},
        {{"/all", "/count:3"}, "Not a modifier of /all: /count:3\n"},
        // Ten digits, each modifier's own range, 0 included; flags and texts.
        {{"/fuzz", "/seed:4294967296"}, "Bad value after /fuzz: /seed:4294967296 (a whole number from 0 to 4294967295)\n"},
        {{"/fuzz", "/seed:04294967295"}, "Bad value after /fuzz: /seed:04294967295 (a whole number from 0 to 4294967295)\n"},
        {{"/fuzz", "/out:"}, "Bad value after /fuzz: /out: (a file name)\n"},
        {{"/fuzz", "/repeat:2"}, "Not a modifier of /fuzz: /repeat:2\n"},
        {{"/ping", "/trace:"}, "Bad value after /ping: /trace: (a file name)\n"},
        {{"/list", "/trace:t.txt"}, "Not a modifier of /list: /trace:t.txt\n"},
        {{"/play:x", "/quiet:1"}, "Bad value after /play: /quiet:1 (/quiet takes no value)\n"},
        {{"/play:x", "/repeat"}, "Bad value after /play: /repeat (a whole number from 1 to 1000000)\n"},
        {{"/play"}, "Missing value: /play:FILE\n"},
        {{"/play:"}, "Missing value: /play:FILE\n"},
    };
    for (const auto& c : cases) {
        const run_result run = run_here("", c.args);
        EXPECT_EQ(run.status, 1) << c.line;
        EXPECT_EQ(run.out, std::string(kUsage) + c.line);
        EXPECT_EQ(sim_calls("SetupDiGetClassDevsA") + sim_calls("malloc"), 0) << c.line;
    }
}
