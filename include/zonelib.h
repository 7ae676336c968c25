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
/* Classes of the C++ interface (geometry values and facades). */
#define ZONELIB_CLASS __attribute__((visibility("default")))
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

/* ---- Distances ----------------------------------------------------------- */

/* Distance from (x1, y1) to (x2, y2), truncated to a whole number. Kind 1:
 * millionths of a degree, result in feet (0.36432 feet per millionth of
 * latitude, longitude shortened by the cosine of y1); other kinds: plain
 * units. With direction, also the bearing in whole degrees from the first
 * point (0 north, 90 east; 0 for equal points; just west of north may give
 * 360). -1 when the distance passes the 32-bit range. */
ZONELIB_API int pipDistance(int x1, int y1, int x2, int y2, int kind, int* direction);

#endif /* ZONELIB_H */
