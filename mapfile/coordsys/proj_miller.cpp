// Projection 11, Miller's cylindrical projection on the sphere of radius a.
// Parameter: origin longitude.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum { kA, kLambda0, kAOver08 };

constexpr double kQuarterPi = 0.7853981633974483;
constexpr double kFiveEighthsPi = 1.9634954084936207;
constexpr double kExpLow = -307.0, kExpHigh = 308.0;

}  // namespace

void MillerInit(CoordSys* cs) {
  double a = cs->ellipsoid.a;
  cs->k[kA] = a;
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0);
  cs->k[kAOver08] = a / 0.8;
}

int MillerForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    DPoint r{(p.x - k[kLambda0]) * k[kA], std::log(std::tan(0.4 * p.y + kQuarterPi)) * k[kAOver08]};
    ProjMetresToUnits(&r, cs);
    out[i] = r;
  }
  return 0;
}

int MillerInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    double s = m.y / k[kAOver08];
    double phi;
    if (s < kExpLow)
      phi = -kPi / 2;
    else if (s > kExpHigh)
      phi = kPi / 2;
    else
      phi = 2.5 * std::atan(std::exp(s)) - kFiveEighthsPi;
    DPoint g{m.x / k[kA] + k[kLambda0], phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowMiller;
const ProjectionRow kProjRowMiller = {MillerInit,    SecantScale,        MillerInverse,
                                      MillerForward, RectInverseCorners, RectForwardCorners};

}  // namespace layerio
