// Error reporting of the engine: every failure is reported once, where it is
// found, through error4describe with a code (texts below), a location code
// (group x 10000 + n, texts in the location tables) and up to three extra
// texts; the report goes to the context's error log, its callback or the
// message box (text on stderr), and the context keeps the code until
// error4set(c4, 0). No code ends the process: the caller gets the code back.
#pragma once

#include "xbase/d4data.h"

struct ERROR4DATA {
  int errorNum;
  const char* errorData;
};

struct ERROR4LOCATION {
  long shown;  // the number the reports show
  const char* text;
};

extern const ERROR4DATA error4table[];
extern const ERROR4LOCATION error4locations4[];
extern const ERROR4LOCATION error4locations6[];
extern const ERROR4LOCATION error4locations8[];
extern const ERROR4LOCATION error4locations9[];
extern const int error4locations4Count;
extern const int error4locations6Count;
extern const int error4locations8Count;
extern const int error4locations9Count;

// Reports an error; answers `code`. c4 may be null (message box only).
int error4describe(CODE4* c4, int code, long location, const char* t1, const char* t2,
                   const char* t3);
int error4(CODE4* c4, int code, long location);
// Sets the context's error code; answers the previous one.
int error4set(CODE4* c4, int code);
int error4code(CODE4* c4);
// The last report of the context in one line ("" when none), such as
// "File is not a Data File (database corruption detected): roads.dbf".
const char* error4lastText(const CODE4* c4);
// The text of an error code; "Invalid or Unknown Error Code" without a row.
const char* error4text(int code);
// The location row of a location code, or null (no text, no shown number).
const ERROR4LOCATION* error4location(long location);
// Its text or null, and its shown number or 0.
const char* error4locationText(long location);
long error4locationNumber(long location);
// The message box's text of a report (what error4describe shows).
int error4messageText(char* out, int size, int code, long location, const char* t1,
                      const char* t2, const char* t3);

// Location codes of the internal routines and messages used often.
enum : long {
  E4_CODE4_INIT_UNDO = 40037,
  E4_FIELD4_CHANGED = 60107,
  E4_FIELD4INFO_INDEX = 60022,
  E4_FIELD4INFO_CTOR = 60024,
  E4_STR4_ASSIGN = 60039,
  E4_STR4_ASSIGN_DOUBLE = 60040,
  E4_STR4_ASSIGN_LONG = 60041,
  E4_DATE4_FORMAT = 60098,
  E4_INVALID_FIELD_TYPE = 80006,
  E4_READ_ONLY_WRITE = 80013,
  E4_READ_ONLY_LENGTH = 80014,
  E4_TEMP_FILE = 80012,
  E4_ILLEGAL_FIELD_DATA = 80048,
  E4_FIELD_TYPE_FUNCTION = 80053,
  E4_STRUCT_SIZE = 80061,
  E4_DATA_CORRUPT = 80139,
  E4_TABLE_VERSION = 80151,
  E4_SHORT_HEADER = 80158,
  E4_NO_FIELDS = 80161,
  E4_ENV_VARIABLE = 80179,
  E4_SKIP_INVALID = 80180,
  E4_ZERO_PARM = 80222,
  E4_NO_LOCATION = 89999,
};
