// The benchmark's bare loop: the platform calls /flood and /ping make, on the
// same collections opened the same way, with nothing around them (no
// discovery lines, no deadline, no counters). tools/bench sets the tool's
// figures beside these.
//   quorvex_bare flood N   N neutral joystick frames back to back
//   quorvex_bare ping N    N vendor messages, each written and its answer read
// Prints one line of figures, or why it could not.

#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/windows/quorvex_path.h"

namespace {

HANDLE open_collection(const char* collection) {
    GUID hid;
    HidD_GetHidGuid(&hid);
    const std::string path = quorvex_path(hid, collection);
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

long long ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        printf("usage: quorvex_bare flood|ping N\n");
        return 1;
    }
    const std::string what = argv[1];
    const long count = std::atol(argv[2]);
    HANDLE control = open_collection("col01");
    HANDLE message = open_collection("col02");
    if (control == INVALID_HANDLE_VALUE || message == INVALID_HANDLE_VALUE || count <= 0) {
        printf("the quorvex device is not there (%lu)\n", GetLastError());
        return 1;
    }
    HidD_SetNumInputBuffers(message, 10);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double per_second = static_cast<double>(frequency.QuadPart);
    unsigned char frame[65] = {};
    DWORD done = 0;
    int status = 0;
    if (what == "flood") {
        const unsigned char neutral[] = {0x40, 9, 0x06, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0, 0};
        std::copy(neutral, neutral + sizeof(neutral), frame);
        const long long start = ticks();
        for (long n = 0; n < count; ++n)
            if (!WriteFile(control, frame, sizeof(frame), &done, nullptr)) status = 1;
        const double seconds = static_cast<double>(ticks() - start) / per_second;
        printf("frames_per_second %.1f\n", static_cast<double>(count) / seconds);
    } else {
        std::vector<double> us;
        us.reserve(static_cast<size_t>(count));
        unsigned char answer[33];
        for (long n = 1; n <= count; ++n) {
            std::fill(frame, frame + sizeof(frame), 0);
            frame[0] = 0x40;
            frame[1] = 33;
            frame[2] = 0x10;
            for (int i = 0; i < 4; ++i) frame[3 + i] = static_cast<unsigned char>(n >> (8 * i));
            const long long start = ticks();
            if (!WriteFile(control, frame, sizeof(frame), &done, nullptr) ||
                !ReadFile(message, answer, sizeof(answer), &done, nullptr)) {
                status = 1;
                continue;
            }
            us.push_back(static_cast<double>(ticks() - start) * 1e6 / per_second);
        }
        std::sort(us.begin(), us.end());
        auto rank = [&](size_t percent) { return us.empty() ? 0.0 : us[(us.size() * percent + 99) / 100 - 1]; };
        printf("median_us %.0f p99_us %.0f\n", rank(50), rank(99));
    }
    CloseHandle(control);
    CloseHandle(message);
    return status;
}
