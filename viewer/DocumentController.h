// Opens files as documents: from the command line, from File > Open and from the desktop.
//
// It reads the file's bytes, makes a Document, hands it the bytes and a type name that ends in
// "." plus the file's extension, puts it on its list, builds its main window and shows it.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class Document;
class QMessageBox;
class QWidget;

class DocumentController : public QObject {
    Q_OBJECT

  public:
    static DocumentController& shared();

    // The open documents, in the order they were opened.
    QList<Document*> documents() const;
    void addDocument(Document* document);
    void removeDocument(Document* document);

    // Opens the file as a document and shows its windows. Returns nullptr, with the reason in
    // `error`, when the file cannot be read; bytes that nothing decodes still open.
    Document* openDocumentWithContentsOfFile(const QString& path, QString* error = nullptr);
    // Asks for a file with an open dialog over `parent` and opens it; a failure is reported
    // in an alert.
    void openDocument(QWidget* parent);
    // Shows the alert for a file that could not be opened (window-modal over `parent`).
    static QMessageBox* presentOpenError(QWidget* parent, const QString& path);

    // The type name of a file: "." plus its extension ends it.
    static QString typeNameForPath(const QString& path);
    // Extensions (lower case, without the dot) the viewer reads.
    static QStringList supportedExtensions();
    // The open dialog's filter: the supported files, then every file.
    static QString openDialogFilter();

  signals:
    // The last open document has gone.
    void lastDocumentClosed();

  private:
    QList<QPointer<Document>> documents_;
};
