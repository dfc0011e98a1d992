// Vendor message, inner ID 0x10: 32 data bytes, written through the control
// collection and read back as an input report of the message collection.
#pragma once

#include "client/quorvex_client.h"

constexpr int QUORVEX_MESSAGE_DATA_SIZE = QUORVEX_MESSAGE_REPORT_SIZE - 1;

int quorvex_write_message(quorvex_client* client, quorvex_message* message);

void demo_message(quorvex_client* client);
