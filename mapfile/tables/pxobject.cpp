// Conversion between the public object record and the map object.
#include "mapfile/tables/pxobject.h"

#include "mapfile/objects/objstore.h"

namespace layerio {

int16_t ObjectFromPublic(const PXObject*, GeomObject*, const CoordSys*, const CoordSys*) {
  return 0;
}

int16_t ObjectToPublic(const GeomObject*, PXObject*, const CoordSys*, const CoordSys*) {
  return 0;
}

void PublicObjectScratchFree() {}

bool PublicStoreIsMapFile(const ObjStore* store) { return store && store->kind == kObjStoreMapFile; }

const CoordSys* PublicStoreCoordSys(const ObjStore* store) {
  return store ? ObjStoreCoordSys(store) : nullptr;
}

void PublicStoreCounts(const ObjStore* store, uint32_t* points, uint32_t* lines,
                       uint32_t* regions) {
  if (points) *points = store ? ObjStorePointCount(store) : 0;
  if (lines) *lines = store ? ObjStoreLineCount(store) : 0;
  if (regions) *regions = store ? ObjStoreRegionCount(store) : 0;
}


}  // namespace layerio
