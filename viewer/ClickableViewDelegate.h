// What the marker view reports of the mouse. Every point and rectangle is in the view's own
// coordinates (points, origin at the view's bottom-left corner, y up); a rectangle's x() and
// y() are its bottom-left corner. pictureFromView (ViewMapping.h) with the view's
// orientation() turns them into picture pixels.
#pragma once

#include <QPointF>
#include <QRectF>

class ClickableViewDelegate {
  public:
    virtual ~ClickableViewDelegate() = default;

    // A click: the left button went down and up again within less than 5 points in x and in
    // y. `point` is where it went down.
    virtual void selectedWithPoint(QPointF point) = 0;
    // A left-button drag: the rectangle spans the press point and the current point (held
    // inside the view); `finished` is true once, for the release.
    virtual void draggedWithRect(QRectF rect, bool finished) = 0;
    // The right button went down.
    virtual void deselected() = 0;
    // The mouse moved, no button held, to `point` inside the visible part of the view.
    virtual void movedWithPoint(QPointF point) = 0;
    // The mouse left the view or its visible part.
    virtual void exited() = 0;
};
