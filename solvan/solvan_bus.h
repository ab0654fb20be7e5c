/*
** solvan: the support library's core header.
**
** Result codes, the raw frame type shared by the star routines and the image model, the
** process-wide settings the embedding program fills in, checked allocation, assertions
** that stay in release builds, and the logger with its property dump.
**
** Plain C11, usable from C++.
*/
#ifndef SOLVAN_BUS_H
#define SOLVAN_BUS_H

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

#ifdef __cplusplus
}
#endif

#endif /* SOLVAN_BUS_H */
