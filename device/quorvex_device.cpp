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

// The input collections' layouts are the inner reports' own, field for
// field, so that an inner report passes through unchanged. 16-bit positions
// and sizes run over 0 to 65535, which takes the 4-byte Logical Maximum.
#define QV_LOGICAL_0_65535 0x15, 0x00, 0x27, 0xFF, 0xFF, 0x00, 0x00

// One touch contact: status bits (tip switch, in range), the contact ID, X, Y,
// width and height: 10 bytes.
#define QV_CONTACT                                                     \
    0x05, 0x0D,                    /* Usage Page (Digitizer) */        \
    0x09, 0x22,                    /* Usage (Finger) */                \
    0xA1, 0x02,                    /* Collection (Logical) */          \
    0x09, 0x42, 0x09, 0x32,        /* Tip Switch, In Range */          \
    0x15, 0x00, 0x25, 0x01,        /* Logical 0 to 1 */                \
    0x75, 0x01, 0x95, 0x02, 0x81, 0x02, /* 2 bits, Input (Var) */      \
    0x95, 0x06, 0x81, 0x03,        /* 6 bits, Input (Const) */         \
    0x09, 0x51,                    /* Usage (Contact Identifier) */    \
    0x26, 0xFF, 0x00,              /* Logical Maximum (255) */         \
    0x75, 0x08, 0x95, 0x01, 0x81, 0x02,                                \
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, /* Generic Desktop X, Y */     \
    QV_LOGICAL_0_65535,                                                \
    0x75, 0x10, 0x95, 0x02, 0x81, 0x02,                                \
    0x05, 0x0D, 0x09, 0x48, 0x09, 0x49, /* Width, Height */            \
    0x81, 0x02,                                                        \
    0xC0                           /* End Collection */

constexpr uint8_t kTouchDescriptor[] = {
    0x05, 0x0D,        // Usage Page (Digitizer)
    0x09, 0x04,        // Usage (Touch Screen)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID (1)
    QV_CONTACT,
    QV_CONTACT,
    0x05, 0x0D,        //   Usage Page (Digitizer)
    0x09, 0x54,        //   Usage (Contact Count)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x01,        //   Report Count (1)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x85, 0x02,        //   Report ID (2)
    0x09, 0x55,        //   Usage (Contact Count Maximum)
    0x25, 0x02,        //   Logical Maximum (2)
    0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
    0xC0,              // End Collection
};

constexpr uint8_t kMouseDescriptor[] = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x02,        // Usage (Mouse)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x03,        //   Report ID (3)
    0x09, 0x01,        //   Usage (Pointer)
    0xA1, 0x00,        //   Collection (Physical)
    0x05, 0x09,        //     Usage Page (Button)
    0x19, 0x01,        //     Usage Minimum (1)
    0x29, 0x05,        //     Usage Maximum (5)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x75, 0x01,        //     Report Size (1)
    0x95, 0x05,        //     Report Count (5)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0x95, 0x03,        //     Report Count (3)
    0x81, 0x03,        //     Input (Constant)
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x09, 0x30,        //     Usage (X)
    0x09, 0x31,        //     Usage (Y)
    QV_LOGICAL_0_65535,
    0x75, 0x10,        //     Report Size (16)
    0x95, 0x02,        //     Report Count (2)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0x09, 0x38,        //     Usage (Wheel)
    0x15, 0x81,        //     Logical Minimum (-127)
    0x25, 0x7F,        //     Logical Maximum (127)
    0x75, 0x08,        //     Report Size (8)
    0x95, 0x01,        //     Report Count (1)
    0x81, 0x06,        //     Input (Data, Variable, Relative)
    0xC0,              //   End Collection
    0xC0,              // End Collection
};

constexpr uint8_t kPenDescriptor[] = {
    0x05, 0x0D,        // Usage Page (Digitizer)
    0x09, 0x02,        // Usage (Pen)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x05,        //   Report ID (5)
    0x09, 0x20,        //   Usage (Stylus)
    0xA1, 0x00,        //   Collection (Physical)
    0x09, 0x42,        //     Usage (Tip Switch)
    0x09, 0x44,        //     Usage (Barrel Switch)
    0x09, 0x3C,        //     Usage (Invert)
    0x09, 0x45,        //     Usage (Eraser)
    0x09, 0x32,        //     Usage (In Range)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x75, 0x01,        //     Report Size (1)
    0x95, 0x05,        //     Report Count (5)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0x95, 0x03,        //     Report Count (3)
    0x81, 0x03,        //     Input (Constant)
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x09, 0x30,        //     Usage (X)
    0x09, 0x31,        //     Usage (Y)
    QV_LOGICAL_0_65535,
    0x75, 0x10,        //     Report Size (16)
    0x95, 0x02,        //     Report Count (2)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0xC0,              //   End Collection
    0xC0,              // End Collection
};

constexpr uint8_t kJoystickDescriptor[] = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x04,        // Usage (Joystick)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x06,        //   Report ID (6)
    0x09, 0x01,        //   Usage (Pointer)
    0xA1, 0x00,        //   Collection (Physical)
    0x09, 0x30,        //     Usage (X)
    0x09, 0x31,        //     Usage (Y)
    0x09, 0x32,        //     Usage (Z)
    0x09, 0x33,        //     Usage (Rx)
    0x09, 0x34,        //     Usage (Ry)
    0x09, 0x35,        //     Usage (Rz)
    0x15, 0x00,        //     Logical Minimum (0)
    0x26, 0xFF, 0x00,  //     Logical Maximum (255)
    0x75, 0x08,        //     Report Size (8)
    0x95, 0x06,        //     Report Count (6)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0xC0,              //   End Collection
    0x05, 0x09,        //   Usage Page (Button)
    0x19, 0x01,        //   Usage Minimum (1)
    0x29, 0x10,        //   Usage Maximum (16)
    0x25, 0x01,        //   Logical Maximum (1)
    0x75, 0x01,        //   Report Size (1)
    0x95, 0x10,        //   Report Count (16)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0xC0,              // End Collection
};

constexpr uint8_t kKeyboardDescriptor[] = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x06,        // Usage (Keyboard)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x07,        //   Report ID (7)
    0x05, 0x07,        //   Usage Page (Keyboard/Keypad)
    0x19, 0xE0,        //   Usage Minimum (Left Control)
    0x29, 0xE7,        //   Usage Maximum (Right GUI)
    0x15, 0x00,        //   Logical Minimum (0)
    0x25, 0x01,        //   Logical Maximum (1)
    0x75, 0x01,        //   Report Size (1)
    0x95, 0x08,        //   Report Count (8)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x01,        //   Report Count (1)
    0x81, 0x03,        //   Input (Constant): reserved
    0x95, 0x06,        //   Report Count (6)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x19, 0x00,        //   Usage Minimum (0)
    0x2A, 0xFF, 0x00,  //   Usage Maximum (255)
    0x81, 0x00,        //   Input (Data, Array)
    0xC0,              // End Collection
};

#undef QV_CONTACT
#undef QV_LOGICAL_0_65535

template <size_t N>
constexpr device_descriptor descriptor_of(const uint8_t (&bytes)[N]) {
    return {bytes, static_cast<uint16_t>(N)};
}

// In the order of device_input.
const device_input_collection kInputs[DEVICE_INPUT_COUNT] = {
    {"multitouch", 0x000D, 0x0004, 0x01, 22, descriptor_of(kTouchDescriptor)},
    {"mouse", 0x0001, 0x0002, 0x03, 7, descriptor_of(kMouseDescriptor)},
    {"digitizer", 0x000D, 0x0002, 0x05, 6, descriptor_of(kPenDescriptor)},
    {"joystick", 0x0001, 0x0004, 0x06, 9, descriptor_of(kJoystickDescriptor)},
    {"keyboard", 0x0001, 0x0006, 0x07, 9, descriptor_of(kKeyboardDescriptor)},
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

const device_input_collection& device_input_of(device_input which) { return kInputs[which]; }

bool device_input_for(uint8_t report_id, device_input* which) {
    for (int i = 0; i < DEVICE_INPUT_COUNT; ++i)
        if (kInputs[i].report_id == report_id) {
            *which = static_cast<device_input>(i);
            return true;
        }
    return false;
}

bool device_input_named(const char* kind, size_t length, device_input* which) {
    for (int i = 0; i < DEVICE_INPUT_COUNT; ++i) {
        const char* name = kInputs[i].kind;
        size_t n = 0;
        while (n < length && name[n] != 0 && name[n] == kind[n]) ++n;
        if (n == length && name[n] == 0) {
            *which = static_cast<device_input>(i);
            return true;
        }
    }
    return false;
}

int device_deliver(const uint8_t frame[DEVICE_OUTPUT_LENGTH], const device_delivery_fault& fault, device_input* which,
                   uint8_t report[DEVICE_INPUT_REPORT_MAX], uint32_t* length) {
    // Defined even when nothing is delivered: a caller may look before it counts.
    *which = DEVICE_INPUT_COUNT;
    *length = 0;
    if (!device_accepts(frame, DEVICE_OUTPUT_LENGTH) || !device_input_for(frame[2], which)) return 0;
    *length = kInputs[*which].input_length;
    for (uint32_t i = 0; i < *length; ++i) report[i] = frame[2 + i];
    if (fault.how == DEVICE_DELIVERS || fault.which != *which) return 1;
    if (fault.how == DEVICE_UNDELIVERED) return 0;
    if (fault.how == DEVICE_ALTERED) report[1] = static_cast<uint8_t>(report[1] ^ 0x01);
    return fault.how == DEVICE_DOUBLED ? 2 : 1;
}

const char16_t* device_string(uint32_t string_id) {
    switch (string_id) {
        case 14: return u"quorvex";
        case 15: return u"quorvex virtual HID device";
        case 16: return u"0001";
        default: return nullptr;
    }
}
