// Whole-frame star routines of the support library on a 6000 x 4000 16-bit sky (24 megapixels):
// the star finder against the literal search of the tests, the frame deviation and the donuts
// digest against a one-thread read of the frame.
//
// Run with QUASEL_BENCH_FITS=path to also write the frame as a FITS file (BITPIX 16, BZERO
// 32768) for timing source-extractor on the same pixels.
#include "../tests/solvan/LiteralFindStars.h"
#include "solvan_raw_utils.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int W = 6000, H = 4000;

// Background 1000 with a gentle gradient and noise of about 20, 200 Gaussian stars (sigma 1.2
// to 3.2, peaks up to beyond full scale, so some saturate) and 50 hot pixels.
const std::vector<uint16_t>& sky() {
    static const std::vector<uint16_t> frame = [] {
        std::vector<double> v(size_t(W) * H);
        uint64_t state = 0x9e3779b97f4a7c15ull;
        auto next = [&] {  // xorshift64*
            state ^= state >> 12, state ^= state << 25, state ^= state >> 27;
            return (state * 0x2545f4914f6cdd1dull) >> 11;
        };
        auto unit = [&] { return double(next()) / double(1ull << 53); };
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                v[size_t(y) * W + x] =
                    1000 + 0.02 * x + 0.01 * y + 20 * (unit() + unit() + unit() - 1.5) * 2;
        for (int s = 0; s < 200; ++s) {
            const double cx = 30 + unit() * (W - 60), cy = 30 + unit() * (H - 60);
            const double sigma = 1.2 + 2 * unit(), amplitude = 2000 + 80000 * unit() * unit();
            for (int y = int(cy) - 15; y <= int(cy) + 15; ++y)
                for (int x = int(cx) - 15; x <= int(cx) + 15; ++x) {
                    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    v[size_t(y) * W + x] += amplitude * std::exp(-r2 / (2 * sigma * sigma));
                }
        }
        for (int k = 0; k < 50; ++k)
            v[next() % v.size()] = 65535;
        std::vector<uint16_t> f(v.size());
        for (size_t i = 0; i < v.size(); ++i)
            f[i] = uint16_t(std::lround(std::min(v[i], 65535.0)));
        if (const char* path = std::getenv("QUASEL_BENCH_FITS")) {
            // A minimal FITS file: one 2880-byte header block, big-endian signed samples.
            std::string header;
            auto card = [&](const std::string& text) {
                header += text + std::string(80 - text.size(), ' ');
            };
            card("SIMPLE  =                    T");
            card("BITPIX  =                   16");
            card("NAXIS   =                    2");
            card("NAXIS1  =                 6000");
            card("NAXIS2  =                 4000");
            card("BZERO   =                32768");
            card("BSCALE  =                    1");
            card("END");
            header.resize(2880, ' ');
            std::vector<uint8_t> data(f.size() * 2);
            for (size_t i = 0; i < f.size(); ++i) {
                const uint16_t s = uint16_t(f[i] ^ 0x8000);  // minus 32768, two's complement
                data[2 * i] = uint8_t(s >> 8), data[2 * i + 1] = uint8_t(s);
            }
            data.resize((data.size() + 2879) / 2880 * 2880, 0);
            if (FILE* out = std::fopen(path, "wb")) {
                std::fwrite(header.data(), 1, header.size(), out);
                std::fwrite(data.data(), 1, data.size(), out);
                std::fclose(out);
            }
        }
        return f;
    }();
    return frame;
}

void BM_MemoryFloor24MP(benchmark::State& state) {
    const std::vector<uint16_t>& f = sky();
    for (auto _ : state) {
        uint64_t sum = 0;
        const auto* p = reinterpret_cast<const uint8_t*>(f.data());
        const size_t words = f.size() * 2 / 8;
        for (size_t i = 0; i < words; ++i) {
            uint64_t w;
            std::memcpy(&w, p + 8 * i, 8);
            sum += w;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()) * 2);
}
BENCHMARK(BM_MemoryFloor24MP)->Unit(benchmark::kMillisecond);

void BM_FrameStddev24MP(benchmark::State& state) {
    const std::vector<uint16_t>& f = sky();
    for (auto _ : state) {
        bool saturated = false;
        benchmark::DoNotOptimize(
            solvan_frame_stddev(SOLVAN_RAW_MONO16, f.data(), W, H, &saturated));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()) * 2);
}
BENCHMARK(BM_FrameStddev24MP)->Unit(benchmark::kMillisecond);

void BM_DonutsDigest24MP(benchmark::State& state) {
    const std::vector<uint16_t>& f = sky();
    for (auto _ : state) {
        solvan_digest d{};
        benchmark::DoNotOptimize(solvan_donuts_digest(SOLVAN_RAW_MONO16, f.data(), W, H, 0, &d));
        solvan_delete_digest(&d);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()) * 2);
}
BENCHMARK(BM_DonutsDigest24MP)->Unit(benchmark::kMillisecond);

void BM_FindStars24MP(benchmark::State& state) {
    const std::vector<uint16_t>& f = sky();
    std::vector<solvan_star> stars(50);
    uint32_t found = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(solvan_find_stars_refined(
            SOLVAN_RAW_MONO16, f.data(), int(state.range(0)), W, H, 50, stars.data(), &found));
    state.counters["found"] = found;
}
BENCHMARK(BM_FindStars24MP)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_FindStarsLiteral24MP(benchmark::State& state) {
    const std::vector<uint16_t>& f = sky();
    size_t found = 0;
    for (auto _ : state)
        found = literalFindStars(SOLVAN_RAW_MONO16, f.data(), int(state.range(0)), W, H, 50).size();
    state.counters["found"] = double(found);
}
BENCHMARK(BM_FindStarsLiteral24MP)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
