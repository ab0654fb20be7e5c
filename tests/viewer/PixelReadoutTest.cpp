// The pixel readout under the pointer: for every screen pixel of the marker view, in every
// quarter turn and mirroring and at whole, fractional and reducing zooms, the field names the
// picture pixel drawn there and its value. The expected pixel is found without the view's own
// mapping: the picture is turned and mirrored by Qt's transforms, and the shown pixel under a
// screen pixel is the one whose square covers the screen pixel's centre, in exact integers; a
// screen pixel that shows part of the picture although its centre lies past it (the last one of
// a reduced view) names the last pixel it shows.
#include "ClickableView.h"
#include "ImageWindowTesting.h"
#include "ProbeTexts.h"
#include "ViewMapping.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QTransform>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace testing_image_window;

namespace {

// Picture pixels per view point as an exact fraction.
struct Zoom {
    int numerator, denominator;
    double value() const { return double(numerator) / denominator; }
};

// Quarter turns counter-clockwise and the two mirrorings.
struct Orientation {
    int turns;
    bool flipH, flipV;
};

std::string describe(const Orientation& o, const Zoom& z) {
    std::ostringstream s;
    s << "turn " << 90 * o.turns << " flips " << o.flipH << o.flipV << " zoom " << z.numerator
      << "/" << z.denominator;
    return s.str();
}

// A picture whose pixel (x, y counted up from the bottom; each below 4096) is labelled by its
// own coordinates, x in the upper twelve bits of the 24 and y in the lower.
QImage labelPicture(int w, int h) {
    QImage picture(w, h, QImage::Format_RGB32);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            picture.setPixel(x, row, 0xff000000u | uint(x) << 12 | uint(h - 1 - row));
    return picture;
}

// The picture as shown: mirrored about its centre lines, then turned counter-clockwise as seen
// (a positive QTransform angle turns clockwise on screen).
QImage shownLabels(const QImage& labels, const Orientation& o) {
    const QImage mirrored = labels.mirrored(o.flipH, o.flipV);
    return o.turns == 0 ? mirrored : mirrored.transformed(QTransform().rotate(-90.0 * o.turns));
}

// The shown pixel index along one side of `shown` pixels that screen pixel `i` names, for `zoom`
// picture pixels per point and `ratio` (a fraction too) screen pixels per point, so s = zoom /
// ratio shown pixels per screen pixel, exactly: the one under its centre, floor((i + 1/2) s),
// held at the last one; none when the screen pixel shows nothing. Magnified or at 1:1 it shows
// the pixel under its centre; reduced, the pixels whose centres lie in [i s, (i + 1) s), the
// first of them ceil(i s - 1/2).
std::optional<int> shownIndex(int i, int shown, const Zoom& zoom, const Zoom& ratio) {
    const long long num = zoom.numerator * ratio.denominator;  // s = num / den
    const long long den = zoom.denominator * ratio.numerator;
    const long long under = (2LL * i + 1) * num / (2 * den);  // both positive
    // ceil((2 i num - den) / (2 den)), the numerator positive or not.
    const long long top = 2LL * i * num - den, bottom = 2 * den;
    const long long firstInside = top >= 0 ? (top + bottom - 1) / bottom : -((-top) / bottom);
    const long long first = num > den ? std::max(0LL, firstInside) : under;
    if (first >= shown) return std::nullopt;
    return int(std::min<long long>(under, shown - 1));
}

// The picture pixel (x, y up) named for screen pixel (i, j) (y down from the view's top), or
// none where the screen pixel shows nothing of the picture.
std::optional<QPoint> expectedPixel(const QImage& shown, int i, int j, const Zoom& zoom,
                                    const Zoom& ratio = {1, 1}) {
    const std::optional<int> sx = shownIndex(i, shown.width(), zoom, ratio);
    const std::optional<int> sy = shownIndex(j, shown.height(), zoom, ratio);
    if (!sx || !sy) return std::nullopt;
    const QRgb label = shown.pixel(*sx, *sy);
    return QPoint(int(label >> 12 & 0xfff), int(label & 0xfff));
}

// A 24-bit RGB raw frame whose pixel (x, y up) holds (10 x, 10 y, 77).
ImagePtr colourLabelFrame(int w, int h) {
    QByteArray blob("RAW3");
    appendLE32(blob, uint32_t(w));
    appendLE32(blob, uint32_t(h));
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            blob.append(char(10 * x));
            blob.append(char(10 * (h - 1 - row)));
            blob.append(char(77));
        }
    return imageOf(blob);
}

QString readoutOf(QPoint pixel) {
    return QStringLiteral("[%1, %2] \u2192 (%3, %4, 77)")
        .arg(pixel.x())
        .arg(pixel.y())
        .arg(10 * pixel.x())
        .arg(10 * pixel.y());
}

// A mouse move without buttons to widget position `at`.
void hover(ClickableView* view, QPointF at) {
    QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view, &move);
}

const Orientation kOrientations[] = {
    {0, false, false}, {0, true, false}, {0, false, true}, {0, true, true},
    {1, false, false}, {1, true, false}, {1, false, true}, {1, true, true},
    {2, false, false}, {2, true, false}, {2, false, true}, {2, true, true},
    {3, false, false}, {3, true, false}, {3, false, true}, {3, true, true},
};

// 1:1, magnified 2x, 4x and 5/3x (no whole number), reduced 2x (every centre on a pixel edge)
// and 1.3x.
const Zoom kZooms[] = {{1, 1}, {1, 2}, {1, 4}, {3, 5}, {2, 1}, {13, 10}};

}  // namespace

TEST(PixelReadout, NamesThePixelDrawnUnderEveryScreenPixel) {
    WindowSettings settings;
    const int w = 11, h = 7;
    ImageWindow window(colourLabelFrame(w, h));
    ImageController* c = window.controller;
    ClickableView* view = c->clickableView;
    ASSERT_TRUE(view && c->selectedPixelField);
    c->zoomActualSize();  // the zoom no longer follows the window
    const QImage labels = labelPicture(w, h);
    const QImage rendered = c->current->renderedImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(rendered.size(), QSize(w, h));

    for (const Orientation& o : kOrientations) {
        for (const Zoom& zoom : kZooms) {
            const std::string where = describe(o, zoom);
            c->zoom = zoom.value();
            view->scale = zoom.value();
            view->angle = 90.0 * o.turns;
            view->flipHorizontally = o.flipH;
            view->flipVertically = o.flipV;
            view->setImage(view->image());
            const QImage shown = shownLabels(labels, o);
            const QSizeF frame(shown.width() / zoom.value(), shown.height() / zoom.value());
            ASSERT_EQ(view->frameSize(), frame) << where;
            // Only a magnified or 1:1 view shows single picture pixels to compare with.
            const bool comparePainted = zoom.numerator <= zoom.denominator;
            const QImage painted =
                comparePainted ? view->grab().toImage().convertToFormat(QImage::Format_RGB32)
                               : QImage();

            int places = 0, wrong = 0, wrongAtCorners = 0;
            std::string firstWrong;
            for (int j = 0; j < view->height(); ++j)
                for (int i = 0; i < view->width(); ++i) {
                    const std::optional<QPoint> expected = expectedPixel(shown, i, j, zoom);
                    const QString text = expected ? readoutOf(*expected) : ProbeTexts::noValueText;
                    // The pointer's own position, and one inside the same screen pixel.
                    for (QPointF at : {QPointF(i, j), QPointF(i + 0.7, j + 0.3)}) {
                        c->selectedPixelField->setText(QString());
                        hover(view, at);
                        ++places;
                        if (c->selectedPixelField->text() == text) continue;
                        if (at == QPointF(i, j)) ++wrongAtCorners;
                        if (wrong++ == 0)
                            firstWrong = "screen pixel " + std::to_string(i) + "," +
                                         std::to_string(j) + " shows \"" +
                                         c->selectedPixelField->text().toStdString() +
                                         "\", expected \"" + text.toStdString() + "\"";
                    }
                    if (expected && comparePainted) {
                        EXPECT_EQ(painted.pixel(i, j),
                                  rendered.pixel(expected->x(), h - 1 - expected->y()))
                            << where << " painted pixel " << i << "," << j;
                    }
                }
            EXPECT_EQ(wrong, 0) << where << ": " << wrong << " of " << places << " places wrong ("
                                << wrongAtCorners << " of " << places / 2
                                << " at whole positions); first: " << firstWrong;
        }
    }
}

TEST(PixelReadout, ScreenPixelsSmallerThanAPointAtEveryPixelRatio) {
    // A view drawn on a screen of 2, 1.5 or 1.25 pixels per point: the screen pixel under the
    // pointer is a fraction of a point, and its centre picks the picture pixel.
    const int w = 9, h = 5;
    const QImage labels = labelPicture(w, h);
    for (const Zoom ratio : {Zoom{2, 1}, Zoom{3, 2}, Zoom{5, 4}})
        for (const Orientation& o : kOrientations)
            for (const Zoom& zoom : {Zoom{1, 1}, Zoom{1, 2}, Zoom{3, 5}, Zoom{2, 1}}) {
                const std::string where =
                    describe(o, zoom) + " ratio " + std::to_string(ratio.value());
                const QImage shown = shownLabels(labels, o);
                const QSizeF frame(shown.width() / zoom.value(), shown.height() / zoom.value());
                const ViewOrientation view{zoom.value(), o.turns, o.flipH, o.flipV, frame};
                const int across = int(std::ceil(frame.width() * ratio.value()));
                const int down = int(std::ceil(frame.height() * ratio.value()));
                for (int j = 0; j < down; ++j)
                    for (int i = 0; i < across; ++i) {
                        const std::optional<QPoint> expected =
                            expectedPixel(shown, i, j, zoom, ratio);
                        // The pointer at the screen pixel's corner and further inside it.
                        for (double d : {0.0, 0.4, 0.9}) {
                            const QPointF widget((i + d) / ratio.value(), (j + d) / ratio.value());
                            EXPECT_EQ(picturePixelAt(toYUp(widget, frame.height()), QSize(w, h),
                                                     view, ratio.value()),
                                      expected)
                                << where << " screen pixel " << i << "," << j;
                        }
                    }
            }
}

TEST(PixelReadout, NothingOutsideThePictureOrWithoutAView) {
    const ViewOrientation view{0.5, 0, false, false, QSizeF(20, 10)};
    EXPECT_EQ(picturePixelAt(QPointF(0.2, 9.9), QSize(10, 5), view, 1), QPoint(0, 4));
    EXPECT_EQ(picturePixelAt(QPointF(19.9, 0.1), QSize(10, 5), view, 1), QPoint(9, 0));
    for (QPointF outside : {QPointF(-0.1, 5), QPointF(20, 5), QPointF(5, 10.5), QPointF(5, -0.5),
                            QPointF(NAN, 5), QPointF(5, INFINITY)})
        EXPECT_FALSE(picturePixelAt(outside, QSize(10, 5), view, 1))
            << outside.x() << "," << outside.y();
    EXPECT_FALSE(picturePixelAt(QPointF(1, 1), QSize(), view, 1));
    EXPECT_FALSE(
        picturePixelAt(QPointF(1, 1), QSize(10, 5), ViewOrientation{0.5, 0, false, false, {}}, 1));
    // A ratio that is no number of pixels per point counts as 1.
    EXPECT_EQ(picturePixelAt(QPointF(3.6, 9.9), QSize(10, 5), view, 0), QPoint(1, 4));
    EXPECT_EQ(picturePixelAt(QPointF(3.6, 9.9), QSize(10, 5), view, NAN), QPoint(1, 4));
}

// A frame one pixel high (a spectrum's shape) or one pixel wide, reduced to fit a view of 700
// points, at 1:1 and magnified: every screen pixel along it names the pixel it shows, at every
// ratio, turn and mirroring, and where the screen pixels are no fewer than the frame's, every
// one of those is named.
TEST(PixelReadout, OneRowAndOneColumnFramesAlongTheirWholeLength) {
    for (const QSize size : {QSize(2000, 1), QSize(1, 2000)}) {
        const QImage labels = labelPicture(size.width(), size.height());
        for (const Zoom ratio : {Zoom{1, 1}, Zoom{2, 1}, Zoom{3, 2}})
            for (const Orientation& o : kOrientations)
                for (const Zoom& zoom : {Zoom{20, 7}, Zoom{1, 1}, Zoom{1, 3}}) {
                    const std::string where =
                        describe(o, zoom) + " ratio " + std::to_string(ratio.value()) + " " +
                        std::to_string(size.width()) + " x " + std::to_string(size.height());
                    const QImage shown = shownLabels(labels, o);
                    const QSizeF frame(shown.width() / zoom.value(), shown.height() / zoom.value());
                    const ViewOrientation view{zoom.value(), o.turns, o.flipH, o.flipV, frame};
                    const int across = int(std::ceil(frame.width() * ratio.value()));
                    const int down = int(std::ceil(frame.height() * ratio.value()));
                    std::vector<bool> seen(2000, false);
                    int unnamed = 0, wrong = 0;
                    for (int j = 0; j < down; ++j)
                        for (int i = 0; i < across; ++i) {
                            const std::optional<QPoint> expected =
                                expectedPixel(shown, i, j, zoom, ratio);
                            // The first screen pixel across the frame's short side always
                            // shows it.
                            if (!expected && (shown.width() == 1 ? i : j) == 0) ++unnamed;
                            const QPointF widget(i / ratio.value(), j / ratio.value());
                            const std::optional<QPoint> named = picturePixelAt(
                                toYUp(widget, frame.height()), size, view, ratio.value());
                            if (named != expected) ++wrong;
                            if (named) seen[size_t(std::max(named->x(), named->y()))] = true;
                        }
                    EXPECT_EQ(unnamed, 0) << where;
                    EXPECT_EQ(wrong, 0) << where;
                    // At 1:1 and magnified every pixel of the frame is named somewhere.
                    if (zoom.numerator * ratio.denominator <= zoom.denominator * ratio.numerator) {
                        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 2000) << where;
                    }
                }
    }
}
