// The XISF reader: sample files compared with their FITS sources read through CFITSIO, files
// built here for every bitmap layout and conversion, and files it must refuse.
#include "FitsFiles.h"
#include "Image.h"
#include "ImageDecoding.h"
#include "TestData.h"
#include "XISFImageRep.h"

#include <fitsio.h>

#include <QtEndian>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Little-endian bytes of each value, one after the other.
template <typename T>
QByteArray littleEndian(const std::vector<T>& values) {
    QByteArray out;
    for (T v : values) {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));  // this machine is little-endian (checked below)
        out.append(reinterpret_cast<const char*>(b), sizeof(T));
    }
    return out;
}

// A monolithic XISF file: signature, header length, reserved word, an XML header holding one
// `Image` element with `attributes` (and `content` inside it), zero padding up to `offset`,
// then `block`.
QByteArray xisfFile(const QString& attributes, const QByteArray& block, int offset = 4096,
                    const QString& content = {}) {
    const QByteArray header = QString(
                                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                  "<xisf version=\"1.0\" xmlns=\"http://www.pixinsight.com/xisf\">"
                                  "<Image %1>%2</Image></xisf>")
                                  .arg(attributes, content)
                                  .toUtf8();
    QByteArray file("XISF0100");
    const uint32_t length = uint32_t(header.size());
    file.append(littleEndian(std::vector<uint32_t>{length, 0}));
    file.append(header);
    if (file.size() < offset) file.append(QByteArray(offset - file.size(), '\0'));
    return file + block;
}

// The attributes of an attached image at `offset` holding `blockBytes` bytes.
QString imageAttributes(const QString& geometry, const QString& format, int offset,
                        qsizetype blockBytes, const QString& extra = {}) {
    return QString("geometry=\"%1\" sampleFormat=\"%2\" location=\"attachment:%3:%4\" %5")
        .arg(geometry, format)
        .arg(offset)
        .arg(blockBytes)
        .arg(extra);
}

std::shared_ptr<XISFImageRep> read(const QByteArray& bytes) {
    return XISFImageRep::initWithBytes(bytes);
}

// Sample `c` of pixel (x, y), y counted from the top row, of an 8- or 16-bit bitmap.
int sampleAt(const BitmapImageRep& rep, int64_t x, int64_t y, int64_t c) {
    const uint8_t* row = rep.bitmapData() + y * rep.bytesPerRow;
    const int64_t index = x * rep.samplesPerPixel + c;
    if (rep.bitsPerSample == 8) return row[index];
    uint16_t v;
    std::memcpy(&v, row + index * 2, 2);
    return v;
}

// Whether the bitmap's pixels lie inside the representation's own copy of the file.
bool pointsIntoFile(const XISFImageRep& rep) {
    const auto* begin = reinterpret_cast<const uint8_t*>(rep.data.constData());
    return rep.bitmapData() >= begin && rep.bitmapData() < begin + rep.data.size();
}

class XISFReaderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { registerImageReaders(); }
};

TEST_F(XISFReaderTest, SignatureAndRegistration) {
    EXPECT_TRUE(XISFImageRep::canInitWithData("XISF0100"));
    EXPECT_TRUE(XISFImageRep::canInitWithData("XISF0100 and more"));
    EXPECT_FALSE(XISFImageRep::canInitWithData("XISF010"));
    EXPECT_FALSE(XISFImageRep::canInitWithData("XISF0200........"));
    EXPECT_FALSE(XISFImageRep::canInitWithData(""));
    EXPECT_FALSE(XISFImageRep::canInitWithData("SIMPLE  =                    T"));

    const auto classes = registeredImageRepClasses();
    ASSERT_GE(classes.size(), 3u);
    EXPECT_STREQ(classes[0].name, "RawImageRep");
    EXPECT_STREQ(classes[1].name, "FITSImageRep");
    EXPECT_STREQ(classes[2].name, "XISFImageRep");
    EXPECT_TRUE(XISFImageRep::imageRepsWithData("XISF0100").empty());
}

// The sample written from ngc1316o.fit: 16-bit grey, used in place, samples equal to the FITS
// file's in the same rows.
TEST_F(XISFReaderTest, UInt16SampleMatchesItsFitsSource) {
    const QString xisfPath = testDataPath("xisf/ngc1316o_u16.xisf");
    const QString fitsPath = testDataPath("fits/ngc1316o.fit");
    REQUIRE_TEST_FILE(xisfPath);
    REQUIRE_TEST_FILE(fitsPath);
    long naxes[3];
    const std::vector<int> expected = readFitsPixels<int>(fitsPath, TINT, naxes);
    ASSERT_EQ(expected.size(), 440u * 300u);

    const QByteArray bytes = readFileBytes(xisfPath);
    auto rep = read(bytes);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide, naxes[0]);
    EXPECT_EQ(rep->pixelsHigh, naxes[1]);
    EXPECT_EQ(rep->bitsPerSample, 16);
    EXPECT_EQ(rep->samplesPerPixel, 1);
    EXPECT_EQ(rep->bitsPerPixel, 16);
    EXPECT_EQ(rep->bytesPerRow, 880);
    EXPECT_EQ(rep->numberOfPlanes, 1);
    EXPECT_EQ(rep->colorSpace, ColorSpace::CalibratedWhite);
    EXPECT_TRUE(rep->tempData.empty());
    EXPECT_EQ(rep->bitmapData(), reinterpret_cast<const uint8_t*>(rep->data.constData()) + 4096);

    int mismatches = 0;
    for (int64_t y = 0; y < 300; ++y)
        for (int64_t x = 0; x < 440; ++x)
            if (sampleAt(*rep, x, y, 0) != expected[size_t(y * 440 + x)]) ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

// The float sample written from magpis_image_f32.fits: each sample times 65535, truncated,
// negative ones at 0.
TEST_F(XISFReaderTest, Float32SampleIsScaledToSixteenBits) {
    const QString xisfPath = testDataPath("xisf/magpis_f32.xisf");
    const QString fitsPath = testDataPath("fits/magpis_image_f32.fits");
    REQUIRE_TEST_FILE(xisfPath);
    REQUIRE_TEST_FILE(fitsPath);
    long naxes[3];
    const std::vector<float> source = readFitsPixels<float>(fitsPath, TFLOAT, naxes);
    ASSERT_EQ(source.size(), 300u * 300u);

    auto rep = read(readFileBytes(xisfPath));
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->bitsPerPixel, 16);
    EXPECT_EQ(rep->samplesPerPixel, 1);
    EXPECT_FALSE(rep->tempData.empty());
    EXPECT_TRUE(rep->data.isEmpty());  // the converted copy is all it keeps

    int mismatches = 0, negatives = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        const float scaled = source[i] * 65535.0f;
        int expected = scaled <= -1.0f ? 0 : int(std::trunc(scaled));
        if (source[i] < 0) ++negatives;
        if (sampleAt(*rep, int64_t(i % 300), int64_t(i / 300), 0) != expected) ++mismatches;
    }
    EXPECT_GT(negatives, 0);  // the clamping at 0 is exercised
    EXPECT_EQ(mismatches, 0);
}

// The planar 8-bit colour sample: its three planes interleaved into a 24-bit picture. This
// file was written top row first, so its row y is the FITS cube's row height-1-y.
TEST_F(XISFReaderTest, PlanarColourSampleIsInterleaved) {
    const QString xisfPath = testDataPath("xisf/eso1723a_rgb_u8.xisf");
    const QString fitsPath = testDataPath("fits/eso_rgb8_im.fits");
    REQUIRE_TEST_FILE(xisfPath);
    REQUIRE_TEST_FILE(fitsPath);
    long naxes[3];
    const std::vector<int> cube = readFitsPixels<int>(fitsPath, TINT, naxes);
    ASSERT_EQ(cube.size(), 320u * 248u * 3u);

    auto rep = read(readFileBytes(xisfPath));
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide, 320);
    EXPECT_EQ(rep->pixelsHigh, 248);
    EXPECT_EQ(rep->bitsPerSample, 8);
    EXPECT_EQ(rep->samplesPerPixel, 3);
    EXPECT_EQ(rep->bitsPerPixel, 24);
    EXPECT_EQ(rep->bytesPerRow, 960);
    EXPECT_EQ(rep->numberOfPlanes, 1);
    EXPECT_FALSE(rep->isPlanar);
    EXPECT_EQ(rep->colorSpace, ColorSpace::DeviceRGB);

    const int64_t w = 320, h = 248, n = w * h;
    int mismatches = 0;
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x)
            for (int64_t c = 0; c < 3; ++c)
                if (sampleAt(*rep, x, y, c) != cube[size_t(c * n + (h - 1 - y) * w + x)])
                    ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

// A block compressed with zlib is not pixels: the file is refused, not shown as noise.
TEST_F(XISFReaderTest, CompressedSampleIsRejected) {
    const QString path = testDataPath("xisf/ngc1316o_u16_zlib.xisf");
    REQUIRE_TEST_FILE(path);
    const QByteArray bytes = readFileBytes(path);
    EXPECT_FALSE(read(bytes));
    EXPECT_TRUE(XISFImageRep::imageRepsWithData(bytes).empty());
    ImagePtr image = Image::create(bytes, ".xisf");
    EXPECT_FALSE(image->hasPicture());
    EXPECT_FALSE(image->metadata.has_value());
    EXPECT_EQ(image->width, 0);
}

// Loading a sample through Image: picture, sizes and the header rows of the file, in order.
TEST_F(XISFReaderTest, ImageTakesPictureAndHeaderRows) {
    struct Case {
        const char* file;
        int64_t width, height, bitsPerPixel;
        QStringList someRow;
    };
    const Case cases[] = {
        {"xisf/ngc1316o_u16.xisf", 440, 300, 16, {"FITS:OBJECT", "NGC 1316", ""}},
        {"xisf/magpis_f32.xisf", 300, 300, 16, {"FITS:BITPIX", "-32", "4-byte Floating Point"}},
        {"xisf/eso1723a_rgb_u8.xisf", 320, 248, 24, {"XISF:BlockAlignmentSize", "4096", "UInt16"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = testDataPath(c.file);
        REQUIRE_TEST_FILE(path);
        const QByteArray bytes = readFileBytes(path);
        ImagePtr image = Image::create(bytes, ".XISF");
        ASSERT_TRUE(image->hasPicture());
        EXPECT_EQ(image->format, ".xisf");
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        EXPECT_EQ(image->size, c.width * c.height);
        EXPECT_EQ(image->bitsPerPixel, c.bitsPerPixel);
        EXPECT_TRUE(image->extensions.empty());
        ASSERT_TRUE(image->metadata.has_value());
        const StringTable& rows = *image->metadata;
        ASSERT_GE(rows.size(), 2);
        EXPECT_EQ(rows[0], QStringList({"key", "value", "comment"}));
        EXPECT_EQ(rows[1][0], "Image:geometry");
        EXPECT_TRUE(rows.contains(c.someRow));
        for (const QStringList& row : rows)
            EXPECT_EQ(row.size(), 3);

        // One row per keyword and property element, after the title and the three "Image:"
        // rows (geometry, sampleFormat, colorSpace) these files carry.
        const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + 8);
        const QByteArray header = bytes.mid(16, length);
        EXPECT_EQ(rows.size(), 4 + header.count("<FITSKeyword ") + header.count("<Property "));
        EXPECT_EQ(rows.last()[0], "XISF:MaxInlineBlockSize");
        auto rep = std::dynamic_pointer_cast<XISFImageRep>(image->originalImageRep);
        ASSERT_TRUE(rep);
        EXPECT_EQ(rep->metadata, rows);
    }
}

TEST_F(XISFReaderTest, GreyLayoutsAreUsedInPlace) {
    const int one = 1;
    ASSERT_EQ(*reinterpret_cast<const char*>(&one), 1) << "tests assume a little-endian machine";

    const QByteArray bytes8 = QByteArray("\x00\x10\x80\xff\x01\x02", 6);
    for (const QString storage : {"", "pixelStorage=\"Normal\"", "pixelStorage=\"Planar\""}) {
        SCOPED_TRACE(storage.toStdString());
        auto rep = read(xisfFile(imageAttributes("3:2:1", "UInt8", 4096, 6, storage), bytes8));
        ASSERT_TRUE(rep);
        EXPECT_EQ(rep->bitsPerPixel, 8);
        EXPECT_EQ(rep->bitsPerSample, 8);
        EXPECT_EQ(rep->bytesPerRow, 3);
        EXPECT_TRUE(rep->tempData.empty());
        EXPECT_EQ(rep->bitmapData(),
                  reinterpret_cast<const uint8_t*>(rep->data.constData()) + 4096);
        EXPECT_EQ(sampleAt(*rep, 0, 0, 0), 0x00);
        EXPECT_EQ(sampleAt(*rep, 2, 0, 0), 0x80);
        EXPECT_EQ(sampleAt(*rep, 0, 1, 0), 0xff);
        EXPECT_EQ(sampleAt(*rep, 2, 1, 0), 0x02);
    }

    // 640 x 480 16-bit grey at byte 4096: every sample where the file put it.
    std::vector<uint16_t> values(640 * 480);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = uint16_t(i * 7 + (i / 640) * 13);
    auto rep = read(xisfFile(imageAttributes("640:480:1", "UInt16", 4096, 640 * 480 * 2),
                             littleEndian(values)));
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide, 640);
    EXPECT_EQ(rep->pixelsHigh, 480);
    EXPECT_EQ(rep->bitsPerPixel, 16);
    EXPECT_EQ(rep->bytesPerRow, 1280);
    EXPECT_EQ(rep->bitmapData(), reinterpret_cast<const uint8_t*>(rep->data.constData()) + 4096);
    int mismatches = 0;
    for (size_t i = 0; i < values.size(); ++i)
        if (sampleAt(*rep, int64_t(i % 640), int64_t(i / 640), 0) != values[i]) ++mismatches;
    EXPECT_EQ(mismatches, 0);
}

// A 16-bit block at an odd byte offset cannot be read as words in place; it is copied.
TEST_F(XISFReaderTest, SixteenBitBlockAtOddOffsetIsCopied) {
    const std::vector<uint16_t> values{1, 258, 65535, 4096};
    auto rep =
        read(xisfFile(imageAttributes("2:2:1", "UInt16", 4097, 8), littleEndian(values), 4097));
    ASSERT_TRUE(rep);
    EXPECT_FALSE(pointsIntoFile(*rep));
    EXPECT_EQ(sampleAt(*rep, 0, 0, 0), 1);
    EXPECT_EQ(sampleAt(*rep, 1, 0, 0), 258);
    EXPECT_EQ(sampleAt(*rep, 0, 1, 0), 65535);
    EXPECT_EQ(sampleAt(*rep, 1, 1, 0), 4096);
}

// Colour: planar blocks (3 or 4 channels, storage absent or "Planar") are interleaved from
// their first three planes; "Normal" 3-channel blocks are the bitmap already.
TEST_F(XISFReaderTest, ColourLayouts) {
    const int64_t w = 3, h = 2, n = w * h;
    auto planeValue = [&](int64_t c, int64_t i) { return int(1000 * (c + 1) + 10 * i + 1); };
    struct Case {
        const char* name;
        const char* format;
        int channels;
        QString storage;
        bool planar;
        int bitsPerPixel;
    };
    const Case cases[] = {
        {"16-bit, storage absent", "UInt16", 3, "", true, 48},
        {"16-bit Planar", "UInt16", 3, "pixelStorage=\"Planar\"", true, 48},
        {"16-bit, four planes", "UInt16", 4, "", true, 48},
        {"8-bit planar", "UInt8", 3, "", true, 24},
        {"8-bit, four planes", "UInt8", 4, "", true, 24},
        {"UInt32 planar", "UInt32", 3, "", true, 48},
        {"16-bit Normal", "UInt16", 3, "pixelStorage=\"Normal\"", false, 48},
        {"8-bit Normal", "UInt8", 3, "pixelStorage=\"Normal\"", false, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool eightBit = QByteArray(c.format) == "UInt8";
        auto stored = [&](int64_t ch, int64_t i) {
            const int v = planeValue(ch, i);
            return eightBit ? v & 0xff : v;
        };
        std::vector<uint32_t> samples;  // in file order
        for (int64_t k = 0; k < n * c.channels; ++k) {
            const int64_t ch = c.planar ? k / n : k % c.channels;
            const int64_t i = c.planar ? k % n : k / c.channels;
            samples.push_back(uint32_t(stored(ch, i)));
        }
        QByteArray block;
        if (eightBit)
            for (uint32_t s : samples)
                block.append(char(s));
        else if (QByteArray(c.format) == "UInt16")
            block = littleEndian(std::vector<uint16_t>(samples.begin(), samples.end()));
        else
            block = littleEndian(samples);
        const QString geometry = QString("%1:%2:%3").arg(w).arg(h).arg(c.channels);
        auto rep = read(
            xisfFile(imageAttributes(geometry, c.format, 4096, block.size(), c.storage), block));
        ASSERT_TRUE(rep);
        EXPECT_EQ(rep->samplesPerPixel, 3);
        EXPECT_EQ(rep->bitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(rep->bytesPerRow, w * c.bitsPerPixel / 8);
        EXPECT_EQ(rep->numberOfPlanes, 1);
        EXPECT_FALSE(rep->isPlanar);
        EXPECT_FALSE(rep->hasAlpha);
        EXPECT_EQ(rep->bitmapFormat, 0);
        EXPECT_EQ(rep->colorSpace, ColorSpace::DeviceRGB);
        EXPECT_EQ(pointsIntoFile(*rep), !c.planar);
        for (int64_t i = 0; i < n; ++i)
            for (int64_t ch = 0; ch < 3; ++ch)
                EXPECT_EQ(sampleAt(*rep, i % w, i / w, ch), stored(ch, i))
                    << "pixel " << i << " channel " << ch;
    }
}

TEST_F(XISFReaderTest, UInt32KeepsTheLowSixteenBits) {
    const std::vector<uint32_t> values{65537, 131071, 0, 65535, 65536, 0xFFFFFFFFu};
    const int expected[] = {1, 65535, 0, 65535, 0, 65535};
    auto rep = read(xisfFile(imageAttributes("6:1:1", "UInt32", 4096, 24), littleEndian(values)));
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->bitsPerPixel, 16);
    EXPECT_EQ(rep->bitsPerSample, 16);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(sampleAt(*rep, x, 0, 0), expected[x]) << "x " << x;
}

// Floats are multiplied by 65535 and truncated; what falls outside 0..65535, NaN and the
// infinities included, is clamped and the file still opens.
TEST_F(XISFReaderTest, FloatsAreScaledTruncatedAndClamped) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> values{0.0, 0.5,  1.0,  -0.00001, 0.99999, 1.00001,
                                     2.0, -1.0, -0.5, nan,      inf,     -inf};
    const int expected[] = {0, 32767, 65535, 0, 65534, 65535, 65535, 0, 0, 0, 65535, 0};
    const QString geometry = QString("%1:1:1").arg(values.size());
    const qsizetype n = qsizetype(values.size());

    auto rep64 =
        read(xisfFile(imageAttributes(geometry, "Float64", 4096, n * 8), littleEndian(values)));
    const std::vector<float> floats(values.begin(), values.end());
    auto rep32 =
        read(xisfFile(imageAttributes(geometry, "Float32", 4096, n * 4), littleEndian(floats)));
    for (const auto& rep : {rep32, rep64}) {
        ASSERT_TRUE(rep);
        EXPECT_EQ(rep->bitsPerPixel, 16);
        for (qsizetype x = 0; x < n; ++x)
            EXPECT_EQ(sampleAt(*rep, x, 0, 0), expected[x]) << "value " << values[size_t(x)];
    }

    // Each precision keeps its own product: this float times 65535 is 53564.99906 exactly,
    // which single precision rounds to 53565.0 before the truncation; in double it stays.
    const float a = std::bit_cast<float>(0x3f513dd1u);
    auto single = read(xisfFile(imageAttributes("1:1:1", "Float32", 4096, 4),
                                littleEndian(std::vector<float>{a})));
    auto twice = read(xisfFile(imageAttributes("1:1:1", "Float64", 4096, 8),
                               littleEndian(std::vector<double>{double(a)})));
    ASSERT_TRUE(single && twice);
    EXPECT_EQ(sampleAt(*single, 0, 0, 0), 53565);
    EXPECT_EQ(sampleAt(*twice, 0, 0, 0), 53564);

    // Planar float colour gives a 48-bit picture.
    const std::vector<float> colour{0.0f, 1.0f, 0.5f, 0.25f, 1.0f, 0.0f};
    auto rgb = read(xisfFile(imageAttributes("2:1:3", "Float32", 4096, 24), littleEndian(colour)));
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->bitsPerPixel, 48);
    EXPECT_EQ(sampleAt(*rgb, 0, 0, 0), 0);
    EXPECT_EQ(sampleAt(*rgb, 0, 0, 1), 32767);
    EXPECT_EQ(sampleAt(*rgb, 0, 0, 2), 65535);
    EXPECT_EQ(sampleAt(*rgb, 1, 0, 0), 65535);
    EXPECT_EQ(sampleAt(*rgb, 1, 0, 1), 16383);
    EXPECT_EQ(sampleAt(*rgb, 1, 0, 2), 0);
}

// A header that breaks off with an XML error after the `Image` element still gives a picture
// and the rows read before the error.
TEST_F(XISFReaderTest, XmlErrorAfterImageElementStillGivesPicture) {
    const QByteArray header =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xisf version=\"1.0\">"
        "<Image geometry=\"2:1:1\" sampleFormat=\"UInt8\" location=\"attachment:512:2\"/>"
        "<Property id=\"Before\" type=\"String\">kept</Property>"
        "<Property id=\"Broken\" type=\"String\">lost<oops attr=1></Property></xisf>";
    QByteArray file("XISF0100");
    file.append(littleEndian(std::vector<uint32_t>{uint32_t(header.size()), 0}));
    file.append(header);
    file.append(QByteArray(512 - file.size(), '\0'));
    file.append("\x05\x07", 2);
    ImagePtr image = Image::create(file, ".xisf");
    ASSERT_TRUE(image->hasPicture());
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->bitsPerPixel, 8);
    ASSERT_TRUE(image->metadata.has_value());
    EXPECT_TRUE(image->metadata->contains(QStringList({"Before", "kept", "String"})));
    for (const QStringList& row : *image->metadata)
        EXPECT_NE(row[0], "Broken");
}

// Files that must give no representation, each beside the smallest change from a valid one.
TEST_F(XISFReaderTest, RejectsWhatItCannotShow) {
    const QByteArray block4(4, '\x11');
    struct Case {
        const char* name;
        QString attributes;
        QByteArray block;
    };
    const Case cases[] = {
        {"no geometry", "sampleFormat=\"UInt8\" location=\"attachment:4096:4\"", block4},
        {"two geometry parts", imageAttributes("2:2", "UInt8", 4096, 4), block4},
        {"zero width", imageAttributes("0:2:1", "UInt8", 4096, 4), block4},
        {"negative width", imageAttributes("-2:2:1", "UInt8", 4096, 4), block4},
        {"negative height and channels", imageAttributes("2:-2:-1", "UInt8", 4096, 4), block4},
        {"words for numbers", imageAttributes("two:2:1", "UInt8", 4096, 4), block4},
        {"width beyond 64 bits", imageAttributes("99999999999999999999:2:1", "UInt8", 4096, 4),
         block4},
        {"absurd sides", imageAttributes("100000000:100000000:1", "UInt8", 4096, 4), block4},
        {"block much larger than file", imageAttributes("20000:20000:1", "UInt16", 4096, 4),
         block4},
        {"block one byte past the end", imageAttributes("5:1:1", "UInt8", 4096, 5), block4},
        {"no sample format", "geometry=\"2:2:1\" location=\"attachment:4096:4\"", block4},
        {"unknown sample format", imageAttributes("2:2:1", "Int16", 4096, 4), block4},
        {"lower-case sample format", imageAttributes("2:2:1", "uint8", 4096, 4), block4},
        {"no location", "geometry=\"2:2:1\" sampleFormat=\"UInt8\"", block4},
        {"inline location", "geometry=\"2:2:1\" sampleFormat=\"UInt8\" location=\"inline:base64\"",
         block4},
        {"embedded location", "geometry=\"2:2:1\" sampleFormat=\"UInt8\" location=\"embedded\"",
         block4},
        {"attachment without offset",
         "geometry=\"2:2:1\" sampleFormat=\"UInt8\" location=\"attachment\"", block4},
        {"offset 0", imageAttributes("2:2:1", "UInt8", 0, 4), block4},
        {"negative offset", imageAttributes("2:2:1", "UInt8", -4096, 4), block4},
        {"offset past the end", imageAttributes("2:2:1", "UInt8", 999999, 4), block4},
        {"two channels", imageAttributes("2:1:2", "UInt8", 4096, 4), block4},
        {"five channels", imageAttributes("1:1:5", "UInt8", 4096, 5), QByteArray(5, 1)},
        {"four interleaved channels",
         imageAttributes("1:1:4", "UInt8", 4096, 4, "pixelStorage=\"Normal\""), block4},
        {"interleaved UInt32 colour",
         imageAttributes("1:1:3", "UInt32", 4096, 12, "pixelStorage=\"Normal\""),
         QByteArray(12, 1)},
        {"interleaved Float32 colour",
         imageAttributes("1:1:3", "Float32", 4096, 12, "pixelStorage=\"Normal\""),
         QByteArray(12, 0)},
        {"interleaved Float64 colour",
         imageAttributes("1:1:3", "Float64", 4096, 24, "pixelStorage=\"Normal\""),
         QByteArray(24, 0)},
        {"fourth plane missing", imageAttributes("1:1:4", "UInt8", 4096, 4), QByteArray(3, 1)},
        {"zlib compressed", imageAttributes("2:2:1", "UInt8", 4096, 4, "compression=\"zlib:4\""),
         block4},
        {"lz4 with shuffling",
         imageAttributes("2:2:1", "UInt8", 4096, 4, "compression=\"lz4+sh:4:1\""), block4},
        {"zstd compressed", imageAttributes("2:2:1", "UInt8", 4096, 4, "compression=\"zstd:4\""),
         block4},
        {"big-endian samples", imageAttributes("2:1:1", "UInt16", 4096, 4, "byteOrder=\"big\""),
         block4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray file = xisfFile(c.attributes, c.block);
        EXPECT_FALSE(read(file));
        EXPECT_FALSE(Image::create(file, ".xisf")->hasPicture());
    }

    // The control: the same builder makes a file that opens, little-endian declared or not.
    EXPECT_TRUE(read(xisfFile(imageAttributes("2:2:1", "UInt8", 4096, 4), block4)));
    EXPECT_TRUE(read(
        xisfFile(imageAttributes("2:1:1", "UInt16", 4096, 4, "byteOrder=\"little\""), block4)));
}

TEST_F(XISFReaderTest, HeaderLengthPastTheEndIsRejected) {
    const QByteArray good = xisfFile(imageAttributes("2:2:1", "UInt8", 4096, 4), QByteArray(4, 1));
    ASSERT_TRUE(read(good));
    const uint32_t lengths[] = {uint32_t(good.size() - 16 + 1), 0x7FFFFFFFu, 0xFFFFFFFFu};
    for (uint32_t length : lengths) {
        QByteArray bad = good;
        const QByteArray le = littleEndian(std::vector<uint32_t>{length});
        bad.replace(8, 4, le);
        EXPECT_FALSE(read(bad)) << "length " << length;
    }
    EXPECT_FALSE(read("XISF0100"));
    EXPECT_FALSE(read(QByteArray("XISF0100\0\0\0\0\0\0\0\0", 16)));
}

// Every prefix of two small files (one read in place, one converted): no read outside the
// bytes (AddressSanitizer watches), and only the whole file gives a picture.
TEST_F(XISFReaderTest, TruncatedFilesAtEveryLength) {
    const std::vector<uint16_t> grey{1, 2, 3, 4, 5, 6};
    const std::vector<float> colour{0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};
    const QByteArray files[] = {
        xisfFile(imageAttributes("3:2:1", "UInt16", 320, 12), littleEndian(grey), 320),
        xisfFile(imageAttributes("2:1:4", "Float32", 352, 32), littleEndian(colour), 352,
                 "<FITSKeyword name=\"A\" value=\"1\" comment=\"c\"/>"),
    };
    for (const QByteArray& file : files) {
        ASSERT_TRUE(read(file));
        for (qsizetype length = 0; length <= file.size(); ++length) {
            // An allocation of exactly `length` bytes, so any read past it is caught.
            std::vector<char> exact(file.constData(), file.constData() + length);
            const QByteArray prefix = QByteArray::fromRawData(exact.data(), length);
            auto rep = read(prefix);
            if (length < file.size()) {
                EXPECT_FALSE(rep) << "length " << length;
                continue;
            }
            ASSERT_TRUE(rep);
            uint64_t sum = 0;  // touches every byte the bitmap describes
            for (int64_t i = 0; i < int64_t(rep->planeBytes()); ++i)
                sum += rep->bitmapData()[i];
            EXPECT_GT(sum, 0u);
        }
    }
}

// Arbitrary bytes behind the signature never crash the reader.
TEST_F(XISFReaderTest, GarbageAfterSignature) {
    const QByteArray base =
        xisfFile(imageAttributes("4:4:3", "UInt16", 600, 96), QByteArray(96, '\x5a'), 600,
                 "<Property id=\"p\" type=\"T\"/>");
    ASSERT_TRUE(read(base));
    uint32_t state = 12345;
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = base;
        for (int k = 0; k < 8; ++k) {
            state = state * 1664525u + 1013904223u;
            const qsizetype at = 8 + qsizetype(state % uint32_t(bytes.size() - 8));
            bytes[at] = char(state >> 24);
        }
        auto rep = read(bytes);
        if (rep) {
            uint64_t sum = 0;
            for (int64_t i = 0; i < int64_t(rep->planeBytes()); ++i)
                sum += rep->bitmapData()[i];
            (void)sum;
        }
    }
}

}  // namespace
