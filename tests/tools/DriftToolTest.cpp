// quasel-tool drift: a real frame cut at shifted places and written as raw blobs gives its
// shift back by centroids and by donuts digests; identical files, frames of different sizes,
// a frame without a star, the text form and the usage errors.
#include "FitsFiles.h"
#include "TestData.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct ToolRun {
    int exitCode;
    QByteArray out, err;
};

ToolRun runTool(const QStringList& args) {
    QProcess p;
    p.start(QUASEL_TOOL_PATH, QStringList{"drift"} + args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QJsonObject driftJson(const QStringList& args, int exitCode = 0) {
    const ToolRun r = runTool(args + QStringList{"--json"});
    EXPECT_EQ(r.exitCode, exitCode) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out).object();
}

const QString kFrame = testDataPath("fits/a8280271.fits");

// Writes a "RAW2" blob of w x h pixels: the real frame's pixels from column x0, row y0 (FITS
// row 1 first) placed at (left, top), `fill` around them.
QString writeBlob(const QTemporaryDir& dir, const QString& name, int w, int h, int x0, int y0,
                  int left, int top, int cutWidth, int cutHeight, uint16_t fill = 0) {
    long naxes[3];
    const std::vector<uint16_t> pixels = readFitsPixels<uint16_t>(kFrame, TUSHORT, naxes);
    QByteArray blob(12 + 2 * w * h, '\0');
    auto* p = reinterpret_cast<uint8_t*>(blob.data());
    std::memcpy(p, "RAW2", 4);
    p[4] = uint8_t(w), p[5] = uint8_t(w >> 8), p[8] = uint8_t(h), p[9] = uint8_t(h >> 8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int cx = x - left, cy = y - top;
            const bool inside = cx >= 0 && cy >= 0 && cx < cutWidth && cy < cutHeight;
            const uint16_t v = inside ? pixels[size_t(cy + y0) * naxes[0] + cx + x0] : fill;
            p[12 + 2 * (y * w + x)] = uint8_t(v), p[13 + 2 * (y * w + x)] = uint8_t(v >> 8);
        }
    const QString path = dir.path() + "/" + name + ".raw";
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(blob);
    return path;
}

// A w x h cut of the real frame from (x0, y0).
QString writeCut(const QTemporaryDir& dir, const QString& name, int x0, int y0, int w, int h) {
    return writeBlob(dir, name, w, h, x0, y0, 0, 0, w, h);
}

TEST(DriftTool, ShiftedCutsOfARealFrame) {
    REQUIRE_TEST_FILE(kFrame);
    QTemporaryDir dir;
    // The sky of `moved` sits 4 columns right and 3 rows up (lower rows) of `reference`. The
    // cuts start at row 70, so the large star at row 39 stays outside both.
    const QString reference = writeCut(dir, "reference", 20, 70, 480, 420);
    const QString moved = writeCut(dir, "moved", 16, 73, 480, 420);
    const QJsonObject donuts = driftJson({reference, moved, "--donuts", "--clip", "10"});
    EXPECT_EQ(donuts["result"].toString(), "ok");
    EXPECT_NEAR(donuts["dx"].toDouble(), 4, 0.1);
    EXPECT_NEAR(donuts["dy"].toDouble(), -3, 0.1);
    EXPECT_GT(donuts["snr"].toDouble(), 0);

    // Centroids weigh every pixel: the whole frame moved inside a black surround.
    const QString a = writeBlob(dir, "a", 600, 560, 0, 0, 30, 20, 536, 520);
    const QString b = writeBlob(dir, "b", 600, 560, 0, 0, 37, 15, 536, 520);
    const QJsonObject centroid = driftJson({a, b});
    EXPECT_EQ(centroid["result"].toString(), "ok");
    EXPECT_NEAR(centroid["dx"].toDouble(), 7, 1e-9);
    EXPECT_NEAR(centroid["dy"].toDouble(), -5, 1e-9);
    EXPECT_TRUE(centroid["snr"].isNull());
}

TEST(DriftTool, SameFileDifferentSizesAndNoStar) {
    REQUIRE_TEST_FILE(kFrame);
    const QJsonObject same = driftJson({kFrame, kFrame});
    EXPECT_EQ(same["result"].toString(), "ok");
    EXPECT_EQ(same["dx"].toDouble(), 0);
    EXPECT_EQ(same["dy"].toDouble(), 0);

    const QJsonObject sizes = driftJson({kFrame, testDataPath("fits/ngc1316o.fit")}, 1);
    EXPECT_EQ(sizes["result"].toString(), "failed");
    EXPECT_TRUE(sizes["dx"].isNull());
    EXPECT_TRUE(sizes["snr"].isNull());

    QTemporaryDir dir;
    const QString flat = writeBlob(dir, "flat", 64, 64, 0, 0, 0, 0, 0, 0, 500);
    const QJsonObject none = driftJson({flat, flat, "--donuts"}, 1);
    EXPECT_EQ(none["result"].toString(), "no star");
    EXPECT_TRUE(none["snr"].isNull());
}

TEST(DriftTool, TextFormAndUsage) {
    REQUIRE_TEST_FILE(kFrame);
    const ToolRun r = runTool({kFrame, kFrame, "--donuts"});
    ASSERT_EQ(r.exitCode, 0);
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[2], "result: ok");
    EXPECT_TRUE(lines[3].startsWith("snr: "));

    EXPECT_EQ(runTool({kFrame}).exitCode, 2);
    EXPECT_EQ(runTool({kFrame, kFrame, "--clip", "3"}).exitCode, 2);  // clipping needs donuts
    EXPECT_EQ(runTool({kFrame, kFrame, "--donuts", "--clip", "x"}).exitCode, 2);
    EXPECT_EQ(runTool({kFrame, "/nonexistent/file.fits"}).exitCode, 1);
}

}  // namespace
