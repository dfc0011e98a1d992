#include "layout/scan_codes.h"

namespace {

// Usages 0x04 (A) to 0x65 (Application), in order; 0x80 marks an E0 prefix.
constexpr uint8_t kE0 = 0x80;
constexpr uint8_t kFirst = 0x04;
constexpr uint8_t kCodes[] = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,  // A to M
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,  // N to Z
    0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,                    // 1 to 0
    0x1C, 0x01, 0x0E, 0x0F, 0x39,                                                  // Enter, Esc, Backspace, Tab, Space
    0x0C, 0x0D, 0x1A, 0x1B, 0x2B, 0x2B, 0x27, 0x28, 0x29, 0x33, 0x34, 0x35,        // - = [ ] \ # ; ' ` , . /
    0x3A,                                                                          // Caps Lock
    0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57, 0x58,        // F1 to F12
    kE0 | 0x37, 0x46, 0x00,                                                        // Print Screen, Scroll Lock, Pause
    kE0 | 0x52, kE0 | 0x47, kE0 | 0x49, kE0 | 0x53, kE0 | 0x4F, kE0 | 0x51,        // Insert to Page Down
    kE0 | 0x4D, kE0 | 0x4B, kE0 | 0x50, kE0 | 0x48,                                // Right, Left, Down, Up
    0x45, kE0 | 0x35, 0x37, 0x4A, 0x4E, kE0 | 0x1C,                                // Num Lock, keypad / * - + Enter
    0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49, 0x52, 0x53,              // keypad 1 to 0, .
    0x56, kE0 | 0x5D,                                                              // Non-US \, Application
};
// The modifiers, usages 0xE0 to 0xE7: Control, Shift, Alt, GUI, left then right.
constexpr uint8_t kModifiers[] = {0x1D, 0x2A, 0x38, kE0 | 0x5B, kE0 | 0x1D, 0x36, kE0 | 0x38, kE0 | 0x5C};

scan_code unpack(uint8_t packed) { return {static_cast<uint8_t>(packed & 0x7F), (packed & kE0) != 0}; }

}  // namespace

scan_code layout_scan_code(uint8_t usage) {
    if (usage >= 0xE0 && usage <= 0xE7) return unpack(kModifiers[usage - 0xE0]);
    if (usage < kFirst || usage >= kFirst + sizeof(kCodes)) return {0, false};
    return unpack(kCodes[usage - kFirst]);
}

int layout_usage_of_scan(uint8_t code, bool e0) {
    if (code == 0) return -1;
    for (int usage = 0xE0; usage <= 0xE7; ++usage) {
        const scan_code s = layout_scan_code(static_cast<uint8_t>(usage));
        if (s.code == code && s.e0 == e0) return usage;
    }
    // The first usage with it: Non-US # shares Backslash's key.
    for (int usage = kFirst; usage < kFirst + static_cast<int>(sizeof(kCodes)); ++usage) {
        const scan_code s = layout_scan_code(static_cast<uint8_t>(usage));
        if (s.code == code && s.e0 == e0) return usage;
    }
    return -1;
}
