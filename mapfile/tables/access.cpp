// The Access source: the data part of a table lives in a table of an Access
// database. The database has no row numbers, so the source keeps the row
// map, a ".aid" file that lists the ID of each row in order; the ID is the
// value of an auto-increment Long column with a unique index on it, which
// the source finds or adds.
//
// A table that has no such column and whose database refuses the column
// being added (the libmdb engine refuses every change) is still read: its
// records are numbered by their position in the table, the row map lists
// those positions (rebuilt at each open) and the table is read-only.
//
// Driver state: params.ptr[0] the AccessState. The settings are kept beside
// the source (by its address) since the dispatcher clears the pointers of a
// source it creates.
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/path.h"
#include "mapfile/tables/access.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "mapfile/tables/access_engine.h"
#include "platform/calendar.h"
#include "platform/endian.h"

namespace layerio {

namespace access {
namespace {

int gEngineUses = 0;
Engine* gInstalled = nullptr;
std::unique_ptr<Engine> gOwned;

}  // namespace

Engine* EngineAcquire() {
  if (gEngineUses == 0) {
    if (!gInstalled && !gOwned) gOwned = MdbEngineMake();
    if (!gInstalled && !gOwned) return nullptr;
  }
  ++gEngineUses;
  return gInstalled ? gInstalled : gOwned.get();
}

void EngineRelease() {
  if (gEngineUses > 0) --gEngineUses;
  if (gEngineUses < 1) gOwned.reset();
}

int EngineUseCount() { return gEngineUses; }
void EngineInstall(Engine* engine) { gInstalled = engine; }
int DefaultDatabaseFormat() { return 64; }

std::string IdQueryText(const std::string& idColumn, const std::string& table, int32_t above) {
  return "select `" + idColumn + "` from `" + table + "` where `" + idColumn + "` > " +
         std::to_string(above);
}

bool IdQueryParse(const std::string& sql, std::string* idColumn, std::string* table,
                  int32_t* above) {
  auto quoted = [&](size_t* at, std::string* out) {
    if (*at >= sql.size() || sql[*at] != '`') return false;
    size_t end = sql.find('`', *at + 1);
    if (end == std::string::npos) return false;
    *out = sql.substr(*at + 1, end - *at - 1);
    *at = end + 1;
    return true;
  };
  auto word = [&](size_t* at, const char* w) {
    size_t n = std::strlen(w);
    if (sql.compare(*at, n, w) != 0) return false;
    *at += n;
    return true;
  };
  size_t at = 0;
  std::string again;
  if (!word(&at, "select ") || !quoted(&at, idColumn) || !word(&at, " from ") ||
      !quoted(&at, table) || !word(&at, " where ") || !quoted(&at, &again) ||
      again != *idColumn || !word(&at, " > ")) {
    return false;
  }
  char* end = nullptr;
  long value = std::strtol(sql.c_str() + at, &end, 10);
  if (end == sql.c_str() + at || *end != '\0') return false;
  *above = int32_t(value);
  return true;
}

}  // namespace access

using namespace access;

namespace {

constexpr char kOwnIdColumn[] = "PLOTRIX_ID";
constexpr char kOwnIndex[] = "PX_INDEX_FIELD";
constexpr char kLocale[] = ";LANGID=0x0409;CP=1252;COUNTRY=0";
constexpr int kFileKindRowMap = 62;
constexpr size_t kMaxEngineText = 2047;
constexpr size_t kGapPiece = 256;
constexpr uint8_t kFlagHidden = 1;    // driverFlag bit 0
constexpr uint8_t kFlagDenyWrite = 8;

struct AccessState {
  std::string indexName;
  std::string idColumn;
  std::unique_ptr<Recordset> recordset;
  bool idOwn = false;
  std::unique_ptr<Database> database;
  int idPosition = -1;
  int fieldCount = 0;
  int32_t rowCount = 0;
  int32_t highestId = 0;
  FileHandle rowMap = 0;
  int64_t dataTime = 0;
  bool byPosition = false;
  bool readOnly = false;
  bool denyWrite = false;
  bool holdsEngine = false;
  int uses = 0;
  int mapMode = 0;
  std::string path;
};

AccessState* StateOf(const DataSource* s) { return static_cast<AccessState*>(s->params.ptr[0]); }
std::map<const DataSource*, AccessSettings>& AllSettings() {
  static std::map<const DataSource*, AccessSettings> settings;
  return settings;
}
AccessSettings* SettingsOf(const DataSource* s) {
  auto it = AllSettings().find(s);
  return it == AllSettings().end() ? nullptr : &it->second;
}

bool Supported(int type) {
  switch (type) {
    case kDaoBoolean:
    case kDaoByte:
    case kDaoInteger:
    case kDaoLong:
    case kDaoCurrency:
    case kDaoSingle:
    case kDaoDouble:
    case kDaoDate:
    case kDaoText:
      return true;
    default:
      return false;
  }
}

bool IsAutoLong(const FieldInfo& f) {
  return f.type == kDaoLong && (f.attributes & kDaoAutoIncrement) != 0;
}

// Every error description of the engine in one text, pushed as 1342.
void ReportEngine(Engine* engine) {
  std::string text;
  if (engine) {
    for (const std::string& d : engine->Errors()) {
      if (text.size() + d.size() > kMaxEngineText) continue;
      text += d;
    }
  }
  ErrorPush(kErrorSeverity, kErrAccessEngine, text.c_str(), nullptr);
}

bool Failed(int32_t result, Engine* engine) {
  if (result >= 0) return false;
  ReportEngine(engine);
  return true;
}

// A table name that begins with '~' loses it and its leading blanks.
std::string TableName(const DataSource* s) {
  std::string name;
  if (SettingsOf(s) && !SettingsOf(s)->table.empty()) {
    name = SettingsOf(s)->table;
  } else if (s->params.ptr[4]) {
    name = static_cast<const char*>(s->params.ptr[4]);
  }
  if (!name.empty() && name[0] == '~') {
    name[0] = ' ';
    name.erase(0, name.find_first_not_of(' ') == std::string::npos
                      ? name.size()
                      : name.find_first_not_of(' '));
  }
  return name;
}

std::string DatabasePath(const DataSource* s) {
  if (SettingsOf(s) && !SettingsOf(s)->database.empty()) return SettingsOf(s)->database;
  if (s->file > 0) {
    char path[kPathCapacity];
    if (FilePath(s->file, path)) return path;
  }
  return "";
}

// ----- The row map ------------------------------------------------------------

bool MapOpen(AccessState* st, int mode) {
  if (!st->rowMap) return false;
  return FileOpenRaw(st->rowMap, mode, nullptr) != 0;
}

bool MapRead(AccessState* st, int32_t row, int32_t* id) {
  if (row < 1) return false;
  uint8_t b[4];
  if (FileSeek(st->rowMap, int64_t(row - 1) * 4, 0) < 0 || FileRead(st->rowMap, b, 4) != 4)
    return false;
  *id = QLoadI32LE(b);
  return true;
}

// Writes entry `row`; a gap beyond the end is filled with zeros first.
bool MapWrite(AccessState* st, int32_t row, int32_t id) {
  if (row < 1) return false;
  int64_t size = FileSize(st->rowMap);
  if (size < 0) return false;
  const int64_t at = int64_t(row - 1) * 4;
  if (size < at) {
    static const uint8_t zeros[kGapPiece] = {};
    if (FileSeek(st->rowMap, size, 0) < 0) return false;
    while (size < at) {
      int32_t n = int32_t(std::min<int64_t>(at - size, int64_t(kGapPiece)));
      if (FileWrite(st->rowMap, zeros, n) != n) return false;
      size += n;
    }
  }
  uint8_t b[4] = {uint8_t(id), uint8_t(uint32_t(id) >> 8), uint8_t(uint32_t(id) >> 16),
                  uint8_t(uint32_t(id) >> 24)};
  return FileSeek(st->rowMap, at, 0) >= 0 && FileWrite(st->rowMap, b, 4) == 4;
}

void MapClose(AccessState* st) { FileClose(st->rowMap); }

// Appends the records with IDs above the highest listed one.
bool MapSync(AccessState* st, Engine* engine, const std::string& table) {
  std::unique_ptr<Recordset> rs;
  if (Failed(st->database->OpenQuery(IdQueryText(st->idColumn, table, st->highestId),
                                     kRecordsetForwardOnly, kOptionSeeChanges, kLockOptimistic,
                                     &rs),
             engine)) {
    return false;
  }
  if (rs->Eof()) return true;
  if (!MapOpen(st, kFileModeWrite)) return false;
  bool ok = true;
  while (ok && !rs->Eof()) {
    Variant v;
    if (Failed(rs->GetValue(0, &v), engine)) {
      ok = false;
      break;
    }
    if (v.type == VarType::kI4) {
      if (!MapWrite(st, st->rowCount + 1, int32_t(v.i))) {
        ok = false;
        break;
      }
      ++st->rowCount;
      st->highestId = int32_t(v.i);
    }
    if (Failed(rs->MoveNext(), engine)) ok = false;
  }
  MapClose(st);
  return ok;
}

// Lists 1..n, the positions of the table's records.
bool MapByPosition(AccessState* st, Engine* engine) {
  if (!MapOpen(st, kFileModeCreate)) return false;
  st->rowCount = 0;
  bool ok = !Failed(st->recordset->MoveFirst(), engine);
  while (ok && !st->recordset->Eof()) {
    ok = MapWrite(st, st->rowCount + 1, st->rowCount + 1);
    if (ok) ++st->rowCount;
    if (ok) ok = !Failed(st->recordset->MoveNext(), engine);
  }
  MapClose(st);
  st->highestId = st->rowCount;
  return ok;
}

bool MapScan(DataSource* s, AccessState* st, Engine* engine) {
  if (st->byPosition) {
    if (!MapByPosition(st, engine)) return false;
    s->rowCount = uint32_t(st->rowCount);
    return true;
  }
  if (!MapOpen(st, kFileModeRead)) return false;
  int64_t size = FileSize(st->rowMap);
  st->rowCount = size > 0 ? int32_t(std::min<int64_t>(size / 4, INT32_MAX)) : 0;
  for (int32_t r = st->rowCount; r >= 1; --r) {
    int32_t id = 0;
    if (!MapRead(st, r, &id)) {
      MapClose(st);
      return false;
    }
    if (id != 0) {
      if (id > st->highestId) st->highestId = id;
      break;
    }
  }
  MapClose(st);
  if (!MapSync(st, engine, TableName(s))) return false;
  s->rowCount = uint32_t(st->rowCount);
  return true;
}

bool MapRebuild(AccessState* st, Engine* engine) {
  if (st->byPosition) return MapByPosition(st, engine);
  if (!MapOpen(st, kFileModeCreate)) return false;
  st->rowCount = 0;
  st->highestId = 0;
  bool ok = !Failed(st->recordset->SetIndex(st->indexName), engine) &&
            !Failed(st->recordset->MoveFirst(), engine);
  while (ok && !st->recordset->Eof()) {
    Variant v;
    ok = !Failed(st->recordset->GetValue(st->idPosition, &v), engine);
    if (ok && v.type == VarType::kI4) {
      ok = MapWrite(st, st->rowCount + 1, int32_t(v.i));
      if (ok) {
        ++st->rowCount;
        if (v.i > st->highestId) st->highestId = int32_t(v.i);
      }
    }
    if (ok) ok = !Failed(st->recordset->MoveNext(), engine);
  }
  MapClose(st);
  return ok;
}

// ----- Connecting, the recordset, the ID column ---------------------------------

bool Connect(DataSource* s, AccessState* st, Engine* engine, bool create) {
  const AccessSettings* set = SettingsOf(s);
  std::string connect = ";";
  if (set && !set->password.empty() && set->password.size() < 20) connect = ";pwd=" + set->password;
  int32_t r = engine->OpenDatabase(st->path, false, false, connect, &st->database);
  if (r >= 0) return true;
  const int number = DaoNumber(r);
  if (create && number == kDaoFileNotFound) {
    int format = set && set->version == 4 ? 32 : DefaultDatabaseFormat();
    r = engine->CreateDatabase(st->path, kLocale, format, &st->database);
  } else if (number != kDaoBadPassword) {
    r = engine->OpenDatabase(st->path, true, true, connect, &st->database);
    if (r >= 0) st->readOnly = true;
  }
  return !Failed(r, engine);
}

bool RecordsetOpen(DataSource* s, AccessState* st, Engine* engine, int lockEdit) {
  st->recordset.reset();
  const std::string name = TableName(s);
  int options = st->denyWrite ? kOptionDenyWrite : 0;
  int lock = st->readOnly ? kLockReadOnly : lockEdit;
  int32_t r = st->database->OpenRecordset(name, kRecordsetTable, options, lock, &st->recordset);
  if (r < 0 && DaoNumber(r) == kDaoTableLocked && !st->denyWrite && lock != kLockReadOnly) {
    r = st->database->OpenRecordset(name, kRecordsetTable, options, kLockReadOnly,
                                    &st->recordset);
    if (r >= 0) st->readOnly = true;
  }
  if (Failed(r, engine)) return false;
  st->fieldCount = int(st->recordset->Fields().size());
  return true;
}

IndexInfo OwnIndex(const std::string& column, bool primary) {
  IndexInfo index;
  index.name = kOwnIndex;
  FieldInfo f;
  f.name = column;
  f.type = kDaoLong;
  f.required = true;
  f.attributes = kDaoAutoIncrement;
  index.fields.push_back(f);
  index.primary = primary;
  index.required = true;
  index.unique = true;
  index.ignoreNulls = false;
  return index;
}

FieldInfo OwnIdField() {
  FieldInfo f;
  f.name = kOwnIdColumn;
  f.type = kDaoLong;
  f.required = true;
  f.attributes = kDaoAutoIncrement;
  return f;
}

int FieldPosition(Recordset* rs, const std::string& name) {
  const auto& fields = rs->Fields();
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name == name) return int(i);
  return -1;
}

// Finds the ID column and its unique index; adds what is missing. A
// database that refuses the change leaves the table numbered by position.
bool IdColumnFind(DataSource* s, AccessState* st, Engine* engine, int lockEdit) {
  Recordset* rs = st->recordset.get();
  const auto& fields = rs->Fields();
  int autoColumn = -1;
  for (size_t i = 0; i < fields.size() && autoColumn < 0; ++i)
    if (IsAutoLong(fields[i])) autoColumn = int(i);
  for (const IndexInfo& index : rs->Indexes()) {
    if (!index.unique || index.fields.size() != 1) continue;
    int at = FieldPosition(rs, index.fields[0].name);
    if (at < 0 || !IsAutoLong(fields[size_t(at)])) continue;
    st->idPosition = at;
    st->idColumn = index.fields[0].name;
    st->indexName = index.name;
    st->idOwn = st->idColumn == kOwnIdColumn;
    return true;
  }
  const std::string table = TableName(s);
  std::string column = autoColumn >= 0 ? fields[size_t(autoColumn)].name : kOwnIdColumn;
  st->recordset.reset();
  int32_t r = 0;
  if (autoColumn < 0) r = st->database->FieldAppend(table, OwnIdField());
  if (r >= 0) r = st->database->IndexAppend(table, OwnIndex(column, false));
  if (r < 0 && DaoNumber(r) == kDaoReadOnly) {
    // Nothing can be added: read the table by position, read-only.
    st->byPosition = true;
    st->readOnly = true;
    if (!RecordsetOpen(s, st, engine, kLockReadOnly) &&
        !RecordsetOpen(s, st, engine, kLockReadOnly))
      return false;
    st->idPosition = -1;
    return true;
  }
  if (Failed(r, engine)) return false;
  if (!RecordsetOpen(s, st, engine, lockEdit) && !RecordsetOpen(s, st, engine, lockEdit))
    return false;
  st->idPosition = FieldPosition(st->recordset.get(), column);
  if (st->idPosition < 0) return false;
  st->idColumn = column;
  st->indexName = kOwnIndex;
  st->idOwn = column == kOwnIdColumn;
  return true;
}

bool Hidden(const AccessState* st, int i, const FieldInfo& f) {
  return !Supported(f.type) || (i == st->idPosition && st->idOwn);
}

bool RowMapEntry(DataSource* s, AccessState* st) {
  std::string base = SettingsOf(s) && !SettingsOf(s)->rowMap.empty() ? SettingsOf(s)->rowMap
                                                                     : std::string();
  if (base.empty() && s->file > 0) {
    char path[kPathCapacity];
    if (FilePath(s->file, path)) base = path;
  }
  if (base.empty()) base = st->path;
  char path[kPathCapacity];
  if (!PathForKind(path, base.c_str(), kFileKindRowMap)) return false;
  st->rowMap = FileTableAddName(path, kFileKindRowMap);
  return st->rowMap > 0;
}

void StateFree(DataSource* s, AccessState* st) {
  if (!st) return;
  st->recordset.reset();
  if (st->database) st->database->Close();
  st->database.reset();
  if (st->rowMap > 0) FileRelease(st->rowMap);
  if (st->holdsEngine) EngineRelease();
  delete st;
  s->params.ptr[0] = nullptr;
}

AccessState* StateNew(DataSource* s, Engine** engine) {
  auto* st = new AccessState;
  st->denyWrite = (s->driverFlag & kFlagDenyWrite) != 0;
  st->path = DatabasePath(s);
  *engine = EngineAcquire();
  if (!*engine) {
    ErrorPush(kErrorSeverity, kErrAccessNoEngine, nullptr, nullptr);
    delete st;
    return nullptr;
  }
  st->holdsEngine = true;
  s->params.ptr[0] = st;
  return st;
}

// ----- Values -------------------------------------------------------------------

void SetNumber(Value* v, double x) {
  switch (v->kind) {
    case kFieldInteger:
      v->u.i = int32_t(x);
      break;
    case kFieldSmallint:
      v->u.s = int16_t(x);
      break;
    case kFieldLogical:
      v->u.b = x != 0;
      break;
    case kFieldDate:
      break;
    default:
      v->u.d = x;
      break;
  }
}

void SetText(FieldDef* c, const std::string& text) {
  char* p = static_cast<char*>(c->value.u.p);
  if (!p) return;
  size_t n = std::min(text.size(), size_t(c->width));
  std::memcpy(p, text.data(), n);
  while (n > 0 && p[n - 1] == ' ') --n;
  p[n] = '\0';
}

void StoreValue(FieldDef* c, int type, const Variant& v) {
  Value* value = &c->value;
  if (c->value.kind == kFieldChar || c->value.kind == kFieldMemo) {
    SetText(c, v.type == VarType::kText ? v.text : std::string());
    return;
  }
  if (value->kind == kFieldDate) {
    DateRec d{};
    int y, m, day, h, mi, sec;
    if (v.type == VarType::kDate && OleDateToParts(v.d, &y, &m, &day, &h, &mi, &sec)) {
      d.year = int16_t(y);
      d.month = uint8_t(m);
      d.day = uint8_t(day);
    }
    value->u.date = d;
    return;
  }
  double x = 0;
  switch (v.type) {
    case VarType::kBool:
      x = type == kDaoBoolean ? (v.i != 0 ? 1 : 0) : 0;
      break;
    case VarType::kUI1:
    case VarType::kI2:
    case VarType::kI4:
      x = double(v.i);
      break;
    case VarType::kCurrency:
      x = double(v.i) / 10000.0;
      break;
    case VarType::kR4:
    case VarType::kR8:
      x = v.d;
      break;
    default:
      x = 0;
      break;
  }
  SetNumber(value, x);
}

double NumberOf(const Value& v) {
  switch (v.kind) {
    case kFieldInteger:
      return v.u.i;
    case kFieldSmallint:
      return v.u.s;
    case kFieldLogical:
      return v.u.b;
    default:
      return v.u.d;
  }
}

Variant VariantOf(const FieldDef& c, int type) {
  const Value& v = c.value;
  switch (type) {
    case kDaoBoolean:
      return Variant::Whole(VarType::kBool, int16_t(int8_t(v.u.b ? 0xFF : 0)));
    case kDaoByte:
      return Variant::Whole(VarType::kUI1, uint8_t(NumberOf(v)));
    case kDaoInteger:
      return Variant::Whole(VarType::kI2, int16_t(NumberOf(v)));
    case kDaoLong:
      return Variant::Whole(VarType::kI4, int32_t(NumberOf(v)));
    case kDaoCurrency: {
      double x = NumberOf(v) * 10000 + 0.5;
      if (!(std::fabs(x) < 9.2e18)) return Variant::Null();
      return Variant::Whole(VarType::kCurrency, int64_t(std::trunc(x)));
    }
    case kDaoSingle:
      return Variant::Real(VarType::kR4, float(NumberOf(v)));
    case kDaoDouble:
      return Variant::Real(VarType::kR8, NumberOf(v));
    case kDaoDate: {
      const DateRec& d = v.u.date;
      double x = 0;
      if ((d.year == 0 && d.month == 0 && d.day == 0) ||
          !OleDateFromParts(d.year, d.month, d.day, 0, 0, 0, &x))
        return Variant::Null();
      return Variant::Real(VarType::kDate, x);
    }
    case kDaoText: {
      const char* p = static_cast<const char*>(v.u.p);
      if (!p || !*p) return Variant::Null();
      return Variant::Text(p);
    }
    default:
      return Variant::Null();
  }
}

// Writes the column values into the record being edited.
bool WriteValues(AccessState* st, Engine* engine, FieldDef* columns) {
  const auto& fields = st->recordset->Fields();
  int c = 0;
  for (int i = 0; i < int(fields.size()); ++i) {
    if (Hidden(st, i, fields[size_t(i)])) continue;
    FieldDef* column = &columns[c++];
    if (i == st->idPosition) continue;  // the ID is the engine's
    if (Failed(st->recordset->SetValue(i, VariantOf(*column, fields[size_t(i)].type)), engine))
      return false;
  }
  return true;
}

bool Seek(AccessState* st, Engine* engine, uint32_t row, uint8_t* gone) {
  if (!st->recordset || !MapOpen(st, kFileModeRead)) return false;
  int32_t id = 0;
  bool read = row >= 1 && row <= INT32_MAX && MapRead(st, int32_t(row), &id);
  MapClose(st);
  if (!read || id == 0) return false;
  if (st->byPosition) {
    if (Failed(st->recordset->MoveFromFirst(id - 1), engine)) return false;
    if (st->recordset->Eof()) {
      if (gone) *gone = 1;
      return false;
    }
    return true;
  }
  if (Failed(st->recordset->SetIndex(st->indexName), engine) ||
      Failed(st->recordset->Seek(id), engine))
    return false;
  if (st->recordset->NoMatch()) {
    if (gone) *gone = 1;
    return false;
  }
  return true;
}

// ----- Hooks ------------------------------------------------------------------------

bool MapType(FieldDef* c, FieldInfo* f) {
  f->name = c->name;
  f->size = 0;
  switch (c->value.kind) {
    case kFieldChar:
      f->type = kDaoText;
      f->size = c->width;
      return true;
    case kFieldDecimal:
      if (c->width == 20 && c->decimals == 4) {
        f->type = kDaoCurrency;
      } else {
        c->value.kind = kFieldFloat;
        f->type = kDaoDouble;
      }
      return true;
    case kFieldInteger:
      c->readOnly = 0;
      f->type = kDaoLong;
      return true;
    case kFieldSmallint:
      f->type = kDaoInteger;
      return true;
    case kFieldDate:
      f->type = kDaoDate;
      return true;
    case kFieldLogical:
      f->type = kDaoBoolean;
      return true;
    case kFieldFloat:
      f->type = kDaoDouble;
      return true;
    default:
      return false;
  }
}

void PushReadOnly(const AccessState* st) {
  ErrorPush(kErrorSeverity, kErrAccessEngine,
            st->byPosition ? "The Access table is read-only: it has no ID column and none can "
                             "be added."
                           : "The Access table is open read-only.",
            nullptr);
}

int16_t Create(DataSource* s, FieldDef* columns, int32_t count) {
  Engine* engine = nullptr;
  AccessState* st = StateNew(s, &engine);
  if (!st) return 0;
  bool ok = !st->path.empty() && Connect(s, st, engine, true);
  const std::string name = TableName(s);
  bool mapMade = false;
  if (ok) ok = !name.empty();
  if (ok) {
    int32_t r = st->database->TableDefDelete(name);
    if (r < 0 && r != kDaoItemNotFound) ok = !Failed(r, engine);
  }
  if (ok) {
    TableDefInfo def;
    def.name = name;
    def.fields.push_back(OwnIdField());
    def.indexes.push_back(OwnIndex(kOwnIdColumn, true));
    for (int32_t i = 0; ok && i < count; ++i) {
      FieldInfo f;
      ok = MapType(&columns[i], &f);
      if (ok) def.fields.push_back(f);
    }
    if (ok) ok = !Failed(st->database->TableDefAppend(def), engine);
  }
  if (ok) ok = RowMapEntry(s, st) && MapOpen(st, kFileModeCreate);
  if (ok) {
    mapMade = true;
    MapClose(st);
    st->dataTime = engine->DatabaseTime(st->path);
  }
  if (!ok && mapMade) FileCloseAndRemove(st->rowMap);
  StateFree(s, st);
  return ok ? 1 : 0;
}

// Opens database and recordset and brings the row map up to date.
bool OpenCommon(DataSource* s, AccessState* st, Engine* engine, bool describe) {
  if (st->path.empty() || TableName(s).empty()) return false;
  st->dataTime = engine->DatabaseTime(st->path);
  if (!Connect(s, st, engine, false)) return false;
  if (describe) st->readOnly = true;
  if (!RecordsetOpen(s, st, engine, kLockOptimistic)) return false;
  if (!RowMapEntry(s, st)) return false;
  if (!IdColumnFind(s, st, engine, describe ? kLockReadOnly : kLockOptimistic)) return false;
  return true;
}

int16_t Attach(DataSource* s, FieldDef* columns, int32_t* count) {
  Engine* engine = nullptr;
  AccessState* st = StateNew(s, &engine);
  if (!st) return 0;
  bool ok = OpenCommon(s, st, engine, false);
  if (ok && !st->byPosition) {
    // The row map must be readable (an absent one is made empty).
    char path[kPathCapacity];
    FileStatRec stat{};
    bool exists = FilePath(st->rowMap, path) && FileStat(path, &stat) == 0;
    ok = MapOpen(st, exists ? kFileModeRead : kFileModeCreate);
    if (ok) MapClose(st);
  }
  if (ok) ok = MapScan(s, st, engine);
  int visible = 0;
  if (ok) {
    const auto& fields = st->recordset->Fields();
    for (int i = 0; i < int(fields.size()); ++i) {
      if (Hidden(st, i, fields[size_t(i)])) {
        if (!Supported(fields[size_t(i)].type)) s->driverFlag |= kFlagHidden;
        continue;
      }
      if (i == st->idPosition) s->driverFlag |= kFlagHidden;
      ++visible;
    }
    ok = visible > 0 && visible == *count;
    for (int i = 0, c = 0; ok && i < int(fields.size()); ++i) {
      const FieldInfo& f = fields[size_t(i)];
      if (Hidden(st, i, f)) continue;
      const FieldDef& col = columns[c++];
      uint8_t k = col.value.kind;
      switch (f.type) {
        case kDaoBoolean:
          ok = k == kFieldLogical;
          break;
        case kDaoByte:
          s->driverFlag |= kFlagHidden;
          ok = k == kFieldSmallint;
          break;
        case kDaoInteger:
          ok = k == kFieldSmallint;
          break;
        case kDaoLong:
          ok = k == kFieldInteger;
          break;
        case kDaoCurrency:
          ok = k == kFieldDecimal;
          break;
        case kDaoSingle:
          s->driverFlag |= kFlagHidden;
          ok = k == kFieldFloat;
          break;
        case kDaoDouble:
          ok = k == kFieldFloat;
          break;
        case kDaoDate:
          ok = k == kFieldDate;
          break;
        case kDaoText:
          ok = k == kFieldChar || col.width == f.size;
          break;
        default:
          ok = false;
      }
    }
  }
  if (!ok) {
    StateFree(s, st);
    return 0;
  }
  return 1;
}

int16_t Describe(DataSource* s, TableObject* table) {
  Engine* engine = nullptr;
  AccessState* st = StateNew(s, &engine);
  if (!st) return 0;
  bool ok = OpenCommon(s, st, engine, true);
  if (ok) ok = MapRebuild(st, engine);
  if (ok) s->rowCount = uint32_t(st->rowCount);
  std::vector<int> shown;
  if (ok) {
    const auto& fields = st->recordset->Fields();
    for (int i = 0; i < int(fields.size()); ++i) {
      if (!Supported(fields[size_t(i)].type)) s->driverFlag |= kFlagHidden;
      if (!Hidden(st, i, fields[size_t(i)])) shown.push_back(i);
    }
  }
  FieldDef* out = nullptr;
  if (ok && !shown.empty()) {
    out = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * shown.size()));
    ok = out != nullptr;
    if (ok) std::memset(out, 0, sizeof(FieldDef) * shown.size());
  }
  for (size_t n = 0; ok && n < shown.size(); ++n) {
    const FieldInfo& f = st->recordset->Fields()[size_t(shown[n])];
    FieldDef& c = out[n];
    if (f.name.empty()) {
      ok = false;
      break;
    }
    std::snprintf(c.name, sizeof c.name, "%s", f.name.c_str());
    switch (f.type) {
      case kDaoBoolean:
        c.value.kind = kFieldLogical;
        c.width = uint8_t(std::min<int32_t>(f.size, 255));
        break;
      case kDaoByte:
      case kDaoInteger:
        c.value.kind = kFieldSmallint;
        c.width = 6;
        break;
      case kDaoLong:
        c.value.kind = kFieldInteger;
        c.width = 11;
        c.readOnly = shown[n] == st->idPosition ? 1 : 0;
        break;
      case kDaoCurrency:
        c.value.kind = kFieldDecimal;
        c.width = 20;
        c.decimals = 4;
        break;
      case kDaoSingle:
      case kDaoDouble:
        c.value.kind = kFieldFloat;
        c.width = 19;
        c.decimals = 9;
        break;
      case kDaoDate:
        c.value.kind = kFieldDate;
        break;
      case kDaoText:
        c.value.kind = kFieldChar;
        c.width = uint8_t(std::min<int32_t>(std::max<int32_t>(f.size, 1), 254));
        c.readOnly = f.size > 254 ? 1 : 0;
        break;
    }
  }
  if (ok) {
    table->fields = out;
    table->fieldCount = uint32_t(shown.size());
    s->columnCount = int32_t(shown.size());
  } else {
    MemFree(out);
  }
  StateFree(s, st);
  return ok ? 1 : 0;
}

int16_t Open(DataSource* s, int mode) {
  AccessState* st = StateOf(s);
  if (!st) return 0;
  if (st->readOnly && mode != kFileModeRead) {
    PushReadOnly(st);
    return 0;
  }
  if (st->uses == 0) {
    Engine* engine = EngineAcquire();
    if (!engine) return 0;
    int64_t now = engine->DatabaseTime(st->path);
    bool ok = true;
    if (now > st->dataTime) {
      st->dataTime = now;
      ok = MapScan(s, st, engine);
    }
    EngineRelease();
    if (!ok) return 0;
    int m = mode == kFileModeRead ? kFileModeRead : kFileModeWrite;
    if (!MapOpen(st, m)) return 0;
    // The row map stays open only while the source is in use.
    MapClose(st);
    st->mapMode = m;
  }
  ++st->uses;
  return 1;
}

int16_t Release(DataSource* s) {
  AccessState* st = StateOf(s);
  if (!st || st->uses == 0) return 0;
  if (--st->uses > 0) return 1;
  bool ok = true;
  if (st->mapMode == kFileModeWrite && st->rowCount > 0) {
    // The map is as long as the row count.
    ok = MapOpen(st, kFileModeWrite);
    int32_t id = 0;
    if (ok && !MapRead(st, st->rowCount, &id)) ok = MapWrite(st, st->rowCount, 0);
    if (ok) MapClose(st);
  }
  st->mapMode = 0;
  return ok ? 1 : 0;
}

int16_t Read(DataSource* s, FieldDef* columns, uint32_t row, uint8_t* gone) {
  AccessState* st = StateOf(s);
  if (!st) return 0;
  Engine* engine = EngineAcquire();
  if (!engine) return 0;
  bool ok = Seek(st, engine, row, gone);
  const auto& fields = st->recordset ? st->recordset->Fields() : std::vector<FieldInfo>();
  for (int i = 0, c = 0; ok && i < int(fields.size()); ++i) {
    if (Hidden(st, i, fields[size_t(i)])) continue;
    Variant v;
    ok = !Failed(st->recordset->GetValue(i, &v), engine);
    if (ok) StoreValue(&columns[c++], fields[size_t(i)].type, v);
  }
  EngineRelease();
  if (ok) s->currentRow = row;
  return ok ? 1 : 0;
}

void PushRowFailure(int32_t row) {
  char number[16];
  std::snprintf(number, sizeof number, "%ld", long(row));
  ErrorPush(kErrorSeverity, kErrAccessRowWrite, number, nullptr);
}

int16_t Insert(DataSource* s, FieldDef* columns, uint32_t* row) {
  AccessState* st = StateOf(s);
  if (!st || !st->recordset) return 0;
  Engine* engine = EngineAcquire();
  if (!engine) return 0;
  Recordset* rs = st->recordset.get();
  bool ok = !st->readOnly && !st->byPosition;
  if (!ok) PushReadOnly(st);
  bool engineFailed = false;
  if (ok) {
    ok = !Failed(rs->AddNew(), engine) && WriteValues(st, engine, columns);
    engineFailed = !ok;
  }
  Variant id;
  if (ok) {
    ok = !Failed(rs->GetValue(st->idPosition, &id), engine);
    engineFailed = !ok;
  }
  if (ok && id.type != VarType::kI4) ok = false;
  if (ok) {
    int32_t at = st->rowCount + 1;
    bool mapped = MapOpen(st, kFileModeWrite);
    bool written = mapped && MapWrite(st, at, int32_t(id.i));
    bool updated = written && !Failed(rs->Update(), engine);
    if (updated) {
      st->rowCount = at;
      st->highestId = int32_t(id.i);
      *row = uint32_t(at);
    } else {
      // The entry goes back to 0 and the map back to the row count, so that
      // the next scan does not count a row that never was.
      if (mapped && MapWrite(st, at, 0)) FileSetSize(st->rowMap, int64_t(st->rowCount) * 4);
      *row = uint32_t(st->rowCount);
      ok = false;
      engineFailed = written;
    }
    if (mapped) MapClose(st);
  }
  if (engineFailed) {
    rs->CancelUpdate();
    PushRowFailure(st->rowCount + 1);
  } else if (!ok && !st->readOnly && !st->byPosition) {
    rs->CancelUpdate();
  }
  EngineRelease();
  if (ok) s->rowCount = uint32_t(st->rowCount);
  return ok ? 1 : 0;
}

int16_t Update(DataSource* s, FieldDef* columns, uint32_t row) {
  AccessState* st = StateOf(s);
  if (!st || !st->recordset) return 0;
  if (st->readOnly || st->byPosition) {
    PushReadOnly(st);
    return 0;
  }
  Engine* engine = EngineAcquire();
  if (!engine) return 0;
  bool ok = Seek(st, engine, row, nullptr);
  if (ok) {
    Recordset* rs = st->recordset.get();
    if (Failed(rs->Edit(), engine) || !WriteValues(st, engine, columns)) {
      rs->CancelUpdate();
      PushRowFailure(int32_t(row));
      ok = false;
    } else if (Failed(rs->Update(), engine)) {
      if (Failed(rs->CancelUpdate(), engine)) PushRowFailure(int32_t(row));
      ok = false;
    }
  }
  EngineRelease();
  return ok ? 1 : 0;
}

int16_t Close(DataSource* s) {
  StateFree(s, StateOf(s));
  AllSettings().erase(s);
  return 1;
}

const DataDriver kDriver = {Create, Attach, Describe, Open,   Release,
                            Read,   Insert, Update,   Close,  nullptr};

}  // namespace

int16_t AccessSourceSetup(DataSource* source, const AccessSettings& settings) {
  AllSettings()[source] = settings;
  return 1;
}

const AccessSettings* AccessSourceSettingsOf(const DataSource* source) {
  auto it = AllSettings().find(source);
  return it == AllSettings().end() ? nullptr : &it->second;
}

void AccessSourceSettingsCopy(const DataSource* from, DataSource* to) {
  auto it = AllSettings().find(from);
  if (it != AllSettings().end() && from != to) AllSettings()[to] = it->second;
}

int16_t AccessSourceInfoGet(const DataSource* source, AccessSourceInfo* out) {
  const AccessState* st = StateOf(source);
  if (!st) return 0;
  out->rowCount = st->rowCount;
  out->highestId = st->highestId;
  out->idColumn = st->idColumn;
  out->indexName = st->indexName;
  out->idOwn = st->idOwn;
  out->byPosition = st->byPosition;
  out->readOnly = st->readOnly;
  return 1;
}

namespace {

bool Leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
const int kMonthStart[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

}  // namespace

int16_t OleDateFromParts(int year, int month, int day, int hour, int minute, int second,
                         double* out) {
  if (year < 100) year += 1900;
  if (year > 9999 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59)
    return 0;
  const bool leap = Leap(year);
  int monthDays = kMonthStart[month] - kMonthStart[month - 1] + (leap && month == 2 ? 1 : 0);
  if (day > monthDays) return 0;
  *out = OleDateOf(DaysFromCivil(year, month, day) - kOleDayZero,
                   hour * 3600.0 + minute * 60.0 + second);
  return 1;
}

int16_t OleDateToParts(double date, int* year, int* month, int* day, int* hour, int* minute,
                       int* second) {
  if (!(date >= -657434.0 && date <= 2958465.0)) return 0;
  double half = 0.5 / 86400.0;
  date += date >= 0 ? half : -half;
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  CivilFromDays(int64_t(whole) + kOleDayZero, year, month, day);
  long seconds = long(fraction * 86400.0);
  *hour = int(seconds / 3600);
  *minute = int(seconds / 60 % 60);
  *second = int(seconds % 60);
  return 1;
}

const DataDriver* AccessDataDriver() { return &kDriver; }

}  // namespace layerio
