#include "CenteringView.h"

#include <QEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

CenteringView::CenteringView(QWidget* parent) : QScrollArea(parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWidgetResizable(false);
}

void CenteringView::setDocumentView(QWidget* view) {
    setWidget(view);
    placeDocumentView();
}

QRectF CenteringView::constrainBoundsRect(const QRectF& proposed) const {
    QRectF r = proposed;
    const QWidget* document = documentView();
    if (!document) return r;
    const double W = document->width();
    const double H = document->height();
    // The scroll area's own rule: the origin stays within the document view.
    r.moveLeft(std::clamp(proposed.x(), 0.0, std::max(0.0, W - proposed.width())));
    r.moveTop(std::clamp(proposed.y(), 0.0, std::max(0.0, H - proposed.height())));
    if (W < proposed.width()) r.moveLeft((W - proposed.width()) * 0.5);
    if (H < proposed.height()) r.moveTop((H - proposed.height()) * 0.5);
    return r;
}

QRectF CenteringView::boundsRect() const {
    const QWidget* document = documentView();
    if (!document) return QRectF(0, 0, viewport()->width(), viewport()->height());
    return QRectF(-document->x(), -document->y(), viewport()->width(), viewport()->height());
}

void CenteringView::placeDocumentView() {
    QWidget* document = documentView();
    if (!document) return;
    const QRectF proposed(horizontalScrollBar()->value(), verticalScrollBar()->value(),
                          viewport()->width(), viewport()->height());
    const QRectF r = constrainBoundsRect(proposed);
    const QPoint origin(-int(std::floor(r.x())), -int(std::floor(r.y())));
    if (document->pos() != origin) document->move(origin);
}

void CenteringView::scrollContentsBy(int dx, int dy) {
    QScrollArea::scrollContentsBy(dx, dy);
    placeDocumentView();
}

void CenteringView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    placeDocumentView();
}

bool CenteringView::eventFilter(QObject* watched, QEvent* event) {
    const bool result = QScrollArea::eventFilter(watched, event);
    if (watched == documentView() && event->type() == QEvent::Resize) placeDocumentView();
    return result;
}

bool CenteringView::event(QEvent* event) {
    const bool result = QScrollArea::event(event);
    if (event->type() == QEvent::LayoutRequest) placeDocumentView();
    return result;
}
