// The delayed-write and read-ahead threads with their queues.
//
// Each thread takes the first entry of its queue, marks it in progress,
// leaves the queue's lock for the transfer, and comes back under the lock to
// finish it: the result is stored, the entry leaves the queue and the file's
// list, its completion runs, and every waiter is woken. Completions run under
// the queue's lock, so a caller that sees an entry gone knows that its
// completion has run and its buffer is free again.
#include <cstddef>
#include <cstring>
#include <new>

#include "platform/env.h"
#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"
#include "xbase/opt4int.h"

void Event4::Set() {
  std::lock_guard<std::mutex> hold(mutex_);
  set_ = true;
  cv_.notify_all();
}

void Event4::Reset() {
  std::lock_guard<std::mutex> hold(mutex_);
  set_ = false;
}

void Event4::Wait() {
  std::unique_lock<std::mutex> hold(mutex_);
  cv_.wait(hold, [this] { return set_; });
}

bool Event4::WaitFor(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(mutex_);
  return cv_.wait_for(hold, limit, [this] { return set_; });
}

namespace {

constexpr auto kStartLimit = std::chrono::milliseconds(5000);

template <class Entry>
Entry* FromFileLink(void* link) {
  return link ? reinterpret_cast<Entry*>(static_cast<char*>(link) - offsetof(Entry, fileLink))
              : nullptr;
}

// The file's entries, in the order they were queued.
template <class Entry>
Entry* FirstOf(LIST4* list) {
  return FromFileLink<Entry>(l4first(list));
}
template <class Entry>
Entry* NextOf(LIST4* list, Entry* e) {
  return FromFileLink<Entry>(l4next(list, &e->fileLink));
}

bool Overlaps(uint64_t aPos, uint64_t aLen, uint64_t bPos, uint64_t bLen) {
  return aLen > 0 && bLen > 0 && aPos < bPos + bLen && bPos < aPos + aLen;
}

int RawWrite(const WRITE4ENTRY* e) {
  if (e->len == 0) return 0;
  int64_t n = e->env->WriteAt(e->handle, e->data, e->len, int64_t(e->pos));
  return n == int64_t(e->len) ? 0 : e4write;
}

// Under the writer's lock: the entry is done with `result`.
void FinishWrite(THREAD4* t, WRITE4ENTRY* e, int result) {
  e->result = result;
  e->state = k4finished;
  if (result < 0 && t->failure == 0) {
    t->failure = result;
    t->failedName = e->file->name ? e->file->name : "";
  }
  l4remove(&t->queue, e);
  l4remove(&e->file->delayedWrites, &e->fileLink);
  if (e->completion) e->completion(e->completionArg);
  mem4free(t->pool, e);
  t->done.notify_all();
}

void FinishRead(THREAD4* t, AHEAD4ENTRY* e, long result) {
  e->result = result;
  e->state = k4finished;
  l4remove(&t->queue, e);
  l4remove(&e->file->readAheads, &e->fileLink);
  if (e->completion) e->completion(e->completionArg, result);
  mem4free(t->pool, e);
  t->done.notify_all();
}

// A worker's life: take the first entry, transfer it outside the lock,
// finish it under the lock; sleep while the queue is empty; end once it is
// drained and stopping is asked.
template <class Entry, class Transfer, class Finish>
void RunQueue(THREAD4* t, Transfer transfer, Finish finish) {
  t->running = 1;
  t->started.Set();
  std::unique_lock<std::mutex> hold(t->lock);
  for (;;) {
    while (auto* e = static_cast<Entry*>(l4first(&t->queue))) {
      e->state = k4inProgress;
      Entry copy = *e;
      hold.unlock();
      auto result = transfer(copy);
      hold.lock();
      finish(t, e, result);
    }
    if (t->stop.load()) break;
    hold.unlock();
    t->work.Wait();
    t->work.Reset();
    hold.lock();
  }
  t->running = 0;
}

void WriterLoop(THREAD4* t) {
  RunQueue<WRITE4ENTRY>(t, [](const WRITE4ENTRY& e) { return RawWrite(&e); }, FinishWrite);
}

void ReaderLoop(THREAD4* t) {
  RunQueue<AHEAD4ENTRY>(
      t, [](const AHEAD4ENTRY& e) { return file4readQueued(e.file, *e.env, e.pos, e.buffer, e.len); },
      FinishRead);
}

// Hands a filled entry to the thread.
template <class Entry>
void Enqueue(THREAD4* t, Entry* e, LIST4* fileList) {
  e->state = k4queued;
  e->env = &platform::Env::Current();
  {
    std::lock_guard<std::mutex> hold(t->lock);
    l4add(&t->queue, e);
    l4add(fileList, &e->fileLink);
  }
  t->work.Set();
}

// A running thread, or null when it cannot be had (the context then works
// without it).
THREAD4* StartThread(CODE4* c4, void (*loop)(THREAD4*), unsigned entrySize) {
  auto* t = new (std::nothrow) THREAD4;
  if (t == nullptr) return nullptr;
  t->c4 = c4;
  t->pool = mem4create(c4, 10, entrySize, 10, 1);
  if (t->pool == nullptr) {
    delete t;
    return nullptr;
  }
  try {
    t->thread = std::thread(loop, t);
  } catch (...) {
    mem4release(t->pool);
    delete t;
    return nullptr;
  }
  if (!t->started.WaitFor(kStartLimit)) {
    t->stop = 1;
    t->work.Set();
    t->thread.join();
    mem4release(t->pool);
    delete t;
    return nullptr;
  }
  return t;
}

// Drains the queue, then ends the thread; a write that failed on the way is
// reported first.
void StopThread(CODE4* c4, void** slot) {
  auto* t = static_cast<THREAD4*>(*slot);
  if (t == nullptr) return;
  t->stop = 1;
  t->work.Set();
  t->thread.join();
  opt4reportDelayed(c4);
  *slot = nullptr;
  mem4release(t->pool);
  delete t;
}

void AdvanceDone(void* arg, long n) {
  auto* file = static_cast<FILE4*>(arg);
  std::atomic_ref<uint32_t> state(file->aheadState);
  state.store(n >= 0 && uint32_t(n) == file->aheadLen ? 3u : 1u);
  state.notify_all();
}

}  // namespace

void opt4threadsStart(CODE4* c4) {
  // The read-ahead thread reads through the writer's queue, so the writer
  // comes first and goes last.
  c4->delayWriteThread = StartThread(c4, WriterLoop, sizeof(WRITE4ENTRY));
  c4->readAheadThread = StartThread(c4, ReaderLoop, sizeof(AHEAD4ENTRY));
}

void opt4threadsStop(CODE4* c4) {
  StopThread(c4, &c4->readAheadThread);
  StopThread(c4, &c4->delayWriteThread);
}

int opt4reportDelayed(CODE4* c4) {
  THREAD4* t = opt4writer(c4);
  if (t == nullptr) return 0;
  std::string name;
  {
    std::lock_guard<std::mutex> hold(t->lock);
    if (t->failure == 0) return 0;
    t->failure = 0;
    name.swap(t->failedName);
  }
  return error4describe(c4, e4write, E4_FILE4_WRITE, name.c_str(), nullptr, nullptr);
}

// ---- delayed writes ----

int file4writeDelay(FILE4* file, uint64_t pos, const void* data, unsigned length,
                    void (*completion)(void*), void* completionArg) {
  auto finish = [&](int rc) {
    if (completion) completion(completionArg);
    return rc;
  };
  if (file == nullptr) return finish(error4(nullptr, e4parmNull, E4_FILE4_WRITE_DELAY));
  CODE4* c4 = file->codeBase;
  if (data == nullptr && length != 0) return finish(error4(c4, e4parm, E4_FILE4_WRITE_DELAY));
  if (file->cached && file->writeCacheWanted && file->writeBehind && pos + length <= k4cacheLimit) {
    // The cache holds the file's newest bytes and its length.
    return finish(file4writeInternal(file, pos, data, length, 0, nullptr, nullptr));
  }
  if (file->cached && length > 0) {
    // Bytes written around the cache must not be undone by older blocks.
    if (int rc = opt4writeBufferRelease(file, pos, length)) return finish(rc);
    opt4update(file, pos, data, length);
  }
  if (!file->onDisk && length > 0) {
    if (int rc = file4makeReal(file)) return finish(rc);
  }
  THREAD4* t = opt4writer(c4);
  if (t == nullptr || length == 0 || file->largeFile || pos + length > (uint64_t(1) << 32)) {
    return finish(file4writeLow(file, pos, data, length));
  }
  if (file->writeProtected) {
    return finish(error4describe(c4, e4write, E4_READ_ONLY_WRITE, file->name, nullptr, nullptr));
  }
  if (int rc = opt4reportDelayed(c4)) return finish(rc);
  opt4aheadUpdate(file, pos, data, length);
  file4flushLogFirst(file);
  opt4resolveQueued(file, pos, length);
  auto* e = static_cast<WRITE4ENTRY*>(mem4alloc(t->pool));
  if (e == nullptr) return finish(error4(c4, e4memory, E4_FILE4_WRITE_DELAY));
  e->file = file;
  e->handle = file->handle;
  e->data = static_cast<const unsigned char*>(data);
  e->pos = pos;
  e->len = length;
  e->completion = completion;
  e->completionArg = completionArg;
  Enqueue(t, e, &file->delayedWrites);
  return r4delay;
}

void opt4resolveQueued(FILE4* file, uint64_t pos, uint64_t length) {
  THREAD4* t = opt4writer(file->codeBase);
  if (t == nullptr || length == 0) return;
  {
    std::unique_lock<std::mutex> hold(t->lock);
    for (;;) {
      WRITE4ENTRY* hit = FirstOf<WRITE4ENTRY>(&file->delayedWrites);
      while (hit && !Overlaps(hit->pos, hit->len, pos, length)) hit = NextOf(&file->delayedWrites, hit);
      if (hit == nullptr) break;
      if (hit->state == k4inProgress) {
        t->done.wait(hold);
        continue;
      }
      // A write that the new one covers is dropped; any other goes first.
      bool covered = hit->pos >= pos && hit->pos + hit->len <= pos + length;
      FinishWrite(t, hit, covered ? 0 : RawWrite(hit));
    }
  }
  opt4reportDelayed(file->codeBase);
}

int file4writeDelayFlush(FILE4* file, int doWrite) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_WRITE_DELAY);
  THREAD4* t = opt4writer(file->codeBase);
  if (t == nullptr) return 0;
  {
    std::unique_lock<std::mutex> hold(t->lock);
    for (;;) {
      WRITE4ENTRY* e = FirstOf<WRITE4ENTRY>(&file->delayedWrites);
      while (e && e->state != k4queued) e = NextOf(&file->delayedWrites, e);
      if (e == nullptr) break;
      FinishWrite(t, e, doWrite ? RawWrite(e) : 0);
    }
    t->done.wait(hold, [file] { return file->delayedWrites.numLinks == 0; });
  }
  return opt4reportDelayed(file->codeBase);
}

void opt4fileCompleteWrites(FILE4* file, int discard) { file4writeDelayFlush(file, discard ? 0 : 1); }

void opt4cutQueued(FILE4* file, uint64_t length) {
  THREAD4* t = opt4writer(file->codeBase);
  if (t == nullptr) return;
  std::unique_lock<std::mutex> hold(t->lock);
  for (;;) {
    WRITE4ENTRY* e = FirstOf<WRITE4ENTRY>(&file->delayedWrites);
    while (e && e->pos + e->len <= length) e = NextOf(&file->delayedWrites, e);
    if (e == nullptr) return;
    if (e->state == k4inProgress) {
      // It would extend the file again after the cut.
      t->done.wait(hold);
    } else if (e->pos >= length) {
      FinishWrite(t, e, 0);
    } else {
      e->len = uint32_t(length - e->pos);
    }
  }
}

uint64_t opt4queuedEnd(FILE4* file) {
  uint64_t end = 0;
  for (auto* e = FirstOf<WRITE4ENTRY>(&file->delayedWrites); e; e = NextOf(&file->delayedWrites, e)) {
    if (e->len > 0 && e->pos + e->len > end) end = e->pos + e->len;
  }
  return end;
}

// Under the file lock, from the caller's or the read-ahead thread: copies
// queued bytes over the disk's, part by part. Queued writes of one file
// never overlap (each resolves the older ones first). The file is as long as
// its disk or its queued writes, whichever ends later; a gap before a queued
// write past the disk's end reads as zeros, as it will once written.
long file4readMergedLocked(FILE4* file, platform::Env& env, uint64_t pos, void* buffer,
                           unsigned length) {
  if (length == 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  const uint64_t end = pos + length;
  const uint64_t queuedEnd = opt4queuedEnd(file);
  uint64_t cursor = pos;
  for (;;) {
    WRITE4ENTRY* next = nullptr;
    for (auto* e = FirstOf<WRITE4ENTRY>(&file->delayedWrites); e; e = NextOf(&file->delayedWrites, e)) {
      if (e->len == 0 || e->pos + e->len <= cursor || e->pos >= end) continue;
      if (next == nullptr || e->pos < next->pos) next = e;
    }
    uint64_t diskEnd = next ? (next->pos > cursor ? next->pos : cursor) : end;
    if (diskEnd > cursor) {
      int64_t n = env.ReadAt(file->handle, out + (cursor - pos), size_t(diskEnd - cursor), int64_t(cursor));
      if (n < 0) return -1;
      if (next == nullptr) {
        // The file ends short of a queued write further on: zeros up to it.
        uint64_t valid = cursor + uint64_t(n);
        uint64_t stop = queuedEnd < end ? queuedEnd : end;
        if (valid < stop) {
          std::memset(out + (valid - pos), 0, size_t(stop - valid));
          valid = stop;
        }
        return long(valid - pos);
      }
      std::memset(out + (cursor - pos) + n, 0, size_t(diskEnd - cursor - uint64_t(n)));
      cursor = diskEnd;
    }
    uint64_t stop = next->pos + next->len < end ? next->pos + next->len : end;
    std::memcpy(out + (cursor - pos), next->data + (cursor - next->pos), size_t(stop - cursor));
    cursor = stop;
    if (cursor == end) return long(length);
  }
}

// ---- read-ahead ----

int file4readAheadQueue(FILE4* file, uint32_t pos, void* buffer, unsigned length,
                        void (*completion)(void*, long), void* completionArg) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_WRITE_DELAY);
  CODE4* c4 = file->codeBase;
  THREAD4* t = opt4reader(c4);
  if (t == nullptr) return 0;
  file->readAheadUsed = 1;
  auto* e = static_cast<AHEAD4ENTRY*>(mem4alloc(t->pool));
  if (e == nullptr) return error4(c4, e4memory, E4_FILE4_WRITE_DELAY);
  e->file = file;
  e->buffer = static_cast<unsigned char*>(buffer);
  e->pos = pos;
  e->len = length;
  e->completion = completion;
  e->completionArg = completionArg;
  Enqueue(t, e, &file->readAheads);
  return 0;
}

void opt4aheadUpdate(FILE4* file, uint64_t pos, const void* data, unsigned length) {
  THREAD4* t = opt4reader(file->codeBase);
  if (t == nullptr || !file->readAheadUsed || length == 0) return;
  {
    // A read in flight over the range could bring back the older bytes.
    std::unique_lock<std::mutex> hold(t->lock);
    for (;;) {
      auto* e = FirstOf<AHEAD4ENTRY>(&file->readAheads);
      while (e && !(e->state == k4inProgress && Overlaps(e->pos, e->len, pos, length))) {
        e = NextOf(&file->readAheads, e);
      }
      if (e == nullptr) break;
      t->done.wait(hold);
    }
  }
  std::atomic_ref<uint32_t> state(file->aheadState);
  if (file->aheadBuffer == nullptr || state.load() != 3) return;
  uint64_t from = pos > file->aheadPos ? pos : file->aheadPos;
  uint64_t to = pos + length < uint64_t(file->aheadPos) + file->aheadLen ? pos + length
                                                                          : uint64_t(file->aheadPos) + file->aheadLen;
  if (from < to) {
    std::memcpy(file->aheadBuffer + (from - file->aheadPos),
                static_cast<const unsigned char*>(data) + (from - pos), size_t(to - from));
  }
}

void opt4aheadCancel(FILE4* file, uint64_t from) {
  THREAD4* t = opt4reader(file->codeBase);
  if (t == nullptr) return;
  {
    std::unique_lock<std::mutex> hold(t->lock);
    for (;;) {
      auto* e = FirstOf<AHEAD4ENTRY>(&file->readAheads);
      while (e && uint64_t(e->pos) + e->len <= from) e = NextOf(&file->readAheads, e);
      if (e == nullptr) break;
      if (e->state == k4inProgress) {
        t->done.wait(hold);
      } else {
        FinishRead(t, e, -1);
      }
    }
  }
  std::atomic_ref<uint32_t> state(file->aheadState);
  if (state.load() == 3 && uint64_t(file->aheadPos) + file->aheadLen > from) state.store(1);
}

void file4advanceRead(FILE4* file, uint32_t pos, unsigned length) {
  if (file == nullptr || length == 0) return;
  CODE4* c4 = file->codeBase;
  THREAD4* t = opt4reader(c4);
  if (t == nullptr || file->largeFile || !file->onDisk) return;
  // With the cache, whole blocks are read ahead and kept there.
  bool cached = opt4running(c4) && file->cached;
  uint32_t want = pos, wantLen = length;
  if (cached) {
    const uint32_t bs = c4->opt->blockSize;
    if ((pos & (bs - 1)) + length > bs) return;
    want = pos & ~(bs - 1);
    wantLen = bs;
    if (opt4holds(file, want)) return;
  }
  if (file->aheadBuffer == nullptr) {
    file->aheadBuffer = static_cast<unsigned char*>(u4alloc(long(wantLen)));
    if (file->aheadBuffer == nullptr) return;
    file->aheadLen = wantLen;
    file->aheadState = 1;
  }
  if (wantLen > file->aheadLen) return;
  std::atomic_ref<uint32_t> state(file->aheadState);
  uint32_t now = state.load();
  if ((now == 2 || now == 3) && file->aheadPos == want) return;
  if (now == 3 && cached) opt4store(file, file->aheadPos, file->aheadBuffer, file->aheadLen);
  {
    std::unique_lock<std::mutex> hold(t->lock);
    for (;;) {
      auto* e = FirstOf<AHEAD4ENTRY>(&file->readAheads);
      while (e && e->completion != AdvanceDone) e = NextOf(&file->readAheads, e);
      if (e == nullptr) break;
      if (e->state == k4inProgress) {
        t->done.wait(hold);
      } else {
        FinishRead(t, e, -1);
      }
    }
  }
  state.store(2);
  file->aheadPos = want;
  if (file4readAheadQueue(file, want, file->aheadBuffer, file->aheadLen, AdvanceDone, file) != 0) {
    state.store(1);
  }
}
