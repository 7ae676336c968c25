// Cassini-Soldner on the ellipsoid (30), by the classic series in the
// longitude difference. Parameters: origin longitude, origin latitude, false
// easting, false northing (the last two in the system's units). The scale
// factor is reported as 1 everywhere.
#include <cmath>

#include "mapfile/coordsys/proj_transverse.h"

namespace layerio {

namespace {

enum CassiniConstant {
  kLambda0 = 0,
  kAA0 = 1,  // a A0, a H1, a H2, a H3
  kAH1 = 2,
  kAH2 = 3,
  kAH3 = 4,
  kJ1 = 5,  // J1..J4
  kM0 = 9,
};


}  // namespace

void CassiniInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  k[kLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 90.0);
  double m[7];
  MeridianSeriesInit(e2, m);
  for (int i = 0; i < 4; ++i) k[kAA0 + i] = a * m[i];
  FootpointSeriesInit(e2, &k[kJ1]);
  k[kM0] = MeridianDistance(m, a, ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad);
}

int CassiniForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 3), fn = ProjParam(cs, 4);
  for (int i = 0; i < n; ++i) {
    double dl = ProjClamp(in[i].x - cs->centralMeridian, -360.0, 360.0) * kDegToRad;
    double phi = ProjClamp(in[i].y, -180.0, 180.0) * kDegToRad;
    double s = std::sin(phi), c = std::cos(phi);
    DPoint q;
    if (c == 0.0 || phi == kPi / 2 || phi == -kPi / 2) {
      q.x = 0;
      q.y = k[kAA0] * phi - k[kM0];
    } else {
      double tanPhi = s / c;
      double t = tanPhi * tanPhi;
      double aa = dl * c, a2 = aa * aa;
      double cc = e2 * c * c / (1 - e2);
      double nn = a / std::sqrt(1 - e2 * s * s);
      double c2 = c * c - s * s;
      double m = k[kAA0] * phi + 2 * s * c * ((k[kAH3] * c2 + k[kAH2]) * c2 + k[kAH1]);
      q.x = nn * aa * (1 - t * a2 / 6 - (8 - t + 8 * cc) * t * a2 * a2 / 120);
      q.y = m - k[kM0] + nn * tanPhi * a2 * (0.5 + (5 - t + 6 * cc) * a2 / 24);
    }
    ProjMetresToUnits(&q, cs);
    q.x += fe;
    q.y += fn;
    out[i] = q;
  }
  return 0;
}

int CassiniInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 3), fn = ProjParam(cs, 4);
  for (int i = 0; i < n; ++i) {
    DPoint q = {in[i].x - fe, in[i].y - fn}, m;
    ProjUnitsToMetres(&q, &m, cs);
    double phi1 = FootpointLatitude((k[kM0] + m.y) / k[kAA0], &k[kJ1]);
    DPoint r;
    if (phi1 <= -kPi / 2 || phi1 >= kPi / 2) {
      r.x = k[kLambda0];
      r.y = phi1 < 0 ? -kPi / 2 : kPi / 2;
    } else {
      double s = std::sin(phi1), c = std::cos(phi1);
      double tanPhi = s / c;
      double t1 = tanPhi * tanPhi;
      double w = 1 - e2 * s * s, sw = std::sqrt(w);
      double n1 = a / sw;
      double r1 = a * (1 - e2) / (w * sw);
      double d = m.x / n1, d2 = d * d;
      r.x = k[kLambda0] + d * (1 - t1 * d2 / 3 + (1 + 3 * t1) * t1 * d2 * d2 / 15) / c;
      r.y = phi1 - (n1 * tanPhi / r1) * d2 * (0.5 - (1 + 3 * t1) * d2 / 24);
    }
    ProjRadiansToDegrees(&r, &out[i]);
  }
  return 0;
}

const ProjectionRow kProjRowCassini = {CassiniInit,           ProjUnitScale,
                                       CassiniInverse,        CassiniForward,
                                       RectInverseTransverse, RectForwardTransverse};

}  // namespace layerio
