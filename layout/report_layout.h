// The report kinds' field layouts, in one table that both directions read: the
// script reader turns a step into a control frame with it, and the device
// view turns a frame back into the step that gives it. So whatever the tool
// traces, it can play back. It depends on nothing of the program's own.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr int LAYOUT_FRAME_SIZE = 65;     // the control frame, report ID included
constexpr uint8_t LAYOUT_FRAME_ID = 0x40;
constexpr int LAYOUT_DATA_SIZE = 32;      // a vendor message's data
constexpr size_t LAYOUT_STEP_MAX = 256;   // the longest step text a frame describes as, terminator included

enum class field_style : uint8_t {
    number,     // decimal
    hex_byte,   // 0x%02x
    modifiers,  // the boot keyboard's modifier bits, as a list of names
    keys,       // six key usages, as a list of names
    text,       // a vendor message's 32 data bytes
};

struct layout_field {
    const char* name;
    uint8_t offset;  // in the inner report, whose report ID is at 0
    uint8_t width;   // bytes: 1 or 2 for numbers (little-endian), 6 for keys, 32 for text
    field_style style;
};

struct layout_kind {
    const char* name;
    uint8_t id;
    uint8_t length;   // of the inner report, report ID included: the frame's length byte
    bool set_output;  // its demonstration sends it with HidD_SetOutputReport, not WriteFile
    // Repeated groups of fields, written "[name=value ...]" before the plain
    // fields: the touch contacts.
    uint8_t groups;
    uint8_t group_offset;
    uint8_t group_size;
    const layout_field* group_fields;
    uint8_t group_field_count;
    const layout_field* fields;
    uint8_t field_count;
};

// Every kind the device knows, in the order the option table lists them.
const layout_kind* layout_kinds(size_t* count);
const layout_kind* layout_kind_of(uint8_t id);
const layout_kind* layout_kind_named(const char* name, size_t length);

// The largest value a number field holds.
inline uint32_t layout_field_max(const layout_field& field) { return field.width == 2 ? 0xFFFF : 0xFF; }
uint32_t layout_get(const uint8_t* inner, const layout_field& field);
void layout_put(uint8_t* inner, const layout_field& field, uint32_t value);

// Keys: the name the device view prints for a usage (null: it prints 0xNN),
// and the usage a name stands for (-1: none). "0" to "9" are the digit keys.
const char* layout_key_name(uint8_t usage);
int layout_key_named(const char* name, size_t length);
// Modifiers: bit 0 to 7 of the modifier byte, and HID usages 0xE0 to 0xE7.
const char* layout_modifier_name(int bit);
int layout_modifier_named(const char* name, size_t length);

// The step that gives back these 65 bytes sent this way, in its shortest
// form, into out (cap bytes at most, terminated); returns its length.
size_t layout_describe_frame(const uint8_t frame[LAYOUT_FRAME_SIZE], bool via_set, char* out, size_t cap);
// The step that sends this inner report (report ID first, length bytes), as
// its kind's frame would carry it: what an input collection delivered.
size_t layout_describe_inner(const uint8_t* inner, size_t length, bool via_set, char* out, size_t cap);
// The same as a raw frame step, whatever it holds: the fuzz journal's form.
size_t layout_describe_raw_frame(const uint8_t frame[LAYOUT_FRAME_SIZE], bool via_set, char* out, size_t cap);
// The expect step an answer meets: its data bytes (after the report ID),
// zeros after them.
size_t layout_describe_answer(const uint8_t* data, size_t length, char* out, size_t cap);
// A message's or an answer's 32 data bytes: "TEXT" when they are text up to a
// zero and zeros after it, hex=... otherwise.
size_t layout_describe_data(const uint8_t data[LAYOUT_DATA_SIZE], char* out, size_t cap);
