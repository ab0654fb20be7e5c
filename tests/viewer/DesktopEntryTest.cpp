// The desktop entry: the file types it offers the viewer for match what the viewer reads.
#include "ImageDecoding.h"

#include <QFile>
#include <QMimeDatabase>

#include <gtest/gtest.h>

namespace {

// The MIME types of the entry's MimeType key.
QStringList declaredTypes() {
    QFile file(QUASEL_DESKTOP_ENTRY);
    if (!file.open(QIODevice::ReadOnly)) return {};
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("MimeType="))
            return QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);
    return {};
}

}  // namespace

TEST(DesktopEntry, DeclaresTheCameraRawTypes) {
    const QStringList declared = declaredTypes();
    ASSERT_FALSE(declared.isEmpty());
    for (const char* type :
         {"image/x-adobe-dng", "image/x-canon-cr2", "image/x-canon-cr3", "image/x-canon-crw",
          "image/x-fuji-raf", "image/x-nikon-nef", "image/x-olympus-orf", "image/x-panasonic-rw2",
          "image/x-pentax-pef", "image/x-sony-arw"})
        EXPECT_TRUE(declared.contains(type)) << type;
    EXPECT_EQ(QStringList(declared).removeDuplicates(), 0);
}

// Every camera RAW extension that the system's MIME database knows a type for has that type
// declared.
TEST(DesktopEntry, EveryCameraRawExtensionWithAKnownTypeHasItDeclared) {
    const QStringList declared = declaredTypes();
    const QMimeDatabase db;
    int known = 0;
    for (const QString& ext : cameraRawExtensions()) {
        const QMimeType type = db.mimeTypeForFile("frame." + ext, QMimeDatabase::MatchExtension);
        if (type.isDefault()) continue;
        ++known;
        EXPECT_TRUE(declared.contains(type.name()))
            << ext.toStdString() << ": " << type.name().toStdString();
    }
    if (known == 0) GTEST_SKIP() << "the MIME database knows no camera RAW type";
}
