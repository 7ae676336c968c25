#include "services/hull.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/geos_oracle.h"

namespace {

using Points = std::vector<pipWrapPoint>;

// The hull of points as the list of its vertices in the order given.
Points Hull(Points points) {
  const auto n = int32_t(points.size());
  points.push_back({0, 0});
  const int32_t count = DetermineWrapConvexHull(n, points.data());
  points.resize(size_t(std::max(count, 0)));
  return points;
}

std::string Text(const Points& points) {
  std::string s;
  for (const auto& p : points) s += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
  return s;
}

struct HullCase {
  const char* name;
  Points input;
  Points hull;
};

TEST(ConvexHull, EdgeCases) {
  // clang-format off
  const std::vector<HullCase> cases = {
      {"no points", {}, {}},
      {"two points are too few", {{0, 0}, {1, 1}}, {}},
      {"three points on a line give its two ends", {{1, 1}, {0, 0}, {2, 2}}, {{0, 0}, {2, 2}}},
      {"a vertical line gives its two ends", {{5, 3}, {5, 1}, {5, 2}, {5, 9}}, {{5, 1}, {5, 9}}},
      {"the square's centre is dropped, corners counter-clockwise",
       {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.5, 0.5}}, {{0, 0}, {1, 0}, {1, 1}, {0, 1}}},
      {"the wrap starts at the leftmost of the lowest points",
       {{1, 0}, {1, 1}, {0, 1}, {0, 0}}, {{0, 0}, {1, 0}, {1, 1}, {0, 1}}},
      {"points along an edge are passed over",
       {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}},
       {{0, 0}, {2, 0}, {2, 2}, {0, 2}}},
      {"a duplicated corner is taken once",
       {{0, 0}, {0, 0}, {4, 0}, {4, 0}, {0, 4}}, {{0, 0}, {4, 0}, {0, 4}}},
      {"points all in one place give one", {{3, 3}, {3, 3}, {3, 3}}, {{3, 3}}},
      {"a triangle with inner points",
       {{2, 1}, {0, 0}, {1, 1}, {4, 0}, {2, 3}, {2, 2}}, {{0, 0}, {4, 0}, {2, 3}}},
  };
  // clang-format on
  for (const HullCase& c : cases) {
    EXPECT_EQ(Text(Hull(c.input)), Text(c.hull)) << c.name;
  }
}

TEST(ConvexHull, UsesTheRecordBehindTheLastPoint) {
  Points points = {{0, 0}, {2, 0}, {1, 2}, {1, 1}, {99, 99}};
  ASSERT_EQ(DetermineWrapConvexHull(4, points.data()), 3);
  EXPECT_EQ(Text(Points(points.begin(), points.begin() + 3)),
            "(0.000000,0.000000)"
            "(2.000000,0.000000)"
            "(1.000000,2.000000)");
}

// The vertices of GEOS's hull of points.
std::set<std::pair<double, double>> GeosHull(const testsupport::Geos& geos, const Points& points) {
  std::vector<GEOSGeometry*> parts;
  for (const auto& p : points)
    parts.push_back(GEOSGeom_createPointFromXY_r(geos.context(), p.x, p.y));
  auto multi = geos.Own(GEOSGeom_createCollection_r(geos.context(), GEOS_MULTIPOINT, parts.data(),
                                                    unsigned(parts.size())));
  auto hull = geos.Own(GEOSConvexHull_r(geos.context(), multi.get()));
  const GEOSGeometry* line = hull.get();
  if (GEOSGeomTypeId_r(geos.context(), line) == GEOS_POLYGON)
    line = GEOSGetExteriorRing_r(geos.context(), line);
  std::set<std::pair<double, double>> out;
  if (GEOSGeomTypeId_r(geos.context(), line) == GEOS_POINT) {
    double x, y;
    GEOSGeomGetX_r(geos.context(), line, &x);
    GEOSGeomGetY_r(geos.context(), line, &y);
    out.insert({x, y});
    return out;
  }
  const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(geos.context(), line);
  unsigned n = 0;
  GEOSCoordSeq_getSize_r(geos.context(), seq, &n);
  for (unsigned i = 0; i < n; ++i) {
    double x, y;
    GEOSCoordSeq_getXY_r(geos.context(), seq, i, &x, &y);
    out.insert({x, y});
  }
  return out;
}

double TwiceArea(const Points& ring) {
  double sum = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const auto& a = ring[i];
    const auto& b = ring[(i + 1) % ring.size()];
    sum += a.x * b.y - b.x * a.y;
  }
  return sum;
}

TEST(ConvexHull, MatchesGeos) {
  testsupport::Geos geos;
  std::mt19937 random(41);
  std::vector<std::pair<std::string, Points>> sets;
  for (int n : {3, 10, 100, 1000, 20000}) {
    // Whole numbers, as the trade areas' frame coordinates mostly are, so
    // that collinear points on the hull are exactly collinear.
    std::uniform_int_distribution<int> coordinate(-5000, 5000);
    Points square;
    for (int i = 0; i < n; ++i)
      square.push_back({double(coordinate(random)), double(coordinate(random))});
    sets.emplace_back("square of " + std::to_string(n), square);
    std::normal_distribution<double> spread(0, 1000);
    Points cloud;
    for (int i = 0; i < n; ++i) cloud.push_back({spread(random), spread(random)});
    sets.emplace_back("cloud of " + std::to_string(n), cloud);
  }
  for (int n : {5, 64, 1000}) {
    Points circle;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * M_PI * i / n;
      circle.push_back({1e5 * std::cos(a), 1e5 * std::sin(a)});
    }
    std::shuffle(circle.begin(), circle.end(), random);
    sets.emplace_back("circle of " + std::to_string(n), circle);
  }
  Points runs;  // a rectangle's sides as collinear runs, with inner points
  for (int i = 0; i <= 50; ++i) {
    runs.push_back({double(i * 10), 0});
    runs.push_back({double(i * 10), 300});
    runs.push_back({0, double(i * 6)});
    runs.push_back({500, double(i * 6)});
    runs.push_back({double(i * 7 % 500), double(i * 13 % 300)});
  }
  std::shuffle(runs.begin(), runs.end(), random);
  sets.emplace_back("collinear runs", runs);
  Points diagonal;
  for (int i = 0; i < 40; ++i) diagonal.push_back({double(i * 3 % 40), double(i * 3 % 40)});
  sets.emplace_back("points on one line", diagonal);

  for (const auto& [name, points] : sets) {
    const Points hull = Hull(points);
    std::set<std::pair<double, double>> ours;
    for (const auto& p : hull) ours.insert({p.x, p.y});
    EXPECT_EQ(ours.size(), hull.size()) << name;
    EXPECT_EQ(ours, GeosHull(geos, points)) << name;
    if (hull.size() >= 3) {
      EXPECT_GT(TwiceArea(hull), 0) << name << ": not counter-clockwise";
    }
  }
}

}  // namespace
