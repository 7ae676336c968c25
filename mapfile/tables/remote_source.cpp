// The remote table source (data kind 10): a table whose rows live on a
// database server. Rows are numbered locally through a key file (the key of
// row 1, row 2, ... one after another) read through a window of keys, and a
// key index maps keys back to rows.
//
// Opening needs a connection, and the remote layer opens none, so a remote
// table never opens; the set-up and the reading of a row are the host's, and
// this library has no host. Inserting and updating rows and keys work on a
// definition given a connection (tests).
#include <algorithm>
#include <cstring>

#include "mapfile/foundation/path.h"
#include "mapfile/foundation/strings.h"
#include "platform/endian.h"
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

// ===== Keys ==================================================================

// A scratch key buffer of the key column's type.
struct ScratchKey {
  IndexKey key{};
  bool ready = false;
  ScratchKey(const RemoteDef* def) {
    ready = IndexKeyInitForField(&key, def->keyType, def->keyField.key.width) != 0;
  }
  ~ScratchKey() {
    if (ready) IndexKeyFree(&key);
  }
};

// The value of the key column converted to the key type (in scratch.key).
bool KeyValueMake(const RemoteDef* def, const Value* value, ScratchKey* scratch) {
  return scratch->ready && def->keyIndex &&
         IndexKeyMake(value, &scratch->key, def->keyField.key.decimals, def->keyIndex->stamp);
}

// ===== Host hooks ============================================================
// What a host program would supply; without one they do nothing.

int16_t HostTableSetUp(DataSource*) { return 0; }
int16_t HostRowRead(DataSource*, FieldDef*, uint32_t) { return 0; }
int16_t HostRowsFetch(DataSource*, uint32_t) { return 1; }
int16_t HostObjectRead(void*, int32_t, int, GeomObject*) { return 0; }

// ===== Pending rows of the object store =======================================

int16_t PendingRowsAttach(void* owner, ObjStoreLinked* linked) {
  auto* source = static_cast<DataSource*>(owner);
  if (!RowOverlayAttach(source)) return 0;
  linked->rows = source->overlay;
  linked->objects = RowBufferObjects(&source->overlay->source);
  return 1;
}

void PendingRowsDetach(void* owner, ObjStoreLinked* linked) {
  RowOverlayFree(static_cast<DataSource*>(owner));
  linked->rows = nullptr;
  linked->objects = nullptr;
}

// ===== Driver hooks ==========================================================

int16_t RemoteDescribe(DataSource* source, TableObject*) { return RemoteOpen(source); }

int16_t RemoteOpenHook(DataSource* source, int) { return RemoteOpen(source); }

int16_t RemoteReleaseHook(DataSource*) { return 1; }

int16_t RemoteReadHook(DataSource* source, FieldDef* columns, uint32_t row, uint8_t*) {
  return RemoteRowRead(source, columns, row);
}

int16_t RemoteInsertHook(DataSource* source, FieldDef* columns, uint32_t* row) {
  return RemoteRowInsert(source, row, columns, nullptr, nullptr);
}

int16_t RemoteUpdateHook(DataSource* source, FieldDef* columns, uint32_t row) {
  return RemoteRowUpdate(source, columns, row);
}

int16_t RemoteCloseHook(DataSource*) { return 1; }

}  // namespace

RemoteDef* RemoteDefOf(const DataSource* source) {
  return source ? static_cast<RemoteDef*>(source->params.ptr[kDefSlot]) : nullptr;
}

RemoteDef* RemoteDefAttach(DataSource* source) {
  RemoteDefFree(source);
  auto* def = new (std::nothrow) RemoteDef();
  if (def) {
    def->objects.store.read = HostObjectRead;
    def->objects.store.context = source;
  }
  source->params.ptr[kDefSlot] = def;
  return def;
}

void RemoteDefFree(DataSource* source) {
  RemoteDef* def = RemoteDefOf(source);
  if (def) {
    IndexKeyFree(&def->keyField.key);
    if (def->keyIndex) IndexFileClose(def->keyIndex);
    if (def->keyFile) {
      FileCloseAndRemove(def->keyFile);
      FileRelease(def->keyFile);
    }
  }
  delete def;
  source->params.ptr[kDefSlot] = nullptr;
}

const DataDriver* RemoteDataDriver() {
  static const DataDriver driver = {
      nullptr,        nullptr,          RemoteDescribe,   RemoteOpenHook,  RemoteReleaseHook,
      RemoteReadHook, RemoteInsertHook, RemoteUpdateHook, RemoteCloseHook, nullptr,
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
  return HostTableSetUp(source);
}

int16_t RemoteAcquire(DataSource* source) {
  RemoteRowCacheReset(source);
  return 1;
}

void RemoteRowCacheReset(DataSource* source) {
  RemoteDef* def = RemoteDefOf(source);
  if (!def) return;
  def->cachePosition[0] = -1;
  def->cachePosition[1] = -1;
  def->cacheBlock = nullptr;
}

int16_t RemoteTableVersion(const DataSource* source) {
  const RemoteDef* def = RemoteDefOf(source);
  if (def && !def->setup.empty()) return 650;
  if (def && def->driverName == kSrvSecondDriverName) return 550;
  return 500;
}

uint16_t RemoteDefObjectFlag(const DataSource* source) {
  const RemoteDef* def = RemoteDefOf(source);
  return def ? def->objects.store.carriesObjects : 1;
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

const uint8_t* RemoteKeyGet(RemoteDef* def, uint32_t row, Value* value) {
  if (!RemoteKeyWindowLoad(def, row)) return nullptr;
  const uint8_t* key = def->window.data() + size_t(row - def->windowFirst) * def->keyLength;
  if (value) {
    *value = Value{};
    value->kind = def->keyType;
    switch (def->keyType) {
      case kFieldChar: {
        const std::string text(reinterpret_cast<const char*>(key),
                               strnlen(reinterpret_cast<const char*>(key), def->keyLength));
        if (!ValueParseField(text.c_str(), kValueText, -1, 0, 1, value, 0)) return nullptr;
        break;
      }
      case kFieldDecimal:
      case kFieldFloat:
        value->u.d = QLoadF64LE(key);
        break;
      case kFieldInteger:
        value->u.i = int32_t(QLoadU32LE(key));
        break;
      case kFieldSmallint:
        value->u.s = int16_t(QLoadU16LE(key));
        break;
      case kFieldDate:
        value->u.date = DateRec{int16_t(QLoadU16LE(key)), key[2], key[3]};
        break;
      case kFieldLogical:
        value->u.b = key[0];
        break;
      default:
        break;
    }
  }
  return key;
}

void RemoteKeyFromValue(const RemoteDef* def, const Value* value, uint8_t* key) {
  std::memset(key, 0, def->keyLength);
  switch (def->keyType) {
    case kFieldChar: {
      char* text = nullptr;
      ValueData(value, &text);
      if (text) std::memcpy(key, text, strnlen(text, def->keyLength));
      break;
    }
    case kFieldDecimal:
    case kFieldFloat:
      QStoreF64LE(key, value->u.d);
      break;
    case kFieldInteger:
      QStoreU32LE(key, uint32_t(value->u.i));
      break;
    case kFieldSmallint:
      QStoreU16LE(key, uint16_t(value->u.s));
      break;
    case kFieldDate:
      QStoreU16LE(key, uint16_t(value->u.date.year));
      key[2] = value->u.date.month;
      key[3] = value->u.date.day;
      break;
    case kFieldLogical:
      key[0] = value->u.b;
      break;
    default:
      break;
  }
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

int16_t RemoteKeysCreate(RemoteDef* def, uint8_t keyType, int width, int decimals) {
  if (!def || def->keyFile || def->keyIndex) return 0;
  if (keyType == kFieldChar25) {
    keyType = kFieldChar;
    width = 25;
  }
  const int length = IndexKeyLength(keyType, width, 1);
  if (length == 0) return 0;
  char path[kPathCapacity];
  if (!TempFileName(path, nullptr)) return 0;
  FileHandle file = FileTableAddName(path, 0);
  if (!file) return 0;
  if (FileOpen(file, kFileModeCreate, nullptr) < 0) {
    FileRelease(file);
    return 0;
  }
  IndexFile* index = IndexFileCreate(nullptr, nullptr, 0, 1);
  const int number = index ? IndexAdd(index, keyType, width, 0) : 0;
  if (!number || !IndexKeyInitForField(&def->keyField.key, keyType, width)) {
    if (index) IndexFileClose(index);
    FileCloseAndRemove(file);
    FileRelease(file);
    return 0;
  }
  def->keyField.number = uint16_t(number);
  def->keyField.key.decimals = uint8_t(std::clamp(decimals, 0, 255));
  def->keyIndex = index;
  def->keyFile = file;
  def->keyType = keyType;
  def->keyLength = uint32_t(length);
  def->keyCount = 0;
  def->windowFirst = def->windowCount = 0;
  return 1;
}

int16_t RemoteRowInsert(DataSource* source, uint32_t* row, FieldDef* columns,
                        GeomObject* object, ObjStore* store) {
  RemoteDef* def = RemoteDefOf(source);
  if (!def || !columns || def->keyColumn < 0 || def->keyColumn >= source->columnCount) return 0;
  FieldDef* keyColumn = &columns[def->keyColumn];
  bool keyed = true;
  if (keyColumn->readOnly) {
    // The server gives the key of a new row of a read-only key column.
    SrvConnection* c = def->connection;
    if (!c) return 0;
    const std::string q(1, c->quote);
    const std::string text = "SELECT max(" + q + keyColumn->name + q + ") from " + q +
                             def->tableName + q + " ";
    SrvStatement* statement = SrvStatementExecute(c, text.c_str());
    if (!statement) return 0;
    int16_t ok = SrvFetchRow(c, statement, kSrvFetchNext);
    keyed = ok && !statement->atEnd;
    if (keyed) ok = SrvColumnConvert(statement, 1, keyColumn);
    SrvStatementClose(c, statement);
    if (!ok) return 0;
  }
  const uint32_t newRow = source->rowCount + 1;
  if (keyed) {
    ScratchKey scratch(def);
    std::vector<uint8_t> key(def->keyLength);
    if (!KeyValueMake(def, &keyColumn->value, &scratch)) return 0;
    RemoteKeyFromValue(def, &scratch.key.value, key.data());
    if (!RemoteKeyAppend(def, key.data())) return 0;
    if (!IndexInsert(def->keyIndex, &def->keyField, &scratch.key.value, newRow)) return 0;
  }
  source->rowCount = newRow;
  source->currentRow = newRow;
  ++def->pendingInserts;
  *row = newRow;
  if (object && !GeomObjectIsEmpty(object)) {
    if (store) {
      IRect& bounds = store->header.root;
      if (IRectIsZero(&bounds)) {
        bounds = object->bounds;
      } else {
        IRectUnion(&bounds, &object->bounds);
      }
    }
    if (source->overlay && source->overlay->source.kind == kDataRowBuffer &&
        !RowBufferInsert(&source->overlay->source, newRow, columns, source->columnCount))
      return 0;
    if (store && !ObjStoreUpdateObject(nullptr, store, object, int32_t(newRow), 0)) return 0;
  }
  return 1;
}

int16_t RemoteRowUpdate(DataSource* source, FieldDef* columns, uint32_t row) {
  RemoteDef* def = RemoteDefOf(source);
  if (!def) return 0;
  if (!columns) return 1;
  if (def->keyColumn < 0 || def->keyColumn >= source->columnCount) return 0;
  Value old{};
  if (!RemoteKeyGet(def, row, &old)) return 0;
  ScratchKey scratch(def);
  std::vector<uint8_t> stored(def->keyLength), wanted(def->keyLength);
  RemoteKeyFromValue(def, &old, stored.data());
  int16_t ok = KeyValueMake(def, &columns[def->keyColumn].value, &scratch);
  if (ok) RemoteKeyFromValue(def, &scratch.key.value, wanted.data());
  if (ok && stored != wanted) {
    ok = IndexDelete(def->keyIndex, &def->keyField, &old, row) &&
         IndexInsert(def->keyIndex, &def->keyField, &scratch.key.value, row) &&
         RemoteKeyReplace(def, row, wanted.data());
  }
  ValueFree(&old);
  if (ok) source->currentRow = row;
  return ok ? 1 : 0;
}

int16_t RemoteRowRead(DataSource* source, FieldDef* columns, uint32_t row) {
  RemoteDef* def = RemoteDefOf(source);
  if (!def || !def->connection) return 0;
  if (!SrvWorkspaceSwitch(def->connection, def->versioned, def->workspace.c_str())) return 0;
  def->state = 2;
  if (row > def->keyCount && def->atEnd) return 0;
  if (!HostRowsFetch(source, row)) return 0;
  source->rowCount = std::max(source->rowCount, def->keyCount);
  if (!HostRowRead(source, columns, row)) return 0;
  source->currentRow = row;
  return 1;
}

ObjStoreRemoteTable* RemoteObjStoreTable(DataSource* source) {
  RemoteDef* def = RemoteDefOf(source);
  if (!def) return nullptr;
  def->pendingRows = ObjStorePendingRows{PendingRowsAttach, PendingRowsDetach, source};
  def->storeTable.remote = &def->objects.store;
  def->storeTable.pendingRows = &def->pendingRows;
  return &def->storeTable;
}

}  // namespace layerio
