#include "mapfile/foundation/error.h"
#include "mapfile/objects/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <numbers>
#include <utility>
#include <vector>

#include "mapfile/objects/predicates.h"

namespace layerio {

namespace {

constexpr int kUnitSquareMetre = 21;
constexpr int kUnitSquareMile = 14;
constexpr int kUnitMile = 0;
constexpr double kSphereRadiusSquared = 40589602774009.0;  // 6,370,997 m, squared
constexpr int32_t kMaxArcResolution = 134217722;
// Points converted at a time when a ring is measured in system units.
constexpr int kChunk = 512;

int IsPoly(const GeomObject* object) {
  return object->kind == kGeomPolyline || object->kind == kGeomRegion;
}

// A part's points lie inside the data buffer.
int PartIsSound(const GeomObject* object, const GeomPart* part) {
  if (part->pointCount < 0 || !object->data) return 0;
  uint64_t headers = uint64_t{kGeomPartSize} * object->u.poly.partCount;
  uint64_t end = uint64_t{part->position} + uint64_t{kGeomPointSize} * uint32_t(part->pointCount);
  return part->position >= headers && end <= object->u.poly.dataSize;
}

int32_t ClampInt(double v) {
  if (!(v >= -kIntCoordLimit)) return -kIntCoordLimit;
  if (v > kIntCoordLimit) return kIntCoordLimit;
  return int32_t(std::llround(v));
}

void PartBounds(const GeomObject* object, const GeomPart* part, IRect* out) {
  IRectSetEmpty(out);
  if (!PartIsSound(object, part)) return;
  const IPoint* p = GeomPartPoints(object, part);
  for (int32_t i = 0; i < part->pointCount; ++i) IRectAddPoint(out, &p[i]);
}

// The measure a part is sorted by.
double PartMeasure(const GeomObject* object, const GeomPart* part) {
  const CoordSys* cs = GeomDefaultCoordSys();
  if (object->kind == kGeomRegion) {
    int planar;
    return GeomRingArea(object, part, cs, kUnitSquareMile, 0, &planar);
  }
  return GeomPartLength(object, part, cs, kUnitMile, 0);
}

// Every point of ring j lies inside ring i.
int RingInsideRing(const GeomObject* object, const GeomPart* j, const GeomPart* i) {
  if (!IRectInside(&j->bounds, &i->bounds)) return 0;
  if (!PartIsSound(object, j)) return 0;
  const IPoint* p = GeomPartPoints(object, j);
  for (int32_t k = 0; k < j->pointCount; ++k) {
    if (!GeomPointInRing(&p[k], object, i)) return 0;
  }
  return 1;
}

// Leftmost maximum over a fixed set of slots, with point updates: the
// selection sort's "first strictly greater than the running maximum" is the
// leftmost maximum of the remaining slots.
class LeftmostMax {
 public:
  explicit LeftmostMax(const std::vector<double>& values) {
    size_ = 1;
    while (size_ < values.size()) size_ *= 2;
    value_.assign(size_, kNone);
    std::copy(values.begin(), values.end(), value_.begin());
    best_.assign(2 * size_, 0);
    for (size_t i = 0; i < size_; ++i) best_[size_ + i] = uint32_t(i);
    for (size_t n = size_ - 1; n >= 1; --n) Pull(n);
  }
  void Set(size_t i, double v) {
    value_[i] = v;
    for (size_t n = (size_ + i) / 2; n >= 1; n /= 2) Pull(n);
  }
  size_t Best() const { return best_[1]; }
  double BestValue() const { return value_[best_[1]]; }
  static constexpr double kNone = -1.0;

 private:
  void Pull(size_t n) {
    uint32_t a = best_[2 * n], b = best_[2 * n + 1];
    best_[n] = value_[a] >= value_[b] ? a : b;
  }
  size_t size_;
  std::vector<double> value_;
  std::vector<uint32_t> best_;
};

// Measures that are not above 0 (NaN included) never move.
double Eligible(double v) { return v > 0.0 ? v : LeftmostMax::kNone; }

// The sort without a table of measures: each part is measured whenever it is
// compared.
int SortRemeasuring(GeomObject* object, GeomPart* parts, uint32_t count, int everyPosition) {
  int moved = 0;
  for (uint32_t at = 0; at < count; ++at) {
    double best = 0.0;
    uint32_t pick = count;
    for (uint32_t k = at; k < count; ++k) {
      double m = PartMeasure(object, &parts[k]);
      if (m > best) {
        best = m;
        pick = k;
      }
    }
    if (pick == count) break;
    if (pick != at) {
      std::swap(parts[at], parts[pick]);
      moved = 1;
    }
    if (!everyPosition) break;
  }
  return moved;
}

int SortGroups(GeomObject* object, GeomPart* parts, uint32_t count) {
  double best = 0.0;
  uint32_t pick = count, pickEnd = count;
  for (uint32_t k = 0; k < count;) {
    uint64_t end = std::min<uint64_t>(uint64_t{k} + 1 + parts[k].following, count);
    double m = PartMeasure(object, &parts[k]);
    if (m > best) {
      best = m;
      pick = k;
      pickEnd = uint32_t(end);
    }
    k = uint32_t(end);
  }
  if (pick == count || pick == 0) return 0;
  std::rotate(parts, parts + pick, parts + pickEnd);
  return 1;
}

}  // namespace

const CoordSys* GeomDefaultCoordSys() {
  static const CoordSys* const system = [] {
    static CoordSys cs;
    CoordSysParams block;
    std::memset(&block, 0, sizeof block);
    block.nonEarth.one = 1;
    block.nonEarth.quadrant = 1;
    block.nonEarth.unit = 0;
    block.nonEarth.quadrant2 = 1;
    CoordSysInit(&cs, 0, &block);
    CoordSysSetScale(&cs, 1.0, 1.0, 0.0, 0.0);
    return &cs;
  }();
  return system;
}

// ----- bounds -----

int GeomObjectComputeBounds(GeomObject* object) {
  IRect r;
  IRectSetEmpty(&r);
  int any = 0;
  switch (object->kind) {
    case kGeomPolyline:
    case kGeomRegion: {
      GeomPart* parts = GeomParts(object);
      int writable = GeomObjectBufferWritable(object);
      for (uint32_t i = 0; parts && i < object->u.poly.partCount; ++i) {
        IRect b;
        PartBounds(object, &parts[i], &b);
        if (writable) parts[i].bounds = b;
        if (b.x1 <= b.x2) {
          IRectUnion(&r, &b);
          any = 1;
        }
      }
      break;
    }
    case kGeomMultipoint: {
      const IPoint* p = static_cast<const IPoint*>(object->data);
      for (uint32_t i = 0; p && i < object->u.multipoint.pointCount; ++i) {
        IRectAddPoint(&r, &p[i]);
        any = 1;
      }
      break;
    }
    case kGeomCollection: {
      const GeomCollectionFields& c = object->u.collection;
      for (const GeomObject* part : {c.region, c.polyline, c.multipoint}) {
        if (!part || GeomObjectIsEmpty(part)) continue;
        IRectUnion(&r, &part->bounds);
        any = 1;
      }
      break;
    }
    default:
      return 0;
  }
  if (!any) IRectSet(&r, 0, 0, 0, 0);
  object->bounds = r;
  return 1;
}

int GeomPartsContiguous(const GeomObject* object) {
  const GeomPart* parts = GeomParts(object);
  if (!parts || object->u.poly.partCount < 2) return 1;
  for (uint32_t i = 0; i + 1 < object->u.poly.partCount; ++i) {
    uint64_t next = uint64_t{parts[i].position} + uint64_t{kGeomPointSize} * parts[i].pointCount;
    if (parts[i + 1].position != next) return 0;
  }
  return 1;
}

// ----- part order and ring nesting -----

int GeomPartsSortBySize(GeomObject* object, int asGroups) {
  if (!IsPoly(object) || !GeomObjectBufferWritable(object)) return 0;
  GeomPart* parts = GeomParts(object);
  uint32_t count = object->u.poly.partCount;
  if (!parts || count < 2) return 0;
  if (asGroups) return SortGroups(object, parts, count);
  int everyPosition = object->kind == kGeomRegion;

  std::vector<double> measures;
  try {
    measures.resize(count);
  } catch (const std::bad_alloc&) {
    ErrorClear();
    return SortRemeasuring(object, parts, count, everyPosition);
  }
  for (uint32_t i = 0; i < count; ++i) measures[i] = Eligible(PartMeasure(object, &parts[i]));

  if (!everyPosition) {
    uint32_t pick = 0;
    for (uint32_t k = 1; k < count; ++k) {
      if (measures[k] > measures[pick]) pick = k;
    }
    if (pick == 0 || measures[pick] <= 0.0) return 0;
    std::swap(parts[0], parts[pick]);
    return 1;
  }

  // Position by position the leftmost largest of the rest is swapped into
  // place; the part it displaces takes its slot, as a selection sort would.
  int moved = 0;
  try {
    LeftmostMax tree(measures);
    for (uint32_t at = 0; at < count; ++at) {
      if (!(tree.BestValue() > 0.0)) break;
      size_t pick = tree.Best();
      if (pick != at) {
        std::swap(parts[at], parts[pick]);
        std::swap(measures[at], measures[pick]);
        tree.Set(pick, measures[pick]);
        moved = 1;
      }
      tree.Set(at, LeftmostMax::kNone);
    }
  } catch (const std::bad_alloc&) {
    ErrorClear();
    return SortRemeasuring(object, parts, count, everyPosition) | moved;
  }
  return moved;
}

int GeomRingNesting(GeomObject* object) {
  if (object->kind != kGeomRegion || !GeomObjectBufferWritable(object)) return 0;
  GeomPart* parts = GeomParts(object);
  uint32_t count = object->u.poly.partCount;
  if (!parts) return 0;
  parts[count - 1].following = 0;
  if (count < 2) return 0;

  // The rings that stay outer rings keep their order, and so do the holes of
  // one outer ring, so the new order is built from the old one: every ring
  // not yet taken as a hole becomes an outer ring and takes its holes from
  // the later rings whose bounds lie inside its own. Those are found among
  // the rings ordered by their left edge.
  std::vector<GeomPart> old(parts, parts + count);
  std::vector<uint32_t> byLeft(count);
  for (uint32_t i = 0; i < count; ++i) byLeft[i] = i;
  std::sort(byLeft.begin(), byLeft.end(), [&](uint32_t a, uint32_t b) {
    return old[a].bounds.x1 < old[b].bounds.x1 || (old[a].bounds.x1 == old[b].bounds.x1 && a < b);
  });
  std::vector<uint8_t> taken(count, 0);
  std::vector<uint32_t> order;
  order.reserve(count);
  std::vector<uint32_t> candidates, holes;
  for (uint32_t i = 0; i < count; ++i) {
    if (taken[i]) continue;
    const GeomPart& outer = old[i];
    order.push_back(i);
    candidates.clear();
    const IRect& box = outer.bounds;
    if (box.x1 <= box.x2) {
      auto first = std::lower_bound(byLeft.begin(), byLeft.end(), box.x1,
                                    [&](uint32_t r, int32_t x) { return old[r].bounds.x1 < x; });
      for (auto it = first; it != byLeft.end() && old[*it].bounds.x1 <= box.x2; ++it) {
        uint32_t j = *it;
        if (j > i && !taken[j] && IRectInside(&old[j].bounds, &box)) candidates.push_back(j);
      }
    }
    std::sort(candidates.begin(), candidates.end());
    holes.clear();
    for (uint32_t j : candidates) {
      if (!RingInsideRing(object, &old[j], &outer)) continue;
      bool island = false;
      for (uint32_t h : holes) {
        if (RingInsideRing(object, &old[j], &old[h])) {
          island = true;
          break;
        }
      }
      if (island) continue;
      holes.push_back(j);
      taken[j] = 1;
    }
    for (uint32_t h : holes) order.push_back(h);
    old[i].following = uint32_t(holes.size());
  }

  int moved = 0;
  for (uint32_t k = 0; k < count; ++k) {
    GeomPart part = old[order[k]];
    if (order[k] != k) moved = 1;
    // A ring taken as a hole heads no group of its own.
    if (taken[order[k]]) part.following = 0;
    parts[k] = part;
  }
  return moved;
}

// ----- centroids -----

int GeomScanCross(int32_t y, const IPoint* p, const IPoint* q, int32_t* x) {
  if (!((p->y < y && y <= q->y) || (q->y < y && y <= p->y))) return 0;
  double v = double(p->x) + (double(q->x) - p->x) * (double(y) - p->y) / (double(q->y) - p->y);
  *x = int32_t(v);
  return 1;
}

int GeomRegionCentroid(GeomObject* object) {
  if (object->kind != kGeomRegion) return 0;
  const GeomPart* parts = GeomParts(object);
  if (!parts) return 0;
  IPoint c;
  IRectCenter(&parts[0].bounds, &c);
  if (parts[0].pointCount > 2 && !GeomPointInRegion(&c, object)) {
    int found = 0;
    int32_t a = 0, b = 0;  // the two smallest crossings, a <= b
    uint64_t last = std::min<uint64_t>(uint64_t{parts[0].following}, object->u.poly.partCount - 1);
    for (uint64_t r = 0; r <= last; ++r) {
      const GeomPart* part = &parts[r];
      if (!PartIsSound(object, part)) continue;
      const IPoint* p = GeomPartPoints(object, part);
      for (int32_t k = 0; k + 1 < part->pointCount; ++k) {
        int32_t x;
        if (!GeomScanCross(c.y, &p[k], &p[k + 1], &x)) continue;
        if (found == 0) {
          a = x;
        } else if (found == 1) {
          b = x;
          if (b < a) std::swap(a, b);
        } else if (x < a) {
          b = a;
          a = x;
        } else if (x < b) {
          b = x;
        }
        ++found;
      }
    }
    if (found >= 2) c.x = int32_t((int64_t{a} + b) / 2);
  }
  object->u.poly.centroid = c;
  return 1;
}

int GeomPolylineCentroid(GeomObject* object) {
  if (object->kind != kGeomPolyline) return 0;
  const GeomPart* parts = GeomParts(object);
  if (!parts || !PartIsSound(object, &parts[0]) || parts[0].pointCount < 1) return 0;
  const IPoint* p = GeomPartPoints(object, &parts[0]);
  int32_t n = parts[0].pointCount;
  IPoint c;
  if (n % 2) {
    c = p[(n - 1) / 2];
  } else {
    IPointMidpoint(&p[n / 2 - 1], &p[n / 2], &c);
  }
  object->u.poly.centroid = c;
  return 1;
}

int GeomMultipointCentroid(GeomObject* object) {
  if (object->kind != kGeomMultipoint) return 0;
  uint32_t n = object->u.multipoint.pointCount;
  const IPoint* p = static_cast<const IPoint*>(object->data);
  if (!p || n == 0) return 0;
  double sx = 0, sy = 0;
  for (uint32_t i = 0; i < n; ++i) {
    sx += p[i].x;
    sy += p[i].y;
  }
  DPoint mean{sx / n, sy / n};
  uint32_t best = 0;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (uint32_t i = 0; i < n; ++i) {
    DPoint q{double(p[i].x), double(p[i].y)};
    double d = PlanarDistance(&q, &mean);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  object->u.multipoint.centroid = p[best];
  return 1;
}

int GeomObjectSetCentroid(GeomObject* object, const IPoint* point, int mustBeInside) {
  if (mustBeInside && object->kind == kGeomRegion && !GeomPointInRegion(point, object)) return 0;
  return GeomObjectSetAttr(object, kAttrCentroid, point);
}

// ----- normalising -----

int GeomObjectNormalize(GeomObject* object, int recomputeCentroid) {
  if (object->kind != kGeomCollection && !GeomObjectHasBuffer(object)) return 0;
  switch (object->kind) {
    case kGeomPolyline: {
      GeomObjectComputeBounds(object);
      int changed = GeomPartsSortBySize(object, 0);
      GeomPolylineCentroid(object);
      return changed;
    }
    case kGeomRegion: {
      GeomObjectComputeBounds(object);
      int changed = GeomPartsSortBySize(object, 0);
      changed |= GeomRingNesting(object);
      if (recomputeCentroid || !GeomParts(object) ||
          !GeomPointInRegion(&object->u.poly.centroid, object)) {
        GeomRegionCentroid(object);
      }
      return changed;
    }
    case kGeomMultipoint:
      GeomObjectComputeBounds(object);
      GeomMultipointCentroid(object);
      return 1;
    case kGeomCollection:
      GeomObjectComputeBounds(object);
      return 1;
    default:
      return 0;
  }
}

// ----- areas and lengths -----

double GeomRingArea(const GeomObject* object, const GeomPart* part, const CoordSys* cs,
                    int areaUnit, int mode, int* planar) {
  int projection = cs->projection;
  int flat = projection == 0 || (mode == 1 && projection != 1);
  if (planar) *planar = flat;
  if (!IsPoly(object) || !PartIsSound(object, part) || part->pointCount < 2) return 0.0;
  const IPoint* p = GeomPartPoints(object, part);
  int32_t n = part->pointCount;
  DPoint buffer[kChunk + 1];
  if (flat) {
    // Summed about the first point: in the integer range the products of
    // raw coordinates reach 1e18, where a double drops the area of a small
    // ring far from the origin.
    DPoint origin;
    CoordIntToUnits(&p[0], &origin, cs, 1);
    double sum = 0.0;
    DPoint prev{0.0, 0.0};
    for (int32_t at = 1; at < n; at += kChunk) {
      int m = int(std::min<int32_t>(kChunk, n - at));
      CoordIntToUnits(&p[at], buffer, cs, m);
      for (int k = 0; k < m; ++k) {
        double x = buffer[k].x - origin.x, y = buffer[k].y - origin.y;
        sum += prev.x * y - x * prev.y;
        prev = DPoint{x, y};
      }
    }
    double area = std::fabs(sum) / 2.0;
    double out = 0.0;
    UnitConvert(&out, areaUnit, area, UnitAreaOf(CoordSysUnits(cs)));
    return out;
  }
  // On the sphere: a fan of triangles from the first point, each by its
  // spherical excess (L'Huilier), signed by its turn.
  constexpr double kRadians = std::numbers::pi / 180.0;
  DPoint first;
  IntToLonLatNoDatum(&p[0], &first, cs, 1);
  first = DPoint{first.x * kRadians, first.y * kRadians};
  double sum = 0.0;
  DPoint prev = first;
  bool havePrev = false;
  for (int32_t at = 1; at < n; at += kChunk) {
    int m = int(std::min<int32_t>(kChunk, n - at));
    IntToLonLatNoDatum(&p[at], buffer, cs, m);
    for (int k = 0; k < m; ++k) {
      DPoint q{buffer[k].x * kRadians, buffer[k].y * kRadians};
      if (havePrev) {
        double a = SphericalAngle(&prev, &q);
        double b = SphericalAngle(&first, &q);
        double c = SphericalAngle(&first, &prev);
        double s = (a + b + c) / 2.0;
        double t = std::tan(s / 2.0) * std::tan((s - a) / 2.0) * std::tan((s - b) / 2.0) *
                   std::tan((s - c) / 2.0);
        double e = 4.0 * std::atan(std::sqrt(std::fabs(t)));
        double turn = (prev.x - first.x) * (q.y - first.y) - (q.x - first.x) * (prev.y - first.y);
        sum += turn < 0 ? -e : e;
      }
      prev = q;
      havePrev = true;
    }
  }
  double out = 0.0;
  UnitConvert(&out, areaUnit, std::fabs(sum * kSphereRadiusSquared), kUnitSquareMetre);
  return out;
}

double GeomPartLength(const GeomObject* object, const GeomPart* part, const CoordSys* cs,
                      int unit, int mode) {
  if (!IsPoly(object) || !PartIsSound(object, part)) return 0.0;
  const IPoint* p = GeomPartPoints(object, part);
  double sum = 0.0;
  for (int32_t k = 0; k + 1 < part->pointCount; ++k) {
    sum += CoordIntDistance(&p[k], &p[k + 1], cs, unit, mode, nullptr, 0);
  }
  return sum;
}

// ----- points in shapes -----

int GeomPointInEllipse(const IPoint* point, const GeomObject* object) {
  const IRect& r = object->bounds;
  double cx = (double(r.x1) + r.x2) / 2.0, cy = (double(r.y1) + r.y2) / 2.0;
  double rx = (double(r.x2) - r.x1) / 2.0, ry = (double(r.y2) - r.y1) / 2.0;
  if (rx == 0.0 || ry == 0.0) return 0;
  double dx = (point->x - cx) / rx, dy = (point->y - cy) / ry;
  return dx * dx + dy * dy < 1.0 ? 1 : 0;
}

int GeomPointInObject(const IPoint* point, const GeomObject* object) {
  const GeomObject* target = object;
  if (object->kind == kGeomCollection) {
    target = object->u.collection.region;
    if (!target || !object->regionHandle) return 0;
  }
  if (!GeomKindIsArea(target->kind) || !IPointInRect(point, &target->bounds)) return 0;
  switch (target->kind) {
    case kGeomRegion:
      return GeomPointInRegion(point, target);
    case kGeomEllipse:
      return GeomPointInEllipse(point, target);
    default:
      return 1;
  }
}

// ----- point lists of shapes -----

int32_t GeomArcPoints(const GeomObject* object, int32_t resolution, IPoint** points,
                      void** buffer) {
  if (points) *points = nullptr;
  if (resolution < 2) return 0;
  resolution = std::min(resolution, kMaxArcResolution);
  int32_t start, end;
  IRect rect;
  if (object->kind == kGeomArc) {
    start = object->u.arc.startAngle;
    end = object->u.arc.endAngle;
    rect = object->u.arc.ellipse;
  } else if (object->kind == kGeomEllipse) {
    start = 0;
    end = 3600;
    rect = object->bounds;
  } else {
    return 0;
  }
  int64_t sweep = int64_t{end} - start;
  if (end < start) sweep += 3600;
  int64_t n = 2 + int64_t{resolution} * sweep / 3600;
  if (!GeomBufferReserve(size_t(n) * kGeomPointSize, buffer, nullptr, 1)) return 0;
  IPoint* out = static_cast<IPoint*>(*buffer);
  double step = double(sweep) * std::numbers::pi / (double(n - 1) * 1800.0);
  double a0 = double(start) * std::numbers::pi / 1800.0;
  IPoint c;
  IRectCenter(&rect, &c);
  double rx = double((int64_t{rect.x2} - rect.x1) / 2);
  double ry = double((int64_t{rect.y2} - rect.y1) / 2);
  for (int64_t k = 0; k < n; ++k) {
    double angle = a0 + double(k) * step;
    out[k] = IPoint{ClampInt(c.x + rx * std::cos(angle)), ClampInt(c.y + ry * std::sin(angle))};
  }
  if (points) *points = out;
  return int32_t(n);
}

int32_t GeomShapePoints(IPoint** points, void** buffer, const GeomObject* object, int openRing,
                        int32_t resolution) {
  *points = nullptr;
  int32_t n = 0;
  switch (object->kind) {
    case kGeomLine: {
      if (!GeomBufferReserve(2 * kGeomPointSize, buffer, nullptr, 1)) return 0;
      IPoint* out = static_cast<IPoint*>(*buffer);
      const GeomLineFields& l = object->u.line;
      out[0] = IPoint{l.x1, l.y1};
      out[1] = IPoint{l.x2, l.y2};
      n = 2;
      break;
    }
    case kGeomRect:
    case kGeomRoundRect: {
      if (!GeomBufferReserve(5 * kGeomPointSize, buffer, nullptr, 1)) return 0;
      n = GeomRectRing(static_cast<IPoint*>(*buffer), object);
      break;
    }
    case kGeomArc:
    case kGeomEllipse:
      n = GeomArcPoints(object, resolution, nullptr, buffer);
      break;
    default:
      return 0;
  }
  if (n == 0) return 0;
  if (openRing && GeomKindIsArea(object->kind)) --n;
  *points = static_cast<IPoint*>(*buffer);
  return n;
}

// ----- conversions -----

int GeomPolyFinish(GeomObject* object, const GeomObject* source) {
  if (source) {
    IPoint c;
    if (GeomObjectCentroid(source, &c)) object->u.poly.centroid = c;
    GeomObjectCopyStyle(object, source);
  }
  // Without a source the zeroed centroid is no label point, even where the
  // origin happens to lie in the new region.
  GeomObjectNormalize(object, source ? 0 : 1);
  return 1;
}

GeomObject* GeomPolyFromPoints(const IPoint* points, int32_t count, const GeomObject* styleSource,
                               int asRegion) {
  if (!points || count < 1) return nullptr;
  int kind = asRegion ? kGeomRegion : kGeomPolyline;
  MemHandle handle;
  GeomObject* object;
  if (!GeomObjectAlloc(&handle, &object, kind, 0)) return nullptr;
  // A region's ring is closed once, whether or not the points close it.
  int32_t n = count;
  if (asRegion && n > 1 && points[0].x == points[n - 1].x && points[0].y == points[n - 1].y) --n;
  if (!GeomPartsSetAll(object, 1, &n, points, nullptr, nullptr)) {
    GeomObjectDestroy(handle);
    return nullptr;
  }
  GeomPolyFinish(object, styleSource && styleSource->kind == kind ? styleSource : nullptr);
  return object;
}

GeomObject* GeomPolyConvert(const GeomObject* object, int toRegion) {
  if (!IsPoly(object)) return nullptr;
  GeomObject* copy = GeomObjectClone(object);
  if (!copy) return nullptr;
  int target = toRegion ? kGeomRegion : kGeomPolyline;
  if (object->kind == target) return copy;
  if (toRegion) {
    // Every ring is laid out again, closed once.
    uint32_t count = object->u.poly.partCount;
    const GeomPart* parts = GeomParts(object);
    std::vector<int32_t> counts;
    std::vector<IPoint> points;
    std::vector<double> values[2];
    const double* source[2] = {object->flagA ? object->values1 : nullptr,
                               object->flagB ? object->values2 : nullptr};
    try {
      counts.reserve(count);
      for (uint32_t i = 0; parts && i < count; ++i) {
        if (!PartIsSound(object, &parts[i]) || parts[i].pointCount < 1) continue;
        const IPoint* p = GeomPartPoints(object, &parts[i]);
        int32_t n = parts[i].pointCount;
        if (n > 1 && p[0].x == p[n - 1].x && p[0].y == p[n - 1].y) --n;
        counts.push_back(n);
        points.insert(points.end(), p, p + n);
        size_t first = (parts[i].position - kGeomPartSize * count) / kGeomPointSize;
        for (int k = 0; k < 2; ++k) {
          if (source[k]) values[k].insert(values[k].end(), source[k] + first, source[k] + first + n);
        }
      }
    } catch (const std::bad_alloc&) {
      GeomObjectDestroy(copy);
      return nullptr;
    }
    copy->kind = kGeomRegion;
    if (!GeomPartsSetAll(copy, uint32_t(counts.size()), counts.data(), points.data(),
                         source[0] ? values[0].data() : nullptr,
                         source[1] ? values[1].data() : nullptr)) {
      GeomObjectDestroy(copy);
      return nullptr;
    }
  } else {
    copy->kind = kGeomPolyline;
  }
  copy->u.poly.smooth &= ~1u;
  GeomPolyFinish(copy, object);
  return copy;
}

}  // namespace layerio
