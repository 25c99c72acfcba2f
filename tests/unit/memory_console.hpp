// A console whose input is a given text and whose output is kept for the test.
#pragma once

#include "console.h"

#include <cstdio>
#include <string>

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
    Console console_;
};
