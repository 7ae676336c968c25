// The records a remote-database driver library shares with Layerio, and the
// entry points Layerio calls. Drivers include this header; it needs nothing
// else of the library.
//
// SrvDriver: one per loaded driver, handed to the driver's SrvInit, which
// reports its errors in it. A connection is handed to the driver as a record
// of the same layout: its entry table, and the error code and two texts the
// driver sets when a call fails (the first 40 bytes are the driver's own).
// SrvStatementLink: what the driver sees of a statement (its number, and a
// word for the driver's own state). SrvColumnBuffer: one per result column,
// filled by SrvFetch.
//
// The layouts are fixed for 64-bit processes (offsets below); the records
// are zeroed before a driver sees them.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct SrvDriver {
  char reserved[40];      //    0: not used by Layerio
  void** entries;         //   40: the 32 entry points, in slot order
  void* module;           //   48: the loaded library (Layerio's own handle)
  int16_t errorCode;      //   56: set by the driver
  char errorText1[1024];  //   58: first argument text of the driver's error
  char errorText2[1024];  // 1082: second argument text
};

struct SrvStatementLink {
  uint32_t number;    // 0: from 1, unique among open statements
  int32_t reserved;   // 4
  void* driverState;  // 8: the driver's own, from SrvExecute to SrvClose
};

// Server type codes of result columns, and what SrvFetch leaves at `value`
// for each (at most `capacity` bytes):
//   1 Char, 16 Varchar: the text, NUL-terminated
//   2 Decimal: the number as text ("-123.45"), NUL-terminated
//   3 Integer: an int32_t; 4 Smallint: an int16_t; 8 Float: a double
//   5 Date: the date as text, "YYYY-MM-DD" (a time after it is ignored)
//   6 Logical: one byte, 0 or 1
//   17 Binary: `length` raw bytes
enum SrvTypeCode : int32_t {
  kSrvTypeChar = 1,
  kSrvTypeDecimal = 2,
  kSrvTypeInteger = 3,
  kSrvTypeSmallint = 4,
  kSrvTypeDate = 5,
  kSrvTypeLogical = 6,
  kSrvTypeFloat = 8,
  kSrvTypeVarchar = 16,
  kSrvTypeBinary = 17,
};

struct SrvColumnBuffer {
  uint8_t type;         //  0: server type code
  uint8_t reserved[3];  //  1
  int32_t precision;    //  4
  int32_t scale;        //  8
  int32_t width;        // 12
  int32_t capacity;     // 16: bytes at value
  int32_t length;       // 20: bytes written (Binary)
  void* value;          // 24: owned by Layerio
};

// Fetch directions; a positive number fetches that row.
enum SrvFetchDirection : int32_t {
  kSrvFetchNext = -1,
  kSrvFetchPrevious = -2,
  kSrvFetchFirst = -3,
  kSrvFetchLast = -4,
};

// The error code of a fetch that found no further row.
enum : int16_t { kSrvNoMoreRows = 100 };

// A driver's SrvInit: non-zero when the driver is ready; zero after setting
// errorCode and the two texts.
typedef int (*SrvInitFn)(SrvDriver* driver);
// Runs a statement: non-zero on success.
typedef int (*SrvExecuteFn)(SrvDriver* connection, SrvStatementLink* statement,
                            const char* text);
// Ends a statement; `release` 1 frees what the driver holds for it.
typedef int (*SrvCloseFn)(SrvDriver* connection, SrvStatementLink* statement, int release);
// Fills the column buffers with a row: non-zero when a row came; else the
// connection's error code says why (kSrvNoMoreRows at the end).
typedef int (*SrvFetchFn)(SrvDriver* connection, SrvStatementLink* statement,
                          SrvColumnBuffer* columns, int32_t direction);
typedef int32_t (*SrvNumColumnsFn)(SrvDriver* connection, SrvStatementLink* statement);
// SrvColumnName, SrvColumnAlias: a text that stays valid until the next call
// on the statement, or null. Columns are numbered from 1.
typedef const char* (*SrvColumnTextFn)(SrvDriver* connection, SrvStatementLink* statement,
                                       int32_t column);
// SrvColumnType (0 on failure), SrvColumnPrecision, SrvColumnScale,
// SrvColumnWidth (negative on failure).
typedef int32_t (*SrvColumnNumberFn)(SrvDriver* connection, SrvStatementLink* statement,
                                     int32_t column);

}  // extern "C"

static_assert(offsetof(SrvDriver, entries) == 40);
static_assert(offsetof(SrvDriver, module) == 48);
static_assert(offsetof(SrvDriver, errorCode) == 56);
static_assert(offsetof(SrvDriver, errorText1) == 58);
static_assert(offsetof(SrvDriver, errorText2) == 1082);
static_assert(sizeof(SrvDriver) == 2112);
static_assert(offsetof(SrvStatementLink, driverState) == 8 && sizeof(SrvStatementLink) == 16);
static_assert(offsetof(SrvColumnBuffer, precision) == 4 && offsetof(SrvColumnBuffer, width) == 12 &&
              offsetof(SrvColumnBuffer, capacity) == 16 &&
              offsetof(SrvColumnBuffer, length) == 20 && offsetof(SrvColumnBuffer, value) == 24 &&
              sizeof(SrvColumnBuffer) == 32);
