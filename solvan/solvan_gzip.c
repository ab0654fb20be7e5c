/*
** solvan_gzip: gzip compression and decompression of memory buffers.
**
** One zlib call each way: the whole input and the whole output are given at once, so the
** output capacity must hold the entire result. zlib counts lengths in 32 bits; longer buffers
** are refused rather than silently cut.
*/
#define ZLIB_CONST

#include <limits.h>
#include <string.h>
#include <zlib.h>

#include "solvan_io.h"

#define GZIP_WINDOW_BITS 31 /* 15-bit window with the gzip wrapper */
#define MEMORY_LEVEL 9      /* most memory, best speed */

/* Checks the arguments shared by both directions; returns Z_OK or the error to report. */
static int check_buffers(const void* input, size_t input_length, const void* output,
                         const size_t* output_length) {
    if (output_length == NULL || (input == NULL && input_length > 0) ||
        (output == NULL && *output_length > 0))
        return Z_STREAM_ERROR;
    if (input_length > UINT_MAX || *output_length > UINT_MAX) return Z_BUF_ERROR;
    return Z_OK;
}

/* Checks the buffers and points a cleared `stream` at them. Returns Z_OK, or the error with
** *output_length (when given) set to 0. */
static int prepare_stream(z_stream* stream, const void* input, size_t input_length, void* output,
                          size_t* output_length) {
    int result = check_buffers(input, input_length, output, output_length);
    if (result != Z_OK) {
        if (output_length != NULL) *output_length = 0;
        return result;
    }
    memset(stream, 0, sizeof *stream);
    stream->next_in = input;
    stream->avail_in = (uInt)input_length;
    stream->next_out = output;
    stream->avail_out = (uInt)*output_length;
    return Z_OK;
}

int solvan_compress(const char* name, const void* input, size_t input_length, void* output,
                    size_t* output_length) {
    z_stream stream;
    int result = prepare_stream(&stream, input, input_length, output, output_length);
    if (result != Z_OK) return result;
    result = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, GZIP_WINDOW_BITS,
                          MEMORY_LEVEL, Z_DEFAULT_STRATEGY);
    if (result != Z_OK) {
        *output_length = 0;
        return result;
    }
    gz_header header;
    memset(&header, 0, sizeof header);
    /* zlib only reads the name; the cast is owed to its header type. */
    header.name = (Bytef*)(uintptr_t)name;
    deflateSetHeader(&stream, &header);
    int finished = deflate(&stream, Z_FINISH);
    *output_length = stream.total_out;
    result = deflateEnd(&stream);
    /* deflateEnd reports an unfinished stream (output too small) as Z_DATA_ERROR. */
    if (result == Z_OK && finished != Z_STREAM_END) result = Z_BUF_ERROR;
    return result;
}

int solvan_decompress(const void* input, size_t input_length, void* output, size_t* output_length) {
    z_stream stream;
    int result = prepare_stream(&stream, input, input_length, output, output_length);
    if (result != Z_OK) return result;
    result = inflateInit2(&stream, GZIP_WINDOW_BITS);
    if (result != Z_OK) {
        *output_length = 0;
        return result;
    }
    int inflated = inflate(&stream, Z_NO_FLUSH);
    *output_length = stream.total_out;
    inflateEnd(&stream);
    /* inflateEnd succeeds whatever the stream held: only the end of the gzip stream, with its
       check value and length verified, makes the output whole. */
    switch (inflated) {
        case Z_STREAM_END:
            return Z_OK;
        case Z_OK:
            return Z_BUF_ERROR; /* input cut short or output full */
        case Z_NEED_DICT:
            return Z_DATA_ERROR;
        default:
            return inflated;
    }
}
