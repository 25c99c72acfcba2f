// zmod4710-sim watch where no terminal library is at hand (Windows, and the
// ARM build): the line a change, when the output is no terminal; a terminal
// is told that the live view is not offered.
#include "watch.hpp"

#include "platform.hpp"
#include "watch_log.hpp"
#include "watch_notices.hpp"

namespace zmod4710_sim {

int run_watch(const std::filesystem::path &state, const std::filesystem::path &trace,
              std::ostream &out, std::ostream &err) {
    if (platform::standard_output_is_terminal()) {
        err << "zmod4710-sim: the live view is not offered on this system; with its output "
               "not a terminal (zmod4710-sim watch > changes.txt), watch prints a line a change\n";
        return 1;
    }
    stop_watch_on_signals();
    return log_changes(state, trace, out);
}

} // namespace zmod4710_sim
