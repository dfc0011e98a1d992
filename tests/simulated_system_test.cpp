// The stand-in must fail where Windows fails, or client bugs would pass here.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

void configure(const std::string& scenario) {
    std::string error;
    ASSERT_TRUE(sim_configure(scenario, &error)) << error;
}

HDEVINFO hid_set(GUID* guid) {
    HidD_GetHidGuid(guid);
    return SetupDiGetClassDevsA(guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

// The device path of enumeration index `index`.
std::string path_at(DWORD index) {
    GUID guid;
    HDEVINFO set = hid_set(&guid);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data));
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(host_malloc(required));
    detail->cbSize = sizeof(*detail);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    std::string path = detail->DevicePath;
    host_free(detail);
    SetupDiDestroyDeviceInfoList(set);
    return path;
}

}  // namespace

TEST(SimulatedSystem, LastErrorBelongsToTheCallingThread) {
    configure("");
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x7777)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD seen_there = 0;
    std::thread([&] { seen_there = GetLastError(); }).join();
    EXPECT_EQ(seen_there, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SimulatedSystem, InterfaceRecordsAreCheckedAsSetupApiChecksThem) {
    configure("others=0");
    GUID guid;
    HDEVINFO set = hid_set(&guid);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data) + 4;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));  // Windows' error; Wine gives 87
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data));

    // Without a buffer: fails for want of one and reports the size.
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const std::string path = path_at(0);
    EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);

    // cbSize must be the fixed part's size, not the buffer's.
    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(host_malloc(required));
    detail->cbSize = required;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    detail->cbSize = sizeof(*detail);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    host_free(detail);

    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 2, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    // Only interfaces of the class asked for are listed.
    const GUID other = {};
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));

    // Without DIGCF_PRESENT, an unplugged device's interface is listed too, and
    // there is nothing behind its path.
    set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 2, &data));
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data));
    EXPECT_EQ(data.Flags, 0u);
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(host_malloc(required));
    detail->cbSize = sizeof(*detail);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    host_free(detail);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_TRUE(sim_usage().none());
}

TEST(SimulatedSystem, ShareModesAreEnforcedBothWays) {
    configure("others=0");
    const std::string control = path_at(0);
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    HANDLE first = CreateFileA(control.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(control.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Reading alone is shared, but only with an open that lets the first one write.
    EXPECT_EQ(CreateFileA(control.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE reader = CreateFileA(control.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    // An open without access takes no part in sharing, either way round.
    HANDLE bare = CreateFileA(control.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(bare, INVALID_HANDLE_VALUE);
    CloseHandle(bare);
    CloseHandle(first);
    // Closed: the next open succeeds.
    HANDLE again = CreateFileA(control.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST(SimulatedSystem, TransfersAreCheckedAsWindowsChecksThem) {
    configure("others=0");
    const std::string control = path_at(0);
    const std::string message = path_at(1);
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    HANDLE c = CreateFileA(control.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE m = CreateFileA(message.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    uint8_t frame[66] = {0x40, 0x07, 0x03};
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(c, frame, 64, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(HidD_SetOutputReport(c, frame, 66));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_TRUE(WriteFile(c, frame, 65, &count, nullptr));
    EXPECT_EQ(count, 65u);
    EXPECT_FALSE(WriteFile(m, frame, 65, &count, nullptr));  // the message collection takes no output

    uint8_t input[33];
    EXPECT_FALSE(ReadFile(m, input, 32, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(HidD_SetNumInputBuffers(m, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Windows has no synchronous transfer with neither a count nor an OVERLAPPED record.
    EXPECT_DEATH(WriteFile(c, frame, 65, nullptr, nullptr), "WriteFile without a byte count");
    EXPECT_DEATH(ReadFile(m, input, 33, nullptr, nullptr), "ReadFile without a byte count");
    CloseHandle(c);
    CloseHandle(m);

    // A write beside a heap block fails the run when the block is freed, or
    // at the latest when the run ends, as a checking heap fails it on Windows.
    auto overrun = [](int at, bool free_it) {
        char* block = static_cast<char*>(host_malloc(10));
        block[at] = 'x';
        if (free_it) host_free(block);
        std::string error;
        sim_configure("", &error);
    };
    EXPECT_DEATH(overrun(11, true), "sim: heap block of 10 bytes was written past its end");
    EXPECT_DEATH(overrun(-1, true), "sim: heap block of 10 bytes was written before its start");
    EXPECT_DEATH(overrun(10, false), "sim: heap block of 10 bytes was written past its end");

    // A handle opened for overlapped I/O takes no synchronous transfer; the
    // HID library's own requests still go through.
    c = CreateFileA(control.c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_FALSE(WriteFile(c, frame, 65, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(HidD_SetOutputReport(c, frame, 65));
    CloseHandle(c);
}

TEST(SimulatedSystem, AnUnpluggedDeviceFailsEveryTransferWithDeviceNotConnected) {
    configure("others=0,unplug-after=1");
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    HANDLE c = CreateFileA(path_at(0).c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE m = CreateFileA(path_at(1).c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    uint8_t frame[65] = {0x40, 0x21, 0x10, 'h', 'i'};
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(c, frame, 65, &count, nullptr));  // the one frame it takes; its answer never comes
    EXPECT_FALSE(WriteFile(c, frame, 65, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(HidD_SetOutputReport(c, frame, 65));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    uint8_t input[33];
    EXPECT_FALSE(ReadFile(m, input, 33, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    // Gone from the present interfaces too.
    GUID guid;
    HDEVINFO set = hid_set(&guid);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data));
    SetupDiDestroyDeviceInfoList(set);
    CloseHandle(c);
    CloseHandle(m);
}
