// What a person does to the simulated backplane: power the controller up again,
// plug modules in and out, trim a channel's calibration.
#pragma once

#include "backplane.hpp"

#include <stdexcept>
#include <vector>

namespace zmod4710_sim {

// A change the backplane cannot take; the message says why, in the user's terms.
class ChangeRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ChannelPowerUp {
    int channel;
    std::int16_t range_before;
    float output_before;
    std::int16_t range_after;
    float output_after;
};

struct ModulePowerUp {
    int slot;
    std::int16_t power_on_mode;
    std::vector<ChannelPowerUp> changed; // only the channels whose output changed
};

// What the controller's power-up does to each analog-output module: in power-on
// mode 1 every channel takes its power-on value in its power-on range; in mode 2
// (retentive) every channel keeps its last output.
std::vector<ModulePowerUp> power_cycle(Backplane &backplane);

// Puts a factory-fresh module in slot; refuses an occupied slot unless replace.
void insert_module(Backplane &backplane, int slot, ModuleKind kind, std::int16_t firmware,
                   bool replace);
// Takes the module out of slot and returns it; refuses an empty slot.
Module remove_module(Backplane &backplane, int slot);
// Sets one channel's calibration for one range and returns the one it had.
Calibration set_calibration(Backplane &backplane, int slot, int channel, int range,
                            Calibration calibration);

} // namespace zmod4710_sim
