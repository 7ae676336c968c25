#include "mapfile/objects/predicates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/mapfile/objects/geom_fixture.h"
#include "mapfile/objects/geometry.h"
#include "support/geos_oracle.h"

namespace layerio {
namespace {

using Ring = std::vector<IPoint>;

std::string Text(const IPoint& p) {
  return "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
}

// Bounds as stored objects carry them: computed from the points of kinds with
// parts or point lists, set here for points and lines.
void FixBounds(GeomObject* o) {
  IRect all;
  IRectSetEmpty(&all);
  switch (o->kind) {
    case kGeomPoint:
      IRectFromPoints(&all, &o->u.point.position, &o->u.point.position);
      break;
    case kGeomLine: {
      IPoint a{o->u.line.x1, o->u.line.y1}, b{o->u.line.x2, o->u.line.y2};
      IRectFromPoints(&all, &a, &b);
      break;
    }
    case kGeomPolyline:
    case kGeomRegion:
    case kGeomMultipoint:
      GeomObjectComputeBounds(o);
      return;
    default:
      return;  // the caller's rectangle
  }
  o->bounds = all;
}

class PredicatesTest : public objtest::GeomHeapTest {
 protected:
  // A region of rings given open; groups lists how many holes follow each
  // outer ring (absent: every ring stands alone).
  GeomObject* Poly(int kind, const std::vector<Ring>& rings,
                   const std::vector<std::pair<int, int>>& groups = {}) {
    GeomObject* o = New(kind);
    std::vector<int32_t> counts;
    Ring all;
    for (const Ring& r : rings) {
      counts.push_back(int32_t(r.size()));
      all.insert(all.end(), r.begin(), r.end());
    }
    EXPECT_TRUE(GeomPartsSetAll(o, uint32_t(rings.size()), counts.data(), all.data(), nullptr,
                                nullptr));
    for (auto [first, holes] : groups) GeomParts(o)[first].following = uint32_t(holes);
    FixBounds(o);
    return o;
  }
  GeomObject* Region(const std::vector<Ring>& rings,
                     const std::vector<std::pair<int, int>>& groups = {}) {
    return Poly(kGeomRegion, rings, groups);
  }
  GeomObject* Polyline(const std::vector<Ring>& parts) { return Poly(kGeomPolyline, parts); }
  GeomObject* Point(int32_t x, int32_t y) {
    GeomObject* o = New(kGeomPoint);
    o->u.point.position = {x, y};
    FixBounds(o);
    return o;
  }
  GeomObject* Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    GeomObject* o = New(kGeomLine);
    o->u.line = {x1, y1, x2, y2};
    FixBounds(o);
    return o;
  }
  GeomObject* Multipoint(const Ring& points) {
    GeomObject* o = New(kGeomMultipoint);
    EXPECT_TRUE(GeomMultipointAddPoints(o, int32_t(points.size()), points.data(), nullptr,
                                        nullptr));
    FixBounds(o);
    return o;
  }
  GeomObject* Boxed(int kind, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    GeomObject* o = New(kind);
    IRectSet(&o->bounds, x1, y1, x2, y2);
    return o;
  }

};

// Far corners of the integer map range: products of coordinates near 1e18
// and sums of them near 4e18, where a double misses by tens of units.
constexpr IPoint kFarP{-999948791, -999947933}, kFarQ{999969468, 957678674};
constexpr IPoint kOffFar{-411861254, -424296501};  // 71 units of cross product off p-q
constexpr IPoint kOnP{-999999122, -999999046}, kOnQ{-936254114, 767};
constexpr IPoint kOnFar{-987740786, -807696400};  // on p-q, which a double misses

TEST(SegmentPredicates, PointOnSegment) {
  struct Case {
    const char* name;
    IPoint p, q, point;
    int on;
  } cases[] = {
      {"inside a diagonal", {0, 0}, {10, 20}, {3, 6}, 1},
      {"beside a diagonal", {0, 0}, {10, 20}, {3, 7}, 0},
      {"start point", {0, 0}, {10, 20}, {0, 0}, 1},
      {"end point", {0, 0}, {10, 20}, {10, 20}, 1},
      {"on the line beyond the end", {0, 0}, {10, 20}, {11, 22}, 0},
      {"horizontal", {-5, 7}, {5, 7}, {4, 7}, 1},
      {"horizontal, past the end", {-5, 7}, {5, 7}, {6, 7}, 0},
      {"vertical", {2, 9}, {2, -9}, {2, 0}, 1},
      {"degenerate segment, its point", {4, 4}, {4, 4}, {4, 4}, 1},
      {"degenerate segment, another point", {4, 4}, {4, 4}, {4, 5}, 0},
      {"far off by a cross product of 71", kFarP, kFarQ, kOffFar, 0},
      {"far on", kOnP, kOnQ, kOnFar, 1},
      {"full range diagonal", {-2147483647, -2147483647}, {2147483647, 2147483647}, {5, 5}, 1},
      {"full range, one off", {-2147483647, -2147483647}, {2147483647, 2147483647}, {5, 6}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GeomPointOnSegment(&c.point, &c.p, &c.q), c.on) << c.name;
    EXPECT_EQ(GeomPointOnSegment(&c.point, &c.q, &c.p), c.on) << c.name << " reversed";
  }
}

TEST(SegmentPredicates, PointSide) {
  struct Case {
    const char* name;
    IPoint point, p, q;
    int ray;
    int answer, side;
  } cases[] = {
      {"above the y range", {0, 11}, {5, 0}, {5, 10}, 1, 0, 0},
      {"below the y range", {0, -1}, {5, 0}, {5, 10}, 1, 0, 0},
      {"equal to an end", {5, 10}, {5, 0}, {5, 10}, 1, 1, kSideOn},
      {"ray: upper end height of a sloping edge", {0, 10}, {5, 0}, {6, 10}, 1, 0, 0},
      {"ray: lower end height counts", {0, 0}, {5, 0}, {6, 10}, 1, 1, kSideRight},
      {"ray: on a horizontal edge", {3, 4}, {0, 4}, {9, 4}, 1, 1, kSideOn},
      {"ray: left of a horizontal edge", {-3, 4}, {0, 4}, {9, 4}, 1, 0, 0},
      {"ray: edge to the right", {0, 5}, {5, 0}, {6, 10}, 1, 1, kSideRight},
      {"ray: edge to the left", {9, 5}, {5, 0}, {6, 10}, 1, 1, kSideLeft},
      {"no ray: edge to the right", {0, 5}, {5, 0}, {6, 10}, 0, 0, 0},
      {"within the x range, left of the edge", {5, 5}, {4, 0}, {8, 10}, 1, 1, kSideRight},
      {"within the x range, right of the edge", {7, 5}, {4, 0}, {8, 10}, 1, 1, kSideLeft},
      {"within the x range, on the edge", {6, 5}, {4, 0}, {8, 10}, 0, 1, kSideOn},
      {"on a vertical edge", {5, 5}, {5, 0}, {5, 10}, 1, 1, kSideOn},
      {"far: 71 off, right of the edge", kOffFar, kFarP, kFarQ, 1, 1, kSideLeft},
      {"far: on the edge", kOnFar, kOnQ, kOnP, 1, 1, kSideOn},
  };
  for (const Case& c : cases) {
    int side = -1;
    EXPECT_EQ(GeomPointSide(&c.point, &c.p, &c.q, &side, c.ray), c.answer) << c.name;
    if (c.answer) {
      EXPECT_EQ(side, c.side) << c.name;
    }
  }
}

TEST(SegmentPredicates, SegmentsIntersect) {
  struct Case {
    const char* name;
    IPoint a, b, c, d;
    int meet;
  } cases[] = {
      {"crossing", {0, 0}, {10, 10}, {0, 10}, {10, 0}, 1},
      {"sharing an end", {0, 0}, {10, 10}, {10, 10}, {20, 0}, 1},
      {"end on the other's inside (T)", {0, 0}, {10, 0}, {5, 0}, {5, 8}, 1},
      {"collinear overlapping", {0, 0}, {10, 10}, {5, 5}, {20, 20}, 1},
      {"collinear touching at ends", {0, 0}, {10, 10}, {10, 10}, {20, 20}, 1},
      {"collinear apart", {0, 0}, {10, 10}, {11, 11}, {20, 20}, 0},
      {"parallel apart, boxes overlapping", {0, 0}, {10, 10}, {1, 0}, {11, 10}, 0},
      {"lines cross beyond one segment", {0, 0}, {10, 10}, {0, 10}, {4, 7}, 0},
      {"both vertical, same x", {3, 0}, {3, 10}, {3, 10}, {3, 12}, 1},
      {"both vertical, other x", {3, 0}, {3, 10}, {4, 0}, {4, 12}, 0},
      {"vertical against sloping, touching", {5, 0}, {5, 4}, {0, 8}, {10, 0}, 1},
      {"vertical against sloping, short", {5, 0}, {5, 3}, {0, 8}, {10, 0}, 0},
      {"point segment on the other", {4, 4}, {4, 4}, {0, 0}, {8, 8}, 1},
      {"point segment beside the other", {4, 5}, {4, 5}, {0, 0}, {8, 8}, 0},
      {"far, near miss by 71", kFarP, kFarQ, kOffFar, {kOffFar.x, kOffFar.y - 40}, 0},
      {"far, crossing", kFarP, kFarQ, kOffFar, {kOffFar.x, kOffFar.y + 2000}, 1},
      {"far, T on the line", kOnP, kOnQ, kOnFar, {0, 0}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GeomSegmentsIntersect(&c.a, &c.b, &c.c, &c.d), c.meet) << c.name;
    EXPECT_EQ(GeomSegmentsIntersect(&c.d, &c.c, &c.b, &c.a), c.meet) << c.name << " swapped";
  }
}

TEST(SegmentPredicates, SegmentCrossCodesAndPoints) {
  struct Case {
    const char* name;
    IPoint a, b, c, d;
    int answer, code;
    IPoint at;
  } cases[] = {
      {"same segment", {0, 0}, {9, 3}, {0, 0}, {9, 3}, 1, kSegmentSameEnds, {0, 0}},
      {"reversed segment", {0, 0}, {9, 3}, {9, 3}, {0, 0}, 1, kSegmentSameEnds, {0, 0}},
      {"one shared end", {0, 0}, {9, 3}, {9, 3}, {20, 0}, 1, kSegmentSharedEnd, {9, 3}},
      {"crossing", {0, 0}, {10, 10}, {0, 10}, {10, 0}, 1, kSegmentCrossing, {5, 5}},
      {"crossing, point rounded", {0, 0}, {3, 1}, {0, 1}, {3, 0}, 1, kSegmentCrossing, {2, 1}},
      {"collinear overlap", {0, 0}, {10, 0}, {5, 0}, {20, 0}, 1, kSegmentCollinear, {5, 0}},
      {"collinear apart", {0, 0}, {10, 0}, {11, 0}, {20, 0}, 0, 0, {}},
      {"parallel", {0, 0}, {10, 0}, {0, 1}, {10, 1}, 0, 0, {}},
      {"T", {0, 0}, {10, 0}, {5, 0}, {5, 9}, 1, kSegmentCrossing, {5, 0}},
      // The crossing of the lines lies half a unit below the vertical
      // segment's lower end: within the contact tolerance.
      {"half a unit short", {0, 0}, {10, 1}, {5, 1}, {5, 9}, 1, kSegmentCrossing, {5, 1}},
      {"more than half a unit short", {0, 0}, {10, 1}, {5, 2}, {5, 9}, 0, 0, {}},
      {"far crossing", kFarP, kFarQ, kOffFar, {kOffFar.x, kOffFar.y + 2000}, 1,
       kSegmentCrossing, kOffFar},
  };
  for (const Case& c : cases) {
    IPoint at{-1, -1};
    int code = -1;
    EXPECT_EQ(GeomSegmentCross(&c.a, &c.b, &c.c, &c.d, &at, &code), c.answer) << c.name;
    if (!c.answer) continue;
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_EQ(Text(at), Text(c.at)) << c.name;
  }
}

TEST(SegmentPredicates, SegmentMeetsRect) {
  IRect r{0, 0, 10, 10};
  struct Case {
    const char* name;
    IPoint p, q;
    int meet;
  } cases[] = {
      {"inside", {2, 2}, {3, 3}, 1},
      {"through", {-5, 5}, {15, 5}, 1},
      {"touching a corner", {-5, 5}, {0, 10}, 1},
      {"along an edge, outside", {10, 12}, {10, 20}, 0},
      {"cutting a corner", {-5, 6}, {6, -5}, 1},
      {"diagonal missing the corner", {-5, 3}, {3, -6}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(GeomSegmentMeetsRect(&c.p, &c.q, &r), c.meet) << c.name;
}

// A square 0..100 with a hole 20..80 holding an island 40..60, and a second
// separate square 200..300.
TEST_F(PredicatesTest, PointInRegionWithHolesAndIslands) {
  GeomObject* region = Region({{{0, 0}, {0, 100}, {100, 100}, {100, 0}},
                               {{20, 20}, {80, 20}, {80, 80}, {20, 80}},
                               {{40, 40}, {40, 60}, {60, 60}, {60, 40}},
                               {{200, 0}, {300, 0}, {300, 100}, {200, 100}}},
                              {{0, 1}});
  struct Case {
    const char* name;
    IPoint p;
    int in;
  } cases[] = {
      {"in the shell", {10, 50}, 1},       {"on the shell's edge", {0, 50}, 1},
      {"on a shell vertex", {100, 100}, 1}, {"in the hole", {30, 50}, 0},
      {"on the hole's edge", {20, 50}, 1}, {"in the island", {50, 50}, 1},
      {"on the island's edge", {60, 45}, 1}, {"outside", {150, 50}, 0},
      {"in the second square", {250, 50}, 1}, {"level with a top edge", {-5, 100}, 0},
      {"level with a bottom edge", {-5, 0}, 0}, {"right of everything", {400, 50}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GeomPointInRegion(&c.p, region), c.in) << c.name;
    EXPECT_EQ(GeomPointInOrOn(&c.p, region), c.in) << c.name;
  }
  // Each ring alone.
  const GeomPart* parts = GeomParts(region);
  IPoint inHole{30, 50};
  EXPECT_EQ(GeomPointInRing(&inHole, region, &parts[0]), 1);
  EXPECT_EQ(GeomPointInRing(&inHole, region, &parts[1]), 1);
  EXPECT_EQ(GeomPointInRing(&inHole, region, &parts[2]), 0);
  EXPECT_EQ(GeomPointInRing(&inHole, region, &parts[3]), 0);
}

// Rays through vertices: where the boundary passes straight on the vertex
// counts once, where it turns back zero or two times.
TEST_F(PredicatesTest, RayThroughVertices) {
  // A diamond: the ray from (0, 0) passes through the right vertex (10, 0)
  // and the left vertex (-10, 0) lies left of the point.
  GeomObject* diamond = Region({{{-10, 0}, {0, 10}, {10, 0}, {0, -10}}});
  // A zigzag top: the ray at y = 5 passes the vertex (10, 5) where the
  // boundary turns back up, and the vertex (20, 5) where it goes on.
  GeomObject* zig = Region({{{0, 0}, {0, 10}, {10, 5}, {15, 10}, {20, 5}, {30, 0}}});
  // A peak up to the ray's level: (10, 5) with both neighbours below.
  GeomObject* peak = Region({{{0, -10}, {0, 0}, {10, 5}, {20, 0}, {20, -10}}});
  struct Case {
    const char* name;
    const GeomObject* region;
    IPoint p;
    int in;
  } cases[] = {
      {"diamond centre", diamond, {0, 0}, 1},
      {"diamond, left of the left vertex", diamond, {-11, 0}, 0},
      {"diamond, right vertex level, outside", diamond, {-20, 0}, 0},
      {"zigzag, before the turning vertex", zig, {2, 5}, 1},
      {"zigzag, between the vertices", zig, {12, 5}, 1},
      {"zigzag, past the straight-on vertex", zig, {25, 5}, 0},
      {"zigzag, on the straight-on vertex", zig, {20, 5}, 1},
      {"zigzag, outside on the left", zig, {-5, 5}, 0},
      {"peak, outside on the left", peak, {-5, 5}, 0},
      {"peak, on the tip", peak, {10, 5}, 1},
      {"peak, below the tip", peak, {10, 4}, 1},
      {"peak, outside on the right", peak, {15, 5}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(GeomPointInRegion(&c.p, c.region), c.in) << c.name;
}

// Far from the origin a double would put the point on the long edge, and so
// inside both triangles.
TEST_F(PredicatesTest, PointNearALongEdgeIsClassifiedExactly) {
  GeomObject* below = Region({{kFarP, kFarQ, {1000000000, -1000000000}}});
  GeomObject* above = Region({{kFarP, kFarQ, {-1000000000, 1000000000}}});
  EXPECT_EQ(GeomPointInRegion(&kOffFar, below), 1);
  EXPECT_EQ(GeomPointInRegion(&kOffFar, above), 0);
  GeomObject* onEdge = Region({{kOnP, kOnQ, {-1000000000, 1000000000}}});
  EXPECT_EQ(GeomPointInRegion(&kOnFar, onEdge), 1);
  GeomObject* pl = Polyline({{kFarP, kFarQ}});
  EXPECT_EQ(GeomPointInOrOn(&kOffFar, pl), 0);
}

TEST_F(PredicatesTest, ObjectsIntersect) {
  GeomObject* square = Region({{{0, 0}, {0, 10}, {10, 10}, {10, 0}}});
  GeomObject* rect = Boxed(kGeomRect, -5, -5, 20, 20);
  GeomObject* rect2 = Boxed(kGeomRoundRect, 15, 15, 40, 40);
  GeomObject* text = Boxed(kGeomText, 19, 19, 25, 25);
  GeomObject* ell = Boxed(kGeomEllipse, -10, -10, 10, 10);
  GeomObject* inside = Boxed(kGeomEllipse, 2, 2, 8, 8);
  GeomObject* far = Boxed(kGeomEllipse, 30, 30, 50, 50);
  // Overlapping an edge of the square with its centre outside.
  GeomObject* straddle = Boxed(kGeomEllipse, 8, 2, 16, 8);
  struct Case {
    const char* name;
    const GeomObject *a, *b;
    int meet;
  } cases[] = {
      {"polylines touching at an end", Polyline({{{0, 0}, {5, 5}}}),
       Polyline({{{5, 5}, {9, 0}}}), 1},
      {"polylines crossing", Polyline({{{0, 0}, {5, 5}}}), Polyline({{{0, 5}, {5, 0}}}), 1},
      {"polylines apart, boxes overlapping", Polyline({{{0, 0}, {5, 5}}}),
       Polyline({{{1, 0}, {6, 5}}}), 0},
      {"line and polyline crossing", Line(0, 5, 10, 5), Polyline({{{5, 0}, {5, 9}}}), 1},
      {"region inside a rectangle", square, rect, 1},
      {"rectangle inside a region", Region({{{-50, -50}, {-50, 50}, {50, 50}, {50, -50}}}),
       Boxed(kGeomRect, 1, 1, 2, 2), 1},
      {"region and polyline apart, bounds overlapping", square,
       Polyline({{{-2, 12}, {12, 12}, {12, -2}}}), 0},
      {"region and polyline crossing", square, Polyline({{{-5, 5}, {15, 5}}}), 1},
      {"polyline inside a region", square, Polyline({{{2, 2}, {3, 3}}}), 1},
      {"polyline touching a region's corner", square, Polyline({{{10, 10}, {15, 20}}}), 1},
      {"regions sharing an edge", square, Region({{{10, 0}, {10, 10}, {20, 10}, {20, 0}}}), 1},
      {"region in a region's hole",
       Region({{{0, 0}, {0, 30}, {30, 30}, {30, 0}}, {{5, 5}, {25, 5}, {25, 25}, {5, 25}}},
              {{0, 1}}),
       Region({{{10, 10}, {10, 20}, {20, 20}, {20, 10}}}), 0},
      {"rectangles, bounds overlapping", rect, rect2, 1},
      {"rectangle and text, corners touching", rect, text, 1},
      {"rectangle and polyline through it", rect, Polyline({{{-10, 0}, {0, -10}}}), 1},
      {"rectangle and polyline missing it", rect, Polyline({{{-20, 0}, {0, -20}}}), 0},
      {"point on a polyline", Point(4, 4), Polyline({{{0, 0}, {8, 8}}}), 1},
      {"point beside a polyline", Point(4, 5), Polyline({{{0, 0}, {8, 8}}}), 0},
      {"point equal to a multipoint's point", Point(3, 4), Multipoint({{1, 1}, {3, 4}}), 1},
      {"point inside a multipoint's bounds", Point(2, 2), Multipoint({{1, 1}, {3, 4}}), 0},
      {"multipoint with a point in a region", Multipoint({{-1, -1}, {5, 5}}), square, 1},
      {"multipoint around a region", Multipoint({{-1, -1}, {11, 11}}), square, 0},
      {"point in a rectangle", Point(0, 0), rect, 1},
      {"ellipse and region, centre inside", ell, square, 1},
      {"ellipse straddling a region's edge, centre outside", straddle,
       Region({{{0, 0}, {0, 10}, {10, 10}, {10, 0}}}), 1},
      {"ellipse inside a rectangle", inside, rect, 1},
      {"ellipses overlapping", ell, straddle, 1},
      {"ellipse inside an ellipse", ell, Boxed(kGeomEllipse, -2, -2, 2, 2), 1},
      {"ellipses apart", ell, far, 0},
      {"ellipse and a polyline across", ell, Polyline({{{-20, 0}, {20, 1}}}), 1},
      {"ellipse and a polyline in the corner", ell, Polyline({{{9, 9}, {10, 8}}}), 0},
      {"ellipse and a point strictly inside", ell, Point(1, 1), 1},
      {"ellipse and its bounds' corner", ell, Point(10, 10), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GeomObjectsIntersect(c.a, c.b), c.meet) << c.name;
    EXPECT_EQ(GeomObjectsIntersect(c.b, c.a), c.meet) << c.name << " swapped";
  }
}

TEST_F(PredicatesTest, CollectionsIntersectThroughTheirParts) {
  GeomObject* region = Region({{{0, 0}, {0, 10}, {10, 10}, {10, 0}}});
  GeomObject* pl = Polyline({{{20, 0}, {30, 10}}});
  GeomObject* a = New(kGeomCollection);
  ASSERT_TRUE(GeomCollectionAddObject(a, region, 0));
  ASSERT_TRUE(GeomCollectionAddObject(a, pl, 0));
  GeomObject* b = New(kGeomCollection);
  ASSERT_TRUE(GeomCollectionAddObject(b, Region({{{5, 5}, {5, 8}, {8, 8}, {8, 5}}}), 0));
  GeomObject* c = New(kGeomCollection);
  ASSERT_TRUE(GeomCollectionAddObject(c, Region({{{12, 2}, {12, 4}, {14, 4}, {14, 2}}}), 0));
  EXPECT_EQ(GeomObjectsIntersect(a, b), 1) << "regions nested";
  EXPECT_EQ(GeomObjectsIntersect(b, a), 1);
  EXPECT_EQ(GeomObjectsIntersect(a, c), 0) << "between the region and the polyline";
  EXPECT_EQ(GeomObjectsIntersect(a, Polyline({{{25, 0}, {25, 9}}})), 1) << "its polyline";
  EXPECT_EQ(GeomObjectsIntersect(a, Point(5, 5)), 1);
  EXPECT_EQ(GeomObjectsIntersect(a, Point(15, 5)), 0);
  IPoint onLine{25, 5}, gap{15, 5};
  EXPECT_EQ(GeomPointInOrOn(&onLine, a), 1);
  EXPECT_EQ(GeomPointInOrOn(&gap, a), 0);
}

TEST_F(PredicatesTest, SegmentsAgainstAnEllipse) {
  GeomObject* e = Boxed(kGeomEllipse, -10, -5, 10, 5);  // half axes 10 and 5
  struct Case {
    const char* name;
    IPoint p, q;
    int meet;
  } cases[] = {
      {"horizontal through", {-20, 0}, {20, 0}, 1},
      {"horizontal inside", {-3, 0}, {3, 0}, 0},
      {"vertical through", {0, -9}, {0, 9}, 1},
      {"vertical outside", {11, -9}, {11, 9}, 0},
      {"vertical from inside out", {0, 0}, {0, 9}, 1},
      {"sloping through the top", {-20, 10}, {20, 0}, 1},
      {"sloping past the corner", {8, 9}, {14, 3}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(GeomSegmentMeetsEllipse(&c.p, &c.q, e), c.meet) << c.name;
}

TEST_F(PredicatesTest, TwoEllipsesMeetWhereTheirCirclesWould) {
  // Circles of radius 100 and 40 at distance d: the boundaries meet for
  // 60 <= d <= 140 (with the box tests: 0 <= d <= 140).
  GeomObject* big = Boxed(kGeomEllipse, -100, -100, 100, 100);
  for (int d : {0, 30, 59, 61, 100, 139, 141, 200}) {
    GeomObject* small = Boxed(kGeomEllipse, d - 40, -40, d + 40, 40);
    int cross = d >= 60 && d <= 140;
    EXPECT_EQ(GeomEllipsesIntersect(big, small), cross) << d;
    EXPECT_EQ(GeomEllipsesIntersect(small, big), cross) << d;
    EXPECT_EQ(GeomObjectsIntersect(big, small), d <= 140 ? 1 : 0) << d;
  }
  // A flat ellipse against a round one, diagonally apart and crossing.
  GeomObject* flat = Boxed(kGeomEllipse, 75, 75, 175, 85);
  EXPECT_EQ(GeomObjectsIntersect(big, flat), 0);
  GeomObject* flat2 = Boxed(kGeomEllipse, 60, 20, 160, 30);
  EXPECT_EQ(GeomObjectsIntersect(big, flat2), 1);
}

TEST(QuarticRoots, SignChangesAndPositiveCurves) {
  double positive[5] = {1, 0.5, 0.2, 0.5, 1};
  double crossing[5] = {1, -1, -1, -1, -1};
  double dip[5] = {1, -2, -2, -2, 1};  // goes below zero in the middle
  double shallow[5] = {1, -0.1, 0.2, -0.1, 1};  // inner signs mixed but stays above
  EXPECT_EQ(GeomQuarticHasRoot(positive, 0), 0);
  EXPECT_EQ(GeomQuarticHasRoot(crossing, 0), 1);
  EXPECT_EQ(GeomQuarticHasRoot(dip, 0), 1);
  EXPECT_EQ(GeomQuarticHasRoot(shallow, 0), 0);
}

// ----- against GEOS -----

// Star-shaped simple rings about a centre: evenly spread angles with jitter
// and radii between half and all of r, so a hole of radius below r / 4
// about the same centre stays inside.
Ring Star(std::mt19937& rng, double cx, double cy, double r, int n) {
  std::uniform_real_distribution<double> jitter(-0.3, 0.3), radius(0.5, 1.0);
  Ring ring;
  for (int i = 0; i < n; ++i) {
    double angle = (i + jitter(rng)) * 2 * M_PI / n;
    double rr = r * radius(rng);
    IPoint p{int32_t(std::lround(cx + rr * std::cos(angle))),
             int32_t(std::lround(cy + rr * std::sin(angle)))};
    if (!ring.empty() && p.x == ring.back().x && p.y == ring.back().y) continue;
    ring.push_back(p);
  }
  return ring;
}

struct Shape {
  int kind;  // 1 point, 4 polyline, 5 region
  std::vector<Ring> rings;
  int holes = 0;  // region: ring 0 with this many holes after it
};

class GeosAgreement : public PredicatesTest {
 protected:
  GeomObject* Build(const Shape& s) {
    if (s.kind == kGeomPoint) return Point(s.rings[0][0].x, s.rings[0][0].y);
    if (s.kind == kGeomPolyline) return Polyline(s.rings);
    return Region(s.rings, {{0, s.holes}});
  }
  testsupport::Geos::Geom ToGeos(const Shape& s) {
    if (s.kind == kGeomPoint) return geos_.Point(s.rings[0][0].x, s.rings[0][0].y);
    if (s.kind == kGeomPolyline) return geos_.Line(s.rings[0], false);
    return geos_.Region(s.rings);
  }

  Shape Random(std::mt19937& rng, int kind, double scale, const Shape* near) {
    std::uniform_real_distribution<double> centre(0, 60 * scale), size(5 * scale, 40 * scale);
    std::uniform_int_distribution<int> count(3, 9), coin(0, 3);
    Shape s{kind, {}};
    double cx = centre(rng), cy = centre(rng), r = size(rng);
    if (kind == kGeomRegion) {
      s.rings.push_back(Star(rng, cx, cy, r, count(rng) + 3));
      if (coin(rng) == 0) {
        s.rings.push_back(Star(rng, cx, cy, r / 4, count(rng)));
        s.holes = 1;
      }
    } else if (kind == kGeomPolyline) {
      Ring line;
      int n = count(rng) - 1;
      std::uniform_real_distribution<double> step(-r, r);
      double x = cx, y = cy;
      for (int i = 0; i < n; ++i) {
        line.push_back({int32_t(std::lround(x)), int32_t(std::lround(y))});
        x += step(rng);
        y += step(rng);
      }
      // Touching contacts: start on a vertex of the other shape now and
      // then.
      if (near && coin(rng) == 0) line[0] = near->rings[0][rng() % near->rings[0].size()];
      s.rings.push_back(line);
    } else {
      IPoint p{int32_t(std::lround(cx)), int32_t(std::lround(cy))};
      if (near && coin(rng) == 0) {
        // A vertex or the integer midpoint of an edge of the other shape.
        const Ring& ring = near->rings[0];
        size_t i = rng() % ring.size();
        const IPoint& u = ring[i];
        const IPoint& v = ring[(i + 1) % ring.size()];
        p = coin(rng) < 2 ? u : IPoint{u.x + (v.x - u.x) / 2, u.y + (v.y - u.y) / 2};
      }
      s.rings.push_back({p});
    }
    return s;
  }

  std::string Wkt(const testsupport::Geos::Geom& g) {
    char* text = GEOSGeomToWKT_r(geos_.context(), g.get());
    std::string result = text ? text : "";
    GEOSFree_r(geos_.context(), text);
    return result;
  }

  testsupport::Geos geos_;
};

// Random integer regions (with holes now and then), polylines and points.
// GeomSegmentCross counts a crossing within half a unit of both segments as
// contact, where GEOS sees shapes apart; pairs GEOS puts strictly between 0
// and 1 unit apart are therefore drawn again. Points against regions are
// compared with GEOS covers (the boundary belongs to the region, as here).
TEST_F(GeosAgreement, IntersectsAndPointInRegionOn2000RandomPairs) {
  std::mt19937 rng(20261211);
  const int kinds[][2] = {{kGeomRegion, kGeomRegion},   {kGeomRegion, kGeomPolyline},
                          {kGeomPolyline, kGeomPolyline}, {kGeomPoint, kGeomRegion},
                          {kGeomPoint, kGeomPolyline}};
  int compared = 0, meeting = 0, redrawn = 0, pointsInside = 0;
  while (compared < 2000) {
    const auto& k = kinds[compared % 5];
    // One pair in four far out, where coordinate products pass 1e17.
    double scale = compared % 4 == 3 ? 4e6 : 1;
    Shape b = Random(rng, k[1], scale, nullptr);
    Shape a = Random(rng, k[0], scale, &b);
    auto ga = ToGeos(a), gb = ToGeos(b);
    ASSERT_TRUE(ga && gb) << geos_.lastError();
    double distance = geos_.Distance(ga.get(), gb.get());
    if (distance > 0 && distance < 1) {
      ++redrawn;
      continue;
    }
    char expected = GEOSIntersects_r(geos_.context(), ga.get(), gb.get());
    ASSERT_NE(expected, 2) << geos_.lastError();
    GeomObject* oa = Build(a);
    GeomObject* ob = Build(b);
    // Only built when an assertion fails.
    auto what = [&] {
      return "pair " + std::to_string(compared) + ": " + Wkt(ga) + " / " + Wkt(gb);
    };
    ASSERT_EQ(GeomObjectsIntersect(oa, ob), expected) << what();
    ASSERT_EQ(GeomObjectsIntersect(ob, oa), expected) << what();
    meeting += expected;
    if (a.kind == kGeomPoint && b.kind == kGeomRegion) {
      char covers = GEOSCovers_r(geos_.context(), gb.get(), ga.get());
      ASSERT_EQ(GeomPointInRegion(&a.rings[0][0], ob), covers) << what();
      pointsInside += covers;
    }
    ++compared;
  }
  // Both answers are well represented, and few pairs needed drawing again.
  EXPECT_GT(meeting, 400);
  EXPECT_LT(meeting, 1600);
  EXPECT_GT(pointsInside, 40);
  EXPECT_LT(redrawn, 400);
}

}  // namespace
}  // namespace layerio
