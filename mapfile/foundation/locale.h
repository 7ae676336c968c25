// Locale separators, ticks and colour similarity.
//
// Numbers are read and written locale-free: the separators come from
// here, never from the C library's locale.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

// Date orders: 0 month-day-year, 1 day-month-year, 2 year-month-day,
// 5 year-day-month.
int16_t LocaleLoadDateFormat();
// The decimal and thousands separators and the digit grouping of the user's
// locale (read at initialisation). 1 when loaded.
int16_t LocaleLoadNumberFormat();
void DateFormatGet(int useLocale, int16_t* order, char* separator);
// The separators number texts use; the fixed ".", "," and 3 while the
// ignore-locale-separators switch is on. A separator 0 means none.
char LocaleDecimalSeparator();
char LocaleThousandSeparator();
int LocaleGrouping();
// The switch of the running session, else the process-wide one. On: number
// texts use the fixed separators whatever the locale says.
int LocaleSeparatorsIgnored();
void LocaleSetIgnoreSeparators(int on);
uint32_t ClockTicks();
int32_t ColorSimilarity(uint32_t a, uint32_t b);

}  // namespace layerio
