/*
** solvan_bus_private.h: what the files of the bus share among themselves. Not installed.
*/
#ifndef SOLVAN_BUS_PRIVATE_H
#define SOLVAN_BUS_PRIVATE_H

#include "solvan_bus.h"

#if defined(__GNUC__) || defined(__clang__)
#define SOLVAN_INTERNAL __attribute__((visibility("hidden")))
#else
#define SOLVAN_INTERNAL
#endif

#ifdef __FILE_NAME__
#define BUS_SOURCE_FILE __FILE_NAME__
#else
#define BUS_SOURCE_FILE __FILE__
#endif

/* Precondition of a bus routine: a false condition ends the program with a message naming the
** unit "solvan_bus", the source line, the routine and the condition. */
#define BUS_ASSERT(condition)                                                                    \
    ((condition) ? (void)0                                                                       \
                 : solvan_assertion_failed(#condition, __func__, "solvan_bus: " BUS_SOURCE_FILE, \
                                           __LINE__))

/* Longest message the device-side routines pass to clients, characters. */
#define BUS_MESSAGE_SIZE 512

/* Copies `text` (none counts as empty) into the zero-filled field `field` of `size` bytes,
** cut at size - 1 characters. */
SOLVAN_INTERNAL void solvan_copy_field(char* field, size_t size, const char* text);

/* Empties the buffered BLOB table, freeing every entry. */
SOLVAN_INTERNAL void solvan_blob_table_reset(void);
/* Copies the payloads of the BLOB record `property` into the buffered table (see
** solvan_update_property). Returns SOLVAN_OK, or SOLVAN_TOO_MANY when an item finds neither its
** entry nor a free slot (items before it stay buffered). */
SOLVAN_INTERNAL solvan_result solvan_blob_table_store(const solvan_property* property);
/* Destroys the buffered entries of the items of the BLOB record `property`. */
SOLVAN_INTERNAL void solvan_blob_table_forget(const solvan_property* property);

#endif /* SOLVAN_BUS_PRIVATE_H */
