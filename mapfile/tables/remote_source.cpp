// The remote table source (data kind 10): a table whose rows live on a
// database server. Rows are numbered locally through a key file (the key of
// row 1, row 2, ... one after another) read through a window of keys.
//
// Opening needs a connection, and the remote layer opens none, so a remote
// table never opens; reading, appending and updating are kept to what they
// can do without one (the key file and its window).
#include <algorithm>
#include <cstring>

#include "mapfile/tables/metadata.h"
#include "mapfile/tables/remote.h"

namespace layerio {

namespace {

constexpr int kDefSlot = 0;
constexpr uint8_t kMarkReadOnly = 1;
constexpr uint8_t kMarkSecond = 2;

// Metadata keys of the remote definition.
constexpr const char* kKeyMarkReadOnly = "\\RemoteKeyReadOnly";
constexpr const char* kKeyMarkSecond = "\\RemoteMarked";
constexpr const char* kKeyFirstText = "\\RemoteQuery";
constexpr const char* kKeyConnect = "\\RemoteConnectString";
constexpr const char* kKeyDriver = "\\RemoteDriver";
constexpr const char* kKeySetup = "\\RemoteSetup";
constexpr const char* kKeyWorkspaceFlag = "\\RemoteWorkspace";
constexpr const char* kKeyVersioned = "\\RemoteVersioning";
constexpr const char* kKeyWorkspaceName = "\\RemoteWorkspaceName";
constexpr const char* kKeyWorkspaceParent = "\\RemoteWorkspaceParent";

const char* OnOff(bool on) { return on ? "ON" : "OFF"; }

// A connection's server kind, or "" without one.
const char* ServerKind(const RemoteDef* def) {
  return def && def->connection ? def->connection->serverKind.c_str() : "";
}

bool KeyFileRead(const RemoteDef* def, uint32_t firstRow, uint32_t count, uint8_t* out) {
  const int64_t offset = int64_t(firstRow - 1) * def->keyLength;
  const int64_t bytes = int64_t(count) * def->keyLength;
  if (bytes > INT32_MAX) return false;
  if (FileSeek(def->keyFile, offset, 0) != offset) return false;
  return FileRead(def->keyFile, out, int32_t(bytes)) == bytes;
}

bool KeyFileWrite(const RemoteDef* def, uint32_t row, const uint8_t* key) {
  const int64_t offset = int64_t(row - 1) * def->keyLength;
  if (FileSeek(def->keyFile, offset, 0) != offset) return false;
  return FileWrite(def->keyFile, key, int32_t(def->keyLength)) == int32_t(def->keyLength);
}

// ===== Driver hooks ==========================================================

int16_t RemoteDescribe(DataSource* source, TableObject*) { return RemoteOpen(source); }

int16_t RemoteOpenHook(DataSource* source, int) { return RemoteOpen(source); }

int16_t RemoteReleaseHook(DataSource*) { return 1; }

int16_t RemoteRowRead(DataSource* source, FieldDef*, uint32_t row, uint8_t*) {
  RemoteDef* def = RemoteDefOf(source);
  if (!def || !def->connection) return 0;
  def->state = 2;
  if (row > def->keyCount && def->atEnd) return 0;
  source->rowCount = std::max(source->rowCount, def->keyCount);
  return 0;  // rows come from the server, which no connection reaches
}

// A remote table never opens, so it takes no rows and changes none: the key
// of a new row would come from the server.
int16_t RemoteRowInsert(DataSource*, FieldDef*, uint32_t*) { return 0; }

int16_t RemoteRowUpdate(DataSource*, FieldDef*, uint32_t) { return 0; }

int16_t RemoteCloseHook(DataSource*) { return 1; }

}  // namespace

RemoteDef* RemoteDefOf(const DataSource* source) {
  return source ? static_cast<RemoteDef*>(source->params.ptr[kDefSlot]) : nullptr;
}

RemoteDef* RemoteDefAttach(DataSource* source) {
  RemoteDefFree(source);
  auto* def = new (std::nothrow) RemoteDef();
  source->params.ptr[kDefSlot] = def;
  return def;
}

void RemoteDefFree(DataSource* source) {
  delete RemoteDefOf(source);
  source->params.ptr[kDefSlot] = nullptr;
}

const DataDriver* RemoteDataDriver() {
  static const DataDriver driver = {
      nullptr,       nullptr,         RemoteDescribe,  RemoteOpenHook,  RemoteReleaseHook,
      RemoteRowRead, RemoteRowInsert, RemoteRowUpdate, RemoteCloseHook, nullptr,
  };
  return &driver;
}

int16_t RemoteOpen(DataSource* source) {
  RemoteDef* def = RemoteDefOf(source);
  const char* driver = def && !def->driverName.empty() ? def->driverName.c_str() : nullptr;
  const char* connect = def && !def->connect.empty() ? def->connect.c_str() : "";
  if (!def || def->connect.empty()) driver = "";
  SrvConnection* connection = SrvConnectRequest(driver, connect, 0);
  if (!connection || !def) return 0;
  def->connection = connection;
  if (def->connect != connection->connect) def->connect = connection->connect;
  return 0;  // no host sets a remote table up
}

int16_t RemoteAcquire(DataSource* source) {
  RemoteDef* def = RemoteDefOf(source);
  if (def) {
    def->windowFirst = 0;
    def->windowCount = 0;
  }
  return 1;
}

int16_t RemoteTableVersion(const DataSource* source) {
  const RemoteDef* def = RemoteDefOf(source);
  if (def && !def->setup.empty()) return 650;
  if (def && def->driverName == kSrvSecondDriverName) return 550;
  return 500;
}

uint16_t RemoteDefObjectFlag(const DataSource* source) {
  const RemoteDef* def = RemoteDefOf(source);
  return def ? def->objectFlag : 1;
}

int16_t RemoteTabLines(DataSource* source, TableObject* table, FileHandle stream) {
  RemoteDef* def = RemoteDefOf(source);
  if (!table || FilePrintf(stream, "  Type %s\n", "ODBC") < 0) return 0;
  if (!table->metadata && !(table->metadata = MetadataCreate())) return 0;
  MetadataNode* m = table->metadata;
  bool ok = MetadataStore(m, "\\IsReadOnly", "FALSE");
  if (def) {
    if (def->marks & kMarkSecond) ok = ok && MetadataSet(m, kKeyMarkSecond, "TRUE");
    if (def->marks & kMarkReadOnly) ok = ok && MetadataSet(m, kKeyMarkReadOnly, "TRUE");
    std::string connect = def->connect;
    ConnStrNormalize(&connect);
    ok = ok && MetadataSet(m, kKeyFirstText, def->firstText.c_str());
    ok = ok && MetadataSet(m, kKeyConnect, connect.c_str());
    if (!def->driverName.empty()) ok = ok && MetadataSet(m, kKeyDriver, def->driverName.c_str());
    if (!def->setup.empty()) {
      ok = ok && MetadataSet(m, kKeySetup, def->setup.c_str());
      def->setup.clear();
    }
    const char* kind = ServerKind(def);
    if (StrEqualNoCaseN(kind, "Oracle", 6) && std::strlen(kind) >= 6)
      ok = ok && MetadataSet(m, kKeyWorkspaceFlag, OnOff(def->workspaceFlag));
    ok = ok && MetadataSet(m, "\\CACHE", OnOff(def->cache));
    ok = ok && MetadataSet(m, "\\MBRSEARCH", OnOff(def->mbrSearch));
    if (StrEqualNoCase(kind, "Oracle_Spatial") && def->connection->serverVersion >= 9.0 &&
        def->versioned) {
      ok = ok && MetadataSet(m, kKeyVersioned, OnOff(def->versioned));
      ok = ok && MetadataSet(m, kKeyWorkspaceName, def->workspace.c_str());
      ok = ok && MetadataSet(m, kKeyWorkspaceParent, def->workspace2.c_str());
    }
  } else {
    ok = ok && MetadataSet(m, "\\CACHE", "OFF") && MetadataSet(m, "\\MBRSEARCH", "OFF");
  }
  return ok && MetadataWrite(m, stream, "  ") ? 1 : 0;
}

int16_t RemoteKeyWindowLoad(RemoteDef* def, uint32_t row) {
  if (!def || row == 0 || def->keyLength == 0) return 0;
  if (def->windowFirst && row >= def->windowFirst && row < def->windowFirst + def->windowCount)
    return 1;
  if (row > def->keyCount) return 0;
  // Moving back starts the window at the row; moving on centres it there.
  uint32_t first = row;
  if (!def->windowFirst || row >= def->windowFirst)
    first = row < kRemoteWindowKeys / 2 ? 1 : row - kRemoteWindowKeys / 2;
  const uint32_t count = std::min(kRemoteWindowKeys, def->keyCount - first + 1);
  def->window.resize(size_t(kRemoteWindowKeys) * def->keyLength);
  def->windowFirst = 0;
  def->windowCount = 0;
  if (!KeyFileRead(def, first, count, def->window.data())) return 0;
  def->windowFirst = first;
  def->windowCount = count;
  return 1;
}

const uint8_t* RemoteKeyGet(RemoteDef* def, uint32_t row) {
  if (!RemoteKeyWindowLoad(def, row)) return nullptr;
  return def->window.data() + size_t(row - def->windowFirst) * def->keyLength;
}

int16_t RemoteKeyAppend(RemoteDef* def, const uint8_t* key) {
  if (!def || !key || def->keyLength == 0) return 0;
  const uint32_t row = def->keyCount + 1;
  if (!KeyFileWrite(def, row, key)) return 0;
  def->keyCount = row;
  if (def->windowFirst && row == def->windowFirst + def->windowCount &&
      def->windowCount < kRemoteWindowKeys) {
    std::memcpy(def->window.data() + size_t(def->windowCount) * def->keyLength, key,
                def->keyLength);
    ++def->windowCount;
  }
  return 1;
}

int16_t RemoteKeyReplace(RemoteDef* def, uint32_t row, const uint8_t* key) {
  if (!def || !key || row == 0 || row > def->keyCount) return 0;
  if (!KeyFileWrite(def, row, key)) return 0;
  if (def->windowFirst && row >= def->windowFirst && row < def->windowFirst + def->windowCount)
    std::memcpy(def->window.data() + size_t(row - def->windowFirst) * def->keyLength, key,
                def->keyLength);
  return 1;
}

}  // namespace layerio
