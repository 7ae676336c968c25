// Polygons for the clipper's tests and benchmark, and their comparison with
// GEOS. Rings are lists of vertices without the closing repeat; a polygon is
// a list of rings read with the even-odd rule (as the clipper reads them).
#pragma once

#include <geos_c.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "gpc.h"
#include "tests/support/geos_oracle.h"

namespace testsupport {

using Ring = std::vector<gpc_vertex>;
using Rings = std::vector<Ring>;

// A simple ring of n >= 4 vertices about (cx, cy), each at a random
// distance between lo and hi, at jittered angles whose gaps stay below a half
// turn: the centre sees every edge, so the ring is simple. With n >= 12 it
// holds the disc of radius 0.88 lo.
inline Ring StarRing(std::mt19937_64& rng, int n, double cx, double cy, double lo, double hi) {
  std::uniform_real_distribution<double> jitter(0.0, 0.9), radius(lo, hi);
  Ring ring;
  for (int i = 0; i < n; ++i) {
    double a = 2 * M_PI * (i + jitter(rng)) / n;
    double r = radius(rng);
    ring.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  return ring;
}

// A ring of n vertices anywhere in the square of side size at the origin:
// it crosses itself and others freely.
inline Ring ScribbleRing(std::mt19937_64& rng, int n, double size) {
  std::uniform_real_distribution<double> at(0.0, size);
  Ring ring;
  for (int i = 0; i < n; ++i) ring.push_back({at(rng), at(rng)});
  return ring;
}

// Unit squares of a random set of cells of a side x side grid: neighbouring
// cells share edges and vertices, corners touch, horizontals abound.
inline Rings GridCells(std::mt19937_64& rng, int side, double fill) {
  std::bernoulli_distribution take(fill);
  Rings cells;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      if (!take(rng)) continue;
      double x = i, y = j;
      cells.push_back({{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}});
    }
  }
  return cells;
}

// A clipper record that borrows the rings' vertices; hole flags 0.
class GpcView {
 public:
  explicit GpcView(const Rings& rings) : holes_(rings.size(), 0) {
    for (const Ring& r : rings) {
      lists_.push_back({static_cast<int32_t>(r.size()), const_cast<gpc_vertex*>(r.data())});
    }
    polygon_ = {static_cast<int32_t>(rings.size()), holes_.data(), lists_.data()};
  }
  gpc_polygon* get() { return &polygon_; }

 private:
  std::vector<int32_t> holes_;
  std::vector<gpc_vertex_list> lists_;
  gpc_polygon polygon_;
};

// A result of gpc_polygon_clip, freed at the end of its scope.
struct GpcResult {
  gpc_polygon polygon{0, nullptr, nullptr};
  GpcResult() = default;
  GpcResult(const GpcResult&) = delete;
  GpcResult& operator=(const GpcResult&) = delete;
  ~GpcResult() { gpc_free_polygon(&polygon); }
  Rings rings() const {
    Rings out;
    for (int c = 0; c < polygon.contour_count; ++c) {
      // The record is packed: its pointers are read by value, never bound.
      const gpc_vertex* v = polygon.contour[c].vertex;
      out.emplace_back(v, v + polygon.contour[c].vertex_count);
    }
    return out;
  }
};

// Twice the signed area: positive for a counter-clockwise ring.
inline double TwiceSignedArea(const Ring& r) {
  double a = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    const gpc_vertex& p = r[i];
    const gpc_vertex& q = r[(i + 1) % r.size()];
    a += p.x * q.y - q.x * p.y;
  }
  return a;
}

inline Geos::Geom GeosOperation(const Geos& geos, gpc_op op, const GEOSGeometry* a,
                                const GEOSGeometry* b) {
  GEOSContextHandle_t c = geos.context();
  switch (op) {
    case GPC_DIFFERENCE:
      return geos.Own(GEOSDifference_r(c, a, b));
    case GPC_INTERSECTION:
      return geos.Own(GEOSIntersection_r(c, a, b));
    case GPC_XOR:
      return geos.Own(GEOSSymDifference_r(c, a, b));
    case GPC_UNION:
      return geos.Own(GEOSUnion_r(c, a, b));
  }
  return geos.Own(nullptr);
}

inline Geos::Geom EmptyGeometry(const Geos& geos) {
  return geos.Own(GEOSGeom_createEmptyPolygon_r(geos.context()));
}

// Whether (x, y) lies inside an odd number of the rings.
inline bool InsideOddly(const Rings& rings, double x, double y) {
  bool inside = false;
  for (const Ring& r : rings) {
    for (size_t i = 0, j = r.size() - 1; i < r.size(); j = i++) {
      if ((r[i].y > y) != (r[j].y > y) &&
          x < r[j].x + (y - r[j].y) * (r[i].x - r[j].x) / (r[i].y - r[j].y)) {
        inside = !inside;
      }
    }
  }
  return inside;
}

// The even-odd region of rings that may cross themselves and each other:
// GEOS nodes the rings' lines and builds every face, and the faces inside an
// odd number of rings are joined.
inline Geos::Geom EvenOddRegion(const Geos& geos, const Rings& rings) {
  GEOSContextHandle_t ctx = geos.context();
  std::vector<GEOSGeometry*> lines;
  for (const Ring& r : rings) {
    if (r.size() >= 3) lines.push_back(geos.Line(r, true).release());
  }
  if (lines.empty()) return EmptyGeometry(geos);
  Geos::Geom all = geos.Own(GEOSGeom_createCollection_r(ctx, GEOS_MULTILINESTRING, lines.data(),
                                                        static_cast<unsigned>(lines.size())));
  Geos::Geom noded = geos.Own(GEOSNode_r(ctx, all.get()));
  const GEOSGeometry* input[1] = {noded.get()};
  Geos::Geom faces = geos.Own(GEOSPolygonize_r(ctx, input, 1));
  std::vector<GEOSGeometry*> kept;
  for (int i = 0, n = GEOSGetNumGeometries_r(ctx, faces.get()); i < n; ++i) {
    const GEOSGeometry* face = GEOSGetGeometryN_r(ctx, faces.get(), i);
    Geos::Geom inner = geos.Own(GEOSPointOnSurface_r(ctx, face));
    double x = 0, y = 0;
    GEOSGeomGetX_r(ctx, inner.get(), &x);
    GEOSGeomGetY_r(ctx, inner.get(), &y);
    if (InsideOddly(rings, x, y)) kept.push_back(GEOSGeom_clone_r(ctx, face));
  }
  Geos::Geom parts = geos.Own(GEOSGeom_createCollection_r(ctx, GEOS_MULTIPOLYGON, kept.data(),
                                                          static_cast<unsigned>(kept.size())));
  return geos.Own(GEOSUnaryUnion_r(ctx, parts.get()));
}

// The rings' region: by symmetric differences of their polygons when the
// rings are simple, else through the faces of their noded lines.
inline Geos::Geom RegionOf(const Geos& geos, const Rings& rings) {
  bool simple = true;
  for (const Ring& r : rings) {
    Geos::Geom p = geos.Polygon(r);
    simple = simple && p && GEOSisValid_r(geos.context(), p.get()) == 1;
  }
  if (!simple) return EvenOddRegion(geos, rings);
  // Symmetric differences taken pairwise, as a balanced tree: results with
  // many contours stay quick.
  std::vector<Geos::Geom> level;
  for (const Ring& r : rings) level.push_back(geos.Polygon(r));
  if (level.empty()) return EmptyGeometry(geos);
  while (level.size() > 1) {
    std::vector<Geos::Geom> up;
    for (size_t i = 0; i + 1 < level.size(); i += 2) {
      up.push_back(
          geos.Own(GEOSSymDifference_r(geos.context(), level[i].get(), level[i + 1].get())));
    }
    if (level.size() % 2) up.push_back(std::move(level.back()));
    level = std::move(up);
  }
  return std::move(level[0]);
}

// What is wrong with the clipper's result of (subject op clip), judged by
// GEOS; empty when nothing is. Every contour must be a simple ring, outer
// contours counter-clockwise and holes clockwise as flagged, and the region
// must equal GEOS's result up to tolerance x the larger input area.
// a and b are the regions of subject and clip (RegionOf).
inline std::string CompareWithGeos(const Geos& geos, gpc_op op, const Rings& subject,
                                   const Rings& clip, const GEOSGeometry* a, const GEOSGeometry* b,
                                   double tolerance = 1e-9) {
  GpcView s(subject), c(clip);
  GpcResult result;
  gpc_polygon_clip(op, s.get(), c.get(), &result.polygon);
  Rings rings = result.rings();
  GEOSContextHandle_t ctx = geos.context();
  double signedSum = 0;
  for (size_t k = 0; k < rings.size(); ++k) {
    const Ring& r = rings[k];
    if (r.size() < 3) return "contour " + std::to_string(k) + " has fewer than 3 vertices";
    GEOSGeometry* ring = GEOSGeom_createLinearRing_r(ctx, geos.Sequence(r, true, Geos::Plane{}));
    Geos::Geom owned = geos.Own(ring);
    if (!ring || GEOSisSimple_r(ctx, ring) != 1) {
      return "contour " + std::to_string(k) + " is not a simple ring";
    }
    double a = TwiceSignedArea(r) / 2;
    bool hole = result.polygon.hole[k] != 0;
    if ((a < 0) != hole) return "contour " + std::to_string(k) + " turns against its hole flag";
    signedSum += a;
  }
  Geos::Geom mine = RegionOf(geos, rings);
  Geos::Geom theirs = GeosOperation(geos, op, a, b);
  if (!mine || !theirs) return "GEOS failed: " + geos.lastError();
  double scale = std::max({geos.Area(a), geos.Area(b), 1e-300});
  double want = geos.Area(theirs.get());
  if (std::fabs(geos.Area(mine.get()) - want) > tolerance * scale) {
    return "area " + std::to_string(geos.Area(mine.get())) + " against GEOS " +
           std::to_string(want);
  }
  if (std::fabs(signedSum - want) > tolerance * scale) {
    return "contour areas with their hole flags sum to " + std::to_string(signedSum) + " against " +
           std::to_string(want);
  }
  Geos::Geom apart = geos.Own(GEOSSymDifference_r(ctx, mine.get(), theirs.get()));
  if (!apart) return "GEOS failed on the comparison: " + geos.lastError();
  if (geos.Area(apart.get()) > tolerance * scale) {
    return "differs from GEOS by an area of " + std::to_string(geos.Area(apart.get()));
  }
  return "";
}

}  // namespace testsupport
