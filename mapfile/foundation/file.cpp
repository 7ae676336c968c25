// The file layer: counted opens with share locks, the shared page cache of
// binary handles, and the text handles' line reading and writing.
//
// Descriptors outlive a logical close: the entry keeps its descriptor idle,
// without its share lock, and the stamp of its path (size, inode,
// modification time in nanoseconds). An open compares that stamp with a
// fresh stat of the path, never with the kept descriptor, so a rewrite or a
// rename-over by another process is seen; then the kept descriptor is
// closed, the file opened afresh and its cached pages dropped.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/file_internal.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/state.h"
#include "platform/env.h"

namespace layerio {

// ===== The page cache ========================================================

// 400 records in use plus a spare end mark, as sized for table and index
// pages. A record of handle 0 is free; its page number is made unique so
// that the index's keys stay distinct.
inline constexpr int kCacheSlots = kFileCachePages + 1;
inline constexpr uint16_t kNoRecord = 0xFFFF;
inline constexpr uint32_t kPageDirty = 1;

struct FileCacheRecord {
  int64_t page;
  uint16_t next;  // towards the tail (less recently used)
  uint16_t prev;  // towards the head
  int32_t handle;
  int32_t valid;  // bytes of the page that hold file data; the rest are zero
  int32_t buffer;
  uint32_t flags;
};

struct FileCache {
  FileCacheRecord records[kCacheSlots];
  uint16_t index[kCacheSlots];  // records 0..399 sorted by (handle, page)
  uint16_t head;                // most recently used
  uint16_t tail;                // reused next
  unsigned char* buffers;       // kCacheSlots pages
};

namespace {

platform::Env& Env() { return platform::Env::Current(); }

FileEntry* Table() { return State().fileTable; }

bool KeyLess(const FileCacheRecord& r, int32_t handle, int64_t page) {
  return r.handle < handle || (r.handle == handle && r.page < page);
}

// The first index slot whose key is not below (handle, page).
int LowerBound(const FileCache& c, int32_t handle, int64_t page) {
  int low = 0, high = kFileCachePages;
  while (low < high) {
    int mid = (low + high) / 2;
    if (KeyLess(c.records[c.index[mid]], handle, page))
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

unsigned char* PageBytes(FileCache& c, int record) {
  return c.buffers + size_t(c.records[record].buffer) * kFilePageSize;
}

void Unlink(FileCache& c, uint16_t r) {
  FileCacheRecord& x = c.records[r];
  if (x.prev != kNoRecord) c.records[x.prev].next = x.next; else c.head = x.next;
  if (x.next != kNoRecord) c.records[x.next].prev = x.prev; else c.tail = x.prev;
}

void MoveToHead(FileCache& c, uint16_t r) {
  if (c.head == r) return;
  Unlink(c, r);
  c.records[r].prev = kNoRecord;
  c.records[r].next = c.head;
  c.records[c.head].prev = r;
  c.head = r;
}

void MoveToTail(FileCache& c, uint16_t r) {
  if (c.tail == r) return;
  Unlink(c, r);
  c.records[r].next = kNoRecord;
  c.records[r].prev = c.tail;
  c.records[c.tail].next = r;
  c.tail = r;
}

// Gives a record a new key and moves its index slot to the sorted place.
void Rekey(FileCache& c, uint16_t r, int32_t handle, int64_t page) {
  FileCacheRecord& x = c.records[r];
  int from = LowerBound(c, x.handle, x.page);
  std::memmove(c.index + from, c.index + from + 1, size_t(kFileCachePages - from - 1) * sizeof(uint16_t));
  x.handle = handle;
  x.page = page;
  // Search the other 399 slots for the new place.
  int low = 0, high = kFileCachePages - 1;
  while (low < high) {
    int mid = (low + high) / 2;
    if (KeyLess(c.records[c.index[mid]], handle, page))
      low = mid + 1;
    else
      high = mid;
  }
  std::memmove(c.index + low + 1, c.index + low, size_t(kFileCachePages - 1 - low) * sizeof(uint16_t));
  c.index[low] = r;
}

// Free records sort first (handle 0) with page numbers of their own.
void MakeFree(FileCache& c, uint16_t r) {
  Rekey(c, r, 0, -1 - int64_t(r));
  FileCacheRecord& x = c.records[r];
  x.valid = 0;
  x.flags = 0;
  std::memset(PageBytes(c, r), 0, kFilePageSize);
  MoveToTail(c, r);
}

// Dirty pages of one file that follow each other on disk go out in one
// gathered write: an operation that appends blocks, or an eviction that
// writes back a file's pages, pays one call per run instead of per page.
inline constexpr int kFlushRun = 64;

// The most pages a file grows by in the cache alone (FileSetSize).
inline constexpr int kGrowInCache = 8;

// Writes the run of dirty pages that starts at index slot i; the number of
// slots it covered, or -1 on failure (those pages stay dirty).
int WriteRun(FileCache& c, int i) {
  const FileCacheRecord& first = c.records[c.index[i]];
  FileEntry* e = FileEntryOf(first.handle);
  if (!e || e->descriptor < 0) return -1;
  platform::Env::WritePiece pieces[kFlushRun];
  int n = 0;
  int64_t bytes = 0;
  for (int k = i; k < kFileCachePages && n < kFlushRun; ++k) {
    const uint16_t r = c.index[k];
    const FileCacheRecord& x = c.records[r];
    if (n > 0) {
      const FileCacheRecord& before = c.records[c.index[k - 1]];
      // Only whole pages are followed by another: a short one ends the
      // bytes the file holds there.
      if (x.handle != first.handle || x.page != before.page + 1 || !(x.flags & kPageDirty) ||
          before.valid != kFilePageSize) {
        break;
      }
    }
    pieces[n++] = {PageBytes(c, r), size_t(x.valid)};
    bytes += x.valid;
  }
  e->flags |= kEntryWritten;
  if (Env().WriteAtGather(e->descriptor, pieces, n, first.page * kFilePageSize) != bytes) {
    return -1;
  }
  for (int k = i; k < i + n; ++k) c.records[c.index[k]].flags &= ~kPageDirty;
  return n;
}

// Writes the dirty pages of one handle (or of all, handle -1) in file order;
// stops at the first failure.
bool FlushPages(FileCache& c, int32_t handle) {
  int from = handle < 0 ? 0 : LowerBound(c, handle, INT64_MIN);
  for (int i = from; i < kFileCachePages;) {
    uint16_t r = c.index[i];
    if (handle >= 0 && c.records[r].handle != handle) break;
    if (!(c.records[r].flags & kPageDirty)) {
      ++i;
      continue;
    }
    int n = WriteRun(c, i);
    if (n < 0) return false;
    i += n;
  }
  return true;
}

// The record of (handle, page): mode 0 finds only, 1 takes a record without
// reading (for a whole-page write), 2 takes it and reads the page. -1 when
// the page cannot be had.
int CachePage(FileCache& c, FileEntry& e, int32_t handle, int64_t page, int mode) {
  int at = LowerBound(c, handle, page);
  if (at < kFileCachePages) {
    uint16_t r = c.index[at];
    if (c.records[r].handle == handle && c.records[r].page == page) {
      MoveToHead(c, r);
      return r;
    }
  }
  if (mode == 0) return -1;
  uint16_t r = c.tail;
  if ((c.records[r].flags & kPageDirty) && !FlushPages(c, c.records[r].handle)) return -1;
  Rekey(c, r, handle, page);
  FileCacheRecord& x = c.records[r];
  x.valid = 0;
  x.flags = 0;
  MoveToHead(c, r);
  unsigned char* bytes = PageBytes(c, r);
  if (mode == 2) {
    int64_t n = e.descriptor < 0 ? -1
                                 : Env().ReadAt(e.descriptor, bytes, kFilePageSize, page * kFilePageSize);
    if (n < 0) {
      MakeFree(c, r);
      return -1;
    }
    x.valid = int32_t(n);
    std::memset(bytes + n, 0, size_t(kFilePageSize - n));
  } else {
    std::memset(bytes, 0, kFilePageSize);
  }
  return r;
}

// A read of many pages takes them from the file in one call and lays the
// cached pages, which hold the newest bytes, over them; streaming through a
// large file this way neither costs a call per page nor pushes the pages
// other operations keep out of the cache.
inline constexpr int32_t kBulkReadBytes = 4 * kFilePageSize;

int32_t ReadSpan(FileCache& c, FileEntry& e, int32_t handle, unsigned char* out, int32_t count) {
  const int64_t from = e.position;
  const int64_t end = std::min<int64_t>(from + count, e.size);
  const size_t want = size_t(end - from);
  int64_t n = Env().ReadAt(e.descriptor, out, want, from);
  if (n < 0) return -1;
  // Bytes not yet on disk are those of cached pages, or zero.
  if (size_t(n) < want) std::memset(out + n, 0, want - size_t(n));
  for (int at = LowerBound(c, handle, from / kFilePageSize); at < kFileCachePages;
       ++at) {
    const FileCacheRecord& r = c.records[c.index[at]];
    if (r.handle != handle) break;
    const int64_t pageStart = r.page * kFilePageSize;
    if (pageStart >= end) break;
    const int64_t lo = std::max(pageStart, from);
    const int64_t hi = std::min(pageStart + kFilePageSize, end);
    std::memcpy(out + (lo - from), PageBytes(c, c.index[at]) + (lo - pageStart), size_t(hi - lo));
  }
  e.position = end;
  return int32_t(want);
}

// Removes the handle's pages (beyond firstPage) without writing them.
void DiscardFrom(FileCache& c, int32_t handle, int64_t firstPage) {
  for (;;) {
    int at = LowerBound(c, handle, firstPage);
    if (at >= kFileCachePages) return;
    uint16_t r = c.index[at];
    if (c.records[r].handle != handle) return;
    MakeFree(c, r);
  }
}

// ===== Opening and closing ===================================================

std::string ResolvedPath(FileHandle handle) {
  return Env().ResolveExisting(FileEntryPath(handle));
}

FileStamp StampOf(const platform::FileInfo& info) {
  return FileStamp{info.size, info.device, info.inode, info.modifiedNanos};
}

int DescriptorOf(const FileEntry& e) { return e.stream ? fileno(e.stream) : e.descriptor; }

// The stamp of the file the entry holds (of its path when it holds none):
// a later open that finds another file or another stamp under the path
// knows the file was changed or replaced meanwhile.
void RecordStamp(FileEntry& e, FileHandle handle) {
  platform::FileInfo info;
  const int fd = DescriptorOf(e);
  e.flags &= ~kEntryWritten;
  if ((fd >= 0 ? Env().FileStat(fd, &info) : Env().PathStat(FileEntryPath(handle), &info)) == 0) {
    e.stamp = StampOf(info);
    e.stampState = kStampKept;
  } else {
    e.stamp = FileStamp{};
    e.stampState = kStampFailed;
  }
}

// Closes the idle entry that has waited longest, other than keep; false when
// none is idle.
bool CloseOldestIdle(int32_t keep) {
  FileEntry* t = Table();
  int best = -1;
  for (int32_t i = 0; i < State().fileTableSize; ++i) {
    const FileEntry& e = t[i];
    if (i == keep || !(e.flags & kEntryInUse) || EntryCount(e) != 0 || !EntryHolds(e)) continue;
    if (best < 0 || e.idleAge > t[best].idleAge) best = i;
  }
  if (best < 0) return false;
  FileEntryCloseOS(kFileHandleBase + best, true);
  return true;
}

void ReportOpenFailure(int32_t index, int mode, int error) {
  const char* name = Table()[index].name->name;
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENOSPC:
      FilePushNamed(kErrFileNotFound, name);
      return;
    case EACCES:
    case EPERM:
    case EROFS:
      if (mode != kFileModeCreate) FilePushNamed(kErrFileAccessDenied, name);
      return;
    case EEXIST:
      FilePushNamed(kErrFileExists, name);
      return;
    default:
      if (mode != kFileModeCreate) FilePushErrno(error, name);
      return;
  }
}

// Opens the entry's file afresh; true on success. Failures are reported.
bool FreshOpen(int32_t index, int mode, bool text, uint32_t* changed) {
  FoundationState& s = State();
  const FileHandle handle = kFileHandleBase + index;
  {
    FileEntry& e = Table()[index];
    e.flags = (e.flags & ~(kEntryModeMask | kEntryText)) | (uint32_t(mode) << kEntryModeShift) |
              (text ? kEntryText : 0);
    e.idleAge = 1;
  }
  for (int32_t i = 0; i < s.fileTableSize; ++i) {
    FileEntry& o = Table()[i];
    if (i != index && (o.flags & kEntryInUse) && EntryCount(o) == 0 && EntryHolds(o)) ++o.idleAge;
  }
  if (mode == kFileModeCreate) FileCacheDiscard(handle);
  const std::string path = ResolvedPath(handle);
  platform::Env& env = Env();
  int fd = -1;
  for (;;) {
    int error = 0;
    if (s.fileDescriptors >= s.fileDescriptorLimit) {
      error = EMFILE;
    } else {
      unsigned flags = mode == kFileModeRead ? platform::kRead : platform::kReadWrite;
      // Created without truncating: the file is emptied only once its lock
      // is held, so another holder's data is never cut.
      if (mode == kFileModeCreate) flags |= platform::kCreate;
      fd = env.Open(path, flags, 0666);
      if (fd < 0) {
        error = errno;
      } else if (env.ShareLock(fd, mode != kFileModeRead) != 0) {
        error = EACCES;
      } else if (mode != kFileModeRead) {
        platform::FileInfo info;
        if (env.FileStat(fd, &info) == 0 && !info.writable) error = EACCES;
      }
      if (error && fd >= 0) {
        env.Close(fd);
        fd = -1;
      }
    }
    if (!error) break;
    if (error == EMFILE || error == ENFILE) {
      if (CloseOldestIdle(index)) continue;
      FilePushNamed(kErrFileNoDescriptor, Table()[index].name->name);
      return false;
    }
    ReportOpenFailure(index, mode, error);
    return false;
  }
  FileEntry& e = Table()[index];
  platform::FileInfo now;
  bool seen = env.RawStat(path, &now) == 0;
  if (!seen || e.stampState != kStampKept || !(StampOf(now) == e.stamp)) {
    FileCacheDiscard(handle);
    if (e.stampState != kStampNone && changed) *changed |= 1;
  }
  // The stamp holds while nothing is written: a close after reads only
  // keeps it without looking again.
  if (seen) {
    e.stamp = StampOf(now);
    e.stampState = kStampKept;
    e.flags &= ~kEntryWritten;
  } else {
    e.flags |= kEntryWritten;
  }
  if (mode == kFileModeCreate) e.flags |= kEntryWritten;
  if (mode == kFileModeCreate && env.Truncate(fd, 0) != 0) {
    int error = errno;
    env.Close(fd);
    ReportOpenFailure(index, mode, error);
    return false;
  }
  if (text) {
    static const char* const kStreamModes[] = {"rb", "rb", "r+b", "w+b"};
    e.stream = env.OpenStream(fd, kStreamModes[mode]);
    if (!e.stream) {
      int error = errno;
      env.Close(fd);
      ReportOpenFailure(index, mode, error);
      return false;
    }
    e.descriptor = -1;
  } else {
    e.descriptor = fd;
  }
  EntrySetCount(e, 1);
  ++s.fileDescriptors;
  e.position = 0;
  e.size = text ? 0 : std::max<int64_t>(0, env.Seek(fd, 0, platform::kSeekEnd));
  return true;
}

// Takes an idle descriptor back when the path still names the file it was
// left on; false (nothing reported) when the file must be opened afresh.
bool ReuseIdle(int32_t index, int mode) {
  FileEntry& e = Table()[index];
  platform::Env& env = Env();
  const int fd = DescriptorOf(e);
  if (env.ShareLock(fd, mode != kFileModeRead) != 0) return false;
  platform::FileInfo now;
  if (e.stampState != kStampKept ||
      env.PathStat(FileEntryPath(kFileHandleBase + index), &now) != 0 ||
      !(StampOf(now) == e.stamp)) {
    env.ShareUnlock(fd);
    return false;
  }
  e.flags &= ~kEntryWritten;
  if (mode == kFileModeCreate) {
    e.flags |= kEntryWritten;
    FileCacheDiscard(kFileHandleBase + index);
    if (e.stream) std::fflush(e.stream);
    if (env.Truncate(fd, 0) != 0) {
      env.ShareUnlock(fd);
      return false;
    }
    e.size = 0;
  }
  e.idleAge = 1;
  for (int32_t i = 0; i < State().fileTableSize; ++i) {
    FileEntry& o = Table()[i];
    if (i != index && (o.flags & kEntryInUse) && EntryCount(o) == 0 && EntryHolds(o)) ++o.idleAge;
  }
  EntrySetCount(e, 1);
  e.position = 0;
  if (e.stream) std::rewind(e.stream);
  return true;
}

FileHandle OpenEntry(FileHandle handle, int mode, uint32_t* changed, bool text) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0) return -1;
  if (mode < kFileModeRead || mode > kFileModeCreate) mode = kFileModeRead;
  FileEntry& e = Table()[index];
  const bool sameText = ((e.flags & kEntryText) != 0) == text;
  const int count = EntryCount(e);
  const int held = EntryMode(e);
  if (EntryHolds(e) && count > 0) {
    if (sameText && (held == mode || held == kFileModeCreate ||
                     (held == kFileModeWrite && mode == kFileModeRead))) {
      if (count >= kFileMaxOpenCount) {
        FilePushErrno(EMFILE, e.name->name);
        return -1;
      }
      EntrySetCount(e, count + 1);
      e.position = 0;
      if (e.stream) std::rewind(e.stream);
      return handle;
    }
    if (sameText && held == kFileModeRead && mode == kFileModeWrite) {
      if (count >= kFileMaxOpenCount) {
        FilePushErrno(EMFILE, e.name->name);
        return -1;
      }
      EntrySetCount(e, 1);
      FileClose(handle);
      FileEntryCloseOS(handle, true);
      if (FreshOpen(index, kFileModeWrite, text, nullptr)) {
        EntrySetCount(Table()[index], count + 1);
        return handle;
      }
      if (FreshOpen(index, kFileModeRead, text, nullptr)) EntrySetCount(Table()[index], count);
      return -1;
    }
    FilePushNamed(kErrFileModeConflict, e.name->name);
    return -1;
  }
  if (EntryHolds(e)) {
    if (sameText && held == mode && ReuseIdle(index, mode)) return handle;
    FileEntryCloseOS(handle, true);
  }
  return FreshOpen(index, mode, text, changed) ? handle : -1;
}

FileEntry* OpenBinary(FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0) return nullptr;
  return &Table()[index];
}

std::FILE* StreamOf(FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0) return nullptr;
  return Table()[index].stream;
}

int SafeCharset(int charset) { return charset >= 0 && charset < kCharsetCount ? charset : 0; }

// Writes len bytes of text, each '\n' as the line end.
bool WriteWithLineEnds(std::FILE* f, const char* text, size_t len, const char* lineEnd) {
  if (lineEnd[0] == '\n' && lineEnd[1] == 0) return std::fwrite(text, 1, len, f) == len;
  size_t endLen = std::strlen(lineEnd);
  const char* p = text;
  const char* end = text + len;
  while (p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    size_t run = size_t((nl ? nl : end) - p);
    if (run && std::fwrite(p, 1, run, f) != run) return false;
    if (!nl) break;
    if (std::fwrite(lineEnd, 1, endLen, f) != endLen) return false;
    p = nl + 1;
  }
  return true;
}

}  // namespace

// ===== Shared helpers ========================================================

FileEntry* FileEntryOf(FileHandle handle) {
  int64_t index = int64_t(handle) - kFileHandleBase;
  if (handle < kFileHandleBase || index >= State().fileTableSize) return nullptr;
  FileEntry& e = Table()[index];
  return (e.flags & kEntryInUse) ? &e : nullptr;
}

void FilePushNamed(int16_t code, const char* name) { ErrorPush(kErrorSeverity, code, name, nullptr); }

void FilePushErrno(int error, const char* name) {
  char number[16];
  std::snprintf(number, sizeof number, "%d", error);
  ErrorPush(kErrorSeverity, kErrFileOpenFailed, number, name);
}

void FileEntryCloseOS(FileHandle handle, bool writeDirty) {
  FileEntry* e = FileEntryOf(handle);
  if (!e) return;
  if (FileCache* c = State().fileCache) {
    if (writeDirty && e->descriptor >= 0) FlushPages(*c, handle);
    // Clean pages stay: the next open keeps them while the file is unchanged.
    for (int i = LowerBound(*c, handle, INT64_MIN); i < kFileCachePages; ++i) {
      FileCacheRecord& r = c->records[c->index[i]];
      if (r.handle != handle) break;
      if (r.flags & kPageDirty) {
        DiscardFrom(*c, handle, INT64_MIN);
        break;
      }
    }
  }
  platform::Env& env = Env();
  if (e->stream) {
    env.CloseStream(e->stream);
    e->stream = nullptr;
    --State().fileDescriptors;
  }
  if (e->descriptor >= 0) {
    env.Close(e->descriptor);
    e->descriptor = -1;
    --State().fileDescriptors;
  }
}

void FileCacheDiscard(FileHandle handle) {
  if (FileCache* c = State().fileCache) DiscardFrom(*c, handle, INT64_MIN);
}

// ===== Handles ===============================================================

int32_t FileHandleCheck(FileHandle handle) {
  if (!FileEntryOf(handle)) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", handle);
    ErrorPush(kErrorSeverity, kErrFileBadHandle, number, nullptr);
    return -1;
  }
  return handle - kFileHandleBase;
}

FileHandle FileOpen(FileHandle handle, int mode, uint32_t* changed) {
  return OpenEntry(handle, mode, changed, false);
}

FileHandle FileOpenRaw(FileHandle handle, int mode, uint32_t* changed) {
  return OpenEntry(handle, mode, changed, false);
}

FileHandle FileOpenText(FileHandle handle, int mode, uint32_t* changed) {
  FileHandle h = OpenEntry(handle, mode, changed, true);
  return h < 0 ? 0 : h;
}

int FileClose(FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0) return -1;
  FileEntry& e = Table()[index];
  int count = EntryCount(e);
  if (count == 0) {
    char text[16];
    std::snprintf(text, sizeof text, "#%d", handle);
    ErrorPush(kErrorSeverity, kErrFileNoOpenCount, text, nullptr);
    return -1;
  }
  EntrySetCount(e, count - 1);
  if (count > 1) return 0;
  int result = 0;
  if (FileCache* c = State().fileCache) {
    if (!FlushPages(*c, handle)) result = -1;
  }
  if (e.stream && std::fflush(e.stream) != 0) result = -1;
  if (e.stream || (e.flags & kEntryWritten) || e.stampState != kStampKept) RecordStamp(e, handle);
  if (EntryHolds(e)) {
    if (result == 0) {
      Env().ShareUnlock(DescriptorOf(e));
    } else {
      // Pages that could not be written are not kept for a later open.
      FileEntryCloseOS(handle, false);
    }
  }
  return result;
}

int FileOpenCount(FileHandle handle) {
  FileEntry* e = FileEntryOf(handle);
  return e ? EntryCount(*e) : 0;
}

// ===== Binary reads and writes ===============================================

int32_t FileRead(FileHandle handle, void* buffer, int32_t count) {
  FileEntry* e = OpenBinary(handle);
  if (!e || e->descriptor < 0 || count < 0) return -1;
  FileCache* c = State().fileCache;
  auto* out = static_cast<unsigned char*>(buffer);
  if (!c) {
    int64_t n = Env().ReadAt(e->descriptor, out, size_t(count), e->position);
    if (n < 0) return -1;
    e->position += n;
    return int32_t(n);
  }
  if (e->position >= e->size) return 0;  // no page past the end is cached
  if (count >= kBulkReadBytes) return ReadSpan(*c, *e, handle, out, count);
  int32_t done = 0;
  while (done < count) {
    int64_t page = e->position / kFilePageSize;
    int32_t offset = int32_t(e->position % kFilePageSize);
    int r = CachePage(*c, *e, handle, page, 2);
    if (r < 0) break;
    int32_t valid = c->records[r].valid;
    if (offset >= valid) break;
    int32_t n = std::min(valid - offset, count - done);
    std::memcpy(out + done, PageBytes(*c, r) + offset, size_t(n));
    done += n;
    e->position += n;
    if (e->position / kFilePageSize == page) break;  // a short page ends the file
  }
  return done;
}

int32_t FileWrite(FileHandle handle, const void* buffer, int32_t count) {
  FileEntry* e = OpenBinary(handle);
  if (!e || e->descriptor < 0 || count < 0) return -1;
  FileCache* c = State().fileCache;
  const auto* in = static_cast<const unsigned char*>(buffer);
  platform::Env& env = Env();
  if (!c) {
    e->flags |= kEntryWritten;
    int64_t n = env.WriteAt(e->descriptor, in, size_t(count), e->position);
    if (n < 0) return -1;
    e->position += n;
    if (n > 0) e->size = std::max(e->size, e->position);  // writing nothing extends nothing
    return int32_t(n);
  }
  int32_t done = 0;
  while (done < count) {
    int64_t page = e->position / kFilePageSize;
    int32_t offset = int32_t(e->position % kFilePageSize);
    int32_t n = std::min(kFilePageSize - offset, count - done);
    int r = CachePage(*c, *e, handle, page, n == kFilePageSize ? 1 : 2);
    int64_t end = e->position + n;
    if (r < 0) {
      e->flags |= kEntryWritten;
      if (env.WriteAt(e->descriptor, in + done, size_t(n), e->position) != n) return -1;
      e->size = std::max(e->size, end);
    } else if (end <= e->size && offset + n <= c->records[r].valid &&
               std::memcmp(PageBytes(*c, r) + offset, in + done, size_t(n)) == 0) {
      // Bytes the file already holds: a header or an index entry stored back
      // unchanged leaves its page clean, so the close does not write it again.
    } else {
      std::memcpy(PageBytes(*c, r) + offset, in + done, size_t(n));
      FileCacheRecord& x = c->records[r];
      x.flags |= kPageDirty;
      x.valid = std::max(x.valid, offset + n);
      if (end > e->size) {
        // A write into a later page than the old end extends the file first,
        // so that the pages between read as the zeros the host gives them.
        int64_t oldLast = e->size > 0 ? (e->size - 1) / kFilePageSize : -1;
        if (page > oldLast) {
          if (FileSetSize(handle, end) != 0) return -1;
        } else {
          e->size = end;
        }
      }
    }
    e->position = end;
    done += n;
  }
  return done;
}

int64_t FileSeek(FileHandle handle, int64_t offset, int origin) {
  FileEntry* e = OpenBinary(handle);
  if (!e) return -1;
  int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = e->position; break;
    case 2: base = e->size; break;
    default: return e->position;
  }
  if (base + offset < 0) return -1;
  e->position = base + offset;
  return e->position;
}

int64_t FileSize(FileHandle handle) {
  FileEntry* e = OpenBinary(handle);
  return e ? e->size : -1;
}

int FileSetSize(FileHandle handle, int64_t size) {
  FileEntry* e = OpenBinary(handle);
  if (!e || e->descriptor < 0 || size < 0) return -1;
  FileCache* c = State().fileCache;
  const int64_t oldSize = e->size;
  if (c && size > oldSize && oldSize % kFilePageSize == 0 &&
      size - oldSize <= int64_t(kGrowInCache) * kFilePageSize) {
    // A file that grows by a few pages from a page boundary grows in the
    // cache: the new pages are zeros there and reach the host with the
    // other dirty pages, so that adding a block costs no call of its own.
    bool taken = true;
    for (int64_t page = oldSize / kFilePageSize; taken && page * kFilePageSize < size; ++page) {
      int r = CachePage(*c, *e, handle, page, 1);
      if (r < 0) {
        taken = false;
        break;
      }
      FileCacheRecord& x = c->records[r];
      const int64_t bytes = std::min<int64_t>(kFilePageSize, size - page * kFilePageSize);
      x.valid = std::max(x.valid, int32_t(bytes));
      x.flags |= kPageDirty;
    }
    if (taken) {
      e->size = size;
      return 0;
    }
  }
  // The host fills a file it extends with zeros.
  e->flags |= kEntryWritten;
  if (Env().Truncate(e->descriptor, size) != 0) return -1;
  e->size = size;
  if (!c) return 0;
  const int64_t last = size > 0 ? (size - 1) / kFilePageSize : -1;
  DiscardFrom(*c, handle, last + 1);
  // Every cached page from the old end's to the new last one now holds file
  // bytes up to the new end (zeros past the old end, as the buffers do).
  const int64_t oldLast = oldSize > 0 ? (oldSize - 1) / kFilePageSize : 0;
  for (int i = LowerBound(*c, handle, std::min(oldLast, std::max<int64_t>(last, 0)));
       i < kFileCachePages; ++i) {
    FileCacheRecord& x = c->records[c->index[i]];
    if (x.handle != handle || x.page > last) break;
    int32_t valid = x.page == last ? int32_t((size - 1) % kFilePageSize + 1) : kFilePageSize;
    if (x.valid == valid) continue;
    if (valid < x.valid) std::memset(PageBytes(*c, c->index[i]) + valid, 0, size_t(kFilePageSize - valid));
    x.valid = valid;
    x.flags |= kPageDirty;
  }
  return 0;
}

int FileSetCharset(FileHandle handle, int charset) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0) return -1;
  Table()[index].charset = int8_t(SafeCharset(charset));
  return Table()[index].charset;
}

int FileGetCharset(FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  return index < 0 ? -1 : Table()[index].charset;
}

int FileGetAccessMode(FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  return index < 0 ? 1 : EntryMode(Table()[index]);
}

int FileModeFromFlags(int flags) {
  if (flags & 0x100) return kFileModeCreate;
  if (flags & 3) return kFileModeWrite;
  return kFileModeRead;
}

// ===== Text handles ==========================================================

char* FileReadLine(char* buffer, int size, FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0 || size < 2) return nullptr;
  FileEntry& e = Table()[index];
  std::FILE* f = e.stream;
  if (!f || !std::fgets(buffer, size, f)) return nullptr;
  size_t len = std::strlen(buffer);
  if (len == 0) return nullptr;
  if (len == 1 && buffer[0] == 26) return nullptr;  // Ctrl-Z closes old text files
  if (char* cr = static_cast<char*>(std::memchr(buffer, '\r', len))) {
    size_t k = size_t(cr - buffer);
    if (k + 1 < len) {
      size_t used = k + 1 + (buffer[k + 1] == '\n' ? 1 : 0);
      if (used < len) fseeko(f, -static_cast<off_t>(len - used), SEEK_CUR);
    } else {
      int next = std::getc(f);
      if (next != '\n' && next != EOF) std::ungetc(next, f);
    }
    buffer[k] = '\n';
    buffer[k + 1] = 0;
  }
  CharsetConvert(buffer, e.charset, CharsetSystem(), size_t(size));
  return buffer;
}

int FilePutChar(int c, FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0) return -1;
  FileEntry& e = Table()[index];
  if (!e.stream) return -1;
  if (c == '\n') {
    const char* end = CharsetTable()[SafeCharset(e.charset)].lineEnd;
    return std::fputs(end, e.stream) < 0 ? -1 : c;
  }
  char one[4] = {char(c), 0, 0, 0};
  CharsetConvert(one, CharsetSystem(), e.charset, sizeof one);
  size_t n = one[0] ? std::strlen(one) : 1;
  return std::fwrite(one, 1, n, e.stream) == n ? c : -1;
}

int FilePuts(const char* text, FileHandle handle) {
  int32_t index = FileHandleCheck(handle);
  if (index < 0 || !text) return -1;
  FileEntry& e = Table()[index];
  if (!e.stream) return -1;
  const int from = CharsetSystem();
  const int to = SafeCharset(e.charset);
  const char* lineEnd = CharsetTable()[to].lineEnd;
  size_t len = std::strlen(text);
  if (from == to || from == 0 || to == 0) return WriteWithLineEnds(e.stream, text, len, lineEnd) ? 0 : -1;
  // Converted in a copy: a double-byte target may need more room than the
  // text, and the caller's text stays as it was.
  size_t capacity = 2 * len + 4;
  char local[1024];
  char* copy = capacity <= sizeof local ? local : static_cast<char*>(MemAlloc(capacity));
  if (!copy) return -1;
  std::memcpy(copy, text, len + 1);
  CharsetConvert(copy, from, to, capacity);
  bool ok = WriteWithLineEnds(e.stream, copy, std::strlen(copy), lineEnd);
  if (copy != local) MemFree(copy);
  return ok ? 0 : -1;
}

int FilePrintf(FileHandle handle, const char* format, ...) {
  char local[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(local, sizeof local, format, args);
  va_end(args);
  if (n < 0) return -1;
  char* text = local;
  if (size_t(n) >= sizeof local) {
    // A long record is written whole rather than cut at the buffer.
    text = static_cast<char*>(MemAlloc(size_t(n) + 1));
    if (!text) return -1;
    va_start(args, format);
    std::vsnprintf(text, size_t(n) + 1, format, args);
    va_end(args);
  }
  int r = FilePuts(text, handle);
  if (text != local) MemFree(text);
  return r < 0 ? -1 : n;
}

size_t FileStreamRead(void* buffer, size_t size, size_t count, FileHandle handle) {
  std::FILE* f = StreamOf(handle);
  return f ? std::fread(buffer, size, count, f) : 0;
}

int FileStreamSeek(FileHandle handle, int64_t offset, int origin) {
  std::FILE* f = StreamOf(handle);
  if (!f) return -1;
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  return fseeko(f, off_t(offset), whence) == 0 ? 0 : -1;
}

int64_t FileStreamTell(FileHandle handle) {
  std::FILE* f = StreamOf(handle);
  return f ? int64_t(ftello(f)) : -1;
}

int FileStreamError(FileHandle handle) {
  std::FILE* f = StreamOf(handle);
  return f && std::ferror(f) ? 1 : 0;
}

// ===== Files by path =========================================================

int FileStat(const char* path, FileStatRec* out) {
  platform::FileInfo info;
  if (!path || Env().PathStat(path, &info) != 0) return -1;
  out->size = info.size;
  out->modified = info.modifiedNanos;
  uint32_t a = (info.directory ? kFileAttrDirectory : 0) | (info.writable ? 0 : kFileAttrReadOnly);
  out->attributes = a ? a : kFileAttrNormal;
  return 0;
}

int FileRename(const char* oldPath, const char* newPath) {
  return Env().Rename(oldPath, newPath) == 0 ? 0 : -1;
}

int FileRemove(const char* path) { return Env().Remove(path) == 0 ? 0 : -1; }

int16_t FileCopy(FileHandle source, FileHandle destination, int append) {
  FileEntry* d = FileEntryOf(destination);
  if (!FileEntryOf(source) || !d) {
    FileHandleCheck(FileEntryOf(source) ? destination : source);
    return 0;
  }
  const std::string name = d->name->name;
  auto fail = [&name]() {
    FilePushNamed(kErrFileCopyFailed, name.c_str());
    return int16_t(0);
  };
  if (State().fileCache) {
    FlushPages(*State().fileCache, source);
  }
  if (FileOpen(source, kFileModeRead, nullptr) < 0) return fail();
  if (FileOpen(destination, append ? kFileModeWrite : kFileModeCreate, nullptr) < 0) {
    FileClose(source);
    return fail();
  }
  // The copy goes past the destination's cache: its pages are written and
  // dropped first.
  if (FileCache* c = State().fileCache) {
    FlushPages(*c, destination);
    DiscardFrom(*c, destination, INT64_MIN);
  }
  FileEntry* s = FileEntryOf(source);
  d = FileEntryOf(destination);
  platform::Env& env = Env();
  bool ok = s->descriptor >= 0 && d->descriptor >= 0;
  d->flags |= kEntryWritten;
  void* block = ok ? MemAlloc(4096) : nullptr;
  ok = ok && block;
  int64_t from = 0;
  int64_t to = append ? d->size : 0;
  while (ok) {
    int64_t n = env.ReadAt(s->descriptor, block, 4096, from);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (env.WriteAt(d->descriptor, block, size_t(n), to) != n) ok = false;
    from += n;
    to += n;
  }
  if (block) MemFree(block);
  if (d->descriptor >= 0) d->size = std::max(d->size, to);
  FileClose(source);
  FileClose(destination);
  return ok ? 1 : fail();
}

void FileCloseOS(FileHandle handle) { FileEntryCloseOS(handle, true); }

// ===== The cache's life ======================================================

int16_t FileCacheInit() {
  FoundationState& s = State();
  if (s.fileCache) return 1;
  auto* c = static_cast<FileCache*>(MemAlloc(sizeof(FileCache)));
  if (!c) return 0;
  c->buffers = static_cast<unsigned char*>(MemAlloc(size_t(kCacheSlots) * kFilePageSize));
  if (!c->buffers) {
    MemFree(c);
    return 0;
  }
  std::memset(c->buffers, 0, size_t(kCacheSlots) * kFilePageSize);
  for (int i = 0; i < kCacheSlots; ++i) {
    FileCacheRecord& r = c->records[i];
    r = FileCacheRecord{};
    r.page = -1 - int64_t(i);
    r.buffer = i;
    r.prev = i == 0 ? kNoRecord : uint16_t(i - 1);
    r.next = i + 1 >= kFileCachePages ? kNoRecord : uint16_t(i + 1);
    c->index[i] = uint16_t(i);
  }
  // Free records' keys (0, -1 - i) sort in reverse record order.
  std::reverse(c->index, c->index + kFileCachePages);
  c->head = 0;
  c->tail = kFileCachePages - 1;
  s.fileCache = c;
  return 1;
}

int16_t FileCacheDrop(FileHandle handle) {
  FileCache* c = State().fileCache;
  if (!c) return 1;
  bool ok = FlushPages(*c, handle);
  DiscardFrom(*c, handle, INT64_MIN);
  return ok ? 1 : 0;
}

int16_t FileCacheFlush(FileHandle handle) {
  FileCache* c = State().fileCache;
  if (!c) return 1;
  return FlushPages(*c, handle < 0 ? -1 : handle) ? 1 : 0;
}

void FileCloseIdle() {
  for (int32_t i = 0; i < State().fileTableSize; ++i) {
    const FileEntry& e = Table()[i];
    if ((e.flags & kEntryInUse) && EntryCount(e) == 0 && EntryHolds(e))
      FileEntryCloseOS(kFileHandleBase + i, true);
  }
}

void FileLayerShutdown() {
  FileCloseIdle();
  FoundationState& s = State();
  if (s.fileCache) {
    MemFree(s.fileCache->buffers);
    MemFree(s.fileCache);
    s.fileCache = nullptr;
  }
}

int FileSetDescriptorLimit(int limit) {
  int previous = State().fileDescriptorLimit;
  State().fileDescriptorLimit = limit;
  return previous;
}

int FileDescriptorCount() { return State().fileDescriptors; }

int32_t NumParseLongN(const char* text, int n) {
  char copy[256];
  size_t len = 0;
  if (n > 255) n = 255;
  while (int(len) < n && text[len]) {
    copy[len] = text[len];
    ++len;
  }
  copy[len] = 0;
  int32_t out = 0;
  NumParseLong(copy, &out);
  return out;
}

}  // namespace layerio
