#include "test_environment.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe() {
        int ends[2];
        if (::pipe(ends) != 0) {
            fail("pipe");
        }
        read_end = ends[0];
        write_end = ends[1];
    }
};

void close_if_open(int &descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

// Feeds input to the child on input_end and collects what it writes on
// output_end and error_end (each -1 when there is none) until both close or the
// time is up; then reaps it. Closes the descriptors it is given.
ProcessResult talk_to_child(pid_t child, int input_end, const std::string &input, int output_end,
                            int error_end, std::chrono::seconds timeout) {
    ProcessResult result;
    std::size_t written = 0;
    if (input.empty()) {
        close_if_open(input_end);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_end >= 0 || error_end >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd fds[3] = {{output_end, POLLIN, 0}, {error_end, POLLIN, 0}, {input_end, POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            fail("poll");
        }
        if (fds[2].revents != 0) {
            const ssize_t count =
                ::write(input_end, input.data() + written, input.size() - written);
            if (count > 0) {
                written += static_cast<std::size_t>(count);
            }
            if (count < 0 || written == input.size()) {
                close_if_open(input_end);
            }
        }
        int *ends[2] = {&output_end, &error_end};
        std::string *texts[2] = {&result.output, &result.errors};
        for (int stream = 0; stream < 2; ++stream) {
            if (fds[stream].revents != 0) {
                char buffer[4096];
                const ssize_t count = ::read(*ends[stream], buffer, sizeof buffer);
                if (count > 0) {
                    texts[stream]->append(buffer, static_cast<std::size_t>(count));
                } else {
                    close_if_open(*ends[stream]);
                }
            }
        }
    }
    close_if_open(input_end);
    close_if_open(output_end);
    close_if_open(error_end);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && !result.timed_out) {
        result.exit_status = WEXITSTATUS(status);
    }
    return result;
}

// The parent's side of a child started with become_child.
ProcessResult talk_to_child(pid_t child, Pipe &in, Pipe &out, Pipe &err, const std::string &input,
                            std::chrono::seconds timeout) {
    close_if_open(in.read_end);
    close_if_open(out.write_end);
    close_if_open(err.write_end);
    return talk_to_child(child, in.write_end, input, out.read_end, err.read_end, timeout);
}

void become_child(Pipe &in, Pipe &out, Pipe &err);

[[noreturn]] void execute(const std::vector<std::string> &arguments) {
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::perror(argv[0]);
    ::_exit(127);
}

void become_child(Pipe &in, Pipe &out, Pipe &err) {
    ::dup2(in.read_end, STDIN_FILENO);
    ::dup2(out.write_end, STDOUT_FILENO);
    ::dup2(err.write_end, STDERR_FILENO);
    for (int descriptor :
         {in.read_end, in.write_end, out.read_end, out.write_end, err.read_end, err.write_end}) {
        ::close(descriptor);
    }
}

} // namespace

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zmod4710-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        fail("mkdtemp");
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string> &value)
    : name_(std::move(name)) {
    if (const char *previous = std::getenv(name_.c_str())) {
        previous_ = previous;
    }
    if (value) {
        ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ProcessResult run_program(const std::vector<std::string> &arguments, const std::string &input,
                          std::chrono::seconds timeout) {
    // A program that ends without reading all its input must not take the test down with it.
    std::signal(SIGPIPE, SIG_IGN);
    Pipe in, out, err;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        fail("fork");
    }
    if (child == 0) {
        become_child(in, out, err);
        execute(arguments);
    }
    return talk_to_child(child, in, out, err, input, timeout);
}

ProcessResult run_in_child(const std::function<int()> &body, std::chrono::seconds timeout) {
    Pipe in, out, err;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        fail("fork");
    }
    if (child == 0) {
        become_child(in, out, err);
        int status = 125;
        try {
            status = body();
        } catch (...) {
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    return talk_to_child(child, in, out, err, "", timeout);
}

InteractiveProgram::InteractiveProgram(const std::vector<std::string> &arguments) {
    std::signal(SIGPIPE, SIG_IGN);
    Pipe in, out;
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) {
        fail("fork");
    }
    if (pid_ == 0) {
        ::dup2(in.read_end, STDIN_FILENO);
        ::dup2(out.write_end, STDOUT_FILENO);
        for (int descriptor : {in.read_end, in.write_end, out.read_end, out.write_end}) {
            ::close(descriptor);
        }
        execute(arguments);
    }
    ::close(in.read_end);
    ::close(out.write_end);
    input_ = in.write_end;
    output_ = out.read_end;
}

InteractiveProgram::~InteractiveProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        finish();
    }
}

bool InteractiveProgram::wait_for_output(const std::string &text,
                                         std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (shown_.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable = {output_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count <= 0) {
            return false;
        }
        shown_.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

void InteractiveProgram::answer(const std::string &text) {
    if (::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        fail("write to the program");
    }
}

ProcessResult InteractiveProgram::finish(std::chrono::seconds timeout) {
    ProcessResult result = talk_to_child(pid_, input_, "", output_, -1, timeout);
    result.output = shown_ + result.output;
    pid_ = -1;
    return result;
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
