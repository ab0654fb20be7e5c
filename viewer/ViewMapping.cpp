#include "ViewMapping.h"

#include "DevicePixels.h"

#include <algorithm>
#include <climits>
#include <cmath>

int quarterTurnsForAngle(double angle) {
    if (!std::isfinite(angle)) return 0;
    double r = std::fmod(angle, 360.0);
    if (r < 0) r += 360.0;
    double q = r / 90.0;
    if (q != std::floor(q)) return 0;
    return static_cast<int>(q) % 4;
}

double effectiveScale(double scale) {
    return std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

QSizeF turnedSize(QSizeF pictureSize, int quarterTurns) {
    return (quarterTurns & 1) ? pictureSize.transposed() : pictureSize;
}

static double viewExtent(double side, double scale) {
    double e = side / effectiveScale(scale);
    if (!(e > 0)) return 0;  // also catches NaN
    return std::min(e, kMaxViewExtent);
}

QSizeF viewSizeFor(QSizeF shownSize, double scale) {
    return {viewExtent(shownSize.width(), scale), viewExtent(shownSize.height(), scale)};
}

QSizeF pictureSizeOf(const ViewOrientation& o) {
    return turnedSize(o.viewSize, o.quarterTurns) * effectiveScale(o.scale);
}

QPointF viewFromPicture(QPointF p, const ViewOrientation& o) {
    const double z = effectiveScale(o.scale);
    const QSizeF picture = pictureSizeOf(o);
    const double x = o.flipHorizontally ? picture.width() - p.x() : p.x();
    const double y = o.flipVertically ? picture.height() - p.y() : p.y();
    const double u = x / z, v = y / z;
    const double w = o.viewSize.width(), h = o.viewSize.height();
    switch (o.quarterTurns) {
        case 1:
            return {w - v, u};
        case 2:
            return {w - u, h - v};
        case 3:
            return {v, h - u};
        default:
            return {u, v};
    }
}

QPointF pictureFromView(QPointF p, const ViewOrientation& o) {
    const double z = effectiveScale(o.scale);
    const double a = p.x(), b = p.y();
    const double w = o.viewSize.width(), h = o.viewSize.height();
    double x, y;
    switch (o.quarterTurns) {
        case 1:
            x = z * b;
            y = z * (w - a);
            break;
        case 2:
            x = z * (w - a);
            y = z * (h - b);
            break;
        case 3:
            x = z * (h - b);
            y = z * a;
            break;
        default:
            x = z * a;
            y = z * b;
            break;
    }
    const QSizeF picture = pictureSizeOf(o);
    if (o.flipHorizontally) x = picture.width() - x;
    if (o.flipVertically) y = picture.height() - y;
    return {x, y};
}

std::optional<QPoint> picturePixelAt(QPointF p, QSize pictureSize, const ViewOrientation& o,
                                     double pixelRatio, QPointF deviceOffset) {
    const double ratio = std::isfinite(pixelRatio) && pixelRatio > 0 ? pixelRatio : 1.0;
    const double w = o.viewSize.width(), h = o.viewSize.height();
    if (!(w > 0 && h > 0) || pictureSize.isEmpty()) return std::nullopt;
    // The device pixel that holds the point, y down as painted, and the shown (mirrored and
    // turned) picture's pixel under its centre. Pointer positions lie on whole device pixels;
    // one a rounding error short of its pixel's edge (it came through y-up coordinates and
    // back) still counts as on it.
    const double dx = std::floor(p.x() * ratio + deviceOffset.x() + 1e-6);
    const double dy = std::floor((h - p.y()) * ratio + deviceOffset.y() + 1e-6);
    if (!(std::abs(dx) < INT_MAX && std::abs(dy) < INT_MAX)) return std::nullopt;
    const QSize shown = (o.quarterTurns & 1) ? pictureSize.transposed() : pictureSize;
    const int sx = shownPixelUnder(int(dx), shownPerDevice(shown.width(), w, ratio));
    const int sy = shownPixelUnder(int(dy), shownPerDevice(shown.height(), h, ratio));
    if (!(sx >= 0 && sx < shown.width() && sy >= 0 && sy < shown.height())) return std::nullopt;
    // Back to the picture through whole pixels, y up: undo the turn, then the mirroring.
    const int tx = sx, ty = shown.height() - 1 - sy;
    const int pw = pictureSize.width(), ph = pictureSize.height();
    int x, y;
    switch (o.quarterTurns) {
        case 1:
            x = ty, y = ph - 1 - tx;
            break;
        case 2:
            x = pw - 1 - tx, y = ph - 1 - ty;
            break;
        case 3:
            x = pw - 1 - ty, y = tx;
            break;
        default:
            x = tx, y = ty;
            break;
    }
    if (o.flipHorizontally) x = pw - 1 - x;
    if (o.flipVertically) y = ph - 1 - y;
    return QPoint(x, y);
}

// The rectangle spanned by two opposite corners.
static QRectF spanned(QPointF a, QPointF b) {
    return QRectF(QPointF(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                  QPointF(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

QRectF viewFromPicture(const QRectF& r, const ViewOrientation& o) {
    const QRectF n = r.normalized();
    return spanned(viewFromPicture(n.topLeft(), o), viewFromPicture(n.bottomRight(), o));
}

QRectF pictureFromView(const QRectF& r, const ViewOrientation& o) {
    const QRectF n = r.normalized();
    return spanned(pictureFromView(n.topLeft(), o), pictureFromView(n.bottomRight(), o));
}

bool showsCornerMosaic(QSizeF viewSize, QSizeF shownSize) {
    return viewSize.width() < shownSize.width() && viewSize.height() < shownSize.height();
}

// Tile side for a view side: a third of what the two gaps leave, never below zero (a view
// under 20 points) nor above the picture's side (so every source block lies inside it).
static double tileSide(double viewSide, double pictureSide) {
    double t = (viewSide - 20.0) / 3.0;
    if (!(t > 0)) return 0;
    return std::min(t, std::max(pictureSide, 0.0));
}

CornerMosaicLayout cornerMosaicLayout(QSizeF viewSize, QSizeF shownSize) {
    const double sw = shownSize.width(), sh = shownSize.height();
    const double cw = tileSide(viewSize.width(), sw);
    const double ch = tileSide(viewSize.height(), sh);
    const std::array<double, 3> destX = {0, cw + 10, 2 * cw + 20};
    const std::array<double, 3> destY = {0, ch + 10, 2 * ch + 20};
    const std::array<double, 3> sourceX = {0, sw / 2 - cw / 2, sw - cw};
    const std::array<double, 3> sourceY = {0, sh / 2 - ch / 2, sh - ch};
    CornerMosaicLayout layout;
    layout.tileSize = QSizeF(cw, ch);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            layout.tiles[row * 3 + column] = {QPointF(sourceX[column], sourceY[row]),
                                              QPointF(destX[column], destY[row])};
        }
    }
    return layout;
}
