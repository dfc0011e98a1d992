// The simulated system's heap: the blocks the client takes through
// host_malloc, each between guard bytes that tell a write before or past it,
// as a checking heap on Windows would.
#pragma once

#include <cstddef>

// Checks and frees every block still held (a new run).
void heap_reset();
int heap_blocks();
// The size the client asked for, or 0 when the heap never gave this block out.
size_t heap_block_size(const void* block);
// Checks the guards of every block still held; a damaged one ends the process.
void heap_check_all();
