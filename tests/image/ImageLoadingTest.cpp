// Loading whole files: every sample, ordinary picture formats, and bytes that lie.
#include "FitsFiles.h"
#include "Image.h"
#include "TestData.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

class ImageLoading : public ::testing::Test {
  protected:
    void SetUp() override { registerImageReaders(); }
};

QByteArray encode(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}

}  // namespace

// Geometry as the sample README lists it: width, height, bits per pixel; 0 = no picture.
struct SampleCase {
    const char* file;
    int64_t width, height, bpp;
    size_t children;
};

class SampleFiles : public ImageLoading, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(SampleFiles, LoadWithTheirGeometry) {
    const SampleCase& c = GetParam();
    const QString path = testDataPath(c.file);
    REQUIRE_TEST_FILE(path);
    const QString suffix = "." + QFileInfo(path).suffix();
    const QByteArray bytes = readFileBytes(path);
    ImagePtr image = Image::create(bytes, suffix);
    EXPECT_EQ(image->hasPicture(), c.bpp != 0) << c.file;
    if (c.bpp != 0) {
        EXPECT_EQ(image->width, c.width) << c.file;
        EXPECT_EQ(image->height, c.height) << c.file;
        EXPECT_EQ(image->size, c.width * c.height) << c.file;
        EXPECT_EQ(image->bitsPerPixel, c.bpp) << c.file;
        const auto& rep = image->originalImageRep;
        EXPECT_GE(rep->bytesPerRow * 8, rep->pixelsWide * rep->bitsPerPixel);
    }
    EXPECT_EQ(image->extensions.size(), c.children) << c.file;
    // The file's bytes are not held once decoded: no reader, representation or child keeps a
    // share of the buffer (none of these formats has its pixels read in place).
    EXPECT_TRUE(bytes.isDetached()) << c.file;
}

INSTANTIATE_TEST_SUITE_P(
    Testdata, SampleFiles,
    ::testing::Values(
        SampleCase{"fits/a8280271.fits", 536, 520, 16, 0},
        SampleCase{"fits/asciitab.fit", 0, 0, 0, 1}, SampleCase{"fits/blank.fits", 1, 1, 16, 0},
        SampleCase{"fits/btable.fits", 0, 0, 0, 1}, SampleCase{"fits/comp.fits", 0, 0, 0, 1},
        SampleCase{"fits/datacube.fit", 64, 64, 48, 0},
        SampleCase{"fits/eso_gray8_im.fits", 320, 248, 8, 0},
        SampleCase{"fits/eso_rgb16_im.fits", 320, 248, 48, 0},
        SampleCase{"fits/eso_rgb8_im.fits", 320, 248, 24, 0},
        SampleCase{"fits/iraf_apphot_fits3_f32_stars.fits", 51, 51, 16, 0},
        SampleCase{"fits/irsa_dust_f64.fits", 202, 202, 16, 0},
        SampleCase{"fits/magpis_image_f32.fits", 300, 300, 16, 0},
        SampleCase{"fits/multi.fits", 0, 0, 0, 3}, SampleCase{"fits/ngc1316o.fit", 440, 300, 16, 0},
        SampleCase{"fits/ngc1316o_r.fits.fz", 0, 0, 0, 1}, SampleCase{"fits/rate.fit", 0, 0, 0, 1},
        SampleCase{"fits/scale.fits", 20, 21, 16, 0}, SampleCase{"fits/test0.fits", 0, 0, 0, 4},
        // gzip bytes: no reader takes them.
        SampleCase{"fits/thumbnail-image.fit.gz", 0, 0, 0, 0},
        SampleCase{"images/chessboard_GRAY_U16.tif", 200, 200, 16, 0},
        SampleCase{"images/eso_eso1723a_320.jpg", 320, 248, 24, 0},
        SampleCase{"images/eso_eso1723a_320.png", 320, 248, 24, 0},
        SampleCase{"images/moon.png", 512, 512, 8, 0}),
    [](const auto& info) {
        std::string s = info.param.file;
        for (char& ch : s)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return s;
    });

TEST_F(ImageLoading, XisfFilesLoadWithoutCrashing) {
    const QStringList names = QDir(testDataPath("xisf")).entryList({"*.xisf"});
    if (names.isEmpty()) GTEST_SKIP() << "samples missing: " << testDataPath("xisf").toStdString();
    for (const QString& name : names) {
        ImagePtr image = Image::create(readFileBytes(testDataPath("xisf/" + name)), ".xisf");
        EXPECT_TRUE(image->extensions.empty()) << name.toStdString();
    }
}

TEST_F(ImageLoading, OrdinaryFormatsGiveTheDocumentedBitmaps) {
    QImage grey8(5, 3, QImage::Format_Grayscale8);
    grey8.fill(77);
    QImage grey16(5, 3, QImage::Format_Grayscale16);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            reinterpret_cast<uint16_t*>(grey16.scanLine(y))[x] = 40000;
    QImage rgb(5, 3, QImage::Format_RGB32);
    rgb.fill(QColor(10, 20, 30));
    QImage rgba(5, 3, QImage::Format_ARGB32);
    rgba.fill(QColor(10, 20, 30, 128));
    QImage rgb16(5, 3, QImage::Format_RGBX64);
    rgb16.fill(QColor::fromRgba64(1000, 2000, 3000));

    struct Case {
        const char* label;
        QImage image;
        const char* format;
        int64_t bpp;
    };
    for (const Case& c : {Case{"grey8 png", grey8, "png", 8}, Case{"grey16 png", grey16, "png", 16},
                          Case{"grey16 tiff", grey16, "tiff", 16}, Case{"rgb png", rgb, "png", 24},
                          Case{"rgb bmp", rgb, "bmp", 24}, Case{"rgba png", rgba, "png", 32},
                          Case{"rgb16 png", rgb16, "png", 48}}) {
        ImagePtr image = Image::create(encode(c.image, c.format), QString(".") + c.format);
        ASSERT_TRUE(image->hasPicture()) << c.label;
        EXPECT_EQ(image->bitsPerPixel, c.bpp) << c.label;
        EXPECT_EQ(image->width, 5);
        EXPECT_EQ(image->height, 3);
        EXPECT_FALSE(image->metadata) << c.label;
        const auto& rep = *image->originalImageRep;
        const uint8_t* p = rep.bitmapData();
        switch (c.bpp) {
            case 8:
                EXPECT_EQ(p[0], 77);
                break;
            case 16:
                EXPECT_EQ(reinterpret_cast<const uint16_t*>(p)[0], 40000);
                break;
            case 24:
                EXPECT_EQ(p[0], 10);
                EXPECT_EQ(p[2], 30);
                break;
            case 32:  // alpha last, so the alpha-first bit is clear
                EXPECT_EQ(rep.bitmapFormat & BitmapFormatAlphaFirst, 0);
                EXPECT_TRUE(rep.hasAlpha);
                EXPECT_EQ(p[0], 10);
                EXPECT_EQ(p[3], 128);
                break;
            case 48: {
                const auto* w = reinterpret_cast<const uint16_t*>(p);
                EXPECT_EQ(w[0], 1000);
                EXPECT_EQ(w[1], 2000);
                EXPECT_EQ(w[2], 3000);
                break;
            }
        }
    }
}

TEST_F(ImageLoading, BytesThatNothingDecodesGiveAnEmptyImage) {
    QByteArray random(4096, 0);
    QRandomGenerator gen(42);
    for (char& ch : random)
        ch = char(gen.bounded(256));
    QByteArray simpleJunk = QByteArray("SIMPLE") + random;
    for (const auto& [bytes, format] : {std::pair{random, QString(".fits")},
                                        {simpleJunk, ".fits"},
                                        {random, ".nef"},
                                        {random, ".NEF"},
                                        {simpleJunk, ".ARW"},
                                        {QByteArray(), ".png"}}) {
        ImagePtr image = Image::create(bytes, format);
        EXPECT_FALSE(image->hasPicture());
        EXPECT_EQ(image->width, 0);
        EXPECT_EQ(image->height, 0);
        EXPECT_EQ(image->size, 0);
        EXPECT_EQ(image->bitsPerPixel, 0);
        EXPECT_FALSE(image->metadata);
        EXPECT_TRUE(image->extensions.empty());
        EXPECT_EQ(image->format, format.toLower());
    }
}

TEST_F(ImageLoading, TruncatedFitsNeverReadsPastTheBytes) {
    for (const char* name : {"fits/test0.fits", "fits/ngc1316o_r.fits.fz", "fits/asciitab.fit",
                             "fits/eso_rgb8_im.fits", "fits/magpis_image_f32.fits"}) {
        const QString path = testDataPath(name);
        REQUIRE_TEST_FILE(path);
        const QByteArray whole = readFileBytes(path);
        // Cuts through the first headers byte by byte in coarse steps, then through the rest.
        for (qsizetype cut = 0; cut < whole.size(); cut += cut < 6000 ? 97 : whole.size() / 40) {
            ImagePtr image = Image::create(whole.left(cut), ".fits");
            std::vector<ImagePtr> all = image->extensions;
            all.push_back(image);
            // Touch every byte each bitmap claims (AddressSanitizer reports any overrun).
            for (const ImagePtr& each : all) {
                if (!each->hasPicture()) continue;
                const auto& rep = *each->originalImageRep;
                uint64_t sum = 0;
                for (size_t i = 0; i < rep.planeBytes(); ++i)
                    sum += rep.bitmapData()[i];
                EXPECT_GE(sum, 0u);
            }
        }
    }
}

TEST_F(ImageLoading, HugeHeaderDimensionsAreRefused) {
    // A header promising 100000 x 100000 16-bit pixels in a file of a few kilobytes.
    QByteArray header;
    auto card = [&](const QString& text) { header += text.leftJustified(80, ' ').toLatin1(); };
    card("SIMPLE  =                    T");
    card("BITPIX  =                   16");
    card("NAXIS   =                    2");
    card("NAXIS1  =               100000");
    card("NAXIS2  =               100000");
    card("END");
    header = header.leftJustified(2880 * 2, ' ');
    ImagePtr image = Image::create(header, ".fits");
    EXPECT_FALSE(image->hasPicture());
}

// A picture's text entries come with it, and the PNG is parsed once: a second parse from the
// end of the bytes made libpng print "Read Error" at every PNG opened.
TEST_F(ImageLoading, PictureTextComesWithItAndNothingIsPrinted) {
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    picture.setText("Description", "M 42 through clouds");
    const QByteArray bytes = encode(picture, "png");
    testing::internal::CaptureStderr();
    ImagePtr image = Image::create(bytes, ".png");
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(image->hasPicture());
    EXPECT_EQ(printed.find("libpng"), std::string::npos) << printed;
    ASSERT_TRUE(image->properties);
    EXPECT_EQ(image->properties->value("Description").toString(), "M 42 through clouds");
}
