#include "tests/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "app/testquorvex.h"
#include "platform/platform.h"
#include "tests/child_process.h"

namespace {

struct interrupted {};

[[noreturn]] void unwind_on_interrupt() { throw interrupted(); }

}  // namespace

std::string connected_prologue() {
    return search_line(1) + kFound + search_line(2) + "Error: CreateFile failed: 32\n" + kFound + kSending;
}

run_result run_here(const std::string& scenario, const std::vector<std::string>& args) {
    std::string error;
    EXPECT_TRUE(sim_configure(scenario, &error)) << error;
    sim_set_trace(false);
    sim_on_interrupt(unwind_on_interrupt);

    std::vector<const char*> argv = {"testquorvex"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    sim_set_arguments(static_cast<int>(argv.size()), argv.data());

    run_result result;
    testing::internal::CaptureStdout();
    try {
        result.status = testquorvex_main(static_cast<int>(argv.size()), argv.data());
    } catch (const interrupted&) {
        result.interrupted = true;
    }
    result.out = testing::internal::GetCapturedStdout();
    sim_on_interrupt(nullptr);
    return result;
}

run_result run_program(const char* scenario, const std::vector<std::string>& args) {
    return run_program_until(scenario, args, "");
}

run_result run_program_until(const char* scenario, const std::vector<std::string>& args, const std::string& marker,
                             int signal) {
    std::vector<std::string> argv = {TESTQUORVEX_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    child_process child =
        start_child(argv, {scenario != nullptr ? std::string("QUORVEX_SIM=") + scenario : std::string("QUORVEX_SIM")});
    if (!marker.empty()) {
        for (int waited = 0; waited < 1000; ++waited) {
            siginfo_t info = {};
            if (waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == child.pid)
                break;  // ended without the marker; collected below
            if (read_file(child.err_path).find(marker) != std::string::npos) {
                kill(child.pid, signal);
                break;
            }
            usleep(10000);
        }
    }
    const child_result ended = finish_child(child, marker.empty() ? 120000 : 10000);
    run_result result;
    result.status = ended.status;
    result.signal = ended.signal;
    result.out = ended.out;
    result.err = ended.err;
    return result;
}

std::vector<std::vector<uint8_t>> frames_sent(const std::string& op) {
    std::vector<std::vector<uint8_t>> frames;
    for (const sim_event& event : sim_events()) {
        const bool send = event.op == "WriteFile" || event.op == "HidD_SetOutputReport";
        if (send && event.error == 0 && (op.empty() || event.op == op)) frames.push_back(event.bytes);
    }
    return frames;
}

std::vector<expected_frame> frames_received() {
    std::vector<expected_frame> frames;
    for (const sim_event& event : sim_events()) {
        if (event.error != 0) continue;
        if (event.op == "WriteFile") frames.push_back({'W', event.bytes});
        if (event.op == "HidD_SetOutputReport") frames.push_back({'S', event.bytes});
    }
    return frames;
}

std::vector<expected_frame> frames_handed() {
    std::vector<expected_frame> frames;
    for (const sim_event& event : sim_events()) {
        if (event.bytes.empty()) continue;
        if (event.op == "WriteFile") frames.push_back({'W', event.bytes});
        if (event.op == "HidD_SetOutputReport") frames.push_back({'S', event.bytes});
    }
    return frames;
}

std::vector<std::vector<uint8_t>> reports_read() {
    std::vector<std::vector<uint8_t>> reports;
    for (const sim_event& event : sim_events())
        if (event.op == "ReadFile" && event.error == 0) reports.push_back(event.bytes);
    return reports;
}

std::vector<DWORD> sleeps() {
    std::vector<DWORD> all;
    for (const sim_event& event : sim_events())
        if (event.op == "Sleep") all.push_back(event.sleep_ms);
    return all;
}

std::string script_file(const std::string& text) {
    const std::string path = scratch_file("script-");
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    return path;
}

std::string example(const std::string& name) { return std::string(QUORVEX_SOURCE_DIR) + "/examples/" + name + ".txt"; }

std::string hid_path_at(DWORD index) {
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
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
