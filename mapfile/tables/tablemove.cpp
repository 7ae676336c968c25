// Moving an open table's row position and reading the row from its parts.
#include <cstring>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/dbf.h"
#include "mapfile/tables/fieldindex.h"
#include "platform/endian.h"

namespace layerio {

namespace {

constexpr int16_t kErrBadField = 644;  // a link naming a field the part lacks

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
    rows[i] = QLoadU32LE(p);
  }
  return true;
}

// A view whose parts are chained through field indexes: the last part is
// read at the position; each earlier part, from the last but one to the
// first, takes the first row whose indexed field equals the linking field of
// the part after it. A part without a match is blank, and so is every part
// before it: a blank part has no link value to follow (an empty text would
// otherwise find the rows whose text is empty).
bool ReadChain(TableObject* t, uint32_t position) {
  const uint32_t last = t->partCount - 1;
  TableObject* tail = t->parts[last].table;
  if (!DataSourceReadRow(&tail->source, tail->fields, position)) return false;
  bool linked = true;
  for (uint32_t i = last; i-- > 0;) {
    const ViewPart& link = t->parts[i];
    TableObject* part = link.table;
    const TableObject* next = t->parts[i + 1].table;
    uint32_t found = 0;
    if (linked) {
      if (link.linkField >= next->fieldCount) {
        ErrorPush(kErrorSeverity, kErrBadField, nullptr, nullptr);
        return false;
      }
      if (!FieldIndexFindFirst(part, link.indexField, &next->fields[link.linkField].value, &found))
        return false;
    }
    if (found) {
      if (!DataSourceReadRow(&part->source, part->fields, found)) return false;
    } else {
      BlankValues(part);
      linked = false;
    }
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
    if (!ReadChain(t, t->position)) {
      BlankAllParts(t);
      return 0;
    }
    *rowOut = t->position;  // the last part's row
    return 1;
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
