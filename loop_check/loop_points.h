// The nine points of a loop check, what was read at each, and the report.
#ifndef LOOP_CHECK_LOOP_POINTS_H
#define LOOP_CHECK_LOOP_POINTS_H

#include "console.h"
#include "ranges.h"

// 0, 25, 50, 75 and 100 % of the range's span going up, then 75 to 0 going down.
const int kLoopPoints = 9;

enum PointResult { POINT_PASSED, POINT_FAILED, POINT_SKIPPED, POINT_NOT_WRITTEN };

struct LoopPoint {
    int percent; // of the range's span
    float value; // what the point writes, in volts or milliamperes
    PointResult result;
    bool read;
    double reading;
    double error; // of the reading, in % of the span, as shown: to 0.001
};

struct LoopCheck {
    short range;
    int channel;
    double tolerance; // in % of the span: a reading passes within it, either way
    LoopPoint points[kLoopPoints];
    int done; // the points with a result, from the first; the rest were not reached
};

// The check's points on the range, none done yet.
void plan_loop_check(LoopCheck &check, short range, int channel, double tolerance);

// "V" or "mA", as the range outputs.
const char *range_unit(short range);

// A difference in % of the span, rounded half away from zero to 0.001 as shown
// (never -0.000): what is compared with the tolerance is what the user sees.
double percent_of_span(short range, double difference);

// Sets the next point's result from its reading.
void record_reading(LoopCheck &check, double reading);
void record_skipped(LoopCheck &check);
void record_not_written(LoopCheck &check);

// The table of the points done, then the largest error, the hysteresis and
// the verdict; label names the range.
void print_loop_report(Console &console, const LoopCheck &check, const char *label);

#endif // LOOP_CHECK_LOOP_POINTS_H
