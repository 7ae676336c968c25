// Lambert conformal conic on the ellipsoid (3) and its Belgian 1972 variant
// (19), which turns the map by 29.2985 seconds of arc about the cone's apex.
// Parameters: origin longitude, origin latitude, standard parallels 1 and 2,
// false easting and northing (in the system's units).
//
// A cone whose logarithms fail (coinciding parallels, a parallel at a pole)
// falls back to the one-parallel form n = sin(phi1); the pole at the cone's
// apex is carried by the sentinel t = 1e9.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

constexpr double kBelgianCorrection = 0.0001420431363598774;  // 29.2985" in radians

// Constants in cs->k.
enum {
  kE, kLambda0, kN, kInvN, kSouth, kAF, kRho0, kC1,  // kC1..kC1+3: conformal series
};


// t(psi) of the conformal conic, 1e9 where its denominator vanishes.
double ConeT(double e, double psi) {
  double s = std::sin(psi);
  if (1 + s == 0 || 1 - e * s == 0) return kSingular;
  return std::sqrt(std::pow((1 + e * s) / (1 - e * s), e) * (1 - s) / (1 + s));
}

// rho = aF t^n, with the sentinel for the far pole of a southern cone.
double ConeRho(const double* k, double t) {
  if (k[kSouth] != 0 && t == 0) return k[kAF] * kSingular;
  return k[kAF] * std::pow(t, k[kN]);
}

}  // namespace

void LambertConicInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2, e = std::sqrt(e2);
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad;
  double phi1 = ProjClamp(ProjParam(cs, 3), -90.0, 90.0) * kDegToRad;
  double phi2 = ProjClamp(ProjParam(cs, 4), -90.0, 90.0) * kDegToRad;
  double m1 = ParallelFactor(e2, phi1), m2 = ParallelFactor(e2, phi2);
  double t0 = ConeT(e, phi0), t1 = ConeT(e, phi1), t2 = ConeT(e, phi2);
  double n = 0;
  bool slope = m1 != 0 && m2 != 0 && t1 != 0 && t2 != 0;
  double dl = slope ? std::log(t1) - std::log(t2) : 0;
  if (slope && dl != 0)
    n = (std::log(m1) - std::log(m2)) / dl;
  else
    n = std::sin(phi1);
  if (n == 0) n = 1;
  bool south = n < 0;
  k[kE] = e;
  k[kN] = n;
  k[kInvN] = 1 / n;
  k[kSouth] = south ? 1 : 0;
  double divisor = (south && t1 == 0) ? n * kSingular : n * std::pow(t1, n);
  double f = divisor == 0 ? 1 : m1 / divisor;
  k[kAF] = a * f;
  k[kRho0] = (south && t0 == 0) ? k[kAF] * kSingular : k[kAF] * std::pow(t0, n);
  ConformalSeriesInit(e2, &k[kC1]);
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0 / n);
}

double LambertConicScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  double phi = ProjClamp(lonLat->y, -89.9999, 89.9999) * kDegToRad;
  double rho = ConeRho(k, ConeT(k[kE], phi));
  return rho * k[kN] / (cs->ellipsoid.a * ParallelFactor(cs->ellipsoid.e2, phi));
}

int LambertConicForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double correction = cs->projection == 19 ? kBelgianCorrection : 0;
  double fe = ProjParam(cs, 5), fn = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double rho = ConeRho(k, ConeT(k[kE], p.y));
    double theta = k[kN] * (p.x - k[kLambda0]) - correction;
    DPoint q{rho * std::sin(theta), k[kRho0] - rho * std::cos(theta)};
    ProjMetresToUnits(&q, cs);
    out[i].x = q.x + fe;
    out[i].y = q.y + fn;
  }
  return 0;
}

int LambertConicInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double correction = cs->projection == 19 ? kBelgianCorrection : 0;
  double fe = ProjParam(cs, 5), fn = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint u{in[i].x - fe, in[i].y - fn}, p;
    ProjUnitsToMetres(&u, &p, cs);
    double rho, theta;
    ConicPolar(p.x, p.y, k[kRho0], k[kSouth] != 0, &rho, &theta);
    theta += correction;
    // aF carries the sign of n, so t is never negative on a sound cone;
    // the guard keeps a degenerate one from giving NaN.
    double t = rho / k[kAF];
    if (!(t > 0)) t = 0;
    double chi;
    if (k[kSouth] != 0 && t == 0)
      chi = -kPi / 2;
    else
      chi = kPi / 2 - 2 * std::atan(std::pow(t, k[kInvN]));
    DPoint g{theta / k[kN] + k[kLambda0], ConformalToGeodetic(chi, &k[kC1])};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowLambertConic;
const ProjectionRow kProjRowLambertConic = {
    LambertConicInit, LambertConicScale, LambertConicInverse, LambertConicForward,
    RectInverseConic, RectForwardConic};

}  // namespace layerio
