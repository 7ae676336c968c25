// The converters of a transform record: the general converter and the steps
// it leaves out, the linear integer mapping of a window against the plain
// formula, the identity, and rectangles carried through points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mapfile/coordsys/coordsys.h"

namespace layerio {
namespace {

void InvertAffine(const double m[6], double inv[6]) {
  double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5], det = a * e - b * d;
  double out[6] = {e / det, -b / det, (b * f - c * e) / det,
                   -d / det, a / det, (c * d - a * f) / det};
  memcpy(inv, out, sizeof out);
}

void System(CoordSys* cs, int projection, int datum, const double* affine, double half) {
  CoordSysParams block;
  memset(&block, 0, sizeof block);
  if (projection == 0) {
    block.nonEarth.one = 1;
    block.nonEarth.quadrant = 1;
    block.nonEarth.unit = kUnitMetre;
    block.nonEarth.quadrant2 = 1;
  } else {
    DatumRecordGet(datum, &block.datum);
    block.projectedUnit = kUnitMetre;
    block.lonLatQuadrant = 2;
  }
  if (affine) {
    block.flags |= kParamsAffine;
    block.affineUnit = kUnitMetre;
    memcpy(block.affine, affine, sizeof block.affine);
    InvertAffine(affine, block.affineInverse);
  }
  CoordSysInit(cs, projection, &block);
  CoordSysSetBounds(cs, -half, -half, half, half);
}

// Counts the projection calls of the systems it is put into.
int gProjectionCalls = 0;
int CountingPoints(const DPoint* in, DPoint* out, const CoordSys*, int n) {
  ++gProjectionCalls;
  memmove(out, in, sizeof(DPoint) * size_t(n));
  return 0;
}

// A transform between two systems with the given shared steps, set by hand
// so that the converters are tested on their own.
void HandTransform(CoordXform* xf, const CoordSys* a, const CoordSys* b, uint32_t flags) {
  memset(xf, 0, sizeof *xf);
  xf->a = *a;
  xf->b = *b;
  xf->flags = flags;
}

TEST(GeneralConverterTest, SystemsDifferingOnlyInTheAffineRunNoProjection) {
  const double rotation[6] = {0.8, -0.6, 100, 0.6, 0.8, -50};
  CoordSys plain, rotated;
  System(&plain, 10, 105, nullptr, 2e7);
  System(&rotated, 10, 105, rotation, 2e7);
  CoordXform xf;
  HandTransform(&xf, &plain, &rotated, kXfMatchIgnoringAffine);
  xf.a.inversePoints = CountingPoints;
  xf.b.forwardPoints = CountingPoints;
  const IPoint in[] = {{123456789, -98765432}, {-500000000, 700000000}, {0, 0}};
  IPoint out[3];
  gProjectionCalls = 0;
  XformGeneralPointsAB(in, nullptr, out, nullptr, &xf, 3);
  EXPECT_EQ(gProjectionCalls, 0);
  for (int i = 0; i < 3; ++i) {
    DPoint p;
    CoordIntToUnits(&in[i], &p, &plain, 1);
    DPoint q{0.8 * p.x - 0.6 * p.y + 100, 0.6 * p.x + 0.8 * p.y - 50};
    IPoint expected;
    CoordUnitsToInt(&q, &expected, &rotated, 1);
    EXPECT_EQ(out[i].x, expected.x) << i;
    EXPECT_EQ(out[i].y, expected.y) << i;
  }
  // The same record without the shared step runs both projections.
  xf.flags = 0;
  XformGeneralPointsAB(in, nullptr, out, nullptr, &xf, 3);
  EXPECT_EQ(gProjectionCalls, 2);

  // What CoordXformInit decides for the pair gives the same points.
  CoordXform real;
  CoordXformInit(&real, &plain, &rotated);
  EXPECT_TRUE(real.flags & kXfMatchIgnoringAffine);
  EXPECT_FALSE(real.flags & kXfMatch);
  IPoint viaInit[3];
  real.pointsForward(in, nullptr, viaInit, nullptr, &real, 3);
  xf.flags = kXfMatchIgnoringAffine;
  xf.a = plain;
  xf.b = rotated;
  XformGeneralPointsAB(in, nullptr, out, nullptr, &xf, 3);
  EXPECT_EQ(0, memcmp(viaInit, out, sizeof out));
}

TEST(GeneralConverterTest, AcrossProjectionsAndDatumsItIsTheWholeChain) {
  CoordSys lonLat, mercator;
  System(&lonLat, 1, 105, nullptr, 180);
  System(&mercator, 10, 104, nullptr, 2e7);
  CoordXform xf;
  CoordXformInit(&xf, &lonLat, &mercator);
  ASSERT_FALSE(xf.flags & kXfDatumIgnored);
  std::mt19937 random(3);
  std::uniform_int_distribution<int32_t> value(-400000000, 400000000);
  std::vector<IPoint> in(600);
  for (IPoint& p : in) p = IPoint{value(random), value(random)};
  int n = int(in.size());
  std::vector<IPoint> out(n), chain(n), back(n);
  std::vector<DPoint> lonLats(n), doubles(n);
  XformGeneralPointsAB(in.data(), nullptr, out.data(), nullptr, &xf, n);
  PXDatum datum;
  IntToLonLat(in.data(), lonLats.data(), &datum, &lonLat, n);
  LonLatToInt(lonLats.data(), chain.data(), &datum, &mercator, n);
  EXPECT_EQ(0, memcmp(out.data(), chain.data(), sizeof(IPoint) * n));
  // Double output is the same plane before rounding; and back again.
  XformGeneralPointsAB(in.data(), nullptr, nullptr, doubles.data(), &xf, n);
  XformGeneralPointsBA(nullptr, doubles.data(), back.data(), nullptr, &xf, n);
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(doubles[i].x, out[i].x, 0.5) << i;
    // The Molodensky shift and its reverse agree to about 10 cm, a few
    // steps of 1.8e-7 degree.
    EXPECT_NEAR(back[i].x, in[i].x, 10) << i;
    EXPECT_NEAR(back[i].y, in[i].y, 10) << i;
  }
  // The rectangle form encloses the converted corners.
  IRect r{-1000000, 2000000, 3000000, 4000000}, ir;
  XformGeneralRectAB(&r, nullptr, &ir, nullptr, &xf);
  IPoint corners[4];
  IRectCorners(&r, corners);
  XformGeneralPointsAB(corners, nullptr, corners, nullptr, &xf, 4);
  for (const IPoint& c : corners) EXPECT_TRUE(IPointInRect(&c, &ir));
}

// A window of w x h integers at (ox, oy) onto an integer stretch of the
// other system, as CoordXformInit stores it.
void LinearTransform(CoordXform* xf, IntExtent window, IntExtent target) {
  memset(xf, 0, sizeof *xf);
  window.xFactor = 0x3FFFFFFF / std::abs(window.width);
  window.yFactor = 0x3FFFFFFF / std::abs(window.height);
  target.xFactor = 0x3FFFFFFF / std::abs(target.width);
  target.yFactor = 0x3FFFFFFF / std::abs(target.height);
  xf->a.extent = window;
  xf->mapping = target;
  xf->flags = kXfRectCompatible;
}

double Clamped(double v) { return std::fmin(std::fmax(v, -kIntCoordLimit), kIntCoordLimit); }

// The halvings of the integer mapping give up precision on points far outside
// the window: the bound below is what halving W k times may cost.
double ForwardBound(int64_t dx, int32_t w, int32_t f) {
  if (f <= 0) return 0.5;  // a window too wide for halvings maps exactly
  int k = 0;
  uint64_t m = uint64_t(dx < 0 ? -dx : dx);
  while ((m >> k) > uint64_t(f)) ++k;
  return k == 0 ? 0.5 : std::ldexp(1.0, k) * (1.0 + double(m) / std::abs(w));
}

TEST(LinearConverterTest, MatchesTheDoubleFormulaOnRandomIntegers) {
  struct Case {
    const char* name;
    IntExtent window, target;
  };
  const Case cases[] = {
      {"screen", {0, 1080, 1920, -1080, 0, 0},
       {-300000000, 250000000, 600000000, -337500000, 0, 0}},
      {"unit window", {0, 1, 1, -1, 0, 0},
       {-1000000000, 1000000000, 2000000000, -2000000000, 0, 0}},
      {"zoomed in", {100, 100, 800, 600, 0, 0}, {12345, -6789, 80, 60, 0, 0}},
      {"wide window", {-1000000000, -1000000000, 2000000000, 2000000000, 0, 0},
       {0, 0, 4000, 3000, 0, 0}},
  };
  std::mt19937 random(17);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CoordXform xf;
    LinearTransform(&xf, c.window, c.target);
    const IntExtent& a = xf.a.extent;
    const IntExtent& b = xf.mapping;
    std::vector<IPoint> in;
    int32_t span = int32_t(std::min<int64_t>(4 * std::llabs(a.width), kIntCoordLimit));
    std::uniform_int_distribution<int32_t> near(-span, span);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    for (int i = 0; i < 300; ++i) {
      in.push_back(IPoint{a.originX + near(random), a.originY + near(random)});
      in.push_back(IPoint{any(random), any(random)});
    }
    for (int32_t e : {INT32_MIN, INT32_MAX, -kIntCoordLimit, kIntCoordLimit, 0})
      in.push_back(IPoint{e, e});
    int n = int(in.size());
    std::vector<IPoint> out(n), back(n);
    XformLinearPointsAB(in.data(), nullptr, out.data(), nullptr, &xf, n);
    XformLinearPointsBA(out.data(), nullptr, back.data(), nullptr, &xf, n);
    for (int i = 0; i < n; ++i) {
      int64_t dx = int64_t(in[i].x) - a.originX, dy = int64_t(in[i].y) - a.originY;
      double x = Clamped(double(dx) * b.width / a.width + b.originX);
      double y = Clamped(double(dy) * b.height / a.height + b.originY);
      EXPECT_NEAR(out[i].x, x, ForwardBound(dx, a.width, a.xFactor)) << in[i].x;
      EXPECT_NEAR(out[i].y, y, ForwardBound(dy, a.height, a.yFactor)) << in[i].y;
      // Back into the window: exact to the rounding where no halving was
      // needed (within four windows of the origin and small targets).
      int64_t bx = int64_t(out[i].x) - b.originX;
      double wx = Clamped(double(bx) * a.width / b.width + a.originX);
      if (std::llabs(bx) <= a.xFactor) {
        EXPECT_NEAR(back[i].x, wx, 0.5) << out[i].x;
      }
    }
    // Double input runs the plain formula.
    DPoint d{a.originX + 0.25 * a.width, a.originY + 0.5 * a.height}, dOut;
    XformLinearPointsAB(nullptr, &d, nullptr, &dOut, &xf, 1);
    EXPECT_DOUBLE_EQ(dOut.x, b.originX + 0.25 * b.width);
    EXPECT_DOUBLE_EQ(dOut.y, b.originY + 0.5 * b.height);
    XformLinearPointsBA(nullptr, &dOut, nullptr, &dOut, &xf, 1);
    EXPECT_NEAR(dOut.x, d.x, 1e-6 * std::abs(a.width));
  }
}

TEST(LinearConverterTest, ProductOfLargeTargetsDoesNotWrap) {
  // W of 600,000,000 times a window offset of 1000 is far beyond 32 bits.
  CoordXform xf;
  LinearTransform(&xf, {0, 0, 1920, 1080, 0, 0}, {-300000000, -200000000, 600000000, 400000000,
                                                  0, 0});
  const IPoint in[] = {{1000, 540}, {1920, 1080}, {-7, 0}};
  IPoint out[3];
  XformLinearPointsAB(in, nullptr, out, nullptr, &xf, 3);
  EXPECT_EQ(out[0].x, -300000000 + 312500000);
  EXPECT_EQ(out[0].y, 0);
  EXPECT_EQ(out[1].x, 300000000);
  EXPECT_EQ(out[1].y, 200000000);
  EXPECT_EQ(out[2].x, -300000000 - 2187500);
  // The rectangle form normalises.
  IRect r{1920, 1080, 0, 0}, ir;
  XformLinearRectAB(&r, nullptr, &ir, nullptr, &xf);
  EXPECT_EQ(ir.x1, -300000000);
  EXPECT_EQ(ir.x2, 300000000);
  XformLinearRectBA(&ir, nullptr, &ir, nullptr, &xf);
  EXPECT_EQ(ir.x1, 0);
  EXPECT_EQ(ir.y2, 1080);
}

TEST(IdentityConverterTest, CopiesIntegersOrDoubles) {
  CoordXform xf;
  memset(&xf, 0, sizeof xf);
  IPoint ints[2] = {{1, -2}, {kIntCoordLimit, INT32_MIN}}, intOut[2];
  XformIdentityPoints(ints, nullptr, intOut, nullptr, &xf, 2);
  EXPECT_EQ(0, memcmp(ints, intOut, sizeof ints));
  XformIdentityPoints(ints, nullptr, ints, nullptr, &xf, 2);  // in place
  EXPECT_EQ(0, memcmp(ints, intOut, sizeof ints));
  DPoint d[2] = {{0.5, -1e300}, {2.5, 3}}, dOut[2];
  XformIdentityPoints(nullptr, d, nullptr, dOut, &xf, 2);
  EXPECT_EQ(0, memcmp(d, dOut, sizeof d));
  IRect r{1, 2, 3, 4}, rOut;
  XformIdentityRect(&r, nullptr, &rOut, nullptr, &xf);
  EXPECT_EQ(0, memcmp(&r, &rOut, sizeof r));
}

TEST(RectThroughPointsTest, RotationKeepsEdgeLengthsAroundTheRotatedCentre) {
  const double c = std::cos(0.5), s = std::sin(0.5);
  const double rotation[6] = {c, -s, 3, s, c, -2};
  CoordSys plain, rotated;
  System(&plain, 0, 0, nullptr, 10);
  System(&rotated, 0, 0, rotation, 10);
  CoordXform xf;
  HandTransform(&xf, &plain, &rotated, kXfDatumIgnored | kXfMatchIgnoringAffine);
  DRect in{-200000000, -100000000, 300000000, 500000000}, out;
  XformRectThroughPoints(&in, XformGeneralPointsAB, XformGeneralRectAB, &xf, &out);
  EXPECT_NEAR(out.x2 - out.x1, 500000000, 1);
  EXPECT_NEAR(out.y2 - out.y1, 600000000, 1);
  DPoint centre{50000000, 200000000};
  CoordUnscalePoints(&centre, &centre, &plain, 1);
  DPoint turned{c * centre.x - s * centre.y + 3, s * centre.x + c * centre.y - 2};
  CoordScalePoints(&turned, &turned, &rotated, 1);
  EXPECT_NEAR((out.x1 + out.x2) / 2, turned.x, 1e-3);
  EXPECT_NEAR((out.y1 + out.y2) / 2, turned.y, 1e-3);

  // Rectangle-compatible records take the rectangle converter alone.
  xf.flags |= kXfRectCompatible;
  DRect viaRect, expected;
  XformRectThroughPoints(&in, XformGeneralPointsAB, XformGeneralRectAB, &xf, &viaRect);
  XformGeneralRectAB(nullptr, &in, nullptr, &expected, &xf);
  EXPECT_EQ(0, memcmp(&viaRect, &expected, sizeof viaRect));
  EXPECT_TRUE(CoordXformIsRectCompatible(&xf));
}

TEST(RectThroughPointsTest, WholeRectangleOperationsOfATransform) {
  CoordXform xf;
  LinearTransform(&xf, {0, 1080, 1920, -1080, 0, 0}, {-3000, 2000, 6000, -4000, 0, 0});
  xf.pointsForwardAlways = XformLinearPointsAB;
  xf.pointsBackwardAlways = XformLinearPointsBA;
  xf.rectForwardAlways = XformLinearRectAB;
  xf.rectBackwardAlways = XformLinearRectBA;
  DRect window{0, 0, 960, 540};
  IRect ir;
  CoordXformRectForward(&window, &ir, &xf);
  EXPECT_EQ(ir.x1, -3000);
  EXPECT_EQ(ir.x2, 0);
  EXPECT_EQ(ir.y1, -2000);
  EXPECT_EQ(ir.y2, 0);
  DRect back;
  CoordXformRectBackward(&ir, &back, &xf);
  EXPECT_DOUBLE_EQ(back.x1, 0);
  EXPECT_DOUBLE_EQ(back.x2, 960);
  // The backward clamp keeps window integers within -4000..12000.
  IRect wide{-30000000, -20000000, 30000000, 20000000}, clamped;
  CoordXformRectBackClamped(&wide, &clamped, &xf);
  EXPECT_EQ(clamped.x1, -4000);
  EXPECT_EQ(clamped.x2, 12000);
  EXPECT_EQ(clamped.y1, -4000);
  EXPECT_EQ(clamped.y2, 12000);
}

}  // namespace
}  // namespace layerio
