#include "PictureTurn.h"

#include <cmath>

namespace {

// The pixel whose square holds `p`, a pixel centre as mapped (exactly a half past a whole).
QPoint pixelAt(QPointF p) {
    return {static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y()))};
}

}  // namespace

QSizeF PictureTurn::shownSize(QSizeF picture) const {
    return (quarterTurns & 1) ? picture.transposed() : picture;
}

QSize PictureTurn::shownSize(QSize picture) const {
    return (quarterTurns & 1) ? picture.transposed() : picture;
}

QPointF PictureTurn::mirrored(QPointF p, QSizeF picture) const {
    return {flipH ? picture.width() - p.x() : p.x(), flipV ? picture.height() - p.y() : p.y()};
}

QPointF PictureTurn::turned(QPointF p, QSizeF shown) const {
    const double w = shown.width(), h = shown.height();
    // A counter-clockwise quarter turn takes the bottom-right corner to the top-right one.
    switch (quarterTurns & 3) {
        case 1:
            return {w - p.y(), p.x()};
        case 2:
            return {w - p.x(), h - p.y()};
        case 3:
            return {p.y(), h - p.x()};
        default:
            return p;
    }
}

QPointF PictureTurn::unturned(QPointF p, QSizeF shown) const {
    const double w = shown.width(), h = shown.height();
    switch (quarterTurns & 3) {
        case 1:
            return {p.y(), w - p.x()};
        case 2:
            return {w - p.x(), h - p.y()};
        case 3:
            return {h - p.y(), p.x()};
        default:
            return p;
    }
}

QPointF PictureTurn::shownFromPicture(QPointF p, QSizeF picture) const {
    return turned(mirrored(p, picture), shownSize(picture));
}

QPointF PictureTurn::pictureFromShown(QPointF p, QSizeF picture) const {
    return mirrored(unturned(p, shownSize(picture)), picture);
}

// Through the pixel's centre: whole sizes and half-past coordinates stay exact in doubles.
QPoint PictureTurn::shownPixel(QPoint pixel, QSize picture) const {
    return pixelAt(shownFromPicture(QPointF(pixel) + QPointF(0.5, 0.5), QSizeF(picture)));
}

QPoint PictureTurn::picturePixel(QPoint shownPixel, QSize picture) const {
    return pixelAt(pictureFromShown(QPointF(shownPixel) + QPointF(0.5, 0.5), QSizeF(picture)));
}
