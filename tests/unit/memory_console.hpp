// A console whose input is a given text and whose output is kept for the test.
#pragma once

#include "console.h"

#include <cstdio>
#include <string>

// How often part stands in text, as in what a tool has shown.
inline std::size_t count_of(const std::string &text, const std::string &part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class MemoryConsole {
public:
    explicit MemoryConsole(const std::string &input);
    ~MemoryConsole();
    MemoryConsole(const MemoryConsole &) = delete;
    MemoryConsole &operator=(const MemoryConsole &) = delete;

    Console &console() { return console_; }
    // Everything written so far.
    std::string output();
    // What the tool left unread.
    std::string unread_input();

private:
    Console console_{};
};
