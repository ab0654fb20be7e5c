// The stretch of one value into an output byte, and its lookup tables.
//
// A value v (a sample, or a demosaiced and white-balanced channel value) maps linearly from
// the black point to 0 and from the white point to 256, then clamps to 0..255:
//   scale = (white - black) / 256, t = (v - black) / scale, byte = clamp(trunc(t), 0, 255),
// all in double precision; scale <= 0 (equal points, or white below black) gives 0.
//
// A render evaluates this for every output byte. For 8- and 16-bit samples every possible
// value is tabulated once per render instead (at most 65,536 divisions), and the row loops
// only look bytes up. The tables hold exactly what `stretchValue` computes, so the bytes are
// the same as the plain per-value division.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Scale of the stretch between two points: (white - black) / 256 in double precision.
double stretchScale(int64_t blackPoint, int64_t whitePoint);

// The output byte of value v for the given black point and scale.
inline uint8_t stretchValue(int64_t v, int64_t blackPoint, double scale) {
    if (!(scale > 0)) return 0;
    // Subtracting in double keeps extreme points from overflowing; for values within +-2^53
    // it is exactly the integer difference.
    const double t = (double(v) - double(blackPoint)) / scale;
    if (t < 0) return 0;
    if (t > 255) return 255;
    return uint8_t(t);
}

// Channel value of a white-balanced channel: v / coef in 32-bit float, truncated toward zero.
// Quotients beyond 2^62 (a coefficient near zero) are held at 2^62, far above any white point.
inline int64_t whiteBalanced(uint32_t v, float coef) {
    const float q = float(v) / coef;
    if (!(q < 4.611686e18f)) return int64_t(1) << 62;
    return int64_t(q);
}

// Stretch of every value 0..maxValue, optionally divided by a white-balance coefficient
// first (coef > 0). entries[v] is the output byte of v.
class StretchTable {
  public:
    StretchTable(uint32_t maxValue, int64_t blackPoint, int64_t whitePoint, float coef = 0.0f);
    const uint8_t* data() const { return entries_.data(); }
    uint8_t operator[](uint32_t v) const { return entries_[v]; }

  private:
    std::vector<uint8_t> entries_;  // output byte per value, maxValue + 1 entries
};
