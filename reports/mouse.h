// Mouse report, inner ID 0x03: button, X, Y (little-endian), wheel.
#pragma once

#include "client/quorvex_client.h"

constexpr uint8_t QUORVEX_MOUSE_REPORT_SIZE = 7;

int quorvex_update_mouse(quorvex_client* client, uint8_t button, uint16_t x, uint16_t y, uint8_t wheel);
void demo_mouse(quorvex_client* client);
