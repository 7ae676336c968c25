// The steps every projection routine shares: the degree/radian steps with
// their clamps, the unit steps, the conformal-latitude series, the constant
// and secant scale factors and the corner-pair rectangles.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

void ProjDegreesToRadians(const DPoint* in, DPoint* out) {
  double x = ProjClamp(in->x, -360.0, 360.0), y = ProjClamp(in->y, -90.0, 90.0);
  out->x = x * kDegToRad;
  out->y = y * kDegToRad;
}

void ProjRadiansToDegrees(const DPoint* in, DPoint* out) {
  double x = in->x * kRadToDeg, y = in->y * kRadToDeg;
  out->x = ProjClamp(x, -360.0, 360.0);
  out->y = ProjClamp(y, -90.0, 90.0);
}

void ProjMetresToUnits(DPoint* p, const CoordSys* cs) {
  int unit = cs->params.projectedUnit;
  if (unit == kUnitMetre) return;
  UnitConvertPoint(p, unit, p, kUnitMetre, cs);
}

void ProjUnitsToMetres(const DPoint* in, DPoint* out, const CoordSys* cs) {
  int unit = cs->params.projectedUnit;
  if (unit == kUnitMetre) {
    *out = *in;
    return;
  }
  UnitConvertPoint(out, kUnitMetre, in, unit, cs);
}

double ProjParam(const CoordSys* cs, int k) { return cs->params.params[k - 1]; }

double ProjSetCentralMeridian(CoordSys* cs, double longitudeDegrees, double probeOffset) {
  double c = ProjClamp(longitudeDegrees, -360.0, 360.0);
  cs->centralMeridian = c;
  cs->probeOffset = probeOffset;
  return c * kDegToRad;
}

void ConformalSeriesInit(double e2, double c[4]) {
  double e4 = e2 * e2, e6 = e4 * e2, e8 = e6 * e2;
  double a1 = e2 / 2 + 5 * e4 / 24 + e6 / 12 + 13 * e8 / 360;
  double a2 = 7 * e4 / 48 + 29 * e6 / 240 + 811 * e8 / 11520;
  double a3 = 7 * e6 / 120 + 81 * e8 / 1120;
  double a4 = 4279 * e8 / 161280;
  c[0] = a1 - a3;
  c[1] = 2 * a2 - 4 * a4;
  c[2] = 4 * a3;
  c[3] = 8 * a4;
}

double ConformalToGeodetic(double chi, const double c[4]) {
  double c2 = std::cos(2 * chi);
  return chi + std::sin(2 * chi) * (((c[3] * c2 + c[2]) * c2 + c[1]) * c2 + c[0]);
}

void MeridianSeriesInit(double e2, double m[7]) {
  double e4 = e2 * e2, e6 = e4 * e2;
  double a0 = 1 - e2 / 4 - 3 * e4 / 64 - 5 * e6 / 256;
  double k1 = 3 * e2 / 8 + 3 * e4 / 32 + 45 * e6 / 1024;
  double k2 = 15 * e4 / 256 + 45 * e6 / 1024;
  double k3 = 35 * e6 / 3072;
  m[0] = a0;
  m[1] = -k1 + k3;
  m[2] = 2 * k2;
  m[3] = -4 * k3;
  m[4] = k1;
  m[5] = k2;
  m[6] = k3;
}

double MeridianDistance(const double m[7], double a, double phi) {
  double c2 = std::cos(2 * phi);
  return a * (m[0] * phi + std::sin(2 * phi) * ((m[3] * c2 + m[2]) * c2 + m[1]));
}

void FootpointSeriesInit(double e2, double j[4]) {
  double r = std::sqrt(1 - e2);
  double e1 = (1 - r) / (1 + r);
  double e12 = e1 * e1, e13 = e12 * e1, e14 = e13 * e1;
  double f1 = 3 * e1 / 2 - 27 * e13 / 32;
  double f2 = 21 * e12 / 16 - 55 * e14 / 32;
  double f3 = 151 * e13 / 96;
  double f4 = 1097 * e14 / 512;
  j[0] = f1 - f3;
  j[1] = 2 * f2 - 4 * f4;
  j[2] = 4 * f3;
  j[3] = 8 * f4;
}

double FootpointLatitude(double mu, const double j[4]) {
  double c2 = std::cos(2 * mu);
  return mu + std::sin(2 * mu) * (((j[3] * c2 + j[2]) * c2 + j[1]) * c2 + j[0]);
}

void AuthalicSeriesInit(double e2, double g[3]) {
  double e4 = e2 * e2, e6 = e4 * e2;
  double b1 = e2 / 3 + 31 * e4 / 180 + 517 * e6 / 5040;
  double b2 = 23 * e4 / 360 + 251 * e6 / 3780;
  double b3 = 761 * e6 / 45360;
  g[0] = b1 - b3;
  g[1] = 2 * b2;
  g[2] = 4 * b3;
}

double AuthalicToGeodetic(double beta, const double g[3]) {
  double c2 = std::cos(2 * beta);
  return beta + std::sin(2 * beta) * ((g[2] * c2 + g[1]) * c2 + g[0]);
}

double AuthalicQ(double e2, double phi) {
  double s = std::sin(phi);
  if (e2 <= 0) return 2 * s;
  double e = std::sqrt(e2);
  return (1 - e2) * (s / (1 - e2 * s * s) - (1 / (2 * e)) * std::log((1 - e * s) / (1 + e * s)));
}

double ParallelFactor(double e2, double phi) {
  double s = std::sin(phi);
  return std::cos(phi) / std::sqrt(1 - e2 * s * s);
}

void ConicPolar(double x, double y, double rho0, bool southern, double* rho, double* theta) {
  double d = rho0 - y;
  double r = std::sqrt(x * x + d * d);
  if (southern) {
    r = -r;
    x = -x;
    d = -d;
  }
  *rho = r;
  *theta = (x == 0 && d == 0) ? 0 : std::atan2(x, d);
}

double ProjUnitScale(const CoordSys*, const DPoint*) { return 1.0; }

double SecantScale(const CoordSys*, const DPoint* lonLat) {
  // cos(pi/2) rounds to 6e-17, not 0: the poles are caught by their latitude.
  double lat = ProjClamp(lonLat->y, -90.0, 90.0);
  double c = std::cos(lat * kDegToRad);
  return c == 0.0 || lat == 90.0 || lat == -90.0 ? kSingular : 1.0 / c;
}

void RectForwardCorners(const DRect* in, DRect* out, const CoordSys* cs) {
  DPoint p[2] = {{in->x1, in->y1}, {in->x2, in->y2}};
  cs->forwardPoints(p, p, cs, 2);
  DRect r{p[0].x, p[0].y, p[1].x, p[1].y};
  DRectNormalize(&r);
  *out = r;
}

void RectInverseCorners(const DRect* in, DRect* out, const CoordSys* cs) {
  DPoint p[2] = {{in->x1, in->y1}, {in->x2, in->y2}};
  cs->inversePoints(p, p, cs, 2);
  DRect r{p[0].x, p[0].y, p[1].x, p[1].y};
  DRectNormalize(&r);
  *out = r;
}

}  // namespace layerio
