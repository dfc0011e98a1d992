// Ways to run the program in tests: in this process over the simulated
// system, or as a whole process of the built binary under a QUORVEX_SIM scenario.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/expectations.h"
#include "tests/scratch.h"

struct run_result {
    int status = -1;  // exit status, or -1 when a signal ended the run
    int signal = 0;   // the signal that ended it, if any
    std::string out;
    std::string err;
    bool interrupted = false;  // in-process: stopped by interrupt-after
};

// testquorvex_main in this process, stdout captured byte for byte. The
// scenario must parse; interrupt-after ends the run by unwinding back here.
run_result run_here(const std::string& scenario, const std::vector<std::string>& args);

// The testquorvex binary with QUORVEX_SIM set (unset when scenario is null).
run_result run_program(const char* scenario, const std::vector<std::string>& args);

// The same, stopped from outside with a signal (SIGTERM) once its standard
// error shows the marker (or after ten seconds).
run_result run_program_until(const char* scenario, const std::vector<std::string>& args, const std::string& marker,
                             int signal = SIGTERM);

// Every frame the control collection received, in order, as sent by the given
// operation ("" for either).
std::vector<std::vector<uint8_t>> frames_sent(const std::string& op = "");
// The same, marked with the way each was sent, to compare with expected_frames.
std::vector<expected_frame> frames_received();
// Every frame the device was handed, the ones it refused among them.
std::vector<expected_frame> frames_handed();
// The input reports the client read from the message collection.
std::vector<std::vector<uint8_t>> reports_read();
std::vector<DWORD> sleeps();

// Discovery and connect on the default bus (two foreign interfaces, then the
// device's control and message collections), up to "...sending request(s)".
std::string connected_prologue();

// The device path of the present HID interface at this enumeration index.
std::string hid_path_at(DWORD index);

// A script in a new file of its own in this process's folder, whose path is returned.
std::string script_file(const std::string& text);
// The path of examples/NAME.txt in the source tree.
std::string example(const std::string& name);
