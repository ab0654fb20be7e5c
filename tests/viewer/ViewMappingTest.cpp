// Placing picture points in the marker view and back, and the corner mosaic layout.
#include "ViewMapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

ViewOrientation orientation(double scale, int turns, QSizeF view, bool flipH = false,
                            bool flipV = false) {
    return {scale, turns, flipH, flipV, view};
}

void expectNear(QPointF actual, QPointF expected) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9);
}

void expectNear(const QRectF& actual, const QRectF& expected) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9);
    EXPECT_NEAR(actual.width(), expected.width(), 1e-9);
    EXPECT_NEAR(actual.height(), expected.height(), 1e-9);
}

}  // namespace

TEST(ViewMapping, QuarterTurnsForAngles) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double angle;
        int turns;
    } cases[] = {{0, 0},    {90, 1},   {-90, 3},  {180, 2},
                 {-180, 2}, {270, 3},  {-270, 1}, {450, 1},
                 {45, 0},   {89.9, 0}, {nan, 0},  {std::numeric_limits<double>::infinity(), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(quarterTurnsForAngle(c.angle), c.turns) << "angle " << c.angle;
}

TEST(ViewMapping, ScalesThatAreNoZoomCountAsOne) {
    EXPECT_EQ(effectiveScale(2.5), 2.5);
    EXPECT_EQ(effectiveScale(0.25), 0.25);
    for (double bad : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()})
        EXPECT_EQ(effectiveScale(bad), 1.0) << bad;
}

TEST(ViewMapping, ViewSizeIsShownSizeOverScaleAndAlwaysFinite) {
    EXPECT_EQ(viewSizeFor(QSizeF(600, 800), 2), QSizeF(300, 400));
    EXPECT_EQ(viewSizeFor(QSizeF(600, 800), 0.25), QSizeF(2400, 3200));
    // No zoom set yet: the picture's own size, never an infinite view.
    EXPECT_EQ(viewSizeFor(QSizeF(600, 800), 0), QSizeF(600, 800));
    EXPECT_EQ(viewSizeFor(QSizeF(600, 800), -1), QSizeF(600, 800));
    // A vanishing zoom is held at the largest widget size.
    const QSizeF huge = viewSizeFor(QSizeF(600, 800), 1e-12);
    EXPECT_EQ(huge, QSizeF(kMaxViewExtent, kMaxViewExtent));
    EXPECT_EQ(turnedSize(QSizeF(200, 100), 1), QSizeF(100, 200));
    EXPECT_EQ(turnedSize(QSizeF(200, 100), 2), QSizeF(200, 100));
    EXPECT_EQ(turnedSize(QSizeF(200, 100), 3), QSizeF(100, 200));
}

// Marks in turned views: each expectation is worked out by hand from where the turned
// picture's corners go (a counter-clockwise quarter turn takes the bottom-right corner of the
// picture to the top-right corner of the view).
TEST(ViewMapping, PicturePointsInTurnedViews) {
    const struct {
        const char* what;
        ViewOrientation o;
        QPointF picture;
        QPointF view;
    } cases[] = {
        {"unturned, scale 2", orientation(2, 0, {400, 300}), {100, 60}, {50, 30}},
        {"90, scale 2", orientation(2, 1, {300, 400}), {100, 60}, {270, 50}},
        {"-90, scale 2", orientation(2, 3, {400, 300}), {100, 60}, {30, 250}},
        {"180, scale 1", orientation(1, 2, {200, 100}), {10, 20}, {190, 80}},
        {"90: bottom-right corner goes top-right",
         orientation(1, 1, {100, 200}),
         {200, 0},
         {100, 200}},
        {"-90: bottom-right corner goes bottom-left",
         orientation(1, 3, {100, 200}),
         {200, 0},
         {0, 0}},
        {"mirrored left-right", orientation(1, 0, {200, 100}, true), {10, 20}, {190, 20}},
        {"mirrored top-bottom", orientation(1, 0, {200, 100}, false, true), {10, 20}, {10, 80}},
        {"mirrored both, scale 2", orientation(2, 0, {100, 50}, true, true), {10, 20}, {95, 40}},
        // 200 x 100 picture mirrored left-right gives (190, 20), turned 90 it is drawn at
        // (100 - 20, 190) in the 100 x 200 view.
        {"mirrored then turned 90", orientation(1, 1, {100, 200}, true), {10, 20}, {80, 190}},
        // Mirrored top-bottom gives (10, 80); turned -90 it is at (80, 200 - 10).
        {"mirrored then turned -90",
         orientation(1, 3, {100, 200}, false, true),
         {10, 20},
         {80, 190}},
        {"no zoom yet counts as 1", orientation(0, 0, {200, 100}), {10, 20}, {10, 20}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectNear(viewFromPicture(c.picture, c.o), c.view);
        expectNear(pictureFromView(c.view, c.o), c.picture);
    }
}

TEST(ViewMapping, EveryOrientationRoundTrips) {
    const QPointF points[] = {{0, 0}, {12.25, 7.5}, {799, 1}, {400, 599.5}};
    for (int turns = 0; turns < 4; ++turns) {
        for (int flips = 0; flips < 4; ++flips) {
            for (double scale : {0.25, 1.0, 3.0}) {
                const QSizeF view = viewSizeFor(turnedSize(QSizeF(800, 600), turns), scale);
                const ViewOrientation o = orientation(scale, turns, view, flips & 1, flips & 2);
                EXPECT_EQ(pictureSizeOf(o), QSizeF(800, 600));
                for (QPointF p : points) {
                    SCOPED_TRACE(testing::Message()
                                 << "turns " << turns << " flips " << flips << " scale " << scale);
                    const QPointF v = viewFromPicture(p, o);
                    EXPECT_GE(v.x(), -1e-9);
                    EXPECT_LE(v.x(), view.width() + 1e-9);
                    EXPECT_GE(v.y(), -1e-9);
                    EXPECT_LE(v.y(), view.height() + 1e-9);
                    expectNear(pictureFromView(v, o), p);
                }
            }
        }
    }
}

TEST(ViewMapping, Rectangles) {
    const struct {
        const char* what;
        ViewOrientation o;
        QRectF picture;
        QRectF view;
    } cases[] = {
        {"90, scale 1", orientation(1, 1, {300, 400}), {10, 20, 30, 40}, {240, 10, 40, 30}},
        {"-90, scale 1", orientation(1, 3, {300, 400}), {10, 20, 30, 40}, {20, 360, 40, 30}},
        {"unturned, zoom 2", orientation(2, 0, {400, 300}), {20, 40, 60, 80}, {10, 20, 30, 40}},
        {"mirrored left-right",
         orientation(1, 0, {200, 100}, true),
         {10, 20, 30, 40},
         {160, 20, 30, 40}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectNear(viewFromPicture(c.picture, c.o), c.view);
        expectNear(pictureFromView(c.view, c.o), c.picture);
    }
}

TEST(ViewMapping, CornerMosaicLayout) {
    const CornerMosaicLayout layout = cornerMosaicLayout(QSizeF(320, 320), QSizeF(1000, 800));
    EXPECT_EQ(layout.tileSize, QSizeF(100, 100));
    const double destination[] = {0, 110, 220};
    const double sourceX[] = {0, 450, 900};
    const double sourceY[] = {0, 350, 700};
    int i = 0;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column, ++i) {
            SCOPED_TRACE(testing::Message() << "row " << row << " column " << column);
            EXPECT_EQ(layout.tiles[i].destination, QPointF(destination[column], destination[row]));
            EXPECT_EQ(layout.tiles[i].source, QPointF(sourceX[column], sourceY[row]));
        }
    }
}

TEST(ViewMapping, CornerMosaicOnlyForAViewSmallerBothWays) {
    EXPECT_TRUE(showsCornerMosaic(QSizeF(320, 320), QSizeF(1000, 800)));
    EXPECT_FALSE(showsCornerMosaic(QSizeF(320, 320), QSizeF(320, 800)));
    EXPECT_FALSE(showsCornerMosaic(QSizeF(320, 320), QSizeF(1000, 300)));
}

TEST(ViewMapping, TinyViewsGiveEmptyTilesNeverNegativeOnes) {
    for (QSizeF view : {QSizeF(0, 0), QSizeF(10, 15), QSizeF(20, 20), QSizeF(-5, 30)}) {
        const CornerMosaicLayout layout = cornerMosaicLayout(view, QSizeF(1000, 800));
        EXPECT_GE(layout.tileSize.width(), 0) << view.width();
        EXPECT_GE(layout.tileSize.height(), 0) << view.height();
        for (const MosaicTile& tile : layout.tiles) {
            EXPECT_GE(tile.source.x(), 0);
            EXPECT_GE(tile.source.y(), 0);
            EXPECT_LE(tile.source.x() + layout.tileSize.width(), 1000);
            EXPECT_LE(tile.source.y() + layout.tileSize.height(), 800);
        }
    }
    // 26 points across: (26 - 20) / 3 = 2 points per tile.
    EXPECT_EQ(cornerMosaicLayout(QSizeF(26, 26), QSizeF(1000, 800)).tileSize, QSizeF(2, 2));
}
