/*
** solvan_token: the device access-token list and its file.
**
** 256 slots map device names (at most 127 characters) to 64-bit tokens; an empty name marks a
** free slot. One plain mutex guards the slots and the master token; log lines are written
** after it is released, so a log hook may read the list.
*/
#define _POSIX_C_SOURCE 200809L

#include "solvan_token.h"

#include <ctype.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define TOKEN_SLOTS 256  /* devices the list can hold */
#define NAME_SIZE 128    /* bytes of a slot's name, zero byte included */
#define RECORD_SIZE 4096 /* bytes kept of a file line: longer records are skipped */
#define SCANNED_NAME 256 /* characters the record scan may take for a name */

typedef struct {
    char name[NAME_SIZE]; /* device name, zero-terminated; empty = free slot */
    uint64_t token;       /* the device's token */
} token_slot;

static pthread_mutex_t token_mutex = PTHREAD_MUTEX_INITIALIZER;
static token_slot slots[TOKEN_SLOTS]; /* the list; token_mutex */
static uint64_t master_token = 0;     /* unlocks every device; 0 = none; token_mutex */

/* Log lines print a token's low 32 bits. */
static unsigned low_bits(uint64_t token) {
    return (unsigned)(token & 0xffffffffu);
}

/* Returns the slot whose name equals `name`, or -1. A name longer than a slot keeps is never
** stored, so it is never found. Call with token_mutex held. */
static int find_slot(const char* name) {
    for (int i = 0; i < TOKEN_SLOTS; i++)
        if (slots[i].name[0] != '\0' && strncmp(slots[i].name, name, NAME_SIZE) == 0) return i;
    return -1;
}

uint64_t solvan_string_to_token(const char* text) {
    if (text == NULL) return 0;
    char* end = NULL;
    /* strtoull takes what "%llx" takes (blanks, a sign, "0x") and saturates instead of
       overflowing. */
    unsigned long long token = strtoull(text, &end, 16);
    return end == text ? 0 : (uint64_t)token;
}

/* Whether the file gives `name` back as it is: a cut name would answer for every name sharing
** its start; a line feed would be saved as a record line of its own; a device named "@" would
** load as the master token; the load skips white space before a name, cuts blanks and tabs
** after it and takes a carriage return before the line feed as part of the line end, and a
** line left empty is no record. */
static bool name_fits_file(const char* name) {
    size_t length = strnlen(name, NAME_SIZE);
    if (length == 0 || length >= NAME_SIZE) return false;
    char last = name[length - 1];
    return strchr(name, '\n') == NULL && strcmp(name, "@") != 0 &&
           !isspace((unsigned char)name[0]) && last != ' ' && last != '\t' && last != '\r';
}

bool solvan_add_device_token(const char* device, uint64_t token) {
    if (device == NULL || !name_fits_file(device)) return false;
    pthread_mutex_lock(&token_mutex);
    int slot = find_slot(device);
    for (int i = 0; slot < 0 && i < TOKEN_SLOTS; i++)
        if (slots[i].name[0] == '\0') slot = i;
    if (slot < 0) {
        pthread_mutex_unlock(&token_mutex);
        solvan_debug("ACL: No slots available.");
        return false;
    }
    slots[slot].token = token;
    memset(slots[slot].name, 0, NAME_SIZE);
    strcpy(slots[slot].name, device);
    pthread_mutex_unlock(&token_mutex);
    solvan_debug("ACL: Token for '%s' = 0x%x added at slot %d", device, low_bits(token), slot);
    return true;
}

bool solvan_remove_device_token(const char* device) {
    if (device == NULL) return false;
    pthread_mutex_lock(&token_mutex);
    int slot = find_slot(device);
    if (slot >= 0) {
        memset(slots[slot].name, 0, NAME_SIZE);
        slots[slot].token = 0;
    }
    pthread_mutex_unlock(&token_mutex);
    if (slot < 0) {
        solvan_debug("ACL: No token for '%s' to be removed", device);
        return false;
    }
    solvan_debug("ACL: Token for '%s' removed", device);
    return true;
}

/* Looks `name` up and logs a found token; returns it, or 0 when no slot has the name. */
static uint64_t token_of(const char* name) {
    pthread_mutex_lock(&token_mutex);
    int slot = find_slot(name);
    uint64_t token = slot >= 0 ? slots[slot].token : 0;
    pthread_mutex_unlock(&token_mutex);
    if (slot >= 0) solvan_debug("ACL: Token found '%s' = 0x%x", name, low_bits(token));
    return token;
}

uint64_t solvan_get_device_token(const solvan_device* device) {
    if (device == NULL) return 0;
    /* The record begins with its name field: a pointer to it is a pointer to the name. */
    char name[NAME_SIZE];
    memcpy(name, (const char*)device, NAME_SIZE);
    name[NAME_SIZE - 1] = '\0';
    return token_of(name);
}

uint64_t solvan_get_device_or_master_token(const char* device) {
    uint64_t token = device != NULL ? token_of(device) : 0;
    if (token != 0) return token;
    pthread_mutex_lock(&token_mutex);
    uint64_t master = master_token;
    pthread_mutex_unlock(&token_mutex);
    if (master != 0)
        solvan_debug("ACL: Master token found '%s' = 0x%x", device ? device : "", low_bits(master));
    return master;
}

uint64_t solvan_get_master_token(void) {
    pthread_mutex_lock(&token_mutex);
    uint64_t master = master_token;
    pthread_mutex_unlock(&token_mutex);
    return master;
}

void solvan_set_master_token(uint64_t token) {
    pthread_mutex_lock(&token_mutex);
    master_token = token;
    pthread_mutex_unlock(&token_mutex);
    solvan_debug("ACL: set master_token = 0x%x", low_bits(token));
}

void solvan_clear_device_tokens(void) {
    pthread_mutex_lock(&token_mutex);
    memset(slots, 0, sizeof slots);
    pthread_mutex_unlock(&token_mutex);
}

/* Scans a record line as "%llx %256[^\n]": a hexadecimal token, blanks, and a name of at
** least one character. `name` holds SCANNED_NAME + 1 bytes. Returns whether both were read. */
static bool scan_record(const char* line, uint64_t* token, char* name) {
    char* end = NULL;
    unsigned long long value = strtoull(line, &end, 16);
    if (end == line) return false;
    *token = (uint64_t)value;
    while (isspace((unsigned char)*end))
        end++;
    size_t length = strcspn(end, "\n");
    if (length == 0) return false;
    if (length > SCANNED_NAME) length = SCANNED_NAME;
    memcpy(name, end, length);
    name[length] = '\0';
    return true;
}

/* Reads the next line of `file` whole, whatever its length, and keeps its first RECORD_SIZE - 1
** bytes in `line` (zero-terminated, without the line end: a line feed, or a carriage return and
** a line feed as files written on Windows have them). *beyond tells whether anything but blanks
** and tabs follows the kept part before the line's first zero byte, which ends its text wherever
** it stands. Returns false at the end of the file or on a read error, when no line was begun. */
static bool read_line(FILE* file, char line[RECORD_SIZE], bool* beyond) {
    size_t length = 0;
    bool ended = false; /* a zero byte was read: nothing after it is text */
    int c = EOF;
    *beyond = false;
    while ((c = getc(file)) != EOF && c != '\n') {
        if (c == '\r') {
            /* One carriage return before the line feed (or the end of the file) ends the line;
               anywhere else it is a character of the line. */
            int next = getc(file);
            if (next == '\n' || next == EOF) {
                c = next;
                break;
            }
            ungetc(next, file);
        }
        if (length < RECORD_SIZE - 1) {
            line[length++] = (char)c;
            ended = ended || c == '\0';
        } else if (c == '\0') {
            ended = true;
        } else if (!ended && c != ' ' && c != '\t') {
            *beyond = true;
        }
    }
    line[length] = '\0';
    return c == '\n' || length > 0 || *beyond;
}

bool solvan_load_device_tokens(const char* path) {
    FILE* file = path != NULL ? fopen(path, "r") : NULL;
    if (file == NULL) {
        solvan_error("ACL: Can not open ACL file '%s'", path ? path : "");
        return false;
    }
    solvan_debug("ACL: Loading ACL from file '%s'", path);
    char line[RECORD_SIZE];
    char name[SCANNED_NAME + 1];
    int number = 0;
    bool beyond = false;
    while (read_line(file, line, &beyond)) {
        number++;
        if (line[0] == '#') continue;
        size_t length = strlen(line);
        while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t'))
            line[--length] = '\0';
        if (length == 0) continue;
        uint64_t token = 0;
        if (!scan_record(line, &token, name)) {
            fclose(file);
            solvan_error("ACL: Error in ACL file '%s' at line %d", path, number);
            return false;
        }
        /* A record longer than the part kept (a name far over 127 characters, or absurd padding)
           is skipped, as the add skips a name over 127 characters. */
        if (beyond) continue;
        if (strcmp(name, "@") == 0)
            solvan_set_master_token(token);
        else
            solvan_add_device_token(name, token); /* refuses a name over 127 characters */
    }
    /* A path that opens but cannot be read (a directory) is no list. */
    bool complete = !ferror(file);
    fclose(file);
    if (!complete) solvan_error("ACL: Can not open ACL file '%s'", path);
    return complete;
}

bool solvan_save_device_tokens(const char* path) {
    FILE* file = path != NULL ? fopen(path, "w") : NULL;
    if (file == NULL) {
        solvan_error("ACL: Can not open ACL file '%s' for writing", path ? path : "");
        return false;
    }
    solvan_debug("ACL: Saving ACL to file '%s'", path);
    /* Write from a copy, so the list is not locked while the disk works. */
    token_slot* copy = solvan_safe_malloc(sizeof slots);
    pthread_mutex_lock(&token_mutex);
    memcpy(copy, slots, sizeof slots);
    pthread_mutex_unlock(&token_mutex);
    bool written = fputs("# Device ACL saved by SOLVAN\n", file) >= 0;
    for (int i = 0; written && i < TOKEN_SLOTS; i++)
        if (copy[i].name[0] != '\0')
            written =
                fprintf(file, "%8llx %s\n", (unsigned long long)copy[i].token, copy[i].name) >= 0;
    free(copy);
    /* A full disk may only show when the buffered lines are flushed by the close. */
    if (fclose(file) != 0) written = false;
    if (!written) solvan_error("ACL: Can not save ACL to file '%s'", path);
    return written;
}
