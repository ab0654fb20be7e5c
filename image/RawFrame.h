// An Image's bitmap seen as a raw frame of the support library, as the star probes hand it
// over: in place, typed by bits per pixel (8 grey, 16 grey, 24 RGB, 32 RGBA or ARGB by the
// alpha-first bit, 48 RGB), rows top first.
#pragma once

#include "Image.h"

#include "solvan_bus.h"

#include <cstdint>
#include <optional>

// An Image's bitmap seen as a packed raw frame.
struct RawFrameView {
    solvan_raw_type type;  // pixel layout
    const uint8_t* data;   // first pixel of the top row
    int width;             // pixels across
    int height;            // pixels down
};

// The raw frame type of a bitmap of `bitsPerPixel`, or 0 for a width the library cannot read.
solvan_raw_type rawTypeFor(int64_t bitsPerPixel, int64_t bitmapFormat);

// The bitmap as a raw frame the library can read in place, or nothing when there is no
// bitmap, its pixel width has no raw type, its rows are not packed one after the other (or
// planar), or it is too large for the library's 32-bit sizes.
std::optional<RawFrameView> rawFrameOf(const Image& image);
