#include "device/quorvex_device.h"

namespace {

// Vendor page 0xFF00, one application collection per usage, byte-sized fields.
constexpr uint8_t kControlDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (0xFF00)
    0x09, 0x01,        // Usage (control)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x40,        //   Report ID (0x40)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (control)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0xC0,              // End Collection
};

constexpr uint8_t kMessageDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (0xFF00)
    0x09, 0x02,        // Usage (message)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x10,        //   Report ID (0x10)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x20,        //   Report Count (32)
    0x09, 0x02,        //   Usage (message)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0xC0,              // End Collection
};

}  // namespace

device_descriptor device_report_descriptor(device_collection collection) {
    if (collection == DEVICE_CONTROL) return {kControlDescriptor, sizeof(kControlDescriptor)};
    return {kMessageDescriptor, sizeof(kMessageDescriptor)};
}

uint32_t device_inner_length(uint8_t inner_id) {
    switch (inner_id) {
        case 0x01: return 22;  // multitouch
        case 0x03: return 7;   // mouse
        case 0x05: return 6;   // digitizer
        case 0x06: return 9;   // joystick
        case 0x07: return 9;   // keyboard
        case 0x10: return 33;  // vendor message
        default: return 0;
    }
}

bool device_accepts(const uint8_t* frame, uint32_t length) {
    if (frame == nullptr || length != DEVICE_OUTPUT_LENGTH) return false;
    const uint32_t inner = device_inner_length(frame[2]);
    return frame[0] == DEVICE_CONTROL_REPORT_ID && inner != 0 && frame[1] == inner;
}

bool device_answer(const uint8_t* frame, uint8_t reply[DEVICE_INPUT_LENGTH]) {
    if (frame[2] != DEVICE_MESSAGE_REPORT_ID) return false;
    reply[0] = DEVICE_MESSAGE_REPORT_ID;
    for (uint32_t i = 1; i < DEVICE_INPUT_LENGTH; ++i) reply[i] = frame[2 + i];
    return true;
}

bool device_breaks(const device_fault& fault, const uint8_t frame[DEVICE_OUTPUT_LENGTH]) {
    if (frame[2] != fault.kind) return false;
    if (fault.length >= 0) return frame[1] == fault.length;
    auto holds = [&](uint32_t offset) {
        if (offset + fault.width > DEVICE_OUTPUT_LENGTH - 2) return false;
        const uint8_t* at = frame + 2 + offset;
        const uint32_t value = fault.width == 2 ? static_cast<uint32_t>(at[0] | at[1] << 8) : at[0];
        return value == fault.value;
    };
    return holds(fault.offset) || holds(fault.second);
}

const char16_t* device_string(uint32_t string_id) {
    switch (string_id) {
        case 14: return u"quorvex";
        case 15: return u"quorvex virtual HID device";
        case 16: return u"0001";
        default: return nullptr;
    }
}
