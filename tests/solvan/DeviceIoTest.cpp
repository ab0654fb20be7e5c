// Reading and writing handles over TCP connections to servers the tests start: exact reads,
// lines, formatted text both ways with their trace lines, and failures that must not kill
// the program or report success.
#include "solvan_io.h"

#include <gtest/gtest.h>

#include "CapturedLog.h"
#include "TestServer.h"

#include <cerrno>
#include <chrono>
#include <string>

namespace {

using Lines = std::vector<std::string>;

// A connection to a server on 127.0.0.1 that runs `session`.
struct Connection {
    explicit Connection(std::function<void(int)> session)
        : server("127.0.0.1", SOCK_STREAM, std::move(session)),
          handle(solvan_open_tcp("127.0.0.1", server.port())) {}
    ~Connection() { close(handle); }
    TestServer server;
    int handle;
};

TEST(DeviceIo, ReadTakesExactlyTheLengthOrReportsTheEnd) {
    for (bool complete : {true, false}) {
        Connection c([complete](int s) {  // in pieces; the incomplete stream ends early
            for (const char* piece : {"abc", "defg", complete ? "hij" : ""}) {
                TestServer::send(s, piece);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        char buffer[10];
        ASSERT_EQ(solvan_read(c.handle, buffer, 10), complete ? 10 : 0);
        if (complete) {
            EXPECT_EQ(std::string(buffer, 10), "abcdefghij");
        }
    }
    CapturedLog log(SOLVAN_LOG_ERROR);
    char buffer[4];
    EXPECT_EQ(solvan_read(-1, buffer, 4), -1);
    EXPECT_EQ(log.lines(), Lines{"solvan_read(): Bad file descriptor"});
    EXPECT_EQ(solvan_read(0, buffer, -1), -1);
    EXPECT_FALSE(solvan_write(1, buffer, -1));
}

TEST(DeviceIo, LinesDropCarriageReturnsAndKeepTheirFraming) {
    Connection c([](int s) { TestServer::send(s, "ab\r\nline two\n\nlong line here\nend"); });
    const struct {
        int result;
        const char* text;
    } cases[] = {{2, "ab"}, {8, "line two"}, {0, ""}, {8, "long lin"}, {-1, "end"}};
    for (const auto& l : cases) {
        char line[9];
        errno = 0;
        EXPECT_EQ(solvan_read_line(c.handle, line, 8), l.result) << l.text;
        EXPECT_STREQ(line, l.text);
    }
    EXPECT_EQ(errno, ECONNRESET);  // the stream ended before a line break
}

TEST(DeviceIo, FormattedTextRoundTrips) {
    Connection c([&](int s) {
        char chunk[256];  // echoes until the client closes
        for (ssize_t n; (n = recv(s, chunk, sizeof chunk, 0)) > 0;)
            send(s, chunk, static_cast<size_t>(n), MSG_NOSIGNAL);
    });
    CapturedLog log;
    const std::string h = std::to_string(c.handle);
    ASSERT_TRUE(solvan_printf(c.handle, "GOTO %d %.2f %s\r\n", 42, 1.5, "M31"));
    int number = 0;
    double value = 0;
    char name[16] = "";
    EXPECT_EQ(solvan_scanf(c.handle, "GOTO %d %lf %15s", &number, &value, name), 3);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(value, 1.5);
    EXPECT_STREQ(name, "M31");
    ASSERT_TRUE(solvan_printf(c.handle, "PING 100%%\n"));  // formatted: "%%" becomes "%"
    ASSERT_TRUE(solvan_printf(c.handle, "\n"));            // plain text, no formatting
    EXPECT_EQ(solvan_scanf(c.handle, "PING %d%%", &number), 1);
    EXPECT_EQ(number, 100);
    EXPECT_EQ(solvan_scanf(c.handle, "%d", &number), 0);  // an empty line converts nothing
    ASSERT_TRUE(solvan_printf(c.handle, "   \nx\n"));
    EXPECT_EQ(solvan_scanf(c.handle, "%d", &number), -1);  // blanks only: the scan's end of input
    EXPECT_EQ(solvan_scanf(c.handle, "%d", &number), 0);   // no match
    EXPECT_EQ(log.lines(), (Lines{h + " ← GOTO 42 1.50 M31\r\n", h + " → GOTO 42 1.50 M31",
                                  h + " ← PING 100%\n", h + " ← \n", h + " → PING 100%", h + " → ",
                                  h + " ←    \nx\n", h + " →    ", h + " → x"}));
    shutdown(c.handle, SHUT_WR);
    errno = 0;
    EXPECT_EQ(solvan_scanf(c.handle, "%d", &number), 0);
    EXPECT_EQ(errno, ECONNRESET);
}

TEST(DeviceIo, FormattedWriteIsCutAtTheWorkBufferSize) {
    std::string received;
    {
        Connection c([&](int s) { received = TestServer::receive(s); });
        EXPECT_TRUE(solvan_printf(c.handle, "%s", std::string(200000, 'x').c_str()));
    }
    EXPECT_EQ(received.size(), 131071u);
}

TEST(DeviceIo, WriteToAClosedPeerFailsWithoutEndingTheProgram) {
    Connection c([](int) {});  // the server hangs up at once
    CapturedLog log(SOLVAN_LOG_ERROR);
    const std::string block(65536, 'x');
    bool written = true;
    for (int i = 0; i < 200 && written; i++)
        written = solvan_write(c.handle, block.data(), static_cast<long>(block.size()));
    EXPECT_FALSE(written);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("solvan_write(): ", 0), 0u) << log.lines()[0];
    EXPECT_FALSE(solvan_printf(c.handle, "%d", 1));
}

}  // namespace
