#include "call_clock.hpp"

#include <chrono>

namespace zmod4710_sim::library {

namespace {

struct TimeZero {
    std::chrono::steady_clock::time_point steady;
    std::int64_t utc_microseconds;
};

const TimeZero &time_zero() noexcept {
    static const TimeZero zero{std::chrono::steady_clock::now(),
                               std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count()};
    return zero;
}

// Taken when the library is loaded, whatever calls it first.
[[maybe_unused]] const bool zero_taken = []() noexcept {
    time_zero();
    return true;
}();

} // namespace

CallTime call_time_now() {
    const TimeZero &zero = time_zero();
    const std::int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now() - zero.steady)
                                         .count();
    return {static_cast<double>(nanoseconds) / 1e9, zero.utc_microseconds + nanoseconds / 1000};
}

std::int64_t utc_time_zero() {
    return time_zero().utc_microseconds;
}

} // namespace zmod4710_sim::library
