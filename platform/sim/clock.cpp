#include "platform/sim/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<bool> g_virtual{false};
std::atomic<int64_t> g_virtual_us{0};
std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();
}  // namespace

void clock_reset(bool virtual_time) {
    g_virtual = virtual_time;
    g_virtual_us = 0;
    g_start = std::chrono::steady_clock::now();
}

bool clock_is_virtual() { return g_virtual; }

int64_t clock_now_us() {
    if (g_virtual) return g_virtual_us;
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - g_start).count();
}

void clock_pass(int64_t us) {
    if (us <= 0) return;
    if (g_virtual) g_virtual_us += us;
    else std::this_thread::sleep_for(std::chrono::microseconds(us));
}
