// Text from outside the program (a file's contents, a path, a command line)
// made fit to quote in a one-line message on a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zmod4710_sim {

// Long enough for any path a person uses, short enough for a terminal's line.
constexpr std::size_t kMessageLimit = 1000;
// What a message quotes of a name or value it found in a file.
constexpr std::size_t kQuoteLimit = 64;

// text with every control character shown escaped ("\n", "\x1b", "\u009b"),
// so it stays one line and cannot steer the terminal, and cut in the middle,
// where "..." stands for what was left out, when longer than limit characters.
std::string one_line(std::string_view text, std::size_t limit = kMessageLimit);

} // namespace zmod4710_sim
