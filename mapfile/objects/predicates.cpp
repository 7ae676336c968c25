// Spatial predicates. Tests on integer points are exact: coordinates are
// widened to 128 bits before any product, as differences of 32-bit values
// need 33 bits and their cross products 67.
#include "mapfile/objects/predicates.h"

#include <algorithm>
#include <cmath>

#include "mapfile/objects/geometry.h"

namespace layerio {

namespace {

__extension__ typedef __int128 Int128;

int Sign(Int128 v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

bool Same(const IPoint* p, const IPoint* q) { return p->x == q->x && p->y == q->y; }

// (b - a) x (c - a): positive when c lies left of the line a-b.
Int128 Orient(const IPoint* a, const IPoint* b, const IPoint* c) {
  Int128 bx = Int128{b->x} - a->x, by = Int128{b->y} - a->y;
  Int128 cx = Int128{c->x} - a->x, cy = Int128{c->y} - a->y;
  return bx * cy - by * cx;
}

// The nearest integer to n / d, kept within 32 bits: a crossing half a unit
// beyond the outermost coordinate would round past it.
int32_t RoundedQuotient(Int128 n, Int128 d) {
  int64_t v = NumRound(static_cast<double>(n) / static_cast<double>(d));
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

void SegmentBox(const IPoint* p, const IPoint* q, IRect* r) { IRectFromPoints(r, p, q); }

bool BoxKind(int kind) { return kind == kGeomText || kind == kGeomRect || kind == kGeomRoundRect; }

// Centre and half axes of the ellipse inscribed in a rectangle.
struct Ellipse {
  double cx, cy, rx, ry;
};
Ellipse EllipseOf(const IRect& r) {
  return {(double(r.x1) + r.x2) / 2, (double(r.y1) + r.y2) / 2, (double(r.x2) - r.x1) / 2,
          (double(r.y2) - r.y1) / 2};
}

bool Usable(const GeomObject* object) { return object && !GeomObjectIsEmpty(object); }

// ----- walks with a context: the other side, and the answer so far -----

struct PointObjectWalk {
  const GeomObject* other;
  int (*test)(const IPoint*, const GeomObject*);
  int found;
};
int VisitPointObject(void* context, const IPoint* point) {
  auto* w = static_cast<PointObjectWalk*>(context);
  if (w->test(point, w->other)) w->found = 1;
  return !w->found;
}
// 1 when some point of object passes test against other.
int AnyPoint(const GeomObject* object, const GeomObject* other,
             int (*test)(const IPoint*, const GeomObject*)) {
  PointObjectWalk w{other, test, 0};
  GeomObjectForEachPoint(object, VisitPointObject, &w);
  return w.found;
}

struct SegmentPairWalk {
  const GeomObject* other;
  const IPoint *a, *b;
  int (*test)(const IPoint*, const IPoint*, const IPoint*, const IPoint*);
  int found;
};
int VisitInner(void* context, const IPoint* c, const IPoint* d) {
  auto* w = static_cast<SegmentPairWalk*>(context);
  if (w->test(w->a, w->b, c, d)) w->found = 1;
  return !w->found;
}
int VisitOuter(void* context, const IPoint* a, const IPoint* b) {
  auto* w = static_cast<SegmentPairWalk*>(context);
  IRect box;
  SegmentBox(a, b, &box);
  if (!IRectsOverlap(&box, &w->other->bounds)) return 1;  // meets no segment of the other
  w->a = a;
  w->b = b;
  GeomObjectForEachSegment(w->other, VisitInner, w);
  return !w->found;
}
// 1 when some segment of x and some segment of y pass test.
int AnySegmentPair(const GeomObject* x, const GeomObject* y,
                   int (*test)(const IPoint*, const IPoint*, const IPoint*, const IPoint*)) {
  SegmentPairWalk w{y, nullptr, nullptr, test, 0};
  GeomObjectForEachSegment(x, VisitOuter, &w);
  return w.found;
}

int CrossAnswer(const IPoint* a, const IPoint* b, const IPoint* c, const IPoint* d) {
  return GeomSegmentCross(a, b, c, d, nullptr, nullptr);
}

struct SegmentShapeWalk {
  const IRect* rect;
  const GeomObject* ellipse;
  int found;
};
int VisitSegmentRect(void* context, const IPoint* p, const IPoint* q) {
  auto* w = static_cast<SegmentShapeWalk*>(context);
  if (GeomSegmentMeetsRect(p, q, w->rect)) w->found = 1;
  return !w->found;
}
int VisitSegmentEllipse(void* context, const IPoint* p, const IPoint* q) {
  auto* w = static_cast<SegmentShapeWalk*>(context);
  if (GeomSegmentMeetsEllipse(p, q, w->ellipse)) w->found = 1;
  return !w->found;
}

int PointInBox(const IPoint* point, const GeomObject* box) {
  return IPointInRect(point, &box->bounds);
}

struct FirstPointWalk {
  const GeomObject* other;
  int found;
};
int VisitFirstPoint(void* context, const GeomObject* object, const GeomPart* part) {
  auto* w = static_cast<FirstPointWalk*>(context);
  if (part->pointCount < 1) return 1;
  if (GeomPointInObject(GeomPartPoints(object, part), w->other)) w->found = 1;
  return !w->found;
}

// A region r against any other object o.
int AreaTest(const GeomObject* r, const GeomObject* o) {
  if (AnyPoint(o, r, GeomPointInRegion)) return 1;
  if (AnySegmentPair(r, o, CrossAnswer)) return 1;
  if (GeomKindIsArea(o->kind)) {
    // No point of o in r and no edges crossing: r may still lie inside o.
    FirstPointWalk w{o, 0};
    GeomObjectForEachPart(r, VisitFirstPoint, &w);
    return w.found;
  }
  return 0;
}

// A rectangle, rounded rectangle or text (its bounds) against another
// object that is no ellipse, region or point.
int BoxTest(const GeomObject* box, const GeomObject* o) {
  if (BoxKind(o->kind)) return 1;
  if (AnyPoint(o, box, PointInBox)) return 1;
  SegmentShapeWalk w{&box->bounds, nullptr, 0};
  GeomObjectForEachSegment(o, VisitSegmentRect, &w);
  return w.found;
}

// An ellipse e against any other object o. The tests that find one way of
// meeting say yes; the last ones catch the rest.
int EllipseTest(const GeomObject* e, const GeomObject* o) {
  if (o->kind == kGeomEllipse) {
    return GeomEllipsesIntersect(e, o) || GeomEllipseBoxTest(e, o) || GeomEllipseBoxTest(o, e);
  }
  if (o->kind == kGeomRegion) {
    IPoint centre;
    IRectCenter(&e->bounds, &centre);
    if (GeomPointInRegion(&centre, o)) return 1;
  } else if (BoxKind(o->kind)) {
    if (IRectInside(&e->bounds, &o->bounds)) return 1;
  }
  if (AnyPoint(o, e, GeomPointInEllipse)) return 1;
  SegmentShapeWalk w{nullptr, e, 0};
  GeomObjectForEachSegment(o, VisitSegmentEllipse, &w);
  return w.found;
}

// ----- the ray walk of point in region and ring -----

struct RayWalk {
  IPoint point;
  int parity;
  int on;
};
int VisitRaySegment(void* context, const IPoint* p, const IPoint* q) {
  auto* w = static_cast<RayWalk*>(context);
  if (w->point.x > p->x && w->point.x > q->x) return 1;  // wholly left of the point
  int side;
  if (!GeomPointSide(&w->point, p, q, &side, 1)) return 1;
  if (side == kSideOn) {
    w->on = 1;
    return 0;
  }
  if (side == kSideRight) w->parity ^= 1;
  return 1;
}

struct PointSegmentWalk {
  IPoint point;
  int found;
};
int VisitPointOnSegment(void* context, const IPoint* p, const IPoint* q) {
  auto* w = static_cast<PointSegmentWalk*>(context);
  if (GeomPointOnSegment(&w->point, p, q)) w->found = 1;
  return !w->found;
}

}  // namespace

int GeomObjectsIntersect(const GeomObject* a, const GeomObject* b) {
  if (!Usable(a) || !Usable(b)) return 0;
  if (!IRectsOverlap(&a->bounds, &b->bounds)) return 0;
  if (a->kind == kGeomPoint) return GeomPointInOrOn(&a->u.point.position, b);
  if (b->kind == kGeomPoint) return GeomPointInOrOn(&b->u.point.position, a);
  if (a->kind == kGeomMultipoint) return AnyPoint(a, b, GeomPointInOrOn);
  if (b->kind == kGeomMultipoint) return AnyPoint(b, a, GeomPointInOrOn);
  if (a->kind == kGeomCollection || b->kind == kGeomCollection) {
    const GeomObject* c = a->kind == kGeomCollection ? a : b;
    const GeomObject* o = c == a ? b : a;
    const GeomCollectionFields& parts = c->u.collection;
    if (Usable(parts.region)) {
      // Against another collection the region goes through the whole test,
      // which takes the other collection apart in turn; the area test alone
      // would see no point nor segment in it.
      int hit = o->kind == kGeomCollection ? GeomObjectsIntersect(o, parts.region)
                                           : AreaTest(parts.region, o);
      if (hit) return 1;
    }
    if (Usable(parts.polyline) && GeomObjectsIntersect(o, parts.polyline)) return 1;
    if (Usable(parts.multipoint) && GeomObjectsIntersect(o, parts.multipoint)) return 1;
    return 0;
  }
  if (!GeomKindIsArea(a->kind) && !GeomKindIsArea(b->kind)) {
    return AnySegmentPair(a, b, GeomSegmentsIntersect);
  }
  if (a->kind == kGeomEllipse) return EllipseTest(a, b);
  if (b->kind == kGeomEllipse) return EllipseTest(b, a);
  if (a->kind != kGeomRegion && b->kind != kGeomRegion) {
    return BoxKind(a->kind) ? BoxTest(a, b) : BoxTest(b, a);
  }
  return a->kind == kGeomRegion ? AreaTest(a, b) : AreaTest(b, a);
}

int GeomPointInOrOn(const IPoint* point, const GeomObject* object) {
  if (!Usable(object) || !IPointInRect(point, &object->bounds)) return 0;
  switch (object->kind) {
    case kGeomPoint:
      return Same(point, &object->u.point.position) ? 1 : 0;
    case kGeomLine: {
      const GeomLineFields& l = object->u.line;
      IPoint p{l.x1, l.y1}, q{l.x2, l.y2};
      return GeomPointOnSegment(point, &p, &q);
    }
    case kGeomPolyline: {
      // A polyline without a segment of two distinct points has nothing to
      // lie on.
      PointSegmentWalk w{*point, 0};
      GeomObjectForEachSegment(object, VisitPointOnSegment, &w);
      return w.found;
    }
    case kGeomRegion:
      return GeomPointInRegion(point, object);
    case kGeomEllipse:
      return GeomPointInEllipse(point, object);
    case kGeomMultipoint: {
      const IPoint* p = static_cast<const IPoint*>(object->data);
      for (uint32_t i = 0; i < object->u.multipoint.pointCount; ++i) {
        if (Same(point, &p[i])) return 1;
      }
      return 0;
    }
    case kGeomCollection: {
      const GeomCollectionFields& c = object->u.collection;
      if (Usable(c.region) && GeomPointInRegion(point, c.region)) return 1;
      if (Usable(c.polyline) && GeomPointInOrOn(point, c.polyline)) return 1;
      if (Usable(c.multipoint) && GeomPointInOrOn(point, c.multipoint)) return 1;
      return 0;
    }
    case kGeomText:
    case kGeomRect:
    case kGeomRoundRect:
    case kGeomFrame:
    case kGeomItems12:
    case kGeomItems24:
      return 1;
    default:
      // An arc offers no points to lie on.
      return 0;
  }
}

int GeomPointInRegion(const IPoint* point, const GeomObject* region) {
  if (!region) return 0;
  if (region->kind != kGeomRegion) return GeomPointInOrOn(point, region);
  const GeomPart* parts = GeomParts(region);
  if (!parts || GeomObjectIsEmpty(region)) return 0;
  uint32_t count = region->u.poly.partCount;
  for (uint32_t first = 0; first < count;) {
    // A ring and the holes that follow it form one group.
    uint32_t end = first + 1 + std::min(parts[first].following, count - first - 1);
    RayWalk w{*point, 0, 0};
    for (uint32_t i = first; i < end; ++i) {
      if (parts[i].pointCount < 2) continue;
      GeomPartForEachSegment(region, &parts[i], VisitRaySegment, &w);
      if (w.on) return 1;
    }
    if (w.parity) return 1;
    first = end;
  }
  return 0;
}

int GeomPointInRing(const IPoint* point, const GeomObject* object, const GeomPart* part) {
  if (!object || !part || !IPointInRect(point, &part->bounds) || part->pointCount < 2) return 0;
  RayWalk w{*point, 0, 0};
  GeomPartForEachSegment(object, part, VisitRaySegment, &w);
  return w.on || w.parity ? 1 : 0;
}

int GeomPointOnSegment(const IPoint* point, const IPoint* p, const IPoint* q) {
  IRect box;
  SegmentBox(p, q, &box);
  if (!IPointInRect(point, &box)) return 0;
  if (p->x == q->x || p->y == q->y) return 1;
  return Orient(p, q, point) == 0 ? 1 : 0;
}

int GeomPointSide(const IPoint* point, const IPoint* p, const IPoint* q, int* side, int rayMode) {
  int32_t ylo = std::min(p->y, q->y), yhi = std::max(p->y, q->y);
  int32_t xlo = std::min(p->x, q->x), xhi = std::max(p->x, q->x);
  if (point->y < ylo || point->y > yhi) return 0;
  if (Same(point, p) || Same(point, q)) {
    *side = kSideOn;
    return 1;
  }
  if (rayMode && point->y == yhi) {
    // The upper end of a sloping edge belongs to the next edge, so that a
    // vertex on the ray is counted once (or twice where the boundary turns).
    if (ylo != yhi || point->x < xlo || point->x > xhi) return 0;
    *side = kSideOn;
    return 1;
  }
  if (point->x < xlo) {
    if (!rayMode) return 0;
    *side = kSideRight;
    return 1;
  }
  if (point->x > xhi) {
    if (!rayMode) return 0;
    *side = kSideLeft;
    return 1;
  }
  if (xlo == xhi || ylo == yhi) {
    *side = kSideOn;
    return 1;
  }
  const IPoint* lower = p->y < q->y ? p : q;
  const IPoint* upper = lower == p ? q : p;
  // Positive when the point lies left of the edge walked upward.
  Int128 c = Orient(lower, upper, point);
  *side = c == 0 ? kSideOn : c > 0 ? kSideRight : kSideLeft;
  return 1;
}

int GeomSegmentsIntersect(const IPoint* a, const IPoint* b, const IPoint* c, const IPoint* d) {
  IRect ab, cd;
  SegmentBox(a, b, &ab);
  SegmentBox(c, d, &cd);
  if (!IRectsOverlap(&ab, &cd)) return 0;
  if (Same(a, b)) return GeomPointOnSegment(a, c, d);
  if (Same(c, d)) return GeomPointOnSegment(c, a, b);
  int o1 = Sign(Orient(a, b, c)), o2 = Sign(Orient(a, b, d));
  int o3 = Sign(Orient(c, d, a)), o4 = Sign(Orient(c, d, b));
  // Collinear segments whose boxes overlap share a stretch.
  if (o1 == 0 && o2 == 0) return 1;
  return o1 * o2 <= 0 && o3 * o4 <= 0 ? 1 : 0;
}

int GeomSegmentCross(const IPoint* a, const IPoint* b, const IPoint* c, const IPoint* d,
                     IPoint* point, int* code) {
  int contact = 0;
  IPoint at{};
  if ((Same(a, c) && Same(b, d)) || (Same(a, d) && Same(b, c))) {
    contact = kSegmentSameEnds;
    at = *a;
  } else if (Same(a, c) || Same(a, d)) {
    contact = kSegmentSharedEnd;
    at = *a;
  } else if (Same(b, c) || Same(b, d)) {
    contact = kSegmentSharedEnd;
    at = *b;
  }
  if (!contact) {
    IRect ab, cd;
    SegmentBox(a, b, &ab);
    SegmentBox(c, d, &cd);
    if (!IRectsOverlap(&ab, &cd)) return 0;
    if (Same(a, b) || Same(c, d)) {
      // A segment of one point has no direction: it touches where it lies.
      const IPoint* single = Same(a, b) ? a : c;
      int on = Same(a, b) ? GeomPointOnSegment(a, c, d) : GeomPointOnSegment(c, a, b);
      if (!on) return 0;
      contact = kSegmentCrossing;
      at = *single;
    } else {
      Int128 d1x = Int128{b->x} - a->x, d1y = Int128{b->y} - a->y;
      Int128 d2x = Int128{d->x} - c->x, d2y = Int128{d->y} - c->y;
      Int128 ex = Int128{c->x} - a->x, ey = Int128{c->y} - a->y;
      Int128 cross = d1x * d2y - d1y * d2x;
      if (cross == 0) {
        if (d1x * ey - d1y * ex != 0) return 0;  // parallel, apart
        // Collinear: compare the stretches along the longer extent of c-d.
        bool alongX = (d2x < 0 ? -d2x : d2x) >= (d2y < 0 ? -d2y : d2y);
        auto key = [alongX](const IPoint* p) { return alongX ? p->x : p->y; };
        int32_t lo1 = std::min(key(a), key(b)), hi1 = std::max(key(a), key(b));
        int32_t lo2 = std::min(key(c), key(d)), hi2 = std::max(key(c), key(d));
        if (std::max(lo1, lo2) > std::min(hi1, hi2)) return 0;
        contact = kSegmentCollinear;
        auto in1 = [&](const IPoint* p) { return key(p) >= lo1 && key(p) <= hi1; };
        at = in1(c) ? *c : in1(d) ? *d : *a;
      } else {
        // The lines cross at a + t (b - a), t = tn / cross; the crossing's
        // coordinates as exact fractions over cross, compared with the
        // overlap of the boxes widened by half a unit.
        Int128 tn = ex * d2y - ey * d2x;
        Int128 den = cross;
        Int128 xn = Int128{a->x} * den + tn * d1x;
        Int128 yn = Int128{a->y} * den + tn * d1y;
        if (den < 0) {
          den = -den;
          xn = -xn;
          yn = -yn;
        }
        Int128 xlo = std::max(ab.x1, cd.x1), xhi = std::min(ab.x2, cd.x2);
        Int128 ylo = std::max(ab.y1, cd.y1), yhi = std::min(ab.y2, cd.y2);
        if (2 * xn < (2 * xlo - 1) * den || 2 * xn > (2 * xhi + 1) * den) return 0;
        if (2 * yn < (2 * ylo - 1) * den || 2 * yn > (2 * yhi + 1) * den) return 0;
        contact = kSegmentCrossing;
        at.x = RoundedQuotient(xn, den);
        at.y = RoundedQuotient(yn, den);
      }
    }
  }
  if (code) *code = contact;
  if (point) *point = at;
  return 1;
}

int GeomSegmentMeetsRect(const IPoint* p, const IPoint* q, const IRect* rect) {
  IRect box;
  SegmentBox(p, q, &box);
  if (!IRectsOverlap(&box, rect)) return 0;
  if (IPointInRect(p, rect) || IPointInRect(q, rect)) return 1;
  IPoint corners[4];
  IRectCorners(rect, corners);
  for (int i = 0; i < 4; ++i) {
    if (GeomSegmentsIntersect(p, q, &corners[i], &corners[(i + 1) % 4])) return 1;
  }
  return 0;
}

int GeomSegmentMeetsEllipse(const IPoint* p, const IPoint* q, const GeomObject* object) {
  Ellipse e = EllipseOf(object->bounds);
  if (e.rx == 0 || e.ry == 0) return 0;
  double x1 = p->x - e.cx, y1 = p->y - e.cy, x2 = q->x - e.cx, y2 = q->y - e.cy;
  double rx2 = e.rx * e.rx;
  // The first boundary point counts on the lower end of the range only, the
  // second on both.
  auto within = [](double v, double lo, double hi, bool first) {
    return v >= lo && (first ? v < hi : v <= hi);
  };
  if (x1 == x2) {
    double room = rx2 - x1 * x1;
    if (room <= 0) return 0;
    double y = e.ry / e.rx * std::sqrt(room);
    double lo = std::min(y1, y2), hi = std::max(y1, y2);
    return within(y, lo, hi, true) || within(-y, lo, hi, false) ? 1 : 0;
  }
  double m = (y2 - y1) / (x2 - x1);
  double b = y1 - m * x1;
  double A = m * m * rx2 + e.ry * e.ry;
  double B = -m * b * rx2;
  double C = b * b * rx2 - e.ry * e.ry * rx2;
  double disc = B * B - A * C;
  if (disc < 0 || A == 0) return 0;
  double root = std::sqrt(disc);
  double lo = std::min(x1, x2), hi = std::max(x1, x2);
  return within((B + root) / A, lo, hi, true) || within((B - root) / A, lo, hi, false) ? 1 : 0;
}

int GeomEllipsesIntersect(const GeomObject* a, const GeomObject* b) {
  IPoint ca, cb;
  GeomObjectCentroid(a, &ca);
  GeomObjectCentroid(b, &cb);
  Ellipse ea = EllipseOf(a->bounds), eb = EllipseOf(b->bounds);
  bool walkB = std::min(eb.rx, eb.ry) <= std::min(ea.rx, ea.ry);
  const Ellipse& walk = walkB ? eb : ea;
  const Ellipse& other = walkB ? ea : eb;
  const IPoint& cw = walkB ? cb : ca;
  const IPoint& co = walkB ? ca : cb;
  // The other ellipse is scaled to a unit circle; a flat one cannot be.
  if (other.rx == 0 || other.ry == 0) return 0;
  DPoint q{double(co.x) - cw.x, double(co.y) - cw.y};
  static const int kSigns[4][2] = {{1, 1}, {1, -1}, {-1, -1}, {-1, 1}};
  for (const auto& s : kSigns) {
    if (GeomQuarticTest(s[0] * walk.rx, s[1] * walk.ry, other.rx, other.ry, &q)) return 1;
  }
  return 0;
}

int GeomQuarticTest(double p, double r, double a, double b, const DPoint* q) {
  const double w = std::sqrt(0.5);
  double alpha = (p - q->x) / a, beta = q->x / a;
  double gamma = (r - q->y) / b, delta = q->y / b;
  double coefficients[5] = {
      delta * delta + alpha * alpha - 1,
      w * (alpha * alpha - delta * gamma - 1),
      (gamma * gamma + alpha * alpha - beta * alpha - delta * gamma - 2) / 3,
      w * (gamma * gamma - beta * alpha - 1),
      beta * beta + gamma * gamma - 1,
  };
  return GeomQuarticHasRoot(coefficients, 0);
}

int GeomQuarticHasRoot(const double b[5], int depth) {
  const double kEpsilon = 1e-10;
  if (b[0] > kEpsilon && b[4] > kEpsilon && b[1] > 0 && b[2] > 0 && b[3] > 0) return 0;
  if (b[0] < -kEpsilon && b[4] < -kEpsilon && b[1] < 0 && b[2] < 0 && b[3] < 0) return 0;
  bool bothAbove = b[0] > kEpsilon && b[4] > kEpsilon;
  bool bothBelow = b[0] < -kEpsilon && b[4] < -kEpsilon;
  if (!bothAbove && !bothBelow) return 1;
  if (depth >= 11) return 1;
  double middle = (b[0] + 4 * b[1] + 6 * b[2] + 4 * b[3] + b[4]) / 16;
  double left[5] = {b[0], (b[0] + b[1]) / 2, (b[0] + 2 * b[1] + b[2]) / 4,
                    (b[0] + 3 * b[1] + 3 * b[2] + b[3]) / 8, middle};
  double right[5] = {middle, (b[1] + 3 * b[2] + 3 * b[3] + b[4]) / 8,
                     (b[2] + 2 * b[3] + b[4]) / 4, (b[3] + b[4]) / 2, b[4]};
  return GeomQuarticHasRoot(left, depth + 1) || GeomQuarticHasRoot(right, depth + 1) ? 1 : 0;
}

int GeomEllipseBoxTest(const GeomObject* e, const GeomObject* f) {
  const IRect& r = e->bounds;
  const IRect& s = f->bounds;
  if (r.x1 == s.x1 && r.y1 == s.y1 && r.x2 == s.x2 && r.y2 == s.y2) return 1;
  IPoint corners[4];
  IRectCorners(&r, corners);
  int inside = 0;
  for (const IPoint& c : corners) inside += GeomPointInEllipse(&c, f);
  if (inside == 4) return 1;
  IPoint middle{r.x2, static_cast<int32_t>((int64_t{r.y1} + r.y2) / 2)};
  return GeomPointInEllipse(&middle, f);
}

}  // namespace layerio
