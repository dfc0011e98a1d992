// Stand-ins for user32: message-only windows, each thread's message queue,
// and Raw Input from the input collections the system holds.

#include "platform/sim/bus.h"
#include "platform/sim/threads.h"

namespace {

template <typename T>
T not_yet(T result) {
    return fail_with<T>(ERROR_CALL_NOT_IMPLEMENTED, result);
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR) {
    system_call call;
    return not_yet<HMODULE>(nullptr);
}

ATOM RegisterClassExA(const WNDCLASSEXA*) {
    system_call call;
    return not_yet<ATOM>(0);
}

BOOL UnregisterClassA(LPCSTR, HINSTANCE) {
    system_call call;
    return not_yet<BOOL>(FALSE);
}

HWND CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
    system_call call;
    return not_yet<HWND>(nullptr);
}

BOOL DestroyWindow(HWND) {
    system_call call;
    return not_yet<BOOL>(FALSE);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

LONG_PTR SetWindowLongPtrA(HWND, int, LONG_PTR) {
    system_call call;
    return not_yet<LONG_PTR>(0);
}

LONG_PTR GetWindowLongPtrA(HWND, int) {
    system_call call;
    return not_yet<LONG_PTR>(0);
}

BOOL GetMessageA(LPMSG, HWND, UINT, UINT) {
    system_call call;
    return not_yet<BOOL>(-1);
}

BOOL PeekMessageA(LPMSG, HWND, UINT, UINT, UINT) {
    system_call call;
    return not_yet<BOOL>(FALSE);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG*) {
    system_call call;
    return not_yet<LRESULT>(0);
}

BOOL PostMessageA(HWND, UINT, WPARAM, LPARAM) {
    system_call call;
    return not_yet<BOOL>(FALSE);
}

BOOL PostThreadMessageA(DWORD, UINT, WPARAM, LPARAM) {
    system_call call;
    return not_yet<BOOL>(FALSE);
}

void PostQuitMessage(int) {}

DWORD MsgWaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD, DWORD) {
    system_call call;
    return not_yet<DWORD>(WAIT_FAILED);
}

BOOL RegisterRawInputDevices(PCRAWINPUTDEVICE, UINT, UINT) {
    system_call call;
    return not_yet<BOOL>(FALSE);
}

UINT GetRawInputData(HRAWINPUT, UINT, LPVOID, PUINT, UINT) {
    system_call call;
    return not_yet<UINT>(static_cast<UINT>(-1));
}

UINT GetRawInputDeviceInfoA(HANDLE, UINT, LPVOID, PUINT) {
    system_call call;
    return not_yet<UINT>(static_cast<UINT>(-1));
}
