// The cylindrical projections 2, 10/26, 11, 17 and the oblique cylindrical 25
// against PROJ's proj program, and the edge cases of the non-earth plane,
// longitude/latitude and the cylindrical routines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/coordsys/projection.h"
#include "support/proj_oracle.h"

namespace layerio {
namespace {

using testsupport::HaveProj;
using testsupport::ProjEllipsoid;
using testsupport::RunProjLines;

constexpr int kWgs84Ellipsoid = 28;
constexpr int kClarke1866Ellipsoid = 7;

// An earth system on the given ellipsoid (no datum shift terms), projected
// unit and parameters.
CoordSys Earth(int projection, int ellipsoid, std::vector<double> params, int unit = kUnitMetre) {
  CoordSysParams block;
  CoordSysParamsClear(&block);
  block.datum.ellipsoid = uint8_t(ellipsoid);
  block.projectedUnit = uint16_t(unit);
  for (size_t i = 0; i < params.size(); ++i) block.params[i] = params[i];
  CoordSys cs;
  CoordSysInit(&cs, projection, &block);
  return cs;
}

std::string Figure(const CoordSys& cs, bool sphere) {
  if (sphere || cs.ellipsoid.f == 0) return ProjEllipsoid(cs.ellipsoid.a, 0);
  return ProjEllipsoid(cs.ellipsoid.a, 1.0 / cs.ellipsoid.f);
}

struct OracleCase {
  const char* name;
  int projection;
  std::vector<double> params;
  const char* proj;  // PROJ's words for the same projection, ellipsoid apart
  bool sphere;       // the projection works on the sphere of radius a
  double lonHalfWidth, latLow, latHigh;  // domain around the origin longitude
  double latCentre;                      // added to the random latitudes
};

const OracleCase kOracleCases[] = {
    {"cea", 2, {-20, 0}, "+proj=cea +lon_0=-20", true, 179, -88, 88, 0},
    {"cea_lat_ts", 2, {15, 30}, "+proj=cea +lon_0=15 +lat_ts=30", true, 179, -88, 88, 0},
    {"merc", 10, {0}, "+proj=merc +lon_0=0", false, 179, -85, 85, 0},
    {"merc_lon0", 10, {-96}, "+proj=merc +lon_0=-96", false, 179, -85, 85, 0},
    {"merc_lat_ts", 26, {12, 41.5}, "+proj=merc +lon_0=12 +lat_ts=41.5", false, 179, -85, 85, 0},
    {"mill", 11, {30}, "+proj=mill +lon_0=30", true, 179, -89, 89, 0},
    {"gall", 17, {-45}, "+proj=gall +lon_0=-45", true, 179, -89, 89, 0},
    {"somerc_swiss", 25, {7.439583333333333, 46.952405555555556, 600000, 200000},
     "+proj=somerc +lat_0=46.952405555555556 +lon_0=7.439583333333333 +x_0=600000 "
     "+y_0=200000 +k_0=1",
     false, 12, -10, 10, 46.95},
    {"somerc_south", 25, {-60, -30, 0, 0},
     "+proj=somerc +lat_0=-30 +lon_0=-60 +x_0=0 +y_0=0 +k_0=1", false, 20, -20, 20, -30},
};

std::vector<std::vector<double>> RandomLonLat(const OracleCase& c, double lon0, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> lon(-c.lonHalfWidth, c.lonHalfWidth);
  std::uniform_real_distribution<double> lat(c.latLow, c.latHigh);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 200; ++i) rows.push_back({lon0 + lon(random), c.latCentre + lat(random)});
  return rows;
}

TEST(CylindricalOracle, ForwardAndInverseAgreeWithProj) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  for (const OracleCase& c : kOracleCases) {
    for (int ellipsoid : {kWgs84Ellipsoid, kClarke1866Ellipsoid}) {
      SCOPED_TRACE(std::string(c.name) + " on ellipsoid " + std::to_string(ellipsoid));
      CoordSys cs = Earth(c.projection, ellipsoid, c.params);
      std::string words = std::string(c.proj) + " " + Figure(cs, c.sphere);
      auto lonLat = RandomLonLat(c, c.params[0], 20260 + ellipsoid);
      std::vector<std::vector<double>> expectXY, expectLonLat;
      ASSERT_TRUE(RunProjLines("proj -f %.10f " + words, lonLat, &expectXY));
      std::vector<std::vector<double>> xy;
      for (size_t i = 0; i < lonLat.size(); ++i) {
        DPoint p{lonLat[i][0], lonLat[i][1]}, q;
        cs.forwardPoints(&p, &q, &cs, 1);
        ASSERT_EQ(expectXY[i].size(), 2u);
        EXPECT_NEAR(q.x, expectXY[i][0], 1e-3) << "lon " << p.x << " lat " << p.y;
        EXPECT_NEAR(q.y, expectXY[i][1], 1e-3) << "lon " << p.x << " lat " << p.y;
        xy.push_back({q.x, q.y});
      }
      ASSERT_TRUE(RunProjLines("proj -I -f %.12f " + words, xy, &expectLonLat));
      for (size_t i = 0; i < xy.size(); ++i) {
        DPoint p{xy[i][0], xy[i][1]}, g;
        cs.inversePoints(&p, &g, &cs, 1);
        ASSERT_EQ(expectLonLat[i].size(), 2u);
        // PROJ gives longitudes within -180..180, these routines within -360..360.
        EXPECT_NEAR(std::remainder(g.x - expectLonLat[i][0], 360.0), 0, 1e-8)
            << "x " << p.x << " y " << p.y;
        EXPECT_NEAR(g.y, expectLonLat[i][1], 1e-8) << "x " << p.x << " y " << p.y;
      }
    }
  }
}

// The scale routines give the scale along the parallel, PROJ's k (printed
// with six digits by proj -S).
TEST(CylindricalOracle, ScaleFactorsAgreeWithProj) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  for (const OracleCase& c : kOracleCases) {
    SCOPED_TRACE(c.name);
    CoordSys cs = Earth(c.projection, kWgs84Ellipsoid, c.params);
    std::string words = std::string(c.proj) + " " + Figure(cs, c.sphere);
    auto rows = RandomLonLat(c, c.params[0], 7);
    rows.resize(40);
    std::vector<std::vector<double>> out;
    ASSERT_TRUE(RunProjLines("proj -S -f %.6f " + words, rows, &out));
    for (size_t i = 0; i < rows.size(); ++i) {
      DPoint p{rows[i][0], rows[i][1]};
      // "x y <h k s omega a b>": the parallel scale k is the fourth number.
      ASSERT_GE(out[i].size(), 4u);
      double k = out[i][3];
      EXPECT_NEAR(cs.scaleFactor(&cs, &p), k, 1e-5 * k) << "lon " << p.x << " lat " << p.y;
    }
  }
}

TEST(Cylindrical, ConvertInPlaceAndZeroCount) {
  CoordSys cs = Earth(10, kWgs84Ellipsoid, {5});
  DPoint points[3] = {{10, 20}, {-30, 40}, {0, -60}}, copy[3];
  std::memcpy(copy, points, sizeof points);
  DPoint separate[3];
  cs.forwardPoints(copy, separate, &cs, 3);
  cs.forwardPoints(points, points, &cs, 3);
  EXPECT_EQ(0, std::memcmp(points, separate, sizeof points));
  DPoint untouched{1, 2};
  EXPECT_EQ(0, cs.forwardPoints(&untouched, &untouched, &cs, 0));
  EXPECT_EQ(1, untouched.x);
}

TEST(Cylindrical, MercatorPolesGiveSentinelsInTheSystemUnit) {
  constexpr int kKilometre = 1;  // unit table: km is code 1
  for (int unit : {kUnitMetre, kKilometre}) {
    CoordSys cs = Earth(10, kWgs84Ellipsoid, {0}, unit);
    double oneMetre;
    UnitConvert(&oneMetre, unit, 1.0, kUnitMetre);
    DPoint p[2] = {{10, 90}, {10, -90}};
    cs.forwardPoints(p, p, &cs, 2);
    EXPECT_DOUBLE_EQ(p[0].y, 1e9 * oneMetre);
    EXPECT_DOUBLE_EQ(p[1].y, -1e9 * oneMetre);
  }
}

TEST(Cylindrical, MercatorInverseBeyondExponentRangeGivesThePole) {
  CoordSys cs = Earth(10, kWgs84Ellipsoid, {0});
  double a = cs.ellipsoid.a;
  DPoint p[2] = {{0, 308 * a}, {0, -309 * a}};
  cs.inversePoints(p, p, &cs, 2);
  EXPECT_EQ(p[0].y, 90.0);
  EXPECT_EQ(p[1].y, -90.0);
}

TEST(Cylindrical, MercatorTenEqualsTwentySixOnTheEquator) {
  CoordSys ten = Earth(10, kWgs84Ellipsoid, {-75});
  CoordSys twentySix = Earth(26, kWgs84Ellipsoid, {-75, 0});
  DPoint points[] = {{-80, 0}, {-70, 33}, {100, -70}};
  for (DPoint p : points) {
    DPoint a, b;
    ten.forwardPoints(&p, &a, &ten, 1);
    twentySix.forwardPoints(&p, &b, &twentySix, 1);
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
  }
  DPoint equator{-75, 0};
  EXPECT_EQ(ten.scaleFactor(&ten, &equator), 1.0);
}

TEST(Cylindrical, EqualAreaStandardParallelOnAPoleActsAsTheEquator) {
  CoordSys equator = Earth(2, kWgs84Ellipsoid, {0, 0});
  for (double pole : {90.0, -90.0}) {
    CoordSys cs = Earth(2, kWgs84Ellipsoid, {0, pole});
    EXPECT_EQ(cs.k[2], 1.0);
    DPoint p{45, 30}, a, b;
    cs.forwardPoints(&p, &a, &cs, 1);
    equator.forwardPoints(&p, &b, &equator, 1);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_TRUE(std::isfinite(a.x) && std::isfinite(a.y));
  }
}

TEST(Cylindrical, ScaleFactorsAtThePoles) {
  struct Row {
    int projection;
    std::vector<double> params;
  };
  const Row rows[] = {{1, {0}}, {2, {0, 30}}, {10, {0}}, {26, {0, 20}}, {11, {0}}, {17, {0}},
                      {25, {7, 46, 0, 0}}};
  for (const Row& r : rows) {
    CoordSys cs = Earth(r.projection, kWgs84Ellipsoid, r.params);
    for (double lat : {90.0, -90.0, 120.0}) {
      DPoint p{10, lat};
      EXPECT_EQ(cs.scaleFactor(&cs, &p), 1e9) << "projection " << r.projection << " lat " << lat;
    }
  }
  CoordSys plane = Earth(0, kWgs84Ellipsoid, {});
  DPoint pole{0, 90};
  EXPECT_EQ(plane.scaleFactor(&plane, &pole), 1.0);
  // Spot values of the own scale routines.
  DPoint at60{0, 60};
  CoordSys cea = Earth(2, kWgs84Ellipsoid, {0, 30});
  EXPECT_NEAR(cea.scaleFactor(&cea, &at60), std::cos(30 * kDegToRad) / 0.5, 1e-12);
  CoordSys gall = Earth(17, kWgs84Ellipsoid, {0});
  EXPECT_NEAR(gall.scaleFactor(&gall, &at60), 1 / (std::sqrt(2.0) * 0.5), 1e-12);
}

TEST(Cylindrical, LongitudesAreClampedBothWays) {
  for (int projection : {1, 2, 10, 11, 17}) {
    CoordSys cs = Earth(projection, kWgs84Ellipsoid, {0, 0});
    DPoint p[2] = {{400, 10}, {360, 10}};
    cs.forwardPoints(p, p, &cs, 2);
    EXPECT_EQ(p[0].x, p[1].x) << "projection " << projection;
    EXPECT_EQ(p[0].y, p[1].y) << "projection " << projection;
    // An x far beyond the world gives a longitude clamped to 360.
    DPoint far[2] = {{1e9, 0}, {-1e9, 0}};
    if (projection == 1) far[0].x = 1e3, far[1].x = -1e3;
    cs.inversePoints(far, far, &cs, 2);
    EXPECT_EQ(far[0].x, 360.0) << "projection " << projection;
    EXPECT_EQ(far[1].x, -360.0) << "projection " << projection;
  }
}

TEST(Cylindrical, ReversedRectangleComesOutNormalised) {
  CoordSys cs = Earth(10, kWgs84Ellipsoid, {0});
  DRect in{30, 60, -30, -60}, out;
  cs.forwardRect(&in, &out, &cs);
  EXPECT_LT(out.x1, out.x2);
  EXPECT_LT(out.y1, out.y2);
  DPoint corner{-30, -60}, expected;
  cs.forwardPoints(&corner, &expected, &cs, 1);
  EXPECT_EQ(out.x1, expected.x);
  EXPECT_EQ(out.y1, expected.y);
  DRect back;
  cs.inverseRect(&out, &back, &cs);
  EXPECT_NEAR(back.x1, -30, 1e-9);
  EXPECT_NEAR(back.y2, 60, 1e-9);
}

CoordSys NonEarth(int quadrant2, int unit) {
  CoordSysParams block;
  CoordSysParamsClear(&block);
  block.nonEarth.one = 1;
  block.nonEarth.quadrant = 1;
  block.nonEarth.unit = uint16_t(unit);
  block.nonEarth.quadrant2 = uint8_t(quadrant2);
  CoordSys cs;
  CoordSysInit(&cs, 0, &block);
  return cs;
}

TEST(NonEarth, QuadrantThreeNegatesBothWaysAndRoundTrips) {
  CoordSys cs = NonEarth(3, kUnitDegree);
  DPoint p{12.5, -3}, g, back;
  cs.inversePoints(&p, &g, &cs, 1);
  EXPECT_EQ(g.x, -12.5);
  EXPECT_EQ(g.y, 3);
  cs.forwardPoints(&g, &back, &cs, 1);
  EXPECT_EQ(back.x, p.x);
  EXPECT_EQ(back.y, p.y);
  EXPECT_EQ(cs.flags & kCsNoDatum, kCsNoDatum);
}

TEST(NonEarth, PlaneLengthsPassAsDegreesOfTheUnitTable) {
  CoordSys cs = NonEarth(1, kUnitMetre);
  DPoint p{1000, 250}, g, back;
  cs.inversePoints(&p, &g, &cs, 1);
  double expected;
  UnitConvert(&expected, kUnitDegree, 1000, kUnitMetre);
  EXPECT_DOUBLE_EQ(g.x, expected);
  cs.forwardPoints(&g, &back, &cs, 1);
  EXPECT_NEAR(back.x, 1000, 1e-9);
  EXPECT_NEAR(back.y, 250, 1e-9);
  DPoint beyond{1e7, 0};  // no clamp: a plane is not a globe
  cs.inversePoints(&beyond, &beyond, &cs, 1);
  cs.forwardPoints(&beyond, &beyond, &cs, 1);
  EXPECT_NEAR(beyond.x, 1e7, 1e-6);
}

TEST(LonLat, ClampsOnlyAndKeepsTheStretchFactor) {
  CoordSysParams block;
  CoordSysParamsDefault(&block);
  block.params[0] = 60;
  CoordSys cs;
  CoordSysInit(&cs, 1, &block);
  EXPECT_NEAR(cs.k[0], 0.5, 1e-15);
  block.params[0] = 89;  // the stretch stops at 80 degrees
  CoordSysInit(&cs, 1, &block);
  EXPECT_NEAR(cs.k[0], std::cos(80 * kDegToRad), 1e-15);
  DPoint p[2] = {{-500, 95}, {12.25, -45.5}};
  cs.forwardPoints(p, p, &cs, 2);
  EXPECT_EQ(p[0].x, -360);
  EXPECT_EQ(p[0].y, 90);
  EXPECT_EQ(p[1].x, 12.25);
  EXPECT_EQ(p[1].y, -45.5);
}

}  // namespace
}  // namespace layerio
