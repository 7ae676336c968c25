// The converters of a transform record: the general converter that runs the
// chain from one system through longitude/latitude into the other, leaving
// out each step the two systems share; the linear integer mapping between a
// window and the system it looks onto; and the identity. Only the general
// converter may reach a projection; the other two are integer and affine
// arithmetic.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/memory.h"

namespace layerio {

namespace {

// Points cross the general converter in slices of this many, each step over
// a whole slice, so a step's routine is called once per slice.
constexpr int kSlice = 256;

void InputToDoubles(const IPoint* intIn, const DPoint* in, DPoint* out, int n) {
  if (intIn)
    IPointsToDouble(intIn, out, n);
  else if (in != out)
    memmove(out, in, sizeof(DPoint) * size_t(n));
}

void Output(const DPoint* p, IPoint* intOut, DPoint* out, int n) {
  if (intOut)
    DPointsToInt(p, intOut, n);
  else if (out && out != p)
    memmove(out, p, sizeof(DPoint) * size_t(n));
}

// From S's integer plane to D's, in place over a slice.
void GeneralSlice(DPoint* p, const CoordSys* s, const CoordSys* d, uint32_t flags, int n) {
  CoordUnscalePoints(p, p, s, n);
  if (!(flags & kXfMatchInternalAffine)) InternalAffineForward(p, p, s, n);
  if (!(flags & kXfMatch)) AffineInverse(p, p, s, n);
  if (!(flags & kXfMatchIgnoringAffine)) {
    ProjInversePoints(p, p, s, n);
    if (!(flags & kXfDatumIgnored))
      DatumShiftPoints(p, &s->params.datum, &s->ellipsoid, p, &d->params.datum, &d->ellipsoid, n);
    ProjForwardPoints(p, p, d, n);
  }
  if (!(flags & kXfMatch)) AffineForward(p, p, d, n);
  if (!(flags & kXfMatchInternalAffine)) InternalAffineInverse(p, p, d, n);
  CoordScalePoints(p, p, d, n);
}

void GeneralPoints(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                   const CoordSys* s, const CoordSys* d, uint32_t flags, int n) {
  // Double output with double input works in the output array itself; any
  // integer end goes through a scratch slice.
  if (!intIn && !intOut) {
    for (int base = 0; base < n; base += kSlice) {
      int m = n - base < kSlice ? n - base : kSlice;
      InputToDoubles(nullptr, in + base, out + base, m);
      GeneralSlice(out + base, s, d, flags, m);
    }
    return;
  }
  DPoint scratch[kSlice];
  for (int base = 0; base < n; base += kSlice) {
    int m = n - base < kSlice ? n - base : kSlice;
    InputToDoubles(intIn ? intIn + base : nullptr, in ? in + base : nullptr, scratch, m);
    GeneralSlice(scratch, s, d, flags, m);
    Output(scratch, intOut ? intOut + base : nullptr, out ? out + base : nullptr, m);
  }
}

void GeneralRect(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                 const CoordSys* s, const CoordSys* d, uint32_t flags) {
  DRect r;
  if (intIn)
    IRectToDouble(intIn, &r);
  else
    r = *in;
  CoordUnscaleRect(&r, &r, s);
  if (!(flags & kXfMatchInternalAffine)) InternalAffineForwardRect(&r, &r, s);
  if (!(flags & kXfMatch)) AffineInverseRect(&r, &r, s);
  if (!(flags & kXfMatchIgnoringAffine)) {
    ProjInverseRect(&r, &r, s);
    if (!(flags & kXfDatumIgnored))
      DatumShiftRect(&r, &s->params.datum, &s->ellipsoid, &r, &d->params.datum, &d->ellipsoid);
    ProjForwardRect(&r, &r, d);
  }
  if (!(flags & kXfMatch)) AffineForwardRect(&r, &r, d);
  if (!(flags & kXfMatchInternalAffine)) InternalAffineInverseRect(&r, &r, d);
  CoordScaleRect(&r, &r, d);
  if (intOut)
    DRectToInt(&r, intOut);
  else
    *out = r;
}

int32_t ClampInt(int64_t v) {
  return int32_t(v < -kIntCoordLimit ? -kIntCoordLimit : v > kIntCoordLimit ? kIntCoordLimit : v);
}

double ClampDouble(double v) {
  return v < -kIntCoordLimit ? -kIntCoordLimit : v > kIntCoordLimit ? kIntCoordLimit : v;
}

// a / b rounded to the nearest, halves away from zero, as IntDivRound but
// with a 64-bit dividend.
int64_t DivRound64(int64_t a, int64_t b) {
  if (b == 0) return a;
  uint64_t ua = a < 0 ? uint64_t(0) - uint64_t(a) : uint64_t(a);
  uint64_t ub = b < 0 ? uint64_t(0) - uint64_t(b) : uint64_t(b);
  uint64_t q = (ua + ub / 2) / ub;
  return (a < 0) != (b < 0) ? -int64_t(q) : int64_t(q);
}

// One axis of the window-to-system mapping. The count of halvings keeps
// |dx| / 2^k within the window's factor, as the mapping was built for; the
// product dx * (W / 2^k) is formed in 64 bits so that no size of W wraps it.
int32_t LinearForward(int32_t value, int32_t origin, int32_t size, int32_t factor,
                      int32_t targetOrigin, int32_t targetSize) {
  int64_t dx = int64_t(value) - origin;
  // A window wider than 2^30 integers has factor 0: no count of halvings
  // meets it, and halving until dx vanishes would send every point to the
  // origin. The 64-bit product needs none, so such a window maps exactly.
  if (factor <= 0) return ClampInt(DivRound64(dx * targetSize, size) + targetOrigin);
  uint64_t magnitude = dx < 0 ? uint64_t(-dx) : uint64_t(dx);
  uint64_t limit = uint64_t(factor);
  int k = 0;
  while ((magnitude >> k) > limit) ++k;
  int64_t scaled = int64_t(targetSize) >> (k < 63 ? k : 63);
  int64_t x1 = DivRound64(dx * scaled, size);
  int64_t bound = k < 31 ? int64_t(INT32_MAX >> k) : 0;
  if (x1 <= bound && x1 >= -bound)
    return ClampInt(IntAddSaturate(int32_t(x1 * (int64_t(1) << k)), targetOrigin));
  return ClampInt(NumRound(ClampDouble(std::ldexp(double(x1), k) + targetOrigin)));
}

// The other way: dx and the system's size are halved together until w * dx
// stays within the window's factor.
int32_t LinearBackward(int32_t value, int32_t origin, int32_t size, int32_t factor,
                       int32_t targetOrigin, int32_t targetSize) {
  int64_t dx = int64_t(value) - targetOrigin;
  if (factor <= 0) return ClampInt(DivRound64(int64_t(size) * dx, targetSize) + origin);
  int64_t w = targetSize;
  int64_t limit = factor;
  // Arithmetic shifts, as the mapping was built for; a factor of at least 1
  // stops them before dx can stick at -1.
  while ((dx < 0 ? -dx : dx) > limit && w != 0) {
    dx >>= 1;
    w >>= 1;
  }
  if (w == 0) {  // halved away: the mapping in doubles
    double x = double(int64_t(value) - targetOrigin) * size / targetSize + origin;
    return ClampInt(NumRound(ClampDouble(x)));
  }
  return ClampInt(DivRound64(int64_t(size) * dx, w) + origin);
}

void LinearPoints(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                  const CoordXform* xf, int n, bool forward) {
  const IntExtent& a = xf->a.extent;
  const IntExtent& b = xf->mapping;
  if (intIn) {
    for (int i = 0; i < n; ++i) {
      IPoint p = intIn[i];
      int32_t x, y;
      if (forward) {
        x = LinearForward(p.x, a.originX, a.width, a.xFactor, b.originX, b.width);
        y = LinearForward(p.y, a.originY, a.height, a.yFactor, b.originY, b.height);
      } else {
        x = LinearBackward(p.x, a.originX, a.width, a.xFactor, b.originX, b.width);
        y = LinearBackward(p.y, a.originY, a.height, a.yFactor, b.originY, b.height);
      }
      if (intOut) {
        intOut[i] = IPoint{x, y};
      } else {
        out[i].x = x;
        out[i].y = y;
      }
    }
    return;
  }
  double kx, ky, fromX, fromY, toX, toY;
  if (forward) {
    kx = double(b.width) / a.width;
    ky = double(b.height) / a.height;
    fromX = a.originX, fromY = a.originY, toX = b.originX, toY = b.originY;
  } else {
    kx = double(a.width) / b.width;
    ky = double(a.height) / b.height;
    fromX = b.originX, fromY = b.originY, toX = a.originX, toY = a.originY;
  }
  DPoint scratch[kSlice];
  for (int base = 0; base < n; base += kSlice) {
    int m = n - base < kSlice ? n - base : kSlice;
    DPoint* p = intOut ? scratch : out + base;
    for (int i = 0; i < m; ++i) {
      DPoint q = in[base + i];
      p[i].x = (q.x - fromX) * kx + toX;
      p[i].y = (q.y - fromY) * ky + toY;
    }
    if (intOut) DPointsToInt(scratch, intOut + base, m);
  }
}

void LinearRect(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                const CoordXform* xf, bool forward) {
  IPoint ip[2];
  DPoint dp[2];
  if (intIn) {
    ip[0] = IPoint{intIn->x1, intIn->y1};
    ip[1] = IPoint{intIn->x2, intIn->y2};
  } else {
    dp[0] = DPoint{in->x1, in->y1};
    dp[1] = DPoint{in->x2, in->y2};
  }
  if (intOut) {
    LinearPoints(intIn ? ip : nullptr, dp, ip, nullptr, xf, 2, forward);
    IRectSet(intOut, ip[0].x, ip[0].y, ip[1].x, ip[1].y);
    IRectNormalize(intOut);
  } else {
    LinearPoints(intIn ? ip : nullptr, dp, nullptr, dp, xf, 2, forward);
    DRectSet(out, dp[0].x, dp[0].y, dp[1].x, dp[1].y);
    DRectNormalize(out);
  }
}

double EdgeLength(const DPoint& p, const DPoint& q) { return std::hypot(q.x - p.x, q.y - p.y); }

}  // namespace

void XformGeneralPointsAB(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                          const CoordXform* xf, int n) {
  GeneralPoints(intIn, in, intOut, out, &xf->a, &xf->b, xf->flags, n);
}

void XformGeneralPointsBA(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                          const CoordXform* xf, int n) {
  GeneralPoints(intIn, in, intOut, out, &xf->b, &xf->a, xf->flags, n);
}

void XformLinearPointsAB(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                         const CoordXform* xf, int n) {
  LinearPoints(intIn, in, intOut, out, xf, n, true);
}

void XformLinearPointsBA(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                         const CoordXform* xf, int n) {
  LinearPoints(intIn, in, intOut, out, xf, n, false);
}

void XformIdentityPoints(const IPoint* intIn, const DPoint* in, IPoint* intOut, DPoint* out,
                         const CoordXform*, int n) {
  if (n <= 0) return;
  if (intIn && intOut) {
    if (intIn != intOut) memmove(intOut, intIn, sizeof(IPoint) * size_t(n));
  } else if (intIn) {
    // Top down, so that doubles written over their own integers are safe.
    for (int i = n - 1; i >= 0; --i) {
      IPoint p = intIn[i];
      out[i] = DPoint{double(p.x), double(p.y)};
    }
  } else if (intOut) {
    DPointsToInt(in, intOut, n);
  } else if (in != out) {
    memmove(out, in, sizeof(DPoint) * size_t(n));
  }
}

void XformGeneralRectAB(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                        const CoordXform* xf) {
  GeneralRect(intIn, in, intOut, out, &xf->a, &xf->b, xf->flags);
}

void XformGeneralRectBA(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                        const CoordXform* xf) {
  GeneralRect(intIn, in, intOut, out, &xf->b, &xf->a, xf->flags);
}

void XformLinearRectAB(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                       const CoordXform* xf) {
  LinearRect(intIn, in, intOut, out, xf, true);
}

void XformLinearRectBA(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                       const CoordXform* xf) {
  LinearRect(intIn, in, intOut, out, xf, false);
}

void XformIdentityRect(const IRect* intIn, const DRect* in, IRect* intOut, DRect* out,
                       const CoordXform*) {
  if (intIn && intOut)
    *intOut = *intIn;
  else if (intIn)
    IRectToDouble(intIn, out);
  else if (intOut)
    DRectToInt(in, intOut);
  else
    *out = *in;
}

void XformRectThroughPoints(const DRect* in, XformPointsFn points, XformRectFn rect,
                            const CoordXform* xf, DRect* out) {
  if (xf->flags & kXfRectCompatible) {
    DRect r = *in;
    rect(nullptr, &r, nullptr, out, xf);
    return;
  }
  // Corners in the order (x1, y1), (x1, y2), (x2, y2), (x2, y1), then the
  // centre: edges 0-3 and 1-2 were horizontal, 0-1 and 3-2 vertical.
  DPoint p[5];
  DRectCorners(in, p);
  DRectCenter(in, &p[4]);
  points(nullptr, p, nullptr, p, xf, 5);
  double width, height;
  if (p[0].y == p[3].y && p[1].y == p[2].y)
    width = (std::fabs(p[3].x - p[0].x) + std::fabs(p[2].x - p[1].x)) / 2;
  else
    width = (EdgeLength(p[0], p[3]) + EdgeLength(p[1], p[2])) / 2;
  if (p[0].x == p[1].x && p[3].x == p[2].x)
    height = (std::fabs(p[1].y - p[0].y) + std::fabs(p[2].y - p[3].y)) / 2;
  else
    height = (EdgeLength(p[0], p[1]) + EdgeLength(p[3], p[2])) / 2;
  DRectAroundPoint(&p[4], out, width / 2, height / 2);
}

void CoordXformRectForward(const DRect* in, IRect* out, const CoordXform* xf) {
  DRect r;
  XformRectThroughPoints(in, xf->pointsForwardAlways, xf->rectForwardAlways, xf, &r);
  DRectToInt(&r, out);
}

void CoordXformRectBackward(const IRect* in, DRect* out, const CoordXform* xf) {
  DRect r;
  IRectToDouble(in, &r);
  XformRectThroughPoints(&r, xf->pointsBackwardAlways, xf->rectBackwardAlways, xf, out);
}

void CoordXformRectBackClamped(const IRect* in, IRect* out, const CoordXform* xf) {
  IRect r;
  xf->rectBackwardAlways(in, nullptr, &r, nullptr, xf);
  IRectClamp(&r, out, 0);
}

bool CoordXformIsRectCompatible(const CoordXform* xf) {
  return (xf->flags & kXfRectCompatible) != 0;
}

}  // namespace layerio
