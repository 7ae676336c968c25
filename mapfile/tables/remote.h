// The remote-database layer and the remote table source (data kind 10).
//
// Driver libraries are found in the program folder under the names below and
// bound at run time; each exports the 32 entry names of kSrvEntryNames. The
// layer's own connection-opening step yields no connection: every connect
// request loads the drivers (once) and then finds none, so remote tables
// never open. Everything that needs a connection (statements, fetching,
// column conversion, result copies, the server-kind statements, the remote
// table's rows and keys) works through a connection that only a test makes
// (SrvConnectionOpenerSet, SrvConnectionCreate).
//
// Results are 1 for success and 0 for failure unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mapfile/objects/objstore.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/remote_driver.h"
#include "mapfile/tables/table.h"

namespace layerio {

// ===== Codes and names =======================================================

enum RemoteErrorCode : int16_t {
  kErrSrvNoColumns = 959,        // with kSrvMsgNoColumns
  kErrSrvColumnType = 960,       // with the column name
  kErrSrvConnectionGone = 961,   // the connection is not in the registry
  kErrSrvStatementGone = 962,    // the statement is not in the registry
  kErrSrvSecondNotLoaded = 1550,  // with the path; then 1551, 1552, 1553
  kErrSrvSecondNotLoaded2 = 1551,
  kErrSrvSecondNotLoaded3 = 1552,
  kErrSrvSecondNotLoaded4 = 1553,
  kErrSrvFirstNotLoaded = 1555,  // with the path; then 1556, 1557, 1558
  kErrSrvFirstNotLoaded2 = 1556,
  kErrSrvFirstNotLoaded3 = 1557,
  kErrSrvFirstNotLoaded4 = 1558,
  kErrSrvDriversFailed = 1560,   // a driver failed after errors were pushed
  kErrSrvEntryMissing = 1561,    // with the path
  kErrRemoteNoTableName = 1579,
  kErrRemoteSpatialRefused = 1585,
};

inline constexpr int kSrvEntryCount = 32;
extern const char* const kSrvEntryNames[kSrvEntryCount];
enum SrvEntrySlot : int {
  kSrvSlotClose = 2,
  kSrvSlotColumnAlias = 3,
  kSrvSlotColumnName = 5,
  kSrvSlotColumnPrecision = 6,
  kSrvSlotColumnScale = 7,
  kSrvSlotColumnType = 8,
  kSrvSlotColumnWidth = 10,
  kSrvSlotExecute = 18,
  kSrvSlotFetch = 22,
  kSrvSlotInit = 23,
  kSrvSlotNumColumns = 28,
  kSrvSlotUnload = 31,
};

// The driver libraries, looked for in this order, and the driver names.
inline constexpr const char* kSrvFirstDriverFile = "libgsbsrv.so";
inline constexpr const char* kSrvSecondDriverFile = "libgsbsrv2.so";
inline constexpr const char* kSrvDefaultDriverName = "GSBSRV";  // when none is asked for
inline constexpr const char* kSrvGenericDriverName = "ODBC";    // taken as the default one
inline constexpr const char* kSrvSecondDriverName = "GSBSRV2";  // tables of version 550

// Texts that go with errors.
inline constexpr const char* kSrvMsgNoColumns = "The statement returns no columns.";
inline constexpr const char* kSrvMsgFetchDirection =
    "The server cannot fetch rows in this direction.";

// Server kinds (a connection's serverKind) the layer treats apart.
inline constexpr const char* kSrvKindOracle = "Oracle";  // its first six characters
inline constexpr const char* kSrvKindOracleSpatial = "Oracle_Spatial";
inline constexpr const char* kSrvKindOracleSdo = "Oracle SDO Server";
inline constexpr const char* kSrvKindSqs = "Autometric SQS Server";
inline constexpr const char* kSrvKindGridVault = "GRIDVAULT/ORACLE";
inline constexpr const char* kSrvKindSqlServerGv = "SQL Server GV";

// ===== Registry ==============================================================

struct SrvStatement;

struct SrvConnection {
  // What the driver is handed: the entry table (entries below) and the
  // error code and texts it sets when a call fails.
  SrvDriver link{};
  void* entries[kSrvEntryCount]{};
  std::vector<SrvStatement*> statements;  // open, oldest first
  char driverName[32]{};
  std::string connect;
  std::string serverKind;
  double serverVersion = 0;
  std::string workspace;     // the server's current one
  std::string lastCoordSys;  // clause of the last projection statement
  std::string separators = ".";  // between the parts of a table name
  char quote = '"';              // around identifiers
  uint8_t open = 0;
  uint8_t spatialServer = 0;  // the spatial companion of another connection
  uint8_t hasOwners = 0;      // table names have an owner part
  SrvConnection* companion = nullptr;
};

// The table a statement's rows are copied into (SrvResultCopy), and the
// runner its statements go to (StatementRun unless set).
struct SrvCopyTarget {
  std::string table;
  std::string file;
  int16_t (*run)(const char* text, int flag) = nullptr;
};

struct SrvStatement {
  SrvStatementLink link{};  // what the driver is handed
  uint32_t number = 0;      // from 1, the lowest free one
  SrvConnection* connection = nullptr;
  int32_t columnCount = 0;
  std::vector<SrvColumnBuffer> columns;     // one per result column
  std::vector<std::vector<uint8_t>> store;  // their value bytes
  FieldDef* bound = nullptr;  // fetched rows are converted into these
  int32_t boundCount = 0;
  uint8_t atEnd = 0;
  SrvCopyTarget* target = nullptr;
};

struct SrvRegistry {
  std::vector<SrvConnection*> connections;
  std::vector<SrvStatement*> statements;
  ~SrvRegistry();
};

SrvRegistry* SrvRegistryGet();
int16_t SrvDriversLoad();
// `which` 1 the first driver file, 2 the second.
int16_t SrvDriverLoad(int which);
int32_t SrvDriverCount();
// The folder the driver files are looked for in: the program folder unless
// set (tests); null restores it.
void SrvDriverFolderSet(const char* folder);
// Forgets the drivers and the registry with its connections and statements
// (tests; the libraries stay mapped).
void SrvLayerReset();

// Finds an open connection that matches, else opens one through the
// connection-opening step (none without an opener); drivers are loaded first.
SrvConnection* SrvConnectRequest(const char* driverName, const char* connect, int newConnection);
// The connect string a request works with: `connect`, ";" when it does not
// end with one, and "SCROLL=NO", however long `connect` is.
std::string SrvConnectStringBuild(const char* connect);
// Whether an open connection answers a request for this driver and string.
bool SrvConnectionMatches(const SrvConnection* connection, const char* driverName,
                          const char* connect);

// For tests only, never reached from the exported entries: the opener the
// connection-opening step calls (null: none, the library's own behaviour),
// and the making of an open connection over a loaded driver (the first
// driver file for the default and generic names, the second for its name),
// registered with the layer. Null when the driver is not loaded.
using SrvConnectionOpener = SrvConnection* (*)(const char* driverName, const char* connect);
void SrvConnectionOpenerSet(SrvConnectionOpener opener);
SrvConnection* SrvConnectionCreate(const char* driverName, const char* connect);

// ===== Statements ============================================================

// Runs a statement on the connection (961 when it is not registered); its
// result columns get buffers. Null on failure, with the connection's error.
SrvStatement* SrvStatementExecute(SrvConnection* connection, const char* text);
// Ends the statement through the driver, unregisters and frees it.
int16_t SrvStatementClose(SrvConnection* connection, SrvStatement* statement);
// Fetched rows are converted into fields[0..count-1], column by column.
void SrvStatementBind(SrvStatement* statement, FieldDef* fields, int32_t count);
// A kSrvFetch* direction or a row number. Reaching the end is a success with
// atEnd set; any other failure reports the driver's error.
int16_t SrvFetchRow(SrvConnection* connection, SrvStatement* statement, int32_t direction);

// Column information (columns from 1). The name reports the connection's
// error when one is set; the type is 0 with 960 pushed when the driver has
// none, and a Decimal of precision above 18 is taken as Float; the width and
// precision are negative on failure.
std::string SrvColumnInfoName(SrvConnection* connection, SrvStatement* statement,
                              int32_t column);
int32_t SrvColumnInfoType(SrvConnection* connection, SrvStatement* statement, int32_t column);
int32_t SrvColumnInfoWidth(SrvConnection* connection, SrvStatement* statement, int32_t column);
int32_t SrvColumnInfoPrecision(SrvConnection* connection, SrvStatement* statement,
                               int32_t column);

// The fetched value of a column converted into a field's value (kind and,
// for Char, width of the field). 959 for a statement without columns, 960
// for a column of a type code the layer does not know.
int16_t SrvColumnConvert(SrvStatement* statement, int32_t column, FieldDef* field);

// Copies the rows of a statement that carries a target into a new table:
// its statements (create, fast edit, one insert per row, commit) go to the
// target's runner in order; stops at the first that fails.
int16_t SrvResultCopy(SrvConnection* connection, SrvStatement* statement);

// A qualified table name split at the connection's separators: the last
// part the table, the one before it the owner, the one before that the
// qualifier. 0 when a part is too long (128, 512, 128 characters).
struct SrvTableName {
  std::string qualifier;
  std::string owner;
  std::string table;
};
int16_t SrvTableNameSplit(const SrvConnection* connection, const char* name, SrvTableName* out);

// ===== Server kinds ==========================================================

// Whether the connection's server is of a kind (compared as that kind is).
bool SrvKindIsOracle(const SrvConnection* connection);
bool SrvKindIs(const SrvConnection* connection, const char* kind);
// Moves a versioned "Oracle_Spatial" server (version 9 and up) to the
// table's workspace, or back to "LIVE" when the table names none; 1 when
// nothing was needed.
int16_t SrvWorkspaceSwitch(SrvConnection* connection, int versioned, const char* workspace);
// Asks an "Oracle SDO Server" or "Autometric SQS Server" whether a table is
// spatial: 1 spatial, 0 not (or another kind). For the first the coordinate
// dimension count goes to *dimensions.
int16_t SrvTableSpatialCheck(SrvConnection* connection, const char* owner, const char* table,
                             int16_t* dimensions);
// Sets the server's projection to a table's coordinate system (server type
// of the table's remote object definition); skipped when already set.
int16_t RemoteSetProjection(SrvConnection* connection, int serverType, const CoordSys* coordSys);
// The statement that selects the objects in a search rectangle (coordsys
// units) from a statement template. 0 for a server type without one.
int16_t RemoteMbrStatementFill(int serverType, const char* templateText, const DRect* rect,
                               std::string* out);

// The code of a coordinate system from the built-in table (0 and failure
// when it has none); with `legacyFix` the system is mended first.
int16_t CoordSysCodeFind(const CoordSys* coordSys, int legacyFix, int32_t* code);
// An azimuthal system of the old form (projection 29, first three
// parameters 0, the first field of its parameter block 1) becomes
// projection 28.
void CoordSysLegacyFix(CoordSys* coordSys);

// ===== Connect strings =======================================================

// The next token of `text` (or, when null, of *cursor): blanks around it
// dropped, ended by a byte of `delimiters` outside quotes ("'` runs, a
// doubled quote standing for itself) and, with `brackets`, outside () and
// []. The ending delimiter is overwritten with a NUL and *cursor moves past
// it. Null when nothing is left.
char* ConnStrToken(char** cursor, char* text, const char* delimiters, int brackets);
// Drops the PWD, UPWD, DLG and SCROLL entries; the others are written back
// as key=value; in their order.
void ConnStrNormalize(std::string* connect);

// ===== Remote table source ===================================================

inline constexpr uint32_t kRemoteWindowKeys = 10000;

// The objects of a remote table: what its object store reads (ObjStore
// kind 4), the server type of its spatial flavour (1 to 14), the template
// of its search-rectangle statement and the coordinate dimensions.
struct RemoteObjectDef {
  ObjStoreRemoteDef store{};
  int32_t serverType = 0;
  std::string mbrTemplate;
  int16_t dimensions = 0;
};

// The remote definition of a table, params.ptr[0] of its data source.
struct RemoteDef {
  std::string firstText;
  std::string connect;  // empty: none
  std::string driverName;
  SrvConnection* connection = nullptr;
  std::string setup;
  std::string tableName;
  int32_t keyColumn = 0;   // from 0
  uint8_t keyType = 0;     // the key column's field type
  uint32_t keyLength = 0;  // bytes of a key in the key file
  FileHandle keyFile = 0;
  IndexFile* keyIndex = nullptr;  // keys back to rows
  FieldIndex keyField{};          // the key index's tree and cursor
  std::vector<uint8_t> window;    // keys of rows windowFirst...
  uint32_t windowFirst = 0;       // 0: nothing loaded
  uint32_t windowCount = 0;
  uint32_t keyCount = 0;
  uint32_t pendingInserts = 0;
  int32_t cachePosition[2] = {-1, -1};  // the row cache's current positions
  void* cacheBlock = nullptr;           // its current block
  uint8_t atEnd = 0;
  uint32_t state = 0;
  uint8_t cache = 0;
  uint8_t mbrSearch = 0;
  uint8_t workspaceFlag = 0;  // "Oracle" servers
  uint8_t versioned = 0;
  std::string workspace;
  std::string workspace2;
  RemoteObjectDef objects;
  uint8_t marks = 0;  // 1 read-only mark, 2 second mark
  // What the table's object store is given (RemoteObjStoreTable).
  ObjStoreRemoteTable storeTable{};
  ObjStorePendingRows pendingRows{};
};

RemoteDef* RemoteDefOf(const DataSource* source);
// Gives the source a new, empty definition (replacing and freeing any).
RemoteDef* RemoteDefAttach(DataSource* source);
// Frees the definition with its key file and key index.
void RemoteDefFree(DataSource* source);

const DataDriver* RemoteDataDriver();
int16_t RemoteOpen(DataSource* source);
int16_t RemoteAcquire(DataSource* source);
// Forgets the row cache's current positions.
void RemoteRowCacheReset(DataSource* source);
int16_t RemoteTableVersion(const DataSource* source);
uint16_t RemoteDefObjectFlag(const DataSource* source);
// The type line and the metadata of a remote table, written to `stream`.
int16_t RemoteTabLines(DataSource* source, TableObject* table, FileHandle stream);

// The key file (temporary) and the key index of a table whose key column
// has this field type and width: the set-up of an open table makes them.
int16_t RemoteKeysCreate(RemoteDef* def, uint8_t keyType, int width, int decimals);
// Loads the window that holds row `row` (from 1) from the key file.
int16_t RemoteKeyWindowLoad(RemoteDef* def, uint32_t row);
// The key of a row (keyLength bytes inside the window), null on failure.
// `value` (when given) gets it as a value of the key type: a text key's
// characters, the key's bytes as the payload of any other.
const uint8_t* RemoteKeyGet(RemoteDef* def, uint32_t row, Value* value = nullptr);
int16_t RemoteKeyAppend(RemoteDef* def, const uint8_t* key);
int16_t RemoteKeyReplace(RemoteDef* def, uint32_t row, const uint8_t* key);
// The key bytes of a value of the key type (keyLength bytes).
void RemoteKeyFromValue(const RemoteDef* def, const Value* value, uint8_t* key);

// Appends a row: its key (read from the server for a read-only key column)
// goes to the key file and the key index; an object that is not empty
// grows the store's bounds and, with the row, goes to the pending rows.
// `object` and `store` may be null.
int16_t RemoteRowInsert(DataSource* source, uint32_t* row, FieldDef* columns,
                        GeomObject* object, ObjStore* store);
// Re-keys the row when its key column's value changed.
int16_t RemoteRowUpdate(DataSource* source, FieldDef* columns, uint32_t row);
int16_t RemoteRowRead(DataSource* source, FieldDef* columns, uint32_t row);

// The table record the table's object store (kind 4) is opened with: the
// definition's objects and the pending-row data part, laid over the source
// as its overlay.
ObjStoreRemoteTable* RemoteObjStoreTable(DataSource* source);

}  // namespace layerio
