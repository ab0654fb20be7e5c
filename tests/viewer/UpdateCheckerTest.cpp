// The update check against a build record served by a small HTTP server on 127.0.0.1.
#include "Dispatch.h"
#include "Settings.h"
#include "ShownText.h"
#include "UpdateChecker.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <mutex>

namespace {

// Answers every request with one fixed HTTP response and records the request lines. Serves
// only a handful of connections and never keeps a request of more than a few kilobytes.
class BuildRecordServer : public QObject {
  public:
    explicit BuildRecordServer(QByteArray body, QByteArray status = "200 OK")
        : body_(std::move(body)), status_(std::move(status)) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, &BuildRecordServer::accept);
    }

    // The base address the checker is pointed at; the record lies at site/Quasel.build.
    QString baseAddress() const {
        return QStringLiteral("http://127.0.0.1:%1/site/").arg(server_.serverPort());
    }
    bool listening() const { return server_.isListening(); }
    void close() { server_.close(); }

    QStringList requestLines;  // "GET /site/Quasel.build HTTP/1.1", one per request served

  private:
    static constexpr int maximumConnections = 4;
    static constexpr qsizetype maximumRequestBytes = 8 * 1024;

    void accept() {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            if (++connections_ > maximumConnections) {
                socket->abort();
                continue;
            }
            auto request = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                *request += socket->readAll();
                if (request->size() > maximumRequestBytes) {
                    socket->abort();
                    return;
                }
                if (!request->contains("\r\n\r\n")) return;
                requestLines << QString::fromLatin1(request->left(request->indexOf("\r\n")));
                socket->write("HTTP/1.1 " + status_ +
                              "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                              QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n" +
                              body_);
                socket->disconnectFromHost();
                request->clear();
            });
        }
    }

    QTcpServer server_;
    QByteArray body_;
    QByteArray status_;
    int connections_ = 0;
};

// Keeps the page the checker asks the desktop to open instead of opening it.
class PageOpener : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened << url; }
};

// A checker whose end of process is only counted.
class CountingChecker : public UpdateChecker {
  public:
    int exits = 0;

  protected:
    void exitProcess() override { ++exits; }
};

// The informational lines logged while a test runs (the check logs from a pool thread).
std::mutex logMutex;
QStringList infoLines;

void captureInfo(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtInfoMsg) return;
    std::lock_guard<std::mutex> lock(logMutex);
    infoLines << message;
}

QStringList loggedLines() {
    std::lock_guard<std::mutex> lock(logMutex);
    return infoLines;
}

struct SeenAlert {
    QString text;
    QString informativeText;
    QStringList buttons;
    QString defaultButton;
    QString escapeButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::WindowModality modality = Qt::NonModal;
    bool onMainThread = false;
};

// Spins the main event loop until `done` holds or ten seconds have passed.
template <typename Condition>
bool spinUntil(Condition done) {
    QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

class UpdateCheckerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        {
            std::lock_guard<std::mutex> lock(logMutex);
            infoLines.clear();
        }
        previousHandler_ = qInstallMessageHandler(captureInfo);
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &opener, "open");
        userDefaults().removeObject(QStringLiteral("checkVersion"));

        QObject::connect(&checker, &UpdateChecker::alertShown, [this](QMessageBox* box) {
            SeenAlert seen;
            seen.text = box->text();
            seen.informativeText = box->informativeText();
            // The texts as the buttons show them.
            for (QAbstractButton* button : box->buttons())
                seen.buttons << shownText(button->text());
            if (box->defaultButton()) seen.defaultButton = shownText(box->defaultButton()->text());
            if (box->escapeButton()) seen.escapeButton = shownText(box->escapeButton()->text());
            seen.icon = box->icon();
            seen.modality = box->windowModality();
            seen.onMainThread = QThread::currentThread() == qApp->thread();
            alerts.push_back(seen);
            // Answer the alert once it is up, as the user would.
            QTimer::singleShot(0, box, [box, press = press] {
                for (QAbstractButton* button : box->buttons()) {
                    if (shownText(button->text()) == press) {
                        button->click();
                        return;
                    }
                }
                box->reject();  // no such button: the test fails instead of waiting forever
            });
        });
    }

    void TearDown() override {
        QCoreApplication::processEvents();
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        qInstallMessageHandler(previousHandler_);
        userDefaults().removeObject(QStringLiteral("checkVersion"));
    }

    // Runs the check on a pool thread while the main thread serves, then lets the main
    // thread show whatever the check handed to it.
    void runCheck() {
        std::atomic<bool> done{false};
        runOnPool(*QThreadPool::globalInstance(), [&] {
            checker.checkForUpdate();
            done = true;
        });
        EXPECT_TRUE(spinUntil([&] { return done.load(); })) << "the check did not end";
        QThreadPool::globalInstance()->waitForDone(10000);
        QCoreApplication::processEvents();
    }

    CountingChecker checker;
    PageOpener opener;
    std::vector<SeenAlert> alerts;
    QString press = QStringLiteral("Continue");

  private:
    QtMessageHandler previousHandler_ = nullptr;
};

const QString versionLine = QStringLiteral("Version check: local = %1 remote = %2");

TEST_F(UpdateCheckerTest, NewerBuildAsksOnceForItsRecordAndShowsTheAlert) {
    BuildRecordServer server("120:2.1:downloads/quasel-2.1.html\n");
    ASSERT_TRUE(server.listening());
    checker.setBaseAddress(server.baseAddress());
    checker.setLocalBuild(QStringLiteral("119"));

    runCheck();

    EXPECT_EQ(server.requestLines, QStringList{"GET /site/Quasel.build HTTP/1.1"});
    EXPECT_EQ(loggedLines(), QStringList{versionLine.arg(119).arg(120)});
    ASSERT_EQ(alerts.size(), 1u);
    const SeenAlert& alert = alerts[0];
    EXPECT_EQ(alert.text, "New version!");
    EXPECT_EQ(alert.informativeText, "Version 2.1 is available for download!");
    EXPECT_EQ(alert.buttons, (QStringList{"Download & Exit", "Continue"}));
    EXPECT_EQ(alert.defaultButton, "Download & Exit");
    EXPECT_EQ(alert.escapeButton, "Continue");
    EXPECT_EQ(alert.icon, QMessageBox::Warning);
    EXPECT_EQ(alert.modality, Qt::ApplicationModal);
    EXPECT_TRUE(alert.onMainThread);
    // "Continue" closes the alert and the program goes on.
    EXPECT_TRUE(opener.opened.isEmpty());
    EXPECT_EQ(checker.exits, 0);
}

TEST_F(UpdateCheckerTest, BackgroundCheckReturnsAndAlertsOnTheMainThread) {
    BuildRecordServer server("121:2.2:downloads/quasel-2.2.html");
    ASSERT_TRUE(server.listening());
    checker.setBaseAddress(server.baseAddress());
    checker.setLocalBuild(QStringLiteral("120"));

    // The server is served by this thread, so the call must return before the answer exists.
    checker.checkForUpdateInBackground();

    ASSERT_TRUE(spinUntil([&] { return !alerts.empty(); }));
    EXPECT_EQ(alerts[0].informativeText, "Version 2.2 is available for download!");
    EXPECT_TRUE(alerts[0].onMainThread);
}

TEST_F(UpdateCheckerTest, SwitchedOffCheckMakesNoRequestAndLogsNothing) {
    BuildRecordServer server("120:2.1:downloads/quasel-2.1.html\n");
    ASSERT_TRUE(server.listening());
    checker.setBaseAddress(server.baseAddress());
    checker.setLocalBuild(QStringLiteral("119"));
    userDefaults().setObject(QStringLiteral("checkVersion"), false);

    runCheck();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);

    EXPECT_TRUE(server.requestLines.isEmpty());
    EXPECT_TRUE(loggedLines().isEmpty());
    EXPECT_TRUE(alerts.empty());

    // Stored as true, the same check asks the server.
    userDefaults().setObject(QStringLiteral("checkVersion"), true);
    runCheck();
    EXPECT_EQ(server.requestLines.size(), 1);
    EXPECT_EQ(alerts.size(), 1u);
}

// One remote text against one local build: the log line and whether an alert appears.
struct RemoteCase {
    const char* name;
    const char* localBuild;
    QByteArray remoteText;
    int64_t loggedLocal;
    const char* loggedRemote;  // part 0 exactly as logged
    const char* versionShown;  // the alert's version text; nullptr: no alert
};

void PrintTo(const RemoteCase& c, std::ostream* os) {
    *os << c.name;
}

class RemoteTextTest : public UpdateCheckerTest,
                       public ::testing::WithParamInterface<RemoteCase> {};

TEST_P(RemoteTextTest, LogsBothBuildsAndAlertsOnlyForANewerCompleteRecord) {
    const RemoteCase& c = GetParam();
    BuildRecordServer server(c.remoteText);
    ASSERT_TRUE(server.listening());
    checker.setBaseAddress(server.baseAddress());
    checker.setLocalBuild(QString::fromLatin1(c.localBuild));

    runCheck();

    EXPECT_EQ(server.requestLines.size(), 1);
    EXPECT_EQ(loggedLines(), QStringList{versionLine.arg(c.loggedLocal).arg(c.loggedRemote)});
    if (c.versionShown) {
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].informativeText,
                  QStringLiteral("Version %1 is available for download!").arg(c.versionShown));
    } else {
        EXPECT_TRUE(alerts.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, RemoteTextTest,
    ::testing::Values(
        RemoteCase{"Newer", "119", "120:2.1:downloads/quasel-2.1.html\n", 119, "120", "2.1"},
        RemoteCase{"Equal", "120", "120:2.1:downloads/quasel-2.1.html\n", 120, "120", nullptr},
        RemoteCase{"Older", "121", "120:2.1:downloads/quasel-2.1.html\n", 121, "120", nullptr},
        // A bare number with its line end is logged as it came and is not a number.
        RemoteCase{"NumberWithLineEnd", "119", "120\n", 119, "120\n", nullptr},
        RemoteCase{"BlankBeforeNumber", "119", " 120:2.1:p.html", 119, " 120", nullptr},
        RemoteCase{"SignedNumber", "119", "+120:2.1:p.html", 119, "+120", "2.1"},
        RemoteCase{"EmptyText", "119", "", 119, "", nullptr},
        // The local build reads its leading digits: 7b is 7.
        RemoteCase{"LocalDigitThenLetterEqual", "7b", "7:0.7:p.html", 7, "7", nullptr},
        RemoteCase{"LocalDigitThenLetterOlder", "7b", "8:0.8:p.html", 7, "8", "0.8"},
        RemoteCase{"LocalWithoutDigits", "beta", "1:0.1:p.html", 0, "1", "0.1"},
        // Without a version text and a page there is nothing to offer.
        RemoteCase{"TwoParts", "119", "120:2.1", 119, "120", nullptr},
        RemoteCase{"OnePart", "119", "120", 119, "120", nullptr},
        RemoteCase{"MoreParts", "119", "120:2.1:p.html:extra", 119, "120", "2.1"},
        RemoteCase{"NewerButHuge", "119", "99999999999999999999:9:p.html", 119,
                   "99999999999999999999", nullptr}),
    [](const ::testing::TestParamInfo<RemoteCase>& info) { return info.param.name; });

// Whether the alert has a window, which button is pressed, and what follows.
struct AnswerCase {
    const char* name;
    bool withWindow;
    const char* press;
    bool opensPage;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.name;
}

class AlertAnswerTest : public UpdateCheckerTest,
                        public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AlertAnswerTest, DownloadOpensTheTrimmedPageAndEndsContinueDoesNothing) {
    const AnswerCase& c = GetParam();
    BuildRecordServer server("120:2.1: downloads/quasel-2.1.html \r\n");
    ASSERT_TRUE(server.listening());
    checker.setBaseAddress(server.baseAddress());
    checker.setLocalBuild(QStringLiteral("119"));
    QWidget window;
    if (c.withWindow) {
        window.show();
        checker.window = &window;
    }
    press = QString::fromLatin1(c.press);

    runCheck();
    ASSERT_TRUE(spinUntil([&] { return !alerts.empty(); }));
    // A window-modal alert answers later, from the event loop.
    if (c.opensPage) {
        ASSERT_TRUE(spinUntil([&] { return checker.exits > 0; }));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    EXPECT_EQ(alerts[0].modality, c.withWindow ? Qt::WindowModal : Qt::ApplicationModal);
    if (c.opensPage) {
        EXPECT_EQ(opener.opened,
                  QList<QUrl>{QUrl(server.baseAddress() + "downloads/quasel-2.1.html")});
        EXPECT_EQ(checker.exits, 1);
    } else {
        EXPECT_TRUE(opener.opened.isEmpty());
        EXPECT_EQ(checker.exits, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AlertAnswerTest,
    ::testing::Values(AnswerCase{"ModalDownload", false, "Download & Exit", true},
                      AnswerCase{"ModalContinue", false, "Continue", false},
                      AnswerCase{"OnWindowDownload", true, "Download & Exit", true},
                      AnswerCase{"OnWindowContinue", true, "Continue", false}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST_F(UpdateCheckerTest, AddressesThatAreNotWebAddressesStopSilently) {
    checker.setLocalBuild(QStringLiteral("119"));
    for (const QString& base : {QString(), QStringLiteral("127.0.0.1/site/"),
                                QStringLiteral("file:///tmp/"), QStringLiteral("http:// /")}) {
        checker.setBaseAddress(base);
        runCheck();
        EXPECT_TRUE(loggedLines().isEmpty()) << base.toStdString();
    }
    EXPECT_TRUE(alerts.empty());
}

TEST_F(UpdateCheckerTest, ProgramWithoutBuildNumberSkipsTheCheck) {
    BuildRecordServer server("120:2.1:downloads/quasel-2.1.html\n");
    ASSERT_TRUE(server.listening());
    checker.setBaseAddress(server.baseAddress());
    checker.setLocalBuild(QString());

    runCheck();

    EXPECT_TRUE(server.requestLines.isEmpty());
    EXPECT_TRUE(loggedLines().isEmpty());
}

TEST_F(UpdateCheckerTest, UnreadableRecordIsLoggedOnceAndShowsNothing) {
    BuildRecordServer missing("not here", "404 Not Found");
    BuildRecordServer oversized(QByteArray(256 * 1024, '9'));
    BuildRecordServer closed("120:2.1:p.html");
    ASSERT_TRUE(missing.listening() && oversized.listening() && closed.listening());
    const QString closedAddress = closed.baseAddress();
    closed.close();
    checker.setLocalBuild(QStringLiteral("119"));

    for (const QString& base : {missing.baseAddress(), oversized.baseAddress(), closedAddress}) {
        {
            std::lock_guard<std::mutex> lock(logMutex);
            infoLines.clear();
        }
        checker.setBaseAddress(base);
        runCheck();
        const QStringList lines = loggedLines();
        ASSERT_EQ(lines.size(), 1) << base.toStdString();
        EXPECT_TRUE(lines[0].startsWith("Version check failed: ")) << lines[0].toStdString();
    }
    EXPECT_EQ(missing.requestLines.size(), 1);
    EXPECT_TRUE(alerts.empty());
}

// The two ways a build number is read, each against values worked out by hand.
TEST(UpdateCheckerNumbers, LocalBuildReadsLeadingDigits) {
    const std::pair<QString, int64_t> cases[] = {
        {"7b", 7},
        {"120", 120},
        {"", 0},
        {"beta", 0},
        {"  42 x", 42},
        {"-3x", -3},
        {"+8", 8},
        {"1.9", 1},
        {"- 5", 0},
        {"007", 7},
        {"99999999999999999999", std::numeric_limits<int64_t>::max()},
        {"-99999999999999999999", std::numeric_limits<int64_t>::min()},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(UpdateChecker::leadingInteger(text), expected) << text.toStdString();
    }
}

TEST(UpdateCheckerNumbers, RemoteBuildMustBeAWholeNumber) {
    const std::pair<QString, std::optional<int64_t>> cases[] = {
        {"120", 120},
        {"+120", 120},
        {"-4", -4},
        {"0", 0},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"120\n", std::nullopt},
        {" 120", std::nullopt},
        {"7b", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"1 2", std::nullopt},
        {"\u0661\u0662", std::nullopt},  // Arabic-Indic digits are not decimal digits here
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(UpdateChecker::wholeInteger(text), expected) << text.toStdString();
    }
}

}  // namespace

#include "UpdateCheckerTest.moc"
