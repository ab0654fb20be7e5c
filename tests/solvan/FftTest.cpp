// solvan_fft against a direct DFT for every power of two up to 4096, packed and with offset
// and stride, the two small examples, and the sizes it leaves alone.
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
    for (size_t k = 0; k < n; ++k)
        for (size_t j = 0; j < n; ++j)
            out[k] += in[j] * std::polar(1.0, -2 * M_PI * double((j * k) % n) / double(n));
    return out;
}

// solvan_fft of `samples` placed at elements offset, offset + stride, ... of a larger array;
// the places outside the selection must keep their value.
std::vector<Complex> fft(const std::vector<Complex>& samples, int offset, int stride) {
    const int n = int(samples.size()), size = 2 * (offset + stride * n);
    std::vector<double> in(size, 5), out(size, -7), scratch(size);
    for (int k = 0; k < n; ++k) {
        in[2 * (offset + stride * k)] = samples[k].real();
        in[2 * (offset + stride * k) + 1] = samples[k].imag();
    }
    solvan_fft(n, offset, stride, in.data(), out.data(), scratch.data());
    std::vector<Complex> result(n);
    for (int i = 0; i < size / 2; ++i) {
        if (i >= offset && (i - offset) % stride == 0)
            result[(i - offset) / stride] = {out[2 * i], out[2 * i + 1]};
        else
            EXPECT_TRUE(out[2 * i] == -7 && out[2 * i + 1] == -7) << "element " << i;
    }
    return result;
}

TEST(Fft, MatchesADirectDftForEveryPowerOfTwo) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-100, 100);
    for (int n = 2; n <= 4096; n *= 2) {
        std::vector<Complex> samples(n);
        for (Complex& c : samples)
            c = {value(random), value(random)};
        const std::vector<Complex> expected = directDft(samples);
        for (auto [offset, stride] : {std::pair{0, 1}, {1, 3}}) {
            const std::vector<Complex> got = fft(samples, offset, stride);
            double largest = 0, error = 0;
            for (int k = 0; k < n; ++k) {
                largest = std::max(largest, std::abs(expected[k]));
                error = std::max(error, std::abs(got[k] - expected[k]));
            }
            EXPECT_LT(error / largest, 1e-9) << "n = " << n << ", stride " << stride;
        }
    }
}

TEST(Fft, SmallExamples) {
    const std::vector<std::pair<std::vector<Complex>, std::vector<Complex>>> cases = {
        {{1, 0, 0, 0}, {1, 1, 1, 1}}, {{1, 1, 1, 1}, {4, 0, 0, 0}}};
    for (const auto& [in, out] : cases) {
        const std::vector<Complex> got = fft(in, 0, 1);
        for (int k = 0; k < 4; ++k)
            EXPECT_LT(std::abs(got[k] - out[k]), 1e-15) << k;
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
