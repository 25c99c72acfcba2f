// The rows of a timeline, as the replay of the traces makes them and each
// format writes them (timeline.cpp replays; timeline_formats.cpp and
// timeline_svg.cpp write).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace zmod4710_sim {

constexpr int kMostChannels = 8;

// Whether a channel is there: not known yet, no module (an empty slot,
// another kind of module, a module without that channel), or a module's.
enum class Presence : std::uint8_t { unknown, absent, present };

// What is known of one channel: nothing until a line tells it.
struct ChannelSeen {
    Presence presence = Presence::unknown;
    std::optional<float> output;
    std::optional<int> range;
    std::optional<float> power_on_value;
    std::optional<int> power_on_range;

    bool operator==(const ChannelSeen &other) const {
        return presence == other.presence && output == other.output && range == other.range &&
               power_on_value == other.power_on_value && power_on_range == other.power_on_range;
    }
    bool operator!=(const ChannelSeen &other) const { return !(*this == other); }
};

// Why a row is written: a channel's change; a call the module refused, or
// that the test's callback answered, or a drift given to the channel, which
// only a meter sees (events, no change); the channel as it stood when the
// time window opened, and as it stands at the end.
enum class Event : std::uint8_t { change, refused, callback, drift, start, end };
const char *event_name(Event event);

struct Row {
    std::int64_t utc;          // microseconds since 1970-01-01 UTC
    std::int64_t microseconds; // since the first line
    std::string_view time;     // as the trace wrote it
    long process;
    int slot;    // -1 for a call made on no slot
    int channel; // -1 for an event of the slot's, or of no slot's
    Event event;
    const ChannelSeen &seen;
    std::optional<int> mode; // the slot's
    // The mode of the module that holds the channel: none when none does.
    std::optional<int> channel_mode() const {
        return seen.presence == Presence::absent ? std::nullopt : mode;
    }
    std::string_view cause; // the call or change that made it; a refused call whole
};

class Format {
public:
    virtual ~Format() = default;
    // A format that names what it will write before writing it is given
    // every row first, in a pass of its own.
    virtual bool needs_first_pass() const { return false; }
    virtual void note(const Row &) {}
    virtual void begin() {}
    virtual void write(const Row &row) = 0;
    // A write that the module took, whether or not it changed the output.
    virtual void written(int /*slot*/, int /*channel*/) {}
    virtual void end() {}
    // Writes out what was made and kept: a row followed is shown at once.
    virtual void flush() {}
};

std::unique_ptr<Format> csv_format(std::ostream &out);
std::unique_ptr<Format> json_lines_format(std::ostream &out);
std::unique_ptr<Format> vcd_format(std::ostream &out);
std::unique_ptr<Format> summary_format(std::ostream &out, bool json);
std::unique_ptr<Format> svg_format(std::ostream &out);

} // namespace zmod4710_sim
