// Expressions of the xBase language: index keys, tag filters, relation and
// query conditions such as UPPER(NAME)+DTOS(BIRTH) or .NOT.DELETED().
//
// expr4parse compiles a text against one open data handle into an EXPR4: a
// postfix program of entries, each naming one row of the function table,
// with the text's constants and the layout of a work buffer in which every
// intermediate result has a fixed place (no allocation while evaluating).
// expr4vary runs the program over the handle's current record; expr4true,
// expr4double and expr4key read the result as a logical, a number or an
// index key.
//
// Value types (one character each): 'C' text, 'W' wide text, 'O' wide text
// without its last two bytes, 'N' numeric field text, 'n' double, 'D' date
// text CCYYMMDD, 'd' julian day as a double (0 blank), 'L' 32-bit 0/1, 'T'
// day + milliseconds, 'Y' currency, 'I' 'P' 'Q' 'R' integers, '1' 64-bit
// integer, '2' '3' 6-byte and '4' 16-byte part values.
//
// All evaluations of the process are serialised by one re-entrant lock: the
// evaluation state is process-wide, and a calc evaluated inside an
// evaluation takes the lock again on the same thread.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

struct E4STATE;  // evaluation state (expression layer)
struct EXPR4CALC;
using E4FUNC = void (*)(E4STATE* state);

// One row of the function table.
struct E4FUNCTIONS {
  E4FUNC function;
  const char* name;  // null for a continuation row
  int16_t code;      // rows of one code are the typed variants of one operator
  uint8_t nameLen;
  int8_t priority;  // operators only
  char type;        // result type
  int8_t numParms;  // -1: two or more
  char types[3];    // parameter types (the first for every argument of a -1 row)
};
// 161 rows and an end row of code -1.
extern const E4FUNCTIONS v4functions[];
constexpr int E4LAST_ROW = 160;

// One entry of a compiled expression.
struct E4INFO {
  int16_t fieldNo;  // 1-based, or 0
  FIELD4* field;
  int32_t localData;  // the field belongs to the expression's own handle
  void* datum;        // per routine: record pointer's address, calc, data file, or a flag
  int32_t len;
  int32_t numEntries;  // this entry and all entries of its arguments
  int32_t numParms;
  int32_t resultPos;  // offset of the result in the work buffer
  int32_t i1;         // per routine: offsets, decimals, lengths
  int32_t i2;         // false-branch length of IIF
  int32_t functionI;  // row of the function table
  E4FUNC function;
};

struct EXPR4 {
  E4INFO* info;
  int32_t infoN;
  const char* source;
  char* constants;
  int32_t len;
  int32_t type;
  TFILE4* tagPtr;  // owning tag of a key or filter expression, or null
  DATA4* data;
  DATA4FILE* dataFile;
  CODE4* codeBase;
  int32_t bufLen;   // largest end of any result place, plus 1
  uint8_t hasTrim;  // TRIM, LTRIM or ALLTRIM: keys turn trailing zero bytes into blanks
  char* exprWorkBuf;
  unsigned exprBufLen;
};

// A named expression that other expressions call like a function.
struct EXPR4CALC {
  LINK4 link;
  EXPR4* expr;
  void* total;  // no totals are made here; always null
  char name[20];
  int32_t curResultPos;
};

// Compiles text against data; null on failure (reported unless the context's
// exprError switch is 0). tag: the owning tag of a key or filter expression.
EXPR4* expr4parse(DATA4* data, const char* text, TFILE4* tag = nullptr);
void expr4free(EXPR4* expr);

// The result length and a pointer to the result; -1 on failure.
int expr4vary(EXPR4* expr, char** result);
// Runs only the sub-expression ending at entry lastEntry: the context's error code.
int expr4execute(EXPR4* expr, int lastEntry, void** result);
// 1 or 0; -1 after a failed evaluation; -950 (reported) for a result that is
// not logical.
int expr4true(EXPR4* expr);
double expr4double(EXPR4* expr);
// The index key of the current record in the context's stored-key buffer
// (followed by a zero byte); its length, or -1. tag: null or the tag whose
// collation and flags apply.
int expr4key(EXPR4* expr, char** key, TFILE4* tag);
int expr4keyLen(EXPR4* expr);
// Rebinds the expression's own fields to another handle of the same data file.
int expr4context(EXPR4* expr, DATA4* data);
// mode 0: whether the expression reads a field that can hold null; mode 1:
// whether such a field is null in the current record.
int expr4nullLow(EXPR4* expr, int16_t mode);
const char* expr4source(EXPR4* expr);
// 8 for D N T Y n; 4 for I P Q R; 1 for L; -2 for the text types.
int expr4typeLen(int type);

// The first row from first to last whose name matches text (length -1: any
// name length; otherwise exactly nameLen characters), ignoring case; -1.
int e4lookup(const char* text, int nameLen, int first, int last);

// Calcs: a calc named `name` (at most 19 characters, upper-cased) that owns
// expr. Null and nothing taken on failure.
EXPR4CALC* expr4calcCreate(CODE4* c4, EXPR4* expr, const char* name);
// The calc of that name, its expression compiled again against data (or its
// own handle when null); null when there is none or the compile fails.
EXPR4CALC* expr4calcLookup(CODE4* c4, DATA4* data, const char* name, unsigned nameLen);
void expr4calcDelete(CODE4* c4, EXPR4CALC* calc);
int expr4calcReset(CODE4* c4);
// Frees what the expression layer keeps on the context (calcs, stored-key buffer).
void expr4initUndo(CODE4* c4);

// Location codes.
enum : long {
  E4_TYPE_UNKNOWN = 80017,  // "unknown field type"
  E4_EXPECT_LOGICAL = 80021,
  E4_FUNCTION = 80022,
  E4_EXPR_DATA_FILE = 80024,  // "expression data context does not share the same datafile"
  E4_TAG_ALIAS = 80025,
  E4_E4MASSAGE = 90089,
  E4_EXPR4PARSE = 90092,
  E4_E4GET_OPERATOR = 90093,
  E4_EXPR4PARSE_FUNCTION = 90097,
  E4_EXPR4PARSE_VALUE = 90098,
  E4_S4STACK = 90099,
  E4_EXPR4EXECUTE = 90100,
  E4_EXPR4KEY = 90101,
  E4_EXPR4VARY = 90104,
  E4_EXPR4CONTEXT = 90106,
  E4_EXPR4CALC_CREATE = 90108,
  E4_EXPR4CALC_RESET = 90109,
};
