// A whole program run as a child process, its standard output and error
// captured in files, for the tests that run the program from outside.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct child_process {
    pid_t pid = -1;
    std::string out_path;
    std::string err_path;
};

struct child_result {
    int status = -1;         // exit status, or -1 when a signal ended it
    int signal = 0;          // the signal that ended it, if any
    bool timed_out = false;  // still running at the deadline, so killed
    std::string out;
    std::string err;
};

// argv[0] is the program's path; the child starts in this process's own
// folder (tests/scratch.h), where its output is kept too. Each "NAME=value" of env is set in the
// child, each bare "NAME" unset; its standard input is read from stdin_path.
child_process start_child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                          const std::string& stdin_path = "/dev/null");

// Waits up to timeout_ms for the child to end (killing it past that), then
// collects what it printed and removes the files.
child_result finish_child(child_process& child, int timeout_ms);

std::string read_file(const std::string& path);
