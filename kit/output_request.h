// The dialogue that asks for one output: range, value and channel.
#ifndef KIT_OUTPUT_REQUEST_H
#define KIT_OUTPUT_REQUEST_H

#include "console.h"
#include "ranges.h"

struct OutputRequest {
    short range;
    float value; // volts or milliamperes, as the range says; not checked against it
    int channel; // as typed; the module library judges it
};

// Shows the range menu with the caller's labels and asks for range, value and
// channel. A range outside the menu or an answer that cannot be read is refused:
// "invalid input" is printed, nothing more is asked and the result is false.
bool prompt_output_request(Console &console, const RangeLabels &labels, OutputRequest &request);

// The steps of that dialogue, for a tool that asks for no value: the range menu
// and the answer, then the jumper reminder; the channel question and the
// answer. Each refuses as the whole dialogue does.
bool prompt_range(Console &console, const RangeLabels &labels, short &range);
bool prompt_channel(Console &console, int &channel);

#endif // KIT_OUTPUT_REQUEST_H
