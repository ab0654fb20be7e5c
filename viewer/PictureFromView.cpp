#include "PictureFromView.h"

// The picture's size in image pixels: the view's size times the zoom, exchanged when turned.
static QSizeF pictureSize(const ViewPresentation& view) {
    QSizeF s = view.viewSize * view.zoom;
    return (view.rotation == 90 || view.rotation == -90) ? s.transposed() : s;
}

QPointF pictureFromView(QPointF p, const ViewPresentation& view) {
    const double z = view.zoom;
    const double W = view.viewSize.width(), H = view.viewSize.height();
    QPointF q;
    if (view.rotation == 90)
        q = QPointF(z * p.y(), z * (W - p.x()));
    else if (view.rotation == -90)
        q = QPointF(z * (H - p.y()), z * p.x());
    else
        q = QPointF(z * p.x(), z * p.y());
    const QSizeF size = pictureSize(view);
    if (view.flipHorizontally) q.setX(size.width() - q.x());
    if (view.flipVertically) q.setY(size.height() - q.y());
    return q;
}

QRectF pictureFromView(const QRectF& r, const ViewPresentation& view) {
    const double z = view.zoom;
    const double W = view.viewSize.width(), H = view.viewSize.height();
    const double X = r.x(), Y = r.y(), w = r.width(), h = r.height();
    QRectF q;
    if (view.rotation == 90)
        q = QRectF(z * Y, z * (W - X - w), z * h, z * w);
    else if (view.rotation == -90)
        q = QRectF(z * (H - Y - h), z * X, z * h, z * w);
    else
        q = QRectF(z * X, z * Y, z * w, z * h);
    const QSizeF size = pictureSize(view);
    if (view.flipHorizontally) q.moveLeft(size.width() - q.x() - q.width());
    if (view.flipVertically) q.moveTop(size.height() - q.y() - q.height());
    return q;
}
