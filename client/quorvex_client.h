// The device client: discovery of the quorvex collections, the connection
// record, and the control frame every report is sent in.
#pragma once

#include <atomic>
#include <cstdint>

#include "client/quorvex_contract.h"
#include "platform/platform.h"

struct quorvex_deadline;
struct quorvex_client;

// What one transfer came to, for whoever listens (a trace, a record of what
// was sent): every send, read and flush passes through here once, after the call.
struct quorvex_transfer {
    const char* op;          // WriteFile, HidD_SetOutputReport, ReadFile or HidD_FlushQueue
    const uint8_t* bytes;    // the frame sent, or the report read; null for a flush or a failed read
    DWORD length;
    DWORD error;             // 0 when the call succeeded
    bool late;               // the deadline's watchdog cancelled it
};
using quorvex_transfer_listener = void (*)(void* context, const quorvex_transfer* transfer);

// An answer of the message collection: report ID, then the data.
struct quorvex_message {
    uint8_t bytes[QUORVEX_MESSAGE_REPORT_SIZE];
};

struct quorvex_client {
    HANDLE control;  // control collection (usage 0x0001), null when none
    HANDLE message;  // message collection (usage 0x0002), null when none
    uint8_t control_report[QUORVEX_CONTROL_REPORT_SIZE];
    // What the run's sends and reads came to, so that a run can give a
    // verdict. Atomic: a closing console's handler and the watchdog read them
    // while the caller may still be counting.
    std::atomic<uint64_t> reports_sent;
    std::atomic<uint64_t> reports_refused;
    std::atomic<uint64_t> messages_read;
    // Bounded runs only: the watchdog of their transfers (null for the
    // demonstrations, which wait as long as the driver takes), and the call
    // it stopped, after which the run plays nothing more.
    quorvex_deadline* deadline;
    std::atomic<const char*> stalled;
    // The error of the last failed transfer.
    DWORD last_error;
    quorvex_transfer_listener on_transfer;  // null: nobody listens
    void* listener;
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
// Zeroes the whole frame, so that the next report does not carry the tail of
// the one before.
void quorvex_clear_frame(quorvex_client* client);

// Send the whole 65-byte frame: by file write, or by set-output-report.
int quorvex_write_control_report(quorvex_client* client);
int quorvex_set_control_report(quorvex_client* client);

// How a frame goes out, and whether its refusal prints a line of its own (a
// fuzz run expects thousands of refusals and counts them instead).
enum quorvex_send_flags : unsigned {
    QUORVEX_SEND_WRITE = 0,
    QUORVEX_SEND_SET = 1,
    QUORVEX_SEND_QUIET = 2,
};
// A whole frame of the caller's, copied into the record and sent.
int quorvex_send_frame(quorvex_client* client, const uint8_t frame[QUORVEX_CONTROL_REPORT_SIZE], unsigned flags);

// Reads the next buffered answer, waiting for one. On success *bytes_read
// (when given) says how much of the record the device filled.
int quorvex_read_message(quorvex_client* client, quorvex_message* message, DWORD* bytes_read = nullptr);
// Empties the message collection's queue of answers; 0, with its line, when
// the driver refuses.
int quorvex_flush_answers(quorvex_client* client);

// Whether a deadline stopped the run.
inline bool quorvex_stalled(const quorvex_client* client) { return client->stalled.load() != nullptr; }
// Whether the tester asked a long run to stop (Ctrl+C, Ctrl+Break); never
// for the modes, which install no handler.
bool quorvex_stop_requested();
// Whether the run is to play nothing more: a deadline or the tester stopped it.
inline bool quorvex_stopped(const quorvex_client* client) { return quorvex_stalled(client) || quorvex_stop_requested(); }

// Discovery: the first present interface that is the collection with this
// usage, opened; INVALID_HANDLE_VALUE when there is none.
HANDLE FindOurDevice(uint16_t usage);
HANDLE OpenDeviceInterface(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data, uint16_t usage);
bool IsOurDevice(HANDLE device, uint16_t usage);
// The device path of the collection with this usage that discovery last
// opened; empty when none.
const char* FoundPath(uint16_t usage);
// Discovery's lines go out as comments ("# "): /watch's output is a script.
extern bool quorvex_discovery_comments;

// What a collection's identity says it is. The one check behind both
// discovery and the listing; only IsOurDevice prints.
enum class hid_verdict {
    quorvex,           // the quorvex IDs, its usage page, usage 1 or 2
    other_device,      // another vendor or product
    other_collection,  // the quorvex IDs on another usage page or usage
    no_preparsed,      // identity unreadable, step by step
    no_attributes,
    no_caps,
};
struct hid_identity {
    HIDD_ATTRIBUTES attributes;  // valid from other_device on
    HIDP_CAPS caps;              // valid when caps_read
    bool caps_read;
};
// Discovery reads no capabilities of another maker's device; the listing
// asks for them (caps_of_others) to show them.
hid_verdict CheckIdentity(HANDLE device, bool caps_of_others, hid_identity* seen);

// The set of present HID interfaces and the class GUID they were listed
// under; on failure, says so (unless quiet) and gives INVALID_HANDLE_VALUE.
HDEVINFO PresentHidInterfaces(GUID* hid_guid, bool quiet = false);

// The device path of one enumerated interface, in a heap block the caller
// releases with host_free; null when the heap or the detail query refuses
// (*out_of_memory says which).
PSP_DEVICE_INTERFACE_DETAIL_DATA_A GetInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data,
                                                      bool* out_of_memory);
// The open every mode makes: read and write, sharing reading only, synchronous.
HANDLE OpenForTransfers(const char* path);

// /list: every present HID interface with its identity, whether it opens as
// discovery opens it, and why it is or is not a quorvex collection; then the
// interfaces the system knows but that are not present, and a summary. True
// when both quorvex collections are present and open for transfers. Sends
// nothing and leaves nothing open.
bool ListInterfaces(bool quiet = false);

inline void put_le16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void put_le32(uint8_t* at, uint32_t value) {
    put_le16(at, static_cast<uint16_t>(value & 0xFFFF));
    put_le16(at + 2, static_cast<uint16_t>(value >> 16));
}
