// Rectangles of the conic projections (3, 6, 9, 19). A parallel of a conic
// map is an arc whose extreme x and y lie on the meridians c + k 90/n, so the
// rectangle is bounded by sampling those meridians between the corners. The
// inverse samples the central meridian and the parallel through the probe
// point; a rectangle holding the cone's apex spans all longitudes.
#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

void BoundingBox(const DPoint* p, int count, DRect* out) {
  DRect r;
  DRectSetEmpty(&r);
  for (int i = 0; i < count; ++i) DRectAddPoint(&r, &p[i]);
  *out = r;
}

}  // namespace

void RectForwardConic(const DRect* in, DRect* out, const CoordSys* cs) {
  double x1 = in->x1, y1 = in->y1, x2 = in->x2, y2 = in->y2;
  DPoint p[22] = {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}};
  int count = 4;
  double c = cs->centralMeridian, d = cs->probeOffset;
  for (int k = -4; k <= 4; ++k) {
    double m = c + k * d;
    if (x1 < m && m < x2) {
      p[count++] = {m, y1};
      p[count++] = {m, y2};
    }
  }
  cs->forwardPoints(p, p, cs, count);
  BoundingBox(p, count, out);
}

void RectInverseConic(const DRect* in, DRect* out, const CoordSys* cs) {
  double x1 = in->x1, y1 = in->y1, x2 = in->x2, y2 = in->y2;
  double x0 = cs->probeX0, y0 = cs->probeY0;
  DPoint p[11] = {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}};
  int count = 4, meridian = -1;
  bool onMeridian = x1 < x0 && x0 < x2, onParallel = y1 < y0 && y0 < y2;
  if (onMeridian) {
    meridian = count;
    p[count++] = {x0, y1};
    p[count++] = {x0, y2};
  }
  if (onParallel) {
    p[count++] = {x1, y0};
    p[count++] = {x2, y0};
  }
  if (onMeridian && onParallel) p[count++] = {x0, y0};
  cs->inversePoints(p, p, cs, count);
  if (meridian >= 0) {
    double c = cs->centralMeridian;
    for (int j = meridian; j < meridian + 2; ++j) {
      double lon = p[j].x - c;
      if (lon > 90 || lon < -90) {
        p[j].x = -360;
        p[count++] = {360, p[j].y};
      }
    }
  }
  BoundingBox(p, count, out);
}

}  // namespace layerio
