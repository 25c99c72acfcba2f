#include "test_callback.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zmod4710_sim::library {

namespace {

struct Callbacks {
    std::mutex mutex;
    std::condition_variable returned;
    std::atomic<bool> set{false}; // read without the mutex, so that a call with none takes no lock
    zmod4710_sim_callback callback = nullptr;
    void *context = nullptr;
    int running = 0;         // callbacks running, in every thread
    int running_setters = 0; // of their threads, those that set the callback meanwhile
};

Callbacks &callbacks() {
    static Callbacks state;
    return state;
}

// Where this thread's stack stood when it called the callback, while the
// callback runs: a call made from within it stands further down. The stack
// grows down on every system the library is built for.
thread_local std::uintptr_t called_from = 0;

std::uintptr_t stack_here(const void *frame) {
    return reinterpret_cast<std::uintptr_t>(frame);
}

// The callback that this thread called has ended: returned, left by an
// exception, or found left by longjmp; state's mutex is held.
void callback_ended(Callbacks &state) {
    called_from = 0;
    --state.running;
    state.returned.notify_all();
}

// Whether this thread runs the callback below frame, the frame of the library's
// function asking. Its mark is cleared when it was left by longjmp: the stack
// then stands where it stood, or above.
bool runs_callback_below(Callbacks &state, std::uintptr_t frame) {
    if (called_from == 0) {
        return false;
    }
    if (frame < called_from) {
        return true;
    }
    const std::lock_guard<std::mutex> held(state.mutex);
    callback_ended(state);
    return false;
}

} // namespace

__attribute__((noinline)) int callback_answer(zmod4710_sim_call &call) {
    Callbacks &state = callbacks();
    const std::uintptr_t frame = stack_here(__builtin_frame_address(0));
    if (!state.set.load(std::memory_order_acquire) || runs_callback_below(state, frame)) {
        return 0;
    }
    zmod4710_sim_callback callback = nullptr;
    void *context = nullptr;
    {
        const std::lock_guard<std::mutex> held(state.mutex);
        callback = state.callback;
        context = state.context;
        if (callback == nullptr) {
            return 0;
        }
        ++state.running;
    }
    called_from = frame;
    // Ended however the callback is left, an exception too.
    struct Ending {
        Callbacks &state;
        ~Ending() {
            const std::lock_guard<std::mutex> held(state.mutex);
            if (called_from != 0) {
                callback_ended(state);
            }
        }
    } const ending{state};
    return callback(&call, context);
}

__attribute__((noinline)) void set_callback(zmod4710_sim_callback callback, void *context) {
    Callbacks &state = callbacks();
    const bool own = runs_callback_below(state, stack_here(__builtin_frame_address(0)));
    std::unique_lock<std::mutex> held(state.mutex);
    state.callback = callback;
    state.context = context;
    state.set.store(callback != nullptr, std::memory_order_release);
    state.running_setters += own ? 1 : 0;
    state.returned.wait(held, [&] { return state.running == state.running_setters; });
    state.running_setters -= own ? 1 : 0;
    state.returned.notify_all();
}

} // namespace zmod4710_sim::library
