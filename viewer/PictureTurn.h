// How the marker view shows the picture: mirrored about its own centre lines, then turned
// counter-clockwise by whole quarter turns. This is the one mapping between the shown picture
// and the picture; painting (DevicePixels), the pixel readout and the marks (ViewMapping) all go
// through it.
//
// Coordinates count y upward from the bottom edge on both sides, as the image model does. A
// point is a position (a corner of a pixel has whole coordinates); a pixel is named by its
// bottom-left corner, and its square maps onto the square of the pixel it becomes.
#pragma once

#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QSizeF>

struct PictureTurn {
    int quarterTurns = 0;  // counter-clockwise: 0 to 3 (others are taken modulo 4)
    bool flipH = false;    // mirrored left to right, before the turn
    bool flipV = false;    // mirrored top to bottom, before the turn

    // Size of the shown picture for a picture of `picture` (sides swapped for odd turns).
    QSizeF shownSize(QSizeF picture) const;
    QSize shownSize(QSize picture) const;

    // The mirroring alone, within a picture of `picture` (its own inverse).
    QPointF mirrored(QPointF p, QSizeF picture) const;
    // The turn alone: a point of the mirrored picture to the shown picture of `shown`, and back.
    QPointF turned(QPointF p, QSizeF shown) const;
    QPointF unturned(QPointF p, QSizeF shown) const;

    // A point of a picture of `picture` to the shown picture, and back.
    QPointF shownFromPicture(QPointF p, QSizeF picture) const;
    QPointF pictureFromShown(QPointF p, QSizeF picture) const;

    // A pixel of a picture of `picture` to the shown pixel it becomes, and back. Pixels outside
    // the picture map on along the same lines.
    QPoint shownPixel(QPoint pixel, QSize picture) const;
    QPoint picturePixel(QPoint shownPixel, QSize picture) const;
};
