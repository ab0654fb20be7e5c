/*
** solvan_buffer_pool: the work-buffer pool of formatted device I/O.
**
** Up to 16 returned 128 KB buffers wait in slots for the next caller, so a busy driver that
** prints and scans lines does not allocate and free 128 KB per call. The slots are guarded by
** one plain mutex; allocation of a new buffer happens outside it.
*/
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <stdlib.h>

#include "solvan_bus.h"

#define POOL_SLOTS 16 /* buffers kept for reuse */

static pthread_mutex_t pool_mutex = PTHREAD_MUTEX_INITIALIZER;
static void* pool[POOL_SLOTS];          /* returned buffers; NULL = empty slot; pool_mutex */
static bool exit_handler_added = false; /* solvan_free_large_buffers registered; pool_mutex */

void* solvan_alloc_large_buffer(void) {
    pthread_mutex_lock(&pool_mutex);
    if (!exit_handler_added) {
        atexit(solvan_free_large_buffers);
        exit_handler_added = true;
    }
    for (int i = 0; i < POOL_SLOTS; i++) {
        if (pool[i] != NULL) {
            void* buffer = pool[i];
            pool[i] = NULL;
            pthread_mutex_unlock(&pool_mutex);
            return buffer;
        }
    }
    pthread_mutex_unlock(&pool_mutex);
    return solvan_safe_malloc(SOLVAN_LARGE_BUFFER_SIZE);
}

void solvan_free_large_buffer(void* buffer) {
    if (buffer == NULL) return;
    pthread_mutex_lock(&pool_mutex);
    for (int i = 0; i < POOL_SLOTS; i++) {
        if (pool[i] == NULL) {
            pool[i] = buffer;
            pthread_mutex_unlock(&pool_mutex);
            return;
        }
    }
    pthread_mutex_unlock(&pool_mutex);
    free(buffer);
}

void solvan_free_large_buffers(void) {
    pthread_mutex_lock(&pool_mutex);
    for (int i = 0; i < POOL_SLOTS; i++) {
        free(pool[i]);
        pool[i] = NULL;
    }
    pthread_mutex_unlock(&pool_mutex);
}
