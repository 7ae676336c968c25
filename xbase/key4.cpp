#include "xbase/key4.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/endian.h"
#include "xbase/collate4.h"
#include "xbase/conv4.h"
#include "xbase/date4.h"

namespace {

// One day in milliseconds, inverted, as the index format's writers use it.
constexpr double kDayPerMs = 1.1574074074074074e-8;

// Seconds of the day (indexed by rounded seconds + 1) whose datetime double,
// computed in extended precision, lies one unit above what the format's other
// writers store. For whole seconds and day numbers between 2^21 and 2^22 the
// extended computation already gives the correctly rounded double that every
// double-precision writer gives too, so no entry is set; the table keeps the
// step in place for the writers whose results differ.
constexpr int kCorrectionEntries = 86400;
const unsigned char kSecondCorrections[kCorrectionEntries / 8] = {};

bool Corrected(long index) {
  if (index < 0 || index >= kCorrectionEntries) return false;
  return (kSecondCorrections[index / 8] >> (index % 8)) & 1;
}

// Digits of a fixed place in a text; blanks and missing characters count as 0.
int Number(const char* text, int length, int at, int count) {
  if (at >= length) return 0;
  if (at + count > length) count = length - at;
  return c4atoi(text + at, count);
}

int64_t TruncateInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return INT64_MAX;
  if (value <= -9223372036854775808.0) return INT64_MIN;
  return int64_t(value);
}

// Year, month and day of a day number.
void DateParts(long day, uint16_t parts[3]) {
  char date[8];
  date4assign(date, day);
  parts[0] = uint16_t(c4atoi(date, 4));
  parts[1] = uint16_t(c4atoi(date + 4, 2));
  parts[2] = uint16_t(c4atoi(date + 6, 2));
}

// ---- text to key ----

int TextCharacter(TFILE4* tag, unsigned char* key, const char* text, int length) {
  int keyLen = tag ? tag->keyLen : length;
  COLLATE4* collation = tag ? collate4entry(tag->collateName) : nullptr;
  if (collation != nullptr && collation->kind == 6) {
    return collate4key(collation, key, keyLen, text, length);
  }
  int n = length < keyLen ? length : keyLen;
  if (n > 0) std::memcpy(key, text, size_t(n));
  return n;
}

int TextWide(TFILE4* tag, unsigned char* key, const char* text, int length) {
  int keyLen = tag ? tag->keyLen : length;
  COLLATE4* collation = tag ? collate4entry(tag->collateName) : nullptr;
  if (collation != nullptr && collation->kind == 6) {
    return collate4keyWide(collation, key, keyLen, text, length);
  }
  int n = (length < keyLen ? length : keyLen) & ~1;
  for (int i = 0; i < n; i += 2) {
    key[i] = static_cast<unsigned char>(text[i + 1]);
    key[i + 1] = static_cast<unsigned char>(text[i]);
  }
  return n;
}

int TextNumber(TFILE4*, unsigned char* key, const char* text, int length) {
  return key4double(key, c4atod(text, length));
}

int TextDate(TFILE4*, unsigned char* key, const char* text, int length) {
  char date[8];
  std::memset(date, ' ', sizeof date);
  std::memcpy(date, text, size_t(length < 8 ? (length > 0 ? length : 0) : 8));
  return key4double(key, double(date4long(date)));
}

int TextDateTime(TFILE4*, unsigned char* key, const char* text, int length) {
  if (length < 16) {
    std::memset(key, 0, 8);
    return 8;
  }
  long day = date4long(text);
  int32_t ms = Number(text, length, 8, 2) * 3600000 + Number(text, length, 11, 2) * 60000 +
               Number(text, length, 14, 2) * 1000;
  return key4dateTime(key, int32_t(day), ms);
}

int TextInt32(TFILE4*, unsigned char* key, const char* text, int length) {
  long value = c4atol(text, length);
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return key4int32(key, int32_t(value));
}

int TextUInt32(TFILE4*, unsigned char* key, const char* text, int length) {
  unsigned long value = c4atoul(text, length);
  return key4uint32(key, value > UINT32_MAX ? UINT32_MAX : uint32_t(value));
}

int TextCurrency(TFILE4*, unsigned char* key, const char* text, int length) {
  int64_t value = 0;
  if (!key4currencyFromText(text, length, &value)) value = 0;
  return key4int64(key, value);
}

int TextLogical(TFILE4*, unsigned char* key, const char* text, int length) {
  key[0] = static_cast<unsigned char>(key4logicalFromText(text, length));
  return 1;
}

int TextInt64(TFILE4*, unsigned char* key, const char* text, int length) {
  return key4int64(key, c4atoi64(text, length));
}

int TextDateParts(TFILE4*, unsigned char* key, const char* text, int length) {
  uint16_t parts[3] = {uint16_t(Number(text, length, 0, 4)), uint16_t(Number(text, length, 4, 2)),
                       uint16_t(Number(text, length, 6, 2))};
  return key4parts(key, parts, 3, false);
}

// Stored keys of a time field come from its value form, which has no sign
// flip; a seek text takes the same form so that it can find them.
int TextTimeParts(TFILE4*, unsigned char* key, const char* text, int length) {
  uint16_t parts[3] = {uint16_t(Number(text, length, 0, 2)), uint16_t(Number(text, length, 3, 2)),
                       uint16_t(Number(text, length, 6, 2))};
  return key4parts(key, parts, 3, false);
}

int TextDateTimeParts(TFILE4*, unsigned char* key, const char* text, int length) {
  uint16_t parts[7] = {uint16_t(Number(text, length, 0, 4)),  uint16_t(Number(text, length, 4, 2)),
                       uint16_t(Number(text, length, 6, 2)),  uint16_t(Number(text, length, 8, 2)),
                       uint16_t(Number(text, length, 11, 2)), uint16_t(Number(text, length, 14, 2)), 0};
  if (length > 17) parts[6] = uint16_t(c4atoi(text + 17, length - 17));
  key4parts(key, parts, 7, false);
  key[14] = key[15] = 0;
  return 16;
}

// ---- number to key ----

int NumberDouble(TFILE4*, unsigned char* key, double value) { return key4double(key, value); }

int NumberInt32(TFILE4*, unsigned char* key, double value) {
  return key4int32(key, c4truncInt32(value));
}

int NumberUInt32(TFILE4*, unsigned char* key, double value) {
  if (std::isnan(value) || value < 0) return key4uint32(key, 0);
  return key4uint32(key, value >= 4294967295.0 ? UINT32_MAX : uint32_t(value));
}

int NumberCurrency(TFILE4*, unsigned char* key, double value) {
  char text[20];
  c4dtoa45(value, text, sizeof text, 4);
  int64_t currency = 0;
  if (!key4currencyFromText(text, sizeof text, &currency)) currency = 0;
  return key4int64(key, currency);
}

int NumberInt64(TFILE4*, unsigned char* key, double value) {
  return key4int64(key, TruncateInt64(value));
}

int NumberDateParts(TFILE4*, unsigned char* key, double value) {
  uint16_t parts[3];
  DateParts(c4truncInt32(value), parts);
  return key4parts(key, parts, 3, false);
}

}  // namespace

int key4double(unsigned char* key, double value) {
  if (value == 0) value = 0.0;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = std::signbit(value) ? ~bits : bits | (uint64_t(1) << 63);
  QStoreU64BE(key, bits);
  return 8;
}

int key4int32(unsigned char* key, int32_t value) {
  QStoreU32BE(key, uint32_t(value) ^ 0x80000000u);
  return 4;
}

int key4uint32(unsigned char* key, uint32_t value) {
  QStoreU32BE(key, value);
  return 4;
}

int key4int64(unsigned char* key, int64_t value) {
  QStoreU64BE(key, uint64_t(value) ^ (uint64_t(1) << 63));
  return 8;
}

int key4dateTime(unsigned char* key, int32_t day, int32_t ms) {
  long seconds = (long(ms) + 500) / 1000;
  long double value = static_cast<long double>(day) +
                      static_cast<long double>(seconds * 1000) * static_cast<long double>(kDayPerMs);
  double stored = static_cast<double>(value);
  if (Corrected(seconds + 1)) {
    uint64_t bits;
    std::memcpy(&bits, &stored, sizeof bits);
    bits--;
    std::memcpy(&stored, &bits, sizeof bits);
  }
  return key4double(key, stored);
}

int key4parts(unsigned char* key, const uint16_t* values, int count, bool signFlip) {
  for (int i = 0; i < count; i++) {
    key[2 * i] = static_cast<unsigned char>((values[i] >> 8) ^ (signFlip ? 0x80 : 0));
    key[2 * i + 1] = static_cast<unsigned char>(values[i]);
  }
  return 2 * count;
}

void key4descend(unsigned char* key, int length) {
  for (int i = 0; i < length; i++) key[i] = static_cast<unsigned char>(255 - key[i]);
}

int key4valueForm(int type, char* value, int length) {
  auto* key = reinterpret_cast<unsigned char*>(value);
  switch (type) {
    case 'C':
    case 'D':
      return length;
    case 'N':
      c4numericKey(value, length);
      return length;
    case 'O':
    case 'W':
      for (int i = 0; i + 1 < length; i += 2) std::swap(value[i], value[i + 1]);
      return length;
    case 'I':
      return key4int32(key, int32_t(QLoadU32LE(value)));
    case 'P':
      return key4uint32(key, QLoadU32LE(value));
    case 'Q':
      return key4int32(key, int16_t(QLoadU16LE(value)));
    case 'R':
      return key4uint32(key, QLoadU16LE(value));
    case 'd': {
      double day;
      std::memcpy(&day, value, sizeof day);
      date4assign(value, long(c4truncInt32(day)));
      return 8;
    }
    case 'n': {
      double number;
      std::memcpy(&number, value, sizeof number);
      return key4double(key, number);
    }
    case 'L':
      value[0] = QLoadU32LE(value) != 0 ? '1' : '0';
      return 1;
    case 'T':
      return key4dateTime(key, int32_t(QLoadU32LE(value)), int32_t(QLoadU32LE(value + 4)));
    case 'Y':
    case '1':
      return key4int64(key, QLoadI64LE(value));
    case '2':
    case '3': {
      uint16_t parts[3] = {QLoadU16LE(value), QLoadU16LE(value + 2), QLoadU16LE(value + 4)};
      return key4parts(key, parts, 3, false);
    }
    case '4': {
      uint16_t parts[7];
      for (int i = 0; i < 7; i++) parts[i] = QLoadU16LE(value + 2 * i);
      key4parts(key, parts, 7, false);
      key[14] = key[15] = 0;
      return 16;
    }
    default:
      return -1;
  }
}

int key4conversions(int type, KEY4TEXT* textToKey, KEY4NUMBER* numberToKey) {
  KEY4TEXT text = nullptr;
  KEY4NUMBER number = nullptr;
  switch (type) {
    case 'C': text = TextCharacter; break;
    case 'W': case 'O': text = TextWide; break;
    case 'N': case 'n': text = TextNumber; number = NumberDouble; break;
    case 'D': case 'd': text = TextDate; number = NumberDouble; break;
    case 'T': text = TextDateTime; break;
    case 'I': case 'Q': text = TextInt32; number = NumberInt32; break;
    case 'P': case 'R': text = TextUInt32; number = NumberUInt32; break;
    case 'Y': text = TextCurrency; number = NumberCurrency; break;
    case 'L': text = TextLogical; break;
    case '1': text = TextInt64; number = NumberInt64; break;
    case '2': text = TextDateParts; number = NumberDateParts; break;
    case '3': text = TextTimeParts; break;
    case '4': text = TextDateTimeParts; break;
    default: return e4info;
  }
  if (textToKey) *textToKey = text;
  if (numberToKey) *numberToKey = number;
  return 0;
}

bool key4currencyFromText(const char* text, int length, int64_t* value) {
  int i = 0;
  while (i < length && text[i] == ' ') i++;
  bool negative = false;
  if (i < length && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t magnitude = 0;
  int decimals = -1;  // digits after the point; -1 before it
  for (; i < length && text[i] != 0 && text[i] != ' '; i++) {
    char c = text[i];
    if (c == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    if (decimals >= 4) return false;
    unsigned digit = unsigned(c - '0');
    if (magnitude > (uint64_t(INT64_MAX) - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
    if (decimals >= 0) decimals++;
  }
  for (int d = decimals < 0 ? 0 : decimals; d < 4; d++) {
    if (magnitude > uint64_t(INT64_MAX) / 10) return false;
    magnitude *= 10;
  }
  *value = negative ? -int64_t(magnitude) : int64_t(magnitude);
  return true;
}

char key4logicalFromText(const char* text, int length) {
  for (int i = 0; i < length; i++) {
    switch (text[i]) {
      case 'F': case 'N': case 'f': case 'n': return 'F';
      case 'T': case 'Y': case 't': case 'y': return 'T';
      default: break;
    }
  }
  return 'F';
}
