// Inside the simulated system: the simulated HID bus, the objects the client
// holds, and the helpers the stand-ins for each Windows library share. The
// client never sees this; it sees only the Windows names of winapi.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/quorvex_device.h"
#include "platform/sim/scenario.h"
#include "platform/sim/sim.h"
#include "platform/sim/winapi.h"

// What a collection is to the client.
enum class collection_kind { control, message, input, other };

// Who holds a collection besides the client.
enum class holder {
    nobody,
    system_exclusive,  // the system, sharing nothing with transfers: a read/write open is denied (5)
    system_shared,     // the system, through share modes that share nothing: a read/write open conflicts (32)
    other_process,     // another process, as hold= lays out
};

// One HID interface on the bus: a collection of some device.
struct bus_interface {
    std::string path;
    collection_kind kind;
    holder held_by;
    uint16_t vendor;
    uint16_t product;
    uint16_t usage_page;
    uint16_t usage;
    int device;  // which quorvex device a collection belongs to
    bool caps_fail;
    bool short_size_query;
    uint16_t input_length = 0;   // bytes of its input reports, report ID included; 0: it has none
    uint16_t output_length = 0;  // likewise for output reports
    bool present = true;  // false: its device was unplugged, and only its registration is left
    bool arrived = true;  // false: its device is still being installed, and the system knows nothing of it
    int input = -1;       // an input collection: which (device_input)
};

using input_report = std::vector<uint8_t>;

struct open_file {
    size_t iface;
    DWORD access;
    DWORD share;
    DWORD flags;
    ULONG input_buffers;
    std::deque<input_report> input;
};

// Whatever takes a collection's input reports as the device delivers them:
// each open's buffer now, the system's own readers later.
struct input_subscriber {
    size_t iface;
    std::function<void(const input_report&)> take;
};

// An open by another process, which the client's opens must share with.
struct other_open {
    size_t iface;
    DWORD access;
    DWORD share;
};

struct device_set {
    std::vector<size_t> members;
};

struct system_state {
    sim_scenario scenario;
    std::vector<bus_interface> bus;
    std::map<uintptr_t, open_file> files;
    std::map<uintptr_t, input_subscriber> subscribers;  // by the open (or other reader) that subscribed
    std::vector<other_open> others;
    std::map<uintptr_t, device_set> sets;
    std::map<uintptr_t, size_t> preparsed;  // -> interface
    std::map<std::string, int> calls;
    std::vector<sim_event> events;
    uintptr_t next_object = 0x100;
    int sleeps = 0;
    int frames = 0;  // output reports the device has taken
    bool trace = false;
    void (*interrupt)() = nullptr;
    std::string command_line;  // what GetCommandLineA gives
    bool mute = false;         // late-answer: the device answers nothing more
    std::vector<std::pair<size_t, input_report>> held;  // answers that come after the next flush
    bool deaf = false;         // a fragile rule matched: no transfer completes any more
    bool recording = true;     // whether sim_events keeps what happened: the tests' runs only
};

system_state& sys();

// ---- the last error, per thread as on Windows -------------------------------
void set_last_error(DWORD error);
// A successful call may leave any value in the last error, and anything run
// between a failure and GetLastError may change it; the stand-ins leave this,
// which no Windows call gives, so that a stale read shows in the output.
constexpr DWORD kClobberedLastError = 0x57A1E;
template <typename T>
T succeed_with(T result) {
    set_last_error(kClobberedLastError);
    return result;
}
template <typename T>
T fail_with(DWORD error, T result) {
    set_last_error(error);
    return result;
}

// ---- bookkeeping (bus.cpp) -----------------------------------------------------
void trace(const std::string& line);
uintptr_t new_object();
open_file* find_file(HANDLE handle);
device_set* find_set(HDEVINFO set);
const char* collection_name(const bus_interface& iface);
void record(const std::string& op, const std::string& target, const uint8_t* bytes, size_t length, DWORD error);
// Records a refused call on a collection and fails with the error.
BOOL refuse(const char* op, const char* collection, DWORD error);

// ---- the fault table (faults.cpp) ----------------------------------------------
// Counts a call of the operation; ctrl-c-at=OP@K comes during the K-th.
int count_call(const std::string& op);
// Counts the call and, when the scenario makes this one fail, sets the error
// that failure gives and says so.
bool maybe_inject(const std::string& op);
// Counts the call; true when the scenario makes this one fail.
bool fault_injected(const std::string& op);

// ---- the population (population.cpp) --------------------------------------------
// Lays out the interfaces and who holds them, as the scenario says.
void populate(const sim_scenario& scenario);
// The interfaces of a device still being installed appear once their time has come.
void arrive_when_due();

// ---- the process (process.cpp) ------------------------------------------------
// What the run still holds, at its end: "sim: exit: ..." on standard error.
void report_at_exit();
// Ends the process with this status, after the simulated system's account.
[[noreturn]] void end_process(UINT status);

// ---- transfers and delivery (transfers.cpp) ------------------------------------
// An output report sent to an open collection by WriteFile or
// HidD_SetOutputReport: checked as Windows and the device check it, recorded,
// answered.
BOOL send_output(const char* op, HANDLE handle, const void* buffer, DWORD length);
// late-answer: what the device held back reaches the collection once its queue was flushed.
void deliver_held_answers(size_t iface);
// A synchronous read of one input report from an open collection.
BOOL read_input(HANDLE handle, void* buffer, DWORD length, DWORD* read);
// Each open of a collection that has input reports takes what the device
// delivers on it from now on, until it closes.
void subscribe_input(uintptr_t open, size_t iface, std::function<void(const input_report&)> take);
void unsubscribe_input(uintptr_t open);

extern const GUID kHidGuid;
constexpr ULONG kDefaultInputBuffers = 32;  // what Windows gives a new HID handle
