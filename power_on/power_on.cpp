#include "power_on.h"

#include "call_result.h"
#include "output_request.h"
#include "ranges.h"
#include "slot_scan.h"

namespace {

enum PowerOnMode { POWER_ON_VALUE = 1, RETENTIVE = 2 };

const RangeLabels kRangeLabels = {{"0~ 5V", "0~ 10V", "+/- 5V", "+/- 10V", "4~ 20mA", "0~ 20mA"}};

// What a channel should output, printed with the value and then the channel.
struct OutputMessage {
    const char *voltage;
    const char *current;
};

const OutputMessage kNowMessage = {"Now the ZM-4710 should output %2.4f V at CH %d \n",
                                   "Now the ZM-4710 should output %2.4f ma at CH %d \n"};
const OutputMessage kPowerOnValueMessage = {"And the Output will become %2.4f V at CH %d \n",
                                            "And the Output will become %2.4f ma at CH %d \n"};
const OutputMessage kRetentiveMessage = {"And the Output will hold at %2.4f V at CH %d \n",
                                         "And the Output will hold at %2.4f ma at CH %d \n"};

void print_output_message(Console &console, const OutputMessage &message, short range, float value,
                          int channel) {
    const char *format = range_kind(range) == VOLTAGE_RANGE ? message.voltage : message.current;
    std::fprintf(console.out, format, static_cast<double>(value), channel);
}

bool prompt_power_on_mode(Console &console, int &mode) {
    std::fputs("Set Power on mode : \n", console.out);
    std::fputs("1 : Power on Value \n", console.out);
    std::fputs("2 : Power on as last output value(Retentive \n", console.out);
    if (!read_int_answer(console, mode) || (mode != POWER_ON_VALUE && mode != RETENTIVE)) {
        report_invalid_input(console);
        return false;
    }
    return true;
}

bool prompt_power_on_value(Console &console, const char *range_label, float &value) {
    std::fprintf(console.out, "Set a different AO value for Power On value , between %s \n",
                 range_label);
    if (!read_float_answer(console, value)) {
        report_invalid_input(console);
        return false;
    }
    return true;
}

// The power-on mode is the whole module's and is set first: when a write after it
// is refused, the mode has changed all the same, and the user is told so.
void report_mode_set(Console &console, PowerOnMode mode) {
    std::fprintf(console.out, "Power on mode is set to %d \n", static_cast<int>(mode));
}

// Each write goes ahead only when the one before it was done, and what the module
// refused is never shown as done.
bool set_mode_and_drive(ModuleLibrary &library, Console &console, int slot, PowerOnMode mode,
                        const OutputRequest &request) {
    if (!call_succeeded(console, "zmod4710_SetPowerOnEnStatus",
                        library.SetPowerOnEnStatus(slot, static_cast<short>(mode)))) {
        return false;
    }
    if (!call_succeeded(console, "zmod4710_WriteAO",
                        library.WriteAO(slot, request.channel, request.range, request.value))) {
        report_mode_set(console, mode);
        return false;
    }
    return true;
}

void apply_power_on_value(ModuleLibrary &library, Console &console, int slot,
                          const OutputRequest &request, float power_on_value) {
    if (!set_mode_and_drive(library, console, slot, POWER_ON_VALUE, request)) {
        return;
    }
    const int stored =
        library.WritePowerOn_AO(slot, request.channel, request.range, power_on_value);

    print_output_message(console, kNowMessage, request.range, request.value, request.channel);
    if (!call_succeeded(console, "zmod4710_WritePowerOn_AO", stored)) {
        report_mode_set(console, POWER_ON_VALUE);
        return;
    }
    std::fputs("To test Power on Value, please Reset the Power of PAC \n", console.out);
    print_output_message(console, kPowerOnValueMessage, request.range, power_on_value,
                         request.channel);
}

void apply_retentive(ModuleLibrary &library, Console &console, int slot,
                     const OutputRequest &request) {
    if (!set_mode_and_drive(library, console, slot, RETENTIVE, request)) {
        return;
    }
    std::fputs("To test Power on as last output value(Retentive, please Reset the Power of PAC \n",
               console.out);
    print_output_message(console, kRetentiveMessage, request.range, request.value, request.channel);
}

} // namespace

int run_power_on(ModuleLibrary &library, Console &console) {
    int slot = 0;
    if (!find_and_report_module(library, console, slot)) {
        return 0;
    }

    OutputRequest request = {0, 0.0f, 0};
    if (!prompt_output_request(console, kRangeLabels, request)) {
        return 0;
    }

    // Every answer is in before the first write, so a refused or broken-off
    // dialogue leaves the module as it was.
    int mode = POWER_ON_VALUE;
    if (!prompt_power_on_mode(console, mode)) {
        return 0;
    }
    if (mode == POWER_ON_VALUE) {
        float power_on_value = 0.0f;
        if (!prompt_power_on_value(console, kRangeLabels.text[request.range], power_on_value)) {
            return 0;
        }
        apply_power_on_value(library, console, slot, request, power_on_value);
    } else {
        apply_retentive(library, console, slot, request);
    }

    // The first key takes the line end left by the last answer, the second waits for
    // the user, also after a refused call, so that its message stays on the console.
    wait_for_key(console);
    wait_for_key(console);
    return 0;
}
