// quasel-tool drift: a real frame cut at shifted places and written as raw blobs gives its
// shift back by centroids and by donuts digests; identical files, frames of different sizes,
// a frame without a star, the text form and the usage errors.
#include "../image/SyntheticImage.h"
#include "FitsFiles.h"
#include "TestData.h"
#include "ToolRunner.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

const QString kFrame = testDataPath("fits/a8280271.fits");

// Writes a "RAW2" blob of w x h pixels whose (x, y) holds the real frame's pixel (x - dx,
// y - dy), FITS row 1 first, and `fill` where that lies outside the frame.
QString writeShifted(const QTemporaryDir& dir, const QString& name, int w, int h, int dx, int dy,
                     uint16_t fill = 0) {
    long naxes[3];
    const std::vector<uint16_t> real = readFitsPixels<uint16_t>(kFrame, TUSHORT, naxes);
    std::vector<uint16_t> pixels(size_t(w) * h, fill);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x - dx >= 0 && y - dy >= 0 && x - dx < naxes[0] && y - dy < naxes[1])
                pixels[size_t(y) * w + x] = real[size_t(y - dy) * naxes[0] + x - dx];
    return writeFileBytes(dir.filePath(name), rawBlob("RAW2", w, h, bytesOf16(pixels)));
}

TEST(DriftTool, ShiftedCutsOfARealFrame) {
    REQUIRE_TEST_FILE(kFrame);
    QTemporaryDir dir;
    // The sky of `moved` sits 4 columns right and 3 rows up (lower rows) of `reference`. The
    // cuts start at row 70, so the large star at row 39 stays outside both.
    const QString reference = writeShifted(dir, "reference.raw", 480, 420, -20, -70);
    const QString moved = writeShifted(dir, "moved.raw", 480, 420, -16, -73);
    const QJsonObject donuts = runToolJson({"drift", reference, moved, "--donuts", "--clip", "10"});
    EXPECT_EQ(donuts["result"].toString(), "ok");
    EXPECT_NEAR(donuts["dx"].toDouble(), 4, 0.1);
    EXPECT_NEAR(donuts["dy"].toDouble(), -3, 0.1);
    EXPECT_GT(donuts["snr"].toDouble(), 0);

    // Centroids weigh every pixel: the whole frame moved inside a black surround.
    const QString a = writeShifted(dir, "a.raw", 600, 560, 30, 20);
    const QString b = writeShifted(dir, "b.raw", 600, 560, 37, 15);
    const QJsonObject centroid = runToolJson({"drift", a, b});
    EXPECT_EQ(centroid["result"].toString(), "ok");
    EXPECT_NEAR(centroid["dx"].toDouble(), 7, 1e-9);
    EXPECT_NEAR(centroid["dy"].toDouble(), -5, 1e-9);
    EXPECT_TRUE(centroid["snr"].isNull());
}

TEST(DriftTool, SameFileDifferentSizesAndNoStar) {
    REQUIRE_TEST_FILE(kFrame);
    const QJsonObject same = runToolJson({"drift", kFrame, kFrame});
    EXPECT_EQ(same["result"].toString(), "ok");
    EXPECT_EQ(same["dx"].toDouble(), 0);
    EXPECT_EQ(same["dy"].toDouble(), 0);

    const QJsonObject sizes = runToolJson({"drift", kFrame, testDataPath("fits/ngc1316o.fit")}, 1);
    EXPECT_EQ(sizes["result"].toString(), "failed");
    EXPECT_TRUE(sizes["dx"].isNull());
    EXPECT_TRUE(sizes["snr"].isNull());

    QTemporaryDir dir;
    const QString flat = writeShifted(dir, "flat.raw", 64, 64, 1000, 0, 500);
    const QJsonObject none = runToolJson({"drift", flat, flat, "--donuts"}, 1);
    EXPECT_EQ(none["result"].toString(), "no star");
    EXPECT_TRUE(none["snr"].isNull());
}

TEST(DriftTool, TextFormAndUsage) {
    REQUIRE_TEST_FILE(kFrame);
    const ToolRun r = runTool({"drift", kFrame, kFrame, "--donuts"});
    ASSERT_EQ(r.exitCode, 0);
    const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[2], "result: ok");
    EXPECT_TRUE(lines[3].startsWith("snr: "));

    const std::vector<std::pair<QStringList, int>> cases = {
        {{kFrame}, 2},
        {{kFrame, kFrame, "--clip", "3"}, 2},  // clipping needs donuts
        {{kFrame, kFrame, "--donuts", "--clip", "x"}, 2},
        {{kFrame, "/nonexistent/file.fits"}, 1},
    };
    for (const auto& [args, status] : cases)
        EXPECT_EQ(runTool(QStringList{"drift"} + args).exitCode, status)
            << args.join(' ').toStdString();
}

}  // namespace
