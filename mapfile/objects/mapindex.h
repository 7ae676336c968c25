// The spatial index of a map-object file: a tree whose inner nodes hold
// child rectangles and whose leaves are the object blocks themselves.
//
// Index node (block kind 1), little-endian:
//   0   u16  kind 1
//   2   u16  number of entries, 1..(block size - 4) / 20 (25 with 512 bytes)
//   4   20 bytes per entry: i32 x1, y1, x2, y2 (the child's rectangle),
//       u32 child block position
// Entries are ordered by the x of their rectangle's centre, largest first; a
// new entry goes before the first entry whose centre x is not greater.
//
// The header keeps the root block, the root rectangle (everything indexed)
// and the depth: 0 with no objects (root 0), 1 when the root is an object
// block, n when n - 1 levels of nodes lie above the object blocks. Every
// entry's rectangle covers all that lies below it; rectangles never shrink.
//
// Records are found again by row through the .ID file, not by searching the
// tree. A removed record keeps its place with bit 30 of its row word set
// until its leaf next splits, when it is dropped.
//
// A map whose highest type code exceeds 72 may hold records of codes the
// library cannot re-encode; a leaf split would drop them. Insert, replace and
// delete refuse such a map with kErrMapForeignCodes; reading stays allowed.
//
// Contract: 1 on success, 0 on failure. A block or record whose bytes
// contradict the tree (wrong kind, a count beyond the block, a record beyond
// the bytes in use, a child outside the file) pushes kErrMapDamaged. A failed
// insert leaves the blocks written so far as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapfile/foundation/rect.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"

namespace layerio {

inline constexpr int kMapIndexNodeHead = 4;
inline constexpr int kMapIndexEntrySize = 20;
// Entries of a node with the largest block size a file may declare.
inline constexpr int kMapIndexMaxEntries =
    (kMapBlockSizeMax - kMapIndexNodeHead) / kMapIndexEntrySize;
// Record buffers never grow beyond this.
inline constexpr size_t kMapIndexRecordLimit = 1073741823;

// Insert, replace or delete on a map whose type table knows codes above 72.
inline constexpr int16_t kErrMapForeignCodes = 1341;

struct MapIndexEntry {
  IRect rect;
  uint32_t child;
};

struct MapIndexNode {
  uint16_t count;
  MapIndexEntry entries[kMapIndexMaxEntries];
};

// The entries a node of this map holds at most.
int MapIndexNodeCapacity(const MapFile* map);
// Decodes a node block: kind 1 and 1..capacity entries, else kErrMapDamaged.
int16_t MapIndexNodeRead(const MapFile* map, const uint8_t* block, MapIndexNode* node);
// Encodes a node into a whole block (the rest zeroed); count within capacity.
void MapIndexNodeWrite(const MapFile* map, const MapIndexNode* node, uint8_t* block);
// Puts an entry in centre-x order (largest first); the node has room.
void MapIndexNodeInsert(MapIndexNode* node, const MapIndexEntry* entry);

// One level of the path from the root to a leaf: the node's (or leaf's)
// rectangle as its parent records it, its block, and the entry chosen in it.
struct MapIndexPathEntry {
  IRect rect;
  uint32_t block;
  uint32_t entry;
};
static_assert(sizeof(MapIndexPathEntry) == 24);

// One per insert, replace or removal run; it owns its block slots, the path
// stack and the buffers, so that a row loop allocates them once.
struct MapIndexCursor {
  MapBlockSlot* object;    // the leaf, and the new block of a split
  MapBlockSlot* object2;   // the other side of a split
  MapBlockSlot* coord;     // coordinate blocks read
  MapBlockSlot* coord2;    // coordinate blocks written
  MapBlockSlot* nodeSlot;  // index nodes
  MapIndexPathEntry* path;
  int32_t level;     // current level of the path
  int32_t capacity;  // levels the path holds (the map's depth, at least 1)
  uint8_t* record;   // record buffer
  size_t recordSize;
  uint8_t* leafCopy;   // the old leaf's bytes during a split (one block)
  MapIndexNode* node;  // the node being changed, and the new one of a split
  MapIndexNode* node2;
  // The object of a record that moves between blocks; a collection's parts
  // hang off it.
  MemHandle movingHandle;
  GeomObject* moving;
};

int16_t MapIndexCursorOpen(MapIndexCursor* cursor, MapFile* map, size_t recordSize);
void MapIndexCursorClose(MapIndexCursor* cursor, MapFile* map);

// Adds the object for a row: chooses the leaf of least growth, appends the
// record (splitting the leaf when it is full) and tells the writer the
// record's position; moved records are told their new positions. The
// object's row field becomes the row. The map's root block, root rectangle
// and depth follow; the caller copies the root rectangle into its MapHeader
// (whose writer takes it from there) and marks the header dirty.
int16_t MapIndexInsert(MapIndexCursor* cursor, MapFile* map, GeomObject* object, int32_t row,
                       size_t recordSize, RowPositionWriteFn writer, IdFileAccess* handle);

// Numbers of objects by the header's four sorts; a collection counts through
// its parts.
struct MapObjectCounts {
  uint32_t points;   // points and multipoints
  uint32_t lines;    // lines, arcs, polylines
  uint32_t regions;  // regions, rectangles, rounded rectangles, ellipses
  uint32_t others;   // texts, frames, kinds 11 and 12
};
// Adds one object of a kind to the counts (a collection: its present parts).
void MapObjectCountsAdd(MapObjectCounts* counts, const GeomObject* object);

// Marks the record of a row removed when the reader gives a position for it;
// found says whether it did. kind and counts (when given) describe the removed
// object. The caller clears the row's .ID entry.
int16_t MapRecordRemoveByRow(MapIndexCursor* cursor, MapFile* map, int32_t row,
                             RowPositionReadFn reader, IdFileAccess* handle, int* found, int* kind,
                             MapObjectCounts* counts);
// Marks the record at a position removed: its row word must be the row (a
// record already removed is refused); each style it uses has its use count
// lowered. slot is the object-block buffer to use.
int16_t MapRecordRemove(MapFile* map, MapBlockSlot* slot, uint32_t position, int32_t row, int* kind,
                        MapObjectCounts* counts);
// Removes the row's record (when it has one), then inserts the object anew.
int16_t MapIndexReplace(MapIndexCursor* cursor, MapFile* map, GeomObject* object, int32_t row,
                        size_t recordSize, RowPositionWriteFn writer, RowPositionReadFn reader,
                        IdFileAccess* handle);
// Sets bits 30-31 of the row word of the record at a position to those of
// mark (kMapRowRemoved marks it removed) and writes the block.
int16_t MapRecordMark(MapFile* map, uint32_t position, uint32_t mark);

// ===== Walking the tree =====================================================

// Called for every live record under the walk: its row, position and bounds.
// An answer of 0 stops the walk (the walk then answers 1).
using MapIndexVisitFn = int (*)(void* context, int32_t row, uint32_t position, const IRect* bounds);

// Visits every live record whose bounds overlap the rectangle (edges
// included), descending only into entries whose rectangles overlap it.
int16_t MapIndexSearch(MapFile* map, const IRect* rect, MapIndexVisitFn visit, void* context);

struct MapIndexCheckResult {
  uint32_t nodes;    // index nodes
  uint32_t leaves;   // object blocks
  uint32_t live;     // live records
  uint32_t removed;  // records marked removed
  uint32_t depth;
  char message[256];  // the first inconsistency, empty when none
};

// Checks the whole tree against the .ID file: node kinds and counts, every
// leaf at the depth, no block twice, every live record's bounds inside every
// rectangle above it (the root rectangle included), its .ID entry pointing at
// it, no row twice; and every row 1..lastRow with an .ID entry found live in
// the tree. 1 when all holds; 0 with the first inconsistency in the message
// (a read failure counts as one).
int16_t MapIndexCheck(MapFile* map, RowPositionReadFn reader, IdFileAccess* handle, int32_t lastRow,
                      MapIndexCheckResult* result);

// The process-wide toggle that decides ties of the split side test.
int MapIndexTieToggle();

}  // namespace layerio
