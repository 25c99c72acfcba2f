#include "timeline.hpp"

#include "backplane.hpp"
#include "one_line.hpp"
#include "trace_file.hpp"
#include "trace_lines.hpp"

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zmod4710_sim {

namespace {

constexpr int kMostChannels = 8;
// Bad lines told for each trace, before the rest are only counted.
constexpr int kMostTold = 5;

// What is known of one channel: nothing until a line tells it.
struct ChannelSeen {
    std::optional<float> output;
    std::optional<int> range;
    std::optional<float> power_on_value;
    std::optional<int> power_on_range;

    bool operator==(const ChannelSeen &other) const {
        return output == other.output && range == other.range &&
               power_on_value == other.power_on_value && power_on_range == other.power_on_range;
    }
};

struct SlotSeen {
    std::optional<int> mode;
    std::array<std::optional<ChannelSeen>, kMostChannels> channels;
};

// One change of one channel, as each format writes it.
struct Row {
    std::int64_t microseconds; // since the first line
    std::string_view time;     // as the trace wrote it
    long process;
    int slot;
    int channel;
    const ChannelSeen &seen;
    std::optional<int> mode;
    std::string_view cause; // the call, or the change, that made it
};

class Format {
public:
    virtual ~Format() = default;
    // Called in a first pass over the traces, for a format that names what it
    // will write before it writes it.
    virtual bool needs_first_pass() const { return false; }
    virtual void note(const Row &) {}
    virtual void begin(std::string_view /*first_time*/) {}
    virtual void write(const Row &row) = 0;
    virtual void end() {}
};

std::string number_or(const std::optional<float> &value, std::string_view none) {
    return value ? shortest_text(*value) : std::string(none);
}

std::string integer_or(const std::optional<int> &value, std::string_view none) {
    return value ? std::to_string(*value) : std::string(none);
}

std::string unit_or(const std::optional<int> &range, std::string_view none) {
    return range ? range_unit(*range) : std::string(none);
}

std::string seconds_text(std::int64_t microseconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(microseconds / 1000000),
                  static_cast<long long>(microseconds % 1000000));
    return text;
}

class CsvFormat : public Format {
public:
    explicit CsvFormat(std::ostream &out) : out_(out) {}
    void begin(std::string_view) override {
        out_ << "time,seconds,slot,channel,output,unit,range,power_on_value,power_on_unit,"
                "power_on_range,power_on_mode,process,cause\n";
    }
    void write(const Row &row) override {
        out_ << row.time << ',' << seconds_text(row.microseconds) << ',' << row.slot << ','
             << row.channel << ',' << number_or(row.seen.output, "") << ','
             << unit_or(row.seen.range, "") << ',' << integer_or(row.seen.range, "") << ','
             << number_or(row.seen.power_on_value, "") << ','
             << unit_or(row.seen.power_on_range, "") << ','
             << integer_or(row.seen.power_on_range, "") << ',' << integer_or(row.mode, "") << ','
             << row.process << ',' << field(row.cause) << '\n';
    }

private:
    // Quoted when it holds what would end or split it.
    static std::string field(std::string_view text) {
        if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
            return std::string(text);
        }
        std::string quoted = "\"";
        for (const char letter : text) {
            quoted += letter == '"' ? "\"\"" : std::string(1, letter);
        }
        return quoted + "\"";
    }
    std::ostream &out_;
};

class JsonLinesFormat : public Format {
public:
    explicit JsonLinesFormat(std::ostream &out) : out_(out) {}
    void write(const Row &row) override {
        out_ << "{\"time\":\"" << row.time << "\",\"seconds\":" << seconds_text(row.microseconds)
             << ",\"slot\":" << row.slot << ",\"channel\":" << row.channel
             << ",\"output\":" << number_or(row.seen.output, "null")
             << ",\"unit\":" << quoted_or(row.seen.range)
             << ",\"range\":" << integer_or(row.seen.range, "null")
             << ",\"power_on_value\":" << number_or(row.seen.power_on_value, "null")
             << ",\"power_on_unit\":" << quoted_or(row.seen.power_on_range)
             << ",\"power_on_range\":" << integer_or(row.seen.power_on_range, "null")
             << ",\"power_on_mode\":" << integer_or(row.mode, "null")
             << ",\"process\":" << row.process << ",\"cause\":" << json_string(row.cause) << "}\n";
    }

private:
    static std::string quoted_or(const std::optional<int> &range) {
        return range ? "\"" + range_unit(*range) + "\"" : "null";
    }
    static std::string json_string(std::string_view text) {
        std::string quoted = "\"";
        for (const char letter : text) {
            const auto code = static_cast<unsigned char>(letter);
            if (letter == '"' || letter == '\\') {
                quoted += '\\';
                quoted += letter;
            } else if (code < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
                quoted += escaped;
            } else {
                quoted += letter;
            }
        }
        return quoted + "\"";
    }
    std::ostream &out_;
};

// Value change dump: a scope for each slot, a real variable for each channel's
// output and power-on value, and for the module's power-on mode; the ranges as
// integers, and the units as strings. What is not known is "nan" or "x".
class VcdFormat : public Format {
public:
    explicit VcdFormat(std::ostream &out) : out_(out) {}
    bool needs_first_pass() const override { return true; }
    void note(const Row &row) override {
        slots_[static_cast<std::size_t>(row.slot)].used = true;
        slots_[static_cast<std::size_t>(row.slot)].channels[static_cast<std::size_t>(row.channel)] =
            true;
    }
    void begin(std::string_view first_time) override {
        out_ << "$date " << first_time << " $end\n$version zmod4710-sim timeline $end\n"
             << "$timescale 1 us $end\n";
        int modes = 0;
        int channels = 0;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            SlotVariables &variables = slots_[static_cast<std::size_t>(slot)];
            if (!variables.used) {
                continue;
            }
            out_ << "$scope module slot" << slot << " $end\n";
            variables.mode = declare("real 64", modes++, "power_on_mode");
            for (int channel = 0; channel < kMostChannels; ++channel) {
                if (variables.channels[static_cast<std::size_t>(channel)]) {
                    declare_channel(variables, channel, channels++);
                }
            }
            out_ << "$upscope $end\n";
        }
        out_ << "$enddefinitions $end\n";
    }
    void write(const Row &row) override {
        const SlotVariables &variables = slots_[static_cast<std::size_t>(row.slot)];
        const std::string &id = variables.ids[static_cast<std::size_t>(row.channel)];
        if (id.empty()) {
            return; // never a variable that was not declared
        }
        const std::int64_t at = std::max(row.microseconds, last_); // times never go back in a VCD
        if (at != last_ || !started_) {
            out_ << '#' << at << '\n';
            last_ = at;
            started_ = true;
        }
        out_ << 'r' << number_or(row.seen.output, "nan") << ' ' << id << "o\n"
             << 'b' << binary(row.seen.range) << ' ' << id << "r\n"
             << 's' << unit_or(row.seen.range, "unknown") << ' ' << id << "u\n"
             << 'r' << number_or(row.seen.power_on_value, "nan") << ' ' << id << "p\n"
             << 'b' << binary(row.seen.power_on_range) << ' ' << id << "q\n"
             << 's' << unit_or(row.seen.power_on_range, "unknown") << ' ' << id << "v\n"
             << 'r' << integer_or(row.mode, "nan") << ' ' << variables.mode << '\n';
    }

private:
    struct SlotVariables {
        bool used = false;
        std::array<bool, kMostChannels> channels{};
        std::string mode;
        std::array<std::string, kMostChannels> ids;
    };

    // A short identifier of printable letters up to '`', but '#' and '$',
    // which begin a time and a keyword; different for each number: a mode's is
    // one letter, a channel's variables two and a lower-case letter of their own.
    static std::string identifier(int number) {
        static const std::string letters = [] {
            std::string all;
            for (char letter = '!'; letter <= '`'; ++letter) {
                if (letter != '#' && letter != '$') {
                    all += letter;
                }
            }
            return all;
        }();
        const auto base = static_cast<int>(letters.size());
        std::string id;
        do {
            id += letters[static_cast<std::size_t>(number % base)];
            number /= base;
        } while (number > 0);
        return id;
    }
    std::string declare(std::string_view type, int number, std::string_view name) {
        std::string id = identifier(number);
        out_ << "$var " << type << ' ' << id << ' ' << name << " $end\n";
        return id;
    }
    // A channel's six variables share a stem, told apart by their last letter.
    void declare_channel(SlotVariables &variables, int channel, int number) {
        const std::string stem = identifier(number + 62);
        const std::string name = "channel" + std::to_string(channel);
        variables.ids[static_cast<std::size_t>(channel)] = stem;
        out_ << "$var real 64 " << stem << "o " << name << "_output $end\n"
             << "$var integer 3 " << stem << "r " << name << "_range $end\n"
             << "$var string 1 " << stem << "u " << name << "_unit $end\n"
             << "$var real 64 " << stem << "p " << name << "_power_on_value $end\n"
             << "$var integer 3 " << stem << "q " << name << "_power_on_range $end\n"
             << "$var string 1 " << stem << "v " << name << "_power_on_unit $end\n";
    }
    static std::string binary(const std::optional<int> &range) {
        if (!range) {
            return "xxx";
        }
        std::string bits;
        for (int bit = 2; bit >= 0; --bit) {
            bits += ((*range >> bit) & 1) != 0 ? '1' : '0';
        }
        return bits;
    }

    std::ostream &out_;
    std::array<SlotVariables, kSlotCount> slots_{};
    std::int64_t last_ = 0;
    bool started_ = false;
};

// One trace, read a line at a time: its next good line waits as its head.
struct Source {
    std::filesystem::path path;
    std::unique_ptr<TraceReader> reader;
    std::string text;
    std::optional<TraceLine> head;
    long line_number = 0;
    long skipped = 0;
    std::string last_change; // what the lines of a slot were told after
};

// Reads the traces merged by time and replays them into format; each no
// further than its limit, when limits are given (the bytes a first pass read,
// so that the second reads the same lines, whatever was appended meanwhile).
class Replay {
public:
    Replay(const std::vector<std::filesystem::path> &traces, Format &format, std::ostream *err,
           bool first_pass, const std::vector<std::uint64_t> &limits = {})
        : format_(format), err_(err), first_pass_(first_pass) {
        // Set aside at once: a head's views into its text must not move.
        sources_.reserve(traces.size());
        for (std::size_t index = 0; index < traces.size(); ++index) {
            Source &source = sources_.emplace_back();
            source.path = traces[index];
            source.reader = std::make_unique<TraceReader>(
                traces[index], index < limits.size() ? limits[index] : TraceReader::kNoLimit);
            advance(source);
        }
    }

    // The bytes read of each trace.
    std::vector<std::uint64_t> consumed() const {
        std::vector<std::uint64_t> bytes;
        for (const Source &source : sources_) {
            bytes.push_back(source.reader->consumed());
        }
        return bytes;
    }

    // Whether every line was read.
    bool run() {
        bool begun = false;
        for (Source *source = earliest(); source != nullptr; source = earliest()) {
            if (!begun) {
                first_ = source->head->microseconds;
                first_time_ = std::string(source->head->time);
                if (!first_pass_) {
                    format_.begin(first_time_);
                }
                begun = true;
            }
            take(*source, *source->head);
            advance(*source);
        }
        if (!begun && !first_pass_) {
            format_.begin("");
        }
        if (!first_pass_) {
            format_.end();
        }
        bool whole = true;
        for (const Source &source : sources_) {
            if (source.skipped > kMostTold && err_ != nullptr) {
                *err_ << "zmod4710-sim: " << one_line(source.path.string()) << ": "
                      << source.skipped << " lines that are no trace lines skipped in all\n";
            }
            whole = whole && source.skipped == 0;
        }
        return whole;
    }

private:
    void advance(Source &source) {
        source.head.reset();
        while (source.reader->next(source.text)) {
            ++source.line_number;
            source.head = read_trace_line(source.text);
            if (source.head) {
                return;
            }
            if (++source.skipped <= kMostTold && err_ != nullptr) {
                *err_ << "zmod4710-sim: " << one_line(source.path.string()) << ":"
                      << source.line_number << ": not a trace line, skipped\n";
            }
        }
    }

    Source *earliest() {
        Source *found = nullptr;
        for (Source &source : sources_) {
            if (source.head &&
                (found == nullptr || source.head->microseconds < found->head->microseconds)) {
                found = &source;
            }
        }
        return found;
    }

    void take(Source &source, const TraceLine &line) {
        switch (line.kind) {
        case TraceLine::Kind::change:
            source.last_change = std::string(line.change);
            break;
        case TraceLine::Kind::call:
            take_call(line);
            break;
        case TraceLine::Kind::slot:
            take_slot(line, source.last_change);
            break;
        case TraceLine::Kind::channel:
            if (line.slot >= 0 && line.slot < kSlotCount && line.channel >= 0 &&
                line.channel < kMostChannels) {
                change(
                    line.slot, line, line.channel,
                    ChannelSeen{line.output, line.range, line.power_on_value, line.power_on_range},
                    source.last_change);
            }
            break;
        case TraceLine::Kind::time_zero:
            break; // what the history's times count from: no change
        }
    }

    void take_call(const TraceLine &line) {
        const CallRecord &call = line.record;
        if (call.result != 0 || call.slot < 0 || call.slot >= kSlotCount) {
            return; // a call that failed changed nothing
        }
        const std::string cause = "zmod4710_" + call_name(call.call);
        if ((call.call == Call::write_ao || call.call == Call::write_power_on_ao) &&
            call.channel >= 0 && call.channel < kMostChannels && is_range_code(call.range)) {
            ChannelSeen seen = seen_of(call.slot, call.channel).value_or(ChannelSeen{});
            const float value = clamp_to_range(call.range, call.value);
            if (call.call == Call::write_ao) {
                seen.output = value;
                seen.range = call.range;
            } else {
                seen.power_on_value = value;
                seen.power_on_range = call.range;
            }
            change(call.slot, line, call.channel, seen, cause);
        } else if (call.call == Call::set_power_on_en_status) {
            set_mode(call.slot, line, call.mode, cause);
        }
    }

    // A slot's module: its mode, and nothing more known of the channels it
    // does not have (all of them, in an empty slot or another kind of module).
    void take_slot(const TraceLine &line, const std::string &cause) {
        if (line.slot < 0 || line.slot >= kSlotCount) {
            return;
        }
        const bool drives = line.module && is_analog_output_module(*line.module);
        SlotSeen &slot = slots_[static_cast<std::size_t>(line.slot)];
        for (int channel = drives ? channel_count(*line.module) : 0; channel < kMostChannels;
             ++channel) {
            if (slot.channels[static_cast<std::size_t>(channel)]) {
                change(line.slot, line, channel, ChannelSeen{}, cause);
                slot.channels[static_cast<std::size_t>(channel)].reset(); // not the module's
            }
        }
        if (drives) {
            set_mode(line.slot, line, line.mode, cause);
        } else {
            slot.mode.reset();
        }
    }

    void set_mode(int slot_number, const TraceLine &line, int mode, std::string_view cause) {
        SlotSeen &slot = slots_[static_cast<std::size_t>(slot_number)];
        if (slot.mode == mode) {
            return;
        }
        slot.mode = mode;
        for (int channel = 0; channel < kMostChannels; ++channel) {
            if (const std::optional<ChannelSeen> &seen =
                    slot.channels[static_cast<std::size_t>(channel)]) {
                emit(slot_number, line, channel, *seen, cause);
            }
        }
    }

    std::optional<ChannelSeen> &seen_of(int slot, int channel) {
        return slots_[static_cast<std::size_t>(slot)].channels[static_cast<std::size_t>(channel)];
    }

    void change(int slot, const TraceLine &line, int channel, const ChannelSeen &now,
                std::string_view cause) {
        std::optional<ChannelSeen> &seen = seen_of(slot, channel);
        if (seen == now) {
            return;
        }
        seen = now;
        emit(slot, line, channel, now, cause);
    }

    void emit(int slot, const TraceLine &line, int channel, const ChannelSeen &seen,
              std::string_view cause) {
        const Row row{line.microseconds - first_,
                      line.time,
                      line.process,
                      slot,
                      channel,
                      seen,
                      slots_[static_cast<std::size_t>(slot)].mode,
                      cause};
        if (first_pass_) {
            format_.note(row);
        } else {
            format_.write(row);
        }
    }

    Format &format_;
    std::ostream *err_;
    bool first_pass_;
    std::vector<Source> sources_;
    std::array<SlotSeen, kSlotCount> slots_{};
    std::int64_t first_ = 0;
    std::string first_time_;
};

std::unique_ptr<Format> format_for(TimelineFormat format, std::ostream &out) {
    switch (format) {
    case TimelineFormat::vcd:
        return std::make_unique<VcdFormat>(out);
    case TimelineFormat::jsonl:
        return std::make_unique<JsonLinesFormat>(out);
    case TimelineFormat::csv:
        break;
    }
    return std::make_unique<CsvFormat>(out);
}

} // namespace

bool write_timeline(const std::vector<std::filesystem::path> &traces, TimelineFormat format,
                    std::ostream &out, std::ostream &err) {
    const std::unique_ptr<Format> writer = format_for(format, out);
    if (writer->needs_first_pass()) {
        Replay noting(traces, *writer, &err, true);
        const bool whole = noting.run();
        Replay(traces, *writer, nullptr, false, noting.consumed()).run();
        return whole;
    }
    return Replay(traces, *writer, &err, false).run();
}

} // namespace zmod4710_sim
