/*
** solvan_token: the device access-token list.
**
** A locked device accepts change requests only when they carry its token or the master token.
** This is the process-wide list mapping device names to tokens (256 slots, names of 1 to 127
** characters that the file gives back unchanged), the master token, and the text file that
** stores the list:
**
**     # Device ACL saved by SOLVAN
**     12ab34cd CCD Camera
**     deadbeef @
**
** Lines end in a line feed, or in a carriage return and a line feed (one carriage return there
** is part of the line end). Lines beginning with "#" are comments; a record is a hexadecimal
** token, blanks, and the device name up to the end of the line (blanks and tabs at the end are
** not part of it); the name "@" stands for the master token. A token is an unsigned 64-bit
** number; 0 means none. One mutex guards the list and the master token, so every routine may
** run on any thread.
**
** Plain C11, usable from C++.
*/
#ifndef SOLVAN_TOKEN_H
#define SOLVAN_TOKEN_H

#include <stdbool.h>
#include <stdint.h>

#include "solvan_bus.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The bus's device record; its first field is the zero-terminated device name. */
typedef struct solvan_device solvan_device;

/* Returns the token written in hexadecimal at the start of `text` (leading blanks allowed, an
** optional "0x"); 0 for no text or no hexadecimal number. */
uint64_t solvan_string_to_token(const char* text);

/* Sets the token of `device`: the slot already named so, else the first free slot of 256, takes
** it. Returns true, or false with nothing stored for no name, an empty name, a name longer than
** 127 characters, one holding a line feed, beginning with white space (blank, tab, carriage
** return, vertical tab, form feed) or ending in a blank, tab or carriage return, or the name
** "@" (none of which the file could give back as this record; blanks inside a name are kept),
** or when every slot is taken ("ACL: No slots available."). */
bool solvan_add_device_token(const char* device, uint64_t token);

/* Removes the slot of `device`. Returns true, or false for no name or when no slot has it. */
bool solvan_remove_device_token(const char* device);

/* Returns the token of the slot named like `device`'s name; 0 for no device or no slot. */
uint64_t solvan_get_device_token(const solvan_device* device);

/* Returns the non-zero token of the slot named `device`, else the master token (0 when none
** is set). With no name only the master token is considered. */
uint64_t solvan_get_device_or_master_token(const char* device);

/* Returns the master token (0 when none is set). */
uint64_t solvan_get_master_token(void);

/* Sets the master token, which unlocks every device; 0 clears it. */
void solvan_set_master_token(uint64_t token);

/* Empties every slot; the master token stays. */
void solvan_clear_device_tokens(void);

/* Adds the records of the token file at `path` to the list (slots already present stay; a
** record "@" sets the master token). Each line is read whole, whatever its length, and counts
** as one line; its text ends at its first zero byte, wherever that stands, and one carriage
** return before its line feed (or the end of the file) is no part of it. A record whose name
** is longer than 127 characters, or whose text holds more than 4095 characters before its
** trailing blanks and tabs, is skipped: nothing in it becomes a record, and the records after
** it load. Returns true at the end of the file; false when the
** file cannot be opened or read, or a line is not a token followed by a name (logged with its
** line number; the records before it stay loaded). */
bool solvan_load_device_tokens(const char* path);

/* Writes the list to `path` (truncating it): the line "# Device ACL saved by SOLVAN", then one
** line "%8llx %s" per occupied slot; the master token is not written. Returns true, or false
** when the file cannot be opened or written. */
bool solvan_save_device_tokens(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* SOLVAN_TOKEN_H */
