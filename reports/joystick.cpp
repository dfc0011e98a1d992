#include "reports/joystick.h"

#include <cstdio>

int rand15_next(rand15& generator) {
    generator.state = generator.state * 214013u + 2531011u;
    return static_cast<int>((generator.state >> 16) & 0x7FFF);
}

int quorvex_update_joystick(quorvex_client* client, const quorvex_joystick_state& state) {
    uint8_t* report = quorvex_begin_frame(client, QUORVEX_JOYSTICK_REPORT_SIZE);
    report[0] = QUORVEX_REPORT_JOYSTICK;
    for (int i = 0; i < 6; ++i) report[1 + i] = state.value[i];
    put_le16(report + 7, state.value7);
    return quorvex_write_control_report(client);
}

void demo_joystick(quorvex_client* client) {
    printf("Sending joystick report\n");
    uint8_t up = 0;
    uint8_t down = 0x40;
    uint16_t random_word = 0;
    rand15 generator;

    for (;;) {
        const uint8_t up_high = static_cast<uint8_t>(up + 0x80);
        const quorvex_joystick_state state = {{up, up, up_high, up, up_high, down}, random_word};
        quorvex_update_joystick(client, state);

        const int first = rand15_next(generator);
        const int second = rand15_next(generator);
        random_word = static_cast<uint16_t>((first << 15) | second);

        ++up;
        --down;
        quorvex_pause(client, 10);
    }
}
