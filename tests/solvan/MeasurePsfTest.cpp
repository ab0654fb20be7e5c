// solvan_measure_psf: FWHM, HFD and peak of synthetic stars of known sigma in every pixel
// layout, and the edge cases of the window, the thresholds and the half-maximum walk.
#include "SyntheticFrame.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Psf {
    int result;
    double fwhm, hfd, peak;
};

Psf measure(const RawFrame& f, double x, double y, int radius) {
    Psf p{-1, -7, -7, -7};
    p.result = solvan_measure_psf(f.layout.type, f.data(), x, y, radius, f.width, f.height, &p.fwhm,
                                  &p.hfd, &p.peak);
    return p;
}

const RawLayout& mono8() {
    return allRawLayouts()[0];
}
const RawLayout& rgb24() {
    return allRawLayouts()[2];
}

// ---- Synthetic Gaussian stars: every layout, sigma 1.2 to 3.

struct StarCase {
    RawLayout layout;
    double sigma;
};

void PrintTo(const StarCase& c, std::ostream* os) {
    *os << c.layout.name << " sigma " << c.sigma;
}

class GaussianStarPsf : public ::testing::TestWithParam<StarCase> {};

TEST_P(GaussianStarPsf, MeasuresWidthDiameterAndPeak) {
    const StarCase c = GetParam();
    const StarLevels levels = levelsFor(c.layout);
    const RawFrame frame = gaussianStar(c.layout, 64, 60, 31, 28, c.sigma, levels);
    // The window reaches 4 sigma, where the profile has fallen to the background.
    const int radius = std::max(4, int(std::ceil(4 * c.sigma)));
    const Psf p = measure(frame, 31, 28, radius);
    ASSERT_EQ(p.result, SOLVAN_OK);

    EXPECT_NEAR(p.peak, levels.amplitude, 0.01 * levels.amplitude);
    const double trueFwhm = 2 * std::sqrt(2 * std::log(2.0)) * c.sigma;  // 2.3548 sigma
    EXPECT_NEAR(p.fwhm, trueFwhm, 0.05 * trueFwhm);
    // Twice the flux-weighted mean radius of a 2-D Gaussian: 2 sigma sqrt(pi / 2).
    const double trueHfd = 2 * c.sigma * std::sqrt(M_PI / 2);
    EXPECT_NEAR(p.hfd, trueHfd, 0.05 * trueHfd);
}

std::vector<StarCase> starCases() {
    std::vector<StarCase> cases;
    for (const RawLayout& l : allRawLayouts())
        for (double sigma : {1.2, 1.6, 2.0, 2.5, 3.0})
            cases.push_back({l, sigma});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, GaussianStarPsf, ::testing::ValuesIn(starCases()),
                         [](const ::testing::TestParamInfo<StarCase>& info) {
                             return std::string(info.param.layout.name) + "_sigma" +
                                    std::to_string(int(info.param.sigma * 10));
                         });

// ---- Window placement.

TEST(MeasurePsf, WindowTouchingTheEdgeIsMeasuredOnePixelFurtherIsRejected) {
    const RawFrame frame = gaussianStar(mono8(), 20, 20, 4, 10, 1.2, {20, 200});
    EXPECT_EQ(measure(frame, 4, 10, 4).result, SOLVAN_OK);       // cx = r
    EXPECT_EQ(measure(frame, 3, 10, 4).result, SOLVAN_FAILED);   // cx = r - 1
    EXPECT_EQ(measure(frame, 16, 10, 4).result, SOLVAN_FAILED);  // cx + r = width
    EXPECT_EQ(measure(frame, 15, 10, 4).result, SOLVAN_OK);      // cx + r = width - 1
    EXPECT_EQ(measure(frame, 10, 3, 4).result, SOLVAN_FAILED);
    EXPECT_EQ(measure(frame, 10, 16, 4).result, SOLVAN_FAILED);
}

TEST(MeasurePsf, WindowMustBeSmallerThanTheFrame) {
    const RawFrame eight = gaussianStar(mono8(), 8, 20, 4, 10, 1.2, {20, 200});
    EXPECT_EQ(measure(eight, 4, 10, 4).result, SOLVAN_FAILED);  // 2r >= width
    const RawFrame nine = gaussianStar(mono8(), 9, 20, 4, 10, 1.2, {20, 200});
    EXPECT_EQ(measure(nine, 4, 10, 4).result, SOLVAN_OK);
    EXPECT_EQ(measure(nine, 5, 10, 4).result, SOLVAN_FAILED);
    EXPECT_EQ(measure(nine, 3, 10, 4).result, SOLVAN_FAILED);
    const RawFrame low = gaussianStar(mono8(), 20, 8, 10, 4, 1.2, {20, 200});
    EXPECT_EQ(measure(low, 10, 4, 4).result, SOLVAN_FAILED);  // 2r >= height
}

TEST(MeasurePsf, PositionRoundsHalvesAwayFromZero) {
    // Width 15, radius 4: centre 10 fits (10 + 4 = 14), centre 11 does not.
    const RawFrame frame = gaussianStar(mono8(), 15, 15, 7, 7, 1.2, {20, 200});
    EXPECT_EQ(measure(frame, 10.49, 7, 4).result, SOLVAN_OK);
    EXPECT_EQ(measure(frame, 10.5, 7, 4).result, SOLVAN_FAILED);  // rounds to 11
    EXPECT_EQ(measure(frame, 7, 10.5, 4).result, SOLVAN_FAILED);
    const RawFrame wide = gaussianStar(mono8(), 15, 15, 1, 7, 1.2, {20, 200});
    EXPECT_EQ(measure(wide, -0.5, 7, 1).result, SOLVAN_FAILED);  // rounds to -1
    EXPECT_EQ(measure(wide, 1.49, 7, 1).result, SOLVAN_OK);
}

TEST(MeasurePsf, BadArgumentsAreRejectedWithNothingWritten) {
    const RawFrame frame = gaussianStar(mono8(), 20, 20, 10, 10, 1.5, {20, 200});
    double fwhm = -7, hfd = -7, peak = -7;
    EXPECT_EQ(solvan_measure_psf(0x12345678u, frame.data(), 10, 10, 4, 20, 20, &fwhm, &hfd, &peak),
              SOLVAN_FAILED);
    EXPECT_EQ(solvan_measure_psf(SOLVAN_RAW_MONO8, nullptr, 10, 10, 4, 20, 20, &fwhm, &hfd, &peak),
              SOLVAN_FAILED);
    EXPECT_EQ(
        solvan_measure_psf(SOLVAN_RAW_MONO8, frame.data(), 10, 10, 4, 20, 20, nullptr, &hfd, &peak),
        SOLVAN_FAILED);
    EXPECT_EQ(
        solvan_measure_psf(SOLVAN_RAW_MONO8, frame.data(), 10, 10, 0, 20, 20, &fwhm, &hfd, &peak),
        SOLVAN_FAILED);
    EXPECT_EQ(
        solvan_measure_psf(SOLVAN_RAW_MONO8, frame.data(), NAN, 10, 4, 20, 20, &fwhm, &hfd, &peak),
        SOLVAN_FAILED);
    EXPECT_EQ(solvan_measure_psf(SOLVAN_RAW_MONO8, frame.data(), 10, 1e300, 4, 20, 20, &fwhm, &hfd,
                                 &peak),
              SOLVAN_FAILED);
    EXPECT_EQ(fwhm, -7);
    EXPECT_EQ(hfd, -7);
    EXPECT_EQ(peak, -7);
}

// ---- Thresholds.

// A 9 x 9 window (radius 4) whose border is a checkerboard of 100 and 0: 16 of each, so the
// background is 50 and the deviation 50; thresholds 150 (HFD) and 350 (FWHM).
RawFrame noisyRingWindow(uint32_t centre) {
    RawFrame frame(mono8(), 9, 9);
    frame.fill([&](int x, int y) -> uint32_t {
        const bool border = x == 0 || y == 0 || x == 8 || y == 8;
        if (border) return (x + y) % 2 == 0 ? 100 : 0;
        return x == 4 && y == 4 ? centre : 50;
    });
    return frame;
}

TEST(MeasurePsf, MaximumBelowTheHfdThresholdGivesTheWindowSideForBoth) {
    const Psf p = measure(noisyRingWindow(100), 4, 4, 4);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_EQ(p.hfd, 9);
    EXPECT_EQ(p.fwhm, 9);
    EXPECT_EQ(p.peak, 50);
}

TEST(MeasurePsf, MaximumBetweenTheThresholdsMeasuresOnlyTheHfd) {
    const Psf p = measure(noisyRingWindow(200), 4, 4, 4);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_EQ(p.fwhm, 9);
    EXPECT_EQ(p.peak, 150);
    // Above the background of 50: the centre (150, at distance 0) and the ring's 16 pixels of
    // 100 (excess 50 each, at their distances from the centre).
    double weighted = 0, flux = 150;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            if ((x == 0 || y == 0 || x == 8 || y == 8) && (x + y) % 2 == 0) {
                weighted += 50 * std::hypot(x - 4.0, y - 4.0);
                flux += 50;
            }
    EXPECT_NEAR(p.hfd, 2 * weighted / flux, 1e-9);
}

TEST(MeasurePsf, FlatWindowGivesTheWindowSideAsHfdNotNaN) {
    RawFrame frame(mono8(), 9, 9);
    frame.fill([](int, int) { return 50u; });
    const Psf p = measure(frame, 4, 4, 4);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_EQ(p.hfd, 9);
    EXPECT_EQ(p.peak, 0);
    EXPECT_FALSE(std::isnan(p.fwhm));
}

// ---- The half-maximum walk.

TEST(MeasurePsf, RadiusOneMakesNoWalk) {
    RawFrame frame(mono8(), 5, 5);
    frame.fill([](int x, int y) { return x == 2 && y == 2 ? 200u : 10u; });
    const Psf p = measure(frame, 2, 2, 1);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_EQ(p.fwhm, 2);
}

TEST(MeasurePsf, FirstPixelAtOrBelowHalfInterpolatesFromTheMaximum) {
    // Background 10, centre 110: half = 60. The four neighbours at 40 end every walk at once
    // with radius (110 - 60) / (110 - 40).
    RawFrame frame(mono8(), 9, 9);
    frame.fill([](int x, int y) -> uint32_t {
        if (x == 4 && y == 4) return 110;
        if (std::abs(x - 4) + std::abs(y - 4) == 1) return 40;
        return 10;
    });
    const Psf p = measure(frame, 4, 4, 4);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_NEAR(p.fwhm, 4 * (50.0 / 70.0) / 2, 1e-12);
}

TEST(MeasurePsf, ProfileWiderThanTheWindowGivesTwiceTheRadius) {
    RawFrame frame(mono8(), 9, 9);
    frame.fill([](int x, int y) { return x == 0 || y == 0 || x == 8 || y == 8 ? 0u : 100u; });
    const Psf p = measure(frame, 4, 4, 4);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_EQ(p.fwhm, 8);  // within bounds, so not replaced by 9
}

TEST(MeasurePsf, WalkInterpolatesBetweenTheLastPixelAboveHalfAndTheFirstBelow) {
    // Background 0, centre 100 (half 50); each arm reads 80, 60, then 20 at i = 3:
    // radius (60 - 50) / (60 - 20) + 2.
    RawFrame frame(mono8(), 9, 9);
    frame.fill([](int x, int y) -> uint32_t {
        const int dx = std::abs(x - 4), dy = std::abs(y - 4);
        if (dx == 0 && dy == 0) return 100;
        if (dx != 0 && dy != 0) return 0;
        const int d = dx + dy;
        return d == 1 ? 80 : d == 2 ? 60 : d == 3 ? 20 : 0;
    });
    const Psf p = measure(frame, 4, 4, 4);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_NEAR(p.fwhm, 4 * (10.0 / 40.0 + 2) / 2, 1e-12);
}

// ---- Colour pixels count by their integer channel mean in every pass.

TEST(MeasurePsf, ColourPixelsCountByIntegerChannelMean) {
    // Border (0, 0, 2) counts 0; centre (200, 201, 202) counts 201; its four neighbours
    // (100, 100, 101) count 100, so each walk ends at once: (201 - 100.5) / (201 - 100).
    RawFrame frame(rgb24(), 5, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            frame.set(x, y, 0, 0, 2);
    frame.set(2, 2, 200, 201, 202);
    for (auto [x, y] : {std::pair{1, 2}, {3, 2}, {2, 1}, {2, 3}})
        frame.set(x, y, 100, 100, 101);
    const Psf p = measure(frame, 2, 2, 2);
    ASSERT_EQ(p.result, SOLVAN_OK);
    EXPECT_EQ(p.peak, 201);
    EXPECT_NEAR(p.fwhm, 4 * (100.5 / 101.0) / 2, 1e-12);
    EXPECT_NEAR(p.hfd, 2 * (4 * 100.0) / (201.0 + 4 * 100.0), 1e-12);
}

// ---- The ring deviation's 32-bit accumulator.

std::vector<std::string> capturedLines;
void captureLine(const char* message) {
    capturedLines.emplace_back(message);
}

TEST(MeasurePsf, RingDeviationAccumulatorIsHeldAtItsLargestValue) {
    // A 16-bit ring alternating 0 and 65535: each squared deviation is about 2^30, so the sum
    // passes the 32-bit range at the third pixel and stays at 2147483647. The variance is then
    // 2147483647 / 32 = 67108863 (integer division) and the deviation its root, 8192.00.
    const RawLayout& mono16 = allRawLayouts()[1];
    RawFrame frame(mono16, 9, 9);
    frame.fill([](int x, int y) -> uint32_t {
        const bool border = x == 0 || y == 0 || x == 8 || y == 8;
        return border ? ((x + y) % 2 == 0 ? 65535 : 0) : 40000;
    });
    capturedLines.clear();
    solvan_log_message_handler = captureLine;
    solvan_set_log_level(SOLVAN_LOG_DEBUG);
    const Psf p = measure(frame, 4, 4, 4);
    solvan_set_log_level(SOLVAN_LOG_ERROR);
    solvan_log_message_handler = nullptr;
    ASSERT_EQ(p.result, SOLVAN_OK);
    ASSERT_EQ(capturedLines.size(), 2u);
    char expected[256];
    const double stddev = std::sqrt(double(2147483647 / 32));
    std::snprintf(expected, sizeof expected,
                  "HFD : background = %2f, stddev = %.2f, threshold = %.2f, max = %.2f", 32767.5,
                  stddev, 32767.5 + 2 * stddev, 65535.0);
    EXPECT_EQ(capturedLines[0], expected);
    EXPECT_NE(capturedLines[0].find("stddev = 8192.00"), std::string::npos);
    std::snprintf(expected, sizeof expected,
                  "FWHM: background = %2f, stddev = %.2f, threshold = %.2f, max = %.2f", 32767.5,
                  stddev, 32767.5 + 6 * stddev, 65535.0);
    EXPECT_EQ(capturedLines[1], expected);
}

}  // namespace
