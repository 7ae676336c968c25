// The delimited-text driver (kinds 3 and 12): a table's rows are the lines
// of a text file, one row a line, fields separated by one delimiter byte,
// text fields in double quotes, optionally under a title line that names the
// columns. Rows are read by line number and appended at the end; a line
// cannot be rewritten in place.
//
// Driver state in the source's parameters: ptr[0] line buffer A (the line
// being split), ptr[1] line buffer B (a copy of the last row read, and where
// the file's stream stands); byte 8 the delimiter, byte 9 the title flag,
// word 3 the file's charset, word 4 the mode of the current open. The
// source's driverFlag marks that the file is held open for reading between
// opens, so that the next read needs no open of its own.
//
// A line is one row whatever its length: the line buffers grow to hold it,
// so a long line never spills into the next row's number. Lines this driver
// writes stay below kLineLimit bytes, the limit other readers of these files
// hold to.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/table.h"

namespace layerio {

namespace {

constexpr int kMaxTextColumns = 250;
constexpr int kMaxLineFields = 254;
constexpr int kMaxTextWidth = 254;
constexpr size_t kLineLimit = 4095;            // a written line stays below it
constexpr size_t kLineInitial = 4096;          // the buffers' first size
constexpr size_t kLinePiece = 4096;            // what one read of the file layer takes
constexpr size_t kLineMost = size_t(1) << 30;  // a longer line is refused
constexpr size_t kValueTextSize = 256;
constexpr int kDelimiterByte = 8;
constexpr int kTitleByte = 9;
constexpr int kWordCharset = 3;
constexpr int kWordMode = 4;
constexpr uint16_t kHeldForReading = 1;

// A growable line buffer. Buffer B also records the data line it holds and
// the line the file's stream reads next (0: unknown, the next read rewinds).
struct LineBuffer {
  char* text;
  size_t capacity;
  size_t length;
  uint32_t row;
  uint32_t next;
};

LineBuffer* BufferA(const DataSource* s) { return static_cast<LineBuffer*>(s->params.ptr[0]); }
LineBuffer* BufferB(const DataSource* s) { return static_cast<LineBuffer*>(s->params.ptr[1]); }

char Delimiter(const DataSource* s) {
  uint8_t d = s->params.Byte(kDelimiterByte);
  if (d) return char(d);
  return s->kind == kDataCsv ? ',' : '\t';
}
bool HasTitles(const DataSource* s) { return s->params.Byte(kTitleByte) != 0; }
int FileCharset(const DataSource* s) { return int(s->params.words[kWordCharset]); }
bool Held(const DataSource* s) { return (s->driverFlag & kHeldForReading) != 0; }

void PushNoMemory() { ErrorPush(kErrorSeverity, kErrAllocFailed, nullptr, nullptr); }

bool Grow(LineBuffer* b, size_t need) {
  if (need <= b->capacity) return true;
  size_t capacity = std::max(b->capacity * 2, need);
  if (capacity > kLineMost) {
    PushNoMemory();
    return false;
  }
  char* text = static_cast<char*>(MemAlloc(capacity));
  if (!text) {
    PushNoMemory();
    return false;
  }
  std::memcpy(text, b->text, b->length + 1);
  MemFree(b->text);
  b->text = text;
  b->capacity = capacity;
  return true;
}

LineBuffer* NewBuffer() {
  auto* b = static_cast<LineBuffer*>(MemAlloc(sizeof(LineBuffer)));
  char* text = static_cast<char*>(MemAlloc(kLineInitial));
  if (!b || !text) {
    MemFree(b);
    MemFree(text);
    PushNoMemory();
    return nullptr;
  }
  text[0] = 0;
  *b = LineBuffer{text, kLineInitial, 0, 0, 0};
  return b;
}

void FreeBuffer(void*& slot) {
  if (auto* b = static_cast<LineBuffer*>(slot)) {
    MemFree(b->text);
    MemFree(b);
  }
  slot = nullptr;
}

bool AllocBuffers(DataSource* s, bool both) {
  if (!s->params.ptr[0] && !(s->params.ptr[0] = NewBuffer())) return false;
  if (both && !s->params.ptr[1] && !(s->params.ptr[1] = NewBuffer())) return false;
  return true;
}

void FreeBuffers(DataSource* s) {
  FreeBuffer(s->params.ptr[0]);
  FreeBuffer(s->params.ptr[1]);
}

// Blanks and control characters. A trail byte of a double-byte character is
// never one of them, so lines and fields are trimmed from their end.
inline bool Strippable(unsigned char c) { return c <= ' ' || c == 0x7F; }

size_t TrimmedLength(const char* text, size_t n) {
  while (n > 0 && Strippable(static_cast<unsigned char>(text[n - 1]))) --n;
  return n;
}

// Reads the next line of the file into `b` whole, its line end and trailing
// blanks dropped. The file layer hands out a line in pieces of the room it
// is given; a piece that fills its room without a line end is continued.
// The room is the same for every piece, so that where a line ends depends
// on the file alone (a NUL byte hides the rest of its piece from the file
// layer): every pass over the file finds the same lines.
enum class LineRead { kLine, kEnd, kFailed };

LineRead ReadLine(FileHandle file, LineBuffer* b) {
  constexpr size_t room = kLinePiece;
  size_t length = 0;
  b->text[0] = 0;
  b->length = 0;
  for (;;) {
    if (b->capacity - length < room) {
      b->length = length;
      if (!Grow(b, b->capacity * 2)) return LineRead::kFailed;
    }
    char* at = b->text + length;
    // Markers: the file layer leaves the first unless it reads a piece, and
    // the last unless the piece fills the room.
    at[0] = 1;
    at[room - 1] = 1;
    const bool got = FileReadLine(at, int(room), file) != nullptr;
    if (!got && at[0] != 0) {
      at[0] = 0;
      if (length == 0) return LineRead::kEnd;
      break;  // the last line, without a line end
    }
    // Read, or a piece that begins with a NUL byte.
    const bool filled = at[room - 1] == 0;
    const size_t n = got ? std::strlen(at) : 0;
    at[n] = 0;
    length += n;
    if (n > 0 && at[n - 1] == '\n') break;
    if (!filled || at[room - 2] == '\n') break;
  }
  b->length = TrimmedLength(b->text, length);
  b->text[b->length] = 0;
  return LineRead::kLine;
}

void CopyLine(LineBuffer* to, const LineBuffer* from) {
  if (!Grow(to, from->length + 1)) return;
  std::memcpy(to->text, from->text, from->length + 1);
  to->length = from->length;
}

// ----- splitting a line into fields -----------------------------------------

// Walks the fields of one line in place: each field is terminated inside the
// line buffer. A quoted field keeps its quotes (inner quotes still doubled);
// the text after its closing quote up to the delimiter is dropped.
class FieldSplitter {
 public:
  FieldSplitter(char* line, char delimiter)
      : p_(line),
        delimiter_(delimiter),
        charset_(CharsetSystem()),
        dbcs_(CharsetIsDoubleByte(charset_) != 0) {}

  // The next field, or null when the line has no more.
  char* Next() {
    while (*p_ == ' ') ++p_;
    if (!*p_) {
      if (!afterDelimiter_) return nullptr;
      afterDelimiter_ = false;
      return p_;  // the empty field after a final delimiter
    }
    char* start = p_;
    char* r = p_;
    if (*r == '"') {
      char* w = r + 1;
      ++r;
      for (;;) {
        const char c = *r;
        if (!c) break;  // no closing quote: the field runs to the line's end
        if (c == '"') {
          if (r[1] == '"') {
            *w++ = '"';
            *w++ = '"';
            r += 2;
            continue;
          }
          *w++ = '"';
          ++r;
          break;
        }
        if (Lead(r)) {
          *w++ = r[0];
          *w++ = r[1];
          r += 2;
          continue;
        }
        *w++ = c == '\t' ? ' ' : c;
        ++r;
      }
      while (*r && *r != delimiter_) r += Lead(r) ? 2 : 1;
      End(r);
      *w = 0;
      return start;
    }
    if (!dbcs_) {
      for (; *r && *r != delimiter_; ++r) {
        if (*r == '\t') *r = ' ';
      }
    } else {
      while (*r && *r != delimiter_) {
        if (Lead(r)) {
          r += 2;
          continue;
        }
        if (*r == '\t') *r = ' ';
        ++r;
      }
    }
    End(r);
    *r = 0;
    return start;
  }

 private:
  bool Lead(const char* r) const { return dbcs_ && r[1] && CharsetIsLeadByte(r, charset_); }

  // Steps past the delimiter that ends a field (at r), or stays at the end.
  void End(char* r) {
    if (*r) {
      p_ = r + 1;
      afterDelimiter_ = true;
    } else {
      p_ = r;
      afterDelimiter_ = false;
    }
  }

  char* p_;
  char delimiter_;
  int charset_;
  bool dbcs_;
  bool afterDelimiter_ = false;
};

// A field's text as a column reads it: trailing blanks dropped, enclosing
// quotes removed and inner quotes undoubled, in place. The length is
// returned.
size_t FieldValueText(char* field) {
  size_t n = TrimmedLength(field, std::strlen(field));
  field[n] = 0;
  if (field[0] != '"') return n;
  StrUnquote(field, field, "\"", n + 1);
  return std::strlen(field);
}

// ----- open and release -----------------------------------------------------

// Back to the first data line: the start of the file, past the title line.
bool Rewind(DataSource* s) {
  LineBuffer* a = BufferA(s);
  LineBuffer* b = BufferB(s);
  b->next = 0;
  if (FileStreamSeek(s->file, 0, 0) != 0) return false;
  if (HasTitles(s) && ReadLine(s->file, a) == LineRead::kFailed) return false;
  b->next = 1;
  return true;
}

int16_t TextOpen(DataSource* s, int mode) {
  if (!AllocBuffers(s, true)) return 0;
  s->params.words[kWordMode] = uint32_t(mode);
  if (FileSetCharset(s->file, FileCharset(s)) < 0) return 0;
  if (mode != kFileModeRead && Held(s)) {
    FileClose(s->file);
    s->driverFlag &= uint16_t(~kHeldForReading);
  }
  if (!FileOpenText(s->file, mode, nullptr)) {
    s->params.words[kWordMode] = 0;
    return 0;
  }
  LineBuffer* a = BufferA(s);
  LineBuffer* b = BufferB(s);
  a->text[0] = 0;
  a->length = 0;
  b->row = 0;
  b->next = 0;
  if (HasTitles(s) && ReadLine(s->file, a) == LineRead::kFailed) {
    FileClose(s->file);
    s->params.words[kWordMode] = 0;
    return 0;
  }
  b->next = 1;
  s->currentRow = 0;
  return 1;
}

// Holds the file open for reading between opens.
bool HoldForReading(DataSource* s) {
  if (Held(s)) return true;
  if (!FileOpenText(s->file, kFileModeRead, nullptr)) return false;
  s->driverFlag |= kHeldForReading;
  return true;
}

int16_t TextRelease(DataSource* s) {
  const uint32_t mode = s->params.words[kWordMode];
  s->params.words[kWordMode] = 0;
  if (LineBuffer* b = BufferB(s)) {
    b->row = 0;
    b->next = 0;
  }
  if (FileClose(s->file) != 0) return 0;
  if (mode == kFileModeWrite || mode == kFileModeCreate) return HoldForReading(s) ? 1 : 0;
  return 1;
}

int16_t TextClose(DataSource* s) {
  if (Held(s)) {
    FileClose(s->file);
    s->driverFlag &= uint16_t(~kHeldForReading);
  }
  FreeBuffers(s);
  return 1;
}

// ----- create and attach ----------------------------------------------------

// Appends `text` and a delimiter (unless first) to the line; false when the
// line would reach the limit.
bool AppendField(LineBuffer* line, const char* text, bool first, char delimiter) {
  size_t n = std::strlen(text);
  size_t need = line->length + (first ? 0 : 1) + n;
  if (need >= kLineLimit) return false;
  if (!first) line->text[line->length++] = delimiter;
  std::memcpy(line->text + line->length, text, n + 1);
  line->length += n;
  return true;
}

bool WriteLine(FileHandle file, LineBuffer* line) {
  line->text[line->length] = '\n';
  line->text[line->length + 1] = 0;
  bool ok = FilePuts(line->text, file) == 0;
  line->text[line->length] = 0;
  return ok;
}

int16_t TextCreate(DataSource* s, FieldDef* columns, int32_t count) {
  if (count > kMaxTextColumns) {
    ErrorPush(kErrorSeverity, kErrTooManyColumns, nullptr, nullptr);
    return 0;
  }
  if (!AllocBuffers(s, false)) return 0;
  if (FileSetCharset(s->file, FileCharset(s)) < 0) return 0;
  if (!FileOpenText(s->file, kFileModeCreate, nullptr)) return 0;
  bool ok = true;
  if (HasTitles(s)) {
    LineBuffer* line = BufferA(s);
    line->length = 0;
    line->text[0] = 0;
    const char delimiter = Delimiter(s);
    char quoted[2 * sizeof columns->name + 3];
    for (int32_t i = 0; ok && i < count; ++i) {
      ok = StrQuoteDefault(quoted, columns[i].name, sizeof quoted) &&
           AppendField(line, quoted, i == 0, delimiter);
    }
    ok = ok && WriteLine(s->file, line);
  }
  if (FileClose(s->file) != 0) ok = false;
  return ok ? 1 : 0;
}

int16_t TextAttach(DataSource* s, FieldDef*, int32_t*) {
  // A failed attach leaves neither buffers nor a held file behind: the
  // dispatcher only drops the file's entry.
  if (!AllocBuffers(s, true) || FileSetCharset(s->file, FileCharset(s)) < 0) {
    TextClose(s);
    return 0;
  }
  // Held first: a further open of the file rewinds its stream, so the count
  // below starts past the title line.
  if (!HoldForReading(s) || !TextOpen(s, kFileModeRead)) {
    TextClose(s);
    return 0;
  }
  uint32_t rows = 0;
  LineRead r;
  while ((r = ReadLine(s->file, BufferA(s))) == LineRead::kLine) ++rows;
  s->rowCount = rows;
  if (!TextRelease(s) || r != LineRead::kEnd) {
    TextClose(s);
    return 0;
  }
  // Comma text is only created and described: it is never opened or closed
  // through this driver again, so it holds nothing past the attach.
  if (s->kind == kDataCsv) TextClose(s);
  return 1;
}

// ----- reading rows ---------------------------------------------------------

// A Char column takes the field's text cut to its width, never inside a
// double-byte character.
void ReadCharColumn(FieldDef& column, const char* text, size_t n) {
  char* p = nullptr;
  ValueData(&column.value, &p);
  if (!p) return;
  const size_t width = column.width;
  if (n > width) {
    const int charset = CharsetSystem();
    size_t cut = 0;
    if (CharsetIsDoubleByte(charset)) {
      while (cut < width) {
        size_t step = CharsetIsLeadByte(text + cut, charset) && text[cut + 1] ? 2 : 1;
        if (cut + step > width) break;
        cut += step;
      }
    } else {
      cut = width;
    }
    n = cut;
  }
  std::memcpy(p, text, n);
  p[n] = 0;
}

// Puts line `row` into buffer A: from buffer B when it holds that line,
// reading forward from where the stream stands, or from the start again.
bool LoadRow(DataSource* s, uint32_t row) {
  LineBuffer* a = BufferA(s);
  LineBuffer* b = BufferB(s);
  if (b->row == row) {
    CopyLine(a, b);
    return a->length == b->length;
  }
  if (b->next == 0 || b->next > row) {
    if (!Rewind(s)) return false;
  }
  b->row = 0;
  while (b->next <= row) {
    if (ReadLine(s->file, a) != LineRead::kLine) {
      // The stream stands at the end; a later read of an earlier row
      // rewinds.
      return false;
    }
    ++b->next;
  }
  CopyLine(b, a);
  if (b->length != a->length) return false;
  b->row = row;
  return true;
}

int16_t TextRead(DataSource* s, FieldDef* columns, uint32_t row, uint8_t* deleted) {
  if (deleted) *deleted = 0;
  if (!BufferA(s) || !BufferB(s) || row == 0) return 0;
  if (!LoadRow(s, row)) {
    s->currentRow = 0;
    return 0;
  }
  FieldSplitter fields(BufferA(s)->text, Delimiter(s));
  for (int32_t i = 0; i < s->columnCount; ++i) {
    FieldDef& column = columns[i];
    char* field = fields.Next();
    char empty[1] = {0};
    if (!field) field = empty;
    size_t n = FieldValueText(field);
    switch (column.value.kind) {
      case kFieldChar:
        ReadCharColumn(column, field, n);
        break;
      case kFieldDecimal:
      case kFieldInteger:
      case kFieldSmallint:
      case kFieldDate:
      case kFieldLogical:
      case kFieldFloat:
        // A field that does not parse leaves the column's empty value, as
        // the dBASE driver does for its text fields.
        ValueParseField(field, column.value.kind, column.width, column.decimals, 0, &column.value,
                        0);
        break;
      default:
        return 0;
    }
  }
  s->currentRow = row;
  return 1;
}

// ----- appending rows -------------------------------------------------------

bool IsTextValue(uint8_t kind) {
  return kind == kValueText || kind == kValueBorrowedText || kind == kValueFixedText ||
         kind == kValueIdentifier || kind == kValueBorrowedIdentifier;
}

int16_t TextInsert(DataSource* s, FieldDef* columns, uint32_t* row) {
  LineBuffer* line = BufferA(s);
  if (!line) return 0;
  const char delimiter = Delimiter(s);
  line->length = 0;
  line->text[0] = 0;
  char text[kValueTextSize];
  char quoted[2 * kValueTextSize + 3];
  for (int32_t i = 0; i < s->columnCount; ++i) {
    const FieldDef& column = columns[i];
    ValueFormatDecimals(&column.value, text, sizeof text, column.decimals, 0);
    const char* field = text;
    if (IsTextValue(column.value.kind)) {
      // A line end inside a value would end the row when the file is read:
      // it is written as a blank.
      for (char* p = text; *p; ++p) {
        if (*p == '\n' || *p == '\r') *p = ' ';
      }
      if (!StrQuoteDefault(quoted, text, sizeof quoted)) return 0;
      field = quoted;
    }
    if (!AppendField(line, field, i == 0, delimiter)) return 0;
  }
  if (FileStreamSeek(s->file, 0, 2) != 0) return 0;
  // The stream now stands at the end: the next read finds its line afresh.
  if (LineBuffer* b = BufferB(s)) b->next = 0;
  if (!WriteLine(s->file, line)) return 0;
  *row = s->rowCount + 1;
  s->currentRow = *row;
  return 1;
}

// ----- describing a file ----------------------------------------------------

struct ColumnGuess {
  uint8_t type;  // 0 none yet
  uint8_t width;
};

void Classify(ColumnGuess& column, char* field) {
  size_t raw = TrimmedLength(field, std::strlen(field));
  field[raw] = 0;
  // The classifier sees at most 256 bytes: a longer field is text.
  int kind = raw > kValueTextSize - 1 ? int(kValueText) : TextValueKind(field);
  size_t n = FieldValueText(field);
  column.width = uint8_t(std::clamp<size_t>(std::max<size_t>(column.width, n), 1, kMaxTextWidth));
  const uint8_t t = column.type;
  switch (kind) {
    case kValueNone:
      break;
    case kValueSmallInt:
      if (t != kFieldChar && t != kFieldFloat && t != kFieldInteger) column.type = kFieldSmallint;
      break;
    case kValueInteger:
      if (t != kFieldChar && t != kFieldFloat) column.type = kFieldInteger;
      break;
    case kValueDecimal:
      if (t != kFieldChar) column.type = kFieldFloat;
      break;
    default:
      column.type = kFieldChar;
      break;
  }
}

int32_t CountFields(char* line, char delimiter) {
  FieldSplitter fields(line, delimiter);
  int32_t n = 0;
  while (fields.Next()) ++n;
  return n;
}

int16_t DescribeColumns(DataSource* s, TableObject* table, ColumnGuess* guess, char** title) {
  const char delimiter = Delimiter(s);
  LineBuffer* a = BufferA(s);
  int32_t count = 0;
  if (HasTitles(s)) {
    *title = static_cast<char*>(MemAlloc(a->length + 1));
    if (!*title) {
      PushNoMemory();
      return 0;
    }
    std::memcpy(*title, a->text, a->length + 1);
    count = CountFields(a->text, delimiter);
  } else {
    LineRead r = ReadLine(s->file, a);
    if (r == LineRead::kFailed) return 0;
    if (r == LineRead::kLine) count = CountFields(a->text, delimiter);
    if (!Rewind(s)) return 0;
  }
  count = std::max(count, 1);
  if (count > kMaxTextColumns) {
    ErrorPush(kErrorSeverity, kErrTooManyColumns, nullptr, nullptr);
    return 0;
  }
  uint32_t rows = 0;
  LineRead r;
  while ((r = ReadLine(s->file, a)) == LineRead::kLine) {
    ++rows;
    FieldSplitter fields(a->text, delimiter);
    int32_t i = 0;
    for (char* field; i < kMaxLineFields && (field = fields.Next()); ++i) {
      if (i >= count) {
        if (i >= kMaxTextColumns) {
          ErrorPush(kErrorSeverity, kErrTooManyColumns, nullptr, nullptr);
          return 0;
        }
        count = i + 1;
      }
      Classify(guess[i], field);
    }
  }
  if (r == LineRead::kFailed) return 0;
  s->rowCount = rows;

  auto* defs = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * size_t(count)));
  if (!defs) {
    ErrorPush(kErrorSeverity, kErrNoMemory, nullptr, nullptr);
    return 0;
  }
  std::memset(defs, 0, sizeof(FieldDef) * size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    FieldDef& column = defs[i];
    column.value.kind = guess[i].type ? guess[i].type : uint8_t(kFieldChar);
    column.width = guess[i].type ? guess[i].width : 1;
    std::snprintf(column.name, sizeof column.name, "COL%u", unsigned(i + 1));
  }
  if (*title) {
    FieldSplitter titles(*title, delimiter);
    char* field;
    for (int32_t i = 0; i < count && (field = titles.Next()); ++i) {
      FieldValueText(field);
      char name[sizeof defs->name];
      StrCopyPadded(name, field, kMaxColumnName + 1);
      IdentMakeValid(name);
      if (name[0]) std::memcpy(defs[i].name, name, sizeof name);
    }
  }
  MemFree(table->fields);
  table->fields = defs;
  table->fieldCount = uint32_t(count);
  return 1;
}

int16_t TextDescribe(DataSource* s, TableObject* table) {
  if (!AllocBuffers(s, true)) return 0;
  if (!TextOpen(s, kFileModeRead)) {
    FreeBuffers(s);
    return 0;
  }
  ColumnGuess guess[kMaxTextColumns] = {};
  char* title = nullptr;
  int16_t ok = DescribeColumns(s, table, guess, &title);
  MemFree(title);
  if (!TextRelease(s)) ok = 0;
  FreeBuffers(s);
  return ok;
}

}  // namespace

const DataDriver* TextDataDriver() {
  static const DataDriver driver = {
      TextCreate, TextAttach, TextDescribe, TextOpen,  TextRelease,
      TextRead,   TextInsert, nullptr,      TextClose, nullptr,
  };
  return &driver;
}

}  // namespace layerio
