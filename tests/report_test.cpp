// /report:FILE: every long run's cases as a CI server reads them, stopped
// runs included, the output and status as without it, and a report that is
// whole or not there, under the file faults.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/testquorvex.h"
#include "tests/support.h"

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Every report the tests make, kept for the schema check when it asks
// (tests/validate_reports.sh); the copies' names say which case made them.
void keep_for_schema(const std::string& path, const std::string& label) {
    const char* folder = std::getenv("QUORVEX_REPORTS_DIR");
    if (folder == nullptr || !exists(path)) return;
    static int made = 0;
    std::string name = label;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    std::ofstream(std::string(folder) + "/" + std::to_string(++made) + "-" + name.substr(0, 60) + ".xml", std::ios::binary)
        << read_file(path);
}

int count(const std::string& text, const std::string& what) {
    int found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
    return found;
}

}  // namespace

// Each kind of run, with /report and without: the same output and status,
// and the report says which case failed and why.
TEST(Report, EachRunListsItsCasesAndLeavesOutputAndStatusAsTheyAre) {
    const std::string report = scratch_path("report.xml");
    const std::string journal = scratch_path("report-journal.txt");
    const std::string any = script_file("message \"a\"\r\nexpect any\r\n");
    const std::string wrong = script_file("message \"ping\"\r\nexpect \"pong\"\r\nmouse buttons=1\r\n");
    const struct {
        std::vector<std::string> args;
        const char* scenario;
        int status;
        std::vector<std::string> contains;
        int cases;
    } cases[] = {
        {{"/all"}, "", EXIT_DEMONSTRATED,
         {"<testsuite name=\"testquorvex /all\" package=\"testquorvex\" id=\"0\" hostname=\"QUORVEX-HOST\"",
          "tests=\"5\" failures=\"0\" errors=\"0\" skipped=\"0\"", "<testcase classname=\"all\" name=\"multitouch\"",
          "<testcase classname=\"all\" name=\"message\" time=\"0.", "<property name=\"exit status\" value=\"0\"/>",
          "<system-err></system-err>"},
         5},
        // The refused report's line, under the demonstration that sent it.
        {{"/all"}, "fail=WriteFile@2", EXIT_REFUSED,
         {"<testcase classname=\"all\" name=\"mouse\" time=\"",
          "<failure type=\"refused\" message=\"1 report(s) refused\">failed WriteFile 31\n</failure>",
          "failures=\"1\" errors=\"0\""},
         5},
        {{"/all"}, "fail=ReadFile@1", EXIT_REFUSED,
         {"<failure type=\"not read back\" message=\"vendor message not read back\">failed ReadFile 1167\nvendor message "
          "not read back\n</failure>"},
         5},
        // A stall is an error of the demonstration it cut short; the rest were not played.
        {{"/all", "/timeout:250"}, "stall=WriteFile@3", EXIT_STALLED,
         {"name=\"digitizer\" time=\"0.35", "<error type=\"stopped\" message=\"Stopped: the driver did not complete "
          "WriteFile within 250 ms\">",
          "name=\"keyboard\" time=\"0.000000\">\n      <skipped message=\"not played: the run was stopped\"/>",
          "errors=\"1\" skipped=\"2\"",
          "<system-err>Stopped: the driver did not complete WriteFile within 250 ms\n</system-err>"},
         5},
        {{"/all"}, "ctrl-c-after=9", EXIT_INTERRUPTED,
         {"errors=\"0\" skipped=\"2\"", "<property name=\"exit status\" value=\"130\"/>",
          "<system-err>Stopped by Ctrl+C\n</system-err>"},
         5},
        // /play: every expectation, and each step the driver refused, by file and line.
        {{"/play:" + wrong}, "reply=pang", EXIT_REFUSED,
         {":2\" time=\"",
          "<failure type=\"expectation\" message=\"expected &quot;pong&quot;, the device answered &quot;pang&quot;\"",
          "tests=\"1\" failures=\"1\""},
         1},
        {{"/play:" + wrong, "/repeat:2"}, "fail=WriteFile@2", EXIT_REFUSED,
         {":2 (repetition 1)\"", ":2 (repetition 2)\"", ":3 (repetition 1)\"",
          "<failure type=\"refused\" message=\"refused: 31 (A device attached to the system is not functioning.)\">"
          "failed WriteFile 31\n</failure>"},
         3},
        // Past 1000 cases the rest are counted in one.
        {{"/play:" + any, "/repeat:1002"}, "", EXIT_DEMONSTRATED,
         {":2 (repetition 1000)\"", "<testcase classname=\"testquorvex\" name=\"2 more test cases\" time=\"0\"/>",
          "tests=\"1001\" failures=\"0\""},
         1001},
        // /fuzz: a case per phase however many frames, and one for the check that failed.
        {{"/fuzz", "/seed:1", "/count:100000", "/out:" + journal}, "", EXIT_DEMONSTRATED,
         {"name=\"header sweep\"", "name=\"field boundaries\"", "name=\"random\"", "failures=\"0\" errors=\"0\"",
          "<property name=\"seed\" value=\"1\"/>", "<property name=\"frames\" value=\"100000\"/>"},
         3},
        {{"/fuzz", "/seed:1", "/count:100000", "/out:" + journal}, "fail=ReadFile@4", EXIT_STALLED,
         {"name=\"check after frame 192\"", "(seed 1); frames 129 to 192 are in " + journal + "; testquorvex /play:" +
          journal + " sends them again", "<failure type=\"stopped answering\"", "failed ReadFile 1167\n</failure>",
          "name=\"header sweep\" time=\"", "name=\"random\" time=\"0.000000\">\n      <skipped message=\"not reached: "
          "the run ended after frame 192\"/>", "failures=\"2\" errors=\"0\" skipped=\"2\""},
         4},
        {{"/fuzz", "/seed:1", "/count:10", "/out:" + journal}, "", EXIT_DEMONSTRATED,
         {"name=\"random\" time=\"0.000000\">\n      <skipped message=\"no frames of this phase in 10\"/>",
          "skipped=\"2\""},
         3},
        // /ping and /flood: one case, the figures as properties.
        {{"/ping", "/count:5"}, "latency=1000", EXIT_DEMONSTRATED,
         {"<testcase classname=\"ping\" name=\"round trips\" time=\"0.01", "<property name=\"answered\" value=\"5\"/>",
          "<property name=\"median ms\" value=\"2.000\"/>"},
         1},
        {{"/flood", "/count:10"}, "fail=WriteFile@4", EXIT_REFUSED,
         {"<property name=\"frames\" value=\"10\"/>", "<property name=\"refused\" value=\"1\"/>",
          "<failure type=\"refused\" message=\"1 of 10 frames refused\">failed WriteFile 31\n</failure>"},
         1},
        // /verify: a case for each kind sent, its first miss named.
        {{"/all", "/verify"}, "inputs=open", EXIT_DEMONSTRATED,
         {"<testcase classname=\"verify\" name=\"Touch Screen input collection\" time=\"0.000000\"/>",
          "<testcase classname=\"verify\" name=\"Keyboard input collection\"", "tests=\"9\" failures=\"0\""},
         9},
        {{"/all", "/verify"}, "inputs=open,altered=mouse", EXIT_REFUSED,
         {"<testcase classname=\"verify\" name=\"Mouse input collection\" time=\"0.000000\">\n      <failure "
          "type=\"input\" message=\"0 of 1 arrived as sent; 0 not delivered, 1 changed, 0 unasked; first: /mouse report 1: "
          "changed: sent mouse ",
          "tests=\"9\" failures=\"1\""},
         9},
        // A run that never started still says why.
        {{"/all"}, "device=none", EXIT_NO_DEVICE,
         {"<testcase classname=\"testquorvex\" name=\"start\" time=\"0.000000\">\n      <error type=\"not started\" "
          "message=\"the quorvex device was not found or did not open\">"},
         1},
    };
    for (const auto& c : cases) {
        const std::string label = c.args[0] + " " + c.scenario;
        const std::string scenario = std::string("clock=virtual,") + c.scenario;
        unlink(journal.c_str());
        const run_result plain = run_here(scenario, c.args);
        unlink(journal.c_str());
        std::vector<std::string> args = c.args;
        args.push_back("/report:" + report);
        const run_result reported = run_here(scenario, args);
        EXPECT_EQ(reported.status, c.status) << label;
        EXPECT_EQ(reported.status, plain.status) << label;
        EXPECT_EQ(reported.out, plain.out) << label;
        EXPECT_TRUE(sim_usage().none()) << label << ": " << sim_describe(sim_usage());
        const std::string xml = read_file(report);
        for (const std::string& part : c.contains) EXPECT_NE(xml.find(part), std::string::npos) << label << "\n" << part << "\n" << xml;
        EXPECT_EQ(count(xml, "<testcase "), c.cases) << label << "\n" << xml;
        EXPECT_TRUE(std::regex_search(xml, std::regex("timestamp=\"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\"")))
            << xml;
        EXPECT_FALSE(exists(report + ".tmp")) << label;
        keep_for_schema(report, label);
        unlink(report.c_str());
    }
    unlink(journal.c_str());
}

// Neither the device's bytes nor a file's name make the XML malformed: a
// control character is written as a script writes it.
TEST(Report, ControlCharactersAreWrittenAsScriptsWriteThem) {
    const std::string report = scratch_path("bytes.xml");
    const std::string script = scratch_path("odd\x01<name>\x7f.txt");
    std::ofstream(script) << "message \"a\"\r\nexpect \"b\"\r\n";
    const run_result run = run_here("clock=virtual,replyhex=01263c", {"/play:" + script, "/report:" + report});
    EXPECT_EQ(run.status, EXIT_REFUSED);
    const std::string xml = read_file(report);
    EXPECT_NE(xml.find("the device answered "), std::string::npos) << xml;
    EXPECT_NE(xml.find("odd\\x01&lt;name&gt;\\x7f.txt:2\""), std::string::npos) << xml;
    for (const char c : xml) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << static_cast<int>(c) << "\n" << xml;
    keep_for_schema(report, "device bytes");
    unlink(report.c_str());
}

// A report is whole or not there: one that cannot be made stops the run
// before anything is sent; a failed write, flush or move is status 2 whatever
// the run's own, leaves no temporary file, and an earlier report as it was.
TEST(Report, FileFaultsGiveStatusTwoAndNeverHalfAReport) {
    const std::string report = scratch_path("faults.xml");
    const struct {
        const char* fault;
        const char* line;
    } cases[] = {
        {"fail=file:CreateFileA",
         "Error: the report %R: CreateFileA failed for %R.tmp: 32 (The process cannot access the file because it is "
         "being used by another process.); nothing was sent\n"},
        {"fail=file:WriteFile", "Error: the report %R: WriteFile failed: 112 (There is not enough space on the disk.)\n"},
        {"fail=file:FlushFileBuffers",
         "Error: the report %R: FlushFileBuffers failed: 29 (The system cannot write to the specified device.)\n"},
        {"fail=file:MoveFileExA", "Error: the report %R: MoveFileExA failed: 5 (Access is denied.)\n"},
    };
    for (const auto& c : cases) {
        std::ofstream(report) << "the last run's report";
        // fail=WriteFile@2: the run's own status would be 4.
        const run_result run =
            run_here(std::string("clock=virtual,fail=WriteFile@2,") + c.fault, {"/all", "/report:" + report});
        std::string line = c.line;
        for (size_t at = line.find("%R"); at != std::string::npos; at = line.find("%R")) line.replace(at, 2, report);
        EXPECT_EQ(run.status, EXIT_NO_RESOURCES) << c.fault;
        EXPECT_NE(run.out.find(line), std::string::npos) << c.fault << "\n" << run.out;
        EXPECT_EQ(read_file(report), "the last run's report") << c.fault;
        EXPECT_FALSE(exists(report + ".tmp")) << c.fault;
        EXPECT_TRUE(sim_usage().none()) << c.fault << ": " << sim_describe(sim_usage());
        if (std::string(c.fault) == "fail=file:CreateFileA") {
            EXPECT_TRUE(frames_handed().empty()) << "sent before the report could be made";
            EXPECT_EQ(run.out.find("Success"), std::string::npos) << run.out;
        }
    }
    // Without a fault, an earlier report is replaced.
    const run_result run = run_here("clock=virtual", {"/all", "/report:" + report});
    EXPECT_EQ(run.status, EXIT_DEMONSTRATED);
    EXPECT_EQ(read_file(report).rfind("<?xml", 0), 0u);
    keep_for_schema(report, "replaced");
    unlink(report.c_str());
    // A folder where the report goes: the move is refused, as Windows refuses it.
    const std::string folder = scratch_path("a-folder.xml");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const run_result over_folder = run_here("clock=virtual", {"/all", "/report:" + folder});
    EXPECT_EQ(over_folder.status, EXIT_NO_RESOURCES);
    EXPECT_NE(over_folder.out.find("MoveFileExA failed: 5 (Access is denied.)"), std::string::npos) << over_folder.out;
    EXPECT_FALSE(exists(folder + ".tmp"));
    rmdir(folder.c_str());
}

// The whole program: the watchdog's last words, when the driver ignores the
// cancel too, and a closing console's handler end the process from their own
// threads, with the report written there.
TEST(Report, TheThreadThatEndsTheRunWritesTheReport) {
    const std::string report = scratch_path("watchdog.xml");
    const run_result run = run_program("clock=virtual,stall=WriteFile@2:deaf", {"/all", "/report:" + report});
    EXPECT_EQ(run.status, EXIT_STALLED);
    const std::string xml = read_file(report);
    EXPECT_NE(xml.find("name=\"digitizer\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<error type=\"stopped\" message=\"Stopped: the driver did not complete WriteFile within 5000 ms\">"),
              std::string::npos)
        << xml;
    EXPECT_EQ(count(xml, "<skipped "), 2) << xml;
    keep_for_schema(report, "watchdog");
    unlink(report.c_str());

    const run_result closing = run_program("clock=virtual,ctrl-close-after=9", {"/flood", "/count:100", "/report:" + report});
    EXPECT_EQ(closing.status, static_cast<int>(STATUS_CONTROL_C_EXIT & 0xFF));
    const std::string closed = read_file(report);
    EXPECT_NE(closed.find("<testcase classname=\"flood\" name=\"frames\" time=\""), std::string::npos) << closed;
    EXPECT_NE(closed.find("<error type=\"stopped\" message=\"Stopped: the console is closing\">"), std::string::npos)
        << closed;
    EXPECT_NE(closed.find("<property name=\"frames\" value=\"9\"/>"), std::string::npos) << closed;
    keep_for_schema(report, "console closing");
    unlink(report.c_str());
}
