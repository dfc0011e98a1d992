// Starts a Windows program with a command line given byte for byte, as no
// shell or loader would pass it on: the program's path from argv[1], the
// command line from QUORVEX_COMMAND_LINE. Its standard handles are this
// one's; its exit status is this one's, or 255 when it could not start.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* line = std::getenv("QUORVEX_COMMAND_LINE");
    if (argc != 2 || line == nullptr) {
        std::fprintf(stderr, "usage: QUORVEX_COMMAND_LINE=LINE quorvex_launch PROGRAM\n");
        return 255;
    }
    // CreateProcessA may write into the command line.
    static char copy[32768];
    std::strncpy(copy, line, sizeof(copy) - 1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(argv[1], copy, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "CreateProcessA failed: %lu\n", GetLastError());
        return 255;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 255;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
