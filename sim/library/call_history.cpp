#include "call_history.hpp"

#include "trace_lines.hpp"

namespace zmod4710_sim {

namespace {

constexpr std::size_t kHistorySize = ZMOD4710_SIM_HISTORY_SIZE;

std::string arguments_of(const CallRecord &record) {
    switch (record.call) {
    case Call::init:
    case Call::get_firmware_version:
        return std::to_string(record.slot);
    case Call::write_ao:
    case Call::write_power_on_ao:
        return std::to_string(record.slot) + ", " + std::to_string(record.channel) + ", " +
               std::to_string(record.range) + ", " + shortest_text(record.value);
    case Call::set_power_on_en_status:
        return std::to_string(record.slot) + ", " + std::to_string(record.mode);
    case Call::read_ao_gain_offset:
        return std::to_string(record.slot) + ", " + std::to_string(record.channel) + ", " +
               std::to_string(record.range);
    case Call::get_lib_date:
    case Call::get_lib_version:
    case Call::any:
        break;
    }
    return "";
}

std::string given_by(const CallRecord &record) {
    switch (record.given) {
    case CallRecord::Given::calibration:
        return ", gain " + std::to_string(record.gain) + ", offset " +
               std::to_string(record.offset);
    case CallRecord::Given::version:
        return ", version " + std::to_string(record.version);
    case CallRecord::Given::date:
        return std::string(", date ") + ZMOD4710_SIM_LIB_DATE;
    case CallRecord::Given::nothing:
        break;
    }
    return "";
}

} // namespace

CallRecord call_made(Call call, int slot, int channel, short range) {
    return CallRecord{call,
                      slot,
                      channel,
                      range,
                      0,
                      0.0f,
                      ZMOD4710_SIM_STATE_PROBLEM,
                      false,
                      false,
                      CallRecord::Given::nothing,
                      0,
                      0,
                      0,
                      0.0};
}

std::string call_text(const CallRecord &record) {
    return "zmod4710_" + call_name(record.call) + "(" + arguments_of(record) +
           ") = " + std::to_string(record.result) + given_by(record) +
           (record.refused_on_request ? " (refused on request)" : "") +
           (record.answered_by_callback ? " (answered by the callback)" : "");
}

zmod4710_sim_call as_call(const CallRecord &record) {
    zmod4710_sim_call call{};
    call.name = call_name_text(record.call);
    call.slot = record.slot;
    call.channel = record.channel;
    call.range = record.range;
    call.mode = record.mode;
    call.value = record.value;
    call.result = record.result;
    call.refused_on_request = record.refused_on_request ? 1 : 0;
    call.answered_by_callback = record.answered_by_callback ? 1 : 0;
    call.time = record.time;
    return call;
}

void CallHistory::keep(const CallRecord &record) {
    if (!records_) {
        records_ = std::make_unique<CallRecord[]>(kHistorySize);
    }
    if (count_ == kHistorySize) {
        records_[first_] = record;
        first_ = (first_ + 1) % kHistorySize;
        ++dropped_;
        return;
    }
    records_[(first_ + count_) % kHistorySize] = record;
    ++count_;
}

const CallRecord &CallHistory::at(std::size_t index) const {
    return records_[(first_ + index) % kHistorySize];
}

void CallHistory::clear() {
    first_ = 0;
    count_ = 0;
    dropped_ = 0;
}

} // namespace zmod4710_sim
