// Field values: each f4 function reads or writes one field of the record
// buffer by its type. Writes mark the record changed; an operation the type
// does not allow reports -930 with "field function not supported for given
// field type" and answers a neutral value.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

char* f4ptr(FIELD4* field);
char* f4assignPtr(FIELD4* field);  // for writing: marks the record changed
DATA4* f4data(FIELD4* field);
int f4decimals(FIELD4* field);
unsigned f4len(FIELD4* field);
const char* f4name(FIELD4* field);
int f4number(FIELD4* field);  // 1-based
int f4type(FIELD4* field);    // the logical type ('Z' raw text, 'X' raw memo, 'N' for 'F')
// The type letter as the table's header stores it ('F', 'B', 'M', ...); -1
// for a null field.
int f4storedType(FIELD4* field);
// 1 when the field's value lives in the memo file (also a binary or general
// field of a dBASE table), 0 when in the record, -1 for a null field.
int f4isMemo(FIELD4* field);
void f4blank(FIELD4* field);
int f4null(FIELD4* field);
int f4true(FIELD4* field);
void f4assign(FIELD4* field, const char* text);
void f4assignN(FIELD4* field, const char* text, unsigned length);
void f4assignChar(FIELD4* field, int character);
int f4char(FIELD4* field);
void f4assignLong(FIELD4* field, long value);
long f4long(FIELD4* field);
void f4assignInt(FIELD4* field, int value);
int f4int(FIELD4* field);
void f4assignDouble(FIELD4* field, double value);
double f4double(FIELD4* field);
// The currency value with 0-4 decimals, in the context's work buffer.
char* f4currency(FIELD4* field, short decimals);
int f4assignCurrency(FIELD4* field, const char* text);
// CCYYMMDDhh:mm:ss in the context's work buffer.
char* f4dateTime(FIELD4* field);
void f4assignDateTime(FIELD4* field, const char* text);
// The raw field bytes and a NUL in the context's work buffer (at most 256).
char* f4str(FIELD4* field);
unsigned f4ncpy(FIELD4* field, char* buffer, unsigned size);
// Marks the record changed and clears the field's null flag (FoxPro files).
void f4changed(FIELD4* field);

enum : long {
  E4_F4ASSIGN_CHAR = 90015,
  E4_F4CHAR = 90016,
  E4_F4ASSIGN_DOUBLE = 90017,
  E4_F4DOUBLE = 90018,
  E4_F4ASSIGN_PTR = 90020,
  E4_F4BLANK = 90021,
  E4_F4DATA = 90022,
  E4_F4DECIMALS = 90023,
  E4_F4LEN = 90024,
  E4_F4NAME = 90025,
  E4_F4TYPE = 90026,
  E4_F4ASSIGN_INT = 90027,
  E4_F4INT = 90028,
  E4_F4ASSIGN_LONG = 90029,
  E4_F4LONG = 90030,
  E4_F4PTR = 90045,
  E4_F4ASSIGN = 90046,
  E4_F4ASSIGN_N = 90047,
  E4_F4NCPY = 90048,
  E4_F4STR = 90049,
  E4_F4TRUE = 90050,
  E4_F4NUMBER = 90051,
  E4_F4NULL = 90053,
  E4_F4ASSIGN_CURRENCY = 90054,
  E4_F4CURRENCY = 90055,
  E4_F4DATE_TIME = 90056,
};
