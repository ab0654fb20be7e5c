/*
** solvan_client: what a client calls on top of the bus. One-call change requests that build a
** temporary property, send it through solvan_change_property and release it; connecting and
** disconnecting a device; the local-machine suffix of device names; and running a property
** handler or any routine on a detached thread.
*/
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "solvan_bus_private.h"
#include "solvan_token.h"

/* Sends `request` through the bus, releases it and returns the change's result. */
static solvan_result send_request(solvan_client* client, solvan_property* request, uint64_t token) {
    request->access_token = token;
    solvan_result result = solvan_change_property(client, request);
    solvan_release_property(request);
    return result;
}

solvan_result solvan_change_text_property_with_token(solvan_client* client, const char* device,
                                                     uint64_t token, const char* property,
                                                     int32_t count, const char* items[],
                                                     const char* values[]) {
    solvan_property* request =
        solvan_init_text_property(NULL, device, property, "", "", SOLVAN_IDLE_STATE, 0, count);
    for (int32_t i = 0; i < count; i++)
        solvan_init_text_item_raw(&request->items[i], items[i], "", values[i]);
    return send_request(client, request, token);
}

solvan_result solvan_change_text_property(solvan_client* client, const char* device,
                                          const char* property, int32_t count, const char* items[],
                                          const char* values[]) {
    return solvan_change_text_property_with_token(
        client, device, solvan_get_device_or_master_token(device), property, count, items, values);
}

solvan_result solvan_change_text_item_with_token(solvan_client* client, const char* device,
                                                 uint64_t token, const char* property,
                                                 const char* item, const char* value) {
    return solvan_change_text_property_with_token(client, device, token, property, 1, &item,
                                                  &value);
}

solvan_result solvan_change_text_item(solvan_client* client, const char* device,
                                      const char* property, const char* item, const char* value) {
    return solvan_change_text_property_with_token(
        client, device, solvan_get_device_or_master_token(device), property, 1, &item, &value);
}

/* The formatted-text requests: the text, formatted once, goes into the item unchanged. */
static solvan_result change_text_item_v(solvan_client* client, const char* device, uint64_t token,
                                        const char* property, const char* item, const char* format,
                                        va_list args) {
    char text[BUS_MESSAGE_SIZE] = "";
    if (format != NULL && vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
    const char* value = text;
    return solvan_change_text_property_with_token(client, device, token, property, 1, &item,
                                                  &value);
}

solvan_result solvan_change_text_item_format_with_token(solvan_client* client, const char* device,
                                                        uint64_t token, const char* property,
                                                        const char* item, const char* format, ...) {
    va_list args;
    va_start(args, format);
    solvan_result result = change_text_item_v(client, device, token, property, item, format, args);
    va_end(args);
    return result;
}

solvan_result solvan_change_text_item_format(solvan_client* client, const char* device,
                                             const char* property, const char* item,
                                             const char* format, ...) {
    va_list args;
    va_start(args, format);
    solvan_result result = change_text_item_v(
        client, device, solvan_get_device_or_master_token(device), property, item, format, args);
    va_end(args);
    return result;
}

solvan_result solvan_change_number_property_with_token(solvan_client* client, const char* device,
                                                       uint64_t token, const char* property,
                                                       int32_t count, const char* items[],
                                                       const double values[]) {
    solvan_property* request =
        solvan_init_number_property(NULL, device, property, "", "", SOLVAN_IDLE_STATE, 0, count);
    for (int32_t i = 0; i < count; i++)
        solvan_init_number_item(&request->items[i], items[i], "", 0, 0, 0, values[i]);
    return send_request(client, request, token);
}

solvan_result solvan_change_number_property(solvan_client* client, const char* device,
                                            const char* property, int32_t count,
                                            const char* items[], const double values[]) {
    return solvan_change_number_property_with_token(
        client, device, solvan_get_device_or_master_token(device), property, count, items, values);
}

solvan_result solvan_change_number_item_with_token(solvan_client* client, const char* device,
                                                   uint64_t token, const char* property,
                                                   const char* item, double value) {
    return solvan_change_number_property_with_token(client, device, token, property, 1, &item,
                                                    &value);
}

solvan_result solvan_change_number_item(solvan_client* client, const char* device,
                                        const char* property, const char* item, double value) {
    return solvan_change_number_property_with_token(
        client, device, solvan_get_device_or_master_token(device), property, 1, &item, &value);
}

solvan_result solvan_change_switch_property_with_token(solvan_client* client, const char* device,
                                                       uint64_t token, const char* property,
                                                       int32_t count, const char* items[],
                                                       const bool values[]) {
    solvan_property* request =
        solvan_init_switch_property(NULL, device, property, "", "", SOLVAN_IDLE_STATE, 0, 0, count);
    for (int32_t i = 0; i < count; i++)
        solvan_init_switch_item(&request->items[i], items[i], "", values[i]);
    return send_request(client, request, token);
}

solvan_result solvan_change_switch_property(solvan_client* client, const char* device,
                                            const char* property, int32_t count,
                                            const char* items[], const bool values[]) {
    return solvan_change_switch_property_with_token(
        client, device, solvan_get_device_or_master_token(device), property, count, items, values);
}

solvan_result solvan_change_switch_item_with_token(solvan_client* client, const char* device,
                                                   uint64_t token, const char* property,
                                                   const char* item, bool value) {
    return solvan_change_switch_property_with_token(client, device, token, property, 1, &item,
                                                    &value);
}

solvan_result solvan_change_switch_item(solvan_client* client, const char* device,
                                        const char* property, const char* item, bool value) {
    return solvan_change_switch_property_with_token(
        client, device, solvan_get_device_or_master_token(device), property, 1, &item, &value);
}

/* Sends "CONNECTION" with "CONNECTED" set to `connected` and "DISCONNECTED" to its opposite. */
static solvan_result change_connection(solvan_client* client, const char* device, bool connected) {
    const char* items[] = {"CONNECTED", "DISCONNECTED"};
    const bool values[] = {connected, !connected};
    return solvan_change_switch_property(client, device, "CONNECTION", 2, items, values);
}

solvan_result solvan_device_connect(solvan_client* client, const char* device) {
    return change_connection(client, device, true);
}

solvan_result solvan_device_disconnect(solvan_client* client, const char* device) {
    return change_connection(client, device, false);
}

void solvan_strip_host_suffix(char* name) {
    if (name == NULL || name[0] == '\0') return;
    char* suffix = strstr(name, " @ ");
    if (suffix != NULL && strcmp(suffix + 3, solvan_local_name) == 0) *suffix = '\0';
}

/* ---- Threads. */

/* Starts routine(argument) on a detached thread; returns whether it started. */
static bool start_detached(void* (*routine)(void*), void* argument) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    bool started = pthread_create(&thread, &attributes, routine, argument) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}

void* _solvan_handle_property_async(void* record) {
    phd* phd = record;
    BUS_ASSERT(phd != NULL);
    phd->handler(phd->device, phd->client, phd->property);
    free(phd);
    return NULL;
}

bool solvan_handle_property_async(solvan_property_handler handler, solvan_device* device,
                                  solvan_client* client, solvan_property* property) {
    BUS_ASSERT(handler != NULL);
    phd* record = solvan_safe_malloc(sizeof *record);
    record->handler = handler;
    record->device = device;
    record->client = client;
    record->property = property;
    if (start_detached(_solvan_handle_property_async, record)) return true;
    free(record);
    return false;
}

bool solvan_async(void* (*routine)(void* argument), void* argument) {
    return start_detached(routine, argument);
}
