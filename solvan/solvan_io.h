/*
** solvan_io: device I/O and gzip buffers.
**
** Opening serial ports from a compact mode text ("9600-8N1"), opening TCP and UDP client
** sockets from a server name or a "tcp://" / "udp://" address, reading and writing whole
** buffers, lines and formatted text on any open handle (a file descriptor), and gzip
** compression and decompression of memory buffers.
**
** The routines keep no state and may run on any thread; two threads sharing one handle must
** coordinate themselves. Formatted I/O borrows a 128 KB work buffer from the pool of
** solvan_alloc_large_buffer (solvan_bus.h).
**
** Plain C11, usable from C++.
*/
#ifndef SOLVAN_IO_H
#define SOLVAN_IO_H

#include <stdbool.h>
#include <stddef.h>

#include "solvan_bus.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Serial ports. */

/* Opens the serial port at `path` with mode "9600-8N1". Returns the handle, or -1 with errno
** set when the port cannot be opened or configured. */
int solvan_open_serial(const char* path);

/* Opens the serial port at `path` at `speed` bits per second, 8 data bits, no parity, 1 stop
** bit. Returns the handle, or -1 with errno set (EINVAL for a speed outside the table of
** solvan_open_serial_with_config). */
int solvan_open_serial_with_speed(const char* path, int speed);

/* Opens the serial port at `path` read-write (O_NOCTTY, O_SYNC) and configures it from `mode`:
** speed, "-", data bits "5".."8", parity "N"/"E"/"O" (either case), stop bits "1"/"2", for
** example "115200-7E2". Speeds: 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800,
** 9600, 19200, 38400, 57600, 115200, 230400. Raw mode, reads wait at most 5 seconds (VMIN 0,
** VTIME 50). Returns the handle, or -1 with errno set: EINVAL for a malformed mode or a missing
** argument, else the error of open() or tcsetattr() (no handle stays open). */
int solvan_open_serial_with_config(const char* path, const char* mode);

/* ---- Sockets. */

/* Socket types of solvan_open_client_socket. */
enum {
    SOLVAN_STREAM_SOCKET = 1,  /* TCP */
    SOLVAN_DATAGRAM_SOCKET = 2 /* UDP */
};

/* Resolves `server` and connects a socket of `type` (SOLVAN_STREAM_SOCKET or
** SOLVAN_DATAGRAM_SOCKET) to `port` at each resolved address in turn (IPv4 and IPv6), logging
** "Can't connect socket (%s)" for each that fails. The connected socket has receive and send
** time-outs of 5 seconds. Returns the handle, or -1 with errno set: EINVAL for a missing name,
** a port outside 1..65535 or a bad type; ENXIO for a name that does not resolve (EAGAIN when
** the name server cannot answer now, ENOMEM when the resolver runs out of memory); the error of
** socket() for a socket that cannot be made; the error of the last connect when no address
** connects. */
int solvan_open_client_socket(const char* server, int port, int type);

/* solvan_open_client_socket with a stream socket: the handle or -1. */
int solvan_open_tcp(const char* server, int port);

/* solvan_open_client_socket with a datagram socket: the handle or -1. */
int solvan_open_udp(const char* server, int port);

/* Returns true when `text` begins with "tcp://" or "udp://", or, when `prefix` is given, with
** `prefix` followed by "://"; false for no text. */
bool solvan_is_device_url(const char* text, const char* prefix);

/* Opens the device at `address`: "tcp://name[:port]" or "udp://name[:port]" (which set
** *protocol to 0 or 1), or "scheme://name[:port]" with another scheme (which keeps *protocol).
** The name ends at the first ":" or "/"; without a port (no ":" after the name, as in
** "tcp://name" and "tcp://name/") `default_port` is used, and what follows a "/" is ignored.
** *protocol 0 opens a TCP, 1 a UDP connection. Returns the handle, or -1 with errno set:
** EINVAL for no address, no protocol, no "://", a protocol other than 0 or 1, an empty name, a
** name longer than 127 characters or a port whose leading digits (read up to the first other
** character: "tcp://name:7624/" uses 7624) are missing or not a number from 1 to 65535; else
** the errno of solvan_open_client_socket's failure. *protocol keeps what the scheme set. */
int solvan_open_network_device(const char* address, int default_port, int* protocol);

/* ---- Reading and writing any handle. */

/* Reads exactly `length` bytes into `buffer`, retrying short reads. Returns `length`; 0 when
** the stream ends first (the buffer then holds what arrived, which must not be used); -1 on a
** read error (logged as "solvan_read(): <error>") or a negative length (errno EINVAL). */
long solvan_read(int handle, void* buffer, long length);

/* Reads one line byte by byte into `buffer` (which holds `maximum` + 1 bytes): carriage
** returns are dropped, a line feed ends the line and is not stored, at most `maximum`
** characters are stored (the rest of a longer line is read and dropped, so every call takes
** one whole line), and a zero byte follows them. Returns the number of characters stored; -1 with
*errno ECONNRESET when
** the stream ends or fails before the line feed (the buffer then holds what arrived, zero-
** terminated). */
int solvan_read_line(int handle, char* buffer, int maximum);

/* Writes all `length` bytes of `buffer`, retrying short writes. Returns true, or false on a
** write error (logged as "solvan_write(): <error>") or a negative length. */
bool solvan_write(int handle, const void* buffer, long length);

/* Formats like printf (at most 131071 characters) and writes the text with solvan_write.
** Returns true, or false when the write fails. */
bool solvan_printf(int handle, const char* format, ...) SOLVAN_PRINTF(2, 3);

/* Reads one line (at most 131071 characters) as solvan_read_line does and scans it like
** sscanf. Returns what the scan returns: the number of fields converted (0 when nothing
** matched), or -1 when the line ends before the first conversion (a line of only blanks).
** Returns 0 for an empty line or a failed read (errno ECONNRESET). */
int solvan_scanf(int handle, const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(scanf, 2, 3)))
#endif
    ;

/* ---- Gzip buffers. */

/* Compresses `input_length` bytes of `input` into a gzip stream in `output`, whose header
** names the file `name` (none: no name). *output_length holds the capacity on entry and the
** bytes produced on return. Returns Z_OK (0) when the whole stream fitted; else a zlib error
** (*output_length then counts the bytes produced, which are no usable stream): Z_DATA_ERROR
** when the output was too small, Z_BUF_ERROR when a length does not fit 32 bits (nothing is
** produced), Z_STREAM_ERROR for a missing buffer. */
int solvan_compress(const char* name, const void* input, size_t input_length, void* output,
                    size_t* output_length);

/* Inflates the gzip stream of `input_length` bytes of `input` into `output`. *output_length
** holds the capacity on entry and the bytes produced on return. Returns Z_OK (0) only when the
** whole stream was inflated and its check value matched; else the zlib error: Z_BUF_ERROR for
** a stream cut short, an output too small or a length that does not fit 32 bits, Z_DATA_ERROR
** for a corrupt stream, Z_STREAM_ERROR for a missing buffer. */
int solvan_decompress(const void* input, size_t input_length, void* output, size_t* output_length);

#ifdef __cplusplus
}
#endif

#endif /* SOLVAN_IO_H */
