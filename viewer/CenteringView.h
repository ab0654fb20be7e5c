// A scroll area that keeps its document view centred when the view is smaller than the visible
// area, in each direction separately, and otherwise scrolls as usual.
//
// Qt's scroll area is its own clip view: the visible part of the document view is the bounds
// rectangle (origin = scroll position, size = viewport size, in the document view's
// coordinates). Every time that rectangle may change (scrolling, resizing, a new document view
// size) it is passed through `constrainBoundsRect` and the document view is placed at minus
// its origin, so a negative origin moves a small view into the middle.
#pragma once

#include <QRectF>
#include <QScrollArea>

class CenteringView : public QScrollArea {
    Q_OBJECT

  public:
    explicit CenteringView(QWidget* parent = nullptr);

    // The document view: the scrolled widget, or nullptr.
    QWidget* documentView() const { return widget(); }
    // Makes `view` the document view (the area takes ownership) and places it.
    void setDocumentView(QWidget* view);
    // The bounds rectangle to use for `proposed`: the scroll area's own clamping, and a
    // document view smaller than the proposed size in a direction is centred in it.
    QRectF constrainBoundsRect(const QRectF& proposed) const;
    // The bounds rectangle in use now.
    QRectF boundsRect() const;

  protected:
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // Places the document view for the current bounds rectangle.
    void placeDocumentView();
};
