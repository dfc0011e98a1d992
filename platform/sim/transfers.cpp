// Transfers on the simulated bus and the device's side of them: output
// reports checked and answered, input reports delivered to whatever
// subscribed to the collection, reads that wait for one, the stalls and the
// late entries a scenario asks for, the fragile rules and unplugging.

#include <algorithm>
#include <cstring>

#include "platform/sim/bus.h"
#include "platform/sim/console.h"
#include "platform/sim/decode.h"
#include "platform/sim/threads.h"
#include "platform/sim/user32.h"

namespace {

// Every subscriber of the collection takes the report; a read waiting for
// one wakes.
void deliver_input(size_t iface, const input_report& report) {
    for (auto& entry : sys().subscribers)
        if (entry.second.iface == iface) entry.second.take(report);
    user32_take_input(iface, report);
    threads_changed();
}

// The collection of the same device that carries its answers.
size_t answering_collection(int device) {
    for (size_t i = 0; i < sys().bus.size(); ++i) {
        const bus_interface& iface = sys().bus[i];
        if (iface.kind == collection_kind::message && iface.device == device) return i;
    }
    return sys().bus.size();
}

// An accepted frame of an input kind: its collection on the same device
// delivers it as the device model says, the planted fault included.
void deliver_to_input_collection(const uint8_t* frame, int device) {
    device_input which;
    uint8_t report[DEVICE_INPUT_REPORT_MAX];
    uint32_t length = 0;
    const int times = device_deliver(frame, sys().scenario.delivery, &which, report, &length);
    for (size_t i = 0; i < sys().bus.size(); ++i) {
        const bus_interface& iface = sys().bus[i];
        if (iface.kind != collection_kind::input || iface.input != which || iface.device != device) continue;
        if (!iface.present || !iface.arrived) return;
        for (int n = 0; n < times; ++n) {
            trace(std::string("the device delivers on its ") + collection_name(iface) + " collection: " +
                  hex_bytes(report, length));
            deliver_input(i, input_report(report, report + length));
        }
        return;
    }
}

// Pulled out of its port: its interfaces leave the present set, nothing
// opens its paths, and every transfer on a handle still open fails as
// Windows fails it.
void unplug(int device) {
    trace("the quorvex device is unplugged");
    for (bus_interface& iface : sys().bus)
        if (iface.device == device) iface.present = false;
}

// Whether a frame matches one of the scenario's fragile rules.
bool breaks_the_device(const uint8_t* frame) {
    for (const device_fault& rule : sys().scenario.fragile)
        if (device_breaks(rule, frame)) return true;
    return false;
}

// The scenario's late entry at this call: on a loaded machine the thread is
// still on its way into the call when another thread tries to cancel it.
void enter_late_if_due(const char* op) {
    const int call = sys().calls[op] + 1;
    for (const sim_call_at& late : sys().scenario.late_entries) {
        if (late.op != op || late.call != call) continue;
        trace(std::string(op) + " call " + std::to_string(call) + " enters late");
        threads_enter_late();
    }
}

// Holds a transfer the scenario stalls at this call, until it is cancelled;
// ERROR_SUCCESS when this call is not one of them.
DWORD stall_if_due(const char* op, const char* collection) {
    if (sys().deaf) {
        trace(std::string(op) + " " + collection + " stalls: the device is deaf since a fragile frame");
        threads_in_call(true, nullptr, sys().interrupt);
    }
    const int call = sys().calls[op];
    for (const sim_stall& stall : sys().scenario.stalls) {
        if (stall.op != op || stall.call != call) continue;
        trace(std::string(op) + " " + collection + " stalls: the driver does not complete it" +
              (stall.deaf ? ", nor its cancellation" : " until it is cancelled"));
        const DWORD error = threads_in_call(stall.deaf, nullptr, sys().interrupt);
        trace(std::string(op) + " " + collection + " cancelled");
        return error;
    }
    return ERROR_SUCCESS;
}

}  // namespace

void subscribe_input(uintptr_t open, size_t iface, std::function<void(const input_report&)> take) {
    sys().subscribers[open] = {iface, std::move(take)};
}

void unsubscribe_input(uintptr_t open) { sys().subscribers.erase(open); }

BOOL send_output(const char* op, HANDLE handle, const void* buffer, DWORD length) {
    console_transfer_begins();
    system_call call;
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    const char* collection = collection_name(iface);
    enter_late_if_due(op);
    if (maybe_inject(op)) return refuse(op, collection, GetLastError());
    if (!iface.present) return refuse(op, collection, ERROR_DEVICE_NOT_CONNECTED);
    if (buffer == nullptr) return refuse(op, collection, ERROR_INVALID_USER_BUFFER);
    if ((file->access & GENERIC_WRITE) == 0) return refuse(op, collection, ERROR_ACCESS_DENIED);
    if (iface.output_length == 0) return refuse(op, collection, ERROR_INVALID_FUNCTION);
    // HID output reports are taken whole or not at all.
    if (length != iface.output_length) return refuse(op, collection, ERROR_INVALID_USER_BUFFER);
    if (const DWORD stalled = stall_if_due(op, collection)) return refuse(op, collection, stalled);
    threads_transfer();

    // Every frame the device is handed shows, refused or not, as the step that sends it again.
    const auto* frame = static_cast<const uint8_t*>(buffer);
    trace(std::string(op) + " " + collection + " " + std::to_string(length) + " bytes: " + hex_bytes(frame, length) +
          " | " + describe_frame(frame, std::string(op) == "HidD_SetOutputReport"));
    if (breaks_the_device(frame)) {
        trace("the device goes deaf after this frame");
        sys().deaf = true;
    }
    if (!device_accepts(frame, length)) {
        record(op, collection, frame, length, ERROR_INVALID_PARAMETER);
        trace(std::string(op) + " " + collection + " refused: error " + std::to_string(ERROR_INVALID_PARAMETER));
        return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    }
    record(op, collection, frame, length, 0);

    if (++sys().frames == sys().scenario.unplug_after) unplug(iface.device);
    if (iface.present) deliver_to_input_collection(frame, iface.device);

    const size_t answers = answering_collection(iface.device);
    if (answers == sys().bus.size() || sys().mute) return succeed_with(TRUE);
    input_report reply(sys().bus[answers].input_length, 0);
    if (!device_answer(frame, reply.data()) || !sys().scenario.answer || !iface.present) return succeed_with(TRUE);
    if (sys().scenario.custom_reply) {
        std::fill(reply.begin(), reply.end(), 0);
        reply[0] = DEVICE_MESSAGE_REPORT_ID;
        std::copy(sys().scenario.reply.begin(), sys().scenario.reply.end(), reply.begin() + 1);
    }
    if (sys().frames == sys().scenario.late_answer) {
        // A driver that dies answering: its last answer is late, and nothing follows.
        trace("the device's answer to this frame comes after the next flush, and it answers nothing more");
        sys().mute = true;
        sys().held.emplace_back(answers, reply);
        return succeed_with(TRUE);
    }
    deliver_input(answers, reply);
    return succeed_with(TRUE);
}

void deliver_held_answers(size_t iface) {
    auto& held = sys().held;
    for (auto it = held.begin(); it != held.end();) {
        if (it->first != iface) {
            ++it;
            continue;
        }
        trace("the late answer arrives");
        deliver_input(it->first, it->second);
        it = held.erase(it);
    }
}

BOOL read_input(HANDLE handle, void* buffer, DWORD length, DWORD* read) {
    console_transfer_begins();
    system_call call;
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    const char* collection = collection_name(iface);
    enter_late_if_due("ReadFile");
    if (maybe_inject("ReadFile")) return refuse("ReadFile", collection, GetLastError());
    if ((file->access & GENERIC_READ) == 0) return refuse("ReadFile", collection, ERROR_ACCESS_DENIED);
    if (!iface.present) return refuse("ReadFile", collection, ERROR_DEVICE_NOT_CONNECTED);
    if (iface.input_length == 0) return refuse("ReadFile", collection, ERROR_INVALID_FUNCTION);
    if (buffer == nullptr || length < iface.input_length) return refuse("ReadFile", collection, ERROR_INVALID_USER_BUFFER);

    if (const DWORD stalled = stall_if_due("ReadFile", collection)) return refuse("ReadFile", collection, stalled);
    if (file->input.empty()) {
        // A synchronous read waits for the device's next report, or until it
        // is cancelled; with nobody to deliver or cancel, in-process it ends
        // as a tester at the console would end it.
        trace("ReadFile " + std::string(collection) + " waits: the device sends no input report");
        auto arrived = [handle] {
            const open_file* open = find_file(handle);
            return open == nullptr || !open->input.empty();
        };
        if (const DWORD error = threads_in_call(false, arrived, sys().interrupt))
            return refuse("ReadFile", collection, error);
        file = find_file(handle);
        if (file == nullptr) return refuse("ReadFile", collection, ERROR_OPERATION_ABORTED);
    }
    threads_transfer();
    const input_report report = file->input.front();
    file->input.pop_front();
    const bool message = iface.kind == collection_kind::message;
    const DWORD delivered = static_cast<DWORD>(
        message ? std::min<size_t>(sys().scenario.reply_length, report.size()) : report.size());
    std::memcpy(buffer, report.data(), delivered);
    if (read != nullptr) *read = delivered;

    record("ReadFile", collection, report.data(), delivered, 0);
    trace("ReadFile " + std::string(collection) + " " + std::to_string(delivered) +
          " bytes: " + hex_bytes(report.data(), delivered) +
          (message ? " | " + describe_answer(report.data(), delivered) : std::string()));
    return succeed_with(TRUE);
}
