// The terms of a query: the split at its .AND., the relations each term
// reads, their order, and the test of a composite record.
#include <cstring>

#include "xbase/bitmap4.h"
#include "xbase/data4.h"
#include "xbase/e4state.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/relate4.h"

namespace {

constexpr int kListGrowth = 5;

// ---- relation lists ----

bool Contains(const Q4LIST* list, const RELATE4* relate) {
  for (int i = 0; i < list->used; i++) {
    if (list->relates[i] == relate) return true;
  }
  return false;
}

int AddRelate(Q4LIST* list, RELATE4* relate) {
  if (Contains(list, relate)) return 0;
  if (list->used == list->allocated) {
    int more = list->allocated + kListGrowth;
    auto* bigger = static_cast<RELATE4**>(u4alloc(long(sizeof(RELATE4*)) * more));
    if (bigger == nullptr) return e4memory;
    if (list->used > 0) std::memcpy(bigger, list->relates, sizeof(RELATE4*) * size_t(list->used));
    u4free(list->relates);
    list->relates = bigger;
    list->allocated = more;
  }
  list->relates[list->used++] = relate;
  return 0;
}

// Removes from `list` every relation that `other` holds; the last element
// takes each freed place.
void Subtract(Q4LIST* list, const Q4LIST* other) {
  for (int i = 0; i < list->used;) {
    if (Contains(other, list->relates[i])) {
      list->relates[i] = list->relates[--list->used];
    } else {
      i++;
    }
  }
}

void FreeList(Q4LIST* list) {
  if (list == nullptr) return;
  u4free(list->relates);
  u4free(list);
}

// The relation of the set whose data file holds the field's.
RELATE4* RelateOf(RELATE4* relate, const DATA4FILE* file) {
  if (relate->data != nullptr && relate->data->dataFile == file) return relate;
  for (auto* slave = static_cast<RELATE4*>(l4first(&relate->slaves)); slave;
       slave = static_cast<RELATE4*>(l4next(&relate->slaves, slave))) {
    if (RELATE4* found = RelateOf(slave, file)) return found;
  }
  return nullptr;
}

// Adds the relations whose fields the entries first..last read, calcs
// included.
int ListFields(RELATE4SET* set, Q4LIST* list, const EXPR4* expr, int first, int last, int depth) {
  for (int i = first; i <= last; i++) {
    const E4INFO& e = expr->info[i];
    if (e.functionI <= E4ROW_FIELD_MEMO && e.field != nullptr) {
      if (RELATE4* relate = RelateOf(&set->relate, e.field->data->dataFile)) {
        if (int rc = AddRelate(list, relate)) return rc;
      }
    } else if (e.functionI == E4ROW_CALC && depth < 8) {
      const EXPR4* calc = static_cast<const EXPR4CALC*>(e.datum)->expr;
      if (int rc = ListFields(set, list, calc, 0, calc->infoN - 1, depth + 1)) return rc;
    }
  }
  return 0;
}

// The terms' top entries: the arguments of a last .AND., else the whole.
int FindTerms(QUERY4* query) {
  const EXPR4* expr = query->expr;
  const int last = expr->infoN - 1;
  const int n = expr->info[last].functionI == E4ROW_AND ? expr->info[last].numParms : 1;
  if (query->terms == nullptr) {
    query->terms = static_cast<int*>(u4alloc(long(sizeof(int)) * (n + 1)));
    if (query->terms == nullptr) return e4memory;
  }
  query->termCount = n;
  if (n == 1) {
    query->terms[0] = last;
    return 0;
  }
  int at = last - 1;
  for (int k = n - 1; k >= 0; k--) {
    query->terms[k] = at;
    at -= expr->info[at].numEntries;
  }
  return 0;
}

Q4LIST* ListOf(QUERY4* query, int term) { return query->entries[query->terms[term]].list; }

}  // namespace

QUERY4* query4create(RELATE4SET* set, const char* text) {
  DATA4* master = set->relate.data;
  CODE4* c4 = set->relate.codeBase;
  auto* query = static_cast<QUERY4*>(u4allocEr(c4, sizeof(QUERY4)));
  if (query == nullptr) return nullptr;
  std::memset(static_cast<void*>(query), 0, sizeof(QUERY4));
  query->relation = set;
  query->codeBase = c4;
  query->expr = expr4parse(master, text);
  if (query->expr == nullptr) {
    query4free(query);
    return nullptr;
  }
  if (query->expr->type != 'L') {
    error4describe(c4, e4result, E4_EXPECT_LOGICAL, text, nullptr, nullptr);
    query4free(query);
    return nullptr;
  }
  const int n = query->expr->infoN;
  query->entries = static_cast<Q4ENTRY*>(u4allocEr(c4, long(sizeof(Q4ENTRY)) * n));
  int rc = query->entries ? FindTerms(query) : int(e4memory);
  if (rc == 0) std::memset(query->entries, 0, sizeof(Q4ENTRY) * size_t(n));
  for (int k = 0; k < query->termCount && rc == 0; k++) {
    const int top = query->terms[k];
    auto* list = static_cast<Q4LIST*>(u4alloc(sizeof(Q4LIST)));
    if (list == nullptr) {
      rc = e4memory;
      break;
    }
    std::memset(list, 0, sizeof(Q4LIST));
    query->entries[top].list = list;
    rc = ListFields(set, list, query->expr, top - query->expr->info[top].numEntries + 1, top, 0);
  }
  if (rc != 0) {
    error4(c4, e4memory, E4_BITMAP4);
    query4free(query);
    return nullptr;
  }
  return query;
}

void query4free(QUERY4* query) {
  if (query == nullptr) return;
  if (query->entries != nullptr && query->expr != nullptr) {
    for (int i = 0; i < query->expr->infoN; i++) FreeList(query->entries[i].list);
  }
  u4free(query->entries);
  u4free(query->terms);
  u4free(query->constants);
  expr4free(query->expr);
  u4free(query);
}

int query4swap(QUERY4* query, int a, int b) {
  if (a == b) return 0;
  if (a > b) std::swap(a, b);
  E4INFO* info = query->expr->info;
  const int aStart = a - info[a].numEntries + 1;
  const int bStart = b - info[b].numEntries + 1;
  const int span = b - aStart + 1;
  auto* infoCopy = static_cast<E4INFO*>(u4alloc(long(sizeof(E4INFO)) * span));
  auto* entryCopy = static_cast<Q4ENTRY*>(u4alloc(long(sizeof(Q4ENTRY)) * span));
  if (infoCopy == nullptr || entryCopy == nullptr) {
    u4free(infoCopy);
    u4free(entryCopy);
    return error4(query->codeBase, e4memory, E4_EXPR_TOO_LARGE);
  }
  // New order of the span: the range of b, what lay between, the range of a.
  int at = 0;
  auto take = [&](int from, int to) {
    for (int i = from; i <= to; i++, at++) {
      infoCopy[at] = info[i];
      entryCopy[at] = query->entries[i];
    }
  };
  take(bStart, b);
  take(a + 1, bStart - 1);
  take(aStart, a);
  std::memcpy(info + aStart, infoCopy, sizeof(E4INFO) * size_t(span));
  std::memcpy(query->entries + aStart, entryCopy, sizeof(Q4ENTRY) * size_t(span));
  u4free(infoCopy);
  u4free(entryCopy);
  return 0;
}

int query4order(QUERY4* query) {
  const int n = query->termCount;
  // Each term also needs the masters of the relations it reads.
  for (int k = 0; k < n; k++) {
    Q4LIST* list = ListOf(query, k);
    for (int i = 0; i < list->used; i++) {
      for (RELATE4* master = list->relates[i]->master; master; master = master->master) {
        if (AddRelate(list, master) != 0) return error4(query->codeBase, e4memory, E4_BITMAP4);
      }
    }
  }
  for (int position = n - 1; position >= 1; position--) {
    int best = position;
    for (int k = position - 1; k >= 0; k--) {
      if (ListOf(query, k)->used < ListOf(query, best)->used) best = k;
    }
    if (best != position) {
      if (query4swap(query, query->terms[best], query->terms[position]) != 0) return -1;
      FindTerms(query);
    }
    // The relations this term reads are read already for the terms tried
    // after it.
    const Q4LIST* chosen = ListOf(query, position);
    for (int k = 0; k < position; k++) Subtract(ListOf(query, k), chosen);
  }
  return 0;
}

int query4test(QUERY4* query) {
  RELATE4SET* set = query->relation;
  CODE4* c4 = query->codeBase;
  EXPR4* expr = query->expr;
  expr4context(expr, set->relate.data);
  for (int k = query->termCount - 1; k >= 0; k--) {
    const int top = query->terms[k];
    // A set is its master alone: each relation a term reads is read already.
    const E4INFO& e = expr->info[top];
    const int16_t code = v4functions[e.functionI].code;
    const bool comparison = e.functionI >= E4ROW_FIRST_COMPARISON && e.functionI <= E4ROW_LAST_COMPARISON &&
                            code >= E4CODE_EQ && code <= E4CODE_LT;
    const bool matched = (top >= 1 && query->entries[top - 1].tag) || (top >= 2 && query->entries[top - 2].tag);
    // A comparison whose bitmap was made has passed over the records that
    // fail it.
    if (comparison && e.numParms >= 2 && matched && !set->evaluateAll) continue;
    void* result = nullptr;
    if (expr4execute(expr, top, &result) != 0 || result == nullptr) return -1;
    int32_t value;
    std::memcpy(&value, result, sizeof value);
    if (value == 0) return 0;
  }
  return c4->errorCode < 0 ? -1 : 1;
}

TAG4* t4matchExpr(DATA4* data, const EXPR4* expr, int last) {
  CODE4* c4 = data->codeBase;
  const int n = expr->info[last].numEntries;
  const int first = last - n + 1;
  for (TAG4* tag = d4tagNext(data, nullptr); tag; tag = d4tagNext(data, tag)) {
    TFILE4* t = tag->tagFile;
    EXPR4* key = t->expr;
    if (key == nullptr || t->filter != nullptr || tag->errUnique == r4uniqueContinue) continue;
    if (key->type == 'I' || key->type == 'T' || key->type == 'Y') continue;
    if (c4->collateMatching == 0 && t->collateName != 0 && t->collateName != 1) continue;
    // Keys that carry a null marker or whose trims turn zero bytes into
    // blanks do not order as the values compare.
    if ((t->typeCode & 0x02) || key->hasTrim) continue;
    if (key->infoN != n) continue;
    expr4context(key, data);
    bool same = true;
    for (int i = n - 1; i >= 0 && same; i--) {
      const E4INFO& a = key->info[i];
      const E4INFO& b = expr->info[first + i];
      same = a.functionI == b.functionI && a.len == b.len && a.numParms == b.numParms;
      if (!same) break;
      if (a.field != nullptr || b.field != nullptr) {
        same = a.field != nullptr && b.field != nullptr &&
               std::strncmp(a.field->name, b.field->name, sizeof a.field->name) == 0 &&
               a.field->data->dataFile == b.field->data->dataFile;
      } else if (a.functionI == E4ROW_DOUBLE || a.functionI == E4ROW_STRING) {
        same = std::memcmp(key->constants + a.i1, expr->constants + b.i1, size_t(a.len)) == 0;
      } else {
        // Constant arguments folded into the entry (SUBSTR, STR, ...).
        same = a.i1 == b.i1 && a.i2 == b.i2;
      }
    }
    if (same) return tag;
  }
  return nullptr;
}
