// Double stereographic (31): the ellipsoid is first mapped conformally onto
// the Gauss sphere of radius sqrt(M0 N0) around the origin latitude, which is
// then projected stereographically. Parameters: origin longitude, origin
// latitude, scale factor (1 when 0), false easting and northing (in the
// system's units).
//
// Longitudes are taken relative to the origin and brought into -180..180
// before the sphere's factor n multiplies them, so that a point and its
// longitude plus 360 land on the same place; the inverse finds the sphere's
// longitude by its quadrant (atan2), so points beyond 90 degrees of the
// centre's meridian, or beyond the pole, come back where they were.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

// The conformal (Gauss) sphere of a double stereographic system: latitude chi
// and longitude n lambda of a geodetic point, and back (radians).
void GaussSphereForward(const CoordSys* cs, const DPoint* lonLat, DPoint* sphere);
void GaussSphereInverse(const CoordSys* cs, const DPoint* sphere, DPoint* lonLat);

namespace {

enum { kE, kN, kC, kChi0, kBigLambda0, kR, kSinChi0, kCosChi0, kLambda0 };

constexpr int kNewtonSteps = 30;


// The bracket tan(pi/4 + phi/2) ((1 - e sin phi)/(1 + e sin phi))^(e/2).
double Bracket(double e, double phi, double* factor) {
  double s = e * std::sin(phi);
  *factor = std::pow((1 - s) / (1 + s), e / 2);
  return std::tan(kPi / 4 + phi / 2) * *factor;
}

double ScaleK0(const CoordSys* cs) {
  double k0 = ProjParam(cs, 3);
  return k0 == 0 ? 1 : k0;
}

}  // namespace

void GaussSphereForward(const CoordSys* cs, const DPoint* lonLat, DPoint* sphere) {
  const double* k = cs->k;
  double factor;
  double p = Bracket(k[kE], lonLat->y, &factor);
  double chi = 2 * std::atan(k[kC] * std::pow(p, k[kN])) - kPi / 2;
  double dl = std::remainder(lonLat->x - k[kLambda0], 2 * kPi);
  sphere->x = k[kBigLambda0] + k[kN] * dl;
  sphere->y = chi;
}

void GaussSphereInverse(const CoordSys* cs, const DPoint* sphere, DPoint* lonLat) {
  const double* k = cs->k;
  double e = k[kE], e2 = e * e, n = k[kN], c = k[kC];
  double chi = sphere->y;
  double phi = chi;
  // At the poles the two latitudes agree and tan() has no finite value.
  if (std::fabs(chi) < kPi / 2 - 1e-12) {
    double target = std::tan(kPi / 4 + chi / 2);
    for (int step = 0; step < kNewtonSteps; ++step) {
      double factor;
      double p = Bracket(e, phi, &factor);
      double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
      double tq = std::tan(kPi / 4 + phi / 2), cq = std::cos(kPi / 4 + phi / 2);
      double f = c * std::pow(p, n) - target;
      double derivative = n * c * std::pow(p, n - 1) * factor *
                          (0.5 / (cq * cq) - cosPhi * tq * e2 / (1 - e2 * sinPhi * sinPhi));
      if (derivative == 0 || !std::isfinite(derivative)) break;
      double next = ProjClamp(phi - f / derivative, -kPi / 2, kPi / 2);
      if (!std::isfinite(next)) break;
      bool done = std::fabs(next - phi) <= 1e-12;
      phi = next;
      if (done) break;
    }
  }
  lonLat->x = k[kLambda0] + (sphere->x - k[kBigLambda0]) / n;
  lonLat->y = phi;
}

void DoubleStereoInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2, e = std::sqrt(e2);
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad;
  double lambda0 = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0);
  double sinPhi0 = std::sin(phi0), cosPhi0 = std::cos(phi0);
  double n = std::sqrt(1 + e2 * std::pow(cosPhi0, 4) / (1 - e2));
  double chi0 = std::asin(ProjClamp(sinPhi0 / n, -1.0, 1.0));
  double factor;
  double c = std::tan(kPi / 4 + chi0 / 2) / std::pow(Bracket(e, phi0, &factor), n);
  double w = 1 - e2 * sinPhi0 * sinPhi0;
  double n0 = a / std::sqrt(w), m0 = a * (1 - e2) / std::pow(w, 1.5);
  k[kE] = e;
  k[kN] = n;
  k[kC] = c;
  k[kChi0] = chi0;
  k[kBigLambda0] = n * lambda0;
  k[kR] = std::sqrt(m0 * n0);
  k[kSinChi0] = std::sin(chi0);
  k[kCosChi0] = std::cos(chi0);
  k[kLambda0] = lambda0;
}

double DoubleStereoScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  DPoint p, s;
  ProjDegreesToRadians(lonLat, &p);
  GaussSphereForward(cs, &p, &s);
  double chi = s.y, cosChi = std::cos(chi);
  double d =
      1 + std::sin(chi) * k[kSinChi0] + cosChi * k[kCosChi0] * std::cos(s.x - k[kBigLambda0]);
  double sinPhi = std::sin(p.y), e2 = cs->ellipsoid.e2;
  double g = std::cos(p.y) * d;
  if (g == 0) return 1.0;
  double bigN = cs->ellipsoid.a / std::sqrt(1 - e2 * sinPhi * sinPhi);
  return 2 * ScaleK0(cs) * k[kR] * k[kN] * cosChi / (g * bigN);
}

int DoubleStereoForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double twoRK0 = 2 * k[kR] * ScaleK0(cs);
  double fe = ProjParam(cs, 4), fn = ProjParam(cs, 5);
  for (int i = 0; i < n; ++i) {
    DPoint p, s;
    ProjDegreesToRadians(&in[i], &p);
    GaussSphereForward(cs, &p, &s);
    double sinChi = std::sin(s.y), cosChi = std::cos(s.y);
    double dl = s.x - k[kBigLambda0], cosDl = std::cos(dl);
    double d = 1 + sinChi * k[kSinChi0] + cosChi * k[kCosChi0] * cosDl;
    if (d == 0) d = 1;
    DPoint q{twoRK0 * cosChi * std::sin(dl) / d,
             twoRK0 * (sinChi * k[kCosChi0] - cosChi * k[kSinChi0] * cosDl) / d};
    ProjMetresToUnits(&q, cs);
    out[i].x = q.x + fe;
    out[i].y = q.y + fn;
  }
  return 0;
}

int DoubleStereoInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double k0 = ScaleK0(cs);
  double fe = ProjParam(cs, 4), fn = ProjParam(cs, 5);
  for (int i = 0; i < n; ++i) {
    DPoint u{in[i].x - fe, in[i].y - fn}, p;
    ProjUnitsToMetres(&u, &p, cs);
    double x = p.x / k0, y = p.y / k0;
    double rho = std::sqrt(x * x + y * y);
    double c = 2 * std::atan(rho / (2 * k[kR]));
    double sinDir = rho != 0 ? y / rho : 0;
    double sinC = std::sin(c), cosC = std::cos(c);
    double chi = std::asin(ProjClamp(sinC * sinDir * k[kCosChi0] + cosC * k[kSinChi0], -1.0, 1.0));
    double ny = x * sinC, nx = rho * k[kCosChi0] * cosC - y * k[kSinChi0] * sinC;
    double bigLambda = k[kBigLambda0];
    if (ny != 0 || nx != 0) bigLambda += std::atan2(ny, nx);
    DPoint s{bigLambda, chi}, g;
    GaussSphereInverse(cs, &s, &g);
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowDoubleStereo;
const ProjectionRow kProjRowDoubleStereo = {
    DoubleStereoInit, DoubleStereoScale, DoubleStereoInverse, DoubleStereoForward,
    RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
