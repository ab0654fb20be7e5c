// `quasel-tool info` on XISF files: the picture and header rows as for any other format.
#include "TestData.h"
#include "ToolRunner.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

QJsonObject infoJson(const QString& path) {
    return runToolJson({"info", path});
}

TEST(InfoXISFTest, GreySixteenBitFile) {
    const QString path = testDataPath("xisf/ngc1316o_u16.xisf");
    REQUIRE_TEST_FILE(path);
    const QJsonObject o = infoJson(path);
    EXPECT_EQ(o["format"].toString(), ".xisf");
    EXPECT_TRUE(o["hasPicture"].toBool());
    EXPECT_EQ(o["width"].toInt(), 440);
    EXPECT_EQ(o["height"].toInt(), 300);
    EXPECT_EQ(o["bitsPerPixel"].toInt(), 16);
    EXPECT_EQ(o["samplesPerPixel"].toInt(), 1);
    EXPECT_TRUE(o["extensions"].toArray().isEmpty());

    // The packed rows of an in-place 16-bit grey picture are the attached block itself.
    const QByteArray block = readFileBytes(path).mid(4096, 440 * 300 * 2);
    const QString expectedHash =
        QString::fromLatin1(QCryptographicHash::hash(block, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(o["pixelsSha256"].toString(), expectedHash);

    const QJsonArray rows = o["metadata"].toArray();
    ASSERT_GE(rows.size(), 2);
    EXPECT_EQ(rows[0].toArray(), QJsonArray({"key", "value", "comment"}));
    EXPECT_EQ(rows[1].toArray(), QJsonArray({"Image:geometry", "440:300:1", ""}));
    EXPECT_TRUE(rows.contains(QJsonArray({"FITS:OBJECT", "NGC 1316", ""})));

    const ToolRun text = runTool({"info", path});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(text.out.contains("FITS:OBJECT | NGC 1316 | \n")) << text.out.constData();
    EXPECT_TRUE(text.out.contains("width: 440\n"));
}

TEST(InfoXISFTest, ColourAndFloatFiles) {
    struct Case {
        const char* file;
        int width, height, bitsPerPixel, samplesPerPixel;
    };
    for (const Case& c : {Case{"xisf/eso1723a_rgb_u8.xisf", 320, 248, 24, 3},
                          Case{"xisf/magpis_f32.xisf", 300, 300, 16, 1}}) {
        SCOPED_TRACE(c.file);
        const QString path = testDataPath(c.file);
        REQUIRE_TEST_FILE(path);
        const QJsonObject o = infoJson(path);
        EXPECT_TRUE(o["hasPicture"].toBool());
        EXPECT_EQ(o["width"].toInt(), c.width);
        EXPECT_EQ(o["height"].toInt(), c.height);
        EXPECT_EQ(o["bitsPerPixel"].toInt(), c.bitsPerPixel);
        EXPECT_EQ(o["samplesPerPixel"].toInt(), c.samplesPerPixel);
        EXPECT_FALSE(o["pixelsSha256"].toString().isEmpty());
        EXPECT_GT(o["metadata"].toArray().size(), 4);
    }
}

TEST(InfoXISFTest, CompressedFileHasNoPicture) {
    const QString path = testDataPath("xisf/ngc1316o_u16_zlib.xisf");
    REQUIRE_TEST_FILE(path);
    const QJsonObject o = infoJson(path);
    EXPECT_FALSE(o["hasPicture"].toBool());
    EXPECT_EQ(o["width"].toInt(), 0);
    EXPECT_TRUE(o["metadata"].isNull());
}

}  // namespace
