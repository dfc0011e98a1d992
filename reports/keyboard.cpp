#include "reports/keyboard.h"

#include <cstdio>

int quorvex_update_keyboard(quorvex_client* client, uint8_t modifiers, const uint8_t keys[QUORVEX_KEYBOARD_KEYS]) {
    uint8_t* report = quorvex_begin_frame(client, QUORVEX_KEYBOARD_REPORT_SIZE);
    report[0] = QUORVEX_REPORT_KEYBOARD;
    report[1] = modifiers;
    // report[2] is reserved and left as the frame holds it
    for (int i = 0; i < QUORVEX_KEYBOARD_KEYS; ++i) report[3 + i] = keys[i];
    return quorvex_write_control_report(client);
}

namespace {
constexpr uint8_t kLeftShift = 0x02;
constexpr uint8_t kLeftGui = 0x08;

struct keystroke {
    uint8_t modifiers;
    uint8_t key;
    DWORD pause_ms;
};

// GUI tap, then "Hello" (the empty report splits the two L presses so they
// count as two), then a Caps Lock tap.
constexpr keystroke kScript[] = {
    {kLeftGui, 0x00, 0},  {0, 0x00, 100}, {kLeftShift, 0x0B, 0}, {0, 0x08, 0}, {0, 0x0F, 0}, {0, 0x00, 0},
    {0, 0x0F, 0},         {0, 0x12, 0},   {0, 0x00, 0},          {0, 0x39, 0}, {0, 0x00, 0},
};
}  // namespace

void demo_keyboard(quorvex_client* client) {
    uint8_t keys[QUORVEX_KEYBOARD_KEYS] = {};
    printf("Sending keyboard report\n");
    for (const keystroke& stroke : kScript) {
        keys[0] = stroke.key;
        quorvex_update_keyboard(client, stroke.modifiers, keys);
        if (quorvex_stopped(client)) return;
        if (stroke.pause_ms != 0) quorvex_pause(client, stroke.pause_ms);
    }
}
