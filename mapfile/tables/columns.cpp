// Column names, type texts, view column slots, reopening a view's files,
// the lists of open tables and the rules by which a table's version numbers
// rise with the features it uses.
#include <cstdio>
#include <cstring>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/geometry.h"
#include "mapfile/tables/table.h"

namespace layerio {

namespace {

constexpr int kUniqueCut = 25;

// 0 valid, else the code the name is refused with.
int16_t NameFault(const char* name) {
  if (ParseMode() != 1 && !IdentIsValid(name)) return kErrColumnNameInvalid;
  if (StrEqualNoCaseN(name, "col", 3) && name[3]) {
    const char* p = name + 3;
    while (*p >= '0' && *p <= '9') ++p;
    if (!*p) return kErrColumnNameReserved;  // colN names a column by number
  }
  if (StrEqualNoCase(name, "Object") || StrEqualNoCase(name, "Obj") ||
      StrEqualNoCase(name, "RowID"))
    return kErrColumnNameReserved;
  return 0;
}

bool InList(const ColumnNameList* list, const char* name) {
  for (int32_t i = 0; i < list->count; ++i)
    if (StrEqualNoCase(list->names[i], name)) return true;
  return false;
}

}  // namespace

int16_t ColumnNameCheck(const char* name) {
  int16_t fault = NameFault(name);
  if (!fault) return 1;
  ErrorPush(kErrorSeverity, fault, name, nullptr);
  return 0;
}

void ColumnNameListFree(ColumnNameList* list) {
  MemFree(list->names);
  list->names = nullptr;
  list->count = list->capacity = 0;
}

int16_t ColumnNameUnique(char* name, ColumnNameList* list) {
  name[kMaxColumnName] = '\0';
  if (NameFault(name)) {
    if (IdentIsValid(name)) {
      char prefixed[32];
      prefixed[0] = '_';
      StrCopyPadded(prefixed + 1, name, sizeof prefixed - 1);
      std::memcpy(name, prefixed, sizeof prefixed);
    } else {
      IdentMakeValid(name);
    }
    name[kMaxColumnName] = '\0';
  }
  if (!list) return 1;
  if (InList(list, name)) {
    char base[kUniqueCut + 1];
    StrCopyPadded(base, name, sizeof base);
    char candidate[48];
    for (unsigned n = 2;; ++n) {
      std::snprintf(candidate, sizeof candidate, "%s_%u", base, n);
      if (!InList(list, candidate)) break;
    }
    StrCopyPadded(name, candidate, kMaxColumnName + 1);
  }
  if (list->count == list->capacity) {
    int32_t grown = list->capacity ? list->capacity * 2 : 16;
    void* block = MemRealloc(list->names, sizeof(list->names[0]) * size_t(grown));
    if (!block) {
      ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
      return 0;
    }
    list->names = static_cast<char(*)[32]>(block);
    list->capacity = grown;
  }
  StrCopyPadded(list->names[list->count++], name, 32);
  return 1;
}

int16_t ColumnNamesMakeUnique(FieldDef* columns, int32_t count) {
  ColumnNameList list{};
  int16_t ok = 1;
  for (int32_t i = 0; i < count && ok; ++i) ok = ColumnNameUnique(columns[i].name, &list);
  ColumnNameListFree(&list);
  return ok;
}

int16_t ColumnTypeText(uint8_t type, int width, int decimals, char* text, size_t size) {
  if (!text || size == 0) return 0;
  text[0] = '\0';
  if (type < kFieldChar || type > kFieldMemo || type == kFieldChar25) return 0;
  const char* word = MsgGetText(6300 + type);
  int n;
  if (type == kFieldChar)
    n = std::snprintf(text, size, "%s (%d)", word, width);
  else if (type == kFieldDecimal)
    n = std::snprintf(text, size, "%s (%d, %d)", word, width, decimals);
  else
    n = std::snprintf(text, size, "%s", word);
  return n >= 0 && size_t(n) < size ? 1 : 0;
}

uint16_t ColumnDisplayWidth(uint8_t kind, int width) {
  switch (kind) {
    case kValueText:
    case kValueBorrowedText:
    case kValueIdentifier:
    case kValueBorrowedIdentifier:
    case kFieldDecimal:
      return uint16_t(width);
    case kFieldInteger:
    case kFieldFloat:
      return 11;
    case kFieldSmallint:
      return 6;
    case kFieldDate:
      return 10;
    case kFieldLogical:
      return 1;
    default:
      return 0;  // Memo and kinds without a display
  }
}

// ===== View column slots =====================================================

namespace {

constexpr uint8_t kOpConstant = 241;
constexpr uint8_t kClassColumn = 26;
// {241, 26, u16 offset}, the end opcode, then the field number and a spare.
constexpr size_t kRefCodeSize = 4 + 1 + 5;

}  // namespace

int16_t ColumnSlotInit(ColumnSlot* slot, TableObject* view, TableObject* table,
                       const FieldDef* column, uint32_t field) {
  std::memset(slot, 0, sizeof *slot);
  StrCopyPadded(slot->name, column->name, sizeof slot->name);
  slot->kind = column->value.kind;
  slot->decimals = column->decimals;
  slot->displayWidth = ColumnDisplayWidth(column->value.kind, column->width);
  slot->editable = !(view && view->readOnly) && !column->readOnly;
  slot->table = table;
  auto* code = static_cast<uint8_t*>(MemAlloc(kRefCodeSize));
  if (!code) {
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  std::memset(code, 0, kRefCodeSize);
  code[0] = kOpConstant;
  code[1] = kClassColumn;
  code[2] = 5;  // the constant follows the end opcode
  code[3] = 0;
  code[4] = 0;
  for (int i = 0; i < 4; ++i) code[5 + i] = uint8_t(field >> (8 * i));
  slot->expr = code;
  return 1;
}

void ColumnSlotFree(ColumnSlot* slot) {
  MemFreePtr(&slot->expr);
  slot->table = nullptr;
}

int16_t TableExprEval(const ColumnSlot* slot, Value* out) {
  std::memset(out, 0, sizeof *out);
  uint32_t field = 0;
  if (slot->expr && ExprIsColumnRef(slot->expr, &field, nullptr) &&
      slot->expr[1] == kClassColumn) {
    const TableObject* table = slot->table;
    if (!table || field >= table->fieldCount || !table->fields) return 0;
    return ValueCopy(out, &table->fields[field].value);
  }
  return ExprEvaluate(slot->expr, out);
}

void ColumnSetFree(ColumnSet** set) {
  if (!*set) return;
  for (uint32_t i = 0; i < (*set)->count; ++i) ColumnSlotFree(&(*set)->slots[i]);
  MemFree((*set)->slots);
  MemFree((*set)->buffer);
  MemFree(*set);
  *set = nullptr;
}

// ===== Reopening a view's files ==============================================

namespace {

bool gReopening = false;

uint32_t PartCount(const TableObject* view) { return view->partCount ? view->partCount : 1; }

TableObject* PartTable(TableObject* view, uint32_t i) {
  return view->partCount ? view->parts[i].table : view;
}

uint32_t& PartOpens(TableObject* view, uint32_t i) {
  return view->partCount ? view->parts[i].opens : view->partOpens;
}

int16_t IndexFileOpen(TableObject* table) {
  if (table->indexOpen) return table->indexOpen(table, kFileModeRead);
  if (table->indexFile) return FileOpen(table->indexFile, kFileModeRead, nullptr) > 0 ? 1 : 0;
  return 1;
}

void IndexFileClose(TableObject* table) {
  if (table->indexClose)
    table->indexClose(table);
  else if (table->indexFile)
    FileClose(table->indexFile);
}

// What the first open of a view acquires: the tuple file of a tuple join,
// the index files of every linked pair of a chained join.
int16_t ViewAcquire(TableObject* view) {
  if (view->joinKind == kJoinTuple) return view->tupleOpen ? view->tupleOpen(view) : 1;
  if (view->joinKind != kJoinChained) return 1;
  for (uint32_t i = 0; i < view->partCount; ++i) {
    if (!IndexFileOpen(view->parts[i].table)) {
      while (i-- > 0) IndexFileClose(view->parts[i].table);
      return 0;
    }
  }
  return 1;
}

void ViewDrop(TableObject* view) {
  if (view->joinKind == kJoinTuple) {
    if (view->tupleClose) view->tupleClose(view);
  } else if (view->joinKind == kJoinChained) {
    for (uint32_t i = view->partCount; i-- > 0;) IndexFileClose(view->parts[i].table);
  }
}

void PartDrop(TableObject* view, uint32_t i) {
  uint32_t& opens = PartOpens(view, i);
  if (opens == 0) return;
  if (--opens == 0) {
    TableObject* table = PartTable(view, i);
    DataSourceRelease(&table->source);
    IndexFileClose(table);
  }
}

void PushReopenFailure(const TableObject* view) {
  if (ErrorCount() != 0) return;
  ErrorPush(kErrorSeverity, kErrViewReopen, view->name[0] ? view->name : "Selection", nullptr);
}

}  // namespace

int16_t TableFilesReopen(TableObject* view, int write) {
  if (gReopening) return 0;
  if (view->failed) {
    ErrorPush(kErrorSeverity, kErrViewReopen, view->name[0] ? view->name : "Selection", nullptr);
    return 0;
  }
  gReopening = true;
  const bool first = view->viewOpenCount == 0;
  if (first && !ViewAcquire(view)) {
    PushReopenFailure(view);
    gReopening = false;
    return 0;
  }
  ++view->viewOpenCount;
  const uint32_t parts = PartCount(view);
  uint32_t done = 0;
  bool ok = true;
  for (; done < parts; ++done) {
    TableObject* table = PartTable(view, done);
    uint32_t& opens = PartOpens(view, done);
    if (opens == 0) {
      int mode = table->openForWrite || write ? kFileModeWrite : kFileModeRead;
      if (!DataSourceOpen(&table->source, mode)) {
        ok = false;
        break;
      }
      if (!IndexFileOpen(table)) {
        DataSourceRelease(&table->source);
        ok = false;
        break;
      }
    }
    ++opens;
  }
  if (!ok) {
    PushReopenFailure(view);
    while (done-- > 0) PartDrop(view, done);
    --view->viewOpenCount;
    if (first) ViewDrop(view);
  }
  gReopening = false;
  return ok ? 1 : 0;
}

void TableLinksRelease(TableObject* view) {
  if (view->viewOpenCount == 0) return;
  for (uint32_t i = PartCount(view); i-- > 0;) PartDrop(view, i);
  if (--view->viewOpenCount == 0) ViewDrop(view);
}

// ===== Open tables by name ===================================================

namespace {
TableObject* gOpenTables[2] = {nullptr, nullptr};

int16_t FindIn(const char* name, TableObject** out, int* list, bool hiddenToo) {
  for (int which = 0; which < 2; ++which) {
    for (TableObject* t = gOpenTables[which]; t; t = t->next) {
      if ((hiddenToo || !t->hidden) && StrEqualNoCase(t->name, name)) {
        if (out) *out = t;
        if (list) *list = which;
        return 1;
      }
    }
  }
  if (out) *out = nullptr;
  return 0;
}
}  // namespace

TableObject** TableListHead(int which) {
  return which == 0 || which == 1 ? &gOpenTables[which] : nullptr;
}

void TableListAdd(int which, TableObject* table) {
  TableObject** head = TableListHead(which);
  if (!head) return;
  TableObject** at = head;
  while (*at) at = &(*at)->next;
  table->next = nullptr;
  *at = table;
}

int16_t TableListRemove(int which, TableObject* table) {
  TableObject** head = TableListHead(which);
  if (!head) return 0;
  for (TableObject** at = head; *at; at = &(*at)->next) {
    if (*at == table) {
      *at = table->next;
      table->next = nullptr;
      return 1;
    }
  }
  return 0;
}

int16_t TableFindByName(const char* name, TableObject** out, int* list) {
  return FindIn(name, out, list, false);
}

int16_t TableFindByNameAll(const char* name, TableObject** out, int* list) {
  return FindIn(name, out, list, true);
}

uint32_t TableRowCount(const TableObject* view) {
  if (view->partCount == 0) return view->source.rowCount;
  switch (view->joinKind) {
    case kJoinNone:
      return view->partCount == 1 ? view->parts[0].table->source.rowCount : 0;
    case kJoinTuple:
      return view->tupleCount;
    case kJoinChained:
      return view->parts[view->partCount - 1].table->source.rowCount;
    default:
      return 0;
  }
}

int16_t TableIsShapefile(const TableObject* table) {
  return table->source.kind == kDataDbase && table->source.shapeFile ? 1 : 0;
}

// ===== Version rules =========================================================

void TableSetVersions(TableObject* table, int16_t version) {
  table->version = table->readEntireVersion = table->editVersion = version;
}

void TableVersionsRaise(TableVersions* v, int16_t table, int16_t readEntire, int16_t edit) {
  if (v->table < table) v->table = table;
  if (v->readEntire < readEntire) v->readEntire = readEntire;
  if (v->edit < edit) v->edit = edit;
}

namespace {
bool Rose(const TableVersions* in, const TableVersions* out) {
  return out->table != in->table || out->readEntire != in->readEntire || out->edit != in->edit;
}
}  // namespace

int16_t TableVersionsForFeatures(const TableVersions* in, TableVersions* out,
                                 const TableObject* table) {
  *out = *in;
  if (!table->webFeature) return 0;
  bool indexed = false;
  for (uint32_t i = 0; i < table->fieldCount && table->fields; ++i)
    if (table->fields[i].index) indexed = true;
  if (indexed) TableVersionsRaise(out, 800, 800, 800);
  return Rose(in, out) ? 1 : 0;
}

int16_t TableVersionsForProjection(const TableVersions* in, TableVersions* out, int projection) {
  *out = *in;
  int16_t need = 0;
  switch (projection) {
    case 26:
      need = 452;
      break;
    case 27:
    case 49:
      need = 550;
      break;
    case 28:
    case 50:
    case 51:
      need = 600;
      break;
    case 29:
    case 30:
      need = 650;
      break;
    case 31:
    case 52:
      need = 700;
      break;
    case 53:
      need = 800;
      break;
    default:
      break;
  }
  if (need) TableVersionsRaise(out, need, need, need);
  return Rose(in, out) ? 1 : 0;
}

int16_t TableVersionsForCoordSys(const TableVersions* in, TableVersions* out,
                                 const CoordSys* coordSys) {
  if (!coordSys) {
    *out = *in;
    return 0;
  }
  return TableVersionsForProjection(in, out, coordSys->projection);
}

int16_t TableVersionsForObject(const TableVersions* in, TableVersions* out,
                               const GeomObject* object, const TableObject* table) {
  *out = *in;
  if (!object) return 0;
  if (in->table >= 452 && in->edit >= 800) return 0;
  if (table && TableVersionsForCoordSys(in, out, table->coordSys)) return 1;
  if (object->kind == 13 || object->kind == 14) {
    TableVersionsRaise(out, 100, 300, GeomObjectIsCodeVariant2(object) ? 650 : 800);
  }
  if (!(out->table >= 800 && out->edit >= 800)) {
    uint8_t kind = object->kind;
    GeomObjectGetAttr(object, 1, &kind);
    if (GeomObjectUsesPointWidth(object)) {
      TableVersionsRaise(out, 450, 450, 450);
    } else if (kind == 11 || kind == 12) {
      TableVersionsRaise(out, 100, 300, 300);
    } else if (kind == 4 || kind == 5) {
      if (!GeomObjectIsCodeVariant1(object)) {
        TableVersionsRaise(out, 100, 300, GeomObjectIsCodeVariant2(object) ? 450 : 800);
      } else if (out->table < 300) {
        GeomBufferSizes sizes{};
        GeomObjectSizes(object, &sizes);
        uint32_t sections = 0;
        bool several = kind == 4 && GeomObjectGetAttr(object, kAttrPartCount, &sections) &&
                       sections > 1;
        bool apart = kind == 5 && !GeomPartsContiguous(object);
        if (sizes.data > 65000 || several || apart) TableVersionsRaise(out, 100, 300, 300);
      }
    }
  }
  if (Rose(in, out) && out->edit >= 300) TableVersionsRaise(out, 300, 300, 0);
  return Rose(in, out) ? 1 : 0;
}

}  // namespace layerio

namespace layerio {

uint32_t& TableChangeCounter() {
  static uint32_t counter = 0;
  return counter;
}

void TableNoteChange(TableObject* table) { table->changeStamp = ++TableChangeCounter(); }

}  // namespace layerio
