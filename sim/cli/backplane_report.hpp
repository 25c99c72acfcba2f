// The simulated backplane as a person reads it.
#pragma once

#include "backplane.hpp"
#include "backplane_changes.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace zmod4710_sim {

// printf's formatting into a string of whatever length it takes.
template <class... Arguments> std::string formatted(const char *format, Arguments... arguments) {
    const int length = std::snprintf(nullptr, 0, format, arguments...);
    if (length <= 0) {
        return "";
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, arguments...);
    return text;
}

// "retentive" or "power-on value": what a power-on mode does, as people read it.
std::string power_on_mode_name(std::int16_t mode);
// "ZM-4710, firmware 3, power-on mode 1 (power-on value)"; for a module of
// another kind, its kind and firmware.
std::string describe_module_line(const Module &module);

// Each occupied slot with its module, firmware and power-on mode, and a table of
// its channels; with_calibration adds each channel's gain and offset in every range.
std::string describe_backplane(const Backplane &backplane, bool with_calibration);

// "zmod4710_WriteAO, slot 0, channel 1: result 7, the next 5 calls"
std::string describe_refusal(const Refusal &refusal);
// Each refusal pending on a line of its own, in the order they apply.
std::string describe_refusals(const std::vector<Refusal> &refusals);

// One line for each analog-output module, and one for each channel that changed.
std::string describe_power_cycle(const std::vector<ModulePowerUp> &report);

} // namespace zmod4710_sim
