#include "backplane_json.hpp"

#include "json_reader.hpp"
#include "one_line.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

namespace zmod4710_sim {

namespace {

// Where in the document a value sits, for messages such as
// "slots[0].channels[3].range: expected an integer from 0 to 5". A key that is
// not one of the state's own is quoted only in part, escaped.
std::string field_path(const std::string &parent, const std::string &key) {
    const std::string shown = one_line(key, kQuoteLimit);
    return parent.empty() ? shown : parent + "." + shown;
}

std::string format_limit(float limit) {
    return std::to_string(static_cast<int>(limit));
}

std::string element_path(const std::string &parent, std::size_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

const JsonValue &member(const JsonValue &object, const std::string &parent,
                        const std::string &key) {
    const JsonValue *value = object.is_object() ? object.find(key) : nullptr;
    if (value == nullptr) {
        throw StateError(field_path(parent, key) + ": missing");
    }
    return *value;
}

long long integer_member(const JsonValue &object, const std::string &parent, const std::string &key,
                         long long low, long long high) {
    const std::optional<long long> number = member(object, parent, key).whole_number();
    if (number && *number >= low && *number <= high) {
        return *number;
    }
    throw StateError(field_path(parent, key) + ": expected an integer from " + std::to_string(low) +
                     " to " + std::to_string(high));
}

// A value a channel can hold in range: no module outputs or keeps a value
// beyond the range's ends, at which its writes saturate.
float value_member(const JsonValue &object, const std::string &parent, const std::string &key,
                   int range) {
    const std::optional<double> number = member(object, parent, key).number();
    const RangeLimits limits = range_limits(range);
    if (number && *number >= limits.low && *number <= limits.high) {
        return static_cast<float>(*number);
    }
    throw StateError(field_path(parent, key) + ": expected a number from " +
                     format_limit(limits.low) + " to " + format_limit(limits.high) + " (" +
                     range_name(range) + ")");
}

// A number from -most to most, as a float.
float bounded_member(const JsonValue &object, const std::string &parent, const std::string &key,
                     float most) {
    const std::optional<double> number = member(object, parent, key).number();
    if (number && std::fabs(*number) <= static_cast<double>(most)) {
        return static_cast<float>(*number);
    }
    throw StateError(field_path(parent, key) + ": expected a number from -" + format_limit(most) +
                     " to " + format_limit(most));
}

// "\"ZM-4710\", \"ZM-4704\" or \"other\""
std::string quoted_module_names() {
    const std::vector<std::string> names = module_names();
    std::string text;
    for (std::size_t index = 0; index < names.size(); ++index) {
        text += (index == 0                  ? ""
                 : index + 1 == names.size() ? " or "
                                             : ", ") +
                ("\"" + names[index] + "\"");
    }
    return text;
}

const JsonValue &array_member(const JsonValue &object, const std::string &parent,
                              const std::string &key) {
    const JsonValue &value = member(object, parent, key);
    if (!value.is_array()) {
        throw StateError(field_path(parent, key) + ": expected a list");
    }
    return value;
}

// A field this program does not know would be lost at the next write, which
// writes only what it knows: such a file is refused rather than thinned out.
void check_known_fields(const JsonValue &object, const std::string &path,
                        std::initializer_list<const char *> known) {
    for (const std::string &key : object.keys) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            throw StateError(field_path(path, key) + ": not a field of a backplane state");
        }
    }
}

// Writes JSON laid out as nlohmann's dump(2) lays it out, straight into one
// string: the state is written at every change, and building a document first
// would cost more than all else a write does but its syncs.
class JsonWriter {
public:
    void open(char bracket) {
        text_ += bracket;
        first_ = true;
        ++depth_;
    }
    void close(char bracket) {
        --depth_;
        if (!first_) {
            new_line();
        }
        text_ += bracket;
        first_ = false;
    }
    // Starts the next member of an object, or with key == nullptr, of a list.
    void next(const char *key = nullptr) {
        if (!first_) {
            text_ += ',';
        }
        new_line();
        first_ = false;
        if (key != nullptr) {
            text_ += '"';
            text_ += key;
            text_ += "\": ";
        }
    }
    void integer(long long value) { text_ += std::to_string(value); }
    // As a double, so it reads back as exactly this float; shortest, not in
    // exponent form, and with a point, as a value with a fraction is shown.
    void real(float value) {
        char digits[400];
        const std::to_chars_result end = std::to_chars(
            digits, digits + sizeof digits, static_cast<double>(value), std::chars_format::fixed);
        text_.append(digits, end.ptr);
        if (std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)).find('.') ==
            std::string_view::npos) {
            text_ += ".0";
        }
    }
    void text(const std::string &value) {
        text_ += '"';
        text_ += value;
        text_ += '"';
    }
    std::string finish() { return std::move(text_) + "\n"; }

private:
    void new_line() {
        text_ += '\n';
        text_.append(2 * static_cast<std::size_t>(depth_), ' ');
    }

    std::string text_;
    bool first_ = true;
    int depth_ = 0;
};

void write_calibration(JsonWriter &out, const std::array<Calibration, kRangeCount> &calibration) {
    out.open('[');
    for (std::size_t range = 0; range < calibration.size(); ++range) {
        out.next();
        out.open('{');
        out.next("range");
        out.integer(static_cast<long long>(range));
        out.next("gain");
        out.integer(calibration[range].gain);
        out.next("offset");
        out.integer(calibration[range].offset);
        out.close('}');
    }
    out.close(']');
}

void write_channel(JsonWriter &out, std::size_t index, const Channel &channel) {
    out.open('{');
    out.next("channel");
    out.integer(static_cast<long long>(index));
    out.next("range");
    out.integer(channel.range);
    out.next("output");
    out.real(channel.output);
    out.next("power_on_range");
    out.integer(channel.power_on_range);
    out.next("power_on_value");
    out.real(channel.power_on_value);
    out.next("calibration");
    write_calibration(out, channel.calibration);
    // Only for a channel given one: a state without drift is as it always was.
    if (!(channel.drift == Drift{})) {
        out.next("drift");
        out.open('{');
        out.next("gain_percent");
        out.real(channel.drift.gain_percent);
        out.next("offset");
        out.real(channel.drift.offset);
        out.close('}');
    }
    out.close('}');
}

void write_refusals(JsonWriter &out, const std::vector<Refusal> &refusals) {
    out.open('[');
    for (const Refusal &refusal : refusals) {
        out.next();
        out.open('{');
        out.next("call");
        out.text(call_name(refusal.call));
        for (const auto &[key, value] :
             {std::pair("slot", refusal.slot), std::pair("channel", refusal.channel)}) {
            if (value) {
                out.next(key);
                out.integer(*value);
            }
        }
        out.next("result");
        out.integer(refusal.result);
        if (refusal.times) {
            out.next("times");
            out.integer(*refusal.times);
        }
        if (refusal.after != 0) {
            out.next("after");
            out.integer(refusal.after);
        }
        out.close('}');
    }
    out.close(']');
}

void write_module(JsonWriter &out, std::size_t slot, const Module &module) {
    out.open('{');
    out.next("slot");
    out.integer(static_cast<long long>(slot));
    out.next("module");
    out.text(module_name(module.kind));
    out.next("firmware");
    out.integer(module.firmware);
    out.next("power_on_mode");
    out.integer(module.power_on_mode);
    out.next("channels");
    out.open('[');
    for (std::size_t index = 0; index < module.channels.size(); ++index) {
        out.next();
        write_channel(out, index, module.channels[index]);
    }
    out.close(']');
    // Only for a module inserted since: a factory backplane's state is as it always was.
    if (module.insertion != 0) {
        out.next("insertion");
        out.integer(module.insertion);
    }
    out.close('}');
}

std::array<Calibration, kRangeCount> calibration_from_json(const JsonValue &list,
                                                           const std::string &path) {
    if (list.items.size() != kRangeCount) {
        throw StateError(path + ": expected one entry for each of the " +
                         std::to_string(kRangeCount) + " ranges");
    }
    std::array<Calibration, kRangeCount> calibration{};
    for (std::size_t index = 0; index < list.items.size(); ++index) {
        const JsonValue &entry = list.items[index];
        const std::string at = element_path(path, index);
        check_known_fields(entry, at, {"range", "gain", "offset"});
        const long long range = integer_member(entry, at, "range", 0, kRangeCount - 1);
        if (static_cast<std::size_t>(range) != index) {
            throw StateError(at + ".range: expected " + std::to_string(index));
        }
        calibration[index].gain = static_cast<std::uint16_t>(
            integer_member(entry, at, "gain", 0, std::numeric_limits<std::uint16_t>::max()));
        calibration[index].offset = static_cast<std::int16_t>(
            integer_member(entry, at, "offset", std::numeric_limits<std::int16_t>::min(),
                           std::numeric_limits<std::int16_t>::max()));
    }
    return calibration;
}

Drift drift_from_json(const JsonValue *object, const std::string &path) {
    if (object == nullptr) {
        return Drift{};
    }
    if (!object->is_object()) {
        throw StateError(path + ": expected an object");
    }
    check_known_fields(*object, path, {"gain_percent", "offset"});
    return Drift{bounded_member(*object, path, "gain_percent", kMostDriftGain),
                 bounded_member(*object, path, "offset", kMostDriftOffset)};
}

Channel channel_from_json(const JsonValue &object, std::size_t index, const std::string &path) {
    check_known_fields(
        object, path,
        {"channel", "range", "output", "power_on_range", "power_on_value", "calibration", "drift"});
    if (static_cast<std::size_t>(integer_member(object, path, "channel", 0, 255)) != index) {
        throw StateError(path + ".channel: expected " + std::to_string(index));
    }
    Channel channel;
    channel.range =
        static_cast<std::int16_t>(integer_member(object, path, "range", 0, kRangeCount - 1));
    channel.output = value_member(object, path, "output", channel.range);
    channel.power_on_range = static_cast<std::int16_t>(
        integer_member(object, path, "power_on_range", 0, kRangeCount - 1));
    channel.power_on_value = value_member(object, path, "power_on_value", channel.power_on_range);
    channel.calibration = calibration_from_json(array_member(object, path, "calibration"),
                                                field_path(path, "calibration"));
    channel.drift = drift_from_json(object.find("drift"), field_path(path, "drift"));
    return channel;
}

// A count of insertions, which a state without any leaves out.
std::uint32_t insertion_member(const JsonValue &object, const std::string &parent,
                               const std::string &key) {
    return object.find(key) == nullptr
               ? 0
               : static_cast<std::uint32_t>(integer_member(
                     object, parent, key, 0, std::numeric_limits<std::uint32_t>::max()));
}

Module module_from_json(const JsonValue &object, const std::string &path) {
    check_known_fields(object, path,
                       {"slot", "module", "firmware", "power_on_mode", "channels", "insertion"});
    Module module;
    const JsonValue &name = member(object, path, "module");
    const std::optional<ModuleKind> kind =
        name.kind == JsonValue::Kind::text ? module_kind_named(name.text) : std::nullopt;
    if (!kind) {
        throw StateError(field_path(path, "module") + ": expected " + quoted_module_names());
    }
    module.kind = *kind;
    module.firmware =
        static_cast<std::int16_t>(integer_member(object, path, "firmware", 0, kMaxFirmware));
    module.power_on_mode = static_cast<std::int16_t>(
        integer_member(object, path, "power_on_mode", kPowerOnValue, kRetentive));

    const std::vector<JsonValue> &channels = array_member(object, path, "channels").items;
    const std::string channels_path = field_path(path, "channels");
    if (channels.size() != static_cast<std::size_t>(channel_count(module.kind))) {
        throw StateError(channels_path + ": a " + module_name(module.kind) + " has " +
                         std::to_string(channel_count(module.kind)) + " channels");
    }
    for (std::size_t index = 0; index < channels.size(); ++index) {
        module.channels.push_back(
            channel_from_json(channels[index], index, element_path(channels_path, index)));
    }
    module.insertion = insertion_member(object, path, "insertion");
    return module;
}

// An optional member, an integer from low to high, or nothing.
std::optional<int> optional_integer(const JsonValue &object, const std::string &parent,
                                    const std::string &key, long long low, long long high) {
    return object.find(key) == nullptr ? std::nullopt
                                       : std::optional<int>(static_cast<int>(
                                             integer_member(object, parent, key, low, high)));
}

Refusal refusal_from_json(const JsonValue &object, const std::string &path) {
    check_known_fields(object, path, {"call", "slot", "channel", "result", "times", "after"});
    const JsonValue &name = member(object, path, "call");
    const std::optional<Call> call =
        name.kind == JsonValue::Kind::text ? call_named(name.text) : std::nullopt;
    if (!call) {
        throw StateError(field_path(path, "call") + ": expected a call of the module library");
    }
    Refusal refusal;
    refusal.call = *call;
    constexpr long long kLeast = std::numeric_limits<int>::min();
    constexpr long long kMost = std::numeric_limits<int>::max();
    refusal.slot = optional_integer(object, path, "slot", kLeast, kMost);
    refusal.channel = optional_integer(object, path, "channel", kLeast, kMost);
    refusal.result = static_cast<int>(integer_member(object, path, "result", kLeast, kMost));
    refusal.times = optional_integer(object, path, "times", kLeast, kMost);
    refusal.after = optional_integer(object, path, "after", kLeast, kMost).value_or(0);
    // As the command line would store it: one that could match no call is refused.
    if (const std::optional<RefusalFault> fault = refusal_fault(refusal)) {
        throw StateError(field_path(path, fault->field) + ": " + fault->reason);
    }
    return refusal;
}

std::vector<Refusal> refusals_from_json(const JsonValue &document) {
    std::vector<Refusal> refusals;
    if (document.find("refusals") == nullptr) {
        return refusals;
    }
    const std::vector<JsonValue> &list = array_member(document, "", "refusals").items;
    for (std::size_t index = 0; index < list.size(); ++index) {
        refusals.push_back(refusal_from_json(list[index], element_path("refusals", index)));
    }
    return refusals;
}

Backplane backplane_in(const JsonValue &document) {
    check_known_fields(document, "", {"slots", "insertions", "refusals"});
    Backplane backplane;
    backplane.refusals = refusals_from_json(document);
    backplane.insertions = insertion_member(document, "", "insertions");
    const std::vector<JsonValue> &slots = array_member(document, "", "slots").items;
    for (std::size_t index = 0; index < slots.size(); ++index) {
        const std::string path = element_path("slots", index);
        const auto slot =
            static_cast<std::size_t>(integer_member(slots[index], path, "slot", 0, kSlotCount - 1));
        if (backplane.slots[slot]) {
            throw StateError(path + ".slot: slot " + std::to_string(slot) + " is listed twice");
        }
        backplane.slots[slot] = module_from_json(slots[index], path);
    }
    return backplane;
}

} // namespace

Backplane backplane_from_json(const nlohmann::ordered_json &document) {
    return backplane_in(read_json(document.dump()));
}

std::string format_backplane(const Backplane &backplane) {
    JsonWriter out;
    out.open('{');
    out.next("slots");
    out.open('[');
    for (std::size_t slot = 0; slot < backplane.slots.size(); ++slot) {
        if (backplane.slots[slot]) {
            out.next();
            write_module(out, slot, *backplane.slots[slot]);
        }
    }
    out.close(']');
    if (backplane.insertions != 0) {
        out.next("insertions");
        out.integer(backplane.insertions);
    }
    // Only when there are any: a state without them is as it always was.
    if (!backplane.refusals.empty()) {
        out.next("refusals");
        write_refusals(out, backplane.refusals);
    }
    out.close('}');
    return out.finish();
}

std::string format_refusals(const std::vector<Refusal> &refusals) {
    JsonWriter out;
    out.open('{');
    out.next("refusals");
    write_refusals(out, refusals);
    out.close('}');
    return out.finish();
}

Backplane parse_backplane(std::string_view text) {
    // The parser would stop at a NUL byte and take the text before it for all.
    if (text.find('\0') != std::string_view::npos) {
        throw StateError("a NUL byte at offset " + std::to_string(text.find('\0')));
    }
    return backplane_in(read_json(text));
}

} // namespace zmod4710_sim
