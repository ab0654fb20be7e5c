// solvan_donuts_digest and solvan_profile_snr: the digest against a direct computation of its
// definition (every pixel through solvan_filter_hot_pixel_*, profiles in doubles), on frames
// large enough for the banded first pass, with hot pixels, edges and odd addresses; the
// arguments, the debug line, colour frames; the SNR and its holes.
#include "CapturedLog.h"
#include "SyntheticFrame.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace {

// The digest as its definition reads, for grey frames: every pixel of the region filtered on
// its own, weights above 1.15 times the mean summed into double profiles, flattened by the
// SNR routine, transformed.
struct Reference {
    int result = SOLVAN_OK;
    std::vector<double> fftX, fftY;
    double snr = 0;
};

Reference referenceDigest(const RawFrame& f, int e) {
    const int w = f.width - 2 * e, h = f.height - 2 * e;
    auto value = [&](int x, int y) -> double {
        if (f.layout.type == SOLVAN_RAW_MONO8)
            return solvan_filter_hot_pixel_8(f.bytes.data(), x, y, f.width, f.height);
        return solvan_filter_hot_pixel_16(reinterpret_cast<const uint16_t*>(f.bytes.data()), x, y,
                                          f.width, f.height);
    };
    double sum = 0, top = 0;
    for (int y = e; y < e + h; ++y)
        for (int x = e; x < e + w; ++x)
            sum += value(x, y), top = std::max(top, value(x, y));
    const double t = 1.15 * sum / (double(w) * h);
    Reference r;
    if (top <= t) return r.result = SOLVAN_NO_STAR, r;
    int nx = 1, ny = 1;
    while (nx < w)
        nx *= 2;
    while (ny < h)
        ny *= 2;
    std::vector<double> px(2 * nx), py(2 * ny), scratch(2 * std::max(nx, ny));
    for (int y = e; y < e + h; ++y)
        for (int x = e; x < e + w; ++x) {
            px[2 * (x - e)] += std::max(value(x, y) - t, 0.0);
            py[2 * (y - e)] += std::max(value(x, y) - t, 0.0);
        }
    r.snr = (solvan_profile_snr(px.data(), w) + solvan_profile_snr(py.data(), h)) / 2;
    r.fftX.resize(2 * nx), r.fftY.resize(2 * ny);
    solvan_fft(nx, 0, 1, px.data(), r.fftX.data(), scratch.data());
    solvan_fft(ny, 0, 1, py.data(), r.fftY.data(), scratch.data());
    return r;
}

void expectSpectrum(const double* got, const std::vector<double>& expected, const char* axis) {
    double largest = 0;
    for (double v : expected)
        largest = std::max(largest, std::fabs(v));
    for (size_t k = 0; k < expected.size(); ++k)
        ASSERT_NEAR(got[k], expected[k], 1e-9 * largest) << axis << " " << k;
}

TEST(DonutsDigest, MatchesItsDefinitionOnGreyFrames) {
    std::mt19937 random(5);
    struct Case {
        int layout, width, height, clipping;
        bool odd;  // the frame one byte into its buffer (16-bit samples read through copies)
    };
    // 1100 rows give the first pass four bands; clipping 0 takes the edge rows and columns;
    // 70 - 6 columns need no padding.
    for (const Case c :
         {Case{1, 300, 1100, 0, false}, Case{1, 300, 1100, 7, true}, Case{0, 257, 130, 0, true},
          Case{0, 70, 900, 3, false}, Case{1, 3, 40, 0, false}, Case{1, 131, 3, 1, true}}) {
        const RawLayout& layout = allRawLayouts()[c.layout];
        const uint32_t top = layout.sixteenBit ? 65535 : 255;
        RawFrame f(layout, c.width, c.height);
        std::vector<std::array<double, 3>> stars;
        for (int s = 0; s < 12; ++s)
            stars.push_back({double(random() % c.width), double(random() % c.height),
                             1 + double(random() % 3)});
        f.fill([&](int x, int y) {
            double v = top * 0.05 + double(random() % (top / 25 + 1));
            for (const auto& [sx, sy, sigma] : stars)
                v += top * 0.6 *
                     std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / (2 * sigma * sigma));
            if (random() % 500 == 0) v = top;  // hot pixels, also on the edges
            return uint32_t(std::min<double>(v, top));
        });
        std::vector<uint8_t> shifted(f.bytes.size() + 1);
        std::copy(f.bytes.begin(), f.bytes.end(), shifted.begin() + 1);
        const Reference expected = referenceDigest(f, c.clipping);
        solvan_digest d{};
        ASSERT_EQ(solvan_donuts_digest(layout.type, c.odd ? shifted.data() + 1 : f.data(), c.width,
                                       c.height, c.clipping, &d),
                  expected.result);
        if (expected.result != SOLVAN_OK) continue;
        ASSERT_EQ(size_t(2 * d.width), expected.fftX.size());
        ASSERT_EQ(size_t(2 * d.height), expected.fftY.size());
        expectSpectrum(d.fft_x, expected.fftX, "x");
        expectSpectrum(d.fft_y, expected.fftY, "y");
        EXPECT_NEAR(d.snr, expected.snr, 1e-9 * std::max(1.0, expected.snr));
        solvan_delete_digest(&d);
    }
}

TEST(DonutsDigest, ArgumentsTheDebugLineAndNoStar) {
    RawFrame f(allRawLayouts()[0], 100, 60);
    f.fill([](int x, int y) { return (x - 40) * (x - 40) + (y - 30) * (y - 30) < 9 ? 200u : 10u; });
    solvan_digest d{};
    for (int clipping : {50, 30, -1})  // nothing left, or a negative clipping
        EXPECT_EQ(solvan_donuts_digest(SOLVAN_RAW_MONO8, f.data(), 100, 60, clipping, &d),
                  SOLVAN_FAILED);
    EXPECT_EQ(solvan_donuts_digest(SOLVAN_RAW_MONO8, nullptr, 100, 60, 0, &d), SOLVAN_FAILED);
    EXPECT_EQ(d.algorithm, 0u);
    CapturedLog log(SOLVAN_LOG_DEBUG);
    ASSERT_EQ(solvan_donuts_digest(SOLVAN_RAW_MONO8, f.data(), 100, 60, 0, &d), SOLVAN_OK);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("Donuts: threshold = ", 0), 0u);
    EXPECT_NE(log.lines()[0].find(", max = 200.000, edge_clipping = 0px"), std::string::npos);
    solvan_delete_digest(&d);

    RawFrame uniform(allRawLayouts()[2], 30, 30);
    uniform.fill([](int, int) { return 77u; });
    d.snr = 5;
    EXPECT_EQ(solvan_donuts_digest(SOLVAN_RAW_RGB24, uniform.data(), 30, 30, 0, &d),
              SOLVAN_NO_STAR);
    EXPECT_EQ(d.snr, 5);
}

TEST(DonutsDigest, ColourAndGreyFramesOfTheSameStarAgree) {
    // The same star moved by (3, -2) in each layout: the digests give that drift.
    for (const RawLayout& layout : allRawLayouts()) {
        const RawFrame f = gaussianStar(layout, 90, 70, 41.3, 30.6, 2.0, levelsFor(layout));
        const RawFrame g = gaussianStar(layout, 90, 70, 44.3, 28.6, 2.0, levelsFor(layout));
        solvan_digest a{}, b{};
        ASSERT_EQ(solvan_donuts_digest(layout.type, f.data(), 90, 70, 4, &a), SOLVAN_OK);
        ASSERT_EQ(solvan_donuts_digest(layout.type, g.data(), 90, 70, 4, &b), SOLVAN_OK);
        double dx, dy;
        ASSERT_EQ(solvan_calculate_drift(&a, &b, &dx, &dy), SOLVAN_OK);
        EXPECT_NEAR(dx, 3, 0.1) << layout.name;
        EXPECT_NEAR(dy, -2, 0.1) << layout.name;
        EXPECT_TRUE(std::isfinite(a.snr));
        solvan_delete_digest(&a);
        solvan_delete_digest(&b);
    }
}

// A profile of n complex samples with the given real parts.
std::vector<double> profile(const std::vector<double>& values) {
    std::vector<double> p(2 * values.size(), 0);
    for (size_t k = 0; k < values.size(); ++k)
        p[2 * k] = values[k];
    return p;
}

TEST(ProfileSnr, SignalOverNoiseAndTheHoles) {
    // A peak of 10 on an alternating floor of 0 and 1: every local floor is 0 and samples
    // 6 ... 24 stay (eight 1s, ten 0s, the 10). Only the 10 lies above their mean plus one
    // deviation (0.95 + 2.19): signal power 100 over noise power 8 / 18.
    std::vector<double> p = profile({0,  1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0,
                                     10, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1});
    EXPECT_NEAR(solvan_profile_snr(p.data(), 30), 225, 1e-9);
    EXPECT_EQ(p[2 * 5], 0);  // margins zeroed
    EXPECT_EQ(p[2 * 25], 0);

    // Flat (no signal sample), and short profiles (zeroing kept inside: the sanitizer watches).
    for (int n : {40, 1, 5, 11}) {
        std::vector<double> s = profile(std::vector<double>(n, 17));
        EXPECT_EQ(solvan_profile_snr(s.data(), n), 0) << n;
        EXPECT_EQ(s, std::vector<double>(2 * n, 0)) << n;
    }
    // No noise power at all: a number, not infinity.
    std::vector<double> clean = profile(std::vector<double>(30, 0));
    clean[2 * 15] = 10;
    const double snr = solvan_profile_snr(clean.data(), 30);
    EXPECT_TRUE(std::isfinite(snr));
    EXPECT_GT(snr, 1e300);
}

}  // namespace
