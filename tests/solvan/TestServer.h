// A TCP or UDP server on a loopback address, run by a test on a thread of its own: each TCP
// connection in turn (or the bound UDP socket, once) goes to `session` until the server ends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

class TestServer {
  public:
    // `host` is "127.0.0.1" or "::1"; `type` SOCK_STREAM or SOCK_DGRAM; `port` 0: ephemeral.
    TestServer(const char* host, int type, std::function<void(int)> session, int port = 0)
        : session_(std::move(session)) {
        const bool v6 = std::strchr(host, ':') != nullptr;
        sockaddr_storage address{};
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        address.ss_family = v6 ? AF_INET6 : AF_INET;
        inet_pton(address.ss_family, host, v6 ? (void*)&a6->sin6_addr : (void*)&a4->sin_addr);
        (v6 ? a6->sin6_port : a4->sin_port) = htons(uint16_t(port));
        socklen_t size = v6 ? sizeof *a6 : sizeof *a4;
        socket_ = socket(address.ss_family, type, 0);
        const int yes = 1;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            (type == SOCK_STREAM && listen(socket_, 4) != 0) ||
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        timeval timeout{5, 0};  // no wait for a client lasts longer (connections inherit it)
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        port_ = ntohs(v6 ? a6->sin6_port : a4->sin_port);
        thread_ = std::thread([this, type] {
            if (type == SOCK_DGRAM) return session_(socket_);
            // Pending connections are served before the server ends.
            for (pollfd p{socket_, POLLIN, 0}; poll(&p, 1, 20) == 1 || !stopping_;) {
                const int connection = p.revents ? accept(socket_, nullptr, nullptr) : -1;
                if (connection < 0) continue;
                connections_++;
                session_(connection);
                close(connection);
            }
        });
    }
    ~TestServer() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        if (socket_ >= 0) close(socket_);
    }

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    int connections() const { return connections_; }  // TCP connections accepted so far

    // Sends `text` whole on a connection.
    static void send(int connection, const std::string& text) {
        ::send(connection, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // What a connection delivers until the peer closes it, or up to the first `end` if given.
    static std::string receive(int connection, const char* end = nullptr) {
        std::string text;
        char chunk[65536];
        for (ssize_t n; (!end || text.find(end) == std::string::npos) &&
                        (n = recv(connection, chunk, sizeof chunk, 0)) > 0;)
            text.append(chunk, size_t(n));
        return text;
    }

  private:
    std::function<void(int)> session_;
    int socket_ = -1;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
