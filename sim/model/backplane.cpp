#include "backplane.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace zmod4710_sim {

namespace {

struct Range {
    const char *name;
    const char *unit;
    RangeLimits limits;
};

constexpr std::array<Range, kRangeCount> kRanges = {{
    {"0 ~ 5V", "V", {0.0f, 5.0f}},
    {"0 ~ 10V", "V", {0.0f, 10.0f}},
    {"+/- 5V", "V", {-5.0f, 5.0f}},
    {"+/- 10V", "V", {-10.0f, 10.0f}},
    {"4 ~ 20mA", "mA", {4.0f, 20.0f}},
    {"0 ~ 20mA", "mA", {0.0f, 20.0f}},
}};

const Range &range_at(int range) {
    return kRanges.at(static_cast<std::size_t>(range));
}

constexpr ModuleKind kKinds[] = {ModuleKind::zm4710, ModuleKind::zm4704, ModuleKind::other};

struct CallInfo {
    const char *name;
    Call call;
    bool has_slot;
    bool has_channel;
};

// In the order of Call.
constexpr CallInfo kCalls[] = {
    {"Init", Call::init, true, false},
    {"WriteAO", Call::write_ao, true, true},
    {"SetPowerOnEnStatus", Call::set_power_on_en_status, true, false},
    {"WritePowerOn_AO", Call::write_power_on_ao, true, true},
    {"ReadAO_GainOffset", Call::read_ao_gain_offset, true, true},
    {"GetFirmwareVersion", Call::get_firmware_version, true, false},
    {"GetLibDate", Call::get_lib_date, false, false},
    {"GetLibVersion", Call::get_lib_version, false, false},
    {"any", Call::any, true, false},
};

const CallInfo &info_of(Call call) {
    return kCalls[static_cast<std::size_t>(call)];
}

bool matches(const Refusal &refusal, Call call, int slot, int channel) {
    const bool call_matches =
        refusal.call == call || (refusal.call == Call::any && can_be_refused(call));
    return call_matches && (!refusal.slot || *refusal.slot == slot) &&
           (!refusal.channel || *refusal.channel == channel);
}

template <class SomeBackplane> auto analog_module_in(SomeBackplane &backplane, int slot) {
    auto *module =
        slot >= 0 && slot < kSlotCount ? &backplane.slots[static_cast<std::size_t>(slot)] : nullptr;
    return module != nullptr && *module && is_analog_output_module((*module)->kind) ? &**module
                                                                                    : nullptr;
}

template <class SomeModule> auto channel_in(SomeModule &module, int channel) {
    return channel >= 0 && static_cast<std::size_t>(channel) < module.channels.size()
               ? &module.channels[static_cast<std::size_t>(channel)]
               : nullptr;
}

} // namespace

bool operator==(const Calibration &a, const Calibration &b) {
    return a.gain == b.gain && a.offset == b.offset;
}

bool operator==(const Drift &a, const Drift &b) {
    return a.gain_percent == b.gain_percent && a.offset == b.offset;
}

bool operator==(const Channel &a, const Channel &b) {
    return a.range == b.range && a.output == b.output && a.power_on_range == b.power_on_range &&
           a.power_on_value == b.power_on_value && a.calibration == b.calibration &&
           a.drift == b.drift;
}

bool operator==(const Module &a, const Module &b) {
    return a.kind == b.kind && a.firmware == b.firmware && a.power_on_mode == b.power_on_mode &&
           a.channels == b.channels && a.insertion == b.insertion;
}

bool operator==(const Refusal &a, const Refusal &b) {
    return a.call == b.call && a.slot == b.slot && a.channel == b.channel && a.result == b.result &&
           a.times == b.times && a.after == b.after;
}

bool operator==(const Backplane &a, const Backplane &b) {
    return a.slots == b.slots && a.refusals == b.refusals && a.insertions == b.insertions;
}

bool is_range_code(int range) {
    return range >= 0 && range < kRangeCount;
}

RangeLimits range_limits(int range) {
    return range_at(range).limits;
}

std::string range_name(int range) {
    return range_at(range).name;
}

std::string range_unit(int range) {
    return range_at(range).unit;
}

float clamp_to_range(int range, float value) {
    const RangeLimits limits = range_limits(range);
    return std::clamp(value, limits.low, limits.high);
}

int channel_count(ModuleKind kind) {
    switch (kind) {
    case ModuleKind::zm4710:
        return 8;
    case ModuleKind::zm4704:
        return 4;
    case ModuleKind::other:
        break;
    }
    return 0;
}

bool is_analog_output_module(ModuleKind kind) {
    return kind == ModuleKind::zm4710 || kind == ModuleKind::zm4704;
}

std::string module_name(ModuleKind kind) {
    switch (kind) {
    case ModuleKind::zm4710:
        return "ZM-4710";
    case ModuleKind::zm4704:
        return "ZM-4704";
    case ModuleKind::other:
        break;
    }
    return "other";
}

std::optional<ModuleKind> module_kind_named(const std::string &name) {
    for (ModuleKind kind : kKinds) {
        if (module_name(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::vector<std::string> module_names() {
    std::vector<std::string> names;
    for (ModuleKind kind : kKinds) {
        names.push_back(module_name(kind));
    }
    return names;
}

std::string module_label(ModuleKind kind) {
    return kind == ModuleKind::other ? "module of another kind" : module_name(kind);
}

std::string call_name(Call call) {
    return info_of(call).name;
}

const char *call_name_text(Call call) {
    return info_of(call).name;
}

std::optional<Call> call_named(std::string_view name) {
    constexpr std::string_view prefix = "zmod4710_";
    const bool prefixed = name.substr(0, prefix.size()) == prefix;
    if (prefixed) {
        name.remove_prefix(prefix.size());
    }
    for (const CallInfo &info : kCalls) {
        if (name == info.name) {
            // "any" is no function of the library's.
            return prefixed && info.call == Call::any ? std::nullopt : std::optional(info.call);
        }
    }
    return std::nullopt;
}

std::vector<std::string> refusable_call_names() {
    std::vector<std::string> names;
    for (const CallInfo &info : kCalls) {
        if (can_be_refused(info.call)) {
            names.emplace_back(info.name);
        }
    }
    return names;
}

bool can_be_refused(Call call) {
    return call != Call::get_lib_version;
}

bool call_has_slot(Call call) {
    return info_of(call).has_slot;
}

bool call_has_channel(Call call) {
    return info_of(call).has_channel;
}

std::string refused_call_label(Call call) {
    return call == Call::any ? "any call" : "zmod4710_" + call_name(call);
}

std::optional<RefusalFault> refusal_fault(const Refusal &refusal) {
    const std::string call = refused_call_label(refusal.call);
    if (!can_be_refused(refusal.call)) {
        return RefusalFault{"call", call + " returns no result, and cannot be refused"};
    }
    if (refusal.slot && !call_has_slot(refusal.call)) {
        return RefusalFault{"slot", call + " is not made on a slot"};
    }
    if (refusal.slot && (*refusal.slot < 0 || *refusal.slot >= kSlotCount)) {
        return RefusalFault{"slot", "expected a slot from 0 to " + std::to_string(kSlotCount - 1)};
    }
    if (refusal.channel && !call_has_channel(refusal.call)) {
        return RefusalFault{"channel", call + " is not made on a channel"};
    }
    if (refusal.channel && *refusal.channel < 0) {
        return RefusalFault{"channel", "expected a channel of 0 or more"};
    }
    if (refusal.result == 0) {
        return RefusalFault{"result", "expected a result other than 0, which is success"};
    }
    if (refusal.times && *refusal.times < 1) {
        return RefusalFault{"times", "expected a count of 1 or more"};
    }
    if (refusal.after < 0) {
        return RefusalFault{"after", "expected a count of 0 or more"};
    }
    return std::nullopt;
}

RefusalAnswer answer_by_refusals(Backplane &backplane, Call call, int slot, int channel) {
    RefusalAnswer answer;
    std::vector<Refusal> &refusals = backplane.refusals;
    std::optional<std::size_t> answering;
    for (std::size_t index = 0; index < refusals.size(); ++index) {
        Refusal &refusal = refusals[index];
        if (!matches(refusal, call, slot, channel)) {
            continue;
        }
        if (refusal.after > 0) {
            --refusal.after;
            answer.changed = true;
        } else if (!answering) {
            answering = index;
        }
    }
    if (!answering) {
        return answer;
    }
    Refusal &used = refusals[*answering];
    answer.result = used.result;
    if (used.times) {
        answer.changed = true;
        if (--*used.times == 0) {
            refusals.erase(refusals.begin() + static_cast<std::ptrdiff_t>(*answering));
        }
    }
    return answer;
}

RefusalAnswer refusals_answer(const Backplane &backplane, Call call, int slot, int channel) {
    if (backplane.refusals.empty()) {
        return {};
    }
    Backplane counted;
    counted.refusals = backplane.refusals;
    return answer_by_refusals(counted, call, slot, channel);
}

Module *analog_module(Backplane &backplane, int slot) {
    return analog_module_in(backplane, slot);
}

const Module *analog_module(const Backplane &backplane, int slot) {
    return analog_module_in(backplane, slot);
}

Channel *channel_of(Module &module, int channel) {
    return channel_in(module, channel);
}

const Channel *channel_of(const Module &module, int channel) {
    return channel_in(module, channel);
}

Calibration factory_calibration(int channel, int range) {
    // Gains near unity (32768) and offsets of a few counts, as a trimmed converter has.
    const int gain = 32768 - 300 + (channel * 97 + range * 41) % 600;
    const int offset = (channel * 13 + range * 7) % 31 - 15;
    return {static_cast<std::uint16_t>(gain), static_cast<std::int16_t>(offset)};
}

bool is_possible_drift(const Drift &drift) {
    return std::isfinite(drift.gain_percent) && std::isfinite(drift.offset) &&
           std::fabs(drift.gain_percent) <= kMostDriftGain &&
           std::fabs(drift.offset) <= kMostDriftOffset;
}

MeterReading meter_reading(const Channel &channel) {
    constexpr long long kMostCounts = 19999;
    // Counts a unit on each range, the lowest first: written out, so that a
    // reading is the count divided exactly as its digits say.
    constexpr double kCountsPerUnit[] = {1e5, 1e4, 1e3, 1e2, 1e1};
    constexpr int kMostDecimals = 5;
    const double exact = static_cast<double>(channel.output) *
                             (1.0 + static_cast<double>(channel.drift.gain_percent) / 100.0) +
                         static_cast<double>(channel.drift.offset);
    // Rounded half away from zero on the lowest range that holds it; the
    // highest holds whatever a possible drift makes of an output.
    std::size_t meter_range = 0;
    long long counts = std::llround(exact * kCountsPerUnit[meter_range]);
    while (meter_range + 1 < std::size(kCountsPerUnit) && std::llabs(counts) > kMostCounts) {
        counts = std::llround(exact * kCountsPerUnit[++meter_range]);
    }
    return MeterReading{static_cast<double>(counts) / kCountsPerUnit[meter_range],
                        kMostDecimals - static_cast<int>(meter_range), channel.range};
}

Module factory_module(ModuleKind kind, std::int16_t firmware) {
    Module module;
    module.kind = kind;
    module.firmware = firmware;
    module.channels.resize(static_cast<std::size_t>(channel_count(kind)));
    for (std::size_t channel = 0; channel < module.channels.size(); ++channel) {
        for (int range = 0; range < kRangeCount; ++range) {
            module.channels[channel].calibration[static_cast<std::size_t>(range)] =
                factory_calibration(static_cast<int>(channel), range);
        }
    }
    return module;
}

Backplane factory_backplane() {
    Backplane backplane;
    backplane.slots[0] = factory_module(ModuleKind::zm4710);
    return backplane;
}

} // namespace zmod4710_sim
