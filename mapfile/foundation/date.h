// Dates and the locale date order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/records.h"

namespace layerio {

int32_t DateToDayNumber(const DateRec* date);
int16_t DateFromDayNumber(int32_t n, DateRec* out);
int16_t DateAddDays(int32_t days, DateRec* date);
int DateCompare(const DateRec* a, const DateRec* b);
int32_t DateToNumber(const DateRec* date);
int16_t DateFromNumber(int32_t n, DateRec* out);
int DaysInMonth(int month, int leap);
void DateToday(DateRec* out);
void DateFixYear(int32_t* year);
int16_t DateParse(const char* text, DateRec* out);
int16_t DateParseUS(const char* text, DateRec* out);
int16_t DateSetMode(int32_t mode);
int32_t DateGetMode();

}  // namespace layerio
