#include "loop_check.h"

#include "call_result.h"
#include "loop_points.h"
#include "output_request.h"
#include "ranges.h"
#include "slot_scan.h"
#include "typed_number.h"

#include <cfloat>
#include <cmath>

namespace {

const RangeLabels kRangeLabels = {
    {"0 ~ 5V", "0 ~ 10V", "-5 ~ 5V", "-10 ~ 10V", "4 ~ 20mA", "0 ~ 20mA"}};

// What the last line typed was, once it is a number, Enter alone or q.
enum Answer { ANSWERED_NUMBER, ANSWERED_NOTHING, ANSWERED_QUIT, INPUT_ENDED };

// Tells in one line what is wrong with a line typed for a number.
void tell_not_a_number(Console &console, TypedNumber typed, bool q_ends) {
    if (typed == TYPED_WITH_UNIT) {
        std::fputs("Type the number alone, without a unit \n", console.out);
    } else if (typed == TYPED_TWO_NUMBERS) {
        std::fputs("Type one number only \n", console.out);
    } else if (q_ends) {
        std::fputs("Not a number : type the reading, Enter alone to skip, or q to end \n",
                   console.out);
    } else {
        std::fputs("Not a number : type a number, or Enter alone \n", console.out);
    }
}

// Reads lines until one holds a number, nothing, or (when q_ends) q; each
// other line is told and asked again, after prompt.
Answer read_number_line(Console &console, const char *prompt, bool q_ends, double &value) {
    for (;;) {
        std::fputs(prompt, console.out);
        char line[kMaxLineLength + 1];
        const LineAnswer read = read_line_answer(console, line);
        if (read == NO_LINE) {
            return INPUT_ENDED;
        }
        const TypedNumber typed =
            read == LINE_ANSWER ? read_typed_number(line, value) : TYPED_NO_NUMBER;
        if (typed == TYPED_NUMBER) {
            return ANSWERED_NUMBER;
        }
        if (typed == TYPED_NOTHING) {
            return ANSWERED_NOTHING;
        }
        if (typed == TYPED_QUIT && q_ends) {
            return ANSWERED_QUIT;
        }
        tell_not_a_number(console, typed, q_ends);
    }
}

bool prompt_tolerance(Console &console, double &tolerance) {
    char prompt[96];
    std::sprintf(prompt, "Set tolerance in %% of span, Enter for %g : \n", kDefaultTolerance);
    for (;;) {
        const Answer answer = read_number_line(console, prompt, false, tolerance);
        if (answer == INPUT_ENDED) {
            report_invalid_input(console);
            return false;
        }
        if (answer == ANSWERED_NOTHING) {
            tolerance = kDefaultTolerance;
            return true;
        }
        if (tolerance > 0.0 && tolerance <= 100.0) {
            return true;
        }
        std::fputs("The tolerance is a number above 0, at most 100 \n", console.out);
    }
}

// Writes the next point and takes its reading; the check ends at a point on
// q or at the end of input, with the point not done.
Answer run_point(ModuleLibrary &library, Console &console, int slot, LoopCheck &check) {
    const int number = check.done + 1;
    const LoopPoint &point = check.points[check.done];
    const char *unit = range_unit(check.range);
    std::fprintf(console.out, "Point %d of %d : %d%% of span , AO %.3f %s at CH %d \n", number,
                 kLoopPoints, point.percent, static_cast<double>(point.value), unit, check.channel);
    if (!call_succeeded(console, "zmod4710_WriteAO",
                        library.WriteAO(slot, check.channel, check.range, point.value))) {
        std::fprintf(console.out, "Point %d FAIL , the output was not written \n", number);
        record_not_written(check);
        return ANSWERED_NOTHING; // the check goes on with the next point
    }
    char prompt[96];
    std::sprintf(prompt, "Reading in %s, Enter to skip, q to end : \n", unit);
    double reading = 0.0;
    const Answer answer = read_number_line(console, prompt, true, reading);
    if (answer == ANSWERED_NUMBER) {
        record_reading(check, reading);
        const LoopPoint &read = check.points[check.done - 1];
        std::fprintf(console.out, "Error %.3f %% of span , %s \n", read.error,
                     read.result == POINT_PASSED ? "PASS" : "FAIL");
    } else if (answer == ANSWERED_NOTHING) {
        record_skipped(check);
        std::fprintf(console.out, "Point %d skipped \n", number);
    }
    return answer;
}

// The module cannot tell what it output before the check, so the user says
// what the channel is to be left at; Enter alone leaves it as the check did.
void leave_output(ModuleLibrary &library, Console &console, int slot, const LoopCheck &check) {
    char prompt[128];
    std::sprintf(prompt, "Set AO value to leave CH %d at, between %s, Enter to leave it : \n",
                 check.channel, kRangeLabels.text[check.range]);
    double value = 0.0;
    Answer answer = read_number_line(console, prompt, false, value);
    // What is written is a float: a number beyond one is asked again.
    while (answer == ANSWERED_NUMBER && !(std::fabs(value) <= FLT_MAX)) {
        tell_not_a_number(console, TYPED_NO_NUMBER, false);
        answer = read_number_line(console, prompt, false, value);
    }
    if (answer == ANSWERED_NOTHING) {
        std::fprintf(console.out, "CH %d left as the check left it \n", check.channel);
    } else if (answer == ANSWERED_NUMBER &&
               call_succeeded(
                   console, "zmod4710_WriteAO",
                   library.WriteAO(slot, check.channel, check.range, static_cast<float>(value)))) {
        std::fprintf(console.out, "CH %d left at AO %.3f %s \n", check.channel,
                     static_cast<double>(static_cast<float>(value)), range_unit(check.range));
    }
}

} // namespace

int run_loop_check(ModuleLibrary &library, Console &console) {
    int slot = 0;
    if (!find_and_report_module(library, console, slot)) {
        return 0;
    }

    short range = 0;
    int channel = 0;
    if (!prompt_range(console, kRangeLabels, range) || !prompt_channel(console, channel)) {
        return 0;
    }
    // From here on an answer is a line of its own: Enter alone means something.
    skip_rest_of_line(console);
    double tolerance = kDefaultTolerance;
    if (!prompt_tolerance(console, tolerance)) {
        return 0;
    }

    LoopCheck check;
    plan_loop_check(check, range, channel, tolerance);
    Answer last = ANSWERED_NOTHING;
    while (last != ANSWERED_QUIT && last != INPUT_ENDED && check.done < kLoopPoints) {
        last = run_point(library, console, slot, check);
    }
    print_loop_report(console, check, kRangeLabels.text[range]);
    // At the end of input there is nobody left to ask.
    if (last != INPUT_ENDED) {
        leave_output(library, console, slot, check);
    }
    return 0;
}
