// Scripts: the text the device view prints plays back as the same frames;
// a wrong script sends nothing; /play and /send give the statuses a driver's
// test relies on.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "app/testquorvex.h"
#include "script/script.h"
#include "tests/child_process.h"
#include "tests/support.h"

namespace {

// The device view's step for a frame, compiled again: the same bytes, sent
// the same way.
void expect_round_trip(const std::vector<uint8_t>& frame, bool via_set, std::string* described = nullptr) {
    char step[LAYOUT_STEP_MAX];
    layout_describe_frame(frame.data(), via_set, step, sizeof(step));
    if (described != nullptr) *described = step;
    script_check check;
    script_step compiled;
    ASSERT_TRUE(script_compile(step, std::strlen(step), &compiled, 1, &check)) << step << ": " << check.kept[0].expected;
    ASSERT_EQ(check.steps, 1u) << step;
    EXPECT_EQ(compiled.kind, via_set ? step_kind::set : step_kind::write) << step;
    EXPECT_EQ(std::vector<uint8_t>(compiled.bytes, compiled.bytes + LAYOUT_FRAME_SIZE), frame) << step;
}

std::string tail(const std::string& text, size_t length) {
    return text.size() < length ? text : text.substr(text.size() - length);
}

const char* const kExamples[] = {"mouse", "digitizer", "multitouch", "keyboard", "message", "joystick"};

// How long the run paused before each frame it sent, and after the last:
// /play pauses in slices, so that a stop does not wait a long pause out.
std::vector<DWORD> pauses_between_frames() {
    std::vector<DWORD> pauses = {0};
    for (const sim_event& event : sim_events()) {
        if (event.op == "Sleep") pauses.back() += event.sleep_ms;
        if (event.op == "WriteFile" || event.op == "HidD_SetOutputReport") pauses.push_back(0);
    }
    return pauses;
}

}  // namespace

TEST(Script, EveryTracedFrameAndAnswerTurnsIntoAStepThatGivesItBack) {
    for (const char* option : {"/multitouch", "/mouse", "/digitizer", "/keyboard", "/message", "/flood"})
        for (const expected_frame& frame : expected_frames(option, 3)) expect_round_trip(frame.bytes, frame.via == 'S');
    for (const expected_frame& frame : expected_frames("/joystick", 300)) expect_round_trip(frame.bytes, false);
    for (const expected_frame& frame : expected_frames("/ping", 70000)) expect_round_trip(frame.bytes, false);

    // Random frames of every kind and of none: inside the fields only (the
    // kind's own form), anywhere after a valid header, and anywhere at all.
    std::mt19937 random(20261208);
    size_t count = 0;
    const layout_kind* kinds = layout_kinds(&count);
    int kind_forms = 0, raw_forms = 0;
    for (size_t k = 0; k <= count; ++k) {
        for (int n = 0; n < 3000; ++n) {
            std::vector<uint8_t> frame(LAYOUT_FRAME_SIZE, 0);
            const bool known = k < count;
            if (known) {
                frame[0] = LAYOUT_FRAME_ID;
                frame[1] = kinds[k].length;
                frame[2] = kinds[k].id;
            }
            const int way = n % 3;
            const size_t from = way == 2 || !known ? 0 : 3;
            const size_t to = way == 0 && known ? 2u + kinds[k].length : LAYOUT_FRAME_SIZE;
            for (size_t i = from; i < to; ++i) frame[i] = static_cast<uint8_t>(random());
            if (known && way == 0 && kinds[k].id == 0x07) frame[4] = 0;  // the keyboard's reserved byte
            const bool via_set = known && way == 0 ? kinds[k].set_output : (random() & 1) != 0;
            std::string step;
            expect_round_trip(frame, via_set, &step);
            (step.rfind("frame", 0) == 0 ? raw_forms : kind_forms) += 1;
        }
    }
    EXPECT_GE(kind_forms, 6 * 1000);
    EXPECT_GE(raw_forms, 6 * 2000);

    // Every answer, as the expect step it meets.
    for (int n = 0; n < 3000; ++n) {
        uint8_t report[33] = {0x10};
        for (int i = 1; i < 1 + n % 33; ++i) report[i] = static_cast<uint8_t>(random());
        char step[LAYOUT_STEP_MAX];
        layout_describe_answer(report + 1, 32, step, sizeof(step));
        script_check check;
        script_step compiled;
        ASSERT_TRUE(script_compile(step, std::strlen(step), &compiled, 1, &check)) << step;
        EXPECT_EQ(compiled.kind, step_kind::expect);
        EXPECT_EQ(std::memcmp(compiled.bytes, report + 1, 32), 0) << step;
    }
}

// Spellings the device view never prints, each read as its plain form.
TEST(Script, EachAcceptedSpellingReadsAsItsPlainForm) {
    const struct {
        std::string text;
        std::string plain;
    } cases[] = {
        {"mouse x=0xABCD y=0xEF", "mouse x=43981 y=239"},  // every uppercase digit
        {"mouse x=0XAB buttons=0X0f", "mouse x=171 buttons=15"},
        {"mouse x=0xabcd y=0xef", "mouse x=43981 y=239"},
        {"message \"a\\x41\"", "message \"aA\""},  // the escape last before the quote, last on the line
        {"message \"\\xfF\\x4A\" # two", "message hex=ff4a"},
        {"frame 40 07 03 00 AB cd", "frame 40 07 03 00 ab cd"},
        {"keyboard modifiers=[0XE1] keys=[0X04]", "keyboard modifiers=[Left Shift] keys=[A]"},
    };
    for (const auto& c : cases) {
        script_step steps[2];
        bool read = true;
        for (int i = 0; i < 2; ++i) {
            const std::string& text = i == 0 ? c.text : c.plain;
            script_check check;
            const bool ok = script_compile(text.data(), text.size(), &steps[i], 1, &check) && check.steps == 1;
            EXPECT_TRUE(ok) << text << ": " << check.kept[0].expected;
            read = read && ok;
        }
        if (!read) continue;
        EXPECT_EQ(steps[0].kind, steps[1].kind) << c.text;
        EXPECT_EQ(std::vector<uint8_t>(steps[0].bytes, steps[0].bytes + LAYOUT_FRAME_SIZE),
                  std::vector<uint8_t>(steps[1].bytes, steps[1].bytes + LAYOUT_FRAME_SIZE))
            << c.text;
    }
}

// Each example plays exactly its demonstration's frames, with its pauses.
TEST(Script, EachExamplePlaysItsDemonstration) {
    for (const char* name : kExamples) {
        const std::string option = std::string("/") + name;
        const bool joystick = option == "/joystick";
        run_here(joystick ? "clock=virtual,interrupt-after=100" : "clock=virtual", {option});
        const std::vector<DWORD> pauses = pauses_between_frames();

        const run_result play = run_here("clock=virtual", {"/play:" + example(name)});
        EXPECT_EQ(play.status, 0) << name << "\n" << play.out;
        EXPECT_EQ(frames_received(), expected_frames(option, joystick ? 100 : 0)) << name;
        EXPECT_EQ(reports_read(), expected_replies(option)) << name;
        EXPECT_EQ(pauses_between_frames(), pauses) << name;
        EXPECT_TRUE(sim_usage().none()) << name << ": " << sim_describe(sim_usage());
    }
}

// Nothing is sent and the device is not searched: every wrong line is named
// with its column, the first ten of them, then the count.
TEST(Script, ARejectedScriptSendsNothingAndNamesEachError) {
    const std::string number = "a number from 0 to 65535 (decimal, or hexadecimal after 0x)";
    std::string frame_66 = "frame";
    for (int i = 0; i < 66; ++i) frame_66 += " 00";
    const struct {
        std::string text;
        std::string lines;  // P stands for the script's path
    } cases[] = {
        {"mose x=1\n", "P:1:1: unknown step 'mose' (multitouch, mouse, digitizer, joystick, keyboard, message, "
                       "expect, flush, frame or sleep)\n"},
        {"mouse\n  mouse z=1\n", "P:2:9: unknown field 'z' of mouse (buttons, x, y or wheel)\n"},
        {"mouse x=1 y=2 wheal=0\n", "P:1:15: unknown field 'wheal' of mouse (buttons, x, y or wheel)\n"},
        {"mouse x=12a\n", "P:1:9: found '12a', expected " + number + "\n"},
        {"joystick v7=65536 # too wide\n", "P:1:13: found '65536', expected a number from 0 to 65535\n"},
        {"mouse buttons=256\n", "P:1:15: found '256', expected a number from 0 to 255\n"},
        {"mouse x=1 x=2\n", "P:1:11: x given twice: each field once\n"},
        {"message \"a\\qb\"\n", "P:1:11: found '\\qb\"', expected \\xNN (two hex digits), \\\" or \\\\ after a backslash\n"},
        {"message \"" + std::string(33, 'a') + "\"\n", "P:1:42: found 'a\"', expected at most 32 bytes of text\n"},
        {"expect \"open\n", "P:1:13: found the end of the line, expected a closing quote\n"},
        // An escape read whole up to the line's end: what is missing is the quote.
        {"expect \"op\\x4E\n", "P:1:15: found the end of the line, expected a closing quote\n"},
        {frame_66 + "\n", "P:1:202: found '00', expected at most 65 bytes\n"},
        {"keyboard keys=[A, B, C, D, E, F, G]\n", "P:1:34: found 'G', expected at most 6 keys\n"},
        {"keyboard modifiers=[Left Shoe]\n",
         "P:1:21: found 'Left Shoe', expected a modifier: Left Ctrl, Left Shift, Left Alt, Left GUI, Right Ctrl, Right "
         "Shift, Right Alt, Right GUI, or its usage 0xe0 to 0xe7\n"},
        {"multitouch [x=1\n", "P:1:16: found the end of the line, expected a ']' to close the contact\n"},
        {"sleep 600001\r\n", "P:1:7: found '600001', expected a number from 0 to 600000\n"},
        {"flush now\n", "P:1:7: found 'now', expected the end of the line\n"},
        {"\xEF\xBB\xBF" "frame 40 7\n", "P:1:10: found '7', expected a byte as two hex digits, or via=set\n"},
        // What cannot be printed is shown as the script would write it.
        {"mouse x=\x01\n", "P:1:9: found '\\x01', expected " + number + "\n"},
        {"mouse x=" + std::string(40, '9') + "\n", "P:1:9: found '" + std::string(24, '9') + "...', expected " + number + "\n"},
    };
    for (const auto& c : cases) {
        const std::string path = script_file(c.text);
        const run_result run = run_here("", {"/play:" + path});
        std::string lines = c.lines;
        lines.replace(0, 1, path);
        EXPECT_EQ(run.status, 1) << c.text;
        EXPECT_EQ(run.out, lines + path + ": 1 error(s); nothing was sent\n") << c.text;
        EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0) << c.text;
        EXPECT_TRUE(sim_usage().none()) << c.text << ": " << sim_describe(sim_usage());
        unlink(path.c_str());
    }

    // UTF-16, with either byte-order mark or none: one line that says so and what to do.
    for (const std::string& text : {std::string("\xFF\xFEm\0o\0u\0s\0e\0", 12), std::string("\xFE\xFF\0m\0o", 6),
                                    std::string("m\0o\0u\0s\0e\0 \0x\0=\0" "1\0\n\0", 20)}) {
        const std::string path = script_file(text);
        const run_result run = run_here("", {"/play:" + path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, path + ": the script is UTF-16 text, as Windows PowerShell 5.1's > writes it; save it as "
                                  "UTF-8 (for instance with Set-Content -Encoding utf8, or Notepad's Save as with "
                                  "Encoding UTF-8) and play it again; nothing was sent\n");
        EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0);
        unlink(path.c_str());
    }

    // Eleven wrong lines among right ones: the first ten, and the count.
    std::string text = "mouse x=1\n";
    for (int i = 0; i < 11; ++i) text += "mouse x=-1\n";
    const std::string path = script_file(text);
    const run_result many = run_here("", {"/play:" + path});
    EXPECT_EQ(many.status, 1);
    std::string lines;
    for (int line = 2; line <= 11; ++line) lines += path + ":" + std::to_string(line) + ":9: found '-1', expected " + number + "\n";
    EXPECT_EQ(many.out, lines + path + ": 11 error(s); nothing was sent\n");
    unlink(path.c_str());
}

TEST(Script, AScriptThatCannotBeReadSendsNothing) {
    const std::string big = script_file(std::string(SCRIPT_MAX_BYTES - 5, '#') + "\nflush\n");
    std::string steps;
    for (size_t i = 0; i <= SCRIPT_MAX_STEPS; ++i) steps += "flush\n";
    const std::string many = script_file(steps);
    const std::string fine = example("mouse");
    const std::string missing = scratch_path("no-such-script.txt");
    const struct {
        const char* scenario;
        std::string path;
        std::string out;
        int status;
    } cases[] = {
        {"", "/no/such/folder/script.txt",
         "Error: the script /no/such/folder/script.txt cannot be read: CreateFileA failed: 3 (The system cannot find the path specified.)\n", 1},
        {"", missing, "Error: the script " + missing + " cannot be read: CreateFileA failed: 2 (The system cannot find the file specified.)\n", 1},
        {"", scratch_folder(), "Error: the script " + scratch_folder() + " cannot be read: CreateFileA failed: 5 (Access is denied.)\n", 1},
        // Held by another program, a read that fails, no room.
        {"fail=file:CreateFileA", fine, "Error: the script " + fine + " cannot be read: CreateFileA failed: 32 (The process cannot access the file because it is being used by another process.)\n", 1},
        {"fail=file:ReadFile@2", fine, "Error: the script " + fine + " cannot be read: ReadFile failed: 30 (The system cannot read from the specified device.)\n", 1},
        {"fail=malloc@1", fine, "Error: no room for the script " + fine + "\n", 2},
        {"", big, big + ": more than 1 MiB; nothing was sent\n", 1},
        {"", many, many + ": more than 100000 steps; nothing was sent\n", 1},
    };
    for (const auto& c : cases) {
        const run_result run = run_here(c.scenario, {"/play:" + c.path});
        EXPECT_EQ(run.status, c.status) << c.path;
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0) << c.path;
        EXPECT_TRUE(sim_usage().none()) << c.path << ": " << sim_describe(sim_usage());
    }
    unlink(big.c_str());
    unlink(many.c_str());
}

TEST(Play, RefusalsExpectationsStallsRepeatAndQuiet) {
    const std::string path = script_file(
        "# every kind of step\r\nmouse x=1\r\n\r\nmessage \"hi\"  # answered\r\nexpect \"hi\"\r\n"
        "frame 40 07 03 via=set\r\nsleep 5\r\n");
    const std::string head = connected_prologue() + "Playing " + path + ": 5 step(s), ";
    auto at = [&](int line, const char* step) { return path + ":" + std::to_string(line) + ": " + step + "\n"; };
    const std::string lines = at(2, "mouse x=1") + at(4, "message \"hi\"") + at(6, "frame 40 07 03 via=set");
    const struct {
        const char* scenario;
        std::vector<std::string> modifiers;
        int status;
        std::string out;  // after the head
    } cases[] = {
        {"", {}, 0, "1 time(s), each transfer within 5000 ms\n" + lines +
                        "Play: 5 steps, 3 reports sent, 0 refused; 1 of 1 expectation met\n"},
        {"fail=WriteFile@1", {}, 4, "1 time(s), each transfer within 5000 ms\n" + at(2, "mouse x=1") +
                                        "failed WriteFile 31\n" + at(4, "message \"hi\"") + at(6, "frame 40 07 03 via=set") +
                                        "Play: 5 steps, 3 reports sent, 1 refused; 1 of 1 expectation met\n"},
        {"reply=ho", {}, 4, "1 time(s), each transfer within 5000 ms\n" + at(2, "mouse x=1") + at(4, "message \"hi\"") +
                                path + ":5: expected \"hi\", the device answered \"ho\"\n" + at(6, "frame 40 07 03 via=set") +
                                "Play: 5 steps, 3 reports sent, 0 refused; 0 of 1 expectation met\n"},
        // Past its deadline the run stops where it is.
        {"stall=WriteFile@2", {"/timeout:250"}, 5,
         "1 time(s), each transfer within 250 ms\n" + at(2, "mouse x=1") + at(4, "message \"hi\"") +
             "failed WriteFile 995\nStopped: the driver did not complete WriteFile within 250 ms\n"
             "Play: 2 steps, 2 reports sent, 1 refused\n"},
        {"answer=none", {}, 5, "1 time(s), each transfer within 5000 ms\n" + at(2, "mouse x=1") + at(4, "message \"hi\"") +
                                   "failed ReadFile 995\nStopped: the driver did not complete ReadFile within 5000 ms\n"
                                   "Play: 3 steps, 2 reports sent, 0 refused; 0 of 1 expectation met\n"},
        {"", {"/repeat:2"}, 0, "2 time(s), each transfer within 5000 ms\n" + lines + lines +
                                   "Play: 10 steps, 6 reports sent, 0 refused; 2 of 2 expectations met\n"},
        // Quiet: the failures, where they were, progress once a second, the summary.
        {"latency=100000,fail=ReadFile@2,fail=HidD_SetOutputReport@3", {"/quiet", "/repeat:3"}, 4,
         "3 time(s), each transfer within 5000 ms\nfailed ReadFile 1167\n    in " + at(5, "expect \"hi\"") +
         "Play: 13 steps so far, 8 reports sent, 0 refused\nfailed HidD_SetOutputReport 31\n    in " +
         at(6, "frame 40 07 03 via=set") +
         "Play: 15 steps, 9 reports sent, 1 refused; 2 of 3 expectations met\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"/play:" + path};
        args.insert(args.end(), c.modifiers.begin(), c.modifiers.end());
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, args);
        EXPECT_EQ(run.status, c.status) << c.scenario;
        EXPECT_EQ(run.out, head + c.out) << c.scenario;
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
    }
    unlink(path.c_str());

    // flush empties the answers still queued: only the last message's is read.
    const std::string flushing = script_file("message \"a\"\nmessage \"b\"\nflush\nmessage \"c\"\nexpect \"c\"\n");
    EXPECT_EQ(run_here("clock=virtual", {"/play:" + flushing}).status, 0);
    const run_result unflushed = run_here("clock=virtual,fail=HidD_FlushQueue", {"/play:" + flushing});
    EXPECT_EQ(unflushed.status, 4);
    const std::string unflushed_tail = "failed HidD_FlushQueue 31\n" + flushing + ":4: message \"c\"\n" + flushing +
                                       ":5: expected \"c\", the device answered \"a\"\nPlay: 5 steps, 3 reports sent, 0 "
                                       "refused; 0 of 1 expectation met\n";
    EXPECT_EQ(tail(unflushed.out, unflushed_tail.size()), unflushed_tail) << unflushed.out;
    unlink(flushing.c_str());
}

// /send: the rest of the command line as typed, its quotes kept.
TEST(Play, SendPlaysOneStepFromTheCommandLine) {
    const run_result run = run_here("clock=virtual", {"/send", "keyboard", "keys=[Caps", "Lock]", "modifiers=[0xe1]"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, connected_prologue() + "/send:1: keyboard keys=[Caps Lock] modifiers=[0xe1]\n"
                                              "Play: 1 step, 1 report sent, 0 refused\n");
    EXPECT_EQ(frames_received(), (std::vector<expected_frame>{
                                     {'W', {0x40, 0x09, 0x07, 0x02, 0x00, 0x39, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}}));

    const run_result quoted = run_here("clock=virtual", {"/send", "message", "a \"b\"\\"});
    EXPECT_EQ(quoted.status, 0) << quoted.out;
    std::vector<std::vector<uint8_t>> sent = frames_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::string(sent[0].begin() + 3, sent[0].begin() + 9), "a \"b\"\\");

    const run_result spaced = run_here("clock=virtual", {"/send", "message", "a  b"});
    EXPECT_EQ(spaced.status, 0);
    sent = frames_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::string(sent[0].begin() + 3, sent[0].begin() + 7), "a  b");

    const run_result wrong = run_here("", {"/send", "mouse", "x=70000"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "/send:1:9: found '70000', expected a number from 0 to 65535\n/send: 1 error(s); nothing was sent\n");
    EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0);

    // A modifier is part of the step, and the error says where the step went wrong.
    const run_result modifier = run_here("", {"/send", "mouse", "x=1", "/timeout:5"});
    EXPECT_EQ(modifier.status, 1);
    EXPECT_EQ(modifier.out, "/send:1:11: found '/timeout:5', expected a field of mouse: buttons, x, y or wheel\n"
                            "/send: 1 error(s); nothing was sent\n"
                            "/send takes no modifiers: everything after it, to the end of the line, is its one step\n");
    EXPECT_EQ(sim_calls("SetupDiGetClassDevsA"), 0);

    const run_result none = run_here("", {"/send"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, std::string(kUsage) + "Missing value: /send STEP\n");
}

// /send's step is the command line past the program's name and the option.
// The name ends where the C runtime ends argv[0]: at a blank outside quotes,
// quotes holding blanks in without ending it, so a quoted name glued to the
// option takes the option along (the runtime's argv[1] is then "mouse").
TEST(Send, TheStepStartsWhereTheRuntimeEndsTheOption) {
    const struct {
        const char* line;
        const char* after_name;
        const char* step;
    } cases[] = {
        {"testquorvex /send mouse x=1", "/send mouse x=1", "mouse x=1"},
        {"testquorvex.exe\t/send\t mouse x=1", "/send\t mouse x=1", "mouse x=1"},
        {"C:\\path\\testquorvex.exe   /send  message \"a  b\"", "/send  message \"a  b\"", "message \"a  b\""},
        {"\"C:\\Program Files\\q\\testquorvex.exe\" /send mouse x=1", "/send mouse x=1", "mouse x=1"},
        {"\"C:\\path\\testquorvex.exe\"/send mouse x=1", "mouse x=1", "x=1"},
        {"\"C:\\path\\testquorvex.exe\"\t/send mouse", "/send mouse", "mouse"},
        {"C:\\Program\" \"Files\\testquorvex.exe /send x=1", "/send x=1", "x=1"},
        {"testquorvex \"/send\" mouse", "\"/send\" mouse", "mouse"},
        {"\"C:\\no end /send mouse", "", ""},
        {"testquorvex  ", "", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(skip_argument(c.line), c.after_name) << c.line;
        EXPECT_STREQ(skip_argument(skip_argument(c.line)), c.step) << c.line;
    }

    // The simulated system's command line, quoted from the arguments, is
    // read back the same way: past the name, the option and its blanks.
    const struct {
        std::vector<const char*> argv;
        const char* step;
    } quoted[] = {
        {{"testquorvex", "/send", "mouse", "x=1"}, "mouse x=1"},
        {{"C:\\Program Files\\q\\testquorvex.exe", "/send", "mouse", "x=1"}, "mouse x=1"},
        {{"C:\\with\ttab\\testquorvex.exe", "/send", "message", "a\tb"}, "message \"a\tb\""},
        {{"C:\\trailing space \\", "/send", "message", "\"hi\""}, "message \"\\\"hi\\\"\""},
    };
    for (const auto& q : quoted) {
        sim_set_arguments(static_cast<int>(q.argv.size()), q.argv.data());
        EXPECT_STREQ(skip_argument(GetCommandLineA()), (std::string("/send ") + q.step).c_str()) << GetCommandLineA();
        EXPECT_STREQ(skip_argument(skip_argument(GetCommandLineA())), q.step) << GetCommandLineA();
    }
}

// Standard input, and the quotes the program's own command line keeps.
TEST(WholeProgram, PlaysStandardInputAndSendsWhatWasTyped) {
    const std::string input = script_file("message \"hi\"\nexpect any\n");
    child_process child = start_child({TESTQUORVEX_EXE, "/play:-"}, {"QUORVEX_SIM=clock=virtual,reply=yo"}, input);
    const child_result played = finish_child(child, 60000);
    unlink(input.c_str());
    EXPECT_EQ(played.status, 0);
    const std::string played_tail = "\n-:1: message \"hi\"\nPlay: 2 steps, 1 report sent, 0 refused; 1 of 1 "
                                    "expectation met\n";
    EXPECT_EQ(tail(played.out, played_tail.size()), played_tail) << played.out;

    // The quotes of the command line survive to the step; the comment after it goes nowhere.
    const run_result said = run_program("clock=virtual", {"/send", "message", "say \"hi\"", "#", "not", "sent"});
    EXPECT_EQ(said.status, 0);
    EXPECT_NE(said.out.find("\n/send:1: message \"say \\\"hi\\\"\"\n"), std::string::npos) << said.out;
    EXPECT_NE(said.err.find("| message \"say \\x22hi\\x22\"\n"), std::string::npos) << said.err;
}

namespace {

std::string last_line(const std::string& text) {
    const size_t end = text.size() >= 2 ? text.size() - 2 : 0;
    const size_t start = text.rfind('\n', end > 0 ? end - 1 : 0);
    return text.substr(start == std::string::npos ? 0 : start + 1);
}

}  // namespace

// A run's trace plays again as the same frames, answers and pauses, and the
// trace of that replay has the same steps: for every example, and for each
// long run that is not a script.
TEST(Play, ATraceReplaysAsTheSameFramesPausesAndSteps) {
    std::vector<std::vector<std::string>> runs;
    for (const char* name : kExamples) runs.push_back({"/play:" + example(name)});
    const std::string journal = scratch_path("trace-journal.txt");
    runs.push_back({"/all"});
    runs.push_back({"/ping", "/count:3"});
    runs.push_back({"/flood", "/count:5"});
    runs.push_back({"/fuzz", "/seed:7", "/count:70", "/out:" + journal});
    for (std::vector<std::string> args : runs) {
        const std::string what = args[0];
        const std::string first = scratch_path("trace-first.txt"), again = scratch_path("trace-again.txt");
        args.push_back("/trace:" + first);
        const run_result run = run_here("clock=virtual", args);
        EXPECT_EQ(run.status, 0) << what << "\n" << run.out;
        const std::vector<expected_frame> frames = frames_handed();
        const std::vector<std::vector<uint8_t>> answers = reports_read();
        const std::vector<DWORD> pauses = pauses_between_frames();

        const run_result replay = run_here("clock=virtual", {"/play:" + first, "/trace:" + again});
        EXPECT_EQ(replay.status, what == "/fuzz" ? 4 : 0) << what << "\n" << replay.out;
        EXPECT_EQ(frames_handed(), frames) << what;
        EXPECT_EQ(reports_read(), answers) << what;
        EXPECT_EQ(pauses_between_frames(), pauses) << what;
        const std::string traced = read_file(first);
        EXPECT_EQ(trace_steps(read_file(again)), trace_steps(traced)) << what;
        if (what.rfind("/play:", 0) == 0) EXPECT_EQ(trace_steps(traced), trace_steps(read_file(args[0].substr(6)))) << what;
        EXPECT_EQ(last_line(traced), "# ended, status 0\r\n") << what;
        EXPECT_TRUE(sim_usage().none()) << what << ": " << sim_describe(sim_usage());
        unlink(first.c_str());
        unlink(again.c_str());
    }
}

// Each transfer's line says what came of it, and the trace is whole however
// the run ends: Ctrl+C, a stall, a closing console, a driver that keeps a
// cancelled transfer.
TEST(Play, ATraceSaysEachResultAndIsFlushedOnEveryEnd) {
    const std::string path = scratch_path("trace-end.txt");
    const std::string aborted =
        "995 (The I/O operation has been aborted because of either a thread exit or an application request.)";
    const struct {
        std::vector<std::string> args;
        const char* scenario;
        bool whole_program;
        int status;
        std::vector<std::string> lines;  // in the trace, in this order
    } cases[] = {
        {{"/all"}, "ctrl-c-after=9", false, EXIT_INTERRUPTED,
         {"mouse buttons=0x00 x=1000 y=10000 wheel=0 # ok\r\n", "digitizer status=2 x=1000 y=10000 # ok\r\n",
          "sleep 100\r\n", "# stopped by Ctrl+C, status 130\r\n"}},
        {{"/play:" + example("message")}, "fail=WriteFile@1", false, 5,
         {"message \"Hello quorvex\" # refused 31 (A device attached to the system is not functioning.)\r\n",
          "# ReadFile: no answer, not done within 5000 ms: cancelled, " + aborted + "\r\n",
          "# stopped: a transfer was not done within its deadline (ReadFile), status 5\r\n"}},
        {{"/ping", "/count:2", "/timeout:250"}, "stall=WriteFile@2", false, 5,
         {"expect \"\\x01\" # answered\r\n",
          "message \"\\x02\" # not done within 250 ms: cancelled, " + aborted + "\r\n",
          "# stopped: a transfer was not done within its deadline (WriteFile), status 5\r\n"}},
        {{"/flood", "/count:100"}, "ctrl-close-after=9", true, static_cast<int>(STATUS_CONTROL_C_EXIT & 0xFF),
         {"joystick v1=128 v2=128 v3=128 v4=128 v5=128 v6=128 v7=0 # ok\r\n",
          "# stopped: the console is closing, status 130\r\n"}},
        {{"/all"}, "stall=WriteFile@2:deaf", true, 5,
         {"multitouch [status=7 id=0 x=1000 y=6500 w=20 h=30] [status=7 id=1 x=2000 y=8000 w=20 h=30] count=4 # ok\r\n",
          "# stopped: a transfer was not done within its deadline (WriteFile), status 5\r\n"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("/trace:" + path);
        const std::string scenario = std::string("clock=virtual,latency=1000,") + c.scenario;
        const run_result run = c.whole_program ? run_program(scenario.c_str(), args) : run_here(scenario, args);
        EXPECT_EQ(run.status, c.status) << c.scenario << "\n" << run.out;
        const std::string trace = read_file(path);
        size_t at = 0;
        for (const std::string& line : c.lines) {
            const size_t found = trace.find(line, at);
            EXPECT_NE(found, std::string::npos) << c.scenario << ": " << line << "\n" << trace;
            if (found != std::string::npos) at = found + line.size();
        }
        EXPECT_EQ(at, trace.size()) << c.scenario << ": the last line is not the end\n" << trace;
        unlink(path.c_str());
    }
}

// A trace that cannot be made sends nothing; one that cannot be written,
// flushed or closed says so after the summary, and the status is 2.
TEST(Play, ATraceThatCannotBeWrittenIsStatusTwo) {
    const std::string path = scratch_path("trace-fault.txt"), journal = scratch_path("trace-fault-journal.txt");
    const std::string there = script_file("mouse\n");
    const struct {
        const char* scenario;
        std::vector<std::string> args;
        std::string out;  // the last lines; P: the trace
        bool sent;
    } cases[] = {
        {"fail=file:CreateFileA", {"/all"},
         "Error: the trace P: CreateFileA failed: 32 (The process cannot access the file because it is being used by "
         "another process.); nothing was sent\n",
         false},
        {"", {"/all", "/trace:" + there},
         "Error: the trace " + there + ": CreateFileA failed: 80 (The file exists.); nothing was sent\n", false},
        // The journal is made first, and goes with the run that did not start.
        {"fail=file:CreateFileA@2", {"/fuzz", "/seed:1", "/out:" + journal},
         "Error: the trace P: CreateFileA failed: 32 (The process cannot access the file because it is being used by "
         "another process.); nothing was sent\n",
         false},
        {"fail=file:WriteFile@4", {"/all"},
         "All: 31 reports sent, 0 refused; vendor message read back\nError: the trace P: WriteFile failed: 112 (There "
         "is not enough space on the disk.)\n",
         true},
        {"fail=file:FlushFileBuffers", {"/play:" + example("mouse")},
         "Play: 1 step, 1 report sent, 0 refused\nError: the trace P: FlushFileBuffers failed: 29 (The system cannot "
         "write to the specified device.)\n",
         true},
        {"fail=file:CloseHandle", {"/flood", "/count:3"},
         "Error: the trace P: CloseHandle failed: 6 (The handle is invalid.)\n", true},
        {"device=none", {"/all"}, kNotFound, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        if (c.args.back().rfind("/trace:", 0) != 0) args.push_back("/trace:" + path);
        const run_result run = run_here(std::string("clock=virtual,") + c.scenario, args);
        std::string out = c.out;
        for (size_t p = out.find(" P:"); p != std::string::npos; p = out.find(" P:")) out.replace(p + 1, 1, path);
        EXPECT_EQ(run.status, c.out == kNotFound ? 3 : 2) << c.scenario;
        EXPECT_EQ(tail(run.out, out.size()), out) << c.scenario << "\n" << run.out;
        EXPECT_EQ(sim_calls("SetupDiGetClassDevsA") > 0, c.sent || c.out == kNotFound) << c.scenario;
        EXPECT_EQ(frames_handed().empty(), !c.sent) << c.scenario;
        EXPECT_EQ(access(journal.c_str(), F_OK), -1) << c.scenario;
        const std::string trace = c.sent || c.out == kNotFound ? read_file(path) : "";
        if (c.out == kNotFound) EXPECT_EQ(trace.substr(trace.find('\n') + 1), "# ended, status 3\r\n");
        // The header and two lines: the trace stops at the write that failed.
        if (std::string(c.scenario) == "fail=file:WriteFile@4") EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 3);
        EXPECT_TRUE(sim_usage().none()) << c.scenario << ": " << sim_describe(sim_usage());
        unlink(path.c_str());
    }
}
