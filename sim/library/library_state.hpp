// What the simulated library keeps for the process: the backplane in use (the
// state file, or one in memory), which module each slot's zmod4710_Init
// succeeded on, and the calls made. The module's calls (zmod4710.cpp) and the
// control functions (zmod4710_sim.cpp) reach it only while they hold the
// process's lock (hold_process), which is held for moments: a call that waits
// for another program's lock on the state file lets it go meanwhile, so that
// other threads' calls go on.
#pragma once

#include "backplane_store.hpp"
#include "call_history.hpp"
#include "zmod4710_sim.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>

namespace zmod4710_sim::library {

// The simulated library's results, as the module calls and the control
// functions both give them.
constexpr int kOk = ZMOD4710_SIM_OK;
constexpr int kBadArgument = ZMOD4710_SIM_BAD_ARGUMENT;
constexpr int kNoModule = ZMOD4710_SIM_NO_MODULE;
constexpr int kStateProblem = ZMOD4710_SIM_STATE_PROBLEM;

// The first problem in a process on standard error, in one line: a scan of
// eight slots does not repeat the same complaint. From any thread.
void report_problem_once(const char *message) noexcept;

// The process's lock, held by the caller until it lets it go. A fork waits
// until no thread holds it, so that a child finds what the process keeps whole.
ProcessLock hold_process();

// With the process's lock held:
// The backplane in use now: the one zmod4710_sim_use_memory gave, else the one
// in memory while ZMOD4710_SIM_STATE is ":memory:", else the state file it or
// the default names. When that changes, the registrations are forgotten: they
// belong to the backplane they were made on.
std::shared_ptr<const BackplaneStore> backplane_in_use();
// From now on, a factory backplane of the process's own, registrations forgotten.
void use_memory();
// From now on, the state file at path, or with nothing, as the environment says.
void use_state(const std::optional<std::filesystem::path> &path);
// The state file that a call now would use, or nothing (a backplane in memory,
// or no place for a state), which is read and changes nothing.
std::optional<std::filesystem::path> state_file_in_use();

// Whether zmod4710_Init succeeded on slot, for whatever module it held then;
// and whether it did for module, the one the slot holds now: a module put in
// the place of another, even of the same kind, is not the same.
bool is_registered(int slot);
bool is_registered(int slot, const Module &module);
// Registers module as the one slot's Init succeeded on, or with nullptr, none.
void register_module(int slot, const Module *module);
void forget_registrations();

CallHistory &history();

// Runs operation, which returns a result, and turns every failure into one: no
// exception leaves the library, whatever it is (memory running out too), since
// the C caller has no way to take one.
template <class Operation> int guarded(const Operation &operation) noexcept {
    try {
        return operation();
    } catch (const std::bad_alloc &) {
        report_problem_once("out of memory");
    } catch (const std::exception &error) {
        report_problem_once(error.what());
    } catch (...) {
        report_problem_once("unexpected failure");
    }
    return kStateProblem;
}

} // namespace zmod4710_sim::library
