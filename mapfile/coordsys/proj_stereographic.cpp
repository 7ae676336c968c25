// Stereographic on the ellipsoid through the conformal latitude (20), polar
// or oblique. Parameters: origin longitude, origin latitude, scale factor
// (1 when 0), false easting and northing (in the system's units). The south
// polar aspect is the north polar one with longitudes and latitudes negated.
#include <cmath>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

enum {
  kLambda0, kE, kK0, kPolar, kSouth, kTwoAK0M1, kChi1, kSinChi1, kCosChi1, kPolarConstant,
  kC1,  // kC1..kC1+3: conformal series
};


double ConformalLatitude(double e, double phi) {
  double s = e * std::sin(phi);
  return 2 * std::atan(std::tan(kPi / 4 + phi / 2) * std::pow((1 - s) / (1 + s), e / 2)) -
         kPi / 2;
}

// The oblique factor A of a conformal latitude chi at longitude offset dl;
// 1e9 where its divisor vanishes (the antipode of the centre).
double ObliqueA(const double* k, double chi, double dl) {
  double d = k[kCosChi1] * (1 + k[kSinChi1] * std::sin(chi) +
                            k[kCosChi1] * std::cos(chi) * std::cos(dl));
  return d == 0 ? kSingular : k[kTwoAK0M1] / d;
}

double PolarT(double e, double phi) {
  double s = e * std::sin(phi);
  return std::tan(kPi / 4 - phi / 2) / std::pow((1 - s) / (1 + s), e / 2);
}

}  // namespace

void StereoInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2, e = std::sqrt(e2);
  double lat1 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0);
  double phi1 = lat1 * kDegToRad;
  double lambda0 = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0);
  bool polar = std::cos(phi1) == 0 || lat1 == 90 || lat1 == -90;
  bool south = polar && lat1 < 0;
  if (south) {
    lambda0 = -lambda0;
    phi1 = -phi1;
  }
  double k0 = ProjParam(cs, 3);
  if (k0 == 0) k0 = 1;
  k[kLambda0] = lambda0;
  k[kE] = e;
  k[kK0] = k0;
  k[kPolar] = polar ? 1 : 0;
  k[kSouth] = south ? 1 : 0;
  k[kTwoAK0M1] = 2 * a * k0 * ParallelFactor(e2, phi1);
  k[kChi1] = ConformalLatitude(e, phi1);
  k[kSinChi1] = std::sin(k[kChi1]);
  k[kCosChi1] = std::cos(k[kChi1]);
  k[kPolarConstant] =
      2 * a * k0 / std::sqrt(std::pow(1 + e, 1 + e) * std::pow(1 - e, 1 - e));
  ConformalSeriesInit(e2, &k[kC1]);
}

double StereoScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  double phi = ProjClamp(lonLat->y, -89.9999, 89.9999) * kDegToRad;
  double lambda = ProjClamp(lonLat->x, -360.0, 360.0) * kDegToRad;
  if (k[kSouth] != 0) {
    phi = -phi;
    lambda = -lambda;
  }
  double m = cs->ellipsoid.a * ParallelFactor(cs->ellipsoid.e2, phi);
  if (k[kPolar] != 0) return PolarT(k[kE], phi) * k[kPolarConstant] / m;
  double chi = ConformalLatitude(k[kE], phi);
  return ObliqueA(k, chi, lambda - k[kLambda0]) * std::cos(chi) / m;
}

int StereoForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double fe = ProjParam(cs, 4), fn = ProjParam(cs, 5);
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    double lambda = p.x, phi = p.y;
    if (k[kSouth] != 0) {
      lambda = -lambda;
      phi = -phi;
    }
    double dl = lambda - k[kLambda0];
    double x, y;
    if (k[kPolar] != 0) {
      double rho = PolarT(k[kE], phi) * k[kPolarConstant];
      x = rho * std::sin(dl);
      y = -rho * std::cos(dl);
      if (k[kSouth] != 0) {
        x = -x;
        y = -y;
      }
    } else {
      double chi = ConformalLatitude(k[kE], phi);
      double big = ObliqueA(k, chi, dl);
      x = big * std::cos(chi) * std::sin(dl);
      y = big * (k[kCosChi1] * std::sin(chi) - k[kSinChi1] * std::cos(chi) * std::cos(dl));
    }
    DPoint q{x, y};
    ProjMetresToUnits(&q, cs);
    out[i].x = q.x + fe;
    out[i].y = q.y + fn;
  }
  return 0;
}

int StereoInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double fe = ProjParam(cs, 4), fn = ProjParam(cs, 5);
  for (int i = 0; i < n; ++i) {
    DPoint u{in[i].x - fe, in[i].y - fn}, p;
    ProjUnitsToMetres(&u, &p, cs);
    double x = p.x, y = p.y;
    if (k[kSouth] != 0) {
      x = -x;
      y = -y;
    }
    double rho = std::sqrt(x * x + y * y);
    double chi = k[kChi1], lambda = k[kLambda0];
    if (rho != 0) {
      if (k[kPolar] != 0) {
        chi = kPi / 2 - 2 * std::atan(rho / k[kPolarConstant]);
        lambda = std::atan2(x, -y) + k[kLambda0];
      } else {
        double ce = 2 * std::atan2(rho * k[kCosChi1], k[kTwoAK0M1]);
        double sinCe = std::sin(ce), cosCe = std::cos(ce);
        chi = std::asin(ProjClamp(cosCe * k[kSinChi1] + y * sinCe * k[kCosChi1] / rho, -1.0, 1.0));
        double ny = x * sinCe, nx = rho * k[kCosChi1] * cosCe - y * k[kSinChi1] * sinCe;
        if (ny != 0 || nx != 0) lambda = k[kLambda0] + std::atan2(ny, nx);
      }
    }
    double phi = ConformalToGeodetic(chi, &k[kC1]);
    if (k[kSouth] != 0) {
      lambda = -lambda;
      phi = -phi;
    }
    DPoint g{lambda, phi};
    ProjRadiansToDegrees(&g, &out[i]);
  }
  return 0;
}

extern const ProjectionRow kProjRowStereographic;
const ProjectionRow kProjRowStereographic = {
    StereoInit, StereoScale, StereoInverse, StereoForward,
    RectInverseAzimuthal, RectForwardAzimuthal};

}  // namespace layerio
