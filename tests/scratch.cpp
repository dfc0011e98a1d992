#include "tests/scratch.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

std::string g_folder;
pid_t g_owner = 0;

void remove_folder() {
    // A forked child that exits normally must not take its parent's files.
    if (g_folder.empty() || getpid() != g_owner) return;
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

}  // namespace

const std::string& scratch_folder() {
    if (!g_folder.empty()) return g_folder;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quorvex-tests-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        perror(pattern.c_str());
        std::abort();
    }
    g_folder = name.data();
    g_owner = getpid();
    std::atexit(remove_folder);
    return g_folder;
}

std::string scratch_path(const std::string& name) { return scratch_folder() + "/" + name; }

std::string scratch_file(const std::string& prefix) {
    std::string pattern = scratch_path(prefix + "XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        perror(pattern.c_str());
        std::abort();
    }
    close(fd);
    return name.data();
}
