#include "xbase/relate4.h"

#include <cstring>

#include "xbase/bitmap4.h"
#include "xbase/code4.h"
#include "xbase/data4.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/file4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"
#include "xbase/util4.h"

namespace {

constexpr uint8_t kSorting = 'x';
constexpr uint8_t kSorted = 'y';

RELATE4SET* SetOf(RELATE4* relate) { return relate->relation; }

// A relation handed in: its context usable.
bool Valid(const RELATE4* relate) {
  return relate != nullptr && relate->relation != nullptr && relate->codeBase != nullptr &&
         relate->codeBase->stamp == k4validStamp;
}

// Forgets everything the first positioning built.
void Discard(RELATE4SET* set) {
  u4free(set->tuple);
  set->tuple = nullptr;
  set->isInitialized = 0;
  if (set->sortActive) sort4free(&set->sort);
  set->sortActive = 0;
  if (file4isOpen(&set->sortedFile)) file4close(&set->sortedFile);
  set->sortedFile.handle = -1;
  u4free(set->dataList);
  set->dataList = nullptr;
  set->dataCount = 0;
  set->state = 0;
  set->sortAtEnd = 0;
  set->sortExhausted = 0;
  set->tuplesRead = set->tupleCount = set->position = 0;
  set->sortedWritePos = 0;
  query4free(set->query);
  set->query = nullptr;
  u4free(set->bitmap.flags);
  set->bitmap = FLAG4{};
  set->hasBitmap = 0;
  set->evaluateAll = 0;
}

void CountData(RELATE4* relate, int* n) {
  (*n)++;
  for (auto* slave = static_cast<RELATE4*>(l4first(&relate->slaves)); slave;
       slave = static_cast<RELATE4*>(l4next(&relate->slaves, slave))) {
    CountData(slave, n);
  }
}

void ListData(RELATE4* relate, DATA4** list, int* n) {
  list[(*n)++] = relate->data;
  for (auto* slave = static_cast<RELATE4*>(l4first(&relate->slaves)); slave;
       slave = static_cast<RELATE4*>(l4next(&relate->slaves, slave))) {
    ListData(slave, list, n);
  }
}

// The data files of the set in walk order: the master, then each slave.
int BuildDataList(RELATE4SET* set) {
  int n = 0;
  CountData(&set->relate, &n);
  auto* list = static_cast<DATA4**>(u4alloc(long(sizeof(DATA4*)) * n));
  if (list == nullptr) return -1;
  u4free(set->dataList);
  set->dataList = list;
  set->dataCount = 0;
  ListData(&set->relate, list, &set->dataCount);
  return 0;
}

void ClearRead(RELATE4* relate) {
  relate->readDone = 0;
  for (auto* slave = static_cast<RELATE4*>(l4first(&relate->slaves)); slave;
       slave = static_cast<RELATE4*>(l4next(&relate->slaves, slave))) {
    ClearRead(slave);
  }
}

// The deepest last relation of the tree, where a walk starts.
RELATE4* Deepest(RELATE4* relate) {
  while (auto* last = static_cast<RELATE4*>(l4last(&relate->slaves))) relate = last;
  return relate;
}

// Reads what the composite record needs beyond the positioned master: 0,
// 101 when the record does not pass the query, or an error. A set is its
// master alone, so only the query is left to decide.
int ReadRest(RELATE4SET* set) {
  RELATE4* master = &set->relate;
  master->readDone = 1;
  if (set->state == kSorted || set->query == nullptr) return 0;
  if (!relate4passes(set, d4recNo(master->data))) return r4skipRecord;
  int rc = query4test(set->query);
  if (rc == 1) return 0;
  if (rc == 0) return r4skipRecord;
  return rc < 0 ? -1 : rc;
}

// Moves the unsorted master one record in direction d, over the records
// that its bitmap excludes when it walks in record order.
int MoveMaster(RELATE4SET* set, int d) {
  DATA4* data = set->relate.data;
  long n = d;
  if (set->hasBitmap && data->tagSelected == nullptr && data->recNum >= 1) {
    long count = dfile4recCount(data->dataFile);
    if (count < 0) return -1;
    n = d * relate4distance(set, data->recNum, d, count);
  }
  return d4skip(data, n);
}

// ---- the sorted set ----

int BuildSorted(RELATE4SET* set) {
  RELATE4* master = &set->relate;
  CODE4* c4 = master->codeBase;
  EXPR4* expr = expr4parse(master->data, set->sortExpr);
  if (expr == nullptr) return -1;
  set->state = kSorting;
  set->sortExhausted = 0;
  int rc = relate4top(master);
  if (rc != 0) {
    expr4free(expr);
    if (rc != r4eof) return rc;
    // Nothing to sort: an empty sorted set.
    set->state = kSorted;
    set->tupleCount = set->tuplesRead = set->position = 0;
    set->sortExhausted = 1;
    set->sortAtEnd = r4eof;
    return 0;
  }
  const int keyLen = expr4keyLen(expr);
  if (keyLen <= 0 || BuildDataList(set) != 0) {
    expr4free(expr);
    return -1;
  }
  set->tupleSize = uint32_t(4 * set->dataCount);
  set->tuple = static_cast<uint32_t*>(u4alloc(long(set->tupleSize)));
  if (set->tuple == nullptr) {
    expr4free(expr);
    return -1;
  }
  rc = sort4initFree(&set->sort, c4, keyLen, int(set->tupleSize), master);
  if (rc == 0) {
    set->sortActive = 1;
    rc = relate4top(master);
  }
  long count = 0;
  while (rc == 0) {
    for (int i = 0; i < set->dataCount; i++) {
      DATA4* data = set->dataList[i];
      set->tuple[i] = (d4eof(data) || d4bof(data) || data->recNum < 1) ? 0 : uint32_t(data->recNum);
    }
    char* key = nullptr;
    if (expr4key(expr, &key, nullptr) < 0) {
      rc = -1;
      break;
    }
    // The sequence number keeps equal keys in walk order.
    rc = sort4put(&set->sort, ++count, key, set->tuple);
    if (rc == 0) rc = relate4skip(master, 1);
  }
  expr4free(expr);
  if (rc < 0 || rc == r4quit) {
    u4free(set->tuple);
    set->tuple = nullptr;
    return rc;
  }
  set->tupleCount = uint32_t(count);
  set->state = kSorted;
  if (set->backwardsEnabled && file4tempLow(&set->sortedFile, c4, 1, 1, nullptr) != 0) return -1;
  if (sort4getInitFree(&set->sort, master) != 0) {
    set->sortActive = 0;
    return -1;
  }
  set->tuplesRead = 0;
  set->sortedWritePos = 0;
  set->position = 0;
  return 0;
}

// Positions every data file on sorted tuple n: 0, 3 past the last, 4
// before the first, or an error.
int GoSorted(RELATE4SET* set, long n) {
  if (n < 1) return r4bof;
  if (uint64_t(n) > set->tuplesRead) {
    while (uint64_t(n) > set->tuplesRead) {
      if (set->sortExhausted) {
        set->sortAtEnd = r4eof;
        return r4eof;
      }
      long seq = 0;
      void* key = nullptr;
      void* extra = nullptr;
      int rc = sort4get(&set->sort, &seq, &key, &extra);
      if (rc == r4done) {
        set->sortActive = 0;
        set->sortExhausted = 1;
        set->sortAtEnd = r4eof;
        return r4eof;
      }
      if (rc != 0) {
        set->sortActive = 0;
        return rc < 0 ? rc : -1;
      }
      std::memcpy(set->tuple, extra, set->tupleSize);
      set->tuplesRead++;
      if (set->backwardsEnabled) {
        if (file4write(&set->sortedFile, set->sortedWritePos, set->tuple, set->tupleSize) != 0) return -1;
        set->sortedWritePos += set->tupleSize;
      }
    }
  } else {
    if (!set->backwardsEnabled) return -1;
    if (file4readAll(&set->sortedFile, uint64_t(n - 1) * set->tupleSize, set->tuple, set->tupleSize) != 0) {
      return -1;
    }
  }
  for (int i = 0; i < set->dataCount; i++) {
    int rc = set->tuple[i] != 0 ? d4go(set->dataList[i], long(set->tuple[i])) : d4goEof(set->dataList[i]);
    if (rc < 0) return rc;
  }
  set->relate.readDone = 1;
  set->sortAtEnd = 0;
  return 0;
}

int SortedNext(RELATE4SET* set) {
  int rc = GoSorted(set, long(set->position) + 1);
  if (rc == 0) set->position++;
  if (rc == r4eof) set->position = set->tupleCount + 1;
  return rc;
}

int SortedPrevious(RELATE4SET* set) {
  int rc = GoSorted(set, long(set->position) - 1);
  if (rc == 0) set->position--;
  if (rc == r4bof) set->position = 0;
  return rc;
}

// The first positioning: the query, the data list and the sorted set.
int Initialise(RELATE4* relate, long location) {
  if (!Valid(relate)) {
    if (relate == nullptr) return error4(nullptr, e4parmNull, location);
    return -1;
  }
  CODE4* c4 = relate->codeBase;
  if (c4->errorCode < 0) return -1;
  RELATE4SET* set = SetOf(relate);
  // A sorted set that cannot go back starts again from its first tuple.
  if (set->state == kSorted && !set->backwardsEnabled) Discard(set);
  if (set->isInitialized) return 0;
  const bool cacheStarted = c4->opt != nullptr;
  if (BuildDataList(set) != 0) return -1;
  set->isInitialized = 1;
  if (set->queryText != nullptr && set->query == nullptr) {
    set->query = query4create(set, set->queryText);
    if (set->query == nullptr || bitmap4build(set->query) != 0 || query4order(set->query) != 0) return -1;
  }
  if (set->sortExpr != nullptr) {
    int rc = BuildSorted(set);
    if (rc < 0 || rc == r4quit) return rc;
  }
  if (cacheStarted) code4optRestart(c4);
  return 0;
}

bool Sorted(const RELATE4SET* set) { return set->state == kSorted; }

}  // namespace

RELATE4* relate4init(DATA4* data) {
  if (data == nullptr) {
    error4(nullptr, e4parmNull, E4_RELATE4_INIT);
    return nullptr;
  }
  if (code4verify(data, 2, E4_RELATE4_INIT)) return nullptr;
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return nullptr;
  auto* set = static_cast<RELATE4SET*>(u4alloc(sizeof(RELATE4SET)));
  if (set == nullptr) return nullptr;
  std::memset(static_cast<void*>(set), 0, sizeof(RELATE4SET));
  set->sortedFile.handle = -1;
  RELATE4* master = &set->relate;
  master->matchKind = r4exact;
  master->errorAction = r4blank;
  master->relation = set;
  master->codeBase = c4;
  master->data = data;
  dfile4recCount(data->dataFile);
  return master;
}

int relate4sortSet(RELATE4* relate, const char* expression) {
  if (!Valid(relate) || relate->codeBase->errorCode < 0) return -1;
  RELATE4SET* set = SetOf(relate);
  Discard(set);
  u4free(set->sortExpr);
  set->sortExpr = nullptr;
  if (expression == nullptr || expression[0] == 0) return 0;
  const size_t n = std::strlen(expression) + 1;
  set->sortExpr = static_cast<char*>(u4alloc(long(n)));
  if (set->sortExpr == nullptr) return -1;
  std::memcpy(set->sortExpr, expression, n);
  return 0;
}

int relate4skipEnable(RELATE4* relate, int flag) {
  if (!Valid(relate) || relate->codeBase->errorCode < 0) return -1;
  RELATE4SET* set = SetOf(relate);
  if (set->backwardsEnabled == (flag ? 1 : 0)) return 0;
  set->backwardsEnabled = flag ? 1 : 0;
  Discard(set);
  return 0;
}

int relate4changed(RELATE4* relate) {
  if (relate == nullptr) return error4(nullptr, e4parmNull, E4_RELATE4_CHANGED);
  if (!Valid(relate) || relate->codeBase->errorCode < 0) return -1;
  Discard(SetOf(relate));
  return 0;
}

int relate4top(RELATE4* relate) {
  if (int rc = Initialise(relate, E4_RELATE4_TOP)) return rc;
  RELATE4SET* set = SetOf(relate);
  ClearRead(&set->relate);
  set->current = Deepest(&set->relate);
  int rc;
  if (Sorted(set)) {
    set->position = 0;
    rc = SortedNext(set);
  } else {
    rc = d4top(set->relate.data);
  }
  if (rc != 0) return rc;
  rc = ReadRest(set);
  if (rc == r4skipRecord) return relate4skip(relate, 1);
  return rc;
}

int relate4bottom(RELATE4* relate) {
  if (Valid(relate) && !SetOf(relate)->backwardsEnabled) {
    // Positioning at the bottom turns backward skipping on.
    Discard(SetOf(relate));
    if (relate4skipEnable(relate, 1) != 0) return -1;
  }
  if (int rc = Initialise(relate, E4_RELATE4_BOTTOM)) return rc;
  RELATE4SET* set = SetOf(relate);
  ClearRead(&set->relate);
  set->current = Deepest(&set->relate);
  int rc;
  if (Sorted(set)) {
    if (set->tupleCount == 0) {
      set->sortAtEnd = r4eof;
      return r4eof;
    }
    rc = GoSorted(set, long(set->tupleCount));
    if (rc != 0) return rc;
    set->position = set->tupleCount;
  } else {
    rc = d4bottom(set->relate.data);
    if (rc != 0) return rc;
  }
  rc = ReadRest(set);
  if (rc == r4skipRecord) rc = relate4skip(relate, -1);
  // Every record was passed over: the master stands at its end.
  if (rc == r4bof && !Sorted(set)) return d4goEof(set->relate.data);
  return rc;
}

int relate4skip(RELATE4* relate, long count) {
  if (relate == nullptr) return error4(nullptr, e4parmNull, E4_RELATE4_SKIP);
  if (!Valid(relate)) return -1;
  CODE4* c4 = relate->codeBase;
  if (c4->errorCode < 0) return -1;
  RELATE4SET* set = SetOf(relate);
  if (!set->isInitialized) return error4(c4, e4info, E4_RELATE4_TOP_FIRST);
  if (count < 0 && !set->backwardsEnabled) return error4(c4, e4info, E4_RELATE4_SKIP_ENABLE);
  if (count == 0) return 0;
  const int d = count > 0 ? 1 : -1;
  int rc = 0;
  while (count != 0) {
    ClearRead(&set->relate);
    if (Sorted(set)) {
      rc = d > 0 ? SortedNext(set) : SortedPrevious(set);
    } else {
      rc = MoveMaster(set, d);
    }
    if (rc != 0) break;
    rc = ReadRest(set);
    if (rc == r4skipRecord) {
      rc = 0;
      continue;
    }
    if (rc != 0) break;
    count -= d;
  }
  if (Sorted(set) && rc == r4eof) set->sortAtEnd = r4eof;
  return rc;
}

int relate4eof(RELATE4* relate) {
  if (relate == nullptr) return error4(nullptr, e4parmNull, E4_RELATE4_EOF);
  if (!Valid(relate)) return -1;
  RELATE4SET* set = SetOf(relate);
  if (Sorted(set)) return set->sortAtEnd;
  return d4eof(set->relate.data);
}

int relate4free(RELATE4* relate, int closeFiles) {
  if (!Valid(relate)) return -1;
  CODE4* c4 = relate->codeBase;
  RELATE4SET* set = SetOf(relate);
  const int saved = error4set(c4, 0);
  Discard(set);
  int rc = 0;
  if (closeFiles && set->relate.data != nullptr && d4close(set->relate.data) != 0) rc = -1;
  u4free(set->sortExpr);
  u4free(set);
  error4set(c4, saved);
  return rc;
}

int relate4passes(const RELATE4SET* set, long rec) {
  if (!set->hasBitmap) return 1;
  const FLAG4& f = set->bitmap;
  if (rec < 0 || uint64_t(rec) >= f.numFlags) return f.isFlip ? 1 : 0;
  const int bit = flag4isSet(&f, (unsigned long)rec) ? 1 : 0;
  return f.isFlip ? !bit : bit;
}

long relate4distance(const RELATE4SET* set, long rec, int direction, long count) {
  long n = 1;
  if (direction > 0) {
    while (rec + n <= count && !relate4passes(set, rec + n)) n++;
  } else {
    while (rec - n >= 1 && !relate4passes(set, rec - n)) n++;
  }
  return n;
}
