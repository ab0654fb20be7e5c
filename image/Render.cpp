// Rendering an Image to the 8-bit RGB picture the viewer shows.
//
// Source layouts, by bits per pixel, all read as one plane of packed rows, top row first:
//   8, 16  grey samples: demosaiced when a colour-filter pattern is set (Demosaic.cpp), else
//          stretched to grey, with the largest sample value shown as saturated (red, or white
//          when "highlightOverexposure" is off);
//   24, 48 R, G, B samples: each stretched into the output byte of the same index;
//   32     four bytes per pixel, colour in bytes 0..2, or 1..3 when the alpha comes first.
// Any other width gives a black picture. The output is `cachedBitmapData` (width x height x 3
// bytes), described by `cachedImageRep`; the returned QImage is a read-only view of the same
// memory that shares its ownership (PictureBuffer.h), so each output byte is written once. The
// memory is reused by the next render unless a picture over it is still alive; then that
// render takes another buffer and the picture keeps its bytes. Each layout tries the GPU pass
// first (StretchWithMetal.cpp), which writes the same bytes into `cachedBitmapData`.
//
// Every output byte is the stretch of one value (Stretch.h). For 8- and 16-bit samples all
// possible values are tabulated once per render, and bands of rows run on the cores; each
// output row depends on the source alone, so the bytes do not depend on the thread count.
#include "Demosaic.h"
#include "Image.h"
#include "OutputRows.h"
#include "PictureBuffer.h"
#include "Samples.h"
#include "Settings.h"
#include "Stretch.h"

#include <cstdlib>
#include <cstring>

namespace {

// The rendered bitmap's description; it keeps the memory it describes alive.
class RenderedBitmapImageRep : public BitmapImageRep {
  public:
    std::shared_ptr<PictureBuffer> buffer;  // the described memory
};

// Grey samples: one table word per sample value holds its three output bytes in memory order
// (the saturated value's word holds the highlight colour), so a pixel is one lookup and one
// store. The word's fourth byte spills into the next pixel, which is written afterwards; the
// last pixel of a block is written byte by byte so that nothing lands past the block.
template <typename T>
void renderGrey(const uint8_t* src, int64_t w, int64_t h, int64_t black, int64_t white,
                bool highlight, const RowTargets& targets) {
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
    produceRows(w, h, targets, [&](int64_t y0, int64_t y1, uint8_t* out) {
        const uint32_t* table = words.data();  // a local: the stores cannot alias it
        const uint8_t* s = src + size_t(y0) * size_t(w) * sizeof(T);
        const size_t pixels = size_t(y1 - y0) * size_t(w);
        size_t p = 0;
        // Four pixels at a time: four independent lookups, then 16 bytes stored of which
        // the last 4 are overwritten by the next group.
        for (; p + 5 <= pixels; p += 4) {
            if ((p & 15) == 0) __builtin_prefetch(s + (p + 1024) * sizeof(T));
            const uint32_t w0 = table[loadSample<T>(s, p)], w1 = table[loadSample<T>(s, p + 1)],
                           w2 = table[loadSample<T>(s, p + 2)], w3 = table[loadSample<T>(s, p + 3)];
            std::memcpy(out + 3 * p, &w0, 4);
            std::memcpy(out + 3 * p + 3, &w1, 4);
            std::memcpy(out + 3 * p + 6, &w2, 4);
            std::memcpy(out + 3 * p + 9, &w3, 4);
        }
        for (; p + 1 < pixels; ++p)
            std::memcpy(out + 3 * p, &table[loadSample<T>(s, p)], 4);
        std::memcpy(out + 3 * (pixels - 1), &table[loadSample<T>(s, pixels - 1)], 3);
    });
}

// Colour samples, `stride` per pixel from `offset` on: the three colour samples of pixel p go
// to output bytes 3p, 3p + 1, 3p + 2.
template <typename T>
void renderColour(const uint8_t* src, int64_t w, int64_t h, int64_t stride, int64_t offset,
                  int64_t black, int64_t white, const RowTargets& targets) {
    const StretchTable stretch(sampleMax<T>(), black, white);
    produceRows(w, h, targets, [&](int64_t y0, int64_t y1, uint8_t* out) {
        const uint8_t* table = stretch.data();  // a local: the stores cannot alias it
        const size_t first = size_t(y0) * size_t(w), pixels = size_t(y1 - y0) * size_t(w);
        const uint8_t* s = src + first * size_t(stride) * sizeof(T);
        if (stride == 3) {
            for (size_t i = 0; i < 3 * pixels; ++i)
                out[i] = table[loadSample<T>(s, i)];
        } else {
            for (size_t p = 0; p < pixels; ++p) {
                const size_t i = p * size_t(stride) + size_t(offset);
                out[3 * p] = table[loadSample<T>(s, i)];
                out[3 * p + 1] = table[loadSample<T>(s, i + 1)];
                out[3 * p + 2] = table[loadSample<T>(s, i + 2)];
            }
        }
    });
}

}  // namespace

QImage Image::renderedImage() {
    if (!cached.isNull()) return cached;
    histogram();  // fills total4 for the white balance; the picture is not needed here

    const auto& rep = originalImageRep;
    if (!rep || !rep->bitmapData()) return {};
    // The conversion reads width x height packed pixels: refuse a bitmap whose memory is
    // smaller than that, whatever it claims.
    if (width <= 0 || height <= 0 || rep->bitsPerPixel != bitsPerPixel || rep->pixelsWide < width ||
        rep->pixelsHigh < height || rep->bytesPerRow < width * bitsPerPixel / 8)
        return {};
    const size_t outputBytes = size_t(width) * size_t(height) * 3;
    if (width > INT32_MAX || height > INT32_MAX) return {};
    // A picture over the memory may still be shown (the viewer, an earlier caller): then this
    // render writes elsewhere and that picture keeps its bytes.
    if (!cachedBitmapBuffer || cachedBitmapBuffer->size() != outputBytes ||
        cachedBitmapBuffer->isShown()) {
        auto fresh = PictureBuffer::make(outputBytes);
        if (!fresh) return {};
        cachedBitmapBuffer = std::move(fresh);
    }
    cachedBitmapData = cachedBitmapBuffer->data();
    cachedPlanes[0] = cachedBitmapData;
    const RowTargets targets{cachedBitmapData};

    const uint8_t* src = rep->bitmapData();
    const int64_t black = _blackPoint, white = _whitePoint;
    switch (bitsPerPixel) {
        case 8:
        case 16: {
            if (stretchWithMetal()) break;
            const int bytes = int(bitsPerPixel / 8);
            if (_debayer != DebayerRaw && width >= 2 && height >= 2) {
                updateWhiteBalance();
                demosaicFrame(src, bytes, width, height, _debayer, black, white, redCoef, blueCoef,
                              targets);
                break;
            }
            // Raw, or too small a frame to demosaic: grey.
            const bool highlight = userDefaults().defaultsBool("highlightOverexposure", true);
            if (bytes == 1)
                renderGrey<uint8_t>(src, width, height, black, white, highlight, targets);
            else
                renderGrey<uint16_t>(src, width, height, black, white, highlight, targets);
            break;
        }
        case 24:
            if (stretchWithMetal()) break;
            renderColour<uint8_t>(src, width, height, 3, 0, black, white, targets);
            break;
        case 48:
            if (stretchWithMetal()) break;
            renderColour<uint16_t>(src, width, height, 3, 0, black, white, targets);
            break;
        case 32:
            if (stretchWithMetal()) break;
            renderColour<uint8_t>(src, width, height, 4, rep->bitmapFormat & BitmapFormatAlphaFirst,
                                  black, white, targets);
            break;
        default:  // no conversion for this pixel width: a black picture
            std::memset(cachedBitmapData, 0, outputBytes);
            break;
    }

    // A new description only for new memory: the export reads whichever is current.
    if (!cachedImageRep || cachedImageRep->bitmapData() != cachedBitmapData) {
        auto described = std::make_shared<RenderedBitmapImageRep>();
        if (!described->describe(cachedPlanes, width, height, 8, 3, false, false,
                                 ColorSpace::DeviceRGB, 0, width * 3, 24, outputBytes))
            return {};
        described->buffer = cachedBitmapBuffer;
        cachedImageRep = described;
    }
    cached = PictureBuffer::picture(cachedBitmapBuffer, int(width), int(height));
    return cached;
}
