#include "boundary/overlap.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/boundary/ring_fixtures.h"
#include "tests/support/geos_oracle.h"

namespace {

using ringtest::Ring;
using testsupport::Geos;
using Rings = std::vector<Ring>;

Ring Square(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return Ring{{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
}

struct Outcome {
  int result = 0;
  int code = 0;
  double percentage = -2.0;
};

Outcome RunCheck(OverlapCheck& check, int precision) {
  Outcome o;
  o.result = check.Check(&o.code, precision, &o.percentage);
  return o;
}

Outcome Check(const Rings& a, const Rings& b, int precision) {
  OverlapCheck check;
  for (const Ring& r : a) EXPECT_EQ(check.AddRegionA(int(r.size()), r.data()), 0);
  for (const Ring& r : b) EXPECT_EQ(check.AddRegionB(int(r.size()), r.data()), 0);
  return RunCheck(check, precision);
}

struct Case {
  const char* name;
  Rings a, b;
  int precision;
  int code;
  double percentage;  // within 0.5
};

TEST(OverlapCheckTest, CodesOnSquares) {
  const Ring big = Square(0, 0, 100, 100), small = Square(40, 40, 60, 60);
  Ring closedBig = big;
  closedBig.push_back(big.front());
  // A bar crossed by a slanted band that has no vertex over the bar: only
  // the crossing of the bar's horizontal edges tells.
  const Ring bar = Square(0, 104, 20, 106);
  const Ring band = {{-5, 95}, {25, 115}, {25, 116}, {-5, 96}};
  const Case cases[] = {
      {"sharing an edge", {Square(0, 0, 10, 10)}, {Square(10, 0, 20, 10)}, 100, 2, 0.0},
      {"small within big", {small}, {big}, 100, 3, 100.0},
      {"big around small", {big}, {small}, 100, 4, 4.0},
      {"the same", {big}, {big}, 100, 6, 100.0},
      {"a quarter of A", {Square(0, 0, 10, 10)}, {Square(5, 5, 15, 15)}, 100, 5, 25.0},
      {"no estimate below precision 1", {Square(0, 0, 10, 10)}, {Square(5, 5, 15, 15)}, 0, 5, -1.0},
      {"first point repeated", {closedBig}, {small}, 100, 4, 4.0},
      {"first point repeated, the same", {closedBig}, {big}, 100, 6, 100.0},
      {"crossing bars", {Square(0, 40, 100, 60)}, {Square(40, 0, 60, 100)}, 100, 5, 20.0},
      {"in the hole of B", {small}, {big, Square(20, 20, 80, 80)}, 100, 2, 0.0},
      {"in the frame of B", {Square(5, 5, 15, 15)}, {big, Square(20, 20, 80, 80)}, 100, 3, 100.0},
      {"around an island in a hole",
       {Square(10, 10, 90, 90)},
       {big, Square(20, 20, 80, 80), small},
       100,
       5,
       100 * (6400 - 3600 + 400) / 6400.0},
      {"a band across a bar's horizontal edges", {bar}, {band}, 100, 5, -3.0},
      {"precision above A's width",
       {Square(0, 0, 3, 3)},
       {Square(1, 1, 5, 5)},
       1000,
       5,
       100 * 4 / 9.0},
      {"B empty", {big}, {}, 100, 2, 0.0},
      // Capped scan lines: without the cap this one runs for seconds.
      {"the largest precision", {Square(0, 0, 10, 10)}, {Square(5, 5, 15, 15)}, INT32_MAX, 5,
       25.0},
  };
  for (const Case& c : cases) {
    Outcome o = Check(c.a, c.b, c.precision);
    EXPECT_EQ(o.result, 1) << c.name;
    EXPECT_EQ(o.code, c.code) << c.name;
    if (c.percentage != -3.0) {
      EXPECT_NEAR(o.percentage, c.percentage, 0.5) << c.name;
    }
  }
}

TEST(OverlapCheckTest, SetsAreKeptClearedAndReused) {
  OverlapCheck check;
  EXPECT_EQ(RunCheck(check, 100).code, 2);  // never filled
  Ring a = Square(0, 0, 10, 10), b = Square(5, 5, 15, 15);
  check.AddRegionA(4, a.data());
  check.AddRegionB(4, b.data());
  EXPECT_EQ(RunCheck(check, 100).code, 5);
  check.ClearRegionB();
  Ring inside = Square(2, 2, 4, 4);
  check.AddRegionB(4, inside.data());
  Outcome o = RunCheck(check, 100);
  EXPECT_EQ(o.code, 4);
  EXPECT_NEAR(o.percentage, 4.0, 0.5);
  // A cleared set has no rings: no common area.
  check.ClearRegionA();
  o = RunCheck(check, 100);
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.percentage, 0.0);
  // No percentage asked for.
  int code = 0;
  EXPECT_EQ(check.Check(&code, 100, nullptr), 1);

  // The ring array doubles past its first ten rings, points and all.
  OverlapCheck many;
  std::vector<Ring> squares;
  for (int i = 0; i < 25; ++i) squares.push_back(Square(i * 10, 0, i * 10 + 5, 5));
  for (const Ring& s : squares) ASSERT_EQ(many.AddRegionA(4, s.data()), 0);
  Ring strip = Square(0, 0, 250, 5);
  many.AddRegionB(4, strip.data());
  o = RunCheck(many, 250);
  EXPECT_EQ(o.code, 3);
}

// ---------------------------------------------------------------------------
// Against GEOS: the relation from the DE-9IM matrix and the covered share
// from the intersection's area.

int OracleCode(const Geos& geos, const GEOSGeometry* a, const GEOSGeometry* b) {
  std::string m = geos.Relate(a, b);
  if (m.empty() || m[0] == 'F') return OverlapCheck::kApart;
  bool aInB = m[2] == 'F' && m[5] == 'F';  // A's interior and border inside B
  bool bInA = m[6] == 'F' && m[7] == 'F';
  if (aInB && bInA) return OverlapCheck::kSame;
  if (aInB) return OverlapCheck::kAWithinB;
  if (bInA) return OverlapCheck::kBWithinA;
  return OverlapCheck::kPartly;
}

// The estimate sums lengths on scan lines `step` apart (midpoint rule): an
// area is off by at most step times the total vertical travel of the borders
// that bound it.
double Travel(const Rings& rings) {
  double t = 0;
  for (const Ring& r : rings) {
    for (size_t i = 0; i < r.size(); ++i) t += std::abs(double(r[i].y) - r[(i + 1) % r.size()].y);
  }
  return t;
}

// The same scan lines cut through GEOS's A and A-and-B: the share the
// estimate must come to, but for rounding.
double ScanLineShare(const Geos& geos, const GEOSGeometry* a, const GEOSGeometry* common,
                     int32_t xmin, int32_t xmax, int precision) {
  double xa0, ya0, xa1, ya1;
  GEOSGeom_getXMin_r(geos.context(), a, &xa0);
  GEOSGeom_getYMin_r(geos.context(), a, &ya0);
  GEOSGeom_getXMax_r(geos.context(), a, &xa1);
  GEOSGeom_getYMax_r(geos.context(), a, &ya1);
  double step = double(xmax - xmin) / precision, inA = 0, inBoth = 0;
  for (int k = 0;; ++k) {
    double x = xmin + step / 2 + k * step;
    if (!(x < xmax)) break;
    GEOSCoordSequence* seq = GEOSCoordSeq_create_r(geos.context(), 2, 2);
    GEOSCoordSeq_setXY_r(geos.context(), seq, 0, x, ya0 - 1);
    GEOSCoordSeq_setXY_r(geos.context(), seq, 1, x, ya1 + 1);
    Geos::Geom line = geos.Own(GEOSGeom_createLineString_r(geos.context(), seq));
    for (auto [target, sum] : {std::pair{a, &inA}, std::pair{common, &inBoth}}) {
      Geos::Geom cut = geos.Own(GEOSIntersection_r(geos.context(), line.get(), target));
      double length = 0;
      if (cut) GEOSLength_r(geos.context(), cut.get(), &length);
      *sum += length;
    }
  }
  return inA > 0 && inBoth > 0 ? inBoth / inA * 100 : 0.0;
}

void ExpectAgreement(const Geos& geos, const Rings& a, const Rings& b, int precision,
                     const std::string& what, bool scanLines = false) {
  Geos::Geom ga = geos.Region(a), gb = geos.Region(b);
  ASSERT_TRUE(ga && gb) << what;
  Outcome o = Check(a, b, precision);
  ASSERT_EQ(o.result, 1);
  int expected = OracleCode(geos, ga.get(), gb.get());
  EXPECT_EQ(o.code, expected) << what;
  if (o.code != expected) return;
  double areaA = geos.Area(ga.get());
  Geos::Geom common = geos.Own(GEOSIntersection_r(geos.context(), ga.get(), gb.get()));
  double areaCommon = geos.Area(common.get());
  if (expected == OverlapCheck::kBWithinA || expected == OverlapCheck::kPartly) {
    int32_t xmin = INT32_MAX, xmax = INT32_MIN;
    for (const Ring& r : a) {
      for (RingPoint p : r) {
        xmin = std::min(xmin, p.x);
        xmax = std::max(xmax, p.x);
      }
    }
    double step = double(xmax - xmin) / precision;
    double errA = step * Travel(a), errCommon = step * (Travel(a) + Travel(b));
    double low = std::max(0.0, areaCommon - errCommon) / (areaA + errA) * 100;
    double high = (areaCommon + errCommon) / std::max(areaA - errA, 1e-9) * 100;
    EXPECT_GE(o.percentage, low - 1e-9) << what << " GEOS " << areaCommon / areaA * 100;
    EXPECT_LE(o.percentage, high + 1e-9) << what << " GEOS " << areaCommon / areaA * 100;
    if (scanLines) {
      EXPECT_NEAR(o.percentage, ScanLineShare(geos, ga.get(), common.get(), xmin, xmax, precision),
                  1e-6)
          << what;
    }
  } else {
    EXPECT_EQ(o.percentage, expected == OverlapCheck::kApart ? 0.0 : 100.0) << what;
  }
}

TEST(OverlapOracleTest, NcCountyPairsAgreeWithGeos) {
  Geos geos;
  const auto& shapes = ringtest::Nc();
  int pairs = 0;
  for (size_t i = 0; i < shapes.size(); ++i) {
    for (size_t j = 0; j < shapes.size(); ++j) {
      const auto &a = shapes[i], &b = shapes[j];
      if (a.xmax < b.xmin || b.xmax < a.xmin || a.ymax < b.ymin || b.ymax < a.ymin) continue;
      ExpectAgreement(geos, a.rings, b.rings, 500,
                      "counties " + std::to_string(i) + " and " + std::to_string(j));
      ++pairs;
    }
  }
  EXPECT_GT(pairs, 500);
}

// A county against copies of itself moved by a fraction of its size, and
// against a shrunken copy about a point inside it.
TEST(OverlapOracleTest, NcCountiesAgainstMovedCopiesAgreeWithGeos) {
  Geos geos;
  const auto& shapes = ringtest::Nc();
  for (size_t i = 0; i < shapes.size(); i += 7) {
    const auto& s = shapes[i];
    for (double f : {0.05, 0.3, 0.7}) {
      int32_t dx = int32_t((s.xmax - s.xmin) * f), dy = int32_t((s.ymax - s.ymin) * f / 2);
      Rings moved = s.rings;
      for (Ring& r : moved) {
        for (RingPoint& p : r) p = {p.x + dx, p.y - dy};
      }
      ExpectAgreement(geos, s.rings, moved, 100, "county " + std::to_string(i) + " moved", true);
    }
  }
}

// Random star-shaped polygons: partly overlapping pairs, disjoint pairs and
// shrunken copies (a star shrunk about its centre lies inside it).
Ring Star(std::mt19937_64& rng, int32_t cx, int32_t cy, int n, double radius) {
  std::uniform_real_distribution<double> r(0.3 * radius, radius);
  Ring ring;
  for (int k = 0; k < n; ++k) {
    double angle = 2 * M_PI * k / n;
    double len = r(rng);
    ring.push_back({cx + int32_t(std::lround(len * std::cos(angle))),
                    cy + int32_t(std::lround(len * std::sin(angle)))});
  }
  return ring;
}

TEST(OverlapOracleTest, RandomPolygonsAgreeWithGeos) {
  Geos geos;
  std::mt19937_64 rng(41);
  std::uniform_int_distribution<int32_t> centre(0, 3000000);
  for (int q = 0; q < 150; ++q) {
    int n = 8 + q % 50 * 4;
    int32_t cx = centre(rng), cy = centre(rng);
    Ring a = Star(rng, cx, cy, n, 1000000);
    Ring b = Star(rng, centre(rng), centre(rng), n + 3, 1000000);
    ExpectAgreement(geos, {a}, {b}, 400, "pair " + std::to_string(q));
    if (q % 5 == 0) ExpectAgreement(geos, {a}, {b}, 60, "scanned pair " + std::to_string(q), true);
    Ring shrunk;
    for (RingPoint p : a) shrunk.push_back({cx + (p.x - cx) / 2, cy + (p.y - cy) / 2});
    ExpectAgreement(geos, {a}, {shrunk}, 400, "shrunk " + std::to_string(q));
    if (q % 5 == 0)
      ExpectAgreement(geos, {a}, {shrunk}, 60, "scanned shrunk " + std::to_string(q), true);
    ExpectAgreement(geos, {shrunk}, {a}, 400, "shrunk as A " + std::to_string(q));
  }
}

}  // namespace
