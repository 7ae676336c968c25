/* Zonelib: the C interface of the boundary engine.
 *
 * Every function returns 1 for success and -1 for failure unless it says
 * otherwise; errors of a library context are read with pipErrorGet.
 */
#ifndef ZONELIB_H
#define ZONELIB_H

#ifdef __cplusplus
#define ZONELIB_API extern "C" __attribute__((visibility("default")))
#else
#define ZONELIB_API __attribute__((visibility("default")))
#endif

#endif /* ZONELIB_H */
