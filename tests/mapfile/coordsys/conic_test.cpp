// The conic projections: Lambert conformal conic (3) and its Belgian variant
// (19), Albers (9), equidistant conic (6) and their sampled rectangles.
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

constexpr int kGrs80 = 0, kInternational = 4, kClarke1866 = 7, kSphere = 12;
constexpr int kSurveyFoot = 8;
constexpr double kMm = 0.001;
constexpr double kFeetPerMetre = 3937.0 / 1200.0;

std::vector<OracleCase> ConicCases() {
  return {
      {"lcc two parallels", 3, kGrs80, {-96, 23, 33, 45, 0, 0}, kUnitMetre,
       "lcc +lon_0=-96 +lat_0=23 +lat_1=33 +lat_2=45", -140, -52, 10, 75, 0, 0, 0, true, kMm},
      {"lcc survey feet, false origin", 3, kClarke1866,
       {-120.5, 41.6666666667, 42.3333333333, 44, 4921250, 0}, kSurveyFoot,
       "lcc +lon_0=-120.5 +lat_0=41.6666666667 +lat_1=42.3333333333 +lat_2=44 +x_0=1500000 "
       "+units=us-ft",
       -126, -115, 40, 48, 0, 0, 0, true, kMm * kFeetPerMetre},
      {"lcc southern cone", 3, kGrs80, {135, -30, -20, -40, 500000, 1000000}, kUnitMetre,
       "lcc +lon_0=135 +lat_0=-30 +lat_1=-20 +lat_2=-40 +x_0=500000 +y_0=1000000", 100, 170,
       -75, -5, 0, 0, 0, true, kMm},
      {"lcc one parallel", 3, kInternational, {10, 50, 50, 50, 0, 0}, kUnitMetre,
       "lcc +lon_0=10 +lat_0=50 +lat_1=50 +lat_2=50", -20, 40, 30, 70, 0, 0, 0, true, kMm},
      {"aea two parallels", 9, kGrs80, {-96, 23, 29.5, 45.5, 0, 0}, kUnitMetre,
       "aea +lon_0=-96 +lat_0=23 +lat_1=29.5 +lat_2=45.5", -140, -52, 10, 75, 0, 0, 0, false,
       kMm},
      {"aea southern cone, false origin", 9, kGrs80, {132, 0, -18, -36, 1000000, 2000000},
       kUnitMetre, "aea +lon_0=132 +lat_0=0 +lat_1=-18 +lat_2=-36 +x_0=1000000 +y_0=2000000",
       100, 165, -60, 0, 0, 0, 0, false, kMm},
      {"aea one parallel", 9, kClarke1866, {-100, 40, 40, 40, 0, 0}, kUnitMetre,
       "aea +lon_0=-100 +lat_0=40 +lat_1=40 +lat_2=40", -140, -60, 10, 70, 0, 0, 0, false, kMm},
      {"aea sphere", 9, kSphere, {20, 40, 30, 50, 0, 0}, kUnitMetre,
       "aea +lon_0=20 +lat_0=40 +lat_1=30 +lat_2=50", -20, 60, 0, 80, 0, 0, 0, false, kMm},
      {"eqdc two parallels", 6, kGrs80, {-100, 40, 20, 60, 0, 0}, kUnitMetre,
       "eqdc +lon_0=-100 +lat_0=40 +lat_1=20 +lat_2=60", -150, -50, 0, 80, 0, 0, 0, false, kMm},
      {"eqdc southern cone, false origin", 6, kInternational,
       {-60, -32, -5, -42, 200000, 300000}, kUnitMetre,
       "eqdc +lon_0=-60 +lat_0=-32 +lat_1=-5 +lat_2=-42 +x_0=200000 +y_0=300000", -90, -30,
       -80, 10, 0, 0, 0, false, kMm},
      {"eqdc sphere", 6, kSphere, {0, 0, 10, 40, 0, 0}, kUnitMetre,
       "eqdc +lon_0=0 +lat_0=0 +lat_1=10 +lat_2=40", -60, 60, -30, 80, 0, 0, 0, false, kMm},
  };
}

TEST(ConicProjection, MatchesProjOnRandomPoints) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ is not installed";
  for (const OracleCase& c : ConicCases()) CheckAgainstProj(c);
}

// The Belgian variant is the plain conic turned by 29.2985" about its apex,
// which PROJ spells as a central meridian moved by that angle over n.
TEST(ConicProjection, BelgianVariantMatchesProjWithMovedMeridian) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ is not installed";
  std::vector<double> params = {4.356939722222222, 90, 49.8333339, 51.16666723333333,
                                150000.01256, 5400088.4378};
  CoordSys cs = MakeSystem(19, kInternational, params);
  double n = 90.0 / cs.probeOffset;
  double shifted = params[0] + (29.2985 / 3600.0) / n;
  char words[256];
  snprintf(words, sizeof words,
           "lcc +lon_0=%.15g +lat_0=90 +lat_1=49.8333339 +lat_2=51.16666723333333 "
           "+x_0=150000.01256 +y_0=5400088.4378",
           shifted);
  CheckAgainstProj({"Belgian 1972", 19, kInternational, params, kUnitMetre, words, 2, 7, 49,
                    52, 0, 0, 0, true, kMm});
}

TEST(ConicProjection, BelgianVariantIsARotationAboutTheApex) {
  std::vector<double> params = {4.356939722222222, 90, 49.8333339, 51.16666723333333,
                                150000.01256, 5400088.4378};
  CoordSys plain = MakeSystem(3, kInternational, params);
  CoordSys belgian = MakeSystem(19, kInternational, params);
  // The apex is the image of the pole.
  DPoint apex = Forward(plain, 4.36, 90);
  DPoint apex19 = Forward(belgian, 4.36, 90);
  EXPECT_NEAR(apex.x, apex19.x, 1e-6);
  EXPECT_NEAR(apex.y, apex19.y, 1e-6);
  double delta = 0.0001420431363598774;
  for (DPoint g : {DPoint{3.0, 50.5}, DPoint{5.9, 49.6}, DPoint{4.36, 51.3}}) {
    DPoint p = Forward(plain, g.x, g.y), q = Forward(belgian, g.x, g.y);
    double ax = p.x - apex.x, ay = p.y - apex.y;
    // x = rho sin(theta), y = -rho cos(theta) about the apex; theta loses delta.
    double bx = ax * std::cos(delta) + ay * std::sin(delta);
    double by = ay * std::cos(delta) - ax * std::sin(delta);
    EXPECT_NEAR(q.x - apex.x, bx, 1e-6) << g.x << ", " << g.y;
    EXPECT_NEAR(q.y - apex.y, by, 1e-6) << g.x << ", " << g.y;
    DPoint back = Inverse(belgian, q.x, q.y);
    EXPECT_NEAR(back.x, g.x, 1e-8);
    EXPECT_NEAR(back.y, g.y, 1e-8);
  }
}

// Degenerate cones are repaired at init and still convert both ways.
TEST(ConicProjection, DegenerateConesStayInvertible) {
  struct Case {
    const char* name;
    int projection;
    std::vector<double> params;
    double probeOffset;
  } cases[] = {
      {"lcc parallels on the equator: n = 1", 3, {10, 0, 0, 0, 0, 0}, 90},
      {"aea parallels on the equator: n = 1", 9, {10, 0, 0, 0, 0, 0}, 90},
      {"eqdc parallels on the equator: n = 1", 6, {10, 0, 0, 0, 0, 0}, 90},
      {"lcc equal parallels: n = sin 30", 3, {10, 20, 30, 30, 0, 0}, 180},
      {"aea equal parallels: n = sin 30", 9, {10, 20, 30, 30, 0, 0}, 180},
      {"eqdc equal parallels: n = sin 30", 6, {10, 20, 30, 30, 0, 0}, 180},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CoordSys cs = MakeSystem(c.projection, kGrs80, c.params);
    EXPECT_EQ(cs.centralMeridian, 10);
    EXPECT_NEAR(cs.probeOffset, c.probeOffset, 1e-9);
    for (DPoint g : {DPoint{10, 10}, DPoint{-20, 25}, DPoint{40, -30}, DPoint{10, 0}}) {
      DPoint p = Forward(cs, g.x, g.y);
      ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
      DPoint back = Inverse(cs, p.x, p.y);
      EXPECT_NEAR(back.x, g.x, 1e-8) << g.x << ", " << g.y;
      EXPECT_NEAR(back.y, g.y, 1e-8) << g.x << ", " << g.y;
    }
  }
}

// The pole opposite a cone's apex, the apex itself and huge projected
// inputs give finite points, and the scale routines read latitude 90 as
// 89.9999.
TEST(ConicProjection, PolesAndScaleClamp) {
  for (int projection : {3, 6, 9, 19}) {
    for (double sign : {1.0, -1.0}) {
      SCOPED_TRACE(projection * sign);
      CoordSys cs = MakeSystem(projection, kGrs80, {-96, 23 * sign, 33 * sign, 45 * sign, 0, 0});
      for (double lat : {90.0, -90.0}) {
        DPoint p = Forward(cs, -50, lat);
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << lat;
        DPoint g = Inverse(cs, p.x, p.y);
        EXPECT_TRUE(std::isfinite(g.x) && std::isfinite(g.y)) << lat;
      }
      for (DPoint p : {DPoint{1e15, -1e15}, DPoint{-1e300, 1e300}}) {
        DPoint g = Inverse(cs, p.x, p.y);
        EXPECT_TRUE(std::isfinite(g.x) && std::isfinite(g.y)) << p.x << ", " << p.y;
      }
      DPoint pole{-96, 90 * sign}, near{-96, 89.9999 * sign};
      EXPECT_EQ(cs.scaleFactor(&cs, &pole), cs.scaleFactor(&cs, &near));
      EXPECT_TRUE(std::isfinite(cs.scaleFactor(&cs, &pole)));
    }
  }
}

// Meridian distances of the equidistant conic are true: PROJ's geodesic
// between two points of the central meridian is the projected distance.
TEST(ConicProjection, EquidistantConicKeepsMeridianDistances) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ is not installed";
  CoordSys cs = MakeSystem(6, kGrs80, {-100, 40, 20, 60, 0, 0});
  std::vector<std::vector<double>> out;
  ASSERT_TRUE(testsupport::RunProjLines(
      "geod -I -f %.6f +ellps=GRS80", {{10, -100, 20, -100}, {-30, -100, 75, -100}}, &out));
  EXPECT_NEAR(Forward(cs, -100, 20).y - Forward(cs, -100, 10).y, out[0][2], kMm);
  EXPECT_NEAR(Forward(cs, -100, 75).y - Forward(cs, -100, -30).y, out[1][2], kMm);
}

TEST(ConicRectangle, ForwardSamplesTheMeridiansOfTheCone) {
  CoordSys cs = MakeSystem(3, kGrs80, {15, 30, 35, 55, 0, 0});
  // Parallels of a northern cone are lowest on the central meridian.
  DRect in{10, 40, 20, 50}, out;
  cs.forwardRect(&in, &out, &cs);
  EXPECT_EQ(out.y1, Forward(cs, 15, 40).y);
  EXPECT_EQ(out.x1, Forward(cs, 10, 40).x);
  EXPECT_EQ(out.x2, Forward(cs, 20, 40).x);
  EXPECT_EQ(out.y2, std::max(Forward(cs, 10, 50).y, Forward(cs, 20, 50).y));
  // Between 20 and 30 no multiple of 90/n lies, so only the corners count.
  DRect east{20, 40, 30, 50};
  cs.forwardRect(&east, &out, &cs);
  EXPECT_EQ(out.y1, Forward(cs, 20, 40).y);
  // A rectangle reaching past c + 90/n samples that meridian too: it is
  // where the parallel's x is largest.
  double d = cs.probeOffset;
  DRect wide{15, 60, 15 + 1.5 * d, 61};
  cs.forwardRect(&wide, &out, &cs);
  EXPECT_EQ(out.x2, Forward(cs, 15 + d, 60).x);
}

TEST(ConicRectangle, InverseRoundTripsAndCoversTheApex) {
  CoordSys cs = MakeSystem(9, kGrs80, {-96, 23, 29.5, 45.5, 1000, 2000});
  DRect geographic{-110, 30, -80, 45}, projected, back;
  cs.forwardRect(&geographic, &projected, &cs);
  cs.inverseRect(&projected, &back, &cs);
  // The projected box holds the geographic one, so its inverse does too.
  EXPECT_LE(back.x1, -110 + 1e-9);
  EXPECT_GE(back.x2, -80 - 1e-9);
  EXPECT_LE(back.y1, 30 + 1e-9);
  EXPECT_GE(back.y2, 45 - 1e-9);
  // A box around the cone's apex spans all longitudes. The apex lies on the
  // central meridian, at the distance rho of a parallel beyond it.
  for (int projection : {3, 6, 9}) {
    SCOPED_TRACE(projection);
    CoordSys c = MakeSystem(projection, kGrs80, {-96, 23, 29.5, 45.5, 1000, 2000});
    double theta = 10 * kDegToRad * 90 / c.probeOffset;
    double rho = (Forward(c, -86, 60).x - 1000) / std::sin(theta);
    DPoint apex{1000, Forward(c, -96, 60).y + rho};
    DRect around{apex.x - 1e5, apex.y - 1e5, apex.x + 1e5, apex.y + 1e5}, lonLat;
    c.inverseRect(&around, &lonLat, &c);
    EXPECT_EQ(lonLat.x1, -360);
    EXPECT_EQ(lonLat.x2, 360);
    EXPECT_GT(lonLat.y2, 89);
  }
}

}  // namespace
}  // namespace layerio
