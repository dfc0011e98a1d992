// The simulated system: Windows' device setup, HID class and kernel services
// over a simulated HID bus that carries the emulated quorvex device. The client
// is single-threaded and so is the bus; only the last error is per thread.

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/decode.h"
#include "platform/sim/scenario.h"
#include "platform/sim/sim.h"

namespace {

constexpr GUID kHidGuid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr size_t kControlOutputLength = 65;
constexpr size_t kMessageInputLength = 33;
constexpr ULONG kDefaultInputBuffers = 32;  // what Windows gives a new HID handle

enum class role { locked, other, control, message };

struct bus_interface {
    std::string path;
    role kind;
    uint16_t vendor;
    uint16_t product;
    uint16_t usage_page;
    uint16_t usage;
    int device;            // which quorvex device a collection belongs to
    bool caps_fail;
    bool short_size_query;
};

struct open_file {
    size_t iface;
    DWORD access;
    DWORD share;
    ULONG input_buffers = kDefaultInputBuffers;
    std::deque<std::array<uint8_t, kMessageInputLength>> input;
};

struct device_set {
    std::vector<size_t> members;
};

struct system_state {
    sim_scenario scenario;
    std::vector<bus_interface> bus;
    std::map<uintptr_t, open_file> files;
    std::map<uintptr_t, device_set> sets;
    std::map<uintptr_t, size_t> preparsed;  // -> interface
    std::map<const void*, size_t> heap;     // -> block size
    std::map<std::string, int> calls;
    std::vector<sim_event> events;
    uintptr_t next_object = 0x100;
    int sleeps = 0;
    bool trace = false;
    void (*interrupt)() = nullptr;

    // Process exit gives back what a stopped run still held, as Windows does.
    ~system_state() {
        for (auto& block : heap) std::free(const_cast<void*>(block.first));
    }
};

system_state& sys() {
    static system_state state;
    return state;
}

thread_local DWORD t_last_error = ERROR_SUCCESS;

template <typename T>
T fail_with(DWORD error, T result) {
    t_last_error = error;
    return result;
}

void trace(const std::string& line) {
    if (sys().trace) fprintf(stderr, "sim: %s\n", line.c_str());
}

// Counts the call and says whether the scenario makes this one fail.
bool injected(const std::string& op) {
    const int call = ++sys().calls[op];
    for (const sim_fault& fault : sys().scenario.faults) {
        if (fault.op == op && (fault.call == 0 || fault.call == call)) {
            return true;
        }
    }
    return false;
}

DWORD injected_error(const std::string& op) {
    if (op == "SetupDiGetClassDevsA") return ERROR_INVALID_CLASS;
    if (op == "SetupDiEnumDeviceInterfaces") return ERROR_NO_MORE_ITEMS;
    if (op == "SetupDiGetDeviceInterfaceDetailA") return 0xE000020Bu;  // ERROR_NO_SUCH_DEVINST
    if (op == "CreateFileA") return ERROR_FILE_NOT_FOUND;
    if (op == "HidD_SetNumInputBuffers") return ERROR_INVALID_PARAMETER;
    if (op == "ReadFile") return ERROR_DEVICE_NOT_CONNECTED;
    if (op == "WriteFile" || op == "HidD_SetOutputReport") return ERROR_GEN_FAILURE;
    if (op == "CloseHandle" || op == "SetupDiDestroyDeviceInfoList") return ERROR_INVALID_HANDLE;
    return ERROR_INVALID_FUNCTION;
}

bool maybe_inject(const std::string& op) {
    if (!injected(op)) return false;
    t_last_error = injected_error(op);
    trace("fail " + op + " call " + std::to_string(sys().calls[op]) + ": error " + std::to_string(t_last_error));
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

std::string hid_path(const char* hardware, const char* collection, int instance) {
    char path[160];
    snprintf(path, sizeof(path), "\\\\?\\hid#%s%s#7&%08x&0&%04d#{4d1e55b2-f16f-11cf-88cb-001111000030}", hardware,
             collection, 0x1a2b3c00u + static_cast<unsigned>(instance), instance);
    return path;
}

void lay_out_bus(const sim_scenario& s) {
    std::vector<bus_interface>& bus = sys().bus;
    bus.clear();
    int n = 0;
    for (int i = 0; i < s.locked; ++i)
        bus.push_back({hid_path("vid_045e&pid_00db&mi_00", "&col01", n++), role::locked, 0x045E, 0x00DB, 0x0001, 0x0006,
                       -1, false, false});
    for (int i = 0; i < s.others; ++i)
        bus.push_back({hid_path("vid_046d&pid_c52b&mi_02", "&col02", n++), role::other, 0x046D, 0xC52B, 0xFF00, 0x0001,
                       -1, false, false});
    for (int i = 0; i < s.emptypath; ++i)
        bus.push_back({"", role::other, 0x046D, 0xC52B, 0x0001, 0x0002, -1, false, false});
    for (int i = 0; i < s.longpath; ++i)
        bus.push_back({hid_path("vid_046d&pid_c077", "", n++) + std::string(4000, 'x'), role::other, 0x046D, 0xC077,
                       0x0001, 0x0002, -1, false, false});
    for (int i = 0; i < s.shortsize; ++i)
        bus.push_back({hid_path("vid_046d&pid_c31c", "", n++), role::other, 0x046D, 0xC31C, 0x0001, 0x0006, -1, false,
                       true});
    for (int i = 0; i < s.foreign; ++i)
        bus.push_back({hid_path("vid_001f&pid_1234", "&col01", n++), role::other, 0x001F, 0x1234, 0xFF00, 0x0001, -1,
                       false, false});
    for (int i = 0; i < s.badcaps; ++i)
        bus.push_back({hid_path("vid_001f&pid_ba1c", "&col01", n++), role::other, 0x001F, 0xBA1C, 0xFF00, 0x0001, -1,
                       true, false});
    if (s.device == "none") return;
    for (int d = 0; d < s.quorvex; ++d) {
        bus.push_back({hid_path("vid_001f&pid_ba1c", "&col01", n++), role::control, 0x001F, 0xBA1C, 0xFF00, 0x0001, d,
                       false, false});
        if (s.device == "both")
            bus.push_back({hid_path("vid_001f&pid_ba1c", "&col02", n++), role::message, 0x001F, 0xBA1C, 0xFF00, 0x0002,
                           d, false, false});
    }
}

void record(const std::string& op, const std::string& target, const uint8_t* bytes, size_t length, DWORD error) {
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

// The device's side of an output report on its control collection.
void deliver_input(int device, const std::array<uint8_t, kMessageInputLength>& report) {
    for (auto& entry : sys().files) {
        open_file& file = entry.second;
        const bus_interface& iface = sys().bus[file.iface];
        if (iface.kind != role::message || iface.device != device) continue;
        if (file.input.size() >= file.input_buffers) file.input.pop_front();  // the oldest is lost
        file.input.push_back(report);
    }
}

BOOL send_output(const char* op, HANDLE handle, const void* buffer, DWORD length) {
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    const char* collection = collection_name(iface);
    if (maybe_inject(op)) return refuse(op, collection, t_last_error);
    if (buffer == nullptr) return refuse(op, collection, ERROR_INVALID_USER_BUFFER);
    if ((file->access & GENERIC_WRITE) == 0) return refuse(op, collection, ERROR_ACCESS_DENIED);
    if (iface.kind != role::control) return refuse(op, collection, ERROR_INVALID_FUNCTION);
    // HID output reports are taken whole or not at all.
    if (length != kControlOutputLength) return refuse(op, collection, ERROR_INVALID_USER_BUFFER);

    const auto* frame = static_cast<const uint8_t*>(buffer);
    const int inner = device_inner_length(frame[2]);
    if (frame[0] != 0x40 || inner == 0 || frame[1] != inner) return refuse(op, collection, ERROR_INVALID_PARAMETER);

    record(op, collection, frame, length, 0);
    const std::string decoded = decode_inner_report(frame + 2, frame[1]);
    trace(std::string(op) + " " + collection + " " + std::to_string(length) + " bytes: " + hex_bytes(frame, length) +
          (decoded.empty() ? "" : " | " + decoded));

    if (frame[2] == 0x10) {
        std::array<uint8_t, kMessageInputLength> reply = {};
        reply[0] = 0x10;
        if (sys().scenario.custom_reply)
            std::copy(sys().scenario.reply.begin(), sys().scenario.reply.end(), reply.begin() + 1);
        else
            std::copy(frame + 3, frame + 35, reply.begin() + 1);
        if (sys().scenario.answer) deliver_input(iface.device, reply);
    }
    return TRUE;
}

bool shares(DWORD share_mode, DWORD access) {
    if ((access & GENERIC_READ) && !(share_mode & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(share_mode & FILE_SHARE_WRITE)) return false;
    return true;
}

void report_at_exit() {
    const sim_in_use usage = sim_usage();
    fprintf(stderr, "sim: exit: %s\n", usage.none() ? "nothing left open" : ("left open: " + sim_describe(usage)).c_str());
}

}  // namespace

// ---- controls -------------------------------------------------------------

bool sim_configure(const std::string& text, std::string* error) {
    sim_scenario scenario;
    if (!parse_scenario(text, &scenario, error)) return false;
    system_state& s = sys();
    for (auto& block : s.heap) std::free(const_cast<void*>(block.first));
    s.heap.clear();
    s.files.clear();
    s.sets.clear();
    s.preparsed.clear();
    s.calls.clear();
    s.events.clear();
    s.sleeps = 0;
    s.scenario = scenario;
    lay_out_bus(scenario);
    return true;
}

void sim_set_trace(bool on) { sys().trace = on; }

sim_in_use sim_usage() {
    const system_state& s = sys();
    return {static_cast<int>(s.files.size()), static_cast<int>(s.sets.size()), static_cast<int>(s.preparsed.size()),
            static_cast<int>(s.heap.size())};
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
    };
    return kOps;
}

void sim_on_interrupt(void (*handler)()) { sys().interrupt = handler; }

void host_start() {
    const char* text = std::getenv("QUORVEX_SIM");
    std::string error;
    if (!sim_configure(text == nullptr ? "" : text, &error)) {
        fprintf(stderr, "sim: %s\n", error.c_str());
        std::exit(64);
    }
    sim_set_trace(true);
    std::atexit(report_at_exit);
}

// ---- runtime heap ---------------------------------------------------------

void* host_malloc(std::size_t size) {
    if (injected("malloc")) {
        trace("fail malloc call " + std::to_string(sim_calls("malloc")));
        return nullptr;
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) sys().heap[block] = size;
    return block;
}

void host_free(void* block) {
    if (block == nullptr) return;
    auto it = sys().heap.find(block);
    if (it == sys().heap.end()) {
        fprintf(stderr, "sim: free of a block the heap never gave out\n");
        std::abort();
    }
    sys().heap.erase(it);
    std::free(block);
}

// ---- kernel32 -------------------------------------------------------------

DWORD GetLastError() { return t_last_error; }

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                   HANDLE) {
    const std::string path = name == nullptr ? "" : name;
    if (maybe_inject("CreateFileA")) {
        record("CreateFileA", path, nullptr, 0, t_last_error);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    size_t index = 0;
    if (path.empty()) {
        error = ERROR_PATH_NOT_FOUND;
    } else if (disposition != OPEN_EXISTING) {
        error = ERROR_ACCESS_DENIED;  // a device cannot be created or truncated
    } else {
        auto it = std::find_if(sys().bus.begin(), sys().bus.end(),
                               [&](const bus_interface& iface) { return iface.path == path; });
        if (it == sys().bus.end()) error = ERROR_FILE_NOT_FOUND;
        else if (it->kind == role::locked) error = ERROR_ACCESS_DENIED;  // the system holds its keyboards and mice
        else index = static_cast<size_t>(it - sys().bus.begin());
    }
    if (error == ERROR_SUCCESS) {
        for (const auto& entry : sys().files) {
            const open_file& other = entry.second;
            if (other.iface != index) continue;
            // Each open must allow what the other asks for, both ways round.
            if (!shares(other.share, access) || !shares(share, other.access)) error = ERROR_SHARING_VIOLATION;
        }
    }
    record("CreateFileA", path, nullptr, 0, error);
    if (error != ERROR_SUCCESS) return fail_with(error, INVALID_HANDLE_VALUE);

    const uintptr_t handle = new_object();
    open_file file;
    file.iface = index;
    file.access = access;
    file.share = share;
    sys().files.emplace(handle, std::move(file));
    return reinterpret_cast<HANDLE>(handle);
}

BOOL CloseHandle(HANDLE handle) {
    const bool fails = maybe_inject("CloseHandle");
    // Even a close that reports failure leaves the handle closed.
    if (sys().files.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    return fails ? FALSE : TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written == nullptr && overlapped == nullptr) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    if (written != nullptr) *written = 0;
    if (!send_output("WriteFile", handle, buffer, length)) return FALSE;
    if (written != nullptr) *written = length;
    return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read == nullptr && overlapped == nullptr) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    if (read != nullptr) *read = 0;
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    const char* collection = collection_name(iface);
    if (maybe_inject("ReadFile")) return refuse("ReadFile", collection, t_last_error);
    if ((file->access & GENERIC_READ) == 0) return refuse("ReadFile", collection, ERROR_ACCESS_DENIED);
    if (iface.kind != role::message) return refuse("ReadFile", collection, ERROR_INVALID_FUNCTION);
    if (buffer == nullptr || length < kMessageInputLength) return refuse("ReadFile", collection, ERROR_INVALID_USER_BUFFER);

    if (file->input.empty()) {
        // A synchronous read waits for the device; this one never answers.
        trace("ReadFile message waits: the device sends no input report");
        // In-process the wait ends as a tester at the console would end it.
        if (sys().interrupt != nullptr) sys().interrupt();
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    const auto report = file->input.front();
    file->input.pop_front();
    const DWORD delivered = static_cast<DWORD>(sys().scenario.reply_length);
    std::memcpy(buffer, report.data(), delivered);
    if (read != nullptr) *read = delivered;

    record("ReadFile", collection, report.data(), delivered, 0);
    const std::string decoded = decode_inner_report(report.data(), delivered);
    trace("ReadFile " + std::string(collection) + " " + std::to_string(delivered) +
          " bytes: " + hex_bytes(report.data(), delivered) + (decoded.empty() ? "" : " | " + decoded));
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    system_state& s = sys();
    ++s.calls["Sleep"];
    sim_event event;
    event.op = "Sleep";
    event.sleep_ms = milliseconds;
    s.events.push_back(event);
    trace("Sleep " + std::to_string(milliseconds));
    if (!s.scenario.virtual_clock) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));

    if (s.scenario.interrupt_after > 0 && ++s.sleeps == s.scenario.interrupt_after) {
        trace("interrupted after Sleep " + std::to_string(s.sleeps) + ", as by Ctrl+C");
        if (s.interrupt != nullptr) {
            s.interrupt();
            return;
        }
        // The default console handler ends the process at once: no atexit
        // handlers, no flushing of the C runtime's buffers.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

// ---- setupapi -------------------------------------------------------------

HDEVINFO SetupDiGetClassDevsA(const GUID* guid, PCSTR, HWND, DWORD flags) {
    if (maybe_inject("SetupDiGetClassDevsA")) return INVALID_HANDLE_VALUE;
    if (guid == nullptr) return fail_with(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    record("SetupDiGetClassDevsA", "", nullptr, 0, 0);
    device_set set;
    const bool hid = std::memcmp(guid, &kHidGuid, sizeof(GUID)) == 0;
    if (hid && (flags & DIGCF_DEVICEINTERFACE)) {
        for (size_t i = 0; i < sys().bus.size(); ++i) set.members.push_back(i);
    }
    const uintptr_t handle = new_object();
    sys().sets.emplace(handle, set);
    return reinterpret_cast<HDEVINFO>(handle);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* guid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data) {
    if (maybe_inject("SetupDiEnumDeviceInterfaces")) return FALSE;
    device_set* set = find_set(handle);
    if (set == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    if (data == nullptr || guid == nullptr) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    if (index >= set->members.size()) return fail_with(ERROR_NO_MORE_ITEMS, FALSE);
    data->InterfaceClassGuid = *guid;
    data->Flags = 1;  // SPINT_ACTIVE
    data->Reserved = set->members[index] + 1;
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                      PSP_DEVINFO_DATA) {
    if (maybe_inject("SetupDiGetDeviceInterfaceDetailA")) return FALSE;
    device_set* set = find_set(handle);
    if (set == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > sys().bus.size())
        return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    const bus_interface& iface = sys().bus[data->Reserved - 1];

    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + iface.path.size() + 1);
    if (detail == nullptr) {
        if (size != 0) return fail_with(ERROR_INVALID_USER_BUFFER, FALSE);
        if (required != nullptr) *required = iface.short_size_query ? 2 : needed;
        return fail_with(iface.short_size_query ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                                : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
                         FALSE);
    }
    // A caller that claims more room than it allocated would have the path
    // written past its block.
    auto block = sys().heap.find(detail);
    if (block != sys().heap.end() && size > block->second) {
        fprintf(stderr, "sim: SetupDiGetDeviceInterfaceDetailA told %u bytes for a block of %zu\n",
                static_cast<unsigned>(size), block->second);
        std::abort();
    }
    if (size < sizeof(DWORD) || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return fail_with(ERROR_INVALID_USER_BUFFER, FALSE);
    if (size < needed) {
        if (required != nullptr) *required = needed;
        return fail_with(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::memcpy(detail->DevicePath, iface.path.c_str(), iface.path.size() + 1);
    if (required != nullptr) *required = needed;
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    const bool fails = maybe_inject("SetupDiDestroyDeviceInfoList");
    if (sys().sets.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    return fails ? FALSE : TRUE;
}

// ---- hid ------------------------------------------------------------------

void HidD_GetHidGuid(LPGUID guid) {
    // A failing lookup leaves an empty class GUID, under which nothing is present.
    *guid = maybe_inject("HidD_GetHidGuid") ? GUID{} : kHidGuid;
}

BOOLEAN HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsed) {
    if (maybe_inject("HidD_GetPreparsedData")) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr || preparsed == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    const uintptr_t object = new_object();
    sys().preparsed[object] = file->iface;
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(object);
    return TRUE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    const bool fails = maybe_inject("HidD_FreePreparsedData");
    if (sys().preparsed.erase(reinterpret_cast<uintptr_t>(preparsed)) == 0) return fail_with<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
    return fails ? FALSE : TRUE;
}

BOOLEAN HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    if (maybe_inject("HidD_GetAttributes")) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr || attributes == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    const bus_interface& iface = sys().bus[file->iface];
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = iface.vendor;
    attributes->ProductID = iface.product;
    attributes->VersionNumber = 0x0100;
    return TRUE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    if (maybe_inject("HidP_GetCaps")) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    auto it = sys().preparsed.find(reinterpret_cast<uintptr_t>(preparsed));
    if (it == sys().preparsed.end() || caps == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    const bus_interface& iface = sys().bus[it->second];
    if (iface.caps_fail) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    std::memset(caps, 0, sizeof(*caps));
    caps->UsagePage = iface.usage_page;
    caps->Usage = iface.usage;
    caps->InputReportByteLength = iface.kind == role::message ? kMessageInputLength : 0;
    caps->OutputReportByteLength = iface.kind == role::control ? kControlOutputLength : 0;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN HidD_SetNumInputBuffers(HANDLE handle, ULONG count) {
    if (maybe_inject("HidD_SetNumInputBuffers")) return FALSE;
    open_file* file = find_file(handle);
    if (file == nullptr) return fail_with<BOOLEAN>(ERROR_INVALID_HANDLE, FALSE);
    if (count < 2 || count > 512) return fail_with<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);  // the HID class driver's bounds
    file->input_buffers = count;
    while (file->input.size() > count) file->input.pop_front();
    return TRUE;
}

BOOLEAN HidD_SetOutputReport(HANDLE handle, PVOID buffer, ULONG length) {
    return send_output("HidD_SetOutputReport", handle, buffer, length) ? TRUE : FALSE;
}
