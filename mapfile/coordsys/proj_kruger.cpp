// Transverse Mercator by the Krueger n-series (projection 24): the
// conformal latitude, the spherical transverse Mercator on the rectifying
// radius, and the fourth-order n-series that carries it onto the ellipsoid.
// Accurate to well below a millimetre far further from the central meridian
// than the power series of projection 8. The scale factor and the origin
// latitude of the parameters are not used here.
#include <cmath>

#include "mapfile/coordsys/proj_transverse.h"
#include "mapfile/coordsys/tm_constants.h"

namespace layerio {

void KrugerInit(CoordSys* cs) {
  double* k = cs->k;
  double f = cs->ellipsoid.f;
  double n = f / (2 - f);
  double n2 = n * n, n3 = n2 * n, n4 = n3 * n;
  k[kKrE] = std::sqrt(cs->ellipsoid.e2);
  k[kKrA] = cs->ellipsoid.a * (1 + n2 / 4 + n4 / 64) / (1 + n);
  double* h = &k[kKrH1];
  h[0] = n / 2 - 2 * n2 / 3 + 5 * n3 / 16 + 41 * n4 / 180;
  h[1] = 13 * n2 / 48 - 3 * n3 / 5 + 557 * n4 / 1440;
  h[2] = 61 * n3 / 240 - 103 * n4 / 140;
  h[3] = 49561 * n4 / 161280;
  double* d = &k[kKrD1];
  d[0] = n / 2 - 2 * n2 / 3 + 37 * n3 / 96 - n4 / 360;
  d[1] = n2 / 48 + n3 / 15 - 437 * n4 / 1440;
  d[2] = 17 * n3 / 480 - 37 * n4 / 840;
  d[3] = 4397 * n4 / 161280;
}

void KrugerForwardPoint(const CoordSys* cs, double lambda, double phi, double* x, double* y) {
  const double* k = cs->k;
  double e = k[kKrE];
  double q = std::asinh(std::tan(phi)) - e * std::atanh(e * std::sin(phi));
  double beta = std::atan(std::sinh(q));
  double u = std::cos(beta) * std::sin(lambda - k[kTmLambda0]);
  // A point 90 degrees from the central meridian on the equator lies at
  // infinity.
  if (u >= 1.0 || u <= -1.0) {
    *x = u > 0 ? kSingular : -kSingular;
    *y = 0;
    return;
  }
  double eta = std::atanh(u);
  double xi = std::asin(ProjClamp(std::sin(beta) * std::cosh(eta), -1.0, 1.0));
  double sx = xi, sy = eta;
  const double* h = &k[kKrH1];
  for (int i = 1; i <= 4; ++i) {
    sx += h[i - 1] * std::sin(2 * i * xi) * std::cosh(2 * i * eta);
    sy += h[i - 1] * std::cos(2 * i * xi) * std::sinh(2 * i * eta);
  }
  *x = ProjClamp(k[kKrA] * sy, -kSingular, kSingular);
  *y = ProjClamp(k[kKrA] * sx, -kSingular, kSingular);
}

void KrugerInversePoint(const CoordSys* cs, double x, double y, double* lambda, double* phi) {
  const double* k = cs->k;
  // Far beyond the quarter-sphere the series means nothing; keeping eta
  // bounded keeps its hyperbolic terms finite (tanh(40) is 1 already).
  double xi = y / k[kKrA], eta = ProjClamp(x / k[kKrA], -40.0, 40.0);
  double xi1 = xi, eta1 = eta;
  const double* d = &k[kKrD1];
  for (int i = 1; i <= 4; ++i) {
    xi1 -= d[i - 1] * std::sin(2 * i * xi) * std::cosh(2 * i * eta);
    eta1 -= d[i - 1] * std::cos(2 * i * xi) * std::sinh(2 * i * eta);
  }
  double beta = std::asin(ProjClamp(std::sin(xi1) / std::cosh(eta1), -1.0, 1.0));
  *lambda = k[kTmLambda0] + std::asin(ProjClamp(std::tanh(eta1) / std::cos(beta), -1.0, 1.0));
  double e = k[kKrE];
  double q1 = std::asinh(std::tan(beta));
  double q = q1;
  for (int i = 0; i < 10; ++i) q = q1 + e * std::atanh(e * std::tanh(q));
  *phi = std::atan(std::sinh(q));
}

}  // namespace layerio
