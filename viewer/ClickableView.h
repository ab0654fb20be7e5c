// The picture view of the image window, the widget inside its scroll area.
//
// It shows the rendered picture mirrored and turned as the window asks, zoomed by `scale`
// (or, in corner inspection, a 3 x 3 mosaic of the picture's corners, edge midpoints and
// centre), draws the marks over it, and reports the mouse to its delegate.
//
// The window writes the public fields and then calls setImage(image()) again: that is how a
// change of zoom, turn, mirroring or inspection reaches the display. Mark fields take effect
// at the next paint (call update()). Marks are held in picture coordinates, positions
// reported to the delegate are view coordinates; both count y upward (ViewMapping.h).
//
// The turned picture is made once per picture or orientation change and kept; a paint
// scales only the exposed part of it, so a large frame at high zoom stays cheap to paint.
// Put it in a QScrollArea with widgetResizable off: the view sizes itself.
#pragma once

#include "ViewMapping.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

class ClickableViewDelegate;
class QPainter;

class ClickableView : public QWidget {
    Q_OBJECT

  public:
    // Receives the mouse reports; not owned, must outlive the view or be cleared first.
    ClickableViewDelegate* delegate = nullptr;
    double scale = 0;                    // picture pixels per view point (the window's zoom)
    bool flipHorizontally = false;       // show the picture mirrored left to right
    bool flipVertically = false;         // show the picture mirrored top to bottom
    bool inspectCornersState = false;    // show the corner mosaic and ignore the mouse
    std::optional<QPointF> pointMarker;  // the marked star, picture coordinates
    std::vector<QPointF> secondaryPointMarkers;  // numbered circles, picture coordinates
    std::optional<QRectF>
        frameMarker;  // a marked rectangle, picture coordinates (x, y bottom-left)
    std::optional<QPointF> trackingMarker;                 // a tracked point, picture coordinates
    std::map<int64_t, QPointF> additionalTrackingMarkers;  // further tracked points, picture coords
    double angle = 0;  // degrees counter-clockwise: 0, 90 or -90 (180 also works)

    explicit ClickableView(QWidget* parent = nullptr);
    ~ClickableView() override;

    // The picture last given to setImage, unturned; null when there is none.
    QImage image() const { return originalImage_; }
    // Keeps `picture` and shows it with the current fields; sets the frame to the shown size
    // divided by the scale. A null picture clears the display and leaves the frame as it is.
    void setImage(const QImage& picture);

    // The view's frame size in points (the widget's size, kept exact).
    QSizeF frameSize() const { return frame_; }
    // Sets the frame; the widget takes the size rounded up.
    void setFrameSize(QSizeF size);

    // Where the picture stands in the view now: scale, turn, mirroring and frame size, for
    // pictureFromView and viewFromPicture (ViewMapping.h).
    ViewOrientation orientation() const;

    // What is on display: the turned picture, the corner mosaic, or null.
    QImage displayedPicture() const { return displayed_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    // The picture mirrored and turned for the current fields (cached between calls).
    QImage turnedPicture();
    void drawPicture(QPainter& painter, const QRect& exposed) const;
    void drawMarkers(QPainter& painter) const;
    // A widget position to view coordinates.
    QPointF viewPoint(QPointF widgetPosition) const;
    // A view point held inside the frame.
    QPointF clamped(QPointF viewPoint) const;
    // The rectangle spanned by the press point and `viewPoint`.
    QRectF dragRect(QPointF viewPoint) const;
    // True when there is a delegate to tell and the mouse counts.
    bool listening() const { return delegate != nullptr && !inspectCornersState; }

    QImage originalImage_;              // as last given to setImage
    QImage displayed_;                  // what the paint shows: turned picture or mosaic
    QImage turned_;                     // cache: originalImage_ mirrored and turned
    qint64 turnedKey_ = 0;              // cacheKey of the picture turned_ was made from
    int turnedTurns_ = 0;               // quarter turns turned_ was made with
    bool turnedFlipH_ = false;          // horizontal mirroring turned_ was made with
    bool turnedFlipV_ = false;          // vertical mirroring turned_ was made with
    QSizeF frame_;                      // the frame, points
    std::optional<QPointF> downPoint_;  // view point of the pending left-button press
};
