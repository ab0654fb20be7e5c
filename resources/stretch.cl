// The GPU stretch: one work item per pixel (x, y) of a width x height grid turns the source
// pixel into the three bytes 3p, 3p + 1, 3p + 2 (p = y x width + x) of the 8-bit RGB output.
//
// It gives exactly the bytes of the CPU render (image/Render.cpp, Demosaic.cpp, Stretch.h):
//   8, 16  grey samples: demosaiced when a colour-filter pattern is set and the frame is at
//          least 2 x 2, else grey with the largest sample value shown as saturated;
//   24, 48 R, G, B samples, each stretched into the output byte of the same index;
//   32     four bytes per pixel, colour in the first three (the host binds the source from the
//          alpha offset on, so an alpha-first pixel's colour also starts at byte 4p).
//
// Everything is integer arithmetic, so the bytes do not depend on the device's floating point
// (OpenCL allows an inexact float division and devices without doubles):
//   - the stretch, (v - black) / ((white - black) / 256) truncated and clamped to 0..255 in
//     double precision on the CPU, equals floor(256 (v - black) / (white - black)) whenever
//     the points lie within +-2^40 (the host checks this; the pass is declined otherwise);
//   - the white balance, v / coef in 32-bit float truncated toward zero, is worked out from
//     the coefficient's bits: the quotient rounded to 24 significant bits, nearest, ties to
//     even, exactly as an IEEE float division rounds it.
//
// Arguments (the argument table of the render):
//   0 source pixels, 1 output bytes, 2 bits per pixel, 3 highlight saturated pixels (0 or 1),
//   4 black point, 5 white point, 6 colour-filter code (255: none), 7 red coefficient,
//   8 blue coefficient (white balance only when both are above 0), 9 width, 10 height.
// The grid may be larger than width x height (OpenCL 1.2 launches whole work groups only);
// the items beyond the frame do nothing.

// Output byte of value v (v >= 0) between the points.
static uchar stretchByte(long v, long black, long white) {
    const long range = white - black;
    if (range <= 0) return 0;
    const long d = v - black;
    if (d < 0) return 0;
    if (d >= range) return 255;
    // floor(256 d / range): a float estimate (off by less than one), then one exact step.
    const long n = d << 8;
    long q = (long)((float)n / (float)range);
    q = clamp(q, 0L, 255L);
    if ((q + 1) * range <= n)
        q += 1;
    else if (q * range > n)
        q -= 1;
    return (uchar)q;
}

// True when the coefficient is above 0 (read from its bits: immune to flushed denormals).
static bool positive(float coef) {
    const uint bits = as_uint(coef);
    return bits != 0 && bits <= 0x7f800000u;
}

// trunc(v / coef) with the quotient rounded to a 32-bit float, held at 2^62 (coef > 0).
static long balanced(uint v, float coef) {
    if (v == 0) return 0;
    const uint bits = as_uint(coef);
    const uint biased = (bits >> 23) & 0xffu;
    if (biased == 0xffu) return 0;  // an infinite coefficient
    // coef = m x 2^e with an integer significand m.
    ulong m = bits & 0x7fffffu;
    int e = -149;
    if (biased != 0) {
        m |= 0x800000u;
        e = (int)biased - 150;
    }
    // v / coef = (v << a) / m x 2^-(a + e); the integer quotient has 27 to 51 bits.
    const int a = 51 - (32 - (int)clz(v));
    const ulong n = (ulong)v << a;
    ulong q = n / m;
    const bool inexact = n % m != 0;
    const int drop = (64 - (int)clz(q)) - 24;
    const ulong low = q & ((1UL << drop) - 1), halfway = 1UL << (drop - 1);
    q >>= drop;
    if (low > halfway || (low == halfway && (inexact || (q & 1)))) q += 1;
    // The rounded quotient is q x 2^s.
    const int s = drop - a - e;
    if ((63 - (int)clz(q)) + s >= 62) return 1L << 62;
    if (s >= 0) return (long)(q << s);
    return -s >= 64 ? 0 : (long)(q >> -s);
}

static uint sampleAt(global const uchar* src, long bitsPerPixel, size_t i) {
    if (bitsPerPixel == 16 || bitsPerPixel == 48) return ((global const ushort*)src)[i];
    return src[i];
}

// Channel values of the bilinear demosaic at (x, y) of a frame of at least 2 x 2: each pixel
// keeps its own colour; the others are averaged over the neighbours that exist.
static void demosaicPixel(global const uchar* src, long bpp, long code, long x, long y, long w,
                          long h, uint rgb[3]) {
    const bool hasL = x > 0, hasR = x < w - 1, hasU = y > 0, hasD = y < h - 1;
#define S(dx, dy) sampleAt(src, bpp, (size_t)((y + (dy)) * w + (x + (dx))))
    const uint c = S(0, 0);
    // Horizontal and vertical pairs (one neighbour at an edge).
    const uint horizontal = hasL && hasR ? (S(-1, 0) + S(1, 0)) >> 1 : hasR ? S(1, 0) : S(-1, 0);
    const uint vertical = hasU && hasD ? (S(0, -1) + S(0, 1)) >> 1 : hasD ? S(0, 1) : S(0, -1);
    // The four edge neighbours and the four diagonal ones.
    uint crossSum = 0, crossCount = 0, diagonalSum = 0, diagonalCount = 0;
    if (hasL) crossSum += S(-1, 0), crossCount += 1;
    if (hasR) crossSum += S(1, 0), crossCount += 1;
    if (hasU) crossSum += S(0, -1), crossCount += 1;
    if (hasD) crossSum += S(0, 1), crossCount += 1;
    if (hasU && hasL) diagonalSum += S(-1, -1), diagonalCount += 1;
    if (hasU && hasR) diagonalSum += S(1, -1), diagonalCount += 1;
    if (hasD && hasL) diagonalSum += S(-1, 1), diagonalCount += 1;
    if (hasD && hasR) diagonalSum += S(1, 1), diagonalCount += 1;
#undef S
    const uint cross =
        crossCount == 4 ? crossSum >> 2 : crossCount == 3 ? crossSum / 3 : crossSum >> 1;
    const uint diagonal =
        diagonalCount == 4 ? diagonalSum >> 2 : diagonalCount == 2 ? diagonalSum >> 1 : diagonalSum;
    const long phase = code ^ (((x & 1) << 4) | (y & 1));
    if (phase == 0) {  // red site
        rgb[0] = c, rgb[1] = cross, rgb[2] = diagonal;
    } else if (phase == 17) {  // blue site
        rgb[0] = diagonal, rgb[1] = cross, rgb[2] = c;
    } else if (phase == 16) {  // green site on a red row
        rgb[0] = horizontal, rgb[1] = c, rgb[2] = vertical;
    } else if (phase == 1) {  // green site on a blue row
        rgb[0] = vertical, rgb[1] = c, rgb[2] = horizontal;
    } else {  // a code outside the four layouts
        rgb[0] = rgb[1] = rgb[2] = 0;
    }
}

kernel void stretch(global const uchar* src, global uchar* dst, long bitsPerPixel,
                    uchar highlight, long black, long white, long debayer, float redCoef,
                    float blueCoef, long w, long h) {
    const long x = get_global_id(0), y = get_global_id(1);
    if (x >= w || y >= h) return;
    const size_t p = (size_t)(y * w + x);
    global uchar* out = dst + 3 * p;

    if (bitsPerPixel == 8 || bitsPerPixel == 16) {
        if (debayer != 255 && w >= 2 && h >= 2) {
            uint rgb[3];
            demosaicPixel(src, bitsPerPixel, debayer, x, y, w, h, rgb);
            long r = rgb[0], b = rgb[2];
            if (positive(redCoef) && positive(blueCoef)) {
                r = balanced(rgb[0], redCoef);
                b = balanced(rgb[2], blueCoef);
            }
            out[0] = stretchByte(r, black, white);
            out[1] = stretchByte(rgb[1], black, white);
            out[2] = stretchByte(b, black, white);
            return;
        }
        const uint v = sampleAt(src, bitsPerPixel, p);
        if (v == (bitsPerPixel == 8 ? 255u : 65535u)) {
            out[0] = 255;
            out[1] = out[2] = highlight ? 0 : 255;
        } else {
            out[0] = out[1] = out[2] = stretchByte(v, black, white);
        }
    } else if (bitsPerPixel == 24 || bitsPerPixel == 48) {
        for (int c = 0; c < 3; ++c)
            out[c] = stretchByte(sampleAt(src, bitsPerPixel, 3 * p + c), black, white);
    } else if (bitsPerPixel == 32) {
        for (int c = 0; c < 3; ++c)
            out[c] = stretchByte(src[4 * p + c], black, white);
    }
}
