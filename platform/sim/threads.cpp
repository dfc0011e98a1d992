#include "platform/sim/threads.h"

#include <algorithm>
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
#include "platform/sim/console.h"

namespace {

struct sync_object {
    enum { event, thread, thread_ref } kind;
    bool signaled;
    bool manual_reset;
    DWORD thread_id;     // thread_ref: which thread
    std::thread worker;  // thread: joined when its handle closes after it ended
};

// A thread held in one of the waits, for the virtual clock to see.
struct waiter {
    const std::function<bool()>* ready;
    int64_t left_us;  // what is left of its timeout; -1: none
    bool passed;      // its timeout has passed
    bool counted;     // the run's main thread or one the client created
};

std::mutex g_lock;
std::condition_variable g_changed;
thread_local int t_depth = 0;     // how deep in stand-ins this thread is
thread_local bool t_created = false;
std::atomic<std::thread::id> g_main{std::thread::id()};

std::map<uintptr_t, std::shared_ptr<sync_object>> g_objects;
uintptr_t g_next_handle = 0x7000000;
int g_running = 0;            // threads the client created that have not returned
std::vector<waiter*> g_waiters;
std::set<DWORD> g_in_call;    // threads inside a synchronous call another thread may cancel
std::set<DWORD> g_cancelled;  // those whose I/O another thread cancelled
std::set<DWORD> g_tried;      // threads in no such call on which a cancel was tried
std::atomic<DWORD> g_next_id{1000};
thread_local DWORD t_id = 0;
std::vector<int> g_latency_us;
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

// Under the virtual clock, time moves only when nothing else can happen:
// every running thread waits and none is ready to go on. Then the wait with
// the least time left passes, and every other timed wait loses that much.
void move_on_if_all_wait() {
    if (!clock_is_virtual()) return;
    int blocked = 0;
    int64_t shortest = -1;
    for (const waiter* w : g_waiters) {
        if (!w->counted) continue;
        if (w->passed || (*w->ready)()) return;
        ++blocked;
        if (w->left_us >= 0 && (shortest < 0 || w->left_us < shortest)) shortest = w->left_us;
    }
    if (blocked < 1 + g_running || shortest < 0) return;
    clock_pass(shortest);
    for (waiter* w : g_waiters) {
        if (!w->counted || w->left_us < 0) continue;
        w->left_us -= shortest;
        if (w->left_us <= 0) w->passed = true;
    }
    g_changed.notify_all();
}

}  // namespace

void threads_checkpoint() {
    if (!threads_on_main()) return;
    // The handler it lets run may call the system itself.
    system_released unlocked;
    console_checkpoint();
}

system_call::system_call() {
    if (t_depth++ == 0) g_lock.lock();
}

system_call::~system_call() {
    if (--t_depth == 0) g_lock.unlock();
}

system_released::system_released() : depth(t_depth) {
    t_depth = 0;
    if (depth > 0) g_lock.unlock();
}

system_released::~system_released() {
    if (depth > 0) g_lock.lock();
    t_depth = depth;
}

void threads_set_main() { g_main = std::this_thread::get_id(); }

bool threads_on_main() { return g_main.load() == std::this_thread::get_id(); }

void threads_changed() { g_changed.notify_all(); }

// A thread the client created always has the main thread beside it.
bool threads_others_alive() { return t_created || g_running > 0; }

bool threads_wait_until(const std::function<bool()>& ready, DWORD milliseconds) {
    if (ready()) return true;
    const bool timed = milliseconds != INFINITE;
    const int depth = t_depth;
    t_depth = 0;
    std::unique_lock<std::mutex> lock(g_lock, std::adopt_lock);
    bool done = false;
    if (timed && !clock_is_virtual()) {
        done = g_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    } else {
        waiter me = {&ready, timed ? static_cast<int64_t>(milliseconds) * 1000 : -1, false,
                     threads_on_main() || t_created};
        g_waiters.push_back(&me);
        for (;;) {
            if ((done = ready()) || me.passed) break;
            move_on_if_all_wait();
            if ((done = ready()) || me.passed) break;
            g_changed.wait(lock);
        }
        g_waiters.erase(std::find(g_waiters.begin(), g_waiters.end(), &me));
    }
    lock.release();
    t_depth = depth;
    return done;
}

void threads_reset(const std::vector<int>& latency_us) {
    g_latency_us = latency_us;
    g_transfers = 0;
    for (auto& entry : g_objects)
        if (entry.second->worker.joinable()) entry.second->worker.detach();
    g_objects.clear();
    g_in_call.clear();
    g_cancelled.clear();
    g_tried.clear();
}

void threads_transfer() {
    if (g_latency_us.empty()) return;
    clock_pass(g_latency_us[g_transfers++ % g_latency_us.size()]);
}

int threads_open_objects() { return static_cast<int>(g_objects.size()); }

DWORD threads_thread_id() {
    if (t_id == 0) t_id = g_next_id += 4;
    return t_id;
}

DWORD threads_in_call(bool deaf, const std::function<bool()>& done, void (*no_canceller)()) {
    const DWORD me = threads_thread_id();
    if (!threads_others_alive()) {
        if (no_canceller != nullptr) no_canceller();
        threads_wait_until([] { return false; }, INFINITE);
    }
    g_in_call.insert(me);
    g_cancelled.erase(me);
    auto cancelled = [&] { return !deaf && g_cancelled.count(me) != 0; };
    threads_wait_until([&] { return cancelled() || (done && done()); }, INFINITE);
    const DWORD error = cancelled() ? static_cast<DWORD>(ERROR_OPERATION_ABORTED) : static_cast<DWORD>(ERROR_SUCCESS);
    g_in_call.erase(me);
    g_cancelled.erase(me);
    return error;
}

void threads_enter_late() {
    if (!threads_others_alive()) return;
    const DWORD me = threads_thread_id();
    g_tried.erase(me);
    threads_wait_until([&] { return g_tried.count(me) != 0; }, INFINITE);
    g_tried.erase(me);
}

HANDLE threads_create_event(bool manual_reset, bool initial) { return add(sync_object::event, initial, manual_reset, 0); }

BOOL threads_set_event(HANDLE event) {
    auto object = find(event);
    if (object == nullptr || object->kind != sync_object::event) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    object->signaled = true;
    g_changed.notify_all();
    return succeed_with(TRUE);
}

DWORD threads_wait(HANDLE handle, DWORD milliseconds) {
    auto object = find(handle);
    if (object == nullptr || object->kind == sync_object::thread_ref)
        return fail_with(ERROR_INVALID_HANDLE, static_cast<DWORD>(WAIT_FAILED));
    if (!threads_wait_until([&] { return object->signaled; }, milliseconds))
        return succeed_with(static_cast<DWORD>(WAIT_TIMEOUT));
    if (object->kind == sync_object::event && !object->manual_reset) object->signaled = false;
    return succeed_with(static_cast<DWORD>(WAIT_OBJECT_0));
}

DWORD threads_wait_any(const HANDLE* handles, DWORD count, bool wait_all, DWORD milliseconds,
                       const std::function<bool()>& also) {
    std::vector<std::shared_ptr<sync_object>> objects;
    for (DWORD i = 0; i < count; ++i) {
        objects.push_back(find(handles[i]));
        if (objects.back() == nullptr || objects.back()->kind == sync_object::thread_ref)
            return fail_with(ERROR_INVALID_HANDLE, static_cast<DWORD>(WAIT_FAILED));
    }
    auto first_signaled = [&]() -> DWORD {
        DWORD signaled = 0;
        for (DWORD i = 0; i < count; ++i) {
            if (!objects[i]->signaled) continue;
            if (!wait_all) return i;
            ++signaled;
        }
        return wait_all && signaled == count && count > 0 ? 0 : count;
    };
    auto ready = [&] { return first_signaled() < count || also(); };
    if (!threads_wait_until(ready, milliseconds)) return succeed_with(static_cast<DWORD>(WAIT_TIMEOUT));
    const DWORD index = first_signaled();
    if (index == count) return succeed_with(static_cast<DWORD>(WAIT_OBJECT_0 + count));
    for (DWORD i = wait_all ? 0 : index; i < (wait_all ? count : index + 1); ++i)
        if (objects[i]->kind == sync_object::event && !objects[i]->manual_reset) objects[i]->signaled = false;
    return succeed_with(static_cast<DWORD>(WAIT_OBJECT_0 + index));
}

void threads_sleep(DWORD milliseconds) {
    if (clock_is_virtual()) {
        threads_wait_until([] { return false; }, milliseconds);
        return;
    }
    system_released unlocked;
    clock_pass(static_cast<int64_t>(milliseconds) * 1000);
}

HANDLE threads_create_thread(LPTHREAD_START_ROUTINE start, LPVOID argument) {
    HANDLE handle = add(sync_object::thread, false, true, 0);
    std::shared_ptr<sync_object> object = find(handle);
    ++g_running;
    object->worker = std::thread([object, start, argument] {
        t_created = true;
        start(argument);
        std::lock_guard<std::mutex> done(g_lock);
        object->signaled = true;
        --g_running;
        t_created = false;
        g_changed.notify_all();
    });
    return handle;
}

HANDLE threads_open_thread(DWORD thread_id) { return add(sync_object::thread_ref, false, true, thread_id); }

BOOL threads_cancel_io(HANDLE thread) {
    auto object = find(thread);
    if (object == nullptr || object->kind != sync_object::thread_ref) return fail_with(ERROR_INVALID_HANDLE, FALSE);
    g_changed.notify_all();
    if (g_in_call.count(object->thread_id) == 0) {
        g_tried.insert(object->thread_id);
        return fail_with(ERROR_NOT_FOUND, FALSE);
    }
    g_cancelled.insert(object->thread_id);
    return succeed_with(TRUE);
}

bool threads_close(HANDLE handle) {
    std::shared_ptr<sync_object> object = find(handle);
    if (object == nullptr) return false;
    g_objects.erase(reinterpret_cast<uintptr_t>(handle));
    // A thread that has ended is joined, so that nothing of it outlives the
    // run; one still running goes on by itself, as on Windows.
    if (object->worker.joinable()) {
        if (object->signaled) object->worker.join();
        else object->worker.detach();
    }
    return true;
}
