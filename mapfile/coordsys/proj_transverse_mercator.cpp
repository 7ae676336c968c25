// Transverse Mercator on the ellipsoid (8) by the classic power series in the
// longitude difference, and the variants that share its row: the local grids
// 21, 22 and 23, which follow it with a grid polynomial inside a window, and
// 24, computed with the Krueger n-series. Parameters: origin longitude,
// origin latitude, scale factor (0 means 1), false easting, false northing
// (the last two in the system's units).
#include <cmath>

#include "mapfile/coordsys/proj_transverse.h"
#include "mapfile/coordsys/tm_constants.h"

namespace layerio {

namespace {


// Forward and inverse windows of the local grids, x1, y1, x2, y2.
struct GridWindows {
  int projection;
  double forward[4];
  double inverse[4];
};
constexpr GridWindows kGridWindows[] = {
    {21, {300000, 5900000, 900000, 6500000}, {-100000, -100000, 500000, 500000}},
    {22, {400000, 5900000, 1000000, 6400000}, {-100000, -100000, 400000, 400000}},
    {23, {400000, 6000000, 600000, 6200000}, {-50000, -50000, 150000, 150000}},
};

DRect Window(const CoordSys* cs, int at) {
  DRect r;
  DRectSet(&r, cs->k[at], cs->k[at + 1], cs->k[at + 2], cs->k[at + 3]);
  return r;
}

// The series forward of one point, radians in, metres out.
inline void SeriesForward(const double* k, double a, double e2, double lambda, double phi,
                          double* x, double* y) {
  double s = std::sin(phi), c = std::cos(phi);
  double c2 = c * c - s * s;  // cos 2phi
  double m = k[kTmAA0] * phi + 2 * s * c * ((k[kTmAH3] * c2 + k[kTmAH2]) * c2 + k[kTmAH1]);
  double k0 = k[kTmK0];
  if (c == 0.0) {
    *x = 0;
    *y = k0 * (m - k[kTmM0]);
    return;
  }
  double ep2 = k[kTmEp2];
  double n = a / std::sqrt(1 - e2 * s * s);
  double tanPhi = s / c;
  double t = tanPhi * tanPhi;
  double cc = ep2 * c * c;
  double aa = (lambda - k[kTmLambda0]) * c;
  double a2 = aa * aa;
  *x = k0 * n * aa *
       (1 + a2 * ((1 - t + cc) / 6 + a2 * (5 - 18 * t + t * t + 72 * cc - 58 * ep2) / 120));
  *y = k0 * (m - k[kTmM0] +
             n * tanPhi * a2 *
                 (0.5 + a2 * ((5 - t + 9 * cc + 4 * cc * cc) / 24 +
                              a2 * (61 - 58 * t + t * t + 600 * cc - 330 * ep2) / 720)));
}

// The series inverse of one point, metres in (y already clamped), radians out.
inline void SeriesInverse(const double* k, double a, double e2, double x, double y, double* lambda,
                          double* phi) {
  double k0 = k[kTmK0];
  double mu = (y / k0 + k[kTmM0]) / k[kTmAA0];
  double cm = std::cos(2 * mu);
  double phi1 =
      mu + std::sin(2 * mu) * (((k[kTmJ4] * cm + k[kTmJ3]) * cm + k[kTmJ2]) * cm + k[kTmJ1]);
  double s = std::sin(phi1), c = std::cos(phi1);
  // Beyond the pole the footpoint keeps growing with y; such a point belongs
  // to the pole rather than to a latitude on the far side of it.
  if (c == 0.0 || phi1 >= kPi / 2 || phi1 <= -kPi / 2) {
    *lambda = k[kTmLambda0];
    if (c == 0.0)
      *phi = y <= 0 ? -kPi / 2 : kPi / 2;
    else
      *phi = phi1 > 0 ? kPi / 2 : -kPi / 2;
    return;
  }
  double ep2 = k[kTmEp2];
  double w = 1 - e2 * s * s;
  double sw = std::sqrt(w);
  double tanPhi = s / c;
  double c1 = ep2 * c * c;
  double t1 = tanPhi * tanPhi;
  double n1 = a / sw;
  double r1 = a * (1 - e2) / (w * sw);
  double d = x / (n1 * k0);
  double d2 = d * d;
  *phi = phi1 -
         (n1 * tanPhi / r1) * d2 *
             (0.5 -
              d2 * ((5 + 3 * t1 + 10 * c1 - 4 * c1 * c1 - 9 * ep2) / 24 -
                    d2 * (61 + 90 * t1 + 298 * c1 + 45 * t1 * t1 - 252 * ep2 - 3 * c1 * c1) / 720));
  *lambda =
      k[kTmLambda0] +
      d *
          (1 - d2 * ((1 + 2 * t1 + c1) / 6 -
                     d2 * (5 - 2 * c1 + 28 * t1 - 3 * c1 * c1 + 8 * ep2 + 24 * t1 * t1) / 120)) /
          c;
}

}  // namespace

void TmInit(CoordSys* cs) {
  double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  k[kTmLambda0] = ProjSetCentralMeridian(cs, ProjParam(cs, 1), 0.0);
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0) * kDegToRad;
  double k0 = ProjParam(cs, 3);
  k[kTmK0] = k0 == 0.0 ? 1.0 : k0;
  k[kTmEp2] = e2 / (1 - e2);
  double m[7];
  MeridianSeriesInit(e2, m);
  k[kTmAA0] = a * m[0];
  k[kTmAH1] = a * m[1];
  k[kTmAH2] = a * m[2];
  k[kTmAH3] = a * m[3];
  k[kTmM0] = MeridianDistance(m, a, phi0);
  FootpointSeriesInit(e2, &k[kTmJ1]);
  k[kTmPolynomial] = 0;
  for (const GridWindows& g : kGridWindows) {
    if (g.projection != cs->projection) continue;
    k[kTmPolynomial] = 1;
    for (int i = 0; i < 4; ++i) {
      k[kTmForwardWindow + i] = g.forward[i];
      k[kTmInverseWindow + i] = g.inverse[i];
    }
  }
  if (cs->projection == 24) KrugerInit(cs);
}

int TmForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 4), fn = ProjParam(cs, 5);
  bool kruger = cs->projection == 24, polynomial = k[kTmPolynomial] != 0;
  const double* table = polynomial ? GridPolyTable(cs->projection, false) : nullptr;
  DRect window;
  if (polynomial) window = Window(cs, kTmForwardWindow);
  for (int i = 0; i < n; ++i) {
    DPoint p;
    ProjDegreesToRadians(&in[i], &p);
    DPoint q;
    if (kruger)
      KrugerForwardPoint(cs, p.x, p.y, &q.x, &q.y);
    else
      SeriesForward(k, a, e2, p.x, p.y, &q.x, &q.y);
    ProjMetresToUnits(&q, cs);
    q.x += fe;
    q.y += fn;
    if (table) {
      DPointClamp(&q, &window);
      GridPolyEval(table, &q, &q);
      q.x = -q.x;
    }
    out[i] = q;
  }
  return 0;
}

int TmInverse(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  const double* k = cs->k;
  double a = cs->ellipsoid.a, e2 = cs->ellipsoid.e2;
  double fe = ProjParam(cs, 4), fn = ProjParam(cs, 5);
  bool kruger = cs->projection == 24, polynomial = k[kTmPolynomial] != 0;
  const double* table = polynomial ? GridPolyTable(cs->projection, true) : nullptr;
  DRect window;
  if (polynomial) window = Window(cs, kTmInverseWindow);
  for (int i = 0; i < n; ++i) {
    DPoint q = in[i];
    if (table) {
      q.x = -q.x;
      DPointClamp(&q, &window);
      GridPolyEval(table, &q, &q);
    }
    q.x -= fe;
    q.y -= fn;
    DPoint m;
    ProjUnitsToMetres(&q, &m, cs);
    double y = ProjClamp(m.y, -kSingular, kSingular);
    DPoint r;
    if (kruger)
      KrugerInversePoint(cs, m.x, y, &r.x, &r.y);
    else
      SeriesInverse(k, a, e2, m.x, y, &r.x, &r.y);
    ProjRadiansToDegrees(&r, &out[i]);
  }
  return 0;
}

double TmScale(const CoordSys* cs, const DPoint* lonLat) {
  const double* k = cs->k;
  DPoint ll = {ProjClamp(lonLat->x, -360.0, 360.0), ProjClamp(lonLat->y, -90.0, 90.0)};
  double phi = ll.y * kDegToRad;
  double c = std::cos(phi);
  // The Krueger variant's point routines do not apply the scale factor, so
  // its scale must not either.
  double k0 = cs->projection == 24 ? 1.0 : k[kTmK0];
  if (c == 0.0) return k0;
  if (cs->projection == 21 || cs->projection == 22) {
    DPoint local;
    cs->forwardPoints(&ll, &local, cs, 1);
    double u = local.x * 1e-5;
    if (cs->projection == 21) return 0.99995 + 0.00012259 * (-2.65 - u) * (-2.65 - u);
    return 0.999978 + 0.00012261 * (-1.19 - u) * (-1.19 - u);
  }
  if (cs->projection == 23) return 1.0;
  double s = std::sin(phi);
  double t = (s / c) * (s / c);
  double cc = k[kTmEp2] * c * c;
  double aa = (ll.x * kDegToRad - k[kTmLambda0]) * c;
  double a2 = aa * aa;
  return k0 * (1 + (1 + cc) * a2 / 2 +
               (5 - 4 * t + 42 * cc + 13 * cc * cc - 28 * k[kTmEp2]) * a2 * a2 / 24 +
               (61 - 148 * t + 16 * t * t) * a2 * a2 * a2 / 720);
}

const ProjectionRow kProjRowTransverseMercator = {
    TmInit, TmScale, TmInverse, TmForward, RectInverseTransverse, RectForwardTransverse};

}  // namespace layerio
