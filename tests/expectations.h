// What the program must print and send, mode by mode: the one table of
// expectations that the host tests (over the simulated system) and the
// end-to-end tests (under Wine, with the minidriver) both compare against.
// Written from the device contract and the demonstrations, not from the client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// One output report as the device received it.
struct expected_frame {
    char via;                    // 'W' by WriteFile, 'S' by HidD_SetOutputReport
    std::vector<uint8_t> bytes;  // all 65
    bool operator==(const expected_frame& other) const { return via == other.via && bytes == other.bytes; }
};
void PrintTo(const expected_frame& frame, std::ostream* out);

// Every frame a run of the mode sends when the device accepts them all, in
// order; for /joystick, the first `count` of its endless stream; for /all,
// the five modes' frames one after another; for /ping and /flood, what a
// run with /count:count sends.
std::vector<expected_frame> expected_frames(const std::string& option, size_t count = 0);

// What /fuzz /seed:seed /count:count sends: each batch of 64 frames the
// generator gives, sent alternately by WriteFile and HidD_SetOutputReport,
// then the check's vendor message.
std::vector<expected_frame> expected_fuzz_frames(uint32_t seed, uint64_t count);

// The input reports the device delivers in answer (33 bytes each).
std::vector<std::vector<uint8_t>> expected_replies(const std::string& option, size_t count = 0);

// What the demonstration prints after "...sending request(s) to our device".
std::string expected_demonstration(const std::string& option);

// What /? prints: the name and version, the usage line, the two extra options.
std::string expected_help();

// Lines of discovery and of the front end.
std::string search_line(int usage);
// A trace's steps: its comment lines and each step's " # " result left out.
std::vector<std::string> trace_steps(const std::string& text);
extern const char kFound[];
extern const char kNotFound[];
extern const char kSending[];
extern const char kUsage[];
