/* CFITSIO's network drivers, as far as the helper links them: it links CFITSIO statically and
** reads memory files only, so libcurl and its TLS stack, whose loading and start-up cost
** milliseconds per helper process, stay out. Every network open fails at once. */
#include <stddef.h>

int curl_global_init(long flags) {
    (void)flags;
    return 0; /* CURLE_OK: CFITSIO's start-up goes on */
}

void curl_global_cleanup(void) {}

void* curl_easy_init(void) {
    return NULL; /* no handle: the network drivers report failure */
}

int curl_easy_setopt(void* handle, int option, ...) {
    (void)handle, (void)option;
    return 2; /* CURLE_FAILED_INIT */
}

int curl_easy_perform(void* handle) {
    (void)handle;
    return 2; /* CURLE_FAILED_INIT */
}

void curl_easy_cleanup(void* handle) {
    (void)handle;
}
