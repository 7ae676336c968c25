// Object records of the map-object file: decoding and encoding.
#include "mapfile/objects/maprecord.h"

namespace layerio {

void MapObjectBlockHeadRead(const uint8_t*, MapObjectBlockHead* head) { *head = {}; }
void MapObjectBlockHeadWrite(uint8_t*, const MapObjectBlockHead*) {}
void MapObjectBlockInit(MapFile*, MapBlockSlot*, const IPoint*) {}
int MapObjectDecode(MapFile*, const uint8_t*, GeomObject*, uint32_t*, const IPoint*, int) {
  return 0;
}
int MapObjectDataRead(MapFile*, MapBlockSlot*, GeomObject*, int, const uint8_t*) { return 0; }
uint64_t MapObjectStreamSize(const GeomObject*, int, int) { return 0; }
int MapObjectEncode(MapFile*, const GeomObject*, int, uint8_t*, const IPoint*, uint32_t, int) {
  return 0;
}
int MapObjectDataWrite(MapFile*, const GeomObject*, int, MapBlockSlot*, MapBlockSlot*,
                       uint32_t*) {
  return 0;
}
int MapObjectRecordRead(MapFile*, MapBlockSlot*, MapBlockSlot*, uint32_t, GeomObject*, int*) {
  return 0;
}
int MapObjectAppend(MapFile*, MapBlockSlot*, MapBlockSlot*, uint32_t, const GeomObject*,
                    uint32_t*, int*) {
  return 0;
}
int MapObjectReadByRow(MapFile*, MapBlockSlot*, MapBlockSlot*, int32_t, int, RowPositionReadFn,
                       IdFileAccess*, MapBoundsFilterFn, void*, GeomObject*, int*) {
  return 0;
}

}  // namespace layerio
