// The application delegate: prepares the process once the event loop has started.
//
// Start-up writes the window-tabbing preference, registers the image readers (raw frame blobs,
// FITS, XISF, in that order) and starts the update check on a thread of the global pool.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSAppDelegate : public QObject {
    Q_OBJECT

  public:
    // The tab-bar preference of the PanelWindow class: 1 keeps the tab bar always shown.
    static QString tabbingKey() {
        return QStringLiteral(
            "NSWindowTabbingShoudShowTabBarKey-Quasel.PanelWindow-(null)-(null)-HT-FS");
    }

    explicit QSAppDelegate(QObject* parent = nullptr);

    // The update check. Start-up runs it once on a thread of the global pool and does not wait;
    // it is empty when the program has no update check.
    std::function<void()> startUpdateCheck;

    // The start-up steps; called once, when the event loop starts.
    void applicationDidFinishLaunching();
    // Nothing to do at the end.
    void applicationWillTerminate() {}

  public slots:
    // Nothing.
    void toggleTitle() {}
};
