// The sampling pass behind `Image::histogram`: bins, sums and extremes of one bitmap.
//
// Grey bitmaps (8 or 16 bits per pixel) are walked in 2 x 2 cells, one cell in step x step
// (an odd last row or column is never read). Without a colour-filter pattern each of the four
// samples is counted; with one, the cell's samples go to the four colour-filter sums and the
// cell mean is counted four times. Colour bitmaps (24, 32, 48 bits) are sampled along the
// pixel sequence, one pixel in step x step, as the mean of their three colour samples (the
// alpha byte of a 32-bit pixel never enters). 16-bit samples fall into bin v >> 8.
//
// A frame the walk would take no sample from (a grey frame one pixel wide or high, a colour
// frame of fewer than step x step pixels) is read whole instead: every grey sample counted once
// whatever the pattern (no colour-filter sums), every colour pixel, so its statistics are its
// own.
#pragma once

#include "ImageRep.h"

#include <array>
#include <cstdint>

struct HistogramCounts {
    std::array<uint64_t, 256> bins{};  // samples per bin
    std::array<uint64_t, 4> total4{};  // colour-filter sums (pattern set), samples >> 8 at 16 bits
    uint64_t sum = 0;                  // running sum of the sampled values, full sample units
    uint64_t n = 0;                    // samples taken: 4 per grey cell, (size / step) / step
                                       // colour pixels, or every sample of a frame read whole
    int64_t min = 65535;               // smallest value taken into account
    int64_t max = 0;                   // largest value taken into account
    bool colour = false;               // the walk was a colour walk
};

// The step "histogramSample" (default 4), read once per process; 0 acts as 1 and a negative
// value as its absolute value.
int64_t histogramSampleStep();

// Samples `rep` as a bitmap of width x height pixels and bitsPerPixel bits. Returns false (with
// `counts` holding the reset extremes) when the bitmap cannot be sampled: no pixel memory,
// more than one plane, an unsupported pixel width or rows shorter than the packed width.
bool countHistogram(const BitmapImageRep& rep, int64_t width, int64_t height, int64_t bitsPerPixel,
                    int64_t debayer, int64_t step, HistogramCounts& counts);
