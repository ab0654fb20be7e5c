// Star routines of the support library on a 16-bit frame: the whole-frame centroid, the
// selection centroid of a click (radius 10) and the PSF measurement (radius 4).
#include "solvan_raw_utils.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A frame of `size` x `size` 16-bit pixels: background 1000 and one star at the middle.
std::vector<uint16_t> starFrame(int size) {
    std::vector<uint16_t> frame(size_t(size) * size);
    const double c = size / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double r2 = (x - c) * (x - c) + (y - c) * (y - c);
            frame[size_t(y) * size + x] = uint16_t(1000 + 30000 * std::exp(-r2 / 8));
        }
    return frame;
}

void frameCentroid(benchmark::State& state) {
    const int size = int(state.range(0));
    const std::vector<uint16_t> frame = starFrame(size);
    solvan_digest digest{};
    for (auto _ : state)
        benchmark::DoNotOptimize(
            solvan_frame_centroid(SOLVAN_RAW_MONO16, frame.data(), size, size, &digest));
    state.SetItemsProcessed(state.iterations() * int64_t(size) * size);
}
BENCHMARK(frameCentroid)->Arg(1024)->Arg(4096);

void selectionCentroid(benchmark::State& state) {
    const std::vector<uint16_t> frame = starFrame(512);
    solvan_digest digest{};
    for (auto _ : state) {
        double x = 258.3, y = 254.1;
        benchmark::DoNotOptimize(solvan_selection_centroid(SOLVAN_RAW_MONO16, frame.data(), &x, &y,
                                                           10, 512, 512, &digest));
    }
}
BENCHMARK(selectionCentroid);

void measurePsf(benchmark::State& state) {
    const std::vector<uint16_t> frame = starFrame(512);
    double fwhm, hfd, peak;
    for (auto _ : state)
        benchmark::DoNotOptimize(solvan_measure_psf(SOLVAN_RAW_MONO16, frame.data(), 256, 256, 4,
                                                    512, 512, &fwhm, &hfd, &peak));
}
BENCHMARK(measurePsf);

}  // namespace

BENCHMARK_MAIN();
