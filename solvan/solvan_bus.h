/*
** solvan: the support library's core header.
**
** Result codes, the raw frame type shared by the star routines and the image model, the
** process-wide settings the embedding program fills in, checked allocation, assertions
** that stay in release builds, the logger with its property dump, and the device bus: property
** and item records, buffered BLOBs and their HTTP fetch, devices and clients, client requests,
** asynchronous handlers and text utilities.
**
** Plain C11, usable from C++.
*/
#ifndef SOLVAN_BUS_H
#define SOLVAN_BUS_H

#include <pthread.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define SOLVAN_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#define SOLVAN_NORETURN __attribute__((noreturn))
#else
#define SOLVAN_PRINTF(fmt, first)
#define SOLVAN_NORETURN
#endif

/* Result codes of every routine that reports one. */
typedef enum {
    SOLVAN_OK = 0,       /* success */
    SOLVAN_FAILED = 1,   /* failure or bad argument */
    SOLVAN_TOO_MANY = 2, /* a table is full */
    SOLVAN_NO_STAR = 8   /* no star found */
} solvan_result;

/* Pixel layout of a raw frame: four ASCII bytes read as a little-endian 32-bit code. */
typedef uint32_t solvan_raw_type;
#define SOLVAN_RAW_MONO8 0x31574152u  /* "RAW1": one 8-bit grey sample */
#define SOLVAN_RAW_MONO16 0x32574152u /* "RAW2": one 16-bit grey sample, little-endian */
#define SOLVAN_RAW_RGB24 0x33574152u  /* "RAW3": three 8-bit colour samples */
#define SOLVAN_RAW_RGBA32 0x36424752u /* "RGB6": colour in bytes 0..2, alpha in byte 3 */
#define SOLVAN_RAW_ARGB32 0x36524742u /* "BGR6": alpha in byte 0, colour in bytes 1..3 */
#define SOLVAN_RAW_RGB48 0x36574152u  /* "RAW6": three 16-bit colour samples, little-endian */

/* ---- Process-wide settings: set by the embedding program, never written by the library. */

/* When set, receives every formatted message (all its lines, newlines included) instead of
** syslog and standard error. Runs under the log mutex: it must not log through this logger. */
extern void (*solvan_log_message_handler)(const char* message);
/* When set (and no handler is installed), messages go to syslog instead of standard error. */
extern bool solvan_use_syslog;
/* The embedding program's argument count (0 until it is set). */
extern int solvan_main_argc;
/* The embedding program's argument vector; element 0 names the program. */
extern const char** solvan_main_argv;

/* Program name of the standard-error line; filled from solvan_main_argv (or "Application") by
** the first standard-error line. Clearing it before any thread logs has it computed again. */
extern char solvan_program_name[256];

/* ---- Checked allocation and assertions. */

/* Ends the program: writes "file:line: routine: Assertion `condition' failed." to standard
** error and aborts. Never returns. */
SOLVAN_NORETURN void solvan_assertion_failed(const char* condition, const char* routine,
                                             const char* file, int line);

/* Checks a precondition in every build (NDEBUG does not remove it); a false condition ends the
** program through solvan_assertion_failed, naming the routine and the condition. */
#define SOLVAN_ASSERT(condition) \
    ((condition) ? (void)0 : solvan_assertion_failed(#condition, __func__, __FILE__, __LINE__))

/* Returns `size` bytes of zeroed heap memory (at least one byte); ends the program through the
** assertion "pointer != NULL" when the allocation fails. */
void* solvan_safe_malloc(size_t size);
/* Returns `pointer` resized to `size` bytes (at least one byte; the added bytes are not
** zeroed); ends the program through the assertion "pointer != NULL" when it fails. */
void* solvan_safe_realloc(void* pointer, size_t size);

/* ---- Work buffer pool: up to 16 reusable 128 KB buffers for formatted device I/O. */

#define SOLVAN_LARGE_BUFFER_SIZE 131072 /* bytes of one work buffer */

/* Returns a SOLVAN_LARGE_BUFFER_SIZE-byte buffer: a pooled one (holding whatever its last
** user left) or a new zeroed one; ends the program through the allocation assertion when
** memory runs out. Give it back with solvan_free_large_buffer. Safe from any thread. */
void* solvan_alloc_large_buffer(void);
/* Returns `buffer` (from solvan_alloc_large_buffer; none is ignored) to the pool, or frees it
** when the pool already holds 16. Safe from any thread. */
void solvan_free_large_buffer(void* buffer);
/* Frees every pooled buffer; registered to run at process exit by the first
** solvan_alloc_large_buffer. Buffers handed out stay valid and may still be returned. */
void solvan_free_large_buffers(void);

/* ---- Logging. */

/* Verbosity levels, compared unsigned: any level of 3 or more enables everything. */
enum {
    SOLVAN_LOG_ERROR = 0, /* errors only */
    SOLVAN_LOG_INFO = 1,  /* and informational lines */
    SOLVAN_LOG_DEBUG = 2, /* and debug lines */
    SOLVAN_LOG_TRACE = 3  /* and trace lines, property dumps included */
};

/* Sets the process-wide verbosity; safe from any thread. */
void solvan_set_log_level(uint32_t level);
/* Returns the process-wide verbosity; safe from any thread. */
uint32_t solvan_get_log_level(void);

/* Formats one message (cut at 131071 characters) and emits it to the handler, syslog or
** standard error (one line per non-empty line of the message). */
void solvan_log_message(const char* format, va_list args) SOLVAN_PRINTF(1, 0);
/* Emits always. */
void solvan_error(const char* format, ...) SOLVAN_PRINTF(1, 2);
/* Emits at level 1 or more. */
void solvan_log(const char* format, ...) SOLVAN_PRINTF(1, 2);
/* Emits at level 2 or more. */
void solvan_debug(const char* format, ...) SOLVAN_PRINTF(1, 2);
/* Emits at level 3 or more. */
void solvan_trace(const char* format, ...) SOLVAN_PRINTF(1, 2);
/* Frees the message buffer; registered to run at process exit. Later messages still work,
** formatted into a smaller buffer of their own. */
void solvan_free_log_buffer(void);

/* Wall-clock time in seconds and nanoseconds. */
typedef struct {
    int64_t tv_sec;  /* whole seconds since the epoch */
    int64_t tv_nsec; /* nanoseconds within the second (a multiple of 1000) */
} solvan_timespec;

/* Fills `out` from the wall clock (microsecond resolution); `clock` is ignored. Returns 0, or
** -1 when the clock cannot be read or `out` is missing (then `out` is left as it was). */
int solvan_gettime(int clock, solvan_timespec* out);

/* ---- Property and item records, as far as the property dump reads them. */

/* Property and light states. */
typedef enum {
    SOLVAN_IDLE_STATE = 0, /* nothing going on */
    SOLVAN_OK_STATE = 1,   /* last request succeeded */
    SOLVAN_BUSY_STATE = 2, /* request in progress */
    SOLVAN_ALERT_STATE = 3 /* last request failed */
} solvan_property_state;

/* Property types; 0 (undefined) means "any type" in a request. */
typedef enum {
    SOLVAN_TEXT_VECTOR = 1,   /* text items */
    SOLVAN_NUMBER_VECTOR = 2, /* number items */
    SOLVAN_SWITCH_VECTOR = 3, /* switch items */
    SOLVAN_LIGHT_VECTOR = 4,  /* light items */
    SOLVAN_BLOB_VECTOR = 5    /* BLOB items */
} solvan_property_type;

/* Permissions; 0 is undefined. */
typedef enum {
    SOLVAN_RO_PERM = 1, /* read-only */
    SOLVAN_RW_PERM = 2, /* read-write */
    SOLVAN_WO_PERM = 3  /* write-only */
} solvan_property_perm;

/* Switch rules; 0 is undefined. */
typedef enum {
    SOLVAN_ONE_OF_MANY_RULE = 1, /* exactly one item on */
    SOLVAN_AT_MOST_ONE_RULE = 2, /* none or one item on */
    SOLVAN_ANY_OF_MANY_RULE = 3  /* any items on */
} solvan_rule;

/* One item of a property; the value part is chosen by the property's type. */
typedef struct {
    char name[128];  /* item name, zero-terminated */
    char label[512]; /* human-readable label; empty when not given */
    char hints[512]; /* always empty */
    union {
        struct {
            char value[512];  /* inline text, at most 511 characters */
            char* long_value; /* owned copy of the whole text when it is 512 or longer */
            uint64_t length;  /* length of the whole text plus one */
        } text;
        struct {
            char format[512]; /* printf format of the value, "%g" by default */
            double min;       /* smallest allowed value */
            double max;       /* largest allowed value */
            double step;      /* increment */
            double value;     /* current value */
            double target;    /* requested value */
        } number;
        struct {
            bool value; /* on or off */
        } sw;
        struct {
            uint32_t value; /* a solvan_property_state */
        } light;
        struct {
            char format[128]; /* payload's file extension with its dot, e.g. ".fits" */
            char url[512];    /* where the payload can be fetched */
            int64_t size;     /* payload size, bytes */
            void* value;      /* payload bytes, owned by the device */
        } blob;
    };
} solvan_item;

/* A property: a fixed header followed directly by `count` items in the same allocation. */
typedef struct {
    char device[128];      /* device name, zero-terminated */
    char name[128];        /* property name */
    char group[128];       /* group name; empty when not given */
    char label[512];       /* human-readable label; empty when not given */
    char hints[512];       /* always empty */
    uint32_t state;        /* a solvan_property_state */
    uint32_t type;         /* a solvan_property_type, or 0 */
    uint32_t perm;         /* a solvan_property_perm, or 0 */
    uint32_t rule;         /* a solvan_rule (switch properties only), or 0 */
    uint64_t access_token; /* token of the request or owner; 0 = none */
    uint16_t version;      /* record version, 0x200 prints as 2.0 */
    bool hidden;           /* never shown to clients */
    int32_t count;         /* number of items that follow */
    solvan_item items[];   /* the items */
} solvan_property;

/* Dumps `property` as trace lines (nothing below level 3): `message` first when given, then
** the header line, one line per item when `items` is set, and "}". `definition` selects the
** form with labels and number limits. Two dumps never interleave. */
void solvan_trace_property(const char* message, const solvan_property* property, bool definition,
                           bool items);

/* ---- Creating, filling and comparing property and item records.
**
** A record belongs to whoever created it and carries no lock. Text fields are zero-filled
** before they are written and copies into them are cut at the field's width less one. Missing
** required arguments end the program through an assertion naming the routine, the unit
** "solvan_bus" and the condition (for example "property != NULL"). */

/* The property initialisers take an existing record (or none), reuse it when its count is
** `count`, else reallocate it, and zero it whole before filling the header: initialising is
** always a fresh start (an old text record's long values are freed, an old BLOB record's
** buffered entries destroyed). Device and name (required) and group are cut at 127
** characters, the label at 511; group and label are empty when not given. The version becomes
** 0x200. Each returns the record to use from then on (the argument may have moved); a negative
** count or an allocation failure ends the program. */

/* Returns a text record of `count` items, permission `perm`, rule 0. */
solvan_property* solvan_init_text_property(solvan_property* property, const char* device,
                                           const char* name, const char* group, const char* label,
                                           uint32_t state, uint32_t perm, int32_t count);
/* Returns a number record of `count` items, permission `perm`, rule 0. */
solvan_property* solvan_init_number_property(solvan_property* property, const char* device,
                                             const char* name, const char* group, const char* label,
                                             uint32_t state, uint32_t perm, int32_t count);
/* Returns a switch record of `count` items with permission `perm` and `rule`. */
solvan_property* solvan_init_switch_property(solvan_property* property, const char* device,
                                             const char* name, const char* group, const char* label,
                                             uint32_t state, uint32_t perm, uint32_t rule,
                                             int32_t count);
/* Returns a read-only light record of `count` items. */
solvan_property* solvan_init_light_property(solvan_property* property, const char* device,
                                            const char* name, const char* group, const char* label,
                                            uint32_t state, int32_t count);
/* Returns a read-only BLOB record of `count` items. */
solvan_property* solvan_init_blob_property(solvan_property* property, const char* device,
                                           const char* name, const char* group, const char* label,
                                           uint32_t state, int32_t count);

/* Returns `property` resized to `count` items (the same record when the count is unchanged):
** added items are zeroed; the long values of text items that fall away are freed; a BLOB
** record's buffered entries are destroyed (the next update buffers its items anew). */
solvan_property* solvan_resize_property(solvan_property* property, int32_t count);

/* Frees `property` (none is ignored): a text record's long values, a BLOB record's buffered
** entries (see solvan_find_blob_entry), then the record. Payloads of BLOB items stay. */
void solvan_release_property(solvan_property* property);

/* The item initialisers zero `item` whole, copy its name (required, cut at 127 characters) and
** label (cut at 511; empty when none), then set the value part of their type. */

/* Makes `item` a switch item that is on when `value` is set. */
void solvan_init_switch_item(solvan_item* item, const char* name, const char* label, bool value);
/* Makes `item` a text item holding the formatted text, cut at 511 characters (no long value;
** length stays 0). */
void solvan_init_text_item(solvan_item* item, const char* name, const char* label,
                           const char* format, ...) SOLVAN_PRINTF(4, 5);
/* Makes `item` a text item holding `text` whole (see solvan_set_text_item_value). */
void solvan_init_text_item_raw(solvan_item* item, const char* name, const char* label,
                               const char* text);
/* Makes `item` a number item with format "%g", the limits and step, and `value` as both value
** and target. */
void solvan_init_number_item(solvan_item* item, const char* name, const char* label, double min,
                             double max, double step, double value);
/* Makes `item` a light item in `state` (a solvan_property_state). */
void solvan_init_light_item(solvan_item* item, const char* name, const char* label, uint32_t state);
/* Makes `item` a BLOB item without format, URL or payload. */
void solvan_init_blob_item(solvan_item* item, const char* name, const char* label);

/* Stores `text` (none counts as empty) in the text item: its first 511 characters inline, its
** length plus one in `length`, and, for a text of 512 characters or more, a copy of the whole
** text as the long value (the old long value is freed first). */
void solvan_set_text_item_value(solvan_item* item, const char* text);
/* Returns the whole text of a text item: its long value when it has one, else the inline
** value; NULL for no item. */
const char* solvan_get_text_item_value(const solvan_item* item);

/* Returns a zeroed buffer of `size` bytes rounded up to the next multiple of 2880 (one FITS
** block; 0 gives 0 rounded up to one block); the caller frees it. Allocation failure ends the
** program. */
void* solvan_alloc_blob_buffer(int64_t size);

/* Returns true when `property` answers `request`: false for no property; true for no request;
** else the request's type (unless 0), device (unless empty) and name (unless empty) must equal
** the property's. */
bool solvan_property_match(const solvan_property* property, const solvan_property* request);
/* As solvan_property_match, except that a read-only property never matches. */
bool solvan_property_match_writable(const solvan_property* property,
                                    const solvan_property* request);

/* Returns true when the first item of the switch record `other` named like `item` is on; false
** when it is off or there is none. */
bool solvan_switch_match(const solvan_item* item, const solvan_property* other);
/* Sets `item` of the switch record `property` to `value`; switching an item on first switches
** every item off unless the rule is any-of-many. */
void solvan_set_switch(solvan_property* property, solvan_item* item, bool value);
/* Returns the first item of `property` named `item_name`, or NULL when there is none. */
solvan_item* solvan_get_item(solvan_property* property, const char* item_name);
/* Returns the value of the first item of the switch record `property` named `item_name`; false
** when there is none. */
bool solvan_get_switch(const solvan_property* property, const char* item_name);

/* Copies the values of `other`'s items into the namesake items of `property` (the first of
** each name), and the access token, and the state when `with_state` is set. A read-only
** record, or one of another type than `other`, is left unchanged. Switch records not
** any-of-many are switched off first; numbers are limited to the item's min and max (max wins
** when min exceeds it); texts are copied whole; BLOB items share `other`'s payload pointer. */
void solvan_property_copy_values(solvan_property* property, const solvan_property* other,
                                 bool with_state);
/* Sets the target of every number item of `property` named like an item of the number record
** `other` to that item's value, limited as above; the state too when `with_state` is set. A
** read-only `property` or an `other` that is not a number record leaves it unchanged. */
void solvan_property_copy_targets(solvan_property* property, const solvan_property* other,
                                  bool with_state);

/* Sorts the items from index `first` to the end by label, case-insensitively; fewer than two
** items in that range are left as they are. */
void solvan_property_sort_items(solvan_property* property, int32_t first);
/* qsort comparator of two solvan_item: their labels compared case-insensitively. */
int solvan_compare_item_labels(const void* item, const void* other);

/* ---- BLOB payloads: the buffered table and the HTTP fetch. */

/* One buffered payload: with solvan_use_blob_buffering set, every update of a BLOB property
** in state Ok copies each item's payload here, so clients may send it after the device has
** reused its own buffer. Read `data`, `size` and `format` only while holding `mutex`. */
typedef struct {
    const solvan_item* item; /* the item whose payload is buffered, compared by identity */
    void* data;              /* owned copy of the payload; NULL when empty */
    int64_t size;            /* bytes in `data` */
    char format[128];        /* payload's file extension with its dot, e.g. ".fits" */
    pthread_mutex_t mutex;   /* guards data, size and format */
} solvan_blob_entry;

/* Slots of the buffered table: an update that needs a 33rd entry fails with SOLVAN_TOO_MANY. */
#define SOLVAN_MAX_BLOB_ENTRIES 32

/* Returns the buffered entry of `item`, or NULL. The scan holds the table's own lock (updates
** on other threads change the slots); the entry stays valid until the item's property is
** released or re-initialised, or the bus is started again. */
solvan_blob_entry* solvan_find_blob_entry(const solvan_item* item);

/* Largest payload solvan_populate_http_blob_item accepts, bytes (1 GiB), packed or unpacked. */
#define SOLVAN_HTTP_BLOB_MAX_SIZE ((int64_t)1 << 30)

/* Seconds the HTTP fetch waits for data once the status line has arrived (15); the wait for
** the status line itself is the shorter of this and 5 seconds. A process-wide setting. */
extern double solvan_http_blob_timeout;

/* Fetches the payload of the BLOB item named "IMAGE" from its URL "http://server[:port]/path"
** (port 80 when absent) with one GET that accepts a gzip body. `blob.value` must be NULL or
** heap memory: it is reallocated to the payload (the item owns it as before), `blob.size` holds
** the payload's bytes and, when the path has a ".", `blob.format` the text from its last "." on.
** Returns true on success; false for another item name, an empty or malformed URL, a server
** name over 255 or a path over 256 characters, a failed connection, a status other than 200, a
** missing, zero or oversized (SOLVAN_HTTP_BLOB_MAX_SIZE) Content-Length or, for gzip,
** X-Uncompressed-Content-Length, a body shorter than announced, or a gzip body that does not
** inflate to exactly the announced length. On failure size and value keep what the fetch had
** set (the value, when reallocated, is still owned by the item). Every line it logs is a debug
** line. */
bool solvan_populate_http_blob_item(solvan_item* item);

/* ---- The bus: devices and clients.
**
** Devices own properties; clients show and change them. Both are records of callbacks that
** their implementations fill in and attach to the bus, which keeps pointers to them (up to 256
** of each) and owns neither. Any thread may call the bus; its recursive mutex lets callbacks
** call it again. Every routine returns SOLVAN_OK, SOLVAN_FAILED (a missing argument, or the
** bus is not started) or SOLVAN_TOO_MANY (a table is full).
**
** Request callbacks, and the detach callbacks of solvan_stop, run with the bus mutex held (see
** solvan_bus_locking); the callbacks of attach and detach routines without it. A driver in
** brief:
**
**     static solvan_property* connection; // from solvan_init_switch_property
**     static solvan_result change(solvan_device* device, solvan_client* client,
**                                 solvan_property* request) {
**         if (solvan_property_match_writable(connection, request)) {
**             solvan_property_copy_values(connection, request, false);
**             connection->state = SOLVAN_OK_STATE;
**             solvan_update_property(device, connection, "Connected");
**         }
**         return SOLVAN_OK;
**     }
**     static solvan_device ccd = {.name = "CCD", .change_property = change};
**     ...
**     solvan_start();
**     solvan_attach_device(&ccd);
*/

typedef struct solvan_device solvan_device;
typedef struct solvan_client solvan_client;

/* BLOB delivery modes passed through solvan_enable_blob to the devices. */
typedef enum {
    SOLVAN_ENABLE_BLOB_NEVER = 0, /* no BLOBs to this client */
    SOLVAN_ENABLE_BLOB_ALSO = 1,  /* BLOBs together with other properties */
    SOLVAN_ENABLE_BLOB_ONLY = 2   /* BLOBs only */
} solvan_blob_mode;

/* A device: its implementation fills in the name and the callbacks it needs. */
struct solvan_device {
    char name[128];        /* device name; one beginning with "@" is a proxy for a remote bus */
    void* private_data;    /* the implementation's own state; never read by the bus */
    bool is_remote;        /* a remote device gets no "CONFIG" property at attach */
    uint32_t version;      /* the driver's version (0x100 = 1.0); never read by the bus */
    int32_t last_result;   /* result of the latest callback the bus made on this device */
    uint64_t access_token; /* the device's token from the token list; 0 = unprotected */
    /* Called once attached (without the bus mutex). */
    solvan_result (*attach)(solvan_device* device);
    /* Asked to define every property matching `property` towards `client`. */
    solvan_result (*enumerate_properties)(solvan_device* device, solvan_client* client,
                                          solvan_property* property);
    /* Asked to apply the values of `property`; `client` is NULL for the bus's own requests. */
    solvan_result (*change_property)(solvan_device* device, solvan_client* client,
                                     solvan_property* property);
    /* Asked to deliver BLOBs matching `property` to `client` in `mode` (a solvan_blob_mode). */
    solvan_result (*enable_blob)(solvan_device* device, solvan_client* client,
                                 solvan_property* property, int mode);
    /* Called once detached (without the bus mutex) or when the bus stops (with it). */
    solvan_result (*detach)(solvan_device* device);
};

/* A client: its implementation fills in the name and the callbacks it needs. `message` is
** NULL when the device gave none. */
struct solvan_client {
    char name[128];       /* client name */
    void* client_context; /* the implementation's own state; never read by the bus */
    int32_t last_result;  /* result of the latest callback the bus made on this client */
    uint32_t version;     /* the client's version (0x100 = 1.0); never read by the bus */
    /* Called once attached (without the bus mutex). */
    solvan_result (*attach)(solvan_client* client);
    /* A device defines `property`. */
    solvan_result (*define_property)(solvan_client* client, solvan_device* device,
                                     solvan_property* property, const char* message);
    /* A device updates the values of `property`. */
    solvan_result (*update_property)(solvan_client* client, solvan_device* device,
                                     solvan_property* property, const char* message);
    /* A device deletes `property`. */
    solvan_result (*delete_property)(solvan_client* client, solvan_device* device,
                                     solvan_property* property, const char* message);
    /* A device sends a message. */
    solvan_result (*send_message)(solvan_client* client, solvan_device* device,
                                  const char* message);
    /* Called once detached (without the bus mutex) or when the bus stops (with it). */
    solvan_result (*detach)(solvan_client* client);
};

/* Process-wide settings: set by the embedding program, never written by the library. */

/* When set (the default), the request routines hold the bus mutex; clear it only when every
** call comes from one thread. */
extern bool solvan_bus_locking;
/* When set (the default), a device whose name begins with "@" takes part in a request only
** when the request's device name contains its name; when clear, in every request. */
extern bool solvan_match_remote_by_name;
/* When set (default clear), updates of BLOB properties in state Ok copy the payloads into the
** buffered table (see solvan_blob_entry). */
extern bool solvan_use_blob_buffering;
/* Name of this machine, the text after " @ " in names of local devices (empty at start). */
extern char solvan_local_name[128];

/* A request header with every field zero: as a request it matches every property. Reset by
** solvan_start. */
extern solvan_property solvan_all_properties;

/* Starts the bus: sets the log level from the switches "-v"/"--enable-info",
** "-vv"/"--enable-debug", "-vvv"/"--enable-trace" of solvan_main_argv (the last one counts),
** and, unless started already, empties the device, client and buffered tables. Returns
** SOLVAN_OK. */
solvan_result solvan_start(void);
/* Stops the bus: calls `detach` of every attached client, then of every attached device. The
** tables keep their pointers until the next start. Returns SOLVAN_OK. */
solvan_result solvan_stop(void);

/* Attaches `device` in the first free of 256 slots, calls its `attach`, sends it a "CONFIG"
** switch property (item "LOAD" on) unless it is remote or has no `change_property`, and sets
** its token from the token list. Returns SOLVAN_OK; SOLVAN_FAILED for no device or a stopped
** bus; SOLVAN_TOO_MANY when every slot is taken (the device is then not attached). */
solvan_result solvan_attach_device(solvan_device* device);
/* Attaches `client` in the first free of 256 slots and calls its `attach`. Returns SOLVAN_OK;
** SOLVAN_FAILED for no client or a stopped bus; SOLVAN_TOO_MANY when every slot is taken. */
solvan_result solvan_attach_client(solvan_client* client);
/* Detaches `device` and calls its `detach`. Returns SOLVAN_OK (also when it was not attached,
** without a callback); SOLVAN_FAILED for no device or a stopped bus. */
solvan_result solvan_detach_device(solvan_device* device);
/* Detaches `client` and calls its `detach`. Returns SOLVAN_OK (also when it was not attached,
** without a callback); SOLVAN_FAILED for no client or a stopped bus. */
solvan_result solvan_detach_client(solvan_client* client);

/* Device matching of the client requests: a device takes part when it has the callback and
** the request's device name is empty or equal to its name, or its name begins with "@" (see
** solvan_match_remote_by_name). Each returns SOLVAN_OK, or SOLVAN_FAILED for no property or a
** stopped bus. */

/* Asks every matching device to define the properties matching `property` towards `client`. */
solvan_result solvan_enumerate_properties(solvan_client* client, solvan_property* property);
/* Asks every matching device to apply `property`. A device with a token accepts it only when
** the property's `access_token` is the device's token, or is the master token while one is set
** (non-zero); a refusing device is skipped and the clients get the message "Device '%s' is
** protected or locked for exclusive access". */
solvan_result solvan_change_property(solvan_client* client, solvan_property* property);
/* Asks every matching device to deliver BLOBs matching `property` to `client` in `mode`. */
solvan_result solvan_enable_blob(solvan_client* client, solvan_property* property, int mode);

/* Device-side routines: the optional printf-style message (at most 511 characters) goes to
** every client along with the property. A hidden property reaches nobody and gives SOLVAN_OK.
** Each returns SOLVAN_OK, or SOLVAN_FAILED for no device or property, or a stopped bus. */

/* Defines `property` towards every client. */
solvan_result solvan_define_property(solvan_device* device, solvan_property* property,
                                     const char* format, ...) SOLVAN_PRINTF(3, 4);
/* Sends the new values of `property` to every client; a write-only property goes out without
** items. With solvan_use_blob_buffering set, a BLOB property in state Ok has its payloads
** buffered first; SOLVAN_TOO_MANY (and no client hears of it) when that needs a 33rd entry. */
solvan_result solvan_update_property(solvan_device* device, solvan_property* property,
                                     const char* format, ...) SOLVAN_PRINTF(3, 4);
/* Tells every client that `property` is gone. */
solvan_result solvan_delete_property(solvan_device* device, solvan_property* property,
                                     const char* format, ...) SOLVAN_PRINTF(3, 4);
/* Sends a message (NULL `format`: none) from `device` to every client. Returns SOLVAN_OK, or
** SOLVAN_FAILED for no device or a stopped bus. */
solvan_result solvan_send_message(solvan_device* device, const char* format, ...)
    SOLVAN_PRINTF(2, 3);

/* ---- Client requests: each builds a temporary property for `device`, sends it through
** solvan_change_property and releases it. The variants without a token use
** solvan_get_device_or_master_token for the device. Each returns the result of
** solvan_change_property: SOLVAN_OK, or SOLVAN_FAILED when the bus is not started. Device,
** property and item names are required (an assertion ends the program without them). */

solvan_result solvan_change_text_property_with_token(solvan_client* client, const char* device,
                                                     uint64_t token, const char* property,
                                                     int32_t count, const char* items[],
                                                     const char* values[]);
solvan_result solvan_change_text_property(solvan_client* client, const char* device,
                                          const char* property, int32_t count, const char* items[],
                                          const char* values[]);
solvan_result solvan_change_text_item_with_token(solvan_client* client, const char* device,
                                                 uint64_t token, const char* property,
                                                 const char* item, const char* value);
solvan_result solvan_change_text_item(solvan_client* client, const char* device,
                                      const char* property, const char* item, const char* value);
/* The text is formatted once and cut at 511 characters. */
solvan_result solvan_change_text_item_format_with_token(solvan_client* client, const char* device,
                                                        uint64_t token, const char* property,
                                                        const char* item, const char* format, ...)
    SOLVAN_PRINTF(6, 7);
solvan_result solvan_change_text_item_format(solvan_client* client, const char* device,
                                             const char* property, const char* item,
                                             const char* format, ...) SOLVAN_PRINTF(5, 6);
solvan_result solvan_change_number_property_with_token(solvan_client* client, const char* device,
                                                       uint64_t token, const char* property,
                                                       int32_t count, const char* items[],
                                                       const double values[]);
solvan_result solvan_change_number_property(solvan_client* client, const char* device,
                                            const char* property, int32_t count,
                                            const char* items[], const double values[]);
solvan_result solvan_change_number_item_with_token(solvan_client* client, const char* device,
                                                   uint64_t token, const char* property,
                                                   const char* item, double value);
solvan_result solvan_change_number_item(solvan_client* client, const char* device,
                                        const char* property, const char* item, double value);
solvan_result solvan_change_switch_property_with_token(solvan_client* client, const char* device,
                                                       uint64_t token, const char* property,
                                                       int32_t count, const char* items[],
                                                       const bool values[]);
solvan_result solvan_change_switch_property(solvan_client* client, const char* device,
                                            const char* property, int32_t count,
                                            const char* items[], const bool values[]);
solvan_result solvan_change_switch_item_with_token(solvan_client* client, const char* device,
                                                   uint64_t token, const char* property,
                                                   const char* item, bool value);
solvan_result solvan_change_switch_item(solvan_client* client, const char* device,
                                        const char* property, const char* item, bool value);
/* Sends the switch "CONNECTION" with "CONNECTED" on and "DISCONNECTED" off. */
solvan_result solvan_device_connect(solvan_client* client, const char* device);
/* Sends the switch "CONNECTION" with "CONNECTED" off and "DISCONNECTED" on. */
solvan_result solvan_device_disconnect(solvan_client* client, const char* device);

/* Ends `name` where " @ " begins when the text after it is solvan_local_name; any other name
** is left unchanged. */
void solvan_strip_host_suffix(char* name);

/* ---- Asynchronous handlers. */

/* A routine run on a property by solvan_handle_property_async. */
typedef solvan_result (*solvan_property_handler)(solvan_device* device, solvan_client* client,
                                                 solvan_property* property);

/* A property handler and its arguments, handed to a detached thread. */
typedef struct {
    solvan_property_handler handler; /* routine the thread runs */
    solvan_device* device;           /* its first argument */
    solvan_client* client;           /* its second argument */
    solvan_property* property;       /* its third argument */
} phd;

/* Runs handler(device, client, property) on a new detached thread; the handler takes care of
** its own locking and of the arguments' lifetime. Returns true when the thread was started,
** false when it could not be created (the handler then never runs). */
bool solvan_handle_property_async(solvan_property_handler handler, solvan_device* device,
                                  solvan_client* client, solvan_property* property);
/* Thread body of solvan_handle_property_async: runs the record's handler, frees the record.
** Returns NULL. */
void* _solvan_handle_property_async(void* record);
/* Runs routine(argument) on a new detached thread. Returns true when the thread was started,
** false when it could not be created. */
bool solvan_async(void* (*routine)(void* argument), void* argument);

/* ---- Text utilities. */

/* Returns the value of a sexagesimal text such as "12:30:36", "12*30" or "-0:30" (first 128
** characters; separators ":", "*", "'" and, after the degrees, the byte 0xDF); a text without
** separator is read by solvan_atod. A minus sign on the degrees subtracts the minutes and
** seconds. */
double solvan_stod(const char* text);
/* Returns the value of a decimal text in any locale: leading spaces, a sign, digits, a "." or
** "," and digits, an exponent "e"/"E" with its own sign; reading stops at the first character
** that does not fit. No digits give 0 (or 10 to the exponent when one is given). */
double solvan_atod(const char* text);
/* Returns `value` as sexagesimal text "<degrees>:%02d:%05.2f" (seconds cut to hundredths; whole
** degrees of up to 117 digits in full, larger ones in exponent form with the fewest digits that
** read back as the same value, as in "1e+200:00:00.00"), which solvan_stod reads back as the
** value to the printed hundredth of a second; or printed with `format` from degrees (int,
** saturated at INT_MAX), minutes (int) and seconds (an int when the format ends in "d", else a
** double). Negative values get a leading "-" (a leading "+" becomes one). NaN gives "nan",
*infinities "inf" and
** "-inf", whatever the format. The text lives in one of four buffers of the calling thread,
** used in rotation: it stays valid for three further calls on that thread. */
const char* solvan_dtos(double value, const char* format);
/* Sleeps `microseconds`. */
void solvan_usleep(uint32_t microseconds);
/* Returns `buffer`, which must hold 32 bytes, holding `value` printed "%.10g" with a "." as
** decimal mark whatever the locale. */
char* solvan_dtoa(char* buffer, double value);

#ifdef __cplusplus
}
#endif

#endif /* SOLVAN_BUS_H */
