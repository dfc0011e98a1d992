#include "reports/mouse.h"

#include <cstdio>

int quorvex_update_mouse(quorvex_client* client, uint8_t button, uint16_t x, uint16_t y, uint8_t wheel) {
    uint8_t* report = quorvex_begin_frame(client, QUORVEX_MOUSE_REPORT_SIZE);
    report[0] = QUORVEX_REPORT_MOUSE;
    report[1] = button;
    put_le16(report + 2, x);
    put_le16(report + 4, y);
    report[6] = wheel;
    return quorvex_write_control_report(client);
}

void demo_mouse(quorvex_client* client) {
    printf("Sending mouse report\n");
    quorvex_update_mouse(client, 0, 1000, 10000, 0);
}
