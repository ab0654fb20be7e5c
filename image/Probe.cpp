// Pixel readout and star probes of an Image, and the rotated copy of a picture.
//
// Picture coordinates (x, y) count y upward from the bottom edge and give pixel i the span
// [i, i + 1); the bitmap's rows are counted downward from the top. So the pixel under (x, y)
// is column floor(x), row height - 1 - floor(y), and a pixel's centre lies at (i + 0.5).
//
// The star probes hand the bitmap to the support library in place, as a raw frame of the type
// chosen by bits per pixel: 8 grey, 16 grey, 24 RGB, 32 RGBA or ARGB (by the alpha-first bit),
// 48 RGB. Any other width, a planar or padded bitmap, or a frame too large for the library's
// 32-bit sizes answers nothing. The library's centroid counts pixel i as [i, i + 1) like the
// picture (only y is flipped); its PSF measurement centres pixel i on i, hence the half-pixel
// shift in psfAt.
#include "Image.h"
#include "RawFrame.h"

#include "solvan_raw_utils.h"

#include <QPainter>
#include <QTransform>

#include <climits>
#include <cmath>
#include <cstring>

solvan_raw_type rawTypeFor(int64_t bitsPerPixel, int64_t bitmapFormat) {
    switch (bitsPerPixel) {
        case 8:
            return SOLVAN_RAW_MONO8;
        case 16:
            return SOLVAN_RAW_MONO16;
        case 24:
            return SOLVAN_RAW_RGB24;
        case 32:
            return (bitmapFormat & BitmapFormatAlphaFirst) ? SOLVAN_RAW_ARGB32 : SOLVAN_RAW_RGBA32;
        case 48:
            return SOLVAN_RAW_RGB48;
        default:
            return 0;
    }
}

std::optional<RawFrameView> rawFrameOf(const Image& image) {
    const auto& rep = image.originalImageRep;
    if (!rep || !rep->bitmapData() || rep->isPlanar) return std::nullopt;
    const solvan_raw_type type = rawTypeFor(image.bitsPerPixel, rep->bitmapFormat);
    if (type == 0 || rep->bitsPerPixel != image.bitsPerPixel) return std::nullopt;
    if (rep->pixelsWide != image.width || rep->pixelsHigh != image.height) return std::nullopt;
    if (image.width < 1 || image.height < 1 || image.width > INT_MAX || image.height > INT_MAX)
        return std::nullopt;
    if (rep->bytesPerRow != image.width * image.bitsPerPixel / 8) return std::nullopt;
    return RawFrameView{type, rep->bitmapData(), int(image.width), int(image.height)};
}

namespace {

uint16_t word(const uint8_t* p) {
    uint16_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

}  // namespace

std::optional<PixelValue> Image::valueAt(double x, double y) const {
    const auto& rep = originalImageRep;
    if (!rep || !rep->bitmapData()) return std::nullopt;
    if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    const double column = std::floor(x), row = double(height) - 1 - std::floor(y);
    if (column < 0 || column >= double(width) || row < 0 || row >= double(height))
        return std::nullopt;
    if (rep->pixelsWide != width || rep->pixelsHigh != height || rep->bitsPerPixel != bitsPerPixel)
        return std::nullopt;

    const int64_t c = int64_t(column);
    const uint8_t* line = rep->bitmapData() + int64_t(row) * rep->bytesPerRow;
    PixelValue v{};
    auto colour = [&](int64_t r, int64_t g, int64_t b, int64_t scale) {
        v.isColour = true;
        v.rgb = {r, g, b};
        v.level = (r + g + b) / 3 / scale;
    };
    switch (bitsPerPixel) {
        case 8:
            v.grey = line[c];
            v.level = v.grey;
            break;
        case 16:
            v.grey = word(line + 2 * c);
            v.level = v.grey >> 8;
            break;
        case 24: {
            const uint8_t* p = line + 3 * c;
            colour(p[0], p[1], p[2], 1);
            break;
        }
        case 32: {
            const uint8_t* p =
                line + 4 * c + ((rep->bitmapFormat & BitmapFormatAlphaFirst) ? 1 : 0);
            colour(p[0], p[1], p[2], 1);
            break;
        }
        case 48: {
            const uint8_t* p = line + 6 * c;
            colour(word(p), word(p + 2), word(p + 4), 256);
            break;
        }
        default:
            return std::nullopt;
    }
    return v;
}

std::optional<QPointF> Image::selectionAt(double x, double y) const {
    const std::optional<RawFrameView> frame = rawFrameOf(*this);
    if (!frame) return std::nullopt;
    double sx = x, sy = double(height) - y;  // the library counts rows from the top
    solvan_digest digest{};
    if (solvan_selection_centroid(frame->type, frame->data, &sx, &sy, 10, frame->width,
                                  frame->height, &digest) != SOLVAN_OK)
        return std::nullopt;
    return QPointF(sx, double(height) - sy);
}

std::optional<PSFResult> Image::psfAt(double x, double y) const {
    const std::optional<RawFrameView> frame = rawFrameOf(*this);
    if (!frame) return std::nullopt;
    PSFResult psf{0, 0, 0};
    // Pixel i spans [i, i + 1) in the picture but is centred on i for the measurement.
    if (solvan_measure_psf(frame->type, frame->data, x - 0.5, (double(height) - y) - 0.5, 4,
                           frame->width, frame->height, &psf.fwhm, &psf.hfd,
                           &psf.peak) != SOLVAN_OK)
        return std::nullopt;
    return psf;
}

QImage rotatedImage(bool flipHorizontally, bool flipVertically, double angle, const QImage& image) {
    if (angle == 0 && !flipHorizontally && !flipVertically) return image;
    if (image.isNull() || !std::isfinite(angle)) return image;

    // The new size is the picture's size vector turned by the angle (for quarter turns the
    // same or the swapped size).
    const double w = image.width(), h = image.height();
    const double radians = angle * M_PI / 180;
    const int newWidth = int(std::lround(std::fabs(w * std::cos(radians) - h * std::sin(radians))));
    const int newHeight =
        int(std::lround(std::fabs(w * std::sin(radians) + h * std::cos(radians))));
    QImage result(std::max(newWidth, 1), std::max(newHeight, 1),
                  QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);

    // Mirror the picture about its own centre, turn it counter-clockwise as seen on screen
    // (Qt's y axis points down, so the turn is negative) and centre it in the new picture.
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.translate(result.width() / 2.0, result.height() / 2.0);
    painter.rotate(-angle);
    painter.scale(flipHorizontally ? -1 : 1, flipVertically ? -1 : 1);
    painter.drawImage(QRectF(-w / 2, -h / 2, w, h), image);
    painter.end();
    return result;
}
