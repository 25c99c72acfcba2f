// How a fuzz target says that a rule broke.
#pragma once

#include <cstdio>
#include <cstdlib>

// Ends the run as a crash, so the fuzzer keeps the input that broke the rule.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "broken rule: %s\n", #condition);                                 \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
