// Dates: CCYYMMDD texts and julian day numbers (1 January of year 1 is
// 1721426; 0 is the blank date, -1 an invalid one), pictures and month names.
#pragma once

#include "xbase/d4data.h"

// Where the date-format functions' failures are reported.
enum : long {
  E4_CODE4DATE_FORMAT_SET = 90432,
  E4_CODE4DATE_FORMAT = 90433,
};

struct DATE4NOW {
  int year, month, day, hour, minute, second;
};
// The local date and time now.
void date4now(DATE4NOW* now);

void date4assign(char* date, long julian);   // 8 characters, no NUL
long date4long(const char* date);
// The date under the picture: the picture's length of characters, no NUL;
// the picture is upper-cased in place.
void date4format(const char* date, char* result, char* picture);
// The date read from text by the picture; answers 8.
int date4init(char* date, const char* text, char* picture);
const char* date4cmonth(const char* date);
void date4today(char* date);     // 8 characters
void date4timeNow(char* time);   // hh:mm:ss, 8 characters
// The time of day of a count of milliseconds, rounded to the second:
// hh:mm:ss (8 characters). Answers the whole days carried (0 or more).
long date4timeFromMs(char* time, long ms);
const char* code4dateFormat(CODE4* c4);
int code4dateFormatSet(CODE4* c4, const char* picture);
