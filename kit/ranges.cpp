#include "ranges.h"

RangeKind range_kind(short range) {
    return range <= 3 ? VOLTAGE_RANGE : CURRENT_RANGE;
}

bool is_range_code(int code) {
    return code >= 0 && code < kRangeCount;
}
