#include "ClickableView.h"

#include "ClickableViewDelegate.h"
#include "DevicePixels.h"
#include "Settings.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

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

// Device pixels painted at a time when the picture is painted directly: a few megabytes.
constexpr int kBandPixels = 1 << 20;

// Sets `painter` to draw through `toDevice`, a mapping straight onto its device's pixels.
void drawThrough(QPainter& painter, const QTransform& toDevice) {
    painter.setWorldTransform(toDevice * painter.deviceTransform().inverted() *
                              painter.worldTransform());
}

}  // namespace

QImage ClickableView::cornerMosaic(QSize shown, QSizeF viewSize) const {
    QImage mosaic(widgetSizeFor(viewSize), QImage::Format_ARGB32_Premultiplied);
    if (mosaic.isNull()) return mosaic;
    mosaic.fill(Qt::transparent);
    const CornerMosaicLayout layout = cornerMosaicLayout(viewSize, QSizeF(shown));
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
        const QRect inside = source & QRect(QPoint(0, 0), shown);
        if (inside.isEmpty()) continue;
        painter.drawImage(target + (inside.topLeft() - source.topLeft()), turnedPiece(inside));
    }
    return mosaic;
}

namespace {

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

std::optional<QPoint> ClickableView::picturePixelAt(QPointF viewPoint) const {
    if (originalImage_.isNull() || mosaicShown_) return std::nullopt;
    return ::picturePixelAt(viewPoint, originalImage_.size(), orientation(), devicePixelRatioF(),
                            deviceOffset(), deviceClip());
}

QPointF ClickableView::deviceTopLeft() const {
    // Painted into the window's surface, at the window's pixel ratio.
    return QPointF(mapTo(window(), QPoint(0, 0))) * devicePixelRatioF();
}

QPointF ClickableView::deviceOffset() const {
    const QPointF at = deviceTopLeft();
    return at - QPointF(deviceOrigin(at));
}

QRegion ClickableView::deviceClip() const {
    const QRegion visible = isVisible() ? visibleRegion() : QRegion(rect());
    const double ratio = devicePixelRatioF();
    // Mapped onto the device pixels as Qt maps a widget's clip when it paints it.
    const QRegion device =
        QTransform::fromScale(ratio, ratio).map(visible.translated(mapTo(window(), QPoint(0, 0))));
    return device.translated(-deviceOrigin(deviceTopLeft()));
}

bool ClickableView::reaches(QPointF at) const {
    const std::optional<QPoint> device =
        devicePixelAt(viewPoint(at), frame_.height(), devicePixelRatioF(), deviceOffset());
    return device && deviceClip().contains(*device);
}

QImage ClickableView::turnedPiece(const QRect& turnedRect) const {
    const QRect wanted = turnedRect & QRect(QPoint(0, 0), shownSize_);
    if (wanted.isEmpty()) return {};
    // One device pixel per shown pixel: the part copied as the view would paint it at 1:1.
    return devicePixels(originalImage_, shownTurn_,
                        pixelSpans(wanted.left(), wanted.right() + 1, 1.0, shownSize_.width()),
                        pixelSpans(wanted.top(), wanted.bottom() + 1, 1.0, shownSize_.height()));
}

QImage ClickableView::displayedPicture() const {
    if (mosaicShown_ || shownSize_.isEmpty()) return mosaic_;
    return turnedPiece(QRect(QPoint(0, 0), shownSize_));
}

qint64 ClickableView::keptBytes() const {
    return reduced_.sizeInBytes() + mosaic_.sizeInBytes();
}

bool ClickableView::makeReduced(const DeviceGrid& grid, QPointF ratio) {
    const bool same = reducedKey_ == originalImage_.cacheKey() && reducedFrame_ == frame_ &&
                      reducedRatio_ == ratio;
    // A refusal stands until something changes: asking again at every paint would only fail
    // again, slowly.
    if (same && (!reduced_.isNull() || reducedRefused_)) return !reduced_.isNull();
    reduced_ = QImage();
    reducedKey_ = originalImage_.cacheKey();
    reducedFrame_ = frame_;
    reducedRatio_ = ratio;
    reducedRefused_ = true;
    if (grid.width <= 0 || grid.height <= 0 || grid.bytes() > keptBytesLimit_) return false;
    reduced_ = devicePixels(originalImage_, shownTurn_,
                            pixelSpans(0, grid.width, grid.shownPerDeviceX, shownSize_.width()),
                            pixelSpans(0, grid.height, grid.shownPerDeviceY, shownSize_.height()));
    reducedRefused_ = reduced_.isNull();
    return !reducedRefused_;
}

void ClickableView::prepareDisplay() {
    const QPointF ratio(devicePixelRatioF(), devicePixelRatioF());
    const DeviceGrid grid = deviceGrid(shownSize_, frame_, ratio);
    if (!mosaicShown_ && grid.keptReduced(originalImage_.sizeInBytes()))
        makeReduced(grid, ratio);
    else
        reduced_ = QImage();
}

void ClickableView::setImage(const QImage& picture) {
    const PictureTurn turn = pictureTurnOf(orientation());
    if (picture.cacheKey() != originalImage_.cacheKey() ||
        turn.quarterTurns != shownTurn_.quarterTurns || turn.flipH != shownTurn_.flipH ||
        turn.flipV != shownTurn_.flipV) {
        reduced_ = QImage();
        reducedRefused_ = false;
    }
    originalImage_ = picture;
    mosaic_ = QImage();
    mosaicShown_ = false;
    shownTurn_ = turn;
    if (picture.isNull()) {
        shownSize_ = QSize();
        update();
        return;
    }
    shownSize_ = shownTurn_.shownSize(picture.size());
    // The mosaic is laid out for the frame as it stands before the new size is set.
    if (inspectCornersState && showsCornerMosaic(frame_, QSizeF(shownSize_))) {
        mosaicShown_ = true;
        mosaic_ = cornerMosaic(shownSize_, frame_);
    }
    setFrameSize(viewSizeFor(QSizeF(shownSize_), scale));
    prepareDisplay();
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
    readPointer();
}

void ClickableView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    drawPicture(painter, event->rect());
    if (originalImage_.isNull()) return;
    drawMarkers(painter);
}

void ClickableView::drawPicture(QPainter& painter, const QRect& exposed) {
    if (shownSize_.isEmpty() || frame_.isEmpty()) return;
    if (mosaicShown_ && mosaic_.isNull()) return;
    // The view's device pixels are counted from the device pixel nearest its origin, so that
    // they are the device's own whatever the pixel ratio and wherever the view is painted (the
    // device transform holds the offset of a paint redirected into a part, the combined one
    // does not).
    const QTransform device = painter.deviceTransform();
    if (device.type() > QTransform::TxScale) return;
    const QPointF ratio(device.m11(), device.m22());
    const QPoint origin = deviceOrigin(device.map(QPointF(0, 0)));
    const QSize size = mosaicShown_ ? mosaic_.size() : shownSize_;
    const DeviceGrid grid = deviceGrid(size, frame_, ratio);
    // The device pixels the paint reaches: Qt's clip of the widget, which holds the exposed
    // part, or else the exposed part mapped as Qt maps a clip. Counted in device pixels from the
    // origin, not in points, so that a frame a fraction of a point across keeps the device
    // pixels its clip holds.
    QRegion clip;
    if (const QPaintEngine* engine = painter.paintEngine()) clip = engine->systemClip();
    if (clip.isEmpty()) clip = device.map(QRegion(exposed));
    if (painter.hasClipping()) clip &= device.mapRect(painter.clipBoundingRect()).toAlignedRect();
    const QRect painted = paintedDevicePixels(grid, clip.translated(-origin)).boundingRect();
    if (painted.isEmpty()) return;
    const int x0 = painted.left(), x1 = painted.right() + 1;
    const int y0 = painted.top(), y1 = painted.bottom() + 1;
    painter.save();
    // Device pixels from here on, counted from the view's origin, a hair short of it: the
    // transform comes back through an inverse and may land a rounding error past a whole
    // device pixel, and Qt's raster engine drops an image whose corner lies past the last row
    // or column of its clip before it rounds that corner (a view one device pixel high went
    // blank). Every way it draws an image rounds the corner to the whole pixel still.
    constexpr double kShort = 1.0 / 64;
    drawThrough(painter, QTransform::fromTranslate(origin.x() - kShort, origin.y() - kShort));
    const bool keep = !mosaicShown_ && grid.keptReduced(originalImage_.sizeInBytes());
    if (keep && makeReduced(grid, ratio)) {
        painter.drawImage(QPoint(x0, y0), reduced_, QRect(x0, y0, x1 - x0, y1 - y0));
    } else {
        // Painted from the picture, a band of rows at a time: the same device pixels the kept
        // copy has, when that is not wanted or its memory was refused.
        if (!keep) reduced_ = QImage();
        const QImage& picture = mosaicShown_ ? mosaic_ : originalImage_;
        const PictureTurn turn = mosaicShown_ ? PictureTurn{} : shownTurn_;
        const std::vector<PixelSpan> columns =
            pixelSpans(x0, x1, grid.shownPerDeviceX, size.width());
        auto rowsOf = [&](int from, int to) {
            return pixelSpans(from, to, grid.shownPerDeviceY, size.height());
        };
        const int band = std::max(1, kBandPixels / (x1 - x0));
        for (int y = y0; y < y1; y += band) {
            const int end = std::min(y1, y + band);
            const QImage part = devicePixels(picture, turn, columns, rowsOf(y, end));
            if (!part.isNull()) {
                painter.drawImage(QPoint(x0, y), part);
                continue;
            }
            // Memory short for a band: a row at a time needs the least.
            for (int row = y; row < end; ++row) {
                const QImage line = devicePixels(picture, turn, columns, rowsOf(row, row + 1));
                if (!line.isNull()) painter.drawImage(QPoint(x0, row), line);
            }
        }
    }
    painter.restore();
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
    // View points onto the device from the view's device origin, as the picture is drawn (the
    // device transform would place them from the unrounded corner, up to half a device pixel
    // off the picture's pixels).
    const QTransform device = painter.deviceTransform();
    if (device.type() <= QTransform::TxScale) {
        const QPoint origin = deviceOrigin(device.map(QPointF(0, 0)));
        drawThrough(painter, QTransform::fromScale(device.m11(), device.m22()) *
                                 QTransform::fromTranslate(origin.x(), origin.y()));
    }

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
        // A move from the window system was read exactly from the window already (eventFilter).
        if (event->spontaneous() && hoverWindow_) return;
        hoverAt(event->position());
    }
}

void ClickableView::hoverAt(QPointF at) {
    if (reaches(at))
        delegate->movedWithPoint(viewPoint(at));
    else
        delegate->exited();
}

void ClickableView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    QWindow* shownIn = window()->windowHandle();
    if (shownIn == hoverWindow_) return;
    if (hoverWindow_) hoverWindow_->removeEventFilter(this);
    hoverWindow_ = shownIn;
    windowPointer_.reset();
    pointerOver_ = false;
    if (hoverWindow_) hoverWindow_->installEventFilter(this);
}

bool ClickableView::eventFilter(QObject* watched, QEvent* event) {
    // On a screen of more than a pixel per point, Qt hands a widget the pointer rounded to
    // whole points, and picks the widget under it by the rounded point too: half the screen
    // pixels would name their neighbour's picture pixel, and the last half point of the view
    // would count as outside it. The window still has the exact position, so hovering is read
    // there; the rounded moves and leaves that follow are then passed over.
    if (watched != hoverWindow_) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::Leave) {
        // Leaving the window from over the view: Qt, which had the pointer rounded onto a
        // neighbour, may never tell the view it left.
        if (pointerOver_ && listening()) delegate->exited();
        pointerOver_ = false;
        windowPointer_.reset();
    } else if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        // Entering counts as a move: back on the window where it left, the pointer makes no
        // move Qt reports.
        windowPointer_ = static_cast<const QSinglePointEvent*>(event)->position();
        readPointer();
    }
    return QWidget::eventFilter(watched, event);
}

void ClickableView::readPointer() {
    // A held button drags and names no pixel. The buttons are the application's: Qt's Enter
    // carries none, and a scroll comes with no event of the pointer's.
    if (!windowPointer_ || !listening() || QGuiApplication::mouseButtons() != Qt::NoButton) {
        pointerOver_ = false;
        return;
    }
    const QPointF at = *windowPointer_ - QPointF(mapTo(window(), QPoint(0, 0)));
    if (isVisible() && reaches(at)) {
        pointerOver_ = true;
        delegate->movedWithPoint(viewPoint(at));
    } else if (pointerOver_) {
        pointerOver_ = false;
        delegate->exited();
    }
}

void ClickableView::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Moved under a pointer that stands still (scrolled, centred anew): another pixel lies
    // under it, though no move is reported. The scroll area may first move the view where the
    // pointer is off it, and then back: the pointer is read from the window each time.
    readPointer();
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
    // Still over the view by the window's exact position: Qt left it by a rounded one.
    if (listening() && !pointerOver_) delegate->exited();
    QWidget::leaveEvent(event);
}
