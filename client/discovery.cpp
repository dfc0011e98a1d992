// Finds one collection of the quorvex device among the present HID interfaces.
// No cache: every search enumerates afresh and opens candidates in turn.

#include <cstdio>
#include <cstring>

#include "client/quorvex_client.h"

bool IsOurDevice(HANDLE device, uint16_t usage) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsed)) {
        printf("Error: HidD_GetPreparsedData failed \n");
        return false;
    }

    bool ours = false;
    HIDD_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof(attributes));
    attributes.Size = static_cast<ULONG>(sizeof(attributes));
    HIDP_CAPS caps;
    std::memset(&caps, 0, sizeof(caps));
    if (!HidD_GetAttributes(device, &attributes)) {
        printf("Error: HidD_GetAttributes failed \n");
    } else if (attributes.VendorID != QUORVEX_VENDOR_ID || attributes.ProductID != QUORVEX_PRODUCT_ID) {
        // another maker's device: passed over without a word
    } else if (HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
        printf("Error: HidP_GetCaps failed \n");
    } else if (caps.UsagePage == QUORVEX_USAGE_PAGE && caps.Usage == usage) {
        printf("Success: Found my device.. \n");
        ours = true;
    }

    HidD_FreePreparsedData(preparsed);
    return ours;
}

HANDLE OpenDeviceInterface(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data, uint16_t usage) {
    // Expected to fail for want of a buffer; only the size it reports matters.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, interface_data, nullptr, 0, &required, nullptr);

    // A size query that failed for another reason may report less than the
    // record's fixed part, which cbSize is written into.
    constexpr DWORD kFixedPart = static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    const DWORD size = required < kFixedPart ? kFixedPart : required;

    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(host_malloc(size));
    if (detail == nullptr) {
        printf("Error: OpenDeviceInterface: malloc failed\n");
        return INVALID_HANDLE_VALUE;
    }

    // cbSize is the fixed part's size, not the buffer's: SetupAPI refuses anything else.
    detail->cbSize = kFixedPart;
    if (!SetupDiGetDeviceInterfaceDetailA(set, interface_data, detail, size, &required, nullptr)) {
        printf("Error: SetupDiGetInterfaceDeviceDetail failed\n");
        host_free(detail);
        return INVALID_HANDLE_VALUE;
    }
    // Never let an unterminated path lead a read past the buffer.
    reinterpret_cast<char*>(detail)[size - 1] = '\0';

    HANDLE device = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        printf("Error: CreateFile failed: %d\n", static_cast<int>(GetLastError()));
        host_free(detail);
        return INVALID_HANDLE_VALUE;
    }

    if (!IsOurDevice(device, usage)) {
        CloseHandle(device);
        device = INVALID_HANDLE_VALUE;
    }

    host_free(detail);
    return device;
}

HANDLE FindOurDevice(uint16_t usage) {
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);

    HDEVINFO set = SetupDiGetClassDevsA(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        printf("SetupDiGetClassDevs failed: %x\n", static_cast<unsigned>(GetLastError()));
        return INVALID_HANDLE_VALUE;
    }

    printf("\n....looking for our HID device (with UP=0x%x and Usage=0x%x)\n",
           static_cast<unsigned>(QUORVEX_USAGE_PAGE), static_cast<unsigned>(usage));

    SP_DEVICE_INTERFACE_DATA interface_data;
    std::memset(&interface_data, 0, sizeof(interface_data));
    interface_data.cbSize = static_cast<DWORD>(sizeof(interface_data));

    HANDLE found = INVALID_HANDLE_VALUE;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &interface_data); ++index) {
        found = OpenDeviceInterface(set, &interface_data, usage);
        if (found != INVALID_HANDLE_VALUE) break;
    }
    if (found == INVALID_HANDLE_VALUE) printf("Failure: Could not find our HID device \n");

    SetupDiDestroyDeviceInfoList(set);
    return found;
}
