// The decode helper: tile-compressed FITS HDUs and camera RAW files decoded in quasel-decode
// give the same bytes as the in-process decoders; hostile inputs and a helper that cannot run
// give an HDU or file without picture and one log line.
#include "DecodeHelper.h"
#include "FITSImageRep.h"
#include "FitsFiles.h"
#include "Image.h"
#include "LogCapture.h"
#include "SyntheticDng.h"
#include "TestData.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <libraw/libraw.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

// Restores the default helper settings after each test.
class DecodeHelperTest : public ::testing::Test {
  protected:
    void SetUp() override { registerImageReaders(); }
    void TearDown() override {
        DecodeHelper::setIsolated(true);
        DecodeHelper::setPath("");
    }
};

// The pixel bytes of the HDU-2 representation of `bytes`, read in the helper or in process.
std::vector<uint8_t> secondHduPixels(const QByteArray& bytes, bool isolated) {
    DecodeHelper::setIsolated(isolated);
    auto rep = FITSImageRep::initWithData(bytes, 1);
    DecodeHelper::setIsolated(true);
    if (!rep || rep->extensions.empty()) return {};
    return rep->extensions[0]->buffer;
}

struct CompressedCase {
    const char* name;
    int compression;  // CFITSIO compression type
    int bitpix;       // image BITPIX
    int planes;       // 1, or 3 for a colour cube
    bool lossless;    // pixels equal the samples written
};

// Smooth background, a gradient, noise and a few bright stars, within 0..4000 (PLIO takes
// non-negative values below 2^24; BYTE images take the value modulo 256).
std::vector<float> skySamples(long w, long h, int planes) {
    std::vector<float> v(size_t(w * h * planes));
    uint32_t noise = 2024;
    for (size_t i = 0; i < v.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const long x = long(i % w), y = long(i / w % h);
        v[i] = float(200 + x * 3 + y * 2 + (noise >> 27) + ((x * 7 + y * 13) % 97 == 0 ? 3000 : 0));
    }
    return v;
}

QByteArray compressedFits(const CompressedCase& c, long w, long h) {
    const std::vector<float> samples = skySamples(w, h, c.planes);
    return writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        fits_set_compression_type(f, c.compression, st);
        std::vector<long> axes{w, h};
        if (c.planes > 1) axes.push_back(c.planes);
        fits_create_img(f, c.bitpix, int(axes.size()), axes.data(), st);
        if (c.bitpix == FLOAT_IMG) {
            fits_write_img(f, TFLOAT, 1, LONGLONG(samples.size()),
                           const_cast<float*>(samples.data()), st);
            return;
        }
        // Compressed images take only their own sample type.
        auto write = [&](auto type, int code) {
            std::vector<decltype(type)> values(samples.size());
            for (size_t i = 0; i < samples.size(); ++i)
                values[i] =
                    decltype(type)(c.bitpix == BYTE_IMG ? int(samples[i]) & 0xff : int(samples[i]));
            fits_write_img(f, code, 1, LONGLONG(values.size()), values.data(), st);
        };
        if (c.bitpix == BYTE_IMG) write(uint8_t(), TBYTE);
        if (c.bitpix == SHORT_IMG) write(short(), TSHORT);
        if (c.bitpix == LONG_IMG) write(int(), TINT);
    });
}

void PrintTo(const CompressedCase& c, std::ostream* os) {
    *os << c.name;
}

class CompressedHdu : public DecodeHelperTest,
                      public ::testing::WithParamInterface<CompressedCase> {};

TEST_P(CompressedHdu, HelperPixelsEqualTheInProcessRead) {
    const CompressedCase c = GetParam();
    const long w = 61, h = 37;  // tiles that do not divide the image
    const QByteArray bytes = compressedFits(c, w, h);
    ASSERT_FALSE(bytes.isEmpty());
    LogCapture log;
    const std::vector<uint8_t> helper = secondHduPixels(bytes, true);
    const std::vector<uint8_t> local = secondHduPixels(bytes, false);
    const size_t expected = size_t(w * h * c.planes * (c.bitpix == BYTE_IMG ? 1 : 2));
    ASSERT_EQ(helper.size(), expected);
    EXPECT_EQ(helper, local);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join("\n").toStdString();
    if (!c.lossless) return;
    // The samples written, interleaved per pixel for a cube.
    const std::vector<float> samples = skySamples(w, h, c.planes);
    const size_t npix = size_t(w * h);
    for (size_t i = 0; i < samples.size(); ++i) {
        const size_t at = (i % npix) * size_t(c.planes) + i / npix;
        const int got = c.bitpix == BYTE_IMG ? helper[at]
                                             : reinterpret_cast<const uint16_t*>(helper.data())[at];
        const int want = c.bitpix == BYTE_IMG ? int(samples[i]) & 0xff : int(samples[i]);
        ASSERT_EQ(got, want) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Compressions, CompressedHdu,
    ::testing::Values(CompressedCase{"Rice", RICE_1, SHORT_IMG, 1, true},
                      CompressedCase{"Gzip", GZIP_1, SHORT_IMG, 1, true},
                      CompressedCase{"Gzip2", GZIP_2, SHORT_IMG, 1, true},
                      CompressedCase{"Hcompress", HCOMPRESS_1, SHORT_IMG, 1, true},
                      CompressedCase{"Plio", PLIO_1, SHORT_IMG, 1, true},
                      CompressedCase{"RiceBytes", RICE_1, BYTE_IMG, 1, true},
                      CompressedCase{"RiceCube", RICE_1, SHORT_IMG, 3, true},
                      CompressedCase{"QuantizedFloat", RICE_1, FLOAT_IMG, 1, false},
                      CompressedCase{"QuantizedFloatGzip", GZIP_2, FLOAT_IMG, 1, false},
                      CompressedCase{"Long", RICE_1, LONG_IMG, 1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecodeHelperTest, FpackedSampleEqualsTheUncompressedFile) {
    const QString packed = testDataPath("fits/ngc1316o_r.fits.fz");
    const QString plain = testDataPath("fits/ngc1316o.fit");
    REQUIRE_TEST_FILE(packed);
    REQUIRE_TEST_FILE(plain);
    ImagePtr image = Image::create(readFileBytes(packed), ".fz");
    ASSERT_EQ(image->extensions.size(), 1u);
    const Image& child = *image->extensions[0];
    ASSERT_TRUE(child.hasPicture());
    auto original = FITSImageRep::initWithData(readFileBytes(plain), 1);
    ASSERT_TRUE(original);
    const auto& rep = *child.originalImageRep;
    ASSERT_EQ(rep.planeBytes(), original->buffer.size());
    EXPECT_EQ(std::memcmp(rep.bitmapData(), original->buffer.data(), original->buffer.size()), 0);
}

// LibRaw's own answer for the bytes: its processed picture, copied out.
std::vector<uint8_t> libRawPicture(const QByteArray& bytes, int* width, int* height) {
    LibRaw raw;
    std::vector<uint8_t> out;
    if (raw.open_buffer(const_cast<char*>(bytes.constData()), size_t(bytes.size())) != 0 ||
        raw.unpack() != 0)
        return out;
    raw.imgdata.params.output_bps = 16;
    if (raw.dcraw_process() != 0) return out;
    int error = 0;
    libraw_processed_image_t* img = raw.dcraw_make_mem_image(&error);
    if (!img) return out;
    *width = img->width;
    *height = img->height;
    out.assign(img->data, img->data + img->data_size);
    LibRaw::dcraw_clear_mem(img);
    return out;
}

TEST_F(DecodeHelperTest, CameraRawPixelsEqualLibRawsInProcessPicture) {
    const QByteArray dng = makeDng(96, 64);
    int width = 0, height = 0;
    const std::vector<uint8_t> reference = libRawPicture(dng, &width, &height);
    ASSERT_FALSE(reference.empty());
    for (bool isolated : {true, false}) {
        DecodeHelper::setIsolated(isolated);
        ImagePtr image = Image::create(dng, ".nef");
        ASSERT_TRUE(image->hasPicture()) << isolated;
        EXPECT_EQ(image->width, width);
        EXPECT_EQ(image->height, height);
        const auto& rep = *image->originalImageRep;
        ASSERT_EQ(rep.planeBytes(), reference.size());
        EXPECT_EQ(std::memcmp(rep.bitmapData(), reference.data(), reference.size()), 0) << isolated;
    }
}

struct HostileCase {
    const char* file;    // in testdata/hostile
    const char* format;  // the format the file is opened as
    const char* what;    // the log line names this
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.file;
}

class HostileInput : public DecodeHelperTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileInput, GivesNoPictureForTheBrokenPartAndOneLogLine) {
    const HostileCase c = GetParam();
    const QString path = testDataPath(QString("hostile/") + c.file);
    REQUIRE_TEST_FILE(path);
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    ImagePtr image = Image::create(readFileBytes(path), c.format);
    EXPECT_LT(clock.elapsed(), 10000);  // a hang would take minutes
    EXPECT_FALSE(image->hasPicture());
    EXPECT_EQ(log.containing(QString("quasel-decode: ") + c.what).size(), 1)
        << log.lines().join("\n").toStdString();
    if (QString(c.format) == ".nef") return;
    // The primary header and the broken HDU's header are still there.
    ASSERT_TRUE(image->metadata);
    EXPECT_GT(image->metadata->size(), 1);
    ASSERT_EQ(image->extensions.size(), 1u);
    const Image& child = *image->extensions[0];
    EXPECT_FALSE(child.hasPicture());
    ASSERT_TRUE(child.metadata);
    EXPECT_TRUE(std::any_of(child.metadata->begin(), child.metadata->end(),
                            [](const QStringList& row) { return row[0] == "ZIMAGE"; }));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileInput,
    ::testing::Values(HostileCase{"rice-tile-overread.fits.fz", ".fz", "HDU 2"},
                      HostileCase{"gzip-tile-hang.fits.fz", ".fz", "HDU 2"},
                      HostileCase{"raw-half-gigabyte.cr3", ".nef", "camera RAW file"}),
    [](const auto& info) { return std::to_string(info.index); });

struct BrokenHelperCase {
    const char* name;
    const char* script;  // the helper's text; nullptr: no file at all
    int mode;            // permissions of the file
    const char* reason;  // the log line carries this
};

void PrintTo(const BrokenHelperCase& c, std::ostream* os) {
    *os << c.name;
}

class BrokenHelper : public DecodeHelperTest,
                     public ::testing::WithParamInterface<BrokenHelperCase> {};

TEST_P(BrokenHelper, RefusesTheHduAndTheRawFileWithALogLine) {
    const BrokenHelperCase c = GetParam();
    const QString packed = testDataPath("fits/ngc1316o_r.fits.fz");
    REQUIRE_TEST_FILE(packed);
    QTemporaryDir dir;
    const QString helper = dir.path() + "/quasel-decode";
    if (c.script) {
        QFile f(helper);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.script);
        f.close();
        f.setPermissions(QFileDevice::Permissions(c.mode));
    }
    DecodeHelper::setPath(helper.toStdString());
    LogCapture log;
    ImagePtr image = Image::create(readFileBytes(packed), ".fz");
    ASSERT_EQ(image->extensions.size(), 1u);
    EXPECT_FALSE(image->extensions[0]->hasPicture());
    EXPECT_TRUE(image->extensions[0]->metadata);
    ImagePtr raw = Image::create(makeDng(), ".nef");
    EXPECT_FALSE(raw->hasPicture());
    const QStringList lines = log.containing(c.reason);
    ASSERT_EQ(lines.size(), 2) << log.lines().join("\n").toStdString();
    EXPECT_TRUE(lines[0].contains("quasel-decode: HDU 2 of a tile-compressed FITS file"));
    EXPECT_TRUE(lines[1].contains("quasel-decode: camera RAW file"));
}

INSTANTIATE_TEST_SUITE_P(
    Helpers, BrokenHelper,
    ::testing::Values(
        BrokenHelperCase{"Missing", nullptr, 0, "No such file or directory"},
        BrokenHelperCase{"NotExecutable", "#!/bin/sh\nexit 0\n", 0x6644, "Permission denied"},
        BrokenHelperCase{"Crashes", "#!/bin/sh\nkill -SEGV $$\n", 0x7755, "crashed (signal 11"},
        BrokenHelperCase{"SaysNothing", "#!/bin/sh\nexit 0\n", 0x7755, "ended without a report"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecodeHelperTest, ConcurrentDecodesEachGetTheirOwnHelper) {
    const QString packed = testDataPath("fits/ngc1316o_r.fits.fz");
    REQUIRE_TEST_FILE(packed);
    const QByteArray bytes = readFileBytes(packed);
    const std::vector<uint8_t> expected = secondHduPixels(bytes, false);
    ASSERT_FALSE(expected.empty());
    // Descriptors of one spawn must not leak into a helper started at the same moment, or a
    // parent would wait for the wrong child's end.
    std::vector<std::vector<uint8_t>> results(6);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&bytes, &result] {
            auto rep = FITSImageRep::initWithData(bytes, 1);
            if (rep && !rep->extensions.empty()) result = rep->extensions[0]->buffer;
        });
    for (std::thread& t : threads)
        t.join();
    for (const auto& result : results)
        EXPECT_EQ(result, expected);
}

TEST_F(DecodeHelperTest, HelperPastItsDeadlineIsStopped) {
    const QString packed = testDataPath("fits/ngc1316o_r.fits.fz");
    REQUIRE_TEST_FILE(packed);
    QTemporaryDir dir;
    const QString helper = dir.path() + "/quasel-decode";
    QFile f(helper);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexec sleep 60\n");
    f.close();
    f.setPermissions(QFileDevice::Permissions(0x7755));
    DecodeHelper::setPath(helper.toStdString());
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    ImagePtr image = Image::create(readFileBytes(packed), ".fz");
    EXPECT_LT(clock.elapsed(), 10000);
    ASSERT_EQ(image->extensions.size(), 1u);
    EXPECT_FALSE(image->extensions[0]->hasPicture());
    EXPECT_EQ(log.containing("did not finish within 3 s and was stopped").size(), 1)
        << log.lines().join("\n").toStdString();
}

}  // namespace
