// A console on memory for the fuzz targets: the input is the fuzzer's bytes,
// the output is kept for the checks. Cheaper than files, as millions of runs need.
#pragma once

#include "console.h"
#include "fuzz_check.hpp"
#include "memory_console.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>

class FuzzConsole {
public:
    FuzzConsole(const std::uint8_t *data, std::size_t size) {
        // fmemopen does not take an empty buffer everywhere; an empty input is /dev/null.
        console_.in = size > 0 ? fmemopen(const_cast<std::uint8_t *>(data), size, "r")
                               : std::fopen("/dev/null", "r");
        console_.out = open_memstream(&output_, &output_size_);
        if (console_.in == nullptr || console_.out == nullptr) {
            std::abort();
        }
    }
    ~FuzzConsole() {
        std::fclose(console_.in);
        std::fclose(console_.out);
        std::free(output_);
    }
    FuzzConsole(const FuzzConsole &) = delete;
    FuzzConsole &operator=(const FuzzConsole &) = delete;

    Console &console() { return console_; }
    std::string output() {
        std::fflush(console_.out);
        return std::string(output_, output_size_);
    }

private:
    Console console_{};
    char *output_ = nullptr;
    std::size_t output_size_ = 0;
};

// What the tools may ever write: a range code of the menu and a finite value.
inline bool is_sound_write(short range, float value) {
    return range >= 0 && range <= 5 && value - value == 0.0f;
}

// The value as a tool shows it, so a write can be traced to what the user was told.
inline std::string shown(const char *format, float value) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<double>(value));
    return text;
}

// Which of the given operations the module library refuses on this input, and
// with what result: chosen from a hash of the input, so each input always meets
// the same refusals and about half of them meet none.
inline std::map<std::string, int> refusals_for(const std::uint8_t *data, std::size_t size,
                                               std::initializer_list<const char *> operations) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 16777619u;
    }
    std::map<std::string, int> results;
    if ((hash & 1u) == 0) {
        return results;
    }
    for (const char *operation : operations) {
        hash >>= 2;
        if ((hash & 3u) == 0) {
            results[operation] = -1 - static_cast<int>(hash >> 30);
        }
    }
    return results;
}
