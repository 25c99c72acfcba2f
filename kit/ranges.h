// The module's output ranges, by range code.
#ifndef KIT_RANGES_H
#define KIT_RANGES_H

// Codes 0 to 3 are voltage ranges, 4 and 5 current ranges.
const short kRangeCount = 6;

enum RangeKind { VOLTAGE_RANGE, CURRENT_RANGE };

RangeKind range_kind(short range);

bool is_range_code(int code);

// The values a range spans, in volts or milliamperes: 4 to 20 for 4 ~ 20 mA.
struct RangeSpan {
    float low;
    float high;
};
RangeSpan range_span(short range);

// Each tool names the ranges in its own words, one label per range code.
struct RangeLabels {
    const char *text[kRangeCount];
};

#endif // KIT_RANGES_H
