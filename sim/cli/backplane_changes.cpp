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
    return "a " + module_label(module.kind);
}

Channel &channel_at(Backplane &backplane, int slot, int channel) {
    const std::optional<Module> &occupant = slot_at(backplane, slot);
    Module *module = analog_module(backplane, slot);
    if (module == nullptr) {
        throw ChangeRefused("slot " + std::to_string(slot) + " holds " +
                            (occupant ? described(*occupant) : "no module") +
                            ", not an analog-output module");
    }
    Channel *found = channel_of(*module, channel);
    if (found == nullptr) {
        throw ChangeRefused("the " + module_label(module->kind) + " in slot " +
                            std::to_string(slot) + " has channels 0 to " +
                            std::to_string(module->channels.size() - 1));
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
