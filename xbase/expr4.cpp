// Evaluating compiled expressions: values, logicals, numbers and index keys.
#include "xbase/expr4.h"

#include <cstring>
#include <utility>

#include "xbase/collate4.h"
#include "xbase/conv4.h"
#include "xbase/d4all.h"
#include "xbase/e4state.h"
#include "xbase/key4.h"
#include "xbase/memo4.h"

namespace {

using Hold = std::lock_guard<std::recursive_mutex>;

// Binds a tag's expression to its own handle when no handle has set the
// record its keys are built from.
void Prepare(EXPR4* expr) {
  if (expr->tagPtr != nullptr && expr->dataFile->keyRecord == nullptr) expr4context(expr, expr->data);
}

// Runs entries first to last (inclusive); the pointer left for the last.
char* Run(EXPR4* expr, int first, int last) {
  E4STATE& state = expr4state();
  state.buffer = expr->exprWorkBuf;
  state.constants = expr->constants;
  state.expr = expr;
  state.top = 0;
  for (int i = first; i <= last; i++) {
    state.info = &expr->info[i];
    state.info->function(&state);
  }
  char* result = state.top > 0 ? state.stack[state.top - 1] : nullptr;
  state = E4STATE{};
  return result;
}

bool ReadsNullable(const EXPR4* expr) {
  for (int i = 0; i < expr->infoN; i++) {
    if (expr->info[i].field != nullptr && expr->info[i].field->null) return true;
  }
  return false;
}

// A tag's keys carry the null byte when its header says so (type flag
// 0x02, set at creation for nullable keys of tags that are no candidates);
// keys built without a tag carry it when a field read can hold a null.
bool NullMarker(const EXPR4* expr, const TFILE4* tag) {
  return tag != nullptr ? (tag->typeCode & 0x02) != 0 : ReadsNullable(expr);
}

bool IsText(int type) { return type == 'C' || type == 'W' || type == 'O'; }

// The collation whose table translates a tag's text keys, or null.
COLLATE4* TextCollation(const TFILE4* tag) {
  COLLATE4* collation = tag != nullptr ? collate4entry(tag->collateName) : nullptr;
  return collation != nullptr && collation->kind != 0 ? collation : nullptr;
}

int KeyLength(EXPR4* expr, const TFILE4* tag) {
  int length = expr4typeLen(expr->type);
  if (IsText(expr->type) && tag != nullptr) {
    COLLATE4* collation = collate4entry(tag->collateName);
    length = ((collation != nullptr ? collation->expansion : 0) + 1) * expr->len;
  } else if (length < 0) {
    length = expr->len;
  }
  return length + (NullMarker(expr, tag) ? 1 : 0);
}

bool GrowStoredKey(CODE4* c4, unsigned size) {
  if (c4->storedKeyLen >= size) return true;
  auto* bigger = static_cast<char*>(u4allocEr(c4, long(size)));
  if (bigger == nullptr) return false;
  u4free(c4->storedKey);
  c4->storedKey = bigger;
  c4->storedKeyLen = size;
  return true;
}

// The key of a text value; its length, or -1.
int TextKey(EXPR4* expr, TFILE4* tag, char* value, int length, unsigned char* key) {
  CODE4* c4 = expr->codeBase;
  bool wide = tag != nullptr && tag->keyWide;
  auto trimFill = [expr](char* text, int n) {
    if (!expr->hasTrim) return;
    for (int i = n - 1; i >= 0 && text[i] == 0; i--) text[i] = ' ';
  };
  if (COLLATE4* collation = TextCollation(tag)) {
    trimFill(value, length);
    if (collation->kind != 6) return -1;
    int keyLen = (collation->expansion + 1) * length;
    int rc = wide ? collate4keyWide(collation, key, keyLen, value, length)
                  : collate4key(collation, key, keyLen, value, length);
    if (rc < 0) {
      if (rc == e4memory) {
        error4(c4, e4memory, E4_EXPR4KEY);
      } else {
        error4(c4, e4notSupported, E4_COLLATION);
      }
      return -1;
    }
    return keyLen;
  }
  std::memcpy(key, value, size_t(length));
  if (wide) {
    for (int i = 0; i + 1 < length; i += 2) std::swap(key[i], key[i + 1]);
  }
  trimFill(reinterpret_cast<char*>(key), length);
  return length;
}

}  // namespace

std::recursive_mutex& expr4lock() {
  static auto* lock = new std::recursive_mutex;  // outlives static destructors
  return *lock;
}

E4STATE& expr4state() {
  static E4STATE state{};
  return state;
}

int e4entryType(const E4INFO* info) {
  if (info->functionI == E4ROW_CALC) return static_cast<const EXPR4CALC*>(info->datum)->expr->type;
  return v4functions[info->functionI].type;
}

const char* e4memoText(FIELD4* field, unsigned* length) {
  if (field->memo == nullptr) {
    *length = 0;
    return "";
  }
  // Reads the entry when the handle has not loaded it yet.
  *length = f4memoLen(field);
  const char* text = f4memoPtr(field);
  if (text == nullptr) {
    *length = 0;
    return "";
  }
  return text;
}

int expr4vary(EXPR4* expr, char** result) {
  if (expr == nullptr) {
    error4(nullptr, e4parmNull, E4_EXPR4VARY);
    return -1;
  }
  CODE4* c4 = expr->codeBase;
  if (result == nullptr) {
    error4(c4, e4parmNull, E4_EXPR4VARY);
    return -1;
  }
  if (c4->errorCode < 0) return -1;
  Hold hold(expr4lock());
  Prepare(expr);
  *result = Run(expr, 0, expr->infoN - 1);
  return expr->len;
}

int expr4execute(EXPR4* expr, int lastEntry, void** result) {
  if (expr == nullptr || result == nullptr) return error4(expr ? expr->codeBase : nullptr, e4parmNull, E4_EXPR4EXECUTE);
  CODE4* c4 = expr->codeBase;
  if (c4->errorCode < 0) return -1;
  if (lastEntry < 0 || lastEntry >= expr->infoN) return error4(c4, e4parm, E4_EXPR4EXECUTE);
  Hold hold(expr4lock());
  Prepare(expr);
  *result = Run(expr, lastEntry - expr->info[lastEntry].numEntries + 1, lastEntry);
  return c4->errorCode;
}

int expr4true(EXPR4* expr) {
  if (expr != nullptr && expr->type != 'L') {
    return error4describe(expr->codeBase, e4result, E4_EXPECT_LOGICAL, expr->source, nullptr, nullptr);
  }
  Hold hold(expr4lock());
  char* result = nullptr;
  if (expr4vary(expr, &result) < 0) return -1;
  int32_t value;
  std::memcpy(&value, result, sizeof value);
  return value != 0 ? 1 : 0;
}

double expr4double(EXPR4* expr) {
  Hold hold(expr4lock());
  char* result = nullptr;
  int length = expr4vary(expr, &result);
  if (length < 0) return 0.0;
  double value = 0.0;
  switch (expr->type) {
    case 'C':
    case 'N':
      return c4atod(result, length);
    case 'D':
      return double(date4long(result));
    case 'd':
    case 'n':
      std::memcpy(&value, result, sizeof value);
      return value;
    default:
      return 0.0;
  }
}

int expr4keyLen(EXPR4* expr) { return expr ? KeyLength(expr, expr->tagPtr) : -1; }

int expr4key(EXPR4* expr, char** key, TFILE4* tag) {
  if (expr == nullptr || key == nullptr) {
    error4(nullptr, e4parmNull, E4_EXPR4KEY);
    return -1;
  }
  CODE4* c4 = expr->codeBase;
  Hold hold(expr4lock());
  char* value = nullptr;
  int length = expr4vary(expr, &value);
  if (length < 0) return -1;
  int keyLen = KeyLength(expr, tag);
  if (!GrowStoredKey(c4, unsigned((keyLen > length ? keyLen : length) + 18))) return -1;
  auto* out = reinterpret_cast<unsigned char*>(c4->storedKey);
  int type = expr->type;
  int n;
  switch (type) {
    case 'C':
    case 'W':
    case 'O':
      n = TextKey(expr, tag, value, length, out);
      if (n < 0) return -1;
      break;
    case 'D':
      n = key4double(out, double(date4long(value)));
      break;
    case 'N':
      n = key4double(out, c4atod(value, length));
      break;
    case 'n':
    case 'd': {
      double number;
      std::memcpy(&number, value, sizeof number);
      n = key4double(out, number);
      break;
    }
    case 'L': {
      int32_t logical;
      std::memcpy(&logical, value, sizeof logical);
      out[0] = logical == 1 ? 'T' : 'F';
      n = 1;
      break;
    }
    default:
      std::memcpy(out, value, size_t(length));
      n = key4valueForm(type, c4->storedKey, length);
      if (n < 0) n = length;
      break;
  }
  if (NullMarker(expr, tag)) {
    if (expr4nullLow(expr, 1)) {
      std::memset(out, 0, size_t(n) + 1);
    } else {
      std::memmove(out + 1, out, size_t(n));
      out[0] = 0x80;
    }
    n++;
  }
  out[n] = 0;
  *key = c4->storedKey;
  return n;
}

int expr4context(EXPR4* expr, DATA4* data) {
  if (expr == nullptr || data == nullptr) return error4(nullptr, e4parmNull, E4_EXPR4CONTEXT);
  if (data != expr->data) {
    if (data->dataFile != expr->dataFile) return error4(expr->codeBase, e4parm, E4_EXPR_DATA_FILE);
    bool tag = expr->tagPtr != nullptr;
    for (int i = 0; i < expr->infoN; i++) {
      E4INFO& e = expr->info[i];
      int16_t code = v4functions[e.functionI].code;
      bool readsRecord = (e.field != nullptr && e.fieldNo > 0 && e.localData) || code == E4CODE_DEL ||
                         code == E4CODE_DELETED;
      if (e.field != nullptr && e.fieldNo > 0 && e.localData) e.field = &data->fields[e.fieldNo - 1];
      // Entries of an expression that is no tag's read the handle's own record.
      if (readsRecord && !tag) e.datum = &data->record;
    }
    expr->data = data;
  }
  expr->dataFile->keyRecord = data->record;
  return 0;
}

int expr4nullLow(EXPR4* expr, int16_t mode) {
  if (expr == nullptr) return 0;
  if (mode == 0) return ReadsNullable(expr) ? 1 : 0;
  for (int i = 0; i < expr->infoN; i++) {
    FIELD4* field = expr->info[i].field;
    if (field != nullptr && field->null && f4null(field)) return 1;
  }
  return 0;
}

const char* expr4source(EXPR4* expr) { return expr ? expr->source : ""; }

int expr4typeLen(int type) {
  switch (type) {
    case 'D': case 'N': case 'T': case 'Y': case 'n':
      return 8;
    case 'I': case 'P': case 'Q': case 'R':
      return 4;
    case 'L':
      return 1;
    default:
      return -2;
  }
}

void expr4initUndo(CODE4* c4) {
  expr4calcReset(c4);
  u4free(c4->storedKey);
  c4->storedKey = nullptr;
  c4->storedKeyLen = 0;
}
