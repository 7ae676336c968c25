// Projection 2, Lambert's cylindrical equal-area projection in normal aspect
// on the sphere of radius a. Parameters: origin longitude, standard parallel.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum { kA, kLambda0, kCosStd, kAC, kAOverC };


}  // namespace

void CylEqualAreaInit(CoordSys* cs) {
  double a = cs->ellipsoid.a;
  cs->k[kA] = a;
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0);
  // A standard parallel on a pole would divide by zero: the equator stands in.
  double c = std::cos(ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad);
  if (c == 0.0 || std::fabs(ProjParam(cs, 2)) >= 90.0) c = 1.0;
  cs->k[kCosStd] = c;
  cs->k[kAC] = a * c;
  cs->k[kAOverC] = a / c;
}

double CylEqualAreaScale(const CoordSys* cs, const DPoint* lonLat) {
  double lat = ProjClamp(lonLat->y, -90.0, 90.0);
  double c = std::cos(lat * kDegToRad);
  if (c == 0.0 || std::fabs(lat) == 90.0) return kSingular;
  return cs->k[kCosStd] / c;
}

int CylEqualAreaForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    DPoint r{(p.x - k[kLambda0]) * k[kAC], k[kA] * std::sin(p.y) / k[kCosStd]};
    ProjMetresToUnits(&r, cs);
    out[i] = r;
  }
  return 0;
}

int CylEqualAreaInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    DPoint g{m.x / k[kAC] + k[kLambda0], std::asin(ProjClamp(m.y / k[kAOverC], -1.0, 1.0))};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowCylEqualArea;
const ProjectionRow kProjRowCylEqualArea = {CylEqualAreaInit,    CylEqualAreaScale,
                                            CylEqualAreaInverse, CylEqualAreaForward,
                                            RectInverseCorners,  RectForwardCorners};

}  // namespace layerio
