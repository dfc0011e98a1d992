// The operations a scenario may make fail, each with the error its failure
// gives, and the counting of every call, which fail=, stall=, late-entry= and
// ctrl-c-at= name by number.

#include <cstddef>

#include "platform/sim/bus.h"
#include "platform/sim/console.h"
#include "platform/sim/threads.h"

namespace {

struct failable {
    const char* op;
    DWORD error;
};

// In the order the fault sweep and the fuzzer number them.
const failable kFailable[] = {
    {"malloc", ERROR_INVALID_FUNCTION},
    {"HidD_GetHidGuid", ERROR_INVALID_FUNCTION},
    {"SetupDiGetClassDevsA", ERROR_INVALID_CLASS},
    {"SetupDiEnumDeviceInterfaces", ERROR_NO_MORE_ITEMS},
    {"SetupDiGetDeviceInterfaceDetailA", 0xE000020Bu},  // ERROR_NO_SUCH_DEVINST
    {"SetupDiDestroyDeviceInfoList", ERROR_INVALID_HANDLE},
    {"CreateFileA", ERROR_FILE_NOT_FOUND},
    {"HidD_GetPreparsedData", ERROR_INVALID_FUNCTION},
    {"HidD_GetAttributes", ERROR_INVALID_FUNCTION},
    {"HidP_GetCaps", ERROR_INVALID_FUNCTION},
    {"HidD_FreePreparsedData", ERROR_INVALID_FUNCTION},
    {"CloseHandle", ERROR_INVALID_HANDLE},
    {"HidD_SetNumInputBuffers", ERROR_INVALID_PARAMETER},
    {"WriteFile", ERROR_GEN_FAILURE},
    {"HidD_SetOutputReport", ERROR_GEN_FAILURE},
    {"ReadFile", ERROR_DEVICE_NOT_CONNECTED},
    {"CreateEventA", ERROR_NOT_ENOUGH_MEMORY},
    {"OpenThread", ERROR_NOT_ENOUGH_MEMORY},
    {"CreateThread", ERROR_NOT_ENOUGH_MEMORY},
    {"HidD_FlushQueue", ERROR_GEN_FAILURE},
    {"SetConsoleCtrlHandler", ERROR_NOT_ENOUGH_MEMORY},
    {"HidD_GetManufacturerString", ERROR_GEN_FAILURE},
    {"HidD_GetProductString", ERROR_GEN_FAILURE},
    {"HidD_GetSerialNumberString", ERROR_GEN_FAILURE},
    // Host files: held by another program, unreadable, a full disk, a failed flush.
    {"file:CreateFileA", ERROR_SHARING_VIOLATION},
    {"file:ReadFile", ERROR_READ_FAULT},
    {"file:WriteFile", ERROR_DISK_FULL},
    {"file:FlushFileBuffers", ERROR_WRITE_FAULT},
    {"file:DeleteFileA", ERROR_ACCESS_DENIED},
    {"file:CloseHandle", ERROR_INVALID_HANDLE},
    // Reading what arrives from the input collections.
    {"HidP_GetValueCaps", ERROR_INVALID_FUNCTION},
    {"RegisterClassExA", ERROR_NOT_ENOUGH_MEMORY},
    {"CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY},
    {"RegisterRawInputDevices", ERROR_INVALID_PARAMETER},
    {"GetRawInputData", ERROR_INVALID_HANDLE},
    {"GetRawInputDeviceInfoA", ERROR_INVALID_HANDLE},
};

DWORD injected_error(const std::string& op) {
    for (const failable& f : kFailable)
        if (op == f.op) return f.error;
    return ERROR_INVALID_FUNCTION;
}

}  // namespace

int count_call(const std::string& op) {
    threads_checkpoint();
    const int call = ++sys().calls[op];
    for (const sim_call_at& at : sys().scenario.ctrl_c_at) {
        if (at.op != op || at.call != call) continue;
        trace("Ctrl+C during " + op + " call " + std::to_string(call));
        console_raise(CTRL_C_EVENT);
    }
    return call;
}

bool fault_injected(const std::string& op) {
    const int call = count_call(op);
    for (const sim_fault& fault : sys().scenario.faults) {
        if (fault.op == op && (fault.call == 0 || fault.call == call)) return true;
    }
    return false;
}

bool maybe_inject(const std::string& op) {
    if (!fault_injected(op)) return false;
    set_last_error(injected_error(op));
    trace("fail " + op + " call " + std::to_string(sys().calls[op]) + ": error " + std::to_string(GetLastError()));
    return true;
}

const std::vector<std::string>& sim_failable_operations() {
    static const std::vector<std::string> kOps = [] {
        std::vector<std::string> ops;
        for (const failable& f : kFailable) ops.push_back(f.op);
        return ops;
    }();
    return kOps;
}
