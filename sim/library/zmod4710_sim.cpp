// The control functions of zmod4710_sim.h, for tests of programs: they change
// the backplane in use as zmod4710-sim's commands of the same names do, with the
// same changes (backplane_changes.hpp), read back what the module holds, and
// give the calls this process made. They are not calls of the module: they are
// not kept in the history, and need no zmod4710_Init.
#include "zmod4710_sim.h"

#include "backplane_changes.hpp"
#include "call_clock.hpp"
#include "call_history.hpp"
#include "library_state.hpp"
#include "library_trace.hpp"
#include "test_callback.hpp"

#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace zmod4710_sim;
using namespace zmod4710_sim::library;

namespace {

// Makes change to the backplane in use, or nothing when it is refused, with the
// result that says why; the process's lock is held. The change returns the
// lines that tell it, which the trace is given once it is stored, before the
// state's lock is let go.
template <class Change> int change_held(ProcessLock &held, const Change &change) {
    int result = kOk;
    Told told;
    backplane_in_use()->update(
        [&](Backplane &backplane) {
            try {
                told = change(backplane);
                return true;
            } catch (const ChangeRefused &refused) {
                result =
                    refused.reason() == ChangeRefused::Reason::no_module ? kNoModule : kBadArgument;
                return false;
            }
        },
        &held, [&] { trace(call_time_now().utc_microseconds, told); });
    return result;
}

// The same, with every failure turned into a result.
template <class Change> int changed(const Change &change) {
    return guarded([&] {
        ProcessLock held = hold_process();
        return change_held(held, change);
    });
}

// Reads one channel of the module in slot with read, which gets that channel.
template <class Read> int read_channel(int slot, int channel, const Read &read) {
    return guarded([&] {
        if (slot < 0 || slot >= kSlotCount || channel < 0) {
            return kBadArgument;
        }
        const ProcessLock held = hold_process();
        const std::shared_ptr<const Backplane> backplane = backplane_in_use()->current();
        const Module *module = analog_module(*backplane, slot);
        if (module == nullptr) {
            return kNoModule;
        }
        const Channel *found = channel_of(*module, channel);
        if (found == nullptr) {
            return kBadArgument;
        }
        read(*module, *found);
        return kOk;
    });
}

// ZMOD4710_SIM_ANY for nothing, else the number, which the change checks.
std::optional<int> any_or(int number) {
    return number == ZMOD4710_SIM_ANY ? std::nullopt : std::optional<int>(number);
}

// Whether a call kept matches a search's call, slot and channel.
bool matches(const CallRecord &record, Call call, int slot, int channel) {
    return (call == Call::any || record.call == call) &&
           (slot == ZMOD4710_SIM_ANY || record.slot == slot) &&
           (channel == ZMOD4710_SIM_ANY || record.channel == channel);
}

bool in_history(int index) {
    return index >= 0 && static_cast<std::size_t>(index) < history().count();
}

} // namespace

extern "C" {

int zmod4710_sim_use_memory(void) {
    return guarded([] {
        const ProcessLock held = hold_process();
        use_memory();
        return kOk;
    });
}

int zmod4710_sim_use_state(const char *path) {
    return guarded([&] {
        if (path != nullptr && *path == '\0') {
            return kBadArgument;
        }
        std::optional<std::filesystem::path> file;
        if (path != nullptr) {
            file = std::filesystem::path(path);
        }
        const ProcessLock held = hold_process();
        use_state(file);
        return kOk;
    });
}

int zmod4710_sim_reset(void) {
    return guarded([] {
        ProcessLock held = hold_process();
        const int result = change_held(held, make_reset);
        if (result == kOk) {
            forget_registrations();
            history().clear();
        }
        return result;
    });
}

int zmod4710_sim_insert(int slot, const char *module, short firmware) {
    return guarded([&] {
        const std::optional<ModuleKind> kind =
            module == nullptr ? std::nullopt : module_kind_named(module);
        if (!kind || firmware < 0) {
            return kBadArgument;
        }
        ProcessLock held = hold_process();
        return change_held(held, [&](Backplane &backplane) {
            return make_insert(backplane, slot, *kind, firmware, /*replace=*/true);
        });
    });
}

int zmod4710_sim_remove(int slot) {
    return changed([&](Backplane &backplane) { return make_remove(backplane, slot); });
}

int zmod4710_sim_power_cycle(void) {
    return changed([](Backplane &backplane) { return make_power_cycle(backplane); });
}

int zmod4710_sim_calibrate(int slot, int channel, short range, unsigned short gain, short offset) {
    return changed([&](Backplane &backplane) {
        return make_calibration(backplane, slot, channel, range, Calibration{gain, offset});
    });
}

int zmod4710_sim_drift(int slot, int channel, float gain_percent, float offset) {
    return changed([&](Backplane &backplane) {
        return make_drift(backplane, slot, channel, Drift{gain_percent, offset});
    });
}

int zmod4710_sim_refuse_after(const char *call, int slot, int channel, int result, int after,
                              int times) {
    return guarded([&] {
        const std::optional<Call> named = call == nullptr ? std::nullopt : call_named(call);
        if (!named) {
            return kBadArgument;
        }
        const Refusal refusal{*named,
                              any_or(slot),
                              any_or(channel),
                              result,
                              times == ZMOD4710_SIM_ALWAYS ? std::nullopt
                                                           : std::optional<int>(times),
                              after};
        ProcessLock held = hold_process();
        return change_held(held,
                           [&](Backplane &backplane) { return make_refusal(backplane, refusal); });
    });
}

int zmod4710_sim_refuse(const char *call, int slot, int channel, int result, int times) {
    return zmod4710_sim_refuse_after(call, slot, channel, result, 0, times);
}

int zmod4710_sim_clear_refusals(void) {
    return changed([](Backplane &backplane) { return make_clear_refusals(backplane); });
}

int zmod4710_sim_output(int slot, int channel, short *range, float *value) {
    if (range == nullptr || value == nullptr) {
        return kBadArgument;
    }
    return read_channel(slot, channel, [&](const Module &, const Channel &held) {
        *range = held.range;
        *value = held.output;
    });
}

int zmod4710_sim_power_on_value(int slot, int channel, short *range, float *value) {
    if (range == nullptr || value == nullptr) {
        return kBadArgument;
    }
    return read_channel(slot, channel, [&](const Module &, const Channel &held) {
        *range = held.power_on_range;
        *value = held.power_on_value;
    });
}

int zmod4710_sim_meter(int slot, int channel, double *reading) {
    if (reading == nullptr) {
        return kBadArgument;
    }
    return read_channel(slot, channel, [&](const Module &, const Channel &held) {
        *reading = meter_reading(held).value;
    });
}

int zmod4710_sim_power_on_mode(int slot, short *mode) {
    if (mode == nullptr) {
        return kBadArgument;
    }
    return read_channel(
        slot, 0, [&](const Module &module, const Channel &) { *mode = module.power_on_mode; });
}

int zmod4710_sim_call_count(void) {
    return guarded([] {
        const ProcessLock held = hold_process();
        return static_cast<int>(history().count());
    });
}

int zmod4710_sim_call_at(int index, zmod4710_sim_call *call) {
    if (call == nullptr) {
        return kBadArgument;
    }
    return guarded([&] {
        const ProcessLock held = hold_process();
        if (!in_history(index)) {
            return kBadArgument;
        }
        *call = as_call(history().at(static_cast<std::size_t>(index)));
        return kOk;
    });
}

int zmod4710_sim_call_text(int index, char *text, int size) {
    if (text == nullptr || size < 1) {
        return kBadArgument;
    }
    text[0] = '\0';
    return guarded([&] {
        const ProcessLock held = hold_process();
        if (!in_history(index)) {
            return kBadArgument;
        }
        const std::string line = call_text(history().at(static_cast<std::size_t>(index)));
        if (line.size() >= static_cast<std::size_t>(size)) {
            return kBadArgument;
        }
        std::memcpy(text, line.c_str(), line.size() + 1);
        return kOk;
    });
}

int zmod4710_sim_find_call(int from, const char *call, int slot, int channel) {
    constexpr int kNone = -1;
    return guarded([&] {
        const std::optional<Call> named = call == nullptr ? std::nullopt : call_named(call);
        if (!named || from < 0) {
            return kNone;
        }
        const ProcessLock held = hold_process();
        const CallHistory &calls = history();
        for (std::size_t index = static_cast<std::size_t>(from); index < calls.count(); ++index) {
            if (matches(calls.at(index), *named, slot, channel)) {
                return static_cast<int>(index);
            }
        }
        return kNone;
    });
}

int zmod4710_sim_calls_text(char *text, int size) {
    if (text == nullptr || size < 1) {
        return kBadArgument;
    }
    text[0] = '\0';
    return guarded([&] {
        const ProcessLock held = hold_process();
        const CallHistory &calls = history();
        std::size_t used = 0;
        std::size_t written = 0;
        for (; written < calls.count(); ++written) {
            const std::string line = call_text(calls.at(written)) + "\n";
            if (used + line.size() >= static_cast<std::size_t>(size)) {
                break;
            }
            std::memcpy(text + used, line.c_str(), line.size() + 1);
            used += line.size();
        }
        return static_cast<int>(written);
    });
}

int zmod4710_sim_on_call(zmod4710_sim_callback callback, void *context) {
    return guarded([&] {
        set_callback(callback, context);
        return kOk;
    });
}

double zmod4710_sim_time_zero(void) {
    return static_cast<double>(utc_time_zero()) / 1e6;
}

int zmod4710_sim_clear_calls(void) {
    return guarded([] {
        const ProcessLock held = hold_process();
        history().clear();
        return kOk;
    });
}

unsigned long zmod4710_sim_calls_dropped(void) {
    unsigned long dropped = 0;
    guarded([&] {
        const ProcessLock held = hold_process();
        dropped = history().dropped();
        return kOk;
    });
    return dropped;
}

} // extern "C"
