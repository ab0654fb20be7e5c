#include "ClickableView.h"

#include "ClickableViewDelegate.h"
#include "Settings.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace {

// A click is a release nearer than this to the press, in x and in y (points).
constexpr double kClickDistance = 5.0;

// Whole pixels a frame of `size` points takes; a hair of rounding error does not add a pixel.
QSize widgetSizeFor(QSizeF size) {
    auto side = [](double v) {
        return static_cast<int>(std::ceil(std::clamp(v - 1e-6, 0.0, kMaxViewExtent)));
    };
    return {side(size.width()), side(size.height())};
}

// The corner mosaic of `shown` for a view of `viewSize`: a transparent picture of the view's
// size with the nine tiles copied in unscaled.
QImage cornerMosaic(const QImage& shown, QSizeF viewSize) {
    QImage mosaic(widgetSizeFor(viewSize), QImage::Format_ARGB32_Premultiplied);
    if (mosaic.isNull()) return mosaic;
    mosaic.fill(Qt::transparent);
    const CornerMosaicLayout layout = cornerMosaicLayout(viewSize, QSizeF(shown.size()));
    const int tw = static_cast<int>(layout.tileSize.width());
    const int th = static_cast<int>(layout.tileSize.height());
    if (tw <= 0 || th <= 0) return mosaic;
    QPainter painter(&mosaic);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const MosaicTile& tile : layout.tiles) {
        const QPointF from = toYDown(tile.source, shown.height());
        const QPointF to = toYDown(tile.destination, viewSize.height());
        // Both points are bottom-left corners; the copies are placed by their top-left ones.
        const QRect source(static_cast<int>(std::lround(from.x())),
                           static_cast<int>(std::lround(from.y())) - th, tw, th);
        const QPoint target(static_cast<int>(std::lround(to.x())),
                            static_cast<int>(std::lround(to.y())) - th);
        painter.drawImage(target, shown, source);
    }
    return mosaic;
}

// Strokes one mark with the default 1-point line.
void stroke(QPainter& painter, const QPainterPath& path, const QColor& colour) {
    painter.setPen(QPen(colour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

// An upright cross at `c` with arms from `gap` to `arm` points away from it.
QPainterPath uprightCross(QPointF c, double arm, double gap) {
    QPainterPath path;
    path.moveTo(c.x() - arm, c.y());
    path.lineTo(c.x() - gap, c.y());
    path.moveTo(c.x() + arm, c.y());
    path.lineTo(c.x() + gap, c.y());
    path.moveTo(c.x(), c.y() - arm);
    path.lineTo(c.x(), c.y() - gap);
    path.moveTo(c.x(), c.y() + arm);
    path.lineTo(c.x(), c.y() + gap);
    return path;
}

// A diagonal cross at `c` with arms from `gap` to `arm` points away from it in x and y.
QPainterPath diagonalCross(QPointF c, double arm, double gap) {
    QPainterPath path;
    for (int sx : {-1, 1}) {
        for (int sy : {-1, 1}) {
            path.moveTo(c.x() + sx * arm, c.y() + sy * arm);
            path.lineTo(c.x() + sx * gap, c.y() + sy * gap);
        }
    }
    return path;
}

// Lines across the whole view through `c`, leaving `gap` points free on each side of it.
QPainterPath fullCross(QPointF c, QSizeF view, double gap) {
    QPainterPath path;
    path.moveTo(0, c.y());
    path.lineTo(c.x() - gap, c.y());
    path.moveTo(c.x() + gap, c.y());
    path.lineTo(view.width(), c.y());
    path.moveTo(c.x(), 0);
    path.lineTo(c.x(), c.y() - gap);
    path.moveTo(c.x(), c.y() + gap);
    path.lineTo(c.x(), view.height());
    return path;
}

}  // namespace

ClickableView::ClickableView(QWidget* parent) : QWidget(parent), frame_(QSizeF(size())) {
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
}

ClickableView::~ClickableView() = default;

QSize ClickableView::sizeHint() const {
    return widgetSizeFor(frame_);
}

ViewOrientation ClickableView::orientation() const {
    return {scale, quarterTurnsForAngle(angle), flipHorizontally, flipVertically, frame_};
}

QImage ClickableView::turnedPicture() {
    const int turns = quarterTurnsForAngle(angle);
    if (!turned_.isNull() && turnedKey_ == originalImage_.cacheKey() && turnedTurns_ == turns &&
        turnedFlipH_ == flipHorizontally && turnedFlipV_ == flipVertically)
        return turned_;
    // One conversion to the painter's native format here saves one per paint.
    const QImage::Format native = originalImage_.hasAlphaChannel()
                                      ? QImage::Format_ARGB32_Premultiplied
                                      : QImage::Format_RGB32;
    displayed_ = QImage();  // may share turned_'s memory
    QImage t;
    if (turns == 0 && !flipHorizontally && !flipVertically &&
        turned_.size() == originalImage_.size() && turned_.format() == native &&
        turned_.isDetached()) {
        // A new rendering of the same frame: converted into the previous one's memory, which
        // spares faulting in a fresh picture's worth of pages at every re-render.
        QPainter painter(&turned_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, originalImage_);
        painter.end();
        t = turned_;
    } else {
        t = originalImage_.convertToFormat(native);
        if (flipHorizontally || flipVertically) t = t.mirrored(flipHorizontally, flipVertically);
        // Qt turns clockwise for positive angles (y down); a quarter turn here is
        // counter-clockwise.
        if (turns != 0) t = t.transformed(QTransform().rotate(-90.0 * turns));
    }
    turned_ = t;
    turnedKey_ = originalImage_.cacheKey();
    turnedTurns_ = turns;
    turnedFlipH_ = flipHorizontally;
    turnedFlipV_ = flipVertically;
    return turned_;
}

void ClickableView::setImage(const QImage& picture) {
    originalImage_ = picture;
    if (picture.isNull()) {
        // turned_ stays, as memory for the next picture of the same size; it is never shown
        // for another picture (its key names the picture it was made from).
        displayed_ = QImage();
        update();
        return;
    }
    const QImage shown = turnedPicture();
    // The mosaic is laid out for the frame as it stands before the new size is set.
    if (inspectCornersState && showsCornerMosaic(frame_, QSizeF(shown.size())))
        displayed_ = cornerMosaic(shown, frame_);
    else
        displayed_ = shown;
    setFrameSize(viewSizeFor(QSizeF(shown.size()), scale));
    update();
}

void ClickableView::setFrameSize(QSizeF size) {
    auto side = [](double v) {
        return std::isfinite(v) ? std::clamp(v, 0.0, kMaxViewExtent) : 0.0;
    };
    frame_ = QSizeF(side(size.width()), side(size.height()));
    resize(widgetSizeFor(frame_));
    updateGeometry();
}

void ClickableView::resizeEvent(QResizeEvent* event) {
    // A size set from outside (a layout, the scroll area) becomes the frame.
    if (event->size() != widgetSizeFor(frame_)) frame_ = QSizeF(event->size());
    QWidget::resizeEvent(event);
}

void ClickableView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    drawPicture(painter, event->rect());
    if (originalImage_.isNull()) return;
    drawMarkers(painter);
}

void ClickableView::drawPicture(QPainter& painter, const QRect& exposed) const {
    if (displayed_.isNull() || frame_.isEmpty()) return;
    // The displayed picture fills the frame; only its pixels under `exposed` are drawn.
    const double kx = displayed_.width() / frame_.width();
    const double ky = displayed_.height() / frame_.height();
    const QRectF area = QRectF(exposed) & QRectF(QPointF(0, 0), frame_);
    if (area.isEmpty()) return;
    auto pixel = [](double v, int limit) {
        return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(limit)));
    };
    const int x0 = pixel(std::floor(area.left() * kx), displayed_.width());
    const int x1 = pixel(std::ceil(area.right() * kx), displayed_.width());
    const int y0 = pixel(std::floor(area.top() * ky), displayed_.height());
    const int y1 = pixel(std::ceil(area.bottom() * ky), displayed_.height());
    if (x1 <= x0 || y1 <= y0) return;
    const QRectF source(x0, y0, x1 - x0, y1 - y0);
    const QRectF target(x0 / kx, y0 / ky, (x1 - x0) / kx, (y1 - y0) / ky);
    // Magnified pixels stay sharp squares; a reduced picture is filtered.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, kx > 1 || ky > 1);
    painter.drawImage(target, displayed_, source);
}

void ClickableView::drawMarkers(QPainter& painter) const {
    UserDefaults& defaults = userDefaults();
    const ViewOrientation o = orientation();
    const double h = frame_.height();
    const double z = effectiveScale(scale);
    auto widgetPoint = [&](QPointF picturePoint) {
        return toYDown(viewFromPicture(picturePoint, o), h);
    };
    painter.setRenderHint(QPainter::Antialiasing, false);

    if (pointMarker) {
        const double m = defaults.defaultsDouble("markerSize", 15);
        stroke(painter, uprightCross(widgetPoint(*pointMarker), m, 3), greenColor());
    }

    if (!secondaryPointMarkers.empty()) {
        const double m = defaults.defaultsDouble("markerSize", 15);
        QFont font = this->font();
        font.setPointSizeF(12);
        const QFontMetricsF metrics(font);
        const double radius = m * 0.3 / z;
        for (size_t i = 0; i < secondaryPointMarkers.size(); ++i) {
            const QPointF p = widgetPoint(secondaryPointMarkers[i]);
            QPainterPath circle;
            circle.addEllipse(p, radius, radius);
            stroke(painter, circle, blueColor());
            // The label's bottom-left corner stands 3 points right of and above the point.
            painter.setFont(font);
            painter.setPen(greenColor());
            painter.drawText(QPointF(p.x() + 3, p.y() - 3 - metrics.descent()), QString::number(i));
        }
    }

    if (trackingMarker) {
        const double m = defaults.defaultsDouble("markerSize", 15);
        stroke(painter, diagonalCross(widgetPoint(*trackingMarker), m * 0.7, 3), redColor());
    }

    for (const auto& entry : additionalTrackingMarkers) {
        const double m = defaults.defaultsDouble("markerSize", 15);
        stroke(painter, diagonalCross(widgetPoint(entry.second), m * 0.4, 3), redColor());
    }

    // Guide crosses run through the stored star position (a picture point, like the point
    // marker's), placed like every mark.
    const struct {
        const char* xKey;
        const char* yKey;
        QColor colour;
    } guides[] = {{"guideX1", "guideY1", blueColor()}, {"guideX2", "guideY2", redColor()}};
    for (const auto& guide : guides) {
        const double gx = defaults.defaultsDouble(guide.xKey, -1);
        const double gy = defaults.defaultsDouble(guide.yKey, -1);
        if (!(gx >= 0 && gy >= 0)) continue;
        stroke(painter, fullCross(widgetPoint(QPointF(gx, gy)), frame_, 5), guide.colour);
    }

    if (frameMarker) {
        const QRectF r = toYDown(viewFromPicture(*frameMarker, o), h);
        QPainterPath outline;
        outline.moveTo(r.left(), r.top());
        outline.lineTo(r.right(), r.top());
        outline.lineTo(r.right(), r.bottom());
        outline.lineTo(r.left(), r.bottom());
        outline.closeSubpath();
        stroke(painter, outline, greenColor());
    }

    if (scale > 0 && defaults.defaultsBool("showCrosshair", false)) {
        const QPointF centre(frame_.width() / 2, frame_.height() / 2);
        stroke(painter, fullCross(centre, frame_, 5), greenColor());
    }
}

QPointF ClickableView::viewPoint(QPointF widgetPosition) const {
    return toYUp(widgetPosition, frame_.height());
}

QPointF ClickableView::clamped(QPointF p) const {
    return {std::min(std::max(p.x(), 0.0), frame_.width()),
            std::min(std::max(p.y(), 0.0), frame_.height())};
}

QRectF ClickableView::dragRect(QPointF p) const {
    const QPointF c = clamped(p);
    const QPointF d = *downPoint_;
    return {std::min(d.x(), c.x()), std::min(d.y(), c.y()), std::abs(d.x() - c.x()),
            std::abs(d.y() - c.y())};
}

void ClickableView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (!listening()) return;
    if (event->button() == Qt::LeftButton)
        downPoint_ = viewPoint(event->position());
    else if (event->button() == Qt::RightButton)
        delegate->deselected();
}

void ClickableView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!listening()) return;
    const QPointF p = viewPoint(event->position());
    if (event->buttons() & Qt::LeftButton) {
        if (downPoint_) delegate->draggedWithRect(dragRect(p), false);
    } else if (event->buttons() == Qt::NoButton) {
        if (visibleRegion().contains(event->position().toPoint()))
            delegate->movedWithPoint(p);
        else
            delegate->exited();
    }
}

void ClickableView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !listening() || !downPoint_) return;
    const QPointF p = viewPoint(event->position());
    const QPointF down = *downPoint_;
    const QRectF rect = dragRect(p);
    // Cleared before the delegate runs: it may well show a new picture from inside the call.
    downPoint_.reset();
    if (std::abs(down.x() - p.x()) < kClickDistance && std::abs(down.y() - p.y()) < kClickDistance)
        delegate->selectedWithPoint(down);
    else
        delegate->draggedWithRect(rect, true);
}

void ClickableView::leaveEvent(QEvent* event) {
    if (listening()) delegate->exited();
    QWidget::leaveEvent(event);
}
