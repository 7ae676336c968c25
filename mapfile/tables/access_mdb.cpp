// The engine over Debian's libmdb (the table library's shared reader): it
// opens .mdb files and reads their tables, and refuses every change with
// error 3027, so a database is never written. A recordset reads its table's
// rows once when it is opened. Texts come as libmdb decodes them (UTF-8).
#include <algorithm>

#include "mapfile/tables/access_engine.h"
#include "mapfile/tables/table.h"
#include "platform/mdbread.h"

namespace layerio::access {

namespace {

constexpr char kReadOnlyText[] =
    "Access databases are read-only on this platform: the change was not made.";

std::vector<std::string> gErrors;

int32_t Fail(int number, const std::string& description) {
  gErrors.assign(1, description);
  return DaoFailure(number);
}

int32_t Refuse() { return Fail(kDaoReadOnly, kReadOnlyText); }

int DaoTypeOf(int type) {
  switch (type) {
    case mdbread::kNumeric:
      return kDaoDecimal;
    default:
      return type;  // the stored codes are the engine's own
  }
}

FieldInfo FieldOf(const mdbread::Column& c) {
  FieldInfo f;
  f.name = c.name;
  f.type = DaoTypeOf(c.type);
  f.required = c.required;
  switch (c.type) {
    case mdbread::kText:
      f.size = c.textSize;
      break;
    case mdbread::kBool:
    case mdbread::kByte:
      f.size = 1;
      break;
    default:
      f.size = c.size;
      break;
  }
  if (c.autoLong) f.attributes |= kDaoAutoIncrement;
  return f;
}

Variant ValueOf(int type, const mdbread::Cell& cell) {
  if (type == mdbread::kBool) return Variant::Whole(VarType::kBool, !cell.null && cell.i ? -1 : 0);
  if (cell.null) return Variant::Null();
  switch (type) {
    case mdbread::kByte:
      return Variant::Whole(VarType::kUI1, cell.i);
    case mdbread::kInt:
      return Variant::Whole(VarType::kI2, cell.i);
    case mdbread::kLong:
      return Variant::Whole(VarType::kI4, cell.i);
    case mdbread::kMoney:
      return Variant::Whole(VarType::kCurrency, cell.i);
    case mdbread::kFloat:
      return Variant::Real(VarType::kR4, cell.d);
    case mdbread::kDouble:
      return Variant::Real(VarType::kR8, cell.d);
    case mdbread::kDateTime:
      return Variant::Real(VarType::kDate, cell.d);
    case mdbread::kText:
      return Variant::Text(cell.text);
    default:
      return Variant::Null();
  }
}

class MdbRecordset : public Recordset {
 public:
  MdbRecordset(const mdbread::Table& table, std::vector<mdbread::Row> rows)
      : rows_(std::move(rows)) {
    for (const mdbread::Column& c : table.Columns()) {
      fields_.push_back(FieldOf(c));
      types_.push_back(c.type);
    }
    for (const mdbread::Index& ix : table.Indexes()) {
      IndexInfo index;
      index.name = ix.name;
      index.unique = ix.unique;
      index.primary = ix.primary;
      for (int at : ix.columns) index.fields.push_back(fields_[size_t(at)]);
      indexes_.push_back(index);
    }
    for (size_t i = 0; i < rows_.size(); ++i) order_.push_back(i);
  }
  // The one-column result of the ID query.
  MdbRecordset(FieldInfo field, int type, std::vector<mdbread::Row> rows) : rows_(std::move(rows)) {
    fields_.push_back(field);
    types_.push_back(type);
    for (size_t i = 0; i < rows_.size(); ++i) order_.push_back(i);
  }

  const std::vector<FieldInfo>& Fields() override { return fields_; }
  const std::vector<IndexInfo>& Indexes() override { return indexes_; }

  int32_t SetIndex(const std::string& name) override {
    for (const IndexInfo& index : indexes_) {
      if (index.name != name || index.fields.size() != 1) continue;
      for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name != index.fields[0].name) continue;
        key_ = int(i);
        std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
          return rows_[a][i].i < rows_[b][i].i;
        });
        return 0;
      }
    }
    return Fail(3015, "'" + name + "' is not an index in this table.");
  }

  int32_t Seek(int32_t key) override {
    if (key_ < 0) return Fail(3019, "Operation invalid without a current index.");
    noMatch_ = true;
    at_ = order_.size();
    for (size_t n = 0; n < order_.size(); ++n) {
      const mdbread::Cell& cell = rows_[order_[n]][size_t(key_)];
      if (!cell.null && cell.i == key) {
        at_ = n;
        noMatch_ = false;
        break;
      }
    }
    return 0;
  }
  bool NoMatch() override { return noMatch_; }
  int32_t MoveFirst() override {
    at_ = 0;
    return 0;
  }
  int32_t MoveNext() override {
    if (at_ < order_.size()) ++at_;
    return 0;
  }
  int32_t MoveFromFirst(int32_t rows) override {
    at_ = rows < 0 ? order_.size() : std::min(order_.size(), size_t(rows));
    return 0;
  }
  bool Eof() override { return at_ >= order_.size(); }
  int32_t GetValue(int field, Variant* out) override {
    if (field < 0 || size_t(field) >= fields_.size()) return Fail(3265, "Item not found");
    if (at_ >= order_.size()) return Fail(3021, "No current record.");
    *out = ValueOf(types_[size_t(field)], rows_[order_[at_]][size_t(field)]);
    return 0;
  }
  int32_t SetValue(int, const Variant&) override { return Refuse(); }
  int32_t AddNew() override { return Refuse(); }
  int32_t Edit() override { return Refuse(); }
  int32_t Update() override { return Refuse(); }
  int32_t CancelUpdate() override { return 0; }

 private:
  std::vector<mdbread::Row> rows_;
  std::vector<FieldInfo> fields_;
  std::vector<int> types_;
  std::vector<IndexInfo> indexes_;
  std::vector<size_t> order_;
  size_t at_ = 0;
  int key_ = -1;
  bool noMatch_ = false;
};

class MdbDatabase : public Database {
 public:
  explicit MdbDatabase(std::shared_ptr<mdbread::File> file) : file_(std::move(file)) {}

  int32_t OpenRecordset(const std::string& name, int, int, int,
                        std::unique_ptr<Recordset>* out) override {
    std::unique_ptr<mdbread::Table> table;
    std::vector<mdbread::Row> rows;
    if (int32_t r = Read(name, &table, &rows)) return r;
    *out = std::make_unique<MdbRecordset>(*table, std::move(rows));
    return 0;
  }

  int32_t OpenQuery(const std::string& sql, int, int, int,
                    std::unique_ptr<Recordset>* out) override {
    std::string column, name;
    int32_t above = 0;
    if (!IdQueryParse(sql, &column, &name, &above))
      return Fail(3075, "Syntax error in query expression.");
    std::unique_ptr<mdbread::Table> table;
    std::vector<mdbread::Row> rows;
    if (int32_t r = Read(name, &table, &rows)) return r;
    const auto& columns = table->Columns();
    size_t at = 0;
    while (at < columns.size() && columns[at].name != column) ++at;
    if (at == columns.size()) return Fail(3061, "Too few parameters.");
    std::vector<mdbread::Row> found;
    for (const mdbread::Row& row : rows) {
      if (!row[at].null && row[at].i > above) found.push_back({row[at]});
    }
    *out = std::make_unique<MdbRecordset>(FieldOf(columns[at]), columns[at].type,
                                          std::move(found));
    return 0;
  }

  int32_t TableDefDelete(const std::string&) override { return Refuse(); }
  int32_t TableDefAppend(const TableDefInfo&) override { return Refuse(); }
  int32_t FieldAppend(const std::string&, const FieldInfo&) override { return Refuse(); }
  int32_t IndexAppend(const std::string&, const IndexInfo&) override { return Refuse(); }
  void Close() override {}

 private:
  int32_t Read(const std::string& name, std::unique_ptr<mdbread::Table>* table,
               std::vector<mdbread::Row>* rows) {
    std::string error;
    *table = file_->OpenTable(name, &error);
    if (!*table) {
      return Fail(3078, error.empty() ? "The engine cannot find the input table '" + name + "'."
                                      : error);
    }
    if (!(*table)->ReadRows(rows, &error)) return Fail(3049, error);
    return 0;
  }

  std::shared_ptr<mdbread::File> file_;
};

class MdbEngine : public Engine {
 public:
  int32_t OpenDatabase(const std::string& path, bool, bool, const std::string&,
                       std::unique_ptr<Database>* out) override {
    FileStatRec stat{};
    if (FileStat(path.c_str(), &stat) != 0)
      return Fail(kDaoFileNotFound, "Could not find file '" + path + "'.");
    std::string error;
    std::shared_ptr<mdbread::File> file = mdbread::File::Open(path, &error);
    if (!file) return Fail(3343, error);
    *out = std::make_unique<MdbDatabase>(std::move(file));
    return 0;
  }
  int32_t CreateDatabase(const std::string&, const std::string&, int,
                         std::unique_ptr<Database>*) override {
    return Fail(kDaoReadOnly, "Access databases cannot be created on this platform.");
  }
  std::vector<std::string> Errors() override { return gErrors; }
  int64_t DatabaseTime(const std::string& path) override {
    FileStatRec stat{};
    return FileStat(path.c_str(), &stat) == 0 ? stat.modified : 0;
  }
};

}  // namespace

std::unique_ptr<Engine> MdbEngineMake() {
  if (!mdbread::Available()) return nullptr;
  return std::make_unique<MdbEngine>();
}

}  // namespace layerio::access
