// The walk-through that README's taste begins and the page on trying the tools
// goes on with, run command by command: each must print, byte for byte, what
// the page says it prints, so the pages stay true as the programs change.
#include "tool_runner.hpp"

#include <filesystem>
#include <sstream>
#include <utility>

namespace {

// What the pages show for the state file that mktemp made.
const std::string kReadmeStatePath = "/tmp/tmp.Hq3Vt7dXk2/backplane.json";

struct Step {
    std::string command;
    std::string expected;
};

// The "$ command" lines of the console blocks between the walk-through's
// markers, each with the lines that follow it as what it prints.
std::vector<Step> walkthrough_steps(const std::string &readme) {
    const std::size_t begin = readme.find("<!-- walk-through");
    const std::size_t end = readme.find("<!-- end of walk-through -->");
    std::vector<Step> steps;
    if (begin == std::string::npos || end == std::string::npos) {
        return steps;
    }
    std::istringstream lines(readme.substr(begin, end - begin));
    bool in_console = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("```", 0) == 0) {
            in_console = !in_console && line == "```console";
        } else if (in_console && line.rfind("$ ", 0) == 0) {
            steps.push_back({line.substr(2), ""});
        } else if (in_console && !steps.empty()) {
            steps.back().expected += line + "\n";
        }
    }
    return steps;
}

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

class ReadmeWalkthrough : public ToolTest {};

TEST_F(ReadmeWalkthrough, PrintsWhatReadmeSaysItPrints) {
#ifdef ZMOD4710_CROSS_BUILD
    GTEST_SKIP() << "the walk-through's shell runs this machine's programs, not a cross build's";
#endif
    // README's taste starts from the factory backplane, and the page on trying
    // the tools goes on from where it left off, as their reader does.
    std::filesystem::remove(state_path);
    for (const auto &[page, least_steps] :
         {std::pair(std::string(README_PATH), 3u), std::pair(std::string(TRYING_PAGE_PATH), 10u)}) {
        const std::vector<Step> steps = walkthrough_steps(read_text_file(page));
        ASSERT_GE(steps.size(), least_steps)
            << "the walk-through's commands were not found in " << page;
        for (const Step &step : steps) {
            const std::string command =
                replaced(step.command, kReadmeStatePath, state_path.string());
            const ProcessResult result = run_program(
                {"/bin/sh", "-c", "cd '" + std::string(PROGRAM_DIR) + "' && " + command}, "");
            EXPECT_EQ(result.exit_status, 0) << page << ": " << step.command;
            EXPECT_EQ(result.output, replaced(step.expected, kReadmeStatePath, state_path.string()))
                << page << ": " << step.command;
        }
    }
}

} // namespace
