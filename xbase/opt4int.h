// The insides of the block cache and the two worker threads, shared by the
// file layer (file4.cpp), the cache (opt4.cpp) and the threads
// (opt4thread.cpp). Nothing outside those three includes this header.
//
// Threads and locks. The caller's thread owns the cache, every FILE4 field
// and the context. The delayed-write thread writes queued entries; the
// read-ahead thread reads queued requests. Locks, in the only order in which
// two are ever held together:
//   file lock (FILE4::lock)  ->  delayed-write lock  ->  spare-buffer lock
// The read-ahead lock is never held with another. No thread waits while it
// holds a file lock, and the delayed-write thread takes no file lock at all:
// positioned writes need none. Waiting is done on condition variables (or
// atomic waits) that the other side notifies; nothing spins.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "xbase/d4data.h"

namespace platform {
class Env;
}

// A manual-reset event: set until reset, and every waiter wakes.
class Event4 {
 public:
  void Set();
  void Reset();
  void Wait();
  bool WaitFor(std::chrono::milliseconds limit);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

// Entry states of both queues.
enum : int { k4queued = 1, k4inProgress = 2, k4finished = 3 };

// A write handed to the delayed-write thread. The caller keeps `data`
// unchanged until `completion` has run.
struct WRITE4ENTRY {
  LINK4 queueLink;  // in the thread's queue (first: the queue's elements are entries)
  LINK4 fileLink;   // in the file's delayedWrites
  FILE4* file;
  platform::Env* env;  // the system layer the caller saw when it queued
  int handle;
  const unsigned char* data;
  uint64_t pos;
  uint32_t len;
  int state;
  int result;
  void (*completion)(void*);
  void* completionArg;
};

// A read handed to the read-ahead thread; `completion` runs (under the
// read-ahead lock) with the bytes read, or -1 when the read failed or was
// cancelled.
struct AHEAD4ENTRY {
  LINK4 queueLink;
  LINK4 fileLink;  // in the file's readAheads
  FILE4* file;
  platform::Env* env;
  unsigned char* buffer;
  uint32_t pos;
  uint32_t len;
  int state;
  long result;
  void (*completion)(void*, long);
  void* completionArg;
};

// One worker thread with its queue. `lock` guards the queue, the files'
// lists of this kind and every entry's fields.
struct THREAD4 {
  CODE4* c4 = nullptr;
  std::mutex lock;
  std::condition_variable done;  // an entry left the queue
  Event4 work;                   // the queue may hold work, or stop is asked
  Event4 started;
  std::atomic<int> running{0};
  std::atomic<int> stop{0};
  LIST4 queue{};
  MEM4* pool = nullptr;
  std::thread thread;
  // The first delayed write that failed, reported on the caller's thread.
  int failure = 0;
  std::string failedName;
};

// ---- the cache ----

struct OPT4LIST;

struct OPT4BLOCK {
  LINK4 hashLink;  // first: hash slots hold blocks
  LINK4 lruLink;   // in its LRU list, or in avail
  uint8_t changed;
  uint32_t len;  // valid bytes
  unsigned char* data;
  uint32_t useStamp;
  uint32_t ageStamp;
  double hits;
  OPT4LIST* list;  // null while in avail
  FILE4* file;     // null while free
  uint32_t pos;
};

struct OPT4LIST {
  LIST4 blocks;  // least recently used first (links are lruLink)
  OPT4BLOCK* candidate;  // blocks from the least recently used end up to it may be taken
  uint32_t minCount;
  uint32_t useLimit;
  uint32_t ageLimit;
  int countdown;
  int index;  // in OPT4::lists
};

struct OPT4 {
  // Kept while the cache is suspended.
  LIST4 bufferedFiles{};
  bool started = false;
  bool refreshOff = false;
  uint32_t hashCursor = 0;

  // Geometry; numBuffers 0 while the cache does not run.
  uint8_t blockShift = 0;
  uint8_t offsetShift = 0;
  uint32_t numBuffers = 0;
  uint32_t blocksPerBuffer = 0;
  uint32_t blockSize = 0;
  uint32_t bufferSize = 0;
  uint32_t hashMask = 0;
  uint32_t numBlocks = 0;
  uint32_t hashSize = 0;
  uint32_t useCount = 0;
  uint32_t ageCount = 0;
  uint32_t ageStep = 0;
  LIST4* hashTable = nullptr;
  OPT4LIST* lists[5] = {};  // victim-search order: other, data A, index A, data B, index B
  OPT4LIST other{}, dataA{}, indexA{}, dataB{}, indexB{};
  LIST4 avail{};
  OPT4BLOCK* blocks = nullptr;
  unsigned char** buffers = nullptr;

  // The data-file write buffer: consecutive dirty blocks of one file, written
  // by one delayed write; two buffers so that one fills while one is written.
  unsigned char* writeBuffers[2] = {};
  std::atomic<int> written[2] = {{1}, {1}};  // 1: free
  int writeCurrent = 0;
  FILE4* writeFile = nullptr;
  uint32_t writeStart = 0;
  uint32_t writeEnd = 0;
  uint32_t writeBlocks = 0;

  // The sequential read-ahead's buffer, and the range it is filling blocks from.
  unsigned char* readBuffer = nullptr;
  FILE4* readFile = nullptr;
  uint32_t readPos = 0;
  uint32_t readLen = 0;

  // Spare buffers for block write-backs handed to the delayed-write thread.
  std::mutex spareLock;
  std::condition_variable spareFreed;
  unsigned char* spare[2] = {};
  bool spareBusy[2] = {};
  struct SpareTicket {
    OPT4* opt;
    int slot;
  } spareTickets[2] = {};
};

// ---- between the three modules ----

inline THREAD4* opt4writer(const CODE4* c4) {
  return c4 ? static_cast<THREAD4*>(c4->delayWriteThread) : nullptr;
}
inline THREAD4* opt4reader(const CODE4* c4) {
  return c4 ? static_cast<THREAD4*>(c4->readAheadThread) : nullptr;
}
inline bool opt4running(const CODE4* c4) { return c4 && c4->opt && c4->opt->numBuffers > 0; }
// The range [pos, pos+len) lies below this when the cache may serve it.
constexpr uint64_t k4cacheLimit = uint64_t(1) << 31;

// File layer.
// The newest bytes: the file's advance buffer, the queued writes, the disk.
unsigned file4readInternal(FILE4* file, uint64_t pos, void* buffer, unsigned length);
// Bytes read (queued writes win over the disk), or -1. Safe on the
// read-ahead thread.
long file4readQueued(FILE4* file, platform::Env& env, uint64_t pos, void* buffer, unsigned length);
// The same under the file lock and the writer's lock, with writes queued.
long file4readMergedLocked(FILE4* file, platform::Env& env, uint64_t pos, void* buffer,
                           unsigned length);
// A cache-only temporary file gets its file on disk, keeping its blocks.
int file4makeReal(FILE4* file);
// The cache, then (unless write-behind keeps it) the disk; with `delay` a
// write at position 0 goes to the delayed-write thread. completion(arg)
// always runs once, now or when the queued write is done.
int file4writeInternal(FILE4* file, uint64_t pos, const void* data, unsigned length, int delay,
                       void (*completion)(void*), void* completionArg);
// Writes to disk now, after the queued writes it overlaps are resolved.
int file4writeLow(FILE4* file, uint64_t pos, const void* data, unsigned length);
// Sets the disk's length (queued writes cut back first).
int file4lenSetLow(FILE4* file, uint64_t length);
// The disk's length, or all bits set.
uint64_t file4lenLow(FILE4* file);
// A data file is never written before the transaction log is flushed.
void file4flushLogFirst(FILE4* file);

// Cache. Reads and writes below k4cacheLimit of a cached file; the byte
// count, or negative after a report.
long opt4read(FILE4* file, uint32_t pos, void* buffer, unsigned length);
long opt4write(FILE4* file, uint32_t pos, const void* data, unsigned length);
// The cache's part of a length change: 1 when the change is complete
// (write-behind), 0 when the disk must follow, or an error.
int opt4lenSet(FILE4* file, uint64_t length);
// Copies bytes written around the cache into blocks that hold them.
void opt4update(FILE4* file, uint64_t pos, const void* data, unsigned length);
// Flushes the data-file write buffer when it holds bytes of this range.
int opt4writeBufferRelease(FILE4* file, uint64_t pos, uint64_t length);
// The block at `pos` is cached.
bool opt4holds(FILE4* file, uint32_t pos);
// Stores one block read ahead unless the cache holds it already.
void opt4store(FILE4* file, uint32_t pos, const unsigned char* data, unsigned length);
// The cached length when known (write-behind), else all bits set.
uint64_t opt4cachedLen(const FILE4* file);
void opt4cachedLenSet(FILE4* file, uint64_t length);
void opt4lenUnknown(FILE4* file);

// Threads.
// Resolves the file's queued writes that overlap [pos, pos+length): waits
// for one being written, drops one the range covers, writes the others now.
void opt4resolveQueued(FILE4* file, uint64_t pos, uint64_t length);
// Cuts back or drops queued writes past `length` and waits for the ones in
// flight, so that nothing extends the file after it is cut.
void opt4cutQueued(FILE4* file, uint64_t length);
// The end of the file's queued writes (0 when none), under the writer's lock.
uint64_t opt4queuedEnd(FILE4* file);
// Keeps the file's read-ahead buffers current with bytes being written.
void opt4aheadUpdate(FILE4* file, uint64_t pos, const void* data, unsigned length);
// Cancels the file's read-aheads that reach past `from` (0: all) and waits
// for the one in flight; a loaded advance buffer past it is emptied.
void opt4aheadCancel(FILE4* file, uint64_t from);
// Reports (once) a queued write that failed: 0 or -120.
int opt4reportDelayed(CODE4* c4);
