/*
** solvan_network: TCP and UDP client sockets from a server name or a device address.
**
** A server name resolves to any number of IPv4 and IPv6 addresses; each is tried in turn with
** a socket of its own family until one connects. Connected sockets time out reads and writes
** after 5 seconds, so a silent device cannot hang its driver.
*/
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "solvan_io.h"

#define SERVER_NAME_SIZE 128 /* a server name in an address holds at most 127 characters */

/* The errno that tells why getaddrinfo failed with `code`; `system` is errno after the call. */
static int resolution_error(int code, int system) {
    switch (code) {
        case EAI_AGAIN:
            return EAGAIN; /* the name server did not answer now */
        case EAI_MEMORY:
            return ENOMEM;
        case EAI_SYSTEM:
            return system != 0 ? system : EIO;
        default:
            return ENXIO; /* no such name, or none with an address of the family asked for */
    }
}

int solvan_open_client_socket(const char* server, int port, int type) {
    if (server == NULL || port < 1 || port > 65535 ||
        (type != SOLVAN_STREAM_SOCKET && type != SOLVAN_DATAGRAM_SOCKET)) {
        errno = EINVAL;
        return -1;
    }
    /* Resolving with the port as a numeric service has every address carry the port where its
       own family keeps it; asking for one socket type lists each address once. */
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type == SOLVAN_STREAM_SOCKET ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    char service[8];
    snprintf(service, sizeof service, "%d", port);
    struct addrinfo* addresses = NULL;
    int resolved = getaddrinfo(server, service, &hints, &addresses);
    if (resolved != 0) {
        errno = resolution_error(resolved, errno);
        return -1;
    }
    int result = -1;
    int error = 0;
    for (struct addrinfo* address = addresses; address != NULL; address = address->ai_next) {
        int handle = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        /* A kernel without IPv6 still reaches the name's IPv4 addresses. */
        if (handle < 0) {
            error = errno;
            if (error == EAFNOSUPPORT) continue;
            break;
        }
        if (connect(handle, address->ai_addr, address->ai_addrlen) == 0) {
            struct timeval timeout = {5, 0};
            setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
            result = handle;
            break;
        }
        error = errno;
        char text[256];
        if (strerror_r(error, text, sizeof text) != 0) snprintf(text, sizeof text, "%d", error);
        solvan_error("Can't connect socket (%s)", text);
        close(handle);
    }
    freeaddrinfo(addresses);
    if (result < 0) errno = error != 0 ? error : EADDRNOTAVAIL;
    return result;
}

int solvan_open_tcp(const char* server, int port) {
    return solvan_open_client_socket(server, port, SOLVAN_STREAM_SOCKET);
}

int solvan_open_udp(const char* server, int port) {
    return solvan_open_client_socket(server, port, SOLVAN_DATAGRAM_SOCKET);
}

bool solvan_is_device_url(const char* text, const char* prefix) {
    if (text == NULL) return false;
    if (strncmp(text, "tcp://", 6) == 0 || strncmp(text, "udp://", 6) == 0) return true;
    if (prefix == NULL) return false;
    size_t length = strlen(prefix);
    return strncmp(text, prefix, length) == 0 && strncmp(text + length, "://", 3) == 0;
}

/* Reads the port from the decimal digits at the start of `text`, up to the first other
** character (so "7624/" gives 7624). Returns false when there are no digits or the number is
** not 1..65535; *port is then untouched. */
static bool parse_port(const char* text, int* port) {
    long value = 0;
    const char* digit = text;
    for (; *digit >= '0' && *digit <= '9'; digit++)
        if (value <= 65535) value = value * 10 + (*digit - '0'); /* stops growing once too large */
    if (digit == text || value < 1 || value > 65535) return false;
    *port = (int)value;
    return true;
}

int solvan_open_network_device(const char* address, int default_port, int* protocol) {
    solvan_debug("Trying to open TCP or UDP...");
    if (address == NULL || protocol == NULL) {
        errno = EINVAL;
        return -1;
    }
    const char* separator = strstr(address, "://");
    if (separator == NULL) {
        errno = EINVAL;
        return -1;
    }
    if (strncmp(address, "tcp://", 6) == 0)
        *protocol = 0;
    else if (strncmp(address, "udp://", 6) == 0)
        *protocol = 1;
    const char* rest = separator + 3;
    /* The name ends where a port or a path begins: "tcp://host/" is the host at the default
       port. */
    size_t length = strcspn(rest, ":/");
    char server[SERVER_NAME_SIZE];
    int port = default_port;
    /* A cut name would reach some other host. */
    if (length == 0 || length >= sizeof server ||
        (rest[length] == ':' && !parse_port(rest + length + 1, &port))) {
        errno = EINVAL;
        return -1;
    }
    memcpy(server, rest, length);
    server[length] = '\0';
    solvan_debug("Trying to open: '%s', port = %d, protocol = %d", server, port, *protocol);
    if (*protocol == 0) return solvan_open_tcp(server, port);
    if (*protocol == 1) return solvan_open_udp(server, port);
    errno = EINVAL;
    return -1;
}
