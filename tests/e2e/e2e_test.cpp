// End to end: the unmodified Windows program on Wine's HID stack (setupapi,
// hid.dll, hidclass.sys), finding and driving the quorvex device that our own
// minidriver presents. e2e.sh starts this with the environment below, in the
// shared prefix where the e2e_device fixture installed the device.

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/expectations.h"
#include "tests/scratch.h"

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? "" : value;
}

// The loader for the program under test, the folder of the Windows programs
// of that architecture, and the device tool, always run by the 64-bit loader.
const std::string kLoader = env("QUORVEX_E2E_LOADER");
const std::string kPrograms = env("QUORVEX_E2E_PROGRAMS");
const std::string kWine64 = "/usr/lib/wine/wine64";
const std::string kDevices = env("WINEPREFIX") + "/drive_c/quorvex/quorvex_devices.exe";
// Where the minidriver appends what it receives and delivers, and where it
// reads which request to misbehave on.
const std::string kRecord = env("WINEPREFIX") + "/drive_c/quorvex-record.bin";
const std::string kPend = env("WINEPREFIX") + "/drive_c/quorvex-pend.txt";

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// What discovery prints under Wine, whose share modes let the second search
// reopen the control collection and pass over it without a line.
std::string prologue() { return search_line(1) + kFound + search_line(2) + kFound + kSending; }

struct recorded {
    std::vector<expected_frame> frames;        // received by write or set-output-report
    std::vector<std::vector<uint8_t>> replies;  // input reports delivered
    std::vector<std::vector<uint8_t>> inputs;   // reports delivered on the input collections
    std::string kinds;                          // every entry's kind, in order
};

// The record: a kind byte ('W', 'S', 'R'; 'I' input collection's report; 'P'
// pended, 'C' cancelled, 'T' given up, 'A' answer withheld), a length byte,
// 65 bytes.
// The driver only ever adds to its record: a test's part of it starts where
// the file ended when the test reset it.
size_t g_record_base;

std::string recorded_since_reset() {
    const std::string bytes = read_file(kRecord);
    return bytes.size() > g_record_base ? bytes.substr(g_record_base) : std::string();
}

recorded read_record() {
    const std::string bytes = recorded_since_reset();
    recorded r;
    for (size_t at = 0; at + 67 <= bytes.size(); at += 67) {
        const auto* entry = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        std::vector<uint8_t> report(entry + 2, entry + 2 + entry[1]);
        r.kinds += static_cast<char>(entry[0]);
        if (entry[0] == 'R') r.replies.push_back(report);
        else if (entry[0] == 'I') r.inputs.push_back(report);
        else if (entry[0] == 'W' || entry[0] == 'S') r.frames.push_back({static_cast<char>(entry[0]), report});
    }
    return r;
}

// Has the driver misbehave on one request for as long as it lives.
struct misbehaving {
    explicit misbehaving(const std::string& what) {
        static unsigned nonce = static_cast<unsigned>(getpid()) * 1000;
        std::ofstream(kPend, std::ios::trunc) << what << " " << ++nonce;
    }
    ~misbehaving() { std::remove(kPend.c_str()); }
};

size_t frames_recorded() { return recorded_since_reset().size() / 67; }

void reset_record() { g_record_base = read_file(kRecord).size(); }

child_process start(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kLoader, kPrograms + "/" + program};
    argv.insert(argv.end(), args.begin(), args.end());
    return start_child(argv);
}

child_result run(const std::string& program, const std::vector<std::string>& args) {
    child_process child = start(program, args);
    return finish_child(child, 60000);
}

// Adds or removes collections through Plug and Play; the tool returns once
// their interfaces have appeared or gone.
void devices(const std::string& command, const std::string& which) {
    std::vector<std::string> argv = {kWine64, kDevices, command};
    if (command == "install") argv.push_back("C:\\quorvex\\quorvexhid.inf");
    argv.push_back(which);
    child_process child = start_child(argv);
    const child_result done = finish_child(child, 30000);
    ASSERT_EQ(done.status, 0) << command << " " << which << ": " << done.out << done.err;
}

// Each test leaves the device as the fixture made it, whatever it asserts.
struct reinstall_afterwards {
    std::string which;
    ~reinstall_afterwards() { devices("install", which); }
};

bool wait_until(int timeout_ms, const std::function<bool()>& done) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (done()) return true;
        usleep(10000);
    }
    return done();
}

// A Windows program that crashed says so on standard error.
void expect_no_crash(const child_result& result) {
    EXPECT_FALSE(result.timed_out) << "not stoppable";
    EXPECT_EQ(result.err.find("nhandled exception"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("page fault"), std::string::npos) << result.err;
}

void expect_whole_run(const std::string& option) {
    reset_record();
    const child_result result = run("testquorvex.exe", {option});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, crlf(prologue() + expected_demonstration(option)));
    EXPECT_EQ(result.err, "");
    const recorded r = read_record();
    EXPECT_EQ(r.frames, expected_frames(option));
    EXPECT_EQ(r.replies, expected_replies(option));
}

}  // namespace

TEST(EndToEnd, multitouch) { expect_whole_run("/multitouch"); }
TEST(EndToEnd, mouse) { expect_whole_run("/mouse"); }
TEST(EndToEnd, digitizer) { expect_whole_run("/digitizer"); }
TEST(EndToEnd, keyboard) { expect_whole_run("/keyboard"); }
TEST(EndToEnd, message) { expect_whole_run("/message"); }

// Stopped from outside, as a tester stops it, after at least 100 frames:
// every line it printed is in the redirected output, and every frame is the
// stream's, value-7 words from the generator included.
TEST(EndToEnd, joystick) {
    reset_record();
    child_process child = start("testquorvex.exe", {"/joystick"});
    ASSERT_TRUE(wait_until(20000, [] { return frames_recorded() >= 10; })) << "the stream did not start";
    const auto from = std::chrono::steady_clock::now();
    const bool streamed = wait_until(20000, [] { return frames_recorded() >= 110; });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    kill(child.pid, SIGINT);
    const child_result result = finish_child(child, 10000);
    ASSERT_TRUE(streamed) << "fewer than 110 frames in 20 s";
    printf("joystick stream through Wine's HID stack: %.1f frames a second (its pauses allow 100)\n", 100 / seconds);

    expect_no_crash(result);
    EXPECT_EQ(result.out, crlf(prologue() + expected_demonstration("/joystick")));
    const recorded r = read_record();
    EXPECT_GE(r.frames.size(), 110u);
    EXPECT_EQ(r.frames, expected_frames("/joystick", r.frames.size()));
}

// Only the control collection: the second search fails, and the run with it.
TEST(EndToEnd, control_only) {
    reinstall_afterwards guard{"message"};
    devices("remove", "message");
    reset_record();
    const child_result result = run("testquorvex.exe", {"/mouse"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, crlf(search_line(1) + kFound + search_line(2) + kNotFound));
    EXPECT_TRUE(read_record().frames.empty());
}

// Unplugged while it streams: it goes on printing its failure line with the
// error Wine gives, stays stoppable, and does not crash.
TEST(EndToEnd, removed_while_streaming) {
    reinstall_afterwards guard{"both"};
    reset_record();
    child_process child = start("testquorvex.exe", {"/joystick"});
    const bool streamed = wait_until(20000, [] { return frames_recorded() >= 20; });
    if (streamed) devices("remove", "both");
    const std::string failure = "failed WriteFile ";
    const bool failing = wait_until(10000, [&] {
        const std::string out = read_file(child.out_path);
        size_t count = 0;
        for (size_t at = out.find(failure); at != std::string::npos; at = out.find(failure, at + 1)) ++count;
        return count >= 3;
    });
    kill(child.pid, SIGINT);
    const child_result result = finish_child(child, 10000);
    ASSERT_TRUE(streamed) << "the stream did not start";
    ASSERT_TRUE(failing) << "no failure lines after the removal:\n" << result.out;
    expect_no_crash(result);

    const std::string head = crlf(prologue() + expected_demonstration("/joystick"));
    ASSERT_EQ(result.out.substr(0, head.size()), head);
    // Nothing but failure lines after the removal, all with the same error.
    const std::string tail = result.out.substr(head.size());
    const std::string first = tail.substr(0, tail.find("\r\n") + 2);
    EXPECT_EQ(first.rfind(failure, 0), 0u) << first;
    EXPECT_NE(first, failure + "0\r\n");
    // The demonstration ends at once on Ctrl+C, so its last line may be cut short.
    const size_t whole = tail.rfind("\r\n") + 2;
    EXPECT_EQ(first.rfind(tail.substr(whole), 0), 0u) << tail.substr(whole);
    size_t lines = 0;
    for (size_t at = 0; at < whole; at += first.size(), ++lines) EXPECT_EQ(tail.substr(at, first.size()), first);
    printf("after the removal: %zu x \"%s\"\n", lines, first.substr(0, first.size() - 2).c_str());
    // What reached the device before it went is the stream's beginning.
    const recorded r = read_record();
    EXPECT_EQ(r.frames, expected_frames("/joystick", r.frames.size()));
}

// Wine's HID stack and the simulated system agree on what the client relies
// on, the device's records and collections among it.
TEST(EndToEnd, conformance) {
    const child_result result = run("quorvex_conformance.exe", {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "all behaviours as expected of Wine, the quorvex device's among them\r\n");
}

// /all: one connect, the five modes' frames in order, the echo, status 0.
TEST(EndToEnd, all) { expect_whole_run("/all"); }

// /list with the device whole, then with its message collection unplugged;
// and /? beside it. It sends nothing.
TEST(EndToEnd, list) {
    reinstall_afterwards guard{"message"};
    reset_record();
    const child_result help = run("testquorvex.exe", {"/?"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, crlf(expected_help()));

    const child_result whole = run("testquorvex.exe", {"/list"});
    EXPECT_EQ(whole.status, 0) << whole.out;
    EXPECT_EQ(whole.err, "");
    // The strings come from the minidriver, through Wine's class driver.
    for (const char* part : {"#{4d1e55b2-f16f-11cf-88cb-001111000030}\r\n    identity: VID 0x001f, PID 0xba1c, usage page "
                             "0xff00, usage 0x0001, input report 0 bytes, output report 65 bytes, feature report 0 "
                             "bytes\r\n    strings: manufacturer \"quorvex\", product \"quorvex virtual HID device\", "
                             "serial number \"0001\"\r\n    read/write open: yes\r\n    verdict: the quorvex control "
                             "collection\r\n",
                             "    identity: VID 0x001f, PID 0xba1c, usage page 0xff00, usage 0x0002, input report 33 "
                             "bytes, output report 0 bytes, feature report 0 bytes\r\n    strings: manufacturer "
                             "\"quorvex\", product \"quorvex virtual HID device\", serial number \"0001\"\r\n"
                             "    read/write open: yes\r\n    verdict: the quorvex message collection\r\n",
                             "Not present (known to the system, device gone): 0 interface(s)\r\n",
                             "; quorvex control collection: opens; quorvex message collection: opens; the modes will "
                             "find the device\r\n"})
        EXPECT_NE(whole.out.find(part), std::string::npos) << part << "\nin:\n" << whole.out;

    devices("remove", "message");
    const child_result half = run("testquorvex.exe", {"/list"});
    EXPECT_EQ(half.status, 3);
    EXPECT_EQ(half.out.find("verdict: the quorvex message collection"), std::string::npos) << half.out;
    EXPECT_NE(half.out.find("Not present (known to the system, device gone): 1 interface(s); quorvex: "
                            "\\\\?\\hid#vid_001f&pid_ba1c&col02#"),
              std::string::npos)
        << half.out;
    EXPECT_NE(half.out.find("; quorvex message collection: not present; the modes will not find the device\r\n"),
              std::string::npos)
        << half.out;
    EXPECT_TRUE(read_record().frames.empty());
}

// A write the driver keeps: the run ends with status 5 within its deadline
// and the grace after it. On Windows the class driver passes the cancel on to
// the minidriver; Wine's waits for the write on the one thread that also
// dispatches the cancel, so there the cancel never arrives, the client gives
// the transfer up, and the driver lets it go on its own ('T').
TEST(EndToEnd, all_stalled) {
    reset_record();
    misbehaving pend("W 1");
    child_process child = start("testquorvex.exe", {"/all", "/timeout:2000"});
    const bool pended = wait_until(20000, [] { return read_record().kinds.find('P') != std::string::npos; });
    const auto from = std::chrono::steady_clock::now();
    const child_result result = finish_child(child, 30000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    ASSERT_TRUE(pended) << "the driver was never asked for the write:\n" << result.out;
    expect_no_crash(result);
    EXPECT_EQ(result.status, 5);
    // From the write the driver keeps: the deadline, and at most 2 s more.
    EXPECT_LT(seconds, 2 + 2.0);
    ASSERT_TRUE(wait_until(15000, [] { return read_record().kinds.find_first_of("CT") != std::string::npos; }))
        << "the driver still holds the write: " << read_record().kinds;
    const recorded r = read_record();
    const bool cancelled = r.kinds.find('C') != std::string::npos;
    printf("the pended write was %s; the run ended %.1f s after it\n",
           cancelled ? "cancelled" : "never cancelled in the driver, and given up by the client", seconds);
    const std::string stop = cancelled ? "failed WriteFile 995\nStopped: the driver did not complete WriteFile within "
                                         "2000 ms\n"
                                       : "Stopped: the driver did not complete WriteFile within 2000 ms, nor give it up "
                                         "when cancelled\n";
    EXPECT_EQ(result.out, crlf(prologue() + expected_demonstration("/multitouch") + "Sending mouse report\n" + stop +
                               "All: 7 reports sent, 1 refused; vendor message not read back\n"));
    EXPECT_EQ(r.kinds.substr(0, 8), "SSSSSSP" + std::string(1, cancelled ? 'C' : 'T'));
    EXPECT_EQ(r.frames, expected_frames("/multitouch"));
}

// The vendor message never answered: the read is cancelled, status 5.
TEST(EndToEnd, all_silent) {
    reset_record();
    misbehaving pend("A 1");
    const child_result result = run("testquorvex.exe", {"/all", "/timeout:2000"});
    expect_no_crash(result);
    EXPECT_EQ(result.status, 5);
    std::string shown = expected_demonstration("/all");
    shown = shown.substr(0, shown.find("Success!"));
    EXPECT_EQ(result.out, crlf(prologue() + shown +
                               "failed ReadFile 995\nStopped: the driver did not complete ReadFile within 2000 ms\n"
                               "All: 31 reports sent, 0 refused; vendor message not read back\n"));
    const recorded r = read_record();
    EXPECT_EQ(r.frames, expected_frames("/all"));
    EXPECT_TRUE(r.replies.empty());
    EXPECT_EQ(r.kinds.back(), 'A');
}

// Started before the device is installed, as an install script starts it.
TEST(EndToEnd, wait) {
    devices("remove", "both");
    reset_record();
    child_process child = start("testquorvex.exe", {"/all", "/wait:30"});
    const bool waiting = wait_until(20000, [&] { return read_file(child.out_path).find("Waiting") != std::string::npos; });
    devices("install", "both");
    const child_result result = finish_child(child, 60000);
    ASSERT_TRUE(waiting) << result.out;
    expect_no_crash(result);
    EXPECT_EQ(result.status, 0);
    const std::string head = "Waiting up to 30 s for the quorvex device\r\nThe quorvex device is ready after ";
    EXPECT_EQ(result.out.substr(0, head.size()), head) << result.out;
    const size_t rest = result.out.find(" ms\r\n");
    ASSERT_NE(rest, std::string::npos) << result.out;
    EXPECT_EQ(result.out.substr(rest + 5), crlf(prologue() + expected_demonstration("/all")));
    EXPECT_EQ(read_record().frames, expected_frames("/all"));
}

// /ping: every message answered, and the driver took exactly what was sent.
TEST(EndToEnd, ping) {
    reset_record();
    const child_result result = run("testquorvex.exe", {"/ping", "/count:50"});
    expect_no_crash(result);
    EXPECT_EQ(result.status, 0);
    const std::string head = crlf(prologue() + "Round trips to the quorvex device: 50 vendor message(s), each answer "
                                               "within 5000 ms\nRound trips: 50 sent, 50 answered; minimum ");
    EXPECT_EQ(result.out.substr(0, head.size()), head) << result.out;
    printf("%s", result.out.substr(result.out.rfind("Round trips:")).c_str());
    const recorded r = read_record();
    EXPECT_EQ(r.frames, expected_frames("/ping", 50));
    EXPECT_EQ(r.replies, expected_replies("/ping", 50));
}

// /flood: the driver received every frame, each the neutral one.
TEST(EndToEnd, flood) {
    reset_record();
    const child_result result = run("testquorvex.exe", {"/flood", "/count:2000"});
    expect_no_crash(result);
    EXPECT_EQ(result.status, 0);
    const std::string last = result.out.substr(result.out.rfind("Flood: "));
    EXPECT_EQ(last.rfind("Flood: 2000 frames in ", 0), 0u) << result.out;
    EXPECT_EQ(last.substr(last.size() - 13), ", 0 refused\r\n") << result.out;
    printf("%s", last.c_str());
    EXPECT_EQ(read_record().frames, expected_frames("/flood", 2000));
}

namespace {

// The name the Windows program gives a file of this machine: Wine maps its root to Z:.
std::string windows_path(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

}  // namespace

// The runtime's split, not ours: a quoted program path glued to /send makes
// argv[0] end past the option (the quotes hold, a blank ends it), so
// argv[1] is "mouse", which is no mode. /send's own skipping agrees; the
// program names no option it was not given and sends nothing.
TEST(EndToEnd, send_glued) {
    reset_record();
    const std::string program = windows_path(kPrograms + "/testquorvex.exe");
    child_process child =
        start_child({kLoader, kPrograms + "/tests/driver/quorvex_launch.exe", program},
                    {"QUORVEX_COMMAND_LINE=\"" + program + "\"/send mouse x=1"});
    const child_result glued = finish_child(child, 60000);
    expect_no_crash(glued);
    EXPECT_EQ(glued.status, 1) << glued.out << glued.err;
    EXPECT_EQ(glued.out, crlf(kUsage)) << glued.err;
    EXPECT_EQ(frames_recorded(), 0u);

    // Apart, the same line is /send's: one mouse report.
    child = start_child({kLoader, kPrograms + "/tests/driver/quorvex_launch.exe", program},
                        {"QUORVEX_COMMAND_LINE=\"" + program + "\"\t/send mouse x=1"});
    const child_result apart = finish_child(child, 60000);
    expect_no_crash(apart);
    EXPECT_EQ(apart.status, 0) << apart.out << apart.err;
    EXPECT_NE(apart.out.find("/send:1: mouse x=1\r\n"), std::string::npos) << apart.out;
    EXPECT_EQ(read_record().frames.size(), 1u);
}

// Each example plays its demonstration's frames through Wine's HID stack;
// then one script of every kind, a message with its expectation and a frame
// the driver refuses, checked at the driver byte for byte: status 4.
TEST(EndToEnd, play) {
    for (const char* name : {"mouse", "digitizer", "multitouch", "keyboard", "message", "joystick"}) {
        reset_record();
        const std::string option = std::string("/") + name;
        const child_result result =
            run("testquorvex.exe", {"/play:" + windows_path(std::string(QUORVEX_SOURCE_DIR) + "/examples/" + name + ".txt")});
        expect_no_crash(result);
        EXPECT_EQ(result.status, 0) << name << "\n" << result.out;
        const recorded r = read_record();
        EXPECT_EQ(r.frames, expected_frames(option, option == "/joystick" ? 100 : 0)) << name;
        EXPECT_EQ(r.replies, expected_replies(option)) << name;
    }

    const std::string path = scratch_file("e2e-script-");
    std::ofstream file(path, std::ios::binary);
    const std::string script =
        "multitouch [status=7 id=0 x=1000 y=6500 w=20 h=30] [status=7 id=1 x=2000 y=8000 w=20 h=30] count=4\r\n"
        "mouse buttons=0x00 x=1000 y=10000 wheel=0\r\n"
        "digitizer status=2 x=1000 y=10000\r\n"
        "keyboard modifiers=[Left GUI] keys=[]\r\n"
        "joystick v3=128 v5=128 v6=64\r\n"
        "message \"Hello quorvex\"\r\n"
        "expect \"Hello quorvex\"\r\n"
        "# a mouse report whose length byte is one short\r\n"
        "frame 40 06 03 00 e8 03 10 27\r\n";
    file << script;
    file.close();
    ASSERT_TRUE(file.good());
    reset_record();
    const child_result result = run("testquorvex.exe", {"/play:" + windows_path(path)});
    std::remove(path.c_str());
    expect_no_crash(result);
    EXPECT_EQ(result.status, 4) << result.out;
    EXPECT_NE(result.out.find("\r\nfailed WriteFile "), std::string::npos) << result.out;
    const std::string summary = "Play: 8 steps, 7 reports sent, 1 refused; 1 of 1 expectation met\r\n";
    ASSERT_GE(result.out.size(), summary.size());
    EXPECT_EQ(result.out.substr(result.out.size() - summary.size()), summary) << result.out;

    // The tool's own failure line gives the code and Wine's text for it.
    const child_result missing = run("testquorvex.exe", {"/play:" + windows_path(path)});
    EXPECT_EQ(missing.status, 1) << missing.out;
    EXPECT_NE(missing.out.find(" cannot be read: CreateFileA failed: 2 ("), std::string::npos) << missing.out;
    EXPECT_EQ(missing.out.substr(missing.out.size() - std::min<size_t>(3, missing.out.size())), ")\r\n") << missing.out;

    std::vector<expected_frame> frames;
    for (const char* option : {"/multitouch", "/mouse", "/digitizer", "/keyboard", "/joystick", "/message"})
        frames.push_back(expected_frames(option, 1).front());
    std::vector<uint8_t> short_mouse = {0x40, 0x06, 0x03, 0x00, 0xE8, 0x03, 0x10, 0x27};
    short_mouse.resize(65, 0);
    frames.push_back({'W', short_mouse});
    const recorded r = read_record();
    EXPECT_EQ(r.frames, frames);
    EXPECT_EQ(r.replies, expected_replies("/message"));
}

// /trace on Windows: each example's trace, played again, gives the driver
// the same frames and answers, and its own trace the same steps; and /all's
// trace replays /all.
TEST(EndToEnd, play_trace) {
    std::vector<std::string> runs = {"/all"};
    for (const char* name : {"mouse", "digitizer", "multitouch", "keyboard", "message", "joystick"})
        runs.push_back("/play:" + windows_path(std::string(QUORVEX_SOURCE_DIR) + "/examples/" + name + ".txt"));
    for (const std::string& option : runs) {
        const std::string first = scratch_path("e2e-trace-first.txt"), again = scratch_path("e2e-trace-again.txt");
        reset_record();
        const child_result traced = run("testquorvex.exe", {option, "/trace:" + windows_path(first)});
        expect_no_crash(traced);
        EXPECT_EQ(traced.status, 0) << option << "\n" << traced.out;
        const recorded sent = read_record();
        reset_record();
        const child_result replayed =
            run("testquorvex.exe", {"/play:" + windows_path(first), "/trace:" + windows_path(again)});
        expect_no_crash(replayed);
        EXPECT_EQ(replayed.status, 0) << option << "\n" << replayed.out;
        const recorded r = read_record();
        EXPECT_EQ(r.frames, sent.frames) << option;
        EXPECT_EQ(r.replies, sent.replies) << option;
        const std::string trace = read_file(first);
        EXPECT_FALSE(trace_steps(trace).empty()) << option;
        EXPECT_EQ(trace_steps(read_file(again)), trace_steps(trace)) << option;
        EXPECT_NE(trace.find("\r\n# ended, status 0\r\n"), std::string::npos) << option << "\n" << trace;
        std::remove(first.c_str());
        std::remove(again.c_str());
    }
}

// /fuzz through Wine's HID stack: the driver is handed every frame of the
// seed in order, with a check after every 64, answers them all, and the run
// leaves no journal behind. A frame whose first byte is not the control
// report's ID is refused by the class driver itself, which knows the report
// IDs from the descriptor; the minidriver never sees it.
TEST(EndToEnd, fuzz) {
    reset_record();
    const std::string journal = scratch_path("e2e-fuzz.txt");
    const child_result result =
        run("testquorvex.exe", {"/fuzz", "/count:3000", "/seed:5", "/out:" + windows_path(journal), "/timeout:2000"});
    expect_no_crash(result);
    EXPECT_EQ(result.status, 0) << result.out;
    const std::string totals = result.out.substr(result.out.rfind("Fuzz: 3000 frames"));
    const std::string last = totals.substr(0, totals.find("\r\n") + 2);
    EXPECT_EQ(last.rfind("Fuzz: 3000 frames (seed 5): ", 0), 0u) << last;
    EXPECT_EQ(last.substr(last.size() - 37), "; the driver answered all 47 checks\r\n") << last;
    // Each refusal code is named once, in Wine's words: some text in brackets after it.
    const std::string codes = totals.substr(last.size());
    EXPECT_EQ(codes.rfind("Fuzz: refused with ", 0), 0u) << codes;
    EXPECT_NE(codes.find(" ("), std::string::npos) << codes;
    EXPECT_EQ(codes.substr(codes.size() - 3), ")\r\n") << codes;
    printf("%s", last.c_str());
    EXPECT_TRUE(read_file(journal).empty()) << "the journal was left behind";
    const recorded r = read_record();
    std::vector<expected_frame> wanted;
    for (const expected_frame& frame : expected_fuzz_frames(5, 3000))
        if (frame.bytes[0] == 0x40) wanted.push_back(frame);
    printf("the class driver passed on %zu of the 3047 frames: all but those with another report ID\n",
           r.frames.size());
    ASSERT_EQ(r.frames.size(), wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i) ASSERT_EQ(r.frames[i], wanted[i]) << "frame " << i;
}

// A planted fault: the run ends with 5 and keeps the journal; after the
// driver is installed again, the journal played breaks it again.
TEST(EndToEnd, fuzz_finds) {
    reinstall_afterwards guard{"both"};
    const std::string journal = scratch_path("e2e-finds.txt");
    std::remove(journal.c_str());
    const struct {
        const char* rule;
        const char* frame;  // the fuzz run's
        const char* line;   // in the journal
    } cases[] = {
        {"H 153 0", "154", "frame 40 00 99 via=set"},
        {"V 6 7 2 65535", "1899", "frame 40 09 06 00 00 00 00 00 00 ff ff"},
    };
    for (const auto& c : cases) {
        if (&c != cases) devices("install", "both");
        reset_record();
        {
            misbehaving fault(c.rule);
            const child_result found = run("testquorvex.exe", {"/fuzz", "/seed:9", "/out:" + windows_path(journal),
                                                               "/timeout:1000"});
            expect_no_crash(found);
            EXPECT_EQ(found.status, 5) << c.rule << "\n" << found.out;
            EXPECT_NE(found.out.find(std::string("Fuzz: the driver stopped answering after frame ") + c.frame +
                                     " (seed 9)\r\n"),
                      std::string::npos)
                << found.out;
            const std::string kept = read_file(journal);
            EXPECT_NE(kept.find(std::string("\r\n") + c.line + "\r\n"), std::string::npos) << kept;
            // The held write given up, the driver is installed again: no longer deaf.
            ASSERT_TRUE(wait_until(15000, [] { return read_record().kinds.find('T') != std::string::npos; }));
            devices("remove", "both");
            devices("install", "both");

            reset_record();
            const child_result replayed = run("testquorvex.exe", {"/play:" + windows_path(journal), "/quiet",
                                                                  "/timeout:1000"});
            expect_no_crash(replayed);
            EXPECT_EQ(replayed.status, 5) << c.rule << "\n" << replayed.out;
            EXPECT_NE(read_record().kinds.find('D'), std::string::npos) << read_record().kinds;
            ASSERT_TRUE(wait_until(15000, [] { return read_record().kinds.find('T') != std::string::npos; }));
        }
        devices("remove", "both");
        std::remove(journal.c_str());
    }
}

// A real Ctrl+C: Wine turns SIGINT into the console's control event, so the
// handler stops /flood, which prints what it did and ends with
// STATUS_CONTROL_C_EXIT, whose low byte (58) is what a script sees here.
TEST(EndToEnd, flood_stopped) {
    reset_record();
    child_process child = start("testquorvex.exe", {"/flood", "/count:100000000"});
    const bool flooding = wait_until(20000, [&] { return read_file(child.out_path).find("so far") != std::string::npos; });
    kill(child.pid, SIGINT);
    const child_result result = finish_child(child, 20000);
    ASSERT_TRUE(flooding) << result.out;
    expect_no_crash(result);
    EXPECT_EQ(result.status, 58) << result.out;
    const size_t stop = result.out.find("Stopped by Ctrl+C\r\nFlood: ");
    ASSERT_NE(stop, std::string::npos) << result.out;
    const std::string summary = result.out.substr(stop + 19);
    printf("%s", summary.c_str());
    EXPECT_EQ(summary.substr(summary.size() - 13), ", 0 refused\r\n") << summary;
    const unsigned long long frames = std::stoull(summary.substr(7));
    EXPECT_EQ(read_record().frames, expected_frames("/flood", frames));
}

// /all /report: the same run and output, and its report beside it; then a
// write the driver keeps, whose report the watchdog's thread writes. Each is
// checked against the JUnit schema when xmllint is there.
TEST(EndToEnd, all_report) {
    const std::string report = scratch_path("e2e-report.xml");
    const std::string schema = std::string(QUORVEX_SOURCE_DIR) + "/tests/JUnit.xsd";
    const bool xmllint = std::system("command -v xmllint >/dev/null 2>&1") == 0;
    reset_record();
    const child_result whole = run("testquorvex.exe", {"/all", "/report:" + windows_path(report)});
    expect_no_crash(whole);
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.out, crlf(prologue() + expected_demonstration("/all")));
    std::string xml = read_file(report);
    for (const char* name : {"multitouch", "mouse", "digitizer", "keyboard", "message"})
        EXPECT_NE(xml.find(std::string("<testcase classname=\"all\" name=\"") + name + "\" time=\""), std::string::npos)
            << name << "\n" << xml;
    EXPECT_NE(xml.find("tests=\"5\" failures=\"0\" errors=\"0\" skipped=\"0\""), std::string::npos) << xml;
    if (xmllint) {
        EXPECT_EQ(std::system(("xmllint --noout --schema '" + schema + "' '" + report + "'").c_str()), 0);
    }

    reset_record();
    misbehaving pend("W 1");
    const child_result stalled =
        run("testquorvex.exe", {"/all", "/timeout:2000", "/report:" + windows_path(report)});
    expect_no_crash(stalled);
    EXPECT_EQ(stalled.status, 5);
    xml = read_file(report);
    EXPECT_NE(xml.find("<testcase classname=\"all\" name=\"mouse\" time=\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<error type=\"stopped\" message=\"Stopped: the driver did not complete WriteFile within 2000 "
                       "ms\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("errors=\"1\" skipped=\"3\""), std::string::npos) << xml;
    EXPECT_TRUE(read_file(report + ".tmp").empty()) << "the temporary file was left behind";
    if (xmllint) {
        EXPECT_EQ(std::system(("xmllint --noout --schema '" + schema + "' '" + report + "'").c_str()), 0);
    }
    std::remove(report.c_str());
}

namespace {

// The input collections' report IDs: touch screen, mouse, pen, joystick, keyboard.
const uint8_t kInputIds[] = {0x01, 0x03, 0x05, 0x06, 0x07};

// What the input collections must deliver for these frames, by report ID:
// each accepted frame's inner report, unchanged, in the order sent. Reports of
// different collections may be read in any order between them.
std::vector<std::vector<uint8_t>> inner_reports(const std::vector<expected_frame>& frames, uint8_t id) {
    std::vector<std::vector<uint8_t>> out;
    for (const expected_frame& frame : frames)
        if (frame.bytes[2] == id) out.emplace_back(frame.bytes.begin() + 2, frame.bytes.begin() + 2 + frame.bytes[1]);
    return out;
}

std::vector<std::vector<uint8_t>> delivered(const recorded& r, uint8_t id) {
    std::vector<std::vector<uint8_t>> out;
    for (const std::vector<uint8_t>& report : r.inputs)
        if (!report.empty() && report[0] == id) out.push_back(report);
    return out;
}

// The input collections for as long as it lives, and the bus as the
// fixture made it afterwards, whatever the test asserts.
struct with_inputs {
    with_inputs() { devices("install", "inputs"); }
    ~with_inputs() { devices("remove", "inputs"); }
};

}  // namespace

// The five input collections beside the device's two: the conformance probe
// finds them as Wine presents them, the modes print and send exactly what
// they do without them, and the driver delivers each
// accepted frame's inner report on its collection, once, a burst of them too;
// a planted delivery fault changes only its own kind's deliveries.
TEST(EndToEnd, inputs) {
    with_inputs inputs;
    // Wine holds none of them, and Raw Input hands over the touch screen's,
    // pen's and joystick's reports as sent, from the collections' HID paths.
    const child_result probe = run("quorvex_conformance.exe", {});
    EXPECT_EQ(probe.status, 0);
    std::string opens;
    for (const char* name : {"touch screen", "mouse", "pen", "joystick", "keyboard"})
        opens += std::string("the quorvex ") + name + " input collection: a read/write open succeeds\r\n";
    EXPECT_EQ(probe.out, opens + "all behaviours as expected of Wine, the quorvex device's among them\r\n");

    expect_whole_run("/all");
    const struct {
        const char* option;
        const char* count;
        const char* rule;  // "M K H": kind byte K never delivered (H 1), byte 1 changed (2), twice (3)
        uint8_t id;        // the kind the rule changes
    } runs[] = {
        {"/all", "", "", 0},
        {"/flood", "/count:500", "", 0},
        {"/all", "", "M 3 1", 0x03},
        {"/all", "", "M 5 2", 0x05},
        {"/flood", "/count:300", "M 6 3", 0x06},
    };
    for (const auto& run_of : runs) {
        const std::string what = std::string(run_of.option) + " " + run_of.count + " " + run_of.rule;
        if (run_of.rule[0] != 0 || std::string(run_of.option) != "/all") {
            reset_record();
            std::optional<misbehaving> planted;
            if (run_of.rule[0] != 0) planted.emplace(run_of.rule);
            std::vector<std::string> args = {run_of.option};
            if (run_of.count[0] != 0) args.push_back(run_of.count);
            const child_result result = run("testquorvex.exe", args);
            EXPECT_EQ(result.status, 0) << what << "\n" << result.out;
        }
        const size_t count = run_of.count[0] != 0 ? std::stoul(run_of.count + 7) : 0;
        const std::vector<expected_frame> frames = expected_frames(run_of.option, count);
        std::vector<std::vector<uint8_t>> wanted[sizeof(kInputIds)];
        size_t expected = 0;
        for (size_t k = 0; k < sizeof(kInputIds); ++k) {
            std::vector<std::vector<uint8_t>> changed;
            wanted[k] = inner_reports(frames, kInputIds[k]);
            if (kInputIds[k] == run_of.id) {
                const char how = run_of.rule[4];
                for (std::vector<uint8_t>& report : wanted[k]) {
                    if (how == '1') continue;
                    if (how == '2') report[1] ^= 0x01;
                    changed.push_back(report);
                    if (how == '3') changed.push_back(report);
                }
                wanted[k] = changed;
            }
            expected += wanted[k].size();
        }
        // The class driver may still be reading what the driver queued when
        // the program ends.
        wait_until(10000, [&] { return read_record().inputs.size() >= expected; });
        const recorded r = read_record();
        EXPECT_EQ(r.frames, frames) << what;
        for (size_t k = 0; k < sizeof(kInputIds); ++k)
            EXPECT_EQ(delivered(r, kInputIds[k]), wanted[k]) << what << ": report ID " << int(kInputIds[k]);
        EXPECT_EQ(r.inputs.size(), expected) << what << ": a report no frame asked for";
        if (run_of.id != 0) {
            EXPECT_FALSE(inner_reports(frames, run_of.id).empty()) << what;
        }
    }
}

namespace {

// A run of the 64-bit program with extra environment.
child_result run_with(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    child_process child = start_child([&] {
        std::vector<std::string> argv = {kLoader, kPrograms + "/testquorvex.exe"};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }(), env);
    return finish_child(child, 300000);
}

size_t lines_starting(const std::string& out, const std::string& head) {
    size_t count = 0;
    for (size_t at = out.find(head); at != std::string::npos; at = out.find(head, at + 1)) ++count;
    return count;
}

// The last line that starts so, from its start.
std::string line_from(const std::string& out, const std::string& head) {
    const size_t at = out.rfind(head);
    return at == std::string::npos ? "" : out.substr(at, out.find("\r\n", at) - at);
}

// /all /verify with the input collections read where they open (all of them
// under Wine), or through Raw Input for the touch screen, pen and joystick:
// every accepted report arrives as sent, status 0; a planted fault is named
// report by report with status 4 (never delivered, one byte changed).
void expect_verified(const std::vector<std::string>& env) {
    with_inputs inputs;
    reset_record();
    const child_result whole = run_with({"/all", "/verify"}, env);
    expect_no_crash(whole);
    EXPECT_EQ(whole.status, 0) << whole.out << whole.err;
    EXPECT_EQ(whole.out.rfind(crlf(prologue()), 0), 0u) << whole.out;
    const std::string summary = line_from(whole.out, "Verify: ");
    EXPECT_EQ(summary.rfind("Verify: 30 of 30 accepted reports arrived as sent; 0 not delivered, 0 changed, 0 "
                            "unasked; arrival minimum ",
                            0),
              0u)
        << whole.out;
    printf("%s\n", summary.c_str());
    EXPECT_EQ(read_record().frames, expected_frames("/all"));

    const struct {
        const char* rule;
        const char* line;  // each report's miss
        size_t count;      // the kind's reports in /all
    } faults[] = {
        {"M 1 1", "Not delivered: ", inner_reports(expected_frames("/all"), 0x01).size()},
        {"M 5 2", "Changed: ", inner_reports(expected_frames("/all"), 0x05).size()},
    };
    for (const auto& fault : faults) {
        reset_record();
        misbehaving planted(fault.rule);
        const child_result missed = run_with({"/all", "/verify"}, env);
        expect_no_crash(missed);
        EXPECT_EQ(missed.status, 4) << fault.rule << "\n" << missed.out;
        EXPECT_GT(fault.count, 0u);
        EXPECT_EQ(lines_starting(missed.out, fault.line), fault.count) << fault.rule << "\n" << missed.out;
        const std::string counts = std::to_string(30 - fault.count) + " of 30 accepted reports arrived as sent; " +
                                   (fault.rule[4] == '1' ? std::to_string(fault.count) + " not delivered, 0 changed"
                                                         : "0 not delivered, " + std::to_string(fault.count) +
                                                               " changed") +
                                   ", 0 unasked";
        EXPECT_EQ(line_from(missed.out, "Verify: ").rfind("Verify: " + counts, 0), 0u) << fault.rule << "\n"
                                                                                        << missed.out;
    }
}

}  // namespace

// /all /verify under Wine, which holds none of the input collections: each is
// read on a handle of the program's own.
TEST(EndToEnd, verify) { expect_verified({}); }

// The same through Raw Input, which Wine gives a message-only window without
// a display: the touch screen, pen and joystick collections read that way.
TEST(EndToEnd, verify_raw_input) { expect_verified({"QUORVEX_RAW_INPUT=1"}); }

// 20000 frames of /flood /verify: every one arrives, none is lost in the
// driver's queue or the program's buffers.
TEST(EndToEnd, flood_verify) {
    with_inputs inputs;
    reset_record();
    const child_result result = run_with({"/flood", "/count:20000", "/verify"}, {});
    expect_no_crash(result);
    EXPECT_EQ(result.status, 0) << result.out;
    const std::string summary = line_from(result.out, "Verify: ");
    EXPECT_EQ(summary.rfind("Verify: 20000 of 20000 accepted reports arrived as sent; 0 not delivered, 0 changed, 0 "
                            "unasked; arrival minimum ",
                            0),
              0u)
        << result.out;
    printf("%s\n%s\n", line_from(result.out, "Flood: ").c_str(), summary.c_str());
    const recorded r = read_record();
    EXPECT_EQ(r.frames.size(), 20000u);
    EXPECT_EQ(delivered(r, 0x06).size(), 20000u);
}

// /watch while a script of every input kind plays: it prints each report as
// the step that sends it, and its output, played back with /verify, sends the
// same reports to the driver, all of which arrive.
TEST(EndToEnd, watch) {
    with_inputs inputs;
    const std::string script = scratch_file("e2e-watched-");
    std::ofstream(script, std::ios::binary)
        << "multitouch [status=7 id=0 x=1000 y=6500 w=20 h=30] [status=7 id=1 x=2000 y=8000 w=20 h=30] count=2\r\n"
           "mouse buttons=0x01 x=1000 y=10000 wheel=1\r\n"
           "sleep 300\r\n"
           "digitizer status=3 x=1000 y=10000\r\n"
           "keyboard modifiers=[Left GUI] keys=[]\r\n"
           "joystick v3=128 v5=128 v6=64\r\n"
           "mouse buttons=0x00 x=2000 y=3000 wheel=0\r\n"
           "keyboard modifiers=[] keys=[]\r\n";
    reset_record();
    child_process watcher = start("testquorvex.exe", {"/watch", "/count:7"});
    const bool ready = wait_until(30000, [&] { return read_file(watcher.out_path).find("# Keyboard: ") != std::string::npos; });
    const child_result played = ready ? run("testquorvex.exe", {"/play:" + windows_path(script)}) : child_result{};
    const child_result watched = finish_child(watcher, 30000);
    std::remove(script.c_str());
    ASSERT_TRUE(ready) << watched.out;
    EXPECT_EQ(played.status, 0) << played.out;
    expect_no_crash(watched);
    EXPECT_EQ(watched.status, 0) << watched.out;
    // Every line a step or a comment; the pause shows as a sleep step.
    size_t steps = 0, pauses = 0;
    for (size_t at = 0; at < watched.out.size();) {
        const size_t end = watched.out.find("\r\n", at);
        const std::string line = watched.out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? watched.out.size() : end + 2;
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("sleep ", 0) != 0) ++steps;
        else if (std::stoi(line.substr(6)) >= 250) ++pauses;
    }
    EXPECT_EQ(steps, 7u) << watched.out;
    EXPECT_GE(pauses, 1u) << "the 300 ms pause:\n" << watched.out;
    const std::vector<expected_frame> sent = read_record().frames;
    ASSERT_EQ(sent.size(), 7u);

    const std::string saved = scratch_file("e2e-watch-");
    std::ofstream(saved, std::ios::binary) << watched.out;
    reset_record();
    const child_result replayed = run("testquorvex.exe", {"/play:" + windows_path(saved), "/verify"});
    std::remove(saved.c_str());
    expect_no_crash(replayed);
    EXPECT_EQ(replayed.status, 0) << replayed.out;
    EXPECT_EQ(line_from(replayed.out, "Verify: ").rfind("Verify: 7 of 7 accepted reports arrived as sent; 0 not "
                                                        "delivered, 0 changed, 0 unasked",
                                                        0),
              0u)
        << replayed.out;
    // Each collection is read on its own, so /watch prints them in the order
    // they arrived: the same per collection, not necessarily between them.
    const std::vector<expected_frame> again = read_record().frames;
    EXPECT_EQ(again.size(), sent.size()) << replayed.out;
    for (uint8_t id : kInputIds) {
        std::vector<std::vector<uint8_t>> before, after;
        for (const expected_frame& frame : sent)
            if (frame.bytes[2] == id) before.push_back(frame.bytes);
        for (const expected_frame& frame : again)
            if (frame.bytes[2] == id) after.push_back(frame.bytes);
        EXPECT_EQ(after, before) << "report ID " << int(id);
    }
}
