/* The floor for `quasel-tool render FILE OUT`: the least a program must do to turn a 16-bit
 * FITS frame into 8-bit RGB. It reads the whole file, skips the header (2880-byte records up
 * to the END card), and expands each big-endian sample (BZERO 32768 added back) to three
 * equal bytes, stretched linearly between the frame's minimum and maximum. With a second
 * argument it also writes the RGB as a baseline JPEG through libjpeg at quality 75, the
 * encoder settings Qt uses, so that the cost of the encoding can be told apart.
 *
 *   render_floor FILE.fit [OUT.jpg]
 *
 * Plain C, one thread, no error recovery beyond refusing what it does not understand: it is
 * a measuring stick, not a reader.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jpeglib.h>

static long keyword(const char* header, size_t cards, const char* key) {
    for (size_t c = 0; c < cards; ++c)
        if (strncmp(header + c * 80, key, strlen(key)) == 0 && header[c * 80 + 8] == '=')
            return atol(header + c * 80 + 10);
    return -1;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: render_floor FILE.fit [OUT.jpg]\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    if (!in) return 1;
    fseek(in, 0, SEEK_END);
    const long size = ftell(in);
    fseek(in, 0, SEEK_SET);
    uint8_t* file = malloc((size_t)size);
    if (!file || fread(file, 1, (size_t)size, in) != (size_t)size) return 1;
    fclose(in);

    size_t cards = 0; /* header cards up to and including END */
    while ((cards + 1) * 80 <= (size_t)size && strncmp((char*)file + cards * 80, "END     ", 8))
        ++cards;
    const long w = keyword((char*)file, cards, "NAXIS1"), h = keyword((char*)file, cards, "NAXIS2");
    const size_t data = (cards * 80 / 2880 + 1) * 2880, n = (size_t)w * (size_t)h;
    if (keyword((char*)file, cards, "BITPIX") != 16 || w <= 0 || h <= 0 ||
        data + 2 * n > (size_t)size)
        return 1;

    const uint8_t* s = file + data;
    unsigned lo = 65535, hi = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned v = (unsigned)((s[2 * i] << 8 | s[2 * i + 1]) ^ 0x8000);
        lo = v < lo ? v : lo, hi = v > hi ? v : hi;
    }
    const unsigned range = hi > lo ? hi - lo : 1;
    uint8_t* rgb = malloc(3 * n);
    if (!rgb) return 1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned v = (unsigned)((s[2 * i] << 8 | s[2 * i + 1]) ^ 0x8000);
        const uint8_t b = (uint8_t)((v - lo) * 255u / range);
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = b;
    }

    if (argc > 2) {
        FILE* out = fopen(argv[2], "wb");
        if (!out) return 1;
        struct jpeg_compress_struct c;
        struct jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, out);
        c.image_width = (JDIMENSION)w, c.image_height = (JDIMENSION)h;
        c.input_components = 3, c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 75, TRUE);
        jpeg_start_compress(&c, TRUE);
        for (long y = 0; y < h; ++y) {
            JSAMPROW row = rgb + (size_t)y * 3 * (size_t)w;
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        fclose(out);
    } else {
        /* Keep the expansion from being optimised away. */
        unsigned sum = 0;
        for (size_t i = 0; i < 3 * n; i += 4093)
            sum += rgb[i];
        if (sum == 1) puts("");
    }
    free(rgb);
    free(file);
    return 0;
}
