// Real rings for the geometry tests: the nc and naturalearth boundary sets as
// boundary files store them (millionths of a degree, no closing point), and a
// literal reading of the crossing rule to hold the fast paths against.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boundary/ringgeom.h"
#include "tests/boundary/ring_shapes.h"
#include "tests/support/temp_dir.h"

namespace ringtest {

inline std::vector<Shape> LoadShapes(const std::string& relativePath) {
  std::string error;
  std::vector<Shape> shapes = LoadShapes(testsupport::SharedDataPath(relativePath), 1, &error);
  EXPECT_TRUE(error.empty()) << error;
  return shapes;
}

inline const std::vector<Shape>& Nc() {
  static const std::vector<Shape> shapes = LoadShapes("nc/nc.shp");
  return shapes;
}

inline const std::vector<Shape>& NaturalEarth() {
  static const std::vector<Shape> shapes = LoadShapes("naturalearth/naturalearth_lowres.shp");
  return shapes;
}

// The crossing rule read word by word: a walk over the ring that takes
// horizontal runs whole. -1 on the border.
inline int ReferenceCrossings(const Ring& p, int32_t px, int32_t py) {
  const size_t n = p.size();
  if (n == 0) return 0;
  auto at = [&](size_t i) { return p[i % n]; };
  // A run from i: its length, and whether P lies on it.
  auto run = [&](size_t i, size_t* length) {
    size_t m = 0;
    bool onBorder = false;
    while (m < n && at(i + m).y == py) {
      if (at(i + m).x == px) onBorder = true;
      if (m > 0) {
        int32_t a = at(i + m - 1).x, b = at(i + m).x;
        if (std::min(a, b) <= px && px <= std::max(a, b)) onBorder = true;
      }
      ++m;
    }
    *length = m;
    return onBorder;
  };
  size_t first;
  if (run(0, &first)) return -1;
  if (first == n) return 0;
  size_t i = first;
  bool side = at(i).y > py;
  int crossings = 0;
  size_t steps = 0;
  while (steps < n) {
    RingPoint prev = at(i), cur = at(i + 1);
    if (cur.y == py) {
      size_t m;
      if (run(i + 1, &m)) return -1;
      RingPoint last = at(i + m), next = at(i + m + 1);
      if ((next.y > py) != side) {
        if (std::min(last.x, cur.x) <= px && px <= std::max(last.x, cur.x)) return -1;
        if (last.x < px && cur.x < px) ++crossings;
      }
      side = next.y > py;
      i += m + 1;
      steps += m + 1;
      continue;
    }
    if ((cur.y > py) != side) {
      double x = prev.x + double(py - int64_t{prev.y}) * double(cur.x - int64_t{prev.x}) /
                              double(cur.y - int64_t{prev.y});
      if (std::fabs(px - x) < 0.5) return -1;
      if (px > x) ++crossings;
    }
    side = cur.y > py;
    ++i;
    ++steps;
  }
  return crossings;
}

}  // namespace ringtest
