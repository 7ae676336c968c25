#include "tables/qvariant.h"

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "base/qstring.h"
#include "platform/env.h"

namespace {

constexpr const char* kClass = "CQmsVariant";
constexpr char kDateZero[] = "00000000";
constexpr char kDateTimeZero[] = "0000000000:00:00";
constexpr char kMidnight[] = "00:00:00";
constexpr size_t kDateLength = 8;
constexpr size_t kDateTimeLength = 16;

// ---- numbers to whole numbers, as the original platform cuts them: toward
// zero, and the "indefinite integer" (the lowest value) when out of range ----

int32_t CutToInt32(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return int32_t(value);
}

int64_t CutToInt64(double value) {
  if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) return INT64_MIN;
  return int64_t(value);
}

float Narrow(double value) {
  if (value > double(FLT_MAX)) return std::numeric_limits<float>::infinity();
  if (value < -double(FLT_MAX)) return -std::numeric_limits<float>::infinity();
  return float(value);
}

// ---- texts to numbers, as atoi, atol and atof read them ----

int32_t TextToInt(const char* text) { return text ? StrToInt(text) : 0; }

double TextToDouble(const char* text) {
  if (text == nullptr) return 0.0;
  while (platform::AsciiIsSpace(*text)) text++;
  const char* start = text;
  if (*start == '+' && start[1] != '-') start++;
  const char* end = start + std::strlen(start);
  double value = 0.0;
  auto result = std::from_chars(start, end, value, std::chars_format::general);
  if (result.ec == std::errc()) return value;
  if (result.ec != std::errc::result_out_of_range) return 0.0;
  // Out of range: too large unless the exponent is negative or the digits
  // start with a zero.
  bool negative = *start == '-';
  const char* digits = negative ? start + 1 : start;
  const char* exponent = std::strpbrk(digits, "eE");
  bool tiny = (exponent && exponent[1] == '-') || *digits == '0' || *digits == '.';
  double magnitude = tiny ? 0.0 : HUGE_VAL;
  return negative ? -magnitude : magnitude;
}

// ---- numbers to texts ----

// "%f" (precision 6) or "%.0f" of a value.
std::string FixedText(double value, int precision) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  if (result.ec != std::errc()) return "*";
  return std::string(buffer, result.ptr);
}

std::string WholeText(int32_t value) { return std::to_string(value); }

// Zero-padded to width after the sign, as the 0 flag of "%08d" pads; texts
// that are not numbers (inf, nan) are padded with blanks in front.
std::string ZeroPadded(std::string text, size_t width) {
  if (text.size() >= width) return text;
  size_t at = (text[0] == '-') ? 1 : 0;
  bool number = platform::AsciiIsDigit(text[at]);
  text.insert(number ? at : 0, width - text.size(), number ? '0' : ' ');
  return text;
}

// The date text of a whole number ("%08d") or of a double ("%08.0f").
std::string DateOfWhole(int32_t value) { return ZeroPadded(WholeText(value), kDateLength); }
std::string DateOfReal(double value) { return ZeroPadded(FixedText(value, 0), kDateLength); }

// Copies at most limit characters and a terminator into a fixed text.
template <size_t N>
void SetFixed(char (&field)[N], const char* text, size_t limit) {
  static_assert(N >= 2);
  size_t n = std::strlen(text);
  if (n > limit) n = limit;
  if (n > N - 1) n = N - 1;
  std::memcpy(field, text, n);
  field[n] = 0;
}

// A date-time text: the date part (cut to 8) followed by "00:00:00".
template <size_t N>
void SetDateTimeOf(char (&field)[N], const std::string& date) {
  SetFixed(field, (date + kMidnight).c_str(), kDateTimeLength);
}

// A new C-heap text of exactly size bytes holding text (cut to size - 1).
char* NewText(const char* text, size_t size) {
  char* buffer = static_cast<char*>(std::malloc(size));
  if (buffer == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  StrCopySized(buffer, text, size);
  return buffer;
}

// The text of the kinds that hold one (STRING, possibly without text, DATE
// and DATETIME); null for the others.
const char* KindText(const _varstruct& vs) {
  switch (vs.vt) {
    case QMS_VARIANT_STRING:
      return vs.value.pszVal;
    case QMS_VARIANT_DATE:
      return vs.value.dateVal.szDate;
    case QMS_VARIANT_DATETIME:
      return vs.value.dateTimeVal.szDateTime;
    default:
      return nullptr;
  }
}

bool InRange(QMS_VARIANT_TYPE type) { return type >= QMS_VARIANT_EMPTY && type <= QMS_VARIANT_DATETIME; }

const char* const kTypeNames[13] = {
    "QMS_VARIANT_EMPTY",  "QMS_VARIANT_BOOLEAN", "QMS_VARIANT_CHAR",     "QMS_VARIANT_DOUBLE",
    "QMS_VARIANT_FLOAT",  "QMS_VARIANT_INT",     "QMS_VARIANT_LONG",     "QMS_VARIANT_STRING",
    "QMS_VARIANT_ULONG",  "QMS_VARIANT_USHORT",  "QMS_VARIANT_VOIDSTAR", "QMS_VARIANT_DATE",
    "QMS_VARIANT_DATETIME",
};

}  // namespace

const char* QmsVariantTypeName(QMS_VARIANT_TYPE type) { return InRange(type) ? kTypeNames[type] : nullptr; }

// ---- construction ----

CQmsVariant::CQmsVariant() {
  std::memset(&m_vs, 0, sizeof m_vs);
  SetFixed(m_Date.szDate, kDateZero, kDateLength);
  m_DateTime.szDateTime[0] = 0;
  m_szText[0] = 0;
}

CQmsVariant::CQmsVariant(QBOOL value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(char value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(double value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(float value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(int value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(long value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(unsigned int value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(unsigned long value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(unsigned short value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(void* value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(const _qmsdate& value) : CQmsVariant() { *this = value; }
CQmsVariant::CQmsVariant(const _qmsdatetime& value) : CQmsVariant() { *this = value; }

CQmsVariant::CQmsVariant(const char* text) : CQmsVariant() {
  m_vs.vt = QMS_VARIANT_STRING;
  if (text != nullptr) *this = text;
}

CQmsVariant::CQmsVariant(const CQmsStringPtr& text) : CQmsVariant() {
  const char* chars = text;
  *this = chars ? chars : "";
}

CQmsVariant::CQmsVariant(const CQmsVariant& other) : CQmsObject(), CQmsCollectable(), CQmsTest() {
  std::memset(&m_vs, 0, sizeof m_vs);
  SetFixed(m_Date.szDate, kDateZero, kDateLength);
  m_DateTime.szDateTime[0] = 0;
  m_szText[0] = 0;
  initFromVarStruct(other.m_vs);
}

CQmsVariant::CQmsVariant(const _varstruct& other) : CQmsVariant() { initFromVarStruct(other); }

CQmsVariant::~CQmsVariant() { FreeText(); }

// ---- the value's storage ----

void CQmsVariant::FreeText() {
  if (m_vs.vt == QMS_VARIANT_STRING && m_vs.value.pszVal != nullptr) {
    if (m_uTextCapacity != 0) std::free(m_vs.value.pszVal);
    m_vs.value.pszVal = nullptr;
  }
  m_uTextCapacity = 0;
}

void CQmsVariant::Clear() {
  if (m_vs.vt == QMS_VARIANT_EMPTY && m_vs.value.iVal == 0) return;
  FreeText();
  std::memset(&m_vs, 0, sizeof m_vs);
  SetFixed(m_Date.szDate, kDateZero, kDateLength);
}

void CQmsVariant::SetTyped(QMS_VARIANT_TYPE type) {
  if (m_vs.vt != type) {
    Clear();
    m_vs.vt = type;
  }
}

void CQmsVariant::Commit(const _varstruct& next, uint32_t capacity) {
  FreeText();
  m_vs = next;
  m_uTextCapacity = capacity;
}

void CQmsVariant::initFromVarStruct(const _varstruct& source) {
  if (&source == &m_vs) return;
  if (m_vs.vt != source.vt) Clear();
  if (source.vt != QMS_VARIANT_STRING) {
    m_vs = source;
    return;
  }
  const char* text = source.value.pszVal;
  if (text == nullptr) {
    // A STRING without text stays one.
    FreeText();
    m_vs.vt = QMS_VARIANT_STRING;
    return;
  }
  if (m_vs.vt == QMS_VARIANT_STRING && text == m_vs.value.pszVal) return;
  size_t needed = std::strlen(text) + 1;
  if (needed > UINT32_MAX) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
  if (m_vs.vt != QMS_VARIANT_STRING || m_vs.value.pszVal == nullptr || m_uTextCapacity < needed) {
    char* buffer = static_cast<char*>(std::malloc(needed));
    if (buffer == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    FreeText();
    m_vs.vt = QMS_VARIANT_STRING;
    m_vs.value.pszVal = buffer;
    m_uTextCapacity = uint32_t(needed);
  }
  std::memcpy(m_vs.value.pszVal, text, needed);
}

// ---- assignment ----

CQmsVariant& CQmsVariant::operator=(QBOOL value) {
  SetTyped(QMS_VARIANT_BOOLEAN);
  m_vs.value.bVal = value;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(char value) {
  SetTyped(QMS_VARIANT_CHAR);
  m_vs.value.cVal = value;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(double value) {
  SetTyped(QMS_VARIANT_DOUBLE);
  m_vs.value.dblVal = value;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(float value) {
  SetTyped(QMS_VARIANT_FLOAT);
  m_vs.value.fltVal = value;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(int value) {
  SetTyped(QMS_VARIANT_INT);
  m_vs.value.iVal = int32_t(value);
  return *this;
}

CQmsVariant& CQmsVariant::operator=(long value) {
  SetTyped(QMS_VARIANT_LONG);
  m_vs.value.lVal = int32_t(uint32_t(value));
  return *this;
}

CQmsVariant& CQmsVariant::operator=(unsigned int value) {
  SetTyped(QMS_VARIANT_ULONG);
  m_vs.value.ulVal = uint32_t(value);
  return *this;
}

CQmsVariant& CQmsVariant::operator=(unsigned long value) {
  SetTyped(QMS_VARIANT_ULONG);
  m_vs.value.ulVal = uint32_t(value);
  return *this;
}

CQmsVariant& CQmsVariant::operator=(unsigned short value) {
  SetTyped(QMS_VARIANT_USHORT);
  m_vs.value.usVal = value;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(void* value) {
  SetTyped(QMS_VARIANT_VOIDSTAR);
  m_vs.value.pVal = value;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(const _qmsdate& value) {
  SetTyped(QMS_VARIANT_DATE);
  // Up to 9 characters: the text ends at the last one whatever it holds.
  std::memcpy(m_vs.value.dateVal.szDate, value.szDate, sizeof value.szDate);
  m_vs.value.dateVal.szDate[kDateLength] = 0;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(const _qmsdatetime& value) {
  SetTyped(QMS_VARIANT_DATETIME);
  std::memcpy(m_vs.value.dateTimeVal.szDateTime, value.szDateTime, sizeof value.szDateTime);
  m_vs.value.dateTimeVal.szDateTime[kDateTimeLength] = 0;
  return *this;
}

CQmsVariant& CQmsVariant::operator=(const char* text) {
  try {
    if (text == nullptr) QmsRaise(QMS_FATAL_BAD_POINTER);
    if (m_vs.vt == QMS_VARIANT_STRING && text == m_vs.value.pszVal) return *this;
    size_t needed = std::strlen(text) + 1;
    if (needed > UINT32_MAX) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    if (m_vs.vt == QMS_VARIANT_STRING && m_vs.value.pszVal != nullptr && m_uTextCapacity >= needed) {
      std::memmove(m_vs.value.pszVal, text, needed);
      return *this;
    }
    char* buffer = static_cast<char*>(std::malloc(needed));
    if (buffer == nullptr) QmsRaise(QMS_SEVERE_OUT_OF_MEMORY);
    std::memcpy(buffer, text, needed);
    SetTyped(QMS_VARIANT_STRING);
    FreeText();
    m_vs.value.pszVal = buffer;
    m_uTextCapacity = uint32_t(needed);
  } catch (long code) {
    QmsReport(code, QMS_SITE(kClass, "operator=", "operator= failed"));
  }
  return *this;
}

CQmsVariant& CQmsVariant::operator=(const CQmsVariant& other) {
  if (&other != this) initFromVarStruct(other.m_vs);
  return *this;
}

CQmsVariant& CQmsVariant::operator=(const _varstruct& other) {
  initFromVarStruct(other);
  return *this;
}

// ---- ChangeType ----

void CQmsVariant::ChangeType(QMS_VARIANT_TYPE target) {
  if (target == m_vs.vt) return;
  try {
    if (!InRange(target)) QmsRaise(QMS_SEVERE_INVALID_TYPE);
    switch (m_vs.vt) {
      case QMS_VARIANT_EMPTY:
        ChangeTypeFromEmpty(target);
        break;
      case QMS_VARIANT_BOOLEAN:
        ChangeTypeFromBoolean(target);
        break;
      case QMS_VARIANT_CHAR:
        ChangeTypeFromChar(target);
        break;
      case QMS_VARIANT_DOUBLE:
        ChangeTypeFromDouble(target);
        break;
      case QMS_VARIANT_FLOAT:
        ChangeTypeFromFloat(target);
        break;
      case QMS_VARIANT_INT:
        ChangeTypeFromInt(target);
        break;
      case QMS_VARIANT_LONG:
        ChangeTypeFromLong(target);
        break;
      case QMS_VARIANT_STRING:
        ChangeTypeFromString(target);
        break;
      case QMS_VARIANT_ULONG:
        ChangeTypeFromUlong(target);
        break;
      case QMS_VARIANT_USHORT:
        ChangeTypeFromUshort(target);
        break;
      case QMS_VARIANT_VOIDSTAR:
        ChangeTypeFromVoidstar(target);
        break;
      case QMS_VARIANT_DATE:
        ChangeTypeFromDate(target);
        break;
      case QMS_VARIANT_DATETIME:
        ChangeTypeFromDateTime(target);
        break;
      default:
        QmsRaise(QMS_SEVERE_INVALID_TYPE);
    }
  } catch (long code) {
    Clear();
    QmsReport(code, QMS_SITE(kClass, "ChangeType", "ChangeType failed"));
    throw;
  }
}

void CQmsVariant::ChangeTypeFromEmpty(QMS_VARIANT_TYPE target) {
  _varstruct next;
  std::memset(&next, 0, sizeof next);
  next.vt = target;
  if (target == QMS_VARIANT_DATE) SetFixed(next.value.dateVal.szDate, kDateZero, kDateLength);
  if (target == QMS_VARIANT_DATETIME) SetFixed(next.value.dateTimeVal.szDateTime, kDateTimeZero, kDateTimeLength);
  // STRING: a STRING without text.
  Commit(next, 0);
}

void CQmsVariant::ChangeTypeFromBoolean(QMS_VARIANT_TYPE target) {
  if (target == QMS_VARIANT_CHAR) {
    m_vs.vt = target;  // the stored byte, read as a character
    return;
  }
  if (target == QMS_VARIANT_STRING) {
    const char* text = m_vs.value.bVal ? "TRUE" : "FALSE";
    size_t size = std::strlen(text) + 1;
    _varstruct next;
    std::memset(&next, 0, sizeof next);
    next.vt = target;
    next.value.pszVal = NewText(text, size);
    Commit(next, uint32_t(size));
    return;
  }
  ChangeTypeFromWhole(m_vs.value.bVal != 0, target);
}

void CQmsVariant::ChangeTypeFromChar(QMS_VARIANT_TYPE target) {
  if (target == QMS_VARIANT_DATE || target == QMS_VARIANT_DATETIME) QmsRaise(QMS_SEVERE_INVALID_TYPE);
  if (target == QMS_VARIANT_STRING) {
    const char text[2] = {m_vs.value.cVal, 0};
    _varstruct next;
    std::memset(&next, 0, sizeof next);
    next.vt = target;
    next.value.pszVal = NewText(text, sizeof text);
    Commit(next, sizeof text);
    return;
  }
  ChangeTypeFromWhole(static_cast<signed char>(m_vs.value.cVal), target);
}

void CQmsVariant::ChangeTypeFromDouble(QMS_VARIANT_TYPE target) { ChangeTypeFromReal(m_vs.value.dblVal, target); }
void CQmsVariant::ChangeTypeFromFloat(QMS_VARIANT_TYPE target) { ChangeTypeFromReal(m_vs.value.fltVal, target); }
void CQmsVariant::ChangeTypeFromInt(QMS_VARIANT_TYPE target) { ChangeTypeFromWhole(m_vs.value.iVal, target); }
void CQmsVariant::ChangeTypeFromLong(QMS_VARIANT_TYPE target) { ChangeTypeFromWhole(m_vs.value.lVal, target); }
void CQmsVariant::ChangeTypeFromUlong(QMS_VARIANT_TYPE target) { ChangeTypeFromWhole(m_vs.value.ulVal, target); }
void CQmsVariant::ChangeTypeFromUshort(QMS_VARIANT_TYPE target) { ChangeTypeFromWhole(m_vs.value.usVal, target); }
void CQmsVariant::ChangeTypeFromString(QMS_VARIANT_TYPE target) { ChangeTypeFromText(KindText(m_vs), target); }
void CQmsVariant::ChangeTypeFromDate(QMS_VARIANT_TYPE target) { ChangeTypeFromText(KindText(m_vs), target); }
void CQmsVariant::ChangeTypeFromDateTime(QMS_VARIANT_TYPE target) { ChangeTypeFromText(KindText(m_vs), target); }

void CQmsVariant::ChangeTypeFromVoidstar(QMS_VARIANT_TYPE target) {
  auto bits = reinterpret_cast<uintptr_t>(m_vs.value.pVal);
  switch (target) {
    case QMS_VARIANT_EMPTY:
    case QMS_VARIANT_BOOLEAN:
    case QMS_VARIANT_CHAR:
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
    case QMS_VARIANT_ULONG:
    case QMS_VARIANT_USHORT:
      // The low 32 bits, read as a whole number; the truth is the whole pointer's.
      if (target == QMS_VARIANT_BOOLEAN) {
        ChangeTypeFromWhole(bits != 0, target);
      } else {
        ChangeTypeFromWhole(int32_t(uint32_t(bits)), target);
      }
      return;
    default:
      QmsRaise(QMS_SEVERE_INVALID_TYPE);
  }
}

void CQmsVariant::ChangeTypeFromWhole(int64_t value, QMS_VARIANT_TYPE target) {
  _varstruct next;
  std::memset(&next, 0, sizeof next);
  next.vt = target;
  uint32_t capacity = 0;
  // As a 32-bit signed number: how "%d" reads every whole kind.
  int32_t asInt = int32_t(uint32_t(uint64_t(value)));
  switch (target) {
    case QMS_VARIANT_EMPTY:
      break;
    case QMS_VARIANT_BOOLEAN:
      next.value.bVal = value != 0;
      break;
    case QMS_VARIANT_CHAR:
      next.value.cVal = char(uint8_t(uint64_t(value)));
      break;
    case QMS_VARIANT_DOUBLE:
      next.value.dblVal = double(value);
      break;
    case QMS_VARIANT_FLOAT:
      next.value.fltVal = float(value);
      break;
    case QMS_VARIANT_INT:
      next.value.iVal = asInt;
      break;
    case QMS_VARIANT_LONG:
      next.value.lVal = asInt;
      break;
    case QMS_VARIANT_ULONG:
      next.value.ulVal = uint32_t(uint64_t(value));
      break;
    case QMS_VARIANT_USHORT:
      next.value.usVal = uint16_t(uint64_t(value));
      break;
    case QMS_VARIANT_VOIDSTAR:
      next.value.pVal = reinterpret_cast<void*>(intptr_t(value));
      break;
    case QMS_VARIANT_STRING: {
      std::string text = WholeText(asInt);
      next.value.pszVal = NewText(text.c_str(), text.size() + 1);
      capacity = uint32_t(text.size() + 1);
      break;
    }
    case QMS_VARIANT_DATE:
      SetFixed(next.value.dateVal.szDate, DateOfWhole(asInt).c_str(), kDateLength);
      break;
    case QMS_VARIANT_DATETIME:
      SetDateTimeOf(next.value.dateTimeVal.szDateTime, DateOfWhole(asInt));
      break;
    default:
      QmsRaise(QMS_SEVERE_INVALID_TYPE);
  }
  Commit(next, capacity);
}

void CQmsVariant::ChangeTypeFromReal(double value, QMS_VARIANT_TYPE target) {
  _varstruct next;
  std::memset(&next, 0, sizeof next);
  next.vt = target;
  uint32_t capacity = 0;
  switch (target) {
    case QMS_VARIANT_EMPTY:
      break;
    case QMS_VARIANT_BOOLEAN:
      next.value.bVal = value != 0.0;
      break;
    case QMS_VARIANT_CHAR:
      next.value.cVal = char(uint8_t(uint32_t(CutToInt32(value))));
      break;
    case QMS_VARIANT_DOUBLE:
      next.value.dblVal = value;
      break;
    case QMS_VARIANT_FLOAT:
      next.value.fltVal = Narrow(value);
      break;
    case QMS_VARIANT_INT:
      next.value.iVal = CutToInt32(value);
      break;
    case QMS_VARIANT_LONG:
      next.value.lVal = CutToInt32(value);
      break;
    case QMS_VARIANT_ULONG:
      next.value.ulVal = uint32_t(uint64_t(CutToInt64(value)));
      break;
    case QMS_VARIANT_USHORT:
      next.value.usVal = uint16_t(uint32_t(CutToInt32(value)));
      break;
    case QMS_VARIANT_STRING: {
      std::string text = FixedText(value, 6);
      next.value.pszVal = NewText(text.c_str(), text.size() + 1);
      capacity = uint32_t(text.size() + 1);
      break;
    }
    case QMS_VARIANT_DATE:
      SetFixed(next.value.dateVal.szDate, DateOfReal(value).c_str(), kDateLength);
      break;
    case QMS_VARIANT_DATETIME:
      SetDateTimeOf(next.value.dateTimeVal.szDateTime, DateOfReal(value));
      break;
    default:
      QmsRaise(QMS_SEVERE_INVALID_TYPE);
  }
  Commit(next, capacity);
}

void CQmsVariant::ChangeTypeFromText(const char* text, QMS_VARIANT_TYPE target) {
  const QMS_VARIANT_TYPE source = m_vs.vt;
  _varstruct next;
  std::memset(&next, 0, sizeof next);
  next.vt = target;
  uint32_t capacity = 0;
  switch (target) {
    case QMS_VARIANT_EMPTY:
      break;
    case QMS_VARIANT_BOOLEAN:
      if (source == QMS_VARIANT_STRING) {
        next.value.bVal = text != nullptr && text[0] != 0 && std::strchr("TtYy", text[0]) != nullptr;
      } else {
        next.value.bVal = std::strcmp(text, source == QMS_VARIANT_DATE ? kDateZero : kDateTimeZero) != 0;
      }
      break;
    case QMS_VARIANT_CHAR:
      next.value.cVal = text ? text[0] : 0;
      break;
    case QMS_VARIANT_DOUBLE:
      next.value.dblVal = TextToDouble(text);
      break;
    case QMS_VARIANT_FLOAT:
      next.value.fltVal = Narrow(TextToDouble(text));
      break;
    case QMS_VARIANT_INT:
      next.value.iVal = TextToInt(text);
      break;
    case QMS_VARIANT_LONG:
      next.value.lVal = TextToInt(text);
      break;
    case QMS_VARIANT_ULONG:
      next.value.ulVal = uint32_t(TextToInt(text));
      break;
    case QMS_VARIANT_USHORT:
      next.value.usVal = uint16_t(uint32_t(TextToInt(text)));
      break;
    case QMS_VARIANT_STRING: {
      // A copy of the date (9 bytes) or date-time (17 bytes) text.
      size_t size = source == QMS_VARIANT_DATE ? sizeof(_qmsdate) : sizeof(_qmsdatetime);
      next.value.pszVal = NewText(text, size);
      capacity = uint32_t(size);
      break;
    }
    case QMS_VARIANT_DATE:
      if (source != QMS_VARIANT_STRING) QmsRaise(QMS_SEVERE_INVALID_TYPE);
      SetFixed(next.value.dateVal.szDate, text ? DateOfWhole(TextToInt(text)).c_str() : kDateZero, kDateLength);
      break;
    case QMS_VARIANT_DATETIME:
      if (source != QMS_VARIANT_STRING) QmsRaise(QMS_SEVERE_INVALID_TYPE);
      SetFixed(next.value.dateTimeVal.szDateTime, text ? text : kDateTimeZero, kDateTimeLength);
      break;
    default:
      QmsRaise(QMS_SEVERE_INVALID_TYPE);
  }
  Commit(next, capacity);
}

// ---- conversion operators ----

namespace {

// "TRUE" in any case.
bool IsTrueText(const char* text) { return text != nullptr && platform::AsciiEqualsIgnoreCase(text, "TRUE"); }

[[noreturn]] void WrongVariant() { QmsRaise(QMS_SEVERE_WRONG_VARIANT); }

}  // namespace

CQmsVariant::operator QBOOL() const {
  return QmsGuarded(QMS_SITE(kClass, "operator QBOOL", "operator QBOOL failed"), [&]() -> QBOOL {
    const auto& v = m_vs.value;
    switch (m_vs.vt) {
      case QMS_VARIANT_EMPTY:
        return 0;
      case QMS_VARIANT_BOOLEAN:
        return v.bVal;
      case QMS_VARIANT_CHAR:
        return v.cVal != 0;
      case QMS_VARIANT_DOUBLE:
        return v.dblVal != 0.0;
      case QMS_VARIANT_FLOAT:
        return v.fltVal != 0.0f;
      case QMS_VARIANT_INT:
      case QMS_VARIANT_LONG:
        return v.iVal != 0;
      case QMS_VARIANT_ULONG:
        return v.ulVal != 0;
      case QMS_VARIANT_USHORT:
        return v.usVal != 0;
      case QMS_VARIANT_STRING:
        return IsTrueText(v.pszVal);
      case QMS_VARIANT_DATE:
        return std::strcmp(v.dateVal.szDate, kDateZero) != 0;
      case QMS_VARIANT_DATETIME:
        // Against the kind's own zero, as ChangeType tests it.
        return std::strcmp(v.dateTimeVal.szDateTime, kDateTimeZero) != 0;
      default:
        WrongVariant();
    }
  });
}

CQmsVariant::operator char() const {
  return QmsGuarded(QMS_SITE(kClass, "operator char", "operator char failed"), [&]() -> char {
    const auto& v = m_vs.value;
    switch (m_vs.vt) {
      case QMS_VARIANT_BOOLEAN:
        return char(v.bVal);
      case QMS_VARIANT_CHAR:
        return v.cVal;
      case QMS_VARIANT_DOUBLE:
        return char(uint8_t(uint32_t(CutToInt32(v.dblVal))));
      case QMS_VARIANT_FLOAT:
        return char(uint8_t(uint32_t(CutToInt32(v.fltVal))));
      case QMS_VARIANT_INT:
      case QMS_VARIANT_LONG:
      case QMS_VARIANT_ULONG:
        return char(uint8_t(v.ulVal));
      case QMS_VARIANT_USHORT:
        return char(uint8_t(v.usVal));
      case QMS_VARIANT_STRING:
      case QMS_VARIANT_DATE:
      case QMS_VARIANT_DATETIME: {
        const char* text = KindText(m_vs);
        return text ? text[0] : char(0);
      }
      default:
        WrongVariant();
    }
  });
}

namespace {

// The value as a double, for operator double and operator float; false when
// the kind has none.
bool RealOf(const _varstruct& vs, double* out) {
  const auto& v = vs.value;
  switch (vs.vt) {
    case QMS_VARIANT_BOOLEAN:
      *out = v.bVal != 0;
      return true;
    case QMS_VARIANT_DOUBLE:
      *out = v.dblVal;
      return true;
    case QMS_VARIANT_FLOAT:
      *out = v.fltVal;
      return true;
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
      *out = v.iVal;
      return true;
    case QMS_VARIANT_ULONG:
      *out = v.ulVal;
      return true;
    case QMS_VARIANT_USHORT:
      *out = v.usVal;
      return true;
    case QMS_VARIANT_STRING:
    case QMS_VARIANT_DATE:
    case QMS_VARIANT_DATETIME:
      *out = TextToDouble(KindText(vs));
      return true;
    default:
      return false;
  }
}

// The value as 32 bits, for the int, long and unsigned operators: doubles
// cut toward zero (through 64 bits for the unsigned ones), characters
// sign-extended, texts read by atoi; false when the kind has none.
bool WholeOf(const _varstruct& vs, bool unsignedTarget, uint32_t* out) {
  const auto& v = vs.value;
  switch (vs.vt) {
    case QMS_VARIANT_BOOLEAN:
      *out = v.bVal != 0;
      return true;
    case QMS_VARIANT_CHAR:
      *out = uint32_t(int32_t(static_cast<signed char>(v.cVal)));
      return true;
    case QMS_VARIANT_DOUBLE:
    case QMS_VARIANT_FLOAT: {
      double value = vs.vt == QMS_VARIANT_DOUBLE ? v.dblVal : double(v.fltVal);
      *out = unsignedTarget ? uint32_t(uint64_t(CutToInt64(value))) : uint32_t(CutToInt32(value));
      return true;
    }
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
    case QMS_VARIANT_ULONG:
      *out = v.ulVal;
      return true;
    case QMS_VARIANT_USHORT:
      *out = v.usVal;
      return true;
    case QMS_VARIANT_STRING:
    case QMS_VARIANT_DATE:
    case QMS_VARIANT_DATETIME:
      *out = uint32_t(TextToInt(KindText(vs)));
      return true;
    default:
      return false;
  }
}

}  // namespace

CQmsVariant::operator double() const {
  return QmsGuarded(QMS_SITE(kClass, "operator double", "operator double failed"), [&] {
    double value = 0;
    if (!RealOf(m_vs, &value)) WrongVariant();
    return value;
  });
}

CQmsVariant::operator float() const {
  return QmsGuarded(QMS_SITE(kClass, "operator float", "operator float failed"), [&] {
    double value = 0;
    if (!RealOf(m_vs, &value)) WrongVariant();
    return m_vs.vt == QMS_VARIANT_FLOAT ? m_vs.value.fltVal : Narrow(value);
  });
}

CQmsVariant::operator int() const {
  return QmsGuarded(QMS_SITE(kClass, "operator int", "operator int failed"), [&] {
    uint32_t value = 0;
    if (!WholeOf(m_vs, false, &value)) WrongVariant();
    return int(int32_t(value));
  });
}

CQmsVariant::operator long() const {
  return QmsGuarded(QMS_SITE(kClass, "operator int", "operator int failed"), [&] {
    uint32_t value = 0;
    if (!WholeOf(m_vs, false, &value)) WrongVariant();
    return long(int32_t(value));
  });
}

CQmsVariant::operator unsigned int() const {
  return QmsGuarded(QMS_SITE(kClass, "operator unsigned int", "operator unsigned int failed"), [&] {
    uint32_t value = 0;
    if (!WholeOf(m_vs, true, &value)) WrongVariant();
    return static_cast<unsigned int>(value);
  });
}

CQmsVariant::operator unsigned long() const {
  return QmsGuarded(QMS_SITE(kClass, "operator unsigned long", "operator unsigned long failed"), [&] {
    uint32_t value = 0;
    if (!WholeOf(m_vs, true, &value)) WrongVariant();
    return static_cast<unsigned long>(value);
  });
}

CQmsVariant::operator unsigned short() const {
  return QmsGuarded(QMS_SITE(kClass, "operator unsigned long", "operator unsigned long failed"), [&] {
    uint32_t value = 0;
    if (!WholeOf(m_vs, false, &value)) WrongVariant();
    return static_cast<unsigned short>(uint16_t(value));
  });
}

CQmsVariant::operator const char*() const {
  const auto& v = m_vs.value;
  switch (m_vs.vt) {
    case QMS_VARIANT_BOOLEAN:
      SetFixed(m_szText, v.bVal ? "1" : "0", sizeof m_szText - 1);
      return m_szText;
    case QMS_VARIANT_DOUBLE:
    case QMS_VARIANT_FLOAT: {
      double value = m_vs.vt == QMS_VARIANT_DOUBLE ? v.dblVal : double(v.fltVal);
      SetFixed(m_szText, FixedText(value, 6).c_str(), sizeof m_szText - 1);
      return m_szText;
    }
    case QMS_VARIANT_INT:
    case QMS_VARIANT_LONG:
    case QMS_VARIANT_ULONG:
      SetFixed(m_szText, WholeText(v.iVal).c_str(), sizeof m_szText - 1);
      return m_szText;
    case QMS_VARIANT_USHORT:
      SetFixed(m_szText, WholeText(v.usVal).c_str(), sizeof m_szText - 1);
      return m_szText;
    case QMS_VARIANT_STRING:
    case QMS_VARIANT_DATE:
    case QMS_VARIANT_DATETIME:
      return KindText(m_vs);
    default:
      return "";
  }
}

CQmsVariant::operator _qmsdate&() {
  return QmsGuarded(QMS_SITE(kClass, "operator QDATESTRUCT&", "operator QDATESTRUCT& failed"), [&]() -> _qmsdate& {
    auto& v = m_vs.value;
    switch (m_vs.vt) {
      case QMS_VARIANT_BOOLEAN:
        SetFixed(m_Date.szDate, DateOfWhole(v.bVal != 0).c_str(), kDateLength);
        return m_Date;
      case QMS_VARIANT_DOUBLE:
        SetFixed(m_Date.szDate, DateOfReal(v.dblVal).c_str(), kDateLength);
        return m_Date;
      case QMS_VARIANT_FLOAT:
        SetFixed(m_Date.szDate, DateOfReal(v.fltVal).c_str(), kDateLength);
        return m_Date;
      case QMS_VARIANT_INT:
      case QMS_VARIANT_LONG:
      case QMS_VARIANT_ULONG:
        SetFixed(m_Date.szDate, DateOfWhole(v.iVal).c_str(), kDateLength);
        return m_Date;
      case QMS_VARIANT_USHORT:
        SetFixed(m_Date.szDate, DateOfWhole(v.usVal).c_str(), kDateLength);
        return m_Date;
      case QMS_VARIANT_STRING:
      case QMS_VARIANT_DATETIME: {
        const char* text = KindText(m_vs);
        SetFixed(m_Date.szDate, text ? text : kDateZero, kDateLength);
        return m_Date;
      }
      case QMS_VARIANT_DATE:
        return v.dateVal;
      default:
        WrongVariant();
    }
  });
}

CQmsVariant::operator _qmsdatetime&() {
  return QmsGuarded(QMS_SITE(kClass, "operator QDATETIMESTRUCT&", "operator QDATETIMESTRUCT& failed"),
                    [&]() -> _qmsdatetime& {
                      auto& v = m_vs.value;
                      switch (m_vs.vt) {
                        case QMS_VARIANT_BOOLEAN:
                          SetDateTimeOf(m_DateTime.szDateTime, DateOfWhole(v.bVal != 0));
                          return m_DateTime;
                        case QMS_VARIANT_DOUBLE:
                          SetDateTimeOf(m_DateTime.szDateTime, DateOfReal(v.dblVal));
                          return m_DateTime;
                        case QMS_VARIANT_FLOAT:
                          SetDateTimeOf(m_DateTime.szDateTime, DateOfReal(v.fltVal));
                          return m_DateTime;
                        case QMS_VARIANT_INT:
                        case QMS_VARIANT_LONG:
                        case QMS_VARIANT_ULONG:
                          SetDateTimeOf(m_DateTime.szDateTime, DateOfWhole(v.iVal));
                          return m_DateTime;
                        case QMS_VARIANT_USHORT:
                          SetDateTimeOf(m_DateTime.szDateTime, DateOfWhole(v.usVal));
                          return m_DateTime;
                        case QMS_VARIANT_STRING:
                          SetFixed(m_DateTime.szDateTime, v.pszVal ? v.pszVal : kDateTimeZero, kDateTimeLength);
                          return m_DateTime;
                        case QMS_VARIANT_DATE: {
                          // "%08s00:00:00": the date right-aligned in 8 columns.
                          std::string date(v.dateVal.szDate);
                          if (date.size() < kDateLength) date.insert(0, kDateLength - date.size(), ' ');
                          SetDateTimeOf(m_DateTime.szDateTime, date);
                          return m_DateTime;
                        }
                        case QMS_VARIANT_DATETIME:
                          return v.dateTimeVal;
                        default:
                          WrongVariant();
                      }
                    });
}

CQmsVariant::operator void*() const {
  return QmsGuarded(QMS_SITE(kClass, "operator void*", "operator void* failed"), [&] {
    if (m_vs.vt != QMS_VARIANT_VOIDSTAR) WrongVariant();
    return m_vs.value.pVal;
  });
}

// ---- comparison ----

bool CQmsVariant::IsEqualValue(CQmsCollectable& other) const {
  return QmsAnswer([&] {
    const auto* variant = dynamic_cast<const CQmsVariant*>(&other);
    if (variant == nullptr) QmsRaise(QMS_INFO_NO);
    if (variant == this) QmsRaise(QMS_INFO_YES);
    const _varstruct& a = m_vs;
    const _varstruct& b = variant->m_vs;
    if (a.vt != b.vt) QmsRaise(QMS_INFO_NO);
    bool same = false;
    switch (a.vt) {
      case QMS_VARIANT_EMPTY:
        same = true;
        break;
      case QMS_VARIANT_BOOLEAN:
        same = a.value.bVal == b.value.bVal;
        break;
      case QMS_VARIANT_CHAR:
        same = a.value.cVal == b.value.cVal;
        break;
      case QMS_VARIANT_DOUBLE:
        same = a.value.dblVal == b.value.dblVal;
        break;
      case QMS_VARIANT_FLOAT:
        same = a.value.fltVal == b.value.fltVal;
        break;
      case QMS_VARIANT_INT:
      case QMS_VARIANT_LONG:
      case QMS_VARIANT_ULONG:
        same = a.value.ulVal == b.value.ulVal;
        break;
      case QMS_VARIANT_VOIDSTAR:
        same = a.value.pVal == b.value.pVal;
        break;
      case QMS_VARIANT_USHORT:
        same = a.value.usVal == b.value.usVal;
        break;
      case QMS_VARIANT_STRING: {
        const char* x = a.value.pszVal;
        const char* y = b.value.pszVal;
        same = (x == nullptr || y == nullptr) ? x == y : std::strcmp(x, y) == 0;
        break;
      }
      case QMS_VARIANT_DATE:
        same = std::strcmp(a.value.dateVal.szDate, b.value.dateVal.szDate) == 0;
        break;
      case QMS_VARIANT_DATETIME:
        same = std::strcmp(a.value.dateTimeVal.szDateTime, b.value.dateTimeVal.szDateTime) == 0;
        break;
      default:
        same = false;
    }
    QmsRaise(same ? QMS_INFO_YES : QMS_INFO_NO);
  });
}
