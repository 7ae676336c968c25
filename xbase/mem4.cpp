#include "xbase/mem4.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "xbase/error4.h"
#include "xbase/list4.h"
#include "xbase/opt4.h"
#include "xbase/opt4int.h"

namespace {

// Pool headers come in blocks of this many.
constexpr int kHeadersPerBlock = 10;

struct HeaderBlock {
  LINK4 link;
  MEM4 headers[kHeadersPerBlock];
};

struct MemoryState {
  LIST4 pools;        // MEM4 in use
  LIST4 freeHeaders;  // MEM4 free
  LIST4 headerBlocks;
  int initCount = 0;
};

std::recursive_mutex& PoolLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;  // outlives static destructors
  return *lock;
}

MemoryState& State() {
  static MemoryState state;
  return state;
}

// Units hold a LINK4 while they are free; keep them aligned for any field.
unsigned UnitSize(unsigned size) {
  if (size < sizeof(LINK4)) size = sizeof(LINK4);
  return (size + 7u) & ~7u;
}

void FreeChunks(MEM4* pool) {
  while (void* chunk = l4pop(&pool->chunks)) std::free(chunk);
  pool->pieces = LIST4{};
  pool->nUsed = 0;
}

}  // namespace

void* u4allocDefault(long size) {
  if (size < 1) {
    error4(nullptr, e4parm, E4_ZERO_PARM);
    return nullptr;
  }
  return std::calloc(1, size_t(size));
}

void* u4allocErDefault(CODE4* c4, long size) {
  void* block = u4allocDefault(size);
  if (block == nullptr && size >= 1) error4(c4, e4memory, E4_U4ALLOC_ER);
  return block;
}

void* u4allocFree(CODE4* c4, long size) {
  void* block = u4allocDefault(size);
  if (block == nullptr && c4 != nullptr && c4->opt != nullptr && c4->opt->numBuffers > 0) {
    // Give the cache's memory back and try once more.
    code4optSuspend(c4);
    block = u4allocDefault(size);
    code4optRestart(c4);
  }
  return block;
}

void u4freeDefault(void* block) { std::free(block); }

int u4allocAgainDefault(CODE4* c4, char** block, unsigned* length, unsigned newLength) {
  if (*block == nullptr && *length != 0) return error4(c4, e4parm, E4_U4ALLOC_AGAIN);
  if (newLength <= *length) return 0;
  char* fresh = static_cast<char*>(u4allocErDefault(c4, long(newLength)));
  if (fresh == nullptr) return e4memory;
  if (*block != nullptr) {
    std::memcpy(fresh, *block, *length);
    u4freeDefault(*block);
  }
  *block = fresh;
  *length = newLength;
  return 0;
}

void mem4init() {
  std::lock_guard<std::recursive_mutex> hold(PoolLock());
  State().initCount++;
}

void mem4reset() {
  std::lock_guard<std::recursive_mutex> hold(PoolLock());
  MemoryState& state = State();
  if (state.initCount > 0) state.initCount--;
  if (state.initCount > 0) return;
  while (auto* pool = static_cast<MEM4*>(l4pop(&state.pools))) FreeChunks(pool);
  while (void* block = l4pop(&state.headerBlocks)) std::free(block);
  state.freeHeaders = LIST4{};
}

MEM4* mem4createDefault(CODE4* c4, int start, unsigned unitSize, int expand, int isTemp) {
  if (start < 1 || expand < 1) {
    error4(c4, e4parm, E4_MEM4CREATE);
    return nullptr;
  }
  unitSize = UnitSize(unitSize);
  std::lock_guard<std::recursive_mutex> hold(PoolLock());
  MemoryState& state = State();
  if (!isTemp) {
    for (auto* pool = static_cast<MEM4*>(l4first(&state.pools)); pool;
         pool = static_cast<MEM4*>(l4next(&state.pools, pool))) {
      if (pool->unitSize == unitSize && pool->nRepeat > 0) {
        if (start > pool->unitStart) pool->unitStart = start;
        if (expand > pool->unitExpand) pool->unitExpand = expand;
        pool->nRepeat++;
        return pool;
      }
    }
  }
  if (state.freeHeaders.lastNode == nullptr) {
    auto* block = static_cast<HeaderBlock*>(std::calloc(1, sizeof(HeaderBlock)));
    if (block == nullptr) {
      if (c4) c4->errorCode = e4memory;
      return nullptr;
    }
    l4add(&state.headerBlocks, block);
    for (auto& header : block->headers) l4add(&state.freeHeaders, &header);
  }
  auto* pool = static_cast<MEM4*>(l4pop(&state.freeHeaders));
  *pool = MEM4{};
  pool->unitStart = start;
  pool->unitSize = unitSize;
  pool->unitExpand = expand;
  pool->nRepeat = isTemp ? -1 : 1;
  l4add(&state.pools, pool);
  return pool;
}

void* mem4allocDefault(MEM4* pool, int zero) {
  if (pool == nullptr) {
    error4(nullptr, e4parmNull, E4_MEM4ALLOC);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(PoolLock());
  if (pool->pieces.lastNode == nullptr) {
    int units = pool->chunks.lastNode == nullptr ? pool->unitStart : pool->unitExpand;
    size_t bytes = sizeof(LINK4) + size_t(units) * pool->unitSize;
    auto* chunk = static_cast<char*>(std::malloc(bytes));
    if (chunk == nullptr) return nullptr;
    l4add(&pool->chunks, chunk);
    for (int i = 0; i < units; i++) {
      l4add(&pool->pieces, chunk + sizeof(LINK4) + size_t(i) * pool->unitSize);
    }
  }
  void* unit = l4pop(&pool->pieces);
  pool->nUsed++;
  if (zero) std::memset(unit, 0, pool->unitSize);
  return unit;
}

int mem4freeDefault(MEM4* pool, void* unit) {
  if (pool == nullptr) return error4(nullptr, e4parmNull, E4_MEM4FREE);
  if (unit == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> hold(PoolLock());
  l4add(&pool->pieces, unit);
  pool->nUsed--;
  return 0;
}

void mem4release(MEM4* pool) {
  if (pool == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(PoolLock());
  if (pool->nRepeat > 1) {
    pool->nRepeat--;
    return;
  }
  MemoryState& state = State();
  FreeChunks(pool);
  l4remove(&state.pools, pool);
  *pool = MEM4{};
  l4add(&state.freeHeaders, pool);
}
