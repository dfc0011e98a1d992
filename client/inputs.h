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
    QUORVEX_INPUT_MESSAGE = QUORVEX_INPUT_KINDS,  // the message collection's answers, for /watch
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

// What Windows' mouse and keyboard class drivers make of a report, as Raw
// Input hands it over.
struct quorvex_input_event {
    quorvex_input_kind kind;  // mouse or keyboard
    RAWMOUSE mouse;
    RAWKEYBOARD keyboard;
};
using quorvex_event_sink = void (*)(void* context, const quorvex_input_event* event, int64_t ticks);

struct quorvex_input_collection {
    input_path path;
    DWORD open_error;        // of the read open, when it failed
    bool follows;            // its input report's ID and length are its kind's
    uint8_t report_id;       // as HidP_GetCaps gives them
    USHORT input_length;
    HANDLE handle;           // read path only
    HANDLE thread;
    DWORD read_error;        // the read that ended the reader, when not a stop
    // Mouse: the X and Y logical range its descriptor declares.
    LONG x_min, x_max, y_min, y_max;
};

struct quorvex_inputs {
    quorvex_input_collection collections[QUORVEX_INPUT_KINDS + 1];  // and the message collection, when read
    quorvex_input_sink sink;
    quorvex_event_sink event_sink;
    void* context;
    std::atomic<bool> stopping;
    // Raw Input, for the collections the system holds: a message-only window
    // on a thread of its own.
    HANDLE raw_thread;
    DWORD raw_thread_id;
};

// Forces Raw Input for touch, pen and joystick even where they open for
// reading: the path Windows takes for the held ones, tried where none is held.
extern bool quorvex_force_raw_input;

// Finds the input collections of the device whose control collection the
// client opened, opens each for reading, and starts a reader on each that
// opened. False, with the failure printed and nothing left running, when
// Windows refuses the enumeration, a buffer count or a thread (the readers
// already started are then given timeout_ms to end).
bool quorvex_inputs_start(quorvex_inputs* inputs, quorvex_input_sink sink, quorvex_event_sink event_sink,
                          void* context, DWORD timeout_ms);
// Stops the readers (a reader that will not stop is left behind, never
// waited on for more than timeout_ms) and closes every handle.
void quorvex_inputs_stop(quorvex_inputs* inputs, DWORD timeout_ms);
// Reads the message collection on the client's handle too, which stays the
// client's; false, with the failure printed, when Windows refuses the thread.
bool quorvex_inputs_read_messages(quorvex_inputs* inputs, HANDLE message);

// Raw Input for the held collections (raw_input.cpp): the window's thread
// started, registered for each; false, with the failing call named, when
// any of it fails.
bool quorvex_raw_input_start(quorvex_inputs* inputs);
void quorvex_raw_input_stop(quorvex_inputs* inputs, DWORD timeout_ms);
// The device path each collection was found at, for matching Raw Input's names.
const char* quorvex_input_path(quorvex_input_kind kind);
// Whether two paths name the same collection, whatever their case and interface class.
bool quorvex_same_collection(const char* a, const char* b);

// Whether two device paths name collections of one device: the same vendor
// and product, and the same instance up to the collection's own number,
// whatever their case and interface class.
bool quorvex_same_device(const char* a, const char* b);
