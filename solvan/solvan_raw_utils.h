/*
** solvan_raw_utils: star analysis on raw frames.
**
** A raw frame is a bare, row-major pixel array without padding, described by a
** solvan_raw_type (solvan_bus.h), a width and a height; row 0 is the first row in memory.
** Colour pixels are read as one intensity in one of two ways: the channel mean (the integer
** quotient (c0 + c1 + c2) / 3, used by the PSF measurement) or the channel sum (used by the
** centroids and the donuts digest). The routines keep no state and never keep or change the
** caller's pixels; the frame statistics, donuts digest, FFT and drift, multistar reduction and
** guider response, and the star finder each live in a source of their own behind this header.
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

/* ---- Frame statistics and the saturation test. */

/* Returns the population standard deviation of the frame's samples scaled to 0 ... 1 (divided
** by 255 or 65535): grey frames over their samples, RGB24 and RGB48 over all colour samples as
** one stream, the two 32-bit layouts over their pixels' channel means. Returns 1.0 for a missing
** frame or an empty size, 0.0 for a type that is none of the six. When `saturated` is given it
** is cleared and then set when a saturated star is found (see solvan_stddev_8bit). */
double solvan_frame_stddev(solvan_raw_type type, const void* data, int width, int height,
                           bool* saturated);

/* Returns the population standard deviation of `count` 8-bit samples; 0 for a count of 0 or a
** missing array (then `saturated` is left alone). When `saturated` is given it is cleared, then
** set when some sample s[i] (0 < i < count - 1) of 248 or more has a median of s[i - 1], s[i],
** s[i + 1] above mean + (247 - mean) x 0.3: a star saturated over more than one pixel, not a
** lone hot pixel. The first such sample writes one debug line. */
double solvan_stddev_8bit(const uint8_t* data, size_t count, bool* saturated);
/* The same for 16-bit little-endian samples: saturation level 65408, base 65407. */
double solvan_stddev_16bit(const uint16_t* data, size_t count, bool* saturated);
/* The same for `count` 4-byte pixels with colour in bytes 0 ... 2: each pixel counts as
** (c0 + c1 + c2) / 3; the saturation test reads byte 0 and the bytes just before and after it
** in memory. Level 248, base 247. */
double solvan_stddev_rgba32(const uint8_t* data, size_t count, bool* saturated);
/* The same for 4-byte pixels with colour in bytes 1 ... 3; the test reads byte 1. */
double solvan_stddev_argb32(const uint8_t* data, size_t count, bool* saturated);

/* Returns the population standard deviation of `count` values; 0 for a count below 1 or a
** missing array. */
double solvan_mean_stddev(const double* values, int count);
/* Returns the root mean square of `count` values; 0 for a count below 1 or a missing array. */
double solvan_rms(const double* values, int count);

/* ---- Donuts digest and FFT. Complex arrays hold two doubles per value: real, imaginary. */

/* Describes the frame without its outer `edge_clipping` pixels on every side by the spectra of
** its x and y projection profiles (the light above 1.15 times the region's mean; grey samples
** through the hot-pixel filter, colour pixels by their channel sum). Returns SOLVAN_OK with the
** digest written: algorithm SOLVAN_DIGEST_DONUTS, width and height the transform lengths (the
** smallest powers of two not below the region's size), fft_x and fft_y newly allocated arrays
** of width and height complex values that the digest owns until solvan_delete_digest, and snr.
** Returns SOLVAN_NO_STAR when nothing rises above the threshold, SOLVAN_FAILED for a missing
** argument, a type that is none of the six, a negative clipping or one that leaves no region
** (or a region side above 2^30);
** in both cases nothing is written. A digest that still holds arrays is overwritten without
** freeing them: delete it first. */
int solvan_donuts_digest(solvan_raw_type type, const void* data, int width, int height,
                         int edge_clipping, solvan_digest* digest);

/* Flattens the real parts of a profile of `length` complex values in place (each sample minus
** the minimum of the eleven around it; the first six and the last five samples zeroed) and
** returns its signal-to-noise ratio: the mean power of the samples above mean + deviation over
** the mean power of the rest. Returns 0 when the profile is shorter than 12 samples (it is then
** only zeroed), has no signal or no noise sample, or is missing; DBL_MAX when the noise is
** exactly zero. Never NaN or infinite for finite input. */
double solvan_profile_snr(double* profile, int length);

/* Forward discrete Fourier transform (kernel e^(-2 pi i jk / n), unnormalised, natural order)
** of the n complex values input[offset + k stride], k = 0 ... n - 1, written to the same places
** of `output`; `scratch` (as large as output) is overwritten. n must be a power of two of at
** least 2; any other n leaves output and scratch untouched. */
void solvan_fft(int n, int offset, int stride, const double* input, double* output,
                double* scratch);

/* ---- Drift, multistar reduction, guider response. */

/* Returns in *drift_x, *drift_y how far the light moved from `reference` to `current` (new
** minus reference: positive x toward higher columns): the difference of the centroids for two
** centroid digests; the peaks of the cross-correlations of the two profile spectra, refined by
** a parabola through the peak and its two neighbours, for two donuts digests (a peak in the
** upper half of a profile of n values, n / 2 included, is a negative shift). Returns SOLVAN_OK,
** or SOLVAN_FAILED with nothing written when an argument is missing, the sizes or algorithms
** of the two differ, or the algorithm is neither centroid nor donuts (or a donuts digest lacks
** its arrays). */
int solvan_calculate_drift(const solvan_digest* reference, const solvan_digest* current,
                           double* drift_x, double* drift_y);

/* Writes to `output` (n complex values) the circular cross-correlation of the profiles whose
** spectra are `current` and `reference`: the inverse transform of current x conj(reference).
** Its peak index is the shift of the current profile. n must be a power of two of at least 2;
** any other n leaves output untouched. */
void solvan_correlate_fft(int n, const double* current, const double* reference, double* output);

/* Most stars one multistar reduction takes. */
#define SOLVAN_MAX_MULTISTAR 12

/* Combines the drifts of `count` stars (centroid digests references[i] -> currents[i]) into one:
** `result` becomes a centroid digest of the first current digest's size at the base digest's
** centroid moved by the mean drift of the stars used. With three or more stars whose drift
** could be computed, a star whose drift length is further than 1.5 deviations from the mean
** length is skipped; a star whose drift fails or is not finite (a NaN centroid) is never used.
** Returns SOLVAN_OK; SOLVAN_NO_STAR when no star is used (result holds the base centroid);
** SOLVAN_FAILED with nothing written for a missing argument, a count below 1 or above
** SOLVAN_MAX_MULTISTAR, or a base, first reference or first current digest that is not a
** centroid digest. */
int solvan_reduce_multistar_digest(const solvan_digest* base, const solvan_digest* references,
                                   const solvan_digest* currents, int count, solvan_digest* result);

/* Returns the proportional-integral guiding response -(p x drift + i x avg_drift x k) and writes
** it with its inputs as one debug line. (The name's spelling is the one callers link against.) */
double solvan_guider_reponse(double p, double i, double k, double drift, double avg_drift);

/* Frees a donuts digest's arrays and empties any digest (algorithm, width and height 0; the
** pointer places are left as they were and mean nothing). Deleting twice is harmless. Returns
** SOLVAN_OK, or SOLVAN_FAILED for a missing digest. */
int solvan_delete_digest(solvan_digest* digest);

/* ---- Star finding. */

/* One star found in a frame. */
typedef struct {
    double x;           /* column: the peak pixel's, or the refined centroid x */
    double y;           /* row (row 0 first in memory), likewise */
    double ncdist;      /* distance from the frame centre over half the smaller frame side */
    double lum;         /* natural log of the star's flood sum; lowest double when that is 0 */
    bool oversaturated; /* the peak reached full scale (255 or 65535) */
} solvan_star;

/* Finds up to max_stars stars, brightest (largest lum) first: each is the brightest pixel,
** away from a border of 20 pixels (a quarter of the height on frames lower than 80), above
** 1.35 times the frame's mean whose horizontal and vertical three-pixel medians also rise
** above that threshold (so a lone hot pixel is never taken); its light is then cleared
** from a work copy before the next search. With radius 3 or more each position is refined
** by two selection centroids of that radius (half-pixel convention) and a star whose
** refinement fails is dropped; with a smaller radius positions are whole pixels. Returns
** SOLVAN_OK with *found records written to `stars` (room for max_stars), found = 0 when there
** is no star, max_stars is below 1, the type is none of the six, the frame is smaller than
** 4 pixels either way or, with radius 3 or more, no refinement window fits it (2 radius + 1
** reaches its width or height; then no pixel is read); SOLVAN_FAILED with nothing written
** when data, stars or found is missing. */
int solvan_find_stars_refined(solvan_raw_type type, const void* data, int radius, int width,
                              int height, int max_stars, solvan_star* stars, uint32_t* found);

/* solvan_find_stars_refined without refinement (radius 0). */
int solvan_find_stars(solvan_raw_type type, const void* data, int width, int height, int max_stars,
                      solvan_star* stars, uint32_t* found);

/* qsort comparator of two solvan_star records: -1 when a's lum is greater, 1 when smaller,
** 0 otherwise (descending luminance). */
int solvan_compare_star_luminance(const void* a, const void* b);

#ifdef __cplusplus
}
#endif

#endif /* SOLVAN_RAW_UTILS_H */
