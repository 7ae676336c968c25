#include "mapfile/objects/geometry.h"

namespace layerio {

const CoordSys* GeomDefaultCoordSys() { return nullptr; }
int GeomObjectNormalize(GeomObject*, int) { return 0; }
int GeomObjectComputeBounds(GeomObject*) { return 0; }
int GeomPartsSortBySize(GeomObject*, int) { return 0; }
int GeomRingNesting(GeomObject*) { return 0; }
int GeomRegionCentroid(GeomObject*) { return 0; }
int GeomPolylineCentroid(GeomObject*) { return 0; }
int GeomMultipointCentroid(GeomObject*) { return 0; }
int GeomObjectSetCentroid(GeomObject*, const IPoint*, int) { return 0; }
int GeomPartsContiguous(const GeomObject*) { return 1; }
double GeomRingArea(const GeomObject*, const GeomPart*, const CoordSys*, int, int, int* planar) {
  if (planar) *planar = 1;
  return 0.0;
}
double GeomPartLength(const GeomObject*, const GeomPart*, const CoordSys*, int, int) {
  return 0.0;
}
int GeomPointInEllipse(const IPoint*, const GeomObject*) { return 0; }
int GeomPointInObject(const IPoint*, const GeomObject*) { return 0; }
int32_t GeomShapePoints(IPoint** points, void**, const GeomObject*, int, int32_t) {
  *points = nullptr;
  return 0;
}
int32_t GeomArcPoints(const GeomObject*, int32_t, IPoint** points, void**) {
  *points = nullptr;
  return 0;
}
GeomObject* GeomPolyConvert(const GeomObject*, int) { return nullptr; }
GeomObject* GeomPolyFromPoints(const IPoint*, int32_t, const GeomObject*, int) { return nullptr; }
int GeomPolyFinish(GeomObject*, const GeomObject*) { return 0; }
int GeomScanCross(int32_t, const IPoint*, const IPoint*, int32_t*) { return 0; }

}  // namespace layerio
