// The centring scroll view: a smaller document view sits in the middle, a larger one scrolls.
#include "CenteringView.h"

#include <QCoreApplication>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

// A 300 x 200 visible area without frame or scroll bars eating into it.
struct View {
    CenteringView view;
    View() {
        view.setFrameShape(QFrame::NoFrame);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(300, 200);
    }
    QWidget* setDocument(int w, int h) {
        auto* document = new QWidget();
        document->resize(w, h);
        view.setDocumentView(document);
        view.show();
        QCoreApplication::processEvents();
        return document;
    }
};

}  // namespace

TEST(CenteringViewTest, NarrowDocumentViewIsCentred) {
    View v;
    QWidget* document = v.setDocument(100, 50);
    const QRectF r = v.view.constrainBoundsRect(QRectF(0, 0, 300, 200));
    EXPECT_EQ(r, QRectF(-100, -75, 300, 200));
    EXPECT_EQ(document->pos(), QPoint(100, 75));
    EXPECT_EQ(v.view.boundsRect(), QRectF(-100, -75, 300, 200));
}

TEST(CenteringViewTest, EqualSizeKeepsTheScrollAreasOrigin) {
    View v;
    QWidget* document = v.setDocument(300, 200);
    EXPECT_EQ(v.view.constrainBoundsRect(QRectF(0, 0, 300, 200)), QRectF(0, 0, 300, 200));
    // The scroll area's own rule keeps the origin within the document.
    EXPECT_EQ(v.view.constrainBoundsRect(QRectF(40, -9, 300, 200)), QRectF(0, 0, 300, 200));
    EXPECT_EQ(document->pos(), QPoint(0, 0));
}

TEST(CenteringViewTest, WiderButLowerScrollsAcrossAndCentresDown) {
    View v;
    v.view.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QWidget* document = v.setDocument(900, 50);
    const QRectF r = v.view.constrainBoundsRect(QRectF(120, 0, 300, 200));
    EXPECT_EQ(r.x(), 120);
    EXPECT_EQ(r.y(), -75 - 0.0);
    EXPECT_EQ(r.size(), QSizeF(300, 200));
    const int visibleHeight = v.view.viewport()->height();
    v.view.horizontalScrollBar()->setValue(250);
    QCoreApplication::processEvents();
    EXPECT_EQ(document->x(), -250);
    EXPECT_EQ(document->y(), (visibleHeight - 50) / 2);
}

TEST(CenteringViewTest, DocumentViewResizeRecentres) {
    View v;
    QWidget* document = v.setDocument(100, 100);
    EXPECT_EQ(document->pos(), QPoint(100, 50));
    document->resize(200, 40);
    QCoreApplication::processEvents();
    EXPECT_EQ(document->pos(), QPoint(50, 80));
    v.view.resize(500, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(document->pos(), QPoint(150, 130));
}

TEST(CenteringViewTest, WithoutDocumentViewTheRectangleIsUnchanged) {
    CenteringView view;
    const QRectF proposed(-12.5, 40, 300, 200);
    EXPECT_EQ(view.constrainBoundsRect(proposed), proposed);
}
