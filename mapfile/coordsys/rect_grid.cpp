// Rectangles of the grid projections 7 (oblique Mercator), 18 (New Zealand
// Map Grid) and 25 (oblique conformal cylindrical). Their images of a
// rectangle are curved; each samples the corners and the lines along which
// its image reaches furthest: nothing more for 7, the central meridian for
// 18, and for 25 the meridians at multiples of the probe offset around the
// central one and the parallels where the oblique pole lies.
#include <cmath>
#include <initializer_list>

#include "mapfile/coordsys/oblique_grids.h"

namespace layerio {

namespace {

// At most the corners, ten meridian points and four parallel points.
constexpr int kMaxSamples = 18;

struct Samples {
  DPoint p[kMaxSamples];
  int n = 0;

  explicit Samples(const DRect* in) {
    Add(in->x1, in->y1);
    Add(in->x1, in->y2);
    Add(in->x2, in->y2);
    Add(in->x2, in->y1);
  }
  void Add(double x, double y) {
    if (n < kMaxSamples) p[n++] = {x, y};
  }
  // (x, y1) and (x, y2) when x lies strictly between x1 and x2.
  void AddColumn(const DRect* in, double x) {
    if (in->x1 < x && x < in->x2) {
      Add(x, in->y1);
      Add(x, in->y2);
    }
  }
  void Project(ProjPointsFn points, const CoordSys* cs, DRect* out) {
    points(p, p, cs, n);
    DRect r;
    DRectSetEmpty(&r);
    for (int i = 0; i < n; ++i) DRectAddPoint(&r, &p[i]);
    *out = r;
  }
};

}  // namespace

void RectSampleMeridian(const DRect* in, DRect* out, const CoordSys* cs, double meridian,
                        ProjPointsFn points) {
  Samples s(in);
  s.AddColumn(in, meridian);
  s.Project(points, cs, out);
}

void RectForwardFourCorners(const DRect* in, DRect* out, const CoordSys* cs) {
  Samples(in).Project(cs->forwardPoints, cs, out);
}

void RectInverseFourCorners(const DRect* in, DRect* out, const CoordSys* cs) {
  Samples(in).Project(cs->inversePoints, cs, out);
}

void RectForwardMeridian(const DRect* in, DRect* out, const CoordSys* cs) {
  RectSampleMeridian(in, out, cs, cs->centralMeridian, cs->forwardPoints);
}

void RectInverseMeridian(const DRect* in, DRect* out, const CoordSys* cs) {
  RectSampleMeridian(in, out, cs, cs->probeX0, cs->inversePoints);
}

void RectForwardOblique(const DRect* in, DRect* out, const CoordSys* cs) {
  Samples s(in);
  for (int k = -2; k <= 2; ++k) s.AddColumn(in, cs->centralMeridian + k * cs->probeOffset);
  // The oblique pole lies at 90 - |origin latitude| from the geographic one.
  double p = 90.0 - std::fabs(ProjParam(cs, 2));
  for (double latitude : {p, -p}) {
    if (in->y1 < latitude && latitude < in->y2) {
      s.Add(in->x1, latitude);
      s.Add(in->x2, latitude);
    }
  }
  s.Project(cs->forwardPoints, cs, out);
}

void RectInverseOblique(const DRect* in, DRect* out, const CoordSys* cs) {
  Samples s(in);
  s.AddColumn(in, cs->probeX0);
  double c = cs->centralMeridian;
  DPoint poles[4] = {{c - 90, 90}, {c + 90, 90}, {c - 90, -90}, {c + 90, -90}};
  cs->forwardPoints(poles, poles, cs, 4);
  for (const DPoint& pole : poles)
    if (DPointInRect(&pole, in)) s.Add(pole.x, pole.y);
  s.Project(cs->inversePoints, cs, out);
}

}  // namespace layerio
