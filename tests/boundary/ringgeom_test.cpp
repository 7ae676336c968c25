#include "boundary/ringgeom.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/distance_model.h"
#include "tests/boundary/ring_fixtures.h"
#include "tests/support/geos_oracle.h"

namespace {

using ringtest::Ring;
using ringtest::Shape;
using testsupport::Geos;

#ifdef __SANITIZE_ADDRESS__
constexpr int kOraclePoints = 20000;
#else
constexpr int kOraclePoints = 100000;
#endif

struct CrossingCase {
  const char* name;
  Ring ring;
  int32_t px, py;
  int crossings;  // -1: on the border
};

const Ring kSquare = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
// A step: the ring passes from below y = 5 to above it through (5,5)-(10,5).
const Ring kStep = {{0, 0}, {5, 0}, {5, 5}, {10, 5}, {10, 10}, {0, 10}};
// A notch: the ring comes down to y = 5 along (7,5)-(3,5) and turns back up.
const Ring kNotch = {{0, 0}, {10, 0}, {10, 10}, {7, 10}, {7, 5}, {3, 5}, {3, 10}, {0, 10}};
const Ring kDiamond = {{5, 0}, {10, 5}, {5, 10}, {0, 5}};
// A horizontal run over the end of the point list back to its start.
const Ring kWrappedRun = {{6, 5}, {8, 0}, {12, 0}, {12, 10}, {2, 10}, {2, 5}, {4, 5}};

const CrossingCase kCrossingCases[] = {
    {"inside", kSquare, 5, 5, 1},
    {"right of it", kSquare, 15, 5, 2},
    {"left of it", kSquare, -5, 5, 0},
    {"on an edge", kSquare, 5, 0, -1},
    {"on a vertex", kSquare, 10, 10, -1},
    {"on a vertical edge", kSquare, 0, 5, -1},
    {"beside the top edge", kSquare, 15, 10, 0},
    {"beside the bottom edge (run at index 0)", kSquare, 15, 0, 0},
    {"run passed through, right of it", kStep, 20, 5, 2},
    {"run passed through, left of it", kStep, 2, 5, 1},
    {"on the run passed through", kStep, 7, 5, -1},
    {"run touched and left, right of it", kNotch, 12, 5, 2},
    {"on the touched run", kNotch, 5, 5, -1},
    {"in the notch", kNotch, 5, 7, 2},
    {"vertex passed through", kDiamond, 20, 5, 2},
    {"between passed vertices", kDiamond, 5, 5, 1},
    {"tip touched and left", Ring{{0, 0}, {10, 0}, {5, 5}}, 8, 5, 0},
    {"run over the wrap, right of it", kWrappedRun, 20, 5, 2},
    {"run over the wrap, inside", kWrappedRun, 10, 5, 1},
    {"run over the wrap, left of it", kWrappedRun, 1, 5, 0},
    {"on the wrapped run", kWrappedRun, 3, 5, -1},
    {"flat ring beside it", Ring{{0, 5}, {10, 5}, {4, 5}}, 20, 5, 0},
    {"flat ring under it", Ring{{0, 5}, {10, 5}, {4, 5}}, 5, 5, -1},
    {"within half a unit of a sloped edge", Ring{{0, 0}, {4, 3}, {0, 3}}, 1, 1, -1},
    {"half a unit from a sloped edge", Ring{{0, 0}, {3, 2}, {0, 2}}, 1, 1, 1},
    {"below a sloped edge", Ring{{0, 0}, {4, 3}, {0, 3}}, 2, 1, 2},
    {"one point", Ring{{3, 3}}, 3, 3, -1},
    {"one point beside it", Ring{{3, 3}}, 5, 3, 0},
    {"no points", Ring{}, 0, 0, 0},
};

TEST(RingCrossingsTest, BorderRulesAndHorizontalRuns) {
  for (const CrossingCase& c : kCrossingCases) {
    EXPECT_EQ(RingCrossings(c.ring.data(), static_cast<uint32_t>(c.ring.size()), c.px, c.py),
              c.crossings)
        << c.name;
    EXPECT_EQ(ringtest::ReferenceCrossings(c.ring, c.px, c.py), c.crossings) << c.name;
  }
}

// The table's rings through the ring set, which answers by the edge-local
// rule and, for large rings, through its summary.
TEST(RingSetTest, ContainsAgreesWithTheCrossingCounts) {
  for (const CrossingCase& c : kCrossingCases) {
    RingSet set;
    ASSERT_TRUE(set.Add(c.ring.data(), static_cast<uint32_t>(c.ring.size())));
    EXPECT_EQ(set.Contains(c.px, c.py), c.crossings < 0 || (c.crossings & 1)) << c.name;
  }
}

TEST(RingSetTest, SumsRingsAndBorderWins) {
  // An outer square with a hole, and an island inside the hole.
  Ring outer = {{0, 0}, {100, 0}, {100, 100}, {0, 100}};
  Ring hole = {{20, 20}, {80, 20}, {80, 80}, {20, 80}};
  Ring island = {{40, 40}, {60, 40}, {60, 60}, {40, 60}};
  RingSet set;
  ASSERT_TRUE(set.Add(outer.data(), 4));
  ASSERT_TRUE(set.Add(hole.data(), 4));
  ASSERT_TRUE(set.Add(island.data(), 4));
  EXPECT_EQ(set.Count(), 3u);
  EXPECT_TRUE(set.Contains(10, 50));
  EXPECT_FALSE(set.Contains(30, 50));
  EXPECT_TRUE(set.Contains(50, 50));
  EXPECT_FALSE(set.Contains(150, 50));
  EXPECT_TRUE(set.Contains(20, 50));    // the hole's border
  EXPECT_TRUE(set.Contains(100, 100));  // the outer corner
  set.Clear();
  EXPECT_EQ(set.Count(), 0u);
  EXPECT_FALSE(set.Contains(10, 50));
  ASSERT_TRUE(set.Add(outer.data(), 0));
  EXPECT_FALSE(set.Contains(0, 0));
}

TEST(RingSetTest, DistanceToRings) {
  Ring square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  RingSet set;
  ASSERT_TRUE(set.Add(square.data(), 4));
  int32_t nx = -1, ny = -1;
  // The closing edge (0,10) -> (0,0) counts for a region, not for a line.
  EXPECT_DOUBLE_EQ(set.Distance(-3, 5, 0, kObjectRegion, 0, &nx, &ny), 3.0);
  EXPECT_EQ(nx, 0);
  EXPECT_EQ(ny, 5);
  EXPECT_DOUBLE_EQ(set.Distance(-3, 5, 0, kObjectLine, 0, &nx, &ny), std::hypot(3.0, 5.0));
  EXPECT_EQ(nx, 0);
  EXPECT_EQ(ny, 0);
  // Inside: the nearest edge, not 0.
  EXPECT_DOUBLE_EQ(set.Distance(5, 3, 0, kObjectRegion, 0, nullptr, nullptr), 3.0);
  EXPECT_EQ(set.Distance(5, 3, 0, 2, 0, &nx, &ny), -1.0);
  // Interior feet are cut toward the segment's start.
  Ring slanted = {{0, 0}, {10, 3}};
  RingSet line;
  ASSERT_TRUE(line.Add(slanted.data(), 2));
  line.Distance(3, 4, 0, kObjectLine, 0, &nx, &ny);
  EXPECT_EQ(nx, 3);  // foot at t = 42 / 109: (3.85, 1.16)
  EXPECT_EQ(ny, 1);
  // Geographic: x shortened by the cosine of the southern edge.
  Ring meridian = {{0, 60000000}, {0, 61000000}};
  RingSet geo;
  ASSERT_TRUE(geo.Add(meridian.data(), 2));
  EXPECT_NEAR(geo.Distance(1000, 60500000, 1, kObjectLine, 60000000, nullptr, nullptr),
              1000 * kFeetPerMillionth * std::cos(60000000 * kRadiansPerMillionth), 1e-9);
  EXPECT_NEAR(geo.Distance(0, 62000000, 1, kObjectLine, 60000000, nullptr, nullptr),
              1000000 * kFeetPerMillionth, 1e-6);
}

TEST(RingSetTest, EquallyNearRingsKeepTheNewestRingsPoint) {
  // Rings are visited newest first; a later one must be strictly nearer.
  Ring left = {{0, 0}, {0, 10}}, right = {{10, 0}, {10, 10}};
  RingSet set;
  ASSERT_TRUE(set.Add(left.data(), 2));
  ASSERT_TRUE(set.Add(right.data(), 2));
  int32_t nx = 0, ny = 0;
  EXPECT_DOUBLE_EQ(set.Distance(5, 5, 0, kObjectLine, 0, &nx, &ny), 5.0);
  EXPECT_EQ(nx, 10);
}

// A long rectilinear ring: steps of random width and height (some of height
// 0, so runs of three or more points), a top side of 300 points in one run
// over many summary blocks, and a wall back down.
TEST(RingSetTest, LargeRingsWithLongRunsAgreeWithTheWalk) {
  std::mt19937_64 rng(5);
  Ring ring;
  int32_t x = 0, y = 0;
  for (int k = 0; k < 2000; ++k) {
    ring.push_back({x, y});
    x += std::uniform_int_distribution<int32_t>(1, 20)(rng);
    ring.push_back({x, y});
    y = std::clamp(y + std::uniform_int_distribution<int32_t>(-3, 3)(rng) * 5, -500, 500);
  }
  for (int k = 0; k < 300; ++k) ring.push_back({x - k * x / 300, 1000});
  RingSet set;
  ASSERT_TRUE(set.Add(ring.data(), static_cast<uint32_t>(ring.size())));
  for (int q = 0; q < 20000; ++q) {
    int32_t px = std::uniform_int_distribution<int32_t>(-10, x + 10)(rng);
    int32_t py = q % 2 ? ring[std::uniform_int_distribution<size_t>(0, ring.size() - 1)(rng)].y
                       : std::uniform_int_distribution<int32_t>(-520, 1020)(rng);
    int reference = ringtest::ReferenceCrossings(ring, px, py);
    ASSERT_EQ(RingCrossings(ring.data(), static_cast<uint32_t>(ring.size()), px, py), reference)
        << px << "," << py;
    ASSERT_EQ(set.Contains(px, py), reference < 0 || (reference & 1)) << px << "," << py;
  }
}

// The points of a query mix: anywhere in a ring's box, at the height of one
// of its vertices (horizontal runs and vertex passes), and on the ring.
RingPoint QueryPoint(const Ring& ring, const Shape& shape, std::mt19937_64& rng) {
  std::uniform_int_distribution<size_t> vertex(0, ring.size() - 1);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int32_t> nudge(-2, 2);
  int k = kind(rng);
  if (k < 6) {
    return RingPoint{std::uniform_int_distribution<int32_t>(shape.xmin - 10, shape.xmax + 10)(rng),
                     std::uniform_int_distribution<int32_t>(shape.ymin - 10, shape.ymax + 10)(rng)};
  }
  RingPoint v = ring[vertex(rng)];
  if (k < 8) {
    return RingPoint{std::uniform_int_distribution<int32_t>(shape.xmin - 10, shape.xmax + 10)(rng),
                     v.y};
  }
  if (k < 9) return RingPoint{v.x + nudge(rng), v.y + nudge(rng)};
  RingPoint w = ring[(&v - ring.data() + 1) % ring.size()];
  return RingPoint{static_cast<int32_t>((int64_t{v.x} + w.x) / 2),
                   static_cast<int32_t>((int64_t{v.y} + w.y) / 2)};
}

// Random points against GEOS (border included) and against the literal
// walk, over every ring of a data set. Points within one millionth of a
// border may differ from GEOS: there the walk's rule decides.
void CheckAgainstOracle(const std::vector<Shape>& shapes, int points, uint64_t seed) {
  ASSERT_FALSE(shapes.empty());
  Geos geos;
  struct Prepared {
    Geos::Geom polygon, border;
    Geos::Prepared prepared;
  };
  std::map<const Ring*, Prepared> prepared;
  auto oracle = [&](const Ring& ring) -> Prepared& {
    auto it = prepared.find(&ring);
    if (it != prepared.end()) return it->second;
    Prepared p{geos.Polygon(ring), geos.Line(ring, true),
               Geos::Prepared(nullptr, {geos.context()})};
    p.prepared = geos.Prepare(p.polygon.get());
    return prepared.emplace(&ring, std::move(p)).first->second;
  };

  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<size_t> pickShape(0, shapes.size() - 1);
  int atBorder = 0, inside = 0;
  for (int q = 0; q < points; ++q) {
    const Shape& shape = shapes[pickShape(rng)];
    const Ring& home =
        shape.rings[std::uniform_int_distribution<size_t>(0, shape.rings.size() - 1)(rng)];
    RingPoint p = QueryPoint(home, shape, rng);

    RingSet set;
    int referenceSum = 0;
    bool referenceBorder = false, oracleInside = false, comparable = true;
    for (const Ring& ring : shape.rings) {
      ASSERT_TRUE(set.Add(ring.data(), static_cast<uint32_t>(ring.size())));
      int reference = ringtest::ReferenceCrossings(ring, p.x, p.y);
      ASSERT_EQ(RingCrossings(ring.data(), static_cast<uint32_t>(ring.size()), p.x, p.y), reference)
          << "ring of " << ring.size() << " points, P " << p.x << "," << p.y;
      referenceBorder |= reference < 0;
      referenceSum += std::max(reference, 0);
      Prepared& o = oracle(ring);
      if (!o.prepared) {
        comparable = false;
        continue;
      }
      Geos::Geom point = geos.Point(p.x, p.y);
      bool in = GEOSPreparedIntersects_r(geos.context(), o.prepared.get(), point.get()) == 1;
      oracleInside ^= in;
      bool ours = reference < 0 || (reference & 1);
      if (ours != in) {
        ASSERT_LE(geos.Distance(point.get(), o.border.get()), 1.0)
            << "P " << p.x << "," << p.y << " crossings " << reference << ", GEOS " << in;
      }
      // A border point makes the whole region contain it, where the
      // even-odd union of GEOS may not.
      comparable &= ours == in && reference >= 0;
    }
    bool contains = referenceBorder || (referenceSum & 1);
    ASSERT_EQ(set.Contains(p.x, p.y), contains) << "P " << p.x << "," << p.y;
    if (comparable) {
      ASSERT_EQ(contains, oracleInside) << "P " << p.x << "," << p.y;
    }
    atBorder += referenceBorder;
    inside += contains;
  }
  // The mix reaches both sides and the border.
  EXPECT_GT(inside, points / 10);
  EXPECT_GT(atBorder, points / 50);
}

TEST(RingSetOracleTest, PointsInNcCountiesAgreeWithGeos) {
  CheckAgainstOracle(ringtest::Nc(), kOraclePoints / 2, 11);
}

TEST(RingSetOracleTest, PointsInCountriesAgreeWithGeos) {
  CheckAgainstOracle(ringtest::NaturalEarth(), kOraclePoints / 2, 12);
}

TEST(RingSetOracleTest, DistancesToBordersAgreeWithGeosInFeet) {
  Geos geos;
  std::mt19937_64 rng(13);
  int checked = 0;
  for (const auto* shapes : {&ringtest::Nc(), &ringtest::NaturalEarth()}) {
    for (size_t s = 0; s < shapes->size(); s += 3) {
      const Shape& shape = (*shapes)[s];
      RingSet set;
      for (const Ring& ring : shape.rings) set.Add(ring.data(), static_cast<uint32_t>(ring.size()));
      // The plane of the distance model at the shape's southern edge.
      Geos::Plane plane{double(shape.xmin), double(shape.ymin),
                        std::cos(shape.ymin * kRadiansPerMillionth) * kFeetPerMillionth,
                        kFeetPerMillionth};
      std::vector<Geos::Geom> borders;
      for (const Ring& ring : shape.rings) borders.push_back(geos.Line(ring, true, plane));
      for (int q = 0; q < 20; ++q) {
        RingPoint p = QueryPoint(shape.rings[0], shape, rng);
        Geos::Geom point = geos.Point(plane.X(p.x), plane.Y(p.y));
        double expected = 1e300;
        for (const auto& border : borders) {
          if (border) expected = std::min(expected, geos.Distance(point.get(), border.get()));
        }
        int32_t nx = 0, ny = 0;
        double d = set.Distance(p.x, p.y, 1, kObjectRegion, shape.ymin, &nx, &ny);
        ASSERT_NEAR(d, expected, 1.0) << "P " << p.x << "," << p.y;
        // The nearest point lies on the border, within a millionth of the foot.
        double toNearest = std::hypot(plane.X(nx) - plane.X(p.x), plane.Y(ny) - plane.Y(p.y));
        ASSERT_NEAR(toNearest, d, 1.0);
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

}  // namespace
