// The star detail read back pixel by pixel: which rendered pixels are magnified where, the
// crosshair on the star, the circles' radii and the profiles' heights.
#include "GraphPixels.h"
#include "Settings.h"
#include "StarDetail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace GraphPixels;

namespace {

// A rendered picture whose every pixel has its own colour: red = 4 x column, green =
// 4 x upward row (rows counted upward from the bottom edge), blue = 200.
QImage labelledPicture(int w, int h) {
    QImage picture(w, h, QImage::Format_RGB32);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            picture.setPixel(x, row, qRgb(4 * x, 4 * (h - 1 - row), 200));
    return picture;
}

QImage blackPicture(int w, int h) {
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(Qt::black);
    return picture;
}

// The detail's pixel at (x, yUp) as an opaque colour; transparent pixels give (0, 0, 0, 0).
QRgb detailAt(const QImage& detail, int x, int yUp) {
    return detail.pixel(x, detail.height() - 1 - yUp);
}

const StarDetail::LevelAt noLevels;

}  // namespace

TEST(StarDetail, MagnifiesTheNineByNineSquareAroundTheStar) {
    // A star at (10.3, 20.7): centre pixel (10, 20), square from (6, 16) to (14, 24), star
    // at (86, 94) in the detail.
    QImage detail =
        drawStarDetail(labelledPicture(40, 40), QPointF(10.3, 20.7), std::nullopt, false, noLevels);
    ASSERT_EQ(detail.size(), QSize(180, 180));
    for (int j = 0; j < 9; ++j) {
        for (int i = 0; i < 9; ++i) {
            const QRgb expected = qRgb(4 * (6 + i), 4 * (16 + j), 200);
            // Two corners of each 20 x 20 block, away from the crosshair lines.
            for (QPoint offset : {QPoint(2, 2), QPoint(17, 17), QPoint(2, 17)}) {
                const int x = 20 * i + offset.x(), y = 20 * j + offset.y();
                if (std::abs(x - 86) <= 2 || std::abs(y - 94) <= 2) continue;
                EXPECT_EQ(detailAt(detail, x, y), expected)
                    << i << "," << j << " at " << x << "," << y;
            }
        }
    }
    // The crosshair crosses at the star, arms of 50 points (seen on a black picture).
    detail =
        drawStarDetail(blackPicture(40, 40), QPointF(10.3, 20.7), std::nullopt, false, noLevels);
    EXPECT_NEAR(strokeHeights(detail, 86 - 45, greenColor()).at(0), 94, 0.6);
    EXPECT_NEAR(strokeHeights(detail, 86 + 45, greenColor()).at(0), 94, 0.6);
    EXPECT_TRUE(strokeHeights(detail, 86 - 55, greenColor()).empty());
    // The vertical arm: one run in the star's column, from 44 to 144.
    ASSERT_EQ(strokeHeights(detail, 86, greenColor()).size(), 1u);
    EXPECT_NEAR(strokeHeights(detail, 86, greenColor()).at(0), 94, 1);
}

TEST(StarDetail, BeyondThePictureEdgeStaysTransparent) {
    // A star at (1.2, 1.2): centre pixel (1, 1), square from (-3, -3): three columns and
    // three rows of 20 points lie outside the picture.
    QImage detail =
        drawStarDetail(labelledPicture(40, 40), QPointF(1.2, 1.2), std::nullopt, false, noLevels);
    EXPECT_EQ(qAlpha(detailAt(detail, 10, 150)), 0);
    EXPECT_EQ(qAlpha(detailAt(detail, 150, 10)), 0);
    EXPECT_EQ(qAlpha(detailAt(detail, 59, 150)), 0);
    EXPECT_EQ(detailAt(detail, 62, 150), qRgb(0, 4 * 4, 200));
    EXPECT_EQ(detailAt(detail, 170, 170), qRgb(4 * 5, 4 * 5, 200));
    // A star far off the picture: all transparent but the crosshair.
    detail =
        drawStarDetail(labelledPicture(40, 40), QPointF(500, -300), std::nullopt, false, noLevels);
    EXPECT_EQ(qAlpha(detailAt(detail, 20, 20)), 0);
}

TEST(StarDetail, CirclesHaveTheDiametersOfFwhmAndHfd) {
    // Star at (10.5, 20.5): centre pixel (10, 20), star at (90, 90). FWHM 3 -> radius 30,
    // HFD 5 -> radius 50, looked for along a line at 30 degrees.
    QImage detail = drawStarDetail(blackPicture(40, 40), QPointF(10.5, 20.5), PSFResult{3, 5, 1000},
                                   false, noLevels);
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    auto along = [&](double r) { return QPointF(90 + r * c, 90 + r * s); };
    EXPECT_TRUE(strokedNear(detail, along(30).x(), along(30).y(), blueColor()));
    EXPECT_TRUE(strokedNear(detail, along(50).x(), along(50).y(), redColor()));
    for (double r : {20.0, 40.0, 60.0}) {
        EXPECT_FALSE(strokedNear(detail, along(r).x(), along(r).y(), blueColor())) << r;
        EXPECT_FALSE(strokedNear(detail, along(r).x(), along(r).y(), redColor())) << r;
    }
}

TEST(StarDetail, NoCircleWithoutAUsableWidth) {
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
    for (std::optional<PSFResult> m :
         {std::optional<PSFResult>(), std::optional<PSFResult>(PSFResult{0, -1, 5}),
          std::optional<PSFResult>(PSFResult{notANumber, notANumber, notANumber})}) {
        QImage detail =
            drawStarDetail(blackPicture(40, 40), QPointF(10.5, 20.5), m, false, noLevels);
        for (int y = 0; y < 180; y += 3)
            for (int x = 0; x < 180; x += 3) {
                ASSERT_FALSE(coverage(detail, x, y, blueColor()) > 0) << x << "," << y;
                ASSERT_FALSE(coverage(detail, x, y, redColor()) > 0) << x << "," << y;
            }
    }
}

TEST(StarDetail, ProfilesSpanTheLevelsOfTheNeighbourhood) {
    // Levels 100 + 10 dx + dy around (10, 20): lo = 56 and hi = 144 over the 81 pixels. The row
    // profile (blue) at ((dx + 4) x 20 + 10, (L - lo) x 160 / 88 + 10); the column profile
    // (red) likewise over dy.
    StarDetail::LevelAt levels = [](double x, double y) -> std::optional<int64_t> {
        return 100 + 10 * (int64_t(x) - 10) + (int64_t(y) - 20);
    };
    QImage detail = drawStarDetail(blackPicture(40, 40), QPointF(10.5, 20.5), PSFResult{3, 5, 1000},
                                   true, levels);
    for (int d = -4; d <= 4; ++d) {
        if (d == 0) continue;  // both profiles and the crosshair meet at the star
        const double x = (d + 4) * 20 + 10;
        EXPECT_TRUE(strokedNear(detail, x, (100 + 10 * d - 56) * 160.0 / 88 + 10, blueColor()))
            << d;
        EXPECT_TRUE(strokedNear(detail, x, (100 + d - 56) * 160.0 / 88 + 10, redColor())) << d;
    }
    // No circles with profiles.
    EXPECT_FALSE(strokedNear(detail, 90 + 30 * std::cos(M_PI / 6), 90 + 30 * std::sin(M_PI / 6),
                             blueColor()));
}

TEST(StarDetail, ProfilesLeaveOutPixelsWithoutLevels) {
    // Columns left of x = 8 have no level: the row profile starts at dx = -2 (x = 50); lo and
    // hi come from the rest (lo = 100 - 20 - 4 = 76, hi = 144).
    StarDetail::LevelAt levels = [](double x, double y) -> std::optional<int64_t> {
        if (x < 8) return std::nullopt;
        return 100 + 10 * (int64_t(x) - 10) + (int64_t(y) - 20);
    };
    QImage detail =
        drawStarDetail(blackPicture(40, 40), QPointF(10.5, 20.5), std::nullopt, true, levels);
    EXPECT_TRUE(strokedNear(detail, 50, (80 - 76) * 160.0 / 68 + 10, blueColor()));
    EXPECT_TRUE(strokedNear(detail, 170, (140 - 76) * 160.0 / 68 + 10, blueColor()));
    for (int x = 0; x < 45; ++x)
        for (int y = 0; y < 180; ++y)
            ASSERT_FALSE(coverage(detail, x, y, blueColor()) > 0) << x << "," << y;
}

TEST(StarDetail, AFlatNeighbourhoodLiesOnTheBottomMargin) {
    // Seen off the picture, where the detail is transparent: whatever a column away from the
    // crosshair holds is profile.
    auto opaqueRows = [](const QImage& detail, int x) {
        std::vector<int> rows;
        for (int y = 0; y < detail.height(); ++y)
            if (qAlpha(detailAt(detail, x, y)) > 0) rows.push_back(y);
        return rows;
    };
    StarDetail::LevelAt flat = [](double, double) -> std::optional<int64_t> { return 77; };
    QImage detail =
        drawStarDetail(blackPicture(40, 40), QPointF(500.5, 500.5), std::nullopt, true, flat);
    for (int x : {15, 30, 160}) {
        std::vector<int> rows = opaqueRows(detail, x);
        ASSERT_FALSE(rows.empty()) << x;
        EXPECT_GE(rows.front(), 8) << x;
        EXPECT_LE(rows.back(), 11) << x;
    }
    // Without any level there is no profile at all.
    StarDetail::LevelAt none = [](double, double) -> std::optional<int64_t> { return {}; };
    detail = drawStarDetail(blackPicture(40, 40), QPointF(500.5, 500.5), std::nullopt, true, none);
    EXPECT_TRUE(opaqueRows(detail, 15).empty());
}

TEST(StarDetail, NothingToDrawGivesANullPicture) {
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(drawStarDetail(QImage(), QPointF(10, 10), std::nullopt, false, noLevels).isNull());
    EXPECT_TRUE(
        drawStarDetail(blackPicture(8, 8), QPointF(notANumber, 1), std::nullopt, false, noLevels)
            .isNull());
    EXPECT_TRUE(drawStarDetail(blackPicture(8, 8), QPointF(1e300, 1), std::nullopt, false, noLevels)
                    .isNull());
}

TEST(StarDetail, ImageOverloadReadsTheRenderedPictureAndTheProfileSetting) {
    // A 16-bit raw blob; its rendered picture stands in the image's cache.
    registerImageReaders();
    QByteArray blob("RAW2", 4);
    for (uint32_t v : {40u, 40u})
        for (int i = 0; i < 4; ++i)
            blob.append(char((v >> (8 * i)) & 0xff));
    blob.append(QByteArray(40 * 40 * 2, '\0'));
    ImagePtr image = Image::create(blob, ".raw");
    ASSERT_TRUE(image->hasPicture());
    image->cached = blackPicture(40, 40);
    if (image->renderedImage().isNull())
        GTEST_SKIP() << "this build renders no picture for a black frame";

    userDefaults().removeObject("showStarProfile");
    QImage detail = drawStarDetail(*image, QPointF(10.5, 20.5), PSFResult{3, 5, 1000});
    ASSERT_EQ(detail.size(), QSize(180, 180));
    const QPointF on30(90 + 30 * std::cos(M_PI / 6), 90 + 30 * std::sin(M_PI / 6));
    EXPECT_TRUE(strokedNear(detail, on30.x(), on30.y(), blueColor()));

    // With profiles on, no circles (the flat black frame's profiles lie on the margin).
    userDefaults().setObject("showStarProfile", true);
    detail = drawStarDetail(*image, QPointF(10.5, 20.5), PSFResult{3, 5, 1000});
    userDefaults().removeObject("showStarProfile");
    EXPECT_FALSE(strokedNear(detail, on30.x(), on30.y(), blueColor()));
}

TEST(StarDetail, ProfilesOfAStarReadThroughTheImage) {
    // A star elongated in x (sigma 1.6 across, 1.0 up) centred on pixel (20, 20) of a 16-bit
    // raw blob. Its levels are the samples shifted down by 8 bits; the row profile runs
    // through the star's row and the column profile through its column.
    registerImageReaders();
    const int size = 40;
    auto sample = [](int x, int yUp) {
        const double dx = x + 0.5 - 20.5, dy = yUp + 0.5 - 20.5;
        return uint16_t(std::lround(
            2000 + 30000 * std::exp(-dx * dx / (2 * 1.6 * 1.6) - dy * dy / (2 * 1.0 * 1.0))));
    };
    QByteArray blob("RAW2", 4);
    for (uint32_t v : {uint32_t(size), uint32_t(size)})
        for (int i = 0; i < 4; ++i)
            blob.append(char((v >> (8 * i)) & 0xff));
    for (int row = 0; row < size; ++row)
        for (int x = 0; x < size; ++x) {
            const uint16_t s = sample(x, size - 1 - row);
            blob.append(char(s & 0xff));
            blob.append(char(s >> 8));
        }
    ImagePtr image = Image::create(blob, ".raw");
    ASSERT_TRUE(image->hasPicture());
    if (!image->valueAt(20.5, 20.5))
        GTEST_SKIP() << "the image's pixel readout is not in this build";
    image->cached = blackPicture(size, size);

    int lo = 65535, hi = 0;
    for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx) {
            lo = std::min(lo, sample(20 + dx, 20 + dy) >> 8);
            hi = std::max(hi, sample(20 + dx, 20 + dy) >> 8);
        }
    auto height = [&](int level) { return (level - lo) * 160.0 / (hi - lo) + 10; };

    userDefaults().setObject("showStarProfile", true);
    QImage detail = drawStarDetail(*image, QPointF(20.5, 20.5), std::nullopt);
    userDefaults().removeObject("showStarProfile");
    for (int d : {-4, -3, -2, -1, 1, 2, 3, 4}) {
        const double x = (d + 4) * 20 + 10;
        EXPECT_TRUE(strokedNear(detail, x, height(sample(20 + d, 20) >> 8), blueColor())) << d;
        EXPECT_TRUE(strokedNear(detail, x, height(sample(20, 20 + d) >> 8), redColor())) << d;
    }
}
