// Installs and removes the quorvex test device under Wine, through Plug and
// Play as a driver package is installed on Windows: one root-enumerated
// device per collection, all served by the quorvexhid minidriver.
//
//   quorvex_devices install INF control|message|both|inputs
//   quorvex_devices remove control|message|both|inputs
//
// both: the control and message collections; inputs: the five input
// collections (touch screen, mouse, pen, joystick, keyboard).
//
// Each command returns once the collections' HID interfaces have appeared or
// gone (about 10 s at most), and exits 0 on success.

#include <windows.h>
#include <setupapi.h>
#include <newdev.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kHidInterface = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct collection {
    const char* name;       // as the command line says it
    const char* group;      // which of both or inputs it belongs to
    const char* device;     // device name, and so the instance ID ROOT\<device>\0000
    const char* path_part;  // how its interface path names it
};
const collection kCollections[] = {
    {"control", "both", "VID_001F&PID_BA1C&COL01", "vid_001f&pid_ba1c&col01"},
    {"message", "both", "VID_001F&PID_BA1C&COL02", "vid_001f&pid_ba1c&col02"},
    {"touch", "inputs", "VID_001F&PID_BA1C&COL03", "vid_001f&pid_ba1c&col03"},
    {"mouse", "inputs", "VID_001F&PID_BA1C&COL04", "vid_001f&pid_ba1c&col04"},
    {"pen", "inputs", "VID_001F&PID_BA1C&COL05", "vid_001f&pid_ba1c&col05"},
    {"joystick", "inputs", "VID_001F&PID_BA1C&COL06", "vid_001f&pid_ba1c&col06"},
    {"keyboard", "inputs", "VID_001F&PID_BA1C&COL07", "vid_001f&pid_ba1c&col07"},
};

std::string hardware_id(const collection& c) { return std::string("ROOT\\") + c.device; }

bool fail(const char* what) {
    printf("quorvex_devices: %s failed: error 0x%lx\n", what, GetLastError());
    return false;
}

// Whether a present HID interface has this collection's path.
bool interface_present(const collection& c) {
    HDEVINFO set = SetupDiGetClassDevsA(&kHidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; !found && SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterface, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? 512 : size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(*detail);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, static_cast<DWORD>(buffer.size()), nullptr, nullptr))
            continue;
        std::string path = detail->DevicePath;
        for (char& ch : path) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        found = path.find(c.path_part) != std::string::npos;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

bool wait_for(const std::vector<const collection*>& wanted, bool present) {
    const DWORD start = GetTickCount();
    for (;;) {
        bool all = true;
        for (const collection* c : wanted) all = all && interface_present(*c) == present;
        if (all) {
            printf("%s after %lu ms\n", present ? "present" : "gone", GetTickCount() - start);
            return true;
        }
        if (GetTickCount() - start > 10000) {
            printf("quorvex_devices: the interfaces did not %s within 10 s\n", present ? "appear" : "go");
            return false;
        }
        Sleep(20);
    }
}

bool install(const std::string& inf, const collection& c) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool ok = SetupDiCreateDeviceInfoA(set, c.device, &kHidClass, nullptr, nullptr, DICD_GENERATE_ID, &device) ||
              fail("SetupDiCreateDeviceInfoA");
    // A multi-string: the ID, then an empty string.
    std::string ids = hardware_id(c);
    ids.push_back('\0');
    ids.push_back('\0');
    ok = ok && (SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(ids.data()),
                                                  static_cast<DWORD>(ids.size())) ||
                fail("SetupDiSetDeviceRegistryPropertyA"));
    ok = ok && (SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device) || fail("DIF_REGISTERDEVICE"));
    BOOL reboot = FALSE;
    ok = ok && (UpdateDriverForPlugAndPlayDevicesA(nullptr, hardware_id(c).c_str(), inf.c_str(), INSTALLFLAG_FORCE,
                                                   &reboot) ||
                fail("UpdateDriverForPlugAndPlayDevicesA"));
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool remove(const collection& c) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "ROOT", nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiGetClassDevsA");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    bool ok = true;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char ids[512] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                               sizeof(ids) - 2, nullptr))
            continue;
        if (_stricmp(ids, hardware_id(c).c_str()) != 0) continue;
        ok = (SetupDiCallClassInstaller(DIF_REMOVE, set, &device) || fail("DIF_REMOVE")) && ok;
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

int usage() {
    printf("usage: quorvex_devices install INF control|message|both|inputs\n"
           "       quorvex_devices remove control|message|both|inputs\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3) return usage();
    const std::string command = argv[1];
    const std::string which = argv[argc - 1];
    std::vector<const collection*> chosen;
    for (const collection& c : kCollections)
        if (which == c.group || which == c.name) chosen.push_back(&c);
    if (chosen.empty()) return usage();

    bool ok = true;
    if (command == "install" && argc == 4) {
        char full[MAX_PATH];
        if (GetFullPathNameA(argv[2], sizeof(full), full, nullptr) == 0) return fail("GetFullPathNameA") ? 0 : 1;
        for (const collection* c : chosen) ok = install(full, *c) && ok;
        ok = ok && wait_for(chosen, true);
    } else if (command == "remove" && argc == 3) {
        for (const collection* c : chosen) ok = remove(*c) && ok;
        ok = ok && wait_for(chosen, false);
    } else {
        return usage();
    }
    return ok ? 0 : 1;
}
