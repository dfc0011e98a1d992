// /list: every present HID interface, what it says it is, whether the modes
// could open it, and why it is or is not a quorvex collection. It shares
// discovery's path query, open and identity check, and prints its own words.

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "client/inputs.h"
#include "client/quorvex_client.h"
#include "layout/report_layout.h"

namespace {

// A quiet listing (the wait for a device still arriving) finds the same and
// prints nothing.
bool g_quiet = false;

void say(const char* format, ...) {
    if (g_quiet) return;
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
}

// What the listing found of one quorvex collection.
struct collection_state {
    bool present;
    bool opens;
    DWORD error;  // of the read/write open, when it failed
};

const char* error_meaning(DWORD error) {
    switch (error) {
        case 2: return " (file not found)";
        case 3: return " (path not found)";
        case 5: return " (access denied: the system holds it)";
        case 32: return " (sharing violation: another program holds it)";
        default: return "";
    }
}

void print_identity(hid_verdict verdict, const hid_identity& seen) {
    switch (verdict) {
        case hid_verdict::no_preparsed: say("    identity: unreadable (HidD_GetPreparsedData failed)\n"); return;
        case hid_verdict::no_attributes: say("    identity: unreadable (HidD_GetAttributes failed)\n"); return;
        default: break;
    }
    say("    identity: VID 0x%04x, PID 0x%04x", static_cast<unsigned>(seen.attributes.VendorID),
           static_cast<unsigned>(seen.attributes.ProductID));
    if (seen.caps_read)
        say(", usage page 0x%04x, usage 0x%04x, input report %u bytes, output report %u bytes, feature report %u "
            "bytes\n",
            static_cast<unsigned>(seen.caps.UsagePage), static_cast<unsigned>(seen.caps.Usage),
            static_cast<unsigned>(seen.caps.InputReportByteLength),
            static_cast<unsigned>(seen.caps.OutputReportByteLength),
            static_cast<unsigned>(seen.caps.FeatureReportByteLength));
    else
        say(", capabilities unreadable (HidP_GetCaps failed)\n");
}

// One of the device's strings as the class driver gives it, UTF-16: printed
// as ASCII, each other character as \uXXXX, since the console's code page
// differs from machine to machine.
// The three getters share one type, calling convention included.
using string_getter = decltype(&HidD_GetProductString);

void print_string(const char* name, string_getter get, HANDLE device) {
    // The most a USB string descriptor holds, and the terminator.
    uint8_t text[2 * 128] = {};
    if (!get(device, text, sizeof(text) - 2)) {
        say("%s unreadable (error %d)", name, static_cast<int>(GetLastError()));
        return;
    }
    say("%s \"", name);
    for (size_t i = 0; i + 1 < sizeof(text); i += 2) {
        const unsigned unit = static_cast<unsigned>(text[i] | text[i + 1] << 8);
        if (unit == 0) break;
        if (unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\') say("%c", static_cast<char>(unit));
        else say("\\u%04x", unit);
    }
    say("\"");
}

void print_strings(HANDLE device) {
    say("    strings: ");
    print_string("manufacturer", HidD_GetManufacturerString, device);
    print_string(", product", HidD_GetProductString, device);
    print_string(", serial number", HidD_GetSerialNumberString, device);
    say("\n");
}

const char* verdict_text(hid_verdict verdict, const hid_identity& seen) {
    switch (verdict) {
        case hid_verdict::quorvex:
            return seen.caps.Usage == QUORVEX_USAGE_CONTROL ? "the quorvex control collection"
                                                            : "the quorvex message collection";
        case hid_verdict::other_device: return "not quorvex: another vendor or product";
        case hid_verdict::other_collection: {
            quorvex_input_kind kind;
            if (!quorvex_input_of_usage(seen.caps.UsagePage, seen.caps.Usage, &kind))
                return "not quorvex: the quorvex IDs on another usage page or usage";
            return nullptr;  // an input collection, said by say_input
        }
        default: return "not quorvex: identity unreadable";
    }
}

// One of the device's input collections: how the tool would read it, and
// whether its input report is its kind's (the report ID is seen only in the
// reports themselves).
void say_input(const hid_identity& seen, DWORD open_error) {
    quorvex_input_kind kind;
    quorvex_input_of_usage(seen.caps.UsagePage, seen.caps.Usage, &kind);
    const quorvex_input_contract& c = QUORVEX_INPUTS[kind];
    char name[32];
    snprintf(name, sizeof(name), "%s", c.name);
    for (char* at = name; *at != '\0'; ++at) *at = static_cast<char>(std::tolower(static_cast<unsigned char>(*at)));
    const layout_kind* layout = layout_kind_of(c.report_id);
    const bool follows = layout != nullptr && seen.caps.InputReportByteLength == layout->length;
    const char* how = open_error == 0 ? "read by the tool"
                      : open_error == 5 || open_error == 32 ? "Raw Input: the system holds it"
                                                             : "not readable";
    say("    verdict: the quorvex %s input collection (%s)", name, how);
    if (!follows)
        say("; it does not follow the device's contract: its input report is %u bytes, report 0x%02x's is %u",
            static_cast<unsigned>(seen.caps.InputReportByteLength), static_cast<unsigned>(c.report_id),
            layout != nullptr ? static_cast<unsigned>(layout->length) : 0u);
    say("\n");
}

// One present interface: its path, identity through a zero-access open, the
// open the modes make, and the verdict.
void list_interface(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, DWORD index, collection_state* control,
                    collection_state* message) {
    bool out_of_memory = false;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail = GetInterfaceDetail(set, data, &out_of_memory);
    if (detail == nullptr) {
        say("[%u] device path unreadable (%s)\n    verdict: not quorvex: identity unreadable\n",
               static_cast<unsigned>(index), out_of_memory ? "out of memory" : "SetupDiGetDeviceInterfaceDetail failed");
        return;
    }
    const char* path = detail->DevicePath[0] != '\0' ? detail->DevicePath : "(empty device path)";
    say("[%u] %s\n", static_cast<unsigned>(index), path);

    // Windows grants an open without access even on the collections it holds
    // for itself, and lets the identity be read through it.
    hid_verdict verdict = hid_verdict::no_preparsed;
    hid_identity seen;
    std::memset(&seen, 0, sizeof(seen));
    HANDLE probe = CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        say("    identity: unreadable (zero-access open failed: error %d)\n", static_cast<int>(GetLastError()));
    } else {
        verdict = CheckIdentity(probe, true, &seen);
        print_identity(verdict, seen);
        // Through the same open: what tells two devices of one kind apart.
        print_strings(probe);
        CloseHandle(probe);
    }

    HANDLE device = OpenForTransfers(detail->DevicePath);
    const DWORD error = device == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (device == INVALID_HANDLE_VALUE) {
        say("    read/write open: no, error %d%s\n", static_cast<int>(error), error_meaning(error));
    } else {
        CloseHandle(device);
        say("    read/write open: yes\n");
    }
    if (const char* text = verdict_text(verdict, seen)) {
        say("    verdict: %s\n", text);
    } else {
        // /verify reads with an open of its own, for reading, sharing read and write.
        HANDLE reader = CreateFileA(detail->DevicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        const DWORD read_error = reader == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        say_input(seen, read_error);
    }
    host_free(detail);

    if (verdict != hid_verdict::quorvex) return;
    collection_state* state = seen.caps.Usage == QUORVEX_USAGE_CONTROL ? control : message;
    // The modes take the first one that opens, so one that opens is enough.
    if (state->present && state->opens) return;
    state->present = true;
    state->opens = device != INVALID_HANDLE_VALUE;
    state->error = error;
}

// Device paths carry the IDs as "vid_001f&pid_ba1c", in either case.
bool names_quorvex(const char* path) {
    char ids[24];
    const int want = snprintf(ids, sizeof(ids), "vid_%04x&pid_%04x", static_cast<unsigned>(QUORVEX_VENDOR_ID),
                              static_cast<unsigned>(QUORVEX_PRODUCT_ID));
    for (const char* at = path; *at != '\0'; ++at) {
        int i = 0;
        while (i < want && std::tolower(static_cast<unsigned char>(at[i])) == ids[i]) ++i;
        if (i == want) return true;
    }
    return false;
}

// The interfaces listed only without DIGCF_PRESENT: registered, but their
// device is gone. The quorvex ones are named, since "driver installed, device
// unplugged" is a common reason the search fails.
void list_not_present(const GUID& hid_guid) {
    HDEVINFO set = SetupDiGetClassDevsA(&hid_guid, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        say("Not present: unknown (SetupDiGetClassDevs failed: %x)\n", static_cast<unsigned>(GetLastError()));
        return;
    }
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = static_cast<DWORD>(sizeof(data));
    unsigned absent = 0;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &data); ++index)
        if ((data.Flags & SPINT_ACTIVE) == 0) ++absent;

    say("Not present (known to the system, device gone): %u interface(s)", absent);
    const char* separator = "; quorvex: ";
    for (DWORD index = 0; absent != 0 && SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &data); ++index) {
        if ((data.Flags & SPINT_ACTIVE) != 0) continue;
        bool out_of_memory = false;
        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail = GetInterfaceDetail(set, &data, &out_of_memory);
        if (detail == nullptr) continue;
        if (names_quorvex(detail->DevicePath)) {
            say("%s%s", separator, detail->DevicePath);
            separator = ", ";
        }
        host_free(detail);
    }
    say("\n");
    SetupDiDestroyDeviceInfoList(set);
}

void print_collection(const char* name, const collection_state& state) {
    say("; %s collection: ", name);
    if (!state.present) say("not present");
    else if (state.opens) say("opens");
    else say("present, but the open fails with error %d", static_cast<int>(state.error));
}

}  // namespace

bool ListInterfaces(bool quiet) {
    g_quiet = quiet;
    GUID hid_guid;
    HDEVINFO set = PresentHidInterfaces(&hid_guid, quiet);
    if (set == INVALID_HANDLE_VALUE) return false;

    say("Present HID interfaces:\n");
    collection_state control = {}, message = {};
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = static_cast<DWORD>(sizeof(data));
    DWORD count = 0;
    for (; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, count, &data); ++count)
        list_interface(set, &data, count, &control, &message);
    SetupDiDestroyDeviceInfoList(set);

    if (!quiet) list_not_present(hid_guid);

    const bool usable = control.opens && message.opens;
    say("Summary: %u present interface(s)", static_cast<unsigned>(count));
    print_collection("quorvex control", control);
    print_collection("quorvex message", message);
    say("; %s\n", usable ? "the modes will find the device" : "the modes will not find the device");
    return usable;
}
