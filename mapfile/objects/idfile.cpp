// The object index file (.ID): one u32 per row, the position of the row's
// object record in the map-object file, 0 for none.
#include <algorithm>
#include <cstring>

#include "mapfile/objects/mapfile.h"

namespace layerio {

namespace {

constexpr int32_t kZeroPiece = 256;

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

}  // namespace

int16_t IdFileCreate(IdFileAccess* access, FileHandle tableFile, int kind) {
  return OpenCompanion(access, tableFile, kind, kFileModeCreate);
}

int16_t IdFileOpen(IdFileAccess* access, FileHandle tableFile, int kind, int mode) {
  return OpenCompanion(access, tableFile, kind, mode);
}

int16_t IdFileRead(int32_t row, uint32_t* position, IdFileAccess* access) {
  *position = 0;
  if (row < 1 || !access->file) return 0;
  const int64_t offset = int64_t(row - 1) * 4;
  const int64_t size = FileSize(access->file);
  if (size < 0 || offset + 4 > size) return 0;
  uint8_t entry[4];
  if (FileSeek(access->file, offset, 0) != offset || FileRead(access->file, entry, 4) != 4)
    return 0;
  *position = MapLoadU32(entry);
  return *position != 0;
}

int16_t IdFileWrite(int32_t row, uint32_t position, IdFileAccess* access) {
  if (row < 1 || !access->file) return 0;
  const int64_t offset = int64_t(row - 1) * 4;
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
  MapStoreU32(entry, position);
  return FileSeek(access->file, offset, 0) == offset && FileWrite(access->file, entry, 4) == 4;
}

int16_t IdFileFlush(IdFileAccess* access) {
  if (!access->file || access->mode == 0) return 0;
  if (access->mode == kFileModeWrite || access->mode == kFileModeCreate) {
    uint32_t position = 0;
    const int64_t size = FileSize(access->file);
    if (access->lastRow >= 1 && size >= 0 && int64_t(access->lastRow) * 4 > size &&
        !IdFileRead(access->lastRow, &position, access))
      IdFileWrite(access->lastRow, 0, access);
  }
  access->mode = 0;
  const int16_t closed = FileClose(access->file) == 0 ? 1 : 0;
  FileRelease(access->file);
  access->file = 0;
  return closed;
}

}  // namespace layerio
