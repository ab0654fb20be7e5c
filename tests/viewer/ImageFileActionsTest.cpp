// Loading a file into the image window and exporting its picture as JPEG, with the file panels
// answered by the test (and the real dialogs checked once, then cancelled).
#include "ClickableView.h"
#include "FitsFiles.h"
#include "ImageWindowTesting.h"
#include "TestData.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace testing_image_window;

namespace {

// 256 x 192, 8-bit: a bright block in the top-left corner, a mid-grey block in the bottom-right
// one, dark elsewhere, so that a turned or mirrored export is told apart at once.
ImagePtr cornerFrame() {
    return imageOf(rawBlob8(256, 192, [](int x, int y) -> uint8_t {
        if (x < 48 && y < 48) return 250;
        if (x >= 208 && y >= 144) return 128;
        return 10;
    }));
}

// Answers every file panel with `ok` and `path`, and records what was asked.
struct PanelAnswer {
    bool ok = true;
    QString path;
    FilePanelRequest asked;
    int shown = 0;

    ImageController::FilePanel panel() {
        return [this](QWidget*, const FilePanelRequest& request,
                      std::function<void(bool, const QString&)> completion) {
            asked = request;
            ++shown;
            completion(ok, path);
        };
    }
};

bool near(QColor a, QColor b, int tolerance = 12) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

class ImageFileActionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<ImageWindow>(cornerFrame());
        c = window->controller;
        ASSERT_TRUE(c);
        c->filePanel = answer.panel();
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir.path() + "/" + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    QTemporaryDir dir;
    WindowSettings settings;
    PanelAnswer answer;
    std::unique_ptr<ImageWindow> window;
    ImageController* c = nullptr;
};

}  // namespace

TEST_F(ImageFileActionsTest, SavedJpegHasTheFullSizeUnturnedAndUnmirrored) {
    c->zoomInButton->click();
    c->rotateCWButton->click();
    c->flipHorizontallyButton->click();
    answer.path = dir.path() + "/export.jpeg";
    c->saveAction();
    EXPECT_EQ(answer.asked.prompt, "Save image");
    EXPECT_EQ(answer.asked.proposedName, "quasel.jpeg");
    EXPECT_EQ(answer.asked.allowedTypes, QStringList{"jpeg"});
    EXPECT_TRUE(answer.asked.save);
    EXPECT_EQ(visibleAlert(), nullptr);

    QImageReader reader(answer.path);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage saved = reader.read();
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), QSize(256, 192));
    const QImage rendered = c->current->cached;
    ASSERT_EQ(rendered.size(), QSize(256, 192));
    for (QPoint p : {QPoint(8, 8), QPoint(247, 183), QPoint(247, 8), QPoint(8, 183)})
        EXPECT_TRUE(near(saved.pixelColor(p), rendered.pixelColor(p)))
            << p.x() << "," << p.y() << " saved " << saved.pixelColor(p).name().toStdString()
            << " rendered " << rendered.pixelColor(p).name().toStdString();
    EXPECT_GT(saved.pixelColor(8, 8).red(), saved.pixelColor(247, 183).red() + 50);
}

TEST_F(ImageFileActionsTest, SavingReplacesAnExistingFile) {
    answer.path = writeFile("old.jpeg", "not a jpeg");
    c->saveAction();
    EXPECT_EQ(QImage(answer.path).size(), QSize(256, 192));
}

TEST_F(ImageFileActionsTest, AWriteThatFailsShowsTheAlertAndLeavesNoFile) {
    // A path below a plain file can be written by nobody, not even the superuser; a folder
    // without write permission stops everyone else.
    const QString plain = writeFile("plain", "x");
    std::vector<QString> targets = {plain + "/quasel.jpeg"};
    const QString locked = dir.path() + "/locked";
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (::access(locked.toLocal8Bit().constData(), W_OK) != 0)
        targets.push_back(locked + "/quasel.jpeg");

    for (const QString& target : targets) {
        answer.path = target;
        c->saveAction();
        QMessageBox* alert = visibleAlert();
        ASSERT_TRUE(alert) << target.toStdString();
        EXPECT_EQ(alert->text(), "Failed");
        EXPECT_EQ(alert->informativeText(), "Failed to save image to " + target);
        EXPECT_EQ(alert->icon(), QMessageBox::Critical);
        EXPECT_EQ(alert->standardButtons(), QMessageBox::Ok);
        EXPECT_FALSE(QFile::exists(target));
        delete alert;
    }
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(ImageFileActionsTest, CancellingOrSavingWithoutAPictureDoesNothing) {
    answer.ok = false;
    answer.path = dir.path() + "/cancelled.jpeg";
    c->saveAction();
    EXPECT_EQ(answer.shown, 1);
    EXPECT_FALSE(QFile::exists(answer.path));

    const ImagePtr before = c->current;
    answer.path = writeFile("other.fits", readFileBytes(testDataPath("fits/ngc1316o.fit")));
    c->loadAction();
    EXPECT_EQ(c->current, before);

    // No rendered picture: nothing written, no alert.
    answer.ok = true;
    c->setCurrentImage(imageOf("undecodable"));
    answer.path = dir.path() + "/nothing.jpeg";
    c->saveAction();
    EXPECT_FALSE(QFile::exists(answer.path));
    EXPECT_EQ(visibleAlert(), nullptr);
}

TEST_F(ImageFileActionsTest, LoadingReplacesTheWindowsImageOnly) {
    const QString path = testDataPath("fits/ngc1316o.fit");
    REQUIRE_TEST_FILE(path);
    const ImagePtr documentImage = window->document().image;
    answer.path = writeFile("m31.fits", readFileBytes(path));
    c->loadAction();
    EXPECT_EQ(answer.asked.prompt, "Select image");
    EXPECT_FALSE(answer.asked.save);
    ASSERT_TRUE(c->current);
    EXPECT_NE(c->current, documentImage);
    EXPECT_EQ(window->document().image, documentImage);
    EXPECT_EQ(c->current->format, ".fits");
    EXPECT_EQ(c->current->width, 440);
    EXPECT_EQ(c->clickableView->image().size(), QSize(440, 300));
    EXPECT_TRUE(c->frameSizeField->text().startsWith("440 x 300"));
}

TEST_F(ImageFileActionsTest, TheFormatComesFromTheFileNameAlone) {
    const QByteArray fits = writeFits([](fitsfile* f, int* st) {
        addImage(f, st, USHORT_IMG, {40, 30}, TUSHORT, std::vector<uint16_t>(1200, 3000));
    });
    ASSERT_FALSE(fits.isEmpty());
    struct Case {
        QString name;
        QString format;
        bool picture;
    };
    const Case cases[] = {
        {"frames.d/m31", ".m31", true},          // the folder's dot does not count
        {"m31.FITS", ".fits", true},             // the Image lower-cases it
        {"IMG_0001.NEF", ".nef", false},         // camera RAW by its name: not decodable
        {"archive.v2/frame.fit", ".fit", true},  // a dotted folder, a dotted name
    };
    for (const Case& k : cases) {
        answer.path = writeFile(k.name, fits);
        c->loadAction();
        ASSERT_TRUE(c->current) << k.name.toStdString();
        EXPECT_EQ(c->current->format, k.format) << k.name.toStdString();
        EXPECT_EQ(!c->clickableView->image().isNull(), k.picture) << k.name.toStdString();
        EXPECT_EQ(visibleAlert(), nullptr);
    }
}

TEST_F(ImageFileActionsTest, AFileThatCannotBeReadShowsTheLoadAlert) {
    const ImagePtr before = c->current;
    for (const QString& path : {dir.path() + "/missing.fits", dir.path()}) {
        answer.path = path;
        c->loadAction();
        QMessageBox* alert = visibleAlert();
        ASSERT_TRUE(alert) << path.toStdString();
        EXPECT_EQ(alert->text(), "Failed");
        EXPECT_EQ(alert->informativeText(), "Failed to load image from " + path);
        delete alert;
        EXPECT_EQ(c->current, before);
    }
}

TEST_F(ImageFileActionsTest, TheRealPanelsAskAsTheWindowDoesAndCancelCleanly) {
    c->filePanel = nullptr;  // the platform's dialogs
    c->saveAction();
    auto* save = c->window->findChild<QFileDialog*>();
    ASSERT_TRUE(save);
    EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(save->labelText(QFileDialog::Accept), "Save image");
    EXPECT_EQ(save->defaultSuffix(), "jpeg");
    ASSERT_FALSE(save->selectedFiles().isEmpty());
    EXPECT_EQ(QFileInfo(save->selectedFiles().first()).fileName(), "quasel.jpeg");
    EXPECT_EQ(save->windowModality(), Qt::WindowModal);
    const QString proposed = save->selectedFiles().first();
    const bool existed = QFile::exists(proposed);
    save->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(QFile::exists(proposed), existed);

    const ImagePtr before = c->current;
    c->loadAction();
    auto* open = c->window->findChild<QFileDialog*>();
    ASSERT_TRUE(open);
    EXPECT_EQ(open->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(open->labelText(QFileDialog::Accept), "Select image");
    open->reject();
    EXPECT_EQ(c->current, before);
    EXPECT_EQ(visibleAlert(), nullptr);
}

TEST_F(ImageFileActionsTest, APictureTheEncoderRefusesShowsTheSaveAlert) {
    // JPEG holds at most 65,535 pixels a side; a 70,000-pixel-wide strip cannot be encoded.
    c->setCurrentImage(imageOf(rawBlob8(70000, 2, [](int x, int) { return uint8_t(x); })));
    ASSERT_FALSE(c->clickableView->image().isNull());
    answer.path = dir.path() + "/strip.jpeg";
    c->saveAction();
    QMessageBox* alert = visibleAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->informativeText(), "Failed to save image to " + answer.path);
    EXPECT_FALSE(QFile::exists(answer.path));
}
