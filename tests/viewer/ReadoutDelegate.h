// A stand-in for the image window's pixel readout, for tests of the marker view.
#pragma once

#include "ClickableView.h"
#include "ClickableViewDelegate.h"

#include <QPoint>
#include <QPointF>
#include <QRectF>

#include <optional>

// What the image window does with the view's reports: names the pixel the view finds under a
// point, and nothing ("--") when the pointer left.
struct Readout : ClickableViewDelegate {
    ClickableView* view = nullptr;
    std::optional<QPoint> named;  // column and row up; none: the field says "--"
    void movedWithPoint(QPointF p) override { named = view->picturePixelAt(p); }
    void exited() override { named.reset(); }
    void selectedWithPoint(QPointF) override {}
    void draggedWithRect(QRectF, bool) override {}
    void deselected() override {}
};
