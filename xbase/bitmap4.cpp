// The bitmaps of a query: the tree of its .AND./.OR. structure whose
// leaves are comparisons of a tag's key expression with constants, the
// bounds of each leaf, and the record-number bit sets made by scanning the
// tags.
#include "xbase/bitmap4.h"

#include <cstring>

#include "xbase/block4.h"
#include "xbase/data4.h"
#include "xbase/e4state.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/index4.h"
#include "xbase/key4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/relate4.h"
#include "xbase/tfile4.h"
#include "xbase/util4.h"

namespace {

constexpr int kLastConstantRow = 29;  // numbers, texts, .T. and .F.
constexpr int kRowStod = 109;
constexpr int kRowCtod = 110;
constexpr int kAnd = 1;
constexpr int kOr = 2;
constexpr int16_t kCodeRecno = 370;
constexpr uint32_t kLowRec = 0;
constexpr uint32_t kHighRec = 0xFFFFFFFFu;

// Why a sub-expression gave no node.
enum class Why { kNone, kMemory, kError };

// ---- the constants buffer ----

// Room for n more bytes; the offset where they go, or -1 (-920 reported).
long Reserve(QUERY4* q, unsigned n) {
  if (q->constLen + n > q->constMax) {
    unsigned more = q->constMax * 2 + n + 64;
    auto* bigger = static_cast<unsigned char*>(u4alloc(long(more)));
    if (bigger == nullptr) {
      error4(q->codeBase, e4memory, E4_CONST4);
      return -1;
    }
    if (q->constLen > 0) std::memcpy(bigger, q->constants, q->constLen);
    u4free(q->constants);
    q->constants = bigger;
    q->constMax = more;
  }
  long at = long(q->constLen);
  q->constLen += n;
  return at;
}

const unsigned char* Bytes(const QUERY4* q, const CONST4& c) { return q->constants + c.offset; }

// ---- nodes ----

BITMAP4* NewNode(QUERY4* q, int branch, int kind) {
  auto* node = static_cast<BITMAP4*>(u4alloc(sizeof(BITMAP4)));
  if (node == nullptr) return nullptr;
  std::memset(static_cast<void*>(node), 0, sizeof(BITMAP4));
  node->branch = branch;
  node->kind = kind;
  node->query = q;
  node->relate = &q->relation->relate;
  return node;
}

int FreeNode(BITMAP4* node) {
  if (node == nullptr) return error4(nullptr, e4parmNull, E4_BITMAP4);
  while (auto* child = static_cast<BITMAP4*>(l4first(&node->children))) {
    l4remove(&node->children, child);
    FreeNode(child);
  }
  while (auto* c = static_cast<CONST4*>(l4first(&node->ne))) {
    l4remove(&node->ne, c);
    u4free(c);
  }
  u4free(node);
  return 0;
}

// ---- leaves ----

// A sub-expression that stands for one value whatever the record: a
// constant, or STOD/CTOD over constants.
bool IsConstant(const EXPR4* expr, int top) {
  const E4INFO& e = expr->info[top];
  if (e.numEntries == 1) return e.functionI >= E4ROW_DOUBLE && e.functionI <= kLastConstantRow;
  if (e.functionI != kRowStod && e.functionI != kRowCtod) return false;
  for (int i = top - e.numEntries + 1; i <= top; i++) {
    const E4INFO& part = expr->info[i];
    const int16_t code = v4functions[part.functionI].code;
    // Fields, calcs and totals, and the functions that read the record.
    if (part.field != nullptr || part.functionI <= E4ROW_FIELD_MEMO || part.functionI >= E4ROW_CALC ||
        code == E4CODE_DEL || code == E4CODE_DELETED || code == E4CODE_RECCOUNT || code == kCodeRecno) {
      return false;
    }
  }
  return true;
}

int16_t Mirrored(int16_t code) {
  switch (code) {
    case E4CODE_GT: return E4CODE_LT;
    case E4CODE_LT: return E4CODE_GT;
    case E4CODE_GE: return E4CODE_LE;
    case E4CODE_LE: return E4CODE_GE;
    default: return code;
  }
}

// The key forms of a constant for the tag: the lowest and the highest key
// that the constant stands for (the same key unless a text constant is
// shorter than the key). False when the constant has no key form here.
bool KeysOf(TFILE4* t, int type, const char* value, int length, unsigned char* low, unsigned char* high) {
  const int keyLen = t->keyLen;
  if (type == 'n' || type == 'd') {
    if (keyLen != 8) return false;
    double number;
    std::memcpy(&number, value, sizeof number);
    key4double(low, number);
    std::memcpy(high, low, 8);
    return true;
  }
  if (type != 'C' || t->textToKey == nullptr) return false;
  std::memset(low, 0, size_t(keyLen));
  int converted = t->textToKey(t, low, value, length);
  if (converted < 0) return false;
  int used = converted > 0 ? converted : length;
  if (used > keyLen) used = keyLen;
  std::memset(low + used, 0, size_t(keyLen - used));
  std::memcpy(high, low, size_t(used));
  std::memset(high + used, 0xFF, size_t(keyLen - used));
  return true;
}

// Stores a key (or two) in the constants buffer; false out of memory.
bool Store(QUERY4* q, CONST4* slot, const unsigned char* a, const unsigned char* b, unsigned keyLen) {
  long at = Reserve(q, b ? 2 * keyLen : keyLen);
  if (at < 0) return false;
  std::memcpy(q->constants + at, a, keyLen);
  if (b) std::memcpy(q->constants + at + keyLen, b, keyLen);
  slot->offset = unsigned(at);
  slot->len = b ? 2 * keyLen : keyLen;
  return true;
}

// A leaf for the comparison at `entry`, or null (with *why).
BITMAP4* Leaf(QUERY4* q, int entry, Why* why) {
  EXPR4* expr = q->expr;
  const E4INFO& e = expr->info[entry];
  const int right = entry - 1;
  const int left = right - expr->info[right].numEntries;
  const bool leftConstant = IsConstant(expr, left), rightConstant = IsConstant(expr, right);
  if (leftConstant == rightConstant) return nullptr;
  const int operand = leftConstant ? right : left;
  const int constant = leftConstant ? left : right;
  int16_t code = v4functions[e.functionI].code;
  // The constant on the left: the operator seen from the operand.
  if (leftConstant) code = Mirrored(code);
  DATA4* data = q->relation->relate.data;
  TAG4* tag = t4matchExpr(data, expr, operand);
  if (tag == nullptr) return nullptr;
  TFILE4* t = tag->tagFile;
  const int type = e4entryType(&expr->info[constant]);
  if (type != t->expr->type) return nullptr;
  void* result = nullptr;
  if (expr4execute(expr, constant, &result) != 0 || result == nullptr) {
    *why = Why::kError;
    return nullptr;
  }
  const int constLen = expr->info[constant].len;
  const int operandLen = expr->info[operand].len;
  unsigned char low[k4keyBufferSize], high[k4keyBufferSize];
  // A text longer than the operand compares by its first operandLen bytes.
  const int length = type == 'C' && constLen > operandLen ? operandLen : constLen;
  if (!KeysOf(t, type, static_cast<const char*>(result), length, low, high)) return nullptr;
  BITMAP4* leaf = NewNode(q, 0, 0);
  if (leaf == nullptr) {
    *why = Why::kMemory;
    return nullptr;
  }
  leaf->tag = tag;
  leaf->keyType = type;
  const unsigned keyLen = unsigned(t->keyLen);
  // Texts compare over the shorter length: a longer operand that begins
  // with the constant is greater than it for ">" and not less for "<".
  const bool text = type == 'C';
  bool stored = true;
  switch (code) {
    case E4CODE_EQ:
      stored = Store(q, &leaf->ge, low, nullptr, keyLen) && Store(q, &leaf->le, high, nullptr, keyLen);
      break;
    case E4CODE_NE: {
      auto* c = static_cast<CONST4*>(u4alloc(sizeof(CONST4)));
      stored = c != nullptr && Store(q, c, low, high, keyLen);
      if (c != nullptr) l4add(&leaf->ne, c);
      break;
    }
    case E4CODE_GE:
      stored = Store(q, &leaf->ge, low, nullptr, keyLen);
      break;
    case E4CODE_LE:
      stored = Store(q, &leaf->le, high, nullptr, keyLen);
      break;
    case E4CODE_GT:
      stored = text && operandLen > constLen ? Store(q, &leaf->ge, low, nullptr, keyLen)
                                             : Store(q, &leaf->gt, high, nullptr, keyLen);
      break;
    case E4CODE_LT:
      stored = text && operandLen < constLen ? Store(q, &leaf->le, high, nullptr, keyLen)
                                             : Store(q, &leaf->lt, low, nullptr, keyLen);
      break;
    default:
      FreeNode(leaf);
      return nullptr;
  }
  if (!stored) {
    FreeNode(leaf);
    *why = Why::kMemory;
    return nullptr;
  }
  q->entries[operand].tag = tag;
  return leaf;
}

// ---- bounds of one tag ----

// A bound in key order: the key and the record number that the walk's
// position is taken against (first entry not below (key, rec)).
struct Bound {
  const unsigned char* key;
  uint32_t rec;
};

int CompareBound(const Bound& a, const Bound& b, int keyLen) {
  int c = std::memcmp(a.key, b.key, size_t(keyLen));
  if (c != 0) return c;
  return a.rec < b.rec ? -1 : (a.rec > b.rec ? 1 : 0);
}

// The leaf's lower bound: the first entry in range is the first not below it.
bool Lower(const QUERY4* q, const BITMAP4* leaf, Bound* b) {
  if (leaf->ge.len) *b = {Bytes(q, leaf->ge), kLowRec};
  else if (leaf->gt.len) *b = {Bytes(q, leaf->gt), kHighRec};
  else return false;
  return true;
}

// The upper bound: the first entry past the range is the first not below it.
bool Upper(const QUERY4* q, const BITMAP4* leaf, Bound* b) {
  if (leaf->le.len) *b = {Bytes(q, leaf->le), kHighRec};
  else if (leaf->lt.len) *b = {Bytes(q, leaf->lt), kLowRec};
  else return false;
  return true;
}

// Intersects leaf `other` (same tag) into `leaf`: false when nothing is left.
bool Intersect(QUERY4* q, BITMAP4* leaf, BITMAP4* other) {
  const int keyLen = leaf->tag->tagFile->keyLen;
  Bound a, b;
  if (Lower(q, other, &b)) {
    if (!Lower(q, leaf, &a) || CompareBound(b, a, keyLen) > 0) {
      leaf->ge = other->ge;
      leaf->gt = other->gt;
    }
  }
  if (Upper(q, other, &b)) {
    if (!Upper(q, leaf, &a) || CompareBound(b, a, keyLen) < 0) {
      leaf->le = other->le;
      leaf->lt = other->lt;
    }
  }
  while (auto* c = static_cast<CONST4*>(l4first(&other->ne))) {
    l4remove(&other->ne, c);
    l4add(&leaf->ne, c);
  }
  if (Lower(q, leaf, &a) && Upper(q, leaf, &b) && CompareBound(a, b, keyLen) >= 0) return false;
  return true;
}

// Merges the leaves of an AND node that share a tag; a node that no record
// can pass becomes trivial.
void MergeAnd(QUERY4* q, BITMAP4* node) {
  for (auto* leaf = static_cast<BITMAP4*>(l4first(&node->children)); leaf;
       leaf = static_cast<BITMAP4*>(l4next(&node->children, leaf))) {
    if (leaf->branch) continue;
    auto* other = static_cast<BITMAP4*>(l4next(&node->children, leaf));
    while (other) {
      auto* next = static_cast<BITMAP4*>(l4next(&node->children, other));
      if (!other->branch && other->tag == leaf->tag) {
        bool left = Intersect(q, leaf, other);
        l4remove(&node->children, other);
        FreeNode(other);
        if (!left) {
          TAG4* tag = leaf->tag;
          while (auto* child = static_cast<BITMAP4*>(l4first(&node->children))) {
            l4remove(&node->children, child);
            FreeNode(child);
          }
          node->tag = tag;
          node->trivial = 1;
          return;
        }
      }
      other = next;
    }
  }
}

// The node of the sub-expression ending at `entry`, or null with *why.
BITMAP4* Build(QUERY4* q, int entry, Why* why) {
  const E4INFO& e = q->expr->info[entry];
  if (e.functionI >= E4ROW_FIRST_COMPARISON && e.functionI <= E4ROW_LAST_COMPARISON) return Leaf(q, entry, why);
  if (e.functionI != E4ROW_OR && e.functionI != E4ROW_AND) return nullptr;
  const int kind = e.functionI == E4ROW_AND ? kAnd : kOr;
  BITMAP4* node = NewNode(q, 1, kind);
  if (node == nullptr) {
    *why = Why::kMemory;
    return nullptr;
  }
  int at = entry - 1;
  for (int k = 0; k < e.numParms; k++) {
    BITMAP4* child = Build(q, at, why);
    at -= q->expr->info[at].numEntries;
    if (child == nullptr) {
      // One alternative that cannot be answered by a bitmap leaves the
      // whole .OR. to the term test.
      if (*why != Why::kNone || kind == kOr) {
        FreeNode(node);
        return nullptr;
      }
      continue;
    }
    if (child->kind == 0) child->kind = kind;
    l4addBefore(&node->children, l4first(&node->children), child);
  }
  if (node->children.numLinks == 0) {
    FreeNode(node);
    return nullptr;
  }
  if (kind == kAnd) MergeAnd(q, node);
  if (!node->trivial && node->children.numLinks == 1) {
    auto* only = static_cast<BITMAP4*>(l4first(&node->children));
    l4remove(&node->children, only);
    FreeNode(node);
    return only;
  }
  return node;
}

// ---- evaluation ----

bool NewSet(FLAG4* f, CODE4* c4, long count) {
  const unsigned long bits = (unsigned long)count + 1;
  auto* bytes = static_cast<unsigned char*>(u4alloc(long((bits + 7) / 8)));
  if (bytes == nullptr) return false;
  std::memset(bytes, 0, (bits + 7) / 8);
  flag4init(f, c4, bytes, bits);
  return true;
}

// The tag's relative position at its cursor: 0.0 at the first key, 1.0 past
// the last (0.5 when the path is not known).
double Position(TFILE4* t) {
  if (tfile4eof(t)) return 1.0;
  if (t->pathLeafOnly || t->depth <= 0) return 0.5;
  double pos = 0.0, weight = 1.0;
  for (int level = 0; level < t->depth; level++) {
    const BLOCK4* b = t->path[level];
    if (b == nullptr || b->nKeys <= 0) break;
    pos += weight * double(b->keyOn) / double(b->nKeys);
    weight /= double(b->nKeys);
  }
  return pos;
}

// Positions the cursor on the first entry not below the bound (the top
// without one): 0, 1 past the end, or an error.
int Go(TFILE4* t, const Bound* b) {
  int rc = b ? tfile4go(t, b->key, b->rec) : tfile4rlTop(t);
  if (rc < 0) return rc;
  return (rc == r4eof || tfile4eof(t)) ? 1 : 0;
}

// Sets (or clears) the bits of the entries from the cursor on up to the
// first entry not below `stop` (to the end without one).
int Mark(TFILE4* t, FLAG4* f, const Bound* stop, bool set, CODE4* c4) {
  while (!tfile4eof(t)) {
    if (c4->errorCode < 0) return c4->errorCode;
    const unsigned char* key = tfile4key(t);
    const long rec = tfile4recNo(t);
    if (key == nullptr) break;
    if (stop && CompareBound({key, uint32_t(rec)}, *stop, t->keyLen) >= 0) break;
    if (rec >= 1 && (unsigned long)rec < f->numFlags) {
      if (set) {
        flag4set(f, (unsigned long)rec);
      } else {
        flag4reset(f, (unsigned long)rec);
      }
    }
    long moved = tfile4skip(t, 1);
    if (moved < 0) return int(moved);
    if (moved != 1) break;
  }
  return 0;
}

// Marks the entries in [lower, upper) (either end open) in a fresh set,
// walking the cheaper side: the range itself, or everything outside it
// with the set inverted.
int MarkRange(TFILE4* t, FLAG4* f, const Bound* lower, const Bound* upper, CODE4* c4) {
  double from = 0.0, to = 1.0;
  if (lower) {
    int rc = Go(t, lower);
    if (rc < 0) return rc;
    if (rc > 0) return 0;  // nothing from the lower bound on
    from = Position(t);
  }
  if (upper) {
    int rc = Go(t, upper);
    if (rc < 0) return rc;
    to = rc > 0 ? 1.0 : Position(t);
  }
  if (to - from > 0.5) {
    // Everything before the lower bound and from the upper bound on.
    if (lower) {
      if (int rc = Go(t, nullptr); rc < 0) return rc;
      if (int rc = Mark(t, f, lower, true, c4)) return rc;
    }
    if (upper) {
      int rc = Go(t, upper);
      if (rc < 0) return rc;
      if (rc == 0) {
        if (int marked = Mark(t, f, nullptr, true, c4)) return marked;
      }
    }
    flag4flip(f);
    return 0;
  }
  int rc = Go(t, lower);
  if (rc < 0) return rc;
  return rc > 0 ? 0 : Mark(t, f, upper, true, c4);
}

int Evaluate(QUERY4* q, BITMAP4* node, FLAG4* out, long count);

int EvaluateLeaf(QUERY4* q, BITMAP4* leaf, FLAG4* f) {
  CODE4* c4 = q->codeBase;
  if (leaf->trivial) {
    if (leaf->kind == kOr) flag4flip(f);
    return 0;
  }
  TFILE4* t = leaf->tag->tagFile;
  const unsigned keyLen = unsigned(t->keyLen);
  Bound lower, upper;
  const bool hasLower = Lower(q, leaf, &lower), hasUpper = Upper(q, leaf, &upper);
  if (!hasLower && !hasUpper) {
    // Not equal alone: the records equal to a constant, the set inverted.
    for (auto* c = static_cast<CONST4*>(l4first(&leaf->ne)); c; c = static_cast<CONST4*>(l4next(&leaf->ne, c))) {
      Bound from{Bytes(q, *c), kLowRec}, to{Bytes(q, *c) + keyLen, kHighRec};
      int rc = Go(t, &from);
      if (rc < 0) return rc;
      if (rc == 0 && (rc = Mark(t, f, &to, true, c4)) != 0) return rc;
    }
    flag4flip(f);
    return 0;
  }
  if (int rc = MarkRange(t, f, hasLower ? &lower : nullptr, hasUpper ? &upper : nullptr, c4)) return rc;
  // Each not-equal constant takes its records out again.
  for (auto* c = static_cast<CONST4*>(l4first(&leaf->ne)); c; c = static_cast<CONST4*>(l4next(&leaf->ne, c))) {
    Bound from{Bytes(q, *c), kLowRec}, to{Bytes(q, *c) + keyLen, kHighRec};
    int rc = Go(t, &from);
    if (rc < 0) return rc;
    if (rc == 0 && (rc = Mark(t, f, &to, f->isFlip != 0, c4)) != 0) return rc;
  }
  return 0;
}

// The node's set of records: 0, -920 out of memory, or an error.
int Evaluate(QUERY4* q, BITMAP4* node, FLAG4* out, long count) {
  CODE4* c4 = q->codeBase;
  if (!NewSet(out, c4, count)) return e4memory;
  if (!node->branch) return EvaluateLeaf(q, node, out);
  if (node->trivial) {
    if (node->kind == kOr) flag4flip(out);
    return 0;
  }
  bool first = true;
  for (auto* child = static_cast<BITMAP4*>(l4first(&node->children)); child;
       child = static_cast<BITMAP4*>(l4next(&node->children, child))) {
    FLAG4 part{};
    int rc = Evaluate(q, child, &part, count);
    if (rc != 0) {
      u4free(part.flags);
      return rc;
    }
    if (first) {
      u4free(out->flags);
      *out = part;
      first = false;
      continue;
    }
    if (node->kind == kAnd) {
      flag4and(out, &part);
    } else {
      flag4or(out, &part);
    }
    u4free(part.flags);
  }
  return 0;
}

}  // namespace

int bitmap4build(QUERY4* q) {
  RELATE4SET* set = q->relation;
  CODE4* c4 = q->codeBase;
  // Until a bitmap stands for its comparisons, every term is evaluated.
  set->evaluateAll = 1;
  if (set->bitmapDisable) return 0;
  Why why = Why::kNone;
  BITMAP4* root = Build(q, q->expr->infoN - 1, &why);
  if (root == nullptr) {
    if (why == Why::kError) return -1;
    if (why == Why::kMemory) error4set(c4, 0);
    return 0;
  }
  const long count = dfile4recCount(set->relate.data->dataFile);
  FLAG4 result{};
  int rc = count < 0 ? -1 : Evaluate(q, root, &result, count);
  FreeNode(root);
  if (rc != 0) {
    u4free(result.flags);
    if (rc == e4memory && c4->errorCode >= 0) return 0;
    if (c4->errorCode == e4memory) {
      error4set(c4, 0);
      return 0;
    }
    return -1;
  }
  u4free(set->bitmap.flags);
  set->bitmap = result;
  set->hasBitmap = 1;
  set->evaluateAll = 0;
  return 0;
}
