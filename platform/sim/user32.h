// Inside the simulated system: what user32's stand-in takes from the bus, and
// the mouse and keyboard class drivers' scan-code table, for the tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sim/bus.h"

// Forgets every class, window, queue and registration (a new run).
void user32_reset();
// An input report the device delivered on an input collection: the system's
// own reader turns it into Raw Input for whoever registered for its usage.
void user32_take_input(size_t iface, const input_report& report);
// Windows the client has not destroyed.
int user32_open_windows();

// The set-1 scan code Windows makes of a keyboard usage (page 0x07): its make
// code and whether it takes the E0 prefix. False for a usage it has none for.
bool user32_scan_code(uint8_t usage, USHORT* make, bool* e0);
