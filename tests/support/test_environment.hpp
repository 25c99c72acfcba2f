// What tests need around the code under test: a folder of their own, an
// environment variable set for a while, and programs run as a user would run them.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A new empty folder, removed with everything in it at the end of the test.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory &) = delete;
    TemporaryDirectory &operator=(const TemporaryDirectory &) = delete;
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets (or, with nullopt, unsets) a variable until the end of the scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string> &value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

struct ProcessResult {
    int exit_status = -1; // -1 when the process did not exit by itself
    std::string output;   // standard output
    std::string errors;   // standard error
    bool timed_out = false;
};

// Runs a program with input on its standard input, which is then closed.
ProcessResult run_program(const std::vector<std::string> &arguments, const std::string &input,
                          std::chrono::seconds timeout = std::chrono::seconds(30));

// Runs body in a child process of its own, so that it starts from a fresh
// process's state; its result is the exit status.
ProcessResult run_in_child(const std::function<int()> &body,
                           std::chrono::seconds timeout = std::chrono::seconds(60));

// A program driven as a person drives it: read what it shows, then answer.
class InteractiveProgram {
public:
    explicit InteractiveProgram(const std::vector<std::string> &arguments);
    ~InteractiveProgram();
    InteractiveProgram(const InteractiveProgram &) = delete;
    InteractiveProgram &operator=(const InteractiveProgram &) = delete;

    // Waits until the program has shown text (anywhere in what it has shown so far).
    bool wait_for_output(const std::string &text,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void answer(const std::string &text);
    // Closes its input and waits for it to end.
    ProcessResult finish(std::chrono::seconds timeout = std::chrono::seconds(30));

private:
    int pid_;
    int input_;
    int output_;
    std::string shown_;
};

std::string read_text_file(const std::filesystem::path &path);
void write_text_file(const std::filesystem::path &path, const std::string &text);
