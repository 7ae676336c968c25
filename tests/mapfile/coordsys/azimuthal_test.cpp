// The azimuthal projections: equidistant (5, 28), Lambert equal-area (4, 29),
// stereographic (20), double stereographic (31) and their sampled
// rectangles.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/mapfile/coordsys/projection_cases.h"

namespace layerio {
namespace {

using projtest::CheckAgainstProj;
using projtest::Forward;
using projtest::Inverse;
using projtest::MakeSystem;
using projtest::OracleCase;

constexpr int kGrs80 = 0, kKrassovsky = 3, kBessel = 10, kSphere = 12, kWgs84 = 28;
constexpr double kMm = 0.001;

std::vector<OracleCase> AzimuthalCases() {
  std::vector<OracleCase> cases = {
      {"aeqd oblique", 5, kGrs80, {10, 50, 90}, kUnitMetre, "aeqd +lon_0=10 +lat_0=50", -180,
       180, -90, 90, 10, 50, 85, false, kMm, true},
      {"aeqd oblique, 28", 28, kGrs80, {-70, -20, 150}, kUnitMetre,
       "aeqd +lon_0=-70 +lat_0=-20", -180, 180, -90, 90, -70, -20, 145, false, kMm, true},
      {"aeqd north polar", 5, kWgs84, {30, 90, 180}, kUnitMetre, "aeqd +lon_0=30 +lat_0=90",
       -180, 180, -85, 90, 0, 0, 0, false, kMm, true},
      {"aeqd south polar", 5, kWgs84, {-30, -90, 100}, kUnitMetre, "aeqd +lon_0=-30 +lat_0=-90",
       -180, 180, -90, 0, 0, 0, 0, false, kMm, true},
      {"laea oblique", 4, kGrs80, {10, 52, 90}, kUnitMetre, "laea +lon_0=10 +lat_0=52", -180, 180,
       -90, 90, 10, 52, 85, false, kMm},
      {"laea oblique, 29", 29, kGrs80, {-100, -45, 120}, kUnitMetre,
       "laea +lon_0=-100 +lat_0=-45", -180, 180, -90, 90, -100, -45, 115, false, kMm},
      {"laea north polar", 4, kWgs84, {0, 90, 90}, kUnitMetre, "laea +lon_0=0 +lat_0=90", -180,
       180, 5, 90, 0, 0, 0, false, kMm},
      {"laea south polar", 29, kWgs84, {45, -90, 60}, kUnitMetre, "laea +lon_0=45 +lat_0=-90",
       -180, 180, -90, -35, 0, 0, 0, false, kMm},
      {"laea sphere", 4, kSphere, {-100, 45, 120}, kUnitMetre, "laea +lon_0=-100 +lat_0=45", -180,
       180, -90, 90, -100, 45, 115, false, kMm},
      {"stere oblique", 20, kBessel, {5.387638889, 52.156160556, 0.9999079, 155000, 463000},
       kUnitMetre, "stere +lon_0=5.387638889 +lat_0=52.156160556 +k_0=0.9999079 +x_0=155000 "
       "+y_0=463000", -180, 180, -90, 90, 5.4, 52.2, 40, true, kMm},
      {"stere equatorial", 20, kGrs80, {20, 0, 1, 0, 0}, kUnitMetre, "stere +lon_0=20 +lat_0=0",
       -180, 180, -90, 90, 20, 0, 60, true, kMm},
      {"stere north polar", 20, kWgs84, {-45, 90, 0.994, 2000000, 2000000}, kUnitMetre,
       "stere +lon_0=-45 +lat_0=90 +k_0=0.994 +x_0=2000000 +y_0=2000000", -180, 180, 40, 90, 0,
       0, 0, true, kMm},
      {"stere south polar", 20, kWgs84, {0, -90, 0.994, 2000000, 2000000}, kUnitMetre,
       "stere +lon_0=0 +lat_0=-90 +k_0=0.994 +x_0=2000000 +y_0=2000000", -180, 180, -90, -40, 0,
       0, 0, true, kMm},
      {"sterea Netherlands", 31, kBessel, {5.387638889, 52.156160556, 0.9999079, 155000, 463000},
       kUnitMetre, "sterea +lon_0=5.387638889 +lat_0=52.156160556 +k=0.9999079 +x_0=155000 "
       "+y_0=463000", -180, 180, -90, 90, 5.4, 52.2, 20, true, kMm},
      {"sterea Stereo 70", 31, kKrassovsky, {25, 46, 0.99975, 500000, 500000}, kUnitMetre,
       "sterea +lon_0=25 +lat_0=46 +k=0.99975 +x_0=500000 +y_0=500000", -180, 180, -90, 90, 25,
       46, 15, true, kMm},
      {"sterea southern", 31, kGrs80, {150, -35, 0, 0, 0}, kUnitMetre,
       "sterea +lon_0=150 +lat_0=-35", -180, 180, -90, 90, 150, -35, 30, true, kMm},
  };
  return cases;
}

TEST(AzimuthalProjection, MatchesProjOnRandomPoints) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ is not installed";
  for (const OracleCase& c : AzimuthalCases()) CheckAgainstProj(c);
}

TEST(AzimuthalProjection, CentreMapsToTheOriginAndBack) {
  for (int projection : {4, 5, 28, 29}) {
    SCOPED_TRACE(projection);
    CoordSys cs = MakeSystem(projection, kGrs80, {-20, 35, 60});
    DPoint p = Forward(cs, -20, 35);
    EXPECT_NEAR(p.x, 0, 1e-9);
    EXPECT_NEAR(p.y, 0, 1e-9);
    DPoint g = Inverse(cs, 0, 0);
    EXPECT_NEAR(g.x, -20, 1e-12);
    EXPECT_NEAR(g.y, 35, 1e-9);
  }
}

TEST(AzimuthalProjection, NorthPolarEquidistantAxes) {
  CoordSys cs = MakeSystem(5, kGrs80, {40, 90, 180});
  double a = cs.ellipsoid.a;
  DPoint east = Forward(cs, 130, 60), down = Forward(cs, 40, 60);
  EXPECT_NEAR(east.x, a * 30 * kDegToRad, 1e-6);
  EXPECT_NEAR(east.y, 0, 1e-6);
  EXPECT_NEAR(down.x, 0, 1e-6);
  EXPECT_NEAR(down.y, -a * 30 * kDegToRad, 1e-6);
}

// The disc radius is read within 1..180 degrees; a point beyond the disc
// goes to the rim in its own direction.
TEST(AzimuthalProjection, DiscRadiusAndRim) {
  struct Case {
    int projection;
    double radius;   // as given
    double used;     // degrees, after the clamp
  } cases[] = {{5, 0, 1}, {5, 0.5, 1}, {5, 200, 180}, {5, 90, 90},
               {4, 0, 1}, {4, 0.5, 1}, {4, 200, 180}, {4, 90, 90}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.projection << " radius " << c.radius);
    CoordSys cs = MakeSystem(c.projection, kSphere, {0, 0, c.radius});
    CoordSys open = MakeSystem(c.projection, kSphere, {0, 0, 180});
    double a = cs.ellipsoid.a, r = c.used * kDegToRad;
    double rim = c.projection == 5 ? a * r : 2 * a * std::sin(r / 2);
    for (DPoint g : {DPoint{120, 0}, DPoint{100, 30}, DPoint{-60, -70}, DPoint{0.5, 0.2}}) {
      DPoint p = Forward(cs, g.x, g.y), q = Forward(open, g.x, g.y);
      double reach = std::hypot(q.x, q.y);
      if (reach <= rim) {
        EXPECT_NEAR(p.x, q.x, 1e-6);
        EXPECT_NEAR(p.y, q.y, 1e-6);
      } else {
        EXPECT_NEAR(std::hypot(p.x, p.y), rim, 1e-6) << g.x << ", " << g.y;
        EXPECT_NEAR(std::atan2(p.y, p.x), std::atan2(q.y, q.x), 1e-12);
      }
    }
  }
  // Inverse latitudes stay within the disc's latitude range.
  CoordSys cs = MakeSystem(5, kSphere, {0, 0, 30});
  EXPECT_NEAR(Inverse(cs, 0, 1e7).y, 30, 1e-12);
  EXPECT_NEAR(Inverse(cs, 0, -1e7).y, -30, 1e-12);
}

TEST(AzimuthalProjection, EqualAreaScaleIsOneConstant) {
  for (int projection : {4, 29}) {
    CoordSys cs = MakeSystem(projection, kGrs80, {10, 52, 90});
    for (DPoint g : {DPoint{10, 52}, DPoint{40, 10}, DPoint{-170, -89}, DPoint{0, 90}})
      EXPECT_EQ(cs.scaleFactor(&cs, &g), 0.9003163161571062);
  }
  CoordSys aeqd = MakeSystem(5, kGrs80, {10, 52, 90});
  DPoint g{40, 10};
  EXPECT_EQ(aeqd.scaleFactor(&aeqd, &g), 1.0);
}

// Points far from the centre's meridian, beyond the pole or across the
// antimeridian come back where they were: the sphere's longitude is found by
// its quadrant and taken relative to the origin before n multiplies it.
TEST(AzimuthalProjection, DoubleStereographicRoundTripsBeyondAQuadrant) {
  struct Case {
    std::vector<double> params;
    DPoint point;
  } cases[] = {
      {{0, 0, 1, 0, 0}, {120, 20}},        {{0, 0, 1, 0, 0}, {-150, -40}},
      {{10, 60, 1, 0, 0}, {185, 80}},      {{10, 60, 1, 0, 0}, {-165, 75}},
      {{170, -40, 1, 0, 0}, {-175, -45}},  {{-175, 50, 0.9999, 1e5, 2e5}, {178, 55}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.params[0] << ", " << c.params[1]);
    CoordSys cs = MakeSystem(31, kGrs80, c.params);
    DPoint p = Forward(cs, c.point.x, c.point.y);
    DPoint q = Forward(cs, c.point.x + (c.point.x > 0 ? -360 : 360), c.point.y);
    EXPECT_NEAR(p.x, q.x, 1e-6);
    EXPECT_NEAR(p.y, q.y, 1e-6);
    DPoint back = Inverse(cs, p.x, p.y);
    EXPECT_NEAR(std::remainder(back.x - c.point.x, 360.0), 0, 1e-8);
    EXPECT_NEAR(back.y, c.point.y, 1e-8);
  }
}

TEST(AzimuthalProjection, PolesAndSingularPointsStayFinite) {
  struct Case {
    int projection;
    std::vector<double> params;
  } cases[] = {{4, {0, 30, 180}},         {5, {0, 30, 180}},    {20, {0, 30, 1, 0, 0}},
               {20, {0, 90, 1, 0, 0}},    {20, {0, -90, 1, 0, 0}}, {31, {0, 30, 1, 0, 0}},
               {31, {0, 90, 1, 0, 0}},    {4, {0, -90, 180}},   {5, {0, 90, 180}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.projection << " at " << c.params[1]);
    CoordSys cs = MakeSystem(c.projection, kGrs80, c.params);
    for (DPoint g : {DPoint{0, 90}, DPoint{0, -90}, DPoint{180, -30}, DPoint{-400, 100}}) {
      DPoint p = Forward(cs, g.x, g.y);
      EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << g.x << ", " << g.y;
      DPoint back = Inverse(cs, p.x, p.y);
      EXPECT_TRUE(std::isfinite(back.x) && std::isfinite(back.y)) << g.x << ", " << g.y;
      EXPECT_TRUE(std::isfinite(cs.scaleFactor(&cs, &g)));
    }
    for (DPoint p : {DPoint{1e15, -1e15}, DPoint{-1e300, 0}, DPoint{0, 1e300}}) {
      DPoint back = Inverse(cs, p.x, p.y);
      EXPECT_TRUE(std::isfinite(back.x) && std::isfinite(back.y)) << p.x << ", " << p.y;
    }
  }
  // The stereographic scale reads latitude 90 as 89.9999.
  CoordSys stereo = MakeSystem(20, kGrs80, {0, 30, 1, 0, 0});
  DPoint pole{10, 90}, near{10, 89.9999};
  EXPECT_EQ(stereo.scaleFactor(&stereo, &pole), stereo.scaleFactor(&stereo, &near));
}

// A forward routine that records the points it is given.
std::vector<DPoint> seen;
ProjPointsFn realForward;
int RecordingForward(const DPoint* in, DPoint* out, const CoordSys* cs, int n) {
  seen.insert(seen.end(), in, in + n);
  return realForward(in, out, cs, n);
}

TEST(AzimuthalRectangle, ForwardSamplesMeridiansAndSpecialParallels) {
  CoordSys cs = MakeSystem(5, kGrs80, {0, 0, 90});
  realForward = cs.forwardPoints;
  cs.forwardPoints = RecordingForward;
  seen.clear();
  DRect in{0, -20, 30, 20}, out;
  cs.forwardRect(&in, &out, &cs);
  std::vector<double> meridians;
  for (const DPoint& p : seen)
    if (p.x != 0 && p.x != 30 && (meridians.empty() || meridians.back() != p.x))
      meridians.push_back(p.x);
  EXPECT_EQ(meridians, (std::vector<double>{5, 10, 15, 20, 25}));
  // Each sampled meridian gives its two ends and the two antipodal-parallel
  // points -0.1 and 0.1; the sides give those parallels too.
  EXPECT_EQ(seen.size(), 4u + 5 * 4 + 2 * 2);
  realForward = nullptr;
}

TEST(AzimuthalRectangle, RoundTripsAndReachesAProjectedPole) {
  struct Case {
    int projection;
    std::vector<double> params;
  } cases[] = {{5, {0, 60, 90}},       {28, {0, 60, 90}}, {4, {0, 60, 90}},
               {29, {0, 60, 90}},      {20, {0, 60, 1, 0, 0}}, {31, {0, 60, 1, 0, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.projection);
    CoordSys cs = MakeSystem(c.projection, kGrs80, c.params);
    DRect geographic{-20, 50, 20, 70}, projected, back;
    cs.forwardRect(&geographic, &projected, &cs);
    for (DPoint g : {DPoint{-20, 50}, DPoint{0, 50}, DPoint{20, 70}, DPoint{0, 70}}) {
      DPoint p = Forward(cs, g.x, g.y);
      EXPECT_TRUE(DPointInRect(&p, &projected)) << g.x << ", " << g.y;
    }
    cs.inverseRect(&projected, &back, &cs);
    EXPECT_LE(back.x1, -20 + 1e-9);
    EXPECT_GE(back.x2, 20 - 1e-9);
    EXPECT_LE(back.y1, 50 + 1e-9);
    EXPECT_GE(back.y2, 70 - 1e-9);
    DPoint pole = Forward(cs, 0, 90);
    DRect around{pole.x - 1e5, pole.y - 1e5, pole.x + 1e5, pole.y + 1e5}, lonLat;
    cs.inverseRect(&around, &lonLat, &cs);
    EXPECT_EQ(lonLat.y2, 90);
    EXPECT_EQ(lonLat.x1, -360);
    EXPECT_EQ(lonLat.x2, 360);
  }
}

}  // namespace
}  // namespace layerio
