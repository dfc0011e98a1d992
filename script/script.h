// Scripts: the tester's own reports, pauses and expected answers, one step a
// line, in the words the device view prints. The one reader of that text:
// it checks every line before anything is sent and compiles the steps into a
// block the caller owns, so that playing them allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layout/report_layout.h"

constexpr size_t SCRIPT_MAX_BYTES = 1024 * 1024;
constexpr size_t SCRIPT_MAX_STEPS = 100000;
constexpr int SCRIPT_ERRORS_KEPT = 10;

enum class step_kind : uint8_t {
    write,       // the frame, by WriteFile
    set,         // the frame, by HidD_SetOutputReport
    expect,      // the next answer's data must be these bytes
    expect_any,  // the next answer, whatever it holds
    flush,       // empty the queue of answers
    sleep,
};

struct script_step {
    step_kind kind;
    uint32_t line;
    uint32_t text;         // where the step stands in the script, as read
    uint32_t text_length;
    uint32_t sleep_ms;
    uint8_t bytes[LAYOUT_FRAME_SIZE];  // write, set: the frame; expect: the data
};

struct script_error {
    uint32_t line;
    uint32_t column;  // from 1, in bytes
    char expected[256];
};

struct script_check {
    size_t steps;   // how many the text holds
    size_t errors;  // how many lines are wrong, in all
    bool utf16;     // the text is UTF-16, which no line of it is read as: one error
    script_error kept[SCRIPT_ERRORS_KEPT];  // the first of them
};

// Reads the whole text (a byte-order mark at its start is skipped). Without
// room (steps null) it only checks and counts; with room for check->steps
// steps from a first call, it writes them too. True when no line is wrong.
bool script_compile(const char* text, size_t size, script_step* steps, size_t room, script_check* check);
