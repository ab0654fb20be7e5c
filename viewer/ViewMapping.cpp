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
    return PictureTurn{quarterTurns}.shownSize(pictureSize);
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

PictureTurn pictureTurnOf(const ViewOrientation& o) {
    return {o.quarterTurns, o.flipHorizontally, o.flipVertically};
}

// The mirroring is done in picture pixels and the turn in view points, so that a point and its
// mark stay where they were whatever the zoom.
QPointF viewFromPicture(QPointF p, const ViewOrientation& o) {
    const PictureTurn turn = pictureTurnOf(o);
    return turn.turned(turn.mirrored(p, pictureSizeOf(o)) / effectiveScale(o.scale), o.viewSize);
}

QPointF pictureFromView(QPointF p, const ViewOrientation& o) {
    const PictureTurn turn = pictureTurnOf(o);
    return turn.mirrored(turn.unturned(p, o.viewSize) * effectiveScale(o.scale), pictureSizeOf(o));
}

static double usableRatio(double pixelRatio) {
    return std::isfinite(pixelRatio) && pixelRatio > 0 ? pixelRatio : 1.0;
}

std::optional<QPoint> devicePixelAt(QPointF p, double h, double pixelRatio, QPointF deviceOffset) {
    const double ratio = usableRatio(pixelRatio);
    const double dx = std::floor(p.x() * ratio + deviceOffset.x() + 1e-6);
    const double dy = std::floor((h - p.y()) * ratio + deviceOffset.y() + 1e-6);
    if (!(std::abs(dx) < INT_MAX && std::abs(dy) < INT_MAX)) return std::nullopt;
    return QPoint(int(dx), int(dy));
}

std::optional<QPoint> picturePixelAt(QPointF p, QSize pictureSize, const ViewOrientation& o,
                                     double pixelRatio, QPointF deviceOffset,
                                     const std::optional<QRegion>& clip) {
    const double ratio = usableRatio(pixelRatio);
    const double w = o.viewSize.width(), h = o.viewSize.height();
    if (!(w > 0 && h > 0) || pictureSize.isEmpty()) return std::nullopt;
    const std::optional<QPoint> device = devicePixelAt(p, h, ratio, deviceOffset);
    if (!device) return std::nullopt;
    const PictureTurn turn = pictureTurnOf(o);
    const QSize shown = turn.shownSize(pictureSize);
    const DeviceGrid grid = deviceGrid(shown, o.viewSize, QPointF(ratio, ratio));
    const QRegion reach = clip ? *clip : QRegion(0, 0, grid.width, grid.height);
    if (!paintedDevicePixels(grid, reach).contains(*device)) return std::nullopt;
    const std::optional<int> sx = shownPixelNamed(device->x(), grid.shownPerDeviceX, shown.width());
    const std::optional<int> sy =
        shownPixelNamed(device->y(), grid.shownPerDeviceY, shown.height());
    if (!sx || !sy) return std::nullopt;
    // Shown rows are counted down as painted, picture pixels up.
    return turn.picturePixel(QPoint(*sx, shown.height() - 1 - *sy), pictureSize);
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
