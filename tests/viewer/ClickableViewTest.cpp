// The marker view: mouse reports, marks and picture checked on the pixels of the grabbed widget.
#include "ClickableView.h"
#include "ClickableViewDelegate.h"
#include "NoisePicture.h"
#include "Settings.h"
#include "ViewMapping.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records what the view reports.
struct Recorder : ClickableViewDelegate {
    std::vector<std::string> calls;
    QPointF point;
    QRectF rect;
    bool finished = false;

    void selectedWithPoint(QPointF p) override {
        calls.push_back("selected");
        point = p;
    }
    void draggedWithRect(QRectF r, bool f) override {
        calls.push_back("dragged");
        rect = r;
        finished = f;
    }
    void deselected() override { calls.push_back("deselected"); }
    void movedWithPoint(QPointF p) override {
        calls.push_back("moved");
        point = p;
    }
    void exited() override { calls.push_back("exited"); }
};

// Removes the named settings when the test ends, whatever it wrote.
struct SettingsGuard {
    std::vector<QString> keys;
    ~SettingsGuard() {
        for (const QString& k : keys)
            userDefaults().removeObject(k);
    }
    void set(const QString& key, const QVariant& value) {
        keys.push_back(key);
        userDefaults().setObject(key, value);
    }
};

QImage filled(int w, int h, QColor colour = Qt::black) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(colour);
    return image;
}

// A view showing a black `w` x `h` picture at `scale`, turned by `angle`.
std::unique_ptr<ClickableView> viewOf(int w, int h, double scale, double angle = 0) {
    auto view = std::make_unique<ClickableView>();
    view->scale = scale;
    view->angle = angle;
    view->setImage(filled(w, h));
    return view;
}

// A scroll area of `side` x `side` points, shown, holding a view of a black `w` x `h` picture at
// 1:1.
struct ScrolledView {
    QScrollArea area;
    ClickableView* view = new ClickableView;
    ScrolledView(int side, int w, int h) {
        area.resize(side, side);
        view->scale = 1;
        view->setImage(filled(w, h));
        area.setWidget(view);
        area.show();
    }
};

QImage grabbed(ClickableView& view) {
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool sameColour(QRgb pixel, QColor colour) {
    return std::abs(qRed(pixel) - colour.red()) <= 2 &&
           std::abs(qGreen(pixel) - colour.green()) <= 2 &&
           std::abs(qBlue(pixel) - colour.blue()) <= 2;
}

// Bounding box of every pixel of `colour`; empty when there is none.
QRect boxOf(const QImage& image, QColor colour) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (sameColour(image.pixel(x, y), colour)) box |= QRect(x, y, 1, 1);
    return box;
}

// True when a pixel of `colour` lies within `radius` pixels of (x, y).
bool colourNear(const QImage& image, int x, int y, QColor colour, int radius = 1) {
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (image.valid(x + dx, y + dy) && sameColour(image.pixel(x + dx, y + dy), colour))
                return true;
    return false;
}

// Expects `box` to span left..right and top..bottom, one pixel of slack each way.
void expectBox(const QRect& box, int left, int top, int right, int bottom) {
    ASSERT_FALSE(box.isEmpty());
    EXPECT_NEAR(box.left(), left, 1);
    EXPECT_NEAR(box.top(), top, 1);
    EXPECT_NEAR(box.right(), right, 1);
    EXPECT_NEAR(box.bottom(), bottom, 1);
}

// Sends a mouse event at a view point (y up).
void mouse(ClickableView& view, QEvent::Type type, QPointF viewPoint, Qt::MouseButton button,
           Qt::MouseButtons buttons) {
    const QPointF local = toYDown(viewPoint, view.frameSize().height());
    QMouseEvent event(type, local, view.mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
}
void press(ClickableView& view, QPointF p, Qt::MouseButton button = Qt::LeftButton) {
    mouse(view, QEvent::MouseButtonPress, p, button, button);
}
void drag(ClickableView& view, QPointF p) {
    mouse(view, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
}
void release(ClickableView& view, QPointF p) {
    mouse(view, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
}
void hover(ClickableView& view, QPointF p) {
    mouse(view, QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton);
}

}  // namespace

// --- mouse -----------------------------------------------------------------------------------

TEST(ClickableViewMouse, ReleaseWithinFivePointsIsAClickAtThePressPoint) {
    auto view = viewOf(200, 200, 1);
    Recorder r;
    view->delegate = &r;
    press(*view, {100, 100});
    release(*view, {104.9, 95.1});
    ASSERT_EQ(r.calls, std::vector<std::string>{"selected"});
    EXPECT_EQ(r.point, QPointF(100, 100));
}

TEST(ClickableViewMouse, ReleaseFivePointsAwayFinishesADrag) {
    auto view = viewOf(200, 200, 1);
    Recorder r;
    view->delegate = &r;
    press(*view, {100, 100});
    release(*view, {105, 100});
    ASSERT_EQ(r.calls, std::vector<std::string>{"dragged"});
    EXPECT_EQ(r.rect, QRectF(100, 100, 5, 0));
    EXPECT_TRUE(r.finished);
    // The press is used up: a second release reports nothing.
    release(*view, {150, 150});
    EXPECT_EQ(r.calls.size(), 1u);
}

TEST(ClickableViewMouse, DraggedPointIsHeldInsideTheView) {
    auto view = viewOf(200, 100, 1);
    Recorder r;
    view->delegate = &r;
    press(*view, {50, 50});
    drag(*view, {-30, 250});
    ASSERT_EQ(r.calls, std::vector<std::string>{"dragged"});
    EXPECT_EQ(r.rect, QRectF(0, 50, 50, 50));
    EXPECT_FALSE(r.finished);
    // Released outside: the finished rectangle is clamped the same way.
    release(*view, {260, -40});
    EXPECT_EQ(r.rect, QRectF(50, 0, 150, 50));
    EXPECT_TRUE(r.finished);
}

TEST(ClickableViewMouse, ReleaseWithoutPressSendsNothing) {
    auto view = viewOf(200, 200, 1);
    Recorder r;
    view->delegate = &r;
    release(*view, {10, 10});
    drag(*view, {20, 20});
    EXPECT_TRUE(r.calls.empty());
}

TEST(ClickableViewMouse, PressWithoutDelegateIsNotRemembered) {
    auto view = viewOf(200, 200, 1);
    Recorder r;
    press(*view, {100, 100});
    view->delegate = &r;
    release(*view, {100, 100});
    EXPECT_TRUE(r.calls.empty());
}

TEST(ClickableViewMouse, RightButtonDeselectsAndLeavingExits) {
    auto view = viewOf(200, 200, 1);
    Recorder r;
    view->delegate = &r;
    press(*view, {30, 30}, Qt::RightButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"deselected", "exited"}));
}

TEST(ClickableViewMouse, CornerInspectionIgnoresTheMouse) {
    auto view = viewOf(200, 200, 1);
    Recorder r;
    view->delegate = &r;
    view->inspectCornersState = true;
    press(*view, {100, 100});
    press(*view, {100, 100}, Qt::RightButton);
    hover(*view, {10, 10});
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    // No press was recorded either: the release after inspection ends is not a click.
    view->inspectCornersState = false;
    release(*view, {100, 100});
    EXPECT_TRUE(r.calls.empty());
}

TEST(ClickableViewMouse, HoverReportsPointsInTheVisiblePartOnly) {
    ScrolledView shown(120, 400, 300);
    ClickableView* view = shown.view;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.area));
    Recorder r;
    view->delegate = &r;
    // Widget (20, 30) lies in the visible corner; y up that is (20, 300 - 30).
    hover(*view, {20, 270});
    ASSERT_EQ(r.calls, std::vector<std::string>{"moved"});
    EXPECT_EQ(r.point, QPointF(20, 270));
    // Widget (350, 250) is scrolled out of sight.
    hover(*view, {350, 50});
    EXPECT_EQ(r.calls.back(), "exited");
    view->delegate = nullptr;
}

// A pointer from the window system between two whole points (a screen pixel of a screen of two
// pixels per point) is reported where it is, not rounded to the nearest point, also in the last
// half point of the view, which Qt finds outside the view by the rounded position; beside the
// view it is outside.
TEST(ClickableViewMouse, HoverFromTheWindowSystemToTheFractionOfAPoint) {
    QWidget window;
    window.resize(120, 100);
    auto* view = new ClickableView(&window);
    view->move(7, 9);
    view->scale = 1;
    view->setImage(filled(40, 30));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Recorder r;
    view->delegate = &r;
    auto move = [&](QPointF at) {
        const QPointF inWindow = at + QPointF(view->pos());
        qt_handleMouseEvent(window.windowHandle(), inWindow, window.mapToGlobal(inWindow),
                            Qt::NoButton, Qt::NoButton, QEvent::MouseMove, Qt::NoModifier, 0);
        QApplication::processEvents();
    };
    for (QPointF at : {QPointF(10.5, 7.5), QPointF(12, 13), QPointF(0.25, 29.5), QPointF(39.5, 0.5),
                       QPointF(39.75, 29.75), QPointF(10.5, 7.5)}) {
        r.calls.clear();
        move(at);
        ASSERT_FALSE(r.calls.empty()) << at.x() << "," << at.y();
        EXPECT_EQ(r.calls.back(), "moved") << at.x() << "," << at.y();
        EXPECT_EQ(r.point, QPointF(at.x(), 30 - at.y())) << at.x() << "," << at.y();
    }
    for (QPointF beside : {QPointF(40.25, 10), QPointF(10, 30.25), QPointF(-0.25, 10)}) {
        move({20, 15});
        r.calls.clear();
        move(beside);
        ASSERT_FALSE(r.calls.empty()) << beside.x() << "," << beside.y();
        EXPECT_EQ(r.calls.back(), "exited") << beside.x() << "," << beside.y();
    }
    view->delegate = nullptr;
}

// The pointer leaving the window and entering it again where it left, which makes no move, is
// reported over the view again; not with the left button held (Qt's Enter carries no buttons),
// nor when the view is scrolled under it after a press with no move since: it drags.
TEST(ClickableViewMouse, EnteringReportsThePointerUnlessAButtonIsHeld) {
    struct Row {
        bool held;      // the left button pressed where the pointer stands
        bool scrolled;  // the view scrolled under the pointer; else it leaves and enters again
        bool reported;  // a move is reported
    };
    for (const Row row :
         {Row{false, false, true}, Row{true, false, false}, Row{true, true, false}}) {
        SCOPED_TRACE(testing::Message() << "held " << row.held << " scrolled " << row.scrolled);
        ScrolledView shown(120, 400, 300);
        QScrollArea& area = shown.area;
        ClickableView* view = shown.view;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
        Recorder r;
        view->delegate = &r;
        const QPointF at(50, 40);  // in the window, over the view
        auto send = [&](QEvent::Type type, Qt::MouseButtons held, Qt::MouseButton button,
                        QPointF where) {
            qt_handleMouseEvent(area.windowHandle(), where, area.mapToGlobal(where), held, button,
                                type, Qt::NoModifier, 0);
        };
        // Moved there from elsewhere: Qt passes over a move to where the pointer was.
        send(QEvent::MouseMove, Qt::NoButton, Qt::NoButton, at + QPointF(1, 1));
        send(QEvent::MouseMove, Qt::NoButton, Qt::NoButton, at);
        ASSERT_EQ(r.calls.back(), "moved");
        const QPointF hovered = r.point;
        if (row.held) send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, at);
        r.calls.clear();
        if (row.scrolled) {
            area.verticalScrollBar()->setValue(30);
        } else {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(area.windowHandle(), &leave);
            QEnterEvent enter(at, at, area.mapToGlobal(at));
            QApplication::sendEvent(area.windowHandle(), &enter);
        }
        const bool reported = std::find(r.calls.begin(), r.calls.end(), "moved") != r.calls.end();
        EXPECT_EQ(reported, row.reported) << testing::PrintToString(r.calls);
        if (row.reported) {
            EXPECT_EQ(r.point, hovered);
        }
        if (row.held) send(QEvent::MouseButtonRelease, Qt::NoButton, Qt::LeftButton, at);
        view->delegate = nullptr;
    }
}

TEST(ClickableViewMouse, HoverAnywhereInTheLastPixelIsInside) {
    ScrolledView shown(300, 40, 30);
    ClickableView* view = shown.view;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown.area));
    Recorder r;
    view->delegate = &r;
    // The right half of the last column and the lower half of the last row.
    for (QPointF at : {QPointF(39.7, 10), QPointF(10, 29.6), QPointF(39.99, 29.99)}) {
        hover(*view, at);
        EXPECT_EQ(r.calls.back(), "moved") << at.x() << "," << at.y();
    }
    hover(*view, {40.2, 10});
    EXPECT_EQ(r.calls.back(), "exited");
    view->delegate = nullptr;
}

TEST(ClickableViewMouse, RealClickThroughQTest) {
    auto view = viewOf(200, 150, 1);
    Recorder r;
    view->delegate = &r;
    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 50));
    ASSERT_EQ(r.calls, std::vector<std::string>{"selected"});
    EXPECT_EQ(r.point, QPointF(40, 100));  // y counted up from the bottom of 150
}

// --- picture ----------------------------------------------------------------------------------

// A small picture whose every pixel has its own colour; (x, y) counted up from the bottom.
QImage numberedPicture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, row, qRgb(20 + 25 * x, 20 + 30 * (h - 1 - row), 128));
    return image;
}
QRgb numberedColour(int x, int yUp) {
    return qRgb(20 + 25 * x, 20 + 30 * yUp, 128);
}

// For every turn, mirroring and zoom: the pixel drawn where a picture point is mapped is that
// picture pixel, and a click there reports a point that maps back into it. This is what keeps
// marks and probes on the star under the pointer in a mirrored or turned view.
TEST(ClickableViewPicture, MarksAndClicksLandOnTheirPixelInEveryOrientation) {
    const int w = 8, h = 6;
    const QImage picture = numberedPicture(w, h);
    for (double angle : {0.0, 90.0, -90.0, 180.0}) {
        for (int flips = 0; flips < 4; ++flips) {
            for (double scale : {0.25, 0.5}) {
                SCOPED_TRACE(testing::Message()
                             << "angle " << angle << " flips " << flips << " scale " << scale);
                ClickableView view;
                view.scale = scale;
                view.angle = angle;
                view.flipHorizontally = flips & 1;
                view.flipVertically = flips & 2;
                view.setImage(picture);
                const QSizeF expected =
                    QSizeF(turnedSize(QSizeF(w, h), quarterTurnsForAngle(angle))) / scale;
                ASSERT_EQ(view.frameSize(), expected);
                const QImage shot = grabbed(view);
                Recorder r;
                view.delegate = &r;
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        const QPointF v =
                            viewFromPicture(QPointF(x + 0.5, y + 0.5), view.orientation());
                        const QPointF at = toYDown(v, view.frameSize().height());
                        EXPECT_EQ(shot.pixel(int(at.x()), int(at.y())), numberedColour(x, y))
                            << "pixel " << x << ", " << y;
                        press(view, v);
                        release(view, v);
                        const QPointF back = pictureFromView(r.point, view.orientation());
                        EXPECT_EQ(int(std::floor(back.x())), x);
                        EXPECT_EQ(int(std::floor(back.y())), y);
                    }
                }
                view.delegate = nullptr;
            }
        }
    }
}

TEST(ClickableViewPicture, ImageIsThePictureGivenNotTheTurnedCopy) {
    const QImage picture = numberedPicture(8, 6);
    ClickableView view;
    view.scale = 1;
    view.angle = 90;
    view.setImage(picture);
    EXPECT_EQ(view.image().cacheKey(), picture.cacheKey());
    EXPECT_EQ(view.displayedPicture().size(), QSize(6, 8));
    EXPECT_EQ(view.frameSize(), QSizeF(6, 8));
}

TEST(ClickableViewPicture, ZoomChangesKeepTheTurnedPicture) {
    ClickableView view;
    view.scale = 1;
    view.angle = -90;
    view.setImage(numberedPicture(600, 400));
    const QImage turned = view.displayedPicture();
    view.scale = 0.25;
    view.setImage(view.image());
    EXPECT_EQ(view.frameSize(), QSizeF(1600, 2400));
    EXPECT_TRUE(view.displayedPicture() == turned);
    view.flipHorizontally = true;
    view.setImage(view.image());
    EXPECT_FALSE(view.displayedPicture() == turned);
}

TEST(ClickableViewPicture, ANewRenderingOfTheSameSizeReplacesTheShownOne) {
    ClickableView view;
    view.scale = 1;
    view.setImage(filled(8, 6, Qt::black));
    view.setImage(QImage());  // the window lets go before a render
    view.setImage(numberedPicture(8, 6));
    for (int x : {0, 7})
        for (int yUp : {0, 5})
            EXPECT_EQ(view.displayedPicture().pixel(x, 5 - yUp), numberedColour(x, yUp));
    EXPECT_EQ(grabbed(view).pixel(7, 0), numberedColour(7, 5));

    // A copy of the shown picture held elsewhere keeps its pixels.
    const QImage kept = view.displayedPicture();
    view.setImage(filled(8, 6, Qt::white));
    EXPECT_EQ(view.displayedPicture().pixelColor(3, 3), QColor(Qt::white));
    EXPECT_EQ(kept.pixel(7, 0), numberedColour(7, 5));

    // Mirroring still works on a picture made in place.
    view.setImage(numberedPicture(8, 6));
    view.flipHorizontally = true;
    view.setImage(view.image());
    EXPECT_EQ(view.displayedPicture().pixel(0, 5), numberedColour(7, 0));
}

TEST(ClickableViewPicture, NoPictureKeepsTheFrameAndDrawsNoMarks) {
    auto view = viewOf(200, 100, 1);
    view->pointMarker = QPointF(50, 50);
    EXPECT_FALSE(boxOf(grabbed(*view), greenColor()).isEmpty());
    view->setImage(QImage());
    EXPECT_TRUE(view->image().isNull());
    EXPECT_TRUE(view->displayedPicture().isNull());
    EXPECT_EQ(view->frameSize(), QSizeF(200, 100));
    EXPECT_TRUE(boxOf(grabbed(*view), greenColor()).isEmpty());
}

TEST(ClickableViewPicture, ScaleZeroGivesThePicturesOwnSize) {
    auto view = viewOf(300, 200, 0);
    EXPECT_EQ(view->frameSize(), QSizeF(300, 200));
    EXPECT_EQ(view->size(), QSize(300, 200));
    view->scale = std::nan("");
    view->setImage(view->image());
    EXPECT_EQ(view->size(), QSize(300, 200));
}

TEST(ClickableViewPicture, PaintingPartOfTheViewMatchesTheWhole) {
    ClickableView view;
    view.scale = 0.25;
    view.angle = 90;
    view.flipVertically = true;
    view.setImage(numberedPicture(8, 6));
    const QImage whole = grabbed(view);
    const QRect part(5, 7, 11, 13);
    const QImage piece = view.grab(part).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(piece, whole.copy(part));
}

// The whole view (device pixel ratio 1) as it should be painted over what `shot` shows: the
// picture converted, mirrored and turned whole, then each view pixel the turned pixel under its
// centre when magnified or at full size, or the rounded mean of the turned pixels whose centres
// lie inside it when reduced.
QImage expectedView(const QImage& picture, const ClickableView& view, const QImage& shot) {
    QImage turned = picture.convertToFormat(QImage::Format_RGB32)
                        .mirrored(view.flipHorizontally, view.flipVertically);
    const int turns = quarterTurnsForAngle(view.angle);
    if (turns != 0) turned = turned.transformed(QTransform().rotate(-90.0 * turns));
    const QSizeF frame = view.frameSize();
    const double kx = turned.width() / frame.width(), ky = turned.height() / frame.height();
    QImage reference = shot;
    if (kx <= 1 && ky <= 1) {
        for (int j = 0; j < reference.height(); ++j) {
            for (int i = 0; i < reference.width(); ++i) {
                const int u = int((i + 0.5) * kx), v = int((j + 0.5) * ky);
                if (u < turned.width() && v < turned.height())
                    reference.setPixel(i, j, turned.pixel(u, v));
            }
        }
        return reference;
    }
    // Each turned pixel counts in the view pixel its centre falls in.
    const int w = reference.width(), h = reference.height();
    std::vector<double> sums(size_t(w) * h * 3);
    std::vector<int> counts(size_t(w) * h);
    for (int v = 0; v < turned.height(); ++v) {
        for (int u = 0; u < turned.width(); ++u) {
            const int i = int((u + 0.5) / kx), j = int((v + 0.5) / ky);
            if (i >= w || j >= h) continue;
            const QRgb p = turned.pixel(u, v);
            const size_t at = size_t(j) * w + i;
            sums[at * 3] += qRed(p);
            sums[at * 3 + 1] += qGreen(p);
            sums[at * 3 + 2] += qBlue(p);
            ++counts[at];
        }
    }
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const size_t at = size_t(j) * w + i;
            const int n = counts[at];
            if (n == 0) continue;
            auto mean = [&](int c) { return int(std::lround(sums[at * 3 + c] / n)); };
            reference.setPixel(i, j, qRgb(mean(0), mean(1), mean(2)));
        }
    }
    return reference;
}

TEST(ClickableViewPicture, DrawingEqualsTheWholeTurnedPictureSampledOrAveraged) {
    // The large one is reduced at scales where a device row stands for a hundred shown rows and
    // more. No scale here puts a shown pixel's centre on a view pixel's edge, where either
    // neighbour would be right.
    const QImage small = noisePicture(301, 203), large = noisePicture(2101, 1301);
    const QImage grey = noisePicture(97, 61).convertToFormat(QImage::Format_Grayscale8);
    const struct {
        const QImage& picture;
        double scale, angle;
        bool flipH, flipV;
    } cases[] = {{small, 0.25, 0, false, false},    {small, 0.6, 90, true, false},
                 {small, 1, 0, false, false},       {small, 1, -90, false, true},
                 {small, 3, 0, false, false},       {large, 3, 90, true, true},
                 {large, 2, 180, false, true},      {large, 16.0 / 3, -90, true, false},
                 {large, 4.0 / 3, 0, false, false}, {large, 97, 0, false, false},
                 {large, 650, 90, false, true},     {grey, 0.6, 180, true, false},
                 {grey, 7.0 / 3, -90, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.picture.width() << " x " << c.picture.height() << " scale " << c.scale
                     << " angle " << c.angle << " flips " << c.flipH << c.flipV);
        const QImage& picture = c.picture;
        ClickableView view;
        view.scale = c.scale;
        view.angle = c.angle;
        view.flipHorizontally = c.flipH;
        view.flipVertically = c.flipV;
        view.setImage(picture);
        const QImage shot = grabbed(view);
        EXPECT_TRUE(shot == expectedView(picture, view, shot));
        // Painting a part draws what the whole shows there.
        const QRect part = QRect(7, 5, 31, 23) & shot.rect();
        if (part.isEmpty()) continue;
        EXPECT_TRUE(view.grab(part).toImage().convertToFormat(QImage::Format_RGB32) ==
                    shot.copy(part));
    }
}

// --- marks -------------------------------------------------------------------------------------

TEST(ClickableViewMarks, PointMarkerInViewsTurnedEitherWay) {
    // 800 x 600 turned 90 at scale 2: a 300 x 400 view; (100, 60) is drawn at (270, 50) y up,
    // which is widget (270, 350).
    auto view = viewOf(800, 600, 2, 90);
    ASSERT_EQ(view->frameSize(), QSizeF(300, 400));
    view->pointMarker = QPointF(100, 60);
    QImage shot = grabbed(*view);
    expectBox(boxOf(shot, greenColor()), 255, 335, 285, 365);
    // The six-point gap in the middle.
    EXPECT_FALSE(colourNear(shot, 270, 350, greenColor()));
    EXPECT_TRUE(colourNear(shot, 260, 350, greenColor()));
    EXPECT_TRUE(colourNear(shot, 270, 340, greenColor()));

    // 600 x 800 turned -90: a 400 x 300 view; drawn at (30, 250) y up, widget (30, 50).
    view = viewOf(600, 800, 2, -90);
    ASSERT_EQ(view->frameSize(), QSizeF(400, 300));
    view->pointMarker = QPointF(100, 60);
    shot = grabbed(*view);
    expectBox(boxOf(shot, greenColor()), 15, 35, 45, 65);
    EXPECT_FALSE(colourNear(shot, 30, 50, greenColor()));
}

TEST(ClickableViewMarks, FrameMarkerInATurnedView) {
    // 400 x 300 turned 90 at scale 1: (10, 20, 30, 40) is outlined at (240, 10), 40 x 30 y up:
    // widget x 240..280, y 400 - 40 = 360 .. 390.
    auto view = viewOf(400, 300, 1, 90);
    view->frameMarker = QRectF(10, 20, 30, 40);
    const QImage shot = grabbed(*view);
    expectBox(boxOf(shot, greenColor()), 240, 360, 280, 390);
    EXPECT_TRUE(colourNear(shot, 260, 360, greenColor()));
    EXPECT_TRUE(colourNear(shot, 240, 375, greenColor()));
    EXPECT_FALSE(colourNear(shot, 260, 375, greenColor(), 5));
}

TEST(ClickableViewMarks, MarkerSizeSetsEveryMark) {
    SettingsGuard settings;
    settings.set("markerSize", 30.0);
    auto view = viewOf(200, 200, 1);
    view->pointMarker = QPointF(100, 100);
    expectBox(boxOf(grabbed(*view), greenColor()), 70, 70, 130, 130);

    view->pointMarker.reset();
    view->trackingMarker = QPointF(150, 150);  // widget (150, 50), arms of 21
    expectBox(boxOf(grabbed(*view), redColor()), 129, 29, 171, 71);

    view->trackingMarker.reset();
    view->additionalTrackingMarkers = {{7, QPointF(40, 160)}};  // widget (40, 40), arms of 12
    expectBox(boxOf(grabbed(*view), redColor()), 28, 28, 52, 52);

    view->additionalTrackingMarkers.clear();
    view->scale = 0.5;  // circles shrink with the zoom: radius 30 x 0.3 / 0.5 = 18
    view->setImage(view->image());
    view->secondaryPointMarkers = {QPointF(50, 50)};  // view (100, 100), widget (100, 300)
    const QImage shot = grabbed(*view);
    expectBox(boxOf(shot, blueColor()), 82, 282, 118, 318);
}

TEST(ClickableViewMarks, SecondaryMarkersAreLabelledAboveRight) {
    auto view = viewOf(200, 200, 1);
    view->secondaryPointMarkers = {QPointF(50, 150), QPointF(150, 50)};
    const QImage shot = grabbed(*view);
    // Circles of radius 15 x 0.3 = 4.5 around widget (50, 50) and (150, 150).
    EXPECT_TRUE(colourNear(shot, 50, 46, blueColor()));
    EXPECT_TRUE(colourNear(shot, 150, 154, blueColor()));
    // Each label sits right of and above its point, in green.
    for (QPoint p : {QPoint(50, 50), QPoint(150, 150)}) {
        const QRect label = boxOf(shot.copy(p.x() + 2, p.y() - 25, 25, 23), greenColor());
        EXPECT_FALSE(label.isEmpty()) << p.x();
    }
}

TEST(ClickableViewMarks, GuideCrossesNeedBothCoordinates) {
    SettingsGuard settings;
    auto view = viewOf(200, 100, 1);
    settings.set("guideX1", 10.5);
    EXPECT_TRUE(boxOf(grabbed(*view), blueColor()).isEmpty());

    // A star stored at (10.5, 0.5), the centre of picture pixel (10, 0): a full-height line at
    // x 10.5 and a line along the bottom edge.
    settings.set("guideY1", 0.5);
    QImage shot = grabbed(*view);
    EXPECT_TRUE(colourNear(shot, 10, 50, blueColor()));
    EXPECT_TRUE(colourNear(shot, 100, 99, blueColor()));

    // At (10.5, 9.5): lines at y up 9.5 (widget 90.5) with a gap of 5 around the point.
    settings.set("guideY1", 9.5);
    shot = grabbed(*view);
    const QRect box = boxOf(shot, blueColor());
    expectBox(box, 0, 0, 199, 99);
    EXPECT_TRUE(colourNear(shot, 150, 90, blueColor()));
    EXPECT_TRUE(colourNear(shot, 10, 20, blueColor()));
    EXPECT_FALSE(colourNear(shot, 10, 90, blueColor(), 3));

    // The second cross in red.
    settings.set("guideX2", 100.5);
    settings.set("guideY2", 50.5);
    shot = grabbed(*view);
    EXPECT_TRUE(colourNear(shot, 100, 20, redColor()));
    EXPECT_TRUE(colourNear(shot, 20, 49, redColor()));
}

TEST(ClickableViewMarks, GuideCrossesFollowTheTurn) {
    SettingsGuard settings;
    settings.set("guideX1", 10.5);
    settings.set("guideY1", 9.5);
    // 200 x 100 turned 90: a 100 x 200 view; (10.5, 9.5) is drawn at (90.5, 10.5) y up, widget
    // (90.5, 189.5), where the point marker of that pixel goes too.
    auto view = viewOf(200, 100, 1, 90);
    const QImage shot = grabbed(*view);
    EXPECT_TRUE(colourNear(shot, 90, 20, blueColor()));
    EXPECT_TRUE(colourNear(shot, 30, 189, blueColor()));
    EXPECT_FALSE(colourNear(shot, 90, 189, blueColor(), 3));
}

TEST(ClickableViewMarks, CentreCrosshairOnlyWithAZoom) {
    SettingsGuard settings;
    settings.set("showCrosshair", true);
    auto view = viewOf(200, 100, 1);
    QImage shot = grabbed(*view);
    EXPECT_TRUE(colourNear(shot, 20, 50, greenColor()));
    EXPECT_TRUE(colourNear(shot, 100, 10, greenColor()));
    EXPECT_FALSE(colourNear(shot, 100, 50, greenColor(), 3));

    view = viewOf(200, 100, 0);
    EXPECT_TRUE(boxOf(grabbed(*view), greenColor()).isEmpty());
}

// --- corner inspection ----------------------------------------------------------------------

// A picture whose colour gives the position: red = x / 4, green = y / 4, y counted up.
QImage positionPicture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, row, qRgb(x / 4, (h - 1 - row) / 4, 0));
    return image;
}

TEST(ClickableViewCorners, MosaicTilesComeFromCornersEdgesAndCentre) {
    // A 960 x 960 picture at scale 3 fills a 320 x 320 view: tiles of 100 at 0, 110, 220,
    // taken from 0, 430 and 860.
    ClickableView view;
    view.setFrameSize(QSizeF(320, 320));
    view.scale = 3;
    view.inspectCornersState = true;
    view.setImage(positionPicture(960, 960));
    ASSERT_EQ(view.displayedPicture().size(), QSize(320, 320));
    ASSERT_EQ(view.frameSize(), QSizeF(320, 320));
    const QImage shot = grabbed(view);
    const int destination[] = {0, 110, 220};
    const int source[] = {0, 430, 860};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            for (int offset : {1, 50, 98}) {
                const int sx = source[column] + offset, sy = source[row] + offset;
                const int dx = destination[column] + offset, dy = destination[row] + offset;
                EXPECT_EQ(shot.pixel(dx, 319 - dy), qRgb(sx / 4, sy / 4, 0))
                    << "row " << row << " column " << column << " offset " << offset;
            }
        }
    }
    // The gaps stay transparent.
    const QImage mosaic = view.displayedPicture();
    EXPECT_EQ(qAlpha(mosaic.pixel(105, 50)), 0);
    EXPECT_EQ(qAlpha(mosaic.pixel(50, 214)), 0);
    // The picture handed in is still the one `image` returns.
    EXPECT_EQ(view.image().size(), QSize(960, 960));
}

TEST(ClickableViewCorners, MosaicOfALargerPicture) {
    // 320 x 320 view, 1000 x 800 picture: tiles of 100 from source x 0, 450, 900 and source y
    // 0, 350, 700.
    ClickableView view;
    view.setFrameSize(QSizeF(320, 320));
    view.scale = 1;
    view.inspectCornersState = true;
    view.setImage(positionPicture(1000, 800));
    const QImage mosaic = view.displayedPicture();
    ASSERT_EQ(mosaic.size(), QSize(320, 320));
    const int destination[] = {0, 110, 220};
    const int sourceX[] = {0, 450, 900};
    const int sourceY[] = {0, 350, 700};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(mosaic.pixel(destination[column] + 10, 319 - (destination[row] + 10)),
                      qRgb((sourceX[column] + 10) / 4, (sourceY[row] + 10) / 4, 0))
                << "row " << row << " column " << column;
    // The frame still comes from the picture, not the mosaic.
    EXPECT_EQ(view.frameSize(), QSizeF(1000, 800));
}

TEST(ClickableViewCorners, PlainPictureWhenNotLargerBothWays) {
    ClickableView view;
    view.setFrameSize(QSizeF(320, 320));
    view.scale = 1;
    view.inspectCornersState = true;
    view.setImage(filled(300, 1000));
    EXPECT_EQ(view.displayedPicture().size(), QSize(300, 1000));
}

TEST(ClickableViewCorners, TinyViewGivesAnEmptyMosaic) {
    for (QSizeF frame : {QSizeF(10, 10), QSizeF(0, 0), QSizeF(19.5, 400)}) {
        ClickableView view;
        view.setFrameSize(frame);
        view.scale = 1;
        view.inspectCornersState = true;
        view.setImage(positionPicture(1000, 800));
        const QImage mosaic = view.displayedPicture();
        for (int y = 0; y < mosaic.height(); ++y)
            for (int x = 0; x < mosaic.width(); ++x)
                ASSERT_EQ(qAlpha(mosaic.pixel(x, y)), 0) << frame.width();
        grabbed(view);  // paints without trouble
    }
}
