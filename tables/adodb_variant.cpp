// adodb: result texts, the error object, variants and their conversions, and
// OLE dates.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/calendar.h"
#include "platform/env.h"
#include "tables/adodb.h"

namespace adodb {

namespace {

struct ResultName {
  Result code;
  const char* text;
};

const ResultName kResultTexts[] = {
    {kOk, "The operation completed successfully"},
    {kAlreadyInitialised, "The library is already initialised on this thread"},
    {kNotImplemented, "Not implemented"},
    {kPointer, "Invalid pointer"},
    {kFail, "Unspecified error"},
    {kTypeMismatch, "Type mismatch"},
    {kOverflow, "The value is outside the range of its new type"},
    {kNoCurrentRecord, "There is no current record: the cursor is at BOF or EOF, or its record was deleted"},
    {kNotSupported, "The operation is not supported by this recordset's cursor, lock type or provider"},
    {kNotFound, "No item of that name or number is in the collection"},
    {kClosed, "The operation is not allowed while the object is closed"},
    {kAlreadyOpen, "The operation is not allowed while the object is open"},
    {kNoProvider, "The provider cannot be found or is not available"},
    {kProviderErrors, "The provider reported errors; see its messages"},
};

}  // namespace

std::string ResultText(Result code) {
  for (const ResultName& row : kResultTexts) {
    if (row.code == code) return row.text;
  }
  char text[48];
  std::snprintf(text, sizeof text, "Unknown error 0x%08X", unsigned(code));
  return text;
}

void Raise(Result code, const std::string& source) { throw ComError(code, source, ResultText(code)); }

void RaiseProvider(const std::string& source, std::vector<std::string> messages, Result code) {
  std::string description = messages.empty() ? ResultText(code) : messages.back();
  throw ComError(code, source, description, std::move(messages));
}

bool IsWholeKind(VarType type) {
  switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
      return true;
    default:
      return false;
  }
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && platform::AsciiIsSpace(text[begin])) begin++;
  while (end > begin && platform::AsciiIsSpace(text[end - 1])) end--;
  return text.substr(begin, end - begin);
}

// ---- OLE dates ----

namespace {


// 0100-01-01 and the day after 9999-12-31.
constexpr double kOleFirst = -657434.0;
constexpr double kOleEnd = 2958466.0;

}  // namespace

bool OleDateToParts(double date, DateParts* parts) {
  if (!(date >= kOleFirst && date < kOleEnd)) return false;
  double whole = std::trunc(date);
  // The fraction counts into the day from midnight whatever the sign.
  int64_t seconds = std::llround(std::fabs(date - whole) * 86400.0);
  auto days = int64_t(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;
  }
  CivilFromDays(days + kOleDayZero, &parts->year, &parts->month, &parts->day);
  if (parts->year < 100 || parts->year > 9999) return false;
  parts->hour = int(seconds / 3600);
  parts->minute = int(seconds / 60 % 60);
  parts->second = int(seconds % 60);
  return true;
}

double OleDateFromDays(int64_t days, double seconds) { return OleDateOf(days, seconds); }

double OleDateFromParts(const DateParts& parts) {
  int64_t days = DaysFromCivil(parts.year, parts.month, parts.day) - kOleDayZero;
  return OleDateFromDays(days, parts.hour * 3600.0 + parts.minute * 60.0 + parts.second);
}

// ---- variants ----

Variant Variant::Null() {
  Variant v;
  v.type_ = VT_NULL;
  return v;
}

Variant Variant::Whole(VarType type, int64_t value) {
  Variant v;
  v.type_ = type;
  v.whole_ = value;
  return v;
}

Variant Variant::Real(VarType type, double value) {
  Variant v;
  v.type_ = type;
  v.real_ = type == VT_R4 ? double(float(value)) : value;
  return v;
}

Variant Variant::Text(std::string text) {
  Variant v;
  v.type_ = VT_BSTR;
  v.text_ = std::move(text);
  return v;
}

Variant Variant::Decimal(std::string text) {
  Variant v;
  v.type_ = VT_DECIMAL;
  v.text_ = std::move(text);
  return v;
}

Variant Variant::Bytes(std::string bytes) {
  Variant v;
  v.type_ = VT_BYTES;
  v.text_ = std::move(bytes);
  return v;
}

Variant Variant::Dispatch(std::shared_ptr<Object> object) {
  Variant v;
  v.type_ = VT_DISPATCH;
  v.object_ = std::move(object);
  return v;
}

namespace {

constexpr const char* kSource = "Variant";

[[noreturn]] void Mismatch() { Raise(kTypeMismatch, kSource); }
[[noreturn]] void Overflow() { Raise(kOverflow, kSource); }

void WholeRange(VarType type, long double* low, long double* high) {
  switch (type) {
    case VT_I1:
      *low = -128.0L, *high = 127.0L;
      return;
    case VT_I2:
      *low = -32768.0L, *high = 32767.0L;
      return;
    case VT_I4:
      *low = -2147483648.0L, *high = 2147483647.0L;
      return;
    case VT_UI1:
      *low = 0, *high = 255.0L;
      return;
    case VT_UI2:
      *low = 0, *high = 65535.0L;
      return;
    case VT_UI4:
      *low = 0, *high = 4294967295.0L;
      return;
    case VT_UI8:
      *low = 0, *high = 18446744073709551615.0L;
      return;
    default:  // VT_I8
      *low = -9223372036854775808.0L, *high = 9223372036854775807.0L;
      return;
  }
}

// A whole text read as a number; false when it is not one.
bool ParseNumber(const std::string& text, long double* out) {
  std::string t = TrimBlanks(text);
  const char* first = t.data();
  const char* last = first + t.size();
  if (first != last && *first == '+') first++;
  if (first == last) return false;
  auto result = std::from_chars(first, last, *out, std::chars_format::general);
  return result.ec == std::errc() && result.ptr == last;
}

// "yyyy-mm-dd", then " hh:mm" or "Thh:mm", then ":ss".
bool ParseDate(const std::string& text, double* out) {
  std::string t = TrimBlanks(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  auto read = [&](size_t at, size_t digits, int* value) {
    if (at + digits > t.size()) return false;
    auto result = std::from_chars(t.data() + at, t.data() + at + digits, *value);
    return result.ec == std::errc() && result.ptr == t.data() + at + digits;
  };
  if (!read(0, 4, &year) || t.size() < 10 || t[4] != '-' || !read(5, 2, &month) || t[7] != '-' ||
      !read(8, 2, &day)) {
    return false;
  }
  if (t.size() > 10) {
    if ((t[10] != ' ' && t[10] != 'T') || !read(11, 2, &hour) || t.size() < 16 || t[13] != ':' ||
        !read(14, 2, &minute)) {
      return false;
    }
    if (t.size() > 16 && (t[16] != ':' || t.size() != 19 || !read(17, 2, &second))) return false;
    if (t.size() != 16 && t.size() != 19) return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
  int checkYear = 0, checkMonth = 0, checkDay = 0;
  CivilFromDays(DaysFromCivil(year, month, day), &checkYear, &checkMonth, &checkDay);
  if (checkMonth != month || checkDay != day) return false;
  DateParts parts{year, month, day, hour, minute, second};
  *out = OleDateFromParts(parts);
  return true;
}

// The number a variant holds; kTypeMismatch for kinds that hold none.
long double NumberOf(const Variant& v) {
  switch (v.Type()) {
    case VT_EMPTY:
      return 0;
    case VT_BOOL:
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
      return (long double)v.WholeValue();
    case VT_UI8:
      return (long double)uint64_t(v.WholeValue());
    case VT_CY:
      return (long double)v.WholeValue() / 10000.0L;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return v.RealValue();
    case VT_DECIMAL:
    case VT_BSTR: {
      long double value = 0;
      if (!ParseNumber(v.TextValue(), &value)) Mismatch();
      return value;
    }
    default:
      Mismatch();
  }
}

std::string GeneralText(double value, int digits) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
  return std::string(buffer, result.ptr);
}

std::string CurrencyText(int64_t tenThousandths) {
  bool negative = tenThousandths < 0;
  uint64_t magnitude = negative ? uint64_t(0) - uint64_t(tenThousandths) : uint64_t(tenThousandths);
  std::string text = std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", unsigned(fraction));
    std::string tail = digits;
    while (!tail.empty() && tail.back() == '0') tail.pop_back();
    text += "." + tail;
  }
  return negative ? "-" + text : text;
}

std::string DateText(double date) {
  DateParts parts;
  if (!OleDateToParts(date, &parts)) Overflow();
  char text[32];
  if (parts.hour == 0 && parts.minute == 0 && parts.second == 0) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.year, parts.month, parts.day);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month, parts.day,
                  parts.hour, parts.minute, parts.second);
  }
  return text;
}

std::string TextOf(const Variant& v) {
  switch (v.Type()) {
    case VT_EMPTY:
      return "";
    case VT_BOOL:
      return v.WholeValue() != 0 ? "True" : "False";
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
      return std::to_string(v.WholeValue());
    case VT_UI8:
      return std::to_string(uint64_t(v.WholeValue()));
    case VT_CY:
      return CurrencyText(v.WholeValue());
    case VT_R4:
      return GeneralText(v.RealValue(), 7);
    case VT_R8:
      return GeneralText(v.RealValue(), 15);
    case VT_DATE:
      return DateText(v.RealValue());
    case VT_BSTR:
    case VT_DECIMAL:
      return v.TextValue();
    default:
      Mismatch();
  }
}

bool AsciiWord(const std::string& text, const char* word) {
  return platform::AsciiEqualsIgnoreCase(TrimBlanks(text), word);
}

}  // namespace

Variant Variant::ChangeType(VarType target) const {
  if (target == type_) return *this;
  switch (type_) {
    case VT_NULL:
    case VT_DISPATCH:
    case VT_ERROR:
      Mismatch();
    case VT_BYTES:
      if (target == VT_BSTR) return Text(text_);
      Mismatch();
    default:
      break;
  }
  switch (target) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Null();
    case VT_BSTR:
      return Text(TextOf(*this));
    case VT_BYTES:
      if (type_ == VT_BSTR) return Bytes(text_);
      Mismatch();
    case VT_DECIMAL: {
      long double value = NumberOf(*this);
      if (type_ == VT_BSTR || type_ == VT_DECIMAL) return Decimal(TrimBlanks(text_));
      if (type_ == VT_CY) return Decimal(CurrencyText(whole_));
      if (IsWholeKind(type_) || type_ == VT_BOOL || type_ == VT_EMPTY) return Decimal(TextOf(Whole(VT_I8, whole_)));
      return Decimal(GeneralText(double(value), 17));
    }
    case VT_BOOL: {
      if (type_ == VT_BSTR && AsciiWord(text_, "True")) return Bool(true);
      if (type_ == VT_BSTR && AsciiWord(text_, "False")) return Bool(false);
      return Bool(NumberOf(*this) != 0);
    }
    case VT_R4: {
      long double value = NumberOf(*this);
      if (std::isnan(value)) return Real(VT_R4, double(value));
      if (std::fabs(value) > (long double)FLT_MAX) Overflow();
      return Real(VT_R4, double(value));
    }
    case VT_R8: {
      long double value = NumberOf(*this);
      if (std::fabs(value) > (long double)DBL_MAX && !std::isinf(value)) Overflow();
      return Real(VT_R8, double(value));
    }
    case VT_DATE: {
      double date = 0;
      if (type_ == VT_BSTR && ParseDate(text_, &date)) return Date(date);
      long double value = NumberOf(*this);
      if (!(value >= kOleFirst && value < kOleEnd)) Overflow();
      return Date(double(value));
    }
    case VT_CY: {
      long double value = std::nearbyint(NumberOf(*this) * 10000.0L);
      if (!(value >= -9223372036854775808.0L && value <= 9223372036854775807.0L)) Overflow();
      return Currency(int64_t(value));
    }
    default:
      break;
  }
  if (!IsWholeKind(target)) Mismatch();
  long double value = NumberOf(*this);
  if (std::isnan(value)) Overflow();
  value = std::nearbyint(value);
  long double low = 0, high = 0;
  WholeRange(target, &low, &high);
  if (value < low || value > high) Overflow();
  if (target == VT_UI8) return Whole(target, int64_t(uint64_t(value)));
  return Whole(target, int64_t(value));
}

}  // namespace adodb
