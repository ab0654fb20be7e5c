// Where the walk finds the HDUs, against CFITSIO's own reading of the same files, and the
// reader going on past a refused header to the sound HDUs after it.
#include "CapturedLog.h"
#include "FITSHeaderWalk.h"
#include "FITSImageRep.h"
#include "FitsFiles.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A file of an empty primary HDU and `images` image extensions of 8 x 4 pixels, the k-th
// (from 1) tile-compressed with Rice and of pixels k.
QByteArray imagesFile(int images) {
    return writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        for (int k = 1; k <= images; ++k) {
            fits_set_compression_type(f, RICE_1, st);
            addImage(f, st, SHORT_IMG, {8, 4}, TSHORT, std::vector<short>(32, short(k)));
        }
    });
}

// A file of every kind of HDU the reader takes, one after another; the heaps (of the binary
// table and of the compressed images' tiles) span records, so their size counts.
QByteArray everyKindFile() {
    std::vector<short> noise(100 * 100);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = short(i * 7919 % 4001);
    return writeFits([&](fitsfile* f, int* st) {
        addImage(f, st, SHORT_IMG, {5, 3}, TSHORT, std::vector<short>(15, 1));
        addImage(f, st, FLOAT_IMG, {4, 4, 3}, TFLOAT, std::vector<float>(48, 0.5f));
        char* names[] = {const_cast<char*>("A"), const_cast<char*>("B")};
        char* binary[] = {const_cast<char*>("3D"), const_cast<char*>("1PJ")};
        char* ascii[] = {const_cast<char*>("I6"), const_cast<char*>("E12.4")};
        fits_create_tbl(f, BINARY_TBL, 3, 2, names, binary, nullptr, "BIN", st);
        std::vector<int> heap(1500, 4);
        for (int r = 1; r <= 3; ++r)
            fits_write_col(f, TINT, 2, r, 1, LONGLONG(heap.size()), heap.data(), st);
        fits_create_tbl(f, ASCII_TBL, 4, 2, names, ascii, nullptr, "ASC", st);
        for (int codec : {RICE_1, GZIP_1, GZIP_2, HCOMPRESS_1, PLIO_1}) {
            fits_set_compression_type(f, codec, st);
            addImage(f, st, SHORT_IMG, {100, 100}, TSHORT, noise);
        }
        fits_set_compression_type(f, 0, st);
        addImage(f, st, BYTE_IMG, {0}, TBYTE, std::vector<unsigned char>());
    });
}

void expectPlacesAsCfitsioFinds(const QByteArray& bytes, const std::string& what) {
    const std::vector<CfitsioHdu> expected = cfitsioHdus(bytes);
    const auto places = walkFitsHeaders(bytes.constData(), size_t(bytes.size()));
    ASSERT_FALSE(expected.empty()) << what;
    ASSERT_EQ(places.size(), expected.size()) << what;
    for (size_t k = 0; k < places.size(); ++k) {
        EXPECT_EQ(places[k].refusal, "") << what << " HDU " << k + 1;
        EXPECT_EQ(qint64(places[k].header), expected[k].header) << what << " HDU " << k + 1;
        EXPECT_EQ(qint64(places[k].data), expected[k].data) << what << " HDU " << k + 1;
        ASSERT_TRUE(places[k].end) << what << " HDU " << k + 1;
        EXPECT_EQ(qint64(*places[k].end), expected[k].end) << what << " HDU " << k + 1;
    }
}

// The 16-bit samples of an image HDU's bitmap.
std::vector<short> samples(const FITSImageRep& rep) {
    const auto* words = reinterpret_cast<const short*>(rep.bitmapData());
    return words ? std::vector<short>(words, words + rep.pixelsWide * rep.pixelsHigh)
                 : std::vector<short>();
}

}  // namespace

TEST(FITSHeaderWalk, FindsTheHdusWhereCfitsioDoes) {
    expectPlacesAsCfitsioFinds(everyKindFile(), "every kind");
    expectPlacesAsCfitsioFinds(imagesFile(3), "compressed images");
    for (const char* name : {"a8280271.fits", "asciitab.fit", "blank.fits", "btable.fits",
                             "comp.fits", "datacube.fit", "eso_rgb16_im.fits", "multi.fits",
                             "ngc1316o_r.fits.fz", "rate.fit", "scale.fits", "test0.fits"}) {
        const QString path = testDataPath(QString("fits/") + name);
        if (!QFile::exists(path)) continue;  // the CFITSIO-written files above still run
        expectPlacesAsCfitsioFinds(readFileBytes(path), name);
    }
}

TEST(FITSHeaderWalk, GoesOnPastARefusedHeaderOnlyWhereItsSizeIsKnown) {
    const QByteArray file = imagesFile(3);
    const std::vector<CfitsioHdu> sound = cfitsioHdus(file);
    ASSERT_EQ(sound.size(), 4u);
    struct Case {
        QByteArray card;
        size_t hdus;  // HDUs the walk finds
    };
    const Case cases[] = {
        {fitsCard("ZTILE1", "0"), 4},   // the size keywords still hold
        {fitsCard("NAXIS2", "-1"), 3},  // they do not: nothing after it can be found
    };
    for (const Case& c : cases) {
        const QByteArray bytes = withCard(file, 3, c.card);
        const auto places = walkFitsHeaders(bytes.constData(), size_t(bytes.size()));
        ASSERT_EQ(places.size(), c.hdus) << c.card.toStdString();
        EXPECT_FALSE(places[2].sound()) << c.card.toStdString();
        for (size_t k = 0; k < places.size(); ++k)
            EXPECT_EQ(qint64(places[k].header), sound[k].header) << c.card.toStdString();
    }
}

TEST(FITSHeaderWalk, TheReaderReadsTheSoundHdusAroundARefusedOne) {
    // HDU 3 of 4 would stop CFITSIO with a division by zero while moving onto or past it.
    const QByteArray bytes = withCard(imagesFile(3), 3, fitsCard("ZTILE1", "0"));
    CapturedLog log;
    auto rep = FITSImageRep::initWithData(bytes, 1);
    ASSERT_TRUE(rep);
    ASSERT_EQ(rep->extensions.size(), 3u);
    EXPECT_EQ(samples(*rep->extensions[0]), std::vector<short>(32, 1));
    EXPECT_EQ(samples(*rep->extensions[2]), std::vector<short>(32, 3));
    const FITSImageRep& refused = *rep->extensions[1];
    EXPECT_EQ(refused.hdu, 3);
    EXPECT_EQ(refused.refusal, "ZTILE1 = 0; a tile is at least one pixel wide");
    EXPECT_FALSE(refused.bitmapData() && refused.bufferSize > 0);
    EXPECT_TRUE(refused.metadata.contains(QStringList{"ZTILE1", "0", ""}));
    EXPECT_EQ(log.count("FITS HDU 3 refused: ZTILE1 = 0; a tile is at least one pixel wide"), 1);
}

TEST(FITSHeaderWalk, TheReaderReachesHdusBeyondAThousand) {
    // CFITSIO keeps the starts of a thousand HDUs at first; the move beyond makes room.
    const QByteArray bytes = withCard(imagesFile(1002), 1001, fitsCard("ZTILE2", "0"));
    ASSERT_FALSE(bytes.isEmpty());
    auto rep = FITSImageRep::initWithData(bytes, 1003);
    ASSERT_TRUE(rep);
    EXPECT_EQ(samples(*rep), std::vector<short>(32, short(1002)));
}
