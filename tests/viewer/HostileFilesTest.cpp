// Opening the hostile inputs in the viewer: each opens within seconds, the broken part shows no
// picture, and the sound parts (headers) keep their tabs.
#include "OpenDocuments.h"
#include "TestData.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(HostileFiles, OpenWithoutPictureForTheBrokenPart) {
    registerImageReaders();
    struct Case {
        const char* file;    // in testdata/hostile (or fits/ for the sound sample)
        const char* openAs;  // the name the file is opened under
        QStringList tabs;    // the tab group that must result
    };
    const Case cases[] = {
        {"hostile/rice-tile-overread.fits.fz",
         "rice.fits.fz",
         {"rice.fits.fz", "Metadata", "Table #2"}},
        {"hostile/gzip-tile-hang.fits.fz", "gzip.fits", {"gzip.fits", "Metadata", "Table #2"}},
        {"hostile/raw-half-gigabyte.cr3", "raw.cr3", {"raw.cr3"}},
        {"hostile/raw-half-gigabyte.cr3", "raw.nef", {"raw.nef"}},
        // The sound sample through the same path: its HDU 2 has its picture.
        {"fits/ngc1316o_r.fits.fz",
         "ngc.fits.fz",
         {"ngc.fits.fz", "Metadata", "Image #2", "Table #2"}},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.openAs);
        REQUIRE_TEST_FILE(testDataPath(c.file));
        ASSERT_TRUE(QFile::copy(testDataPath(c.file), dir.filePath(c.openAs)));
        QElapsedTimer clock;
        clock.start();
        Document* d =
            DocumentController::shared().openDocumentWithContentsOfFile(dir.filePath(c.openAs));
        EXPECT_LT(clock.elapsed(), 10000);  // a hang would take minutes
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(d->image);
        EXPECT_FALSE(d->image->hasPicture());
        EXPECT_EQ(tabTitles(d), c.tabs);
        for (const ImagePtr& child : d->image->extensions)
            EXPECT_EQ(child->hasPicture(), c.tabs.contains("Image #2"));
        closeAllDocuments();
    }
}

}  // namespace
