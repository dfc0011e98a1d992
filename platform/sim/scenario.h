// The QUORVEX_SIM scenario: what the simulated bus holds and how it misbehaves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/quorvex_device.h"

struct sim_fault {
    std::string op;
    int call;  // 1-based call index; 0 for every call
};

// The K-th call of an operation, for what happens at it.
struct sim_call_at {
    std::string op;
    int call;  // 1-based call index
};

// A transfer the driver does not complete until it is cancelled.
struct sim_stall {
    std::string op;  // WriteFile, HidD_SetOutputReport or ReadFile
    int call;        // 1-based call index
    bool deaf;       // it ignores the cancel too
};

// Another process holding one of the device's collections open.
struct sim_holder {
    std::string collection;  // control or message
    uint32_t access;         // GENERIC_READ and/or GENERIC_WRITE
    uint32_t share;          // FILE_SHARE_READ and/or FILE_SHARE_WRITE
};

struct sim_scenario {
    std::string device = "both";  // both, control or none
    int quorvex = 1;              // how many quorvex devices are plugged in
    int others = 2;               // openable HID interfaces of other makers
    int locked = 0;               // interfaces the process may not open
    int busy = 0;                 // other makers' collections the system holds, sharing nothing
    int foreign = 0;              // quorvex vendor ID, another product ID
    int badcaps = 0;              // quorvex IDs, but whose capabilities cannot be read
    int emptypath = 0;            // interfaces with an empty device path
    int longpath = 0;             // interfaces with a very long device path
    int shortsize = 0;            // size query reports less than the record's fixed part
    int absent = 1;               // interfaces of a quorvex device that is no longer present
    int gone = 0;                 // interfaces of other makers' devices that are no longer present
    int othervendor = 0;          // another vendor's device with the quorvex product ID and usages
    int genericpage = 0;          // quorvex IDs with usages 1 and 2 on the generic desktop page
    bool message_first = false;   // the message collection is listed before the control collection
    std::vector<sim_holder> holders;
    std::vector<sim_fault> faults;
    std::vector<sim_stall> stalls;
    std::vector<sim_call_at> late_entries;  // transfers another thread tries to cancel before they begin
    std::vector<sim_call_at> ctrl_c_at;     // calls during which Ctrl+C comes
    std::string ctrl_c_at_line;            // the whole program: Ctrl+C once a line starting so is printed
    bool custom_reply = false;
    std::vector<uint8_t> reply;   // data bytes after the report ID, at most 32
    bool answer = true;           // false: the device never delivers a message report
    int reply_length = 33;        // how many bytes a read of a message report returns
    bool virtual_clock = false;
    int interrupt_after = 0;      // 0: never
    int ctrl_c_after = 0;         // Ctrl+C comes during this transfer (from 1); 0: never
    int ctrl_break_after = 0;     // Ctrl+Break, likewise
    int ctrl_close_after = 0;     // the console window closed, likewise
    int late_answer = 0;          // the device's answer to the frame it takes as this one comes after the next flush, and it answers nothing after; 0: never
    int unplug_after = 0;         // the device is unplugged after taking this many frames; 0: never
    int arrive_after = 0;         // ms after the start at which the quorvex interfaces appear
    std::vector<int> latency_us;  // how long each transfer takes, the list taken in turn; none: no time
    std::vector<device_fault> fragile;  // frames after which the device goes deaf
    // The device's input collections: none, held as Windows holds them (inputs),
    // or all open for reading, as under Wine (inputs=open).
    enum { no_inputs, inputs_held, inputs_open } inputs = no_inputs;
    device_delivery_fault delivery = {DEVICE_DELIVERS, DEVICE_INPUT_TOUCH};
};

// Parses the comma-separated items; false with the offending item named.
bool parse_scenario(const std::string& text, sim_scenario* scenario, std::string* error);
