// The simulated system's core: its state (the bus, the objects the client
// holds, the event record), the last error, and the controls the tests and
// the program's entry point use. Every stand-in holds the system's lock
// (threads.h) while it reads or changes any of it.

#include "platform/sim/bus.h"

#include <cstdio>

#include "platform/sim/clock.h"
#include "platform/sim/console.h"
#include "platform/sim/files.h"
#include "platform/sim/heap.h"
#include "platform/sim/threads.h"
#include "platform/sim/user32.h"

const GUID kHidGuid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

}  // namespace

system_state& sys() {
    static system_state state;
    return state;
}

void set_last_error(DWORD error) { t_last_error = error; }

DWORD GetLastError() { return t_last_error; }

void trace(const std::string& line) {
    if (sys().trace) fprintf(stderr, "sim: %s\n", line.c_str());
}

uintptr_t new_object() {
    sys().next_object += 4;
    return sys().next_object;
}

open_file* find_file(HANDLE handle) {
    auto it = sys().files.find(reinterpret_cast<uintptr_t>(handle));
    return it == sys().files.end() ? nullptr : &it->second;
}

device_set* find_set(HDEVINFO set) {
    auto it = sys().sets.find(reinterpret_cast<uintptr_t>(set));
    return it == sys().sets.end() ? nullptr : &it->second;
}

const char* collection_name(const bus_interface& iface) {
    switch (iface.kind) {
        case collection_kind::control: return "control";
        case collection_kind::message: return "message";
        case collection_kind::input: return device_input_of(static_cast<device_input>(iface.input)).kind;
        default: return "other";
    }
}

void record(const std::string& op, const std::string& target, const uint8_t* bytes, size_t length, DWORD error) {
    if (!sys().recording) return;
    sim_event event;
    event.op = op;
    event.target = target;
    if (bytes != nullptr) event.bytes.assign(bytes, bytes + length);
    event.error = error;
    sys().events.push_back(event);
}

BOOL refuse(const char* op, const char* collection, DWORD error) {
    record(op, collection, nullptr, 0, error);
    trace(std::string(op) + " " + collection + " refused: error " + std::to_string(error));
    return fail_with(error, FALSE);
}

// ---- controls -------------------------------------------------------------

bool sim_configure(const std::string& text, std::string* error) {
    sim_scenario scenario;
    if (!parse_scenario(text, &scenario, error)) return false;
    system_call call;
    threads_set_main();
    system_state& s = sys();
    heap_reset();
    threads_reset(scenario.latency_us);
    user32_reset();
    clock_reset(scenario.virtual_clock);
    s.files.clear();
    s.subscribers.clear();
    files_reset();
    console_reset();
    s.sets.clear();
    s.preparsed.clear();
    s.calls.clear();
    s.events.clear();
    s.sleeps = 0;
    s.frames = 0;
    s.deaf = false;
    s.mute = false;
    s.held.clear();
    s.scenario = scenario;
    populate(scenario);
    return true;
}

void sim_set_trace(bool on) { sys().trace = on; }

sim_in_use sim_usage() {
    system_call call;
    const system_state& s = sys();
    return {static_cast<int>(s.files.size()) + threads_open_objects() + files_open_count() + user32_open_windows(), static_cast<int>(s.sets.size()),
            static_cast<int>(s.preparsed.size()), heap_blocks()};
}

std::string sim_describe(const sim_in_use& u) {
    return std::to_string(u.handles) + " handle(s), " + std::to_string(u.sets) + " device-information set(s), " +
           std::to_string(u.preparsed) + " preparsed data, " + std::to_string(u.heap_blocks) + " heap block(s)";
}

const std::vector<sim_event>& sim_events() { return sys().events; }

int sim_calls(const std::string& op) {
    system_call call;
    auto it = sys().calls.find(op);
    return it == sys().calls.end() ? 0 : it->second;
}

void sim_on_interrupt(void (*handler)()) { sys().interrupt = handler; }

