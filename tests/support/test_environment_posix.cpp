// Starting and talking to programs, and the environment, on POSIX systems.
#include "test_environment.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void close_if_open(int &descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
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

// The emulator, if any, that programs built for another machine run through:
// ZMOD4710_TEST_LAUNCHER, its words separated by ';'.
std::vector<std::string> launcher() {
    std::vector<std::string> words;
    const char *value = std::getenv("ZMOD4710_TEST_LAUNCHER");
    std::string rest = value != nullptr ? value : "";
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        words.push_back(rest.substr(0, end));
        rest = end == std::string::npos ? "" : rest.substr(end + 1);
    }
    return words;
}

[[noreturn]] void execute(std::vector<std::string> arguments) {
    std::vector<std::string> command = launcher();
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::perror(argv[0]);
    ::_exit(127);
}

// Reads what is there on descriptor into text; closes it at its end.
void read_available(int &descriptor, std::string &text) {
    char buffer[4096];
    const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    if (count > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
        close_if_open(descriptor);
    }
}

int milliseconds_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

struct ChildProcess::Platform {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    int errors = -1;
};

ChildProcess::ChildProcess(const std::vector<std::string> &arguments)
    : platform_(std::make_unique<Platform>()) {
    // A program that ends without reading all its input must not take the test down with it.
    std::signal(SIGPIPE, SIG_IGN);
    Pipe in, out, err;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        ::dup2(in.read_end, STDIN_FILENO);
        ::dup2(out.write_end, STDOUT_FILENO);
        ::dup2(err.write_end, STDERR_FILENO);
        for (int descriptor : {in.read_end, in.write_end, out.read_end, out.write_end, err.read_end,
                               err.write_end}) {
            ::close(descriptor);
        }
        execute(arguments);
    }
    ::close(in.read_end);
    ::close(out.write_end);
    ::close(err.write_end);
    platform_->pid = pid;
    platform_->input = in.write_end;
    platform_->output = out.read_end;
    platform_->errors = err.read_end;
}

ChildProcess::~ChildProcess() {
    if (platform_->pid > 0) {
        kill();
        finish();
    }
}

void ChildProcess::write_input(const std::string &text) {
    std::size_t written = 0;
    while (platform_->input >= 0 && written < text.size()) {
        const ssize_t count =
            ::write(platform_->input, text.data() + written, text.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
        } else if (errno != EINTR) {
            close_if_open(platform_->input); // it has stopped reading
        }
    }
}

void ChildProcess::close_input() {
    close_if_open(platform_->input);
}

bool ChildProcess::wait_for_output(const std::string &text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (as_text(output_).find(text) == std::string::npos) {
        pollfd readable = {platform_->output, POLLIN, 0};
        if (platform_->output < 0 || ::poll(&readable, 1, milliseconds_until(deadline)) <= 0) {
            return false;
        }
        read_available(platform_->output, output_);
    }
    return true;
}

void ChildProcess::kill() {
    if (platform_->pid > 0) {
        ::kill(platform_->pid, SIGKILL);
    }
}

ProcessResult ChildProcess::finish(std::chrono::seconds timeout) {
    close_input();
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (platform_->output >= 0 || platform_->errors >= 0) {
        pollfd fds[2] = {{platform_->output, POLLIN, 0}, {platform_->errors, POLLIN, 0}};
        const int wait = milliseconds_until(deadline);
        if (wait == 0 || (::poll(fds, 2, wait) < 0 && errno != EINTR)) {
            result.timed_out = wait == 0;
            kill();
            break;
        }
        if (fds[0].revents != 0) {
            read_available(platform_->output, output_);
        }
        if (fds[1].revents != 0) {
            read_available(platform_->errors, errors_);
        }
    }
    close_if_open(platform_->output);
    close_if_open(platform_->errors);
    int status = 0;
    while (::waitpid(platform_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    platform_->pid = -1;
    if (WIFEXITED(status) && !result.timed_out) {
        result.exit_status = WEXITSTATUS(status);
    }
    result.output = as_text(output_);
    result.errors = as_text(errors_);
    return result;
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
