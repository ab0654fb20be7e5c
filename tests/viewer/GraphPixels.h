// Reading the star probe's graphs back: where a colour was stroked, in the graphs' own
// coordinates (x to the right, y upward from the bottom edge).
//
// Lines are antialiased, so a stroke covers a pixel partly. On a premultiplied picture both
// a transparent background and an opaque black one are (0, 0, 0) in the stored channels, and
// a pixel that a line of colour C covers by t holds t x C there; `coverage` recovers t.
#pragma once

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <vector>

namespace GraphPixels {

// The stored (premultiplied) pixel at column x and upward row y; transparent off the picture.
inline QRgb storedAt(const QImage& picture, int x, int yUp) {
    const int row = picture.height() - 1 - yUp;
    if (x < 0 || row < 0 || x >= picture.width() || row >= picture.height()) return 0;
    if (picture.format() == QImage::Format_ARGB32_Premultiplied) return picture.pixel(x, row);
    return picture.convertToFormat(QImage::Format_ARGB32_Premultiplied).pixel(x, row);
}

// How much of the pixel at (x, yUp) a stroke of `colour` covers over a black or transparent
// background: a value in 0..1, or 0 when the pixel holds another colour.
inline double coverage(const QImage& picture, int x, int yUp, const QColor& colour) {
    const QRgb p = storedAt(picture, x, yUp);
    const double pc[3] = {double(qRed(p)), double(qGreen(p)), double(qBlue(p))};
    const double cc[3] = {double(colour.red()), double(colour.green()), double(colour.blue())};
    double dot = 0, norm = 0;
    for (int i = 0; i < 3; ++i) {
        dot += pc[i] * cc[i];
        norm += cc[i] * cc[i];
    }
    const double t = norm > 0 ? dot / norm : 0;
    double residual = 0;
    for (int i = 0; i < 3; ++i)
        residual = std::max(residual, std::fabs(pc[i] - t * cc[i]));
    return (t >= 0.2 && residual <= 14) ? std::min(t, 1.0) : 0;
}

// True when a pixel within `radius` of (x, yUp) is covered by `colour`.
inline bool strokedNear(const QImage& picture, double x, double yUp, const QColor& colour,
                        int radius = 1) {
    const int cx = int(std::floor(x)), cy = int(std::floor(yUp));
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (coverage(picture, cx + dx, cy + dy, colour) > 0) return true;
    return false;
}

// The heights at which column x crosses strokes of `colour`: one coverage-weighted centre per
// run of covered pixels, in upward coordinates (a line at height v gives v).
inline std::vector<double> strokeHeights(const QImage& picture, int x, const QColor& colour) {
    std::vector<double> heights;
    double weight = 0, sum = 0;
    for (int y = 0; y <= picture.height(); ++y) {
        const double t = y < picture.height() ? coverage(picture, x, y, colour) : 0;
        if (t > 0) {
            weight += t;
            sum += t * (y + 0.5);
        } else if (weight > 0) {
            heights.push_back(sum / weight);
            weight = sum = 0;
        }
    }
    return heights;
}

// True when no pixel of the picture has any opacity.
inline bool isTransparent(const QImage& picture) {
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(picture.pixel(x, y)) != 0) return false;
    return true;
}

}  // namespace GraphPixels
