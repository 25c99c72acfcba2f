// What a person does to the simulated backplane: power the controller up again,
// plug modules in and out, trim a channel's calibration, ask for calls to be
// refused. Written once, for zmod4710-sim and the library's control functions.
#pragma once

#include "backplane.hpp"

#include <stdexcept>
#include <string>
#include <vector>

namespace zmod4710_sim {

// A change the backplane cannot take; the message says why, in the user's terms.
class ChangeRefused : public std::runtime_error {
public:
    // What was wrong: a value no backplane has, a slot without the module
    // asked for, or a slot that holds one already.
    enum class Reason { bad_argument, no_module, occupied };

    ChangeRefused(const std::string &message, Reason reason)
        : std::runtime_error(message), reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
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

// The factory backplane in place of backplane, which keeps its count of
// insertions.
void reset_backplane(Backplane &backplane);
// Puts a factory-fresh module in slot, as the backplane's next insertion;
// refuses an occupied slot unless replace.
void insert_module(Backplane &backplane, int slot, ModuleKind kind, std::int16_t firmware,
                   bool replace);
// Takes the module out of slot and returns it; refuses an empty slot.
Module remove_module(Backplane &backplane, int slot);
// Sets one channel's calibration for one range and returns the one it had.
Calibration set_calibration(Backplane &backplane, int slot, int channel, int range,
                            Calibration calibration);
// Gives one channel a drift of its own and returns the one it had; refuses one
// that is not possible (is_possible_drift).
Drift set_drift(Backplane &backplane, int slot, int channel, const Drift &drift);
// What a meter on one channel's terminals reads.
MeterReading read_meter(const Backplane &backplane, int slot, int channel);
// Adds a refusal after those pending; refuses one with a fault (refusal_fault).
void add_refusal(Backplane &backplane, const Refusal &refusal);
// Removes every refusal pending, and returns how many there were.
std::size_t clear_refusals(Backplane &backplane);

// Each change above made and told: the trace's lines that tell what was done
// and what it left (trace_lines.hpp), which zmod4710-sim and the control
// functions both append. Each throws ChangeRefused as the change does, and a
// pointer given gets what the change returns.
using Told = std::vector<std::string>;
Told make_power_cycle(Backplane &backplane, std::vector<ModulePowerUp> *report = nullptr);
Told make_reset(Backplane &backplane);
Told make_insert(Backplane &backplane, int slot, ModuleKind kind, std::int16_t firmware,
                 bool replace);
Told make_remove(Backplane &backplane, int slot, Module *removed = nullptr);
Told make_calibration(Backplane &backplane, int slot, int channel, int range,
                      Calibration calibration, Calibration *before = nullptr);
Told make_drift(Backplane &backplane, int slot, int channel, const Drift &drift,
                Drift *before = nullptr);
Told make_refusal(Backplane &backplane, const Refusal &refusal);
// Tells nothing when there was nothing to clear.
Told make_clear_refusals(Backplane &backplane, std::size_t *cleared = nullptr);

} // namespace zmod4710_sim
