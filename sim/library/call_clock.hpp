// The clock that a call's time is read from: seconds since the library was
// loaded into the process, which never go back. On x86 systems other than
// Windows, the processor's time-stamp counter is read and turned into seconds
// at the rate measured against the system's steady clock, which is read again
// whenever a millisecond has passed since it last was: reading the steady clock
// at every call costs more than the rest of an in-memory call. Elsewhere it is
// the steady clock itself.
#pragma once

#include <cstdint>

namespace zmod4710_sim::library {

class CallClock {
public:
    // The time now; its caller keeps other threads out meanwhile.
    double now();

private:
    double steady_now() const;
    double from_counter(std::uint64_t count);

    double last_ = 0;           // never given less again
    std::uint64_t checked_ = 0; // the counter when the steady clock was last read
    double checked_at_ = 0;     // and what it read
    std::uint64_t rated_ = 0;   // the counter when the rate was last measured from
    double rated_at_ = 0;
    double seconds_per_count_ = 0; // 0: not measured yet
    std::uint64_t counts_between_checks_ = 0;
};

// The process's clock, under the process's lock.
CallClock &call_clock();

} // namespace zmod4710_sim::library
