#include "base/qstring.h"

#include <climits>
#include <cstring>

#include "platform/env.h"

using platform::AsciiIsLower;
using platform::AsciiIsSpace;
using platform::AsciiIsUpper;
using platform::AsciiLower;
using platform::AsciiUpper;

char* StrTrimLeft(char* text) {
  if (!text) return text;
  char* p = text;
  while (*p && AsciiIsSpace(*p)) ++p;
  if (p != text) std::memmove(text, p, std::strlen(p) + 1);
  return text;
}

char* StrTrim(char* text) {
  if (!text) return text;
  size_t n = std::strlen(text);
  while (n > 0 && AsciiIsSpace(text[n - 1])) text[--n] = '\0';
  return StrTrimLeft(text);
}

size_t StrCopySized(char* destination, const char* source, size_t size) {
  size_t length = std::strlen(source);
  if (size == 0) return length;
  size_t n = length < size - 1 ? length : size - 1;
  std::memcpy(destination, source, n);
  destination[n] = '\0';
  return length;
}

char* StrTokenize(char* text, const char* delimiters, char** save) {
  char* p = text ? text : *save;
  if (!p) return nullptr;
  p += std::strspn(p, delimiters);
  if (*p == '\0') {
    *save = p;
    return nullptr;
  }
  char* end = p + std::strcspn(p, delimiters);
  if (*end) {
    *end = '\0';
    *save = end + 1;
  } else {
    *save = end;
  }
  return p;
}

int32_t StrToInt(const char* text) {
  if (!text) return 0;
  while (AsciiIsSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int64_t value = 0;
  while (platform::AsciiIsDigit(*text)) {
    value = value * 10 + (*text++ - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return int32_t(value);
}

const char* FileExtension(const char* path) {
  if (!path) return nullptr;
  const char* dot = nullptr;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':')
      dot = nullptr;
    else if (*p == '.')
      dot = p;
  }
  return dot;
}

char* FileExtension(char* path) {
  return const_cast<char*>(FileExtension(static_cast<const char*>(path)));
}

const char* FileNamePart(const char* path) {
  if (!path) return path;
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  return name;
}

std::string FileSetExtension(const std::string& path, const char* extension) {
  std::string ext = extension ? extension : "";
  if (ext.empty() || ext[0] != '.') ext.insert(ext.begin(), '.');
  if (ext.size() > 31) ext.resize(31);
  const char* old = FileExtension(path.c_str());
  if (!old) return path + ext;
  bool hasLower = false, hasUpper = false;
  for (const char* p = old + 1; *p; ++p) {
    hasLower |= AsciiIsLower(*p);
    hasUpper |= AsciiIsUpper(*p);
  }
  if (!hasLower)
    for (char& c : ext) c = AsciiUpper(c);
  else if (!hasUpper)
    for (char& c : ext) c = AsciiLower(c);
  return path.substr(0, size_t(old - path.c_str())) + ext;
}

void FileSetExtension(char* path, size_t size, const char* extension) {
  if (!path || size == 0) return;
  std::string result = FileSetExtension(std::string(path), extension);
  StrCopySized(path, result.c_str(), size);
}

void DateParse(struct tm* record, const char* text) {
  std::memset(record, 0, sizeof *record);
  record->tm_mday = 1;
  record->tm_mon = 0;
  record->tm_year = 70;
  if (!text) return;
  char copy[256];
  StrCopySized(copy, text, sizeof copy);
  char* save = nullptr;
  const char* day = StrTokenize(copy, "/-.", &save);
  const char* month = day ? StrTokenize(nullptr, "/-.", &save) : nullptr;
  const char* year = month ? StrTokenize(nullptr, "/-.", &save) : nullptr;
  if (!year) return;
  record->tm_mday = StrToInt(day);
  record->tm_mon = StrToInt(month) - 1;
  int y = StrToInt(year);
  record->tm_year = y >= 1901 ? y - 1900 : y;
}

int32_t DateToSeconds(int year, int second, int minute, int hour, int day, int month) {
  static const int kMonthDays[12] = {-1, 30, 58, 89, 119, 150, 180, 211, 242, 272, 303, 333};
  if (year > 139) return -1;
  int64_t y = year;
  int64_t m = month;
  if (m < 0 || m > 11) {
    int64_t years = m / 12;
    m %= 12;
    if (m < 0) {
      m += 12;
      --years;
    }
    y += years;
  }
  if (y < 69 || y > 139) return -1;
  int64_t days = 365 * y + (y - 1) / 4 + kMonthDays[m] + ((y % 4 == 0 && m > 1) ? 1 : 0) + day -
                 25567;
  // Every step in signed 32-bit range, as the file formats store it.
  auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
  int64_t v = days;
  if (!fits(v)) return -1;
  v = v * 24 + hour;
  if (!fits(v)) return -1;
  v = v * 60 + minute;
  if (!fits(v)) return -1;
  v = v * 60 + second;
  if (!fits(v)) return -1;
  return int32_t(v);
}

int32_t BinarySearch(const void* context, const void* first, int32_t count, size_t stride,
                     BinarySearchCompare compare) {
  if (count <= 0) return -1;
  const auto* base = static_cast<const unsigned char*>(first);
  auto at = [&](int32_t i) { return base + size_t(i) * stride; };
  int32_t low = 0, high = count - 1, middle = 0;
  while (low <= high) {
    middle = low + (high - low) / 2;
    int c = compare(context, at(middle));
    if (c == 0) {
      while (middle > 0 && compare(context, at(middle - 1)) == 0) --middle;
      return middle;
    }
    if (c < 0)
      high = middle - 1;
    else
      low = middle + 1;
  }
  if (middle == 0) return compare(context, at(0)) > 0 ? 0 : -1;
  while (middle > 0 && compare(context, at(middle)) < 0) --middle;
  return middle;
}

int32_t BinarySearchExact(const void* context, const void* first, int32_t count, size_t stride,
                          BinarySearchCompare compare) {
  int32_t i = BinarySearch(context, first, count, stride, compare);
  if (i < 0) return -1;
  const auto* element = static_cast<const unsigned char*>(first) + size_t(i) * stride;
  return compare(context, element) == 0 ? i : -1;
}
