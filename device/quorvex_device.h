// The emulated quorvex device: its identity, its two collections' report
// descriptors and lengths, the frames it accepts and what it answers. The
// simulated system and the HID minidriver of the end-to-end tests both present
// this one model. It is freestanding (no library, no allocation) so that a
// kernel driver can link it, and it keeps its own copy of the identity the
// client looks for: a wrong constant in the client must not be shared here.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint16_t DEVICE_VENDOR_ID = 0x001F;
constexpr uint16_t DEVICE_PRODUCT_ID = 0xBA1C;
constexpr uint16_t DEVICE_VERSION = 0x0100;
constexpr uint16_t DEVICE_USAGE_PAGE = 0xFF00;

// The two top-level collections, named by their usage.
enum device_collection : uint16_t {
    DEVICE_CONTROL = 0x0001,  // takes the 65-byte control frame as its output report
    DEVICE_MESSAGE = 0x0002,  // delivers 33-byte vendor message input reports
};

constexpr uint8_t DEVICE_CONTROL_REPORT_ID = 0x40;
constexpr uint8_t DEVICE_MESSAGE_REPORT_ID = 0x10;
// Report ID byte included, as Windows counts them.
constexpr uint32_t DEVICE_OUTPUT_LENGTH = 65;
constexpr uint32_t DEVICE_INPUT_LENGTH = 33;

struct device_descriptor {
    const uint8_t* bytes;
    uint16_t size;
};
device_descriptor device_report_descriptor(device_collection collection);

// The inner report length the device expects after an inner report ID; 0 for
// an ID it does not know.
uint32_t device_inner_length(uint8_t inner_id);

// Whether the control collection takes this output report: the whole 65
// bytes, the control report ID, and a length byte that matches the inner report.
bool device_accepts(const uint8_t* frame, uint32_t length);

// The input report an accepted frame makes the message collection deliver: a
// vendor message is echoed. False when the frame asks for no answer.
bool device_answer(const uint8_t* frame, uint8_t reply[DEVICE_INPUT_LENGTH]);

// A fault a test plants in the device: the frame after which it goes deaf.
// One with this kind byte and this length byte, or one of this kind whose
// field, 1 or 2 bytes wide, holds this value at either of two inner offsets
// (a touch contact's field is in both contacts; any other field's two are
// the same).
struct device_fault {
    uint8_t kind;
    int length;  // -1: a field rule
    uint8_t offset;
    uint8_t second;
    uint8_t width;
    uint32_t value;
};
bool device_breaks(const device_fault& fault, const uint8_t frame[DEVICE_OUTPUT_LENGTH]);

// The input collections: one for each report kind that is input to the
// system, with a standard usage. The device delivers each accepted frame of
// such a kind as one input report on its collection: the inner report,
// unchanged (its report ID and bytes).
enum device_input : uint8_t {
    DEVICE_INPUT_TOUCH,
    DEVICE_INPUT_MOUSE,
    DEVICE_INPUT_PEN,
    DEVICE_INPUT_JOYSTICK,
    DEVICE_INPUT_KEYBOARD,
    DEVICE_INPUT_COUNT,
};

constexpr uint32_t DEVICE_INPUT_REPORT_MAX = 22;  // the longest input report, report ID included

struct device_input_collection {
    const char* kind;  // as scripts spell the report kind
    uint16_t usage_page;
    uint16_t usage;
    uint8_t report_id;
    uint32_t input_length;  // report ID included
    device_descriptor descriptor;
};
const device_input_collection& device_input_of(device_input which);
// The input collection of the kind this report ID starts; false for none.
bool device_input_for(uint8_t report_id, device_input* which);
// The input collection of the kind scripts spell this way; false for none.
bool device_input_named(const char* kind, size_t length, device_input* which);

// A delivery fault a test plants for one kind: its accepted frames are never
// delivered, delivered with byte 1 changed, or delivered twice.
enum device_misdelivery : uint8_t { DEVICE_DELIVERS, DEVICE_UNDELIVERED, DEVICE_ALTERED, DEVICE_DOUBLED };
struct device_delivery_fault {
    device_misdelivery how;
    device_input which;
};

// What an accepted frame makes its input collection deliver: how many input
// reports (0, 1 or 2, each the same), the collection, and the report with its
// length. 0 for a frame of no input kind, or one the device does not accept,
// with *which DEVICE_INPUT_COUNT and *length 0.
int device_deliver(const uint8_t frame[DEVICE_OUTPUT_LENGTH], const device_delivery_fault& fault, device_input* which,
                   uint8_t report[DEVICE_INPUT_REPORT_MAX], uint32_t* length);

// The device's strings, by the HID minidriver's string IDs (manufacturer,
// product, serial number); null for any other.
const char16_t* device_string(uint32_t string_id);
