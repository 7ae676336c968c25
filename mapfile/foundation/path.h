// Paths, directories, temporary files and file kinds.
//
// Paths are written with '/', and '\' is read as a separator too; there are
// no drive letters. Full paths are at most the host's path limit and names
// at most its name limit: a path function whose result would be longer
// fails (error 371 with ENAMETOOLONG) instead of cutting it, since a cut
// path can name another file. Buffers that receive a path hold
// kPathCapacity bytes.
//
// Names are compared exactly (the directory pool, the file table, the
// duplicate check, FileMove); only opening an existing file, FileExists and
// FileStat find it ignoring letter case.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/file.h"

namespace layerio {

inline constexpr int kFileKindCount = 90;
inline constexpr size_t kPathCapacity = 4096;  // the host's path limit and its NUL
inline constexpr size_t kNameCapacity = 256;   // the host's name limit and its NUL

struct FileKindRec {
  const char* extension;  // null: none
  uint16_t forced;        // 1: applied to every path of the kind
};
const FileKindRec& FileKindInfo(int kind);

// The path functions answer 1, or 0 when the result would pass a limit.
int16_t PathFull(char* path);
int16_t PathSplit(char* path, char* name);
int16_t PathTrimName(char* path);
uint32_t PathInternDir(const char* directory);
char* FileNameRecDir(const FileNameRec* record, char* out);
char* FileNameRecPath(const FileNameRec* record, char* out);
int16_t FileNameRecFromPath(const char* path, FileNameRec* out, int kind);
int16_t PathSetExtension(char* path, const char* extension);
char* PathForKind(char* out, const char* path, int kind);
int16_t PathSetKindExtension(char* path, int kind);
char* PathForTableFile(char* out, const char* path);
char* PathToAlias(const char* path, char* out);
int16_t PathRelativeToFile(char* path, FileHandle handle);
FileHandle FileTableAddName(const char* path, int kind);
FileHandle FileTableAddAny(const char* path, int kind);
FileHandle FileTableFind(const char* path, int kind);
FileHandle FileTableAddCompanion(FileHandle handle, const char* path, int kind);
void FileRelease(FileHandle handle);
// Releases every entry (library shutdown and tests).
void FileTableReleaseAll();
char* FilePath(FileHandle handle, char* out);
char* FileDir(FileHandle handle, char* out);
char* FileBaseName(FileHandle handle, char* out);
char* FilePathRelative(FileHandle handle, char* out, FileHandle reference);
// Nanoseconds since 1970; 0 when the file cannot be read.
int64_t FileModTime(FileHandle handle);
int16_t FileExists(const char* path, int kind);
int16_t FileCloseAndRemove(FileHandle handle);
int16_t FileMove(FileHandle* handle, const char* newPath, int kind);
int16_t FileRemoveSet(const FileHandle* handles, int count);
// Claims a new empty file "~MAPnnnn.TMP" in the directory (the temporary
// directory when null: the current one) and gives its full path; null when
// none could be made.
char* TempFileName(char* out, const char* directory);
int16_t FileFindInDirs(char* name, int kind);
// The save area holds kPathCapacity bytes.
int16_t DirEnterFileDir(FileHandle handle, char* saveArea);
int16_t DirSetCurrent(const char* saveArea);
int16_t ProgramDirInit();
uint32_t ProgramDir();
uint32_t DefaultDir();
void SetDefaultDir(uint32_t directory);

// Attributes of a search: 1 read-only, 2 hidden (a name beginning with '.'),
// 16 folder; a file with none counts as 128 (normal).
inline constexpr uint32_t kFileAttrReadOnly = 1;
inline constexpr uint32_t kFileAttrHidden = 2;
inline constexpr uint32_t kFileAttrDirectory = 16;
inline constexpr uint32_t kFileAttrNormal = 128;
struct FileSearchList;
struct FileSearch {
  uint32_t attributeMask;
  char name[kNameCapacity];  // the name found
  FileSearchList* list;      // the folder's entries; freed when the search ends
};
// 1 and the first match's name, or 0. A search that is left before
// FileFindNext gives 0 is ended with FileFindClose.
int16_t FileFindFirst(const char* pattern, uint32_t attributeMask, FileSearch* search);
int16_t FileFindNext(FileSearch* search);
void FileFindClose(FileSearch* search);

}  // namespace layerio
