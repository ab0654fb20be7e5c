// quasel-tool info on the hostile inputs: each finishes within seconds, exits normally, shows
// no picture for the broken part, keeps the headers, and logs the helper's failure.
#include "TestData.h"
#include "ToolRunner.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(HostileFiles, InfoFinishesWithoutPictureForTheBrokenPart) {
    const QString fitsLine = "quasel-decode: HDU 2 of a tile-compressed FITS file gets no picture";
    const QString rawLine = "quasel-decode: camera RAW file gets no picture";
    struct Case {
        const char* file;    // in testdata/hostile
        const char* openAs;  // copied to a file of this name first, or nullptr to use it as is
        QString logLine;     // what standard error must hold; empty: nothing of the helper
        bool hasExtension;   // a FITS file whose HDU 2 keeps its header without a picture
    };
    const std::vector<Case> cases = {
        {"rice-tile-overread.fits.fz", nullptr, fitsLine, true},
        {"gzip-tile-hang.fits.fz", nullptr, fitsLine, true},
        // A .cr3 is no camera RAW format of the viewer's: Qt's readers refuse it.
        {"raw-half-gigabyte.cr3", nullptr, {}, false},
        {"raw-half-gigabyte.cr3", "raw-half-gigabyte.nef", rawLine, false},
        {"raw-half-gigabyte.cr3", "raw-half-gigabyte.arw", rawLine, false},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " as " + (c.openAs ? c.openAs : c.file));
        QString path = testDataPath(QString("hostile/") + c.file);
        REQUIRE_TEST_FILE(path);
        if (c.openAs) {
            ASSERT_TRUE(QFile::copy(path, dir.filePath(c.openAs)));
            path = dir.filePath(c.openAs);
        }
        const ToolRun r = runTool({"info", path, "--json"}, {}, 15000);  // the hang took minutes
        ASSERT_EQ(r.exitCode, 0) << "crashed or still running";
        const QString err = QString::fromUtf8(r.err);
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        EXPECT_FALSE(o["hasPicture"].toBool());
        EXPECT_EQ(err.count("quasel-decode:"), c.logLine.isEmpty() ? 0 : 1) << err.toStdString();
        EXPECT_TRUE(err.contains(c.logLine)) << err.toStdString();
        if (!c.hasExtension) continue;
        EXPECT_GT(o["metadata"].toArray().size(), 1);
        const QJsonArray children = o["extensions"].toArray();
        ASSERT_EQ(children.size(), 1);
        const QJsonObject child = children[0].toObject();
        EXPECT_FALSE(child["hasPicture"].toBool());
        EXPECT_TRUE(child["pixelsSha256"].isNull());
        EXPECT_GT(child["metadata"].toArray().size(), 10);
    }
}

}  // namespace
