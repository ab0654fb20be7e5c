// Camera RAW decoding from memory, of a DNG built byte by byte (SyntheticDng.h).
#include "Image.h"
#include "SyntheticDng.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

TEST(CameraRaw, DecodesFromMemoryIntoFortyEightBitRgb) {
    registerImageReaders();
    const QByteArray dng = makeDng();
    const QStringList before = QDir(QDir::tempPath()).entryList({"tmp.*"});
    for (const char* format : {".nef", ".ARW"}) {
        ImagePtr image = Image::create(dng, format);
        ASSERT_TRUE(image->hasPicture()) << format;
        EXPECT_EQ(image->bitsPerPixel, 48);
        EXPECT_GT(image->width, 32);
        EXPECT_GT(image->height, 24);
        const auto& rep = *image->originalImageRep;
        EXPECT_EQ(rep.samplesPerPixel, 3);
        EXPECT_EQ(rep.bytesPerRow, image->width * 6);
        // The lit square is brighter than the background in every channel.
        const auto* px = reinterpret_cast<const uint16_t*>(rep.bitmapData());
        const int64_t centre = (image->height / 2) * image->width + image->width / 2;
        const int64_t corner = 2 * image->width + 2;
        for (int c = 0; c < 3; ++c)
            EXPECT_GT(px[centre * 3 + c], px[corner * 3 + c]) << c;
    }
    // Decoding writes nothing to the temporary folder.
    EXPECT_EQ(QDir(QDir::tempPath()).entryList({"tmp.*"}), before);
}

TEST(CameraRaw, TruncatedRawGivesNoPicture) {
    registerImageReaders();
    const QByteArray dng = makeDng();
    for (qsizetype cut :
         {qsizetype(0), qsizetype(8), qsizetype(100), dng.size() / 2, dng.size() - 1}) {
        ImagePtr image = Image::create(dng.left(cut), ".nef");
        if (image->hasPicture()) {
            // LibRaw may pad a short strip; the bitmap must still be whole.
            const auto& rep = *image->originalImageRep;
            EXPECT_EQ(rep.bytesPerRow, image->width * 6);
        }
    }
}
