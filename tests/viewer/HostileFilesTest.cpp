// The hostile inputs through quasel-tool info and opened in the viewer: each finishes within
// seconds (the tool exits normally), the broken part shows no picture and gives one log line,
// and the sound parts (headers) are kept.
#include "OpenDocuments.h"
#include "TestData.h"
#include "ToolRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

// One hostile (or sound) input, with what the tool and the viewer must make of it.
struct Case {
    QString file;        // absolute path
    const char* openAs;  // the name the file is opened under
    QString logLine;     // what the tool's standard error must hold; empty: no helper line
    QStringList tabs;    // the viewer's tab group
};

std::vector<Case> hostileCases() {
    const QString fitsLine = "quasel-decode: HDU 2 of a tile-compressed FITS file gets no picture";
    const QString rawLine = "quasel-decode: camera RAW file gets no picture";
    return {
        {testDataPath("hostile/rice-tile-overread.fits.fz"),
         "rice.fits.fz",
         fitsLine,
         {"rice.fits.fz", "Metadata", "Table #2"}},
        {testDataPath("hostile/gzip-tile-hang.fits.fz"),
         "gzip.fits",
         fitsLine,
         {"gzip.fits", "Metadata", "Table #2"}},
        {testDataPath("hostile/raw-half-gigabyte.cr3"), "raw.cr3", rawLine, {"raw.cr3"}},
        {testDataPath("hostile/raw-half-gigabyte.cr3"), "raw.dng", rawLine, {"raw.dng"}},
        {testDataPath("hostile/raw-half-gigabyte.cr3"), "raw.nef", rawLine, {"raw.nef"}},
        {testDataPath("hostile/raw-half-gigabyte.cr3"), "raw.arw", rawLine, {"raw.arw"}},
        // Found by fuzzing: a TIFF whose Hasselblad model text overflows a buffer in LibRaw
        // (glibc's fortified copy aborts the helper).
        {testInputPath("libraw-hassy-model-overflow.nef"), "hassy.nef", rawLine, {"hassy.nef"}},
        // The sound sample through the same paths: its HDU 2 has its picture.
        {testDataPath("fits/ngc1316o_r.fits.fz"),
         "ngc.fits.fz",
         {},
         {"ngc.fits.fz", "Metadata", "Image #2", "Table #2"}},
    };
}

// The tool and the viewer run as separate tests (so in separate processes under CTest): the
// tool's QProcess forks inside Qt, where ThreadSanitizer does not follow it, and the viewer's
// hand-offs between threads after such a fork would be misreported as races.
// Copies every input into a temporary folder under the name it is opened as.
class HostileFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const Case& c : cases) {
            REQUIRE_TEST_FILE(c.file);
            ASSERT_TRUE(QFile::copy(c.file, dir.filePath(c.openAs)));
        }
    }
    const std::vector<Case> cases = hostileCases();
    QTemporaryDir dir;
};

TEST_F(HostileFiles, NoPictureForTheBrokenPartInTheTool) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.openAs);
        const QString path = dir.filePath(c.openAs);
        const bool picture = c.tabs.contains("Image #2");  // of HDU 2

        const ToolRun r = runTool({"info", path, "--json"}, {}, 15000);  // the hang took minutes
        ASSERT_EQ(r.exitCode, 0) << "crashed or still running";
        const QString err = QString::fromUtf8(r.err);
        EXPECT_EQ(err.count("quasel-decode:"), c.logLine.isEmpty() ? 0 : 1) << err.toStdString();
        EXPECT_TRUE(err.contains(c.logLine)) << err.toStdString();
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        EXPECT_FALSE(o["hasPicture"].toBool());
        const QJsonArray children = o["extensions"].toArray();
        if (c.tabs.size() > 1) {
            EXPECT_GT(o["metadata"].toArray().size(), 1);
            ASSERT_EQ(children.size(), 1);
            const QJsonObject child = children[0].toObject();
            EXPECT_EQ(child["hasPicture"].toBool(), picture);
            EXPECT_EQ(child["pixelsSha256"].isNull(), !picture);
            EXPECT_GT(child["metadata"].toArray().size(), 10);
        }
    }
}

TEST_F(HostileFiles, NoPictureForTheBrokenPartInTheViewer) {
    registerImageReaders();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.openAs);
        const QString path = dir.filePath(c.openAs);
        const bool picture = c.tabs.contains("Image #2");  // of HDU 2

        QElapsedTimer clock;
        clock.start();
        Document* d = DocumentController::shared().openDocumentWithContentsOfFile(path);
        EXPECT_LT(clock.elapsed(), 10000);  // a hang would take minutes
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(d->image);
        EXPECT_FALSE(d->image->hasPicture());
        EXPECT_EQ(tabTitles(d), c.tabs);
        for (const ImagePtr& child : d->image->extensions)
            EXPECT_EQ(child->hasPicture(), picture);
        closeAllDocuments();
    }
}

}  // namespace
