// The connection record, connect/disconnect and the two ways a frame is sent.

#include <cstdio>
#include <cstring>

#include "client/deadline.h"

quorvex_client* quorvex_new_client() {
    auto* client = static_cast<quorvex_client*>(host_malloc(sizeof(quorvex_client)));
    // Cleared so that the frame bytes after a short inner report are never
    // uninitialised memory on their way to the device.
    if (client != nullptr) std::memset(client, 0, sizeof(*client));
    return client;
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

int quorvex_transfer_failed(quorvex_client* client, const char* op, DWORD error, bool late) {
    client->last_error = error;
    if (!client->quiet_refusals || late) printf("failed %s %d\n", op, static_cast<int>(error));
    if (late) {
        client->stalled = op;
        printf("Stopped: the driver did not complete %s within %u ms\n", op,
               static_cast<unsigned>(client->deadline->timeout_ms));
    }
    return 0;
}

static int refused(quorvex_client* client, const char* op, DWORD error, bool late) {
    ++client->reports_refused;
    return quorvex_transfer_failed(client, op, error, late);
}

int quorvex_write_control_report(quorvex_client* client) {
    DWORD written = 0;
    ++client->reports_sent;
    quorvex_transfer_begin(client, "WriteFile", true);
    const BOOL ok = WriteFile(client->control, client->control_report, QUORVEX_CONTROL_REPORT_SIZE, &written, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    const bool late = quorvex_transfer_late(client);
    return ok ? 1 : refused(client, "WriteFile", error, late);
}

int quorvex_set_control_report(quorvex_client* client) {
    ++client->reports_sent;
    quorvex_transfer_begin(client, "HidD_SetOutputReport", true);
    const BOOLEAN ok = HidD_SetOutputReport(client->control, client->control_report, QUORVEX_CONTROL_REPORT_SIZE);
    const DWORD error = ok ? 0 : GetLastError();
    const bool late = quorvex_transfer_late(client);
    return ok ? 1 : refused(client, "HidD_SetOutputReport", error, late);
}
