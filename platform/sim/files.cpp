#include "platform/sim/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>

#include "platform/sim/bus.h"

namespace {

// Handles of this room, apart from the bus's objects.
std::map<uintptr_t, int> g_files;  // -> host file descriptor
uintptr_t g_next = 0x5000000;
const uintptr_t kStandardInput = 0x4FFFFF0;

// What Windows says where the host's call said errno.
DWORD windows_error(int error, const char* path) {
    switch (error) {
        case ENOENT: {
            // A missing folder on the way is a path not found.
            std::string folder = path;
            const size_t slash = folder.rfind('/');
            struct stat seen;
            if (slash != std::string::npos && slash > 0 && stat(folder.substr(0, slash).c_str(), &seen) != 0)
                return ERROR_PATH_NOT_FOUND;
            return ERROR_FILE_NOT_FOUND;
        }
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EEXIST: return ERROR_FILE_EXISTS;
        case EACCES:
        case EISDIR:
        case EPERM: return ERROR_ACCESS_DENIED;
        case ENOSPC: return ERROR_DISK_FULL;
        default: return ERROR_GEN_FAILURE;
    }
}

int descriptor(HANDLE handle) {
    const auto key = reinterpret_cast<uintptr_t>(handle);
    if (key == kStandardInput) return 0;
    auto it = g_files.find(key);
    return it == g_files.end() ? -1 : it->second;
}

}  // namespace

bool files_host_path(const char* path) { return path != nullptr && path[0] != '\0' && path[0] != '\\'; }

HANDLE files_open(const char* path, DWORD access, DWORD disposition) {
    if (maybe_inject("file:CreateFileA")) return INVALID_HANDLE_VALUE;
    int flags = (access & GENERIC_WRITE) != 0 ? ((access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY) : O_RDONLY;
    struct stat before;
    const bool existed = stat(path, &before) == 0;
    if (disposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
    else if (disposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
    else if (disposition != OPEN_EXISTING) return fail_with(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    // Windows opens no folder as a file, nor truncates one.
    if (existed && S_ISDIR(before.st_mode) && disposition == CREATE_ALWAYS)
        return fail_with(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    const int fd = open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0) return fail_with(windows_error(errno, path), INVALID_HANDLE_VALUE);
    // Windows opens no folder as a file.
    struct stat seen;
    if (fstat(fd, &seen) == 0 && S_ISDIR(seen.st_mode)) {
        close(fd);
        return fail_with(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    g_next += 4;
    g_files[g_next] = fd;
    // A file CREATE_ALWAYS replaced: success, with this last error.
    if (existed && disposition == CREATE_ALWAYS) return fail_with(ERROR_ALREADY_EXISTS, reinterpret_cast<HANDLE>(g_next));
    return succeed_with(reinterpret_cast<HANDLE>(g_next));
}

bool files_owns(HANDLE handle) { return descriptor(handle) >= 0; }

BOOL files_read(HANDLE handle, void* buffer, DWORD length, DWORD* read) {
    if (maybe_inject("file:ReadFile")) return FALSE;
    const ssize_t got = ::read(descriptor(handle), buffer, length);
    if (got < 0) return fail_with(ERROR_READ_FAULT, FALSE);
    *read = static_cast<DWORD>(got);
    return succeed_with(TRUE);
}

BOOL files_write(HANDLE handle, const void* buffer, DWORD length, DWORD* written) {
    if (maybe_inject("file:WriteFile")) return FALSE;
    const ssize_t put = ::write(descriptor(handle), buffer, length);
    if (put < 0) return fail_with(windows_error(errno, ""), FALSE);
    *written = static_cast<DWORD>(put);
    return succeed_with(TRUE);
}

BOOL files_flush(HANDLE handle) {
    if (maybe_inject("file:FlushFileBuffers")) return FALSE;
    if (fsync(descriptor(handle)) != 0) return fail_with(ERROR_WRITE_FAULT, FALSE);
    return succeed_with(TRUE);
}

DWORD files_rewind(HANDLE handle) {
    if (lseek(descriptor(handle), 0, SEEK_SET) != 0) return fail_with(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    return succeed_with(static_cast<DWORD>(0));
}

BOOL files_truncate(HANDLE handle) {
    const int fd = descriptor(handle);
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0 || ftruncate(fd, at) != 0) return fail_with(ERROR_ACCESS_DENIED, FALSE);
    return succeed_with(TRUE);
}

BOOL files_close(HANDLE handle) {
    const bool fails = maybe_inject("file:CloseHandle");
    auto it = g_files.find(reinterpret_cast<uintptr_t>(handle));
    if (it == g_files.end()) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    // Even a close that reports failure leaves the handle closed.
    close(it->second);
    g_files.erase(it);
    return fails ? FALSE : succeed_with(TRUE);
}

BOOL files_delete(const char* path) {
    if (maybe_inject("file:DeleteFileA")) return FALSE;
    if (unlink(path) != 0) return fail_with(windows_error(errno, path), FALSE);
    return succeed_with(TRUE);
}

BOOL files_move(const char* from, const char* to, DWORD flags) {
    if (maybe_inject("file:MoveFileExA")) return FALSE;
    struct stat seen;
    if (stat(from, &seen) != 0) return fail_with(windows_error(errno, from), FALSE);
    if (stat(to, &seen) == 0) {
        if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return fail_with(ERROR_ALREADY_EXISTS, FALSE);
        // Not even replacing may put a file over a folder.
        if (S_ISDIR(seen.st_mode)) return fail_with(ERROR_ACCESS_DENIED, FALSE);
    }
    if (rename(from, to) != 0) return fail_with(windows_error(errno, to), FALSE);
    // Write-through: the move is on the disk when the call returns.
    if ((flags & MOVEFILE_WRITE_THROUGH) != 0) {
        std::string folder = to;
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
    return succeed_with(TRUE);
}

HANDLE files_standard_input() { return succeed_with(reinterpret_cast<HANDLE>(kStandardInput)); }

int files_open_count() { return static_cast<int>(g_files.size()); }

void files_reset() {
    for (const auto& entry : g_files) close(entry.second);
    g_files.clear();
}
