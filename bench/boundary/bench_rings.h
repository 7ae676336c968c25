// Rings for the geometry benchmarks: the real boundary sets and synthetic
// star-shaped rings, in millionths of a degree without closing points.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "boundary/ringgeom.h"
#include "tests/boundary/ring_shapes.h"

namespace benchrings {

using ringtest::Ring;
using ringtest::Shape;

inline std::vector<Shape> Load(const std::string& relativePath) {
  std::string error;
  return ringtest::LoadShapes(std::string(GSB_SHARED_DATA_DIR) + "/" + relativePath, 3, &error);
}

// A star-shaped ring of n vertices around (cx, cy), radii between 0.6 and 1
// times radius at random: every edge zigzags in and out, so a line meets
// a large share of them. The worst case, not a real border.
inline Ring Star(uint64_t seed, int n, int32_t cx, int32_t cy, double radius) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> r(0.6 * radius, radius);
  Ring ring;
  for (int k = 0; k < n; ++k) {
    double angle = 2 * M_PI * k / n, len = r(rng);
    ring.push_back({cx + int32_t(std::lround(len * std::cos(angle))),
                    cy + int32_t(std::lround(len * std::sin(angle)))});
  }
  return ring;
}

// A border-like ring: lobes and bays (a few sines) with noise of about the
// spacing of the vertices, so that the border wiggles at every vertex but
// consecutive vertices lie close together, as on real borders.
inline Ring Wiggly(uint64_t seed, int n, int32_t cx, int32_t cy, double radius) {
  std::mt19937_64 rng(seed);
  const double spacing = 2 * M_PI / n;
  std::uniform_real_distribution<double> noise(-spacing, spacing);
  Ring ring;
  for (int k = 0; k < n; ++k) {
    double a = 2 * M_PI * k / n;
    double len =
        radius * (0.8 + 0.1 * std::sin(5 * a + seed) + 0.05 * std::sin(23 * a) + noise(rng));
    ring.push_back({cx + int32_t(std::lround(len * std::cos(a))),
                    cy + int32_t(std::lround(len * std::sin(a)))});
  }
  return ring;
}

using ringtest::ShapeOf;

}  // namespace benchrings
