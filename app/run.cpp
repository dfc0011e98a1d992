#include <cstdio>
#include <cstring>

#include "app/testquorvex.h"
#include "client/deadline.h"
#include "client/stop.h"
#include "reports/digitizer.h"
#include "reports/joystick.h"
#include "reports/keyboard.h"
#include "reports/message.h"
#include "reports/mouse.h"
#include "reports/multitouch.h"

namespace {

// The demonstrations /all plays: those that end, in table order.
constexpr uint8_t kAllModes[] = {QUORVEX_REPORT_MULTITOUCH, QUORVEX_REPORT_MOUSE, QUORVEX_REPORT_DIGITIZER,
                                 QUORVEX_REPORT_KEYBOARD, QUORVEX_REPORT_MESSAGE};

bool is_demonstration(uint8_t mode) { return mode < QUORVEX_MODE_LIST; }

int64_t elapsed_ms(const LARGE_INTEGER& since) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - since.QuadPart) * 1000 / frequency.QuadPart;
}

// /wait: until both collections are present and open for transfers, polling
// four times a second without a word; then the run goes on as it would.
void wait_for_device(uint32_t seconds) {
    constexpr DWORD kPollMs = 250;
    printf("Waiting up to %u s for the quorvex device\n", static_cast<unsigned>(seconds));
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (;;) {
        if (ListInterfaces(true)) {
            printf("The quorvex device is ready after %lld ms\n", static_cast<long long>(elapsed_ms(start)));
            return;
        }
        const int64_t left = static_cast<int64_t>(seconds) * 1000 - elapsed_ms(start);
        if (left <= 0) {
            printf("The quorvex device did not come within %u s\n", static_cast<unsigned>(seconds));
            return;
        }
        Sleep(left < kPollMs ? static_cast<DWORD>(left) : kPollMs);
    }
}

// /all's last line and status; also what the watchdog prints when the driver
// keeps a cancelled transfer.
int all_summary(quorvex_client* client) {
    const bool read_back = client->messages_read > 0;
    // The received message is printed without a line feed of its own.
    if (read_back) printf("\n");
    quorvex_stop_say(client);
    printf("All: %llu reports sent, %llu refused; vendor message %s\n",
           static_cast<unsigned long long>(client->reports_sent),
           static_cast<unsigned long long>(client->reports_refused), read_back ? "read back" : "not read back");
    if (const int stopped = stop_status(client)) return stopped;
    return client->reports_refused == 0 && read_back ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

}  // namespace

// Past one argument of a command line and the blanks after it: quotes hold
// blanks in, as the runtime reads them.
const char* skip_argument(const char* at) {
    bool quoted = false;
    for (; *at != '\0' && (quoted || (*at != ' ' && *at != '\t')); ++at)
        if (*at == '"') quoted = !quoted;
    while (*at == ' ' || *at == '\t') ++at;
    return at;
}

namespace {

// The step /send plays: the rest of the command line as typed, from the
// command line itself, so that its quotes survive.
const char* step_on_command_line() {
    const char* step = skip_argument(skip_argument(GetCommandLineA()));
    if (*step != '\0') return step;
    print_usage();
    printf("Missing value: /send STEP\n");
    return nullptr;
}

// Connect, play what the mode plays, disconnect; the tool's own runs with a
// deadline on every transfer.
int connect_and_run(uint8_t mode, const run_settings& settings, const quorvex_script* script) {
    quorvex_client* client = quorvex_new_client();
    if (client == nullptr) return EXIT_NO_MEMORY;

    // The tool's own runs are for unattended use: every transfer has a deadline.
    const bool bounded = !is_demonstration(mode);
    quorvex_deadline deadline;
    auto last_words = mode == QUORVEX_MODE_ALL                                 ? all_summary
                      : mode == QUORVEX_MODE_PLAY || mode == QUORVEX_MODE_SEND ? play_last_words()
                      : mode == QUORVEX_MODE_FUZZ                              ? fuzz_last_words()
                                                                               : measure_last_words(mode);
    if (bounded && !quorvex_deadline_start(&deadline, client, settings.timeout_ms, last_words)) {
        quorvex_free_client(client);
        return EXIT_NO_MEMORY;
    }
    // They end with a summary of what they did, however they are stopped;
    // one that could not be stopped so does not start.
    if (bounded && !quorvex_stop_install(client, last_words)) {
        quorvex_deadline_stop(&deadline);
        quorvex_free_client(client);
        return EXIT_NO_MEMORY;
    }

    int status = EXIT_NO_DEVICE;
    if (quorvex_connect(client)) {
        printf("...sending request(s) to our device\n");
        status = EXIT_DEMONSTRATED;
        if (mode == QUORVEX_MODE_ALL) status = run_all(client);
        else if (mode == QUORVEX_MODE_PING) status = run_ping(client, settings.count);
        else if (mode == QUORVEX_MODE_FLOOD) status = run_flood(client, settings.count);
        else if (mode == QUORVEX_MODE_FUZZ) status = run_fuzz(client);
        else if (script != nullptr) status = run_play(client, script, settings);
        else run_demonstration(client, mode);
        quorvex_disconnect(client);
    }
    if (bounded) {
        quorvex_stop_forget();
        quorvex_deadline_stop(&deadline);
    }
    quorvex_free_client(client);
    return status;
}

}  // namespace

void run_demonstration(quorvex_client* client, uint8_t mode) {
    switch (mode) {
        case QUORVEX_REPORT_MULTITOUCH: demo_multitouch(client); break;
        case QUORVEX_REPORT_MOUSE: demo_mouse(client); break;
        case QUORVEX_REPORT_DIGITIZER: demo_digitizer(client); break;
        case QUORVEX_REPORT_JOYSTICK: demo_joystick(client); break;
        case QUORVEX_REPORT_KEYBOARD: demo_keyboard(client); break;
        case QUORVEX_REPORT_MESSAGE: demo_message(client); break;
        default: break;
    }
}

int run_all(quorvex_client* client) {
    for (uint8_t mode : kAllModes) {
        // Each demonstration sends exactly its own mode's frames, not the
        // tail of the one before.
        std::memset(client->control_report, 0, sizeof(client->control_report));
        run_demonstration(client, mode);
        if (quorvex_stopped(client)) break;
    }
    return all_summary(client);
}

int testquorvex_main(int argc, const char* const* argv) {
    // Every line must reach a redirected stdout when it is printed: a joystick
    // run only ends by being stopped, and a message run may wait for ever.
    // Unbuffered, because the Windows runtime treats line buffering as full.
    setvbuf(stdout, nullptr, _IONBF, 0);

    const uint8_t mode = mode_from_options(argc, argv);
    if (mode == 0) {
        print_usage();
        return EXIT_USAGE;
    }
    if (mode == QUORVEX_MODE_HELP) {
        print_help();
        return EXIT_DEMONSTRATED;
    }
    // After a demonstration's option every word is ignored, as it always was;
    // after /send every word is the step.
    run_settings settings;
    if (!is_demonstration(mode) && mode != QUORVEX_MODE_SEND && !settings_from_options(mode, argc, argv, &settings))
        return EXIT_USAGE;

    // A script is read and checked whole before the device is searched.
    quorvex_script* script = nullptr;
    int refused = EXIT_USAGE;
    if (mode == QUORVEX_MODE_PLAY) script = load_script_file(settings.file, &refused);
    if (mode == QUORVEX_MODE_SEND) {
        const char* step = step_on_command_line();
        if (step == nullptr) return EXIT_USAGE;
        script = load_script_text("/send", step, &refused);
    }
    if ((mode == QUORVEX_MODE_PLAY || mode == QUORVEX_MODE_SEND) && script == nullptr) return refused;
    if (mode == QUORVEX_MODE_FUZZ && !fuzz_begin(settings, &refused)) return refused;

    if (settings.wait_s != 0) wait_for_device(settings.wait_s);
    if (mode == QUORVEX_MODE_LIST) return ListInterfaces() ? EXIT_DEMONSTRATED : EXIT_NO_DEVICE;

    const int status = connect_and_run(mode, settings, script);
    free_script(script);
    if (mode == QUORVEX_MODE_FUZZ) fuzz_end();
    return status;
}
