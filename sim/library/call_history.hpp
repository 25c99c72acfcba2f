// The calls of the module library that this process made, as
// zmod4710_sim_call_at gives them back: the newest
// ZMOD4710_SIM_HISTORY_SIZE, kept in memory set aside once, so that keeping a
// call needs no new memory. Its user keeps one call at a time.
#pragma once

#include "trace_lines.hpp"
#include "zmod4710_sim.h"

#include <cstddef>
#include <memory>

namespace zmod4710_sim {

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
