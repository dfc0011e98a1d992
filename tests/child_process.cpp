#include "tests/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/scratch.h"

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

child_process start_child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& stdin_path) {
    child_process child;
    child.out_path = scratch_file("out-");
    child.err_path = scratch_file("err-");
    const int out_fd = open(child.out_path.c_str(), O_WRONLY | O_TRUNC);
    const int err_fd = open(child.err_path.c_str(), O_WRONLY | O_TRUNC);
    const std::string& folder = scratch_folder();
    child.pid = fork();
    if (child.pid == 0) {
        // What the child writes where it stands goes with this process's files.
        if (chdir(folder.c_str()) != 0) _exit(126);
        const int in_fd = open(stdin_path.c_str(), O_RDONLY);
        dup2(in_fd, STDIN_FILENO);
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        for (const std::string& entry : env) {
            const size_t eq = entry.find('=');
            if (eq == std::string::npos) unsetenv(entry.c_str());
            else setenv(entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, 1);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out_fd);
    close(err_fd);
    return child;
}

child_result finish_child(child_process& child, int timeout_ms) {
    child_result result;
    int wait_status = 0;
    bool ended = false;
    for (int waited = 0; !ended && waited < timeout_ms; waited += 10) {
        ended = waitpid(child.pid, &wait_status, WNOHANG) == child.pid;
        if (!ended) usleep(10000);
    }
    if (!ended) {
        result.timed_out = true;
        kill(child.pid, SIGKILL);
        waitpid(child.pid, &wait_status, 0);
    }
    if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
    result.out = read_file(child.out_path);
    result.err = read_file(child.err_path);
    unlink(child.out_path.c_str());
    unlink(child.err_path.c_str());
    child.pid = -1;
    return result;
}
