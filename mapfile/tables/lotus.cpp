// The Lotus worksheet driver (kind 2, read only): a table's rows are a
// rectangular range of cells of a classic worksheet (.WKS, .WK1) or of the
// three-dimensional format of later releases.
//
// The file is read whole into memory while the source is open and parsed
// from there: every record's length is checked against the bytes that
// remain, and every text and field inside a record against its length, so a
// damaged file reads as an error and never past a record. Attach and
// describe build an index of the cell records of each range row once, so
// rows are read in any order in time proportional to their own cells.
//
// Driver state: ptr[1] the reader, ptr[2] the range text (a name or a cell
// range; null for the active range); word 3 and word 4 receive the range's
// first column and first row; the 16-bit word at byte 28 is the titles flag.
//
// Cell formats. A classic cell carries its format byte; a three-dimensional
// cell has none, its formats are kept per row in records of type 19:
//   u16 row, u8 sheet, u8 subtype, then
//     subtype 0: runs {u8 format, u8 repeat}, each covering 1 + repeat
//                columns from column 0 on; columns past the last run, and
//                rows without a record, have the default format 0x7F;
//     subtype 2: u16 source row: the row has the formats the source row of
//                the same sheet was given by the records before this one;
//     other subtypes carry nothing this reader uses.
//   A later record for a row replaces an earlier one. The runs of the
//   range's sheet are loaded into one table of at most 31,999 runs; a
//   record too short for its fields or more runs fail with 585.
// A format byte, in either format: bit 7 protection, bits 4-6 the class,
// bits 0-3 the decimals or, in class 7, the kind (2, 3, 4, 9 and 10 dates);
// 0x7F is the default format.
// Column widths: classic record 8 {u16 column, u8 width}; three-dimensional
// record 7 {u8 sheet, u8 reserved, then pairs {u8 column, u8 width}}.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/table.h"
#include "platform/calendar.h"
#include "platform/endian.h"

namespace layerio {

namespace {

enum LotusErrorCode : int16_t {
  kErrLotusFile = 522,         // with the file's name
  kErrLotusOpen = 523,         // with the file's name
  kErrRangeNotFound = 528,     // with the range text
  kErrRangeEmpty = 529,        // with the range text or the whole sheet's name
  kErrColumnCount = 530,       // the range's columns differ from the table's
  kErrRangeSheets = 584,       // the range's corners lie on different sheets
  kErrRowFormats = 585,        // the row format table cannot be loaded
  kErrOldThreeD = 876,         // with the file's name
};

constexpr int kMsgEntireWorksheet = 2202;
constexpr int kCharsetLics = 45;
constexpr int kMaxRangeColumns = 250;  // a range of this many columns is refused
constexpr int kMaxTitle = 32;
constexpr int kWordFirstColumn = 3;
constexpr int kWordFirstRow = 4;
constexpr int kTitlesHalf = 28;
constexpr int64_t kMaxFileSize = int64_t(1) << 31;
constexpr uint16_t kNoWidth = 0;
constexpr uint8_t kDefaultFormat = 0x7F;
constexpr uint32_t kMaxFormatRuns = 31999;

// Record types.
enum : uint16_t {
  kRecBof = 0,
  kRecEof = 1,
  kRecActiveRange = 6,
  kRecColumnWidth = 8,
  kRecName = 11,
  kRecInteger = 13,
  kRecNumber = 14,
  kRecLabel = 15,
  kRecFormula = 16,
  kRecFormulaText = 51,
  kRecNamedRange = 71,
  // Three-dimensional format.
  kRec3Old = 2,
  kRec3ColumnWidth = 7,
  kRec3Name = 9,
  kRec3RowFormat = 19,
  kRec3Label = 22,
  kRec3Number = 23,
  kRec3Small = 24,
  kRec3Formula = 25,
  kRec3FormulaText = 26,
};

struct NamedRange {
  char name[17];
  uint16_t firstRow, lastRow;
  uint16_t firstColumn, lastColumn;
  uint8_t sheet;
};

// The formats of one row of the range's sheet: runs[first .. first + count)
// of the reader's run table; count 0 is a row of the default format.
struct RowRuns {
  uint16_t first;
  uint16_t count;
};

// The reader: the file's bytes (while open), its format and the range, the
// row format table of a three-dimensional file, and the index of the
// range's cell records by row.
struct LotusReader {
  uint8_t* data;
  size_t size;
  bool threeD;
  int lmbcsGroup;
  uint16_t activeFirstRow, activeLastRow;
  uint16_t activeFirstColumn, activeLastColumn;
  uint8_t activeFirstSheet, activeLastSheet;
  bool haveActive;
  // The range.
  uint32_t firstColumn, lastColumn, firstRow, lastRow;
  uint8_t sheet;
  // Row formats of the range's sheet: {format, repeat} pairs, and per row
  // 0 .. formatRows - 1 its runs.
  uint8_t* runs;
  RowRuns* rowRuns;
  uint32_t formatRows;
  uint8_t defaultFormat;
  // Offsets of the cell records of range row r (0-based) are
  // cells[rowStart[r] .. rowStart[r + 1]), in file order.
  uint32_t* rowStart;
  uint32_t* cells;
  size_t indexedSize;
  char* text;  // a cell's converted text
  size_t textCapacity;
};

LotusReader* ReaderOf(const DataSource* s) { return static_cast<LotusReader*>(s->params.ptr[1]); }
const char* RangeTextOf(const DataSource* s) { return static_cast<const char*>(s->params.ptr[2]); }


void PushWithFile(int16_t code, FileHandle file) {
  char name[kPathCapacity];
  name[0] = 0;
  if (file > 0) FileBaseName(file, name);
  ErrorPush(kErrorSeverity, code, name, nullptr);
}

void PushNoMemory() { ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr); }

// ----- records ----------------------------------------------------------------

struct Record {
  uint16_t type;
  uint16_t length;
  const uint8_t* data;
  size_t at;  // the header's offset
};

enum class Step { kRecord, kEnd, kDamaged };

// The record at `pos`; its data lie wholly inside the file.
Step RecordAt(const LotusReader* r, size_t pos, Record* out) {
  if (pos == r->size) return Step::kEnd;
  if (r->size - pos < 4) return Step::kDamaged;
  const uint8_t* h = r->data + pos;
  out->type = QLoadU16LE(h);
  out->length = QLoadU16LE(h + 2);
  if (r->size - pos - 4 < out->length) return Step::kDamaged;
  out->data = h + 4;
  out->at = pos;
  return Step::kRecord;
}

// ----- cells ------------------------------------------------------------------

struct Cell {
  char letter;  // 0 blank, i, d, s, f, g, t
  uint32_t row, column;
  uint8_t sheet;
  uint8_t format;  // the cell's format byte, or its row's in the three-dimensional format
  int32_t i;
  double d;
  const uint8_t* text;
  size_t textLength;
  DateRec date;
};

bool IsDateFormat(uint8_t format) {
  const uint8_t f = format & 0x7F;
  return (f & 0x70) == 0x70 && (f == 114 || f == 115 || f == 116 || f == 121 || f == 122);
}

// Days from 1 January 1900 to the date, proleptic Gregorian.
void DateFromSerial(int64_t serial, DateRec* out) {
  int64_t days = serial - 1 - (serial >= 60 ? 1 : 0);
  int y = 0, m = 0, d = 0;
  CivilFromDays(days + DaysFromCivil(1900, 1, 1), &y, &m, &d);
  out->year = int16_t(y);
  out->month = uint8_t(m);
  out->day = uint8_t(d);
}

// A number in a date format: its whole part is the day serial.
void MakeDateIfFormatted(Cell* c, bool dated) {
  if (!dated || (c->letter != 'd' && c->letter != 'i' && c->letter != 'f')) return;
  const double x = c->letter == 'i' ? double(c->i) : c->d;
  if (!(x >= 1 && x < 2958466)) return;  // up to 9999-12-31
  DateFromSerial(int64_t(std::floor(x)), &c->date);
  c->letter = 't';
}

// The 80-bit extended real; false when it is an infinity or not a number,
// or too large for a double.
bool ExtendedToDouble(const uint8_t* p, double* out) {
  const uint64_t mantissa = QLoadU64LE(p);
  const uint16_t top = QLoadU16LE(p + 8);
  const int exponent = top & 0x7FFF;
  if (exponent == 0x7FFF) return false;
  double x = std::ldexp(double(mantissa), exponent - 16383 - 63);
  if (!std::isfinite(x)) return false;
  *out = (top & 0x8000) ? -x : x;
  return true;
}

bool ReadDouble(const uint8_t* p, double* out) {
  const double x = QLoadF64LE(p);
  if (!std::isfinite(x)) return false;  // the worksheet's error and not-available values
  *out = x;
  return true;
}

void SetText(Cell* c, const uint8_t* p, size_t n, bool label) {
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p, 0, n));
  if (end) n = size_t(end - p);
  if (label && n > 0 && std::strchr("'\"^\\|", p[0])) {
    ++p;
    --n;
  }
  c->text = p;
  c->textLength = n;
}

// A classic formula that is only the date function of three constants
// (years counted from 1900) gives that date.
bool DateFormula(const uint8_t* p, size_t n, DateRec* out) {
  if (n < 2) return false;
  size_t length = QLoadU16LE(p);
  p += 2;
  n -= 2;
  if (length > n) return false;
  int values[3];
  int count = 0;
  size_t at = 0;
  while (at < length && count < 3) {
    if (p[at] == 5 && length - at >= 3) {
      values[count++] = int16_t(QLoadU16LE(p + at + 1));
      at += 3;
    } else if (p[at] == 0 && length - at >= 9) {
      double x;
      if (!ReadDouble(p + at + 1, &x) || x != std::floor(x) || std::fabs(x) > 10000) return false;
      values[count++] = int(x);
      at += 9;
    } else {
      return false;
    }
  }
  constexpr uint8_t kDateFunction = 0x36, kEnd = 3;
  if (count != 3 || at >= length || p[at] != kDateFunction) return false;
  if (at + 1 < length && p[at + 1] != kEnd) return false;
  const int year = values[0] + 1900, month = values[1], day = values[2];
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1])
    return false;
  if (month == 2 && day == 29 && !(year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)))
    return false;
  out->year = int16_t(year);
  out->month = uint8_t(month);
  out->day = uint8_t(day);
  return true;
}

// The format of a three-dimensional cell from its row's runs.
uint8_t RowFormatAt(const LotusReader* r, uint8_t sheet, uint32_t row, uint32_t column) {
  if (sheet != r->sheet || row >= r->formatRows) return r->defaultFormat;
  const RowRuns& runs = r->rowRuns[row];
  uint32_t from = 0;
  for (uint32_t k = 0; k < runs.count; ++k) {
    const uint8_t* run = r->runs + 2 * (size_t(runs.first) + k);
    from += 1u + run[1];
    if (column < from) return run[0];
  }
  return r->defaultFormat;
}

// The cell a record holds; false when the record is not a cell. A cell
// record too short for its fields is damaged.
bool CellOf(const LotusReader* r, const Record& rec, Cell* c, bool* damaged) {
  *c = Cell{};
  const uint8_t* p = rec.data;
  const size_t n = rec.length;
  *damaged = false;
  if (!r->threeD) {
    size_t need;
    switch (rec.type) {
      case kRecInteger: need = 7; break;
      case kRecNumber: need = 13; break;
      case kRecFormula: need = 13; break;
      case kRecLabel:
      case kRecFormulaText: need = 5; break;
      default: return false;
    }
    if (n < need) {
      *damaged = true;
      return false;
    }
    c->format = p[0];
    c->column = QLoadU16LE(p + 1);
    c->row = QLoadU16LE(p + 3);
    switch (rec.type) {
      case kRecInteger:
        c->letter = 'i';
        c->i = int16_t(QLoadU16LE(p + 5));
        break;
      case kRecNumber:
        c->letter = ReadDouble(p + 5, &c->d) ? 'd' : 0;
        break;
      case kRecFormula:
        c->letter = ReadDouble(p + 5, &c->d) ? 'f' : 0;
        if (DateFormula(p + 13, n - 13, &c->date)) c->letter = 't';
        break;
      case kRecLabel:
        c->letter = 's';
        SetText(c, p + 5, n - 5, true);
        break;
      default:
        c->letter = 'g';
        SetText(c, p + 5, n - 5, false);
        break;
    }
    MakeDateIfFormatted(c, IsDateFormat(c->format));
    return true;
  }
  size_t need;
  switch (rec.type) {
    case kRec3Label:
    case kRec3FormulaText: need = 4; break;
    case kRec3Number:
    case kRec3Formula: need = 14; break;
    case kRec3Small: need = 6; break;
    default: return false;
  }
  if (n < need) {
    *damaged = true;
    return false;
  }
  c->row = QLoadU16LE(p);
  c->sheet = p[2];
  c->column = p[3];
  c->format = RowFormatAt(r, c->sheet, c->row, c->column);
  switch (rec.type) {
    case kRec3Label:
      c->letter = 's';
      SetText(c, p + 4, n - 4, true);
      break;
    case kRec3FormulaText:
      c->letter = 'g';
      SetText(c, p + 4, n - 4, false);
      break;
    case kRec3Number:
      c->letter = ExtendedToDouble(p + 4, &c->d) ? 'd' : 0;
      break;
    case kRec3Formula:
      c->letter = ExtendedToDouble(p + 4, &c->d) ? 'f' : 0;
      break;
    default: {
      const int16_t w = int16_t(QLoadU16LE(p + 4));
      if (!(w & 1)) {
        c->letter = 'i';
        c->i = w / 2;
      } else {
        static const double kFactors[8] = {5000, 500, 0.05, 0.005, 0.0005, 0.00005, 0.0625,
                                           0.015625};
        // The number is the signed upper twelve bits: a shift, which rounds a
        // negative value down as the format counts it.
        c->letter = 'd';
        c->d = double(w >> 4) * kFactors[(w >> 1) & 7];
      }
      break;
    }
  }
  MakeDateIfFormatted(c, IsDateFormat(c->format));
  return true;
}

// ----- reader life ------------------------------------------------------------

void FreeIndex(LotusReader* r) {
  MemFree(r->rowStart);
  MemFree(r->cells);
  r->rowStart = nullptr;
  r->cells = nullptr;
  r->indexedSize = 0;
}

void FreeRowFormats(LotusReader* r) {
  MemFree(r->runs);
  MemFree(r->rowRuns);
  r->runs = nullptr;
  r->rowRuns = nullptr;
  r->formatRows = 0;
}

void FreeBytes(LotusReader* r) {
  MemFree(r->data);
  r->data = nullptr;
  r->size = 0;
}

// Reads the whole file and checks its first record. On failure the error is
// pushed and nothing is held.
bool LoadFile(DataSource* s, LotusReader* r) {
  FreeBytes(r);
  if (FileOpen(s->file, kFileModeRead, nullptr) < 0) {
    PushWithFile(kErrLotusOpen, s->file);
    return false;
  }
  bool ok = true;
  const int64_t size = FileSize(s->file);
  if (size < 0 || size >= kMaxFileSize || FileSeek(s->file, 0, 0) != 0) {
    ok = false;
  } else {
    r->data = static_cast<uint8_t*>(MemAlloc(size_t(size) + 1));
    if (!r->data) {
      FileClose(s->file);
      PushNoMemory();
      return false;
    }
    int64_t got = 0;
    while (ok && got < size) {
      const int32_t piece = int32_t(std::min<int64_t>(size - got, 1 << 20));
      const int32_t n = FileRead(s->file, r->data + got, piece);
      if (n <= 0) ok = false;
      got += n > 0 ? n : 0;
    }
    r->size = size_t(size);
  }
  FileClose(s->file);
  if (!ok) {
    FreeBytes(r);
    PushWithFile(kErrLotusOpen, s->file);
    return false;
  }
  Record bof;
  if (RecordAt(r, 0, &bof) != Step::kRecord || bof.type != kRecBof) {
    FreeBytes(r);
    PushWithFile(kErrLotusFile, s->file);
    return false;
  }
  const uint16_t version = bof.length >= 2 ? QLoadU16LE(bof.data) : 0;
  if (bof.length == 2 && (version == 1028 || version == 1030)) {
    r->threeD = false;
  } else if (bof.length == 26 && (version == 4096 || version == 4098)) {
    r->threeD = true;
    r->activeFirstRow = QLoadU16LE(bof.data + 4);
    r->activeFirstSheet = bof.data[6];
    r->activeFirstColumn = bof.data[7];
    r->activeLastRow = QLoadU16LE(bof.data + 8);
    r->activeLastSheet = bof.data[10];
    r->activeLastColumn = bof.data[11];
    r->haveActive = true;
    const uint8_t group = bof.data[16];
    r->lmbcsGroup = group == 2 ? 2 : 1;
    Record next;
    if (RecordAt(r, 4 + bof.length, &next) == Step::kRecord && next.type == kRec3Old) {
      FreeBytes(r);
      PushWithFile(kErrOldThreeD, s->file);
      return false;
    }
  } else {
    FreeBytes(r);
    PushWithFile(kErrLotusFile, s->file);
    return false;
  }
  return true;
}

LotusReader* NewReader(DataSource* s) {
  if (LotusReader* r = ReaderOf(s)) return r;
  auto* r = static_cast<LotusReader*>(MemAlloc(sizeof(LotusReader)));
  if (!r) {
    PushNoMemory();
    return nullptr;
  }
  std::memset(r, 0, sizeof *r);
  r->defaultFormat = kDefaultFormat;
  s->params.ptr[1] = r;
  return r;
}

void FreeReader(DataSource* s) {
  if (LotusReader* r = ReaderOf(s)) {
    FreeIndex(r);
    FreeRowFormats(r);
    FreeBytes(r);
    MemFree(r->text);
    MemFree(r);
  }
  s->params.ptr[1] = nullptr;
}

// ----- ranges -----------------------------------------------------------------

// Column letters: 0 "A", 25 "Z", 26 "AA".
void ColumnLetters(uint32_t column, char* out) {
  char tmp[8];
  int n = 0;
  uint32_t c = column + 1;
  while (c > 0 && n < 7) {
    tmp[n++] = char('A' + (c - 1) % 26);
    c = (c - 1) / 26;
  }
  for (int k = 0; k < n; ++k) out[k] = tmp[n - 1 - k];
  out[n] = 0;
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
uint32_t LetterValue(char c) { return uint32_t((c | 0x20) - 'a'); }

// One corner "[sheet:]C12"; the position after it, or null.
const char* ParseCorner(const char* p, bool threeD, int* sheet, uint32_t* column, uint32_t* row) {
  *sheet = -1;
  if (threeD && IsLetter(p[0]) && p[1] == ':') {
    *sheet = int(LetterValue(p[0]));
    p += 2;
  } else if (threeD && IsLetter(p[0]) && IsLetter(p[1]) && p[2] == ':') {
    *sheet = int((LetterValue(p[0]) + 1) * 26 + LetterValue(p[1]));
    p += 3;
  }
  uint32_t c = 0;
  int letters = 0;
  while (IsLetter(*p) && letters < 3) {
    c = c * 26 + LetterValue(*p) + 1;
    ++p;
    ++letters;
  }
  if (letters == 0 || IsLetter(*p)) return nullptr;
  uint32_t r = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9' && digits < 6) {
    r = r * 10 + uint32_t(*p - '0');
    ++p;
    ++digits;
  }
  if (digits == 0 || r == 0 || (*p >= '0' && *p <= '9')) return nullptr;
  *column = c - 1;
  *row = r - 1;
  return p;
}

// "A1..C20" or "A1:C20" (three-dimensional: each corner may name its sheet).
// 0 not a range, 1 a range, -1 a range across sheets.
int ParseCellRange(const char* text, bool threeD, NamedRange* out) {
  int sheet1, sheet2;
  uint32_t c1, r1, c2, r2;
  const char* p = ParseCorner(text, threeD, &sheet1, &c1, &r1);
  if (!p) return 0;
  if (p[0] == '.' && p[1] == '.') {
    p += 2;
  } else if (p[0] == '.' || p[0] == ':') {
    p += 1;
  } else {
    return 0;
  }
  p = ParseCorner(p, threeD, &sheet2, &c2, &r2);
  if (!p || *p) return 0;
  if (sheet1 < 0) sheet1 = 0;
  if (sheet2 < 0) sheet2 = sheet1;
  if (sheet1 != sheet2) return -1;
  if (c1 > 0xFFFF || c2 > 0xFFFF || r1 > 0xFFFF || r2 > 0xFFFF) return 0;
  out->firstColumn = uint16_t(c1);
  out->lastColumn = uint16_t(c2);
  out->firstRow = uint16_t(r1);
  out->lastRow = uint16_t(r2);
  out->sheet = uint8_t(sheet1);
  return 1;
}

// The name a named-range record gives, cut to its record.
void NameOf(const uint8_t* p, size_t n, char out[17]) {
  size_t k = 0;
  while (k < n && k < 16 && p[k]) {
    out[k] = char(p[k]);
    ++k;
  }
  out[k] = 0;
}

// Looks the text up among the file's named ranges. -1 damaged file.
int FindNamedRange(const LotusReader* r, const char* text, NamedRange* out) {
  if (r->threeD && r->haveActive) {
    const char* entire = MsgGetText(kMsgEntireWorksheet);
    const bool several = r->activeLastSheet > r->activeFirstSheet;
    for (int sheet = r->activeFirstSheet; sheet <= r->activeLastSheet; ++sheet) {
      char name[64];
      char letters[8];
      ColumnLetters(uint32_t(sheet), letters);
      if (several) {
        std::snprintf(name, sizeof name, "%s %s", entire, letters);
      } else {
        std::snprintf(name, sizeof name, "%s", entire);
      }
      if (std::strcmp(name, text) == 0) {
        out->firstRow = r->activeFirstRow;
        out->lastRow = r->activeLastRow;
        out->firstColumn = r->activeFirstColumn;
        out->lastColumn = r->activeLastColumn;
        out->sheet = uint8_t(sheet);
        return 1;
      }
    }
  }
  Record rec;
  size_t pos = 0;
  for (;;) {
    Step st = RecordAt(r, pos, &rec);
    if (st == Step::kEnd) return 0;
    if (st == Step::kDamaged) return -1;
    pos += 4 + rec.length;
    if (rec.type == kRecEof) return 0;
    const bool classicName = !r->threeD && (rec.type == kRecName || rec.type == kRecNamedRange);
    const bool threeDName = r->threeD && rec.type == kRec3Name;
    if (!classicName && !threeDName) continue;
    if (rec.length < 24) return -1;
    char name[17];
    NameOf(rec.data, 16, name);
    if (std::strcmp(name, text) != 0) continue;
    const uint8_t* q = rec.data + 16;
    if (classicName) {
      out->firstColumn = QLoadU16LE(q);
      out->firstRow = QLoadU16LE(q + 2);
      out->lastColumn = QLoadU16LE(q + 4);
      out->lastRow = QLoadU16LE(q + 6);
      out->sheet = 0;
    } else {
      if (q[2] != q[6]) return 2;
      out->firstRow = QLoadU16LE(q);
      out->sheet = q[2];
      out->firstColumn = q[3];
      out->lastRow = QLoadU16LE(q + 4);
      out->lastColumn = q[7];
    }
    return 1;
  }
}

// The classic active range (record 6); false when the file has none.
bool ClassicActiveRange(LotusReader* r, bool* damaged) {
  *damaged = false;
  Record rec;
  size_t pos = 0;
  for (;;) {
    Step st = RecordAt(r, pos, &rec);
    if (st == Step::kDamaged) *damaged = true;
    if (st != Step::kRecord || rec.type == kRecEof) return false;
    pos += 4 + rec.length;
    if (rec.type != kRecActiveRange) continue;
    if (rec.length < 8) {
      *damaged = true;
      return false;
    }
    r->activeFirstColumn = QLoadU16LE(rec.data);
    r->activeFirstRow = QLoadU16LE(rec.data + 2);
    r->activeLastColumn = QLoadU16LE(rec.data + 4);
    r->activeLastRow = QLoadU16LE(rec.data + 6);
    r->activeFirstSheet = r->activeLastSheet = 0;
    r->haveActive = true;
    return true;
  }
}

// Determines the range of the source; the error is pushed on failure.
bool DetermineRange(DataSource* s, LotusReader* r) {
  const char* text = RangeTextOf(s);
  if (text && !*text) text = nullptr;
  if (!r->threeD) {
    bool damaged = false;
    r->haveActive = false;
    ClassicActiveRange(r, &damaged);
    if (damaged) {
      PushWithFile(kErrLotusFile, s->file);
      return false;
    }
  }
  NamedRange range{};
  bool have = false;
  if (text) {
    int found = FindNamedRange(r, text, &range);
    if (found < 0) {
      PushWithFile(kErrLotusFile, s->file);
      return false;
    }
    if (found == 0) found = ParseCellRange(text, r->threeD, &range);
    if (found == 2 || found < 0) {
      ErrorPush(kErrorSeverity, kErrRangeSheets, text, nullptr);
      return false;
    }
    if (found == 0) {
      ErrorPush(kErrorSeverity, kErrRangeNotFound, text, nullptr);
      return false;
    }
    have = true;
  } else if (r->haveActive) {
    range.firstRow = r->activeFirstRow;
    range.lastRow = r->activeLastRow;
    range.firstColumn = r->activeFirstColumn;
    range.lastColumn = r->activeLastColumn;
    range.sheet = r->activeFirstSheet;
    have = true;
  }
  if (!have || range.firstColumn > range.lastColumn || range.firstRow > range.lastRow ||
      range.lastColumn - range.firstColumn + 1 >= kMaxRangeColumns) {
    ErrorPush(kErrorSeverity, kErrRangeEmpty, text ? text : MsgGetText(kMsgEntireWorksheet),
              nullptr);
    return false;
  }
  r->firstColumn = range.firstColumn;
  r->lastColumn = range.lastColumn;
  r->firstRow = range.firstRow;
  r->lastRow = range.lastRow;
  r->sheet = range.sheet;
  s->params.words[kWordFirstColumn] = r->firstColumn;
  s->params.words[kWordFirstRow] = r->firstRow;
  return true;
}

uint32_t ColumnCount(const LotusReader* r) { return r->lastColumn - r->firstColumn + 1; }
uint32_t RowCount(const LotusReader* r) { return r->lastRow - r->firstRow + 1; }

bool InRange(const LotusReader* r, const Cell& c) {
  return c.sheet == r->sheet && c.row >= r->firstRow && c.row <= r->lastRow &&
         c.column >= r->firstColumn && c.column <= r->lastColumn;
}

// Walks the cell records in file order, up to the end-of-file record.
// false (after pushing) when the file is damaged.
template <typename F>
bool ForEachCell(DataSource* s, const LotusReader* r, F&& visit) {
  Record rec;
  size_t pos = 0;
  for (;;) {
    Step st = RecordAt(r, pos, &rec);
    if (st == Step::kEnd) return true;
    if (st == Step::kDamaged) {
      PushWithFile(kErrLotusFile, s->file);
      return false;
    }
    pos += 4 + rec.length;
    if (rec.type == kRecEof) return true;
    Cell c;
    bool damaged;
    if (CellOf(r, rec, &c, &damaged)) {
      visit(rec, c);
    } else if (damaged) {
      PushWithFile(kErrLotusFile, s->file);
      return false;
    }
  }
}

// Loads the row format table of the range's sheet (three-dimensional files
// only), in two passes: the first checks the records and sizes the table,
// the second fills it in file order. false after pushing.
bool LoadRowFormats(DataSource* s, LotusReader* r) {
  FreeRowFormats(r);
  if (!r->threeD) return true;
  constexpr uint8_t kRuns = 0, kCopy = 2;
  uint32_t rows = 0;
  size_t runCount = 0;
  Record rec;
  size_t pos = 0;
  for (;;) {
    const Step st = RecordAt(r, pos, &rec);
    if (st == Step::kDamaged) {
      PushWithFile(kErrLotusFile, s->file);
      return false;
    }
    if (st == Step::kEnd || rec.type == kRecEof) break;
    pos += 4 + rec.length;
    if (rec.type != kRec3RowFormat) continue;
    const uint8_t subtype = rec.length >= 4 ? rec.data[3] : 0;
    if (rec.length < 4 || (subtype == kRuns && rec.length % 2 != 0) ||
        (subtype == kCopy && rec.length < 6)) {
      PushWithFile(kErrRowFormats, s->file);
      return false;
    }
    if (rec.data[2] != r->sheet || (subtype != kRuns && subtype != kCopy)) continue;
    rows = std::max<uint32_t>(rows, uint32_t(QLoadU16LE(rec.data)) + 1);
    if (subtype == kRuns) runCount += (rec.length - 4) / 2;
    if (runCount > kMaxFormatRuns) {
      PushWithFile(kErrRowFormats, s->file);
      return false;
    }
  }
  if (rows == 0) return true;
  r->runs = static_cast<uint8_t*>(MemAlloc(2 * runCount + 1));
  r->rowRuns = static_cast<RowRuns*>(MemAlloc(sizeof(RowRuns) * rows));
  if (!r->runs || !r->rowRuns) {
    FreeRowFormats(r);
    PushNoMemory();
    PushWithFile(kErrRowFormats, s->file);
    return false;
  }
  std::memset(r->rowRuns, 0, sizeof(RowRuns) * rows);
  r->formatRows = rows;
  uint16_t used = 0;
  pos = 0;
  while (RecordAt(r, pos, &rec) == Step::kRecord && rec.type != kRecEof) {
    pos += 4 + rec.length;
    if (rec.type != kRec3RowFormat || rec.data[2] != r->sheet) continue;
    const uint16_t row = QLoadU16LE(rec.data);
    if (rec.data[3] == kRuns) {
      const uint16_t count = uint16_t((rec.length - 4) / 2);
      std::memcpy(r->runs + 2 * size_t(used), rec.data + 4, 2 * size_t(count));
      r->rowRuns[row] = RowRuns{used, count};
      used = uint16_t(used + count);
    } else if (rec.data[3] == kCopy) {
      const uint16_t from = QLoadU16LE(rec.data + 4);
      r->rowRuns[row] = from < rows ? r->rowRuns[from] : RowRuns{0, 0};
    }
  }
  return true;
}

// The index of the range's cell records by row, built in two passes.
bool BuildIndex(DataSource* s, LotusReader* r) {
  FreeIndex(r);
  const uint32_t rows = RowCount(r);
  r->rowStart = static_cast<uint32_t*>(MemAlloc(sizeof(uint32_t) * (size_t(rows) + 1)));
  if (!r->rowStart) {
    PushNoMemory();
    return false;
  }
  std::memset(r->rowStart, 0, sizeof(uint32_t) * (size_t(rows) + 1));
  size_t total = 0;
  bool ok = ForEachCell(s, r, [&](const Record&, const Cell& c) {
    if (InRange(r, c)) {
      ++r->rowStart[c.row - r->firstRow + 1];
      ++total;
    }
  });
  if (!ok) {
    FreeIndex(r);
    return false;
  }
  for (uint32_t k = 1; k <= rows; ++k) r->rowStart[k] += r->rowStart[k - 1];
  r->cells = static_cast<uint32_t*>(MemAlloc(sizeof(uint32_t) * (total + 1)));
  uint32_t* fill = static_cast<uint32_t*>(MemAlloc(sizeof(uint32_t) * (size_t(rows) + 1)));
  if (!r->cells || !fill) {
    MemFree(fill);
    FreeIndex(r);
    PushNoMemory();
    return false;
  }
  std::memcpy(fill, r->rowStart, sizeof(uint32_t) * (size_t(rows) + 1));
  ForEachCell(s, r, [&](const Record& rec, const Cell& c) {
    if (InRange(r, c)) r->cells[fill[c.row - r->firstRow]++] = uint32_t(rec.at);
  });
  MemFree(fill);
  r->indexedSize = r->size;
  return true;
}

// Converts a cell's text to the library charset in the reader's buffer.
const char* CellText(LotusReader* r, const Cell& c) {
  const size_t need = c.textLength * 3 + 1;
  if (need > r->textCapacity) {
    char* text = static_cast<char*>(MemAlloc(need));
    if (!text) return nullptr;
    MemFree(r->text);
    r->text = text;
    r->textCapacity = need;
  }
  std::memcpy(r->text, c.text, c.textLength);
  r->text[c.textLength] = 0;
  if (r->threeD) {
    CharsetFromLmbcs(r->lmbcsGroup, r->text);
  } else {
    CharsetConvert(r->text, kCharsetLics, CurrentTableCharset(), r->textCapacity);
  }
  return r->text;
}

// Attaches, describes: the reader made, the file read, the range determined
// and indexed. On failure nothing is left.
bool Prepare(DataSource* s) {
  LotusReader* r = NewReader(s);
  if (!r) return false;
  if (!LoadFile(s, r) || !DetermineRange(s, r) || !LoadRowFormats(s, r) || !BuildIndex(s, r)) {
    FreeReader(s);
    return false;
  }
  s->rowCount = RowCount(r);
  return true;
}

// ----- driver hooks -------------------------------------------------------------

int16_t LotusClose(DataSource* s) {
  FreeReader(s);
  MemFree(s->params.ptr[2]);
  s->params.ptr[2] = nullptr;
  return 1;
}

int16_t LotusAttach(DataSource* s, FieldDef*, int32_t* count) {
  if (!Prepare(s)) {
    LotusClose(s);
    return 0;
  }
  LotusReader* r = ReaderOf(s);
  if (count && int64_t(*count) != int64_t(ColumnCount(r))) {
    ErrorPush(kErrorSeverity, kErrColumnCount, nullptr, nullptr);
    LotusClose(s);
    return 0;
  }
  FreeBytes(r);  // held again from the next open
  return 1;
}

// The file is only ever read: an open for writing (a table opened for
// read-write as a whole) reads it too, and the dispatcher refuses every
// change of a worksheet's rows.
int16_t LotusOpen(DataSource* s, int) {
  LotusReader* r = ReaderOf(s);
  if (!r) return 0;
  if (!LoadFile(s, r)) return 0;
  // The file changed since it was indexed: index it again.
  if (r->size != r->indexedSize && (!LoadRowFormats(s, r) || !BuildIndex(s, r))) {
    FreeBytes(r);
    return 0;
  }
  return 1;
}

int16_t LotusRelease(DataSource* s) {
  if (LotusReader* r = ReaderOf(s)) FreeBytes(r);
  return 1;
}

int16_t LotusRead(DataSource* s, FieldDef* columns, uint32_t row, uint8_t* deleted) {
  if (deleted) *deleted = 0;
  LotusReader* r = ReaderOf(s);
  if (!r || !r->data || !r->rowStart || row == 0 || row > RowCount(r)) return 0;
  ColumnValuesBlank(columns, s->columnCount);
  const uint32_t count = std::min<uint32_t>(ColumnCount(r), uint32_t(s->columnCount));
  for (uint32_t k = r->rowStart[row - 1]; k < r->rowStart[row]; ++k) {
    Record rec;
    Cell c;
    bool damaged;
    if (RecordAt(r, r->cells[k], &rec) != Step::kRecord || !CellOf(r, rec, &c, &damaged) ||
        !InRange(r, c)) {
      continue;
    }
    const uint32_t at = c.column - r->firstColumn;
    if (at >= count) continue;
    Value v{};
    switch (c.letter) {
      case 'i':
        v.kind = kValueSmallInt;
        v.u.s = int16_t(c.i);
        break;
      case 'd':
      case 'f':
        v.kind = kValueFloat;
        v.u.d = c.d;
        break;
      case 't':
        v.kind = kValueDate;
        v.u.date = c.date;
        break;
      case 's':
      case 'g': {
        const char* text = CellText(r, c);
        if (!text) continue;
        v.kind = kValueBorrowedText;
        v.u.p = const_cast<char*>(text);
        break;
      }
      default:
        continue;
    }
    ValueAssign(&columns[at].value, &v, 0);
  }
  s->currentRow = row;
  return 1;
}

// ----- describe ---------------------------------------------------------------

struct Guess {
  uint8_t type;  // 0 none yet
  uint8_t decimals;
  uint16_t width;
};

void Combine(Guess& g, uint8_t type, int width, int decimals) {
  g.width = uint16_t(std::max<int>(g.width, width));
  const uint8_t t = g.type;
  if (t == 0) {
    g.type = type;
    g.decimals = uint8_t(decimals);
    return;
  }
  if (t == kFieldChar || type == kFieldChar) {
    g.type = kFieldChar;
  } else if (t == kFieldFloat || type == kFieldFloat) {
    g.type = kFieldFloat;
  } else if (type == kFieldDecimal || t == kFieldDecimal) {
    g.decimals = uint8_t(std::max<int>(type == kFieldDecimal ? decimals : 0, g.decimals));
    g.type = kFieldDecimal;
  } else if (t == type) {
  } else if ((t == kFieldInteger && type == kFieldSmallint) ||
             (t == kFieldSmallint && type == kFieldInteger)) {
    g.type = kFieldInteger;
  } else {
    g.type = kFieldChar;
  }
}

void GuessNumber(Guess& g, uint8_t format) {
  const uint8_t f = format & 0x7F;
  if (f == 0x7F) {
    Combine(g, kFieldFloat, 10, 0);
  } else if (((f >> 4) & 7) == 0) {
    Combine(g, kFieldDecimal, 10, f & 0x0F);
  } else {
    Combine(g, kFieldFloat, 10, 0);
  }
}

// Column widths of the column-width records: classic record 8, one column
// each; three-dimensional record 7, the columns of one sheet.
void StartWidths(const LotusReader* r, Guess* guess) {
  auto set = [&](uint32_t column, uint8_t width) {
    if (column >= r->firstColumn && column <= r->lastColumn)
      guess[column - r->firstColumn].width = width;
  };
  Record rec;
  size_t pos = 0;
  while (RecordAt(r, pos, &rec) == Step::kRecord && rec.type != kRecEof) {
    pos += 4 + rec.length;
    if (!r->threeD && rec.type == kRecColumnWidth && rec.length >= 3) {
      set(QLoadU16LE(rec.data), rec.data[2]);
    } else if (r->threeD && rec.type == kRec3ColumnWidth && rec.length >= 2 &&
               rec.data[0] == r->sheet) {
      for (size_t k = 2; k + 2 <= rec.length; k += 2) set(rec.data[k], rec.data[k + 1]);
    }
  }
}

int16_t LotusDescribe(DataSource* s, TableObject* table) {
  if (!Prepare(s)) {
    LotusClose(s);
    return 0;
  }
  LotusReader* r = ReaderOf(s);
  const uint32_t count = ColumnCount(r);
  Guess guess[kMaxRangeColumns] = {};
  StartWidths(r, guess);
  auto* defs = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * count));
  if (!defs) {
    PushNoMemory();
    LotusClose(s);
    return 0;
  }
  std::memset(defs, 0, sizeof(FieldDef) * count);
  const bool titles = s->params.Half(kTitlesHalf) != 0 && r->firstRow > 0;
  bool lastWasFormula = false;
  uint32_t formulaColumn = 0;
  bool ok = ForEachCell(s, r, [&](const Record& rec, const Cell& c) {
    const bool inColumns = c.sheet == r->sheet && c.column >= r->firstColumn &&
                           c.column <= r->lastColumn;
    const bool textResult = rec.type == kRecFormulaText || rec.type == kRec3FormulaText;
    if (!inColumns) {
      lastWasFormula = false;
      return;
    }
    const uint32_t at = c.column - r->firstColumn;
    if (titles && c.row + 1 == r->firstRow) {
      char name[kMaxTitle + 16] = "";
      switch (c.letter) {
        case 'i':
          std::snprintf(name, sizeof name, "%d", int(c.i));
          break;
        case 'd':
        case 'f':
          std::snprintf(name, sizeof name, "%g", c.d);
          break;
        case 't':
          std::snprintf(name, sizeof name, "%4.4d%2.2d%2.2d", c.date.year, c.date.month,
                        c.date.day);
          break;
        case 's':
        case 'g':
          if (const char* text = CellText(r, c)) StrCopyPadded(name, text, kMaxTitle + 1);
          break;
        default:
          break;
      }
      name[kMaxColumnName] = 0;
      IdentMakeValid(name);
      std::memcpy(defs[at].name, name, sizeof defs[at].name);
      defs[at].name[kMaxColumnName] = 0;
    }
    if (c.row < r->firstRow || c.row > r->lastRow) return;
    Guess& g = guess[at];
    if (textResult) {
      // The text result of the formula just before: the formula's column is
      // text.
      if (lastWasFormula && formulaColumn == at) {
        Combine(g, kFieldChar, int(std::min<size_t>(c.textLength, 254)), 0);
      }
      lastWasFormula = false;
      return;
    }
    lastWasFormula = rec.type == kRecFormula || rec.type == kRec3Formula;
    formulaColumn = at;
    switch (c.letter) {
      case 'i':
        Combine(g, kFieldSmallint, 6, 0);
        break;
      case 't':
        Combine(g, kFieldDate, 10, 0);
        break;
      case 'd':
      case 'f':
        GuessNumber(g, c.format);
        break;
      case 's':
        Combine(g, kFieldChar, int(std::min<size_t>(std::max<size_t>(c.textLength, 1), 254)),
                0);
        break;
      default:
        break;
    }
  });
  if (!ok) {
    MemFree(defs);
    LotusClose(s);
    return 0;
  }
  for (uint32_t k = 0; k < count; ++k) {
    FieldDef& column = defs[k];
    Guess& g = guess[k];
    if (g.type == 0) {
      column.value.kind = kFieldChar;
      column.width = 1;
    } else {
      column.value.kind = g.type;
      column.width = uint8_t(std::clamp<int>(g.width, 1, 254));
      column.decimals = g.type == kFieldDecimal ? g.decimals : 0;
      if (g.type == kFieldDecimal && g.width >= 20) {
        column.value.kind = kFieldFloat;
        column.decimals = 0;
      }
      if (column.value.kind == kFieldDecimal && column.width <= column.decimals + 1)
        column.width = uint8_t(column.decimals + 2);
    }
    if (!column.name[0]) ColumnLetters(r->firstColumn + k, column.name);
  }
  MemFree(table->fields);
  table->fields = defs;
  table->fieldCount = count;
  s->columnCount = int32_t(count);
  FreeBytes(r);
  return 1;
}

}  // namespace

// The column letters of a sheet column: 0 "A", 26 "AA". `out` holds 8 bytes.
void SheetColumnName(uint32_t column, char* out) { ColumnLetters(column, out); }

const DataDriver* LotusDataDriver() {
  static const DataDriver driver = {
      nullptr,   LotusAttach, LotusDescribe, LotusOpen, LotusRelease,
      LotusRead, nullptr,     nullptr,       LotusClose, nullptr,
  };
  return &driver;
}

}  // namespace layerio
