// Objects of a polygon shapefile as the boundary engine holds them: rings in
// millionths of a degree without their closing points, with each object's
// box. Shared by the geometry tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "boundary/ringgeom.h"
#include "tests/support/shp_rings.h"

namespace ringtest {

using Ring = std::vector<RingPoint>;

struct Shape {
  std::vector<Ring> rings;
  int32_t xmin = INT32_MAX, ymin = INT32_MAX, xmax = INT32_MIN, ymax = INT32_MIN;

  void Include(RingPoint p) {
    xmin = std::min(xmin, p.x);
    ymin = std::min(ymin, p.y);
    xmax = std::max(xmax, p.x);
    ymax = std::max(ymax, p.y);
  }
};

inline Shape ShapeOf(Ring ring) {
  Shape s;
  for (RingPoint p : ring) s.Include(p);
  s.rings.push_back(std::move(ring));
  return s;
}

// The objects of path with at least one ring of minPoints points or more
// (shorter rings are left out); empty with a reason when the file is
// damaged.
inline std::vector<Shape> LoadShapes(const std::string& path, size_t minPoints,
                                     std::string* error) {
  std::vector<testsupport::ShpShape> raw;
  std::vector<Shape> shapes;
  if (!testsupport::ReadShpRings(path, &raw, error)) return shapes;
  for (const auto& s : raw) {
    Shape shape;
    for (const auto& r : s.rings) {
      Ring ring;
      for (const auto& p : testsupport::WithoutClosingPoint(r)) ring.push_back(RingPoint{p.x, p.y});
      if (ring.empty() || ring.size() < minPoints) continue;
      for (RingPoint p : ring) shape.Include(p);
      shape.rings.push_back(std::move(ring));
    }
    if (!shape.rings.empty()) shapes.push_back(std::move(shape));
  }
  return shapes;
}

}  // namespace ringtest
