// The only header the client includes to reach the host: the Windows device
// setup, HID class and kernel services under their own names, plus the heap.
#pragma once

#include <cstddef>

#include "platform/printf_format.h"

#ifdef _WIN32
#include <windows.h>
#include <setupapi.h>
// MinGW's HID headers lack C linkage guards; the SDK's have them, and nesting is harmless.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
#else
#include "sim/winapi.h"
#endif

// Heap blocks the client owns go through here so the simulated system can
// count them and make an allocation fail; on Windows these are malloc/free.
void* host_malloc(std::size_t size);
void host_free(void* block);

// Called once by the program's entry point before anything else. On Windows it
// does nothing; the simulated system reads its scenario and the arguments
// here, and may end the process if the scenario is malformed.
void host_start(int argc, char** argv);

// Ends a run the tester stopped with Ctrl+C, after its summary, as the
// platform ends such a program: on Windows with STATUS_CONTROL_C_EXIT,
// elsewhere by SIGINT's default action, as a shell expects.
[[noreturn]] void host_end_interrupted();
