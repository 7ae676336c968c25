// The script of the test driver library (remote_test_driver.cpp): the test
// says which statement texts give which result (columns and rows as texts),
// which fail to run and which fail to fetch, and reads back the statements
// the layer ran. Tests reach these names through the loaded library.
#pragma once

#include <cstdint>

extern "C" {

struct TestSrvColumn {
  const char* name;   // null: the driver has no name for it
  const char* alias;  // null: none
  int32_t type;       // 0: the driver knows no type
  int32_t precision;
  int32_t scale;
  int32_t width;
  int16_t nameError;  // non-zero: asking the name sets this error code
};

// Forgets every script and the log.
typedef void (*TestSrvResetFn)();
// Statements of exactly this text give these columns and rows; cells are
// row after row, as texts (numbers in C notation, dates "YYYY-MM-DD",
// logicals "1"/"0", binary columns as hexadecimal digits).
typedef void (*TestSrvResultFn)(const char* text, const TestSrvColumn* columns, int32_t count,
                                const char* const* cells, int32_t rows);
// Statements of this text fail to run, or every fetch on them fails, with
// this error code and texts.
typedef void (*TestSrvErrorFn)(const char* text, int16_t code, const char* text1,
                               const char* text2);
// The statements run so far, each followed by "\n".
typedef const char* (*TestSrvLogFn)();
// Statements run and not yet released.
typedef int32_t (*TestSrvOpenFn)();

}  // extern "C"
