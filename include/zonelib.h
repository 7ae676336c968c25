/* Zonelib: the C interface of the boundary engine.
 *
 * Every function returns 1 for success and -1 for failure unless it says
 * otherwise; errors of a library context are read with pipErrorGet.
 */
#ifndef ZONELIB_H
#define ZONELIB_H

#ifdef __cplusplus
#define ZONELIB_API extern "C" __attribute__((visibility("default")))
/* Classes of the C++ interface (geometry values and facades). */
#define ZONELIB_CLASS __attribute__((visibility("default")))
#else
#define ZONELIB_API __attribute__((visibility("default")))
#endif

/* Distance from (x1, y1) to (x2, y2), truncated to a whole number. Kind 1:
 * millionths of a degree, result in feet (0.36432 feet per millionth of
 * latitude, longitude shortened by the cosine of y1); other kinds: plain
 * units. With direction, also the bearing in whole degrees from the first
 * point (0 north, 90 east; 0 for equal points; just west of north may give
 * 360). -1 when the distance passes the 32-bit range. */
ZONELIB_API int pipDistance(int x1, int y1, int x2, int y2, int kind, int* direction);

#endif /* ZONELIB_H */
