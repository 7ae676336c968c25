// Distances: planar in a system's own unit, on the sphere through
// longitude/latitude otherwise, with PROJ's geod on the sphere of the unit
// table's degree (radius 6,370,997 m) as the oracle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "support/proj_oracle.h"

namespace layerio {
namespace {

void NonEarthMetres(CoordSys* cs) {
  CoordSysParams block;
  memset(&block, 0, sizeof block);
  block.nonEarth.one = 1;
  block.nonEarth.quadrant = 1;
  block.nonEarth.unit = kUnitMetre;
  block.nonEarth.quadrant2 = 1;
  CoordSysInit(cs, 0, &block);
  CoordSysSetBounds(cs, 0, 0, 10, 10);
}

void Earth(CoordSys* cs, int projection, double half) {
  CoordSysParams block;
  memset(&block, 0, sizeof block);
  DatumRecordGet(104, &block.datum);
  block.projectedUnit = kUnitMetre;
  block.lonLatQuadrant = 2;
  CoordSysInit(cs, projection, &block);
  CoordSysSetBounds(cs, -half, -half, half, half);
}

constexpr int kMile = 0, kKilometre = 1, kFoot = 3;

TEST(DistanceTest, PlanarInANonEarthSystemInAnyLinearUnit) {
  CoordSys cs;
  NonEarthMetres(&cs);
  const DPoint p{0, 0}, q{3, 4};
  struct {
    int unit;
    double expected;
  } rows[] = {{kUnitMetre, 5}, {kKilometre, 0.005}, {kFoot, 5 / 0.3048}, {kMile, 5 / 1609.344}};
  for (const auto& row : rows) {
    int formula = -1;
    EXPECT_NEAR(CoordSysDistance(&p, &q, &cs, row.unit, kUnitMetre, 0, &formula, 0), row.expected,
                1e-12 * row.expected)
        << row.unit;
    EXPECT_EQ(formula, 1);
  }
  // Points given in feet are measured in feet.
  const DPoint pf{0, 0}, qf{30, 40};
  EXPECT_NEAR(CoordSysDistance(&pf, &qf, &cs, kFoot, kFoot, 0, nullptr, 0), 50, 1e-12);
  // Integer points pass the system's scale first: 2e8 integers per metre.
  const IPoint a{-1000000000, -1000000000}, b{-400000000, -200000000};
  EXPECT_NEAR(CoordIntDistance(&a, &b, &cs, kUnitMetre, 0, nullptr, 0), 5, 1e-9);
}

TEST(DistanceTest, SphericalRules) {
  CoordSys lonLat;
  Earth(&lonLat, 1, 180);
  struct Row {
    const char* name;
    DPoint p, q;
    double metres;
  } rows[] = {
      {"quarter of the equator", {0, 0}, {90, 0}, 10007539},
      {"same north pole", {0, 90}, {120, 90}, 0},
      {"same south pole, one beyond", {-10, -90}, {50, -95}, 0},
      {"equal points", {12.5, -33.25}, {12.5, -33.25}, 0},
      {"pole to pole", {0, 90}, {0, -90}, 20015077},
  };
  for (const Row& row : rows) {
    int formula = -1;
    double d = CoordSysDistance(&row.p, &row.q, &lonLat, kUnitMetre, kUnitDegree, 0, &formula, 0);
    EXPECT_EQ(std::round(d), row.metres) << row.name;
    EXPECT_EQ(formula, 0) << row.name;
  }
}

TEST(DistanceTest, ModeChoosesPlaneOrSphere) {
  CoordSys mercator, lonLat;
  Earth(&mercator, 10, 2e7);
  Earth(&lonLat, 1, 180);
  // Two points of the Mercator plane 1000 km apart at 60 degrees north.
  DPoint ll[2] = {{0, 60}, {10, 60}}, m[2];
  LonLatToUnits(ll, m, &mercator, 2);
  int formula = -1;
  double planar = CoordSysDistance(&m[0], &m[1], &mercator, kUnitMetre, kUnitMetre, 1, &formula, 0);
  EXPECT_EQ(formula, 1);
  EXPECT_NEAR(planar, m[1].x - m[0].x, 1e-6);
  double sphere = CoordSysDistance(&m[0], &m[1], &mercator, kUnitMetre, kUnitMetre, 0, &formula, 0);
  EXPECT_EQ(formula, 0);
  double direct = CoordSysDistance(&ll[0], &ll[1], &lonLat, kUnitMetre, kUnitDegree, 0, nullptr, 0);
  EXPECT_NEAR(sphere, direct, 1e-6);
  EXPECT_LT(sphere, planar * 0.6);  // the plane stretches by 1/cos 60
  // Mode 1 in a longitude/latitude system still measures on the sphere,
  // flat only when the approximation is asked for.
  EXPECT_EQ(CoordSysDistance(&ll[0], &ll[1], &lonLat, kUnitMetre, kUnitDegree, 1, &formula, 0),
            direct);
  EXPECT_EQ(formula, 0);
  double flat = CoordSysDistance(&ll[0], &ll[1], &lonLat, kUnitMetre, kUnitDegree, 1, &formula, 1);
  EXPECT_EQ(formula, 2);
  EXPECT_NEAR(flat, direct, direct * 1e-3);
  // Mode 0 with the approximation flag is still the haversine.
  CoordSysDistance(&ll[0], &ll[1], &lonLat, kUnitMetre, kUnitDegree, 0, &formula, 1);
  EXPECT_EQ(formula, 0);
}

TEST(DistanceTest, AgreesWithGeodOnTheSphere) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  CoordSys lonLat;
  Earth(&lonLat, 1, 180);
  std::mt19937 random(20261211);
  std::uniform_real_distribution<double> lon(-180, 180), lat(-89, 89), near(-0.01, 0.01);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 200; ++i) {
    double x1 = lon(random), y1 = lat(random);
    // One pair in four lies close together, where relative errors show first.
    double x2 = i % 4 ? lon(random) : x1 + near(random);
    double y2 = i % 4 ? lat(random) : y1 + near(random);
    rows.push_back({y1, x1, y2, x2});
  }
  std::vector<std::vector<double>> out;
  ASSERT_TRUE(testsupport::RunProjLines("geod -I +R=6370997 -f %.12f -F %.9f", rows, &out));
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(out[i].size(), 3u);
    DPoint p{rows[i][1], rows[i][0]}, q{rows[i][3], rows[i][2]};
    double d = CoordSysDistance(&p, &q, &lonLat, kUnitMetre, kUnitDegree, 0, nullptr, 0);
    // The relative bound, and geod's last printed digit for short pairs.
    EXPECT_NEAR(d, out[i][2], std::fmax(1e-9 * out[i][2], 1e-9)) << i;
  }
}

}  // namespace
}  // namespace layerio
