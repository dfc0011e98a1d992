#include <cstdio>
#include <cstring>

#include "app/testquorvex.h"
#include "reports/digitizer.h"
#include "reports/joystick.h"
#include "reports/keyboard.h"
#include "reports/message.h"
#include "reports/mouse.h"
#include "reports/multitouch.h"
#include "testquorvex_version.h"

namespace {
struct option_entry {
    const char* option;
    uint8_t mode;
    const char* help;  // for /?: the demonstrations are in the usage line already
};

constexpr option_entry kOptions[] = {
    {"/multitouch", QUORVEX_REPORT_MULTITOUCH, nullptr},
    {"/mouse", QUORVEX_REPORT_MOUSE, nullptr},
    {"/digitizer", QUORVEX_REPORT_DIGITIZER, nullptr},
    {"/joystick", QUORVEX_REPORT_JOYSTICK, nullptr},
    {"/keyboard", QUORVEX_REPORT_KEYBOARD, nullptr},
    {"/message", QUORVEX_REPORT_MESSAGE, nullptr},
    {"/list", QUORVEX_MODE_LIST, "every present HID interface, and why it is or is not the device"},
    {"/all", QUORVEX_MODE_ALL, "the five demonstrations that end, in turn; status 4 if a report was refused"},
    {"/?", QUORVEX_MODE_HELP, nullptr},
    {"/help", QUORVEX_MODE_HELP, nullptr},
};

constexpr char kUsageLine[] =
    "Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\n";

void print_help() {
    printf("testquorvex %s, test client for the quorvex virtual HID device\n", TESTQUORVEX_VERSION);
    printf("%s", kUsageLine);
    for (const option_entry& entry : kOptions)
        if (entry.help != nullptr) printf("       testquorvex %-5s  %s\n", entry.option, entry.help);
}

bool is_demonstration(uint8_t mode) { return mode < QUORVEX_MODE_LIST; }
}  // namespace

uint8_t mode_from_options(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) return 0;
    for (const option_entry& entry : kOptions) {
        if (std::strcmp(argv[1], entry.option) == 0) return entry.mode;
    }
    return 0;
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

int run_all(quorvex_client* client) {
    for (const option_entry& entry : kOptions) {
        // The joystick stream never ends; it stays on its own.
        if (!is_demonstration(entry.mode) || entry.mode == QUORVEX_REPORT_JOYSTICK) continue;
        // Each demonstration sends exactly its own mode's frames, not the
        // tail of the one before.
        std::memset(client->control_report, 0, sizeof(client->control_report));
        run_demonstration(client, entry.mode);
    }
    const bool read_back = client->messages_read > 0;
    // The received message is printed without a line feed of its own.
    if (read_back) printf("\n");
    printf("All: %d reports sent, %d refused; vendor message %s\n", client->reports_sent, client->reports_refused,
           read_back ? "read back" : "not read back");
    return client->reports_refused == 0 && read_back ? EXIT_DEMONSTRATED : EXIT_REFUSED;
}

int testquorvex_main(int argc, const char* const* argv) {
    // Every line must reach a redirected stdout when it is printed: a joystick
    // run only ends by being stopped, and a message run may wait for ever.
    // Unbuffered, because the Windows runtime treats line buffering as full.
    setvbuf(stdout, nullptr, _IONBF, 0);

    const uint8_t mode = mode_from_options(argc, argv);
    if (mode == 0) {
        printf("%s", kUsageLine);
        return EXIT_USAGE;
    }
    if (mode == QUORVEX_MODE_HELP) {
        print_help();
        return EXIT_DEMONSTRATED;
    }
    if (mode == QUORVEX_MODE_LIST) return ListInterfaces() ? EXIT_DEMONSTRATED : EXIT_NO_DEVICE;

    quorvex_client* client = quorvex_new_client();
    if (client == nullptr) return EXIT_NO_MEMORY;

    if (!quorvex_connect(client)) {
        quorvex_free_client(client);
        return EXIT_NO_DEVICE;
    }

    printf("...sending request(s) to our device\n");
    int status = EXIT_DEMONSTRATED;
    if (mode == QUORVEX_MODE_ALL) status = run_all(client);
    else run_demonstration(client, mode);

    quorvex_disconnect(client);
    quorvex_free_client(client);
    return status;
}
