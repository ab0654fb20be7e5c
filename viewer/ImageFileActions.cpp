// ImageController: loading another file into the window and exporting the rendered picture as
// JPEG.
//
// Loading replaces only this window's image: the document, its title and its other tabs stay.
// The export writes the rendered picture at the image's full size, as stretched, demosaiced
// and white-balanced, without zoom, turn, flips or marks. The file is written through a
// QSaveFile, so a failed export never leaves a half-written file or harms an existing one.
#include "ImageController.h"
#include "PanelWindow.h"

#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QMessageBox>
#include <QPointer>
#include <QSaveFile>

#include <climits>

namespace {

// The platform's file panel: a window-modal file dialog over `window`.
void showFileDialog(QWidget* window, const FilePanelRequest& request,
                    std::function<void(bool, const QString&)> completion) {
    auto* dialog = new QFileDialog(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(request.prompt);
    dialog->setLabelText(QFileDialog::Accept, request.prompt);
    if (request.save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        if (!request.allowedTypes.isEmpty()) {
            QStringList patterns;
            for (const QString& type : request.allowedTypes)
                patterns.append("*." + type);
            dialog->setNameFilter(patterns.join(' '));
            dialog->setDefaultSuffix(request.allowedTypes.first());
        }
        dialog->selectFile(request.proposedName);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [dialog, completion = std::move(completion)](int result) {
                         const QStringList files = dialog->selectedFiles();
                         completion(result == QDialog::Accepted,
                                    files.isEmpty() ? QString() : files.first());
                     });
    dialog->open();
}

// The format passed with a loaded file's bytes: "." and what follows the last "." of the
// file's name, or "." and the whole name when it has no dot. Folder names never count.
QString formatForPath(const QString& path) {
    return "." + QFileInfo(path).fileName().split('.').last();
}

// The rendered bitmap as a picture over its own memory (no copy); null when the bitmap is not
// the packed 8-bit RGB the renderer makes.
QImage pictureOfBitmap(const BitmapImageRep& rep) {
    if (!rep.bitmapData() || rep.bitsPerSample != 8 || rep.samplesPerPixel != 3 ||
        rep.bitsPerPixel != 24 || rep.isPlanar || rep.pixelsWide <= 0 || rep.pixelsHigh <= 0 ||
        rep.bytesPerRow < rep.pixelsWide * 3 || rep.pixelsWide > INT_MAX ||
        rep.pixelsHigh > INT_MAX || rep.bytesPerRow > INT_MAX)
        return {};
    return QImage(rep.bitmapData(), int(rep.pixelsWide), int(rep.pixelsHigh),
                  qsizetype(rep.bytesPerRow), QImage::Format_RGB888);
}

}  // namespace

void ImageController::loadAction() {
    loadImageSheet();
}

void ImageController::saveAction() {
    saveImageSheet();
}

void ImageController::loadImageSheet() {
    FilePanelRequest request;
    request.prompt = QStringLiteral("Select image");
    QPointer<ImageController> self(this);
    const FilePanel& panel = filePanel ? filePanel : FilePanel(showFileDialog);
    panel(window, request, [self](bool ok, const QString& path) {
        if (self) self->loadImageFromPanel(ok, path);
    });
}

void ImageController::loadImageFromPanel(bool ok, const QString& path) {
    if (!ok || path.isEmpty()) return;
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        presentFailure(QStringLiteral("Failed to load image from "), path);
        return;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        presentFailure(QStringLiteral("Failed to load image from "), path);
        return;
    }
    // Bytes that nothing decodes give an image without a picture, and no alert. The Image keeps
    // what its bitmap reads; the file's bytes go before the new frame is rendered.
    ImagePtr image = Image::create(bytes, formatForPath(path));
    bytes = QByteArray();
    setCurrentImage(std::move(image));
}

void ImageController::saveImageSheet() {
    FilePanelRequest request;
    request.save = true;
    request.prompt = QStringLiteral("Save image");
    request.proposedName = QStringLiteral("quasel.jpeg");
    request.allowedTypes = {QStringLiteral("jpeg")};
    QPointer<ImageController> self(this);
    const FilePanel& panel = filePanel ? filePanel : FilePanel(showFileDialog);
    panel(window, request, [self](bool ok, const QString& path) {
        if (self) self->saveImageFromPanel(ok, path);
    });
}

void ImageController::saveImageFromPanel(bool ok, const QString& path) {
    if (!ok || path.isEmpty()) return;
    if (!current || !current->cachedImageRep) return;
    const QImage picture = pictureOfBitmap(*current->cachedImageRep);
    if (picture.isNull()) return;

    // Encoded first, so that a failed encoding creates no file at all.
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    if (!writer.write(picture) || jpeg.isEmpty()) {
        presentFailure(QStringLiteral("Failed to save image to "), path);
        return;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size() || !file.commit()) {
        presentFailure(QStringLiteral("Failed to save image to "), path);
        return;
    }
}

void ImageController::presentFailure(const QString& text, const QString& path) {
    auto* alert = new QMessageBox(QMessageBox::Critical, QStringLiteral("Failed"),
                                  QStringLiteral("Failed"), QMessageBox::Ok, window);
    alert->setInformativeText(text + path);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    if (window) alert->setWindowModality(Qt::WindowModal);
    alert->show();
}
