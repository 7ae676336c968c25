// Lambert azimuthal equal-area on the ellipsoid through the authalic sphere
// (4 and 29, which differ only in their inverse rectangle), limited to a disc
// of a given angular radius around the centre: points beyond it are drawn on
// its rim. Parameters: origin longitude, origin latitude, disc radius in
// degrees.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum {
  kLambda0, kPhi0, kAspect, kSinPhi0, kCosPhi0, kTwoA, kSpherical, kM1, kQ1, kQp, kBeta1,
  kRq, kD, kRim, kPhiMin, kPhiMax, kG1,  // kG1..kG1+2: authalic series
};

// The scale routine gives this one constant, 4 sin(pi/4) / pi, for every
// point: callers use it as the projection's mean linear scale.
constexpr double kMeanScale = 0.9003163161571062;


// The authalic series lands within about 1e-9 radians; one Newton step on
// q(phi) takes the latitude to the exact inverse of the forward's q.
double RefineFromQ(double e2, double q, double phi) {
  double s = std::sin(phi), c = std::cos(phi);
  if (e2 <= 0 || c <= 1e-10) return phi;
  double e = std::sqrt(e2), w = 1 - e2 * s * s;
  double step = w * w / (2 * c) *
                (q / (1 - e2) - s / w + std::log((1 - e * s) / (1 + e * s)) / (2 * e));
  double refined = phi + step;
  return std::isfinite(refined) ? ProjClamp(refined, -kPi / 2, kPi / 2) : phi;
}

}  // namespace

void AzEqualAreaInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double lat0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0);
  double phi0 = lat0 * kDegToRad;
  double r = ProjClamp(ProjParam(cs, 3), 1.0, 180.0) * kDegToRad;
  bool spherical = e2 == 0;
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 5.0);
  k[kPhi0] = phi0;
  k[kAspect] = lat0 == 90 ? 1 : lat0 == -90 ? -1 : 0;
  k[kSinPhi0] = std::sin(phi0);
  k[kCosPhi0] = std::cos(phi0);
  k[kTwoA] = 2 * a;
  k[kSpherical] = spherical ? 1 : 0;
  k[kM1] = ParallelFactor(e2, phi0);
  k[kQ1] = AuthalicQ(e2, phi0);
  k[kQp] = AuthalicQ(e2, kPi / 2);
  k[kBeta1] = std::asin(ProjClamp(k[kQ1] / k[kQp], -1.0, 1.0));
  k[kRq] = a * std::sqrt(k[kQp] / 2);
  double cosBeta1 = std::cos(k[kBeta1]);
  k[kD] = (spherical || cosBeta1 == 0) ? 1 : a * k[kM1] / (k[kRq] * cosBeta1);
  k[kRim] = 2 * a * std::sin(r / 2);
  k[kPhiMin] = ProjClamp(phi0 - r, -kPi / 2, kPi / 2);
  k[kPhiMax] = ProjClamp(phi0 + r, -kPi / 2, kPi / 2);
  AuthalicSeriesInit(e2, &k[kG1]);
}

double AzEqualAreaScale(const CoordSys*, const DPoint*) { return kMeanScale; }

int AzEqualAreaForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double dl = p.x - k[kLambda0];
    double q = AuthalicQ(e2, p.y);
    double x, y;
    if (k[kAspect] > 0) {
      double rho = a * std::sqrt(std::fmax(k[kQp] - q, 0.0));
      x = rho * std::sin(dl);
      y = -rho * std::cos(dl);
    } else if (k[kAspect] < 0) {
      double rho = a * std::sqrt(std::fmax(k[kQp] + q, 0.0));
      x = rho * std::sin(dl);
      y = rho * std::cos(dl);
    } else {
      double beta = std::asin(ProjClamp(q / k[kQp], -1.0, 1.0));
      double sinB = std::sin(beta), cosB = std::cos(beta), cosDl = std::cos(dl);
      double sinB1 = std::sin(k[kBeta1]), cosB1 = std::cos(k[kBeta1]);
      double denominator = 1 + sinB1 * sinB + cosB1 * cosB * cosDl;
      // The antipode of the centre has no direction; it goes to the rim.
      double b = denominator > 0 ? k[kRq] * std::sqrt(2 / denominator) : kSingular;
      x = b * k[kD] * cosB * std::sin(dl);
      y = (b / k[kD]) * (cosB1 * sinB - sinB1 * cosB * cosDl);
    }
    double rho = std::sqrt(x * x + y * y);
    if (rho > k[kRim]) {
      x *= k[kRim] / rho;
      y *= k[kRim] / rho;
    }
    DPoint r{x, y};
    ProjMetresToUnits(&r, cs);
    out[i] = r;
  }
  return 0;
}

int AzEqualAreaInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double sinB1 = std::sin(k[kBeta1]), cosB1 = std::cos(k[kBeta1]), dd = k[kD];
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjUnitsToMetres(&in[i], &p, cs);
    double x = p.x, y = p.y;
    double lambda = k[kLambda0], phi = k[kPhi0];
    if (k[kSpherical] == 0) {
      double xs = x / dd, ys = dd * y;
      double rho = std::sqrt(xs * xs + ys * ys);
      double ce = 2 * std::asin(ProjClamp(rho / (2 * k[kRq]), -1.0, 1.0));
      double beta = k[kBeta1];
      if (rho != 0) {
        if (k[kAspect] != 0) {
          double v = std::asin(ProjClamp(1 - (x * x + y * y) / (a * a * k[kQp]), -1.0, 1.0));
          beta = k[kAspect] > 0 ? v : -v;
          lambda = k[kLambda0] + (k[kAspect] > 0 ? std::atan2(x, -y) : std::atan2(x, y));
        } else {
          double sinCe = std::sin(ce), cosCe = std::cos(ce);
          beta = std::asin(ProjClamp(cosCe * sinB1 + dd * y * sinCe * cosB1 / rho, -1.0, 1.0));
          lambda = k[kLambda0] + std::atan2(x * sinCe, dd * rho * cosB1 * cosCe -
                                                           dd * dd * y * sinB1 * sinCe);
        }
      }
      phi = AuthalicToGeodetic(beta, &k[kG1]);
      phi = RefineFromQ(e2, k[kQp] * std::sin(beta), phi);
      phi = ProjClamp(phi, k[kPhiMin], k[kPhiMax]);
    } else {
      double rho = std::sqrt(x * x + y * y);
      if (rho != 0) {
        double c = 2 * std::asin(ProjClamp(rho / (2 * a), -1.0, 1.0));
        double sinC = std::sin(c), cosC = std::cos(c), sinPhi;
        if (k[kAspect] != 0) {
          lambda = k[kLambda0] + std::atan2(x, -k[kAspect] * y);
          sinPhi = cosC * k[kSinPhi0];
        } else {
          lambda = k[kLambda0] +
                   std::atan2(sinC * x, cosC * k[kCosPhi0] * rho - sinC * y * k[kSinPhi0]);
          sinPhi = cosC * k[kSinPhi0] + k[kCosPhi0] * y * sinC / rho;
        }
        phi = ProjClamp(std::asin(ProjClamp(sinPhi, -1.0, 1.0)), k[kPhiMin], k[kPhiMax]);
      }
    }
    if (lambda > kPi) lambda -= 2 * kPi;
    if (lambda < -kPi) lambda += 2 * kPi;
    DPoint g{lambda, phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowAzEqualArea;
const ProjectionRow kProjRowAzEqualArea = {
    AzEqualAreaInit, AzEqualAreaScale, AzEqualAreaInverse, AzEqualAreaForward,
    RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
