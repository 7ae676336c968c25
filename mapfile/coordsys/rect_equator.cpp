// Rectangles of the pseudo-cylindrical projections. Their meridians bulge
// outwards towards the equator, so a rectangle that straddles the equator is
// widest there: its two edge points on the equator are projected with the
// corners.
#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

namespace {

// The corners, and the points of the left and right edges at height `middle`
// when it lies strictly inside the rectangle's y range; through `points`;
// the bounding box of the results.
void EquatorRect(const DRect* in, DRect* out, const CoordSys* cs, double middle,
                 ProjPointsFn points) {
  DPoint p[6] = {{in->x1, in->y1}, {in->x1, in->y2}, {in->x2, in->y2}, {in->x2, in->y1}};
  int n = 4;
  if (in->y1 < middle && in->y2 > middle) {
    p[n++] = {in->x1, middle};
    p[n++] = {in->x2, middle};
  }
  points(p, p, cs, n);
  DRect r;
  DRectSetEmpty(&r);
  for (int i = 0; i < n; ++i) DRectAddPoint(&r, &p[i]);
  *out = r;
}

}  // namespace

void RectForwardEquator(const DRect* in, DRect* out, const CoordSys* cs) {
  EquatorRect(in, out, cs, 0.0, cs->forwardPoints);
}

void RectInverseEquator(const DRect* in, DRect* out, const CoordSys* cs) {
  EquatorRect(in, out, cs, cs->probeY0, cs->inversePoints);
}

}  // namespace layerio
