// What decoding in the quasel-decode helper costs over decoding in process: the fpacked
// sample (a 440 x 300 RICE-compressed HDU, read on one thread), 1024 x 768 and 6000 x 6000
// 16-bit RICE-compressed frames (read in bands on the cores by the helper, on one thread in
// process) and synthetic camera RAW files (uncompressed DNGs of 1024 x 768 and 6000 x 4500
// photosites), each read both ways.
#include "DecodeHelper.h"
#include "FITSImageRep.h"
#include "FitsFiles.h"
#include "Image.h"
#include "SyntheticDng.h"

#include <QFile>

#include <benchmark/benchmark.h>

namespace {

QByteArray fpackedSample() {
    QFile f(QString(QUASEL_TESTDATA_DIR) + "/fits/ngc1316o_r.fits.fz");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Reads HDU 1 and 2 of `bytes` in every iteration, in the helper when the argument is 1.
void readHdus(benchmark::State& state, const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        state.SkipWithError("sample missing");
        return;
    }
    DecodeHelper::setIsolated(state.range(0) != 0);
    for (auto _ : state) {
        auto rep = FITSImageRep::initWithData(bytes, 1);
        if (!rep || rep->extensions.empty() || rep->extensions[0]->bufferSize == 0) {
            state.SkipWithError("no picture");
            break;
        }
        benchmark::DoNotOptimize(rep);
    }
    DecodeHelper::setIsolated(true);
}

void BM_FpackedHdu(benchmark::State& state) {
    readHdus(state, fpackedSample());
}
BENCHMARK(BM_FpackedHdu)->ArgName("helper")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A 16-bit sky of `width` x `height` (noise, a gradient, a few saturated pixels), fpacked with
// RICE in CFITSIO's default row tiles after an empty primary HDU.
QByteArray fpackedSky(long width, long height) {
    const long axes[2] = {width, height};
    std::vector<unsigned short> pixels(size_t(axes[0] * axes[1]));
    uint32_t state = 12345;
    for (size_t i = 0; i < pixels.size(); ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        const long v = 2000 + 1300 * long(i / size_t(axes[0])) / axes[1] + long(state % 600) - 300;
        pixels[i] = state % 5000 == 0 ? 65535 : (unsigned short)v;
    }
    return writeFits([&](fitsfile* f, int* status) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, status);
        fits_set_compression_type(f, RICE_1, status);
        addImage(f, status, USHORT_IMG, {axes[0], axes[1]}, TUSHORT, pixels);
    });
}

void BM_MidFpacked(benchmark::State& state) {
    static const QByteArray bytes = fpackedSky(1024, 768);
    readHdus(state, bytes);
}
BENCHMARK(BM_MidFpacked)->ArgName("helper")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LargeFpacked(benchmark::State& state) {
    static const QByteArray bytes = fpackedSky(6000, 6000);
    readHdus(state, bytes);
}
BENCHMARK(BM_LargeFpacked)->ArgName("helper")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CameraRaw(benchmark::State& state) {
    registerImageReaders();
    const QByteArray dng = makeDng(int(state.range(1)), int(state.range(1)) * 3 / 4);
    DecodeHelper::setIsolated(state.range(0) != 0);
    for (auto _ : state) {
        auto decoded = DecodedImage::initWithCameraRaw(dng);
        if (!decoded) {
            state.SkipWithError("no picture");
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
    DecodeHelper::setIsolated(true);
}
BENCHMARK(BM_CameraRaw)
    ->ArgNames({"helper", "width"})
    ->ArgsProduct({{0, 1}, {1024, 6000}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
