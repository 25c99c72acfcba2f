#include "call_clock.hpp"

#include <algorithm>
#include <chrono>

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#include <x86intrin.h>
#define ZMOD4710_SIM_COUNTER 1
#endif

namespace zmod4710_sim::library {

namespace {

// The clock's zero: when the library was loaded.
const std::chrono::steady_clock::time_point loaded = std::chrono::steady_clock::now();

// How long a rate is measured over, and how long the counter alone is trusted:
// the steady clock's own reading jitters by some tens of nanoseconds.
constexpr double kCheckEvery = 0.001;

} // namespace

double CallClock::steady_now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - loaded).count();
}

// The counter's count in seconds: from the last check while it is recent and
// the rate is known, else from the steady clock, read again, which also
// measures the rate once enough time has passed to measure it well. A counter
// that went back (another processor's, or a machine moved) is not trusted.
double CallClock::from_counter(std::uint64_t count) {
    if (seconds_per_count_ > 0 && count >= checked_ && count - checked_ < counts_between_checks_) {
        return checked_at_ + static_cast<double>(count - checked_) * seconds_per_count_;
    }
    const double now = steady_now();
    if (count > rated_ && now - rated_at_ >= kCheckEvery) {
        if (rated_ != 0) {
            seconds_per_count_ = (now - rated_at_) / static_cast<double>(count - rated_);
            counts_between_checks_ = static_cast<std::uint64_t>(kCheckEvery / seconds_per_count_);
        }
        rated_ = count;
        rated_at_ = now;
    } else if (count < rated_) {
        rated_ = count;
        rated_at_ = now;
        seconds_per_count_ = 0;
    }
    checked_ = count;
    checked_at_ = now;
    return now;
}

double CallClock::now() {
#ifdef ZMOD4710_SIM_COUNTER
    last_ = std::max(last_, from_counter(__rdtsc()));
#else
    last_ = std::max(last_, steady_now());
#endif
    return last_;
}

CallClock &call_clock() {
    static CallClock clock;
    return clock;
}

} // namespace zmod4710_sim::library
