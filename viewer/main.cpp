// The `quasel` program: opens each file given on the command line as a document, or the bundled
// sample image when none is given.
#include "ClickableView.h"
#include "Document.h"
#include "DocumentController.h"
#include "QSAppDelegate.h"
#include "QuaselConfig.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// The sample image next to the build (resources/) or where `cmake --install` puts it.
QString sampleImagePath() {
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {dir + "/resources/ngc1316o.fit", dir + "/../share/quasel/ngc1316o.fit"})
        if (QFileInfo::exists(candidate)) return QDir::cleanPath(candidate);
    return {};
}

// Ends the program once no document and no window is left.
void quitWhenIdle() {
    QTimer::singleShot(0, [] {
        if (!DocumentController::shared().documents().isEmpty()) return;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) return;
        QCoreApplication::quit();
    });
}

// With QUASEL_EXIT_AFTER_FIRST_PAINT set, the program ends as soon as a picture view has
// painted a picture: the time from launch to the first picture, for measuring start-up.
class FirstPaintExit : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* view = qobject_cast<ClickableView*>(watched);
            if (view && !view->image().isNull())
                // After this paint has been delivered; no teardown is part of the measure.
                QTimer::singleShot(0, [] {
                    std::fflush(nullptr);
                    std::_Exit(0);
                });
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Quasel");
    QCoreApplication::setApplicationName("Quasel");
    QCoreApplication::setApplicationVersion(QUASEL_VERSION);
    QGuiApplication::setApplicationDisplayName("Quasel");
    QGuiApplication::setDesktopFileName("quasel");
    // Opening a file closes the previous document first; the program ends only when nothing
    // is open any more (quitWhenIdle).
    app.setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription("Viewer for astronomical images (FITS, XISF, camera RAW).");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("file", "Files to open; the bundled sample when none.",
                                 "[FILE...]");
    parser.process(app);
    QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        const QString sample = sampleImagePath();
        if (sample.isEmpty())
            qWarning("quasel: the bundled sample image was not found");
        else
            files.append(sample);
    }

    FirstPaintExit firstPaintExit;
    if (qEnvironmentVariableIsSet("QUASEL_EXIT_AFTER_FIRST_PAINT"))
        app.installEventFilter(&firstPaintExit);

    QSAppDelegate delegate;

    DocumentController& controller = DocumentController::shared();
    QObject::connect(&controller, &DocumentController::lastDocumentClosed, &app, quitWhenIdle);

    QTimer::singleShot(0, &app, [&] {
        delegate.applicationDidFinishLaunching();
        for (const QString& file : files) {
            QString error;
            if (controller.openDocumentWithContentsOfFile(file, &error)) continue;
            qWarning("quasel: cannot open %s: %s", qPrintable(file), qPrintable(error));
            QMessageBox* alert = DocumentController::presentOpenError(nullptr, file);
            QObject::connect(alert, &QMessageBox::finished, &app, quitWhenIdle);
        }
        quitWhenIdle();
    });

    const int status = app.exec();
    delegate.applicationWillTerminate();
    const QList<Document*> documents = Document::openDocuments().values();
    qDeleteAll(documents);
    return status;
}
