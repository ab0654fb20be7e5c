// solvan_find_stars and solvan_find_stars_refined: the literal search (LiteralFindStars.h: a
// 16-bit work copy rescanned in full for every star) compared record for record with the
// library on many random frames; the border and size cases, hot
// pixels, saturation, the order, refinement, the debug lines; and a real frame against the
// catalogue of source-extractor.
#include "CapturedLog.h"
#include "FitsFiles.h"
#include "LiteralFindStars.h"
#include "SyntheticFrame.h"
#include "TestData.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <tuple>
#include <vector>

#include <sys/mman.h>

namespace {

// The library's stars (at most maxStars) of a frame of the given layout.
std::vector<solvan_star> find(solvan_raw_type type, const void* data, int w, int h, int radius,
                              int maxStars) {
    std::vector<solvan_star> stars(std::max(maxStars, 1));
    uint32_t found = 12345;
    EXPECT_EQ(solvan_find_stars_refined(type, data, radius, w, h, maxStars, stars.data(), &found),
              SOLVAN_OK);
    stars.resize(found);
    return stars;
}
std::vector<solvan_star> find(const RawFrame& f, int radius, int maxStars) {
    return find(f.layout.type, f.data(), f.width, f.height, radius, maxStars);
}

// Sky with noise, Gaussian and flat-topped stars (some saturated, some touching the edge),
// lone hot pixels and pairs of equal peaks.
RawFrame randomFrame(std::mt19937& random, const RawLayout& layout, int w, int h) {
    const double top = layout.sixteenBit ? 65535 : 255;
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<double> sky(size_t(w) * h);
    const double background = top * (0.02 + 0.1 * unit(random));
    std::normal_distribution<double> noise(0, background * 0.05 * unit(random));
    for (double& v : sky)
        v = background + noise(random);
    const int count = int(random() % 25);
    for (int s = 0; s < count; ++s) {
        const double cx = unit(random) * w, cy = unit(random) * h;
        const double sigma = 0.6 + 3 * unit(random), amplitude = top * 1.5 * unit(random);
        const bool flat = random() % 4 == 0;
        const int reach = int(4 * sigma) + 2;
        for (int y = std::max(0, int(cy) - reach); y < std::min(h, int(cy) + reach); ++y)
            for (int x = std::max(0, int(cx) - reach); x < std::min(w, int(cx) + reach); ++x) {
                const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                sky[size_t(y) * w + x] += flat ? (r2 < sigma * sigma * 4 ? amplitude / 2 : 0)
                                               : amplitude * std::exp(-r2 / (2 * sigma * sigma));
            }
    }
    for (int k = int(random() % 10); k > 0; --k)
        sky[random() % sky.size()] = top;
    RawFrame f(layout, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {  // colour layouts: unequal channels around the value
            const uint32_t v =
                uint32_t(std::clamp(std::lround(sky[size_t(y) * w + x]), 0L, long(top)));
            f.set(x, y, v, std::min<uint32_t>(v + random() % 3, uint32_t(top)),
                  v > 2 ? v - random() % 3 : v);
        }
    return f;
}

// Every field equal, in the same order.
void expectSame(const std::vector<solvan_star>& a, const std::vector<solvan_star>& b,
                const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    auto fields = [](const solvan_star& s) {
        return std::tuple(s.x, s.y, s.ncdist, s.lum, s.oversaturated);
    };
    for (size_t k = 0; k < a.size(); ++k)
        EXPECT_TRUE(fields(a[k]) == fields(b[k])) << what << " star " << k;
}

TEST(FindStars, SameStarsAsTheLiteralSearchOnRandomFrames) {
    std::mt19937 random(2024);
    const std::vector<std::pair<int, int>> sizes = {{4, 4},   {5, 9},    {12, 7},  {40, 100},
                                                    {64, 48}, {130, 81}, {97, 79}, {250, 160}};
    int stars = 0;
    for (int round = 0; round < 1500; ++round) {
        const RawLayout& layout = allRawLayouts()[random() % 6];
        const auto [w, h] = sizes[random() % sizes.size()];
        const RawFrame f = randomFrame(random, layout, w, h);
        const int radius = std::vector<int>{0, 0, 2, 3, 5}[random() % 5];
        const int maxStars = int(random() % 60);
        const std::vector<solvan_star> expected =
            literalFindStars(layout.type, f.data(), radius, w, h, maxStars);
        stars += int(expected.size());
        expectSame(find(f, radius, maxStars), expected,
                   std::string(layout.name) + " " + std::to_string(w) + "x" + std::to_string(h) +
                       " radius " + std::to_string(radius) + " round " + std::to_string(round));
        if (HasFailure()) return;
    }
    EXPECT_GT(stars, 3000);  // the frames did hold stars
}

// A 16-bit frame of background 1000 with "plus" stars: a centre and its four neighbours
// (so only the centre qualifies as a peak).
RawFrame plusFrame(int w, int h, const std::vector<std::array<int, 3>>& stars) {
    RawFrame f(allRawLayouts()[1], w, h);
    f.fill([](int, int) { return 1000u; });
    for (const auto& [x, y, v] : stars) {
        f.set(x, y, uint32_t(v));
        for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
            f.set(x + dx, y + dy, uint32_t(v / 2));
    }
    return f;
}

TEST(FindStars, BorderFollowsTheHeight) {
    struct Case {
        int width, height, x, y;
        size_t found;
    };
    const std::vector<Case> cases = {
        {60, 60, 30, 15, 1},  {60, 60, 30, 14, 0},  {60, 60, 44, 30, 1},  {60, 60, 45, 30, 0},
        {100, 80, 50, 20, 1}, {100, 80, 50, 19, 0}, {100, 80, 79, 40, 1}, {100, 80, 80, 40, 0},
        {40, 100, 20, 50, 0},  // border 20: no column left to search
    };
    for (const Case& c : cases) {
        const RawFrame f = plusFrame(c.width, c.height, {{c.x, c.y, 30000}});
        EXPECT_EQ(find(f, 0, 10).size(), c.found)
            << c.width << "x" << c.height << " at " << c.x << ", " << c.y;
    }
}

TEST(FindStars, TinyFramesAndRejectedArguments) {
    const RawFrame f = plusFrame(60, 60, {{30, 30, 30000}});
    solvan_star star;
    uint32_t found = 7;
    // Under 4 pixels either way, no star wanted, an unknown type, no refinement window that
    // fits the frame: nothing found, at once, without reading a pixel of the (unreadable) frame.
    const size_t bytes = size_t(4000) * 4000 * 2;
    void* unreadable = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(unreadable, MAP_FAILED);
    for (auto [type, w, h, radius, maxStars] : {std::tuple{SOLVAN_RAW_MONO16, 3, 10, 0, 5},
                                                {SOLVAN_RAW_MONO16, 10, 3, 0, 5},
                                                {SOLVAN_RAW_MONO16, 0, 5, 0, 5},
                                                {SOLVAN_RAW_MONO16, 60, 60, 0, 0},
                                                {0x41414141u, 60, 60, 0, 5},
                                                {SOLVAN_RAW_MONO16, 61, 60, 30, 5},
                                                {SOLVAN_RAW_MONO16, 60, 61, 30, 5},
                                                {SOLVAN_RAW_MONO16, 4000, 4000, 1000000, 5},
                                                {SOLVAN_RAW_MONO16, 4000, 4000, INT_MAX, 5}}) {
        found = 7;
        EXPECT_EQ(
            solvan_find_stars_refined(type, unreadable, radius, w, h, maxStars, &star, &found),
            SOLVAN_OK);
        EXPECT_EQ(found, 0u) << w << "x" << h << " radius " << radius;
    }
    munmap(unreadable, bytes);
    found = 7;
    for (auto [data, stars, count] : {std::tuple{(const void*)nullptr, &star, &found},
                                      {f.data(), nullptr, &found},
                                      {f.data(), &star, nullptr}})
        EXPECT_EQ(solvan_find_stars(SOLVAN_RAW_MONO16, data, 60, 60, 5, stars, count),
                  SOLVAN_FAILED);
    EXPECT_EQ(found, 7u);
}

TEST(FindStars, HotPixelNeverSaturatedStarFlaggedWholePixelPositions) {
    RawFrame f(allRawLayouts()[0], 100, 100);
    f.fill([](int x, int y) {
        if (x == 70 && y == 30) return 255u;  // a lone hot pixel
        const double r2 = (x - 50) * (x - 50) + (y - 50) * (y - 50);
        return uint32_t(std::lround(10 + 245 * std::exp(-r2 / 4.5)));  // 255 at the centre only
    });
    const std::vector<solvan_star> s = find(f, 0, 10);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].x, 50);
    EXPECT_EQ(s[0].y, 50);
    EXPECT_TRUE(s[0].oversaturated);
    EXPECT_EQ(s[0].ncdist, 0);
}

TEST(FindStars, RefinedPositionsAndTheDebugLines) {
    // A symmetric star on pixel (50, 40): its centroid is (50.5, 40.5) by the centroid's
    // half-pixel convention; unsaturated.
    const RawFrame f = gaussianStar(allRawLayouts()[1], 100, 90, 50, 40, 1.5, {1000, 30000});
    CapturedLog log(SOLVAN_LOG_DEBUG);
    const std::vector<solvan_star> s = find(f, 5, 10);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NEAR(s[0].x, 50.5, 1e-9);
    EXPECT_NEAR(s[0].y, 40.5, 1e-9);
    EXPECT_FALSE(s[0].oversaturated);
    EXPECT_NEAR(s[0].ncdist, std::hypot(0.5, -4.5) / 45, 1e-12);
    ASSERT_FALSE(log.lines().empty());
    char line[256];
    std::snprintf(line, sizeof line,
                  "solvan_find_stars: star #1: x = %lf, y = %lf, ncdist = %lf, lum = %lf", s[0].x,
                  s[0].y, s[0].ncdist, s[0].lum);
    EXPECT_EQ(log.lines().back(), line);
}

TEST(FindStars, BrightestFirstByLightNotByPeak) {
    // A narrow star with the higher peak is found first; the broad one holds more light.
    RawFrame f(allRawLayouts()[1], 200, 120);
    f.fill([](int x, int y) {
        const double a = (x - 50) * (x - 50) + (y - 60) * (y - 60);
        const double b = (x - 150) * (x - 150) + (y - 60) * (y - 60);
        return uint32_t(1000 + 40000 * std::exp(-a / 2) + 20000 * std::exp(-b / 32));
    });
    const std::vector<solvan_star> s = find(f, 0, 10);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].x, 150);
    EXPECT_EQ(s[1].x, 50);
    EXPECT_GT(s[0].lum, s[1].lum);
}

TEST(FindStars, NoLightGivesTheLowestDouble) {
    // T = 1350 and T2 = 1336: peak 1351, four neighbours 1351 (+1 each), and 1345 next to the
    // right neighbour, also cleared (-5): the flood sum is exactly 0.
    RawFrame f(allRawLayouts()[1], 100, 100);
    f.fill([](int, int) { return 1000u; });
    for (auto [x, y] : {std::pair{50, 50}, {49, 50}, {51, 50}, {50, 49}, {50, 51}})
        f.set(x, y, 1351);
    f.set(52, 50, 1345);
    const std::vector<solvan_star> s = find(f, 0, 10);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].lum, -DBL_MAX);
}

// source-extractor 2.25.0 on fits/a8280271.fits, made with:
//   source-extractor -dd > default.sex
//   printf 'NUMBER\nX_IMAGE\nY_IMAGE\nFLUX_AUTO\nFLUX_MAX\nFWHM_IMAGE\nFLAGS\n' > p.param
//   source-extractor a8280271.fits -c default.sex -PARAMETERS_NAME p.param -FILTER N
//       -CATALOG_NAME cat.txt -CATALOG_TYPE ASCII_HEAD
// Its bright stars: FLAGS 0, FLUX_MAX above 200 over a background near 300 (so their peaks
// rise above 1.35 times the frame's mean of 296), FWHM_IMAGE of 2 or more (this raw frame's
// many cosmic rays, which it also lists, are one pixel wide). X_IMAGE, Y_IMAGE are 1-based
// FITS pixel coordinates with pixel centres on integers.
const std::vector<std::pair<double, double>> kSourceExtractor = {
    {340.1386, 122.7458},  // FLUX_MAX 1416.7, FWHM 3.33
    {451.8727, 434.1557},  // 1269.4, 8.84
    {170.2523, 39.3030},   // 1006.8, 8.27
};

TEST(FindStars, RealFrameHoldsTheBrightSourcesOfSourceExtractor) {
    REQUIRE_TEST_FILE(testDataPath("fits/a8280271.fits"));
    long naxes[3];
    const std::vector<uint16_t> pixels =
        readFitsPixels<uint16_t>(testDataPath("fits/a8280271.fits"), TUSHORT, naxes);
    const int w = int(naxes[0]), h = int(naxes[1]);
    ASSERT_EQ(size_t(w) * h, pixels.size());
    for (int radius : {0, 5}) {
        const std::vector<solvan_star> stars =
            find(SOLVAN_RAW_MONO16, pixels.data(), w, h, radius, 50);
        // Row 0 in memory is FITS row 1; whole-pixel positions are centred like X_IMAGE - 1,
        // refined ones count pixel i as [i, i + 1).
        const double shift = radius == 0 ? 1 : 0.5;
        for (const auto& [x, y] : kSourceExtractor)
            EXPECT_TRUE(std::any_of(stars.begin(), stars.end(),
                                    [&](const solvan_star& t) {
                                        return std::hypot(t.x + shift - x, t.y + shift - y) <= 1;
                                    }))
                << "radius " << radius << ": source at " << x << ", " << y;
    }
}

}  // namespace
