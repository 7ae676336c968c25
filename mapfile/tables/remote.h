// The remote-database layer and the remote table source (data kind 10).
//
// Driver libraries are found in the program folder under the names below and
// bound at run time; each exports the 32 entry names of kSrvEntryNames. The
// layer opens no connection: every connect request loads the drivers (once)
// and then yields none, so remote tables never open. Statements, fetching
// and result copies need a connection and are therefore reached by nothing;
// they are kept to the checks that refuse a missing connection.
//
// Results are 1 for success and 0 for failure unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mapfile/tables/remote_driver.h"
#include "mapfile/tables/table.h"

namespace layerio {

// ===== Codes and names =======================================================

enum RemoteErrorCode : int16_t {
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
enum SrvEntrySlot : int { kSrvSlotClose = 2, kSrvSlotInit = 23, kSrvSlotUnload = 31 };

// The driver libraries, looked for in this order, and the driver names.
inline constexpr const char* kSrvFirstDriverFile = "libgsbsrv.so";
inline constexpr const char* kSrvSecondDriverFile = "libgsbsrv2.so";
inline constexpr const char* kSrvDefaultDriverName = "GSBSRV";  // when none is asked for
inline constexpr const char* kSrvGenericDriverName = "ODBC";    // taken as the default one
inline constexpr const char* kSrvSecondDriverName = "GSBSRV2";  // tables of version 550

// ===== Registry ==============================================================

struct SrvStatement;

struct SrvConnection {
  SrvConnection* next;
  void** entries;  // the driver's entry table
  int16_t errorCode;
  char errorText1[1024];
  char errorText2[1024];
  char driverName[32];
  std::string connect;
  std::string serverKind;
  double serverVersion;
  char quote;
  uint8_t open;
  uint8_t spatialServer;
  SrvConnection* companion;
};

struct SrvStatement {
  SrvStatement* next;
  uint32_t number;  // from 1, the lowest free one
  SrvConnection* connection;
  int32_t columnCount;
  uint8_t atEnd;
};

struct SrvRegistry {
  std::vector<SrvConnection*> connections;
  std::vector<SrvStatement*> statements;
};

SrvRegistry* SrvRegistryGet();
int16_t SrvDriversLoad();
// `which` 1 the first driver file, 2 the second.
int16_t SrvDriverLoad(int which);
int32_t SrvDriverCount();
// The folder the driver files are looked for in: the program folder unless
// set (tests); null restores it.
void SrvDriverFolderSet(const char* folder);
// Forgets the drivers and the registry (tests; the libraries stay mapped).
void SrvLayerReset();

// Null always: the layer opens no connection (drivers are loaded first).
SrvConnection* SrvConnectRequest(const char* driverName, const char* connect, int newConnection);
// The connect string a request works with: `connect`, ";" when it does not
// end with one, and "SCROLL=NO", however long `connect` is.
std::string SrvConnectStringBuild(const char* connect);
// Whether an open connection answers a request for this driver and string.
bool SrvConnectionMatches(const SrvConnection* connection, const char* driverName,
                          const char* connect);

// Statements need a connection: with none these refuse (null, 0).
SrvStatement* SrvStatementExecute(SrvConnection* connection, const char* text);
int16_t SrvStatementClose(SrvConnection* connection, SrvStatement* statement);
int16_t SrvFetchRow(SrvConnection* connection, SrvStatement* statement, int32_t direction);

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

// The remote definition of a table, params.ptr[0] of its data source.
struct RemoteDef {
  std::string firstText;
  std::string connect;  // empty: none
  std::string driverName;
  SrvConnection* connection = nullptr;
  std::string setup;
  std::string tableName;
  int32_t keyColumn = 0;
  uint32_t keyLength = 0;
  FileHandle keyFile = 0;
  std::vector<uint8_t> window;  // keys of rows windowFirst...
  uint32_t windowFirst = 0;     // 0: nothing loaded
  uint32_t windowCount = 0;
  uint32_t keyCount = 0;
  uint32_t pendingInserts = 0;
  uint8_t atEnd = 0;
  uint32_t state = 0;
  uint8_t cache = 0;
  uint8_t mbrSearch = 0;
  uint8_t workspaceFlag = 0;  // "Oracle" servers
  uint8_t versioned = 0;
  std::string workspace;
  std::string workspace2;
  uint16_t objectFlag = 0;
  uint8_t marks = 0;  // 1 read-only mark, 2 second mark
};

RemoteDef* RemoteDefOf(const DataSource* source);
// Gives the source a new, empty definition (replacing and freeing any).
RemoteDef* RemoteDefAttach(DataSource* source);
void RemoteDefFree(DataSource* source);

const DataDriver* RemoteDataDriver();
int16_t RemoteOpen(DataSource* source);
int16_t RemoteAcquire(DataSource* source);
int16_t RemoteTableVersion(const DataSource* source);
uint16_t RemoteDefObjectFlag(const DataSource* source);
// The type line and the metadata of a remote table, written to `stream`.
int16_t RemoteTabLines(DataSource* source, TableObject* table, FileHandle stream);
// Loads the window that holds row `row` (from 1) from the key file.
int16_t RemoteKeyWindowLoad(RemoteDef* def, uint32_t row);
// The key of a row (keyLength bytes inside the window), null on failure.
const uint8_t* RemoteKeyGet(RemoteDef* def, uint32_t row);
int16_t RemoteKeyAppend(RemoteDef* def, const uint8_t* key);
int16_t RemoteKeyReplace(RemoteDef* def, uint32_t row, const uint8_t* key);

}  // namespace layerio
