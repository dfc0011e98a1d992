// The front end: option to mode, the run from connect to teardown, exit status.
#pragma once

#include <cstdint>

#include "client/quorvex_client.h"

enum exit_status {
    EXIT_DEMONSTRATED = 0,
    EXIT_USAGE = 1,
    EXIT_NO_MEMORY = 2,
    EXIT_NO_DEVICE = 3,
    EXIT_REFUSED = 4,  // /all: the device refused a report, or the message was not read back
};

// The tool's own options share the option table with the demonstrations;
// their modes lie outside the inner report IDs.
constexpr uint8_t QUORVEX_MODE_LIST = 0x80;
constexpr uint8_t QUORVEX_MODE_ALL = 0x81;
constexpr uint8_t QUORVEX_MODE_HELP = 0x82;

// The mode of the first option (the inner report ID of its kind, or one of
// the modes above), or 0 when there is no option or it is not in the table.
uint8_t mode_from_options(int argc, const char* const* argv);

void run_demonstration(quorvex_client* client, uint8_t mode);

// /all on a connected client: the demonstrations that end, in table order,
// then a summary line; the exit status.
int run_all(quorvex_client* client);

int testquorvex_main(int argc, const char* const* argv);
