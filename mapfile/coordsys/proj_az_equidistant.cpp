// Azimuthal equidistant on the sphere of radius a (5 and 28, which differ
// only in their inverse rectangle), limited to a disc of a given angular
// radius around the centre: points beyond it are drawn on its rim.
// Parameters: origin longitude, origin latitude, disc radius in degrees.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum { kLambda0, kPhi0, kAspect, kSinPhi0, kCosPhi0, kA, kRim, kPhiMin, kPhiMax };


}  // namespace

void AzEquidistantInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a;
  double lat0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0);
  double phi0 = lat0 * kDegToRad;
  double r = ProjClamp(ProjParam(cs, 3), 1.0, 180.0) * kDegToRad;
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 5.0);
  k[kPhi0] = phi0;
  k[kAspect] = lat0 == 90 ? 1 : lat0 == -90 ? -1 : 0;
  k[kSinPhi0] = std::sin(phi0);
  k[kCosPhi0] = std::cos(phi0);
  k[kA] = a;
  k[kRim] = a * r;
  k[kPhiMin] = ProjClamp(phi0 - r, -kPi / 2, kPi / 2);
  k[kPhiMax] = ProjClamp(phi0 + r, -kPi / 2, kPi / 2);
}

int AzEquidistantForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = k[kA];
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double dl = p.x - k[kLambda0], phi = p.y;
    double x, y;
    if (k[kAspect] > 0) {
      double rho = a * (kPi / 2 - phi);
      x = rho * std::sin(dl);
      y = -rho * std::cos(dl);
    } else if (k[kAspect] < 0) {
      double rho = a * (phi + kPi / 2);
      x = rho * std::sin(dl);
      y = rho * std::cos(dl);
    } else {
      double cosPhi = std::cos(phi), sinPhi = std::sin(phi), cosDl = std::cos(dl);
      double cosC = ProjClamp(cosDl * k[kCosPhi0] * cosPhi + sinPhi * k[kSinPhi0], -1.0, 1.0);
      double c = std::acos(cosC);
      double scale = c == 0 ? a : a * c / std::sin(c);
      x = scale * cosPhi * std::sin(dl);
      y = scale * (sinPhi * k[kCosPhi0] - cosDl * cosPhi * k[kSinPhi0]);
    }
    double rho = std::sqrt(x * x + y * y);
    if (rho > k[kRim]) {
      x *= k[kRim] / rho;
      y *= k[kRim] / rho;
    }
    DPoint q{x, y};
    ProjMetresToUnits(&q, cs);
    out[i] = q;
  }
  return 0;
}

int AzEquidistantInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = k[kA];
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjUnitsToMetres(&in[i], &p, cs);
    double x = ProjClamp(p.x, -1e9, 1e9), y = ProjClamp(p.y, -1e9, 1e9);
    double rho = std::sqrt(x * x + y * y);
    double lambda = k[kLambda0], phi = k[kPhi0];
    if (rho > 0) {
      double c = rho / a, sinC = std::sin(c), cosC = std::cos(c);
      if (k[kAspect] != 0) {
        lambda = std::atan2(x, -k[kAspect] * y) + k[kLambda0];
        phi = std::asin(ProjClamp(cosC * k[kSinPhi0], -1.0, 1.0));
      } else {
        lambda = std::atan2(sinC * x, rho * k[kCosPhi0] * cosC - y * k[kSinPhi0] * sinC) +
                 k[kLambda0];
        phi = std::asin(ProjClamp(cosC * k[kSinPhi0] + y * sinC * k[kCosPhi0] / rho, -1.0, 1.0));
      }
      phi = ProjClamp(phi, k[kPhiMin], k[kPhiMax]);
    }
    if (lambda > kPi) lambda -= 2 * kPi;
    if (lambda < -kPi) lambda += 2 * kPi;
    DPoint g{lambda, phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowAzEquidistant;
const ProjectionRow kProjRowAzEquidistant = {
    AzEquidistantInit, ProjUnitScale, AzEquidistantInverse, AzEquidistantForward,
    RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
