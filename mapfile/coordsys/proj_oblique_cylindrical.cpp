// Projection 25, oblique conformal cylindrical projection: the ellipsoid is
// mapped conformally onto a sphere of radius R (Gauss), the sphere is rotated
// so that the origin lies on its equator, and the rotated sphere is drawn in
// Mercator's projection. Parameters: origin longitude, origin latitude, false
// easting, false northing (projected units).
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum { kE, kB, kR, kB0, kSinB0, kCosB0, kK, kLambda0, kPhi0 };

constexpr int kMaxIterations = 30;
constexpr double kLatitudeTolerance = 1e-9;


// ln((1 + s) / (1 - s)), infinite at s = +-1 (only ever passed to exp/atan).
double LogRatio(double s) { return std::log((1 + s) / (1 - s)); }

// The ellipsoid's isometric latitude terms: B times the isometric latitude
// plus K gives the conformal sphere's isometric latitude.
double SphereIsometric(const double* k, double sinPhi) {
  double e = k[kE];
  double q = LogRatio(sinPhi) / 2;
  if (e > 0) q -= e * LogRatio(e * sinPhi) / 2;
  return k[kB] * q + k[kK];
}

}  // namespace

void ObliqueCylindricalInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0);
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad;
  k[kPhi0] = phi0;
  double e = std::sqrt(e2);
  double s0 = std::sin(phi0), c0 = std::cos(phi0);
  double b = std::sqrt(1 + e2 * c0 * c0 * c0 * c0 / (1 - e2));
  k[kE] = e;
  k[kB] = b;
  k[kR] = a * std::sqrt(1 - e2) / (1 - e2 * s0 * s0);
  double sinB0 = ProjClamp(s0 / b, -1.0, 1.0);
  double b0 = std::asin(sinB0);
  k[kB0] = b0;
  k[kSinB0] = std::sin(b0);
  k[kCosB0] = std::cos(b0);
  if (sinB0 == 1.0 || sinB0 == -1.0 || s0 == 1.0 || s0 == -1.0)
    k[kK] = 0;
  else
    k[kK] = (LogRatio(sinB0) - b * LogRatio(s0) + b * e * LogRatio(e * s0)) / 2;
}

double ObliqueCylindricalScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  double lat = ProjClamp(lonLat->y, -90.0, 90.0), lon = ProjClamp(lonLat->x, -360.0, 360.0);
  double phi = lat * kDegToRad;
  double cphi = std::cos(phi);
  if (cphi == 0.0 || std::fabs(lat) == 90.0) return kSingular;
  double s = std::sin(phi);
  double bSphere = 2 * std::atan(std::exp(SphereIsometric(k, s))) - kPi / 2;
  double l = k[kB] * (lon * kDegToRad - k[kLambda0]);
  double sinBr = k[kCosB0] * std::sin(bSphere) - k[kSinB0] * std::cos(bSphere) * std::cos(l);
  double cosBr = std::sqrt(std::fmax(0.0, 1 - sinBr * sinBr));
  if (cosBr == 0.0) return kSingular;
  double n = cs->ellipsoid.a / std::sqrt(1 - cs->ellipsoid.e2 * s * s);
  return k[kR] * k[kB] * std::cos(bSphere) / (n * cphi * cosBr);
}

int ObliqueCylindricalForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double fe = ProjParam(cs, 3), fn = ProjParam(cs, 4);
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double bSphere = 2 * std::atan(std::exp(SphereIsometric(k, std::sin(p.y)))) - kPi / 2;
    double l = k[kB] * (p.x - k[kLambda0]);
    double sb = std::sin(bSphere), cb = std::cos(bSphere), cl = std::cos(l);
    double sinBr = ProjClamp(k[kCosB0] * sb - k[kSinB0] * cb * cl, -1.0, 1.0);
    double lr = std::atan2(cb * std::sin(l), k[kSinB0] * sb + k[kCosB0] * cb * cl);
    DPoint r;
    r.x = k[kR] * lr;
    if (sinBr == 1.0)
      r.y = kSingular;
    else if (sinBr == -1.0)
      r.y = -kSingular;
    else
      r.y = k[kR] / 2 * LogRatio(sinBr);
    ProjMetresToUnits(&r, cs);
    r.x += fe;
    r.y += fn;
    out[i] = r;
  }
  return 0;
}

int ObliqueCylindricalInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double fe = ProjParam(cs, 3), fn = ProjParam(cs, 4);
  double e = k[kE];
  for (int i = 0; i < n; ++i) {
    DPoint u{in[i].x - fe, in[i].y - fn}, m;
    ProjUnitsToMetres(&u, &m, cs);
    double lr = m.x / k[kR];
    double br = 2 * std::atan(std::exp(m.y / k[kR])) - kPi / 2;
    double sbr = std::sin(br), cbr = std::cos(br), clr = std::cos(lr);
    double sinB = ProjClamp(k[kCosB0] * sbr + k[kSinB0] * cbr * clr, -1.0, 1.0);
    double l = std::atan2(cbr * std::sin(lr), k[kCosB0] * cbr * clr - k[kSinB0] * sbr);
    // Back from the sphere's isometric latitude to the ellipsoid's, by
    // fixed-point iteration on the latitude.
    double q = (LogRatio(sinB) / 2 - k[kK]) / k[kB];
    double phi = std::asin(sinB);
    if (std::isfinite(q)) {
      for (int it = 0; it < kMaxIterations; ++it) {
        double next = 2 * std::atan(std::exp(q + e * LogRatio(e * std::sin(phi)) / 2)) - kPi / 2;
        bool done = std::fabs(next - phi) <= kLatitudeTolerance;
        phi = next;
        if (done) break;
      }
    }
    DPoint g{k[kLambda0] + l / k[kB], phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowObliqueCylindrical;
// The rectangles are the oblique ones (rect_grid.cpp): corners alone miss
// where the image of a rectangle reaches furthest.
const ProjectionRow kProjRowObliqueCylindrical = {
    ObliqueCylindricalInit,    ObliqueCylindricalScale, ObliqueCylindricalInverse,
    ObliqueCylindricalForward, RectInverseOblique,      RectForwardOblique};

}  // namespace layerio
