// Allocation and fixed-size unit pools. Blocks come zero-filled. Pools are
// process-wide: pools of one unit size are shared (unless temporary), and
// every pool operation holds one process-wide lock, because the worker
// threads allocate too.
#pragma once

#include "xbase/d4data.h"

// Where the memory functions' failures are reported.
enum : long {
  E4_U4ALLOC_AGAIN = 90339,
  E4_MEM4ALLOC = 90409,
  E4_MEM4CREATE = 90410,
  E4_MEM4FREE = 90411,
  E4_U4ALLOC_ER = 90413,
};

void* u4allocDefault(long size);                  // null on failure (-930 for size < 1)
void* u4allocErDefault(CODE4* c4, long size);     // reports -920 on failure
void* u4allocFree(CODE4* c4, long size);          // retries with the cache's memory given back
void u4freeDefault(void* block);
int u4allocAgainDefault(CODE4* c4, char** block, unsigned* length, unsigned newLength);

inline void* u4alloc(long size) { return u4allocDefault(size); }
inline void* u4allocEr(CODE4* c4, long size) { return u4allocErDefault(c4, size); }
inline void u4free(void* block) { u4freeDefault(block); }

void mem4init();
void mem4reset();
MEM4* mem4createDefault(CODE4* c4, int start, unsigned unitSize, int expand, int isTemp);
void* mem4allocDefault(MEM4* pool, int zero);
int mem4freeDefault(MEM4* pool, void* unit);
void mem4release(MEM4* pool);

inline MEM4* mem4create(CODE4* c4, int start, unsigned unitSize, int expand, int isTemp) {
  return mem4createDefault(c4, start, unitSize, expand, isTemp);
}
inline void* mem4alloc(MEM4* pool) { return mem4allocDefault(pool, 1); }
inline int mem4free(MEM4* pool, void* unit) { return mem4freeDefault(pool, unit); }
