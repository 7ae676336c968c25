// The map-object file: head, header, blocks and slots.
#include "mapfile/foundation/charset.h"
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/strings.h"
#include "mapfile/objects/mapfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace layerio {

// The library's per-type-code table: record length of each code, plus 128
// when the object has variable data in coordinate blocks.
namespace {
constexpr uint8_t kVar = 128;
constexpr uint8_t kLibraryTypeTable[kMapTypeTableSize] = {
    0,
    10, 14, 21,                            // 1-3 point
    14, 22, 27,                            // 4-6 line
    34 + kVar, 38 + kVar, 43 + kVar,       // 7-9 polyline, one section
    26, 42, 47,                            // 10-12 arc
    37 + kVar, 41 + kVar, 53 + kVar,       // 13-15 region
    39 + kVar, 53 + kVar, 89 + kVar,       // 16-18 text
    15, 23, 35,                            // 19-21 rectangle
    19, 31, 43,                            // 22-24 rounded rectangle
    15, 23, 35,                            // 25-27 ellipse
    79, 87, 99,                            // 28-30 frame
    28 + kVar, 36 + kVar, 41 + kVar,       // 31-33 kind 11
    32 + kVar, 40 + kVar, 45 + kVar,       // 34-36 kind 12
    36 + kVar, 40 + kVar, 45 + kVar,       // 37-39 polyline, several sections
    22, 26, 57,                            // 40-42 point, font symbol
    13, 17, 55,                            // 43-45 point, custom symbol
    37 + kVar, 41 + kVar, 53 + kVar,       // 46-48 region, second generation
    36 + kVar, 40 + kVar, 45 + kVar,       // 49-51 polyline, second generation
    50 + kVar, 54 + kVar, 92 + kVar,       // 52-54 multipoint
    61 + kVar, 61 + kVar, 116 + kVar,      // 55-57 collection
    43, 47, 85,                            // 58-60 point with value flags
    72 + kVar, 76 + kVar, 88 + kVar,       // 61-63 region with value arrays
    71 + kVar, 75 + kVar, 80 + kVar,       // 64-66 polyline with value arrays
    83 + kVar, 87 + kVar, 125 + kVar,      // 67-69 multipoint, third generation
    66 + kVar, 66 + kVar, 121 + kVar,      // 70-72 collection, third generation
};
}  // namespace

const uint8_t* MapTypeTableLibrary() { return kLibraryTypeTable; }
namespace {

bool gAltMarkerSwitch = false;

// Ceil of a head of 616 bytes to a whole block.
uint32_t RoundUp(uint32_t n, uint32_t block) { return (n + block - 1) / block * block; }

bool BlockSizeValid(int size) {
  return size >= kMapBlockSizeMin && size <= kMapBlockSizeMax && size % kMapBlockSizeMin == 0;
}

void PushDamaged(const MapFile* map, const char* what) {
  char name[kPathCapacity];
  name[0] = 0;
  if (map && map->file && FileHandleCheck(map->file) >= 0) FilePath(map->file, name);
  ErrorPush(kErrorSeverity, kErrMapDamaged, name, what);
}

bool ReadAt(FileHandle file, int64_t offset, void* buffer, int32_t count, int32_t* got) {
  if (FileSeek(file, offset, 0) != offset) return false;
  int32_t n = FileRead(file, buffer, count);
  if (got) *got = n;
  return n == count || (got && n >= 0);
}

bool WriteAt(FileHandle file, int64_t offset, const void* buffer, int32_t count) {
  return FileSeek(file, offset, 0) == offset && FileWrite(file, buffer, count) == count;
}

int HeaderLengthFor(int version) {
  if (version < 200) return kMapHeaderLengthV100;
  if (version < 400) return kMapHeaderLengthV200;
  if (version < 500) return kMapHeaderLengthV400;
  if (version < 800) return kMapHeaderLengthV500;
  return kMapHeaderLengthV800;
}

// The unit code of the coordinates of the system itself (not of its affine
// plane).
int RecordUnit(const CoordSys* cs) {
  if (cs->projection == 0) return cs->params.nonEarth.unit;
  if (cs->projection == 1) return kUnitDegree;
  return cs->params.projectedUnit;
}

// A double taken into a coordinate-system record: -0.0 becomes 0 so that
// records compare byte for byte; false when it is no finite number.
bool TakeDouble(const uint8_t* p, double* out) {
  double v = QLoadF64LE(p);
  if (!std::isfinite(v)) return false;
  *out = v + 0.0;
  return true;
}

uint32_t MarkerFor(int markerSelector) {
  return gAltMarkerSwitch && markerSelector ? kMapMarkerAlt : kMapMarker;
}

bool IsAllLower(const char* text) {
  bool lower = false;
  for (const char* p = text; *p; ++p) {
    if (*p >= 'A' && *p <= 'Z') return false;
    if (*p >= 'a' && *p <= 'z') lower = true;
  }
  return lower;
}

}  // namespace

uint8_t MapTypeEntry(const MapFile* map, int code) {
  if (code < 1 || code >= kMapTypeTableSize) return 0;
  if (code <= kMapHighestCode) return kLibraryTypeTable[code];
  return map && map->ownTypeTable ? map->typeTable[code] : 0;
}

int16_t MapTypeTableLoad(MapFile* map) {
  map->ownTypeTable = 0;
  if (map->highestCode <= kMapHighestCode) return 1;
  uint8_t table[kMapTypeTableSize];
  if (!ReadAt(map->file, 0, table, kMapTypeTableSize, nullptr)) return 0;
  std::memcpy(map->typeTable, table, sizeof table);
  // Codes the file does not know stay unknown, whatever bytes stand there.
  for (int code = map->highestCode + 1; code < kMapTypeTableSize; ++code) map->typeTable[code] = 0;
  map->typeTable[0] = 0;
  map->ownTypeTable = 1;
  return 1;
}

void MapSetAltMarkerSwitch(int on) { gAltMarkerSwitch = on != 0; }

FileHandle MapCompanionAdd(FileHandle tableFile, int kind) {
  const FileKindRec& info = FileKindInfo(kind);
  if (!tableFile || !info.extension) return FileTableAddCompanion(tableFile, nullptr, kind);
  char path[kPathCapacity];
  if (FileHandleCheck(tableFile) < 0 || !FilePath(tableFile, path)) return 0;
  const char* slash = std::strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  const char* dot = std::strrchr(name, '.');
  if (!dot || !IsAllLower(dot + 1)) return FileTableAddCompanion(tableFile, nullptr, kind);
  // A lower-case definition gets lower-case companions; the kinds' own
  // extensions are upper case and forced onto their paths, so the entry is
  // added without a kind.
  char extension[16];
  size_t n = std::strlen(info.extension);
  if (n >= sizeof extension) return 0;
  for (size_t i = 0; i <= n; ++i)
    extension[i] = static_cast<char>(CharToLower(static_cast<unsigned char>(info.extension[i])));
  size_t at = static_cast<size_t>(dot - path);
  if (at + n + 1 > sizeof path) return 0;
  std::memcpy(path + at, extension, n + 1);
  return FileTableAddName(path, 0);
}

uint32_t MapFirstBlockPosition(const MapFile* map) {
  int size = map->blockSize > 0 ? map->blockSize : kMapBlockSizeDefault;
  return RoundUp(kMapHeadSize, static_cast<uint32_t>(size));
}

// ===== Header ===============================================================

int16_t MapHeaderWrite(MapFile* map, MapHeader* header) {
  if (map->highestCode < kMapHighestCode) {
    map->highestCode = kMapHighestCode;
    map->ownTypeTable = 0;
    if (!WriteAt(map->file, 0, kLibraryTypeTable, kMapTypeTableSize)) return 0;
  }
  const CoordSys* cs = &header->coordSys;
  const CoordSysParams& block = cs->params;
  const int projection = cs->projection;
  uint8_t b[kMapHeaderLengthV800] = {};
  QStoreU32LE(b + 0, map->marker);
  QStoreI16LE(b + 4, map->version);
  QStoreI16LE(b + 6, map->blockSize);
  QStoreF64LE(b + 8, map->unitFactor);
  const IRect* rects[2] = {&header->root, &header->second};
  for (int r = 0; r < 2; ++r) {
    QStoreI32LE(b + 16 + 16 * r, rects[r]->x1);
    QStoreI32LE(b + 20 + 16 * r, rects[r]->y1);
    QStoreI32LE(b + 24 + 16 * r, rects[r]->x2);
    QStoreI32LE(b + 28 + 16 * r, rects[r]->y2);
  }
  map->root = header->root;
  QStoreU32LE(b + 48, map->rootBlock);
  QStoreU32LE(b + 52, map->freeHead);
  QStoreU32LE(b + 56, map->firstStyleBlock);
  QStoreU32LE(b + 60, header->pointCount);
  QStoreU32LE(b + 64, header->lineCount);
  QStoreU32LE(b + 68, header->regionCount);
  QStoreU32LE(b + 72, header->otherCount);
  QStoreU32LE(b + 76, header->maxObjectSize);
  b[94] = map->storedUnit;
  b[95] = map->indexDepth;
  b[96] = map->precision;
  b[97] = static_cast<uint8_t>(CoordSysOrientation(cs));
  b[98] = projection == 1 ? 1 : 0;
  b[99] = map->highestCode;
  b[100] = map->penCount;
  b[101] = map->brushCount;
  b[102] = map->symbolCount;
  b[103] = map->nameCount;
  b[104] = map->styleBlockCount;
  const int version = map->version;
  if (version >= 200) {
    b[109] = static_cast<uint8_t>(projection);
    b[111] = static_cast<uint8_t>(RecordUnit(cs));
    double sx, sy, ox, oy;
    CoordSysGetScale(cs, nullptr, nullptr, &sx, &sy, &ox, &oy);
    QStoreF64LE(b + 112, sx);
    QStoreF64LE(b + 120, sy);
    QStoreF64LE(b + 128, ox);
    QStoreF64LE(b + 136, oy);
    if (projection != 0) {
      const PXDatum& d = block.datum;
      b[110] = d.ellipsoid;
      QStoreF64LE(b + 192, d.dx);
      QStoreF64LE(b + 200, d.dy);
      QStoreF64LE(b + 208, d.dz);
      QStoreU16LE(b + 106, d.number);
      int count = ProjectionFamily(projection);
      if (count > 6) return 0;
      for (int k = 0; k < count; ++k) QStoreF64LE(b + 144 + 8 * k, block.params[k]);
      if (version >= 400) {
        QStoreF64LE(b + 216, d.rx);
        QStoreF64LE(b + 224, d.ry);
        QStoreF64LE(b + 232, d.rz);
        QStoreF64LE(b + 240, d.scale);
        QStoreF64LE(b + 248, d.primeMeridian);
      }
    }
  }
  if (version >= 500) {
    b[256] = (block.flags & kParamsAffine) ? 1 : 0;
    b[257] = static_cast<uint8_t>(block.affineUnit);
    for (int k = 0; k < 6; ++k) QStoreF64LE(b + 264 + 8 * k, block.affine[k]);
  }
  if (version >= 800 && block.word246 != 0) {
    b[312] = static_cast<uint8_t>(block.word246);
    b[313] = header->extensionBytes[0];
    b[314] = header->extensionBytes[1];
    for (int k = 0; k < 8; ++k) QStoreU32LE(b + 320 + 4 * k, header->extensionWords[k]);
  }
  if (!WriteAt(map->file, kMapHeaderOffset, b, HeaderLengthFor(version))) return 0;
  header->flags &= ~kMapHeaderDirty;
  return 1;
}

int16_t MapHeaderRead(MapFile* map, MapHeader* header) {
  uint8_t b[kMapHeaderLengthV800] = {};
  int32_t got = 0;
  if (!ReadAt(map->file, kMapHeaderOffset, b, sizeof b, &got) || got < kMapHeaderLengthV100) {
    PushDamaged(map, "header");
    return 0;
  }
  if (QLoadU32LE(b) != map->marker) return 0;
  const int16_t version = QLoadI16LE(b + 4);
  if (got < HeaderLengthFor(version)) {
    PushDamaged(map, "header");
    return 0;
  }
  const int16_t blockSize = QLoadI16LE(b + 6);
  double unitFactor = 0;
  if (!BlockSizeValid(blockSize) || !TakeDouble(b + 8, &unitFactor)) {
    PushDamaged(map, "header");
    return 0;
  }
  map->version = version;
  map->blockSize = blockSize;
  map->unitFactor = unitFactor;
  std::memset(header, 0, sizeof *header);
  IRect* rects[2] = {&header->root, &header->second};
  for (int r = 0; r < 2; ++r) {
    rects[r]->x1 = QLoadI32LE(b + 16 + 16 * r);
    rects[r]->y1 = QLoadI32LE(b + 20 + 16 * r);
    rects[r]->x2 = QLoadI32LE(b + 24 + 16 * r);
    rects[r]->y2 = QLoadI32LE(b + 28 + 16 * r);
  }
  map->root = header->root;
  map->rootBlock = QLoadU32LE(b + 48);
  map->freeHead = QLoadU32LE(b + 52);
  map->firstStyleBlock = QLoadU32LE(b + 56);
  header->pointCount = QLoadU32LE(b + 60);
  header->lineCount = QLoadU32LE(b + 64);
  header->regionCount = QLoadU32LE(b + 68);
  header->otherCount = QLoadU32LE(b + 72);
  header->maxObjectSize = QLoadU32LE(b + 76);
  header->readWord = 4;
  map->storedUnit = b[94];
  map->indexDepth = b[95];
  map->precision = b[96];
  const int quadrant = b[97];
  map->highestCode = b[99];
  map->penCount = b[100];
  map->brushCount = b[101];
  map->symbolCount = b[102];
  map->nameCount = b[103];
  map->styleBlockCount = b[104];
  map->extension = 0;

  int projection = 0;
  CoordSysParams block;
  CoordSysParamsClear(&block);
  double sx = 1, sy = 1, ox = 0, oy = 0;
  // The writer stores the orientation of the system; a file written with
  // another quadrant is read with it, not mirrored.
  const bool quadrantValid = quadrant >= 1 && quadrant <= 4;
  if (version < 200) {
    sx = std::pow(10.0, map->precision);
    if (b[98] == 0) {
      int unit = UnitIsValid(map->storedUnit) ? map->storedUnit : kUnitMetre;
      block.nonEarth.one = 1;
      block.nonEarth.quadrant = static_cast<uint8_t>(quadrantValid ? quadrant : 1);
      block.nonEarth.unit = static_cast<uint16_t>(unit);
      block.nonEarth.quadrant2 = 1;
      if (map->unitFactor != 0) sx /= map->unitFactor;
    } else {
      projection = 1;
      CoordSysParamsDefault(&block);
      DatumRecordGet(0, &block.datum);
      if (quadrantValid) block.lonLatQuadrant = static_cast<uint8_t>(quadrant);
      block.params[0] = 0;
    }
    sy = sx;
    if (!std::isfinite(sx) || sx == 0) {
      PushDamaged(map, "header");
      return 0;
    }
  } else {
    projection = b[109];
    if (!ProjectionNumberValid(projection)) projection = 0;
    int ellipsoid = EllipsoidNumberValid(b[110]) ? b[110] : 28;
    int unit = UnitIsValid(b[111]) ? b[111] : kUnitMetre;
    if (projection == 0) {
      block.nonEarth.one = 1;
      block.nonEarth.quadrant = static_cast<uint8_t>(quadrantValid ? quadrant : 1);
      block.nonEarth.unit = static_cast<uint16_t>(unit);
      block.nonEarth.quadrant2 = 1;
    } else {
      PXDatum d;
      DatumRecordClear(&d);
      d.ellipsoid = static_cast<uint8_t>(ellipsoid);
      bool ok = TakeDouble(b + 192, &d.dx) && TakeDouble(b + 200, &d.dy) &&
                TakeDouble(b + 208, &d.dz);
      if (ok && version >= 400)
        ok = TakeDouble(b + 216, &d.rx) && TakeDouble(b + 224, &d.ry) &&
             TakeDouble(b + 232, &d.rz) && TakeDouble(b + 240, &d.scale) &&
             TakeDouble(b + 248, &d.primeMeridian);
      if (!ok) {
        PushDamaged(map, "header");
        return 0;
      }
      int number = QLoadU16LE(b + 106);
      if (DatumRecordMatches(number, &d)) d.number = static_cast<uint16_t>(number);
      block.datum = d;
      if (projection == 1) {
        block.lonLatQuadrant = static_cast<uint8_t>(quadrantValid ? quadrant : 2);
      } else {
        block.projectedUnit = static_cast<uint16_t>(unit);
        int count = ProjectionFamily(projection);
        if (count > 6) return 0;
        for (int k = 0; k < count; ++k) {
          if (!TakeDouble(b + 144 + 8 * k, &block.params[k])) {
            PushDamaged(map, "header");
            return 0;
          }
        }
      }
    }
    if (!TakeDouble(b + 112, &sx) || !TakeDouble(b + 120, &sy) || !TakeDouble(b + 128, &ox) ||
        !TakeDouble(b + 136, &oy) || sx == 0 || sy == 0) {
      PushDamaged(map, "header");
      return 0;
    }
  }
  if (version >= 500 && b[256]) {
    block.flags |= kParamsAffine;
    block.affineUnit = static_cast<uint16_t>(UnitIsValid(b[257]) ? b[257] : kUnitMetre);
    for (int k = 0; k < 6; ++k) {
      if (!TakeDouble(b + 264 + 8 * k, &block.affine[k])) {
        PushDamaged(map, "header");
        return 0;
      }
    }
    if (!AffineTransformInvert(block.affine, block.affineInverse)) return 0;
  }
  if (version >= 800 && b[312]) {
    block.word246 = 1;
    header->extensionBytes[0] = b[313];
    header->extensionBytes[1] = b[314];
    for (int k = 0; k < 8; ++k) header->extensionWords[k] = QLoadU32LE(b + 320 + 4 * k);
    map->extension = 1;
  }
  CoordSysInitWithScale(&header->coordSys, projection, &block, sx, sy, ox, oy);
  int16_t types = MapTypeTableLoad(map);
  int16_t styles = MapStylesLoad(map);
  return types && styles ? 1 : 0;
}

// ===== Create, open, lock, close ============================================

int16_t MapFileCreate(MapFile* map, MapHeader* header, FileHandle tableFile, int kind,
                      const CoordSys* coordSys, int temporary, int markerSelector,
                      int blockSize) {
  std::memset(map, 0, sizeof *map);
  std::memset(header, 0, sizeof *header);
  if (blockSize == 0) blockSize = kMapBlockSizeDefault;
  if (!BlockSizeValid(blockSize)) return 0;
  if (kind < 0) kind = kMapFileKind;
  if (temporary) kind = 0;
  if (kind == 0) {
    char dir[kPathCapacity];
    char path[kPathCapacity];
    const char* where = tableFile && FileHandleCheck(tableFile) >= 0 ? FileDir(tableFile, dir)
                                                                       : nullptr;
    if (!TempFileName(path, where)) return 0;
    map->file = FileTableAddName(path, 0);
  } else {
    map->file = MapCompanionAdd(tableFile, kind);
  }
  if (!map->file) return 0;
  int charset = tableFile ? FileGetCharset(tableFile) : -1;
  map->charset = static_cast<uint32_t>(charset >= 0 ? charset : DefaultCharset());
  map->marker = MarkerFor(markerSelector);
  uint32_t changed = 0;
  if (FileOpen(map->file, kFileModeCreate, &changed) < 0) {
    FileRelease(map->file);
    map->file = 0;
    return 0;
  }
  header->coordSys = *coordSys;
  const bool extended = coordSys->params.word246 != 0;
  map->version = extended ? kMapVersionExtended : kMapVersion;
  map->extension = extended ? 1 : 0;
  map->blockSize = static_cast<int16_t>(blockSize);
  map->highestCode = kMapHighestCode;
  double sx = 1, sy = 1;
  CoordSysGetScale(coordSys, nullptr, nullptr, &sx, &sy, nullptr, nullptr);
  double smaller = std::fabs(sx) < std::fabs(sy) ? sx : sy;
  double digits = std::log10(std::fabs(smaller));
  map->precision = digits > 0 ? static_cast<uint8_t>(std::min(digits, 255.0)) : 0;
  int unit = CoordSysUnits(coordSys);
  map->storedUnit = static_cast<uint8_t>(unit >= 0 && unit < 8 ? unit : unit == 8 ? 3 : 0);
  double factor = 1.0;
  UnitConvert(&factor, map->storedUnit, 1.0, unit);
  map->unitFactor = factor;
  bool ok = WriteAt(map->file, 0, kLibraryTypeTable, kMapTypeTableSize) &&
            MapHeaderWrite(map, header) &&
            FileSetSize(map->file, RoundUp(kMapHeadSize, static_cast<uint32_t>(blockSize))) >= 0;
  if (ok && FileClose(map->file) == 0) return 1;
  FileCloseAndRemove(map->file);
  MapNodeCacheClear(map);
  MapStylesFree(map);
  FileRelease(map->file);
  map->file = 0;
  return 0;
}

int16_t MapFileOpen(MapFile* map, MapHeader* header, FileHandle tableFile, int kind,
                    int markerSelector) {
  std::memset(map, 0, sizeof *map);
  std::memset(header, 0, sizeof *header);
  if (kind < 0) kind = kMapFileKind;
  map->file = MapCompanionAdd(tableFile, kind);
  if (!map->file) return 0;
  int charset = tableFile ? FileGetCharset(tableFile) : -1;
  map->charset = static_cast<uint32_t>(charset >= 0 ? charset : DefaultCharset());
  map->marker = MarkerFor(markerSelector);
  uint32_t changed = 0;
  bool ok = FileOpen(map->file, kFileModeRead, &changed) >= 0;
  if (ok) {
    ok = MapHeaderRead(map, header) != 0;
    FileClose(map->file);
  }
  if (!ok) {
    MapNodeCacheClear(map);
    MapStylesFree(map);
    FileRelease(map->file);
    map->file = 0;
    return 0;
  }
  const IRect& r = header->root;
  if (r.x1 == -kMapDamagedRootExtent && r.y1 == -kMapDamagedRootExtent &&
      r.x2 == kMapDamagedRootExtent && r.y2 == kMapDamagedRootExtent) {
    char name[kPathCapacity];
    FilePath(map->file, name);
    ErrorFatal(MsgGetText(kMsgMapIndexesDamaged), name);
  }
  return 1;
}

int16_t MapFileLock(MapFile* map, MapHeader* header, int mode, uint32_t* changed) {
  uint32_t moved = 0;
  if (changed) *changed = 0;
  if (!map->file || FileOpen(map->file, mode, &moved) < 0) return 0;
  if (!moved) return 1;
  if (changed) *changed = 1;
  // Slots and nodes filled before another writer's change must not be
  // served again.
  ++map->generation;
  MapNodeCacheClear(map);
  MapStylesFree(map);
  const int16_t blockSize = map->blockSize;
  if (!MapHeaderRead(map, header) || map->blockSize != blockSize) {
    if (map->blockSize != blockSize) PushDamaged(map, "block size changed");
    FileClose(map->file);
    return 0;
  }
  return 1;
}

int16_t MapFileUnlock(MapFile* map, MapHeader* header) {
  if (!map->file) return 0;
  int16_t written = 1;
  if (header && (header->flags & kMapHeaderDirty)) written = MapHeaderWrite(map, header);
  int closed = FileClose(map->file);
  return written && closed == 0 ? 1 : 0;
}

void MapFileClose(MapFile* map) {
  MapNodeCacheClear(map);
  MapStylesFree(map);
  if (map->file) FileRelease(map->file);
  map->file = 0;
}

int16_t MapFileRemove(MapFile* map) {
  int16_t removed = map->file ? FileCloseAndRemove(map->file) : 0;
  MapNodeCacheClear(map);
  MapStylesFree(map);
  if (map->file) FileRelease(map->file);
  map->file = 0;
  return removed;
}

void MapStylesFree(MapFile* map) {
  MemFreePtr(&map->pens);
  MemFreePtr(&map->brushes);
  MemFreePtr(&map->symbols);
  MemFreePtr(&map->names);
  MemFreePtr(&map->styleBlocks);
}

// ===== Blocks ===============================================================

int16_t MapBlockAlloc(MapFile* map, uint32_t* position) {
  const uint32_t size = static_cast<uint32_t>(map->blockSize);
  const uint32_t head = map->freeHead;
  if (head != 0 && head % size == 0 && head >= MapFirstBlockPosition(map)) {
    uint8_t free[6];
    int32_t got = 0;
    if (ReadAt(map->file, head, free, 6, &got) && got == 6 &&
        QLoadU16LE(free) == kMapBlockFree) {
      uint32_t next = QLoadU32LE(free + 2);
      // A chain that points at itself would hand the block out twice.
      map->freeHead = next == head ? 0 : next;
      ++map->generation;
      MapNodeCacheDrop(map, head);
      *position = head;
      return 1;
    }
  }
  map->freeHead = 0;
  int64_t fileSize = FileSize(map->file);
  if (fileSize < 0) return 0;
  // A file cut off inside a block grows from the next whole block.
  int64_t at = std::max<int64_t>(fileSize, MapFirstBlockPosition(map));
  at = (at + size - 1) / size * size;
  if (at + size > UINT32_MAX) return 0;
  if (FileSetSize(map->file, at + size) < 0) return 0;
  ++map->generation;
  MapNodeCacheDrop(map, static_cast<uint32_t>(at));
  *position = static_cast<uint32_t>(at);
  return 1;
}

int16_t MapBlockFree(MapFile* map, uint32_t position) {
  const uint32_t size = static_cast<uint32_t>(map->blockSize);
  int64_t fileSize = FileSize(map->file);
  if (fileSize < 0) return 0;
  if (position % size != 0 || position < MapFirstBlockPosition(map) ||
      int64_t(position) + size > fileSize) {
    PushDamaged(map, "block position");
    return 0;
  }
  MapNodeCacheDrop(map, position);
  if (int64_t(position) == fileSize - size) {
    if (FileSetSize(map->file, position) < 0) return 0;
    ++map->generation;
    return 1;
  }
  uint8_t free[6];
  QStoreU16LE(free, kMapBlockFree);
  QStoreU32LE(free + 2, map->freeHead);
  if (!WriteAt(map->file, position, free, 6)) return 0;
  map->freeHead = position;
  ++map->generation;
  return 1;
}

int16_t MapBlockSlotAlloc(MapFile* map, MapBlockSlot** slot) {
  const size_t size = static_cast<size_t>(map->blockSize > 0 ? map->blockSize
                                                             : kMapBlockSizeDefault);
  MemHandle handle = nullptr;
  void* memory = nullptr;
  *slot = nullptr;
  if (!MemAllocZero(sizeof(MapBlockSlot) + size, &handle, &memory)) return 0;
  auto* s = static_cast<MapBlockSlot*>(memory);
  s->flags = kMapSlotInvalid;
  s->capacity = static_cast<uint32_t>(size);
  s->bytes = reinterpret_cast<uint8_t*>(s + 1);
  *slot = s;
  return 1;
}

void MapBlockSlotFree(MapFile*, MapBlockSlot** slot) { MemFreePtr(slot); }

void MapBlockInit(MapFile* map, MapBlockSlot* slot, uint16_t kind) {
  size_t size = std::min<size_t>(slot->capacity, static_cast<size_t>(map->blockSize));
  std::memset(slot->bytes, 0, size);
  QStoreU16LE(slot->bytes, kind);
  slot->flags |= kMapSlotInvalid;
}

// Reads the run of blocks around `position` in one call (64 KB, within the
// file) and keeps its index, object and coordinate blocks; false when runs
// no longer pay for themselves (RunsWasted), so that the caller reads the
// one block.
static bool RunsWasted(const MapFile* map);
static void NoteRunBlock(MapFile* map);
static const uint8_t* FindForRead(MapFile* map, uint32_t position);

static bool ReadAround(MapFile* map, uint32_t position, int64_t fileSize, uint8_t* out) {
  constexpr uint32_t kRunBytes = 64 * 1024;
  const uint32_t size = static_cast<uint32_t>(map->blockSize);
  if (RunsWasted(map)) return false;
  const uint32_t first = MapFirstBlockPosition(map);
  const uint32_t run = std::max<uint32_t>(1, kRunBytes / size) * size;
  const int64_t start = int64_t(position) - (int64_t(position) - first) % run;
  const int64_t blocks = std::min<int64_t>(run, fileSize - start) / size;
  if (blocks <= 1) return false;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(size_t(blocks) * size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!ReadAt(map->file, start, bytes.data(), static_cast<int32_t>(bytes.size()), nullptr))
    return false;
  for (int64_t i = 0; i < blocks; ++i) {
    const uint8_t* block = bytes.data() + size_t(i) * size;
    const uint32_t at = static_cast<uint32_t>(start + i * size);
    const uint16_t type = QLoadU16LE(block);
    if (at == position) std::memcpy(out, block, size);
    if ((type == kMapBlockIndex || type == kMapBlockObject || type == kMapBlockCoord) &&
        !MapNodeCacheFind(map, at)) {
      MapNodeCacheStore(map, at, block, type != kMapBlockIndex);
      if (type != kMapBlockIndex) NoteRunBlock(map);
    }
  }
  return true;
}

int16_t MapBlockRead(MapFile* map, MapBlockSlot* slot, uint32_t position) {
  if (!(slot->flags & kMapSlotInvalid) && slot->position == position &&
      map->generation <= slot->generation)
    return 1;
  const uint32_t size = static_cast<uint32_t>(map->blockSize);
  slot->flags |= kMapSlotInvalid;
  slot->position = position;
  if (slot->capacity < size) return 0;
  int64_t fileSize = FileSize(map->file);
  if (fileSize < 0) return 0;
  if (size == 0 || position % size != 0 || position < MapFirstBlockPosition(map) ||
      int64_t(position) + size > fileSize) {
    PushDamaged(map, "block position");
    return 0;
  }
  if (const uint8_t* kept = FindForRead(map, position)) {
    std::memcpy(slot->bytes, kept, size);
  } else if (!ReadAround(map, position, fileSize, slot->bytes)) {
    if (!ReadAt(map->file, position, slot->bytes, static_cast<int32_t>(size), nullptr)) return 0;
    if (QLoadU16LE(slot->bytes) == kMapBlockIndex) MapNodeCacheStore(map, position, slot->bytes);
  }
  slot->generation = map->generation;
  slot->flags &= ~kMapSlotInvalid;
  return 1;
}

int16_t MapBlockWrite(MapFile* map, MapBlockSlot* slot, uint32_t position) {
  const uint32_t size = static_cast<uint32_t>(map->blockSize);
  slot->position = position;
  if (slot->capacity < size || size == 0 || position % size != 0 ||
      position < MapFirstBlockPosition(map)) {
    slot->flags |= kMapSlotInvalid;
    PushDamaged(map, "block position");
    return 0;
  }
  if (!WriteAt(map->file, position, slot->bytes, static_cast<int32_t>(size))) {
    slot->flags |= kMapSlotInvalid;
    MapNodeCacheDrop(map, position);
    return 0;
  }
  const uint16_t type = QLoadU16LE(slot->bytes);
  if (type == kMapBlockIndex || type == kMapBlockObject || type == kMapBlockCoord) {
    // A block just written is the one most likely read next.
    MapNodeCacheStore(map, position, slot->bytes, type != kMapBlockIndex);
  } else {
    MapNodeCacheDrop(map, position);
  }
  ++map->generation;
  slot->generation = map->generation;
  slot->flags &= ~kMapSlotInvalid;
  return 1;
}

// ===== Index nodes kept in memory ===========================================

// Blocks in slots of chunks that never move (growing the cache copies no
// kept block); a dropped block's slot is reused first. Object and coordinate
// blocks leave in the order they came once their budget is spent, so that a
// table read row by row keeps the blocks around its reads however large the
// file is; runs read around a block go on only while their blocks are read
// again (RunsPayOff), so a read in no order falls back to single blocks.
struct MapNodeCache {
  struct Kept {
    uint32_t slot;
    bool data;
    uint64_t stamp;  // order of arrival of a data block
  };
  struct Arrival {
    uint32_t position;
    uint64_t stamp;
  };
  uint32_t blockSize = 0;
  uint32_t slotsPerChunk = 1;
  uint32_t slotCount = 0;
  size_t nodeBytes = 0;  // kept nodes
  size_t dataBytes = 0;  // kept object and coordinate blocks
  std::unordered_map<uint32_t, Kept> slots;  // position -> slot
  std::vector<std::unique_ptr<uint8_t[]>> chunks;
  std::vector<uint32_t> spare;
  std::deque<Arrival> arrivals;  // data blocks, oldest first (stale ones too)
  uint64_t nextStamp = 0;
  // Blocks kept by runs and reads served by kept data blocks, decayed.
  uint64_t runBlocks = 0;
  uint64_t dataHits = 0;

  uint8_t* Bytes(uint32_t slot) const {
    return chunks[slot / slotsPerChunk].get() + size_t(slot % slotsPerChunk) * blockSize;
  }
};

namespace {

constexpr size_t kMapCacheChunkBytes = size_t(256) << 10;

bool CacheUsable(const MapFile* map) {
  return map->nodes && map->nodes->blockSize == static_cast<uint32_t>(map->blockSize);
}

// Drops the oldest data blocks until one more fits the budget; false when
// none is left to drop.
bool MakeDataRoom(MapFile* map) {
  MapNodeCache* c = map->nodes;
  while (c->dataBytes + c->blockSize > kMapDataCacheBytes) {
    if (c->arrivals.empty()) return false;
    const MapNodeCache::Arrival oldest = c->arrivals.front();
    c->arrivals.pop_front();
    auto it = c->slots.find(oldest.position);
    if (it != c->slots.end() && it->second.data && it->second.stamp == oldest.stamp)
      MapNodeCacheDrop(map, oldest.position);
  }
  return true;
}

// Whether the runs read around a block have been worth their reads: a
// quarter of the blocks they kept read again.
bool RunsPayOff(const MapNodeCache* c) { return c->dataHits * 4 >= c->runBlocks; }

}  // namespace

// Whether reading around a block should stop: the data budget is spent and
// the runs have not been paying off.
static bool RunsWasted(const MapFile* map) {
  const MapNodeCache* c = map->nodes;
  return CacheUsable(map) && c->dataBytes + c->blockSize > kMapDataCacheBytes &&
         !RunsPayOff(c);
}

const uint8_t* MapNodeCacheFind(const MapFile* map, uint32_t position) {
  if (!CacheUsable(map)) return nullptr;
  const MapNodeCache* c = map->nodes;
  auto it = c->slots.find(position);
  return it == c->slots.end() ? nullptr : c->Bytes(it->second.slot);
}

// MapNodeCacheFind for a read, counting the reads served by data blocks.
static const uint8_t* FindForRead(MapFile* map, uint32_t position) {
  if (!CacheUsable(map)) return nullptr;
  MapNodeCache* c = map->nodes;
  auto it = c->slots.find(position);
  if (it == c->slots.end()) return nullptr;
  if (it->second.data) ++c->dataHits;
  return c->Bytes(it->second.slot);
}

// Counts a block a run kept; the counts halve as a budget's worth of blocks
// arrives, so that they follow how the file is being read now.
static void NoteRunBlock(MapFile* map) {
  MapNodeCache* c = map->nodes;
  if (!CacheUsable(map)) return;
  if (++c->runBlocks > kMapDataCacheBytes / c->blockSize) {
    c->runBlocks /= 2;
    c->dataHits /= 2;
  }
}

void MapNodeCacheStore(MapFile* map, uint32_t position, const uint8_t* block, bool data) {
  const uint32_t size = static_cast<uint32_t>(map->blockSize);
  if (size == 0) return;
  MapNodeCache* c = map->nodes;
  if (c && c->blockSize != size) {
    MapNodeCacheClear(map);
    c = nullptr;
  }
  if (!c) {
    c = new (std::nothrow) MapNodeCache;
    if (!c) return;
    c->blockSize = size;
    c->slotsPerChunk = std::max<uint32_t>(1, uint32_t(kMapCacheChunkBytes / size));
    map->nodes = c;
  }
  try {
    auto it = c->slots.find(position);
    if (it != c->slots.end() && it->second.data != data) {
      MapNodeCacheDrop(map, position);
      it = c->slots.end();
    }
    uint32_t slot;
    if (it != c->slots.end()) {
      slot = it->second.slot;
    } else {
      if (data ? !MakeDataRoom(map) : c->nodeBytes + size > kMapNodeCacheBytes) return;
      if (!c->spare.empty()) {
        slot = c->spare.back();
        c->spare.pop_back();
      } else {
        if (c->slotCount == c->chunks.size() * c->slotsPerChunk)
          c->chunks.emplace_back(new uint8_t[size_t(c->slotsPerChunk) * size]);
        slot = c->slotCount++;
      }
      const uint64_t stamp = data ? c->nextStamp++ : 0;
      if (data) {
        // Stale arrivals (blocks dropped since) are shed before they
        // outnumber the blocks the budget holds.
        if (c->arrivals.size() >= 2 * (kMapDataCacheBytes / size) + 1) {
          std::deque<MapNodeCache::Arrival> live;
          for (const MapNodeCache::Arrival& a : c->arrivals) {
            auto k = c->slots.find(a.position);
            if (k != c->slots.end() && k->second.data && k->second.stamp == a.stamp)
              live.push_back(a);
          }
          c->arrivals.swap(live);
        }
        c->arrivals.push_back({position, stamp});
      }
      c->slots.emplace(position, MapNodeCache::Kept{slot, data, stamp});
      (data ? c->dataBytes : c->nodeBytes) += size;
    }
    std::memcpy(c->Bytes(slot), block, size);
  } catch (const std::bad_alloc&) {
    // Without room the block is read from the file the next time.
    MapNodeCacheDrop(map, position);
  }
}

void MapNodeCacheDrop(MapFile* map, uint32_t position) {
  MapNodeCache* c = map->nodes;
  if (!c) return;
  auto it = c->slots.find(position);
  if (it == c->slots.end()) return;
  const MapNodeCache::Kept kept = it->second;
  c->slots.erase(it);
  (kept.data ? c->dataBytes : c->nodeBytes) -= c->blockSize;
  try {
    c->spare.push_back(kept.slot);
  } catch (const std::bad_alloc&) {
    // The slot stays unused.
  }
}

void MapNodeCacheClear(MapFile* map) {
  delete map->nodes;
  map->nodes = nullptr;
}

}  // namespace layerio
