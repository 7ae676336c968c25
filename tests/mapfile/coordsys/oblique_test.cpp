// Hotine oblique Mercator (7), the New Zealand Map Grid (18) with its complex
// arithmetic, and the rectangle routines of 7, 18 and 25, with PROJ as the
// oracle.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "mapfile/coordsys/oblique_grids.h"
#include "tests/mapfile/coordsys/pseudo_oblique_support.h"
#include "tests/mapfile/coordsys/projection_cases.h"

namespace {

using layerio::Complex;
using layerio::CoordSys;
using layerio::DPoint;
using layerio::DRect;
using pseudotest::MakeSystem;
using pseudotest::RandomPoints;
using pseudotest::RecordedPoints;
using layerio::projtest::Forward;
using layerio::projtest::Inverse;

double Scale(const CoordSys& cs, double lon, double lat) {
  DPoint g{lon, lat};
  return cs.scaleFactor(&cs, &g);
}

// ----- Complex arithmetic -----------------------------------------------------

struct DivCase {
  Complex a, b, expected;
};

TEST(Complex, Arithmetic) {
  Complex a = layerio::ComplexMake(3, -2), b = layerio::ComplexMake(-1, 4);
  Complex sum = layerio::ComplexAdd(a, b);
  EXPECT_EQ(sum.re, 2);
  EXPECT_EQ(sum.im, 2);
  Complex product = layerio::ComplexMul(a, b);  // (3 - 2i)(-1 + 4i) = 5 + 14i
  EXPECT_EQ(product.re, 5);
  EXPECT_EQ(product.im, 14);
  Complex scaled = layerio::ComplexScale(a, -0.5);
  EXPECT_EQ(scaled.re, -1.5);
  EXPECT_EQ(scaled.im, 1);
  EXPECT_EQ(layerio::ComplexAbs(layerio::ComplexMake(3, 4)), 5);
  // Both branches of the scaled division, a divisor whose squares would
  // overflow, and the zero divisor.
  const DivCase cases[] = {
      {{5, 14}, {3, -2}, {-1, 4}},
      {{5, 14}, {-1, 4}, {3, -2}},
      {{1e300, 1e300}, {1e300, 1e300}, {1, 0}},
      {{1, 1}, {0, 0}, {0, 0}},
      {{0, 0}, {0, 0}, {0, 0}},
  };
  for (const DivCase& c : cases) {
    Complex q = layerio::ComplexDiv(c.a, c.b);
    EXPECT_NEAR(q.re, c.expected.re, 1e-15) << c.a.re << " " << c.b.re;
    EXPECT_NEAR(q.im, c.expected.im, 1e-15) << c.a.re << " " << c.b.re;
  }
}

// ----- Hotine oblique Mercator -----------------------------------------------

struct OmercCase {
  double lonc, latc, alpha, k0, fe, fn;
  double a, rf;
};

const OmercCase kOmercCases[] = {
    {10, 45, 30, 0.9996, 500000, 200000, 6378137, 298.257222101},
    {-75, -30, -50, 1.0, 0, 0, 6378206.4, 294.9786982},
    {115, 4, 323.0257905, 0.99984, 590476.87, 442857.65, 6377298.556, 300.8017},
};

CoordSys Omerc(const OmercCase& c) {
  return MakeSystem(7, {c.lonc, c.latc, c.alpha, c.k0, c.fe, c.fn}, c.a, c.rf);
}

std::string OmercArguments(const OmercCase& c) {
  char text[256];
  snprintf(text, sizeof text,
           "+proj=omerc +no_uoff +lonc=%.17g +lat_0=%.17g +alpha=%.17g +k_0=%.17g +x_0=%.17g "
           "+y_0=%.17g ",
           c.lonc, c.latc, c.alpha, c.k0, c.fe, c.fn);
  return text + testsupport::ProjEllipsoid(c.a, c.rf);
}

std::vector<DPoint> AroundCentre(const OmercCase& c) {
  return RandomPoints(200, c.lonc - 8, c.lonc + 8, c.latc - 8, c.latc + 8);
}

TEST(ObliqueMercator, MatchesProjForwardInverseAndScale) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  for (const OmercCase& c : kOmercCases) {
    SCOPED_TRACE(c.lonc);
    CoordSys cs = Omerc(c);
    std::vector<DPoint> points = AroundCentre(c);
    std::vector<std::vector<double>> expected;
    ASSERT_TRUE(pseudotest::RunProj("-S -f %.6f " + OmercArguments(c), points, &expected));
    std::vector<DPoint> projected;
    for (size_t i = 0; i < points.size(); ++i) {
      DPoint p = Forward(cs, points[i].x, points[i].y);
      ASSERT_NEAR(p.x, expected[i][0], 1e-3) << points[i].x << " " << points[i].y;
      ASSERT_NEAR(p.y, expected[i][1], 1e-3) << points[i].x << " " << points[i].y;
      // PROJ prints the scale factors with six digits.
      ASSERT_EQ(expected[i].size(), 8u);
      EXPECT_NEAR(Scale(cs, points[i].x, points[i].y), expected[i][3], 1e-5);
      projected.push_back({expected[i][0], expected[i][1]});
    }
    std::vector<std::vector<double>> back;
    ASSERT_TRUE(pseudotest::RunProj("-I -f %.12f " + OmercArguments(c), projected, &back));
    for (size_t i = 0; i < projected.size(); ++i) {
      DPoint g = Inverse(cs, projected[i].x, projected[i].y);
      ASSERT_NEAR(g.x, back[i][0], 1e-8) << projected[i].x << " " << projected[i].y;
      ASSERT_NEAR(g.y, back[i][1], 1e-8) << projected[i].x << " " << projected[i].y;
    }
  }
}

TEST(ObliqueMercator, InverseOfForwardIsTheStartingPoint) {
  for (const OmercCase& c : kOmercCases) {
    SCOPED_TRACE(c.lonc);
    CoordSys cs = Omerc(c);
    for (const DPoint& g : RandomPoints(2000, c.lonc - 30, c.lonc + 30, c.latc - 30, c.latc + 30)) {
      DPoint p = Forward(cs, g.x, g.y);
      DPoint back = Inverse(cs, p.x, p.y);
      ASSERT_NEAR(back.x, g.x, 1e-8) << g.x << " " << g.y;
      ASSERT_NEAR(back.y, g.y, 1e-8) << g.x << " " << g.y;
    }
  }
}

// Along the equator with azimuth 90 the central line is the equator: the
// projection is Mercator's, scaled by k0.
TEST(ObliqueMercator, AzimuthNinetyOnTheEquatorIsMercator) {
  const double a = 6378137, rf = 298.257223563, k0 = 0.9996;
  CoordSys cs = MakeSystem(7, {20, 0, 90, k0, 0, 0}, a, rf);
  EXPECT_NEAR(cs.k[13], layerio::kPi / 2, 1e-15);  // gamma0
  double f = 1 / rf, e2 = (2 - f) * f, e = std::sqrt(e2);
  for (double lat : {-60.0, -12.5, 0.0, 33.0, 75.0}) {
    for (double lon : {5.0, 20.0, 47.0}) {
      DPoint p = Forward(cs, lon, lat);
      double phi = lat * layerio::kDegToRad, s = std::sin(phi);
      double y = k0 * a *
                 std::log(std::tan(layerio::kPi / 4 + phi / 2) *
                          std::pow((1 - e * s) / (1 + e * s), e / 2));
      EXPECT_NEAR(p.x, k0 * a * (lon - 20) * layerio::kDegToRad, 1e-6) << lon << " " << lat;
      EXPECT_NEAR(p.y, y, 1e-6) << lon << " " << lat;
    }
  }
}

TEST(ObliqueMercator, ZeroScaleFactorMeansOneAndPolesStayFinite) {
  CoordSys zero = MakeSystem(7, {10, 45, 30, 0, 0, 0}, 6378137, 298.257222101);
  CoordSys one = MakeSystem(7, {10, 45, 30, 1, 0, 0}, 6378137, 298.257222101);
  DPoint p = Forward(zero, 13, 48), q = Forward(one, 13, 48);
  EXPECT_EQ(p.x, q.x);
  EXPECT_EQ(p.y, q.y);
  for (double lat : {90.0, -90.0}) {
    DPoint pole = Forward(one, 40, lat);
    EXPECT_TRUE(std::isfinite(pole.x) && std::isfinite(pole.y)) << lat;
    EXPECT_LT(std::fabs(pole.x), 2e7);
    EXPECT_EQ(Scale(one, 40, lat), layerio::kSingular);
    DPoint back = Inverse(one, pole.x, pole.y);
    EXPECT_NEAR(back.y, lat, 1e-6);
  }
  // Far beyond the map the inverse clamps its exponents instead of failing.
  for (double v : {1e12, -1e12}) {
    DPoint g = Inverse(one, v, v);
    EXPECT_TRUE(std::isfinite(g.x) && std::isfinite(g.y)) << v;
  }
}

// ----- New Zealand Map Grid ---------------------------------------------------

constexpr double kNzA = 6378388, kNzRf = 297;
constexpr double kNzFalseEasting = 2510000, kNzFalseNorthing = 6023150;
const char* kNzmgArguments =
    "+proj=nzmg +lat_0=-41 +lon_0=173 +x_0=2510000 +y_0=6023150 +a=6378388 +rf=297";

CoordSys Nzmg() {
  return MakeSystem(18, {173, -41, kNzFalseEasting, kNzFalseNorthing}, kNzA, kNzRf);
}

TEST(Nzmg, OriginAndWindow) {
  CoordSys cs = Nzmg();
  DPoint origin = Forward(cs, 173, -41);
  EXPECT_EQ(origin.x, kNzFalseEasting);
  EXPECT_EQ(origin.y, kNzFalseNorthing);
  // Outside the window of 15 degrees the nearest window point is projected.
  const DPoint pairs[][2] = {
      {{173, -21}, {173, -26}}, {{150, -41}, {158, -41}}, {{200, -70}, {188, -56}}};
  for (const auto& pair : pairs) {
    DPoint outside = Forward(cs, pair[0].x, pair[0].y), edge = Forward(cs, pair[1].x, pair[1].y);
    EXPECT_EQ(outside.x, edge.x) << pair[0].x << " " << pair[0].y;
    EXPECT_EQ(outside.y, edge.y) << pair[0].x << " " << pair[0].y;
  }
  // The inverse clamps into the projected window, the image of the
  // geographic one under the forward rectangle: far-off grid points give the
  // inverse of the window's corner.
  DRect geo{158, -56, 188, -26}, window;
  cs.forwardRect(&geo, &window, &cs);
  for (DPoint g : {DPoint{188, -26}, DPoint{158, -56}, DPoint{173, -26}}) {
    DPoint p = Forward(cs, g.x, g.y);
    EXPECT_TRUE(layerio::DPointInRect(&p, &window)) << g.x << " " << g.y;
  }
  DPoint far = Inverse(cs, 1e9, 1e9), corner = Inverse(cs, window.x2, window.y2);
  EXPECT_EQ(far.x, corner.x);
  EXPECT_EQ(far.y, corner.y);
  EXPECT_TRUE(std::isfinite(far.x) && std::isfinite(far.y));
}

TEST(Nzmg, MatchesProjForwardInverseAndScale) {
  if (!testsupport::HaveProj()) GTEST_SKIP() << "PROJ's programs are not installed";
  CoordSys cs = Nzmg();
  std::vector<DPoint> points = RandomPoints(200, 166, 179, -48, -34);
  std::vector<std::vector<double>> expected;
  ASSERT_TRUE(pseudotest::RunProj(std::string("-S -f %.6f ") + kNzmgArguments, points, &expected));
  std::vector<DPoint> projected;
  for (size_t i = 0; i < points.size(); ++i) {
    DPoint p = Forward(cs, points[i].x, points[i].y);
    ASSERT_NEAR(p.x, expected[i][0], 1e-3) << points[i].x << " " << points[i].y;
    ASSERT_NEAR(p.y, expected[i][1], 1e-3) << points[i].x << " " << points[i].y;
    ASSERT_EQ(expected[i].size(), 8u);
    EXPECT_NEAR(Scale(cs, points[i].x, points[i].y), expected[i][3], 1e-5);
    projected.push_back({expected[i][0], expected[i][1]});
  }
  std::vector<std::vector<double>> back;
  ASSERT_TRUE(pseudotest::RunProj(std::string("-I -f %.12f ") + kNzmgArguments, projected, &back));
  for (size_t i = 0; i < projected.size(); ++i) {
    DPoint g = Inverse(cs, projected[i].x, projected[i].y);
    double metresPerDegree = 111320.0;
    double dx = (g.x - back[i][0]) * metresPerDegree * std::cos(g.y * layerio::kDegToRad);
    double dy = (g.y - back[i][1]) * metresPerDegree;
    ASSERT_LT(std::hypot(dx, dy), 0.01) << projected[i].x << " " << projected[i].y;
  }
}

TEST(Nzmg, DispatchedThroughCoordSysInit) {
  layerio::CoordSysParams block;
  layerio::CoordSysParamsClear(&block);
  block.datum.ellipsoid = 4;  // International 1924
  block.projectedUnit = layerio::kUnitMetre;
  const double params[] = {173, -41, kNzFalseEasting, kNzFalseNorthing};
  for (int i = 0; i < 4; ++i) block.params[i] = params[i];
  CoordSys viaInit;
  layerio::CoordSysInit(&viaInit, 18, &block);
  CoordSys byHand = Nzmg();
  DPoint a = Forward(viaInit, 174.76, -36.85), b = Forward(byHand, 174.76, -36.85);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(viaInit.forwardRect, &layerio::RectForwardMeridian);
  EXPECT_EQ(viaInit.inverseRect, &layerio::RectInverseMeridian);
  CoordSys omerc;
  block.params[2] = 30;
  layerio::CoordSysInit(&omerc, 7, &block);
  EXPECT_EQ(omerc.forwardRect, &layerio::RectForwardFourCorners);
  EXPECT_EQ(omerc.inverseRect, &layerio::RectInverseFourCorners);
  CoordSys oblique;
  layerio::CoordSysInit(&oblique, 25, &block);
  EXPECT_EQ(oblique.forwardRect, &layerio::RectForwardOblique);
  EXPECT_EQ(oblique.inverseRect, &layerio::RectInverseOblique);
}

// False easting and northing are in the system's units: added after the
// conversion from metres, taken off before the conversion back.
TEST(GridProjections, FalseOriginInSystemUnits) {
  constexpr int kKilometre = 1;
  struct Case {
    int projection;
    std::vector<double> metres, kilometres;  // parameters
    DPoint g;
  };
  const Case cases[] = {
      {7, {10, 45, 30, 0.9996, 500000, 200000}, {10, 45, 30, 0.9996, 500, 200}, {12, 47}},
      {18, {173, -41, 2510000, 6023150}, {173, -41, 2510, 6023.15}, {175, -38}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.projection);
    CoordSys m = MakeSystem(c.projection, {}, kNzA, kNzRf);
    CoordSys km = MakeSystem(c.projection, {}, kNzA, kNzRf, kKilometre);
    for (size_t i = 0; i < c.metres.size(); ++i) {
      m.params.params[i] = c.metres[i];
      km.params.params[i] = c.kilometres[i];
    }
    layerio::CoordSysSelectProjection(&m);
    layerio::CoordSysSelectProjection(&km);
    DPoint pm = Forward(m, c.g.x, c.g.y), pk = Forward(km, c.g.x, c.g.y);
    EXPECT_NEAR(pk.x * 1000, pm.x, 1e-6);
    EXPECT_NEAR(pk.y * 1000, pm.y, 1e-6);
    DPoint back = Inverse(km, pk.x, pk.y);
    EXPECT_NEAR(back.x, c.g.x, 1e-7);
    EXPECT_NEAR(back.y, c.g.y, 1e-7);
  }
}

// ----- Rectangles of 7, 18 and 25 -------------------------------------------

std::vector<double> RecordedX() {
  std::vector<double> xs;
  for (const DPoint& p : RecordedPoints()) xs.push_back(p.x);
  return xs;
}

TEST(GridRects, FourCornersAndMeridian) {
  CoordSys cs = Nzmg();
  cs.forwardPoints = pseudotest::RecordPoints;
  cs.inversePoints = pseudotest::RecordPoints;
  cs.probeX0 = 2500000;
  DRect out;
  struct Case {
    void (*rect)(const DRect*, DRect*, const CoordSys*);
    DRect in;
    std::vector<double> xs;
  };
  const Case cases[] = {
      {layerio::RectForwardFourCorners, {170, -45, 176, -38}, {170, 170, 176, 176}},
      {layerio::RectInverseFourCorners, {1, 2, 3, 4}, {1, 1, 3, 3}},
      {layerio::RectForwardMeridian, {170, -45, 176, -38}, {170, 170, 176, 176, 173, 173}},
      {layerio::RectForwardMeridian, {173, -45, 176, -38}, {173, 173, 176, 176}},
      {layerio::RectInverseMeridian, {2e6, 5e6, 3e6, 7e6}, {2e6, 2e6, 3e6, 3e6, 2.5e6, 2.5e6}},
      {layerio::RectInverseMeridian, {2.6e6, 5e6, 3e6, 7e6}, {2.6e6, 2.6e6, 3e6, 3e6}},
  };
  for (const Case& c : cases) {
    RecordedPoints().clear();
    c.rect(&c.in, &out, &cs);
    EXPECT_EQ(RecordedX(), c.xs) << c.in.x1;
    EXPECT_EQ(out.x1, c.in.x1);
    EXPECT_EQ(out.y1, c.in.y1);
    EXPECT_EQ(out.x2, c.in.x2);
    EXPECT_EQ(out.y2, c.in.y2);
  }
  // With the real routines the forward rectangle holds the bulge of the
  // central meridian and every corner.
  CoordSys real = Nzmg();
  DRect geo{170, -45, 176, -38};
  real.forwardRect(&geo, &out, &real);
  for (DPoint g : {DPoint{173, -45}, DPoint{173, -38}, DPoint{170, -45}, DPoint{176, -38}}) {
    DPoint p = Forward(real, g.x, g.y);
    EXPECT_TRUE(layerio::DPointInRect(&p, &out)) << g.x << " " << g.y;
  }
}

// Projection 25's probe offset is 90 degrees: the forward rectangle samples
// the central meridian and those 90 and 180 degrees either side that fall
// inside it, and the parallels of the oblique pole.
TEST(GridRects, ObliqueSamplesMeridiansAndPoleParallels) {
  CoordSys cs = MakeSystem(25, {10, 46, 600000, 200000}, 6377397.155, 299.1528128);
  ASSERT_EQ(cs.probeOffset, 90.0);
  CoordSys spy = cs;
  spy.forwardPoints = pseudotest::RecordPoints;
  DRect out;
  DRect wide{-200, -10, 200, 10};
  RecordedPoints().clear();
  layerio::RectForwardOblique(&wide, &out, &spy);
  EXPECT_EQ(RecordedX(), (std::vector<double>{-200, -200, 200, 200, -170, -170, -80, -80, 10, 10,
                                              100, 100, 190, 190}));
  DRect north{0, 30, 50, 50};
  RecordedPoints().clear();
  layerio::RectForwardOblique(&north, &out, &spy);
  ASSERT_EQ(RecordedPoints().size(), 8u);
  EXPECT_EQ(RecordedPoints()[4].x, 10);
  EXPECT_EQ(RecordedPoints()[6].y, 44);
  EXPECT_EQ(RecordedPoints()[7].y, 44);
  DRect both{0, -50, 5, 50};
  RecordedPoints().clear();
  layerio::RectForwardOblique(&both, &out, &spy);
  EXPECT_EQ(RecordedPoints().size(), 8u);

  // The inverse adds the probe column X0 when it runs strictly inside, and the
  // images of the four points on the poles 90 degrees either side of the
  // central meridian that lie in the rectangle, edges included. The north
  // pole's image lies on the central meridian, like X0; the south pole's
  // on the far side of the oblique sphere.
  DPoint poles[4] = {{-80, 90}, {100, 90}, {-80, -90}, {100, -90}};
  cs.forwardPoints(poles, poles, &cs, 4);
  EXPECT_NEAR(poles[0].x, cs.probeX0, 1e-6);
  spy.inversePoints = pseudotest::RecordPoints;
  spy.forwardPoints = cs.forwardPoints;
  const DPoint& south = poles[2];
  const DRect rects[] = {
      {poles[0].x - 1, poles[0].y - 1, poles[0].x + 1, poles[0].y + 1},
      {south.x, south.y - 1, south.x + 2, south.y},  // the image on a corner
      {south.x + 1e-3, south.y - 1, south.x + 2, south.y},
      {cs.probeX0 - 10, 0, cs.probeX0 + 10, 10},
      {cs.probeX0, 0, cs.probeX0 + 10, 10},
  };
  const size_t counts[] = {8, 5, 4, 6, 4};
  for (size_t r = 0; r < std::size(rects); ++r) {
    RecordedPoints().clear();
    layerio::RectInverseOblique(&rects[r], &out, &spy);
    std::vector<DPoint> expected = {{rects[r].x1, rects[r].y1},
                                    {rects[r].x1, rects[r].y2},
                                    {rects[r].x2, rects[r].y2},
                                    {rects[r].x2, rects[r].y1}};
    if (rects[r].x1 < cs.probeX0 && cs.probeX0 < rects[r].x2) {
      expected.push_back({cs.probeX0, rects[r].y1});
      expected.push_back({cs.probeX0, rects[r].y2});
    }
    for (const DPoint& pole : poles)
      if (layerio::DPointInRect(&pole, &rects[r])) expected.push_back(pole);
    ASSERT_EQ(RecordedPoints().size(), counts[r]) << r;
    ASSERT_EQ(expected.size(), counts[r]) << r;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(RecordedPoints()[i].x, expected[i].x) << r << " " << i;
      EXPECT_EQ(RecordedPoints()[i].y, expected[i].y) << r << " " << i;
    }
  }
}

}  // namespace
