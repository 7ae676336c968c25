// The spatial index of map-object files: node format, insertion with leaf
// and node splits, the removal mark, and walks over the tree.
#include "mapfile/foundation/error.h"
#include "mapfile/objects/mapindex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "mapfile/objects/maprecord.h"
#include "mapfile/objects/maptypes.h"

namespace layerio {

namespace {

// Decides ties of the side test; flips on every tie so that successive ties
// alternate between the sides. Never reset.
int gTieToggle = 0;

// Trees deeper than this are taken for damaged (25 entries a node reach far
// beyond any row count long before).
constexpr uint32_t kMaxDepth = 32;

int16_t Damaged() {
  ErrorPush(kErrorSeverity, kErrMapDamaged, nullptr, nullptr);
  return 0;
}

int16_t RefuseForeignCodes(const MapFile* map) {
  if (map->highestCode <= kMapHighestCode) return 1;
  ErrorPush(kErrorSeverity, kErrMapForeignCodes, nullptr, nullptr);
  return 0;
}

IRect Union(IRect a, const IRect& b) {
  IRectUnion(&a, &b);
  return a;
}

bool SameEntry(const MapIndexEntry& a, const IRect& rect, uint32_t block) {
  return a.child == block && a.rect.x1 == rect.x1 && a.rect.y1 == rect.y1 && a.rect.x2 == rect.x2 &&
         a.rect.y2 == rect.y2;
}

int64_t Mid(int32_t a, int32_t b) { return (static_cast<int64_t>(a) + b) / 2; }

int64_t CentreX(const IRect& r) { return Mid(r.x1, r.x2); }

// The split of a rectangle: on y when it is not wider than high, else on x,
// at the middle of that side.
struct Split {
  bool onY;
  int64_t value;
};

Split SplitOf(const IRect& r) {
  int64_t width = static_cast<int64_t>(r.x2) - r.x1;
  int64_t height = static_cast<int64_t>(r.y2) - r.y1;
  if (width <= height) return {true, Mid(r.y1, r.y2)};
  return {false, Mid(r.x1, r.x2)};
}

// 0 the lower side, 1 the upper.
int SideOf(const Split& split, const IRect& r) {
  int64_t centre = split.onY ? Mid(r.y1, r.y2) : Mid(r.x1, r.x2);
  if (centre < split.value) return 0;
  if (centre > split.value) return 1;
  int side = gTieToggle;
  gTieToggle ^= 1;
  return side;
}

double Area(const IRect& r) {
  return (static_cast<double>(r.x2) - r.x1) * (static_cast<double>(r.y2) - r.y1);
}

// The length of the record at the start of rec, 0 when its code is unknown.
int RecordLength(const MapFile* map, int code) {
  if (code >= 1 && code <= kMapCodeMax) return MapCodeLength(code);
  return MapTypeEntry(map, code) & kMapCodeLengthMask;
}

bool IsLive(int code, uint32_t word) { return code <= kMapCodeMax && !(word & kMapRowRemoved); }

// Checks an object block's head; the end of its records in end.
int16_t LeafHead(const MapFile* map, const uint8_t* block, MapObjectBlockHead* head,
                 uint32_t* end) {
  MapObjectBlockHeadRead(block, head);
  if (head->kind != kMapBlockObject) return Damaged();
  *end = kMapObjectBlockHead + static_cast<uint32_t>(head->used);
  if (*end > static_cast<uint32_t>(map->blockSize)) return Damaged();
  return 1;
}

// Calls visit(offset, code, length, word, head) for every record of an
// object block, checking that each lies inside the records in use. A visit
// answer of 0 (failure) or below (stop) ends the loop with that answer.
template <typename Visit>
int16_t ForEachRecord(const MapFile* map, const uint8_t* block, Visit visit) {
  MapObjectBlockHead head;
  uint32_t end;
  if (!LeafHead(map, block, &head, &end)) return 0;
  uint32_t off = kMapObjectBlockHead;
  while (off < end) {
    int code = block[off];
    int length = RecordLength(map, code);
    if (length < 5 || off + static_cast<uint32_t>(length) > end) return Damaged();
    uint32_t word = QLoadU32LE(block + off + 1);
    int16_t r = visit(off, code, length, word, head);
    if (r <= 0) return r;
    off += static_cast<uint32_t>(length);
  }
  return 1;
}

// Appends an object to the object block held in slot (unwritten: the caller
// writes the block). fits is 0, with nothing changed, when the record does
// not fit. flags are the encoder's: style use counts are raised for a new
// object, not for one that only moves.
int16_t Append(MapFile* map, MapIndexCursor* cursor, MapBlockSlot* slot, uint32_t blockPosition,
               GeomObject* object, int flags, uint32_t* position, int* fits) {
  MapObjectBlockHead head;
  uint32_t end;
  if (!LeafHead(map, slot->bytes, &head, &end)) return 0;
  int code = MapObjCodeFor(object, 1, &head.base, map->extension == 0);
  int length = MapCodeLength(code);
  if (length <= 0 || static_cast<size_t>(length) > cursor->recordSize) return Damaged();
  *fits = end + static_cast<uint32_t>(length) <= static_cast<uint32_t>(map->blockSize);
  if (!*fits) return 1;
  uint32_t start = 0;
  if (MapCodeHasData(code) &&
      !MapObjectDataWrite(map, object, code, cursor->coord2, slot, &start)) {
    return 0;
  }
  if (!MapObjectEncode(map, object, code, cursor->record, &head.base, start, flags)) return 0;
  std::memcpy(slot->bytes + end, cursor->record, static_cast<size_t>(length));
  MapObjectBlockHeadRead(slot->bytes, &head);  // the data write moved its chain fields
  head.used = static_cast<uint16_t>(head.used + length);
  MapObjectBlockHeadWrite(slot->bytes, &head);
  *position = blockPosition + end;
  return 1;
}

// The two entries a split hands up; second.child is 0 when there is one.
struct Change {
  MapIndexEntry first;
  MapIndexEntry second;
};

IPoint SideBase(const IRect& r, const Split& split, int side) {
  int32_t xmid = static_cast<int32_t>(Mid(r.x1, r.x2));
  int32_t ymid = static_cast<int32_t>(Mid(r.y1, r.y2));
  if (split.onY) return {xmid, static_cast<int32_t>(Mid(ymid, side ? r.y2 : r.y1))};
  return {static_cast<int32_t>(Mid(xmid, side ? r.x2 : r.x1)), ymid};
}

// Frees a coordinate chain block by block.
int16_t FreeChain(MapFile* map, MapBlockSlot* slot, uint32_t first) {
  uint32_t position = first;
  uint32_t guard = 0;
  while (position) {
    if (!MapBlockRead(map, slot, position)) return 0;
    if (QLoadU16LE(slot->bytes) != kMapBlockCoord) return Damaged();
    uint32_t next = QLoadU32LE(slot->bytes + 4);
    if (!MapBlockFree(map, position)) return 0;
    position = next;
    if (++guard > (1u << 26)) return Damaged();  // a chain that loops
  }
  return 1;
}

// Splits the full leaf at the end of the path: the new object goes to a new
// block on its side of the split, the live records of the old leaf follow
// their sides (the old position is reused for the other side), removed ones
// are dropped.
int16_t SplitLeaf(MapIndexCursor* cursor, MapFile* map, GeomObject* object, int32_t row,
                  RowPositionWriteFn writer, IdFileAccess* handle, Change* change) {
  const MapIndexPathEntry& leaf = cursor->path[cursor->level];
  const uint32_t oldPosition = leaf.block;
  std::memcpy(cursor->leafCopy, cursor->object->bytes, static_cast<size_t>(map->blockSize));
  MapObjectBlockHead oldHead;
  uint32_t oldEnd;
  if (!LeafHead(map, cursor->leafCopy, &oldHead, &oldEnd)) return 0;

  IRect whole = Union(leaf.rect, object->bounds);
  Split split = SplitOf(whole);
  int newSide = SideOf(split, object->bounds);
  IPoint bases[2] = {SideBase(whole, split, 0), SideBase(whole, split, 1)};

  uint32_t newPosition = 0;
  if (!MapBlockAlloc(map, &newPosition)) return 0;
  MapObjectBlockInit(map, cursor->object, &bases[newSide]);
  uint32_t position = 0;
  int fits = 0;
  if (!Append(map, cursor, cursor->object, newPosition, object, kMapEncodeCountUse, &position,
              &fits)) {
    return 0;
  }
  if (!fits) return Damaged();
  if (!writer(row, position, handle)) return 0;
  IRect rects[2];
  int counts[2] = {0, 0};
  rects[newSide] = object->bounds;
  counts[newSide] = 1;

  // slots[side]: the block of each side; the other side is built after the
  // new one, at the old position, once every record has been looked at.
  MapBlockSlot* slots[2];
  uint32_t positions[2];
  slots[newSide] = cursor->object;
  positions[newSide] = newPosition;
  slots[1 - newSide] = cursor->object2;
  positions[1 - newSide] = oldPosition;
  // Ready before the first record: one that overflows the new block goes
  // there at once.
  MapObjectBlockInit(map, cursor->object2, &bases[1 - newSide]);

  GeomObject* moving = cursor->moving;
  auto load = [&](uint32_t off, int code) -> int16_t {
    uint32_t dataStart = 0;
    const uint8_t* rec = cursor->leafCopy + off;
    if (!MapObjectDecode(map, rec, moving, &dataStart, &oldHead.base, 0)) return 0;
    if (MapCodeHasData(code) && !MapObjectDataRead(map, cursor->coord, moving, code, rec)) {
      return 0;
    }
    return 1;
  };
  auto place = [&](int side, uint32_t word) -> int16_t {
    // Its own side first, then the other; neither fails the split.
    for (int attempt = 0; attempt < 2; ++attempt) {
      int s = attempt ? 1 - side : side;
      uint32_t at = 0;
      int ok = 0;
      if (!Append(map, cursor, slots[s], positions[s], moving, 0, &at, &ok)) return 0;
      if (!ok) continue;
      if (!writer(static_cast<int32_t>(word & kMapRowMask), at, handle)) return 0;
      rects[s] = counts[s] ? Union(rects[s], moving->bounds) : moving->bounds;
      ++counts[s];
      return 1;
    }
    return Damaged();
  };

  std::vector<uint32_t> remembered;
  int16_t ok = ForEachRecord(
      map, cursor->leafCopy,
      [&](uint32_t off, int code, int, uint32_t word, const MapObjectBlockHead&) -> int16_t {
        if (!IsLive(code, word)) return 1;
        if (!load(off, code)) return 0;
        if (SideOf(split, moving->bounds) != newSide) {
          remembered.push_back(off);
          return 1;
        }
        return place(newSide, word);
      });
  if (!ok) return 0;

  for (uint32_t off : remembered) {
    int code = cursor->leafCopy[off];
    uint32_t word = QLoadU32LE(cursor->leafCopy + off + 1);
    if (!load(off, code) || !place(1 - newSide, word)) return 0;
  }

  if (!MapBlockWrite(map, cursor->object, newPosition)) return 0;
  if (!FreeChain(map, cursor->coord, oldHead.firstCoord)) return 0;
  const int other = 1 - newSide;
  if (counts[other]) {
    if (!MapBlockWrite(map, cursor->object2, oldPosition)) return 0;
    change->first = {rects[other], oldPosition};
    change->second = {rects[newSide], newPosition};
  } else {
    if (!MapBlockFree(map, oldPosition)) return 0;
    change->first = {rects[newSide], newPosition};
    change->second = {{0, 0, 0, 0}, 0};
  }
  return 1;
}

// Deals the entries of a full node and a new one to two nodes by the side
// test on the split of the node's rectangle; each side keeps at least two.
void SplitNode(const MapIndexNode* full, const MapIndexEntry& added, const IRect& nodeRect,
               MapIndexNode* low, MapIndexNode* high) {
  IRect whole = Union(nodeRect, added.rect);
  Split split = SplitOf(whole);
  low->count = high->count = 0;
  MapIndexNode* sides[2] = {low, high};
  MapIndexNodeInsert(sides[SideOf(split, added.rect)], &added);
  const int n = full->count;
  for (int i = 0; i < n; ++i) {
    const int left = n - i;
    const int needLow = std::max(0, 2 - static_cast<int>(low->count));
    const int needHigh = std::max(0, 2 - static_cast<int>(high->count));
    int side;
    if (needLow && left <= needLow + needHigh) {
      side = 0;
    } else if (needHigh && left <= needLow + needHigh) {
      side = 1;
    } else {
      side = SideOf(split, full->entries[i].rect);
    }
    MapIndexNodeInsert(sides[side], &full->entries[i]);
  }
}

IRect NodeRect(const MapIndexNode* node) {
  IRect r = node->entries[0].rect;
  for (int i = 1; i < node->count; ++i) IRectUnion(&r, &node->entries[i].rect);
  return r;
}

int16_t WriteNode(MapFile* map, MapIndexCursor* cursor, const MapIndexNode* node,
                  uint32_t position) {
  MapIndexNodeWrite(map, node, cursor->nodeSlot->bytes);
  return MapBlockWrite(map, cursor->nodeSlot, position);
}

// Carries a changed entry (and the second of a split) from the level above
// the leaf to the root; a split root makes the tree one level deeper.
int16_t Propagate(MapIndexCursor* cursor, MapFile* map, Change change) {
  const int cap = MapIndexNodeCapacity(map);
  for (int lvl = cursor->level - 1; lvl >= 0; --lvl) {
    const MapIndexPathEntry& child = cursor->path[lvl + 1];
    if (!change.second.child && SameEntry(change.first, child.rect, child.block)) return 1;
    MapIndexPathEntry& here = cursor->path[lvl];
    if (!MapBlockRead(map, cursor->nodeSlot, here.block)) return 0;
    MapIndexNode* node = cursor->node;
    if (!MapIndexNodeRead(map, cursor->nodeSlot->bytes, node)) return 0;
    if (here.entry >= node->count || node->entries[here.entry].child != child.block) {
      return Damaged();
    }
    std::memmove(&node->entries[here.entry], &node->entries[here.entry + 1],
                 (node->count - here.entry - 1) * sizeof(MapIndexEntry));
    --node->count;
    MapIndexNodeInsert(node, &change.first);
    if (!change.second.child) {
      if (!WriteNode(map, cursor, node, here.block)) return 0;
      change.first = {Union(here.rect, change.first.rect), here.block};
      continue;
    }
    if (node->count < cap) {
      MapIndexNodeInsert(node, &change.second);
      if (!WriteNode(map, cursor, node, here.block)) return 0;
      IRect r = Union(Union(here.rect, change.first.rect), change.second.rect);
      change.first = {r, here.block};
      change.second = {{0, 0, 0, 0}, 0};
      continue;
    }
    MapIndexNode* high = cursor->node2;
    MapIndexNode* low = &cursor->node[1];  // the node pair holds room for both halves
    SplitNode(node, change.second, Union(here.rect, change.first.rect), low, high);
    uint32_t newBlock = 0;
    if (!MapBlockAlloc(map, &newBlock)) return 0;
    if (!WriteNode(map, cursor, low, here.block) || !WriteNode(map, cursor, high, newBlock)) {
      return 0;
    }
    change.first = {NodeRect(low), here.block};
    change.second = {NodeRect(high), newBlock};
  }
  if (!change.second.child) {
    map->root = change.first.rect;
    map->rootBlock = change.first.child;
    return 1;
  }
  if (map->indexDepth >= 255) return Damaged();
  uint32_t rootBlock = 0;
  if (!MapBlockAlloc(map, &rootBlock)) return 0;
  MapIndexNode* root = cursor->node;
  root->count = 0;
  MapIndexNodeInsert(root, &change.first);
  MapIndexNodeInsert(root, &change.second);
  if (!WriteNode(map, cursor, root, rootBlock)) return 0;
  map->rootBlock = rootBlock;
  map->root = Union(change.first.rect, change.second.rect);
  ++map->indexDepth;
  return 1;
}

int16_t GrowPath(MapIndexCursor* cursor, int32_t levels) {
  if (levels <= cursor->capacity) return 1;
  void* p = cursor->path;
  if (!MemReallocChecked(static_cast<size_t>(levels) * sizeof(MapIndexPathEntry), nullptr, &p)) {
    return 0;
  }
  cursor->path = static_cast<MapIndexPathEntry*>(p);
  cursor->capacity = levels;
  return 1;
}

int16_t GrowRecord(MapIndexCursor* cursor, size_t size) {
  // Room for the longest fixed record whatever the caller asks.
  size = std::max<size_t>(size, 128);
  if (size <= cursor->recordSize) return 1;
  if (size > kMapIndexRecordLimit) {
    ErrorPush(kErrorSeverity, kErrResizeFailed, nullptr, nullptr);
    return 0;
  }
  void* p = cursor->record;
  if (!MemReallocChecked(size, nullptr, &p)) return 0;
  cursor->record = static_cast<uint8_t*>(p);
  cursor->recordSize = size;
  return 1;
}

}  // namespace

int MapIndexTieToggle() { return gTieToggle; }

int MapIndexNodeCapacity(const MapFile* map) {
  return (map->blockSize - kMapIndexNodeHead) / kMapIndexEntrySize;
}

int16_t MapIndexNodeRead(const MapFile* map, const uint8_t* block, MapIndexNode* node) {
  if (QLoadU16LE(block) != kMapBlockIndex) return Damaged();
  int count = QLoadU16LE(block + 2);
  if (count < 1 || count > MapIndexNodeCapacity(map)) return Damaged();
  node->count = static_cast<uint16_t>(count);
  const uint8_t* p = block + kMapIndexNodeHead;
  for (int i = 0; i < count; ++i, p += kMapIndexEntrySize) {
    MapIndexEntry& e = node->entries[i];
    e.rect = {QLoadI32LE(p), QLoadI32LE(p + 4), QLoadI32LE(p + 8), QLoadI32LE(p + 12)};
    e.child = QLoadU32LE(p + 16);
    if (!e.child || e.rect.x1 > e.rect.x2 || e.rect.y1 > e.rect.y2) return Damaged();
  }
  return 1;
}

void MapIndexNodeWrite(const MapFile* map, const MapIndexNode* node, uint8_t* block) {
  std::memset(block, 0, static_cast<size_t>(map->blockSize));
  QStoreU16LE(block, kMapBlockIndex);
  QStoreU16LE(block + 2, node->count);
  uint8_t* p = block + kMapIndexNodeHead;
  for (int i = 0; i < node->count; ++i, p += kMapIndexEntrySize) {
    const MapIndexEntry& e = node->entries[i];
    QStoreI32LE(p, e.rect.x1);
    QStoreI32LE(p + 4, e.rect.y1);
    QStoreI32LE(p + 8, e.rect.x2);
    QStoreI32LE(p + 12, e.rect.y2);
    QStoreU32LE(p + 16, e.child);
  }
}

void MapIndexNodeInsert(MapIndexNode* node, const MapIndexEntry* entry) {
  int64_t cx = CentreX(entry->rect);
  int at = 0;
  while (at < node->count && CentreX(node->entries[at].rect) > cx) ++at;
  std::memmove(&node->entries[at + 1], &node->entries[at],
               (node->count - at) * sizeof(MapIndexEntry));
  node->entries[at] = *entry;
  ++node->count;
}

int16_t MapIndexCursorOpen(MapIndexCursor* cursor, MapFile* map, size_t recordSize) {
  std::memset(cursor, 0, sizeof *cursor);
  const size_t block = static_cast<size_t>(map->blockSize);
  void* leaf = nullptr;
  void* nodes = nullptr;
  void* node2 = nullptr;
  bool ok = MapBlockSlotAlloc(map, &cursor->object) && MapBlockSlotAlloc(map, &cursor->object2) &&
            MapBlockSlotAlloc(map, &cursor->coord) && MapBlockSlotAlloc(map, &cursor->coord2) &&
            MapBlockSlotAlloc(map, &cursor->nodeSlot) &&
            GrowPath(cursor, std::max<int32_t>(map->indexDepth, 1)) &&
            GrowRecord(cursor, recordSize) && MemAllocZero(block, nullptr, &leaf) &&
            MemAllocZero(2 * sizeof(MapIndexNode), nullptr, &nodes) &&
            MemAllocZero(sizeof(MapIndexNode), nullptr, &node2) &&
            GeomObjectAlloc(&cursor->movingHandle, &cursor->moving, kGeomPoint, 0);
  cursor->leafCopy = static_cast<uint8_t*>(leaf);
  cursor->node = static_cast<MapIndexNode*>(nodes);
  cursor->node2 = static_cast<MapIndexNode*>(node2);
  if (!ok) {
    MapIndexCursorClose(cursor, map);
    return 0;
  }
  return 1;
}

void MapIndexCursorClose(MapIndexCursor* cursor, MapFile* map) {
  MapBlockSlotFree(map, &cursor->object);
  MapBlockSlotFree(map, &cursor->object2);
  MapBlockSlotFree(map, &cursor->coord);
  MapBlockSlotFree(map, &cursor->coord2);
  MapBlockSlotFree(map, &cursor->nodeSlot);
  MemFreePtr(&cursor->path);
  MemFreePtr(&cursor->record);
  MemFreePtr(&cursor->leafCopy);
  MemFreePtr(&cursor->node);
  MemFreePtr(&cursor->node2);
  if (cursor->movingHandle) GeomObjectDestroy(cursor->movingHandle);
  std::memset(cursor, 0, sizeof *cursor);
}

int16_t MapIndexInsert(MapIndexCursor* cursor, MapFile* map, GeomObject* object, int32_t row,
                       size_t recordSize, RowPositionWriteFn writer, IdFileAccess* handle) {
  if (!RefuseForeignCodes(map)) return 0;
  if (row < 1 || static_cast<uint32_t>(row) > kMapRowMask) return Damaged();
  if (map->indexDepth > kMaxDepth) return Damaged();
  if (!GrowRecord(cursor, recordSize) || !GrowPath(cursor, std::max<int32_t>(map->indexDepth, 1))) {
    return 0;
  }
  object->row = static_cast<uint32_t>(row);
  const IRect& bounds = object->bounds;

  cursor->level = 0;
  if (map->indexDepth == 0) {
    if (map->rootBlock) return Damaged();
    uint32_t position = 0;
    if (!MapBlockAlloc(map, &position)) return 0;
    IPoint base;
    IRectCenter(&bounds, &base);
    MapObjectBlockInit(map, cursor->object, &base);
    map->rootBlock = position;
    map->root = bounds;
    map->indexDepth = 1;
    cursor->path[0] = {bounds, position, 0};
  } else {
    if (!map->rootBlock) return Damaged();
    cursor->path[0] = {map->root, map->rootBlock, 0};
    // Down the entries of least growth, the larger area among equal ones.
    for (int lvl = 0; lvl + 1 < map->indexDepth; ++lvl) {
      if (!MapBlockRead(map, cursor->nodeSlot, cursor->path[lvl].block)) return 0;
      MapIndexNode* node = cursor->node;
      if (!MapIndexNodeRead(map, cursor->nodeSlot->bytes, node)) return 0;
      int best = 0;
      double bestGrowth = 0;
      double bestArea = 0;
      for (int i = 0; i < node->count; ++i) {
        double area = Area(node->entries[i].rect);
        double growth = Area(Union(node->entries[i].rect, bounds)) - area;
        if (i == 0 || growth < bestGrowth || (growth == bestGrowth && area > bestArea)) {
          best = i;
          bestGrowth = growth;
          bestArea = area;
        }
      }
      cursor->path[lvl].entry = static_cast<uint32_t>(best);
      cursor->path[lvl + 1] = {node->entries[best].rect, node->entries[best].child, 0};
      cursor->level = lvl + 1;
    }
    if (!MapBlockRead(map, cursor->object, cursor->path[cursor->level].block)) return 0;
  }

  const MapIndexPathEntry& leaf = cursor->path[cursor->level];
  uint32_t position = 0;
  int fits = 0;
  if (!Append(map, cursor, cursor->object, leaf.block, object, kMapEncodeCountUse, &position,
              &fits)) {
    return 0;
  }
  Change change;
  if (fits) {
    if (!MapBlockWrite(map, cursor->object, leaf.block)) return 0;
    if (!writer(row, position, handle)) return 0;
    change.first = {Union(leaf.rect, bounds), leaf.block};
    change.second = {{0, 0, 0, 0}, 0};
  } else if (!SplitLeaf(cursor, map, object, row, writer, handle, &change)) {
    return 0;
  }
  return Propagate(cursor, map, change);
}

void MapObjectCountsAdd(MapObjectCounts* counts, const GeomObject* object) {
  switch (object->kind) {
    case kGeomPoint:
    case kGeomMultipoint:
      ++counts->points;
      break;
    case kGeomLine:
    case kGeomArc:
    case kGeomPolyline:
      ++counts->lines;
      break;
    case kGeomRegion:
    case kGeomRect:
    case kGeomRoundRect:
    case kGeomEllipse:
      ++counts->regions;
      break;
    case kGeomCollection:
      if (GeomCollectionHasRegion(object)) ++counts->regions;
      if (GeomCollectionHasPolyline(object)) ++counts->lines;
      if (GeomCollectionHasMultipoint(object)) ++counts->points;
      break;
    default:
      ++counts->others;
      break;
  }
}

namespace {

// The block and offset of a record position, with the record checked to lie
// inside the block's records in use.
int16_t LocateRecord(MapFile* map, MapBlockSlot* slot, uint32_t position, uint32_t* offset,
                     int* code) {
  const uint32_t size = static_cast<uint32_t>(map->blockSize);
  const uint32_t block = position - position % size;
  *offset = position - block;
  if (!block || !MapBlockRead(map, slot, block)) return block ? 0 : Damaged();
  MapObjectBlockHead head;
  uint32_t end;
  if (!LeafHead(map, slot->bytes, &head, &end)) return 0;
  if (*offset < kMapObjectBlockHead || *offset + 5 > end) return Damaged();
  *code = slot->bytes[*offset];
  int length = RecordLength(map, *code);
  if (length < 5 || *offset + static_cast<uint32_t>(length) > end) return Damaged();
  return 1;
}

}  // namespace

int16_t MapRecordRemove(MapFile* map, MapBlockSlot* slot, uint32_t position, int32_t row, int* kind,
                        MapObjectCounts* counts) {
  if (!RefuseForeignCodes(map)) return 0;
  uint32_t offset = 0;
  int code = 0;
  if (!LocateRecord(map, slot, position, &offset, &code)) return 0;
  uint8_t* rec = slot->bytes + offset;
  if (code > kMapCodeMax || QLoadU32LE(rec + 1) != static_cast<uint32_t>(row)) return Damaged();
  // Marked before the styles are released: should the write fail, no style
  // has lost a use that its record still holds.
  uint8_t record[128];
  std::memcpy(record, rec, static_cast<size_t>(MapCodeLength(code)));
  MapObjectBlockHead head;
  MapObjectBlockHeadRead(slot->bytes, &head);
  QStoreU32LE(rec + 1, static_cast<uint32_t>(row) | kMapRowRemoved);
  if (!MapBlockWrite(map, slot, position - offset)) return 0;

  MemHandle handle = nullptr;
  GeomObject* object = nullptr;
  if (!GeomObjectAlloc(&handle, &object, kGeomPoint, 0)) return 0;
  uint32_t dataStart = 0;
  int16_t ok =
      static_cast<int16_t>(MapObjectDecode(map, record, object, &dataStart, &head.base, 1));
  if (ok && MapObjCodeKind(code) == kGeomCollection) {
    MapBlockSlot* coord = nullptr;
    ok = static_cast<int16_t>(MapBlockSlotAlloc(map, &coord) &&
                              MapObjectDataRead(map, coord, object, code, record));
    MapBlockSlotFree(map, &coord);
  }
  if (kind) *kind = object->kind;
  if (counts) MapObjectCountsAdd(counts, object);
  GeomObjectDestroy(handle);
  return ok;
}

int16_t MapRecordRemoveByRow(MapIndexCursor* cursor, MapFile* map, int32_t row,
                             RowPositionReadFn reader, IdFileAccess* handle, int* found, int* kind,
                             MapObjectCounts* counts) {
  *found = 0;
  if (!RefuseForeignCodes(map)) return 0;
  uint32_t position = 0;
  if (!reader(row, &position, handle) || !position) return 1;
  *found = 1;
  return MapRecordRemove(map, cursor->object, position, row, kind, counts);
}

int16_t MapIndexReplace(MapIndexCursor* cursor, MapFile* map, GeomObject* object, int32_t row,
                        size_t recordSize, RowPositionWriteFn writer, RowPositionReadFn reader,
                        IdFileAccess* handle) {
  int found = 0;
  if (!MapRecordRemoveByRow(cursor, map, row, reader, handle, &found, nullptr, nullptr)) {
    return 0;
  }
  return MapIndexInsert(cursor, map, object, row, recordSize, writer, handle);
}

int16_t MapRecordMark(MapFile* map, uint32_t position, uint32_t mark) {
  MapBlockSlot* slot = nullptr;
  if (!MapBlockSlotAlloc(map, &slot)) return 0;
  uint32_t offset = 0;
  int code = 0;
  int16_t ok = LocateRecord(map, slot, position, &offset, &code);
  if (ok) {
    uint8_t* rec = slot->bytes + offset;
    uint32_t word = (QLoadU32LE(rec + 1) & kMapRowMask) | (mark & ~kMapRowMask);
    QStoreU32LE(rec + 1, word);
    ok = MapBlockWrite(map, slot, position - offset);
  }
  MapBlockSlotFree(map, &slot);
  return ok;
}

// ===== Walking the tree =====================================================

namespace {

// Depth-first walk over the tree; leaf(level rects, block position, bytes)
// sees each object block. Nodes are decoded per level so that one slot
// serves the whole walk.
struct Walker {
  explicit Walker(MapFile* m) : map(m) {}
  MapFile* map;
  MapBlockSlot* slot = nullptr;
  std::vector<MapIndexNode> nodes;
  std::vector<IRect> rects;           // the rectangles above the current block
  std::unordered_set<uint32_t> seen;  // blocks met so far (checks only)
  bool checkSeen = false;
  char* message = nullptr;
  uint32_t nodeCount = 0;
  uint32_t leafCount = 0;

  int16_t Fail(const char* text, uint32_t position) {
    if (!message) return Damaged();
    if (!message[0]) {
      std::snprintf(message, sizeof(MapIndexCheckResult::message), "%s (block %u)", text, position);
    }
    return 0;
  }

  template <typename Enter, typename Leaf>
  int16_t Walk(uint32_t level, uint32_t position, Enter enter, Leaf leaf) {
    if (checkSeen) {
      if (!seen.insert(position).second) return Fail("a block is reached twice", position);
    }
    if (!MapBlockRead(map, slot, position)) return Fail("a block cannot be read", position);
    const uint16_t kind = QLoadU16LE(slot->bytes);
    if (level + 1 == map->indexDepth) {
      if (kind != kMapBlockObject) return Fail("a leaf is not an object block", position);
      ++leafCount;
      return leaf(position, slot->bytes);
    }
    if (kind != kMapBlockIndex) return Fail("a block above the leaves is not a node", position);
    MapIndexNode& node = nodes[level];
    if (!MapIndexNodeRead(map, slot->bytes, &node)) return Fail("a node is damaged", position);
    ++nodeCount;
    for (int i = 0; i < node.count; ++i) {
      if (!enter(node.entries[i].rect)) continue;
      rects.push_back(node.entries[i].rect);
      int16_t ok = Walk(level + 1, node.entries[i].child, enter, leaf);
      rects.pop_back();
      if (ok <= 0) return ok;
    }
    return 1;
  }
};

}  // namespace

int16_t MapIndexSearch(MapFile* map, const IRect* rect, MapIndexVisitFn visit, void* context) {
  if (map->indexDepth == 0) return 1;
  if (map->indexDepth > kMaxDepth || !map->rootBlock) return Damaged();
  Walker walker(map);
  MemHandle handle = nullptr;
  GeomObject* object = nullptr;
  if (!MapBlockSlotAlloc(map, &walker.slot)) return 0;
  if (!GeomObjectAlloc(&handle, &object, kGeomPoint, 0)) {
    MapBlockSlotFree(map, &walker.slot);
    return 0;
  }
  walker.nodes.resize(map->indexDepth);
  bool stopped = false;
  auto enter = [&](const IRect& r) { return IRectsOverlap(&r, rect) != 0; };
  auto leaf = [&](uint32_t position, const uint8_t* bytes) -> int16_t {
    return ForEachRecord(
        map, bytes,
        [&](uint32_t off, int code, int, uint32_t word, const MapObjectBlockHead& head) -> int16_t {
          if (!IsLive(code, word)) return 1;
          uint32_t dataStart = 0;
          if (!MapObjectDecode(map, bytes + off, object, &dataStart, &head.base, 0)) {
            return 0;
          }
          if (!IRectsOverlap(&object->bounds, rect)) return 1;
          if (!visit(context, static_cast<int32_t>(word & kMapRowMask), position + off,
                     &object->bounds)) {
            stopped = true;
            return -1;  // stops the walk without failing it
          }
          return 1;
        });
  };
  int16_t ok = 1;
  if (IRectsOverlap(&map->root, rect)) ok = walker.Walk(0, map->rootBlock, enter, leaf);
  GeomObjectDestroy(handle);
  MapBlockSlotFree(map, &walker.slot);
  return stopped ? 1 : ok;
}

int16_t MapIndexCheck(MapFile* map, RowPositionReadFn reader, IdFileAccess* handle, int32_t lastRow,
                      MapIndexCheckResult* result) {
  std::memset(result, 0, sizeof *result);
  result->depth = map->indexDepth;
  auto fail = [&](const char* text) {
    if (!result->message[0]) std::snprintf(result->message, sizeof result->message, "%s", text);
    return static_cast<int16_t>(0);
  };
  std::vector<int32_t> rows;
  if (map->indexDepth == 0) {
    if (map->rootBlock) return fail("an empty index has a root block");
  } else {
    if (map->indexDepth > kMaxDepth) return fail("the index is deeper than any tree can grow");
    if (!map->rootBlock) return fail("the index has no root block");
    Walker walker(map);
    walker.checkSeen = true;
    walker.message = result->message;
    MemHandle objectHandle = nullptr;
    GeomObject* object = nullptr;
    if (!MapBlockSlotAlloc(map, &walker.slot)) return fail("out of memory");
    if (!GeomObjectAlloc(&objectHandle, &object, kGeomPoint, 0)) {
      MapBlockSlotFree(map, &walker.slot);
      return fail("out of memory");
    }
    walker.nodes.resize(map->indexDepth);
    walker.rects.push_back(map->root);
    auto enter = [](const IRect&) { return true; };
    auto leaf = [&](uint32_t block, const uint8_t* bytes) -> int16_t {
      int16_t ok = ForEachRecord(
          map, bytes,
          [&](uint32_t off, int code, int, uint32_t word,
              const MapObjectBlockHead& head) -> int16_t {
            const uint32_t position = block + off;
            if (!IsLive(code, word)) {
              ++result->removed;
              return 1;
            }
            ++result->live;
            uint32_t dataStart = 0;
            if (!MapObjectDecode(map, bytes + off, object, &dataStart, &head.base, 0)) {
              return walker.Fail("a record cannot be decoded", block);
            }
            for (const IRect& r : walker.rects) {
              if (!IRectInside(&object->bounds, &r)) {
                return walker.Fail("a record lies outside a rectangle above it", block);
              }
            }
            const int32_t row = static_cast<int32_t>(word & kMapRowMask);
            uint32_t idPosition = 0;
            if (row < 1 || !reader(row, &idPosition, handle) || idPosition != position) {
              return walker.Fail("a live record is not the one its row's .ID entry names", block);
            }
            rows.push_back(row);
            return 1;
          });
      if (!ok && !result->message[0]) walker.Fail("an object block is damaged", block);
      return ok;
    };
    int16_t ok = walker.Walk(0, map->rootBlock, enter, leaf);
    result->nodes = walker.nodeCount;
    result->leaves = walker.leafCount;
    GeomObjectDestroy(objectHandle);
    MapBlockSlotFree(map, &walker.slot);
    if (!ok) return fail("the index is damaged");
  }
  std::sort(rows.begin(), rows.end());
  if (std::adjacent_find(rows.begin(), rows.end()) != rows.end()) {
    return fail("a row has two live records");
  }
  for (int32_t row = 1; row <= lastRow; ++row) {
    uint32_t position = 0;
    if (reader(row, &position, handle) && position &&
        !std::binary_search(rows.begin(), rows.end(), row)) {
      std::snprintf(result->message, sizeof result->message,
                    "row %d has an .ID entry but no live record in the tree", row);
      return 0;
    }
  }
  return 1;
}

}  // namespace layerio
