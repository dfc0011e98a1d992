// /verify and the input collections: how the tool ties a collection to the
// device, the scan codes it expects of a keyboard, and whole runs over the
// simulated system with its collections read or held.

#include <gtest/gtest.h>

#include <sstream>

#include "app/testquorvex.h"
#include "client/inputs.h"
#include "client/quorvex_contract.h"
#include "client/rebuild.h"
#include "layout/scan_codes.h"
#include "tests/support.h"

TEST(Verify, PathsOfOneDevice) {
    const char* control = "\\\\?\\hid#vid_001f&pid_ba1c&col01#7&1a2b3c03&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    struct {
        const char* path;
        bool same;
    } const cases[] = {
        {"\\\\?\\hid#vid_001f&pid_ba1c&col04#7&1a2b3c03&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}", true},
        // Windows numbers each collection in the instance's last part.
        {"\\\\?\\hid#vid_001f&pid_ba1c&col05#7&1a2b3c03&0&0004#{4d1e55b2-f16f-11cf-88cb-001111000030}", true},
        // Raw Input's name of a mouse: upper case, the mouse interface class.
        {"\\\\?\\HID#VID_001F&PID_BA1C&Col04#7&1A2B3C03&0&0003#{378de44c-56ef-11d1-bc8c-00a0c91405dd}", true},
        // Another quorvex device, another product, another vendor.
        {"\\\\?\\hid#vid_001f&pid_ba1c&col04#7&1a2b3c09&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}", false},
        {"\\\\?\\hid#vid_001f&pid_1234&col04#7&1a2b3c03&0&0003#{4d1e55b2-f16f-11cf-88cb-001111000030}", false},
        {"\\\\?\\hid#vid_046d&pid_c077#7&1a2b3c03&0&0003#{378de44c-56ef-11d1-bc8c-00a0c91405dd}", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(quorvex_same_device(c.path, control), c.same) << c.path;
    // One collection: the collection part matters, the class and case do not.
    EXPECT_TRUE(quorvex_same_collection(cases[2].path, cases[0].path));
    EXPECT_FALSE(quorvex_same_collection(cases[1].path, cases[0].path));
}

// Microsoft's table of HID keyboard usages to scan codes, spot by spot, and
// every usage back from its code.
TEST(Verify, ScanCodes) {
    struct {
        uint8_t usage;
        uint8_t code;
        bool e0;
    } const cases[] = {
        {0x04, 0x1E, false}, {0x0B, 0x23, false}, {0x1D, 0x2C, false}, {0x1E, 0x02, false}, {0x27, 0x0B, false},
        {0x28, 0x1C, false}, {0x2C, 0x39, false}, {0x39, 0x3A, false}, {0x44, 0x57, false}, {0x45, 0x58, false},
        {0x46, 0x37, true},  {0x49, 0x52, true},  {0x4F, 0x4D, true},  {0x52, 0x48, true},  {0x54, 0x35, true},
        {0x58, 0x1C, true},  {0x62, 0x52, false}, {0x64, 0x56, false}, {0x65, 0x5D, true},  {0xE0, 0x1D, false},
        {0xE1, 0x2A, false}, {0xE3, 0x5B, true},  {0xE4, 0x1D, true},  {0xE5, 0x36, false}, {0xE7, 0x5C, true},
    };
    for (const auto& c : cases) {
        const scan_code s = layout_scan_code(c.usage);
        EXPECT_EQ(s.code, c.code) << std::hex << int(c.usage);
        EXPECT_EQ(s.e0, c.e0) << std::hex << int(c.usage);
    }
    for (int usage = 0; usage < 256; ++usage) {
        const scan_code s = layout_scan_code(static_cast<uint8_t>(usage));
        if (s.code == 0) continue;
        // Non-US # is Backslash's key.
        EXPECT_EQ(layout_usage_of_scan(s.code, s.e0), usage == 0x32 ? 0x31 : usage) << std::hex << usage;
    }
    EXPECT_EQ(layout_scan_code(0x48).code, 0);  // Pause makes no single code
    EXPECT_EQ(layout_scan_code(0x03).code, 0);
    // Pause's E1 1D is no Left Ctrl; Non-US # is expected as the key that comes back.
    quorvex_rebuilt_state state = {};
    RAWKEYBOARD pause = {};
    pause.MakeCode = 0x1D;
    pause.Flags = RI_KEY_MAKE | RI_KEY_E1;
    int usage = 0;
    bool down = false;
    EXPECT_FALSE(quorvex_apply_key(&state, pause, &usage, &down));
    EXPECT_FALSE(quorvex_key_down(state.keys, 0xE0));
    const uint8_t hash[9] = {QUORVEX_REPORT_KEYBOARD, 0, 0, 0x32};
    uint8_t keys[32] = {};
    quorvex_keys_of_report(hash, keys);
    EXPECT_TRUE(quorvex_key_down(keys, 0x31));
    EXPECT_FALSE(quorvex_key_down(keys, 0x32));
}

namespace {

std::string verify_line_of(const std::string& out) {
    const size_t at = out.rfind("\nVerify: ");
    if (at == std::string::npos) return "";
    return out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

std::string counts_of(const std::string& line) { return line.substr(0, line.find("; arrival")); }

// Both ways Windows lets the tool see a collection: all five read on handles
// of its own (as under Wine), and the system holding four (Raw Input).
const char* const kPaths[] = {"clock=virtual,others=0,inputs=open", "clock=virtual,others=0,inputs"};

}  // namespace

// Every demonstration's reports arrive exact, with their times, and nothing
// is left open or running.
TEST(Verify, EveryDemonstrationArrivesExactOnBothPaths) {
    for (const char* scenario : kPaths) {
        const run_result all = run_here(scenario, {"/all", "/verify"});
        EXPECT_EQ(all.status, 0) << scenario << "\n" << all.out;
        const std::string line = verify_line_of(all.out);
        EXPECT_EQ(counts_of(line), "Verify: 30 of 30 accepted reports arrived as sent; 0 not delivered, 0 changed, 0 unasked")
            << scenario << "\n" << all.out;
        EXPECT_NE(line.find("; arrival minimum "), std::string::npos) << line;
        EXPECT_EQ(all.out.find("Not delivered"), std::string::npos) << all.out;
        EXPECT_TRUE(sim_usage().none()) << scenario << ": " << sim_describe(sim_usage());
        for (const char* name : {"multitouch", "mouse", "digitizer", "joystick", "keyboard", "message"}) {
            const run_result play = run_here(scenario, {"/play:" + example(name), "/verify"});
            EXPECT_EQ(play.status, 0) << scenario << " " << name << "\n" << play.out;
            EXPECT_NE(verify_line_of(play.out).find(" 0 not delivered, 0 changed, 0 unasked"), std::string::npos)
                << scenario << " " << name << "\n" << play.out;
        }
        // Keys sharing a scan code, the keypad, and reports with an error usage,
        // which the keyboard class driver drops whole.
        for (const char* text : {
                 "keyboard modifiers=[] keys=[0x32]\nkeyboard modifiers=[] keys=[]\n",
                 "keyboard modifiers=[] keys=[0x01, A]\nkeyboard modifiers=[] keys=[]\n",
                 "keyboard modifiers=[] keys=[B]\nkeyboard modifiers=[] keys=[0x02, A]\nkeyboard modifiers=[] keys=[B]\n"
                 "keyboard modifiers=[] keys=[0x03]\nkeyboard modifiers=[] keys=[]\n",
                 "keyboard modifiers=[Left Shift] keys=[0x53, 0x54, 0x58, 0x63, 0x64, 0x65]\n"
                 "keyboard modifiers=[] keys=[0x46, 0x47, 0x5F, 0x62]\nkeyboard modifiers=[] keys=[]\n",
             }) {
            const run_result play = run_here(scenario, {"/play:" + script_file(text), "/verify", "/timeout:100"});
            EXPECT_EQ(play.status, 0) << scenario << " " << text << "\n" << play.out;
            EXPECT_NE(verify_line_of(play.out).find(" 0 not delivered, 0 changed, 0 unasked"), std::string::npos)
                << scenario << " " << text << "\n" << play.out;
        }
    }
}

// Each planted fault, on the path that can show it: its line names the
// report, and the run ends 4.
TEST(Verify, PlantedFaultsNamedByTheirReport) {
    struct {
        const char* scenario;
        const char* line;  // the start of the first miss's line
        const char* counts;
    } const cases[] = {
        {"inputs=open,undelivered=joystick", "Not delivered: /flood report 1: joystick v1=128",
         "0 of 1 accepted reports arrived as sent; 1 not delivered, 0 changed, 0 unasked"},
        {"inputs=open,undelivered=mouse", "Not delivered: /mouse report 1: mouse buttons=0x00 x=1000 y=10000 wheel=0",
         "29 of 30 accepted reports arrived as sent; 1 not delivered, 0 changed, 0 unasked"},
        {"inputs=open,undelivered=digitizer", "Not delivered: /digitizer report 1: digitizer status=2 x=1000 y=10000",
         "18 of 30 accepted reports arrived as sent; 12 not delivered, 0 changed, 0 unasked"},
        {"inputs=open,altered=digitizer",
         "Changed: /digitizer report 1: sent digitizer status=2 x=1000 y=10000, arrived digitizer status=3 x=1000 "
         "y=10000",
         "18 of 30 accepted reports arrived as sent; 0 not delivered, 12 changed, 0 unasked"},
        {"inputs=open,altered=keyboard",
         "Changed: /keyboard report 1: sent keyboard modifiers=[Left GUI] keys=[], arrived keyboard "
         "modifiers=[Left Ctrl, Left GUI] keys=[]",
         "19 of 30 accepted reports arrived as sent; 0 not delivered, 11 changed, 0 unasked"},
        // A second copy matches nothing sent.
        {"inputs=open,doubled=multitouch",
         "Unasked: the Touch Screen input collection delivered multitouch [status=7 id=0 x=1000 y=6500 w=20 h=30] "
         "[status=7 id=1 x=2000 y=8000 w=20 h=30] count=4",
         "30 of 30 accepted reports arrived as sent; 0 not delivered, 0 changed, 6 unasked"},
        // Held by the system: touch and pen still hand over their bytes through
        // Raw Input, the mouse and keyboard their events.
        {"inputs,undelivered=digitizer", "Not delivered: /digitizer report 1: digitizer status=2 x=1000 y=10000",
         "18 of 30 accepted reports arrived as sent; 12 not delivered, 0 changed, 0 unasked"},
        {"inputs,altered=multitouch",
         "Changed: /multitouch report 1: sent multitouch [status=7 id=0 x=1000 y=6500 w=20 h=30] [status=7 id=1 "
         "x=2000 y=8000 w=20 h=30] count=4, arrived multitouch [status=6 id=0",
         "24 of 30 accepted reports arrived as sent; 0 not delivered, 6 changed, 0 unasked"},
        {"inputs,doubled=digitizer", "Unasked: the Pen input collection delivered digitizer status=2 x=1000 y=10000",
         "30 of 30 accepted reports arrived as sent; 0 not delivered, 0 changed, 12 unasked"},
        {"inputs,undelivered=mouse", "Not delivered: /mouse report 1: mouse buttons=0x00 x=1000 y=10000 wheel=0",
         "29 of 30 accepted reports arrived as sent; 1 not delivered, 0 changed, 0 unasked"},
        {"inputs,altered=mouse",
         "Changed: /mouse report 1: sent mouse buttons=0x00 x=1000 y=10000 wheel=0, arrived mouse buttons=0x01 "
         "x=1000 y=10000 wheel=0",
         "29 of 30 accepted reports arrived as sent; 0 not delivered, 1 changed, 0 unasked"},
        {"inputs,doubled=mouse", "Unasked: the Mouse input collection delivered mouse buttons=0x00 x=1000 y=10000",
         "30 of 30 accepted reports arrived as sent; 0 not delivered, 0 changed, 1 unasked"},
        {"inputs,undelivered=keyboard", "Not delivered: /keyboard report 1: keyboard modifiers=[Left GUI] keys=[]",
         "19 of 30 accepted reports arrived as sent; 11 not delivered, 0 changed, 0 unasked"},
        // The first key event leads away from the report: a Left Ctrl it never held.
        {"inputs,altered=keyboard",
         "Changed: /keyboard report 1: sent keyboard modifiers=[Left GUI] keys=[], arrived keyboard "
         "modifiers=[Left Ctrl] keys=[]",
         // How the misses split between changed and not delivered depends on
         // when the events come: a key event carries no report of its own.
         "19 of 30 accepted reports arrived as sent; "},
    };
    for (const auto& c : cases) {
        const bool flood = std::string(c.scenario).find("joystick") != std::string::npos;
        const std::vector<std::string> args = flood ? std::vector<std::string>{"/flood", "/count:1", "/verify", "/timeout:100"}
                                                    : std::vector<std::string>{"/all", "/verify", "/timeout:100"};
        const run_result run = run_here(std::string("clock=virtual,others=0,") + c.scenario, args);
        EXPECT_EQ(run.status, 4) << c.scenario << "\n" << run.out;
        EXPECT_NE(run.out.find("\n" + std::string(c.line)), std::string::npos) << c.scenario << "\n" << run.out;
        EXPECT_NE(verify_line_of(run.out).find(c.counts), std::string::npos) << c.scenario << "\n" << run.out;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
    // Through key events a doubled report makes no new key: that path cannot show it.
    const run_result doubled = run_here("clock=virtual,others=0,inputs,doubled=keyboard", {"/all", "/verify"});
    EXPECT_EQ(doubled.status, 0) << doubled.out;
}

// A device without input collections: each kind said once, its reports not delivered.
TEST(Verify, CollectionsTheDeviceLacks) {
    const run_result run = run_here("clock=virtual,others=0", {"/all", "/verify", "/timeout:100"});
    EXPECT_EQ(run.status, 4) << run.out;
    EXPECT_NE(run.out.find("Verify: the quorvex device has no Mouse (0x01/0x02) input collection\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(counts_of(verify_line_of(run.out)),
              "Verify: 0 of 30 accepted reports arrived as sent; 30 not delivered, 0 changed, 0 unasked");
}

// The in-flight bound keeps the reader's 512 buffers from overflowing, however long the flood.
TEST(Verify, LongFloodLosesNothing) {
    const run_result run = run_here("clock=virtual,others=0,inputs", {"/flood", "/count:100000", "/verify"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(counts_of(verify_line_of(run.out)),
              "Verify: 100000 of 100000 accepted reports arrived as sent; 0 not delivered, 0 changed, 0 unasked");
}

// With every report in flight lost, a Ctrl+C ends the wait for room at once,
// not after the deadline of the oldest.
TEST(Verify, CtrlCEndsAFullWaitAtOnce) {
    const run_result run = run_here("clock=virtual,others=0,inputs=open,undelivered=joystick,ctrl-c-at=Sleep@5",
                                    {"/flood", "/count:100000", "/verify", "/timeout:30000"});
    EXPECT_EQ(run.status, EXIT_INTERRUPTED) << run.out;
    const size_t at = run.out.rfind("Flood: ");
    ASSERT_NE(at, std::string::npos) << run.out;
    const std::string totals = run.out.substr(at, run.out.find('\n', at) - at);
    EXPECT_NE(totals.find(" frames in 0."), std::string::npos) << totals;
}

// A window or a registration Windows refuses ends the run before its first send.
TEST(Verify, RawInputRefusedBeforeTheFirstSend) {
    for (const char* call : {"RegisterClassExA", "CreateWindowExA", "RegisterRawInputDevices"}) {
        const run_result run = run_here(std::string("clock=virtual,others=0,inputs,fail=") + call, {"/all", "/verify"});
        EXPECT_EQ(run.status, 2) << call << "\n" << run.out;
        EXPECT_NE(run.out.find(std::string("Error: ") + call + " failed: "), std::string::npos) << run.out;
        EXPECT_TRUE(frames_sent().empty()) << call;
        EXPECT_TRUE(sim_usage().none()) << call << ": " << sim_describe(sim_usage());
    }
}

// What /watch prints besides steps is comments, a stop's line too, so that a
// saved watch plays; stopped, it ends as the other long runs do.
TEST(Watch, EveryLineButTheStepsIsAComment) {
    const run_result run = run_program("others=0,inputs,ctrl-c-at-line=# Keyboard", {"/watch"});
    EXPECT_EQ(run.signal, SIGINT) << run.out;
    EXPECT_NE(run.out.find("\n# Joystick: read\n# Keyboard: Raw Input: the system holds it\n# Stopped by Ctrl+C\n"
                           "# Watch: 0 report(s)\n"),
              std::string::npos)
        << run.out;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.empty() || line[0] == '#') << line;
    const run_result played = run_here("clock=virtual,others=0,inputs", {"/play:" + script_file(run.out), "/verify"});
    EXPECT_EQ(played.status, 0) << played.out;
}

// Every platform call of a /verify run, each in turn made to fail: the run
// ends, with a status the tool gives, and gives back everything it took.
TEST(Verify, EveryCallFailingInTurn) {
    for (const char* path : {"inputs=open", "inputs"}) {
        const std::string base = std::string("clock=virtual,others=0,") + path;
        run_here(base, {"/all", "/verify", "/timeout:100"});
        std::vector<std::pair<std::string, int>> calls;
        for (const std::string& op : sim_failable_operations()) calls.emplace_back(op, sim_calls(op));
        for (const auto& [op, count] : calls) {
            for (int call = 1; call <= count && call <= 40; ++call) {
                const std::string scenario = base + ",fail=" + op + "@" + std::to_string(call);
                const run_result run = run_here(scenario, {"/all", "/verify", "/timeout:100"});
                EXPECT_TRUE(run.status == 0 || run.status == 2 || run.status == 3 || run.status == 4) << scenario << "\n" << run.out;
                EXPECT_TRUE(sim_usage().none()) << scenario << ": " << sim_describe(sim_usage());
            }
        }
    }
}
