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

struct reader {
    quorvex_inputs* inputs;
    quorvex_input_kind kind;
};
// Static: a reader that would not stop may still run after the run's records are gone.
reader g_readers[QUORVEX_INPUT_KINDS];

DWORD WINAPI read_reports(LPVOID parameter) {
    const reader* self = static_cast<const reader*>(parameter);
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
    collection->input_length = seen.caps.InputReportByteLength;
    const layout_kind* layout = layout_kind_of(QUORVEX_INPUTS[kind].report_id);
    collection->follows = layout != nullptr && collection->input_length == layout->length;
    HANDLE device = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    collection->open_error = device == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (device == INVALID_HANDLE_VALUE) {
        collection->path = collection->open_error == ERROR_ACCESS_DENIED || collection->open_error == 32
                               ? input_path::held
                               : input_path::refused;
    } else {
        collection->path = input_path::read;
        collection->handle = device;
    }
}

}  // namespace

bool quorvex_same_device(const char* a, const char* b) {
    const path_part hardware = without_collection(part_of(a, 1));
    return hardware.length != 0 && same_text(hardware, without_collection(part_of(b, 1))) &&
           same_text(without_number(part_of(a, 2)), without_number(part_of(b, 2)));
}

bool quorvex_inputs_start(quorvex_inputs* inputs, quorvex_input_sink sink, void* context) {
    std::memset(inputs->collections, 0, sizeof(inputs->collections));
    inputs->sink = sink;
    inputs->context = context;
    inputs->stopping = false;
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
            quorvex_inputs_stop(inputs, 0);
            return false;
        }
        g_readers[i] = {inputs, static_cast<quorvex_input_kind>(i)};
        collection->thread = CreateThread(nullptr, 0, read_reports, &g_readers[i], 0, nullptr);
        if (collection->thread == nullptr) {
            printf("Error: CreateThread failed for the %s input collection's reader: %d\n", QUORVEX_INPUTS[i].name,
                   static_cast<int>(GetLastError()));
            quorvex_inputs_stop(inputs, 0);
            return false;
        }
    }
    return true;
}

void quorvex_inputs_stop(quorvex_inputs* inputs, DWORD timeout_ms) {
    inputs->stopping = true;
    for (int i = 0; i < QUORVEX_INPUT_KINDS; ++i) {
        quorvex_input_collection* collection = &inputs->collections[i];
        if (collection->thread != nullptr) {
            // A read may be waiting for a report that never comes: cancel it,
            // again if it began after the first cancel, until the deadline.
            DWORD waited = 0;
            while (WaitForSingleObject(collection->thread, 0) != WAIT_OBJECT_0) {
                CancelSynchronousIo(collection->thread);
                if (waited >= timeout_ms) break;
                WaitForSingleObject(collection->thread, 10);
                waited += 10;
            }
            CloseHandle(collection->thread);
            collection->thread = nullptr;
        }
        if (collection->handle != nullptr) CloseHandle(collection->handle);
        collection->handle = nullptr;
    }
}
