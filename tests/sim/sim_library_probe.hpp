// What sim_library_probe writes, for the tests that check what it left behind.
#pragma once

// The value of the probe's write number n, in volts: distinct for n up to
// 10000, and within the 0 ~ 10V range it writes in.
inline float write_value(int n) {
    return static_cast<float>(n) / 1000.0f;
}
