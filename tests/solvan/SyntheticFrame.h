// Raw frames built in tests: any of the six pixel layouts, filled from an intensity function,
// and the Gaussian star used to check the star routines against known answers.
#pragma once

#include "solvan_bus.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RawLayout {
    solvan_raw_type type;  // raw type code
    const char* name;      // for test names
    int bytesPerPixel;     // size of one pixel
    bool colour;           // three colour samples per pixel
    bool sixteenBit;       // 16-bit samples
};

inline const std::vector<RawLayout>& allRawLayouts() {
    static const std::vector<RawLayout> layouts = {
        {SOLVAN_RAW_MONO8, "Mono8", 1, false, false},
        {SOLVAN_RAW_MONO16, "Mono16", 2, false, true},
        {SOLVAN_RAW_RGB24, "RGB24", 3, true, false},
        {SOLVAN_RAW_RGBA32, "RGBA32", 4, true, false},
        {SOLVAN_RAW_ARGB32, "ARGB32", 4, true, false},
        {SOLVAN_RAW_RGB48, "RGB48", 6, true, true},
    };
    return layouts;
}

// A frame of exactly width x height pixels (no slack, so a read past the end is caught by the
// address sanitizer).
struct RawFrame {
    RawLayout layout;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;

    RawFrame(const RawLayout& l, int w, int h)
        : layout(l), width(w), height(h), bytes(size_t(w) * size_t(h) * l.bytesPerPixel) {}

    const void* data() const { return bytes.data(); }

    // Stores three colour samples (or the grey sample c0). Alpha bytes get 255, so a routine
    // that wrongly counts them shows it.
    void set(int x, int y, uint32_t c0, uint32_t c1, uint32_t c2) {
        uint8_t* p = bytes.data() + (size_t(y) * width + x) * layout.bytesPerPixel;
        auto put16 = [](uint8_t* q, uint32_t v) {
            q[0] = uint8_t(v & 0xff);
            q[1] = uint8_t(v >> 8);
        };
        switch (layout.type) {
            case SOLVAN_RAW_MONO8:
                p[0] = uint8_t(c0);
                break;
            case SOLVAN_RAW_MONO16:
                put16(p, c0);
                break;
            case SOLVAN_RAW_RGB24:
                p[0] = uint8_t(c0), p[1] = uint8_t(c1), p[2] = uint8_t(c2);
                break;
            case SOLVAN_RAW_RGBA32:
                p[0] = uint8_t(c0), p[1] = uint8_t(c1), p[2] = uint8_t(c2), p[3] = 255;
                break;
            case SOLVAN_RAW_ARGB32:
                p[0] = 255, p[1] = uint8_t(c0), p[2] = uint8_t(c1), p[3] = uint8_t(c2);
                break;
            case SOLVAN_RAW_RGB48:
                put16(p, c0), put16(p + 2, c1), put16(p + 4, c2);
                break;
        }
    }
    // Stores one intensity in every sample of the pixel.
    void set(int x, int y, uint32_t v) { set(x, y, v, v, v); }

    void fill(const std::function<uint32_t(int, int)>& intensity) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                set(x, y, intensity(x, y));
    }
};

// Background and amplitude that suit the sample width.
struct StarLevels {
    double background;
    double amplitude;
};
inline StarLevels levelsFor(const RawLayout& l) {
    return l.sixteenBit ? StarLevels{1000, 40000} : StarLevels{20, 200};
}

// A Gaussian star of `sigma` sampled at pixel centres; pixel (i, j) is centred on (i, j).
inline RawFrame gaussianStar(const RawLayout& layout, int width, int height, double x0, double y0,
                             double sigma, StarLevels levels) {
    RawFrame frame(layout, width, height);
    frame.fill([&](int x, int y) {
        const double r2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
        return uint32_t(std::lround(levels.background +
                                    levels.amplitude * std::exp(-r2 / (2 * sigma * sigma))));
    });
    return frame;
}
