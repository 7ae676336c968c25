// The records shared by Layerio's table code: the open table, its fields,
// its data source and the per-kind parameter words, the pending row
// buffers, view column slots, and the operations of the data-source
// dispatcher, the column rules and the reopening of a view's files.
//
// The dispatcher (dispatch.cpp) selects a driver by the data source's kind
// byte; a driver is a DataDriver record of hooks. The dBASE and native
// drivers are defined beside the dBASE record layer (DbaseDataDriver,
// NativeDataDriver); a kind without a driver fails with kErrNoDriver
// pushed.
//
// Results are 1 for success and 0 for failure unless said otherwise; a
// failure has pushed its reason on the foundation's error stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/file.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "platform/endian.h"

namespace layerio {

struct CoordSys;
struct GeomObject;
struct ObjStore;    // the object store of a table's map part
struct FieldIndex;  // a field's entry in the field-index file (fieldindex.h)
struct IndexFile;   // the open field-index file (fieldindex.h)
struct MetadataNode;  // metadata.h
struct TableObject;

// ===== Codes =================================================================

enum TableErrorCode : int16_t {
  kErrNoMemory = 304,             // out of memory in describe or update
  kErrColumnNameInvalid = 348,    // with the name
  kErrDataOpen = 386,             // no open for the kind; attach failed silently
  kErrDataCreate = 497,           // create failed without an error of its own
  kErrColumnNameReserved = 675,   // with the name
  kErrDbaseFieldType = 721,       // describe met a field letter it cannot take
  kErrViewReopen = 824,           // with the view's name or "Selection"
  kErrTooManyColumns = 877,       // create with more than 250 columns
  kErrDataWrite = 881,            // insert or update refused or failed silently
  // A kind that has no driver in this library; the argument is the kind as a
  // number.
  kErrNoDriver = 1950,  // PX_ERROR_NO_DRIVER
  // A row value its column's type, or the column's field in the data file,
  // cannot hold; with the column's name and the value's text. The row is
  // not written.
  kErrValueRefused = 1960,
};

// ===== Field types, data kinds ===============================================

// The field type is also the kind of the field's current value.
enum FieldType : uint8_t {
  kFieldChar = 1,
  kFieldDecimal = 2,
  kFieldInteger = 3,
  kFieldSmallint = 4,
  kFieldDate = 5,
  kFieldLogical = 6,
  kFieldChar25 = 7,  // becomes Char 25 at create
  kFieldFloat = 8,
  kFieldMemo = 9,
};

enum DataKind : uint8_t {
  kDataNone = 0,       // rows are only counted
  kDataDbase = 1,      // .DBF
  kDataLotus = 2,      // .WKS, read only
  kDataText = 3,       // delimited text, .TXT
  kDataExcel = 4,      // .XLS, read only
  kDataNative = 5,     // .DAT
  kDataRaster = 6,     // raster image table, no rows
  kDataAccess = 8,     // .mdb
  kDataQuery = 9,      // .QRY, no driver
  kDataRemote = 10,    // remote database table
  kDataRowBuffer = 11, // pending row buffers in memory
  kDataCsv = 12,       // comma-delimited text, create and describe only
};

// File-layer kinds the table code names.
enum TableFileKind : int {
  kFileKindTable = 1,   // .TAB definition
  kFileKindBare = 2,
  kFileKindText = 4,    // .TXT
  kFileKindMap = 5,
  kFileKindMapId = 6,
  kFileKindIndex = 7,   // .IND
  kFileKindNative = 17, // .DAT
  kFileKindDbase = 18,  // .DBF
  kFileKindLotus = 20,
  kFileKindExcel = 21,
  kFileKindRaster = 44,
  kFileKindAccess = 63,
  kFileKindQuery = 67,
  kFileKindShape = 76,
  kFileKindCsv = 85,
};

inline constexpr int kMaxColumnName = 31;
inline constexpr int kDataParamWords = 11;

// ===== Fields ================================================================

// One field of an open table. The value's kind is the field type; Char and
// Memo values own a text payload of width + 1 bytes while the table is open.
struct FieldDef {
  char name[32];
  uint8_t width;
  uint8_t decimals;
  FieldIndex* index;  // null when the field has no field index
  uint16_t readOnly;
  uint16_t autokey;
  Value value;
};

// ===== Data source ===========================================================

// Parameter words by kind (word n is byte 4n of `params`):
//   1 dBASE, 5 native: word 2 the file's charset; low half of word 3 (dBASE)
//     the flag that Decimal widths in the file exclude the point and the
//     decimals. Driver state: ptr[0] the open dBASE-layer file state,
//     ptr[1] the record buffer.
//   11 row buffers: word 2 the charset; ptr[0] the RowBufferList, ptr[1]
//     the in-memory object store of the rows (an ObjStore of kind 2).
//   3 delimited text, 12 comma text: byte 8 the delimiter, byte 9 the
//     title-line flag, word 3 the charset, word 4 the mode of the current
//     open; ptr[0] and ptr[1] the two 4,096-byte line buffers.
//   2 Lotus, 4 Excel: word 3 first column, word 4 first row, the 16-bit
//     word at byte 24 and at byte 28 the titles flag; ptr[1] the reader
//     state, ptr[2] the range text.
//   8 Access: word 6 the charset; bit 0 of the 16-bit word at byte 28 marks
//     memo columns; ptr[4] the owning table name (set at create).
// The 32-bit words are what a table definition and the defaults fill in;
// words that hold an address keep it in `ptr` under the same number, so the
// record holds 64-bit addresses without packing them into 32 bits.
struct DataParams {
  uint32_t words[kDataParamWords];
  void* ptr[kDataParamWords];

  uint8_t Byte(int at) const { return reinterpret_cast<const uint8_t*>(words)[at]; }
  void SetByte(int at, uint8_t b) { reinterpret_cast<uint8_t*>(words)[at] = b; }
  uint16_t Half(int at) const { return QLoadU16LE(reinterpret_cast<const uint8_t*>(words) + at); }
  void SetHalf(int at, uint16_t h) { QStoreU16LE(reinterpret_cast<uint8_t*>(words) + at, h); }
};

struct RowOverlay;

struct DataSource {
  uint8_t kind;
  uint8_t openCount;  // 0 closed, 1..254 opens, 255 held
  uint8_t temporary;  // close deletes the data file
  FileHandle file;    // the data file's entry, 0 when none
  uint16_t driverFlag;
  int32_t columnCount;
  uint32_t rowCount;
  uint32_t currentRow;  // 1-based, 0 none
  DataParams params;
  RowOverlay* overlay;  // the table's pending-row overlay, or null
  uint8_t shapeFile;    // dBASE data of a shapefile (read-only)
  uint8_t query;        // the definition names a query: cannot open
};

inline constexpr uint8_t kOpenCountHeld = 255;

// The pending rows laid over a file-backed source: reads of a row the
// overlay holds take its values, updates write through to it.
struct RowOverlay {
  DataSource source;  // kind 11
};

// A driver's hooks; a null hook is the dispatcher's "no case". Columns are
// the table's FieldDef array of `columnCount` entries.
struct DataDriver {
  int16_t (*create)(DataSource* source, FieldDef* columns, int32_t count);
  int16_t (*attach)(DataSource* source, FieldDef* columns, int32_t* count);
  int16_t (*describe)(DataSource* source, TableObject* table);
  int16_t (*open)(DataSource* source, int mode);
  int16_t (*release)(DataSource* source);
  int16_t (*read)(DataSource* source, FieldDef* columns, uint32_t row, uint8_t* deleted);
  int16_t (*insert)(DataSource* source, FieldDef* columns, uint32_t* row);
  int16_t (*update)(DataSource* source, FieldDef* columns, uint32_t row);
  int16_t (*close)(DataSource* source);
  int16_t (*hasMemo)(DataSource* source);
};

// Defined with the dBASE record layer: the drivers of kinds 1 and 5.
const DataDriver* DbaseDataDriver();
const DataDriver* NativeDataDriver();
// The drivers of the other kinds, each defined with its source: delimited
// text (kinds 3 and 12), Lotus (2), Excel (4), Access (8), remote (10).
const DataDriver* TextDataDriver();
const DataDriver* LotusDataDriver();
const DataDriver* ExcelDataDriver();
const DataDriver* AccessDataDriver();
const DataDriver* RemoteDataDriver();

// ===== Pending row buffers (kind 11) =========================================

struct RowBufferRecord {
  RowBufferRecord* next;  // list link, first
  uint32_t row;
  uint32_t count;  // value slots
  Value* values;
};

struct RowBufferList {
  List rows;  // of RowBufferRecord
  uint32_t nextRow;
};

int16_t RowBufferInit(DataSource* source);
int16_t RowBufferInsert(DataSource* source, uint32_t row, const FieldDef* fields, int32_t count);
int16_t RowBufferFind(const RowBufferList* list, uint32_t row, RowBufferRecord** out);
int16_t RowBufferAt(const RowBufferList* list, uint32_t n, RowBufferRecord** out);
int16_t RowBufferUpdate(DataSource* source, uint32_t row, const FieldDef* fields, int32_t count);
int16_t RowBufferRead(DataSource* source, uint32_t row, FieldDef* fields, int32_t count);
int16_t RowBufferFree(DataSource* source);
// The list of a kind-11 source (null when it has none).
RowBufferList* RowBufferListOf(const DataSource* source);
// The field takes a value converted to its own kind; a text field keeps its
// buffer (and so its width).
int16_t FieldValueAssign(FieldDef* field, const Value* value);
// The in-memory object store of a kind-11 source (null when it has none).
ObjStore* RowBufferObjects(const DataSource* source);
// 1 when the overlay of `source` holds `row`; its values are then assigned to
// the fields.
int16_t RowBufferLookup(DataSource* source, uint32_t row, FieldDef* fields, int32_t count);
// Lays a new, empty pending-row overlay over a source; frees it again.
int16_t RowOverlayAttach(DataSource* source);
void RowOverlayFree(DataSource* source);

// ===== Type clauses of foreign files =========================================

struct TypeClauseOptions {
  int charset;
  char delimiter;
  uint8_t titles;
  const char* range;     // worksheets; null or "" when none
  const char* database;  // Access
  const char* table;     // Access
  uint8_t accessFormat;  // 4, 5; 0 not given
  const char* password;  // Access; null or "" when none
};

// Appends the type part to the NUL-terminated text in a buffer of `size`
// bytes; 0 (text unchanged) when it does not fit or the kind has none.
int16_t TypeClauseWrite(char* text, size_t size, int fileKind, const TypeClauseOptions* options);

// No entry reaches the clause defaults yet: only the tests call them.
// The defaults of an omitted "Units" value. While a statement runs its
// settings are pushed and popped around it.
uint16_t ClauseDefaultValue(int index);
void ClauseDefaultsPush(const uint16_t values[3]);
void ClauseDefaultsPop();
void ClauseDefaultSetProcess(uint16_t value);  // index 1 outside statements

// ===== Data-source dispatcher ================================================

int DataKindFileKind(uint8_t kind);
void DataSourceDefaults(uint8_t kind, uint32_t params[kDataParamWords]);
int16_t DataSourceCreate(const char* tableName, const char* directory, int fileKind,
                         uint8_t temporary, DataSource* source, uint8_t kind,
                         int32_t columnCount, FieldDef* columns,
                         const uint32_t params[kDataParamWords], FileHandle fileHandle);
int16_t DataSourceAttach(const char* path, int fileKind, DataSource* source, uint8_t kind,
                         int32_t* columnCount, FieldDef* columns);
int16_t DataSourceDescribe(const char* path, TableObject* table);
int16_t DataSourceOpen(DataSource* source, int mode);
int16_t DataSourceRelease(DataSource* source);
int16_t DataSourceRead(DataSource* source, FieldDef* values, uint32_t row, uint8_t* deleted);
int16_t DataSourceReadRow(DataSource* source, FieldDef* values, uint32_t row);
int16_t DataSourceInsert(DataSource* source, FieldDef* values, uint32_t* row);
int16_t DataSourceUpdate(DataSource* source, FieldDef* values, uint32_t row);
int16_t DataSourceClose(DataSource* source, FieldDef* columns);
int16_t DataSourceHasMemo(DataSource* source);
// The range text of a Lotus or Excel source (ptr[2]): a copy of `text`, none
// for null or empty text, replacing any it held. The source owns it: the
// driver's close frees it, and so does an attach that fails. 0 with the
// error pushed when out of memory.
int16_t DataSourceSetRange(DataSource* source, const char* text);
// Frees the range text of a Lotus or Excel source whose driver will never be
// closed; nothing for the other kinds.
void DataSourceFreeRange(DataSource* source);
// The driver for a kind, or null when the kind has none built.
const DataDriver* DataDriverFor(uint8_t kind);

// Helpers the drivers share. The library charset (set by PXSetCharset):
// texts of the data files are converted to and from it.
int CurrentTableCharset();
// Allocates the text payload (width + 1) of Char and Memo columns, frees
// every column's payload.
int16_t ColumnValuesAlloc(FieldDef* columns, int32_t count);
void ColumnValuesFree(FieldDef* columns, int32_t count);
void ColumnValuesBlank(FieldDef* columns, int32_t count);
// Pushes kErrValueRefused for the column with the value's text, or, without
// one, the column's current value as the row text shows it.
void ColumnValueRefused(const FieldDef& column, const char* text = nullptr);

// ===== Views, column slots =====================================================

// A column of a view: the one-reference expression reads the table's field.
struct ColumnSlot {
  char name[32];
  uint8_t kind;
  uint16_t displayWidth;
  uint8_t decimals;
  uint8_t editable;
  uint8_t* expr;  // {241, 26, offset} then the field number; owned
  TableObject* table;
};

// The auxiliary column record of a table: its slots and their name buffer.
struct ColumnSet {
  char* buffer;
  uint32_t count;
  ColumnSlot* slots;
};

// One part table of a view, with its link to the part after it when the
// parts are chained through field indexes.
struct ViewPart {
  TableObject* table;
  uint32_t opens;       // opens this view holds on the part
  uint32_t linkField;   // chained: field of the next part whose value links
  uint32_t indexField;  // chained: field of this part whose index is searched
};

enum JoinKind : uint8_t { kJoinNone = 0, kJoinTuple = 1, kJoinChained = 2 };

// ===== Open table ============================================================

struct TableObject {
  TableObject* next;  // link of the open-table list the table is on
  char name[32];
  uint8_t hidden;  // not found by TableFindByName
  FileHandle defFile;
  char* description;  // owned; null when none
  int16_t version;
  int16_t readEntireVersion;
  int16_t editVersion;
  uint8_t readOnly;
  uint8_t linked;
  uint8_t webFeature;
  uint8_t editState;
  uint8_t serverFlag;
  uint8_t openForWrite;
  uint32_t fieldCount;
  FieldDef* fields;
  uint32_t rowCount;
  DataSource source;
  CoordSys* coordSys;
  ObjStore* store;  // null: no map part
  FileHandle indexFile;
  MetadataNode* metadata;  // owned; null when none
  void* linkedRecord;
  ColumnSet* columns;
  // As a view over part tables (partCount 0: the table is its own part).
  uint32_t partCount;
  ViewPart* parts;
  uint8_t joinKind;
  uint8_t failed;
  FileHandle tupleFile;
  uint32_t tupleCount;
  int32_t reportingPart;  // tuple join: -1 the last part
  uint32_t viewOpenCount;
  uint32_t position;  // the row TableMoveTo stands on
  // Hooks of the field-index file (null until built): open for reading,
  // close.
  int16_t (*indexOpen)(TableObject* table, int mode);
  void (*indexClose)(TableObject* table);
  int16_t (*tupleOpen)(TableObject* view);
  void (*tupleClose)(TableObject* view);
  uint32_t partOpens;  // opens a view holds on the table as its own part
  // The open field-index file (null when the table has none), and a view's
  // temporary one with its cached expression indexes.
  IndexFile* indexes;
  void* searchCache;
  // 0 not bound; 1 plain view of one table; others as the view layer sets.
  uint8_t viewKind;
  uint8_t temporary;  // close deletes the table's files
  // The library-wide change counter at the table's last row change (insert,
  // update, delete); expression indexes built before it are stale.
  uint32_t changeStamp;
};

// The library-wide counter of row changes; TableNoteChange raises it and
// records it in the table's changeStamp.
uint32_t& TableChangeCounter();
void TableNoteChange(TableObject* table);

// ===== Columns, reopening, versions ==========================================

// The names given so far in one table (compared ignoring case).
struct ColumnNameList {
  char (*names)[32];
  int32_t count;
  int32_t capacity;
};
void ColumnNameListFree(ColumnNameList* list);

int16_t ColumnNameCheck(const char* name);
// Makes `name` (a buffer of 32 bytes) valid and, with a list, unique within
// it, and adds it to the list. 0 only when the list cannot grow.
int16_t ColumnNameUnique(char* name, ColumnNameList* list);
// The same over a table's own fields 0..count-1 (the list is their names).
int16_t ColumnNamesMakeUnique(FieldDef* columns, int32_t count);
int16_t ColumnTypeText(uint8_t type, int width, int decimals, char* text, size_t size);
uint16_t ColumnDisplayWidth(uint8_t kind, int width);
int16_t ColumnSlotInit(ColumnSlot* slot, TableObject* view, TableObject* table,
                       const FieldDef* column, uint32_t field);
void ColumnSlotFree(ColumnSlot* slot);
int16_t TableExprEval(const ColumnSlot* slot, Value* out);
void ColumnSetFree(ColumnSet** set);

int16_t TableFilesReopen(TableObject* view, int write);
void TableLinksRelease(TableObject* view);

// No entry reaches the open-table lists yet: only the tests call them.
// The two lists of open tables (0 and 1).
TableObject** TableListHead(int which);
void TableListAdd(int which, TableObject* table);
int16_t TableListRemove(int which, TableObject* table);
int16_t TableFindByName(const char* name, TableObject** out, int* list);
int16_t TableFindByNameAll(const char* name, TableObject** out, int* list);
uint32_t TableRowCount(const TableObject* view);
int16_t TableIsShapefile(const TableObject* table);

struct TableVersions {
  int16_t table;
  int16_t readEntire;
  int16_t edit;
};
void TableSetVersions(TableObject* table, int16_t version);
void TableVersionsRaise(TableVersions* versions, int16_t table, int16_t readEntire,
                        int16_t edit);
int16_t TableVersionsForFeatures(const TableVersions* in, TableVersions* out,
                                 const TableObject* table);
int16_t TableVersionsForProjection(const TableVersions* in, TableVersions* out, int projection);
int16_t TableVersionsForCoordSys(const TableVersions* in, TableVersions* out,
                                 const CoordSys* coordSys);
int16_t TableVersionsForObject(const TableVersions* in, TableVersions* out,
                               const GeomObject* object, const TableObject* table);

}  // namespace layerio
