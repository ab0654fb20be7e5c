// solvan_frame_stddev and its four members with the saturation test, solvan_mean_stddev and
// solvan_rms: deviations against a direct two-pass computation, the saturated-star examples and
// the places the flag is left alone.
#include "DebugLines.h"
#include "SyntheticFrame.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Population deviation by the textbook two passes.
double directDeviation(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v)
        sum += x;
    const double mean = sum / double(v.size());
    double squares = 0;
    for (double x : v)
        squares += (x - mean) * (x - mean);
    return std::sqrt(squares / double(v.size()));
}

TEST(FrameStddev, SaturatedEightBitStreamSetsTheFlagWithOneLine) {
    const std::vector<uint8_t> s = {10, 250, 251, 252, 10};
    DebugLines debug;
    bool saturated = false;
    const double d = solvan_stddev_8bit(s.data(), s.size(), &saturated);
    EXPECT_NEAR(d, directDeviation({10, 250, 251, 252, 10}), 1e-12);
    EXPECT_TRUE(saturated);
    ASSERT_EQ(debug.all().size(), 1u);
    EXPECT_EQ(debug.all()[0],
              "Saturation detected: threshold = 182.32, median = 250, mean = 154.60");
}

TEST(FrameStddev, WithoutAFlagPlaceOnlyTheDeviationIsComputed) {
    const std::vector<uint8_t> s = {10, 250, 251, 252, 10};
    DebugLines debug;
    EXPECT_NEAR(solvan_stddev_8bit(s.data(), s.size(), nullptr),
                directDeviation({10, 250, 251, 252, 10}), 1e-12);
    EXPECT_TRUE(debug.all().empty());
}

TEST(FrameStddev, LoneHotSamplesAndEdgeSamplesAreNoSaturatedStar) {
    struct Case {
        std::vector<uint8_t> samples;
        bool saturated;
    };
    const std::vector<Case> cases = {
        {{10, 10, 255, 10, 10}, false},  // median of a lone hot sample is background
        {{255, 10, 10, 10, 10}, false},  // sample 0 has no left neighbour
        {{10, 10, 10, 10, 255}, false},  // the last sample has no right neighbour
        {{10, 255, 255, 10, 10}, true},
    };
    for (const Case& c : cases) {
        bool saturated = !c.saturated;
        solvan_stddev_8bit(c.samples.data(), c.samples.size(), &saturated);
        EXPECT_EQ(saturated, c.saturated);
    }
}

TEST(FrameStddev, SixteenAndThirtyTwoBitMembers) {
    // 16 bits: level 65408, base 65407.
    const std::vector<uint16_t> grey = {1000, 65408, 65500, 1000, 1000, 1000};
    bool saturated = false;
    EXPECT_NEAR(solvan_stddev_16bit(grey.data(), grey.size(), &saturated),
                directDeviation({1000, 65408, 65500, 1000, 1000, 1000}), 1e-9);
    EXPECT_TRUE(saturated);
    const std::vector<uint16_t> lone = {1000, 1000, 65535, 1000, 1000};
    solvan_stddev_16bit(lone.data(), lone.size(), &saturated);
    EXPECT_FALSE(saturated);  // cleared on entry, and a lone hot sample is no star
}

TEST(FrameStddev, ThirtyTwoBitPixelsCountByTheirChannelMean) {
    // RGBA: colour in bytes 0..2; the test reads byte 0 between the previous pixel's alpha and
    // this pixel's byte 1.
    const std::vector<uint8_t> rgba = {10, 20, 30, 255, 250, 250, 250, 255,
                                       10, 20, 30, 255, 10,  20,  30,  255};
    bool saturated = false;
    EXPECT_NEAR(solvan_stddev_rgba32(rgba.data(), 4, &saturated),
                directDeviation({20, 250, 20, 20}), 1e-12);
    EXPECT_TRUE(saturated);  // median(255, 250, 250) = 250
    const std::vector<uint8_t> argb = {255, 10, 20, 30, 0,   250, 0,  0,
                                       255, 10, 20, 30, 255, 10,  20, 30};
    EXPECT_NEAR(solvan_stddev_argb32(argb.data(), 4, &saturated),
                directDeviation({20, 250.0 / 3, 20, 20}), 1e-12);
    EXPECT_FALSE(saturated);  // median(0, 250, 0) = 0
}

TEST(FrameStddev, EmptyStreamsLeaveTheFlagAlone) {
    bool saturated = true;
    const uint8_t one = 0;
    EXPECT_EQ(solvan_stddev_8bit(&one, 0, &saturated), 0);
    EXPECT_TRUE(saturated);
    EXPECT_EQ(solvan_stddev_16bit(nullptr, 5, &saturated), 0);
    EXPECT_TRUE(saturated);
}

TEST(FrameStddev, FramesOfEveryLayoutAgainstTheDirectDeviation) {
    std::mt19937 random(7);
    for (const RawLayout& layout : allRawLayouts()) {
        const int w = 67, h = 41;
        RawFrame frame(layout, w, h);
        const uint32_t top = layout.sixteenBit ? 65535 : 255;
        std::vector<double> values;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t c0 = random() % (top + 1), c1 = random() % (top + 1),
                               c2 = random() % (top + 1);
                frame.set(x, y, c0, c1, c2);
                if (!layout.colour)
                    values.push_back(c0);
                else if (layout.bytesPerPixel == 4)
                    values.push_back((c0 + c1 + c2) / 3.0);
                else
                    values.insert(values.end(), {double(c0), double(c1), double(c2)});
            }
        const double expected = directDeviation(values) / top;
        EXPECT_NEAR(solvan_frame_stddev(layout.type, frame.data(), w, h, nullptr), expected, 1e-12)
            << layout.name;
    }
}

TEST(FrameStddev, FlatMissingAndUnknownFrames) {
    RawFrame flat(allRawLayouts()[1], 50, 30);
    flat.fill([](int, int) { return 40000u; });
    EXPECT_EQ(solvan_frame_stddev(SOLVAN_RAW_MONO16, flat.data(), 50, 30, nullptr), 0.0);
    bool saturated = true;
    EXPECT_EQ(solvan_frame_stddev(SOLVAN_RAW_MONO16, nullptr, 50, 30, &saturated), 1.0);
    EXPECT_TRUE(saturated);
    EXPECT_EQ(solvan_frame_stddev(SOLVAN_RAW_MONO16, flat.data(), 0, 30, nullptr), 1.0);
    EXPECT_EQ(solvan_frame_stddev(0x12345678, flat.data(), 50, 30, nullptr), 0.0);
}

TEST(FrameStddev, MeanStddevAndRms) {
    const std::vector<double> v = {1, 2, 3, 4};
    EXPECT_NEAR(solvan_mean_stddev(v.data(), 4), std::sqrt(1.25), 1e-15);
    EXPECT_NEAR(solvan_rms(v.data(), 4), std::sqrt(30.0 / 4), 1e-15);
    EXPECT_EQ(solvan_mean_stddev(v.data(), 0), 0);
    EXPECT_EQ(solvan_rms(v.data(), -1), 0);
}

}  // namespace
