// What decoding in the quasel-decode helper costs over decoding in process: the fpacked
// sample (a 440 x 300 RICE-compressed HDU) and synthetic camera RAW files (uncompressed DNGs
// of 1024 x 768 and 6000 x 4500 photosites), each read both ways.
#include "DecodeHelper.h"
#include "FITSImageRep.h"
#include "Image.h"
#include "SyntheticDng.h"

#include <QFile>

#include <benchmark/benchmark.h>

namespace {

QByteArray fpackedSample() {
    QFile f(QString(QUASEL_TESTDATA_DIR) + "/fits/ngc1316o_r.fits.fz");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void BM_FpackedHdu(benchmark::State& state) {
    const QByteArray bytes = fpackedSample();
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
BENCHMARK(BM_FpackedHdu)->ArgName("helper")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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
