#include "sim_cli.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>

namespace {

// What no handler caught ends the program as any failure does, with one line
// and status 1: memory can run out even before main, while the command-line
// parser makes its own objects, and then even for the exception that says so.
[[noreturn]] void end_unhandled() noexcept {
    const char *what = "out of memory";
    if (const std::exception_ptr failure = std::current_exception()) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::bad_alloc &) {
            what = "out of memory";
        } catch (const std::exception &error) {
            what = error.what();
        } catch (...) {
            what = "unexpected failure";
        }
    }
    std::fprintf(stderr, "zmod4710-sim: %s\n", what);
    std::_Exit(1);
}

// Set before any other object of the program is made.
struct UnhandledEnds {
    UnhandledEnds() noexcept { std::set_terminate(end_unhandled); }
};
#if defined(__GNUC__)
__attribute__((init_priority(101)))
#endif
const UnhandledEnds unhandled_ends;

} // namespace

int main(int argc, char **argv) {
    return zmod4710_sim::run_sim_cli(argc, argv, std::cout, std::cerr);
}
