// Digitizer report, inner ID 0x05: status, X, Y (little-endian).
#pragma once

#include "client/quorvex_client.h"

constexpr uint8_t QUORVEX_DIGITIZER_REPORT_SIZE = 6;

int quorvex_update_digitizer(quorvex_client* client, uint8_t status, uint16_t x, uint16_t y);
void demo_digitizer(quorvex_client* client);
