/*
** solvan_frame_stats: the standard deviation of a raw frame with the saturated-star test, and
** two small statistics of double arrays.
**
** The deviation takes one pass over the samples: blocks of at most 16384 samples are summed
** in narrow integers (plain loops the compiler vectorises), as differences from the first
** sample so that the variance D2 / n - (D1 / n)^2 cancels little and is exactly 0 for a flat
** frame. The same pass notes the first sample at the saturation level; only when one exists
** and a flag place is given does a second look start there, and it stops at the first
** saturated star.
*/
#include "solvan_raw_utils.h"

#include "solvan_raw_pixels.h"

#include <math.h>

/* Samples per block: differences of at most 65535 sum to less than 2^31 in a block. */
enum { BLOCK = 16384 };

/* Sums of the differences from the shift over a stream, and where saturation first shows. */
typedef struct {
    int64_t d1;       /* sum of (value - shift) */
    double d2;        /* sum of (value - shift)^2, block sums exact */
    size_t first_hit; /* index of the first sample at the saturation level, or SIZE_MAX */
} moments;

/* The deviation of n values from the moments about `shift`; `scale` divides values (3 for the
** 32-bit members, whose value is a channel sum over 3). Stores the mean. */
static double deviation(const moments* m, size_t n, double shift, double scale, double* mean) {
    const double d = (double)m->d1 / (double)n;
    *mean = (shift + d) / scale;
    double variance = m->d2 / (double)n - d * d;
    if (variance < 0) variance = 0; /* rounding of a near-flat stream */
    return sqrt(variance) / scale;
}

/* The median of three. */
static inline uint32_t median3(uint32_t a, uint32_t b, uint32_t c) {
    if (a > b) {
        uint32_t t = a;
        a = b;
        b = t;
    }
    /* a <= b */
    return c <= a ? a : c >= b ? b : c;
}

/* The saturation test from sample `first` on: sample k is at p + k * step (8 or 16 `bits`,
** 16-bit samples little-endian), its neighbours `neighbour` bytes before and after it. */
static void saturation_test(const uint8_t* p, size_t n, size_t first, size_t step, int bits,
                            size_t neighbour, uint32_t level, double base, double mean,
                            bool* saturated) {
    const double threshold = mean + (base - mean) * 0.3;
    for (size_t k = first < 1 ? 1 : first; k + 1 < n; k++) {
        const uint8_t* s = p + k * step;
        uint32_t v = bits == 8 ? s[0] : read16(s);
        if (v < level) continue;
        uint32_t before = bits == 8 ? s[-(ptrdiff_t)neighbour] : read16(s - neighbour);
        uint32_t after = bits == 8 ? s[neighbour] : read16(s + neighbour);
        uint32_t m = median3(before, v, after);
        if (m > threshold) {
            solvan_debug("Saturation detected: threshold = %.2f, median = %d, mean = %.2f",
                         threshold, (int)m, mean);
            *saturated = true;
            return; /* later hits change nothing and log nothing */
        }
    }
}

double solvan_stddev_8bit(const uint8_t* data, size_t count, bool* saturated) {
    if (data == NULL || count < 1) return 0;
    if (saturated) *saturated = false;
    const int32_t shift = data[0];
    moments m = {0, 0, SIZE_MAX};
    for (size_t start = 0; start < count; start += BLOCK) {
        const size_t end = count - start < BLOCK ? count : start + BLOCK;
        int32_t s1 = 0;
        uint32_t s2 = 0, top = 0;
        for (size_t k = start; k < end; k++) {
            int32_t d = (int32_t)data[k] - shift;
            s1 += d;
            s2 += (uint32_t)(d * d);
            top = data[k] > top ? data[k] : top;
        }
        m.d1 += s1;
        m.d2 += s2;
        if (top >= 248 && m.first_hit == SIZE_MAX)
            for (size_t k = start; k < end && m.first_hit == SIZE_MAX; k++)
                if (data[k] >= 248) m.first_hit = k;
    }
    double mean;
    const double result = deviation(&m, count, shift, 1, &mean);
    if (saturated && m.first_hit != SIZE_MAX)
        saturation_test(data, count, m.first_hit, 1, 8, 1, 248, 247, mean, saturated);
    return result;
}

/* The 16-bit routine over little-endian samples at any alignment. */
static double stddev_16(const uint8_t* data, size_t count, bool* saturated) {
    if (data == NULL || count < 1) return 0;
    if (saturated) *saturated = false;
    const int32_t shift = (int32_t)read16(data);
    moments m = {0, 0, SIZE_MAX};
    for (size_t start = 0; start < count; start += BLOCK) {
        const size_t end = count - start < BLOCK ? count : start + BLOCK;
        int32_t s1 = 0;
        uint64_t s2 = 0;
        uint32_t top = 0;
        for (size_t k = start; k < end; k++) {
            const uint32_t v = read16(data + 2 * k);
            int32_t d = (int32_t)v - shift;
            s1 += d;
            s2 += (uint64_t)((int64_t)d * d);
            top = v > top ? v : top;
        }
        m.d1 += s1;
        m.d2 += (double)s2;
        if (top >= 65408 && m.first_hit == SIZE_MAX)
            for (size_t k = start; k < end && m.first_hit == SIZE_MAX; k++)
                if (read16(data + 2 * k) >= 65408) m.first_hit = k;
    }
    double mean;
    const double result = deviation(&m, count, shift, 1, &mean);
    if (saturated && m.first_hit != SIZE_MAX)
        saturation_test(data, count, m.first_hit, 2, 16, 2, 65408, 65407, mean, saturated);
    return result;
}

double solvan_stddev_16bit(const uint16_t* data, size_t count, bool* saturated) {
    return stddev_16((const uint8_t*)data, count, saturated);
}

/* The 32-bit members: colour in bytes `colour` ... colour + 2 of each 4-byte pixel. */
static double stddev_32bit(const uint8_t* data, size_t count, int colour, bool* saturated) {
    if (data == NULL || count < 1) return 0;
    if (saturated) *saturated = false;
    const uint8_t* c = data + colour;
    const int32_t shift = (int32_t)c[0] + c[1] + c[2];
    moments m = {0, 0, SIZE_MAX};
    for (size_t start = 0; start < count; start += BLOCK) {
        const size_t end = count - start < BLOCK ? count : start + BLOCK;
        int32_t s1 = 0;
        uint64_t s2 = 0;
        uint32_t top = 0;
        for (size_t k = start; k < end; k++) {
            const uint8_t* p = c + 4 * k;
            int32_t d = (int32_t)p[0] + p[1] + p[2] - shift;
            s1 += d;
            s2 += (uint32_t)(d * d);
            top = p[0] > top ? p[0] : top;
        }
        m.d1 += s1;
        m.d2 += (double)s2;
        if (top >= 248 && m.first_hit == SIZE_MAX)
            for (size_t k = start; k < end && m.first_hit == SIZE_MAX; k++)
                if (c[4 * k] >= 248) m.first_hit = k;
    }
    double mean;
    const double result = deviation(&m, count, shift, 3, &mean);
    if (saturated && m.first_hit != SIZE_MAX)
        saturation_test(c, count, m.first_hit, 4, 8, 1, 248, 247, mean, saturated);
    return result;
}

double solvan_stddev_rgba32(const uint8_t* data, size_t count, bool* saturated) {
    return stddev_32bit(data, count, 0, saturated);
}

double solvan_stddev_argb32(const uint8_t* data, size_t count, bool* saturated) {
    return stddev_32bit(data, count, 1, saturated);
}

double solvan_frame_stddev(solvan_raw_type type, const void* data, int width, int height,
                           bool* saturated) {
    if (data == NULL || width < 1 || height < 1) return 1.0;
    const size_t pixels = (size_t)width * (size_t)height;
    switch (type) {
        case SOLVAN_RAW_MONO8:
            return solvan_stddev_8bit(data, pixels, saturated) / 255;
        case SOLVAN_RAW_RGB24:
            return solvan_stddev_8bit(data, 3 * pixels, saturated) / 255;
        case SOLVAN_RAW_MONO16:
            return stddev_16(data, pixels, saturated) / 65535;
        case SOLVAN_RAW_RGB48:
            return stddev_16(data, 3 * pixels, saturated) / 65535;
        case SOLVAN_RAW_RGBA32:
            return solvan_stddev_rgba32(data, pixels, saturated) / 255;
        case SOLVAN_RAW_ARGB32:
            return solvan_stddev_argb32(data, pixels, saturated) / 255;
        default:
            return 0.0;
    }
}

double solvan_mean_stddev(const double* values, int count) {
    if (values == NULL || count < 1) return 0;
    double sum = 0;
    for (int i = 0; i < count; i++)
        sum += values[i];
    const double mean = sum / count;
    double squares = 0;
    for (int i = 0; i < count; i++)
        squares += (values[i] - mean) * (values[i] - mean);
    return sqrt(squares / count);
}

double solvan_rms(const double* values, int count) {
    if (values == NULL || count < 1) return 0;
    double squares = 0;
    for (int i = 0; i < count; i++)
        squares += values[i] * values[i];
    return sqrt(squares / count);
}
