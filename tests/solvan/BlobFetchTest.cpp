// The HTTP fetch of a BLOB item against a real server on 127.0.0.1 that the test runs: plain
// and gzip bodies (packed by the system's gzip), refusals and malformed answers, a server that
// never answers, URLs without a port and paths with and without an extension.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include "CapturedLog.h"
#include "Shell.h"
#include "TestServer.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// What the HTTP server below keeps; a base of its own, so that it is made before the server's
// thread starts and outlives it.
struct HttpLog {
    std::mutex mutex;     // guards request
    std::string request;  // the last request received
};

// Answers each connection with `response` after reading the request; with `silent` it then
// sends nothing more until the client gives up.
struct HttpServer : HttpLog, TestServer {
    explicit HttpServer(const std::string& response, bool silent = false, int port = 0)
        : TestServer(
              "127.0.0.1", SOCK_STREAM,
              [this, response, silent](int connection) {
                  const std::string received = receive(connection, "\r\n\r\n");
                  {
                      std::lock_guard<std::mutex> lock(mutex);
                      request = received;
                  }
                  send(connection, response);
                  if (silent) receive(connection);
              },
              port) {}
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port()) + path;
    }
    std::string lastRequest() {
        std::lock_guard<std::mutex> lock(mutex);
        return request;
    }
};

struct Item {
    solvan_item item;
    Item(const std::string& url, const char* name = "IMAGE") {
        solvan_init_blob_item(&item, name, nullptr);
        std::snprintf(item.blob.url, sizeof item.blob.url, "%s", url.c_str());
        std::strcpy(item.blob.format, ".old");
    }
    ~Item() { std::free(item.blob.value); }
    std::string value() const {
        return std::string(static_cast<const char*>(item.blob.value), size_t(item.blob.size));
    }
};

class BlobFetch : public ::testing::Test {
  protected:
    void SetUp() override { solvan_http_blob_timeout = 2; }
    void TearDown() override { solvan_http_blob_timeout = 15; }
    const std::string data = std::string(7000, 'A').replace(0, 11, "SIMPLE  = T");
    const std::string packed = gzipTool(data);
    const std::string length = std::to_string(data.size());
    const std::string gzipHead = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                                 std::to_string(packed.size()) + "\r\n";
};

TEST_F(BlobFetch, PlainAndGzipBodies) {
    ASSERT_GT(packed.size(), 18u);
    const struct {
        std::string path, head;
        const char* format;
    } cases[] = {
        {"/blob/frame.fits", "HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n", ".fits"},
        {"/blob", "HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n", ".old"},
        {"/frame.fit", gzipHead + "X-Uncompressed-Content-Length: " + length + "\r\n", ".fit"},
        {"/x.fits",  // header names in lower case
         "HTTP/1.1 200 OK\r\ncontent-encoding: gzip\r\ncontent-length: " +
             std::to_string(packed.size()) + "\r\nx-uncompressed-content-length: " + length +
             "\r\n",
         ".fits"},
    };
    for (auto& c : cases) {
        const bool gzip = c.head.find("gzip") != std::string::npos;
        HttpServer server(c.head + "\r\n" + (gzip ? packed : data));
        Item item(server.url(c.path));
        EXPECT_TRUE(solvan_populate_http_blob_item(&item.item)) << c.path;
        EXPECT_EQ(server.lastRequest(),
                  "GET " + c.path + " HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n");
        EXPECT_TRUE(item.value() == data) << c.path;
        EXPECT_STREQ(item.item.blob.format, c.format);
    }
}

TEST_F(BlobFetch, FaultyAnswersFail) {
    const std::string plainLength = "Content-Length: " + length + "\r\n";
    std::string corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0x5A;
    const std::pair<const char*, std::string> cases[] = {
        {"404", "HTTP/1.1 404 Not Found\r\n" + plainLength + "\r\n" + data},
        {"not HTTP/1.1", "HTTP/1.0 200 OK\r\n" + plainLength + "\r\n" + data},
        {"no Content-Length", "HTTP/1.1 200 OK\r\n\r\n" + data},
        {"Content-Length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        {"body shorter than announced", "HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\n" + data},
        {"headers cut off", "HTTP/1.1 200 OK\r\nContent-Len"},
        {"Content-Length above the limit",
         "HTTP/1.1 200 OK\r\nContent-Length: 1073741825\r\n\r\n" + data},
        {"gzip without uncompressed length", gzipHead + "\r\n" + packed},
        {"gzip, negative uncompressed length",
         gzipHead + "X-Uncompressed-Content-Length: -5\r\n\r\n" + packed},
        {"gzip, uncompressed length above the limit",
         gzipHead + "X-Uncompressed-Content-Length: 1073741825\r\n\r\n" + packed},
        {"gzip, announced length too small",
         gzipHead + "X-Uncompressed-Content-Length: 6999\r\n\r\n" + packed},
        {"gzip, announced length too large",
         gzipHead + "X-Uncompressed-Content-Length: 7001\r\n\r\n" + packed},
        {"gzip, corrupt stream",
         gzipHead + "X-Uncompressed-Content-Length: 7000\r\n\r\n" + corrupt},
    };
    for (auto& [name, response] : cases) {
        HttpServer server(response);
        Item item(server.url("/frame.fits"));
        EXPECT_FALSE(solvan_populate_http_blob_item(&item.item)) << name;
        EXPECT_EQ(server.connections(), 1) << name;
        EXPECT_LE(item.item.blob.size, 9000) << name;  // nothing of a refused size allocated
    }
}

TEST_F(BlobFetch, AServerThatNeverAnswersTimesOut) {
    solvan_http_blob_timeout = 0.2;
    // Nothing at all, or a status line and then a header that never ends.
    for (const char* response : {"", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"}) {
        HttpServer server(response, true);
        Item item(server.url("/frame.fits"));
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(solvan_populate_http_blob_item(&item.item));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
}

TEST_F(BlobFetch, RefusedBeforeConnecting) {
    HttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
    const std::string host = server.url("");
    const std::pair<std::string, const char*> cases[] = {
        {server.url("/a.fits"), "PREVIEW"},                      // item not IMAGE
        {"", "IMAGE"},                                           // empty URL
        {"ftp" + host.substr(4) + "/a", "IMAGE"},                // not http
        {host + "/" + std::string(257, 'p'), "IMAGE"},           // path over 256 characters
        {"http://" + std::string(256, 's') + ":80/a", "IMAGE"},  // server name over 255
        {host + "/a\r\nX-Evil: 1", "IMAGE"},                     // line break in the path
        {"http://127.0.0.1:99999/a", "IMAGE"},                   // port out of range
    };
    for (auto& [url, name] : cases) {
        Item item(url, name);
        EXPECT_FALSE(solvan_populate_http_blob_item(&item.item)) << url;
    }
    EXPECT_EQ(server.connections(), 0);
    Item item(host + "/" + std::string(256, 'p'));  // a path of exactly 256 characters
    EXPECT_TRUE(solvan_populate_http_blob_item(&item.item));
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(BlobFetch, UrlWithoutPortUsesPortEighty) {
    HttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, 80);
    if (!server.ok()) GTEST_SKIP() << "port 80 is taken or needs privileges";
    Item item("http://127.0.0.1/frame.fits");
    EXPECT_TRUE(solvan_populate_http_blob_item(&item.item));
    EXPECT_EQ(item.value(), "abc");
    Item bare("http://127.0.0.1");
    EXPECT_TRUE(solvan_populate_http_blob_item(&bare.item));
    EXPECT_EQ(server.lastRequest(), "GET / HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n");
}

TEST_F(BlobFetch, LogsItsOutcomeAtDebugLevel) {
    HttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    Item other(server.url("/a.fits"), "PREVIEW"), item(server.url("/a.fits"));
    CapturedLog log(SOLVAN_LOG_DEBUG);
    solvan_populate_http_blob_item(&other.item);
    solvan_populate_http_blob_item(&item.item);
    EXPECT_TRUE(log.has("solvan_populate_http_blob_item() -> Failed"));
    EXPECT_TRUE(log.has("solvan_populate_http_blob_item() -> OK"));
}

}  // namespace
