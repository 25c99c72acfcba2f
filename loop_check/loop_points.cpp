#include "loop_points.h"

#include <cmath>

namespace {

const int kPercents[kLoopPoints] = {0, 25, 50, 75, 100, 75, 50, 25, 0};

const char *result_name(PointResult result) {
    switch (result) {
    case POINT_PASSED:
        return "PASS";
    case POINT_SKIPPED:
        return "skipped";
    case POINT_FAILED:
    case POINT_NOT_WRITTEN:
        break;
    }
    return "FAIL";
}

// Printed straight to the console: a reading may be any finite number, and
// no buffer of a fixed size holds every one.
void print_point_row(Console &console, int number, const LoopPoint &point) {
    if (point.read) {
        std::fprintf(console.out, "%5d %6d %9.3f %10.4f %8.3f  %s \n", number, point.percent,
                     static_cast<double>(point.value), point.reading, point.error,
                     result_name(point.result));
    } else {
        std::fprintf(console.out, "%5d %6d %9.3f %10s %8s  %s \n", number, point.percent,
                     static_cast<double>(point.value), "-", "-", result_name(point.result));
    }
}

// The point read whose error is furthest from 0, or -1 when none was read.
int largest_error_point(const LoopCheck &check) {
    int largest = -1;
    for (int index = 0; index < check.done; ++index) {
        const LoopPoint &point = check.points[index];
        if (point.read &&
            (largest < 0 || std::fabs(point.error) > std::fabs(check.points[largest].error))) {
            largest = index;
        }
    }
    return largest;
}

// The greatest difference between the readings going up and coming down at
// one point, in % of the span; the point's index going up, or -1 when no point
// was read both ways.
int hysteresis_point(const LoopCheck &check, double &hysteresis) {
    int found = -1;
    for (int up = 0; up < kLoopPoints / 2; ++up) {
        const LoopPoint &rising = check.points[up];
        const LoopPoint &falling = check.points[kLoopPoints - 1 - up];
        if (kLoopPoints - 1 - up >= check.done || !rising.read || !falling.read) {
            continue;
        }
        const double difference =
            percent_of_span(check.range, std::fabs(rising.reading - falling.reading));
        if (found < 0 || difference > hysteresis) {
            hysteresis = difference;
            found = up;
        }
    }
    return found;
}

// PASS when a point was read and none failed.
void print_verdict(Console &console, const LoopCheck &check) {
    int read = 0;
    bool failed = false;
    for (int index = 0; index < check.done; ++index) {
        read += check.points[index].read ? 1 : 0;
        failed = failed || check.points[index].result == POINT_FAILED ||
                 check.points[index].result == POINT_NOT_WRITTEN;
    }
    std::fprintf(console.out, "Verdict %s , %d of %d points read \n",
                 read > 0 && !failed ? "PASS" : "FAIL", read, kLoopPoints);
}

void print_summary(Console &console, const LoopCheck &check) {
    const int largest = largest_error_point(check);
    if (largest < 0) {
        std::fputs("Largest error - , no point read \n", console.out);
    } else {
        std::fprintf(console.out, "Largest error %.3f %% of span , at point %d \n",
                     check.points[largest].error, largest + 1);
    }
    double hysteresis = 0.0;
    const int up = hysteresis_point(check, hysteresis);
    if (up < 0) {
        std::fputs("Hysteresis - , no point read going up and coming down \n", console.out);
    } else {
        std::fprintf(console.out, "Hysteresis %.3f %% of span , at %d%% \n", hysteresis,
                     check.points[up].percent);
    }
    print_verdict(console, check);
}

} // namespace

void plan_loop_check(LoopCheck &check, short range, int channel, double tolerance) {
    check.range = range;
    check.channel = channel;
    check.tolerance = tolerance;
    check.done = 0;
    const RangeSpan span = range_span(range);
    for (int index = 0; index < kLoopPoints; ++index) {
        LoopPoint &point = check.points[index];
        point.percent = kPercents[index];
        point.value = span.low + (span.high - span.low) * static_cast<float>(point.percent) / 100;
        point.result = POINT_SKIPPED;
        point.read = false;
        point.reading = 0.0;
        point.error = 0.0;
    }
}

const char *range_unit(short range) {
    return range_kind(range) == VOLTAGE_RANGE ? "V" : "mA";
}

double percent_of_span(short range, double difference) {
    const RangeSpan span = range_span(range);
    const double percent = difference / static_cast<double>(span.high - span.low) * 100.0;
    // Rounded half away from zero to 0.001 as a person rounds the decimal
    // result: first to 0.000001, which drops what binary fractions add to a
    // typed reading (16.002 - 16 is 0.0019999...), then to 0.001, in whole
    // numbers, which a double holds exactly.
    const double millionths = std::floor(std::fabs(percent) * 1e6 + 0.5);
    const double thousandths = std::floor((millionths + 500.0) / 1000.0);
    if (thousandths == 0.0) {
        return 0.0;
    }
    return (percent < 0.0 ? -thousandths : thousandths) / 1000.0;
}

void record_reading(LoopCheck &check, double reading) {
    LoopPoint &point = check.points[check.done++];
    point.read = true;
    point.reading = reading;
    point.error = percent_of_span(check.range, reading - static_cast<double>(point.value));
    point.result = std::fabs(point.error) <= check.tolerance ? POINT_PASSED : POINT_FAILED;
}

void record_skipped(LoopCheck &check) {
    check.points[check.done++].result = POINT_SKIPPED;
}

void record_not_written(LoopCheck &check) {
    check.points[check.done++].result = POINT_NOT_WRITTEN;
}

void print_loop_report(Console &console, const LoopCheck &check, const char *label) {
    std::fprintf(console.out, "Loop check of CH %d , %s , tolerance %.3f %% of span \n",
                 check.channel, label, check.tolerance);
    std::fputs("Point % span  AO value    Reading  Error %  Result \n", console.out);
    for (int index = 0; index < check.done; ++index) {
        print_point_row(console, index + 1, check.points[index]);
    }
    print_summary(console, check);
}
