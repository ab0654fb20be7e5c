// Synthetic star fields for the star-probe tests: 16-bit raw frame blobs with Gaussian stars of
// known centre, sigma and amplitude on a flat background, and the marker view's geometry
// (where a picture point sits in the grabbed view, where to click for it).
#pragma once

#include "ClickableView.h"
#include "ImageWindowTesting.h"
#include "ViewMapping.h"

#include <QImage>
#include <QPoint>
#include <QPointF>

#include <cmath>
#include <vector>

namespace star_fields {

struct Star {
    QPointF centre;            // picture coordinates, y upward; pixel i spans [i, i + 1)
    double sigma = 1.2;        // pixels; the probe's 9 x 9 window suits about this width
    double amplitude = 30000;  // above the background
};

// A RAW2 frame of w x h with `stars` on `background`. Each pixel holds the profile at its
// centre, rounded.
inline ImagePtr starField(int w, int h, const std::vector<Star>& stars, double background = 1000) {
    return testing_image_window::imageOf(testing_image_window::rawBlob16(w, h, [&](int x, int row) {
        const double px = x + 0.5, py = h - row - 0.5;  // the pixel's centre, y upward
        double v = background;
        for (const Star& s : stars) {
            const double dx = px - s.centre.x(), dy = py - s.centre.y();
            v += s.amplitude * std::exp(-(dx * dx + dy * dy) / (2 * s.sigma * s.sigma));
        }
        return uint16_t(std::lround(std::min(v, 65535.0)));
    }));
}

// The FWHM and the HFD (twice the flux-weighted mean distance from the centre) of a circular
// Gaussian of `sigma`.
inline double gaussianFwhm(double sigma) {
    return 2 * std::sqrt(2 * std::log(2.0)) * sigma;
}
inline double gaussianHfd(double sigma) {
    return std::sqrt(2 * M_PI) * sigma;
}

// The widget position (pixels, y downward) over picture point `p`, for the view as it stands.
inline QPointF widgetPointOf(const ClickableView* view, QPointF p) {
    return toYDown(viewFromPicture(p, view->orientation()), view->frameSize().height());
}

// The whole widget position nearest to `p`'s, where a QTest click lands.
inline QPoint clickPointOf(const ClickableView* view, QPointF p) {
    return widgetPointOf(view, p).toPoint();
}

// The marker view as it is drawn now.
inline QImage grabbed(ClickableView* view) {
    return view->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// True when the pixel at (x, y) of `picture` (or one beside it) has `colour`.
inline bool colourNear(const QImage& picture, QPointF at, const QColor& colour, int radius = 1) {
    const int cx = int(std::floor(at.x())), cy = int(std::floor(at.y()));
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const int x = cx + dx, y = cy + dy;
            if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) continue;
            if (QColor(picture.pixel(x, y)) == colour) return true;
        }
    return false;
}

// True when the point marker (an upright green cross with a gap of 3 points around its
// centre and arms of "markerSize" 15) is drawn centred at widget position `c`.
inline bool crossDrawnAt(const QImage& view, QPointF c, const QColor& green) {
    for (QPointF arm : {QPointF(-10, 0), QPointF(10, 0), QPointF(0, -10), QPointF(0, 10)})
        if (!colourNear(view, c + arm, green)) return false;
    return true;
}

}  // namespace star_fields
