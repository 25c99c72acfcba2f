// The calls of the module library that this process made, as the trace tells
// them and as zmod4710_sim_call_at gives them back: the newest
// ZMOD4710_SIM_HISTORY_SIZE, kept in memory set aside once, so that keeping a
// call needs no new memory. Its user keeps one call at a time.
#pragma once

#include "backplane.hpp"
#include "zmod4710_sim.h"

#include <cstddef>
#include <memory>
#include <string>

namespace zmod4710_sim {

// One call, with what it gave back besides its result.
struct CallRecord {
    enum class Given { nothing, calibration, version, date };

    Call call;
    int slot;    // -1 for a call made on no slot
    int channel; // -1 for a call made on no channel
    short range; // -1 where the call takes none
    short mode;  // SetPowerOnEnStatus's mode, else 0
    float value; // what WriteAO and WritePowerOn_AO write, else 0
    int result;
    bool refused_on_request;
    bool answered_by_callback;
    Given given;
    unsigned short gain;
    short offset;
    short version;
    double time; // when it was answered, on call_clock
};

// A call as it is made, before it is answered.
CallRecord call_made(Call call, int slot = -1, int channel = -1, short range = -1);

// "zmod4710_WriteAO(0, 2, 0, 3) = 7 (refused on request)": the call with its
// arguments, its result, what it gave back and a mark for a refusal asked for,
// or for an answer of the callback that zmod4710_sim_on_call set.
std::string call_text(const CallRecord &record);

// The call as zmod4710_sim_call_at gives it.
zmod4710_sim_call as_call(const CallRecord &record);

class CallHistory {
public:
    void keep(const CallRecord &record);
    std::size_t count() const { return count_; }
    // The call at index, oldest first; index < count().
    const CallRecord &at(std::size_t index) const;
    unsigned long dropped() const { return dropped_; }
    void clear();

private:
    std::unique_ptr<CallRecord[]> records_; // set aside at the first call kept
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    unsigned long dropped_ = 0;
};

} // namespace zmod4710_sim
