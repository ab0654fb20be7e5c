// Rendering and histogram speed on a 6000 x 4000 frame (a 24-megapixel sensor).
//
// BM_MemoryFloor copies the same source bytes into the same output bytes with memcpy, in one
// pass on one thread: the cost of merely touching the memory. Each render is reported as a
// ratio to the floor of its layout (see README.md). The Reference benchmarks run the plain
// per-value loop of the tests for comparison. The GPU benchmarks run the OpenCL pass on the
// CPU OpenCL device (PoCL), for context only: PoCL is the same cores.
#include "../tests/image/ReferenceRender.h"
#include "../tests/image/SyntheticImage.h"
#include "MetalDevice.h"
#include "ParallelRows.h"
#include "Settings.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstring>
#include <random>

namespace {

constexpr int64_t W = 6000, H = 4000;

// A sky-like frame: background with noise and a gradient, a sprinkling of saturated stars.
std::vector<uint8_t> skyPixels(int64_t bitsPerPixel) {
    const bool sixteen = bitsPerPixel == 16 || bitsPerPixel == 48;
    const int64_t samples = W * H * (bitsPerPixel / (sixteen ? 16 : 8));
    const int64_t spp = samples / (W * H);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0, sixteen ? 300 : 6);
    const double full = sixteen ? 65535 : 255;
    std::vector<uint8_t> bytes(size_t(samples) * (sixteen ? 2 : 1));
    for (int64_t i = 0; i < samples; ++i) {
        const int64_t y = (i / spp) / W;
        double v = full * (0.03 + 0.02 * double(y) / H) + noise(rng);
        if (rng() % 5000 == 0) v = full;
        v = std::clamp(v, 0.0, full);
        if (sixteen) {
            const uint16_t s = uint16_t(v);
            std::memcpy(&bytes[size_t(2 * i)], &s, 2);
        } else {
            bytes[size_t(i)] = uint8_t(v);
        }
    }
    return bytes;
}

struct Frame {
    std::vector<uint8_t> pixels;
    ImagePtr image;
};

// The render path for the frames made and rendered next: the CPU path ("useGPU" off), or the
// GPU pass on the CPU OpenCL device. The GPU benchmarks run last, so no frame keeps buffers
// of a context that was replaced.
void choosePath(bool gpu) {
    static int current = -1;
    if (current == int(gpu)) return;
    current = int(gpu);
    qputenv("QUASEL_OPENCL_DEVICE_TYPE", "cpu");
    userDefaults().setVolatileObject("useGPU", gpu);
    resetMetalForTesting();
}

// One prepared frame per layout, pattern and path: histogram run, automatic points set.
Frame& frame(int64_t bitsPerPixel, int64_t pattern, bool gpu = false) {
    static std::map<std::tuple<int64_t, int64_t, bool>, Frame> frames;
    choosePath(gpu);
    Frame& f = frames[{bitsPerPixel, pattern, gpu}];
    if (!f.image) {
        f.pixels = skyPixels(bitsPerPixel);
        f.image = syntheticImage(bitsPerPixel, W, H, f.pixels);
        f.image->_debayer = pattern;
        f.image->_awb = pattern != DebayerRaw;
        f.image->histogram();
        f.image->_blackPoint = f.image->autoBlackPoint;
        f.image->_whitePoint = f.image->autoWhitePoint;
    }
    return f;
}

void renderLoop(benchmark::State& state, int64_t bitsPerPixel, int64_t pattern, bool gpu = false) {
    Image& image = *frame(bitsPerPixel, pattern, gpu).image;
    for (auto _ : state) {
        image.cached = QImage();
        benchmark::DoNotOptimize(image.renderedImage().constBits());
        if (image.stretchedOnGPU != gpu) {
            state.SkipWithError(gpu ? "no OpenCL pass (is PoCL installed?)" : "GPU pass ran");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * W * H * (bitsPerPixel / 8 + 3));
}

void BM_Render16Mono(benchmark::State& state) {
    renderLoop(state, 16, DebayerRaw);
}
void BM_Render16Bayer(benchmark::State& state) {
    renderLoop(state, 16, DebayerRGGB);
}
void BM_Render16MonoGPU(benchmark::State& state) {
    renderLoop(state, 16, DebayerRaw, true);
}
void BM_Render16BayerGPU(benchmark::State& state) {
    renderLoop(state, 16, DebayerRGGB, true);
}
void BM_Render8Mono(benchmark::State& state) {
    renderLoop(state, 8, DebayerRaw);
}
void BM_Render48RGB(benchmark::State& state) {
    renderLoop(state, 48, DebayerRaw);
}

void BM_Histogram16(benchmark::State& state) {
    Image& image = *frame(16, DebayerRaw).image;
    for (auto _ : state) {
        image.cachedHistogram = QImage();
        benchmark::DoNotOptimize(image.histogram().constBits());
    }
}

// Source bytes per pixel in the argument; 3 output bytes per pixel.
void memoryFloor(benchmark::State& state, bool threaded) {
    const int64_t in = state.range(0);
    std::vector<uint8_t> source(size_t(W * H * in), 1), output(size_t(W * H * 3));
    auto copyRows = [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            const uint8_t* s = source.data() + y * W * in;
            uint8_t* o = output.data() + y * W * 3;
            // The output row is longer or shorter than the source row: copy the source row
            // once and fill the rest of the output row from it again (still in the cache).
            for (int64_t done = 0; done < W * 3; done += W * in)
                std::memcpy(o + done, s, size_t(std::min(W * in, W * 3 - done)));
        }
    };
    for (auto _ : state) {
        if (threaded)
            parallelRows(H, 16, copyRows);
        else
            copyRows(0, H);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * W * H * (in + 3));
}
void BM_MemoryFloor(benchmark::State& state) {
    memoryFloor(state, false);
}
void BM_MemoryFloorThreaded(benchmark::State& state) {
    memoryFloor(state, true);
}

void referenceLoop(benchmark::State& state, int64_t bitsPerPixel, int64_t pattern) {
    Frame& f = frame(bitsPerPixel, pattern);
    reference::Source source{f.pixels.data(), bitsPerPixel, W, H, 0};
    reference::Settings k;
    k.debayer = pattern;
    const auto coef = reference::whiteBalance(f.image->total4.data(), pattern, pattern != 255);
    k.redCoef = coef.first, k.blueCoef = coef.second;
    k.black = f.image->_blackPoint, k.white = f.image->_whitePoint;
    for (auto _ : state)
        benchmark::DoNotOptimize(reference::render(source, k).data());
}
void BM_Reference16Mono(benchmark::State& state) {
    referenceLoop(state, 16, DebayerRaw);
}
void BM_Reference16Bayer(benchmark::State& state) {
    referenceLoop(state, 16, DebayerRGGB);
}

}  // namespace

BENCHMARK(BM_MemoryFloor)->Arg(1)->Arg(2)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryFloorThreaded)
    ->Arg(1)
    ->Arg(2)
    ->Arg(6)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Render16Mono)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Render16Bayer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Render8Mono)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Render48RGB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Histogram16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Reference16Mono)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Reference16Bayer)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Render16MonoGPU)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Render16BayerGPU)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
