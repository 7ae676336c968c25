// The American polyconic projection on the ellipsoid (27). Parameters:
// origin longitude, origin latitude, false easting, false northing (the last
// two in the system's units). The inverse solves for the latitude by Newton's
// method; where it does not settle the point is moved toward the central
// meridian and the solution tried again, a bounded number of times.
#include <cmath>

#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

namespace {

enum PolyconicConstant {
  kLambda0 = 0,
  kE = 1,
  kAA0 = 2,  // a A0, a H1, a H2, a H3
  kAH1 = 3,
  kAH2 = 4,
  kAH3 = 5,
  kD1 = 6,  // M'(phi) / a = ((D4 c + D3) c + D2) c + D1, c = cos 2phi
  kD2 = 7,
  kD3 = 8,
  kD4 = 9,
  kM0 = 10,
};

// Newton steps before the point is moved, and moves before giving up.
constexpr int kNewtonSteps = 100;
constexpr int kMaxMoves = 100;
constexpr double kMoveMetres = 100.0;


// M(phi) from the scaled coefficients, given sin and cos of phi.
inline double Meridian(const double* k, double phi, double s, double c) {
  double c2 = c * c - s * s;
  return k[kAA0] * phi + 2 * s * c * ((k[kAH3] * c2 + k[kAH2]) * c2 + k[kAH1]);
}

// Solves the inverse for one point in metres relative to the false origin,
// radians out.
void InversePoint(const double* k, double a, double e2, double x, double y, double* lambda,
                  double* phi) {
  if (y == -k[kM0]) {
    *lambda = x / a + k[kLambda0];
    *phi = 0;
    return;
  }
  double aa = (k[kM0] + y) / a;
  double p = aa;
  double last = aa;  // the last finite latitude reached
  bool converged = false;
  for (int move = 0; move <= kMaxMoves && !converged; ++move) {
    if (move > 0) x = x >= 0 ? x - kMoveMetres : x + kMoveMetres;
    double b = x * x / (a * a) + aa * aa;
    p = aa;
    for (int step = 0; step < kNewtonSteps; ++step) {
      double s = std::sin(p), c = std::cos(p);
      double s2 = 2 * s * c, c2 = c * c - s * s;
      double cc = std::sqrt(1 - e2 * s * s) * s / c;
      double mn = Meridian(k, p, s, c) / a;
      double mp = ((k[kD4] * c2 + k[kD3]) * c2 + k[kD2]) * c2 + k[kD1];
      double num = aa * (cc * mn + 1) - mn - 0.5 * (mn * mn + b) * cc;
      double den =
          e2 * s2 * (mn * mn + b - 2 * aa * mn) / (4 * cc) + (aa - mn) * (cc * mp - 2 / s2) - mp;
      double next = p - num / den;
      if (!std::isfinite(next)) break;
      double delta = next - p;
      p = last = next;
      if (delta > -1e-7 && delta < 1e-7) {
        converged = true;
        break;
      }
    }
  }
  // No latitude solves it even closer to the central meridian: the point
  // lies outside the projection's image. Keep the nearest meaningful one.
  if (!converged) p = ProjClamp(last, -kPi / 2, kPi / 2);
  *phi = p;
  double s = std::sin(p), c = std::cos(p);
  if (s == 0.0 || c == 0.0) {
    *lambda = (s == 0.0 ? x / a : 0.0) + k[kLambda0];
    return;
  }
  // The longitude takes C at the final latitude: near the equator the last
  // step's own C is off by as much as the step, which is large there
  // against the latitude itself.
  double cc = std::sqrt(1 - e2 * s * s) * s / c;
  *lambda = std::asin(ProjClamp(cc * x / a, -1.0, 1.0)) / s + k[kLambda0];
}

}  // namespace

void PolyconicInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0);
  k[kE] = std::sqrt(e2);
  double m[7];
  MeridianSeriesInit(e2, m);
  for (int i = 0; i < 4; ++i) k[kAA0 + i] = a * m[i];
  double k1 = m[4], k2 = m[5], k3 = m[6];
  k[kD1] = m[0] - 4 * k2;
  k[kD2] = -2 * k1 + 18 * k3;
  k[kD3] = 8 * k2;
  k[kD4] = -24 * k3;
  k[kM0] = MeridianDistance(m, a, ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad);
}

int PolyconicForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 3), fn = ProjParam(cs, 4);
  for (int i = 0; i < n; ++i) {
    double dl = ProjClamp(in[i].x - cs->centralMeridian, -180.0, 180.0) * kDegToRad;
    double phi = ProjClamp(in[i].y, -90.0, 90.0) * kDegToRad;
    DPoint q;
    if (phi == 0.0) {
      q.x = a * dl;
      q.y = -k[kM0];
    } else {
      double s = std::sin(phi), c = std::cos(phi);
      double e = dl * s;
      double nCot = a / std::sqrt(1 - e2 * s * s) * c / s;
      q.x = nCot * std::sin(e);
      q.y = Meridian(k, phi, s, c) - k[kM0] + nCot * (1 - std::cos(e));
    }
    ProjMetresToUnits(&q, cs);
    q.x += fe;
    q.y += fn;
    out[i] = q;
  }
  return 0;
}

int PolyconicInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 3), fn = ProjParam(cs, 4);
  for (int i = 0; i < n; ++i) {
    DPoint q = {in[i].x - fe, in[i].y - fn}, m;
    ProjUnitsToMetres(&q, &m, cs);
    DPoint r;
    InversePoint(k, a, e2, m.x, m.y, &r.x, &r.y);
    ProjRadiansToDegrees(&r, &out[i]);
  }
  return 0;
}

const ProjectionRow kProjRowPolyconic = {PolyconicInit,        ProjUnitScale,
                                         PolyconicInverse,     PolyconicForward,
                                         RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
