// quasel-tool stars: the JSON keys, the real frame's stars against the library run on the
// pixels CFITSIO reads, the options, a colour picture, the text form and the usage errors.
#include "FitsFiles.h"
#include "TestData.h"
#include "solvan_raw_utils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct ToolRun {
    int exitCode;
    QByteArray out, err;
};

ToolRun runTool(const QStringList& args) {
    QProcess p;
    p.start(QUASEL_TOOL_PATH, QStringList{"stars"} + args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QJsonObject starsJson(const QStringList& args) {
    const ToolRun r = runTool(args + QStringList{"--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out).object();
}

const QString kFrame = testDataPath("fits/a8280271.fits");

TEST(StarsTool, RealFrameGivesTheLibrarysStars) {
    REQUIRE_TEST_FILE(kFrame);
    long naxes[3];
    const std::vector<uint16_t> pixels = readFitsPixels<uint16_t>(kFrame, TUSHORT, naxes);
    for (int radius : {0, 5}) {
        const QJsonObject o = starsJson({kFrame, "--radius", QString::number(radius)});
        EXPECT_EQ(o["type"].toString(), "RAW2");
        EXPECT_EQ(o["width"].toInt(), 536);
        EXPECT_EQ(o["height"].toInt(), 520);
        bool saturated = true;
        EXPECT_DOUBLE_EQ(
            o["stddev"].toDouble(),
            solvan_frame_stddev(SOLVAN_RAW_MONO16, pixels.data(), 536, 520, &saturated));
        EXPECT_EQ(o["saturated"].toBool(), saturated);

        // The viewer's bitmap holds FITS row 1 first, as CFITSIO's array does.
        std::vector<solvan_star> expected(50);
        uint32_t found = 0;
        ASSERT_EQ(solvan_find_stars_refined(SOLVAN_RAW_MONO16, pixels.data(), radius, 536, 520, 50,
                                            expected.data(), &found),
                  SOLVAN_OK);
        const QJsonArray stars = o["stars"].toArray();
        ASSERT_EQ(stars.size(), qsizetype(found));
        ASSERT_GE(found, 3u);
        for (uint32_t k = 0; k < found; ++k) {
            const QJsonObject s = stars[k].toObject();
            EXPECT_DOUBLE_EQ(s["x"].toDouble(), expected[k].x);
            EXPECT_DOUBLE_EQ(s["y"].toDouble(), expected[k].y);
            EXPECT_DOUBLE_EQ(s["ncdist"].toDouble(), expected[k].ncdist);
            EXPECT_DOUBLE_EQ(s["lum"].toDouble(), expected[k].lum);
            EXPECT_EQ(s["oversaturated"].toBool(), expected[k].oversaturated);
        }
        if (radius == 0) {  // the brightest: whole pixels
            EXPECT_EQ(stars[0].toObject()["x"].toDouble(), 451);
            EXPECT_EQ(stars[0].toObject()["y"].toDouble(), 434);
        }
    }
    EXPECT_EQ(starsJson({kFrame, "--max", "2"})["stars"].toArray().size(), 2);
    EXPECT_EQ(starsJson({kFrame, "--max", "0"})["stars"].toArray().size(), 0);
}

TEST(StarsTool, SaturatedStarInAnEightBitBlob) {
    // "RAW1", 120 x 100: background 20, a flat-topped star of 255 (radius 3) at (60, 50) and a
    // fainter one at (30, 70).
    QTemporaryDir dir;
    const int w = 120, h = 100;
    QByteArray blob(12 + w * h, '\0');
    auto* p = reinterpret_cast<uint8_t*>(blob.data());
    std::memcpy(p, "RAW1", 4);
    p[4] = w, p[8] = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = (x - 60) * (x - 60) + (y - 50) * (y - 50);
            const int b = (x - 30) * (x - 30) + (y - 70) * (y - 70);
            p[12 + y * w + x] = a <= 9 ? 255 : uint8_t(20 + 100 * std::exp(-b / 4.0));
        }
    const QString path = dir.path() + "/star.raw";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(blob);
    f.close();
    const QJsonObject o = starsJson({path});
    EXPECT_EQ(o["type"].toString(), "RAW1");
    EXPECT_TRUE(o["saturated"].toBool());
    const QJsonArray stars = o["stars"].toArray();
    ASSERT_EQ(stars.size(), 2);
    EXPECT_TRUE(stars[0].toObject()["oversaturated"].toBool());
    EXPECT_NEAR(stars[0].toObject()["x"].toDouble(), 60, 3);  // first pixel of the plateau
    EXPECT_FALSE(stars[1].toObject()["oversaturated"].toBool());
    EXPECT_EQ(stars[1].toObject()["x"].toDouble(), 30);
    EXPECT_EQ(stars[1].toObject()["y"].toDouble(), 70);
}

TEST(StarsTool, ColourPictureAndTextForm) {
    const QString file = testDataPath("images/eso_eso1723a_320.png");
    REQUIRE_TEST_FILE(file);
    const QJsonObject o = starsJson({file, "--max", "5"});
    EXPECT_TRUE(o["type"].toString() == "RAW3" || o["type"].toString() == "RGB6" ||
                o["type"].toString() == "BGR6")
        << o["type"].toString().toStdString();
    EXPECT_EQ(o["width"].toInt(), 320);
    EXPECT_LE(o["stars"].toArray().size(), 5);

    const ToolRun r = runTool({kFrame, "--max", "3"});
    ASSERT_EQ(r.exitCode, 0);
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6 + 3);
    EXPECT_EQ(lines[0], "type: RAW2");
    EXPECT_EQ(lines[5], "stars: 3");
    EXPECT_TRUE(lines[6].startsWith("1: x = 451.000, y = 434.000, ncdist = "));
}

TEST(StarsTool, UsageAndUnreadableFiles) {
    EXPECT_EQ(runTool({}).exitCode, 2);
    EXPECT_EQ(runTool({kFrame, "--max"}).exitCode, 2);
    EXPECT_EQ(runTool({kFrame, "--max", "many"}).exitCode, 2);
    EXPECT_EQ(runTool({kFrame, "--radius", "-1"}).exitCode, 2);
    EXPECT_EQ(runTool({kFrame, kFrame}).exitCode, 2);
    EXPECT_EQ(runTool({"/nonexistent/file.fits"}).exitCode, 1);
    // A table has no picture.
    EXPECT_EQ(runTool({testDataPath("fits/rate.fit")}).exitCode, 1);
}

}  // namespace
