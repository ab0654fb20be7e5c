// Which files are developed as camera RAW: bytes no registered reader claims, under one of the
// camera RAW extensions (any bytes under .nef and .arw), go to LibRaw (in the decode helper)
// before Qt's readers, and to Qt's readers only when LibRaw finds no camera RAW file in them.
#include "CapturedLog.h"
#include "DecodeHelper.h"
#include "FitsFiles.h"
#include "Image.h"
#include "SyntheticDng.h"
#include "TestData.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

class CameraRawFormats : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        registerImageReaders();
        DecodeHelper::setIsolated(GetParam());
    }
    void TearDown() override {
        DecodeHelper::setIsolated(true);
        DecodeHelper::setPath("");
    }
};

// The picture's pixel bytes; empty without a picture.
std::vector<uint8_t> pictureOf(const ImagePtr& image) {
    if (!image->hasPicture()) return {};
    const BitmapImageRep& rep = *image->originalImageRep;
    return std::vector<uint8_t>(rep.bitmapData(), rep.bitmapData() + rep.planeBytes());
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

}  // namespace

TEST_P(CameraRawFormats, EveryCameraRawExtensionDevelopsTheFrameAsANefDoes) {
    const QByteArray dng = makeDng();
    const std::vector<uint8_t> asNef = pictureOf(Image::create(dng, ".nef"));
    ASSERT_EQ(asNef.size(), size_t(64 * 48 * 6));  // 48-bit RGB of the whole frame

    // The formats most cameras write, by their usual spelling, and (through the helper, as the
    // viewer decodes them) every listed one.
    QStringList formats{".dng", ".DNG", ".cr2", ".CR2", ".cr3", ".crw", ".raf",
                        ".orf", ".rw2", ".pef", ".srw", ".nrw", ".3fr", ".iiq"};
    for (const QString& ext : cameraRawExtensions())
        if (GetParam()) formats.append("." + ext);
    for (const QString& format : formats) {
        SCOPED_TRACE(format.toStdString());
        EXPECT_TRUE(isCameraRawFormat(format));
        ImagePtr image = Image::create(dng, format);
        EXPECT_EQ(image->format, format.toLower());
        EXPECT_EQ(image->bitsPerPixel, 48);
        EXPECT_EQ(pictureOf(image), asNef);
    }
    for (const char* format : {".tif", ".jpg", ".fits", "dng", ".dng.gz", "."})
        EXPECT_FALSE(isCameraRawFormat(format)) << format;
}

// A DNG as cameras write it starts with a small RGB preview that Qt's TIFF reader shows; as a
// camera RAW file it is the whole frame.
TEST_P(CameraRawFormats, TheFrameWinsOverThePreviewQtFinds) {
    const QByteArray dng = makeDngWithPreview();
    ImagePtr asTiff = Image::create(dng, ".tif");
    ASSERT_TRUE(asTiff->hasPicture());
    EXPECT_EQ(asTiff->width, 16);
    EXPECT_EQ(asTiff->bitsPerPixel, 24);

    const std::vector<uint8_t> frame = pictureOf(Image::create(makeDng(), ".nef"));
    for (const char* format : {".dng", ".cr2", ".nef"}) {
        SCOPED_TRACE(format);
        ImagePtr image = Image::create(dng, format);
        EXPECT_EQ(image->width, 64);
        EXPECT_EQ(image->height, 48);
        EXPECT_EQ(image->bitsPerPixel, 48);
        EXPECT_EQ(pictureOf(image), frame);
    }
}

TEST_P(CameraRawFormats, BytesWithoutACameraRawFileGoToQtsReaders) {
    QImage tiny(1, 1, QImage::Format_RGB888);  // a file of a few dozen bytes
    tiny.fill(QColor(10, 200, 30));
    QImage gradient(40, 30, QImage::Format_RGB888);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            gradient.setPixelColor(x, y, QColor(x * 6, y * 8, 100));
    struct Case {
        QByteArray bytes;
        const char* ordinary;  // the format's own extension
        const char* raw;       // the camera RAW name it is given
    };
    const Case cases[] = {
        {encoded(gradient, "JPEG"), ".jpg", ".cr2"}, {encoded(gradient, "TIFF"), ".tif", ".dng"},
        {encoded(tiny, "PNG"), ".png", ".raf"},      {encoded(gradient, "JPEG"), ".jpg", ".nef"},
        {encoded(gradient, "TIFF"), ".tif", ".ARW"}, {encoded(tiny, "PNG"), ".png", ".arw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        ASSERT_FALSE(c.bytes.isEmpty());
        CapturedLog log(SOLVAN_LOG_ERROR);
        ImagePtr image = Image::create(c.bytes, c.raw);
        ImagePtr ordinary = Image::create(c.bytes, c.ordinary);
        ASSERT_TRUE(ordinary->hasPicture());
        EXPECT_EQ(image->bitsPerPixel, 24);
        EXPECT_EQ(image->width, ordinary->width);
        EXPECT_EQ(pictureOf(image), pictureOf(ordinary));
        EXPECT_EQ(log.lines(), std::vector<std::string>());
    }
}

TEST_P(CameraRawFormats, ARegisteredReaderTakesItsOwnBytesFirst) {
    const QByteArray fits = writeFits([](fitsfile* f, int* st) {
        addImage(f, st, USHORT_IMG, {40, 30}, TUSHORT, std::vector<uint16_t>(1200, 3000));
    });
    ASSERT_FALSE(fits.isEmpty());
    ImagePtr image = Image::create(fits, ".cr2");
    EXPECT_EQ(image->width, 40);
    EXPECT_EQ(image->bitsPerPixel, 16);
    EXPECT_TRUE(image->metadata);
}

// Neither LibRaw nor Qt finds a picture: no picture, and no log line (nothing broke). The
// last is a TIFF whose directory runs past the end of the bytes.
TEST_P(CameraRawFormats, NothingInTheBytesGivesNoPicture) {
    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("garbage"), QByteArray(5000, '\x5a'), makeDng().left(100)}) {
        CapturedLog log(SOLVAN_LOG_ERROR);
        ImagePtr image = Image::create(bytes, ".cr2");
        EXPECT_FALSE(image->hasPicture()) << bytes.size();
        EXPECT_EQ(image->width, 0);
        EXPECT_EQ(log.lines(), std::vector<std::string>());
    }
}

INSTANTIATE_TEST_SUITE_P(Isolation, CameraRawFormats, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Helper" : "InProcess"; });

// A camera RAW file that LibRaw takes but the helper cannot develop gets no picture and one
// log line, soon; Qt's readers do not get its preview.
TEST(CameraRawFormatsInHelper, ABrokenCameraRawFileGivesNoPictureAndOneLogLine) {
    registerImageReaders();
    const QString hostile = testDataPath("hostile/raw-half-gigabyte.cr3");
    REQUIRE_TEST_FILE(hostile);
    QTemporaryDir dir;
    const QString crashing =
        writeFileBytes(dir.filePath("quasel-decode"), "#!/bin/sh\nkill -SEGV $$\n");
    ASSERT_TRUE(QFile::setPermissions(crashing, QFile::Permissions(0x7755)));
    struct Case {
        QByteArray bytes;
        const char* format;
        QString helper;      // empty: the real one
        const char* reason;  // the log line carries this
    };
    const Case cases[] = {
        {readFileBytes(hostile), ".cr3", {}, "found the data broken"},
        {readFileBytes(hostile), ".dng", {}, "found the data broken"},
        {makeDngWithPreview(), ".dng", crashing, "crashed (signal 11"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        DecodeHelper::setPath(c.helper.toStdString());
        CapturedLog log(SOLVAN_LOG_ERROR);
        QElapsedTimer clock;
        clock.start();
        ImagePtr image = Image::create(c.bytes, c.format);
        EXPECT_LT(clock.elapsed(), 10000);  // LibRaw alone takes seconds and half a gigabyte
        EXPECT_FALSE(image->hasPicture());
        const std::vector<std::string> lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("quasel-decode: camera RAW file gets no picture", 0), 0u);
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
    }
    DecodeHelper::setPath("");
}
