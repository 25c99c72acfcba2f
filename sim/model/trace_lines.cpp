#include "trace_lines.hpp"

#include "zmod4710_sim.h"

#include <charconv>
#include <chrono>
#include <cmath>

namespace zmod4710_sim {

namespace {

std::string slot_line(int slot, std::string_view rest) {
    return "! slot " + std::to_string(slot) + " " + std::string(rest);
}

std::string channel_line(int slot, int channel, const Channel &held) {
    return slot_line(slot, "channel " + std::to_string(channel) + " output " +
                               shortest_text(held.output) + " range " + std::to_string(held.range) +
                               " power-on " + shortest_text(held.power_on_value) + " range " +
                               std::to_string(held.power_on_range));
}

// Reads a line from left to right; any step that does not fit fails the rest.
class Cursor {
public:
    explicit Cursor(std::string_view text) : rest_(text) {}

    bool ok() const { return ok_; }
    bool at_end() const { return ok_ && rest_.empty(); }
    bool starts_with(std::string_view text) const {
        return ok_ && rest_.substr(0, text.size()) == text;
    }

    Cursor &expect(std::string_view text) {
        ok_ = starts_with(text);
        if (ok_) {
            rest_.remove_prefix(text.size());
        }
        return *this;
    }

    // Up to the next blank, or the end.
    std::string_view word() {
        const std::string_view found = rest_.substr(0, rest_.find(' '));
        ok_ = ok_ && !found.empty();
        rest_.remove_prefix(found.size());
        return found;
    }

    std::string_view up_to(char end) {
        const std::size_t at = rest_.find(end);
        ok_ = ok_ && at != std::string_view::npos;
        const std::string_view found = rest_.substr(0, ok_ ? at : 0);
        rest_.remove_prefix(found.size());
        return found;
    }

    template <class Number> Number number() {
        Number value{};
        const std::from_chars_result end =
            std::from_chars(rest_.data(), rest_.data() + rest_.size(), value);
        ok_ = ok_ && end.ec == std::errc();
        if (ok_) {
            rest_.remove_prefix(static_cast<std::size_t>(end.ptr - rest_.data()));
        }
        return value;
    }

    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
    bool ok_ = true;
};

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar, and
// back (Howard Hinnant's algorithms).
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

std::int64_t days_in_month(std::int64_t year, std::int64_t month) {
    constexpr std::int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

Civil civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned month_index = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const unsigned month = month_index < 10 ? month_index + 3 : month_index - 9;
    return {static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::int64_t floor_divide(std::int64_t value, std::int64_t by) {
    return value / by - (value % by < 0 ? 1 : 0);
}

constexpr std::size_t kUtcTextSize = 27;

// Digits of number, width of them, with leading zeros, at text.
char *put_digits(char *text, long long number, int width) {
    for (int at = width - 1; at >= 0; --at, number /= 10) {
        text[at] = static_cast<char>('0' + number % 10);
    }
    return text + width;
}

// "2026-12-09T15:04:05.123456Z" at text, which holds kUtcTextSize letters.
void put_utc_text(char *text, std::int64_t microseconds) {
    const std::int64_t day_length = 86400LL * 1000000;
    const std::int64_t days = floor_divide(microseconds, day_length);
    const std::int64_t of_day = microseconds - days * day_length;
    const Civil date = civil_from_days(days);
    const std::int64_t seconds = of_day / 1000000;
    const std::string_view form = date.year < 0 || date.year > 9999
                                      ? "0000-00-00T00:00:00.000000Z" // no clock of a desk's
                                      : "YYYY-MM-DDThh:mm:ss.uuuuuuZ";
    form.copy(text, kUtcTextSize);
    if (form[0] == '0') {
        return;
    }
    put_digits(text, date.year, 4);
    put_digits(text + 5, date.month, 2);
    put_digits(text + 8, date.day, 2);
    put_digits(text + 11, seconds / 3600, 2);
    put_digits(text + 14, seconds / 60 % 60, 2);
    put_digits(text + 17, seconds % 60, 2);
    put_digits(text + 20, of_day % 1000000, 6);
}

} // namespace

std::optional<std::int64_t> utc_microseconds_of(std::string_view time) {
    // Each field where utc_text puts it, in as many digits, and in its range.
    if (time.size() != kUtcTextSize || time[4] != '-' || time[7] != '-' || time[10] != 'T' ||
        time[13] != ':' || time[16] != ':' || time[19] != '.' || time[26] != 'Z') {
        return std::nullopt;
    }
    bool digits = true;
    const auto field = [time, &digits](std::size_t at, std::size_t width) {
        std::int64_t value = 0;
        for (std::size_t index = at; index < at + width; ++index) {
            const auto digit = static_cast<unsigned>(time[index] - '0');
            digits &= digit <= 9;
            value = value * 10 + static_cast<std::int64_t>(digit);
        }
        return value;
    };
    const std::int64_t year = field(0, 4);
    const std::int64_t month = field(5, 2);
    const std::int64_t day = field(8, 2);
    const std::int64_t hour = field(11, 2);
    const std::int64_t minute = field(14, 2);
    const std::int64_t second = field(17, 2);
    const std::int64_t microseconds = field(20, 6);
    if (!digits) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t days =
        days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return ((days * 24 + hour) * 60 + minute) * 60 * 1000000LL + second * 1000000LL + microseconds;
}

namespace {

// Text is appended to, a piece at a time, with no text of its own made for a
// number: a trace line is made at every call.
void append_number(std::string &text, long long number) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, number);
    text.append(digits, end.ptr);
}

void append_number(std::string &text, float number) {
    char digits[32];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, number);
    text.append(digits, end.ptr);
}

// The call's arguments, ", " between them.
void append_arguments(std::string &text, const CallRecord &record) {
    const auto next = [&text](auto number) {
        if (text.back() != '(') {
            text += ", ";
        }
        append_number(text, number);
    };
    switch (record.call) {
    case Call::init:
    case Call::get_firmware_version:
        next(static_cast<long long>(record.slot));
        break;
    case Call::write_ao:
    case Call::write_power_on_ao:
        next(static_cast<long long>(record.slot));
        next(static_cast<long long>(record.channel));
        next(static_cast<long long>(record.range));
        next(record.value);
        break;
    case Call::set_power_on_en_status:
        next(static_cast<long long>(record.slot));
        next(static_cast<long long>(record.mode));
        break;
    case Call::read_ao_gain_offset:
        next(static_cast<long long>(record.slot));
        next(static_cast<long long>(record.channel));
        next(static_cast<long long>(record.range));
        break;
    case Call::get_lib_date:
    case Call::get_lib_version:
    case Call::any:
        break;
    }
}

constexpr std::string_view kLibraryDate = ZMOD4710_SIM_LIB_DATE;
constexpr std::string_view kRefusedMark = " (refused on request)";
constexpr std::string_view kCallbackMark = " (answered by the callback)";

void append_given(std::string &text, const CallRecord &record) {
    switch (record.given) {
    case CallRecord::Given::calibration:
        text += ", gain ";
        append_number(text, static_cast<long long>(record.gain));
        text += ", offset ";
        append_number(text, static_cast<long long>(record.offset));
        break;
    case CallRecord::Given::version:
        text += ", version ";
        append_number(text, static_cast<long long>(record.version));
        break;
    case CallRecord::Given::date:
        text += ", date ";
        text += kLibraryDate;
        break;
    case CallRecord::Given::nothing:
        break;
    }
}

// What a call gave back, as append_given tells it, for the calls that give it.
void read_given(Cursor &at, CallRecord &record) {
    if (record.call == Call::read_ao_gain_offset && at.starts_with(", gain ")) {
        record.given = CallRecord::Given::calibration;
        record.gain = at.expect(", gain ").number<unsigned short>();
        record.offset = at.expect(", offset ").number<short>();
    } else if (record.call == Call::get_firmware_version && at.starts_with(", version ")) {
        record.given = CallRecord::Given::version;
        record.version = at.expect(", version ").number<short>();
    } else if (record.call == Call::get_lib_date && at.starts_with(", date ")) {
        record.given = CallRecord::Given::date;
        at.expect(", date ").expect(kLibraryDate);
    }
}

// "zmod4710_WriteAO(0, 2, 0, 3) = 0", then what it gave and its mark, as
// call_text tells them, and nothing more.
bool read_call(Cursor &at, CallRecord &record) {
    const std::optional<Call> call = call_named(at.up_to('('));
    if (!call || *call == Call::any) {
        return false;
    }
    record.call = *call;
    at.expect("(");
    switch (*call) {
    case Call::init:
    case Call::get_firmware_version:
        record.slot = at.number<int>();
        break;
    case Call::write_ao:
    case Call::write_power_on_ao:
        record.slot = at.number<int>();
        record.channel = at.expect(", ").number<int>();
        record.range = at.expect(", ").number<short>();
        record.value = at.expect(", ").number<float>();
        break;
    case Call::set_power_on_en_status:
        record.slot = at.number<int>();
        record.mode = at.expect(", ").number<short>();
        break;
    case Call::read_ao_gain_offset:
        record.slot = at.number<int>();
        record.channel = at.expect(", ").number<int>();
        record.range = at.expect(", ").number<short>();
        break;
    case Call::get_lib_date:
    case Call::get_lib_version:
    case Call::any:
        break;
    }
    record.result = at.expect(") = ").number<int>();
    if (record.result == 0 && !std::isfinite(record.value)) {
        return false; // a value no module takes, taken
    }
    read_given(at, record);
    if (at.starts_with(kRefusedMark)) {
        at.expect(kRefusedMark);
        record.refused_on_request = true;
    } else if (at.starts_with(kCallbackMark)) {
        at.expect(kCallbackMark);
        record.answered_by_callback = true;
    }
    return at.at_end();
}

// "slot 3 ...": a slot's module, empty, or one of its channels.
bool read_slot(Cursor &at, TraceLine &line) {
    line.slot = at.expect("slot ").number<int>();
    at.expect(" ");
    if (at.starts_with("channel ")) {
        line.kind = TraceLine::Kind::channel;
        line.channel = at.expect("channel ").number<int>();
        line.output = at.expect(" output ").number<float>();
        line.range = at.expect(" range ").number<int>();
        line.power_on_value = at.expect(" power-on ").number<float>();
        line.power_on_range = at.expect(" range ").number<int>();
        return at.at_end() && is_range_code(line.range) && is_range_code(line.power_on_range) &&
               std::isfinite(line.output) && std::isfinite(line.power_on_value);
    }
    line.kind = TraceLine::Kind::slot;
    const std::string_view name = at.word();
    if (name == "empty") {
        return at.at_end();
    }
    line.module = module_kind_named(std::string(name));
    if (line.module && is_analog_output_module(*line.module)) {
        line.mode = at.expect(" mode ").number<int>();
        if (line.mode != kPowerOnValue && line.mode != kRetentive) {
            return false;
        }
    }
    return line.module.has_value() && at.at_end();
}

constexpr std::string_view kTimeZero = "! time zero ";

// "drift 0 1 gain 2.5 offset -0.01": the channel and the drift it has from now on.
bool read_drift(Cursor &at, TraceLine &line) {
    line.slot = at.expect("drift ").number<int>();
    line.channel = at.expect(" ").number<int>();
    line.drift.gain_percent = at.expect(" gain ").number<float>();
    line.drift.offset = at.expect(" offset ").number<float>();
    return at.at_end() && is_possible_drift(line.drift);
}

// The length of a UTF-8 sequence by its first byte; 0 for a byte no sequence
// begins with.
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xc2) {
        return 0; // a byte within a sequence, or one that says too little
    }
    return lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : lead < 0xf5 ? 4 : 0;
}

// The character the sequence of length at text's start says, or nothing when
// it says none, or says one in more bytes than it needs.
std::optional<std::uint32_t> character_at(std::string_view text, std::size_t length) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::uint32_t value = length == 1 ? lead : lead & (0x7fu >> length);
    for (std::size_t next = 1; next < length; ++next) {
        const auto more = static_cast<unsigned char>(text[next]);
        if ((more & 0xc0) != 0x80) {
            return std::nullopt;
        }
        value = value << 6 | (more & 0x3f);
    }
    constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = value >= 0xd800 && value <= 0xdfff;
    return value < kLeast[length] || value > 0x10ffff || surrogate
               ? std::nullopt
               : std::optional<std::uint32_t>(value);
}

bool is_control(std::uint32_t character) {
    return character < 0x20 || (character >= 0x7f && character < 0xa0);
}

// Whether text is some valid UTF-8 without a control character: what a change
// tells, which every format of the timeline can write as it stands.
bool is_plain_text(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequence_length(static_cast<unsigned char>(text[at]));
        if (length == 0 || at + length > text.size()) {
            return false;
        }
        const std::optional<std::uint32_t> character = character_at(text.substr(at), length);
        if (!character || is_control(*character)) {
            return false;
        }
        at += length;
    }
    return !text.empty();
}

} // namespace

std::string shortest_text(float value) {
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

CallRecord call_made(Call call, int slot, int channel, short range) {
    CallRecord record;
    record.call = call;
    record.slot = slot;
    record.channel = channel;
    record.range = range;
    record.result = ZMOD4710_SIM_STATE_PROBLEM;
    return record;
}

std::int64_t utc_microseconds_now() {
    using namespace std::chrono;
    // The system clock counts from 1970-01-01 UTC, as time_t does.
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::string utc_text(std::int64_t microseconds) {
    char text[kUtcTextSize];
    put_utc_text(text, microseconds);
    return std::string(text, kUtcTextSize);
}

std::string call_text(const CallRecord &record) {
    std::string text;
    append_call_text(text, record);
    return text;
}

void append_call_text(std::string &text, const CallRecord &record) {
    text += "zmod4710_";
    text += call_name_text(record.call);
    text += '(';
    append_arguments(text, record);
    text += ") = ";
    append_number(text, static_cast<long long>(record.result));
    append_given(text, record);
    if (record.refused_on_request) {
        text += kRefusedMark;
    }
    if (record.answered_by_callback) {
        text += kCallbackMark;
    }
}

void append_traced_line(std::string &lines, std::int64_t microseconds, long process,
                        std::string_view text) {
    lines += utc_text(microseconds);
    lines += ' ';
    append_number(lines, static_cast<long long>(process));
    lines += ' ';
    lines += text;
    lines += '\n';
}

std::string told_time_zero(std::int64_t microseconds) {
    return std::string(kTimeZero) + utc_text(microseconds);
}

std::string told_insert(int slot, ModuleKind kind, int firmware) {
    return "! insert " + std::to_string(slot) + " " + module_name(kind) + " firmware " +
           std::to_string(firmware);
}

std::string told_remove(int slot) {
    return "! remove " + std::to_string(slot);
}

std::string told_reset() {
    return "! reset";
}

std::string told_calibrate(int slot, int channel, int range, const Calibration &calibration) {
    return "! calibrate " + std::to_string(slot) + " " + std::to_string(channel) + " " +
           std::to_string(range) + " gain " + std::to_string(calibration.gain) + " offset " +
           std::to_string(calibration.offset);
}

std::string told_drift(int slot, int channel, const Drift &drift) {
    return "! drift " + std::to_string(slot) + " " + std::to_string(channel) + " gain " +
           shortest_text(drift.gain_percent) + " offset " + shortest_text(drift.offset);
}

std::string told_refuse(const Refusal &refusal) {
    return "! refuse " +
           (refusal.call == Call::any ? "any" : "zmod4710_" + call_name(refusal.call)) +
           (refusal.slot ? " slot " + std::to_string(*refusal.slot) : "") +
           (refusal.channel ? " channel " + std::to_string(*refusal.channel) : "") + " result " +
           std::to_string(refusal.result) + " after " + std::to_string(refusal.after) + " times " +
           (refusal.times ? std::to_string(*refusal.times) : "always");
}

std::string told_clear_refusals(std::size_t count) {
    return "! clear refusals " + std::to_string(count);
}

std::string told_power_cycle() {
    return "! power cycle";
}

std::vector<std::string> told_slot(const Backplane &backplane, int slot) {
    const std::optional<Module> &module = backplane.slots[static_cast<std::size_t>(slot)];
    if (!module) {
        return {slot_line(slot, "empty")};
    }
    if (!is_analog_output_module(module->kind)) {
        return {slot_line(slot, module_name(module->kind))};
    }
    std::vector<std::string> lines{slot_line(slot, module_name(module->kind) + " mode " +
                                                       std::to_string(module->power_on_mode))};
    for (std::size_t channel = 0; channel < module->channels.size(); ++channel) {
        lines.push_back(channel_line(slot, static_cast<int>(channel), module->channels[channel]));
    }
    return lines;
}

std::vector<std::string> told_backplane(const Backplane &backplane) {
    std::vector<std::string> lines;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const std::vector<std::string> held = told_slot(backplane, slot);
        lines.insert(lines.end(), held.begin(), held.end());
    }
    return lines;
}

std::vector<std::string> told_with_slot(const std::string &done, const Backplane &after, int slot) {
    std::vector<std::string> lines{done};
    const std::vector<std::string> held = told_slot(after, slot);
    lines.insert(lines.end(), held.begin(), held.end());
    return lines;
}

std::vector<std::string> told_with_backplane(const std::string &done, const Backplane &after) {
    std::vector<std::string> lines{done};
    const std::vector<std::string> held = told_backplane(after);
    lines.insert(lines.end(), held.begin(), held.end());
    return lines;
}

std::optional<TraceLine> read_trace_line(std::string_view text) {
    TraceLine line;
    Cursor at(text);
    line.time = at.word();
    const std::optional<std::int64_t> microseconds = utc_microseconds_of(line.time);
    line.process = at.expect(" ").number<long>();
    at.expect(" ");
    if (!microseconds || !at.ok() || line.process < 0) {
        return std::nullopt;
    }
    line.microseconds = *microseconds;
    if (at.starts_with(kTimeZero)) {
        line.kind = TraceLine::Kind::time_zero;
        const std::optional<std::int64_t> zero = utc_microseconds_of(at.expect(kTimeZero).rest());
        line.zero = zero.value_or(0);
        return zero ? std::optional<TraceLine>(line) : std::nullopt;
    }
    if (at.starts_with("! slot ")) {
        at.expect("! ");
        return read_slot(at, line) ? std::optional<TraceLine>(line) : std::nullopt;
    }
    if (at.starts_with("! ")) {
        line.kind = TraceLine::Kind::change;
        line.change = at.expect("! ").rest();
        const bool read =
            is_plain_text(line.change) && (!at.starts_with("drift ") || read_drift(at, line));
        return read ? std::optional<TraceLine>(line) : std::nullopt;
    }
    return at.starts_with("zmod4710_") && read_call(at, line.record)
               ? std::optional<TraceLine>(line)
               : std::nullopt;
}

} // namespace zmod4710_sim
