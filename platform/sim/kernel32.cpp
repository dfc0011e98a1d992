// Stand-ins for kernel32: opening, reading, writing and closing the HID
// collections' device paths, and the clock. GetLastError lives with the bus.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "platform/sim/bus.h"
#include "platform/sim/decode.h"

namespace {

// Whether an open with this share mode lets another open have this access.
bool shares(DWORD share_mode, DWORD access) {
    if ((access & GENERIC_READ) && !(share_mode & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(share_mode & FILE_SHARE_WRITE)) return false;
    return true;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                   HANDLE) {
    const std::string path = name == nullptr ? "" : name;
    if (maybe_inject("CreateFileA")) {
        record("CreateFileA", path, nullptr, 0, GetLastError());
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
    sys().files.emplace(handle, open_file{index, access, share, kDefaultInputBuffers, {}});
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
    if (maybe_inject("ReadFile")) return refuse("ReadFile", collection, GetLastError());
    if ((file->access & GENERIC_READ) == 0) return refuse("ReadFile", collection, ERROR_ACCESS_DENIED);
    if (iface.kind != role::message) return refuse("ReadFile", collection, ERROR_INVALID_FUNCTION);
    if (buffer == nullptr || length < DEVICE_INPUT_LENGTH) return refuse("ReadFile", collection, ERROR_INVALID_USER_BUFFER);

    if (file->input.empty()) {
        // A synchronous read waits for the device; this one never answers.
        trace("ReadFile message waits: the device sends no input report");
        // In-process the wait ends as a tester at the console would end it.
        if (sys().interrupt != nullptr) sys().interrupt();
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    const input_report report = file->input.front();
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
