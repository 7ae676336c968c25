// The file table's record and the helpers the file layer (file.cpp) and the
// path and table code (path.cpp) share. Internal to the foundation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "mapfile/foundation/file.h"

namespace layerio {

// What a close saw of the file's path: a later open that sees anything else
// knows the file was rewritten or replaced meanwhile.
struct FileStamp {
  int64_t size;
  uint64_t device;
  uint64_t inode;
  int64_t modified;  // nanoseconds
  bool operator==(const FileStamp&) const = default;
};

// The stamp's state: none recorded yet, recorded, or stat failed at close.
enum FileStampState : int8_t { kStampNone = 0, kStampKept = 1, kStampFailed = -1 };

struct FileEntry {
  FileNameRec* name;  // owned
  std::FILE* stream;  // a text handle's stream, else null
  int32_t descriptor; // a binary handle's descriptor; -1 none (text handles too)
  int32_t idleAge;
  int8_t charset;
  int8_t stampState;
  uint32_t flags;     // see the kEntry constants
  int64_t position;
  int64_t size;
  FileStamp stamp;
};

inline constexpr uint32_t kEntryCountMask = 0x3FF;
inline constexpr int kEntryModeShift = 10;
inline constexpr uint32_t kEntryModeMask = 3u << kEntryModeShift;
inline constexpr uint32_t kEntryInUse = 1u << 12;
inline constexpr uint32_t kEntryText = 1u << 13;
// Something was written to the file since its stamp was last taken or
// checked: the close takes it again.
inline constexpr uint32_t kEntryWritten = 1u << 14;

inline int EntryCount(const FileEntry& e) { return int(e.flags & kEntryCountMask); }
inline void EntrySetCount(FileEntry& e, int n) {
  e.flags = (e.flags & ~kEntryCountMask) | (uint32_t(n) & kEntryCountMask);
}
inline int EntryMode(const FileEntry& e) { return int((e.flags & kEntryModeMask) >> kEntryModeShift); }
inline bool EntryHolds(const FileEntry& e) { return e.descriptor >= 0 || e.stream != nullptr; }

// The entry of a handle without reporting anything; null when invalid.
FileEntry* FileEntryOf(FileHandle handle);
// The entry's full path as written ('/' separators), "" when invalid.
std::string FileEntryPath(FileHandle handle);
// Closes the entry's descriptor or stream; dirty pages are written first
// when writeDirty is set, else dropped. The open count stays.
void FileEntryCloseOS(FileHandle handle, bool writeDirty);
// Removes the handle's pages from the cache without writing them.
void FileCacheDiscard(FileHandle handle);
// Pushes error code with the entry's name (or the given text).
void FilePushNamed(int16_t code, const char* name);
// Pushes 371 with the errno and the text (ENAMETOOLONG for the path limits).
void FilePushErrno(int error, const char* name);

}  // namespace layerio
