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
// Every device pixel of the view shows what lies under it in one mapping of the whole frame
// (DevicePixels.h): the picture pixel under its centre when the picture is magnified or at full
// size, the mean of the picture pixels inside it when reduced, whatever part is painted when.
// The view keeps no full-size copy of the picture: a picture shown reduced is kept averaged at
// the view's size in device pixels (made once per picture, orientation, zoom and pixel ratio)
// when that copy takes no more bytes than the picture; otherwise, when its memory is refused,
// and whenever there is at least a device pixel per picture pixel, the view paints from the
// given picture itself, the exposed part a band at a time, keeping nothing.
// Hovering is read from the window's own pointer position, which keeps the fraction of a point
// a screen pixel of a scaled screen lies at (Qt rounds it for widgets), and the pointer is over
// the view on the device pixels its paint reaches; there the pixel readout names a pixel exactly
// where picture is painted (paintedDevicePixels in DevicePixels.h). A pointer the view moves or
// resizes under (scrolled, centred, the window resized) is reported where it now stands on the
// view, and so is one that enters the window; none is while a mouse button is held.
// Put it in a QScrollArea with widgetResizable off: the view sizes itself.
#pragma once

#include "ViewMapping.h"

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QSizeF>
#include <QWidget>
#include <QWindow>

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <vector>

class ClickableViewDelegate;
class QPainter;
struct DeviceGrid;

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

    // The picture pixel drawn under `viewPoint` (view coordinates) as the view paints it now,
    // column and row counted upward from the bottom; none outside the picture or without one
    // (picturePixelAt in ViewMapping.h).
    std::optional<QPoint> picturePixelAt(QPointF viewPoint) const;

    // What is on display, unscaled: the turned picture, the corner mosaic, or null. The turned
    // picture is a copy made at this call; painting never makes one.
    QImage displayedPicture() const;

    QSize sizeHint() const override;

    // Bytes of the copies the view keeps for display beside the picture (the averaged
    // reduction and the corner mosaic).
    qint64 keptBytes() const;

    // The most bytes the averaged reduction may take (besides taking no more than the picture):
    // a larger one is refused as memory that cannot be had, and the view paints in bands
    // instead. For tests; no limit by default.
    void setKeptBytesLimit(qint64 bytes) { keptBytesLimit_ = bytes; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The part `turnedRect` (y down) of the picture as shown (mirrored and turned), in the
    // painter's native format; made from that part of the picture alone.
    QImage turnedPiece(const QRect& turnedRect) const;
    // The corner mosaic of the shown picture (`shown` its size) for a view of `viewSize`: a
    // transparent picture of the view's size with the nine tiles copied in unscaled.
    QImage cornerMosaic(QSize shown, QSizeF viewSize) const;
    // Draws the exposed part of the shown picture, or of the mosaic, scaled to the frame: the
    // device pixels of its grid that the paint reaches (paintedDevicePixels).
    void drawPicture(QPainter& painter, const QRect& exposed);
    // Makes `reduced_` for the current frame and device pixel ratio unless it stands or its
    // memory was refused for them already; false when there is none.
    bool makeReduced(const DeviceGrid& grid, QPointF ratio);
    // Makes the kept reduction for the widget's own pixel ratio when the picture is reduced,
    // and drops any other.
    void prepareDisplay();
    // Draws the marks on the device pixels the picture is drawn on: a view point p lands on
    // the device position origin + p * ratio, origin the view's device origin.
    void drawMarkers(QPainter& painter) const;
    // Tells the delegate of the pointer at widget position `at` with no button down: moved
    // over a device pixel the view's paint reaches, exited elsewhere.
    void hoverAt(QPointF at);
    // Reads the pointer at its exact place in the window, where the view now stands: over a
    // device pixel the view's paint reaches it is reported, and one that was over the view and is
    // not now is reported gone. With a button held (a drag) nothing is reported.
    void readPointer();
    // Where the view lies on the window's device pixels: its top-left corner (exact), that
    // corner's offset from the view's device origin (deviceOrigin; each side within a half), and
    // the device pixels its paint reaches, counted from that origin. A view not on screen counts
    // as reached whole, as a grab paints it.
    QPointF deviceTopLeft() const;
    QPointF deviceOffset() const;
    QRegion deviceClip() const;
    // True when widget position `at` lies on a device pixel the view's paint reaches.
    bool reaches(QPointF at) const;
    // A widget position to view coordinates.
    QPointF viewPoint(QPointF widgetPosition) const;
    // A view point held inside the frame.
    QPointF clamped(QPointF viewPoint) const;
    // The rectangle spanned by the press point and `viewPoint`.
    QRectF dragRect(QPointF viewPoint) const;
    // True when there is a delegate to tell and the mouse counts.
    bool listening() const { return delegate != nullptr && !inspectCornersState; }

    QImage originalImage_;         // as last given to setImage
    bool mosaicShown_ = false;     // the corner mosaic is on display, not the picture
    QImage mosaic_;                // the corner mosaic (null when the view is too small)
    PictureTurn shownTurn_;        // the turn and mirroring the picture is shown with
    QSize shownSize_;              // the picture's size as shown (turned); empty: none
    QImage reduced_;               // the shown picture averaged on the device pixels
    QSizeF reducedFrame_;          // the frame reduced_ was drawn for
    QPointF reducedRatio_;         // device pixels per point (x, y) it was drawn at
    qint64 reducedKey_ = 0;        // cacheKey of the picture reduced_ was drawn from
    bool reducedRefused_ = false;  // reduced_ could not be had for the key above
    qint64 keptBytesLimit_ = std::numeric_limits<qint64>::max();  // see setKeptBytesLimit
    QSizeF frame_;                                                // the frame, points
    std::optional<QPointF> downPoint_;  // view point of the pending left-button press
    // The window whose pointer moves are read for hovering (readPointer), the pointer's exact
    // position in it while it is on the window, and whether it is over the view as reported.
    QPointer<QWindow> hoverWindow_;
    std::optional<QPointF> windowPointer_;
    bool pointerOver_ = false;
};
