#include "platform/sim/decode.h"

#include "layout/report_layout.h"

std::string describe_frame(const uint8_t* frame, bool via_set) {
    char step[LAYOUT_STEP_MAX];
    layout_describe_frame(frame, via_set, step, sizeof(step));
    return step;
}

std::string describe_answer(const uint8_t* report, size_t length) {
    char step[LAYOUT_STEP_MAX];
    layout_describe_answer(report + 1, length > 0 ? length - 1 : 0, step, sizeof(step));
    return step;
}

std::string hex_bytes(const uint8_t* bytes, size_t length) {
    // Every frame of a long run passes through here: no formatting call a byte.
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(length == 0 ? 0 : length * 3 - 1, ' ');
    for (size_t i = 0; i < length; ++i) {
        hex[i * 3] = kDigits[bytes[i] >> 4];
        hex[i * 3 + 1] = kDigits[bytes[i] & 0xF];
    }
    return hex;
}
