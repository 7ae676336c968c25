// Sampled rectangles of the azimuthal projections (4, 5, 20, 28, 29, 31) and
// of the polyconic (27). Their meridians and parallels are curves whose
// extremes lie on the meridians c + k d and on a few special parallels (the
// antipodal parallel of an azimuthal map, the equator), so a rectangle is
// bounded by sampling those lines between its corners. The inverse also
// samples the probe meridian and parallel and takes in any projected pole
// that lies inside the rectangle.
#include <cmath>
#include <vector>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {


// The special latitudes (degrees) of a projection number; returns the count.
int SpecialLatitudes(const CoordSys* cs, double out[3]) {
  double phi0 = ProjClamp(ProjParam(cs, 2), -90.0, 90.0);
  switch (cs->projection) {
    case 4:
    case 5:
    case 28:
    case 29:
      out[0] = -phi0 - 0.1;
      out[1] = 0.1 - phi0;
      return 2;
    case 20:
    case 31:
      out[0] = -phi0;
      return 1;
    case 27:
      out[0] = 0;
      out[1] = 40;
      out[2] = -40;
      return 3;
    default:
      out[0] = 0;
      return 1;
  }
}

void BoundingBox(const std::vector<DPoint>& p, DRect* out) {
  DRect r;
  DRectSetEmpty(&r);
  for (const DPoint& q : p) DRectAddPoint(&r, &q);
  *out = r;
}

}  // namespace

void RectForwardAzimuthal(const DRect* in, DRect* out, const CoordSys* cs) {
  double x1 = in->x1, y1 = in->y1, x2 = in->x2, y2 = in->y2;
  double special[3];
  int specials = SpecialLatitudes(cs, special);
  std::vector<DPoint> p = {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}};
  double c = cs->centralMeridian, d = cs->probeOffset;
  // The meridians c - 360 + j d up to c + 360; only those strictly between
  // x1 and x2 are sampled, so the loop walks just that range of j.
  if (d > 0 && std::isfinite(d) && x1 < x2) {
    double start = c - 360;
    double last = std::floor(720 / d);
    double jLow = std::fmax(0.0, std::floor((x1 - start) / d));
    double jHigh = std::fmin(last, std::ceil((x2 - start) / d));
    for (double j = jLow; j <= jHigh; ++j) {
      double m = start + j * d;
      if (!(x1 < m && m < x2)) continue;
      p.push_back({m, y1});
      p.push_back({m, y2});
      for (int i = 0; i < specials; ++i)
        if (y1 <= special[i] && special[i] <= y2) p.push_back({m, special[i]});
    }
  }
  for (int i = 0; i < specials; ++i) {
    if (y1 <= special[i] && special[i] <= y2) {
      p.push_back({x1, special[i]});
      p.push_back({x2, special[i]});
    }
  }
  cs->forwardPoints(p.data(), p.data(), cs, int(p.size()));
  BoundingBox(p, out);
}

void RectInverseAzimuthal(const DRect* in, DRect* out, const CoordSys* cs) {
  double x1 = in->x1, y1 = in->y1, x2 = in->x2, y2 = in->y2;
  double x0 = cs->probeX0, y0 = cs->probeY0;
  std::vector<DPoint> p = {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}};
  size_t meridian = 0;
  bool onMeridian = x1 < x0 && x0 < x2;
  if (onMeridian) {
    meridian = p.size();
    p.push_back({x0, y1});
    p.push_back({x0, y2});
  }
  if (y1 < y0 && y0 < y2) {
    p.push_back({x1, y0});
    p.push_back({x2, y0});
  }
  // The antipodal parallel of the centre, taken down to the edges x1 and x2
  // and back up, gives where that parallel crosses the two sides.
  int number = cs->projection;
  double s = 0;
  if (number == 4 || number == 5 || number == 20 || number == 31) s = -ProjParam(cs, 2);
  double v = ProjClamp(s, -90.0, 90.0) * kDegToRad * cs->ellipsoid.a;
  DPoint edge[2] = {{x1, v}, {x2, v}};
  cs->inversePoints(edge, edge, cs, 2);
  cs->forwardPoints(edge, edge, cs, 2);
  if (y1 < edge[0].y && edge[0].y < y2) p.push_back({x1, edge[0].y});
  if (y1 < edge[1].y && edge[1].y < y2) p.push_back({x2, edge[1].y});
  DPoint poles[2] = {{0, 90}, {0, -90}};
  cs->forwardPoints(poles, poles, cs, 2);
  for (const DPoint& pole : poles)
    if (DPointInRect(&pole, in)) p.push_back(pole);
  cs->inversePoints(p.data(), p.data(), cs, int(p.size()));
  if (onMeridian) {
    double c = cs->centralMeridian;
    for (size_t j = meridian; j < meridian + 2; ++j) {
      double lon = p[j].x - c;
      if (lon > 90 || lon < -90) {
        p[j].x = -360;
        p.push_back({360, p[j].y});
      }
    }
  }
  BoundingBox(p, out);
}

}  // namespace layerio
