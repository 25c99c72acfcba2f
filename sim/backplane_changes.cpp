#include "backplane_changes.hpp"

#include <string>

namespace zmod4710_sim {

namespace {

std::optional<Module> &slot_at(Backplane &backplane, int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        throw ChangeRefused("slot " + std::to_string(slot) + " does not exist: slots are 0 to " +
                            std::to_string(kSlotCount - 1));
    }
    return backplane.slots[static_cast<std::size_t>(slot)];
}

std::string described(const Module &module) {
    return module.kind == ModuleKind::other ? "a module of another kind"
                                            : "a " + module_name(module.kind);
}

Channel &channel_at(Backplane &backplane, int slot, int channel) {
    std::optional<Module> &module = slot_at(backplane, slot);
    if (!module || !is_analog_output_module(module->kind)) {
        throw ChangeRefused("slot " + std::to_string(slot) + " holds " +
                            (module ? described(*module) : "no module") +
                            ", not an analog-output module");
    }
    if (channel < 0 || static_cast<std::size_t>(channel) >= module->channels.size()) {
        throw ChangeRefused("the " + module_name(module->kind) + " in slot " +
                            std::to_string(slot) + " has channels 0 to " +
                            std::to_string(module->channels.size() - 1));
    }
    return module->channels[static_cast<std::size_t>(channel)];
}

} // namespace

std::vector<ModulePowerUp> power_cycle(Backplane &backplane) {
    std::vector<ModulePowerUp> report;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        std::optional<Module> &module = backplane.slots[static_cast<std::size_t>(slot)];
        if (!module || !is_analog_output_module(module->kind)) {
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
                            described(*module) + " (use --replace to put another in its place)");
    }
    module = factory_module(kind, firmware);
}

Module remove_module(Backplane &backplane, int slot) {
    std::optional<Module> &module = slot_at(backplane, slot);
    if (!module) {
        throw ChangeRefused("slot " + std::to_string(slot) + " is empty");
    }
    Module removed = *module;
    module.reset();
    return removed;
}

Calibration set_calibration(Backplane &backplane, int slot, int channel, int range,
                            Calibration calibration) {
    if (!is_range_code(range)) {
        throw ChangeRefused("range " + std::to_string(range) + " does not exist: ranges are 0 to " +
                            std::to_string(kRangeCount - 1));
    }
    Calibration &target =
        channel_at(backplane, slot, channel).calibration[static_cast<std::size_t>(range)];
    const Calibration before = target;
    target = calibration;
    return before;
}

} // namespace zmod4710_sim
