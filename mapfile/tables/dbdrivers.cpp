// The dBASE (kind 1) and native (kind 5) data drivers over the record layer.
//
// Columns meet fields in order: every field for the native driver, every
// field but M and P (memo and picture fields, kept as they are) for the
// dBASE driver. Field bytes are found by walking the widths, so a reading
// never trusts a column's width for the file's layout.
#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/value.h"
#include "platform/endian.h"
#include "mapfile/tables/dbf.h"

namespace layerio {

namespace {

constexpr int kMaxDriverColumns = 250;
constexpr int kWordCharset = 2;
constexpr int kWidthFlagByte = 12;  // low half of word 3

DbfFile* FileState(const DataSource* s) { return static_cast<DbfFile*>(s->params.ptr[0]); }
uint8_t* RecordBuffer(const DataSource* s) { return static_cast<uint8_t*>(s->params.ptr[1]); }
int FileCharset(const DataSource* s) { return int(s->params.words[kWordCharset]); }
bool WidthFlag(const DataSource* s) { return s->params.Half(kWidthFlagByte) != 0; }

bool IsMemoLetter(char type) { return type == 'M' || type == 'P'; }


// A field's bytes as a terminated text (width at most 254).
struct FieldText {
  char text[256];
  FieldText(const uint8_t* bytes, int width) {
    std::memcpy(text, bytes, size_t(width));
    text[width] = 0;
  }
};

char* ColumnText(FieldDef& column) {
  char* p = nullptr;
  ValueData(&column.value, &p);
  return p;
}

// The field's bytes into a Char column: converted to the library charset,
// trailing blanks and control characters dropped. The payload holds
// width + 1 bytes.
void ReadCharField(const DataSource* s, FieldDef& column, const uint8_t* bytes, int width) {
  char* p = ColumnText(column);
  if (!p) return;
  size_t capacity = size_t(column.width) + 1;
  size_t n = std::min(size_t(width), capacity - 1);
  std::memcpy(p, bytes, n);
  p[n] = 0;
  // A NUL inside the field ends the text; only the rest is converted.
  int from = FileCharset(s), to = CurrentTableCharset();
  if (from != to) CharsetConvert(p, from, to, capacity);
  StrTrimRight(p);
}

// A Char column's text in the file's charset, cut to `width` bytes: the out
// buffer holds 2 * width + 1 bytes so that a conversion that grows the text
// has room before it is cut.
size_t CharFieldText(const DataSource* s, FieldDef& column, char* out, int width) {
  const char* p = ColumnText(column);
  StrCopyPadded(out, p ? p : "", size_t(width) * 2 + 1);
  int from = CurrentTableCharset(), to = FileCharset(s);
  if (from != to) CharsetConvert(out, from, to, size_t(width) * 2 + 1);
  size_t n = std::strlen(out);
  if (n > size_t(width)) {
    // Never leave half a double-byte character at the cut.
    size_t cut = 0;
    while (cut < size_t(width)) {
      size_t step = CharsetIsLeadByte(out + cut, to) && out[cut + 1] ? 2 : 1;
      if (cut + step > size_t(width)) break;
      cut += step;
    }
    n = cut;
    out[n] = 0;
  }
  return n;
}

// Other programs write a number field that holds no value as blanks, or
// fill it with asterisks (also when the value did not fit): either way the
// field is empty, never 0.
bool EmptyNumberField(const uint8_t* bytes, int width) {
  for (int i = 0; i < width; ++i) {
    if (bytes[i] != ' ' && bytes[i] != '*') return false;
  }
  return true;
}

// The library's float that stands for no value: its text is empty.
constexpr double kNoNumber = -DBL_MAX;

bool ParseDigits(const char* text, int n, int32_t* out) {
  char copy[8];
  std::memcpy(copy, text, size_t(n));
  copy[n] = 0;
  return NumParseLong(copy, out) != nullptr;
}

void ReadDateText(const uint8_t* bytes, int width, DateRec* date) {
  *date = DateRec{0, 0, 0};
  if (width < 8) return;
  const char* t = reinterpret_cast<const char*>(bytes);
  int32_t y, m, d;
  if (ParseDigits(t, 4, &y) && ParseDigits(t + 4, 2, &m) && ParseDigits(t + 6, 2, &d)) {
    *date = DateRec{int16_t(y), uint8_t(m), uint8_t(d)};
  }
}

// The text of a number field for a value (Decimal, Float, Integer,
// Smallint), exactly `width` characters; false when the field cannot hold
// the value (the text is then a clamp).
bool NumberField(const Value& value, uint8_t type, int width, int decimals, char* out) {
  char text[32];
  int n = -1;
  if (type == kFieldInteger) {
    n = std::snprintf(text, sizeof text, "%*ld", width, long(value.u.i));
  } else if (type == kFieldSmallint) {
    n = std::snprintf(text, sizeof text, "%*hd", width, value.u.s);
  }
  if (n >= 0 && n <= width) {
    std::memcpy(out, text, size_t(n) + 1);
    return true;
  }
  double x = type == kFieldInteger    ? double(value.u.i)
             : type == kFieldSmallint ? double(value.u.s)
                                      : value.u.d;
  return DbfNumberText(x, width, decimals, out);
}

void PadInto(uint8_t* field, int width, const char* text, size_t n, char pad) {
  n = std::min(n, size_t(width));
  std::memcpy(field, text, n);
  std::memset(field + n, pad, size_t(width) - n);
}

int16_t OpenForReading(DataSource* s, DbfFile** state) {
  return DbfOpen(s->file, state, kFileModeRead, nullptr) == kDbfOk ? 1 : 0;
}

int16_t AllocRecordBuffer(DataSource* s, const DbfFile* f) {
  MemFree(s->params.ptr[1]);
  s->params.ptr[1] = MemAlloc(size_t(f->recordLength) + 1);
  if (!s->params.ptr[1]) return 0;
  std::memset(s->params.ptr[1], 0, size_t(f->recordLength) + 1);
  return 1;
}

// A Char column whose payload is narrower than `width` gets one of width + 1.
int16_t WidenCharPayload(FieldDef& column, int width) {
  char* old = ColumnText(column);
  if (old && column.width >= width) return 1;
  char* p = static_cast<char*>(MemAlloc(size_t(width) + 1));
  if (!p) return 0;
  std::memset(p, 0, size_t(width) + 1);
  if (old) {
    std::memcpy(p, old, std::min(std::strlen(old), size_t(width)));
    ValueFree(&column.value);
  }
  column.value.kind = kFieldChar;
  column.value.aux = -1;
  column.value.u.p = p;
  return 1;
}

// Column type 7 becomes Char 25 at create, with a payload of its own.
int16_t Char25(FieldDef& column) {
  if (column.value.kind != kFieldChar25) return 1;
  column.value.kind = kFieldChar;
  column.value.u.p = nullptr;
  column.width = 25;
  return ValueAlloc(25, &column.value, nullptr);
}

template <typename Describe>
int16_t CreateFile(DataSource* s, FieldDef* columns, int32_t count, Describe describe) {
  if (count > kMaxDriverColumns) {
    ErrorPush(kErrorSeverity, kErrTooManyColumns, nullptr, nullptr);
    return 0;
  }
  if (count <= 0) return 0;
  DbfField fields[kMaxDriverColumns];
  for (int32_t i = 0; i < count; ++i) {
    if (!Char25(columns[i])) return 0;
    DbfField& f = fields[i];
    std::memset(&f, 0, sizeof f);
    if (!describe(columns[i], f)) return 0;
  }
  return DbfCreate(s->file, count, fields) == kDbfOk ? 1 : 0;
}

}  // namespace

// ----- open, release, close (both kinds) -----

int16_t DbfSourceOpen(DataSource* s, int mode) {
  DbfFile* f = nullptr;
  if (DbfOpen(s->file, &f, mode, nullptr) != kDbfOk) return 0;
  s->params.ptr[0] = f;
  return 1;
}

int16_t DbfSourceRelease(DataSource* s) {
  DbfFile* f = FileState(s);
  if (!f) return 0;
  s->params.ptr[0] = nullptr;
  return DbfClose(f) == kDbfOk ? 1 : 0;
}

int16_t DbfSourceClose(DataSource* s) {
  if (FileState(s)) DbfSourceRelease(s);
  MemFree(s->params.ptr[1]);
  s->params.ptr[1] = nullptr;
  return 1;
}

// ----- dBASE driver -----

int16_t DbfDriverCreate(DataSource* s, FieldDef* columns, int32_t count) {
  bool widthFlag = WidthFlag(s);
  return CreateFile(s, columns, count, [&](const FieldDef& c, DbfField& f) {
    DbfFieldName(c.name, f.name);
    switch (c.value.kind) {
      case kFieldChar:
        f.type = 'C';
        f.width = c.width;
        return true;
      case kFieldDecimal:
        f.type = 'N';
        f.width = c.width;
        f.decimals = c.decimals;
        if (widthFlag && c.decimals > 0 && c.width > c.decimals + 1) {
          f.width = uint8_t(c.width - c.decimals - 1);
        }
        return true;
      case kFieldInteger:
        f.type = 'N';
        f.width = 11;
        return true;
      case kFieldSmallint:
        f.type = 'N';
        f.width = 6;
        return true;
      case kFieldDate:
        f.type = 'D';
        f.width = 8;
        return true;
      case kFieldLogical:
        f.type = 'L';
        f.width = 1;
        return true;
      case kFieldFloat:
        f.type = 'N';
        f.width = 19;
        f.decimals = 9;
        return true;
      default:
        return false;
    }
  });
}

int16_t DbfDriverAttach(DataSource* s, FieldDef* columns, int32_t* count) {
  DbfFile* f = nullptr;
  if (!OpenForReading(s, &f)) return 0;
  bool widthFlag = WidthFlag(s);
  int32_t n = 0;
  for (int i = 0; i < f->fieldCount; ++i) n += IsMemoLetter(f->fields[i].type) ? 0 : 1;
  bool ok = n == *count;
  s->rowCount = f->count;
  for (int i = 0, c = 0; ok && i < f->fieldCount; ++i) {
    const DbfField& d = f->fields[i];
    if (IsMemoLetter(d.type)) continue;
    FieldDef& column = columns[c++];
    uint8_t type = column.value.kind;
    int width = d.width, decimals = d.decimals;
    switch (d.type) {
      case 'C':
        // Another column type reads and writes its value as text.
        ok = type != kFieldChar || column.width == d.width;
        break;
      case 'D':
        ok = type == kFieldDate;
        break;
      case 'F':
      case 'N':
        if (type == kFieldDecimal) {
          int expected = widthFlag && d.decimals > 0 ? d.width + d.decimals + 1 : d.width;
          ok = column.width == expected && column.decimals == d.decimals;
          width = expected;
        } else if (type == kFieldInteger) {
          ok = d.width == 11 && d.decimals == 0;
        } else if (type == kFieldSmallint) {
          ok = d.width == 6 && d.decimals == 0;
        } else if (type == kFieldFloat) {
          ok = widthFlag || (d.width == 19 && d.decimals == 9);
        } else {
          ok = false;
        }
        break;
      case 'L':
        ok = type == kFieldLogical;
        break;
      default:
        ok = false;
    }
    if (ok) {
      column.width = uint8_t(width);
      column.decimals = uint8_t(decimals);
    }
  }
  if (ok) ok = AllocRecordBuffer(s, f) != 0;
  DbfClose(f);
  return ok ? 1 : 0;
}

int16_t DbfDriverDescribe(DataSource* s, TableObject* table) {
  DbfFile* f = nullptr;
  if (!OpenForReading(s, &f)) return 0;
  bool widthFlag = WidthFlag(s);
  int n = 0;
  for (int i = 0; i < f->fieldCount; ++i) n += IsMemoLetter(f->fields[i].type) ? 0 : 1;
  FieldDef* fields = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * size_t(std::max(n, 1))));
  if (!fields) {
    DbfClose(f);
    ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
    return 0;
  }
  std::memset(fields, 0, sizeof(FieldDef) * size_t(std::max(n, 1)));
  for (int i = 0, c = 0; i < f->fieldCount; ++i) {
    const DbfField& d = f->fields[i];
    if (IsMemoLetter(d.type)) continue;
    FieldDef& column = fields[c++];
    uint8_t type;
    switch (d.type) {
      case 'C':
        type = kFieldChar;
        break;
      case 'D':
        type = kFieldDate;
        break;
      case 'F':
      case 'N':
        type = kFieldDecimal;
        break;
      case 'L':
        type = kFieldLogical;
        break;
      default: {
        char letter[2] = {d.type, 0};
        ErrorPush(kErrorSeverity, kErrDbaseFieldType, letter, nullptr);
        MemFree(fields);
        DbfClose(f);
        return 0;
      }
    }
    std::memcpy(column.name, d.name, sizeof d.name);
    StrToLower(column.name);
    column.name[0] = char(CharToUpper(uint8_t(column.name[0])));
    column.width = d.width;
    column.decimals = d.decimals;
    if (type == kFieldDecimal && widthFlag && d.decimals > 0) {
      int wide = d.width + d.decimals + 1;
      if (wide > 20) {
        type = kFieldFloat;
      } else {
        column.width = uint8_t(wide);
      }
    }
    column.value.kind = type;
  }
  DbfClose(f);
  MemFree(table->fields);
  table->fields = fields;
  table->fieldCount = uint32_t(n);
  return 1;
}

int16_t DbfDriverRead(DataSource* s, FieldDef* columns, uint32_t row, uint8_t* deleted) {
  if (deleted) *deleted = 0;
  DbfFile* f = FileState(s);
  uint8_t* record = RecordBuffer(s);
  if (!f || !record) return 0;
  int gone = 0;
  if (DbfReadRecord(f, row, record, &gone) != kDbfOk || gone) return 0;
  const uint8_t* bytes = record;
  for (int i = 0, c = 0; i < f->fieldCount && c < s->columnCount; ++i) {
    const DbfField& d = f->fields[i];
    const uint8_t* field = bytes;
    bytes += d.width;
    if (IsMemoLetter(d.type)) continue;
    FieldDef& column = columns[c++];
    Value& v = column.value;
    if (d.type == 'C' && v.kind != kFieldChar) {
      // Another column type over a C field: its value is kept as text.
      FieldText t(field, d.width);
      StrTrimRight(t.text);
      ValueParseField(t.text, v.kind, column.width, column.decimals, 0, &v, 0);
      continue;
    }
    switch (v.kind) {
      case kFieldChar:
        ReadCharField(s, column, field, d.width);
        break;
      case kFieldDecimal:
      case kFieldFloat: {
        if (EmptyNumberField(field, d.width)) {
          v.u.d = kNoNumber;
          break;
        }
        FieldText t(field, d.width);
        NumParseDouble(t.text, &v.u.d);
        break;
      }
      // Whole-number columns have no empty value: an empty field reads as 0.
      case kFieldInteger: {
        FieldText t(field, d.width);
        NumParseLong(t.text, &v.u.i);
        break;
      }
      case kFieldSmallint: {
        FieldText t(field, d.width);
        NumParseShort(t.text, &v.u.s);
        break;
      }
      case kFieldDate:
        ReadDateText(field, d.width, &v.u.date);
        break;
      case kFieldLogical: {
        char l = char(field[0]);
        v.u.b = d.width > 0 && (l == 'T' || l == 't' || l == 'Y' || l == 'y');
        break;
      }
      default:
        break;
    }
  }
  s->currentRow = row;
  return 1;
}

namespace {

// Formats the columns into a dBASE record; M and P fields keep what the
// record holds. false, with the column pushed, when a field cannot hold its
// column's value: the record is then not to be written.
bool FormatDbaseRecord(DataSource* s, const DbfFile* f, FieldDef* columns, uint8_t* record) {
  uint8_t* bytes = record;
  char text[2 * 255 + 1];
  for (int i = 0, c = 0; i < f->fieldCount; ++i) {
    const DbfField& d = f->fields[i];
    uint8_t* field = bytes;
    bytes += d.width;
    if (IsMemoLetter(d.type)) continue;
    if (c >= s->columnCount) {
      std::memset(field, ' ', d.width);
      continue;
    }
    FieldDef& column = columns[c++];
    const Value& v = column.value;
    if (d.type == 'C') {
      size_t n;
      if (v.kind == kFieldChar) {
        n = CharFieldText(s, column, text, d.width);
      } else {
        // A number kept as text: a Float with 14 digits when they fit, with
        // its short form when only that fits; never cut into another number.
        ValueFormatDecimals(&v, text, sizeof text, column.decimals, 0);
        n = std::strlen(text);
        if (n > d.width) {
          ValueToText(&v, text, sizeof text, column.decimals, 0);
          n = std::strlen(text);
        }
        if (n > d.width) {
          ColumnValueRefused(column);
          return false;
        }
      }
      PadInto(field, d.width, text, n, ' ');
      continue;
    }
    switch (v.kind) {
      case kFieldDecimal:
      case kFieldFloat:
        // A value read from an empty field goes back empty.
        if (v.u.d == kNoNumber) {
          std::memset(field, ' ', d.width);
          break;
        }
        [[fallthrough]];
      case kFieldInteger:
      case kFieldSmallint:
        if (!NumberField(v, v.kind, d.width, d.decimals, text)) {
          ColumnValueRefused(column);
          return false;
        }
        PadInto(field, d.width, text, std::strlen(text), ' ');
        break;
      case kFieldDate: {
        int year = std::clamp(int(v.u.date.year), 0, 9999);
        std::snprintf(text, sizeof text, "%04d%02d%02d", year, v.u.date.month % 100,
                      v.u.date.day % 100);
        PadInto(field, d.width, text, 8, ' ');
        break;
      }
      case kFieldLogical:
        PadInto(field, d.width, v.u.b ? "T" : "F", 1, ' ');
        break;
      default:
        std::memset(field, ' ', d.width);
    }
  }
  return true;
}

void BlankMemoFields(const DbfFile* f, uint8_t* record) {
  uint8_t* bytes = record;
  for (int i = 0; i < f->fieldCount; ++i) {
    if (IsMemoLetter(f->fields[i].type)) std::memset(bytes, ' ', f->fields[i].width);
    bytes += f->fields[i].width;
  }
}

}  // namespace

namespace {

// Appends a formatted record as the file's next row; both drivers append
// this way, so a row's number is always its place in the file.
int16_t AppendAsNextRow(DataSource* s, DbfFile* f, const uint8_t* record, uint32_t* row) {
  uint32_t count = 0;
  DbfRecordCount(f, &count);
  if (DbfAppendRecord(f, count + 1, record) != kDbfOk) return 0;
  *row = count + 1;
  s->currentRow = *row;
  return 1;
}

}  // namespace

int16_t DbfDriverInsert(DataSource* s, FieldDef* columns, uint32_t* row) {
  DbfFile* f = FileState(s);
  uint8_t* record = RecordBuffer(s);
  if (!f || !record) return 0;
  BlankMemoFields(f, record);
  if (!FormatDbaseRecord(s, f, columns, record)) return 0;
  return AppendAsNextRow(s, f, record, row);
}

int16_t DbfDriverUpdate(DataSource* s, FieldDef* columns, uint32_t row) {
  DbfFile* f = FileState(s);
  uint8_t* record = RecordBuffer(s);
  if (!f || !record) return 0;
  int gone = 0;
  if (DbfReadRecord(f, row, record, &gone) != kDbfOk || gone) return 0;
  if (!FormatDbaseRecord(s, f, columns, record)) return 0;
  if (DbfWriteRecord(f, row, record) != kDbfOk) return 0;
  s->currentRow = row;
  return 1;
}

int16_t DbfDriverHasMemo(DataSource* s) {
  DbfFile* f = nullptr;
  if (!OpenForReading(s, &f)) return 0;
  int16_t memo = 0;
  for (int i = 0; i < f->fieldCount; ++i) memo |= IsMemoLetter(f->fields[i].type) ? 1 : 0;
  DbfClose(f);
  return memo;
}

// ----- native driver -----

int16_t NativeDriverCreate(DataSource* s, FieldDef* columns, int32_t count) {
  return CreateFile(s, columns, count, [&](const FieldDef& c, DbfField& f) {
    std::memcpy(f.name, c.name, strnlen(c.name, 10));
    f.type = 'C';
    switch (c.value.kind) {
      case kFieldChar:
        f.width = c.width;
        return true;
      case kFieldDecimal:
        f.type = 'N';
        f.width = c.width;
        f.decimals = c.decimals;
        return true;
      case kFieldInteger:
      case kFieldDate:
        f.width = 4;
        return true;
      case kFieldSmallint:
        f.width = 2;
        return true;
      case kFieldLogical:
        f.type = 'L';
        f.width = 1;
        return true;
      case kFieldFloat:
        f.width = 8;
        return true;
      default:
        return false;
    }
  });
}

int16_t NativeDriverAttach(DataSource* s, FieldDef* columns, int32_t* count) {
  DbfFile* f = nullptr;
  if (!OpenForReading(s, &f)) return 0;
  s->rowCount = f->count;
  bool ok = f->fieldCount == *count;
  for (int i = 0; ok && i < f->fieldCount; ++i) {
    const DbfField& d = f->fields[i];
    FieldDef& column = columns[i];
    uint8_t type = column.value.kind;
    switch (d.type) {
      case 'C':
        if (type == kFieldChar) {
          ok = WidenCharPayload(column, d.width) != 0;
        } else if (type == kFieldInteger || type == kFieldDate) {
          ok = d.width == 4;
        } else if (type == kFieldSmallint) {
          ok = d.width == 2;
        } else if (type == kFieldFloat) {
          ok = d.width == 8;
        } else {
          ok = false;
        }
        break;
      case 'L':
        ok = type == kFieldLogical && d.width >= 1;
        break;
      case 'M':
        ok = type == kFieldMemo;
        break;
      case 'N':
        ok = type == kFieldDecimal || type == kFieldFloat;
        if (ok) column.decimals = d.decimals;
        break;
      default:
        ok = false;
    }
    if (ok) column.width = d.width;
  }
  if (ok) ok = AllocRecordBuffer(s, f) != 0;
  DbfClose(f);
  return ok ? 1 : 0;
}

int16_t NativeDriverDescribe(DataSource*, TableObject*) { return 1; }

int16_t NativeDriverRead(DataSource* s, FieldDef* columns, uint32_t row, uint8_t* deleted) {
  if (deleted) *deleted = 0;
  DbfFile* f = FileState(s);
  uint8_t* record = RecordBuffer(s);
  if (!f || !record) return 0;
  int gone = 0;
  if (DbfReadRecord(f, row, record, &gone) != kDbfOk || gone) return 0;
  const uint8_t* bytes = record;
  int n = std::min<int>(f->fieldCount, s->columnCount);
  for (int i = 0; i < n; ++i) {
    const DbfField& d = f->fields[i];
    const uint8_t* field = bytes;
    bytes += d.width;
    Value& v = columns[i].value;
    switch (v.kind) {
      case kFieldChar:
        ReadCharField(s, columns[i], field, d.width);
        break;
      case kFieldDecimal:
      case kFieldFloat:
        if (d.type == 'N') {
          FieldText t(field, d.width);
          NumParseDouble(t.text, &v.u.d);
        } else if (d.width >= 8) {
          v.u.d = QLoadF64LE(field);
        }
        break;
      case kFieldInteger:
        if (d.width >= 4) v.u.i = int32_t(QLoadU32LE(field));
        break;
      case kFieldDate:
        if (d.width >= 4) {
          v.u.date = DateRec{int16_t(QLoadU16LE(field)), field[2], field[3]};
        }
        break;
      case kFieldSmallint:
        if (d.width >= 2) v.u.s = int16_t(QLoadU16LE(field));
        break;
      case kFieldLogical:
        v.u.b = field[0] == 1;
        break;
      default:
        break;  // memo fields are not read here
    }
  }
  s->currentRow = row;
  return 1;
}

namespace {

// false, with the column pushed, when an N field cannot hold its column's
// value: the record is then not to be written.
bool EncodeNativeRecord(DataSource* s, const DbfFile* f, FieldDef* columns, uint8_t* record,
                        bool keepMemo) {
  uint8_t* bytes = record;
  char text[2 * 255 + 1];
  for (int i = 0; i < f->fieldCount; ++i) {
    const DbfField& d = f->fields[i];
    uint8_t* field = bytes;
    bytes += d.width;
    if (i >= s->columnCount) {
      std::memset(field, 0, d.width);
      continue;
    }
    FieldDef& column = columns[i];
    const Value& v = column.value;
    switch (v.kind) {
      case kFieldChar: {
        size_t n = CharFieldText(s, column, text, d.width);
        while (n > 0 && text[n - 1] == ' ') --n;
        PadInto(field, d.width, text, n, 0);
        break;
      }
      case kFieldDecimal:
      case kFieldFloat:
        if (d.type == 'N') {
          if (!DbfNumberText(v.u.d, d.width, d.decimals, text)) {
            ColumnValueRefused(column);
            return false;
          }
          PadInto(field, d.width, text, std::strlen(text), ' ');
        } else if (d.width >= 8) {
          QStoreF64LE(field, v.u.d);
        }
        break;
      case kFieldInteger:
        if (d.width >= 4) QStoreU32LE(field, uint32_t(v.u.i));
        break;
      case kFieldDate:
        if (d.width >= 4) {
          QStoreU16LE(field, uint16_t(v.u.date.year));
          field[2] = v.u.date.month;
          field[3] = v.u.date.day;
        }
        break;
      case kFieldSmallint:
        if (d.width >= 2) QStoreU16LE(field, uint16_t(v.u.s));
        break;
      case kFieldLogical:
        field[0] = v.u.b ? 1 : 0;
        break;
      default:
        if (!keepMemo) std::memset(field, ' ', d.width);
    }
  }
  return true;
}

}  // namespace

int16_t NativeDriverInsert(DataSource* s, FieldDef* columns, uint32_t* row) {
  DbfFile* f = FileState(s);
  uint8_t* record = RecordBuffer(s);
  if (!f || !record) return 0;
  std::memset(record, 0, f->recordLength);
  if (!EncodeNativeRecord(s, f, columns, record, false)) return 0;
  return AppendAsNextRow(s, f, record, row);
}

int16_t NativeDriverUpdate(DataSource* s, FieldDef* columns, uint32_t row) {
  DbfFile* f = FileState(s);
  uint8_t* record = RecordBuffer(s);
  if (!f || !record) return 0;
  // The stored record first, so that memo fields keep their bytes.
  int gone = 0;
  if (DbfReadRecord(f, row, record, &gone) != kDbfOk || gone) return 0;
  if (!EncodeNativeRecord(s, f, columns, record, true)) return 0;
  if (DbfWriteRecord(f, row, record) != kDbfOk) return 0;
  s->currentRow = row;
  return 1;
}

// ----- the hooks -----

const DataDriver* DbaseDataDriver() {
  static const DataDriver driver = {
      DbfDriverCreate, DbfDriverAttach, DbfDriverDescribe, DbfSourceOpen,  DbfSourceRelease,
      DbfDriverRead,   DbfDriverInsert, DbfDriverUpdate,   DbfSourceClose, DbfDriverHasMemo,
  };
  return &driver;
}

const DataDriver* NativeDataDriver() {
  static const DataDriver driver = {
      NativeDriverCreate, NativeDriverAttach, NativeDriverDescribe, DbfSourceOpen,
      DbfSourceRelease,   NativeDriverRead,   NativeDriverInsert,   NativeDriverUpdate,
      DbfSourceClose,     nullptr,
  };
  return &driver;
}

}  // namespace layerio
