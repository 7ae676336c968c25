// The spatial index of map-object files (bodies to follow).
#include "mapfile/objects/mapindex.h"

namespace layerio {

int MapIndexNodeCapacity(const MapFile* map) {
  return (map->blockSize - kMapIndexNodeHead) / kMapIndexEntrySize;
}
int16_t MapIndexNodeRead(const MapFile*, const uint8_t*, MapIndexNode*) { return 0; }
void MapIndexNodeWrite(const MapFile*, const MapIndexNode*, uint8_t*) {}
void MapIndexNodeInsert(MapIndexNode*, const MapIndexEntry*) {}
int16_t MapIndexCursorOpen(MapIndexCursor*, MapFile*, size_t) { return 0; }
void MapIndexCursorClose(MapIndexCursor*, MapFile*) {}
int16_t MapIndexInsert(MapIndexCursor*, MapFile*, GeomObject*, int32_t, size_t,
                       RowPositionWriteFn, IdFileAccess*) {
  return 0;
}
void MapObjectCountsAdd(MapObjectCounts*, const GeomObject*) {}
int16_t MapRecordRemoveByRow(MapIndexCursor*, MapFile*, int32_t, RowPositionReadFn,
                             IdFileAccess*, int*, int*, MapObjectCounts*) {
  return 0;
}
int16_t MapRecordRemove(MapFile*, MapBlockSlot*, uint32_t, int32_t, int*, MapObjectCounts*) {
  return 0;
}
int16_t MapIndexReplace(MapIndexCursor*, MapFile*, GeomObject*, int32_t, size_t,
                        RowPositionWriteFn, RowPositionReadFn, IdFileAccess*) {
  return 0;
}
int16_t MapRecordMark(MapFile*, uint32_t, uint32_t) { return 0; }
int16_t MapIndexSearch(MapFile*, const IRect*, MapIndexVisitFn, void*) { return 0; }
int16_t MapIndexCheck(MapFile*, RowPositionReadFn, IdFileAccess*, int32_t,
                      MapIndexCheckResult*) {
  return 0;
}
int MapIndexTieToggle() { return 0; }

}  // namespace layerio
