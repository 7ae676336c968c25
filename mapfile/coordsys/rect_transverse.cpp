// Rectangles of the transverse projections (8, 21-24 and 30): besides the
// corners, the edges' crossings of the central meridian and of the equator
// (inverse: of the probe lines X0 and Y0), where the image of an edge bulges
// furthest.
#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

namespace {

void BoundsThrough(ProjPointsFn points, const CoordSys* cs, DPoint* p, int n, DRect* out) {
  points(p, p, cs, n);
  DRect r;
  DRectSetEmpty(&r);
  for (int i = 0; i < n; ++i) DRectAddPoint(&r, &p[i]);
  *out = r;
}

int CornersAndCrossings(const DRect* in, double mx, double my, DPoint p[8]) {
  DPoint corners[4];
  DRectCorners(in, corners);
  int n = 0;
  for (const DPoint& c : corners) p[n++] = c;
  if (in->x1 < mx && mx < in->x2) {
    p[n++] = {mx, in->y1};
    p[n++] = {mx, in->y2};
  }
  if (in->y1 < my && my < in->y2) {
    p[n++] = {in->x1, my};
    p[n++] = {in->x2, my};
  }
  return n;
}

}  // namespace

void RectForwardTransverse(const DRect* in, DRect* out, const CoordSys* cs) {
  DPoint p[8];
  int n = CornersAndCrossings(in, cs->centralMeridian, 0.0, p);
  BoundsThrough(cs->forwardPoints, cs, p, n, out);
}

void RectInverseTransverse(const DRect* in, DRect* out, const CoordSys* cs) {
  DPoint p[8];
  int n = CornersAndCrossings(in, cs->probeX0, cs->probeY0, p);
  BoundsThrough(cs->inversePoints, cs, p, n, out);
}

}  // namespace layerio
