// The timeline as a picture: each channel's output as steps over time, a panel
// for volts and one for milliamperes; below them a lane a channel, dark where
// a module holds it and grey where none does, with its faults marked (a red
// cross for a refused call, an orange ring for the callback's answer, a blue
// triangle for a drift given, which only a meter sees). A pixel
// column of a series keeps at most its least, most and last value, so that the
// picture's size follows its width, not the trace's length.
#include "backplane.hpp"
#include "timeline_rows.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>

namespace zmod4710_sim {

namespace {

constexpr int kLeft = 120;  // where the plots begin, after the labels
constexpr int kWidth = 800; // the plots' width, in pixel columns
constexpr int kRight = 150; // the legend's room
constexpr int kPanel = 220; // a panel's height
constexpr int kGap = 40;    // between panels, for their titles and the axis
constexpr int kLane = 14;   // a lane's height
constexpr int kTop = 40;    // the title's room

const char *const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                "#8c564b", "#e377c2", "#17becf", "#bcbd22"};

// A number on an axis, in as few digits as tell it.
std::string tick_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

std::string channel_label(int slot, int channel) {
    return channel < 0 ? "slot " + std::to_string(slot)
                       : "slot " + std::to_string(slot) + " CH " + std::to_string(channel);
}

// One channel's output in one unit, as a path of steps.
struct Series {
    std::string path;
    bool open = false;
    int column = 0;
    int pen = 0; // the height the path is at
    int least = 0;
    int most = 0;
    int last = 0;

    // The values of the column drawn, as an upright stroke from where the pen is.
    void close_column() {
        for (const int y : {least, most, last}) {
            if (y != pen) {
                path += "V" + std::to_string(y);
                pen = y;
            }
        }
    }
    void value(int x, int y) {
        if (!open) {
            path += "M" + std::to_string(x) + " " + std::to_string(y);
            open = true;
            column = x;
            pen = least = most = last = y;
            return;
        }
        if (x != column) {
            close_column();
            path += "H" + std::to_string(x);
            column = x;
            least = most = last = pen;
        }
        least = std::min(least, y);
        most = std::max(most, y);
        last = y;
    }
    void gap(int x) {
        if (open) {
            close_column();
            if (x != column) {
                path += "H" + std::to_string(x);
            }
            open = false;
        }
    }
};

// A channel's lane: where a module held it, and where none did.
struct Lane {
    std::string held;   // rectangles, as path
    std::string absent; // the same
    Presence presence = Presence::unknown;
    int since = 0;

    void to(Presence now, int x, int y) {
        if (now == presence) {
            return;
        }
        if (x > since && presence != Presence::unknown) {
            std::string &shape = presence == Presence::present ? held : absent;
            shape += "M" + std::to_string(since) + " " + std::to_string(y) + "h" +
                     std::to_string(x - since) + "v" + std::to_string(kLane - 4) + "h-" +
                     std::to_string(x - since) + "z";
        }
        presence = now;
        since = x;
    }
};

class SvgFormat : public Format {
public:
    explicit SvgFormat(std::ostream &out) : out_(out) {}
    bool needs_first_pass() const override { return true; }

    void note(const Row &row) override {
        if (!first_) {
            first_ = row.microseconds;
            first_time_ = std::string(row.time);
        }
        first_ = std::min(*first_, row.microseconds);
        last_ = std::max(last_, row.microseconds);
        if (row.slot < 0) {
            return;
        }
        lanes_.try_emplace({row.slot, row.channel});
        if (row.seen.range && row.seen.output) {
            const bool milliamperes = range_unit(*row.seen.range) == "mA";
            const RangeLimits limits = range_limits(*row.seen.range);
            Axis &axis = milliamperes ? milliamperes_ : volts_;
            axis.used = true;
            axis.low = std::min(axis.low, limits.low);
            axis.high = std::max(axis.high, limits.high);
            series_.try_emplace({row.slot, row.channel, milliamperes});
        }
    }

    void begin() override {
        int top = kTop;
        for (Axis *axis : {&volts_, &milliamperes_}) {
            if (axis->used) {
                axis->top = top + kGap / 2;
                top = axis->top + kPanel + kGap / 2;
            }
        }
        lanes_top_ = top + kGap / 2;
        int index = 0;
        for (auto &[where, lane] : lanes_) {
            lane_rows_[where] = lanes_top_ + kLane * index++;
        }
        height_ = lanes_top_ + kLane * index + kGap;
    }

    void write(const Row &row) override {
        const int x = column_of(row.microseconds);
        if (row.slot < 0) {
            return;
        }
        const int lane_y = lane_rows_[{row.slot, row.channel}] + 2;
        if (row.event == Event::refused || row.event == Event::callback ||
            row.event == Event::drift) {
            mark(row.event, x, lane_y + (kLane - 4) / 2);
        }
        if (row.channel < 0) {
            return;
        }
        lanes_[{row.slot, row.channel}].to(row.seen.presence, x, lane_y);
        for (const bool milliamperes : {false, true}) {
            const auto found = series_.find({row.slot, row.channel, milliamperes});
            if (found == series_.end()) {
                continue;
            }
            const ChannelSeen &seen = row.seen;
            if (seen.presence != Presence::absent && seen.output && seen.range &&
                (range_unit(*seen.range) == "mA") == milliamperes) {
                found->second.value(x,
                                    height_in(milliamperes ? milliamperes_ : volts_, *seen.output));
            } else {
                found->second.gap(x);
            }
        }
    }

    void end() override {
        const int right = kLeft + kWidth;
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kLeft + kWidth + kRight
             << "\" height=\"" << height_ << "\" viewBox=\"0 0 " << kLeft + kWidth + kRight << ' '
             << height_ << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
             << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
             << "<text x=\"" << kLeft << "\" y=\"22\" font-size=\"15\">zmod4710-sim timeline, "
             << "from " << first_time_ << "</text>\n";
        panel(volts_, "Output, V");
        panel(milliamperes_, "Output, mA");
        for (auto &[where, series] : series_) {
            series.gap(right);
            const auto &[slot, channel, milliamperes] = where;
            // A channel's colour is its number's; a slot's dashes, its own.
            const char *colour = kColours[static_cast<std::size_t>(channel)];
            out_ << "<path fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\" "
                 << dashes(slot) << "d=\"" << series.path << "\"/>\n";
            Axis &axis = milliamperes ? milliamperes_ : volts_;
            out_ << "<text x=\"" << right + 10 << "\" y=\"" << axis.top + 14 + 16 * (axis.legends++)
                 << "\" fill=\"" << colour << "\">" << channel_label(slot, channel) << "</text>\n";
        }
        lanes();
        time_axis();
        out_ << "</svg>\n";
    }

private:
    struct Axis {
        bool used = false;
        float low = 0;
        float high = 0;
        int top = 0;
        int legends = 0;
    };

    static std::string dashes(int slot) {
        return slot == 0 ? "" : "stroke-dasharray=\"" + std::to_string(2 + slot) + " 3\" ";
    }

    // The time the plots span: to the last row, and a fiftieth more, so that a
    // value written at the very end shows.
    std::int64_t shown_span() const {
        const std::int64_t span = last_ - first_.value_or(0);
        return span + std::max<std::int64_t>(1, span / 50);
    }

    int column_of(std::int64_t microseconds) const {
        const std::int64_t span = std::max<std::int64_t>(1, shown_span());
        return kLeft + static_cast<int>((microseconds - first_.value_or(0)) * kWidth / span);
    }
    static int height_in(const Axis &axis, float value) {
        const float share = (value - axis.low) / std::max(axis.high - axis.low, 1.0f);
        return axis.top + kPanel - static_cast<int>(std::lround(share * kPanel));
    }

    void mark(Event event, int x, int y) {
        if (!marked_.insert({x, y, event}).second) {
            return; // one mark of a kind a pixel
        }
        if (event == Event::drift) {
            drifts_ += "M" + std::to_string(x) + " " + std::to_string(y - 5) + "l5 9h-10z";
            return;
        }
        std::string &marks = event == Event::refused ? refused_ : answered_;
        marks += event == Event::refused
                     ? "M" + std::to_string(x - 4) + " " + std::to_string(y - 4) + "l8 8m0 -8l-8 8"
                     : "M" + std::to_string(x - 4) + " " + std::to_string(y) +
                           "a4 4 0 1 0 8 0a4 "
                           "4 0 1 0 -8 0";
    }

    void panel(const Axis &axis, const char *title) {
        if (!axis.used) {
            return;
        }
        out_ << "<text x=\"" << kLeft << "\" y=\"" << axis.top - 6 << "\" font-size=\"13\">"
             << title << "</text>\n"
             << "<rect x=\"" << kLeft << "\" y=\"" << axis.top << "\" width=\"" << kWidth
             << "\" height=\"" << kPanel << "\" fill=\"none\" stroke=\"#888\"/>\n";
        for (int tick = 0; tick <= 4; ++tick) {
            const float value = axis.low + (axis.high - axis.low) * static_cast<float>(tick) / 4;
            const int y = height_in(axis, value);
            out_ << "<path stroke=\"#ddd\" d=\"M" << kLeft << ' ' << y << 'h' << kWidth
                 << "\"/>\n<text x=\"" << kLeft - 8 << "\" y=\"" << y + 4
                 << "\" text-anchor=\"end\">" << tick_text(static_cast<double>(value))
                 << "</text>\n";
        }
    }

    void lanes() {
        const int right = kLeft + kWidth;
        out_ << "<text x=\"" << kLeft << "\" y=\"" << lanes_top_ - 6 << "\" font-size=\"13\">"
             << "Module (dark: held, grey: no module), refused calls (red x), callback's "
                "answers (orange o), drifts given (blue triangle)</text>\n";
        std::string held;
        std::string absent;
        for (auto &[where, lane] : lanes_) {
            const int y = lane_rows_[where];
            lane.to(Presence::unknown, right, y + 2);
            held += lane.held;
            absent += lane.absent;
            out_ << "<text x=\"" << kLeft - 8 << "\" y=\"" << y + kLane - 3
                 << "\" text-anchor=\"end\" font-size=\"11\">"
                 << channel_label(where.first, where.second) << "</text>\n";
        }
        out_ << "<path fill=\"#444\" d=\"" << held << "\"/>\n"
             << "<path fill=\"#ccc\" d=\"" << absent << "\"/>\n"
             << "<path fill=\"none\" stroke=\"#e00000\" stroke-width=\"2\" d=\"" << refused_
             << "\"/>\n"
             << "<path fill=\"none\" stroke=\"#ff8c00\" stroke-width=\"2\" d=\"" << answered_
             << "\"/>\n"
             << "<path fill=\"#1f5fd0\" d=\"" << drifts_ << "\"/>\n";
    }

    void time_axis() {
        const int y = height_ - kGap + 12;
        const std::int64_t span = shown_span();
        for (int tick = 0; tick <= 4; ++tick) {
            const int x = kLeft + kWidth * tick / 4;
            const double seconds =
                (static_cast<double>(first_.value_or(0)) + static_cast<double>(span) * tick / 4) /
                1e6;
            out_ << "<path stroke=\"#888\" d=\"M" << x << ' ' << y - 12 << "v6\"/>\n<text x=\"" << x
                 << "\" y=\"" << y + 4 << "\" text-anchor=\"middle\">" << tick_text(seconds)
                 << "</text>\n";
        }
        // The last line read: what the plots show after it still holds.
        const int end = column_of(last_);
        out_ << "<path stroke=\"#888\" stroke-dasharray=\"2 2\" d=\"M" << end << ' ' << kTop << 'V'
             << y - 12 << "\"/>\n<text x=\"" << end + 3 << "\" y=\"" << kTop + 10
             << "\" font-size=\"10\">end " << tick_text(static_cast<double>(last_) / 1e6)
             << "</text>\n";
        out_ << "<text x=\"" << kLeft + kWidth / 2 << "\" y=\"" << y + 22
             << "\" text-anchor=\"middle\">seconds from the first line</text>\n";
    }

    std::ostream &out_;
    std::optional<std::int64_t> first_;
    std::int64_t last_ = 0;
    std::string first_time_;
    Axis volts_;
    Axis milliamperes_;
    std::map<std::tuple<int, int, bool>, Series> series_;
    std::map<std::pair<int, int>, Lane> lanes_;
    std::map<std::pair<int, int>, int> lane_rows_;
    std::set<std::tuple<int, int, Event>> marked_;
    std::string refused_;
    std::string answered_;
    std::string drifts_;
    int lanes_top_ = 0;
    int height_ = 0;
};

} // namespace

std::unique_ptr<Format> svg_format(std::ostream &out) {
    return std::make_unique<SvgFormat>(out);
}

} // namespace zmod4710_sim
