// The marker view's drawing on the device pixels: one mapping of the whole frame however the
// view is painted, what it keeps at each pixel ratio, and averaged reductions that keep
// one-pixel lines and stars.
#include "ClickableView.h"
#include "NoisePicture.h"
#include "ScreensOfRatios.h"
#include "ViewMapping.h"

#include <QApplication>
#include <QPalette>
#include <QScreen>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

const bool kScreensOfSeveralRatios = useOffscreenScreens("screens-of-five-pixel-ratios.json");

struct Orientation {
    double angle;
    bool flipH, flipV;
};

// Every turn with every mirroring.
std::vector<Orientation> allOrientations() {
    std::vector<Orientation> all;
    for (double angle : {0.0, 90.0, 180.0, -90.0})
        for (int flips = 0; flips < 4; ++flips)
            all.push_back({angle, (flips & 1) != 0, (flips & 2) != 0});
    return all;
}

// A top-level view on the screen of `ratio` showing `picture` at `scale`; `keptLimit` bytes at
// most for the kept reduction when given.
std::unique_ptr<ClickableView> viewOn(double ratio, const QImage& picture, double scale,
                                      const Orientation& o = {0, false, false},
                                      std::optional<qint64> keptLimit = std::nullopt) {
    auto view = std::make_unique<ClickableView>();
    if (keptLimit) view->setKeptBytesLimit(*keptLimit);
    QScreen* screen = screenOfRatio(ratio);
    if (screen) {
        view->setScreen(screen);
        view->move(screen->geometry().topLeft());
    }
    view->scale = scale;
    view->angle = o.angle;
    view->flipHorizontally = o.flipH;
    view->flipVertically = o.flipV;
    view->setImage(picture);
    return view;
}

QImage wholePaint(ClickableView& view) {
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Where a window shows the view: the viewport's size and first place, in view points.
struct Scrolling {
    QSize viewport;
    QPoint start;  // a multiple of 4 lies on a device pixel at every ratio here, others may not
};

// A canvas of device pixels over the part of the view a window scrolls across: view point
// `origin` at its top-left corner. Pixels never painted keep a colour the picture lacks.
struct Canvas {
    QImage image;
    QPoint origin;
    Canvas(const ClickableView& view, QRect points) : origin(points.topLeft()) {
        const double r = view.devicePixelRatioF();
        image = QImage(static_cast<int>(std::ceil(points.width() * r)),
                       static_cast<int>(std::ceil(points.height() * r)), QImage::Format_RGB32);
        image.setDevicePixelRatio(r);
        image.fill(qRgb(1, 254, 3));
    }
    // Paints the part `r` (view points) of the view as an exposed rectangle is painted.
    void expose(ClickableView& view, const QRect& r) {
        const QRect inside = r & view.rect();
        if (!inside.isEmpty()) view.render(&image, inside.topLeft() - origin, QRegion(inside));
    }
};

// The view painted as a window shows it while it scrolls and is uncovered bit by bit: the
// viewport painted where it starts, then only the strips each scroll step uncovers (the rest
// stays from before, as a window moves it), then a few rectangles of it exposed again; and the
// view painted once whole over the same canvas. Returns the pixels that differ in the
// viewport's last place.
int piecesAgainstWhole(ClickableView& view, const Scrolling& s) {
    const QPoint steps[] = {{7, 5}, {13, 0}, {0, 11}, {29, 17}, {1, 1}, {40, 3}};
    QRect reach(s.start, s.viewport);
    for (QPoint step : steps)
        reach |= reach.translated(step);
    Canvas pieces(view, reach), whole(view, reach);
    whole.expose(view, view.rect());
    QRect viewport(s.start, s.viewport);
    pieces.expose(view, viewport);
    for (QPoint step : steps) {
        const QRect next = viewport.translated(step);
        // The uncovered strips along the right and the bottom.
        pieces.expose(view, QRect(viewport.right() + 1, next.top(), step.x(), next.height()));
        pieces.expose(view, QRect(next.left(), viewport.bottom() + 1, next.width(), step.y()));
        viewport = next;
    }
    const int w = viewport.width(), h = viewport.height();
    for (const QRect& r : {QRect(w / 13, h / 17, w / 7, h / 5), QRect(w / 2, h / 3, w / 4, 6),
                           QRect(1, h * 2 / 3, w * 4 / 5, 5)})
        pieces.expose(view, r.translated(viewport.topLeft()));
    // Compared inside the viewport (points), pixel by pixel.
    const double r = view.devicePixelRatioF();
    const QRect points = (viewport & view.rect()).translated(-pieces.origin);
    int differing = 0;
    for (int y = static_cast<int>(std::ceil(points.top() * r));
         y < static_cast<int>((points.bottom() + 1) * r); ++y)
        for (int x = static_cast<int>(std::ceil(points.left() * r));
             x < static_cast<int>((points.right() + 1) * r); ++x)
            if (pieces.image.pixel(x, y) != whole.image.pixel(x, y)) ++differing;
    return differing;
}

// The picture pixel (column, row from the top) whose square covers the centre of device pixel
// (i, j) of the view, worked out through the marks' mapping; none when the centre lies on an
// edge between two (either is right) or outside the picture.
std::optional<QPoint> pictureUnder(const ClickableView& view, int i, int j, double ratio,
                                   QSize picture) {
    const QPointF widget((i + 0.5) / ratio, (j + 0.5) / ratio);
    const QPointF p = pictureFromView(toYUp(widget, view.frameSize().height()), view.orientation());
    auto onEdge = [](double v) { return std::abs(v - std::round(v)) < 1e-7; };
    if (onEdge(p.x()) || onEdge(p.y())) return std::nullopt;
    const int x = static_cast<int>(std::floor(p.x()));
    const int y = picture.height() - 1 - static_cast<int>(std::floor(p.y()));
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) return std::nullopt;
    return QPoint(x, y);
}

}  // namespace

TEST(ClickableViewDrawing, TheScreensOfEveryRatioAreThere) {
    ASSERT_TRUE(kScreensOfSeveralRatios);
    for (double ratio : {1.0, 1.25, 1.5, 1.75, 2.0})
        EXPECT_NE(screenOfRatio(ratio), nullptr) << ratio;
}

// However the view is exposed and scrolled, each device pixel shows what one whole paint shows
// there: at zooms that are no whole number, magnified (0.6073 is about 165 %), near 1:1 and
// reduced, at every pixel ratio, turn and mirroring, and the corner mosaic too.
TEST(ClickableViewDrawing, PiecesPaintedAsScrolledMatchOneWholePaint) {
    const QImage small = noisePicture(163, 121);
    const Scrolling nearTheStart{{130, 90}, {4, 4}};
    int cases = 0;
    for (double ratio : {1.0, 1.25, 1.5, 2.0}) {
        for (double scale : {0.6073, 0.3719, 1.0, 1.3, 2.7}) {
            for (const Orientation& o : allOrientations()) {
                SCOPED_TRACE(testing::Message()
                             << "ratio " << ratio << " scale " << scale << " angle " << o.angle
                             << " flips " << o.flipH << o.flipV);
                auto view = viewOn(ratio, small, scale, o);
                ASSERT_EQ(view->devicePixelRatioF(), ratio);
                EXPECT_EQ(piecesAgainstWhole(*view, nearTheStart), 0);
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 4 * 5 * 16);

    // Scrolled to places off the multiples of 4 at ratios 1.25 and 1.5: the view's origin lies
    // a fraction of a device pixel (a quarter or a half) off the device's, and the painted parts
    // must still meet.
    for (double ratio : {1.25, 1.5}) {
        for (const Scrolling& odd : {Scrolling{{130, 90}, {2, 6}}, Scrolling{{127, 93}, {5, 7}}}) {
            for (double scale : {0.6073, 1.0, 1.3, 2.7}) {
                for (const Orientation& o :
                     {Orientation{0, false, false}, Orientation{90, true, false},
                      Orientation{180, false, true}, Orientation{-90, true, true}}) {
                    SCOPED_TRACE(testing::Message()
                                 << "ratio " << ratio << " start " << odd.start.x() << ","
                                 << odd.start.y() << " scale " << scale << " angle " << o.angle
                                 << " flips " << o.flipH << o.flipV);
                    auto view = viewOn(ratio, small, scale, o);
                    EXPECT_EQ(piecesAgainstWhole(*view, odd), 0);
                }
            }
        }
    }

    // A 1500 x 1000 frame at about 165 % in a window far from the view's origin.
    const QImage large = noisePicture(1500, 1000);
    const Scrolling farOut{{600, 400}, {1204, 796}};
    for (double ratio : {1.0, 1.5, 2.0}) {
        for (const Orientation& o : {Orientation{0, false, false}, Orientation{90, true, false},
                                     Orientation{180, false, true}, Orientation{-90, true, true}}) {
            SCOPED_TRACE(testing::Message() << "1500 x 1000, ratio " << ratio << " angle "
                                            << o.angle << " flips " << o.flipH << o.flipV);
            auto view = viewOn(ratio, large, 0.6073, o);
            EXPECT_EQ(piecesAgainstWhole(*view, farOut), 0);
        }
    }

    // The corner mosaic, magnified and reduced.
    for (double ratio : {1.0, 1.5}) {
        for (double scale : {0.45, 1.7}) {
            SCOPED_TRACE(testing::Message() << "mosaic, ratio " << ratio << " scale " << scale);
            auto view = std::make_unique<ClickableView>();
            view->setScreen(screenOfRatio(ratio));
            view->setFrameSize(QSizeF(97, 71));
            view->scale = scale;
            view->inspectCornersState = true;
            view->setImage(small);
            EXPECT_EQ(piecesAgainstWhole(*view, nearTheStart), 0);
        }
    }
}

// A whole paint of a magnified view shows under each device pixel's centre the picture pixel
// the marks' mapping puts there: a 10 x 10 picture fitted into a view of some 690 points, and
// a larger one at zooms that are no whole number, in every orientation and at every ratio.
TEST(ClickableViewDrawing, MagnifiedPixelsAreThePicturePixelsUnderTheirCentres) {
    // The large views in four orientations (each turn, each mirroring once), the others in all.
    const std::vector<Orientation> some = {
        {0, false, false}, {90, true, false}, {180, false, true}, {-90, true, true}};
    const std::vector<Orientation> all = allOrientations();
    const struct {
        QSize size;
        double scale;
        const std::vector<Orientation>& orientations;
    } cases[] = {{{10, 10}, 10.0 / 689.3, some},
                 {{10, 10}, 0.0145, some},
                 {{37, 23}, 0.6, all},
                 {{37, 23}, 0.37, all}};
    for (const auto& c : cases) {
        const QImage picture = noisePicture(c.size.width(), c.size.height());
        for (double ratio : {1.0, 1.25, 1.5, 2.0}) {
            for (const Orientation& o : c.orientations) {
                SCOPED_TRACE(testing::Message()
                             << c.size.width() << " x " << c.size.height() << " scale " << c.scale
                             << " ratio " << ratio << " angle " << o.angle << " flips " << o.flipH
                             << o.flipV);
                auto view = viewOn(ratio, picture, c.scale, o);
                const QImage whole = wholePaint(*view);
                int wrong = 0;
                for (int j = 0; j < whole.height(); ++j) {
                    const auto* row = reinterpret_cast<const QRgb*>(whole.constScanLine(j));
                    for (int i = 0; i < whole.width(); ++i) {
                        const auto under = pictureUnder(*view, i, j, ratio, picture.size());
                        if (under && row[i] != picture.pixel(*under)) ++wrong;
                    }
                }
                EXPECT_EQ(wrong, 0);
            }
        }
    }
}

// The pixel the view names under a pointer is one it paints there: for every device pixel
// of a window holding the view at an offset that is no whole device pixel at fractional
// ratios, at zooms whose device pixel centres fall exactly on picture pixel edges (3/2, 2) and
// others, in every orientation. Where the device pixels are at least as many as the picture's,
// it is the pixel painted; reduced, one whose centre lies inside the device pixel (so one of
// those averaged there). Every device pixel that shows picture names one, the last column and
// row of a reduced view too.
TEST(ClickableViewDrawing, TheReadoutNamesThePixelEachDevicePixelShows) {
    const QImage picture = noisePicture(23, 17);
    // A window colour that no picture pixel, nor any average of them here, has.
    const QRgb background = qRgb(1, 254, 3);
    int cases = 0;
    for (double ratio : {1.0, 1.25, 1.5, 2.0}) {
        for (double scale : {2.0 / 3.0, 0.5, 0.6073, 1.0, 1.25, 4.0 / 3.0, 1.7, 2.5, 3.0}) {
            const bool reduced = scale / ratio > 1;
            for (const Orientation& o : allOrientations()) {
                SCOPED_TRACE(testing::Message()
                             << "ratio " << ratio << " scale " << scale << " angle " << o.angle
                             << " flips " << o.flipH << o.flipV);
                QWidget window;
                window.setScreen(screenOfRatio(ratio));
                window.resize(90, 80);
                QPalette palette = window.palette();
                palette.setColor(QPalette::Window, QColor(background));
                window.setPalette(palette);
                window.setAutoFillBackground(true);
                auto* view = new ClickableView(&window);
                view->move(3, 5);
                view->scale = scale;
                view->angle = o.angle;
                view->flipHorizontally = o.flipH;
                view->flipVertically = o.flipV;
                view->setImage(picture);
                ASSERT_EQ(view->devicePixelRatioF(), ratio);
                const QImage painted =
                    window.grab().toImage().convertToFormat(QImage::Format_RGB32);
                const QRect inView = QRect(view->pos(), view->size());
                // The view's device pixels are the window's from the one nearest its origin.
                const QPointF origin(qRound(view->x() * ratio), qRound(view->y() * ratio));
                int wrong = 0, named = 0, unnamed = 0;
                for (int j = 0; j < painted.height(); ++j) {
                    for (int i = 0; i < painted.width(); ++i) {
                        // A pointer reports the corner of the device pixel it is on.
                        const QPointF at(i / ratio, j / ratio);
                        if (!QRectF(inView).contains(at + QPointF(0.5, 0.5) / ratio)) continue;
                        const QPointF widget = at - QPointF(view->pos());
                        const auto pixel =
                            view->picturePixelAt(toYUp(widget, view->frameSize().height()));
                        if (!pixel) {
                            if (painted.pixel(i, j) != background) ++unnamed;
                            continue;
                        }
                        ++named;
                        const QPoint top(pixel->x(), picture.height() - 1 - pixel->y());
                        if (!reduced) {
                            if (painted.pixel(i, j) != picture.pixel(top)) ++wrong;
                            continue;
                        }
                        // The named pixel's centre, in the window's device pixels.
                        const QPointF centre =
                            origin + toYDown(viewFromPicture(QPointF(*pixel) + QPointF(0.5, 0.5),
                                                             view->orientation()),
                                             view->frameSize().height()) *
                                         ratio;
                        auto inside = [](double v, int k) {
                            return v > k - 1e-7 && v < k + 1 + 1e-7;
                        };
                        if (!inside(centre.x(), i) || !inside(centre.y(), j)) ++wrong;
                    }
                }
                EXPECT_GT(named, 0);
                EXPECT_EQ(wrong, 0) << "of " << named;
                EXPECT_EQ(unnamed, 0) << "device pixels painted but naming no pixel";
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 4 * 9 * 16);
}

// No copy the view keeps for display takes more bytes than the picture. Where the device has a
// pixel or more for every picture pixel (zoom up to the ratio) the view keeps none: it paints
// from the picture; reduced, it keeps the averaged picture at the view's size in device pixels,
// 4 bytes each, only where that is no more than the picture's 3 bytes a pixel, that is from
// about 1.155 picture pixels per device pixel on.
TEST(ClickableViewDrawing, KeepsNoCopyLargerThanThePicture) {
    const QImage picture = noisePicture(800, 600);
    const qint64 pictureBytes = 800 * 3 * 600;
    ASSERT_EQ(picture.sizeInBytes(), pictureBytes);
    for (double ratio : {1.0, 1.25, 1.5, 2.0}) {
        for (double scale : {0.5, 0.8, 1.0, 1.1, 1.2, 1.25, 1.4, 1.5, 1.8, 2.0, 2.2, 2.5, 4.0}) {
            SCOPED_TRACE(testing::Message() << "ratio " << ratio << " scale " << scale);
            auto view = viewOn(ratio, picture, scale);
            const qint64 set = view->keptBytes();
            wholePaint(*view);
            const qint64 painted = view->keptBytes();
            EXPECT_LE(set, pictureBytes);
            EXPECT_LE(painted, pictureBytes);
            // The device pixels of the view and their bytes at 4 each.
            const double w = 800 / scale * ratio, h = 600 / scale * ratio;
            const double averaged = 4 * w * h;
            // No case close to the border, where rounding of the view's size would decide.
            ASSERT_GT(std::abs(averaged / double(pictureBytes) - 1), 0.02);
            if (scale <= ratio || averaged > pictureBytes) {
                EXPECT_EQ(set, 0);
                EXPECT_EQ(painted, 0);
            } else {
                EXPECT_NEAR(double(painted), averaged, 4 * (w + h + 1));
            }
        }
    }
}

// When the memory for the kept reduction is refused (here: more than a limit set on it), the
// view paints the same device pixels from the picture in bands, keeps nothing, and does not ask
// again at every paint.
TEST(ClickableViewDrawing, ARefusedKeptCopyIsPaintedInBandsTheSame) {
    const QImage picture = noisePicture(800, 600);
    for (double ratio : {1.0, 1.5}) {
        for (double scale : {1.8, 3.1}) {
            for (const Orientation& o : {Orientation{0, false, false}, Orientation{90, true, false},
                                         Orientation{-90, false, true}}) {
                SCOPED_TRACE(testing::Message()
                             << "ratio " << ratio << " scale " << scale << " angle " << o.angle
                             << " flips " << o.flipH << o.flipV);
                auto kept = viewOn(ratio, picture, scale, o);
                const QImage expected = wholePaint(*kept);
                ASSERT_GT(kept->keptBytes(), 0);
                auto refused = viewOn(ratio, picture, scale, o, 1024);
                EXPECT_EQ(refused->keptBytes(), 0);
                const QImage shot = wholePaint(*refused);
                EXPECT_EQ(refused->keptBytes(), 0);
                EXPECT_TRUE(shot == expected) << "the paint differs from the kept copy's";
                EXPECT_EQ(piecesAgainstWhole(*refused, {{130, 90}, {5, 7}}), 0);
                // Once the limit is lifted, the same view keeps its copy at the next change.
                refused->setKeptBytesLimit(std::numeric_limits<qint64>::max());
                refused->setImage(picture.copy());
                EXPECT_TRUE(wholePaint(*refused) == expected);
                EXPECT_GT(refused->keptBytes(), 0);
            }
        }
    }
}

namespace {

// A black picture with white one-pixel lines (rows and columns) and single white pixels.
struct LinesAndStars {
    QImage picture;
    std::vector<int> rows, columns;  // the lines, rows counted from the top
    std::vector<QPoint> stars;       // column, row from the top
};

LinesAndStars linesAndStars(int w, int h) {
    LinesAndStars s;
    s.picture = QImage(w, h, QImage::Format_RGB888);
    s.picture.fill(Qt::black);
    for (int y = 17; y < h; y += 97)
        s.rows.push_back(y);
    for (int x = 5; x < w; x += 131)
        s.columns.push_back(x);
    for (int y : s.rows)
        for (int x = 0; x < w; ++x)
            s.picture.setPixel(x, y, qRgb(255, 255, 255));
    for (int x : s.columns)
        for (int y = 0; y < h; ++y)
            s.picture.setPixel(x, y, qRgb(255, 255, 255));
    // Stars away from the lines, on a jittered grid.
    quint32 state = 4242;
    for (int gy = 40; gy < h - 10; gy += 53) {
        for (int gx = 40; gx < w - 10; gx += 61) {
            state = state * 1664525u + 1013904223u;
            const QPoint p(gx + int(state >> 28), gy + int((state >> 24) & 15));
            s.stars.push_back(p);
            s.picture.setPixel(p, qRgb(255, 255, 255));
        }
    }
    return s;
}

// The device pixel (ratio 1) drawn over the centre of picture pixel (x, row from the top);
// none when the centre falls on an edge between two device pixels (either may hold it).
std::optional<QPoint> deviceOver(const ClickableView& view, int x, int row, int pictureHeight) {
    const QPointF centre(x + 0.5, pictureHeight - row - 0.5);
    const QPointF at =
        toYDown(viewFromPicture(centre, view.orientation()), view.frameSize().height());
    auto onEdge = [](double v) { return std::abs(v - std::round(v)) < 1e-7; };
    if (onEdge(at.x()) || onEdge(at.y())) return std::nullopt;
    return QPoint(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
}

}  // namespace

// Reduced 3.7, 9.5 and 21 times, every line and every single-pixel star stays above the black
// background, by as much as averaging over the device pixel leaves of it, in every orientation.
TEST(ClickableViewDrawing, ReductionsKeepEveryLineAndStar) {
    const LinesAndStars s = linesAndStars(2100, 1500);
    const int h = s.picture.height();
    for (double scale : {3.7, 9.5, 21.0}) {
        // The most picture pixels across a device pixel, and what one line or star gives it.
        const int most = static_cast<int>(std::floor(scale)) + 1;
        const int lineAtLeast = static_cast<int>(255.0 / most);
        const int starAtLeast = static_cast<int>(std::lround(255.0 / (most * most)));
        for (const Orientation& o : allOrientations()) {
            SCOPED_TRACE(testing::Message() << "scale " << scale << " angle " << o.angle
                                            << " flips " << o.flipH << o.flipV);
            auto view = viewOn(1.0, s.picture, scale, o);
            const QImage shot = wholePaint(*view);
            int checkedStars = 0, faintStars = 0, faintLinePixels = 0;
            // Counts a picture pixel whose device pixel is darker than `least`.
            auto faint = [&](int x, int row, int least, int* count) {
                const std::optional<QPoint> p = deviceOver(*view, x, row, h);
                if (!p) return false;
                if (!shot.valid(*p) || qGray(shot.pixel(*p)) < least) ++*count;
                return true;
            };
            for (QPoint star : s.stars)
                checkedStars += faint(star.x(), star.y(), starAtLeast, &faintStars);
            for (int row : s.rows)
                for (int x = 0; x < s.picture.width(); ++x)
                    faint(x, row, lineAtLeast, &faintLinePixels);
            for (int column : s.columns)
                for (int y = 0; y < h; ++y)
                    faint(column, y, lineAtLeast, &faintLinePixels);
            EXPECT_GT(checkedStars, int(s.stars.size()) * 3 / 4);
            EXPECT_EQ(faintStars, 0) << "of " << checkedStars;
            EXPECT_EQ(faintLinePixels, 0);
        }
    }
}
