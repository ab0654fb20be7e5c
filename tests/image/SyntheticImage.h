// Images built in a test from explicit samples, in any of the five source layouts.
#pragma once

#include "Image.h"

#include <QByteArray>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

// A raw frame blob: header, then the given packed bytes.
inline QByteArray rawBlob(const char type[4], uint32_t width, uint32_t height,
                          const std::vector<uint8_t>& pixels) {
    QByteArray blob(type, 4);
    for (uint32_t v : {width, height})
        for (int i = 0; i < 4; ++i)
            blob.append(char((v >> (8 * i)) & 0xff));
    blob.append(reinterpret_cast<const char*>(pixels.data()), qsizetype(pixels.size()));
    return blob;
}

// Packed bytes of 16-bit samples in native byte order.
inline std::vector<uint8_t> bytesOf16(const std::vector<uint16_t>& samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// An Image whose bitmap is `pixels` in the given layout (8, 16, 24, 32, 48 bits; 32 bits
// with `bitmapFormat` bit 0 set has its alpha byte first). Grey layouts come through the raw
// blob reader; the others are described directly.
inline ImagePtr syntheticImage(int64_t bitsPerPixel, int64_t width, int64_t height,
                               const std::vector<uint8_t>& pixels, int64_t bitmapFormat = 0) {
    registerImageReaders();
    if (bitsPerPixel == 8 || bitsPerPixel == 16 || bitsPerPixel == 24) {
        const char* type = bitsPerPixel == 8 ? "RAW1" : bitsPerPixel == 16 ? "RAW2" : "RAW3";
        return Image::create(rawBlob(type, uint32_t(width), uint32_t(height), pixels), ".raw");
    }
    ImagePtr image = Image::create(rawBlob("RAW1", 1, 1, {0}), ".raw");
    auto rep = std::make_shared<OwnedBitmapImageRep>();
    rep->pixels = pixels;
    const int64_t bps = bitsPerPixel == 48 ? 16 : 8;
    const int64_t spp = bitsPerPixel == 48 ? 3 : bitsPerPixel == 40 ? 4 : bitsPerPixel / bps;
    uint8_t* planes[1] = {rep->pixels.data()};
    if (!rep->describe(planes, width, height, bps, spp, spp == 4, false, ColorSpace::DeviceRGB,
                       bitmapFormat, width * bitsPerPixel / 8, bitsPerPixel, rep->pixels.size()))
        return nullptr;
    image->originalImageRep = rep;
    image->width = width;
    image->height = height;
    image->size = width * height;
    image->bitsPerPixel = bitsPerPixel;
    return image;
}

// Random packed bytes for a layout, with samples at the saturation level mixed in.
inline std::vector<uint8_t> randomPixels(int64_t bitsPerPixel, int64_t width, int64_t height,
                                         uint32_t seed) {
    std::mt19937 rng(seed);
    const size_t bytes = size_t(width * height * bitsPerPixel / 8);
    std::vector<uint8_t> pixels(bytes);
    for (auto& b : pixels)
        b = uint8_t(rng());
    // Every 37th byte saturated, so 16-bit samples hit 65535 now and then.
    for (size_t i = 0; i + 1 < bytes; i += 37)
        pixels[i] = pixels[i + 1] = 255;
    return pixels;
}
