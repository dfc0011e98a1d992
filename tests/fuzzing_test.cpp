// /fuzz over the simulated system, in virtual time: what the device is
// handed, when a planted fault is found, and the journal that must be on
// disk before each batch goes out.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "layout/fuzz_frames.h"
#include "tests/child_process.h"
#include "tests/support.h"

namespace {

std::string journal_path(const char* name) { return scratch_path(std::string("fuzz-") + name + ".txt"); }

bool exists(const std::string& path) {
    struct stat seen;
    return stat(path.c_str(), &seen) == 0;
}

// Where two long lists of frames first differ: their sizes and the first
// frame that is not the same, so that a failure stays readable.
std::string first_difference(const std::vector<expected_frame>& got, const std::vector<expected_frame>& wanted) {
    for (size_t i = 0; i < got.size() && i < wanted.size(); ++i) {
        if (got[i] == wanted[i]) continue;
        return "frame " + std::to_string(i) + ": " + testing::PrintToString(got[i]) + " instead of " +
               testing::PrintToString(wanted[i]);
    }
    return got.size() == wanted.size() ? "" : std::to_string(got.size()) + " frames instead of " + std::to_string(wanted.size());
}

// The totals line: the last but the one that names the codes, when any was refused.
std::string last_line(const std::string& out) {
    size_t end = out.size();
    if (out.compare(out.rfind('\n', end - 2) + 1, 19, "Fuzz: refused with ") == 0) end = out.rfind('\n', end - 2) + 1;
    const size_t start = out.rfind('\n', end - 2);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

}  // namespace

// Every phase, to the end: the device is handed exactly the frames of the
// seed, answers every check, and nothing is left behind.
TEST(Fuzz, AHealthyDriverSurvivesAndNothingIsLeftBehind) {
    const std::string journal = journal_path("healthy");
    const run_result run = run_here("clock=virtual", {"/fuzz", "/seed:1", "/count:100000", "/out:" + journal});
    EXPECT_EQ(run.status, 0) << last_line(run.out);
    EXPECT_FALSE(exists(journal));
    const std::vector<expected_frame> handed = frames_handed();
    EXPECT_EQ(first_difference(handed, expected_fuzz_frames(1, 100000)), "");
    size_t refused = 0;
    for (const sim_event& event : sim_events()) refused += event.error == ERROR_INVALID_PARAMETER;
    EXPECT_EQ(last_line(run.out), "Fuzz: 100000 frames (seed 1): " + std::to_string(100000 - refused) + " accepted, " +
                                      std::to_string(refused) + " refused (87: " + std::to_string(refused) +
                                      "); the driver answered all 1563 checks\n");
    // Each code is named once, after the totals that count by number.
    EXPECT_EQ(run.out.substr(run.out.size() - 53), "\nFuzz: refused with 87 (The parameter is incorrect.)\n");
    EXPECT_EQ(run.out.find("Fuzzing the quorvex device with 100000 frame(s) from seed 1, each transfer within 5000 ms; "
                           "journal " + journal + "\n"),
              0u);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());

    // The same seed gives the same frames; another, other random ones only.
    const run_result again = run_here("clock=virtual", {"/fuzz", "/seed:1", "/count:3000", "/out:" + journal});
    EXPECT_EQ(again.status, 0);
    // The same frames, and a check after the last, short batch.
    EXPECT_EQ(first_difference(frames_handed(), expected_fuzz_frames(1, 3000)), "");
    run_here("clock=virtual", {"/fuzz", "/seed:2", "/count:3000", "/out:" + journal});
    const std::vector<expected_frame> other = frames_handed();
    const size_t fixed = fuzz_header_frames() + fuzz_field_frames();
    EXPECT_EQ(fixed, 1792u + 270u);
    size_t same = 0;
    for (size_t i = 0; i < other.size(); ++i) same += other[i] == handed[i];
    EXPECT_GE(same, fixed + fixed / 64);
    EXPECT_LT(same, fixed + fixed / 64 + 100);
}

// A planted fault is found at the frame its phase reaches it in; the driver
// goes deaf, the run ends with 5 and keeps the journal, and the journal
// played again breaks the driver again.
TEST(Fuzz, APlantedFaultIsFoundAndItsJournalReplaysIt) {
    const struct {
        const char* rule;
        uint64_t frame;  // from 1
        fuzz_phase phase;
        std::string step;
    } cases[] = {
        // Kind bytes in order, each with its own length: 0x99 is the 154th.
        {"fragile=0x99/0", 154, fuzz_phase::headers, "frame 40 00 99 via=set"},
        // After the 1792 headers: 4 values each of the 13 multitouch, 4 mouse,
        // 3 digitizer and 6 joystick units before v7, whose largest is its third.
        {"fragile=joystick.v7=65535", 1792 + 4 * 26 + 3, fuzz_phase::fields, "frame 40 09 06 00 00 00 00 00 00 ff ff"},
    };
    for (const auto& c : cases) {
        const std::string journal = journal_path("fragile");
        unlink(journal.c_str());
        uint8_t frame[65];
        EXPECT_EQ(fuzz_frame(9, c.frame - 1, frame), c.phase) << c.rule;
        const std::string scenario = std::string("clock=virtual,") + c.rule;
        const run_result run = run_program(scenario.c_str(), {"/fuzz", "/seed:9", "/out:" + journal});
        EXPECT_EQ(run.status, 5) << c.rule;
        EXPECT_NE(run.out.find("\nFuzz: the driver stopped answering after frame " + std::to_string(c.frame) +
                               " (seed 9)\nThe frames sent since it last answered are in " + journal +
                               "; testquorvex /play:" + journal + " sends them again\n"),
                  std::string::npos)
            << c.rule << "\n" << run.out;
        const std::string kept = read_file(journal);
        EXPECT_NE(kept.find("\r\n" + c.step + "\r\n"), std::string::npos) << kept;
        EXPECT_EQ(kept.substr(kept.size() - 41), "flush\r\nmessage \"fuzz check\"\r\nexpect any\r\n");

        const run_result replay = run_program(scenario.c_str(), {"/play:" + journal, "/quiet"});
        EXPECT_EQ(replay.status, 5) << c.rule << "\n" << replay.out;
        EXPECT_NE(replay.err.find("the device goes deaf after this frame"), std::string::npos);
        unlink(journal.c_str());
    }
}

// The journal is on disk before a batch goes out: a journal that cannot be
// made, written or flushed stops the run before that batch, with status 2.
TEST(Fuzz, NoBatchGoesOutBeforeItsJournal) {
    const std::string journal = journal_path("first");
    const std::string check_tail = "; the batch was not sent\n";
    const struct {
        const char* scenario;
        size_t batches;  // sent before the run stopped
        std::string line;
    } cases[] = {
        {"fail=file:WriteFile@2", 1, "Error: the fuzz journal " + journal + ": WriteFile failed: 112 (There is not enough space on the disk.)" + check_tail},
        {"fail=file:FlushFileBuffers@1", 0,
         "Error: the fuzz journal " + journal + ": FlushFileBuffers failed: 29 (The system cannot write to the specified device.)" + check_tail},
        {"fail=file:CreateFileA", 0, "Error: the fuzz journal " + journal + ": CreateFileA failed: 32 (The process cannot access the file because it is being used by "
         "another process.); nothing was sent\n"},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, {"/fuzz", "/seed:4", "/out:" + journal});
        EXPECT_EQ(run.status, 2) << c.scenario;
        EXPECT_NE(run.out.find(c.line), std::string::npos) << c.scenario << "\n" << run.out;
        // Without its journal the run does not start: not even the probe goes out.
        const bool started = std::string(c.scenario) != "fail=file:CreateFileA";
        const std::vector<expected_frame> all = started ? expected_fuzz_frames(4, 64 * c.batches) : std::vector<expected_frame>{};
        EXPECT_EQ(first_difference(frames_handed(), all), "") << c.scenario;
        EXPECT_FALSE(exists(journal)) << c.scenario;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }

    // Never over an existing file, which may be an earlier run's evidence.
    const std::string earlier = script_file("evidence\n");
    const run_result refused = run_here("clock=virtual", {"/fuzz", "/out:" + earlier});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.out.find("Error: the fuzz journal " + earlier + " is already there, from an earlier run: replay "
                               "it with testquorvex /play:" + earlier +
                               ", or move it away, or choose another with /out:FILE; nothing was sent\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0);
    EXPECT_EQ(read_file(earlier), "evidence\n");
    unlink(earlier.c_str());

    // A path longer than Windows takes is said in words: the call that
    // measures it sets no error, so no code could be trusted.
    const std::string long_name(300, 'j');
    const run_result too_long = run_here("clock=virtual", {"/fuzz", "/out:" + long_name});
    EXPECT_EQ(too_long.status, 2);
    EXPECT_NE(too_long.out.find("journal " + long_name + ": its full path is "), std::string::npos) << too_long.out;
    EXPECT_NE(too_long.out.find(" characters long, more than the 260 a path may have; give /out: a shorter one\n"),
              std::string::npos)
        << too_long.out;
    EXPECT_EQ(too_long.out.find("failed"), std::string::npos) << too_long.out;
    EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0);
}

// An answer to a fuzzed message that comes after the check's flush must not
// pass for the check's own. The device echoes, as the probe finds: the check
// reads past the stale answer, gets nothing more, and the run ends with 5
// and its journal. A device that does not echo gets its pause before each
// flush instead, and any answer passes.
TEST(Fuzz, AStaleAnswerDoesNotPassTheCheck) {
    const std::string journal = scratch_path("stale.txt");
    // The 7th frame the device takes (the probe is the 1st) is the first
    // fuzzed message it answers.
    const run_result run =
        run_here("clock=virtual,late-answer=7", {"/fuzz", "/seed:1", "/count:640", "/out:" + journal, "/timeout:1000"});
    EXPECT_EQ(run.status, 5) << run.out;
    EXPECT_NE(run.out.find("failed ReadFile 995\nStopped: the driver did not complete ReadFile within 1000 ms\n"
                           "Fuzz: the driver stopped answering after frame 64 (seed 1)\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(reports_read().size(), 2u);  // the probe's answer, then the stale one
    EXPECT_TRUE(exists(journal));
    unlink(journal.c_str());

    // A driver that keeps the probe's read even past its cancel: the
    // watchdog ends the run, and the journal, which holds nothing, goes too.
    const run_result kept = run_program("clock=virtual,stall=ReadFile@1:deaf", {"/fuzz", "/seed:1", "/out:" + journal});
    EXPECT_EQ(kept.status, 5) << kept.out;
    EXPECT_EQ(last_line(kept.out), "Fuzz: the driver did not answer a message before the first frame (seed 1); nothing was fuzzed\n");
    EXPECT_FALSE(exists(journal));

    const run_result other = run_here("clock=virtual,reply=6f6b", {"/fuzz", "/seed:1", "/count:640", "/out:" + journal});
    EXPECT_EQ(other.status, 0) << other.out;
    EXPECT_EQ(sleeps(), std::vector<DWORD>(10, 100));
    EXPECT_FALSE(exists(journal));
}
