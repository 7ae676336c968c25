// Equidistant conic on the ellipsoid (6): distances along every meridian are
// true. Parameters: origin longitude, origin latitude, standard parallels 1
// and 2, false easting and northing (in the system's units). Coinciding
// parallels fall back to n = sin(phi1).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum {
  kLambda0, kE, kN, kSouth, kAG, kRho0,
  kM,   // kM..kM+6: meridian-distance series
  kJ1 = kM + 7,  // kJ1..kJ1+3: footpoint series
};


}  // namespace

void EqdConicInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad;
  double phi1 = ProjClamp(ProjParam(cs, 3), -90.0, 90.0) * kDegToRad;
  double phi2 = ProjClamp(ProjParam(cs, 4), -90.0, 90.0) * kDegToRad;
  MeridianSeriesInit(e2, &k[kM]);
  FootpointSeriesInit(e2, &k[kJ1]);
  double bigM0 = MeridianDistance(&k[kM], a, phi0);
  double bigM1 = MeridianDistance(&k[kM], a, phi1);
  double bigM2 = MeridianDistance(&k[kM], a, phi2);
  double m1 = ParallelFactor(e2, phi1), m2 = ParallelFactor(e2, phi2);
  double n = bigM2 - bigM1 != 0 ? a * (m1 - m2) / (bigM2 - bigM1) : std::sin(phi1);
  if (n == 0) n = 1;
  double g = m1 / n + bigM1 / a;
  k[kE] = std::sqrt(e2);
  k[kN] = n;
  k[kSouth] = n < 0 ? 1 : 0;
  k[kAG] = a * g;
  k[kRho0] = a * g - bigM0;
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0 / n);
}

double EqdConicScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a;
  double phi = ProjClamp(lonLat->y, -89.9999, 89.9999) * kDegToRad;
  return (k[kAG] - MeridianDistance(&k[kM], a, phi)) * k[kN] /
         (ParallelFactor(cs->ellipsoid.e2, phi) * a);
}

int EqdConicForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a;
  double fe = ProjParam(cs, 5), fn = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double theta = k[kN] * (p.x - k[kLambda0]);
    double rho = k[kAG] - MeridianDistance(&k[kM], a, p.y);
    DPoint q{rho * std::sin(theta), k[kRho0] - rho * std::cos(theta)};
    ProjMetresToUnits(&q, cs);
    out[i].x = q.x + fe;
    out[i].y = q.y + fn;
  }
  return 0;
}

int EqdConicInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double aA0 = cs->ellipsoid.a * k[kM];
  double fe = ProjParam(cs, 5), fn = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint u{in[i].x - fe, in[i].y - fn}, p;
    ProjUnitsToMetres(&u, &p, cs);
    double rho, theta;
    ConicPolar(ProjClamp(p.x, -1e9, 1e9), ProjClamp(p.y, -1e9, 1e9), k[kRho0], k[kSouth] != 0,
               &rho, &theta);
    double mu = (k[kAG] - rho) / aA0;
    DPoint g{theta / k[kN] + k[kLambda0], FootpointLatitude(mu, &k[kJ1])};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowEqdConic;
const ProjectionRow kProjRowEqdConic = {
    EqdConicInit, EqdConicScale, EqdConicInverse, EqdConicForward,
    RectInverseConic, RectForwardConic};

}  // namespace layerio
