// Starting and talking to programs, and the environment, on Windows.
#include "test_environment.hpp"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": error " + std::to_string(GetLastError()));
}

void close_if_open(HANDLE &handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

// One argument as the C runtime splits a command line again.
std::string quoted(const std::string &argument) {
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

// Reads what is there on pipe into text without waiting; closes it at its end.
void read_available(HANDLE &pipe, std::string &text) {
    while (pipe != nullptr) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            close_if_open(pipe);
            return;
        }
        if (available == 0) {
            return;
        }
        char buffer[4096];
        DWORD count = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &count, nullptr)) {
            close_if_open(pipe);
            return;
        }
        text.append(buffer, count);
    }
}

} // namespace

struct ChildProcess::Platform {
    PROCESS_INFORMATION process = {};
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE errors = nullptr;
    bool running = false;
};

ChildProcess::ChildProcess(const std::vector<std::string> &arguments)
    : platform_(std::make_unique<Platform>()) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE child_input = nullptr, child_output = nullptr, child_errors = nullptr;
    if (!CreatePipe(&child_input, &platform_->input, &inheritable, 0) ||
        !CreatePipe(&platform_->output, &child_output, &inheritable, 0) ||
        !CreatePipe(&platform_->errors, &child_errors, &inheritable, 0)) {
        fail("CreatePipe");
    }
    // The test's own ends stay with the test.
    for (HANDLE own : {platform_->input, platform_->output, platform_->errors}) {
        SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
    }
    std::string command_line;
    for (const std::string &argument : arguments) {
        command_line += (command_line.empty() ? "" : " ") + quoted(argument);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_input;
    startup.hStdOutput = child_output;
    startup.hStdError = child_errors;
    // Wine now and then fails to start a process (ERROR_INTERNAL_ERROR) when many are
    // started and killed in quick succession; a second try succeeds.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) {
            Sleep(50);
        }
        started = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &startup, &platform_->process);
    }
    CloseHandle(child_input);
    CloseHandle(child_output);
    CloseHandle(child_errors);
    if (!started) {
        fail("CreateProcess " + command_line);
    }
    platform_->running = true;
}

ChildProcess::~ChildProcess() {
    if (platform_->running) {
        kill();
        finish();
    }
}

void ChildProcess::write_input(const std::string &text) {
    std::size_t written = 0;
    while (platform_->input != nullptr && written < text.size()) {
        DWORD count = 0;
        if (!WriteFile(platform_->input, text.data() + written,
                       static_cast<DWORD>(text.size() - written), &count, nullptr)) {
            close_if_open(platform_->input); // it has stopped reading
        }
        written += count;
    }
}

void ChildProcess::close_input() {
    close_if_open(platform_->input);
}

bool ChildProcess::wait_for_output(const std::string &text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (as_text(output_).find(text) == std::string::npos) {
        if (platform_->output == nullptr || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        read_available(platform_->output, output_);
        Sleep(2);
    }
    return true;
}

void ChildProcess::kill() {
    if (platform_->running) {
        TerminateProcess(platform_->process.hProcess, 255);
    }
}

ProcessResult ChildProcess::finish(std::chrono::seconds timeout) {
    close_input();
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        read_available(platform_->output, output_);
        read_available(platform_->errors, errors_);
        // Once it has ended, what it wrote is all in the pipes: take it and stop,
        // even if another process still holds their other ends.
        if (WaitForSingleObject(platform_->process.hProcess, 0) == WAIT_OBJECT_0) {
            read_available(platform_->output, output_);
            read_available(platform_->errors, errors_);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            result.timed_out = true;
            kill();
            WaitForSingleObject(platform_->process.hProcess, INFINITE);
            break;
        }
        Sleep(2);
    }
    DWORD status = 0;
    GetExitCodeProcess(platform_->process.hProcess, &status);
    if (!result.timed_out) {
        result.exit_status = static_cast<int>(status);
    }
    close_if_open(platform_->output);
    close_if_open(platform_->errors);
    close_if_open(platform_->process.hProcess);
    close_if_open(platform_->process.hThread);
    platform_->running = false;
    result.output = as_text(output_);
    result.errors = as_text(errors_);
    return result;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string> &value)
    : name_(std::move(name)) {
    if (const char *previous = std::getenv(name_.c_str())) {
        previous_ = previous;
    }
    // Both the C runtime's copy, which getenv reads, and the process's, which programs inherit.
    _putenv_s(name_.c_str(), value ? value->c_str() : "");
    SetEnvironmentVariableA(name_.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() {
    _putenv_s(name_.c_str(), previous_ ? previous_->c_str() : "");
    SetEnvironmentVariableA(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}
