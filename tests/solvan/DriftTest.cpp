// solvan_calculate_drift, solvan_correlate_fft and solvan_delete_digest: a real frame
// (a8280271.fits read through CFITSIO) cut at shifted places, by whole and by fractional pixels,
// must give its shift back through donuts digests and centroids; plus the small cases. Then
// solvan_reduce_multistar_digest (outlier rejection with its debug lines, two stars always used,
// stars whose drift fails, the limits) and solvan_guider_reponse.
#include "CapturedLog.h"
#include "FitsFiles.h"
#include "TestData.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

struct Frame16 {
    int width = 0, height = 0;
    std::vector<uint16_t> pixels;
};

// A cut of the real frame `margin` pixels in from each edge (a negative margin surrounds it
// with 0) whose pixel (x, y) is real(x + margin - dx, y + margin - dy): the sky moved by
// (dx, dy). Fractional shifts interpolate linearly between neighbours.
Frame16 cut(int margin, double dx, double dy) {
    static long naxes[3];
    static const std::vector<uint16_t> real =
        readFitsPixels<uint16_t>(testDataPath("fits/a8280271.fits"), TUSHORT, naxes);
    const int w = int(naxes[0]), h = int(naxes[1]);
    auto at = [&](int x, int y) {
        return x < 0 || y < 0 || x >= w || y >= h ? 0.0 : double(real[size_t(y) * w + x]);
    };
    Frame16 f{w - 2 * margin, h - 2 * margin, {}};
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const double sx = x + margin - dx, sy = y + margin - dy;
            const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
            const double fx = sx - x0, fy = sy - y0;
            const double v = (1 - fx) * (1 - fy) * at(x0, y0) + fx * (1 - fy) * at(x0 + 1, y0) +
                             (1 - fx) * fy * at(x0, y0 + 1) + fx * fy * at(x0 + 1, y0 + 1);
            f.pixels.push_back(uint16_t(std::lround(v)));
        }
    return f;
}

// The donuts digest (edge clipping 8) or the centroid digest of a frame.
solvan_digest digest(const Frame16& f, bool donuts) {
    solvan_digest d{};
    const uint16_t* p = f.pixels.data();
    EXPECT_EQ(donuts ? solvan_donuts_digest(SOLVAN_RAW_MONO16, p, f.width, f.height, 8, &d)
                     : solvan_frame_centroid(SOLVAN_RAW_MONO16, p, f.width, f.height, &d),
              SOLVAN_OK);
    return d;
}

// The drift from `reference` to `moved`; deletes `moved`.
std::pair<double, double> drift(const solvan_digest& reference, solvan_digest moved) {
    double dx = 99, dy = 99;
    EXPECT_EQ(solvan_calculate_drift(&reference, &moved, &dx, &dy), SOLVAN_OK);
    solvan_delete_digest(&moved);
    return {dx, dy};
}

TEST(Drift, DonutsDriftOfAShiftedRealFrame) {
    REQUIRE_TEST_FILE(testDataPath("fits/a8280271.fits"));
    solvan_digest ref = digest(cut(12, 0, 0), true);
    EXPECT_EQ(ref.width, 512);  // 536 - 24 - 16 = 496 -> 512
    EXPECT_GT(ref.snr, 0);
    for (auto [sx, sy] :
         {std::pair{0.0, 0.0}, {3.0, -2.0}, {-5.0, 7.0}, {1.5, -0.5}, {0.25, 2.75}, {-2.4, -1.3}}) {
        const auto [dx, dy] = drift(ref, digest(cut(12, sx, sy), true));
        EXPECT_NEAR(dx, sx, 0.1) << sx << ", " << sy;
        EXPECT_NEAR(dy, sy, 0.1) << sx << ", " << sy;
    }
    solvan_delete_digest(&ref);
}

TEST(Drift, CentroidDriftIsExactForWholePixelShifts) {
    REQUIRE_TEST_FILE(testDataPath("fits/a8280271.fits"));
    // The frame inside a black surround, moved as a whole: every pixel keeps its value.
    const auto [dx, dy] = drift(digest(cut(-20, 0, 0), false), digest(cut(-20, 7, -3), false));
    EXPECT_NEAR(dx, 7, 1e-9);
    EXPECT_NEAR(dy, -3, 1e-9);
}

// A centroid digest at (x, y) of a frame of the given size.
solvan_digest centroid(double x, double y, int width = 640, int height = 480) {
    solvan_digest d{};
    d.algorithm = SOLVAN_DIGEST_CENTROID;
    d.width = width, d.height = height;
    d.centroid_x = x, d.centroid_y = y;
    return d;
}

TEST(Drift, CentroidDigestsAndTheirRejections) {
    solvan_digest a = centroid(10.5, 20.5, 100, 80), b = centroid(12.0, 19.5, 100, 80);
    double dx = 0, dy = 0;
    ASSERT_EQ(solvan_calculate_drift(&a, &b, &dx, &dy), SOLVAN_OK);
    EXPECT_EQ(dx, 1.5);
    EXPECT_EQ(dy, -1.0);

    // Rejections leave the places alone.
    struct Case {
        int32_t width;
        uint32_t algorithmA, algorithmB;
    };
    for (const Case c :
         {Case{101, 1, 1}, Case{100, 3, 3}, Case{100, 0, 0}, Case{100, 2, 1}, Case{100, 1, 2}}) {
        solvan_digest p = a, q = b;
        q.width = c.width;
        p.algorithm = c.algorithmA, q.algorithm = c.algorithmB;
        dx = dy = 42;
        EXPECT_EQ(solvan_calculate_drift(&p, &q, &dx, &dy), SOLVAN_FAILED);
        EXPECT_EQ(dx, 42);
        EXPECT_EQ(dy, 42);
    }
    EXPECT_EQ(solvan_calculate_drift(nullptr, &b, &dx, &dy), SOLVAN_FAILED);
    EXPECT_EQ(solvan_calculate_drift(&a, &b, &dx, nullptr), SOLVAN_FAILED);

    // Deleting a centroid digest zeroes its header only.
    EXPECT_EQ(solvan_delete_digest(&a), SOLVAN_OK);
    EXPECT_TRUE(a.algorithm == 0 && a.width == 0 && a.height == 0 && a.centroid_x == 10.5);
    EXPECT_EQ(solvan_delete_digest(nullptr), SOLVAN_FAILED);
}

// Spectrum of a real profile of n samples, by the library's own FFT (checked in FftTest).
std::vector<double> spectrum(const std::vector<double>& profile) {
    const int n = int(profile.size());
    std::vector<double> in(2 * n), out(2 * n), scratch(2 * n);
    for (int k = 0; k < n; ++k)
        in[2 * k] = profile[k];
    solvan_fft(n, 0, 1, in.data(), out.data(), scratch.data());
    return out;
}

TEST(Drift, CorrelationIsTheCircularCrossCorrelation) {
    const std::vector<double> a = {0, 1, 5, 2, 0, 0, 3, 0}, b = {2, 0, 0, 1, 0, 4, 1, 0};
    std::vector<double> c(16);
    solvan_correlate_fft(8, spectrum(a).data(), spectrum(b).data(), c.data());
    for (int s = 0; s < 8; ++s) {  // c[s] = sum_j a[j + s] b[j]
        double direct = 0;
        for (int j = 0; j < 8; ++j)
            direct += a[(j + s) % 8] * b[j];
        EXPECT_NEAR(c[2 * s], direct, 1e-12) << s;
        EXPECT_NEAR(c[2 * s + 1], 0, 1e-12) << s;
    }
    std::vector<double> untouched(6, 9);
    solvan_correlate_fft(3, a.data(), b.data(), untouched.data());
    EXPECT_EQ(untouched, std::vector<double>(6, 9));
}

TEST(Drift, CorrelationPeaksAndTheirParabola) {
    // Donuts-like digests holding the spectra of a profile (x and y alike).
    auto digestOf = [](const std::vector<double>& profile) {
        solvan_digest d{};
        d.algorithm = SOLVAN_DIGEST_DONUTS;
        d.width = d.height = int(profile.size());
        const std::vector<double> s = spectrum(profile);
        d.fft_x = static_cast<double*>(solvan_safe_malloc(s.size() * sizeof(double)));
        d.fft_y = static_cast<double*>(solvan_safe_malloc(s.size() * sizeof(double)));
        std::copy(s.begin(), s.end(), d.fft_x);
        std::copy(s.begin(), s.end(), d.fft_y);
        return d;
    };
    const std::vector<double> star = {0, 0, 0, 1, 4, 9, 4, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::pair<int, double> shifts[] = {
        {0, 0},             // a symmetric correlation around 0
        {-1, -1},           // the peak at n - 1, with neighbours n - 2 and 0
        {3, 3},   {8, -8},  // the peak at n / 2, with neighbours 7 and 9: the upper half
        {9, -7},
    };
    const std::vector<double> flat(16, 1);
    solvan_digest s = digestOf(star), f = digestOf(flat);
    for (auto [shift, expected] : shifts) {
        std::vector<double> moved(16);  // the star moved `shift` places, around the circle
        for (int k = 0; k < 16; ++k)
            moved[k] = star[(k - shift + 16) % 16];
        const auto [dx, dy] = drift(s, digestOf(moved));
        EXPECT_NEAR(dx, expected, 1e-12) << shift;
        EXPECT_NEAR(dy, expected, 1e-12) << shift;
    }
    // A flat correlation: three points on a line, no vertex: the peak index itself.
    EXPECT_EQ(drift(f, digestOf(flat)).first, 0);
    for (solvan_digest* d : {&s, &f}) {
        EXPECT_EQ(solvan_delete_digest(d), SOLVAN_OK);
        EXPECT_EQ(d->algorithm, 0u);
        EXPECT_EQ(solvan_delete_digest(d), SOLVAN_OK);  // twice is harmless
    }
}

const std::string kMultistar = "solvan_reduce_multistar_digest: ";

// solvan_reduce_multistar_digest from `base` over stars at (10 i, 5) that moved by drifts[i]
// along x; a star listed in `failing` moved into a frame of another size (its drift fails).
int reduce(const solvan_digest& base, const std::vector<double>& drifts, solvan_digest* result,
           const std::vector<size_t>& failing = {}) {
    std::vector<solvan_digest> references, currents;
    for (size_t i = 0; i < drifts.size(); ++i) {
        const bool fails = std::count(failing.begin(), failing.end(), i) > 0;
        references.push_back(centroid(10.0 * i, 5));
        currents.push_back(centroid(10.0 * i + drifts[i], 5, fails ? 1000 : 640));
    }
    return solvan_reduce_multistar_digest(&base, references.data(), currents.data(),
                                          int(drifts.size()), result);
}

TEST(Multistar, TheOutlierIsSkipped) {
    const solvan_digest base = centroid(100, 200);
    solvan_digest result{};
    CapturedLog log(SOLVAN_LOG_DEBUG);
    ASSERT_EQ(reduce(base, {1.0, 1.1, 0.9, 5.0}, &result), SOLVAN_OK);
    EXPECT_EQ(result.algorithm, 1u);
    EXPECT_EQ(result.width, 640);
    EXPECT_NEAR(result.centroid_x, 101.0, 1e-12);
    EXPECT_NEAR(result.centroid_y, 200.0, 1e-12);
    std::vector<std::string> expected = {
        "average = 2.0000 stddev = 1.7335",
        "++ Used star [0] drift = 1.0000",
        "++ Used star [1] drift = 1.1000",
        "++ Used star [2] drift = 0.9000",
        "-- Skip star [3] drift = 5.0000",
        "== Result using 3 of 4 stars. Drifts = ( 1.000, 0.000 ) digest = ( 101.000, 200.000 )",
    };
    for (std::string& line : expected)
        line = kMultistar + line;
    EXPECT_EQ(log.lines(), expected);
}

TEST(Multistar, TwoStarsAlwaysUsedFailingStarsLeftOutAndTheLimits) {
    struct Case {
        std::vector<double> drifts;
        std::vector<size_t> failing;  // stars whose own drift fails
        int result;
        double x, width;  // the result's centroid x and width; -5 and 3 when nothing is written
    };
    const Case cases[] = {
        {{0.1, 50}, {}, SOLVAN_OK, 25.05, 640},                // two stars: both used
        {{1.0, 1.2, 30}, {2}, SOLVAN_OK, 1.1, 640},            // the two valid stars: both used
        {{1.0, 1.2, 30}, {0, 1, 2}, SOLVAN_NO_STAR, 0, 1000},  // at the base centroid
        {{1.0, NAN, 1.2, 1.1, INFINITY}, {}, SOLVAN_OK, 1.1, 640},  // not finite: left out
        {std::vector<double>(12, 1), {}, SOLVAN_OK, 1, 640},        // twelve is the most
        {std::vector<double>(13, 1), {}, SOLVAN_FAILED, -5, 3},
        {{}, {}, SOLVAN_FAILED, -5, 3},
    };
    for (const Case& c : cases) {
        solvan_digest result = centroid(-5, -5, 3, 3);
        CapturedLog log(SOLVAN_LOG_DEBUG);
        EXPECT_EQ(reduce(centroid(0, 0), c.drifts, &result, c.failing), c.result);
        EXPECT_NEAR(result.centroid_x, c.x, 1e-12) << c.drifts.size() << " stars";
        EXPECT_EQ(result.width, c.width) << c.drifts.size() << " stars";
        if (c.failing.size() == 1) {  // the failing star takes no part in the average either
            EXPECT_EQ(log.lines().front(), kMultistar + "average = 1.1000 stddev = 0.1000");
        }
    }
}

TEST(Multistar, RejectedArgumentsWriteNothing) {
    const solvan_digest base = centroid(0, 0);
    solvan_digest donuts = base, result = centroid(-5, -5, 3, 3);
    donuts.algorithm = SOLVAN_DIGEST_DONUTS;
    std::vector<solvan_digest> stars(3, centroid(0, 5)), odd = stars;
    odd[0].algorithm = 2;
    using Arguments = std::pair<const solvan_digest*, const solvan_digest*>;
    for (auto [b, references] : {Arguments{&donuts, stars.data()}, Arguments{nullptr, stars.data()},
                                 Arguments{&base, odd.data()}})
        EXPECT_EQ(solvan_reduce_multistar_digest(b, references, stars.data(), 3, &result),
                  SOLVAN_FAILED);
    EXPECT_EQ(result.centroid_x, -5);
    EXPECT_EQ(solvan_reduce_multistar_digest(&base, stars.data(), stars.data(), 3, nullptr),
              SOLVAN_FAILED);
}

TEST(GuiderResponse, ProportionalAndIntegral) {
    CapturedLog log(SOLVAN_LOG_DEBUG);
    EXPECT_DOUBLE_EQ(solvan_guider_reponse(0.5, 0.1, 1, 2, 1), -1.1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0],
              "solvan_guider_reponse(): P = 0.5000, I = 0.1000, response = -1.1000, drift = "
              "2.0000, avg_drift = 1.0000");
    EXPECT_DOUBLE_EQ(solvan_guider_reponse(0.7, 0.2, 3, -1, 0.5), 0.4);  // -(-0.7 + 0.3)
}

}  // namespace
