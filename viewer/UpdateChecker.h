// Asks the download site once per launch whether a newer build exists and, if so, offers it.
//
// The site holds one small text, `productName` + ".build", of three parts separated by ":":
// the latest build number, its version text and the path of its download page relative to
// the same base address. The check runs on a thread of the global pool and blocks it while
// reading; the alert and everything after it run on the main thread. Its only visible
// effects are one log line (qInfo) and, when a newer build exists, one alert.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QWidget>

#include <cstdint>
#include <optional>

class QMessageBox;

class UpdateChecker : public QObject {
    Q_OBJECT

  public:
    // What the alert reports for its first button ("Download & Exit") and its second.
    static constexpr int firstButtonResponse = 1000;
    static constexpr int secondButtonResponse = 1001;

    explicit UpdateChecker(QObject* parent = nullptr);
    // Waits for a check still running: it reads the members destroyed before the pool.
    ~UpdateChecker() override;

    QString productName;  // the program's name, "Quasel"; names the remote text productName.build
    QPointer<QWidget> window;  // the alert shows window-modal on it; none: application-modal

    // Starts `checkForUpdate` once on the global thread pool and returns at once.
    void checkForUpdateInBackground();

    // The check itself. Blocks the calling thread while reading; never call it on the main
    // thread. Hands the alert to the main thread when the remote build is newer.
    void checkForUpdate();

    // Builds and shows the alert for the remote text's parts. Main thread only.
    void showUpdateAlert(const QStringList& parts);

    // The alert's completion: for the first button opens the download page and ends the
    // process with status 0; any other response does nothing.
    void openDownloadPage(int response, const QStringList& parts);

    // The download site's base address, ending in "/"; the build setting by default. Set it
    // before the check starts.
    QString baseAddress() const { return baseAddress_; }
    void setBaseAddress(const QString& address) { baseAddress_ = address; }

    // The local build number as text; the compiled-in build number by default. Set it before
    // the check starts.
    QString localBuild() const { return localBuild_; }
    void setLocalBuild(const QString& build) { localBuild_ = build; }

    // The leading decimal integer of `text` after blanks, with an optional sign; 0 when there
    // is none ("7b" reads as 7). Saturates at the limits of the type.
    static int64_t leadingInteger(const QString& text);

    // `text` read as a decimal integer when the whole of it is one (an optional sign, then
    // digits only, in range); nothing otherwise.
    static std::optional<int64_t> wholeInteger(const QString& text);

  signals:
    // Emitted on the main thread with the finished alert just before it is shown.
    void alertShown(QMessageBox* alert);

  protected:
    // Ends the process at once with status 0: no further events, nothing saved.
    virtual void exitProcess();

  private:
    QThreadPool pool_;     // the check's own thread: a slow site never holds up the shared pool
    QString baseAddress_;  // download site, ending in "/"
    QString localBuild_;   // this program's build number as text
};
