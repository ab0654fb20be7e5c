/* The network entry points CFITSIO calls for http:// and ftp:// file names, answered with
 * failure. The tool links CFITSIO statically so that a run does not load libcurl and the
 * thirty-odd libraries behind it (about a tenth of a whole run); it opens local files only,
 * and CFITSIO reports any remote name as a file it cannot open. */
#include <stddef.h>

enum { CURL_FAILED_INIT = 2 }; /* libcurl's CURLE_FAILED_INIT */

int curl_global_init(long flags) {
    (void)flags;
    return CURL_FAILED_INIT;
}

void curl_global_cleanup(void) {}

void* curl_easy_init(void) {
    return NULL;
}

int curl_easy_setopt(void* handle, int option, ...) {
    (void)handle, (void)option;
    return CURL_FAILED_INIT;
}

int curl_easy_perform(void* handle) {
    (void)handle;
    return CURL_FAILED_INIT;
}

void curl_easy_cleanup(void* handle) {
    (void)handle;
}
