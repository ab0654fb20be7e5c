// The application delegate: prepares the process once the event loop has started.
//
// Start-up writes the window-tabbing preference, registers the image readers (raw frame blobs,
// FITS, XISF, in that order) and starts the update check on a thread of the global pool.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class UpdateChecker;

class QSAppDelegate : public QObject {
    Q_OBJECT

  public:
    // The tab-bar preference of the PanelWindow class: 1 keeps the tab bar always shown.
    static QString tabbingKey() {
        return QStringLiteral(
            "NSWindowTabbingShoudShowTabBarKey-Quasel.PanelWindow-(null)-(null)-HT-FS");
    }

    explicit QSAppDelegate(QObject* parent = nullptr);

    // The start-up steps; called once, when the event loop starts.
    void applicationDidFinishLaunching();
    // Nothing to do at the end.
    void applicationWillTerminate() {}

    // The update checker made at start-up, or nullptr before it. It belongs to the application
    // object, so it outlives every check still running on the pool.
    UpdateChecker* updateChecker() const;

  public slots:
    // Nothing.
    void toggleTitle() {}

  private:
    QPointer<UpdateChecker> updateChecker_;
};
