// The connection record, connect/disconnect, and every transfer the client
// makes: the two ways a frame is sent, the answer's read and the queue's flush.

#include <cstdio>
#include <cstring>
#include <new>

#include "client/deadline.h"

quorvex_client* quorvex_new_client() {
    void* block = host_malloc(sizeof(quorvex_client));
    // Value-initialised, so that the frame bytes after a short inner report
    // are never uninitialised memory on their way to the device.
    return block == nullptr ? nullptr : new (block) quorvex_client();
}

void quorvex_free_client(quorvex_client* client) { host_free(client); }

static bool no_device(HANDLE handle) { return handle == INVALID_HANDLE_VALUE || handle == nullptr; }

int quorvex_connect(quorvex_client* client) {
    client->control = nullptr;
    client->message = nullptr;

    HANDLE control = FindOurDevice(QUORVEX_USAGE_CONTROL);
    if (no_device(control)) return 0;
    client->control = control;

    HANDLE message = FindOurDevice(QUORVEX_USAGE_MESSAGE);
    if (no_device(message)) {
        quorvex_disconnect(client);
        return 0;
    }
    client->message = message;

    if (!HidD_SetNumInputBuffers(client->message, QUORVEX_MESSAGE_INPUT_BUFFERS)) {
        printf("failed HidD_SetNumInputBuffers %d\n", static_cast<int>(GetLastError()));
        quorvex_disconnect(client);
        return 0;
    }
    return 1;
}

void quorvex_disconnect(quorvex_client* client) {
    if (client->control != nullptr) CloseHandle(client->control);
    if (client->message != nullptr) CloseHandle(client->message);
    client->control = nullptr;
    client->message = nullptr;
}

uint8_t* quorvex_begin_frame(quorvex_client* client, uint8_t inner_length) {
    client->control_report[0] = QUORVEX_CONTROL_REPORT_ID;
    client->control_report[1] = inner_length;
    return client->control_report + QUORVEX_CONTROL_HEADER_SIZE;
}

void quorvex_clear_frame(quorvex_client* client) {
    std::memset(client->control_report, 0, sizeof(client->control_report));
}

namespace {

void bump(std::atomic<uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

void tell(quorvex_client* client, const char* op, const uint8_t* bytes, DWORD length, DWORD error, bool late) {
    if (client->on_transfer == nullptr) return;
    const quorvex_transfer transfer = {op, bytes, length, error, late};
    client->on_transfer(client->listener, &transfer);
}

// A failed transfer: its line with the error the call left, read before
// anything else could change it; and, after the watchdog's cancel, the line
// that stops the run. Returns 0, the failure.
int failed(quorvex_client* client, const char* op, DWORD error, bool late, bool quiet) {
    client->last_error = error;
    if (!quiet || late) printf("failed %s %d\n", op, static_cast<int>(error));
    if (late) {
        client->stalled = op;
        printf("Stopped: the driver did not complete %s within %u ms\n", op,
               static_cast<unsigned>(client->deadline->timeout_ms));
    }
    return 0;
}

int send(quorvex_client* client, bool by_set, bool quiet) {
    const char* op = by_set ? "HidD_SetOutputReport" : "WriteFile";
    bump(client->reports_sent);
    quorvex_transfer_begin(client, op, true);
    BOOL ok = FALSE;
    if (by_set) {
        ok = HidD_SetOutputReport(client->control, client->control_report, QUORVEX_CONTROL_REPORT_SIZE) ? TRUE : FALSE;
    } else {
        DWORD written = 0;
        ok = WriteFile(client->control, client->control_report, QUORVEX_CONTROL_REPORT_SIZE, &written, nullptr);
    }
    const DWORD error = ok ? 0 : GetLastError();
    const bool late = quorvex_transfer_end(client);
    tell(client, op, client->control_report, QUORVEX_CONTROL_REPORT_SIZE, error, late);
    if (ok) return 1;
    bump(client->reports_refused);
    return failed(client, op, error, late, quiet);
}

}  // namespace

int quorvex_write_control_report(quorvex_client* client) { return send(client, false, false); }

int quorvex_set_control_report(quorvex_client* client) { return send(client, true, false); }

int quorvex_send_frame(quorvex_client* client, const uint8_t frame[QUORVEX_CONTROL_REPORT_SIZE], unsigned flags) {
    std::memcpy(client->control_report, frame, sizeof(client->control_report));
    return send(client, (flags & QUORVEX_SEND_SET) != 0, (flags & QUORVEX_SEND_QUIET) != 0);
}

int quorvex_read_message(quorvex_client* client, quorvex_message* message, DWORD* bytes_read) {
    DWORD got = 0;
    quorvex_transfer_begin(client, "ReadFile", false);
    const BOOL ok = ReadFile(client->message, message->bytes, QUORVEX_MESSAGE_REPORT_SIZE, &got, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    const bool late = quorvex_transfer_end(client);
    tell(client, "ReadFile", ok ? message->bytes : nullptr, ok ? got : 0, error, late);
    if (!ok) return failed(client, "ReadFile", error, late, false);
    if (bytes_read != nullptr) *bytes_read = got;
    bump(client->messages_read);
    return 1;
}

void quorvex_pause(quorvex_client* client, DWORD ms, bool stoppable) {
    tell(client, "Sleep", nullptr, ms, 0, false);
    if (!stoppable || ms == 0) {
        Sleep(ms);
        return;
    }
    constexpr DWORD kSlice = 100;
    for (DWORD left = ms; left > 0 && !quorvex_stopped(client); left -= left < kSlice ? left : kSlice)
        Sleep(left < kSlice ? left : kSlice);
}

int quorvex_flush_answers(quorvex_client* client) {
    // Not bounded: the class driver empties its own queue without the device.
    const BOOLEAN ok = HidD_FlushQueue(client->message);
    const DWORD error = ok ? 0 : GetLastError();
    tell(client, "HidD_FlushQueue", nullptr, 0, error, false);
    if (ok) return 1;
    client->last_error = error;
    printf("failed HidD_FlushQueue %d\n", static_cast<int>(error));
    return 0;
}
