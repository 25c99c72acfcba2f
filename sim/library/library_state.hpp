// What the simulated library keeps for the process: the backplane in use (the
// state file, or one in memory), which slots' zmod4710_Init succeeded on it,
// and the calls made. The module's calls (zmod4710_sim.cpp) and the control
// functions (control.cpp) reach it only through guarded(), one at a time.
#pragma once

#include "backplane_store.hpp"
#include "call_history.hpp"
#include "zmod4710_sim.h"

#include <exception>
#include <mutex>
#include <new>

namespace zmod4710_sim::library {

// The simulated library's results, as the module calls and the control
// functions both give them.
constexpr int kOk = ZMOD4710_SIM_OK;
constexpr int kBadArgument = ZMOD4710_SIM_BAD_ARGUMENT;
constexpr int kNoModule = ZMOD4710_SIM_NO_MODULE;
constexpr int kStateProblem = ZMOD4710_SIM_STATE_PROBLEM;

// The first problem in a process on standard error, in one line: a scan of
// eight slots does not repeat the same complaint.
void report_problem_once(const char *message) noexcept;

// One call at a time, whatever threads a program calls from.
std::mutex &calls_lock();

// The backplane in use now: the one zmod4710_sim_use_memory gave, else the one
// in memory while ZMOD4710_SIM_STATE is ":memory:", else the state file it or
// the default names. When that changes, the slots' registrations are
// forgotten: they belong to the backplane they were made on.
const BackplaneStore &backplane_in_use();
// From now on, a factory backplane of the process's own, registrations forgotten.
void use_memory();

bool is_initialized(int slot);
void set_initialized(int slot, bool initialized);
void forget_registrations();

CallHistory &history();

// Runs operation, which returns a result, under the lock, and turns every
// failure into one: no exception leaves the library, whatever it is (memory
// running out too), since the C caller has no way to take one.
template <class Operation> int guarded(const Operation &operation) noexcept {
    try {
        const std::lock_guard<std::mutex> one_at_a_time(calls_lock());
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
