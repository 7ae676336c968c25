// The steps every projection routine shares: the degree/radian steps with
// their clamps, the unit steps, the conformal-latitude series, the constant
// and secant scale factors and the corner-pair rectangles.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

double Clamp(double v, double low, double high) { return v < low ? low : v > high ? high : v; }

}  // namespace

void ProjDegreesToRadians(const DPoint* in, DPoint* out) {
  double x = Clamp(in->x, -360.0, 360.0), y = Clamp(in->y, -90.0, 90.0);
  out->x = x * kDegToRad;
  out->y = y * kDegToRad;
}

void ProjRadiansToDegrees(const DPoint* in, DPoint* out) {
  double x = in->x * kRadToDeg, y = in->y * kRadToDeg;
  out->x = Clamp(x, -360.0, 360.0);
  out->y = Clamp(y, -90.0, 90.0);
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
  double c = Clamp(longitudeDegrees, -360.0, 360.0);
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

double ProjUnitScale(const CoordSys*, const DPoint*) { return 1.0; }

double SecantScale(const CoordSys*, const DPoint* lonLat) {
  double c = std::cos(Clamp(lonLat->y, -90.0, 90.0) * kDegToRad);
  return c == 0.0 ? kSingular : 1.0 / c;
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
