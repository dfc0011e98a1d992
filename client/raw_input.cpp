// Raw Input for the input collections the system holds: a message-only
// window on a thread of its own, registered as a sink for each held
// collection's usage, so that input reaches it whichever window has the focus.
// Only input from the quorvex collections counts: a real mouse or keyboard on
// the desk shares the usage.

#include <cstdio>
#include <cstring>

#include "client/inputs.h"

namespace {

constexpr char kClassName[] = "quorvex_raw_input";

struct raw_start {
    quorvex_inputs* inputs;
    HANDLE ready;
    const char* failed;  // the call that failed, null when the window is listening
    DWORD error;
};

// The collection an event came from: its device name (counted in
// characters) against the paths the collections were found at.
bool kind_of_device(HANDLE device, quorvex_input_kind* kind) {
    char name[512];
    UINT size = 0;
    if (GetRawInputDeviceInfoA(device, RIDI_DEVICENAME, nullptr, &size) != 0 || size == 0 || size > sizeof(name))
        return false;
    UINT room = sizeof(name);
    const UINT got = GetRawInputDeviceInfoA(device, RIDI_DEVICENAME, name, &room);
    if (got == 0 || got == static_cast<UINT>(-1) || got > sizeof(name)) return false;
    name[got < sizeof(name) ? got : sizeof(name) - 1] = '\0';
    for (int i = 0; i < QUORVEX_INPUT_KINDS; ++i) {
        const char* path = quorvex_input_path(static_cast<quorvex_input_kind>(i));
        if (path[0] != '\0' && quorvex_same_collection(name, path)) {
            *kind = static_cast<quorvex_input_kind>(i);
            return true;
        }
    }
    return false;
}

void take_input(quorvex_inputs* inputs, HRAWINPUT handle) {
    // RAWINPUT is pointer-aligned; a HID event of a few reports fits.
    union {
        RAWINPUT input;
        uint8_t bytes[sizeof(RAWINPUT) + 8 * QUORVEX_INPUT_REPORT_MAX];
    } block;
    UINT size = 0;
    if (GetRawInputData(handle, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0 || size > sizeof(block))
        return;
    size = sizeof(block);
    const UINT got = GetRawInputData(handle, RID_INPUT, &block, &size, sizeof(RAWINPUTHEADER));
    if (got == static_cast<UINT>(-1) || got < sizeof(RAWINPUTHEADER)) return;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    quorvex_input_kind kind;
    if (!kind_of_device(block.input.header.hDevice, &kind)) return;
    const RAWINPUT& raw = block.input;
    if (raw.header.dwType == RIM_TYPEHID) {
        const DWORD each = raw.data.hid.dwSizeHid;
        const uint8_t* report = raw.data.hid.bRawData;
        const size_t data_at = static_cast<size_t>(report - block.bytes);
        for (DWORD i = 0; i < raw.data.hid.dwCount; ++i, report += each) {
            if (data_at + (static_cast<size_t>(i) + 1) * each > got) break;
            inputs->sink(inputs->context, kind, report, each, now.QuadPart);
        }
        return;
    }
    if (inputs->event_sink == nullptr) return;
    quorvex_input_event event = {};
    event.kind = kind;
    if (raw.header.dwType == RIM_TYPEMOUSE) event.mouse = raw.data.mouse;
    else if (raw.header.dwType == RIM_TYPEKEYBOARD) event.keyboard = raw.data.keyboard;
    else return;
    inputs->event_sink(inputs->context, &event, now.QuadPart);
}

LRESULT WINAPI window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

bool register_held(quorvex_inputs* inputs, HWND window, DWORD flags) {
    RAWINPUTDEVICE devices[QUORVEX_INPUT_KINDS];
    UINT count = 0;
    for (int i = 0; i < QUORVEX_INPUT_KINDS; ++i) {
        if (inputs->collections[i].path != input_path::held) continue;
        devices[count].usUsagePage = QUORVEX_INPUTS[i].usage_page;
        devices[count].usUsage = QUORVEX_INPUTS[i].usage;
        devices[count].dwFlags = flags;
        devices[count].hwndTarget = window;
        ++count;
    }
    return RegisterRawInputDevices(devices, count, sizeof(RAWINPUTDEVICE)) != FALSE;
}

DWORD WINAPI listen_for_input(LPVOID parameter) {
    raw_start* start = static_cast<raw_start*>(parameter);
    quorvex_inputs* inputs = start->inputs;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA window_class;
    std::memset(&window_class, 0, sizeof(window_class));
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = kClassName;
    HWND window = nullptr;
    const bool registered = RegisterClassExA(&window_class) != 0;
    if (!registered) {
        start->failed = "RegisterClassExA";
    } else {
        window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
        if (window == nullptr) start->failed = "CreateWindowExA";
        else if (!register_held(inputs, window, RIDEV_INPUTSINK)) start->failed = "RegisterRawInputDevices";
    }
    if (start->failed != nullptr) {
        start->error = GetLastError();
        if (window != nullptr) DestroyWindow(window);
        if (registered) UnregisterClassA(kClassName, instance);
        SetEvent(start->ready);
        return 1;
    }
    inputs->raw_thread_id = GetCurrentThreadId();  // what WM_QUIT is posted to
    SetEvent(start->ready);  // start is the caller's, gone after this

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_INPUT) take_input(inputs, reinterpret_cast<HRAWINPUT>(message.lParam));
        DispatchMessageA(&message);  // WM_INPUT's own cleanup is DefWindowProc's
    }
    register_held(inputs, nullptr, RIDEV_REMOVE);
    DestroyWindow(window);
    UnregisterClassA(kClassName, instance);
    return 0;
}

}  // namespace

bool quorvex_raw_input_start(quorvex_inputs* inputs) {
    raw_start start = {inputs, CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr, 0};
    if (start.ready == nullptr) {
        printf("Error: CreateEventA failed: %d\n", static_cast<int>(GetLastError()));
        return false;
    }
    inputs->raw_thread = CreateThread(nullptr, 0, listen_for_input, &start, 0, nullptr);
    if (inputs->raw_thread == nullptr) {
        printf("Error: CreateThread failed for the Raw Input window: %d\n", static_cast<int>(GetLastError()));
        CloseHandle(start.ready);
        return false;
    }
    WaitForSingleObject(start.ready, INFINITE);
    CloseHandle(start.ready);
    if (start.failed == nullptr) return true;
    printf("Error: %s failed: %d\n", start.failed, static_cast<int>(start.error));
    WaitForSingleObject(inputs->raw_thread, INFINITE);
    CloseHandle(inputs->raw_thread);
    inputs->raw_thread = nullptr;
    return false;
}

void quorvex_raw_input_stop(quorvex_inputs* inputs, DWORD timeout_ms) {
    if (inputs->raw_thread == nullptr) return;
    // The window's thread ends its own loop; a thread that will not is left.
    PostThreadMessageA(inputs->raw_thread_id, WM_QUIT, 0, 0);
    WaitForSingleObject(inputs->raw_thread, timeout_ms);
    CloseHandle(inputs->raw_thread);
    inputs->raw_thread = nullptr;
}
