#include "client/rebuild.h"

#include <cstring>

#include "client/quorvex_contract.h"
#include "layout/scan_codes.h"

namespace {

void set_key(uint8_t* keys, int usage, bool down) {
    if (down) keys[usage / 8] = static_cast<uint8_t>(keys[usage / 8] | 1 << (usage % 8));
    else keys[usage / 8] = static_cast<uint8_t>(keys[usage / 8] & ~(1 << (usage % 8)));
}

// A position normalized to 0 to 65535 back over the collection's range.
uint16_t over_range(LONG at, LONG min, LONG max) {
    const int64_t value = min + (static_cast<int64_t>(at) * (max - min) + 32767) / 65535;
    return static_cast<uint16_t>(value < 0 ? 0 : value > 0xFFFF ? 0xFFFF : value);
}

}  // namespace

bool quorvex_key_down(const uint8_t keys[32], int usage) { return (keys[usage / 8] >> (usage % 8) & 1) != 0; }

bool quorvex_keys_of_report(const uint8_t report[9], uint8_t keys[32]) {
    for (int i = 3; i < 9; ++i)
        if (report[i] >= 0x01 && report[i] <= 0x03) return false;
    std::memset(keys, 0, 32);
    for (int bit = 0; bit < 8; ++bit)
        if ((report[1] >> bit & 1) != 0) set_key(keys, 0xE0 + bit, true);
    // As the key its scan code comes back as: Non-US # arrives as Backslash.
    for (int i = 3; i < 9; ++i) {
        const scan_code s = layout_scan_code(report[i]);
        if (s.code != 0) set_key(keys, layout_usage_of_scan(s.code, s.e0), true);
    }
    return true;
}

void quorvex_report_of_keys(const uint8_t keys[32], uint8_t report[9]) {
    std::memset(report, 0, 9);
    report[0] = QUORVEX_REPORT_KEYBOARD;
    int at = 3;
    for (int usage = 0; usage < 256; ++usage) {
        if (!quorvex_key_down(keys, usage)) continue;
        if (usage >= 0xE0 && usage <= 0xE7) report[1] = static_cast<uint8_t>(report[1] | 1 << (usage - 0xE0));
        else if (at < 9) report[at++] = static_cast<uint8_t>(usage);
    }
}

bool quorvex_apply_key(quorvex_rebuilt_state* state, const RAWKEYBOARD& key, int* usage, bool* down) {
    if ((key.Flags & RI_KEY_E1) != 0) return false;  // Pause's E1 1D, no Left Ctrl
    *usage = layout_usage_of_scan(static_cast<uint8_t>(key.MakeCode), (key.Flags & RI_KEY_E0) != 0);
    if (*usage < 0) return false;
    *down = (key.Flags & RI_KEY_BREAK) == 0;
    if (*down && quorvex_key_down(state->keys, *usage)) return false;
    set_key(state->keys, *usage, *down);
    return true;
}

void quorvex_apply_mouse(quorvex_rebuilt_state* state, const quorvex_input_collection& mouse, const RAWMOUSE& event,
                         uint8_t report[7]) {
    const USHORT flags = event.usButtonFlags;
    for (int button = 0; button < 5; ++button) {
        // Down flags: 0x1, 0x4, 0x10 for the first three, then 0x40, 0x100; up is the next bit.
        const unsigned down = 1u << (2 * button);
        if ((flags & down) != 0) state->buttons = static_cast<uint8_t>(state->buttons | 1 << button);
        if ((flags & down << 1) != 0) state->buttons = static_cast<uint8_t>(state->buttons & ~(1 << button));
    }
    if ((event.usFlags & MOUSE_MOVE_ABSOLUTE) != 0) {
        state->x = over_range(event.lLastX, mouse.x_min, mouse.x_max);
        state->y = over_range(event.lLastY, mouse.y_min, mouse.y_max);
    }
    report[0] = QUORVEX_REPORT_MOUSE;
    report[1] = state->buttons;
    report[2] = static_cast<uint8_t>(state->x & 0xFF);
    report[3] = static_cast<uint8_t>(state->x >> 8);
    report[4] = static_cast<uint8_t>(state->y & 0xFF);
    report[5] = static_cast<uint8_t>(state->y >> 8);
    report[6] = (flags & RI_MOUSE_WHEEL) != 0
                    ? static_cast<uint8_t>(static_cast<int8_t>(static_cast<int16_t>(event.usButtonData) / WHEEL_DELTA))
                    : 0;
}
