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

// Server sessions: a TCP greeting, and a UDP reply to the first datagram.
void greet(int connection) {
    TestServer::send(connection, "hello\r\n");
}
void answerDatagram(int socket) {
    char datagram[64];
    sockaddr_storage from{};
    socklen_t size = sizeof from;
    const ssize_t n =
        recvfrom(socket, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (n == 4 && std::string(datagram, 4) == "ping")
        sendto(socket, "pong", 4, 0, reinterpret_cast<sockaddr*>(&from), size);
}

// Checks that `handle` talks to a greet (TCP) or answerDatagram (UDP) session.
void expectConversation(int handle, bool datagram) {
    if (datagram) {
        EXPECT_TRUE(solvan_write(handle, "ping", 4));
        char reply[4];
        ASSERT_EQ(solvan_read(handle, reply, 4), 4);
        EXPECT_EQ(std::string(reply, 4), "pong");
    } else {
        char line[16];
        EXPECT_EQ(solvan_read_line(handle, line, 15), 5);
        EXPECT_STREQ(line, "hello");
    }
}

struct AddressCase {
    const char* prefix;  // address before the port; the port follows after ":" unless `bare`
    bool bare;           // no port in the address: the default port is the server's
    bool datagram;       // server type
    int protocolIn;      // *protocol before the call
    int protocolOut;     // *protocol after it
};

TEST(Network, DeviceAddressesChooseProtocolAndPort) {
    const AddressCase cases[] = {
        {"tcp://127.0.0.1", false, false, 1, 0},  {"udp://127.0.0.1", false, true, 0, 1},
        {"tcp://127.0.0.1", true, false, 1, 0},   {"udp://127.0.0.1", true, true, 0, 1},
        {"indi://127.0.0.1", false, false, 0, 0}, {"indi://127.0.0.1", false, true, 1, 1},
    };
    for (const AddressCase& c : cases) {
        TestServer server("127.0.0.1", c.datagram ? SOCK_DGRAM : SOCK_STREAM,
                          c.datagram ? answerDatagram : greet);
        ASSERT_TRUE(server.ok());
        const std::string address =
            std::string(c.prefix) + (c.bare ? "" : ":" + std::to_string(server.port()));
        SCOPED_TRACE(address);
        CapturedLog log(SOLVAN_LOG_DEBUG);
        int protocol = c.protocolIn;
        const int handle =
            solvan_open_network_device(address.c_str(), c.bare ? server.port() : 1, &protocol);
        ASSERT_GE(handle, 0);
        EXPECT_EQ(protocol, c.protocolOut);
        EXPECT_TRUE(log.has("Trying to open TCP or UDP..."));
        EXPECT_TRUE(log.has("Trying to open: '127.0.0.1', port = " + std::to_string(server.port()) +
                            ", protocol = " + std::to_string(c.protocolOut)));
        expectConversation(handle, c.datagram);
        close(handle);
    }
}

TEST(Network, IPv6AddressesConnectThroughTheirOwnFamily) {
    for (bool datagram : {false, true}) {
        TestServer server("::1", datagram ? SOCK_DGRAM : SOCK_STREAM,
                          datagram ? answerDatagram : greet);
        if (!server.ok()) GTEST_SKIP() << "no ::1 on this machine";
        const int handle = datagram ? solvan_open_udp("::1", server.port())
                                    : solvan_open_tcp("::1", server.port());
        ASSERT_GE(handle, 0) << strerror(errno);
        expectConversation(handle, datagram);
        timeval timeout{};
        socklen_t size = sizeof timeout;
        getsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &timeout, &size);
        EXPECT_EQ(timeout.tv_sec, 5);
        close(handle);
    }
}

TEST(Network, RefusedConnectionGivesErrorLine) {
    // A bound stream socket that does not listen refuses connections.
    const int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), size), 0);
    getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size);
    CapturedLog log(SOLVAN_LOG_ERROR);
    EXPECT_EQ(solvan_open_tcp("127.0.0.1", ntohs(address.sin_port)), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Can't connect socket (Connection refused)"});
    close(taken);
}

TEST(Network, MalformedAddressesFailWithoutConnecting) {
    const std::string longName = "tcp://" + std::string(128, 'h') + ":7624";
    // The last two have a well-formed address but a protocol other than TCP (0) or UDP (1).
    const std::pair<const char*, int> cases[] = {
        {"127.0.0.1:7624", 0},
        {"tcp:/127.0.0.1:7624", 0},
        {"tcp://", 0},
        {"tcp://:7624", 0},
        {"tcp://127.0.0.1:0", 0},
        {"tcp://127.0.0.1:65536", 0},
        {"tcp://127.0.0.1:-1", 0},
        {"tcp://127.0.0.1:+80", 0},
        {"tcp://127.0.0.1:76x", 0},
        {"tcp://127.0.0.1:", 0},
        {"tcp://127.0.0.1: 80", 0},
        {"tcp://h:99999999999", 0},
        {longName.c_str(), 0},
        {"", 0},
        {"indi://127.0.0.1:80", 2},
        {"indi://127.0.0.1:80", -1},
    };
    for (auto [address, protocolIn] : cases) {
        int protocol = protocolIn;
        errno = 0;
        EXPECT_EQ(solvan_open_network_device(address, 7624, &protocol), -1) << address;
        EXPECT_EQ(errno, EINVAL) << address;
    }
    int protocol = 0;
    EXPECT_EQ(solvan_open_network_device(nullptr, 7624, &protocol), -1);
    EXPECT_EQ(solvan_open_network_device("tcp://127.0.0.1:80", 7624, nullptr), -1);
    for (int port : {0, -5, 65536}) {
        errno = 0;
        EXPECT_EQ(solvan_open_tcp("127.0.0.1", port), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(solvan_open_client_socket("127.0.0.1", 80, 3), -1);
    EXPECT_EQ(solvan_open_tcp(nullptr, 80), -1);
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
