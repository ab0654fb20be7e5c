/*
** solvan_raw_utils: star analysis on raw frames (PSF measurement, hot-pixel filter,
** selection and frame centroids).
**
** Two coordinate conventions meet here and are kept apart on purpose: the PSF measurement
** centres pixel i on the integer i, while the centroids count pixel i as [i, i + 1), so a
** lone lit pixel in column i has its centroid at i + 0.5.
**
** Samples are read byte by byte (16-bit samples little-endian), so a frame needs no particular
** alignment. Sums over windows and frames use 64-bit integers or doubles and never overflow.
*/
#include "solvan_raw_utils.h"

#include "solvan_raw_pixels_private.h"

#include <limits.h>
#include <math.h>
#include <stdlib.h>

/* The digest is a 40-byte record on 64-bit hosts. */
_Static_assert(sizeof(void*) != 8 || sizeof(solvan_digest) == 40, "solvan_digest is 40 bytes");

/* Rounds a start position to the window centre (halves away from zero) and checks that the
** window of half-size `radius` lies wholly inside the frame. Returns false for a position
** that is not a finite number or a window reaching outside; else stores the centre. */
static bool window_centre(double x, double y, int radius, int width, int height, int* cx, int* cy) {
    if (!isfinite(x) || !isfinite(y)) return false;
    double rx = round(x), ry = round(y);
    if (rx - radius < 0 || ry - radius < 0) return false;
    if (rx + radius > (double)width - 1 || ry + radius > (double)height - 1) return false;
    *cx = (int)rx;
    *cy = (int)ry;
    return true;
}

/* ---- PSF measurement. */

/* Returns the radius at which the walk from the centre (cx, cy) in direction (dx, dy) first
** falls to `half`, interpolated linearly between the last pixel above and the first at or
** below it; `radius` when it never does within radius - 1 steps. */
static double walk_to_half(solvan_raw_type type, const uint8_t* frame, int bpp, int width, int cx,
                           int cy, int dx, int dy, int radius, double maximum, double half) {
    double m = maximum;
    for (int i = 1; i < radius; i++) {
        double v = channel_mean(type, pixel_at(frame, bpp, width, cx + i * dx, cy + i * dy));
        if (v <= half) return v == m ? i : (m - half) / (m - v) + (i - 1);
        if (v < m) m = v;
    }
    return radius;
}

int solvan_measure_psf(solvan_raw_type type, const void* data, double x, double y, int radius,
                       int width, int height, double* fwhm, double* hfd, double* peak) {
    const int bpp = bytes_per_pixel(type);
    if (bpp == 0) return SOLVAN_FAILED;
    /* The window's border ring of 8r pixels must be countable in an int. */
    if (radius < 1 || radius > INT_MAX / 8 || 2 * (int64_t)radius >= width ||
        2 * (int64_t)radius >= height)
        return SOLVAN_FAILED;
    int cx, cy;
    if (!window_centre(x, y, radius, width, height, &cx, &cy)) return SOLVAN_FAILED;
    if (data == NULL || fwhm == NULL || hfd == NULL || peak == NULL) return SOLVAN_FAILED;

    const int ring_count = 8 * radius; /* pixels on the window's border */
    int32_t* ring = malloc((size_t)ring_count * sizeof *ring);
    if (ring == NULL) return SOLVAN_FAILED;

    const uint8_t* frame = data;
    const int left = cx - radius, right = cx + radius, top = cy - radius, bottom = cy + radius;

    /* First pass: the window's maximum, and its border as the background sample. */
    uint32_t maximum = 0;
    double ring_sum = 0;
    int stored = 0;
    for (int row = top; row <= bottom; row++) {
        for (int col = left; col <= right; col++) {
            uint32_t v = channel_mean(type, pixel_at(frame, bpp, width, col, row));
            if (v > maximum) maximum = v;
            if (row == top || row == bottom || col == left || col == right) {
                ring_sum += v;
                ring[stored++] = (int32_t)v;
            }
        }
    }
    const double background = ring_sum / ring_count;
    *peak = maximum - background;

    /* Ring deviation, accumulated in 32 bits and held at its largest value. */
    int32_t deviation = 0;
    for (int i = 0; i < ring_count; i++) {
        double d = ring[i] - background;
        double next = d * d + deviation;
        deviation = next >= (double)INT32_MAX ? INT32_MAX : (int32_t)next;
    }
    free(ring);
    const int32_t variance = deviation / ring_count;
    const double stddev = sqrt((double)variance);

    const double hfd_threshold = background + 2 * stddev;
    const double fwhm_threshold = background + 6 * stddev;
    solvan_debug("HFD : background = %2f, stddev = %.2f, threshold = %.2f, max = %.2f", background,
                 stddev, hfd_threshold, (double)maximum);
    solvan_debug("FWHM: background = %2f, stddev = %.2f, threshold = %.2f, max = %.2f", background,
                 stddev, fwhm_threshold, (double)maximum);

    const double no_measurement = 2 * radius + 1;

    /* HFD: twice the flux-weighted mean distance from the unrounded position. A window with
    ** no flux above the background (F = 0) has nothing to measure. */
    double diameter = no_measurement;
    if (maximum >= hfd_threshold) {
        double weighted = 0, flux = 0;
        for (int row = top; row <= bottom; row++) {
            for (int col = left; col <= right; col++) {
                double e = channel_mean(type, pixel_at(frame, bpp, width, col, row)) - background;
                if (e > 0) {
                    weighted += sqrt((x - col) * (x - col) + (y - row) * (y - row)) * e;
                    flux += e;
                }
            }
        }
        if (flux > 0) diameter = 2 * weighted / flux;
    }
    *hfd = diameter;

    /* FWHM: the four half-widths walked from the centre pixel, left, up, down and right. */
    double width_at_half = no_measurement;
    if (maximum >= fwhm_threshold) {
        const double half = background + *peak / 2;
        static const int steps[4][2] = {{-1, 0}, {0, -1}, {0, 1}, {1, 0}};
        double radii = 0;
        for (int k = 0; k < 4; k++)
            radii += radius >= 2 ? walk_to_half(type, frame, bpp, width, cx, cy, steps[k][0],
                                                steps[k][1], radius, maximum, half)
                                 : radius;
        width_at_half = radii / 2;
        if (!(width_at_half >= 1 && width_at_half <= 2 * radius)) width_at_half = no_measurement;
    }
    *fwhm = width_at_half;
    return SOLVAN_OK;
}

/* ---- Hot-pixel filter. */

/* Returns the sample at (x, y) of a grey frame of `bpp` (1 or 2) bytes per sample. */
static inline uint32_t grey_at(const uint8_t* frame, int bpp, int width, int x, int y) {
    const uint8_t* p = pixel_at(frame, bpp, width, x, y);
    return bpp == 1 ? p[0] : read16(p);
}

static int clamp(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

/* The filter of both grey widths; see solvan_filter_hot_pixel_8. */
static int filter_hot_pixel(const uint8_t* frame, int bpp, int x, int y, int width, int height) {
    if (frame == NULL || width < 1 || height < 1) return 0;
    if (width < 3 || height < 3) /* no neighbours on both sides: nothing to compare */
        return (int)grey_at(frame, bpp, width, clamp(x, 0, width - 1), clamp(y, 0, height - 1));
    x = clamp(x, 1, width - 2);
    y = clamp(y, 1, height - 2);
    uint32_t a[5] = {grey_at(frame, bpp, width, x - 1, y - 1),
                     grey_at(frame, bpp, width, x + 1, y - 1), grey_at(frame, bpp, width, x, y),
                     grey_at(frame, bpp, width, x - 1, y + 1),
                     grey_at(frame, bpp, width, x + 1, y + 1)};
    const uint32_t centre = a[2];
    /* Selection sort of the three largest: then a[2] is the median of the five. */
    for (int k = 0; k < 3; k++) {
        int largest = k;
        for (int i = k + 1; i < 5; i++)
            if (a[i] > a[largest]) largest = i;
        uint32_t t = a[k];
        a[k] = a[largest];
        a[largest] = t;
    }
    if (a[0] != centre) return (int)centre;
    return (int)(centre > 2 * a[1] ? a[2] : centre);
}

int solvan_filter_hot_pixel_8(const uint8_t* data, int x, int y, int width, int height) {
    return filter_hot_pixel(data, 1, x, y, width, height);
}

int solvan_filter_hot_pixel_16(const uint16_t* data, int x, int y, int width, int height) {
    return filter_hot_pixel((const uint8_t*)data, 2, x, y, width, height);
}

/* ---- Centroids. */

/* Returns the intensity of pixel (x, y) for the selection centroid: the filtered sample of a
** grey frame, the channel sum of a colour one. */
static inline uint32_t selection_intensity(solvan_raw_type type, const uint8_t* frame, int bpp,
                                           int x, int y, int width, int height) {
    if (type == SOLVAN_RAW_MONO8 || type == SOLVAN_RAW_MONO16)
        return (uint32_t)filter_hot_pixel(frame, bpp, x, y, width, height);
    return channel_sum(type, pixel_at(frame, bpp, width, x, y));
}

int solvan_selection_centroid(solvan_raw_type type, const void* data, double* x, double* y,
                              int radius, int width, int height, solvan_digest* digest) {
    const int bpp = bytes_per_pixel(type);
    if (bpp == 0 || x == NULL || y == NULL || radius < 0) return SOLVAN_FAILED;
    const int64_t n = 2 * (int64_t)radius + 1; /* side of the window */
    if (n >= width || n >= height) return SOLVAN_FAILED;
    int cx, cy;
    if (!window_centre(*x, *y, radius, width, height, &cx, &cy)) return SOLVAN_FAILED;
    if (data == NULL || digest == NULL) return SOLVAN_FAILED;

    const uint8_t* frame = data;
    const int left = cx - radius, top = cy - radius;

    uint64_t sum = 0;
    uint32_t maximum = 0;
    for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) {
            uint32_t v = selection_intensity(type, frame, bpp, left + i, top + j, width, height);
            sum += v;
            if (v > maximum) maximum = v;
        }
    }
    const double threshold = 1.2 * (double)sum / (double)(n * n);
    solvan_debug("Selection: threshold = %.3f, max = %.3f", threshold, (double)maximum);
    if (maximum <= threshold) return SOLVAN_NO_STAR;

    /* Weights above the threshold; window indices are 1-based, hence the - 0.5 below. */
    double sx = 0, sy = 0, s = 0;
    for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) {
            double w =
                selection_intensity(type, frame, bpp, left + i, top + j, width, height) - threshold;
            if (w > 0) {
                sx += w * (i + 1);
                sy += w * (j + 1);
                s += w;
            }
        }
    }
    *x = sx / s + left - 0.5;
    *y = sy / s + top - 0.5;
    digest->algorithm = SOLVAN_DIGEST_CENTROID;
    digest->width = width;
    digest->height = height;
    digest->centroid_x = *x;
    digest->centroid_y = *y;
    return SOLVAN_OK;
}

int solvan_selection_centroid_repeat(solvan_raw_type type, const void* data, double* x, double* y,
                                     int radius, int width, int height, solvan_digest* digest,
                                     int count) {
    if (count < 1) return SOLVAN_FAILED;
    int result = SOLVAN_FAILED;
    for (int i = 0; i < count; i++)
        result = solvan_selection_centroid(type, data, x, y, radius, width, height, digest);
    return result;
}

int solvan_frame_centroid(solvan_raw_type type, const void* data, int width, int height,
                          solvan_digest* digest) {
    const int bpp = bytes_per_pixel(type);
    if (bpp == 0 || width < 3 || height < 3 || data == NULL || digest == NULL) return SOLVAN_FAILED;
    const uint8_t* frame = data;
    const size_t count = (size_t)width * (size_t)height;

    uint64_t sum = 0;
    uint32_t maximum = 0;
    for (size_t k = 0; k < count; k++) {
        uint32_t v = channel_sum(type, frame + k * (size_t)bpp);
        sum += v;
        if (v > maximum) maximum = v;
    }
    const double threshold = 1.2 * (double)sum / (double)count;
    solvan_debug("Centroid: threshold = %.3f, max = %.3f", threshold, (double)maximum);
    if (maximum <= threshold) return SOLVAN_NO_STAR;

    /* Weights are the intensities themselves, with 1-based column and row. */
    double sx = 0, sy = 0;
    const uint8_t* p = frame;
    for (int j = 1; j <= height; j++) {
        double row_sum = 0, row_moment = 0;
        for (int c = 1; c <= width; c++, p += bpp) {
            double v = channel_sum(type, p);
            row_sum += v;
            row_moment += v * c;
        }
        sx += row_moment;
        sy += row_sum * j;
    }
    digest->algorithm = SOLVAN_DIGEST_CENTROID;
    digest->width = width;
    digest->height = height;
    digest->centroid_x = sx / (double)sum - 0.5;
    digest->centroid_y = sy / (double)sum - 0.5;
    return SOLVAN_OK;
}
