// The query of a relation set: a logical expression over the set's data
// files that a composite record must satisfy.
//
// The query is split into its .AND. terms; each term lists the relations
// whose fields it reads. The terms are ordered so that the one needing the
// fewest relations is tried first. Comparisons of a tag's key expression
// with a constant become bitmaps of record numbers, made by scanning the
// tag; the walk passes over the records whose bits exclude them, and the
// term test trusts the bitmap for a term that is one such comparison.
//
// Comparisons of text follow the expression language: the shorter length
// is compared, so NAME = 'B' holds for every name that begins with B. A
// constant standing left of the operator is answered with the operator
// mirrored ('B' < NAME as NAME > 'B').
//
// Running out of memory while the bitmaps are made is no error: the walk
// then tests every record with every term.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

struct RELATE4SET;

// The relations a term reads.
struct Q4LIST {
  RELATE4** relates;
  int allocated;
  int used;
};

// Per entry of the query's expression: the relation list of the term that
// ends at the entry, and the tag matched by the sub-expression that ends
// at the entry (whose comparison became a bitmap).
struct Q4ENTRY {
  Q4LIST* list;
  TAG4* tag;
};

struct QUERY4 {
  EXPR4* expr;
  Q4ENTRY* entries;
  RELATE4SET* relation;
  CODE4* codeBase;
  // The top entry of each term, in the expression's order; the term test
  // tries them from the last.
  int* terms;
  int termCount;
  // The constants of the comparisons, as keys of their tags.
  unsigned char* constants;
  unsigned constLen;
  unsigned constMax;
};

// A bound of a leaf: a key of the leaf's tag in the query's constants
// buffer. A text constant shorter than the key stands for every key that
// begins with it: as a lower bound it is completed with 0x00 bytes, as an
// upper bound with 0xFF bytes, so that bounds compare as whole keys. An
// equal constant is the pair of bounds at least and at most; a not-equal
// constant holds both completions (len covers the two keys).
struct CONST4 {
  LINK4 link;  // in a leaf's list of not-equal constants
  unsigned offset;
  unsigned len;  // 0: the slot is empty
};

// A node of the bitmap tree: a branch (.AND. / .OR.) or a leaf (the
// comparisons of one tag).
struct BITMAP4 {
  LINK4 link;  // in its parent's children
  int branch;
  int kind;  // 1 AND, 2 OR, 0 not set yet
  int trivial;  // AND: no record can pass; OR: every record passes
  QUERY4* query;
  RELATE4* relate;
  int keyType;
  TAG4* tag;
  LIST4 children;
  CONST4 lt, le, gt, ge;  // below, at most, above, at least
  LIST4 ne;
};

// Compiles the query text against the set's master and splits it into its
// terms: null on failure (reported).
QUERY4* query4create(RELATE4SET* set, const char* text);
void query4free(QUERY4* query);
// Makes the bitmap tree, evaluates it and hands the result to the set: 0,
// or -1 on an error.
int bitmap4build(QUERY4* query);
// Orders the terms: 0 or -1.
int query4order(QUERY4* query);
// The term test of the current composite record: 1 all terms true, 0 one
// false, -1 on an error.
int query4test(QUERY4* query);
// Exchanges the sub-expressions ending at entries a < b of the query (with
// their per-entry data): 0, or -920 at "expression too large".
int query4swap(QUERY4* query, int a, int b);

// The first tag of the handle (in d4tagNext order) whose key expression is,
// entry by entry, the sub-expression of expr that ends at entry `last`;
// null when none. Passed over: tags with a filter, with I, T or Y keys,
// with unique mode 25, and collated tags unless the context's collation
// matching is on.
TAG4* t4matchExpr(DATA4* data, const EXPR4* expr, int last);

enum : long {
  E4_BITMAP4 = 90280,   // "bitmap4...()"
  E4_CONST4 = 90281,    // "const4...()"
  E4_EXPR_TOO_LARGE = 80225,
};
