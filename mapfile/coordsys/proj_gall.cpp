// Projection 17, Gall's stereographic cylindrical projection on the sphere of
// radius a. Parameter: origin longitude.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum { kLambda0, kSqrt2, kAOverSqrt2, kYFactor };


}  // namespace

void GallInit(CoordSys* cs) {
  double a = cs->ellipsoid.a;
  double r2 = std::sqrt(2.0);
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0);
  cs->k[kSqrt2] = r2;
  cs->k[kAOverSqrt2] = a / r2;
  cs->k[kYFactor] = a * (1 + r2 / 2);
}

double GallScale(const CoordSys* cs, const DPoint* lonLat) {
  double lat = ProjClamp(lonLat->y, -90.0, 90.0);
  double c = std::cos(lat * kDegToRad);
  if (c == 0.0 || std::fabs(lat) == 90.0) return kSingular;
  return 1.0 / (cs->k[kSqrt2] * c);
}

int GallForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    DPoint r{(p.x - k[kLambda0]) * k[kAOverSqrt2], k[kYFactor] * std::tan(p.y / 2)};
    ProjMetresToUnits(&r, cs);
    out[i] = r;
  }
  return 0;
}

int GallInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    DPoint g{m.x / k[kAOverSqrt2] + k[kLambda0], 2 * std::atan(m.y / k[kYFactor])};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowGall;
const ProjectionRow kProjRowGall = {GallInit,    GallScale,          GallInverse,
                                    GallForward, RectInverseCorners, RectForwardCorners};

}  // namespace layerio
