// Joystick report, inner ID 0x06: six 8-bit values and a 16-bit one.
#pragma once

#include "client/quorvex_client.h"

constexpr uint8_t QUORVEX_JOYSTICK_REPORT_SIZE = 9;

struct quorvex_joystick_state {
    uint8_t value[6];  // values 1 to 6
    uint16_t value7;
};

int quorvex_update_joystick(quorvex_client* client, const quorvex_joystick_state& state);

// At rest: the six axes centred, none of the sixteen buttons of value 7 down.
// A flood of these moves nothing on a real system.
constexpr quorvex_joystick_state kQuorvexJoystickNeutral = {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, 0};

// Streams joystick reports every 10 ms; returns only if the process is stopped.
void demo_joystick(quorvex_client* client);

// The 15-bit generator the stream draws from: the classic C runtime rand,
// started as a never-seeded runtime starts it, the same on every host.
struct rand15 {
    uint32_t state = 1;
};
int rand15_next(rand15& generator);
