// The stand-in must fail where Windows fails, or client bugs would pass here.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "tests/support.h"

namespace {

void configure(const std::string& scenario) {
    std::string error;
    ASSERT_TRUE(sim_configure(scenario, &error)) << error;
}

HDEVINFO hid_set(GUID* guid) {
    HidD_GetHidGuid(guid);
    return SetupDiGetClassDevsA(guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
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
    const std::string path = hid_path_at(0);
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
    const std::string control = hid_path_at(0);
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
    const std::string control = hid_path_at(0);
    const std::string message = hid_path_at(1);
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
    HANDLE c = CreateFileA(hid_path_at(0).c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE m = CreateFileA(hid_path_at(1).c_str(), rw, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
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

namespace {

HANDLE open_collection(DWORD index) {
    return CreateFileA(hid_path_at(index).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

int64_t now_ms() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart / 10000;
}

struct reading {
    HANDLE message;
    DWORD thread;
    uint8_t report[33];
    DWORD count;
    BOOL read;
    DWORD error;
};

DWORD WINAPI read_one(LPVOID argument) {
    auto* r = static_cast<reading*>(argument);
    r->thread = GetCurrentThreadId();
    r->read = ReadFile(r->message, r->report, sizeof(r->report), &r->count, nullptr);
    r->error = GetLastError();
    return 0;
}

// A watchdog's loop: each time its wait passes, it tries to cancel the
// caller's synchronous I/O, and notes what Windows said.
struct cancelling {
    HANDLE stop;
    HANDLE caller;
    std::vector<std::pair<BOOL, DWORD>> tries;
};

DWORD WINAPI cancel_in_a_loop(LPVOID argument) {
    auto* c = static_cast<cancelling*>(argument);
    while (WaitForSingleObject(c->stop, 10) == WAIT_TIMEOUT) {
        const BOOL cancelled = CancelSynchronousIo(c->caller);
        c->tries.push_back({cancelled, cancelled ? 0 : GetLastError()});
    }
    return 0;
}

int g_ctrl_c_at = 0;  // which counted call the handler saw Ctrl+C at
BOOL WINAPI note_ctrl_c(DWORD event) {
    if (event == CTRL_C_EVENT) g_ctrl_c_at = sim_calls("file:WriteFile") * 100 + sim_calls("Sleep");
    return TRUE;
}

}  // namespace

// One thread reads the message collection while the other sends a message
// through the control collection: the read, waiting, wakes on the answer; a
// read that nothing answers ends when the other thread cancels it.
TEST(SimulatedSystem, AReadWaitingOnOneThreadWakesWhenAnotherSendsTheMessage) {
    configure("others=0,clock=virtual");
    HANDLE control = open_collection(0);
    HANDLE message = open_collection(1);
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps = {};
    ASSERT_TRUE(HidD_GetPreparsedData(message, &preparsed));
    EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.InputReportByteLength, 33);
    HidD_FreePreparsedData(preparsed);

    auto cancel = [](DWORD thread) {
        HANDLE handle = OpenThread(THREAD_TERMINATE, FALSE, thread);
        const BOOL cancelled = CancelSynchronousIo(handle);
        CloseHandle(handle);
        return cancelled;
    };
    reading r = {message, 0, {}, 0, FALSE, 0};
    HANDLE reader = CreateThread(nullptr, 0, read_one, &r, 0, nullptr);
    // The virtual clock moves only once the reader waits too: it is in its read.
    Sleep(50);
    EXPECT_EQ(WaitForSingleObject(reader, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the read did not wait";
    uint8_t frame[65] = {0x40, 0x21, 0x10, 'h', 'i'};
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(control, frame, sizeof(frame), &count, nullptr));
    if (WaitForSingleObject(reader, 1000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the read did not wake on the answer";
        cancel(r.thread);
    }
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    EXPECT_TRUE(r.read) << r.error;
    EXPECT_EQ(r.count, 33u);
    EXPECT_EQ(r.report[1], 'h');
    EXPECT_EQ(r.report[2], 'i');
    EXPECT_EQ(now_ms(), 50) << "the clock moved while a thread could go on";

    // Nothing answers the second read; a cancel from this thread ends it with 995.
    reading unanswered = {message, 0, {}, 0, FALSE, 0};
    reader = CreateThread(nullptr, 0, read_one, &unanswered, 0, nullptr);
    Sleep(10);
    EXPECT_TRUE(cancel(unanswered.thread));
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    EXPECT_FALSE(unanswered.read);
    EXPECT_EQ(unanswered.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    CloseHandle(control);
    CloseHandle(message);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

// A cancel that comes before the call: at its late entry the caller is not yet
// in the call, the watchdog's wait passes, and its cancel finds nothing
// (ERROR_NOT_FOUND); the call then goes on, here into a stall that the next
// cancel ends. With no other thread alive, the late entry is only a call.
TEST(SimulatedSystem, ACancelThatComesBeforeTheCallFindsNothingToCancel) {
    configure("others=0,clock=virtual,late-entry=WriteFile@2,stall=WriteFile@2");
    HANDLE control = open_collection(0);
    cancelling c = {CreateEventA(nullptr, TRUE, FALSE, nullptr), OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()), {}};
    HANDLE watchdog = CreateThread(nullptr, 0, cancel_in_a_loop, &c, 0, nullptr);
    uint8_t frame[65] = {0x40, 0x07, 0x03};
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(control, frame, sizeof(frame), &count, nullptr));
    EXPECT_EQ(now_ms(), 0) << "the first write entered at once";
    EXPECT_FALSE(WriteFile(control, frame, sizeof(frame), &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    SetEvent(c.stop);
    WaitForSingleObject(watchdog, INFINITE);
    const std::vector<std::pair<BOOL, DWORD>> tries = {{FALSE, static_cast<DWORD>(ERROR_NOT_FOUND)}, {TRUE, 0u}};
    EXPECT_EQ(c.tries, tries);
    EXPECT_EQ(now_ms(), 20);
    CloseHandle(watchdog);
    CloseHandle(c.stop);
    CloseHandle(c.caller);

    configure("others=0,clock=virtual,late-entry=WriteFile@1");
    control = open_collection(0);
    EXPECT_TRUE(WriteFile(control, frame, sizeof(frame), &count, nullptr));
    CloseHandle(control);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

// Ctrl+C comes during the call the scenario names, host files' and pauses'
// among them, and the handler sees it there.
TEST(SimulatedSystem, CtrlCComesDuringTheNamedCallOfAnyCountedOperation) {
    const std::string folder = "/tmp/quorvex-sim-test-" + std::to_string(getpid());
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string path = folder + "/written.bin";
    const struct {
        const char* scenario;
        int seen_at;  // file writes * 100 + pauses, as the handler saw them
    } cases[] = {
        {"ctrl-c-at=file:WriteFile@2", 201},
        {"ctrl-c-at=Sleep@2", 202},
        {"ctrl-c-at=file:CreateFileA@1", 0},
    };
    for (const auto& c : cases) {
        configure(c.scenario);
        g_ctrl_c_at = -1;
        ASSERT_TRUE(SetConsoleCtrlHandler(note_ctrl_c, TRUE));
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(WriteFile(file, "ab", 2, &written, nullptr));
            Sleep(1);
        }
        EXPECT_EQ(g_ctrl_c_at, c.seen_at) << c.scenario;
        CloseHandle(file);
        DeleteFileA(path.c_str());
    }
    rmdir(folder.c_str());
}

// CreateThread tells the new thread's ID, and its handle, which has every
// right, cancels the thread's synchronous read as one from OpenThread does.
TEST(SimulatedSystem, CreateThreadsHandleAndIdAreTheThreads) {
    configure("others=0,clock=virtual");
    HANDLE message = open_collection(1);
    reading r = {message, 0, {}, 0, FALSE, 0};
    DWORD id = 0;
    HANDLE reader = CreateThread(nullptr, 0, read_one, &r, 0, &id);
    Sleep(10);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(id, r.thread);
    EXPECT_TRUE(CancelSynchronousIo(reader));
    EXPECT_EQ(WaitForSingleObject(reader, 1000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_FALSE(r.read);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_FALSE(CancelSynchronousIo(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
    CloseHandle(reader);
    CloseHandle(message);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}
