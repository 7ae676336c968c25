#include "boundary/ringgeom.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/distance_model.h"
#include "boundary/coordkind.h"

namespace {

// Points per block of a ring's summary, boxes per box of the next level, and
// the smallest ring worth a summary.
constexpr uint32_t kBlock = 16;
constexpr uint32_t kFanOut = 16;
constexpr uint32_t kSummarisedFrom = 4 * kBlock;

// Where the edge prev -> cur, which crosses height py, meets it. Every path
// of the test computes this the same way, so that they agree to the bit.
inline double CrossingX(RingPoint prev, RingPoint cur, int32_t py) {
  return prev.x + static_cast<double>(int64_t{py} - prev.y) *
                      static_cast<double>(int64_t{cur.x} - prev.x) /
                      static_cast<double>(int64_t{cur.y} - prev.y);
}

// The count for a ring with points at height py: the walk that follows the
// ring through its horizontal runs. Returns -1 on the border.
int WalkCrossings(const RingPoint* p, uint32_t n, int32_t px, int32_t py) {
  auto wrap = [n](uint32_t i) { return i < n ? i : i - n; };
  // The run at index 0.
  uint32_t r = 0;
  int32_t lo = INT32_MAX, hi = INT32_MIN;
  while (r < n && p[r].y == py) {
    lo = std::min(lo, p[r].x);
    hi = std::max(hi, p[r].x);
    ++r;
  }
  if (r > 0 && lo <= px && px <= hi) return -1;
  if (r == n) return 0;

  const uint32_t start = r;  // not at height py, so no run passes over it
  bool side = p[start].y > py;
  RingPoint prev = p[start];
  int crossings = 0;
  for (uint32_t k = 1; k <= n;) {
    uint32_t i = wrap(start + k);
    RingPoint cur = p[i];
    if (cur.y == py) {
      uint32_t m = 0;
      lo = INT32_MAX;
      hi = INT32_MIN;
      for (uint32_t j = i; p[j].y == py; j = wrap(j + 1), ++m) {
        lo = std::min(lo, p[j].x);
        hi = std::max(hi, p[j].x);
      }
      if (lo <= px && px <= hi) return -1;
      RingPoint last = p[wrap(i + m - 1)];
      RingPoint next = p[wrap(i + m)];
      bool nextSide = next.y > py;
      if (nextSide != side && cur.x < px && last.x < px) ++crossings;
      side = nextSide;
      prev = next;
      k += m + 1;
      continue;
    }
    bool curSide = cur.y > py;
    if (curSide != side) {
      double x = CrossingX(prev, cur, py);
      if (std::fabs(px - x) < 0.5) return -1;
      if (px > x) ++crossings;
    }
    side = curSide;
    prev = cur;
    ++k;
  }
  return crossings;
}

// The crossings of the edges prev -> p[j] for j in [from, to), or -1 on the
// border. A point at height py either stops the scan with -2, so that the
// caller walks the whole ring and takes its runs whole (kWalkRuns), or
// counts as below: an edge touching height py at one end crosses there when
// its other end lies above. That gives the parity and the border cases of
// the walk, edge by edge.
template <bool kWalkRuns>
inline int ScanEdges(const RingPoint* p, uint32_t from, uint32_t to, RingPoint prev, int32_t px,
                     int32_t py) {
  if (kWalkRuns && prev.y == py) return -2;
  int crossings = 0;
  for (uint32_t j = from; j < to; ++j) {
    RingPoint cur = p[j];
    if (cur.y == py) {
      if (kWalkRuns) return -2;
      if (cur.x == px) return -1;
      if (prev.y == py && std::min(prev.x, cur.x) <= px && px <= std::max(prev.x, cur.x)) return -1;
    }
    if ((prev.y > py) != (cur.y > py)) {
      double x = CrossingX(prev, cur, py);
      if (std::fabs(px - x) < 0.5) return -1;
      crossings += px > x;
    }
    prev = cur;
  }
  return crossings;
}

}  // namespace

int RingCrossings(const RingPoint* points, uint32_t count, int32_t px, int32_t py) {
  if (count == 0) return 0;
  int c = ScanEdges<true>(points, 0, count, points[count - 1], px, py);
  return c == -2 ? WalkCrossings(points, count, px, py) : c;
}

bool RingSet::Add(const RingPoint* points, uint32_t count) {
  Ring ring{points, count, false, {}, {}, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (uint32_t i = 0; i < count; ++i) {
    ring.xmin = std::min(ring.xmin, points[i].x);
    ring.ymin = std::min(ring.ymin, points[i].y);
    ring.xmax = std::max(ring.xmax, points[i].x);
    ring.ymax = std::max(ring.ymax, points[i].y);
  }
  size_t kept[kLevels];
  for (int l = 0; l < kLevels; ++l) kept[l] = boxes_[l].size();
  try {
    if (count >= kSummarisedFrom) {
      ring.summarised = true;
      for (int l = 0; l < kLevels; ++l) ring.first[l] = static_cast<uint32_t>(boxes_[l].size());
      // Each block covers the edges into its points, so its box includes the
      // point before its first; a box of a higher level covers its boxes.
      for (uint32_t from = 0; from < count; from += kBlock) {
        RingPoint before = points[from == 0 ? count - 1 : from - 1];
        Box box{before.x, before.y, before.x, before.y};
        for (uint32_t j = from; j < std::min(count, from + kBlock); ++j) {
          box.xmin = std::min(box.xmin, points[j].x);
          box.ymin = std::min(box.ymin, points[j].y);
          box.xmax = std::max(box.xmax, points[j].x);
          box.ymax = std::max(box.ymax, points[j].y);
        }
        boxes_[0].push_back(box);
        ++ring.boxes[0];
      }
      for (int l = 1; l < kLevels; ++l) {
        for (uint32_t i = 0; i < ring.boxes[l - 1]; ++i) {
          const Box& box = boxes_[l - 1][ring.first[l - 1] + i];
          if (i % kFanOut == 0) {
            boxes_[l].push_back(box);
            ++ring.boxes[l];
            continue;
          }
          Box& up = boxes_[l].back();
          up.xmin = std::min(up.xmin, box.xmin);
          up.ymin = std::min(up.ymin, box.ymin);
          up.xmax = std::max(up.xmax, box.xmax);
          up.ymax = std::max(up.ymax, box.ymax);
        }
      }
    }
    rings_.push_back(ring);
  } catch (const std::bad_alloc&) {
    for (int l = 0; l < kLevels; ++l) boxes_[l].resize(kept[l]);
    return false;
  }
  return true;
}

void RingSet::Clear() {
  rings_.clear();
  for (auto& level : boxes_) level.clear();
}

// A part of a ring wholly above, below or right of P adds nothing: none of
// its edges reaches height py left of P or within half a unit of P.
inline bool RingSet::Skips(const Box& box, int32_t px, int32_t py) {
  return py < box.ymin || py > box.ymax || px < box.xmin;
}

// The crossings of boxes [from, to) of a level by the edge-local rule, or
// -1 on the border.
int RingSet::ScanLevel(const Ring& ring, int level, uint32_t from, uint32_t to, int32_t px,
                       int32_t py) const {
  const Box* boxes = boxes_[level].data() + ring.first[level];
  const RingPoint* p = ring.points;
  int crossings = 0;
  for (uint32_t i = from; i < to; ++i) {
    if (Skips(boxes[i], px, py)) continue;
    int c;
    if (level == 0) {
      uint32_t first = i * kBlock;
      c = ScanEdges<false>(p, first, std::min(ring.count, first + kBlock),
                           p[first == 0 ? ring.count - 1 : first - 1], px, py);
    } else {
      c = ScanLevel(ring, level - 1, i * kFanOut,
                    std::min(ring.boxes[level - 1], (i + 1) * kFanOut), px, py);
    }
    if (c < 0) return c;
    crossings += c;
  }
  return crossings;
}

bool RingSet::Contains(int32_t px, int32_t py) const {
  int parity = 0;
  for (auto ring = rings_.rbegin(); ring != rings_.rend(); ++ring) {
    // Off the ring's height or left of all of it, no crossing and no border;
    // right of all of it, the crossings pair up and the border is out of
    // reach.
    if (ring->count == 0 || py < ring->ymin || py > ring->ymax || px < ring->xmin ||
        px > ring->xmax) {
      continue;
    }
    const RingPoint* p = ring->points;
    int c = ring->summarised ? ScanLevel(*ring, kLevels - 1, 0, ring->boxes[kLevels - 1], px, py)
                             : ScanEdges<false>(p, 0, ring->count, p[ring->count - 1], px, py);
    if (c < 0) return true;
    parity ^= c & 1;
  }
  return parity != 0;
}

double RingSet::Distance(int32_t px, int32_t py, int coordinateKind, int objectKind, int32_t south,
                         int32_t* nearestX, int32_t* nearestY) const {
  if (objectKind != kObjectRegion && objectKind != kObjectLine) return -1.0;
  double xs = 1.0, ys = 1.0;
  if (coordinateKind == kCoordinateKindGeographic) {
    xs = std::cos(south * kRadiansPerMillionth) * kFeetPerMillionth;
    ys = kFeetPerMillionth;
  }
  const bool wantPoint = nearestX && nearestY;
  double best = 1e36;
  auto segment = [&](RingPoint a, RingPoint b) {
    double dx = static_cast<double>(int64_t{b.x} - a.x) * xs;
    double dy = static_cast<double>(int64_t{b.y} - a.y) * ys;
    double wx = static_cast<double>(int64_t{px} - a.x) * xs;
    double wy = static_cast<double>(int64_t{py} - a.y) * ys;
    double dd = dx * dx + dy * dy;
    double wd = wx * dx + wy * dy;
    double t = dd > 0.25 ? wd / dd : (wd < 0.0 ? 0.0 : 1.0);
    double ex, ey;
    if (t <= 0.0) {
      ex = wx;
      ey = wy;
    } else if (t >= 1.0) {
      ex = wx - dx;
      ey = wy - dy;
    } else {
      ex = wx - t * dx;
      ey = wy - t * dy;
    }
    double d2 = ex * ex + ey * ey;
    if (!(d2 < best)) return;
    best = d2;
    if (!wantPoint) return;
    if (t <= 0.0) {
      *nearestX = a.x;
      *nearestY = a.y;
    } else if (t >= 1.0) {
      *nearestX = b.x;
      *nearestY = b.y;
    } else {
      *nearestX =
          static_cast<int32_t>(a.x + std::trunc(t * static_cast<double>(int64_t{b.x} - a.x)));
      *nearestY =
          static_cast<int32_t>(a.y + std::trunc(t * static_cast<double>(int64_t{b.y} - a.y)));
    }
  };
  for (auto ring = rings_.rbegin(); ring != rings_.rend(); ++ring) {
    const RingPoint* p = ring->points;
    uint32_t n = ring->count;
    if (n == 0) continue;
    if (objectKind == kObjectRegion) segment(p[n - 1], p[0]);
    for (uint32_t i = 1; i < n; ++i) segment(p[i - 1], p[i]);
  }
  return std::sqrt(best);
}
