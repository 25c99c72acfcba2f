#include "backplane_changes.hpp"

#include <string>

namespace zmod4710_sim {

namespace {

constexpr ChangeRefused::Reason kBadArgument = ChangeRefused::Reason::bad_argument;
constexpr ChangeRefused::Reason kNoModule = ChangeRefused::Reason::no_module;

std::optional<Module> &slot_at(Backplane &backplane, int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        throw ChangeRefused("slot " + std::to_string(slot) + " does not exist: slots are 0 to " +
                                std::to_string(kSlotCount - 1),
                            kBadArgument);
    }
    return backplane.slots[static_cast<std::size_t>(slot)];
}

std::string described(const Module &module) {
    return "a " + module_label(module.kind);
}

Channel &channel_at(Backplane &backplane, int slot, int channel) {
    const std::optional<Module> &occupant = slot_at(backplane, slot);
    Module *module = analog_module(backplane, slot);
    if (module == nullptr) {
        throw ChangeRefused("slot " + std::to_string(slot) + " holds " +
                                (occupant ? described(*occupant) : "no module") +
                                ", not an analog-output module",
                            kNoModule);
    }
    Channel *found = channel_of(*module, channel);
    if (found == nullptr) {
        throw ChangeRefused("the " + module_label(module->kind) + " in slot " +
                                std::to_string(slot) + " has channels 0 to " +
                                std::to_string(module->channels.size() - 1),
                            kBadArgument);
    }
    return *found;
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

void insert_module(Backplane &backplane, int slot, ModuleKind kind, std::int16_t firmware,
                   bool replace) {
    std::optional<Module> &module = slot_at(backplane, slot);
    if (module && !replace) {
        throw ChangeRefused("slot " + std::to_string(slot) + " already holds " +
                                described(*module) + " (use --replace to put another in its place)",
                            kBadArgument);
    }
    module = factory_module(kind, firmware);
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

void add_refusal(Backplane &backplane, const Refusal &refusal) {
    const std::string call = "zmod4710_" + call_name(refusal.call);
    if (!can_be_refused(refusal.call)) {
        throw ChangeRefused(call + " returns no result, and cannot be refused", kBadArgument);
    }
    if (refusal.slot &&
        (!call_has_slot(refusal.call) || *refusal.slot < 0 || *refusal.slot >= kSlotCount)) {
        throw ChangeRefused(call_has_slot(refusal.call) ? "slots are 0 to 7"
                                                        : call + " is not made on a slot",
                            kBadArgument);
    }
    if (refusal.channel && (!call_has_channel(refusal.call) || *refusal.channel < 0)) {
        throw ChangeRefused(call_has_channel(refusal.call) ? "channels are 0 or more"
                                                           : call + " is not made on a channel",
                            kBadArgument);
    }
    if (refusal.result == 0) {
        throw ChangeRefused("expected a result other than 0, which is success", kBadArgument);
    }
    if (refusal.times && *refusal.times < 1) {
        throw ChangeRefused("expected a count of 1 or more", kBadArgument);
    }
    backplane.refusals.push_back(refusal);
}

std::size_t clear_refusals(Backplane &backplane) {
    const std::size_t cleared = backplane.refusals.size();
    backplane.refusals.clear();
    return cleared;
}

} // namespace zmod4710_sim
