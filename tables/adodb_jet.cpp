// adodb's Access provider over libmdb: the file is mapped read-only through
// the platform layer and handed to libmdb as a buffer, so nothing here can
// change it; every write and schema change is refused with the provider's
// error.
//
// Rows are read raw (libmdb cracks each row into its fields) so that values
// keep their own kinds: numbers and dates as numbers, currency in
// ten-thousandths, texts and memos as libmdb decodes them (UTF-8), GUIDs as
// "{...}" texts, decimals as their texts. The contents of long binary
// (OLE object) columns are not carried. Text column sizes of the newer file
// format count bytes of two-byte characters and are halved.
#include <glib.h>
// glib first: the library's header needs its types.
#include <mdbtools.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/endian.h"
#include "platform/env.h"
#include "tables/adodb.h"
#include "tables/adodb_jet.h"

namespace adodb {

namespace {

[[noreturn]] void Refuse() { RaiseProvider(kJetSource, {kJetReadOnly}); }
[[noreturn]] void Fail(const std::string& message) { RaiseProvider(kJetSource, {message}); }

// A text that libmdb allocated, taken over and freed.
std::string Taken(char* text) {
  std::string value = text != nullptr ? text : "";
  g_free(text);
  return value;
}

// The mapped file and libmdb's handle over it.
class JetFile {
 public:
  explicit JetFile(const std::string& path) {
    try {
      platform::Env& env = platform::Env::Current();
      fd_ = env.Open(path, platform::kRead);
      if (fd_ < 0) Fail("could not find the database file '" + path + "'");
      platform::FileInfo info;
      if (env.FileStat(fd_, &info) != 0 || info.size <= 0 || !env.MapFile(fd_, &view_)) {
        Fail("the file '" + path + "' is not an Access database");
      }
      // libmdb only reads a buffer opened without the writable flag.
      mdb_ = mdb_open_buffer(const_cast<unsigned char*>(view_.data), view_.size, MDB_NOFLAGS);
      if (mdb_ == nullptr || mdb_read_catalog(mdb_, MDB_TABLE) == nullptr) {
        Fail("the file '" + path + "' is not an Access database");
      }
    } catch (...) {
      Release();
      throw;
    }
  }
  ~JetFile() { Release(); }
  JetFile(const JetFile&) = delete;
  JetFile& operator=(const JetFile&) = delete;

  MdbHandle* mdb() const { return mdb_; }

  // The user tables of the file.
  std::vector<MdbCatalogEntry*> Tables() const {
    std::vector<MdbCatalogEntry*> tables;
    for (unsigned i = 0; i < mdb_->num_catalog; i++) {
      auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb_->catalog, i));
      if (entry->object_type == MDB_TABLE && !mdb_is_system_table(entry)) tables.push_back(entry);
    }
    return tables;
  }

 private:
  void Release() {
    if (mdb_ != nullptr) mdb_close(mdb_);
    mdb_ = nullptr;
    platform::Env& env = platform::Env::Current();
    if (view_.data != nullptr) env.Unmap(view_);
    view_ = platform::MappedView();
    if (fd_ >= 0) env.Close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
  platform::MappedView view_;
  MdbHandle* mdb_ = nullptr;
};

ColumnSchema SchemaOf(MdbHandle* mdb, MdbColumn* column) {
  ColumnSchema schema;
  schema.name = column->name;
  schema.precision = 255;
  switch (column->col_type) {
    case MDB_BOOL:
      schema.type = kBoolean, schema.definedSize = 2;
      break;
    case MDB_BYTE:
      schema.type = kUnsignedTinyInt, schema.definedSize = 1, schema.precision = 3;
      break;
    case MDB_INT:
      schema.type = kSmallInt, schema.definedSize = 2, schema.precision = 5;
      break;
    case MDB_LONGINT:
      schema.type = kInteger, schema.definedSize = 4, schema.precision = 10;
      break;
    case MDB_MONEY:
      schema.type = kCurrency, schema.definedSize = 8, schema.precision = 19;
      break;
    case MDB_FLOAT:
      schema.type = kSingle, schema.definedSize = 4, schema.precision = 7;
      break;
    case MDB_DOUBLE:
      schema.type = kDouble, schema.definedSize = 8, schema.precision = 15;
      break;
    case MDB_DATETIME:
      schema.type = kDate, schema.definedSize = 8;
      break;
    case MDB_BINARY:
      schema.type = kVarBinary, schema.definedSize = column->col_size;
      break;
    case MDB_TEXT:
      schema.type = kVarWChar;
      schema.definedSize = mdb->f->jet_version == MDB_VER_JET3 ? column->col_size : column->col_size / 2;
      break;
    case MDB_MEMO:
      schema.type = kLongVarWChar, schema.definedSize = 536870910;
      break;
    case MDB_REPID:
      schema.type = kGuid, schema.definedSize = 16;
      break;
    case MDB_NUMERIC:
      // libmdb's column record holds the precision where its name says scale.
      schema.type = kNumeric, schema.definedSize = 19;
      schema.precision = uint8_t(column->col_scale), schema.scale = uint8_t(column->col_prec);
      break;
    default:  // OLE objects and complex columns
      schema.type = kLongVarBinary, schema.definedSize = 1073741823;
      break;
  }
  const char* required = mdb_col_get_prop(column, "Required");
  bool isRequired = required != nullptr && platform::AsciiEqualsIgnoreCase(required, "yes");
  // A yes/no column lives in the row's null mask and is never null.
  schema.nullable = !isRequired && column->col_type != MDB_BOOL;
  return schema;
}

size_t FixedSize(int type) {
  switch (type) {
    case MDB_BYTE:
      return 1;
    case MDB_INT:
      return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
      return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
      return 8;
    case MDB_REPID:
      return 16;
    case MDB_NUMERIC:
      return 17;
    default:
      return 0;
  }
}

class JetStore : public TableStore {
 public:
  JetStore(std::shared_ptr<JetFile> file, MdbCatalogEntry* entry) : file_(std::move(file)) {
    table_ = mdb_read_table(entry);
    if (table_ == nullptr || mdb_read_columns(table_) == nullptr) {
      if (table_ != nullptr) mdb_free_tabledef(table_);
      Fail(std::string("could not read the table '") + entry->object_name + "'");
    }
    for (unsigned i = 0; i < table_->num_cols; i++) {
      columns_.push_back(SchemaOf(file_->mdb(), Column(i)));
    }
  }
  ~JetStore() override {
    if (table_ != nullptr) mdb_free_tabledef(table_);
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
  MdbColumn* Column(unsigned i) const { return static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i)); }

  void LoadRows() {
    if (loaded_) return;
    MdbHandle* mdb = file_->mdb();
    const size_t pageSize = size_t(mdb->fmt->pg_size);
    std::vector<MdbField> fields(MDB_MAX_COLS > table_->num_cols ? MDB_MAX_COLS : table_->num_cols + 1);
    mdb_rewind_table(table_);
    while (mdb_fetch_row(table_)) {
      int start = 0;
      size_t length = 0;
      if (table_->cur_row == 0 || mdb_find_row(mdb, int(table_->cur_row) - 1, &start, &length) != 0 ||
          start < 0 || size_t(start) + length > pageSize) {
        Fail(std::string("the table '") + table_->name + "' is damaged");
      }
      int count = mdb_crack_row(table_, start, length, fields.data());
      Row row(columns_.size());
      std::vector<unsigned> memos;
      for (unsigned i = 0; i < table_->num_cols; i++) {
        MdbColumn* column = Column(i);
        const MdbField* field = nullptr;
        for (int k = 0; k < count && field == nullptr; k++) {
          if (fields[size_t(k)].colnum == int(i)) field = &fields[size_t(k)];
        }
        if (field == nullptr) {
          row[i] = column->col_type == MDB_BOOL ? Variant::Bool(false) : Variant::Null();
          continue;
        }
        if (column->col_type == MDB_MEMO && !field->is_null) {
          memos.push_back(i);
          continue;
        }
        row[i] = Decode(column, *field, pageSize);
      }
      // Memo texts live on other pages: read once the row's own fields are taken.
      for (unsigned i : memos) {
        const MdbField* field = nullptr;
        for (int k = 0; k < count && field == nullptr; k++) {
          if (fields[size_t(k)].colnum == int(i)) field = &fields[size_t(k)];
        }
        CheckBounds(*field, 0, pageSize);
        row[i] = Variant::Text(Taken(mdb_col_to_string(mdb, mdb->pg_buf, field->start, MDB_MEMO, field->siz)));
      }
      rows_.push_back(std::move(row));
    }
    loaded_ = true;
  }

  void CheckBounds(const MdbField& field, size_t needed, size_t pageSize) const {
    if (field.start < 0 || field.siz < 0 || size_t(field.start) + size_t(field.siz) > pageSize ||
        (needed > 0 && size_t(field.siz) < needed)) {
      Fail(std::string("the table '") + table_->name + "' is damaged");
    }
  }

  Variant Decode(MdbColumn* column, const MdbField& field, size_t pageSize) const {
    if (column->col_type == MDB_BOOL) return Variant::Bool(!field.is_null);
    if (field.is_null) return Variant::Null();
    MdbHandle* mdb = file_->mdb();
    CheckBounds(field, FixedSize(column->col_type), pageSize);
    const unsigned char* p = mdb->pg_buf + field.start;
    switch (column->col_type) {
      case MDB_BYTE:
        return Variant::Whole(VT_UI1, p[0]);
      case MDB_INT:
        return Variant::I2(int16_t(QLoadU16LE(p)));
      case MDB_LONGINT:
        return Variant::I4(QLoadI32LE(p));
      case MDB_MONEY:
        return Variant::Currency(QLoadI64LE(p));
      case MDB_FLOAT: {
        uint32_t bits = QLoadU32LE(p);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return Variant::Real(VT_R4, value);
      }
      case MDB_DOUBLE:
      case MDB_DATETIME: {
        double value = QLoadF64LE(p);
        return column->col_type == MDB_DOUBLE ? Variant::R8(value) : Variant::Date(value);
      }
      case MDB_TEXT:
        return Variant::Text(Taken(mdb_col_to_string(mdb, mdb->pg_buf, field.start, MDB_TEXT, field.siz)));
      case MDB_REPID:
        return Variant::Text(Taken(mdb_uuid_to_string(mdb->pg_buf, field.start)));
      case MDB_NUMERIC:
        return Variant::Decimal(Taken(mdb_numeric_to_string(mdb, field.start, column->col_scale, column->col_prec)));
      case MDB_BINARY:
        return Variant::Bytes(std::string(reinterpret_cast<const char*>(p), size_t(field.siz)));
      default:
        return Variant::Bytes("");
    }
  }

  std::shared_ptr<JetFile> file_;
  MdbTableDef* table_ = nullptr;
  std::vector<ColumnSchema> columns_;
  std::vector<Row> rows_;
  bool loaded_ = false;
};

class JetSource : public DataSource {
 public:
  explicit JetSource(const std::string& path) : file_(std::make_shared<JetFile>(path)) {}

  std::string Name() const override { return kJetSource; }

  std::vector<std::string> TableNames() override {
    std::vector<std::string> names;
    for (MdbCatalogEntry* entry : file_->Tables()) names.emplace_back(entry->object_name);
    return names;
  }

  std::unique_ptr<TableStore> OpenTable(const std::string& name) override {
    for (MdbCatalogEntry* entry : file_->Tables()) {
      if (platform::AsciiEqualsIgnoreCase(entry->object_name, name)) {
        return std::make_unique<JetStore>(file_, entry);
      }
    }
    return nullptr;
  }

  void CreateTable(const std::string&, const std::vector<ColumnSchema>&) override { Refuse(); }
  void DropTable(const std::string&) override { Refuse(); }
  void RenameTable(const std::string&, const std::string&) override { Refuse(); }

 private:
  std::shared_ptr<JetFile> file_;
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
