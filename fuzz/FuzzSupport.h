// Helpers shared by the fuzz targets: what counts as a known library fault, and a check that
// a decoded bitmap's description stays inside the memory behind it.
#pragma once

#include "ImageRep.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

// True when the bytes hold a tile-compressed FITS image ("ZIMAGE" in a header). CFITSIO 4.2
// overreads and loops in its tile decoders on hostile tiles (tests of the hostile samples cover
// that path, which runs out of process); the FITS targets skip such inputs unless
// QUASEL_FUZZ_TILES=1 is set, so every finding they report is one in our own code.
inline bool skipTileCompressed(const QByteArray& bytes) {
    static const bool tiles = [] {
        const char* v = std::getenv("QUASEL_FUZZ_TILES");
        return v && v[0] == '1';
    }();
    return !tiles && bytes.contains("ZIMAGE");
}

// Reads every byte that the bitmap claims in each of its planes, so AddressSanitizer reports a
// description that reaches past its memory. Returns a value that depends on all those bytes.
inline uint64_t touchBitmap(const BitmapImageRep& rep) {
    uint64_t sum = 0;
    const int64_t planes = rep.isPlanar ? rep.numberOfPlanes : 1;
    for (int p = 0; p < planes; ++p) {
        const uint8_t* data = rep.plane(p);
        if (!data) continue;
        const int64_t rowUsed = (rep.pixelsWide * rep.bitsPerPixel + 7) / 8;
        for (int64_t y = 0; y < rep.pixelsHigh; ++y)
            for (int64_t x = 0; x < rowUsed; ++x)
                sum += data[y * rep.bytesPerRow + x];
    }
    return sum;
}

// Keeps the compiler from dropping a computed value.
inline void keep(uint64_t value) {
    static volatile uint64_t sink;
    sink = sink + value;
}
