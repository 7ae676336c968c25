// The typed value's conversions between kinds, the parsing of field texts,
// assignment across kinds, the text forms of values and numbers, and the
// comparison of values and index keys.
#include <cfloat>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/date.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/locale.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/norm.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/session.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/value.h"
#include "mapfile/foundation/value_internal.h"

namespace layerio {

namespace {

constexpr int16_t kErrNotConvertible = 854;
constexpr int16_t kErrOutOfRange = 471;
constexpr int16_t kErrNotComparable = 906;
constexpr size_t kNumberTextLimit = 512;
constexpr size_t kStoreTextSize = 80;

void NotConvertible() { ErrorPush(kErrorSeverity, kErrNotConvertible, nullptr, nullptr); }

bool IsTextKind(uint8_t k) {
  return k == kValueText || k == kValueBorrowedText || k == kValueFixedText ||
         k == kValueIdentifier || k == kValueBorrowedIdentifier;
}
bool IsNumberKind(uint8_t k) {
  return k == kValueFloat || k == kValueInteger || k == kValueSmallInt || k == kValueDecimal;
}

// The value's text copied (at most limit - 1 characters) and trimmed on both
// sides.
void TrimmedText(const Value* v, char* buffer, size_t limit) {
  ValueCopyText(buffer, v, limit);
  StrTrimRight(buffer);
  StrStripLeading(buffer);
}

bool WholeDouble(char* text, double* out, int flags) {
  const char* end = NumParseDoubleEx(text, out, flags);
  if (!end || *end) {
    *out = 0;
    return false;
  }
  return true;
}

bool WholeLong(char* text, int32_t* out, int flags) {
  const char* end = NumParseLongEx(text, out, flags);
  if (!end || *end) {
    *out = 0;
    return false;
  }
  return true;
}

void Printf(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
void Printf(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buffer, size, format, ap);
  va_end(ap);
}

}  // namespace

// ----- index key texts -----

void NormalizeIndexKeyText(char* text, uint32_t stamp) {
  const uint8_t* table = NormTable(1);
  int charset = CharsetSystem();
  if (stamp != 0 && (charset == 1 || charset == 10) && stamp != NormStamp(1)) {
    if (stamp == NormStamp(3) && NormTable(2)) {
      table = NormTable(2);
    } else if (stamp == NormStamp(4) && NormTable(3)) {
      table = NormTable(3);
    }
  }
  // Before the tables are built keys compare as they are.
  if (table) StrMapBytes(text, table);
}

// ----- conversions -----

int16_t ValueToDouble(const Value* value, double* out, int parseFlags) {
  *out = 0;
  uint8_t k = value->kind;
  if (IsTextKind(k)) {
    char text[kNumberTextLimit + 1];
    TrimmedText(value, text, sizeof text);
    if (!text[0]) return 1;
    if (WholeDouble(text, out, parseFlags)) return 1;
    NotConvertible();
    return 0;
  }
  switch (k) {
    case kValueNone:
      return 1;
    case kValueFloat:
    case kValueDecimal:
      *out = value->u.d;
      return 1;
    case kValueInteger:
      *out = value->u.i;
      return 1;
    case kValueSmallInt:
      *out = value->u.s;
      return 1;
    case kValueLogical:
      *out = value->u.b;
      return 1;
    case kValueDate:
      *out = DateToNumber(&value->u.date);
      return 1;
    default:
      NotConvertible();
      return 0;
  }
}

int16_t ValueToLong(const Value* value, int32_t* out, int parseFlags) {
  *out = 0;
  uint8_t k = value->kind;
  if (IsTextKind(k)) {
    char text[kNumberTextLimit + 1];
    TrimmedText(value, text, sizeof text);
    if (!text[0]) return 1;
    if (WholeLong(text, out, parseFlags)) return 1;
    NotConvertible();
    return 0;
  }
  switch (k) {
    case kValueNone:
      return 1;
    case kValueFloat:
    case kValueDecimal:
      if (value->u.d >= -2147483648.0 && value->u.d <= 2147483647.0) {
        *out = int32_t(NumRound(value->u.d));
        return 1;
      }
      ErrorPush(kErrorSeverity, kErrOutOfRange, nullptr, nullptr);
      return 0;
    case kValueInteger:
      *out = value->u.i;
      return 1;
    case kValueSmallInt:
      *out = value->u.s;
      return 1;
    case kValueLogical:
      *out = int8_t(value->u.b);
      return 1;
    case kValueDate:
      *out = DateToNumber(&value->u.date);
      return 1;
    default:
      NotConvertible();
      return 0;
  }
}

int16_t ValueToShort(const Value* value, int16_t* out, int parseFlags) {
  *out = 0;
  int32_t n = 0;
  if (!ValueToLong(value, &n, parseFlags)) return 0;
  if (n < -32768 || n > 32767) {
    ErrorPush(kErrorSeverity, kErrOutOfRange, nullptr, nullptr);
    return 0;
  }
  *out = int16_t(n);
  return 1;
}

int16_t ValueToDate(const Value* value, DateRec* out) {
  *out = DateRec{0, 0, 0};
  uint8_t k = value->kind;
  if (IsTextKind(k)) {
    char text[kNumberTextLimit + 1];
    TrimmedText(value, text, sizeof text);
    if (!text[0]) return 1;
    if (DateParse(text, out) && out->month && out->day) return 1;
    *out = DateRec{0, 0, 0};
    NotConvertible();
    return 0;
  }
  switch (k) {
    case kValueNone:
      return 1;
    case kValueFloat:
    case kValueInteger:
    case kValueSmallInt:
    case kValueDecimal: {
      int32_t n = 0;
      if (!ValueToLong(value, &n, 0)) return 0;
      return DateFromNumber(n, out);
    }
    case kValueDate:
      *out = value->u.date;
      return 1;
    default:
      NotConvertible();
      return 0;
  }
}

int16_t ValueFromDouble(Value* value, uint8_t kind, double x) {
  value->kind = kind;
  value->u.d = 0;
  switch (kind) {
    case kValueFloat:
    case kValueDecimal:
      value->u.d = x;
      return 1;
    case kValueInteger:
    case kValueSmallInt: {
      double low = kind == kValueInteger ? -2147483648.0 : -32768.0;
      double high = kind == kValueInteger ? 2147483647.0 : 32767.0;
      double r = double(NumRound(x));
      if (std::isnan(x) || !(r >= low && r <= high)) {
        ErrorPush(kErrorSeverity, kErrOutOfRange, nullptr, nullptr);
        return 0;
      }
      if (kind == kValueInteger) {
        value->u.i = int32_t(r);
      } else {
        value->u.s = int16_t(r);
      }
      return 1;
    }
    case kValueDate: {
      double r = double(NumRound(x));
      if (std::isnan(x) || !(r >= -2147483648.0 && r <= 2147483647.0)) {
        NotConvertible();
        return 0;
      }
      return DateFromNumber(int32_t(r), &value->u.date);
    }
    default:
      return 0;
  }
}

int16_t ValueTruth(const Value* value) {
  uint8_t k = value->kind;
  if (IsTextKind(k)) return ValueTextLength(value) ? 1 : 0;
  switch (k) {
    case kValueNone:
    case kValueOpaque:
      return 0;
    case kValueFloat:
    case kValueDecimal:
      return value->u.d != 0;
    case kValueInteger:
      return value->u.i != 0;
    case kValueSmallInt:
      return value->u.s != 0;
    case kValueObject:
      return value->u.p != nullptr;
    case kValueDate:
      return value->u.date.month && value->u.date.day;
    case kValueLogical:
      return value->u.b ? 1 : 0;
    default:
      NotConvertible();
      return 0;
  }
}

int16_t ValueIsTrue(const Value* value) {
  if (!IsTextKind(value->kind)) return ValueTruth(value);
  const char* p = ValueTextPointer(value);
  int c = p ? CharToUpper(static_cast<unsigned char>(*p)) : 0;
  return c == 'T' || c == 'Y' || c == '1';
}

int TextValueKind(const char* text) {
  char t[257];
  StrCopyPadded(t, text ? text : "", sizeof t);
  StrTrimRight(t);
  StrStripLeading(t);
  if (!t[0]) return kValueNone;
  const char* p = t;
  if (*p == '+' || *p == '-') ++p;
  size_t digits = std::strspn(p, "0123456789");
  if (digits > 0 && p[digits] == 0) {
    bool zero = std::strspn(p, "0") == digits;
    if (!zero && t[0] == '0') return kValueText;
    // magnitude, saturated well past the 32-bit limits
    double magnitude = 0;
    for (size_t i = 0; i < digits && magnitude < 1e12; ++i) magnitude = magnitude * 10 + (p[i] - '0');
    bool negative = t[0] == '-';
    if ((!negative && magnitude >= 2147483647.0) || (negative && magnitude >= 2147483648.0)) {
      return kValueDecimal;
    }
    return magnitude < 32768 ? kValueSmallInt : kValueInteger;
  }
  double d;
  if (WholeDouble(t, &d, 0)) return kValueDecimal;
  return kValueText;
}

// ----- field texts -----

int16_t ValueParseField(const char* text, uint8_t kind, int width, int decimals, uint16_t reset,
                        Value* value, int parseFlags) {
  if (reset) {
    std::memset(value, 0, sizeof *value);
    value->kind = kind == kValueBorrowedText          ? uint8_t(kValueText)
                  : kind == kValueBorrowedIdentifier ? uint8_t(kValueIdentifier)
                                                     : kind;
  } else {
    value->kind = kind;
  }
  if (!text) return 1;
  size_t length = std::strlen(text);
  char number[kNumberTextLimit + 1];
  auto numberText = [&]() {
    StrCopyPadded(number, text, sizeof number);
    StrTrimRight(number);
    StrStripLeading(number);
    return number[0] != 0;
  };
  switch (kind) {
    case kValueText:
    case kValueBorrowedText:
    case kValueIdentifier:
    case kValueBorrowedIdentifier: {
      size_t n = width >= 0 && size_t(width) < length ? size_t(width) : length;
      char* p = nullptr;
      if (reset) {
        if (!ValueAllocText(n, value, &p)) return 0;
      } else {
        p = ValueTextPointer(value);
        if (!p) return 0;
        // never past the block that is there
        if (value->kind != kValueText || value->aux < 0) {
          MemHandle h = value->u.p;
          size_t capacity = MemBlockSize(&h) - 1;
          if (n > capacity) n = capacity;
        } else if (n > std::strlen(p)) {
          n = std::strlen(p);
        }
      }
      std::memcpy(p, text, n);
      p[n] = 0;
      return 1;
    }
    case kValueFloat:
    case kValueDecimal:
      value->u.d = 0;
      if (!numberText()) return 1;
      if (!WholeDouble(number, &value->u.d, parseFlags)) break;
      if (kind == kValueFloat && decimals >= 0) {
        value->u.d = NumRoundToStep(value->u.d, std::pow(10.0, -decimals));
      }
      return 1;
    case kValueInteger:
      value->u.i = 0;
      if (!numberText()) return 1;
      if (!WholeLong(number, &value->u.i, parseFlags)) break;
      return 1;
    case kValueSmallInt: {
      value->u.s = 0;
      if (!numberText()) return 1;
      const char* end = NumParseShortEx(number, &value->u.s, parseFlags);
      if (!end || *end) {
        value->u.s = 0;
        break;
      }
      return 1;
    }
    case kValueDate:
      value->u.date = DateRec{0, 0, 0};
      if (!numberText()) return 1;
      if (!DateParse(number, &value->u.date)) break;
      return 1;
    case kValueLogical: {
      int c = CharToUpper(static_cast<unsigned char>(text[0]));
      value->u.b = c == 'T' || c == 'Y' || c == '1';
      return 1;
    }
    case kValueFixedText: {
      char* p = nullptr;
      if (reset) {
        if (width < 0) width = 0;
        if (!ValueAllocText(size_t(width), value, &p)) return 0;
      } else {
        p = static_cast<char*>(value->u.p);
        if (!p) return 0;
      }
      size_t w = size_t(value->aux);
      size_t n = length < w ? length : w;
      std::memcpy(p, text, n);
      std::memset(p + n, ' ', w - n);
      p[w] = 0;
      return 1;
    }
    default:
      return 1;
  }
  NotConvertible();
  return 0;
}

int16_t ValueNumberTextFits(const char* text, uint8_t kind, int parseFlags) {
  if (!text || !IsNumberKind(kind)) return 1;
  char number[kNumberTextLimit + 1];
  StrCopyPadded(number, text, sizeof number);
  StrTrimRight(number);
  StrStripLeading(number);
  if (!number[0]) return 1;
  switch (kind) {
    case kValueInteger: {
      int32_t n;
      return WholeLong(number, &n, parseFlags);
    }
    case kValueSmallInt: {
      int16_t n;
      const char* end = NumParseShortEx(number, &n, parseFlags);
      return end && !*end;
    }
    default: {
      double x;
      return WholeDouble(number, &x, parseFlags);
    }
  }
}

// ----- assignment -----

namespace {

// Writes a text into the destination's block, cut to what the block holds.
int16_t WriteIntoText(Value* d, const char* text) {
  char* p = ValueTextPointer(d);
  size_t n = std::strlen(text);
  if (!p) {
    if (!ValueAllocText(n, d, &p)) return 0;
  } else if (d->kind == kValueText && d->aux >= 0) {
    // a text in a caller's buffer: the buffer's size is unknown here, so no
    // more than the text that stands there now
    size_t room = std::strlen(p);
    if (n > room) n = room;
  } else {
    MemHandle h = d->u.p;
    size_t room = MemBlockSize(&h) - 1;
    if (n > room) n = room;
  }
  std::memcpy(p, text, n);
  p[n] = 0;
  return 1;
}

int16_t RefuseAssign(Value* d) {
  ValueBlank(d);
  NotConvertible();
  return 0;
}

int16_t AssignCommon(Value* d, const Value* s, int parseFlags, bool store) {
  switch (d->kind) {
    case kValueText:
    case kValueIdentifier: {
      char buffer[kNumberTextLimit];
      const char* text;
      if (IsTextKind(s->kind)) {
        text = ValueTextPointer(s);
        if (!text) text = "";
      } else {
        text = ValueToText(s, buffer, store ? kStoreTextSize : sizeof buffer, -1, 0);
      }
      if (store) {
        size_t n = std::strlen(text);
        char* p = ValueTextPointer(d);
        bool owned = d->kind == kValueIdentifier || d->aux < 0;
        MemHandle h = d->u.p;
        if (!p || !owned || MemBlockSize(&h) <= n) {
          if (text == p) return 1;
          ValueFree(d);
          if (!ValueAllocText(n, d, &p)) return 0;
        }
        std::memmove(p, text, n);
        p[n] = 0;
        return 1;
      }
      if (text == ValueTextPointer(d)) return 1;
      return WriteIntoText(d, text);
    }
    case kValueFixedText: {
      char buffer[kNumberTextLimit];
      const char* text = IsTextKind(s->kind) ? ValueTextPointer(s)
                                             : ValueToText(s, buffer, sizeof buffer, -1, 0);
      if (!text) text = "";
      char* p = static_cast<char*>(d->u.p);
      if (!p) return 0;
      size_t w = size_t(d->aux), n = std::strlen(text);
      if (n > w) n = w;
      std::memmove(p, text, n);
      std::memset(p + n, ' ', w - n);
      p[w] = 0;
      return 1;
    }
    case kValueFloat:
    case kValueDecimal:
      return ValueToDouble(s, &d->u.d, parseFlags);
    case kValueInteger:
      return ValueToLong(s, &d->u.i, parseFlags);
    case kValueSmallInt:
      return ValueToShort(s, &d->u.s, parseFlags);
    case kValueDate:
      return ValueToDate(s, &d->u.date);
    case kValueLogical:
      d->u.b = ValueIsTrue(s) ? 1 : 0;
      return 1;
    case kValuePen:
    case kValueBrush:
    case kValueSymbol:
    case kValueFont:
    case kValueObject: {
      if (d->kind == kValueObject && s->kind == kValueOpaque) return 0;
      if (s->kind != d->kind) return RefuseAssign(d);
      if (s == d) return 1;
      ValueFree(d);
      return ValueCopy(d, s);
    }
    case kValueMemo:
    case kValueBorrowedText:
    case kValueBorrowedIdentifier:
    case kValueOwnedBlock:
      return RefuseAssign(d);
    default:
      if (s->kind != d->kind) return RefuseAssign(d);
      *d = *s;
      return 1;
  }
}

}  // namespace

int16_t ValueAssign(Value* destination, const Value* source, int parseFlags) {
  return AssignCommon(destination, source, parseFlags, false);
}

int16_t ValueStore(Value* destination, const Value* source, int parseFlags) {
  return AssignCommon(destination, source, parseFlags, true);
}

// ----- text forms -----

char* NumGroupDigits(char* text, size_t size, char separator, int group) {
  if (group < 1 || !separator) return text;
  for (;;) {
    size_t length = std::strlen(text);
    if (size < length + 2) break;
    const char* mark = std::strchr(text, separator);
    if (!mark) mark = std::strchr(text, '.');
    size_t point = mark ? size_t(mark - text) : length;
    if (point <= size_t(group)) break;
    size_t at = point - size_t(group);
    bool digits = true;
    for (size_t i = at - 1; i < point; ++i) {
      if (text[i] < '0' || text[i] > '9') digits = false;
    }
    if (!digits) break;
    std::memmove(text + at + 1, text + at, length - at + 1);
    text[at] = separator;
  }
  return text;
}

char* NumLocalize(char* text, size_t size) {
  // The decimal point is found before grouping: with a thousands separator
  // of '.' the last '.' afterwards may be a separator.
  const char* dot = std::strrchr(text, '.');
  size_t tail = dot ? std::strlen(dot) : 0;
  char thousands = LocaleThousandSeparator();
  int group = LocaleGrouping();
  if (thousands && group >= 1) NumGroupDigits(text, size, thousands, group);
  char decimal = LocaleDecimalSeparator();
  if (decimal && tail) text[std::strlen(text) - tail] = decimal;
  return text;
}

char* NumFormatGeneral(double x, char* buffer, size_t size) {
  int p = 6;
  if (x != 0) {
    double l = std::log10(std::fabs(x));
    if (std::isfinite(l)) p = int(l) + 3;
    if (p < 6 || p >= 15) p = 6;
  }
  Printf(buffer, size, "%.*g", p, x);
  return buffer;
}

char* NumFormatAuto(double x, char* buffer, size_t size, int localise) {
  NumFormatGeneral(x, buffer, size);
  return localise ? NumLocalize(buffer, size) : buffer;
}

char* NumFormatG14(double x, char* buffer, size_t size, int localise) {
  Printf(buffer, size, "%.*g", 14, x);
  return localise ? NumLocalize(buffer, size) : buffer;
}

char* NumFormatTrimmed(double x, char* buffer, size_t size) {
  Printf(buffer, size, "%.12f", x);
  if (std::strchr(buffer, '.')) {
    size_t n = std::strlen(buffer);
    while (n > 0 && buffer[n - 1] == '0') buffer[--n] = 0;
    if (n > 0 && buffer[n - 1] == '.') buffer[--n] = 0;
  }
  return buffer;
}

int DatePatternLength() { return 8; }

void DateFormat(char* buffer, size_t size, const DateRec* date, int order, char separator,
                char* pattern, size_t patternSize) {
  int y = date->year, m = date->month, d = date->day;
  int first = order == 1 ? d : m, second = order == 1 ? m : d;
  const char* form;
  switch (order) {
    case 0:
    case 1:
      if (separator) {
        Printf(buffer, size, "%02d%c%02d%c%04d", first, separator, second, separator, y);
      } else {
        Printf(buffer, size, "%02d%02d%04d", first, second, y);
      }
      form = order == 0 ? "mm%cdd%cyyyy" : "dd%cmm%cyyyy";
      break;
    case 2:
    case 5:
      first = order == 2 ? m : d;
      second = order == 2 ? d : m;
      if (separator) {
        Printf(buffer, size, "%04d%c%02d%c%02d", y, separator, first, separator, second);
      } else {
        Printf(buffer, size, "%04d%02d%02d", y, first, second);
      }
      form = order == 2 ? "yyyy%cmm%cdd" : "yyyy%cdd%cmm";
      break;
    default:
      return;
  }
  if (!pattern) return;
  if (separator) {
    Printf(pattern, patternSize, form, separator, separator);
  } else {
    char plain[16];
    size_t j = 0;
    for (const char* f = form; *f; ++f) {
      if (*f == '%') {
        ++f;
        continue;
      }
      plain[j++] = *f;
    }
    plain[j] = 0;
    StrCopyPadded(pattern, plain, patternSize);
  }
}

void DateFormatShort(char* buffer, size_t size, const DateRec* date, int order, char separator) {
  DateFormat(buffer, size, date, order, separator, nullptr, 0);
}

char* ValueToText(const Value* value, char* buffer, size_t size, int decimals, int localise) {
  if (size == 0) return buffer;
  buffer[0] = 0;
  uint8_t k = value->kind;
  if ((k == kValueFloat || k == kValueDecimal) && value->u.d == -DBL_MAX) return buffer;
  if (IsTextKind(k)) return ValueCopyText(buffer, value, size);
  switch (k) {
    case kValueFloat:
      if (decimals < 0) {
        NumFormatGeneral(value->u.d, buffer, size);
      } else {
        Printf(buffer, size, "%.*f", decimals, value->u.d);
      }
      break;
    case kValueDecimal:
      NumFormatGeneral(value->u.d, buffer, size);
      break;
    case kValueInteger:
      Printf(buffer, size, "%ld", long(value->u.i));
      break;
    case kValueSmallInt:
      Printf(buffer, size, "%hd", value->u.s);
      break;
    case kValueDate:
      if (value->u.date.month && value->u.date.day) {
        if (!localise) {
          DateFormatShort(buffer, size, &value->u.date, 2, 0);
        } else {
          const Session* s = CurrentSession();
          int16_t order = 0;
          char separator = '/';
          DateFormatGet(s && s->monthFirst ? 0 : 1, &order, &separator);
          DateFormatShort(buffer, size, &value->u.date, order, separator);
        }
      }
      return buffer;
    case kValueLogical:
      StrCopyPadded(buffer, value->u.b ? "T" : "F", size);
      return buffer;
    case kValueMemo:
      StrCopyPadded(buffer, "memo", size);
      return buffer;
    case kValuePen:
      if (const auto* pen = static_cast<const PenRec*>(value->u.p)) {
        Printf(buffer, size, "Pen (%d, %d, %ld)", pen->width, int(pen->pattern), long(pen->colour));
      }
      return buffer;
    case kValueBrush:
      if (const auto* b = static_cast<const BrushRec*>(value->u.p)) {
        if (b->transparent) {
          Printf(buffer, size, "Brush (%d, %ld)", int(b->pattern), long(b->foreground));
        } else {
          Printf(buffer, size, "Brush (%d, %ld, %ld)", int(b->pattern), long(b->foreground),
                 long(b->background));
        }
      }
      return buffer;
    case kValueObject:
      if (value->u.p) MapObjectKindName(value->u.p, buffer, size);
      return buffer;
    case kValueFont:
      if (value->u.p) StyleClauseFont(*static_cast<const FontStyle*>(value->u.p), buffer, size);
      return buffer;
    default:
      return buffer;
  }
  if (localise) NumLocalize(buffer, size);
  return buffer;
}

// Float fields keep what a double gives in 14 significant digits, where the
// plain text of a value keeps six. The lowest double stays the empty text,
// as it does in every other number form.
char* ValueFormatDecimals(const Value* value, char* buffer, size_t size, int decimals,
                          int localise) {
  if (value->kind == kValueDecimal && value->u.d != -DBL_MAX)
    return NumFormatG14(value->u.d, buffer, size, localise);
  return ValueToText(value, buffer, size, decimals, localise);
}

// ----- comparison -----

int16_t ValueCompare(const Value* a, const Value* b, int* out, int, int report) {
  uint8_t ka = a->kind, kb = b->kind;
  bool da = ka == kValueDate, db = kb == kValueDate;
  enum { kDate, kInt, kDouble, kText, kLogical, kNone } rule;
  if ((da && (db || IsTextKind(kb))) || (db && IsTextKind(ka))) {
    rule = kDate;
  } else if ((ka == kValueInteger || ka == kValueSmallInt) &&
             (kb == kValueInteger || kb == kValueSmallInt)) {
    rule = kInt;
  } else if (IsNumberKind(ka) && IsNumberKind(kb)) {
    rule = kDouble;
  } else if (IsTextKind(ka) && IsTextKind(kb)) {
    rule = kText;
  } else if (ka == kValueLogical || kb == kValueLogical) {
    rule = kLogical;
  } else {
    rule = kNone;
  }
  if (rule == kNone) {
    if (report) ErrorPush(kErrorSeverity, kErrNotComparable, nullptr, nullptr);
    if (out) *out = -2;
    return 0;
  }
  if (!out) return 1;
  switch (rule) {
    case kDate: {
      DateRec x, y;
      if (!ValueToDate(a, &x) || !ValueToDate(b, &y)) {
        *out = -2;
        return 0;
      }
      *out = DateCompare(&x, &y);
      return 1;
    }
    case kInt: {
      int32_t x, y;
      if (ValueToLong(a, &x, 0) && ValueToLong(b, &y, 0)) {
        *out = x < y ? -1 : x > y ? 1 : 0;
        return 1;
      }
      double dx, dy;
      ValueToDouble(a, &dx, 0);
      ValueToDouble(b, &dy, 0);
      *out = dx == dy ? 0 : dx < dy ? -1 : 1;
      return 1;
    }
    case kDouble: {
      double x, y;
      ValueToDouble(a, &x, 0);
      ValueToDouble(b, &y, 0);
      *out = DoubleNearlyEqual(x, y) ? 0 : x < y ? -1 : 1;
      return 1;
    }
    case kText: {
      const char* x = ValueTextPointer(a);
      const char* y = ValueTextPointer(b);
      const int order = StrCompareCollated(x ? x : "", y ? y : "");
      *out = order < 0 ? -1 : order > 0 ? 1 : 0;
      return 1;
    }
    default: {
      int x = ValueTruth(a), y = ValueTruth(b);
      *out = x == y ? 0 : x < y ? -1 : 1;
      return 1;
    }
  }
}

namespace {

constexpr size_t kKeyValueOffset = 16;

const Value* KeyValue(const void* key) {
  return reinterpret_cast<const Value*>(static_cast<const char*>(key) + kKeyValueOffset);
}

int BytewiseOrder(const char* x, const char* y) {
  size_t lx = std::strlen(x), ly = std::strlen(y);
  int c = std::memcmp(x, y, (lx < ly ? lx : ly) + 1);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

int16_t ValueCompareKeys(const void* keyA, const void* keyB, int* out, int report) {
  const Value* a = KeyValue(keyA);
  const Value* b = KeyValue(keyB);
  if (IsTextKind(a->kind) && IsTextKind(b->kind)) {
    const char* x = ValueTextPointer(a);
    const char* y = ValueTextPointer(b);
    *out = BytewiseOrder(x ? x : "", y ? y : "");
    return 1;
  }
  return ValueCompare(a, b, out, 0, report);
}

int16_t ValueCompareIndexKey(const Value* search, const void* key, int* out, int report,
                             uint32_t stamp) {
  const Value* k = KeyValue(key);
  if (!(IsTextKind(search->kind) && IsTextKind(k->kind))) {
    return ValueCompare(search, k, out, 0, report);
  }
  const char* text = ValueTextPointer(search);
  if (!text) text = "";
  size_t n = std::strlen(text);
  char local[257];
  char* copy = local;
  if (n > 256) {
    copy = static_cast<char*>(MemAlloc(n + 1));
    if (!copy) {
      *out = 1;
      return 0;
    }
  }
  std::memcpy(copy, text, n + 1);
  NormalizeIndexKeyText(copy, stamp);
  const char* y = ValueTextPointer(k);
  *out = BytewiseOrder(copy, y ? y : "");
  if (copy != local) MemFree(copy);
  return 1;
}

}  // namespace layerio
