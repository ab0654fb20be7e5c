// Opening the hostile inputs in the viewer: each opens within seconds, the broken part shows no
// picture, and the sound parts (headers) keep their tabs.
#include "OpenDocuments.h"
#include "TestData.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct HostileFile {
    const char* file;    // in testdata/hostile (or fits/ for the sound sample)
    const char* openAs;  // the name the file is opened under
    QStringList tabs;    // the tab group that must result
};

void PrintTo(const HostileFile& c, std::ostream* os) {
    *os << c.openAs;
}

class HostileFiles : public ::testing::TestWithParam<HostileFile> {
  protected:
    void SetUp() override { registerImageReaders(); }
    void TearDown() override { closeAllDocuments(); }
    QTemporaryDir dir;
};

TEST_P(HostileFiles, OpenWithoutPictureForTheBrokenPart) {
    const HostileFile c = GetParam();
    const QString source = testDataPath(c.file);
    REQUIRE_TEST_FILE(source);
    const QString path = dir.path() + "/" + c.openAs;
    ASSERT_TRUE(QFile::copy(source, path));
    QElapsedTimer clock;
    clock.start();
    Document* d = DocumentController::shared().openDocumentWithContentsOfFile(path);
    EXPECT_LT(clock.elapsed(), 10000);  // a hang would take minutes
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->image);
    EXPECT_FALSE(d->image->hasPicture());
    EXPECT_EQ(tabTitles(d), c.tabs);
    for (const ImagePtr& child : d->image->extensions)
        EXPECT_EQ(child->hasPicture(), c.tabs.contains("Image #2"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFiles,
    ::testing::Values(HostileFile{"hostile/rice-tile-overread.fits.fz",
                                  "rice.fits.fz",
                                  {"rice.fits.fz", "Metadata", "Table #2"}},
                      HostileFile{"hostile/gzip-tile-hang.fits.fz",
                                  "gzip.fits",
                                  {"gzip.fits", "Metadata", "Table #2"}},
                      HostileFile{"hostile/raw-half-gigabyte.cr3", "raw.cr3", {"raw.cr3"}},
                      HostileFile{"hostile/raw-half-gigabyte.cr3", "raw.nef", {"raw.nef"}},
                      // The sound sample through the same path: its HDU 2 has its picture.
                      HostileFile{"fits/ngc1316o_r.fits.fz",
                                  "ngc.fits.fz",
                                  {"ngc.fits.fz", "Metadata", "Image #2", "Table #2"}}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
