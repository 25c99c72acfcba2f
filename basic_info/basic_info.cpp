#include "basic_info.h"

#include "call_result.h"
#include "output_request.h"
#include "ranges.h"
#include "slot_scan.h"
#include "zmod4710.h"

#include <cstring>

namespace {

const RangeLabels kRangeLabels = {
    {"0 ~ 5V", "0 ~ 10V", "+/- 5V", "+/- 10V", "4 ~ 20mA", "0 ~ 20mA"}};

void show_library_and_firmware(ModuleLibrary &library, Console &console, int slot) {
    const int version = library.GetLibVersion();
    // Zeroed, and closed whatever the library writes, so a short or unterminated
    // date cannot show stray memory.
    char date[ZMOD4710_LIB_DATE_SIZE];
    std::memset(date, 0, sizeof date);
    const int date_result = library.GetLibDate(date);
    date[sizeof date - 1] = '\0';
    short firmware = 0;
    const int firmware_result = library.GetFirmwareVersion(slot, &firmware);

    report_module_slot(console, slot);
    std::fprintf(console.out, "Library Version %04X \n", static_cast<unsigned int>(version));
    // A refused query shows its refusal in place of a date or number it never gave.
    if (call_succeeded(console, "zmod4710_GetLibDate", date_result)) {
        std::fprintf(console.out, "Library Build Date %s \n", date);
    }
    if (call_succeeded(console, "zmod4710_GetFirmwareVersion", firmware_result)) {
        std::fprintf(console.out, "Farmware Version %d \n", firmware);
    }
}

// Reads the channel's calibration for the range, then drives it, and shows both;
// a refused read writes nothing, and a refused write shows no output value.
void drive_and_report(ModuleLibrary &library, Console &console, int slot,
                      const OutputRequest &request) {
    unsigned short gain = 0;
    short offset = 0;
    if (!call_succeeded(
            console, "zmod4710_ReadAO_GainOffset",
            library.ReadAO_GainOffset(slot, request.channel, request.range, &gain, &offset))) {
        return;
    }
    const int written = library.WriteAO(slot, request.channel, request.range, request.value);
    std::fprintf(console.out, "CH %d ,Range %s ,Gain %u ,Offset %d \n", request.channel,
                 kRangeLabels.text[request.range], static_cast<unsigned int>(gain), offset);
    if (call_succeeded(console, "zmod4710_WriteAO", written)) {
        std::fprintf(console.out, "Output Value = AO %7.3f \n", static_cast<double>(request.value));
    }
}

bool user_asks_for_another_pass(Console &console) {
    std::fputs("Press 'q' Or 'Q' to Exit.\nOr else to repeat again\n\n", console.out);
    char answer = 'q';
    // The end of input ends the tool like q: there is nobody left to ask.
    if (!read_char_answer(console, answer)) {
        return false;
    }
    return answer != 'q' && answer != 'Q';
}

} // namespace

int run_basic_info(ModuleLibrary &library, Console &console) {
    int slot = 0;
    if (!find_module_slot(library, slot)) {
        report_no_module(console);
        wait_for_key(console);
        wait_for_key(console);
        return 0;
    }
    show_library_and_firmware(library, console, slot);

    do {
        OutputRequest request = {0, 0.0f, 0};
        if (!prompt_output_request(console, kRangeLabels, request)) {
            return 0;
        }
        drive_and_report(library, console, slot, request);
    } while (user_asks_for_another_pass(console));
    return 0;
}
