#include "watch_view.hpp"

#include "backplane_report.hpp"
#include "state_error.hpp"
#include "state_file.hpp"
#include "trace_file.hpp"

#include <algorithm>
#include <cmath>
#include <deque>

namespace zmod4710_sim {

namespace {

constexpr int kBarWidth = 20;

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

std::string empty_slots(const Backplane &backplane) {
    std::string slots;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!backplane.slots[static_cast<std::size_t>(slot)]) {
            slots += (slots.empty() ? "" : ", ") + std::to_string(slot);
        }
    }
    return slots.empty() ? "" : "Empty slots: " + slots;
}

std::string refusals_text(const std::vector<Refusal> &refusals) {
    std::string text;
    for (const Refusal &refusal : refusals) {
        text += (text.empty() ? "" : "; ") + describe_refusal(refusal);
    }
    return text.empty() ? "none" : text;
}

// The trace's last lines, read through once: memory stays that of the lines kept.
std::vector<std::string> last_lines(const std::filesystem::path &trace) {
    std::deque<std::string> kept;
    try {
        TraceReader reader(trace);
        for (std::string line; reader.next(line);) {
            kept.push_back(line);
            if (kept.size() > kLastCalls) {
                kept.pop_front();
            }
        }
    } catch (const StateError &error) {
        return {std::string("(the trace cannot be read: ") + error.what() + ")"};
    }
    return {kept.begin(), kept.end()};
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

} // namespace

Watched look(const std::filesystem::path &state, const std::filesystem::path &trace) {
    Watched watched;
    try {
        watched.backplane = StateFile(state).load();
    } catch (const StateError &error) {
        watched.problem = error.what();
    }
    if (!trace.empty()) {
        watched.last_calls = last_lines(trace);
    }
    return watched;
}

View view_of(const Watched &watched, const std::filesystem::path &state,
             const std::filesystem::path &trace) {
    View view;
    // The modules' lines must be shown whole; the others may be cut.
    const auto add = [&view](std::string line, bool whole) {
        if (whole) {
            view.width = std::max(view.width, line.size());
        }
        view.lines.push_back(std::move(line));
    };
    add("zmod4710-sim watch (q: quit): " + state.string(), false);
    add("", false);
    if (!watched.backplane) {
        add("The state cannot be read:", true);
        add("  " + watched.problem, false);
        add("Waiting for one that can.", true);
    } else {
        const Backplane &backplane = *watched.backplane;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const std::optional<Module> &module = backplane.slots[static_cast<std::size_t>(slot)];
            if (!module) {
                continue;
            }
            add("Slot " + std::to_string(slot) + ": " + describe_module_line(*module), true);
            for (std::size_t channel = 0; channel < module->channels.size(); ++channel) {
                add(channel_row(channel, module->channels[channel]), true);
            }
        }
        if (const std::string empty = empty_slots(backplane); !empty.empty()) {
            add(empty, true);
        }
        add("Refusals pending: " + refusals_text(backplane.refusals), false);
    }
    if (!trace.empty()) {
        add("", false);
        add("Last calls (" + trace.filename().string() + "):", false);
        for (const std::string &call : watched.last_calls) {
            add("  " + call, false);
        }
    }
    return view;
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
