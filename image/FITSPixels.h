// Reading the pixels of one FITS image HDU into an interleaved bitmap, through CFITSIO.
//
// 8-bit data is read as bytes, 16-bit as unsigned words (the header's scaling applied by
// CFITSIO), every other BITPIX as doubles scaled together into 0..65535. With three channels,
// planes 1, 2 and 3 become red, green and blue, interleaved per pixel; planes the HDU lacks
// stay zero. Plain C++ without Qt: the decode helper runs the same code for tile-compressed
// HDUs, so both paths give the same bytes.
#pragma once

#include <fitsio.h>

#include <cstdint>

// What one image HDU becomes: the numbers the reader took from its header.
struct FitsPixelLayout {
    int bitpix = 0;         // BITPIX of the image (ZBITPIX for a tile-compressed one)
    int channels = 1;       // samples per pixel: 1 (grey) or 3 (RGB)
    int planesPresent = 1;  // planes the HDU has among the channels (1..channels)
    int64_t width = 0;      // NAXIS1
    int64_t height = 0;     // NAXIS2

    // Bytes per sample of the bitmap: 1 for BITPIX 8, else 2.
    int bytesPerSample() const { return bitpix == 8 ? 1 : 2; }
    // Bytes of the bitmap: width x height x channels x bytesPerSample.
    int64_t outputBytes() const { return width * height * channels * bytesPerSample(); }
    // Bytes of scratch memory the read needs besides the bitmap (planes held as doubles, or
    // one plane while interleaving).
    int64_t scratchBytes() const;
};

// Reads the HDU `f` is on into `out` (layout.outputBytes() bytes, zeroed by the caller).
// Returns 0, or the first CFITSIO status a plane read gave; the planes after a failed one are
// still read, and what a failed read left stays as it is. Throws std::bad_alloc when scratch
// memory cannot be had.
int readFitsPixels(fitsfile* f, const FitsPixelLayout& layout, uint8_t* out);
