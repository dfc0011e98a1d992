// Stand-ins for kernel32: opening, reading, writing and closing the HID
// collections' device paths; the clock; the threads and events a client may
// bound its transfers with. GetLastError lives with the bus.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include <unistd.h>

#include "platform/sim/bus.h"
#include "platform/sim/clock.h"
#include "platform/sim/console.h"
#include "platform/sim/decode.h"
#include "platform/sim/files.h"
#include "platform/sim/threads.h"

namespace {

constexpr int64_t kPerformanceFrequency = 10000000;  // what current Windows reports

bool transfers(DWORD access) { return (access & (GENERIC_READ | GENERIC_WRITE)) != 0; }

// Whether an open with this share mode lets another open have this access.
bool shares(DWORD share_mode, DWORD access) {
    if ((access & GENERIC_READ) && !(share_mode & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(share_mode & FILE_SHARE_WRITE)) return false;
    return true;
}

// Windows does not allow a synchronous transfer with neither a byte count nor
// an OVERLAPPED record; a client that tries it must fail a test, not get an error.
void require_count_or_overlapped(const char* op, const void* count, const void* overlapped) {
    if (count != nullptr || overlapped != nullptr) return;
    fprintf(stderr, "sim: %s without a byte count or an OVERLAPPED record\n", op);
    std::abort();
}

// A handle opened for overlapped I/O takes no synchronous transfer: without
// an OVERLAPPED record there is no file position, so Windows refuses it.
bool synchronous_on_overlapped(HANDLE handle, LPOVERLAPPED overlapped) {
    const open_file* file = find_file(handle);
    return overlapped == nullptr && file != nullptr && (file->flags & FILE_FLAG_OVERLAPPED) != 0;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
    system_call call;
    if (files_host_path(name)) return files_open(name, access, disposition);
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
        // An unplugged device's interface has no device behind its path.
        if (it == sys().bus.end() || !it->present) error = ERROR_FILE_NOT_FOUND;
        // The system holds its keyboards and mice for itself, but grants an
        // open without access, through which their identity can be read.
        else if (it->held_by == holder::system_exclusive && transfers(access)) error = ERROR_ACCESS_DENIED;
        else index = static_cast<size_t>(it - sys().bus.begin());
    }
    // Each open must allow what every other open of the collection asks for,
    // both ways round, whether the other is the client's or another process's.
    // An open without read or write access takes no part in sharing.
    auto conflicts = [&](DWORD their_access, DWORD their_share) {
        if (!transfers(access) || !transfers(their_access)) return false;
        return !shares(their_share, access) || !shares(share, their_access);
    };
    if (error == ERROR_SUCCESS) {
        for (const auto& entry : sys().files)
            if (entry.second.iface == index && conflicts(entry.second.access, entry.second.share))
                error = ERROR_SHARING_VIOLATION;
        for (const other_open& other : sys().others)
            if (other.iface == index && conflicts(other.access, other.share)) error = ERROR_SHARING_VIOLATION;
    }
    record("CreateFileA", path, nullptr, 0, error);
    if (error != ERROR_SUCCESS) return fail_with(error, INVALID_HANDLE_VALUE);

    const uintptr_t handle = new_object();
    sys().files.emplace(handle, open_file{index, access, share, flags, kDefaultInputBuffers, {}});
    // Its buffer takes the collection's input reports from now on; when full,
    // the oldest is lost.
    if (sys().bus[index].input_length > 0) {
        subscribe_input(handle, index, [handle](const input_report& report) {
            open_file* file = find_file(reinterpret_cast<HANDLE>(handle));
            if (file == nullptr) return;
            if (file->input.size() >= file->input_buffers) file->input.pop_front();
            file->input.push_back(report);
        });
    }
    return succeed_with(reinterpret_cast<HANDLE>(handle));
}

BOOL CloseHandle(HANDLE handle) {
    system_call call;
    if (files_owns(handle)) return files_close(handle);
    const bool fails = maybe_inject("CloseHandle");
    // Even a close that reports failure leaves the handle closed.
    unsubscribe_input(reinterpret_cast<uintptr_t>(handle));
    if (sys().files.erase(reinterpret_cast<uintptr_t>(handle)) == 0 && !threads_close(handle))
        return fail_with(ERROR_INVALID_HANDLE, FALSE);
    return fails ? FALSE : succeed_with(TRUE);
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    require_count_or_overlapped("WriteFile", written, overlapped);
    if (written != nullptr) *written = 0;
    system_call call;
    if (files_owns(handle)) return files_write(handle, buffer, length, written);
    if (synchronous_on_overlapped(handle, overlapped)) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    if (!send_output("WriteFile", handle, buffer, length)) return FALSE;
    if (written != nullptr) *written = length;
    return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped) {
    require_count_or_overlapped("ReadFile", read, overlapped);
    if (read != nullptr) *read = 0;
    system_call call;
    if (files_owns(handle)) return files_read(handle, buffer, length, read);
    if (synchronous_on_overlapped(handle, overlapped)) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    return read_input(handle, buffer, length, read);
}

void Sleep(DWORD milliseconds) {
    system_call call;
    system_state& s = sys();
    count_call("Sleep");
    if (s.recording) {
        sim_event event;
        event.op = "Sleep";
        event.sleep_ms = milliseconds;
        s.events.push_back(event);
    }
    trace("Sleep " + std::to_string(milliseconds));
    set_last_error(kClobberedLastError);
    threads_sleep(milliseconds);

    if (s.scenario.interrupt_after > 0 && ++s.sleeps == s.scenario.interrupt_after) {
        trace("interrupted after Sleep " + std::to_string(s.sleeps) + ", as by Ctrl+C");
        // Without a handler that takes it, the process ends at once, as the
        // default console handler ends it: no atexit handlers, no flushing.
        console_raise(CTRL_C_EVENT);
    }
}

// ---- the clock, threads and events: safe from any thread ----------------------

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = kPerformanceFrequency;
    return succeed_with(TRUE);
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = clock_now_us() * (kPerformanceFrequency / 1000000);
    return succeed_with(TRUE);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial, LPCSTR) {
    system_call call;
    if (maybe_inject("CreateEventA")) return nullptr;
    return succeed_with(threads_create_event(manual_reset != FALSE, initial != FALSE));
}

BOOL SetEvent(HANDLE event) {
    system_call call;
    return threads_set_event(event);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    system_call call;
    return threads_wait(object, milliseconds);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, std::size_t, LPTHREAD_START_ROUTINE start, LPVOID argument, DWORD,
                    LPDWORD thread_id) {
    system_call call;
    if (maybe_inject("CreateThread")) return nullptr;
    if (thread_id != nullptr) *thread_id = 0;
    return succeed_with(threads_create_thread(start, argument, thread_id));
}

DWORD GetCurrentThreadId() { return threads_thread_id(); }

HANDLE OpenThread(DWORD access, BOOL, DWORD thread_id) {
    system_call call;
    if (maybe_inject("OpenThread")) return nullptr;
    // Only what the client asks for is checked: cancelling needs THREAD_TERMINATE.
    if ((access & THREAD_TERMINATE) == 0) return fail_with<HANDLE>(ERROR_ACCESS_DENIED, nullptr);
    return succeed_with(threads_open_thread(thread_id));
}

BOOL CancelSynchronousIo(HANDLE thread) {
    system_call call;
    const BOOL cancelled = threads_cancel_io(thread);
    if (cancelled) trace("CancelSynchronousIo: the stalled transfer is cancelled");
    return cancelled;
}

// ---- files and the process -------------------------------------------------------

HANDLE GetStdHandle(DWORD which) {
    system_call call;
    if (which != STD_INPUT_HANDLE) return fail_with(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    return files_standard_input();
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method) {
    system_call call;
    if (!files_owns(file)) return fail_with(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
    // The client only ever goes back to the start.
    if (distance != 0 || (distance_high != nullptr && *distance_high != 0) || method != FILE_BEGIN) {
        fprintf(stderr, "sim: SetFilePointer anywhere but the start is not simulated\n");
        std::abort();
    }
    return files_rewind(file);
}

BOOL SetEndOfFile(HANDLE file) {
    system_call call;
    if (!files_owns(file)) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    return files_truncate(file);
}

BOOL FlushFileBuffers(HANDLE file) {
    system_call call;
    if (!files_owns(file)) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    return files_flush(file);
}

BOOL DeleteFileA(LPCSTR name) {
    system_call call;
    if (!files_host_path(name)) return fail_with(ERROR_ACCESS_DENIED, FALSE);
    return files_delete(name);
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    system_call call;
    if (!files_host_path(from) || !files_host_path(to)) return fail_with(ERROR_ACCESS_DENIED, FALSE);
    return files_move(from, to, flags);
}

BOOL GetComputerNameA(LPSTR buffer, LPDWORD size) {
    system_call call;
    static const char kName[] = "QUORVEX-HOST";
    // Too small a buffer: the size it needs, terminator included.
    if (buffer == nullptr || *size < sizeof(kName)) {
        *size = sizeof(kName);
        return fail_with(ERROR_BUFFER_OVERFLOW, FALSE);
    }
    std::memcpy(buffer, kName, sizeof(kName));
    *size = sizeof(kName) - 1;
    return succeed_with(TRUE);
}

void GetSystemTime(LPSYSTEMTIME time) {
    system_call call;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc = {};
    gmtime_r(&seconds, &utc);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    time->wYear = static_cast<WORD>(utc.tm_year + 1900);
    time->wMonth = static_cast<WORD>(utc.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    time->wDay = static_cast<WORD>(utc.tm_mday);
    time->wHour = static_cast<WORD>(utc.tm_hour);
    time->wMinute = static_cast<WORD>(utc.tm_min);
    time->wSecond = static_cast<WORD>(utc.tm_sec);
    time->wMilliseconds = static_cast<WORD>(ms);
}

DWORD GetEnvironmentVariableA(LPCSTR name, char* buffer, DWORD size) {
    system_call call;
    const char* value = getenv(name);
    if (value == nullptr) return fail_with<DWORD>(ERROR_ENVVAR_NOT_FOUND, 0);
    const size_t length = strlen(value);
    // Too small a buffer: the size it needs, terminator included.
    if (length + 1 > size) return succeed_with(static_cast<DWORD>(length + 1));
    std::memcpy(buffer, value, length + 1);
    return succeed_with(static_cast<DWORD>(length));
}

DWORD GetFullPathNameA(LPCSTR name, DWORD length, char* buffer, char** file_part) {
    system_call call;
    std::string full = name;
    if (full.empty() || full[0] != '/') {
        char here[4096];
        if (getcwd(here, sizeof(here)) == nullptr) return fail_with<DWORD>(ERROR_PATH_NOT_FOUND, 0);
        full = std::string(here) + "/" + full;
    }
    // Too small a buffer: the size it needs, terminator included, as Windows gives it.
    if (full.size() + 1 > length) return succeed_with(static_cast<DWORD>(full.size() + 1));
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    if (file_part != nullptr) *file_part = buffer + full.rfind('/') + 1;
    return succeed_with(static_cast<DWORD>(full.size()));
}

char* GetCommandLineA() {
    system_call call;
    return sim_command_line();
}

// ---- the lock the client shares between two threads ---------------------------

void InitializeSRWLock(PSRWLOCK lock) { lock->Ptr = nullptr; }

void AcquireSRWLockExclusive(PSRWLOCK lock) {
    void* expected = nullptr;
    void* const taken = reinterpret_cast<void*>(1);
    while (!__atomic_compare_exchange_n(&lock->Ptr, &expected, taken, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
        expected = nullptr;
        std::this_thread::yield();
    }
}

void ReleaseSRWLockExclusive(PSRWLOCK lock) { __atomic_store_n(&lock->Ptr, nullptr, __ATOMIC_RELEASE); }

// ---- messages ----------------------------------------------------------------

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD id, DWORD language, LPSTR buffer, DWORD size, va_list*) {
    system_call call;
    // The system's own texts, in the neutral language, of the codes the client can meet.
    static const struct {
        DWORD code;
        const char* text;
    } kTexts[] = {
        {ERROR_INVALID_FUNCTION, "Incorrect function."},
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
        {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
        {ERROR_ACCESS_DENIED, "Access is denied."},
        {ERROR_INVALID_HANDLE, "The handle is invalid."},
        {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
        {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
        {ERROR_READ_FAULT, "The system cannot read from the specified device."},
        {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
        {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
        {ERROR_FILE_EXISTS, "The file exists."},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
        {ERROR_BROKEN_PIPE, "The pipe has been ended."},
        {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
        {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
        {ERROR_DISK_FULL, "There is not enough space on the disk."},
        {ERROR_OPERATION_ABORTED, "The I/O operation has been aborted because of either a thread exit or an application request."},
        {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected."},
        {ERROR_NOT_FOUND, "Element not found."},
        {ERROR_INVALID_USER_BUFFER, "The supplied user buffer is not valid for the requested operation."},
    };
    // Only what the client asks: the system's table, no inserts, the language Windows picks (0).
    const DWORD wanted = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (flags != wanted || language != 0 || buffer == nullptr) {
        fprintf(stderr, "sim: FormatMessageA is simulated for system messages in the language Windows picks only\n");
        std::abort();
    }
    for (const auto& entry : kTexts) {
        if (entry.code != id) continue;
        // Windows ends each text with a line end.
        const std::string text = std::string(entry.text) + "\r\n";
        if (text.size() + 1 > size) return fail_with<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return succeed_with(static_cast<DWORD>(text.size()));
    }
    return fail_with<DWORD>(317, 0);  // ERROR_MR_MID_NOT_FOUND
}
