// libFuzzer target: arbitrary populations of the simulated bus, failing calls
// and device replies, run through the whole client in this process. Any crash,
// sanitizer report, hang or resource left behind is a finding.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/testquorvex.h"
#include "platform/sim/sim.h"

namespace {

struct interrupted {};

[[noreturn]] void unwind() { throw interrupted(); }

struct reader {
    const uint8_t* data;
    size_t size;
    uint8_t next() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

const char* const kOptions[] = {"/multitouch", "/mouse", "/digitizer", "/joystick", "/keyboard", "/message",
                                "/list",       "/all",   "/ping",      "/flood",    "/?",        "/nope",
                                "/send"};
// /send's steps: each kind of transfer a script makes.
const char* const kSteps[] = {"message \"hi\"", "expect any", "flush", "multitouch [id=1] count=1", "frame 40 01"};
constexpr size_t kStepCount = sizeof(kSteps) / sizeof(kSteps[0]);
constexpr size_t kOptionCount = sizeof(kOptions) / sizeof(kOptions[0]);

std::string scenario_from(reader& in, bool ctrl_c) {
    std::string s = "clock=virtual,interrupt-after=" + std::to_string(1 + in.next() % 40);
    static const char* const kDevice[] = {"both", "control", "none"};
    s += ",device=" + std::string(kDevice[in.next() % 3]);
    static const char* const kCounts[] = {"quorvex",   "others",   "locked",    "foreign", "badcaps",     "emptypath",
                                          "longpath",  "shortsize", "absent",   "othervendor", "genericpage",
                                          "busy",      "gone"};
    for (const char* name : kCounts) s += "," + std::string(name) + "=" + std::to_string(in.next() % 4);
    if (in.next() & 1) s += ",order=message-first";
    static const char* const kHolds[] = {"control:r:rw", "control:w:rw", "message:rw:-", "message:r:r"};
    for (int holds = in.next() % 3; holds > 0; --holds) s += ",hold=" + std::string(kHolds[in.next() % 4]);
    const auto& ops = sim_failable_operations();
    for (int faults = in.next() % 4; faults > 0; --faults) {
        s += ",fail=" + ops[in.next() % ops.size()];
        const int call = in.next() % 20;
        if (call != 0) s += "@" + std::to_string(call);
    }
    if (const int unplug = in.next() % 40; unplug > 0) s += ",unplug-after=" + std::to_string(unplug);
    static const char* const kTransfers[] = {"WriteFile", "HidD_SetOutputReport", "ReadFile"};
    const int stall = in.next() % 16;
    if (stall > 0) s += ",stall=" + std::string(kTransfers[stall % 3]) + "@" + std::to_string(stall);
    // A late entry beside a stall would have the watchdog end the process.
    if (const int late = in.next() % 16; late > 0 && stall == 0)
        s += ",late-entry=" + std::string(kTransfers[late % 3]) + "@" + std::to_string(late);
    if (const int at = in.next() % 24; at > 0 && ctrl_c) {
        const std::string op = at % 4 == 0 ? std::string("Sleep") : ops[in.next() % ops.size()];
        s += ",ctrl-c-at=" + op + "@" + std::to_string(at);
    }
    if (const int arrive = in.next() % 4; arrive > 0) s += ",arrive-after=" + std::to_string(arrive * 100);
    s += ",latency=" + std::to_string(in.next() % 1000);
    s += ",replylen=" + std::to_string(in.next() % 34);
    std::string hex;
    for (int n = in.next() % 33; n > 0; --n) {
        char byte[3];
        snprintf(byte, sizeof(byte), "%02x", in.next());
        hex += byte;
    }
    s += ",replyhex=" + hex;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The client's lines are not the finding; keep the fuzzer's console readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    sim_on_interrupt(unwind);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reader in{data, size};
    const bool raw_text = in.next() & 1;
    std::string error;
    if (raw_text) {
        // The scenario parser on its own, with whatever text comes.
        sim_configure(std::string(reinterpret_cast<const char*>(in.data), in.size), &error);
        return 0;
    }
    const char* option = kOptions[in.next() % kOptionCount];
    // Ctrl+C ends a bounded run's process, watchdog and all; in-process it
    // would unwind past the watchdog.
    const bool unwinds_past_watchdog = std::string(option) == "/all" || std::string(option) == "/send";
    // A second Ctrl+C, which a bounded run's handler passes on, would too.
    const std::string o = option;
    const bool bounded = unwinds_past_watchdog || o == "/ping" || o == "/flood";
    std::string scenario = scenario_from(in, !bounded);
    if (unwinds_past_watchdog) scenario += ",interrupt-after=0";
    if (!sim_configure(scenario, &error)) {
        fprintf(stderr, "generated scenario refused: %s (%s)\n", scenario.c_str(), error.c_str());
        std::abort();
    }

    const char* argv[] = {"testquorvex", option, kSteps[in.next() % kStepCount]};
    const int argc = std::string(option) == "/send" ? 3 : 2;
    sim_set_arguments(argc, argv);
    bool stopped = false;
    int status = -1;
    try {
        status = testquorvex_main(argc, argv);
    } catch (const interrupted&) {
        stopped = true;
    }
    const sim_in_use usage = sim_usage();
    // Stopped at any call, the run unwinds past the client's own cleanup,
    // where the process would have ended; at a pause it holds no set.
    const bool anywhere = scenario.find("ctrl-c-at=") != std::string::npos;
    const bool released = stopped ? anywhere || (usage.sets == 0 && usage.preparsed == 0) : usage.none();
    if (!released || (!stopped && (status < 0 || status > 5))) {
        fprintf(stderr, "%s %s: status %d, left %s\n", option, scenario.c_str(), status, sim_describe(usage).c_str());
        std::abort();
    }
    return 0;
}
