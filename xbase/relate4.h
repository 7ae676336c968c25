// Relation sets: a master data file walked in an order of its own.
//
// The table library reads a table sorted by an expression without building
// an index: relate4init over the data handle, relate4sortSet with the
// expression, relate4skipEnable(1), then relate4top / relate4bottom /
// relate4skip / relate4eof, and relate4free. The first positioning sorts
// the composite records (one record number per data file of the set) once
// with the engine's sort; with backward skipping the sorted tuples are kept
// in a temporary file, so that the walk can go back. The walk moves by
// record number (d4go), never by key.
//
// The structure also carries slave relations below the master (relation
// type, error action); nothing here creates them, so a set is its master
// alone. A set may carry a query (a logical expression, bitmap4.h) that a
// record must satisfy; nothing here sets one either.
//
// Results: 0, 3 past the end, 4 before the start, 90 a terminating error
// action with its report switched off, or an error.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"
#include "xbase/sort4.h"

struct QUERY4;
struct RELATE4SET;

enum : int {
  r4blank = 105,      // error actions of a slave without a match
  r4skip = 106,
  r4terminate = 107,
  r4exact = 108,      // match kinds
  r4scan = 109,
  r4approx = 110,
  r4skipRecord = 101,  // internal: no composite record here, skip on
  r4quit = 90,         // a terminating error action, not reported
};

struct RELATE4 {
  LINK4 link;  // in its master's list of slaves
  uint16_t matchKind;    // r4exact, r4scan, r4approx
  uint16_t errorAction;  // r4blank, r4skip, r4terminate
  RELATE4* master;
  RELATE4SET* relation;
  CODE4* codeBase;
  void* matchData;  // a slave's match expression and tag (none here)
  DATA4* data;
  LIST4 slaves;
  uint32_t readDone;  // the current composite record was read at this level
};

struct RELATE4SET {
  RELATE4 relate;   // the master; relate4init hands out its address
  char* sortExpr;   // private copy, or null (unsorted)
  uint8_t state;    // 0 not sorted, 'x' while sorting, 'y' sorted
  uint8_t sortAtEnd;      // 3 once the sorted walk passed its end
  uint8_t sortExhausted;  // every tuple was taken from the sort
  DATA4** dataList;       // the data files in walk order
  int dataCount;
  uint32_t* tuple;  // one composite record: a record number per data file (0: none)
  uint32_t tupleSize;
  SORT4 sort;
  int sortActive;
  FILE4 sortedFile;  // the tuples read so far (backward skipping)
  uint64_t sortedWritePos;
  uint32_t tuplesRead;
  uint32_t tupleCount;
  uint32_t position;  // 1-based place in the sorted walk
  uint32_t isInitialized;
  uint8_t backwardsEnabled;
  RELATE4* current;
  // The query, when the structure holds one: its text (not owned), the
  // compiled query, the bitmap of records that can pass (bits of record
  // numbers 0 .. count; inverted when isFlip), and the switches of the
  // bitmap build.
  const char* queryText;
  QUERY4* query;
  FLAG4 bitmap;
  int hasBitmap;
  int bitmapDisable;
  int evaluateAll;  // the term test evaluates every term
};

RELATE4* relate4init(DATA4* data);
int relate4sortSet(RELATE4* relate, const char* expression);
int relate4skipEnable(RELATE4* relate, int flag);
int relate4changed(RELATE4* relate);
int relate4top(RELATE4* relate);
int relate4bottom(RELATE4* relate);
int relate4skip(RELATE4* relate, long count);
int relate4eof(RELATE4* relate);
int relate4free(RELATE4* relate, int closeFiles);

// Whether record rec passes the set's bitmap (always, without one).
int relate4passes(const RELATE4SET* set, long rec);
// Records from rec to the next one that passes the bitmap, in direction
// +1 or -1 (to past the end or before the start when none is left).
long relate4distance(const RELATE4SET* set, long rec, int direction, long count);

enum : long {
  E4_RELATE4_BOTTOM = 90310,
  E4_RELATE4_CHANGED = 90311,
  E4_RELATE4_EOF = 90315,
  E4_RELATE4_FREE = 90317,
  E4_RELATE4_INIT = 90319,
  E4_RELATE4_SKIP = 90327,
  E4_RELATE4_TOP = 90331,
  E4_RELATE4_SORT_SET = 90338,
  E4_RELATE4_TOP_FIRST = 80167,      // "relate4top() must be called first"
  E4_RELATE4_SKIP_ENABLE = 80178,    // "backwards skip attempted without calling relate4skipEnable()"
};
