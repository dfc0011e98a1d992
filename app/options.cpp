// The option table, and the one parser of the modifiers that follow the
// tool's own options.

#include <cstdio>
#include <cstring>

#include "app/testquorvex.h"
#include "testquorvex_version.h"

namespace {

// Which modifiers an option takes; named apart from the Windows headers' macros.
enum modifier_bit : unsigned { TAKES_TIMEOUT = 1, TAKES_WAIT = 2, TAKES_COUNT = 4 };

struct option_entry {
    const char* option;
    uint8_t mode;
    const char* help;  // for /?: the demonstrations are in the usage line already
    unsigned modifiers;
    uint32_t count_max;
    uint32_t count_default;
};

constexpr option_entry kOptions[] = {
    {"/multitouch", QUORVEX_REPORT_MULTITOUCH, nullptr, 0, 0, 0},
    {"/mouse", QUORVEX_REPORT_MOUSE, nullptr, 0, 0, 0},
    {"/digitizer", QUORVEX_REPORT_DIGITIZER, nullptr, 0, 0, 0},
    {"/joystick", QUORVEX_REPORT_JOYSTICK, nullptr, 0, 0, 0},
    {"/keyboard", QUORVEX_REPORT_KEYBOARD, nullptr, 0, 0, 0},
    {"/message", QUORVEX_REPORT_MESSAGE, nullptr, 0, 0, 0},
    {"/list", QUORVEX_MODE_LIST, "every present HID interface, and why it is or is not the device", TAKES_WAIT, 0, 0},
    {"/all", QUORVEX_MODE_ALL, "the five demonstrations that end, in turn; status 4 if a report was refused",
     TAKES_TIMEOUT | TAKES_WAIT, 0, 0},
    {"/ping", QUORVEX_MODE_PING, "vendor message round trips, timed: minimum, median, 99th percentile, maximum",
     TAKES_TIMEOUT | TAKES_COUNT, 1000000, 100},
    {"/flood", QUORVEX_MODE_FLOOD, "neutral joystick frames back to back: the sustained frame rate",
     TAKES_TIMEOUT | TAKES_COUNT, 100000000, 10000},
    {"/?", QUORVEX_MODE_HELP, nullptr, 0, 0, 0},
    {"/help", QUORVEX_MODE_HELP, nullptr, 0, 0, 0},
};

struct modifier_entry {
    const char* name;
    modifier_bit bit;
    uint32_t min;
    uint32_t max;  // 0: the option's own (count)
    const char* form;
    const char* help;
};

constexpr modifier_entry kModifiers[] = {
    {"timeout", TAKES_TIMEOUT, 1, 600000, "/timeout:MS", "each transfer's deadline (5000); status 5 past it"},
    {"wait", TAKES_WAIT, 1, 3600, "/wait:S", "first wait up to S seconds for the device to arrive"},
    {"count", TAKES_COUNT, 1, 0, "/count:N", "how many round trips (100) or frames (10000)"},
};

constexpr char kUsageLine[] =
    "Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\n";

const option_entry* entry_of(uint8_t mode) {
    for (const option_entry& entry : kOptions)
        if (entry.mode == mode) return &entry;
    return nullptr;
}

// A whole decimal number of at most nine digits.
bool parse_number(const char* text, uint32_t* value) {
    const size_t length = std::strlen(text);
    if (length == 0 || length > 9) return false;
    uint32_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    *value = number;
    return true;
}

bool refuse(const char* why, const char* argument, const char* option) {
    print_usage();
    printf("%s%s: %s\n", why, option, argument);
    return false;
}

}  // namespace

uint8_t mode_from_options(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) return 0;
    for (const option_entry& entry : kOptions) {
        if (std::strcmp(argv[1], entry.option) == 0) return entry.mode;
    }
    return 0;
}

bool settings_from_options(uint8_t mode, int argc, const char* const* argv, run_settings* settings) {
    const option_entry* option = entry_of(mode);
    settings->count = option->count_default;
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        const char* colon = std::strchr(argument, ':');
        if (argument[0] != '/' || colon == nullptr)
            return refuse("Malformed modifier after ", argument, option->option);
        const modifier_entry* modifier = nullptr;
        for (const modifier_entry& entry : kModifiers) {
            const size_t length = std::strlen(entry.name);
            if (static_cast<size_t>(colon - argument - 1) == length && std::strncmp(argument + 1, entry.name, length) == 0)
                modifier = &entry;
        }
        if (modifier == nullptr || (option->modifiers & modifier->bit) == 0)
            return refuse("Not a modifier of ", argument, option->option);
        uint32_t value = 0;
        const uint32_t max = modifier->max != 0 ? modifier->max : option->count_max;
        if (!parse_number(colon + 1, &value) || value < modifier->min || value > max) {
            print_usage();
            printf("Bad value after %s: %s (a whole number from %u to %u)\n", option->option, argument,
                   static_cast<unsigned>(modifier->min), static_cast<unsigned>(max));
            return false;
        }
        if (modifier->bit == TAKES_TIMEOUT) settings->timeout_ms = value;
        if (modifier->bit == TAKES_WAIT) settings->wait_s = value;
        if (modifier->bit == TAKES_COUNT) settings->count = value;
    }
    return true;
}

void print_usage() { printf("%s", kUsageLine); }

void print_help() {
    printf("testquorvex %s, test client for the quorvex virtual HID device\n", TESTQUORVEX_VERSION);
    print_usage();
    for (const option_entry& entry : kOptions)
        if (entry.help != nullptr) printf("       testquorvex %-6s  %s\n", entry.option, entry.help);
    for (const modifier_entry& modifier : kModifiers) {
        bool taken = false;
        for (const option_entry& entry : kOptions) taken = taken || (entry.modifiers & modifier.bit) != 0;
        if (!taken) continue;
        printf("       %-11s after", modifier.form);
        const char* separator = " ";
        for (const option_entry& entry : kOptions) {
            if ((entry.modifiers & modifier.bit) == 0) continue;
            printf("%s%s", separator, entry.option);
            separator = ", ";
        }
        printf(": %s\n", modifier.help);
    }
}
