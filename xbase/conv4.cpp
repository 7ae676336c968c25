#include "xbase/conv4.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/env.h"

namespace {

// Code page 437 (OEM) to code page 1252 (ANSI) for the bytes 0x80-0xFF;
// characters that 1252 lacks become '?'.
const unsigned char kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x3F, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0x3F, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0xDF, 0x3F, 0x3F, 0x3F, 0x3F, 0xB5, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0xB1, 0x3F, 0x3F, 0x3F, 0x3F, 0xF7, 0x3F, 0xB0, 0x3F, 0xB7, 0x3F, 0x3F, 0xB2, 0x3F, 0xA0,
};

// Skips leading white space; answers the index of the first other character.
int SkipSpace(const char* text, int n) {
  int i = 0;
  while (i < n && platform::AsciiIsSpace(text[i])) i++;
  return i;
}

// The first min(length, limit) characters, stopping at a NUL.
int Span(const char* text, int length, int limit) {
  int n = length < limit ? length : limit;
  if (n < 0) n = 0;
  const void* nul = std::memchr(text, 0, size_t(n));
  return nul ? int(static_cast<const char*>(nul) - text) : n;
}

// strtoll-like over n characters: blanks, a sign, digits; clamped.
int64_t ParseInteger(const char* text, int n, bool* negative) {
  int i = SkipSpace(text, n);
  *negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) *negative = text[i++] == '-';
  uint64_t value = 0;
  bool overflow = false;
  for (; i < n && platform::AsciiIsDigit(text[i]); i++) {
    unsigned digit = unsigned(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) {
      overflow = true;
      value = UINT64_MAX;
    } else if (!overflow) {
      value = value * 10 + digit;
    }
  }
  if (*negative) return value > uint64_t(INT64_MAX) ? INT64_MIN : -int64_t(value);
  return value > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(value);
}

}  // namespace

double c4atod(const char* text, int length) {
  int n = Span(text, length, 50);
  int i = SkipSpace(text, n);
  if (i < n && text[i] == '+') i++;
  double value = 0;
  auto result = std::from_chars(text + i, text + n, value, std::chars_format::general);
  return result.ec == std::errc() ? value : 0.0;
}

int64_t c4atoi64(const char* text, int length) {
  bool negative;
  return ParseInteger(text, Span(text, length, 127), &negative);
}

long c4atol(const char* text, int length) { return long(c4atoi64(text, length)); }

int c4atoi(const char* text, int length) {
  int64_t value = c4atoi64(text, length);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return int(value);
}

unsigned long c4atoul(const char* text, int length) {
  bool negative;
  int64_t value = ParseInteger(text, Span(text, length, 127), &negative);
  return negative ? 0ul : (unsigned long)value;
}

void c4ltoa45(long value, char* buffer, int width) {
  bool zeroFill = width < 0;
  int n = zeroFill ? -width : width;
  if (n == 0) return;
  bool negative = value < 0;
  unsigned long magnitude = negative ? 0ul - (unsigned long)value : (unsigned long)value;
  char digits[24];
  int count = 0;
  do {
    digits[count++] = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int needed = count + ((negative && !zeroFill) ? 1 : 0);
  if (needed > n) {
    std::memset(buffer, '*', size_t(n));
    return;
  }
  std::memset(buffer, zeroFill ? '0' : ' ', size_t(n));
  for (int i = 0; i < count; i++) buffer[n - 1 - i] = digits[i];
  if (negative && !zeroFill) buffer[n - 1 - count] = '-';
}

int c4dtoa45(double value, char* buffer, int length, int decimals) {
  if (length <= 0) return 0;
  if (decimals > 15) decimals = 15;
  if (decimals > length - 1) decimals = length - 1;
  if (decimals < 0) decimals = 0;
  char digits[400];
  std::to_chars_result result{};
  bool finite = std::isfinite(value);
  if (finite) {
    result = std::to_chars(digits, digits + sizeof digits, std::fabs(value),
                           std::chars_format::fixed, decimals);
  }
  if (!finite || result.ec != std::errc()) {
    std::memset(buffer, '*', size_t(length));
    return -440;
  }
  int count = int(result.ptr - digits);
  // A negative value that rounds to zero is written without a sign.
  const std::string_view written(digits, size_t(count));
  bool negative = value < 0 && written.find_first_not_of("0.") != std::string_view::npos;
  int needed = count + (negative ? 1 : 0);
  if (needed > length) {
    std::memset(buffer, '*', size_t(length));
    return -440;
  }
  std::memset(buffer, ' ', size_t(length));
  std::memcpy(buffer + length - count, digits, size_t(count));
  if (negative) buffer[length - count - 1] = '-';
  return 0;
}

void c4trimN(char* text, int size) {
  if (size <= 0) return;
  int n = 0;
  while (n < size && text[n] != 0) n++;
  if (n == size) text[--n] = 0;
  while (n > 0 && text[n - 1] == ' ') text[--n] = 0;
}

void c4numericKey(char* text, int length) {
  bool negative = false;
  for (int i = 0; i < length && (text[i] == ' ' || text[i] == '-'); i++) {
    if (text[i] == '-') negative = true;
    text[i] = '0';
  }
  if (negative) {
    // Larger negative numbers sort lower.
    for (int i = 0; i < length; i++) text[i] = char('\\' - text[i]);
  }
}

int c4bitCount(unsigned long value) {
  int count = 0;
  while (value >= 2) {
    value >>= 1;
    count++;
  }
  return count;
}

void c4oemToAnsi(char* text, size_t length) {
  for (size_t i = 0; i < length; i++) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) text[i] = char(kOemToAnsi[c - 0x80]);
  }
}

int32_t c4truncInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return int32_t(value);
}
