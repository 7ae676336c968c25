// GEOS (Debian's libgeos, C API) as an independent oracle for geometry tests
// and as the peer of the geometry benchmarks. Never linked by product code.
//
// Rings are given as point lists without the closing point (as boundary files
// store them), in whole units; an optional scale maps them into another plane
// (feet) about an origin.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <geos_c.h>

namespace testsupport {

class Geos {
 public:
  struct GeomDeleter {
    GEOSContextHandle_t context;
    void operator()(GEOSGeometry* g) const {
      if (g) GEOSGeom_destroy_r(context, g);
    }
  };
  struct PreparedDeleter {
    GEOSContextHandle_t context;
    void operator()(const GEOSPreparedGeometry* g) const {
      if (g) GEOSPreparedGeom_destroy_r(context, g);
    }
  };
  using Geom = std::unique_ptr<GEOSGeometry, GeomDeleter>;
  using Prepared = std::unique_ptr<const GEOSPreparedGeometry, PreparedDeleter>;

  // A plane transform: X = (x - x0) * sx, Y = (y - y0) * sy.
  struct Plane {
    double x0 = 0, y0 = 0, sx = 1, sy = 1;
    double X(double x) const { return (x - x0) * sx; }
    double Y(double y) const { return (y - y0) * sy; }
  };

  Geos() : context_(GEOS_init_r()) {
    GEOSContext_setErrorMessageHandler_r(context_, &Geos::OnError, this);
  }
  ~Geos() { GEOS_finish_r(context_); }
  Geos(const Geos&) = delete;
  Geos& operator=(const Geos&) = delete;

  GEOSContextHandle_t context() const { return context_; }
  const std::string& lastError() const { return lastError_; }
  Geom Own(GEOSGeometry* g) const { return Geom(g, GeomDeleter{context_}); }

  template <typename P>
  GEOSCoordSequence* Sequence(const std::vector<P>& points, bool close, const Plane& plane) const {
    size_t n = points.size() + (close && !points.empty() ? 1 : 0);
    GEOSCoordSequence* seq = GEOSCoordSeq_create_r(context_, static_cast<unsigned>(n), 2);
    for (size_t i = 0; i < n; ++i) {
      const P& p = points[i % points.size()];
      GEOSCoordSeq_setXY_r(context_, seq, static_cast<unsigned>(i), plane.X(p.x), plane.Y(p.y));
    }
    return seq;
  }

  // The area a ring closes in (null when it has fewer than 3 points).
  template <typename P>
  Geom Polygon(const std::vector<P>& ring, const Plane& plane = {}) const {
    if (ring.size() < 3) return Own(nullptr);
    GEOSGeometry* shell = GEOSGeom_createLinearRing_r(context_, Sequence(ring, true, plane));
    return Own(shell ? GEOSGeom_createPolygon_r(context_, shell, nullptr, 0) : nullptr);
  }

  // The ring's border as a line (closed for regions).
  template <typename P>
  Geom Line(const std::vector<P>& points, bool closed, const Plane& plane = {}) const {
    if (points.size() < 2) return Own(nullptr);
    return Own(GEOSGeom_createLineString_r(context_, Sequence(points, closed, plane)));
  }

  // The even-odd area of several rings: their symmetric difference.
  template <typename P>
  Geom Region(const std::vector<std::vector<P>>& rings, const Plane& plane = {}) const {
    Geom result = Own(nullptr);
    for (const auto& ring : rings) {
      Geom polygon = Polygon(ring, plane);
      if (!polygon) continue;
      if (!result) {
        result = std::move(polygon);
      } else {
        result = Own(GEOSSymDifference_r(context_, result.get(), polygon.get()));
      }
    }
    return result;
  }

  Geom Point(double x, double y) const { return Own(GEOSGeom_createPointFromXY_r(context_, x, y)); }

  Prepared Prepare(const GEOSGeometry* g) const {
    return Prepared(g ? GEOSPrepare_r(context_, g) : nullptr, PreparedDeleter{context_});
  }

  double Distance(const GEOSGeometry* a, const GEOSGeometry* b) const {
    double d = -1;
    GEOSDistance_r(context_, a, b, &d);
    return d;
  }

  double Area(const GEOSGeometry* g) const {
    double a = 0;
    if (g) GEOSArea_r(context_, g, &a);
    return a;
  }

  // The DE-9IM matrix of a and b.
  std::string Relate(const GEOSGeometry* a, const GEOSGeometry* b) const {
    char* m = GEOSRelate_r(context_, a, b);
    std::string text = m ? m : "";
    GEOSFree_r(context_, m);
    return text;
  }

 private:
  static void OnError(const char* message, void* self) {
    static_cast<Geos*>(self)->lastError_ = message;
  }

  GEOSContextHandle_t context_;
  std::string lastError_;
};

}  // namespace testsupport
