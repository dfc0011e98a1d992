#include "tests/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/testquorvex.h"

namespace {

struct interrupted {};

[[noreturn]] void unwind_on_interrupt() { throw interrupted(); }

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

const char kFound[] = "Success: Found my device.. \n";
const char kNotFound[] = "Failure: Could not find our HID device \n";
const char kSending[] = "...sending request(s) to our device\n";
const char kUsage[] = "Usage: testquorvex </multitouch | /mouse | /digitizer | /joystick | /keyboard | /message>\n";

std::string search_line(int usage) {
    char line[96];
    snprintf(line, sizeof(line), "\n....looking for our HID device (with UP=0xff00 and Usage=0x%x)\n", usage);
    return line;
}

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

run_result run_program_until(const char* scenario, const std::vector<std::string>& args, const std::string& marker) {
    char out_path[] = "/tmp/quorvex-out-XXXXXX";
    char err_path[] = "/tmp/quorvex-err-XXXXXX";
    const int out_fd = mkstemp(out_path);
    const int err_fd = mkstemp(err_path);

    const pid_t child = fork();
    if (child == 0) {
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        if (scenario != nullptr) setenv("QUORVEX_SIM", scenario, 1);
        else unsetenv("QUORVEX_SIM");
        std::vector<char*> argv = {const_cast<char*>(TESTQUORVEX_EXE)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(TESTQUORVEX_EXE, argv.data());
        _exit(127);
    }
    int wait_status = 0;
    if (!marker.empty()) {
        for (int waited = 0; waited < 1000; ++waited) {
            if (waitpid(child, &wait_status, WNOHANG) == child) break;
            if (slurp(err_path).find(marker) != std::string::npos) {
                kill(child, SIGTERM);
                break;
            }
            usleep(10000);
        }
        if (waitpid(child, &wait_status, WNOHANG) == 0) kill(child, SIGKILL);
    }
    waitpid(child, &wait_status, 0);
    close(out_fd);
    close(err_fd);

    run_result result;
    if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    unlink(out_path);
    unlink(err_path);
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

std::vector<DWORD> sleeps() {
    std::vector<DWORD> all;
    for (const sim_event& event : sim_events())
        if (event.op == "Sleep") all.push_back(event.sleep_ms);
    return all;
}
