// One opened file: its Image and the tab group of windows that shows it.
//
// The document turns the file's bytes into one Image and, once its main window has been built
// from the "Image" layout, builds the whole tab group: the main image window first, then
// "Metadata", then for each further FITS header-data unit an "Image #n" or "Table #n" tab
// followed by its header tab ("Table #n"). Only one document is open at a time: reading a file
// closes every other document. Closing the main window (the first tab) closes the document.
#pragma once

#include "Image.h"
#include "StringTable.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <optional>

class PanelWindow;

class Document : public QObject {
    Q_OBJECT

  public:
    // Fields as set by the layouts and the window building.
    QPointer<QObject> partController;  // controller of the layout just built; read once, cleared
    QPointer<PanelWindow> partWindow;  // window of the layout just built; read once, cleared
    bool firstTime = true;             // the window group has not been built yet
    ImagePtr image;                    // the image built from the file
    QList<QPointer<PanelWindow>> partWindows;  // the group's windows in creation order
    QList<QPointer<QObject>> partControllers;  // their controllers, in creation order

    // Joins `openDocuments`.
    Document();
    ~Document() override;

    // Every document from its creation until its main window closes.
    static QSet<Document*>& openDocuments();
    // Documents are never saved automatically; they have no writing at all.
    static bool autosavesInPlace() { return false; }
    // The layout of the main window.
    QString windowNibName() const { return QStringLiteral("Image"); }

    // The file the document was read from, and the name shown for it.
    QString filePath() const { return filePath_; }
    void setFilePath(const QString& path) { filePath_ = path; }
    QString displayName() const;

    // Reads the file: runs loadImage. Never fails.
    bool readFromData(const QByteArray& bytes, const QString& typeName);
    // Closes the other documents and builds `image` from the bytes and the type's extension.
    void loadImage(const QByteArray& bytes, const QString& typeName);
    // "." followed by what stands after the last "." of the type name.
    static QString extensionForTypeName(const QString& typeName);

    // Builds the main window from `windowNibName` with the document as owner.
    void makeWindowControllers();
    // Shows the main window's tab group and brings it to the front.
    void showWindows();
    // Builds the layout `name` ("Image" or "Table") with the document as owner, which sets
    // `partWindow` and `partController` and then sends `awakeFromNib`. False for an unknown name.
    bool loadNibNamed(const QString& name);
    // Sent by every layout built with the document as owner; builds the window group once.
    void awakeFromNib();
    void setUpWindows();

    // Closes the document's windows and takes it off the document controller's list.
    void close();
    bool isClosed() const { return closing_; }
    // The main window (the first of `partWindows`), or nullptr.
    PanelWindow* mainWindow() const;

  public slots:
    // Delegate call of the main window: the document closes and leaves `openDocuments`.
    void windowWillClose();

  signals:
    // The document has been closed.
    void closed(Document* document);

  private:
    // Adds a table window with `rows`, tab title `label`, after the last window.
    void addTableWindow(const std::optional<StringTable>& rows, const QString& label);
    // Adds an image window for `child`, tab title `label`, after the last window.
    void addImageWindow(const ImagePtr& child, const QString& label);
    // Tabs the window just built onto the group and appends it.
    void takePartWindow(const QString& label);

    QString filePath_;
    bool closing_ = false;
};
