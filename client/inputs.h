// The quorvex device's input collections: where each report kind that is
// input to the system arrives. Found beside the control collection the client
// opened, read on a handle of the tool's own where the system lets it, and
// each report passed to a sink with the time it was read.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

enum quorvex_input_kind : uint8_t {
    QUORVEX_INPUT_TOUCH,
    QUORVEX_INPUT_MOUSE,
    QUORVEX_INPUT_PEN,
    QUORVEX_INPUT_JOYSTICK,
    QUORVEX_INPUT_KEYBOARD,
    QUORVEX_INPUT_KINDS,
};

// What the device promises of each: its usage, and that its input report is
// the inner report unchanged (report ID and length).
struct quorvex_input_contract {
    const char* kind;  // as scripts spell it
    const char* name;  // as the usage tables name it
    uint16_t usage_page;
    uint16_t usage;
    uint8_t report_id;
};
extern const quorvex_input_contract QUORVEX_INPUTS[QUORVEX_INPUT_KINDS];
// The kind whose inner reports carry this ID; false for none.
bool quorvex_input_of_report(uint8_t report_id, quorvex_input_kind* kind);
// The kind whose usage this is; false for none.
bool quorvex_input_of_usage(uint16_t usage_page, uint16_t usage, quorvex_input_kind* kind);

// The longest input report a reader takes, report ID included.
constexpr DWORD QUORVEX_INPUT_REPORT_MAX = 64;
// The most reports Windows keeps for one handle.
constexpr ULONG QUORVEX_INPUT_BUFFERS = 512;

enum class input_path : uint8_t {
    missing,   // the device has no such collection
    read,      // ReadFile on a handle of the tool's own
    held,      // the system holds it: the read open failed with 5 or 32
    refused,   // the read open failed otherwise
};

// Reports arrive on the reader's thread; the sink must not block long.
using quorvex_input_sink = void (*)(void* context, quorvex_input_kind kind, const uint8_t* bytes, DWORD length,
                                    int64_t ticks);

struct quorvex_input_collection {
    input_path path;
    DWORD open_error;        // of the read open, when it failed
    bool follows;            // its input report's ID and length are its kind's
    uint8_t report_id;       // as HidP_GetCaps gives them
    USHORT input_length;
    HANDLE handle;           // read path only
    HANDLE thread;
    DWORD read_error;        // the read that ended the reader, when not a stop
};

struct quorvex_inputs {
    quorvex_input_collection collections[QUORVEX_INPUT_KINDS];
    quorvex_input_sink sink;
    void* context;
    std::atomic<bool> stopping;
    bool found_control;  // the control collection the client opened was seen
};

// Finds the input collections of the device whose control collection the
// client opened, opens each for reading, and starts a reader on each that
// opened. False, with the failure printed and nothing left running, when
// Windows refuses the enumeration, a buffer count or a thread.
bool quorvex_inputs_start(quorvex_inputs* inputs, quorvex_input_sink sink, void* context);
// Stops the readers (a reader that will not stop is left behind, never
// waited on for more than timeout_ms) and closes every handle.
void quorvex_inputs_stop(quorvex_inputs* inputs, DWORD timeout_ms);

// Whether two device paths name collections of one device: the same vendor
// and product, and the same instance up to the collection's own number,
// whatever their case and interface class.
bool quorvex_same_device(const char* a, const char* b);
