// The remote-database layer: driver libraries loaded from the program folder
// and bound by name, the registry of connections and statements, fetching
// and the conversion of fetched columns, result copies, and the
// connect-string conventions. The layer opens no connection of its own (see
// remote.h).
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/tables/remote.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mapfile/tables/tabdef.h"
#include "platform/library.h"

namespace layerio {

// In slot order: the driver's entry table holds them at these indexes.
const char* const kSrvEntryNames[kSrvEntryCount] = {
    /*  0 */ "SrvBeginTransaction", "SrvBindColumn", "SrvClose", "SrvColumnAlias",
    /*  4 */ "SrvColumnEditable", "SrvColumnName", "SrvColumnPrecision", "SrvColumnScale",
    /*  8 */ "SrvColumnType", "SrvColumnValue", "SrvColumnWidth", "SrvCommit",
    /* 12 */ "SrvConnect", "SrvGetConnectOption", "SrvSetConnectOption", "SrvSources",
    /* 16 */ "SrvDBError", "SrvDisconnect", "SrvExecute", "SrvPrepare",
    /* 20 */ "SrvBindParm", "SrvExecutePrep", "SrvFetch", "SrvInit",
    /* 24 */ "SrvIterateQualifiers", "SrvIterateOwners", "SrvIterateTables", "SrvIterateColumns",
    /* 28 */ "SrvNumColumns", "SrvRollback", "SrvTableInfo", "SrvUnloadDriver",
};

namespace {

constexpr size_t kDriverNameCompared = 31;  // of a connection's driver name
// A column buffer holds at least this much, and at most the cap: a driver
// may report a huge width for long columns, of which a value converts at
// most a field's width.
constexpr int32_t kColumnBufferMinimum = 64;
constexpr int32_t kColumnBufferCap = 65536;
constexpr size_t kTextColumnMost = 254;  // characters into a fixed-width field
constexpr int32_t kDecimalAsFloat = 18;   // precision above which a Decimal is a Float

// A loaded driver: the record shared with the library, its entry table, the
// library itself and which of the two driver files it came from.
struct LoadedDriver {
  SrvDriver record;
  void* entries[kSrvEntryCount];
  std::unique_ptr<platform::Library> library;
  int which;
};

struct LayerState {
  std::vector<std::unique_ptr<LoadedDriver>> drivers;
  std::unique_ptr<SrvRegistry> registry;
  std::string folder;  // empty: the program folder
  SrvConnectionOpener opener = nullptr;
};

LayerState& Layer() {
  static LayerState state;
  return state;
}

std::string DriverFolder() {
  if (!Layer().folder.empty()) return Layer().folder;
  FileNameRec rec{};
  rec.directory = ProgramDir();
  char dir[kPathCapacity];
  if (!rec.directory || !FileNameRecDir(&rec, dir)) return std::string();
  return dir;
}

void Push(int16_t code, const char* text0 = nullptr, const char* text1 = nullptr) {
  ErrorPush(kErrorSeverity, code, text0, text1);
}

// A driver name as the matching compares it: empty and the generic name
// stand for the default driver.
std::string DriverKey(const char* name, size_t most) {
  std::string key = name ? std::string(name, strnlen(name, most)) : std::string();
  if (key.empty() || StrEqualNoCase(key.c_str(), kSrvGenericDriverName))
    key = kSrvDefaultDriverName;
  return key;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

template <typename Fn>
Fn Entry(const SrvConnection* connection, int slot) {
  return reinterpret_cast<Fn>(connection->entries[slot]);
}

void ErrorReset(SrvConnection* connection) {
  SrvDriver& link = connection->link;
  link.errorCode = 0;
  link.errorText1[0] = '\0';
  link.errorText2[0] = '\0';
}

// The driver's error of the last call, pushed (with `suffix` after its first
// text) and then forgotten. Nothing when the driver set no code.
void ErrorReport(SrvConnection* connection, const std::string& suffix = std::string()) {
  SrvDriver& link = connection->link;
  if (link.errorCode != 0) {
    link.errorText1[sizeof link.errorText1 - 1] = '\0';
    link.errorText2[sizeof link.errorText2 - 1] = '\0';
    const std::string first = link.errorText1 + suffix;
    Push(link.errorCode, first.empty() ? nullptr : first.c_str(),
         link.errorText2[0] ? link.errorText2 : nullptr);
  }
  ErrorReset(connection);
}

// Ends a statement through its driver and frees it (the registry's lists
// are the caller's).
void StatementEnd(SrvStatement* statement) {
  SrvConnection* c = statement->connection;
  if (c && c->entries[kSrvSlotClose]) {
    ErrorReset(c);
    Entry<SrvCloseFn>(c, kSrvSlotClose)(&c->link, &statement->link, 1);
    ErrorReset(c);
  }
  delete statement;
}

}  // namespace

SrvRegistry::~SrvRegistry() {
  for (SrvStatement* s : statements) StatementEnd(s);
  for (SrvConnection* c : connections) delete c;
}

// ===== Drivers ===============================================================

SrvRegistry* SrvRegistryGet() { return Layer().registry.get(); }

int32_t SrvDriverCount() { return int32_t(Layer().drivers.size()); }

void SrvDriverFolderSet(const char* folder) { Layer().folder = folder ? folder : ""; }

void SrvLayerReset() {
  LayerState& layer = Layer();
  layer.registry.reset();
  layer.drivers.clear();
}

void SrvConnectionOpenerSet(SrvConnectionOpener opener) { Layer().opener = opener; }

int16_t SrvDriverLoad(int which) {
  const bool first = which == 1;
  std::string path = DriverFolder();
  if (!path.empty() && path.back() != '/') path += '/';
  path += first ? kSrvFirstDriverFile : kSrvSecondDriverFile;
  if (!FileExists(path.c_str(), 0)) return 0;  // no such driver: not an error

  auto driver = std::make_unique<LoadedDriver>();
  std::memset(&driver->record, 0, sizeof driver->record);
  std::memset(driver->entries, 0, sizeof driver->entries);
  driver->which = first ? 1 : 2;
  driver->library = std::make_unique<platform::Library>(path.c_str());
  if (!driver->library->Loaded()) {
    const int16_t base = first ? kErrSrvFirstNotLoaded : kErrSrvSecondNotLoaded;
    Push(base, path.c_str());
    for (int16_t k = 1; k <= 3; ++k) Push(int16_t(base + k));
    return 0;
  }
  for (int slot = 0; slot < kSrvEntryCount; ++slot) {
    driver->entries[slot] = driver->library->Symbol(kSrvEntryNames[slot]);
    if (!driver->entries[slot]) {
      Push(kErrSrvEntryMissing, path.c_str());
      return 0;
    }
  }
  driver->record.entries = driver->entries;
  driver->record.module = driver->library.get();
  auto init = reinterpret_cast<SrvInitFn>(driver->entries[kSrvSlotInit]);
  if (!init(&driver->record)) {
    SrvDriver& r = driver->record;
    r.errorText1[sizeof r.errorText1 - 1] = '\0';
    r.errorText2[sizeof r.errorText2 - 1] = '\0';
    Push(r.errorCode, r.errorText1[0] ? r.errorText1 : nullptr,
         r.errorText2[0] ? r.errorText2 : nullptr);
    return 0;
  }
  Layer().drivers.push_back(std::move(driver));
  return 1;
}

int16_t SrvDriversLoad() {
  LayerState& layer = Layer();
  layer.registry = std::make_unique<SrvRegistry>();
  layer.drivers.clear();
  const int16_t first = SrvDriverLoad(1);
  const int16_t second = SrvDriverLoad(2);
  if ((!first || !second) && ErrorCount() > 0) Push(kErrSrvDriversFailed);
  if (!first && !second) {
    layer.registry.reset();
    return 0;
  }
  return 1;
}

// ===== Connections ===========================================================

std::string SrvConnectStringBuild(const char* connect) {
  std::string text = connect ? connect : "";
  if (text.empty() || text.back() != ';') text += ';';
  text += "SCROLL=NO";
  return text;
}

bool SrvConnectionMatches(const SrvConnection* connection, const char* driverName,
                          const char* connect) {
  if (!connection || !connection->open) return false;
  if (!StrEqualNoCase(DriverKey(connection->driverName, kDriverNameCompared).c_str(),
                      DriverKey(driverName, std::string::npos).c_str()))
    return false;
  std::string have = connection->connect;
  std::string want = connect ? connect : "";
  ConnStrNormalize(&have);
  ConnStrNormalize(&want);
  return StrEqualNoCase(have.c_str(), want.c_str());
}

SrvConnection* SrvConnectionCreate(const char* driverName, const char* connect) {
  SrvRegistry* registry = SrvRegistryGet();
  if (!registry) return nullptr;
  const std::string key = DriverKey(driverName, std::string::npos);
  int which = 0;
  if (StrEqualNoCase(key.c_str(), kSrvDefaultDriverName)) which = 1;
  if (StrEqualNoCase(key.c_str(), kSrvSecondDriverName)) which = 2;
  const LoadedDriver* driver = nullptr;
  for (const auto& d : Layer().drivers)
    if (d->which == which) driver = d.get();
  if (!driver) return nullptr;
  auto* c = new SrvConnection();
  std::memcpy(c->entries, driver->entries, sizeof c->entries);
  c->link.entries = c->entries;
  c->link.module = driver->record.module;
  std::snprintf(c->driverName, sizeof c->driverName, "%s", driverName ? driverName : "");
  c->connect = connect ? connect : "";
  c->open = 1;
  registry->connections.push_back(c);
  return c;
}

SrvConnection* SrvConnectRequest(const char* driverName, const char* connect,
                                 int newConnection) {
  if (!SrvRegistryGet() && !SrvDriversLoad()) return nullptr;
  // The string is built whole, however long the caller's is.
  const std::string text = SrvConnectStringBuild(connect);
  const char* driver = driverName ? driverName : kSrvDefaultDriverName;
  if (!newConnection) {
    for (SrvConnection* c : SrvRegistryGet()->connections)
      if (SrvConnectionMatches(c, driver, text.c_str())) return c;
  }
  // The connection-opening step: the library has none of its own.
  SrvConnectionOpener open = Layer().opener;
  SrvConnection* connection = open ? open(driver, text.c_str()) : nullptr;
  if (connection && SrvKindIs(connection, kSrvKindSqlServerGv)) {
    SrvConnection* companion = open(driver, connection->connect.c_str());
    if (companion) {
      companion->spatialServer = 1;
      connection->companion = companion;
    }
  }
  return connection;
}

// ===== Statements ============================================================

namespace {

bool ConnectionKnown(const SrvConnection* connection) {
  const SrvRegistry* registry = SrvRegistryGet();
  if (!registry || !connection) return false;
  for (const SrvConnection* c : registry->connections)
    if (c == connection) return true;
  return false;
}

bool StatementKnown(const SrvStatement* statement) {
  const SrvRegistry* registry = SrvRegistryGet();
  if (!registry || !statement) return false;
  for (const SrvStatement* s : registry->statements)
    if (s == statement) return true;
  return false;
}

// A statement is valid only while the registry holds it and its connection.
int16_t StatementCheck(const SrvConnection* connection, const SrvStatement* statement) {
  if (!StatementKnown(statement)) {
    Push(kErrSrvStatementGone);
    return 0;
  }
  if (!ConnectionKnown(connection)) {
    Push(kErrSrvConnectionGone);
    return 0;
  }
  return 1;
}

uint32_t LowestFreeNumber() {
  const std::vector<SrvStatement*>& list = SrvRegistryGet()->statements;
  for (uint32_t n = 1;; ++n) {
    if (std::none_of(list.begin(), list.end(),
                     [n](const SrvStatement* s) { return s->number == n; }))
      return n;
  }
}

void Unlink(SrvStatement* statement) {
  auto drop = [statement](std::vector<SrvStatement*>& list) {
    list.erase(std::remove(list.begin(), list.end(), statement), list.end());
  };
  drop(SrvRegistryGet()->statements);
  if (statement->connection) drop(statement->connection->statements);
}

int32_t ColumnNumber(SrvConnection* c, SrvStatement* s, int slot, int32_t column) {
  return Entry<SrvColumnNumberFn>(c, slot)(&c->link, &s->link, column);
}

// Buffers for the result columns, sized from what the driver says of them.
void ColumnsBind(SrvConnection* c, SrvStatement* s) {
  s->columns.assign(size_t(s->columnCount), SrvColumnBuffer{});
  s->store.assign(size_t(s->columnCount), std::vector<uint8_t>());
  for (int32_t i = 0; i < s->columnCount; ++i) {
    SrvColumnBuffer& b = s->columns[size_t(i)];
    const int32_t type = ColumnNumber(c, s, kSrvSlotColumnType, i + 1);
    b.type = type > 0 && type <= 255 ? uint8_t(type) : 0;
    b.precision = std::max(0, ColumnNumber(c, s, kSrvSlotColumnPrecision, i + 1));
    b.scale = std::max(0, ColumnNumber(c, s, kSrvSlotColumnScale, i + 1));
    b.width = std::max(0, ColumnNumber(c, s, kSrvSlotColumnWidth, i + 1));
    int32_t capacity = std::max({b.width, b.precision + 3, kColumnBufferMinimum}) + 1;
    capacity = std::min(capacity, kColumnBufferCap);
    std::vector<uint8_t>& bytes = s->store[size_t(i)];
    bytes.assign(size_t(capacity), 0);
    b.capacity = capacity;
    b.value = bytes.data();
  }
  ErrorReset(c);
}

}  // namespace

SrvStatement* SrvStatementExecute(SrvConnection* connection, const char* text) {
  if (!ConnectionKnown(connection)) {
    Push(kErrSrvConnectionGone);
    return nullptr;
  }
  auto* s = new SrvStatement();
  s->number = LowestFreeNumber();
  s->link.number = s->number;
  s->connection = connection;
  connection->statements.push_back(s);
  SrvRegistryGet()->statements.push_back(s);
  ErrorReset(connection);
  if (!Entry<SrvExecuteFn>(connection, kSrvSlotExecute)(&connection->link, &s->link,
                                                        text ? text : "")) {
    ErrorReport(connection);
    Unlink(s);
    delete s;
    return nullptr;
  }
  s->columnCount = std::max(0, Entry<SrvNumColumnsFn>(connection, kSrvSlotNumColumns)(
                                   &connection->link, &s->link));
  ColumnsBind(connection, s);
  return s;
}

int16_t SrvStatementClose(SrvConnection* connection, SrvStatement* statement) {
  if (!StatementCheck(connection, statement)) return 0;
  Unlink(statement);
  StatementEnd(statement);
  return 1;
}

void SrvStatementBind(SrvStatement* statement, FieldDef* fields, int32_t count) {
  statement->bound = fields;
  statement->boundCount = fields ? std::max(0, count) : 0;
}

namespace {

std::string DirectionText(int32_t direction) {
  switch (direction) {
    case kSrvFetchLast:
      return ":Fetch Last. ";
    case kSrvFetchFirst:
      return ":Fetch First. ";
    case kSrvFetchPrevious:
      return ":Fetch Previous. ";
    default:
      return ":Fetch " + std::to_string(direction) + ". ";
  }
}

}  // namespace

int16_t SrvFetchRow(SrvConnection* connection, SrvStatement* statement, int32_t direction) {
  if (!StatementCheck(connection, statement)) return 0;
  if (statement->columns.empty()) {
    statement->atEnd = 1;
    return 1;
  }
  for (SrvColumnBuffer& b : statement->columns) b.length = 0;
  ErrorReset(connection);
  if (Entry<SrvFetchFn>(connection, kSrvSlotFetch)(&connection->link, &statement->link,
                                                  statement->columns.data(), direction)) {
    statement->atEnd = 0;
    const int32_t n = std::min(statement->boundCount, statement->columnCount);
    for (int32_t i = 0; i < n; ++i)
      if (!SrvColumnConvert(statement, i + 1, &statement->bound[i])) return 0;
    return 1;
  }
  if (connection->link.errorCode == kSrvNoMoreRows) {
    statement->atEnd = 1;
    ErrorReset(connection);
    return 1;
  }
  std::string suffix;
  if (direction != kSrvFetchNext && SrvKindIs(connection, kSrvKindGridVault))
    suffix = DirectionText(direction) + kSrvMsgFetchDirection;
  ErrorReport(connection, suffix);
  return 0;
}

// ===== Column information ====================================================

std::string SrvColumnInfoName(SrvConnection* connection, SrvStatement* statement,
                              int32_t column) {
  if (!StatementCheck(connection, statement)) return std::string();
  ErrorReset(connection);
  const char* name = Entry<SrvColumnTextFn>(connection, kSrvSlotColumnName)(
      &connection->link, &statement->link, column);
  std::string out = name ? name : "";
  ErrorReport(connection);
  return out;
}

int32_t SrvColumnInfoType(SrvConnection* connection, SrvStatement* statement, int32_t column) {
  if (!StatementCheck(connection, statement)) return 0;
  const int32_t type = ColumnNumber(connection, statement, kSrvSlotColumnType, column);
  ErrorReset(connection);
  if (type == 0) {
    Push(kErrSrvColumnType, SrvColumnInfoName(connection, statement, column).c_str());
    return 0;
  }
  if (type == kSrvTypeDecimal &&
      SrvColumnInfoPrecision(connection, statement, column) > kDecimalAsFloat)
    return kSrvTypeFloat;
  return type;
}

int32_t SrvColumnInfoWidth(SrvConnection* connection, SrvStatement* statement, int32_t column) {
  if (!StatementCheck(connection, statement)) return -1;
  const int32_t width = ColumnNumber(connection, statement, kSrvSlotColumnWidth, column);
  ErrorReset(connection);
  return width;
}

int32_t SrvColumnInfoPrecision(SrvConnection* connection, SrvStatement* statement,
                               int32_t column) {
  if (!StatementCheck(connection, statement)) return -1;
  const int32_t precision = ColumnNumber(connection, statement, kSrvSlotColumnPrecision, column);
  ErrorReset(connection);
  return precision;
}

// ===== Column values ===========================================================

namespace {

// The text a driver left in a buffer: never past its capacity.
std::string BufferText(const SrvColumnBuffer& b) {
  const char* p = static_cast<const char*>(b.value);
  return std::string(p, strnlen(p, size_t(b.capacity)));
}

std::string RawBytes(const SrvColumnBuffer& b) {
  const int32_t n = std::clamp(b.length, 0, b.capacity);
  return std::string(static_cast<const char*>(b.value), size_t(n));
}

std::string Hex(const std::string& bytes, size_t most) {
  std::string out;
  char pair[3];
  for (size_t i = 0; i < bytes.size() && i < most; ++i) {
    std::snprintf(pair, sizeof pair, "%2.2X", unsigned(uint8_t(bytes[i])));
    out += pair;
  }
  return out;
}

int32_t LoadI32(const SrvColumnBuffer& b) {
  int32_t v = 0;
  std::memcpy(&v, b.value, sizeof v);
  return v;
}

int16_t LoadI16(const SrvColumnBuffer& b) {
  int16_t v = 0;
  std::memcpy(&v, b.value, sizeof v);
  return v;
}

double LoadF64(const SrvColumnBuffer& b) {
  double v = 0;
  std::memcpy(&v, b.value, sizeof v);
  return v;
}

// "YYYY-MM-DD", a time after it ignored.
bool ParseDate(const std::string& text, DateRec* out) {
  int y = 0, m = 0, d = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d", &y, &m, &d) != 3) return false;
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  *out = DateRec{int16_t(y), uint8_t(m), uint8_t(d)};
  return true;
}

bool IsTextField(const FieldDef* field) {
  return field->value.kind == kFieldChar || field->value.kind == kFieldMemo;
}

// Assigns a text to a field, converted to the field's kind.
int16_t AssignText(FieldDef* field, const std::string& text) {
  Value v{};
  if (!ValueParseField(text.c_str(), kValueText, -1, 0, 1, &v, 0)) return 0;
  const int16_t ok = FieldValueAssign(field, &v);
  ValueFree(&v);
  return ok;
}

int16_t AssignNumber(FieldDef* field, uint8_t kind, double x, int32_t i) {
  Value v{};
  v.kind = kind;
  if (kind == kValueInteger) {
    v.u.i = i;
  } else if (kind == kValueSmallInt) {
    v.u.s = int16_t(i);
  } else {
    v.u.d = x;
  }
  return FieldValueAssign(field, &v);
}

std::string ColumnName(SrvStatement* statement, int32_t column) {
  SrvConnection* c = statement->connection;
  return c ? SrvColumnInfoName(c, statement, column) : std::string();
}

}  // namespace

int16_t SrvColumnConvert(SrvStatement* statement, int32_t column, FieldDef* field) {
  if (!statement || statement->columns.empty()) {
    Push(kErrSrvNoColumns, kSrvMsgNoColumns);
    return 0;
  }
  if (column < 1 || size_t(column) > statement->columns.size() || !field) {
    Push(kErrSrvColumnType, std::to_string(column).c_str());
    return 0;
  }
  const SrvColumnBuffer& b = statement->columns[size_t(column - 1)];
  switch (b.type) {
    case kSrvTypeChar:
    case kSrvTypeVarchar: {
      std::string text = BufferText(b);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (field->value.kind == kFieldChar && text.size() > kTextColumnMost)
        text.resize(kTextColumnMost);
      return AssignText(field, text);
    }
    case kSrvTypeDecimal: {
      const std::string text = BufferText(b);
      if (field->value.kind == kFieldFloat && b.precision > kDecimalAsFloat)
        return AssignNumber(field, kValueFloat, std::strtod(text.c_str(), nullptr), 0);
      return AssignText(field, text);
    }
    case kSrvTypeInteger:
      return AssignNumber(field, kValueInteger, 0, LoadI32(b));
    case kSrvTypeSmallint:
      return AssignNumber(field, kValueSmallInt, 0, LoadI16(b));
    case kSrvTypeFloat:
      return AssignNumber(field, kValueFloat, LoadF64(b), 0);
    case kSrvTypeDate: {
      const std::string text = BufferText(b);
      DateRec date{0, 0, 0};
      if (!ParseDate(text, &date)) return AssignText(field, text);
      Value v{};
      v.kind = kValueDate;
      v.u.date = date;
      return FieldValueAssign(field, &v);
    }
    case kSrvTypeLogical: {
      Value v{};
      v.kind = kValueLogical;
      v.u.b = *static_cast<const uint8_t*>(b.value) ? 1 : 0;
      return FieldValueAssign(field, &v);
    }
    case kSrvTypeBinary: {
      // Two hexadecimal digits a byte, as many bytes as the field shows.
      size_t most = std::string::npos;
      if (IsTextField(field)) most = field->width > 0 ? size_t(field->width) / 2 : 0;
      return AssignText(field, Hex(RawBytes(b), most));
    }
    default:
      Push(kErrSrvColumnType, ColumnName(statement, column).c_str());
      return 0;
  }
}

// ===== Result copies ===========================================================

namespace {

std::string DoubleQuoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The column's type in the copy's create statement; empty (960 pushed) for
// a type the copy cannot take.
std::string CopyColumnType(SrvConnection* c, SrvStatement* s, int32_t column) {
  const int32_t type = SrvColumnInfoType(c, s, column);
  if (type == 0) return std::string();  // 960 pushed
  const long width = std::max<long>(0, SrvColumnInfoWidth(c, s, column));
  char text[64];
  switch (type) {
    case kSrvTypeChar:
    case kSrvTypeVarchar:
      std::snprintf(text, sizeof text, "CHAR(%ld)", std::min(width, 254L));
      return text;
    case kSrvTypeDecimal: {
      const long precision = std::max<long>(0, SrvColumnInfoPrecision(c, s, column));
      const long scale =
          std::max<long>(0, ColumnNumber(c, s, kSrvSlotColumnScale, column));
      ErrorReset(c);
      std::snprintf(text, sizeof text, "DECIMAL(%ld,%ld)", precision + 2, scale);
      return text;
    }
    case kSrvTypeInteger:
      return "INTEGER";
    case kSrvTypeSmallint:
      return "SMALLINT";
    case kSrvTypeDate:
      return "DATE";
    case kSrvTypeLogical:
      return "LOGICAL";
    case kSrvTypeFloat:
      return "FLOAT";
    case kSrvTypeBinary:
      std::snprintf(text, sizeof text, "CHAR(%ld)", std::min(2 * width, 254L));
      return text;
    default:
      Push(kErrSrvColumnType, SrvColumnInfoName(c, s, column).c_str());
      return std::string();
  }
}

// A fetched value as the insert statement writes it.
std::string CopyValue(const SrvColumnBuffer& b) {
  char text[512];
  switch (b.type) {
    case kSrvTypeDecimal:
      std::snprintf(text, sizeof text, "%*.*f", 0, int(std::min(b.scale, 60)),
                    std::strtod(BufferText(b).c_str(), nullptr));
      return text;
    case kSrvTypeInteger:
      std::snprintf(text, sizeof text, "%.16g", double(LoadI32(b)));
      return text;
    case kSrvTypeSmallint:
      std::snprintf(text, sizeof text, "%.16g", double(LoadI16(b)));
      return text;
    case kSrvTypeFloat:
      std::snprintf(text, sizeof text, "%.16g", LoadF64(b));
      return text;
    case kSrvTypeLogical:
      return *static_cast<const uint8_t*>(b.value) ? "\"T\"" : "\"F\"";
    case kSrvTypeBinary:
      return DoubleQuoted(Hex(RawBytes(b), 127));
    default: {
      std::string value = BufferText(b);
      while (!value.empty() && value.back() == ' ') value.pop_back();
      if (value.size() > kTextColumnMost) value.resize(kTextColumnMost);
      return DoubleQuoted(value);
    }
  }
}

}  // namespace

int16_t SrvResultCopy(SrvConnection* connection, SrvStatement* statement) {
  if (!StatementCheck(connection, statement) || !statement->target) return 0;
  const SrvCopyTarget& target = *statement->target;
  if (statement->columnCount == 0) {
    Push(kErrSrvNoColumns, kSrvMsgNoColumns);
    return 0;
  }
  auto run = [&target](const std::string& text) {
    return (target.run ? target.run : StatementRun)(text.c_str(), 1) != 0;
  };
  std::vector<std::string> names;
  std::string create = "CREATE TABLE " + DoubleQuoted(target.table) + " (";
  for (int32_t i = 1; i <= statement->columnCount; ++i) {
    ErrorReset(connection);
    const char* alias = Entry<SrvColumnTextFn>(connection, kSrvSlotColumnAlias)(
        &connection->link, &statement->link, i);
    std::string name = alias && *alias ? alias : SrvColumnInfoName(connection, statement, i);
    ErrorReset(connection);
    if (name.empty()) name = "_COL" + std::to_string(i);
    const std::string base = name;
    for (unsigned k = 1; std::any_of(names.begin(), names.end(), [&name](const std::string& n) {
           return StrEqualNoCase(n.c_str(), name.c_str());
         });
         ++k) {
      char unique[300];
      std::snprintf(unique, sizeof unique, "%s_%u", base.c_str(), k);
      name = unique;
    }
    names.push_back(name);
    const std::string type = CopyColumnType(connection, statement, i);
    if (type.empty()) return 0;
    create += (i > 1 ? ", " : "") + name + " " + type;
  }
  create += ") File " + DoubleQuoted(target.file);
  if (!run(create) || !run("SET TABLE " + target.table + " FASTEDIT ON UNDO OFF")) return 0;
  for (;;) {
    if (!SrvFetchRow(connection, statement, kSrvFetchNext)) return 0;
    if (statement->atEnd) break;
    std::string insert = "Insert Into " + target.table + " Values(";
    for (size_t i = 0; i < statement->columns.size(); ++i)
      insert += (i ? ", " : "") + CopyValue(statement->columns[i]);
    if (!run(insert + ")")) return 0;
  }
  return run("COMMIT TABLE " + target.table) &&
                 run("SET TABLE " + target.table + " FASTEDIT OFF UNDO ON")
             ? 1
             : 0;
}

// ===== Table names =============================================================

int16_t SrvTableNameSplit(const SrvConnection* connection, const char* name, SrvTableName* out) {
  *out = SrvTableName{};
  std::string rest = name ? name : "";
  const std::string separators = connection ? connection->separators : ".";
  // From the right: the table, the owner, and what stands before them.
  const size_t last = rest.find_last_of(separators);
  if (last == std::string::npos) {
    out->table = rest;
  } else {
    out->table = rest.substr(last + 1);
    rest.resize(last);
    const size_t before = rest.find_last_of(separators);
    if (before == std::string::npos) {
      out->owner = rest;
    } else {
      out->owner = rest.substr(before + 1);
      out->qualifier = rest.substr(0, before);
    }
  }
  return out->qualifier.size() <= 128 && out->owner.size() <= 512 && out->table.size() <= 128
             ? 1
             : 0;
}

// ===== Connect strings =======================================================

char* ConnStrToken(char** cursor, char* text, const char* delimiters, int brackets) {
  char* p = text ? text : (cursor ? *cursor : nullptr);
  if (!p) return nullptr;
  while (IsBlank(*p)) ++p;
  if (!*p) {
    if (cursor) *cursor = p;
    return nullptr;
  }
  char* start = p;
  int depth = 0;
  char quote = 0;
  // Bytes of multi-byte characters are all above 0x7F, so a byte scan never
  // takes part of one for a delimiter, a bracket or a quote.
  for (; *p; ++p) {
    const char c = *p;
    if (quote) {
      if (c == quote) {
        if (p[1] == quote) {
          ++p;  // a doubled quote stands for itself
        } else {
          quote = 0;
        }
      }
      continue;
    }
    if (c == '"' || c == '\'' || c == '`') {
      quote = c;
      continue;
    }
    if (brackets) {
      if (c == '(' || c == '[') {
        ++depth;
        continue;
      }
      if (c == ')' || c == ']') {
        if (depth > 0) --depth;
        continue;
      }
    }
    if (depth == 0 && std::strchr(delimiters, c)) break;
  }
  char* end = p;
  if (*p) {
    *p = '\0';
    ++p;
  }
  if (cursor) *cursor = p;
  while (end > start && IsBlank(end[-1])) --end;
  *end = '\0';
  return start;
}

void ConnStrNormalize(std::string* connect) {
  std::vector<char> work(connect->begin(), connect->end());
  work.push_back('\0');
  std::string out;
  char* cursor = nullptr;
  for (char* entry = ConnStrToken(&cursor, work.data(), ";", 1); entry;
       entry = ConnStrToken(&cursor, nullptr, ";", 1)) {
    char* inner = nullptr;
    char* key = ConnStrToken(&inner, entry, "=", 1);
    if (!key) continue;
    if (StrEqualNoCase(key, "PWD") || StrEqualNoCase(key, "UPWD") ||
        StrEqualNoCase(key, "DLG") || StrEqualNoCase(key, "SCROLL"))
      continue;
    // The value is the rest of the entry, "=" in it included.
    char* value = inner;
    while (IsBlank(*value)) ++value;
    out += key;
    out += '=';
    out += value;
    out += ';';
  }
  *connect = std::move(out);
}

}  // namespace layerio
