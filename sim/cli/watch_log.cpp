// zmod4710-sim watch with no terminal: a line for each change, begun with the
// time, on every system; and the files it watches.
#include "watch_log.hpp"

#include "trace_lines.hpp"
#include "watch_notices.hpp"
#include "watch_view.hpp"

#include <optional>
#include <string>

namespace zmod4710_sim {

volatile std::sig_atomic_t watch_stop_asked = 0;

extern "C" void ask_watch_to_stop(int) {
    watch_stop_asked = 1;
}

std::vector<std::filesystem::path> watched_files(const std::filesystem::path &state,
                                                 const std::filesystem::path &trace) {
    std::vector<std::filesystem::path> files{state};
    if (!trace.empty()) {
        files.push_back(trace);
    }
    return files;
}

int log_changes(const std::filesystem::path &state, const std::filesystem::path &trace,
                std::ostream &out) {
    ChangeNotices notices(watched_files(state, trace));
    std::optional<Watched> before;
    while (watch_stop_asked == 0) {
        Watched now = look(state, nullptr);
        const std::string time = utc_text(utc_microseconds_now());
        for (const std::string &line : change_lines(before ? &*before : nullptr, now)) {
            out << time << ' ' << line << '\n';
        }
        if (!out.flush()) {
            return 1;
        }
        before = std::move(now);
        while (watch_stop_asked == 0 && !notices.wait(false)) {
        }
    }
    return 0;
}

} // namespace zmod4710_sim
