#include "mapfile/objects/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "tests/mapfile/objects/geom_fixture.h"
#include "mapfile/objects/predicates.h"
#include "support/geos_oracle.h"

namespace layerio {
namespace {

using Ring = std::vector<IPoint>;
using XY = std::pair<int32_t, int32_t>;

XY P(const IPoint& p) { return {p.x, p.y}; }

// A w x h rectangle with its lower left corner at (x, y), counter-clockwise.
Ring Box(int32_t x, int32_t y, int32_t w, int32_t h) {
  return {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
}

class GeometryTest : public objtest::GeomHeapTest {
 protected:
  // Parts laid out in the given order (regions closed by the model); bounds
  // computed, nothing sorted.
  GeomObject* Poly(int kind, const std::vector<Ring>& rings) {
    GeomObject* o = New(kind);
    std::vector<int32_t> counts;
    Ring all;
    for (const Ring& r : rings) {
      counts.push_back(int32_t(r.size()));
      all.insert(all.end(), r.begin(), r.end());
    }
    EXPECT_TRUE(GeomPartsSetAll(o, uint32_t(counts.size()), counts.data(), all.data(), nullptr,
                                nullptr));
    GeomObjectComputeBounds(o);
    return o;
  }

  // The parts by their first point, in stored order.
  static std::vector<XY> FirstPoints(const GeomObject* o) {
    std::vector<XY> out;
    const GeomPart* parts = GeomParts(o);
    for (uint32_t i = 0; i < o->u.poly.partCount; ++i) {
      out.push_back(P(GeomPartPoints(o, &parts[i])[0]));
    }
    return out;
  }
  static std::vector<uint32_t> Following(const GeomObject* o) {
    std::vector<uint32_t> out;
    const GeomPart* parts = GeomParts(o);
    for (uint32_t i = 0; i < o->u.poly.partCount; ++i) out.push_back(parts[i].following);
    return out;
  }
};

// ----- part order -----

// Rings of the given areas (0: a flat ring), side by side so none nests.
std::vector<Ring> RingsOfAreas(const std::vector<int>& areas) {
  std::vector<Ring> rings;
  int32_t x = 0;
  for (int a : areas) {
    if (a == 0) {
      rings.push_back({{x, 0}, {x + 1, 0}, {x + 2, 0}});
    } else {
      rings.push_back(Box(x, 0, a, 1));
    }
    x += std::max(a, 2) + 10;
  }
  return rings;
}

// The order a selection sort with swaps gives: indexes into the input.
std::vector<int> SelectionOrder(const std::vector<int>& measures, bool everyPosition) {
  std::vector<int> index(measures.size());
  for (size_t i = 0; i < index.size(); ++i) index[i] = int(i);
  std::vector<int> m = measures;
  for (size_t at = 0; at < m.size(); ++at) {
    int best = 0;
    size_t pick = m.size();
    for (size_t k = at; k < m.size(); ++k) {
      if (m[k] > best) {
        best = m[k];
        pick = k;
      }
    }
    if (pick != m.size()) {
      std::swap(m[at], m[pick]);
      std::swap(index[at], index[pick]);
    }
    if (!everyPosition) break;
  }
  return index;
}

TEST_F(GeometryTest, RegionRingsSortInTheOrderOfSwaps) {
  struct Case {
    std::vector<int> areas;
    std::vector<int> order;  // input indexes
    int moved;
  };
  const Case cases[] = {
      {{5, 9, 9}, {1, 2, 0}, 1},      // the first of two equal rings leads
      {{2, 1, 2, 3}, {3, 2, 0, 1}, 1},  // 2a, 1, 2b, 3 -> 3, 2b, 2a, 1 (not stable)
      {{0, 4, 0, 2}, {1, 3, 2, 0}, 1},  // flat rings are never picked
      {{9, 5, 1}, {0, 1, 2}, 0},
      {{3}, {0}, 0},
  };
  for (const Case& c : cases) {
    std::vector<Ring> rings = RingsOfAreas(c.areas);
    GeomObject* o = Poly(kGeomRegion, rings);
    EXPECT_EQ(GeomPartsSortBySize(o, 0), c.moved);
    std::vector<XY> want;
    for (int i : c.order) want.push_back(P(rings[i][0]));
    EXPECT_EQ(FirstPoints(o), want) << "areas " << c.areas.size();
  }
}

TEST_F(GeometryTest, LargeSortsMatchTheSelectionSortWithManyTies) {
  std::mt19937 random(7);
  for (int kind : {kGeomRegion, kGeomPolyline}) {
    for (int round = 0; round < 5; ++round) {
      std::vector<int> areas(300);
      for (int& a : areas) a = int(random() % 6);  // many ties and flat rings
      std::vector<Ring> rings = RingsOfAreas(areas);
      GeomObject* o = Poly(kind, rings);
      std::vector<int> lengths = areas;
      if (kind == kGeomPolyline) {
        // As polylines the parts measure 2a + 1 (an open box) or 2 (flat ring).
        for (int& l : lengths) l = l == 0 ? 2 : 2 * l + 1;
      }
      GeomPartsSortBySize(o, 0);
      std::vector<XY> want;
      for (int i : SelectionOrder(lengths, kind == kGeomRegion)) want.push_back(P(rings[i][0]));
      EXPECT_EQ(FirstPoints(o), want);
    }
  }
}

TEST_F(GeometryTest, PolylineOnlyTheLongestPartMovesToTheFront) {
  GeomObject* o = Poly(kGeomPolyline, {{{0, 0}, {3, 0}}, {{0, 10}, {7, 10}}, {{0, 20}, {5, 20}}});
  EXPECT_EQ(GeomPartsSortBySize(o, 0), 1);
  EXPECT_EQ(FirstPoints(o), (std::vector<XY>{{0, 10}, {0, 0}, {0, 20}}));
  EXPECT_FALSE(GeomPartsContiguous(o));  // only the headers moved
}

TEST_F(GeometryTest, GroupSortMovesTheLargestGroupWhole) {
  GeomObject* o = Poly(kGeomRegion, {Box(0, 0, 2, 2), Box(10, 0, 1, 1), Box(20, 0, 5, 5),
                                     Box(21, 1, 1, 1), Box(40, 0, 3, 3)});
  GeomPart* parts = GeomParts(o);
  parts[2].following = 1;
  EXPECT_EQ(GeomPartsSortBySize(o, 1), 1);
  EXPECT_EQ(FirstPoints(o), (std::vector<XY>{{20, 0}, {21, 1}, {0, 0}, {10, 0}, {40, 0}}));
}

// ----- ring nesting -----

TEST_F(GeometryTest, RingsNestIntoOuterRingsAndHoles) {
  struct Case {
    std::vector<Ring> rings;
    std::vector<XY> order;
    std::vector<uint32_t> following;
  };
  const Case cases[] = {
      // An island in a hole is an outer ring of its own.
      {{Box(40, 40, 20, 20), Box(0, 0, 100, 100), Box(20, 20, 60, 60)},
       {{0, 0}, {20, 20}, {40, 40}},
       {1, 0, 0}},
      // Two outer rings with their holes; holes keep their order.
      {{Box(0, 0, 100, 100), Box(200, 0, 50, 50), Box(10, 10, 40, 40), Box(210, 10, 20, 20),
        Box(60, 60, 30, 30)},
       {{0, 0}, {10, 10}, {60, 60}, {200, 0}, {210, 10}},
       {2, 0, 0, 1, 0}},
      // A ring whose bounds lie inside another's but which crosses it is not a hole.
      {{{{0, 0}, {100, 0}, {100, 100}, {50, 10}, {0, 100}}, Box(40, 50, 20, 20)},
       {{0, 0}, {40, 50}},
       {0, 0}},
  };
  for (const Case& c : cases) {
    GeomObject* o = Poly(kGeomRegion, c.rings);
    GeomPartsSortBySize(o, 0);
    GeomRingNesting(o);
    EXPECT_EQ(FirstPoints(o), c.order);
    EXPECT_EQ(Following(o), c.following);
  }
}

TEST_F(GeometryTest, ARingTakenAsAHoleHeadsNoGroup) {
  // Normalised once as two outer rings, then a ring around both is added.
  GeomObject* o = Poly(kGeomRegion, {Box(-100, -100, 400, 400), Box(0, 0, 100, 100),
                                     Box(10, 10, 20, 20), Box(150, 0, 10, 10)});
  GeomParts(o)[1].following = 1;  // stale from an earlier nesting
  EXPECT_EQ(GeomRingNesting(o), 1);
  EXPECT_EQ(FirstPoints(o), (std::vector<XY>{{-100, -100}, {0, 0}, {150, 0}, {10, 10}}));
  EXPECT_EQ(Following(o), (std::vector<uint32_t>{2, 0, 0, 0}));
  EXPECT_EQ(GeomRingNesting(o), 0);
}

// The nesting as the headers would be shifted one by one.
std::vector<std::pair<int, uint32_t>> ReferenceNesting(std::vector<Ring> rings,
                                                       const GeomObject* o) {
  const GeomPart* parts = GeomParts(o);
  std::vector<GeomPart> h(parts, parts + o->u.poly.partCount);
  std::vector<int> id(h.size());
  for (size_t i = 0; i < id.size(); ++i) id[i] = int(i);
  auto inside = [&](const GeomPart& j, const GeomPart& i) {
    if (!IRectInside(&j.bounds, &i.bounds)) return false;
    const IPoint* p = GeomPartPoints(o, &j);
    for (int k = 0; k < j.pointCount; ++k) {
      if (!GeomPointInRing(&p[k], o, &i)) return false;
    }
    return true;
  };
  std::vector<uint32_t> following(h.size(), 0);
  size_t i = 0;
  while (h.size() - i >= 2) {
    uint32_t holes = 0;
    for (size_t j = i + 1; j < h.size(); ++j) {
      if (j <= i + holes) continue;
      if (!inside(h[j], h[i])) continue;
      bool island = false;
      for (size_t k = i + 1; k <= i + holes; ++k) island = island || inside(h[j], h[k]);
      if (island) continue;
      GeomPart moved = h[j];
      int movedId = id[j];
      for (size_t k = j; k > i + 1 + holes; --k) {
        h[k] = h[k - 1];
        id[k] = id[k - 1];
      }
      h[i + 1 + holes] = moved;
      id[i + 1 + holes] = movedId;
      ++holes;
    }
    following[i] = holes;
    i += 1 + holes;
  }
  std::vector<std::pair<int, uint32_t>> out;
  for (size_t k = 0; k < h.size(); ++k) out.push_back({id[k], following[k]});
  (void)rings;
  return out;
}

TEST_F(GeometryTest, NestingMatchesTheHeaderShiftingWalkOnRandomSquares) {
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    std::vector<Ring> rings;
    for (int k = 0; k < 60; ++k) {
      int32_t s = int32_t(5 + random() % 60);
      rings.push_back(Box(int32_t(random() % 200), int32_t(random() % 200), s, s));
    }
    GeomObject* o = Poly(kGeomRegion, rings);
    GeomPartsSortBySize(o, 0);
    // Identify rings by their position after the sort.
    std::vector<XY> sorted = FirstPoints(o);
    auto want = ReferenceNesting(rings, o);
    GeomRingNesting(o);
    std::vector<XY> got = FirstPoints(o);
    std::vector<uint32_t> following = Following(o);
    ASSERT_EQ(got.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
      EXPECT_EQ(got[k], sorted[size_t(want[k].first)]) << "round " << round << " at " << k;
      EXPECT_EQ(following[k], want[k].second) << "round " << round << " at " << k;
    }
  }
}

// ----- centroids -----

TEST_F(GeometryTest, RegionCentroidScansAcrossNotchesAndHoles) {
  struct Case {
    std::vector<Ring> rings;
    XY centroid;
  };
  const Case cases[] = {
      // U: the bounds centre lies in the notch; crossings at 0 and 48.
      {{{{0, 0}, {100, 0}, {100, 100}, {60, 100}, {50, 40}, {40, 100}, {0, 100}}}, {24, 50}},
      // The scan line passes through the vertex (0, 50): counted once.
      {{{{10, 0}, {100, 0}, {100, 100}, {60, 100}, {50, 40}, {40, 100}, {10, 100}, {0, 50}}},
       {24, 50}},
      // The centre falls in a hole: crossings of the outer ring and hole, 0 and 25.
      {{Box(0, 0, 100, 100), Box(25, 25, 50, 50)}, {12, 50}},
      // Negative crossings halve toward zero.
      {{Box(-101, 0, 200, 100), Box(-50, 25, 100, 50)}, {-75, 50}},
      // Centre inside: kept.
      {{Box(0, 0, 100, 100), Box(10, 10, 20, 20)}, {50, 50}},
  };
  for (const Case& c : cases) {
    GeomObject* o = Poly(kGeomRegion, c.rings);
    GeomObjectNormalize(o, 1);
    EXPECT_EQ(P(o->u.poly.centroid), c.centroid);
  }
}

TEST_F(GeometryTest, NormalizeKeepsACentroidInsideUnlessAskedToRecompute) {
  GeomObject* o = Poly(kGeomRegion, {Box(0, 0, 100, 100)});
  IPoint inside{10, 90}, outside{500, 500};
  EXPECT_TRUE(GeomObjectSetCentroid(o, &inside, 1));
  EXPECT_FALSE(GeomObjectSetCentroid(o, &outside, 1));
  GeomObjectNormalize(o, 0);
  EXPECT_EQ(P(o->u.poly.centroid), (XY{10, 90}));
  GeomObjectNormalize(o, 1);
  EXPECT_EQ(P(o->u.poly.centroid), (XY{50, 50}));
  EXPECT_TRUE(GeomObjectSetCentroid(o, &outside, 0));
  GeomObjectNormalize(o, 0);
  EXPECT_EQ(P(o->u.poly.centroid), (XY{50, 50}));
}

TEST_F(GeometryTest, PolylineAndMultipointCentroids) {
  GeomObject* even = Poly(kGeomPolyline, {{{0, 0}, {10, 0}, {20, 10}, {40, 10}}});
  GeomObject* odd = Poly(kGeomPolyline, {{{0, 0}, {10, 0}, {20, 10}}});
  EXPECT_EQ(GeomObjectNormalize(even, 0), 0);
  GeomObjectNormalize(odd, 0);
  EXPECT_EQ(P(even->u.poly.centroid), (XY{15, 5}));
  EXPECT_EQ(P(odd->u.poly.centroid), (XY{10, 0}));

  GeomObject* m = New(kGeomMultipoint);
  Ring pts = {{0, 0}, {10, 0}, {0, 10}, {10, 10}, {100, 100}};  // mean (24, 24)
  ASSERT_TRUE(GeomMultipointAddPoints(m, int32_t(pts.size()), pts.data(), nullptr, nullptr));
  EXPECT_EQ(GeomObjectNormalize(m, 0), 1);
  EXPECT_EQ(P(m->u.multipoint.centroid), (XY{10, 10}));
  EXPECT_EQ(m->bounds.x2, 100);
  GeomObject* tie = New(kGeomMultipoint);
  Ring two = {{0, 0}, {10, 0}};
  ASSERT_TRUE(GeomMultipointAddPoints(tie, 2, two.data(), nullptr, nullptr));
  GeomObjectNormalize(tie, 0);
  EXPECT_EQ(P(tie->u.multipoint.centroid), (XY{0, 0}));  // the first of equals
}

// ----- scan crossings -----

TEST_F(GeometryTest, ScanCrossCountsTheLowerEndOutAndTheUpperEndIn) {
  struct Case {
    int32_t y;
    IPoint p, q;
    int crosses;
    int32_t x;
  };
  const Case cases[] = {
      {5, {0, 0}, {10, 10}, 1, 5},   {0, {0, 0}, {10, 10}, 0, 0},  // lower end excluded
      {10, {0, 0}, {10, 10}, 1, 10},                               // upper end included
      {10, {10, 10}, {0, 0}, 1, 10}, {5, {0, 5}, {10, 5}, 0, 0},   // horizontal
      {1, {0, 0}, {-10, 3}, 1, -3},                                // truncated toward zero
      {2, {0, 0}, {10, 3}, 1, 6},
  };
  for (const Case& c : cases) {
    int32_t x = 0;
    EXPECT_EQ(GeomScanCross(c.y, &c.p, &c.q, &x), c.crosses);
    if (c.crosses) {
      EXPECT_EQ(x, c.x);
    }
  }
}

// ----- shape points -----

TEST_F(GeometryTest, ArcPointsRunThroughEachQuadrant) {
  struct Case {
    int16_t start, end;
    int32_t count;
    XY first, last;
    int sx, sy;  // signs of the points about the centre (0: either)
  };
  const Case cases[] = {
      {0, 900, 27, {1000, 0}, {0, 500}, 1, 1},
      {900, 1800, 27, {0, 500}, {-1000, 0}, -1, 1},
      {1800, 2700, 27, {-1000, 0}, {0, -500}, -1, -1},
      {2700, 0, 27, {0, -500}, {1000, 0}, 1, -1},  // end below start: through 0
      {3150, 450, 27, {707, -354}, {707, 354}, 1, 0},
      {0, 1800, 52, {1000, 0}, {-1000, 0}, 0, 1},
  };
  for (const Case& c : cases) {
    GeomObject* arc = New(kGeomArc);
    arc->u.arc.ellipse = IRect{-1000, -500, 1000, 500};
    arc->u.arc.startAngle = c.start;
    arc->u.arc.endAngle = c.end;
    IPoint* pts = nullptr;
    void* buffer = nullptr;
    int32_t n = GeomArcPoints(arc, 100, &pts, &buffer);
    ASSERT_EQ(n, c.count) << c.start;
    EXPECT_EQ(P(pts[0]), c.first) << c.start;
    EXPECT_EQ(P(pts[n - 1]), c.last) << c.start;
    for (int32_t k = 0; k < n; ++k) {
      if (c.sx) {
        EXPECT_GE(c.sx * pts[k].x, 0) << c.start << " " << k;
      }
      if (c.sy) {
        EXPECT_GE(c.sy * pts[k].y, 0) << c.start << " " << k;
      }
      double e = std::pow(pts[k].x / 1000.0, 2) + std::pow(pts[k].y / 500.0, 2);
      EXPECT_NEAR(e, 1.0, 0.003);
    }
    MemFreePtr(&buffer);
  }
}

TEST_F(GeometryTest, ShapePointsOfLinesRectanglesAndEllipses) {
  void* buffer = nullptr;
  IPoint* pts;
  GeomObject* line = New(kGeomLine);
  line->u.line = GeomLineFields{1, 2, 3, 4};
  ASSERT_EQ(GeomShapePoints(&pts, &buffer, line, 1, 100), 2);
  EXPECT_EQ(P(pts[1]), (XY{3, 4}));

  GeomObject* rect = New(kGeomRoundRect);
  rect->bounds = IRect{0, 0, 10, 20};
  rect->u.roundRect.corner = 5;  // the corners stay square
  ASSERT_EQ(GeomShapePoints(&pts, &buffer, rect, 0, 100), 5);
  EXPECT_EQ(P(pts[2]), (XY{10, 20}));
  EXPECT_EQ(P(pts[4]), (XY{0, 0}));
  EXPECT_EQ(GeomShapePoints(&pts, &buffer, rect, 1, 100), 4);

  GeomObject* ellipse = New(kGeomEllipse);
  ellipse->bounds = IRect{-100, -100, 100, 100};
  ASSERT_EQ(GeomShapePoints(&pts, &buffer, ellipse, 0, 100), 102);
  EXPECT_EQ(P(pts[0]), P(pts[101]));  // closed
  EXPECT_EQ(GeomShapePoints(&pts, &buffer, ellipse, 1, 100), 101);
  EXPECT_EQ(GeomShapePoints(&pts, &buffer, ellipse, 0, 1), 0);
  EXPECT_EQ(GeomShapePoints(&pts, &buffer, New(kGeomText), 0, 100), 0);
  MemFreePtr(&buffer);
}

TEST_F(GeometryTest, PointInEllipseAndObject) {
  GeomObject* e = New(kGeomEllipse);
  e->bounds = IRect{0, 0, 200, 100};
  const std::pair<IPoint, int> ellipseCases[] = {
      {{100, 50}, 1}, {{199, 50}, 1}, {{200, 50}, 0}, {{0, 0}, 0}, {{190, 80}, 0}};
  for (const auto& [p, in] : ellipseCases) {
    EXPECT_EQ(GeomPointInEllipse(&p, e), in) << p.x << "," << p.y;
    EXPECT_EQ(GeomPointInObject(&p, e), in) << p.x << "," << p.y;
  }
  GeomObject* flat = New(kGeomEllipse);
  flat->bounds = IRect{0, 0, 200, 0};
  IPoint c{100, 0};
  EXPECT_EQ(GeomPointInEllipse(&c, flat), 0);

  GeomObject* r = Poly(kGeomRegion, {Box(0, 0, 100, 100), Box(25, 25, 50, 50)});
  GeomObjectNormalize(r, 1);
  IPoint hole{50, 50}, solid{10, 10}, edge{100, 100}, far{101, 50};
  EXPECT_EQ(GeomPointInObject(&hole, r), 0);
  EXPECT_EQ(GeomPointInObject(&solid, r), 1);
  EXPECT_EQ(GeomPointInObject(&edge, r), 1);
  EXPECT_EQ(GeomPointInObject(&far, r), 0);
  GeomObject* rect = New(kGeomRect);
  rect->bounds = IRect{0, 0, 10, 10};
  EXPECT_EQ(GeomPointInObject(&edge, rect), 0);
  EXPECT_EQ(GeomPointInObject(&solid, rect), 1);
  GeomObject* line = Poly(kGeomPolyline, {Box(0, 0, 100, 100)});
  EXPECT_EQ(GeomPointInObject(&solid, line), 0);
}

// ----- bounds, conversions and collections -----

TEST_F(GeometryTest, BoundsOfPartsObjectsAndEmptyObjects) {
  GeomObject* o = Poly(kGeomPolyline, {{{5, -3}, {9, 7}}, {{-2, 4}, {0, 0}}});
  EXPECT_EQ(GeomObjectComputeBounds(o), 1);
  EXPECT_EQ(o->bounds.x1, -2);
  EXPECT_EQ(o->bounds.y1, -3);
  EXPECT_EQ(o->bounds.x2, 9);
  EXPECT_EQ(o->bounds.y2, 7);
  EXPECT_EQ(GeomParts(o)[1].bounds.x2, 0);
  GeomObject* empty = New(kGeomMultipoint);
  empty->bounds = IRect{1, 2, 3, 4};
  GeomObjectComputeBounds(empty);
  EXPECT_TRUE(IRectIsZero(&empty->bounds));
  GeomObject* rect = New(kGeomRect);
  rect->bounds = IRect{1, 2, 3, 4};
  EXPECT_EQ(GeomObjectComputeBounds(rect), 0);
  EXPECT_EQ(rect->bounds.x2, 3);
}

TEST_F(GeometryTest, ShapesConvertToPolylinesAndRegions) {
  GeomObject* rect = New(kGeomRect);
  rect->bounds = IRect{0, 0, 10, 20};
  GeomObject* region = Keep(GeomObjectToPolyDefault(rect, 1));
  ASSERT_NE(region, nullptr);
  ASSERT_EQ(region->kind, kGeomRegion);
  ASSERT_EQ(region->u.poly.partCount, 1u);
  EXPECT_EQ(GeomParts(region)[0].pointCount, 5);  // closed once
  EXPECT_EQ(P(region->u.poly.centroid), (XY{5, 10}));
  EXPECT_EQ(region->bounds.y2, 20);

  GeomObject* arc = New(kGeomArc);
  arc->u.arc.ellipse = IRect{-1000, -1000, 1000, 1000};
  arc->u.arc.startAngle = 0;
  arc->u.arc.endAngle = 900;
  GeomObject* line = Keep(GeomObjectToPoly(arc, 0, 100));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->kind, kGeomPolyline);
  EXPECT_EQ(GeomParts(line)[0].pointCount, 27);
  GeomObject* text = New(kGeomText);
  EXPECT_EQ(GeomObjectToPolyDefault(text, 1), nullptr);

  // An open polyline part is closed as a ring; a closed one stays as it is.
  GeomObject* pl = Poly(kGeomPolyline, {{{0, 0}, {10, 0}, {10, 10}}, Box(20, 0, 30, 30)});
  GeomParts(pl)[1].pointCount = 4;
  GeomObject* closed = Poly(kGeomPolyline, {{{20, 0}, {50, 0}, {50, 30}, {20, 0}}});
  GeomObject* r1 = Keep(GeomPolyConvert(pl, 1));
  GeomObject* r2 = Keep(GeomPolyConvert(closed, 1));
  ASSERT_NE(r1, nullptr);
  ASSERT_NE(r2, nullptr);
  EXPECT_EQ(GeomParts(r1)[0].pointCount, 5);  // the larger ring now leads
  EXPECT_EQ(GeomParts(r1)[1].pointCount, 4);
  EXPECT_EQ(GeomParts(r2)[0].pointCount, 4);
  GeomObject* back = Keep(GeomPolyConvert(r2, 0));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->kind, kGeomPolyline);
  EXPECT_EQ(GeomParts(back)[0].pointCount, 4);
}

TEST_F(GeometryTest, PolyFromPointsTakesTheCentroidOfASourceOfItsKind) {
  GeomObject* source = Poly(kGeomRegion, {Box(0, 0, 100, 100)});
  IPoint c{20, 30};
  GeomObjectSetCentroid(source, &c, 0);
  Ring pts = Box(0, 0, 100, 100);
  GeomObject* o = Keep(GeomPolyFromPoints(pts.data(), int32_t(pts.size()), source, 1));
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(P(o->u.poly.centroid), (XY{20, 30}));
  EXPECT_EQ(GeomPolyFromPoints(pts.data(), 0, nullptr, 1), nullptr);
}

TEST_F(GeometryTest, CollectionBoundsFollowTheirParts) {
  GeomObject* col = New(kGeomCollection);
  GeomObject* rect = New(kGeomRect);
  rect->bounds = IRect{0, 0, 10, 10};
  GeomObject* line = New(kGeomLine);
  line->u.line = GeomLineFields{50, -5, 60, 5};
  line->bounds = IRect{50, -5, 60, 5};
  ASSERT_EQ(GeomCollectionAddObject(col, rect, 0), 1);
  EXPECT_EQ(col->bounds.x2, 10);
  ASSERT_EQ(GeomCollectionAddObject(col, line, 0), 1);
  EXPECT_EQ(col->bounds.x2, 60);
  EXPECT_EQ(col->bounds.y1, -5);
  EXPECT_EQ(GeomCollectionAddObject(col, rect, 0), 0);  // slot taken
  IPoint inside{5, 5};
  EXPECT_EQ(GeomPointInObject(&inside, col), 1);
}

// ----- areas and lengths against GEOS -----

Ring StarRing(std::mt19937& random, double cx, double cy, double rMin, double rMax, int n) {
  std::uniform_real_distribution<double> radius(rMin, rMax);
  Ring ring;
  for (int k = 0; k < n; ++k) {
    double a = 2 * std::numbers::pi * k / n;
    double r = radius(random);
    ring.push_back({int32_t(std::lround(cx + r * std::cos(a))),
                    int32_t(std::lround(cy + r * std::sin(a)))});
  }
  return ring;
}

TEST_F(GeometryTest, PlanarAreasAndLengthsOfRingsWithHolesAgreeWithGeos) {
  testsupport::Geos geos;
  std::mt19937 random(3);
  const CoordSys* cs = GeomDefaultCoordSys();
  for (int round = 0; round < 200; ++round) {
    // Far from the origin and near it, small and large.
    double scale = round % 2 ? 1e3 : 1e6;
    std::uniform_real_distribution<double> where(-9e8, 9e8);
    double cx = round % 4 < 2 ? where(random) : 0.0, cy = round % 4 < 2 ? where(random) : 0.0;
    std::vector<Ring> rings = {StarRing(random, cx, cy, 0.5 * scale, scale, 8 + round % 40)};
    int holes = round % 3;
    for (int h = 0; h < holes; ++h) {
      double dx = (h == 0 ? -0.2 : 0.2) * scale;
      rings.push_back(StarRing(random, cx + dx, cy, 0.05 * scale, 0.15 * scale, 5 + round % 20));
    }
    GeomObject* o = Poly(kGeomRegion, rings);
    GeomObjectNormalize(o, 1);
    ASSERT_EQ(Following(o)[0], uint32_t(holes));
    double area = 0, length = 0;
    const GeomPart* parts = GeomParts(o);
    for (uint32_t i = 0; i < o->u.poly.partCount; ++i) {
      int planar = -1;
      double a = GeomRingArea(o, &parts[i], cs, 14, 0, &planar);
      EXPECT_EQ(planar, 1);
      area += i == 0 ? a : -a;
      length += GeomPartLength(o, &parts[i], cs, 0, 0);
    }
    auto polygon = geos.Region(rings);
    double geosArea = geos.Area(polygon.get());
    double geosLength = 0;
    GEOSLength_r(geos.context(), polygon.get(), &geosLength);
    EXPECT_NEAR(area, geosArea, 1e-9 * geosArea) << "round " << round;
    EXPECT_NEAR(length, geosLength, 1e-9 * geosLength) << "round " << round;
  }
}

TEST_F(GeometryTest, SphericalAreaOfADegreeSquare) {
  CoordSysParams block;
  std::memset(&block, 0, sizeof block);
  DatumRecordGet(104, &block.datum);
  block.lonLatQuadrant = 2;
  CoordSys cs;
  CoordSysInit(&cs, 1, &block);
  CoordSysSetBounds(&cs, -180, -90, 180, 90);
  DPoint corners[4] = {{10, 0}, {11, 0}, {11, 1}, {10, 1}};
  IPoint ints[4];
  CoordUnitsToInt(corners, ints, &cs, 4);
  GeomObject* o = Poly(kGeomRegion, {Ring(ints, ints + 4)});
  int planar = -1;
  double a = GeomRingArea(o, &GeomParts(o)[0], &cs, 21, 0, &planar);
  EXPECT_EQ(planar, 0);
  // A cell of the 6,370,997 m sphere, R^2 x 1 degree x sin(1 degree); its top
  // edge as a great circle takes a hair more.
  double cell = 40589602774009.0 * (std::numbers::pi / 180) * std::sin(std::numbers::pi / 180);
  EXPECT_NEAR(a, cell, 1e-4 * cell);
  EXPECT_EQ(GeomRingArea(o, &GeomParts(o)[0], &cs, 21, 1, &planar), a);  // still spherical
}

}  // namespace
}  // namespace layerio
