// The timeline as CSV, JSON Lines, a value change dump and a summary. Volts and
// milliamperes are columns (variables) of their own, so that a plot of one
// never mixes the two; what is not known is empty (null, nan, x), and a
// channel without a module says so in its own column, never as 0.
#include "backplane.hpp"
#include "timeline_rows.hpp"
#include "trace_lines.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>

namespace zmod4710_sim {

const char *event_name(Event event) {
    switch (event) {
    case Event::refused:
        return "refused";
    case Event::callback:
        return "callback";
    case Event::drift:
        return "drift";
    case Event::start:
        return "start";
    case Event::end:
        return "end";
    case Event::change:
        break;
    }
    return "change";
}

namespace {

// Seconds to the microsecond, "-0.500000" before the first line.
std::string seconds_text(std::int64_t microseconds) {
    const std::uint64_t size = microseconds < 0 ? 0 - static_cast<std::uint64_t>(microseconds)
                                                : static_cast<std::uint64_t>(microseconds);
    char text[40];
    std::snprintf(text, sizeof text, "%s%llu.%06llu", microseconds < 0 ? "-" : "",
                  static_cast<unsigned long long>(size / 1000000),
                  static_cast<unsigned long long>(size % 1000000));
    return text;
}

bool in_milliamperes(int range) {
    return range_unit(range) == "mA";
}

// A value in one unit: itself when its range is in that unit, else nothing.
std::optional<float> in_unit(const std::optional<float> &value, const std::optional<int> &range,
                             bool milliamperes) {
    return value && range && in_milliamperes(*range) == milliamperes ? value : std::nullopt;
}

std::string number_or(const std::optional<float> &value, std::string_view none) {
    return value ? shortest_text(*value) : std::string(none);
}

std::string channel_or(int channel, std::string_view none) {
    return channel >= 0 ? std::to_string(channel) : std::string(none);
}

std::string_view presence_text(Presence presence, std::string_view yes, std::string_view no,
                               std::string_view unknown) {
    switch (presence) {
    case Presence::present:
        return yes;
    case Presence::absent:
        return no;
    case Presence::unknown:
        break;
    }
    return unknown;
}

// Text made in one buffer and written out in pieces of 64 KiB as it fills: a
// row costs no memory of its own, and the stream a call a piece.
class Text {
public:
    explicit Text(std::ostream &out) : out_(out), buffer_(std::make_unique<char[]>(kPiece)) {}

    Text &operator<<(std::string_view text) {
        put(text.data(), text.size());
        return *this;
    }
    Text &operator<<(char letter) {
        put(&letter, 1);
        return *this;
    }
    // A number, or none when it is not known.
    void number(const std::optional<float> &value, std::string_view none) {
        if (!value) {
            *this << none;
            return;
        }
        char digits[32];
        put(digits, std::to_chars(digits, digits + sizeof digits, *value).ptr);
    }
    void integer(const std::optional<long long> &value, std::string_view none) {
        if (!value) {
            *this << none;
            return;
        }
        char digits[24];
        put(digits, std::to_chars(digits, digits + sizeof digits, *value).ptr);
    }
    void seconds(std::int64_t microseconds) {
        const std::uint64_t size = microseconds < 0 ? 0 - static_cast<std::uint64_t>(microseconds)
                                                    : static_cast<std::uint64_t>(microseconds);
        if (microseconds < 0) {
            *this << '-';
        }
        char digits[24];
        put(digits, std::to_chars(digits, digits + sizeof digits, size / 1000000).ptr);
        char fraction[] = ".000000";
        for (std::uint64_t rest = size % 1000000, at = 6; rest > 0; rest /= 10, --at) {
            fraction[at] = static_cast<char>('0' + rest % 10);
        }
        put(fraction, 7);
    }
    // As a JSON string: control characters escaped.
    void json_string(std::string_view text) {
        *this << '"';
        for (std::size_t start = 0; start < text.size();) {
            std::size_t plain = start;
            while (plain < text.size() && !needs_escape(text[plain])) {
                ++plain;
            }
            *this << text.substr(start, plain - start);
            if (plain < text.size()) {
                escape(text[plain]);
                ++plain;
            }
            start = plain;
        }
        *this << '"';
    }
    void flush() {
        out_.write(buffer_.get(), static_cast<std::streamsize>(used_));
        used_ = 0;
    }

private:
    static bool needs_escape(char letter) {
        const auto code = static_cast<unsigned char>(letter);
        return letter == '"' || letter == '\\' || code < 0x20 || code == 0x7f;
    }
    void escape(char letter) {
        if (letter == '"' || letter == '\\') {
            *this << '\\' << letter;
            return;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(letter));
        put(escaped, 6);
    }
    void put(const char *text, std::size_t size) {
        if (size > kPiece - used_) {
            flush();
            if (size > kPiece) {
                out_.write(text, static_cast<std::streamsize>(size));
                return;
            }
        }
        std::memcpy(buffer_.get() + used_, text, size);
        used_ += size;
    }
    void put(const char *text, const char *end) { put(text, static_cast<std::size_t>(end - text)); }

    static constexpr std::size_t kPiece = 1 << 16;
    std::ostream &out_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

std::optional<long long> wide(const std::optional<int> &value) {
    return value ? std::optional<long long>(*value) : std::nullopt;
}

std::optional<long long> numbered(int value) {
    return value >= 0 ? std::optional<long long>(value) : std::nullopt;
}

// A row's fields, in the order both CSV and JSON Lines write them: fields is
// told each, by its name, as a word (text that needs no escape nor quote in
// CSV: a time, an event), text, a number, an integer, seconds or presence.
template <class Fields> void each_field(const Row &row, Fields &fields) {
    const ChannelSeen &seen = row.seen;
    fields.word("time", row.time);
    fields.seconds("seconds", row.microseconds);
    fields.integer("slot", numbered(row.slot));
    fields.integer("channel", numbered(row.channel));
    fields.word("event", event_name(row.event));
    fields.presence("module", seen.presence);
    fields.number("output_V", in_unit(seen.output, seen.range, false));
    fields.number("output_mA", in_unit(seen.output, seen.range, true));
    fields.integer("range", wide(seen.range));
    fields.number("power_on_V", in_unit(seen.power_on_value, seen.power_on_range, false));
    fields.number("power_on_mA", in_unit(seen.power_on_value, seen.power_on_range, true));
    fields.integer("power_on_range", wide(seen.power_on_range));
    fields.integer("power_on_mode", wide(row.channel_mode()));
    fields.integer("process", static_cast<long long>(row.process));
    fields.text("cause", row.cause);
}

// CSV, a header row of the fields' names, then a row a line; or JSON Lines,
// an object a line. What is not known is empty, or null.
class RowsAsText : public Format {
public:
    RowsAsText(std::ostream &out, bool json) : text_(out), json_(json) {}
    void begin() override {
        if (!json_) {
            header_ = first_ = true;
            each_field(Row{0, 0, "", 0, 0, 0, Event::change, kNothing, std::nullopt, ""}, *this);
            header_ = false;
            text_ << '\n';
        }
    }
    void write(const Row &row) override {
        first_ = true;
        if (json_) {
            text_ << '{';
        }
        each_field(row, *this);
        text_ << (json_ ? std::string_view("}\n") : std::string_view("\n"));
    }
    void flush() override { text_.flush(); }
    void end() override { text_.flush(); }

    // Each field, as each_field tells it.
    void word(std::string_view name, std::string_view value) {
        if (named(name)) {
            if (json_) {
                text_ << '"' << value << '"';
            } else {
                text_ << value;
            }
        }
    }
    void text(std::string_view name, std::string_view value) {
        if (named(name)) {
            json_ ? text_.json_string(value) : csv_field(value);
        }
    }
    void number(std::string_view name, const std::optional<float> &value) {
        if (named(name)) {
            text_.number(value, none());
        }
    }
    void integer(std::string_view name, const std::optional<long long> &value) {
        if (named(name)) {
            text_.integer(value, none());
        }
    }
    void seconds(std::string_view name, std::int64_t microseconds) {
        if (named(name)) {
            text_.seconds(microseconds);
        }
    }
    void presence(std::string_view name, Presence presence) {
        if (named(name)) {
            text_ << presence_text(presence, json_ ? "true" : "yes", json_ ? "false" : "no",
                                   none());
        }
    }

private:
    static inline const ChannelSeen kNothing{};

    // The field's name, and whether its value is to follow (not in a header).
    bool named(std::string_view name) {
        if (!first_) {
            text_ << ',';
        }
        first_ = false;
        if (header_) {
            text_ << name;
        } else if (json_) {
            text_ << '"' << name << "\":";
        }
        return !header_;
    }
    std::string_view none() const { return json_ ? "null" : ""; }
    // Quoted when it holds what would end or split it.
    void csv_field(std::string_view value) {
        const auto splits = [](char letter) {
            return letter == ',' || letter == '"' || letter == '\r' || letter == '\n';
        };
        if (std::none_of(value.begin(), value.end(), splits)) {
            text_ << value;
            return;
        }
        text_ << '"';
        for (const char letter : value) {
            text_ << (letter == '"' ? std::string_view("\"\"") : std::string_view(&letter, 1));
        }
        text_ << '"';
    }

    Text text_;
    bool json_;
    bool header_ = false;
    bool first_ = true;
};

// A value as the dump writes it, made without memory of its own: a
// variable is compared with it at every row.
class Value {
public:
    explicit Value(std::string_view text) { add(text); }
    void add(std::string_view text) { size_ += text.copy(letters_ + size_, kMost - size_); }
    void add(char letter) { letters_[size_++] = letter; }
    char *end() { return letters_ + size_; }
    void grew_to(char *end) { size_ = static_cast<std::size_t>(end - letters_); }
    std::string_view text() const { return {letters_, size_}; }

private:
    static constexpr std::size_t kMost = 40;
    char letters_[kMost]; // only the first size_ are ever read
    std::size_t size_ = 0;
};
// "r1.5", "rnan" while not known.
Value real(const std::optional<float> &value) {
    Value written("r");
    if (!value) {
        written.add("nan");
    } else {
        char *end = written.end();
        written.grew_to(std::to_chars(end, end + 32, *value).ptr);
    }
    return written;
}
// "b010", "bxxx" while not known.
Value bits(const std::optional<int> &value, int count) {
    Value written("b");
    for (int bit = count - 1; bit >= 0; --bit) {
        written.add(!value ? 'x' : ((*value >> bit) & 1) != 0 ? '1' : '0');
    }
    return written;
}

// Value change dump: a scope for each slot, with its power-on mode and its
// events; in it, for each channel: whether a module holds it (a wire), its
// output and power-on value in volts and in milliamperes (reals: nan while
// not known, or in the other unit), their ranges (integers: x while not
// known) and its events. A variable is written only when its value changed.
class VcdFormat : public Format {
public:
    explicit VcdFormat(std::ostream &out) : out_(out), text_(out) {}
    bool needs_first_pass() const override { return true; }
    void note(const Row &row) override {
        if (row.slot < 0) {
            return;
        }
        SlotVariables &slot = slots_[static_cast<std::size_t>(row.slot)];
        slot.used = true;
        if (row.channel >= 0) {
            slot.channels[static_cast<std::size_t>(row.channel)].used = true;
        }
        if (!first_) {
            first_ = row.time;
        }
    }
    void begin() override {
        out_ << "$date " << first_.value_or("") << " $end\n$version zmod4710-sim timeline $end\n"
             << "$timescale 1 us $end\n";
        int number = 0;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            SlotVariables &variables = slots_[static_cast<std::size_t>(slot)];
            if (!variables.used) {
                continue;
            }
            out_ << "$scope module slot" << slot << " $end\n";
            variables.mode = declare("integer 2", number++, "power_on_mode");
            variables.refused = declare("event 1", number++, "refused");
            variables.callback = declare("event 1", number++, "callback");
            for (int channel = 0; channel < kMostChannels; ++channel) {
                ChannelVariables &ids = variables.channels[static_cast<std::size_t>(channel)];
                if (ids.used) {
                    declare_channel(ids, channel, number);
                    number += kChannelVariables;
                }
            }
            out_ << "$upscope $end\n";
        }
        out_ << "$enddefinitions $end\n";
    }
    void write(const Row &row) override {
        if (row.slot < 0) {
            return; // a call made on no slot: no scope of its own
        }
        SlotVariables &slot = slots_[static_cast<std::size_t>(row.slot)];
        at(row.microseconds);
        if (row.channel < 0) {
            if (row.event == Event::refused || row.event == Event::callback) {
                change(row.event == Event::refused ? slot.refused : slot.callback, Value("1"));
            }
            return;
        }
        ChannelVariables &ids = slot.channels[static_cast<std::size_t>(row.channel)];
        if (ids.values.empty()) {
            return; // never a variable that was not declared
        }
        const ChannelSeen &seen = row.seen;
        change(slot.mode, bits(row.mode, 2));
        change(ids, kModule, Value(presence_text(seen.presence, "1", "0", "x")));
        change(ids, kOutputV, real(in_unit(seen.output, seen.range, false)));
        change(ids, kOutputMa, real(in_unit(seen.output, seen.range, true)));
        change(ids, kRange, bits(seen.range, 3));
        change(ids, kPowerOnV, real(in_unit(seen.power_on_value, seen.power_on_range, false)));
        change(ids, kPowerOnMa, real(in_unit(seen.power_on_value, seen.power_on_range, true)));
        change(ids, kPowerOnRange, bits(seen.power_on_range, 3));
        if (row.event == Event::refused) {
            change(ids.values[kRefused], Value("1"));
        } else if (row.event == Event::callback) {
            change(ids.values[kCallback], Value("1"));
        } else if (row.event == Event::drift) {
            change(ids.values[kDrift], Value("1"));
        }
    }

private:
    enum ChannelVariable {
        kModule,
        kOutputV,
        kOutputMa,
        kRange,
        kPowerOnV,
        kPowerOnMa,
        kPowerOnRange,
        kRefused,
        kCallback,
        kDrift,
        kChannelVariables
    };
    // A variable's identifier and the value last written; an event's is
    // written at each.
    struct Variable {
        std::string id;
        std::string last;
        bool event = false;
    };
    struct ChannelVariables {
        bool used = false;
        std::vector<Variable> values;
    };
    struct SlotVariables {
        bool used = false;
        Variable mode;
        Variable refused;
        Variable callback;
        std::array<ChannelVariables, kMostChannels> channels{};
    };

    // A short identifier of printable letters, different for each number.
    static std::string identifier(int number) {
        constexpr int kFirst = '!';
        constexpr int kLetters = '~' - '!' + 1;
        std::string id;
        do {
            id += static_cast<char>(kFirst + number % kLetters);
            number /= kLetters;
        } while (number > 0);
        return id;
    }
    Variable declare(std::string_view type, int number, const std::string &name) {
        Variable variable{identifier(number), "", type.substr(0, 5) == "event"};
        out_ << "$var " << type << ' ' << variable.id << ' ' << name << " $end\n";
        return variable;
    }
    void declare_channel(ChannelVariables &ids, int channel, int number) {
        static constexpr std::pair<const char *, const char *> kDeclared[] = {
            {"wire 1", "module"},
            {"real 64", "output_V"},
            {"real 64", "output_mA"},
            {"integer 3", "range"},
            {"real 64", "power_on_V"},
            {"real 64", "power_on_mA"},
            {"integer 3", "power_on_range"},
            {"event 1", "refused"},
            {"event 1", "callback"},
            {"event 1", "drift"}};
        const std::string name = "channel" + std::to_string(channel) + "_";
        for (const auto &[type, what] : kDeclared) {
            ids.values.push_back(declare(type, number++, name + what));
        }
    }
    void at(std::int64_t microseconds) {
        // Times never go back in a VCD: a line out of order is drawn when the
        // time is the next one's.
        pending_ = std::max(microseconds, written_.value_or(microseconds));
        if (!written_ || pending_ > *written_) {
            time_due_ = true;
        }
    }
    void change(ChannelVariables &ids, ChannelVariable which, const Value &value) {
        change(ids.values[static_cast<std::size_t>(which)], value);
    }
    // "r1.5 id" for a real, "b010 id" for an integer, "1id" for a wire or event.
    void change(Variable &variable, const Value &value) {
        const std::string_view text = value.text();
        if (variable.id.empty() || (!variable.event && variable.last == text)) {
            return;
        }
        write_time();
        text_ << text;
        if (text[0] == 'r' || text[0] == 'b') {
            text_ << ' ';
        }
        text_ << variable.id << '\n';
        variable.last.assign(text);
    }
    void write_time() {
        if (time_due_) {
            text_ << '#';
            text_.integer(pending_, "");
            text_ << '\n';
            written_ = pending_;
            time_due_ = false;
        }
    }
    void end() override {
        write_time(); // the trace's last time, where every value still holds
        text_.flush();
    }
    std::ostream &out_; // the header
    Text text_;         // the changes
    std::array<SlotVariables, kSlotCount> slots_{};
    std::optional<std::string> first_;
    std::optional<std::int64_t> written_;
    std::int64_t pending_ = 0;
    bool time_due_ = false;
};

// Per channel: its first and last output, the least and most in each unit, the
// writes it took, the events told, and how long no module held it.
class SummaryFormat : public Format {
public:
    SummaryFormat(std::ostream &out, bool json) : out_(out), json_(json) {}
    void written(int slot, int channel) override { ++channels_[{slot, channel}].writes; }
    void write(const Row &row) override {
        latest_ = std::max(latest_, row.microseconds);
        Summary &summary = channels_[{row.slot, row.channel}];
        if (summary.since && summary.last.presence == Presence::absent) {
            summary.without_module += row.microseconds - *summary.since;
        }
        summary.since = row.microseconds;
        summary.last = row.seen;
        if (row.event == Event::refused) {
            ++summary.refused;
        } else if (row.event == Event::callback) {
            ++summary.callback;
        }
        if (row.seen.output && row.seen.range) {
            const float value = *row.seen.output;
            const std::string unit = range_unit(*row.seen.range);
            if (!summary.first) {
                summary.first = std::make_pair(value, unit);
            }
            auto [low, high] = summary.extremes.try_emplace(unit, value, value).first->second;
            summary.extremes[unit] = {std::min(low, value), std::max(high, value)};
        }
    }
    void end() override {
        // No module until the end, for a channel whose last row said none.
        for (auto &[where, summary] : channels_) {
            if (summary.since && summary.last.presence == Presence::absent) {
                summary.without_module += latest_ - *summary.since;
            }
        }
        if (json_) {
            out_ << "[";
        } else {
            out_ << "SLOT CH  FIRST      LAST       MIN V    MAX V    MIN mA   MAX mA   WRITES "
                    "REFUSED CALLBACK NO MODULE\n";
        }
        const char *between = "\n";
        for (const auto &[where, summary] : channels_) {
            if (json_) {
                out_ << between << json_object(where.first, where.second, summary);
                between = ",\n";
            } else {
                out_ << table_row(where.first, where.second, summary) << '\n';
            }
        }
        if (json_) {
            out_ << "\n]\n";
        }
    }

private:
    struct Summary {
        std::optional<std::pair<float, std::string>> first;
        ChannelSeen last;
        std::map<std::string, std::pair<float, float>> extremes; // by unit
        long writes = 0;
        long refused = 0;
        long callback = 0;
        std::int64_t without_module = 0; // microseconds
        std::optional<std::int64_t> since;
    };

    static std::optional<float> extreme(const Summary &summary, const char *unit, bool most) {
        const auto found = summary.extremes.find(unit);
        if (found == summary.extremes.end()) {
            return std::nullopt;
        }
        return most ? found->second.second : found->second.first;
    }
    static std::string last_text(const ChannelSeen &seen) {
        if (seen.presence == Presence::absent) {
            return "no module";
        }
        return seen.output && seen.range
                   ? shortest_text(*seen.output) + " " + range_unit(*seen.range)
                   : "-";
    }
    static std::string table_row(int slot, int channel, const Summary &summary) {
        const auto shown = [](const std::optional<float> &value) {
            return value ? shortest_text(*value) : std::string("-");
        };
        const std::string first =
            summary.first ? shortest_text(summary.first->first) + " " + summary.first->second : "-";
        char line[200];
        std::snprintf(
            line, sizeof line, "%4s %-3s %-10s %-10s %-8s %-8s %-8s %-8s %6ld %7ld %8ld %s",
            channel_or(slot, "-").c_str(), channel_or(channel, "-").c_str(), first.c_str(),
            last_text(summary.last).c_str(), shown(extreme(summary, "V", false)).c_str(),
            shown(extreme(summary, "V", true)).c_str(),
            shown(extreme(summary, "mA", false)).c_str(),
            shown(extreme(summary, "mA", true)).c_str(), summary.writes, summary.refused,
            summary.callback, (seconds_text(summary.without_module) + " s").c_str());
        return line;
    }
    static std::string json_object(int slot, int channel, const Summary &summary) {
        const auto value = [](const std::optional<float> &number) {
            return number_or(number, "null");
        };
        const std::string first = summary.first
                                      ? "{\"value\":" + shortest_text(summary.first->first) +
                                            ",\"unit\":\"" + summary.first->second + "\"}"
                                      : "null";
        const ChannelSeen &last = summary.last;
        const std::string last_value = last.output && last.range
                                           ? "{\"value\":" + shortest_text(*last.output) +
                                                 ",\"unit\":\"" + range_unit(*last.range) + "\"}"
                                           : "null";
        return "{\"slot\":" + channel_or(slot, "null") +
               ",\"channel\":" + channel_or(channel, "null") + ",\"first\":" + first +
               ",\"last\":" + last_value + ",\"module_at_end\":" +
               std::string(presence_text(last.presence, "true", "false", "null")) +
               ",\"min_V\":" + value(extreme(summary, "V", false)) +
               ",\"max_V\":" + value(extreme(summary, "V", true)) +
               ",\"min_mA\":" + value(extreme(summary, "mA", false)) +
               ",\"max_mA\":" + value(extreme(summary, "mA", true)) +
               ",\"writes\":" + std::to_string(summary.writes) +
               ",\"refused\":" + std::to_string(summary.refused) +
               ",\"callback\":" + std::to_string(summary.callback) +
               ",\"seconds_without_module\":" + seconds_text(summary.without_module) + "}";
    }

    std::ostream &out_;
    bool json_;
    std::map<std::pair<int, int>, Summary> channels_;
    std::int64_t latest_ = 0; // the last row's time
};

} // namespace

std::unique_ptr<Format> csv_format(std::ostream &out) {
    return std::make_unique<RowsAsText>(out, false);
}

std::unique_ptr<Format> json_lines_format(std::ostream &out) {
    return std::make_unique<RowsAsText>(out, true);
}

std::unique_ptr<Format> vcd_format(std::ostream &out) {
    return std::make_unique<VcdFormat>(out);
}

std::unique_ptr<Format> summary_format(std::ostream &out, bool json) {
    return std::make_unique<SummaryFormat>(out, json);
}

} // namespace zmod4710_sim
