#include "mapfile/objects/predicates.h"

namespace layerio {

int GeomObjectsIntersect(const GeomObject*, const GeomObject*) { return 0; }
int GeomPointInOrOn(const IPoint*, const GeomObject*) { return 0; }
int GeomPointInRegion(const IPoint*, const GeomObject*) { return 0; }
int GeomPointInRing(const IPoint*, const GeomObject*, const GeomPart*) { return 0; }
int GeomPointOnSegment(const IPoint*, const IPoint*, const IPoint*) { return 0; }
int GeomPointSide(const IPoint*, const IPoint*, const IPoint*, int*, int) { return 0; }
int GeomSegmentsIntersect(const IPoint*, const IPoint*, const IPoint*, const IPoint*) {
  return 0;
}
int GeomSegmentCross(const IPoint*, const IPoint*, const IPoint*, const IPoint*, IPoint*, int*) {
  return 0;
}
int GeomSegmentMeetsRect(const IPoint*, const IPoint*, const IRect*) { return 0; }
int GeomSegmentMeetsEllipse(const IPoint*, const IPoint*, const GeomObject*) { return 0; }
int GeomEllipsesIntersect(const GeomObject*, const GeomObject*) { return 0; }
int GeomQuarticTest(double, double, double, double, const DPoint*) { return 0; }
int GeomQuarticHasRoot(const double*, int) { return 0; }
int GeomEllipseBoxTest(const GeomObject*, const GeomObject*) { return 0; }

}  // namespace layerio
