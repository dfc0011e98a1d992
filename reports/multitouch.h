// Multitouch report, inner ID 0x01: two 10-byte touch contacts and a count.
#pragma once

#include "client/quorvex_client.h"

constexpr uint8_t QUORVEX_MULTITOUCH_REPORT_SIZE = 22;
constexpr int QUORVEX_TOUCH_CONTACT_SIZE = 10;
constexpr int QUORVEX_UPDATE_CONTACTS = 4;

struct quorvex_touch_contact {
    uint8_t status;
    uint8_t contact_id;
    uint16_t x;
    uint16_t y;
    uint16_t width;
    uint16_t height;
};

// Sends the four contacts two per report; 1 when both reports were accepted,
// 0 at the first refusal.
int quorvex_update_multitouch(quorvex_client* client, const quorvex_touch_contact contacts[QUORVEX_UPDATE_CONTACTS]);
void demo_multitouch(quorvex_client* client);
