#include "backplane_report.hpp"

namespace zmod4710_sim {

namespace {

// "12.0000 mA", "-2.5000 V"
std::string describe_output(int range, float value) {
    return formatted("%.4f %s", static_cast<double>(value), range_unit(range).c_str());
}

// A table row: the line without the blanks that padding leaves at its end.
std::string row(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
}

std::string describe_channels(const Module &module) {
    std::string text = row(formatted("  %-3s %-9s %14s   %-14s %14s", "CH", "Range", "Output",
                                     "Power-on range", "Power-on value"));
    for (std::size_t index = 0; index < module.channels.size(); ++index) {
        const Channel &channel = module.channels[index];
        text += row(
            formatted("  %-3zu %-9s %11.4f %-2s   %-14s %11.4f %-2s", index,
                      range_name(channel.range).c_str(), static_cast<double>(channel.output),
                      range_unit(channel.range).c_str(), range_name(channel.power_on_range).c_str(),
                      static_cast<double>(channel.power_on_value),
                      range_unit(channel.power_on_range).c_str()));
    }
    return text;
}

// The channels with a drift of their own, a line each; nothing when none has.
std::string describe_drift(const Module &module) {
    std::string text;
    for (std::size_t index = 0; index < module.channels.size(); ++index) {
        const Drift &drift = module.channels[index].drift;
        if (!(drift == Drift{})) {
            text += formatted("  CH %zu drift: gain %+g %%, offset %+g %s\n", index,
                              static_cast<double>(drift.gain_percent),
                              static_cast<double>(drift.offset),
                              range_unit(module.channels[index].range).c_str());
        }
    }
    return text;
}

std::string describe_calibration(const Module &module) {
    std::string header = formatted("  %-3s", "CH");
    for (int range = 0; range < kRangeCount; ++range) {
        header += formatted(" %-14s", range_name(range).c_str());
    }
    std::string text = "  Calibration, gain / offset:\n" + row(header);
    for (std::size_t index = 0; index < module.channels.size(); ++index) {
        std::string line = formatted("  %-3zu", index);
        for (const Calibration &calibration : module.channels[index].calibration) {
            line += formatted(" %-14s",
                              formatted("%u / %d", calibration.gain, calibration.offset).c_str());
        }
        text += row(line);
    }
    return text;
}

std::string describe_module(int slot, const Module &module, bool with_calibration) {
    std::string text = formatted("Slot %d: %s\n", slot, describe_module_line(module).c_str());
    if (!is_analog_output_module(module.kind)) {
        return text;
    }
    text += describe_channels(module) + describe_drift(module);
    if (with_calibration) {
        text += describe_calibration(module);
    }
    return text;
}

} // namespace

std::string power_on_mode_name(std::int16_t mode) {
    return mode == kRetentive ? "retentive" : "power-on value";
}

std::string describe_module_line(const Module &module) {
    std::string kind_and_firmware =
        module_label(module.kind) + ", firmware " + std::to_string(module.firmware);
    if (!is_analog_output_module(module.kind)) {
        return kind_and_firmware;
    }
    return kind_and_firmware + formatted(", power-on mode %d (%s)", module.power_on_mode,
                                         power_on_mode_name(module.power_on_mode).c_str());
}

std::string describe_backplane(const Backplane &backplane, bool with_calibration) {
    std::string text;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const std::optional<Module> &module = backplane.slots[static_cast<std::size_t>(slot)];
        if (module) {
            text += (text.empty() ? "" : "\n") + describe_module(slot, *module, with_calibration);
        }
    }
    return text.empty() ? "No module on the backplane.\n" : text;
}

std::string describe_refusal(const Refusal &refusal) {
    std::string text = refused_call_label(refusal.call);
    if (call_has_slot(refusal.call)) {
        text += refusal.slot ? ", slot " + std::to_string(*refusal.slot) : ", any slot";
    }
    if (call_has_channel(refusal.call)) {
        text += refusal.channel ? ", channel " + std::to_string(*refusal.channel) : ", any channel";
    }
    text += ": result " + std::to_string(refusal.result);
    if (refusal.after > 0) {
        text +=
            ", after " + std::to_string(refusal.after) + (refusal.after == 1 ? " call" : " calls");
    }
    if (!refusal.times) {
        return text + ", every call until cleared";
    }
    return text + (*refusal.times == 1 ? ", the next call"
                                       : ", the next " + std::to_string(*refusal.times) + " calls");
}

std::string describe_refusals(const std::vector<Refusal> &refusals) {
    if (refusals.empty()) {
        return "No refusals on request.\n";
    }
    std::string text = "Refusals on request, in the order they apply:\n";
    for (const Refusal &refusal : refusals) {
        text += "  " + describe_refusal(refusal) + "\n";
    }
    return text;
}

std::string describe_power_cycle(const std::vector<ModulePowerUp> &report) {
    if (report.empty()) {
        return "No analog-output module on the backplane.\n";
    }
    std::string text;
    for (const ModulePowerUp &module : report) {
        text += formatted("Slot %d, power-on mode %d (%s): ", module.slot, module.power_on_mode,
                          power_on_mode_name(module.power_on_mode).c_str());
        if (module.power_on_mode == kRetentive) {
            text += "every channel holds its last output\n";
            continue;
        }
        text += module.changed.empty() ? "every channel already outputs its power-on value\n"
                                       : "channels take their power-on values\n";
        for (const ChannelPowerUp &channel : module.changed) {
            text += formatted("  CH %d: %s in %s -> %s in %s\n", channel.channel,
                              describe_output(channel.range_before, channel.output_before).c_str(),
                              range_name(channel.range_before).c_str(),
                              describe_output(channel.range_after, channel.output_after).c_str(),
                              range_name(channel.range_after).c_str());
        }
    }
    return text;
}

} // namespace zmod4710_sim
