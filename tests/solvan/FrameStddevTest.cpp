// solvan_frame_stddev and its four members with the saturation test, solvan_mean_stddev and
// solvan_rms: deviations against a direct two-pass computation, the saturated-star examples and
// the places the flag is left alone.
#include "CapturedLog.h"
#include "SyntheticFrame.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Population deviation by the textbook two passes.
double directDeviation(const std::vector<double>& v) {
    double mean = 0, squares = 0;
    for (double x : v)
        mean += x / double(v.size());
    for (double x : v)
        squares += (x - mean) * (x - mean);
    return std::sqrt(squares / double(v.size()));
}

TEST(FrameStddev, SaturatedEightBitStreamLogsOneLineOnlyWithAFlagPlace) {
    const std::vector<uint8_t> s = {10, 250, 251, 252, 10};
    const double expected = directDeviation({10, 250, 251, 252, 10});
    CapturedLog log(SOLVAN_LOG_DEBUG);
    EXPECT_NEAR(solvan_stddev_8bit(s.data(), s.size(), nullptr), expected, 1e-12);
    EXPECT_TRUE(log.lines().empty());
    bool saturated = false;
    EXPECT_NEAR(solvan_stddev_8bit(s.data(), s.size(), &saturated), expected, 1e-12);
    EXPECT_TRUE(saturated);
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{
                  "Saturation detected: threshold = 182.32, median = 250, mean = 154.60"});
    // No samples: the flag is left alone.
    EXPECT_EQ(solvan_stddev_8bit(s.data(), 0, &saturated), 0);
    EXPECT_EQ(solvan_stddev_16bit(nullptr, 5, &saturated), 0);
    EXPECT_TRUE(saturated);
}

TEST(FrameStddev, MembersFlagSaturatedStarsOnly) {
    enum Member { Bits8, Bits16, Rgba32, Argb32 };
    struct Case {
        Member member;
        std::vector<uint16_t> samples;  // 8 or 16-bit samples; bytes of the 32-bit pixels
        std::vector<double> values;     // the values whose deviation is expected
        bool saturated;
    };
    const std::vector<Case> cases = {
        {Bits8, {10, 10, 255, 10, 10}, {10, 10, 255, 10, 10}, false},  // a lone hot sample
        {Bits8, {255, 10, 10, 10, 10}, {255, 10, 10, 10, 10}, false},  // no left neighbour
        {Bits8, {10, 10, 10, 10, 255}, {10, 10, 10, 10, 255}, false},  // no right neighbour
        {Bits8, {10, 255, 255, 10, 10}, {10, 255, 255, 10, 10}, true},
        // 16 bits: level 65408, base 65407.
        {Bits16, {1000, 65408, 65500, 1000, 1000}, {1000, 65408, 65500, 1000, 1000}, true},
        {Bits16, {1000, 1000, 65535, 1000, 1000}, {1000, 1000, 65535, 1000, 1000}, false},
        // 32 bits count by their channel mean; the test reads byte 0 between the previous
        // pixel's last byte and this pixel's byte 1: median(255, 250, 250) = 250.
        {Rgba32, {10, 20, 30, 255, 250, 250, 250, 255, 10, 20, 30, 255}, {20, 250, 20}, true},
        // median(0, 250, 0) = 0.
        {Argb32, {255, 10, 20, 30, 0, 250, 0, 0, 255, 10, 20, 30}, {20, 250.0 / 3, 20}, false},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes(c.samples.begin(), c.samples.end());
        bool saturated = !c.saturated;
        double d = 0;
        switch (c.member) {
            case Bits8:
                d = solvan_stddev_8bit(bytes.data(), bytes.size(), &saturated);
                break;
            case Bits16:
                d = solvan_stddev_16bit(c.samples.data(), c.samples.size(), &saturated);
                break;
            case Rgba32:
                d = solvan_stddev_rgba32(bytes.data(), bytes.size() / 4, &saturated);
                break;
            case Argb32:
                d = solvan_stddev_argb32(bytes.data(), bytes.size() / 4, &saturated);
                break;
        }
        const std::string what = "case " + std::to_string(&c - cases.data());
        EXPECT_NEAR(d, directDeviation(c.values), 1e-9) << what;
        EXPECT_EQ(saturated, c.saturated) << what;
    }
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
        EXPECT_NEAR(solvan_frame_stddev(layout.type, frame.data(), w, h, nullptr),
                    directDeviation(values) / top, 1e-12)
            << layout.name;
    }
}

TEST(FrameStddev, FlatMissingAndUnknownFramesMeanStddevAndRms) {
    RawFrame flat(allRawLayouts()[1], 50, 30);
    flat.fill([](int, int) { return 40000u; });
    EXPECT_EQ(solvan_frame_stddev(SOLVAN_RAW_MONO16, flat.data(), 50, 30, nullptr), 0.0);
    bool saturated = true;
    EXPECT_EQ(solvan_frame_stddev(SOLVAN_RAW_MONO16, nullptr, 50, 30, &saturated), 1.0);
    EXPECT_TRUE(saturated);
    EXPECT_EQ(solvan_frame_stddev(SOLVAN_RAW_MONO16, flat.data(), 0, 30, nullptr), 1.0);
    EXPECT_EQ(solvan_frame_stddev(0x12345678, flat.data(), 50, 30, nullptr), 0.0);

    const std::vector<double> v = {1, 2, 3, 4};
    EXPECT_NEAR(solvan_mean_stddev(v.data(), 4), std::sqrt(1.25), 1e-15);
    EXPECT_NEAR(solvan_rms(v.data(), 4), std::sqrt(30.0 / 4), 1e-15);
    EXPECT_EQ(solvan_mean_stddev(v.data(), 0), 0);
    EXPECT_EQ(solvan_rms(v.data(), -1), 0);
}

}  // namespace
