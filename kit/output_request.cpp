#include "output_request.h"

namespace {

void print_range_menu(Console &console, const RangeLabels &labels) {
    std::fputs("Select Output Range : \n", console.out);
    for (short range = 0; range < kRangeCount; ++range) {
        std::fprintf(console.out, "%d : %s \n", range, labels.text[range]);
    }
}

void print_jumper_reminder(Console &console, short range) {
    if (range_kind(range) == VOLTAGE_RANGE) {
        std::fputs("Please make sure the Jumper is in voltage operation\n", console.out);
    } else {
        std::fputs("Please make sure the Jumper is in current operation\n", console.out);
    }
}

void print_channel_prompt(Console &console) {
    std::fputs("Set output channel : \n", console.out);
    std::fputs("\t For ZM-4710 Channel index 0~7  \n", console.out);
    std::fputs("\t For ZM-4704 Channel index 0~3  \n", console.out);
}

bool refuse(Console &console) {
    report_invalid_input(console);
    return false;
}

} // namespace

bool prompt_range(Console &console, const RangeLabels &labels, short &range) {
    print_range_menu(console, labels);
    int answer = 0;
    if (!read_int_answer(console, answer) || !is_range_code(answer)) {
        return refuse(console);
    }
    range = static_cast<short>(answer);
    print_jumper_reminder(console, range);
    return true;
}

bool prompt_channel(Console &console, int &channel) {
    print_channel_prompt(console);
    return read_int_answer(console, channel) || refuse(console);
}

bool prompt_output_request(Console &console, const RangeLabels &labels, OutputRequest &request) {
    if (!prompt_range(console, labels, request.range)) {
        return false;
    }
    std::fprintf(console.out, "Set AO value, between %s \n", labels.text[request.range]);
    if (!read_float_answer(console, request.value)) {
        return refuse(console);
    }
    return prompt_channel(console, request.channel);
}
