// The clock a call's time is read from: the system's steady clock, counted
// from the library's time zero (when it was loaded into the process), so that
// it never goes back; and the UTC of that zero, read from the system's clock
// at the same moment. A call's time in the history and its line in the trace
// are so one instant: the line's time is the zero's UTC plus the call's time,
// to the microsecond below.
#pragma once

#include <cstdint>

namespace zmod4710_sim::library {

struct CallTime {
    double seconds;                // since the time zero
    std::int64_t utc_microseconds; // the same instant, since 1970-01-01 UTC
};

CallTime call_time_now();

// The time zero in microseconds since 1970-01-01 UTC.
std::int64_t utc_time_zero();

} // namespace zmod4710_sim::library
