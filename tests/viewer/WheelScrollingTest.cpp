// The marker view in its scroll area, scrolled by single wheel steps on screens that Qt scales by
// 1.25, 1.5 and 1.75, as a desktop set to 125 % to 175 % is: where a step is a whole number of
// device pixels, Qt keeps what the window shows, moves it by the step and paints only the strip
// the step uncovers. After every step the window must show what a fresh paint of it shows, and
// the readout must name the pixel drawn under the pointer (where the view magnifies, the one whose
// colour is drawn there), or nothing where no picture is drawn, where the pointer stood while the
// wheel turned and on each device pixel of a row and a column through the viewport. A picture
// smaller than the viewport is centred in it; the same holds when the window is resized instead.
#include "CenteringView.h"
#include "ClickableView.h"
#include "NoisePicture.h"
#include "PixelFaults.h"
#include "ReadoutDelegate.h"
#include "ScreensOfRatios.h"

#include <QApplication>
#include <QBackingStore>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <set>

namespace {

// A plain screen and three that Qt scales (ScreensOfRatios.h), set up before the application
// starts; a test finds them by their ratio.
const bool kScaledScreens = useOffscreenScreens("screens-scaled-by-qt.json");

// What the window shows where no picture is drawn.
constexpr QRgb kBackground = 0xff000000;

struct Case {
    QSize picture;  // a frame of noise
    double scale;   // picture pixels per point
    double angle;   // degrees counter-clockwise
    bool flipH;     // mirrored left to right
    bool resized;   // the window resized a step at a time instead of scrolled
};

// The first whole point from 5 on whose device position at `ratio` lies halfway between device
// pixels: an odd one at 1.5, one that is 2 modulo 4 at 1.25 and 1.75.
int halfwayPoint(double ratio) {
    int p = 5;
    while (p < 9 && std::fmod(p * ratio, 1.0) != 0.5)
        ++p;
    return p;
}

// A window holding the scroll area with the view, its viewport `at` points from the window's
// corner along both sides.
struct ScrolledWindow {
    QWidget widget;
    CenteringView* area = new CenteringView(&widget);
    ClickableView* view = new ClickableView;
    ScrolledWindow(QScreen* screen, const QImage& picture, const Case& c, int at) {
        widget.setScreen(screen);
        widget.move(screen->geometry().topLeft());
        widget.resize(262, 192);
        QPalette palette = widget.palette();
        palette.setColor(QPalette::Window, QColor(kBackground));
        widget.setPalette(palette);
        view->scale = c.scale;
        view->angle = c.angle;
        view->flipHorizontally = c.flipH;
        view->setImage(picture);
        area->setDocumentView(view);
        area->resize(251, 181);
        area->move(QPoint(at, at) - area->viewport()->pos());
        widget.show();
    }
    double ratio() const { return widget.devicePixelRatioF(); }
    // The view's top-left corner on the window's device pixels.
    QPointF viewCorner() const { return QPointF(view->mapTo(&widget, QPoint(0, 0))) * ratio(); }
    // The viewport's device pixels in the window, as Qt rounds a widget's corners.
    QRect viewportPixels() const {
        const QRect points(area->viewport()->mapTo(&widget, QPoint(0, 0)),
                           area->viewport()->size());
        const double r = ratio();
        return QRect(
            QPoint(qRound(points.left() * r), qRound(points.top() * r)),
            QPoint(qRound((points.right() + 1) * r) - 1, qRound((points.bottom() + 1) * r) - 1));
    }
    // What the window shows now, device pixel for device pixel: the offscreen platform's
    // screen is the window's backing store (its grab of a scaled window stops at the window's
    // size in points).
    QImage onScreen() {
        QPaintDevice* device = widget.backingStore()->paintDevice();
        if (!device || device->devType() != QInternal::Image) return {};
        QImage shown = static_cast<const QImage*>(device)->convertToFormat(QImage::Format_RGB32);
        shown.setDevicePixelRatio(1);
        return shown;
    }
    // The whole window painted afresh on the same device pixels.
    QImage freshPaint(QSize size) {
        QImage fresh(size, QImage::Format_RGB32);
        fresh.setDevicePixelRatio(ratio());
        fresh.fill(Qt::black);
        widget.render(&fresh);
        fresh.setDevicePixelRatio(1);
        return fresh;
    }
    // The wheel turned by `delta` eighths of a degree over the view (negative: down or right),
    // then whatever Qt paints after it; returns the distance scrolled, in points.
    int wheel(int delta, bool vertical) {
        QScrollBar* bar = vertical ? area->verticalScrollBar() : area->horizontalScrollBar();
        const int before = bar->value();
        // Handed to the viewport, where the view passes it on when the window system
        // delivers it (Qt passes on no wheel event sent by a program).
        QWidget* viewport = area->viewport();
        const QPointF at = QPointF(viewport->rect().center());
        const QPoint angle = vertical ? QPoint(0, delta) : QPoint(delta, 0);
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
        return bar->value() - before;
    }
    // The window and the scroll area in it made `by` points wider or taller; returns `by`.
    int resize(int by, bool vertical) {
        const QSize step = vertical ? QSize(0, by) : QSize(by, 0);
        widget.resize(widget.size() + step);
        area->resize(area->size() + step);
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
        return by;
    }
    // The pointer moved onto device pixel `at` of the window as the window system moves it.
    void pointAt(QPoint at) {
        const QPointF p = QPointF(at) / ratio();
        qt_handleMouseEvent(widget.windowHandle(), p, widget.mapToGlobal(p), Qt::NoButton,
                            Qt::NoButton, QEvent::MouseMove, Qt::NoModifier, 0);
    }
};

}  // namespace

// Frames of noise, scrolled down and then right from the top-left corner, a step at a time, by
// steps of odd and even numbers of points, with the pointer standing in the viewport's middle;
// after each step the readout is read there and then along a row and a column. The viewport lies
// where the view's corner falls halfway between device pixels, so that a first step of 60 points
// (a whole number of device pixels at each ratio) takes it across the window's edge from there.
// - 300 x 200 magnified 4 times (the case seen on screen), and 2.7 times turned and mirrored;
// - 2400 x 1600 reduced to 1/2, and to 0.4 turned the other way;
// - 2000 x 60 at 1:1, centred top to bottom: only scrolled right;
// - 120 x 80 at 1:1, centred both ways, with the window resized to and fro instead, so that the
//   picture moves from under the pointer and back under it.
TEST(WheelScrolling, EveryStepShowsAFreshPaintAndTheReadoutNamesThePixelDrawn) {
    // Eighths of a degree: Qt scrolls 3 lines of 20 points a notch (120), so half of each.
    const int deltas[] = {-120, -14, -120, -2, -44, -120, -26};
    // Points the window grows by, a step at a time.
    const int resizes[] = {60, -7, 60, -1, 22, -60, 13};
    const Case cases[] = {
        {{300, 200}, 0.25, 0, false, false}, {{300, 200}, 1 / 2.7, 90, true, false},
        {{2400, 1600}, 2, 0, false, false},  {{2400, 1600}, 2.5, -90, false, false},
        {{2000, 60}, 1, 0, false, false},    {{120, 80}, 1, 0, false, true}};
    for (const Case& c : cases) {
        const QImage picture = noisePicture(c.picture.width(), c.picture.height());
        for (double ratio : {1.25, 1.5, 1.75}) {
            QScreen* screen = screenOfRatio(ratio);
            ASSERT_NE(screen, nullptr) << "no offscreen screen scaled by " << ratio;
            ScrolledWindow window(screen, picture, c, halfwayPoint(ratio));
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window.widget));
            ASSERT_EQ(window.ratio(), ratio);
            // Magnified or at full size a device pixel shows the colour of the pixel named.
            const bool magnified = c.scale <= ratio;
            Readout readout;
            readout.view = window.view;
            window.view->delegate = &readout;
            std::set<int> parities;
            for (bool vertical : {true, false}) {
                QScrollBar* bar = vertical ? window.area->verticalScrollBar()
                                           : window.area->horizontalScrollBar();
                // A side the picture fits in is not scrolled.
                if (!c.resized && bar->maximum() == 0) continue;
                if (!c.resized) {
                    const QPointF corner = window.viewCorner();
                    const double along = vertical ? corner.y() : corner.x();
                    ASSERT_EQ(along - std::floor(along), 0.5) << "the view's corner off a half";
                }
                // The pointer stands in the viewport's middle while the wheel turns (or the
                // window is resized).
                // (Moved there from elsewhere: Qt passes over a move to where the pointer was.)
                const QPoint pointer = window.viewportPixels().center();
                window.pointAt(QPoint(0, 0));
                window.pointAt(pointer);
                for (size_t k = 0; k < std::size(deltas); ++k) {
                    const int moved = c.resized ? window.resize(resizes[k], vertical)
                                                : window.wheel(deltas[k], vertical);
                    SCOPED_TRACE(testing::Message()
                                 << "ratio " << ratio << " picture " << c.picture.width() << "x"
                                 << c.picture.height() << " scale " << c.scale << " angle "
                                 << c.angle << (c.resized ? " resized " : " scrolled ")
                                 << (vertical ? "down " : "right ") << moved << " points to "
                                 << window.area->horizontalScrollBar()->value() << ","
                                 << window.area->verticalScrollBar()->value());
                    ASSERT_NE(moved, 0);
                    parities.insert(std::abs(moved) % 2);
                    const QImage shown = window.onScreen();
                    ASSERT_FALSE(shown.isNull());
                    const QImage fresh = window.freshPaint(shown.size());
                    const QRect viewport = window.viewportPixels();
                    Faults faults;
                    for (int j = viewport.top(); j <= viewport.bottom(); ++j)
                        for (int i = viewport.left(); i <= viewport.right(); ++i)
                            if (shown.pixel(i, j) != fresh.pixel(i, j))
                                faults.add("not what a fresh paint shows", i, j);
                    // The readout against what is drawn under the pointer at `at`.
                    auto check = [&](QPoint at, const char* none, const char* other,
                                     const char* off) {
                        const std::optional<QPoint> named = readout.named;
                        const bool drawn = shown.pixel(at) != kBackground;
                        if (drawn && !named)
                            faults.add(none, at.x(), at.y());
                        else if (!drawn && named)
                            faults.add(off, at.x(), at.y());
                        else if (named && magnified &&
                                 picture.pixel(named->x(), picture.height() - 1 - named->y()) !=
                                     shown.pixel(at))
                            faults.add(other, at.x(), at.y());
                    };
                    check(pointer, "the pointer stood still, the readout says --",
                          "the pointer stood still, a pixel named that is not the one drawn",
                          "the pointer stood still, a pixel named where none is drawn");
                    auto hover = [&](QPoint at) {
                        window.pointAt(at);
                        check(at, "the readout says --", "a pixel named that is not the one drawn",
                              "a pixel named where none is drawn");
                    };
                    for (int j = viewport.top(); j <= viewport.bottom(); ++j)
                        hover(QPoint(pointer.x(), j));
                    for (int i = viewport.left(); i <= viewport.right(); ++i)
                        hover(QPoint(i, pointer.y()));
                    window.pointAt(pointer);
                    EXPECT_TRUE(faults.counts.empty())
                        << testing::PrintToString(faults.counts) << "; first: " << faults.first;
                }
            }
            EXPECT_EQ(parities.size(), 2u) << "steps of odd and of even points";
            window.view->delegate = nullptr;
        }
    }
}
