// Raw frame blobs and the signature test shared by the three readers.
#include "FITSImageRep.h"
#include "Image.h"
#include "RawImageRep.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

QByteArray blob(const char* type, uint32_t w, uint32_t h, qsizetype pixelBytes) {
    QByteArray b(type, 4);
    for (uint32_t v : {w, h})
        for (int i = 0; i < 4; ++i)
            b.append(char((v >> (8 * i)) & 0xff));
    for (qsizetype i = 0; i < pixelBytes; ++i)
        b.append(char(i & 0xff));
    return b;
}

}  // namespace

TEST(RawImageRep, DescribesEachLayoutInPlace) {
    struct Case {
        const char* type;
        int64_t bps, spp, bpp, rowFactor;
        ColorSpace space;
    };
    for (const Case& c : {Case{"RAW1", 8, 1, 8, 1, ColorSpace::CalibratedWhite},
                          Case{"RAW2", 16, 1, 16, 2, ColorSpace::CalibratedWhite},
                          Case{"RAW3", 8, 3, 24, 3, ColorSpace::DeviceRGB}}) {
        QByteArray bytes = blob(c.type, 4, 2, 4 * 2 * c.rowFactor);
        auto rep = RawImageRep::initWithBytes(bytes);
        ASSERT_TRUE(rep) << c.type;
        EXPECT_EQ(rep->pixelsWide, 4);
        EXPECT_EQ(rep->pixelsHigh, 2);
        EXPECT_EQ(rep->bitsPerSample, c.bps);
        EXPECT_EQ(rep->samplesPerPixel, c.spp);
        EXPECT_EQ(rep->bitsPerPixel, c.bpp);
        EXPECT_EQ(rep->bytesPerRow, 4 * c.rowFactor);
        EXPECT_EQ(rep->colorSpace, c.space);
        EXPECT_EQ(rep->bitmapFormat, 0);
        EXPECT_FALSE(rep->isPlanar);
        // In place: the bitmap points at byte 12 of the very bytes handed in.
        EXPECT_EQ(rep->bitmapData(), reinterpret_cast<const uint8_t*>(bytes.constData()) + 12);
    }
}

TEST(RawImageRep, LoadsThroughImage) {
    registerImageReaders();
    QByteArray bytes = blob("RAW2", 4, 2, 16);
    ImagePtr image = Image::create(bytes, ".raw");
    ASSERT_TRUE(image->hasPicture());
    EXPECT_EQ(image->bitsPerPixel, 16);
    EXPECT_EQ(image->size, 8);
    EXPECT_FALSE(image->metadata);
}

TEST(RawImageRep, RejectsUnknownTypesAndShortBlobs) {
    EXPECT_FALSE(RawImageRep::initWithBytes(blob("RAW6", 2, 2, 24)));  // 48-bit: not a blob type
    EXPECT_FALSE(RawImageRep::initWithBytes(blob("RAWX", 2, 2, 4)));
    EXPECT_FALSE(RawImageRep::initWithBytes(QByteArray("RAW")));
    EXPECT_FALSE(RawImageRep::initWithBytes(blob("RAW2", 4, 2, 15)));  // one byte short
    EXPECT_FALSE(RawImageRep::initWithBytes(blob("RAW1", 0, 2, 0)));
    EXPECT_FALSE(RawImageRep::initWithBytes(blob("RAW3", 0xffffffffu, 0xffffffffu, 64)));
    EXPECT_TRUE(RawImageRep::initWithBytes(blob("RAW2", 4, 2, 17)));  // trailing bytes are fine

    registerImageReaders();
    ImagePtr image = Image::create(blob("RAW1", 100000, 100000, 10), ".raw");
    EXPECT_FALSE(image->hasPicture());
    EXPECT_EQ(image->width, 0);
}

TEST(SignatureTest, SignaturesAreDisjoint) {
    struct Case {
        QByteArray data;
        bool raw, fits;
    };
    for (const Case& c :
         {Case{"RAW", true, false}, Case{"RAW2xxxx", true, false},
          Case{"SIMPLE  =                    T", false, true}, Case{"XISF0100", false, false},
          Case{"", false, false}, Case{"SIMPL", false, false}, Case{"RA", false, false}}) {
        EXPECT_EQ(RawImageRep::canInitWithData(c.data), c.raw) << c.data.constData();
        EXPECT_EQ(FITSImageRep::canInitWithData(c.data), c.fits) << c.data.constData();
    }
    EXPECT_TRUE(hasPrefixBytes("XISF0100abc", "XISF0100", 8));
    EXPECT_FALSE(hasPrefixBytes("XISF010", "XISF0100", 8));
}

TEST(DecoderRegistry, RegistersTheReadersOnceInOrder) {
    registerImageReaders();
    registerImageReaders();
    const auto classes = registeredImageRepClasses();
    ASSERT_GE(classes.size(), 2u);
    EXPECT_STREQ(classes[0].name, "RawImageRep");
    EXPECT_STREQ(classes[1].name, "FITSImageRep");
    for (size_t i = 2; i < classes.size(); ++i)
        EXPECT_STRNE(classes[i].name, "RawImageRep");
}
