// The module library, simulated: the zmod4710_* functions working on the
// backplane in use (the state file, so what one program writes the next one
// finds, or one in the process's memory). Its results are named in
// zmod4710_sim.h; a failed call changes nothing. A call that a person asked to
// refuse (zmod4710-sim refuse) returns the result asked for and does nothing
// else. Every call is kept in the process's history, and with
// ZMOD4710_SIM_TRACE set, told in one line of that file.
#include "zmod4710.h"
#include "zmod4710_sim.h"

#include "backplane.hpp"
#include "call_clock.hpp"
#include "call_history.hpp"
#include "library_state.hpp"
#include "library_trace.hpp"
#include "one_line.hpp"
#include "platform.hpp"
#include "state_file.hpp"
#include "test_callback.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>

using namespace zmod4710_sim;
using namespace zmod4710_sim::library;

namespace {

constexpr int kLibraryVersion = ZMOD4710_SIM_LIB_VERSION;
constexpr char kLibraryDate[] = ZMOD4710_SIM_LIB_DATE;
static_assert(sizeof kLibraryDate <= ZMOD4710_LIB_DATE_SIZE);

// What the test's callback answers to the call (0: let it go on), called with
// no lock of the library's held, so that it may use the control functions. It
// sees the call at the time it is called.
int answer_of_callback(const CallRecord &record) {
    zmod4710_sim_call call = as_call(record);
    call.time = call_time_now().seconds;
    call.result = kOk;
    return library::callback_answer(call);
}

// Tells a call that is answered: takes the time and traces it, while the lock
// under which it was answered is still held.
class Telling {
public:
    explicit Telling(CallRecord &record) : record_(record) {}
    void operator()() noexcept {
        const CallTime now = call_time_now();
        record_.time = now.seconds;
        trace(record_, now.utc_microseconds);
        told_ = true;
    }
    bool told() const { return told_; }

private:
    CallRecord &record_;
    bool told_ = false;
};

// Answers a call: operation fills in record, with the process's lock held,
// which it may let go while it waits; any failure is the state's problem. The
// test's callback may answer first instead. The call is told at the moment it
// is answered: a change that a state file stores is told while its lock is
// held, so that programs sharing the file trace in the order they changed it
// (operation calls tell then); any other call under the process's lock. It is
// then kept in the history, under the same lock, so the history's order and
// times are the order and times the calls were answered in.
template <class Operation> int answered(CallRecord record, const Operation &operation) noexcept {
    const int answer = guarded([&] { return answer_of_callback(record); });
    guarded([&] {
        ProcessLock held = hold_process();
        Telling tell(record);
        std::exception_ptr failure;
        try {
            if (answer != kOk) {
                record.result = answer;
                record.answered_by_callback = true;
            } else {
                operation(record, held, tell);
            }
        } catch (...) {
            failure = std::current_exception();
            record.result = kStateProblem;
            record.refused_on_request = false;
            record.given = CallRecord::Given::nothing;
        }
        if (!tell.told()) {
            tell();
        }
        history().keep(record);
        if (failure) {
            std::rethrow_exception(failure);
        }
        return kOk;
    });
    return record.result;
}

// A write as it is made, with its value, which the callback sees.
CallRecord write_made(Call call, int slot, int channel, short range, float value) {
    CallRecord record = call_made(call, slot, channel, range);
    record.value = value;
    return record;
}

bool is_slot(int slot) {
    return slot >= 0 && slot < kSlotCount;
}

// What the module itself answers to the call, before any refusal asked for:
// kOk when the slot holds an analog-output module that has the channel, and
// for every call but Init, that this process's Init succeeded on. Its own
// refusals come first, so they use up no refusal asked for.
int module_answer(const Backplane &backplane, const CallRecord &record) {
    const Module *module = analog_module(backplane, record.slot);
    if (module == nullptr || (record.call != Call::init && !is_registered(record.slot, *module))) {
        return kNoModule;
    }
    return call_has_channel(record.call) && channel_of(*module, record.channel) == nullptr
               ? kBadArgument
               : kOk;
}

// The call gets the result of a refusal that answers it, if one does.
void take(const RefusalAnswer &answer, CallRecord &record) {
    if (answer.result != kOk) {
        record.result = answer.result;
        record.refused_on_request = true;
    }
}

// Counts the call in the refusals pending in backplane: the call gets the
// result of one that answers it. Whether backplane changed.
bool answer_by_refusal(Backplane &backplane, CallRecord &record) {
    const RefusalAnswer answer =
        answer_by_refusals(backplane, record.call, record.slot, record.channel);
    take(answer, record);
    return answer.changed;
}

// Whether a refusal asked for answers a call that changes nothing, on
// backplane as it was read; the call is counted in the store when that changes
// the refusals pending.
bool refused_on_request(const BackplaneStore &store, const Backplane &backplane, CallRecord &record,
                        ProcessLock &held) {
    const RefusalAnswer answer =
        refusals_answer(backplane, record.call, record.slot, record.channel);
    if (!answer.changed) {
        take(answer, record);
        return record.refused_on_request;
    }
    store.update([&](Backplane &now) { return answer_by_refusal(now, record); }, &held);
    return record.refused_on_request;
}

// Applies change to the module in an initialized slot and stores the result;
// change answers kOk to keep its change, anything else to drop it. A refusal
// asked for is used up in the same change. The call is told once what it
// changed is stored.
template <class Change>
void change_module(CallRecord &record, ProcessLock &held, Telling &tell, Change change) {
    // The backplane first: registrations made on another one are forgotten.
    const std::shared_ptr<const BackplaneStore> store = backplane_in_use();
    if (!is_registered(record.slot)) {
        record.result = kNoModule;
        return;
    }
    // Nothing below throws, and a call refused changes nothing but the
    // refusals that count it.
    store->update_in_place(
        [&](Backplane &backplane) {
            record.result = module_answer(backplane, record);
            if (record.result != kOk) {
                return false;
            }
            const bool counted = answer_by_refusal(backplane, record);
            if (record.refused_on_request) {
                return counted;
            }
            record.result = change(*analog_module(backplane, record.slot));
            return record.result == kOk || counted;
        },
        &held, [&] { tell(); });
}

// The same, for one channel's output in one range.
template <class Change>
void change_channel(CallRecord &record, ProcessLock &held, Telling &tell, float value,
                    Change change) {
    if (!is_range_code(record.range) || !std::isfinite(value)) {
        record.result = kBadArgument;
        return;
    }
    change_module(record, held, tell, [&](Module &module) {
        change(*channel_of(module, record.channel), clamp_to_range(record.range, value));
        return kOk;
    });
}

// Reads the module in an initialized slot.
template <class Read> void read_module(CallRecord &record, ProcessLock &held, Read read) {
    const std::shared_ptr<const BackplaneStore> store = backplane_in_use();
    if (!is_registered(record.slot)) {
        record.result = kNoModule;
        return;
    }
    const std::shared_ptr<const Backplane> backplane = store->current();
    record.result = module_answer(*backplane, record);
    if (record.result != kOk || refused_on_request(*store, *backplane, record, held)) {
        return;
    }
    record.result = read(*analog_module(*backplane, record.slot));
}

} // namespace

extern "C" {

int zmod4710_Init(int slot) {
    return answered(call_made(Call::init, slot),
                    [&](CallRecord &record, ProcessLock &held, Telling &) {
                        if (!is_slot(slot)) {
                            record.result = kBadArgument;
                            return;
                        }
                        const std::shared_ptr<const BackplaneStore> store = backplane_in_use();
                        const std::shared_ptr<const Backplane> backplane = store->current();
                        record.result = module_answer(*backplane, record);
                        if (record.result != kOk) {
                            register_module(slot, nullptr);
                            return;
                        }
                        if (!refused_on_request(*store, *backplane, record, held)) {
                            register_module(slot, analog_module(*backplane, slot));
                        }
                    });
}

int zmod4710_WriteAO(int slot, int channel, short range, float value) {
    return answered(write_made(Call::write_ao, slot, channel, range, value),
                    [&](CallRecord &record, ProcessLock &held, Telling &tell) {
                        change_channel(record, held, tell, value,
                                       [&](Channel &target, float output) {
                                           target.range = range;
                                           target.output = output;
                                       });
                    });
}

int zmod4710_SetPowerOnEnStatus(int slot, short mode) {
    CallRecord made = call_made(Call::set_power_on_en_status, slot);
    made.mode = mode;
    return answered(made, [&](CallRecord &record, ProcessLock &held, Telling &tell) {
        if (mode != kPowerOnValue && mode != kRetentive) {
            record.result = kBadArgument;
            return;
        }
        change_module(record, held, tell, [&](Module &module) {
            module.power_on_mode = mode;
            return kOk;
        });
    });
}

int zmod4710_WritePowerOn_AO(int slot, int channel, short range, float value) {
    return answered(write_made(Call::write_power_on_ao, slot, channel, range, value),
                    [&](CallRecord &record, ProcessLock &held, Telling &tell) {
                        change_channel(record, held, tell, value,
                                       [&](Channel &target, float power_on_value) {
                                           target.power_on_range = range;
                                           target.power_on_value = power_on_value;
                                       });
                    });
}

int zmod4710_ReadAO_GainOffset(int slot, int channel, short range, unsigned short *gain,
                               short *offset) {
    return answered(
        call_made(Call::read_ao_gain_offset, slot, channel, range),
        [&](CallRecord &record, ProcessLock &held, Telling &) {
            if (!is_range_code(range) || gain == nullptr || offset == nullptr) {
                record.result = kBadArgument;
                return;
            }
            read_module(record, held, [&](const Module &module) {
                const Calibration &calibration =
                    channel_of(module, channel)->calibration[static_cast<std::size_t>(range)];
                *gain = calibration.gain;
                *offset = calibration.offset;
                record.given = CallRecord::Given::calibration;
                record.gain = calibration.gain;
                record.offset = calibration.offset;
                return kOk;
            });
        });
}

int zmod4710_GetLibVersion(void) {
    return answered(
        call_made(Call::get_lib_version),
        [](CallRecord &record, ProcessLock &, Telling &) { record.result = kLibraryVersion; });
}

int zmod4710_GetLibDate(char *date) {
    return answered(call_made(Call::get_lib_date),
                    [&](CallRecord &record, ProcessLock &held, Telling &) {
                        if (date == nullptr) {
                            record.result = kBadArgument;
                            return;
                        }
                        // The state is looked at only for a refusal asked for: one that cannot
                        // be read holds none, and the date is had all the same.
                        std::shared_ptr<const BackplaneStore> store;
                        std::shared_ptr<const Backplane> backplane;
                        try {
                            store = backplane_in_use();
                            backplane = store->current();
                        } catch (const StateError &) {
                        }
                        if (backplane && refused_on_request(*store, *backplane, record, held)) {
                            return;
                        }
                        std::memcpy(date, kLibraryDate, sizeof kLibraryDate);
                        record.result = kOk;
                        record.given = CallRecord::Given::date;
                    });
}

int zmod4710_GetFirmwareVersion(int slot, short *version) {
    return answered(call_made(Call::get_firmware_version, slot),
                    [&](CallRecord &record, ProcessLock &held, Telling &) {
                        if (version == nullptr) {
                            record.result = kBadArgument;
                            return;
                        }
                        read_module(record, held, [&](const Module &module) {
                            *version = module.firmware;
                            record.given = CallRecord::Given::version;
                            record.version = module.firmware;
                            return kOk;
                        });
                    });
}

} // extern "C"
