// Fuzz target: the reply reader of the BLOB fetch (solvan_populate_http_blob_item). A server on
// 127.0.0.1 started by this program answers each fetch with the input's bytes and closes.
#include "SolvanFuzzSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string.h>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

int listener = -1;  // the server's socket, bound once to a free loopback port
int port = 0;       // its port

// Serves one connection: reads the request head, sends the reply, closes.
void serveOnce(const uint8_t* reply, size_t size) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, 2000) != 1) return;  // the client gave up before connecting
    const int peer = accept(listener, nullptr, nullptr);
    if (peer < 0) return;
    char head[4096];
    size_t got = 0;
    while (got < sizeof head) {
        pollfd in{peer, POLLIN, 0};
        if (poll(&in, 1, 2000) != 1) break;
        const ssize_t n = recv(peer, head + got, sizeof head - got, 0);
        if (n <= 0) break;
        got += size_t(n);
        if (memmem(head, got, "\r\n\r\n", 4)) break;
    }
    for (size_t sent = 0; sent < size;) {
        const ssize_t n = send(peer, reply + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
    }
    shutdown(peer, SHUT_RDWR);
    close(peer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quietSolvanLog();
    solvan_http_blob_timeout = 1;  // the reply is complete when the server closes
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        std::abort();
    port = ntohs(address.sin_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::thread server(serveOnce, data, size);
    solvan_item item;
    solvan_init_blob_item(&item, "IMAGE", nullptr);
    std::snprintf(item.blob.url, sizeof item.blob.url, "http://127.0.0.1:%d/frame.fits", port);
    solvan_populate_http_blob_item(&item);
    server.join();
    std::free(item.blob.value);
    return 0;
}
