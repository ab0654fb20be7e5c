// Rendering an Image to the 8-bit RGB picture the viewer shows.
//
// Source layouts, by bits per pixel, all read as one plane of packed rows, top row first:
//   8, 16  grey samples: demosaiced when a colour-filter pattern is set (Demosaic.cpp), else
//          stretched to grey, with the largest sample value shown as saturated (red, or white
//          when "highlightOverexposure" is off);
//   24, 48 R, G, B samples: each stretched into the output byte of the same index;
//   32     four bytes per pixel, colour in bytes 0..2, or 1..3 when the alpha comes first.
// Any other width gives a black picture. The output is `cachedBitmapData` (width x height x 3
// bytes, allocated at the first render and reused), described by `cachedImageRep`; the
// returned QImage is a copy of it.
//
// Every output byte is the stretch of one value (Stretch.h). For 8- and 16-bit samples all
// possible values are tabulated once per render, and bands of rows run on the cores; each
// output row depends on the source alone, so the bytes do not depend on the thread count.
#include "Demosaic.h"
#include "Image.h"
#include "ParallelRows.h"
#include "Samples.h"
#include "Settings.h"
#include "Stretch.h"

#include <cstdlib>
#include <cstring>

namespace {

// Rows per band: at least about 64 KB of output, so small frames stay on the calling thread.
int64_t minBandRows(int64_t width) { return std::max<int64_t>(1, 65536 / (3 * width)); }

// Grey samples: one table word per sample value holds its three output bytes in memory order
// (the saturated value's word holds the highlight colour), so a pixel is one lookup and one
// store. The word's fourth byte spills into the next pixel, which is written afterwards; the
// last pixel of a band is written byte by byte so that no band touches another's bytes.
template <typename T>
void renderGrey(const uint8_t* src, uint8_t* output, int64_t w, int64_t h, int64_t black,
                int64_t white, bool highlight, const BandDone& done) {
    const StretchTable stretch(sampleMax<T>(), black, white);
    std::vector<uint32_t> words(size_t(sampleMax<T>()) + 1);
    for (uint32_t v = 0; v <= sampleMax<T>(); ++v) {
        uint8_t rgb[4] = {stretch[v], stretch[v], stretch[v], 0};
        if (v == sampleMax<T>()) {
            rgb[0] = 255;
            rgb[1] = rgb[2] = highlight ? 0 : 255;
        }
        std::memcpy(&words[v], rgb, 4);
    }
    parallelRows(h, minBandRows(w), [&](int64_t y0, int64_t y1) {
        const size_t first = size_t(y0) * size_t(w), end = size_t(y1) * size_t(w);
        for (size_t p = first; p + 1 < end; ++p)
            std::memcpy(output + 3 * p, &words[loadSample<T>(src, p)], 4);
        std::memcpy(output + 3 * (end - 1), &words[loadSample<T>(src, end - 1)], 3);
        if (done) done(y0, y1);
    });
}

// Colour samples, `stride` per pixel from `offset` on: the three colour samples of pixel p go
// to output bytes 3p, 3p + 1, 3p + 2.
template <typename T>
void renderColour(const uint8_t* src, uint8_t* output, int64_t w, int64_t h, int64_t stride,
                  int64_t offset, int64_t black, int64_t white, const BandDone& done) {
    const StretchTable stretch(sampleMax<T>(), black, white);
    const uint8_t* table = stretch.data();
    parallelRows(h, minBandRows(w), [&](int64_t y0, int64_t y1) {
        const size_t first = size_t(y0) * size_t(w), end = size_t(y1) * size_t(w);
        if (stride == 3) {
            for (size_t i = 3 * first; i < 3 * end; ++i) output[i] = table[loadSample<T>(src, i)];
        } else {
            for (size_t p = first; p < end; ++p) {
                const size_t s = p * size_t(stride) + size_t(offset);
                output[3 * p] = table[loadSample<T>(src, s)];
                output[3 * p + 1] = table[loadSample<T>(src, s + 1)];
                output[3 * p + 2] = table[loadSample<T>(src, s + 2)];
            }
        }
        if (done) done(y0, y1);
    });
}

}  // namespace

// No GPU pass is available in this build; the CPU path always runs.
bool Image::stretchWithMetal() { return false; }

QImage Image::renderedImage() {
    if (!cached.isNull()) return cached;
    histogram();  // fills total4 for the white balance; the picture is not needed here

    const auto& rep = originalImageRep;
    if (!rep || !rep->bitmapData()) return {};
    // The conversion reads width x height packed pixels: refuse a bitmap whose memory is
    // smaller than that, whatever it claims.
    if (width <= 0 || height <= 0 || rep->bitsPerPixel != bitsPerPixel ||
        rep->pixelsWide < width || rep->pixelsHigh < height ||
        rep->bytesPerRow < width * bitsPerPixel / 8)
        return {};
    const size_t outputBytes = size_t(width) * size_t(height) * 3;
    if (!cachedBitmapData) cachedBitmapData = static_cast<uint8_t*>(std::calloc(outputBytes, 1));
    if (!cachedBitmapData) return {};
    cachedPlanes[0] = cachedBitmapData;

    // The picture owns a copy of the output: the viewer may keep it after this Image is gone,
    // and the next render rewrites cachedBitmapData in place. Each band of rows is copied by
    // the worker that made it, while the rows are still in its cache.
    QImage picture(int(width), int(height), QImage::Format_RGB888);
    if (picture.isNull()) return {};
    uchar* bits = picture.bits();
    const size_t pictureRow = size_t(picture.bytesPerLine()), outputRow = size_t(width) * 3;
    uint8_t* output = cachedBitmapData;
    const BandDone copyRows = [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y)
            std::memcpy(bits + size_t(y) * pictureRow, output + size_t(y) * outputRow, outputRow);
    };

    const uint8_t* src = rep->bitmapData();
    const int64_t black = _blackPoint, white = _whitePoint;
    bool viaGpu = false;
    switch (bitsPerPixel) {
        case 8:
        case 16: {
            if ((viaGpu = stretchWithMetal())) break;
            const int bytes = int(bitsPerPixel / 8);
            if (_debayer != DebayerRaw && width >= 2 && height >= 2) {
                updateWhiteBalance();
                demosaicFrame(src, bytes, output, width, height, _debayer, black, white, redCoef,
                              blueCoef, copyRows);
                break;
            }
            // Raw, or too small a frame to demosaic: grey.
            const bool highlight = userDefaults().defaultsBool("highlightOverexposure", true);
            if (bytes == 1)
                renderGrey<uint8_t>(src, output, width, height, black, white, highlight, copyRows);
            else
                renderGrey<uint16_t>(src, output, width, height, black, white, highlight,
                                     copyRows);
            break;
        }
        case 24:
            if ((viaGpu = stretchWithMetal())) break;
            renderColour<uint8_t>(src, output, width, height, 3, 0, black, white, copyRows);
            break;
        case 48:
            if ((viaGpu = stretchWithMetal())) break;
            renderColour<uint16_t>(src, output, width, height, 3, 0, black, white, copyRows);
            break;
        case 32:
            if ((viaGpu = stretchWithMetal())) break;
            renderColour<uint8_t>(src, output, width, height, 4,
                                  rep->bitmapFormat & BitmapFormatAlphaFirst, black, white,
                                  copyRows);
            break;
        default:  // no conversion for this pixel width: a black picture
            std::memset(output, 0, outputBytes);
            copyRows(0, height);
            break;
    }
    if (viaGpu) copyRows(0, height);

    if (!cachedImageRep) {
        auto described = std::make_shared<BitmapImageRep>();
        if (!described->describe(cachedPlanes, width, height, 8, 3, false, false,
                                 ColorSpace::DeviceRGB, 0, width * 3, 24, outputBytes))
            return {};
        cachedImageRep = described;
    }
    cached = picture;
    return cached;
}
