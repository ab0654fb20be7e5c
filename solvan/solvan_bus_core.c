/*
** solvan_bus_core: the bus between devices and clients.
**
** Two tables of pointers (256 devices, 256 clients) under one recursive mutex, so that a
** callback may call the bus again. Requests of clients go to the devices whose name matches;
** definitions, updates, removals and messages of devices go to every client. The bus owns no
** device or client. Attach and detach hold the mutex only while they touch the tables; their
** callbacks run without it.
*/
#define _POSIX_C_SOURCE 200809L

#include <stdatomic.h>
#include <stdio.h>
#include <string.h>

#include "solvan_bus_private.h"
#include "solvan_token.h"

#define MAX_DEVICES 256
#define MAX_CLIENTS 256

bool solvan_bus_locking = true;
bool solvan_match_remote_by_name = true;
bool solvan_use_blob_buffering = false;
char solvan_local_name[128] = "";
solvan_property solvan_all_properties;

static atomic_bool started = false;
static solvan_device* devices[MAX_DEVICES]; /* attached devices; bus mutex */
static solvan_client* clients[MAX_CLIENTS]; /* attached clients; bus mutex */
static int highest_device = -1;             /* highest device slot used; for the count line */
static int highest_client = -1;             /* highest client slot used; for the count line */

static pthread_mutex_t bus_mutex;
static pthread_once_t bus_mutex_once = PTHREAD_ONCE_INIT;

static void init_bus_mutex(void) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&bus_mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

static void lock_bus(void) {
    pthread_once(&bus_mutex_once, init_bus_mutex);
    pthread_mutex_lock(&bus_mutex);
}

static void unlock_bus(void) {
    pthread_mutex_unlock(&bus_mutex);
}

/* The request routines lock only with solvan_bus_locking set; `locked` remembers the choice. */
static bool lock_request(void) {
    bool locking = solvan_bus_locking;
    if (locking) lock_bus();
    return locking;
}

static void unlock_request(bool locked) {
    if (locked) unlock_bus();
}

/* ---- Start and stop. */

solvan_result solvan_start(void) {
    if (solvan_main_argc >= 2 && solvan_main_argv != NULL)
        for (int i = 1; i < solvan_main_argc; i++) {
            const char* argument = solvan_main_argv[i];
            if (argument == NULL) continue;
            if (!strcmp(argument, "-v") || !strcmp(argument, "--enable-info"))
                solvan_set_log_level(SOLVAN_LOG_INFO);
            else if (!strcmp(argument, "-vv") || !strcmp(argument, "--enable-debug"))
                solvan_set_log_level(SOLVAN_LOG_DEBUG);
            else if (!strcmp(argument, "-vvv") || !strcmp(argument, "--enable-trace"))
                solvan_set_log_level(SOLVAN_LOG_TRACE);
        }
    lock_bus();
    solvan_trace("SOLVAN Bus: start request");
    if (!atomic_load(&started)) {
        memset(devices, 0, sizeof devices);
        memset(clients, 0, sizeof clients);
        solvan_blob_table_reset();
        memset(&solvan_all_properties, 0, sizeof solvan_all_properties);
        atomic_store(&started, true);
    }
    unlock_bus();
    return SOLVAN_OK;
}

solvan_result solvan_stop(void) {
    lock_bus();
    solvan_trace("SOLVAN Bus: stop request");
    if (atomic_exchange(&started, false)) {
        for (int i = 0; i < MAX_CLIENTS; i++)
            if (clients[i] != NULL && clients[i]->detach != NULL)
                clients[i]->last_result = clients[i]->detach(clients[i]);
        for (int i = 0; i < MAX_DEVICES; i++)
            if (devices[i] != NULL && devices[i]->detach != NULL)
                devices[i]->last_result = devices[i]->detach(devices[i]);
    }
    unlock_bus();
    return SOLVAN_OK;
}

/* ---- Attach and detach. */

/* Stores `record` in the first empty of `count` slots of `table`. Returns the slot, or -1 when
** the table is full; the caller holds the bus mutex. `highest` and `noun` serve the count line. */
static int store_in_table(void** table, int count, void* record, int* highest, const char* noun) {
    for (int i = 0; i < count; i++)
        if (table[i] == NULL) {
            if (i > *highest) {
                *highest = i;
                solvan_debug("%d %s attached", i + 1, noun);
            }
            table[i] = record;
            return i;
        }
    return -1;
}

/* Empties the slot of `record` in `table`. Returns whether it was there; the caller holds the
** bus mutex. */
static bool remove_from_table(void** table, int count, const void* record) {
    for (int i = 0; i < count; i++)
        if (table[i] == record) {
            table[i] = NULL;
            return true;
        }
    return false;
}

/* Sends the switch property "CONFIG" with the item "LOAD" on to the newly attached device. */
static void send_config(solvan_device* device) {
    solvan_property* config =
        solvan_init_switch_property(NULL, device->name, "CONFIG", "", "", SOLVAN_OK_STATE,
                                    SOLVAN_RW_PERM, SOLVAN_ANY_OF_MANY_RULE, 1);
    solvan_init_switch_item(&config->items[0], "LOAD", "", true);
    solvan_result result = device->change_property(device, NULL, config);
    solvan_release_property(config);
    lock_bus();
    device->last_result = result;
    unlock_bus();
}

solvan_result solvan_attach_device(solvan_device* device) {
    if (device == NULL || !atomic_load(&started)) return SOLVAN_FAILED;
    lock_bus();
    solvan_trace("SOLVAN Bus: device attach request (%s)", device->name);
    if (store_in_table((void**)devices, MAX_DEVICES, device, &highest_device, "devices") < 0) {
        unlock_bus();
        solvan_error("[%s:%d] Max device count reached", "solvan_attach_device", 409);
        return SOLVAN_TOO_MANY;
    }
    /* Cleared under the mutex: a change on another thread may already see the device. */
    device->access_token = 0;
    unlock_bus();
    if (device->attach != NULL) {
        solvan_result result = device->attach(device);
        lock_bus();
        device->last_result = result;
        unlock_bus();
    }
    if (!device->is_remote && device->change_property != NULL) send_config(device);
    lock_bus();
    device->access_token = solvan_get_device_token(device);
    unlock_bus();
    return SOLVAN_OK;
}

solvan_result solvan_attach_client(solvan_client* client) {
    if (client == NULL || !atomic_load(&started)) return SOLVAN_FAILED;
    lock_bus();
    if (store_in_table((void**)clients, MAX_CLIENTS, client, &highest_client, "clients") < 0) {
        unlock_bus();
        solvan_error("[%s:%d] Max client count reached", "solvan_attach_client", 433);
        return SOLVAN_TOO_MANY;
    }
    unlock_bus();
    if (client->attach != NULL) {
        solvan_result result = client->attach(client);
        lock_bus();
        client->last_result = result;
        unlock_bus();
    }
    solvan_trace("SOLVAN Bus: client attach request (%s)", client->name);
    return SOLVAN_OK;
}

solvan_result solvan_detach_device(solvan_device* device) {
    if (device == NULL || !atomic_load(&started)) return SOLVAN_FAILED;
    lock_bus();
    solvan_trace("SOLVAN Bus: device detach request (%s)", device->name);
    bool attached = remove_from_table((void**)devices, MAX_DEVICES, device);
    unlock_bus();
    if (attached && device->detach != NULL) {
        solvan_result result = device->detach(device);
        lock_bus();
        device->last_result = result;
        unlock_bus();
    }
    return SOLVAN_OK;
}

solvan_result solvan_detach_client(solvan_client* client) {
    if (client == NULL || !atomic_load(&started)) return SOLVAN_FAILED;
    lock_bus();
    solvan_trace("SOLVAN Bus: client detach request (%s)", client->name);
    bool attached = remove_from_table((void**)clients, MAX_CLIENTS, client);
    unlock_bus();
    if (attached && client->detach != NULL) {
        solvan_result result = client->detach(client);
        lock_bus();
        client->last_result = result;
        unlock_bus();
    }
    return SOLVAN_OK;
}

/* ---- Client requests. */

/* Returns whether `device` takes part in a request for the device named `requested`. */
static bool device_matches(const solvan_device* device, const char* requested) {
    if (requested[0] == '\0' || strcmp(requested, device->name) == 0) return true;
    if (device->name[0] != '@') return false;
    return !solvan_match_remote_by_name || strstr(requested, device->name) != NULL;
}

/* Whether a change carrying `token` may reach `device`. An unprotected device takes any; a
** protected one its own token, or the master token while one is set: an unset master token (0)
** must not open every device to requests that carry no token. */
static bool token_admits(const solvan_device* device, uint64_t token) {
    if (device->access_token == 0 || token == device->access_token) return true;
    uint64_t master = solvan_get_master_token();
    return master != 0 && token == master;
}

solvan_result solvan_enumerate_properties(solvan_client* client, solvan_property* property) {
    if (!atomic_load(&started) || property == NULL) return SOLVAN_FAILED;
    bool locked = lock_request();
    solvan_trace_property("SOLVAN Bus: property enumeration request", property, false, false);
    for (int i = 0; i < MAX_DEVICES; i++) {
        solvan_device* device = devices[i];
        if (device != NULL && device->enumerate_properties != NULL &&
            device_matches(device, property->device))
            device->last_result = device->enumerate_properties(device, client, property);
    }
    unlock_request(locked);
    return SOLVAN_OK;
}

solvan_result solvan_change_property(solvan_client* client, solvan_property* property) {
    if (!atomic_load(&started) || property == NULL) return SOLVAN_FAILED;
    bool locked = lock_request();
    solvan_trace_property("SOLVAN Bus: property change request", property, false, true);
    for (int i = 0; i < MAX_DEVICES; i++) {
        solvan_device* device = devices[i];
        if (device == NULL || device->change_property == NULL ||
            !device_matches(device, property->device))
            continue;
        solvan_trace(
            "SOLVAN Bus: Change request - Device '%s' token 0x%x, Proprerty '%s' token 0x%x",
            device->name, (unsigned)device->access_token, property->name,
            (unsigned)property->access_token);
        if (!token_admits(device, property->access_token))
            solvan_send_message(device, "Device '%s' is protected or locked for exclusive access",
                                device->name);
        else
            device->last_result = device->change_property(device, client, property);
    }
    unlock_request(locked);
    return SOLVAN_OK;
}

solvan_result solvan_enable_blob(solvan_client* client, solvan_property* property, int mode) {
    if (!atomic_load(&started) || property == NULL) return SOLVAN_FAILED;
    bool locked = lock_request();
    solvan_trace_property("SOLVAN Bus: enable BLOB mode change request", property, false, true);
    for (int i = 0; i < MAX_DEVICES; i++) {
        solvan_device* device = devices[i];
        if (device != NULL && device->enable_blob != NULL &&
            device_matches(device, property->device))
            device->last_result = device->enable_blob(device, client, property, mode);
    }
    unlock_request(locked);
    return SOLVAN_OK;
}

/* ---- Device-side routines. */

/* Which client callback a device-side routine calls. */
typedef enum { DEFINE, UPDATE, DELETE } client_call;

/* Hands `property` and `message` to every attached client with the callback of `call`; the
** caller holds the bus mutex (when locking). */
static void call_clients(client_call call, solvan_device* device, solvan_property* property,
                         const char* message) {
    for (int i = 0; i < MAX_CLIENTS; i++) {
        solvan_client* client = clients[i];
        if (client == NULL) continue;
        solvan_result (*callback)(solvan_client*, solvan_device*, solvan_property*, const char*) =
            call == DEFINE   ? client->define_property
            : call == UPDATE ? client->update_property
                             : client->delete_property;
        if (callback != NULL) client->last_result = callback(client, device, property, message);
    }
}

/* Formats the optional message into `buffer`; returns it, or NULL without a format. */
static const char* format_message(char buffer[BUS_MESSAGE_SIZE], const char* format, va_list args) {
    if (format == NULL) return NULL;
    if (vsnprintf(buffer, BUS_MESSAGE_SIZE, format, args) < 0) buffer[0] = '\0';
    return buffer;
}

/* The work of the three routines below: the property (and the message formatted from `format`
** and `args`) goes to every client under the bus mutex, with its trace dump. */
static solvan_result send_property(client_call call, solvan_device* device,
                                   solvan_property* property, const char* format, va_list args) {
    if (!atomic_load(&started) || device == NULL || property == NULL) return SOLVAN_FAILED;
    if (property->hidden) return SOLVAN_OK;
    char buffer[BUS_MESSAGE_SIZE];
    const char* message = format_message(buffer, format, args);
    bool locked = lock_request();
    if (call == DEFINE) {
        solvan_trace_property("SOLVAN Bus: property definition", property, true, true);
    } else if (call == DELETE) {
        solvan_trace_property("SOLVAN Bus: property removal", property, false, false);
    }
    /* A write-only property's values never leave the device: it goes out without items. */
    int32_t count = property->count;
    bool without_items = call == UPDATE && property->perm == SOLVAN_WO_PERM;
    if (call == UPDATE) {
        if (without_items) property->count = 0;
        solvan_trace_property("SOLVAN Bus: property update", property, false, true);
        property->count = count;
        if (solvan_use_blob_buffering && property->type == SOLVAN_BLOB_VECTOR &&
            property->state == SOLVAN_OK_STATE &&
            solvan_blob_table_store(property) == SOLVAN_TOO_MANY) {
            unlock_request(locked);
            solvan_error("[%s:%d] Max BLOB count reached", "solvan_update_property", 625);
            return SOLVAN_TOO_MANY;
        }
    }
    if (without_items) property->count = 0;
    call_clients(call, device, property, message);
    property->count = count;
    unlock_request(locked);
    return SOLVAN_OK;
}

solvan_result solvan_define_property(solvan_device* device, solvan_property* property,
                                     const char* format, ...) {
    va_list args;
    va_start(args, format);
    solvan_result result = send_property(DEFINE, device, property, format, args);
    va_end(args);
    return result;
}

solvan_result solvan_update_property(solvan_device* device, solvan_property* property,
                                     const char* format, ...) {
    va_list args;
    va_start(args, format);
    solvan_result result = send_property(UPDATE, device, property, format, args);
    va_end(args);
    return result;
}

solvan_result solvan_delete_property(solvan_device* device, solvan_property* property,
                                     const char* format, ...) {
    va_list args;
    va_start(args, format);
    solvan_result result = send_property(DELETE, device, property, format, args);
    va_end(args);
    return result;
}

solvan_result solvan_send_message(solvan_device* device, const char* format, ...) {
    if (!atomic_load(&started) || device == NULL) return SOLVAN_FAILED;
    char buffer[BUS_MESSAGE_SIZE];
    va_list args;
    va_start(args, format);
    const char* message = format_message(buffer, format, args);
    va_end(args);
    bool locked = lock_request();
    solvan_debug("SOLVAN Bus: message sent '%s'", message != NULL ? message : "");
    for (int i = 0; i < MAX_CLIENTS; i++) {
        solvan_client* client = clients[i];
        if (client != NULL && client->send_message != NULL)
            client->last_result = client->send_message(client, device, message);
    }
    unlock_request(locked);
    return SOLVAN_OK;
}
