// Projection 0, the non-earth plane: no projection at all. Its coordinates
// pass through the geographic stage as lengths expressed in the degree of the
// unit table, with the axis signs of the system's second quadrant code, so
// that every chain can run through "longitude/latitude" unchanged.
#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

void NonEarthConvert(const DPoint* in, DPoint* out, const CoordSys* cs, int n, bool forward) {
  int q = cs->params.nonEarth.quadrant2;
  double sx = QuadrantSignX(q), sy = QuadrantSignY(q);
  int unit = cs->params.nonEarth.unit;
  int from = forward ? kUnitDegree : unit, to = forward ? unit : kUnitDegree;
  for (int i = 0; i < n; ++i) {
    double x = sx * in[i].x, y = sy * in[i].y;
    double rx = x, ry = y;
    UnitConvert(&rx, to, x, from);
    UnitConvert(&ry, to, y, from);
    out[i].x = rx;
    out[i].y = ry;
  }
}

}  // namespace

int NonEarthInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  NonEarthConvert(in, out, cs, n, false);
  return 0;
}

int NonEarthForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  NonEarthConvert(in, out, cs, n, true);
  return 0;
}

extern const ProjectionRow kProjRowNonEarth;
const ProjectionRow kProjRowNonEarth = {nullptr,           ProjUnitScale,     NonEarthInverse,
                                        NonEarthForward,   RectInverseCorners, RectForwardCorners};

}  // namespace layerio
