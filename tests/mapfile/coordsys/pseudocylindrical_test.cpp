// Robinson (12), Mollweide (13), Eckert IV (14), Eckert VI (15), sinusoidal
// (16) and the equator-probing rectangles, with PROJ as the oracle.
#include "mapfile/coordsys/pseudocylindrical.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/mapfile/coordsys/pseudo_oblique_support.h"

namespace {

using layerio::CoordSys;
using layerio::DPoint;
using layerio::DRect;
using pseudotest::MakeSystem;
using pseudotest::RandomPoints;

constexpr double kA = 6378137.0;
constexpr double kOrigin = 10.0;  // origin longitude of the systems below

CoordSys World(int projection) { return MakeSystem(projection, {kOrigin}, kA, 0); }

DPoint Forward(const CoordSys& cs, double lon, double lat) {
  DPoint p{lon, lat};
  cs.forwardPoints(&p, &p, &cs, 1);
  return p;
}

DPoint Inverse(const CoordSys& cs, double x, double y) {
  DPoint p{x, y};
  cs.inversePoints(&p, &p, &cs, 1);
  return p;
}

TEST(Robinson, TableRowsAndInterpolation) {
  EXPECT_EQ(layerio::RobinsonTable[0][0], 1.0);
  EXPECT_EQ(layerio::RobinsonTable[18][0], 0.5322);
  EXPECT_EQ(layerio::RobinsonTable[18][1], 1.0);
  EXPECT_EQ(layerio::RobinsonTable[19][0], layerio::RobinsonTable[18][0]);
  EXPECT_EQ(layerio::RobinsonTable[19][1], layerio::RobinsonTable[18][1]);
  for (int i = 0; i + 1 < 19; ++i) {
    EXPECT_LT(layerio::RobinsonTable[i + 1][0], layerio::RobinsonTable[i][0]) << i;
    EXPECT_GT(layerio::RobinsonTable[i + 1][1], layerio::RobinsonTable[i][1]) << i;
  }
  CoordSys cs = World(12);
  double dl = 30 * layerio::kDegToRad;
  DPoint pole = Forward(cs, kOrigin + 30, 90);
  EXPECT_DOUBLE_EQ(pole.y, 1.3523 * kA);
  EXPECT_DOUBLE_EQ(pole.x, dl * 0.8487 * kA * 0.5322);
  DPoint south = Forward(cs, kOrigin + 30, -90);
  EXPECT_DOUBLE_EQ(south.y, -1.3523 * kA);
  DPoint row9 = Forward(cs, kOrigin + 30, 45);
  EXPECT_DOUBLE_EQ(row9.y, 1.3523 * kA * 0.5571);
  EXPECT_DOUBLE_EQ(row9.x, dl * 0.8487 * kA * 0.8962);
  DPoint half = Forward(cs, kOrigin + 30, 2.5);
  EXPECT_NEAR(half.y, 1.3523 * kA * 0.031, 1e-6);
  EXPECT_NEAR(half.x, dl * 0.8487 * kA * 0.9993, 1e-6);
}

TEST(Robinson, InverseBeyondThePoleLine) {
  CoordSys cs = World(12);
  for (double y : {1.3523 * kA, 1.5 * kA, 1e12}) {
    double x = 0.8487 * kA * 0.5322 * (20 * layerio::kDegToRad);
    DPoint north = Inverse(cs, x, y);
    EXPECT_EQ(north.y, 90.0);
    EXPECT_NEAR(north.x, kOrigin + 20, 1e-9);
    DPoint south = Inverse(cs, x, -y);
    EXPECT_EQ(south.y, -90.0);
  }
}

// The Newton iterations converge at once on the equator, stay finite at and
// next to the poles (where they converge slowly), and the inverses find the
// poles again.
TEST(PseudoCylindrical, EquatorAndPoles) {
  for (int projection : {12, 13, 14, 15, 16}) {
    SCOPED_TRACE(projection);
    CoordSys cs = World(projection);
    EXPECT_EQ(Forward(cs, kOrigin + 50, 0).y, 0.0);
    for (double lat : {90.0, -90.0, 89.9999999, -89.9999999, 89.99, 1e-12, -1e-300}) {
      DPoint p = Forward(cs, kOrigin + 123, lat);
      EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << lat;
      DPoint back = Inverse(cs, p.x, p.y);
      EXPECT_TRUE(std::isfinite(back.x) && std::isfinite(back.y)) << lat;
      // y is flat in the latitude at the poles: a last-bit change of y moves
      // the latitude by about 1e-6 degrees there.
      EXPECT_NEAR(back.y, lat, 1e-5) << lat;
      DPoint g{kOrigin + 123, lat};
      double k = cs.scaleFactor(&cs, &g);
      EXPECT_TRUE(std::isfinite(k)) << lat;
    }
    for (double lat : {90.0, -90.0, 100.0}) {
      DPoint g{kOrigin, lat};
      if (projection != 16) {
        EXPECT_EQ(cs.scaleFactor(&cs, &g), layerio::kSingular) << lat;
      }
    }
  }
  CoordSys moll = World(13);
  EXPECT_EQ(Inverse(moll, 0, std::sqrt(2.0) * kA).y, 90.0);
  EXPECT_EQ(Inverse(moll, 0, -std::sqrt(2.0) * kA).y, -90.0);
  EXPECT_EQ(Inverse(moll, 0, std::sqrt(2.0) * kA).x, kOrigin);
}

TEST(PseudoCylindrical, InverseOfForwardIsTheStartingPoint) {
  for (int projection : {12, 13, 14, 15, 16}) {
    SCOPED_TRACE(projection);
    CoordSys cs = World(projection);
    for (const DPoint& g : RandomPoints(2000, kOrigin - 179.9, kOrigin + 179.9, -89.9, 89.9)) {
      DPoint p = Forward(cs, g.x, g.y);
      DPoint back = Inverse(cs, p.x, p.y);
      ASSERT_NEAR(back.x, g.x, 1e-8) << g.x << " " << g.y;
      ASSERT_NEAR(back.y, g.y, 1e-8) << g.x << " " << g.y;
    }
  }
}

// Parallels are straight and x is linear in the longitude, so the scale
// along a parallel is dx/dlambda / (a cos phi).
TEST(PseudoCylindrical, ScaleIsTheParallelScale) {
  for (int projection : {12, 13, 14, 15}) {
    SCOPED_TRACE(projection);
    CoordSys cs = World(projection);
    for (double lat : {0.0, 12.5, -33.0, 45.0, 61.2, -75.0, 88.0}) {
      double dx = Forward(cs, kOrigin + 1, lat).x - Forward(cs, kOrigin, lat).x;
      double expected = dx / (layerio::kDegToRad * kA * std::cos(lat * layerio::kDegToRad));
      DPoint g{kOrigin + 40, lat};
      EXPECT_NEAR(cs.scaleFactor(&cs, &g), expected, 1e-9 * expected) << lat;
    }
  }
  CoordSys sinu = World(16);
  DPoint g{kOrigin + 40, 60};
  EXPECT_EQ(sinu.scaleFactor(&sinu, &g), 1.0);
}

struct OracleCase {
  int projection;
  const char* proj;
  double tolerance;  // metres
  bool fivesOnly;    // latitudes at multiples of 5 degrees only
};

// PROJ's Robinson at the table's latitudes gives the table's values rounded
// to single precision (0.4958 becomes 0.49579998), up to half a metre at the
// map's edge: its tolerance adds that rounding, a relative 2^-24.
double Allowed(const OracleCase& c, double value) {
  return c.projection == 12 ? c.tolerance + std::fabs(value) * 0x1p-24 : c.tolerance;
}

// 200 random points over the whole world, on a sphere of radius a.
TEST(PseudoCylindrical, MatchesProj) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  const OracleCase cases[] = {
      {16, "sinu", 1e-3, false}, {12, "robin", 0.05, true}, {13, "moll", 1.0, false},
      {14, "eck4", 1.0, false},  {15, "eck6", 1.0, false},
  };
  for (const OracleCase& c : cases) {
    SCOPED_TRACE(c.proj);
    for (double a : {kA, 6370997.0}) {
      CoordSys cs = MakeSystem(c.projection, {kOrigin}, a, 0);
      std::vector<DPoint> points = RandomPoints(200, kOrigin - 179, kOrigin + 179, -90, 90);
      if (c.fivesOnly)
        for (DPoint& p : points) p.y = std::round(p.y / 5) * 5;
      std::string args =
          "-f %.6f +proj=" + std::string(c.proj) + " +lon_0=10 " + testsupport::ProjEllipsoid(a, 0);
      std::vector<std::vector<double>> expected;
      ASSERT_TRUE(pseudotest::RunProj(args, points, &expected));
      for (size_t i = 0; i < points.size(); ++i) {
        DPoint p = Forward(cs, points[i].x, points[i].y);
        ASSERT_NEAR(p.x, expected[i][0], Allowed(c, p.x)) << points[i].x << " " << points[i].y;
        ASSERT_NEAR(p.y, expected[i][1], Allowed(c, p.y)) << points[i].x << " " << points[i].y;
      }
    }
  }
}

// A forward routine that records its points shows which points the rectangle
// routine sampled.
struct RectCase {
  double y1, y2;
  int expectedPoints;
};

TEST(EquatorRect, ProbesTheEquatorOnlyWhenTheRectangleStraddlesIt) {
  CoordSys cs = World(13);
  cs.forwardPoints = pseudotest::RecordPoints;
  cs.inversePoints = pseudotest::RecordPoints;
  cs.probeY0 = 0.0;
  const RectCase cases[] = {{-10, 10, 6}, {10, 20, 4}, {0, 20, 4}, {-20, 0, 4}, {-90, 90, 6}};
  for (const RectCase& c : cases) {
    DRect in{-30, c.y1, 40, c.y2}, out;
    pseudotest::RecordedPoints().clear();
    layerio::RectForwardEquator(&in, &out, &cs);
    EXPECT_EQ(int(pseudotest::RecordedPoints().size()), c.expectedPoints) << c.y1 << " " << c.y2;
    EXPECT_EQ(out.x1, -30);
    EXPECT_EQ(out.x2, 40);
  }
  // The inverse probes the projected y of the equator (Y0), not 0.
  cs.probeY0 = 500.0;
  DRect in{-30, 0, 40, 1000}, out;
  pseudotest::RecordedPoints().clear();
  layerio::RectInverseEquator(&in, &out, &cs);
  ASSERT_EQ(pseudotest::RecordedPoints().size(), 6u);
  EXPECT_EQ(pseudotest::RecordedPoints()[4].y, 500.0);
  pseudotest::RecordedPoints().clear();
  DRect above{-30, 500, 40, 1000};
  layerio::RectInverseEquator(&above, &out, &cs);
  EXPECT_EQ(pseudotest::RecordedPoints().size(), 4u);
}

TEST(EquatorRect, ForwardReachesTheEquatorWidth) {
  for (int projection : {12, 13, 14, 15, 16}) {
    SCOPED_TRACE(projection);
    CoordSys cs = World(projection);
    DRect across{kOrigin - 100, -10, kOrigin + 100, 10}, out;
    cs.forwardRect(&across, &out, &cs);
    EXPECT_DOUBLE_EQ(out.x2, Forward(cs, kOrigin + 100, 0).x);
    EXPECT_DOUBLE_EQ(out.x1, Forward(cs, kOrigin - 100, 0).x);
    EXPECT_DOUBLE_EQ(out.y2, Forward(cs, kOrigin, 10).y);
    DRect north{kOrigin - 100, 10, kOrigin + 100, 20};
    cs.forwardRect(&north, &out, &cs);
    EXPECT_DOUBLE_EQ(out.x2, Forward(cs, kOrigin + 100, 10).x);
    // Back again: the inverse rectangle of the image covers the rectangle.
    DRect image;
    cs.forwardRect(&across, &image, &cs);
    cs.inverseRect(&image, &out, &cs);
    EXPECT_LE(out.x1, kOrigin - 100 + 1e-9);
    EXPECT_GE(out.x2, kOrigin + 100 - 1e-9);
    EXPECT_NEAR(out.y1, -10, 1e-9);
    EXPECT_NEAR(out.y2, 10, 1e-9);
  }
}

TEST(PseudoCylindrical, DispatchedThroughCoordSysInit) {
  layerio::CoordSysParams block;
  layerio::CoordSysParamsClear(&block);
  block.datum.ellipsoid = 12;  // the sphere of radius 6370997
  block.projectedUnit = layerio::kUnitMetre;
  block.params[0] = kOrigin;
  for (int projection : {12, 13, 14, 15, 16}) {
    SCOPED_TRACE(projection);
    CoordSys viaInit;
    layerio::CoordSysInit(&viaInit, projection, &block);
    CoordSys byHand = MakeSystem(projection, {kOrigin}, 6370997.0, 0);
    DPoint a = Forward(viaInit, 47, -31), b = Forward(byHand, 47, -31);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(viaInit.forwardRect, &layerio::RectForwardEquator);
    EXPECT_EQ(viaInit.inverseRect, &layerio::RectInverseEquator);
    EXPECT_EQ(viaInit.centralMeridian, kOrigin);
    EXPECT_EQ(viaInit.probeY0, 0.0);
  }
}

}  // namespace
