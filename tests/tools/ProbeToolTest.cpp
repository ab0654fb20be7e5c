// quasel-tool probe: the JSON keys and values for a point on a star, off the picture and in
// colour, the text form, the usage errors, and a real star field.
#include "TestData.h"
#include "ToolRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

QJsonObject probeJson(const QString& file, double x, double y) {
    return runToolJson({"probe", file, QString::number(x, 'g', 17), QString::number(y, 'g', 17)});
}

constexpr int W = 40, H = 30;

// A raw blob holding a Gaussian star (sigma 1.2) centred on the pixel at column 25, row 9 from
// the top: picture point (25.5, 30 - 9 - 0.5). Background 1000, amplitude 30000 (16-bit) or
// background 10, amplitude 200 in each colour sample (24-bit, samples v, v + 1, v + 2).
QString writeStar(const QTemporaryDir& dir, bool colour) {
    const int bpp = colour ? 3 : 2;
    QByteArray blob(12 + W * H * bpp, '\0');
    auto* p = reinterpret_cast<uint8_t*>(blob.data());
    std::memcpy(p, colour ? "RAW3" : "RAW2", 4);
    p[4] = W, p[8] = H;
    for (int row = 0; row < H; ++row)
        for (int col = 0; col < W; ++col) {
            const double r2 = (col - 25) * (col - 25) + (row - 9) * (row - 9);
            const double g = std::exp(-r2 / (2 * 1.2 * 1.2));
            uint8_t* q = p + 12 + (row * W + col) * bpp;
            if (colour) {
                const int v = int(std::lround(10 + 200 * g));
                q[0] = uint8_t(v), q[1] = uint8_t(v + 1), q[2] = uint8_t(v + 2);
            } else {
                const int v = int(std::lround(1000 + 30000 * g));
                q[0] = uint8_t(v), q[1] = uint8_t(v >> 8);
            }
        }
    const QString path = dir.path() + (colour ? "/colour.raw" : "/grey.raw");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(blob);
    return path;
}

const double starX = 25.5, starY = H - 9 - 0.5;

TEST(ProbeTool, PointNearAStarSelectsAndMeasuresIt) {
    QTemporaryDir dir;
    const QString file = writeStar(dir, false);
    const QJsonObject o = probeJson(file, starX + 1.4, starY - 1.1);
    // The pixel under the point: column 26, row 30 - 1 - 19 = 10 from the top.
    const double r2 = 1 * 1 + 1 * 1;
    EXPECT_EQ(o["value"].toInteger(), std::lround(1000 + 30000 * std::exp(-r2 / (2 * 1.44))));
    EXPECT_EQ(o["level"].toInteger(), o["value"].toInteger() >> 8);
    const QJsonArray selection = o["selection"].toArray();
    ASSERT_EQ(selection.size(), 2);
    EXPECT_NEAR(selection[0].toDouble(), starX, 0.05);
    EXPECT_NEAR(selection[1].toDouble(), starY, 0.05);
    const QJsonObject psf = o["psf"].toObject();
    EXPECT_NEAR(psf["peak"].toDouble(), 30000, 300);
    EXPECT_NEAR(psf["fwhm"].toDouble(), 2.3548 * 1.2, 0.05 * 2.3548 * 1.2);
    EXPECT_NEAR(psf["hfd"].toDouble(), 2.5066 * 1.2, 0.05 * 2.5066 * 1.2);
}

TEST(ProbeTool, ColourPixelIsATriple) {
    QTemporaryDir dir;
    const QJsonObject o = probeJson(writeStar(dir, true), starX, starY);
    EXPECT_EQ(o["value"].toArray(), (QJsonArray{210, 211, 212}));
    EXPECT_EQ(o["level"].toInteger(), 211);
    EXPECT_TRUE(o["selection"].isArray());
    EXPECT_NEAR(o["psf"].toObject()["peak"].toDouble(), 200, 2);
}

TEST(ProbeTool, WithoutASelectionThePsfIsMeasuredAtThePointItself) {
    QTemporaryDir dir;
    const QString file = writeStar(dir, false);
    // Near the bottom edge the selection window (radius 10) does not fit, the PSF's does.
    const QJsonObject o = probeJson(file, 20.5, 5.5);
    EXPECT_TRUE(o["selection"].isNull());
    ASSERT_TRUE(o["psf"].isObject());
    // A flat window: nothing to measure, so the diameter is the window's side.
    EXPECT_EQ(o["psf"].toObject()["hfd"].toDouble(), 9);
    EXPECT_EQ(o["psf"].toObject()["peak"].toDouble(), 0);
}

TEST(ProbeTool, PointOffThePictureGivesNulls) {
    QTemporaryDir dir;
    const QString file = writeStar(dir, false);
    for (auto [x, y] : {std::pair{-1.0, 5.0}, {5.0, double(H)}, {double(W), 5.0}}) {
        const QJsonObject o = probeJson(file, x, y);
        for (const char* key : {"value", "level", "selection", "psf"}) {
            ASSERT_TRUE(o.contains(key)) << key;
            EXPECT_TRUE(o[key].isNull()) << key << " at " << x << ", " << y;
        }
    }
}

TEST(ProbeTool, TextFormHasOneLinePerKey) {
    QTemporaryDir dir;
    const ToolRun r = runTool({"probe", writeStar(dir, false), "0.5", "0.5"});
    ASSERT_EQ(r.exitCode, 0);
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "value: 1000");
    EXPECT_EQ(lines[1], "level: 3");
    EXPECT_EQ(lines[2], "selection: -");
    EXPECT_EQ(lines[3], "psf: -");
}

TEST(ProbeTool, UsageAndUnreadableFiles) {
    EXPECT_EQ(runTool({"probe"}).exitCode, 2);
    EXPECT_EQ(runTool({"probe", "file.fits", "1"}).exitCode, 2);
    EXPECT_EQ(runTool({"probe", "file.fits", "x", "2"}).exitCode, 2);
    EXPECT_EQ(runTool({"probe", "/nonexistent/file.fits", "1", "2"}).exitCode, 1);
}

TEST(ProbeTool, RealStarFieldMeasuresTheReferenceWidth) {
    // 51 x 51 float frame with stars of FWHM 2.3 to 2.4 px by two peer measurements. The star
    // at FITS pixel (35, 41) (first row first) is isolated enough for the 9 x 9 window.
    const QString path = testDataPath("fits/iraf_apphot_fits3_f32_stars.fits");
    REQUIRE_TEST_FILE(path);
    const QJsonObject o = probeJson(path, 35.5, 51 - 41 - 0.5);
    ASSERT_TRUE(o["psf"].isObject());
    EXPECT_NEAR(o["psf"].toObject()["fwhm"].toDouble(), 2.35, 0.25);
}

}  // namespace
