/*
** solvan_find_stars: the brightest stars of a raw frame, found one after the other: take the
** brightest pixel that is no lone hot pixel, clear the star around it from the work values,
** repeat; then sort by brightness.
**
** The work values are the frame's intensities (channel mean for colour) except where a star
** has been cleared to 0, so they are kept as the frame itself plus one bit per cleared pixel
** instead of a 16-bit copy.
**
** A pixel qualifies as a peak when its value v exceeds the threshold T and both three-pixel
** medians through it (row and column) do, that is when one horizontal and one vertical
** neighbour exceed T as well. Clearing only ever lowers values and the medians only fall with
** them, so a pixel that does not qualify never will later. The search area is cut into blocks
** of 32 x 32 pixels that each remember their best qualifying pixel (largest value, first in
** scan order): one scan of the frame fills them, a peak is the best of the block bests
** (larger value, then smaller scan position), and after a star is cleared only the blocks
** within one pixel of the cleared pixels are scanned again. This gives the same peaks, in the
** same order, as rescanning the whole search area for every star.
*/
#include "solvan_raw_utils.h"

#include "solvan_raw_pixels_private.h"

#include <float.h>
#include <math.h>
#include <stdlib.h>

enum { BLOCK_SIDE = 32, FLOOD_REACH = 100 };

typedef struct {
    solvan_raw_type type; /* frame layout */
    const uint8_t* frame; /* first pixel */
    int bpp;              /* bytes per pixel */
    int width, height;    /* frame size, pixels */
    uint8_t* cleared;     /* one bit per pixel (row-major): its work value is 0 */
    uint32_t threshold;   /* T: a peak and its medians must exceed it */
    uint32_t flood_limit; /* T2: the flood clears values above it */
    int left, right;      /* search area columns, inclusive */
    int top, bottom;      /* search area rows, inclusive */
    int blocks_x;         /* blocks across the search area */
    int blocks_y;         /* blocks down */
    int32_t* block_value; /* best qualifying value of each block, -1 for none */
    size_t* block_index;  /* its pixel index y * width + x */
} finder;

static inline bool is_cleared(const finder* f, size_t i) {
    return (f->cleared[i >> 3] >> (i & 7)) & 1;
}

/* The work value of pixel (x, y). */
static inline uint32_t work_at(const finder* f, int x, int y) {
    const size_t i = (size_t)y * (size_t)f->width + (size_t)x;
    return is_cleared(f, i) ? 0 : channel_mean(f->type, f->frame + i * (size_t)f->bpp);
}

/* Whether (x, y), inside the search area, qualifies as a peak with value v. */
static inline bool qualifies(const finder* f, int x, int y, uint32_t v) {
    const uint32_t t = f->threshold;
    return v > t && (work_at(f, x - 1, y) > t || work_at(f, x + 1, y) > t) &&
           (work_at(f, x, y - 1) > t || work_at(f, x, y + 1) > t);
}

/* The channel means of `count` pixels from p into out (values up to 65535). */
static void mean_row(solvan_raw_type type, const uint8_t* p, int count, uint16_t* out) {
    switch (type) {
        case SOLVAN_RAW_MONO8:
            for (int i = 0; i < count; i++)
                out[i] = p[i];
            break;
        case SOLVAN_RAW_MONO16:
            for (int i = 0; i < count; i++)
                out[i] = (uint16_t)read16(p + 2 * i);
            break;
        default: {
            const int bpp = bytes_per_pixel(type);
            for (int i = 0; i < count; i++)
                out[i] = (uint16_t)channel_mean(type, p + (size_t)i * (size_t)bpp);
        }
    }
}

/* The sum of all work values of the untouched frame, row by row in 64 bits. */
static uint64_t frame_sum(const finder* f, uint16_t* row) {
    uint64_t sum = 0;
    for (int y = 0; y < f->height; y++) {
        mean_row(f->type, pixel_at(f->frame, f->bpp, f->width, 0, y), f->width, row);
        /* Blocks of 65536 values fit a 32-bit sum. */
        for (int start = 0; start < f->width; start += 65536) {
            const int end = f->width - start < 65536 ? f->width : start + 65536;
            uint32_t s = 0;
            for (int x = start; x < end; x++)
                s += row[x];
            sum += s;
        }
    }
    return sum;
}

/* Offers pixel (x, y) with value v to its block; blocks keep the first of equal values. */
static inline void offer(finder* f, int x, int y, uint32_t v) {
    const int b = ((y - f->top) / BLOCK_SIDE) * f->blocks_x + (x - f->left) / BLOCK_SIDE;
    if ((int32_t)v > f->block_value[b]) {
        f->block_value[b] = (int32_t)v;
        f->block_index[b] = (size_t)y * (size_t)f->width + (size_t)x;
    }
}

/* Fills every block's best from one scan of the untouched frame, three rows at a time. */
static void scan_all(finder* f, uint16_t* rows) {
    const int w = f->width;
    const uint32_t t = f->threshold;
    uint16_t* up = rows;
    uint16_t* mid = rows + w;
    uint16_t* down = rows + 2 * (size_t)w;
    mean_row(f->type, pixel_at(f->frame, f->bpp, w, 0, f->top - 1), w, up);
    mean_row(f->type, pixel_at(f->frame, f->bpp, w, 0, f->top), w, mid);
    for (int y = f->top; y <= f->bottom; y++) {
        mean_row(f->type, pixel_at(f->frame, f->bpp, w, 0, y + 1), w, down);
        for (int x0 = f->left; x0 <= f->right; x0 += 16) {
            const int x1 = f->right - x0 < 16 ? f->right + 1 : x0 + 16;
            uint32_t top_value = 0;
            for (int x = x0; x < x1; x++)
                top_value = mid[x] > top_value ? mid[x] : top_value;
            if (top_value <= t) continue; /* the common case: sky */
            for (int x = x0; x < x1; x++) {
                const uint32_t v = mid[x];
                if (v > t && (mid[x - 1] > t || mid[x + 1] > t) && (up[x] > t || down[x] > t))
                    offer(f, x, y, v);
            }
        }
        uint16_t* spare = up;
        up = mid;
        mid = down;
        down = spare;
    }
}

/* Scans the blocks that meet columns x0 ... x1 and rows y0 ... y1 of the search area again. */
static void rescan(finder* f, int x0, int y0, int x1, int y1) {
    x0 = x0 < f->left ? f->left : x0;
    y0 = y0 < f->top ? f->top : y0;
    x1 = x1 > f->right ? f->right : x1;
    y1 = y1 > f->bottom ? f->bottom : y1;
    if (x0 > x1 || y0 > y1) return;
    for (int by = (y0 - f->top) / BLOCK_SIDE; by <= (y1 - f->top) / BLOCK_SIDE; by++) {
        for (int bx = (x0 - f->left) / BLOCK_SIDE; bx <= (x1 - f->left) / BLOCK_SIDE; bx++) {
            f->block_value[by * f->blocks_x + bx] = -1;
            const int top = f->top + by * BLOCK_SIDE, left = f->left + bx * BLOCK_SIDE;
            const int bottom = top + BLOCK_SIDE - 1 < f->bottom ? top + BLOCK_SIDE - 1 : f->bottom;
            const int right = left + BLOCK_SIDE - 1 < f->right ? left + BLOCK_SIDE - 1 : f->right;
            for (int y = top; y <= bottom; y++)
                for (int x = left; x <= right; x++) {
                    const uint32_t v = work_at(f, x, y);
                    if (qualifies(f, x, y, v)) offer(f, x, y, v);
                }
        }
    }
}

/* The block holding the current peak, or -1 when no pixel qualifies. */
static int best_block(const finder* f) {
    int best = -1;
    const int count = f->blocks_x * f->blocks_y;
    for (int b = 0; b < count; b++) {
        const int32_t v = f->block_value[b];
        if (v < 0) continue;
        if (best < 0 || v > f->block_value[best] ||
            (v == f->block_value[best] && f->block_index[b] < f->block_index[best]))
            best = b;
    }
    return best;
}

/* Bounding box of the pixels a flood cleared. */
typedef struct {
    int x0, y0, x1, y1; /* inclusive; x0 > x1 when nothing was cleared */
} box;

/* Clears the pixels of one row from `from` in direction `step` (+1 or -1) up to `limit`
** while they exceed the flood limit, adding (v - T) for each to *sum. */
static void clear_run(finder* f, int row, int from, int step, int limit, int64_t* sum, box* b) {
    for (int col = from; step > 0 ? col <= limit : col >= limit; col += step) {
        const uint32_t v = work_at(f, col, row);
        if (v <= f->flood_limit) break;
        *sum += (int64_t)v - (int64_t)f->threshold;
        const size_t i = (size_t)row * (size_t)f->width + (size_t)col;
        f->cleared[i >> 3] |= (uint8_t)(1u << (i & 7));
        if (col < b->x0) b->x0 = col;
        if (col > b->x1) b->x1 = col;
        if (row < b->y0) b->y0 = row;
        if (row > b->y1) b->y1 = row;
    }
}

/* Clears the star at peak (px, py) in four sweeps (down-right, down-left, up-right, up-left)
** bounded by a window of 100 pixels each way; returns the sum of (v - T) over the cleared
** pixels and their bounding box. */
static int64_t flood(finder* f, int px, int py, box* b) {
    const int x0 = px - FLOOD_REACH < 0 ? 0 : px - FLOOD_REACH;
    const int x1 = px + FLOOD_REACH > f->width - 1 ? f->width - 1 : px + FLOOD_REACH;
    const int y0 = py - FLOOD_REACH < 0 ? 0 : py - FLOOD_REACH;
    const int y1 = py + FLOOD_REACH > f->height - 1 ? f->height - 1 : py + FLOOD_REACH;
    const uint32_t limit = f->flood_limit;
    int64_t sum = 0;
    *b = (box){px, py, px - 1, py - 1};
    for (int row = py; row <= y1 && work_at(f, px, row) >= limit; row++)
        clear_run(f, row, px, 1, x1, &sum, b);
    if (px > x0)
        for (int row = py; row <= y1 && work_at(f, px - 1, row) >= limit; row++)
            clear_run(f, row, px - 1, -1, x0, &sum, b);
    if (py > y0)
        for (int row = py - 1; row >= y0 && work_at(f, px, row) >= limit; row--)
            clear_run(f, row, px, 1, x1, &sum, b);
    if (py > y0 && px > x0)
        for (int row = py - 1; row >= y0 && work_at(f, px - 1, row) >= limit; row--)
            clear_run(f, row, px - 1, -1, x0, &sum, b);
    return sum;
}

int solvan_compare_star_luminance(const void* a, const void* b) {
    const double la = ((const solvan_star*)a)->lum, lb = ((const solvan_star*)b)->lum;
    return la > lb ? -1 : la < lb ? 1 : 0;
}

/* Frees what the finder holds. */
static void release(finder* f) {
    free(f->cleared);
    free(f->block_value);
    free(f->block_index);
}

int solvan_find_stars_refined(solvan_raw_type type, const void* data, int radius, int width,
                              int height, int max_stars, solvan_star* stars, uint32_t* found) {
    if (data == NULL || stars == NULL || found == NULL) return SOLVAN_FAILED;
    const int bpp = bytes_per_pixel(type);
    /* Nothing to find: no room, an unknown layout (a zero work copy), a frame too small to
    ** give a peak four neighbours inside it, or one where no refinement window fits (every
    ** star would be dropped, one search of the frame each). */
    const bool no_window =
        radius >= 3 && (2 * (int64_t)radius + 1 >= width || 2 * (int64_t)radius + 1 >= height);
    if (max_stars < 1 || bpp == 0 || width < 4 || height < 4 || no_window) {
        *found = 0;
        return SOLVAN_OK;
    }
    finder f = {.type = type, .frame = data, .bpp = bpp, .width = width, .height = height};
    const size_t pixels = (size_t)width * (size_t)height;
    uint16_t* rows = solvan_safe_malloc(3 * (size_t)width * sizeof *rows);
    const uint64_t sum = frame_sum(&f, rows);
    f.threshold = (uint32_t)(1.35 * (double)sum / ((double)width * (double)height));
    f.flood_limit = (uint32_t)(f.threshold * 0.99);

    /* The border comes from the height for both axes. */
    const int border = height > 79 ? 20 : height / 4;
    f.left = border;
    f.right = width - border - 1;
    f.top = border;
    f.bottom = height - border - 1;
    uint32_t count = 0;
    if (f.left <= f.right && f.top <= f.bottom) {
        f.blocks_x = (f.right - f.left) / BLOCK_SIDE + 1;
        f.blocks_y = (f.bottom - f.top) / BLOCK_SIDE + 1;
        const size_t blocks = (size_t)f.blocks_x * (size_t)f.blocks_y;
        f.cleared = solvan_safe_malloc(pixels / 8 + 1);
        f.block_value = solvan_safe_malloc(blocks * sizeof *f.block_value);
        f.block_index = solvan_safe_malloc(blocks * sizeof *f.block_index);
        for (size_t b = 0; b < blocks; b++)
            f.block_value[b] = -1;
        scan_all(&f, rows);
    }
    free(rows);

    const uint32_t full_scale =
        (type == SOLVAN_RAW_MONO16 || type == SOLVAN_RAW_RGB48) ? 65535 : 255;
    const int centre_x = width / 2, centre_y = height / 2;
    const int half_side = (width < height ? width : height) / 2;
    while (f.cleared != NULL && count < (uint32_t)max_stars) {
        const int b = best_block(&f);
        if (b < 0) break;
        const uint32_t best = (uint32_t)f.block_value[b];
        const int px = (int)(f.block_index[b] % (size_t)width);
        const int py = (int)(f.block_index[b] / (size_t)width);
        box cleared;
        const int64_t light = flood(&f, px, py, &cleared);
        rescan(&f, cleared.x0 - 1, cleared.y0 - 1, cleared.x1 + 1, cleared.y1 + 1);

        double x = px, y = py;
        if (radius >= 3) {
            solvan_digest digest;
            if (solvan_selection_centroid_repeat(type, data, &x, &y, radius, width, height, &digest,
                                                 2) != SOLVAN_OK)
                continue; /* dropped; its pixels stay cleared */
        }
        solvan_star* star = &stars[count++];
        star->x = x;
        star->y = y;
        star->ncdist =
            sqrt((x - centre_x) * (x - centre_x) + (y - centre_y) * (y - centre_y)) / half_side;
        star->lum = light == 0 ? -DBL_MAX : log(fabs((double)light));
        star->oversaturated = best == full_scale;
    }
    release(&f);

    qsort(stars, count, sizeof *stars, solvan_compare_star_luminance);
    for (uint32_t k = 0; k < count; k++)
        solvan_debug("solvan_find_stars: star #%u: x = %lf, y = %lf, ncdist = %lf, lum = %lf",
                     k + 1, stars[k].x, stars[k].y, stars[k].ncdist, stars[k].lum);
    *found = count;
    return SOLVAN_OK;
}

int solvan_find_stars(solvan_raw_type type, const void* data, int width, int height, int max_stars,
                      solvan_star* stars, uint32_t* found) {
    return solvan_find_stars_refined(type, data, 0, width, height, max_stars, stars, found);
}
