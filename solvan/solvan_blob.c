/*
** solvan_blob: BLOB payloads. The table of buffered payloads that the bus fills when
** solvan_use_blob_buffering is set, the sizing of BLOB buffers, and the fetch of an image
** payload over HTTP.
**
** Lock order: the bus mutex, then the table mutex, then an entry's mutex.
*/
#define _POSIX_C_SOURCE 200809L

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "solvan_bus_private.h"
#include "solvan_io.h"

/* ---- The buffered table. */

static solvan_blob_entry* blob_table[SOLVAN_MAX_BLOB_ENTRIES]; /* guarded by table_mutex */
static pthread_mutex_t table_mutex = PTHREAD_MUTEX_INITIALIZER;

/* Returns the slot index of the entry of `item`, or -1; the caller holds table_mutex. */
static int find_slot(const solvan_item* item) {
    for (int i = 0; i < SOLVAN_MAX_BLOB_ENTRIES; i++)
        if (blob_table[i] != NULL && blob_table[i]->item == item) return i;
    return -1;
}

/* Destroys the entry in `slot`; the caller holds table_mutex. */
static void destroy_slot(int slot) {
    solvan_blob_entry* entry = blob_table[slot];
    pthread_mutex_lock(&entry->mutex);
    blob_table[slot] = NULL;
    free(entry->data);
    entry->data = NULL;
    pthread_mutex_unlock(&entry->mutex);
    pthread_mutex_destroy(&entry->mutex);
    free(entry);
}

solvan_blob_entry* solvan_find_blob_entry(const solvan_item* item) {
    /* Locked, unlike a bare scan: updates on other threads change the slots. */
    pthread_mutex_lock(&table_mutex);
    int slot = find_slot(item);
    solvan_blob_entry* entry = slot >= 0 ? blob_table[slot] : NULL;
    pthread_mutex_unlock(&table_mutex);
    return entry;
}

void solvan_blob_table_reset(void) {
    pthread_mutex_lock(&table_mutex);
    for (int i = 0; i < SOLVAN_MAX_BLOB_ENTRIES; i++)
        if (blob_table[i] != NULL) destroy_slot(i);
    pthread_mutex_unlock(&table_mutex);
}

void solvan_blob_table_forget(const solvan_property* property) {
    pthread_mutex_lock(&table_mutex);
    for (int32_t i = 0; i < property->count; i++) {
        int slot = find_slot(&property->items[i]);
        if (slot >= 0) destroy_slot(slot);
    }
    pthread_mutex_unlock(&table_mutex);
}

solvan_result solvan_blob_table_store(const solvan_property* property) {
    pthread_mutex_lock(&table_mutex);
    for (int32_t i = 0; i < property->count; i++) {
        const solvan_item* item = &property->items[i];
        int slot = find_slot(item);
        if (slot < 0) {
            for (int j = 0; j < SOLVAN_MAX_BLOB_ENTRIES && slot < 0; j++)
                if (blob_table[j] == NULL) slot = j;
            if (slot < 0) {
                pthread_mutex_unlock(&table_mutex);
                return SOLVAN_TOO_MANY;
            }
            solvan_blob_entry* entry = solvan_safe_malloc(sizeof *entry);
            entry->item = item;
            pthread_mutex_init(&entry->mutex, NULL);
            blob_table[slot] = entry;
        }
        solvan_blob_entry* entry = blob_table[slot];
        pthread_mutex_lock(&entry->mutex);
        /* A size without a payload (or a negative one) buffers nothing rather than reading
           from nowhere. */
        if (item->blob.size > 0 && item->blob.value != NULL) {
            entry->size = item->blob.size;
            entry->data = solvan_safe_realloc(entry->data, (size_t)item->blob.size);
            memcpy(entry->data, item->blob.value, (size_t)item->blob.size);
            solvan_copy_field(entry->format, sizeof entry->format, item->blob.format);
        } else {
            free(entry->data);
            entry->data = NULL;
            entry->size = 0;
        }
        pthread_mutex_unlock(&entry->mutex);
    }
    pthread_mutex_unlock(&table_mutex);
    return SOLVAN_OK;
}

/* ---- The HTTP fetch. */

double solvan_http_blob_timeout = 15.0;

#define FETCH "solvan_populate_http_blob_item" /* routine name of the fetch's log lines */
#define STATUS_WAIT 5.0                        /* longest wait for the status line, seconds */
#define LINE_SIZE 1024                         /* longest status or header line, characters */

static void set_receive_timeout(int handle, double seconds) {
    if (!(seconds > 0)) seconds = 0.001; /* 0 would mean "wait for ever" */
    struct timeval wait;
    wait.tv_sec = (time_t)seconds;
    wait.tv_usec = (suseconds_t)((seconds - (double)wait.tv_sec) * 1e6);
    setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

/* Splits "http://server[:port][/path]" into its parts. Returns false for another form, an
** empty server name, one over 255 or a path over 256 characters, a port that is not 1 to 65535,
** or control characters, which would end the request line early. */
static bool parse_url(const char* url, char server[256], int* port, char path[257]) {
    static const char prefix[] = "http://";
    if (strncmp(url, prefix, sizeof prefix - 1) != 0) return false;
    const char* at = url + sizeof prefix - 1;
    size_t length = strcspn(at, ":/");
    if (length == 0 || length > 255) return false;
    memcpy(server, at, length);
    server[length] = '\0';
    at += length;
    *port = 80;
    if (*at == ':') {
        at++;
        size_t digits = strspn(at, "0123456789");
        if (digits == 0 || digits > 5) return false;
        *port = atoi(at);
        if (*port < 1 || *port > 65535) return false;
        at += digits;
    }
    path[0] = '\0';
    if (*at == '/')
        at++;
    else if (*at != '\0')
        return false;
    if (strlen(at) > 256) return false;
    strcpy(path, at);
    for (const unsigned char* c = (const unsigned char*)url; *c; c++)
        if (*c < 0x20 || *c == 0x7F) return false;
    return true;
}

/* Reads the number of the header `name` (compared without regard to case) from `line` into
** `value`. Returns false when the line is another header or holds no number. */
static bool header_number(const char* line, const char* name, int64_t* value) {
    size_t length = strlen(name);
    if (strncasecmp(line, name, length) != 0) return false;
    return sscanf(line + length, "%20" SCNd64, value) == 1;
}

/* The exchange after the connection is open; see solvan_populate_http_blob_item. */
static bool fetch(int handle, solvan_item* item, const char* path) {
    char line[LINE_SIZE + 1], response[256];
    char* request = solvan_safe_malloc(strlen(path) + 64);
    sprintf(request, "GET /%s HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n", path);
    bool sent = solvan_write(handle, request, (long)strlen(request));
    free(request);
    if (!sent) return false;

    set_receive_timeout(
        handle, solvan_http_blob_timeout < STATUS_WAIT ? solvan_http_blob_timeout : STATUS_WAIT);
    int status = 0;
    line[0] = '\0';
    if (solvan_read_line(handle, line, LINE_SIZE) < 0 ||
        sscanf(line, "HTTP/1.1 %d %255[^\n]", &status, response) != 2 || status != 200) {
        solvan_debug("%s(): http_line = \"%s\"", FETCH, line);
        return false;
    }
    solvan_debug("%s(): http_result = %d, response = \"%s\"", FETCH, status, response);
    set_receive_timeout(handle, solvan_http_blob_timeout);

    bool gzip = false;
    int64_t content_length = 0, uncompressed_length = 0;
    for (;;) {
        int read = solvan_read_line(handle, line, LINE_SIZE);
        if (read < 0) return false;
        if (read == 0) break;
        solvan_debug("%s(): http_line = \"%s\"", FETCH, line);
        if (strncasecmp(line, "Content-Encoding: gzip", 22) == 0)
            gzip = true;
        else if (!header_number(line, "Content-Length:", &content_length))
            header_number(line, "X-Uncompressed-Content-Length:", &uncompressed_length);
    }
    solvan_debug("%s(): content_len = %ld", FETCH, (long)content_length);
    if (content_length <= 0 || content_length > SOLVAN_HTTP_BLOB_MAX_SIZE) return false;
    /* Refused before anything is allocated: an inflated size the body cannot be checked by. */
    if (gzip && (uncompressed_length <= 0 || uncompressed_length > SOLVAN_HTTP_BLOB_MAX_SIZE))
        return false;

    const char* dot = strrchr(path, '.');
    if (dot != NULL) solvan_copy_field(item->blob.format, sizeof item->blob.format, dot);

    if (!gzip) {
        item->blob.size = content_length;
        item->blob.value = solvan_safe_realloc(item->blob.value, (size_t)content_length);
        return solvan_read(handle, item->blob.value, (long)content_length) == content_length;
    }
    item->blob.size = uncompressed_length;
    item->blob.value = solvan_safe_realloc(item->blob.value, (size_t)uncompressed_length);
    void* packed = solvan_safe_malloc((size_t)content_length);
    bool ok = solvan_read(handle, packed, (long)content_length) == content_length;
    if (ok) {
        size_t produced = (size_t)uncompressed_length;
        ok = solvan_decompress(packed, (size_t)content_length, item->blob.value, &produced) == 0 &&
             produced == (size_t)uncompressed_length;
    }
    free(packed);
    return ok;
}

bool solvan_populate_http_blob_item(solvan_item* item) {
    BUS_ASSERT(item != NULL);
    char server[256], path[257];
    int port = 80, handle = -1;
    bool ok = item->blob.url[0] != '\0' && strcmp(item->name, "IMAGE") == 0;
    if (!ok)
        solvan_debug("%s(): url == \"\" or item != \"%s\"", FETCH, "IMAGE");
    else
        ok = parse_url(item->blob.url, server, &port, path);
    if (ok) {
        handle = solvan_open_tcp(server, port);
        ok = handle >= 0 && fetch(handle, item, path);
    }
    solvan_debug("%s() -> %s", FETCH, ok ? "OK" : "Failed");
    if (handle >= 0) {
        shutdown(handle, SHUT_RDWR);
        close(handle);
    }
    return ok;
}
