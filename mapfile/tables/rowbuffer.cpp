// Pending row buffers (data kind 11), the overlay of pending rows over a
// file-backed source, type clauses of foreign files and the defaults of
// omitted clause values.
//
// A row record owns its value slots: texts are copies, never the field's
// own buffers, so a field may be freed or reused while its row is pending.
#include <cstdio>
#include <cstring>
#include <new>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/objects/objstore.h"
#include "mapfile/tables/table.h"

namespace layerio {

namespace {

bool IsTextValue(uint8_t kind) {
  return kind == kValueText || kind == kValueMemo || kind == kValueFixedText ||
         kind == kValueIdentifier;
}

void FreeRecord(RowBufferRecord* record) {
  for (uint32_t i = 0; i < record->count; ++i) ValueFree(&record->values[i]);
  MemFree(record->values);
  MemFree(record);
}

// A slot takes the field's value; a slot of another kind takes it converted
// (a text slot the text form of any value).
int16_t SlotStore(Value* slot, const Value* field) {
  if (slot->kind == field->kind) {
    Value copy{};
    if (!ValueCopy(&copy, field)) return 0;
    ValueFree(slot);
    *slot = copy;
    return 1;
  }
  return ValueStore(slot, field, 0);
}

}  // namespace

int16_t FieldValueAssign(FieldDef* field, const Value* slot) {
  Value* v = &field->value;
  if (IsTextValue(v->kind) && IsTextValue(slot->kind)) {
    char* to = nullptr;
    char* from = nullptr;
    ValueData(slot, &from);
    if (!from) from = const_cast<char*>("");
    ValueData(v, &to);
    if (!to) {
      const uint8_t kind = v->kind;
      ValueFree(v);
      if (!ValueCopy(v, slot)) return 0;
      v->kind = kind;
      return 1;
    }
    // The field's payload holds width + 1 bytes.
    MemHandle h = v->u.p;
    size_t room = MemBlockSize(&h);
    room = room ? room - 1 : std::strlen(to);
    if (field->width > 0 && field->width < room) room = field->width;
    size_t n = std::strlen(from);
    if (n > room) n = room;
    std::memmove(to, from, n);
    to[n] = '\0';
    return 1;
  }
  return ValueAssign(v, slot, 0);
}

RowBufferList* RowBufferListOf(const DataSource* source) {
  if (!source || source->kind != kDataRowBuffer) return nullptr;
  return static_cast<RowBufferList*>(source->params.ptr[0]);
}

ObjStore* RowBufferObjects(const DataSource* source) {
  if (!source || source->kind != kDataRowBuffer) return nullptr;
  return static_cast<ObjStore*>(source->params.ptr[1]);
}

int16_t RowBufferInit(DataSource* source) {
  RowBufferFree(source);
  auto* list = static_cast<RowBufferList*>(MemAlloc(sizeof(RowBufferList)));
  auto* objects = static_cast<ObjStore*>(MemAlloc(sizeof(ObjStore)));
  if (!list || !objects) {
    MemFree(list);
    MemFree(objects);
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  // The objects of the rows: in memory, with the coordinate system of the
  // table they are laid beside (set by whoever attaches them).
  CoordSys none;
  std::memset(&none, 0, sizeof none);
  if (!ObjStoreCreate(objects, kObjStoreMemory, nullptr, -1, &none, 1, 0)) {
    MemFree(list);
    MemFree(objects);
    return 0;
  }
  ListInit(&list->rows);
  list->nextRow = 1;
  source->params.ptr[0] = list;
  source->params.ptr[1] = objects;
  return 1;
}

int16_t RowBufferInsert(DataSource* source, uint32_t row, const FieldDef* fields, int32_t count) {
  RowBufferList* list = RowBufferListOf(source);
  if (!list) return 0;
  if (count < 0) count = 0;
  auto* record = static_cast<RowBufferRecord*>(MemAlloc(sizeof(RowBufferRecord)));
  Value* values =
      count ? static_cast<Value*>(MemAlloc(sizeof(Value) * size_t(count))) : nullptr;
  if (!record || (count && !values)) {
    MemFree(record);
    MemFree(values);
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  std::memset(record, 0, sizeof *record);
  if (values) std::memset(values, 0, sizeof(Value) * size_t(count));
  record->row = row;
  record->values = values;
  record->count = uint32_t(count);
  for (int32_t i = 0; i < count; ++i) {
    values[i].kind = fields[i].value.kind;
    if (!SlotStore(&values[i], &fields[i].value)) {
      FreeRecord(record);
      return 0;
    }
  }
  if (row > list->nextRow) list->nextRow = row;
  ListInsert(&list->rows, record, 1);
  ++list->nextRow;
  return 1;
}

int16_t RowBufferFind(const RowBufferList* list, uint32_t row, RowBufferRecord** out) {
  if (out) *out = nullptr;
  if (!list) return 0;
  for (auto* r = static_cast<RowBufferRecord*>(ListFirst(&list->rows)); r; r = r->next) {
    if (r->row == row) {
      if (out) *out = r;
      return 1;
    }
  }
  return 0;
}

int16_t RowBufferAt(const RowBufferList* list, uint32_t n, RowBufferRecord** out) {
  if (out) *out = nullptr;
  if (!list || n == 0) return 0;
  auto* r = static_cast<RowBufferRecord*>(ListAt(&list->rows, int32_t(n - 1)));
  if (!r) return 0;
  if (out) *out = r;
  return 1;
}

int16_t RowBufferUpdate(DataSource* source, uint32_t row, const FieldDef* fields, int32_t count) {
  RowBufferRecord* record = nullptr;
  if (!RowBufferFind(RowBufferListOf(source), row, &record)) return 0;
  for (uint32_t i = 0; i < record->count && int32_t(i) < count; ++i)
    if (!SlotStore(&record->values[i], &fields[i].value)) return 0;
  return 1;
}

int16_t RowBufferRead(DataSource* source, uint32_t row, FieldDef* fields, int32_t count) {
  RowBufferRecord* record = nullptr;
  if (!RowBufferFind(RowBufferListOf(source), row, &record)) return 0;
  int16_t ok = 1;
  for (uint32_t i = 0; i < record->count && int32_t(i) < count; ++i)
    if (!FieldValueAssign(&fields[i], &record->values[i])) ok = 0;
  return ok;
}

int16_t RowBufferFree(DataSource* source) {
  if (ObjStore* objects = RowBufferObjects(source)) {
    ObjStoreClose(objects);
    MemFree(objects);
    source->params.ptr[1] = nullptr;
  }
  RowBufferList* list = RowBufferListOf(source);
  if (!list) return 1;
  void* element = nullptr;
  while (ListPop(&list->rows, &element, 0)) FreeRecord(static_cast<RowBufferRecord*>(element));
  MemFree(list);
  source->params.ptr[0] = nullptr;
  return 1;
}

int16_t RowBufferLookup(DataSource* overlay, uint32_t row, FieldDef* fields, int32_t count) {
  if (!RowBufferFind(RowBufferListOf(overlay), row, nullptr)) return 0;
  return RowBufferRead(overlay, row, fields, count);
}

int16_t RowOverlayAttach(DataSource* source) {
  if (source->overlay) return 1;
  auto* overlay = static_cast<RowOverlay*>(MemAlloc(sizeof(RowOverlay)));
  if (!overlay) {
    ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr);
    return 0;
  }
  std::memset(overlay, 0, sizeof *overlay);
  overlay->source.kind = kDataRowBuffer;
  overlay->source.columnCount = source->columnCount;
  DataSourceDefaults(kDataRowBuffer, overlay->source.params.words);
  if (!RowBufferInit(&overlay->source)) {
    MemFree(overlay);
    return 0;
  }
  source->overlay = overlay;
  return 1;
}

void RowOverlayFree(DataSource* source) {
  if (!source->overlay) return;
  RowBufferFree(&source->overlay->source);
  MemFree(source->overlay);
  source->overlay = nullptr;
}

// ===== Type clauses ==========================================================

namespace {

// Appends to a bounded text; false (text cut back) when it does not fit.
struct Appender {
  char* text;
  size_t size;
  size_t length;
  bool ok = true;

  void Add(const char* piece) {
    size_t n = std::strlen(piece);
    if (!ok || length + n + 1 > size) {
      ok = false;
      return;
    }
    std::memcpy(text + length, piece, n + 1);
    length += n;
  }
  void Word(const char* word) {
    Add(" ");
    Add(word);
  }
  void Quoted(const char* value) {
    // Every embedded quote doubled: at most twice the text and the quotes.
    size_t n = std::strlen(value ? value : "");
    char* quoted = static_cast<char*>(MemAlloc(2 * n + 3));
    if (!quoted) {
      ok = false;
      return;
    }
    StrQuoteDefault(quoted, value ? value : "", 2 * n + 3);
    Word(quoted);
    MemFree(quoted);
  }
};

constexpr int32_t kMsgDelimiter = 6249;
constexpr int32_t kMsgTitles = 6250;
constexpr int32_t kMsgCharset = 6251;
constexpr int32_t kMsgRange = 6252;
constexpr int32_t kMsgTypeAscii = 6600;
constexpr int32_t kMsgTypeWks = 6601;
constexpr int32_t kMsgTypeXls = 6602;
constexpr int32_t kMsgTypeDbf = 6603;
constexpr int32_t kMsgTypeNative = 6604;
constexpr int32_t kMsgTypeShape = 6613;

void TypeWord(Appender& out, int32_t id) {
  out.Word("TYPE");
  out.Word(MsgGetText(id));
}

void CharsetItem(Appender& out, const TypeClauseOptions* options) {
  out.Word(MsgGetText(kMsgCharset));
  out.Quoted(CharsetName(options->charset));
}

void SheetItems(Appender& out, const TypeClauseOptions* options) {
  if (options->titles) out.Word(MsgGetText(kMsgTitles));
  if (options->range && *options->range) {
    out.Word(MsgGetText(kMsgRange));
    out.Quoted(options->range);
  }
}

}  // namespace

int16_t TypeClauseWrite(char* text, size_t size, int fileKind, const TypeClauseOptions* options) {
  if (!text || size == 0) return 0;
  Appender out{text, size, std::strlen(text)};
  const size_t start = out.length;
  switch (fileKind) {
    case kFileKindTable:
    case kFileKindBare:
    case kFileKindNative:
      TypeWord(out, kMsgTypeNative);
      if (options) {
        CharsetItem(out, options);
        if (fileKind == kFileKindBare) out.Word("Version 100");
      }
      break;
    case kFileKindText:
    case kFileKindCsv:
      TypeWord(out, kMsgTypeAscii);
      if (options) {
        char number[8];
        std::snprintf(number, sizeof number, "%u", unsigned(uint8_t(options->delimiter)));
        out.Word(MsgGetText(kMsgDelimiter));
        out.Word(number);
        if (options->titles) out.Word(MsgGetText(kMsgTitles));
        CharsetItem(out, options);
      }
      break;
    case kFileKindDbase:
      TypeWord(out, kMsgTypeDbf);
      if (options) CharsetItem(out, options);
      break;
    case kFileKindShape:
      TypeWord(out, kMsgTypeShape);
      if (options) CharsetItem(out, options);
      break;
    case kFileKindLotus:
      TypeWord(out, kMsgTypeWks);
      if (options) SheetItems(out, options);
      break;
    case kFileKindExcel:
      TypeWord(out, kMsgTypeXls);
      if (options) SheetItems(out, options);
      break;
    case kFileKindAccess:
      out.Word("Type ACCESS");
      if (options) {
        out.Word("Database");
        out.Quoted(options->database);
        if (options->accessFormat) {
          out.Word("Version");
          out.Word(options->accessFormat == 4 ? "3.0" : "4.0");
        }
        out.Word("Table");
        out.Quoted(options->table);
        if (options->password && *options->password) {
          out.Word("Password");
          out.Quoted(options->password);
        }
      }
      break;
    default:
      out.ok = false;
      break;
  }
  if (!out.ok) {
    text[start] = '\0';
    return 0;
  }
  return 1;
}

// ===== Defaults of omitted clause values =====================================

namespace {

// The settings of the running statements, innermost last.
constexpr int kClauseDepth = 16;
struct ClauseDefaults {
  uint16_t statement[kClauseDepth][3];
  int depth;
  uint16_t processValue;  // index 1 outside statements
};
ClauseDefaults gClauseDefaults = {};

}  // namespace

uint16_t ClauseDefaultValue(int index) {
  if (index < 0 || index > 2) return 0;
  const ClauseDefaults& d = gClauseDefaults;
  if (d.depth > 0) return d.statement[(d.depth < kClauseDepth ? d.depth : kClauseDepth) - 1][index];
  if (index == 0) return 2;
  if (index == 2) return 14;
  return d.processValue;
}

void ClauseDefaultsPush(const uint16_t values[3]) {
  ClauseDefaults& d = gClauseDefaults;
  // Deeper nesting than the stack keeps the innermost settings it can hold.
  if (d.depth < kClauseDepth) std::memcpy(d.statement[d.depth], values, sizeof d.statement[0]);
  ++d.depth;
}

void ClauseDefaultsPop() {
  if (gClauseDefaults.depth > 0) --gClauseDefaults.depth;
}

void ClauseDefaultSetProcess(uint16_t value) { gClauseDefaults.processValue = value; }

}  // namespace layerio
