// TCP and UDP client sockets against servers the tests start on 127.0.0.1 and ::1: device
// addresses and their protocol, refused connections, and a table of malformed addresses.
#include "solvan_io.h"

#include <gtest/gtest.h>

#include "CapturedLog.h"
#include "TestServer.h"

#include <cerrno>
#include <string>
#include <tuple>

namespace {

// A server that greets each TCP client with "hello\r\n" or answers a UDP "ping" with "pong".
struct EchoServer : TestServer {
    EchoServer(const char* host, bool datagram)
        : TestServer(host, datagram ? SOCK_DGRAM : SOCK_STREAM, [datagram](int s) {
              if (!datagram) return send(s, "hello\r\n");
              char buffer[64];
              sockaddr_storage from{};
              socklen_t size = sizeof from;
              if (recvfrom(s, buffer, sizeof buffer, 0, (sockaddr*)&from, &size) == 4)
                  sendto(s, "pong", 4, 0, (sockaddr*)&from, size);
          }) {}
};

// A port of 127.0.0.1 that refuses connections: a bound stream socket that does not listen,
// closed with the object.
struct RefusingPort {
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;  // 0 when it could not be bound
    RefusingPort() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(socket, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
    }
    ~RefusingPort() { close(socket); }
};

// Checks that `handle` talks to an EchoServer.
void expectConversation(int handle, bool datagram) {
    char reply[16] = "";
    if (datagram) {
        EXPECT_TRUE(solvan_write(handle, "ping", 4));
        EXPECT_EQ(solvan_read(handle, reply, 4), 4);
        EXPECT_STREQ(reply, "pong");
    } else {
        EXPECT_EQ(solvan_read_line(handle, reply, 15), 5);
        EXPECT_STREQ(reply, "hello");
    }
}

TEST(Network, DeviceAddressesChooseProtocolAndPort) {
    const struct {
        const char* prefix;  // the port follows after ":" unless `bare` (then it is the default)
        bool bare, datagram;
        int protocolIn, protocolOut;  // *protocol before and after the call
        const char* suffix = "";      // after the port, which ends at its first non-digit
    } cases[] = {
        {"tcp://127.0.0.1", false, false, 1, 0},
        {"udp://127.0.0.1", false, true, 0, 1},
        {"tcp://127.0.0.1", true, false, 1, 0},
        {"udp://127.0.0.1", true, true, 0, 1},
        {"indi://127.0.0.1", false, false, 0, 0},
        {"indi://127.0.0.1", false, true, 1, 1},
        {"tcp://127.0.0.1", false, false, 1, 0, "/"},
        {"udp://127.0.0.1", false, true, 0, 1, "x/device?y=1"},
        // The name ends at "/" as at ":": a path without a port leaves the default port.
        {"tcp://127.0.0.1", true, false, 1, 0, "/"},
        {"udp://127.0.0.1", true, true, 0, 1, "/device:7624"},
        {"indi://127.0.0.1", true, false, 0, 0, "/"},
    };
    for (const auto& c : cases) {
        EchoServer server("127.0.0.1", c.datagram);
        const std::string address =
            c.prefix + (c.bare ? "" : ":" + std::to_string(server.port())) + c.suffix;
        SCOPED_TRACE(address);
        int protocol = c.protocolIn;
        const int handle =
            solvan_open_network_device(address.c_str(), c.bare ? server.port() : 1, &protocol);
        ASSERT_GE(handle, 0);
        EXPECT_EQ(protocol, c.protocolOut);
        expectConversation(handle, c.datagram);
        close(handle);
    }
}

TEST(Network, IPv6AddressesConnectThroughTheirOwnFamily) {
    for (bool datagram : {false, true}) {
        EchoServer server("::1", datagram);
        if (!server.ok()) GTEST_SKIP() << "no ::1 on this machine";
        const int handle = datagram ? solvan_open_udp("::1", server.port())
                                    : solvan_open_tcp("::1", server.port());
        ASSERT_GE(handle, 0) << strerror(errno);
        expectConversation(handle, datagram);
        close(handle);
    }
}

TEST(Network, RefusedConnectionGivesErrorLine) {
    const RefusingPort refusing;
    ASSERT_NE(refusing.port, 0);
    CapturedLog log(SOLVAN_LOG_ERROR);
    EXPECT_EQ(solvan_open_tcp("127.0.0.1", refusing.port), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Can't connect socket (Connection refused)"});
}

TEST(Network, MalformedAddressesAndPortsFailWithEinval) {
    const std::string longName = "tcp://" + std::string(128, 'h') + ":7624";
    for (const char* address :
         {"127.0.0.1:7624", "tcp:/127.0.0.1:7624", "tcp://", "tcp://:7624", "tcp://127.0.0.1:0",
          "tcp://127.0.0.1:65536", "tcp://127.0.0.1:-1", "tcp://127.0.0.1:+80",
          "tcp://127.0.0.1:/80", "tcp://127.0.0.1:", "tcp://127.0.0.1: 80", "tcp://h:99999999999",
          "tcp://127.0.0.1:65536/", "tcp://h:00000000000000000000000/", longName.c_str(), ""}) {
        int protocol = 0;
        errno = 0;
        EXPECT_EQ(solvan_open_network_device(address, 7624, &protocol), -1) << address;
        EXPECT_EQ(errno, EINVAL) << address;
    }
    for (int protocol : {2, -1}) {  // neither TCP (0) nor UDP (1)
        errno = 0;
        EXPECT_EQ(solvan_open_network_device("indi://127.0.0.1:80", 7624, &protocol), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    for (int port : {0, -5, 65536}) {
        errno = 0;
        EXPECT_EQ(solvan_open_tcp("127.0.0.1", port), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    int protocol = 0;
    EXPECT_EQ(solvan_open_network_device(nullptr, 7624, &protocol), -1);
    EXPECT_EQ(solvan_open_network_device("tcp://127.0.0.1:80", 7624, nullptr), -1);
    EXPECT_EQ(solvan_open_client_socket("127.0.0.1", 80, 3), -1);
    EXPECT_EQ(solvan_open_tcp(nullptr, 80), -1);
}

TEST(Network, EveryFailedOpenSaysWhy) {
    const RefusingPort port;
    ASSERT_NE(port.port, 0);
    const int refusing = port.port;
    const std::pair<std::string, int> cases[] = {
        {"tcp://127.0.0.1/", ECONNREFUSED},
        {"tcp://127.0.0.1:" + std::to_string(refusing) + "/", ECONNREFUSED},
        {"tcp:///", EINVAL},
        {"tcp://127.0.0.1:/", EINVAL},
        // Malformed names (an empty label, one over 63 characters) are refused by the resolver
        // itself, without asking a name server.
        {"tcp://name..example/", ENXIO},
        {"udp://" + std::string(64, 'h') + ".example", ENXIO},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(text);
        CapturedLog log(SOLVAN_LOG_ERROR);
        int protocol = 0;
        errno = 0;
        EXPECT_EQ(solvan_open_network_device(text.c_str(), refusing, &protocol), -1);
        EXPECT_EQ(errno, error) << strerror(errno);
    }
    errno = 0;
    EXPECT_EQ(solvan_open_tcp("name..example", 80), -1);
    EXPECT_EQ(errno, ENXIO);
}

TEST(Network, DeviceUrlTest) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"tcp://host", nullptr, true},   {"udp://host:1", nullptr, true},
        {"indi://host", nullptr, false}, {"indi://host", "indi", true},
        {"indi:/host", "indi", false},   {"tcp://host", "indi", true},
        {"TCP://host", nullptr, false},  {"", "", false},
        {"://host", "", true},           {nullptr, "indi", false},
    };
    for (auto [text, prefix, expected] : cases)
        EXPECT_EQ(solvan_is_device_url(text, prefix), expected) << (text ? text : "(none)");
}

}  // namespace
