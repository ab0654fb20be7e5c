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

#include "solvan_raw_pixels_private.h"

#include <math.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    enum { CHUNK = 64 };
    for (size_t start = first < 1 ? 1 : first; start + 1 < n; start += CHUNK) {
        const size_t end = n - 1 - start < CHUNK ? n - 1 : start + CHUNK;
        /* Most chunks hold no sample at the level: skip them on their maximum. */
        uint32_t top = 0;
        if (bits == 8)
            for (size_t k = start; k < end; k++)
                top = p[k * step] > top ? p[k * step] : top;
        else
            for (size_t k = start; k < end; k++) {
                const uint32_t v = read16(p + k * step);
                top = v > top ? v : top;
            }
        if (top < level) continue;
        for (size_t k = start; k < end; k++) {
            const uint8_t* s = p + k * step;
            const uint32_t v = bits == 8 ? s[0] : read16(s);
            if (v < level) continue;
            const uint32_t before = bits == 8 ? s[-(ptrdiff_t)neighbour] : read16(s - neighbour);
            const uint32_t after = bits == 8 ? s[neighbour] : read16(s + neighbour);
            const uint32_t m = median3(before, v, after);
            if (m > threshold) {
                solvan_debug("Saturation detected: threshold = %.2f, median = %d, mean = %.2f",
                             threshold, (int)m, mean);
                *saturated = true;
                return; /* later hits change nothing and log nothing */
            }
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

#if defined(__GNUC__) && defined(__x86_64__) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define HAVE_AVX2_KERNEL 1
#include <immintrin.h>
#include <stdatomic.h>

/* moments_16's vector loop sixteen samples at a time, for processors with AVX2; returns the
** number of samples done (a multiple of 16) after adding to the sums and the signed maximum. */
__attribute__((target("avx2"))) static size_t moments_16_avx2(const uint8_t* p, size_t n,
                                                              int64_t* s1, uint64_t* s2,
                                                              int32_t* top) {
    const __m256i bias = _mm256_set1_epi16((short)0x8000), ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    __m256i vsum = zero, vsquares = zero, vtop = bias;
    size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m256i d = _mm256_xor_si256(_mm256_loadu_si256((const __m256i*)(p + 2 * k)), bias);
        vsum = _mm256_add_epi32(vsum, _mm256_madd_epi16(d, ones));
        const __m256i sq = _mm256_madd_epi16(d, d);
        vsquares = _mm256_add_epi64(vsquares, _mm256_unpacklo_epi32(sq, zero));
        vsquares = _mm256_add_epi64(vsquares, _mm256_unpackhi_epi32(sq, zero));
        vtop = _mm256_max_epi16(vtop, d);
    }
    int32_t lanes[8];
    _mm256_storeu_si256((__m256i*)lanes, vsum);
    for (int i = 0; i < 8; i++)
        *s1 += lanes[i];
    uint64_t wide[4];
    _mm256_storeu_si256((__m256i*)wide, vsquares);
    *s2 += wide[0] + wide[1] + wide[2] + wide[3];
    int16_t tops[16];
    _mm256_storeu_si256((__m256i*)tops, vtop);
    for (int i = 0; i < 16; i++)
        *top = tops[i] > *top ? tops[i] : *top;
    return k;
}

/* Whether the processor runs AVX2. The answer is kept in an atomic: threads making their first
** call together may each ask, but never read a half-written answer. */
static bool has_avx2(void) {
    static atomic_int known = -1;
    int answer = atomic_load_explicit(&known, memory_order_relaxed);
    if (answer < 0) {
        __builtin_cpu_init();
        answer = __builtin_cpu_supports("avx2") ? 1 : 0;
        atomic_store_explicit(&known, answer, memory_order_relaxed);
    }
    return answer == 1;
}
#endif

/* Adds to *s1 and *s2 the sums of d and d^2 over n little-endian 16-bit samples at p, with
** d = v - 32768, and returns their largest value. n is at most BLOCK. With SSE2 eight samples
** go at a time: d is the sample with its top bit flipped, read as signed, and one multiply-add
** gives d0^2 + d1^2 (at most 2^31, exact as unsigned 32 bits). */
static uint32_t moments_16(const uint8_t* p, size_t n, int64_t* s1, uint64_t* s2) {
    size_t k = 0;
    int64_t sum = 0;
    uint64_t squares = 0;
    int32_t top = -32768;
#ifdef HAVE_AVX2_KERNEL
    if (has_avx2()) k = moments_16_avx2(p, n, &sum, &squares, &top);
#endif
#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const __m128i bias = _mm_set1_epi16((short)0x8000), ones = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    __m128i vsum = zero, vsquares = zero, vtop = bias;
    for (; k + 8 <= n; k += 8) { /* all of them, or the tail of the AVX2 loop */
        const __m128i d = _mm_xor_si128(_mm_loadu_si128((const __m128i*)(p + 2 * k)), bias);
        vsum = _mm_add_epi32(vsum, _mm_madd_epi16(d, ones));
        const __m128i sq = _mm_madd_epi16(d, d);
        vsquares = _mm_add_epi64(vsquares, _mm_unpacklo_epi32(sq, zero));
        vsquares = _mm_add_epi64(vsquares, _mm_unpackhi_epi32(sq, zero));
        vtop = _mm_max_epi16(vtop, d);
    }
    int32_t lanes[4];
    _mm_storeu_si128((__m128i*)lanes, vsum);
    sum += (int64_t)lanes[0] + lanes[1] + lanes[2] + lanes[3];
    uint64_t wide[2];
    _mm_storeu_si128((__m128i*)wide, vsquares);
    squares += wide[0] + wide[1];
    int16_t tops[8];
    _mm_storeu_si128((__m128i*)tops, vtop);
    for (int i = 0; i < 8; i++)
        top = tops[i] > top ? tops[i] : top;
#endif
    for (; k < n; k++) {
        const int32_t d = (int32_t)read16(p + 2 * k) - 32768;
        sum += d;
        squares += (uint64_t)((int64_t)d * d);
        top = d > top ? d : top;
    }
    *s1 += sum;
    *s2 += squares;
    return (uint32_t)(top + 32768);
}

/* The 16-bit routine over little-endian samples at any alignment. */
static double stddev_16(const uint8_t* data, size_t count, bool* saturated) {
    if (data == NULL || count < 1) return 0;
    if (saturated) *saturated = false;
    const int32_t shift = (int32_t)read16(data);
    int64_t d1 = 0; /* sums about 32768: exact, the squares modulo 2^64 */
    uint64_t d2 = 0;
    size_t first_hit = SIZE_MAX;
    for (size_t start = 0; start < count; start += BLOCK) {
        const size_t n = count - start < BLOCK ? count - start : BLOCK;
        const uint32_t top = moments_16(data + 2 * start, n, &d1, &d2);
        if (top >= 65408 && first_hit == SIZE_MAX)
            for (size_t k = start; k < start + n && first_hit == SIZE_MAX; k++)
                if (read16(data + 2 * k) >= 65408) first_hit = k;
    }
    /* Moved to the first sample: sum (d - c)^2 = d2 - 2 c d1 + n c^2, exact modulo 2^64 and
    ** below 2^64 (fewer than 2^32 samples of at most 65535^2), so exact. */
    const int64_t c = shift - 32768;
    const uint64_t n = count;
    moments m = {d1 - (int64_t)n * c, 0, first_hit};
    const uint64_t s2 = d2 - 2 * (uint64_t)c * (uint64_t)d1 + n * (uint64_t)c * (uint64_t)c;
    m.d2 = (double)s2;
    double mean;
    const double result = deviation(&m, count, shift, 1, &mean);
    if (saturated && first_hit != SIZE_MAX)
        saturation_test(data, count, first_hit, 2, 16, 2, 65408, 65407, mean, saturated);
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
