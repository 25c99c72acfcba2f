// zmod4710-sim watch where no terminal library or change notices are at hand
// (Windows, and builds without ncurses): it says so plainly.
#include "watch.hpp"

namespace zmod4710_sim {

int run_watch(const std::filesystem::path &, const std::filesystem::path &, std::ostream &,
              std::ostream &err) {
    err << "zmod4710-sim: watch is not offered on this system; run zmod4710-sim show to see the "
           "backplane\n";
    return 1;
}

} // namespace zmod4710_sim
