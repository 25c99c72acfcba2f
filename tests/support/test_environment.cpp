// The parts of the test environment that need nothing of the operating system.
#include "test_environment.hpp"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

TemporaryDirectory::TemporaryDirectory() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / ("zmod4710-test-" + std::to_string(random()) + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ProcessResult run_program(const std::vector<std::string> &arguments, const std::string &input,
                          std::chrono::seconds timeout) {
    ChildProcess child(arguments);
    child.write_input(input);
    return child.finish(timeout);
}

std::string as_text(const std::string &written) {
#ifdef _WIN32
    // Only "\r\n" is a line end here; a bare "\n" is marked so a comparison shows it.
    std::string text;
    for (std::size_t at = 0; at < written.size(); ++at) {
        if (written[at] == '\r' && at + 1 < written.size() && written[at + 1] == '\n') {
            continue;
        }
        if (written[at] == '\n' && (at == 0 || written[at - 1] != '\r')) {
            text += "<bare line feed>";
        }
        text += written[at];
    }
    return text;
#else
    return written;
#endif
}

std::string read_text_file(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_text_file(const std::filesystem::path &path, const std::string &text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}
