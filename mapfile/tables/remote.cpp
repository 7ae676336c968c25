// The remote-database layer: driver libraries loaded from the program folder
// and bound by name, the registry of connections and statements, and the
// connect-string conventions. No connection is ever opened (see remote.h).
#include "mapfile/tables/remote.h"

#include <algorithm>
#include <cstring>
#include <memory>

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

constexpr int16_t kErrStatementGone = 962;
constexpr int16_t kErrConnectionGone = 961;
constexpr size_t kDriverNameCompared = 31;  // of a connection's driver name

// A loaded driver: the record shared with the library, its entry table and
// the library itself.
struct LoadedDriver {
  SrvDriver record;
  void* entries[kSrvEntryCount];
  std::unique_ptr<platform::Library> library;
};

struct LayerState {
  std::vector<std::unique_ptr<LoadedDriver>> drivers;
  std::unique_ptr<SrvRegistry> registry;
  std::string folder;  // empty: the program folder
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

}  // namespace

// ===== Drivers ===============================================================

SrvRegistry* SrvRegistryGet() { return Layer().registry.get(); }

int32_t SrvDriverCount() { return int32_t(Layer().drivers.size()); }

void SrvDriverFolderSet(const char* folder) { Layer().folder = folder ? folder : ""; }

void SrvLayerReset() {
  LayerState& layer = Layer();
  layer.drivers.clear();
  layer.registry.reset();
}

int16_t SrvDriverLoad(int which) {
  const bool first = which == 1;
  std::string path = DriverFolder();
  if (!path.empty() && path.back() != '/') path += '/';
  path += first ? kSrvFirstDriverFile : kSrvSecondDriverFile;
  if (!FileExists(path.c_str(), 0)) return 0;  // no such driver: not an error

  auto driver = std::make_unique<LoadedDriver>();
  std::memset(&driver->record, 0, sizeof driver->record);
  std::memset(driver->entries, 0, sizeof driver->entries);
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
  layer.drivers.clear();
  layer.registry = std::make_unique<SrvRegistry>();
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
  return nullptr;  // the layer opens no connection of its own
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
    Push(kErrStatementGone);
    return 0;
  }
  if (!ConnectionKnown(connection)) {
    Push(kErrConnectionGone);
    return 0;
  }
  return 1;
}

}  // namespace

SrvStatement* SrvStatementExecute(SrvConnection* connection, const char*) {
  if (!ConnectionKnown(connection)) Push(kErrConnectionGone);
  return nullptr;  // no connection exists to run a statement on
}

int16_t SrvStatementClose(SrvConnection* connection, SrvStatement* statement) {
  if (!StatementCheck(connection, statement)) return 0;
  std::vector<SrvStatement*>& list = SrvRegistryGet()->statements;
  list.erase(std::find(list.begin(), list.end(), statement));
  delete statement;
  return 1;
}

int16_t SrvFetchRow(SrvConnection* connection, SrvStatement* statement, int32_t) {
  if (!StatementCheck(connection, statement)) return 0;
  return 0;  // rows come through a connection, and none is ever made
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
