#include "ImageRep.h"

#include <cstring>

bool hasPrefixBytes(const QByteArray& data, const char* signature, size_t length) {
    if (size_t(data.size()) < length) return false;
    return std::memcmp(data.constData(), signature, length) == 0;
}

bool BitmapImageRep::describe(uint8_t* const* planes, int64_t width, int64_t height, int64_t bps,
                              int64_t spp, bool alpha, bool planar, ColorSpace space,
                              int64_t format, int64_t rowBytes, int64_t bpp, size_t available,
                              bool ownMemory) {
    if (width <= 0 || height <= 0 || width > (1 << 24) || height > (1 << 24)) return false;
    if (bps != 8 && bps != 16) return false;
    if (spp < 1 || spp > 4) return false;
    if (alpha && spp < 2) return false;
    const int64_t samplesInPlane = planar ? 1 : spp;
    if (bpp != bps * samplesInPlane && !(bpp > bps * samplesInPlane && bpp % 8 == 0)) return false;
    const int64_t packed = (width * bpp + 7) / 8;
    if (rowBytes < packed) return false;
    const int64_t nplanes = planar ? spp : 1;
    // The last row needs only its packed bytes, but the platform's bitmaps span whole rows.
    const unsigned __int128 span = (unsigned __int128)rowBytes * (unsigned __int128)height;
    if (span > ((unsigned __int128)1 << 40)) return false;

    uint8_t* chosen[5] = {};
    if (planes == nullptr || planes[0] == nullptr) {
        if (!ownMemory) return false;
        ownPixels_.assign(size_t(span) * size_t(nplanes), 0);
        for (int64_t i = 0; i < nplanes; ++i)
            chosen[i] = ownPixels_.data() + i * size_t(span);
    } else {
        if (span > available) return false;
        for (int64_t i = 0; i < nplanes; ++i) {
            if (planes[i] == nullptr) return false;
            chosen[i] = planes[i];
        }
    }
    pixelsWide = width;
    pixelsHigh = height;
    bitsPerSample = bps;
    samplesPerPixel = spp;
    bitsPerPixel = bpp;
    bytesPerRow = rowBytes;
    numberOfPlanes = nplanes;
    bitmapFormat = format;
    hasAlpha = alpha;
    isPlanar = planar;
    colorSpace = space;
    std::memcpy(planes_, chosen, sizeof planes_);
    return true;
}
