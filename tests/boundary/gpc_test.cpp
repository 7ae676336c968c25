#include "gpc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/clip_samples.h"
#include "tests/support/shp_rings.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::CompareWithGeos;
using testsupport::Geos;
using testsupport::GpcResult;
using testsupport::GpcView;
using testsupport::Ring;
using testsupport::Rings;

Ring Square(double x, double y, double side) {
  return {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}};
}

double RegionArea(const gpc_polygon& p) {
  double sum = 0;
  for (int c = 0; c < p.contour_count; ++c) {
    Ring r(p.contour[c].vertex, p.contour[c].vertex + p.contour[c].vertex_count);
    sum += testsupport::TwiceSignedArea(r) / 2;
  }
  return sum;
}

constexpr const char* kOpNames[] = {"difference", "intersection", "xor", "union"};

struct ClipCase {
  const char* name;
  gpc_op op;
  Rings subject;
  Rings clip;
  std::vector<int32_t> holes;  // the result's hole flags, one per contour
  double area;                 // outer areas less hole areas
};

TEST(PolygonClip, EdgeCases) {
  const Ring unit = Square(0, 0, 1);
  // clang-format off
  const std::vector<ClipCase> cases = {
      {"union with an empty clip keeps the subject", GPC_UNION, {unit}, {}, {0}, 1},
      {"union of an empty subject gives the clip", GPC_UNION, {}, {unit}, {0}, 1},
      {"intersection with an empty clip is empty", GPC_INTERSECTION, {unit}, {}, {}, 0},
      {"empty subject minus a square is empty", GPC_DIFFERENCE, {}, {unit}, {}, 0},
      {"square minus an empty clip is the square", GPC_DIFFERENCE, {unit}, {}, {0}, 1},
      {"two empty polygons give nothing", GPC_XOR, {}, {}, {}, 0},
      {"difference of disjoint squares is the subject", GPC_DIFFERENCE, {unit},
       {Square(5, 5, 1)}, {0}, 1},
      {"intersection of disjoint squares is empty", GPC_INTERSECTION, {unit},
       {Square(5, 5, 1)}, {}, 0},
      {"union of disjoint squares keeps both", GPC_UNION, {unit}, {Square(5, 5, 1)}, {0, 0}, 2},
      {"union of squares sharing an edge is one contour", GPC_UNION, {unit}, {Square(1, 0, 1)},
       {0}, 2},
      {"intersection of squares sharing an edge is empty", GPC_INTERSECTION, {unit},
       {Square(1, 0, 1)}, {}, 0},
      {"union of squares sharing part of an edge", GPC_UNION, {unit}, {Square(1, 0.5, 1)}, {0},
       2},
      {"union of squares touching at a corner gives two contours", GPC_UNION, {unit},
       {Square(1, 1, 1)}, {0, 0}, 2},
      {"square minus a square inside it has a hole", GPC_DIFFERENCE, {Square(0, 0, 4)},
       {Square(1, 1, 2)}, {0, 1}, 12},
      {"two rings of one polygon make a square with a hole", GPC_UNION,
       {Square(0, 0, 4), Square(1, 1, 2)}, {}, {0, 1}, 12},
      {"intersection of overlapping squares", GPC_INTERSECTION, {Square(0, 0, 2)},
       {Square(1, 1, 2)}, {0}, 1},
      {"xor of overlapping squares", GPC_XOR, {Square(0, 0, 2)}, {Square(1, 1, 2)}, {0, 0}, 6},
      {"xor of a square with itself is empty", GPC_XOR, {unit}, {unit}, {}, 0},
      {"intersection of a square with itself is the square", GPC_INTERSECTION, {unit}, {unit},
       {0}, 1},
      {"a contour of two vertices is skipped", GPC_UNION, {unit, {{3, 3}, {4, 4}}}, {}, {0}, 1},
      {"a contour with a NaN is skipped", GPC_UNION,
       {unit, {{3, 3}, {4, std::numeric_limits<double>::quiet_NaN()}, {3, 4}}}, {}, {0}, 1},
      {"a zero-width spike adds nothing", GPC_UNION, {{{0, 0}, {1, 0}, {1, 1}, {1, 3}, {1, 1}, {0, 1}}},
       {}, {0}, 1},
  };
  // clang-format on
  for (const ClipCase& c : cases) {
    SCOPED_TRACE(c.name);
    GpcView s(c.subject), k(c.clip);
    GpcResult r;
    gpc_polygon_clip(c.op, c.subject.empty() ? nullptr : s.get(), k.get(), &r.polygon);
    ASSERT_EQ(r.polygon.contour_count, static_cast<int>(c.holes.size()));
    for (size_t i = 0; i < c.holes.size(); ++i) EXPECT_EQ(r.polygon.hole[i], c.holes[i]);
    EXPECT_NEAR(RegionArea(r.polygon), c.area, 1e-12);
    if (c.holes.empty()) {
      EXPECT_EQ(static_cast<const void*>(r.polygon.hole), nullptr);
      EXPECT_EQ(static_cast<const void*>(r.polygon.contour), nullptr);
    }
  }
}

TEST(PolygonClip, ResultsHaveNoNeedlessVertices) {
  // The edge-sharing union is the 2 x 1 rectangle itself; a vertex inside a
  // horizontal run of the input is dropped too.
  struct {
    const char* name;
    Rings subject, clip;
    std::vector<gpc_vertex> want;  // counter-clockwise from any vertex
  } cases[] = {
      {"shared edge", {Square(0, 0, 1)}, {Square(1, 0, 1)}, {{0, 0}, {2, 0}, {2, 1}, {0, 1}}},
      {"vertex on a horizontal run",
       {{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {0, 1}}},
       {},
       {{0, 0}, {2, 0}, {2, 1}, {0, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GpcView s(c.subject), k(c.clip);
    GpcResult r;
    gpc_polygon_clip(GPC_UNION, s.get(), k.get(), &r.polygon);
    ASSERT_EQ(r.polygon.contour_count, 1);
    Ring got = r.rings()[0];
    ASSERT_EQ(got.size(), c.want.size());
    size_t shift = 0;
    while (shift < got.size() && (got[shift].x != c.want[0].x || got[shift].y != c.want[0].y)) {
      ++shift;
    }
    ASSERT_LT(shift, got.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[(i + shift) % got.size()].x, c.want[i].x);
      EXPECT_EQ(got[(i + shift) % got.size()].y, c.want[i].y);
    }
  }
}

TEST(PolygonClip, ContoursComeInTheOrderTheSweepStartsThem) {
  Rings subject = {Square(0, 10, 1), Square(0, 0, 1), Square(5, 0, 1)};
  GpcView s(subject);
  GpcResult r;
  gpc_polygon_clip(GPC_UNION, s.get(), nullptr, &r.polygon);
  ASSERT_EQ(r.polygon.contour_count, 3);
  double lowest[3];
  for (int c = 0; c < 3; ++c) {
    lowest[c] = 1e9;
    for (int i = 0; i < r.polygon.contour[c].vertex_count; ++i) {
      lowest[c] = std::min(lowest[c], r.polygon.contour[c].vertex[i].y);
    }
  }
  EXPECT_EQ(lowest[0], 0);
  EXPECT_EQ(lowest[1], 0);
  EXPECT_EQ(lowest[2], 10);
  EXPECT_LT(r.polygon.contour[0].vertex[0].x, r.polygon.contour[1].vertex[0].x);
}

// Records built with the plain allocator, as callers hand them over.
gpc_polygon AllocatedSquare(double x, double y, double side) {
  gpc_polygon p;
  p.contour_count = 1;
  p.hole = static_cast<int32_t*>(std::malloc(sizeof(int32_t)));
  p.hole[0] = 0;
  p.contour = static_cast<gpc_vertex_list*>(std::malloc(sizeof(gpc_vertex_list)));
  p.contour[0].vertex_count = 4;
  p.contour[0].vertex = static_cast<gpc_vertex*>(std::malloc(4 * sizeof(gpc_vertex)));
  Ring sq = Square(x, y, side);
  for (int i = 0; i < 4; ++i) p.contour[0].vertex[i] = sq[i];
  return p;
}

TEST(PolygonClip, ResultInPlaceOfAnInputFreesThatInput) {
  // The sanitizer run shows a leak or a double free if either goes wrong.
  for (gpc_op op : {GPC_UNION, GPC_INTERSECTION, GPC_DIFFERENCE, GPC_XOR}) {
    SCOPED_TRACE(kOpNames[op]);
    gpc_polygon subject = AllocatedSquare(0, 0, 2), clip = AllocatedSquare(1, 1, 2);
    gpc_polygon_clip(op, &subject, &clip, &subject);
    double want[] = {3, 1, 6, 7};
    EXPECT_NEAR(RegionArea(subject), want[op], 1e-12);
    gpc_polygon_clip(op, &subject, &clip, &clip);
    gpc_free_polygon(&subject);
    gpc_free_polygon(&clip);
  }
  gpc_polygon same = AllocatedSquare(0, 0, 1);
  gpc_polygon_clip(GPC_INTERSECTION, &same, &same, &same);
  EXPECT_NEAR(RegionArea(same), 1, 1e-12);
  gpc_free_polygon(&same);
}

TEST(PolygonClip, InitAndFreeLeaveAnEmptyRecord) {
  gpc_polygon p = AllocatedSquare(0, 0, 1);
  gpc_free_polygon(&p);
  EXPECT_EQ(p.contour_count, 0);
  EXPECT_EQ(static_cast<const void*>(p.hole), nullptr);
  EXPECT_EQ(static_cast<const void*>(p.contour), nullptr);
  gpc_free_polygon(&p);  // a second free is harmless
  std::memset(&p, 0x5a, sizeof p);
  gpc_init_polygon(&p);
  EXPECT_EQ(p.contour_count, 0);
  EXPECT_EQ(static_cast<const void*>(p.hole), nullptr);
  EXPECT_EQ(static_cast<const void*>(p.contour), nullptr);
}

TEST(PolygonClip, DamagedRecordsGiveNoCrash) {
  gpc_vertex v[3] = {{0, 0}, {1, 0}, {0, 1}};
  gpc_vertex_list lists[3] = {{-5, v}, {3, nullptr}, {3, v}};
  int32_t holes[3] = {0, 0, 0};
  gpc_polygon p = {3, holes, lists};
  GpcResult r;
  gpc_polygon_clip(GPC_UNION, &p, &p, &r.polygon);
  ASSERT_EQ(r.polygon.contour_count, 1);  // the one whole contour, met by itself
  EXPECT_NEAR(RegionArea(r.polygon), 0.5, 1e-12);
  // Coordinates at the ends of the double range overflow inside the sweep.
  Rings huge = {{{-1e308, -1e308}, {1e308, -1e308}, {1e308, 1e308}, {-1e308, 1e308}},
                {{-1e308, 1e308}, {1e308, -1e308}, {1e308, 1e308}}};
  GpcView h(huge);
  for (gpc_op op : {GPC_DIFFERENCE, GPC_INTERSECTION, GPC_XOR, GPC_UNION}) {
    GpcResult big;
    gpc_polygon_clip(op, h.get(), h.get(), &big.polygon);
  }
  gpc_polygon untouched = {7, nullptr, nullptr};
  gpc_polygon_clip(static_cast<gpc_op>(9), &p, &p, &untouched);
  EXPECT_EQ(untouched.contour_count, 7);
  gpc_polygon_clip(GPC_UNION, &p, &p, nullptr);
}

// ---- Against GEOS ----------------------------------------------------------

void ExpectAllOperationsMatch(const Geos& geos, const Rings& a, const Rings& b,
                              const std::string& label) {
  Geos::Geom regionA = testsupport::RegionOf(geos, a), regionB = testsupport::RegionOf(geos, b);
  for (gpc_op op : {GPC_DIFFERENCE, GPC_INTERSECTION, GPC_XOR, GPC_UNION}) {
    std::string problem = CompareWithGeos(geos, op, a, b, regionA.get(), regionB.get());
    EXPECT_EQ(problem, "") << label << ", " << kOpNames[op];
  }
}

TEST(PolygonClipOracle, RandomStarsAgreeWithGeos) {
  Geos geos;
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<int> vertices(4, 120);
  std::uniform_real_distribution<double> offset(-1.0, 1.0);
  for (int pair = 0; pair < 150; ++pair) {
    Rings a = {testsupport::StarRing(rng, vertices(rng), 0, 0, 0.3, 1.0)};
    Rings b = {testsupport::StarRing(rng, vertices(rng), offset(rng), offset(rng), 0.3, 1.0)};
    ExpectAllOperationsMatch(geos, a, b, "pair " + std::to_string(pair));
  }
}

TEST(PolygonClipOracle, RandomStarsWithHolesAgreeWithGeos) {
  Geos geos;
  std::mt19937_64 rng(77);
  std::uniform_int_distribution<int> vertices(12, 60);
  std::uniform_real_distribution<double> offset(-0.8, 0.8);
  for (int pair = 0; pair < 80; ++pair) {
    double cx = offset(rng), cy = offset(rng);
    Rings a = {testsupport::StarRing(rng, vertices(rng), 0, 0, 0.6, 1.0),
               testsupport::StarRing(rng, vertices(rng), 0, 0, 0.1, 0.5)};
    Rings b = {testsupport::StarRing(rng, vertices(rng), cx, cy, 0.6, 1.0),
               testsupport::StarRing(rng, vertices(rng), cx, cy, 0.1, 0.5)};
    ExpectAllOperationsMatch(geos, a, b, "pair " + std::to_string(pair));
  }
}

TEST(PolygonClipOracle, GridCellsWithSharedEdgesAgreeWithGeos) {
  Geos geos;
  std::mt19937_64 rng(5);
  for (int pair = 0; pair < 80; ++pair) {
    Rings a = testsupport::GridCells(rng, 6, 0.5), b = testsupport::GridCells(rng, 6, 0.5);
    ExpectAllOperationsMatch(geos, a, b, "pair " + std::to_string(pair));
  }
}

TEST(PolygonClipOracle, SelfCrossingRingsAgreeWithGeosByEvenOdd) {
  Geos geos;
  std::mt19937_64 rng(3141);
  std::uniform_int_distribution<int> vertices(3, 25);
  for (int pair = 0; pair < 80; ++pair) {
    Rings a = {testsupport::ScribbleRing(rng, vertices(rng), 1.0)};
    Rings b = {testsupport::ScribbleRing(rng, vertices(rng), 1.0),
               testsupport::ScribbleRing(rng, vertices(rng), 1.0)};
    ExpectAllOperationsMatch(geos, a, b, "pair " + std::to_string(pair));
  }
}

std::vector<Rings> NcCounties() {
  std::vector<testsupport::ShpShape> shapes;
  std::string error;
  EXPECT_TRUE(testsupport::ReadShpRings(testsupport::SharedDataPath("nc/nc.shp"), &shapes, &error))
      << error;
  std::vector<Rings> counties;
  for (const auto& shape : shapes) {
    Rings rings;
    for (const auto& ring : shape.rings) {
      Ring r;
      for (const auto& p : testsupport::WithoutClosingPoint(ring))
        r.push_back({p.x / 1e6, p.y / 1e6});
      rings.push_back(std::move(r));
    }
    counties.push_back(std::move(rings));
  }
  return counties;
}

TEST(PolygonClipOracle, NcCountiesAgreeWithGeos) {
  Geos geos;
  std::vector<Rings> counties = NcCounties();
  ASSERT_EQ(counties.size(), 100u);
  struct Extent {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
  };
  std::vector<Extent> boxes(counties.size());
  for (size_t i = 0; i < counties.size(); ++i) {
    for (const Ring& r : counties[i]) {
      for (const gpc_vertex& p : r) {
        boxes[i].x0 = std::min(boxes[i].x0, p.x);
        boxes[i].y0 = std::min(boxes[i].y0, p.y);
        boxes[i].x1 = std::max(boxes[i].x1, p.x);
        boxes[i].y1 = std::max(boxes[i].y1, p.y);
      }
    }
  }
  // Neighbours: their shared borders are runs of common vertices.
  int neighbours = 0;
  for (size_t i = 0; i < counties.size() && neighbours < 120; ++i) {
    for (size_t j = i + 1; j < counties.size() && neighbours < 120; ++j) {
      if (boxes[i].x0 > boxes[j].x1 || boxes[j].x0 > boxes[i].x1 || boxes[i].y0 > boxes[j].y1 ||
          boxes[j].y0 > boxes[i].y1) {
        continue;
      }
      ++neighbours;
      ExpectAllOperationsMatch(geos, counties[i], counties[j],
                               "counties " + std::to_string(i) + " and " + std::to_string(j));
    }
  }
  EXPECT_EQ(neighbours, 120);
  // Counties moved onto each other's centre overlap in general position.
  for (size_t i = 0; i + 1 < counties.size(); i += 2) {
    size_t j = (i * 37 + 11) % counties.size();
    double dx = (boxes[i].x0 + boxes[i].x1 - boxes[j].x0 - boxes[j].x1) / 2;
    double dy = (boxes[i].y0 + boxes[i].y1 - boxes[j].y0 - boxes[j].y1) / 2;
    Rings moved = counties[j];
    for (Ring& r : moved) {
      for (gpc_vertex& p : r) {
        p.x += dx;
        p.y += dy;
      }
    }
    ExpectAllOperationsMatch(geos, counties[i], moved,
                             "county " + std::to_string(i) + " and moved " + std::to_string(j));
  }
}

}  // namespace
