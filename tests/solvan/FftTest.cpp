// solvan_fft against a direct DFT for every power of two up to 4096, with offset and stride,
// the two small examples, and the sizes it leaves alone.
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

using Complex = std::complex<double>;

std::vector<Complex> directDft(const std::vector<Complex>& in) {
    const size_t n = in.size();
    std::vector<Complex> out(n);
    for (size_t k = 0; k < n; ++k) {
        Complex sum = 0;
        for (size_t j = 0; j < n; ++j)
            sum += in[j] * std::polar(1.0, -2 * M_PI * double((j * k) % n) / double(n));
        out[k] = sum;
    }
    return out;
}

TEST(Fft, MatchesADirectDftForEveryPowerOfTwo) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-100, 100);
    for (int n = 2; n <= 4096; n *= 2) {
        std::vector<Complex> samples(n);
        for (Complex& c : samples)
            c = {value(random), value(random)};
        std::vector<double> in(2 * n), out(2 * n), scratch(2 * n);
        for (int k = 0; k < n; ++k)
            in[2 * k] = samples[k].real(), in[2 * k + 1] = samples[k].imag();
        solvan_fft(n, 0, 1, in.data(), out.data(), scratch.data());
        const std::vector<Complex> expected = directDft(samples);
        double largest = 0, error = 0;
        for (int k = 0; k < n; ++k) {
            largest = std::max(largest, std::abs(expected[k]));
            error = std::max(error, std::abs(Complex(out[2 * k], out[2 * k + 1]) - expected[k]));
        }
        EXPECT_LT(error / largest, 1e-9) << "n = " << n;
    }
}

TEST(Fft, OffsetAndStrideSelectTheElements) {
    // Elements 1, 4, 7, 10 of a larger array: offset 1, stride 3.
    std::vector<double> in(2 * 12), out(2 * 12, -7), scratch(2 * 12);
    const std::vector<Complex> samples = {{1, 2}, {3, -1}, {0.5, 0}, {-2, 4}};
    for (int k = 0; k < 4; ++k)
        in[2 * (1 + 3 * k)] = samples[k].real(), in[2 * (1 + 3 * k) + 1] = samples[k].imag();
    solvan_fft(4, 1, 3, in.data(), out.data(), scratch.data());
    const std::vector<Complex> expected = directDft(samples);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(out[2 * (1 + 3 * k)], expected[k].real(), 1e-12);
        EXPECT_NEAR(out[2 * (1 + 3 * k) + 1], expected[k].imag(), 1e-12);
    }
    EXPECT_EQ(out[0], -7);  // places outside the selection untouched
}

TEST(Fft, SmallExamples) {
    struct Case {
        std::vector<double> in, out;  // real parts; imaginary parts 0
    };
    for (const Case& c :
         std::vector<Case>{{{1, 0, 0, 0}, {1, 1, 1, 1}}, {{1, 1, 1, 1}, {4, 0, 0, 0}}}) {
        std::vector<double> in(8), out(8), scratch(8);
        for (int k = 0; k < 4; ++k)
            in[2 * k] = c.in[k];
        solvan_fft(4, 0, 1, in.data(), out.data(), scratch.data());
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(out[2 * k], c.out[k], 1e-15);
            EXPECT_NEAR(out[2 * k + 1], 0, 1e-15);
        }
    }
}

TEST(Fft, SizesThatAreNoPowerOfTwoLeaveTheOutputAlone) {
    for (int n : {-4, 0, 1, 3, 6, 12}) {
        std::vector<double> in(32, 1), out(32, -3), scratch(32, -5);
        solvan_fft(n, 0, 1, in.data(), out.data(), scratch.data());
        EXPECT_EQ(out, std::vector<double>(32, -3)) << n;
        EXPECT_EQ(scratch, std::vector<double>(32, -5)) << n;
    }
}

}  // namespace
