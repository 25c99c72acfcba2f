#include "call_history.hpp"

namespace zmod4710_sim {

namespace {

constexpr std::size_t kHistorySize = ZMOD4710_SIM_HISTORY_SIZE;

} // namespace

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
