/* Layerio: the map-table library's C interface, as far as Zonelib's
 * map-table reader uses it (initialise, open, counts, field records, one fetch
 * per row, close, shut down).
 *
 * Entries return 1 for success and 0 for failure unless they say otherwise;
 * after a failure PXGetLastError gives the reason. The library is
 * initialised by reference count: every client calls PXInitialize with
 * PX_INTERFACE_NUMBER and PXShutdown when done.
 *
 * Records crossing the interface are those of the library's 64-bit build:
 * pointers take 8 bytes.
 */
#ifndef LAYERIO_H
#define LAYERIO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define LAYERIO_API extern "C" __attribute__((visibility("default")))
#else
#define LAYERIO_API __attribute__((visibility("default")))
#endif

/* The interface number a client passes to PXInitialize. */
#define PX_INTERFACE_NUMBER 6510u
/* PXGetLastError while the library is not initialised. */
#define PX_ERROR_NOT_INITIALISED 1929
/* PXOpenTable modes. */
#define PX_OPEN_READ 1u
#define PX_OPEN_READ_WRITE 2u
/* Longest row text PXFetchRow writes, terminator included. */
#define PX_ROW_TEXT_SIZE 4000

/* A 1-based handle of an open table; 0 is never valid. */
typedef int32_t PXTableHandle;

/* The public field record (38 bytes). */
typedef struct PXFieldInfo {
  char name[32];     /* zero-terminated, at most 31 characters */
  uint8_t type;      /* 1 Char, 2 Decimal, 3 Integer, 4 Smallint, 5 Date,
                        6 Logical, 7 fixed text, 8 Float, 9 Memo */
  uint8_t width;
  uint8_t decimals;
  uint8_t spare;
  uint16_t indexed;  /* 1 when the field has a field index */
} PXFieldInfo;

/* A point of an object record, in the units of the table's coordinate system
 * (decimal degrees for earth tables). */
typedef struct PXPoint {
  double x;
  double y;
} PXPoint;

/* A section entry: a polyline section or a region polygon. */
typedef struct PXSection {
  int32_t count;
  uint32_t reserved;
  PXPoint* points;
} PXSection;

/* The public object record. Its layout depends on its type code (byte 0):
 *   201 point, 211 point with a font symbol, 212 point with a custom symbol:
 *       8 double x, 16 double y
 *   202 line: 8 x1, 16 y1, 24 x2, 32 y2 (doubles)
 *   204 polyline of one section: 8 i32 point count, 32 PXPoint* points
 *   205 region: 8 i32 polygon count, 64 PXSection* polygons
 *   210 polyline of several sections: 8 i32 section count, 48 PXSection*
 *   200 none; 203 arc, 206 text, 207 rectangle, 208 rounded rectangle,
 *   209 ellipse, 213 multipoint, 214 collection.
 * A row without an object comes with type byte 0. The pointers refer to the
 * library's own arrays, valid until the next fetch. */
#define PX_OBJECT_SIZE 352
typedef struct PXObject {
  union {
    uint8_t bytes[PX_OBJECT_SIZE];
    uint64_t align;
  } u;
} PXObject;

enum PXObjectType {
  PX_OBJECT_NONE = 200,
  PX_OBJECT_POINT = 201,
  PX_OBJECT_LINE = 202,
  PX_OBJECT_ARC = 203,
  PX_OBJECT_POLYLINE = 204,
  PX_OBJECT_REGION = 205,
  PX_OBJECT_TEXT = 206,
  PX_OBJECT_RECTANGLE = 207,
  PX_OBJECT_ROUNDED_RECTANGLE = 208,
  PX_OBJECT_ELLIPSE = 209,
  PX_OBJECT_MULTI_POLYLINE = 210,
  PX_OBJECT_FONT_POINT = 211,
  PX_OBJECT_CUSTOM_POINT = 212,
  PX_OBJECT_MULTIPOINT = 213,
  PX_OBJECT_COLLECTION = 214
};

/* Offsets of the object record's fields that readers take. */
#define PX_OBJECT_X 8
#define PX_OBJECT_Y 16
#define PX_OBJECT_X2 24
#define PX_OBJECT_Y2 32
#define PX_OBJECT_COUNT 8
#define PX_OBJECT_POLYLINE_POINTS 32
#define PX_OBJECT_MULTI_POLYLINE_SECTIONS 48
#define PX_OBJECT_REGION_POLYGONS 64

#ifdef __cplusplus
#define LAYERIO_STATIC_ASSERT static_assert
#else
#define LAYERIO_STATIC_ASSERT _Static_assert
#endif
LAYERIO_STATIC_ASSERT(sizeof(PXFieldInfo) == 38, "field record size");
LAYERIO_STATIC_ASSERT(offsetof(PXFieldInfo, type) == 32, "field type");
LAYERIO_STATIC_ASSERT(offsetof(PXFieldInfo, indexed) == 36, "field index flag");
LAYERIO_STATIC_ASSERT(sizeof(PXPoint) == 16, "point size");
LAYERIO_STATIC_ASSERT(sizeof(PXSection) == 16, "section entry size");
LAYERIO_STATIC_ASSERT(offsetof(PXSection, points) == 8, "section points");
LAYERIO_STATIC_ASSERT(sizeof(PXObject) == PX_OBJECT_SIZE, "object record size");
#undef LAYERIO_STATIC_ASSERT

/* Counted initialisation: 1, or 0 for another interface number. */
LAYERIO_API uint16_t PXInitialize(uint32_t interfaceNumber);
/* Drops one initialisation reference; the last closes every open table. */
LAYERIO_API uint16_t PXShutdown(void);
/* The code of the last error; PX_ERROR_NOT_INITIALISED before PXInitialize. */
LAYERIO_API int32_t PXGetLastError(void);
/* Opens the table definition at path (mode PX_OPEN_*): a handle, or 0. */
LAYERIO_API PXTableHandle PXOpenTable(const char* path, uint32_t mode);
LAYERIO_API uint16_t PXCloseTable(PXTableHandle table);
LAYERIO_API uint16_t PXGetRowCount(PXTableHandle table, uint32_t* rows);
LAYERIO_API uint16_t PXGetFieldCount(PXTableHandle table, uint32_t* fields);
/* The numbers of point, line and region objects; each output may be null. */
LAYERIO_API uint16_t PXGetObjectCounts(PXTableHandle table, uint32_t* points, uint32_t* lines,
                                       uint32_t* regions);
/* One record per field into the caller's array (room for the field count). */
LAYERIO_API uint16_t PXGetFieldInfo(PXTableHandle table, PXFieldInfo* fields);
/* Row number from 1: its values as TAB-separated text (PX_ROW_TEXT_SIZE
 * bytes; values that are not numbers in double quotes) and its map object.
 * Either output may be null. */
LAYERIO_API uint16_t PXFetchRow(PXTableHandle table, uint32_t row, char* rowText,
                                PXObject* object);

#endif /* LAYERIO_H */
