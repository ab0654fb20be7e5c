// quasel-tool info: the JSON keys and values a developer relies on.
#include "FitsFiles.h"
#include "TestData.h"
#include "ToolRunner.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

QJsonObject runInfo(const QString& file) {
    return runToolJson({"info", file});
}

}  // namespace

TEST(InfoTool, PrintsTheImageFieldsAsJson) {
    const QString path = testDataPath("fits/ngc1316o.fit");
    REQUIRE_TEST_FILE(path);
    QJsonObject o = runInfo(path);
    for (const char* key : {"format", "hasPicture", "width", "height", "size", "bitsPerPixel",
                            "bitsPerSample", "samplesPerPixel", "bytesPerRow", "bitmapFormat",
                            "pixelsSha256", "name", "metadata", "tabledata", "extensions"})
        EXPECT_TRUE(o.contains(key)) << key;
    EXPECT_EQ(o["format"].toString(), ".fit");
    EXPECT_TRUE(o["hasPicture"].toBool());
    EXPECT_EQ(o["width"].toInt(), 440);
    EXPECT_EQ(o["height"].toInt(), 300);
    EXPECT_EQ(o["bytesPerRow"].toInt(), 880);
    EXPECT_TRUE(o["name"].isNull());
    EXPECT_TRUE(o["tabledata"].isNull());
    EXPECT_EQ(o["metadata"].toArray().first().toArray().first().toString(), "key");

    // The digest equals SHA-256 of the samples CFITSIO reads, in native unsigned 16-bit words.
    long axes[3];
    const std::vector<uint16_t> pixels = readFitsPixels<uint16_t>(path, TUSHORT, axes);
    ASSERT_EQ(pixels.size(), 440u * 300u);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char*>(pixels.data()), qsizetype(pixels.size() * 2)),
        QCryptographicHash::Sha256);
    EXPECT_EQ(o["pixelsSha256"].toString(), QString::fromLatin1(digest.toHex()));
}

TEST(InfoTool, DescribesChildrenAndTables) {
    const QString path = testDataPath("fits/rate.fit");
    REQUIRE_TEST_FILE(path);
    QJsonObject o = runInfo(path);
    EXPECT_FALSE(o["hasPicture"].toBool());
    EXPECT_TRUE(o["pixelsSha256"].isNull());
    const QJsonArray children = o["extensions"].toArray();
    ASSERT_EQ(children.size(), 1);
    const QJsonObject table = children[0].toObject()["tabledata"].toObject();
    EXPECT_EQ(table["rows"].toInt(), 5372);
    EXPECT_EQ(table["head"].toArray().size(), 3);
    EXPECT_EQ(children[0].toObject()["name"].toString().trimmed(), "'RATE    '");
}

TEST(InfoTool, UnreadableFileFails) {
    EXPECT_GT(runTool({"info", "/nonexistent/file.fits", "--json"}).exitCode, 0);
}

TEST(InfoTool, FpackedFileGivesThePixelsOfTheUncompressedOne) {
    const QString packed = testDataPath("fits/ngc1316o_r.fits.fz");
    const QString plain = testDataPath("fits/ngc1316o.fit");
    REQUIRE_TEST_FILE(packed);
    REQUIRE_TEST_FILE(plain);
    const QJsonArray children = runInfo(packed)["extensions"].toArray();
    ASSERT_EQ(children.size(), 1);
    const QJsonObject child = children[0].toObject();
    EXPECT_TRUE(child["hasPicture"].toBool());
    EXPECT_EQ(child["pixelsSha256"].toString(), runInfo(plain)["pixelsSha256"].toString());
}
