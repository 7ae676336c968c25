// Distances between two points of a coordinate system: planar in the
// system's own unit, or a central angle on the sphere whose degree is the
// unit table's degree (6,370,997 m radius), so that a distance never depends
// on the system's ellipsoid.
#include <algorithm>
#include <cmath>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/coordsys/projection.h"

namespace layerio {

double PlanarDistance(const DPoint* p, const DPoint* q) {
  double dx = p->x - q->x, dy = p->y - q->y;
  return std::sqrt(dx * dx + dy * dy);
}

double SphericalAngle(const DPoint* p, const DPoint* q) {
  double sx = std::sin((q->x - p->x) / 2), sy = std::sin((q->y - p->y) / 2);
  double h = sx * sx * std::cos(p->y) * std::cos(q->y) + sy * sy;
  if (h <= 0) return 0;
  return 2 * std::asin(std::min(std::sqrt(h), 1.0));
}

double SphericalDistanceDegrees(const DPoint* p, const DPoint* q, int mode, int approximate,
                                int* formula) {
  if (formula) *formula = 0;
  DPoint a, b;
  ProjDegreesToRadians(p, &a);
  ProjDegreesToRadians(q, &b);
  const double pole = 90 * kDegToRad;
  if ((a.x == b.x && a.y == b.y) || (a.y >= pole && b.y >= pole) ||
      (a.y <= -pole && b.y <= -pole))
    return 0;
  double angle;
  if (mode && approximate) {
    double m = (a.y + b.y) / 2;
    double dx = (b.x - a.x) * std::cos(m), dy = b.y - a.y;
    angle = std::sqrt(dx * dx + dy * dy);
    if (formula) *formula = 2;
  } else {
    angle = SphericalAngle(&a, &b);
  }
  return angle * kRadToDeg;
}

double CoordSysDistance(const DPoint* p, const DPoint* q, const CoordSys* cs, int resultUnit,
                        int pointUnit, int mode, int* formula, int approximate) {
  double result;
  if (cs->projection == 0 || (mode == 1 && cs->projection != 1)) {
    if (formula) *formula = 1;
    UnitConvert(&result, resultUnit, PlanarDistance(p, q), pointUnit);
    return result;
  }
  // Linear units reach degrees through the system's inverse chain, which the
  // unit conversions find among the installed services.
  CoordSysInstallUnitServices();
  DPoint a, b;
  UnitConvertPoint(&a, kUnitDegree, p, pointUnit, cs);
  UnitConvertPoint(&b, kUnitDegree, q, pointUnit, cs);
  double degrees = SphericalDistanceDegrees(&a, &b, mode, approximate, formula);
  UnitConvert(&result, resultUnit, degrees, kUnitDegree);
  return result;
}

double CoordIntDistance(const IPoint* p, const IPoint* q, const CoordSys* cs, int resultUnit,
                        int mode, int* formula, int approximate) {
  IPoint in[2] = {*p, *q};
  DPoint units[2];
  CoordIntToUnits(in, units, cs, 2);
  return CoordSysDistance(&units[0], &units[1], cs, resultUnit, CoordSysUnits(cs), mode, formula,
                          approximate);
}

}  // namespace layerio
