// The simulated backplane: which module sits in which slot and what it holds.
//
// One model for everything that simulates the module: the module library, the
// command-line program and the tests all read and change this.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zmod4710_sim {

constexpr int kSlotCount = 8;
constexpr int kRangeCount = 6;

enum class ModuleKind { zm4710, zm4704, other };

enum PowerOnMode : std::int16_t { kPowerOnValue = 1, kRetentive = 2 };

struct Calibration {
    std::uint16_t gain = 0;
    std::int16_t offset = 0;
};

// An error of the channel's own, which the module cannot see: a meter on its
// terminals reads the output times (1 + gain_percent / 100), plus offset, in
// the output's unit.
struct Drift {
    float gain_percent = 0.0f;
    float offset = 0.0f;
};

// The most a drift may be, either way: a gain in percent, an offset in the
// output's unit.
constexpr float kMostDriftGain = 100.0f;
constexpr float kMostDriftOffset = 100.0f;

struct Channel {
    std::int16_t range = 0;
    float output = 0.0f;
    std::int16_t power_on_range = 0;
    float power_on_value = 0.0f;
    std::array<Calibration, kRangeCount> calibration{};
    Drift drift{};
};

// What a meter on a channel's terminals reads, as a 4½-digit meter shows it:
// at most 19999 counts, on the lowest of its ranges (0.2, 2, 20, 200 and 2000
// in the output's unit) that holds the reading; decimals is 5 on the lowest, 1
// on the highest.
struct MeterReading {
    double value = 0;
    int decimals = 0;
    std::int16_t range = 0; // the channel's, whose unit the reading is in
};

struct Module {
    ModuleKind kind = ModuleKind::zm4710;
    std::int16_t firmware = 0;
    std::int16_t power_on_mode = kPowerOnValue;
    std::vector<Channel> channels;
    // Which insertion put the module in its slot (0: it came with the
    // backplane), so that a module put in the place of another is never taken
    // for it.
    std::uint32_t insertion = 0;
};

// The module library's calls. All but GetLibVersion, which returns no result,
// can be refused on request; a refusal of any call matches every one of them.
enum class Call {
    init,
    write_ao,
    set_power_on_en_status,
    write_power_on_ao,
    read_ao_gain_offset,
    get_firmware_version,
    get_lib_date,
    get_lib_version,
    any // in a refusal only: every call that can be refused
};

// A refusal that a person asked for: once after matching calls have gone
// through, the calls it matches return result, and do nothing else, times more
// times, or for ever when times is nothing.
struct Refusal {
    Call call = Call::write_ao;
    std::optional<int> slot;    // any slot when nothing
    std::optional<int> channel; // any channel when nothing
    int result = 0;
    std::optional<int> times;
    int after = 0; // matching calls still to let through
};

// What the refusals pending make of a call: the result of the one that answers
// it (0 when none does), and whether counting the call changed them.
struct RefusalAnswer {
    int result = 0;
    bool changed = false;
};

// What is wrong with a refusal that could match no call: the field at fault,
// named as the state file names it ("call", "slot", "channel", "result" or
// "times"), and why, in words that fit after the field's name.
struct RefusalFault {
    const char *field;
    std::string reason;
};

struct Backplane {
    std::array<std::optional<Module>, kSlotCount> slots;
    std::vector<Refusal> refusals; // in the order they were asked for
    std::uint32_t insertions = 0;  // how many modules were inserted, the last one's insertion
};

struct RangeLimits {
    float low;
    float high;
};

constexpr std::int16_t kFactoryFirmware = 3;
// Firmware versions run from 0 to this.
constexpr std::int16_t kMaxFirmware = 32767;

bool operator==(const Calibration &a, const Calibration &b);
bool operator==(const Drift &a, const Drift &b);
bool operator==(const Channel &a, const Channel &b);
bool operator==(const Module &a, const Module &b);
bool operator==(const Refusal &a, const Refusal &b);
bool operator==(const Backplane &a, const Backplane &b);

bool is_range_code(int range);
// Requires is_range_code(range).
RangeLimits range_limits(int range);
// "0 ~ 5V" ... "0 ~ 20mA", as the ranges are known to their users.
std::string range_name(int range);
// "V" for the voltage ranges, "mA" for the current ranges.
std::string range_unit(int range);
// What the converter outputs for value in range: the value, saturated at the range's ends.
float clamp_to_range(int range, float value);

int channel_count(ModuleKind kind);
// A ZM-4710 or ZM-4704: the kinds the module library drives.
bool is_analog_output_module(ModuleKind kind);
// "ZM-4710", "ZM-4704" or "other": the kind's name in the state file and on the
// command line.
std::string module_name(ModuleKind kind);
std::optional<ModuleKind> module_kind_named(const std::string &name);
// Every kind's name, in order.
std::vector<std::string> module_names();
// "ZM-4710", "ZM-4704" or "module of another kind", as people read it.
std::string module_label(ModuleKind kind);

// The analog-output module in slot, or nullptr when there is no such slot, or
// it is empty or holds another kind of module.
Module *analog_module(Backplane &backplane, int slot);
const Module *analog_module(const Backplane &backplane, int slot);
// The module's channel, or nullptr when it has none of that number.
Channel *channel_of(Module &module, int channel);
const Channel *channel_of(const Module &module, int channel);

// "Init", "WriteAO", ..., as the library's functions are named after
// "zmod4710_", and the call that name gives, with or without that prefix.
std::string call_name(Call call);
// The same as static text.
const char *call_name_text(Call call);
std::optional<Call> call_named(std::string_view name);
// The names of the calls that can be refused, in order.
std::vector<std::string> refusable_call_names();
bool can_be_refused(Call call);
// Whether the call is made on a slot, and on a channel of it.
bool call_has_slot(Call call);
bool call_has_channel(Call call);
// Whatever asks for a refusal (the command line, the state file, a test) asks
// through this: nothing, or what makes it one that could match no call.
std::optional<RefusalFault> refusal_fault(const Refusal &refusal);
// "zmod4710_WriteAO", or "any call", as a refusal names its call to people.
std::string refused_call_label(Call call);
// Counts a call on slot and channel (-1 where the call has none) in the
// refusals pending: each that matches and still lets calls through lets it
// through, and the first that matches and lets none through answers it, and is
// used up once.
RefusalAnswer answer_by_refusals(Backplane &backplane, Call call, int slot, int channel);
// What that would give, with nothing changed.
RefusalAnswer refusals_answer(const Backplane &backplane, Call call, int slot, int channel);

// Whether a drift can be given: finite, and within the most either way.
bool is_possible_drift(const Drift &drift);
// What a meter on the channel's terminals reads: its output with its drift.
MeterReading meter_reading(const Channel &channel);

// A calibration as the factory would leave it: deterministic, different per channel.
Calibration factory_calibration(int channel, int range);
Module factory_module(ModuleKind kind, std::int16_t firmware = kFactoryFirmware);
// One ZM-4710 in slot 0, all else empty.
Backplane factory_backplane();

} // namespace zmod4710_sim
