#include "reports/digitizer.h"

#include <cstdio>

int quorvex_update_digitizer(quorvex_client* client, uint8_t status, uint16_t x, uint16_t y) {
    uint8_t* report = quorvex_begin_frame(client, QUORVEX_DIGITIZER_REPORT_SIZE);
    report[0] = QUORVEX_REPORT_DIGITIZER;
    report[1] = status;
    put_le16(report + 2, x);
    put_le16(report + 4, y);
    return quorvex_write_control_report(client);
}

namespace {
struct pen_step {
    uint8_t status;
    uint16_t x;
    uint16_t y;
    DWORD pause_ms;
};

// Up X = 1000, along Y = 20000, back down X = 3000; status 3 on the middle
// stretch, 0 to lift the pen at the end.
constexpr pen_step kPath[] = {
    {2, 1000, 10000, 100}, {2, 1000, 12000, 100}, {2, 1000, 14000, 100}, {3, 1000, 16000, 100},
    {3, 1000, 18000, 100}, {3, 1000, 20000, 100}, {3, 2000, 20000, 100}, {3, 3000, 20000, 100},
    {2, 3000, 20000, 100}, {2, 3000, 15000, 100}, {2, 3000, 10000, 0},   {0, 3000, 10000, 0},
};
}  // namespace

void demo_digitizer(quorvex_client* client) {
    printf("Sending digitizer report\n");
    for (const pen_step& step : kPath) {
        quorvex_update_digitizer(client, step.status, step.x, step.y);
        if (quorvex_stopped(client)) return;
        if (step.pause_ms != 0) quorvex_pause(client, step.pause_ms);
    }
}
