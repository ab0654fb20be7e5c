/*
** solvan_io: reading and writing whole buffers, lines and formatted text on a handle.
**
** A handle is any file descriptor: a serial port, a socket, a pipe. Short reads and writes are
** retried, interrupted calls too. Trace lines show every line that passes: "3 → text" for what
** was read from handle 3, "3 ← text" for what was written to it.
*/
#define _GNU_SOURCE /* MSG_NOSIGNAL */

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "solvan_io.h"

#define FORMATTED_MAXIMUM (SOLVAN_LARGE_BUFFER_SIZE - 1) /* characters of formatted I/O */

/* Logs the error line "routine(): <system error text>" for the current errno. */
static void log_system_error(const char* routine) {
    int error = errno;
    char text[256];
    /* The GNU strerror_r may return a static text instead of filling the buffer. */
    const char* message = strerror_r(error, text, sizeof text);
    solvan_error("%s(): %s", routine, message);
    errno = error;
}

long solvan_read(int handle, void* buffer, long length) {
    if (length < 0 || (length > 0 && buffer == NULL)) {
        errno = EINVAL;
        return -1;
    }
    long total = 0;
    while (total < length) {
        ssize_t count = read(handle, (char*)buffer + total, (size_t)(length - total));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            log_system_error("solvan_read");
            return -1;
        }
        if (count == 0) return 0;
        total += count;
    }
    return length;
}

/* Reads one line as solvan_read_line does, without its trace line. */
static int read_line(int handle, char* buffer, int maximum) {
    int stored = 0;
    for (;;) {
        char byte;
        ssize_t count = read(handle, &byte, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            buffer[stored] = '\0';
            errno = ECONNRESET;
            return -1;
        }
        if (byte == '\n') break;
        if (byte != '\r' && stored < maximum) buffer[stored++] = byte;
    }
    buffer[stored] = '\0';
    return stored;
}

int solvan_read_line(int handle, char* buffer, int maximum) {
    if (buffer == NULL || maximum < 0) {
        errno = EINVAL;
        return -1;
    }
    int stored = read_line(handle, buffer, maximum);
    if (stored < 0) {
        solvan_trace("%d → Connection reset", handle);
        errno = ECONNRESET;
        return -1;
    }
    solvan_trace("%d → %s", handle, buffer);
    return stored;
}

bool solvan_write(int handle, const void* buffer, long length) {
    if (length < 0 || (length > 0 && buffer == NULL)) {
        errno = EINVAL;
        return false;
    }
    /* send() with MSG_NOSIGNAL: a peer that hung up gives EPIPE instead of a SIGPIPE that
       would end the program. Handles that are no sockets take write(). */
    bool is_socket = true;
    long total = 0;
    while (total < length) {
        const char* start = (const char*)buffer + total;
        size_t rest = (size_t)(length - total);
        ssize_t count =
            is_socket ? send(handle, start, rest, MSG_NOSIGNAL) : write(handle, start, rest);
        if (count < 0 && is_socket && errno == ENOTSOCK) {
            is_socket = false;
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            log_system_error("solvan_write");
            return false;
        }
        total += count;
    }
    return true;
}

bool solvan_printf(int handle, const char* format, ...) {
    if (format == NULL) {
        errno = EINVAL;
        return false;
    }
    if (strchr(format, '%') == NULL) {
        solvan_trace("%d ← %s", handle, format);
        return solvan_write(handle, format, (long)strlen(format));
    }
    char* buffer = solvan_alloc_large_buffer();
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, SOLVAN_LARGE_BUFFER_SIZE, format, args);
    va_end(args);
    bool written = false;
    if (length < 0) {
        log_system_error("solvan_printf");
    } else {
        if (length > FORMATTED_MAXIMUM) length = FORMATTED_MAXIMUM;
        solvan_trace("%d ← %s", handle, buffer);
        written = solvan_write(handle, buffer, length);
    }
    solvan_free_large_buffer(buffer);
    return written;
}

int solvan_scanf(int handle, const char* format, ...) {
    if (format == NULL) {
        errno = EINVAL;
        return 0;
    }
    char* buffer = solvan_alloc_large_buffer();
    int fields = 0;
    if (read_line(handle, buffer, FORMATTED_MAXIMUM) < 0) {
        solvan_trace("%d → Connection reset", handle);
        errno = ECONNRESET;
    } else {
        solvan_trace("%d → %s", handle, buffer);
        if (buffer[0] != '\0') {
            va_list args;
            va_start(args, format);
            fields = vsscanf(buffer, format, args);
            va_end(args);
        }
    }
    solvan_free_large_buffer(buffer);
    return fields;
}
