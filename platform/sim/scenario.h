// The QUORVEX_SIM scenario: what the simulated bus holds and how it misbehaves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sim_fault {
    std::string op;
    int call;  // 1-based call index; 0 for every call
};

struct sim_scenario {
    std::string device = "both";  // both, control or none
    int quorvex = 1;              // how many quorvex devices are plugged in
    int others = 2;               // openable HID interfaces of other makers
    int locked = 0;               // interfaces the process may not open
    int foreign = 0;              // quorvex vendor ID, another product ID
    int badcaps = 0;              // quorvex IDs, but whose capabilities cannot be read
    int emptypath = 0;            // interfaces with an empty device path
    int longpath = 0;             // interfaces with a very long device path
    int shortsize = 0;            // size query reports less than the record's fixed part
    std::vector<sim_fault> faults;
    bool custom_reply = false;
    std::vector<uint8_t> reply;   // data bytes after the report ID, at most 32
    bool answer = true;           // false: the device never delivers a message report
    int reply_length = 33;        // how many bytes a read of a message report returns
    bool virtual_clock = false;
    int interrupt_after = 0;      // 0: never
};

// Parses the comma-separated items; false with the offending item named.
bool parse_scenario(const std::string& text, sim_scenario* scenario, std::string* error);
