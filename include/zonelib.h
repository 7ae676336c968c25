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

#include <stddef.h>
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

/* ---- Import: building boundary files ------------------------------------ */

/* Flags of the parameter block; written to the file's header with 0x08
 * (current record layout) added. */
#define PIP_IMPORT_SEGMENTS 0x01u /* segment records for distance searches */
#define PIP_IMPORT_PACKED 0x02u   /* packed coordinates */
#define PIP_IMPORT_TAX 0x10u      /* tax boundary file: coordinates rounded to 100 */

/* Object kinds of pipObjectInfoStruct. */
#define PIP_OBJECT_REGION 0u
#define PIP_OBJECT_LINE 1u
#define PIP_OBJECT_POINT 2u

/* The import parameter block (324 bytes; the library reads bytes 0 to 291). */
typedef struct pipImportParamStruct {
  char headerText[256];   /* the header's text; empty keeps the default banner;
                             at most 255 characters are used */
  uint32_t reserved1;
  int32_t pointLimit;     /* most points in one object: 1 to 55,000,000 */
  int32_t polygonLimit;   /* most rings in one object: 1 to 16,383 */
  uint8_t reserved2[16];
  uint32_t coordinateKind; /* 1: longitude and latitude in millionths of a
                              degree, distances in feet */
  uint32_t flags;          /* PIP_IMPORT_* */
  uint8_t reserved3[32];
} pipImportParamStruct;

/* One object as pipImportInsert takes it (312 bytes). */
typedef struct pipObjectInfoStruct {
  char name[128];          /* the name index key; 127 characters at most */
  char name2[128];         /* second name */
  uint32_t kind;           /* PIP_OBJECT_* */
  uint32_t code;           /* one byte kept */
  int32_t x;               /* a point's position, or the label point of a line or */
  int32_t y;               /* region (0, 0: the centre of its bounds) */
  int32_t bounds[4];       /* xmin, ymin, xmax, ymax; not read by insert */
  uint32_t styleA;         /* pen pattern; a point's symbol shape (one byte kept) */
  uint32_t styleB;         /* pen width; a point's symbol size (one byte kept) */
  uint32_t recordNumber;   /* set by pipImportInsert: 1, 2, ... per import */
  uint32_t brushPattern;   /* regions only (one byte kept) */
  uint32_t brushColour;    /* regions only */
  uint32_t brushBackground; /* regions only */
} pipObjectInfoStruct;

/* The boundary file's extension record as it is returned (328 bytes). */
typedef struct pipObjectFileExtraInfoStruct {
  char name[256];
  char text[32];
  char created[32];        /* creation time, "Www Mmm dd hh:mm:ss yyyy" */
  uint32_t tag;            /* 12 */
  uint32_t kind;
} pipObjectFileExtraInfoStruct;

#ifdef __cplusplus
#define ZONELIB_STATIC_ASSERT static_assert
#else
#define ZONELIB_STATIC_ASSERT _Static_assert
#endif
ZONELIB_STATIC_ASSERT(sizeof(pipImportParamStruct) == 324, "parameter block size");
ZONELIB_STATIC_ASSERT(offsetof(pipImportParamStruct, pointLimit) == 260, "pointLimit");
ZONELIB_STATIC_ASSERT(offsetof(pipImportParamStruct, polygonLimit) == 264, "polygonLimit");
ZONELIB_STATIC_ASSERT(offsetof(pipImportParamStruct, coordinateKind) == 284, "coordinateKind");
ZONELIB_STATIC_ASSERT(offsetof(pipImportParamStruct, flags) == 288, "flags");
ZONELIB_STATIC_ASSERT(sizeof(pipObjectInfoStruct) == 312, "object record size");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectInfoStruct, name2) == 128, "name2");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectInfoStruct, kind) == 256, "kind");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectInfoStruct, x) == 264, "x");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectInfoStruct, bounds) == 272, "bounds");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectInfoStruct, styleA) == 288, "styleA");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectInfoStruct, recordNumber) == 296, "recordNumber");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectInfoStruct, brushBackground) == 308, "brushBackground");
ZONELIB_STATIC_ASSERT(sizeof(pipObjectFileExtraInfoStruct) == 328, "extension record size");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectFileExtraInfoStruct, text) == 256, "text");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectFileExtraInfoStruct, created) == 288, "created");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectFileExtraInfoStruct, tag) == 320, "tag");
ZONELIB_STATIC_ASSERT(offsetof(pipObjectFileExtraInfoStruct, kind) == 324, "kind");
#undef ZONELIB_STATIC_ASSERT

/* Starts building the boundary file at path: 1 and an import handle in
 * *handle, or -1 (then *handle is not written). Limits outside their ranges
 * give code 106. The limits are process-wide (those of the last successful
 * init); each import keeps the ones it was made with. */
ZONELIB_API int32_t pipImportInit(uint32_t context, const char* path,
                                  const pipImportParamStruct* params, uint32_t* handle);
/* As pipImportInit, and the file gets an extension record with name (up to
 * 255 characters), text (up to 31), kind and the creation time. */
ZONELIB_API int32_t pipImportInitEx(uint32_t context, const char* path,
                                    const pipImportParamStruct* params, uint16_t kind,
                                    const char* name, const char* text, uint32_t* handle);
/* A tax boundary file: puts "Velmore Software, Inc.\r\nTax Boundary File"
 * into the block's header text when it is empty and sets PIP_IMPORT_TAX in
 * the block's flags, then as pipImportInit. */
ZONELIB_API int32_t pipImportTXBInit(uint32_t context, const char* path,
                                     pipImportParamStruct* params, uint32_t* handle);
/* Stores one object. A line or region takes partCount parts of
 * partCounts[i] points each, as consecutive (x, y) pairs in coordinates; a
 * point takes its position from the record. Sets the record's recordNumber
 * (1 for the import's first insert, whatever its outcome). 1 or -1; a
 * line or region with a negative part count or a part of no points is
 * refused with code 106. */
ZONELIB_API int32_t pipImportInsert(uint32_t import, pipObjectInfoStruct* object,
                                    const int32_t* coordinates, const uint32_t* partCounts,
                                    int32_t partCount);
/* keep != 0: finishes the file (name index, spatial index, header); 1, or -1
 * when that fails or an object could not be stored whole. keep = 0: the file
 * is deleted; 1. The handle ends in both cases. */
ZONELIB_API int32_t pipImportTerm(uint32_t import, int32_t keep);

/* ---- Import: reading input files ----------------------------------------
 *
 * An import may hold one open input at a time; an open closes the one before
 * it. Loop on pipImportRead until it returns 0 (or -1), then close. Objects
 * read are stored with the record numbers of the input: 1, 2, ... in the
 * order of the input's records (BNA objects carry 0). Warnings (code 106)
 * are recorded and the open still succeeds. */

/* A BNA file; namePosition (1 to 3) chooses the name of each header line. */
ZONELIB_API int32_t pipImportOpenBNA(uint32_t import, const char* path, int32_t namePosition);
/* Interchange text: the .PXF file at path with its .PXD data file; names from
 * the column nameField (first column when null or not found). */
ZONELIB_API int32_t pipImportOpenPXF(uint32_t import, const char* path, const char* nameField);
/* As pipImportOpenPXF, with second names from the column nameField2. */
ZONELIB_API int32_t pipImportOpenPXF2(uint32_t import, const char* path, const char* nameField,
                                      const char* nameField2);
/* A shapefile (.shp and .shx) with its dBASE table (.dbf): path with or
 * without the extension; names from the field idField (first field when
 * null or not found), second names from secondField (none when null or not
 * found). File names are matched ignoring case. */
ZONELIB_API int32_t pipImportOpenShape(uint32_t import, const char* path, const char* idField,
                                       const char* secondField);
/* The same as pipImportOpenShape. */
ZONELIB_API int32_t pipImportOpenSHP(uint32_t import, const char* path, const char* idField,
                                     const char* secondField);
/* A map table (.TAB) through the map-table library; fields as for a
 * shapefile. */
ZONELIB_API int32_t pipImportOpenTAB(uint32_t import, const char* path, const char* idField,
                                     const char* secondField);
/* Reads and stores the next object of the open input: 1 stored, 2 a record
 * of a kind boundary files do not hold was skipped, 0 the input has ended,
 * -1 failure or no open input. name receives the object's name (at most
 * size - 1 characters; at the end the last name again), percent how far the
 * input has been read (0 to 100), count the reader's running count (lines
 * of text inputs, records of the others); either may be null. */
ZONELIB_API int32_t pipImportRead(uint32_t import, char* name, int32_t size, uint32_t* percent,
                                  uint32_t* count);
/* Closes the open input, if any; 1. */
ZONELIB_API int32_t pipImportClose(uint32_t import);

/* ---- Shapefile and dBASE files ------------------------------------------
 *
 * Readers and writers of the two halves of a shapefile set: the dBASE III
 * table (.dbf) and the main and index files (.shp, .shx). The handle records
 * belong to the caller, who zeroes them before an open or create call (a
 * dbCreate caller first fills fieldCount and fields); the functions own the
 * buffers they allocate into them, and the close call releases those.
 *
 * Every function returns 0 for success and -1 for failure; dbRead,
 * dbReadByRecno and ShapeRead return 1 at the end of the file. A failure
 * prints "<where>: <what>" on standard error. Existing files are found
 * ignoring letter case when their exact name does not exist.
 */

/* The open file behind a handle; internal to the library. */
typedef struct ShapeStream ShapeStream;

/* Field types of dBASE tables. */
#define DBF_CHARACTER 'C'
#define DBF_DATE 'D'
#define DBF_FLOAT 'F'
#define DBF_LOGICAL 'L'
#define DBF_MEMO 'M'
#define DBF_NUMERIC 'N'

/* One column of a dBASE table, with its value in the current record. */
typedef struct DbfField {
  uint32_t address;        /* bytes 12-15 of the descriptor as read; never written */
  char format[8];          /* "%<width>.<decimals>f" for numbers */
  char name[14];           /* at most 11 characters and a NUL */
  char type;               /* DBF_* */
  uint8_t width;
  uint8_t decimals;
  union {
    char text[256];        /* 'C', 'D': the field's bytes and a NUL, untrimmed */
    double number;         /* 'F', 'N' (blank or unreadable text: 0) */
    char logical;          /* 'L' */
  } value;                 /* other types: untouched */
} DbfField;

/* One open dBASE table. */
typedef struct DbfHandle {
  uint8_t version;         /* 3 for created tables */
  uint8_t updated[3];      /* year - 1900, month, day */
  uint32_t recordCount;
  uint16_t headerLength;
  uint16_t recordLength;   /* the deletion byte included */
  ShapeStream* stream;
  char* record;            /* recordLength + 1 bytes */
  uint32_t writing;        /* 1: made by dbCreate (fields belong to the caller) */
  uint32_t fieldCount;
  DbfField* fields;
} DbfHandle;

/* Shape types that the readers decode and the writers write. */
#define SHAPE_NULL 0
#define SHAPE_POINT 1
#define SHAPE_POLYLINE 3
#define SHAPE_POLYGON 5
#define SHAPE_MULTIPOINT 8

#pragma pack(push, 4)
/* One part of a polyline or polygon: count points as (x, y) pairs. Packed:
 * in 64-bit builds the pointer is not 8-byte aligned, so C++ callers copy
 * it rather than bind a reference to it. */
typedef struct ShapePart {
  uint32_t count;
  double* points;
} ShapePart;
/* The parts of one record, as ShapeWritePoly takes them. */
typedef struct ShapePartList {
  uint32_t count;
  ShapePart* parts;
} ShapePartList;
#pragma pack(pop)

/* One open shapefile (.shp with its .shx). After each ShapeRead: shapeType,
 * box and, by type, points (a point: its x, y), multiPointCount and
 * multiPoints, or partCount and parts (pointing into points). */
typedef struct ShapeHandle {
  ShapeStream* main;
  ShapeStream* index;
  uint32_t writing;        /* 1 after ShapeCreate */
  uint32_t nextRecord;     /* from 1 */
  uint32_t mainLength;     /* in 16-bit words */
  uint32_t indexLength;    /* in 16-bit words */
  uint64_t stageCapacity;  /* one record's content */
  uint64_t stageUsed;
  unsigned char* stage;
  int32_t startCapacity;   /* part starts of the current record */
  int32_t startCount;
  int32_t* starts;
  int32_t pointCapacity;
  int32_t partCapacity;
  double headerBox[4];     /* xmin, ymin, xmax, ymax of the main header as read */
  uint32_t recordCount;    /* from the index file's length */
  uint32_t shapeType;      /* the header's after open; the record's after a read
                              or a write */
  double box[4];           /* the record's after a read; the file's while writing */
  double* points;
  uint32_t multiPointCount;
  double* multiPoints;
  uint32_t partCount;
  ShapePart* parts;
} ShapeHandle;

/* Opens path for reading ("<path>.dbf" unless path ends in ".dbf") and reads
 * its header and field descriptors; the first dbRead gives the first record.
 * A header whose field descriptors do not fit its lengths fails. */
ZONELIB_API int dbOpen(DbfHandle* handle, const char* path);
/* Decodes the next record (deleted ones included) into the fields' values;
 * the header's record count ends the table. */
ZONELIB_API int dbRead(DbfHandle* handle);
/* Decodes record number (from 0). */
ZONELIB_API int dbReadByRecno(DbfHandle* handle, uint32_t number);
/* Creates path (named as for dbOpen) with the caller's fields; widths of 'D',
 * 'L' and 'M' fields become 8, 1 and 10. The caller fills the format of 'F'
 * fields. */
ZONELIB_API int dbCreate(DbfHandle* handle, const char* path);
/* Appends one record of the fields' values. A number too wide for its field
 * keeps fewer decimals; one that does not fit even without them fails. */
ZONELIB_API int dbWrite(DbfHandle* handle);
/* Finishes a created table (header with the count and today's date) and
 * releases the handle's buffers; 0 for a null handle, -1 when the header
 * or the file cannot be written. */
ZONELIB_API int dbClose(DbfHandle* handle);

/* Opens "<base>.shp" and "<base>.shx" for reading. */
ZONELIB_API int ShapeOpen(ShapeHandle* handle, const char* base);
/* Reads the next record of the main file. Types other than point, polyline,
 * polygon and multipoint (null, Z and M shapes) only set shapeType. A record
 * whose counts do not fit its length fails. */
ZONELIB_API int ShapeRead(ShapeHandle* handle);
/* Creates "<base>.shp" and "<base>.shx" with placeholder headers. */
ZONELIB_API int ShapeCreate(ShapeHandle* handle, const char* base);
/* Appends a point record at xy[0], xy[1]. */
ZONELIB_API int ShapeWritePoint(ShapeHandle* handle, const double* xy);
/* Appends a record of shapeType (SHAPE_POLYLINE, SHAPE_POLYGON) with the
 * parts in the order and orientation given. */
ZONELIB_API int ShapeWritePoly(ShapeHandle* handle, const ShapePartList* parts, int shapeType);
/* Finishes a created shapefile (both headers) and releases the handle's
 * buffers; -1 for a null handle or when a header or file cannot be written. */
ZONELIB_API int ShapeClose(ShapeHandle* handle);

/* ---- Attribute files (the Dl interface) ------------------------------- */

/* Every boundary file x.gsb has an attribute file x.gsa with the input
 * table's other columns, one record per object keyed by its record number.
 * The Dl calls read such files by pointers, not handles: a context from
 * DlInit, files opened on it, fields of a file. Text buffers take a size in
 * characters: a call writes at most size characters and a NUL. A null
 * context, file, field or key gives the call's failure value (shown below)
 * and code 100 "Null value passed." in a process-wide record; other errors
 * go to the context and are read with DlErrorGet. */
typedef struct DlContext DlContext;
typedef struct Quistrel DlFile;
typedef struct FieldId DlField;

/* A new context (name kept, up to 256 characters); 0 on failure. */
ZONELIB_API DlContext* DlInit(const char* name);
/* Closes the files still open on the context and ends it; 1, 0 for null. */
ZONELIB_API int32_t DlTerm(DlContext* context);
/* Opens an attribute file (".dld" added to a name without extension); 0
 * when it is missing ("File %s Not Found") or cannot be read ("Error opening
 * DLD file" with the reason). */
ZONELIB_API DlFile* DlFileOpen(DlContext* context, const char* name);
ZONELIB_API int32_t DlFileClose(DlFile* file);
/* Number of fields, the key field included; -1 for null. */
ZONELIB_API int32_t DlFileNumFields(DlFile* file);
/* File attributes: 0 a header word, 1 number of fields, 2 number of value
 * descriptions (numbers, returned); 3 the creation-time stamp, 4 the key
 * field's name (texts, copied; 1); 5 the letters-and-digits key flag. -1 for
 * another number or a negative size. */
ZONELIB_API int32_t DlFileGetAttribute(DlFile* file, int32_t attribute, char* buffer,
                                       int32_t size);
/* Finds the first record with the key: 1 found, 0 not. The Int forms take
 * a number (0 counts as null); the Next forms find the record after the
 * last one found when it has the same key. */
ZONELIB_API int32_t DlFileSearch(DlFile* file, const char* key);
ZONELIB_API int32_t DlFileSearchInt(DlFile* file, int32_t key);
ZONELIB_API int32_t DlFileSearchNext(DlFile* file, const char* key);
ZONELIB_API int32_t DlFileSearchNextInt(DlFile* file, int32_t key);
/* Field n (from 0), or the first whose name equals name ignoring case; 0
 * when there is none. */
ZONELIB_API DlField* DlFieldGetN(DlFile* file, int32_t n);
ZONELIB_API DlField* DlFieldGet(DlFile* file, const char* name);
/* Field attributes: texts 0 name, 1 long name, 5, 7, 8 (copied; 1, or 0 for
 * no buffer); numbers 2 width, 3 decimals, 4, 9 number of value
 * descriptions, 10 type ('C' text, 'N' number). -1 for 6, another number or
 * a negative size. */
ZONELIB_API int32_t DlFieldGetAttribute(DlField* field, int32_t attribute, char* buffer,
                                        int32_t size);
/* The current record's value as text. format: null or empty for the value
 * itself; "SDES" or "LDES" for its short or long description; a printf
 * format with exactly one conversion fit for the field (d i u x X o with l
 * or ll for numbers, s for texts). 1 written, 0 on failure (no current
 * record, a format that does not fit: code 100). A number field's value is
 * its stored whole number (value x 10^decimals). */
ZONELIB_API int32_t DlFieldGetString(DlField* field, const char* format, char* buffer,
                                     int32_t size);
/* The current record's stored number; -1 for a text field; 0 on failure. */
ZONELIB_API int32_t DlFieldGetNum(DlField* field);
/* Value description index of the field: which 0 value, 1 short, 2 long
 * description; 1, or -1 out of range. */
ZONELIB_API int32_t DlFieldGetValueAttribute(DlField* field, int32_t index, int32_t which,
                                             char* buffer, int32_t size);
/* The last error of the context (or, when it holds none, of the process):
 * its code (-1 when none), message and detail into buffers of 256 bytes
 * (each may be null). 0 for a null context. */
ZONELIB_API int32_t DlErrorGet(DlContext* context, char* message, char* detail);
/* Writes "Quistrel v34.04" (16 bytes with the NUL); 1. */
ZONELIB_API int32_t DlGetVersion(char* buffer);

/* One attribute of the current object, as the object-file calls return it
 * (280 bytes; also named gdlAttributeInfoStruct). */
typedef struct pipAttributeInfoStruct {
  char name[12];   /* at most 11 characters and a NUL */
  char value[256]; /* at most 255 characters and a NUL; numbers printed with
                      their decimals */
  uint32_t width;
  uint32_t type;     /* 'C' 67 text, 'N' 78 number */
  uint32_t decimals;
} pipAttributeInfoStruct;
typedef pipAttributeInfoStruct gdlAttributeInfoStruct;

#ifdef __cplusplus
static_assert(sizeof(pipAttributeInfoStruct) == 280, "attribute record size");
static_assert(offsetof(pipAttributeInfoStruct, value) == 12, "value");
static_assert(offsetof(pipAttributeInfoStruct, width) == 268, "width");
static_assert(offsetof(pipAttributeInfoStruct, type) == 272, "type");
static_assert(offsetof(pipAttributeInfoStruct, decimals) == 276, "decimals");
#else
_Static_assert(sizeof(pipAttributeInfoStruct) == 280, "attribute record size");
#endif

/* ---- Object files: searching boundary files ----------------------------
 *
 * pipObjectFileOpen opens a boundary file for searching and gives an object
 * file handle; its attribute file (the path with its last letter b made a)
 * is opened beside it when it was made for this very file. Each find-first
 * call starts a search and gives its first hit; pipObjectFindNext gives the
 * next. Find calls return a positive value when an object was found, 0 when
 * there is none (further), -1 on error (read with pipErrorGet on the
 * context). A name buffer receives the object's name: at most size - 1
 * characters, always terminated; its first byte is set to 0 before the
 * search, and a size below 1 with a buffer gives -1. After a find the
 * object found is the current object of the queries below, and its row of
 * the attribute file the current row. Coordinates are millionths of a
 * degree for files of coordinate kind 1; distances then are in feet. */

/* The memory each open boundary file may keep in decoded pages of its
 * spatial index (256 MiB); the handles of one file in one process share
 * them. */
#define PIP_INDEX_CACHE_BYTES (256ull << 20)

/* The header of a boundary file (304 bytes). */
typedef struct pipObjectFileInfoStruct {
  char headerText[256];
  uint32_t maxObjectSize;  /* largest object record, bytes */
  uint32_t maxPoints;      /* largest number of points of one object */
  uint32_t maxParts;       /* largest number of rings of one object */
  int32_t bounds[4];       /* xmin, ymin, xmax, ymax of all objects */
  uint32_t coordinateKind; /* 1: millionths of a degree */
  uint32_t flags;          /* PIP_IMPORT_SEGMENTS, PIP_IMPORT_PACKED;
                              PIP_IMPORT_TAX from pipObjectFileQuery */
  uint32_t pointCount;
  uint32_t lineCount;
  uint32_t regionCount;
} pipObjectFileInfoStruct;

#ifdef __cplusplus
static_assert(sizeof(pipObjectFileInfoStruct) == 304, "file information size");
static_assert(offsetof(pipObjectFileInfoStruct, maxObjectSize) == 256, "maxObjectSize");
static_assert(offsetof(pipObjectFileInfoStruct, bounds) == 268, "bounds");
static_assert(offsetof(pipObjectFileInfoStruct, coordinateKind) == 284, "coordinateKind");
static_assert(offsetof(pipObjectFileInfoStruct, flags) == 288, "flags");
static_assert(offsetof(pipObjectFileInfoStruct, regionCount) == 300, "regionCount");
#else
_Static_assert(sizeof(pipObjectFileInfoStruct) == 304, "file information size");
#endif

/* Opens a boundary file: 1 and a handle, or -1. mode & 3 sizes the object
 * cache: 0 one object, 1 5 MiB, 2 20 MiB, 3 100 MiB worth of decoded
 * objects. Besides, each open file keeps the pages of its spatial index it
 * has decoded, up to PIP_INDEX_CACHE_BYTES (every page of a file of a few
 * million regions); beyond it pages not used lately give way. Both caches
 * belong to the file, not the handle: handles of one file opened in one
 * mode in one process (on any threads) share them, and they go with the
 * last handle closed. The budgets change what is decoded again, never what
 * a search finds. */
ZONELIB_API int32_t pipObjectFileOpen(uint32_t context, const char* path, uint32_t mode,
                                      uint32_t* handle);
/* Closes the file and ends its handle; 1. */
ZONELIB_API int32_t pipObjectFileClose(uint32_t file);
/* pipObjectFileClose of *handle. */
ZONELIB_API int32_t pipObjectFileCloseEx(uint32_t* handle);
/* The header of the file at path, without opening it for searching; 1 or
 * -1 (102 for a file that is not a boundary file). */
ZONELIB_API int32_t pipObjectFileQuery(uint32_t context, const char* path,
                                       pipObjectFileInfoStruct* info);
/* 1 when the file opens, a search over its own bounds finds an object and
 * its attribute file (if any) was made for it; else -1. */
ZONELIB_API int32_t pipObjectFileValidate(uint32_t context, const char* path);
/* The header of the open file; 1. */
ZONELIB_API int32_t pipObjectHandleFileQuery(uint32_t file, pipObjectFileInfoStruct* info);
/* The file's extension record; 1, or -1 when it has none. */
ZONELIB_API int32_t pipObjectHandleFileQueryEx(uint32_t file, pipObjectFileExtraInfoStruct* info);
/* 1 for a tax boundary file, else -1. */
ZONELIB_API int32_t pipObjectIsTaxFile(uint32_t file);

/* The regions containing (x, y), in the spatial index's order; with a
 * radius (feet) also regions, lines and points within it (the file must
 * have segment records, else code 106). Results: 1 inside, 2 within the
 * radius only, 3 both. A point on a border is inside. */
ZONELIB_API int32_t pipObjectFindFirstContaining(uint32_t file, int32_t x, int32_t y,
                                                 uint32_t radius, char* name, int32_t size);
/* The containing regions and the objects within radius feet, all at once:
 * containing regions deepest first, then the others nearest first, found
 * with growing radii up to radius. Result: the hit's flags (1 inside, 2
 * within radius, 3 both), 0 none, -1 failure. pipObjectFindNext gives the
 * further hits; the queries below answer for the hit last given. */
ZONELIB_API int32_t pipObjectFindFirstContainingEx(uint32_t file, int32_t x, int32_t y,
                                                   uint32_t radius, char* name, int32_t size);
/* The objects whose index rectangles meet the rectangle (borders count). */
ZONELIB_API int32_t pipObjectFindFirstRect(uint32_t file, int32_t x1, int32_t y1, int32_t x2,
                                           int32_t y2, char* name, int32_t size);
/* Objects by name, ignoring case, in name order; a '*' ends the pattern and
 * makes it a prefix ("*" finds every object). */
ZONELIB_API int32_t pipObjectFindFirstName(uint32_t file, const char* pattern, char* name,
                                           int32_t size);
/* Up to count point objects nearest (x, y), nearest first, searched within
 * the file's search distance; count at most 65536. */
ZONELIB_API int32_t pipObjectFindFirstNearest(uint32_t file, int32_t x, int32_t y,
                                              uint32_t count, char* name, int32_t size);
/* The same, keeping only objects whose attribute passes criteria (for
 * example "POP > 10000"); needs the attribute file. */
ZONELIB_API int32_t pipObjectFindFirstNearestEx(uint32_t file, int32_t x, int32_t y,
                                                uint32_t count, const char* criteria, char* name,
                                                int32_t size);
/* Regions overlapping the polygon of partCount rings (partCounts[i] points
 * each, consecutive (x, y) pairs): the overlap code (3 the polygon lies
 * within the region, 4 the region within the polygon, 5 partly, 6 the same
 * area). The Ex form also gives the share of the polygon the region covers,
 * in percent, estimated on precision scan lines. */
ZONELIB_API int32_t pipObjectFindFirstPolygon(uint32_t file, const int32_t* points,
                                              const uint32_t* partCounts, uint32_t partCount,
                                              char* name, int32_t size);
ZONELIB_API int32_t pipObjectFindFirstPolygonEx(uint32_t file, const int32_t* points,
                                                const uint32_t* partCounts, uint32_t partCount,
                                                char* name, int32_t size, uint32_t precision,
                                                double* percentage);
/* The next hit of the search in progress. */
ZONELIB_API int32_t pipObjectFindNext(uint32_t file, char* name, int32_t size);
ZONELIB_API int32_t pipObjectFindNextEx(uint32_t file, char* name, uint32_t size,
                                        uint32_t precision, double* percentage);

/* 1 when criteria parse and fit the attribute file's fields; else code 100
 * with the reason, -1. */
ZONELIB_API int32_t pipObjectValidateFilterCriteria(uint32_t file, const char* criteria);
/* How far (feet) the nearest search looks: 366000 at open. Set: 1 for
 * 2738 to 36521358; outside that the nearest bound is kept and -1. */
ZONELIB_API int32_t pipObjectGetSearchDistance(uint32_t file);
ZONELIB_API int32_t pipObjectSetSearchDistance(uint32_t file, uint32_t distance);

/* The current object: its record (name, kind, label point or position,
 * bounds, styles, record number); its points and rings; its coordinates
 * (maxPoints points into points as (x, y) pairs, the ring sizes into
 * partCounts, which holds maxParts; code 103 when they do not fit). */
ZONELIB_API int32_t pipObjectGetInfo(uint32_t file, pipObjectInfoStruct* info);
ZONELIB_API int32_t pipObjectGetNumCoords(uint32_t file, uint32_t* points, uint32_t* parts);
ZONELIB_API int32_t pipObjectGetCoords(uint32_t file, int32_t* points, uint32_t maxPoints,
                                       uint32_t* partCounts, int32_t maxParts, uint32_t* parts);
/* The current object's record offset (its handle in the file); 1, or -1
 * with nothing current. pipObjectGetHandle: the low 32 bits, or -1. */
ZONELIB_API int32_t pipObjectGetHandle64(uint32_t file, uint32_t* low, uint32_t* high);
ZONELIB_API int32_t pipObjectGetHandle(uint32_t file);
/* Makes the object at that offset current; 1 or -1. */
ZONELIB_API int32_t pipObjectFileGoto64(uint32_t file, uint32_t low, uint32_t high);
ZONELIB_API int32_t pipObjectFileGoto(uint32_t file, uint32_t low);
/* Distance from (x, y) to the current object's border (a point object: to
 * the point); the Ex form also gives the nearest border point (both outputs
 * required). */
ZONELIB_API int32_t pipObjectDistanceToBorder(uint32_t file, int32_t x, int32_t y);
ZONELIB_API int32_t pipObjectDistanceToBorderEx(uint32_t file, int32_t x, int32_t y,
                                                uint32_t* nearestX, uint32_t* nearestY);
/* 1 when the current object is a region containing (x, y), else 0. */
ZONELIB_API int32_t pipPointInPoly(uint32_t file, int32_t x, int32_t y);

/* The attribute file's fields (the key field not counted) and the current
 * row's values: 1 with a value, 0 without a current row, -1 without an
 * attribute file or such a field. */
ZONELIB_API int32_t pipObjectGetAttributeCount(uint32_t file, int32_t* count);
ZONELIB_API int32_t pipObjectGetAttributeNameByNumber(uint32_t file, uint32_t n, char* buffer,
                                                      int32_t size);
ZONELIB_API int32_t pipObjectGetAttributeInfoByName(uint32_t file, const char* name,
                                                    pipAttributeInfoStruct* info);
ZONELIB_API int32_t pipObjectGetAttributeInfoByNumber(uint32_t file, uint32_t n,
                                                      pipAttributeInfoStruct* info);

/* ---- Overlap check --------------------------------------------------------
 *
 * How two sets of rings lie to each other: 2 no common area, 3 A within B, 4
 * B within A, 5 each reaches outside the other, 6 the same area. Rings are
 * (x, y) pairs; a failed allocation gives code 104 and -1. */
ZONELIB_API int32_t pipInitializeOverlapCheck(uint32_t context, uint32_t* handle);
ZONELIB_API int32_t pipTerminateOverlapCheck(uint32_t check);
ZONELIB_API int32_t pipAddRegionAPolygon(uint32_t check, uint32_t count, const int32_t* points);
ZONELIB_API int32_t pipAddRegionBPolygon(uint32_t check, uint32_t count, const int32_t* points);
ZONELIB_API int32_t pipClearRegionAPolygon(uint32_t check);
ZONELIB_API int32_t pipClearRegionBPolygon(uint32_t check);
ZONELIB_API int32_t pipClearRegionAllPolygon(uint32_t check);
/* The code, or -1. The Ex form estimates on precision scan lines the share
 * of A that B covers, in percent. */
ZONELIB_API int32_t pipCheckForRegionOverlap(uint32_t check);
ZONELIB_API int32_t pipCheckForRegionOverlapEx(uint32_t check, uint32_t precision,
                                               double* percentage);

/* ---- Surface files -------------------------------------------------------
 *
 * Boundary files of triangles whose second name holds a plane "a|b|c|d":
 * value = a x + b y + c with x and y in degrees; d divides the point
 * weights (0 or missing: weights 0). The name holds three texts "t1|t2|t3".
 * Handles are object-file handles. */
typedef struct pipSurfInfo {
  double weights[3];  /* of the triangle's points at the search point */
  int32_t x;          /* label point */
  int32_t y;
  int32_t bounds[4];
  char text1[42];     /* the name's three texts, at most 41 characters */
  char text2[42];
  char text3[42];
} pipSurfInfo;

#ifdef __cplusplus
static_assert(offsetof(pipSurfInfo, x) == 24, "x");
static_assert(offsetof(pipSurfInfo, bounds) == 32, "bounds");
static_assert(offsetof(pipSurfInfo, text1) == 48, "text1");
static_assert(offsetof(pipSurfInfo, text2) == 90, "text2");
static_assert(offsetof(pipSurfInfo, text3) == 132, "text3");
#endif

ZONELIB_API int32_t pipSurfFileOpen(uint32_t context, const char* path, uint32_t mode,
                                    uint32_t* handle);
ZONELIB_API int32_t pipSurfFileClose(uint32_t file);
ZONELIB_API int32_t pipSurfFileQuery(uint32_t context, const char* path,
                                     pipObjectFileInfoStruct* info);
ZONELIB_API int32_t pipSurfFileValidate(uint32_t context, const char* path);
/* The value of the first (next) region containing (x, y): 1, else the
 * search's result (0 none) with value -1. */
ZONELIB_API int32_t pipSurfFindFirstValue(uint32_t file, int32_t x, int32_t y, int32_t* value);
ZONELIB_API int32_t pipSurfFindNextValue(uint32_t file, int32_t* value);
/* The current triangle's points (size at least 3); count gets their number. */
ZONELIB_API int32_t pipSurfGetCoords(uint32_t file, int32_t* points, int32_t size,
                                     uint32_t* count);
ZONELIB_API int32_t pipSurfGetInfo(uint32_t file, pipSurfInfo* info);

/* ---- Geometry objects of the class interface ----------------------------
 *
 * The classes live in the C++ headers of the boundary engine; C callers hold
 * them as opaque pointers. Each make* call returns a new object (null when
 * memory runs out) that the caller deletes through its virtual destructor,
 * or for shapes with gsbShapeFree. Coordinates are degrees.
 */
#ifdef __cplusplus
class CGsbShape;
class CPipPoint;
class CPolyLine;
class CPolyPolygon;
class CSegmentChain;
class CSpatial;
#else
typedef struct CGsbShape CGsbShape;
typedef struct CPipPoint CPipPoint;
typedef struct CPolyLine CPolyLine;
typedef struct CPolyPolygon CPolyPolygon;
typedef struct CSegmentChain CSegmentChain;
typedef struct CSpatial CSpatial;
#endif
struct gpc_polygon;

/* Type words of a shape, and what gsbShapeGetStr and CGsbShape::get ask. */
#define GSB_SHAPE_POINT 1
#define GSB_SHAPE_LINE 2
#define GSB_SHAPE_POLYGON 4
#define GSB_SHAPE_NAME 1
#define GSB_SHAPE_TYPE 2
#define GSB_SHAPE_PART_COUNT 3
#define GSB_SHAPE_POINT_COUNT 4
#define GSB_SHAPE_NAME2 5

ZONELIB_API CGsbShape* makeGsbShape(void);
ZONELIB_API CPolyPolygon* makePolyPolygon(void);
ZONELIB_API CPolyLine* makePolyLine(void);
/* A facade over object files, without a library context yet. */
ZONELIB_API CSpatial* makeSpatial(void);
/* The point (0, 0) without names, or (x, y). */
ZONELIB_API CPipPoint* makePipPoint(void);
ZONELIB_API CPipPoint* makePipPointXY(double x, double y);
/* A polyline of parts lines, line i from the next counts[i] coordinates. */
ZONELIB_API CPolyLine* makePolyLineXY(const double* xs, const double* ys, const int* counts,
                                      int parts);

/* Converters to and from the clipper's records (gpc.h). The record written
 * is overwritten, not freed first; release it with gpc_free_polygon. When
 * memory runs out it is left empty (no contours, no arrays). */
/* One contour per polygon: its distinct vertices, hole flag 0. */
ZONELIB_API void gdlPolyPolyToGpcPoly(const CPolyPolygon* polygons, struct gpc_polygon* out);
/* One contour of every point of a line or ring (CLine or CPolygon): a ring
 * gives its first vertex again at the end. */
ZONELIB_API void gdlPolyToGpcPoly(const CSegmentChain* chain, struct gpc_polygon* out);
/* Replaces the list by one polygon per contour, each closed by the ring
 * rule; hole flags play no part. */
ZONELIB_API void gpcPolyToGdlPoly(const struct gpc_polygon* polygon, CPolyPolygon* out);

/* A shape's name (GSB_SHAPE_NAME) or second name (GSB_SHAPE_NAME2) into a
 * buffer of size bytes (at most size - 1 characters and a NUL): 1; 0 when the
 * shape has no geometry or another code is asked; -1 for a null shape or a
 * size below 1. */
ZONELIB_API int32_t gsbShapeGetStr(const CGsbShape* shape, int32_t which, char* buffer,
                                   int32_t size);
/* Deletes *shape when there is one and sets *shape to null; 1. */
ZONELIB_API int32_t gsbShapeFree(CGsbShape** shape);
/* Feet between two point shapes (GSB_SHAPE_POINT with a point), straight or
 * along the axes, truncated: 1; -3 when either is not a point shape. */
ZONELIB_API int32_t gsbDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance);
ZONELIB_API int32_t gsbManhattanDistance(const CGsbShape* a, const CGsbShape* b,
                                         int32_t* distance);
/* Feet between the nearest (farthest) parts of two shapes' geometries,
 * truncated (at most 2147483647): 1; distance 0 and -1 when either shape or
 * geometry is missing. */
ZONELIB_API int32_t gsbNearDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance);
ZONELIB_API int32_t gsbFarDistance(const CGsbShape* a, const CGsbShape* b, int32_t* distance);

/* ---- Object files through the class facade --------------------------------
 *
 * gsbObjectFileOpen opens a boundary file into a facade object and writes
 * its handle (0 only when memory ran out): 1 when the file is a valid
 * boundary file and opened, else -1, and the handle must still be closed.
 * The other calls take that handle; a handle that names no open object (0,
 * closed, or never given) gives -1. They answer as the pip calls of the same
 * names. gsbObjectFileClose ends the handle: 1 when its file was open, else
 * -1. */
ZONELIB_API int32_t gsbObjectFileOpen(uint32_t context, const char* path, uint32_t mode,
                                      int32_t version, uint32_t* handle);
ZONELIB_API int32_t gsbObjectFileClose(uint32_t handle);
ZONELIB_API int32_t gsbObjectHandleFileQuery(uint32_t handle, pipObjectFileInfoStruct* info);
ZONELIB_API int32_t gsbObjectHandleFileQueryEx(uint32_t handle,
                                               pipObjectFileExtraInfoStruct* info);
ZONELIB_API int32_t gsbObjectGetAttributeCount(uint32_t handle, int32_t* count);
ZONELIB_API int32_t gsbObjectGetAttributeInfoByNumber(uint32_t handle, uint32_t n,
                                                      gdlAttributeInfoStruct* info);
ZONELIB_API int32_t gsbObjectGetAttributeInfoByName(uint32_t handle, const char* name,
                                                    gdlAttributeInfoStruct* info);
ZONELIB_API int32_t gsbObjectFindFirstContaining(uint32_t handle, int32_t x, int32_t y,
                                                 uint32_t radius, char* name, int32_t size);
ZONELIB_API int32_t gsbObjectFindNext(uint32_t handle, char* name, int32_t size);
ZONELIB_API int32_t gsbObjectFindFirstNearest(uint32_t handle, int32_t x, int32_t y,
                                              uint32_t count, char* name, int32_t size);
ZONELIB_API int32_t gsbObjectFindFirstNearestEx(uint32_t handle, int32_t x, int32_t y,
                                                uint32_t count, const char* criteria, char* name,
                                                int32_t size);
ZONELIB_API int32_t gsbObjectSetSearchDistance(uint32_t handle, uint32_t distance);
ZONELIB_API int32_t gsbObjectGetInfo(uint32_t handle, pipObjectInfoStruct* info);
ZONELIB_API int32_t gsbObjectDistanceToBorder(uint32_t handle, int32_t x, int32_t y);
/* The nearest point (kind GSB_SHAPE_POINT) or line (GSB_SHAPE_LINE) object
 * to a point shape, within distance feet, as a new shape in *result (freed
 * with gsbShapeFree): 1; 0 and no shape when there is none (further); -3
 * for a query that is not a point shape or another kind; 104 when memory
 * runs out. */
ZONELIB_API int32_t gsbObjectFindNearestPointOrLine(uint32_t handle, const CGsbShape* query,
                                                    CGsbShape** result, int32_t kind,
                                                    int32_t distance);
ZONELIB_API int32_t gsbObjectFindNextPointOrLine(uint32_t handle, CGsbShape** result,
                                                 int32_t kind);
/* The regions overlapping a polygon shape, the largest share of it first, as
 * new shapes with the share in percent: 1; 0 when none (further); -3 when
 * the query is not a polygon shape, -1 when it is null. */
ZONELIB_API int32_t gsbObjectFindPolygonOverlapPercentage(uint32_t handle, const CGsbShape* query,
                                                          CGsbShape** result,
                                                          double* percentage);
ZONELIB_API int32_t gsbObjectFindNextPolygonOverlapPercentage(uint32_t handle,
                                                              CGsbShape** result,
                                                              double* percentage);
/* The low 32 bits of the current object's offset, or -1. */
ZONELIB_API int32_t gsbObjectGetHandle(uint32_t handle);
/* Makes the object at offset (below 4 GiB) current; 1 or -1. */
ZONELIB_API int32_t gsbObjectFileGoto(uint32_t handle, uint32_t offset);

/* ---- Boundary services: convex hull, radius search, ZIP+4 ----------------
 *
 * The families below look their handles up like the others: an unknown
 * handle, or one of another family, gives -1. Their bodies are exported too,
 * under the entry's name with "Intern", taking the objects in place of the
 * handles (C callers hold them as opaque pointers).
 */
#ifdef __cplusplus
class pipContext;
class pipObjectFileObject;
class RadialSearch;
class Zip4FileHandle;
class CpmaInterface;
class CzonExporter;
#else
typedef struct pipContext pipContext;
typedef struct pipObjectFileObject pipObjectFileObject;
typedef struct RadialSearch RadialSearch;
typedef struct Zip4FileHandle Zip4FileHandle;
typedef struct CpmaInterface CpmaInterface;
typedef struct CzonExporter CzonExporter;
#endif

/* A point of the convex hull (16 bytes). */
typedef struct pipWrapPoint {
  double x;
  double y;
} pipWrapPoint;

/* The convex hull of points[0 .. count - 1], wrapped in place: the array must
 * hold count + 1 records (the one behind the last point is used). Returns
 * the number of hull points, which then stand first, counter-clockwise from
 * the lowest (leftmost of the lowest); the other records are reordered.
 * Fewer than 3 points give 0; points on one line give 2, its two ends. */
ZONELIB_API int32_t DetermineWrapConvexHull(int32_t count, pipWrapPoint* points);

/* Radius search (handle type 5): named points held in memory and searched by
 * rectangle, by distance and for the nearest. Coordinate kind 1: millionths
 * of a degree, distances in feet (0.36432 feet per millionth of latitude, x
 * shortened by the cosine of the query's latitude); other kinds: plain
 * units. Find calls give 1 and the hit's x, y and name (at most size - 1
 * characters and a NUL; a size below 1 gives -1), 0 when there is no
 * (further) hit, -1 on failure; pipRadFindNext continues the last find. */
ZONELIB_API int32_t pipRadInit(uint32_t context, int32_t coordinateKind, uint32_t* handle);
ZONELIB_API int32_t pipRadTerm(uint32_t search);
ZONELIB_API int32_t pipRadInsertPoint(uint32_t search, int32_t x, int32_t y, const char* name);
/* Inserts every point object of an open boundary file: the last insertion's
 * result; -1 when the file holds no point object. */
ZONELIB_API int32_t pipRadLoadPoints(uint32_t search, uint32_t file);
ZONELIB_API int32_t pipRadFindFirstInRect(uint32_t search, int32_t x1, int32_t y1, int32_t x2,
                                          int32_t y2, int32_t* x, int32_t* y, char* name,
                                          int32_t size);
ZONELIB_API int32_t pipRadFindFirstInRadius(uint32_t search, int32_t cx, int32_t cy,
                                            int32_t radius, int32_t* x, int32_t* y, char* name,
                                            int32_t size);
/* Up to count points, nearest first. */
ZONELIB_API int32_t pipRadFindFirstNearest(uint32_t search, int32_t cx, int32_t cy, int32_t count,
                                           int32_t* x, int32_t* y, char* name, int32_t size);
ZONELIB_API int32_t pipRadFindNext(uint32_t search, int32_t* x, int32_t* y, char* name,
                                   int32_t size);

ZONELIB_API int32_t pipRadInitIntern(pipContext* context, int32_t coordinateKind,
                                     RadialSearch** out);
ZONELIB_API int32_t pipRadTermIntern(RadialSearch* search);
ZONELIB_API int32_t pipRadInsertPointIntern(RadialSearch* search, int32_t x, int32_t y,
                                            const char* name);
ZONELIB_API int32_t pipRadLoadPointsIntern(RadialSearch* search, pipObjectFileObject* file);
ZONELIB_API int32_t pipRadFindFirstInRectIntern(RadialSearch* search, int32_t x1, int32_t y1,
                                                int32_t x2, int32_t y2, int32_t* x, int32_t* y,
                                                char* name, int32_t size);
ZONELIB_API int32_t pipRadFindFirstInRadiusIntern(RadialSearch* search, int32_t cx, int32_t cy,
                                                  int32_t radius, int32_t* x, int32_t* y,
                                                  char* name, int32_t size);
ZONELIB_API int32_t pipRadFindFirstNearestIntern(RadialSearch* search, int32_t cx, int32_t cy,
                                                 int32_t count, int32_t* x, int32_t* y, char* name,
                                                 int32_t size);
ZONELIB_API int32_t pipRadFindNextIntern(RadialSearch* search, int32_t* x, int32_t* y, char* name,
                                         int32_t size);

/* ZIP+4 centroids (handle type 4): a ZIP+4 centroid file (Z9) opened once and
 * searched against open boundary files. pipZip4FindFirst gives the first
 * ZIP+4 code whose centroid lies in a region of the file (within radius
 * feet of one when radius is not 0): the code as "%05ld%04ld" in zip4 (10
 * bytes), the record type letter in type (2 bytes) and the region's name
 * (at most size - 1 characters and a NUL); 1 for a hit, 0 when there is no
 * (further) hit, -1 on failure. pipZip4FindNext continues; the boundary file
 * must stay open meanwhile. */
ZONELIB_API int32_t pipZip4FileOpen(uint32_t context, const char* path, uint32_t* handle);
ZONELIB_API int32_t pipZip4FileClose(uint32_t zip4);
ZONELIB_API int32_t pipZip4FindFirst(uint32_t zip4, uint32_t file, int32_t radius, char* code,
                                     char* type, char* name, int32_t size);
ZONELIB_API int32_t pipZip4FindNext(uint32_t zip4, char* code, char* type, char* name,
                                    int32_t size);

ZONELIB_API int32_t pipZip4FileOpenIntern(pipContext* context, const char* path,
                                          Zip4FileHandle** out);
ZONELIB_API int32_t pipZip4FileCloseIntern(Zip4FileHandle* zip4);
ZONELIB_API int32_t pipZip4FindFirstIntern(Zip4FileHandle* zip4, pipObjectFileObject* file,
                                           int32_t radius, char* code, char* type, char* name,
                                           int32_t size);
ZONELIB_API int32_t pipZip4FindNextIntern(Zip4FileHandle* zip4, char* code, char* type,
                                          char* name, int32_t size);

/* Trade areas (handle type 8): a job holds stores (named points) and their
 * customers (points with a value, each of one store) and generates, for
 * each store, up to three polygons (primary, secondary, tertiary level):
 * rings of given radii, rings cut back by the bisectors towards
 * neighbouring stores, or convex hulls of the store's nearest customers.
 * Each is written as a region "PMA <store> <level>" into the output
 * boundary file of its level. With the geographic flag coordinates are
 * millionths of a degree and radii and distances miles.
 *
 * Store names are unique over their first 259 characters (a repeat gives
 * -1, code 104). A customer names its store exactly. Clearing the stores
 * keeps the customer lists: a store added later at the same position takes
 * over its list. The caller's customers are never changed by a run.
 *
 * pipPmaSetOutputFiles closes the current outputs (finishing them) and
 * opens new ones: an empty or null path means no output for that level; a
 * path gets ".gsb" appended unless it already ends in it; equal paths share
 * one file. pipPmaTerm closes them (keep 0 discards them; a file that
 * received no object is always discarded) and ends the job.
 *
 * The progress callback is called once per store, on the caller's thread,
 * with (number of stores, number of the store just finished from 1, its
 * name); a result of 0 stops the run (-1, "Pma polygon generation stopped
 * before completion by user."), what was written so far staying. */
typedef int32_t (*pipPmaProgressFunction)(int32_t stores, int32_t store, const char* name);

ZONELIB_API int32_t pipPmaInit(uint32_t context, uint32_t* handle);
ZONELIB_API int32_t pipPmaTerm(uint32_t job, int32_t keep);
ZONELIB_API int32_t pipPmaAddStore(uint32_t job, int32_t x, int32_t y, const char* name);
ZONELIB_API int32_t pipPmaAddCustomer(uint32_t job, int32_t x, int32_t y, const char* store,
                                      double value);
ZONELIB_API int32_t pipPmaClearStores(uint32_t job);
ZONELIB_API int32_t pipPmaClearCustomers(uint32_t job);
ZONELIB_API int32_t pipPmaSetOutputFiles(uint32_t job, int32_t coordinateKind, const char* primary,
                                         const char* secondary, const char* tertiary);
/* A null callback clears it. */
ZONELIB_API int32_t pipPmaSetProgressFunction(uint32_t job, pipPmaProgressFunction progress);
/* Levels need r2 = 0 or r2 > r1, and r3 = 0 or r3 above both; a radius of 0
 * writes nothing for its level. segments: 3 to 360. Without twoPart = 0 the
 * secondary and tertiary polygons hold the level below as a second part. */
ZONELIB_API int32_t pipPmaGenerateRingPolygons(uint32_t job, int32_t segments, int32_t geographic,
                                               int32_t twoPart, double r1, double r2, double r3);
ZONELIB_API int32_t pipPmaGenerateNonoverlappingRingPolygons(uint32_t job, int32_t segments,
                                                             int32_t geographic, int32_t twoPart,
                                                             double r1, double r2, double r3);
/* thresholdKind 1: t is the share of the customers within maxDistance (0:
 * all); any other kind: the share of their total value. */
ZONELIB_API int32_t pipPmaGenerateConvexHullPolygons(uint32_t job, int32_t thresholdKind,
                                                     double maxDistance, int32_t geographic,
                                                     int32_t twoPart, double t1, double t2,
                                                     double t3);

ZONELIB_API int32_t pipPmaInitIntern(pipContext* context, CpmaInterface** out);
ZONELIB_API int32_t pipPmaTermIntern(CpmaInterface* job, int32_t keep);
ZONELIB_API int32_t pipPmaAddStoreIntern(CpmaInterface* job, int32_t x, int32_t y,
                                         const char* name);
ZONELIB_API int32_t pipPmaAddCustomerIntern(CpmaInterface* job, int32_t x, int32_t y,
                                            const char* store, double value);
ZONELIB_API int32_t pipPmaClearStoresIntern(CpmaInterface* job);
ZONELIB_API int32_t pipPmaClearCustomersIntern(CpmaInterface* job);
ZONELIB_API int32_t pipPmaSetOutputFilesIntern(CpmaInterface* job, int32_t coordinateKind,
                                               const char* primary, const char* secondary,
                                               const char* tertiary);
ZONELIB_API int32_t pipPmaSetProgressFunctionIntern(CpmaInterface* job,
                                                    pipPmaProgressFunction progress);
ZONELIB_API int32_t pipPmaGenerateRingPolygonsIntern(CpmaInterface* job, int32_t segments,
                                                     int32_t geographic, int32_t twoPart,
                                                     double r1, double r2, double r3);
ZONELIB_API int32_t pipPmaGenerateNonoverlappingRingPolygonsIntern(CpmaInterface* job,
                                                                   int32_t segments,
                                                                   int32_t geographic,
                                                                   int32_t twoPart, double r1,
                                                                   double r2, double r3);
ZONELIB_API int32_t pipPmaGenerateConvexHullPolygonsIntern(CpmaInterface* job,
                                                           int32_t thresholdKind,
                                                           double maxDistance, int32_t geographic,
                                                           int32_t twoPart, double t1, double t2,
                                                           double t3);
/* ---- Export: boundary files to BNA, interchange text, shapefiles, tables --
 *
 * An exporter (handle type 7) writes objects into one format: those of a
 * source boundary file, one per pipExportWrite, and those a caller hands over
 * with pipExportInsert, in any mix. Coordinates are millionths of a degree,
 * written as degrees. Text files are written with "\n" line ends.
 *
 * Init calls make the outputs and give a handle; 1 or -1.
 *   BNA: a path holding ".bna" or ".BNA" anywhere has its last four
 *     characters made ".bna", else ".bna" is appended.
 *   PXF: likewise ".pxf" and ".pxd" (the data rows: name, second name).
 *   SHP / Shape: the path without its extension; a shapefile with its dBASE
 *     file (NAME, NAME2) taking objects of kind only (PIP_OBJECT_*).
 *   TAB: a map table (NAME, NAME2); option is the first type code.
 * pipExportOpen opens the source boundary file (mode as pipObjectFileOpen).
 * pipExportWrite exports its next object: the name into name (at most
 * size - 1 characters and a NUL), the percentage done (whole) and the
 * objects done; -1 once every object is written, or on failure.
 * pipExportInsert exports one object: info's kind, names and styles, coords
 * x, y pairs in part order, one point count a part (a point object: one
 * part a point); every pointer non-null and partCount >= 1, else -1.
 * pipExportClose closes the source (call it before pipExportTerm).
 * pipExportTerm ends the outputs and the handle; with keep 0 the BNA and
 * interchange text files are deleted (shapefiles and tables stay). It gives
 * 1, or -1 when kept outputs could not all be written (the handle ends
 * anyway). */
ZONELIB_API int32_t pipExportInitBNA(uint32_t context, const char* path, uint32_t* handle);
ZONELIB_API int32_t pipExportInitPXF(uint32_t context, const char* path, uint32_t* handle);
ZONELIB_API int32_t pipExportInitSHP(uint32_t context, const char* path, uint32_t* handle,
                                     int32_t kind);
ZONELIB_API int32_t pipExportInitShape(uint32_t context, const char* path, uint32_t* handle,
                                       int32_t kind);
ZONELIB_API int32_t pipExportInitTAB(uint32_t context, const char* path, uint32_t* handle,
                                     int32_t option);
ZONELIB_API int32_t pipExportOpen(uint32_t exporter, const char* path, int32_t mode);
ZONELIB_API int32_t pipExportWrite(uint32_t exporter, char* name, uint32_t size,
                                   int32_t* percentage, int32_t* done);
ZONELIB_API int32_t pipExportInsert(uint32_t exporter, const char* name,
                                    const pipObjectInfoStruct* info, const int32_t* coords,
                                    const int32_t* partCounts, int32_t partCount);
ZONELIB_API int32_t pipExportClose(uint32_t exporter);
ZONELIB_API int32_t pipExportTerm(uint32_t exporter, int32_t keep);

ZONELIB_API int32_t pipExportInitBNAIntern(pipContext* context, const char* path,
                                           CzonExporter** out);
ZONELIB_API int32_t pipExportInitPXFIntern(pipContext* context, const char* path,
                                           CzonExporter** out);
ZONELIB_API int32_t pipExportInitSHPIntern(pipContext* context, const char* path,
                                           CzonExporter** out, int32_t kind);
ZONELIB_API int32_t pipExportInitTABIntern(pipContext* context, const char* path,
                                           CzonExporter** out, int32_t option);
ZONELIB_API int32_t pipExportOpenIntern(CzonExporter* exporter, const char* path, int32_t mode);
ZONELIB_API int32_t pipExportWriteIntern(CzonExporter* exporter, char* name, uint32_t size,
                                         int32_t* percentage, int32_t* done);
ZONELIB_API int32_t pipExportInsertIntern(CzonExporter* exporter, const char* name,
                                          const pipObjectInfoStruct* info, const int32_t* coords,
                                          const int32_t* partCounts, int32_t partCount);
ZONELIB_API int32_t pipExportCloseIntern(CzonExporter* exporter);
ZONELIB_API int32_t pipExportTermIntern(CzonExporter* exporter, int32_t keep);

#endif /* ZONELIB_H */
