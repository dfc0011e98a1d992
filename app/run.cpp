#include <cstdio>
#include <cstring>

#include "app/long_run.h"
#include "app/verify.h"
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

// /all: the demonstrations that end, in table order, then a summary line.
struct all_run {
    size_t next;
};
all_run g_all;

bool all_prepare(long_run* run, int*) {
    g_all.next = 0;
    run->own = &g_all;
    return true;
}

bool all_step(long_run* run) {
    // Each demonstration sends exactly its own mode's frames, not the tail of
    // the one before.
    quorvex_clear_frame(run->client);
    verify_source(option_of(kAllModes[g_all.next])->option);
    run_demonstration(run->client, kAllModes[g_all.next++]);
    return g_all.next < sizeof(kAllModes);
}

// The received message is printed without a line feed of its own.
void all_before_stop(const long_run* run) {
    if (run->client->messages_read > 0) printf("\n");
}

void all_totals(const long_run* run, quorvex_stop_cause) {
    printf("All: %llu reports sent, %llu refused; vendor message %s\n",
           static_cast<unsigned long long>(run->client->reports_sent),
           static_cast<unsigned long long>(run->client->reports_refused),
           run->client->messages_read > 0 ? "read back" : "not read back");
}

int all_verdict(const long_run* run, quorvex_stop_cause stop) {
    if (const int stopped = long_run_stop_status(stop)) return stopped;
    return run->client->reports_refused == 0 && run->client->messages_read > 0 ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

// A demonstration waits as long as the driver takes, with no deadline and no
// handler: connect, play, disconnect.
int demonstrate(uint8_t mode) {
    quorvex_client* client = quorvex_new_client();
    if (client == nullptr) return EXIT_NO_RESOURCES;
    int status = EXIT_NO_DEVICE;
    if (quorvex_connect(client)) {
        printf("...sending request(s) to our device\n");
        status = EXIT_DEMONSTRATED;
        run_demonstration(client, mode);
        quorvex_disconnect(client);
    }
    quorvex_free_client(client);
    return status;
}

}  // namespace

const long_run_kind LONG_RUN_ALL = {all_prepare, nullptr, all_step, nullptr,
                                    all_before_stop, all_totals, all_verdict, nullptr};

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
    const option_entry& option = *option_of(mode);
    run_settings settings;
    if (!is_demonstration(mode) && mode != QUORVEX_MODE_SEND && !settings_from_options(mode, argc, argv, &settings))
        return EXIT_USAGE;
    if (option.run != nullptr) return long_run_main(option, settings);

    if (settings.wait_s != 0) wait_for_device(settings.wait_s);
    if (mode == QUORVEX_MODE_LIST) return ListInterfaces() ? EXIT_DEMONSTRATED : EXIT_NO_DEVICE;
    return demonstrate(mode);
}
