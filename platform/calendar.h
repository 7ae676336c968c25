// Days and dates of the proleptic Gregorian calendar, counted from
// 1970-01-01 (day 0), for every file format that stores one or the other.
#pragma once

#include <cstdint>

// Days since 1970-01-01 of a civil date (month 1-12, day 1-31).
constexpr int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The civil date of a count of days since 1970-01-01.
constexpr void CivilFromDays(int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  *day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
  *month = int(mp < 10 ? mp + 3 : mp - 9);
  *year = int(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

// OLE dates (worksheet serials, Access and ADO dates) count days from
// 1899-12-30; the fraction is the time of day, counted from midnight
// whatever the sign of the day (-1.25 is 1899-12-29 at 06:00).
inline constexpr int64_t kOleDayZero = DaysFromCivil(1899, 12, 30);

// The OLE date of a day count since 1899-12-30 and the seconds into it.
constexpr double OleDateOf(int64_t oleDays, double seconds) {
  const double fraction = seconds / 86400.0;
  return oleDays >= 0 ? double(oleDays) + fraction : double(oleDays) - fraction;
}
