#include "Stretch.h"

double stretchScale(int64_t blackPoint, int64_t whitePoint) {
    // The difference is taken in double so that extreme points cannot overflow; for every
    // point within +-2^53 it equals the integer difference exactly.
    return (double(whitePoint) - double(blackPoint)) * 0.00390625;
}

StretchTable::StretchTable(uint32_t maxValue, int64_t blackPoint, int64_t whitePoint, float coef)
    : entries_(size_t(maxValue) + 1) {
    const double scale = stretchScale(blackPoint, whitePoint);
    if (coef > 0) {
        for (uint32_t v = 0; v <= maxValue; ++v)
            entries_[v] = stretchValue(whiteBalanced(v, coef), blackPoint, scale);
    } else {
        for (uint32_t v = 0; v <= maxValue; ++v)
            entries_[v] = stretchValue(int64_t(v), blackPoint, scale);
    }
}
