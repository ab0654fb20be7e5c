// The marker view as a window shows it on the device pixels of screens of whole and fractional
// pixel ratios, wherever its corner falls between device pixels, out to its last row and
// column: a device pixel shows picture exactly where the pointer's readout names a pixel, in that
// pixel's colour (reduced: the mean of the pixels averaged there, one of which is named), and the
// marks stand on the pixels painted; the pointer leaving the window leaves no pixel named. What
// each device pixel should show is found through the marks' mapping (pictureFromView), not
// through the view's device grid.
#include "ClickableView.h"
#include "PixelFaults.h"
#include "ReadoutDelegate.h"
#include "ScreensOfRatios.h"
#include "ViewMapping.h"

#include <QApplication>
#include <QPalette>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

const bool kScreensOfSeveralRatios = useOffscreenScreens("screens-of-five-pixel-ratios.json");

// Picture pixel number `index` gets a colour of its own: the index times an odd number, which
// is one to one on 24 bits, so that neighbours and their means differ widely.
QRgb colourOf(int index) {
    return 0xff000000u | ((uint32_t(index) * 2654435761u) & 0xffffffu);
}

QImage distinctPicture(QSize size) {
    QImage picture(size, QImage::Format_RGB888);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, colourOf(y * size.width() + x));
    return picture;
}

struct Orientation {
    double angle;
    bool flipH, flipV;
};

// The device pixel corner nearest `corner`; halfway between two, the later one.
QPointF originOf(QPointF corner) {
    return {std::floor(corner.x() + 0.5), std::floor(corner.y() + 0.5)};
}

// The picture pixels (column, row up) shown on device pixel `device` of a view whose top-left
// corner lies at device position `corner`, where its device pixels count from the one nearest
// it (originOf, also left of or above the window): along an axis the view reduces (more than a
// picture pixel per device pixel), those whose centres lie inside the device pixel; along one it
// magnifies, the one under its centre; none past the picture. A centre on an edge between two
// belongs to the later one as painted (to the right, below).
std::vector<QPoint> shownOn(const ClickableView& view, QPoint device, QPointF corner, double ratio,
                            QSize picture) {
    const QPointF origin = originOf(corner);
    auto toPicture = [&](QPointF d) {
        const QPointF widget = (d - origin) / ratio;
        return pictureFromView(toYUp(widget, view.frameSize().height()), view.orientation());
    };
    // The device pixel's first corner and the one after it, in the picture.
    const QPointF a = toPicture(QPointF(device)), b = toPicture(QPointF(device) + QPointF(1, 1));
    constexpr double kEdge = 1e-7;
    // The pixels along one picture axis, from `from` (the device pixel's edge) to `to` (the next
    // one's), of `count` there are.
    auto along = [&](double from, double to, int count) {
        std::vector<int> pixels;
        const double step = std::abs(to - from), lo = std::min(from, to);
        if (step > 1 + 1e-9) {
            for (int k = std::max(0, int(lo) - 1); k < count && k < lo + step + 1; ++k) {
                const double c = k + 0.5;
                // Inside, on the device pixel's own edge, and not on the next one's.
                if (std::abs(c - to) < kEdge) continue;
                if (std::abs(c - from) < kEdge || (c > lo && c < lo + step)) pixels.push_back(k);
            }
        } else {
            const double centre = (from + to) / 2, edge = std::round(centre);
            // On an edge: the square that lies on toward the next device pixel.
            const int k = std::abs(centre - edge) < kEdge ? int(edge) - (to < from ? 1 : 0)
                                                          : int(std::floor(centre));
            if (k >= 0 && k < count) pixels.push_back(k);
        }
        return pixels;
    };
    std::vector<QPoint> shown;
    for (int y : along(a.y(), b.y(), picture.height()))
        for (int x : along(a.x(), b.x(), picture.width()))
            shown.push_back(QPoint(x, y));
    return shown;
}

// The mean colour of `pixels` (column, row up) of `picture`, each channel rounded.
QRgb meanColour(const QImage& picture, const std::vector<QPoint>& pixels) {
    int64_t sum[3] = {0, 0, 0};
    for (QPoint p : pixels) {
        const QRgb c = picture.pixel(p.x(), picture.height() - 1 - p.y());
        sum[0] += qRed(c);
        sum[1] += qGreen(c);
        sum[2] += qBlue(c);
    }
    const double n = double(pixels.size());
    auto mean = [n](int64_t s) { return int(std::floor(double(s) / n + 0.5)); };
    return qRgb(mean(sum[0]), mean(sum[1]), mean(sum[2]));
}

bool closeColours(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 1 && std::abs(qGreen(a) - qGreen(b)) <= 1 &&
           std::abs(qBlue(a) - qBlue(b)) <= 1;
}

// The view's place in the window along one side: a view that fits whole 2 + k points in, a
// larger one so that its far rim lies 4 to 7 points inside the window; either way at a whole
// point that is k modulo 4, so that at ratios 1.25 and 1.75 each k puts its corner another
// quarter of a device pixel off the device's pixels (at 1.5, k = 0 and 1 a whole and a half).
int placeAlong(int side, int windowSide, int k) {
    if (side <= windowSide - 8) return 2 + k;
    const int base = windowSide - 4 - side;
    return base - (((base - k) % 4) + 4) % 4;
}

// A shown window of `size` points on `screen`, filled with `background`, holding a view of
// `picture` at `scale` in orientation `o` at placement `k`.
struct Window {
    QWidget widget;
    ClickableView* view = new ClickableView(&widget);
    Window(QScreen* screen, QSize size, QRgb background, const QImage& picture, double scale,
           const Orientation& o, int k) {
        widget.setScreen(screen);
        widget.move(screen->geometry().topLeft());
        widget.resize(size);
        QPalette palette = widget.palette();
        palette.setColor(QPalette::Window, QColor(background));
        widget.setPalette(palette);
        widget.setAutoFillBackground(true);
        view->scale = scale;
        view->angle = o.angle;
        view->flipHorizontally = o.flipH;
        view->flipVertically = o.flipV;
        view->setImage(picture);
        view->move(placeAlong(view->width(), size.width(), k),
                   placeAlong(view->height(), size.height(), (3 * k + 1) % 4));
        widget.show();
    }
    QImage painted() { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    // What the readout names with the pointer on device pixel (i, j) of the window, moved there
    // as the window system moves it.
    std::optional<QPoint> namedAt(int i, int j, double ratio, Readout& readout) {
        const QPointF at(i / ratio, j / ratio);
        qt_handleMouseEvent(widget.windowHandle(), at, widget.mapToGlobal(at), Qt::NoButton,
                            Qt::NoButton, QEvent::MouseMove, Qt::NoModifier, 0);
        return readout.named;
    }
};

// True when the device pixels of `marked` that differ from `plain` lie on the lines through
// device position `centre`, a pen's width (`ratio` device pixels) across: the arms of an upright
// cross drawn there.
bool onTheCrossAt(const QImage& plain, const QImage& marked, QPointF centre, double ratio,
                  int* changed) {
    bool on = true;
    for (int j = 0; j < plain.height(); ++j)
        for (int i = 0; i < plain.width(); ++i) {
            if (plain.pixel(i, j) == marked.pixel(i, j)) continue;
            ++*changed;
            const double dx = std::abs(i + 0.5 - centre.x()), dy = std::abs(j + 0.5 - centre.y());
            if (dx > ratio / 2 + 1e-6 && dy > ratio / 2 + 1e-6) on = false;
        }
    return on;
}

}  // namespace

class ViewOnDevicePixels : public testing::TestWithParam<double> {};

// Thin frames (2000 x 1, 1 x 2000, 2 x 700), a small and a large one, fitted into 40 x 30
// points, at 1:1 and magnified 1.7 times, in every turn and mirroring, with the view's corner at
// every quarter of a device pixel the ratio gives (a view lies on whole points). The point mark
// goes on a pixel named halfway through the visible part.
TEST_P(ViewOnDevicePixels, PaintedExactlyWhereNamedInThePixelsColourWithTheMarksOnThem) {
    const double ratio = GetParam();
    ASSERT_TRUE(kScreensOfSeveralRatios);
    QScreen* screen = screenOfRatio(ratio);
    ASSERT_NE(screen, nullptr);
    const int placements = ratio == 1.25 || ratio == 1.75 ? 4 : ratio == 1.5 ? 2 : 1;
    struct Case {
        QSize size;
        double scale;
        Orientation o;
        int k;  // placement
    };
    std::vector<Case> cases;
    for (const QSize size :
         {QSize(2000, 1), QSize(1, 2000), QSize(2, 700), QSize(23, 17), QSize(1001, 800)})
        for (double angle : {0.0, 90.0, 180.0, -90.0}) {
            const QSizeF shown = turnedSize(QSizeF(size), quarterTurnsForAngle(angle));
            const double fit = std::max(shown.width() / 40, shown.height() / 30);
            for (double scale : {fit, 1.0, 1 / 1.7})
                for (int flips = 0; flips < 4; ++flips)
                    for (int k = 0; k < placements; ++k)
                        cases.push_back(
                            {size, scale, {angle, (flips & 1) != 0, (flips & 2) != 0}, k});
        }
    int compared = 0;
    QImage picture;  // of the size the cases come in
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width() << " x " << c.size.height() << " scale "
                                        << c.scale << " angle " << c.o.angle << " flips "
                                        << c.o.flipH << c.o.flipV << " placement " << c.k);
        if (picture.size() != c.size) picture = distinctPicture(c.size);
        const QRgb background = colourOf(c.size.width() * c.size.height());
        Window window(screen, QSize(48, 38), background, picture, c.scale, c.o, c.k);
        ClickableView* view = window.view;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window.widget));
        ASSERT_EQ(view->devicePixelRatioF(), ratio);
        const QImage painted = window.painted();
        const QPointF corner = QPointF(view->pos()) * ratio;
        const QRect inView(view->pos(), view->size());
        Readout readout;
        readout.view = view;
        view->delegate = &readout;
        Faults faults;
        int shows = 0;  // device pixels that should show picture
        std::vector<std::optional<QPoint>> named;
        for (int j = 0; j < painted.height(); ++j) {
            for (int i = 0; i < painted.width(); ++i) {
                named.push_back(window.namedAt(i, j, ratio, readout));
                const std::optional<QPoint> pixel = named.back();
                const QRgb colour = painted.pixel(i, j);
                const bool isPainted = colour != background;
                if (isPainted && !pixel) faults.add("painted, the readout says --", i, j);
                if (!isPainted && pixel) faults.add("window shown, a pixel named", i, j);
                // Qt paints a widget on the device pixels between its corners, each rounded to
                // the nearest device pixel corner.
                const bool inClip = i >= qRound(inView.left() * ratio) &&
                                    i < qRound((inView.right() + 1) * ratio) &&
                                    j >= qRound(inView.top() * ratio) &&
                                    j < qRound((inView.bottom() + 1) * ratio);
                const std::vector<QPoint> expected =
                    inClip ? shownOn(*view, QPoint(i, j), corner, ratio, c.size)
                           : std::vector<QPoint>();
                if (expected.empty()) continue;
                ++shows;
                if (!isPainted) faults.add("picture left blank", i, j);
                if (!pixel) continue;
                if (std::find(expected.begin(), expected.end(), *pixel) == expected.end())
                    faults.add("a pixel named that is not shown there", i, j);
                if (!closeColours(colour, meanColour(picture, expected)))
                    faults.add("not the colour of the pixels shown there", i, j);
                ++compared;
            }
        }
        EXPECT_GT(shows, 0);
        EXPECT_TRUE(faults.counts.empty())
            << testing::PrintToString(faults.counts) << "; first: " << faults.first;

        // From the last device pixel named, out of the window: "--".
        size_t last = named.size();
        while (last > 0 && !named[last - 1])
            --last;
        ASSERT_GT(last, 0u);
        const int w = painted.width();
        window.namedAt(int(last - 1) % w, int(last - 1) / w, ratio, readout);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(window.widget.windowHandle(), &leave);
        EXPECT_FALSE(readout.named) << "the readout kept a pixel after leaving";
        view->delegate = nullptr;

        // The mark on the pixel named halfway through the named ones.
        std::vector<QPoint> names;
        for (const std::optional<QPoint>& n : named)
            if (n) names.push_back(*n);
        view->pointMarker = QPointF(names[names.size() / 2]) + QPointF(0.5, 0.5);
        const QPointF centre =
            originOf(corner) + toYDown(viewFromPicture(*view->pointMarker, view->orientation()),
                                       view->frameSize().height()) *
                                   ratio;
        int changed = 0;
        EXPECT_TRUE(onTheCrossAt(painted, window.painted(), centre, ratio, &changed))
            << "a mark off the device pixels of its picture pixel";
        EXPECT_GT(changed, 0);
    }
    EXPECT_EQ(cases.size(), size_t(5 * 4 * 3 * 4 * placements));
    EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(Ratios, ViewOnDevicePixels, testing::Values(1.0, 1.25, 1.5, 1.75, 2.0),
                         [](const testing::TestParamInfo<double>& info) {
                             return "Ratio" + std::to_string(int(info.param * 100));
                         });
