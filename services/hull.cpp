// The gift-wrapping convex hull of the trade areas.
//
// Before wrapping, every point strictly inside the box spanned by the four
// extreme points along the diagonals (least and greatest x + y and y - x) is
// dropped: it cannot be a hull vertex, and for spread-out sets that leaves a
// thin border of the input. The wrap then walks counter-clockwise from the
// lowest point, each step taking the point of least pseudo-angle not below
// the previous step's (the farther one on a tie, so that points along an
// edge are passed over).
#include "services/hull.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Grows with the true angle of q seen from p, from 0 (east) up to 360; 360
// for p itself, so that a duplicate is taken only when nothing else is left.
inline double PseudoAngle(const pipWrapPoint& p, const pipWrapPoint& q) {
  const double dx = q.x - p.x;
  const double dy = q.y - p.y;
  const double s = std::fabs(dx) + std::fabs(dy);
  if (s == 0) return 360.0;
  const double t = dy / s;
  if (dx < 0) return (2 - t) * 90;
  if (dy < 0) return (t + 4) * 90;
  return t * 90;
}

inline double SquaredDistance(const pipWrapPoint& p, const pipWrapPoint& q) {
  const double dx = q.x - p.x;
  const double dy = q.y - p.y;
  return dx * dx + dy * dy;
}

// Drops the points strictly inside the box of the diagonal extremes, keeping
// the others in their order at the front; returns how many are kept and the
// index of the start point among them.
int32_t Prefilter(int32_t count, pipWrapPoint* points, int32_t* start) {
  int32_t a = 0, b = 0, c = 0, d = 0;
  for (int32_t i = 1; i < count; ++i) {
    const double sum = points[i].x + points[i].y;
    const double diff = points[i].y - points[i].x;
    if (sum < points[a].x + points[a].y) a = i;
    if (sum > points[b].x + points[b].y) b = i;
    if (diff < points[c].y - points[c].x) c = i;
    if (diff > points[d].y - points[d].x) d = i;
  }
  const double xl = std::max(points[a].x, points[d].x);
  const double xr = std::min(points[b].x, points[c].x);
  const double yb = std::max(points[a].y, points[c].y);
  const double yt = std::min(points[d].y, points[b].y);
  int32_t kept = 0;
  int32_t lowest = -1;
  for (int32_t i = 0; i < count; ++i) {
    const pipWrapPoint p = points[i];
    if (p.x > xl && p.x < xr && p.y > yb && p.y < yt) continue;
    points[kept] = p;
    // The lowest point, the leftmost of equals: the wrap starts there going
    // east, and from any other lowest point it could not come back to it.
    if (lowest < 0 || p.y < points[lowest].y || (p.y == points[lowest].y && p.x < points[lowest].x))
      lowest = kept;
    ++kept;
  }
  *start = lowest;
  return kept;
}

}  // namespace

ZONELIB_API int32_t DetermineWrapConvexHull(int32_t count, pipWrapPoint* points) {
  if (count < 3 || !points) return 0;
  int32_t start = 0;
  const int32_t n = Prefilter(count, points, &start);
  if (n < 3) return 0;
  points[n] = points[start];
  double previous = 0.0;
  int32_t chosen = start;
  for (int32_t m = 0; m < n; ++m) {
    std::swap(points[m], points[chosen]);
    const pipWrapPoint from = points[m];
    double least = 360.0;
    int32_t taken = -1;
    double takenDistance = 0;
    for (int32_t i = m + 1; i <= n; ++i) {
      const double t = PseudoAngle(from, points[i]);
      if (t < previous || t > least) continue;
      if (taken < 0 || t < least) {
        taken = i;
        least = t;
        takenDistance = SquaredDistance(from, points[i]);
        continue;
      }
      const double distance = SquaredDistance(from, points[i]);
      if (distance >= takenDistance) {
        taken = i;
        takenDistance = distance;
      }
    }
    // No point lies further round: the angles went astray (points so close
    // that their differences round away); there is no hull to give.
    if (taken < 0) return 0;
    if (taken == n) return m + 1;
    previous = least;
    chosen = taken;
  }
  return 0;
}
