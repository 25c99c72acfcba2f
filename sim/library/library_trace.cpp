#include "library_trace.hpp"

#include "one_line.hpp"
#include "state_file.hpp"
#include "trace_file.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <new>
#include <string_view>

namespace zmod4710_sim::library {

namespace {

// Whether message is one told already, noting it when it is not: the reasons
// told, as hashes (0: none yet), without a lock, from any thread.
bool told_before(std::string_view message) noexcept {
    constexpr std::size_t kMostTold = 16;
    static std::atomic<std::size_t> told[kMostTold];
    const std::size_t hash = std::max<std::size_t>(1, std::hash<std::string_view>()(message));
    for (std::atomic<std::size_t> &entry : told) {
        std::size_t seen = 0;
        if (entry.compare_exchange_strong(seen, hash) || seen == hash) {
            return seen == hash;
        }
    }
    return true; // enough told
}

// A trace that cannot be written is told once a process for each reason, and
// the calls go on: a program that calls on and on says so once, not at every call.
void report_trace_problem(const char *message) noexcept {
    if (told_before(message)) {
        return;
    }
    try {
        std::fprintf(stderr, "zmod4710 simulator: the trace is not written: %s\n",
                     one_line(message).c_str());
    } catch (...) {
        std::fputs("zmod4710 simulator: the trace is not written: out of memory\n", stderr);
    }
}

// The state file that the trace must not be, when one can be named.
std::filesystem::path state_path_if_any() {
    try {
        return default_state_path();
    } catch (const StateError &) {
        return {};
    }
}

// Appends the lines that texts gives, when file names a trace; nothing is
// made for it otherwise.
template <class Texts> void append(const std::string &file, const Texts &texts) noexcept {
    if (file.empty()) {
        return;
    }
    try {
        append_to_trace(file, state_path_if_any(), trace_lines(texts()));
    } catch (const std::bad_alloc &) {
        report_trace_problem("out of memory");
    } catch (const std::exception &error) {
        report_trace_problem(error.what());
    }
}

} // namespace

void trace(const std::string &file, const std::vector<std::string> &texts) noexcept {
    if (texts.empty()) {
        return;
    }
    append(file, [&] { return texts; });
}

void trace(const std::string &file, const CallRecord &record) noexcept {
    append(file, [&] { return std::vector<std::string>{call_text(record)}; });
}

} // namespace zmod4710_sim::library
