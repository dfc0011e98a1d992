// The simulated system's side of the device's input collections: what the
// hid library reads from their descriptors, how the system holds them, each
// open's buffer, and the planted delivery faults.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/quorvex_device.h"
#include "layout/report_layout.h"
#include "platform/platform.h"
#include "platform/sim/hidparse.h"
#include "platform/sim/sim.h"

namespace {

void configure(const std::string& scenario) {
    std::string error;
    ASSERT_TRUE(sim_configure(scenario, &error)) << error;
}

std::vector<std::string> paths() {
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::vector<std::string> out;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &data); ++i) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(host_malloc(required));
        detail->cbSize = sizeof(*detail);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
        out.push_back(detail->DevicePath);
        host_free(detail);
    }
    SetupDiDestroyDeviceInfoList(set);
    return out;
}

// With others=0,absent=0: control, message, then the five input collections.
HANDLE open_input(device_input which, DWORD access) {
    return CreateFileA(paths().at(2 + which).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

HANDLE open_control() {
    return CreateFileA(paths().at(0).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

void send(HANDLE control, uint8_t kind, uint8_t length, uint8_t first) {
    uint8_t frame[65] = {0x40, length, kind, first};
    DWORD written = 0;
    WriteFile(control, frame, sizeof(frame), &written, nullptr);
}

struct nothing_more {};

// Every report the handle's buffer holds; a read that would wait ends it.
std::vector<std::vector<uint8_t>> drain(HANDLE handle) {
    sim_on_interrupt([] { throw nothing_more{}; });
    std::vector<std::vector<uint8_t>> out;
    try {
        for (;;) {
            uint8_t report[64];
            DWORD count = 0;
            if (!ReadFile(handle, report, sizeof(report), &count, nullptr)) break;
            out.emplace_back(report, report + count);
        }
    } catch (const nothing_more&) {
    }
    sim_on_interrupt(nullptr);
    return out;
}

}  // namespace

// The hid library reads each collection's report ID and lengths from its
// descriptor: they must be the device model's and the layout's, or a client
// reading them from the collection would be told something else.
TEST(InputCollections, CapabilitiesAreTheDescriptorsAndMatchTheLayout) {
    configure("others=0,absent=0,inputs");
    for (int i = 0; i < DEVICE_INPUT_COUNT; ++i) {
        const device_input which = static_cast<device_input>(i);
        const device_input_collection& model = device_input_of(which);
        SCOPED_TRACE(model.kind);
        hid_parsed parsed;
        ASSERT_TRUE(hid_parse(model.descriptor.bytes, model.descriptor.size, &parsed));
        ASSERT_EQ(parsed.input_ids.size(), 1u);
        EXPECT_EQ(parsed.input_ids[0], model.report_id);
        const layout_kind* kind = layout_kind_named(model.kind, std::strlen(model.kind));
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(kind->id, model.report_id);
        EXPECT_EQ(kind->length, model.input_length);

        HANDLE handle = open_input(which, 0);  // the system's hold leaves an open without access
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        ASSERT_TRUE(HidD_GetPreparsedData(handle, &preparsed));
        HIDP_CAPS caps = {};
        ASSERT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(caps.UsagePage, model.usage_page);
        EXPECT_EQ(caps.Usage, model.usage);
        EXPECT_EQ(caps.InputReportByteLength, model.input_length);
        EXPECT_EQ(caps.OutputReportByteLength, 0);
        EXPECT_EQ(caps.FeatureReportByteLength, which == DEVICE_INPUT_TOUCH ? 2 : 0);

        // X and Y where the collection has them, with their declared range.
        HIDP_VALUE_CAPS values[16];
        USHORT count = 16;
        ASSERT_EQ(HidP_GetValueCaps(HidP_Input, values, &count, preparsed), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(count, caps.NumberInputValueCaps);
        int xy = 0;
        for (USHORT v = 0; v < count; ++v) {
            EXPECT_EQ(values[v].ReportID, model.report_id);
            if (values[v].UsagePage != 0x01 || values[v].IsRange || values[v].NotRange.Usage > 0x31) continue;
            ++xy;
            EXPECT_EQ(values[v].LogicalMax, which == DEVICE_INPUT_JOYSTICK ? 255 : 65535);
            EXPECT_EQ(values[v].LogicalMin, 0);
            EXPECT_EQ(values[v].BitSize, which == DEVICE_INPUT_JOYSTICK ? 8 : 16);
            EXPECT_TRUE(values[v].IsAbsolute);
        }
        const int want_xy[] = {4, 2, 2, 2, 0};  // touch: two contacts
        EXPECT_EQ(xy, want_xy[i]);
        if (count > 1) {
            USHORT one = 1;
            EXPECT_EQ(HidP_GetValueCaps(HidP_Input, values, &one, preparsed), HIDP_STATUS_BUFFER_TOO_SMALL);
            EXPECT_EQ(one, 1);
        }
        HidD_FreePreparsedData(preparsed);
        CloseHandle(handle);
    }
    // The mouse's wheel is relative and signed.
    hid_parsed mouse;
    ASSERT_TRUE(hid_parse(device_input_of(DEVICE_INPUT_MOUSE).descriptor.bytes,
                          device_input_of(DEVICE_INPUT_MOUSE).descriptor.size, &mouse));
    ASSERT_EQ(mouse.input_values.size(), 3u);
    EXPECT_EQ(mouse.input_values[2].NotRange.Usage, 0x38);
    EXPECT_EQ(mouse.input_values[2].LogicalMin, -127);
    EXPECT_FALSE(mouse.input_values[2].IsAbsolute);
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

// Windows holds mice and keyboards (5) and opens touch screens and pens
// sharing nothing (32); the joystick it leaves alone. Wine holds none.
TEST(InputCollections, TheSystemHoldsThemAsWindowsDoesAndWineDoesNot) {
    const DWORD held[] = {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, 0, ERROR_ACCESS_DENIED};
    for (const char* scenario : {"others=0,absent=0,inputs", "others=0,absent=0,inputs=open"}) {
        configure(scenario);
        const bool open = std::string(scenario).find("open") != std::string::npos;
        ASSERT_EQ(paths().size(), 7u);
        for (int i = 0; i < DEVICE_INPUT_COUNT; ++i) {
            SCOPED_TRACE(std::string(scenario) + " " + device_input_of(static_cast<device_input>(i)).kind);
            HANDLE handle = open_input(static_cast<device_input>(i), GENERIC_READ | GENERIC_WRITE);
            const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
            EXPECT_EQ(error, open ? 0u : held[i]);
            if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        }
    }
    configure("others=0,absent=0");
    EXPECT_EQ(paths().size(), 2u) << "without inputs the bus is as it always was";
    configure("others=0,absent=0,inputs,device=control");
    EXPECT_EQ(paths().size(), 1u);
    std::string error;
    for (const char* bad : {"inputs=held", "undelivered=touch", "altered=mouse,doubled=mouse", "doubled="})
        EXPECT_FALSE(sim_configure(bad, &error)) << bad;
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}

// Each open has a buffer of its own, 32 reports unless set (2 to 512), the
// oldest lost when it is full; only an accepted frame of the collection's
// kind arrives, and as the planted fault says.
TEST(InputCollections, EachOpenBuffersWhatIsDeliveredAndFaultsShow) {
    configure("others=0,absent=0,inputs=open");
    HANDLE control = open_control();
    HANDLE roomy = open_input(DEVICE_INPUT_JOYSTICK, GENERIC_READ);
    HANDLE small = open_input(DEVICE_INPUT_JOYSTICK, GENERIC_READ);
    HANDLE keyboard = open_input(DEVICE_INPUT_KEYBOARD, GENERIC_READ);
    EXPECT_FALSE(HidD_SetNumInputBuffers(small, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(HidD_SetNumInputBuffers(small, 513));
    EXPECT_TRUE(HidD_SetNumInputBuffers(small, 512));
    EXPECT_TRUE(HidD_SetNumInputBuffers(small, 2));
    for (uint8_t n = 1; n <= 34; ++n) send(control, 0x06, 9, n);
    send(control, 0x06, 8, 99);       // malformed: refused
    send(control, 0x10, 33, 'x');     // a vendor message: not an input kind
    const auto all = drain(roomy);
    ASSERT_EQ(all.size(), 32u);
    EXPECT_EQ(all.front(), (std::vector<uint8_t>{0x06, 3, 0, 0, 0, 0, 0, 0, 0})) << "the oldest two were lost";
    EXPECT_EQ(all.back()[1], 34);
    const auto last = drain(small);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0][1], 33);
    EXPECT_TRUE(drain(keyboard).empty());
    CloseHandle(roomy);
    CloseHandle(small);
    CloseHandle(keyboard);
    CloseHandle(control);

    struct {
        const char* fault;
        size_t arrive;
        uint8_t first;
    } const rows[] = {
        {"", 1, 0x20},
        {"undelivered=joystick", 0, 0},
        {"altered=joystick", 1, 0x21},
        {"doubled=joystick", 2, 0x20},
        {"doubled=keyboard", 1, 0x20},  // another kind's fault
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        configure(std::string("others=0,absent=0,inputs,") + row.fault);
        control = open_control();
        HANDLE joystick = open_input(DEVICE_INPUT_JOYSTICK, GENERIC_READ | GENERIC_WRITE);
        send(control, 0x06, 9, 0x20);
        const auto got = drain(joystick);
        ASSERT_EQ(got.size(), row.arrive);
        for (const auto& report : got) {
            EXPECT_EQ(report.size(), 9u);
            EXPECT_EQ(report[1], row.first);
        }
        CloseHandle(joystick);
        CloseHandle(control);
    }
    EXPECT_TRUE(sim_usage().none()) << sim_describe(sim_usage());
}
