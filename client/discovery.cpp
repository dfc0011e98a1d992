// Finds one collection of the quorvex device among the present HID interfaces.
// No cache: every search enumerates afresh and opens candidates in turn.

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "client/quorvex_client.h"

bool quorvex_discovery_comments = false;

namespace {

// Discovery's lines, as comments when the run's output is a script.
QUORVEX_PRINTF_LIKE(1, 2) void say(QUORVEX_FORMAT_STRING const char* format, ...) {
    if (quorvex_discovery_comments) {
        if (*format == '\n') {
            printf("\n");
            ++format;
        }
        printf("# ");
    }
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
}

// The paths of the collections discovery last opened, control and message:
// where the device's other collections are found. Empty when too long to keep.
char g_found[2][512];

void keep_path(uint16_t usage, const char* path) {
    char* kept = g_found[usage == QUORVEX_USAGE_CONTROL ? 0 : 1];
    const size_t length = std::strlen(path);
    kept[0] = '\0';
    if (length < sizeof(g_found[0])) std::memcpy(kept, path, length + 1);
}

}  // namespace

const char* FoundPath(uint16_t usage) { return g_found[usage == QUORVEX_USAGE_CONTROL ? 0 : 1]; }

hid_verdict CheckIdentity(HANDLE device, bool caps_of_others, hid_identity* seen) {
    std::memset(seen, 0, sizeof(*seen));
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsed)) return hid_verdict::no_preparsed;

    hid_verdict verdict = hid_verdict::other_device;
    seen->attributes.Size = static_cast<ULONG>(sizeof(seen->attributes));
    if (!HidD_GetAttributes(device, &seen->attributes)) {
        verdict = hid_verdict::no_attributes;
    } else {
        const bool our_ids = seen->attributes.VendorID == QUORVEX_VENDOR_ID &&
                             seen->attributes.ProductID == QUORVEX_PRODUCT_ID;
        if (our_ids || caps_of_others) seen->caps_read = HidP_GetCaps(preparsed, &seen->caps) == HIDP_STATUS_SUCCESS;
        const bool our_usage = seen->caps.UsagePage == QUORVEX_USAGE_PAGE &&
                               (seen->caps.Usage == QUORVEX_USAGE_CONTROL || seen->caps.Usage == QUORVEX_USAGE_MESSAGE);
        if (our_ids && !seen->caps_read) verdict = hid_verdict::no_caps;
        else if (our_ids) verdict = our_usage ? hid_verdict::quorvex : hid_verdict::other_collection;
    }

    HidD_FreePreparsedData(preparsed);
    return verdict;
}

bool IsOurDevice(HANDLE device, uint16_t usage) {
    hid_identity seen;
    switch (CheckIdentity(device, false, &seen)) {
        case hid_verdict::no_preparsed: say("Error: HidD_GetPreparsedData failed \n"); return false;
        case hid_verdict::no_attributes: say("Error: HidD_GetAttributes failed \n"); return false;
        case hid_verdict::no_caps: say("Error: HidP_GetCaps failed \n"); return false;
        case hid_verdict::quorvex:
            if (seen.caps.Usage != usage) return false;  // the device's other collection
            say("Success: Found my device.. \n");
            return true;
        default: return false;  // another maker's device: passed over without a word
    }
}

PSP_DEVICE_INTERFACE_DETAIL_DATA_A GetInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data,
                                                      bool* out_of_memory) {
    // Expected to fail for want of a buffer; only the size it reports matters.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, interface_data, nullptr, 0, &required, nullptr);

    // A size query that failed for another reason may report less than the
    // record's fixed part, which cbSize is written into.
    constexpr DWORD kFixedPart = static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    const DWORD size = required < kFixedPart ? kFixedPart : required;

    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(host_malloc(size));
    *out_of_memory = detail == nullptr;
    if (detail == nullptr) return nullptr;

    // cbSize is the fixed part's size, not the buffer's: SetupAPI refuses anything else.
    detail->cbSize = kFixedPart;
    if (!SetupDiGetDeviceInterfaceDetailA(set, interface_data, detail, size, &required, nullptr)) {
        host_free(detail);
        return nullptr;
    }
    // Never let an unterminated path lead a read past the buffer.
    reinterpret_cast<char*>(detail)[size - 1] = '\0';
    return detail;
}

HANDLE OpenForTransfers(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE OpenDeviceInterface(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data, uint16_t usage) {
    bool out_of_memory = false;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail = GetInterfaceDetail(set, interface_data, &out_of_memory);
    if (detail == nullptr) {
        say(out_of_memory ? "Error: OpenDeviceInterface: malloc failed\n"
                             : "Error: SetupDiGetInterfaceDeviceDetail failed\n");
        return INVALID_HANDLE_VALUE;
    }

    HANDLE device = OpenForTransfers(detail->DevicePath);
    if (device == INVALID_HANDLE_VALUE) {
        // Read before anything else can change it; freeing may.
        say("Error: CreateFile failed: %d\n", static_cast<int>(GetLastError()));
        host_free(detail);
        return INVALID_HANDLE_VALUE;
    }

    if (!IsOurDevice(device, usage)) {
        CloseHandle(device);
        device = INVALID_HANDLE_VALUE;
    } else {
        keep_path(usage, detail->DevicePath);
    }

    host_free(detail);
    return device;
}

HDEVINFO PresentHidInterfaces(GUID* hid_guid, bool quiet) {
    HidD_GetHidGuid(hid_guid);
    HDEVINFO set = SetupDiGetClassDevsA(hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE && !quiet)
        say("SetupDiGetClassDevs failed: %x\n", static_cast<unsigned>(GetLastError()));
    return set;
}

HANDLE FindOurDevice(uint16_t usage) {
    GUID hid_guid;
    HDEVINFO set = PresentHidInterfaces(&hid_guid);
    if (set == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;

    say("\n....looking for our HID device (with UP=0x%x and Usage=0x%x)\n",
           static_cast<unsigned>(QUORVEX_USAGE_PAGE), static_cast<unsigned>(usage));

    SP_DEVICE_INTERFACE_DATA interface_data;
    std::memset(&interface_data, 0, sizeof(interface_data));
    interface_data.cbSize = static_cast<DWORD>(sizeof(interface_data));

    HANDLE found = INVALID_HANDLE_VALUE;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &interface_data); ++index) {
        found = OpenDeviceInterface(set, &interface_data, usage);
        if (found != INVALID_HANDLE_VALUE) break;
    }
    if (found == INVALID_HANDLE_VALUE) say("Failure: Could not find our HID device \n");

    SetupDiDestroyDeviceInfoList(set);
    return found;
}
