#include <cstdio>
#include <cstring>

#include "app/testquorvex.h"
#include "reports/digitizer.h"
#include "reports/joystick.h"
#include "reports/keyboard.h"
#include "reports/message.h"
#include "reports/mouse.h"
#include "reports/multitouch.h"

namespace {
struct mode_entry {
    const char* option;
    uint8_t mode;
};

constexpr mode_entry kModes[] = {
    {"/multitouch", QUORVEX_REPORT_MULTITOUCH}, {"/mouse", QUORVEX_REPORT_MOUSE},
    {"/digitizer", QUORVEX_REPORT_DIGITIZER},   {"/joystick", QUORVEX_REPORT_JOYSTICK},
    {"/keyboard", QUORVEX_REPORT_KEYBOARD},     {"/message", QUORVEX_REPORT_MESSAGE},
};
}  // namespace

uint8_t mode_from_options(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) return 0;
    for (const mode_entry& entry : kModes) {
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

int testquorvex_main(int argc, const char* const* argv) {
    // Every line must reach a redirected stdout when it is printed: a joystick
    // run only ends by being stopped, and a message run may wait for ever.
    // Unbuffered, because the Windows runtime treats line buffering as full.
    setvbuf(stdout, nullptr, _IONBF, 0);

    const uint8_t mode = mode_from_options(argc, argv);
    if (mode == 0) {
        printf("Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\n");
        return EXIT_USAGE;
    }

    quorvex_client* client = quorvex_new_client();
    if (client == nullptr) return EXIT_NO_MEMORY;

    if (!quorvex_connect(client)) {
        quorvex_free_client(client);
        return EXIT_NO_DEVICE;
    }

    printf("...sending request(s) to our device\n");
    run_demonstration(client, mode);

    quorvex_disconnect(client);
    quorvex_free_client(client);
    return EXIT_DEMONSTRATED;
}
