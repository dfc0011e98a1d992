// Vendor message, inner ID 0x10: 32 data bytes, written through the control
// collection and read back as an input report of the message collection.
#pragma once

#include "client/quorvex_client.h"

constexpr int QUORVEX_MESSAGE_DATA_SIZE = QUORVEX_MESSAGE_REPORT_SIZE - 1;

struct quorvex_message {
    uint8_t bytes[QUORVEX_MESSAGE_REPORT_SIZE];  // report ID, then the data
};

int quorvex_write_message(quorvex_client* client, quorvex_message* message);

// Reads the next buffered input report, waiting for one. On success
// *bytes_read (when given) says how much of the record the device filled.
int quorvex_read_message(quorvex_client* client, quorvex_message* message, DWORD* bytes_read = nullptr);

void demo_message(quorvex_client* client);
