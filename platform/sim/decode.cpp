#include "platform/sim/decode.h"

#include <cstdio>

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
    std::string hex;
    hex.reserve(length * 3);
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        snprintf(byte, sizeof(byte), i == 0 ? "%02x" : " %02x", bytes[i]);
        hex += byte;
    }
    return hex;
}
