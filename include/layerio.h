/* Layerio: the map-table library's C interface.
 *
 * Entries return 1 for success and 0 for failure unless they say otherwise;
 * after a failure PXGetLastError gives the reason. The library is
 * initialised by reference count: every client calls PXInitialize with
 * PX_INTERFACE_NUMBER and PXShutdown when done; the last PXShutdown closes
 * every table still open, writing its changes.
 *
 * Every entry except those marked "unguarded" first checks that the library
 * is initialised (else it returns its failure value and records nothing),
 * then clears the error record and runs its work; nothing thrown and no
 * trapped fatal error leaves an entry: a trapped fatal error (see
 * PXToggleFatalErrors) ends the entry with its failure value and code 479.
 * Entries on a table handle then check it: 644 a handle that names no open
 * table, 891 a write on a read-only handle, 683 a handle that is not a native
 * table.
 *
 * The library keeps its state process-wide, starts no threads and takes no
 * locks: callers use it from one thread at a time.
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

/* Codes PXGetLastError gives for the frame's own failures. */
#define PX_ERROR_INTERNAL 479          /* a trapped fatal error or an exception */
#define PX_ERROR_OUT_OF_MEMORY 632
#define PX_ERROR_GROW_FAILED 633       /* the handle table could not grow */
#define PX_ERROR_BAD_HANDLE 644        /* also a bad argument */
#define PX_ERROR_NOT_NATIVE 683        /* the handle is not a native table */
#define PX_ERROR_READ_ONLY 891         /* the handle is not read-write */
#define PX_ERROR_ALREADY_OPEN 432      /* the definition file is open already */
#define PX_ERROR_BAD_CHARSET 1283      /* PXSetCharset: code outside 0..56 */
#define PX_ERROR_TABLES_OPEN 1924      /* PXSetCharset while a table is open */
#define PX_ERROR_NOT_INITIALISED 1929  /* before PXInitialize / after PXShutdown */
#define PX_ERROR_REFUSED 1930          /* the last PXInitialize had a wrong number */
/* A data kind that has no driver in this library: the operation makes its
 * checks, then fails with this code. */
#define PX_ERROR_NO_DRIVER 1950
/* PXInsertRow, PXUpdateRow: a row value its field cannot hold (a number
 * text that is no number, not whole or out of range for an integer field,
 * or wider than the field keeps it); nothing of the row is written. */
#define PX_ERROR_VALUE_REFUSED 1960
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
  uint8_t width;     /* Char and Decimal: characters; Float, Integer and
                        Smallint: bytes of the stored binary value (8, 4 and
                        2 in a native table), not digits */
  uint8_t decimals;  /* Decimal: digits after the point */
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

/* The public object record: PX_OBJECT_SIZE bytes, zero-filled before the
 * library fills it. Byte 0 is the type code (enum PXObjectType), bytes 1 to 7
 * are zero; a row without an object comes with type byte 0. The layout of the
 * rest depends on the type code; the offsets are the PX_OBJECT_* constants
 * below (this is the 64-bit layout: every pointer takes 8 bytes and sits on
 * an 8-byte boundary).
 *
 * Coordinates are doubles in the units of the coordinate system in which the
 * object crosses: the one set with PXSetApiCoordSys, else the table's
 * (decimal degrees for longitude/latitude tables). A rectangle is four
 * doubles x1, y1, x2, y2; angles are doubles in degrees. Counts and flags are
 * u32. Colours are 0xRRGGBB in a u32: the top byte is ignored inward and
 * written 0 outward.
 *
 *   200 none
 *   201 point with a vector symbol, 211 with a font symbol, 212 with a
 *       custom symbol: X, Y, SYMBOL (the symbol record of the code)
 *   202 line: X, Y (start), X2, Y2 (end), LINE_PEN
 *   203 arc: RECT (the arc's ellipse), ARC_START, ARC_END, ARC_PEN
 *   204 polyline of one section: COUNT (points), POLYLINE_FLAGS (bit 0
 *       smoothed), POLYLINE_PEN, POLYLINE_POINTS (PXPoint*)
 *   205 region: COUNT (polygons), REGION_PEN, REGION_BRUSH,
 *       REGION_CENTROID_X, REGION_CENTROID_Y, REGION_POLYGONS (PXSection*)
 *   206 text: RECT (the unrotated text box), TEXT_LINE_END_X, TEXT_LINE_END_Y
 *       (end of the label line), TEXT_PEN (of the label line), TEXT_ANGLE,
 *       TEXT_ATTRIBUTES (u16: bits 0-1 justification, 2-3 line spacing, 4-6
 *       label line; bits 4-6 not all 0: the text has a label line),
 *       TEXT_FONT, TEXT_STRING (char*, zero-terminated, lines end in LF)
 *   207 rectangle, 209 ellipse: RECT, RECT_PEN, RECT_BRUSH
 *   208 rounded rectangle: RECT, CORNER_WIDTH, CORNER_HEIGHT (doubles, in
 *       coordinate units), ROUNDED_PEN, ROUNDED_BRUSH
 *   210 polyline of several sections: COUNT (sections), POLYLINE_FLAGS,
 *       POLYLINE_PEN, MULTI_POLYLINE_SECTIONS (PXSection*)
 *   213 multipoint: MULTIPOINT_SYMBOL_TYPE (u32: 201, 211 or 212),
 *       MULTIPOINT_SYMBOL (the symbol record of that code),
 *       MULTIPOINT_COUNT, MULTIPOINT_POINTS (PXPoint*)
 *   214 collection: up to three parts, each present when its count is not 0:
 *       a multipoint part laid out exactly as code 213; a polyline part laid
 *       out as code 210 shifted by COLLECTION_POLYLINE bytes; a region part
 *       laid out as code 205 shifted by COLLECTION_REGION bytes.
 *
 * Style records inside the object record:
 *   pen, 16 bytes: four u32, width, pattern, a kept word, colour.
 *   brush, 16 bytes: u32 pattern (0 taken as 1), u32 foreground, u32
 *       background, u32 transparency flag.
 *   vector symbol (201): PX_SYMBOL_CODE u32, PX_SYMBOL_COLOUR u32,
 *       PX_SYMBOL_SIZE i16 (1..240).
 *   font symbol (211): PX_SYMBOL_CODE, PX_SYMBOL_COLOUR, PX_SYMBOL_SIZE,
 *       PX_FONT_SYMBOL_NAME char[32], PX_FONT_SYMBOL_STYLE u16,
 *       PX_FONT_SYMBOL_ANGLE double (degrees).
 *   custom symbol (212): PX_CUSTOM_SYMBOL_NAME char[32],
 *       PX_CUSTOM_SYMBOL_COLOUR u32, PX_CUSTOM_SYMBOL_SIZE i16,
 *       PX_CUSTOM_SYMBOL_STYLE u16.
 *   font (206): PX_FONT_STYLE u32 (bits 0-7), PX_FONT_FLAGS three u16,
 *       PX_FONT_NAME char[32], PX_FONT_FOREGROUND u32, PX_FONT_BACKGROUND
 *       u32, PX_FONT_BACKGROUND_FLAG u32.
 *
 * Limits: 1 to 24,403,223 sections; 1 to 134,217,724 points in a section,
 * a one-section polyline or a multipoint. The pointers of a filled record
 * refer to the library's own arrays, valid until the next conversion (fetch,
 * convert) or PXShutdown. */
#define PX_OBJECT_SECTIONS_MAX 24403223
#define PX_SECTION_POINTS_MAX 134217724
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

/* Byte offsets of the object record's fields, by type code. */
#define PX_OBJECT_TYPE 0
/* 201, 211, 212 */
#define PX_OBJECT_X 8
#define PX_OBJECT_Y 16
#define PX_OBJECT_SYMBOL 24
/* 202 */
#define PX_OBJECT_X2 24
#define PX_OBJECT_Y2 32
#define PX_OBJECT_LINE_PEN 40
/* 203, 206, 207, 208, 209: the rectangle */
#define PX_OBJECT_RECT 8
/* 203 */
#define PX_OBJECT_ARC_START 40
#define PX_OBJECT_ARC_END 48
#define PX_OBJECT_ARC_PEN 56
/* 204, 205, 210: the point, polygon or section count */
#define PX_OBJECT_COUNT 8
/* 204, 210 */
#define PX_OBJECT_POLYLINE_FLAGS 12
#define PX_OBJECT_POLYLINE_PEN 16
#define PX_OBJECT_POLYLINE_POINTS 32        /* 204 */
#define PX_OBJECT_MULTI_POLYLINE_SECTIONS 48 /* 210 */
/* 205 */
#define PX_OBJECT_REGION_PEN 12
#define PX_OBJECT_REGION_BRUSH 28
#define PX_OBJECT_REGION_CENTROID_X 48
#define PX_OBJECT_REGION_CENTROID_Y 56
#define PX_OBJECT_REGION_POLYGONS 64
/* 206 */
#define PX_OBJECT_TEXT_LINE_END_X 40
#define PX_OBJECT_TEXT_LINE_END_Y 48
#define PX_OBJECT_TEXT_PEN 56
#define PX_OBJECT_TEXT_ANGLE 72
#define PX_OBJECT_TEXT_ATTRIBUTES 80
#define PX_OBJECT_TEXT_FONT 84
#define PX_OBJECT_TEXT_STRING 144
/* 207, 209 */
#define PX_OBJECT_RECT_PEN 40
#define PX_OBJECT_RECT_BRUSH 56
/* 208 */
#define PX_OBJECT_CORNER_WIDTH 40
#define PX_OBJECT_CORNER_HEIGHT 48
#define PX_OBJECT_ROUNDED_PEN 56
#define PX_OBJECT_ROUNDED_BRUSH 72
/* 213, and the multipoint part of 214 */
#define PX_OBJECT_MULTIPOINT_SYMBOL_TYPE 8
#define PX_OBJECT_MULTIPOINT_SYMBOL 16
#define PX_OBJECT_MULTIPOINT_COUNT 88
#define PX_OBJECT_MULTIPOINT_POINTS 96
/* 214: shifts of the polyline part (a 210 layout) and the region part (a 205
 * layout); their counts sit at COUNT + the shift. */
#define PX_OBJECT_COLLECTION_POLYLINE 96
#define PX_OBJECT_COLLECTION_REGION 144

/* Sizes of the style records and their fields. */
#define PX_PEN_SIZE 16
#define PX_BRUSH_SIZE 16
#define PX_SYMBOL_CODE 0
#define PX_SYMBOL_COLOUR 4
#define PX_SYMBOL_SIZE 8
#define PX_FONT_SYMBOL_NAME 10
#define PX_FONT_SYMBOL_STYLE 42
#define PX_FONT_SYMBOL_ANGLE 48
#define PX_FONT_SYMBOL_SIZE 56
#define PX_CUSTOM_SYMBOL_NAME 0
#define PX_CUSTOM_SYMBOL_COLOUR 32
#define PX_CUSTOM_SYMBOL_SIZE 36
#define PX_CUSTOM_SYMBOL_STYLE 38
#define PX_CUSTOM_SYMBOL_RECORD_SIZE 40
#define PX_FONT_STYLE 0
#define PX_FONT_FLAGS 4
#define PX_FONT_NAME 10
#define PX_FONT_FOREGROUND 44
#define PX_FONT_BACKGROUND 48
#define PX_FONT_BACKGROUND_FLAG 52
#define PX_FONT_SIZE 56
#define PX_STYLE_NAME_SIZE 32

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
/* The offsets other programs were built against, and the room each field
 * needs before the next one. */
LAYERIO_STATIC_ASSERT(PX_OBJECT_X == 8 && PX_OBJECT_Y == 16, "point offsets");
LAYERIO_STATIC_ASSERT(PX_OBJECT_X2 == 24 && PX_OBJECT_Y2 == 32, "line offsets");
LAYERIO_STATIC_ASSERT(PX_OBJECT_COUNT == 8, "count offset");
LAYERIO_STATIC_ASSERT(PX_OBJECT_POLYLINE_POINTS == 32, "polyline points offset");
LAYERIO_STATIC_ASSERT(PX_OBJECT_MULTI_POLYLINE_SECTIONS == 48, "sections offset");
LAYERIO_STATIC_ASSERT(PX_OBJECT_REGION_POLYGONS == 64, "polygons offset");
LAYERIO_STATIC_ASSERT(PX_OBJECT_SYMBOL + PX_FONT_SYMBOL_SIZE <= PX_OBJECT_SIZE, "point symbol");
LAYERIO_STATIC_ASSERT(PX_OBJECT_LINE_PEN + PX_PEN_SIZE <= PX_OBJECT_SIZE, "line pen");
LAYERIO_STATIC_ASSERT(PX_OBJECT_RECT + 32 == PX_OBJECT_ARC_START, "arc rectangle");
LAYERIO_STATIC_ASSERT(PX_OBJECT_POLYLINE_PEN + PX_PEN_SIZE <= PX_OBJECT_POLYLINE_POINTS,
                      "polyline pen");
LAYERIO_STATIC_ASSERT(PX_OBJECT_REGION_PEN + PX_PEN_SIZE <= PX_OBJECT_REGION_BRUSH &&
                          PX_OBJECT_REGION_BRUSH + PX_BRUSH_SIZE <= PX_OBJECT_REGION_CENTROID_X,
                      "region styles");
LAYERIO_STATIC_ASSERT(PX_OBJECT_TEXT_PEN + PX_PEN_SIZE <= PX_OBJECT_TEXT_ANGLE &&
                          PX_OBJECT_TEXT_FONT + PX_FONT_SIZE <= PX_OBJECT_TEXT_STRING,
                      "text fields");
LAYERIO_STATIC_ASSERT(PX_OBJECT_ROUNDED_PEN + PX_PEN_SIZE <= PX_OBJECT_ROUNDED_BRUSH,
                      "rounded rectangle styles");
LAYERIO_STATIC_ASSERT(PX_OBJECT_MULTIPOINT_SYMBOL + PX_FONT_SYMBOL_SIZE <=
                          PX_OBJECT_MULTIPOINT_COUNT,
                      "multipoint symbol");
LAYERIO_STATIC_ASSERT(PX_OBJECT_MULTIPOINT_POINTS + 8 <=
                          PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_COUNT,
                      "collection polyline part");
LAYERIO_STATIC_ASSERT(PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_MULTI_POLYLINE_SECTIONS + 8 <=
                          PX_OBJECT_COLLECTION_REGION + PX_OBJECT_COUNT,
                      "collection region part");
LAYERIO_STATIC_ASSERT(PX_OBJECT_COLLECTION_REGION + PX_OBJECT_REGION_POLYGONS + 8 <=
                          PX_OBJECT_SIZE,
                      "collection size");
LAYERIO_STATIC_ASSERT(PX_OBJECT_POLYLINE_POINTS % 8 == 0 &&
                          PX_OBJECT_MULTI_POLYLINE_SECTIONS % 8 == 0 &&
                          PX_OBJECT_REGION_POLYGONS % 8 == 0 && PX_OBJECT_TEXT_STRING % 8 == 0 &&
                          PX_OBJECT_MULTIPOINT_POINTS % 8 == 0 &&
                          PX_OBJECT_COLLECTION_POLYLINE % 8 == 0 &&
                          PX_OBJECT_COLLECTION_REGION % 8 == 0,
                      "pointers on 8-byte boundaries");
LAYERIO_STATIC_ASSERT(PX_FONT_SYMBOL_NAME + PX_STYLE_NAME_SIZE <= PX_FONT_SYMBOL_STYLE &&
                          PX_FONT_SYMBOL_ANGLE + 8 == PX_FONT_SYMBOL_SIZE,
                      "font symbol record");
LAYERIO_STATIC_ASSERT(PX_CUSTOM_SYMBOL_STYLE + 2 == PX_CUSTOM_SYMBOL_RECORD_SIZE,
                      "custom symbol record");
LAYERIO_STATIC_ASSERT(PX_FONT_NAME + PX_STYLE_NAME_SIZE <= PX_FONT_FOREGROUND &&
                          PX_FONT_BACKGROUND_FLAG + 4 == PX_FONT_SIZE,
                      "font record");

/* The coordinate-system record (288 bytes) and the datum record (80 bytes):
 * the library's own layouts, passed through as they are. A caller may read
 * the projection number (u16; 0 is a non-earth system) and the bounds (x1,
 * y1, x2, y2 as doubles, in the system's units; a table's whole integer
 * range for PXGetTableCoordSys). A caller that builds a longitude/latitude
 * system (projection 1) sets the projection, the datum record (as
 * PXGetDatum gives it), the axis layout (u8; 2 is north up, the library's
 * own) and the bounds, and leaves the rest zero. */
#define PX_COORDSYS_SIZE 288
#define PX_COORDSYS_PROJECTION 0
#define PX_COORDSYS_DATUM 8
#define PX_COORDSYS_LONLAT_QUADRANT 90
#define PX_COORDSYS_BOUNDS 256
typedef struct PXCoordSys {
  union {
    uint8_t bytes[PX_COORDSYS_SIZE];
    double align;
  } u;
} PXCoordSys;
#define PX_DATUM_SIZE 80
typedef struct PXDatum {
  union {
    uint8_t bytes[PX_DATUM_SIZE];
    double align;
  } u;
} PXDatum;
/* The parts of a query definition; made by PXGetQueryInfo, freed by
 * PXFreeQueryInfo. Column and table names are cut to 31 characters. */
typedef struct PXQueryTable {
  char path[260]; /* full path of the base table's definition */
  char name[32];  /* its alias */
} PXQueryTable;
typedef struct PXQueryColumn {
  char alias[32];  /* the column's "As" name, empty when none */
  uint32_t table;  /* index of its base table, from 0 */
  char name[32];   /* without its alias prefix */
} PXQueryColumn;
typedef struct PXQueryCondition {
  uint32_t leftTable;
  char leftName[32];
  uint32_t rightTable;
  char rightName[32];
} PXQueryCondition;
typedef struct PXQueryInfo {
  uint32_t tableCount;
  PXQueryTable* tables;
  uint32_t columnCount;
  PXQueryColumn* columns;
  PXQueryCondition* conditions; /* tableCount - 1 of them */
} PXQueryInfo;
/* PXEnumMetadata's callback: a key's name and value (texts owned by the
 * library for the call). */
typedef void (*PXMetadataCallback)(const char* name, const char* value);
LAYERIO_STATIC_ASSERT(sizeof(PXCoordSys) == PX_COORDSYS_SIZE, "coordinate-system record size");
LAYERIO_STATIC_ASSERT(sizeof(PXDatum) == PX_DATUM_SIZE, "datum record size");
LAYERIO_STATIC_ASSERT(sizeof(PXQueryTable) == 292, "query table record size");
LAYERIO_STATIC_ASSERT(sizeof(PXQueryColumn) == 68, "query column record size");
LAYERIO_STATIC_ASSERT(sizeof(PXQueryCondition) == 72, "query condition record size");
#undef LAYERIO_STATIC_ASSERT

/* The interface, one entry per ordinal. ELF libraries have no ordinals: the
 * entries are exported by name, and the ordinals below (those of the
 * library's first platform) stay here so that a program written against them
 * can be matched name by name.
 *
 *   101 PXGetCharsetName      114 PXFreeQueryInfo        127 PXGetRowCount
 *   102 PXCloseTable          115 PXGetFieldInfo         128 PXGetTableVersion
 *   103 PXFindDatum           116 PXGetTableCoordSys     129 PXGetTablePath
 *   104 PXCreateIndex         117 PXCoordSysToString     130 PXHasMemoFields
 *   105 PXCreateMap           118 PXGetDatum             131 PXGetFieldIndexId
 *   106 PXCreateTable         119 PXSetDefaultBounds     132 PXFindIndexed
 *   107 PXDeleteMetadataKey   120 PXGetEllipsoid         133 PXInitialize
 *   108 PXDropIndex           121 PXGetLastError         134 PXInsertRow
 *   109 PXDropMap             122 PXGetIndexList         135 PXOpenTable
 *   110 PXDeleteTable         123 PXGetMetadataValue     136 PXGetQueryInfo
 *   111 PXToggleFatalErrors   124 PXGetLibraryVersion    137 PXRegisterTable
 *   112 PXEnumMetadata        125 PXGetFieldCount        138 PXRenameTable
 *   113 PXFetchRow            126 PXGetObjectCounts      139 PXSetCharset
 *   140 PXSetRawText          144 PXSetApiCoordSys       148 PXDistance
 *   141 PXSetMetadataValue    145 PXCoordSysToClause     149 PXObjectsIntersect
 *   142 PXShutdown            146 PXSaveMetadata         150 PXParseCoordSys
 *   143 PXUpdateRow           147 PXConvertObject        151 PXGetDatumMode
 *                                                        152 PXSetDatumMode
 *
 * Every entry is built. Entries run their checks (initialisation; for a
 * handle: 644, 891, 683) before their work; entries without a result leave
 * their outputs zero-filled on failure. */

/* 101: the current charset code (-1 before PXInitialize, output untouched).
 * With a name output (40 bytes): the name of charset `code` (-1 the current
 * one), empty outside 0..56. */
LAYERIO_API int32_t PXGetCharsetName(int32_t code, char* name);
/* 102: closes a handle, writing the table's changes. */
LAYERIO_API uint16_t PXCloseTable(PXTableHandle table);
/* 103 (unguarded): the number of a datum equal to the record. */
LAYERIO_API uint16_t PXFindDatum(const PXDatum* datum, uint16_t* number);
LAYERIO_API uint16_t PXCreateIndex(PXTableHandle table, uint32_t field);
LAYERIO_API uint16_t PXCreateMap(PXTableHandle table, const PXCoordSys* coordSys);
/* 106: creates a table of `count` fields; coordSys null for a table without
 * a map part. A handle, or 0. */
LAYERIO_API PXTableHandle PXCreateTable(const char* path, const PXFieldInfo* fields,
                                        uint32_t count, const PXCoordSys* coordSys,
                                        uint32_t dataKind);
LAYERIO_API uint16_t PXDeleteMetadataKey(PXTableHandle table, const char* key);
LAYERIO_API uint16_t PXDropIndex(PXTableHandle table, uint32_t field);
LAYERIO_API uint16_t PXDropMap(PXTableHandle table);
LAYERIO_API uint16_t PXDeleteTable(PXTableHandle table);
/* 111 (unguarded): 0 gives the fatal-error trapping state (off at start); any
 * other flag toggles it. The state after the call. */
LAYERIO_API uint16_t PXToggleFatalErrors(uint16_t flag);
LAYERIO_API uint16_t PXEnumMetadata(PXTableHandle table, const char* prefix,
                                    PXMetadataCallback callback);
/* 113: row number from 1: its values as TAB-separated text (PX_ROW_TEXT_SIZE
 * bytes; values that are not numbers in double quotes) and its map object.
 * Either output may be null. */
LAYERIO_API uint16_t PXFetchRow(PXTableHandle table, uint32_t row, char* rowText,
                                PXObject* object);
/* 114 (unguarded): frees *info and nulls it. */
LAYERIO_API void PXFreeQueryInfo(PXQueryInfo** info);
/* 115: one record per field into the caller's array (room for the field count). */
LAYERIO_API uint16_t PXGetFieldInfo(PXTableHandle table, PXFieldInfo* fields);
/* 116: the system of the table's map file, its bounds the whole range the
 * table's coordinates can take; 1920 for a table without a map file. */
LAYERIO_API uint16_t PXGetTableCoordSys(PXTableHandle table, PXCoordSys* coordSys);
/* 117 (unguarded): the record as its clause with bounds (254 bytes); 0 for a
 * projection number outside 0..31. */
LAYERIO_API uint16_t PXCoordSysToString(const PXCoordSys* coordSys, char* text);
/* 118: the datum record of a number (zero-filled before PXInitialize). */
LAYERIO_API uint16_t PXGetDatum(uint32_t number, PXDatum* datum);
/* 119 (unguarded): the record's bounds become the default range of its
 * projection and parameters; a projection outside 0..31 is left unchanged. */
LAYERIO_API void PXSetDefaultBounds(PXCoordSys* coordSys);
/* 120: three doubles of an ellipsoid (zero-filled before PXInitialize). */
LAYERIO_API void PXGetEllipsoid(uint32_t number, double* values);
/* 121: the code of the first error of the last guarded entry; 1929 before
 * PXInitialize, 1930 after a refused one. */
LAYERIO_API int32_t PXGetLastError(void);
LAYERIO_API uint16_t PXGetIndexList(PXTableHandle table, char* text);
LAYERIO_API uint16_t PXGetMetadataValue(PXTableHandle table, const char* key, char* value,
                                        uint32_t size);
/* 124 (unguarded): 8, 5, 0 into the outputs that are not null; 1. */
LAYERIO_API uint16_t PXGetLibraryVersion(uint32_t* major, uint32_t* minor, uint32_t* patch);
LAYERIO_API uint16_t PXGetFieldCount(PXTableHandle table, uint32_t* fields);
/* 126: the numbers of point, line and region objects; each output may be null;
 * all 0 for a table without a map part. */
LAYERIO_API uint16_t PXGetObjectCounts(PXTableHandle table, uint32_t* points, uint32_t* lines,
                                       uint32_t* regions);
LAYERIO_API uint16_t PXGetRowCount(PXTableHandle table, uint32_t* rows);
LAYERIO_API uint16_t PXGetTableVersion(PXTableHandle table, uint32_t* version,
                                       uint32_t* dataKind);
LAYERIO_API uint16_t PXGetTablePath(PXTableHandle table, char* path);
LAYERIO_API uint16_t PXHasMemoFields(PXTableHandle table);
/* 131: the field's index number, 0 when none. */
LAYERIO_API uint32_t PXGetFieldIndexId(PXTableHandle table, uint32_t field);
/* 132: how 1 first, 2 next; 1 found, 2 not found, 3 next before first. */
LAYERIO_API uint16_t PXFindIndexed(PXTableHandle table, uint32_t field, const char* key,
                                   uint32_t how, uint32_t* row);
/* 133: counted initialisation: 1, or 0 for another interface number (then
 * PXGetLastError gives 1930). */
LAYERIO_API uint16_t PXInitialize(uint32_t interfaceNumber);
LAYERIO_API uint16_t PXInsertRow(PXTableHandle table, const char* rowText,
                                 const PXObject* object, uint32_t* row);
/* 135: opens the table definition at path (mode PX_OPEN_*): a handle, or 0. */
LAYERIO_API PXTableHandle PXOpenTable(const char* path, uint32_t mode);
LAYERIO_API uint16_t PXGetQueryInfo(const char* path, PXQueryInfo** info);
LAYERIO_API PXTableHandle PXRegisterTable(const char* tablePath, const char* dataPath,
                                          uint32_t dataKind);
LAYERIO_API uint16_t PXRenameTable(PXTableHandle table, const char* newPath);
/* 139: the library charset (0..56; 1283 otherwise); refused with 1924 while
 * a table is open. */
LAYERIO_API uint16_t PXSetCharset(int32_t code);
/* 140 (unguarded): nonzero leaves text values of the row text unquoted; the
 * flag. */
LAYERIO_API uint16_t PXSetRawText(uint16_t flag);
LAYERIO_API uint16_t PXSetMetadataValue(PXTableHandle table, const char* key, const char* value);
/* 142: drops one initialisation reference; the last closes every open table
 * (writing its changes) and frees the library's state. */
LAYERIO_API uint16_t PXShutdown(void);
LAYERIO_API uint16_t PXUpdateRow(PXTableHandle table, uint32_t row, const char* rowText,
                                 const PXObject* object);
/* 144: objects of this handle cross in the record's system from now on
 * (unconverted while it matches the table's); 644 for a projection number
 * outside 0..31. A longitude/latitude record with the bounds (-360, -90,
 * 360, 90) stands for (-1000, -1000, 1000, 1000), here and in 145, 147, 148
 * and 149. */
LAYERIO_API uint16_t PXSetApiCoordSys(PXTableHandle table, const PXCoordSys* coordSys);
/* 145: the CoordSys clause of a record (300 bytes). */
LAYERIO_API uint16_t PXCoordSysToClause(const PXCoordSys* coordSys, char* text);
LAYERIO_API uint16_t PXSaveMetadata(PXTableHandle table);
/* 147: the object from the first system into the second; 644 when it cannot
 * be converted (the output is then zero-filled). */
LAYERIO_API uint16_t PXConvertObject(const PXObject* in, const PXCoordSys* inCoordSys,
                                     PXObject* out, const PXCoordSys* outCoordSys);
/* 148: the distance between two points (a of code 201, 211 or 212, else 644)
 * in a unit: flag 0 planar in a projected system, else on the sphere. */
LAYERIO_API uint16_t PXDistance(double* distance, const PXObject* a, const PXObject* b,
                                const PXCoordSys* coordSys, uint32_t unit, uint16_t flag);
/* 149: 1 when the objects meet; 0 when not, or with 644 when one cannot be
 * converted. */
LAYERIO_API uint16_t PXObjectsIntersect(const PXObject* a, const PXObject* b,
                                        const PXCoordSys* coordSys);
/* 150: the record of a CoordSys clause (644 when it does not parse), with
 * the whole range of the system as bounds. */
LAYERIO_API uint16_t PXParseCoordSys(const char* clause, PXCoordSys* coordSys);
/* 151, 152 (unguarded): the datum-conversion mode (1 at start). */
LAYERIO_API uint16_t PXGetDatumMode(void);
LAYERIO_API uint16_t PXSetDatumMode(uint16_t mode);

#endif /* LAYERIO_H */
