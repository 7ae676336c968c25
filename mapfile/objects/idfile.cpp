// The object index file (.ID): one u32 per row, the position of the row's
// object record in the map-object file, 0 for none.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "mapfile/foundation/error.h"
#include "mapfile/foundation/path.h"
#include "mapfile/objects/mapfile.h"

namespace layerio {

// The file's bytes from offset 0 in pages of the file layer's size: a page
// is unknown until read or written, then kept; written pages wait for
// IdFileCacheEnd.
struct IdFileCache {
  enum : uint8_t { kUnknown = 0, kKept = 1, kChanged = 2 };
  int64_t size = 0;      // the file's size once the changes are written
  int64_t fileSize = 0;  // the size the file layer has (pages beyond are all kept)
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> pages;
  bool changed = false;
};

namespace {

constexpr int32_t kZeroPiece = 256;
constexpr int64_t kPage = kFilePageSize;

// The entries of the file could not be read: the rows' objects are not
// known, which is an error of its own, never "no object".
int16_t PushUnreadable(const IdFileAccess* access, const char* what) {
  char name[kPathCapacity] = "";
  if (access->file && FileHandleCheck(access->file) >= 0) FilePath(access->file, name);
  ErrorPush(kErrorSeverity, kErrMapDamaged, name, what);
  return 0;
}

int16_t OpenCompanion(IdFileAccess* access, FileHandle tableFile, int kind, int mode) {
  std::memset(access, 0, sizeof *access);
  if (kind < 0) kind = kMapIdFileKind;
  FileHandle file = MapCompanionAdd(tableFile, kind);
  if (!file) return 0;
  uint32_t changed = 0;
  if (FileOpen(file, mode, &changed) < 0) {
    FileRelease(file);
    return 0;
  }
  access->file = file;
  access->mode = mode;
  access->read = IdFileRead;
  access->write = IdFileWrite;
  return 1;
}

// Makes room for the bytes up to end and reads the pages of [from, end) the
// cache has not seen; false when beyond the budget or a read failed.
bool Reach(IdFileAccess* access, int64_t from, int64_t end) {
  IdFileCache* c = access->cache;
  const int64_t lastPage = (end - 1) / kPage;
  if (end > int64_t(kIdFileCacheBytes)) return false;
  try {
    if (int64_t(c->pages.size()) <= lastPage) {
      c->pages.resize(size_t(lastPage + 1), IdFileCache::kUnknown);
      c->bytes.resize(size_t(lastPage + 1) * kPage, 0);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int64_t page = from / kPage; page <= lastPage; ++page) {
    if (c->pages[size_t(page)] != IdFileCache::kUnknown) continue;
    const int64_t at = page * kPage;
    if (at < c->fileSize) {
      const int32_t want = int32_t(std::min(kPage, c->fileSize - at));
      if (FileSeek(access->file, at, 0) != at ||
          FileRead(access->file, c->bytes.data() + at, want) != want) {
        return false;
      }
    }
    c->pages[size_t(page)] = IdFileCache::kKept;
  }
  return true;
}

// Writes the changed pages back in runs of adjacent pages.
bool WriteBack(IdFileAccess* access) {
  IdFileCache* c = access->cache;
  if (!c->changed) return true;
  const int64_t count = int64_t(c->pages.size());
  for (int64_t page = 0; page < count;) {
    if (c->pages[size_t(page)] != IdFileCache::kChanged) {
      ++page;
      continue;
    }
    int64_t end = page;
    while (end < count && c->pages[size_t(end)] == IdFileCache::kChanged) ++end;
    const int64_t at = page * kPage;
    const int64_t stop = std::min(end * kPage, c->size);
    if (stop > at) {
      const int32_t n = int32_t(stop - at);
      if (FileSeek(access->file, at, 0) != at ||
          FileWrite(access->file, c->bytes.data() + at, n) != n) {
        return false;
      }
    }
    for (int64_t k = page; k < end; ++k) c->pages[size_t(k)] = IdFileCache::kKept;
    page = end;
  }
  c->changed = false;
  c->fileSize = FileSize(access->file);
  return c->fileSize == c->size;
}

// Falls back to the file itself: changes kept so far are written first.
bool LeaveCache(IdFileAccess* access) {
  const bool ok = WriteBack(access);
  IdFileCacheFree(access);
  return ok;
}

}  // namespace

int16_t IdFileCreate(IdFileAccess* access, FileHandle tableFile, int kind) {
  return OpenCompanion(access, tableFile, kind, kFileModeCreate);
}

int16_t IdFileOpen(IdFileAccess* access, FileHandle tableFile, int kind, int mode) {
  return OpenCompanion(access, tableFile, kind, mode);
}

int64_t IdFileSize(const IdFileAccess* access) {
  if (!access->file) return -1;
  return access->cache ? access->cache->size : FileSize(access->file);
}

int16_t IdFileRead(int32_t row, uint32_t* position, IdFileAccess* access) {
  *position = 0;
  if (row < 1 || !access->file) return 0;
  const int64_t offset = int64_t(row - 1) * 4;
  const int64_t size = IdFileSize(access);
  if (size < 0 || offset + 4 > size) return 0;
  if (access->cache) {
    if (Reach(access, offset, offset + 4)) {
      *position = QLoadU32LE(access->cache->bytes.data() + offset);
      return *position != 0;
    }
    if (!LeaveCache(access)) return PushUnreadable(access, "object index");
  }
  uint8_t entry[4];
  if (FileSeek(access->file, offset, 0) != offset || FileRead(access->file, entry, 4) != 4)
    return PushUnreadable(access, "object index");
  *position = QLoadU32LE(entry);
  return *position != 0;
}

int16_t IdFileCheckSize(IdFileAccess* access, int32_t rows) {
  const int64_t size = IdFileSize(access);
  if (size < 0 || size % 4 != 0 || (rows > 0 && size < int64_t(rows) * 4))
    return PushUnreadable(access, "object index");
  return 1;
}

int16_t IdFileWrite(int32_t row, uint32_t position, IdFileAccess* access) {
  if (row < 1 || !access->file) return 0;
  const int64_t offset = int64_t(row - 1) * 4;
  if (IdFileCache* c = access->cache) {
    // Rows past the end are zero up to this one, as the file's are.
    const int64_t from = std::min(offset, c->size);
    if (Reach(access, from, offset + 4)) {
      QStoreU32LE(c->bytes.data() + offset, position);
      for (int64_t page = from / kPage; page <= (offset + 3) / kPage; ++page)
        c->pages[size_t(page)] = IdFileCache::kChanged;
      c->size = std::max(c->size, offset + 4);
      c->changed = true;
      return 1;
    }
    if (!LeaveCache(access)) return 0;
  }
  int64_t size = FileSize(access->file);
  if (size < 0) return 0;
  if (offset > size) {
    static const uint8_t zeros[kZeroPiece] = {};
    if (FileSeek(access->file, size, 0) != size) return 0;
    while (size < offset) {
      int32_t piece = static_cast<int32_t>(std::min<int64_t>(kZeroPiece, offset - size));
      if (FileWrite(access->file, zeros, piece) != piece) return 0;
      size += piece;
    }
  }
  uint8_t entry[4];
  QStoreU32LE(entry, position);
  return FileSeek(access->file, offset, 0) == offset && FileWrite(access->file, entry, 4) == 4;
}

void IdFileCacheBegin(IdFileAccess* access, bool changed) {
  if (!access->file) return;
  const int64_t size = FileSize(access->file);
  IdFileCache* c = access->cache;
  // What was kept holds only while nobody else wrote the file (and nothing
  // of it waits unwritten).
  if (c && (changed || c->changed || c->fileSize != size || c->size != size)) {
    IdFileCacheFree(access);
    c = nullptr;
  }
  if (size < 0 || size > int64_t(kIdFileCacheBytes)) return;
  if (!c) {
    c = new (std::nothrow) IdFileCache;
    if (!c) return;
    c->size = c->fileSize = size;
    access->cache = c;
  }
}

int16_t IdFileCacheEnd(IdFileAccess* access) {
  if (!access->cache) return 1;
  if (WriteBack(access)) return 1;
  IdFileCacheFree(access);
  return 0;
}

void IdFileCacheFree(IdFileAccess* access) {
  delete access->cache;
  access->cache = nullptr;
}

int16_t IdFileFlush(IdFileAccess* access) {
  if (!access->file || access->mode == 0) return 0;
  int16_t written = 1;
  if (access->mode == kFileModeWrite || access->mode == kFileModeCreate) {
    uint32_t position = 0;
    const int64_t size = IdFileSize(access);
    if (access->lastRow >= 1 && size >= 0 && int64_t(access->lastRow) * 4 > size &&
        !IdFileRead(access->lastRow, &position, access))
      IdFileWrite(access->lastRow, 0, access);
    written = IdFileCacheEnd(access);
  }
  IdFileCacheFree(access);
  access->mode = 0;
  const int16_t closed = FileClose(access->file) == 0 ? 1 : 0;
  FileRelease(access->file);
  access->file = 0;
  return closed && written ? 1 : 0;
}

}  // namespace layerio
