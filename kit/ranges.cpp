#include "ranges.h"

RangeKind range_kind(short range) {
    return range <= 3 ? VOLTAGE_RANGE : CURRENT_RANGE;
}

RangeSpan range_span(short range) {
    static const RangeSpan kSpans[kRangeCount] = {{0.0f, 5.0f},    {0.0f, 10.0f}, {-5.0f, 5.0f},
                                                  {-10.0f, 10.0f}, {4.0f, 20.0f}, {0.0f, 20.0f}};
    return kSpans[range];
}

bool is_range_code(int code) {
    return code >= 0 && code < kRangeCount;
}
