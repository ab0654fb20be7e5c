// Turns a point or rectangle of the marker view into image pixels.
//
// The marker view shows the picture mirrored first (in picture coordinates, about its own
// centre lines) and then turned by a quarter turn, the way `rotatedImage` builds it, at
// `zoom` image pixels per view point. Both spaces have their origin at the bottom-left
// corner and y upward. `pictureFromView` undoes that: it turns the view point back, then
// mirrors it back, then scales it by the zoom. The view's size is the turned picture's size
// divided by the zoom, so the picture's own size follows from it.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

// How the marker view presents the picture.
struct ViewPresentation {
    double zoom = 1.0;              // image pixels per view point
    int rotation = 0;               // degrees: 90 (counter-clockwise), -90 (clockwise) or 0
    bool flipHorizontally = false;  // picture mirrored left to right
    bool flipVertically = false;    // picture mirrored top to bottom
    QSizeF viewSize;                // the marker view's frame size, points
};

// The image point under view point `p`.
QPointF pictureFromView(QPointF p, const ViewPresentation& view);

// The image rectangle under view rectangle `r` (non-negative sizes stay non-negative).
QRectF pictureFromView(const QRectF& r, const ViewPresentation& view);
