// The simulated system's Raw Input: message-only windows and their thread's
// queue, the size queries and errors Microsoft documents for GetRawInputData
// and GetRawInputDeviceInfoA, the report bytes of touch screens, pens and
// joysticks, and the events the mouse and keyboard class drivers make.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "device/quorvex_device.h"
#include "layout/report_layout.h"
#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "platform/sim/user32.h"
#include "tests/support.h"

namespace {

void configure(const std::string& scenario) {
    std::string error;
    ASSERT_TRUE(sim_configure(scenario, &error)) << error;
}


LRESULT WINAPI quiet_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

HWND message_window() {
    WNDCLASSEXA c = {};
    c.cbSize = sizeof(c);
    c.lpfnWndProc = quiet_proc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "quorvex_test";
    EXPECT_NE(RegisterClassExA(&c), 0);
    return CreateWindowExA(0, "quorvex_test", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
}

void close_window(HWND hwnd) {
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_TRUE(UnregisterClassA("quorvex_test", GetModuleHandleA(nullptr)));
}

BOOL listen(HWND hwnd, USHORT page, USHORT usage, DWORD flags = RIDEV_INPUTSINK) {
    RAWINPUTDEVICE device = {page, usage, flags, hwnd};
    return RegisterRawInputDevices(&device, 1, sizeof(device));
}

HANDLE open_control() {
    return CreateFileA(hid_path_at(0).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

void send(HANDLE control, std::vector<uint8_t> inner) {
    uint8_t frame[65] = {0x40, static_cast<uint8_t>(device_inner_length(inner[0]))};
    std::memcpy(frame + 2, inner.data(), inner.size());
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(control, frame, sizeof(frame), &written, nullptr));
}

// Every WM_INPUT waiting in this thread's queue, as its RAWINPUT record.
std::vector<std::vector<uint8_t>> arrived() {
    std::vector<std::vector<uint8_t>> out;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        EXPECT_EQ(message.message, static_cast<UINT>(WM_INPUT));
        EXPECT_EQ(GET_RAWINPUT_CODE_WPARAM(message.wParam), static_cast<WPARAM>(RIM_INPUTSINK));
        UINT size = 0;
        const HRAWINPUT raw = reinterpret_cast<HRAWINPUT>(message.lParam);
        EXPECT_EQ(GetRawInputData(raw, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)), 0u);
        std::vector<uint8_t> record(size);
        EXPECT_EQ(GetRawInputData(raw, RID_INPUT, record.data(), &size, sizeof(RAWINPUTHEADER)), size);
        out.push_back(record);
    }
    return out;
}

const RAWINPUT& as_raw(const std::vector<uint8_t>& record) { return *reinterpret_cast<const RAWINPUT*>(record.data()); }

std::string name_of(HANDLE device) {
    UINT chars = 0;
    EXPECT_EQ(GetRawInputDeviceInfoA(device, RIDI_DEVICENAME, nullptr, &chars), 0u);
    std::string name(chars, '\0');
    EXPECT_EQ(GetRawInputDeviceInfoA(device, RIDI_DEVICENAME, &name[0], &chars), chars);
    name.resize(chars > 0 ? chars - 1 : 0);
    return name;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return s;
}

struct pump {
    HWND hwnd;
    DWORD thread;
    int inputs;
};

DWORD WINAPI pump_messages(LPVOID argument) {
    auto* p = static_cast<pump*>(argument);
    p->thread = GetCurrentThreadId();
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists from here
    p->hwnd = message_window();
    listen(p->hwnd, 0x01, 0x04);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_INPUT) ++p->inputs;
        DispatchMessageA(&message);
    }
    close_window(p->hwnd);
    return 0;
}

}  // namespace

// Touch screens, pens and joysticks arrive as their reports' bytes; the size
// queries and the errors are those Microsoft documents.
TEST(RawInput, ReportBytesWithTheDocumentedSizeQueriesAndErrors) {
    configure("others=0,absent=0,inputs");
    WNDCLASSEXA bad = {};
    bad.cbSize = sizeof(bad) - 1;
    bad.lpfnWndProc = quiet_proc;
    bad.lpszClassName = "quorvex_test";
    EXPECT_EQ(RegisterClassExA(&bad), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateWindowExA(0, "nothing", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 1407u);
    HWND hwnd = message_window();
    ASSERT_NE(hwnd, nullptr);

    RAWINPUTDEVICE device = {0x01, 0x04, RIDEV_INPUTSINK, hwnd};
    EXPECT_FALSE(RegisterRawInputDevices(&device, 1, sizeof(device) + 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(listen(nullptr, 0x01, 0x04)) << "an input sink needs its window";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(listen(reinterpret_cast<HWND>(0x1234), 0x01, 0x04));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    ASSERT_TRUE(listen(hwnd, 0x01, 0x04));
    ASSERT_TRUE(listen(hwnd, 0x0D, 0x02));
    ASSERT_TRUE(listen(hwnd, 0x0D, 0x04, 0));  // not a sink: the touch screen's input goes to the foreground

    HANDLE control = open_control();
    send(control, {0x06, 1, 2, 3, 4, 5, 6, 0x34, 0x12});
    send(control, {0x05, 0x01, 0x10, 0x27, 0x20, 0x4E});
    send(control, {0x01, 0x03, 1, 10, 0, 20, 0});  // touch: not heard
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    ASSERT_EQ(message.message, static_cast<UINT>(WM_INPUT));
    EXPECT_EQ(message.hwnd, hwnd);
    const HRAWINPUT raw = reinterpret_cast<HRAWINPUT>(message.lParam);
    UINT size = 0;
    EXPECT_EQ(GetRawInputData(raw, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)), 0u);
    EXPECT_EQ(size, offsetof(RAWINPUT, data.hid.bRawData) + 9);
    EXPECT_EQ(GetRawInputData(raw, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER) - 1), static_cast<UINT>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::vector<uint8_t> record(size);
    UINT small = size - 1;
    EXPECT_EQ(GetRawInputData(raw, RID_INPUT, record.data(), &small, sizeof(RAWINPUTHEADER)), static_cast<UINT>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(GetRawInputData(raw, RID_INPUT, record.data(), &size, sizeof(RAWINPUTHEADER)), size);
    const RAWINPUT& input = as_raw(record);
    EXPECT_EQ(input.header.dwType, static_cast<DWORD>(RIM_TYPEHID));
    EXPECT_EQ(input.header.dwSize, size);
    EXPECT_EQ(input.data.hid.dwSizeHid, 9u);
    EXPECT_EQ(input.data.hid.dwCount, 1u);
    EXPECT_EQ(std::vector<uint8_t>(input.data.hid.bRawData, input.data.hid.bRawData + 9),
              (std::vector<uint8_t>{0x06, 1, 2, 3, 4, 5, 6, 0x34, 0x12}));
    UINT header = 0;
    EXPECT_EQ(GetRawInputData(raw, RID_HEADER, nullptr, &header, sizeof(RAWINPUTHEADER)), 0u);
    EXPECT_EQ(header, sizeof(RAWINPUTHEADER));

    // The device's name, counted in characters; the HID path as Raw Input spells it.
    UINT chars = 0;
    EXPECT_EQ(GetRawInputDeviceInfoA(input.header.hDevice, RIDI_DEVICENAME, nullptr, &chars), 0u);
    std::string name(chars, '\0');
    UINT short_chars = chars - 1;
    EXPECT_EQ(GetRawInputDeviceInfoA(input.header.hDevice, RIDI_DEVICENAME, &name[0], &short_chars),
              static_cast<UINT>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(short_chars, chars);
    const std::string joystick = name_of(input.header.hDevice);
    EXPECT_EQ(joystick.size() + 1, chars);
    EXPECT_EQ(lower(joystick), hid_path_at(5));
    EXPECT_NE(joystick, hid_path_at(5)) << "Raw Input spells it in its own case";
    EXPECT_EQ(GetRawInputDeviceInfoA(reinterpret_cast<HANDLE>(0x99), RIDI_DEVICENAME, nullptr, &chars),
              static_cast<UINT>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // Once the next message is taken, the last one's input is gone.
    const auto pen = arrived();
    EXPECT_EQ(GetRawInputData(raw, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)), static_cast<UINT>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    ASSERT_EQ(pen.size(), 1u) << "the pen's report, and nothing of the touch screen";
    EXPECT_EQ(as_raw(pen[0]).data.hid.dwSizeHid, 6u);
    EXPECT_EQ(as_raw(pen[0]).data.hid.bRawData[5], 0x4E);
    EXPECT_EQ(lower(name_of(as_raw(pen[0]).header.hDevice)), hid_path_at(4));

    // A window is destroyed by its own thread only.
    HANDLE other = nullptr;
    struct attempt {
        HWND hwnd;
        BOOL destroyed;
        DWORD error;
    } tried = {hwnd, TRUE, 0};
    other = CreateThread(nullptr, 0, [](LPVOID a) -> DWORD {
        auto* t = static_cast<attempt*>(a);
        t->destroyed = DestroyWindow(t->hwnd);
        t->error = GetLastError();
        return 0;
    }, &tried, 0, nullptr);
    WaitForSingleObject(other, INFINITE);
    CloseHandle(other);
    EXPECT_FALSE(tried.destroyed);
    EXPECT_EQ(tried.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(UnregisterClassA("quorvex_test", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    close_window(hwnd);
    CloseHandle(control);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

// A thread waiting in GetMessageA waits as any other: the virtual clock moves
// on, and a delivery wakes it; a thread message ends its loop.
TEST(RawInput, AWaitingMessageLoopWakesOnDelivery) {
    configure("others=0,absent=0,inputs,clock=virtual");
    EXPECT_FALSE(PostThreadMessageA(GetCurrentThreadId() + 4000, WM_QUIT, 0, 0));
    EXPECT_EQ(GetLastError(), 1444u) << "a thread without a queue";
    pump p = {nullptr, 0, 0};
    HANDLE thread = CreateThread(nullptr, 0, pump_messages, &p, 0, nullptr);
    Sleep(20);
    HANDLE control = open_control();
    for (uint8_t n = 0; n < 3; ++n) send(control, {0x06, n, 0, 0, 0, 0, 0, 0, 0});
    Sleep(20);
    EXPECT_EQ(p.inputs, 3);
    EXPECT_TRUE(PostThreadMessageA(p.thread, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForSingleObject(thread, 1000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(thread);
    CloseHandle(control);

    // MsgWaitForMultipleObjects wakes for new input, and for an event.
    HWND hwnd = message_window();
    listen(hwnd, 0x01, 0x04);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10, QS_RAWINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
    control = open_control();
    send(control, {0x06, 9, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10, QS_RAWINPUT), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(arrived().size(), 1u);
    SetEvent(event);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10, QS_RAWINPUT), WAIT_OBJECT_0);
    CloseHandle(event);
    CloseHandle(control);
    close_window(hwnd);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

// The mouse arrives as absolute positions over the declared range, button
// transitions and the wheel; the keyboard as make and break codes. A doubled
// keyboard report makes no new event; a mouse report always makes one.
TEST(RawInput, MiceAndKeyboardsArriveAsTheClassDriversEvents) {
    configure("others=0,absent=0,inputs");
    HWND hwnd = message_window();
    ASSERT_TRUE(listen(hwnd, 0x01, 0x02));
    ASSERT_TRUE(listen(hwnd, 0x01, 0x06));
    HANDLE control = open_control();

    send(control, {0x03, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x01});
    send(control, {0x03, 0x04, 0x00, 0x80, 0xFF, 0x7F, 0xFE});
    send(control, {0x03, 0x04, 0x00, 0x80, 0xFF, 0x7F, 0x00});
    auto mouse = arrived();
    ASSERT_EQ(mouse.size(), 3u);
    const RAWMOUSE& first = as_raw(mouse[0]).data.mouse;
    EXPECT_EQ(as_raw(mouse[0]).header.dwType, static_cast<DWORD>(RIM_TYPEMOUSE));
    EXPECT_EQ(first.usFlags, MOUSE_MOVE_ABSOLUTE);
    EXPECT_EQ(first.lLastX, 65535);
    EXPECT_EQ(first.lLastY, 0);
    EXPECT_EQ(first.usButtonFlags, RI_MOUSE_LEFT_BUTTON_DOWN | RI_MOUSE_WHEEL);
    EXPECT_EQ(first.usButtonData, WHEEL_DELTA);
    const RAWMOUSE& second = as_raw(mouse[1]).data.mouse;
    EXPECT_EQ(second.lLastX, 32768);
    EXPECT_EQ(second.lLastY, 32767);
    EXPECT_EQ(second.usButtonFlags, RI_MOUSE_LEFT_BUTTON_UP | RI_MOUSE_MIDDLE_BUTTON_DOWN | RI_MOUSE_WHEEL);
    EXPECT_EQ(static_cast<int16_t>(second.usButtonData), -2 * WHEEL_DELTA);
    EXPECT_EQ(as_raw(mouse[2]).data.mouse.usButtonFlags, 0) << "nothing changed but the position is told again";
    const std::string mouse_name = name_of(as_raw(mouse[0]).header.hDevice);
    EXPECT_EQ(mouse_name, "\\\\?\\HID#VID_001F&PID_BA1C&Col04" + hid_path_at(3).substr(hid_path_at(3).find("#7&"),
                                                                                       hid_path_at(3).rfind('#') -
                                                                                           hid_path_at(3).find("#7&") + 1) +
                              "{378de44c-56ef-11d1-bc8c-00a0c91405dd}");

    send(control, {0x07, 0x02, 0, 0x04});        // Left Shift, A
    send(control, {0x07, 0x10, 0, 0x52});        // Right Ctrl, Up
    send(control, {0x07, 0x10, 0, 0x52});        // the same again: nothing new
    send(control, {0x07, 0x00, 0, 0x01, 0x04});  // rollover: says nothing
    send(control, {0x07, 0x00, 0, 0x00});
    struct key {
        USHORT make;
        USHORT flags;
    };
    const std::vector<key> want = {
        {0x2A, RI_KEY_MAKE},            {0x1E, RI_KEY_MAKE},          {0x1E, RI_KEY_BREAK},
        {0x2A, RI_KEY_BREAK},           {0x1D, RI_KEY_MAKE | RI_KEY_E0}, {0x48, RI_KEY_MAKE | RI_KEY_E0},
        {0x48, RI_KEY_BREAK | RI_KEY_E0}, {0x1D, RI_KEY_BREAK | RI_KEY_E0},
    };
    const auto keys = arrived();
    ASSERT_EQ(keys.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(as_raw(keys[i]).header.dwType, static_cast<DWORD>(RIM_TYPEKEYBOARD));
        EXPECT_EQ(as_raw(keys[i]).data.keyboard.MakeCode, want[i].make);
        EXPECT_EQ(as_raw(keys[i]).data.keyboard.Flags, want[i].flags);
    }
    EXPECT_NE(name_of(as_raw(keys[0]).header.hDevice).find("&Col07#"), std::string::npos);
    EXPECT_NE(name_of(as_raw(keys[0]).header.hDevice).find("{884b96c3-56ef-11d1-bc8c-00a0c91405dd}"),
              std::string::npos);

    // Removed, the keyboard is heard no more.
    RAWINPUTDEVICE remove = {0x01, 0x06, RIDEV_REMOVE, nullptr};
    EXPECT_TRUE(RegisterRawInputDevices(&remove, 1, sizeof(remove)));
    send(control, {0x07, 0x00, 0, 0x04});
    EXPECT_TRUE(arrived().empty());
    CloseHandle(control);
    close_window(hwnd);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

// Every key the layout names has the scan code Microsoft's table gives it,
// written out here again so that a wrong entry shows.
TEST(RawInput, ScanCodesAreMicrosoftsForEveryKeyTheLayoutNames) {
    const struct {
        const char* name;
        USHORT make;
        bool e0;
    } table[] = {
        {"A", 0x1E, false}, {"B", 0x30, false}, {"C", 0x2E, false}, {"D", 0x20, false}, {"E", 0x12, false},
        {"F", 0x21, false}, {"G", 0x22, false}, {"H", 0x23, false}, {"I", 0x17, false}, {"J", 0x24, false},
        {"K", 0x25, false}, {"L", 0x26, false}, {"M", 0x32, false}, {"N", 0x31, false}, {"O", 0x18, false},
        {"P", 0x19, false}, {"Q", 0x10, false}, {"R", 0x13, false}, {"S", 0x1F, false}, {"T", 0x14, false},
        {"U", 0x16, false}, {"V", 0x2F, false}, {"W", 0x11, false}, {"X", 0x2D, false}, {"Y", 0x15, false},
        {"Z", 0x2C, false}, {"1", 0x02, false}, {"2", 0x03, false}, {"3", 0x04, false}, {"4", 0x05, false},
        {"5", 0x06, false}, {"6", 0x07, false}, {"7", 0x08, false}, {"8", 0x09, false}, {"9", 0x0A, false},
        {"0", 0x0B, false}, {"Enter", 0x1C, false}, {"Escape", 0x01, false}, {"Backspace", 0x0E, false},
        {"Tab", 0x0F, false}, {"Space", 0x39, false}, {"Caps Lock", 0x3A, false},
        {"Left Ctrl", 0x1D, false}, {"Left Shift", 0x2A, false}, {"Left Alt", 0x38, false},
        {"Left GUI", 0x5B, true}, {"Right Ctrl", 0x1D, true}, {"Right Shift", 0x36, false},
        {"Right Alt", 0x38, true}, {"Right GUI", 0x5C, true},
    };
    int keys = 0, modifiers = 0;
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        int usage = layout_key_named(row.name, std::strlen(row.name));
        if (usage >= 0) ++keys;
        else if ((usage = layout_modifier_named(row.name, std::strlen(row.name))) >= 0) usage += 0xE0, ++modifiers;
        ASSERT_GE(usage, 0) << "the layout does not name it";
        USHORT make = 0;
        bool e0 = false;
        ASSERT_TRUE(user32_scan_code(static_cast<uint8_t>(usage), &make, &e0));
        EXPECT_EQ(make, row.make);
        EXPECT_EQ(e0, row.e0);
    }
    EXPECT_EQ(modifiers, 8);
    // Every key the layout names is in the table above.
    int named = 0;
    for (int usage = 0; usage < 0xE0; ++usage) named += layout_key_name(static_cast<uint8_t>(usage)) != nullptr;
    EXPECT_EQ(named, keys);
    // The keys the layout has no name for.
    const struct {
        uint8_t usage;
        USHORT make;
        bool e0;
    } unnamed[] = {
        {0x32, 0x2B, false}, {0x46, 0x37, true},  {0x47, 0x46, false}, {0x53, 0x45, false}, {0x54, 0x35, true},
        {0x55, 0x37, false}, {0x56, 0x4A, false}, {0x57, 0x4E, false}, {0x58, 0x1C, true},  {0x59, 0x4F, false},
        {0x5D, 0x4C, false}, {0x61, 0x49, false}, {0x62, 0x52, false}, {0x63, 0x53, false}, {0x64, 0x56, false},
        {0x65, 0x5D, true},  {0x3A, 0x3B, false}, {0x45, 0x58, false}, {0x31, 0x2B, false}, {0x4C, 0x53, true},
    };
    for (const auto& row : unnamed) {
        SCOPED_TRACE(int(row.usage));
        USHORT make = 0;
        bool e0 = false;
        ASSERT_TRUE(user32_scan_code(row.usage, &make, &e0));
        EXPECT_EQ(make, row.make);
        EXPECT_EQ(e0, row.e0);
    }
    USHORT make = 0;
    bool e0 = false;
    EXPECT_FALSE(user32_scan_code(0x00, &make, &e0));
    EXPECT_FALSE(user32_scan_code(0x01, &make, &e0));
}

// Each new operation a scenario can make fail fails there, with its error,
// and a run that tidies up after it leaves nothing held.
TEST(RawInput, EachFailableCallFailsWithItsErrorAndLeavesNothingHeld) {
    const struct {
        const char* op;
        DWORD error;
    } rows[] = {
        {"RegisterClassExA", ERROR_NOT_ENOUGH_MEMORY},     {"CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY},
        {"RegisterRawInputDevices", ERROR_INVALID_PARAMETER}, {"GetRawInputData", ERROR_INVALID_HANDLE},
        {"GetRawInputDeviceInfoA", ERROR_INVALID_HANDLE},  {"HidP_GetValueCaps", ERROR_INVALID_FUNCTION},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.op);
        configure(std::string("others=0,absent=0,inputs,fail=") + row.op);
        DWORD failed = 0;
        auto check = [&](bool ok) {
            if (!ok && failed == 0) failed = GetLastError();
            return ok;
        };
        HANDLE joystick = CreateFileA(hid_path_at(5).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HidD_GetPreparsedData(joystick, &preparsed);
        HIDP_VALUE_CAPS values[8];
        USHORT count = 8;
        check(HidP_GetValueCaps(HidP_Input, values, &count, preparsed) == HIDP_STATUS_SUCCESS);
        HidD_FreePreparsedData(preparsed);
        CloseHandle(joystick);
        WNDCLASSEXA c = {};
        c.cbSize = sizeof(c);
        c.lpfnWndProc = quiet_proc;
        c.lpszClassName = "quorvex_test";
        const bool registered = check(RegisterClassExA(&c) != 0);
        HWND hwnd = registered ? CreateWindowExA(0, "quorvex_test", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                                 nullptr)
                               : nullptr;
        if (registered) check(hwnd != nullptr);
        if (hwnd != nullptr && check(listen(hwnd, 0x0D, 0x02))) {
            HANDLE control = open_control();
            send(control, {0x05, 0x01, 0x10, 0x27, 0x20, 0x4E});
            MSG message;
            if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                UINT size = 0;
                check(GetRawInputData(reinterpret_cast<HRAWINPUT>(message.lParam), RID_HEADER, nullptr, &size,
                                      sizeof(RAWINPUTHEADER)) == 0);
                RAWINPUTHEADER header = {};
                size = sizeof(header);
                if (GetRawInputData(reinterpret_cast<HRAWINPUT>(message.lParam), RID_HEADER, &header, &size,
                                    sizeof(header)) == sizeof(header)) {
                    UINT chars = 0;
                    check(GetRawInputDeviceInfoA(header.hDevice, RIDI_DEVICENAME, nullptr, &chars) == 0);
                }
            }
            CloseHandle(control);
        }
        EXPECT_GE(sim_calls(row.op), 1) << "called on this path";
        EXPECT_EQ(failed, row.error);
        if (hwnd != nullptr) DestroyWindow(hwnd);
        if (registered) UnregisterClassA("quorvex_test", nullptr);
        EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
    }
}
