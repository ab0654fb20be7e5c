// Documents: reading a file, the tab group built from it, and closing.
#include "Document.h"
#include "DocumentController.h"
#include "FitsFiles.h"
#include "OpenDocuments.h"
#include "PanelWindow.h"
#include "QSTableController.h"
#include "SyntheticDng.h"
#include "TabGroupWindow.h"
#include "TestData.h"
#include "ToolbarItem.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

// Primary image with keywords, an image extension with keywords and a binary table extension
// with keywords, all written by CFITSIO.
QByteArray threeUnitFits(int imageExtensions = 1) {
    return writeFits([&](fitsfile* f, int* st) {
        addImage(f, st, USHORT_IMG, {8, 6}, TUSHORT, std::vector<uint16_t>(48, 1000));
        fits_update_key_str(f, "OBSERVER", "Edwin", "who observed", st);
        for (int i = 0; i < imageExtensions; ++i) {
            addImage(f, st, USHORT_IMG, {4, 3}, TUSHORT, std::vector<uint16_t>(12, 2000));
            fits_update_key_str(f, "EXTNAME", "SCI", "science frame", st);
        }
        char* ttype[] = {const_cast<char*>("STAR"), const_cast<char*>("MAG")};
        char* tform[] = {const_cast<char*>("8A"), const_cast<char*>("1E")};
        fits_create_tbl(f, BINARY_TBL, 2, 2, ttype, tform, nullptr, "STARS", st);
        char* names[] = {const_cast<char*>("Vega"), const_cast<char*>("Deneb")};
        float mags[] = {0.03f, 1.25f};
        fits_write_col(f, TSTRING, 1, 1, 1, 2, names, st);
        fits_write_col(f, TFLOAT, 2, 1, 1, 2, mags, st);
        fits_update_key_str(f, "CATALOG", "Bright", "catalogue used", st);
    });
}

bool alertShown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w) && w->isVisible()) return true;
    return false;
}

class DocumentTest : public ::testing::Test {
  protected:
    void SetUp() override { registerImageReaders(); }

    void TearDown() override { closeAllDocuments(); }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    Document* open(const QString& path) {
        Document* d = DocumentController::shared().openDocumentWithContentsOfFile(path);
        EXPECT_NE(d, nullptr) << path.toStdString();
        return d;
    }

    QTemporaryDir dir;
};

}  // namespace

TEST_F(DocumentTest, ExtensionComesFromTheLastPartOfTheTypeName) {
    const std::pair<QString, QString> cases[] = {
        {"quasel.fits", ".fits"}, {"fits", ".fits"}, {"a.b.nef", ".nef"},
        {"ends.", "."},           {"", "."},         {"quasel.FIT", ".FIT"},
    };
    for (const auto& [type, extension] : cases)
        EXPECT_EQ(Document::extensionForTypeName(type), extension) << type.toStdString();
    EXPECT_EQ(DocumentController::typeNameForPath("/data/m31.xisf"), "quasel.xisf");
    EXPECT_EQ(Document::extensionForTypeName(DocumentController::typeNameForPath("/data/noext")),
              ".");
}

TEST_F(DocumentTest, FitsWithImageAndTableExtensionsGivesSixTabsInOrder) {
    const QByteArray bytes = threeUnitFits();
    ASSERT_FALSE(bytes.isEmpty());
    Document* d = open(writeFile("three.fits", bytes));
    ASSERT_TRUE(d);
    EXPECT_EQ(tabTitles(d), (QStringList{"three.fits", "Metadata", "Image #2", "Table #2",
                                         "Table #3", "Table #3"}));
    EXPECT_EQ(d->partWindows.size(), 6);
    EXPECT_EQ(d->partControllers.size(), 6);
    EXPECT_FALSE(d->firstTime);
    EXPECT_EQ(d->mainWindow()->delegate(), d);
    for (int i = 1; i < d->partWindows.size(); ++i)
        EXPECT_EQ(d->partWindows[i]->delegate(), nullptr) << i;

    // Every tab's window carries the document's name; the group shows the tab bar.
    for (const QPointer<PanelWindow>& w : d->partWindows)
        EXPECT_EQ(w->title(), "three.fits");
    EXPECT_TRUE(d->mainWindow()->tabGroup()->tabBar()->isVisible());

    // The table tab of the third unit holds its cells, column titles from the table.
    auto* table = qobject_cast<QSTableController*>(d->partControllers[4]);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->columnTitles(), (QStringList{"STAR", "MAG"}));
    EXPECT_EQ(table->numberOfRows(), 2);
    EXPECT_EQ(table->objectValue(0, 1), "Deneb");

    // A nib load after the first does nothing to the group.
    d->awakeFromNib();
    EXPECT_EQ(tabTitles(d).size(), 6);
}

TEST_F(DocumentTest, ChildWithNothingToShowKeepsItsNumber) {
    const QString path = writeFile("gap.fits", threeUnitFits(2));
    auto* d = new Document();
    d->setFilePath(path);
    ASSERT_TRUE(d->readFromData(readFileBytes(path), DocumentController::typeNameForPath(path)));
    ASSERT_TRUE(d->image);
    ASSERT_EQ(d->image->extensions.size(), 3u);
    Image& first = *d->image->extensions[0];
    first.originalImageRep = nullptr;
    first.metadata.reset();
    first.tabledata.reset();
    DocumentController::shared().addDocument(d);
    d->makeWindowControllers();
    d->showWindows();
    EXPECT_EQ(tabTitles(d), (QStringList{"gap.fits", "Metadata", "Image #3", "Table #3", "Table #4",
                                         "Table #4"}));
}

TEST_F(DocumentTest, SingleTabDocumentStillShowsTheTabBar) {
    const QString path = testDataPath("images/moon.png");
    REQUIRE_TEST_FILE(path);
    Document* d = open(path);
    ASSERT_TRUE(d);
    EXPECT_EQ(tabTitles(d), QStringList{"moon.png"});
    TabGroupWindow* group = d->mainWindow()->tabGroup();
    ASSERT_TRUE(group);
    EXPECT_TRUE(group->isVisible());
    EXPECT_TRUE(group->tabBar()->isVisible());
    EXPECT_EQ(group->tabBar()->count(), 1);
}

TEST_F(DocumentTest, RandomBytesOpenAnEmptyImageTabWithoutAlert) {
    QByteArray noise(4096, '\0');
    QRandomGenerator rng(1234);
    for (char& c : noise)
        c = char(rng.bounded(256));
    noise[0] = 'Z';  // no signature by chance
    Document* d = open(writeFile("noise.fits", noise));
    ASSERT_TRUE(d);
    ASSERT_TRUE(d->image);
    EXPECT_FALSE(d->image->hasPicture());
    EXPECT_EQ(tabTitles(d), QStringList{"noise.fits"});
    EXPECT_FALSE(alertShown());
}

TEST_F(DocumentTest, UnreadableFileOpensNoDocument) {
    QString error;
    EXPECT_EQ(DocumentController::shared().openDocumentWithContentsOfFile(
                  dir.path() + "/missing.fits", &error),
              nullptr);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(DocumentController::shared().openDocumentWithContentsOfFile(dir.path(), &error),
              nullptr);
    EXPECT_TRUE(DocumentController::shared().documents().isEmpty());
}

TEST_F(DocumentTest, OpeningASecondFileClosesTheFirstBeforeItsImageIsBuilt) {
    Document* first = open(writeFile("first.fits", threeUnitFits()));
    ASSERT_TRUE(first);
    bool sawClose = false;
    bool secondHadImage = true;
    QObject::connect(first, &Document::closed, [&](Document* closed) {
        sawClose = true;
        for (Document* d : Document::openDocuments())
            if (d != closed) secondHadImage = d->image != nullptr;
    });
    Document* second = open(writeFile("second.fits", threeUnitFits()));
    ASSERT_TRUE(second);
    EXPECT_TRUE(sawClose);
    EXPECT_FALSE(secondHadImage);
    EXPECT_TRUE(second->image);
    EXPECT_EQ(DocumentController::shared().documents(), QList<Document*>{second});
    processDeletes();
    EXPECT_FALSE(Document::openDocuments().contains(first));
    EXPECT_EQ(Document::openDocuments().size(), 1);
}

TEST_F(DocumentTest, ClosingAChildTabKeepsTheDocumentAndTheFirstTabClosesIt) {
    Document* d = open(writeFile("tabs.fits", threeUnitFits()));
    ASSERT_TRUE(d);
    QPointer<TabGroupWindow> group = d->mainWindow()->tabGroup();
    ASSERT_TRUE(group);
    group->closeTab(2);
    processDeletes();
    EXPECT_TRUE(Document::openDocuments().contains(d));
    EXPECT_EQ(DocumentController::shared().documents(), QList<Document*>{d});
    EXPECT_EQ(tabTitles(d),
              (QStringList{"tabs.fits", "Metadata", "Table #2", "Table #3", "Table #3"}));

    QPointer<Document> watch(d);
    group->closeTab(0);
    EXPECT_TRUE(DocumentController::shared().documents().isEmpty());
    processDeletes();
    EXPECT_TRUE(watch.isNull());
    EXPECT_TRUE(group.isNull());
    EXPECT_TRUE(Document::openDocuments().isEmpty());
}

TEST_F(DocumentTest, ClosingTheWindowClosesTheDocument) {
    Document* d = open(writeFile("window.fits", threeUnitFits()));
    ASSERT_TRUE(d);
    d->mainWindow()->tabGroup()->close();
    processDeletes();
    EXPECT_TRUE(Document::openDocuments().isEmpty());
    EXPECT_TRUE(DocumentController::shared().documents().isEmpty());
}

TEST_F(DocumentTest, MetadataTabFiltersItsRows) {
    Document* d = open(writeFile("filter.fits", threeUnitFits()));
    ASSERT_TRUE(d);
    PanelWindow* metadata = d->partWindows[1];
    auto* field = metadata->findChild<QLineEdit*>("filterField");
    auto* view = metadata->findChild<QTableView*>("tableView");
    ASSERT_TRUE(field && view);
    const int all = view->model()->rowCount();
    EXPECT_GT(all, 5);
    field->setText("observer");
    ASSERT_EQ(view->model()->rowCount(), 1);
    EXPECT_EQ(view->model()->index(0, 0).data().toString(), "OBSERVER");
    EXPECT_EQ(view->model()->headerData(2, Qt::Horizontal).toString(), "comment");
    field->clear();
    EXPECT_EQ(view->model()->rowCount(), all);
}

TEST_F(DocumentTest, ImageLayoutWiresThePanelTogglesAndOnlyTheMainToolbarGetsMenus) {
    Document* d = open(writeFile("wired.fits", threeUnitFits()));
    ASSERT_TRUE(d);
    PanelWindow* main = d->mainWindow();
    ASSERT_TRUE(main->leftPanelsButton && main->rightPanelsButton && main->bottomPanelsButton &&
                main->miniViewButton);
    EXPECT_TRUE(main->handlesOwnFrames());

    auto menuForm = [](PanelWindow* w) -> QAction* {
        if (!w->toolbar()) return nullptr;
        for (QAction* a : w->toolbar()->actions())
            if (auto* item = qobject_cast<ToolbarItem*>(a); item && item->label() == "Panels")
                return item->menuFormRepresentation();
        return nullptr;
    };
    QAction* form = menuForm(main);
    ASSERT_TRUE(form && form->menu());
    EXPECT_EQ(form->text(), "Panels");
    ASSERT_EQ(form->menu()->actions().size(), 3);
    EXPECT_EQ(menuForm(d->partWindows[2]), nullptr);   // "Image #2" has a toolbar, no menus
    EXPECT_EQ(d->partWindows[1]->toolbar(), nullptr);  // table windows have none

    // The left-panels entry toggles the panels through the window's action.
    const bool before = main->leftPanels;
    form->menu()->actions()[0]->trigger();
    EXPECT_EQ(main->leftPanels, !before);
    EXPECT_EQ(main->leftPanelsButton->isChecked(), !before);
    main->leftPanelsButton->click();
    EXPECT_EQ(main->leftPanels, before);
}

TEST_F(DocumentTest, TextsOfTabsButtonsAndMenuEntriesShowAsTheyStand) {
    Document* d = open(writeFile("M31 & M32.fits", threeUnitFits()));
    ASSERT_TRUE(d);
    EXPECT_EQ(tabTitles(d).value(0), "M31 & M32.fits");

    // No text of the image window hides a character as a mnemonic marker.
    QStringList texts;
    PanelWindow* main = d->mainWindow();
    for (QAbstractButton* b : main->findChildren<QAbstractButton*>())
        texts << b->text();
    for (QGroupBox* box : main->findChildren<QGroupBox*>())
        texts << box->title();
    for (QAction* a : main->toolbar()->actions())
        if (auto* item = qobject_cast<ToolbarItem*>(a); item && item->menuFormRepresentation()) {
            texts << item->menuFormRepresentation()->text();
            for (QAction* entry : item->menuFormRepresentation()->menu()->actions())
                texts << entry->text();
        }
    ASSERT_GT(texts.size(), 20);
    for (const QString& text : texts)
        EXPECT_EQ(shownText(text), QString(text).replace("&&", "&")) << text.toStdString();
}

TEST_F(DocumentTest, OpenDialogListsTheSupportedFiles) {
    const QStringList extensions = DocumentController::supportedExtensions();
    for (const char* ext : {"fits", "fit", "fts", "xisf", "nef", "arw", "png", "jpg", "dng", "cr2",
                            "cr3", "crw", "raf", "orf", "rw2", "pef", "srw"})
        EXPECT_TRUE(extensions.contains(ext)) << ext;
    EXPECT_EQ(QStringList(extensions).removeDuplicates(), 0);
    const QString filter = DocumentController::openDialogFilter();
    EXPECT_TRUE(filter.startsWith("Images (*.fits *.fit *.fts *.xisf")) << filter.toStdString();
    EXPECT_TRUE(filter.endsWith(";;All files (*)"));
}

// The type name carries the file's extension to the Image, in whatever case the file has it.
TEST_F(DocumentTest, CameraRawFilesOpenByTheirExtension) {
    const QByteArray dng = makeDngWithPreview();
    for (const char* name : {"IMG_0001.CR2", "frame.dng", "DSCF0001.RAF"}) {
        SCOPED_TRACE(name);
        Document* d = open(writeFile(name, dng));
        ASSERT_TRUE(d);
        ASSERT_TRUE(d->image->hasPicture());
        EXPECT_EQ(d->image->width, 64);  // the frame, not the preview in front of it
        EXPECT_EQ(d->image->bitsPerPixel, 48);
        EXPECT_EQ(tabTitles(d), QStringList{name});
    }
    QImage picture(30, 20, QImage::Format_RGB888);
    picture.fill(QColor(20, 40, 60));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "PNG"));
    Document* d = open(writeFile("IMG_0002.CR2", png));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->image->width, 30);  // no camera RAW in it: Qt's PNG reader
    EXPECT_EQ(d->image->format, ".cr2");
}
