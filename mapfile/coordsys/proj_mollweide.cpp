// Mollweide (projection 13): the equal-area world map bounded by an ellipse
// twice as wide as high. The auxiliary angle t = 2 theta solves
// t + sin t = pi sin(phi) by Newton's method. Sphere of radius a; one
// parameter, the origin longitude.
#include <cmath>

#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

namespace {

constexpr double kTolerance = 1e-7;
// Well above what any finite latitude needs (about 40 steps next to the
// poles, where the iteration converges only linearly).
constexpr int kMaxSteps = 100;


// k: a, lambda0, (sqrt 8 / pi) a, sqrt 2 a.
enum { kA, kLambda0, kXa, kYa };

// t = 2 theta for latitude phi (radians). The iteration stops at the first
// correction smaller than the tolerance; that last correction is still
// applied, which costs nothing and leaves the angle exact to rounding instead
// of off by up to the tolerance. A step that is not finite ends the loop
// with the last finite iterate.
double AuxiliaryAngle(double phi) {
  double target = kPi * std::sin(phi);
  double t = phi;
  for (int step = 0; step < kMaxSteps; ++step) {
    double delta = (std::sin(t) + t - target) / (std::cos(t) + 1.0);
    if (!std::isfinite(delta)) break;
    t -= delta;
    if (delta > -kTolerance && delta < kTolerance) break;
  }
  return t;
}

}  // namespace

void MollweideInit(CoordSys* cs) {
  double a = cs->ellipsoid.a;
  cs->k[kA] = a;
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  cs->k[kXa] = std::sqrt(8.0) / kPi * a;
  cs->k[kYa] = std::sqrt(2.0) * a;
}

int MollweideForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint g;
    ProjDegreesToRadians(&in[i], &g);
    double theta = AuxiliaryAngle(g.y) / 2.0;
    DPoint p{std::cos(theta) * (g.x - cs->k[kLambda0]) * cs->k[kXa], std::sin(theta) * cs->k[kYa]};
    ProjMetresToUnits(&p, cs);
    out[i] = p;
  }
  return 0;
}

int MollweideInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    double theta = std::asin(ProjClamp(m.y / cs->k[kYa], -1.0, 1.0));
    double phi = std::asin(ProjClamp((2 * theta + std::sin(2 * theta)) / kPi, -1.0, 1.0));
    double width = std::cos(theta) * cs->k[kXa];
    double lambda = width == 0.0 ? cs->k[kLambda0] : m.x / width + cs->k[kLambda0];
    DPoint g{lambda, phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

double MollweideScale(const CoordSys* cs, const DPoint* lonLat) {
  double latitude = ProjClamp(lonLat->y, -90.0, 90.0);
  if (std::fabs(latitude) == 90.0) return kSingular;
  double phi = latitude * kDegToRad;
  double t = AuxiliaryAngle(phi);
  return std::cos(t / 2.0) * cs->k[kXa] / (cs->k[kA] * std::cos(phi));
}

const ProjectionRow kMollweideRow = {MollweideInit,    MollweideScale,     MollweideInverse,
                                     MollweideForward, RectInverseEquator, RectForwardEquator};

}  // namespace layerio
