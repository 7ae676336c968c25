// The in-memory engine. A table-type recordset walks the live records of
// its table, in record order or, with an index set, in the order of the
// index's one field; a forward-only query recordset holds the IDs it found
// when it was opened.
#include "tests/mapfile/tables/access_memory.h"

#include <algorithm>

namespace layerio::access {

namespace {

int AutoField(const MemTable& t) {
  for (size_t i = 0; i < t.fields.size(); ++i)
    if (t.fields[i].type == kDaoLong && (t.fields[i].attributes & kDaoAutoIncrement)) return int(i);
  return -1;
}

int FieldAt(const std::vector<FieldInfo>& fields, const std::string& name) {
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name == name) return int(i);
  return -1;
}

class MemRecordset : public Recordset {
 public:
  MemRecordset(MemEngine* engine, MemDatabase* db, MemTable* table, bool readOnly)
      : engine_(engine), db_(db), table_(table), readOnly_(readOnly), fields_(table->fields),
        indexes_(table->indexes) {}

  const std::vector<FieldInfo>& Fields() override { return fields_; }
  const std::vector<IndexInfo>& Indexes() override { return indexes_; }

  int32_t SetIndex(const std::string& name) override {
    if (int32_t f = engine_->Fault("Index")) return f;
    for (const IndexInfo& index : indexes_) {
      if (index.name == name && index.fields.size() == 1) {
        keyField_ = FieldAt(fields_, index.fields[0].name);
        return keyField_ >= 0 ? 0 : engine_->Fail(3015, "index field missing");
      }
    }
    return engine_->Fail(3015, "'" + name + "' is not an index in this table.");
  }

  int32_t Seek(int32_t key) override {
    engine_->Log("Seek " + std::to_string(key));
    if (int32_t f = engine_->Fault("Seek")) return f;
    if (keyField_ < 0) return engine_->Fail(3019, "Operation invalid without a current index.");
    Order();
    noMatch_ = true;
    for (size_t n = 0; n < order_.size(); ++n) {
      const Variant& v = table_->records[order_[n]].values[size_t(keyField_)];
      if (v.type == VarType::kI4 && v.i == key) {
        at_ = n;
        noMatch_ = false;
        return 0;
      }
    }
    at_ = order_.size();
    return 0;
  }
  bool NoMatch() override { return noMatch_; }

  int32_t MoveFirst() override {
    if (int32_t f = engine_->Fault("MoveFirst")) return f;
    Order();
    at_ = 0;
    return 0;
  }
  int32_t MoveNext() override {
    if (int32_t f = engine_->Fault("MoveNext")) return f;
    if (at_ < order_.size()) ++at_;
    return 0;
  }
  int32_t MoveFromFirst(int32_t rows) override {
    Order();
    at_ = rows < 0 ? order_.size() : std::min(order_.size(), size_t(rows));
    return 0;
  }
  bool Eof() override { return at_ >= order_.size(); }

  int32_t GetValue(int field, Variant* out) override {
    if (int32_t f = engine_->Fault("GetValue")) return f;
    if (field < 0 || size_t(field) >= fields_.size()) return engine_->Fail(3265, "Item not found");
    if (mode_ != 0) {
      *out = buffer_[size_t(field)];
      return 0;
    }
    if (at_ >= order_.size()) return engine_->Fail(3021, "No current record.");
    *out = table_->records[order_[at_]].values[size_t(field)];
    return 0;
  }
  int32_t SetValue(int field, const Variant& value) override {
    if (int32_t f = engine_->Fault("SetValue")) return f;
    if (mode_ == 0) return engine_->Fail(3020, "Update or CancelUpdate without AddNew or Edit.");
    if (field < 0 || size_t(field) >= fields_.size()) return engine_->Fail(3265, "Item not found");
    buffer_[size_t(field)] = value;
    return 0;
  }

  int32_t AddNew() override {
    engine_->Log("AddNew");
    if (int32_t f = engine_->Fault("AddNew")) return f;
    if (int32_t r = Writable()) return r;
    buffer_.assign(fields_.size(), Variant());
    int a = AutoField(*table_);
    if (a >= 0) buffer_[size_t(a)] = Variant::Whole(VarType::kI4, table_->nextAuto++);
    mode_ = 1;
    return 0;
  }
  int32_t Edit() override {
    engine_->Log("Edit");
    if (int32_t f = engine_->Fault("Edit")) return f;
    if (int32_t r = Writable()) return r;
    if (at_ >= order_.size()) return engine_->Fail(3021, "No current record.");
    buffer_ = table_->records[order_[at_]].values;
    editing_ = order_[at_];
    mode_ = 2;
    return 0;
  }
  int32_t Update() override {
    engine_->Log("Update");
    if (int32_t f = engine_->Fault("Update")) return f;
    if (mode_ == 0) return engine_->Fail(3020, "Update or CancelUpdate without AddNew or Edit.");
    if (mode_ == 1) {
      table_->records.push_back(MemRecord{buffer_, true});
    } else {
      table_->records[editing_].values = buffer_;
    }
    mode_ = 0;
    ++db_->time;
    order_.clear();
    return 0;
  }
  int32_t CancelUpdate() override {
    engine_->Log("CancelUpdate");
    if (int32_t f = engine_->Fault("CancelUpdate")) return f;
    mode_ = 0;
    return 0;
  }

 private:
  int32_t Writable() {
    if (readOnly_ || db_->readOnly)
      return engine_->Fail(kDaoReadOnly, "Cannot update. Database or object is read-only.");
    return 0;
  }
  void Order() {
    order_.clear();
    for (size_t i = 0; i < table_->records.size(); ++i)
      if (table_->records[i].alive) order_.push_back(i);
    if (keyField_ >= 0) {
      std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
        return table_->records[a].values[size_t(keyField_)].i <
               table_->records[b].values[size_t(keyField_)].i;
      });
    }
  }

  MemEngine* engine_;
  MemDatabase* db_;
  MemTable* table_;
  bool readOnly_;
  std::vector<FieldInfo> fields_;
  std::vector<IndexInfo> indexes_;
  std::vector<size_t> order_;
  size_t at_ = 0;
  int keyField_ = -1;
  bool noMatch_ = false;
  int mode_ = 0;
  size_t editing_ = 0;
  std::vector<Variant> buffer_;
};

// The forward-only result of the ID query.
class MemQuery : public Recordset {
 public:
  explicit MemQuery(std::vector<int32_t> ids) : ids_(std::move(ids)) {
    FieldInfo f;
    f.type = kDaoLong;
    fields_.push_back(f);
  }
  const std::vector<FieldInfo>& Fields() override { return fields_; }
  const std::vector<IndexInfo>& Indexes() override { return indexes_; }
  int32_t SetIndex(const std::string&) override { return DaoFailure(3251); }
  int32_t Seek(int32_t) override { return DaoFailure(3251); }
  bool NoMatch() override { return true; }
  int32_t MoveFirst() override { return DaoFailure(3251); }
  int32_t MoveNext() override {
    if (at_ < ids_.size()) ++at_;
    return 0;
  }
  int32_t MoveFromFirst(int32_t) override { return DaoFailure(3251); }
  bool Eof() override { return at_ >= ids_.size(); }
  int32_t GetValue(int field, Variant* out) override {
    if (field != 0 || at_ >= ids_.size()) return DaoFailure(3021);
    *out = Variant::Whole(VarType::kI4, ids_[at_]);
    return 0;
  }
  int32_t SetValue(int, const Variant&) override { return DaoFailure(3251); }
  int32_t AddNew() override { return DaoFailure(3251); }
  int32_t Edit() override { return DaoFailure(3251); }
  int32_t Update() override { return DaoFailure(3251); }
  int32_t CancelUpdate() override { return DaoFailure(3251); }

 private:
  std::vector<int32_t> ids_;
  size_t at_ = 0;
  std::vector<FieldInfo> fields_;
  std::vector<IndexInfo> indexes_;
};

class MemDb : public Database {
 public:
  MemDb(MemEngine* engine, MemDatabase* db, bool readOnly)
      : engine_(engine), db_(db), readOnly_(readOnly) {}

  int32_t OpenRecordset(const std::string& table, int type, int options, int lockEdit,
                        std::unique_ptr<Recordset>* out) override {
    engine_->Log("OpenRecordset " + table + " " + std::to_string(type) + " " +
                 std::to_string(options) + " " + std::to_string(lockEdit));
    if (int32_t f = engine_->Fault("OpenRecordset")) return f;
    auto it = db_->tables.find(table);
    if (it == db_->tables.end())
      return engine_->Fail(3078, "The engine cannot find the input table '" + table + "'.");
    bool readOnly = readOnly_ || lockEdit == kLockReadOnly;
    if (it->second.locked && !readOnly)
      return engine_->Fail(kDaoTableLocked, "Table '" + table + "' is locked.");
    *out = std::make_unique<MemRecordset>(engine_, db_, &it->second, readOnly);
    return 0;
  }

  int32_t OpenQuery(const std::string& sql, int type, int options, int lockEdit,
                    std::unique_ptr<Recordset>* out) override {
    engine_->Log("OpenQuery " + sql + " " + std::to_string(type) + " " +
                 std::to_string(options) + " " + std::to_string(lockEdit));
    if (int32_t f = engine_->Fault("OpenQuery")) return f;
    std::string column, table;
    int32_t above = 0;
    if (!IdQueryParse(sql, &column, &table, &above))
      return engine_->Fail(3075, "Syntax error in query expression.");
    auto it = db_->tables.find(table);
    if (it == db_->tables.end())
      return engine_->Fail(3078, "The engine cannot find the input table '" + table + "'.");
    int at = FieldAt(it->second.fields, column);
    if (at < 0) return engine_->Fail(3061, "Too few parameters.");
    std::vector<int32_t> ids;
    for (const MemRecord& r : it->second.records) {
      const Variant& v = r.values[size_t(at)];
      if (r.alive && v.type == VarType::kI4 && v.i > above) ids.push_back(int32_t(v.i));
    }
    *out = std::make_unique<MemQuery>(std::move(ids));
    return 0;
  }

  int32_t TableDefDelete(const std::string& table) override {
    engine_->Log("TableDefDelete " + table);
    if (int32_t f = engine_->Fault("TableDefDelete")) return f;
    if (int32_t r = Writable()) return r;
    if (db_->tables.erase(table) == 0) {
      engine_->Fail(3265, "Item not found in this collection.");
      return kDaoItemNotFound;
    }
    ++db_->time;
    return 0;
  }

  int32_t TableDefAppend(const TableDefInfo& def) override {
    engine_->Log("TableDefAppend " + def.name);
    if (int32_t f = engine_->Fault("TableDefAppend")) return f;
    if (int32_t r = Writable()) return r;
    if (db_->tables.count(def.name)) return engine_->Fail(3010, "Table already exists.");
    MemTable& t = db_->tables[def.name];
    t.fields = def.fields;
    t.indexes = def.indexes;
    ++db_->time;
    return 0;
  }

  int32_t FieldAppend(const std::string& table, const FieldInfo& field) override {
    engine_->Log("FieldAppend " + table + " " + field.name);
    if (int32_t f = engine_->Fault("FieldAppend")) return f;
    if (int32_t r = Writable()) return r;
    auto it = db_->tables.find(table);
    if (it == db_->tables.end()) return engine_->Fail(3265, "Item not found in this collection.");
    MemTable& t = it->second;
    if (FieldAt(t.fields, field.name) >= 0) return engine_->Fail(3191, "Field defined twice.");
    t.fields.push_back(field);
    const bool counter = field.type == kDaoLong && (field.attributes & kDaoAutoIncrement);
    for (MemRecord& r : t.records)
      r.values.push_back(counter ? Variant::Whole(VarType::kI4, t.nextAuto++) : Variant());
    ++db_->time;
    return 0;
  }

  int32_t IndexAppend(const std::string& table, const IndexInfo& index) override {
    engine_->Log("IndexAppend " + table + " " + index.name + (index.primary ? " primary" : ""));
    if (int32_t f = engine_->Fault("IndexAppend")) return f;
    if (int32_t r = Writable()) return r;
    auto it = db_->tables.find(table);
    if (it == db_->tables.end()) return engine_->Fail(3265, "Item not found in this collection.");
    it->second.indexes.push_back(index);
    ++db_->time;
    return 0;
  }

  void Close() override { engine_->Log("Close"); }

 private:
  int32_t Writable() {
    if (readOnly_ || db_->readOnly)
      return engine_->Fail(kDaoReadOnly, "Cannot update. Database or object is read-only.");
    return 0;
  }
  MemEngine* engine_;
  MemDatabase* db_;
  bool readOnly_;
};

}  // namespace

int32_t MemEngine::Fault(const std::string& operation) {
  auto it = faults_.find(operation);
  if (it == faults_.end() || it->second.empty()) return 0;
  int number = it->second.front();
  it->second.pop_front();
  return Fail(number, operation + " failed (" + std::to_string(number) + ").");
}

int32_t MemEngine::Fail(int number, const std::string& description) {
  errors_.assign(1, description);
  return DaoFailure(number);
}

int32_t MemEngine::OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                const std::string& connect, std::unique_ptr<Database>* out) {
  Log("OpenDatabase " + path + " " + (exclusive ? "1" : "0") + " " + (readOnly ? "1" : "0") +
      " " + connect);
  if (int32_t f = Fault("OpenDatabase")) return f;
  auto it = databases_.find(path);
  if (it == databases_.end())
    return Fail(kDaoFileNotFound, "Could not find file '" + path + "'.");
  if (!it->second.password.empty() && connect != ";pwd=" + it->second.password)
    return Fail(kDaoBadPassword, "Not a valid password.");
  *out = std::make_unique<MemDb>(this, &it->second, readOnly);
  return 0;
}

int32_t MemEngine::CreateDatabase(const std::string& path, const std::string& locale, int format,
                                  std::unique_ptr<Database>* out) {
  Log("CreateDatabase " + path + " " + locale + " " + std::to_string(format));
  if (int32_t f = Fault("CreateDatabase")) return f;
  if (databases_.count(path)) return Fail(3204, "Database already exists.");
  MemDatabase& db = databases_[path];
  db.format = format;
  *out = std::make_unique<MemDb>(this, &db, false);
  return 0;
}

int64_t MemEngine::DatabaseTime(const std::string& path) {
  auto it = databases_.find(path);
  return it == databases_.end() ? 0 : it->second.time;
}

int32_t MemEngine::AddExternally(const std::string& path, const std::string& table,
                                 std::vector<Variant> values) {
  MemTable& t = databases_[path].tables[table];
  values.resize(t.fields.size());
  int a = AutoField(t);
  int32_t id = 0;
  if (a >= 0) {
    id = t.nextAuto++;
    values[size_t(a)] = Variant::Whole(VarType::kI4, id);
  }
  t.records.push_back(MemRecord{std::move(values), true});
  ++databases_[path].time;
  return id;
}

}  // namespace layerio::access
