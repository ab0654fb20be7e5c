/*
** solvan: the support library's core header.
**
** Result codes, the raw frame type shared by the star routines and the image model, and
** the library's process-wide settings.
*/
#ifndef SOLVAN_BUS_H
#define SOLVAN_BUS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
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

#ifdef __cplusplus
}
#endif

#endif /* SOLVAN_BUS_H */
