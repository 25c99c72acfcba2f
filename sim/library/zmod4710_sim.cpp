// The module library, simulated: the zmod4710_* functions working on the
// backplane in the state file, so what one program writes the next one finds.
// Its results are named in zmod4710_sim.h; a failed call changes nothing. A
// call that a person asked to refuse (zmod4710-sim refuse) returns the result
// asked for and does nothing else; with ZMOD4710_SIM_TRACE set, every call is
// told in one line of that file.
#include "zmod4710_sim.h"
#include "zmod4710.h"

#include "backplane.hpp"
#include "one_line.hpp"
#include "platform.hpp"
#include "state_file.hpp"
#include "storage.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

using namespace zmod4710_sim;

namespace {

constexpr int kOk = ZMOD4710_SIM_OK;
constexpr int kBadArgument = ZMOD4710_SIM_BAD_ARGUMENT;
constexpr int kNoModule = ZMOD4710_SIM_NO_MODULE;
constexpr int kStateProblem = ZMOD4710_SIM_STATE_PROBLEM;

constexpr int kLibraryVersion = ZMOD4710_SIM_LIB_VERSION;
constexpr char kLibraryDate[] = ZMOD4710_SIM_LIB_DATE;
static_assert(sizeof kLibraryDate <= ZMOD4710_LIB_DATE_SIZE);

// Which slots' Init has succeeded in this process.
bool g_initialized[kSlotCount] = {};

// One call at a time, whatever threads a program calls from.
std::mutex g_calls;

// Standard output belongs to the tools; problems go to standard error, once a run
// so a scan of eight slots does not repeat the same complaint. With no memory
// left to escape the message, a line that needs none.
void report_once(bool &reported, const char *message) noexcept {
    if (reported) {
        return;
    }
    reported = true;
    try {
        std::fprintf(stderr, "zmod4710 simulator: %s\n", one_line(message).c_str());
    } catch (...) {
        std::fputs("zmod4710 simulator: out of memory\n", stderr);
    }
}

void report_problem_once(const char *message) noexcept {
    static bool reported = false;
    report_once(reported, message);
}

// What a call answered, as the trace tells it.
struct Answer {
    int result = kStateProblem;
    bool refused_on_request = false;
    std::string given; // what it gave back, after its result: ", gain 32509, offset -8"
};

// The shortest text that reads back as the same float.
std::string shortest(float value) {
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

// A trace that cannot be written is told once a process for each reason, and
// the calls go on: a program that calls on and on says so once, not at every call.
void report_trace_problem(const char *message) noexcept {
    static std::mutex guard;
    static std::vector<std::string> told;
    constexpr std::size_t kMostTold = 16;
    try {
        const std::lock_guard<std::mutex> one_at_a_time(guard);
        if (told.size() >= kMostTold ||
            std::find(told.begin(), told.end(), message) != told.end()) {
            return;
        }
        told.emplace_back(message);
        std::fprintf(stderr, "zmod4710 simulator: the trace is not written: %s\n",
                     one_line(message).c_str());
    } catch (...) {
        static bool reported = false;
        report_once(reported, "out of memory");
    }
}

// The state file that the trace must not be, when one can be named.
std::filesystem::path state_path_if_any() {
    try {
        return default_state_path();
    } catch (const StateError &) {
        return {};
    }
}

// "PID zmod4710_Call(arguments) = result", what it gave back, and a mark for a
// refusal asked for, appended whole to the trace that ZMOD4710_SIM_TRACE names,
// under the rules of the state file.
void trace(Call call, const std::string &arguments, const Answer &answer) noexcept {
    try {
        const char *file = std::getenv("ZMOD4710_SIM_TRACE");
        if (file == nullptr || *file == '\0') {
            return;
        }
        append_to_trace(file, state_path_if_any(),
                        std::to_string(platform::process_id()) + " zmod4710_" + call_name(call) +
                            "(" + arguments + ") = " + std::to_string(answer.result) +
                            answer.given +
                            (answer.refused_on_request ? " (refused on request)" : "") + "\n");
    } catch (const std::bad_alloc &) {
        report_trace_problem("out of memory");
    } catch (const std::exception &error) {
        report_trace_problem(error.what());
    }
}

// Runs the operation that answers a call, one at a time, turning every failure
// into a result: no exception leaves the library, whatever it is (memory
// running out too), since the C caller has no way to take one. Then the call
// is traced, with arguments() as its arguments.
template <class Arguments, class Operation>
int answered(Call call, const Arguments &arguments, const Operation &operation) noexcept {
    Answer answer;
    try {
        const std::lock_guard<std::mutex> one_at_a_time(g_calls);
        operation(answer);
    } catch (const std::bad_alloc &) {
        answer = Answer();
        report_problem_once("out of memory");
    } catch (const std::exception &error) {
        answer = Answer();
        report_problem_once(error.what());
    } catch (...) {
        answer = Answer();
        report_problem_once("unexpected failure");
    }
    try {
        trace(call, arguments(), answer);
    } catch (...) {
        report_problem_once("out of memory");
    }
    return answer.result;
}

// The state file that ZMOD4710_SIM_STATE or the default names now, kept from
// call to call so that what it last read is not read again while unchanged.
const StateFile &state_file() {
    static std::optional<StateFile> file;
    std::filesystem::path path = default_state_path();
    if (!file || file->path() != path) {
        file.emplace(std::move(path));
    }
    return *file;
}

bool is_slot(int slot) {
    return slot >= 0 && slot < kSlotCount;
}

bool is_initialized(int slot) {
    return is_slot(slot) && g_initialized[slot];
}

// Whether a refusal asked for answers the call in backplane, as it was read:
// its result, used up under the state's lock when it counts.
bool refused_on_request(const Backplane &backplane, Call call, int slot, int channel,
                        Answer &answer) {
    const Refusal *pending = refusal_for(backplane, call, slot, channel);
    if (pending == nullptr) {
        return false;
    }
    answer.result = pending->result;
    if (pending->times) {
        state_file().update([&](Backplane &now) {
            answer.result = use_refusal(now, call, slot, channel);
            return answer.result != 0;
        });
    }
    answer.refused_on_request = answer.result != 0;
    return answer.refused_on_request;
}

// What the module itself answers to a call on slot and channel (-1 where the
// call has none), before any refusal asked for: kOk when the slot holds an
// analog-output module that has the channel. Its own refusals come first, so
// they use up no refusal asked for.
int module_answer(const Backplane &backplane, Call call, int slot, int channel) {
    const Module *module = analog_module(backplane, slot);
    if (module == nullptr) {
        return kNoModule;
    }
    return call_has_channel(call) && channel_of(*module, channel) == nullptr ? kBadArgument : kOk;
}

// Applies change to the module in an initialized slot and stores the result;
// change answers kOk to keep its change, anything else to drop it. A refusal
// asked for is used up in the same write.
template <class Change>
void change_module(Call call, int slot, int channel, Change change, Answer &answer) {
    if (!is_initialized(slot)) {
        answer.result = kNoModule;
        return;
    }
    state_file().update([&](Backplane &backplane) {
        answer.result = module_answer(backplane, call, slot, channel);
        if (answer.result != kOk) {
            return false;
        }
        if (const Refusal *pending = refusal_for(backplane, call, slot, channel)) {
            const bool counted = pending->times.has_value();
            answer.result = use_refusal(backplane, call, slot, channel);
            answer.refused_on_request = true;
            return counted;
        }
        answer.result = change(*analog_module(backplane, slot));
        return answer.result == kOk;
    });
}

// The same, for one channel's output in one range.
template <class Change>
void change_channel(Call call, int slot, int channel, short range, float value, Change change,
                    Answer &answer) {
    if (!is_range_code(range) || !std::isfinite(value)) {
        answer.result = kBadArgument;
        return;
    }
    change_module(
        call, slot, channel,
        [&](Module &module) {
            change(*channel_of(module, channel), clamp_to_range(range, value));
            return kOk;
        },
        answer);
}

// Reads the module in an initialized slot.
template <class Read>
void read_module(Call call, int slot, int channel, Read read, Answer &answer) {
    if (!is_initialized(slot)) {
        answer.result = kNoModule;
        return;
    }
    const std::shared_ptr<const Backplane> backplane = state_file().current();
    answer.result = module_answer(*backplane, call, slot, channel);
    if (answer.result != kOk || refused_on_request(*backplane, call, slot, channel, answer)) {
        return;
    }
    answer.result = read(*analog_module(*backplane, slot));
}

std::string listed(int first) {
    return std::to_string(first);
}

template <class... Rest> std::string listed(int first, Rest... rest) {
    return std::to_string(first) + ", " + listed(rest...);
}

} // namespace

extern "C" {

int zmod4710_Init(int slot) {
    return answered(
        Call::init, [&] { return listed(slot); },
        [&](Answer &answer) {
            if (!is_slot(slot)) {
                answer.result = kBadArgument;
                return;
            }
            const std::shared_ptr<const Backplane> backplane = state_file().current();
            answer.result = module_answer(*backplane, Call::init, slot, -1);
            if (answer.result != kOk) {
                g_initialized[slot] = false;
                return;
            }
            if (refused_on_request(*backplane, Call::init, slot, -1, answer)) {
                return;
            }
            g_initialized[slot] = true;
        });
}

int zmod4710_WriteAO(int slot, int channel, short range, float value) {
    return answered(
        Call::write_ao, [&] { return listed(slot, channel, range) + ", " + shortest(value); },
        [&](Answer &answer) {
            change_channel(
                Call::write_ao, slot, channel, range, value,
                [&](Channel &target, float output) {
                    target.range = range;
                    target.output = output;
                },
                answer);
        });
}

int zmod4710_SetPowerOnEnStatus(int slot, short mode) {
    return answered(
        Call::set_power_on_en_status, [&] { return listed(slot, mode); },
        [&](Answer &answer) {
            if (mode != kPowerOnValue && mode != kRetentive) {
                answer.result = kBadArgument;
                return;
            }
            change_module(
                Call::set_power_on_en_status, slot, -1,
                [&](Module &module) {
                    module.power_on_mode = mode;
                    return kOk;
                },
                answer);
        });
}

int zmod4710_WritePowerOn_AO(int slot, int channel, short range, float value) {
    return answered(
        Call::write_power_on_ao,
        [&] { return listed(slot, channel, range) + ", " + shortest(value); },
        [&](Answer &answer) {
            change_channel(
                Call::write_power_on_ao, slot, channel, range, value,
                [&](Channel &target, float power_on_value) {
                    target.power_on_range = range;
                    target.power_on_value = power_on_value;
                },
                answer);
        });
}

int zmod4710_ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                               short *offset) {
    return answered(
        Call::read_ao_gain_offset, [&] { return listed(slot, channel, range); },
        [&](Answer &answer) {
            if (!is_range_code(range) || gain == nullptr || offset == nullptr) {
                answer.result = kBadArgument;
                return;
            }
            read_module(
                Call::read_ao_gain_offset, slot, channel,
                [&](const Module &module) {
                    const Calibration &calibration =
                        channel_of(module, channel)->calibration[static_cast<std::size_t>(range)];
                    *gain = calibration.gain;
                    *offset = calibration.offset;
                    answer.given =
                        ", gain " + std::to_string(*gain) + ", offset " + std::to_string(*offset);
                    return kOk;
                },
                answer);
        });
}

int zmod4710_GetLibVersion(void) {
    return answered(
        Call::get_lib_version, [] { return std::string(); },
        [](Answer &answer) { answer.result = kLibraryVersion; });
}

int zmod4710_GetLibDate(char *date) {
    return answered(
        Call::get_lib_date, [] { return std::string(); },
        [&](Answer &answer) {
            if (date == nullptr) {
                answer.result = kBadArgument;
                return;
            }
            // The state is looked at only for a refusal asked for: one that cannot
            // be read holds none, and the date is had all the same.
            std::shared_ptr<const Backplane> backplane;
            try {
                backplane = state_file().current();
            } catch (const StateError &) {
            }
            if (backplane && refused_on_request(*backplane, Call::get_lib_date, -1, -1, answer)) {
                return;
            }
            std::memcpy(date, kLibraryDate, sizeof kLibraryDate);
            answer.result = kOk;
            answer.given = std::string(", date ") + kLibraryDate;
        });
}

int zmod4710_GetFirmwareVersion(int slot, short *version) {
    return answered(
        Call::get_firmware_version, [&] { return listed(slot); },
        [&](Answer &answer) {
            if (version == nullptr) {
                answer.result = kBadArgument;
                return;
            }
            read_module(
                Call::get_firmware_version, slot, -1,
                [&](const Module &module) {
                    *version = module.firmware;
                    answer.given = ", version " + std::to_string(*version);
                    return kOk;
                },
                answer);
        });
}

} // extern "C"
