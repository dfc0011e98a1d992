#include "reports/multitouch.h"

#include <cstdio>

// The wire form is packed: write it field by field, never by copying the struct.
static void put_contact(uint8_t* at, const quorvex_touch_contact& contact) {
    at[0] = contact.status;
    at[1] = contact.contact_id;
    put_le16(at + 2, contact.x);
    put_le16(at + 4, contact.y);
    put_le16(at + 6, contact.width);
    put_le16(at + 8, contact.height);
}

int quorvex_update_multitouch(quorvex_client* client, const quorvex_touch_contact contacts[QUORVEX_UPDATE_CONTACTS]) {
    uint8_t* report = quorvex_begin_frame(client, QUORVEX_MULTITOUCH_REPORT_SIZE);
    for (int i = 0; i < QUORVEX_UPDATE_CONTACTS; i += 2) {
        report[0] = QUORVEX_REPORT_MULTITOUCH;
        put_contact(report + 1, contacts[i]);
        put_contact(report + 1 + QUORVEX_TOUCH_CONTACT_SIZE, contacts[i + 1]);
        // The whole update's count rides in its first report only.
        report[1 + 2 * QUORVEX_TOUCH_CONTACT_SIZE] = static_cast<uint8_t>(i == 0 ? QUORVEX_UPDATE_CONTACTS : 0);
        if (!quorvex_set_control_report(client)) return 0;
    }
    return 1;
}

void demo_multitouch(quorvex_client* client) {
    quorvex_touch_contact contacts[QUORVEX_UPDATE_CONTACTS];
    for (int k = 0; k < QUORVEX_UPDATE_CONTACTS; ++k) {
        contacts[k].status = 7;
        contacts[k].contact_id = static_cast<uint8_t>(k);
        contacts[k].x = static_cast<uint16_t>((k + 1) * 1000);
        contacts[k].y = static_cast<uint16_t>(6500 + 1500 * k);
        contacts[k].width = 20;
        contacts[k].height = 30;
    }

    printf("Sending multitouch report\n");
    quorvex_pause(client, 3000);

    if (!quorvex_update_multitouch(client, contacts)) printf("quorvex_update_multitouch TOUCH_DOWN FAILED\n");
    if (quorvex_stopped(client)) return;

    for (quorvex_touch_contact& contact : contacts) {
        contact.x = static_cast<uint16_t>(contact.x + 1000);
        contact.y = static_cast<uint16_t>(contact.y + 1000);
    }
    if (!quorvex_update_multitouch(client, contacts)) printf("quorvex_update_multitouch TOUCH_MOVE FAILED\n");
    if (quorvex_stopped(client)) return;

    for (quorvex_touch_contact& contact : contacts) contact.status = 0;
    if (!quorvex_update_multitouch(client, contacts)) printf("quorvex_update_multitouch TOUCH_UP FAILED\n");
}
