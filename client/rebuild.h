// The reports Windows' mouse and keyboard class drivers' events stand for:
// what /verify compares and /watch writes, where the system hands over
// events, not bytes.
#pragma once

#include <cstdint>

#include "client/inputs.h"

struct quorvex_rebuilt_state {
    uint8_t keys[32];  // the keys down, by usage
    uint8_t buttons;
    uint16_t x, y;
};

bool quorvex_key_down(const uint8_t keys[32], int usage);
// The keys a keyboard report holds down that make an event: its modifiers
// as usages 0xE0 to 0xE7, and its key array. False, keys untouched, for a
// report with an error usage (0x01 to 0x03): the class driver drops it whole.
bool quorvex_keys_of_report(const uint8_t report[9], uint8_t keys[32]);
// The keyboard report (9 bytes, report ID included) that holds these keys down.
void quorvex_report_of_keys(const uint8_t keys[32], uint8_t report[9]);
// A key event applied to the state; false for a repeat of a held key (the
// system's, not the driver's) or a code no usage makes. *usage, *down: the key.
bool quorvex_apply_key(quorvex_rebuilt_state* state, const RAWKEYBOARD& key, int* usage, bool* down);
// A mouse event applied to the state; the mouse report (7 bytes) it stands
// for: the buttons left down, the position over the declared range, the
// wheel in notches.
void quorvex_apply_mouse(quorvex_rebuilt_state* state, const quorvex_input_collection& mouse, const RAWMOUSE& event,
                         uint8_t report[7]);
