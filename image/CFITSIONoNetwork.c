/* The libcurl entry points that CFITSIO's network drivers call, answered with failure, for the
** programs that link CFITSIO statically (quasel_cfitsio_static in CMakeLists.txt): they open
** local files and memory only, so libcurl and the thirty-odd libraries behind it, whose loading
** costs a short-lived process a good part of its run, stay out. CFITSIO reports any remote
** name as a file it cannot open. */
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
