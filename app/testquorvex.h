// The front end: option to mode, the run from connect to teardown, exit status.
#pragma once

#include <cstdint>

#include "app/options.h"
#include "client/quorvex_client.h"

enum exit_status {
    EXIT_DEMONSTRATED = 0,
    EXIT_USAGE = 1,
    EXIT_NO_RESOURCES = 2,  // what the run needs could not be had: memory, the journal, the watchdog, the handler
    EXIT_NO_DEVICE = 3,
    EXIT_REFUSED = 4,  // /all: the device refused a report, or the message was not read back
    EXIT_STALLED = 5,  // a bounded run: the driver did not complete a transfer in time
    // A long run the tester stopped with Ctrl+C: the program then ends as the
    // platform ends such a program (host_end_interrupted).
    EXIT_INTERRUPTED = 130,
};

void run_demonstration(quorvex_client* client, uint8_t mode);

// /wait: until both collections are present and open for transfers.
void wait_for_device(uint32_t seconds);

// The long runs' progress lines come once a second, on the performance counter.
struct progress_clock {
    int64_t started;
    int64_t next;
    int64_t per_second;
};
progress_clock progress_from_now();
// True once a second has passed since the last time it was; *elapsed_us
// (when given) then says how long since the start.
bool progress_due(progress_clock* clock, int64_t* elapsed_us = nullptr);

// /play and /send: a script read and checked whole, or one step; null, with
// the reason printed (every wrong line, up to ten) and the exit status set,
// when it cannot be read, is wrong, or finds no room. Released with free_script.
struct quorvex_script;
quorvex_script* load_script_file(const char* name, int* status);
quorvex_script* load_script_text(const char* name, const char* step, int* status);
void free_script(quorvex_script* script);

// Past one argument of a command line, as the C runtime splits off the
// program's name, and the blanks after it: /send's step is what is left after two.
const char* skip_argument(const char* at);

int testquorvex_main(int argc, const char* const* argv);
