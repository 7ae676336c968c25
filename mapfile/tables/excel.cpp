// The Excel workbook driver (kind 4, read only): a table's rows are a
// rectangular range of one sheet's cells, read from the BIFF records of a
// workbook of any version from BIFF2 to BIFF8.
//
// BIFF2-4 files are one worksheet whose records start at the first byte.
// BIFF5 and BIFF8 workbooks live in the `Workbook` (or `Book`) stream of a
// compound document; a bare BIFF5/8 record stream is read as well. The
// record stream is held in memory: the globals (sheets, names, formats,
// shared strings) are read once at attach, and each open reads the stream
// again and indexes the range's cells by row, so that rows are found in
// constant time in any order.
//
// Every length inside a record is checked against the record's own length:
// a damaged file is a status (and an error), never a read past a record.
//
// Driver state: params.ptr[1] the reader, ptr[2] the range text (null for
// the active range; the source's own: close frees it, and so does an attach
// that fails); word 3 first column and word 4 first row are filled from the
// range, the 16-bit word at byte 28 is the titles flag.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/charset_tables.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/value.h"
#include "mapfile/tables/cfb.h"
#include "mapfile/tables/table.h"
#include "platform/calendar.h"
#include "platform/endian.h"

namespace layerio {

namespace {

// ----- codes and constants --------------------------------------------------

enum XlsError : int16_t {
  kErrXlsFormat = 521,     // not a workbook this driver reads
  kErrXlsFile = 523,       // cannot be read, or damaged
  kErrXlsRangeName = 528,  // range text names nothing
  kErrXlsRangeWide = 529,  // 250 columns or more
  kErrXlsColumns = 530,    // range columns differ from the table's
  kErrXlsRangeBad = 732,   // empty or inverted range
  kErrXlsPassword = 876,   // protected by a password
};

enum XlsStatus : int {
  kStatusOk = 0,
  kStatusDamaged = 25,
  kStatusNoSheetBof = 35,
  kStatusCannotOpen = 38,
  kStatusBadBof = 39,
  kStatusPassword = 42,
};

constexpr int kMaxColumns = 250;
constexpr size_t kMaxText = 254;
constexpr int16_t kVersionBiff8 = 450;
constexpr int16_t kVersionOther = 300;
constexpr const char* kEntireWorksheet = "Entire Worksheet";
constexpr int kWordFirstColumn = 3;
constexpr int kWordFirstRow = 4;
constexpr int kTitlesHalf = 28;

// Record types.
enum : uint16_t {
  kRecDimensions2 = 0x0000,
  kRecBlank2 = 0x0001,
  kRecInteger2 = 0x0002,
  kRecNumber2 = 0x0003,
  kRecLabel2 = 0x0004,
  kRecBoolErr2 = 0x0005,
  kRecFormula = 0x0006,  // BIFF2 and BIFF5/8
  kRecString2 = 0x0007,
  kRecBof2 = 0x0009,
  kRecEof = 0x000A,
  kRecRefMode = 0x000F,
  kRecExternSheet = 0x0017,
  kRecName = 0x0018,
  kRecFormat2 = 0x001E,
  kRecDateMode = 0x0022,
  kRecPassword = 0x002F,
  kRecContinue = 0x003C,
  kRecCodePage = 0x0042,
  kRecXf2 = 0x0043,
  kRecBoundSheet = 0x0085,
  kRecWriteProtect = 0x0086,
  kRecMulRk = 0x00BD,
  kRecRString = 0x00D6,
  kRecXf5 = 0x00E0,
  kRecSst = 0x00FC,
  kRecLabelSst = 0x00FD,
  kRecDimensions = 0x0200,
  kRecBlank = 0x0201,
  kRecNumber = 0x0203,
  kRecLabel = 0x0204,
  kRecBoolErr = 0x0205,
  kRecFormula3 = 0x0206,
  kRecString = 0x0207,
  kRecBof3 = 0x0209,
  kRecName3 = 0x0218,
  kRecArray = 0x0221,
  kRecTable = 0x0236,
  kRecXf3 = 0x0243,
  kRecRk = 0x027E,
  kRecFormula4 = 0x0406,
  kRecBof4 = 0x0409,
  kRecFormat = 0x041E,
  kRecXf4 = 0x0443,
  kRecShrFmla = 0x04BC,
  kRecBof = 0x0809,
};


// An RK number: bit 1 marks a 30-bit integer, otherwise the upper 30 bits
// are the high half of a double; bit 0 divides by 100.
double RkValue(uint32_t rk) {
  double d;
  if (rk & 2) {
    d = double(int32_t(rk) >> 2);
  } else {
    uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&d, &bits, sizeof d);
  }
  return (rk & 1) ? d / 100 : d;
}

// ----- records --------------------------------------------------------------

struct Record {
  uint16_t type = 0;
  uint16_t length = 0;
  size_t at = 0;  // offset of the data in the stream
};

// Records of a stream in memory; a header or data that runs past the end
// is damage.
class RecordCursor {
 public:
  RecordCursor(const std::vector<uint8_t>& s, size_t at) : s_(&s), at_(at) {}
  // 1 a record, 0 the end of the stream, -1 a damaged record.
  int Next(Record* r) {
    const std::vector<uint8_t>& s = *s_;
    // A sheet offset from the file may point anywhere.
    if (at_ >= s.size()) return at_ == s.size() ? 0 : -1;
    if (s.size() - at_ < 4) return -1;
    r->type = QLoadU16LE(&s[at_]);
    r->length = QLoadU16LE(&s[at_ + 2]);
    r->at = at_ + 4;
    if (s.size() - r->at < r->length) return -1;
    at_ = r->at + r->length;
    return 1;
  }
  size_t position() const { return at_; }

 private:
  const std::vector<uint8_t>* s_;
  size_t at_;
};

// ----- charsets --------------------------------------------------------------

// A workbook's code page: the Windows pages as the foundation maps them, plus
// the two DOS pages and the Macintosh pages a workbook may name.
int CharsetOfCodePage(uint16_t cp) {
  if (int charset = CharsetFromAnsiCodePage(cp)) return charset;
  switch (cp) {
    case 437: return 34;
    case 850: return 35;
    case 32768: return 21;
    case 32769: return 10;
    default: return -1;
  }
}

// UTF-16 units to the bytes of one charset, through the reverse of the
// charset's Unicode table; a character without a byte becomes "?".
class UnicodeToCharset {
 public:
  explicit UnicodeToCharset(int charset) : map_(0x10000, 0) {
    const int index =
        charset >= 0 && charset < kCharsetCount ? charset_data::kUnicodeIndex[charset] : -1;
    if (index < 0) {
      for (unsigned c = 1; c < 0x80; ++c) map_[c] = uint8_t(c);
      return;
    }
    const uint16_t* table = charset_data::kUnicode[index];
    // From the top down, so that of two bytes with one character the lower
    // one is kept.
    for (int b = 255; b >= 1; --b) {
      const uint16_t u = table[b];
      if (u && u < charset_data::kNoCharacter) map_[u] = uint8_t(b);
    }
  }
  char Byte(uint16_t u) const {
    if (u == 0) return '?';
    const uint8_t b = map_[u];
    return b ? char(b) : '?';
  }

 private:
  std::vector<uint8_t> map_;
};

// ----- reader state -----------------------------------------------------------

struct Sheet {
  std::string name;
  uint32_t offset = 0;
};

struct Area {
  int sheet = 0;
  uint32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;  // 0-based, inclusive
};

struct DefinedName {
  std::string name;
  int localSheet = -1;  // -1 global
  std::vector<uint8_t> formula;
  bool resolved = false;
  Area area;
};

struct CellEntry {
  uint32_t row;
  uint16_t col;
  uint32_t record;  // offset of the record's header in the stream
};

enum class Kind : uint8_t { kNone, kInteger, kNumber, kLogical, kText };

struct Cell {
  Kind kind = Kind::kNone;
  double number = 0;
  int32_t integer = 0;
  bool logical = false;
  std::string text;
  uint8_t formatClass = 0;
};

struct Reader {
  int status = kStatusOk;
  int biff = 0;  // 2, 3, 4, 5, 8
  bool r1c1 = false;
  bool date1904 = false;
  int charset = -1;  // of 8-bit texts; -1 the library's
  std::vector<Sheet> sheets;
  std::vector<uint16_t> externFirstSheet;  // BIFF8 reference entries
  std::vector<DefinedName> names;
  std::vector<uint8_t> formatClasses;  // by format index
  std::vector<uint8_t> xfClasses;      // by cell format index
  std::vector<std::string> strings;    // shared strings, library charset
  // The range and its sheet.
  Area range;
  bool titles = false;
  // Held while open: the record stream and the range's cells by row.
  std::vector<uint8_t> stream;
  size_t sheetStart = 0;
  std::vector<CellEntry> cells;
  std::vector<uint32_t> rowFirst;  // by row - indexBase; one more entry at the end
  uint32_t indexBase = 0;
  UnicodeToCharset* unicode = nullptr;

  ~Reader() { delete unicode; }
  const UnicodeToCharset& Unicode() {
    if (!unicode) unicode = new UnicodeToCharset(CurrentTableCharset());
    return *unicode;
  }
};

Reader* ReaderOf(const DataSource* s) { return static_cast<Reader*>(s->params.ptr[1]); }
const char* RangeText(const DataSource* s) { return static_cast<const char*>(s->params.ptr[2]); }

void Push(int16_t code, const char* text) { ErrorPush(kErrorSeverity, code, text, nullptr); }

void PushFileError(const DataSource* s, int status) {
  char name[kPathCapacity];
  FileBaseName(s->file, name);
  int16_t code = kErrXlsFormat;
  if (status == kStatusDamaged || status == kStatusCannotOpen || status == 40) code = kErrXlsFile;
  if (status == kStatusPassword) code = kErrXlsPassword;
  Push(code, name);
}

// ----- texts ------------------------------------------------------------------

// 8-bit text of the workbook's charset into the library charset.
std::string EightBitText(Reader& r, const uint8_t* p, size_t n) {
  n = std::min(n, kMaxText);
  std::string t(reinterpret_cast<const char*>(p), n);
  t.erase(std::find(t.begin(), t.end(), '\0'), t.end());
  const int to = CurrentTableCharset();
  if (r.charset > 0 && r.charset != to) {
    std::vector<char> buffer(t.begin(), t.end());
    buffer.push_back(0);
    CharsetConvert(buffer.data(), r.charset, to, buffer.size());
    t = buffer.data();
  }
  return t;
}

// Reads a text of `count` characters whose bytes may continue in further
// pieces (the shared-string table and its continuation records): a piece
// boundary inside the characters starts with a new flags byte.
class PieceReader {
 public:
  struct Piece {
    size_t at, length;
  };
  PieceReader(const std::vector<uint8_t>& s, std::vector<Piece> pieces)
      : s_(s), pieces_(std::move(pieces)) {}

  bool Byte(uint8_t* out) {
    if (!Ready()) return false;
    *out = s_[pieces_[piece_].at + offset_++];
    return true;
  }
  bool Half(uint16_t* out) {
    uint8_t a, b;
    if (!Byte(&a) || !Byte(&b)) return false;
    *out = uint16_t(a | (b << 8));
    return true;
  }
  bool Word(uint32_t* out) {
    uint16_t a, b;
    if (!Half(&a) || !Half(&b)) return false;
    *out = uint32_t(a) | (uint32_t(b) << 16);
    return true;
  }
  bool Skip(uint64_t n) {
    while (n > 0) {
      if (!Ready()) return false;
      const size_t room = pieces_[piece_].length - offset_;
      const size_t take = size_t(std::min<uint64_t>(room, n));
      offset_ += take;
      n -= take;
    }
    return true;
  }
  // The characters of a text whose flags say `wide`; at a piece boundary
  // the next piece's first byte gives the width of what follows.
  bool Chars(uint32_t count, bool wide, Reader& r, std::string* out) {
    const UnicodeToCharset& unicode = r.Unicode();
    while (count > 0) {
      if (piece_ < pieces_.size() && offset_ == pieces_[piece_].length) {
        ++piece_;
        offset_ = 0;
        uint8_t flags;
        if (!Byte(&flags)) return false;
        wide = flags & 1;
      }
      if (piece_ >= pieces_.size()) return false;
      const size_t room = pieces_[piece_].length - offset_;
      const uint8_t* p = &s_[pieces_[piece_].at + offset_];
      const size_t unit = wide ? 2 : 1;
      const size_t n = std::min<size_t>(count, room / unit);
      if (n == 0) return false;  // half a character before the boundary
      for (size_t i = 0; i < n; ++i) {
        if (out->size() >= kMaxText) break;
        out->push_back(unicode.Byte(wide ? QLoadU16LE(p + 2 * i) : p[i]));
      }
      offset_ += n * unit;
      count -= uint32_t(n);
    }
    return true;
  }

 private:
  bool Ready() {
    while (piece_ < pieces_.size() && offset_ == pieces_[piece_].length) {
      ++piece_;
      offset_ = 0;
    }
    return piece_ < pieces_.size();
  }
  const std::vector<uint8_t>& s_;
  std::vector<Piece> pieces_;
  size_t piece_ = 0;
  size_t offset_ = 0;
};

// A BIFF8 text inside one record at p (n bytes available): `count` chars
// after a flags byte, with the rich-text and extension parts skipped.
// Returns the bytes used, or 0 when it does not fit.
size_t UnicodeText(Reader& r, const uint8_t* p, size_t n, uint32_t count, std::string* out) {
  if (n < 1) return 0;
  const uint8_t flags = p[0];
  size_t at = 1;
  uint32_t runs = 0, ext = 0;
  if (flags & 8) {
    if (n - at < 2) return 0;
    runs = QLoadU16LE(p + at);
    at += 2;
  }
  if (flags & 4) {
    if (n - at < 4) return 0;
    ext = QLoadU32LE(p + at);
    at += 4;
  }
  const size_t unit = (flags & 1) ? 2 : 1;
  if ((n - at) / unit < count) return 0;
  const UnicodeToCharset& unicode = r.Unicode();
  for (uint32_t i = 0; i < count && out->size() < kMaxText; ++i)
    out->push_back(unicode.Byte(unit == 2 ? QLoadU16LE(p + at + 2 * i) : p[at + i]));
  at += unit * count;
  const uint64_t tail = uint64_t(runs) * 4 + ext;
  if (tail > n - at) return 0;
  return at + size_t(tail);
}

// A text with a length of `lengthBytes` (1 or 2) at p, in the record's n
// bytes: 8-bit before BIFF8, flagged characters in BIFF8.
bool LengthText(Reader& r, const uint8_t* p, size_t n, int lengthBytes, std::string* out) {
  if (n < size_t(lengthBytes)) return false;
  const uint32_t count = lengthBytes == 1 ? p[0] : QLoadU16LE(p);
  p += lengthBytes;
  n -= size_t(lengthBytes);
  if (r.biff == 8) return UnicodeText(r, p, n, count, out) != 0;
  if (count > n) return false;
  *out = EightBitText(r, p, count);
  return true;
}

// ----- number formats ------------------------------------------------------------

// 2 a five-digit code ("00000"), 1 a date, 0 anything else.
uint8_t FormatClass(const std::string& text) {
  int zeros = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = char(CharToLower(static_cast<unsigned char>(text[i])));
    if (c == '0') {
      ++zeros;
      continue;
    }
    if (zeros == 5) return 2;
    zeros = 0;
    if (c == '"') {
      const size_t end = text.find('"', i + 1);
      if (end == std::string::npos) break;
      i = end;
    } else if (c == '[') {
      const size_t end = text.find(']', i + 1);
      if (end == std::string::npos) break;
      i = end;
    } else if (c == '\\') {
      ++i;
    } else if (c == 'd' || c == 'm' || c == 'y') {
      return 1;
    } else if (c == 'h') {
      return 0;
    }
  }
  return zeros == 5 ? 2 : 0;
}

// The built-in number formats a workbook may use without a record.
const char* BuiltInFormat(unsigned index) {
  switch (index) {
    case 14: return "m/d/yy";
    case 15: return "d-mmm-yy";
    case 16: return "d-mmm";
    case 17: return "mmm-yy";
    case 18: return "h:mm AM/PM";
    case 19: return "h:mm:ss AM/PM";
    case 20: return "h:mm";
    case 21: return "h:mm:ss";
    case 22: return "m/d/yy h:mm";
    case 45: return "mm:ss";
    case 46: return "[h]:mm:ss";
    case 47: return "mm:ss.0";
    default: return nullptr;
  }
}

void SetFormatClass(Reader& r, unsigned index, uint8_t cls) {
  if (index >= r.formatClasses.size()) r.formatClasses.resize(index + 1, 0);
  r.formatClasses[index] = cls;
}

uint8_t ClassOfFormat(const Reader& r, unsigned index) {
  return index < r.formatClasses.size() ? r.formatClasses[index] : 0;
}

uint8_t ClassOfXf(const Reader& r, unsigned xf) {
  return xf < r.xfClasses.size() ? r.xfClasses[xf] : 0;
}

// ----- globals ---------------------------------------------------------------------

// The whole file, through the file layer's stream: a workbook is read from
// start to end once per open, which the page cache would only slow down.
bool ReadFile(DataSource* s, std::vector<uint8_t>* bytes) {
  if (!FileOpenText(s->file, kFileModeRead, nullptr)) return false;
  bool ok = FileStreamSeek(s->file, 0, 2) == 0;
  const int64_t size = ok ? FileStreamTell(s->file) : -1;
  ok = size >= 0 && uint64_t(size) < (uint64_t(1) << 31) && FileStreamSeek(s->file, 0, 0) == 0;
  if (ok) {
    bytes->resize(size_t(size));
    ok = FileStreamRead(bytes->data(), 1, bytes->size(), s->file) == bytes->size();
  }
  FileClose(s->file);
  return ok;
}

// The record stream of the file: the workbook stream of a compound
// document, else the file itself.
int LoadStream(DataSource* s, std::vector<uint8_t>* stream) {
  std::vector<uint8_t> bytes;
  if (!ReadFile(s, &bytes)) return kStatusCannotOpen;
  if (!CfbIsCompound(bytes.data(), bytes.size())) {
    *stream = std::move(bytes);
    return kStatusOk;
  }
  static const char* const kNames[] = {"Workbook", "Book"};
  switch (CfbReadStream(bytes.data(), bytes.size(), kNames, 2, stream)) {
    case CfbResult::kOk: return kStatusOk;
    case CfbResult::kNoStream: return kStatusBadBof;
    default: return kStatusDamaged;
  }
}

// The BIFF version of a BOF record, 0 when it is none this driver reads.
int BofVersion(const std::vector<uint8_t>& s, const Record& r, bool globals) {
  const uint8_t* p = &s[r.at];
  switch (r.type) {
    case kRecBof2: return r.length >= 4 && QLoadU16LE(p) >= 2 && QLoadU16LE(p + 2) == 16 ? 2 : 0;
    case kRecBof3:
    case kRecBof4:
      // The version word of these two is not used by their writers.
      if (r.length < 6 || QLoadU16LE(p + 2) != 16) return 0;
      return r.type == kRecBof3 ? 3 : 4;
    case kRecBof: {
      if (r.length < 8) return 0;
      const uint16_t type = QLoadU16LE(p + 2);
      if (globals ? type != 5 : type != 16) return 0;
      if (QLoadU16LE(p) == 0x0500) return 5;
      if (QLoadU16LE(p) == 0x0600) return 8;
      return 0;
    }
    default: return 0;
  }
}

bool ReadSst(Reader& r, const std::vector<uint8_t>& s, const Record& sst, RecordCursor& cursor) {
  std::vector<PieceReader::Piece> pieces{{sst.at, sst.length}};
  for (;;) {
    RecordCursor peek = cursor;
    Record next;
    if (peek.Next(&next) != 1 || next.type != kRecContinue) break;
    cursor = peek;
    pieces.push_back({next.at, next.length});
  }
  size_t total = 0;
  for (const auto& piece : pieces) total += piece.length;
  PieceReader in(s, std::move(pieces));
  uint32_t all, unique;
  if (!in.Word(&all) || !in.Word(&unique)) return false;
  // Each string takes at least three bytes.
  if (unique > total / 3) return false;
  r.strings.reserve(unique);
  for (uint32_t i = 0; i < unique; ++i) {
    uint16_t count;
    uint8_t flags;
    if (!in.Half(&count) || !in.Byte(&flags)) return false;
    uint16_t runs = 0;
    uint32_t ext = 0;
    if ((flags & 8) && !in.Half(&runs)) return false;
    if ((flags & 4) && !in.Word(&ext)) return false;
    std::string text;
    if (!in.Chars(count, flags & 1, r, &text)) return false;
    if (!in.Skip(uint64_t(runs) * 4 + ext)) return false;
    r.strings.push_back(std::move(text));
  }
  return true;
}

void ReadName(Reader& r, const uint8_t* p, size_t n, uint16_t type) {
  DefinedName name;
  size_t at;
  uint32_t length, formula;
  if (r.biff == 2 && type == kRecName) {
    if (n < 4) return;
    length = p[2];
    formula = p[3];
    at = 4;
  } else if (r.biff <= 4) {
    if (n < 6) return;
    length = p[3];
    formula = QLoadU16LE(p + 4);
    at = 6;
  } else {
    if (n < 14) return;
    if (QLoadU16LE(p) & 0x20) return;  // a built-in name is a code, not a text
    length = p[3];
    formula = QLoadU16LE(p + 4);
    const uint16_t itab = QLoadU16LE(p + 8);
    if (itab > 0) name.localSheet = itab - 1;
    at = 14;
  }
  if (r.biff == 8) {
    const size_t used = UnicodeText(r, p + at, n - at, length, &name.name);
    if (!used) return;
    at += used;
  } else {
    if (n - at < length) return;
    name.name = EightBitText(r, p + at, length);
    at += length;
  }
  if (n - at < formula) return;
  name.formula.assign(p + at, p + at + formula);
  r.names.push_back(std::move(name));
}

// The range one name's formula gives: one reference or area, perhaps in
// parentheses or through another name.
bool ResolveName(Reader& r, size_t index, int depth) {
  DefinedName& name = r.names[index];
  if (name.resolved) return true;
  if (depth > 8) return false;
  const std::vector<uint8_t>& f = name.formula;
  const bool b8 = r.biff == 8;
  bool found = false;
  Area area;
  area.sheet = name.localSheet >= 0 ? name.localSheet : 0;
  size_t i = 0;
  while (i < f.size()) {
    const uint8_t token = f[i++];
    const uint8_t base = token >= 0x20 ? uint8_t((token & 0x1F) | 0x20) : token;
    const size_t left = f.size() - i;
    const uint8_t* p = f.data() + i;
    size_t used = 0;
    if (base == 0x15) continue;  // parentheses
    if (found) return false;
    switch (base) {
      case 0x24:
      case 0x2C:
        used = b8 ? 4 : 3;
        if (left < used) return false;
        area.r1 = area.r2 = b8 ? QLoadU16LE(p) : QLoadU16LE(p) & 0x3FFFu;
        area.c1 = area.c2 = b8 ? QLoadU16LE(p + 2) & 0xFFu : p[2];
        break;
      case 0x25:
      case 0x2D:
        used = b8 ? 8 : 6;
        if (left < used) return false;
        area.r1 = b8 ? QLoadU16LE(p) : QLoadU16LE(p) & 0x3FFFu;
        area.r2 = b8 ? QLoadU16LE(p + 2) : QLoadU16LE(p + 2) & 0x3FFFu;
        area.c1 = b8 ? QLoadU16LE(p + 4) & 0xFFu : p[4];
        area.c2 = b8 ? QLoadU16LE(p + 6) & 0xFFu : p[5];
        break;
      case 0x3A:
      case 0x3B: {
        const bool isArea = base == 0x3B;
        size_t head;
        int sheet;
        if (b8) {
          head = 2;
          if (left < head) return false;
          const uint16_t xti = QLoadU16LE(p);
          if (xti >= r.externFirstSheet.size()) return false;
          sheet = r.externFirstSheet[xti];
        } else {
          head = 14;
          if (left < head) return false;
          sheet = int16_t(QLoadU16LE(p + 10));
        }
        used = head + (isArea ? (b8 ? 8 : 6) : (b8 ? 4 : 3));
        if (left < used) return false;
        const uint8_t* q = p + head;
        if (isArea) {
          area.r1 = b8 ? QLoadU16LE(q) : QLoadU16LE(q) & 0x3FFFu;
          area.r2 = b8 ? QLoadU16LE(q + 2) : QLoadU16LE(q + 2) & 0x3FFFu;
          area.c1 = b8 ? QLoadU16LE(q + 4) & 0xFFu : q[4];
          area.c2 = b8 ? QLoadU16LE(q + 6) & 0xFFu : q[5];
        } else {
          area.r1 = area.r2 = b8 ? QLoadU16LE(q) : QLoadU16LE(q) & 0x3FFFu;
          area.c1 = area.c2 = b8 ? QLoadU16LE(q + 2) & 0xFFu : q[2];
        }
        area.sheet = sheet;
        break;
      }
      case 0x23: {
        used = b8 ? 4 : (r.biff == 5 ? 14 : 2);
        if (left < used) return false;
        const uint16_t other = QLoadU16LE(p);
        if (other == 0 || other > r.names.size() || other - 1u == index) return false;
        if (!ResolveName(r, other - 1u, depth + 1)) return false;
        area = r.names[other - 1u].area;
        break;
      }
      default: return false;
    }
    found = true;
    i += used;
  }
  if (!found || area.sheet < 0 || (r.biff >= 5 && size_t(area.sheet) >= r.sheets.size()))
    return false;
  name.area = area;
  name.resolved = true;
  return true;
}

// Reads the globals: of a workbook up to its first end-of-file record, of a
// BIFF2-4 worksheet the whole stream.
int ReadGlobals(Reader& r, const std::vector<uint8_t>& s) {
  RecordCursor cursor(s, 0);
  Record rec;
  if (cursor.Next(&rec) != 1) return kStatusBadBof;
  r.biff = BofVersion(s, rec, true);
  if (!r.biff) return kStatusBadBof;
  RecordCursor after = cursor;
  if (after.Next(&rec) == 1) {
    if (rec.type == kRecPassword) return kStatusPassword;
    if (rec.type == kRecWriteProtect) cursor = after;
  }
  for (unsigned i = 0; i < 50; ++i) {
    if (const char* text = BuiltInFormat(i)) SetFormatClass(r, i, FormatClass(text));
  }
  unsigned formatsSeen = 0;  // BIFF2-4 number their formats in order
  for (;;) {
    const int got = cursor.Next(&rec);
    if (got == 0) break;
    if (got < 0) return kStatusDamaged;
    const uint8_t* p = &s[rec.at];
    const size_t n = rec.length;
    if (rec.type == kRecEof) break;
    switch (rec.type) {
      case kRecPassword: return kStatusPassword;
      case kRecRefMode:
        if (n >= 2) r.r1c1 = QLoadU16LE(p) == 0;
        break;
      case kRecDateMode:
        if (n >= 2) r.date1904 = QLoadU16LE(p) == 1;
        break;
      case kRecCodePage:
        if (n >= 2) r.charset = CharsetOfCodePage(QLoadU16LE(p));
        break;
      case kRecFormat2:
      case kRecFormat: {
        std::string text;
        unsigned index = formatsSeen++;
        if (r.biff >= 5) {
          if (n < 2) return kStatusDamaged;
          index = QLoadU16LE(p);
          if (!LengthText(r, p + 2, n - 2, r.biff == 8 ? 2 : 1, &text)) return kStatusDamaged;
        } else {
          const size_t skip = rec.type == kRecFormat ? 2 : 0;
          if (n < skip || !LengthText(r, p + skip, n - skip, 1, &text)) return kStatusDamaged;
        }
        SetFormatClass(r, index, FormatClass(text));
        break;
      }
      case kRecXf2:
        if (n >= 3) r.xfClasses.push_back(ClassOfFormat(r, p[2] & 0x3Fu));
        break;
      case kRecXf3:
      case kRecXf4:
        if (n >= 2) r.xfClasses.push_back(ClassOfFormat(r, p[1]));
        break;
      case kRecXf5:
        if (n >= 4) r.xfClasses.push_back(ClassOfFormat(r, QLoadU16LE(p + 2)));
        break;
      case kRecName:
      case kRecName3: ReadName(r, p, n, rec.type); break;
      case kRecExternSheet:
        if (r.biff == 8 && n >= 2) {
          const uint16_t count = QLoadU16LE(p);
          if (size_t(count) * 6 > n - 2) return kStatusDamaged;
          for (uint16_t i = 0; i < count; ++i) r.externFirstSheet.push_back(QLoadU16LE(p + 2 + 6 * i + 2));
        }
        break;
      case kRecBoundSheet:
        if (r.biff >= 5) {
          if (n < 6) return kStatusDamaged;
          Sheet sheet;
          sheet.offset = QLoadU32LE(p);
          if (!LengthText(r, p + 6, n - 6, 1, &sheet.name)) return kStatusDamaged;
          r.sheets.push_back(std::move(sheet));
        }
        break;
      case kRecSst:
        if (r.biff == 8 && !ReadSst(r, s, rec, cursor)) return kStatusDamaged;
        break;
      default: break;
    }
  }
  if (r.biff <= 4) r.sheets.push_back(Sheet{"", 0});
  std::vector<DefinedName> kept;
  for (size_t i = 0; i < r.names.size(); ++i) ResolveName(r, i, 0);
  // Unresolved names are dropped only now, since a name may refer to any
  // other by its place in the list.
  for (DefinedName& name : r.names)
    if (name.resolved) kept.push_back(std::move(name));
  r.names = std::move(kept);
  return kStatusOk;
}

// ----- a sheet's cells ------------------------------------------------------------

bool IsCellRecord(const Reader& r, uint16_t type) {
  switch (type) {
    case kRecBlank2:
    case kRecInteger2:
    case kRecNumber2:
    case kRecLabel2:
    case kRecBoolErr2:
      // Some writers put these BIFF2 cells into BIFF3 and BIFF4 sheets too.
      return r.biff <= 4;
    case kRecFormula: return r.biff == 2 || r.biff >= 5;
    case kRecBlank:
    case kRecNumber:
    case kRecLabel:
    case kRecBoolErr:
    case kRecFormula3:
    case kRecFormula4:
    case kRecRk:
    case kRecMulRk:
    case kRecLabelSst:
    case kRecRString: return true;
    default: return false;
  }
}

// The first and last rows and columns a sheet uses; false when it has no
// cells.
struct Bounds {
  bool any = false;
  uint32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
};

// Walks a sheet's records from its BOF to its end: the used range, and,
// with `index`, every cell inside `want` into r.cells.
int ScanSheet(Reader& r, const std::vector<uint8_t>& s, size_t start, Bounds* bounds,
              const Area* want) {
  RecordCursor cursor(s, start);
  Record rec;
  if (cursor.Next(&rec) != 1) return kStatusNoSheetBof;
  if (r.biff >= 5 && BofVersion(s, rec, false) != r.biff) return kStatusNoSheetBof;
  if (r.biff <= 4 && !BofVersion(s, rec, true)) return kStatusNoSheetBof;
  Bounds dims, seen;
  for (;;) {
    const size_t header = cursor.position();
    const int got = cursor.Next(&rec);
    if (got == 0) break;
    if (got < 0) return kStatusDamaged;
    if (rec.type == kRecEof) break;
    const uint8_t* p = &s[rec.at];
    const size_t n = rec.length;
    if ((rec.type == kRecDimensions || rec.type == kRecDimensions2) && !dims.any) {
      if (r.biff == 8 && n >= 12) {
        dims = {true, QLoadU32LE(p), QLoadU16LE(p + 8), QLoadU32LE(p + 4), QLoadU16LE(p + 10)};
      } else if (n >= 8) {
        dims = {true, QLoadU16LE(p), QLoadU16LE(p + 4), QLoadU16LE(p + 2), QLoadU16LE(p + 6)};
      } else {
        continue;
      }
      // The record holds one past the last row and column.
      if (dims.r2 <= dims.r1 || dims.c2 <= dims.c1) {
        dims.any = false;
        dims.r2 = dims.r1 + 1;
        dims.c2 = dims.c1 + 1;
      }
      --dims.r2;
      --dims.c2;
      continue;
    }
    if (!IsCellRecord(r, rec.type) || n < 4) continue;
    const uint32_t row = QLoadU16LE(p);
    uint32_t first = QLoadU16LE(p + 2), last = first;
    if (rec.type == kRecMulRk) {
      if (n < 6 || (n - 6) % 6) return kStatusDamaged;
      last = first + uint32_t((n - 6) / 6) - 1;
      if ((n - 6) / 6 == 0) continue;
    }
    if (!seen.any) {
      seen = {true, row, first, row, last};
    } else {
      seen.r1 = std::min(seen.r1, row);
      seen.r2 = std::max(seen.r2, row);
      seen.c1 = std::min(seen.c1, first);
      seen.c2 = std::max(seen.c2, last);
    }
    if (want && row + 1 >= want->r1 && row <= want->r2) {
      // The row above the range holds the titles.
      if (row + 1 == want->r1 && !r.titles) continue;
      for (uint32_t c = std::max(first, want->c1); c <= std::min(last, want->c2); ++c)
        r.cells.push_back({row, uint16_t(c), uint32_t(header)});
    }
  }
  if (bounds) *bounds = dims.any ? dims : seen;
  return kStatusOk;
}

// The cells by row: sorted (row, column) and a row's first entry.
void IndexCells(Reader& r) {
  auto before = [](const CellEntry& a, const CellEntry& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  };
  if (!std::is_sorted(r.cells.begin(), r.cells.end(), before))
    std::stable_sort(r.cells.begin(), r.cells.end(), before);
  const Area& a = r.range;
  r.indexBase = a.r1 > 0 ? a.r1 - 1 : 0;
  const size_t rows = size_t(a.r2 - r.indexBase) + 1;
  r.rowFirst.assign(rows + 1, 0);
  size_t e = 0;
  for (size_t i = 0; i <= rows; ++i) {
    while (e < r.cells.size() && r.cells[e].row < r.indexBase + i) ++e;
    r.rowFirst[i] = uint32_t(e);
  }
}

// The text result of a formula: the string record after it.
bool FormulaText(Reader& r, size_t after, std::string* out) {
  RecordCursor cursor(r.stream, after);
  Record rec;
  while (cursor.Next(&rec) == 1) {
    if (rec.type == kRecShrFmla || rec.type == kRecArray || rec.type == kRecTable) continue;
    if (rec.type == kRecString2 && r.biff == 2)
      return LengthText(r, &r.stream[rec.at], rec.length, 1, out);
    if (rec.type == kRecString) return LengthText(r, &r.stream[rec.at], rec.length, 2, out);
    return false;
  }
  return false;
}

// The cell at column `col` of the record whose header is at `header`.
void DecodeCell(Reader& r, uint32_t header, uint32_t col, Cell* cell) {
  *cell = Cell();
  RecordCursor cursor(r.stream, header);
  Record rec;
  if (cursor.Next(&rec) != 1) return;
  const uint8_t* p = &r.stream[rec.at];
  const size_t n = rec.length;
  const bool biff2 = rec.type < kRecFormula || (r.biff == 2 && rec.type == kRecFormula);
  // BIFF2 cells carry three attribute bytes, the number format in the
  // second; the later ones a cell format index.
  const size_t head = biff2 ? 7 : 6;
  if (n < head && rec.type != kRecMulRk) return;
  if (rec.type != kRecMulRk)
    cell->formatClass = biff2 ? ClassOfFormat(r, p[5] & 0x3Fu) : ClassOfXf(r, QLoadU16LE(p + 4));
  const uint8_t* d = p + head;
  const size_t left = n - std::min(n, head);
  switch (rec.type) {
    case kRecInteger2:
      if (left >= 2) {
        cell->kind = Kind::kInteger;
        cell->integer = QLoadU16LE(d);
      }
      break;
    case kRecNumber2:
    case kRecNumber:
      if (left >= 8) {
        cell->kind = Kind::kNumber;
        cell->number = QLoadF64LE(d);
      }
      break;
    case kRecRk:
      if (left >= 4) {
        cell->kind = Kind::kNumber;
        cell->number = RkValue(QLoadU32LE(d));
      }
      break;
    case kRecMulRk: {
      if (n < 6) return;
      const uint32_t first = QLoadU16LE(p + 2);
      const size_t at = 4 + size_t(col - first) * 6;
      if (col < first || at + 6 > n - 2) return;
      cell->formatClass = ClassOfXf(r, QLoadU16LE(p + at));
      cell->kind = Kind::kNumber;
      cell->number = RkValue(QLoadU32LE(p + at + 2));
      break;
    }
    case kRecBoolErr2:
    case kRecBoolErr:
      if (left >= 2) {
        cell->kind = Kind::kLogical;
        cell->logical = d[1] == 0 && d[0] != 0;
      }
      break;
    case kRecLabel2:
      if (LengthText(r, d, left, 1, &cell->text)) cell->kind = Kind::kText;
      break;
    case kRecLabel:
    case kRecRString:
      if (LengthText(r, d, left, 2, &cell->text)) cell->kind = Kind::kText;
      break;
    case kRecLabelSst:
      if (left >= 4 && QLoadU32LE(d) < r.strings.size()) {
        cell->kind = Kind::kText;
        cell->text = r.strings[QLoadU32LE(d)];
      }
      break;
    case kRecFormula:
    case kRecFormula3:
    case kRecFormula4:
      if (left >= 8) {
        if (d[6] == 0xFF && d[7] == 0xFF) {
          if (d[0] == 1) {
            cell->kind = Kind::kLogical;
            cell->logical = d[2] != 0;
          } else if (d[0] == 0 && FormulaText(r, rec.at + rec.length, &cell->text)) {
            cell->kind = Kind::kText;
          }
        } else {
          cell->kind = Kind::kNumber;
          cell->number = QLoadF64LE(d);
        }
      }
      break;
    default: break;
  }
}

// ----- typed values -----------------------------------------------------------------

// The date of a serial day number, 0 when it is outside the calendar.
bool SerialDate(double serial, bool date1904, DateRec* out) {
  if (!std::isfinite(serial) || serial < 0 || serial > 2958465) return false;
  // Serials from 1 March 1900 on are OLE day counts; the 1904 system's
  // start 1462 days later.
  int year = 0, month = 0, day = 0;
  CivilFromDays(int64_t(std::floor(serial)) + (date1904 ? 1462 : 0) + kOleDayZero, &year, &month,
                &day);
  if (year < 1 || year > 9999) return false;
  out->year = int16_t(year);
  out->month = uint8_t(month);
  out->day = uint8_t(day);
  return true;
}

std::string NumberText(double x) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", x);
  return buffer;
}

// The typed value of a cell, its format class applied; false for a blank.
// `text` holds the bytes of a text value.
bool CellToValue(const Reader& r, Cell& cell, Value* v) {
  std::memset(v, 0, sizeof *v);
  double number = cell.number;
  switch (cell.kind) {
    case Kind::kNone: return false;
    case Kind::kLogical:
      v->kind = kValueLogical;
      v->u.b = cell.logical ? 1 : 0;
      return true;
    case Kind::kText:
      v->kind = kValueBorrowedText;
      v->u.p = cell.text.data();
      return true;
    case Kind::kInteger: number = cell.integer; [[fallthrough]];
    case Kind::kNumber:
      if (cell.formatClass == 1) {
        if (!SerialDate(number, r.date1904, &v->u.date)) return false;
        v->kind = kValueDate;
        return true;
      }
      if (cell.formatClass == 2) {
        cell.text = NumberText(number);
        if (number >= 1000 && number <= 9999 && number == std::floor(number))
          cell.text.insert(0, "0");
        v->kind = kValueBorrowedText;
        v->u.p = cell.text.data();
        return true;
      }
      if (cell.kind == Kind::kInteger) {
        v->kind = kValueInteger;
        v->u.i = cell.integer;
      } else {
        v->kind = kValueFloat;
        v->u.d = number;
      }
      return true;
  }
  return false;
}

// ----- ranges ----------------------------------------------------------------------

std::string ColumnLetters(uint32_t col) {
  std::string out;
  for (uint32_t n = col + 1; n > 0; n = (n - 1) / 26)
    out.insert(out.begin(), char('A' + (n - 1) % 26));
  return out;
}

// A cell reference at p: A1 style (with optional "$") or R1C1; the end, or
// null.
const char* ParseCell(const char* p, uint32_t* row, uint32_t* col) {
  const char* start = p;
  if (*p == '$') ++p;
  uint64_t c = 0;
  int letters = 0;
  while (CharIsAlpha(static_cast<unsigned char>(*p)) &&
         ((*p | 0x20) >= 'a' && (*p | 0x20) <= 'z')) {
    c = c * 26 + uint64_t((*p | 0x20) - 'a' + 1);
    ++p;
    if (++letters > 3) break;
  }
  if (*p == '$') ++p;
  uint64_t rw = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9' && digits < 8) {
    rw = rw * 10 + uint64_t(*p++ - '0');
    ++digits;
  }
  if (letters >= 1 && letters <= 3 && digits > 0 && rw >= 1 && c >= 1 && c <= 65536 &&
      rw <= 1048576 && !CharIsAlnum(static_cast<unsigned char>(*p))) {
    *row = uint32_t(rw - 1);
    *col = uint32_t(c - 1);
    return p;
  }
  // R1C1.
  p = start;
  if ((*p | 0x20) != 'r') return nullptr;
  ++p;
  rw = 0;
  digits = 0;
  while (*p >= '0' && *p <= '9' && digits < 8) rw = rw * 10 + uint64_t(*p++ - '0'), ++digits;
  if (!digits || (*p | 0x20) != 'c') return nullptr;
  ++p;
  c = 0;
  int cdigits = 0;
  while (*p >= '0' && *p <= '9' && cdigits < 6) c = c * 10 + uint64_t(*p++ - '0'), ++cdigits;
  if (!cdigits || rw < 1 || c < 1 || rw > 1048576 || c > 65536) return nullptr;
  *row = uint32_t(rw - 1);
  *col = uint32_t(c - 1);
  return p;
}

bool ParseArea(const char* p, Area* area) {
  const char* end = ParseCell(p, &area->r1, &area->c1);
  if (!end) return false;
  if (!*end) {
    area->r2 = area->r1;
    area->c2 = area->c1;
    return true;
  }
  if (*end == ':') {
    ++end;
  } else if (end[0] == '.' && end[1] == '.') {
    end += 2;
  } else {
    return false;
  }
  end = ParseCell(end, &area->r2, &area->c2);
  return end && !*end;
}

// The sheet's used range as an area, for the default and the per-sheet
// names; an empty sheet gives an inverted area.
int UsedArea(Reader& r, const std::vector<uint8_t>& s, int sheet, Area* area) {
  Bounds b;
  const int status = ScanSheet(r, s, r.sheets[size_t(sheet)].offset, &b, nullptr);
  if (status != kStatusOk) return status;
  area->sheet = sheet;
  if (b.any) {
    area->r1 = b.r1, area->c1 = b.c1, area->r2 = b.r2, area->c2 = b.c2;
  } else {
    area->r1 = area->c1 = 1;
    area->r2 = area->c2 = 0;
  }
  return kStatusOk;
}

// Resolves the range text against the globals and checks it; 0 with the
// error pushed.
int16_t ResolveRange(DataSource* src, Reader& r, const std::vector<uint8_t>& s) {
  const char* text = RangeText(src);
  const char* shown = text && *text ? text : kEntireWorksheet;
  Area area;
  int status = kStatusOk;
  bool found = false;
  if (!text || !*text) {
    status = UsedArea(r, s, 0, &area);
    // The titles of a sheet used whole are its first used row: they name
    // the columns and are no row of the table.
    if (status == kStatusOk && r.titles && area.r1 < area.r2) ++area.r1;
    found = true;
  } else {
    for (const DefinedName& name : r.names) {
      if (StrEqualNoCase(name.name.c_str(), text)) {
        area = name.area;
        found = true;
        break;
      }
    }
    const size_t lead = std::strlen(kEntireWorksheet);
    if (!found && StrEqualNoCaseN(text, kEntireWorksheet, lead)) {
      for (size_t i = 0; i < r.sheets.size() && !found; ++i) {
        const bool match =
            r.biff <= 4
                ? text[lead] == 0
                : text[lead] == ' ' && StrEqualNoCase(text + lead + 1, r.sheets[i].name.c_str());
        if (match) {
          status = UsedArea(r, s, int(i), &area);
          found = true;
        }
      }
    }
    if (!found) {
      std::string t(text);
      const size_t bang = t.rfind('!');
      int sheet = 0;
      bool sheetOk = true;
      if (bang != std::string::npos) {
        std::string name = t.substr(0, bang);
        if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'')
          name = name.substr(1, name.size() - 2);
        sheetOk = false;
        for (size_t i = 0; i < r.sheets.size(); ++i) {
          if (StrEqualNoCase(r.sheets[i].name.c_str(), name.c_str())) {
            sheet = int(i);
            sheetOk = true;
            break;
          }
        }
        t = t.substr(bang + 1);
      }
      if (sheetOk && ParseArea(t.c_str(), &area)) {
        area.sheet = sheet;
        found = true;
      }
    }
  }
  if (status != kStatusOk) {
    PushFileError(src, status);
    return 0;
  }
  if (!found) {
    Push(kErrXlsRangeName, text);
    return 0;
  }
  if (area.c1 > area.c2 || area.r1 > area.r2) {
    Push(kErrXlsRangeBad, shown);
    return 0;
  }
  if (area.c2 - area.c1 + 1 >= kMaxColumns) {
    Push(kErrXlsRangeWide, shown);
    return 0;
  }
  r.range = area;
  src->params.words[kWordFirstColumn] = area.c1 + 1;
  src->params.words[kWordFirstRow] = area.r1 + 1;
  src->rowCount = area.r2 - area.r1 + 1;
  return 1;
}

// ----- the driver's hooks -----------------------------------------------------------

void FreeReader(DataSource* s) {
  delete ReaderOf(s);
  s->params.ptr[1] = nullptr;
}

// Reads the file into the reader: globals, range and, with `index`, the
// range's cells. 0 with the error pushed.
int16_t Load(DataSource* s, Reader& r, bool globals, bool index) {
  std::vector<uint8_t> stream;
  int status = LoadStream(s, &stream);
  if (status == kStatusOk && globals) status = ReadGlobals(r, stream);
  if (status != kStatusOk) {
    r.status = status;
    PushFileError(s, status);
    return 0;
  }
  if (globals && !ResolveRange(s, r, stream)) return 0;
  if (index) {
    r.cells.clear();
    if (size_t(r.range.sheet) >= r.sheets.size()) {
      status = kStatusNoSheetBof;
    } else {
      r.sheetStart = r.sheets[size_t(r.range.sheet)].offset;
      status = ScanSheet(r, stream, r.sheetStart, nullptr, &r.range);
    }
    if (status != kStatusOk) {
      r.status = status;
      r.cells.clear();
      PushFileError(s, status);
      return 0;
    }
    r.stream = std::move(stream);
    IndexCells(r);
  }
  return 1;
}

Reader* NewReader(DataSource* s) {
  FreeReader(s);
  Reader* r = new (std::nothrow) Reader;
  if (!r) {
    Push(kErrNoMemory, nullptr);
    return nullptr;
  }
  r->titles = s->params.Half(kTitlesHalf) != 0;
  s->params.ptr[1] = r;
  return r;
}

int16_t XlsClose(DataSource* s) {
  FreeReader(s);
  MemFreePtr(&s->params.ptr[2]);
  return 1;
}

int16_t XlsAttach(DataSource* s, FieldDef*, int32_t* count) {
  try {
    Reader* r = NewReader(s);
    if (!r) {
      XlsClose(s);
      return 0;
    }
    if (!Load(s, *r, true, false)) {
      XlsClose(s);
      return 0;
    }
    const int32_t columns = int32_t(r->range.c2 - r->range.c1 + 1);
    if (count && *count != columns) {
      Push(kErrXlsColumns, RangeText(s) && *RangeText(s) ? RangeText(s) : kEntireWorksheet);
      XlsClose(s);
      return 0;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    XlsClose(s);
    Push(kErrNoMemory, nullptr);
    return 0;
  }
}

// The file is only ever read: an open for writing (a table opened for
// read-write as a whole, as a registration does) reads it too, and the
// dispatcher refuses every change of a workbook's rows.
int16_t XlsOpen(DataSource* s, int) {
  Reader* r = ReaderOf(s);
  if (!r) return 0;
  try {
    return Load(s, *r, false, true);
  } catch (const std::bad_alloc&) {
    Push(kErrNoMemory, nullptr);
    return 0;
  }
}

int16_t XlsRelease(DataSource* s) {
  if (Reader* r = ReaderOf(s)) {
    std::vector<uint8_t>().swap(r->stream);
    std::vector<CellEntry>().swap(r->cells);
    std::vector<uint32_t>().swap(r->rowFirst);
  }
  return 1;
}

void StoreCell(FieldDef& column, const Value& v) {
  const uint16_t before = ErrorCount();
  if (!ValueAssign(&column.value, &v, 0) && before == 0 && (ErrorHasCode(854) || ErrorHasCode(471)))
    ErrorClear();
}

int16_t XlsRead(DataSource* s, FieldDef* columns, uint32_t row, uint8_t* deleted) {
  if (deleted) *deleted = 0;
  Reader* r = ReaderOf(s);
  if (!r || r->rowFirst.empty() || row == 0 || row > s->rowCount) return 0;
  for (int32_t i = 0; i < s->columnCount; ++i) ValueBlank(&columns[i].value);
  const size_t slot = size_t(r->range.r1 + row - 1 - r->indexBase);
  if (slot + 1 >= r->rowFirst.size()) return 0;
  Cell cell;
  Value v;
  for (uint32_t e = r->rowFirst[slot]; e < r->rowFirst[slot + 1]; ++e) {
    const CellEntry& entry = r->cells[e];
    const int32_t i = int32_t(entry.col - r->range.c1);
    if (i < 0 || i >= s->columnCount) continue;
    DecodeCell(*r, entry.record, entry.col, &cell);
    if (CellToValue(*r, cell, &v)) StoreCell(columns[i], v);
  }
  s->currentRow = row;
  return 1;
}

// ----- describing -----------------------------------------------------------------

void Combine(uint8_t* type, uint8_t cell) {
  const uint8_t t = *type;
  if (t == 0 || t == cell) {
    *type = cell;
  } else if (t == kFieldChar || cell == kFieldChar) {
    *type = kFieldChar;
  } else if (t == kFieldFloat || cell == kFieldFloat) {
    *type = kFieldFloat;
  } else if ((t == kFieldInteger && cell == kFieldSmallint) ||
             (t == kFieldSmallint && cell == kFieldInteger)) {
    *type = kFieldInteger;
  } else {
    *type = kFieldChar;
  }
}

int16_t DescribeColumns(DataSource* s, Reader& r, TableObject* table) {
  const uint32_t count = r.range.c2 - r.range.c1 + 1;
  auto* defs = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * count));
  if (!defs) {
    Push(kErrNoMemory, nullptr);
    return 0;
  }
  std::memset(defs, 0, sizeof(FieldDef) * count);
  std::vector<uint8_t> widths(count, 0);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t col = r.range.c1 + i;
    if (r.r1c1)
      std::snprintf(defs[i].name, sizeof defs[i].name, "C%u", unsigned(col + 1));
    else
      std::snprintf(defs[i].name, sizeof defs[i].name, "%s", ColumnLetters(col).c_str());
  }
  Cell cell;
  Value v;
  for (const CellEntry& e : r.cells) {
    const uint32_t i = e.col - r.range.c1;
    DecodeCell(r, e.record, e.col, &cell);
    if (!CellToValue(r, cell, &v)) continue;
    if (e.row + 1 == r.range.r1) {
      // A title: the cell's text form.
      char text[kMaxColumnName + 1];
      if (v.kind == kValueBorrowedText) {
        StrCopyPadded(text, cell.text.c_str(), sizeof text);
      } else {
        char buffer[256];
        ValueToText(&v, buffer, sizeof buffer, -1, 0);
        StrCopyPadded(text, buffer, sizeof text);
      }
      IdentMakeValid(text);
      if (text[0]) std::memcpy(defs[i].name, text, sizeof text);
      continue;
    }
    uint8_t type;
    size_t width;
    switch (v.kind) {
      case kValueInteger: type = kFieldInteger, width = 11; break;
      case kValueDate: type = kFieldDate, width = 10; break;
      case kValueFloat: type = kFieldFloat, width = 10; break;
      case kValueLogical: type = kFieldLogical, width = 1; break;
      default: type = kFieldChar, width = std::min(cell.text.size(), kMaxText); break;
    }
    Combine(&defs[i].value.kind, type);
    widths[i] = uint8_t(std::max<size_t>(widths[i], width));
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (defs[i].value.kind == 0) defs[i].value.kind = kFieldChar;
    defs[i].width = uint8_t(std::max<uint8_t>(widths[i], 1));
    if (defs[i].value.kind == kFieldChar)
      defs[i].width = uint8_t(std::max<uint8_t>(widths[i], 1));
    else if (defs[i].value.kind == kFieldFloat)
      defs[i].width = 10;
  }
  MemFree(table->fields);
  table->fields = defs;
  table->fieldCount = count;
  s->columnCount = int32_t(count);
  TableSetVersions(table, r.biff == 8 ? kVersionBiff8 : kVersionOther);
  return 1;
}

int16_t XlsDescribe(DataSource* s, TableObject* table) {
  try {
    Reader* r = NewReader(s);
    if (!r) return 0;
    int16_t ok = Load(s, *r, true, true) && DescribeColumns(s, *r, table);
    FreeReader(s);
    return ok;
  } catch (const std::bad_alloc&) {
    FreeReader(s);
    Push(kErrNoMemory, nullptr);
    return 0;
  }
}

}  // namespace

const DataDriver* ExcelDataDriver() {
  static const DataDriver driver = {
      nullptr, XlsAttach, XlsDescribe, XlsOpen,  XlsRelease,
      XlsRead, nullptr,   nullptr,     XlsClose, nullptr,
  };
  return &driver;
}

}  // namespace layerio
