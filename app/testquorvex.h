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
    EXIT_STALLED = 5,  // a bounded run: the driver did not complete a transfer in time
    // /play and /send: 4 for a refused report or an expectation not met; 1 for a script that cannot be read or is wrong
    // A long run the tester stopped with Ctrl+C: the program then ends as the
    // platform ends such a program (host_end_interrupted).
    EXIT_INTERRUPTED = 130,
};

// The status a long run ends with when a deadline (5, which wins) or the
// tester (Ctrl+C) stopped it; 0 when neither did.
inline int stop_status(const quorvex_client* client) {
    if (quorvex_stalled(client)) return EXIT_STALLED;
    return quorvex_stop_requested() ? EXIT_INTERRUPTED : 0;
}

// The tool's own options share the option table with the demonstrations;
// their modes lie outside the inner report IDs.
constexpr uint8_t QUORVEX_MODE_LIST = 0x80;
constexpr uint8_t QUORVEX_MODE_ALL = 0x81;
constexpr uint8_t QUORVEX_MODE_HELP = 0x82;
constexpr uint8_t QUORVEX_MODE_PING = 0x83;
constexpr uint8_t QUORVEX_MODE_FLOOD = 0x84;
constexpr uint8_t QUORVEX_MODE_PLAY = 0x85;
constexpr uint8_t QUORVEX_MODE_SEND = 0x86;
constexpr uint8_t QUORVEX_MODE_FUZZ = 0x87;

// The mode of the first option (the inner report ID of its kind, or one of
// the modes above), or 0 when there is no option or it is not in the table.
uint8_t mode_from_options(int argc, const char* const* argv);

// What the modifiers (/name:value) after one of the tool's own options set.
struct run_settings {
    uint32_t timeout_ms = 5000;  // /timeout: each transfer's deadline
    uint32_t wait_s = 0;         // /wait: how long to wait for the device; 0, not at all
    uint32_t count = 0;          // /count
    uint32_t repeat = 1;         // /repeat
    bool quiet = false;          // /quiet
    const char* file = nullptr;  // /play:FILE
    uint32_t seed = 0;           // /seed
    bool seed_given = false;
    const char* out = nullptr;   // /out
};
// The modifiers after argv[1], which names this mode. False when one is
// malformed, out of range or not the option's: the usage line and a line
// naming it are printed.
bool settings_from_options(uint8_t mode, int argc, const char* const* argv, run_settings* settings);
void print_usage();
void print_help();

void run_demonstration(quorvex_client* client, uint8_t mode);

// /all on a connected client: the demonstrations that end, in table order,
// then a summary line; the exit status.
int run_all(quorvex_client* client);

// /ping: count vendor messages, each timed from the write to its answer;
// /flood: count neutral joystick frames back to back. Each prints its
// summary and gives the exit status.
int run_ping(quorvex_client* client, uint32_t count);
int run_flood(quorvex_client* client, uint32_t count);
// The summary the watchdog prints for them when the driver keeps a transfer.
int (*measure_last_words(uint8_t mode))(quorvex_client* client);

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
// Plays the script on a connected client with a deadline: its summary, and
// the exit status.
int run_play(quorvex_client* client, const quorvex_script* script, const run_settings& settings);
int (*play_last_words())(quorvex_client* client);

// /fuzz: the first line names the seed and the journal, which is created
// (never over an existing file) before the device is searched; false, with
// the reason printed and the status set, when it cannot be. fuzz_end closes
// it, and removes it unless the driver stopped answering.
bool fuzz_begin(const run_settings& settings, int* status);
int run_fuzz(quorvex_client* client);
void fuzz_end();
int (*fuzz_last_words())(quorvex_client* client);

// Past one argument of a command line, as the C runtime splits off the
// program's name, and the blanks after it: /send's step is what is left after two.
const char* skip_argument(const char* at);

int testquorvex_main(int argc, const char* const* argv);
