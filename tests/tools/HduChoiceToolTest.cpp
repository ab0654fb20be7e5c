// Which header-data unit of a FITS file the tool reads: --extension numbers them as FITS does
// (0 the primary, 1 the first extension), and without it render, probe, stars and drift take
// the first HDU that has a picture.
#include "FitsFiles.h"
#include "TestData.h"
#include "ToolRunner.h"

#include <QImage>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

class HduChoiceToolTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;

    // HDU 0: no data; 1: a row of 6 samples (no picture for the reader); 2: a 4 x 3 image;
    // 3: a binary table; 4: a 5 x 2 image. Written by CFITSIO.
    QString mixedFile() {
        const QByteArray bytes = writeFits([](fitsfile* f, int* status) {
            addImage<uint8_t>(f, status, BYTE_IMG, {}, TBYTE, {});
            addImage<uint8_t>(f, status, BYTE_IMG, {6}, TBYTE, {1, 2, 3, 4, 5, 6});
            std::vector<uint8_t> small(12);
            for (size_t i = 0; i < small.size(); ++i)
                small[i] = uint8_t(20 * i);
            addImage<uint8_t>(f, status, BYTE_IMG, {4, 3}, TBYTE, small);
            char name[] = "N", form[] = "1J";
            char* names[] = {name};
            char* forms[] = {form};
            fits_create_tbl(f, BINARY_TBL, 2, 1, names, forms, nullptr, "TAB", status);
            std::vector<uint16_t> wide(10);
            for (size_t i = 0; i < wide.size(); ++i)
                wide[i] = uint16_t(1000 * i);
            addImage<uint16_t>(f, status, USHORT_IMG, {5, 2}, TUSHORT, wide);
        });
        EXPECT_FALSE(bytes.isEmpty());
        const QString path = dir.filePath("mixed.fits");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // Renders `args` to a PNG; the picture, null when the tool failed (`err` gets its message).
    QImage render(const QStringList& args, QByteArray* err = nullptr) {
        const QString out = dir.filePath("out.png");
        QFile::remove(out);
        const ToolRun r = runTool(QStringList{"render", args[0], out} + args.mid(1));
        if (err) *err = r.err;
        return r.exitCode == 0 ? QImage(out) : QImage();
    }
};

TEST_F(HduChoiceToolTest, ExtensionNumbersHdusAsFitsDoes) {
    const QString file = mixedFile();
    EXPECT_EQ(render({file, "--extension", "2"}).size(), QSize(4, 3));
    EXPECT_EQ(render({file, "--extension", "4"}).size(), QSize(5, 2));
    EXPECT_EQ(render({file}).size(), QSize(4, 3));  // the first HDU with a picture
    // HDUs without a picture, and HDUs the file does not have, name those that have one.
    for (const char* hdu : {"0", "1", "3", "5", "-1"}) {
        QByteArray err;
        EXPECT_TRUE(render({file, "--extension", hdu}, &err).isNull()) << hdu;
        EXPECT_TRUE(err.contains("render: HDU " + QByteArray(hdu) + " of " + file.toUtf8() +
                                 " has no picture; HDUs with one: 2, 4\n"))
            << err.toStdString();
    }
}

TEST_F(HduChoiceToolTest, InfoNamesEachHduByItsNumber) {
    const QString file = mixedFile();
    const QJsonObject o = runToolJson({"info", file});
    EXPECT_EQ(o["hdu"].toInt(-1), 0);
    QJsonArray numbers;
    for (const QJsonValue& child : o["extensions"].toArray())
        numbers.append(child["hdu"]);
    EXPECT_EQ(numbers, (QJsonArray{2, 3, 4}));  // HDU 1 is not read
    const QByteArray text = runTool({"info", file}).out;
    for (const char* heading : {"\nHDU 2:\n", "\nHDU 3:\n", "\nHDU 4:\n"})
        EXPECT_TRUE(text.contains(heading)) << heading;
    EXPECT_FALSE(text.contains("HDU 1:"));
}

TEST_F(HduChoiceToolTest, FilesWithAnEmptyPrimaryRenderTheirFirstPicture) {
    const QString plain = testDataPath("fits/ngc1316o.fit");
    REQUIRE_TEST_FILE(plain);
    const QImage expected = render({plain});
    ASSERT_EQ(expected.size(), QSize(440, 300));
    // The same pixels, tile-compressed in HDU 1.
    for (const char* packed : {"fits/ngc1316o_r.fits.fz", "fits/comp.fits"}) {
        EXPECT_EQ(render({testDataPath(packed)}), expected) << packed;
        EXPECT_EQ(render({testDataPath(packed), "--extension", "1"}), expected) << packed;
        QByteArray err;
        EXPECT_TRUE(render({testDataPath(packed), "--extension", "0"}, &err).isNull());
        EXPECT_TRUE(err.endsWith("has no picture; HDUs with one: 1\n")) << err.toStdString();
    }
    // Three images after an empty primary: the first, and --extension 3 is the last.
    const QString multi = testDataPath("fits/multi.fits");
    const QImage first = render({multi, "--extension", "1"});
    EXPECT_EQ(first.size(), QSize(132, 288));
    EXPECT_EQ(render({multi}), first);
    EXPECT_EQ(render({multi, "--extension", "3"}).size(), QSize(132, 288));
    EXPECT_TRUE(render({multi, "--extension", "4"}).isNull());
    // A file of another format is HDU 0.
    const QString png = testDataPath("images/moon.png");
    EXPECT_EQ(render({png, "--extension", "0"}).size(), QSize(512, 512));
    EXPECT_TRUE(render({png, "--extension", "1"}).isNull());
}

TEST_F(HduChoiceToolTest, ProbeStarsAndDriftReadTheFirstPicture) {
    const QString plain = testDataPath("fits/ngc1316o.fit");
    const QString packed = testDataPath("fits/ngc1316o_r.fits.fz");
    REQUIRE_TEST_FILE(plain);
    REQUIRE_TEST_FILE(packed);
    const QJsonObject stars = runToolJson({"stars", plain});
    EXPECT_GT(stars["stars"].toArray().size(), 0);
    EXPECT_EQ(runToolJson({"stars", packed}), stars);
    const QJsonObject probe = runToolJson({"probe", plain, "220.5", "150.5"});
    EXPECT_TRUE(probe["value"].isDouble());
    EXPECT_EQ(runToolJson({"probe", packed, "220.5", "150.5"}), probe);
    const QJsonObject drift = runToolJson({"drift", plain, packed});
    EXPECT_EQ(drift["result"].toString(), "ok");
    EXPECT_EQ(drift["dx"].toDouble(-1), 0);
    EXPECT_EQ(drift["dy"].toDouble(-1), 0);
    // No HDU with a picture: nothing to read.
    EXPECT_EQ(runTool({"stars", testDataPath("fits/rate.fit")}).exitCode, 1);
}

}  // namespace
