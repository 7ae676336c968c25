// A sequential writer of map-object files for tests and benchmarks: objects
// go into object blocks one after the other (a new block when a record no
// longer fits), their rows into the .ID file, their counts and bounds into
// the header. The spatial index is not built: the root block stays 0.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "mapfile/foundation/rect.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/maprecord.h"

namespace maptest {

using namespace layerio;

// Part bounds, object bounds and centroid of a polyline or region from its
// points (what the geometry code's normaliser gives them).
inline void PolyFinish(GeomObject* o) {
  GeomPart* parts = GeomParts(o);
  IRect all{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (uint32_t i = 0; i < o->u.poly.partCount; ++i) {
    const IPoint* p = GeomPartPoints(o, &parts[i]);
    IRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (int32_t k = 0; k < parts[i].pointCount; ++k) {
      r.x1 = std::min(r.x1, p[k].x);
      r.y1 = std::min(r.y1, p[k].y);
      r.x2 = std::max(r.x2, p[k].x);
      r.y2 = std::max(r.y2, p[k].y);
    }
    parts[i].bounds = r;
    all.x1 = std::min(all.x1, r.x1);
    all.y1 = std::min(all.y1, r.y1);
    all.x2 = std::max(all.x2, r.x2);
    all.y2 = std::max(all.y2, r.y2);
  }
  o->bounds = all;
  o->u.poly.centroid = IPoint{int32_t((int64_t(all.x1) + all.x2) / 2),
                              int32_t((int64_t(all.y1) + all.y2) / 2)};
}

struct MapWriter {
  MapFile* map = nullptr;
  MapHeader* header = nullptr;
  IdFileAccess* id = nullptr;
  MapBlockSlot* objectSlot = nullptr;
  MapBlockSlot* coordSlot = nullptr;
  uint32_t block = 0;

  bool Begin(MapFile* m, MapHeader* h, IdFileAccess* i) {
    map = m;
    header = h;
    id = i;
    return MapBlockSlotAlloc(map, &objectSlot) && MapBlockSlotAlloc(map, &coordSlot);
  }
  void End() {
    MapBlockSlotFree(map, &objectSlot);
    MapBlockSlotFree(map, &coordSlot);
  }

  bool NewBlock(const GeomObject* o) {
    if (!MapBlockAlloc(map, &block)) return false;
    IPoint base{int32_t((int64_t(o->bounds.x1) + o->bounds.x2) / 2),
                int32_t((int64_t(o->bounds.y1) + o->bounds.y2) / 2)};
    MapObjectBlockInit(map, objectSlot, &base);
    return MapBlockWrite(map, objectSlot, block);
  }

  static void Count(MapHeader* h, const GeomObject* o) {
    switch (o->kind) {
      case kGeomPoint: case kGeomMultipoint: ++h->pointCount; break;
      case kGeomLine: case kGeomArc: case kGeomPolyline: ++h->lineCount; break;
      case kGeomRegion: case kGeomRect: case kGeomRoundRect: case kGeomEllipse:
        ++h->regionCount;
        break;
      case kGeomCollection: {
        const GeomObject* parts[3] = {o->u.collection.region, o->u.collection.polyline,
                                      o->u.collection.multipoint};
        for (const GeomObject* p : parts)
          if (p) Count(h, p);
        break;
      }
      default: ++h->otherCount;
    }
  }

  bool Add(GeomObject* o, int32_t row) {
    o->row = uint32_t(row);
    if (!block && !NewBlock(o)) return false;
    uint32_t position = 0;
    int fits = 1;
    if (!MapObjectAppend(map, objectSlot, coordSlot, block, o, &position, &fits)) {
      if (fits || !NewBlock(o)) return false;
      if (!MapObjectAppend(map, objectSlot, coordSlot, block, o, &position, &fits)) return false;
    }
    if (!IdFileWrite(row, position, id)) return false;
    Count(header, o);
    IRect& r = header->root;
    if (r.x1 == 0 && r.y1 == 0 && r.x2 == 0 && r.y2 == 0) {
      r = o->bounds;
    } else {
      r.x1 = std::min(r.x1, o->bounds.x1);
      r.y1 = std::min(r.y1, o->bounds.y1);
      r.x2 = std::max(r.x2, o->bounds.x2);
      r.y2 = std::max(r.y2, o->bounds.y2);
    }
    header->flags |= kMapHeaderDirty;
    return true;
  }
};

}  // namespace maptest
