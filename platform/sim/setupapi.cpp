// Stand-ins for SetupAPI: the device-information sets of the HID interface
// class and the interface records, checked as SetupAPI checks them.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sim/bus.h"
#include "platform/sim/heap.h"
#include "platform/sim/threads.h"

HDEVINFO SetupDiGetClassDevsA(const GUID* guid, PCSTR, HWND, DWORD flags) {
    system_call call;
    if (maybe_inject("SetupDiGetClassDevsA")) return INVALID_HANDLE_VALUE;
    if (guid == nullptr) return fail_with(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    record("SetupDiGetClassDevsA", "", nullptr, 0, 0);
    arrive_when_due();
    device_set set;
    const bool hid = std::memcmp(guid, &kHidGuid, sizeof(GUID)) == 0;
    if (hid && (flags & DIGCF_DEVICEINTERFACE)) {
        // Without DIGCF_PRESENT the set also holds what was once plugged in.
        for (size_t i = 0; i < sys().bus.size(); ++i) {
            const bus_interface& iface = sys().bus[i];
            if (iface.arrived && (iface.present || !(flags & DIGCF_PRESENT))) set.members.push_back(i);
        }
    }
    const uintptr_t handle = new_object();
    sys().sets.emplace(handle, set);
    return succeed_with(reinterpret_cast<HDEVINFO>(handle));
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* guid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data) {
    system_call call;
    if (maybe_inject("SetupDiEnumDeviceInterfaces")) return FALSE;
    device_set* set = find_set(handle);
    if (set == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    if (data == nullptr || guid == nullptr) return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    // Windows' own error here; Wine's differs (see the conformance probe's table).
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return fail_with(ERROR_INVALID_USER_BUFFER, FALSE);
    // Only interfaces of the class asked for are listed; the set holds HID ones.
    if (std::memcmp(guid, &kHidGuid, sizeof(GUID)) != 0) return fail_with(ERROR_NO_MORE_ITEMS, FALSE);
    if (index >= set->members.size()) return fail_with(ERROR_NO_MORE_ITEMS, FALSE);
    data->InterfaceClassGuid = *guid;
    data->Flags = sys().bus[set->members[index]].present ? 1 : 0;  // SPINT_ACTIVE
    data->Reserved = static_cast<SETUPAPI_ULONG_PTR>(set->members[index] + 1);
    return succeed_with(TRUE);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                      PSP_DEVINFO_DATA) {
    system_call call;
    if (maybe_inject("SetupDiGetDeviceInterfaceDetailA")) return FALSE;
    device_set* set = find_set(handle);
    if (set == nullptr) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > sys().bus.size())
        return fail_with(ERROR_INVALID_PARAMETER, FALSE);
    const bus_interface& iface = sys().bus[data->Reserved - 1];

    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + iface.path.size() + 1);
    if (detail == nullptr) {
        if (size != 0) return fail_with(ERROR_INVALID_USER_BUFFER, FALSE);
        if (required != nullptr) *required = iface.short_size_query ? 2 : needed;
        return fail_with(iface.short_size_query ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                                : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
                         FALSE);
    }
    // A caller that claims more room than it allocated would have the path
    // written past its block.
    const size_t block = heap_block_size(detail);
    if (block != 0 && size > block) {
        fprintf(stderr, "sim: SetupDiGetDeviceInterfaceDetailA told %u bytes for a block of %zu\n",
                static_cast<unsigned>(size), block);
        std::abort();
    }
    if (size < sizeof(DWORD) || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return fail_with(ERROR_INVALID_USER_BUFFER, FALSE);
    if (size < needed) {
        if (required != nullptr) *required = needed;
        return fail_with(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::memcpy(detail->DevicePath, iface.path.c_str(), iface.path.size() + 1);
    if (required != nullptr) *required = needed;
    return succeed_with(TRUE);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    system_call call;
    const bool fails = maybe_inject("SetupDiDestroyDeviceInfoList");
    if (sys().sets.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    return fails ? FALSE : succeed_with(TRUE);
}
