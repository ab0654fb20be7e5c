#include "UpdateChecker.h"

#include "Dispatch.h"
#include "LiteralText.h"
#include "Settings.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QThreadPool>
#include <QUrl>

#include <cstdlib>
#include <limits>
#include <memory>

namespace {

// The build record is a few dozen bytes; anything far longer is not one and is not kept.
constexpr qsizetype maximumRecordBytes = 64 * 1024;
// A site that stops sending gives up the pool thread after this long.
constexpr int transferTimeoutMs = 30 * 1000;
// Below the image passes, which wait for their results on the main thread.
constexpr int backgroundPriority = -1;

// An address the check may read: an absolute http or https address with a host.
bool isReadableAddress(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

struct ReadResult {
    bool ok = false;  // the whole resource arrived
    QString text;     // the whole resource as text
    QString error;    // why it could not be read
};

// Reads the whole resource at `url` as UTF-8 text, bypassing every cache. Blocks the calling
// thread, which must not be the main thread; runs its own event loop for the transfer.
ReadResult readText(const QUrl& url) {
    QNetworkAccessManager manager;
    manager.setCache(nullptr);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(transferTimeoutMs);

    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QByteArray body;
    bool tooLong = false;
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        body += reply->readAll();
        if (body.size() > maximumRecordBytes) {
            tooLong = true;
            reply->abort();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();

    if (tooLong) return {false, {}, QStringLiteral("the answer is longer than a build record")};
    if (reply->error() != QNetworkReply::NoError) return {false, {}, reply->errorString()};
    body += reply->readAll();
    return {true, QString::fromUtf8(body), {}};
}

}  // namespace

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent),
      productName(mainBundle().name),
      baseAddress_(mainBundle().updateBaseUrl),
      localBuild_(mainBundle().buildNumber) {
    pool_.setMaxThreadCount(1);
}

UpdateChecker::~UpdateChecker() {
    waitForPool(pool_);
}

void UpdateChecker::checkForUpdateInBackground() {
    // Not the global pool: the image window's histogram and rendering wait on that pool while
    // the main thread waits for them, and a blocking read there could stall them.
    runOnPool(
        pool_, [this] { checkForUpdate(); }, backgroundPriority);
}

void UpdateChecker::checkForUpdate() {
    if (!userDefaults().defaultsBool(QStringLiteral("checkVersion"), true)) return;

    // Each check makes its own uncached request (see readText), so nothing stale is read.
    const QUrl address(baseAddress_ + productName + QStringLiteral(".build"), QUrl::StrictMode);
    if (!isReadableAddress(address)) return;

    // A program that carries no build number has nothing to compare.
    if (localBuild_.isEmpty()) return;
    const int64_t local = leadingInteger(localBuild_);

    const ReadResult result = readText(address);
    if (!result.ok) {
        qInfo().noquote() << QStringLiteral("Version check failed: ") + result.error;
        return;
    }

    const QStringList parts = result.text.split(QLatin1Char(':'));
    qInfo().noquote() << QStringLiteral("Version check: local = ") + QString::number(local) +
                             QStringLiteral(" remote = ") + parts[0];

    const std::optional<int64_t> remote = wholeInteger(parts[0]);
    if (!remote || local >= *remote) return;
    // Without a version text and a page path there is nothing to offer.
    if (parts.size() < 3) return;

    // The checker lives for the process, but a pointer guard keeps a late alert harmless.
    runOnMainAsync([checker = QPointer<UpdateChecker>(this), parts] {
        if (checker) checker->showUpdateAlert(parts);
    });
}

void UpdateChecker::showUpdateAlert(const QStringList& parts) {
    if (parts.size() < 3) return;

    QWidget* parent = window.data();
    auto* alert = new QMessageBox(parent);
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(productName);
    alert->setText(QStringLiteral("New version!"));
    alert->setInformativeText(QStringLiteral("Version ") + parts[1] +
                              QStringLiteral(" is available for download!"));
    QPushButton* download =
        alert->addButton(literalText(QStringLiteral("Download & Exit")), QMessageBox::AcceptRole);
    QPushButton* later = alert->addButton(QStringLiteral("Continue"), QMessageBox::RejectRole);
    alert->setDefaultButton(download);
    alert->setEscapeButton(later);

    auto responseOf = [download](QMessageBox* box) {
        return box->clickedButton() == download ? firstButtonResponse : secondButtonResponse;
    };

    // On a window the alert is window-modal, like a sheet, and its completion runs when it
    // closes; without one it runs application-modal and its answer goes the same way.
    alert->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    emit alertShown(alert);

    if (parent) {
        alert->setAttribute(Qt::WA_DeleteOnClose);
        connect(alert, &QMessageBox::finished, this,
                [this, alert, parts, responseOf] { openDownloadPage(responseOf(alert), parts); });
        alert->open();
        return;
    }

    const std::unique_ptr<QMessageBox> owner(alert);
    alert->exec();
    openDownloadPage(responseOf(alert), parts);
}

void UpdateChecker::openDownloadPage(int response, const QStringList& parts) {
    if (response != firstButtonResponse || parts.size() < 3) return;
    // The remote text usually ends with a line end, which is no part of the path.
    QDesktopServices::openUrl(QUrl(baseAddress_ + parts[2].trimmed()));
    exitProcess();
}

void UpdateChecker::exitProcess() {
    std::exit(0);
}

int64_t UpdateChecker::leadingInteger(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    constexpr int64_t maximum = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    bool saturated = false;
    for (; i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        const int digit = text[i].unicode() - u'0';
        if (value > (maximum - digit) / 10) saturated = true;
        if (!saturated) value = value * 10 + digit;
    }
    if (saturated) return negative ? std::numeric_limits<int64_t>::min() : maximum;
    return negative ? -value : value;
}

std::optional<int64_t> UpdateChecker::wholeInteger(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n) return std::nullopt;
    // Accumulate towards the negative side, which holds one more value than the positive.
    constexpr int64_t minimum = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < n; ++i) {
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9')) return std::nullopt;
        const int digit = text[i].unicode() - u'0';
        if (value < (minimum + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == minimum) return std::nullopt;
    return -value;
}
