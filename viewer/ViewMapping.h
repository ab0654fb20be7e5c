// Coordinates of the marker view: turning, mirroring and zooming between the picture and the
// view, and the layout of the corner mosaic.
//
// Both spaces count y upward from the bottom edge, as the image model does:
// - view coordinates: points of the marker view, origin at its bottom-left corner;
// - picture coordinates: pixels of the unturned, unmirrored picture, origin at its
//   bottom-left corner.
// The shown picture is the picture mirrored first (about its own centre) and then turned
// counter-clockwise by whole quarter turns; every function here maps through that one
// PictureTurn, as painting does, so a point and the picture pixel under it always agree. Only the
// widget converts to Qt's downward y (toYDown / toYUp).
#pragma once

#include "PictureTurn.h"

#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QRegion>
#include <QSize>
#include <QSizeF>

#include <array>
#include <optional>

// Everything that places the picture in the view.
struct ViewOrientation {
    double scale = 1.0;             // picture pixels per view point (the window's zoom)
    int quarterTurns = 0;           // counter-clockwise quarter turns: 0, 1 (90), 2 (180), 3 (-90)
    bool flipHorizontally = false;  // picture mirrored left to right before turning
    bool flipVertically = false;    // picture mirrored top to bottom before turning
    QSizeF viewSize;                // the view's frame, points
};

// Largest width or height a view may take (Qt's widget size limit).
inline constexpr double kMaxViewExtent = 16777215.0;

// Quarter turns for an angle in degrees: 90 -> 1, -90 -> 3, 180 or -180 -> 2, every other
// multiple of 90 likewise; an angle that is not a whole number of quarter turns (or is not a
// number) gives 0, so picture and marks stay unturned together.
int quarterTurnsForAngle(double angle);

// The scale to divide by: `scale` when it is finite and above zero, otherwise 1, so a view
// given no zoom yet still has a finite size.
double effectiveScale(double scale);

// Size of the picture after `quarterTurns` quarter turns (width and height swap for odd turns).
QSizeF turnedSize(QSizeF pictureSize, int quarterTurns);

// The view frame for a shown (already turned) picture of `shownSize` at `scale`: the shown
// size divided by the effective scale, each side kept within 0..kMaxViewExtent.
QSizeF viewSizeFor(QSizeF shownSize, double scale);

// The turn and mirroring of the orientation, as painting and the readout use them.
PictureTurn pictureTurnOf(const ViewOrientation& orientation);

// Size of the unturned picture, in picture pixels, that the orientation's view shows.
QSizeF pictureSizeOf(const ViewOrientation& orientation);

// A picture point to the view point drawn over it.
QPointF viewFromPicture(QPointF picturePoint, const ViewOrientation& orientation);
// A view point to the picture point under it (the inverse of viewFromPicture).
QPointF pictureFromView(QPointF viewPoint, const ViewOrientation& orientation);
// A picture rectangle to the view rectangle covering it (origin bottom-left, non-negative size).
QRectF viewFromPicture(const QRectF& pictureRect, const ViewOrientation& orientation);
// A view rectangle to the picture rectangle under it (origin bottom-left, non-negative size).
QRectF pictureFromView(const QRectF& viewRect, const ViewOrientation& orientation);

// The device pixel that holds view point `viewPoint` in a view `viewHeight` points high, painted
// at `pixelRatio` device pixels per point: counted y down from the device pixel nearest the
// view's top-left corner (deviceOrigin in DevicePixels.h), which lies `deviceOffset` device
// pixels (each side within a half) from that corner. Pointer positions lie on whole device
// pixels; one a rounding error short of its pixel's edge (it came through y-up coordinates and
// back) still counts as on it. None for a point that is no finite number or lies beyond the
// range of int. A pixelRatio that is not above zero counts as 1.
std::optional<QPoint> devicePixelAt(QPointF viewPoint, double viewHeight, double pixelRatio,
                                    QPointF deviceOffset = {});

// The pixel of a `pictureSize` picture drawn under view point `viewPoint`, found as the view
// paints it (DevicePixels.h) on the device pixel that holds the point (devicePixelAt): the
// picture pixel whose square, as the picture is shown stretched over the frame, covers the
// centre of that device pixel; for a device pixel that shows part of the picture although its
// centre lies past it (the last column or row of a reduced view), the last picture pixel it
// shows. `clip`, when given, holds the device pixels the view's paint reaches, counted from its
// device origin; outside it nothing is painted and nothing is named (paintedDevicePixels). A
// centre on an edge between squares belongs to the square to the right and below it as
// painted. Returns the pixel's column and its row counted upward from the bottom (its
// bottom-left corner in picture coordinates); none where the device pixel shows nothing of the
// picture, the view or picture is empty, or the point is no finite number.
std::optional<QPoint> picturePixelAt(QPointF viewPoint, QSize pictureSize,
                                     const ViewOrientation& orientation, double pixelRatio,
                                     QPointF deviceOffset = {},
                                     const std::optional<QRegion>& clip = std::nullopt);

// Between upward and downward y inside a space `height` high (the same formula both ways).
inline QPointF toYDown(QPointF p, double height) {
    return {p.x(), height - p.y()};
}
inline QPointF toYUp(QPointF p, double height) {
    return {p.x(), height - p.y()};
}
inline QRectF toYDown(const QRectF& r, double height) {
    return {r.x(), height - r.y() - r.height(), r.width(), r.height()};
}
inline QRectF toYUp(const QRectF& r, double height) {
    return {r.x(), height - r.y() - r.height(), r.width(), r.height()};
}

// One tile of the corner mosaic: a tileSize block copied unscaled from `source` (a point of
// the shown picture) to `destination` (a point of the mosaic); both bottom-left corners, y up.
struct MosaicTile {
    QPointF source;       // bottom-left corner in the shown picture
    QPointF destination;  // bottom-left corner in the mosaic
};

// The 3 x 3 mosaic of a picture's corners, edge midpoints and centre, 10-point gaps between.
struct CornerMosaicLayout {
    QSizeF tileSize;                  // width and height of every tile, never negative
    std::array<MosaicTile, 9> tiles;  // bottom row left to right, then middle row, then top row
};

// True when corner inspection shows the mosaic: the view is narrower and lower than the shown
// picture. Otherwise the plain picture is shown.
bool showsCornerMosaic(QSizeF viewSize, QSizeF shownSize);

// The mosaic layout for a view of `viewSize` over a shown picture of `shownSize`. Tiles are
// (side - 20) / 3 across, held at zero for views under 20 points and at most the picture's
// side, so every source block lies inside the picture.
CornerMosaicLayout cornerMosaicLayout(QSizeF viewSize, QSizeF shownSize);
