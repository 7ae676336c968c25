#include "xbase/file4.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/env.h"
#include "xbase/code4.h"
#include "xbase/error4.h"
#include "xbase/mem4.h"
#include "xbase/opt4.h"
#include "xbase/opt4int.h"

namespace {

constexpr uint64_t k4GB = uint64_t(1) << 32;

platform::Env& Env() { return platform::Env::Current(); }

// The engine's code for a failed open.
int OpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return e4fileFind;
    case EMFILE:
    case ENFILE:
      return e4numFiles;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EROFS:
    case EWOULDBLOCK:
      return e4permiss;
    case ENOSPC:
    case EDQUOT:
      return e4write;
    default:
      return e4open;
  }
}

void ClearRecord(FILE4* file, CODE4* c4) {
  *file = FILE4{};
  file->codeBase = c4;
  file->handle = -1;
  file->hashOffset = 0xFFFFFFFFu;
  file->cachedLenHigh = 0xFFFFFFFFu;
}

std::recursive_mutex* LockOf(const FILE4* file) { return static_cast<std::recursive_mutex*>(file->lock); }

// The file's lock, held for one transfer or length change on the handle;
// absent while the context has no worker threads.
class FileLock {
 public:
  explicit FileLock(const FILE4* file) : lock_(LockOf(file)) {
    if (lock_) lock_->lock();
  }
  ~FileLock() {
    if (lock_) lock_->unlock();
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  std::recursive_mutex* lock_;
};

// Takes the descriptor and its identity; locks it for exclusive use, or,
// opened only to be read, for use shared with other readers (two builds
// from one input must not refuse each other).
int Adopt(FILE4* file, int fd, bool readOnly = false) {
  if ((readOnly ? Env().LockShared(fd) : Env().LockExclusive(fd)) != 0) {
    int error = errno;
    Env().Close(fd);
    return OpenError(error);
  }
  platform::FileInfo info;
  if (Env().FileStat(fd, &info) == 0) {
    file->device = info.device;
    file->inode = info.inode;
    if (uint64_t(info.size) > k4GB) file->largeFile = 1;
  }
  file->handle = fd;
  file->onDisk = 1;
  file->aheadState = 1;
  CODE4* c4 = file->codeBase;
  if (opt4writer(c4) || opt4reader(c4)) file->lock = new (std::nothrow) std::recursive_mutex;
  return 0;
}

// Ends the record of a closed file.
void Forget(FILE4* file, CODE4* c4) {
  delete LockOf(file);
  if (file->ownsName) u4free(file->nameCopy);
  ClearRecord(file, c4);
}

int CopyName(FILE4* file, const char* name, int doAllocName) {
  if (!doAllocName) {
    file->name = name;
    return 0;
  }
  size_t n = std::strlen(name) + 1;
  file->nameCopy = static_cast<char*>(u4alloc(long(n)));
  if (file->nameCopy == nullptr) return e4memory;
  std::memcpy(file->nameCopy, name, n);
  file->name = file->nameCopy;
  file->ownsName = 1;
  return 0;
}

// Creates the file: 0, or 60 when it exists (exclusive) or cannot be made.
int CreateLow(FILE4* file, const char* name, bool exclusive) {
  platform::FileInfo info;
  bool exists = Env().PathStat(name, &info) == 0;
  int fd;
  if (exists) {
    if (exclusive) return r4noCreate;
    // Replace the file only once it is ours alone.
    fd = Env().Open(name, platform::kReadWrite);
    if (fd < 0) return r4noCreate;
    if (Env().LockExclusive(fd) != 0 || Env().Truncate(fd, 0) != 0) {
      Env().Close(fd);
      return r4noCreate;
    }
    Env().Unlock(fd);
  } else {
    fd = Env().Open(name, platform::kReadWrite | platform::kCreate | platform::kExclusive, 0666);
    if (fd < 0) return r4noCreate;
  }
  return Adopt(file, fd) == 0 ? 0 : r4noCreate;
}

int ReportCreate(FILE4* file, CODE4* c4, const char* name, int rc) {
  ClearRecord(file, c4);
  if (!c4->reportCreateFailure) {
    c4->errorCode = r4noCreate;
    return r4noCreate;
  }
  (void)rc;
  return error4describe(c4, e4create, E4_FILE4_CREATE, name, nullptr, nullptr);
}

// What a cache-only temporary file keeps of its cache state while it gets
// its file on disk.
struct CacheState {
  LINK4 link;
  uint32_t hashOffset, cachedLenLow, cachedLenHigh;
  uint8_t cacheClass, writeBehind, writeCacheWanted;
  uint32_t cached;
  int32_t readHint;
  double blockWeight;
  void* owner;
};

CacheState SaveCacheState(const FILE4* f) {
  return {f->link,       f->hashOffset,       f->cachedLenLow, f->cachedLenHigh, f->cacheClass,
          f->writeBehind, f->writeCacheWanted, f->cached,       f->readHint,      f->blockWeight,
          f->owner};
}

void RestoreCacheState(FILE4* f, const CacheState& s) {
  f->link = s.link;
  f->hashOffset = s.hashOffset;
  f->cachedLenLow = s.cachedLenLow;
  f->cachedLenHigh = s.cachedLenHigh == 0xFFFFFFFFu ? 0xFFFFFFFFu : 0;
  f->cacheClass = s.cacheClass;
  f->writeBehind = s.writeBehind;
  f->writeCacheWanted = s.writeCacheWanted;
  f->cached = s.cached;
  f->readHint = s.readHint;
  f->blockWeight = s.blockWeight;
  f->owner = s.owner;
}

// A temporary file that lives in the cache until a block must go to disk.
void BufferTemporary(FILE4* file) {
  file4optimize(file, 1, 3, 0, nullptr);
  file->writeCacheWanted = 1;
  file->writeBehind = file->cached ? 1 : 0;
  opt4cachedLenSet(file, 0);
}

long ReadLow(platform::Env& env, const FILE4* file, uint64_t pos, void* buffer, unsigned length) {
  int64_t n = env.ReadAt(file->handle, buffer, length, int64_t(pos));
  return n < 0 ? -1 : long(n);
}

// The file's bytes at [pos, pos+length) from the advance buffer when it holds
// them all; false otherwise. Waits while a read-ahead of it is under way.
bool FromAdvanceBuffer(FILE4* file, uint64_t pos, void* buffer, unsigned length) {
  if (file->largeFile || file->aheadBuffer == nullptr) return false;
  std::atomic_ref<uint32_t> state(file->aheadState);
  uint32_t now;
  while ((now = state.load()) == 2) state.wait(2);
  if (now != 3 || pos < file->aheadPos || pos + length > uint64_t(file->aheadPos) + file->aheadLen) {
    return false;
  }
  std::memcpy(buffer, file->aheadBuffer + (pos - file->aheadPos), length);
  return true;
}

}  // namespace

int file4open(FILE4* file, CODE4* c4, const char* name, int doAllocName) {
  if (file == nullptr || c4 == nullptr || name == nullptr) {
    return error4(c4, e4parm, E4_FILE4_OPEN);
  }
  if (c4->errorCode < 0) return -1;
  opt4refreshMemory(c4);
  ClearRecord(file, c4);
  c4->errorCode = 0;
  platform::FileInfo info;
  bool readOnly = c4->readOnly != 0;
  if (Env().PathStat(name, &info) == 0 && !info.writable) readOnly = true;
  int fd = Env().Open(name, readOnly ? platform::kRead : platform::kReadWrite);
  int rc = fd < 0 ? OpenError(errno) : Adopt(file, fd, readOnly);
  if (rc != 0) {
    ClearRecord(file, c4);
    if (!c4->reportOpenFailure) {
      c4->errorCode = r4noOpen;
      return r4noOpen;
    }
    return error4describe(c4, rc, E4_FILE4_OPEN, name, nullptr, nullptr);
  }
  file->writeProtected = readOnly ? 1 : 0;
  if (CopyName(file, name, doAllocName) != 0) {
    file4close(file);
    return error4(c4, e4memory, E4_FILE4_OPEN);
  }
  return 0;
}

int file4create(FILE4* file, CODE4* c4, const char* name, int doAllocName) {
  if (file == nullptr || c4 == nullptr) return error4(c4, e4parmNull, E4_FILE4_CREATE);
  if (c4->errorCode < 0) return -1;
  if (name == nullptr) return file4tempLow(file, c4, c4->tempAutoRemove, c4->tempAutoRemove, nullptr);
  opt4refreshMemory(c4);
  ClearRecord(file, c4);
  c4->errorCode = 0;
  int rc = CreateLow(file, name, c4->createNewOnly != 0);
  if (rc != 0) return ReportCreate(file, c4, name, rc);
  if (CopyName(file, name, doAllocName) != 0) {
    file4close(file);
    return error4(c4, e4memory, E4_FILE4_CREATE);
  }
  if (c4->tempAutoRemove == 1) file->removeOnClose = 1;
  return 0;
}

int file4close(FILE4* file) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_CLOSE);
  CODE4* c4 = file->codeBase;
  if (!file->onDisk && file->cached) {
    // A temporary file that never left the cache: its blocks are dropped.
    opt4lenSet(file, 0);
    opt4fileClose(file);
  } else if (file->handle >= 0) {
    opt4fileClose(file);
    u4free(file->aheadBuffer);
    file->aheadBuffer = nullptr;
    opt4fileCompleteWrites(file, file->removeOnClose);
    if (Env().Close(file->handle) != 0 && c4) {
      error4describe(c4, e4close, E4_FILE4_CLOSE, file->name, nullptr, nullptr);
    }
    file->handle = -1;
    if (file->removeOnClose && file->name && Env().Remove(file->name) != 0 && c4) {
      error4describe(c4, e4remove, E4_FILE4_CLOSE, file->name, nullptr, nullptr);
    }
  } else {
    Forget(file, c4);
    return 0;
  }
  Forget(file, c4);
  return (c4 && c4->errorCode < 0) ? -1 : 0;
}

unsigned file4read(FILE4* file, uint64_t pos, void* buffer, unsigned length) {
  if (file == nullptr || length == 0) return 0;
  CODE4* c4 = file->codeBase;
  if (c4 && c4->errorCode < 0) return 0;
  if (file->cached && pos + length <= k4cacheLimit) {
    long n = opt4read(file, uint32_t(pos), buffer, length);
    if (n < 0) return 0;
    if ((unsigned long)n > length) {
      file4readError(file, pos, length, "file4read");
      return 0;
    }
    return unsigned(n);
  }
  return file4readInternal(file, pos, buffer, length);
}

unsigned file4readInternal(FILE4* file, uint64_t pos, void* buffer, unsigned length) {
  if (!file->onDisk || file->handle < 0 || length == 0) return 0;
  if (FromAdvanceBuffer(file, pos, buffer, length)) return length;
  long n = file4readQueued(file, Env(), pos, buffer, length);
  if (n < 0) {
    file4readError(file, pos, length, "file4readLow");
    return 0;
  }
  return unsigned(n);
}

long file4readQueued(FILE4* file, platform::Env& env, uint64_t pos, void* buffer, unsigned length) {
  FileLock hold(file);
  if (THREAD4* t = opt4writer(file->codeBase)) {
    std::lock_guard<std::mutex> queue(t->lock);
    if (file->delayedWrites.numLinks > 0) return file4readMergedLocked(file, env, pos, buffer, length);
  }
  return ReadLow(env, file, pos, buffer, length);
}

int file4readAll(FILE4* file, uint64_t pos, void* buffer, unsigned length) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_READ_ALL);
  CODE4* c4 = file->codeBase;
  if (c4 && c4->errorCode < 0) return -1;
  if (!file->onDisk && !file->cached) return error4(c4, e4opt, E4_FILE4_READ);
  unsigned n = file4read(file, pos, buffer, length);
  if (c4 && c4->errorCode < 0) return c4->errorCode;
  if (n != length) {
    bool viaCache = file->cached && pos + length <= k4cacheLimit;
    return file4readError(file, pos, length, viaCache ? "file4readAll" : "file4readAllLow");
  }
  return 0;
}

int file4readError(FILE4* file, uint64_t pos, unsigned length, const char* label) {
  char where[48];
  std::snprintf(where, sizeof where, "%19lu %19u", (unsigned long)(pos & 0xFFFFFFFFu), length);
  return error4describe(file ? file->codeBase : nullptr, e4read, E4_FILE4_READ_ERROR,
                        file ? file->name : nullptr, where, label);
}

int file4write(FILE4* file, uint64_t pos, const void* data, unsigned length) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_WRITE);
  CODE4* c4 = file->codeBase;
  if (data == nullptr && length != 0) return error4(c4, e4parm, E4_FILE4_WRITE);
  if (file->handle < 0 && !file->cached) return error4(c4, e4parm, E4_FILE4_WRITE);
  if (c4 && c4->errorCode < 0) return -1;
  if (file->writeProtected) {
    return error4describe(c4, e4write, E4_READ_ONLY_WRITE, file->name, nullptr, nullptr);
  }
  if (length == 0) return 0;
  if (file->readAheadUsed && !file->largeFile && (pos >> 32) == 0) {
    opt4aheadUpdate(file, pos, data, length);
  }
  uint64_t end = pos + length;
  if (!file->largeFile && end < 0xFFFFFFFFu) {
    return file4writeInternal(file, pos, data, length, 0, nullptr, nullptr);
  }
  if (file->cached) {
    if (int rc = file4optimize(file, 0, 3, 0, nullptr)) return rc;
  }
  if (!file->onDisk) {
    if (int rc = file4makeReal(file)) return rc;
  }
  return file4writeLow(file, pos, data, length);
}

int file4writeInternal(FILE4* file, uint64_t pos, const void* data, unsigned length, int delay,
                       void (*completion)(void*), void* completionArg) {
  auto finish = [&](int rc) {
    if (completion) completion(completionArg);
    return rc;
  };
  CODE4* c4 = file->codeBase;
  if (file->cached) {
    if (pos + length > k4cacheLimit) {
      if (int rc = file4optimize(file, 0, 3, 0, nullptr)) return finish(rc);
    } else {
      long n = opt4write(file, uint32_t(pos), data, length);
      if (n < 0) return finish(int(n));
      if (n != long(length)) {
        return finish(error4describe(c4, e4write, E4_FILE4_WRITE, file->name, nullptr, nullptr));
      }
      if (file->writeCacheWanted && file->writeBehind) return finish(0);
    }
  }
  if (!file->onDisk) {
    if (int rc = file4makeReal(file)) return finish(rc);
  }
  if (delay && !file->largeFile && pos == 0) {
    return file4writeDelay(file, pos, data, length, completion, completionArg);
  }
  return finish(file4writeLow(file, pos, data, length));
}

int file4writeLow(FILE4* file, uint64_t pos, const void* data, unsigned length) {
  CODE4* c4 = file->codeBase;
  if (file->writeProtected) {
    return error4describe(c4, e4write, E4_READ_ONLY_WRITE, file->name, nullptr, nullptr);
  }
  if (length == 0) return 0;
  if ((pos >> 32) == 0) opt4aheadUpdate(file, pos, data, length);
  file4flushLogFirst(file);
  // Older queued writes of the range go first (or are dropped); waiting for
  // one in flight is done before the file's lock is taken.
  opt4resolveQueued(file, pos, length);
  int64_t n;
  {
    FileLock hold(file);
    n = Env().WriteAt(file->handle, data, length, int64_t(pos));
  }
  if (n > 0 && pos + uint64_t(n) > k4GB) file->largeFile = 1;
  if (n != int64_t(length)) {
    return error4describe(c4, e4write, E4_FILE4_WRITE, file->name, nullptr, nullptr);
  }
  return 0;
}

void file4flushLogFirst(FILE4* file) {
  CODE4* c4 = file->codeBase;
  if (c4 == nullptr || !c4->logNeedsFlush || file == &c4->logFile) return;
  c4->logNeedsFlush = 0;
  if (c4->logFileOpen) file4flush(&c4->logFile);
}

int file4makeReal(FILE4* file) {
  CODE4* c4 = file->codeBase;
  int making = c4->makingTempReal;
  c4->makingTempReal = 1;
  int rc = file4tempLow(file, c4, 1, 1, nullptr);
  c4->makingTempReal = making;
  return rc;
}

uint64_t file4len(FILE4* file) {
  if (file == nullptr) {
    error4(nullptr, e4parmNull, E4_FILE4_LEN);
    return ~uint64_t(0);
  }
  uint64_t cached = opt4cachedLen(file);
  if (!file->onDisk) return file->cached && cached != ~uint64_t(0) ? cached : 0;
  if (file->cached && cached != ~uint64_t(0)) return cached;
  uint64_t size = file4lenLow(file);
  CODE4* c4 = file->codeBase;
  if (size == ~uint64_t(0)) {
    error4describe(c4, e4len, E4_FILE4_LEN, file->name, nullptr, nullptr);
    return size;
  }
  if (file->cached && file->writeBehind && c4 && c4->errorCode >= 0) {
    if (size >= k4GB) {
      error4describe(c4, e4result, E4_FILE4_LEN_SET, file->name, nullptr, nullptr);
    } else {
      opt4cachedLenSet(file, size);
    }
  }
  return size;
}

uint64_t file4lenLow(FILE4* file) {
  if (file->handle < 0) return ~uint64_t(0);
  platform::FileInfo info;
  FileLock hold(file);
  THREAD4* t = opt4writer(file->codeBase);
  if (t == nullptr) return Env().FileStat(file->handle, &info) == 0 ? uint64_t(info.size) : ~uint64_t(0);
  // Queued writes past the end make the file longer as soon as they are
  // done; the queue's lock keeps one from leaving it between the two looks.
  std::lock_guard<std::mutex> queue(t->lock);
  if (Env().FileStat(file->handle, &info) != 0) return ~uint64_t(0);
  uint64_t queued = opt4queuedEnd(file);
  return uint64_t(info.size) > queued ? uint64_t(info.size) : queued;
}

int file4lenSet(FILE4* file, uint64_t length) {
  if (file == nullptr || (length >> 32) == 0xFFFFFFFFu) {
    return error4(file ? file->codeBase : nullptr, e4parmNull, E4_FILE4_LEN_SET);
  }
  CODE4* c4 = file->codeBase;
  if (c4 == nullptr) return -1;
  if (c4->errorCode >= 1 && c4->errorCode <= 199) return -1;
  if (file->writeProtected) {
    return error4describe(c4, e4parm, E4_READ_ONLY_LENGTH, file->name, nullptr, nullptr);
  }
  file->largeFile = (length >> 32) != 0 ? 1 : 0;
  if (file->cached) {
    if (length > k4cacheLimit) {
      if (file4optimize(file, 0, 3, 0, nullptr) < 0) return error4(c4, e4result, E4_FILE4_LEN_SET);
    } else {
      int rc = opt4lenSet(file, length);
      if (rc < 0) return rc;
      if (rc == 1) return 0;
    }
  }
  if (!file->onDisk) return 0;
  return file4lenSetLow(file, length);
}

int file4lenSetLow(FILE4* file, uint64_t length) {
  if (file->readAheadUsed) opt4aheadCancel(file, length);
  // A queued write past the new end, or one being written, would make the
  // file longer again after the cut.
  opt4cutQueued(file, length);
  int rc;
  {
    FileLock hold(file);
    rc = Env().Truncate(file->handle, int64_t(length));
  }
  if (rc != 0) {
    return error4describe(file->codeBase, e4lenSet, E4_FILE4_LEN_SET, file->name, nullptr, nullptr);
  }
  return 0;
}

int file4flush(FILE4* file) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_FLUSH);
  if (file->writeProtected) return 0;
  CODE4* c4 = file->codeBase;
  int rc = opt4fileFlush(file, 0);
  int saved = c4 ? error4set(c4, 0) : 0;
  int low = file4lowFlush(file);
  if (c4 && saved != 0) error4set(c4, saved);
  if (rc < 0) return rc;
  return low < 0 ? low : 0;
}

int file4lowFlush(FILE4* file) {
  if (!file->onDisk || file->handle < 0) return 0;
  int rc = file4writeDelayFlush(file, 1);
  int synced;
  {
    FileLock hold(file);
    synced = Env().Sync(file->handle);
  }
  if (synced != 0) {
    return error4describe(file->codeBase, e4optFlush, E4_FILE4_LOW_FLUSH, file->name, nullptr,
                          nullptr);
  }
  return rc < 0 ? rc : 0;
}

int file4tempLow(FILE4* file, CODE4* c4, int autoRemove, int useTempFolder,
                 const char* extension) {
  if (file == nullptr || c4 == nullptr) return error4(c4, e4parmNull, E4_FILE4_TEMP_LOW);
  opt4refreshMemory(c4);
  const bool inCache = autoRemove && opt4running(c4);
  const bool makingReal = inCache && c4->makingTempReal;
  CacheState kept{};
  if (makingReal) {
    kept = SaveCacheState(file);
  } else if (inCache) {
    ClearRecord(file, c4);
    file->removeOnClose = 1;
    BufferTemporary(file);
    return 0;
  }
  std::string folder = useTempFolder ? Env().TempDirectory() : std::string(".");
  bool isData = extension != nullptr && platform::AsciiEqualsIgnoreCase(extension, "dbf");
  platform::Env& env = Env();
  int64_t seconds = env.NowSeconds() % 60;
  int64_t millis = (env.NowMicros() / 1000) % 1000;
  unsigned seed = unsigned((seconds * 1000 + millis) & 0xFFFF) % 10000;
  for (unsigned attempt = 1; attempt <= 100; attempt++) {
    char base[32];
    // Four digits always: the number wraps at 10000.
    std::snprintf(base, sizeof base, "TEMP%04u", (seed + attempt) % 10000);
    std::string stem = platform::JoinPath(folder, base);
    std::string name = stem + "." + (extension ? extension : "TMP");
    platform::FileInfo info;
    if (isData && (env.PathStat(stem + "." + code4indexExtension(c4), &info) == 0 ||
                   env.PathStat(stem + "." + code4memoExtension(c4), &info) == 0)) {
      continue;
    }
    ClearRecord(file, c4);
    if (CreateLow(file, name.c_str(), true) != 0) continue;
    if (CopyName(file, name.c_str(), 1) != 0) {
      file4close(file);
      env.Remove(name);
      if (makingReal) RestoreCacheState(file, kept);
      return error4(c4, e4memory, E4_FILE4_TEMP_LOW);
    }
    if (autoRemove) file->removeOnClose = 1;
    if (makingReal) RestoreCacheState(file, kept);
    return 0;
  }
  ClearRecord(file, c4);
  if (makingReal) {
    // Still a file of the cache only.
    RestoreCacheState(file, kept);
    file->removeOnClose = 1;
  }
  return error4describe(c4, e4create, E4_TEMP_FILE, nullptr, nullptr, nullptr);
}

// ---- sequential reader ----

namespace {

// States of the reader's second half.
enum : int { kHalfNone = 0, kHalfPending = 1, kHalfLoaded = 2, kHalfFailed = 3 };

void HalfDone(void* arg, long n) {
  auto* reader = static_cast<FILE4SEQ_READ*>(arg);
  reader->buffer2len = n < 0 ? 0 : unsigned(n);
  std::atomic_ref<int> status(reader->buffer2status);
  status.store(n < 0 ? kHalfFailed : kHalfLoaded);
  status.notify_all();
}

// Waits for the second half's read and answers its state.
int WaitHalf(FILE4SEQ_READ* reader) {
  std::atomic_ref<int> status(reader->buffer2status);
  int now;
  while ((now = status.load()) == kHalfPending) status.wait(kHalfPending);
  return now;
}

void QueueHalf(FILE4SEQ_READ* reader) {
  std::atomic_ref<int>(reader->buffer2status).store(kHalfPending);
  if (file4readAheadQueue(reader->file, uint32_t(reader->pos), reader->buffer2, reader->total,
                          HalfDone, reader) != 0) {
    std::atomic_ref<int>(reader->buffer2status).store(kHalfNone);
  }
}

// Fills the reader's buffer with the next bytes: the half read ahead when
// there is one, else a read now; then the following half is read ahead.
long Refill(FILE4SEQ_READ* reader) {
  long n;
  unsigned asked;
  if (reader->doDouble && WaitHalf(reader) != kHalfNone) {
    if (std::atomic_ref<int>(reader->buffer2status).load() == kHalfFailed) return -1;
    std::swap(reader->buffer, reader->buffer2);
    n = long(reader->buffer2len);
    asked = reader->total;
    std::atomic_ref<int>(reader->buffer2status).store(kHalfNone);
  } else {
    asked = reader->nextReadLen;
    n = long(file4readInternal(reader->file, reader->pos, reader->buffer, asked));
    CODE4* c4 = reader->file->codeBase;
    if (c4 && c4->errorCode < 0) return -1;
  }
  reader->pos += uint64_t(n);
  reader->working = 0;
  reader->avail = unsigned(n);
  reader->nextReadLen = reader->total;
  if (reader->doDouble && unsigned(n) == asked && (reader->pos >> 32) == 0) QueueHalf(reader);
  return n;
}

}  // namespace

int file4seqReadInit(FILE4SEQ_READ* reader, FILE4* file, uint64_t start, void* buffer,
                     unsigned size) {
  return file4seqReadInitDo(reader, file, start, buffer, size, 0);
}

int file4seqReadInitDo(FILE4SEQ_READ* reader, FILE4* file, uint64_t start, void* buffer,
                       unsigned size, int doDouble) {
  if (reader == nullptr || file == nullptr) return error4(nullptr, e4parm, E4_FILE4_SEQ_READ_INIT);
  *reader = FILE4SEQ_READ{};
  opt4fileFlush(file, 1);
  reader->file = file;
  reader->pos = start;
  if (buffer == nullptr) return 0;
  auto* bytes = static_cast<char*>(buffer);
  if (doDouble == 1 && opt4reader(file->codeBase) && size >= 2048 && !file->largeFile) {
    // Two halves: the read-ahead thread fills one while the caller reads the other.
    unsigned half = size / 2;
    half = size < 65536 ? half & 0xFC00u : half & ~1023u;
    if (half > 0) {
      reader->doDouble = 1;
      reader->buffer = bytes;
      reader->buffer2 = bytes + half;
      size = half;
    }
  }
  size &= ~1023u;
  if (size > 0) {
    reader->buffer = bytes;
    reader->total = size;
    reader->nextReadLen = size;
    // The first fill stops at a 1024 boundary, so later fills are aligned.
    if (start % 1024 != 0 && (start >> 32) == 0) reader->nextReadLen = unsigned(1024 - start % 1024);
  } else {
    reader->doDouble = 0;
  }
  return 0;
}

unsigned file4seqRead(FILE4SEQ_READ* reader, void* buffer, unsigned length) {
  if (reader == nullptr || (buffer == nullptr && length != 0)) {
    error4(nullptr, e4parmNull, E4_FILE4_SEQ_READ);
    return 0;
  }
  CODE4* c4 = reader->file->codeBase;
  if (c4 && c4->errorCode < 0) return 0;
  auto* out = static_cast<char*>(buffer);
  if (reader->buffer == nullptr) {
    unsigned n = file4readInternal(reader->file, reader->pos, out, length);
    reader->pos += n;
    return n;
  }
  unsigned done = 0;
  while (done < length) {
    if (reader->avail == 0) {
      long n = Refill(reader);
      if (n < 0) {
        if (c4 && c4->errorCode >= 0) {
          file4readError(reader->file, reader->pos, reader->total, "file4seqRead");
        }
        return done;
      }
      if (n == 0) break;
    }
    unsigned take = length - done < reader->avail ? length - done : reader->avail;
    std::memcpy(out + done, reader->buffer + reader->working, take);
    reader->working += take;
    reader->avail -= take;
    done += take;
  }
  return done;
}

int file4seqReadAll(FILE4SEQ_READ* reader, void* buffer, unsigned length) {
  if (reader == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_SEQ_READ);
  unsigned n = file4seqRead(reader, buffer, length);
  if (n != length) return file4readError(reader->file, reader->pos, length, "file4seqReadAll");
  return 0;
}

void file4seqReadClose(FILE4SEQ_READ* reader) {
  if (reader == nullptr || !reader->doDouble) return;
  WaitHalf(reader);
  std::atomic_ref<int>(reader->buffer2status).store(kHalfNone);
  reader->doDouble = 0;
}

// ---- sequential writer ----

namespace {

// The free flag of the half that starts at `half`.
int* FreeFlag(FILE4SEQ_WRITE* writer, const char* half) {
  const char* low = writer->buffer < writer->buffer2 ? writer->buffer : writer->buffer2;
  return half == low ? &writer->buffer1free : &writer->buffer2free;
}

void HalfWritten(void* arg) {
  std::atomic_ref<int> flag(*static_cast<int*>(arg));
  flag.store(1);
  flag.notify_all();
}

void WaitFree(int* flag) {
  std::atomic_ref<int> free(*flag);
  while (free.load() == 0) free.wait(0);
}

}  // namespace

int file4seqWriteInit(FILE4SEQ_WRITE* writer, FILE4* file, uint64_t start, void* buffer,
                      unsigned size) {
  if (writer == nullptr || file == nullptr) return error4(nullptr, e4parm, E4_FILE4_SEQ_WRITE_INIT);
  *writer = FILE4SEQ_WRITE{};
  opt4fileFlush(file, 1);
  writer->file = file;
  writer->pos = start;
  unsigned half = (size / 2) & 0x7E00u;
  if (buffer == nullptr || half == 0) return 0;
  writer->buffer = static_cast<char*>(buffer);
  writer->buffer2 = static_cast<char*>(buffer) + half;
  writer->total = half;
  writer->working = half;
  if (start % 1024 != 0 && (start >> 32) == 0) {
    unsigned cut = unsigned((start + half) % 1024);
    if (cut < half) writer->working = half - cut;
  }
  writer->buffer1free = 1;
  writer->buffer2free = 1;
  return 0;
}

int file4seqWriteFlush(FILE4SEQ_WRITE* writer) {
  if (writer == nullptr) return error4(nullptr, e4parmNull, E4_FILE4_SEQ_WRITE_FLUSH);
  if (writer->buffer == nullptr || writer->avail == 0) return 0;
  FILE4* file = writer->file;
  if (file->cached && file->writeCacheWanted && file->writeBehind) {
    if (file4write(file, writer->pos, writer->buffer, writer->avail) < 0) {
      return error4describe(file->codeBase, e4write, E4_FILE4_SEQ_WRITE_FLUSH, file->name, nullptr,
                            nullptr);
    }
  } else {
    // The other half becomes the current one: its write must be done.
    WaitFree(FreeFlag(writer, writer->buffer2));
    int* mine = FreeFlag(writer, writer->buffer);
    std::atomic_ref<int>(*mine).store(0);
    int rc = file4writeDelay(file, writer->pos, writer->buffer, writer->avail, HalfWritten, mine);
    if (rc < 0) return rc;
    std::swap(writer->buffer, writer->buffer2);
  }
  writer->pos += writer->avail;
  writer->avail = 0;
  writer->working = writer->total;
  return 0;
}

int file4seqWrite(FILE4SEQ_WRITE* writer, const void* data, unsigned length) {
  if (writer == nullptr || (data == nullptr && length != 0)) {
    return error4(nullptr, e4parmNull, E4_FILE4_SEQ_WRITE);
  }
  CODE4* c4 = writer->file->codeBase;
  if (c4 == nullptr) return e4write;
  if (c4->errorCode < 0) return -1;
  if (writer->buffer == nullptr) {
    int rc = file4write(writer->file, writer->pos, data, length);
    if (rc == 0) writer->pos += length;
    return rc;
  }
  const auto* in = static_cast<const char*>(data);
  while (length > 0) {
    unsigned room = writer->working - writer->avail;
    unsigned take = length < room ? length : room;
    std::memcpy(writer->buffer + writer->avail, in, take);
    writer->avail += take;
    in += take;
    length -= take;
    if (writer->avail == writer->working) {
      if (int rc = file4seqWriteFlush(writer)) return rc;
    }
  }
  return 0;
}

int file4seqWriteRepeat(FILE4SEQ_WRITE* writer, long count, char byte) {
  if (count < 0) return error4(writer ? writer->file->codeBase : nullptr, e4parm, E4_FILE4_SEQ_WRITE_REPEAT);
  char piece[512];
  std::memset(piece, byte, sizeof piece);
  while (count > 0) {
    unsigned n = count > long(sizeof piece) ? unsigned(sizeof piece) : unsigned(count);
    if (int rc = file4seqWrite(writer, piece, n)) return rc;
    count -= long(n);
  }
  return 0;
}

int file4seqWriteClose(FILE4SEQ_WRITE* writer) {
  int rc = file4seqWriteFlush(writer);
  int written = file4writeDelayFlush(writer->file, 1);
  if (writer->buffer != nullptr) {
    WaitFree(&writer->buffer1free);
    WaitFree(&writer->buffer2free);
  }
  int flushed = opt4fileFlush(writer->file, 0);
  if (rc < 0) return rc;
  return written < 0 ? written : flushed;
}
