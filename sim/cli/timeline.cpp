#include "timeline.hpp"

#include "backplane.hpp"
#include "one_line.hpp"
#include "timeline_rows.hpp"
#include "trace_file.hpp"
#include "trace_lines.hpp"
#include "zmod4710_sim.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <memory>
#include <thread>

namespace zmod4710_sim {

namespace {

// Bad lines told for each trace, before the rest are only counted.
constexpr int kMostTold = 5;
// How often a followed trace is looked at for what was appended.
constexpr std::chrono::milliseconds kFollowWait{50};

volatile std::sig_atomic_t stop_following = 0;

extern "C" void ask_to_stop_following(int) {
    stop_following = 1;
}

// "zmod4710_WriteAO": the function's name, made once for each call.
std::string_view cause_of(Call call) {
    static const std::array<std::string, 3> kCauses = {
        "zmod4710_" + call_name(Call::write_ao), "zmod4710_" + call_name(Call::write_power_on_ao),
        "zmod4710_" + call_name(Call::set_power_on_en_status)};
    return call == Call::write_ao            ? kCauses[0]
           : call == Call::write_power_on_ao ? kCauses[1]
                                             : kCauses[2];
}

const ChannelSeen kNoModule{Presence::absent, std::nullopt, std::nullopt, std::nullopt,
                            std::nullopt};

struct SlotSeen {
    std::optional<int> mode;
    std::array<ChannelSeen, kMostChannels> channels{};
    // Whether a row told the channel: one never told that turns out to have
    // no module is never shown.
    std::array<bool, kMostChannels> shown{};
};

// One trace, read a line at a time: its next good line waits as its head.
struct Source {
    std::string name; // as named; "-" for standard input
    std::unique_ptr<TraceReader> reader;
    std::string text;
    std::optional<TraceLine> head;
    long line_number = 0;
    long skipped = 0;
    std::string last_change; // what the lines of a slot were told after
};

std::unique_ptr<TraceReader> reader_of(const std::string &name, std::uint64_t limit) {
    if (name == kStandardInput) {
        return std::make_unique<TraceReader>(TraceReader::standard_input());
    }
    return std::make_unique<TraceReader>(name, limit);
}

// Where the line that rows are told at was written.
struct Moment {
    std::int64_t utc = 0;
    std::string time;
    long process = 0;
};

// Reads the traces merged by time and replays them into format, within the
// options' slot, channel and time window; each no further than its limit, when
// limits are given (the bytes a first pass read, so that the second reads the
// same lines, whatever was appended meanwhile).
class Replay {
public:
    Replay(const std::vector<std::string> &traces, const TimelineOptions &options, Format &format,
           std::ostream &out, std::ostream *err, bool first_pass,
           const std::vector<std::uint64_t> &limits = {})
        : options_(options), format_(format), out_(out), err_(err), first_pass_(first_pass) {
        // Set aside at once: a head's views into its text must not move.
        sources_.reserve(traces.size());
        for (std::size_t index = 0; index < traces.size(); ++index) {
            Source &source = sources_.emplace_back();
            source.name = traces[index];
            source.reader = reader_of(traces[index], index < limits.size() ? limits[index]
                                                                           : TraceReader::kNoLimit);
            if (options.follow) {
                source.reader->follow();
            }
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
        if (!first_pass_) {
            format_.begin();
        }
        take_all();
        while (options_.follow && stop_following == 0 && !past_window_) {
            format_.flush();
            if (!out_.flush()) {
                break;
            }
            std::this_thread::sleep_for(kFollowWait);
            for (Source &source : sources_) {
                read_again_when_cut_back(source);
                if (!source.head) {
                    advance(source);
                }
            }
            take_all();
        }
        finish();
        return told_skipped();
    }

private:
    void take_all() {
        for (Source *source = earliest(); source != nullptr && !past_window_; source = earliest()) {
            take_in_window(*source, *source->head);
            advance(*source);
        }
    }

    // A trace followed that is now shorter than what was read of it was cut
    // back: it is read again from its start, as tail -f does, and that is said
    // once. From its new end, the lines written between the cut and this look
    // would be lost; those read again that change nothing write no rows.
    void read_again_when_cut_back(Source &source) {
        const std::uint64_t size = source.reader->size_now();
        if (source.name == kStandardInput || size >= source.reader->consumed()) {
            return;
        }
        if (err_ != nullptr) {
            *err_ << "zmod4710-sim: " << one_line(source.name)
                  << ": cut back while followed; read again from its start\n";
        }
        source.reader->skip_to(0);
    }

    void finish() {
        if (opened_) {
            for (int slot = 0; slot < kSlotCount; ++slot) {
                for (int channel = 0; channel < kMostChannels; ++channel) {
                    if (shown(slot, channel)) {
                        emit(slot, channel, Event::end, seen_of(slot, channel),
                             "end of the traces");
                    }
                }
            }
        }
        if (!first_pass_) {
            format_.end();
        }
    }

    bool told_skipped() const {
        bool whole = true;
        for (const Source &source : sources_) {
            if (source.skipped > kMostTold && err_ != nullptr) {
                *err_ << "zmod4710-sim: " << one_line(source.name) << ": " << source.skipped
                      << " lines that are no trace lines skipped in all\n";
            }
            whole = whole && source.skipped == 0;
        }
        return whole;
    }

    void advance(Source &source) {
        source.head.reset();
        while (source.reader->next(source.text)) {
            ++source.line_number;
            source.head = read_trace_line(source.text);
            if (source.head) {
                return;
            }
            if (++source.skipped <= kMostTold && err_ != nullptr) {
                *err_ << "zmod4710-sim: " << one_line(source.name) << ":" << source.line_number
                      << ": not a trace line, skipped\n";
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

    std::int64_t bound(const TimeBound &time) const {
        return time.from_first_line ? *first_ + time.microseconds : time.microseconds;
    }

    // A line before the window changes what is known, and writes nothing; the
    // first in it writes the channels as they then stand; one after it ends
    // the reading.
    void take_in_window(Source &source, const TraceLine &line) {
        if (!first_) {
            first_ = line.microseconds;
        }
        if (options_.to && line.microseconds > bound(*options_.to)) {
            past_window_ = true;
            return;
        }
        const bool before = options_.from && line.microseconds < bound(*options_.from);
        if (!before && !opened_) {
            open_window(line);
        }
        at_.utc = line.microseconds;
        at_.time.assign(line.time); // in the memory it had: no new one a line
        at_.process = line.process;
        writing_ = !before;
        take(source, line);
    }

    void open_window(const TraceLine &line) {
        opened_ = true;
        if (!options_.from) {
            return;
        }
        const std::int64_t from = bound(*options_.from);
        at_ = Moment{from, utc_text(from), line.process};
        writing_ = true;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            for (int channel = 0; channel < kMostChannels; ++channel) {
                if (shown(slot, channel)) {
                    emit(slot, channel, Event::start, seen_of(slot, channel),
                         "start of the window");
                }
            }
        }
    }

    void take(Source &source, const TraceLine &line) {
        switch (line.kind) {
        case TraceLine::Kind::change:
            source.last_change = std::string(line.change);
            // A drift changes nothing the module holds: an event on its channel.
            if (is_slot(line.slot) && is_channel(line.channel)) {
                emit(line.slot, line.channel, Event::drift, seen_of(line.slot, line.channel),
                     line.change);
            }
            break;
        case TraceLine::Kind::call:
            take_call(line.record);
            break;
        case TraceLine::Kind::slot:
            take_slot(line, source.last_change);
            break;
        case TraceLine::Kind::channel:
            if (is_slot(line.slot) && is_channel(line.channel)) {
                change(line.slot, line.channel,
                       ChannelSeen{Presence::present, line.output, line.range, line.power_on_value,
                                   line.power_on_range},
                       source.last_change);
            }
            break;
        case TraceLine::Kind::time_zero:
            break; // what the history's times count from: no change
        }
    }

    static bool is_slot(int slot) { return slot >= 0 && slot < kSlotCount; }
    static bool is_channel(int channel) { return channel >= 0 && channel < kMostChannels; }

    // A call the callback answered or the module refused is an event on its
    // channel, or its slot; one refused for want of a module tells that no
    // module is there. A call taken changes what it wrote.
    void take_call(const CallRecord &call) {
        const int slot = is_slot(call.slot) ? call.slot : -1;
        const int channel = slot >= 0 && is_channel(call.channel) ? call.channel : -1;
        if (call.result != ZMOD4710_SIM_OK) {
            take_refusal(call, slot, channel);
        } else if (slot >= 0 && call.call == Call::set_power_on_en_status) {
            set_mode(slot, call.mode, cause_of(call.call));
        } else if (channel >= 0) {
            take_write(call, slot, channel);
        }
    }

    void take_refusal(const CallRecord &call, int slot, int channel) {
        if (slot >= 0 && call.result == ZMOD4710_SIM_NO_MODULE && !call.answered_by_callback) {
            for (int each = 0; each < kMostChannels; ++each) {
                change(slot, each, kNoModule, "no module");
            }
        }
        static const ChannelSeen kNothing;
        emit(slot, channel, call.answered_by_callback ? Event::callback : Event::refused,
             channel >= 0 ? seen_of(slot, channel) : kNothing, call_text(call));
    }

    void take_write(const CallRecord &call, int slot, int channel) {
        const bool output = call.call == Call::write_ao;
        if ((!output && call.call != Call::write_power_on_ao) || !is_range_code(call.range) ||
            !std::isfinite(call.value)) {
            return;
        }
        ChannelSeen seen = seen_of(slot, channel);
        const float value = clamp_to_range(call.range, call.value);
        seen.presence = Presence::present;
        (output ? seen.output : seen.power_on_value) = value;
        (output ? seen.range : seen.power_on_range) = call.range;
        if (output && writing_ && wanted(slot, channel)) {
            format_.written(slot, channel);
        }
        change(slot, channel, seen, cause_of(call.call));
    }

    // A slot's module, and its mode: a channel it does not have (all of them,
    // in an empty slot or another kind of module) has no module; those it has
    // are told by the lines that follow.
    void take_slot(const TraceLine &line, const std::string &cause) {
        if (!is_slot(line.slot)) {
            return;
        }
        const bool drives = line.module && is_analog_output_module(*line.module);
        if (!drives) {
            slots_[static_cast<std::size_t>(line.slot)].mode.reset();
        }
        for (int channel = drives ? channel_count(*line.module) : 0; channel < kMostChannels;
             ++channel) {
            change(line.slot, channel, kNoModule, cause);
        }
        if (drives) {
            set_mode(line.slot, line.mode, cause);
        }
    }

    void set_mode(int slot_number, int mode, std::string_view cause) {
        SlotSeen &slot = slots_[static_cast<std::size_t>(slot_number)];
        if (slot.mode == mode) {
            return;
        }
        slot.mode = mode;
        for (int channel = 0; channel < kMostChannels; ++channel) {
            const ChannelSeen &seen = slot.channels[static_cast<std::size_t>(channel)];
            if (shown(slot_number, channel) && seen.presence != Presence::absent) {
                emit(slot_number, channel, Event::change, seen, cause);
            }
        }
    }

    ChannelSeen &seen_of(int slot, int channel) {
        return slots_[static_cast<std::size_t>(slot)].channels[static_cast<std::size_t>(channel)];
    }

    bool &shown(int slot, int channel) {
        return slots_[static_cast<std::size_t>(slot)].shown[static_cast<std::size_t>(channel)];
    }

    // A channel never shown that turns out to have no module is not shown now:
    // only what a reader saw before changes.
    void change(int slot, int channel, const ChannelSeen &now, std::string_view cause) {
        ChannelSeen &seen = seen_of(slot, channel);
        if (seen == now) {
            return;
        }
        seen = now;
        if (shown(slot, channel) || now.presence != Presence::absent) {
            shown(slot, channel) = true;
            emit(slot, channel, Event::change, now, cause);
        }
    }

    bool wanted(int slot, int channel) const {
        return (!options_.slot || *options_.slot == slot) &&
               (!options_.channel || *options_.channel == channel);
    }

    void emit(int slot, int channel, Event event, const ChannelSeen &seen, std::string_view cause) {
        if (!writing_ || !wanted(slot, channel)) {
            return;
        }
        const Row row{at_.utc,
                      at_.utc - *first_,
                      at_.time,
                      at_.process,
                      slot,
                      channel,
                      event,
                      seen,
                      slot >= 0 ? slots_[static_cast<std::size_t>(slot)].mode : std::nullopt,
                      cause};
        if (first_pass_) {
            format_.note(row);
        } else {
            format_.write(row);
        }
    }

    const TimelineOptions &options_;
    Format &format_;
    std::ostream &out_;
    std::ostream *err_;
    bool first_pass_;
    std::vector<Source> sources_;
    std::array<SlotSeen, kSlotCount> slots_{};
    std::optional<std::int64_t> first_;
    Moment at_;
    bool writing_ = false;
    bool opened_ = false;
    bool past_window_ = false;
};

std::unique_ptr<Format> format_for(const TimelineOptions &options, std::ostream &out) {
    switch (options.format) {
    case TimelineFormat::vcd:
        return vcd_format(out);
    case TimelineFormat::jsonl:
        return json_lines_format(out);
    case TimelineFormat::svg:
        return svg_format(out);
    case TimelineFormat::summary:
        return summary_format(out, options.json);
    case TimelineFormat::csv:
        break;
    }
    return csv_format(out);
}

} // namespace

bool write_timeline(const std::vector<std::string> &traces, const TimelineOptions &options,
                    std::ostream &out, std::ostream &err) {
    const std::unique_ptr<Format> writer = format_for(options, out);
    if (writer->needs_first_pass()) {
        Replay noting(traces, options, *writer, out, &err, true);
        const bool whole = noting.run();
        Replay(traces, options, *writer, out, nullptr, false, noting.consumed()).run();
        return whole;
    }
    if (options.follow) {
        stop_following = 0;
        std::signal(SIGINT, ask_to_stop_following);
        std::signal(SIGTERM, ask_to_stop_following);
    }
    return Replay(traces, options, *writer, out, &err, false).run();
}

std::optional<TimeBound> time_bound(const std::string &text) {
    if (const std::optional<std::int64_t> utc = utc_microseconds_of(text)) {
        return TimeBound{false, *utc};
    }
    double seconds = 0;
    const char *end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, seconds);
    if (read.ec != std::errc() || read.ptr != end || !std::isfinite(seconds) || seconds < 0 ||
        seconds > 1e12) {
        return std::nullopt;
    }
    return TimeBound{true, std::llround(seconds * 1e6)};
}

} // namespace zmod4710_sim
