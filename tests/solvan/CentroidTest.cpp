// solvan_selection_centroid, solvan_selection_centroid_repeat and solvan_frame_centroid:
// synthetic stars of known centre in every pixel layout, the [i, i + 1) convention, and the
// rejections and "no star" answers that leave the caller's position alone.
#include "SyntheticFrame.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const RawLayout& layoutOf(solvan_raw_type type) {
    for (const RawLayout& l : allRawLayouts())
        if (l.type == type) return l;
    throw std::logic_error("unknown layout");
}

struct Selection {
    int result;
    double x, y;
    solvan_digest digest;
};

Selection select(const RawFrame& f, double x, double y, int radius) {
    Selection s{-1, x, y, {}};
    s.digest.snr = 42;
    s.result = solvan_selection_centroid(f.layout.type, f.data(), &s.x, &s.y, radius, f.width,
                                         f.height, &s.digest);
    return s;
}

// ---- Synthetic Gaussian stars.

struct StarCase {
    RawLayout layout;
    double sigma;
    double x0, y0;  // star centre, pixel i centred on i
};

void PrintTo(const StarCase& c, std::ostream* os) {
    *os << c.layout.name << " sigma " << c.sigma << " at (" << c.x0 << ", " << c.y0 << ")";
}

class GaussianStarCentroid : public ::testing::TestWithParam<StarCase> {};

TEST_P(GaussianStarCentroid, SelectionFindsTheCentreFromANearbyClick) {
    const StarCase c = GetParam();
    const RawFrame frame = gaussianStar(c.layout, 64, 60, c.x0, c.y0, c.sigma, levelsFor(c.layout));
    // The centroid counts pixel i as [i, i + 1): the star's centre lies at x0 + 0.5.
    const double trueX = c.x0 + 0.5, trueY = c.y0 + 0.5;
    for (auto [dx, dy] : {std::pair{0.0, 0.0}, {2.6, -1.7}, {-3.2, 2.9}}) {
        SCOPED_TRACE(testing::Message() << "start offset " << dx << ", " << dy);
        const Selection s = select(frame, trueX + dx, trueY + dy, 10);
        ASSERT_EQ(s.result, SOLVAN_OK);
        EXPECT_NEAR(s.x, trueX, 0.05);
        EXPECT_NEAR(s.y, trueY, 0.05);
        EXPECT_EQ(s.digest.algorithm, uint32_t(SOLVAN_DIGEST_CENTROID));
        EXPECT_EQ(s.digest.width, 64);
        EXPECT_EQ(s.digest.height, 60);
        EXPECT_EQ(s.digest.centroid_x, s.x);
        EXPECT_EQ(s.digest.centroid_y, s.y);
        EXPECT_EQ(s.digest.snr, 42);  // not the centroid's to write
    }
}

TEST_P(GaussianStarCentroid, FrameCentroidOfAStarOnBlackFindsItsCentre) {
    const StarCase c = GetParam();
    const StarLevels levels = levelsFor(c.layout);
    const RawFrame frame =
        gaussianStar(c.layout, 64, 60, c.x0, c.y0, c.sigma, {0, levels.amplitude});
    solvan_digest digest{};
    ASSERT_EQ(solvan_frame_centroid(c.layout.type, frame.data(), 64, 60, &digest), SOLVAN_OK);
    EXPECT_NEAR(digest.centroid_x, c.x0 + 0.5, 0.05);
    EXPECT_NEAR(digest.centroid_y, c.y0 + 0.5, 0.05);
    EXPECT_EQ(digest.algorithm, uint32_t(SOLVAN_DIGEST_CENTROID));
    EXPECT_EQ(digest.width, 64);
    EXPECT_EQ(digest.height, 60);
}

std::vector<StarCase> starCases() {
    std::vector<StarCase> cases;
    const double centres[][2] = {{31.0, 28.0}, {30.3, 27.8}, {33.55, 25.45}, {29.9, 31.2}};
    int k = 0;
    for (const RawLayout& l : allRawLayouts())
        for (double sigma : {1.2, 1.6, 2.0, 2.5, 3.0}) {
            const auto& c = centres[k++ % 4];
            cases.push_back({l, sigma, c[0], c[1]});
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, GaussianStarCentroid, ::testing::ValuesIn(starCases()),
                         [](const ::testing::TestParamInfo<StarCase>& info) {
                             return std::string(info.param.layout.name) + "_sigma" +
                                    std::to_string(int(info.param.sigma * 10));
                         });

// ---- The selection window.

TEST(SelectionCentroid, LoneLitColourPixelLiesAtItsColumnPlusOneHalf) {
    for (solvan_raw_type type :
         {SOLVAN_RAW_RGB24, SOLVAN_RAW_RGBA32, SOLVAN_RAW_ARGB32, SOLVAN_RAW_RGB48}) {
        SCOPED_TRACE(layoutOf(type).name);
        for (int i : {0, 3, 10, 20}) {
            RawFrame frame(layoutOf(type), 40, 40);
            frame.set(15 - 10 + i, 17, 90, 80, 70);  // window column i, centre (15, 17), r 10
            const Selection s = select(frame, 15.2, 16.8, 10);
            ASSERT_EQ(s.result, SOLVAN_OK);
            EXPECT_DOUBLE_EQ(s.x, 15 - 10 + i + 0.5);
            EXPECT_DOUBLE_EQ(s.y, 17.5);
        }
    }
}

TEST(SelectionCentroid, LoneLitGreyPixelIsAHotPixelAndNoStar) {
    for (solvan_raw_type type : {SOLVAN_RAW_MONO8, SOLVAN_RAW_MONO16}) {
        RawFrame frame(layoutOf(type), 40, 40);
        frame.set(18, 17, 200);
        const Selection s = select(frame, 15, 17, 10);
        EXPECT_EQ(s.result, SOLVAN_NO_STAR);
        EXPECT_EQ(s.x, 15);
        EXPECT_EQ(s.y, 17);
    }
}

TEST(SelectionCentroid, UniformOrBlackWindowIsNoStarAndChangesNothing) {
    for (const RawLayout& l : allRawLayouts()) {
        SCOPED_TRACE(l.name);
        for (uint32_t level : {0u, 5u, 100u}) {
            RawFrame frame(l, 30, 30);
            frame.fill([&](int, int) { return level; });
            solvan_digest digest{};
            digest.algorithm = 77;
            double x = 14.3, y = 15.6;
            EXPECT_EQ(solvan_selection_centroid(l.type, frame.data(), &x, &y, 10, 30, 30, &digest),
                      SOLVAN_NO_STAR);
            EXPECT_EQ(x, 14.3);
            EXPECT_EQ(y, 15.6);
            EXPECT_EQ(digest.algorithm, 77u);
        }
    }
}

TEST(SelectionCentroid, RadiusTenNeedsTwentyTwoPixels) {
    const RawLayout& rgb = layoutOf(SOLVAN_RAW_RGB24);
    RawFrame small(rgb, 21, 40);
    small.set(10, 20, 100);
    EXPECT_EQ(select(small, 10, 20, 10).result, SOLVAN_FAILED);
    RawFrame low(rgb, 40, 21);
    low.set(20, 10, 100);
    EXPECT_EQ(select(low, 20, 10, 10).result, SOLVAN_FAILED);
    RawFrame enough(rgb, 22, 22);
    enough.set(11, 10, 100);
    EXPECT_EQ(select(enough, 10.6, 10, 10).result, SOLVAN_OK);      // centre 11: columns 1 .. 21
    EXPECT_EQ(select(enough, 10.4, 10, 10).result, SOLVAN_OK);      // centre 10: columns 0 .. 20
    EXPECT_EQ(select(enough, 11.5, 10, 10).result, SOLVAN_FAILED);  // centre 12: column 22 is out
}

TEST(SelectionCentroid, WindowOutsideTheFrameIsRejectedWithNothingWritten) {
    const RawLayout& rgb = layoutOf(SOLVAN_RAW_RGB24);
    RawFrame frame(rgb, 40, 40);
    frame.set(5, 5, 100);
    for (auto [x, y] : {std::pair{4.4, 20.0},
                        {20.0, 4.4},
                        {35.5, 20.0},
                        {20.0, 29.6},
                        {-1.0, -1.0},
                        {NAN, 20.0},
                        {20.0, INFINITY},
                        {1e12, 20.0}}) {
        Selection s = select(frame, x, y, 10);
        EXPECT_EQ(s.result, SOLVAN_FAILED) << x << ", " << y;
        if (!std::isnan(x)) {
            EXPECT_EQ(s.x, x);
        }
        EXPECT_EQ(s.y, y);
    }
}

TEST(SelectionCentroid, BadArgumentsAreRejected) {
    RawFrame frame(layoutOf(SOLVAN_RAW_RGB24), 40, 40);
    frame.set(20, 20, 100);
    solvan_digest digest{};
    double x = 20, y = 20;
    EXPECT_EQ(solvan_selection_centroid(0x36574153u, frame.data(), &x, &y, 10, 40, 40, &digest),
              SOLVAN_FAILED);  // unknown type
    EXPECT_EQ(solvan_selection_centroid(SOLVAN_RAW_RGB24, nullptr, &x, &y, 10, 40, 40, &digest),
              SOLVAN_FAILED);
    EXPECT_EQ(
        solvan_selection_centroid(SOLVAN_RAW_RGB24, frame.data(), &x, &y, 10, 40, 40, nullptr),
        SOLVAN_FAILED);
    EXPECT_EQ(
        solvan_selection_centroid(SOLVAN_RAW_RGB24, frame.data(), nullptr, &y, 10, 40, 40, &digest),
        SOLVAN_FAILED);
    EXPECT_EQ(
        solvan_selection_centroid(SOLVAN_RAW_RGB24, frame.data(), &x, &y, -1, 40, 40, &digest),
        SOLVAN_FAILED);
    EXPECT_EQ(solvan_selection_centroid(SOLVAN_RAW_RGB24, frame.data(), &x, &y, 2000000000, 40, 40,
                                        &digest),
              SOLVAN_FAILED);
    EXPECT_EQ(x, 20);
    EXPECT_EQ(y, 20);
}

// ---- The repeat routine.

RawFrame* frameToLight = nullptr;
int selectionLines = 0;
// Lights a bright block into the frame when the first run reports its threshold: that run has
// already read the frame and answers "no star"; the later runs see the block.
void lightStarOnFirstLine(const char*) {
    if (++selectionLines == 1 && frameToLight)
        for (int y = 19; y <= 21; ++y)
            for (int x = 21; x <= 23; ++x)
                frameToLight->set(x, y, 200, 200, 200);
}

TEST(SelectionCentroidRepeat, ReturnsTheLastRunsResult) {
    RawFrame frame(layoutOf(SOLVAN_RAW_RGB24), 40, 40);
    frameToLight = &frame;
    selectionLines = 0;
    solvan_log_message_handler = lightStarOnFirstLine;
    solvan_set_log_level(SOLVAN_LOG_DEBUG);
    solvan_digest digest{};
    double x = 20, y = 20;
    const int result = solvan_selection_centroid_repeat(SOLVAN_RAW_RGB24, frame.data(), &x, &y, 10,
                                                        40, 40, &digest, 3);
    solvan_set_log_level(SOLVAN_LOG_ERROR);
    solvan_log_message_handler = nullptr;
    frameToLight = nullptr;
    EXPECT_EQ(selectionLines, 3);
    EXPECT_EQ(result, SOLVAN_OK);
    EXPECT_DOUBLE_EQ(x, 22.5);
    EXPECT_DOUBLE_EQ(y, 20.5);
}

TEST(SelectionCentroidRepeat, EachRunStartsWhereThePreviousEnded) {
    // A block lit near the window's edge: the first run moves the position onto it, the second
    // window no longer fits in the frame, and that failure is what the routine returns.
    RawFrame frame(layoutOf(SOLVAN_RAW_RGB24), 24, 24);
    for (int y = 10; y <= 12; ++y)
        for (int x = 19; x <= 21; ++x)
            frame.set(x, y, 100);
    solvan_digest digest{};
    double x = 11, y = 11;
    EXPECT_EQ(solvan_selection_centroid_repeat(SOLVAN_RAW_RGB24, frame.data(), &x, &y, 10, 24, 24,
                                               &digest, 2),
              SOLVAN_FAILED);
    EXPECT_DOUBLE_EQ(x, 20.5);  // where the first run left it
    EXPECT_DOUBLE_EQ(y, 11.5);
}

TEST(SelectionCentroidRepeat, CountBelowOneIsRejected) {
    RawFrame frame(layoutOf(SOLVAN_RAW_RGB24), 40, 40);
    frame.set(20, 20, 100);
    solvan_digest digest{};
    double x = 20, y = 20;
    for (int count : {0, -3})
        EXPECT_EQ(solvan_selection_centroid_repeat(SOLVAN_RAW_RGB24, frame.data(), &x, &y, 10, 40,
                                                   40, &digest, count),
                  SOLVAN_FAILED);
    EXPECT_EQ(x, 20);
    EXPECT_EQ(solvan_selection_centroid_repeat(SOLVAN_RAW_RGB24, frame.data(), &x, &y, 10, 40, 40,
                                               &digest, 1),
              SOLVAN_OK);
    EXPECT_DOUBLE_EQ(x, 20.5);
}

// ---- The frame centroid.

TEST(FrameCentroid, LoneCentrePixelOfAThreeByThreeFrame) {
    for (const RawLayout& l : allRawLayouts()) {
        SCOPED_TRACE(l.name);
        RawFrame frame(l, 3, 3);
        frame.set(1, 1, 50);
        solvan_digest digest{};
        ASSERT_EQ(solvan_frame_centroid(l.type, frame.data(), 3, 3, &digest), SOLVAN_OK);
        EXPECT_DOUBLE_EQ(digest.centroid_x, 1.5);
        EXPECT_DOUBLE_EQ(digest.centroid_y, 1.5);
    }
}

TEST(FrameCentroid, WeighsEveryPixelBackgroundIncluded) {
    // The background pulls towards the frame's middle: the expectation is the plain
    // intensity-weighted mean of 1-based positions, less one half.
    const RawLayout& l = layoutOf(SOLVAN_RAW_MONO16);
    const RawFrame frame = gaussianStar(l, 40, 30, 8.2, 21.7, 1.5, {300, 20000});
    double s = 0, sx = 0, sy = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const double r2 = (x - 8.2) * (x - 8.2) + (y - 21.7) * (y - 21.7);
            const double v = std::lround(300 + 20000 * std::exp(-r2 / (2 * 1.5 * 1.5)));
            s += v, sx += v * (x + 1), sy += v * (y + 1);
        }
    solvan_digest digest{};
    ASSERT_EQ(solvan_frame_centroid(l.type, frame.data(), 40, 30, &digest), SOLVAN_OK);
    EXPECT_NEAR(digest.centroid_x, sx / s - 0.5, 1e-9);
    EXPECT_NEAR(digest.centroid_y, sy / s - 0.5, 1e-9);
}

TEST(FrameCentroid, BrightFortyEightBitFrameDoesNotOverflowItsSums) {
    // 256 x 256 pixels of channel sum 90000 already pass 2^32 in total; a 32-bit sum would
    // wrap and misplace the threshold and the centroid.
    const RawLayout& l = layoutOf(SOLVAN_RAW_RGB48);
    RawFrame frame(l, 256, 256);
    frame.fill(
        [](int x, int y) { return x >= 200 && x < 210 && y >= 40 && y < 50 ? 65535u : 30000u; });
    double s = 0, sx = 0, sy = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const double v = 3.0 * (x >= 200 && x < 210 && y >= 40 && y < 50 ? 65535 : 30000);
            s += v, sx += v * (x + 1), sy += v * (y + 1);
        }
    solvan_digest digest{};
    ASSERT_EQ(solvan_frame_centroid(l.type, frame.data(), 256, 256, &digest), SOLVAN_OK);
    EXPECT_NEAR(digest.centroid_x, sx / s - 0.5, 1e-9);
    EXPECT_NEAR(digest.centroid_y, sy / s - 0.5, 1e-9);
}

TEST(FrameCentroid, UniformBlackOrTooSmallFrames) {
    for (const RawLayout& l : allRawLayouts()) {
        SCOPED_TRACE(l.name);
        RawFrame black(l, 10, 10);
        solvan_digest digest{};
        digest.algorithm = 77;
        EXPECT_EQ(solvan_frame_centroid(l.type, black.data(), 10, 10, &digest), SOLVAN_NO_STAR);
        RawFrame flat(l, 10, 10);
        flat.fill([](int, int) { return 40u; });
        EXPECT_EQ(solvan_frame_centroid(l.type, flat.data(), 10, 10, &digest), SOLVAN_NO_STAR);
        EXPECT_EQ(digest.algorithm, 77u);
        RawFrame narrow(l, 2, 10);
        narrow.set(1, 5, 100);
        EXPECT_EQ(solvan_frame_centroid(l.type, narrow.data(), 2, 10, &digest), SOLVAN_FAILED);
        EXPECT_EQ(solvan_frame_centroid(l.type, narrow.data(), 10, 2, &digest), SOLVAN_FAILED);
        EXPECT_EQ(solvan_frame_centroid(l.type, nullptr, 10, 10, &digest), SOLVAN_FAILED);
        EXPECT_EQ(solvan_frame_centroid(l.type, flat.data(), 10, 10, nullptr), SOLVAN_FAILED);
    }
    RawFrame frame(layoutOf(SOLVAN_RAW_MONO8), 5, 5);
    frame.set(2, 2, 100);
    solvan_digest digest{};
    EXPECT_EQ(solvan_frame_centroid(0x31574151u, frame.data(), 5, 5, &digest), SOLVAN_FAILED);
}

}  // namespace
