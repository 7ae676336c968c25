// Hotine oblique Mercator (projection 7) on the ellipsoid, azimuth form: a
// Mercator projection of an aposphere whose central line runs through the
// centre (lambda_c, phi_c) at azimuth alpha_c; u is measured from the
// natural origin, not from the centre. Parameters: longitude and latitude
// of the centre, azimuth (degrees), scale factor on the central line (0
// meaning 1), false easting and northing (projected units).
#include <cmath>

#include "mapfile/coordsys/oblique_grids.h"

namespace layerio {

namespace {

constexpr double kQuarterPi = kPi / 4.0;
constexpr double kHalfPi = kPi / 2.0;


// k: the constants of the aposphere and of the rotation to the grid.
enum {
  kE,
  kPhiC,
  kAlphaC,
  kSinAlpha,
  kCosAlpha,
  kK0,
  kB,
  kA,
  kT0,
  kD,
  kF,
  kEConst,
  kG,
  kGamma0,
  kSinGamma,
  kCosGamma,
  kLambda0,
  kSeries,  // four conformal-latitude coefficients
};

// t of the conformal latitude, as in the Mercator projection.
double IsometricT(double e, double sinPhi) {
  return std::sqrt(((1 - sinPhi) / (1 + sinPhi)) *
                   std::pow((1 + e * sinPhi) / (1 - e * sinPhi), e));
}

// u and v on the aposphere for a point in radians.
void Aposphere(const CoordSys* cs, double lambda, double phi, double* u, double* v) {
  const double* k = cs->k;
  double sinPhi = std::sin(phi);
  double aOverB = k[kA] / k[kB];
  if (sinPhi == 1.0 || sinPhi == -1.0) {
    *u = aOverB * phi;
    double tangent =
        std::tan(sinPhi < 0 ? kQuarterPi + k[kGamma0] / 2 : kQuarterPi - k[kGamma0] / 2);
    *v = tangent <= 0 ? -kSingular : aOverB * std::log(tangent);
    return;
  }
  double t = IsometricT(k[kE], sinPhi);
  double q = k[kEConst] / std::pow(t, k[kB]);
  double s, tt;
  if (q == 0) {
    s = -kSingular;
    tt = kSingular;
  } else {
    s = (q - 1 / q) / 2;
    tt = (q + 1 / q) / 2;
  }
  double dl = k[kB] * (lambda - k[kLambda0]);
  double vv = std::sin(dl);
  double uu = (s * k[kSinGamma] - vv * k[kCosGamma]) / tt;
  if (uu == 1.0)
    *v = -kSingular;
  else if (uu == -1.0)
    *v = kSingular;
  else
    *v = k[kA] * std::log((1 - uu) / (1 + uu)) / (2 * k[kB]);
  double c = std::cos(dl);
  *u = c == 0 ? k[kA] * k[kB] * (lambda - k[kLambda0])
              : aOverB * std::atan2(s * k[kCosGamma] + vv * k[kSinGamma], c);
}

}  // namespace

void ObliqueMercInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double lambdaC = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  double e = std::sqrt(e2);
  double phiC = ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad;
  double alphaC = ProjClamp(ProjParam(cs, 3), -360.0, 360.0) * kDegToRad;
  double k0 = ProjParam(cs, 4) == 0 ? 1.0 : ProjParam(cs, 4);
  double sinPhi = std::sin(phiC), cosPhi = std::cos(phiC);
  double b = std::sqrt(1 + e2 * cosPhi * cosPhi * cosPhi * cosPhi / (1 - e2));
  double bigA = a * b * k0 * std::sqrt(1 - e2) / (1 - e2 * sinPhi * sinPhi);
  double t0 = 1 + sinPhi == 0 ? kSingular : IsometricT(e, sinPhi);
  double divisor = cosPhi * std::sqrt(1 - e2 * sinPhi * sinPhi);
  double d = divisor == 0 ? kSingular : b * std::sqrt(1 - e2) / divisor;
  // D is 1 at the equator; rounding must not make D^2 - 1 negative.
  double d2 = d * d < 1 ? 1.0 : d * d;
  double f = phiC > 0 ? d + std::sqrt(d2 - 1) : d - std::sqrt(d2 - 1);
  double bigE = f * std::pow(t0, b);
  double g = f == 0 ? -kSingular : (f - 1 / f) / 2;
  double gamma0 = std::asin(ProjClamp(std::sin(alphaC) / d, -1.0, 1.0));
  double lambda0 = lambdaC - std::asin(ProjClamp(g * std::tan(gamma0), -1.0, 1.0)) / b;
  k[kE] = e;
  k[kPhiC] = phiC;
  k[kAlphaC] = alphaC;
  k[kSinAlpha] = std::sin(alphaC);
  k[kCosAlpha] = std::cos(alphaC);
  k[kK0] = k0;
  k[kB] = b;
  k[kA] = bigA;
  k[kT0] = t0;
  k[kD] = d;
  k[kF] = f;
  k[kEConst] = bigE;
  k[kG] = g;
  k[kGamma0] = gamma0;
  k[kSinGamma] = std::sin(gamma0);
  k[kCosGamma] = std::cos(gamma0);
  k[kLambda0] = lambda0;
  ConformalSeriesInit(e2, &k[kSeries]);
}

int ObliqueMercForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double falseEasting = ProjParam(cs, 5), falseNorthing = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint g;
    ProjDegreesToRadians(&in[i], &g);
    double u, v;
    Aposphere(cs, g.x, g.y, &u, &v);
    DPoint p{v * k[kCosAlpha] + u * k[kSinAlpha], u * k[kCosAlpha] - v * k[kSinAlpha]};
    ProjMetresToUnits(&p, cs);
    p.x += falseEasting;
    p.y += falseNorthing;
    out[i] = p;
  }
  return 0;
}

int ObliqueMercInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double falseEasting = ProjParam(cs, 5), falseNorthing = ProjParam(cs, 6);
  for (int i = 0; i < n; ++i) {
    DPoint shifted{in[i].x - falseEasting, in[i].y - falseNorthing};
    DPoint m;
    ProjUnitsToMetres(&shifted, &m, cs);
    double x = ProjClamp(m.x, -kSingular, kSingular), y = ProjClamp(m.y, -kSingular, kSingular);
    double v = x * k[kCosAlpha] - y * k[kSinAlpha];
    double u = y * k[kCosAlpha] + x * k[kSinAlpha];
    double w = -k[kB] * v / k[kA];
    double q = w < -307 ? 1e-9 : w > 308 ? kSingular : std::exp(w);
    double s = (q - 1 / q) / 2, t = (q + 1 / q) / 2;
    double bu = k[kB] * u / k[kA];
    double vv = std::sin(bu);
    double uu = (vv * k[kCosGamma] + s * k[kSinGamma]) / t;
    DPoint r;
    if (std::fabs(uu) >= 1) {
      r.x = k[kLambda0];
      r.y = uu > 0 ? kHalfPi : -kHalfPi;
    } else {
      double tt = std::pow(k[kEConst] / std::sqrt((1 + uu) / (1 - uu)), 1 / k[kB]);
      double chi = kHalfPi - 2 * std::atan(tt);
      r.y = ConformalToGeodetic(chi, &k[kSeries]);
      double yy = s * k[kCosGamma] - vv * k[kSinGamma], xx = std::cos(bu);
      r.x = yy == 0 && xx == 0 ? k[kLambda0] : k[kLambda0] - std::atan2(yy, xx) / k[kB];
    }
    ProjRadiansToDegrees(&r, &out[i]);
  }
  return 0;
}

double ObliqueMercScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  double latitude = ProjClamp(lonLat->y, -90.0, 90.0);
  double lambda = ProjClamp(lonLat->x, -360.0, 360.0) * kDegToRad;
  double phi = latitude * kDegToRad;
  double u, v;
  Aposphere(cs, lambda, phi, &u, &v);
  double sinPhi = std::sin(phi);
  // cos(90 degrees) in doubles is 6e-17, not 0: the pole is tested by value.
  double cosPhi = std::fabs(latitude) == 90.0 ? 0.0 : std::cos(phi);
  double divisor = cs->ellipsoid.a * cosPhi * std::cos(k[kB] * (lambda - k[kLambda0]));
  if (divisor == 0) return kSingular;
  return k[kA] * std::cos(k[kB] * u / k[kA]) * std::sqrt(1 - cs->ellipsoid.e2 * sinPhi * sinPhi) /
         divisor;
}

const ProjectionRow kObliqueMercRow = {ObliqueMercInit,        ObliqueMercScale,
                                       ObliqueMercInverse,     ObliqueMercForward,
                                       RectInverseFourCorners, RectForwardFourCorners};

}  // namespace layerio
