// Making, describing and removing whole tables through the interface:
// create, register, rename, delete, the map part's create and drop, and the
// small readers of a handle's path, version and memo fields.
//
// Rename and delete close the table, handle its files and open it again into
// the handle number the caller holds, so that the handle stays valid
// whichever way the operation ends. What the caller set on the handle (its
// own coordinate system) goes with it into the reopened slot.
//
// Rename never loses a file: files already lying at the new name are moved
// aside to temporary names first and put back when the rename is rolled
// back; they are deleted only once the table is open under its new name.
// A table that cannot be opened under its new name is rolled back too.
//
// Create and rename never replace the files of a table another process has
// open: the files at the target name are held under exclusive share locks
// while they are replaced, and a holder elsewhere refuses the operation
// before anything is touched. A new table is made whole under a temporary
// name in its folder and moved into place only then, so a refused or failed
// create leaves an earlier table of that name as it was.
//
// Paths are never taken against the process's current directory behind the
// caller's back: a relative new name of a rename is taken against the old
// definition's directory, and nothing here changes the current directory.
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "mapfile/objects/objstore.h"

#include "mapfile/tables/frame.h"
#include "mapfile/tables/pxobject.h"
#include "mapfile/tables/tabdef.h"
#include "mapfile/tables/table.h"
#include "platform/env.h"

namespace layerio {

namespace {

constexpr uint16_t kFail = 0;
constexpr PXTableHandle kNoHandle = 0;
constexpr int16_t kVersionNew = 300;
constexpr uint32_t kMaxCreateFields = 250;  // what the data drivers take
constexpr int kCompanionMax = 5;

constexpr int16_t kErrRenameRolledBack = 859;
constexpr int16_t kErrDeleteReopened = 864;
constexpr int16_t kErrNoMapPart = 1920;

// The map part of a table: one block, its store first, as the definition
// reader makes it, so that TableMapPartClose frees either.
struct MapPartBlock {
  ObjStore store;
  ObjStoreTable owner;
};
static_assert(offsetof(MapPartBlock, store) == 0, "the map part is freed through its store");

void Push(int16_t code, const char* text0 = nullptr) {
  ErrorPush(kErrorSeverity, code, text0, nullptr);
}

int FileModeOf(uint32_t mode) { return mode == kModeReadWrite ? kFileModeWrite : kFileModeRead; }

bool CopyText(char* out, size_t size, const std::string& text) {
  if (text.size() >= size) return false;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

bool IsAbsolute(const char* path) { return path[0] == '/' || path[0] == '\\'; }

// ----- the map part -----

// Flushes and closes the store's backing, deletes its files and frees the
// part; the table is left without a map part whatever the result.
int16_t MapPartDrop(TableObject* table) {
  ObjStore* store = table->store;
  if (store->backendOpen) ObjStoreCloseBackend(store);
  const int16_t discarded = ObjStoreDiscard(store);
  MemFree(store);
  table->store = nullptr;
  table->coordSys = nullptr;
  return discarded ? 1 : 0;
}

// A new map-file part in the record's coordinate system, its backing open
// with the handle's mode. The record is checked before an existing part is
// dropped: a bad argument costs the table nothing.
uint16_t MapPartCreate(HandleSlot& slot, const ::PXCoordSys* record) {
  if (!record) {
    Push(kErrBadHandle);
    return 0;
  }
  CoordSys cs;
  if (!ApiCoordSysBuild(record, &cs)) return 0;
  TableObject* table = slot.table;
  if (table->store && !MapPartDrop(table)) return 0;

  auto* part = static_cast<MapPartBlock*>(MemAlloc(sizeof(MapPartBlock)));
  if (!part) {
    Push(kErrAllocFailed);
    return 0;
  }
  std::memset(static_cast<void*>(part), 0, sizeof *part);
  part->owner.file = table->defFile;
  part->owner.markerSelector = 0;
  part->owner.lastRow = int32_t(table->source.rowCount);
  if (!ObjStoreCreate(&part->store, kObjStoreMapFile, &part->owner, -1, &cs, 0, 1)) {
    MemFree(part);
    return 0;
  }
  table->store = &part->store;
  table->coordSys = &part->store.header.coordSys;
  if (!ObjStoreOpenBackend(table->store, FileModeOf(slot.mode))) {
    // A part that cannot be used is not left behind, on disk or in memory.
    MapPartDrop(table);
    return 0;
  }
  return 1;
}

// ----- handles kept through a close and reopen -----

// What the caller set on a handle, carried into the reopened slot.
struct SlotKeep {
  CoordSys callerCoordSys;
  uint16_t callerCoordSysDiffers;
};

SlotKeep KeepOf(const HandleSlot& slot) {
  return SlotKeep{slot.callerCoordSys, slot.callerCoordSysDiffers};
}

// Opens a definition with a mode into the handle number `want` (free, as its
// table was closed): a table that got another slot is moved into it and the
// other slot freed. 1, or 0 when the table did not open.
int16_t ReopenInto(const char* defPath, uint32_t mode, PXTableHandle want, const SlotKeep& keep) {
  const PXTableHandle got = OpenTableWorker(defPath, mode, nullptr);
  if (!got) return 0;
  InterfaceState& s = Interface();
  if (got != want) {
    HandleSlot& from = s.slots[got - 1];
    HandleSlot& to = s.slots[want - 1];
    std::memcpy(static_cast<void*>(&to), &from, sizeof to);
    std::memset(static_cast<void*>(&from), 0, sizeof from);
    from.callerCoordSys.projection = -1;
  }
  HandleSlot& slot = s.slots[want - 1];
  slot.callerCoordSys = keep.callerCoordSys;
  slot.callerCoordSysDiffers = keep.callerCoordSysDiffers;
  return 1;
}

// ----- files at a new name -----

// True when the two paths name one file on disk.
bool SameFile(const std::string& a, const std::string& b) {
  platform::Env& env = platform::Env::Current();
  platform::FileInfo x, y;
  if (env.RawStat(a, &x) != 0 || env.RawStat(b, &y) != 0) return false;
  return x.device == y.device && x.inode == y.inode;
}

// A file moved to a temporary name in its folder, and where it came from.
struct AsideFile {
  std::string path;
  std::string aside;
};

// Moves the file at `path` (found ignoring letter case) to a temporary name
// beside it. 1, also when there is no such file; 0 when it could not be
// moved.
int16_t MoveAside(const char* path, int kind, std::vector<AsideFile>* moved) {
  if (!FileExists(path, kind)) return 1;
  platform::Env& env = platform::Env::Current();
  const std::string actual = env.ResolveExisting(path);
  char dir[kPathCapacity];
  char name[kNameCapacity];
  if (!CopyText(dir, sizeof dir, actual) || !PathSplit(dir, name)) return 0;
  char aside[kPathCapacity];
  if (!TempFileName(aside, dir)) return 0;
  if (FileRename(actual.c_str(), aside) != 0) {
    FileRemove(aside);  // the name claimed for it
    Push(kErrFileAccessDenied, actual.c_str());
    return 0;
  }
  moved->push_back({actual, aside});
  return 1;
}

void PutBack(const std::vector<AsideFile>& moved) {
  for (size_t i = moved.size(); i-- > 0;) FileRename(moved[i].aside.c_str(), moved[i].path.c_str());
}

void RemoveAside(const std::vector<AsideFile>& moved) {
  for (const AsideFile& m : moved) FileRemove(m.aside.c_str());
}

// The new definition path of a rename: relative names against the old
// definition's directory, made full, with the definition's extension (a
// name that has it in any letter case keeps it as given). Empty when too
// long.
std::string NewDefinitionPath(const char* newPath, FileHandle oldDef) {
  char path[kPathCapacity];
  char withExtension[kPathCapacity];
  std::string joined;
  if (IsAbsolute(newPath)) {
    joined = newPath;
  } else {
    char dir[kPathCapacity];
    FileDir(oldDef, dir);
    joined = dir;
    if (!joined.empty() && joined.back() != '/' && joined.back() != '\\') joined += '/';
    joined += newPath;
  }
  if (!CopyText(path, sizeof path, joined) || !PathFull(path)) return std::string();
  if (!PathForKind(withExtension, path, kFileKindTable)) return std::string();
  return StrEqualNoCase(withExtension, path) ? path : withExtension;
}

// The file kind of a data kind's file at a new name (0: none).
int DataFileKind(uint8_t kind) {
  switch (kind) {
    case kDataDbase:
      return kFileKindDbase;
    case kDataLotus:
      return kFileKindLotus;
    case kDataText:
      return kFileKindText;
    case kDataExcel:
      return kFileKindExcel;
    case kDataNative:
      return kFileKindNative;
    default:
      return 0;
  }
}

// The path of one companion kind at a new definition path: the definition
// itself, the others with their kind's extension.
bool CompanionAt(const std::string& defPath, int kind, char out[kPathCapacity]) {
  if (kind == kFileKindTable) return CopyText(out, kPathCapacity, defPath);
  return PathForKind(out, defPath.c_str(), kind) != nullptr;
}

// ----- replacing the files of a table -----

// Exclusive share locks on the files at a target name, held while they are
// replaced: a process that has them open (a reader of the table that lies
// there) refuses the operation, and none opens them meanwhile.
class ReplaceHold {
 public:
  ReplaceHold() = default;
  ~ReplaceHold() { Release(); }
  ReplaceHold(const ReplaceHold&) = delete;
  ReplaceHold& operator=(const ReplaceHold&) = delete;

  // Locks the file at `path` (found ignoring letter case) when there is one.
  // False with `conflict` pushed, naming it, when another holder has it
  // open; with 825 when it cannot be opened for writing.
  bool Take(const char* path, int kind, int16_t conflict) {
    if (!FileExists(path, kind)) return true;
    platform::Env& env = platform::Env::Current();
    const std::string actual = env.ResolveExisting(path);
    const int fd = env.Open(actual, platform::kReadWrite);
    platform::FileInfo info;
    if (fd < 0 || env.FileStat(fd, &info) != 0 || !info.writable) {
      if (fd >= 0) env.Close(fd);
      Push(kErrFileAccessDenied, actual.c_str());
      return false;
    }
    if (env.ShareLock(fd, true) != 0) {
      env.Close(fd);
      Push(conflict, actual.c_str());
      return false;
    }
    fds_.push_back(fd);
    return true;
  }

  void Release() {
    for (int fd : fds_) platform::Env::Current().Close(fd);
    fds_.clear();
  }

 private:
  std::vector<int> fds_;
};

// The kinds of file a table of one data kind has at its name, definition
// first.
constexpr int kTableFileKinds = 5;
void TableFileKinds(int dataFileKind, int out[kTableFileKinds]) {
  const int kinds[kTableFileKinds] = {kFileKindTable, dataFileKind, kFileKindMap, kFileKindMapId,
                                      kFileKindIndex};
  std::memcpy(out, kinds, sizeof kinds);
}

// A table made under a temporary name beside its final one: the claimed
// temporary file "~MAPnnnn.TMP" reserves the name, and the table's files are
// "~MAPnnnn" with their kinds' extensions.
struct TempTable {
  std::string claim;
  std::string def;
};

bool ClaimTempTable(const char* defPath, TempTable* out) {
  char dir[kPathCapacity];
  char name[kNameCapacity];
  if (!CopyText(dir, sizeof dir, defPath) || !PathSplit(dir, name)) return false;
  // A number whose companions another run left behind is passed over.
  for (int attempt = 0; attempt < 16; ++attempt) {
    char claim[kPathCapacity];
    if (!TempFileName(claim, dir)) return false;
    char def[kPathCapacity];
    std::strcpy(def, claim);
    if (!PathSetKindExtension(def, kFileKindTable)) {
      FileRemove(claim);
      return false;
    }
    bool free = true;
    for (int kind : {int(kFileKindTable), int(kFileKindNative), int(kFileKindDbase),
                     int(kFileKindMap), int(kFileKindMapId), int(kFileKindIndex)}) {
      char at[kPathCapacity];
      if (!CompanionAt(def, kind, at) || FileExists(at, kind)) free = false;
    }
    if (free) {
      out->claim = claim;
      out->def = def;
      return true;
    }
    FileRemove(claim);
  }
  Push(kErrFileAccessDenied, dir);
  return false;
}

// Removes whatever of a temporary table is left, and its claim.
void DropTempTable(const TempTable& temp) {
  if (temp.claim.empty()) return;
  for (int kind : {int(kFileKindTable), int(kFileKindNative), int(kFileKindDbase),
                   int(kFileKindMap), int(kFileKindMapId), int(kFileKindIndex)}) {
    char at[kPathCapacity];
    if (CompanionAt(temp.def, kind, at) && FileExists(at, kind))
      FileRemove(platform::Env::Current().ResolveExisting(at).c_str());
  }
  FileRemove(temp.claim.c_str());
}

// Moves the files of the table made at `temp` to `targets` (one path per
// kind of `kinds`). What lies at a target steps aside first and is deleted
// once every file is in place; after a failure everything goes back where
// it was (the temporary table included) and 825 names the file.
bool MoveTableInto(const TempTable& temp, const int kinds[kTableFileKinds],
                   const char targets[kTableFileKinds][kPathCapacity]) {
  std::vector<AsideFile> moved;
  for (int i = 0; i < kTableFileKinds; ++i)
    if (kinds[i] && !MoveAside(targets[i], kinds[i], &moved)) {
      PutBack(moved);
      return false;
    }
  std::vector<AsideFile> placed;  // path: the target, aside: where it came from
  bool ok = true;
  for (int i = 0; i < kTableFileKinds && ok; ++i) {
    char from[kPathCapacity];
    if (!kinds[i] || !CompanionAt(temp.def, kinds[i], from) || !FileExists(from, kinds[i]))
      continue;
    if (FileRename(from, targets[i]) != 0) {
      Push(kErrFileAccessDenied, targets[i]);
      ok = false;
      break;
    }
    placed.push_back({targets[i], from});
  }
  if (!ok) {
    for (size_t i = placed.size(); i-- > 0;)
      FileRename(placed[i].path.c_str(), placed[i].aside.c_str());
    PutBack(moved);
    return false;
  }
  RemoveAside(moved);
  return true;
}

// Makes a new table at `defPath` with its data part and, with a coordinate
// system, its map part, and closes it again. 1, or 0 with whatever it made
// left for the caller, whose temporary name `defPath` is, to remove.
int16_t MakeTable(const char* defPath, const char* aliasPath, const PXFieldInfo* fields,
                  uint32_t count, const ::PXCoordSys* coordSys, uint8_t kind) {
  auto* table = static_cast<TableObject*>(MemAlloc(sizeof(TableObject)));
  if (!table) {
    Push(kErrAllocFailed);
    return 0;
  }
  std::memset(static_cast<void*>(table), 0, sizeof *table);
  table->fields = static_cast<FieldDef*>(MemAlloc(sizeof(FieldDef) * (count + 1)));
  if (!table->fields) {
    MemFree(table);
    Push(kErrAllocFailed);
    return 0;
  }
  std::memset(static_cast<void*>(table->fields), 0, sizeof(FieldDef) * (count + 1));
  table->fieldCount = count;
  table->source.kind = kind;
  TableSetVersions(table, kVersionNew);
  table->defFile = FileTableAddName(defPath, kFileKindTable);
  if (!table->defFile) {
    TableClose(table);
    return 0;
  }
  FileSetCharset(table->defFile, CharsetSystem());
  PathToAlias(aliasPath, table->name);
  for (uint32_t i = 0; i < count; ++i) {
    FieldDef& f = table->fields[i];
    std::strncpy(f.name, fields[i].name, kMaxColumnName);
    f.name[kMaxColumnName] = '\0';
    f.value.kind = fields[i].type;
    f.width = fields[i].width;
    f.decimals = fields[i].decimals;
  }

  uint32_t params[kDataParamWords];
  DataSourceDefaults(kind, params);
  if (!DataSourceCreate(defPath, nullptr, -1, 0, &table->source, kind, int32_t(count),
                        table->fields, params, 0)) {
    TableClose(table);
    return 0;
  }
  const int16_t written = TableDefWriteFull(table, 0, 0);
  // Without a definition the new data file belongs to nothing: it goes too.
  if (!written) table->source.temporary = 1;
  TableClose(table);
  if (!written) return 0;

  const PXTableHandle handle = OpenTableWorker(defPath, kModeReadWrite, nullptr);
  if (!handle) return 0;
  if (coordSys && !MapPartCreate(*SlotFind(handle), coordSys)) {
    SlotClose(handle, 0);  // keeps the map part's error on the stack
    return 0;
  }
  if (CloseTableWorker(handle, 1)) return 1;
  if (SlotFind(handle)) SlotClose(handle, 0);
  return 0;
}

PXTableHandle CreateTable(const char* path, const PXFieldInfo* fields, uint32_t count,
                          const ::PXCoordSys* coordSys, uint32_t dataKind) {
  if (!path || !*path || (count > 0 && !fields)) {
    Push(kErrBadHandle);
    return 0;
  }
  if (count > kMaxCreateFields) {
    Push(kErrTooManyColumns);
    return 0;
  }
  // A bad coordinate system is refused before any file is touched.
  if (coordSys) {
    CoordSys check;
    if (!ApiCoordSysBuild(coordSys, &check)) return 0;
  }
  // The files of an open table are not replaced under it.
  if (FileTableFind(path, kFileKindTable)) {
    Push(kErrDefAlreadyOpen, path);
    return 0;
  }
  const uint8_t kind = dataKind == kDataDbase ? kDataDbase : kDataNative;
  char defPath[kPathCapacity];
  {
    const FileHandle entry = FileTableAddName(path, kFileKindTable);
    if (!entry) return 0;
    FilePath(entry, defPath);
    FileRelease(entry);
  }

  // What lies at the name is this table's to replace: companions of an
  // earlier table would be read as the new one's. None may be open here or
  // in another process, and they stay locked until the new table is in
  // place.
  int kinds[kTableFileKinds];
  TableFileKinds(DataFileKind(kind), kinds);
  char targets[kTableFileKinds][kPathCapacity];
  ReplaceHold hold;
  for (int i = 0; i < kTableFileKinds; ++i) {
    if (!CompanionAt(defPath, kinds[i], targets[i])) return 0;
    if (FileTableFind(targets[i], kinds[i])) {
      Push(kErrDefAlreadyOpen, targets[i]);
      return 0;
    }
    if (!hold.Take(targets[i], kinds[i], kErrDataCreate)) return 0;
  }

  TempTable temp;
  if (!ClaimTempTable(defPath, &temp)) return 0;
  const bool made = MakeTable(temp.def.c_str(), path, fields, count, coordSys, kind) &&
                    MoveTableInto(temp, kinds, targets);
  DropTempTable(temp);
  hold.Release();
  if (!made) return 0;
  return OpenTableWorker(defPath, kModeReadWrite, nullptr);
}

PXTableHandle RegisterTable(const char* tablePath, const char* dataPath, uint32_t dataKind) {
  if (!dataPath || !*dataPath || dataKind > 0xFF) {
    Push(kErrBadHandle);
    return 0;
  }
  char defPath[kPathCapacity];
  if (tablePath && *tablePath) {
    if (std::strlen(tablePath) >= sizeof defPath) {
      Push(kErrBadHandle);
      return 0;
    }
    std::strcpy(defPath, tablePath);
  } else if (!PathForTableFile(defPath, dataPath)) {
    return 0;
  }
  DataSource source;
  std::memset(static_cast<void*>(&source), 0, sizeof source);
  source.kind = uint8_t(dataKind);
  DataSourceDefaults(source.kind, source.params.words);
  if (FileTableFind(dataPath, DataKindFileKind(source.kind)) ||
      FileTableFind(defPath, kFileKindTable)) {
    Push(kErrDefAlreadyOpen);
    return 0;
  }
  // A definition already at the path waits aside until the new one opens:
  // a registration that fails leaves what was there and nothing new.
  std::vector<AsideFile> moved;
  if (!MoveAside(defPath, kFileKindTable, &moved)) return 0;
  if (!TableRegisterData(defPath, dataPath, &source, 0, 0)) {
    PutBack(moved);
    return 0;
  }
  const PXTableHandle handle = OpenTableWorker(defPath, kModeReadWrite, nullptr);
  if (!handle) {
    if (FileExists(defPath, kFileKindTable))
      FileRemove(platform::Env::Current().ResolveExisting(defPath).c_str());
    PutBack(moved);
    return 0;
  }
  RemoveAside(moved);
  return handle;
}

uint16_t RenameTable(PXTableHandle handle, HandleSlot& slot, const char* newPath) {
  if (!newPath || !*newPath) {
    Push(kErrBadHandle);
    return 0;
  }
  const std::string newDef = NewDefinitionPath(newPath, slot.tableFile);
  if (newDef.empty()) return 0;
  if (FileTableFind(newDef.c_str(), kFileKindTable)) {
    Push(kErrDefAlreadyOpen, newDef.c_str());
    return 0;
  }
  CompanionFile list[kCompanionMax];
  const int32_t count = CompanionFileList(slot.table, list);
  char targets[kCompanionMax][kPathCapacity];
  for (int32_t i = 0; i < count; ++i) {
    if (!CompanionAt(newDef, int(list[i].kind), targets[i])) return 0;
    // A file at the new name that another open table holds is not touched.
    if (FileTableFind(targets[i], int(list[i].kind))) {
      Push(kErrDefAlreadyOpen, targets[i]);
      return 0;
    }
  }
  char oldDef[kPathCapacity];
  FilePath(slot.tableFile, oldDef);
  const uint32_t mode = slot.mode;
  const SlotKeep keep = KeepOf(slot);
  const int dataFileKind = DataFileKind(slot.table->source.kind);

  // Files at the new name that another process has open are not replaced
  // under it; they stay locked until the rename is done or rolled back.
  int kinds[kTableFileKinds];
  TableFileKinds(dataFileKind, kinds);
  ReplaceHold hold;
  for (int kind : kinds) {
    char at[kPathCapacity];
    if (!kind || !CompanionAt(newDef, kind, at) || !FileExists(at, kind)) continue;
    const std::string actual = platform::Env::Current().ResolveExisting(at);
    bool own = false;
    for (int32_t i = 0; i < count && !own; ++i) own = SameFile(actual, list[i].path);
    if (!own && !hold.Take(at, kind, kErrFileAccessDenied)) return 0;
  }

  if (!CloseTableWorker(handle, 1)) {
    // A table released with its map part not written whole comes back under
    // its old name, the close's error kept.
    if (!SlotFind(handle)) {
      const int32_t code = ErrorLastCode();
      ReopenInto(oldDef, mode, handle, keep);
      Push(int16_t(code), oldDef);
    }
    return 0;
  }

  // What lies at the new name is moved aside, unless it is one of the
  // table's own files (a new name that differs only in letter case).
  std::vector<AsideFile> moved;
  bool ok = true;
  for (int kind : kinds) {
    if (!kind) continue;
    char at[kPathCapacity];
    if (!CompanionAt(newDef, kind, at)) {
      ok = false;
      break;
    }
    if (!FileExists(at, kind)) continue;
    const std::string actual = platform::Env::Current().ResolveExisting(at);
    bool own = false;
    for (int32_t i = 0; i < count && !own; ++i) own = SameFile(actual, list[i].path);
    if (!own && !MoveAside(at, kind, &moved)) {
      ok = false;
      break;
    }
  }

  int32_t renamed = 0;
  if (ok) {
    for (; renamed < count; ++renamed) {
      if (FileRename(list[renamed].path, targets[renamed]) != 0) {
        Push(kErrFileAccessDenied, list[renamed].path);
        ok = false;
        break;
      }
    }
  }
  if (ok && ReopenInto(newDef.c_str(), mode, handle, keep)) {
    RemoveAside(moved);
    return 1;
  }
  // Everything goes back as it was, and the table opens under its old name.
  for (int32_t i = renamed; i-- > 0;) FileRename(targets[i], list[i].path);
  PutBack(moved);
  ReopenInto(oldDef, mode, handle, keep);
  Push(kErrRenameRolledBack, newDef.c_str());
  return 0;
}

uint16_t DeleteTable(PXTableHandle handle, HandleSlot& slot) {
  CompanionFile list[kCompanionMax];
  const int32_t count = CompanionFileList(slot.table, list);
  char oldDef[kPathCapacity];
  FilePath(slot.tableFile, oldDef);
  const uint32_t mode = slot.mode;
  const SlotKeep keep = KeepOf(slot);

  // A table released with its map part not written whole is deleted all
  // the same.
  if (!CloseTableWorker(handle, 1) && SlotFind(handle)) return 0;

  FileHandle entries[kCompanionMax] = {};
  bool ok = true;
  for (int32_t i = 0; i < count && ok; ++i) {
    entries[i] = FileTableAddName(list[i].path, int(list[i].kind));
    ok = entries[i] > 0;
  }
  if (ok) ok = FileRemoveSet(entries, count) != 0;
  for (int32_t i = 0; i < count; ++i)
    if (entries[i] > 0) FileRelease(entries[i]);
  if (ok) return 1;
  ReopenInto(oldDef, mode, handle, keep);
  Push(kErrDeleteReopened, oldDef);
  return 0;
}

}  // namespace

}  // namespace layerio

using layerio::InitCall;
using layerio::kNeedHandle;
using layerio::kNeedNative;
using layerio::kNeedWrite;
using layerio::TableCall;
using Slot = layerio::HandleSlot;

// 105
LAYERIO_API uint16_t PXCreateMap(PXTableHandle table, const PXCoordSys* coordSys) {
  return TableCall(table, kNeedWrite | kNeedNative, layerio::kFail, [&](Slot& slot) -> uint16_t {
    return layerio::MapPartCreate(slot, coordSys);
  });
}

// 106
LAYERIO_API PXTableHandle PXCreateTable(const char* path, const PXFieldInfo* fields,
                                        uint32_t count, const PXCoordSys* coordSys,
                                        uint32_t dataKind) {
  return InitCall(layerio::kNoHandle, [&]() -> PXTableHandle {
    return layerio::CreateTable(path, fields, count, coordSys, dataKind);
  });
}

// 109
LAYERIO_API uint16_t PXDropMap(PXTableHandle table) {
  return TableCall(table, kNeedWrite | kNeedNative, layerio::kFail, [&](Slot& slot) -> uint16_t {
    if (!slot.table->store) {
      layerio::Push(layerio::kErrNoMapPart);
      return 0;
    }
    return uint16_t(layerio::MapPartDrop(slot.table));
  });
}

// 110
LAYERIO_API uint16_t PXDeleteTable(PXTableHandle table) {
  return TableCall(table, kNeedWrite, layerio::kFail,
                   [&](Slot& slot) -> uint16_t { return layerio::DeleteTable(table, slot); });
}

// 128: the edit version and the data kind.
LAYERIO_API uint16_t PXGetTableVersion(PXTableHandle table, uint32_t* version,
                                       uint32_t* dataKind) {
  return TableCall(table, kNeedNative, layerio::kFail, [&](Slot& slot) -> uint16_t {
    if (version) *version = uint32_t(slot.table->editVersion);
    if (dataKind) *dataKind = slot.table->source.kind;
    return 1;
  });
}

// 129
LAYERIO_API uint16_t PXGetTablePath(PXTableHandle table, char* path) {
  return TableCall(table, kNeedHandle, layerio::kFail, [&](Slot& slot) -> uint16_t {
    if (!path) {
      layerio::Push(layerio::kErrBadHandle);
      return 0;
    }
    path[0] = '\0';
    if (!slot.table || slot.table->defFile <= 0) return 0;
    layerio::FilePath(slot.table->defFile, path);
    return 1;
  });
}

// 130
LAYERIO_API uint16_t PXHasMemoFields(PXTableHandle table) {
  return TableCall(table, kNeedWrite, layerio::kFail, [&](Slot& slot) -> uint16_t {
    return layerio::DataSourceHasMemo(&slot.table->source) ? 1 : 0;
  });
}

// 137
LAYERIO_API PXTableHandle PXRegisterTable(const char* tablePath, const char* dataPath,
                                          uint32_t dataKind) {
  return InitCall(layerio::kNoHandle, [&]() -> PXTableHandle {
    return layerio::RegisterTable(tablePath, dataPath, dataKind);
  });
}

// 138
LAYERIO_API uint16_t PXRenameTable(PXTableHandle table, const char* newPath) {
  return TableCall(table, kNeedWrite, layerio::kFail, [&](Slot& slot) -> uint16_t {
    return layerio::RenameTable(table, slot, newPath);
  });
}
