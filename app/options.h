// The option table and the modifier table, and the settings the one parser
// of modifiers fills in: where the front end and the tests both read them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/quorvex_contract.h"

struct long_run_kind;

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
constexpr uint8_t QUORVEX_MODE_WATCH = 0x88;

// Each transfer's deadline when /timeout does not set one.
constexpr uint32_t QUORVEX_DEFAULT_TIMEOUT_MS = 5000;

// Which modifiers an option takes; named apart from the Windows headers' macros.
enum modifier_bit : unsigned {
    TAKES_TIMEOUT = 1,
    TAKES_WAIT = 2,
    TAKES_COUNT = 4,
    TAKES_REPEAT = 8,
    TAKES_QUIET = 16,
    TAKES_SEED = 32,
    TAKES_OUT = 64,
    TAKES_VERIFY = 128,
};

// How an option is written: alone, with its value after a colon (/play:FILE),
// or followed by the rest of the command line (/send STEP).
enum class option_form { alone, value, rest };

struct option_entry {
    const char* option;
    uint8_t mode;
    const char* help;  // for /?: the demonstrations are in the usage line already
    unsigned modifiers;
    uint32_t count_max;
    uint32_t count_default;
    option_form form;
    const char* written;          // how /? shows one that is not alone
    const long_run_kind* run;     // the long run it plays; null for the others
};

enum class value_kind { number, flag, text };

struct modifier_entry {
    const char* name;
    modifier_bit bit;
    value_kind kind;
    uint32_t min;
    uint32_t max;  // 0: the option's own (count)
    const char* form;
    const char* help;
    uint32_t shown_default;   // /? shows it in brackets after help, when not 0
    const char* help_after;   // and this after it
};

extern const option_entry QUORVEX_OPTIONS[];
extern const size_t QUORVEX_OPTION_COUNT;
extern const modifier_entry QUORVEX_MODIFIERS[];
extern const size_t QUORVEX_MODIFIER_COUNT;
// The row of a mode; null when none has it.
const option_entry* option_of(uint8_t mode);

// The mode of the first option (the inner report ID of its kind, or one of
// the modes above), or 0 when there is no option or it is not in the table.
uint8_t mode_from_options(int argc, const char* const* argv);

// What the modifiers (/name:value) after one of the tool's own options set.
struct run_settings {
    uint32_t timeout_ms = QUORVEX_DEFAULT_TIMEOUT_MS;  // /timeout: each transfer's deadline
    uint32_t wait_s = 0;         // /wait: how long to wait for the device; 0, not at all
    uint32_t count = 0;          // /count
    uint32_t repeat = 1;         // /repeat
    bool quiet = false;          // /quiet
    const char* file = nullptr;  // /play:FILE
    uint32_t seed = 0;           // /seed
    bool seed_given = false;
    const char* out = nullptr;   // /out
    bool verify = false;         // /verify
};
// The modifiers after argv[1], which names this mode. False when one is
// malformed, out of range or not the option's: the usage line and a line
// naming it are printed.
bool settings_from_options(uint8_t mode, int argc, const char* const* argv, run_settings* settings);
void print_usage();
void print_help();
