// The option table, and the one parser of the modifiers that follow the
// tool's own options.

#include <cstdio>
#include <cstring>

#include "app/long_run.h"
#include "app/testquorvex.h"
#include "testquorvex_version.h"

const option_entry QUORVEX_OPTIONS[] = {
    {"/multitouch", QUORVEX_REPORT_MULTITOUCH, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
    {"/mouse", QUORVEX_REPORT_MOUSE, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
    {"/digitizer", QUORVEX_REPORT_DIGITIZER, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
    {"/joystick", QUORVEX_REPORT_JOYSTICK, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
    {"/keyboard", QUORVEX_REPORT_KEYBOARD, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
    {"/message", QUORVEX_REPORT_MESSAGE, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
    {"/list", QUORVEX_MODE_LIST, "every present HID interface, and why it is or is not the device", TAKES_WAIT, 0, 0,
     option_form::alone, nullptr, nullptr},
    {"/all", QUORVEX_MODE_ALL, "the five demonstrations that end, in turn; status 4 if a report was refused",
     TAKES_TIMEOUT | TAKES_WAIT | TAKES_VERIFY | TAKES_TRACE | TAKES_REPORT, 0, 0, option_form::alone, nullptr, &LONG_RUN_ALL},
    {"/ping", QUORVEX_MODE_PING, "vendor message round trips, timed: minimum, median, 99th percentile, maximum",
     TAKES_TIMEOUT | TAKES_COUNT | TAKES_TRACE | TAKES_REPORT, 1000000, 100, option_form::alone, nullptr, &LONG_RUN_PING},
    {"/flood", QUORVEX_MODE_FLOOD, "neutral joystick frames back to back: the sustained frame rate",
     TAKES_TIMEOUT | TAKES_COUNT | TAKES_VERIFY | TAKES_TRACE | TAKES_REPORT, 100000000, 10000, option_form::alone, nullptr, &LONG_RUN_FLOOD},
    {"/play", QUORVEX_MODE_PLAY, "a script's reports, pauses and expected answers (FILE of -: standard input)",
     TAKES_TIMEOUT | TAKES_WAIT | TAKES_REPEAT | TAKES_QUIET | TAKES_VERIFY | TAKES_TRACE | TAKES_REPORT, 0, 0, option_form::value,
     "/play:FILE", &LONG_RUN_PLAY},
    {"/fuzz", QUORVEX_MODE_FUZZ, "malformed and boundary frames; after every 64, the driver must still answer",
     TAKES_TIMEOUT | TAKES_COUNT | TAKES_SEED | TAKES_OUT | TAKES_TRACE | TAKES_REPORT, 100000000, 20000, option_form::alone, nullptr,
     &LONG_RUN_FUZZ},
    {"/watch", QUORVEX_MODE_WATCH, "what the system receives from the device, as a script, until Ctrl+C or /count",
     TAKES_COUNT, 100000000, 0, option_form::alone, nullptr, &LONG_RUN_WATCH},
    {"/send", QUORVEX_MODE_SEND, "one step of a script: the rest of the command line", 0, 0, 0, option_form::rest,
     "/send STEP", &LONG_RUN_PLAY},
    {"/?", QUORVEX_MODE_HELP, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
    {"/help", QUORVEX_MODE_HELP, nullptr, 0, 0, 0, option_form::alone, nullptr, nullptr},
};
const size_t QUORVEX_OPTION_COUNT = sizeof(QUORVEX_OPTIONS) / sizeof(QUORVEX_OPTIONS[0]);

const modifier_entry QUORVEX_MODIFIERS[] = {
    {"timeout", TAKES_TIMEOUT, value_kind::number, 1, 600000, "/timeout:MS", "each transfer's deadline",
     QUORVEX_DEFAULT_TIMEOUT_MS, "; status 5 past it"},
    {"wait", TAKES_WAIT, value_kind::number, 1, 3600, "/wait:S", "first wait up to S seconds for the device to arrive", 0, nullptr},
    {"count", TAKES_COUNT, value_kind::number, 1, 0, "/count:N",
     "how many round trips (100), frames (/flood 10000, /fuzz 20000) or reports (/watch)", 0, nullptr},
    {"repeat", TAKES_REPEAT, value_kind::number, 1, 1000000, "/repeat:N", "play the whole script N times (1)", 0, nullptr},
    {"quiet", TAKES_QUIET, value_kind::flag, 0, 0, "/quiet",
     "print only failures, progress once a second, and the summary", 0, nullptr},
    {"seed", TAKES_SEED, value_kind::number, 0, 4294967295u, "/seed:S",
     "the random frames' seed (from the performance counter)", 0, nullptr},
    {"out", TAKES_OUT, value_kind::text, 0, 0, "/out:FILE", "the journal (quorvex-fuzz-SEED.txt here); never overwritten", 0, nullptr},
    {"verify", TAKES_VERIFY, value_kind::flag, 0, 0, "/verify",
     "each accepted report must arrive as sent on its input collection; status 4 on a miss", 0, nullptr},
    {"trace", TAKES_TRACE, value_kind::text, 0, 0, "/trace:FILE", "the run as a script /play sends again; never overwritten", 0, nullptr},
    {"report", TAKES_REPORT, value_kind::text, 0, 0, "/report:FILE", "the results as JUnit XML, replacing FILE", 0, nullptr},
};
const size_t QUORVEX_MODIFIER_COUNT = sizeof(QUORVEX_MODIFIERS) / sizeof(QUORVEX_MODIFIERS[0]);

namespace {

constexpr char kUsageLine[] =
    "Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\n";


// A whole decimal number of at most ten digits.
bool parse_number(const char* text, uint64_t* value) {
    const size_t length = std::strlen(text);
    if (length == 0 || length > 10) return false;
    uint64_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    *value = number;
    return true;
}

bool refuse(const char* why, const char* argument, const char* option) {
    print_usage();
    printf("%s%s: %s\n", why, option, argument);
    return false;
}

const modifier_entry* modifier_named(const char* name, size_t length) {
    for (const modifier_entry& entry : QUORVEX_MODIFIERS)
        if (std::strlen(entry.name) == length && std::strncmp(name, entry.name, length) == 0) return &entry;
    return nullptr;
}

}  // namespace

const option_entry* option_of(uint8_t mode) {
    for (const option_entry& entry : QUORVEX_OPTIONS)
        if (entry.mode == mode) return &entry;
    return nullptr;
}

uint8_t mode_from_options(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) return 0;
    for (const option_entry& entry : QUORVEX_OPTIONS) {
        const size_t length = std::strlen(entry.option);
        if (std::strncmp(argv[1], entry.option, length) != 0) continue;
        if (argv[1][length] == '\0' || (entry.form == option_form::value && argv[1][length] == ':')) return entry.mode;
    }
    return 0;
}

bool settings_from_options(uint8_t mode, int argc, const char* const* argv, run_settings* settings) {
    const option_entry* option = option_of(mode);
    settings->count = option->count_default;
    if (option->form == option_form::value) {
        const char* colon = std::strchr(argv[1], ':');
        if (colon == nullptr || colon[1] == '\0') {
            print_usage();
            printf("Missing value: %s\n", option->written);
            return false;
        }
        settings->file = colon + 1;
    }
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        const char* colon = std::strchr(argument, ':');
        const size_t name_length = colon != nullptr ? static_cast<size_t>(colon - argument - 1) : std::strlen(argument) - 1;
        if (argument[0] != '/' || name_length == 0)
            return refuse("Malformed modifier after ", argument, option->option);
        const modifier_entry* modifier = modifier_named(argument + 1, name_length);
        if (modifier == nullptr || (option->modifiers & modifier->bit) == 0)
            return refuse("Not a modifier of ", argument, option->option);
        if (modifier->kind == value_kind::flag) {
            if (colon != nullptr) {
                print_usage();
                printf("Bad value after %s: %s (%s takes no value)\n", option->option, argument, modifier->form);
                return false;
            }
            if (modifier->bit == TAKES_QUIET) settings->quiet = true;
            if (modifier->bit == TAKES_VERIFY) settings->verify = true;
            continue;
        }
        if (modifier->kind == value_kind::text) {
            if (colon == nullptr || colon[1] == '\0') {
                print_usage();
                printf("Bad value after %s: %s (a file name)\n", option->option, argument);
                return false;
            }
            (modifier->bit == TAKES_TRACE ? settings->trace : modifier->bit == TAKES_REPORT ? settings->report : settings->out) =
                colon + 1;
            continue;
        }
        uint64_t value = 0;
        const uint32_t max = modifier->max != 0 ? modifier->max : option->count_max;
        if (colon == nullptr || !parse_number(colon + 1, &value) || value < modifier->min || value > max) {
            print_usage();
            printf("Bad value after %s: %s (a whole number from %u to %u)\n", option->option, argument,
                   static_cast<unsigned>(modifier->min), static_cast<unsigned>(max));
            return false;
        }
        const auto number = static_cast<uint32_t>(value);
        if (modifier->bit == TAKES_TIMEOUT) settings->timeout_ms = number;
        if (modifier->bit == TAKES_WAIT) settings->wait_s = number;
        if (modifier->bit == TAKES_COUNT) settings->count = number;
        if (modifier->bit == TAKES_REPEAT) settings->repeat = number;
        if (modifier->bit == TAKES_SEED) {
            settings->seed = number;
            settings->seed_given = true;
        }
    }
    return true;
}

void print_usage() { printf("%s", kUsageLine); }

void print_help() {
    printf("testquorvex %s, test client for the quorvex virtual HID device\n", TESTQUORVEX_VERSION);
    print_usage();
    for (const option_entry& entry : QUORVEX_OPTIONS)
        if (entry.help != nullptr)
            printf("       testquorvex %-10s  %s\n", entry.written != nullptr ? entry.written : entry.option, entry.help);
    printf("       Modifiers follow the option, in any order: /name:N takes a whole number, /name:TEXT a text,\n"
           "       /name alone is a flag.\n");
    for (const modifier_entry& modifier : QUORVEX_MODIFIERS) {
        bool taken = false;
        for (const option_entry& entry : QUORVEX_OPTIONS) taken = taken || (entry.modifiers & modifier.bit) != 0;
        if (!taken) continue;
        printf("       %-11s after", modifier.form);
        const char* separator = " ";
        for (const option_entry& entry : QUORVEX_OPTIONS) {
            if ((entry.modifiers & modifier.bit) == 0) continue;
            printf("%s%s", separator, entry.option);
            separator = ", ";
        }
        printf(": %s", modifier.help);
        if (modifier.shown_default != 0) printf(" (%u)%s", static_cast<unsigned>(modifier.shown_default), modifier.help_after);
        printf("\n");
    }
}
