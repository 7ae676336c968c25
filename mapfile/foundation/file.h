// The file layer.
//
// Every file Layerio reads or writes is an entry of the process-wide file
// table, named by its handle (1000 + index). Opens are counted per entry: a
// compatible second open shares the descriptor, a write open of an entry
// open for reading reopens it. Sizes and positions are 64-bit.
//
// Sharing: a read open holds a shared lock of the file's open description, a
// write or create open an exclusive one; a conflict (another handle of this
// or another process holding the file) fails as access denied (825, silent in
// create mode). The locks are advisory: they keep out only programs that use
// this library.
//
// A logical close leaves the descriptor idle, without its lock, and records
// the path's size, inode and modification time; the next open compares them
// with the path as it is then, so a file that another process rewrote or
// renamed over is reopened, its cached pages dropped and the caller's
// changed flag set. (An open that joins users already holding the entry
// open shares their descriptor as it is.) Idle descriptors are closed when the library's
// descriptor limit (255) or the system's is reached, oldest first.
//
// Binary handles read and write through a shared cache of 400 pages of 512
// bytes (FileCacheInit); without it every call goes to the descriptor.
// Text handles are C streams whose lines are converted between the system
// charset and the file's, with the file charset's line end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layerio {

using FileHandle = int32_t;  // 1000 + index into the file table
inline constexpr FileHandle kFileHandleBase = 1000;
struct FileEntry;  // the file table's record (file_internal.h)
struct FileCache;

// Open modes.
inline constexpr int kFileModeRead = 1;
inline constexpr int kFileModeWrite = 2;
inline constexpr int kFileModeCreate = 3;
// The most opens one entry counts.
inline constexpr int kFileMaxOpenCount = 1023;
inline constexpr int kFileCachePages = 400;
inline constexpr int kFilePageSize = 512;
inline constexpr int kFileDefaultDescriptorLimit = 255;

// The file layer's codes (no texts in the message table; the arguments are
// the file's name and extension, or a number).
enum FileErrorCode : int16_t {
  kErrFileNoOpenCount = 366,   // "#%d" of the handle
  kErrFileBadHandle = 367,     // "%d" of the handle
  kErrFileNoDescriptor = 368,  // no idle descriptor could be freed
  kErrFileExists = 369,
  kErrFileNotFound = 370,      // file or folder not found, or no space
  kErrFileOpenFailed = 371,    // errno as "%d", then the name
  kErrFileAlreadyEntered = 432,
  kErrFileAccessDenied = 825,  // access denied, read-only or held by another
  kErrFileMoveTarget = 859,    // target of a move open or existing
  kErrFileMoveOldKept = 864,   // the old file of a move could not be deleted
  kErrFileModeConflict = 964,
  kErrFileCopyFailed = 1240,
};

struct FileNameRec {
  uint32_t directory;  // offset in the directory pool; 0 none
  uint32_t spare;
  char name[256];      // name with extension, at most the host's name limit
  int32_t kind;
};

int32_t FileHandleCheck(FileHandle handle);
FileHandle FileOpen(FileHandle handle, int mode, uint32_t* changed);
FileHandle FileOpenRaw(FileHandle handle, int mode, uint32_t* changed);
// The handle, or 0 on failure.
FileHandle FileOpenText(FileHandle handle, int mode, uint32_t* changed);
int FileClose(FileHandle handle);
int32_t FileRead(FileHandle handle, void* buffer, int32_t count);
int32_t FileWrite(FileHandle handle, const void* buffer, int32_t count);
int64_t FileSeek(FileHandle handle, int64_t offset, int origin);
int64_t FileSize(FileHandle handle);
int FileSetSize(FileHandle handle, int64_t size);
int FileSetCharset(FileHandle handle, int charset);
int FileGetCharset(FileHandle handle);
int FileGetAccessMode(FileHandle handle);
int FileModeFromFlags(int flags);
// A line of at most size - 1 bytes ended by one '\n' (CR, LF and CR LF all
// end a line), in the system charset; null at the end of the file.
char* FileReadLine(char* buffer, int size, FileHandle handle);
int FilePutChar(int c, FileHandle handle);
// Writes the text converted to the file's charset (the caller's text is
// left as it is), each '\n' as the charset's line end. 0, or -1.
int FilePuts(const char* text, FileHandle handle);
// Formats without a length limit and writes with FilePuts.
int FilePrintf(FileHandle handle, const char* format, ...) __attribute__((format(printf, 2, 3)));
size_t FileStreamRead(void* buffer, size_t size, size_t count, FileHandle handle);
int FileStreamSeek(FileHandle handle, int64_t offset, int origin);
int64_t FileStreamTell(FileHandle handle);
int FileStreamError(FileHandle handle);
struct FileStatRec {
  int64_t size;
  int64_t modified;     // nanoseconds since 1970
  uint32_t attributes;  // as FileFindFirst's
};
// An existing file is found ignoring letter case, as by an open.
int FileStat(const char* path, FileStatRec* out);
int FileRename(const char* oldPath, const char* newPath);
int FileRemove(const char* path);
int16_t FileCopy(FileHandle source, FileHandle destination, int append);
// Writes the entry's dirty pages and closes its descriptor or stream.
void FileCloseOS(FileHandle handle);
int16_t FileCacheInit();
int16_t FileCacheDrop(FileHandle handle);
int16_t FileCacheFlush(FileHandle handle);
void FileCloseIdle();
void FileLayerShutdown();
// The number of descriptors the layer keeps open at most (tests lower it);
// the previous limit.
int FileSetDescriptorLimit(int limit);
// Descriptors the layer holds now, idle ones included.
int FileDescriptorCount();
// The open count of an entry (0 for an invalid handle).
int FileOpenCount(FileHandle handle);
int32_t NumParseLongN(const char* text, int n);

}  // namespace layerio
