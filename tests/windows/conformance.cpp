// Checks, on whichever system it is built for, the Windows behaviours the
// client relies on and the simulated system claims to share. Built for the
// host it runs on the stand-in; built for Windows it runs under Wine.

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/platform.h"

static int failures = 0;

static void expect(bool ok, const char* what, unsigned long error) {
    if (!ok) {
        printf("differs: %s (last error %lu)\n", what, error);
        ++failures;
    }
}

int main() {
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    expect(set != INVALID_HANDLE_VALUE, "the present HID interfaces can be listed", GetLastError());

    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data) + 1;
    BOOL ok = SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data);
    DWORD error = GetLastError();
    expect(!ok && error == ERROR_INVALID_PARAMETER, "a wrong interface-data cbSize: ERROR_INVALID_PARAMETER", error);

    data.cbSize = sizeof(data);
    ok = SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 100000, &data);
    error = GetLastError();
    expect(!ok && error == ERROR_NO_MORE_ITEMS, "past the last interface: ERROR_NO_MORE_ITEMS", error);
    expect(SetupDiDestroyDeviceInfoList(set) != FALSE, "the set is destroyed", GetLastError());

    HANDLE none = CreateFileA("\\\\?\\hid#vid_001f&pid_ba1c&col09#0&0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                              GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    error = GetLastError();
    expect(none == INVALID_HANDLE_VALUE && error == ERROR_FILE_NOT_FOUND, "an absent device path: ERROR_FILE_NOT_FOUND",
           error);
    none = CreateFileA("", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    error = GetLastError();
    expect(none == INVALID_HANDLE_VALUE && error == ERROR_PATH_NOT_FOUND, "an empty device path: ERROR_PATH_NOT_FOUND",
           error);

    // The last error belongs to the thread that failed. The threads meet on
    // atomics alone, since any other call may set the last error.
    std::atomic<int> stage{0};
    DWORD initial = 12345, theirs = 0;
    std::thread worker([&] {
        initial = GetLastError();
        while (stage.load() != 1) {}
        CreateFileA("", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        theirs = GetLastError();
        stage.store(2);
    });
    CloseHandle(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7770)));
    const DWORD before = GetLastError();
    stage.store(1);
    while (stage.load() != 2) {}
    const DWORD after = GetLastError();
    worker.join();
    expect(before == ERROR_INVALID_HANDLE, "closing a bogus handle: ERROR_INVALID_HANDLE", before);
    expect(initial == ERROR_SUCCESS, "a new thread starts with no last error", initial);
    expect(theirs == ERROR_PATH_NOT_FOUND, "the other thread sees its own failure", theirs);
    expect(after == before, "another thread's failure leaves this one's last error alone", after);

    printf(failures == 0 ? "all behaviours as expected\n" : "%d behaviour(s) differ\n", failures);
    return failures == 0 ? 0 : 1;
}
