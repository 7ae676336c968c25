// The shared libmdb reader (mdbread.h).
#include "tables/mdbread.h"

#ifdef GSB_HAVE_LIBMDB
#include <glib.h>
// glib first: the library's header needs its types.
#include <mdbtools.h>
#endif

#include <cstring>

#include "platform/endian.h"
#include "platform/env.h"

namespace mdbread {

#ifdef GSB_HAVE_LIBMDB

namespace {

// A text that libmdb allocated, taken over and freed.
std::string Taken(char* text) {
  std::string value = text != nullptr ? text : "";
  g_free(text);
  return value;
}

MdbHandle* Handle(void* p) { return static_cast<MdbHandle*>(p); }
MdbTableDef* Def(void* p) { return static_cast<MdbTableDef*>(p); }
MdbColumn* ColumnAt(MdbTableDef* t, unsigned i) {
  return static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
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

bool InBounds(const MdbField& field, size_t needed, size_t pageSize) {
  return !(field.start < 0 || field.siz < 0 ||
           size_t(field.start) + size_t(field.siz) > pageSize ||
           (needed > 0 && size_t(field.siz) < needed));
}

bool Decode(MdbHandle* mdb, MdbColumn* column, const MdbField& field, size_t pageSize,
            Cell* cell) {
  if (column->col_type == MDB_BOOL) {
    cell->null = false;
    cell->i = field.is_null ? 0 : 1;  // the null mask holds the value
    return true;
  }
  if (field.is_null) return true;
  if (!InBounds(field, FixedSize(column->col_type), pageSize)) return false;
  cell->null = false;
  const unsigned char* p = mdb->pg_buf + field.start;
  switch (column->col_type) {
    case MDB_BYTE:
      cell->i = p[0];
      break;
    case MDB_INT:
      cell->i = int16_t(QLoadU16LE(p));
      break;
    case MDB_LONGINT:
      cell->i = QLoadI32LE(p);
      break;
    case MDB_MONEY:
      cell->i = QLoadI64LE(p);
      break;
    case MDB_FLOAT: {
      uint32_t bits = QLoadU32LE(p);
      float value;
      std::memcpy(&value, &bits, sizeof value);
      cell->d = value;
      break;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME:
      cell->d = QLoadF64LE(p);
      break;
    case MDB_TEXT:
      cell->text = Taken(mdb_col_to_string(mdb, mdb->pg_buf, field.start, MDB_TEXT, field.siz));
      break;
    case MDB_REPID:
      cell->text = Taken(mdb_uuid_to_string(mdb->pg_buf, field.start));
      break;
    case MDB_NUMERIC:
      cell->text =
          Taken(mdb_numeric_to_string(mdb, field.start, column->col_scale, column->col_prec));
      break;
    case MDB_BINARY:
      cell->text = std::string(reinterpret_cast<const char*>(p), size_t(field.siz));
      break;
    default:
      cell->text.clear();
      break;
  }
  return true;
}

}  // namespace

bool Available() { return true; }

std::shared_ptr<File> File::Open(const std::string& path, std::string* error) {
  std::shared_ptr<File> file(new File);
  platform::Env& env = platform::Env::Current();
  file->fd_ = env.Open(path, platform::kRead);
  if (file->fd_ < 0) {
    *error = "could not find the database file '" + path + "'";
    return nullptr;
  }
  auto* view = new platform::MappedView;
  file->view_ = view;
  platform::FileInfo info;
  if (env.FileStat(file->fd_, &info) != 0 || info.size <= 0 || !env.MapFile(file->fd_, view)) {
    *error = "the file '" + path + "' is not an Access database";
    return nullptr;
  }
  // libmdb only reads a buffer opened without the writable flag.
  MdbHandle* mdb =
      mdb_open_buffer(const_cast<unsigned char*>(view->data), view->size, MDB_NOFLAGS);
  file->mdb_ = mdb;
  if (mdb == nullptr || mdb_read_catalog(mdb, MDB_TABLE) == nullptr) {
    *error = "the file '" + path + "' is not an Access database";
    return nullptr;
  }
  return file;
}

File::~File() { Release(); }

void File::Release() {
  if (mdb_ != nullptr) mdb_close(Handle(mdb_));
  mdb_ = nullptr;
  platform::Env& env = platform::Env::Current();
  auto* view = static_cast<platform::MappedView*>(view_);
  if (view != nullptr && view->data != nullptr) env.Unmap(*view);
  delete view;
  view_ = nullptr;
  if (fd_ >= 0) env.Close(fd_);
  fd_ = -1;
}

std::vector<std::string> File::TableNames() const {
  std::vector<std::string> names;
  MdbHandle* mdb = Handle(mdb_);
  for (unsigned i = 0; i < mdb->num_catalog; i++) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type == MDB_TABLE && !mdb_is_system_table(entry))
      names.emplace_back(entry->object_name);
  }
  return names;
}

std::unique_ptr<Table> File::OpenTable(const std::string& name, std::string* error) {
  error->clear();
  MdbHandle* mdb = Handle(mdb_);
  MdbCatalogEntry* found = nullptr;
  for (unsigned i = 0; i < mdb->num_catalog && found == nullptr; i++) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type == MDB_TABLE && !mdb_is_system_table(entry) &&
        platform::AsciiEqualsIgnoreCase(entry->object_name, name)) {
      found = entry;
    }
  }
  if (found == nullptr) return nullptr;
  std::unique_ptr<Table> table(new Table);
  table->file_ = shared_from_this();
  table->name_ = found->object_name;
  MdbTableDef* def = mdb_read_table(found);
  table->table_ = def;
  if (def == nullptr || mdb_read_columns(def) == nullptr) {
    *error = "could not read the table '" + std::string(found->object_name) + "'";
    return nullptr;
  }
  for (unsigned i = 0; i < def->num_cols; i++) {
    MdbColumn* c = ColumnAt(def, i);
    Column column;
    column.name = c->name;
    column.type = c->col_type;
    column.size = c->col_size;
    column.textSize = mdb->f->jet_version == MDB_VER_JET3 ? c->col_size : c->col_size / 2;
    // libmdb's column record holds the precision where its name says scale.
    column.precision = c->col_scale;
    column.scale = c->col_prec;
    column.autoLong = c->col_type == MDB_LONGINT && c->is_long_auto;
    const char* required = mdb_col_get_prop(c, "Required");
    column.required = required != nullptr && platform::AsciiEqualsIgnoreCase(required, "yes");
    table->columns_.push_back(column);
  }
  if (mdb_read_indices(def) != nullptr) {
    for (unsigned i = 0; i < def->num_idxs; i++) {
      auto* ix = static_cast<MdbIndex*>(g_ptr_array_index(def->indices, i));
      Index index;
      index.name = ix->name;
      index.unique = (ix->flags & MDB_IDX_UNIQUE) != 0;
      index.primary = ix->index_type == 1;
      for (unsigned k = 0; k < ix->num_keys && k < MDB_MAX_IDX_COLS; k++) {
        int at = ix->key_col_num[k] - 1;
        if (at >= 0 && unsigned(at) < def->num_cols) index.columns.push_back(at);
      }
      table->indexes_.push_back(index);
    }
  }
  return table;
}

Table::~Table() {
  if (table_ != nullptr) mdb_free_tabledef(Def(table_));
}

bool Table::ReadRows(std::vector<Row>* rows, std::string* error) {
  MdbTableDef* def = Def(table_);
  MdbHandle* mdb = Handle(file_->mdb_);
  const size_t pageSize = size_t(mdb->fmt->pg_size);
  const std::string damaged = "the table '" + name_ + "' is damaged";
  std::vector<MdbField> fields(MDB_MAX_COLS > def->num_cols ? MDB_MAX_COLS : def->num_cols + 1);
  mdb_rewind_table(def);
  while (mdb_fetch_row(def)) {
    int start = 0;
    size_t length = 0;
    if (def->cur_row == 0 || mdb_find_row(mdb, int(def->cur_row) - 1, &start, &length) != 0 ||
        start < 0 || size_t(start) + length > pageSize) {
      *error = damaged;
      return false;
    }
    int count = mdb_crack_row(def, start, length, fields.data());
    auto fieldOf = [&](unsigned i) -> const MdbField* {
      for (int k = 0; k < count; k++)
        if (fields[size_t(k)].colnum == int(i)) return &fields[size_t(k)];
      return nullptr;
    };
    Row row(def->num_cols);
    std::vector<unsigned> memos;
    for (unsigned i = 0; i < def->num_cols; i++) {
      MdbColumn* column = ColumnAt(def, i);
      const MdbField* field = fieldOf(i);
      if (field == nullptr) {
        if (column->col_type == MDB_BOOL) row[i].null = false;
        continue;
      }
      if (column->col_type == MDB_MEMO && !field->is_null) {
        memos.push_back(i);
        continue;
      }
      if (!Decode(mdb, column, *field, pageSize, &row[i])) {
        *error = damaged;
        return false;
      }
    }
    // Memo texts live on other pages: read once the row's own fields are taken.
    for (unsigned i : memos) {
      const MdbField* field = fieldOf(i);
      if (!InBounds(*field, 0, pageSize)) {
        *error = damaged;
        return false;
      }
      row[i].null = false;
      row[i].text =
          Taken(mdb_col_to_string(mdb, mdb->pg_buf, field->start, MDB_MEMO, field->siz));
    }
    rows->push_back(std::move(row));
  }
  return true;
}

#else  // no libmdb

bool Available() { return false; }
std::shared_ptr<File> File::Open(const std::string&, std::string* error) {
  *error = "Access databases cannot be read: built without libmdb";
  return nullptr;
}
File::~File() {}
void File::Release() {}
std::vector<std::string> File::TableNames() const { return {}; }
std::unique_ptr<Table> File::OpenTable(const std::string&, std::string*) { return nullptr; }
Table::~Table() {}
bool Table::ReadRows(std::vector<Row>*, std::string*) { return false; }

#endif

}  // namespace mdbread
