// Eckert IV (projection 14): an equal-area world map whose poles are lines
// half the equator's length and whose meridians are semicircles. Theta solves
// theta + sin theta cos theta + 2 sin theta = (2 + pi/2) sin(phi) by Newton's
// method. Sphere of radius a; one parameter, the origin longitude.
#include <cmath>

#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

namespace {

constexpr double kTolerance = 1e-7;
constexpr double kRhs = 3.5707963267948966;  // 2 + pi/2
// The poles are a double root: convergence is linear there (about 25 steps).
constexpr int kMaxSteps = 100;


// k: a, lambda0, 2a / sqrt(pi (4 + pi)), 2a sqrt(pi / (4 + pi)).
enum { kA, kLambda0, kXa, kYa };

// As for Mollweide, the last correction below the tolerance is applied, and
// a step that is not finite ends the loop with the last finite iterate.
double AuxiliaryAngle(double phi) {
  double target = kRhs * std::sin(phi);
  double theta = phi / 2.0;
  for (int step = 0; step < kMaxSteps; ++step) {
    double c = std::cos(theta), s = std::sin(theta);
    double delta = (s * (c + 2.0) + theta - target) / (2.0 * c * (c + 1.0));
    if (!std::isfinite(delta)) break;
    theta -= delta;
    if (delta > -kTolerance && delta < kTolerance) break;
  }
  return theta;
}

}  // namespace

void EckertIVInit(CoordSys* cs) {
  double a = cs->ellipsoid.a;
  cs->k[kA] = a;
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  cs->k[kXa] = 2.0 * a / std::sqrt(22.43597501544853);    // pi (4 + pi)
  cs->k[kYa] = 2.0 * a * std::sqrt(0.43990084648844263);  // pi / (4 + pi)
}

int EckertIVForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint g;
    ProjDegreesToRadians(&in[i], &g);
    double theta = AuxiliaryAngle(g.y);
    DPoint p{(g.x - cs->k[kLambda0]) * (1.0 + std::cos(theta)) * cs->k[kXa],
             std::sin(theta) * cs->k[kYa]};
    ProjMetresToUnits(&p, cs);
    out[i] = p;
  }
  return 0;
}

int EckertIVInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    double theta = std::asin(ProjClamp(m.y / cs->k[kYa], -1.0, 1.0));
    double s = std::sin(theta), c = std::cos(theta);
    double phi = std::asin(ProjClamp((theta + s * (c + 2.0)) / kRhs, -1.0, 1.0));
    // cos theta + 1 is at least 1: no division by zero.
    double lambda = m.x / ((c + 1.0) * cs->k[kXa]) + cs->k[kLambda0];
    DPoint g{lambda, phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

double EckertIVScale(const CoordSys* cs, const DPoint* lonLat) {
  double latitude = ProjClamp(lonLat->y, -90.0, 90.0);
  if (std::fabs(latitude) == 90.0) return kSingular;
  double phi = latitude * kDegToRad;
  double theta = AuxiliaryAngle(phi);
  return (std::cos(theta) + 1.0) * cs->k[kXa] / (cs->k[kA] * std::cos(phi));
}

const ProjectionRow kEckertIVRow = {EckertIVInit,    EckertIVScale,      EckertIVInverse,
                                    EckertIVForward, RectInverseEquator, RectForwardEquator};

}  // namespace layerio
