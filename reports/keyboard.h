// Keyboard report, inner ID 0x07: boot-keyboard modifier byte, a reserved
// byte, six key codes.
#pragma once

#include "client/quorvex_client.h"

constexpr uint8_t QUORVEX_KEYBOARD_REPORT_SIZE = 9;
constexpr int QUORVEX_KEYBOARD_KEYS = 6;

int quorvex_update_keyboard(quorvex_client* client, uint8_t modifiers, const uint8_t keys[QUORVEX_KEYBOARD_KEYS]);
void demo_keyboard(quorvex_client* client);
