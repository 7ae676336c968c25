// Moving an open table's row position and reading the row from its parts.
#include <cstring>

#include "mapfile/tables/dbf.h"

namespace layerio {

namespace {

uint32_t PartCount(const TableObject* t) { return t->partCount > 0 ? t->partCount : 1; }

TableObject* Part(TableObject* t, uint32_t i) {
  return t->partCount > 0 ? t->parts[i].table : t;
}

// Empties the current values without giving up their text payloads.
void BlankValues(TableObject* t) {
  for (uint32_t i = 0; i < t->fieldCount; ++i) {
    Value& v = t->fields[i].value;
    if (v.kind == kFieldChar || v.kind == kFieldMemo) {
      char* p = nullptr;
      if (ValueData(&v, &p)) *p = 0;
    } else {
      v.u.d = 0;
    }
  }
}

void BlankAllParts(TableObject* t) {
  for (uint32_t i = 0; i < PartCount(t); ++i) {
    TableObject* part = Part(t, i);
    if (part) BlankValues(part);
  }
}

uint32_t MoveRowCount(TableObject* t) {
  if (t->partCount == 0) return t->source.rowCount;
  if (t->joinKind == kJoinTuple) return t->tupleCount;
  if (t->joinKind == kJoinChained) return t->parts[t->partCount - 1].table->source.rowCount;
  return t->parts[0].table->source.rowCount;
}

// The tuple of row numbers of `position` (one u32 per part).
bool ReadTuple(TableObject* t, uint32_t position, uint32_t* rows) {
  FileHandle h = FileOpen(t->tupleFile, kFileModeRead, nullptr);
  if (h < 0) return false;
  int64_t offset = int64_t(position - 1) * t->partCount * 4;
  int32_t bytes = int32_t(t->partCount * 4);
  uint8_t buffer[4 * 64];
  bool ok = t->partCount <= 64 && FileSeek(h, offset, 0) == offset &&
            FileRead(h, buffer, bytes) == bytes;
  FileClose(h);
  if (!ok) return false;
  for (uint32_t i = 0; i < t->partCount; ++i) {
    const uint8_t* p = buffer + 4 * i;
    rows[i] = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
              (uint32_t(p[3]) << 24);
  }
  return true;
}

}  // namespace

int16_t TableMoveTo(TableObject* t, int move, uint32_t row, uint32_t* rowOut, int* atEnd) {
  *atEnd = 0;
  uint32_t count = MoveRowCount(t);
  int64_t position;
  switch (move) {
    case kMoveNext:
      position = int64_t(t->position) + 1;
      break;
    case kMovePrevious:
      position = int64_t(t->position) - 1;
      break;
    case kMoveBeforeFirst:
      position = 0;
      break;
    case kMoveAfterLast:
      position = int64_t(count) + 1;
      break;
    default:
      position = row;
  }
  if (position < 1) {
    t->position = 0;
    *atEnd = 1;
    if (move != kMoveBeforeFirst) BlankAllParts(t);
    return 0;
  }
  if (position > count && Part(t, 0)->source.kind != kDataRowBuffer) {
    t->position = count + 1;
    *atEnd = 1;
    if (move != kMoveAfterLast) BlankAllParts(t);
    return 0;
  }
  t->position = uint32_t(position);

  if (t->partCount > 0 && t->joinKind == kJoinChained) {
    // Chained parts are found through the field indexes, which this library
    // does not build yet: the move fails rather than give a partial row.
    BlankAllParts(t);
    ErrorPush(kErrorSeverity, kErrDriverNotBuilt, "field index", nullptr);
    return 0;
  }

  uint32_t tuple[64];
  bool isTuple = t->partCount > 0 && t->joinKind == kJoinTuple;
  if (isTuple && !ReadTuple(t, t->position, tuple)) {
    BlankAllParts(t);
    return 0;
  }
  for (uint32_t i = 0; i < PartCount(t); ++i) {
    TableObject* part = Part(t, i);
    uint32_t partRow = isTuple ? tuple[i] : t->position;
    if (!DataSourceReadRow(&part->source, part->fields, partRow)) {
      BlankAllParts(t);
      if (!isTuple && Part(t, 0)->source.kind == kDataRemote && move == kMoveTo) *atEnd = 1;
      return 0;
    }
  }
  if (isTuple) {
    int32_t reporting = t->reportingPart;
    if (reporting < 0 || uint32_t(reporting) >= t->partCount) {
      reporting = int32_t(t->partCount) - 1;
    }
    *rowOut = tuple[reporting];
  } else {
    *rowOut = t->position;
  }
  return 1;
}

}  // namespace layerio
