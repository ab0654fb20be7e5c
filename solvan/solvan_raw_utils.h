/*
** solvan_raw_utils: star analysis on raw frames.
**
** A raw frame is a bare, row-major pixel array without padding, described by a
** solvan_raw_type (solvan_bus.h), a width and a height; row 0 is the first row in memory.
** Colour pixels are read as one intensity in one of two ways: the channel mean (the integer
** quotient (c0 + c1 + c2) / 3, used by the PSF measurement) or the channel sum (used by the
** centroids). The routines keep no state and never keep or change the caller's pixels.
**
** Plain C11, usable from C++.
*/
#ifndef SOLVAN_RAW_UTILS_H
#define SOLVAN_RAW_UTILS_H

#include "solvan_bus.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Algorithms of a solvan_digest. */
enum {
    SOLVAN_DIGEST_NONE = 0,     /* empty or deleted digest */
    SOLVAN_DIGEST_CENTROID = 1, /* centroid of a frame or a selection */
    SOLVAN_DIGEST_DONUTS = 2    /* x and y profile spectra */
};

/* A compact description of a frame, filled by the centroid and donuts routines. */
typedef struct {
    uint32_t algorithm; /* one of SOLVAN_DIGEST_* */
    int32_t width;      /* frame width, or length of the x spectrum (power of two) */
    int32_t height;     /* frame height, or length of the y spectrum (power of two) */
    union {
        double centroid_x; /* centroid x in pixels; pixel i covers [i, i + 1) */
        double* fft_x;     /* owned array of `width` complex values (real, imaginary) */
    };
    union {
        double centroid_y; /* centroid y in pixels, row 0 first */
        double* fft_y;     /* owned array of `height` complex values (real, imaginary) */
    };
    double snr; /* signal-to-noise ratio of the two profiles; centroids leave it alone */
} solvan_digest;

/* Measures the star at (x, y), where pixel (i, j) is centred on the integer point (i, j), in
** the (2 radius + 1)-square window centred on the nearest pixel. Intensity: channel mean.
** Returns SOLVAN_OK with the full width at half maximum, the half-flux diameter (both in
** pixels; 2 radius + 1 when there is nothing to measure) and the peak above the background
** written; or SOLVAN_FAILED (bad argument or type, radius < 1, 2 radius not less than the
** frame's width or height, window outside the frame, no memory) with nothing written. */
int solvan_measure_psf(solvan_raw_type type, const void* data, double x, double y, int radius,
                       int width, int height, double* fwhm, double* hfd, double* peak);

/* Returns the sample at (x, y) of a grey 8-bit frame with a lone hot pixel replaced by the
** median of it and its four diagonal neighbours. A position on (or beyond) the outer edge reads
** as its inner neighbour. Frames narrower or lower than 3 pixels are returned unfiltered (the
** sample at the position clamped into the frame); a missing frame or an empty size gives 0. */
int solvan_filter_hot_pixel_8(const uint8_t* data, int x, int y, int width, int height);
/* The same for a grey 16-bit little-endian frame. */
int solvan_filter_hot_pixel_16(const uint16_t* data, int x, int y, int width, int height);

/* Refines *x, *y (pixel i covers [i, i + 1)) to the centroid of the light above 1.2 times the
** mean of the (2 radius + 1)-square window centred on the nearest pixel. Grey pixels pass the
** hot-pixel filter; colour pixels count by their channel sum. Returns SOLVAN_OK with *x, *y
** and the digest (algorithm, width, height, centroid) written; SOLVAN_NO_STAR when no pixel
** rises above the threshold; SOLVAN_FAILED for a bad argument or type, a window not smaller
** than the frame or not wholly inside it. On any result but SOLVAN_OK nothing is written. */
int solvan_selection_centroid(solvan_raw_type type, const void* data, double* x, double* y,
                              int radius, int width, int height, solvan_digest* digest);

/* Runs solvan_selection_centroid `count` times, each run starting where the previous one left
** the position, and returns the last run's result; SOLVAN_FAILED for a count below 1. */
int solvan_selection_centroid_repeat(solvan_raw_type type, const void* data, double* x, double* y,
                                     int radius, int width, int height, solvan_digest* digest,
                                     int count);

/* Weighs the whole frame by its intensities (grey samples unfiltered, colour channel sums).
** Returns SOLVAN_OK with the digest (algorithm, width, height, centroid) written; SOLVAN_NO_STAR
** when no pixel rises above 1.2 times the frame's mean; SOLVAN_FAILED for a bad argument or
** type or a frame narrower or lower than 3 pixels. On any result but SOLVAN_OK nothing is
** written. */
int solvan_frame_centroid(solvan_raw_type type, const void* data, int width, int height,
                          solvan_digest* digest);

#ifdef __cplusplus
}
#endif

#endif /* SOLVAN_RAW_UTILS_H */
