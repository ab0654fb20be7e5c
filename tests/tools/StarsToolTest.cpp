// quasel-tool stars: the real frame's stars against the library run on the pixels CFITSIO
// reads, a saturated star in an 8-bit blob, a colour picture, the text form and the usage errors.
#include "../image/SyntheticImage.h"
#include "FitsFiles.h"
#include "TestData.h"
#include "ToolRunner.h"
#include "solvan_raw_utils.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const QString kFrame = testDataPath("fits/a8280271.fits");

TEST(StarsTool, RealFrameGivesTheLibrarysStars) {
    REQUIRE_TEST_FILE(kFrame);
    long naxes[3];
    const std::vector<uint16_t> pixels = readFitsPixels<uint16_t>(kFrame, TUSHORT, naxes);
    for (int radius : {0, 5}) {
        const QJsonObject o = runToolJson({"stars", kFrame, "--radius", QString::number(radius)});
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
    }
    EXPECT_EQ(runToolJson({"stars", kFrame, "--max", "2"})["stars"].toArray().size(), 2);
    EXPECT_EQ(runToolJson({"stars", kFrame, "--max", "0"})["stars"].toArray().size(), 0);
}

TEST(StarsTool, SaturatedStarInAnEightBitBlob) {
    // 120 x 100, background 20: a flat-topped star of 255 (radius 3) at (60, 50) and a fainter
    // Gaussian one at (30, 70).
    const int w = 120, h = 100;
    std::vector<uint8_t> pixels(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = (x - 60) * (x - 60) + (y - 50) * (y - 50);
            const int b = (x - 30) * (x - 30) + (y - 70) * (y - 70);
            pixels[y * w + x] = a <= 9 ? 255 : uint8_t(20 + 100 * std::exp(-b / 4.0));
        }
    QTemporaryDir dir;
    const QString path = writeFileBytes(dir.filePath("star.raw"), rawBlob("RAW1", w, h, pixels));
    const QJsonObject o = runToolJson({"stars", path});
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
    REQUIRE_TEST_FILE(kFrame);
    const QJsonObject o = runToolJson({"stars", file, "--max", "5"});
    EXPECT_TRUE(QStringList({"RAW3", "RGB6", "BGR6"}).contains(o["type"].toString()))
        << o["type"].toString().toStdString();
    EXPECT_EQ(o["width"].toInt(), 320);
    EXPECT_LE(o["stars"].toArray().size(), 5);

    const ToolRun r = runTool({"stars", kFrame, "--max", "3"});
    ASSERT_EQ(r.exitCode, 0);
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6 + 3);
    EXPECT_EQ(lines[0], "type: RAW2");
    EXPECT_EQ(lines[5], "stars: 3");
    EXPECT_TRUE(lines[6].startsWith("1: x = 451.000, y = 434.000, ncdist = "));  // whole pixels
}

TEST(StarsTool, UsageAndUnreadableFiles) {
    REQUIRE_TEST_FILE(kFrame);
    REQUIRE_TEST_FILE(testDataPath("fits/rate.fit"));
    const std::vector<std::pair<QStringList, int>> cases = {
        {{}, 2},
        {{kFrame, "--max"}, 2},
        {{kFrame, "--max", "many"}, 2},
        {{kFrame, "--radius", "-1"}, 2},
        {{kFrame, kFrame}, 2},
        {{kFrame, "--max", "2000000000"}, 0},  // more than the frame's pixels: clamped to them
        {{"/nonexistent/file.fits"}, 1},
        {{testDataPath("fits/rate.fit")}, 1},  // a table has no picture
    };
    for (const auto& [args, status] : cases)
        EXPECT_EQ(runTool(QStringList{"stars"} + args).exitCode, status)
            << args.join(' ').toStdString();
}

}  // namespace
