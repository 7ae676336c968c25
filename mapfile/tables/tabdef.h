// Table definitions (.TAB): the reader that turns a definition into an open
// TableObject (header lines, the clause language, query definitions,
// registration), the writer that emits the same format, registration of
// foreign data files, refreshing them, the pre-300 reader, closing a table
// object, and the open and close workers behind every handle.
//
// Results are 1 for success and 0 for failure unless said otherwise; a
// failure has pushed its reason on the foundation's error stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/records.h"
#include "mapfile/tables/table.h"

namespace layerio {

struct MetadataNode;

enum TabDefErrorCode : int16_t {
  kErrDefClauseHere = 301,      // definition clause not allowed here (token)
  kErrDefLegacyNoColumns = 321, // with the table name
  kErrDefNotDefinition = 329,
  kErrDefAlreadyOpen = 362,
  kErrQueryJoins = 401,
  kErrQueryColumn = 414,
  kErrDefFieldIndex = 501,      // with the field name
  kErrDefVersion = 503,         // table name, "%d.%d"
  kErrDefDataMissing = 505,
  kErrDefUnknownClause = 599,
  kErrDefTableType = 610,
  kErrDefIdentifier = 689,
  kErrDefString = 694,
  kErrDefTypeWord = 714,
  kErrDefWriteFailed = 754,     // with the .TAB path
  kErrDefDescribeFailed = 755,  // with the path
  kErrDefKeyword = 851,         // token, "open" or "create"
  kErrDefFileTime = 923,        // with the file name
  kErrDefAccessVersion = 1309,
  kErrDefRaster = 1921,
  kErrDefView = 1922,
  kErrDefQueryCollect = 1923,
  kErrDefCompressed = 1926,
  kErrDefStale = 1931,
  kErrDefStatus = 1932,
  kErrDefViewBind = 1933,
  kErrDefQuery = 1934,
  kErrDefQueryAsTable = 1937,
};

// Definition kinds of a reader run.
enum DefKind : uint8_t { kDefNone = 0, kDefTable = 1, kDefQuery = 2, kDefNotTable = 3 };

// The record of one reader run.
struct DefParse {
  uint8_t allowTable;  // a table definition may be read
  uint8_t legacy;      // the definition is in the pre-300 form
  uint8_t kind;        // DefKind
  TableObject* table;
  char dataFile[kPathCapacity];
  FileHandle defFile;
  MetadataNode* metadata;
  uint8_t readOnly;
  uint8_t seamless;
  uint8_t drilldown;
  uint8_t quiet;  // silences missing field indexes
  // The map part: the coordinate system of the "CoordSys" clause.
  uint8_t mapPresent;
  CoordSys mapCoordSys;
  uint8_t webFeature;
};

// The query-collection block (InterfaceState::queryBlock) while
// PXGetQueryInfo reads a definition.
struct QueryCollect {
  uint32_t tableCount;
  PXQueryTable* tables;  // MemAlloc'd
  TableObject** tableDefs;  // the opened definitions of the base tables
  uint32_t columnCount;
  PXQueryColumn* columns;
  PXQueryCondition* conditions;
  uint32_t conditionCount;
};

// ----- reader -----

TableObject* TableDefinitionOpen(FileHandle defFile);
int16_t DefinitionHeaderRead(FileHandle defFile, DefParse* parse);
// Runs clauses from `text`, or else from `file` (a path), until the input
// ends; 1 when every clause succeeded and no new error was pushed.
int16_t ClauseStreamRun(const char* text, const char* file, int32_t firstLine, DefParse* parse);
// Runs a statement's clauses with no definition being read. The date mode
// is 1 while it runs when `flag` is non-zero, else 2, and comes back to what
// it was however the run ends.
int16_t StatementRun(const char* text, int flag);
int16_t TableIsStale(const TableObject* table, const char* dataPath);

struct CompanionFile {
  char path[kPathCapacity];
  uint32_t kind;
};
// The definition, data, index, map and object-index files of a table; the
// number of entries (at most 5).
int32_t CompanionFileList(const TableObject* table, CompanionFile out[5]);

// The map part of a table read from a definition is one MemAlloc'd block:
// its object store first, then what the store reads of its table.
// table->store points at the block and table->coordSys into the store's
// header, so the coordinate system is never freed on its own.
// TableMapPartClose closes the store and frees the block; the table is left
// without a map part (store and coordSys null).
void TableMapPartClose(TableObject* table);

// ----- writer -----

int16_t TableDefWrite(TableObject* table);
int16_t TableDefWriteFull(TableObject* table, int metadataFlag1, int metadataFlag2);
int16_t TableRegisterData(const char* defPath, const char* dataPath, const DataSource* source,
                          int metadataFlag, int webFeature);
int16_t TableDataNewer(const char* dataPath, const char* defPath, int* newer,
                       const TableObject* table);
// Rebuilds the definition of a foreign table whose data file is newer.
int16_t TableDefRefresh(const char* defPath, const char* dataPath, TableObject* table);
int16_t TableDefReadLegacy(DefParse* parse, FileHandle file);
// The columns a definition declares (owned by the caller: ColumnValuesFree
// then MemFree).
FieldDef* TableDefColumns(FileHandle defFile, int32_t* count, int flag);
void TableClose(TableObject* table);
int16_t TableViewOfTable(TableObject* view, TableObject* table, int refuse);

// ----- open and close workers -----

PXTableHandle OpenTableWorker(const char* path, uint32_t mode, const char* echoPath);
uint16_t CloseTableWorker(PXTableHandle handle, uint16_t commit);

}  // namespace layerio
