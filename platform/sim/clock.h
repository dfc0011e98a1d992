// The simulated system's clock: real time, or virtual time that moves only
// when the system says so (a Sleep, a transfer's latency, a wait that would
// otherwise pass while a transfer is stalled). Safe from any thread.
#pragma once

#include <cstdint>

void clock_reset(bool virtual_time);
bool clock_is_virtual();
// Microseconds since the last reset.
int64_t clock_now_us();
// Lets this much time pass: moves the virtual clock, or sleeps.
void clock_pass(int64_t us);
