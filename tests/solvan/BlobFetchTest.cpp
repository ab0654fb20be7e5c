// The HTTP fetch of a BLOB item against a real server on 127.0.0.1 that the test runs: plain
// and gzip bodies (packed by the system's gzip), refusals and malformed answers, a server that
// never answers, URLs without a port and paths with and without an extension.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Answers each connection with `response` after reading the request; with `silent` it then
// waits, sending nothing more, until the client gives up.
class HttpServer {
  public:
    explicit HttpServer(std::string response, bool silent = false, int port = 0)
        : response(std::move(response)), silent(silent) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener, 4) != 0) {
            close(listener);
            listener = -1;
            return;
        }
        socklen_t length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        this->port = ntohs(address.sin_port);
        thread = std::thread([this] { serve(); });
    }
    ~HttpServer() {
        shutdown(listener, SHUT_RDWR);
        if (thread.joinable()) thread.join();
        if (listener >= 0) close(listener);
    }
    bool ok() const { return listener >= 0; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    std::string lastRequest() {
        std::lock_guard<std::mutex> lock(mutex);
        return request;
    }
    std::atomic<int> connections{0};  // connections accepted
    int port = 0;

  private:
    void serve() {
        for (;;) {
            int connection = accept(listener, nullptr, nullptr);
            if (connection < 0) return;
            connections++;
            std::string received;
            char buffer[4096];
            while (received.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                received.append(buffer, size_t(n));
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                request = received;
            }
            send(connection, response.data(), response.size(), MSG_NOSIGNAL);
            if (silent) {
                while (recv(connection, buffer, sizeof buffer, 0) > 0) {
                }
            }
            close(connection);
        }
    }
    const std::string response;  // sent in full to every client
    const bool silent;           // then wait for the client to give up
    int listener = -1;
    std::thread thread;
    std::mutex mutex;     // guards request
    std::string request;  // the last request received
};

// Returns `data` packed by the system's gzip tool.
std::string gzipped(const std::string& data) {
    auto path = std::filesystem::temp_directory_path() /
                ("solvan-blob-" + std::to_string(getpid()) + ".fits");
    std::ofstream(path, std::ios::binary) << data;
    std::string command = "gzip -c -n '" + path.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::string packed;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        packed.append(buffer, n);
    pclose(pipe);
    std::filesystem::remove(path);
    return packed;
}

std::string payload() {
    std::string data;
    for (int i = 0; i < 7000; ++i)
        data.push_back(char('A' + (i * 7 + i / 13) % 26));
    return data;
}

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
};

TEST_F(BlobFetch, PlainAndGzipBodies) {
    const std::string data = payload(), packed = gzipped(data);
    ASSERT_GT(packed.size(), 18u);
    const std::string length = std::to_string(data.size());
    struct Case {
        const char* name;
        std::string path, headers, body;
        bool ok;
        const char* format;
    } cases[] = {
        {"plain", "/blob/frame.fits", "Content-Length: " + length + "\r\n", data, true, ".fits"},
        {"plain, no extension", "/blob", "Content-Length: " + length + "\r\n", data, true, ".old"},
        {"gzip", "/frame.fit",
         "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(packed.size()) +
             "\r\nX-Uncompressed-Content-Length: " + length + "\r\n",
         packed, true, ".fit"},
        {"header names in lower case", "/x.fits",
         "content-encoding: gzip\r\ncontent-length: " + std::to_string(packed.size()) +
             "\r\nx-uncompressed-content-length: " + length + "\r\n",
         packed, true, ".fits"},
    };
    for (auto& c : cases) {
        HttpServer server("HTTP/1.1 200 OK\r\nServer: test\r\n" + c.headers + "\r\n" + c.body);
        Item item(server.url(c.path));
        EXPECT_EQ(solvan_populate_http_blob_item(&item.item), c.ok) << c.name;
        EXPECT_EQ(server.lastRequest(),
                  "GET " + c.path + " HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n")
            << c.name;
        EXPECT_EQ(item.item.blob.size, int64_t(data.size())) << c.name;
        EXPECT_TRUE(item.value() == data) << c.name;
        EXPECT_STREQ(item.item.blob.format, c.format) << c.name;
    }
}

TEST_F(BlobFetch, FaultyAnswersFail) {
    const std::string data = payload(), packed = gzipped(data);
    const std::string plainLength = "Content-Length: " + std::to_string(data.size()) + "\r\n";
    const std::string gzipHead = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                                 std::to_string(packed.size()) + "\r\n";
    std::string corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0x5A;
    struct Case {
        const char* name;
        std::string response;
    } cases[] = {
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
    for (auto& c : cases) {
        HttpServer server(c.response);
        Item item(server.url("/frame.fits"));
        EXPECT_FALSE(solvan_populate_http_blob_item(&item.item)) << c.name;
        EXPECT_EQ(server.connections.load(), 1) << c.name;
        EXPECT_LE(item.item.blob.size, 9000) << c.name;  // nothing of a refused size allocated
    }
}

TEST_F(BlobFetch, AServerThatNeverAnswersTimesOut) {
    solvan_http_blob_timeout = 0.2;
    for (bool afterStatus : {false, true}) {
        // Nothing at all, or a status line and then a header that never ends.
        HttpServer server(afterStatus ? "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" : "", true);
        Item item(server.url("/frame.fits"));
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(solvan_populate_http_blob_item(&item.item));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
}

TEST_F(BlobFetch, RefusedBeforeConnecting) {
    HttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
    const std::string host = "http://127.0.0.1:" + std::to_string(server.port);
    struct Case {
        const char* name;
        std::string url;
        const char* item;
    } cases[] = {
        {"item not IMAGE", server.url("/a.fits"), "PREVIEW"},
        {"empty URL", "", "IMAGE"},
        {"not http", "ftp://127.0.0.1:" + std::to_string(server.port) + "/a", "IMAGE"},
        {"path over 256 characters", host + "/" + std::string(257, 'p'), "IMAGE"},
        {"server name over 255 characters", "http://" + std::string(256, 's') + ":80/a", "IMAGE"},
        {"line break in the path", host + "/a\r\nX-Evil: 1", "IMAGE"},
        {"port out of range", "http://127.0.0.1:99999/a", "IMAGE"},
    };
    for (auto& c : cases) {
        Item item(c.url, c.item);
        EXPECT_FALSE(solvan_populate_http_blob_item(&item.item)) << c.name;
    }
    EXPECT_EQ(server.connections.load(), 0);
    // A path of exactly 256 characters is fetched.
    Item item(host + "/" + std::string(256, 'p'));
    EXPECT_TRUE(solvan_populate_http_blob_item(&item.item));
    EXPECT_EQ(server.connections.load(), 1);
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

std::vector<std::string> logged;
void collect(const char* line) {
    logged.emplace_back(line);
}

TEST_F(BlobFetch, LogsItsStepsAtDebugLevel) {
    HttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    logged.clear();
    solvan_log_message_handler = collect;
    solvan_set_log_level(SOLVAN_LOG_DEBUG);
    Item other(server.url("/a.fits"), "PREVIEW");
    solvan_populate_http_blob_item(&other.item);
    Item item(server.url("/a.fits"));
    solvan_populate_http_blob_item(&item.item);
    solvan_set_log_level(SOLVAN_LOG_INFO);
    solvan_populate_http_blob_item(&other.item);  // nothing below debug level
    solvan_set_log_level(SOLVAN_LOG_ERROR);
    solvan_log_message_handler = nullptr;
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "solvan_populate_http_blob_item(): url == \"\" or item != \"IMAGE\"",
                          "solvan_populate_http_blob_item() -> Failed",
                          "solvan_populate_http_blob_item(): http_result = 200, response = \"OK\"",
                          "solvan_populate_http_blob_item(): http_line = \"Content-Length: 3\"",
                          "solvan_populate_http_blob_item(): content_len = 3",
                          "solvan_populate_http_blob_item() -> OK",
                      }));
}

}  // namespace
