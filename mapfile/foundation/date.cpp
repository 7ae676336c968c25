// Dates: Gregorian day numbers counted from 1 March of year 0, the packed
// yyyymmdd number, today's date, the two-digit-year rule and the parsers of
// date texts in the locale's order or month first.
#include <cstring>

#include "mapfile/foundation/date.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/locale.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/session.h"
#include "mapfile/foundation/value.h"
#include "platform/calendar.h"
#include "platform/env.h"

namespace layerio {

namespace {

constexpr int16_t kErrNotConvertible = 854;

// Day 0 of the day numbers: 1 March of year 0.
constexpr int64_t kDayNumberZero = DaysFromCivil(0, 3, 1);

constexpr uint8_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int32_t gDateMode = 1;

bool IsLeap(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool IsEmpty(const DateRec* d) { return d->month == 0 || d->day == 0; }

// Reads digits only; the position after them, or null when there is none.
const char* ReadNumber(const char* p, int32_t* out) {
  if (*p < '0' || *p > '9') return nullptr;
  int64_t v = 0;
  while (*p >= '0' && *p <= '9') {
    if (v < 100000000) v = v * 10 + (*p - '0');
    ++p;
  }
  *out = int32_t(v);
  return p;
}

const char* SkipBlanks(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

int16_t Pivot() {
  const Session* s = CurrentSession();
  return s ? s->twoDigitPivot : -1;
}

bool ValidDay(int32_t year, int32_t month, int32_t day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, IsLeap(year));
}

}  // namespace

int32_t DateToDayNumber(const DateRec* date) {
  if (IsEmpty(date) || date->year < 0) return -1;
  // January and February of year 0 lie before the origin.
  if (date->year == 0 && date->month < 3) return -1;
  return int32_t(DaysFromCivil(date->year, date->month, date->day) - kDayNumberZero);
}

int16_t DateFromDayNumber(int32_t n, DateRec* out) {
  *out = DateRec{0, 0, 0};
  if (n < 1) {
    ErrorPush(kErrorSeverity, kErrNotConvertible, nullptr, nullptr);
    return 0;
  }
  int year = 0, month = 0, day = 0;
  CivilFromDays(n + kDayNumberZero, &year, &month, &day);
  if (year > INT16_MAX) {
    // Beyond the record's 16-bit year.
    ErrorPush(kErrorSeverity, kErrNotConvertible, nullptr, nullptr);
    return 0;
  }
  *out = DateRec{int16_t(year), uint8_t(month), uint8_t(day)};
  return 1;
}

int16_t DateAddDays(int32_t days, DateRec* date) {
  int32_t n = DateToDayNumber(date);
  if (n < 0) {
    ErrorPush(kErrorSeverity, kErrNotConvertible, nullptr, nullptr);
    *date = DateRec{0, 0, 0};
    return 0;
  }
  return DateFromDayNumber(IntAddSaturate(n, days), date);
}

int DateCompare(const DateRec* a, const DateRec* b) {
  bool ea = IsEmpty(a), eb = IsEmpty(b);
  if (ea && eb) return 0;
  if (ea || eb) return -2;
  if (a->year != b->year) return a->year < b->year ? -1 : 1;
  if (a->month != b->month) return a->month < b->month ? -1 : 1;
  if (a->day != b->day) return a->day < b->day ? -1 : 1;
  return 0;
}

int32_t DateToNumber(const DateRec* date) {
  if (IsEmpty(date)) return 0;
  return date->year * 10000 + date->month * 100 + date->day;
}

int16_t DateFromNumber(int32_t n, DateRec* out) {
  *out = DateRec{0, 0, 0};
  if (n == 0) return 1;
  int32_t year = n / 10000, month = (n / 100) % 100, day = n % 100;
  if (n < 0 || year > INT16_MAX || !ValidDay(year, month, day)) {
    ErrorPush(kErrorSeverity, kErrNotConvertible, nullptr, nullptr);
    return 0;
  }
  *out = DateRec{int16_t(year), uint8_t(month), uint8_t(day)};
  return 1;
}

int DaysInMonth(int month, int leap) {
  int m = ((month - 1) % 12 + 12) % 12;
  return m == 1 && leap ? 29 : kMonthDays[m];
}

void DateToday(DateRec* out) {
  platform::Env& env = platform::Env::Current();
  int64_t now = env.NowSeconds();
  if (now <= 0) {
    *out = DateRec{2038, 1, 19};
    return;
  }
  int64_t local = now + env.LocalOffset(now);
  static const int32_t epoch = [] {
    DateRec d{1970, 1, 1};
    return DateToDayNumber(&d);
  }();
  int64_t n = epoch + (local >= 0 ? local / 86400 : (local - 86399) / 86400);
  if (n < 1 || n > INT32_MAX || !DateFromDayNumber(int32_t(n), out)) *out = DateRec{2038, 1, 19};
}

void DateFixYear(int32_t* year) {
  int32_t y = *year;
  if (y < 0 || y > 9999) {
    *year = 0;
    return;
  }
  if (y >= 100) return;
  int16_t pivot = Pivot();
  if (pivot == -1) {
    DateRec today;
    DateToday(&today);
    *year = y + (today.year / 100) * 100;
  } else {
    *year = y >= pivot ? y + 1900 : y + 2000;
  }
}

int16_t DateParse(const char* text, DateRec* out) {
  *out = DateRec{0, 0, 0};
  if (!text) return 0;
  size_t length = std::strlen(text);
  if (int(length) == DatePatternLength() && std::strspn(text, "0123456789") == length) {
    int32_t n = 0;
    // Checked here, since the parsers report nothing.
    if (NumParseLongPlain(text, &n) && ValidDay(n / 10000, (n / 100) % 100, n % 100)) {
      *out = DateRec{int16_t(n / 10000), uint8_t((n / 100) % 100), uint8_t(n % 100)};
      return 1;
    }
  }
  const Session* session = CurrentSession();
  if (session && session->monthFirst) return DateParseUS(text, out);

  int16_t order = 0;
  char separator = '/';
  DateFormatGet(1, &order, &separator);
  int32_t n[3] = {0, 0, 0};
  int parts = 0;
  const char* p = text;
  for (;;) {
    p = ReadNumber(p, &n[parts]);
    if (!p) return 0;
    ++parts;
    p = SkipBlanks(p);
    if (*p == 0 && parts >= 2) break;
    if (parts == 3 || *p != separator) return 0;
    ++p;
  }
  int32_t year = 0, month = 0, day = 0;
  if (parts == 2) {
    DateRec today;
    DateToday(&today);
    year = today.year;
  }
  switch (order) {
    case 0:
      month = n[0], day = n[1];
      if (parts == 3) year = n[2];
      break;
    case 1:
      day = n[0], month = n[1];
      if (parts == 3) year = n[2];
      break;
    case 2:
      if (parts == 2) {
        month = n[0], day = n[1];
      } else {
        year = n[0], month = n[1], day = n[2];
      }
      break;
    case 5:
      if (parts == 2) {
        day = n[0], month = n[1];
      } else {
        year = n[0], day = n[1], month = n[2];
      }
      break;
    default:
      return 0;
  }
  if (month < 1 || month > 12) return 0;
  DateFixYear(&year);
  if (year == 0 || !ValidDay(year, month, day)) return 0;
  *out = DateRec{int16_t(year), uint8_t(month), uint8_t(day)};
  return 1;
}

int16_t DateParseUS(const char* text, DateRec* out) {
  *out = DateRec{0, 0, 0};
  if (!text) return 0;
  DateRec today;
  DateToday(&today);
  int32_t year = today.year, month = 0, day = 0;
  const char* p = ReadNumber(text, &month);
  if (!p || month < 1 || month > 12) return 0;
  p = SkipBlanks(p);
  char separator = *p;
  if (separator != '-' && separator != '/') return 0;
  p = ReadNumber(p + 1, &day);
  if (!p) return 0;
  if (*p == separator) {
    p = ReadNumber(p + 1, &year);
    if (!p) return 0;
    p = SkipBlanks(p);
    DateFixYear(&year);
  }
  if (*p != 0 || year == 0 || !ValidDay(year, month, day)) return 0;
  *out = DateRec{int16_t(year), uint8_t(month), uint8_t(day)};
  return 1;
}

int16_t DateSetMode(int32_t mode) {
  gDateMode = mode == 2 ? 2 : 1;
  return 1;
}

int32_t DateGetMode() { return gDateMode; }

}  // namespace layerio
