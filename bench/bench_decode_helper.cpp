// What decoding in the quasel-decode helper costs over decoding in process: the fpacked
// sample (a 440 x 300 RICE-compressed HDU, read on one thread), 1024 x 768 and 6000 x 6000
// 16-bit RICE-compressed frames (read in bands on the cores by the helper, on one thread in
// process) and synthetic camera RAW files (uncompressed DNGs of 1024 x 768 and 6000 x 4500
// photosites), each read both ways; and 4096 x 4096 signed 16-bit frames packed by fpack in
// row tiles, 100-row tiles and one tile, with and without a few samples below zero, and
// under scaling that puts their samples beyond an int.
#include "DecodeHelper.h"
#include "FITSImageRep.h"
#include "FitsFiles.h"
#include "Image.h"
#include "SyntheticDng.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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

// A 4096 x 4096 signed 16-bit sky (BITPIX 16 without BZERO) packed by fpack with `options`
// (RICE); with `negative`, 16 samples scattered over the frame lie below zero, else the same
// samples lie as far above it. With `scale` other than 1 the header has that BSCALE (and
// BZERO 0), the samples as they are stored. Empty when fpack fails.
QByteArray fpackedSignedSky(const QStringList& options, bool negative, double scale = 1) {
    const long side = 4096;
    std::vector<short> pixels(size_t(side * side));
    uint32_t state = 2468;
    for (size_t i = 0; i < pixels.size(); ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        pixels[i] = short(1500 + 400 * long(i / size_t(side)) / side + long(state % 400) - 200);
    }
    for (size_t k = 0; k < 16; ++k)
        pixels[(k * 251 + 311) * size_t(side) + k * 977 % 4000 + 17] = short(negative ? -37 : 37);
    const QByteArray plain = writeFits([&](fitsfile* f, int* status) {
        addImage(f, status, SHORT_IMG, {side, side}, TSHORT, std::vector<short>());
        if (scale != 1) {
            double zero = 0;
            fits_write_key(f, TDOUBLE, "BSCALE", &scale, nullptr, status);
            fits_write_key(f, TDOUBLE, "BZERO", &zero, nullptr, status);
            fits_set_bscale(f, 1.0, 0.0, status);
        }
        fits_write_img(f, TSHORT, 1, LONGLONG(pixels.size()), pixels.data(), status);
    });
    QTemporaryDir dir;
    QFile in(dir.filePath("sky.fits"));
    if (plain.isEmpty() || !in.open(QIODevice::WriteOnly) || in.write(plain) != plain.size())
        return {};
    in.close();
    const QString out = dir.filePath("sky.fits.fz");
    if (QProcess::execute("fpack", options + QStringList{"-O", out, in.fileName()}) != 0) return {};
    QFile packed(out);
    return packed.open(QIODevice::ReadOnly) ? packed.readAll() : QByteArray();
}

// Tiles by argument: 0 rows (fpack's default), 1 tiles of 100 rows, 2 one tile.
const QByteArray& signedSky(int64_t tiles, bool negative) {
    static QByteArray made[3][2];
    static const QStringList options[3] = {{}, {"-t", "4096,100"}, {"-w"}};
    QByteArray& bytes = made[tiles][negative];
    if (bytes.isEmpty()) bytes = fpackedSignedSky(options[tiles], negative);
    return bytes;
}

void BM_SignedFpacked(benchmark::State& state) {
    readHdus(state, signedSky(state.range(1), state.range(2) != 0));
}
BENCHMARK(BM_SignedFpacked)
    ->ArgNames({"helper", "tiles", "negative"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The sky with samples below zero under BSCALE 5e6, which puts the scaled samples beyond an
// int; tiles by argument as above.
void BM_ScaledFpacked(benchmark::State& state) {
    static QByteArray made[3];
    static const QStringList options[3] = {{}, {"-t", "4096,100"}, {"-w"}};
    QByteArray& bytes = made[state.range(1)];
    if (bytes.isEmpty()) bytes = fpackedSignedSky(options[state.range(1)], true, 5e6);
    readHdus(state, bytes);
}
BENCHMARK(BM_ScaledFpacked)
    ->ArgNames({"helper", "tiles"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

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
