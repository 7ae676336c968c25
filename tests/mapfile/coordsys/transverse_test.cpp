// Transverse Mercator (8), the local grids (21-23), the Krueger variant (24),
// Cassini-Soldner (30), the polyconic (27) and the transverse rectangles,
// with PROJ as the oracle where it has the projection.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/coordsys/proj_transverse.h"
#include "support/proj_oracle.h"
#include "tests/mapfile/coordsys/projection_cases.h"

namespace layerio {
namespace {

using testsupport::HaveProj;
using testsupport::ProjEllipsoid;
using testsupport::RunProjLines;
using layerio::projtest::Forward;
using layerio::projtest::Inverse;

constexpr int kWgs84 = 28, kClarke1866 = 7, kAiry = 9, kClarke1858 = 11, kSphere = 12;

CoordSys MakeSystem(int projection, int ellipsoid, std::vector<double> params,
                    int unit = kUnitMetre) {
  CoordSysParams block;
  std::memset(&block, 0, sizeof block);
  block.datum.ellipsoid = uint8_t(ellipsoid);
  block.projectedUnit = uint16_t(unit);
  for (size_t i = 0; i < params.size() && i < 6; ++i) block.params[i] = params[i];
  CoordSys cs;
  CoordSysInit(&cs, projection, &block);
  return cs;
}

double InverseFlattening(const CoordSys& cs) {
  return cs.ellipsoid.f == 0 ? 0.0 : 1.0 / cs.ellipsoid.f;
}

// The meridian distance of a latitude in degrees, by the system's own series.
double Meridian(const CoordSys& cs, double latDegrees) {
  double m[7];
  MeridianSeriesInit(cs.ellipsoid.e2, m);
  return MeridianDistance(m, cs.ellipsoid.a, latDegrees * kDegToRad);
}

// One PROJ comparison: a system, PROJ's words for it, the domain of the
// random points (longitude within dlon of the central meridian) and the
// tolerances of the forward (metres) and of inverse(forward) (degrees).
//
// The power series of projections 8 and 30 and the meridian-distance series
// they share are where the tolerances come from: the meridian distance, cut
// after e^6, is up to 1 mm short near latitude 70; the fifth-order series of
// projection 8 leaves 3 mm at 5 degrees from the central meridian, and its
// inverse series returns such points to 3e-7 degrees only; the Cassini
// series return points 2 degrees out to 3e-8 degrees. Inside the domains
// below the projections keep 1 mm and 1e-8 degrees. The Krueger series
// keeps 1e-10 degrees (about 10 micrometres) 30 degrees out.
struct OracleCase {
  const char* name;
  int projection;
  int ellipsoid;
  std::vector<double> params;
  std::string proj;  // without the ellipsoid
  double dlon, latLow, latHigh;
  double forwardTolerance = 1e-3, roundTripTolerance = 1e-8;
};

std::vector<OracleCase> OracleCases() {
  return {
      {"tm_utm18",
       8,
       kWgs84,
       {-75, 0, 0.9996, 500000, 0},
       "+proj=tmerc +lon_0=-75 +lat_0=0 +k_0=0.9996 +x_0=500000 +y_0=0",
       3,
       -60,
       60},
      {"tm_utm18_5deg",
       8,
       kWgs84,
       {-75, 0, 0.9996, 500000, 0},
       "+proj=tmerc +lon_0=-75 +lat_0=0 +k_0=0.9996 +x_0=500000 +y_0=0",
       5,
       -80,
       84,
       3.5e-3,
       5e-7},
      {"tm_airy_origin49",
       8,
       kAiry,
       {-2, 49, 0.9996012717, 400000, -100000},
       "+proj=tmerc +lon_0=-2 +lat_0=49 +k_0=0.9996012717 +x_0=400000 +y_0=-100000",
       3,
       40,
       60},
      {"tm_sphere",
       8,
       kSphere,
       {10, -20, 1, 0, 0},
       "+proj=tmerc +lon_0=10 +lat_0=-20 +k_0=1",
       3,
       -60,
       60},
      {"kruger_wgs84",
       24,
       kWgs84,
       {15, 0, 1, 500000, 0},
       "+proj=tmerc +lon_0=15 +lat_0=0 +k_0=1 +x_0=500000",
       30,
       -85,
       85},
      {"kruger_clarke",
       24,
       kClarke1866,
       {-117, 0, 1, 0, -1000000},
       "+proj=tmerc +lon_0=-117 +lat_0=0 +k_0=1 +y_0=-1000000",
       30,
       -85,
       85},
      {"poly_clarke",
       27,
       kClarke1866,
       {-96, 30, 0, 0},
       "+proj=poly +lon_0=-96 +lat_0=30",
       30,
       -60,
       60},
      {"poly_wgs84_fe",
       27,
       kWgs84,
       {120, -10, 250000, 100000},
       "+proj=poly +lon_0=120 +lat_0=-10 +x_0=250000 +y_0=100000",
       40,
       -60,
       60},
      {"cass_clarke1858",
       30,
       kClarke1858,
       {-61.33333, 10.44167, 86501.46392, 65379.0134},
       "+proj=cass +lon_0=-61.33333 +lat_0=10.44167 +x_0=86501.46392 +y_0=65379.0134",
       1,
       5,
       15},
      {"cass_wgs84", 30, kWgs84, {30, 45, 0, 0}, "+proj=cass +lon_0=30 +lat_0=45", 1, 30, 60},
  };
}

std::vector<std::vector<double>> RandomPoints(const OracleCase& c, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> lon(-c.dlon, c.dlon), lat(c.latLow, c.latHigh);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 200; ++i) {
    double dl = lon(random);
    rows.push_back({c.params[0] + dl, lat(random)});
  }
  return rows;
}

class TransverseOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(TransverseOracle, ForwardMatchesProjWithinAMillimetre) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  const OracleCase& c = GetParam();
  CoordSys cs = MakeSystem(c.projection, c.ellipsoid, c.params);
  std::vector<std::vector<double>> rows = RandomPoints(c, 20261211), expected;
  std::string command =
      "proj -f %.6f " + c.proj + " " + ProjEllipsoid(cs.ellipsoid.a, InverseFlattening(cs));
  ASSERT_TRUE(RunProjLines(command, rows, &expected));
  for (size_t i = 0; i < rows.size(); ++i) {
    DPoint p = Forward(cs, rows[i][0], rows[i][1]);
    ASSERT_EQ(expected[i].size(), 2u);
    EXPECT_NEAR(p.x, expected[i][0], c.forwardTolerance)
        << c.name << " at " << rows[i][0] << " " << rows[i][1];
    EXPECT_NEAR(p.y, expected[i][1], c.forwardTolerance)
        << c.name << " at " << rows[i][0] << " " << rows[i][1];
  }
}

TEST_P(TransverseOracle, InverseReturnsTheForwardedPoint) {
  const OracleCase& c = GetParam();
  CoordSys cs = MakeSystem(c.projection, c.ellipsoid, c.params);
  for (const auto& row : RandomPoints(c, 7)) {
    DPoint p = Forward(cs, row[0], row[1]);
    DPoint q = Inverse(cs, p.x, p.y);
    EXPECT_NEAR(q.x, row[0], c.roundTripTolerance) << c.name << " at " << row[0] << " " << row[1];
    EXPECT_NEAR(q.y, row[1], c.roundTripTolerance) << c.name << " at " << row[0] << " " << row[1];
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TransverseOracle, ::testing::ValuesIn(OracleCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TransverseMercator, ScaleFactorMatchesProj) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  OracleCase c = OracleCases()[0];
  CoordSys cs = MakeSystem(c.projection, c.ellipsoid, c.params);
  std::vector<std::vector<double>> rows = RandomPoints(c, 99), expected;
  std::string command = "proj -S " + c.proj + " " + ProjEllipsoid(cs.ellipsoid.a, 298.257223563);
  ASSERT_TRUE(RunProjLines(command, rows, &expected));
  for (size_t i = 0; i < rows.size(); ++i) {
    // "x y <h k s omega a b>": h does not parse, k is the fourth number.
    ASSERT_GE(expected[i].size(), 4u);
    DPoint ll{rows[i][0], rows[i][1]};
    EXPECT_NEAR(cs.scaleFactor(&cs, &ll), expected[i][3], 6e-6) << rows[i][0] << " " << rows[i][1];
  }
}

TEST(TransverseMercator, ZeroScaleFactorMeansOne) {
  CoordSys zero = MakeSystem(8, kWgs84, {9, 0, 0, 0, 0});
  CoordSys one = MakeSystem(8, kWgs84, {9, 0, 1, 0, 0});
  DPoint a = Forward(zero, 11, 50), b = Forward(one, 11, 50);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  DPoint ll{9, 50};
  EXPECT_EQ(zero.scaleFactor(&zero, &ll), 1.0);
  // The Krueger variant's points ignore the scale factor, and so does its
  // scale.
  CoordSys kruger = MakeSystem(24, kWgs84, {9, 0, 0.9996, 0, 0});
  EXPECT_EQ(kruger.scaleFactor(&kruger, &ll), 1.0);
  CoordSys krugerOne = MakeSystem(24, kWgs84, {9, 0, 1, 0, 0});
  DPoint c = Forward(kruger, 11, 50), d = Forward(krugerOne, 11, 50);
  EXPECT_EQ(c.x, d.x);
  EXPECT_EQ(c.y, d.y);
}

TEST(TransverseMercator, CentralMeridianMapsToTheScaledMeridianDistance) {
  CoordSys cs = MakeSystem(8, kWgs84, {-75, 30, 0.9996, 500000, 200000});
  for (double lat : {-60.0, 0.0, 30.0, 45.5, 89.0}) {
    DPoint p = Forward(cs, -75, lat);
    EXPECT_EQ(p.x, 500000.0) << lat;
    EXPECT_NEAR(p.y, 0.9996 * (Meridian(cs, lat) - Meridian(cs, 30)) + 200000, 1e-6) << lat;
  }
}

TEST(TransverseMercator, PolesAndFarPointsStayFinite) {
  for (int projection : {8, 24}) {
    CoordSys cs = MakeSystem(projection, kWgs84, {0, 0, 1, 0, 0});
    for (DPoint ll : {DPoint{0, 90}, DPoint{45, -90}, DPoint{90, 0}, DPoint{-90, 0},
                      DPoint{179, 10}, DPoint{400, 95}}) {
      DPoint p = Forward(cs, ll.x, ll.y);
      EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << projection << " " << ll.x;
      DPoint q = Inverse(cs, p.x, p.y);
      EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y)) << projection << " " << ll.x;
    }
    for (DPoint xy : {DPoint{1e12, 1e12}, DPoint{-1e12, -5e6}, DPoint{0, 3e7}}) {
      DPoint q = Inverse(cs, xy.x, xy.y);
      EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y)) << projection << " " << xy.x;
      EXPECT_LE(std::fabs(q.y), 90.0);
    }
  }
  // Northings beyond the pole give the pole on the central meridian.
  CoordSys cs = MakeSystem(8, kWgs84, {12, 0, 1, 0, 0});
  DPoint q = Inverse(cs, 1000, 1.2e7);
  EXPECT_NEAR(q.x, 12.0, 1e-12);
  EXPECT_EQ(q.y, 90.0);
  q = Inverse(cs, 1000, -1.2e7);
  EXPECT_EQ(q.y, -90.0);
}

TEST(TransverseMercator, ProjectedUnitsAndFalseOrigin) {
  // False easting and northing are in the system's units: metres converted
  // to kilometres, then the offsets added.
  int km = 0;
  ASSERT_TRUE(UnitFromName("km", &km));
  CoordSys metres = MakeSystem(8, kWgs84, {3, 0, 0.9996, 0, 0});
  CoordSys kilometres = MakeSystem(8, kWgs84, {3, 0, 0.9996, 500, 100}, km);
  DPoint a = Forward(metres, 5, 47), b = Forward(kilometres, 5, 47);
  EXPECT_NEAR(b.x, a.x / 1000 + 500, 1e-9);
  EXPECT_NEAR(b.y, a.y / 1000 + 100, 1e-9);
  DPoint q = Inverse(kilometres, b.x, b.y);
  EXPECT_NEAR(q.x, 5, 1e-8);
  EXPECT_NEAR(q.y, 47, 1e-8);
}

// ----- Local grids ----------------------------------------------------------

TEST(GridPoly, TablesHoldTheirLayoutAndTellingValues) {
  struct Row {
    int projection;
    bool inverse;
    int degree;
    double oy, ox, a0, aS, b0, bS;
  };
  const Row rows[] = {
      {21, false, 11, 6211357.565339, 535887.734971, 179608.42195, 1.0001331975, 259885.74773,
       -1.0001338073},
      {21, true, 11, 179608.367287, 259884.1271, 6211357.5431, 0.99946783805, 535889.35583,
       -0.99946722875},
      {22, false, 11, 6143171.658806, 679082.320128, 108580.1864, 0.99979577051, 118032.75921,
       -0.99979562993},
      {22, true, 11, 108578.008582, 118029.907698, 6143169.5373, 0.99981973699, 679085.21383,
       -0.99981987793},
      {23, false, 4, 6109645.68068, 495134.215516, 52222.355954, 1.0003999918, 47875.457674,
       -1.0004002847},
      {23, true, 4, 52222.336107, 47875.442993, 6109645.6608, 0.99959800064, 495134.23016,
       -0.99959770795},
  };
  for (const Row& r : rows) {
    const double* t = GridPolyTable(r.projection, r.inverse);
    ASSERT_NE(t, nullptr);
    int m = (r.degree + 1) * (r.degree + 2) / 2;
    EXPECT_EQ(t[0], r.degree);
    EXPECT_EQ(GridPolyTableSize(r.degree), r.degree == 11 ? 159 : 33);
    EXPECT_EQ(t[1], r.a0);
    EXPECT_EQ(t[2], r.aS);
    EXPECT_EQ(t[1 + m], r.oy);
    EXPECT_EQ(t[2 + m], r.b0);
    EXPECT_EQ(t[3 + m], r.bS);
    EXPECT_EQ(t[2 + 2 * m], r.ox);
    // At the origin only the constants remain.
    DPoint origin{r.ox, r.oy}, out;
    GridPolyEval(t, &origin, &out);
    EXPECT_EQ(out.x, r.b0);
    EXPECT_EQ(out.y, r.a0);
  }
  EXPECT_EQ(GridPolyTable(8, false), nullptr);
}

TEST(GridPoly, EvaluatesEveryTermOfAFullTable) {
  // A table with every coefficient set, against the plain double sum.
  for (int degree : {1, 4, 11}) {
    int m = (degree + 1) * (degree + 2) / 2;
    std::vector<double> table(GridPolyTableSize(degree));
    table[0] = degree;
    std::mt19937 random(degree);
    std::uniform_real_distribution<double> coefficient(-1, 1);
    for (int i = 1; i <= m; ++i) table[i] = coefficient(random);
    for (int i = 0; i < m; ++i) table[2 + m + i] = coefficient(random);
    table[1 + m] = 1000;      // oy
    table[2 + 2 * m] = -500;  // ox
    DPoint in{-499.3, 1000.6}, out;
    GridPolyEval(table.data(), &in, &out);
    double s = in.y - 1000, t = in.x + 500, sumA = 0, sumB = 0;
    int at = 0;
    for (int j = 0; j <= degree; ++j) {
      for (int i = 0; i <= degree - j; ++i, ++at) {
        sumA += table[1 + at] * std::pow(s, i) * std::pow(t, j);
        sumB += table[2 + m + at] * std::pow(t, i) * std::pow(s, j);
      }
    }
    EXPECT_NEAR(out.y, sumA, 1e-12) << degree;
    EXPECT_NEAR(out.x, sumB, 1e-12) << degree;
  }
}

// A local grid system and its transverse Mercator: the false origin sits on
// the forward table's origin of 21, so (15, 56) maps exactly onto it.
std::vector<double> GridParams() { return {15, 56, 0.9996, 535887.734971, 6211357.565339}; }
CoordSys LocalGrid(int projection) { return MakeSystem(projection, kWgs84, GridParams()); }

TEST(LocalGrid, ForwardOfTheTableOriginGivesTheConstants) {
  DPoint p = Forward(LocalGrid(21), 15, 56);
  EXPECT_EQ(p.x, -259885.74773);
  EXPECT_EQ(p.y, 179608.42195);
}

TEST(LocalGrid, PointsOutsideTheWindowLandOnItsEdge) {
  CoordSys tm = MakeSystem(8, kWgs84, GridParams());
  struct Case {
    int projection;
    DPoint ll;
    DRect window;
  };
  const Case cases[] = {
      {21, {10, 56}, {300000, 5900000, 900000, 6500000}},
      {21, {15, 62}, {300000, 5900000, 900000, 6500000}},
      {21, {20.5, 51}, {300000, 5900000, 900000, 6500000}},
      {21, {15.2, 56.1}, {300000, 5900000, 900000, 6500000}},  // inside
      {22, {20, 58}, {400000, 5900000, 1000000, 6400000}},
      {23, {13, 50}, {400000, 6000000, 600000, 6200000}},
  };
  for (const Case& c : cases) {
    DPoint edge = Forward(tm, c.ll.x, c.ll.y), expected;
    DPointClamp(&edge, &c.window);
    GridPolyEval(GridPolyTable(c.projection, false), &edge, &expected);
    DPoint p = Forward(LocalGrid(c.projection), c.ll.x, c.ll.y);
    EXPECT_EQ(p.x, -expected.x) << c.projection << " " << c.ll.x << " " << c.ll.y;
    EXPECT_EQ(p.y, expected.y) << c.projection << " " << c.ll.x << " " << c.ll.y;
  }
  // Everything west of the window's edge lands on the same local x.
  CoordSys g21 = LocalGrid(21);
  EXPECT_EQ(Forward(g21, 5, 56).x, Forward(g21, 8, 56).x);
}

TEST(LocalGrid, InverseAppliesTheInverseTableThenTheProjection) {
  // The inverse table's origin, x negated, goes to the inverse table's
  // constants, which are transverse Mercator coordinates.
  CoordSys tm = MakeSystem(8, kWgs84, GridParams());
  struct Case {
    int projection;
    double ox, oy, x0, y0;
  };
  const Case cases[] = {{21, 259884.1271, 179608.367287, 535889.35583, 6211357.5431},
                        {22, 118029.907698, 108578.008582, 679085.21383, 6143169.5373},
                        {23, 47875.442993, 52222.336107, 495134.23016, 6109645.6608}};
  for (const Case& c : cases) {
    CoordSys grid = LocalGrid(c.projection);
    DPoint q = Inverse(grid, -c.ox, c.oy);
    DPoint expected = Inverse(tm, c.x0, c.y0);
    EXPECT_NEAR(q.x, expected.x, 1e-9) << c.projection;
    EXPECT_NEAR(q.y, expected.y, 1e-9) << c.projection;
    // Near the origins the approximate tables still bring points back to
    // within a few metres.
    DPoint p = Forward(grid, q.x, q.y);
    EXPECT_NEAR(p.x, -c.ox, 5.0) << c.projection;
    EXPECT_NEAR(p.y, c.oy, 5.0) << c.projection;
  }
}

TEST(LocalGrid, ScaleFactors) {
  CoordSys g21 = LocalGrid(21), g22 = LocalGrid(22), g23 = LocalGrid(23);
  for (DPoint ll : {DPoint{15.5, 56}, DPoint{16, 55.5}, DPoint{14, 57}}) {
    DPoint p = Forward(g21, ll.x, ll.y);
    double u = p.x * 1e-5;
    EXPECT_DOUBLE_EQ(g21.scaleFactor(&g21, &ll), 0.99995 + 0.00012259 * (-2.65 - u) * (-2.65 - u));
    p = Forward(g22, ll.x, ll.y);
    u = p.x * 1e-5;
    EXPECT_DOUBLE_EQ(g22.scaleFactor(&g22, &ll), 0.999978 + 0.00012261 * (-1.19 - u) * (-1.19 - u));
    EXPECT_EQ(g23.scaleFactor(&g23, &ll), 1.0);
  }
}

// ----- Cassini and polyconic ------------------------------------------------

TEST(Cassini, InverseBeyondThePoleGivesThePoleOnTheCentralMeridian) {
  CoordSys cs = MakeSystem(30, kWgs84, {30, 45, 1000, 2000});
  DPoint q = Inverse(cs, 5000, 2.5e7);
  EXPECT_NEAR(q.x, 30.0, 1e-12);
  EXPECT_EQ(q.y, 90.0);
  q = Inverse(cs, -5000, -2.5e7);
  EXPECT_NEAR(q.x, 30.0, 1e-12);
  EXPECT_EQ(q.y, -90.0);
  DPoint ll{31, 46};
  EXPECT_EQ(cs.scaleFactor(&cs, &ll), 1.0);
}

TEST(Polyconic, EquatorMapsToMinusM0AndBack) {
  CoordSys cs = MakeSystem(27, kClarke1866, {-96, 30, 0, 0});
  double m0 = Meridian(cs, 30);
  for (double lon : {-96.0, -90.0, -150.0, 10.0}) {
    DPoint p = Forward(cs, lon, 0);
    EXPECT_DOUBLE_EQ(p.x, cs.ellipsoid.a * (lon + 96) * kDegToRad) << lon;
    EXPECT_DOUBLE_EQ(p.y, -m0) << lon;
    DPoint q = Inverse(cs, p.x, p.y);
    EXPECT_EQ(q.y, 0.0) << lon;
    EXPECT_NEAR(q.x, lon, 1e-12) << lon;
  }
}

TEST(Polyconic, InverseOutsideTheImageEndsWithAFinitePoint) {
  CoordSys cs = MakeSystem(27, kWgs84, {0, 0, 0, 0});
  for (DPoint xy : {DPoint{3e7, 1e6}, DPoint{-2.5e7, 2e7}, DPoint{0, 1.5e7}, DPoint{50, -1.2e7},
                    DPoint{1e9, 1e9}}) {
    DPoint q = Inverse(cs, xy.x, xy.y);
    EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y)) << xy.x << " " << xy.y;
    EXPECT_LE(std::fabs(q.y), 90.0);
  }
}

// ----- Rectangles -----------------------------------------------------------

// The bounding box of a dense sampling of a rectangle's edges.
DRect SampledBounds(const DRect& r, ProjPointsFn points, const CoordSys& cs) {
  DRect out;
  DRectSetEmpty(&out);
  for (int i = 0; i <= 400; ++i) {
    double u = i / 400.0;
    DPoint p[4] = {{r.x1 + u * (r.x2 - r.x1), r.y1},
                   {r.x1 + u * (r.x2 - r.x1), r.y2},
                   {r.x1, r.y1 + u * (r.y2 - r.y1)},
                   {r.x2, r.y1 + u * (r.y2 - r.y1)}};
    points(p, p, &cs, 4);
    for (const DPoint& q : p) DRectAddPoint(&out, &q);
  }
  return out;
}

TEST(TransverseRect, ForwardAndInverseReachTheBulgesOfTheEdges) {
  struct Case {
    const char* name;
    int projection;
    std::vector<double> params;
    DRect geographic;
  };
  const Case cases[] = {
      {"tm across meridian and equator", 8, {-75, 0, 0.9996, 500000, 0}, {-78, -10, -72, 12}},
      {"tm off the meridian", 8, {-75, 0, 0.9996, 500000, 0}, {-74, 20, -71, 40}},
      {"kruger across both", 24, {15, 0, 1, 0, 0}, {5, -30, 25, 30}},
      {"cassini across both", 30, {30, 0, 0, 0}, {28, -5, 33, 5}},
  };
  for (const Case& c : cases) {
    CoordSys cs = MakeSystem(c.projection, kWgs84, c.params);
    DRect forward, sampled = SampledBounds(c.geographic, cs.forwardPoints, cs);
    cs.forwardRect(&c.geographic, &forward, &cs);
    // The edges bulge between the sample points by far less than a metre.
    EXPECT_NEAR(forward.x1, sampled.x1, 1.0) << c.name;
    EXPECT_NEAR(forward.y1, sampled.y1, 1.0) << c.name;
    EXPECT_NEAR(forward.x2, sampled.x2, 1.0) << c.name;
    EXPECT_NEAR(forward.y2, sampled.y2, 1.0) << c.name;
    DRect inverse, inverseSampled = SampledBounds(forward, cs.inversePoints, cs);
    cs.inverseRect(&forward, &inverse, &cs);
    EXPECT_NEAR(inverse.x1, inverseSampled.x1, 1e-4) << c.name;
    EXPECT_NEAR(inverse.y1, inverseSampled.y1, 1e-4) << c.name;
    EXPECT_NEAR(inverse.x2, inverseSampled.x2, 1e-4) << c.name;
    EXPECT_NEAR(inverse.y2, inverseSampled.y2, 1e-4) << c.name;
    EXPECT_LE(inverse.x1, c.geographic.x1 + 1e-9) << c.name;
    EXPECT_GE(inverse.x2, c.geographic.x2 - 1e-9) << c.name;
  }
}

TEST(TransverseRect, DispatcherBindsTheFamily) {
  for (int n : {8, 21, 22, 23, 24})
    EXPECT_EQ(ProjectionRowFor(n), &kProjRowTransverseMercator) << n;
  EXPECT_EQ(ProjectionRowFor(30), &kProjRowCassini);
  EXPECT_EQ(ProjectionRowFor(27), &kProjRowPolyconic);
  CoordSys cs = MakeSystem(30, kWgs84, {30, 45, 0, 0});
  EXPECT_EQ(cs.centralMeridian, 30.0);
  EXPECT_EQ(cs.probeOffset, 90.0);
  EXPECT_EQ(cs.probeX0, 0.0);
}

}  // namespace
}  // namespace layerio
