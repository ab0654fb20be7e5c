// rotatedImage: sizes and the position of every pixel for quarter turns and flips, as seen on
// screen (a positive angle turns counter-clockwise).
#include "Image.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// A picture whose every pixel has its own colour.
QImage numbered(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(20 + 30 * x, 20 + 30 * y, 200));
    return image;
}

struct Case {
    const char* name;
    bool flipH, flipV;
    double angle;
    bool swapsSize;
    // Where source pixel (x, y) lands in a w x h source (y downward, as stored).
    std::function<QPoint(int x, int y, int w, int h)> target;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class RotatedImage : public ::testing::TestWithParam<Case> {};

TEST_P(RotatedImage, MovesEveryPixelWhereTheTurnAndFlipsPutIt) {
    const Case c = GetParam();
    const int w = 6, h = 3;
    const QImage source = numbered(w, h);
    const QImage result = rotatedImage(c.flipH, c.flipV, c.angle, source);
    ASSERT_EQ(result.size(), c.swapsSize ? QSize(h, w) : QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QPoint t = c.target(x, y, w, h);
            EXPECT_EQ(result.pixel(t), source.pixel(x, y))
                << "source " << x << "," << y << " -> " << t.x() << "," << t.y();
        }
}

INSTANTIATE_TEST_SUITE_P(
    QuarterTurnsAndFlips, RotatedImage,
    ::testing::Values(
        // Counter-clockwise: the right edge becomes the top edge.
        Case{"Left90", false, false, 90, true,
             [](int x, int y, int w, int) { return QPoint(y, w - 1 - x); }},
        Case{"Right90", false, false, -90, true,
             [](int x, int y, int, int h) { return QPoint(h - 1 - y, x); }},
        Case{"Half", false, false, 180, false,
             [](int x, int y, int w, int h) { return QPoint(w - 1 - x, h - 1 - y); }},
        Case{"FlipHorizontally", true, false, 0, false,
             [](int x, int y, int w, int) { return QPoint(w - 1 - x, y); }},
        Case{"FlipVertically", false, true, 0, false,
             [](int x, int y, int, int h) { return QPoint(x, h - 1 - y); }},
        Case{"BothFlipsAreAHalfTurn", true, true, 0, false,
             [](int x, int y, int w, int h) { return QPoint(w - 1 - x, h - 1 - y); }},
        // The flip applies to the picture before it turns: mirrored then turned left is the
        // transpose.
        Case{"FlipHorizontallyThenLeft90", true, false, 90, true,
             [](int x, int y, int, int) { return QPoint(y, x); }},
        Case{"FlipVerticallyThenLeft90", false, true, 90, true,
             [](int x, int y, int w, int h) { return QPoint(h - 1 - y, w - 1 - x); }}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(RotatedImageSize, QuarterTurnOfAWidePictureIsTall) {
    const QImage source = numbered(200, 100);
    EXPECT_EQ(rotatedImage(false, false, 90, source).size(), QSize(100, 200));
    EXPECT_EQ(rotatedImage(false, false, -90, source).size(), QSize(100, 200));
    EXPECT_EQ(rotatedImage(false, false, 270, source).size(), QSize(100, 200));
    EXPECT_EQ(rotatedImage(true, true, 0, source).size(), QSize(200, 100));
    EXPECT_EQ(rotatedImage(true, false, 180, source).size(), QSize(200, 100));
}

TEST(RotatedImageSize, OtherAnglesTurnTheSizeVector) {
    // (200, 100) turned by 45 degrees: (200 cos - 100 sin, 200 sin + 100 cos) = (70.7, 212.1).
    const QImage result = rotatedImage(false, false, 45, numbered(200, 100));
    EXPECT_EQ(result.size(), QSize(71, 212));
}

TEST(RotatedImageSize, NoTurnAndNoFlipReturnsThePictureItself) {
    const QImage source = numbered(20, 10);
    const QImage result = rotatedImage(false, false, 0, source);
    EXPECT_EQ(result.cacheKey(), source.cacheKey());
}

TEST(RotatedImageSize, NullPictureStaysNull) {
    EXPECT_TRUE(rotatedImage(true, false, 90, QImage()).isNull());
}

}  // namespace
