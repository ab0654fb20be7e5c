#include "DocumentController.h"

#include "Document.h"
#include "ImageDecoding.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QMessageBox>

DocumentController& DocumentController::shared() {
    static DocumentController controller;
    return controller;
}

QList<Document*> DocumentController::documents() const {
    QList<Document*> list;
    for (const QPointer<Document>& d : documents_)
        if (d) list.append(d);
    return list;
}

void DocumentController::addDocument(Document* document) {
    if (document && !documents_.contains(document)) documents_.append(document);
}

void DocumentController::removeDocument(Document* document) {
    const bool had = documents_.removeAll(document) > 0;
    documents_.removeAll(nullptr);
    if (had && documents_.isEmpty()) emit lastDocumentClosed();
}

QString DocumentController::typeNameForPath(const QString& path) {
    return "quasel." + QFileInfo(path).suffix();
}

Document* DocumentController::openDocumentWithContentsOfFile(const QString& path, QString* error) {
    const QFileInfo info(path);
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        if (error) *error = info.isDir() ? QStringLiteral("is a folder") : file.errorString();
        return nullptr;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = file.errorString();
        return nullptr;
    }

    auto* document = new Document();
    document->setFilePath(info.absoluteFilePath());
    document->readFromData(bytes, typeNameForPath(path));
    // The Image keeps what its bitmap reads; the file's bytes go before the first render.
    bytes = QByteArray();
    addDocument(document);
    document->makeWindowControllers();
    document->showWindows();
    return document;
}

QStringList DocumentController::supportedExtensions() {
    QStringList extensions{"fits", "fit", "fts", "xisf", "raw", "nef", "arw"};
    for (const QString& ext : cameraRawExtensions())
        if (!extensions.contains(ext)) extensions.append(ext);
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        const QString ext = QString::fromLatin1(format).toLower();
        if (!extensions.contains(ext)) extensions.append(ext);
    }
    return extensions;
}

QString DocumentController::openDialogFilter() {
    QStringList patterns;
    for (const QString& ext : supportedExtensions())
        patterns.append("*." + ext);
    return QStringLiteral("Images (%1);;All files (*)").arg(patterns.join(' '));
}

QMessageBox* DocumentController::presentOpenError(QWidget* parent, const QString& path) {
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Failed"),
                                  QStringLiteral("Failed"), QMessageBox::Ok, parent);
    alert->setInformativeText("Failed to load image from " + path);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    if (parent) alert->setWindowModality(Qt::WindowModal);
    alert->show();
    return alert;
}

void DocumentController::openDocument(QWidget* parent) {
    const QString path =
        QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(), openDialogFilter());
    if (path.isEmpty()) return;
    if (!openDocumentWithContentsOfFile(path)) presentOpenError(parent, path);
}
