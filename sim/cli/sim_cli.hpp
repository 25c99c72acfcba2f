// zmod4710-sim: the simulated backplane seen and changed from the command line.
#pragma once

#include <ostream>

namespace zmod4710_sim {

// Runs one command line; returns the exit status: 0 done, 1 the state file or
// the backplane refused, 2 the command line is wrong. Problems are one line on
// err, starting with the program's name; the state file is then unchanged.
int run_sim_cli(int argc, const char *const *argv, std::ostream &out, std::ostream &err);

} // namespace zmod4710_sim
