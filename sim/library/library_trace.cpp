#include "library_trace.hpp"

#include "call_clock.hpp"
#include "library_state.hpp"
#include "one_line.hpp"
#include "trace_file.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
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

TraceWriter &writer() {
    static TraceWriter kept(told_time_zero(utc_time_zero()));
    return kept;
}

// Appends the lines that texts are, or that text is made into, when
// ZMOD4710_SIM_TRACE names a trace; nothing is made for it otherwise.
template <class Texts> void append(std::int64_t microseconds, const Texts &texts) noexcept {
    const char *named = std::getenv("ZMOD4710_SIM_TRACE");
    if (named == nullptr || *named == '\0') {
        return;
    }
    try {
        const std::optional<std::filesystem::path> state = state_file_in_use();
        writer().append(named, state ? &*state : nullptr, microseconds, texts());
    } catch (const std::bad_alloc &) {
        report_trace_problem("out of memory");
    } catch (const std::exception &error) {
        report_trace_problem(error.what());
    }
}

} // namespace

void trace(std::int64_t microseconds, const std::vector<std::string> &texts) noexcept {
    if (texts.empty()) {
        return;
    }
    append(microseconds, [&]() -> const std::vector<std::string> & { return texts; });
}

void trace(const CallRecord &record, std::int64_t microseconds) noexcept {
    append(microseconds, [&]() -> const std::string & {
        // Made anew in the same memory at every call, under the process's lock.
        static std::string text;
        text.clear();
        append_call_text(text, record);
        return text;
    });
}

void forget_trace() noexcept {
    writer().close();
}

} // namespace zmod4710_sim::library
