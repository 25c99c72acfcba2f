#include "backplane_changes.hpp"

#include "trace_lines.hpp"

#include <algorithm>
#include <string>
#include <utility>

namespace zmod4710_sim {

namespace {

constexpr ChangeRefused::Reason kBadArgument = ChangeRefused::Reason::bad_argument;
constexpr ChangeRefused::Reason kNoModule = ChangeRefused::Reason::no_module;

void check_slot(int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        throw ChangeRefused("slot " + std::to_string(slot) +
                                " does not exist: a backplane has slots 0 to " +
                                std::to_string(kSlotCount - 1),
                            kBadArgument);
    }
}

std::optional<Module> &slot_at(Backplane &backplane, int slot) {
    check_slot(slot);
    return backplane.slots[static_cast<std::size_t>(slot)];
}

std::string described(const Module &module) {
    return "a " + module_label(module.kind);
}

const Channel &channel_at(const Backplane &backplane, int slot, int channel) {
    check_slot(slot);
    const std::optional<Module> &occupant = backplane.slots[static_cast<std::size_t>(slot)];
    const Module *module = analog_module(backplane, slot);
    if (module == nullptr) {
        throw ChangeRefused("slot " + std::to_string(slot) + " holds " +
                                (occupant ? described(*occupant) : "no module") +
                                ", not an analog-output module",
                            kNoModule);
    }
    const Channel *found = channel_of(*module, channel);
    if (found == nullptr) {
        throw ChangeRefused("the " + module_label(module->kind) + " in slot " +
                                std::to_string(slot) + " has channels 0 to " +
                                std::to_string(module->channels.size() - 1),
                            kBadArgument);
    }
    return *found;
}

Channel &channel_at(Backplane &backplane, int slot, int channel) {
    return const_cast<Channel &>(channel_at(std::as_const(backplane), slot, channel));
}

std::string formatted_drift_limits() {
    return "a drift's gain is -" + shortest_text(kMostDriftGain) + " to " +
           shortest_text(kMostDriftGain) + " %, its offset -" + shortest_text(kMostDriftOffset) +
           " to " + shortest_text(kMostDriftOffset) + " in the output's unit";
}

} // namespace

std::vector<ModulePowerUp> power_cycle(Backplane &backplane) {
    std::vector<ModulePowerUp> report;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        Module *module = analog_module(backplane, slot);
        if (module == nullptr) {
            continue;
        }
        ModulePowerUp powered{slot, module->power_on_mode, {}};
        if (module->power_on_mode == kPowerOnValue) {
            for (std::size_t index = 0; index < module->channels.size(); ++index) {
                Channel &channel = module->channels[index];
                if (channel.range != channel.power_on_range ||
                    channel.output != channel.power_on_value) {
                    powered.changed.push_back({static_cast<int>(index), channel.range,
                                               channel.output, channel.power_on_range,
                                               channel.power_on_value});
                    channel.range = channel.power_on_range;
                    channel.output = channel.power_on_value;
                }
            }
        }
        report.push_back(powered);
    }
    return report;
}

void reset_backplane(Backplane &backplane) {
    const std::uint32_t insertions = backplane.insertions;
    backplane = factory_backplane();
    backplane.insertions = insertions;
}

void insert_module(Backplane &backplane, int slot, ModuleKind kind, std::int16_t firmware,
                   bool replace) {
    std::optional<Module> &module = slot_at(backplane, slot);
    if (module && !replace) {
        throw ChangeRefused("slot " + std::to_string(slot) + " already holds " + described(*module),
                            ChangeRefused::Reason::occupied);
    }
    // After any insertion the backplane holds, also one edited in by hand.
    for (const std::optional<Module> &held : backplane.slots) {
        backplane.insertions = std::max(backplane.insertions, held ? held->insertion : 0U);
    }
    module = factory_module(kind, firmware);
    module->insertion = ++backplane.insertions;
}

Module remove_module(Backplane &backplane, int slot) {
    std::optional<Module> &module = slot_at(backplane, slot);
    if (!module) {
        throw ChangeRefused("slot " + std::to_string(slot) + " is empty", kNoModule);
    }
    Module removed = *module;
    module.reset();
    return removed;
}

Calibration set_calibration(Backplane &backplane, int slot, int channel, int range,
                            Calibration calibration) {
    if (!is_range_code(range)) {
        throw ChangeRefused("range " + std::to_string(range) + " does not exist: ranges are 0 to " +
                                std::to_string(kRangeCount - 1),
                            kBadArgument);
    }
    Calibration &target =
        channel_at(backplane, slot, channel).calibration[static_cast<std::size_t>(range)];
    const Calibration before = target;
    target = calibration;
    return before;
}

Drift set_drift(Backplane &backplane, int slot, int channel, const Drift &drift) {
    if (!is_possible_drift(drift)) {
        throw ChangeRefused(formatted_drift_limits(), kBadArgument);
    }
    Drift &target = channel_at(backplane, slot, channel).drift;
    const Drift before = target;
    target = drift;
    return before;
}

MeterReading read_meter(const Backplane &backplane, int slot, int channel) {
    return meter_reading(channel_at(backplane, slot, channel));
}

void add_refusal(Backplane &backplane, const Refusal &refusal) {
    if (const std::optional<RefusalFault> fault = refusal_fault(refusal)) {
        throw ChangeRefused(fault->reason, kBadArgument);
    }
    backplane.refusals.push_back(refusal);
}

std::size_t clear_refusals(Backplane &backplane) {
    const std::size_t cleared = backplane.refusals.size();
    backplane.refusals.clear();
    return cleared;
}

Told make_power_cycle(Backplane &backplane, std::vector<ModulePowerUp> *report) {
    std::vector<ModulePowerUp> made = power_cycle(backplane);
    if (report != nullptr) {
        *report = std::move(made);
    }
    return told_with_backplane(told_power_cycle(), backplane);
}

Told make_reset(Backplane &backplane) {
    reset_backplane(backplane);
    return told_with_backplane(told_reset(), backplane);
}

Told make_insert(Backplane &backplane, int slot, ModuleKind kind, std::int16_t firmware,
                 bool replace) {
    insert_module(backplane, slot, kind, firmware, replace);
    return told_with_slot(told_insert(slot, kind, firmware), backplane, slot);
}

Told make_remove(Backplane &backplane, int slot, Module *removed) {
    Module taken = remove_module(backplane, slot);
    if (removed != nullptr) {
        *removed = std::move(taken);
    }
    return told_with_slot(told_remove(slot), backplane, slot);
}

Told make_calibration(Backplane &backplane, int slot, int channel, int range,
                      Calibration calibration, Calibration *before) {
    const Calibration was = set_calibration(backplane, slot, channel, range, calibration);
    if (before != nullptr) {
        *before = was;
    }
    return {told_calibrate(slot, channel, range, calibration)};
}

Told make_drift(Backplane &backplane, int slot, int channel, const Drift &drift, Drift *before) {
    const Drift was = set_drift(backplane, slot, channel, drift);
    if (before != nullptr) {
        *before = was;
    }
    return {told_drift(slot, channel, drift)};
}

Told make_refusal(Backplane &backplane, const Refusal &refusal) {
    add_refusal(backplane, refusal);
    return {told_refuse(refusal)};
}

Told make_clear_refusals(Backplane &backplane, std::size_t *cleared) {
    const std::size_t count = clear_refusals(backplane);
    if (cleared != nullptr) {
        *cleared = count;
    }
    return count > 0 ? Told{told_clear_refusals(count)} : Told();
}

} // namespace zmod4710_sim
