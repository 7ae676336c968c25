// The exported field-index entries: creating and dropping a column's index,
// listing the indexed columns and searching an index by a key text.
//
// PXFindIndexed keeps its place in the field's index cursor: after a mode-1
// search the cursor stands on the first match, or after the last entry when
// nothing matched, and each mode-2 call moves on while the key stays equal.
// So a mode-2 call needs no copy of the sought key, and one after the last
// match keeps answering "not found". The handle's bits record which fields
// a search was started on (cleared by inserts and updates, which move rows
// under the cursors).
#include <cstdio>
#include <cstring>

#include "mapfile/tables/fieldindex.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/tabdef.h"

using layerio::FieldDef;
using layerio::FieldIndex;
using layerio::IndexFile;
using layerio::kErrBadHandle;
using layerio::kNeedNative;
using layerio::kNeedWrite;
using layerio::TableCall;
using layerio::TableObject;
using Slot = layerio::HandleSlot;

namespace {

constexpr uint16_t kFail = 0;
constexpr uint16_t kFound = 1;
constexpr uint16_t kNotFound = 2;
constexpr uint16_t kNotStarted = 3;
constexpr uint32_t kFindFirst = 1;
constexpr uint32_t kFindNext = 2;
constexpr uint32_t kSearchBits = layerio::kIndexSearchBytes * 8;

void Push(int16_t code) { layerio::ErrorPush(layerio::kErrorSeverity, code, nullptr, nullptr); }

// The field of a 1-based field number, null (644 pushed) when out of range.
FieldDef* FieldOf(Slot& slot, uint32_t field) {
  TableObject* table = slot.table;
  if (!table || field < 1 || field > table->fieldCount) {
    Push(kErrBadHandle);
    return nullptr;
  }
  return &table->fields[field - 1];
}

// Fields past the handle's bits have no mark: a search on them counts as
// started.
bool SearchStarted(const Slot& slot, uint32_t field) {
  uint32_t bit = field - 1;
  if (bit >= kSearchBits) return true;
  return (slot.indexSearch[bit / 8] >> (bit % 8)) & 1;
}

void MarkSearchStarted(Slot& slot, uint32_t field) {
  uint32_t bit = field - 1;
  if (bit < kSearchBits) slot.indexSearch[bit / 8] |= uint8_t(1u << (bit % 8));
}

// Makes the key of a key text in the field's index key buffer.
bool MakeKey(IndexFile* file, const FieldDef& f, const char* text) {
  FieldIndex* index = f.index;
  size_t size = std::strlen(text) + 1;
  auto* unquoted = static_cast<char*>(layerio::MemAlloc(size));
  if (!unquoted) {
    Push(layerio::kErrNoMemory);
    return false;
  }
  layerio::StrUnquote(unquoted, text, nullptr, size);
  layerio::Value value{};
  bool ok = layerio::ValueParseField(unquoted, f.value.kind, int(std::strlen(unquoted)),
                                     f.decimals, 1, &value, 0) != 0;
  ok = ok && layerio::IndexKeyMake(&value, &index->key, f.decimals, file->stamp);
  layerio::ValueFree(&value);
  layerio::MemFree(unquoted);
  return ok;
}

uint16_t FindFirst(IndexFile* file, FieldIndex* index, uint32_t* row) {
  uint8_t sought[layerio::kIndexMaxKey];
  const size_t length = index->key.length;
  std::memcpy(sought, index->key.bytes, length);
  if (layerio::IndexMoveCursor(file, index, layerio::kIndexSeek, nullptr) && index->key.row &&
      std::memcmp(sought, index->key.bytes, length) == 0) {
    *row = index->key.row;
    return kFound;
  }
  layerio::IndexMoveCursor(file, index, layerio::kIndexAfterLast, nullptr);
  index->key.row = 0;
  return kNotFound;
}

uint16_t FindNext(IndexFile* file, FieldIndex* index, uint32_t* row) {
  if (index->key.row == 0) return kNotFound;
  uint8_t current[layerio::kIndexMaxKey];
  const size_t length = index->key.length;
  std::memcpy(current, index->key.bytes, length);
  if (layerio::IndexMoveCursor(file, index, layerio::kIndexNext, nullptr) && index->key.row &&
      std::memcmp(current, index->key.bytes, length) == 0) {
    *row = index->key.row;
    return kFound;
  }
  layerio::IndexMoveCursor(file, index, layerio::kIndexAfterLast, nullptr);
  index->key.row = 0;
  return kNotFound;
}

// Rewrites the definition of a table that has one.
bool DefinitionRewrite(TableObject* table) {
  return table->defFile <= 0 || table->source.kind == layerio::kDataRemote ||
         layerio::TableDefWrite(table);
}

}  // namespace

// 104: 1 when the field has an index afterwards.
LAYERIO_API uint16_t PXCreateIndex(PXTableHandle table, uint32_t field) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    FieldDef* f = FieldOf(slot, field);
    if (!f) return kFail;
    TableObject* t = slot.table;
    const bool hadFile = t->indexes != nullptr;
    if (!layerio::FieldIndexCreate(t, field - 1, 0, nullptr, nullptr)) return kFail;
    // A new file stays open in the handle's mode, as one opened with the
    // table would.
    if (!hadFile && t->indexes) {
      int mode = slot.mode == layerio::kModeReadWrite ? layerio::kFileModeWrite
                                                      : layerio::kFileModeRead;
      layerio::IndexFileReopen(t->indexes, mode);
    }
    return f->index ? 1 : kFail;
  });
}

// 108
LAYERIO_API uint16_t PXDropIndex(PXTableHandle table, uint32_t field) {
  return TableCall(table, kNeedWrite | kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    std::memset(slot.indexSearch, 0, sizeof slot.indexSearch);
    FieldDef* f = FieldOf(slot, field);
    if (!f) return kFail;
    if (!f->index) return 1;
    if (!layerio::FieldIndexDrop(slot.table, field - 1)) return kFail;
    return DefinitionRewrite(slot.table) ? 1 : kFail;
  });
}

// 122: "name<TAB>number" per indexed field, joined by TABs.
LAYERIO_API uint16_t PXGetIndexList(PXTableHandle table, char* text) {
  return TableCall(table, kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    if (!text) {
      Push(kErrBadHandle);
      return kFail;
    }
    text[0] = '\0';
    char* end = text;
    TableObject* t = slot.table;
    for (uint32_t i = 0; i < t->fieldCount; ++i) {
      const FieldDef& f = t->fields[i];
      if (!f.index) continue;
      if (end != text) *end++ = '\t';
      end += std::sprintf(end, "%s%c%d", f.name, '\t', int(f.index->number));
    }
    return 1;
  });
}

// 131
LAYERIO_API uint32_t PXGetFieldIndexId(PXTableHandle table, uint32_t field) {
  return TableCall(table, kNeedNative, uint32_t{0}, [&](Slot& slot) -> uint32_t {
    TableObject* t = slot.table;
    if (!t || field < 1 || field > t->fieldCount) return 0;
    const FieldIndex* index = t->fields[field - 1].index;
    return index ? index->number : 0;
  });
}

// 132: 1 found, 2 not found, 3 mode 2 before a mode-1 search of the field.
LAYERIO_API uint16_t PXFindIndexed(PXTableHandle table, uint32_t field, const char* key,
                                   uint32_t how, uint32_t* row) {
  return TableCall(table, kNeedNative, kFail, [&](Slot& slot) -> uint16_t {
    if (row) *row = 0;
    FieldDef* f = FieldOf(slot, field);
    if (!f) return kFail;
    IndexFile* file = slot.table->indexes;
    if (!f->index || !file) {
      Push(layerio::kErrIndexNone);
      return kFail;
    }
    if ((how != kFindFirst && how != kFindNext) || !row || (how == kFindFirst && !key)) {
      Push(kErrBadHandle);
      return kFail;
    }
    if (how == kFindNext && !SearchStarted(slot, field)) return kNotStarted;
    if (!layerio::IndexFileAcquire(file, layerio::kFileModeRead)) return kFail;
    uint16_t result = kFail;
    if (how == kFindFirst) {
      MarkSearchStarted(slot, field);
      if (MakeKey(file, *f, key)) result = FindFirst(file, f->index, row);
    } else {
      result = FindNext(file, f->index, row);
    }
    layerio::IndexFileRelease(file);
    return result;
  });
}
