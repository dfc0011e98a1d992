#include "reports/message.h"

#include <cstdio>
#include <cstring>

int quorvex_write_message(quorvex_client* client, quorvex_message* message) {
    message->bytes[0] = QUORVEX_REPORT_MESSAGE;
    uint8_t* report = quorvex_begin_frame(client, QUORVEX_MESSAGE_REPORT_SIZE);
    std::memcpy(report, message->bytes, QUORVEX_MESSAGE_REPORT_SIZE);
    return quorvex_write_control_report(client);
}

void demo_message(quorvex_client* client) {
    static const char kGreeting[] = "Hello quorvex";
    quorvex_message message = {};  // data bytes past the greeting go out as zeros

    printf("Writing vendor message report\n");
    std::memcpy(message.bytes + 1, kGreeting, sizeof(kGreeting) - 1);
    if (!quorvex_write_message(client, &message)) return;

    std::memset(&message, 0, sizeof(message));
    printf("Reading vendor message report\n");
    DWORD got = 0;
    if (!quorvex_read_message(client, &message, &got)) return;

    // Only what the device delivered, up to its first zero byte, and as data:
    // the device's text is never a format.
    size_t filled = got < sizeof(message.bytes) ? got : sizeof(message.bytes);
    size_t length = 0;
    while (1 + length < filled && message.bytes[1 + length] != 0) ++length;
    printf("Success!\n    ");
    fwrite(message.bytes + 1, 1, length, stdout);
}
