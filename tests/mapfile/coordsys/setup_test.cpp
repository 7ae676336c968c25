// Setting up coordinate systems (integer scale from bounds, scale, window and
// internal affine; derived systems; probe values) and transforms between them
// (converter choice, the datum-ignored rule, the linear integer mapping).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/coordsys/projection.h"

namespace layerio {
namespace {

CoordSysParams NonEarthBlock(int quadrant, int quadrant2, int unit = kUnitMetre) {
  CoordSysParams block;
  CoordSysParamsClear(&block);
  block.nonEarth.one = 1;
  block.nonEarth.quadrant = uint8_t(quadrant);
  block.nonEarth.unit = uint16_t(unit);
  block.nonEarth.quadrant2 = uint8_t(quadrant2);
  return block;
}

CoordSysParams EarthBlock(int datum, int unit = kUnitMetre) {
  CoordSysParams block;
  CoordSysParamsClear(&block);
  DatumRecordGet(datum, &block.datum);
  block.projectedUnit = uint16_t(unit);
  return block;
}

CoordSysParams LonLatBlock(int datum = 0) {
  CoordSysParams block;
  CoordSysParamsDefault(&block);
  if (datum) DatumRecordGet(datum, &block.datum);
  return block;
}

TEST(ScaleClamp, KeepsMagnitudeWithinRangeAndSign) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double in, out;
  } rows[] = {{0, 1e-20},      {-0.0, 1e-20},  {5, 5},           {-5, -5},    {1e30, 1e20},
              {-1e30, -1e20},  {1e-30, 1e-20}, {-1e-30, -1e-20}, {1e20, 1e20}, {nan, 1e-20}};
  for (const auto& r : rows) EXPECT_EQ(ScaleClampMagnitude(r.in), r.out) << r.in;
}

TEST(SetBounds, MapsTheBoundsOntoTheIntegerRange) {
  CoordSysParams block = NonEarthBlock(1, 1);
  CoordSys cs;
  DRect bounds{0, 0, 10, 10};
  CoordSysInitWithBounds(&cs, 0, &block, &bounds);
  EXPECT_EQ(cs.scaleX, 2e8);
  EXPECT_EQ(cs.scaleY, 2e8);
  EXPECT_EQ(cs.offsetX, -1e9);
  EXPECT_EQ(cs.offsetY, -1e9);
  DPoint corners[2] = {{10, 10}, {0, 0}};
  IPoint ints[2];
  CoordUnitsToInt(corners, ints, &cs, 2);
  EXPECT_EQ(ints[0].x, 1000000000);
  EXPECT_EQ(ints[0].y, 1000000000);
  EXPECT_EQ(ints[1].x, -1000000000);
  EXPECT_EQ(ints[1].y, -1000000000);
}

TEST(SetBounds, QuadrantCodesGiveTheAxisSigns) {
  const struct {
    int quadrant, quadrant2;
    double signX, signY;
  } rows[] = {{1, 1, 1, 1}, {2, 1, -1, 1}, {3, 1, -1, -1}, {4, 1, 1, -1}, {3, 3, 1, 1},
              {2, 4, -1, -1}};
  for (const auto& r : rows) {
    CoordSysParams block = NonEarthBlock(r.quadrant, r.quadrant2);
    CoordSys cs;
    DRect bounds{-5, -5, 5, 5};
    CoordSysInitWithBounds(&cs, 0, &block, &bounds);
    EXPECT_EQ(cs.scaleX, r.signX * 2e8) << r.quadrant << "/" << r.quadrant2;
    EXPECT_EQ(cs.scaleY, r.signY * 2e8) << r.quadrant << "/" << r.quadrant2;
    EXPECT_FALSE(std::signbit(cs.offsetX));  // -0.0 never enters a record
  }
}

TEST(SetBounds, LonLatDefaultQuadrantMakesEastSmaller) {
  CoordSysParams block = LonLatBlock();
  CoordSys cs;
  DRect bounds{-180, -90, 180, 90};
  CoordSysInitWithBounds(&cs, 1, &block, &bounds);
  EXPECT_LT(cs.scaleX, 0);
  EXPECT_GT(cs.scaleY, 0);
  DPoint points[2] = {{0, 0}, {10, 0}};
  IPoint ints[2];
  CoordUnitsToInt(points, ints, &cs, 2);
  EXPECT_LT(ints[1].x, ints[0].x);
}

TEST(SetBounds, DegenerateExtentClampsInsteadOfDividingByZero) {
  CoordSysParams block = NonEarthBlock(1, 1);
  CoordSys cs;
  DRect bounds{5, 0, 5, 10};
  CoordSysInitWithBounds(&cs, 0, &block, &bounds);
  EXPECT_EQ(cs.scaleX, 1e20);
  EXPECT_TRUE(std::isfinite(cs.offsetX));
  // The only x of such a table still lands inside the integer range and
  // comes back unchanged.
  DPoint p{5, 10};
  IPoint i;
  CoordUnitsToInt(&p, &i, &cs, 1);
  EXPECT_EQ(i.x, 0);
  EXPECT_EQ(i.y, 1000000000);
  DPoint back;
  CoordIntToUnits(&i, &back, &cs, 1);
  EXPECT_EQ(back.x, 5);
}

TEST(SetScale, StoresSignedScaleAndClearsWindowAndAffine) {
  CoordSysParams block = NonEarthBlock(2, 1);
  CoordSys cs;
  CoordSysInit(&cs, 0, &block);
  double affine12[12] = {1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0};
  CoordSysSetInternalAffine(&cs, affine12, true);
  CoordSysSetScale(&cs, 100, 0, 7, -3);
  EXPECT_EQ(cs.flags & (kCsWindow | kCsInternalAffine), 0u);
  EXPECT_EQ(cs.scaleX, -100);
  EXPECT_EQ(cs.scaleY, 1e-20);
  EXPECT_EQ(cs.offsetX, -7);
  EXPECT_EQ(cs.offsetY, -3);
  CoordSys again;
  CoordSysInitWithScale(&again, 0, &block, 100, 0, 7, -3);
  EXPECT_EQ(again.scaleX, cs.scaleX);
  EXPECT_EQ(again.offsetY, cs.offsetY);
}

TEST(IntExtent, OriginAtTopLeftAndFactors) {
  CoordSys cs;
  CoordSysParams block = NonEarthBlock(1, 1);
  CoordSysInit(&cs, 0, &block);
  IRect r{10, 20, 110, 220};
  CoordSysSetIntExtent(&cs, &r);
  EXPECT_EQ(cs.extent.originX, 10);
  EXPECT_EQ(cs.extent.originY, 220);
  EXPECT_EQ(cs.extent.width, 100);
  EXPECT_EQ(cs.extent.height, -200);
  EXPECT_EQ(cs.extent.xFactor, 0x3FFFFFFF / 100);
  EXPECT_EQ(cs.extent.yFactor, 0x3FFFFFFF / 200);
  IRect empty{5, 5, 5, 5};
  CoordSysSetIntExtent(&cs, &empty);
  EXPECT_EQ(cs.extent.width, 1);
  EXPECT_EQ(cs.extent.height, -1);
  EXPECT_EQ(cs.extent.xFactor, 0x3FFFFFFF);
}

TEST(SetWindow, KeepsTheIntegerAspectAndCentresTheWindow) {
  CoordSysParams block = NonEarthBlock(1, 1);
  CoordSys cs;
  CoordSysInit(&cs, 0, &block);
  IRect device{0, 0, 640, 480};
  DRect window{0, 0, 10, 10};
  CoordSysSetWindow(&cs, &device, &window);
  EXPECT_EQ(cs.flags & kCsWindow, kCsWindow);
  EXPECT_NEAR(cs.windowW, 40.0 / 3, 1e-12);
  EXPECT_EQ(cs.windowH, 10);
  EXPECT_NEAR(cs.windowX, -5.0 / 3, 1e-12);
  EXPECT_EQ(cs.windowY, 0);
  EXPECT_NEAR(cs.scaleX, 48, 1e-12);
  EXPECT_NEAR(cs.scaleY, -48, 1e-12);
  // The window's centre is the device's centre; y runs down the device.
  DPoint points[2] = {{5, 5}, {5, 10}};
  IPoint ints[2];
  CoordUnitsToInt(points, ints, &cs, 2);
  EXPECT_EQ(ints[0].x, 320);
  EXPECT_EQ(ints[0].y, 240);
  EXPECT_EQ(ints[1].y, 0);
}

TEST(SetWindow, LayoutWindowRunsDownTheDeviceLikeThePaper) {
  CoordSysParams block = NonEarthBlock(1, 4, kUnitMetre);  // second code 4: layout
  CoordSys cs;
  CoordSysInit(&cs, 0, &block);
  IRect device{0, 0, 100, 100};
  DRect window{0, 0, 10, 10};
  CoordSysSetWindow(&cs, &device, &window);
  EXPECT_EQ(cs.windowY, 10);
  EXPECT_EQ(cs.windowH, -10);
  EXPECT_EQ(cs.scaleY, 10);
  DPoint points[2] = {{0, 0}, {10, 10}};
  IPoint ints[2];
  CoordUnitsToInt(points, ints, &cs, 2);
  EXPECT_EQ(ints[0].y, 0);
  EXPECT_EQ(ints[1].y, 100);
  EXPECT_EQ(ints[1].x, 100);
}

TEST(SetWindow, ZeroHeadedNonEarthBlockTakesTheWindowAsItStands) {
  CoordSysParams block = NonEarthBlock(1, 1);
  block.nonEarth.one = 0;
  CoordSys cs;
  CoordSysInit(&cs, 0, &block);
  IRect device{0, 0, 640, 480};
  DRect window{0, 0, 10, 10};
  CoordSysSetWindow(&cs, &device, &window);
  EXPECT_EQ(cs.windowW, 10);
  EXPECT_EQ(cs.windowH, 10);
  EXPECT_EQ(cs.scaleX, 64);
  EXPECT_EQ(cs.scaleY, -48);
}

TEST(SetWindow, LonLatWindowStretchesLongitudeByTheReferenceLatitude) {
  CoordSysParams block = LonLatBlock();
  block.params[0] = 60;
  CoordSys cs;
  CoordSysInit(&cs, 1, &block);
  EXPECT_NEAR(CoordSysWindowAspect(&cs), 0.5, 1e-15);
  IRect device{0, 0, 500, 500};
  DRect window{0, 40, 10, 50};
  CoordSysSetWindow(&cs, &device, &window);
  // A degree of longitude at 60 degrees is half a degree of latitude long.
  EXPECT_NEAR(std::fabs(cs.scaleX), 0.5 * std::fabs(cs.scaleY), 1e-9);
  EXPECT_NEAR(cs.windowW, 20, 1e-12);
  // With a public affine the stretch does not apply.
  block.flags |= kParamsAffine;
  CoordSysInit(&cs, 1, &block);
  EXPECT_EQ(CoordSysWindowAspect(&cs), 1.0);
}

TEST(SetInternalAffine, UnitWindowMakesIntegersTheAffineOutput) {
  CoordSysParams block = NonEarthBlock(1, 1);
  CoordSys cs;
  CoordSysInit(&cs, 0, &block);
  double affine12[12] = {2, 0, 10, 0, 2, 20, 0.5, 0, -5, 0, 0.5, -10};
  CoordSysSetInternalAffine(&cs, affine12, true);
  EXPECT_EQ(cs.flags & (kCsWindow | kCsInternalAffine), kCsWindow | kCsInternalAffine);
  EXPECT_EQ(cs.extent.originX, 0);
  EXPECT_EQ(cs.extent.originY, 1);
  EXPECT_EQ(cs.extent.width, 1);
  EXPECT_EQ(cs.extent.height, -1);
  EXPECT_EQ(cs.windowX, 0);
  EXPECT_EQ(cs.windowY, 1);
  EXPECT_EQ(cs.windowW, 1);
  EXPECT_EQ(cs.windowH, -1);
  EXPECT_EQ(cs.scaleX, 1);
  EXPECT_EQ(cs.offsetY, 0);
  EXPECT_EQ(0, std::memcmp(cs.internalAffine, affine12, 6 * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(cs.internalAffineInverse, affine12 + 6, 6 * sizeof(double)));
  CoordSysSetInternalAffine(&cs, affine12, false);
  EXPECT_EQ(cs.flags & kCsWindow, 0u);
}

TEST(Init, EllipsoidNoDatumFlagAndProbeValues) {
  CoordSysParams wgs = EarthBlock(104);
  wgs.params[0] = -20;
  CoordSys mercator;
  CoordSysInit(&mercator, 10, &wgs);
  EllipsoidParams expected;
  EllipsoidGet(28, &expected);
  EXPECT_EQ(0, std::memcmp(&mercator.ellipsoid, &expected, sizeof expected));
  EXPECT_EQ(mercator.flags & kCsNoDatum, 0u);
  EXPECT_EQ(mercator.centralMeridian, -20);
  EXPECT_EQ(mercator.probeX0, 0);
  EXPECT_EQ(mercator.scaleX, 0);  // no integer scale until one is set

  CoordSysParams none = EarthBlock(0);  // datum 0: ellipsoid 29, no shift
  CoordSys lonLat;
  CoordSysInit(&lonLat, 1, &none);
  EXPECT_EQ(lonLat.flags & kCsNoDatum, kCsNoDatum);
  CoordSysParams plane = NonEarthBlock(1, 1);
  CoordSys nonEarth;
  CoordSysInit(&nonEarth, 0, &plane);
  EXPECT_EQ(nonEarth.flags & kCsNoDatum, kCsNoDatum);
  EllipsoidGet(kEllipsoidNone, &expected);
  EXPECT_EQ(0, std::memcmp(&nonEarth.ellipsoid, &expected, sizeof expected));

  // The oblique cylindrical init probes 90 degrees east of its origin.
  CoordSysParams swiss = EarthBlock(104);
  swiss.params[0] = 7.5;
  swiss.params[1] = 47;
  swiss.params[2] = 600000;
  swiss.params[3] = 200000;
  CoordSys oblique;
  CoordSysInit(&oblique, 25, &swiss);
  EXPECT_EQ(oblique.probeOffset, 90);
  DPoint probes[2] = {{7.5, 0}, {97.5, 0}};
  oblique.forwardPoints(probes, probes, &oblique, 2);
  EXPECT_EQ(oblique.probeX0, probes[0].x);
  EXPECT_EQ(oblique.probeY0, probes[1].y);

  // Every projection number gets all five routines.
  for (int n = 0; n < 32; ++n) {
    CoordSysParams block = n == 0 ? plane : wgs;
    CoordSys cs;
    CoordSysInit(&cs, n, &block);
    EXPECT_TRUE(cs.scaleFactor && cs.inversePoints && cs.forwardPoints && cs.inverseRect &&
                cs.forwardRect)
        << n;
  }
}

TEST(Init, ClampsTheOriginLongitude) {
  CoordSysParams block = EarthBlock(104);
  block.params[0] = 400;
  CoordSys cs;
  CoordSysInit(&cs, 11, &block);
  EXPECT_EQ(cs.centralMeridian, 360);
}

TEST(Derive, LonLatTakesTheRectangleCentreLatitude) {
  CoordSysParams block = LonLatBlock(104);
  CoordSys source, derived;
  DRect bounds{-180, -90, 180, 90};
  CoordSysInitWithBounds(&source, 1, &block, &bounds);
  DRect rect{0, 40, 10, 50};
  CoordSysDerive(&derived, &source, &rect);
  EXPECT_EQ(derived.projection, 1);
  EXPECT_NEAR(derived.params.params[0], 45, 1e-12);
  EXPECT_NEAR(derived.k[0], std::cos(45 * kDegToRad), 1e-12);
  EXPECT_EQ(0, std::memcmp(&derived.params.datum, &source.params.datum, sizeof(PXDatum)));
  CoordSysDerive(&derived, &source, nullptr);
  EXPECT_EQ(derived.params.params[0], 0);
}

TEST(Derive, KeepsTheInternalAffineWithAUnitWindow) {
  CoordSysParams block = NonEarthBlock(1, 1);
  CoordSys source, derived;
  CoordSysInit(&source, 0, &block);
  double affine12[12] = {3, 0, 1, 0, 3, 2, 1.0 / 3, 0, -1.0 / 3, 0, 1.0 / 3, -2.0 / 3};
  CoordSysSetInternalAffine(&source, affine12, false);
  CoordSysDerive(&derived, &source, nullptr);
  EXPECT_EQ(derived.flags & (kCsWindow | kCsInternalAffine), kCsWindow | kCsInternalAffine);
  EXPECT_EQ(0, std::memcmp(derived.internalAffine, affine12, sizeof derived.internalAffine));
  CoordSysDerive(&source, &source, nullptr);  // in place
  EXPECT_EQ(0, std::memcmp(source.internalAffine, affine12, sizeof source.internalAffine));
}

// ----- Transforms -------------------------------------------------------------

CoordSys MercatorWithBounds(int datum, double lon0) {
  CoordSysParams block = EarthBlock(datum);
  block.params[0] = lon0;
  CoordSys cs;
  DRect bounds{-2e7, -2e7, 2e7, 2e7};
  CoordSysInitWithBounds(&cs, 10, &block, &bounds);
  return cs;
}

TEST(XformInit, IdenticalRecordsGiveIdentityConverters) {
  CoordSys a = MercatorWithBounds(104, 0), b = MercatorWithBounds(104, 0);
  CoordXform xf;
  CoordXformInit(&xf, &a, &b);
  EXPECT_EQ(xf.flags & kXfIdentical, kXfIdentical);
  EXPECT_EQ(xf.flags & kXfRectCompatible, kXfRectCompatible);
  EXPECT_EQ(xf.pointsForward, XformIdentityPoints);
  EXPECT_EQ(xf.pointsBackward, XformIdentityPoints);
  EXPECT_EQ(xf.rectForward, XformIdentityRect);
  EXPECT_EQ(xf.pointsForwardAlways, XformIdentityPoints);
  IPoint in[2] = {{123456789, -987654321}, {0, 1}}, out[2];
  xf.pointsForward(in, nullptr, out, nullptr, &xf, 2);
  EXPECT_EQ(0, std::memcmp(in, out, sizeof in));
}

TEST(XformInit, DifferentSystemsGoThroughLonLat) {
  CoordSys a = MercatorWithBounds(104, 0), b = MercatorWithBounds(104, 30);
  CoordXform xf;
  CoordXformInit(&xf, &a, &b);
  EXPECT_EQ(xf.flags & (kXfIdentical | kXfMatch), 0u);
  EXPECT_EQ(xf.flags & kXfDatumIgnored, kXfDatumIgnored);
  EXPECT_EQ(xf.pointsForward, XformGeneralPointsAB);
  EXPECT_EQ(xf.pointsBackward, XformGeneralPointsBA);
  EXPECT_EQ(xf.rectBackward, XformGeneralRectBA);
  EXPECT_EQ(xf.pointsForwardAlways, XformIdentityPoints);
  EXPECT_EQ(xf.swapped, 0u);
  CoordSys c = MercatorWithBounds(3, 0);
  CoordXformInit(&xf, &a, &c);
  EXPECT_EQ(xf.flags & kXfDatumIgnored, 0u);
  EXPECT_EQ(xf.flags & kXfMatchIgnoringAffine, 0u);
}

// A non-earth plane in metres over (0, 0)-(1000, 1000), and a window of the
// same plane onto a device of the given size.
struct WindowPair {
  CoordSys plane, window;
};

WindowPair MakeWindowPair(const IRect& device, const DRect& window) {
  CoordSysParams block = NonEarthBlock(1, 1);
  WindowPair pair;
  DRect bounds{0, 0, 1000, 1000};
  CoordSysInitWithBounds(&pair.plane, 0, &block, &bounds);
  CoordSysInit(&pair.window, 0, &block);
  CoordSysSetWindow(&pair.window, &device, &window);
  return pair;
}

TEST(XformInit, WindowSystemComesFirstAndMapsLinearly) {
  WindowPair pair = MakeWindowPair(IRect{0, 0, 500, 500}, DRect{250, 250, 750, 750});
  CoordXform xf;
  CoordXformInit(&xf, &pair.plane, &pair.window);
  EXPECT_EQ(xf.swapped, 1u);
  EXPECT_EQ(xf.a.flags & kCsWindow, kCsWindow);
  EXPECT_EQ(xf.flags & (kXfIdentical | kXfRectCompatible), kXfRectCompatible);
  EXPECT_EQ(xf.pointsForwardAlways, XformLinearPointsAB);
  EXPECT_EQ(xf.pointsForward, XformLinearPointsBA);
  EXPECT_EQ(xf.pointsBackward, XformLinearPointsAB);
  EXPECT_EQ(xf.rectForward, XformLinearRectBA);
  // Window (250..750) lies at -500,000,000..500,000,000 of the plane.
  EXPECT_EQ(xf.mapping.originX, -500000000);
  EXPECT_EQ(xf.mapping.originY, -500000000);
  EXPECT_EQ(xf.mapping.width, 1000000000);
  EXPECT_EQ(xf.mapping.height, 1000000000);
  EXPECT_EQ(xf.mapping.xFactor, 1);
  // The device's corner (0, 500) is the window's (250, 250).
  IPoint device{0, 500}, plane;
  xf.pointsBackward(&device, nullptr, &plane, nullptr, &xf, 1);
  EXPECT_EQ(plane.x, -500000000);
  EXPECT_EQ(plane.y, -500000000);
}

TEST(XformInit, WindowReachingTheIntegerEdgeIsCutBackToIt) {
  // The device's aspect widens the window to -166.7..1166.7, beyond the
  // plane's integer range in x.
  WindowPair pair = MakeWindowPair(IRect{0, 0, 640, 480}, DRect{0, 0, 1000, 1000});
  CoordXform xf;
  CoordXformInit(&xf, &pair.window, &pair.plane);
  EXPECT_EQ(xf.swapped, 0u);
  EXPECT_EQ(xf.mapping.originX, -1000000000);
  EXPECT_EQ(xf.mapping.width, 2000000000);
  EXPECT_NEAR(xf.a.windowX, 0, 1e-6);
  EXPECT_NEAR(xf.a.windowW, 1000, 1e-6);
  EXPECT_EQ(xf.a.extent.originX, 80);
  EXPECT_EQ(xf.a.extent.width, 480);
  EXPECT_EQ(xf.a.extent.height, -480);
  IPoint device{560, 0}, plane;
  xf.pointsForward(&device, nullptr, &plane, nullptr, &xf, 1);
  EXPECT_EQ(plane.x, 1000000000);
  EXPECT_EQ(plane.y, 1000000000);
}

TEST(XformInit, NarrowMappingIsWidenedByFiftyEachSide) {
  WindowPair pair = MakeWindowPair(IRect{0, 0, 100, 100}, DRect{500, 500, 500.00001, 500.00001});
  CoordXform xf;
  CoordXformInit(&xf, &pair.window, &pair.plane);
  EXPECT_EQ(xf.pointsForward, XformLinearPointsAB);
  EXPECT_EQ(xf.mapping.originX, -50);
  EXPECT_EQ(xf.mapping.originY, -50);
  EXPECT_EQ(xf.mapping.width, 120);
  EXPECT_EQ(xf.mapping.height, 120);
  EXPECT_EQ(xf.mapping.xFactor, 0x3FFFFFFF / 120);
  EXPECT_EQ(xf.a.extent.originX, -250);
  EXPECT_EQ(xf.a.extent.originY, 350);
  EXPECT_EQ(xf.a.extent.width, 600);
  EXPECT_EQ(xf.a.extent.height, -600);
  EXPECT_NEAR(xf.a.windowW, 6e-5, 1e-12);
}

TEST(XformInit, WindowShiftShorterThanOneStepIgnoresTheDatum) {
  CoordSysParams wgs = LonLatBlock(104), other = LonLatBlock(3);
  CoordSys plane, coarse, fine;
  DRect bounds{-180, -90, 180, 90};
  CoordSysInitWithBounds(&plane, 1, &wgs, &bounds);
  IRect device{0, 0, 640, 480};
  CoordSysInit(&coarse, 1, &other);
  DRect world{-180, -90, 180, 90};
  CoordSysSetWindow(&coarse, &device, &world);
  CoordSysInit(&fine, 1, &other);
  DRect street{10, 10, 10.001, 10.001};
  CoordSysSetWindow(&fine, &device, &street);
  CoordXform xf;
  CoordXformInit(&xf, &coarse, &plane);
  EXPECT_EQ(xf.flags & kXfDatumIgnored, kXfDatumIgnored);
  CoordXformInit(&xf, &fine, &plane);
  EXPECT_EQ(xf.flags & kXfDatumIgnored, 0u);
  EXPECT_EQ(xf.pointsForward, XformGeneralPointsAB);
}

}  // namespace
}  // namespace layerio
