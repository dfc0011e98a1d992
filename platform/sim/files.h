// Files in the simulated system: the stand-ins for kernel32's file calls
// open ordinary files by their host path (scripts the client reads, and what
// it writes), and standard input. Their calls are counted apart from the
// device's, as file:CreateFileA and so on, so that a scenario's fail= or
// stall= of a device call keeps its meaning; they fail on demand the same way.
#pragma once

#include "platform/sim/winapi.h"

// Whether a path names a host file rather than a device interface: device
// paths begin with two backslashes, and an empty path is the bus's to refuse.
bool files_host_path(const char* path);
HANDLE files_open(const char* path, DWORD access, DWORD disposition);
bool files_owns(HANDLE handle);
BOOL files_read(HANDLE handle, void* buffer, DWORD length, DWORD* read);
BOOL files_write(HANDLE handle, const void* buffer, DWORD length, DWORD* written);
BOOL files_flush(HANDLE handle);
// Only what a journal written over from its start needs: to the start, and the end cut there.
DWORD files_rewind(HANDLE handle);
BOOL files_truncate(HANDLE handle);
BOOL files_close(HANDLE handle);
BOOL files_delete(const char* path);
BOOL files_move(const char* from, const char* to, DWORD flags);
HANDLE files_standard_input();
// Host files the client holds open.
int files_open_count();
// Closes every host file a run left open (a new run).
void files_reset();
