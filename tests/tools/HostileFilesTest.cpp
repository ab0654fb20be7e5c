// quasel-tool info on the hostile inputs: each finishes within seconds, exits normally, shows
// no picture for the broken part, keeps the headers, and logs the helper's failure.
#include "TestData.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct HostileFile {
    const char* file;     // in testdata/hostile
    const char* openAs;   // copied to a file of this name first, or nullptr to use it as is
    const char* logLine;  // what standard error must hold; nullptr: nothing of the helper
    bool hasExtension;    // a FITS file whose HDU 2 keeps its header without a picture
};

void PrintTo(const HostileFile& c, std::ostream* os) {
    *os << c.file << (c.openAs ? std::string(" as ") + c.openAs : std::string());
}

class HostileFiles : public ::testing::TestWithParam<HostileFile> {};

TEST_P(HostileFiles, InfoFinishesWithoutPictureForTheBrokenPart) {
    const HostileFile c = GetParam();
    QString path = testDataPath(QString("hostile/") + c.file);
    REQUIRE_TEST_FILE(path);
    QTemporaryDir dir;
    if (c.openAs) {
        const QString copy = dir.path() + "/" + c.openAs;
        ASSERT_TRUE(QFile::copy(path, copy));
        path = copy;
    }
    QProcess p;
    p.start(QUASEL_TOOL_PATH, {"info", path, "--json"});
    ASSERT_TRUE(p.waitForFinished(15000)) << "still running";  // the hang took minutes
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    EXPECT_FALSE(o["hasPicture"].toBool());
    if (c.logLine)
        EXPECT_TRUE(err.contains(c.logLine)) << err.toStdString();
    else
        EXPECT_FALSE(err.contains("quasel-decode")) << err.toStdString();
    if (!c.hasExtension) return;
    EXPECT_GT(o["metadata"].toArray().size(), 1);
    const QJsonArray children = o["extensions"].toArray();
    ASSERT_EQ(children.size(), 1);
    const QJsonObject child = children[0].toObject();
    EXPECT_FALSE(child["hasPicture"].toBool());
    EXPECT_TRUE(child["pixelsSha256"].isNull());
    EXPECT_GT(child["metadata"].toArray().size(), 10);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFiles,
    ::testing::Values(
        HostileFile{"rice-tile-overread.fits.fz", nullptr,
                    "quasel-decode: HDU 2 of a tile-compressed FITS file gets no picture", true},
        HostileFile{"gzip-tile-hang.fits.fz", nullptr,
                    "quasel-decode: HDU 2 of a tile-compressed FITS file gets no picture", true},
        // A .cr3 is no camera RAW format of the viewer's: Qt's readers refuse it.
        HostileFile{"raw-half-gigabyte.cr3", nullptr, nullptr, false},
        HostileFile{"raw-half-gigabyte.cr3", "raw-half-gigabyte.nef",
                    "quasel-decode: camera RAW file gets no picture", false},
        HostileFile{"raw-half-gigabyte.cr3", "raw-half-gigabyte.arw",
                    "quasel-decode: camera RAW file gets no picture", false}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
