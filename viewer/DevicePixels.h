// The picture as the device pixels of the marker view show it.
//
// The shown picture (the picture mirrored, then turned by quarter turns, as PictureTurn.h
// describes) is laid over the whole view: along each axis one device pixel stands for
// `shownPerDevice` shown pixels (the shown side divided by the view's side in device pixels).
// Every device pixel is worked out from that one mapping and its own index alone, so any part
// of the view, drawn at any time, matches the whole.
//
// - Magnified or at full size (shownPerDevice <= 1 along an axis): a device pixel shows the
//   shown pixel whose square covers the device pixel's centre, so pixels stay sharp squares.
// - Reduced (shownPerDevice > 1): a device pixel shows the mean of the shown pixels whose
//   centres lie inside it (a box filter): every picture pixel counts in exactly one device
//   pixel, so a one-pixel line or star is never skipped.
#pragma once

#include "PictureTurn.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QSizeF>

#include <optional>
#include <vector>

// The shown pixels one device pixel stands for along an axis: `count` of them from `first`.
struct PixelSpan {
    int first = 0;  // first shown pixel
    int count = 0;  // number of shown pixels, at least 1
};

// Shown pixels per device pixel along an axis: `shown` shown pixels over a view side of `side`
// points at `ratio` device pixels per point. One exactly when it is one but for rounding; 0
// when it cannot be made (nothing shown, no side, no ratio).
double shownPerDevice(int shown, double side, double ratio);

// The shown pixel the readout names for device pixel `i` along an axis of `shown` shown
// pixels: the one whose square covers the device pixel's centre (a centre on an edge between
// two squares, to rounding, belongs to the later one), or, when that centre lies past the
// picture although the device pixel shows some of it (the last one of a reduced view), the last
// shown pixel it shows. None for a device pixel that shows nothing.
std::optional<int> shownPixelNamed(int i, double shownPerDevice, int shown);

// Device pixels from 0 on along an axis that have a shown pixel under them, for an axis of
// `shown` shown pixels at `shownPerDevice`: the others lie past the picture and show nothing.
// Never more than `limit`; 0 when shownPerDevice is not finite and above zero.
int deviceExtent(double shownPerDevice, int shown, int limit);

// The device pixels of a view of `frame` points at `ratio` device pixels per point (along x and
// y) over a shown picture laid across the whole frame, counted from the view's device origin.
struct DeviceGrid {
    double shownPerDeviceX = 1, shownPerDeviceY = 1;  // shown pixels per device pixel
    int width = 0, height = 0;  // device pixels from the origin that show something (deviceExtent)
    // Bytes of the averaged picture on the grid (4 a pixel).
    qint64 bytes() const { return 4 * qint64(width) * height; }
    // True when the picture is reduced along an axis and its average on the grid takes no more
    // than `pictureBytes`: then the averaged picture is worth keeping.
    bool keptReduced(qint64 pictureBytes) const;
};

// The grid of a shown picture of `shown` pixels over a frame of `frame` points at `ratio`; an
// empty one (no pixels) when there is no picture, no frame or no ratio.
DeviceGrid deviceGrid(QSize shown, QSizeF frame, QPointF ratio);

// Where a view's device pixels are counted from, for a view whose top-left corner lies at
// device position `topLeft`: the device pixel corner nearest it, a corner halfway between two
// taking the later one on either side of zero, so that a view moved by whole device pixels (as Qt
// scrolls a window's contents) has its origin moved by as many. Qt rounds a widget's clip to the
// nearest device pixel corners too, so the first device pixel of the grid is the first the
// view's paint reaches.
QPoint deviceOrigin(QPointF topLeft);

// The device pixels a view paints picture on: those of `grid` inside `clip`, the device pixels
// the paint reaches (Qt's clip of the widget), both counted from the view's device origin. The
// one rule for what is painted, which the pixel readout follows too.
QRegion paintedDevicePixels(const DeviceGrid& grid, const QRegion& clip);

// The spans of device pixels from..to-1 along an axis of `shown` shown pixels, as above; all of
// them must lie inside deviceExtent.
std::vector<PixelSpan> pixelSpans(int from, int to, double shownPerDevice, int shown);

// The device pixels `columns` x `rows` (spans of the shown picture, as pixelSpans gives) of
// `picture` shown with `turn`: a picture of columns.size() x rows.size() pixels, in
// Format_RGB32 for a picture without alpha and Format_ARGB32_Premultiplied (channels averaged
// premultiplied) for one with it. Format_RGB888, Format_RGB32 and
// Format_ARGB32_Premultiplied pictures are read in place; others are converted, the part a band
// of output rows reads at a time. Bands of rows run on the cores. A null picture when it cannot be
// made (no memory, in a band too, no spans, spans reaching past the shown picture).
QImage devicePixels(const QImage& picture, const PictureTurn& turn,
                    const std::vector<PixelSpan>& columns, const std::vector<PixelSpan>& rows);
