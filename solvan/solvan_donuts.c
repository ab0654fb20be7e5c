/*
** solvan_donuts: the donuts digest of a raw frame (the spectra of its x and y projection
** profiles), the signal-to-noise measure of a profile and the radix-2 FFT they share with
** the drift correlation.
**
** The digest reads the frame twice: once for the threshold (1.15 times the mean of the
** filtered region), once for the profiles. Grey rows are filtered whole: inside the frame the
** hot-pixel filter reduces to "the centre unless it exceeds twice its largest diagonal
** neighbour, then the second largest diagonal" (the median of the five when the centre is
** their largest), a branch-free row loop; pixels on the frame's edge go through
** solvan_filter_hot_pixel_8/16. The profiles are summed in integers as (value - floor(T)) and
** counts, the fraction of T taken off per column and row at the end, so the second pass holds
** no floating point.
*/
#include "solvan_raw_utils.h"

#include "solvan_raw_pixels.h"

#include <float.h>
#include <math.h>
#include <stdlib.h>

static inline uint32_t max_u32(uint32_t a, uint32_t b) {
    return a > b ? a : b;
}
static inline uint32_t min_u32(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}

/* The grey sample of `bytes` (1 or 2) at index x of a row. */
static inline uint32_t grey(const uint8_t* row, int bytes, int x) {
    return bytes == 1 ? row[x] : read16(row + 2 * x);
}

/* The hot-pixel-filtered sample at (x, y) of a grey frame of `bpp` bytes per sample. */
static inline uint32_t filtered(const uint8_t* frame, int bpp, int x, int y, int width,
                                int height) {
    return (uint32_t)(bpp == 1 ? solvan_filter_hot_pixel_8(frame, x, y, width, height)
                               : solvan_filter_hot_pixel_16((const uint16_t*)(const void*)frame, x,
                                                            y, width, height));
}

/* Filtered intensities of row y, columns x0 ... x0 + count - 1, into out: hot-pixel-filtered
** grey samples, channel sums for colour. */
static void intensity_of_row(solvan_raw_type type, const uint8_t* frame, int bpp, int width,
                             int height, int y, int x0, int count, uint32_t* out) {
    if (type != SOLVAN_RAW_MONO8 && type != SOLVAN_RAW_MONO16) {
        intensity_row(type, pixel_at(frame, bpp, width, x0, y), count, true, out);
        return;
    }
    int x = x0;
    const int end = x0 + count;
    const bool interior_row = width >= 3 && height >= 3 && y >= 1 && y <= height - 2;
    if (interior_row) {
        const uint8_t* up = pixel_at(frame, bpp, width, 0, y - 1);
        const uint8_t* mid = pixel_at(frame, bpp, width, 0, y);
        const uint8_t* down = pixel_at(frame, bpp, width, 0, y + 1);
        int from = x0 < 1 ? 1 : x0, to = end > width - 1 ? width - 1 : end;
        for (; x < from; x++)
            out[x - x0] = filtered(frame, bpp, x, y, width, height);
        if (bpp == 1) {
            for (; x < to; x++) {
                uint32_t a = max_u32(up[x - 1], up[x + 1]), b = min_u32(up[x - 1], up[x + 1]);
                uint32_t e = max_u32(down[x - 1], down[x + 1]),
                         g = min_u32(down[x - 1], down[x + 1]);
                uint32_t d = max_u32(a, e), second = max_u32(min_u32(a, e), max_u32(b, g));
                uint32_t c = mid[x];
                out[x - x0] = c > 2 * d ? second : c;
            }
        } else {
            for (; x < to; x++) {
                uint32_t ul = grey(up, 2, x - 1), ur = grey(up, 2, x + 1);
                uint32_t dl = grey(down, 2, x - 1), dr = grey(down, 2, x + 1);
                uint32_t a = max_u32(ul, ur), b = min_u32(ul, ur);
                uint32_t e = max_u32(dl, dr), g = min_u32(dl, dr);
                uint32_t d = max_u32(a, e), second = max_u32(min_u32(a, e), max_u32(b, g));
                uint32_t c = grey(mid, 2, x);
                out[x - x0] = c > 2 * d ? second : c;
            }
        }
    }
    /* Edge rows and columns: the filter's own clamping. */
    for (; x < end; x++)
        out[x - x0] = filtered(frame, bpp, x, y, width, height);
}

/* The smallest power of two not below n (n >= 1). */
static int power_of_two_above(int n) {
    int p = 1;
    while (p < n)
        p *= 2;
    return p;
}

/* Replaces the real parts of profile[0 ... n - 1] by the three-point median of their integer
** parts, with 0 beyond either end. */
static void median_filter(double* profile, int n, double* work) {
    for (int k = 0; k < n; k++)
        work[k] = trunc(profile[2 * k]);
    for (int k = 0; k < n; k++) {
        double a = k > 0 ? work[k - 1] : 0, b = work[k], c = k + 1 < n ? work[k + 1] : 0;
        double lo = a < b ? a : b, hi = a < b ? b : a;
        profile[2 * k] = c <= lo ? lo : c >= hi ? hi : c;
    }
}

int solvan_donuts_digest(solvan_raw_type type, const void* data, int width, int height,
                         int edge_clipping, solvan_digest* digest) {
    const int bpp = bytes_per_pixel(type);
    const int e = edge_clipping;
    if (bpp == 0 || data == NULL || digest == NULL || e < 0) return SOLVAN_FAILED;
    if (2 * (int64_t)e >= width || 2 * (int64_t)e >= height) return SOLVAN_FAILED;
    const uint8_t* frame = data;
    const int w = width - 2 * e, h = height - 2 * e; /* the inner region */

    uint32_t* row = solvan_safe_malloc((size_t)w * sizeof *row);
    uint64_t sum = 0;
    uint32_t maximum = 0;
    for (int y = e; y < e + h; y++) {
        intensity_of_row(type, frame, bpp, width, height, y, e, w, row);
        uint64_t row_sum = 0;
        uint32_t row_max = 0;
        for (int x = 0; x < w; x++) {
            row_sum += row[x];
            row_max = row[x] > row_max ? row[x] : row_max;
        }
        sum += row_sum;
        maximum = row_max > maximum ? row_max : maximum;
    }
    const double threshold = 1.15 * (double)sum / ((double)w * (double)h);
    solvan_debug("Donuts: threshold = %.3f, max = %.3f, edge_clipping = %dpx", threshold,
                 (double)maximum, e);
    if (maximum <= threshold) {
        free(row);
        return SOLVAN_NO_STAR;
    }

    /* Second pass: (value - floor(T)) and counts per column and row of the values above T. */
    const uint32_t floor_t = (uint32_t)threshold;
    const double fraction = threshold - floor_t;
    uint64_t* column_sum = solvan_safe_malloc((size_t)w * sizeof *column_sum);
    uint32_t* column_count = solvan_safe_malloc((size_t)w * sizeof *column_count);
    const int nx = power_of_two_above(w), ny = power_of_two_above(h);
    double* x_profile = solvan_safe_malloc((size_t)nx * 2 * sizeof(double));
    double* y_profile = solvan_safe_malloc((size_t)ny * 2 * sizeof(double));
    for (int y = 0; y < h; y++) {
        intensity_of_row(type, frame, bpp, width, height, y + e, e, w, row);
        uint64_t row_sum = 0;
        uint32_t row_count = 0;
        for (int x = 0; x < w; x++) {
            const uint32_t v = row[x];
            const uint32_t above = v > floor_t;
            const uint32_t excess = above ? v - floor_t : 0;
            column_sum[x] += excess;
            column_count[x] += above;
            row_sum += excess;
            row_count += above;
        }
        y_profile[2 * y] = (double)row_sum - row_count * fraction;
    }
    for (int x = 0; x < w; x++)
        x_profile[2 * x] = (double)column_sum[x] - column_count[x] * fraction;
    free(column_count);
    free(column_sum);
    free(row);

    if (bpp != 1 && bpp != 2) { /* colour frames: a three-point median against noise */
        double* work = solvan_safe_malloc((size_t)(w > h ? w : h) * sizeof *work);
        median_filter(x_profile, w, work);
        median_filter(y_profile, h, work);
        free(work);
    }

    const double snr_x = solvan_profile_snr(x_profile, w), snr_y = solvan_profile_snr(y_profile, h);
    const double snr = snr_x / 2 + snr_y / 2; /* no overflow for the DBL_MAX of a clean profile */

    double* fft_x = solvan_safe_malloc((size_t)nx * 2 * sizeof(double));
    double* fft_y = solvan_safe_malloc((size_t)ny * 2 * sizeof(double));
    const int n = nx > ny ? nx : ny;
    double* scratch = solvan_safe_malloc((size_t)n * 2 * sizeof(double));
    solvan_fft(nx, 0, 1, x_profile, fft_x, scratch);
    solvan_fft(ny, 0, 1, y_profile, fft_y, scratch);
    free(scratch);
    free(x_profile);
    free(y_profile);

    digest->algorithm = SOLVAN_DIGEST_DONUTS;
    digest->width = nx;
    digest->height = ny;
    digest->fft_x = fft_x;
    digest->fft_y = fft_y;
    digest->snr = snr;
    return SOLVAN_OK;
}

double solvan_profile_snr(double* profile, int length) {
    const int n = length;
    if (profile == NULL || n < 1) return 0;
    if (n < 12) { /* no sample between the margins: zero what margins there are */
        for (int p = 0; p < n && p < 6; p++)
            profile[2 * p] = 0;
        for (int p = n - 5 < 0 ? 0 : n - 5; p < n; p++)
            profile[2 * p] = 0;
        return 0;
    }
    /* Local floor from the unchanged profile: the minimum of the eleven samples around p. */
    double* floor_of = solvan_safe_malloc((size_t)n * sizeof *floor_of);
    for (int p = 6; p <= n - 6; p++) {
        double m = profile[2 * (p - 5)];
        for (int q = p - 4; q <= p + 5; q++)
            m = profile[2 * q] < m ? profile[2 * q] : m;
        floor_of[p] = m;
    }
    for (int p = 0; p <= 5; p++)
        profile[2 * p] = 0;
    for (int p = n - 5; p < n; p++)
        profile[2 * p] = 0;

    const int count = n - 11;
    double sum = 0;
    for (int p = 6; p <= n - 6; p++) {
        profile[2 * p] -= floor_of[p];
        sum += profile[2 * p];
    }
    free(floor_of);
    const double mean = sum / count;
    double squares = 0;
    for (int p = 6; p <= n - 6; p++)
        squares += (profile[2 * p] - mean) * (profile[2 * p] - mean);
    const double limit = mean + sqrt(squares / count);

    double signal = 0, noise = 0;
    int signal_count = 0, noise_count = 0;
    for (int p = 6; p <= n - 6; p++) {
        const double v = profile[2 * p];
        if (v > limit) {
            signal += v * v;
            signal_count++;
        } else {
            noise += v * v;
            noise_count++;
        }
    }
    if (signal_count == 0 || noise_count == 0) return 0;
    if (noise == 0) return DBL_MAX; /* a clean profile: unbounded, but a number */
    const double snr = (signal / signal_count) / (noise / noise_count);
    return isfinite(snr) ? snr : isnan(snr) ? 0 : DBL_MAX;
}

/* The recursion of solvan_fft (n >= 2, a power of two). */
static void fft(int n, size_t offset, size_t stride, const double* in, double* out,
                double* scratch) {
    if (n == 2) {
        const double* a = in + 2 * offset;
        const double* b = in + 2 * (offset + stride);
        double* o = out + 2 * offset;
        double* p = out + 2 * (offset + stride);
        const double are = a[0], aim = a[1], bre = b[0], bim = b[1];
        o[0] = are + bre, o[1] = aim + bim;
        p[0] = are - bre, p[1] = aim - bim;
        return;
    }
    const int h = n / 2;
    fft(h, offset, 2 * stride, in, scratch, out);
    fft(h, offset + stride, 2 * stride, in, scratch, out);
    for (int k = 0; k < h; k++) {
        const double a = k * 6.283185307179586 / n;
        const double c = cos(a), s = sin(a);
        const double* even = scratch + 2 * (offset + 2 * (size_t)k * stride);
        const double* odd = scratch + 2 * (offset + (2 * (size_t)k + 1) * stride);
        const double tre = c * odd[0] + s * odd[1], tim = c * odd[1] - s * odd[0];
        const double ere = even[0], eim = even[1];
        double* lo = out + 2 * (offset + (size_t)k * stride);
        double* hi = out + 2 * (offset + (size_t)(k + h) * stride);
        lo[0] = ere + tre, lo[1] = eim + tim;
        hi[0] = ere - tre, hi[1] = eim - tim;
    }
}

void solvan_fft(int n, int offset, int stride, const double* input, double* output,
                double* scratch) {
    if (n < 2 || (n & (n - 1)) != 0 || offset < 0 || stride < 1) return;
    if (input == NULL || output == NULL || scratch == NULL) return;
    fft(n, (size_t)offset, (size_t)stride, input, output, scratch);
}
