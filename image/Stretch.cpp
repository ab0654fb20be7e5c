#include "Stretch.h"

#include <cstring>

double stretchScale(int64_t blackPoint, int64_t whitePoint) {
    // The difference is taken in double so that extreme points cannot overflow; for every
    // point within +-2^53 it equals the integer difference exactly.
    return (double(whitePoint) - double(blackPoint)) * 0.00390625;
}

namespace {

// Fills out[lo..hi] with f(v), f non-decreasing and f(lo), f(hi) known: a range whose ends
// agree is constant and filled at once, any other is halved. The stretch has at most 256
// steps, so a table costs a few thousand evaluations of f instead of one per value.
template <typename F>
void fillSteps(uint8_t* out, uint32_t lo, uint8_t flo, uint32_t hi, uint8_t fhi, const F& f) {
    while (flo != fhi && hi - lo > 1) {
        const uint32_t mid = lo + (hi - lo) / 2;
        const uint8_t fmid = f(mid);
        fillSteps(out, lo, flo, mid, fmid, f);
        lo = mid, flo = fmid;
    }
    std::memset(out + lo, flo, hi - lo);
    out[hi] = fhi;
}

}  // namespace

StretchTable::StretchTable(uint32_t maxValue, int64_t blackPoint, int64_t whitePoint, float coef)
    : entries_(size_t(maxValue) + 1) {
    const double scale = stretchScale(blackPoint, whitePoint);
    // Both maps are non-decreasing in v: a float or double subtraction and a division by a
    // positive number round monotonically, and truncation and clamping keep the order.
    auto balanced = [&](uint32_t v) {
        return stretchValue(whiteBalanced(v, coef), blackPoint, scale);
    };
    auto plain = [&](uint32_t v) { return stretchValue(int64_t(v), blackPoint, scale); };
    if (coef > 0)
        fillSteps(entries_.data(), 0, balanced(0), maxValue, balanced(maxValue), balanced);
    else
        fillSteps(entries_.data(), 0, plain(0), maxValue, plain(maxValue), plain);
}
