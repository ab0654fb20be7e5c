// Helpers shared by the fuzz targets: a check that the decode helper is there, a check that
// a decoded bitmap's description stays inside the memory behind it, and the FITS read.
#pragma once

#include "DecodeHelper.h"
#include "FITSImageRep.h"
#include "ImageRep.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

// Fails the run at start when the decode helper is missing: every tile-compressed HDU and
// camera RAW file would then be refused before any decoder ran, and the fuzzer would explore
// nothing of that path.
inline void requireDecodeHelper() {
    const std::string helper = DecodeHelper::path();
    if (access(helper.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "fuzz: decode helper %s is missing; build quasel-decode\n",
                     helper.c_str());
        std::abort();
    }
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

// Reads the `size` bytes at `data` as a FITS file, every HDU, as the viewer reads them, and
// every byte of each bitmap and the rows of each table.
inline void readFitsFile(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto rep = FITSImageRep::initWithData(bytes, 1);
    if (!rep) return;
    keep(touchBitmap(*rep));
    for (const auto& ext : rep->extensions) {
        keep(touchBitmap(*ext));
        if (ext->tabledata) keep(uint64_t(ext->tabledata->size()));
    }
}
