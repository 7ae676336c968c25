// adodb's Access provider over the shared libmdb reader (mdbread.h): the
// file is only ever read, so every write and schema change is refused with
// the provider's error.
//
// Values keep their own kinds: numbers and dates as numbers, currency in
// ten-thousandths, texts and memos as libmdb decodes them (UTF-8), GUIDs as
// "{...}" texts, decimals as their texts. The contents of long binary
// (OLE object) columns are not carried.
#include <string>
#include <vector>

#include "platform/env.h"
#include "tables/adodb.h"
#include "tables/adodb_jet.h"
#include "platform/mdbread.h"

namespace adodb {

namespace {

[[noreturn]] void Refuse() { RaiseProvider(kJetSource, {kJetReadOnly}); }
[[noreturn]] void Fail(const std::string& message) { RaiseProvider(kJetSource, {message}); }

ColumnSchema SchemaOf(const mdbread::Column& column) {
  ColumnSchema schema;
  schema.name = column.name;
  schema.precision = 255;
  switch (column.type) {
    case mdbread::kBool:
      schema.type = kBoolean, schema.definedSize = 2;
      break;
    case mdbread::kByte:
      schema.type = kUnsignedTinyInt, schema.definedSize = 1, schema.precision = 3;
      break;
    case mdbread::kInt:
      schema.type = kSmallInt, schema.definedSize = 2, schema.precision = 5;
      break;
    case mdbread::kLong:
      schema.type = kInteger, schema.definedSize = 4, schema.precision = 10;
      break;
    case mdbread::kMoney:
      schema.type = kCurrency, schema.definedSize = 8, schema.precision = 19;
      break;
    case mdbread::kFloat:
      schema.type = kSingle, schema.definedSize = 4, schema.precision = 7;
      break;
    case mdbread::kDouble:
      schema.type = kDouble, schema.definedSize = 8, schema.precision = 15;
      break;
    case mdbread::kDateTime:
      schema.type = kDate, schema.definedSize = 8;
      break;
    case mdbread::kBinary:
      schema.type = kVarBinary, schema.definedSize = column.size;
      break;
    case mdbread::kText:
      schema.type = kVarWChar;
      schema.definedSize = column.textSize;
      break;
    case mdbread::kMemo:
      schema.type = kLongVarWChar, schema.definedSize = 536870910;
      break;
    case mdbread::kGuid:
      schema.type = kGuid, schema.definedSize = 16;
      break;
    case mdbread::kNumeric:
      schema.type = kNumeric, schema.definedSize = 19;
      schema.precision = uint8_t(column.precision), schema.scale = uint8_t(column.scale);
      break;
    default:  // OLE objects and complex columns
      schema.type = kLongVarBinary, schema.definedSize = 1073741823;
      break;
  }
  // A yes/no column lives in the row's null mask and is never null.
  schema.nullable = !column.required && column.type != mdbread::kBool;
  return schema;
}

Variant ValueOf(const mdbread::Column& column, const mdbread::Cell& cell) {
  if (column.type == mdbread::kBool) return Variant::Bool(!cell.null && cell.i != 0);
  if (cell.null) return Variant::Null();
  switch (column.type) {
    case mdbread::kByte:
      return Variant::Whole(VT_UI1, cell.i);
    case mdbread::kInt:
      return Variant::I2(int16_t(cell.i));
    case mdbread::kLong:
      return Variant::I4(int32_t(cell.i));
    case mdbread::kMoney:
      return Variant::Currency(cell.i);
    case mdbread::kFloat:
      return Variant::Real(VT_R4, cell.d);
    case mdbread::kDouble:
      return Variant::R8(cell.d);
    case mdbread::kDateTime:
      return Variant::Date(cell.d);
    case mdbread::kText:
    case mdbread::kMemo:
    case mdbread::kGuid:
      return Variant::Text(cell.text);
    case mdbread::kNumeric:
      return Variant::Decimal(cell.text);
    case mdbread::kBinary:
      return Variant::Bytes(cell.text);
    default:
      return Variant::Bytes("");
  }
}

class JetStore : public TableStore {
 public:
  explicit JetStore(std::unique_ptr<mdbread::Table> table) : table_(std::move(table)) {
    for (const mdbread::Column& column : table_->Columns()) columns_.push_back(SchemaOf(column));
  }

  const std::vector<ColumnSchema>& Columns() const override { return columns_; }

  std::vector<RowKey> Keys() override {
    LoadRows();
    std::vector<RowKey> keys(rows_.size());
    for (size_t i = 0; i < keys.size(); i++) keys[i] = i;
    return keys;
  }

  Row Read(RowKey key) override {
    LoadRows();
    if (key >= rows_.size()) Raise(kNotFound, kJetSource);
    return rows_[key];
  }

  void CheckWritable() override { Refuse(); }
  RowKey Insert(const Row&) override { Refuse(); }
  void Update(RowKey, const Row&) override { Refuse(); }
  void Remove(RowKey) override { Refuse(); }

 private:
  void LoadRows() {
    if (loaded_) return;
    std::vector<mdbread::Row> cells;
    std::string error;
    if (!table_->ReadRows(&cells, &error)) Fail(error);
    const auto& columns = table_->Columns();
    for (const mdbread::Row& cellRow : cells) {
      Row row(columns_.size());
      for (size_t i = 0; i < columns.size(); i++) row[i] = ValueOf(columns[i], cellRow[i]);
      rows_.push_back(std::move(row));
    }
    loaded_ = true;
  }

  std::unique_ptr<mdbread::Table> table_;
  std::vector<ColumnSchema> columns_;
  std::vector<Row> rows_;
  bool loaded_ = false;
};

class JetSource : public DataSource {
 public:
  explicit JetSource(const std::string& path) {
    std::string error;
    file_ = mdbread::File::Open(path, &error);
    if (file_ == nullptr) Fail(error);
  }

  std::string Name() const override { return kJetSource; }

  std::vector<std::string> TableNames() override { return file_->TableNames(); }

  std::unique_ptr<TableStore> OpenTable(const std::string& name) override {
    std::string error;
    std::unique_ptr<mdbread::Table> table = file_->OpenTable(name, &error);
    if (table == nullptr) {
      if (!error.empty()) Fail(error);
      return nullptr;
    }
    return std::make_unique<JetStore>(std::move(table));
  }

  void CreateTable(const std::string&, const std::vector<ColumnSchema>&) override { Refuse(); }
  void DropTable(const std::string&) override { Refuse(); }
  void RenameTable(const std::string&, const std::string&) override { Refuse(); }

 private:
  std::shared_ptr<mdbread::File> file_;
};

}  // namespace

std::shared_ptr<DataSource> ConnectJet(const std::string& connection) {
  std::string path;
  if (!ConnectionValue(connection, "Data Source", &path) || path.empty()) {
    Fail("the connection names no database file (Data Source)");
  }
  return std::make_shared<JetSource>(platform::Env::Current().ResolveExisting(path));
}

}  // namespace adodb
