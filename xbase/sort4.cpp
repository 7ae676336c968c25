#include "xbase/sort4.h"

#include <cstring>
#include <utility>

#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"

namespace {

constexpr unsigned kMinPointers = 256;
// A chunk begins with its ring link; items follow at this offset.
constexpr unsigned kChunkHeader = 16;
static_assert(sizeof(LINK4) <= kChunkHeader, "chunk header holds the link");
// Bounds of one run's read buffer during the merge.
constexpr unsigned kMaxRunBuffer = 1u << 20;

int32_t RecOf(const SORT4* sort, const char* item) {
  int32_t rec;
  std::memcpy(&rec, item + sort->sortLen, sizeof rec);
  return rec;
}

// <0, 0, >0: key bytes first, then the record number.
int Compare(const SORT4* sort, const char* a, const char* b) {
  int rc = sort->cmp(a, b, size_t(sort->sortLen));
  if (rc != 0) return rc;
  int32_t ra = RecOf(sort, a), rb = RecOf(sort, b);
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

// Quicksort of the pointer array with an explicit stack: median of three as
// pivot, ranges of 8 or fewer items by straight insertion.
void SortPointers(const SORT4* sort, char** p, unsigned count) {
  if (count < 2) return;
  struct Range {
    long low, high;
  };
  Range stack[64];
  int top = 0;
  stack[top++] = {0, long(count) - 1};
  while (top > 0) {
    Range r = stack[--top];
    while (r.high - r.low > 7) {
      long mid = r.low + (r.high - r.low) / 2;
      // The low slot ends up holding the median of low, middle and high.
      if (Compare(sort, p[mid], p[r.high]) > 0) std::swap(p[mid], p[r.high]);
      if (Compare(sort, p[r.low], p[r.high]) > 0) std::swap(p[r.low], p[r.high]);
      if (Compare(sort, p[mid], p[r.low]) > 0) std::swap(p[mid], p[r.low]);
      char* pivot = p[r.low];
      long i = r.low, j = r.high + 1;
      while (true) {
        do i++; while (i <= r.high && Compare(sort, p[i], pivot) < 0);
        do j--; while (Compare(sort, p[j], pivot) > 0);
        if (i >= j) break;
        std::swap(p[i], p[j]);
      }
      std::swap(p[r.low], p[j]);
      // The larger part waits on the stack; the smaller is worked on next.
      if (j - r.low > r.high - j) {
        stack[top++] = {r.low, j - 1};
        r.low = j + 1;
      } else {
        stack[top++] = {j + 1, r.high};
        r.high = j - 1;
      }
    }
    for (long i = r.low + 1; i <= r.high; i++) {
      char* item = p[i];
      long j = i - 1;
      while (j >= r.low && Compare(sort, p[j], item) > 0) {
        p[j + 1] = p[j];
        j--;
      }
      p[j + 1] = item;
    }
  }
}

void FreeChunks(SORT4* sort) {
  while (void* chunk = l4pop(&sort->chunks)) u4free(chunk);
  sort->poolN = 0;
}

// Makes more item slots: a new chunk, or, when none can be had, the free
// tail of the pointer array itself.
void MakeSlots(SORT4* sort) {
  if (sort->pointersInit >= sort->pointersMax || !sort->isMemAvail) return;
  auto* chunk = static_cast<char*>(u4alloc(long(sort->chunkSize)));
  unsigned from = sort->pointersInit;
  if (chunk != nullptr) {
    l4add(&sort->chunks, chunk);
    sort->poolN++;
    unsigned n = sort->poolEntries;
    if (n > sort->pointersMax - from) n = sort->pointersMax - from;
    for (unsigned i = 0; i < n; i++) sort->pointers[from + i] = chunk + kChunkHeader + i * sort->totLen;
    sort->pointersInit += n;
    return;
  }
  // Items carved from the pointer array behind the pointers still needed.
  const unsigned c = sort->pointersUsed, m = sort->pointersMax;
  const size_t ptr = sizeof(char*);
  long extra = (long(m - c) * long(ptr) - long(ptr)) / long(sort->totLen + ptr);
  sort->isMemAvail = 0;
  if (extra <= 0) return;
  unsigned newMax = c + unsigned(extra);
  char* area = reinterpret_cast<char*>(sort->pointers + newMax);
  for (unsigned i = 0; i < unsigned(extra); i++) sort->pointers[from + i] = area + i * sort->totLen;
  sort->pointersInit = from + unsigned(extra);
  sort->pointersMax = newMax;
}

// Writes the items in memory, sorted, as one run.
int Spool(SORT4* sort) {
  CODE4* c4 = sort->codeBase;
  SortPointers(sort, sort->pointers, sort->pointersUsed);
  if (!sort->fileOpen) {
    if (int rc = file4tempLow(&sort->file, c4, 1, 1, nullptr)) return rc < 0 ? rc : error4(c4, e4create, E4_SORT4_PUT);
    sort->fileOpen = 1;
    if (int rc = file4seqWriteInit(&sort->seqwrite, &sort->file, 0, sort->seqwriteBuffer, sort->seqwriteLen)) return rc;
  }
  for (unsigned i = 0; i < sort->pointersUsed; i++) {
    if (int rc = file4seqWrite(&sort->seqwrite, sort->pointers[i], sort->totLen)) return rc;
  }
  sort->spoolEnd += uint64_t(sort->pointersUsed) * sort->totLen;
  if (sort->spoolsMax == sort->runEndsMax) {
    unsigned bigger = sort->runEndsMax ? sort->runEndsMax * 2 : 16;
    auto* ends = static_cast<uint64_t*>(u4allocEr(c4, long(sizeof(uint64_t)) * bigger));
    if (ends == nullptr) return e4memory;
    if (sort->runEnds) std::memcpy(ends, sort->runEnds, sizeof(uint64_t) * sort->spoolsMax);
    u4free(sort->runEnds);
    sort->runEnds = ends;
    sort->runEndsMax = bigger;
  }
  sort->runEnds[sort->spoolsMax++] = sort->spoolEnd;
  sort->pointersUsed = 0;
  return 0;
}

// Reads the next part of a run into its buffer: bytes read, or an error.
int Refill(SORT4* sort, S4SPOOL* run, unsigned capacity) {
  run->pos = 0;
  run->len = 0;
  if (run->disk >= run->end) return 0;
  uint64_t left = run->end - run->disk;
  unsigned want = left < capacity ? unsigned(left) : capacity;
  unsigned got = file4read(&sort->file, run->disk, run->buffer, want);
  if (sort->codeBase->errorCode < 0) return -1;
  if (got % sort->totLen != 0 || (got == 0 && want != 0)) return error4(sort->codeBase, e4read, E4_SORT4_GET);
  run->disk += got;
  run->len = got;
  return int(got);
}

// The run at index i moves to its place by its current item (binary
// search over the runs after it, which are in order).
void Reposition(SORT4* sort, unsigned i) {
  S4SPOOL moving = sort->spools[i];
  const char* item = moving.buffer + moving.pos;
  unsigned low = i + 1, high = sort->spoolsN;
  while (low < high) {
    unsigned mid = (low + high) / 2;
    const S4SPOOL& other = sort->spools[mid];
    if (Compare(sort, other.buffer + other.pos, item) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  std::memmove(&sort->spools[i], &sort->spools[i + 1], sizeof(S4SPOOL) * (low - 1 - i));
  sort->spools[low - 1] = moving;
}

// Prepares the merge of the runs written: one read buffer per run, a whole
// number of items each, from the memory the items held before.
int MergeInit(SORT4* sort) {
  const unsigned runs = sort->spoolsMax;
  uint64_t budget = uint64_t(sort->chunkSize) * (sort->poolN ? sort->poolN : 1);
  if (budget < uint64_t(runs) * sort->totLen * 16) budget = uint64_t(runs) * sort->totLen * 16;
  uint64_t each = budget / runs;
  if (each > kMaxRunBuffer) each = kMaxRunBuffer;
  unsigned per = unsigned(each / sort->totLen);
  if (per < 1) per = 1;
  unsigned capacity = per * sort->totLen;
  sort->spools = static_cast<S4SPOOL*>(u4alloc(long(sizeof(S4SPOOL)) * runs));
  sort->mergeMemory = static_cast<char*>(u4alloc(long(capacity) * runs));
  if (sort->spools == nullptr || sort->mergeMemory == nullptr) return e4memory;
  sort->seqwriteLen = capacity;  // the runs' buffer size from now on
  sort->spoolsN = runs;
  uint64_t start = 0;
  for (unsigned k = 0; k < runs; k++) {
    S4SPOOL& run = sort->spools[k];
    run.buffer = sort->mergeMemory + uint64_t(k) * capacity;
    run.disk = start;
    run.end = sort->runEnds[k];
    run.spoolI = int(k);
    start = run.end;
    int got = Refill(sort, &run, capacity);
    if (got < 0) return got;
  }
  // Empty runs leave the table; the rest is ordered by the current items.
  unsigned kept = 0;
  for (unsigned k = 0; k < runs; k++) {
    if (sort->spools[k].len > 0) sort->spools[kept++] = sort->spools[k];
  }
  sort->spoolsN = kept;
  for (unsigned k = kept; k-- > 0;) Reposition(sort, k);
  return 0;
}

void Clear(SORT4* sort) {
  CODE4* c4 = sort->codeBase;
  std::memset(static_cast<void*>(sort), 0, sizeof(SORT4));
  sort->codeBase = c4;
  sort->file.handle = -1;
}

int InitLow(SORT4* sort, CODE4* c4, int sortLen, int infoLen) {
  std::memset(static_cast<void*>(sort), 0, sizeof(SORT4));
  sort->codeBase = c4;
  sort->file.handle = -1;
  sort->sortLen = sortLen;
  sort->infoLen = infoLen;
  sort->infoOffset = unsigned(sortLen) + 4;
  sort->totLen = sort->infoOffset + unsigned(infoLen);
  sort->cmp = std::memcmp;
  long pool = c4->memSizeSortPool > long(kChunkHeader + sort->totLen) ? c4->memSizeSortPool
                                                                      : long(kChunkHeader + sort->totLen);
  sort->chunkSize = unsigned(pool);
  sort->poolEntries = (sort->chunkSize - kChunkHeader) / sort->totLen;
  sort->pointersMax = unsigned(pool / 4);
  if (sort->pointersMax < kMinPointers) sort->pointersMax = kMinPointers;
  sort->isMemAvail = 1;
  sort->seqwriteLen = unsigned(c4->memSizeSortBuffer > 1024 ? c4->memSizeSortBuffer : 1024);
  sort->seqwriteBuffer = static_cast<char*>(u4alloc(long(sort->seqwriteLen)));
  while (sort->pointersMax >= kMinPointers) {
    sort->pointers = static_cast<char**>(u4alloc(long(sizeof(char*)) * sort->pointersMax));
    if (sort->pointers != nullptr) break;
    sort->pointersMax /= 2;
  }
  if (sort->seqwriteBuffer == nullptr || sort->pointers == nullptr) return e4memory;
  MakeSlots(sort);
  if (sort->pointersInit == 0) return e4memory;
  return 0;
}

}  // namespace

int sort4free(SORT4* sort) {
  if (sort == nullptr) return 0;
  int rc = 0;
  if (sort->fileOpen) {
    // Closing the spool removes it.
    if (file4close(&sort->file) < 0) rc = -1;
  }
  FreeChunks(sort);
  u4free(sort->pointers);
  u4free(sort->seqwriteBuffer);
  u4free(sort->runEnds);
  u4free(sort->spools);
  u4free(sort->mergeMemory);
  Clear(sort);
  return rc;
}

int sort4init(SORT4* sort, CODE4* c4, int sortLen, int infoLen) {
  if (sort == nullptr || c4 == nullptr) return error4(c4, e4parmNull, E4_SORT4_INIT);
  if (c4->errorCode < 0) return -1;
  if (sortLen < 0 || infoLen < 0) return error4(c4, e4parm, E4_SORT4_INIT);
  if (InitLow(sort, c4, sortLen, infoLen) != 0) {
    sort4free(sort);
    return error4(c4, e4memory, E4_SORT4_INIT);
  }
  return 0;
}

int sort4initFree(SORT4* sort, CODE4* c4, int sortLen, int infoLen, RELATE4*) {
  if (sort == nullptr || c4 == nullptr) return error4(c4, e4parmNull, E4_SORT4_INIT_FREE);
  if (c4->errorCode < 0) return -1;
  if (sortLen < 0 || infoLen < 0) return error4(c4, e4parm, E4_SORT4_INIT_FREE);
  bool suspended = false;
  while (InitLow(sort, c4, sortLen, infoLen) != 0) {
    sort4free(sort);
    // The block cache gives its memory back once; nothing else can be freed.
    if (suspended || c4->opt == nullptr) return error4(c4, e4memory, E4_SORT4_INIT_FREE);
    code4optSuspend(c4);
    error4set(c4, 0);
    suspended = true;
  }
  return 0;
}

int sort4put(SORT4* sort, long rec, const void* key, const void* extra) {
  if (sort == nullptr || rec < 0 || key == nullptr) {
    return error4(sort ? sort->codeBase : nullptr, e4parm, E4_SORT4_PUT);
  }
  if (sort->pointersUsed >= sort->pointersInit) MakeSlots(sort);
  if (sort->pointersUsed >= sort->pointersInit) {
    if (int rc = Spool(sort)) return rc;
  }
  char* item = sort->pointers[sort->pointersUsed++];
  std::memcpy(item, key, size_t(sort->sortLen));
  int32_t r = int32_t(rec);
  std::memcpy(item + sort->sortLen, &r, sizeof r);
  if (sort->infoLen > 0) {
    if (extra) {
      std::memcpy(item + sort->infoOffset, extra, size_t(sort->infoLen));
    } else {
      std::memset(item + sort->infoOffset, 0, size_t(sort->infoLen));
    }
  }
  return 0;
}

int sort4getInit(SORT4* sort) {
  if (sort == nullptr) return error4(nullptr, e4parmNull, E4_SORT4_GET_INIT);
  CODE4* c4 = sort->codeBase;
  if (sort->spoolsMax == 0) {
    SortPointers(sort, sort->pointers, sort->pointersUsed);
    u4free(sort->seqwriteBuffer);
    sort->seqwriteBuffer = nullptr;
    sort->pointersI = 0;
    return 0;
  }
  if (sort->pointersUsed > 0) {
    if (int rc = Spool(sort)) {
      sort4free(sort);
      return rc;
    }
  }
  if (int rc = file4seqWriteClose(&sort->seqwrite)) {
    sort4free(sort);
    return rc;
  }
  u4free(sort->seqwriteBuffer);
  sort->seqwriteBuffer = nullptr;
  u4free(sort->pointers);
  sort->pointers = nullptr;
  const unsigned chunks = sort->poolN;
  FreeChunks(sort);
  sort->poolN = chunks;
  int rc = MergeInit(sort);
  sort->poolN = 0;
  if (rc != 0) {
    sort4free(sort);
    return rc == e4memory ? error4(c4, e4memory, E4_SORT4_GET_INIT) : rc;
  }
  return 0;
}

int sort4getInitFree(SORT4* sort, RELATE4*) {
  if (sort == nullptr) return error4(nullptr, e4parmNull, E4_SORT4_GET_INIT_FREE);
  return sort4getInit(sort);
}

int sort4get(SORT4* sort, long* rec, void** key, void** extra) {
  if (sort == nullptr) return error4(nullptr, e4parmNull, E4_SORT4_GET);
  char* item = nullptr;
  if (sort->spoolsMax == 0) {
    if (sort->pointers != nullptr && sort->pointersI < sort->pointersUsed) item = sort->pointers[sort->pointersI++];
  } else {
    if (sort->pendingAdvance && sort->spoolsN > 0) {
      sort->pendingAdvance = 0;
      S4SPOOL* run = &sort->spools[0];
      run->pos += sort->totLen;
      if (run->pos >= run->len) {
        int got = Refill(sort, run, sort->seqwriteLen);
        if (got < 0) {
          int code = sort->codeBase->errorCode < 0 ? sort->codeBase->errorCode : got;
          sort4free(sort);
          return code;
        }
        if (got == 0) {
          std::memmove(&sort->spools[0], &sort->spools[1], sizeof(S4SPOOL) * (sort->spoolsN - 1));
          sort->spoolsN--;
        }
      }
      if (sort->spoolsN > 0 && sort->spools[0].len > 0) Reposition(sort, 0);
    }
    if (sort->spoolsN > 0) {
      item = sort->spools[0].buffer + sort->spools[0].pos;
      sort->pendingAdvance = 1;
    }
  }
  if (item == nullptr) {
    sort4free(sort);
    return r4done;
  }
  if (rec) *rec = RecOf(sort, item);
  if (key) *key = item;
  if (extra) *extra = item + sort->infoOffset;
  return 0;
}
