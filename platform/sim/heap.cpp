#include "platform/sim/heap.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/platform.h"
#include "platform/sim/bus.h"
#include "platform/sim/threads.h"

namespace {

constexpr size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xFD;

struct heap_block {
    size_t size;  // what the client asked for
    void* whole;  // with the guards; kept so that a stopped run's blocks stay reachable
};

struct heap_state {
    std::map<const void*, heap_block> blocks;  // by what the client sees
    // Process exit gives back what a stopped run still held, as Windows does.
    ~heap_state() {
        for (auto& block : blocks) std::free(block.second.whole);
    }
};

heap_state& heap() {
    static heap_state state;
    return state;
}

bool intact(const unsigned char* guard) {
    for (size_t i = 0; i < kGuard; ++i)
        if (guard[i] != kGuardByte) return false;
    return true;
}

// A write outside its block corrupts whatever lies beside it on Windows; the
// run must fail here, loudly, with the block named.
void check(const void* block, size_t size) {
    const auto* user = static_cast<const unsigned char*>(block);
    const bool before = intact(user - kGuard);
    const bool after = intact(user + size);
    if (before && after) return;
    fprintf(stderr, "sim: heap block of %zu bytes was written %s\n", size,
            !before && !after ? "before its start and past its end" : !before ? "before its start" : "past its end");
    std::abort();
}

}  // namespace

void heap_reset() {
    heap_check_all();
    for (auto& block : heap().blocks) std::free(block.second.whole);
    heap().blocks.clear();
}

int heap_blocks() { return static_cast<int>(heap().blocks.size()); }

size_t heap_block_size(const void* block) {
    auto it = heap().blocks.find(block);
    return it == heap().blocks.end() ? 0 : it->second.size;
}

void heap_check_all() {
    for (const auto& block : heap().blocks) check(block.first, block.second.size);
}

void* host_malloc(std::size_t size) {
    system_call call;
    if (fault_injected("malloc")) {
        trace("fail malloc call " + std::to_string(sim_calls("malloc")));
        return nullptr;
    }
    auto* whole = static_cast<unsigned char*>(std::malloc(size + 2 * kGuard));
    if (whole == nullptr) return nullptr;
    std::memset(whole, kGuardByte, kGuard);
    std::memset(whole + kGuard + size, kGuardByte, kGuard);
    void* block = whole + kGuard;
    heap().blocks[block] = {size, whole};
    return succeed_with(block);
}

void host_free(void* block) {
    system_call call;
    if (block == nullptr) return;
    auto it = heap().blocks.find(block);
    if (it == heap().blocks.end()) {
        fprintf(stderr, "sim: free of a block the heap never gave out\n");
        std::abort();
    }
    check(block, it->second.size);
    void* whole = it->second.whole;
    heap().blocks.erase(it);
    std::free(whole);
    set_last_error(kClobberedLastError);
}
