#include "boundary/importread.h"

#include <cmath>
#include <cstring>

#include "base/qstring.h"
#include "boundary/shapefile.h"
#include "platform/env.h"

namespace {

constexpr const char* kSource = "importread";
constexpr const char* kRecordErrorFormat = "Error: %s\nFile: %s\nRecord: %ld";

bool IsDelimiter(char c, const char* delimiters) {
  return c != '\0' && std::strchr(delimiters, c) != nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// ImportRead

ImportRead::ImportRead(BoundaryBuilder& builder) : builder_(builder), error_(builder.Error()) {}

ImportRead::~ImportRead() = default;

bool ImportRead::Read() {
  status_ = kReadFailed;
  if (!ok_) return false;
  if (!ReadNext()) {
    ok_ = false;
    status_ = kReadFailed;
  }
  return ok_;
}

bool ImportRead::StorePending() {
  if (!pending_) return true;
  std::unique_ptr<QPolygonObject> object = std::move(pending_);
  return Store(*object);
}

bool ImportRead::Store(QPolygonObject& object) {
  if (!object.Write()) ok_ = false;
  return ok_;
}

void ImportRead::Warn(const char* text, int line) {
  error_.Report(Q_ERROR_INVALID_DATA, text, kSource, line);
}

bool ImportRead::RecordError(const char* message, const std::string& path, long record, int line) {
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, kRecordErrorFormat, message, path.c_str(), record);
  error_.Report(Q_ERROR_EMPTY, detail, kSource, line);
  ok_ = false;
  return false;
}

bool ImportRead::StoreDoublePoint(const double xy[2], const char* name2, uint32_t record,
                                  const std::string& path) {
  int32_t m[2];
  if (!ShapeToMillionths(xy, 1, ShapeInDegrees(xy, 1), m))
    return RecordError(kCoordinateRangeText, path, long(record), __LINE__);
  QPolygonPoint point(builder_, name_, name2, 0, m[0], m[1]);
  point.SetSymbol(0, 0, record);
  return Store(point);
}

bool ImportRead::StoreDoubleLine(const double xy[4], const char* name2, uint32_t record,
                                 const std::string& path) {
  const TwoPointRule rule = DecideTwoPoints(xy);
  if (rule == TwoPointRule::kUndecided)
    return RecordError(kUndecidedLineText, path, long(record), __LINE__);
  int32_t m[4];
  if (!ShapeToMillionths(xy, 2, rule == TwoPointRule::kScale, m))
    return RecordError(kCoordinateRangeText, path, long(record), __LINE__);
  QPolygonSingleLine line(builder_, name_, name2, 0, m[0], m[1], m[2], m[3]);
  line.SetPen(0, 0, record);
  return Store(line);
}

int32_t ImportRead::StoreDoubleParts(QPolygonLine& object, const DoublePart* parts,
                                     size_t partCount, bool separateRings, uint32_t record,
                                     const std::string& path) {
  uint64_t points = 0;
  for (size_t p = 0; p < partCount; ++p) points += parts[p].count;
  if (points == 0) return kReadSkipped;
  object.SetPen(0, 0, record);
  switch (AddDoubleParts(object, parts, partCount, separateRings)) {
    case AddPartsResult::kOutOfRange:
      RecordError(kCoordinateRangeText, path, long(record), __LINE__);
      return kReadFailed;
    case AddPartsResult::kRefused:
      ok_ = false;
      return kReadFailed;
    case AddPartsResult::kAdded:
      break;
  }
  return Store(object) ? kReadStored : kReadFailed;
}

bool ImportRead::AsciiSame(const char* a, const char* b) {
  return platform::AsciiEqualsIgnoreCase(a ? a : "", b ? b : "");
}

void ImportRead::TakeName(char* to, const char* text) {
  // Trimmed before it is cut, so that leading blanks cost no characters.
  if (!text) text = "";
  while (platform::AsciiIsSpace(*text)) ++text;
  StrCopySized(to, text, kGsbNameSize);
  StrTrim(to);
}

// ---------------------------------------------------------------------------
// ImportLineReader

ImportLineReader::ImportLineReader(pipError& error, std::string path)
    : error_(error), path_(std::move(path)) {
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(path_, &info) == 0) size_ = info.size;
  file_ = std::make_unique<QInputFile>(path_.c_str(), error_);
  // The line reader is in error from its construction when the file cannot
  // be opened or has no line delimiters.
  open_ = !file_->InError();
}

bool ImportLineReader::NextLine(bool mustExist) {
  cursor_ = line_;
  line_[0] = '\0';
  ++lineNumber_;
  if (failed_ || !open_) return false;
  if (file_->ReadLine(line_, sizeof line_) >= 0) return true;
  line_[0] = '\0';
  if (file_->InError()) {
    failed_ = true;  // reported by the line reader
    return false;
  }
  if (mustExist) Fail(kUnexpectedEndText, __LINE__);
  return false;
}

const char* ImportLineReader::NextField() {
  char* p = cursor_;
  const char* start = p;
  while (*p == ' ') ++p;
  if (*p == '\0') {
    cursor_ = p;
    return p > start ? p : nullptr;
  }
  char* value = p;
  char* out = p;
  if (*p == '"' || *p == '\'') {
    const char quote = *p++;
    for (;;) {
      if (*p == '\0') break;  // left open: to the end of the line
      if (*p != quote) {
        *out++ = *p++;
        continue;
      }
      if (p[1] == quote) {  // doubled: one quote of the value, still inside the quotes
        ++p;
        *out++ = *p++;
        continue;
      }
      ++p;  // the closing quote; the rest up to the delimiter is dropped
      while (*p != '\0' && *p != ',' && *p != '\t') ++p;
      break;
    }
  } else {
    while (*p != '\0' && *p != ',' && *p != '\t') *out++ = *p++;
  }
  if (*p == ',' || *p == '\t') ++p;
  // The value is ended in place; it never runs past p, so the terminator
  // lands on text already taken.
  *out = '\0';
  cursor_ = p;
  return value;
}

const char* ImportLineReader::NextToken(const char* delimiters) {
  char* p = cursor_;
  while (IsDelimiter(*p, delimiters)) ++p;
  if (*p == '\0') {
    cursor_ = p;
    return nullptr;
  }
  char* token = p;
  while (*p != '\0' && !IsDelimiter(*p, delimiters)) ++p;
  if (*p != '\0') *p++ = '\0';
  cursor_ = p;
  return token;
}

bool ImportLineReader::LineIsBlank() const {
  for (const char* p = line_; *p; ++p)
    if (!platform::AsciiIsSpace(*p)) return false;
  return true;
}

void ImportLineReader::Fail(const char* message, int line) {
  char detail[kQErrorDetailSize];
  StrFormat(detail, sizeof detail, kReaderErrorFormat, message, path_.c_str(), long(lineNumber_));
  error_.Report(Q_ERROR_EMPTY, detail, kSource, line);
  failed_ = true;
}

uint32_t ImportLineReader::Progress() const {
  if (size_ == 0 || !file_) return 0;
  const uint64_t scaled = file_->CharactersTaken() * 100;
  uint64_t percent = scaled / size_;
  if (2 * (scaled % size_) > size_) ++percent;
  return uint32_t(percent > 100 ? 100 : percent);
}

// ---------------------------------------------------------------------------
// Coordinates

bool ParseScaledDecimal(std::string_view text, int decimals, bool round, int32_t* out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // The significant digits (without leading zeros) and the power of ten of
  // the last one: value = digits * 10^exponent. Digits past the 40th cannot
  // change a 32-bit result or its rounding and are only counted.
  char digits[40];
  size_t count = 0;
  int64_t exponent = 0;
  bool anyDigit = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!platform::AsciiIsDigit(c)) break;
    anyDigit = true;
    if (count == 0 && c == '0') {
      if (point) --exponent;
      continue;
    }
    if (count < sizeof digits) {
      digits[count++] = c;
      if (point) --exponent;
    } else if (!point) {
      ++exponent;
    }
  }
  if (!anyDigit) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    if (i >= text.size() || !platform::AsciiIsDigit(text[i])) return false;
    int64_t e = 0;
    for (; i < text.size() && platform::AsciiIsDigit(text[i]); ++i)
      if (e < 100000) e = e * 10 + (text[i] - '0');
    exponent += expNegative ? -e : e;
  }
  if (i != text.size()) return false;

  // Shift to the unit: scaled = digits * 10^shift.
  const int64_t shift = exponent + decimals;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t value = 0;
  int64_t keep = int64_t(count);
  if (shift < 0) keep = int64_t(count) + shift;  // digits before the unit
  for (int64_t k = 0; k < keep; ++k) {
    value = value * 10 + (digits[k] - '0');
    if (value > limit) return false;
  }
  if (shift > 0 && count > 0) {
    for (int64_t k = 0; k < shift; ++k) {
      value *= 10;
      if (value > limit) return false;
    }
  }
  // Halves away from zero: only the first dropped digit decides.
  if (round && shift < 0 && keep >= 0 && keep < int64_t(count) && digits[keep] >= '5') ++value;
  if (value > limit) return false;
  *out = int32_t(negative ? -value : value);
  return true;
}

TwoPointRule DecideTwoPoints(const double xy[4]) {
  if (ShapeInDegrees(xy, 2)) return TwoPointRule::kScale;
  if (std::fabs(xy[1]) > 1e6 || std::fabs(xy[3]) > 1e6) return TwoPointRule::kAsIs;
  return TwoPointRule::kUndecided;
}

AddPartsResult AddDoubleParts(QPolygonLine& object, const DoublePart* parts, size_t partCount,
                              bool separateRings) {
  bool degrees = false;
  for (size_t p = 0; p < partCount && !degrees; ++p)
    degrees = ShapeInDegrees(parts[p].xy, parts[p].count);
  for (size_t p = 0; p < partCount; ++p) {
    for (uint32_t i = 0; i < parts[p].count; ++i) {
      int32_t m[2];
      if (!ShapeToMillionths(parts[p].xy + 2 * size_t(i), 1, degrees, m))
        return AddPartsResult::kOutOfRange;
      if (!object.AddPoint(m[0], m[1])) return AddPartsResult::kRefused;
    }
    if (separateRings && !object.EndRing()) return AddPartsResult::kRefused;
  }
  return AddPartsResult::kAdded;
}
