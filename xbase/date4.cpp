#include "xbase/date4.h"

#include <cstring>

#include "platform/calendar.h"
#include "platform/env.h"
#include "xbase/conv4.h"
#include "xbase/error4.h"

namespace {

constexpr long kJulianOf1970 = 2440588;  // the julian day of 1 January 1970
constexpr long kLastJulian = 5373484;    // 31 December 9999
const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};
const int kMonthLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeap(long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int MonthLength(long year, int month) { return kMonthLength[month - 1] + ((month == 2 && IsLeap(year)) ? 1 : 0); }

// The number of a run of digits and blanks: leading blanks are skipped and
// the first blank after a digit ends it.
long Digits(const char* text, int n) {
  int i = 0;
  while (i < n && text[i] == ' ') i++;
  long value = 0;
  for (; i < n && platform::AsciiIsDigit(text[i]); i++) value = value * 10 + (text[i] - '0');
  return value;
}

void TwoDigits(char* out, int value) {
  out[0] = char('0' + value / 10 % 10);
  out[1] = char('0' + value % 10);
}


// Matches a month name (at least its first three letters, ignoring case)
// at the start of text; 1-12 or 0.
int MatchMonth(const char* text, int length) {
  int n = 0;
  while (n < length && platform::AsciiIsAlpha(text[n])) n++;
  if (n < 3) return 0;
  for (int m = 0; m < 12; m++) {
    int nameLength = int(std::strlen(kMonths[m]));
    if (n > nameLength) continue;
    bool same = true;
    for (int i = 0; i < n && same; i++) {
      same = platform::AsciiLower(text[i]) == platform::AsciiLower(kMonths[m][i]);
    }
    if (same) return m + 1;
  }
  return 0;
}

}  // namespace

void date4now(DATE4NOW* now) {
  platform::Env& env = platform::Env::Current();
  int64_t utc = env.NowSeconds();
  int64_t local = utc + env.LocalOffset(utc);
  int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
  int64_t seconds = local - days * 86400;
  CivilFromDays(days, &now->year, &now->month, &now->day);
  now->hour = int(seconds / 3600);
  now->minute = int(seconds / 60 % 60);
  now->second = int(seconds % 60);
}

void date4assign(char* date, long julian) {
  if (julian <= 0) {
    std::memset(date, ' ', 8);
    return;
  }
  if (julian > kLastJulian) {
    std::memset(date, '*', 8);
    return;
  }
  int year, month, day;
  CivilFromDays(julian - kJulianOf1970, &year, &month, &day);
  c4ltoa45(year, date, -4);
  TwoDigits(date + 4, month);
  TwoDigits(date + 6, day);
}

long date4long(const char* date) {
  for (int i = 0; i < 8; i++) {
    if (!platform::AsciiIsDigit(date[i]) && date[i] != ' ') return -1;
  }
  long year = Digits(date, 4);
  if (year == 0) {
    if (std::memcmp(date, "        ", 8) == 0 || std::memcmp(date, "00000000", 8) == 0) return 0;
    return -1;
  }
  int month = int(Digits(date + 4, 2));
  int day = int(Digits(date + 6, 2));
  if (month < 1 || month > 12) return -1;
  if (day < 1 || day > MonthLength(year, month)) return -1;
  return long(DaysFromCivil(year, month, day)) + kJulianOf1970;
}

void date4format(const char* date, char* result, char* picture) {
  int length = int(std::strlen(picture));
  for (int i = 0; i < length; i++) picture[i] = platform::AsciiUpper(picture[i]);
  std::memcpy(result, picture, size_t(length));
  static const char kLetters[4] = {'C', 'Y', 'M', 'D'};
  for (int group = 0; group < 4; group++) {
    const char* first = static_cast<const char*>(std::memchr(picture, kLetters[group], size_t(length)));
    if (first == nullptr) continue;
    int start = int(first - picture);
    int run = 0;
    while (start + run < length && picture[start + run] == kLetters[group]) run++;
    if (kLetters[group] == 'M' && run > 2) {
      std::memset(result + start, ' ', size_t(run));
      if (date[4] == ' ' && date[5] == ' ') continue;
      int month = c4atoi(date + 4, 2);
      if (month < 1) month = 1;
      if (month > 12) month = 12;
      int n = int(std::strlen(kMonths[month - 1]));
      if (n > run) n = run;
      if (n > 9) n = 9;
      std::memcpy(result + start, kMonths[month - 1], size_t(n));
      continue;
    }
    // The run takes the group's characters and those after them.
    for (int i = 0; i < run && group * 2 + i < 8; i++) result[start + i] = date[group * 2 + i];
  }
  c4oemToAnsi(result, size_t(length));
}

int date4init(char* date, const char* text, char* picture) {
  int length = int(std::strlen(picture));
  for (int i = 0; i < length; i++) picture[i] = platform::AsciiUpper(picture[i]);
  int textLength = int(std::strlen(text));
  char out[8];
  std::memset(out, ' ', 8);
  int filled[4] = {0, 0, 0, 0};
  bool present[4] = {false, false, false, false};
  for (int i = 0; i < length;) {
    const char* letter = std::strchr("CYMD", picture[i]);
    if (picture[i] == 0 || letter == nullptr) {
      i++;
      continue;
    }
    int group = int(letter - "CYMD");
    int run = 0;
    while (i + run < length && picture[i + run] == picture[i]) run++;
    present[group] = true;
    if (group == 2 && run > 2) {
      int month = i < textLength ? MatchMonth(text + i, textLength - i) : 0;
      if (month > 0) {
        TwoDigits(out + 4, month);
        filled[2] = 2;
      }
    } else {
      int before = filled[group];
      for (int k = 0; k < run; k++) {
        char c = (i + k < textLength) ? text[i + k] : ' ';
        if (filled[group] < 2) out[group * 2 + filled[group]++] = c;
      }
      // One letter stands for the last digit: "7" under D is day 07.
      if (before == 0 && filled[group] == 1) {
        out[group * 2 + 1] = out[group * 2];
        out[group * 2] = ' ';
        filled[group] = 2;
      }
    }
    i += run;
  }
  if (std::memcmp(out, "        ", 8) == 0) {
    std::memcpy(date, out, 8);
    return 8;
  }
  char today[8];
  date4today(today);
  for (int group = 0; group < 4; group++) {
    char* part = out + group * 2;
    if (!present[group]) {
      std::memcpy(part, today + group * 2, 2);
    } else if (group > 1 && part[0] == ' ' && part[1] == ' ') {
      std::memcpy(part, "01", 2);
    }
  }
  if (out[2] == ' ' && out[3] == ' ') std::memcpy(out + 2, "01", 2);
  for (char& c : out) {
    if (c == ' ') c = '0';
  }
  std::memcpy(date, out, 8);
  return 8;
}

const char* date4cmonth(const char* date) {
  int month = c4atoi(date + 4, 2);
  if (month < 1 || month > 12) return "";
  return kMonths[month - 1];
}

void date4today(char* date) {
  DATE4NOW now;
  date4now(&now);
  c4ltoa45(now.year, date, -4);
  TwoDigits(date + 4, now.month);
  TwoDigits(date + 6, now.day);
}

void date4timeNow(char* time) {
  DATE4NOW now;
  date4now(&now);
  date4timeFromMs(time, ((now.hour * 60L + now.minute) * 60 + now.second) * 1000);
}

long date4timeFromMs(char* time, long ms) {
  if (ms < 0) ms = 0;
  long seconds = (ms + 500) / 1000;
  long days = seconds / 86400;
  seconds %= 86400;
  TwoDigits(time, int(seconds / 3600));
  time[2] = ':';
  TwoDigits(time + 3, int(seconds / 60 % 60));
  time[5] = ':';
  TwoDigits(time + 6, int(seconds % 60));
  return days;
}

const char* code4dateFormat(CODE4* c4) {
  if (c4 == nullptr) {
    error4(nullptr, e4parmNull, E4_CODE4DATE_FORMAT);
    return nullptr;
  }
  return c4->dateFormat;
}

int code4dateFormatSet(CODE4* c4, const char* picture) {
  if (c4 == nullptr || picture == nullptr) return error4(c4, e4parmNull, E4_CODE4DATE_FORMAT_SET);
  if (std::strlen(picture) >= sizeof c4->dateFormat) return error4(c4, e4parm, E4_CODE4DATE_FORMAT_SET);
  std::memcpy(c4->dateFormat, picture, std::strlen(picture) + 1);
  return 0;
}
