// A TCP or UDP server on a loopback address and an ephemeral port, run by a test: its session
// runs on a thread of its own with the accepted connection (TCP) or the bound socket (UDP).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

class TestServer {
  public:
    // `host` is "127.0.0.1" or "::1"; `type` SOCK_STREAM or SOCK_DGRAM.
    TestServer(const char* host, int type, std::function<void(int)> session)
        : session_(std::move(session)) {
        const bool v6 = std::strchr(host, ':') != nullptr;
        sockaddr_storage address{};
        socklen_t size = 0;
        if (v6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&address);
            a->sin6_family = AF_INET6;
            inet_pton(AF_INET6, host, &a->sin6_addr);
            size = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&address);
            a->sin_family = AF_INET;
            inet_pton(AF_INET, host, &a->sin_addr);
            size = sizeof *a;
        }
        socket_ = socket(v6 ? AF_INET6 : AF_INET, type, 0);
        if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            (type == SOCK_STREAM && listen(socket_, 4) != 0) ||
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        timeval timeout{5, 0};  // a session never waits longer for a client
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                         : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        thread_ = std::thread([this, type] {
            if (type == SOCK_DGRAM) return session_(socket_);
            pollfd p{socket_, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1) return;  // no client came
            const int connection = accept(socket_, nullptr, nullptr);
            if (connection < 0) return;
            session_(connection);
            close(connection);
        });
    }
    ~TestServer() {
        if (thread_.joinable()) thread_.join();
        if (socket_ >= 0) close(socket_);
    }

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }

    // Sends `text` whole on a connection.
    static void send(int connection, const std::string& text) {
        ::send(connection, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // Everything a connection delivers until the peer closes it.
    static std::string receiveAll(int connection) {
        std::string text;
        char chunk[65536];
        ssize_t n;
        while ((n = recv(connection, chunk, sizeof chunk, 0)) > 0)
            text.append(chunk, static_cast<size_t>(n));
        return text;
    }

  private:
    std::function<void(int)> session_;
    int socket_ = -1;
    int port_ = 0;
    std::thread thread_;
};
