#include "xbase/field4.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/endian.h"
#include "xbase/code4.h"
#include "xbase/conv4.h"
#include "xbase/date4.h"
#include "xbase/error4.h"

namespace {

constexpr const char* kTrueLetters = "TtYy";

CODE4* Context(FIELD4* field) { return field->data->codeBase; }
char* Ptr(FIELD4* field) { return field->data->record + field->offset; }

// Verifies the field: 0 when it may be used.
bool Bad(FIELD4* field, long location) { return code4verify(field, 3, location) != 0; }
// A write may go on: the field is valid and its context holds no error.
bool CannotWrite(FIELD4* field, long location) {
  return Bad(field, location) || Context(field)->errorCode < 0;
}
bool Refused(FIELD4* field, const char* types) {
  const char type = char(field->type);
  while (*types && *types != type) types++;
  if (*types == 0) return false;
  error4(Context(field), e4parm, E4_FIELD_TYPE_FUNCTION);
  return true;
}

// Fields whose bytes are binary numbers: their blank value is zero bytes.
bool IsBinaryNumber(const FIELD4* field) {
  switch (field->type) {
    case 'I': case 'Y': case 'T': case 'P': case 'Q': case 'R':
      return true;
    case 'B':
      return field->len == 8;
    default:
      return false;
  }
}

}  // namespace

char* f4ptr(FIELD4* field) {
  if (Bad(field, E4_F4PTR)) return nullptr;
  return Ptr(field);
}

void f4changed(FIELD4* field) {
  DATA4* data = field->data;
  data->recordChanged = 1;
  if (field->null && data->nullFlags) {
    data->record[data->nullFlags->offset + field->nullBit] &= char(~field->nullMask);
  }
}

char* f4assignPtr(FIELD4* field) {
  if (field == nullptr) {
    error4(nullptr, e4parmNull, E4_F4ASSIGN_PTR);
    return nullptr;
  }
  if (Bad(field, E4_F4ASSIGN_PTR)) return nullptr;
  f4changed(field);
  return Ptr(field);
}

DATA4* f4data(FIELD4* field) { return Bad(field, E4_F4DATA) ? nullptr : field->data; }
int f4decimals(FIELD4* field) { return Bad(field, E4_F4DECIMALS) ? -1 : field->dec; }
unsigned f4len(FIELD4* field) { return Bad(field, E4_F4LEN) ? 0u : field->len; }
const char* f4name(FIELD4* field) { return Bad(field, E4_F4NAME) ? nullptr : field->name; }

int f4number(FIELD4* field) {
  if (Bad(field, E4_F4NUMBER)) return -1;
  return int(field - field->data->fields) + 1;
}

int f4type(FIELD4* field) {
  if (Bad(field, E4_F4TYPE)) return -1;
  if (field->type == 'C' && field->binary) return 'Z';
  if (field->type == 'F') return 'N';
  if (field->type == 'M' && field->binary == 1) return 'X';
  return field->type;
}

int f4storedType(FIELD4* field) {
  if (Bad(field, E4_F4TYPE)) return -1;
  return field->type;
}

int f4isMemo(FIELD4* field) {
  if (Bad(field, E4_F4TYPE)) return -1;
  return field->memo != nullptr || std::strchr("MGP", char(field->type)) != nullptr ? 1 : 0;
}

void f4blank(FIELD4* field) {
  if (CannotWrite(field, E4_F4BLANK)) return;
  char* p = Ptr(field);
  if (field->type == '2' && field->len >= 6) {
    QStoreU16LE(p, 1899);
    QStoreU16LE(p + 2, 12);
    QStoreU16LE(p + 4, 30);
  } else if (field->binary || IsBinaryNumber(field)) {
    std::memset(p, 0, field->len);
  } else {
    std::memset(p, ' ', field->len);
  }
}

int f4null(FIELD4* field) {
  if (Bad(field, E4_F4NULL)) return 0;
  DATA4* data = field->data;
  if (!field->null || data->nullFlags == nullptr) return 0;
  return (data->record[data->nullFlags->offset + field->nullBit] & field->nullMask) ? 1 : 0;
}

int f4true(FIELD4* field) {
  if (Bad(field, E4_F4TRUE)) return -1;
  if (field->type != 'L') error4(Context(field), e4parm, E4_FIELD_TYPE_FUNCTION);
  char c = *Ptr(field);
  return c != 0 && std::strchr(kTrueLetters, c) != nullptr ? 1 : 0;
}

void f4assign(FIELD4* field, const char* text) {
  if (CannotWrite(field, E4_F4ASSIGN)) return;
  if (text == nullptr) {
    error4(Context(field), e4parmNull, E4_F4ASSIGN);
    return;
  }
  if (field->type == 'N' || field->type == 'F') {
    size_t n = std::strlen(text);
    char* p = f4assignPtr(field);
    if (n <= field->len) {
      std::memset(p, ' ', field->len);
      std::memcpy(p + field->len - n, text, n);
    } else {
      std::memcpy(p, text, field->len);
    }
    return;
  }
  f4assignN(field, text, unsigned(std::strlen(text)));
}

void f4assignN(FIELD4* field, const char* text, unsigned length) {
  if (CannotWrite(field, E4_F4ASSIGN_N)) return;
  if (text == nullptr && length != 0) {
    error4(Context(field), e4parmNull, E4_F4ASSIGN_N);
    return;
  }
  char* p = f4assignPtr(field);
  if (length <= field->len) std::memset(p, ' ', field->len);
  if (length > 0) std::memcpy(p, text, length < field->len ? length : field->len);
}

void f4assignChar(FIELD4* field, int character) {
  if (CannotWrite(field, E4_F4ASSIGN_CHAR)) return;
  char c = char(character);
  f4assignN(field, &c, 1);
}

int f4char(FIELD4* field) {
  if (Bad(field, E4_F4CHAR)) return -1;
  return static_cast<unsigned char>(*Ptr(field));
}

void f4assignLong(FIELD4* field, long value) {
  if (CannotWrite(field, E4_F4ASSIGN_LONG) || Refused(field, "0LT")) return;
  switch (field->type) {
    case 'B': case 'Y':
      f4assignDouble(field, double(value));
      return;
    case 'D':
      date4assign(f4assignPtr(field), value);
      return;
    case 'M': case 'G':
      if (field->len == 4) {
        QStoreU32LE(f4assignPtr(field), uint32_t(value));
      } else {
        c4ltoa45(value, f4assignPtr(field), field->len);
      }
      return;
    case 'I': case 'P': case 'Q': case 'R':
      f4assignInt(field, int(value));
      return;
    default:
      if ((field->type == 'N' || field->type == 'F') && field->dec > 0) {
        f4assignDouble(field, double(value));
      } else {
        c4ltoa45(value, f4assignPtr(field), field->len);
      }
  }
}

long f4long(FIELD4* field) {
  if (Bad(field, E4_F4LONG)) return -1;
  if (Refused(field, "0LT")) return -1;
  const char* p = Ptr(field);
  switch (field->type) {
    case 'B': {
      double v = QLoadF64LE(p);
      if (!(v > double(LONG_MIN) && v < double(LONG_MAX))) return v > 0 ? LONG_MAX : LONG_MIN;
      return long(v);
    }
    case 'D':
      return date4long(p);
    case 'M': case 'G':
      if (field->len == 4) return long(QLoadU32LE(p));
      return c4atol(p, field->len);
    case 'I': case 'P':
      return long(int32_t(QLoadU32LE(p)));
    case 'Q':
      return long(int16_t(QLoadU16LE(p)));
    case 'R':
      return long(QLoadU16LE(p));
    case 'Y': {
      const char* text = f4currency(field, 0);
      return text ? c4atol(text, int(std::strlen(text))) : 0;
    }
    default:
      return c4atol(p, field->len);
  }
}

void f4assignInt(FIELD4* field, int value) {
  if (CannotWrite(field, E4_F4ASSIGN_INT) || Refused(field, "0DGLMTX")) return;
  switch (field->type) {
    case 'B': case 'Y':
      f4assignDouble(field, double(value));
      return;
    case 'I': case 'P':
      QStoreU32LE(f4assignPtr(field), uint32_t(value));
      return;
    case 'Q': case 'R':
      QStoreU16LE(f4assignPtr(field), uint32_t(value));
      return;
    default:
      c4ltoa45(value, f4assignPtr(field), field->len);
  }
}

int f4int(FIELD4* field) {
  if (Bad(field, E4_F4INT)) return -1;
  if (Refused(field, "0DGLMTX")) return -1;
  switch (field->type) {
    case 'B': case 'Y': {
      double v = f4double(field);
      if (!(v > double(INT_MIN) && v < double(INT_MAX))) return v > 0 ? INT_MAX : INT_MIN;
      return int(v);
    }
    case 'I': case 'P': case 'Q': case 'R':
      return int(f4long(field));
    default:
      return c4atoi(Ptr(field), field->len);
  }
}

void f4assignDouble(FIELD4* field, double value) {
  if (CannotWrite(field, E4_F4ASSIGN_DOUBLE) || Refused(field, "012346LOPQRTW")) return;
  switch (field->type) {
    case 'B':
      QStoreF64LE(f4assignPtr(field), value);
      return;
    case 'D':
      date4assign(f4assignPtr(field), long(value));
      return;
    case 'I':
      QStoreU32LE(f4assignPtr(field), uint32_t(int32_t(value)));
      return;
    case 'Y': {
      char text[40];
      if (c4dtoa45(value, text, 30, 4) < 0) {
        // Out of the currency's range: it holds 0.
        QStoreI64LE(f4assignPtr(field), 0);
        return;
      }
      text[30] = 0;
      f4assignCurrency(field, text);
      return;
    }
    default:
      c4dtoa45(value, f4assignPtr(field), field->len, field->dec);
  }
}

double f4double(FIELD4* field) {
  if (Bad(field, E4_F4DOUBLE)) return -1;
  if (Refused(field, "0LT")) return -1;
  const char* p = Ptr(field);
  switch (field->type) {
    case 'B':
      return field->len == 8 ? QLoadF64LE(p) : c4atod(p, field->len);
    case 'D':
      return double(date4long(p));
    case 'I': case 'P': case 'Q': case 'R':
      return double(f4long(field));
    case 'Y':
      return double(QLoadI64LE(p)) / 10000.0;
    default:
      return c4atod(p, field->len);
  }
}

char* f4currency(FIELD4* field, short decimals) {
  if (Bad(field, E4_F4CURRENCY)) return nullptr;
  CODE4* c4 = Context(field);
  if (field->type != 'Y') {
    error4(c4, e4parm, E4_FIELD_TYPE_FUNCTION);
    return nullptr;
  }
  if (decimals < 0 || decimals > 4) {
    error4(c4, e4parm, E4_F4CURRENCY);
    return nullptr;
  }
  int64_t value = QLoadI64LE(Ptr(field));
  uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
  char digits[24];
  int n = std::snprintf(digits, sizeof digits, "%llu", (unsigned long long)(magnitude / 10000));
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, "%04u", unsigned(magnitude % 10000));
  char* out = c4->workBuffer;
  int at = 0;
  if (value < 0) out[at++] = '-';
  std::memcpy(out + at, digits, size_t(n));
  at += n;
  if (decimals > 0) {
    out[at++] = '.';
    std::memcpy(out + at, fraction, size_t(decimals));
    at += decimals;
  }
  out[at] = 0;
  return out;
}

int f4assignCurrency(FIELD4* field, const char* text) {
  if (CannotWrite(field, E4_F4ASSIGN_CURRENCY)) return -1;
  if (field->type != 'Y') return error4(Context(field), e4parm, E4_FIELD_TYPE_FUNCTION);
  char* p = f4assignPtr(field);
  QStoreI64LE(p, 0);
  if (text == nullptr) return 0;
  while (*text == ' ') text++;
  if (*text == 0) return 0;
  bool negative = false;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  while (*text == '0') text++;
  const char* point = std::strrchr(text, '.');
  size_t integerDigits = point ? size_t(point - text) : std::strlen(text);
  const char* decimals = point ? point + 1 : "";
  size_t decimalDigits = std::strlen(decimals);
  if (decimalDigits > 4) return -1;
  // value x 10000 in 64 bits; anything that does not fit leaves 0.
  uint64_t value = 0;
  auto push = [&value](char c) {
    if (c < '0' || c > '9') return false;
    unsigned digit = unsigned(c - '0');
    if (value > (uint64_t(INT64_MAX) - digit) / 10) return false;
    value = value * 10 + digit;
    return true;
  };
  for (size_t i = 0; i < integerDigits; i++) {
    if (!push(text[i])) return -1;
  }
  for (size_t i = 0; i < 4; i++) {
    if (!push(i < decimalDigits ? decimals[i] : '0')) return -1;
  }
  QStoreI64LE(p, negative ? -int64_t(value) : int64_t(value));
  return 0;
}

char* f4dateTime(FIELD4* field) {
  if (Bad(field, E4_F4DATE_TIME)) return nullptr;
  CODE4* c4 = Context(field);
  if (field->type != 'T') {
    error4(c4, e4parm, E4_FIELD_TYPE_FUNCTION);
    return nullptr;
  }
  const char* p = Ptr(field);
  long julian = long(QLoadU32LE(p));
  long ms = long(QLoadU32LE(p + 4));
  char* out = c4->workBuffer;
  if (julian <= 0) {
    out[0] = 0;
    return out;
  }
  // 23:59:59.5 and later round up to midnight of the next day.
  long carry = date4timeFromMs(out + 8, ms);
  date4assign(out, julian + carry);
  out[16] = 0;
  c4trimN(out, 17);
  return out;
}

void f4assignDateTime(FIELD4* field, const char* text) {
  if (CannotWrite(field, E4_F4DATE_TIME)) return;
  if (field->type != 'T') {
    error4(Context(field), e4parm, E4_FIELD_TYPE_FUNCTION);
    return;
  }
  if (text == nullptr) {
    error4(Context(field), e4parmNull, E4_F4DATE_TIME);
    return;
  }
  char date[8];
  std::memset(date, ' ', 8);
  size_t n = std::strlen(text);
  std::memcpy(date, text, n < 8 ? n : 8);
  long julian = date4long(date);
  if (julian < 0) julian = 0;
  long ms = 0;
  if (n >= 16) {
    ms = (c4atol(text + 8, 2) * 3600 + c4atol(text + 11, 2) * 60 + c4atol(text + 14, 2)) * 1000;
  }
  char* p = f4assignPtr(field);
  QStoreU32LE(p, uint32_t(julian));
  QStoreU32LE(p + 4, uint32_t(ms));
}

char* f4str(FIELD4* field) {
  if (Bad(field, E4_F4STR)) return nullptr;
  CODE4* c4 = Context(field);
  unsigned n = field->len < 256 ? field->len : 256;
  std::memcpy(c4->workBuffer, Ptr(field), n);
  c4->workBuffer[n] = 0;
  return c4->workBuffer;
}

unsigned f4ncpy(FIELD4* field, char* buffer, unsigned size) {
  if (Bad(field, E4_F4NCPY) || size == 0) return 0;
  unsigned n = field->len < size - 1 ? field->len : size - 1;
  std::memcpy(buffer, Ptr(field), n);
  buffer[n] = 0;
  return n;
}
