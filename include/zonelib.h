/* Zonelib: the C interface of the boundary engine.
 *
 * Every function returns 1 for success and -1 for failure unless it says
 * otherwise; errors of a library context are read with pipErrorGet.
 *
 * Objects are named by handles: 32-bit numbers from 1 up, at most 1599 live
 * at a time in the whole process; 0 is never a handle. Each handle is used
 * from one thread at a time; different handles may be used from different
 * threads.
 */
#ifndef ZONELIB_H
#define ZONELIB_H

#include <stdint.h>

#ifdef __cplusplus
#define ZONELIB_API extern "C" __attribute__((visibility("default")))
#else
#define ZONELIB_API __attribute__((visibility("default")))
#endif

/* ---- Library context and errors ---------------------------------------- */

/* A new library context handle; 0 when it cannot be made or no handle is
 * free. Both arguments are accepted and not acted on. */
ZONELIB_API int32_t pipInit(uint32_t number, const char* text);
/* Ends a context: 1, or -1 when the handle is not a context. Objects made
 * through it stay usable until closed. */
ZONELIB_API int32_t pipTerm(uint32_t context);
/* The context's last error code (-1 when none), its message and detail
 * copied into the caller's buffers of 256 characters each (at most 255 and a
 * NUL). For a handle that is not a context: 109, with the message "Handle is
 * not recognized" and a detail that says so. */
ZONELIB_API int32_t pipErrorGet(uint32_t context, char* message, char* detail);
/* How the context shows each error as it is recorded: 0 silent, 1 printed on
 * standard output, 2 as a message box (taken as a signed 16-bit value; other
 * values are silent). Returns the previous mode; 0 when the handle is not a
 * context. */
ZONELIB_API int32_t pipErrorShow(uint32_t context, int32_t mode);
/* Writes the version text ("Arealis+ v34.04", 16 characters with the NUL)
 * into the buffer; 1. */
ZONELIB_API int32_t pipGetVersion(char* buffer);

#endif /* ZONELIB_H */
