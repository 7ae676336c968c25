// Sinusoidal (projection 16): the equal-area map whose parallels keep their
// true length, x = (lambda - lambda0) a cos(phi), y = a phi. Sphere of radius
// a; one parameter, the origin longitude.
#include <cmath>

#include "mapfile/coordsys/pseudocylindrical.h"

namespace layerio {

namespace {


// k: lambda0, a.
enum { kLambda0, kA };

}  // namespace

void SinusoidalInit(CoordSys* cs) {
  cs->k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  cs->k[kA] = cs->ellipsoid.a;
}

int SinusoidalForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint g;
    ProjDegreesToRadians(&in[i], &g);
    DPoint p{std::cos(g.y) * (g.x - cs->k[kLambda0]) * cs->k[kA], g.y * cs->k[kA]};
    ProjMetresToUnits(&p, cs);
    out[i] = p;
  }
  return 0;
}

int SinusoidalInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  for (int i = 0; i < n; ++i) {
    DPoint m;
    ProjUnitsToMetres(&in[i], &m, cs);
    double phi = ProjClamp(m.y, -kSingular, kSingular) / cs->k[kA];
    double width = cs->k[kA] * std::cos(phi);
    double lambda = width == 0.0 ? cs->k[kLambda0] : m.x / width + cs->k[kLambda0];
    DPoint g{lambda, phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

const ProjectionRow kSinusoidalRow = {SinusoidalInit,    ProjUnitScale,      SinusoidalInverse,
                                      SinusoidalForward, RectInverseEquator, RectForwardEquator};

}  // namespace layerio
