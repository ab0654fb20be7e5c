/* Writes a 16-bit FITS frame for the start-up measurements (bench/README.md) through CFITSIO:
 * a sky-like background with noise and a gradient and a few saturated pixels, unsigned
 * samples stored as BITPIX 16 with BZERO 32768, as cameras write them.
 *
 *   make_test_fits OUT.fit [WIDTH HEIGHT]      (default 3520 x 2400)
 */
#include <fitsio.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        fprintf(stderr, "usage: make_test_fits OUT.fit [WIDTH HEIGHT]\n");
        return 2;
    }
    long axes[2] = {3520, 2400};
    if (argc == 4) axes[0] = atol(argv[2]), axes[1] = atol(argv[3]);
    if (axes[0] <= 0 || axes[1] <= 0) return 2;
    const size_t n = (size_t)axes[0] * (size_t)axes[1];
    unsigned short* pixels = malloc(n * sizeof *pixels);
    if (!pixels) return 1;
    uint32_t state = 12345; /* xorshift: the same frame on every machine */
    for (size_t i = 0; i < n; ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        const long y = (long)(i / (size_t)axes[0]);
        long v = 2000 + 1300 * y / axes[1] + (long)(state % 600) - 300;
        if (state % 5000 == 0) v = 65535;
        pixels[i] = (unsigned short)(v < 0 ? 0 : v);
    }
    char path[4096];
    snprintf(path, sizeof path, "!%s", argv[1]); /* "!": overwrite */
    fitsfile* f = NULL;
    int status = 0;
    fits_create_file(&f, path, &status);
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_img(f, TUSHORT, 1, (LONGLONG)n, pixels, &status);
    fits_close_file(f, &status);
    free(pixels);
    if (status) fits_report_error(stderr, status);
    return status ? 1 : 0;
}
