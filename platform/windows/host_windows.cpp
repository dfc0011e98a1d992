#include "platform/platform.h"

#include <cstdlib>

// The record layouts the 32-bit program was written against; a 64-bit build
// has its own sizes, which the client always takes from sizeof.
#if !defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SetupAPI interface data record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "SetupAPI detail record fixed part");
#endif

void* host_malloc(std::size_t size) { return std::malloc(size); }

void host_free(void* block) { std::free(block); }

void host_start(int, char**) {}

void host_end_interrupted() { ExitProcess(STATUS_CONTROL_C_EXIT); }
