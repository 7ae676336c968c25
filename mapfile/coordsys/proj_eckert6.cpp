// Eckert VI (projection 15): an equal-area world map with pole lines half the
// equator's length and sinusoidal meridians. Theta solves
// theta + sin theta = (1 + pi/2) sin(phi) by Newton's method. Sphere of
// radius a; one parameter, the origin longitude.
#include <cmath>

#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

namespace {

constexpr double kTolerance = 1e-7;
constexpr double kRhs = 2.5707963267948966;  // 1 + pi/2
constexpr double kHalfPi = kPi / 2.0;
constexpr int kMaxSteps = 100;


// k: a, lambda0, a / sqrt(2 + pi), 2a / sqrt(2 + pi).
enum { kA, kLambda0, kXa, kYa };

// As for Mollweide, the last correction below the tolerance is applied, and
// a step that is not finite ends the loop with the last finite iterate.
double AuxiliaryAngle(double phi) {
  double target = kRhs * std::sin(phi);
  double theta = phi;
  for (int step = 0; step < kMaxSteps; ++step) {
    double delta = (std::sin(theta) + theta - target) / (std::cos(theta) + 1.0);
    if (!std::isfinite(delta)) break;
    theta -= delta;
    if (delta > -kTolerance && delta < kTolerance) break;
  }
  return theta;
}

}  // namespace

void EckertVIInit(CoordSys* cs) {
  double a = cs->ellipsoid.a;
  cs->k[kA] = a;
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  cs->k[kXa] = a / std::sqrt(5.141592653589793);  // 2 + pi
  cs->k[kYa] = 2.0 * a / std::sqrt(5.141592653589793);
}

int EckertVIForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint g;
    ProjDegreesToRadians(&in[i], &g);
    double theta = AuxiliaryAngle(g.y);
    DPoint p{(g.x - cs->k[kLambda0]) * (1.0 + std::cos(theta)) * cs->k[kXa], theta * cs->k[kYa]};
    ProjMetresToUnits(&p, cs);
    out[i] = p;
  }
  return 0;
}

int EckertVIInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    double theta = ProjClamp(m.y / cs->k[kYa], -kHalfPi, kHalfPi);
    double phi = std::asin(ProjClamp((std::sin(theta) + theta) / kRhs, -1.0, 1.0));
    double lambda = m.x / ((std::cos(theta) + 1.0) * cs->k[kXa]) + cs->k[kLambda0];
    DPoint g{lambda, phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

double EckertVIScale(const CoordSys* cs, const DPoint* lonLat) {
  double latitude = ProjClamp(lonLat->y, -90.0, 90.0);
  if (std::fabs(latitude) == 90.0) return kSingular;
  double phi = latitude * kDegToRad;
  double theta = AuxiliaryAngle(phi);
  return (std::cos(theta) + 1.0) * cs->k[kXa] / (cs->k[kA] * std::cos(phi));
}

const ProjectionRow kEckertVIRow = {EckertVIInit,    EckertVIScale,      EckertVIInverse,
                                    EckertVIForward, RectInverseEquator, RectForwardEquator};

}  // namespace layerio
