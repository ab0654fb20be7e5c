#include "ImageView.h"

#include <QPainter>

#include <algorithm>

ImageView::ImageView(QWidget* parent) : QWidget(parent) {}

void ImageView::setImage(const QImage& image) {
    image_ = image;
    update();
}

QSize ImageView::sizeHint() const {
    return image_.isNull() ? QSize(64, 64) : image_.deviceIndependentSize().toSize();
}

void ImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull() || width() <= 0 || height() <= 0) return;
    const QSizeF natural = image_.deviceIndependentSize();
    if (natural.isEmpty()) return;
    const double k = std::min(width() / natural.width(), height() / natural.height());
    const QSizeF shown = natural * k;
    const QRectF target(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                        shown);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smoothScaling);
    painter.drawImage(target, image_);
}
