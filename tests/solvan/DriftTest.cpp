// solvan_calculate_drift, solvan_correlate_fft and solvan_delete_digest: a real frame
// (a8280271.fits read through CFITSIO) cut at shifted places, by whole and by fractional pixels,
// must give its shift back through donuts digests and centroids; plus the small cases.
#include "FitsFiles.h"
#include "TestData.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(Drift, DonutsDriftOfAShiftedRealFrame) {
    REQUIRE_TEST_FILE(testDataPath("fits/a8280271.fits"));
    auto donuts = [](const Frame16& f) {
        solvan_digest d{};
        EXPECT_EQ(
            solvan_donuts_digest(SOLVAN_RAW_MONO16, f.pixels.data(), f.width, f.height, 8, &d),
            SOLVAN_OK);
        return d;
    };
    solvan_digest ref = donuts(cut(12, 0, 0));
    EXPECT_EQ(ref.width, 512);  // 536 - 24 - 16 = 496 -> 512
    EXPECT_GT(ref.snr, 0);
    for (auto [sx, sy] :
         {std::pair{0.0, 0.0}, {3.0, -2.0}, {-5.0, 7.0}, {1.5, -0.5}, {0.25, 2.75}, {-2.4, -1.3}}) {
        solvan_digest moved = donuts(cut(12, sx, sy));
        double dx = 99, dy = 99;
        ASSERT_EQ(solvan_calculate_drift(&ref, &moved, &dx, &dy), SOLVAN_OK);
        EXPECT_NEAR(dx, sx, 0.1) << sx << ", " << sy;
        EXPECT_NEAR(dy, sy, 0.1) << sx << ", " << sy;
        solvan_delete_digest(&moved);
    }
    solvan_delete_digest(&ref);
}

TEST(Drift, CentroidDriftIsExactForWholePixelShifts) {
    REQUIRE_TEST_FILE(testDataPath("fits/a8280271.fits"));
    // The frame inside a black surround, moved as a whole: every pixel keeps its value.
    solvan_digest d[2];
    const Frame16 frames[2] = {cut(-20, 0, 0), cut(-20, 7, -3)};
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(solvan_frame_centroid(SOLVAN_RAW_MONO16, frames[i].pixels.data(), frames[i].width,
                                        frames[i].height, &d[i]),
                  SOLVAN_OK);
    double dx, dy;
    ASSERT_EQ(solvan_calculate_drift(&d[0], &d[1], &dx, &dy), SOLVAN_OK);
    EXPECT_NEAR(dx, 7, 1e-9);
    EXPECT_NEAR(dy, -3, 1e-9);
}

TEST(Drift, CentroidDigestsAndTheirRejections) {
    solvan_digest a{}, b{};
    a.algorithm = b.algorithm = SOLVAN_DIGEST_CENTROID;
    a.width = b.width = 100, a.height = b.height = 80;
    a.centroid_x = 10.5, a.centroid_y = 20.5, b.centroid_x = 12.0, b.centroid_y = 19.5;
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
    EXPECT_EQ(a.algorithm, 0u);
    EXPECT_EQ(a.width, 0);
    EXPECT_EQ(a.height, 0);
    EXPECT_EQ(a.centroid_x, 10.5);
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
    std::vector<double> left(16);  // moved one place down: the peak at n - 1
    for (int k = 0; k < 16; ++k)
        left[k] = star[(k + 1) % 16];
    solvan_digest s = digestOf(star), l = digestOf(left), f = digestOf(std::vector<double>(16, 1));
    double dx, dy;
    ASSERT_EQ(solvan_calculate_drift(&s, &s, &dx, &dy), SOLVAN_OK);
    EXPECT_NEAR(dx, 0, 1e-12);  // symmetric correlation around 0
    ASSERT_EQ(solvan_calculate_drift(&s, &l, &dx, &dy), SOLVAN_OK);
    EXPECT_NEAR(dx, -1, 1e-12);
    EXPECT_NEAR(dy, -1, 1e-12);
    // A flat correlation: three points on a line, no vertex: the peak index itself.
    ASSERT_EQ(solvan_calculate_drift(&f, &f, &dx, &dy), SOLVAN_OK);
    EXPECT_EQ(dx, 0);
    for (solvan_digest* d : {&s, &l, &f}) {
        EXPECT_EQ(solvan_delete_digest(d), SOLVAN_OK);
        EXPECT_EQ(d->algorithm, 0u);
        EXPECT_EQ(solvan_delete_digest(d), SOLVAN_OK);  // twice is harmless
    }
}

}  // namespace
