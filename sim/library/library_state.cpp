#include "library_state.hpp"

#include "library_trace.hpp"
#include "lock_files.hpp"
#include "memory_backplane.hpp"
#include "one_line.hpp"
#include "platform.hpp"
#include "state_file.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace zmod4710_sim::library {

namespace {

// Which backplane a test chose.
enum class Chosen { by_environment, memory, file };

struct InUse {
    // Kept from call to call, so an unchanged file is not read again.
    std::shared_ptr<const StateFile> file;
    std::shared_ptr<const MemoryBackplane> memory;
    Chosen chosen = Chosen::by_environment;
    std::filesystem::path chosen_file;
    bool on_memory = false; // the last call was on memory
    // The insertion of the module each slot's Init succeeded on.
    std::optional<std::uint32_t> registered[kSlotCount];
};

InUse &in_use() {
    static InUse state;
    return state;
}

std::mutex &process_mutex() {
    static std::mutex lock;
    return lock;
}

void lock_before_fork() {
    process_mutex().lock();
}

void unlock_after_fork() {
    process_mutex().unlock();
}

// A child's trace is its own: opened anew, with lines of its own number.
void unlock_in_child() {
    forget_trace();
    process_mutex().unlock();
}

// The process's lock is taken before a fork, so that a child finds what the
// process keeps whole. The library opens lock files only while it holds it, and
// these handlers, set after the storage's, run before them (the last set runs
// first): a fork then never begins while a lock file is being opened.
[[maybe_unused]] const bool fork_handlers_set = []() noexcept {
    close_lock_files_in_forked_children();
    platform::on_fork(lock_before_fork, unlock_after_fork, unlock_in_child);
    return true;
}();

// Whether ZMOD4710_SIM_STATE names the backplane in memory: read at every call,
// as a program may set it between two.
bool memory_named() {
    const char *state = std::getenv("ZMOD4710_SIM_STATE");
    return state != nullptr && std::strcmp(state, kMemoryState) == 0;
}

std::shared_ptr<const BackplaneStore> memory_in_use(InUse &state) {
    if (!state.memory) {
        state.memory = std::make_shared<const MemoryBackplane>();
    }
    if (!state.on_memory) {
        forget_registrations();
        state.on_memory = true;
    }
    return state.memory;
}

bool on_memory_now(const InUse &state) {
    return state.chosen == Chosen::memory ||
           (state.chosen == Chosen::by_environment && memory_named());
}

} // namespace

void report_problem_once(const char *message) noexcept {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) {
        return;
    }
    // Standard output belongs to the program; with no memory left to escape
    // the message, a line that needs none.
    try {
        std::fprintf(stderr, "zmod4710 simulator: %s\n", one_line(message).c_str());
    } catch (...) {
        std::fputs("zmod4710 simulator: out of memory\n", stderr);
    }
}

ProcessLock hold_process() {
    return ProcessLock(process_mutex());
}

std::shared_ptr<const BackplaneStore> backplane_in_use() {
    InUse &state = in_use();
    if (on_memory_now(state)) {
        return memory_in_use(state);
    }
    std::filesystem::path path =
        state.chosen == Chosen::file ? state.chosen_file : default_state_path();
    if (state.on_memory || !state.file || state.file->path() != path) {
        if (state.on_memory || state.file) {
            forget_registrations();
        }
        state.on_memory = false;
        if (!state.file || state.file->path() != path) {
            state.file = std::make_shared<const StateFile>(std::move(path));
        }
    }
    return state.file;
}

std::optional<std::filesystem::path> state_file_in_use() {
    const InUse &state = in_use();
    if (on_memory_now(state)) {
        return std::nullopt;
    }
    if (state.chosen == Chosen::file) {
        return state.chosen_file;
    }
    try {
        return default_state_path();
    } catch (const StateError &) {
        return std::nullopt;
    }
}

void use_memory() {
    InUse &state = in_use();
    state.memory = std::make_shared<const MemoryBackplane>();
    state.chosen = Chosen::memory;
    state.on_memory = true;
    forget_registrations();
}

void use_state(const std::optional<std::filesystem::path> &path) {
    InUse &state = in_use();
    state.chosen = path ? Chosen::file : Chosen::by_environment;
    state.chosen_file = path.value_or(std::filesystem::path());
}

bool is_registered(int slot) {
    return slot >= 0 && slot < kSlotCount && in_use().registered[slot].has_value();
}

bool is_registered(int slot, const Module &module) {
    return slot >= 0 && slot < kSlotCount && in_use().registered[slot] == module.insertion;
}

void register_module(int slot, const Module *module) {
    in_use().registered[slot] =
        module != nullptr ? std::optional<std::uint32_t>(module->insertion) : std::nullopt;
}

void forget_registrations() {
    for (std::optional<std::uint32_t> &registered : in_use().registered) {
        registered.reset();
    }
}

CallHistory &history() {
    static CallHistory calls;
    return calls;
}

} // namespace zmod4710_sim::library
