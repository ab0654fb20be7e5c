/*
** solvan_raw_pixels: private helpers of the star-analysis sources: pixel sizes, sample reads
** and the two ways of reading a colour pixel as one intensity. Not part of the public
** interface; every function is static inline.
**
** Samples are read byte by byte or through memcpy (16-bit samples little-endian), so a frame
** needs no particular alignment.
*/
#ifndef SOLVAN_RAW_PIXELS_H
#define SOLVAN_RAW_PIXELS_H

#include "solvan_raw_utils.h"

#include <string.h>

/* Returns the bytes per pixel of a raw type, or 0 for a code that is none of the six. */
static inline int bytes_per_pixel(solvan_raw_type type) {
    switch (type) {
        case SOLVAN_RAW_MONO8:
            return 1;
        case SOLVAN_RAW_MONO16:
            return 2;
        case SOLVAN_RAW_RGB24:
            return 3;
        case SOLVAN_RAW_RGBA32:
        case SOLVAN_RAW_ARGB32:
            return 4;
        case SOLVAN_RAW_RGB48:
            return 6;
        default:
            return 0;
    }
}

/* Returns the little-endian 16-bit sample at p (one plain load on little-endian hosts). */
static inline uint32_t read16(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
#else
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
#endif
}

/* Returns the address of pixel (x, y). */
static inline const uint8_t* pixel_at(const uint8_t* frame, int bpp, int width, int x, int y) {
    return frame + ((size_t)y * (size_t)width + (size_t)x) * (size_t)bpp;
}

/* Returns the grey sample, or the sum of the three colour samples, of the pixel at p. */
static inline uint32_t channel_sum(solvan_raw_type type, const uint8_t* p) {
    switch (type) {
        case SOLVAN_RAW_MONO8:
            return p[0];
        case SOLVAN_RAW_MONO16:
            return read16(p);
        case SOLVAN_RAW_RGB24:
        case SOLVAN_RAW_RGBA32:
            return (uint32_t)p[0] + p[1] + p[2];
        case SOLVAN_RAW_ARGB32:
            return (uint32_t)p[1] + p[2] + p[3];
        case SOLVAN_RAW_RGB48:
            return read16(p) + read16(p + 2) + read16(p + 4);
        default:
            return 0;
    }
}

/* Returns the grey sample, or the integer mean of the three colour samples, of the pixel at p. */
static inline uint32_t channel_mean(solvan_raw_type type, const uint8_t* p) {
    if (type == SOLVAN_RAW_MONO8 || type == SOLVAN_RAW_MONO16) return channel_sum(type, p);
    return channel_sum(type, p) / 3;
}

/* Fills out[0 .. count - 1] with the intensities of `count` consecutive pixels starting at p:
** channel sums when `sum` is set, else channel means. Typed loops, one per layout. */
static inline void intensity_row(solvan_raw_type type, const uint8_t* p, int count, bool sum,
                                 uint32_t* out) {
    switch (type) {
        case SOLVAN_RAW_MONO8:
            for (int i = 0; i < count; i++)
                out[i] = p[i];
            return;
        case SOLVAN_RAW_MONO16:
            for (int i = 0; i < count; i++)
                out[i] = read16(p + 2 * i);
            return;
        case SOLVAN_RAW_RGB24:
            for (int i = 0; i < count; i++)
                out[i] = (uint32_t)p[3 * i] + p[3 * i + 1] + p[3 * i + 2];
            break;
        case SOLVAN_RAW_RGBA32:
            for (int i = 0; i < count; i++)
                out[i] = (uint32_t)p[4 * i] + p[4 * i + 1] + p[4 * i + 2];
            break;
        case SOLVAN_RAW_ARGB32:
            for (int i = 0; i < count; i++)
                out[i] = (uint32_t)p[4 * i + 1] + p[4 * i + 2] + p[4 * i + 3];
            break;
        case SOLVAN_RAW_RGB48:
            for (int i = 0; i < count; i++)
                out[i] = read16(p + 6 * i) + read16(p + 6 * i + 2) + read16(p + 6 * i + 4);
            break;
        default:
            for (int i = 0; i < count; i++)
                out[i] = 0;
            return;
    }
    if (!sum)
        for (int i = 0; i < count; i++)
            out[i] /= 3;
}

#endif /* SOLVAN_RAW_PIXELS_H */
