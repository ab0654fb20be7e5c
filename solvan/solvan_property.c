/*
** solvan_property: property and item records.
**
** A property is one allocation: the header and then `count` items, each of one size whatever
** its type (the value parts share a union). The routines here create, resize, fill, compare,
** copy, sort and release them. They take no lock: a record belongs to whoever created it.
*/
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "solvan_bus_private.h"

#define FITS_BLOCK 2880 /* bytes of one FITS block, the unit of BLOB buffers */

void solvan_copy_field(char* field, size_t size, const char* text) {
    memset(field, 0, size);
    if (text != NULL) strncpy(field, text, size - 1);
}

/* Frees the long values of the items of a text record. */
static void free_long_values(solvan_property* property) {
    if (property->type != SOLVAN_TEXT_VECTOR) return;
    for (int32_t i = 0; i < property->count; i++) {
        free(property->items[i].text.long_value);
        property->items[i].text.long_value = NULL;
    }
}

static size_t record_size(int32_t count) {
    return sizeof(solvan_property) + (size_t)count * sizeof(solvan_item);
}

/* The common part of the five initialisers; see solvan_bus.h. */
static solvan_property* init_property(solvan_property* property, const char* device,
                                      const char* name, const char* group, const char* label,
                                      uint32_t state, uint32_t type, uint32_t perm, uint32_t rule,
                                      int32_t count) {
    if (property == NULL)
        property = solvan_safe_malloc(record_size(count));
    else {
        /* A fresh start: the old record's heap copies and buffered payloads would otherwise
           outlive it. */
        free_long_values(property);
        if (property->type == SOLVAN_BLOB_VECTOR) solvan_blob_table_forget(property);
        if (property->count != count) property = solvan_safe_realloc(property, record_size(count));
    }
    memset(property, 0, record_size(count));
    solvan_copy_field(property->device, sizeof property->device, device);
    solvan_copy_field(property->name, sizeof property->name, name);
    solvan_copy_field(property->group, sizeof property->group, group);
    solvan_copy_field(property->label, sizeof property->label, label);
    property->type = type;
    property->state = state;
    property->perm = perm;
    property->rule = rule;
    property->version = 0x200;
    property->count = count;
    return property;
}

solvan_property* solvan_init_text_property(solvan_property* property, const char* device,
                                           const char* name, const char* group, const char* label,
                                           uint32_t state, uint32_t perm, int32_t count) {
    BUS_ASSERT(device != NULL);
    BUS_ASSERT(name != NULL);
    BUS_ASSERT(count >= 0);
    return init_property(property, device, name, group, label, state, SOLVAN_TEXT_VECTOR, perm, 0,
                         count);
}

solvan_property* solvan_init_number_property(solvan_property* property, const char* device,
                                             const char* name, const char* group, const char* label,
                                             uint32_t state, uint32_t perm, int32_t count) {
    BUS_ASSERT(device != NULL);
    BUS_ASSERT(name != NULL);
    BUS_ASSERT(count >= 0);
    return init_property(property, device, name, group, label, state, SOLVAN_NUMBER_VECTOR, perm, 0,
                         count);
}

solvan_property* solvan_init_switch_property(solvan_property* property, const char* device,
                                             const char* name, const char* group, const char* label,
                                             uint32_t state, uint32_t perm, uint32_t rule,
                                             int32_t count) {
    BUS_ASSERT(device != NULL);
    BUS_ASSERT(name != NULL);
    BUS_ASSERT(count >= 0);
    return init_property(property, device, name, group, label, state, SOLVAN_SWITCH_VECTOR, perm,
                         rule, count);
}

solvan_property* solvan_init_light_property(solvan_property* property, const char* device,
                                            const char* name, const char* group, const char* label,
                                            uint32_t state, int32_t count) {
    BUS_ASSERT(device != NULL);
    BUS_ASSERT(name != NULL);
    BUS_ASSERT(count >= 0);
    return init_property(property, device, name, group, label, state, SOLVAN_LIGHT_VECTOR,
                         SOLVAN_RO_PERM, 0, count);
}

solvan_property* solvan_init_blob_property(solvan_property* property, const char* device,
                                           const char* name, const char* group, const char* label,
                                           uint32_t state, int32_t count) {
    BUS_ASSERT(device != NULL);
    BUS_ASSERT(name != NULL);
    BUS_ASSERT(count >= 0);
    return init_property(property, device, name, group, label, state, SOLVAN_BLOB_VECTOR,
                         SOLVAN_RO_PERM, 0, count);
}

solvan_property* solvan_resize_property(solvan_property* property, int32_t count) {
    BUS_ASSERT(property != NULL);
    BUS_ASSERT(count >= 0);
    int32_t old = property->count;
    if (count == old) return property;
    if (property->type == SOLVAN_TEXT_VECTOR)
        for (int32_t i = count; i < old; i++)
            free(property->items[i].text.long_value);
    /* Buffered entries know their items by address, which the reallocation may change. */
    if (property->type == SOLVAN_BLOB_VECTOR) solvan_blob_table_forget(property);
    property = solvan_safe_realloc(property, record_size(count));
    if (count > old) memset(&property->items[old], 0, (size_t)(count - old) * sizeof(solvan_item));
    property->count = count;
    return property;
}

void solvan_release_property(solvan_property* property) {
    if (property == NULL) return;
    if (property->type == SOLVAN_BLOB_VECTOR) solvan_blob_table_forget(property);
    free_long_values(property);
    free(property);
}

/* ---- Items. */

/* The common start of the item initialisers: zero the item, copy name and label. */
static void init_item(solvan_item* item, const char* name, const char* label) {
    memset(item, 0, sizeof *item);
    solvan_copy_field(item->name, sizeof item->name, name);
    solvan_copy_field(item->label, sizeof item->label, label);
}

void solvan_init_switch_item(solvan_item* item, const char* name, const char* label, bool value) {
    BUS_ASSERT(item != NULL);
    BUS_ASSERT(name != NULL);
    init_item(item, name, label);
    item->sw.value = value;
}

void solvan_init_text_item(solvan_item* item, const char* name, const char* label,
                           const char* format, ...) {
    BUS_ASSERT(item != NULL);
    BUS_ASSERT(name != NULL);
    init_item(item, name, label);
    if (format == NULL) return;
    va_list args;
    va_start(args, format);
    vsnprintf(item->text.value, sizeof item->text.value, format, args);
    va_end(args);
}

void solvan_init_text_item_raw(solvan_item* item, const char* name, const char* label,
                               const char* text) {
    BUS_ASSERT(item != NULL);
    BUS_ASSERT(name != NULL);
    init_item(item, name, label);
    solvan_set_text_item_value(item, text);
}

void solvan_init_number_item(solvan_item* item, const char* name, const char* label, double min,
                             double max, double step, double value) {
    BUS_ASSERT(item != NULL);
    BUS_ASSERT(name != NULL);
    init_item(item, name, label);
    strcpy(item->number.format, "%g");
    item->number.min = min;
    item->number.max = max;
    item->number.step = step;
    item->number.value = value;
    item->number.target = value;
}

void solvan_init_light_item(solvan_item* item, const char* name, const char* label,
                            uint32_t state) {
    BUS_ASSERT(item != NULL);
    BUS_ASSERT(name != NULL);
    init_item(item, name, label);
    item->light.value = state;
}

void solvan_init_blob_item(solvan_item* item, const char* name, const char* label) {
    BUS_ASSERT(item != NULL);
    BUS_ASSERT(name != NULL);
    init_item(item, name, label);
}

/* Returns a zeroed heap copy of the first `length` - 1 characters of `text` (fewer when it
** ends sooner), zero-terminated in a buffer of `length` bytes. */
static char* copy_long_text(const char* text, uint64_t length) {
    char* copy = solvan_safe_malloc((size_t)length);
    memcpy(copy, text, strnlen(text, (size_t)length - 1));
    return copy;
}

void solvan_set_text_item_value(solvan_item* item, const char* text) {
    BUS_ASSERT(item != NULL);
    if (text == NULL) text = "";
    free(item->text.long_value);
    item->text.long_value = NULL;
    solvan_copy_field(item->text.value, sizeof item->text.value, text);
    item->text.length = (uint64_t)strlen(text) + 1;
    if (item->text.length > sizeof item->text.value)
        item->text.long_value = copy_long_text(text, item->text.length);
}

const char* solvan_get_text_item_value(const solvan_item* item) {
    if (item == NULL) return NULL;
    return item->text.long_value != NULL ? item->text.long_value : item->text.value;
}

void* solvan_alloc_blob_buffer(int64_t size) {
    int64_t blocks = size > 0 ? (size + FITS_BLOCK - 1) / FITS_BLOCK : 1;
    BUS_ASSERT(blocks <= (int64_t)(SIZE_MAX / FITS_BLOCK));
    return solvan_safe_malloc((size_t)blocks * FITS_BLOCK);
}

/* ---- Matching and switches. */

bool solvan_property_match(const solvan_property* property, const solvan_property* request) {
    if (property == NULL) return false;
    if (request == NULL) return true;
    if (request->type != 0 && request->type != property->type) return false;
    if (request->device[0] != '\0' && strcmp(request->device, property->device) != 0) return false;
    if (request->name[0] == '\0') return true;
    return strcmp(request->name, property->name) == 0;
}

bool solvan_property_match_writable(const solvan_property* property,
                                    const solvan_property* request) {
    if (property == NULL || property->perm == SOLVAN_RO_PERM) return false;
    return solvan_property_match(property, request);
}

/* Returns the first item of `property` named `name`, or NULL. */
static const solvan_item* find_item(const solvan_property* property, const char* name) {
    for (int32_t i = 0; i < property->count; i++)
        if (strcmp(property->items[i].name, name) == 0) return &property->items[i];
    return NULL;
}

bool solvan_switch_match(const solvan_item* item, const solvan_property* other) {
    BUS_ASSERT(item != NULL);
    BUS_ASSERT(other != NULL);
    BUS_ASSERT(other->type == SOLVAN_SWITCH_VECTOR);
    const solvan_item* namesake = find_item(other, item->name);
    return namesake != NULL && namesake->sw.value;
}

void solvan_set_switch(solvan_property* property, solvan_item* item, bool value) {
    BUS_ASSERT(property != NULL);
    BUS_ASSERT(property->type == SOLVAN_SWITCH_VECTOR);
    BUS_ASSERT(item != NULL);
    if (value && property->rule != SOLVAN_ANY_OF_MANY_RULE)
        for (int32_t i = 0; i < property->count; i++)
            property->items[i].sw.value = false;
    item->sw.value = value;
}

solvan_item* solvan_get_item(solvan_property* property, const char* item_name) {
    BUS_ASSERT(property != NULL);
    BUS_ASSERT(item_name != NULL);
    return (solvan_item*)find_item(property, item_name);
}

bool solvan_get_switch(const solvan_property* property, const char* item_name) {
    BUS_ASSERT(property != NULL);
    BUS_ASSERT(property->type == SOLVAN_SWITCH_VECTOR);
    BUS_ASSERT(item_name != NULL);
    const solvan_item* item = find_item(property, item_name);
    return item != NULL && item->sw.value;
}

/* ---- Copies. */

/* Returns `value` limited to min and max of the number item; max wins when min exceeds it. */
static double limited(const solvan_item* item, double value) {
    if (value < item->number.min) value = item->number.min;
    if (value > item->number.max) value = item->number.max;
    return value;
}

/* Copies the value part of `from` into `to`, both items of records of `type`. */
static void copy_item_value(uint32_t type, solvan_item* to, const solvan_item* from) {
    switch (type) {
        case SOLVAN_TEXT_VECTOR:
            free(to->text.long_value);
            to->text.long_value = NULL;
            solvan_copy_field(to->text.value, sizeof to->text.value, from->text.value);
            to->text.length = from->text.length;
            if (from->text.long_value != NULL && from->text.length > 0)
                to->text.long_value = copy_long_text(from->text.long_value, from->text.length);
            break;
        case SOLVAN_NUMBER_VECTOR:
            to->number.value = to->number.target = limited(to, from->number.value);
            break;
        case SOLVAN_SWITCH_VECTOR:
            to->sw.value = from->sw.value;
            break;
        case SOLVAN_LIGHT_VECTOR:
            to->light.value = from->light.value;
            break;
        case SOLVAN_BLOB_VECTOR:
            solvan_copy_field(to->blob.format, sizeof to->blob.format, from->blob.format);
            solvan_copy_field(to->blob.url, sizeof to->blob.url, from->blob.url);
            to->blob.size = from->blob.size;
            to->blob.value = from->blob.value;
            break;
        default:
            break;
    }
}

void solvan_property_copy_values(solvan_property* property, const solvan_property* other,
                                 bool with_state) {
    BUS_ASSERT(property != NULL);
    BUS_ASSERT(other != NULL);
    if (property->perm == SOLVAN_RO_PERM || property->type != other->type) return;
    if (with_state) property->state = other->state;
    property->access_token = other->access_token;
    if (property->type == SOLVAN_SWITCH_VECTOR && property->rule != SOLVAN_ANY_OF_MANY_RULE)
        for (int32_t i = 0; i < property->count; i++)
            property->items[i].sw.value = false;
    for (int32_t i = 0; i < other->count; i++) {
        solvan_item* namesake = (solvan_item*)find_item(property, other->items[i].name);
        if (namesake != NULL) copy_item_value(property->type, namesake, &other->items[i]);
    }
}

void solvan_property_copy_targets(solvan_property* property, const solvan_property* other,
                                  bool with_state) {
    BUS_ASSERT(property != NULL);
    BUS_ASSERT(other != NULL);
    BUS_ASSERT(property->type == SOLVAN_NUMBER_VECTOR);
    if (property->perm == SOLVAN_RO_PERM || other->type != SOLVAN_NUMBER_VECTOR) return;
    if (with_state) property->state = other->state;
    for (int32_t i = 0; i < other->count; i++)
        for (int32_t j = 0; j < property->count; j++) {
            solvan_item* item = &property->items[j];
            if (strcmp(item->name, other->items[i].name) == 0)
                item->number.target = limited(item, other->items[i].number.value);
        }
}

/* ---- Sorting. */

int solvan_compare_item_labels(const void* item, const void* other) {
    return strcasecmp(((const solvan_item*)item)->label, ((const solvan_item*)other)->label);
}

void solvan_property_sort_items(solvan_property* property, int32_t first) {
    BUS_ASSERT(property != NULL);
    if (first < 0) first = 0;
    if (property->count - first < 2) return;
    qsort(&property->items[first], (size_t)(property->count - first), sizeof(solvan_item),
          solvan_compare_item_labels);
}
