// Names of files: the file kinds and their extensions, full paths, the
// directory pool, the file table's entries, temporary names, moves and
// removals of sets of files, the library's directories and file searches.
//
// Paths are written with '/' and read with '/' or '\'; double-byte
// characters are kept whole, so a trail byte 0x5C is never a separator.
// Results longer than the host's limits fail rather than being cut.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/file_internal.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/state.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/foundation/token.h"
#include "platform/env.h"

namespace layerio {

struct FileSearchList {
  std::string directory;  // with a trailing '/'
  std::string pattern;
  std::vector<std::string> names;
  size_t next = 0;
};

namespace {

platform::Env& Env() { return platform::Env::Current(); }

// Kinds 15, 16, 24, 41 and 42 are the script files: source, compiled
// program, and three companions.
const FileKindRec kKinds[kFileKindCount] = {
    {nullptr, 0}, {".TAB", 0}, {".", 0},    {".WOR", 0}, {".TXT", 0}, {".MAP", 1}, {".ID", 1},
    {".IND", 1},  {".TMA", 1}, {".TIN", 1}, {".TDA", 1}, {".PRF", 0}, {".CHM", 0}, {".FNT", 0},
    {".ABB", 0},  {".PSS", 0}, {".PSX", 1}, {".DAT", 0}, {".DBF", 0}, {".WK1", 0}, {".WKS", 0},
    {".XLS", 0},  {".PXF", 0}, {".MMI", 0}, {".PSW", 0}, {".IMG", 0}, {".DXF", 0}, {".PIC", 0},
    {".PXD", 1},  {".RPT", 1}, {".TAB", 0}, {".BMP", 0}, {".LAY", 0}, {".PEN", 0}, {".PRJ", 0},
    {".WMF", 0},  {nullptr, 0}, {".DEF", 0}, {".ERR", 0}, {".EXE", 0}, {".MNU", 0}, {".PSO", 1},
    {".PSC", 0},  {".CLR", 0}, {".BIL", 0}, {".EPS", 0}, {".RAS", 0}, {".GIF", 0}, {".TIF", 0},
    {".TLB", 0},  {".TMP", 0}, {".wk3", 0}, {".cpf", 1}, {".PCX", 0}, {".JPG", 0}, {".TGA", 0},
    {".LDA", 1},  {".LMA", 1}, {".LIN", 1}, {".lnk", 0}, {".sql", 0}, {".wk4", 0}, {".aid", 0},
    {".mdb", 0},  {".png", 0}, {".psd", 0}, {".thm", 1}, {".QRY", 1}, {".mtf", 0}, {".mig", 0},
    {".rpt", 1},  {".3tf", 1}, {".emf", 1}, {".tif", 0}, {".jp2", 0}, {nullptr, 0}, {".shp", 1},
    {".shx", 1},  {".ODA", 1}, {".OMA", 1}, {".OIN", 1}, {".gml", 0}, {nullptr, 0}, {nullptr, 0},
    {".pws", 1},  {".csv", 0}, {".tif", 0}, {".tif", 0}, {".xml", 0}, {nullptr, 0},
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The position after the last separator (0 when none), skipping trail bytes.
size_t NamePartStart(const char* path) {
  size_t start = 0;
  const bool dbcs = DbcsMode();
  for (size_t i = 0; path[i];) {
    if (dbcs && path[i + 1] && MbsIsLeadByte(path + i)) {
      i += 2;
      continue;
    }
    if (IsSeparator(path[i])) start = i + 1;
    ++i;
  }
  return start;
}

// The last '.' of the name part from start, or npos; skips trail bytes.
size_t LastDot(const char* path, size_t start) {
  size_t dot = std::string::npos;
  const bool dbcs = DbcsMode();
  for (size_t i = start; path[i];) {
    if (dbcs && path[i + 1] && MbsIsLeadByte(path + i)) {
      i += 2;
      continue;
    }
    if (path[i] == '.') dot = i;
    ++i;
  }
  return dot;
}

bool TooLong(const char* text) {
  FilePushErrno(ENAMETOOLONG, text);
  return false;
}

// Copies a caller's path into a buffer of kPathCapacity; false when longer.
bool CopyPath(char* out, const char* path) {
  size_t len = path ? std::strlen(path) : 0;
  if (len > platform::kPathMax) return TooLong(path);
  std::memcpy(out, path ? path : "", len + 1);
  return true;
}

// ----- the directory pool: texts stored once, compared exactly -----

const char* DirText(uint32_t offset) {
  FoundationState& s = State();
  if (offset == 0 || offset >= s.dirPoolUsed) return "";
  return s.dirPool + offset;
}

uint32_t DirAdd(const std::string& text) {
  FoundationState& s = State();
  if (text.empty()) return 0;
  for (uint32_t at = 1; at < s.dirPoolUsed; at += uint32_t(std::strlen(s.dirPool + at)) + 1)
    if (text == s.dirPool + at) return at;
  uint32_t need = s.dirPoolUsed + uint32_t(text.size()) + 1;
  if (s.dirPoolUsed == 0) need += 1;
  if (need > s.dirPoolSize) {
    uint32_t size = std::max<uint32_t>(need, s.dirPoolSize * 2 + 1024);
    char* grown = static_cast<char*>(MemRealloc(s.dirPool, size));
    if (!grown) {
      ErrorPush(kErrorSeverity, kErrResizeFailed, nullptr, nullptr);
      return 0;
    }
    s.dirPool = grown;
    s.dirPoolSize = size;
  }
  if (s.dirPoolUsed == 0) {
    s.dirPool[0] = 0;
    s.dirPoolUsed = 1;
  }
  uint32_t at = s.dirPoolUsed;
  std::memcpy(s.dirPool + at, text.c_str(), text.size() + 1);
  s.dirPoolUsed += uint32_t(text.size()) + 1;
  return at;
}

// ----- the file table -----

FileEntry* Table() { return State().fileTable; }

// A free entry's index, growing the table by 100; -1 when out of memory.
int32_t FreeEntry() {
  FoundationState& s = State();
  for (int32_t i = 0; i < s.fileTableSize; ++i)
    if (!(s.fileTable[i].flags & kEntryInUse)) return i;
  int32_t size = s.fileTableSize + 100;
  auto* grown = static_cast<FileEntry*>(MemRealloc(s.fileTable, size_t(size) * sizeof(FileEntry)));
  if (!grown) {
    ErrorPush(kErrorSeverity, kErrResizeFailed, nullptr, nullptr);
    return -1;
  }
  std::memset(grown + s.fileTableSize, 0, size_t(size - s.fileTableSize) * sizeof(FileEntry));
  for (int32_t i = s.fileTableSize; i < size; ++i) grown[i].descriptor = -1;
  s.fileTable = grown;
  int32_t first = s.fileTableSize;
  s.fileTableSize = size;
  return first;
}

FileHandle FindRecord(const FileNameRec& rec, bool sameKind) {
  FoundationState& s = State();
  for (int32_t i = 0; i < s.fileTableSize; ++i) {
    const FileEntry& e = s.fileTable[i];
    if (!(e.flags & kEntryInUse) || !e.name) continue;
    if (e.name->directory == rec.directory && std::strcmp(e.name->name, rec.name) == 0 &&
        (!sameKind || e.name->kind == rec.kind))
      return kFileHandleBase + i;
  }
  return 0;
}

FileHandle AddEntry(const char* path, int kind, bool checkDuplicate) {
  FileNameRec rec;
  if (!path || !FileNameRecFromPath(path, &rec, kind)) return 0;
  if (checkDuplicate && FindRecord(rec, true)) {
    FilePushNamed(kErrFileAlreadyEntered, rec.name);
    return 0;
  }
  int32_t index = FreeEntry();
  if (index < 0) return 0;
  auto* owned = static_cast<FileNameRec*>(MemAlloc(sizeof(FileNameRec)));
  if (!owned) return 0;
  *owned = rec;
  FileEntry& e = Table()[index];
  std::memset(&e, 0, sizeof e);
  e.name = owned;
  e.descriptor = -1;
  e.flags = kEntryInUse;
  e.charset = int8_t(CharsetSystem());
  return kFileHandleBase + index;
}

uint32_t Attributes(const std::string& name, const platform::FileInfo& info) {
  uint32_t a = (info.directory ? kFileAttrDirectory : 0) | (info.writable ? 0 : kFileAttrReadOnly) |
               (!name.empty() && name[0] == '.' ? kFileAttrHidden : 0);
  return a ? a : kFileAttrNormal;
}

}  // namespace

const FileKindRec& FileKindInfo(int kind) {
  return kKinds[kind >= 0 && kind < kFileKindCount ? kind : 0];
}

std::string FileEntryPath(FileHandle handle) {
  FileEntry* e = FileEntryOf(handle);
  if (!e || !e->name) return std::string();
  return std::string(DirText(e->name->directory)) + e->name->name;
}

// ===== Paths =================================================================

int16_t PathFull(char* path) {
  std::string given(path);
  std::string work;
  if (given.empty() || !IsSeparator(given[0])) {
    work = Env().CurrentDirectory();
    work += '/';
  }
  work += given;
  // Components one by one: "." goes, ".." takes back the last one.
  std::vector<std::string> parts;
  std::string part;
  const bool dbcs = DbcsMode();
  auto endPart = [&parts, &part]() {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (size_t i = 0; i < work.size();) {
    if (dbcs && i + 1 < work.size() && MbsIsLeadByte(work.c_str() + i)) {
      part += work.substr(i, 2);
      i += 2;
      continue;
    }
    if (IsSeparator(work[i])) {
      endPart();
    } else {
      part += work[i];
    }
    ++i;
  }
  endPart();
  std::string out;
  for (const auto& p : parts) {
    if (p.size() > platform::kNameMax) return TooLong(path);
    out += '/';
    out += p;
  }
  if (out.empty()) out = "/";
  if (out.size() > platform::kPathMax) return TooLong(path);
  std::memcpy(path, out.c_str(), out.size() + 1);
  return 1;
}

int16_t PathSplit(char* path, char* name) {
  size_t len = std::strlen(path);
  while (len > 0 && path[len - 1] == ' ') path[--len] = 0;
  size_t start = NamePartStart(path);
  if (name) {
    if (len - start > platform::kNameMax) return TooLong(path);
    std::memcpy(name, path + start, len - start + 1);
  }
  path[start] = 0;
  return 1;
}

int16_t PathTrimName(char* path) {
  size_t start = NamePartStart(path);
  size_t skip = start;
  while (path[skip] == ' ') ++skip;
  if (skip > start) std::memmove(path + start, path + skip, std::strlen(path + skip) + 1);
  if (std::strlen(path + start) > platform::kNameMax) return TooLong(path);
  return 1;
}

uint32_t PathInternDir(const char* directory) {
  if (!directory || !*directory) return 0;
  std::string text = platform::NormalizeSeparators(directory);
  if (text.back() != '/') text += '/';
  if (text.size() > platform::kPathMax) {
    TooLong(directory);
    return 0;
  }
  return DirAdd(text);
}

char* FileNameRecDir(const FileNameRec* record, char* out) {
  std::strcpy(out, DirText(record->directory));
  return out;
}

char* FileNameRecPath(const FileNameRec* record, char* out) {
  const char* dir = DirText(record->directory);
  size_t n = std::strlen(dir);
  std::memcpy(out, dir, n);
  std::strcpy(out + n, record->name);
  return out;
}

int16_t FileNameRecFromPath(const char* path, FileNameRec* out, int kind) {
  char full[kPathCapacity];
  char name[kNameCapacity];
  if (!CopyPath(full, path) || !PathFull(full) || !PathSplit(full, name)) return 0;
  const FileKindRec& k = FileKindInfo(kind);
  if (k.forced && k.extension && !PathSetExtension(name, k.extension)) return 0;
  if (std::strlen(full) + std::strlen(name) > platform::kPathMax) return TooLong(path);
  uint32_t dir = PathInternDir(full);
  if (!dir) return 0;
  out->directory = dir;
  out->spare = 0;
  std::memset(out->name, 0, sizeof out->name);
  std::strcpy(out->name, name);
  out->kind = kind >= 0 && kind < kFileKindCount ? kind : 0;
  return 1;
}

int16_t PathSetExtension(char* path, const char* extension) {
  if (!extension || !*extension) return 1;
  if (!PathTrimName(path)) return 0;
  size_t start = NamePartStart(path);
  size_t at = std::strlen(path);
  size_t dot = LastDot(path, start);
  if (dot != std::string::npos) {
    for (int kind = 0; kind < kFileKindCount - 1; ++kind) {
      const char* known = kKinds[kind].extension;
      if (known && StrEqualNoCase(path + dot, known)) {
        at = dot;
        break;
      }
    }
  }
  while (at > start && path[at - 1] == ' ') --at;
  size_t extLen = std::strlen(extension);
  if (at - start + extLen > platform::kNameMax || at + extLen > platform::kPathMax)
    return TooLong(path);
  std::memcpy(path + at, extension, extLen + 1);
  return 1;
}

char* PathForKind(char* out, const char* path, int kind) {
  if (!CopyPath(out, path) || !PathTrimName(out)) return nullptr;
  const FileKindRec& k = FileKindInfo(kind);
  if (k.extension && !PathSetExtension(out, k.extension)) return nullptr;
  return out;
}

int16_t PathSetKindExtension(char* path, int kind) {
  const FileKindRec& k = FileKindInfo(kind);
  return k.extension ? PathSetExtension(path, k.extension) : 1;
}

char* PathForTableFile(char* out, const char* path) {
  if (!CopyPath(out, path) || !PathTrimName(out) || !PathSetExtension(out, ".TAB")) return nullptr;
  if (StrEqualNoCase(out, path)) return PathForKind(out, path, 2);
  return out;
}

char* PathToAlias(const char* path, char* out) {
  size_t start = NamePartStart(path);
  size_t dot = LastDot(path, start);
  size_t end = dot == std::string::npos ? std::strlen(path) : dot;
  size_t n = std::min<size_t>(end - start, 30);
  // A double-byte character is not split at the cut.
  if (DbcsMode()) {
    size_t i = start;
    while (i < start + n) i += (path[i + 1] && MbsIsLeadByte(path + i)) ? 2 : 1;
    if (i > start + n) n -= 1;
  }
  std::memcpy(out, path + start, n);
  out[n] = 0;
  IdentMakeValid(out);
  return out;
}

int16_t PathRelativeToFile(char* path, FileHandle handle) {
  std::string joined;
  if (IsSeparator(path[0])) {
    joined = path;
  } else {
    FileEntry* e = FileEntryOf(handle);
    joined = std::string(e && e->name ? DirText(e->name->directory) : "") + path;
  }
  FileNameRec rec;
  if (!FileNameRecFromPath(joined.c_str(), &rec, 0)) return 0;
  FileNameRecPath(&rec, path);
  return 1;
}

// ===== File-table entries ====================================================

FileHandle FileTableAddName(const char* path, int kind) { return AddEntry(path, kind, true); }

FileHandle FileTableAddAny(const char* path, int kind) { return AddEntry(path, kind, false); }

FileHandle FileTableFind(const char* path, int kind) {
  FileNameRec rec;
  if (!path || !FileNameRecFromPath(path, &rec, kind)) return 0;
  return FindRecord(rec, false);
}

FileHandle FileTableAddCompanion(FileHandle handle, const char* path, int kind) {
  char buffer[kPathCapacity];
  if (handle == 0) {
    if (!path) {
      if (!TempFileName(buffer, nullptr)) return 0;
      return FileTableAddName(buffer, 0);
    }
    return FileTableAddName(path, kind);
  }
  if (FileHandleCheck(handle) < 0) return 0;
  std::string full = FileEntryPath(handle);
  std::memcpy(buffer, full.c_str(), full.size() + 1);
  const FileKindRec& k = FileKindInfo(kind);
  if (k.extension && !k.forced && !PathSetExtension(buffer, k.extension)) return 0;
  return FileTableAddName(buffer, kind);
}

void FileRelease(FileHandle handle) {
  FileEntry* e = FileEntryOf(handle);
  if (!e) return;
  FileCacheDrop(handle);
  FileEntryCloseOS(handle, true);
  e = FileEntryOf(handle);
  MemFree(e->name);
  std::memset(e, 0, sizeof *e);
  e->descriptor = -1;
}

void FileTableReleaseAll() {
  FoundationState& s = State();
  for (int32_t i = 0; i < s.fileTableSize; ++i)
    if (s.fileTable[i].flags & kEntryInUse) FileRelease(kFileHandleBase + i);
  MemFree(s.fileTable);
  s.fileTable = nullptr;
  s.fileTableSize = 0;
}

char* FilePath(FileHandle handle, char* out) {
  std::string full = FileEntryPath(handle);
  std::memcpy(out, full.c_str(), full.size() + 1);
  return out;
}

char* FileDir(FileHandle handle, char* out) {
  FileEntry* e = FileEntryOf(handle);
  std::strcpy(out, e && e->name ? DirText(e->name->directory) : "");
  return out;
}

char* FileBaseName(FileHandle handle, char* out) {
  FileEntry* e = FileEntryOf(handle);
  std::strcpy(out, e && e->name ? e->name->name : "");
  return out;
}

char* FilePathRelative(FileHandle handle, char* out, FileHandle reference) {
  FilePath(handle, out);
  FileEntry* r = reference ? FileEntryOf(reference) : nullptr;
  if (r && r->name) {
    const char* dir = DirText(r->name->directory);
    size_t n = std::strlen(dir);
    if (n && std::strncmp(out, dir, n) == 0) std::memmove(out, out + n, std::strlen(out + n) + 1);
  }
  return out;
}

int64_t FileModTime(FileHandle handle) {
  std::string full = FileEntryPath(handle);
  platform::FileInfo info;
  if (full.empty() || Env().PathStat(full, &info) != 0) return 0;
  return info.modifiedNanos;
}

int16_t FileExists(const char* path, int kind) {
  FileNameRec rec;
  if (!path || !FileNameRecFromPath(path, &rec, kind)) return 0;
  char full[kPathCapacity];
  FileNameRecPath(&rec, full);
  platform::FileInfo info;
  return Env().PathStat(full, &info) == 0 ? 1 : 0;
}

int16_t FileCloseAndRemove(FileHandle handle) {
  if (FileHandleCheck(handle) < 0) return 0;
  FileEntryCloseOS(handle, false);
  std::string full = FileEntryPath(handle);
  return Env().Remove(full) == 0 ? 1 : 0;
}

int16_t FileMove(FileHandle* handle, const char* newPath, int kind) {
  const FileHandle old = *handle;
  int32_t index = FileHandleCheck(old);
  if (index < 0) return 0;
  FileEntryCloseOS(old, true);
  char target[kPathCapacity];
  if (!CopyPath(target, newPath) || !PathRelativeToFile(target, old)) return 0;
  if (kind == 0) kind = Table()[index].name->kind;
  if (FileTableFind(target, kind)) {
    FilePushNamed(kErrFileMoveTarget, target);
    return 0;
  }
  FileHandle moved = FileTableAddName(target, kind);
  if (!moved) return 0;
  platform::Env& env = Env();
  const std::string from = FileEntryPath(old);
  const std::string to = FileEntryPath(moved);
  // The target is looked for by its exact name: a file that differs only in
  // letter case is another file here, and may be the file being moved.
  platform::FileInfo info;
  if (env.RawStat(to, &info) == 0) {
    FilePushNamed(kErrFileMoveTarget, target);
    FileRelease(moved);
    return 0;
  }
  FileEntryOf(moved)->charset = FileEntryOf(old)->charset;
  if (env.Rename(from, to) == 0) {
    FileRelease(old);
    *handle = moved;
    return 1;
  }
  if (!FileCopy(old, moved, 0)) {
    FileRelease(moved);
    return 0;
  }
  FileEntryCloseOS(old, true);
  if (env.Remove(from) != 0) {
    FilePushNamed(kErrFileMoveOldKept, from.c_str());
    FileCloseAndRemove(moved);
    FileRelease(moved);
    return 0;
  }
  FileRelease(old);
  *handle = moved;
  return 1;
}

int16_t FileRemoveSet(const FileHandle* handles, int count) {
  if (count <= 0) return 1;
  platform::Env& env = Env();
  struct Moved {
    std::string path, aside;
  };
  std::vector<Moved> moved;
  auto restore = [&env, &moved]() {
    for (size_t i = moved.size(); i-- > 0;) env.Rename(moved[i].aside, moved[i].path);
    return int16_t(0);
  };
  for (int i = 0; i < count; ++i) {
    if (FileHandleCheck(handles[i]) < 0) return restore();
    FileEntryCloseOS(handles[i], true);
    std::string path = env.ResolveExisting(FileEntryPath(handles[i]));
    char dir[kPathCapacity];
    char aside[kPathCapacity];
    FileDir(handles[i], dir);
    if (!TempFileName(aside, dir)) return restore();
    if (env.Rename(path, aside) != 0) {
      env.Remove(aside);  // the claimed name
      return restore();
    }
    moved.push_back({path, aside});
  }
  // Every file is aside: now they go. One that cannot be removed is put
  // back, so that nothing is lost that is not also gone from the disk.
  int16_t result = 1;
  for (const auto& m : moved) {
    if (env.Remove(m.aside) != 0) {
      env.Rename(m.aside, m.path);
      result = 0;
    }
  }
  return result;
}

char* TempFileName(char* out, const char* directory) {
  FoundationState& s = State();
  std::string dir;
  if (directory && *directory) {
    uint32_t at = PathInternDir(directory);
    if (!at) return nullptr;
    dir = DirText(at);
  } else {
    dir = DirText(s.tempDir);
  }
  platform::Env& env = Env();
  for (int attempt = 0; attempt < 10000; ++attempt) {
    if (++s.tempCounter >= 10000) s.tempCounter = 0;
    char name[kPathCapacity];
    int n = std::snprintf(name, sizeof name, "%s~MAP%04d.TMP", dir.c_str(), s.tempCounter);
    if (n < 0 || size_t(n) >= sizeof name) {
      TooLong(dir.c_str());
      return nullptr;
    }
    if (!PathFull(name)) return nullptr;
    // The name is claimed by creating the file: another process trying the
    // same number moves on.
    int fd = env.Open(name, platform::kReadWrite | platform::kCreate | platform::kExclusive, 0666);
    if (fd >= 0) {
      env.Close(fd);
      std::strcpy(out, name);
      return out;
    }
    if (errno != EEXIST) {
      FilePushErrno(errno, name);
      return nullptr;
    }
  }
  FilePushNamed(kErrFileExists, "~MAP*.TMP");
  return nullptr;
}

int16_t FileFindInDirs(char* name, int kind) {
  std::vector<std::string> candidates;
  if (IsSeparator(name[0])) {
    candidates.emplace_back(name);
  } else {
    candidates.push_back(Env().CurrentDirectory() + "/" + name);
    if (State().defaultDir) candidates.push_back(std::string(DirText(State().defaultDir)) + name);
  }
  for (const auto& c : candidates) {
    if (FileExists(c.c_str(), kind)) {
      FileNameRec rec;
      if (!FileNameRecFromPath(c.c_str(), &rec, kind)) return 0;
      FileNameRecPath(&rec, name);
      return 1;
    }
  }
  return 0;
}

// ===== Directories ===========================================================

int16_t DirEnterFileDir(FileHandle handle, char* saveArea) {
  FileEntry* e = FileEntryOf(handle);
  platform::Env& env = Env();
  std::string current = env.CurrentDirectory();
  if (current.size() > platform::kPathMax || !e || !e->name) return 0;
  std::memcpy(saveArea, current.c_str(), current.size() + 1);
  std::string dir = DirText(e->name->directory);
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return env.ChangeDirectory(dir) == 0 ? 1 : 0;
}

int16_t DirSetCurrent(const char* saveArea) {
  return saveArea && *saveArea && Env().ChangeDirectory(saveArea) == 0 ? 1 : 0;
}

int16_t ProgramDirInit() {
  FoundationState& s = State();
  if (s.programDir) return 1;
  std::string exe = Env().ExecutablePath();
  if (exe.empty()) return 0;
  std::string dir = platform::DirectoryOf(exe);
  if (dir.size() > platform::kPathMax) return 0;
  char full[kPathCapacity];
  std::memcpy(full, dir.c_str(), dir.size() + 1);
  if (!PathFull(full)) return 0;
  s.programDir = PathInternDir(full);
  s.defaultDir = s.programDir;
  return s.programDir ? 1 : 0;
}

uint32_t ProgramDir() { return State().programDir; }
uint32_t DefaultDir() { return State().defaultDir; }
void SetDefaultDir(uint32_t directory) { State().defaultDir = directory; }

// ===== Searches ==============================================================

int16_t FileFindFirst(const char* pattern, uint32_t attributeMask, FileSearch* search) {
  search->attributeMask = attributeMask;
  search->name[0] = 0;
  search->list = nullptr;
  if (!pattern) return 0;
  std::string text = platform::NormalizeSeparators(pattern);
  size_t slash = text.find_last_of('/');
  auto* list = new FileSearchList;
  list->directory = slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
  list->pattern = slash == std::string::npos ? text : text.substr(slash + 1);
  if (list->pattern.empty() || list->pattern == "*.*") list->pattern = "*";
  if (!Env().ListDirectory(list->directory.empty() ? "." : list->directory, &list->names)) {
    delete list;
    return 0;
  }
  search->list = list;
  return FileFindNext(search);
}

int16_t FileFindNext(FileSearch* search) {
  FileSearchList* list = search->list;
  if (!list) return 0;
  platform::Env& env = Env();
  while (list->next < list->names.size()) {
    const std::string& name = list->names[list->next++];
    if (!platform::WildcardMatch(list->pattern, name)) continue;
    platform::FileInfo info;
    if (env.RawStat(list->directory + name, &info) != 0) continue;
    if (!(Attributes(name, info) & search->attributeMask)) continue;
    if (name.size() > platform::kNameMax) continue;
    std::memcpy(search->name, name.c_str(), name.size() + 1);
    return 1;
  }
  FileFindClose(search);
  return 0;
}

void FileFindClose(FileSearch* search) {
  delete search->list;
  search->list = nullptr;
}

}  // namespace layerio
