/*
** solvan_bus: logging, checked allocation and the library's process-wide settings.
**
** One logger serves the whole process. A message is formatted into a shared 128 KB buffer
** under the log mutex and handed, whole, to the embedding program's hook, or line by line to
** syslog or to standard error, where each line carries the wall-clock time and the program's
** name. The level is an atomic, so any thread may read or change it without the mutex.
*/
#define _POSIX_C_SOURCE 200809L

#include "solvan_bus.h"

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <syslog.h>
#include <time.h>

void (*solvan_log_message_handler)(const char* message) = NULL;
bool solvan_use_syslog = false;
int solvan_main_argc = 0;
const char** solvan_main_argv = NULL;
char solvan_program_name[256] = "";

#define LOG_BUFFER_SIZE 131072 /* bytes of the shared message buffer */
#define LATE_BUFFER_SIZE 4096  /* bytes of the buffer a message formats into after exit */

static atomic_uint_least32_t log_level = 0; /* verbosity, see SOLVAN_LOG_* */
static pthread_mutex_t log_mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_mutex_t dump_mutex = PTHREAD_MUTEX_INITIALIZER;
static char* log_buffer = NULL;       /* shared message buffer; guarded by log_mutex */
static bool log_buffer_freed = false; /* set once the exit handler has run; log_mutex */

/* ---- Assertions and checked allocation. */

void solvan_assertion_failed(const char* condition, const char* routine, const char* file,
                             int line) {
    /* Straight to standard error: the logger itself may be what failed. */
    fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, routine, condition);
    fflush(stderr);
    abort();
}

void* solvan_safe_malloc(size_t size) {
    void* pointer = malloc(size ? size : 1);
    SOLVAN_ASSERT(pointer != NULL);
    memset(pointer, 0, size);
    return pointer;
}

void* solvan_safe_realloc(void* pointer, size_t size) {
    pointer = realloc(pointer, size ? size : 1);
    SOLVAN_ASSERT(pointer != NULL);
    return pointer;
}

/* ---- Levels and time. */

void solvan_set_log_level(uint32_t level) {
    atomic_store(&log_level, level);
}

uint32_t solvan_get_log_level(void) {
    return (uint32_t)atomic_load(&log_level);
}

int solvan_gettime(int clock, solvan_timespec* out) {
    (void)clock;
    struct timeval now;
    if (out == NULL || gettimeofday(&now, NULL) != 0) return -1;
    out->tv_sec = (int64_t)now.tv_sec;
    out->tv_nsec = (int64_t)now.tv_usec * 1000;
    return 0;
}

/* ---- Emitting a message. */

void solvan_free_log_buffer(void) {
    /* Runs at exit, possibly on a thread that holds the lock (a hook that ends the program):
       waiting would hang the exit, so a busy lock leaves the buffer to the system. */
    if (pthread_mutex_trylock(&log_mutex) != 0) return;
    free(log_buffer);
    log_buffer = NULL;
    log_buffer_freed = true;
    pthread_mutex_unlock(&log_mutex);
}

/* Fills solvan_program_name once: the last path component of argv[0], or "Application". */
static void fill_program_name(void) {
    if (solvan_program_name[0] != '\0') return;
    const char* name = "Application";
    if (solvan_main_argc != 0 && solvan_main_argv != NULL && solvan_main_argv[0] != NULL) {
        const char* slash = strrchr(solvan_main_argv[0], '/');
        name = slash ? slash + 1 : solvan_main_argv[0];
    }
    snprintf(solvan_program_name, sizeof solvan_program_name, "%s", name);
}

/* Writes every non-empty line of `text` to syslog; the newlines become zero bytes. */
static void emit_to_syslog(char* text) {
    openlog("SOLVAN", LOG_NDELAY, LOG_SYSLOG);
    for (char* line = text; line != NULL;) {
        char* end = strchr(line, '\n');
        if (end) *end = '\0';
        if (*line) syslog(LOG_NOTICE, "%s", line);
        line = end ? end + 1 : NULL;
    }
}

/* Writes every non-empty line of `text` to standard error as "time name: line". */
static void emit_to_stderr(char* text) {
    char stamp[64] = "";
    struct timeval now;
    struct tm local;
    gettimeofday(&now, NULL);
    time_t seconds = now.tv_sec;
    if (localtime_r(&seconds, &local) != NULL) {
        size_t used = strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
        snprintf(stamp + used, sizeof stamp - used, ".%06d", (int)now.tv_usec);
    }
    fill_program_name();
    for (char* line = text; line != NULL;) {
        char* end = strchr(line, '\n');
        if (end) *end = '\0';
        if (*line) fprintf(stderr, "%s %s: %s\n", stamp, solvan_program_name, line);
        line = end ? end + 1 : NULL;
    }
    fflush(stderr);
}

void solvan_log_message(const char* format, va_list args) {
    char late[LATE_BUFFER_SIZE];
    pthread_mutex_lock(&log_mutex);
    char* buffer = late;
    size_t size = sizeof late;
    if (!log_buffer_freed) {
        if (log_buffer == NULL) {
            log_buffer = solvan_safe_malloc(LOG_BUFFER_SIZE);
            atexit(solvan_free_log_buffer);
        }
        buffer = log_buffer;
        size = LOG_BUFFER_SIZE;
    }
    /* vsnprintf cuts the message at size - 1 characters and always terminates it. */
    if (vsnprintf(buffer, size, format, args) < 0) buffer[0] = '\0';
    if (solvan_log_message_handler != NULL)
        solvan_log_message_handler(buffer);
    else if (solvan_use_syslog)
        emit_to_syslog(buffer);
    else
        emit_to_stderr(buffer);
    pthread_mutex_unlock(&log_mutex);
}

void solvan_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    solvan_log_message(format, args);
    va_end(args);
}

void solvan_log(const char* format, ...) {
    if (solvan_get_log_level() < SOLVAN_LOG_INFO) return;
    va_list args;
    va_start(args, format);
    solvan_log_message(format, args);
    va_end(args);
}

void solvan_debug(const char* format, ...) {
    if (solvan_get_log_level() < SOLVAN_LOG_DEBUG) return;
    va_list args;
    va_start(args, format);
    solvan_log_message(format, args);
    va_end(args);
}

void solvan_trace(const char* format, ...) {
    if (solvan_get_log_level() < SOLVAN_LOG_TRACE) return;
    va_list args;
    va_start(args, format);
    solvan_log_message(format, args);
    va_end(args);
}

/* ---- Property dump. */

static const char* const type_names[] = {"UNDEFINED", "TEXT", "NUMBER", "SWITCH", "LIGHT", "BLOB"};
static const char* const state_names[] = {"Idle", "Ok", "Busy", "Alert"};
static const char* const perm_names[] = {"UNDEFINED", "ro", "rw", "wo"};
static const char* const rule_names[] = {"UNDEFINED", "OneOfMany", "AtMostOne", "AnyOfMany"};

/* Returns names[value], or "UNDEFINED" for a value outside the table. */
static const char* name_of(const char* const* names, size_t count, uint32_t value) {
    return value < count ? names[value] : "UNDEFINED";
}
#define NAME_OF(table, value) name_of(table, sizeof table / sizeof table[0], value)

/* Emits the line of one item in the definition form or the value form. */
static void trace_item(const solvan_property* property, const solvan_item* item, bool definition) {
    switch (property->type) {
        case SOLVAN_TEXT_VECTOR:
            if (item->text.long_value != NULL) {
                unsigned long long extra =
                    item->text.length > 0 ? (unsigned long long)item->text.length - 1 : 0;
                if (definition)
                    solvan_trace("  '%s' = '%s' + %llu extra characters // %s", item->name,
                                 item->text.value, extra, item->label);
                else
                    solvan_trace("  '%s' = '%s' + %llu extra characters", item->name,
                                 item->text.value, extra);
            } else if (definition) {
                solvan_trace("  '%s' = '%s' // %s", item->name, item->text.value, item->label);
            } else {
                solvan_trace("  '%s' = '%s'", item->name, item->text.value);
            }
            break;
        case SOLVAN_NUMBER_VECTOR:
            if (definition)
                solvan_trace("  '%s' = %g (%g, %g, %g) // %s", item->name, item->number.value,
                             item->number.min, item->number.max, item->number.step, item->label);
            else
                solvan_trace("  '%s' = %g ", item->name, item->number.value);
            break;
        case SOLVAN_SWITCH_VECTOR:
            if (definition)
                solvan_trace("  '%s' = %s // %s", item->name, item->sw.value ? "On" : "Off",
                             item->label);
            else
                solvan_trace("  '%s' = %s ", item->name, item->sw.value ? "On" : "Off");
            break;
        case SOLVAN_LIGHT_VECTOR:
            if (definition)
                solvan_trace("  '%s' = %s // %s", item->name,
                             NAME_OF(state_names, item->light.value), item->label);
            else
                solvan_trace("  '%s' = %s ", item->name, NAME_OF(state_names, item->light.value));
            break;
        case SOLVAN_BLOB_VECTOR:
            if (definition)
                solvan_trace("  '%s' // %s", item->name, item->label);
            else
                solvan_trace("  '%s' (%lld bytes, '%s', '%s')", item->name,
                             (long long)item->blob.size, item->blob.format, item->blob.url);
            break;
        default:
            break;
    }
}

void solvan_trace_property(const char* message, const solvan_property* property, bool definition,
                           bool items) {
    if (solvan_get_log_level() < SOLVAN_LOG_TRACE || property == NULL) return;
    pthread_mutex_lock(&dump_mutex);
    if (message != NULL) solvan_trace("%s", message);
    const char* rule =
        property->type == SOLVAN_SWITCH_VECTOR ? NAME_OF(rule_names, property->rule) : "";
    const char* type = NAME_OF(type_names, property->type);
    const char* perm = NAME_OF(perm_names, property->perm);
    const char* state = NAME_OF(state_names, property->state);
    int major = (property->version >> 8) & 0xFF, minor = property->version & 0xFF;
    unsigned long long token = (unsigned long long)property->access_token;
    if (definition)
        solvan_trace("'%s'.'%s' %s %s %s %d.%d %llx %s { // %s", property->device, property->name,
                     type, perm, state, major, minor, token, rule, property->label);
    else
        solvan_trace("'%s'.'%s' %s %s %s %d.%d %llx %s {", property->device, property->name, type,
                     perm, state, major, minor, token, rule);
    if (items)
        for (int32_t i = 0; i < property->count; i++)
            trace_item(property, &property->items[i], definition);
    solvan_trace("}");
    pthread_mutex_unlock(&dump_mutex);
}
