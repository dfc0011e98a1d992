#include "platform/sim/decode.h"

#include <cstdarg>
#include <cstdio>

#include "device/quorvex_device.h"

namespace {

unsigned le16(const uint8_t* at) { return at[0] | (at[1] << 8); }

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    return line;
}

std::string key_name(uint8_t usage) {
    if (usage >= 0x04 && usage <= 0x1D) return std::string(1, static_cast<char>('A' + usage - 0x04));
    if (usage >= 0x1E && usage <= 0x26) return std::string(1, static_cast<char>('1' + usage - 0x1E));
    switch (usage) {
        case 0x27: return "0";
        case 0x28: return "Enter";
        case 0x29: return "Escape";
        case 0x2A: return "Backspace";
        case 0x2B: return "Tab";
        case 0x2C: return "Space";
        case 0x39: return "Caps Lock";
        default: return fmt("0x%02x", usage);
    }
}

std::string modifier_names(uint8_t bits) {
    static const char* const kNames[8] = {"Left Ctrl",  "Left Shift",  "Left Alt",  "Left GUI",
                                          "Right Ctrl", "Right Shift", "Right Alt", "Right GUI"};
    std::string names;
    for (int bit = 0; bit < 8; ++bit) {
        if ((bits & (1 << bit)) == 0) continue;
        if (!names.empty()) names += ", ";
        names += kNames[bit];
    }
    return "[" + names + "]";
}

std::string contact(const uint8_t* at) {
    return fmt("[status=%u id=%u x=%u y=%u w=%u h=%u]", at[0], at[1], le16(at + 2), le16(at + 4), le16(at + 6),
               le16(at + 8));
}

std::string message_text(const uint8_t* data, size_t length) {
    std::string text = "\"";
    for (size_t i = 0; i < length && data[i] != 0; ++i) {
        const uint8_t c = data[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') text += static_cast<char>(c);
        else text += fmt("\\x%02x", c);
    }
    return text + "\"";
}

}  // namespace

std::string decode_inner_report(const uint8_t* r, size_t length) {
    if (length == 0 || length < device_inner_length(r[0])) return "";
    switch (r[0]) {
        case 0x01:
            return "multitouch " + contact(r + 1) + " " + contact(r + 11) + fmt(" count=%u", r[21]);
        case 0x03:
            return fmt("mouse buttons=0x%02x x=%u y=%u wheel=%u", r[1], le16(r + 2), le16(r + 4), r[6]);
        case 0x05:
            return fmt("digitizer status=%u x=%u y=%u", r[1], le16(r + 2), le16(r + 4));
        case 0x06:
            return fmt("joystick v1=%u v2=%u v3=%u v4=%u v5=%u v6=%u v7=%u", r[1], r[2], r[3], r[4], r[5], r[6],
                       le16(r + 7));
        case 0x07: {
            std::string keys;
            for (int i = 3; i < 9; ++i) {
                if (r[i] == 0) continue;
                if (!keys.empty()) keys += ", ";
                keys += key_name(r[i]);
            }
            return "keyboard modifiers=" + modifier_names(r[1]) + " keys=[" + keys + "]";
        }
        case 0x10:
            return "message " + message_text(r + 1, length - 1);
        default:
            return "";
    }
}

std::string hex_bytes(const uint8_t* bytes, size_t length) {
    std::string hex;
    hex.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i != 0) hex += ' ';
        hex += fmt("%02x", bytes[i]);
    }
    return hex;
}
