// Rectangles and points: building, normalising, growing, testing and the
// clamped conversions between integer and double coordinates.
#include "mapfile/foundation/memory.h"
#include "mapfile/foundation/rect.h"

#include <cfloat>
#include <cmath>
#include <utility>

namespace layerio {

namespace {

int32_t ToIntCoord(double v) {
  if (std::isnan(v)) return -kIntCoordLimit;
  if (v < -kIntCoordLimit) v = -kIntCoordLimit;
  if (v > kIntCoordLimit) v = kIntCoordLimit;
  return int32_t(NumRound(v));
}

int32_t Midpoint(int32_t a, int32_t b) {
  int32_t sum = IntAddSaturate(a, b);
  if (sum != INT32_MAX && sum != INT32_MIN) return sum / 2;
  return int32_t(a + (int64_t(b) - a) / 2);
}

int32_t Clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : v > high ? high : v; }

}  // namespace

void IRectSet(IRect* r, int32_t x1, int32_t y1, int32_t x2, int32_t y2) { *r = {x1, y1, x2, y2}; }

DRect* DRectSet(DRect* r, double x1, double y1, double x2, double y2) {
  *r = {x1, y1, x2, y2};
  return r;
}

void IRectNormalize(IRect* r) {
  if (r->x1 > r->x2) std::swap(r->x1, r->x2);
  if (r->y1 > r->y2) std::swap(r->y1, r->y2);
}

void DRectNormalize(DRect* r) {
  if (r->x1 > r->x2) std::swap(r->x1, r->x2);
  if (r->y1 > r->y2) std::swap(r->y1, r->y2);
}

void IRectFromPoints(IRect* r, const IPoint* p, const IPoint* q) {
  *r = {p->x, p->y, q->x, q->y};
  IRectNormalize(r);
}

void IRectSetEmpty(IRect* r) { *r = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}; }

void DRectSetEmpty(DRect* r) { *r = {DBL_MAX, DBL_MAX, -DBL_MAX, -DBL_MAX}; }

void IRectUnion(IRect* r, const IRect* s) {
  if (s->x1 < r->x1) r->x1 = s->x1;
  if (s->y1 < r->y1) r->y1 = s->y1;
  if (s->x2 > r->x2) r->x2 = s->x2;
  if (s->y2 > r->y2) r->y2 = s->y2;
}

void IRectAddPoint(IRect* r, const IPoint* p) {
  if (p->x < r->x1) r->x1 = p->x;
  if (p->y < r->y1) r->y1 = p->y;
  if (p->x > r->x2) r->x2 = p->x;
  if (p->y > r->y2) r->y2 = p->y;
}

void DRectAddPoint(DRect* r, const DPoint* p) {
  if (p->x < r->x1) r->x1 = p->x;
  if (p->y < r->y1) r->y1 = p->y;
  if (p->x > r->x2) r->x2 = p->x;
  if (p->y > r->y2) r->y2 = p->y;
}

int IRectIsZero(const IRect* r) { return r->x1 == 0 && r->y1 == 0 && r->x2 == 0 && r->y2 == 0; }

int IRectsOverlap(const IRect* a, const IRect* b) {
  return !(a->x2 < b->x1 || a->x1 > b->x2 || a->y2 < b->y1 || a->y1 > b->y2);
}

int IRectInside(const IRect* a, const IRect* b) {
  return a->x1 >= b->x1 && a->y1 >= b->y1 && a->x2 <= b->x2 && a->y2 <= b->y2;
}

int IPointInRect(const IPoint* p, const IRect* r) {
  return p->x >= r->x1 && p->x <= r->x2 && p->y >= r->y1 && p->y <= r->y2;
}

int DPointInRect(const DPoint* p, const DRect* r) {
  return p->x >= r->x1 && p->x <= r->x2 && p->y >= r->y1 && p->y <= r->y2;
}

void DPointClamp(DPoint* p, const DRect* r) {
  if (p->x < r->x1) p->x = r->x1;
  if (p->x > r->x2) p->x = r->x2;
  if (p->y < r->y1) p->y = r->y1;
  if (p->y > r->y2) p->y = r->y2;
}

void IPointMidpoint(const IPoint* p, const IPoint* q, IPoint* out) {
  IPoint m{Midpoint(p->x, q->x), Midpoint(p->y, q->y)};
  *out = m;
}

void IRectCenter(const IRect* r, IPoint* out) {
  IPoint lo{r->x1, r->y1}, hi{r->x2, r->y2};
  IPointMidpoint(&lo, &hi, out);
}

void DRectCenter(const DRect* r, DPoint* out) {
  DPoint c{(r->x1 + r->x2) * 0.5, (r->y1 + r->y2) * 0.5};
  *out = c;
}

void IRectCorners(const IRect* r, IPoint out[4]) {
  IRect s = *r;
  out[0] = {s.x1, s.y1};
  out[1] = {s.x1, s.y2};
  out[2] = {s.x2, s.y2};
  out[3] = {s.x2, s.y1};
}

void DRectCorners(const DRect* r, DPoint out[4]) {
  DRect s = *r;
  out[0] = {s.x1, s.y1};
  out[1] = {s.x1, s.y2};
  out[2] = {s.x2, s.y2};
  out[3] = {s.x2, s.y1};
}

void IRectInflate(IRect* r, int32_t dx, int32_t dy) {
  // Negating INT32_MIN would overflow; the saturating add of the negative
  // value reaches the same limit.
  int32_t ndx = dx == INT32_MIN ? INT32_MAX : -dx;
  int32_t ndy = dy == INT32_MIN ? INT32_MAX : -dy;
  r->x1 = IntAddSaturate(r->x1, ndx);
  r->y1 = IntAddSaturate(r->y1, ndy);
  r->x2 = IntAddSaturate(r->x2, dx);
  r->y2 = IntAddSaturate(r->y2, dy);
  IRectNormalize(r);
}

void DRectAroundPoint(const DPoint* p, DRect* out, double hx, double hy) {
  DRect r{p->x - hx, p->y - hy, p->x + hx, p->y + hy};
  DRectNormalize(&r);
  *out = r;
}

void DPointsToInt(const DPoint* in, IPoint* out, int n) {
  for (int i = 0; i < n; ++i) {
    double x = in[i].x, y = in[i].y;
    out[i] = {ToIntCoord(x), ToIntCoord(y)};
  }
}

void DRectToInt(const DRect* in, IRect* out) {
  DRect r = *in;
  *out = {ToIntCoord(r.x1), ToIntCoord(r.y1), ToIntCoord(r.x2), ToIntCoord(r.y2)};
}

void IPointsToDouble(const IPoint* in, DPoint* out, int n) {
  for (int i = 0; i < n; ++i) {
    IPoint p = in[i];
    out[i] = {double(p.x), double(p.y)};
  }
}

void IRectToDouble(const IRect* in, DRect* out) {
  IRect r = *in;
  *out = {double(r.x1), double(r.y1), double(r.x2), double(r.y2)};
}

void IPointDelta(const IPoint* p, const IPoint* q, DPoint* out) {
  // The differences are taken in 32 bits, wrapping as the stored format does.
  int32_t dx = int32_t(uint32_t(p->x) - uint32_t(q->x));
  int32_t dy = int32_t(uint32_t(p->y) - uint32_t(q->y));
  *out = {double(dx), double(dy)};
}

void IRectClamp(const IRect* in, IRect* out, int fullRange) {
  int32_t low = fullRange ? -16777217 : -4000;
  int32_t high = fullRange ? 16777216 : 12000;
  IRect r = *in;
  *out = {Clamp(r.x1, low, high), Clamp(r.y1, low, high), Clamp(r.x2, low, high),
          Clamp(r.y2, low, high)};
}

}  // namespace layerio
