// Checks, on whichever system it is built for, the Windows behaviours the
// client relies on and the simulated system claims to share. Built for the
// host it runs on the stand-in; built for Windows it runs on Windows itself
// (ctest --preset msvc-win32) and under Wine, before the quorvex device is
// installed and again with it present, where the device's own checks run too.
// Where Wine and Windows differ, one table says what each gives.

#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/windows/quorvex_path.h"

static int failures = 0;

static void expect(bool ok, const char* what, unsigned long error) {
    if (!ok) {
        printf("differs: %s (last error %lu)\n", what, error);
        ++failures;
    }
}

// Where Wine and Windows part ways on something the client relies on, with
// where each value comes from. The simulated system follows Windows in each.
struct difference {
    const char* what;
    DWORD windows;  // the error Windows gives; 0 when the call succeeds
    DWORD wine;
    const char* source;
};
static const difference kDifferences[] = {
    {"a wrong SP_DEVICE_INTERFACE_DATA.cbSize", ERROR_INVALID_USER_BUFFER, ERROR_INVALID_PARAMETER,
     "Windows: HID libraries' users (soldernerd/HID_Utility#2), ReactOS's setupapi; Wine: dlls/setupapi"},
    {"a second read/write open of a collection shared for reading only", ERROR_SHARING_VIOLATION, 0,
     "Windows: CreateFile's sharing rules; Wine: its ntoskrnl's IoCheckShareAccess is a stub"},
    {"a synchronous WriteFile on a handle opened with FILE_FLAG_OVERLAPPED", ERROR_INVALID_PARAMETER, 0,
     "Windows: the Win32 reference for ReadFile and WriteFile; Wine completes the transfer"},
};
enum { kCbSize, kShareModes, kOverlapped };

// Wine's ntdll exports its version; Windows' does not.
static bool under_wine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;  // the stand-in follows Windows
#endif
}

// The outcome this system gives for one row of the table.
static void expect_as_this_system_does(int row, BOOL ok, DWORD error) {
    const difference& d = kDifferences[row];
    const DWORD want = under_wine() ? d.wine : d.windows;
    char what[256];
    snprintf(what, sizeof(what), "%s: %s %lu on %s (%s)", d.what, want == 0 ? "succeeds, not error" : "error",
             static_cast<unsigned long>(want), under_wine() ? "Wine" : "Windows", d.source);
    expect(want == 0 ? ok != FALSE : (!ok && error == want), what, error);
}

// Cancels the synchronous read of the thread given, once it is under way.
static DWORD WINAPI cancel_its_read(LPVOID thread) {
    HANDLE pause = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BOOL cancelled = FALSE;
    for (int tries = 0; !cancelled && tries < 50; ++tries) {
        WaitForSingleObject(pause, 100);
        cancelled = CancelSynchronousIo(static_cast<HANDLE>(thread));
    }
    CloseHandle(pause);
    return cancelled ? 0 : 1;
}

// The records, the class GUID and the collections as the client sees them.
static void check_device(const GUID& hid, const std::string& control_path, const std::string& message_path) {
    HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    const GUID other = {};
    BOOL ok = SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &data);
    DWORD error = GetLastError();
    expect(!ok && error == ERROR_NO_MORE_ITEMS, "another class GUID lists nothing: ERROR_NO_MORE_ITEMS", error);

    expect(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data) != FALSE, "the first interface", GetLastError());
    DWORD required = 0;
    ok = SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    error = GetLastError();
    expect(!ok && error == ERROR_INSUFFICIENT_BUFFER, "a detail query without a buffer: ERROR_INSUFFICIENT_BUFFER",
           error);
    std::vector<char> buffer(required + 8);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = required;
    ok = SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr);
    error = GetLastError();
    expect(!ok && error == ERROR_INVALID_USER_BUFFER, "cbSize set to the buffer's size: ERROR_INVALID_USER_BUFFER",
           error);
    detail->cbSize = sizeof(*detail);
    ok = SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr);
    expect(ok && required == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + std::strlen(detail->DevicePath) + 1,
           "the size asked for is the path's, terminator included", GetLastError());
    SetupDiDestroyDeviceInfoList(set);

    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    HANDLE control = CreateFileA(control_path.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE message = CreateFileA(message_path.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    expect(control != INVALID_HANDLE_VALUE && message != INVALID_HANDLE_VALUE, "both collections open",
           GetLastError());
    HANDLE again = CreateFileA(control_path.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    expect_as_this_system_does(kShareModes, again != INVALID_HANDLE_VALUE, GetLastError());
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);

    // An open without access takes no part in sharing, and the identity reads
    // through it: how /list reads collections that others hold.
    HANDLE bare = CreateFileA(control_path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    expect(bare != INVALID_HANDLE_VALUE, "a zero-access open beside the read/write one", GetLastError());
    if (bare != INVALID_HANDLE_VALUE) {
        HIDD_ATTRIBUTES attributes;
        std::memset(&attributes, 0, sizeof(attributes));
        attributes.Size = sizeof(attributes);
        expect(HidD_GetAttributes(bare, &attributes) && attributes.VendorID == 0x001F && attributes.ProductID == 0xBA1C,
               "the attributes through a zero-access open", GetLastError());
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps;
        std::memset(&caps, 0, sizeof(caps));
        expect(HidD_GetPreparsedData(bare, &preparsed) && HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS &&
                   caps.UsagePage == 0xFF00 && caps.Usage == 1,
               "the capabilities through a zero-access open", GetLastError());
        if (preparsed != nullptr) HidD_FreePreparsedData(preparsed);
        unsigned char frame[65] = {0x40, 0x07, 0x03};
        DWORD written = 0;
        const BOOL wrote = WriteFile(bare, frame, sizeof(frame), &written, nullptr);
        const DWORD denied = GetLastError();
        expect(!wrote && denied == ERROR_ACCESS_DENIED, "a zero-access handle writes nothing: ERROR_ACCESS_DENIED",
               denied);
        CloseHandle(bare);
    }
    struct {
        HANDLE handle;
        USAGE usage;
        USHORT input, output;
    } const collections[] = {{control, 1, 0, 65}, {message, 2, 33, 0}};
    for (const auto& c : collections) {
        HIDD_ATTRIBUTES attributes;
        std::memset(&attributes, 0, sizeof(attributes));
        attributes.Size = sizeof(attributes);
        expect(HidD_GetAttributes(c.handle, &attributes) && attributes.VendorID == 0x001F &&
                   attributes.ProductID == 0xBA1C,
               "the quorvex vendor and product IDs", GetLastError());
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps;
        std::memset(&caps, 0, sizeof(caps));
        expect(HidD_GetPreparsedData(c.handle, &preparsed) && HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS &&
                   caps.UsagePage == 0xFF00 && caps.Usage == c.usage && caps.InputReportByteLength == c.input &&
                   caps.OutputReportByteLength == c.output,
               "each collection's usage page, usage and report lengths", GetLastError());
        if (preparsed != nullptr) HidD_FreePreparsedData(preparsed);
    }
    ok = HidD_SetNumInputBuffers(message, 1);
    error = GetLastError();
    expect(!ok && error == ERROR_INVALID_PARAMETER, "one input buffer is too few: ERROR_INVALID_PARAMETER", error);
    expect(HidD_SetNumInputBuffers(message, 10) != FALSE, "ten input buffers", GetLastError());

    // A read nothing answers waits until another thread cancels it, then
    // fails as cancelled and the thread goes on: how a bounded run ends.
    HANDLE self = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
    HANDLE canceller = CreateThread(nullptr, 0, cancel_its_read, self, 0, nullptr);
    expect(self != nullptr && canceller != nullptr, "a thread that may cancel this one's I/O", GetLastError());
    if (canceller != nullptr) {
        unsigned char input[33];
        DWORD got = 0;
        ok = ReadFile(message, input, sizeof(input), &got, nullptr);
        error = GetLastError();
        expect(!ok && error == ERROR_OPERATION_ABORTED, "a cancelled read: ERROR_OPERATION_ABORTED", error);
        WaitForSingleObject(canceller, INFINITE);
        CloseHandle(canceller);
    }
    if (self != nullptr) CloseHandle(self);
    unsigned char frame[65] = {0x40, 0x07, 0x03, 0x00, 0xE8, 0x03, 0x10, 0x27};
    DWORD written = 0;
    expect(WriteFile(control, frame, sizeof(frame), &written, nullptr) != FALSE, "a whole control frame is written",
           GetLastError());
    CloseHandle(control);
    CloseHandle(message);

    HANDLE overlapped = CreateFileA(control_path.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    expect(overlapped != INVALID_HANDLE_VALUE, "an overlapped open", GetLastError());
    if (overlapped != INVALID_HANDLE_VALUE) {
        const BOOL wrote = WriteFile(overlapped, frame, sizeof(frame), &written, nullptr);
        expect_as_this_system_does(kOverlapped, wrote, GetLastError());
        CloseHandle(overlapped);
    }
}

// The quorvex input collections, in their paths' order (col03 to col07), with
// what a read/write open of one gives: Windows holds mouse and keyboard for
// itself, opens touch screens and pens exclusively, and shares joysticks;
// Wine holds none. Windows does not document these errors, so the probe
// prints what it gets, and says where it differs.
struct input_collection {
    const char* part;
    const char* name;
    DWORD windows;  // 0: opens
};
static const input_collection kInputs[] = {
    {"col03", "touch screen", ERROR_SHARING_VIOLATION}, {"col04", "mouse", ERROR_ACCESS_DENIED},
    {"col05", "pen", ERROR_SHARING_VIOLATION},          {"col06", "joystick", 0},
    {"col07", "keyboard", ERROR_ACCESS_DENIED},
};

static LRESULT WINAPI raw_input_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

static bool same_text_ignoring_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// Raw Input, where /verify turns when the system holds a collection: a
// message-only window registered with RIDEV_INPUTSINK for the touch screen,
// pen and joystick usages gets each report the driver delivers as
// RIM_TYPEHID, the bytes as sent, from a device named by its HID path (in
// characters; the case may differ from SetupAPI's).
static void check_raw_input(const GUID& hid, const std::string& control_path) {
    struct kind {
        const char* part;
        const char* name;
        USHORT page, usage;
        std::vector<unsigned char> inner;  // the inner report: its ID, then its fields
        bool arrived;
    } kinds[] = {
        {"col03", "touch screen", 0x0D, 0x04,
         {0x01, 0x03, 0x00, 0xE8, 0x03, 0x10, 0x27, 0x14, 0x00, 0x1E, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}, false},
        {"col05", "pen", 0x0D, 0x02, {0x05, 0x03, 0xE8, 0x03, 0x10, 0x27}, false},
        {"col06", "joystick", 0x01, 0x04, {0x06, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01, 0x00}, false},
    };
    std::string paths[3];
    for (int i = 0; i < 3; ++i) paths[i] = quorvex_path(hid, kinds[i].part);
    if (paths[0].empty() || paths[1].empty() || paths[2].empty()) return;

    WNDCLASSEXA window_class;
    std::memset(&window_class, 0, sizeof(window_class));
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = raw_input_window;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "quorvex_conformance_raw_input";
    const ATOM registered = RegisterClassExA(&window_class);
    expect(registered != 0, "a window class for Raw Input", GetLastError());
    HWND window = CreateWindowExA(0, window_class.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  window_class.hInstance, nullptr);
    expect(window != nullptr, "a message-only window", GetLastError());
    RAWINPUTDEVICE devices[3];
    for (int i = 0; i < 3; ++i) devices[i] = {kinds[i].page, kinds[i].usage, RIDEV_INPUTSINK, window};
    expect(window != nullptr && RegisterRawInputDevices(devices, 3, sizeof(RAWINPUTDEVICE)) != FALSE,
           "Raw Input registered for touch screens, pens and joysticks, RIDEV_INPUTSINK", GetLastError());

    HANDLE control = CreateFileA(control_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    for (const kind& k : kinds) {
        unsigned char frame[65] = {0x40, static_cast<unsigned char>(k.inner.size())};
        std::memcpy(frame + 2, k.inner.data(), k.inner.size());
        DWORD written = 0;
        expect(WriteFile(control, frame, sizeof(frame), &written, nullptr) != FALSE, "a frame for Raw Input",
               GetLastError());
    }
    if (control != INVALID_HANDLE_VALUE) CloseHandle(control);

    int arrived = 0, seen = 0;
    for (int waits = 0; window != nullptr && arrived < 3 && seen < 20 && waits < 50; ++waits) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_INPUT) {
                ++seen;
                HRAWINPUT input = reinterpret_cast<HRAWINPUT>(message.lParam);
                UINT size = 0;
                const UINT asked = GetRawInputData(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER));
                expect(asked == 0 && size > sizeof(RAWINPUTHEADER), "GetRawInputData's size query: 0, and the size",
                       GetLastError());
                std::vector<unsigned char> buffer(size + 8);
                const UINT got = GetRawInputData(input, RID_INPUT, buffer.data(), &size, sizeof(RAWINPUTHEADER));
                const auto* raw = reinterpret_cast<const RAWINPUT*>(buffer.data());
                expect(got == size && raw->header.dwType == RIM_TYPEHID && raw->data.hid.dwCount == 1,
                       "a RIM_TYPEHID input with one report", GetLastError());
                if (got != size || raw->header.dwType != RIM_TYPEHID) continue;
                const std::vector<unsigned char> bytes(raw->data.hid.bRawData,
                                                       raw->data.hid.bRawData + raw->data.hid.dwSizeHid);
                UINT characters = 0;
                const UINT sized = GetRawInputDeviceInfoA(raw->header.hDevice, RIDI_DEVICENAME, nullptr, &characters);
                std::string name(characters + 1, '\0');
                const UINT named = GetRawInputDeviceInfoA(raw->header.hDevice, RIDI_DEVICENAME, &name[0], &characters);
                expect(sized == 0 && characters > 0 && named != static_cast<UINT>(-1),
                       "RIDI_DEVICENAME's size query: 0, and the size in characters", GetLastError());
                name.resize(std::strlen(name.c_str()));
                for (int i = 0; i < 3; ++i) {
                    if (bytes.empty() || bytes[0] != kinds[i].inner[0]) continue;
                    char what[160];
                    snprintf(what, sizeof(what), "the %s report through Raw Input, as sent, from %s", kinds[i].name,
                             paths[i].c_str());
                    expect(!kinds[i].arrived && bytes == kinds[i].inner && same_text_ignoring_case(name, paths[i]),
                           what, 0);
                    if (!kinds[i].arrived) ++arrived;
                    kinds[i].arrived = true;
                }
            }
            DispatchMessageA(&message);
        }
    }
    for (const kind& k : kinds) {
        char what[96];
        snprintf(what, sizeof(what), "the %s report arrives through Raw Input within 5 s", k.name);
        expect(k.arrived, what, 0);
    }
    for (RAWINPUTDEVICE& device : devices) {
        device.dwFlags = RIDEV_REMOVE;
        device.hwndTarget = nullptr;
    }
    RegisterRawInputDevices(devices, 3, sizeof(RAWINPUTDEVICE));
    if (window != nullptr) DestroyWindow(window);
    if (registered != 0) UnregisterClassA(window_class.lpszClassName, window_class.hInstance);
}

// Whether the quorvex device has its input collections here.
static bool check_inputs(const GUID& hid) {
    bool any = false;
    for (const input_collection& c : kInputs) {
        const std::string path = quorvex_path(hid, c.part);
        if (path.empty()) continue;
        any = true;
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        if (error == 0) printf("the quorvex %s input collection: a read/write open succeeds\n", c.name);
        else printf("the quorvex %s input collection: a read/write open fails with %lu\n", c.name,
                    static_cast<unsigned long>(error));
        const DWORD want = under_wine() ? 0 : c.windows;
        char what[160];
        snprintf(what, sizeof(what), "a read/write open of the %s input collection: %s %lu on %s", c.name,
                 want == 0 ? "succeeds, not error" : "error", static_cast<unsigned long>(want),
                 under_wine() ? "Wine" : "Windows");
        expect(error == want, what, error);
    }
    return any;
}

// The second thread of the last-error check: Windows' own thread, so that the
// probe builds with a MinGW-w64 runtime of either thread model.
struct other_thread {
    std::atomic<int> stage{0};
    DWORD initial = 12345;
    DWORD theirs = 0;
};

DWORD WINAPI fail_on_other_thread(LPVOID argument) {
    auto* other = static_cast<other_thread*>(argument);
    other->initial = GetLastError();
    while (other->stage.load() != 1) {}
    CreateFileA("", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    other->theirs = GetLastError();
    other->stage.store(2);
    return 0;
}

int main() {
    host_start(0, nullptr);  // the stand-in's default bus, which holds the quorvex device
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    expect(set != INVALID_HANDLE_VALUE, "the present HID interfaces can be listed", GetLastError());

    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data) + 1;
    BOOL ok = SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data);
    DWORD error = GetLastError();
    expect_as_this_system_does(kCbSize, ok, error);

    data.cbSize = sizeof(data);
    ok = SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 100000, &data);
    error = GetLastError();
    expect(!ok && error == ERROR_NO_MORE_ITEMS, "past the last interface: ERROR_NO_MORE_ITEMS", error);
    expect(SetupDiDestroyDeviceInfoList(set) != FALSE, "the set is destroyed", GetLastError());

    const char* const absent = "\\\\?\\hid#vid_001f&pid_ba1c&col09#0&0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    HANDLE none = CreateFileA(absent, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    error = GetLastError();
    expect(none == INVALID_HANDLE_VALUE && error == ERROR_FILE_NOT_FOUND, "an absent device path: ERROR_FILE_NOT_FOUND",
           error);
    none = CreateFileA("", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    error = GetLastError();
    expect(none == INVALID_HANDLE_VALUE && error == ERROR_PATH_NOT_FOUND, "an empty device path: ERROR_PATH_NOT_FOUND",
           error);

    // The last error belongs to the thread that failed. The threads meet on
    // atomics alone, since any other call may set the last error.
    other_thread other;
    HANDLE worker = CreateThread(nullptr, 0, fail_on_other_thread, &other, 0, nullptr);
    CreateFileA(absent, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD before = GetLastError();
    other.stage.store(1);
    while (other.stage.load() != 2) {}
    const DWORD after = GetLastError();
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    const DWORD initial = other.initial, theirs = other.theirs;
    expect(before == ERROR_FILE_NOT_FOUND, "this thread's own failure: ERROR_FILE_NOT_FOUND", before);
    expect(initial == ERROR_SUCCESS, "a new thread starts with no last error", initial);
    expect(theirs == ERROR_PATH_NOT_FOUND, "the other thread sees its own failure", theirs);
    expect(after == before, "another thread's failure leaves this one's last error alone", after);

    const std::string control = quorvex_path(guid, "col01");
    const std::string message = quorvex_path(guid, "col02");
    const bool device = !control.empty() && !message.empty();
    if (device) check_device(guid, control, message);
    if (device && check_inputs(guid)) check_raw_input(guid, control);

    if (failures != 0) printf("%d behaviour(s) differ\n", failures);
    else printf("all behaviours as expected of %s%s\n", under_wine() ? "Wine" : "Windows",
                device ? ", the quorvex device's among them" : "");
    return failures == 0 ? 0 : 1;
}
