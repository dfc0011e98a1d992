#include "platform/sim/timing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/sim/bus.h"
#include "platform/sim/clock.h"

namespace {

struct sync_object {
    enum { event, thread, thread_ref } kind;
    bool signaled;
    bool manual_reset;
    DWORD thread_id;     // thread_ref: which thread
    std::thread worker;  // thread: joined when its handle closes after it ended
};

std::mutex g_lock;
std::condition_variable g_changed;
std::map<uintptr_t, std::shared_ptr<sync_object>> g_objects;
uintptr_t g_next_handle = 0x7000000;
int g_running = 0;             // threads started and not yet returned
std::set<DWORD> g_stalled;     // threads held in a stalled transfer
std::set<DWORD> g_cancelled;   // those whose I/O another thread cancelled
std::set<DWORD> g_deaf;        // those whose transfer ignores it

// Virtual time passes while a transfer is held: not while a cancelled one is
// on its way back, unless the cancel is ignored.
bool time_passes() {
    for (DWORD id : g_stalled)
        if (g_cancelled.count(id) == 0 || g_deaf.count(id) != 0) return true;
    return false;
}
std::atomic<DWORD> g_next_id{1000};
thread_local DWORD t_id = 0;
std::vector<int> g_latency_us;  // only the client's thread transfers
size_t g_transfers = 0;

HANDLE add(decltype(sync_object::kind) kind, bool signaled, bool manual_reset, DWORD thread_id) {
    g_next_handle += 4;
    auto object = std::make_shared<sync_object>();
    object->kind = kind;
    object->signaled = signaled;
    object->manual_reset = manual_reset;
    object->thread_id = thread_id;
    g_objects[g_next_handle] = object;
    return reinterpret_cast<HANDLE>(g_next_handle);
}

std::shared_ptr<sync_object> find(HANDLE handle) {
    auto it = g_objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == g_objects.end() ? nullptr : it->second;
}

}  // namespace

void timing_reset(const std::vector<int>& latency_us) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_latency_us = latency_us;
    g_transfers = 0;
    for (auto& entry : g_objects)
        if (entry.second->worker.joinable()) entry.second->worker.detach();
    g_objects.clear();
    g_stalled.clear();
    g_cancelled.clear();
    g_deaf.clear();
}

void timing_transfer() {
    if (g_latency_us.empty()) return;
    clock_pass(g_latency_us[g_transfers++ % g_latency_us.size()]);
}

int timing_open_objects() {
    std::lock_guard<std::mutex> lock(g_lock);
    return static_cast<int>(g_objects.size());
}

DWORD timing_thread_id() {
    if (t_id == 0) t_id = g_next_id += 4;
    return t_id;
}

DWORD timing_stall(bool deaf, void (*no_canceller)()) {
    const DWORD me = timing_thread_id();
    std::unique_lock<std::mutex> lock(g_lock);
    if (g_running == 0) {
        lock.unlock();
        if (no_canceller != nullptr) no_canceller();
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    g_stalled.insert(me);
    if (deaf) g_deaf.insert(me);
    g_changed.notify_all();
    g_changed.wait(lock, [&] { return !deaf && g_cancelled.count(me) != 0; });
    g_cancelled.erase(me);
    g_stalled.erase(me);
    g_changed.notify_all();
    return ERROR_OPERATION_ABORTED;
}

HANDLE timing_create_event(bool manual_reset, bool initial) {
    std::lock_guard<std::mutex> lock(g_lock);
    return add(sync_object::event, initial, manual_reset, 0);
}

BOOL timing_set_event(HANDLE event) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto object = find(event);
    if (object == nullptr || object->kind != sync_object::event) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    object->signaled = true;
    g_changed.notify_all();
    return succeed_with(TRUE);
}

DWORD timing_wait(HANDLE handle, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(g_lock);
    auto object = find(handle);
    if (object == nullptr || object->kind == sync_object::thread_ref)
        return fail_with(ERROR_INVALID_HANDLE, static_cast<DWORD>(WAIT_FAILED));
    if (milliseconds == INFINITE) {
        g_changed.wait(lock, [&] { return object->signaled; });
    } else if (clock_is_virtual()) {
        g_changed.wait(lock, [&] { return object->signaled || time_passes(); });
        if (!object->signaled) {
            lock.unlock();
            clock_pass(static_cast<int64_t>(milliseconds) * 1000);
            return succeed_with(static_cast<DWORD>(WAIT_TIMEOUT));
        }
    } else if (!g_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return object->signaled; })) {
        return succeed_with(static_cast<DWORD>(WAIT_TIMEOUT));
    }
    if (object->kind == sync_object::event && !object->manual_reset) object->signaled = false;
    return succeed_with(static_cast<DWORD>(WAIT_OBJECT_0));
}

HANDLE timing_create_thread(LPTHREAD_START_ROUTINE start, LPVOID argument) {
    std::lock_guard<std::mutex> lock(g_lock);
    HANDLE handle = add(sync_object::thread, false, true, 0);
    std::shared_ptr<sync_object> object = find(handle);
    ++g_running;
    object->worker = std::thread([object, start, argument] {
        start(argument);
        std::lock_guard<std::mutex> done(g_lock);
        object->signaled = true;
        --g_running;
        g_changed.notify_all();
    });
    return handle;
}

HANDLE timing_open_thread(DWORD thread_id) {
    std::lock_guard<std::mutex> lock(g_lock);
    return add(sync_object::thread_ref, false, true, thread_id);
}

BOOL timing_cancel_io(HANDLE thread) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto object = find(thread);
    if (object == nullptr || object->kind != sync_object::thread_ref) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    if (g_stalled.count(object->thread_id) == 0) return fail_with(ERROR_NOT_FOUND, FALSE);
    g_cancelled.insert(object->thread_id);
    g_changed.notify_all();
    return succeed_with(TRUE);
}

bool timing_close(HANDLE handle) {
    std::unique_lock<std::mutex> lock(g_lock);
    std::shared_ptr<sync_object> object = find(handle);
    if (object == nullptr) return false;
    g_objects.erase(reinterpret_cast<uintptr_t>(handle));
    const bool ended = object->signaled;
    lock.unlock();
    // A thread that has ended is joined, so that nothing of it outlives the
    // run; one still running goes on by itself, as on Windows.
    if (object->worker.joinable()) {
        if (ended) object->worker.join();
        else object->worker.detach();
    }
    return true;
}
