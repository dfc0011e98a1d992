// The device client: discovery of the quorvex collections, the connection
// record, and the control frame every report is sent in.
#pragma once

#include <cstdint>

#include "client/quorvex_contract.h"
#include "platform/platform.h"

struct quorvex_client {
    HANDLE control;  // control collection (usage 0x0001), null when none
    HANDLE message;  // message collection (usage 0x0002), null when none
    uint8_t control_report[QUORVEX_CONTROL_REPORT_SIZE];
};

// A new record with null handles and a cleared frame, or null when the heap
// refuses; release it with quorvex_free_client.
quorvex_client* quorvex_new_client();
void quorvex_free_client(quorvex_client* client);

// 1 when both collections are open and ready, else 0 with nothing left open.
int quorvex_connect(quorvex_client* client);
void quorvex_disconnect(quorvex_client* client);

// Write the frame header for an inner report of the given length and return
// where the inner report goes.
uint8_t* quorvex_begin_frame(quorvex_client* client, uint8_t inner_length);

// Send the whole 65-byte frame: by file write, or by set-output-report.
int quorvex_write_control_report(quorvex_client* client);
int quorvex_set_control_report(quorvex_client* client);

// Discovery: the first present interface that is the collection with this
// usage, opened; INVALID_HANDLE_VALUE when there is none.
HANDLE FindOurDevice(uint16_t usage);
HANDLE OpenDeviceInterface(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data, uint16_t usage);
bool IsOurDevice(HANDLE device, uint16_t usage);

inline void put_le16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}
