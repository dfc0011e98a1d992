// For the test programs that open the quorvex device without the client (the
// conformance probe, the benchmark's bare loop): where its collections are.
// Include it after the Windows headers, or platform/platform.h.
#pragma once

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

// The path of the first present HID interface whose path names this part
// ("col01" for the control collection), or "" when there is none.
inline std::string quorvex_path(const GUID& hid, const char* collection) {
    HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    std::string found;
    for (DWORD i = 0; found.empty() && SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); ++i) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        std::vector<char> buffer(required + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(*detail);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, static_cast<DWORD>(buffer.size()), nullptr, nullptr))
            continue;
        std::string path = detail->DevicePath;
        for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (path.find("vid_001f&pid_ba1c") != std::string::npos && path.find(collection) != std::string::npos)
            found = detail->DevicePath;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}
