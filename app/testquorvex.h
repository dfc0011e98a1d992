// The front end: option to mode, the run from connect to teardown, exit status.
#pragma once

#include <cstdint>

#include "client/quorvex_client.h"

enum exit_status {
    EXIT_DEMONSTRATED = 0,
    EXIT_USAGE = 1,
    EXIT_NO_MEMORY = 2,
    EXIT_NO_DEVICE = 3,
};

// The mode of the first option (the inner report ID of its kind), or 0 when
// there is no option or it is not one of the table's.
uint8_t mode_from_options(int argc, const char* const* argv);

void run_demonstration(quorvex_client* client, uint8_t mode);

int testquorvex_main(int argc, const char* const* argv);
