// Stand-ins for user32: message-only windows, each thread's message queue,
// and Raw Input from the input collections the system holds. Touch screens,
// pens and joysticks arrive as their reports' bytes (RIM_TYPEHID); mice and
// keyboards as the events the class drivers make of a report.

#include "platform/sim/user32.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/hidparse.h"
#include "platform/sim/threads.h"

namespace {

#define ERROR_MOD_NOT_FOUND 126
#define ERROR_NOACCESS 998
#define ERROR_CANNOT_FIND_WND_CLASS 1407
#define ERROR_INVALID_THREAD_ID 1444
#define ERROR_NOT_ENOUGH_QUOTA 1816
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105

const HMODULE kModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
constexpr uintptr_t kRawDeviceBase = 0x52000000;  // + bus index * 4: a Raw Input device handle
constexpr size_t kPostedQuota = 10000;            // posted messages a queue holds, as Windows' default

struct window_class {
    WNDPROC proc;
    HINSTANCE instance;
    ATOM atom;
};

struct window {
    std::string class_name;
    WNDPROC proc;
    DWORD thread;
    LONG_PTR user_data;
};

struct thread_queue {
    std::deque<MSG> messages;
    bool fresh = false;                 // something arrived since the thread last looked
    std::vector<uintptr_t> retrieved;   // raw inputs it took with its last message
};

// What the class drivers remember of each collection: the buttons and keys down.
struct class_state {
    std::set<USAGE> down;
};

struct user32_state {
    std::map<std::string, window_class> classes;  // by name, lower case
    std::map<uintptr_t, window> windows;
    std::map<DWORD, thread_queue> queues;
    std::vector<RAWINPUTDEVICE> registered;
    std::map<uintptr_t, std::vector<uint8_t>> raw;  // HRAWINPUT -> the RAWINPUT record
    std::map<size_t, class_state> drivers;          // by bus index
    ATOM next_atom = 0xC000;
    uintptr_t next_window = 0x10000;
    uintptr_t next_raw = 0x30000000;
};

user32_state& u() {
    static user32_state state;
    return state;
}

std::string lower(const char* text) {
    std::string s = text == nullptr ? "" : text;
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

window* find_window(HWND hwnd) {
    auto it = u().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == u().windows.end() ? nullptr : &it->second;
}

// A thread has a message queue once it has called for one.
thread_queue& own_queue() { return u().queues[threads_thread_id()]; }

void post(DWORD thread, const MSG& message) {
    thread_queue& queue = u().queues[thread];
    queue.messages.push_back(message);
    queue.fresh = true;
    threads_changed();
}

bool matches(const MSG& m, HWND hwnd, UINT low, UINT high) {
    if (hwnd == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) {
        if (m.hwnd != nullptr) return false;
    } else if (hwnd != nullptr && m.hwnd != hwnd) {
        return false;
    }
    return (low == 0 && high == 0) || (m.message >= low && m.message <= high);
}

// The raw inputs a thread took with its previous message are gone once it takes the next.
void release_retrieved(thread_queue& queue) {
    for (uintptr_t raw : queue.retrieved) u().raw.erase(raw);
    queue.retrieved.clear();
}

bool take(thread_queue& queue, MSG* out, HWND hwnd, UINT low, UINT high, bool remove) {
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (!matches(*it, hwnd, low, high)) continue;
        *out = *it;
        if (remove) {
            release_retrieved(queue);
            if (it->message == WM_INPUT) queue.retrieved.push_back(static_cast<uintptr_t>(it->lParam));
            queue.messages.erase(it);
        }
        return true;
    }
    return false;
}

bool wakes(const thread_queue& queue, DWORD mask) {
    if (!queue.fresh) return false;
    for (const MSG& m : queue.messages) {
        if (m.message == WM_INPUT ? (mask & QS_RAWINPUT) != 0 : (mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0)
            return true;
    }
    return false;
}

const bus_interface* raw_device(HANDLE device) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(device);
    if (value < kRawDeviceBase || (value - kRawDeviceBase) % 4 != 0) return nullptr;
    const size_t index = (value - kRawDeviceBase) / 4;
    if (index >= sys().bus.size()) return nullptr;
    const bus_interface& iface = sys().bus[index];
    if (iface.kind != collection_kind::input || !iface.present || !iface.arrived) return nullptr;
    return &iface;
}

// Raw Input names a device by its HID interface as Windows spells it there,
// upper case but for the collection; mice and keyboards by their own
// interface class.
std::string raw_device_name(const bus_interface& iface) {
    std::string hardware = iface.path.substr(4, iface.path.find('#', 8) - 4);  // after "\\?\hid#"
    const size_t hash = iface.path.find('#');
    std::string name = iface.path.substr(0, hash);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string part = iface.path.substr(hash + 1, iface.path.find('#', hash + 1) - hash - 1);
    for (char& c : part) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t col = part.find("&COL");
    if (col != std::string::npos) part.replace(col, 4, "&Col");
    std::string rest = iface.path.substr(iface.path.find('#', hash + 1));
    if (iface.input == DEVICE_INPUT_MOUSE || iface.input == DEVICE_INPUT_KEYBOARD) {
        rest = rest.substr(0, rest.rfind('#') + 1) +
               (iface.input == DEVICE_INPUT_MOUSE ? "{378de44c-56ef-11d1-bc8c-00a0c91405dd}"
                                                  : "{884b96c3-56ef-11d1-bc8c-00a0c91405dd}");
    }
    (void)hardware;
    return name + "#" + part + rest;
}

// The set-1 scan codes of the keyboard usages, as Microsoft's table of HID
// usages to PS/2 scan codes gives them; 0xE0nn takes the E0 prefix.
struct scan_entry {
    uint8_t usage;
    uint16_t code;
};
constexpr scan_entry kScanCodes[] = {
    {0x04, 0x1E}, {0x05, 0x30}, {0x06, 0x2E}, {0x07, 0x20}, {0x08, 0x12}, {0x09, 0x21}, {0x0A, 0x22},
    {0x0B, 0x23}, {0x0C, 0x17}, {0x0D, 0x24}, {0x0E, 0x25}, {0x0F, 0x26}, {0x10, 0x32}, {0x11, 0x31},
    {0x12, 0x18}, {0x13, 0x19}, {0x14, 0x10}, {0x15, 0x13}, {0x16, 0x1F}, {0x17, 0x14}, {0x18, 0x16},
    {0x19, 0x2F}, {0x1A, 0x11}, {0x1B, 0x2D}, {0x1C, 0x15}, {0x1D, 0x2C},                // A to Z
    {0x1E, 0x02}, {0x1F, 0x03}, {0x20, 0x04}, {0x21, 0x05}, {0x22, 0x06}, {0x23, 0x07}, {0x24, 0x08},
    {0x25, 0x09}, {0x26, 0x0A}, {0x27, 0x0B},                                            // 1 to 9, 0
    {0x28, 0x1C}, {0x29, 0x01}, {0x2A, 0x0E}, {0x2B, 0x0F}, {0x2C, 0x39},                // Enter .. Space
    {0x2D, 0x0C}, {0x2E, 0x0D}, {0x2F, 0x1A}, {0x30, 0x1B}, {0x31, 0x2B}, {0x33, 0x27}, {0x34, 0x28},
    {0x35, 0x29}, {0x36, 0x33}, {0x37, 0x34}, {0x38, 0x35}, {0x39, 0x3A},                // .. Caps Lock
    {0x3A, 0x3B}, {0x3B, 0x3C}, {0x3C, 0x3D}, {0x3D, 0x3E}, {0x3E, 0x3F}, {0x3F, 0x40}, {0x40, 0x41},
    {0x41, 0x42}, {0x42, 0x43}, {0x43, 0x44}, {0x44, 0x57}, {0x45, 0x58},                // F1 to F12
    {0x49, 0xE052}, {0x4A, 0xE047}, {0x4B, 0xE049}, {0x4C, 0xE053}, {0x4D, 0xE04F}, {0x4E, 0xE051},
    {0x4F, 0xE04D}, {0x50, 0xE04B}, {0x51, 0xE050}, {0x52, 0xE048},                      // Insert .. Up
    {0x32, 0x2B},   {0x46, 0xE037}, {0x47, 0x46},                                        // Non-US #, Print Screen, Scroll Lock
    {0x53, 0x45},   {0x54, 0xE035}, {0x55, 0x37},   {0x56, 0x4A}, {0x57, 0x4E}, {0x58, 0xE01C},  // Num Lock, keypad / * - + Enter
    {0x59, 0x4F},   {0x5A, 0x50},   {0x5B, 0x51},   {0x5C, 0x4B}, {0x5D, 0x4C}, {0x5E, 0x4D},
    {0x5F, 0x47},   {0x60, 0x48},   {0x61, 0x49},   {0x62, 0x52}, {0x63, 0x53},          // keypad 1 to 0, .
    {0x64, 0x56},   {0x65, 0xE05D},                                                      // Non-US \, Application
    {0xE0, 0x1D}, {0xE1, 0x2A}, {0xE2, 0x38}, {0xE3, 0xE05B},                            // left modifiers
    {0xE4, 0xE01D}, {0xE5, 0x36}, {0xE6, 0xE038}, {0xE7, 0xE05C},                        // right modifiers
};

// The virtual key Raw Input reports with a key: modifiers without their side.
USHORT virtual_key(uint8_t usage) {
    if (usage >= 0x04 && usage <= 0x1D) return static_cast<USHORT>('A' + usage - 0x04);
    if (usage >= 0x1E && usage <= 0x26) return static_cast<USHORT>('1' + usage - 0x1E);
    switch (usage) {
        case 0x27: return '0';
        case 0x28: return 0x0D;
        case 0x29: return 0x1B;
        case 0x2A: return 0x08;
        case 0x2B: return 0x09;
        case 0x2C: return 0x20;
        case 0x39: return 0x14;
        case 0xE0: case 0xE4: return 0x11;
        case 0xE1: case 0xE5: return 0x10;
        case 0xE2: case 0xE6: return 0x12;
        case 0xE3: return 0x5B;
        case 0xE7: return 0x5C;
        default: return 0xFF;
    }
}

std::vector<uint8_t> raw_record(size_t iface, DWORD type, size_t data_size) {
    std::vector<uint8_t> record(offsetof(RAWINPUT, data) + data_size, 0);
    RAWINPUTHEADER header = {};
    header.dwType = type;
    header.dwSize = static_cast<DWORD>(record.size());
    header.hDevice = reinterpret_cast<HANDLE>(kRawDeviceBase + iface * 4);
    header.wParam = RIM_INPUTSINK;  // a message-only window is never in the foreground
    std::memcpy(record.data(), &header, sizeof(header));
    return record;
}

template <typename T>
std::vector<uint8_t> raw_of(size_t iface, DWORD type, const T& data) {
    std::vector<uint8_t> record = raw_record(iface, type, sizeof(T));
    std::memcpy(record.data() + offsetof(RAWINPUT, data), &data, sizeof(T));
    return record;
}

// What the mouse class driver makes of one report: the absolute position
// over the declared range, the buttons that changed, the wheel.
std::vector<std::vector<uint8_t>> mouse_events(size_t iface, const hid_parsed& parsed, const input_report& report) {
    class_state& state = u().drivers[iface];
    std::set<USAGE> down;
    LONG x = 0, y = 0, wheel = 0;
    for (const hid_field& field : parsed.input_fields) {
        for (uint32_t e = 0; e < field.count; ++e) {
            const LONG value = hid_value(field, e, report.data(), report.size());
            const USAGE usage = hid_usage_of(field, e, value);
            if (field.usage_page == 0x09 && value != 0 && usage != 0) down.insert(usage);
            if (field.usage_page != 0x01) continue;
            const LONG span = field.logical_max - field.logical_min;
            const LONG normalized =
                span <= 0 ? 0 : static_cast<LONG>((static_cast<int64_t>(value) - field.logical_min) * 65535 / span);
            if (usage == 0x30) x = normalized;
            if (usage == 0x31) y = normalized;
            if (usage == 0x38) wheel = value;
        }
    }
    RAWMOUSE mouse = {};
    mouse.usFlags = MOUSE_MOVE_ABSOLUTE;
    mouse.lLastX = x;
    mouse.lLastY = y;
    for (USAGE button = 1; button <= 5; ++button) {
        const bool was = state.down.count(button) != 0, is = down.count(button) != 0;
        if (was == is) continue;
        const USHORT flag = static_cast<USHORT>(1u << (2 * (button - 1) + (is ? 0 : 1)));
        mouse.usButtonFlags = static_cast<USHORT>(mouse.usButtonFlags | flag);
    }
    for (USAGE button : down)
        if (button >= 1 && button <= 32) mouse.ulRawButtons |= 1u << (button - 1);
    if (wheel != 0) {
        mouse.usButtonFlags = static_cast<USHORT>(mouse.usButtonFlags | RI_MOUSE_WHEEL);
        mouse.usButtonData = static_cast<USHORT>(static_cast<int16_t>(wheel * WHEEL_DELTA));
    }
    state.down = down;
    return {raw_of(iface, RIM_TYPEMOUSE, mouse)};
}

// What the keyboard class driver makes of one report: a break for each key
// let go, then a make for each key pressed; a report unchanged makes nothing.
std::vector<std::vector<uint8_t>> keyboard_events(size_t iface, const hid_parsed& parsed, const input_report& report) {
    class_state& state = u().drivers[iface];
    std::set<USAGE> down;
    for (const hid_field& field : parsed.input_fields) {
        if (field.usage_page != 0x07) continue;
        for (uint32_t e = 0; e < field.count; ++e) {
            const LONG value = hid_value(field, e, report.data(), report.size());
            const USAGE usage = hid_usage_of(field, e, value);
            if (field.variable ? value == 0 : usage == 0) continue;
            if (usage >= 0x01 && usage <= 0x03) return {};  // rollover or an error: the report says nothing
            if (usage > 0x03) down.insert(usage);
        }
    }
    std::vector<std::vector<uint8_t>> events;
    auto event = [&](USAGE usage, bool make) {
        USHORT code = 0;
        bool e0 = false;
        if (usage > 0xFF || !user32_scan_code(static_cast<uint8_t>(usage), &code, &e0)) return;
        RAWKEYBOARD key = {};
        key.MakeCode = code;
        key.Flags = static_cast<USHORT>((make ? RI_KEY_MAKE : RI_KEY_BREAK) | (e0 ? RI_KEY_E0 : 0));
        key.VKey = virtual_key(static_cast<uint8_t>(usage));
        const bool alt = usage == 0xE2 || usage == 0xE6;
        key.Message = make ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
        events.push_back(raw_of(iface, RIM_TYPEKEYBOARD, key));
    };
    for (USAGE usage : state.down)
        if (usage < 0xE0 && down.count(usage) == 0) event(usage, false);
    for (USAGE usage : state.down)
        if (usage >= 0xE0 && down.count(usage) == 0) event(usage, false);
    for (USAGE usage : down)
        if (usage >= 0xE0 && state.down.count(usage) == 0) event(usage, true);
    for (USAGE usage : down)
        if (usage < 0xE0 && state.down.count(usage) == 0) event(usage, true);
    state.down = down;
    return events;
}

template <typename T>
T not_here(DWORD error, T result) {
    return fail_with<T>(error, result);
}

}  // namespace

bool user32_scan_code(uint8_t usage, USHORT* make, bool* e0) {
    for (const scan_entry& entry : kScanCodes) {
        if (entry.usage != usage) continue;
        *make = static_cast<USHORT>(entry.code & 0xFF);
        *e0 = entry.code > 0xFF;
        return true;
    }
    return false;
}

void user32_reset() { u() = user32_state(); }

int user32_open_windows() { return static_cast<int>(u().windows.size()); }

void user32_take_input(size_t iface_index, const input_report& report) {
    const bus_interface& iface = sys().bus[iface_index];
    if (iface.kind != collection_kind::input) return;
    hid_parsed parsed;
    const device_descriptor d = device_input_of(static_cast<device_input>(iface.input)).descriptor;
    if (!hid_parse(d.bytes, d.size, &parsed)) return;
    // The class drivers keep their state whether anyone listens or not.
    std::vector<std::vector<uint8_t>> records;
    if (iface.input == DEVICE_INPUT_MOUSE) {
        records = mouse_events(iface_index, parsed, report);
    } else if (iface.input == DEVICE_INPUT_KEYBOARD) {
        records = keyboard_events(iface_index, parsed, report);
    } else {
        records.push_back(raw_record(iface_index, RIM_TYPEHID, 8 + report.size()));
        RAWHID hid = {};
        hid.dwSizeHid = static_cast<DWORD>(report.size());
        hid.dwCount = 1;
        std::memcpy(records.back().data() + offsetof(RAWINPUT, data), &hid, offsetof(RAWHID, bRawData));
        std::memcpy(records.back().data() + offsetof(RAWINPUT, data) + offsetof(RAWHID, bRawData), report.data(),
                    report.size());
    }
    // Only a window registered for the usage with RIDEV_INPUTSINK hears a
    // device while it is not in the foreground, and a message-only window never is.
    for (const RAWINPUTDEVICE& r : u().registered) {
        if (r.usUsagePage != iface.usage_page || r.usUsage != iface.usage) continue;
        if ((r.dwFlags & RIDEV_INPUTSINK) == 0) return;
        const window* target = find_window(r.hwndTarget);
        if (target == nullptr) return;
        for (std::vector<uint8_t>& record : records) {
            const uintptr_t handle = u().next_raw += 4;
            u().raw[handle] = std::move(record);
            MSG message = {};
            message.hwnd = r.hwndTarget;
            message.message = WM_INPUT;
            message.wParam = RIM_INPUTSINK;
            message.lParam = static_cast<LPARAM>(handle);
            post(target->thread, message);
        }
        return;
    }
}

HMODULE GetModuleHandleA(LPCSTR name) {
    system_call call;
    if (name == nullptr) return succeed_with(kModule);
    return not_here<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
}

ATOM RegisterClassExA(const WNDCLASSEXA* c) {
    system_call call;
    if (maybe_inject("RegisterClassExA")) return 0;
    if (c == nullptr || c->cbSize != sizeof(WNDCLASSEXA) || c->lpfnWndProc == nullptr || c->lpszClassName == nullptr ||
        c->lpszClassName[0] == 0)
        return not_here<ATOM>(ERROR_INVALID_PARAMETER, 0);
    const std::string name = lower(c->lpszClassName);
    if (u().classes.count(name) != 0) return not_here<ATOM>(ERROR_CLASS_ALREADY_EXISTS, 0);
    const ATOM atom = u().next_atom++;
    u().classes[name] = {c->lpfnWndProc, c->hInstance, atom};
    return succeed_with(atom);
}

BOOL UnregisterClassA(LPCSTR name, HINSTANCE) {
    system_call call;
    const std::string key = lower(name);
    if (u().classes.count(key) == 0) return not_here<BOOL>(ERROR_CLASS_DOES_NOT_EXIST, FALSE);
    for (const auto& entry : u().windows)
        if (entry.second.class_name == key) return not_here<BOOL>(ERROR_CLASS_HAS_WINDOWS, FALSE);
    u().classes.erase(key);
    return succeed_with<BOOL>(TRUE);
}

HWND CreateWindowExA(DWORD, LPCSTR class_name, LPCSTR, DWORD, int, int, int, int, HWND parent, HMENU, HINSTANCE,
                     LPVOID) {
    system_call call;
    if (maybe_inject("CreateWindowExA")) return nullptr;
    const std::string key = lower(class_name);
    auto it = u().classes.find(key);
    if (it == u().classes.end()) return not_here<HWND>(ERROR_CANNOT_FIND_WND_CLASS, nullptr);
    if (parent != nullptr && parent != HWND_MESSAGE && find_window(parent) == nullptr)
        return not_here<HWND>(ERROR_INVALID_WINDOW_HANDLE, nullptr);
    const uintptr_t hwnd = u().next_window += 2;
    u().windows[hwnd] = {key, it->second.proc, threads_thread_id(), 0};
    own_queue();
    return succeed_with(reinterpret_cast<HWND>(hwnd));
}

BOOL DestroyWindow(HWND hwnd) {
    system_call call;
    window* w = find_window(hwnd);
    if (w == nullptr) return not_here<BOOL>(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    // Only the thread that made a window may destroy it.
    if (w->thread != threads_thread_id()) return not_here<BOOL>(ERROR_ACCESS_DENIED, FALSE);
    const WNDPROC proc = w->proc;
    {
        system_released unlocked;
        proc(hwnd, WM_DESTROY, 0, 0);
    }
    thread_queue& queue = own_queue();
    for (auto it = queue.messages.begin(); it != queue.messages.end();) {
        if (it->hwnd != hwnd) {
            ++it;
            continue;
        }
        if (it->message == WM_INPUT) u().raw.erase(static_cast<uintptr_t>(it->lParam));
        it = queue.messages.erase(it);
    }
    u().windows.erase(reinterpret_cast<uintptr_t>(hwnd));
    return succeed_with<BOOL>(TRUE);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    system_call call;
    window* w = find_window(hwnd);
    if (w == nullptr) return not_here<LONG_PTR>(ERROR_INVALID_WINDOW_HANDLE, 0);
    if (index != GWLP_USERDATA) return not_here<LONG_PTR>(ERROR_INVALID_PARAMETER, 0);
    const LONG_PTR old = w->user_data;
    w->user_data = value;
    set_last_error(0);  // 0 and no error: the old value was 0
    return old;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    system_call call;
    window* w = find_window(hwnd);
    if (w == nullptr) return not_here<LONG_PTR>(ERROR_INVALID_WINDOW_HANDLE, 0);
    if (index != GWLP_USERDATA) return not_here<LONG_PTR>(ERROR_INVALID_PARAMETER, 0);
    return w->user_data;
}

BOOL GetMessageA(LPMSG message, HWND hwnd, UINT low, UINT high) {
    system_call call;
    if (message == nullptr) return not_here<BOOL>(ERROR_NOACCESS, -1);
    if (hwnd != nullptr && hwnd != reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)) && find_window(hwnd) == nullptr)
        return not_here<BOOL>(ERROR_INVALID_WINDOW_HANDLE, -1);
    const DWORD me = threads_thread_id();
    own_queue().fresh = false;
    threads_wait_until([&] {
        const thread_queue& queue = u().queues[me];
        for (const MSG& m : queue.messages)
            if (matches(m, hwnd, low, high) || m.message == WM_QUIT) return true;
        return false;
    }, INFINITE);
    thread_queue& queue = own_queue();
    queue.fresh = false;
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (it->message != WM_QUIT || matches(*it, hwnd, low, high)) continue;
        *message = *it;
        queue.messages.erase(it);
        return succeed_with<BOOL>(FALSE);
    }
    take(queue, message, hwnd, low, high, true);
    return succeed_with<BOOL>(message->message == WM_QUIT ? FALSE : TRUE);
}

BOOL PeekMessageA(LPMSG message, HWND hwnd, UINT low, UINT high, UINT remove) {
    system_call call;
    if (message == nullptr) return not_here<BOOL>(ERROR_NOACCESS, FALSE);
    thread_queue& queue = own_queue();
    queue.fresh = false;
    return succeed_with<BOOL>(take(queue, message, hwnd, low, high, (remove & PM_REMOVE) != 0) ? TRUE : FALSE);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* message) {
    system_call call;
    if (message == nullptr || message->hwnd == nullptr) return 0;
    const window* w = find_window(message->hwnd);
    if (w == nullptr) return not_here<LRESULT>(ERROR_INVALID_WINDOW_HANDLE, 0);
    const WNDPROC proc = w->proc;
    system_released unlocked;
    return proc(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL PostMessageA(HWND hwnd, UINT code, WPARAM wparam, LPARAM lparam) {
    system_call call;
    if (hwnd == nullptr) return PostThreadMessageA(threads_thread_id(), code, wparam, lparam);
    const window* w = find_window(hwnd);
    if (w == nullptr) return not_here<BOOL>(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (u().queues[w->thread].messages.size() >= kPostedQuota) return not_here<BOOL>(ERROR_NOT_ENOUGH_QUOTA, FALSE);
    MSG m = {};
    m.hwnd = hwnd;
    m.message = code;
    m.wParam = wparam;
    m.lParam = lparam;
    post(w->thread, m);
    return succeed_with<BOOL>(TRUE);
}

BOOL PostThreadMessageA(DWORD thread, UINT code, WPARAM wparam, LPARAM lparam) {
    system_call call;
    // A thread that has not yet asked for a queue has none to post to.
    auto it = u().queues.find(thread);
    if (it == u().queues.end()) return not_here<BOOL>(ERROR_INVALID_THREAD_ID, FALSE);
    if (it->second.messages.size() >= kPostedQuota) return not_here<BOOL>(ERROR_NOT_ENOUGH_QUOTA, FALSE);
    MSG m = {};
    m.message = code;
    m.wParam = wparam;
    m.lParam = lparam;
    post(thread, m);
    return succeed_with<BOOL>(TRUE);
}

void PostQuitMessage(int code) {
    system_call call;
    MSG m = {};
    m.message = WM_QUIT;
    m.wParam = static_cast<WPARAM>(code);
    post(threads_thread_id(), m);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds, DWORD mask) {
    system_call call;
    if (count > 0 && handles == nullptr) return not_here<DWORD>(ERROR_NOACCESS, WAIT_FAILED);
    const DWORD me = threads_thread_id();
    own_queue();
    // Only what arrived since the thread last looked at its queue wakes it.
    return threads_wait_any(handles, count, wait_all != FALSE, milliseconds, [&] { return wakes(u().queues[me], mask); });
}

BOOL RegisterRawInputDevices(PCRAWINPUTDEVICE devices, UINT count, UINT size) {
    system_call call;
    if (maybe_inject("RegisterRawInputDevices")) return FALSE;
    if (devices == nullptr || count == 0 || size != sizeof(RAWINPUTDEVICE))
        return not_here<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
    // All or none: each is checked before any takes effect.
    for (UINT i = 0; i < count; ++i) {
        const RAWINPUTDEVICE& d = devices[i];
        if ((d.dwFlags & RIDEV_REMOVE) && d.hwndTarget != nullptr) return not_here<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
        if ((d.dwFlags & RIDEV_INPUTSINK) && d.hwndTarget == nullptr)
            return not_here<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
        if (d.hwndTarget != nullptr && find_window(d.hwndTarget) == nullptr)
            return not_here<BOOL>(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    }
    for (UINT i = 0; i < count; ++i) {
        const RAWINPUTDEVICE& d = devices[i];
        auto& all = u().registered;
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [&](const RAWINPUTDEVICE& r) {
                                     return r.usUsagePage == d.usUsagePage && r.usUsage == d.usUsage;
                                 }),
                  all.end());
        if ((d.dwFlags & RIDEV_REMOVE) == 0) all.push_back(d);
    }
    return succeed_with<BOOL>(TRUE);
}

UINT GetRawInputData(HRAWINPUT input, UINT command, LPVOID data, PUINT size, UINT header_size) {
    system_call call;
    const UINT failed = static_cast<UINT>(-1);
    if (maybe_inject("GetRawInputData")) return failed;
    if (header_size != sizeof(RAWINPUTHEADER) || (command != RID_INPUT && command != RID_HEADER))
        return not_here<UINT>(ERROR_INVALID_PARAMETER, failed);
    if (size == nullptr) return not_here<UINT>(ERROR_NOACCESS, failed);
    auto it = u().raw.find(reinterpret_cast<uintptr_t>(input));
    if (it == u().raw.end()) return not_here<UINT>(ERROR_INVALID_HANDLE, failed);
    const UINT needed = command == RID_HEADER ? sizeof(RAWINPUTHEADER) : static_cast<UINT>(it->second.size());
    if (data == nullptr) {
        *size = needed;
        return succeed_with<UINT>(0);
    }
    if (*size < needed) return not_here<UINT>(ERROR_INSUFFICIENT_BUFFER, failed);
    std::memcpy(data, it->second.data(), needed);
    return succeed_with(needed);
}

UINT GetRawInputDeviceInfoA(HANDLE device, UINT command, LPVOID data, PUINT size) {
    system_call call;
    const UINT failed = static_cast<UINT>(-1);
    if (maybe_inject("GetRawInputDeviceInfoA")) return failed;
    if (size == nullptr) return not_here<UINT>(ERROR_NOACCESS, failed);
    const bus_interface* iface = raw_device(device);
    if (iface == nullptr) return not_here<UINT>(ERROR_INVALID_HANDLE, failed);
    if (command != RIDI_DEVICENAME) return not_here<UINT>(ERROR_INVALID_PARAMETER, failed);
    // Counted in characters, the terminator included.
    const std::string name = raw_device_name(*iface);
    const UINT needed = static_cast<UINT>(name.size() + 1);
    if (data == nullptr) {
        *size = needed;
        return succeed_with<UINT>(0);
    }
    if (*size < needed) {
        *size = needed;
        return not_here<UINT>(ERROR_INSUFFICIENT_BUFFER, failed);
    }
    std::memcpy(data, name.c_str(), needed);
    return succeed_with(needed);
}
