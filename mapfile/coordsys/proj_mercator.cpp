// Projections 10 and 26, Mercator on the ellipsoid. Parameters: origin
// longitude and, for 26, the standard parallel (a projection-10 block carries
// 0 there, so its scale is 1 on the equator).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum { kE, kLambda0, kHalfA, kC1, kC2, kC3, kC4, kK0 };

// exp() of anything beyond these overflows or vanishes: the pole stands in.
constexpr double kExpLow = -307.0, kExpHigh = 308.0;


}  // namespace

void MercatorInit(CoordSys* cs) {
  double e2 = cs->ellipsoid.e2;
  double* k = cs->k;
  k[kE] = std::sqrt(e2);
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0);
  k[kHalfA] = cs->ellipsoid.a / 2;
  ConformalSeriesInit(e2, &k[kC1]);
  double std = ProjParam(cs, 2);
  if (std == 0.0) {
    k[kK0] = 1.0;
  } else {
    double phi1 = ProjClamp(std, -90.0, 90.0) * kDegToRad;
    double s = std::sin(phi1);
    k[kK0] = std::cos(phi1) / std::sqrt(1 - e2 * s * s);
  }
}

double MercatorScale(const CoordSys* cs, const DPoint* lonLat) {
  double lat = ProjClamp(lonLat->y, -90.0, 90.0);
  double phi = lat * kDegToRad;
  double c = std::cos(phi);
  if (c == 0.0 || std::fabs(lat) == 90.0) return kSingular;
  double es = cs->k[kE] * std::sin(phi);
  return cs->k[kK0] * std::sqrt(1 - es * es) / c;
}

int MercatorForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e = k[kE];
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double s = std::sin(p.y);
    DPoint r;
    r.x = (p.x - k[kLambda0]) * a * k[kK0];
    if (s == -1.0) {
      r.y = -kSingular;
    } else if (s == 1.0) {
      r.y = kSingular;
    } else {
      double es = e * s;
      r.y = std::log(std::pow((1 - es) / (1 + es), e) * (1 + s) / (1 - s)) * k[kHalfA] * k[kK0];
    }
    ProjMetresToUnits(&r, cs);
    out[i] = r;
  }
  return 0;
}

int MercatorInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a;
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    double t = -m.y / k[kK0] / a;
    double chi;
    if (t < kExpLow)
      chi = kPi / 2;
    else if (t > kExpHigh)
      chi = -kPi / 2;
    else
      chi = kPi / 2 - 2 * std::atan(std::exp(t));
    DPoint g{m.x / k[kK0] / a + k[kLambda0], ConformalToGeodetic(chi, &k[kC1])};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowMercator;
const ProjectionRow kProjRowMercator = {MercatorInit,       MercatorScale,     MercatorInverse,
                                        MercatorForward,    RectInverseCorners, RectForwardCorners};

}  // namespace layerio
