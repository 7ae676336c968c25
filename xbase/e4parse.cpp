// Compiling an expression: the operator-precedence parser makes the entries
// in postfix order, e4massage resolves their types, picks the typed row of
// every operator and function, and lays out the work buffer; expr4parse
// packs everything into one block.
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/env.h"
#include "xbase/conv4.h"
#include "xbase/d4all.h"
#include "xbase/e4state.h"

namespace {

constexpr int kOperatorStack = 32;  // pending operators and markers
constexpr int kLeftBracket = -5;    // "(" or the start of an argument list
constexpr int kOneMore = -6;        // one more operand for the operator above
constexpr int kStackEmpty = -3;
constexpr int kEnd = -2;
constexpr int kMaxFieldName = 10;
constexpr int kMaxCalcName = 19;
constexpr int kMaxAlias = 32;
constexpr int64_t kMaxBuffer = 0x3FFFFFFF;

struct Parse {
  CODE4* c4;
  DATA4* data;
  TFILE4* tag;
  std::string text;
  size_t pos = 0;
  std::vector<E4INFO> entries;
  std::vector<char> constants;
  int ops[kOperatorStack];
  int nOps = 0;
  // what e4massage finds
  int32_t bufLen = 0;
  uint8_t hasTrim = 0;
  int32_t len = 0;
  int32_t type = 0;

  char Peek(size_t ahead = 0) const { return pos + ahead < text.size() ? text[pos + ahead] : 0; }
};

// ---- errors ----

// Reports a parser error unless the expression-error switch is off; the code.
int Fail(Parse& p, int code, long location, const char* first = nullptr) {
  if (p.c4->exprError) {
    if (first != nullptr) {
      error4describe(p.c4, code, location, first, p.text.c_str(), nullptr);
    } else {
      error4describe(p.c4, code, location, p.text.c_str(), nullptr, nullptr);
    }
  }
  return code;
}

// ---- scanning ----

bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32; }
void SkipControl(Parse& p) {
  while (IsControlOrBlank(p.Peek())) p.pos++;
}
void SkipBlanks(Parse& p) {
  while (p.Peek() == ' ') p.pos++;
}
bool IsIdentifier(char c) { return platform::AsciiIsAlpha(c) || platform::AsciiIsDigit(c) || c == '_'; }
bool StartsWithWord(const Parse& p, const char* word) {
  for (size_t i = 0; word[i] != 0; i++) {
    if (platform::AsciiUpper(p.Peek(i)) != word[i]) return false;
  }
  return true;
}
size_t ReadIdentifier(Parse& p) {
  size_t start = p.pos;
  while (IsIdentifier(p.Peek())) p.pos++;
  return p.pos - start;
}

// ---- the operator stack and entries ----

int Top(const Parse& p) { return p.nOps > 0 ? p.ops[p.nOps - 1] : kStackEmpty; }
int Push(Parse& p, int value) {
  if (p.nOps >= kOperatorStack) return Fail(p, e4memory, E4_S4STACK);
  p.ops[p.nOps++] = value;
  return 0;
}
int Pop(Parse& p) { return p.nOps > 0 ? p.ops[--p.nOps] : kStackEmpty; }

int AddEntry(Parse& p, const E4INFO& entry) {
  try {
    p.entries.push_back(entry);
  } catch (const std::bad_alloc&) {
    return Fail(p, e4memory, E4_S4STACK);
  }
  return 0;
}

E4INFO Entry(int row, int32_t len = 0, int32_t i1 = 0, int32_t numParms = 0) {
  E4INFO e{};
  e.functionI = row;
  e.len = len;
  e.i1 = i1;
  e.numParms = numParms;
  return e;
}

// Appends bytes to the constants; their offset, or -1.
int32_t AddConstant(Parse& p, const void* bytes, size_t n) {
  size_t at = p.constants.size();
  if (at + n > size_t(kMaxBuffer)) return -1;
  try {
    p.constants.insert(p.constants.end(), static_cast<const char*>(bytes), static_cast<const char*>(bytes) + n);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return int32_t(at);
}

// Emits the operator on top of the stack with every "one more" marker below it.
int Emit(Parse& p) {
  int row = Pop(p);
  int parms = v4functions[row].numParms < 0 ? 2 : v4functions[row].numParms;
  while (Top(p) == kOneMore) {
    Pop(p);
    parms++;
  }
  return AddEntry(p, Entry(row, 0, 0, parms));
}

int ParseExpr(Parse& p);
int ParseValue(Parse& p);

int GetOperator(Parse& p) {
  SkipControl(p);
  char c = p.Peek();
  if (c == 0 || c == ')' || c == ',') return kEnd;
  int row = e4lookup(p.text.c_str() + p.pos, -1, E4ROW_FIRST_OPERATOR, E4ROW_LAST_OPERATOR);
  if (row < 0) return Fail(p, e4unrecOperator, E4_E4GET_OPERATOR);
  p.pos += v4functions[row].nameLen;
  return row;
}

int ParseExpr(Parse& p) {
  if (int rc = ParseValue(p); rc < 0) return rc;
  for (;;) {
    int op = GetOperator(p);
    if (op < kEnd) return op;
    if (op == kEnd) {
      while (Top(p) >= 0) {
        if (int rc = Emit(p); rc < 0) return rc;
      }
      return 0;
    }
    while (Top(p) >= 0 && v4functions[Top(p)].priority >= v4functions[op].priority) {
      if (Top(p) == op && v4functions[op].numParms < 0) {
        Pop(p);
        if (int rc = Push(p, kOneMore); rc < 0) return rc;
        break;
      }
      if (int rc = Emit(p); rc < 0) return rc;
    }
    if (int rc = Push(p, op); rc < 0) return rc;
    if (int rc = ParseValue(p); rc < 0) return rc;
  }
}

// ---- values ----

int ParseString(Parse& p, char close) {
  size_t start = ++p.pos;
  size_t end = p.text.find(close, start);
  if (end == std::string::npos) return Fail(p, e4unterminated, E4_EXPR4PARSE_VALUE);
  int32_t at = AddConstant(p, p.text.data() + start, end - start);
  if (at < 0) return Fail(p, e4memory, E4_S4STACK);
  p.pos = end + 1;
  return AddEntry(p, Entry(E4ROW_STRING, int32_t(end - start), at));
}

// A number, or false when the text is no number (it goes on as an identifier).
bool ScanNumber(Parse& p, int* rc) {
  size_t start = p.pos;
  p.pos++;
  for (;;) {
    char c = p.Peek();
    if (platform::AsciiIsDigit(c)) {
      p.pos++;
    } else if (c == '.' && !StartsWithWord(p, ".AND.") && !StartsWithWord(p, ".OR.") &&
               !StartsWithWord(p, ".NOT.")) {
      p.pos++;
    } else {
      break;
    }
  }
  if (platform::AsciiIsAlpha(p.Peek())) {
    p.pos = start;
    return false;
  }
  double value = c4atod(p.text.data() + start, int(p.pos - start));
  int32_t at = AddConstant(p, &value, sizeof value);
  *rc = at < 0 ? Fail(p, e4memory, E4_S4STACK) : AddEntry(p, Entry(E4ROW_DOUBLE, 8, at));
  return true;
}

DATA4* FindAlias(CODE4* c4, const char* alias, size_t n) {
  if (n > size_t(kMaxAlias)) n = kMaxAlias;
  for (auto* data = static_cast<DATA4*>(l4first(&c4->dataList)); data;
       data = static_cast<DATA4*>(l4next(&c4->dataList, data))) {
    std::string_view own(data->alias, std::strlen(data->alias));
    if (own.size() > size_t(kMaxAlias)) own = own.substr(0, size_t(kMaxAlias));
    if (platform::AsciiEqualsIgnoreCase(own, std::string_view(alias, n))) return data;
  }
  return nullptr;
}

// The first row of a field type, and the width its value needs; -1 for a
// type that expressions do not read.
int FieldRow(const FIELD4* field, unsigned* minWidth) {
  *minWidth = 0;
  switch (field->type) {
    case 'C': return E4ROW_FIELD_STR;
    case 'W': return E4ROW_FIELD_WSTR;
    case 'O': *minWidth = 2; return E4ROW_FIELD_O;
    case 'L': *minWidth = 1; return E4ROW_FIELD_LOG;
    case 'D': *minWidth = 8; return E4ROW_FIELD_DATE_S;
    case 'F': case 'N': return E4ROW_FIELD_NUM_S;
    case 'Y': *minWidth = 8; return E4ROW_FIELD_CUR;
    case 'B': *minWidth = 8; return E4ROW_FIELD_DOUBLE;
    case 'I': *minWidth = 4; return E4ROW_FIELD_INT;
    case 'P': *minWidth = 4; return E4ROW_FIELD_UINT;
    case 'Q': *minWidth = 2; return E4ROW_FIELD_SHORT;
    case 'R': *minWidth = 2; return E4ROW_FIELD_USHORT;
    case 'T': *minWidth = 8; return E4ROW_FIELD_DATETIME;
    case '1': *minWidth = 8; return E4ROW_FIELD_I8;
    case '2': *minWidth = 6; return E4ROW_FIELD_DATE_PARTS;
    case '3': *minWidth = 6; return E4ROW_FIELD_TIME_PARTS;
    case '4': *minWidth = 16; return E4ROW_FIELD_DT_PARTS;
    case 'M': case 'G': return E4ROW_FIELD_MEMO;
    default: return -1;
  }
}

// The record pointer that entries reading the current record go through.
void* RecordPointer(Parse& p, DATA4* data) {
  return p.tag != nullptr ? static_cast<void*>(&data->dataFile->keyRecord) : static_cast<void*>(&data->record);
}

int ParseField(Parse& p, size_t start, size_t length) {
  DATA4* data = p.data;
  std::string name = p.text.substr(start, length);
  if (p.Peek() == '.') {
    if (DATA4* aliased = FindAlias(p.c4, name.data(), name.size())) {
      data = aliased;
      p.pos++;
      size_t at = p.pos;
      name = p.text.substr(at, ReadIdentifier(p));
    }
  } else if (p.Peek() == '-' && p.Peek(1) == '>') {
    data = FindAlias(p.c4, name.data(), name.size());
    if (data == nullptr) return Fail(p, e4dataName, E4_EXPR4PARSE_VALUE);
    p.pos += 2;
    size_t at = p.pos;
    name = p.text.substr(at, ReadIdentifier(p));
  }
  if (data != p.data && p.tag != nullptr) return Fail(p, e4tagExpr, E4_TAG_ALIAS);
  if (name.empty() || name.size() > size_t(kMaxFieldName)) return Fail(p, e4unrecValue, E4_EXPR4PARSE_VALUE);
  int savedSwitch = p.c4->fieldNameError;
  if (!p.c4->exprError) p.c4->fieldNameError = 0;
  int number = d4fieldNumber(data, name.c_str());
  p.c4->fieldNameError = savedSwitch;
  if (number <= 0) {
    if (p.c4->exprError && !p.c4->fieldNameError) return Fail(p, e4fieldName, E4_EXPR4PARSE_VALUE);
    return -1;
  }
  FIELD4* field = &data->fields[number - 1];
  unsigned minWidth;
  int row = FieldRow(field, &minWidth);
  // A field narrower than its type's value would be read past its end.
  if (row < 0 || field->len < minWidth) return Fail(p, e4typeSub, E4_TYPE_UNKNOWN);
  E4INFO e = Entry(row, field->len, int32_t(field->offset));
  e.fieldNo = int16_t(number);
  e.field = field;
  e.localData = data == p.data ? 1 : 0;
  e.datum = RecordPointer(p, data);
  return AddEntry(p, e);
}

// Takes the last argument, which must be a numeric constant; its value.
int TakeConstant(Parse& p, std::vector<size_t>* starts, int32_t* value) {
  size_t first = starts->back();
  if (p.entries.size() - first != 1 || p.entries.back().functionI != E4ROW_DOUBLE) {
    return Fail(p, e4notConstant, E4_EXPR4PARSE_FUNCTION);
  }
  double number;
  std::memcpy(&number, p.constants.data() + p.entries.back().i1, sizeof number);
  if (number > INT32_MAX) number = INT32_MAX;
  if (number < INT32_MIN) number = INT32_MIN;
  *value = int32_t(number);
  p.entries.pop_back();
  starts->pop_back();
  return 0;
}

int ParseFunction(Parse& p, size_t start, size_t length) {
  int row = e4lookup(p.text.c_str() + start, int(length), E4ROW_FIRST_FUNCTION, E4LAST_ROW);
  EXPR4CALC* calc = nullptr;
  if (row < 0) {
    calc = expr4calcLookup(p.c4, p.data, p.text.c_str() + start,
                           unsigned(length < size_t(kMaxCalcName) ? length : size_t(kMaxCalcName)));
    if (calc == nullptr) return Fail(p, e4unrecFunction, E4_EXPR4PARSE_FUNCTION);
    row = calc->total != nullptr ? E4ROW_TOTAL : E4ROW_CALC;
  }
  if (int rc = Push(p, kLeftBracket); rc < 0) return rc;
  p.pos++;  // "("
  std::vector<size_t> starts;
  for (;;) {
    SkipControl(p);
    if (p.Peek() == 0) return Fail(p, e4rightMissing, E4_EXPR4PARSE_FUNCTION);
    if (p.Peek() == ')') break;
    starts.push_back(p.entries.size());
    if (int rc = ParseExpr(p); rc < 0) return rc;
    SkipControl(p);
    if (p.Peek() == ')') break;
    if (p.Peek() != ',') return Fail(p, e4commaExpected, E4_EXPR4PARSE_FUNCTION);
    p.pos++;
  }
  p.pos++;  // ")"
  Pop(p);

  E4INFO e = Entry(row);
  e.datum = calc;
  int16_t code = v4functions[row].code;
  int rc = 0;
  auto count = [&starts] { return starts.size(); };
  switch (code) {
    case E4CODE_STR: {
      int32_t len = 10, dec = 0;
      if (count() == 3) rc = TakeConstant(p, &starts, &dec);
      if (rc == 0 && count() == 2) rc = TakeConstant(p, &starts, &len);
      if (len < 0) len = 10;
      if (dec >= len - 1) dec = len - 2;
      if (dec < 0) dec = 0;
      e.len = len;
      e.i1 = dec;
      if (rc == 0 && count() == 1 && p.entries.size() - starts[0] == 1 && p.entries.back().field != nullptr &&
          p.entries.back().field->type == 'W') {
        e.len = p.entries.back().field->len;
        e.functionI = E4ROW_STR_WIDE;
      }
      break;
    }
    case E4CODE_STRZERO:
      if (count() == 2) rc = TakeConstant(p, &starts, &e.len);
      if (e.len < 0) e.len = 0;
      break;
    case E4CODE_SUBSTR:
      if (count() == 3) {
        rc = TakeConstant(p, &starts, &e.len);
        if (rc == 0) rc = TakeConstant(p, &starts, &e.i1);
      } else if (count() == 2) {
        rc = TakeConstant(p, &starts, &e.i1);
        // To the end of the string, whatever its kind: e4massage knows its length.
        e.i2 = 1;
      }
      // Counted from 1; a start before the first character is the first.
      e.i1 = e.i1 > 0 ? e.i1 - 1 : 0;
      break;
    case E4CODE_LEFT:
    case E4CODE_PADL:
    case E4CODE_PADR:
    case E4CODE_RIGHT:
      if (count() == 2) rc = TakeConstant(p, &starts, &e.len);
      if (e.len < 0) e.len = 0;
      break;
    case E4CODE_DATETIME: {
      int32_t h = 0, mi = 0, sec = 0;
      if (count() == 6) rc = TakeConstant(p, &starts, &sec);
      if (rc == 0 && count() == 5) rc = TakeConstant(p, &starts, &mi);
      if (rc == 0 && count() == 4) rc = TakeConstant(p, &starts, &h);
      e.i1 = int32_t(int64_t(h) * 3600000 + int64_t(mi) * 60000 + int64_t(sec) * 1000);
      break;
    }
    default:
      break;
  }
  if (rc < 0) return rc;
  int parms = v4functions[e.functionI].numParms;
  if (parms >= 0 && size_t(parms) != count()) {
    if (code == E4CODE_DTOC && count() == 2) {
      // DTOC(date, 1) is DTOS(date): the second argument goes.
      p.entries.resize(starts.back());
      starts.pop_back();
      e.functionI = e4lookup("DTOS", 4, E4ROW_FIRST_FUNCTION, E4LAST_ROW);
    } else {
      const char* name = v4functions[row].name ? v4functions[row].name : "";
      return Fail(p, e4numParms, E4_FUNCTION, name);
    }
  }
  e.numParms = int32_t(count());
  return AddEntry(p, e);
}

int ParseValue(Parse& p) {
  SkipBlanks(p);
  char c = p.Peek();
  if (c == '(') {
    if (int rc = Push(p, kLeftBracket); rc < 0) return rc;
    p.pos++;
    if (int rc = ParseExpr(p); rc < 0) return rc;
    SkipControl(p);
    if (p.Peek() != ')') return Fail(p, e4rightMissing, E4_EXPR4PARSE_VALUE);
    p.pos++;
    Pop(p);
    return 0;
  }
  if (c == '"' || c == '\'') return ParseString(p, c);
  if (c == '[') return ParseString(p, ']');
  if (c == '!' || c == '.') {
    int row = e4lookup(p.text.c_str() + p.pos, -1, E4ROW_FIRST_LOGICAL_CONST, E4ROW_LAST_LOGICAL_CONST);
    if (row >= 0) {
      p.pos += v4functions[row].nameLen;
      if (v4functions[row].code != E4CODE_NOT) return AddEntry(p, Entry(row));
      // The negation waits on the operator stack while its operand is read,
      // so a run of negations is bounded by the stack, not by recursion.
      if (int rc = Push(p, row); rc < 0) return rc;
      return ParseValue(p);
    }
  }
  if (platform::AsciiIsDigit(c) || c == '-' || c == '+' || c == '.') {
    int rc = 0;
    if (ScanNumber(p, &rc)) return rc;
    c = p.Peek();
  }
  if (IsIdentifier(c)) {
    size_t start = p.pos;
    size_t length = ReadIdentifier(p);
    size_t end = p.pos;
    SkipBlanks(p);
    if (p.Peek() == '(') return ParseFunction(p, start, length);
    p.pos = end;
    return ParseField(p, start, length);
  }
  return Fail(p, e4unrecValue, E4_EXPR4PARSE_VALUE);
}

// ---- e4massage ----

struct Level {
  int type;
  int32_t len;
  int32_t pos;
  int32_t numEntries;
  size_t entry;
};

bool WritesIntoArgument(int row) {
  if (row == E4ROW_FIELD_MEMO || row == E4ROW_CONCAT || row == E4ROW_CONCAT_W || row == E4ROW_CONCAT_SUB) {
    return true;
  }
  switch (v4functions[row].code) {
    case E4CODE_SUBSTR: case E4CODE_UPPER: case E4CODE_TRIM: case E4CODE_LTRIM: case E4CODE_ALLTRIM:
    case E4CODE_LEFT: case E4CODE_RIGHT: case E4CODE_PADL: case E4CODE_PADR: case E4CODE_DESCEND:
    case E4CODE_ASCEND:
      return true;
    default:
      return false;
  }
}

// Row of the conversion that gives `expected` from `type`, or -1.
int Conversion(int type, int expected) {
  if (expected == 'd' && type == 'D') return E4ROW_FIELD_DATE_D;
  if (expected != 'n') return -1;
  switch (type) {
    case 'N': return E4ROW_FIELD_NUM_D;
    case 'I': return E4ROW_FIELD_INT_D;
    case 'Y': return E4ROW_FIELD_CUR_D;
    default: return -1;
  }
}

int32_t Clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

int32_t PushPicture(Parse& p) {
  const char* picture = p.c4->dateFormat;
  return AddConstant(p, picture, std::strlen(picture) + 1);
}

// The result length of a character entry (never negative), or a failure code.
int32_t CharacterLength(Parse& p, E4INFO& e, const Level* args) {
  int row = e.functionI;
  int16_t code = v4functions[row].code;
  int32_t argLen = e.numParms > 0 ? args[0].len : 0;
  switch (row) {
    case E4ROW_FIELD_STR:
    case E4ROW_FIELD_STR_COPY:
      return e.field->len;
    case E4ROW_FIELD_MEMO: {
      long memo = p.c4->memSizeMemoExpr;
      if (p.tag != nullptr) {
        long limit = e.field->null ? 239 : 240;
        if (memo > limit) memo = limit;
      }
      return memo < 0 ? 0 : (memo > kMaxBuffer ? int32_t(kMaxBuffer) : int32_t(memo));
    }
    case E4ROW_CONCAT:
    case E4ROW_CONCAT_TRIM:
    case E4ROW_CONCAT_SUB:
      e.i1 = args[0].len;
      return args[0].len + args[1].len;
    case E4ROW_CALC:
      return static_cast<EXPR4CALC*>(e.datum)->expr->len;
    default:
      break;
  }
  switch (code) {
    case E4CODE_CHR:
      return 1;
    case E4CODE_DEL:
      e.datum = RecordPointer(p, p.data);
      return 1;
    case E4CODE_SUBSTR:
    case E4CODE_LEFT: {
      e.i1 = Clamp(e.i1, 0, argLen);
      int32_t own = e.i2 == 1 ? argLen - e.i1 : e.len;
      e.i2 = 0;
      return Clamp(own, 0, argLen - e.i1);
    }
    case E4CODE_RIGHT:
      // The start counts from the string's own end, whatever its kind.
      e.i1 = Clamp(argLen - e.len, 0, argLen);
      return e.len < argLen ? e.len : argLen;
    case E4CODE_PADL:
    case E4CODE_PADR:
      e.i1 = e.len > argLen ? e.len - argLen : 0;
      return e.len;
    case E4CODE_TIME:
    case E4CODE_DTOS:
      return 8;
    case E4CODE_TRIM:
    case E4CODE_LTRIM:
    case E4CODE_ALLTRIM:
      p.hasTrim = 1;
      return argLen;
    case E4CODE_UPPER:
      return argLen;
    case E4CODE_DTOC:
      e.i1 = PushPicture(p);
      if (e.i1 < 0) return Fail(p, e4memory, E4_S4STACK);
      return int32_t(std::strlen(p.c4->dateFormat));
    case E4CODE_IIF:
      e.i1 = args[1].len;
      e.i2 = args[2].len;
      return e.i1 > e.i2 ? e.i1 : e.i2;
    case E4CODE_L2BIN:
      return 4;
    case E4CODE_DESCEND:
    case E4CODE_ASCEND:
      switch (args[0].type) {
        case '1': case 'T': case 'd': case 'n': return 8;
        case '2': case '3': return 6;
        case '4': return 16;
        case 'I': case 'P': case 'Q': case 'R': return 4;
        case 'L': return 1;
        default: return argLen;
      }
    default:
      return e.len;  // as the parser set it
  }
}

// The result length of an entry by its type, or a failure code.
int32_t ResultLength(Parse& p, E4INFO& e, int type, const Level* args) {
  int row = e.functionI;
  switch (type) {
    case 'D': case 'T': case 'Y': case '1': case 'n': case 'd':
      return 8;
    case '2': case '3':
      return 6;
    case '4':
      return 16;
    case 'I': case 'P': case 'Q': case 'R': case 'L':
      return 4;
    case 'N':
      return e.field->len;
    case 'W':
      if (row == E4ROW_FIELD_WSTR || row == E4ROW_FIELD_WSTR_COPY) return e.field->len;
      if (row == E4ROW_CONCAT_W) {
        e.i1 = args[0].len;
        return args[0].len + args[1].len;
      }
      return Fail(p, e4result, E4_E4MASSAGE);
    case 'O':
      if (row == E4ROW_FIELD_O) return e.field->len - 2;
      if (row == E4ROW_CONCAT_O) {
        e.i1 = args[0].len;
        return args[0].len + args[1].len;
      }
      return Fail(p, e4result, E4_E4MASSAGE);
    case 'C':
      return CharacterLength(p, e, args);
    default:
      return Fail(p, e4result, E4_E4MASSAGE);
  }
}

// Type-dependent fields of logical and number entries.
int SetUpResult(Parse& p, E4INFO& e, int type, const Level* args) {
  int row = e.functionI;
  int16_t code = v4functions[row].code;
  if (type == 'L') {
    bool logicalOnly = (row >= E4ROW_FIRST_LOGICAL_CONST && row <= E4ROW_FIRST_OPERATOR + 1) ||
                       row == E4ROW_FIELD_LOG || row == E4ROW_CALC;
    if (!logicalOnly && e.numParms >= 2) {
      e.i1 = args[0].len < args[1].len ? args[0].len : args[1].len;
      if (code == E4CODE_GT) e.datum = reinterpret_cast<void*>(intptr_t(args[0].len > args[1].len ? 1 : 0));
      if (code == E4CODE_LT) e.datum = reinterpret_cast<void*>(intptr_t(args[0].len < args[1].len ? 1 : 0));
    }
    if (code == E4CODE_DELETED) e.datum = RecordPointer(p, p.data);
  } else if (type == 'd' || type == 'n') {
    if (code == E4CODE_CTOD) {
      e.i1 = PushPicture(p);
      if (e.i1 < 0) return Fail(p, e4memory, E4_S4STACK);
    }
    if (code == E4CODE_RECCOUNT) e.datum = p.data->dataFile;
  }
  return 0;
}

int Massage(Parse& p) {
  Level stack[E4MAX_STACK];
  int depth = 0;
  int64_t levelStart[E4MAX_STACK + 1] = {0};
  int64_t bufLen = 0;
  bool afterTrim = false;  // a memo, trim or calc entry came earlier
  for (size_t i = 0; i < p.entries.size(); i++) {
    E4INFO& e = p.entries[i];
    const E4FUNCTIONS* row = &v4functions[e.functionI];
    int n = e.numParms;
    if (row->numParms > 0 && row->numParms != n) return Fail(p, e4numParms, E4_E4MASSAGE);
    if (n > depth) return Fail(p, e4result, E4_E4MASSAGE);
    Level* args = stack + depth - n;
    // The first row whose parameter types the arguments have, converting
    // dates and numbers read from fields on the way.
    for (;;) {
      bool match = true;
      for (int k = 0; k < n && match; k++) {
        int expected = row->numParms < 0 ? row->types[0] : row->types[k];
        if (args[k].type == expected) continue;
        int conversion = Conversion(args[k].type, expected);
        if (conversion < 0) {
          match = false;
          break;
        }
        E4INFO& converted = p.entries[args[k].entry];
        converted.functionI = conversion;
        converted.len = 8;
        args[k].type = expected;
        args[k].len = 8;
        if (args[k].pos + 8 > bufLen) bufLen = args[k].pos + 8;
      }
      if (match) break;
      if (row[1].code != row->code) return Fail(p, e4typeSub, E4_E4MASSAGE);
      e.functionI++;
      row++;
    }
    if (WritesIntoArgument(e.functionI)) {
      for (int k = 0; k < n; k++) {
        E4INFO& arg = p.entries[args[k].entry];
        if (arg.functionI == E4ROW_FIELD_STR) arg.functionI = E4ROW_FIELD_STR_COPY;
        if (arg.functionI == E4ROW_FIELD_WSTR) arg.functionI = E4ROW_FIELD_WSTR_COPY;
      }
    }
    if (e.functionI == E4ROW_CONCAT && afterTrim) e.functionI = E4ROW_CONCAT_TRIM;
    int type = e.functionI == E4ROW_CALC ? static_cast<EXPR4CALC*>(e.datum)->expr->type : row->type;
    int32_t len = ResultLength(p, e, type, args);
    if (len < 0) return len;
    if (SetUpResult(p, e, type, args) < 0) return -1;
    int32_t entries = 1;
    for (int k = 0; k < n; k++) entries += args[k].numEntries;
    depth -= n;
    if (depth >= E4MAX_STACK) return Fail(p, e4overflow, E4_E4MASSAGE);
    int64_t place = levelStart[depth];
    int64_t reserve = len;
    if ((type == 'N' || type == 'D' || type == 'I') && reserve < 8) reserve = 8;
    levelStart[depth + 1] = place + reserve;
    int64_t end = place + (e.functionI == E4ROW_CALC ? static_cast<EXPR4CALC*>(e.datum)->expr->bufLen : len);
    if (end < place + len) end = place + len;
    if (end > kMaxBuffer) return Fail(p, e4overflow, E4_E4MASSAGE);
    if (end > bufLen) bufLen = end;
    e.len = len;
    e.resultPos = int32_t(place);
    e.numEntries = entries;
    stack[depth++] = Level{type, len, int32_t(place), entries, i};
    int16_t code = v4functions[e.functionI].code;
    if (e.functionI == E4ROW_FIELD_MEMO || e.functionI == E4ROW_CALC || code == E4CODE_TRIM ||
        code == E4CODE_LTRIM || code == E4CODE_ALLTRIM) {
      afterTrim = true;
    }
  }
  if (depth != 1) return Fail(p, e4result, E4_E4MASSAGE);
  for (E4INFO& e : p.entries) e.function = v4functions[e.functionI].function;
  p.bufLen = int32_t(bufLen + 1);
  p.len = stack[0].len;
  p.type = stack[0].type;
  return 0;
}

size_t Aligned(size_t n) { return (n + 7) & ~size_t(7); }

}  // namespace

int e4lookup(const char* text, int nameLen, int first, int last) {
  char upper[9];
  int n = 0;
  while (n < 8 && text[n] != 0) {
    upper[n] = platform::AsciiUpper(text[n]);
    n++;
  }
  upper[n] = 0;
  for (int row = first; row <= last && v4functions[row].code != -1; row++) {
    const E4FUNCTIONS& f = v4functions[row];
    if (f.name == nullptr || f.name[0] != upper[0]) continue;
    if (nameLen != -1 && f.nameLen != nameLen) continue;
    if (std::strncmp(upper, f.name, f.nameLen) == 0) return row;
  }
  return -1;
}

EXPR4* expr4parse(DATA4* data, const char* text, TFILE4* tag) {
  if (data == nullptr) {
    error4(nullptr, e4parmNull, E4_EXPR4PARSE);
    return nullptr;
  }
  CODE4* c4 = data->codeBase;
  if (text == nullptr) {
    error4(c4, e4parmNull, E4_EXPR4PARSE);
    return nullptr;
  }
  if (c4->errorCode < 0) return nullptr;
  Parse p;
  p.c4 = c4;
  p.data = data;
  p.tag = tag;
  p.text = text;
  if (ParseExpr(p) < 0) return nullptr;
  if (p.nOps != 0) {
    Fail(p, e4complete, E4_EXPR4PARSE);
    return nullptr;
  }
  if (Massage(p) < 0) return nullptr;

  size_t infoBytes = p.entries.size() * sizeof(E4INFO);
  size_t size = Aligned(sizeof(EXPR4)) + infoBytes + Aligned(p.constants.size()) + p.text.size() + 1;
  auto* block = static_cast<char*>(u4allocEr(c4, long(size)));
  if (block == nullptr) return nullptr;
  auto* expr = reinterpret_cast<EXPR4*>(block);
  char* at = block + Aligned(sizeof(EXPR4));
  expr->info = reinterpret_cast<E4INFO*>(at);
  std::memcpy(expr->info, p.entries.data(), infoBytes);
  at += infoBytes;
  expr->constants = at;
  if (!p.constants.empty()) std::memcpy(at, p.constants.data(), p.constants.size());
  at += Aligned(p.constants.size());
  std::memcpy(at, p.text.c_str(), p.text.size() + 1);
  expr->source = at;
  expr->infoN = int32_t(p.entries.size());
  expr->len = p.len;
  expr->type = p.type;
  expr->tagPtr = tag;
  expr->data = data;
  expr->dataFile = data->dataFile;
  expr->codeBase = c4;
  expr->bufLen = p.bufLen;
  expr->hasTrim = p.hasTrim;
  expr->exprBufLen = unsigned(p.bufLen) + 1;
  expr->exprWorkBuf = static_cast<char*>(u4allocEr(c4, long(expr->exprBufLen)));
  if (expr->exprWorkBuf == nullptr) {
    u4free(block);
    return nullptr;
  }
  return expr;
}

void expr4free(EXPR4* expr) {
  if (expr == nullptr) return;
  u4free(expr->exprWorkBuf);
  u4free(expr);
}
