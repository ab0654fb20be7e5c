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

#include "solvan_raw_pixels_private.h"

#include <float.h>
#include <math.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

static inline int clamp_int(int v, int low, int high) {
    return v < low ? low : v > high ? high : v;
}
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

/* ---- Grey rows inside the frame: rows y - 1, y, y + 1 as 16-bit arrays by column. */

/* Row kernels compiled also for AVX2 where the toolchain picks a clone at load time. */
/* ThreadSanitizer's runtime is not up yet when the clone resolvers run: no clones there. */
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__gnu_linux__) && \
    !defined(__SANITIZE_THREAD__)
#define ROW_KERNEL __attribute__((target_clones("avx2", "default"))) static
#else
#define ROW_KERNEL static
#endif

enum { CHUNK = 128 }; /* pixels per hot-pixel check */

/* The filtered sample at column k: the centre unless it exceeds twice its largest diagonal
** neighbour, then the second largest diagonal (the median of the five). */
static inline uint32_t filter_at(const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                                 int k) {
    const uint32_t a = max_u32(up[k - 1], up[k + 1]), b = min_u32(up[k - 1], up[k + 1]);
    const uint32_t e = max_u32(down[k - 1], down[k + 1]), g = min_u32(down[k - 1], down[k + 1]);
    const uint32_t d = max_u32(a, e), second = max_u32(min_u32(a, e), max_u32(b, g));
    const uint32_t c = mid[k];
    return c > 2 * d ? second : c;
}

static inline uint16_t max_u16(uint16_t a, uint16_t b) {
    return a > b ? a : b;
}

/* Whether some pixel of columns x ... x + CHUNK - 1 exceeds twice its largest diagonal, i.e.
** whether the filter changes anything there. In 16-bit lanes: c > 2d exactly when the
** saturating c - d still exceeds d. A pixel can only exceed twice its largest diagonal if it
** exceeds twice its upper left one, a test of one neighbour that clears most chunks. */
static inline bool chunk_has_hot(const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                                 int x) {
    uint16_t maybe = 0;
    for (int i = 0; i < CHUNK; i++) {
        const uint16_t c = mid[x + i], d = up[x + i - 1];
        const uint16_t over = c > d ? (uint16_t)(c - d) : 0;
        maybe |= (uint16_t)(over > d);
    }
    if (maybe == 0) return false;
    uint16_t hot = 0;
    for (int i = 0; i < CHUNK; i++) {
        const int k = x + i;
        const uint16_t d =
            max_u16(max_u16(up[k - 1], up[k + 1]), max_u16(down[k - 1], down[k + 1]));
        const uint16_t c = mid[k];
        const uint16_t over = c > d ? (uint16_t)(c - d) : 0;
        hot |= (uint16_t)(over > d);
    }
    return hot != 0;
}

/* The largest of columns x ... x + CHUNK - 1 of a row. */
static inline uint16_t chunk_top(const uint16_t* row, int x) {
    uint16_t top = 0;
    for (int i = 0; i < CHUNK; i++)
        top = max_u16(top, row[x + i]);
    return top;
}

/* Adds the filtered samples of columns from ... to - 1 (inside the frame) to *sum, raises
** *top to their maximum and writes the maximum of each chunk of CHUNK columns (the last one
** possibly shorter) to chunk_max. */
ROW_KERNEL void row_sum_max(const uint16_t* up, const uint16_t* mid, const uint16_t* down, int from,
                            int to, uint64_t* sum, uint32_t* top, uint16_t* chunk_max) {
    uint64_t s = 0;
    uint32_t t = *top;
    int x = from;
    for (; x + CHUNK <= to; x += CHUNK) {
        /* One sweep for the sum, the maximum and a necessary condition of a hot pixel
        ** (c > 2d needs c / 2 >= d for the upper left diagonal d). */
        uint32_t part = 0;
        uint16_t part_top = 0, maybe = 0;
        for (int i = 0; i < CHUNK; i++) {
            const uint16_t c = mid[x + i], d = up[x + i - 1];
            part += c;
            part_top = max_u16(part_top, c);
            maybe |= (uint16_t)((uint16_t)(c >> 1) >= d);
        }
        if (maybe != 0 && chunk_has_hot(up, mid, down, x)) {
            part = 0;
            part_top = 0;
            for (int i = 0; i < CHUNK; i++) {
                const uint16_t f = (uint16_t)filter_at(up, mid, down, x + i);
                part += f;
                part_top = max_u16(part_top, f);
            }
        }
        s += part;
        t = part_top > t ? part_top : t;
        *chunk_max++ = part_top;
    }
    if (x < to) {
        uint16_t part_top = 0;
        for (; x < to; x++) {
            const uint16_t f = (uint16_t)filter_at(up, mid, down, x);
            s += f;
            part_top = max_u16(part_top, f);
        }
        t = part_top > t ? part_top : t;
        *chunk_max = part_top;
    }
    *sum += s;
    *top = t;
}

/* For columns from ... to - 1 (inside the frame): adds each filtered sample's excess over
** floor_t (0 when not above) to column_sum[x - from], counts it in column_count[x - from] when
** above, and adds both to the row's totals. */
ROW_KERNEL void row_profile(const uint16_t* up, const uint16_t* mid, const uint16_t* down, int from,
                            int to, uint32_t floor_t, uint32_t* column_sum, uint32_t* column_count,
                            uint64_t* row_sum, uint32_t* row_count) {
    uint64_t rs = 0;
    uint32_t rc = 0;
    /* No 16-bit sample exceeds a floor of 65535 or more. */
    const uint16_t f16 = floor_t > 65535 ? 65535 : (uint16_t)floor_t;
    int x = from;
    for (; x < to; x += CHUNK) {
        const int n = to - x < CHUNK ? to - x : CHUNK;
        uint32_t* cs = column_sum + (x - from);
        uint32_t* cc = column_count + (x - from);
        uint32_t part = 0, count = 0;
        if (n == CHUNK && !chunk_has_hot(up, mid, down, x)) {
            if (chunk_top(mid, x) <= f16) continue; /* sky below the threshold: nothing */
            for (int i = 0; i < CHUNK; i++) {
                const uint16_t c = mid[x + i];
                const uint16_t excess = c > f16 ? (uint16_t)(c - f16) : 0;
                const uint16_t above = c > f16;
                cs[i] += excess;
                cc[i] += above;
                part += excess;
                count += above;
            }
        } else {
            for (int i = 0; i < n; i++) {
                const uint32_t f = filter_at(up, mid, down, x + i);
                const uint32_t above = f > floor_t;
                const uint32_t excess = above ? f - floor_t : 0;
                cs[i] += excess;
                cc[i] += above;
                part += excess;
                count += above;
            }
        }
        rs += part;
        rc += count;
    }
    *row_sum += rs;
    *row_count += rc;
}

/* Three consecutive grey rows of the frame as 16-bit arrays: the frame's own rows when they
** are 16-bit little-endian samples on a little-endian host at an even address, else copies
** loaded as the rows advance. */
typedef struct {
    const uint8_t* frame; /* first pixel */
    int bpp;              /* 1 or 2 */
    int width;            /* pixels per row */
    bool in_place;        /* rows point into the frame */
    uint16_t* buffers[3]; /* copies, when not in place */
    const uint16_t* up;   /* row mid - 1 */
    const uint16_t* mid;  /* row mid */
    const uint16_t* down; /* row mid + 1 */
    int row;              /* the mid row, or -2 before the first */
} grey_rows;

static void grey_rows_init(grey_rows* g, const uint8_t* frame, int bpp, int width) {
    *g = (grey_rows){.frame = frame, .bpp = bpp, .width = width, .row = -2};
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    g->in_place = bpp == 2 && ((uintptr_t)frame & 1) == 0;
#endif
    if (!g->in_place)
        for (int k = 0; k < 3; k++)
            g->buffers[k] = solvan_safe_malloc((size_t)width * sizeof(uint16_t));
}

static void grey_rows_free(grey_rows* g) {
    for (int k = 0; k < 3; k++)
        free(g->buffers[k]);
}

static void load_grey_row(const grey_rows* g, int y, uint16_t* out) {
    const uint8_t* p = g->frame + (size_t)y * (size_t)g->width * (size_t)g->bpp;
    if (g->bpp == 1)
        for (int x = 0; x < g->width; x++)
            out[x] = p[x];
    else
        for (int x = 0; x < g->width; x++)
            out[x] = (uint16_t)read16(p + 2 * x);
}

/* Makes rows y - 1, y, y + 1 (all inside the frame) current. */
static void grey_rows_at(grey_rows* g, int y) {
    if (y == g->row) return;
    if (g->in_place) {
        const uint16_t* first = (const uint16_t*)(const void*)g->frame;
        g->up = first + (size_t)(y - 1) * (size_t)g->width;
        g->mid = g->up + g->width;
        g->down = g->mid + g->width;
    } else if (y == g->row + 1) {
        uint16_t* spare = g->buffers[0];
        g->buffers[0] = g->buffers[1];
        g->buffers[1] = g->buffers[2];
        g->buffers[2] = spare;
        load_grey_row(g, y + 1, g->buffers[2]);
    } else {
        for (int k = 0; k < 3; k++)
            load_grey_row(g, y - 1 + k, g->buffers[k]);
    }
    if (!g->in_place) g->up = g->buffers[0], g->mid = g->buffers[1], g->down = g->buffers[2];
    g->row = y;
}

/* ---- First pass of grey frames, in bands of rows on up to four threads. */

/* One band of the first pass: its rows and, once run, its partial sum and maximum. */
typedef struct {
    const uint8_t* frame; /* first pixel */
    int bpp;              /* 1 or 2 */
    int width, height;    /* frame size */
    int e;                /* edge clipping */
    int inner_from;       /* first column the row kernels see */
    int inner_to;         /* one past the last */
    int chunks;           /* chunks per row */
    uint16_t* chunk_max;  /* chunk maxima of the region's rows (this band writes its own) */
    uint16_t* edges;      /* filtered edge columns per region row, or missing */
    int first, last;      /* region rows first ... last - 1 */
    uint64_t sum;         /* sum of the band's filtered samples */
    uint32_t maximum;     /* their maximum */
} band;

static void* first_pass_band(void* arg) {
    band* b = arg;
    grey_rows g;
    grey_rows_init(&g, b->frame, b->bpp, b->width);
    uint64_t sum = 0;
    uint32_t maximum = 0;
    for (int r = b->first; r < b->last; r++) {
        /* The filter clamps positions one pixel inside the frame: an edge row reads as its
        ** inner neighbour, edge columns (only when there is no clipping) likewise. */
        grey_rows_at(&g, clamp_int(r + b->e, 1, b->height - 2));
        row_sum_max(g.up, g.mid, g.down, b->inner_from, b->inner_to, &sum, &maximum,
                    b->chunk_max + (size_t)r * (size_t)b->chunks);
        if (b->edges) {
            const uint16_t left = (uint16_t)filter_at(g.up, g.mid, g.down, 1);
            const uint16_t right = (uint16_t)filter_at(g.up, g.mid, g.down, b->width - 2);
            b->edges[2 * r] = left;
            b->edges[2 * r + 1] = right;
            sum += (uint32_t)left + right;
            maximum = max_u32(maximum, max_u32(left, right));
        }
    }
    grey_rows_free(&g);
    b->sum = sum;
    b->maximum = maximum;
    return NULL;
}

/* Runs the first pass over the h region rows of `shape` in bands of at least 256 rows, one
** per thread up to four (fewer on smaller machines); a band whose thread cannot start runs
** on the calling thread. Sums and maxima of the bands are merged at the end. */
static void first_pass(const band* shape, int h, uint64_t* sum, uint32_t* maximum) {
    enum { MOST_THREADS = 4, LEAST_ROWS = 256 };
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    int count = cpus < 1 ? 1 : cpus > MOST_THREADS ? MOST_THREADS : (int)cpus;
    if (count > h / LEAST_ROWS) count = h / LEAST_ROWS > 0 ? h / LEAST_ROWS : 1;
    band bands[MOST_THREADS];
    pthread_t threads[MOST_THREADS];
    bool started[MOST_THREADS] = {false};
    for (int i = 0; i < count; i++) {
        bands[i] = *shape;
        bands[i].first = (int)((int64_t)h * i / count);
        bands[i].last = (int)((int64_t)h * (i + 1) / count);
        if (i > 0) started[i] = pthread_create(&threads[i], NULL, first_pass_band, &bands[i]) == 0;
    }
    for (int i = 0; i < count; i++)
        if (!started[i]) first_pass_band(&bands[i]);
    for (int i = 0; i < count; i++) {
        if (started[i]) pthread_join(threads[i], NULL);
        *sum += bands[i].sum;
        *maximum = max_u32(*maximum, bands[i].maximum);
    }
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
    const int w = width - 2 * e, h = height - 2 * e;          /* the inner region */
    if (w > (1 << 30) || h > (1 << 30)) return SOLVAN_FAILED; /* no int transform length */

    /* Grey rows away from the frame's edge go through the row kernels; colour rows, edge rows
    ** and edge columns through intensity_of_row. */
    const bool grey = bpp == 1 || bpp == 2;
    const bool kernels = grey && width >= 3 && height >= 3;
    const int inner_from = e < 1 ? 1 : e, inner_to = e + w > width - 1 ? width - 1 : e + w;
    grey_rows g = {.row = -2};
    /* The maximum of every chunk of CHUNK columns of the rows the kernels see. */
    const int chunks = kernels ? (inner_to - inner_from + CHUNK - 1) / CHUNK : 0;
    uint16_t* chunk_max = NULL;
    uint16_t* edges = NULL; /* filtered columns 0 and width - 1 of each row, without clipping */
    if (kernels) {
        grey_rows_init(&g, frame, bpp, width);
        chunk_max = solvan_safe_malloc((size_t)h * (size_t)(chunks > 0 ? chunks : 1) * 2);
        if (e == 0) edges = solvan_safe_malloc((size_t)h * 2 * sizeof *edges);
    }
    uint32_t* row = solvan_safe_malloc((size_t)w * sizeof *row);

    uint64_t sum = 0;
    uint32_t maximum = 0;
    if (kernels) {
        const band shape = {frame,  bpp,       width, height, e, inner_from, inner_to,
                            chunks, chunk_max, edges, 0,      0, 0,          0};
        first_pass(&shape, h, &sum, &maximum);
    } else {
        for (int y = e; y < e + h; y++) {
            intensity_of_row(type, frame, bpp, width, height, y, e, w, row);
            for (int x = 0; x < w; x++) {
                sum += row[x];
                maximum = row[x] > maximum ? row[x] : maximum;
            }
        }
    }
    const double threshold = 1.15 * (double)sum / ((double)w * (double)h);
    solvan_debug("Donuts: threshold = %.3f, max = %.3f, edge_clipping = %dpx", threshold,
                 (double)maximum, e);
    if (maximum <= threshold) {
        free(row);
        free(chunk_max);
        free(edges);
        grey_rows_free(&g);
        return SOLVAN_NO_STAR;
    }

    /* Second pass: (value - floor(T)) and counts per column and row of the values above T,
    ** columns in 32 bits moved to 64 every 32768 rows. */
    const uint32_t floor_t = (uint32_t)threshold;
    const double fraction = threshold - floor_t;
    uint64_t* column_sum = solvan_safe_malloc((size_t)w * sizeof *column_sum);
    uint32_t* column_part = solvan_safe_malloc((size_t)w * sizeof *column_part);
    uint32_t* column_count = solvan_safe_malloc((size_t)w * sizeof *column_count);
    const int nx = power_of_two_above(w), ny = power_of_two_above(h);
    double* x_profile = solvan_safe_malloc((size_t)nx * 2 * sizeof(double));
    double* y_profile = solvan_safe_malloc((size_t)ny * 2 * sizeof(double));
    for (int y = 0; y < h; y++) {
        uint64_t row_sum = 0;
        uint32_t row_count = 0;
        if (kernels) {
            /* Only chunks that rose above the threshold in the first pass are read again. */
            const uint16_t* tops = chunk_max + (size_t)y * (size_t)chunks;
            for (int j = 0; j < chunks; j++) {
                if (tops[j] <= floor_t) continue;
                grey_rows_at(&g, clamp_int(y + e, 1, height - 2));
                const int cfrom = inner_from + j * CHUNK;
                const int cto = inner_to - cfrom < CHUNK ? inner_to : cfrom + CHUNK;
                row_profile(g.up, g.mid, g.down, cfrom, cto, floor_t, column_part + (cfrom - e),
                            column_count + (cfrom - e), &row_sum, &row_count);
            }
            for (int side = 0; e == 0 && side < 2; side++) { /* column 0, the last column */
                const uint32_t v = edges[2 * y + side];
                const int x = side == 0 ? 0 : w - 1;
                const uint32_t above = v > floor_t;
                const uint32_t excess = above ? v - floor_t : 0;
                column_part[x] += excess;
                column_count[x] += above;
                row_sum += excess;
                row_count += above;
            }
        } else {
            intensity_of_row(type, frame, bpp, width, height, y + e, e, w, row);
            for (int x = 0; x < w; x++) {
                const uint32_t v = row[x];
                const uint32_t above = v > floor_t;
                const uint32_t excess = above ? v - floor_t : 0;
                column_sum[x] += excess; /* colour sums may exceed 16 bits: straight to 64 */
                column_count[x] += above;
                row_sum += excess;
                row_count += above;
            }
        }
        y_profile[2 * y] = (double)row_sum - row_count * fraction;
        if (y % 32768 == 32767 || y == h - 1)
            for (int x = 0; x < w; x++) {
                column_sum[x] += column_part[x];
                column_part[x] = 0;
            }
    }
    for (int x = 0; x < w; x++)
        x_profile[2 * x] = (double)column_sum[x] - column_count[x] * fraction;
    free(column_count);
    free(column_part);
    free(column_sum);
    free(row);
    free(chunk_max);
    free(edges);
    grey_rows_free(&g);

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

/* The recursion of solvan_fft (n >= 2, a power of two). `twiddles` holds cos and sin of
** j 2 pi / top for j < top / 2, where top is the outermost n, or is missing (then each
** butterfly takes its own sine and cosine). */
static void fft(int n, size_t offset, size_t stride, const double* in, double* out, double* scratch,
                const double* twiddles, int top) {
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
    fft(h, offset, 2 * stride, in, scratch, out, twiddles, top);
    fft(h, offset + stride, 2 * stride, in, scratch, out, twiddles, top);
    const int step = top / n; /* angle k 2 pi / n is entry k step of the table */
    for (int k = 0; k < h; k++) {
        double c, s;
        if (twiddles) {
            c = twiddles[2 * (size_t)k * step];
            s = twiddles[2 * (size_t)k * step + 1];
        } else {
            const double a = k * 6.283185307179586 / n;
            c = cos(a);
            s = sin(a);
        }
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
    /* One table of n / 2 sines and cosines serves every level; without memory for it each
    ** butterfly computes its own. */
    double* twiddles = malloc((size_t)n * sizeof *twiddles);
    if (twiddles)
        for (int j = 0; j < n / 2; j++) {
            const double a = j * 6.283185307179586 / n;
            twiddles[2 * j] = cos(a);
            twiddles[2 * j + 1] = sin(a);
        }
    fft(n, (size_t)offset, (size_t)stride, input, output, scratch, twiddles, n);
    free(twiddles);
}
