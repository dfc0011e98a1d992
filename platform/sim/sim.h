// The simulated system's own controls, for the program's entry point and the
// tests. The client never includes this: it sees only the Windows names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/winapi.h"

// Lays out the bus and the device as the scenario text says (the syntax of
// QUORVEX_SIM) and forgets everything that came before: open objects, call
// counts, recorded events. False, with the reason, on a malformed scenario.
bool sim_configure(const std::string& scenario, std::string* error);

// Whether the device's view is written to standard error ("sim: " lines).
void sim_set_trace(bool on);

// What the client holds right now.
struct sim_in_use {
    int handles;
    int sets;
    int preparsed;
    int heap_blocks;
    bool none() const { return handles == 0 && sets == 0 && preparsed == 0 && heap_blocks == 0; }
};
sim_in_use sim_usage();
std::string sim_describe(const sim_in_use& usage);

// One thing the device or the clock saw, in order.
struct sim_event {
    std::string op;          // WriteFile, HidD_SetOutputReport, ReadFile, CreateFileA,
                             // SetupDiGetClassDevsA (a set was made) or Sleep
    std::string target;      // control, message, other, or the opened path for CreateFileA
    std::vector<uint8_t> bytes;
    DWORD error = 0;         // 0 when the call succeeded
    DWORD sleep_ms = 0;
};
const std::vector<sim_event>& sim_events();

// How often the client has called a platform operation (Windows name, or
// malloc) since the last configure.
int sim_calls(const std::string& op);

// The operations a scenario may make fail with fail=OP.
const std::vector<std::string>& sim_failable_operations();

// Called where interrupt-after stops the run, and where a read would wait for
// ever; without a handler the first ends the process by SIGINT, as Ctrl+C ends
// a console program, and the second waits. Tests may throw from here.
void sim_on_interrupt(void (*handler)());

// The program's arguments, which GetCommandLineA gives back as one line, each
// quoted as Windows quotes it; the program's entry point sets them, and so
// does a test that runs the client in this process.
void sim_set_arguments(int argc, const char* const* argv);
char* sim_command_line();
