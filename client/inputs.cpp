// The input collections: found by the same identity check as discovery's,
// tied to the device by the instance part of their path, and read on threads
// of their own so that a report is taken as soon as the driver delivers it.

#include "client/inputs.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "client/quorvex_client.h"
#include "layout/report_layout.h"

const quorvex_input_contract QUORVEX_INPUTS[QUORVEX_INPUT_KINDS] = {
    {"multitouch", "Touch Screen", 0x000D, 0x0004, QUORVEX_REPORT_MULTITOUCH},
    {"mouse", "Mouse", 0x0001, 0x0002, QUORVEX_REPORT_MOUSE},
    {"digitizer", "Pen", 0x000D, 0x0002, QUORVEX_REPORT_DIGITIZER},
    {"joystick", "Joystick", 0x0001, 0x0004, QUORVEX_REPORT_JOYSTICK},
    {"keyboard", "Keyboard", 0x0001, 0x0006, QUORVEX_REPORT_KEYBOARD},
};

bool quorvex_input_of_report(uint8_t report_id, quorvex_input_kind* kind) {
    for (int i = 0; i < QUORVEX_INPUT_KINDS; ++i)
        if (QUORVEX_INPUTS[i].report_id == report_id) {
            *kind = static_cast<quorvex_input_kind>(i);
            return true;
        }
    return false;
}

bool quorvex_input_of_usage(uint16_t usage_page, uint16_t usage, quorvex_input_kind* kind) {
    for (int i = 0; i < QUORVEX_INPUT_KINDS; ++i)
        if (QUORVEX_INPUTS[i].usage_page == usage_page && QUORVEX_INPUTS[i].usage == usage) {
            *kind = static_cast<quorvex_input_kind>(i);
            return true;
        }
    return false;
}

namespace {

// One '#'-separated part of a device path ("\\?\hid#HARDWARE#INSTANCE#{class}"),
// or an empty one when the path has fewer.
struct path_part {
    const char* at;
    size_t length;
};

path_part part_of(const char* path, int index) {
    const char* at = path;
    for (int i = 0; i < index; ++i) {
        at = std::strchr(at, '#');
        if (at == nullptr) return {"", 0};
        ++at;
    }
    const char* end = std::strchr(at, '#');
    return {at, end != nullptr ? static_cast<size_t>(end - at) : std::strlen(at)};
}

bool starts_with(const char* at, size_t length, const char* lower) {
    const size_t n = std::strlen(lower);
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(at[i])) != lower[i]) return false;
    return true;
}

// The hardware part without its "&colNN", which each collection has its own of.
path_part without_collection(path_part hardware) {
    for (size_t i = 0; i < hardware.length; ++i)
        if (hardware.at[i] == '&' && starts_with(hardware.at + i, hardware.length - i, "&col"))
            return {hardware.at, i};
    return hardware;
}

// The instance part without its last "&N", the collection's number.
path_part without_number(path_part instance) {
    for (size_t i = instance.length; i > 0; --i)
        if (instance.at[i - 1] == '&') return {instance.at, i - 1};
    return instance;
}

bool same_text(path_part a, path_part b) {
    if (a.length != b.length) return false;
    for (size_t i = 0; i < a.length; ++i)
        if (std::tolower(static_cast<unsigned char>(a.at[i])) != std::tolower(static_cast<unsigned char>(b.at[i])))
            return false;
    return true;
}

// Where each collection was found.
char g_paths[QUORVEX_INPUT_KINDS][512];

struct reader {
    quorvex_inputs* inputs;
    quorvex_input_kind kind;
};
// Static: a reader that would not stop may still run after the run's records are gone.
reader g_readers[QUORVEX_INPUT_KINDS + 1];
// Each reader's thread ID, once it runs: what a cancel opens it by.
std::atomic<DWORD> g_reader_ids[QUORVEX_INPUT_KINDS + 1];

// Cancels the read a reader may be waiting in; false when it has not yet said who it is.
void cancel_read(int which) {
    const DWORD id = g_reader_ids[which].load();
    if (id == 0) return;
    HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, id);
    if (thread == nullptr) return;
    CancelSynchronousIo(thread);
    CloseHandle(thread);
}

DWORD WINAPI read_reports(LPVOID parameter) {
    const reader* self = static_cast<const reader*>(parameter);
    g_reader_ids[self->kind] = GetCurrentThreadId();
    quorvex_inputs* inputs = self->inputs;
    quorvex_input_collection* collection = &inputs->collections[self->kind];
    uint8_t report[QUORVEX_INPUT_REPORT_MAX];
    DWORD want = collection->input_length;
    if (want == 0 || want > sizeof(report)) want = sizeof(report);
    while (!inputs->stopping.load()) {
        DWORD got = 0;
        if (!ReadFile(collection->handle, report, want, &got, nullptr)) {
            if (!inputs->stopping.load()) collection->read_error = GetLastError();
            return 0;
        }
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        inputs->sink(inputs->context, self->kind, report, got, now.QuadPart);
    }
    return 0;
}

bool covers(const HIDP_VALUE_CAPS& cap, USAGE usage) {
    if (cap.UsagePage != 0x0001) return false;
    return cap.IsRange ? cap.Range.UsageMin <= usage && usage <= cap.Range.UsageMax : cap.NotRange.Usage == usage;
}

// The X and Y logical ranges the collection declares, which Raw Input's
// absolute positions are normalized over.
void read_ranges(const char* path, quorvex_input_collection* collection) {
    collection->x_min = collection->y_min = 0;
    collection->x_max = collection->y_max = 0;
    HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (HidD_GetPreparsedData(probe, &preparsed)) {
        HIDP_VALUE_CAPS caps[8];
        USHORT count = 8;
        if (HidP_GetValueCaps(HidP_Input, caps, &count, preparsed) == HIDP_STATUS_SUCCESS) {
            for (USHORT i = 0; i < count && i < 8; ++i) {
                if (covers(caps[i], 0x30)) {
                    collection->x_min = caps[i].LogicalMin;
                    collection->x_max = caps[i].LogicalMax;
                }
                if (covers(caps[i], 0x31)) {
                    collection->y_min = caps[i].LogicalMin;
                    collection->y_max = caps[i].LogicalMax;
                }
            }
        }
        HidD_FreePreparsedData(preparsed);
    }
    CloseHandle(probe);
}

// One present interface: an input collection of the device, opened for reading.
void consider(quorvex_inputs* inputs, const char* path, const char* control_path) {
    if (!quorvex_same_device(path, control_path)) return;
    HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return;
    hid_identity seen;
    const hid_verdict verdict = CheckIdentity(probe, false, &seen);
    CloseHandle(probe);
    quorvex_input_kind kind;
    if (verdict != hid_verdict::other_collection || !quorvex_input_of_usage(seen.caps.UsagePage, seen.caps.Usage, &kind))
        return;
    quorvex_input_collection* collection = &inputs->collections[kind];
    if (collection->path != input_path::missing) return;  // the first of a usage is the one
    const size_t length = std::strlen(path);
    if (length < sizeof(g_paths[kind])) std::memcpy(g_paths[kind], path, length + 1);
    collection->input_length = seen.caps.InputReportByteLength;
    const layout_kind* layout = layout_kind_of(QUORVEX_INPUTS[kind].report_id);
    collection->follows = layout != nullptr && collection->input_length == layout->length;
    if (kind == QUORVEX_INPUT_MOUSE) read_ranges(path, collection);
    HANDLE device = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    collection->open_error = device == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (device != INVALID_HANDLE_VALUE && quorvex_force_raw_input && kind != QUORVEX_INPUT_MOUSE &&
        kind != QUORVEX_INPUT_KEYBOARD) {
        CloseHandle(device);
        collection->path = input_path::held;
    } else if (device == INVALID_HANDLE_VALUE) {
        collection->path = collection->open_error == ERROR_ACCESS_DENIED || collection->open_error == 32
                               ? input_path::held
                               : input_path::refused;
    } else {
        collection->path = input_path::read;
        collection->handle = device;
    }
}

}  // namespace

bool quorvex_force_raw_input = false;

const char* quorvex_input_path(quorvex_input_kind kind) { return g_paths[kind]; }

bool quorvex_same_collection(const char* a, const char* b) {
    const path_part hardware = part_of(a, 1);
    return hardware.length != 0 && same_text(hardware, part_of(b, 1)) && same_text(part_of(a, 2), part_of(b, 2));
}

bool quorvex_same_device(const char* a, const char* b) {
    const path_part hardware = without_collection(part_of(a, 1));
    return hardware.length != 0 && same_text(hardware, without_collection(part_of(b, 1))) &&
           same_text(without_number(part_of(a, 2)), without_number(part_of(b, 2)));
}

bool quorvex_inputs_start(quorvex_inputs* inputs, quorvex_input_sink sink, quorvex_event_sink event_sink,
                          void* context, DWORD timeout_ms) {
    std::memset(inputs->collections, 0, sizeof(inputs->collections));
    std::memset(g_paths, 0, sizeof(g_paths));
    inputs->raw_thread = nullptr;
    inputs->raw_thread_id = 0;
    inputs->event_sink = event_sink;
    inputs->sink = sink;
    inputs->context = context;
    inputs->stopping = false;
    // A tester's switch, and the end-to-end tests': where nothing is held (as
    // under Wine), the Raw Input path is tried only when asked for.
    char forced[4];
    quorvex_force_raw_input =
        GetEnvironmentVariableA("QUORVEX_RAW_INPUT", forced, sizeof(forced)) == 1 && forced[0] == '1';
    const char* control_path = FoundPath(QUORVEX_USAGE_CONTROL);
    GUID hid_guid;
    HDEVINFO set = PresentHidInterfaces(&hid_guid);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = static_cast<DWORD>(sizeof(data));
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &data); ++index) {
        bool out_of_memory = false;
        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail = GetInterfaceDetail(set, &data, &out_of_memory);
        if (detail == nullptr) continue;
        consider(inputs, detail->DevicePath, control_path);
        host_free(detail);
    }
    SetupDiDestroyDeviceInfoList(set);

    for (int i = 0; i < QUORVEX_INPUT_KINDS; ++i) {
        quorvex_input_collection* collection = &inputs->collections[i];
        if (collection->path != input_path::read) continue;
        // Enough that the driver's bursts never overwrite a report before it is read.
        if (!HidD_SetNumInputBuffers(collection->handle, QUORVEX_INPUT_BUFFERS)) {
            printf("Error: HidD_SetNumInputBuffers failed on the %s input collection: %d\n", QUORVEX_INPUTS[i].name,
                   static_cast<int>(GetLastError()));
            quorvex_inputs_stop(inputs, timeout_ms);
            return false;
        }
        g_readers[i] = {inputs, static_cast<quorvex_input_kind>(i)};
        collection->thread = CreateThread(nullptr, 0, read_reports, &g_readers[i], 0, nullptr);
        if (collection->thread == nullptr) {
            printf("Error: CreateThread failed for the %s input collection's reader: %d\n", QUORVEX_INPUTS[i].name,
                   static_cast<int>(GetLastError()));
            quorvex_inputs_stop(inputs, timeout_ms);
            return false;
        }
    }
    for (const quorvex_input_collection& collection : inputs->collections) {
        if (collection.path != input_path::held) continue;
        if (!quorvex_raw_input_start(inputs)) {
            quorvex_inputs_stop(inputs, timeout_ms);
            return false;
        }
        break;
    }
    return true;
}

void quorvex_inputs_stop(quorvex_inputs* inputs, DWORD timeout_ms) {
    inputs->stopping = true;
    quorvex_raw_input_stop(inputs, timeout_ms);
    // A read may be waiting for a report that never comes: cancel each, again
    // if it began after the cancel before, until all have ended or the
    // deadline has passed; a reader that will not end is left behind.
    for (DWORD waited = 0;; waited += 10) {
        bool running = false;
        for (int i = 0; i <= QUORVEX_INPUT_KINDS; ++i) {
            HANDLE thread = inputs->collections[i].thread;
            if (thread == nullptr || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) continue;
            running = true;
            cancel_read(i);
        }
        if (!running || waited >= timeout_ms) break;
        Sleep(10);
    }
    for (int i = 0; i <= QUORVEX_INPUT_KINDS; ++i) {
        quorvex_input_collection* collection = &inputs->collections[i];
        g_reader_ids[i] = 0;
        if (collection->thread != nullptr) {
            CloseHandle(collection->thread);
            collection->thread = nullptr;
        }
        // The message collection's handle is the client's.
        if (collection->handle != nullptr && i != QUORVEX_INPUT_MESSAGE) CloseHandle(collection->handle);
        collection->handle = nullptr;
    }
}

bool quorvex_inputs_read_messages(quorvex_inputs* inputs, HANDLE message) {
    quorvex_input_collection* collection = &inputs->collections[QUORVEX_INPUT_MESSAGE];
    collection->path = input_path::read;
    collection->handle = message;
    collection->input_length = QUORVEX_MESSAGE_REPORT_SIZE;
    g_readers[QUORVEX_INPUT_MESSAGE] = {inputs, QUORVEX_INPUT_MESSAGE};
    collection->thread = CreateThread(nullptr, 0, read_reports, &g_readers[QUORVEX_INPUT_MESSAGE], 0, nullptr);
    if (collection->thread != nullptr) return true;
    printf("Error: CreateThread failed for the message collection's reader: %d\n", static_cast<int>(GetLastError()));
    collection->handle = nullptr;
    return false;
}
