// Style tables of a map-object file (see mapstyles.h).
//
// The tables mirror the records of the style-block chain in chain order, so
// that an object's one-byte index names the same style after a reload. That is
// why a free entry is never matched by content: its record in the file still
// holds the old body, and an object pointing at it would read that body back.
#include "mapfile/foundation/error.h"
#include "mapfile/foundation/file.h"
#include "mapfile/foundation/locale.h"
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/path.h"
#include "mapfile/foundation/value.h"
#include "mapfile/objects/mapstyles.h"

#include <cstring>
#include <vector>


namespace layerio {

namespace {

constexpr char kDefaultName[] = "Helvetica";
constexpr int kRecordMaxLength = kMapStyleRecordHead + kMapNameBodySize;

// ----- errors and file access -------------------------------------------------

int16_t Damaged(MapFile* map) {
  char path[kPathCapacity];
  path[0] = '\0';
  if (map->file) FilePath(map->file, path);
  ErrorPush(kErrorSeverity, kErrMapDamaged, path, nullptr);
  return 0;
}

bool ReadAt(MapFile* map, int64_t offset, void* buffer, int32_t count) {
  return FileSeek(map->file, offset, 0) == offset && FileRead(map->file, buffer, count) == count;
}

bool WriteAt(MapFile* map, int64_t offset, const void* buffer, int32_t count) {
  bool ok = FileSeek(map->file, offset, 0) == offset &&
            FileWrite(map->file, buffer, count) == count;
  ++map->generation;  // any block cached in a slot may now be stale
  return ok;
}

bool BlockSizeValid(const MapFile* map) {
  return map->blockSize >= kMapBlockSizeMin && map->blockSize <= kMapBlockSizeMax &&
         map->blockSize % kMapBlockSizeMin == 0;
}

// The file offset of length bytes at a style position; false when the
// position lies outside the known style blocks.
bool Locate(const MapFile* map, uint32_t position, int length, int64_t* offset) {
  if (!BlockSizeValid(map) || !map->styleBlocks) return false;
  uint32_t size = static_cast<uint32_t>(map->blockSize);
  uint32_t chain = position / size;
  uint32_t rest = position % size;
  if (chain >= map->styleBlockCount || rest < kMapStyleBlockHead ||
      rest + static_cast<uint32_t>(length) > size) {
    return false;
  }
  *offset = static_cast<int64_t>(map->styleBlocks[chain]) + rest;
  return true;
}

// ----- the tables -------------------------------------------------------------

void FreeTables(MapFile* map) {
  MemFreePtr(&map->pens);
  MemFreePtr(&map->brushes);
  MemFreePtr(&map->symbols);
  MemFreePtr(&map->names);
  MemFreePtr(&map->styleBlocks);
}

template <class T>
bool AllocTable(T** table) {
  if (*table) return true;
  void* p = nullptr;
  MemHandle h = nullptr;
  if (!MemAllocZero(sizeof(T) * kMapStyleTableMax, &h, &p)) return false;
  *table = static_cast<T*>(p);
  return true;
}

uint8_t* Body(MapPenEntry& e) { return e.packed; }
uint8_t* Body(MapBrushEntry& e) { return e.packed; }
uint8_t* Body(MapSymbolEntry& e) { return e.packed; }
uint8_t* Body(MapNameEntry& e) { return reinterpret_cast<uint8_t*>(e.name); }
constexpr int BodySize(const MapPenEntry&) { return kMapPenBodySize; }
constexpr int BodySize(const MapBrushEntry&) { return kMapBrushBodySize; }
constexpr int BodySize(const MapSymbolEntry&) { return kMapSymbolBodySize; }
constexpr int BodySize(const MapNameEntry&) { return kMapNameBodySize; }
static_assert(sizeof(MapPenEntry::packed) == kMapPenBodySize &&
              sizeof(MapBrushEntry::packed) == kMapBrushBodySize &&
              sizeof(MapSymbolEntry::packed) == kMapSymbolBodySize &&
              sizeof(MapNameEntry::name) == kMapNameBodySize);

template <class T>
bool IsFree(const T& e) {
  return (e.position & kMapStyleEntryFree) != 0;
}
template <class T>
uint32_t PositionOf(const T& e) {
  return e.position & ~kMapStyleEntryFree;
}

// One table of the map: its entries, its count and the sort of its records.
template <class T>
struct Table {
  T** entries;
  uint8_t* count;
  uint8_t sort;
};

Table<MapPenEntry> Pens(MapFile* map) { return {&map->pens, &map->penCount, kMapStyleSortPen}; }
Table<MapBrushEntry> Brushes(MapFile* map) {
  return {&map->brushes, &map->brushCount, kMapStyleSortBrush};
}
Table<MapSymbolEntry> Symbols(MapFile* map) {
  return {&map->symbols, &map->symbolCount, kMapStyleSortSymbol};
}
Table<MapNameEntry> Names(MapFile* map) {
  return {&map->names, &map->nameCount, kMapStyleSortName};
}

// Rewrites the record of a free entry with a new body and use count 1. The
// record must be of the table's sort: the entry's place in the chain is what
// objects refer to.
template <class T>
int16_t ReuseFree(MapFile* map, const Table<T>& table, int i, const uint8_t* body) {
  T& e = (*table.entries)[i];
  uint32_t position = PositionOf(e);
  int length = MapStyleRecordLength(table.sort);
  int64_t offset = 0;
  if (!Locate(map, position, length, &offset)) return Damaged(map);
  uint8_t record[kRecordMaxLength] = {};
  if (!ReadAt(map, offset, record, 1)) return 0;
  if (record[0] != table.sort) return Damaged(map);
  QStoreU32LE(record + 1, 1);
  std::memcpy(record + kMapStyleRecordHead, body, BodySize(e));
  if (!WriteAt(map, offset, record, length)) return 0;
  std::memcpy(Body(e), body, BodySize(e));
  e.position = position;
  return 1;
}

// Find or add (mapstyles.h). score(entry index) gives the similarity of the
// stored entry to the new style and score(-1) that of the default; null
// where a table maps nothing by similarity.
template <class T, class Score>
int16_t FindOrAdd(MapFile* map, const Table<T>& table, const uint8_t* body, uint8_t* index,
                  int countUse, Score&& score, bool bySimilarity) {
  *index = 0;
  T* entries = *table.entries;
  int count = entries ? *table.count : 0;
  for (int i = 0; i < count; ++i) {
    if (IsFree(entries[i]) || std::memcmp(Body(entries[i]), body, BodySize(entries[i])) != 0) {
      continue;
    }
    if (countUse && !MapStyleUseCount(map, PositionOf(entries[i]), 1, nullptr)) return 0;
    *index = static_cast<uint8_t>(i + 1);
    return 1;
  }
  if (count < kMapStyleTableMax) {
    if (!AllocTable(table.entries)) return 0;
    entries = *table.entries;
    MapStyleRecord record = {};
    record.sort = table.sort;
    std::memcpy(record.body, body, BodySize(entries[0]));
    uint32_t position = 0;
    if (!MapStyleRecordAdd(map, &record, &position)) return 0;
    T& e = entries[count];
    std::memset(&e, 0, sizeof e);
    e.position = position;
    std::memcpy(Body(e), body, BodySize(e));
    *table.count = static_cast<uint8_t>(count + 1);
    *index = static_cast<uint8_t>(count + 1);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    if (!IsFree(entries[i])) continue;
    if (!ReuseFree(map, table, i, body)) return 0;
    *index = static_cast<uint8_t>(i + 1);
    return 1;
  }
  if (!bySimilarity) return 1;  // stays at the default
  int32_t best = score(-1);
  int bestIndex = 0;
  for (int i = 0; i < count; ++i) {
    int32_t s = score(i);
    if (s > best) {
      best = s;
      bestIndex = i + 1;
    }
  }
  if (bestIndex && countUse &&
      !MapStyleUseCount(map, PositionOf(entries[bestIndex - 1]), 1, nullptr)) {
    return 0;
  }
  *index = static_cast<uint8_t>(bestIndex);
  return 1;
}

// The stored body at an index, or null for index 0, an index beyond the table
// and a free entry. With release the record's use count is lowered first
// (the body is copied out before a count of 0 clears the entry); failed
// reports a failed release.
template <class T>
const uint8_t* LookupBody(MapFile* map, const Table<T>& table, uint8_t index, int release,
                          uint8_t* copy, bool* failed) {
  *failed = false;
  T* entries = *table.entries;
  if (index == 0 || !entries || index > *table.count) return nullptr;
  T& e = entries[index - 1];
  if (IsFree(e)) return nullptr;
  std::memcpy(copy, Body(e), BodySize(e));
  if (release) {
    uint32_t count = 0;
    if (!MapStyleUseCount(map, PositionOf(e), -1, &count)) {
      *failed = true;
      return nullptr;
    }
    if (count == 0) {
      std::memset(Body(e), 0, BodySize(e));
      e.position |= kMapStyleEntryFree;
    }
  }
  return copy;
}

int32_t SizeSimilarity(int32_t a, int32_t b) {
  if (a < 0) a = -a;
  if (b < 0) b = -b;
  int32_t larger = a > b ? a : b;
  int32_t smaller = a > b ? b : a;
  if (larger == 0) return 1000;
  return static_cast<int32_t>(int64_t{1000} * smaller / larger);
}

void PackName(const char* name, uint8_t* body) {
  char padded[kMapNameBodySize];
  std::memset(padded, 0, sizeof padded);
  if (name) FontNameCopy(name, padded);
  padded[kMapNameBodySize - 1] = '\0';
  std::memcpy(body, padded, kMapNameBodySize);
}

}  // namespace

int MapStyleRecordLength(uint8_t sort) {
  switch (sort) {
    case kMapStyleSortPen: return kMapStyleRecordHead + kMapPenBodySize;
    case kMapStyleSortBrush: return kMapStyleRecordHead + kMapBrushBodySize;
    case kMapStyleSortName: return kMapStyleRecordHead + kMapNameBodySize;
    case kMapStyleSortSymbol: return kMapStyleRecordHead + kMapSymbolBodySize;
    default: return 0;
  }
}

// ----- loading ------------------------------------------------------------------

int16_t MapStylesLoad(MapFile* map) {
  const uint8_t wanted[4] = {map->penCount, map->brushCount, map->symbolCount, map->nameCount};
  const uint8_t wantedBlocks = map->styleBlockCount;
  FreeTables(map);
  map->penCount = map->brushCount = map->symbolCount = map->nameCount = 0;
  map->styleBlockCount = 0;
  if (map->firstStyleBlock == 0 && wantedBlocks == 0 && !wanted[0] && !wanted[1] &&
      !wanted[2] && !wanted[3]) {
    return 1;
  }
  if (!BlockSizeValid(map)) return Damaged(map);
  if (!AllocTable(&map->pens) || !AllocTable(&map->brushes) || !AllocTable(&map->symbols) ||
      !AllocTable(&map->names) || !AllocTable(&map->styleBlocks)) {
    FreeTables(map);
    return 0;
  }
  const int size = map->blockSize;
  const uint32_t first = MapFirstBlockPosition(map);
  std::vector<uint8_t> block(static_cast<size_t>(size));
  uint32_t position = map->firstStyleBlock;
  int chain = 0;
  bool ok = true;
  while (ok && position != 0) {
    // A chain longer than the tables can count, or one that comes back to a
    // block it has passed, is damaged (and would never end).
    ok = chain < kMapStyleTableMax && position % static_cast<uint32_t>(size) == 0 &&
         position >= first;
    for (int i = 0; ok && i < chain; ++i) ok = map->styleBlocks[i] != position;
    if (!ok) {
      Damaged(map);
      break;
    }
    if (!ReadAt(map, position, block.data(), size)) {
      // The chain points past the end of the file.
      ok = false;
      Damaged(map);
      break;
    }
    const uint16_t kind = QLoadU16LE(block.data());
    const int used = QLoadU16LE(block.data() + 2);
    if (kind != kMapBlockStyle || used > size - kMapStyleBlockHead) {
      ok = false;
      Damaged(map);
      break;
    }
    const int end = kMapStyleBlockHead + used;
    for (int at = kMapStyleBlockHead; ok && at < end;) {
      const uint8_t* record = block.data() + at;
      const uint8_t sort = record[0];
      const int length = MapStyleRecordLength(sort);
      uint8_t* count = sort == kMapStyleSortPen      ? &map->penCount
                       : sort == kMapStyleSortBrush  ? &map->brushCount
                       : sort == kMapStyleSortSymbol ? &map->symbolCount
                                                     : &map->nameCount;
      if (length == 0 || at + length > end || *count == kMapStyleTableMax) {
        ok = false;
        Damaged(map);
        break;
      }
      const bool free = QLoadU32LE(record + 1) == 0;
      const uint32_t stylePosition =
          static_cast<uint32_t>(chain) * static_cast<uint32_t>(size) + static_cast<uint32_t>(at);
      const uint32_t entryPosition = stylePosition | (free ? kMapStyleEntryFree : 0);
      const uint8_t* body = record + kMapStyleRecordHead;
      uint8_t* target = nullptr;
      int bodySize = length - kMapStyleRecordHead;
      switch (sort) {
        case kMapStyleSortPen:
          map->pens[*count].position = entryPosition;
          target = map->pens[*count].packed;
          break;
        case kMapStyleSortBrush:
          map->brushes[*count].position = entryPosition;
          target = map->brushes[*count].packed;
          break;
        case kMapStyleSortSymbol:
          map->symbols[*count].position = entryPosition;
          target = map->symbols[*count].packed;
          break;
        default:
          map->names[*count].position = entryPosition;
          target = reinterpret_cast<uint8_t*>(map->names[*count].name);
          break;
      }
      if (free) {
        std::memset(target, 0, static_cast<size_t>(bodySize));
      } else {
        std::memcpy(target, body, static_cast<size_t>(bodySize));
      }
      // A name without its terminator is cut at 31 characters in memory.
      if (sort == kMapStyleSortName) map->names[*count].name[kMapNameBodySize - 1] = '\0';
      ++*count;
      at += length;
    }
    if (!ok) break;
    map->styleBlocks[chain++] = position;
    map->styleBlockCount = static_cast<uint8_t>(chain);
    position = QLoadU32LE(block.data() + 4);
  }
  // The header counts what objects may refer to; records beyond them are left
  // by an interrupted write and harmless, but fewer records than counted
  // means the chain lost some.
  if (ok && (map->penCount < wanted[0] || map->brushCount < wanted[1] ||
             map->symbolCount < wanted[2] || map->nameCount < wanted[3] ||
             map->styleBlockCount < wantedBlocks)) {
    ok = false;
    Damaged(map);
  }
  if (!ok) {
    FreeTables(map);
    map->penCount = map->brushCount = map->symbolCount = map->nameCount = 0;
    map->styleBlockCount = 0;
    return 0;
  }
  return 1;
}

// ----- records --------------------------------------------------------------------

int16_t MapStyleUseCount(MapFile* map, uint32_t position, int change, uint32_t* newCount) {
  int64_t offset = 0;
  if (!Locate(map, position, kMapStyleRecordHead, &offset)) return Damaged(map);
  uint8_t head[kMapStyleRecordHead];
  if (!ReadAt(map, offset, head, kMapStyleRecordHead)) return 0;
  const int length = MapStyleRecordLength(head[0]);
  int64_t whole = 0;
  if (length == 0 || !Locate(map, position, length, &whole)) return Damaged(map);
  uint32_t count = QLoadU32LE(head + 1);
  if (change < 0) {
    uint32_t down = static_cast<uint32_t>(-static_cast<int64_t>(change));
    count = count > down ? count - down : 0;
  } else if (change > 0) {
    uint32_t up = static_cast<uint32_t>(change);
    count = count > UINT32_MAX - up ? UINT32_MAX : count + up;
  }
  QStoreU32LE(head + 1, count);
  if (!WriteAt(map, offset + 1, head + 1, 4)) return 0;
  if (newCount) *newCount = count;
  return 1;
}

int16_t MapStyleRecordAdd(MapFile* map, const MapStyleRecord* record, uint32_t* position) {
  const int length = MapStyleRecordLength(record->sort);
  if (length == 0 || !BlockSizeValid(map)) return Damaged(map);
  const int size = map->blockSize;
  if (!AllocTable(&map->styleBlocks)) return 0;
  uint8_t head[kMapStyleBlockHead];
  int used = 0;
  int chain = map->styleBlockCount - 1;
  bool fits = false;
  if (chain >= 0) {
    if (!ReadAt(map, map->styleBlocks[chain], head, kMapStyleBlockHead)) return 0;
    used = QLoadU16LE(head + 2);
    if (QLoadU16LE(head) != kMapBlockStyle || used > size - kMapStyleBlockHead) {
      return Damaged(map);
    }
    fits = kMapStyleBlockHead + used + length <= size;
  }
  if (!fits) {
    // The header counts style blocks in one byte.
    if (map->styleBlockCount == kMapStyleTableMax) return Damaged(map);
    uint32_t fresh = 0;
    if (!MapBlockAlloc(map, &fresh)) return 0;
    std::vector<uint8_t> block(static_cast<size_t>(size), 0);
    QStoreU16LE(block.data(), kMapBlockStyle);
    if (!WriteAt(map, fresh, block.data(), size)) {
      MapBlockFree(map, fresh);
      return 0;
    }
    if (chain >= 0) {
      uint8_t next[4];
      QStoreU32LE(next, fresh);
      if (!WriteAt(map, static_cast<int64_t>(map->styleBlocks[chain]) + 4, next, 4)) return 0;
    } else {
      map->firstStyleBlock = fresh;
    }
    map->styleBlocks[++chain] = fresh;
    map->styleBlockCount = static_cast<uint8_t>(chain + 1);
    used = 0;
  }
  uint8_t bytes[kRecordMaxLength] = {};
  bytes[0] = record->sort;
  QStoreU32LE(bytes + 1, 1);
  std::memcpy(bytes + kMapStyleRecordHead, record->body,
              static_cast<size_t>(length - kMapStyleRecordHead));
  const int64_t blockAt = map->styleBlocks[chain];
  // The record first, then the bytes in use that make it part of the block.
  if (!WriteAt(map, blockAt + kMapStyleBlockHead + used, bytes, length)) return 0;
  uint8_t usedBytes[2];
  QStoreU16LE(usedBytes, static_cast<uint16_t>(used + length));
  if (!WriteAt(map, blockAt + 2, usedBytes, 2)) return 0;
  *position = static_cast<uint32_t>(chain) * static_cast<uint32_t>(size) +
              static_cast<uint32_t>(kMapStyleBlockHead + used);
  return 1;
}

// ----- similarity ------------------------------------------------------------------

int32_t MapPenSimilarity(const PenStyle* a, const PenStyle* b) {
  int32_t score = 0;
  if (a->pattern == b->pattern) {
    if (a->pattern == 1) return 3000;
    score += 1000;
  }
  score += ColorSimilarity(a->colour & 0xFFFFFF, b->colour & 0xFFFFFF);
  if (PenWidthIsPixels(a->width) == PenWidthIsPixels(b->width)) {
    score += SizeSimilarity(a->width, b->width);
  }
  return score;
}

int32_t MapBrushSimilarity(const BrushStyle* a, const BrushStyle* b) {
  int32_t score = ColorSimilarity(a->foreground & 0xFFFFFF, b->foreground & 0xFFFFFF);
  if (a->pattern == b->pattern) {
    if (a->pattern == 1) return 3000;
    score += 1000;
    if (a->pattern == 2) return score + 1000;
  }
  return score + ColorSimilarity(a->background & 0xFFFFFF, b->background & 0xFFFFFF);
}

int32_t MapSymbolSimilarity(const SymbolStyle* a, const SymbolStyle* b) {
  int32_t score = ColorSimilarity(a->colour & 0xFFFFFF, b->colour & 0xFFFFFF);
  score += SizeSimilarity(a->size, b->size);
  if (a->shape == b->shape) score += 1000;
  return score;
}

// ----- find or add -------------------------------------------------------------------

int16_t MapPenIndex(MapFile* map, const PenStyle* pen, uint8_t* index, int countUse) {
  *index = 0;
  if (PenEqual(pen, &StyleDefaults()->linePen)) return 1;
  uint8_t body[kMapPenBodySize];
  PenRecPack(pen, body);
  PenStyle wanted = {};
  PenRecUnpack(body, &wanted);
  auto score = [&](int i) {
    PenStyle stored = {};
    if (i < 0) {
      stored = StyleDefaults()->linePen;
    } else {
      PenRecUnpack(map->pens[i].packed, &stored);
    }
    return MapPenSimilarity(&wanted, &stored);
  };
  return FindOrAdd(map, Pens(map), body, index, countUse, score, true);
}

int16_t MapBrushIndex(MapFile* map, const BrushStyle* brush, uint8_t* index, int countUse) {
  *index = 0;
  if (BrushEqual(brush, &StyleDefaults()->brush)) return 1;
  uint8_t body[kMapBrushBodySize];
  BrushRecPack(brush, body);
  BrushStyle wanted = {};
  BrushRecUnpack(body, &wanted);
  auto score = [&](int i) {
    BrushStyle stored = {};
    if (i < 0) {
      stored = StyleDefaults()->brush;
    } else {
      BrushRecUnpack(map->brushes[i].packed, &stored);
    }
    return MapBrushSimilarity(&wanted, &stored);
  };
  return FindOrAdd(map, Brushes(map), body, index, countUse, score, true);
}

int16_t MapSymbolIndex(MapFile* map, const SymbolStyle* symbol, uint8_t* index, int countUse) {
  *index = 0;
  uint8_t body[kMapSymbolBodySize];
  SymbolRecPack(symbol, body);
  SymbolStyle wanted = {};
  SymbolRecUnpack(body, &wanted);
  auto score = [&](int i) {
    SymbolStyle stored = {};
    if (i < 0) {
      stored = StyleDefaults()->symbol;
    } else {
      SymbolRecUnpack(map->symbols[i].packed, &stored);
    }
    return MapSymbolSimilarity(&wanted, &stored);
  };
  return FindOrAdd(map, Symbols(map), body, index, countUse, score, true);
}

int16_t MapNameIndex(MapFile* map, const char* name, uint8_t* index, int countUse) {
  uint8_t body[kMapNameBodySize];
  PackName(name, body);
  auto none = [](int) { return int32_t{0}; };
  return FindOrAdd(map, Names(map), body, index, countUse, none, false);
}

int16_t MapCustomNameIndex(MapFile* map, const char* name, uint8_t* index, int countUse) {
  return MapNameIndex(map, name, index, countUse);
}

// ----- lookups -------------------------------------------------------------------------

int16_t MapPenLookup(MapFile* map, uint8_t index, PenStyle* out, int release) {
  uint8_t copy[kMapPenBodySize];
  bool failed = false;
  const uint8_t* body = LookupBody(map, Pens(map), index, release, copy, &failed);
  if (failed) return 0;
  if (body) {
    PenRecUnpack(body, out);
  } else {
    *out = StyleDefaults()->linePen;
  }
  return 1;
}

int16_t MapBrushLookup(MapFile* map, uint8_t index, BrushStyle* out, int release) {
  uint8_t copy[kMapBrushBodySize];
  bool failed = false;
  const uint8_t* body = LookupBody(map, Brushes(map), index, release, copy, &failed);
  if (failed) return 0;
  if (body) {
    BrushRecUnpack(body, out);
  } else {
    *out = StyleDefaults()->brush;
  }
  return 1;
}

int16_t MapSymbolLookup(MapFile* map, uint8_t index, SymbolStyle* out, int release) {
  uint8_t copy[kMapSymbolBodySize];
  bool failed = false;
  const uint8_t* body = LookupBody(map, Symbols(map), index, release, copy, &failed);
  if (failed) return 0;
  if (!body) {
    SymbolRecPack(&StyleDefaults()->symbol, copy);
    body = copy;
  }
  SymbolRecUnpack(body, out);
  return 1;
}

int16_t MapNameLookup(MapFile* map, uint8_t index, char* out, int release) {
  uint8_t copy[kMapNameBodySize];
  bool failed = false;
  const uint8_t* body = LookupBody(map, Names(map), index, release, copy, &failed);
  if (failed) return 0;
  if (body) {
    std::memcpy(out, body, kMapNameBodySize);
  } else {
    StrCopyPadded(out, kDefaultName, kMapNameBodySize);
  }
  return 1;
}

int16_t MapCustomNameLookup(MapFile* map, uint8_t index, char* out, int release) {
  if (index == 0 || !map->names || index > map->nameCount) return 1;
  return MapNameLookup(map, index, out, release);
}

}  // namespace layerio
