// Setting up a transform between two coordinate systems: which steps of the
// chain the two share (computed once here so the converters skip them), and
// which converters move coordinates between them. When one system is a
// window onto the other and the two are rectangle-compatible, integer
// coordinates cross by a linear mapping without any trigonometry.
#include <cmath>
#include <cstring>

#include "mapfile/coordsys/coordsys.h"

namespace layerio {

namespace {

constexpr int32_t kExtentFactor = 0x3FFFFFFF;
// An integer mapping narrower than this loses too much to rounding: it is
// widened by half of it on each side.
constexpr int32_t kMinMappingSize = 100;

int64_t Magnitude(int32_t v) { return v < 0 ? -int64_t(v) : int64_t(v); }

// Integer centre of a window system's extent, and its neighbour one integer
// step along x.
void ExtentCentre(const CoordSys* cs, IPoint* centre, IPoint* next) {
  const IntExtent& e = cs->extent;
  centre->x = int32_t((int64_t(e.originX) + e.width / 2));
  centre->y = int32_t((int64_t(e.originY) + e.height / 2));
  next->x = centre->x + 1;
  next->y = centre->y;
}

// True when shifting A's integer centre from A's datum to B's moves it by
// less than one integer step of A: the datums then make no visible
// difference and are ignored.
bool DatumShiftBelowOneStep(const CoordSys* a, const CoordSys* b) {
  IPoint centre, next;
  ExtentCentre(a, &centre, &next);
  DPoint lonLat, shifted;
  IntToLonLatNoDatum(&centre, &lonLat, a, 1);
  DatumShiftPoints(&lonLat, &a->params.datum, &a->ellipsoid, &shifted, &b->params.datum,
                   &b->ellipsoid, 1);
  double shift = CoordSysDistance(&lonLat, &shifted, a, kUnitMetre, kUnitDegree,
                                  kDistanceHaversine, nullptr, 0);
  double step = CoordIntDistance(&centre, &next, a, kUnitMetre, kDistanceHaversine, nullptr, 0);
  return shift < step;
}

// A point of A's window plane into B's integer plane (doubles, not rounded).
void WindowToInt(const DPoint* in, DPoint* out, const CoordXform* xf) {
  DPoint p = *in;
  if (!(xf->flags & kXfMatchInternalAffine)) {
    InternalAffineForward(&p, &p, &xf->a, 1);
    InternalAffineInverse(&p, &p, &xf->b, 1);
  }
  CoordScalePoints(&p, out, &xf->b, 1);
}

// A point of B's integer plane back into A's window plane.
void IntToWindow(const IPoint* in, DPoint* out, const CoordXform* xf) {
  DPoint p;
  CoordIntToPlane(in, &p, &xf->b, 1);
  if (!(xf->flags & kXfMatchInternalAffine)) {
    InternalAffineForward(&p, &p, &xf->b, 1);
    InternalAffineInverse(&p, &p, &xf->a, 1);
  }
  *out = p;
}

void WidenSide(int32_t* low, int32_t* high) {
  int64_t size = int64_t(*high) - *low;
  if ((size < 0 ? -size : size) >= kMinMappingSize) return;
  int32_t half = kMinMappingSize / 2;
  if (size >= 0) {
    *low -= half;
    *high += half;
  } else {
    *low += half;
    *high -= half;
  }
}

// The linear integer mapping from A's extent onto B's integer plane. A's
// window corners go into B's integer plane; a mapping that reaches the edge
// of the integer range, or is too narrow to carry precision, is taken back
// into A, whose extent, window and scale then follow it.
void PrepareLinearMapping(CoordXform* xf) {
  CoordSys* a = &xf->a;
  DPoint corner[2] = {{a->windowX, a->windowY},
                      {a->windowX + a->windowW, a->windowY + a->windowH}};
  DPoint mapped[2];
  WindowToInt(&corner[0], &mapped[0], xf);
  WindowToInt(&corner[1], &mapped[1], xf);
  IPoint p[2];
  DPointsToInt(mapped, p, 2);
  bool atEdge = false;
  for (const IPoint& q : p)
    if (q.x == kIntCoordLimit || q.x == -kIntCoordLimit || q.y == kIntCoordLimit ||
        q.y == -kIntCoordLimit)
      atEdge = true;
  bool narrow = Magnitude(p[1].x - p[0].x) < kMinMappingSize ||
                Magnitude(p[1].y - p[0].y) < kMinMappingSize;
  if (atEdge || narrow) {
    WidenSide(&p[0].x, &p[1].x);
    WidenSide(&p[0].y, &p[1].y);
    DPoint back[2];
    IntToWindow(&p[0], &back[0], xf);
    IntToWindow(&p[1], &back[1], xf);
    // A's integer extent over the new window, through A's present scale.
    DPoint scaled[2];
    CoordScalePoints(back, scaled, a, 2);
    IPoint ia[2];
    DPointsToInt(scaled, ia, 2);
    IRect extent{ia[0].x, ia[1].y, ia[1].x, ia[0].y};
    CoordSysSetIntExtent(a, &extent);
    a->windowX = back[0].x;
    a->windowY = back[0].y;
    a->windowW = ScaleClampMagnitude(back[1].x - back[0].x);
    a->windowH = ScaleClampMagnitude(back[1].y - back[0].y);
    a->scaleX = ScaleClampMagnitude(a->extent.width / a->windowW);
    a->scaleY = ScaleClampMagnitude(a->extent.height / a->windowH);
    a->offsetX = a->extent.originX - a->scaleX * a->windowX;
    a->offsetY = a->extent.originY - a->scaleY * a->windowY;
  }
  IntExtent* m = &xf->mapping;
  m->originX = p[0].x;
  m->originY = p[0].y;
  m->width = int32_t(int64_t(p[1].x) - p[0].x);
  m->height = int32_t(int64_t(p[1].y) - p[0].y);
  if (m->width == 0) m->width = 1;
  if (m->height == 0) m->height = 1;
  m->xFactor = int32_t(kExtentFactor / Magnitude(m->width));
  m->yFactor = int32_t(kExtentFactor / Magnitude(m->height));
}

}  // namespace

void CoordXformInit(CoordXform* xf, const CoordSys* source, const CoordSys* destination) {
  std::memset(xf, 0, sizeof *xf);
  bool sourceWindow = (source->flags & kCsWindow) != 0;
  bool destinationWindow = (destination->flags & kCsWindow) != 0;
  bool windowCase = sourceWindow != destinationWindow;
  if (windowCase && destinationWindow) {
    std::memcpy(&xf->a, destination, sizeof xf->a);
    std::memcpy(&xf->b, source, sizeof xf->b);
    xf->swapped = 1;
  } else {
    std::memcpy(&xf->a, source, sizeof xf->a);
    std::memcpy(&xf->b, destination, sizeof xf->b);
  }
  const CoordSys* a = &xf->a;
  const CoordSys* b = &xf->b;

  bool ignoreDatum = ((a->flags | b->flags) & kCsNoDatum) != 0 ||
                     DatumRecordEqual(&a->params.datum, &b->params.datum);
  if (!ignoreDatum && windowCase) ignoreDatum = DatumShiftBelowOneStep(a, b);
  if (ignoreDatum) xf->flags |= kXfDatumIgnored;
  if (CoordSysMatchIgnoringAffine(a, b, ignoreDatum)) xf->flags |= kXfMatchIgnoringAffine;
  if (CoordSysMatch(a, b, ignoreDatum)) xf->flags |= kXfMatch;
  bool sameInternal = CoordSysMatchWithInternalAffine(a, b, ignoreDatum);
  if (sameInternal) xf->flags |= kXfMatchInternalAffine;
  if (CoordSysRectCompatible(a, b, ignoreDatum, sameInternal)) xf->flags |= kXfRectCompatible;

  if (!windowCase) {
    if (CoordSysEqual(a, b)) xf->flags |= kXfIdentical;
    xf->pointsForwardAlways = XformIdentityPoints;
    xf->pointsBackwardAlways = XformIdentityPoints;
    xf->rectForwardAlways = XformIdentityRect;
    xf->rectBackwardAlways = XformIdentityRect;
    if (xf->flags & kXfIdentical) {
      xf->pointsForward = XformIdentityPoints;
      xf->pointsBackward = XformIdentityPoints;
      xf->rectForward = XformIdentityRect;
      xf->rectBackward = XformIdentityRect;
    } else {
      xf->pointsForward = XformGeneralPointsAB;
      xf->pointsBackward = XformGeneralPointsBA;
      xf->rectForward = XformGeneralRectAB;
      xf->rectBackward = XformGeneralRectBA;
    }
    return;
  }

  if (xf->flags & kXfRectCompatible) {
    PrepareLinearMapping(xf);
    xf->pointsForwardAlways = XformLinearPointsAB;
    xf->pointsBackwardAlways = XformLinearPointsBA;
    xf->rectForwardAlways = XformLinearRectAB;
    xf->rectBackwardAlways = XformLinearRectBA;
  } else {
    xf->pointsForwardAlways = XformGeneralPointsAB;
    xf->pointsBackwardAlways = XformGeneralPointsBA;
    xf->rectForwardAlways = XformGeneralRectAB;
    xf->rectBackwardAlways = XformGeneralRectBA;
  }
  if (xf->swapped) {
    xf->pointsForward = xf->pointsBackwardAlways;
    xf->pointsBackward = xf->pointsForwardAlways;
    xf->rectForward = xf->rectBackwardAlways;
    xf->rectBackward = xf->rectForwardAlways;
  } else {
    xf->pointsForward = xf->pointsForwardAlways;
    xf->pointsBackward = xf->pointsBackwardAlways;
    xf->rectForward = xf->rectForwardAlways;
    xf->rectBackward = xf->rectBackwardAlways;
  }
}

}  // namespace layerio
