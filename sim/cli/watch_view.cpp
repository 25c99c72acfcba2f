#include "watch_view.hpp"

#include "backplane_report.hpp"
#include "state_error.hpp"
#include "state_file.hpp"
#include "trace_file.hpp"
#include "trace_lines.hpp"

#include <algorithm>
#include <cmath>
#include <deque>

namespace zmod4710_sim {

namespace {

constexpr int kBarWidth = 20;
constexpr std::size_t kMostChannelsShown = 8;

// " 12.000 mA"
std::string value_in(int range, float value) {
    return formatted("%7.3f %-2s", static_cast<double>(value), range_unit(range).c_str());
}

// "[#####               ]": how far value lies across its range.
std::string bar(int range, float value) {
    const RangeLimits limits = range_limits(range);
    const float share = (value - limits.low) / (limits.high - limits.low);
    const auto filled = static_cast<int>(
        std::lround(std::clamp(share, 0.0f, 1.0f) * static_cast<float>(kBarWidth)));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "]";
}

std::string mode_text(std::int16_t mode) {
    return "power-on mode " + std::to_string(mode) + " (" + power_on_mode_name(mode) + ")";
}

// "12.000 mA (4 ~ 20mA)"
std::string plain_value_in(int range, float value) {
    return formatted("%.3f %s (%s)", static_cast<double>(value), range_unit(range).c_str(),
                     range_name(range).c_str());
}

std::string channel_text(const Channel &channel) {
    return plain_value_in(channel.range, channel.output) + ", power-on " +
           plain_value_in(channel.power_on_range, channel.power_on_value);
}

std::string channel_row(std::size_t index, const Channel &channel) {
    return formatted("  CH %zu %s %s %-9s power-on %s %s", index,
                     value_in(channel.range, channel.output).c_str(),
                     bar(channel.range, channel.output).c_str(), range_name(channel.range).c_str(),
                     value_in(channel.power_on_range, channel.power_on_value).c_str(),
                     range_name(channel.power_on_range).c_str());
}

std::string refusals_text(const std::vector<Refusal> &refusals) {
    std::string text;
    for (const Refusal &refusal : refusals) {
        text += (text.empty() ? "" : "; ") + describe_refusal(refusal);
    }
    return text.empty() ? "none" : text;
}

bool same_outputs(const Channel &a, const Channel &b) {
    return a.range == b.range && a.output == b.output && a.power_on_range == b.power_on_range &&
           a.power_on_value == b.power_on_value;
}

bool same_module(const std::optional<Module> &a, const std::optional<Module> &b) {
    return a.has_value() == b.has_value() &&
           (!a ||
            (a->kind == b->kind && a->insertion == b->insertion && a->firmware == b->firmware));
}

// A slot's changes: the module, its mode, and each channel that changed.
void slot_changes(int slot, const std::optional<Module> *before, const std::optional<Module> &now,
                  std::vector<std::string> &lines) {
    const std::string named = "slot " + std::to_string(slot);
    const bool new_module = before == nullptr || !same_module(*before, now);
    if (new_module) {
        if (now || before != nullptr) {
            lines.push_back(named + ": " + (now ? describe_module_line(*now) : "empty"));
        }
    } else if (now && (*before)->power_on_mode != now->power_on_mode) {
        lines.push_back(named + ": " + mode_text(now->power_on_mode));
    }
    if (!now || !is_analog_output_module(now->kind)) {
        return;
    }
    for (std::size_t channel = 0; channel < now->channels.size(); ++channel) {
        if (new_module || !same_outputs((*before)->channels[channel], now->channels[channel])) {
            lines.push_back(named + " CH " + std::to_string(channel) + ": " +
                            channel_text(now->channels[channel]));
        }
    }
}

// "  Module      CH0 ...      CH7": the grid's columns, 9 letters a channel.
std::string grid_header() {
    std::string header = "  Module";
    for (std::size_t channel = 0; channel < kMostChannelsShown; ++channel) {
        header += formatted("      CH%zu", channel);
    }
    return header;
}

// The refusals that may refuse a call on slot: its own, and any slot's.
std::vector<Refusal> refusals_of(const std::vector<Refusal> &refusals, int slot) {
    std::vector<Refusal> found;
    for (const Refusal &refusal : refusals) {
        if (!refusal.slot || *refusal.slot == slot) {
            found.push_back(refusal);
        }
    }
    return found;
}

// ">0 4710   12.00mA    0.00V  ...": the cursor, the slot, its kind, and each
// channel's output; "-" for a channel no module has.
std::string grid_row(const Backplane &backplane, int slot, bool cursor) {
    const std::optional<Module> &module = backplane.slots[static_cast<std::size_t>(slot)];
    const char *kind = !module                              ? "----"
                       : module->kind == ModuleKind::zm4710 ? "4710"
                       : module->kind == ModuleKind::zm4704 ? "4704"
                                                            : "othr";
    const bool refused = !refusals_of(backplane.refusals, slot).empty();
    std::string row = formatted("%c%d %s%c", cursor ? '>' : ' ', slot, kind, refused ? '!' : ' ');
    const std::size_t channels =
        module && is_analog_output_module(module->kind) ? module->channels.size() : 0;
    for (std::size_t channel = 0; channel < kMostChannelsShown; ++channel) {
        if (channel < channels) {
            const Channel &held = module->channels[channel];
            row += formatted(" %6.2f%-2s", static_cast<double>(held.output),
                             range_unit(held.range).c_str());
        } else {
            row += "        -";
        }
    }
    return row;
}

// text in lines of at most width letters, broken between words; nothing when
// a word is wider.
std::optional<std::vector<std::string>> wrapped(const std::string &text, std::size_t width) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        if (word.size() > width) {
            return std::nullopt;
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TraceTail::TraceTail(std::filesystem::path trace) : trace_(std::move(trace)) {}

void TraceTail::read_near_end(std::unique_ptr<TraceReader> reader) {
    reader_ = std::move(reader);
    reader_->follow();
    for (std::deque<std::string> &lines : lines_) {
        lines.clear();
    }
    pending_.reset();
    const std::uint64_t size = reader_->size_now();
    if (size > kEnd) {
        reader_->skip_to(size - kEnd);
        std::string partial;
        reader_->next(partial); // begun before the place read from
    }
}

void TraceTail::look() {
    try {
        // The name opened anew: another file under it is read anew.
        std::unique_ptr<TraceReader> named = std::make_unique<TraceReader>(trace_);
        const bool replaced = reader_ == nullptr || named->identity() != reader_->identity();
        if (replaced || reader_->size_now() < reader_->consumed()) {
            read_near_end(std::move(named));
        }
        problem_.clear();
        for (std::string line; reader_->next(line);) {
            keep(line);
        }
        settle();
    } catch (const StateError &error) {
        reader_.reset();
        problem_ = std::string("(the trace cannot be read: ") + error.what() + ")";
    }
}

// A call goes to its slot's lines, and a call on no slot to every slot's. A
// change goes to the slots whose lines follow it (what each holds after it,
// which the view shows already); with none, to the slot it names (a
// calibration, a refusal of one slot's calls), else to every slot.
void TraceTail::keep(const std::string &line) {
    const std::optional<TraceLine> read = read_trace_line(line);
    if (!read) {
        return;
    }
    if (read->kind == TraceLine::Kind::slot || read->kind == TraceLine::Kind::channel) {
        if (pending_ && read->slot >= 0 && read->slot < kSlotCount) {
            add_to(read->slot, *pending_);
            pending_followed_ = true;
        }
        return;
    }
    settle();
    if (read->kind == TraceLine::Kind::call) {
        add_to(read->record.slot, line);
    } else if (read->kind == TraceLine::Kind::change) {
        pending_ = line;
        pending_followed_ = false;
    }
}

void TraceTail::settle() {
    if (pending_ && !pending_followed_) {
        add_to(slot_named(*pending_), *pending_);
    }
    pending_.reset();
}

void TraceTail::add_to(int slot, const std::string &line) {
    for (int each = 0; each < kSlotCount; ++each) {
        std::deque<std::string> &kept = lines_[static_cast<std::size_t>(each)];
        const bool to_this = slot < 0 || slot >= kSlotCount || slot == each;
        if (to_this && (kept.empty() || kept.back() != line)) {
            kept.push_back(line);
            if (kept.size() > kLastCalls) {
                kept.pop_front();
            }
        }
    }
}

// The slot a change's line names: "! calibrate 3 ...", "! drift 3 ...",
// "! refuse ... slot 3 ..."; -1 for none.
int TraceTail::slot_named(const std::string &line) {
    constexpr std::string_view kSlot = " slot ";
    const std::string_view told = std::string_view(line).substr(line.find(" ! ") + 3);
    std::size_t at = std::string_view::npos;
    if (const std::size_t first = told.find(' ');
        told.substr(0, first) == "calibrate" || told.substr(0, first) == "drift") {
        at = first + 1;
    } else if (const std::size_t slot = told.find(kSlot); slot != std::string_view::npos) {
        at = slot + kSlot.size();
    }
    const char digit = at < told.size() ? told[at] : ' ';
    return digit >= '0' && digit < '0' + kSlotCount ? digit - '0' : -1;
}

std::vector<std::string> TraceTail::lines_of(int slot) const {
    if (!problem_.empty()) {
        return {problem_};
    }
    const std::deque<std::string> &kept = lines_[static_cast<std::size_t>(slot)];
    return {kept.begin(), kept.end()};
}

Watched look(const std::filesystem::path &state, TraceTail *tail) {
    Watched watched;
    try {
        watched.backplane = StateFile(state).load();
    } catch (const StateError &error) {
        watched.problem = error.what();
    }
    if (tail != nullptr) {
        tail->look();
        for (int slot = 0; slot < kSlotCount; ++slot) {
            watched.last_calls[static_cast<std::size_t>(slot)] = tail->lines_of(slot);
        }
    }
    return watched;
}

View view_of(const Watched &watched, const std::filesystem::path &state, bool traced, int cursor,
             int rows) {
    View view;
    const auto add = [&view](std::string line) { view.lines.push_back(std::move(line)); };
    add("zmod4710-sim watch  0-7, arrows: slot  q: quit  " + state.string());
    if (!watched.backplane) {
        add("");
        add("The state cannot be read:");
        add("  " + watched.problem);
        add("Waiting for one that can.");
        return view;
    }
    const Backplane &backplane = *watched.backplane;
    add(grid_header());
    for (int slot = 0; slot < kSlotCount; ++slot) {
        add(grid_row(backplane, slot, slot == cursor));
    }
    const std::optional<Module> &module = backplane.slots[static_cast<std::size_t>(cursor)];
    const std::string named = "Slot " + std::to_string(cursor) + ": ";
    add(named + (module ? describe_module_line(*module) : "empty"));
    if (module && is_analog_output_module(module->kind)) {
        for (std::size_t channel = 0; channel < module->channels.size(); ++channel) {
            add(channel_row(channel, module->channels[channel]));
        }
    }
    add("Refusals pending: " + refusals_text(refusals_of(backplane.refusals, cursor)));
    if (traced) {
        const std::vector<std::string> &calls =
            watched.last_calls[static_cast<std::size_t>(cursor)];
        const auto room =
            static_cast<std::size_t>(std::max(0, rows - 1 - static_cast<int>(view.lines.size())));
        add("Last calls of slot " + std::to_string(cursor) + ":");
        for (std::size_t at = calls.size() - std::min(room, calls.size()); at < calls.size();
             ++at) {
            add("  " + calls[at]);
        }
    }
    return view;
}

std::vector<std::string> too_small(int columns, int rows) {
    const std::string size = std::to_string(columns) + "x" + std::to_string(rows);
    const std::string least = std::to_string(kLeastColumns) + "x" + std::to_string(kLeastRows);
    // The longest that fits, in words that wrap at the terminal's width.
    std::string longest = "The terminal is too small (";
    longest.append(size).append("): the view needs ").append(least);
    longest.append(". Make it larger, or press q.");
    for (const std::string &message : std::vector<std::string>{
             longest, "Too small: needs " + least + ". q: quit", "Too small: " + least, "Small"}) {
        std::optional<std::vector<std::string>> lines =
            wrapped(message, static_cast<std::size_t>(columns));
        if (lines && lines->size() <= static_cast<std::size_t>(rows)) {
            return *lines;
        }
    }
    return {};
}

std::vector<std::string> change_lines(const Watched *before, const Watched &now) {
    std::vector<std::string> lines;
    const bool could_read = before != nullptr && before->backplane;
    if (!now.backplane) {
        if (before == nullptr || before->problem != now.problem) {
            lines.push_back("the state cannot be read: " + now.problem);
        }
        return lines;
    }
    if (before != nullptr && !before->backplane) {
        lines.push_back("the state can be read again");
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        slot_changes(slot, could_read ? &before->backplane->slots[index] : nullptr,
                     now.backplane->slots[index], lines);
    }
    if (!could_read || !(before->backplane->refusals == now.backplane->refusals)) {
        lines.push_back("refusals pending: " + refusals_text(now.backplane->refusals));
    }
    return lines;
}

} // namespace zmod4710_sim
