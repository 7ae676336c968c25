// adodb: providers by connection text, the record set with its cursor, and
// the schema catalog.
#include "tables/adodb.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/env.h"
#include "tables/adodb_jet.h"

namespace adodb {

namespace {

ProviderHook* g_hook = nullptr;
thread_local int t_initialised = 0;

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

bool IsWhole(const Variant& v) { return IsWholeKind(v.Type()); }

// The position an index variant names among names: a number, or a name
// compared ignoring case; -1 when none.
int64_t IndexOf(const Variant& index, const std::vector<std::string>& names) {
  if (IsWhole(index)) {
    int64_t n = index.WholeValue();
    return n >= 0 && n < int64_t(names.size()) ? n : -1;
  }
  if (index.Type() != VT_BSTR) Raise(kTypeMismatch, "Collection");
  for (size_t i = 0; i < names.size(); i++) {
    if (platform::AsciiEqualsIgnoreCase(names[i], index.TextValue())) return int64_t(i);
  }
  return -1;
}

}  // namespace

// ---- providers ----

ScopedProvider::ScopedProvider(ProviderHook& hook) : previous_(g_hook) { g_hook = &hook; }
ScopedProvider::~ScopedProvider() { g_hook = previous_; }

std::shared_ptr<DataSource> Connect(const std::string& connection) {
  if (g_hook != nullptr) return g_hook->Connect(connection);
  // The spreadsheet provider is reached through the Jet one: its word first.
  if (Contains(connection, "Excel")) {
    RaiseProvider("Spreadsheet provider", {"the spreadsheet provider is not available on this platform"},
                  kNoProvider);
  }
  if (Contains(connection, "sqloledb")) {
    RaiseProvider("Server provider", {"the database server provider is not available on this platform"},
                  kNoProvider);
  }
  if (Contains(connection, "Jet")) return ConnectJet(connection);
  RaiseProvider("Data access", {"no provider on this platform serves the connection text"}, kNoProvider);
}

#ifndef GSB_HAVE_LIBMDB
std::shared_ptr<DataSource> ConnectJet(const std::string&) {
  RaiseProvider(kJetSource, {"the Access provider is not available in this build (libmdb was not found)"},
                kNoProvider);
}
#endif

bool ConnectionValue(const std::string& connection, const std::string& key, std::string* value) {
  size_t at = 0;
  while (at <= connection.size()) {
    // One "key=value" part, up to a ';' outside quotes.
    size_t end = at;
    char quote = 0;
    while (end < connection.size() && (quote != 0 || connection[end] != ';')) {
      char c = connection[end];
      if (quote == 0 && (c == '\'' || c == '"')) {
        quote = c;
      } else if (c == quote) {
        quote = 0;
      }
      end++;
    }
    std::string part = connection.substr(at, end - at);
    size_t equals = part.find('=');
    if (equals != std::string::npos && platform::AsciiEqualsIgnoreCase(TrimBlanks(part.substr(0, equals)), key)) {
      std::string text = TrimBlanks(part.substr(equals + 1));
      if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') && text.back() == text.front()) {
        text = text.substr(1, text.size() - 2);
      }
      *value = text;
      return true;
    }
    at = end + 1;
  }
  return false;
}

bool LeaveExcelNumeric() {
  const char* value = platform::Env::Current().GetEnv("GSB_LEAVE_EXCEL_NUMERIC");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

// ---- objects ----

Result Initialize() { return t_initialised++ == 0 ? kOk : kAlreadyInitialised; }

void Uninitialize() {
  if (t_initialised > 0) t_initialised--;
}

namespace {

bool MayCreate() { return t_initialised > 0 && (g_hook == nullptr || g_hook->CreatesObjects()); }

}  // namespace

Ref<Recordset> CreateRecordset() { return MayCreate() ? std::make_shared<Recordset>() : nullptr; }
Ref<Catalog> CreateCatalog() { return MayCreate() ? std::make_shared<Catalog>() : nullptr; }
Ref<Table> CreateTable() { return MayCreate() ? std::make_shared<Table>() : nullptr; }

// ---- the record set ----

constexpr const char* kRecordset = "Recordset";

struct CursorState {
  enum Edit { kNone, kEditing, kAdding };

  bool open = false;
  std::shared_ptr<DataSource> source;
  std::unique_ptr<TableStore> store;
  std::shared_ptr<Connection> connection;
  CursorType cursorType = kForwardOnly;
  LockType lockType = kLockReadOnly;
  // The records in cursor order; current indexes them, -1 is BOF and
  // keys.size() EOF. After a delete, current indexes the record that
  // followed the deleted one, which is current only after the next move.
  std::vector<RowKey> keys;
  int64_t current = 0;
  bool onDeleted = false;
  Edit edit = kNone;
  Row pending;
  bool cached = false;
  RowKey cachedKey = 0;
  Row cachedRow;

  void RequireOpen() const {
    if (!open) Raise(kClosed, kRecordset);
  }
  int64_t Size() const { return int64_t(keys.size()); }
  bool HasCurrent() const { return open && !onDeleted && current >= 0 && current < Size(); }
  const std::vector<ColumnSchema>& Schema() const { return store->Columns(); }
  const Row& CurrentRow() {
    if (!HasCurrent()) Raise(kNoCurrentRecord, kRecordset);
    RowKey key = keys[size_t(current)];
    if (!cached || cachedKey != key) {
      cachedRow = store->Read(key);
      cachedRow.resize(Schema().size());
      cachedKey = key;
      cached = true;
    }
    return cachedRow;
  }
  void RequireWritable() {
    if (lockType == kLockReadOnly) throw ComError(kNotSupported, kRecordset, "the recordset was opened read-only");
    store->CheckWritable();
  }
  void RequireBackward() const {
    if (cursorType == kForwardOnly) {
      throw ComError(kNotSupported, kRecordset, "a forward-only recordset cannot move backward");
    }
  }
  // What a pending edit or new record holds is stored before the cursor
  // moves, as the platform does.
  void Commit() {
    if (edit == kAdding) {
      RowKey key = store->Insert(pending);
      keys.push_back(key);
      current = Size() - 1;
      onDeleted = false;
    } else if (edit == kEditing) {
      store->Update(keys[size_t(current)], pending);
    }
    edit = kNone;
    cached = false;
  }
  // Every call clears the connection's errors and records the provider's
  // messages of a failure there.
  template <class Body>
  decltype(auto) Run(Body&& body) {
    if (connection) connection->SetErrors({});
    try {
      return body();
    } catch (const ComError& error) {
      if (connection && !error.ProviderErrors().empty()) connection->SetErrors(error.ProviderErrors());
      throw;
    }
  }
};

namespace {

bool IsNullish(const Variant& v) { return v.Type() == VT_NULL || v.Type() == VT_EMPTY; }

// Numbers against numbers, texts ignoring ASCII case, nulls first.
int CompareValues(const Variant& a, const Variant& b) {
  if (IsNullish(a) || IsNullish(b)) return int(IsNullish(b)) - int(IsNullish(a));
  bool textA = a.Type() == VT_BSTR, textB = b.Type() == VT_BSTR;
  if (!textA && !textB) {
    try {
      double x = a.ChangeType(VT_R8).RealValue(), y = b.ChangeType(VT_R8).RealValue();
      return x < y ? -1 : (x > y ? 1 : 0);
    } catch (const ComError&) {
    }
  }
  std::string x, y;
  try {
    x = a.ChangeType(VT_BSTR).TextValue();
    y = b.ChangeType(VT_BSTR).TextValue();
  } catch (const ComError&) {
  }
  return platform::AsciiCompareIgnoreCase(x, y);
}

struct SortKey {
  size_t column;
  bool descending;
};

std::vector<SortKey> ParseSort(const std::string& order, const std::vector<ColumnSchema>& schema) {
  std::vector<std::string> names;
  for (const ColumnSchema& column : schema) names.push_back(column.name);
  std::vector<SortKey> keys;
  size_t at = 0;
  while (at < order.size()) {
    size_t end = order.find(',', at);
    if (end == std::string::npos) end = order.size();
    std::string part = TrimBlanks(order.substr(at, end - at));
    at = end + 1;
    if (part.empty()) continue;
    bool descending = false;
    size_t blank = part.find_last_of(" \t");
    if (blank != std::string::npos) {
      std::string word = part.substr(blank + 1);
      if (platform::AsciiEqualsIgnoreCase(word, "DESC") || platform::AsciiEqualsIgnoreCase(word, "ASC")) {
        descending = platform::AsciiEqualsIgnoreCase(word, "DESC");
        part = TrimBlanks(part.substr(0, blank));
      }
    }
    if (part.size() >= 2 && part.front() == '[' && part.back() == ']') part = part.substr(1, part.size() - 2);
    int64_t column = IndexOf(Variant::Text(part), names);
    if (column < 0) throw ComError(kNotFound, kRecordset, "the sort names no column '" + part + "'");
    keys.push_back({size_t(column), descending});
  }
  return keys;
}

void ApplySort(CursorState& state, const std::string& order) {
  state.keys = state.store->Keys();
  std::vector<SortKey> sortKeys = ParseSort(order, state.Schema());
  if (!sortKeys.empty()) {
    std::vector<std::pair<RowKey, Row>> rows;
    rows.reserve(state.keys.size());
    for (RowKey key : state.keys) rows.emplace_back(key, state.store->Read(key));
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& x, const auto& y) {
      for (const SortKey& k : sortKeys) {
        const Variant none;
        const Variant& a = k.column < x.second.size() ? x.second[k.column] : none;
        const Variant& b = k.column < y.second.size() ? y.second[k.column] : none;
        int c = CompareValues(a, b);
        if (c != 0) return k.descending ? c > 0 : c < 0;
      }
      return false;
    });
    for (size_t i = 0; i < rows.size(); i++) state.keys[i] = rows[i].first;
  }
  state.current = 0;
  state.onDeleted = false;
  state.cached = false;
}

// The kind a column keeps its values in.
VarType NaturalKind(DataType type) {
  switch (type) {
    case kSmallInt:
      return VT_I2;
    case kInteger:
      return VT_I4;
    case kSingle:
      return VT_R4;
    case kDouble:
      return VT_R8;
    case kCurrency:
      return VT_CY;
    case kDate:
    case kDBDate:
    case kDBTime:
    case kDBTimeStamp:
      return VT_DATE;
    case kBoolean:
      return VT_BOOL;
    case kTinyInt:
      return VT_I1;
    case kUnsignedTinyInt:
      return VT_UI1;
    case kUnsignedSmallInt:
      return VT_UI2;
    case kUnsignedInt:
      return VT_UI4;
    case kBigInt:
      return VT_I8;
    case kUnsignedBigInt:
      return VT_UI8;
    case kDecimal:
    case kNumeric:
      return VT_DECIMAL;
    case kBSTR:
    case kChar:
    case kWChar:
    case kVarChar:
    case kLongVarChar:
    case kVarWChar:
    case kLongVarWChar:
    case kGuid:
      return VT_BSTR;
    case kBinary:
    case kVarBinary:
    case kLongVarBinary:
      return VT_BYTES;
    default:
      return VT_EMPTY;  // the value keeps its own kind
  }
}

bool HasTextLimit(DataType type) {
  return type == kChar || type == kWChar || type == kVarChar || type == kVarWChar;
}

Variant ToColumn(const ColumnSchema& column, const Variant& value, const std::string& provider) {
  if (IsNullish(value)) return Variant::Null();
  VarType kind = NaturalKind(column.type);
  if (kind == VT_EMPTY) return value;
  Variant converted = value.ChangeType(kind);
  if (HasTextLimit(column.type) && column.definedSize > 0 &&
      converted.TextValue().size() > size_t(column.definedSize)) {
    RaiseProvider(provider, {"the text of " + std::to_string(converted.TextValue().size()) +
                             " characters does not fit column '" + column.name + "' of " +
                             std::to_string(column.definedSize)});
  }
  return converted;
}

}  // namespace

Recordset::Recordset() : state_(std::make_shared<CursorState>()) {}
Recordset::~Recordset() = default;

void Recordset::Open(const Variant& source, const Variant& connection, CursorType cursorType, LockType lockType,
                     int32_t options) {
  if (state_->open) Raise(kAlreadyOpen, kRecordset);
  if (options != kCommandTable) throw ComError(kNotSupported, kRecordset, "only tables can be opened");
  if (source.Type() != VT_BSTR || connection.Type() != VT_BSTR) Raise(kTypeMismatch, kRecordset);
  std::string name = TrimBlanks(source.TextValue());
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  auto next = std::make_shared<CursorState>();
  next->source = Connect(connection.TextValue());
  next->store = next->source->OpenTable(name);
  if (!next->store) {
    RaiseProvider(next->source->Name(), {"the data source holds no table named '" + name + "'"});
  }
  next->connection = std::make_shared<Connection>();
  next->cursorType = cursorType;
  next->lockType = lockType;
  next->open = true;
  if (cursorLocation_ == kClientCursor && !sort_.empty()) {
    ApplySort(*next, sort_);
  } else {
    next->keys = next->store->Keys();
  }
  state_ = next;
}

void Recordset::Close() {
  state_->RequireOpen();
  // A pending edit is dropped, as a cancelled one.
  auto closed = std::make_shared<CursorState>();
  state_->open = false;
  state_->store.reset();
  state_->source.reset();
  state_->connection.reset();
  state_->keys.clear();
  state_ = closed;
}

int32_t Recordset::State() const { return state_->open ? kStateOpen : kStateClosed; }

bool Recordset::IsBOF() const {
  state_->RequireOpen();
  return !state_->onDeleted && (state_->current < 0 || state_->keys.empty());
}

bool Recordset::IsEOF() const {
  state_->RequireOpen();
  return !state_->onDeleted && state_->current >= state_->Size();
}

int32_t Recordset::RecordCount() const {
  state_->RequireOpen();
  return state_->cursorType == kForwardOnly ? -1 : int32_t(state_->Size());
}

int32_t Recordset::AbsolutePosition() const {
  CursorState& s = *state_;
  s.RequireOpen();
  if (s.cursorType == kForwardOnly || s.edit == CursorState::kAdding || s.onDeleted) return kPositionUnknown;
  if (s.keys.empty() || s.current >= s.Size()) return kPositionEOF;
  if (s.current < 0) return kPositionBOF;
  return int32_t(s.current + 1);
}

void Recordset::Move(int32_t count, const Variant& start) {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] {
    int64_t from = IsWhole(start) ? start.WholeValue() : kBookmarkCurrent;
    if (count < 0 || from != kBookmarkCurrent) s.RequireBackward();
    s.Commit();
    int64_t target;
    if (from == kBookmarkFirst) {
      target = count;
    } else if (from == kBookmarkLast) {
      target = s.Size() - 1 + count;
    } else if (s.onDeleted) {
      target = count > 0 ? s.current + count - 1 : s.current + count;
    } else {
      if ((count > 0 && s.current >= s.Size()) || (count < 0 && s.current < 0)) {
        Raise(kNoCurrentRecord, kRecordset);
      }
      target = s.current + count;
    }
    s.onDeleted = false;
    s.current = target >= s.Size() ? s.Size() : (target < 0 ? -1 : target);
  });
}

void Recordset::MoveNext() {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] {
    s.Commit();
    if (s.onDeleted) {
      s.onDeleted = false;
      return;
    }
    if (s.current >= s.Size()) Raise(kNoCurrentRecord, kRecordset);
    s.current++;
  });
}

void Recordset::MoveFirst() {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] {
    s.Commit();
    s.onDeleted = false;
    s.current = 0;
  });
}

void Recordset::MoveLast() {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] {
    s.RequireBackward();
    s.Commit();
    s.onDeleted = false;
    s.current = s.keys.empty() ? 0 : s.Size() - 1;
  });
}

void Recordset::AddNew() {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] {
    s.RequireWritable();
    s.Commit();
    s.pending.assign(s.Schema().size(), Variant::Null());
    s.edit = CursorState::kAdding;
  });
}

void Recordset::Update() {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] { s.Commit(); });
}

void Recordset::Delete(int32_t affect) {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] {
    if (affect != kAffectCurrent) throw ComError(kNotSupported, kRecordset, "only the current record can be deleted");
    s.RequireWritable();
    bool adding = s.edit == CursorState::kAdding;
    s.edit = CursorState::kNone;
    if (adding) return;  // the new record is dropped
    if (!s.HasCurrent()) Raise(kNoCurrentRecord, kRecordset);
    s.store->Remove(s.keys[size_t(s.current)]);
    s.keys.erase(s.keys.begin() + s.current);
    s.onDeleted = true;
    s.cached = false;
  });
}

void Recordset::SetSort(const std::string& order) {
  if (cursorLocation_ != kClientCursor) {
    throw ComError(kNotSupported, kRecordset, "a sort needs a client-side cursor");
  }
  CursorState& s = *state_;
  if (s.open) {
    s.Run([&] {
      s.Commit();
      ApplySort(s, order);
    });
  }
  sort_ = order;
}

Ref<Fields> Recordset::GetFields() const {
  state_->RequireOpen();
  return std::make_shared<Fields>(state_);
}

Variant Recordset::ActiveConnection() const {
  return state_->open ? Variant::Dispatch(state_->connection) : Variant();
}

int32_t Fields::Count() const {
  state_->RequireOpen();
  return int32_t(state_->Schema().size());
}

Ref<Field> Fields::Item(const Variant& index) const {
  state_->RequireOpen();
  std::vector<std::string> names;
  for (const ColumnSchema& column : state_->Schema()) names.push_back(column.name);
  int64_t at = IndexOf(index, names);
  if (at < 0) Raise(kNotFound, "Fields");
  return std::make_shared<Field>(state_, int32_t(at));
}

const ColumnSchema& Field::Schema() const {
  state_->RequireOpen();
  return state_->Schema()[size_t(index_)];
}

std::string Field::Name() const { return Schema().name; }
DataType Field::Type() const { return Schema().type; }
int32_t Field::DefinedSize() const { return Schema().definedSize; }
uint8_t Field::Precision() const { return Schema().precision; }

Variant Field::Value() const {
  CursorState& s = *state_;
  s.RequireOpen();
  return s.Run([&]() -> Variant {
    if (s.edit != CursorState::kNone) return s.pending[size_t(index_)];
    return s.CurrentRow()[size_t(index_)];
  });
}

void Field::SetValue(const Variant& value) {
  CursorState& s = *state_;
  s.RequireOpen();
  s.Run([&] {
    s.RequireWritable();
    if (s.edit == CursorState::kNone) {
      s.pending = s.CurrentRow();
      s.edit = CursorState::kEditing;
    }
    s.pending[size_t(index_)] = ToColumn(Schema(), value, s.source->Name());
  });
}

int32_t Field::Status() const { return Value().Type() == VT_NULL ? kFieldIsNull : kFieldOK; }

Ref<Errors> Connection::GetErrors() const { return std::make_shared<Errors>(messages_); }

Ref<ErrorItem> Errors::Item(const Variant& index) const {
  if (!IsWhole(index) || index.WholeValue() < 0 || index.WholeValue() >= Count()) Raise(kNotFound, "Errors");
  return std::make_shared<ErrorItem>(messages_[size_t(index.WholeValue())]);
}

// ---- the catalog ----

struct TableState {
  std::string name;
  std::vector<ColumnSchema> columns;
  bool columnsRead = false;
  std::shared_ptr<DataSource> source;  // null for a table not yet appended

  // The columns of an appended table as its source has them now.
  std::vector<ColumnSchema>& Read() {
    if (source && !columnsRead) {
      auto store = source->OpenTable(name);
      if (!store) Raise(kNotFound, "Table");
      columns = store->Columns();
      columnsRead = true;
    }
    return columns;
  }
  void RequireNew(const char* object) const {
    if (source) throw ComError(kNotSupported, object, "the columns of an existing table cannot be changed");
  }
};

void Catalog::SetActiveConnection(const Variant& connection) {
  if (connection.Type() == VT_BSTR) {
    source_ = Connect(connection.TextValue());
  } else if (connection.Type() == VT_DISPATCH && !connection.ObjectValue()) {
    source_.reset();
  } else {
    Raise(kTypeMismatch, "Catalog");
  }
}

Ref<Tables> Catalog::GetTables() const {
  if (!source_) Raise(kClosed, "Catalog");
  return std::make_shared<Tables>(source_);
}

int32_t Tables::Count() const { return int32_t(source_->TableNames().size()); }

std::string Tables::NameOf(const Variant& index) const {
  std::vector<std::string> names = source_->TableNames();
  int64_t at = IndexOf(index, names);
  if (at < 0) Raise(kNotFound, "Tables");
  return names[size_t(at)];
}

Ref<Table> Tables::Item(const Variant& index) const {
  auto table = std::make_shared<Table>();
  table->state_->name = NameOf(index);
  table->state_->source = source_;
  return table;
}

void Tables::Append(const Variant& table) {
  auto object = table.Type() == VT_DISPATCH ? std::dynamic_pointer_cast<Table>(table.ObjectValue()) : nullptr;
  if (!object) Raise(kTypeMismatch, "Tables");
  TableState& state = *object->state_;
  if (state.source) throw ComError(kFail, "Tables", "the table is already in a collection");
  source_->CreateTable(state.name, state.columns);
  state.source = source_;
  state.columnsRead = false;
}

void Tables::Delete(const Variant& index) { source_->DropTable(NameOf(index)); }

Table::Table() : state_(std::make_shared<TableState>()) {}

std::string Table::Name() const { return state_->name; }

void Table::SetName(const std::string& name) {
  if (state_->source) state_->source->RenameTable(state_->name, name);
  state_->name = name;
}

Ref<Columns> Table::GetColumns() const { return std::make_shared<Columns>(state_); }

int32_t Columns::Count() const { return int32_t(state_->Read().size()); }

Ref<Column> Columns::Item(const Variant& index) const {
  std::vector<std::string> names;
  for (const ColumnSchema& column : state_->Read()) names.push_back(column.name);
  int64_t at = IndexOf(index, names);
  if (at < 0) Raise(kNotFound, "Columns");
  return std::make_shared<Column>(state_, size_t(at));
}

void Columns::Append(const Variant& name, DataType type, int32_t definedSize) {
  state_->RequireNew("Columns");
  if (name.Type() != VT_BSTR) Raise(kTypeMismatch, "Columns");
  for (const ColumnSchema& column : state_->columns) {
    if (platform::AsciiEqualsIgnoreCase(column.name, name.TextValue())) {
      throw ComError(kFail, "Columns", "a column named '" + name.TextValue() + "' is already in the collection");
    }
  }
  ColumnSchema column;
  column.name = name.TextValue();
  column.type = type;
  column.definedSize = definedSize;
  column.nullable = false;
  state_->columns.push_back(column);
}

std::string Column::Name() const { return state_->Read()[index_].name; }
DataType Column::Type() const { return state_->Read()[index_].type; }
int32_t Column::DefinedSize() const { return state_->Read()[index_].definedSize; }
int32_t Column::Attributes() const { return state_->Read()[index_].nullable ? kColumnNullable : 0; }

void Column::SetAttributes(int32_t attributes) {
  state_->RequireNew("Column");
  state_->columns[index_].nullable = (attributes & kColumnNullable) != 0;
}

}  // namespace adodb
