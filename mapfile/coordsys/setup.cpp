// Building a CoordSys: the projection's routines and constants, the ellipsoid,
// and the integer scale that maps the system's units onto the integer map
// plane, taken from bounds, from a given scale, from a window or from an
// internal affine transformation.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "mapfile/coordsys/projection.h"

namespace layerio {

namespace {

constexpr double kScaleMin = 1e-20, kScaleMax = 1e20;
constexpr double kIntRangeSpan = 2000000000.0;
constexpr int32_t kExtentFactor = 0x3FFFFFFF;

// The built-in display settings the window aspect is taken from.
constexpr double kDisplayResolutionX = 96.0, kDisplayResolutionY = 96.0;

int32_t ClampToInt32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

int64_t Magnitude(int32_t v) { return v < 0 ? -int64_t(v) : int64_t(v); }

}  // namespace

double ScaleClampMagnitude(double value) {
  if (std::isnan(value)) return kScaleMin;
  if (value >= 0) return value < kScaleMin ? kScaleMin : value > kScaleMax ? kScaleMax : value;
  return value > -kScaleMin ? -kScaleMin : value < -kScaleMax ? -kScaleMax : value;
}

void CoordSysInit(CoordSys* cs, int projection, const CoordSysParams* block) {
  // The unit conversions of the projection routines pass through degrees by
  // way of the chains, so those must be in place before any routine runs.
  CoordSysInstallUnitServices();
  CoordSysParams copy;
  std::memcpy(&copy, block, sizeof copy);
  std::memset(cs, 0, sizeof *cs);
  cs->projection = int16_t(projection);
  std::memcpy(&cs->params, &copy, sizeof copy);
  if (projection != 0 && copy.datum.ellipsoid != kEllipsoidNone) {
    EllipsoidGet(copy.datum.ellipsoid, &cs->ellipsoid);
  } else {
    cs->flags |= kCsNoDatum;
    EllipsoidGet(kEllipsoidNone, &cs->ellipsoid);
  }
  CoordSysSelectProjection(cs);
}

void CoordSysSelectProjection(CoordSys* cs) {
  const ProjectionRow* row = ProjectionRowFor(cs->projection);
  cs->scaleFactor = row->scale;
  cs->inversePoints = row->inverse;
  cs->forwardPoints = row->forward;
  cs->inverseRect = row->inverseRect;
  cs->forwardRect = row->forwardRect;
  cs->centralMeridian = 0;
  cs->probeOffset = 0;
  if (row->init) row->init(cs);
  DPoint probe[2] = {{cs->centralMeridian, 0}, {cs->centralMeridian + cs->probeOffset, 0}};
  cs->forwardPoints(probe, probe, cs, 2);
  cs->probeX0 = probe[0].x;
  cs->probeY0 = probe[1].y;
}

void CoordSysSetScale(CoordSys* cs, double scaleX, double scaleY, double offsetX,
                      double offsetY) {
  cs->flags &= ~(kCsWindow | kCsInternalAffine);
  int o1 = CoordSysOrientation(cs), o2 = CoordSysSecondOrientation(cs);
  double sx = QuadrantSignX(o1) * QuadrantSignX(o2);
  double sy = QuadrantSignY(o1) * QuadrantSignY(o2);
  cs->scaleX = ScaleClampMagnitude(sx * scaleX);
  cs->scaleY = ScaleClampMagnitude(sy * scaleY);
  cs->offsetX = sx * offsetX + 0.0;
  cs->offsetY = sy * offsetY + 0.0;
}

void CoordSysSetBounds(CoordSys* cs, double x1, double y1, double x2, double y2) {
  DRect r{x1, y1, x2, y2};
  RectSanitize(&r);
  double w = ScaleClampMagnitude(r.x2 - r.x1), h = ScaleClampMagnitude(r.y2 - r.y1);
  // The offsets are taken from the scale as it will be stored: with
  // degenerate bounds the scale is clamped, and the centre must still land
  // on 0 rather than far outside the integer range.
  double scaleX = ScaleClampMagnitude(kIntRangeSpan / w);
  double scaleY = ScaleClampMagnitude(kIntRangeSpan / h);
  double offsetX = -(r.x1 + r.x2) * scaleX / 2, offsetY = -(r.y1 + r.y2) * scaleY / 2;
  CoordSysSetScale(cs, scaleX, scaleY, offsetX, offsetY);
}

void CoordSysInitWithScale(CoordSys* cs, int projection, const CoordSysParams* block,
                           double scaleX, double scaleY, double offsetX, double offsetY) {
  CoordSysInit(cs, projection, block);
  CoordSysSetScale(cs, scaleX, scaleY, offsetX, offsetY);
}

void CoordSysInitWithBounds(CoordSys* cs, int projection, const CoordSysParams* block,
                            const DRect* bounds) {
  CoordSysInit(cs, projection, block);
  CoordSysSetBounds(cs, bounds->x1, bounds->y1, bounds->x2, bounds->y2);
}

void CoordSysSetIntExtent(CoordSys* cs, const IRect* r) {
  IntExtent* e = &cs->extent;
  e->originX = r->x1;
  e->originY = r->y2;
  e->width = ClampToInt32(int64_t(r->x2) - r->x1);
  e->height = ClampToInt32(int64_t(r->y1) - r->y2);
  if (e->width == 0) e->width = 1;
  if (e->height == 0) e->height = -1;
  e->xFactor = int32_t(kExtentFactor / Magnitude(e->width));
  e->yFactor = int32_t(kExtentFactor / Magnitude(e->height));
}

void CoordSysSetWindow(CoordSys* cs, const IRect* intRect, const DRect* window) {
  DRect r = *window;
  RectSanitize(&r);
  double ex = ScaleClampMagnitude(r.x2 - r.x1), ey = ScaleClampMagnitude(r.y2 - r.y1);
  int o2 = CoordSysSecondOrientation(cs);
  if (o2 == 2 || o2 == 3) {
    double t = r.x1;
    r.x1 = r.x2;
    r.x2 = t;
    ex = -ex;
  }
  if (o2 == 3 || o2 == 4) {
    double t = r.y1;
    r.y1 = r.y2;
    r.y2 = t;
    ey = -ey;
  }
  cs->flags |= kCsWindow;
  CoordSysSetIntExtent(cs, intRect);
  double W = cs->extent.width, H = cs->extent.height;
  double xExtent = ex, yExtent = ey;
  if (!(cs->projection == 0 && cs->params.nonEarth.one == 0)) {
    // Keep the integer rectangle's aspect: the short side of the window grows.
    double aspect = CoordSysWindowAspect(cs);
    double ax = H * ex, ay = W * ey / aspect;
    if (std::fabs(ax) <= std::fabs(ay))
      xExtent = std::copysign(ScaleClampMagnitude(std::fabs(ay / H)), ex);
    else
      yExtent = std::copysign(ScaleClampMagnitude(std::fabs(ax * aspect / W)), ey);
  }
  cs->windowX = r.x1 - (xExtent - ex) / 2;
  cs->windowY = r.y1 - (yExtent - ey) / 2;
  cs->windowW = xExtent;
  cs->windowH = yExtent;
  cs->scaleX = ScaleClampMagnitude(W / xExtent);
  cs->scaleY = ScaleClampMagnitude(H / yExtent);
  cs->offsetX = cs->extent.originX - cs->scaleX * cs->windowX;
  cs->offsetY = cs->extent.originY - cs->scaleY * cs->windowY;
}

void CoordSysSetInternalAffine(CoordSys* cs, const double affine12[12], bool unitWindow) {
  cs->flags |= kCsInternalAffine;
  std::memcpy(cs->internalAffine, affine12, sizeof cs->internalAffine);
  std::memcpy(cs->internalAffineInverse, affine12 + 6, sizeof cs->internalAffineInverse);
  if (unitWindow) {
    cs->flags |= kCsWindow;
    IRect unit{0, 0, 1, 1};
    CoordSysSetIntExtent(cs, &unit);
    cs->windowX = 0;
    cs->windowY = 1;
    cs->windowW = 1;
    cs->windowH = -1;
  } else {
    cs->flags &= ~kCsWindow;
  }
  cs->scaleX = 1;
  cs->scaleY = 1;
  cs->offsetX = 0;
  cs->offsetY = 0;
}

void CoordSysDerive(CoordSys* out, const CoordSys* source, const DRect* rect) {
  CoordSysParams block;
  std::memcpy(&block, &source->params, sizeof block);
  int projection = source->projection;
  bool internal = (source->flags & kCsInternalAffine) != 0;
  double affine12[12];
  std::memcpy(affine12, source->internalAffine, sizeof source->internalAffine);
  std::memcpy(affine12 + 6, source->internalAffineInverse, sizeof source->internalAffineInverse);
  if (projection == 1) {
    double latitude = 0;
    if (rect) {
      DRect r = *rect;
      RectSanitize(&r);
      DPoint centre{(r.x1 + r.x2) / 2, (r.y1 + r.y2) / 2}, lonLat;
      PlaneToLonLat(&centre, &lonLat, source, 1);
      latitude = lonLat.y + 0.0;
    }
    block.params[0] = latitude;
  }
  CoordSysInit(out, projection, &block);
  if (internal) CoordSysSetInternalAffine(out, affine12, true);
}

double CoordSysWindowAspect(const CoordSys* cs) {
  double ratio = kDisplayResolutionX / kDisplayResolutionY;
  if (cs->projection == 1 && !(cs->flags & kCsInternalAffine) &&
      !(cs->params.flags & kParamsAffine))
    ratio *= cs->k[0];
  return ratio;
}

}  // namespace layerio
