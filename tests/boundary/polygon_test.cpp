#include "boundary/polygon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/support/geos_oracle.h"
#include "tests/support/shp_rings.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr double kFeet = 364320.0;  // feet per degree of latitude

struct XY {
  double x, y;
};

CLine LineOf(std::vector<XY> points) {
  std::vector<CPipPoint> p;
  for (const XY& q : points) p.emplace_back(q.x, q.y);
  return CLine(p.data(), static_cast<int>(p.size()));
}

std::vector<XY> PointsOf(const CSegmentChain& chain) {
  std::vector<XY> out;
  for (int i = 0; i < chain.getPointCount(); ++i)
    out.push_back({chain.getPoint(i).getX(), chain.getPoint(i).getY()});
  return out;
}

bool operator==(const XY& a, const XY& b) { return a.x == b.x && a.y == b.y; }

TEST(CLineTest, SetFromPointsAndCoordinates) {
  CPipPoint one(1.0, 2.0);
  CLine line(&one, 1);
  EXPECT_EQ(line.getCount(), 0);
  EXPECT_EQ(line.getPointCount(), 1);
  line.set(static_cast<const CPipPoint*>(nullptr), 0);
  EXPECT_EQ(line.getCount(), 0);
  EXPECT_EQ(line.getStart().getX(), 0.0);  // empty: no read outside the line

  double xs[] = {0, 1, 1}, ys[] = {0, 0, 2};
  line.set(xs, ys, 3);
  EXPECT_EQ(line.getCount(), 2);
  EXPECT_EQ(PointsOf(line), (std::vector<XY>{{0, 0}, {1, 0}, {1, 2}}));
  EXPECT_NEAR(line.length(), kFeet * (std::cos(0.0) + 2), 1e-6);
  int xy[6];
  line.get(xy);
  EXPECT_EQ(std::vector<int>(xy, xy + 6), (std::vector<int>{0, 0, 1000000, 0, 1000000, 2000000}));
  double gx[2], gy[2];
  EXPECT_EQ(line.get(gx, gy, 2), 2);
  EXPECT_EQ(gx[1], 1.0);
}

TEST(CPolygonTest, ClosingRule) {
  struct Case {
    const char* name;
    std::vector<int> xy;  // millionths
    int segments;
  } cases[] = {
      {"closed square of 5 pairs", {0, 0, 1, 0, 1, 1, 0, 1, 0, 0}, 4},
      {"closed triangle of 4 pairs", {0, 0, 2, 0, 0, 2, 0, 0}, 3},
      {"open triangle of 3 pairs", {0, 0, 2, 0, 0, 2}, 3},
      {"one point", {5, 5}, 0},
      {"no points", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int n = static_cast<int>(c.xy.size() / 2);
    CPolygon ring(c.xy.data(), n);
    EXPECT_EQ(ring.getCount(), c.segments);
    if (c.segments > 0) {
      EXPECT_EQ(ring.getStart(), ring.getEnd());
      std::vector<double> xs, ys;
      for (int i = 0; i < n; ++i) {
        xs.push_back(c.xy[2 * i] / 1e6);
        ys.push_back(c.xy[2 * i + 1] / 1e6);
      }
      EXPECT_TRUE(CPolygon(xs.data(), ys.data(), n) == ring);
    }
  }
  // Points close the ring only when equal as points, names included.
  CPipPoint named[4] = {CPipPoint(0.0, 0.0), CPipPoint(1.0, 0.0), CPipPoint(0.0, 1.0),
                        CPipPoint(0.0, 0.0)};
  EXPECT_EQ(CPolygon(named, 4).getCount(), 3);
  named[3].setName("elsewhere");
  EXPECT_EQ(CPolygon(named, 4).getCount(), 4);
  // Segments: an open chain gets its closing segment.
  CSegment open[2] = {CSegment(0, 0, 1, 0), CSegment(1, 0, 0, 1)};
  CPolygon fromSegments(open, 2);
  EXPECT_EQ(fromSegments.getCount(), 3);
  EXPECT_EQ(fromSegments.getSegment(2), CSegment(0, 1, 0, 0));
  CSegment closed[3] = {CSegment(0, 0, 1, 0), CSegment(1, 0, 0, 1), CSegment(0, 1, 0, 0)};
  EXPECT_EQ(CPolygon(closed, 3).getCount(), 3);
}

TEST(CPolygonTest, OutputForms) {
  double xs[] = {0, 2, 0}, ys[] = {0, 0, 2};
  CPolygon triangle(xs, ys, 3);
  int xy[8] = {};
  triangle.get(xy);
  EXPECT_EQ(std::vector<int>(xy, xy + 8), (std::vector<int>{0, 0, 2000000, 0, 0, 2000000, 0, 0}));
  double gx[5], gy[5];
  EXPECT_EQ(triangle.get(gx, gy, 5), 4);
  EXPECT_EQ(gx[3], 0.0);
  EXPECT_EQ(gy[3], 0.0);
  double sx[] = {0, 2, 2, 0}, sy[] = {0, 0, 2, 2};
  CPipPoint centre = CPolygon(sx, sy, 4).getCentroid();
  EXPECT_EQ(centre.getX(), 1.0);
  EXPECT_EQ(centre.getY(), 1.0);
}

TEST(CPolygonTest, EqualityComparesSegmentsNotNames) {
  double xs[] = {0, 2, 2, 0}, ys[] = {0, 0, 2, 2};
  CPolygon a(xs, ys, 4), b(xs, ys, 4);
  b.setName("other");
  EXPECT_TRUE(a == b);
  double ys2[] = {0, 0, 2, 2.5};  // moves the last vertex: the last two segments differ
  CPolygon c(xs, ys2, 4);
  EXPECT_TRUE(a != c);
  // Only the last segment differs: its start carries a name.
  CPipPoint corner(0.0, 2.0);
  corner.setName("corner");
  CSegment segs[4] = {a.getSegment(0), a.getSegment(1), a.getSegment(2),
                      CSegment(corner, CPipPoint(0.0, 0.0))};
  CPolygon d(segs, 4);
  ASSERT_EQ(d.getCount(), 4);
  EXPECT_TRUE(a != d);
}

TEST(CLineTest, ConnectCases) {
  struct Case {
    const char* name;
    std::vector<XY> a, b, joined;  // joined empty: not connected
  } cases[] = {
      {"end meets start", {{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}, {{0, 0}, {1, 0}, {2, 0}}},
      {"start meets end", {{1, 0}, {2, 0}}, {{0, 0}, {1, 0}}, {{0, 0}, {1, 0}, {2, 0}}},
      {"ends meet", {{0, 0}, {1, 0}}, {{2, 0}, {1, 0}}, {{0, 0}, {1, 0}, {2, 0}}},
      {"starts meet", {{1, 0}, {2, 0}}, {{1, 0}, {0, 5}}, {{0, 5}, {1, 0}, {2, 0}}},
      {"apart", {{0, 0}, {1, 0}}, {{3, 0}, {4, 0}}, {}},
      {"one-point line", {{0, 0}, {1, 0}}, {{1, 0}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLine a = LineOf(c.a), b = LineOf(c.b);
    EXPECT_EQ(a.isConnected(b), c.joined.empty() ? 0 : 1);
    EXPECT_EQ(a.connect(b), c.joined.empty() ? 0 : 1);
    if (!c.joined.empty()) {
      EXPECT_EQ(PointsOf(a), c.joined);
    }
  }
  // Equal coordinates with different names do not connect.
  CPipPoint p[2] = {CPipPoint(0.0, 0.0), CPipPoint(1.0, 0.0)};
  CPipPoint q[2] = {CPipPoint(1.0, 0.0), CPipPoint(2.0, 0.0)};
  q[0].setName("named");
  EXPECT_EQ(CLine(p, 2).isConnected(CLine(q, 2)), 0);
}

TEST(CPolyLineTest, ConnectLinesJoinsRuns) {
  CPolyLine lines;
  lines.setName("roads");
  lines.addLine(LineOf({{0, 0}, {1, 0}}));  // A -> B
  lines.addLine(LineOf({{1, 0}, {2, 1}}));  // B -> C
  lines.addLine(LineOf({{5, 5}, {6, 5}}));  // D -> E
  lines.connectLines();
  ASSERT_EQ(lines.getCount(), 2);
  EXPECT_EQ(PointsOf(lines.getLine(0)), (std::vector<XY>{{0, 0}, {1, 0}, {2, 1}}));
  EXPECT_EQ(PointsOf(lines.getLine(1)), (std::vector<XY>{{5, 5}, {6, 5}}));
  EXPECT_STREQ(lines.getName(), "roads");

  CPolyLine apart;
  apart.addLine(LineOf({{0, 0}, {1, 0}}));
  apart.addLine(LineOf({{3, 0}, {4, 0}}));
  apart.connectLines();
  EXPECT_EQ(apart.getCount(), 2);
}

TEST(CPartListTest, RunsRoundTripAndBufferLimits) {
  int xy[] = {0, 0, 1000000, 0, 1000000, 1000000, 5000000, 5000000, 6000000, 5000000};
  int counts[] = {3, 2};
  CPolyLine lines(xy, counts, 2);
  ASSERT_EQ(lines.getCount(), 2);
  EXPECT_EQ(lines.getPointCount(), 5);
  int outXy[10], outCounts[2];
  lines.get(outXy, outCounts);
  EXPECT_EQ(std::vector<int>(outXy, outXy + 10), std::vector<int>(xy, xy + 10));
  EXPECT_EQ(outCounts[1], 2);

  double xs[5], ys[5];
  int parts = -1, partCounts[2];
  EXPECT_FALSE(lines.get(xs, ys, partCounts, &parts, 4, 2));
  EXPECT_EQ(parts, 0);
  EXPECT_FALSE(lines.get(xs, ys, partCounts, &parts, 5, 1));
  EXPECT_TRUE(lines.get(xs, ys, partCounts, &parts, 5, 2));
  EXPECT_EQ(parts, 2);
  EXPECT_EQ(xs[3], 5.0);
  EXPECT_TRUE(CPolyLine(xs, ys, partCounts, 2) == lines);

  // Polygons: each run closes; get writes the distinct vertices.
  int rings[] = {0, 0,       2000000, 0,       0,       2000000, 0,
                 0, 7000000, 7000000, 8000000, 7000000, 7000000, 8000000};
  int ringCounts[] = {4, 3};
  CPolyPolygon polygons(rings, ringCounts, 2);
  ASSERT_EQ(polygons.getCount(), 2);
  EXPECT_EQ(polygons.getPolygon(0).getCount(), 3);
  EXPECT_EQ(polygons.getPolygon(1).getCount(), 3);
  EXPECT_EQ(polygons.getPointCount(), 8);
  int back[12], backCounts[2];
  polygons.get(back, backCounts);
  EXPECT_EQ(backCounts[0], 3);
  EXPECT_EQ(back[6], 7000000);
  EXPECT_EQ(polygons.getPolygon(7).getCount(), 0);  // past the end: an empty part
}

TEST(CPartListTest, EqualityNamesAndReset) {
  double xs[] = {0, 1, 1}, ys[] = {0, 0, 1};
  int counts[] = {3};
  CPolyPolygon a(xs, ys, counts, 1), b(a);
  EXPECT_TRUE(a == b);
  b.setName("b");
  EXPECT_TRUE(a != b);
  std::string longName(200, 'n');
  a.setName(longName.c_str());
  EXPECT_EQ(std::string(a.getName()), std::string(127, 'n'));
  a.setName(nullptr);
  EXPECT_EQ(std::string(a.getName()).size(), 127u);
  a.reset();
  EXPECT_EQ(a.getCount(), 0);
  EXPECT_STREQ(a.getName(), "");
  CPolygon ring(xs, ys, 3);
  ring.setName("keep");
  ring.reset();
  EXPECT_STREQ(ring.getName(), "keep");
}

TEST(GeometryDistanceTest, LinesAndPolygons) {
  double sx[] = {0, 1, 1, 0}, sy[] = {0, 0, 1, 1};
  CPolygon square(sx, sy, 4);
  CPipPoint inside(0.25, 0.5);
  // To the nearest edge (the left one), not 0.
  EXPECT_NEAR(square.minDistance(inside), 0.25 * kFeet * std::cos(0.5 * M_PI / 180), 1e-6);
  EXPECT_NEAR(inside.minDistance(&square), square.minDistance(inside), 1e-9);
  EXPECT_EQ(CPolygon().minDistance(inside), DBL_MAX);
  EXPECT_EQ(CPolygon().maxDistance(inside), DBL_MIN);

  CPolyPolygon two;
  two.addPolygon(square);
  double fx[] = {10, 11, 11}, fy[] = {0, 0, 1};
  two.addPolygon(CPolygon(fx, fy, 3));
  CPipPoint east(9.0, 0.0);
  EXPECT_NEAR(two.minDistance(east), 1.0 * kFeet, 1e-6);
  EXPECT_NEAR(two.maxDistance(east), two.getPolygon(0).maxDistance(east), 1e-9);
  // Geometry to geometry: the polygon lists' nearest segments.
  CPolyPolygon one;
  one.addPolygon(CPolygon(fx, fy, 3));
  EXPECT_NEAR(square.minDistance(&one), 9.0 * kFeet, 1e-6);
  EXPECT_NEAR(two.minDistance(&one), 0.0, 1e-9);
  CPipPoint near = two.getNearestPoint(CSegment(5, -1, 5, 2));
  EXPECT_EQ(near.getX(), 1.0);

  CMbr box;
  box.includePolyPolygon(two);
  EXPECT_EQ(box, CMbr(0, 0, 11, 1));
  CMbr lineBox;
  CPolyLine lines;
  lines.addLine(LineOf({{-1, 2}, {3, 4}}));
  lineBox.includePolyLine(lines);
  EXPECT_EQ(lineBox, CMbr(-1, 2, 3, 4));
}

TEST(CPolygonTest, CombineCases) {
  double ax[] = {0, 2, 2, 0}, ay[] = {0, 0, 2, 2};
  double bx[] = {1, 3, 3, 1}, by[] = {1, 1, 3, 3};
  CPolygon a(ax, ay, 4);
  a.setName("a");
  EXPECT_TRUE(a.combine(CPolygon(bx, by, 4)));
  EXPECT_EQ(a.getCount(), 8);
  EXPECT_STREQ(a.getName(), "a");

  CPolygon far(ax, ay, 4), before(ax, ay, 4);
  double cx[] = {10, 11, 11}, cy[] = {10, 10, 11};
  EXPECT_FALSE(far.combine(CPolygon(cx, cy, 3)));
  EXPECT_TRUE(far == before);
  double dx[] = {0, 1}, dy[] = {0, 1};
  EXPECT_FALSE(far.combine(CPolygon(dx, dy, 2)));  // two segments are not a ring
}

// combine against GEOS union: neighbouring North Carolina counties.
TEST(CPolygonTest, CombineAgreesWithGeosUnion) {
  std::vector<testsupport::ShpShape> shapes;
  std::string error;
  ASSERT_TRUE(testsupport::ReadShpRings(testsupport::SharedDataPath("nc/nc.shp"), &shapes, &error))
      << error;
  testsupport::Geos geos;
  std::vector<std::vector<testsupport::ShpPoint>> rings;
  for (const auto& s : shapes) {
    if (s.rings.size() == 1) rings.push_back(testsupport::WithoutClosingPoint(s.rings[0]));
  }
  auto polygon = [](const std::vector<testsupport::ShpPoint>& r) {
    std::vector<int> xy;
    for (const auto& p : r) {
      xy.push_back(p.x);
      xy.push_back(p.y);
    }
    return CPolygon(xy.data(), static_cast<int>(r.size()));
  };
  auto degrees = [](const std::vector<testsupport::ShpPoint>& r) {
    std::vector<XY> out;
    for (const auto& p : r) out.push_back({p.x / 1e6, p.y / 1e6});
    return out;
  };
  int combined = 0, checked = 0;
  for (size_t i = 0; i < rings.size() && checked < 150; ++i) {
    for (size_t j = i + 1; j < rings.size() && checked < 150; ++j) {
      testsupport::Geos::Geom a = geos.Polygon(degrees(rings[i]));
      testsupport::Geos::Geom b = geos.Polygon(degrees(rings[j]));
      if (!GEOSIntersects_r(geos.context(), a.get(), b.get())) continue;
      ++checked;
      testsupport::Geos::Geom u = geos.Own(GEOSUnion_r(geos.context(), a.get(), b.get()));
      bool oneRing = GEOSGeomTypeId_r(geos.context(), u.get()) == GEOS_POLYGON &&
                     GEOSGetNumInteriorRings_r(geos.context(), u.get()) == 0;
      CPolygon mine = polygon(rings[i]);
      bool ok = mine.combine(polygon(rings[j]));
      EXPECT_EQ(ok, oneRing) << i << " " << j;
      if (!ok || !oneRing) continue;
      ++combined;
      std::vector<XY> points;
      for (int k = 0; k < mine.getCount(); ++k) {
        points.push_back({mine.getPoint(k).getX(), mine.getPoint(k).getY()});
      }
      testsupport::Geos::Geom result = geos.Polygon(points);
      EXPECT_NEAR(geos.Area(result.get()), geos.Area(u.get()), 1e-9 * geos.Area(u.get()));
    }
  }
  EXPECT_GT(combined, 100);
}

}  // namespace
