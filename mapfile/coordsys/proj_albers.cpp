// Albers equal-area conic on the ellipsoid (9). Parameters: origin
// longitude, origin latitude, standard parallels 1 and 2, false easting and
// northing (in the system's units). Coinciding parallels fall back to
// n = sin(phi1); a negative radicand puts the point on the apex.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum {
  kLambda0, kE, kOneMinusE2, kSpherical, kInvTwoE, kN, kAOverN, kN2OverA2, kSouth, kC, kRho0,
  kQp, kG1,  // kG1..kG1+2: authalic series
};


// The authalic series lands within about 1e-9 radians; one Newton step on
// q(phi) takes the latitude to the exact inverse of the forward's q.
double RefineFromQ(const double* k, double e2, double q, double phi) {
  double s = std::sin(phi), c = std::cos(phi);
  if (k[kSpherical] != 0 || c <= 1e-10) return phi;
  double e = k[kE], w = 1 - e2 * s * s;
  double residual =
      q / k[kOneMinusE2] - s / w + std::log((1 - e * s) / (1 + e * s)) * k[kInvTwoE];
  double step = w * w / (2 * c) * residual;
  double refined = phi + step;
  return std::isfinite(refined) ? ProjClamp(refined, -kPi / 2, kPi / 2) : phi;
}

}  // namespace

void AlbersInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2, e = std::sqrt(e2);
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad;
  double phi1 = ProjClamp(ProjParam(cs, 3), -90.0, 90.0) * kDegToRad;
  double phi2 = ProjClamp(ProjParam(cs, 4), -90.0, 90.0) * kDegToRad;
  double m1 = ParallelFactor(e2, phi1), m2 = ParallelFactor(e2, phi2);
  double q0 = AuthalicQ(e2, phi0), q1 = AuthalicQ(e2, phi1), q2 = AuthalicQ(e2, phi2);
  double n = q2 - q1 != 0 ? (m1 * m1 - m2 * m2) / (q2 - q1) : std::sin(phi1);
  if (n == 0) n = 1;
  bool spherical = e == 0;
  k[kE] = e;
  k[kOneMinusE2] = 1 - e2;
  k[kSpherical] = spherical ? 1 : 0;
  k[kInvTwoE] = spherical ? 0 : 1 / (2 * e);
  k[kN] = n;
  k[kAOverN] = a / n;
  k[kN2OverA2] = n * n / (a * a);
  k[kSouth] = n < 0 ? 1 : 0;
  double c = m1 * m1 + n * q1;
  k[kC] = c;
  k[kRho0] = c - n * q0 > 0 ? (a / n) * std::sqrt(c - n * q0) : 0;
  k[kQp] = spherical ? 2 : 1 - ((1 - e2) / (2 * e)) * std::log((1 - e) / (1 + e));
  AuthalicSeriesInit(e2, &k[kG1]);
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0 / n);
}

double AlbersScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  double e2 = cs->ellipsoid.e2;
  double phi = ProjClamp(lonLat->y, -89.9999, 89.9999) * kDegToRad;
  double r = k[kC] - k[kN] * AuthalicQ(e2, phi);
  return r > 0 ? std::sqrt(r) / ParallelFactor(e2, phi) : 0;
}

int AlbersForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 5), fn = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double r = k[kC] - k[kN] * AuthalicQ(e2, p.y);
    double rho = r > 0 ? k[kAOverN] * std::sqrt(r) : 0;
    double theta = k[kN] * (p.x - k[kLambda0]);
    DPoint q{rho * std::sin(theta), k[kRho0] - rho * std::cos(theta)};
    ProjMetresToUnits(&q, cs);
    out[i].x = q.x + fe;
    out[i].y = q.y + fn;
  }
  return 0;
}

int AlbersInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 5), fn = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint u{in[i].x - fe, in[i].y - fn}, p;
    ProjUnitsToMetres(&u, &p, cs);
    double rho, theta;
    ConicPolar(p.x, p.y, k[kRho0], k[kSouth] != 0, &rho, &theta);
    double rho2 = rho * rho;
    double q = (k[kC] - rho2 * k[kN2OverA2]) / k[kN];
    double beta = std::asin(ProjClamp(q / k[kQp], -1.0, 1.0));
    double phi = AuthalicToGeodetic(beta, &k[kG1]);
    phi = RefineFromQ(k, e2, ProjClamp(q, -k[kQp], k[kQp]), phi);
    DPoint g{theta / k[kN] + k[kLambda0], phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowAlbers;
const ProjectionRow kProjRowAlbers = {
    AlbersInit, AlbersScale, AlbersInverse, AlbersForward,
    RectInverseConic, RectForwardConic};

}  // namespace layerio
