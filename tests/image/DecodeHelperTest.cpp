// The decode helper: tile-compressed FITS HDUs and camera RAW files decoded in quasel-decode
// give the same bytes as the in-process decoders, also when decoded at once on several threads;
// a helper that cannot run, runs too long or misbehaves gives an HDU or file without picture and
// one log line, and never takes its caller down. (The hostile inputs go through quasel-tool and
// the viewer: HostileFilesTest.)
#include "CapturedLog.h"
#include "DecodeHelper.h"
#include "FITSImageRep.h"
#include "FitsFiles.h"
#include "Image.h"
#include "SyntheticDng.h"
#include "SyntheticImage.h"
#include "TestData.h"
#include "ToolRunner.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

namespace {

// GCC names the thread sanitizer by a macro, clang by __has_feature.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUASEL_TEST_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(QUASEL_TEST_TSAN)
// Under the thread sanitizer the helper takes 2 to 4 CPU seconds for a 4096 x 4096 frame that
// takes it 0.3 s otherwise, with samples below zero or without: about its limit of 3 s.
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// Restores the default helper settings after each test.
class DecodeHelperTest : public ::testing::Test {
  protected:
    void SetUp() override { registerImageReaders(); }
    void TearDown() override {
        DecodeHelper::setIsolated(true);
        DecodeHelper::setPath("");
    }
    // Makes the helper a shell script of the given text and permissions (no file for nullptr).
    void useHelper(const char* script, int mode) {
        const QString path = dir.filePath("quasel-decode");
        if (script) QFile::setPermissions(writeFileBytes(path, script), QFile::Permissions(mode));
        DecodeHelper::setPath(path.toStdString());
    }
    QTemporaryDir dir;
    const QString packed = testDataPath("fits/ngc1316o_r.fits.fz");
};

// A FITS representation's pixel memory; empty without pixels.
std::vector<uint8_t> pixelsOf(const FITSImageRep& rep) {
    if (!rep.buffer) return {};
    return std::vector<uint8_t>(rep.buffer.get(), rep.buffer.get() + rep.bufferSize);
}

// `count` samples of xorshift noise from `seed`, each `sample` of its noise word.
template <typename Sample>
std::vector<short> noiseSamples(size_t count, uint32_t seed, Sample sample) {
    std::vector<short> samples(count);
    for (short& s : samples) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        s = sample(seed);
    }
    return samples;
}

// HDU 2's pixel memory (FITS) or the picture's bitmap (camera RAW) of `bytes`, decoded in the
// helper or in process.
std::vector<uint8_t> decoded(const QByteArray& bytes, bool raw, bool isolated) {
    DecodeHelper::setIsolated(isolated);
    std::vector<uint8_t> out;
    if (!raw) {
        auto rep = FITSImageRep::initWithData(bytes, 1);
        if (rep && !rep->extensions.empty()) out = pixelsOf(*rep->extensions[0]);
    } else if (ImagePtr image = Image::create(bytes, ".nef"); image->hasPicture()) {
        const auto& rep = *image->originalImageRep;
        out.assign(rep.bitmapData(), rep.bitmapData() + rep.planeBytes());
    }
    DecodeHelper::setIsolated(true);
    return out;
}

TEST_F(DecodeHelperTest, CompressedHduPixelsEqualTheInProcessRead) {
    struct Case {
        const char* name;
        int compression;  // CFITSIO compression type
        int bitpix;       // image BITPIX
        int planes;       // 1, or 3 for a colour cube
        bool lossless;    // pixels equal the samples written
    };
    const Case cases[] = {
        {"Rice", RICE_1, SHORT_IMG, 1, true},
        {"Gzip", GZIP_1, SHORT_IMG, 1, true},
        {"Gzip2", GZIP_2, SHORT_IMG, 1, true},
        {"Hcompress", HCOMPRESS_1, SHORT_IMG, 1, true},
        {"Plio", PLIO_1, SHORT_IMG, 1, true},
        {"RiceBytes", RICE_1, BYTE_IMG, 1, true},
        {"RiceCube", RICE_1, SHORT_IMG, 3, true},
        {"QuantizedFloat", RICE_1, FLOAT_IMG, 1, false},
        {"QuantizedGzip", GZIP_2, FLOAT_IMG, 1, false},
        {"Long", RICE_1, LONG_IMG, 1, false},
    };
    const long w = 61, h = 37;  // tiles that do not divide the image
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Smooth background, a gradient, noise and a few bright stars, within 0..4000 (PLIO
        // takes non-negative values below 2^24; BYTE images the value modulo 256).
        std::vector<double> samples(size_t(w * h * c.planes));
        uint32_t noise = 2024;
        for (size_t i = 0; i < samples.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            const long x = long(i % w), y = long(i / w % h);
            const int v = 200 + x * 3 + y * 2 + (noise >> 27) + ((x * 7 + y * 13) % 97 ? 0 : 3000);
            samples[i] = c.bitpix == BYTE_IMG ? v & 0xff : v;
        }
        const QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
            fits_create_img(f, BYTE_IMG, 0, nullptr, st);
            fits_set_compression_type(f, c.compression, st);
            std::vector<long> axes{w, h, c.planes};
            fits_create_img(f, c.bitpix, c.planes > 1 ? 3 : 2, axes.data(), st);
            auto write = [&](auto zero, int code) {
                std::vector<decltype(zero)> typed(samples.begin(), samples.end());
                fits_write_img(f, code, 1, LONGLONG(typed.size()), typed.data(), st);
            };
            if (c.bitpix == BYTE_IMG) write(uint8_t(), TBYTE);
            if (c.bitpix == SHORT_IMG) write(short(), TSHORT);
            if (c.bitpix == LONG_IMG) write(int(), TINT);
            if (c.bitpix == FLOAT_IMG) write(float(), TFLOAT);  // compressed: own type only
        });
        ASSERT_FALSE(bytes.isEmpty());
        CapturedLog log(SOLVAN_LOG_ERROR);
        const std::vector<uint8_t> helper = decoded(bytes, false, true);
        ASSERT_EQ(helper.size(), size_t(w * h * c.planes * (c.bitpix == BYTE_IMG ? 1 : 2)));
        EXPECT_EQ(helper, decoded(bytes, false, false));
        EXPECT_EQ(log.lines(), std::vector<std::string>());
        // The samples written, interleaved per pixel for a cube.
        for (size_t i = 0; c.lossless && i < samples.size(); ++i) {
            const size_t at = (i % size_t(w * h)) * size_t(c.planes) + i / size_t(w * h);
            ASSERT_EQ(c.bitpix == BYTE_IMG ? helper[at]
                                           : reinterpret_cast<const uint16_t*>(helper.data())[at],
                      int(samples[i]))
                << "sample " << i;
        }
    }
}

// Signed 16-bit samples below zero are clipped to 0 when read as unsigned, and CFITSIO says so
// (NUM_OVERFLOW): the frame is whole all the same. Tile-compressed, in process or through the
// helper, it gives the picture the plain file gives, in every band and every tile.
TEST_F(DecodeHelperTest, NegativeSamplesOfACompressedFrameAreClippedAsInThePlainFile) {
    const long w = 700, h = 900;  // large enough for several bands
    std::vector<short> samples(size_t(w * h));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(int(i % 997) - 300);  // negative now and then in every row
    auto frame = [&](int compression, std::vector<long> tile = {}) {
        return writeFits([&](fitsfile* f, int* st) {
            fits_create_img(f, BYTE_IMG, 0, nullptr, st);
            if (compression != 0) fits_set_compression_type(f, compression, st);
            if (!tile.empty()) fits_set_tile_dim(f, int(tile.size()), tile.data(), st);
            long axes[2] = {w, h};
            fits_create_img(f, SHORT_IMG, 2, axes, st);
            fits_write_img(f, TSHORT, 1, LONGLONG(samples.size()), samples.data(), st);
        });
    };
    const std::vector<uint8_t> plain = decoded(frame(0), false, false);
    ASSERT_EQ(plain.size(), samples.size() * 2);
    EXPECT_EQ(reinterpret_cast<const uint16_t*>(plain.data())[0], 0);
    EXPECT_EQ(reinterpret_cast<const uint16_t*>(plain.data())[400], 100);
    // Tiles of rows, and tiles that split the rows (of which a row is read piece by piece).
    const std::pair<int, std::vector<long>> packings[] = {
        {RICE_1, {}}, {GZIP_1, {}}, {RICE_1, {64, 50}}, {GZIP_2, {300, 7}}};
    for (const auto& [compression, tile] : packings) {
        SCOPED_TRACE(testing::Message() << compression << " tiles " << tile.size());
        const QByteArray packed = frame(compression, tile);
        CapturedLog log(SOLVAN_LOG_ERROR);
        EXPECT_EQ(decoded(packed, false, true), plain);
        EXPECT_EQ(decoded(packed, false, false), plain);
        EXPECT_EQ(log.lines(), std::vector<std::string>());
    }
}

// A 4096 x 4096 signed 16-bit frame with a few samples below zero, in tiles of rows, of 100
// rows and in one tile: the helper reads it within its limits (3 CPU seconds for 32 MB of
// pixels; without such samples it takes a few tenths), and gives the picture the plain file
// gives. Read a row at a time, the one tile costs CFITSIO a copy of all of it for every row.
// (Under the thread sanitizer, in process only; the helper's bands meet it in other tests.)
TEST_F(DecodeHelperTest, NegativeSamplesInTallTilesAreReadWithinTheHelpersLimits) {
    const long side = 4096;
    std::vector<short> samples = noiseSamples(
        size_t(side * side), 99, [](uint32_t noise) { return short(1000 + int(noise % 2000)); });
    for (long k = 0; k < 40; ++k)
        samples[size_t((k * 101 + 7) * side + k * 97)] = short(-1 - k * 50);
    auto frame = [&](std::vector<long> tile) {
        return writeFits([&](fitsfile* f, int* st) {
            fits_create_img(f, BYTE_IMG, 0, nullptr, st);
            if (!tile.empty()) fits_set_compression_type(f, RICE_1, st);
            if (!tile.empty()) fits_set_tile_dim(f, int(tile.size()), tile.data(), st);
            long axes[2] = {side, side};
            fits_create_img(f, SHORT_IMG, 2, axes, st);
            fits_write_img(f, TSHORT, 1, LONGLONG(samples.size()), samples.data(), st);
        });
    };
    const std::vector<uint8_t> plain = decoded(frame({}), false, false);
    ASSERT_EQ(plain.size(), samples.size() * 2);
    const auto* words = reinterpret_cast<const uint16_t*>(plain.data());
    EXPECT_EQ(words[7 * side], 0);
    EXPECT_EQ(words[(39 * 101 + 7) * side + 39 * 97], 0);
    EXPECT_EQ(words[1], samples[1]);
    for (long tileRows : {1L, 100L, side}) {
        SCOPED_TRACE(testing::Message() << "tiles of " << tileRows << " rows");
        const QByteArray packed = frame({side, tileRows});
        ASSERT_FALSE(packed.isEmpty());
        CapturedLog log(SOLVAN_LOG_ERROR);
        if (!kThreadSanitizer) {
            ASSERT_TRUE(decoded(packed, false, true) == plain)
                << testing::PrintToString(log.lines());
        }
        EXPECT_EQ(log.lines(), std::vector<std::string>());
        EXPECT_TRUE(decoded(packed, false, false) == plain);
    }
}

// A 4096 x 4096 signed 16-bit frame under BSCALE 5e6, which puts its scaled samples beyond an
// int, with some samples below zero, packed by fpack as one tile: the helper reads it within
// its address-space limit and gives the picture the plain file gives in process. (Under the
// thread sanitizer, in process only, as above.)
TEST_F(DecodeHelperTest, FrameScaledBeyondAnIntInOneTileIsReadWithinTheHelpersLimits) {
    const long side = 4096;
    // One in twenty below zero, some zero.
    std::vector<short> samples = noiseSamples(
        size_t(side * side), 7, [](uint32_t noise) { return short(int(noise % 1000) - 50); });
    const QByteArray original = writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        long axes[2] = {side, side};
        fits_create_img(f, SHORT_IMG, 2, axes, st);
        double scale = 5e6, zero = 0;
        fits_write_key(f, TDOUBLE, "BSCALE", &scale, nullptr, st);
        fits_write_key(f, TDOUBLE, "BZERO", &zero, nullptr, st);
        fits_set_bscale(f, 1.0, 0.0, st);  // the samples above are the stored ones
        fits_write_img(f, TSHORT, 1, LONGLONG(samples.size()), samples.data(), st);
    });
    ASSERT_FALSE(original.isEmpty());
    const std::vector<uint8_t> plain = decoded(original, false, false);
    ASSERT_EQ(plain.size(), samples.size() * 2);
    const auto* words = reinterpret_cast<const uint16_t*>(plain.data());
    for (size_t i : {size_t(0), size_t(1), samples.size() / 2, samples.size() - 1})
        EXPECT_EQ(words[i], samples[i] > 0 ? 65535 : 0) << "sample " << i;

    const QString in = writeFileBytes(dir.filePath("scaled.fits"), original);
    const QString out = dir.filePath("scaled.fits.fz");
    ASSERT_EQ(QProcess::execute("fpack", {"-w", "-O", out, in}), 0);
    const QByteArray packed = readFileBytes(out);
    ASSERT_FALSE(packed.isEmpty());
    CapturedLog log(SOLVAN_LOG_ERROR);
    if (!kThreadSanitizer) {
        ASSERT_TRUE(decoded(packed, false, true) == plain) << testing::PrintToString(log.lines());
    }
    EXPECT_EQ(log.lines(), std::vector<std::string>());
    EXPECT_TRUE(decoded(packed, false, false) == plain);
}

// A sky of `planes` planes (gradient, noise, stars; NaN here and there for floats) in an image
// extension after an empty primary HDU, uncompressed, or tile-compressed by CFITSIO as
// `compression` (0: none) in tiles `tile` (empty: rows).
QByteArray largeSky(int bitpix, long w, long h, long planes, int compression = 0,
                    std::vector<long> tile = {}) {
    std::vector<double> samples(size_t(w * h * planes));
    uint32_t noise = 4321;
    for (size_t i = 0; i < samples.size(); ++i) {
        noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
        const long x = long(i % size_t(w)), y = long(i / size_t(w) % size_t(h));
        double v = 1000 + x / 3 + y / 2 + noise % 64 + (noise % 4099 == 0 ? 30000 : 0);
        if (bitpix == BYTE_IMG) v = double(long(v) & 0xff);
        if (bitpix < 0) v = noise % 1009 == 0 ? NAN : v + (noise >> 10) % 997 / 1000.0;
        samples[i] = v;
    }
    return writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        if (compression != 0) fits_set_compression_type(f, compression, st);
        if (!tile.empty()) fits_set_tile_dim(f, int(tile.size()), tile.data(), st);
        std::vector<long> axes{w, h, planes};
        fits_create_img(f, bitpix, planes > 1 ? 3 : 2, axes.data(), st);
        auto write = [&](auto zero, int type) {
            std::vector<decltype(zero)> typed(samples.begin(), samples.end());
            fits_write_img(f, type, 1, LONGLONG(typed.size()), typed.data(), st);
        };
        if (bitpix == BYTE_IMG) write(uint8_t(), TBYTE);
        if (bitpix == SHORT_IMG) write(short(), TSHORT);
        if (bitpix == USHORT_IMG) write(uint16_t(), TUSHORT);
        if (bitpix == LONG_IMG) write(int(), TINT);
        if (bitpix == FLOAT_IMG) write(float(), TFLOAT);
    });
}

// Frames large enough for the helper to read in bands on several threads, compressed by fpack
// and by CFITSIO in every kind the reader takes, with tiles that divide neither axis: the
// helper's pixels equal the one-thread read in process, and for lossless kinds the read of the
// uncompressed original.
TEST_F(DecodeHelperTest, LargeCompressedHdusReadInBandsEqualTheOneThreadRead) {
    struct Case {
        const char* name;
        QStringList fpack;       // fpack's options; empty: compressed by CFITSIO instead
        int compression;         // CFITSIO's compression type when CFITSIO compresses
        int bitpix;              // BITPIX of the original
        long w, h, planes;       // its axes
        std::vector<long> tile;  // tiles CFITSIO makes; empty: rows
        bool lossless;           // the pixels equal the original's
    };
    const Case cases[] = {
        {"FpackRiceUnsigned", {"-r"}, 0, USHORT_IMG, 1531, 1103, 1, {}, true},
        {"FpackGzip2SevenRowTiles", {"-g2", "-t", "1531,7"}, 0, SHORT_IMG, 1531, 1103, 1, {}, true},
        {"FpackPlio", {"-p"}, 0, SHORT_IMG, 1531, 1103, 1, {}, true},
        {"FpackHcompress", {"-h"}, 0, SHORT_IMG, 1531, 1103, 1, {}, true},
        {"FpackQuantizedFloat", {"-q", "4"}, 0, FLOAT_IMG, 1531, 1103, 1, {}, false},
        {"GzipOddTiles", {}, GZIP_1, SHORT_IMG, 1531, 1103, 1, {200, 50}, true},
        {"RiceByteCube", {}, RICE_1, BYTE_IMG, 1001, 701, 3, {}, true},
        {"RiceLong", {}, RICE_1, LONG_IMG, 1531, 1103, 1, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray original = largeSky(c.bitpix, c.w, c.h, c.planes);
        QByteArray packed;
        if (c.fpack.isEmpty()) {
            packed = largeSky(c.bitpix, c.w, c.h, c.planes, c.compression, c.tile);
        } else {
            const QString in = writeFileBytes(dir.filePath("original.fits"), original);
            const QString out = dir.filePath("packed.fits.fz");
            QFile::remove(out);
            ASSERT_EQ(QProcess::execute("fpack", c.fpack + QStringList{"-O", out, in}), 0);
            packed = readFileBytes(out);
        }
        ASSERT_FALSE(packed.isEmpty());
        CapturedLog log(SOLVAN_LOG_ERROR);
        const std::vector<uint8_t> helper = decoded(packed, false, true);
        ASSERT_EQ(helper.size(),
                  size_t(c.w * c.h * (c.planes > 1 ? 3 : 1) * (c.bitpix == BYTE_IMG ? 1 : 2)));
        EXPECT_TRUE(helper == decoded(packed, false, false));
        if (c.lossless) {
            EXPECT_TRUE(helper == decoded(original, false, false));
        }
        EXPECT_EQ(log.lines(), std::vector<std::string>());
    }
}

// A tile of garbage in the middle of a frame read in bands: that HDU has no picture and one
// log line says why; the file's other HDU keeps its picture.
TEST_F(DecodeHelperTest, BrokenTileInOneBandCostsOnlyItsHdusPicture) {
    QByteArray bytes = writeFits([](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        fits_set_compression_type(f, GZIP_1, st);
        for (long w : {1531L, 300L}) {
            std::vector<long> axes{w, 1103};
            std::vector<short> samples(size_t(w * 1103));
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = short(uint32_t(i) * 2654435761u >> 20);
            addImage(f, st, SHORT_IMG, axes, TSHORT, samples);
        }
    });
    ASSERT_FALSE(bytes.isEmpty());
    {
        // The compressed bytes of row 700's tile, found through CFITSIO, overwritten.
        void* address = bytes.data();
        size_t size = size_t(bytes.size());
        fitsfile* f = nullptr;
        int status = 0, type = 0;
        LONGLONG length = 0, offset = 0;
        fits_open_memfile(&f, "", READONLY, &address, &size, 0, nullptr, &status);
        fits_movabs_hdu(f, 2, &type, &status);
        fits_read_descriptll(f, f->Fptr->cn_compressed, 700, &length, &offset, &status);
        const LONGLONG at = f->Fptr->datastart + f->Fptr->heapstart + offset;
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0);
        ASSERT_GT(length, 40);
        std::memset(bytes.data() + at + 20, 0x5a, size_t(length - 20));
    }
    CapturedLog log(SOLVAN_LOG_ERROR);
    auto rep = FITSImageRep::initWithData(bytes, 1);
    ASSERT_TRUE(rep);
    ASSERT_EQ(rep->extensions.size(), 2u);
    EXPECT_FALSE(rep->extensions[0]->buffer);
    EXPECT_EQ(rep->extensions[1]->bufferSize, 300 * 1103 * 2);
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("HDU 2 of a tile-compressed FITS file gets no picture: the helper "
                            "found the data broken (tile decompression gave CFITSIO status"),
              std::string::npos)
        << lines[0];
}

TEST_F(DecodeHelperTest, CameraRawPixelsEqualTheInProcessDecode) {
    const QByteArray dng = makeDng(96, 64);
    const std::vector<uint8_t> helper = decoded(dng, true, true);
    EXPECT_GE(helper.size(), size_t(90 * 60 * 6));  // 48-bit RGB, LibRaw may crop a margin
    EXPECT_EQ(helper, decoded(dng, true, false));
}

TEST_F(DecodeHelperTest, BrokenHelperRefusesTheHduAndTheRawFileWithALogLine) {
    REQUIRE_TEST_FILE(packed);
    struct Case {
        const char* script;  // the helper's text; nullptr: no file at all
        int mode;            // permissions of the file
        const char* reason;  // the log line carries this
    };
    for (const Case c : {Case{nullptr, 0, "No such file or directory"},
                         Case{"#!/bin/sh\nexit 0\n", 0x6644, "Permission denied"},
                         Case{"#!/bin/sh\nkill -SEGV $$\n", 0x7755, "crashed (signal 11"},
                         Case{"#!/bin/sh\nexit 0\n", 0x7755, "ended without a report"}}) {
        SCOPED_TRACE(c.reason);
        useHelper(c.script, c.mode);
        CapturedLog log(SOLVAN_LOG_ERROR);
        ImagePtr image = Image::create(readFileBytes(packed), ".fz");
        ASSERT_EQ(image->extensions.size(), 1u);
        EXPECT_FALSE(image->extensions[0]->hasPicture());
        EXPECT_TRUE(image->extensions[0]->metadata);
        EXPECT_FALSE(Image::create(makeDng(), ".nef")->hasPicture());
        const std::vector<std::string> lines = log.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].rfind("quasel-decode: HDU 2 of a tile-compressed FITS file", 0), 0u);
        EXPECT_EQ(lines[1].rfind("quasel-decode: camera RAW file gets no picture", 0), 0u);
        for (const std::string& line : lines)
            EXPECT_NE(line.find(c.reason), std::string::npos) << line;
    }
}

TEST_F(DecodeHelperTest, HelperPastItsDeadlineIsStopped) {
    REQUIRE_TEST_FILE(packed);
    useHelper("#!/bin/sh\nexec sleep 60\n", 0x7755);
    CapturedLog log(SOLVAN_LOG_ERROR);
    QElapsedTimer clock;
    clock.start();
    ImagePtr image = Image::create(readFileBytes(packed), ".fz");
    EXPECT_LT(clock.elapsed(), 10000);
    ASSERT_EQ(image->extensions.size(), 1u);
    EXPECT_FALSE(image->extensions[0]->hasPicture());
    EXPECT_EQ(log.count("did not finish within 3 s and was stopped"), 1);
}

TEST_F(DecodeHelperTest, ConcurrentDecodesEachGetTheirOwnHelper) {
    REQUIRE_TEST_FILE(packed);
    const QByteArray bytes = readFileBytes(packed);
    const std::vector<uint8_t> expected = decoded(bytes, false, false);
    ASSERT_FALSE(expected.empty());
    // Descriptors of one spawn must not leak into a helper started at the same moment, or a
    // parent would wait for the wrong child's end. Each equals the in-process read.
    std::vector<std::vector<uint8_t>> results(6);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&bytes, &result] {
            auto rep = FITSImageRep::initWithData(bytes, 1);
            if (rep && !rep->extensions.empty()) result = pixelsOf(*rep->extensions[0]);
        });
    for (std::thread& t : threads)
        t.join();
    for (const auto& result : results)
        EXPECT_EQ(result, expected);
}

// quasel-tool copied beside a stand-in named quasel-decode (the lookup's first place) survives a
// helper gone wrong: each run ends normally and soon, with the picture when the helper's work
// was good and one log line naming the reason when not. The runs go side by side.
TEST_F(DecodeHelperTest, CallerSurvivesAHelperGoneWrong) {
    REQUIRE_TEST_FILE(packed);
    ASSERT_TRUE(QFile::copy(QUASEL_TOOL_PATH, dir.filePath("quasel-tool")));
    ASSERT_TRUE(QFile::copy(QUASEL_STAND_IN_HELPER, dir.filePath("quasel-decode")));
    const QString dng = writeFileBytes(dir.filePath("synthetic.nef"), makeDng(96, 64));
    struct Case {
        const char* mode;  // what the stand-in does
        bool raw;          // the camera RAW file, else the fpacked sample's HDU 2
        const char* line;  // the log line carries this; nullptr: no line, and a picture
    };
    const Case cases[] = {
        {"shrink", false, nullptr},  // sealed: the truncation fails, the caller reads zeros
        {"shrink", true, "left an output of 100 bytes for 96 x 64 pixels"},
        {"sleep", false, "did not finish within 3 s and was stopped"},
        {"child", false, nullptr},
        {"child", true, nullptr},
        {"killed", false, "was killed from outside"},
    };
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const Case& c : cases) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUASEL_STAND_IN", c.mode);
        env.insert("QUASEL_REAL_HELPER", QUASEL_REAL_HELPER);
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->setProcessEnvironment(env);
        runs.back()->start(dir.filePath("quasel-tool"), {"info", c.raw ? dng : packed, "--json"});
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.mode) + (c.raw ? " raw" : " fits"));
        QProcess& p = *runs[i];
        if (!p.waitForFinished(20000)) {  // the sleep is a minute
            ADD_FAILURE() << "still running";
            p.kill();
            p.waitForFinished();
            continue;
        }
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "the caller crashed";
        EXPECT_EQ(p.exitCode(), 0);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        const QJsonObject info = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        const QJsonObject picture = c.raw ? info : info["extensions"].toArray().at(0).toObject();
        EXPECT_EQ(picture["hasPicture"].toBool(), c.line == nullptr);
        EXPECT_EQ(err.count("quasel-decode:"), c.line ? 1 : 0) << err.toStdString();
        if (c.line) {
            EXPECT_TRUE(err.contains(c.line)) << err.toStdString();
        }
        if (std::strcmp(c.mode, "child") != 0) continue;
        // The helper's own decode, whatever its child still holds.
        const QJsonObject usual = runToolJson({"info", c.raw ? dng : packed});
        const QJsonObject expected = c.raw ? usual : usual["extensions"].toArray().at(0).toObject();
        for (const char* key : {"width", "height", "max", "average", "median"})
            EXPECT_EQ(picture[key], expected[key]) << key;
    }
}

// Descriptors 4 to 9 of this process open on /dev/null without close-on-exec for the object's
// life, as a caller's own files may be; whatever held those numbers is put back afterwards.
class StrayDescriptors {
  public:
    StrayDescriptors() {
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        for (int fd = 4; fd <= 9; ++fd) {
            const int flags = fcntl(fd, F_GETFD);
            saved.push_back({fd, flags < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 100), flags});
            dup2(null, fd);
        }
        close(null);
    }
    ~StrayDescriptors() {
        for (const Saved& s : saved) {
            if (s.copy < 0) {
                close(s.fd);
                continue;
            }
            dup2(s.copy, s.fd);
            fcntl(s.fd, F_SETFD, s.flags);
            close(s.copy);
        }
    }

  private:
    struct Saved {
        int fd;     // the number
        int copy;   // what it held, moved aside; -1 when it was free
        int flags;  // its descriptor flags
    };
    std::vector<Saved> saved;
};

// Every kind of helper run starts with its own descriptors alone: standard input, output and
// error, the report pipe, and for a decode the input and the output; none of the caller's,
// whichever numbers they have.
TEST_F(DecodeHelperTest, EveryRunGetsOnlyItsOwnDescriptors) {
    REQUIRE_TEST_FILE(packed);
    const QByteArray fits = readFileBytes(packed);
    const QString list = dir.filePath("descriptors");
    DecodeHelper::setPath(QUASEL_STAND_IN_HELPER);
    qputenv("QUASEL_STAND_IN", "fds");
    qputenv("QUASEL_STAND_IN_LOG", list.toUtf8());
    qputenv("QUASEL_REAL_HELPER", QUASEL_REAL_HELPER);
    {
        StrayDescriptors strays;
        auto rep = FITSImageRep::initWithData(fits, 1);
        ASSERT_TRUE(rep && rep->extensions.size() == 1);
        EXPECT_FALSE(pixelsOf(*rep->extensions[0]).empty());
        EXPECT_TRUE(Image::create(makeDng(), ".nef")->hasPicture());
        std::string failure;
        EXPECT_GE(DecodeHelper::countOpenCLGpus(failure), 0) << failure;
    }
    for (const char* name : {"QUASEL_STAND_IN", "QUASEL_STAND_IN_LOG", "QUASEL_REAL_HELPER"})
        qunsetenv(name);
    EXPECT_EQ(readFileBytes(list), "fits: 0 1 2 3 4 5\nraw: 0 1 2 3 4 5\ngpu: 0 1 2 3\n");
}

// What a run on a terminal gave.
struct TerminalRun {
    int status = -1;      // the exit status; -1 when it did not end normally in time
    QByteArray terminal;  // what reached the terminal
};

// Runs `program args` as the leader of a new session whose controlling terminal is a new
// pseudo-terminal with "tostop" set, so that a process of a background group of the session
// that writes to it is stopped: standard input and error on the terminal, standard output into
// the file `out`, `variables` added to the environment.
TerminalRun runOnStoppingTerminal(const QString& program, const QStringList& args,
                                  const QString& out, const QStringList& variables) {
    TerminalRun run;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return run;
    }
    // Everything the child needs is made before the fork: it only calls what is safe there.
    std::vector<std::string> strings{program.toStdString()};
    for (const QString& a : args)
        strings.push_back(a.toStdString());
    const size_t argCount = strings.size();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& v : variables)
        environment.insert(v.section('=', 0, 0), v.section('=', 1));
    for (const QString& v : environment.toStringList())
        strings.push_back(v.toStdString());
    std::vector<char*> argv, envp;
    for (size_t i = 0; i < strings.size(); ++i)
        (i < argCount ? argv : envp).push_back(strings[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string outPath = out.toStdString();

    const pid_t pid = fork();
    if (pid == 0) {
        termios mode;
        const int file = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (setsid() < 0 || file < 0) _exit(126);
        const int terminal = open(name, O_RDWR);
        if (terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0 || tcgetattr(terminal, &mode) != 0)
            _exit(126);
        mode.c_lflag |= TOSTOP;
        if (tcsetattr(terminal, TCSANOW, &mode) != 0 || dup2(terminal, 0) < 0 ||
            dup2(file, 1) < 0 || dup2(terminal, 2) < 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // Read the terminal until the program has ended and nothing more comes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool ended = false;
    int status = 0;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) {
                run.terminal.append(buffer, n);
                continue;
            }
            if (ended) break;  // every holder of the terminal has gone
        } else if (ended) {
            break;
        }
        if (!ended && waitpid(pid, &status, WNOHANG) == pid) ended = true;
        if (!ended && std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            close(master);
            ADD_FAILURE() << "still running";
            return run;
        }
    }
    close(master);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

// On a terminal with "tostop" set the helper's process group is not the foreground group.
// Nothing that a helper or a child of it writes to the standard error it inherits (the
// terminal) stops it, for every kind of run, and what it wrote reaches the terminal.
TEST_F(DecodeHelperTest, WritingToAStoppingTerminalStopsNoHelper) {
    REQUIRE_TEST_FILE(packed);
    ASSERT_TRUE(QFile::copy(QUASEL_TOOL_PATH, dir.filePath("quasel-tool")));
    ASSERT_TRUE(QFile::copy(QUASEL_STAND_IN_HELPER, dir.filePath("quasel-decode")));
    const QString nef = writeFileBytes(dir.filePath("synthetic.nef"), makeDng(96, 64));
    const QString blob =
        writeFileBytes(dir.filePath("frame.raw"), rawBlob("RAW1", 2, 2, {1, 2, 3, 4}));
    const QString cache = dir.filePath("cache");
    const QStringList variables{"QUASEL_STAND_IN=talk",
                                QString("QUASEL_REAL_HELPER=") + QUASEL_REAL_HELPER,
                                "XDG_CACHE_HOME=" + cache};
    struct Case {
        const char* kind;  // the helper run the command makes
        QStringList args;  // the tool's command
        QString picture;   // the JSON key naming the picture; empty: the render's output
    };
    const Case cases[] = {
        {"fits", {"info", packed, "--json"}, "extensions"},
        {"raw", {"info", nef, "--json"}, "hasPicture"},
        // A render waits for the OpenCL probe, whose answer the cache keeps.
        {"gpu", {"render", blob, dir.filePath("out.png")}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const QString out = dir.filePath("out.json");
        const TerminalRun run =
            runOnStoppingTerminal(dir.filePath("quasel-tool"), c.args, out, variables);
        EXPECT_EQ(run.status, 0) << run.terminal.toStdString();
        const QString text = QString::fromUtf8(run.terminal);
        EXPECT_TRUE(text.contains("stand-in helper: a line on standard error"))
            << text.toStdString();
        EXPECT_TRUE(text.contains("stand-in helper's child: a line on standard error"))
            << text.toStdString();
        EXPECT_FALSE(text.contains("quasel-decode:")) << text.toStdString();
        EXPECT_FALSE(text.contains("GPU rendering off")) << text.toStdString();
        const QJsonObject info = QJsonDocument::fromJson(readFileBytes(out)).object();
        if (c.picture == "extensions") {
            EXPECT_TRUE(info["extensions"].toArray().at(0).toObject()["hasPicture"].toBool());
        } else if (!c.picture.isEmpty()) {
            EXPECT_TRUE(info[c.picture].toBool());
        }
    }
    const QByteArray answer = readFileBytes(cache + "/Quasel/opencl-gpu");
    EXPECT_TRUE(answer.endsWith("\nnone\n") || answer.endsWith("\ngpu\n")) << answer.toStdString();
}

}  // namespace
