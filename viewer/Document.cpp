#include "Document.h"

#include "DocumentController.h"
#include "ImageController.h"
#include "ImageLayout.h"
#include "PanelWindow.h"
#include "QSTableController.h"
#include "TabGroupWindow.h"
#include "TableLayout.h"
#include "ToolbarMenus.h"

#include <QFileInfo>

Document::Document() {
    openDocuments().insert(this);
}

Document::~Document() {
    openDocuments().remove(this);
    DocumentController::shared().removeDocument(this);
    QList<QPointer<TabGroupWindow>> groups;
    for (const QPointer<PanelWindow>& w : partWindows)
        if (w && w->tabGroup() && !groups.contains(w->tabGroup())) groups.append(w->tabGroup());
    for (const QPointer<PanelWindow>& w : partWindows)
        delete w.data();
    for (const QPointer<TabGroupWindow>& g : groups)
        delete g.data();
}

QSet<Document*>& Document::openDocuments() {
    static QSet<Document*> documents;
    return documents;
}

QString Document::displayName() const {
    if (filePath_.isEmpty()) return QStringLiteral("Untitled");
    return QFileInfo(filePath_).fileName();
}

bool Document::readFromData(const QByteArray& bytes, const QString& typeName) {
    loadImage(bytes, typeName);
    return true;
}

QString Document::extensionForTypeName(const QString& typeName) {
    return "." + typeName.split('.').last();
}

void Document::loadImage(const QByteArray& bytes, const QString& typeName) {
    // This document is not on the controller's list yet, so every other one closes.
    const QList<Document*> others = DocumentController::shared().documents();
    for (Document* other : others)
        if (other != this) other->close();
    image = Image::create(bytes, extensionForTypeName(typeName));
}

void Document::makeWindowControllers() {
    loadNibNamed(windowNibName());
}

bool Document::loadNibNamed(const QString& name) {
    if (name == QLatin1String("Image")) {
        ImageLayout::build(this);
        return true;
    }
    if (name == QLatin1String("Table")) {
        TableLayout::build(this);
        return true;
    }
    return false;
}

void Document::awakeFromNib() {
    setUpWindows();
}

void Document::setUpWindows() {
    if (!firstTime) return;
    if (partWindow) setUpToolbarMenus(partWindow->toolbar());
    firstTime = false;

    if (auto* controller = qobject_cast<ImageController*>(partController)) {
        controller->setCurrentImage(image);
        partControllers.append(controller);
    }
    partController = nullptr;

    if (PanelWindow* window = partWindow) {
        window->setTitleVisible(false);
        window->setTitle(displayName());
        window->setTabTitle(displayName());
        window->setTabbingMode(0);
        partWindows.append(window);
        window->setDelegate(this);  // only the main window closes the document
    }
    partWindow = nullptr;

    if (!image) return;
    if (image->metadata) addTableWindow(image->metadata, QStringLiteral("Metadata"));

    // Numbers follow the position among the extensions (the main image is number 1), so a
    // child that shows nothing leaves a gap, and a child's tabs share its number.
    for (size_t i = 0; i < image->extensions.size(); ++i) {
        const ImagePtr child = image->extensions[i];
        if (!child) continue;
        const QString number = QString::number(qulonglong(i + 2));
        if (child->renderedImage().isNull()) {  // renders now; no picture, no image tab
            if (child->tabledata) addTableWindow(child->tabledata, "Table #" + number);
        } else {
            addImageWindow(child, "Image #" + number);
        }
        if (child->metadata) addTableWindow(child->metadata, "Table #" + number);
    }
}

void Document::addTableWindow(const std::optional<StringTable>& rows, const QString& label) {
    loadNibNamed(QStringLiteral("Table"));
    if (auto* controller = qobject_cast<QSTableController*>(partController)) {
        controller->setTableData(rows);
        partControllers.append(controller);
    }
    partController = nullptr;
    takePartWindow(label);
}

void Document::addImageWindow(const ImagePtr& child, const QString& label) {
    loadNibNamed(QStringLiteral("Image"));
    if (auto* controller = qobject_cast<ImageController*>(partController)) {
        controller->setCurrentImage(child);
        partControllers.append(controller);
    }
    partController = nullptr;
    takePartWindow(label);
}

void Document::takePartWindow(const QString& label) {
    if (PanelWindow* window = partWindow) {
        window->setTitleVisible(false);
        window->setTitle(displayName());
        window->setTabTitle(label);
        if (!partWindows.isEmpty() && partWindows.last())
            partWindows.last()->addTabbedWindow(window);
        partWindows.append(window);
    }
    partWindow = nullptr;
}

PanelWindow* Document::mainWindow() const {
    return partWindows.isEmpty() ? nullptr : partWindows.first().data();
}

void Document::showWindows() {
    PanelWindow* main = mainWindow();
    if (!main) return;
    TabGroupWindow* group = main->tabGroup();
    if (!group) group = new TabGroupWindow(main);
    group->tabWidget()->setCurrentWidget(main);
    group->show();
    group->raise();
    group->activateWindow();
}

void Document::close() {
    if (closing_) return;
    closing_ = true;
    DocumentController::shared().removeDocument(this);
    const bool hadMainWindow = mainWindow() != nullptr;
    // The main window goes first; its closing reaches windowWillClose.
    const QList<QPointer<PanelWindow>> windows = partWindows;
    for (const QPointer<PanelWindow>& w : windows)
        if (w) w->close();
    // A document whose main window never came would otherwise stay open for good.
    if (!hadMainWindow && openDocuments().remove(this)) deleteLater();
    emit closed(this);
}

void Document::windowWillClose() {
    close();
    if (openDocuments().remove(this)) deleteLater();
}
