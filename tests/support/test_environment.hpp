// What tests need around the code under test: a folder of their own, an
// environment variable set for a while, and programs run as a user runs them.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
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

// Sets (or, with nullopt, unsets) a variable until the end of the scope, for
// this process and the programs it starts.
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
    int exit_status = -1; // -1 when the process did not end by itself
    std::string output;   // standard output
    std::string errors;   // standard error
    bool timed_out = false;
};

// A program started with its standard streams on pipes, driven as a person
// drives it: read what it shows, then answer.
class ChildProcess {
public:
    // arguments[0] is the program's path. Programs built for another machine
    // run through the emulator that ZMOD4710_TEST_LAUNCHER names.
    explicit ChildProcess(const std::vector<std::string> &arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    void write_input(const std::string &text);
    void close_input();
    // Waits until the program has shown text, anywhere in what it has shown so far.
    bool wait_for_output(const std::string &text,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Closes its input, collects the rest of what it writes and waits for it to end;
    // kills it when the time is up.
    ProcessResult finish(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Ends it at once, as a crash or a power cut would.
    void kill();

    struct Platform;

private:
    std::unique_ptr<Platform> platform_;
    std::string output_;
    std::string errors_;
};

// Runs a program with input on its standard input, which is then closed.
ProcessResult run_program(const std::vector<std::string> &arguments, const std::string &input,
                          std::chrono::seconds timeout = std::chrono::seconds(60));

// What a program wrote, as text. The C runtime of Windows writes each line end
// as "\r\n", which becomes "\n"; nothing else is changed. ChildProcess gives
// its results as text already.
std::string as_text(const std::string &written);

std::string read_text_file(const std::filesystem::path &path);
void write_text_file(const std::filesystem::path &path, const std::string &text);
