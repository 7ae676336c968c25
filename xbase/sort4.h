// Sorting fixed-size items (a key, a record number and optional extra bytes)
// in memory and, when memory runs out, in sorted runs spooled to one
// temporary file that are merged on output.
//
// Items compare by their key bytes through the sort's compare function
// (memcmp unless the caller sets another), then by record number as a signed
// 32-bit value, so equal keys come out in ascending record order. Items are
// never moved while sorting in memory: only the pointer array is permuted.
// The memory is bounded by the context's memSizeSortPool: chunks of that
// size hold the items, and at most memSizeSortPool / 4 of them are kept
// before a run is spooled.
//
// Use: sort4init, sort4put for every item, sort4getInit, sort4get until it
// answers 210 (the sort is then freed), or sort4free at any time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xbase/d4data.h"

// One run being merged.
struct S4SPOOL {
  char* buffer;
  unsigned pos;      // offset of the current item in the buffer
  unsigned len;      // bytes in the buffer
  uint64_t disk;     // the run's next file position
  uint64_t end;      // where the run ends in the spool file
  int spoolI;        // the run's index
};

struct SORT4 {
  CODE4* codeBase;
  FILE4 file;  // the spool file, made with the first run
  int fileOpen;
  FILE4SEQ_WRITE seqwrite;
  char* seqwriteBuffer;
  unsigned seqwriteLen;
  uint64_t spoolEnd;  // bytes written to the spool file
  // The runs: while writing, where each one ends; while merging, the table
  // ordered by each run's current item.
  uint64_t* runEnds;
  unsigned runEndsMax;
  S4SPOOL* spools;
  unsigned spoolsN;     // runs still open during the merge
  unsigned spoolsMax;   // runs written
  int pendingAdvance;   // sort4get must first advance the first run
  char* mergeMemory;
  // The items in memory.
  char** pointers;
  unsigned pointersI;     // the next item to return
  unsigned pointersUsed;  // items in memory
  unsigned pointersInit;  // item slots made
  unsigned pointersMax;
  LIST4 chunks;  // item memory, one LINK4 at the start of each chunk
  unsigned chunkSize;
  unsigned poolN;        // chunks
  unsigned poolEntries;  // items per chunk
  int sortLen;
  unsigned infoOffset;  // of the extra bytes: key length + 4
  int infoLen;
  unsigned totLen;
  int isMemAvail;
  int (*cmp)(const void*, const void*, size_t);
};

// 0 or an error (-920 when the memory cannot be had).
int sort4init(SORT4* sort, CODE4* c4, int sortLen, int infoLen);
// As sort4init, but out of memory it first asks the block cache to give its
// memory back. relation is unused here (no relation work memory to free).
int sort4initFree(SORT4* sort, CODE4* c4, int sortLen, int infoLen, RELATE4* relation);
int sort4put(SORT4* sort, long rec, const void* key, const void* extra);
int sort4getInit(SORT4* sort);
int sort4getInitFree(SORT4* sort, RELATE4* relation);
// 0 with the next item, 210 when none is left (the sort is then freed), or
// an error. The pointers stay valid until the next call.
int sort4get(SORT4* sort, long* rec, void** key, void** extra);
int sort4free(SORT4* sort);

enum : long {
  E4_SORT4_GET = 90181,
  E4_SORT4_PUT = 90182,
  E4_SORT4_FREE = 90183,
  E4_SORT4_GET_INIT = 90185,
  E4_SORT4_INIT = 90187,
  E4_SORT4_GET_INIT_FREE = 90194,
  E4_SORT4_INIT_FREE = 90195,
};
