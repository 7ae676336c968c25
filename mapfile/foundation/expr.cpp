// The expression parser and compiler: recursive descent over the token
// stream into postfix byte code (ExprCode), and the evaluator of constant
// code.
//
// ExprCode is one heap block: the code bytes ending with opcode 0, then the
// constants; operand offsets count from the block's start. Opcode 241 is
// {241, class, u16 offset}; the references 225, 240, 242 and 243 are
// {opcode, byte, u32, pointer, i16 index}, so their size follows the
// pointer's (16 bytes with 8-byte pointers).
#include <cstring>
#include <memory>
#include <string>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/expr.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/records.h"
#include "mapfile/foundation/settings.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "mapfile/foundation/value.h"

namespace layerio {

namespace {

constexpr size_t kCodeSize = 500;
constexpr size_t kConstSize = 2200;
constexpr size_t kMinBlock = 10;
constexpr int kMaxListOperands = 254;
constexpr int kEvalStackSize = 128;
// Parentheses, lists, unary operators and "not" nest by recursion (about
// three levels for each pair of parentheses); deeper text is refused (as too
// large for the code) before it can exhaust the machine's stack.
constexpr int kMaxNesting = 300;
constexpr size_t kRefSize = 1 + 1 + 4 + sizeof(void*) + 2;

constexpr uint8_t kOpEnd = 0;
constexpr uint8_t kOpAny = 27;
constexpr uint8_t kOpAll = 28;
constexpr uint8_t kOpNegate = 16;
constexpr uint8_t kOpConstant = 241;
constexpr uint8_t kOpVariable = 240;
constexpr uint8_t kOpPad = 255;

constexpr uint8_t kClassDouble = 2;
constexpr uint8_t kClassText = 10;
constexpr uint8_t kClassName = 24;
constexpr uint8_t kClassNamePlain = 22;
constexpr uint8_t kClassColumn = 26;
constexpr uint8_t kClassFour = 31;

constexpr int16_t kErrNotNumeric = 306;  // pushed by ValueNegate
constexpr int16_t kErrListTooLong = 575;
constexpr int16_t kErrNameInColumnNumber = 676;
constexpr int16_t kErrColumnNumberNotConstant = 677;
constexpr int16_t kErrCodeFull = 965;
constexpr int16_t kErrEvalTooDeep = 966;

constexpr int kKwPlus = 12, kKwMinus = 13, kKwTimes = 14, kKwDivide = 15, kKwIntDivide = 10;
constexpr int kKwConcat = 37, kKwPower = 30, kKwPoint = 1037;
constexpr int kOpContainsEntire = 34, kOpEntirelyWithin = 35;

struct Compile {
  uint8_t code[kCodeSize];  // the level byte, then the code from byte 1
  uint8_t constants[kConstSize];
  uint16_t codeLength;
  uint16_t constLength;
  bool full;
};

Compile* gCompile = nullptr;
Compile gOutermost;
int gNesting = 0;

// One level of nesting for as long as it lives; false (error 965 pushed)
// when the text nests too deep. Unwinding a trapped error leaves the count
// right.
class Nest {
 public:
  Nest() : ok_(++gNesting <= kMaxNesting) {
    if (!ok_) ErrorPush(kErrorSeverity, kErrCodeFull, nullptr, nullptr);
  }
  ~Nest() { --gNesting; }
  Nest(const Nest&) = delete;
  Nest& operator=(const Nest&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

void RaiseLevel(uint8_t level) {
  if (gCompile && gCompile->code[0] < level) gCompile->code[0] = level;
}

void PutU16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
uint16_t GetU16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
uint32_t GetU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// ----- the grammar -----

bool ParseOr();
bool ParseAdditive();

bool Binary(bool (*operand)(), std::initializer_list<int> ops) {
  if (!operand()) return false;
  for (;;) {
    int found = 0;
    for (int op : ops) {
      if (TokIs(op)) found = op;
    }
    if (!found) return true;
    TokNext();
    if (!operand()) return false;
    ExprEmitByte(uint8_t(found));
  }
}

bool ParseUnary();

bool ParsePrimary() {
  const Value* t = TokCurrent();
  if (TokIs(kTokNumber)) {
    double d = 0;
    ValueToDouble(t, &d, 0);
    ExprEmitConstant(kClassDouble, &d);
    TokNext();
    return true;
  }
  if (t && (t->kind == kValueText || t->kind == kValueBorrowedText)) {
    std::string text = static_cast<const char*>(t->u.p);
    ExprEmitConstant(kClassText, text.c_str());
    TokNext();
    return true;
  }
  if (TokIs(kKwOpen)) {
    Nest nest;
    if (!nest.ok()) return false;
    TokNext();
    return ParseOr() && TokExpect(kKwClose);
  }
  if (!TokIs(kTokIdentifier)) {
    TokError(kTokIdentifier);
    return false;
  }
  std::string name = TokCurrentText();
  int16_t index = 0;
  if (ExprFindVariable(name.c_str(), &index) == kOpVariable) {
    TokNext();
    // the session's variables are reached through the statement code
    ExprEmitReference(kOpVariable, nullptr, index);
    return true;
  }
  TokNext();
  if (TokIs(kKwPoint)) {
    TokNext();
    if (!TokIs(kTokIdentifier)) {
      TokError(kTokIdentifier);
      return false;
    }
    std::string second = TokCurrentText();
    TokNext();
    if (StrEqualNoCase(second.c_str(), "col") && TokIs(kKwOpen)) {
      TokNext();
      uint8_t* code = nullptr;
      uint8_t level = 0;
      if (!ExprParse(&code, &level)) return false;
      if (ParseMode() == 1) return TokExpect(kKwClose);
      if (level >= 3) {
        MemFreePtr(&code);
        ErrorPush(kErrorSeverity, kErrNameInColumnNumber, nullptr, nullptr);
        return false;
      }
      Value v{};
      int32_t n = 0;
      bool ok = code && ExprEvaluate(code, &v) &&
                (v.kind == kValueFloat || v.kind == kValueDecimal || v.kind == kValueInteger ||
                 v.kind == kValueSmallInt) &&
                ValueToLong(&v, &n, 0);
      ValueFree(&v);
      MemFreePtr(&code);
      if (!ok) {
        ErrorPush(kErrorSeverity, kErrColumnNumberNotConstant, nullptr, nullptr);
        return false;
      }
      if (!TokExpect(kKwClose)) return false;
      name += ".COL" + std::to_string(n);
    } else {
      name += "." + second;
    }
  }
  ExprEmitConstant(kClassName, name.c_str());
  return true;
}

bool ParsePower() {
  if (!ParsePrimary()) return false;
  while (TokIs(kKwPower)) {
    TokNext();
    if (!ParseUnary()) return false;
    ExprEmitByte(kKwPower);
  }
  return true;
}

bool ParseUnary() {
  Nest nest;
  if (!nest.ok()) return false;
  if (TokIs(kKwPlus)) {
    TokNext();
    return ParseUnary();
  }
  if (TokIs(kKwMinus)) {
    TokNext();
    if (!ParseUnary()) return false;
    ExprEmitByte(kOpNegate);
    return true;
  }
  return ParsePower();
}

bool ParseMultiplicative() { return Binary(ParseUnary, {kKwTimes, kKwDivide, kKwIntDivide, kKwMod}); }
bool ParseAdditiveImpl() { return Binary(ParseMultiplicative, {kKwPlus, kKwMinus, kKwConcat}); }
bool ParseAdditive() { return ParseAdditiveImpl(); }

// "(" operands ")" then the opcode, the count and the operator.
bool ParseList(uint8_t opcode, uint8_t op) {
  Nest nest;
  if (!nest.ok()) return false;
  if (!TokExpect(kKwOpen)) return false;
  int count = 0;
  for (;;) {
    if (++count > kMaxListOperands) {
      ErrorPush(kErrorSeverity, kErrListTooLong, nullptr, nullptr);
      return false;
    }
    if (!ParseOr()) return false;
    if (!TokIs(kKwComma)) break;
    TokNext();
  }
  if (!TokExpect(kKwClose)) return false;
  uint8_t tail[3] = {opcode, uint8_t(count), op};
  ExprAppend(0, tail, sizeof tail);
  RaiseLevel(2);
  return true;
}

bool ParseLike(bool negated) {
  if (!ParseAdditive()) return false;
  if (TokIs(kKwEscape)) {
    TokNext();
    if (!ParseAdditive()) return false;
  } else {
    ExprEmitConstant(kClassText, "");
  }
  ExprEmitByte(kKwLike);
  if (negated) ExprEmitByte(kKwNot);
  return true;
}

bool ParseComparison() {
  if (!ParseAdditive()) return false;
  static const int entire = TokKeywordId("entire");
  static const int part = TokKeywordId("part");
  for (;;) {
    int op = 0;
    for (int c : {20, 21, 22, 23, 24, 25, int(kKwWithin), int(kKwIntersects), int(kKwContains)}) {
      if (TokIs(c)) op = c;
    }
    if (op) {
      TokNext();
      if (op == kKwContains) {
        if (TokIs(entire)) {
          TokNext();
          op = kOpContainsEntire;
        } else if (TokIs(part)) {
          TokNext();
          op = kKwIntersects;
        }
      }
    } else if (TokIs(kKwEntirely) || TokIs(kKwPartly)) {
      op = TokIs(kKwEntirely) ? kOpEntirelyWithin : kKwIntersects;
      TokNext();
      if (!TokExpect(kKwWithin)) return false;
    }
    if (op) {
      if (TokIs(kKwAny) || TokIs(kKwAll)) {
        uint8_t opcode = TokIs(kKwAny) ? kOpAny : kOpAll;
        TokNext();
        if (!ParseList(opcode, uint8_t(op))) return false;
      } else {
        if (!ParseAdditive()) return false;
        ExprEmitByte(uint8_t(op));
      }
      continue;
    }
    if (TokIs(kKwIn)) {
      TokNext();
      if (!ParseList(kOpAny, 20)) return false;
      continue;
    }
    if (TokIs(kKwBetween)) {
      TokNext();
      if (!ParseAdditive() || !TokExpect(kKwAnd) || !ParseAdditive()) return false;
      ExprEmitByte(kKwBetween);
      continue;
    }
    if (TokIs(kKwLike)) {
      TokNext();
      if (!ParseLike(false)) return false;
      continue;
    }
    if (TokIs(kKwNot)) {
      TokNext();
      if (TokIs(kKwIn)) {
        TokNext();
        if (!ParseList(kOpAll, 21)) return false;
      } else if (TokIs(kKwLike)) {
        TokNext();
        if (!ParseLike(true)) return false;
      } else {
        TokError(kKwIn);
        return false;
      }
      continue;
    }
    return true;
  }
}

bool ParseNot() {
  Nest nest;
  if (!nest.ok()) return false;
  if (TokIs(kKwNot)) {
    TokNext();
    if (!ParseNot()) return false;
    ExprEmitByte(kKwNot);
    return true;
  }
  return ParseComparison();
}

bool ParseAnd() { return Binary(ParseNot, {kKwAnd}); }
bool ParseOr() { return Binary(ParseAnd, {kKwOr}); }

}  // namespace

// ----- emitting -----

void ExprAppend(int toConstants, const void* bytes, size_t count) {
  Compile* c = gCompile;
  if (!c || ParseMode() == 1 || c->full) return;
  uint16_t& length = toConstants ? c->constLength : c->codeLength;
  size_t limit = toConstants ? kConstSize : kCodeSize;
  if (length + count > limit) {
    c->full = true;
    ErrorPush(kErrorSeverity, kErrCodeFull, nullptr, nullptr);
    return;
  }
  std::memcpy((toConstants ? c->constants : c->code) + length, bytes, count);
  length = uint16_t(length + count);
}

void ExprEmitByte(uint8_t byte) {
  if (ParseMode() == 1) return;
  ExprAppend(0, &byte, 1);
  if (byte) RaiseLevel(2);
}

void ExprEmitConstant(uint8_t cls, const void* data) {
  if (ParseMode() == 1 || !gCompile) return;
  if (!data) {
    ExprEmitByte(cls);
    return;
  }
  size_t size = 0;
  switch (cls) {
    case kClassDouble:
      size = 8;
      break;
    case kClassText:
    case kClassNamePlain:
      size = std::strlen(static_cast<const char*>(data)) + 1;
      break;
    case kClassName:
      size = std::strlen(static_cast<const char*>(data)) + 1;
      if (size < 5) size = 5;
      break;
    case kClassColumn:
      size = 5;
      break;
    case kClassFour:
      size = 4;
      break;
    default:
      break;
  }
  uint8_t op[4] = {kOpConstant, cls, 0, 0};
  PutU16(op + 2, gCompile->constLength);
  ExprAppend(0, op, sizeof op);
  if (size) {
    uint8_t buffer[kConstSize] = {};
    size_t n = cls == kClassName ? std::strlen(static_cast<const char*>(data)) + 1 : size;
    if (n > sizeof buffer) n = sizeof buffer;
    std::memcpy(buffer, data, n);
    ExprAppend(1, buffer, size < sizeof buffer ? size : sizeof buffer);
  }
  RaiseLevel(2);
  if (cls == kClassName) RaiseLevel(5);
  if (cls == kClassFour) RaiseLevel(6);
}

void ExprEmitReference(uint8_t opcode, Value* array, int16_t index) {
  if (ParseMode() == 1) return;
  if (array && array[index].kind == kValueIdentifier) {
    ExprEmitConstant(kClassName, array[index].u.p);
    return;
  }
  uint8_t op[kRefSize] = {};
  op[0] = opcode;
  std::memcpy(op + 6, &array, sizeof(void*));
  std::memcpy(op + 6 + sizeof(void*), &index, 2);
  ExprAppend(0, op, sizeof op);
  RaiseLevel(3);
}

int ExprFindVariable(const char*, int16_t* index) {
  // The session record carries no variable table yet: no name is a variable.
  *index = 0;
  return 0;
}

// ----- parsing -----

int16_t ExprParse(uint8_t** code, uint8_t* level) {
  *code = nullptr;
  if (level) *level = 0;
  if (ParseMode() == 1) return 1;
  uint16_t before = ErrorCount();
  // The compile state in use goes back, and a nested one is freed, also
  // when a trapped fatal error unwinds through here.
  struct Scope {
    Compile* outer = gCompile;
    std::unique_ptr<Compile> nested;
    ~Scope() { gCompile = outer; }
  } scope;
  if (scope.outer) scope.nested = std::make_unique<Compile>();
  Compile* c = scope.nested ? scope.nested.get() : &gOutermost;
  c->code[0] = 0;
  c->codeLength = 1;
  c->constLength = 0;
  c->full = false;
  gCompile = c;
  bool ok = ParseMode() != 0 || ParseOr();
  int16_t result = 0;
  if (ok && ErrorCount() == before) {
    ExprEmitByte(kOpEnd);
    if (!c->full) {
      size_t codeBytes = size_t(c->codeLength - 1);
      size_t total = codeBytes + c->constLength;
      void* block = nullptr;
      MemHandle h = nullptr;
      if (MemAllocZero(total < kMinBlock ? kMinBlock : total, &h, &block)) {
        auto* out = static_cast<uint8_t*>(block);
        std::memcpy(out, c->code + 1, codeBytes);
        std::memcpy(out + codeBytes, c->constants, c->constLength);
        // offsets counted from the block's start
        for (const uint8_t* p = out;;) {
          const uint8_t* at = p;
          uint8_t cls = 0;
          uint16_t offset = 0;
          int op = ExprNextOp(&p, &cls, &offset);
          if (op == kOpEnd) break;
          if (op == 229 || op == 232) PutU16(const_cast<uint8_t*>(at) + 1, uint16_t(offset + codeBytes));
          if (op == kOpConstant) PutU16(const_cast<uint8_t*>(at) + 2, uint16_t(offset + codeBytes));
        }
        *code = out;
        if (level) *level = c->code[0];
        result = 1;
      }
    }
  }
  return result;
}

int16_t ExprParseEvaluate(Value* result, int) {
  std::memset(result, 0, sizeof *result);
  uint8_t* code = nullptr;
  uint8_t level = 0;
  if (!ExprParse(&code, &level)) return 0;
  int16_t ok = 1;
  if (ParseMode() != 1 && code) ok = ExprEvaluate(code, result);
  MemFreePtr(&code);
  return ok;
}

// ----- reading code -----

int ExprNextOp(const uint8_t** position, uint8_t* cls, uint16_t* offset) {
  const uint8_t* p = *position;
  while (*p == kOpPad) ++p;
  uint8_t op = *p;
  *cls = 0;
  *offset = 0;
  switch (op) {
    case kOpAny:
    case kOpAll:
      *cls = p[1];
      p += 3;
      break;
    case 229:
    case 232:
    case 245:
      *offset = GetU16(p + 1);
      *cls = p[3];
      p += 4;
      break;
    case 225:
    case kOpVariable:
    case 242:
    case 243:
      *cls = p[1];
      p += kRefSize;
      break;
    case kOpConstant:
      *cls = p[1];
      *offset = GetU16(p + 2);
      p += 4;
      break;
    case kOpEnd:
      break;
    default:
      p += 1;
      break;
  }
  *position = p;
  return op;
}

int16_t ExprIsColumnRef(const uint8_t* code, uint32_t* column, uint8_t* extra) {
  if (!code) return 0;
  const uint8_t* p = code;
  uint8_t cls = 0, dummy = 0;
  uint16_t offset = 0, dummyOffset = 0;
  if (ExprNextOp(&p, &cls, &offset) != kOpConstant || (cls != kClassName && cls != kClassColumn)) {
    return 0;
  }
  if (ExprNextOp(&p, &dummy, &dummyOffset) != kOpEnd) return 0;
  if (column) *column = GetU32(code + offset);
  if (extra) *extra = code[offset + 4];
  return 1;
}

int16_t ExprUsesColumn(const uint8_t* code, uint32_t column) {
  if (!code) return 0;
  const uint8_t* p = code;
  for (;;) {
    uint8_t cls = 0;
    uint16_t offset = 0;
    int op = ExprNextOp(&p, &cls, &offset);
    if (op == kOpEnd) return 0;
    if (op == kOpConstant && cls == kClassColumn && GetU32(code + offset) == column) return 1;
  }
}

int16_t ExprEqual(const uint8_t* a, const uint8_t* b) {
  if (!a || !b) return 1;
  void* pa = const_cast<uint8_t*>(a);
  void* pb = const_cast<uint8_t*>(b);
  size_t sa = MemSize(&pa), sb = MemSize(&pb);
  return std::memcmp(a, b, sa < sb ? sa : sb) == 0 ? 1 : 0;
}

// ----- evaluating -----

int16_t ExprEvaluate(const uint8_t* code, Value* result) {
  // Each evaluation has its own stack, so a nested one leaves the outer intact.
  Value stack[kEvalStackSize];
  std::memset(stack, 0, sizeof stack);
  stack[0].kind = kValueLogical;
  stack[0].u.b = 1;
  int sp = 0;
  bool ok = code != nullptr;
  for (const uint8_t* p = code; ok;) {
    uint8_t cls = 0;
    uint16_t offset = 0;
    int op = ExprNextOp(&p, &cls, &offset);
    if (op == kOpEnd) break;
    if (op == kOpConstant) {
      if (sp >= kEvalStackSize) {
        ErrorPush(kErrorSeverity, kErrEvalTooDeep, nullptr, nullptr);
        ok = false;
        break;
      }
      Value& v = stack[sp];
      std::memset(&v, 0, sizeof v);
      if (cls == kClassDouble) {
        v.kind = kValueFloat;
        std::memcpy(&v.u.d, code + offset, 8);
      } else if (cls == kClassText || cls == kClassName) {
        ValueSet(&v, kValueText, reinterpret_cast<const char*>(code + offset));
        if (cls == kClassName) v.kind = kValueIdentifier;
      }
      ++sp;
    } else if (op == kOpNegate && sp > 0) {
      Value operand = stack[sp - 1];
      ok = ValueNegate(&stack[sp - 1], &operand) != 0;
      ValueFree(&operand);
    } else {
      ok = false;
    }
  }
  if (!ok) {
    for (int i = 0; i < sp; ++i) ValueFree(&stack[i]);
    std::memset(result, 0, sizeof *result);
    result->kind = kValueLogical;
    return 0;
  }
  for (int i = 1; i < sp; ++i) ValueFree(&stack[i]);
  *result = stack[0];
  return 1;
}

}  // namespace layerio
