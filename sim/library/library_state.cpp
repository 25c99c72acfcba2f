#include "library_state.hpp"

#include "memory_backplane.hpp"
#include "one_line.hpp"
#include "state_file.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

namespace zmod4710_sim::library {

namespace {

struct InUse {
    std::optional<StateFile> file; // kept from call to call, so an unchanged file is not read again
    std::optional<MemoryBackplane> memory;
    bool memory_chosen = false; // by zmod4710_sim_use_memory
    bool on_memory = false;     // the last call was on memory
    bool initialized[kSlotCount] = {};
};

InUse &in_use() {
    static InUse state;
    return state;
}

bool memory_named() {
    const char *state = std::getenv("ZMOD4710_SIM_STATE");
    return state != nullptr && std::strcmp(state, kMemoryState) == 0;
}

const BackplaneStore &memory_in_use(InUse &state) {
    if (!state.memory) {
        state.memory.emplace();
    }
    if (!state.on_memory) {
        forget_registrations();
        state.on_memory = true;
    }
    return *state.memory;
}

} // namespace

void report_problem_once(const char *message) noexcept {
    static bool reported = false;
    if (reported) {
        return;
    }
    reported = true;
    // Standard output belongs to the program; with no memory left to escape
    // the message, a line that needs none.
    try {
        std::fprintf(stderr, "zmod4710 simulator: %s\n", one_line(message).c_str());
    } catch (...) {
        std::fputs("zmod4710 simulator: out of memory\n", stderr);
    }
}

std::mutex &calls_lock() {
    static std::mutex lock;
    return lock;
}

const BackplaneStore &backplane_in_use() {
    InUse &state = in_use();
    if (state.memory_chosen || memory_named()) {
        return memory_in_use(state);
    }
    std::filesystem::path path = default_state_path();
    if (state.on_memory || !state.file || state.file->path() != path) {
        if (state.on_memory || state.file) {
            forget_registrations();
        }
        state.on_memory = false;
        if (!state.file || state.file->path() != path) {
            state.file.emplace(std::move(path));
        }
    }
    return *state.file;
}

void use_memory() {
    InUse &state = in_use();
    state.memory.emplace();
    state.memory_chosen = true;
    state.on_memory = true;
    forget_registrations();
}

bool is_initialized(int slot) {
    return slot >= 0 && slot < kSlotCount && in_use().initialized[slot];
}

void set_initialized(int slot, bool initialized) {
    in_use().initialized[slot] = initialized;
}

void forget_registrations() {
    for (bool &initialized : in_use().initialized) {
        initialized = false;
    }
}

CallHistory &history() {
    static CallHistory calls;
    return calls;
}

} // namespace zmod4710_sim::library
