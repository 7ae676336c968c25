// Rows, fields and the row text of an open native table: the counts, the
// public field records, and reading, appending and rewriting one row with
// its map object.
//
// The row text is the values of one row in field order joined by TABs, with
// no TAB after the last; numbers stand bare, every other value in double
// quotes with inner quotes doubled (bare under the raw-text switch). A row
// whose text would not fit the 4,000-character output reads as 0 without an
// error: the caller learns only that the row cannot cross as text.
//
// Numbers cross with every digit their field keeps: Decimal with its
// decimals, Float in 14 significant digits, Integer and Smallint whole. A
// row whose number does not fit its field (here, or in the data file's
// field) is refused whole: nothing is written and the field and value are
// on the error stack.
//
// The field indexes follow the rows, never lead them: an appended row gets
// its keys once the data source holds it, and a rewritten row whose
// write-back fails gets its old keys back. So an index never names a row
// the data does not have, nor values the row does not hold.
#include <cstring>
#include <vector>

#include "mapfile/objects/objstore.h"
#include "mapfile/objects/statement.h"
#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/pxobject.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"

using layerio::FieldDef;
using layerio::GeomObject;
using layerio::kNeedNative;
using layerio::kNeedWrite;
using layerio::ObjStore;
using layerio::TableCall;
using layerio::TableObject;
using layerio::Value;
using Slot = layerio::HandleSlot;

namespace {

constexpr uint16_t kFail = 0;
constexpr int16_t kErrObjectRecord = 644;    // the record cannot be converted
constexpr int16_t kErrObjectStore = 428;     // the object or definition cannot be written
constexpr int16_t kErrNoMapFile = 1920;
constexpr int16_t kErrRowUnreadable = 1925;
constexpr uint8_t kTypeNoObject = 0;
// A row whose text, with a TAB or the terminator after it, would reach this
// length does not cross as text.
constexpr size_t kRowTextLimit = layerio::kRowTextSize - 1;
constexpr char kQuote[] = "\"";
static_assert(layerio::kErrValueRefused == PX_ERROR_VALUE_REFUSED);

void Push(int16_t code) { layerio::ErrorPush(layerio::kErrorSeverity, code, nullptr, nullptr); }

// Pushes `code` only when the failure below pushed nothing of its own.
void PushIfClean(int16_t code, uint16_t before) {
  if (layerio::ErrorCount() == before) Push(code);
}

bool IsNumericType(uint8_t type) {
  return type == layerio::kFieldDecimal || type == layerio::kFieldInteger ||
         type == layerio::kFieldSmallint || type == layerio::kFieldFloat;
}

// The row's values into the fields; 1925 when the row cannot be read.
bool ReadRow(TableObject* table, uint32_t row) {
  const uint16_t before = layerio::ErrorCount();
  if (row >= 1 && row <= layerio::TableRowCount(table) &&
      layerio::DataSourceRead(&table->source, table->fields, row, nullptr)) {
    return true;
  }
  PushIfClean(kErrRowUnreadable, before);
  return false;
}

// The fields' current values as row text. false (text emptied, nothing
// pushed) when the text would not fit.
bool FormatRow(const TableObject* table, char* out) {
  char* value = layerio::RowTextBuffer();
  // Each inner quote doubles, and the quotes enclose the value.
  char quoted[2 * layerio::kRowTextSize + 3];
  size_t used = 0;
  out[0] = '\0';
  for (uint32_t i = 0; i < table->fieldCount; ++i) {
    const FieldDef& f = table->fields[i];
    layerio::ValueFormatDecimals(&f.value, value, layerio::kRowTextSize, f.decimals, 0);
    const char* text = value;
    size_t length = std::strlen(value);
    if (length + used + 1 >= kRowTextLimit) {
      out[0] = '\0';
      return false;
    }
    if (!IsNumericType(f.value.kind) && !layerio::RawTextFlag()) {
      layerio::StrQuote(quoted, value, kQuote, sizeof quoted);
      text = quoted;
      length = std::strlen(quoted);
      // The limit holds for the value as it stands, quotes included: the
      // text is never cut short inside a value.
      if (length + used + 1 >= kRowTextLimit) {
        out[0] = '\0';
        return false;
      }
    }
    std::memcpy(out + used, text, length);
    used += length;
    if (i + 1 < table->fieldCount) out[used++] = '\t';
    out[used] = '\0';
  }
  return true;
}

// The row text's pieces into the fields: unquoted, then parsed by type,
// width and decimals. Fields past the last piece, or all without a text,
// are blanked; pieces past the last field are ignored. A number piece that
// its field's type cannot hold (not a number, not whole or beyond the range
// of an integer field) refuses the row: false, with the field and the piece
// pushed, since the parser would store 0 in its place.
bool ParseRow(TableObject* table, const char* rowText) {
  std::vector<char> copy;
  char* next = nullptr;
  if (rowText) {
    copy.assign(rowText, rowText + std::strlen(rowText) + 1);
    next = copy.data();
  }
  for (uint32_t i = 0; i < table->fieldCount; ++i) {
    FieldDef& f = table->fields[i];
    if (!next) {
      layerio::ColumnValuesBlank(&f, 1);
      continue;
    }
    char* piece = next;
    char* tab = std::strchr(piece, '\t');
    if (tab) *tab = '\0';
    next = tab ? tab + 1 : nullptr;
    if (piece[0] == kQuote[0]) layerio::StrUnquote(piece, piece, kQuote, std::strlen(piece) + 1);
    if (!layerio::ValueNumberTextFits(piece, f.value.kind, 0)) {
      layerio::ColumnValueRefused(f, piece);
      return false;
    }
    layerio::ValueParseField(piece, f.value.kind, f.width, f.decimals, 0, &f.value, 0);
  }
  return true;
}

// Copies of a row's values, made before they are overwritten so that their
// index keys can be removed or put back later.
class SavedRow {
 public:
  explicit SavedRow(const TableObject* table) {
    fields_.assign(table->fields, table->fields + table->fieldCount);
    for (FieldDef& f : fields_) {
      const Value original = f.value;
      std::memset(&f.value, 0, sizeof f.value);
      if (!layerio::ValueCopy(&f.value, &original)) ok_ = false;
    }
  }
  ~SavedRow() {
    for (FieldDef& f : fields_) layerio::ValueFree(&f.value);
  }
  SavedRow(const SavedRow&) = delete;
  SavedRow& operator=(const SavedRow&) = delete;

  bool ok() const { return ok_; }
  const FieldDef* fields() const { return fields_.data(); }
  // Gives the table's fields their saved values again.
  void Restore(TableObject* table) const {
    for (uint32_t i = 0; i < table->fieldCount; ++i)
      layerio::ValueAssign(&table->fields[i].value, &fields_[i].value, 0);
  }

 private:
  std::vector<FieldDef> fields_;
  bool ok_ = true;
};

// The object store of a table whose map part is a map file, or null with
// 1920 pushed.
ObjStore* MapFileStore(TableObject* table) {
  ObjStore* store = table->store;
  if (store && store->kind == layerio::kObjStoreMapFile) return store;
  Push(kErrNoMapFile);
  return nullptr;
}

const layerio::CoordSys* CallerSystem(const Slot& slot) {
  return slot.callerCoordSysDiffers ? &slot.callerCoordSys : nullptr;
}

// The row's object into a public record (all zero when the row has none).
// false when no cursor can be had, the read fails or the object cannot be
// carried by the record.
bool FetchObject(Slot& slot, uint32_t row, PXObject* out) {
  std::memset(out, 0, sizeof *out);
  TableObject* table = slot.table;
  ObjStore* store = table->store;
  if (!store) return true;
  layerio::ObjStoreCursor own;
  layerio::ObjStoreCursor* cursor = nullptr;
  if (slot.persistentCursor && slot.cursor) {
    cursor = static_cast<layerio::ObjStoreCursor*>(slot.cursor);
  } else {
    if (!layerio::ObjStoreCursorOpen(&own, store)) return false;
    cursor = &own;
  }
  GeomObject object;
  layerio::GeomObjectInit(&object, layerio::kGeomNone);
  const uint16_t before = layerio::ErrorCount();
  bool ok = true;
  if (layerio::ObjStoreReadObject(cursor, store, int32_t(row), 1, &object, nullptr)) {
    if (object.kind != layerio::kGeomNone) {
      const layerio::CoordSys* tableCs = layerio::ObjStoreCoordSys(store);
      ok = layerio::ObjectToPublic(&object, out, tableCs, CallerSystem(slot)) != 0;
      if (!ok) std::memset(out, 0, sizeof *out);
      if (ok && slot.echoFile) {
        const layerio::ObjWriteTransform transform{tableCs, 0, 0};
        layerio::ObjWriteByKind(slot.echoFile, &object, &transform, nullptr, 0);
      }
    }
  } else {
    // No object for the row, or a read that failed.
    ok = layerio::ErrorCount() == before;
  }
  layerio::GeomObjectFree(&object);
  if (cursor == &own) layerio::ObjStoreCursorClose(&own, store);
  return ok;
}

// Raises the table's versions to what the object needs and writes the
// definition again when they rose.
bool VersionsFor(TableObject* table, const GeomObject* object) {
  const layerio::TableVersions in{table->version, table->readEntireVersion, table->editVersion};
  layerio::TableVersions out{};
  if (!layerio::TableVersionsForObject(&in, &out, object, table)) return true;
  table->version = out.table;
  table->readEntireVersion = out.readEntire;
  table->editVersion = out.edit;
  if (layerio::TableDefWrite(table)) return true;
  Push(kErrObjectStore);
  return false;
}

// A record of type 0 or "none" (200) stands for no object.
bool RecordIsNone(const PXObject* record) {
  const uint8_t type = record->u.bytes[PX_OBJECT_TYPE];
  return type == kTypeNoObject || type == PX_OBJECT_NONE;
}

// The caller's record as the store's object; 644 when it cannot be
// converted.
bool ConvertRecord(const Slot& slot, const ObjStore* store, const PXObject* record,
                   GeomObject* object) {
  if (layerio::ObjectFromPublic(record, object, CallerSystem(slot),
                                layerio::ObjStoreCoordSys(store)))
    return true;
  Push(kErrObjectRecord);
  return false;
}

enum class ObjectStep { kInsert, kReplace, kDelete };

// Stores a converted object as the row's (or removes the row's object); 428
// after whatever the store reported.
bool StoreObject(TableObject* table, ObjStore* store, uint32_t row, GeomObject* object,
                 ObjectStep step) {
  if (step != ObjectStep::kDelete && !VersionsFor(table, object)) return false;
  layerio::ObjStoreIndexCursor cursor{};
  bool ok = layerio::ObjStoreIndexCursorOpen(&cursor, store) != 0;
  if (ok) {
    switch (step) {
      case ObjectStep::kInsert:
        ok = layerio::ObjStoreInsertObject(&cursor, store, object, int32_t(row), 0) != 0;
        break;
      case ObjectStep::kReplace:
        ok = layerio::ObjStoreUpdateObject(&cursor, store, object, int32_t(row), 0) != 0;
        break;
      case ObjectStep::kDelete:
        ok = layerio::ObjStoreDeleteObject(&cursor, store, int32_t(row)) != 0;
        break;
    }
  }
  layerio::ObjStoreIndexCursorClose(&cursor, store);
  if (!ok) Push(kErrObjectStore);
  return ok;
}

// A map object that frees itself.
struct ScopedObject {
  ScopedObject() { layerio::GeomObjectInit(&object, layerio::kGeomNone); }
  ~ScopedObject() { layerio::GeomObjectFree(&object); }
  ScopedObject(const ScopedObject&) = delete;
  ScopedObject& operator=(const ScopedObject&) = delete;
  GeomObject object;
};

// The table's row count after an append reaches the object store, whose
// .ID file must cover every row when the backing is closed.
void NoteAppend(TableObject* table) {
  table->rowCount = table->source.rowCount;
  if (ObjStore* store = table->store) {
    const int32_t last = int32_t(table->source.rowCount);
    if (store->table) store->table->lastRow = last;
    store->ids.lastRow = last;
  }
}

// Sets a read row's values from a row text and writes it back, with its
// keys moved from the old values to the new ones. Whatever fails, the row,
// its keys and the fields keep the old values.
bool RewriteValues(TableObject* table, uint32_t row, const char* rowText) {
  const bool indexed = layerio::TableHasIndexes(table) != 0;
  SavedRow old(table);
  if (!old.ok()) return false;
  if (!ParseRow(table, rowText)) {
    old.Restore(table);
    return false;
  }
  layerio::TableNoteChange(table);
  if (indexed) {
    // The old keys go before the new ones come in, so that a unique index
    // compares the new values with the other rows only. A key already
    // missing is no reason to stop.
    layerio::TableIndexesDeleteRow(table, old.fields(), row);
    if (!layerio::TableIndexesInsertRow(table, table->fields, row)) {
      layerio::TableIndexesInsertRow(table, old.fields(), row);
      old.Restore(table);
      return false;
    }
  }
  if (layerio::DataSourceUpdate(&table->source, table->fields, row)) return true;
  if (indexed) {
    layerio::TableIndexesDeleteRow(table, table->fields, row);
    layerio::TableIndexesInsertRow(table, old.fields(), row);
  }
  old.Restore(table);
  return false;
}

void ClearSearchMarks(Slot& slot) { std::memset(slot.indexSearch, 0, sizeof slot.indexSearch); }

bool NullOutput(const void* out) {
  if (out) return false;
  Push(layerio::kErrBadHandle);
  return true;
}

}  // namespace

// 113: either output may be null.
LAYERIO_API uint16_t PXFetchRow(PXTableHandle table, uint32_t row, char* rowText,
                                PXObject* object) {
  return TableCall(table, kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    if (rowText) rowText[0] = '\0';
    if (object) std::memset(object, 0, sizeof *object);
    TableObject* t = slot.table;
    if (!ReadRow(t, row)) return kFail;
    if (rowText && !FormatRow(t, rowText)) return kFail;
    if (object && !FetchObject(slot, row, object)) return kFail;
    return 1;
  });
}

// 115: one record per field; the spare byte is the caller's.
LAYERIO_API uint16_t PXGetFieldInfo(PXTableHandle table, PXFieldInfo* fields) {
  return TableCall(table, kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    const TableObject* t = slot.table;
    if (t->fieldCount == 0) return 1;
    if (NullOutput(fields)) return kFail;
    for (uint32_t i = 0; i < t->fieldCount; ++i) {
      const FieldDef& f = t->fields[i];
      PXFieldInfo& out = fields[i];
      std::memset(out.name, 0, sizeof out.name);
      std::memcpy(out.name, f.name, strnlen(f.name, sizeof out.name - 1));
      out.type = f.value.kind;
      out.width = f.width;
      out.decimals = f.decimals;
      out.indexed = f.index ? 1 : 0;
    }
    return 1;
  });
}

// 125
LAYERIO_API uint16_t PXGetFieldCount(PXTableHandle table, uint32_t* fields) {
  return TableCall(table, kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    if (NullOutput(fields)) return kFail;
    *fields = slot.table->fieldCount;
    return 1;
  });
}

// 127
LAYERIO_API uint16_t PXGetRowCount(PXTableHandle table, uint32_t* rows) {
  return TableCall(table, kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    if (NullOutput(rows)) return kFail;
    *rows = layerio::TableRowCount(slot.table);
    return 1;
  });
}

// 134: the new row's number, also when only its keys or its object could
// not be stored (the row stays); 0 when no row was added. A record of type
// 200 gives the row no object, as type 0 does.
LAYERIO_API uint16_t PXInsertRow(PXTableHandle table, const char* rowText,
                                 const PXObject* object, uint32_t* row) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    if (row) *row = 0;
    ClearSearchMarks(slot);
    TableObject* t = slot.table;
    // The record is checked and converted before the row is added, so that a
    // record that cannot be stored adds no row.
    const bool withObject = object && !RecordIsNone(object);
    ObjStore* store = nullptr;
    ScopedObject converted;
    if (withObject) {
      if (!(store = MapFileStore(t))) return kFail;
      if (!ConvertRecord(slot, store, object, &converted.object)) return kFail;
    }
    if (!ParseRow(t, rowText)) return kFail;
    uint32_t added = 0;
    if (!layerio::DataSourceInsert(&t->source, t->fields, &added)) return kFail;
    layerio::TableNoteChange(t);
    NoteAppend(t);
    if (row) *row = added;
    bool ok = layerio::TableIndexesInsertRow(t, t->fields, added) != 0;
    if (withObject &&
        !StoreObject(t, store, added, &converted.object, ObjectStep::kInsert))
      ok = false;
    return ok ? 1 : kFail;
  });
}

// 143: without a row text the values stay; without a record the object
// stays. A record of type 0 or 200 removes the row's object.
LAYERIO_API uint16_t PXUpdateRow(PXTableHandle table, uint32_t row, const char* rowText,
                                 const PXObject* object) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    ClearSearchMarks(slot);
    TableObject* t = slot.table;
    ObjStore* store = nullptr;
    ScopedObject converted;
    const bool removeObject = object && RecordIsNone(object);
    if (object) {
      if (!(store = MapFileStore(t))) return kFail;
      if (!removeObject && !ConvertRecord(slot, store, object, &converted.object)) return kFail;
    }
    if (!ReadRow(t, row)) return kFail;
    if (rowText && !RewriteValues(t, row, rowText)) return kFail;
    if (object) {
      layerio::TableNoteChange(t);
      const ObjectStep step = removeObject ? ObjectStep::kDelete : ObjectStep::kReplace;
      if (!StoreObject(t, store, row, &converted.object, step)) return kFail;
    }
    return 1;
  });
}
