// Inside the expression layer: the evaluation state that every routine of
// the function table works on, and the rows the parser names.
#pragma once

#include <mutex>

#include "xbase/expr4.h"

// Depth of the pointer stack; compilation refuses deeper expressions.
constexpr int E4MAX_STACK = 20;

// The state of one evaluation. There is one for the process, guarded by
// expr4lock(); a calc saves and restores it around its own evaluation.
struct E4STATE {
  E4INFO* info;  // the entry being run
  char* stack[E4MAX_STACK];
  int top;  // pointers on the stack
  char* buffer;
  const char* constants;
  EXPR4* expr;
};

// Rows the parser and e4massage refer to.
enum : int {
  E4ROW_FIELD_STR = 0,
  E4ROW_FIELD_WSTR = 1,
  E4ROW_FIELD_O = 2,
  E4ROW_FIELD_STR_COPY = 3,
  E4ROW_FIELD_WSTR_COPY = 4,
  E4ROW_FIELD_LOG = 5,
  E4ROW_FIELD_DATE_D = 6,
  E4ROW_FIELD_DATE_S = 7,
  E4ROW_FIELD_NUM_D = 8,
  E4ROW_FIELD_NUM_S = 9,
  E4ROW_FIELD_CUR = 10,
  E4ROW_FIELD_DOUBLE = 11,
  E4ROW_FIELD_INT = 12,
  E4ROW_FIELD_UINT = 13,
  E4ROW_FIELD_SHORT = 14,
  E4ROW_FIELD_USHORT = 15,
  E4ROW_FIELD_DATETIME = 16,
  E4ROW_FIELD_INT_D = 17,
  E4ROW_FIELD_CUR_D = 18,
  E4ROW_FIELD_I8 = 19,
  E4ROW_FIELD_DATE_PARTS = 20,
  E4ROW_FIELD_TIME_PARTS = 21,
  E4ROW_FIELD_DT_PARTS = 22,
  E4ROW_FIELD_MEMO = 23,
  E4ROW_DOUBLE = 24,
  E4ROW_STRING = 25,
  E4ROW_FIRST_LOGICAL_CONST = 26,
  E4ROW_LAST_LOGICAL_CONST = 31,
  E4ROW_FIRST_OPERATOR = 32,
  E4ROW_OR = 32,
  E4ROW_AND = 33,
  E4ROW_CONCAT = 34,
  E4ROW_CONCAT_W = 35,
  E4ROW_CONCAT_O = 36,
  E4ROW_CONCAT_TRIM = 37,
  E4ROW_CONCAT_SUB = 41,
  E4ROW_FIRST_COMPARISON = 45,  // the comparison operators, every typed row
  E4ROW_LAST_COMPARISON = 79,
  E4ROW_LAST_OPERATOR = 84,
  E4ROW_FIRST_FUNCTION = 85,
  E4ROW_STR = 87,
  E4ROW_STR_WIDE = 88,
  E4ROW_CALC = 123,
  E4ROW_TOTAL = 124,
};

// Codes of the rows the parser and e4massage treat apart.
enum : int16_t {
  E4CODE_TRUE = 14,
  E4CODE_FALSE = 16,
  E4CODE_NOT = 18,
  E4CODE_OR = 20,
  E4CODE_AND = 22,
  E4CODE_ADD = 25,
  E4CODE_SUB = 30,
  E4CODE_EQ = 40,
  E4CODE_NE = 50,
  E4CODE_GE = 60,
  E4CODE_LE = 70,
  E4CODE_GT = 80,
  E4CODE_LT = 90,
  E4CODE_CHR = 120,
  E4CODE_DEL = 130,
  E4CODE_STR = 140,
  E4CODE_STRZERO = 145,
  E4CODE_SUBSTR = 150,
  E4CODE_TIME = 160,
  E4CODE_UPPER = 170,
  E4CODE_DTOS = 180,
  E4CODE_DTOC = 200,
  E4CODE_TRIM = 220,
  E4CODE_LTRIM = 230,
  E4CODE_ALLTRIM = 235,
  E4CODE_LEFT = 240,
  E4CODE_RIGHT = 245,
  E4CODE_PADL = 246,
  E4CODE_PADR = 247,
  E4CODE_IIF = 250,
  E4CODE_DATETIME = 259,
  E4CODE_CTOD = 270,
  E4CODE_DELETED = 350,
  E4CODE_RECCOUNT = 360,
  E4CODE_L2BIN = 385,
  E4CODE_CALC = 390,
  E4CODE_DESCEND = 420,
  E4CODE_ASCEND = 430,
};

// The process-wide evaluation lock and state.
std::recursive_mutex& expr4lock();
E4STATE& expr4state();
// The result type of an entry (a calc entry: its calc's type).
int e4entryType(const E4INFO* info);
// The contents of a memo field as the handle holds them.
const char* e4memoText(FIELD4* field, unsigned* length);
