// The module library, simulated: the zmod4710_* functions working on the
// backplane in the state file, so what one program writes the next one finds.
// Its results are named in zmod4710_sim.h; a failed call changes nothing.
#include "zmod4710_sim.h"
#include "zmod4710.h"

#include "backplane.hpp"
#include "one_line.hpp"
#include "state_file.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>

using namespace zmod4710_sim;

namespace {

constexpr int kOk = ZMOD4710_SIM_OK;
constexpr int kBadArgument = ZMOD4710_SIM_BAD_ARGUMENT;
constexpr int kNoModule = ZMOD4710_SIM_NO_MODULE;
constexpr int kStateProblem = ZMOD4710_SIM_STATE_PROBLEM;

constexpr int kLibraryVersion = ZMOD4710_SIM_LIB_VERSION;
constexpr char kLibraryDate[] = ZMOD4710_SIM_LIB_DATE;
static_assert(sizeof kLibraryDate <= ZMOD4710_LIB_DATE_SIZE);

// Which slots' Init has succeeded in this process.
bool g_initialized[kSlotCount] = {};

// One call at a time, whatever threads a program calls from.
std::mutex g_calls;

// Standard output belongs to the tools; problems go to standard error, once a run
// so a scan of eight slots does not repeat the same complaint. With no memory
// left to escape the message, a line that needs none.
void report_problem_once(const char *message) noexcept {
    static bool reported = false;
    if (reported) {
        return;
    }
    reported = true;
    try {
        std::fprintf(stderr, "zmod4710 simulator: %s\n", one_line(message).c_str());
    } catch (...) {
        std::fputs("zmod4710 simulator: out of memory\n", stderr);
    }
}

// Runs an operation on the state, one at a time, turning every failure into a
// result: no exception leaves the library, whatever it is (memory running out
// too), since the C caller has no way to take one.
template <class Operation> int guarded(Operation operation) noexcept {
    try {
        const std::lock_guard<std::mutex> one_at_a_time(g_calls);
        return operation();
    } catch (const std::bad_alloc &) {
        report_problem_once("out of memory");
    } catch (const std::exception &error) {
        report_problem_once(error.what());
    } catch (...) {
        report_problem_once("unexpected failure");
    }
    return kStateProblem;
}

// The state file that ZMOD4710_SIM_STATE or the default names now, kept from
// call to call so that what it last read is not read again while unchanged.
const StateFile &state_file() {
    static std::optional<StateFile> file;
    std::filesystem::path path = default_state_path();
    if (!file || file->path() != path) {
        file.emplace(std::move(path));
    }
    return *file;
}

bool is_slot(int slot) {
    return slot >= 0 && slot < kSlotCount;
}

bool is_initialized(int slot) {
    return is_slot(slot) && g_initialized[slot];
}

// Applies change to the module in an initialized slot and stores the result;
// change answers kOk to keep its change, anything else to drop it.
template <class Change> int change_module(int slot, Change change) {
    return guarded([&] {
        if (!is_initialized(slot)) {
            return kNoModule;
        }
        int result = kOk;
        state_file().update([&](Backplane &backplane) {
            Module *module = analog_module(backplane, slot);
            result = module != nullptr ? change(*module) : kNoModule;
            return result == kOk;
        });
        return result;
    });
}

// The same, for one channel's output in one range.
template <class Change>
int change_channel(int slot, int channel, short range, float value, Change change) {
    if (!is_range_code(range) || !std::isfinite(value)) {
        return kBadArgument;
    }
    return change_module(slot, [&](Module &module) {
        Channel *target = channel_of(module, channel);
        if (target == nullptr) {
            return kBadArgument;
        }
        change(*target, clamp_to_range(range, value));
        return kOk;
    });
}

// Reads the module in an initialized slot.
template <class Read> int read_module(int slot, Read read) {
    return guarded([&] {
        if (!is_initialized(slot)) {
            return kNoModule;
        }
        const std::shared_ptr<const Backplane> backplane = state_file().current();
        const Module *module = analog_module(*backplane, slot);
        return module != nullptr ? read(*module) : kNoModule;
    });
}

} // namespace

extern "C" {

int zmod4710_Init(int slot) {
    if (!is_slot(slot)) {
        return kBadArgument;
    }
    return guarded([&] {
        const std::shared_ptr<const Backplane> backplane = state_file().current();
        g_initialized[slot] = analog_module(*backplane, slot) != nullptr;
        return g_initialized[slot] ? kOk : kNoModule;
    });
}

int zmod4710_WriteAO(int slot, int channel, short range, float value) {
    return change_channel(slot, channel, range, value, [&](Channel &target, float output) {
        target.range = range;
        target.output = output;
    });
}

int zmod4710_SetPowerOnEnStatus(int slot, short mode) {
    if (mode != kPowerOnValue && mode != kRetentive) {
        return kBadArgument;
    }
    return change_module(slot, [&](Module &module) {
        module.power_on_mode = mode;
        return kOk;
    });
}

int zmod4710_WritePowerOn_AO(int slot, int channel, short range, float value) {
    return change_channel(slot, channel, range, value, [&](Channel &target, float power_on_value) {
        target.power_on_range = range;
        target.power_on_value = power_on_value;
    });
}

int zmod4710_ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                               short *offset) {
    if (!is_range_code(range) || gain == nullptr || offset == nullptr) {
        return kBadArgument;
    }
    return read_module(slot, [&](const Module &module) {
        const Channel *source = channel_of(module, channel);
        if (source == nullptr) {
            return kBadArgument;
        }
        const Calibration &calibration = source->calibration[static_cast<std::size_t>(range)];
        *gain = calibration.gain;
        *offset = calibration.offset;
        return kOk;
    });
}

int zmod4710_GetLibVersion(void) {
    return kLibraryVersion;
}

int zmod4710_GetLibDate(char *date) {
    if (date == nullptr) {
        return kBadArgument;
    }
    std::memcpy(date, kLibraryDate, sizeof kLibraryDate);
    return kOk;
}

int zmod4710_GetFirmwareVersion(int slot, short *version) {
    if (version == nullptr) {
        return kBadArgument;
    }
    return read_module(slot, [&](const Module &module) {
        *version = module.firmware;
        return kOk;
    });
}

} // extern "C"
