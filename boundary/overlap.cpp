#include "boundary/overlap.h"

#include <algorithm>
#include <new>

namespace {

using Edge = OverlapCheck::Edge;

constexpr uint32_t kTagA = 1;
constexpr uint32_t kTagB = 6;

// Crossing kinds at a scan line, as offsets from a set's tag.
enum : int { kCross = 0, kStart = 1, kEnd = 2, kVerticalLow = 3, kVerticalHigh = 4 };

Edge MakeEdge(RingPoint a, RingPoint b, uint32_t tag) {
  if (b.x < a.x || (b.x == a.x && b.y < a.y)) std::swap(a, b);
  Edge e{a.x, a.y, b.x, b.y, 0.0, 0.0, tag};
  if (e.Vertical()) {
    e.intercept = e.x1;
  } else {
    // A horizontal edge is the line y = y1 (slope 0, intercept y1), which is
    // what the general form gives.
    e.slope = static_cast<double>(int64_t{e.y2} - e.y1) / static_cast<double>(int64_t{e.x2} - e.x1);
    e.intercept = e.y1 - e.x1 * e.slope;
  }
  return e;
}

bool EdgeBefore(const Edge* a, const Edge* b) {
  if (a->x1 != b->x1) return a->x1 < b->x1;
  if (a->y1 != b->y1) return a->y1 < b->y1;
  int64_t ha = int64_t{a->y2} - a->y1, hb = int64_t{b->y2} - b->y1;
  if (ha != hb) return ha < hb;
  return int64_t{a->x2} - a->x1 < int64_t{b->x2} - b->x1;
}

// Calls f(a, b) for every edge k of every ring of the set: point k to k + 1,
// the last back to point 0.
template <typename F>
void ForEachEdge(const std::vector<RingPoint>& points, int32_t count, F&& f) {
  for (int32_t k = 0; k < count; ++k) f(points[k], points[k + 1 == count ? 0 : k + 1]);
}

int CodeOf(bool overlap, bool aOutside, bool bOutside) {
  if (!overlap) return OverlapCheck::kApart;
  if (aOutside && bOutside) return OverlapCheck::kPartly;
  if (bOutside) return OverlapCheck::kAWithinB;
  if (aOutside) return OverlapCheck::kBWithinA;
  return OverlapCheck::kSame;
}

// [lowA, highA) and [lowB, highB) share a point.
bool ExtentsOverlap(int32_t lowA, int32_t highA, int32_t lowB, int32_t highB) {
  return (lowB >= lowA && lowB < highA) || (lowA >= lowB && lowA < highB);
}

// The two edges (one of A, one of B) cross at a point inside both.
bool ProperCrossing(const Edge& a, const Edge& b) {
  if (!(b.x2 > a.x1 && b.x1 < a.x2)) return false;
  if (!(std::max(b.y1, b.y2) > std::min(a.y1, a.y2) && std::min(b.y1, b.y2) < std::max(a.y1, a.y2)))
    return false;
  // A vertical edge meets the other at its own x, never strictly inside it.
  if (a.Vertical() || b.Vertical()) return false;
  if (a.Horizontal() && b.Horizontal()) return false;
  if (a.slope == b.slope) return false;
  double x = (b.intercept - a.intercept) / (a.slope - b.slope);
  return x - a.x1 > 1e-7 && x - a.x2 < -1e-7 && x - b.x1 > 1e-7 && x - b.x2 < -1e-7;
}

}  // namespace

OverlapCheck::OverlapCheck() = default;

int OverlapCheck::RegionSet::Add(int pointCount, const RingPoint* points) {
  if (count == static_cast<int32_t>(rings.size())) {
    int64_t doubled = 2 * static_cast<int64_t>(rings.size());
    if (doubled <= 0 || doubled > INT32_MAX) return kTooManyRings;
    rings.resize(static_cast<size_t>(doubled));
  }
  Ring& ring = rings[static_cast<size_t>(count)];
  ring.count = points ? std::max(pointCount, 0) : 0;
  ring.points.assign(points, points + ring.count);
  ++count;
  return 0;
}

void OverlapCheck::UpdateBox(const RegionSet& set, Box& box) {
  Box b{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  bool any = false;
  for (int32_t r = 0; r < set.count; ++r) {
    const Ring& ring = set.rings[static_cast<size_t>(r)];
    for (int32_t k = 0; k < ring.count; ++k) {
      RingPoint p = ring.points[static_cast<size_t>(k)];
      b.xmin = std::min(b.xmin, p.x);
      b.ymin = std::min(b.ymin, p.y);
      b.xmax = std::max(b.xmax, p.x);
      b.ymax = std::max(b.ymax, p.y);
      any = true;
    }
  }
  if (any) box = b;
}

int OverlapCheck::Check(int* code, int precision, double* percentage) {
  try {
    UpdateBox(a_, boxA_);
    UpdateBox(b_, boxB_);
    if (!ExtentsOverlap(boxA_.xmin, boxA_.xmax, boxB_.xmin, boxB_.xmax) ||
        !ExtentsOverlap(boxA_.ymin, boxA_.ymax, boxB_.ymin, boxB_.ymax)) {
      *code = kApart;
      if (percentage) *percentage = 0.0;
      return 1;
    }
    const int32_t low = std::max(boxA_.xmin, boxB_.xmin);
    const int32_t high = std::min(boxA_.xmax, boxB_.xmax);

    // The edges that reach the common x range, and its vertices' x.
    std::vector<Edge> edges;
    std::vector<int32_t> events;
    for (const RegionSet* set : {&a_, &b_}) {
      for (int32_t r = 0; r < set->count; ++r) {
        const Ring& ring = set->rings[static_cast<size_t>(r)];
        ForEachEdge(ring.points, ring.count, [&](RingPoint p, RingPoint q) {
          if ((p.x > high && q.x > high) || (p.x < low && q.x < low)) return;
          edges.push_back(MakeEdge(p, q, set->tag));
          if (p.x >= low && p.x <= high) events.push_back(p.x);
        });
      }
    }
    std::vector<const Edge*> order(edges.size());
    for (size_t i = 0; i < edges.size(); ++i) order[i] = &edges[i];
    std::sort(order.begin(), order.end(), EdgeBefore);
    std::sort(events.begin(), events.end());

    int result = Sweep(order, events);
    if (result != kPartly && EdgesCross(order)) result = kPartly;
    *code = result;
    if (percentage) {
      if (result == kApart) {
        *percentage = 0.0;
      } else if (result == kAWithinB || result == kSame) {
        *percentage = 100.0;
      } else {
        *percentage = precision < 1 ? -1.0 : Estimate(std::min(precision, kMaxScanLines));
      }
    }
    return 1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int OverlapCheck::Sweep(const std::vector<const Edge*>& order,
                        const std::vector<int32_t>& events) const {
  bool overlap = false;
  bool aOutside = !(boxA_.xmin >= boxB_.xmin && boxA_.ymin >= boxB_.ymin &&
                    boxA_.xmax <= boxB_.xmax && boxA_.ymax <= boxB_.ymax);
  bool bOutside = !(boxB_.xmin >= boxA_.xmin && boxB_.ymin >= boxA_.ymin &&
                    boxB_.xmax <= boxA_.xmax && boxB_.ymax <= boxA_.ymax);

  struct Crossing {
    double y;
    int kind;  // tag + crossing kind
  };
  std::vector<Crossing> crossings;
  crossings.reserve(20);
  std::vector<const Edge*> active;
  size_t next = 0;

  for (size_t e = 0; e < events.size(); ++e) {
    const int32_t X = events[e];
    if (e > 0 && events[e - 1] == X) continue;
    // Edges with x1 <= X; of those only the ones reaching X give crossings.
    while (next < order.size() && order[next]->x1 <= X) active.push_back(order[next++]);
    std::erase_if(active, [X](const Edge* edge) { return edge->x2 < X; });

    crossings.clear();
    for (const Edge* edge : active) {
      const int t = static_cast<int>(edge->tag);
      if (edge->Vertical()) {
        crossings.push_back({static_cast<double>(edge->y1), t + kVerticalLow});
        crossings.push_back({static_cast<double>(edge->y2), t + kVerticalHigh});
      } else if (X == edge->x1) {
        crossings.push_back({static_cast<double>(edge->y1), t + kStart});
      } else if (X == edge->x2) {
        crossings.push_back({static_cast<double>(edge->y2), t + kEnd});
      } else {
        double y = edge->Horizontal() ? edge->y1 : X * edge->slope + edge->intercept;
        crossings.push_back({y, t + kCross});
      }
    }
    std::sort(crossings.begin(), crossings.end(),
              [](const Crossing& a, const Crossing& b) { return a.y < b.y; });

    // Along the line from below: which set is inside just left and just
    // right of it, above the point reached.
    bool insideLeft[2] = {false, false}, insideRight[2] = {false, false};
    int crossed[2] = {0, 0}, started[2] = {0, 0}, ended[2] = {0, 0};
    bool touchLeft[2] = {false, false}, touchRight[2] = {false, false};
    for (size_t i = 0; i < crossings.size(); ++i) {
      const int set = crossings[i].kind >= static_cast<int>(kTagB) ? 1 : 0;
      switch (crossings[i].kind - (set ? kTagB : kTagA)) {
        case kCross:
          ++crossed[set];
          touchLeft[set] = touchRight[set] = true;
          break;
        case kStart:
          ++started[set];
          touchRight[set] = true;
          break;
        case kEnd:
          ++ended[set];
          touchLeft[set] = true;
          break;
        default:
          break;
      }
      if (i + 1 < crossings.size() && crossings[i + 1].y == crossings[i].y) continue;

      for (int s = 0; s < 2; ++s) {
        if (touchLeft[s] && ((crossed[s] + ended[s]) & 1)) insideLeft[s] = !insideLeft[s];
        if (touchRight[s] && ((crossed[s] + started[s]) & 1)) insideRight[s] = !insideRight[s];
      }
      if ((insideLeft[0] && insideLeft[1]) || (insideRight[0] && insideRight[1])) overlap = true;
      if ((insideLeft[0] && !insideLeft[1]) || (insideRight[0] && !insideRight[1])) aOutside = true;
      if ((insideLeft[1] && !insideLeft[0]) || (insideRight[1] && !insideRight[0])) bOutside = true;
      // A border of one set alone: the other's side decides.
      if (touchLeft[0] && !touchLeft[1]) (insideLeft[1] ? overlap : aOutside) = true;
      if (touchRight[0] && !touchRight[1]) (insideRight[1] ? overlap : aOutside) = true;
      if (touchLeft[1] && !touchLeft[0]) (insideLeft[0] ? overlap : bOutside) = true;
      if (touchRight[1] && !touchRight[0]) (insideRight[0] ? overlap : bOutside) = true;
      for (int s = 0; s < 2; ++s) {
        crossed[s] = started[s] = ended[s] = 0;
        touchLeft[s] = touchRight[s] = false;
      }
      if (CodeOf(overlap, aOutside, bOutside) == kPartly) return kPartly;
    }
  }
  return CodeOf(overlap, aOutside, bOutside);
}

bool OverlapCheck::EdgesCross(const std::vector<const Edge*>& order) {
  // Only pairs whose x ranges overlap can cross: walk the edges by x1 and
  // test each against the other set's edges still reaching past its x1.
  std::vector<const Edge*> reaching[2];
  for (const Edge* edge : order) {
    if (edge->Vertical()) continue;
    const int set = edge->tag == kTagB ? 1 : 0;
    auto& others = reaching[1 - set];
    const int32_t x1 = edge->x1;
    std::erase_if(others, [x1](const Edge* o) { return o->x2 <= x1; });
    for (const Edge* other : others) {
      if (set == 0 ? ProperCrossing(*edge, *other) : ProperCrossing(*other, *edge)) return true;
    }
    reaching[set].push_back(edge);
  }
  return false;
}

double OverlapCheck::Estimate(int precision) const {
  // Every non-vertical edge of each set, in edge order (vertical edges lie
  // along a scan line at most and are passed over).
  std::vector<Edge> edges[2];
  for (int s = 0; s < 2; ++s) {
    const RegionSet& set = s == 0 ? a_ : b_;
    for (int32_t r = 0; r < set.count; ++r) {
      const Ring& ring = set.rings[static_cast<size_t>(r)];
      ForEachEdge(ring.points, ring.count, [&](RingPoint p, RingPoint q) {
        Edge e = MakeEdge(p, q, set.tag);
        if (!e.Vertical()) edges[s].push_back(e);
      });
    }
    std::sort(edges[s].begin(), edges[s].end(),
              [](const Edge& a, const Edge& b) { return EdgeBefore(&a, &b); });
  }

  struct Active {
    const Edge* edge;
    double y;
  };
  std::vector<Active> active;
  active.reserve(10);
  size_t cursor[2] = {0, 0};
  double lengthA = 0.0, lengthCommon = 0.0;

  // A double step: an integer one is 0 for a precision above A's width.
  const double step = static_cast<double>(int64_t{boxA_.xmax} - boxA_.xmin) / precision;
  if (!(step > 0.0)) return 0.0;
  for (int64_t line = 0;; ++line) {
    const double X = boxA_.xmin + step / 2 + static_cast<double>(line) * step;
    if (!(X < boxA_.xmax)) break;
    for (int s = 0; s < 2; ++s) {
      while (cursor[s] < edges[s].size() && edges[s][cursor[s]].x1 <= X) {
        active.push_back({&edges[s][cursor[s]++], 0.0});
      }
    }
    for (size_t i = 0; i < active.size();) {
      if (active[i].edge->x2 < X) {
        active[i] = active.back();
        active.pop_back();
      } else {
        ++i;
      }
    }
    for (Active& a : active) {
      const Edge& e = *a.edge;
      a.y = e.Horizontal() ? e.y1 : (X - e.x1) * e.slope + e.y1;
    }
    std::sort(active.begin(), active.end(),
              [](const Active& a, const Active& b) { return a.y < b.y; });

    bool insideA = false, insideB = false;
    double openA = 0.0, openCommon = 0.0;
    bool toggle[2] = {false, false}, start[2] = {false, false}, end[2] = {false, false};
    for (size_t i = 0; i < active.size(); ++i) {
      const Edge& e = *active[i].edge;
      const int s = e.tag == kTagB ? 1 : 0;
      if (X == e.x1) {
        start[s] = true;
      } else if (X == e.x2) {
        end[s] = true;
      } else {
        toggle[s] = !toggle[s];
      }
      if (i + 1 < active.size() && active[i + 1].y == active[i].y) continue;

      const double y = active[i].y;
      for (int t = 0; t < 2; ++t) {
        // A vertex passed through toggles; a tip met from one side does not.
        if (start[t] && end[t]) toggle[t] = !toggle[t];
      }
      if (toggle[0]) {
        if (insideA) {
          lengthA += y - openA;
          if (insideB) lengthCommon += y - openCommon;
        } else {
          openA = y;
          if (insideB) openCommon = y;
        }
        insideA = !insideA;
      }
      if (toggle[1]) {
        if (!insideB) {
          if (insideA) openCommon = y;
        } else if (insideA) {
          lengthCommon += y - openCommon;
        }
        insideB = !insideB;
      }
      for (int t = 0; t < 2; ++t) toggle[t] = start[t] = end[t] = false;
    }
  }
  return lengthA > 0.0 && lengthCommon > 0.0 ? lengthCommon / lengthA * 100.0 : 0.0;
}
