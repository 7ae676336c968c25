// The conversion chain of one coordinate system: integer map coordinates,
// plane, coordsys units, projected units and longitude/latitude, as arrays
// (in place too) and rectangles, with the datum record the chains hand back
// and the unit services they give the foundation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mapfile/coordsys/coordsys.h"

namespace layerio {
namespace {

// The inverse of x' = a x + b y + c, y' = d x + e y + f.
void InvertAffine(const double m[6], double inv[6]) {
  double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5], det = a * e - b * d;
  double out[6] = {e / det, -b / det, (b * f - c * e) / det,
                   -d / det, a / det, (c * d - a * f) / det};
  memcpy(inv, out, sizeof out);
}

CoordSysParams EarthBlock(int datum, int unit = kUnitMetre) {
  CoordSysParams block;
  memset(&block, 0, sizeof block);
  DatumRecordGet(datum, &block.datum);
  block.projectedUnit = uint16_t(unit);
  block.lonLatQuadrant = 2;
  return block;
}

void NonEarth(CoordSys* cs, int unit, double x1, double y1, double x2, double y2) {
  CoordSysParams block;
  memset(&block, 0, sizeof block);
  block.nonEarth.one = 1;
  block.nonEarth.quadrant = 1;
  block.nonEarth.unit = uint16_t(unit);
  block.nonEarth.quadrant2 = 1;
  CoordSysInit(cs, 0, &block);
  CoordSysSetBounds(cs, x1, y1, x2, y2);
}

void LonLat(CoordSys* cs, int datum) {
  CoordSysParams block = EarthBlock(datum);
  CoordSysInit(cs, 1, &block);
  CoordSysSetBounds(cs, -180, -90, 180, 90);
}

// Mercator in metres on a datum, over most of the world.
void Mercator(CoordSys* cs, int datum, const double* affine = nullptr) {
  CoordSysParams block = EarthBlock(datum);
  if (affine) {
    block.flags |= kParamsAffine;
    block.affineUnit = kUnitMetre;
    memcpy(block.affine, affine, sizeof block.affine);
    InvertAffine(affine, block.affineInverse);
  }
  CoordSysInit(cs, 10, &block);
  CoordSysSetBounds(cs, -2.0e7, -2.0e7, 2.0e7, 2.0e7);
}

std::vector<IPoint> RandomIntegers(int n, int32_t low, int32_t high, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> value(low, high);
  std::vector<IPoint> points(n);
  for (IPoint& p : points) p = IPoint{value(random), value(random)};
  return points;
}

TEST(ChainsTest, IntegerToUnitsAndBackIsExact) {
  CoordSys nonEarth, lonLat, mercator, affine;
  NonEarth(&nonEarth, kUnitMetre, 0, 0, 10, 10);
  LonLat(&lonLat, 104);
  Mercator(&mercator, 104);
  // A unit-window system whose integers are the internal affine's output.
  NonEarth(&affine, kUnitMetre, 0, 0, 10, 10);
  double twelve[12] = {2e-6, 1e-6, 5, -1e-6, 2e-6, -3};
  InvertAffine(twelve, twelve + 6);
  CoordSysSetInternalAffine(&affine, twelve, true);
  std::vector<IPoint> in = RandomIntegers(500, -kIntCoordLimit, kIntCoordLimit, 7);
  in.push_back(IPoint{kIntCoordLimit, -kIntCoordLimit});
  in.push_back(IPoint{0, 0});
  for (const CoordSys* cs : {&nonEarth, &lonLat, &mercator, &affine}) {
    SCOPED_TRACE(cs->projection);
    int n = int(in.size());
    std::vector<DPoint> units(n);
    std::vector<IPoint> back(n);
    CoordIntToUnits(in.data(), units.data(), cs, n);
    CoordUnitsToInt(units.data(), back.data(), cs, n);
    for (int i = 0; i < n; ++i) {
      if (cs == &affine) {
        // Through a general affine the round trip is exact to the rounding.
        EXPECT_NEAR(back[i].x, in[i].x, 1) << i;
        EXPECT_NEAR(back[i].y, in[i].y, 1) << i;
      } else {
        EXPECT_EQ(back[i].x, in[i].x) << i;
        EXPECT_EQ(back[i].y, in[i].y) << i;
      }
    }
  }
}

TEST(ChainsTest, InPlaceArraysGiveTheSameResults) {
  CoordSys cs;
  Mercator(&cs, 104);
  std::vector<IPoint> ints = RandomIntegers(700, -900000000, 900000000, 11);
  int n = int(ints.size());
  std::vector<DPoint> apart(n), together(n);
  IntToLonLatNoDatum(ints.data(), apart.data(), &cs, n);
  // Integers written into the front of the array that receives the doubles.
  memcpy(together.data(), ints.data(), sizeof(IPoint) * n);
  IntToLonLatNoDatum(reinterpret_cast<const IPoint*>(together.data()), together.data(), &cs, n);
  EXPECT_EQ(0, memcmp(apart.data(), together.data(), sizeof(DPoint) * n));

  std::vector<DPoint> units(n);
  LonLatToUnits(apart.data(), units.data(), &cs, n);
  LonLatToUnits(together.data(), together.data(), &cs, n);
  EXPECT_EQ(0, memcmp(units.data(), together.data(), sizeof(DPoint) * n));

  // Over slices: more points than one slice of the integer chains.
  std::vector<IPoint> viaUnits(n), direct(n);
  CoordUnitsToInt(units.data(), viaUnits.data(), &cs, n);
  LonLatToInt(apart.data(), direct.data(), nullptr, &cs, n);
  EXPECT_EQ(0, memcmp(viaUnits.data(), direct.data(), sizeof(IPoint) * n));
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(direct[i].x, ints[i].x, 1) << i;
    EXPECT_NEAR(direct[i].y, ints[i].y, 1) << i;
  }
}

TEST(ChainsTest, PointsBeyondTheIntegerRangeEndOnItsLimits) {
  CoordSys cs;
  NonEarth(&cs, kUnitMetre, 0, 0, 10, 10);
  const DPoint in[] = {{11, -1}, {1e30, -1e30}, {1e300, -1e300}, {10, 0}, {5, 5}};
  IPoint out[5];
  CoordUnitsToInt(in, out, &cs, 5);
  EXPECT_EQ(out[0].x, kIntCoordLimit);
  EXPECT_EQ(out[0].y, -kIntCoordLimit);
  EXPECT_EQ(out[1].x, kIntCoordLimit);
  EXPECT_EQ(out[1].y, -kIntCoordLimit);
  EXPECT_EQ(out[2].x, kIntCoordLimit);
  EXPECT_EQ(out[2].y, -kIntCoordLimit);
  EXPECT_EQ(out[3].x, kIntCoordLimit);
  EXPECT_EQ(out[3].y, -kIntCoordLimit);
  EXPECT_EQ(out[4].x, 0);
  EXPECT_EQ(out[4].y, 0);
  DRect r{-50, 3, 1e40, 20}, scaled;
  IRect ir;
  CoordUnitsRectToInt(&r, &ir, &cs);
  EXPECT_EQ(ir.x1, -kIntCoordLimit);
  EXPECT_EQ(ir.x2, kIntCoordLimit);
  EXPECT_EQ(ir.y1, -400000000);
  EXPECT_EQ(ir.y2, kIntCoordLimit);
  // Doubles keep the sanitised value: nothing overflows to infinity.
  CoordScaleRect(&r, &scaled, &cs);
  EXPECT_TRUE(std::isfinite(scaled.x2));
}

TEST(ChainsTest, LonLatOnTheNoDatumRecordIsNotShifted) {
  CoordSys mercator, nonEarth;
  Mercator(&mercator, 105);  // a real datum, not the reference one
  NonEarth(&nonEarth, kUnitMetre, 0, 0, 10, 10);
  PXDatum none, real;
  CoordSysDatumRecord(&nonEarth, &none);
  EXPECT_EQ(none.ellipsoid, kEllipsoidNone);
  PXDatum cleared;
  memset(&cleared, 0, sizeof cleared);
  cleared.ellipsoid = kEllipsoidNone;
  EXPECT_EQ(0, memcmp(&none, &cleared, sizeof none));
  DatumRecordGet(104, &real);

  const DPoint lonLat[] = {{-75.5, 40.25}, {10, -33}, {179.9, 0.5}};
  DPoint plain[3], onNone[3], onReal[3], onOwn[3];
  LonLatToUnits(lonLat, plain, &mercator, 3);
  LonLatToUnitsOnDatum(lonLat, onNone, &none, &mercator, 3);
  LonLatToUnitsOnDatum(lonLat, onOwn, &mercator.params.datum, &mercator, 3);
  LonLatToUnitsOnDatum(lonLat, onReal, &real, &mercator, 3);
  EXPECT_EQ(0, memcmp(plain, onNone, sizeof plain));
  EXPECT_EQ(0, memcmp(plain, onOwn, sizeof plain));
  for (int i = 0; i < 3; ++i) {
    // Datum 105 lies some hundreds of metres from the reference datum.
    double moved = std::hypot(onReal[i].x - plain[i].x, onReal[i].y - plain[i].y);
    EXPECT_GT(moved, 10) << i;
    EXPECT_LT(moved, 1000) << i;
  }
  // The rectangle form takes the same decision.
  DRect r{-76, 40, -75, 41}, a, b;
  LonLatRectToUnitsOnDatum(&r, &a, &none, &mercator);
  LonLatRectToUnits(&r, &b, &mercator);
  EXPECT_EQ(0, memcmp(&a, &b, sizeof a));
  LonLatRectToUnitsOnDatum(&r, &a, &real, &mercator);
  EXPECT_NE(0, memcmp(&a, &b, sizeof a));
}

TEST(ChainsTest, LonLatReturnedWithItsDatumCrossesDatumsOnce) {
  CoordSys from, to;
  Mercator(&from, 105);
  Mercator(&to, 104);
  const IPoint ints[] = {{-123456789, 234567890}, {5000000, -400000000}};
  DPoint lonLat[2];
  PXDatum datum;
  memset(&datum, 0xAB, sizeof datum);
  IntToLonLat(ints, lonLat, &datum, &from, 2);
  EXPECT_EQ(0, memcmp(&datum, &from.params.datum, sizeof datum));
  IPoint there[2], back[2];
  LonLatToInt(lonLat, there, &datum, &to, 2);
  // Back again on the destination's own datum record.
  DPoint lonLat2[2];
  PXDatum datum2;
  IntToLonLat(there, lonLat2, &datum2, &to, 2);
  LonLatToInt(lonLat2, back, &datum2, &from, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(there[i].x, ints[i].x);
    // The two shifts are each other's inverse to well below a metre (an
    // integer step is 0.02 m here).
    EXPECT_NEAR(back[i].x, ints[i].x, 20) << i;
    EXPECT_NEAR(back[i].y, ints[i].y, 20) << i;
  }
  // The rectangle and units forms hand the same record back.
  DRect r{-1000, -1000, 1000, 1000}, out;
  PXDatum rectDatum;
  UnitsRectToLonLatWithDatum(&r, &out, &rectDatum, &from);
  EXPECT_EQ(0, memcmp(&rectDatum, &datum, sizeof datum));
  DRect reversed{10, 20, -10, -20};
  RectWithDatumRecord(&reversed, &out, &rectDatum, &from);
  EXPECT_EQ(out.x1, -10);
  EXPECT_EQ(out.y2, 20);
}

TEST(ChainsTest, PublicAffineFollowsTheProjection) {
  const double affine[6] = {0.5, -0.25, 1000, 0.25, 0.5, -2000};
  CoordSys plain, withAffine;
  Mercator(&plain, 104);
  Mercator(&withAffine, 104, affine);
  const DPoint lonLat[] = {{12.5, 55.75}, {-120, -45}};
  DPoint projected[2], units[2], back[2];
  LonLatToUnits(lonLat, projected, &plain, 2);
  LonLatToUnits(lonLat, units, &withAffine, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_DOUBLE_EQ(units[i].x, 0.5 * projected[i].x - 0.25 * projected[i].y + 1000);
    EXPECT_DOUBLE_EQ(units[i].y, 0.25 * projected[i].x + 0.5 * projected[i].y - 2000);
  }
  UnitsToLonLat(units, back, &withAffine, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR(back[i].x, lonLat[i].x, 1e-9);
    EXPECT_NEAR(back[i].y, lonLat[i].y, 1e-9);
  }
  // The rectangle form bounds the four transformed corners.
  DRect square{0, 0, 100, 100}, bound;
  AffineForwardRect(&square, &bound, &withAffine);
  EXPECT_DOUBLE_EQ(bound.x1, 1000 - 25);
  EXPECT_DOUBLE_EQ(bound.x2, 1000 + 50);
  EXPECT_DOUBLE_EQ(bound.y1, -2000);
  EXPECT_DOUBLE_EQ(bound.y2, -2000 + 75);
  AffineInverseRect(&bound, &bound, &withAffine);
  EXPECT_LE(bound.x1, 1e-9);
  EXPECT_GE(bound.x2, 100 - 1e-9);
}

TEST(ChainsTest, RectanglesOfTheScaleStepsAreNormalised) {
  CoordSys lonLat;
  LonLat(&lonLat, 104);  // quadrant code 2: east is smaller integer x
  IRect ir{-1000, -2000, 3000, 4000};
  DRect units;
  CoordIntRectToUnits(&ir, &units, &lonLat);
  EXPECT_LT(units.x1, units.x2);
  EXPECT_LT(units.y1, units.y2);
  IRect back;
  CoordUnitsRectToInt(&units, &back, &lonLat);
  EXPECT_EQ(0, memcmp(&back, &ir, sizeof ir));
  DRect lonLatRect;
  PXDatum datum;
  IntRectToLonLat(&ir, &lonLatRect, &datum, &lonLat);
  EXPECT_EQ(0, memcmp(&lonLatRect, &units, sizeof units));
  IRect again;
  LonLatRectToInt(&lonLatRect, &again, &datum, &lonLat);
  EXPECT_EQ(0, memcmp(&again, &ir, sizeof ir));
}

TEST(ChainsTest, UnitConversionsThroughDegreesUseTheChains) {
  CoordSys cs;
  Mercator(&cs, 104);
  CoordSysInstallUnitServices();
  const DPoint lonLat{-3.7, 40.4};
  DPoint metres, feet, viaChain;
  LonLatToUnits(&lonLat, &viaChain, &cs, 1);
  UnitConvertPoint(&metres, kUnitMetre, &lonLat, kUnitDegree, &cs);
  EXPECT_EQ(metres.x, viaChain.x);
  EXPECT_EQ(metres.y, viaChain.y);
  UnitConvertPoint(&feet, 3, &lonLat, kUnitDegree, &cs);
  EXPECT_NEAR(feet.x, viaChain.x / 0.3048, 1e-6);
  DPoint back;
  UnitConvertPoint(&back, kUnitDegree, &feet, 3, &cs);
  EXPECT_NEAR(back.x, lonLat.x, 1e-9);
  EXPECT_NEAR(back.y, lonLat.y, 1e-9);
  DRect r{-4, 40, -3, 41}, inUnits, rectChain;
  UnitConvertRect(&inUnits, kUnitMetre, &r, kUnitDegree, &cs);
  LonLatRectToUnits(&r, &rectChain, &cs);
  EXPECT_EQ(0, memcmp(&inUnits, &rectChain, sizeof r));
}

}  // namespace
}  // namespace layerio
