// The simulated HID bus: the interfaces the scenario lays out, the emulated
// quorvex device behind its collections, the objects the client holds, and the
// controls the tests and the program's entry point use. The client is
// single-threaded and so is the bus; only the last error is per thread.

#include "platform/sim/bus.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/sim/clock.h"
#include "platform/sim/console.h"
#include "platform/sim/decode.h"
#include "platform/sim/files.h"
#include "platform/sim/heap.h"
#include "platform/sim/timing.h"

const GUID kHidGuid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

DWORD injected_error(const std::string& op) {
    if (op == "SetupDiGetClassDevsA") return ERROR_INVALID_CLASS;
    if (op == "SetupDiEnumDeviceInterfaces") return ERROR_NO_MORE_ITEMS;
    if (op == "SetupDiGetDeviceInterfaceDetailA") return 0xE000020Bu;  // ERROR_NO_SUCH_DEVINST
    if (op == "CreateFileA") return ERROR_FILE_NOT_FOUND;
    if (op == "HidD_SetNumInputBuffers") return ERROR_INVALID_PARAMETER;
    if (op == "ReadFile") return ERROR_DEVICE_NOT_CONNECTED;
    if (op == "WriteFile" || op == "HidD_SetOutputReport") return ERROR_GEN_FAILURE;
    if (op == "CloseHandle" || op == "SetupDiDestroyDeviceInfoList") return ERROR_INVALID_HANDLE;
    if (op == "CreateEventA" || op == "CreateThread" || op == "OpenThread") return ERROR_NOT_ENOUGH_MEMORY;
    if (op == "HidD_FlushQueue") return ERROR_GEN_FAILURE;
    if (op == "SetConsoleCtrlHandler") return ERROR_NOT_ENOUGH_MEMORY;
    // Host files: held by another program, unreadable, a full disk, a failed flush.
    if (op == "file:CreateFileA") return ERROR_SHARING_VIOLATION;
    if (op == "file:ReadFile") return ERROR_READ_FAULT;
    if (op == "file:WriteFile") return ERROR_DISK_FULL;
    if (op == "file:FlushFileBuffers") return ERROR_WRITE_FAULT;
    if (op == "file:DeleteFileA") return ERROR_ACCESS_DENIED;
    if (op == "file:CloseHandle") return ERROR_INVALID_HANDLE;
    return ERROR_INVALID_FUNCTION;
}

std::string hid_path(const char* hardware, const char* collection, int instance) {
    char path[160];
    snprintf(path, sizeof(path), "\\\\?\\hid#%s%s#7&%08x&0&%04d#{4d1e55b2-f16f-11cf-88cb-001111000030}", hardware,
             collection, 0x1a2b3c00u + static_cast<unsigned>(instance), instance);
    return path;
}

bus_interface collection(std::string path, role kind, uint16_t vendor, uint16_t product, uint16_t page,
                         uint16_t usage) {
    return {std::move(path), kind, vendor, product, page, usage, -1, false, false};
}

void lay_out_bus(const sim_scenario& s) {
    std::vector<bus_interface>& bus = sys().bus;
    bus.clear();
    int n = 0;
    for (int i = 0; i < s.locked; ++i)
        bus.push_back(collection(hid_path("vid_045e&pid_00db&mi_00", "&col01", n++), role::locked, 0x045E, 0x00DB,
                                 0x0001, 0x0006));
    for (int i = 0; i < s.busy; ++i)
        bus.push_back(collection(hid_path("vid_04f3&pid_2a1c", "&col02", n++), role::busy, 0x04F3, 0x2A1C, 0x000D,
                                 0x0004));
    for (int i = 0; i < s.others; ++i)
        bus.push_back(collection(hid_path("vid_046d&pid_c52b&mi_02", "&col02", n++), role::other, 0x046D, 0xC52B,
                                 0xFF00, 0x0001));
    for (int i = 0; i < s.absent; ++i) {
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c", "&col01", n++), role::other, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, DEVICE_USAGE_PAGE, DEVICE_CONTROL));
        bus.back().present = false;
    }
    // Another maker's mouse, once plugged in: only its registration is left.
    for (int i = 0; i < s.gone; ++i) {
        bus.push_back(collection(hid_path("vid_046d&pid_c077", "", n++), role::other, 0x046D, 0xC077, 0x0001, 0x0002));
        bus.back().present = false;
    }
    for (int i = 0; i < s.emptypath; ++i)
        bus.push_back(collection("", role::other, 0x046D, 0xC52B, 0x0001, 0x0002));
    for (int i = 0; i < s.longpath; ++i)
        bus.push_back(collection(hid_path("vid_046d&pid_c077", "", n++) + std::string(4000, 'x'), role::other, 0x046D,
                                 0xC077, 0x0001, 0x0002));
    for (int i = 0; i < s.shortsize; ++i) {
        bus.push_back(collection(hid_path("vid_046d&pid_c31c", "", n++), role::other, 0x046D, 0xC31C, 0x0001, 0x0006));
        bus.back().short_size_query = true;
    }
    for (int i = 0; i < s.foreign; ++i)
        bus.push_back(collection(hid_path("vid_001f&pid_1234", "&col01", n++), role::other, DEVICE_VENDOR_ID, 0x1234,
                                 DEVICE_USAGE_PAGE, DEVICE_CONTROL));
    for (int i = 0; i < s.othervendor; ++i) {
        bus.push_back(collection(hid_path("vid_04d8&pid_ba1c", "&col01", n++), role::other, 0x04D8, DEVICE_PRODUCT_ID,
                                 DEVICE_USAGE_PAGE, DEVICE_CONTROL));
        bus.push_back(collection(hid_path("vid_04d8&pid_ba1c", "&col02", n++), role::other, 0x04D8, DEVICE_PRODUCT_ID,
                                 DEVICE_USAGE_PAGE, DEVICE_MESSAGE));
    }
    for (int i = 0; i < s.genericpage; ++i) {
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c&mi_01", "&col01", n++), role::other, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, 0x0001, DEVICE_CONTROL));
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c&mi_01", "&col02", n++), role::other, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, 0x0001, DEVICE_MESSAGE));
    }
    for (int i = 0; i < s.badcaps; ++i) {
        bus.push_back(collection(hid_path("vid_001f&pid_ba1c", "&col01", n++), role::other, DEVICE_VENDOR_ID,
                                 DEVICE_PRODUCT_ID, DEVICE_USAGE_PAGE, DEVICE_CONTROL));
        bus.back().caps_fail = true;
    }
    if (s.device == "none") return;
    for (int d = 0; d < s.quorvex; ++d) {
        bus_interface control = collection(hid_path("vid_001f&pid_ba1c", "&col01", n++), role::control,
                                           DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID, DEVICE_USAGE_PAGE, DEVICE_CONTROL);
        bus_interface message = collection(hid_path("vid_001f&pid_ba1c", "&col02", n++), role::message,
                                           DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID, DEVICE_USAGE_PAGE, DEVICE_MESSAGE);
        control.device = message.device = d;
        control.arrived = message.arrived = s.arrive_after == 0;
        if (s.device == "control") {
            bus.push_back(control);
        } else if (s.message_first) {
            bus.push_back(message);
            bus.push_back(control);
        } else {
            bus.push_back(control);
            bus.push_back(message);
        }
    }
}

// Other processes' opens of the first quorvex device's collections, and the
// system's own of the pen and touch collections, which share nothing.
void hold_collections(const sim_scenario& s) {
    sys().others.clear();
    for (size_t i = 0; i < sys().bus.size(); ++i)
        if (sys().bus[i].kind == role::busy) sys().others.push_back({i, GENERIC_READ | GENERIC_WRITE, 0});
    for (const sim_holder& holder : s.holders) {
        const role kind = holder.collection == "control" ? role::control : role::message;
        for (size_t i = 0; i < sys().bus.size(); ++i) {
            if (sys().bus[i].kind != kind || sys().bus[i].device != 0) continue;
            sys().others.push_back({i, holder.access, holder.share});
            break;
        }
    }
}

// The message collection's handles each buffer the device's input reports.
void deliver_input(int device, const input_report& report) {
    for (auto& entry : sys().files) {
        open_file& file = entry.second;
        const bus_interface& iface = sys().bus[file.iface];
        if (iface.kind != role::message || iface.device != device) continue;
        if (file.input.size() >= file.input_buffers) file.input.pop_front();  // the oldest is lost
        file.input.push_back(report);
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

}  // namespace

bool fault_injected(const std::string& op) {
    const int call = ++sys().calls[op];
    for (const sim_fault& fault : sys().scenario.faults) {
        if (fault.op == op && (fault.call == 0 || fault.call == call)) return true;
    }
    return false;
}

void report_at_exit() {
    console_stop_listening();
    heap_check_all();
    const sim_in_use usage = sim_usage();
    fprintf(stderr, "sim: exit: %s\n", usage.none() ? "nothing left open" : ("left open: " + sim_describe(usage)).c_str());
}

void arrive_when_due() {
    const int due = sys().scenario.arrive_after;
    if (due == 0 || clock_now_us() < static_cast<int64_t>(due) * 1000) return;
    for (bus_interface& iface : sys().bus) {
        if (iface.arrived) continue;
        iface.arrived = true;
        trace("the quorvex device arrives: " + iface.path);
    }
}

DWORD stall_if_due(const char* op, const char* collection) {
    if (sys().deaf) {
        trace(std::string(op) + " " + collection + " stalls: the device is deaf since a fragile frame");
        timing_stall(true, sys().interrupt);
    }
    const int call = sys().calls[op];
    for (const sim_stall& stall : sys().scenario.stalls) {
        if (stall.op != op || stall.call != call) continue;
        trace(std::string(op) + " " + collection + " stalls: the driver does not complete it" +
              (stall.deaf ? ", nor its cancellation" : " until it is cancelled"));
        const DWORD error = timing_stall(stall.deaf, sys().interrupt);
        trace(std::string(op) + " " + collection + " cancelled");
        return error;
    }
    return ERROR_SUCCESS;
}

system_state& sys() {
    static system_state state;
    return state;
}

void set_last_error(DWORD error) { t_last_error = error; }

DWORD GetLastError() { return t_last_error; }

void trace(const std::string& line) {
    if (sys().trace) fprintf(stderr, "sim: %s\n", line.c_str());
}

bool maybe_inject(const std::string& op) {
    if (!fault_injected(op)) return false;
    set_last_error(injected_error(op));
    trace("fail " + op + " call " + std::to_string(sys().calls[op]) + ": error " + std::to_string(GetLastError()));
    return true;
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
        case role::control: return "control";
        case role::message: return "message";
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

BOOL send_output(const char* op, HANDLE handle, const void* buffer, DWORD length) {
    console_transfer_begins();
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    const char* collection = collection_name(iface);
    if (maybe_inject(op)) return refuse(op, collection, GetLastError());
    if (!iface.present) return refuse(op, collection, ERROR_DEVICE_NOT_CONNECTED);
    if (buffer == nullptr) return refuse(op, collection, ERROR_INVALID_USER_BUFFER);
    if ((file->access & GENERIC_WRITE) == 0) return refuse(op, collection, ERROR_ACCESS_DENIED);
    if (iface.kind != role::control) return refuse(op, collection, ERROR_INVALID_FUNCTION);
    // HID output reports are taken whole or not at all.
    if (length != DEVICE_OUTPUT_LENGTH) return refuse(op, collection, ERROR_INVALID_USER_BUFFER);
    if (const DWORD stalled = stall_if_due(op, collection)) return refuse(op, collection, stalled);
    timing_transfer();

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

    input_report reply = {};
    if (!device_answer(frame, reply.data()) || !sys().scenario.answer || !iface.present) return succeed_with(TRUE);
    if (sys().scenario.custom_reply) {
        reply.fill(0);
        reply[0] = DEVICE_MESSAGE_REPORT_ID;
        std::copy(sys().scenario.reply.begin(), sys().scenario.reply.end(), reply.begin() + 1);
    }
    deliver_input(iface.device, reply);
    return succeed_with(TRUE);
}

// ---- controls -------------------------------------------------------------

bool sim_configure(const std::string& text, std::string* error) {
    sim_scenario scenario;
    if (!parse_scenario(text, &scenario, error)) return false;
    system_state& s = sys();
    heap_reset();
    timing_reset(scenario.latency_us);
    clock_reset(scenario.virtual_clock);
    s.files.clear();
    files_reset();
    console_reset();
    s.sets.clear();
    s.preparsed.clear();
    s.calls.clear();
    s.events.clear();
    s.sleeps = 0;
    s.frames = 0;
    s.deaf = false;
    s.scenario = scenario;
    lay_out_bus(scenario);
    hold_collections(scenario);
    return true;
}

void sim_set_trace(bool on) { sys().trace = on; }

sim_in_use sim_usage() {
    const system_state& s = sys();
    return {static_cast<int>(s.files.size()) + timing_open_objects() + files_open_count(), static_cast<int>(s.sets.size()),
            static_cast<int>(s.preparsed.size()), heap_blocks()};
}

std::string sim_describe(const sim_in_use& u) {
    return std::to_string(u.handles) + " handle(s), " + std::to_string(u.sets) + " device-information set(s), " +
           std::to_string(u.preparsed) + " preparsed data, " + std::to_string(u.heap_blocks) + " heap block(s)";
}

const std::vector<sim_event>& sim_events() { return sys().events; }

int sim_calls(const std::string& op) {
    auto it = sys().calls.find(op);
    return it == sys().calls.end() ? 0 : it->second;
}

const std::vector<std::string>& sim_failable_operations() {
    static const std::vector<std::string> kOps = {
        "malloc",
        "HidD_GetHidGuid",
        "SetupDiGetClassDevsA",
        "SetupDiEnumDeviceInterfaces",
        "SetupDiGetDeviceInterfaceDetailA",
        "SetupDiDestroyDeviceInfoList",
        "CreateFileA",
        "HidD_GetPreparsedData",
        "HidD_GetAttributes",
        "HidP_GetCaps",
        "HidD_FreePreparsedData",
        "CloseHandle",
        "HidD_SetNumInputBuffers",
        "WriteFile",
        "HidD_SetOutputReport",
        "ReadFile",
        "CreateEventA",
        "OpenThread",
        "CreateThread",
        "HidD_FlushQueue",
        "SetConsoleCtrlHandler",
        "file:CreateFileA",
        "file:ReadFile",
        "file:WriteFile",
        "file:FlushFileBuffers",
        "file:DeleteFileA",
        "file:CloseHandle",
    };
    return kOps;
}

void sim_on_interrupt(void (*handler)()) { sys().interrupt = handler; }

void sim_set_arguments(int argc, const char* const* argv) {
    // Quoted as the C runtime will split it again: blanks and quotes inside a
    // quoted argument, and the backslashes before a quote, escaped.
    std::string line;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i > 0) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    sys().command_line = line;
}

char* sim_command_line() { return &sys().command_line[0]; }

// ---- the platform layer's own calls -----------------------------------------

void host_start(int argc, char** argv) {
    sim_set_arguments(argc, argv);
    const char* text = std::getenv("QUORVEX_SIM");
    std::string error;
    if (!sim_configure(text == nullptr ? "" : text, &error)) {
        fprintf(stderr, "sim: %s\n", error.c_str());
        std::exit(64);
    }
    sim_set_trace(true);
    // No test reads the standalone program's record: a run of any length
    // keeps its memory flat.
    sys().recording = false;
    std::atexit(report_at_exit);
}

void host_end_interrupted() {
    // As the default console handler ends it, after the simulated system has
    // said what the run left open.
    report_at_exit();
    std::fflush(stdout);
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    std::_Exit(130);
}
