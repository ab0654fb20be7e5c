// Reading the pixels of one FITS image HDU into an interleaved bitmap, through CFITSIO.
//
// 8-bit data is read as bytes, 16-bit as unsigned words (the header's scaling applied by
// CFITSIO), every other BITPIX as doubles scaled together into 0..65535. With three channels,
// planes 1, 2 and 3 become red, green and blue, interleaved per pixel; planes the HDU lacks
// stay zero. Plain C++ without Qt: the decode helper runs the same code for tile-compressed
// HDUs, so both paths give the same bytes.
//
// The decode helper reads a large tile-compressed HDU in bands of whole tile rows, on several
// threads at once, each through a CFITSIO handle of its own (CFITSIO is built reentrant: one
// handle per thread is safe, one handle on two threads is not). Every sample is computed from
// its own tile alone, and the double path's range is a minimum and a maximum, so the bytes do
// not depend on the bands.
#pragma once

#include <fitsio.h>

#include <cstdint>
#include <functional>
#include <thread>

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
//
// Samples beyond the bitmap's type (those below zero of a signed 16-bit image, or any that
// odd scaling puts beyond 0..255 or 0..65535) are clipped into it, as CFITSIO clips them. A
// tile-compressed HDU is read with each of its tiles decoded once all the same, and with no
// memory besides: samples that may fall outside the type (signed 16-bit ones, and any under
// scaling that can put them there) are read as stored, CFITSIO's scaling switched off, into
// the bitmap's memory and scaled and clipped in place. Only tiles that decode beyond their
// BITPIX (broken ones) are read again into ints (doubles under scaling that overflows those)
// a mebipixel at a time per thread, or one tile row when that is larger.
int readFitsPixels(fitsfile* f, const FitsPixelLayout& layout, uint8_t* out);

// How the rows of one HDU are split for readFitsPixelsInBands.
struct FitsBands {
    int64_t rows = 0;  // rows per band (the last may have fewer); 0 or >= the height: one band
    int threads = 1;   // threads that read at once, the caller's included
};

// The split for the tile-compressed HDU `f` is on, for a machine of `cores` usable cores:
// bands of whole tile rows (no tile is decoded by two bands), about four per core, none
// under a quarter of a million pixels, and only as many further threads as the memory they
// need beside the caller's (a stack, a handle, their tiles) fits in the pixel and scratch
// bytes plus 64 MiB, which the helper's address-space limit leaves spare. One band on the
// caller's thread for a small HDU, an HDU that is not tile-compressed, one of a single row of
// tiles, and one whose decompression keeps state in globals (CFITSIO's HCOMPRESS decoder) or
// is unknown.
FitsBands planFitsBands(fitsfile* f, const FitsPixelLayout& layout, int cores);

// Opens a further handle on the file `f` reads, moved to the same HDU; nullptr when it cannot.
// Called on the thread that will use the handle; readFitsPixelsInBands closes it.
using FitsHandleOpener = std::function<fitsfile*()>;

// Starts a thread that runs `run`; std::thread's constructor unless a caller (a test) wants
// otherwise. Throws what starting a thread throws.
using ThreadStarter = std::function<std::thread(std::function<void()>)>;

// Runs worker(0) on the calling thread and worker(1) .. worker(threads - 1) on threads from
// `start` (as many as the system gives: a std::system_error ends the starting, and the
// workers started do the work), and returns when all have returned; what they wrote is then
// visible to the caller. Any other exception from starting a thread (std::bad_alloc) is
// thrown here once the threads already started have returned, without worker(0) run. An
// exception a worker throws, on any thread, is caught there and the first of them thrown
// here once all have returned.
void runWorkers(int threads, const std::function<void(int)>& worker,
                const ThreadStarter& start = {});

// Reads what readFitsPixels reads, into `out` (zeroed), the same bytes, in bands of
// `bands.rows` rows handed out in order to up to `bands.threads` threads: the caller's
// through `f`, each other through a handle from `open` (a thread that gets none reads
// nothing; the others read its bands). On the caller's thread alone for an HDU that
// planFitsBands would keep there for its compression. Returns 0, or the CFITSIO status of
// the first read that failed, planes in order and bands in row order within a plane; the
// other bands are still read. Throws std::bad_alloc when scratch memory cannot be had, on
// any thread, or a thread cannot be started for want of it (runWorkers).
int readFitsPixelsInBands(fitsfile* f, const FitsPixelLayout& layout, uint8_t* out,
                          const FitsBands& bands, const FitsHandleOpener& open);
