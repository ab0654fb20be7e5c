/* Writes the small FITS files FITSHeaderFuzz starts from, through CFITSIO, into FOLDER:
 *   image16.fits, image32.fits, float32.fits   64 x 48 images (fpacked by scripts/fuzz.sh)
 *   bintable.fits   a binary table: scalar, string, bit, vector and variable-length columns
 *   asciitable.fits an ASCII table: integer, real, exponential and text columns
 *   mef.fits        an empty primary HDU, an image, a binary and an ASCII table
 * Usage: make_fits_seeds FOLDER */
#include <fitsio.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

enum { W = 64, H = 48, ROWS = 6 };

static void image(fitsfile* f, int bitpix, int* status) {
    static double pixels[W * H];
    long axes[2] = {W, H};
    for (int i = 0; i < W * H; ++i) /* a sky with noise and a star */
        pixels[i] = 1000 + (i * 7919 % 97) +
                    20000 * exp(-(pow(i % W - 20, 2) + pow(i / W - 30, 2)) / 8.0);
    fits_create_img(f, bitpix, 2, axes, status);
    fits_write_img(f, TDOUBLE, 1, W * H, pixels, status);
}

static void binaryTable(fitsfile* f, int* status) {
    char* names[] = {"N", "NAME", "FLAGS", "POS", "SPECTRUM"};
    char* forms[] = {"1J", "8A", "3X", "2D", "1PE"};
    char* units[] = {"", "", "", "deg", "adu"};
    fits_create_tbl(f, BINARY_TBL, ROWS, 5, names, forms, units, "CATALOG", status);
    fits_write_key_str(f, "TDISP4", "F10.5", NULL, status);
    for (long r = 1; r <= ROWS; ++r) {
        int n = (int)(r * 11);
        char text[16];
        char* cells[] = {text};
        char flags[3] = {1, 0, (char)(r & 1)};
        double pos[2] = {r * 1.5, -r * 0.25};
        float spectrum[4] = {1, 2, 3, 4};
        snprintf(text, sizeof text, "star%ld", r);
        fits_write_col(f, TINT, 1, r, 1, 1, &n, status);
        fits_write_col_str(f, 2, r, 1, 1, cells, status);
        fits_write_col_bit(f, 3, r, 1, 3, flags, status);
        fits_write_col(f, TDOUBLE, 4, r, 1, 2, pos, status);
        fits_write_col(f, TFLOAT, 5, r, 1, r % 4 + 1, spectrum, status);
    }
}

static void asciiTable(fitsfile* f, int* status) {
    char* names[] = {"ID", "FLUX", "ERR", "NAME"};
    char* forms[] = {"I5", "F10.3", "E12.4", "A10"};
    fits_create_tbl(f, ASCII_TBL, ROWS, 4, names, forms, NULL, "PHOT", status);
    for (long r = 1; r <= ROWS; ++r) {
        int id = (int)r;
        double flux = r * 123.25, err = r * 1e-3;
        char text[16];
        char* cells[] = {text};
        snprintf(text, sizeof text, "obj%ld", r);
        fits_write_col(f, TINT, 1, r, 1, 1, &id, status);
        fits_write_col(f, TDOUBLE, 2, r, 1, 1, &flux, status);
        fits_write_col(f, TDOUBLE, 3, r, 1, 1, &err, status);
        fits_write_col_str(f, 4, r, 1, 1, cells, status);
    }
}

static int write(const char* folder, const char* name, int what) {
    char path[4096];
    fitsfile* f = NULL;
    int status = 0;
    snprintf(path, sizeof path, "!%s/%s", folder, name);
    fits_create_file(&f, path, &status);
    if (what == 1) {
        fits_create_img(f, BYTE_IMG, 0, NULL, &status);
        binaryTable(f, &status);
    } else if (what == 2) {
        fits_create_img(f, BYTE_IMG, 0, NULL, &status);
        asciiTable(f, &status);
    } else if (what == 3) {
        fits_create_img(f, BYTE_IMG, 0, NULL, &status);
        image(f, SHORT_IMG, &status);
        binaryTable(f, &status);
        asciiTable(f, &status);
    } else {
        image(f, what, &status);
    }
    fits_close_file(f, &status);
    if (status) fprintf(stderr, "make_fits_seeds: %s: CFITSIO status %d\n", name, status);
    return status != 0;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: make_fits_seeds FOLDER\n", stderr);
        return 2;
    }
    return write(argv[1], "image16.fits", SHORT_IMG) | write(argv[1], "image32.fits", LONG_IMG) |
           write(argv[1], "float32.fits", FLOAT_IMG) | write(argv[1], "bintable.fits", 1) |
           write(argv[1], "asciitable.fits", 2) | write(argv[1], "mef.fits", 3);
}
