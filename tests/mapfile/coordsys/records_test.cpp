// Record operations: the public record's byte layout, the match rules, the
// sanitising clamps, affine inversion, default bounds, bounds in units and
// the display precision.
#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "mapfile/coordsys/coordsys.h"
#include "tests/mapfile/foundation/foundation_fixture.h"

namespace layerio {
namespace {

class RecordsTest : public mapfiletest::FoundationTest {
 protected:
  void SetUp() override {
    FoundationTest::SetUp();
    CoordSysInstallUnitServices();
  }
};

template <class T>
void Put(unsigned char* bytes, size_t offset, T value) {
  std::memcpy(bytes + offset, &value, sizeof value);
}

// The public record filled through its documented offsets and read back
// through the record operations and the block.
TEST_F(RecordsTest, PublicRecordByteLayout) {
  unsigned char bytes[sizeof(PXCoordSys)] = {};
  Put<uint16_t>(bytes, 0, 8);
  bytes[8] = 28;                  // ellipsoid
  Put<double>(bytes, 16, -87.0);  // dx
  Put<double>(bytes, 40, 1.5);    // rx
  Put<double>(bytes, 64, 0.25);   // scale
  Put<double>(bytes, 72, 2.5);    // prime meridian
  Put<uint16_t>(bytes, 80, 62);   // datum number
  Put<uint16_t>(bytes, 88, 3);    // projected unit
  bytes[90] = 2;                  // projection-1 quadrant
  Put<double>(bytes, 96, -75.0);  // parameter 1
  Put<double>(bytes, 136, 7.0);   // parameter 6
  Put<double>(bytes, 144, 0.5);   // affine inverse A
  Put<double>(bytes, 192, 2.0);   // affine A
  Put<double>(bytes, 232, 9.0);   // affine F
  Put<uint32_t>(bytes, 240, 1);   // affine flag
  Put<uint16_t>(bytes, 244, 1);   // affine unit
  Put<uint16_t>(bytes, 246, 1);   // supportmz word
  Put<double>(bytes, 256, -1.0);  // bounds x1
  Put<double>(bytes, 280, 4.0);   // bounds y2
  PXCoordSys record;
  std::memcpy(&record, bytes, sizeof record);

  EXPECT_EQ(CoordSysProjection(&record), 8);
  EXPECT_EQ(CoordSysRecordUnits(&record), 3);
  EXPECT_EQ(CoordSysRecordWord246(&record), 1);
  CoordSysParams block;
  CoordSysParamsCopy(&record, &block);
  EXPECT_EQ(block.datum.ellipsoid, 28);
  EXPECT_EQ(block.datum.dx, -87.0);
  EXPECT_EQ(block.datum.rx, 1.5);
  EXPECT_EQ(block.datum.scale, 0.25);
  EXPECT_EQ(block.datum.primeMeridian, 2.5);
  EXPECT_EQ(block.datum.number, 62);
  EXPECT_EQ(block.projectedUnit, 3);
  EXPECT_EQ(block.lonLatQuadrant, 2);
  EXPECT_EQ(block.params[0], -75.0);
  EXPECT_EQ(block.params[5], 7.0);
  EXPECT_EQ(block.affineInverse[0], 0.5);
  EXPECT_EQ(block.affine[0], 2.0);
  EXPECT_EQ(block.affine[5], 9.0);
  EXPECT_EQ(block.flags, kParamsAffine);
  EXPECT_EQ(block.affineUnit, 1);
  EXPECT_EQ(record.bounds[0], -1.0);
  EXPECT_EQ(record.bounds[3], 4.0);
  EXPECT_EQ(std::memcmp(&block, bytes + 8, sizeof block), 0);

  // projection 0 reads its head in the datum's place; projection 1 is in degrees
  std::memset(bytes, 0, sizeof bytes);
  Put<uint16_t>(bytes, 8, 1);
  bytes[10] = 3;
  Put<uint16_t>(bytes, 12, 6);
  bytes[14] = 4;
  std::memcpy(&record, bytes, sizeof record);
  EXPECT_EQ(CoordSysRecordUnits(&record), 6);
  CoordSys cs;
  CoordSysInit(&cs, 0, &record.params);
  EXPECT_EQ(CoordSysOrientation(&cs), 3);
  EXPECT_EQ(CoordSysSecondOrientation(&cs), 4);
  EXPECT_TRUE(CoordSysIsLayout(&cs));
  Put<uint16_t>(bytes, 0, 1);
  std::memcpy(&record, bytes, sizeof record);
  EXPECT_EQ(CoordSysRecordUnits(&record), kUnitDegree);
}

TEST_F(RecordsTest, ProjectionFamilyAndDefaults) {
  const int want[32] = {0, 0, 2, 6, 3, 3, 6, 6, 5, 6, 1, 1, 1, 1, 1, 1,
                        1, 1, 4, 6, 5, 5, 5, 5, 5, 4, 2, 4, 3, 3, 4, 5};
  for (int n = 0; n < 32; ++n) {
    EXPECT_EQ(ProjectionFamily(n), want[n]) << n;
    EXPECT_TRUE(ProjectionNumberValid(n));
  }
  EXPECT_EQ(ProjectionFamily(32), 0);
  EXPECT_EQ(ProjectionFamily(-1), 0);
  EXPECT_FALSE(ProjectionNumberValid(32));
  EXPECT_FALSE(ProjectionNumberValid(-1));

  CoordSysParams block;
  std::memset(&block, 0xFF, sizeof block);
  CoordSysParamsDefault(&block);
  CoordSysParams want0;
  std::memset(&want0, 0, sizeof want0);
  DatumRecordGet(0, &want0.datum);
  want0.lonLatQuadrant = 2;
  EXPECT_EQ(std::memcmp(&block, &want0, sizeof block), 0);

  const int signs[5][2] = {{0, 0}, {1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
  for (int code = 1; code <= 4; ++code) {
    EXPECT_EQ(QuadrantSignX(code), signs[code][0]) << code;
    EXPECT_EQ(QuadrantSignY(code), signs[code][1]) << code;
  }
}

TEST_F(RecordsTest, UnitsOrientationAndScale) {
  CoordSysParams block;
  CoordSysParamsDefault(&block);
  CoordSys cs;
  CoordSysInit(&cs, 1, &block);
  CoordSysSetBounds(&cs, -10, -5, 10, 5);
  EXPECT_EQ(CoordSysUnits(&cs), kUnitDegree);
  EXPECT_EQ(CoordSysOrientation(&cs), 2);
  EXPECT_EQ(CoordSysSecondOrientation(&cs), 1);
  EXPECT_LT(cs.scaleX, 0);  // quadrant code 2: x runs left
  double sx = 0, sy = 0, ox = 1, oy = 1;
  int16_t projection = -1;
  CoordSysParams back;
  CoordSysGetScale(&cs, &projection, &back, &sx, &sy, &ox, &oy);
  EXPECT_EQ(projection, 1);
  EXPECT_EQ(std::memcmp(&back, &block, sizeof back), 0);
  EXPECT_DOUBLE_EQ(sx, 1e8);
  EXPECT_DOUBLE_EQ(sy, 2e8);
  EXPECT_EQ(ox, 0);
  EXPECT_EQ(oy, 0);
  CoordSysGetScale(&cs, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);

  block.flags = kParamsAffine;
  block.affineUnit = 4;
  block.affine[0] = block.affine[4] = 1;
  CoordSysInit(&cs, 1, &block);
  EXPECT_EQ(CoordSysUnits(&cs), 4);
  CoordSysParamsClear(&block);
  block.datum.ellipsoid = 28;
  block.projectedUnit = 8;
  CoordSysInit(&cs, 10, &block);
  EXPECT_EQ(CoordSysUnits(&cs), 8);
  EXPECT_EQ(CoordSysOrientation(&cs), 1);
  EXPECT_FALSE(CoordSysIsLayout(&cs));
}

// Each case changes one field of b; the match ignores some of them.
TEST_F(RecordsTest, MatchRules) {
  enum Field {
    kNone, kDatumNumber, kDatumShift, kEllipsoid, kQuadrant90, kParam1, kParam2, kWord246,
    kWord250, kReserved, kAffine, kProjectedUnit
  };
  const struct {
    int projection;
    Field field;
    bool match, matchIgnoringDatum;
  } cases[] = {
      {8, kNone, true, true},
      {8, kDatumNumber, true, true},
      {8, kDatumShift, false, true},
      {8, kEllipsoid, false, true},
      {8, kQuadrant90, false, false},
      {8, kParam1, false, false},
      {8, kParam2, false, false},
      {8, kWord246, true, true},
      {8, kWord250, true, true},
      {8, kReserved, false, false},
      {8, kAffine, false, false},
      {8, kProjectedUnit, false, false},
      {1, kQuadrant90, true, true},
      {1, kParam1, true, true},  // the centre latitude
      {1, kParam2, false, false},
      {1, kDatumShift, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.projection << " field " << c.field);
    CoordSysParams a;
    CoordSysParamsDefault(&a);
    DatumRecordGet(62, &a.datum);
    a.projectedUnit = 7;
    a.params[0] = -75;
    a.params[1] = 10;
    CoordSysParams b = a;
    switch (c.field) {
      case kNone: break;
      case kDatumNumber: b.datum.number = 900; break;
      case kDatumShift: b.datum.dx += 1; break;
      case kEllipsoid: b.datum.ellipsoid = 1; break;
      case kQuadrant90: b.lonLatQuadrant = 3; break;
      case kParam1: b.params[0] = 5; break;
      case kParam2: b.params[1] = 5; break;
      case kWord246: b.word246 = 1; break;
      case kWord250: b.reserved2[2] = 7; break;
      case kReserved: b.reserved1[0] = 1; break;
      case kAffine: b.affine[2] = 1; break;
      case kProjectedUnit: b.projectedUnit = 3; break;
    }
    CoordSys x, y;
    CoordSysInit(&x, c.projection, &a);
    CoordSysInit(&y, c.projection, &b);
    EXPECT_EQ(CoordSysMatch(&x, &y, false), c.match);
    EXPECT_EQ(CoordSysMatch(&y, &x, false), c.match);
    EXPECT_EQ(CoordSysMatch(&x, &y, true), c.matchIgnoringDatum);
    EXPECT_EQ(CoordSysEqual(&x, &y), c.field == kNone);
    // a system without datum ignores it on its own
    x.flags |= kCsNoDatum;
    EXPECT_EQ(CoordSysMatch(&x, &y, false), c.matchIgnoringDatum);
  }
  // a different projection never matches
  CoordSysParams a;
  CoordSysParamsDefault(&a);
  CoordSys x, y;
  CoordSysInit(&x, 1, &a);
  CoordSysInit(&y, 2, &a);
  EXPECT_FALSE(CoordSysMatch(&x, &y, true));
}

TEST_F(RecordsTest, NonEarthMatchIgnoresTheHeadWordAndFirstQuadrant) {
  const struct {
    int field;  // 0 one, 1 quadrant, 2 unit, 3 second quadrant
    bool match;
  } cases[] = {{0, true}, {1, true}, {2, false}, {3, false}};
  for (const auto& c : cases) {
    CoordSysParams a;
    CoordSysParamsClear(&a);
    a.nonEarth = NonEarthHead{1, 1, 0, 7, 1, {}};
    CoordSysParams b = a;
    if (c.field == 0) b.nonEarth.one = 0;
    if (c.field == 1) b.nonEarth.quadrant = 3;
    if (c.field == 2) b.nonEarth.unit = 3;
    if (c.field == 3) b.nonEarth.quadrant2 = 4;
    CoordSys x, y;
    CoordSysInit(&x, 0, &a);
    CoordSysInit(&y, 0, &b);
    // the non-earth head stands in the datum's place but is never ignored with it
    EXPECT_EQ(CoordSysMatch(&x, &y, true), c.match) << c.field;
  }
}

TEST_F(RecordsTest, AffineAndInternalAffineMatches) {
  CoordSysParams a;
  CoordSysParamsDefault(&a);
  DatumRecordGet(62, &a.datum);
  CoordSysParams b = a;
  b.flags = kParamsAffine;
  b.affineUnit = 7;
  b.affine[0] = b.affine[4] = 2;
  ASSERT_TRUE(AffineTransformInvert(b.affine, b.affineInverse));
  CoordSys x, y;
  CoordSysInit(&x, 1, &a);
  CoordSysInit(&y, 1, &b);
  EXPECT_FALSE(CoordSysMatch(&x, &y, false));
  EXPECT_TRUE(CoordSysMatchIgnoringAffine(&x, &y, false));
  EXPECT_TRUE(CoordSysMatchIgnoringAffine(&y, &x, false));
  y.params.datum.dx = 5;
  EXPECT_FALSE(CoordSysMatchIgnoringAffine(&x, &y, false));
  EXPECT_TRUE(CoordSysMatchIgnoringAffine(&x, &y, true));

  CoordSysInit(&y, 1, &a);
  EXPECT_TRUE(CoordSysMatchWithInternalAffine(&x, &y, false));
  EXPECT_TRUE(CoordSysRectCompatible(&x, &y, false, false));
  const double scaleOnly[12] = {2, 0, 1, 0, 3, 1, 0.5, 0, -0.5, 0, 1.0 / 3, -1.0 / 3};
  CoordSysSetInternalAffine(&x, scaleOnly, true);
  EXPECT_FALSE(CoordSysMatchWithInternalAffine(&x, &y, false));
  CoordSysSetInternalAffine(&y, scaleOnly, false);
  EXPECT_TRUE(CoordSysMatchWithInternalAffine(&x, &y, false));
  EXPECT_TRUE(CoordSysRectCompatible(&x, &y, false, false));
  double rotated[12];
  std::memcpy(rotated, scaleOnly, sizeof rotated);
  rotated[1] = 0.1;  // B: shear
  CoordSysSetInternalAffine(&y, rotated, false);
  EXPECT_FALSE(CoordSysMatchWithInternalAffine(&x, &y, false));
  EXPECT_FALSE(CoordSysRectCompatible(&x, &y, false, false));
  EXPECT_TRUE(CoordSysRectCompatible(&x, &y, false, true));
  CoordSysInit(&y, 2, &a);
  EXPECT_TRUE(CoordSysRectCompatible(&x, &y, false, true));
  EXPECT_FALSE(CoordSysRectCompatible(&x, &y, false, false));
}

TEST_F(RecordsTest, Sanitize) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double in, out;
  } cases[] = {{1e-51, 0},   {-1e-51, 0},   {1e-50, 1e-50}, {-2.5, -2.5},  {1e50, 1e50},
               {1e51, 1e50}, {-1e51, -1e50}, {inf, 1e50},    {-inf, -1e50}, {std::nan(""), 0}};
  for (const auto& c : cases) {
    DPoint p{c.in, -c.in};
    PointSanitize(&p);
    EXPECT_EQ(p.x, c.out) << c.in;
    EXPECT_EQ(p.y, -c.out) << c.in;
  }
  DRect r{5, 1e-60, -1e60, 2};
  RectSanitize(&r);  // no reordering
  EXPECT_EQ(r.x1, 5);
  EXPECT_EQ(r.y1, 0);
  EXPECT_EQ(r.x2, -1e50);
  EXPECT_EQ(r.y2, 2);
}

TEST_F(RecordsTest, AffineInverse) {
  const double affine[6] = {2, 1, 10, -1, 3, -4};
  double inverse[6];
  ASSERT_TRUE(AffineTransformInvert(affine, inverse));
  for (DPoint p : {DPoint{0, 0}, DPoint{7, -3}, DPoint{-1e4, 2e5}}) {
    double x = affine[0] * p.x + affine[1] * p.y + affine[2];
    double y = affine[3] * p.x + affine[4] * p.y + affine[5];
    EXPECT_NEAR(inverse[0] * x + inverse[1] * y + inverse[2], p.x, 1e-9 * (1 + std::fabs(p.x)));
    EXPECT_NEAR(inverse[3] * x + inverse[4] * y + inverse[5], p.y, 1e-9 * (1 + std::fabs(p.y)));
  }
  const double diagonal[6] = {4, 0, 0, 0, -2, 0};
  ASSERT_TRUE(AffineTransformInvert(diagonal, inverse));
  for (double v : inverse) EXPECT_FALSE(std::signbit(v) && v == 0);  // never -0.0
  const double singular[6] = {1, 2, 3, 2, 4, 5};
  double untouched[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_FALSE(AffineTransformInvert(singular, untouched));
  EXPECT_EQ(untouched[0], 9);
}

TEST_F(RecordsTest, DefaultBounds) {
  CoordSysParams block;
  DRect r;
  CoordSysParamsClear(&block);
  block.nonEarth = NonEarthHead{1, 1, 0, 7, 1, {}};
  ProjectionDefaultBounds(0, &block, &r);
  EXPECT_EQ(r.x1, 0);
  EXPECT_EQ(r.y1, 0);
  EXPECT_EQ(r.x2, 10);
  EXPECT_EQ(r.y2, 10);

  CoordSysParamsDefault(&block);
  ProjectionDefaultBounds(1, &block, &r);
  EXPECT_EQ(r.x1, -1000);
  EXPECT_EQ(r.y2, 1000);
  block.flags = kParamsAffine;
  const double affine[6] = {0, 1, 5, -2, 0, 0};  // rotated: the result is normalised
  std::memcpy(block.affine, affine, sizeof affine);
  ProjectionDefaultBounds(1, &block, &r);
  EXPECT_EQ(r.x1, -995);
  EXPECT_EQ(r.x2, 1005);
  EXPECT_EQ(r.y1, -2000);
  EXPECT_EQ(r.y2, 2000);

  // Mercator on WGS 84: longitude +/-360 and latitude +/-85
  CoordSysParamsClear(&block);
  DatumRecordGet(104, &block.datum);
  block.projectedUnit = 7;
  ProjectionDefaultBounds(10, &block, &r);
  EXPECT_NEAR(r.x2, 40075016.685578, 1e-3);
  EXPECT_NEAR(r.x1, -r.x2, 1e-6);
  EXPECT_NEAR(r.y2, 19929239.113379, 1e-3);  // proj +proj=merc +ellps=WGS84
  EXPECT_NEAR(r.y1, -r.y2, 1e-6);

  // the stereographic square around the false origin, in the projected unit
  block.projectedUnit = 1;  // km
  block.params[3] = 100;
  block.params[4] = -50;
  ProjectionDefaultBounds(20, &block, &r);
  EXPECT_NEAR(r.x1, 100 - 1e5, 1e-6);
  EXPECT_NEAR(r.x2, 100 + 1e5, 1e-6);
  EXPECT_NEAR(r.y1, -50 - 1e5, 1e-6);
  EXPECT_NEAR(r.y2, -50 + 1e5, 1e-6);
  // projection 25's centre is parameters 3 and 4
  block.params[2] = 7;
  block.params[3] = 8;
  ProjectionDefaultBounds(25, &block, &r);
  EXPECT_NEAR(r.x1, 7 - 1e5, 1e-6);
  EXPECT_NEAR(r.y2, 8 + 1e5, 1e-6);
}

TEST_F(RecordsTest, BoundsInUnits) {
  CoordSysParams block;
  CoordSysParamsClear(&block);
  block.nonEarth = NonEarthHead{1, 1, 0, 7, 1, {}};
  CoordSys cs;
  DRect bounds{0, -10, 20, 10};
  CoordSysInitWithBounds(&cs, 0, &block, &bounds);
  DRect r;
  CoordSysBoundsInUnits(&cs, &r, 6);  // cm
  EXPECT_NEAR(r.x1, 0, 1e-9);
  EXPECT_NEAR(r.y1, -1000, 1e-9);
  EXPECT_NEAR(r.x2, 2000, 1e-9);
  EXPECT_NEAR(r.y2, 1000, 1e-9);
}

TEST_F(RecordsTest, DisplayPrecision) {
  CoordSysParams block;
  CoordSysParamsClear(&block);
  block.nonEarth = NonEarthHead{1, 1, 0, 7, 1, {}};
  CoordSys cs;
  DRect bounds{0, 0, 2000, 2000};  // 1e-6 m an integer step
  CoordSysInitWithBounds(&cs, 0, &block, &bounds);
  IPoint centre{0, 0};
  DisplaySpec coordinates{7, 0, 0}, distances{1, 0, 0}, areas{21, 0, 0};
  CoordSysDisplayPrecision(&cs, &centre, &coordinates, &distances, &areas);
  EXPECT_EQ(coordinates.decimals, 6);
  EXPECT_EQ(coordinates.format, 10);
  EXPECT_EQ(distances.decimals, 9);  // 1e-9 km
  EXPECT_EQ(distances.format, 4);
  EXPECT_EQ(areas.decimals, 12);  // 1e-12 sq m
  EXPECT_EQ(areas.format, 4);
  CoordSysDisplayPrecision(&cs, &centre, nullptr, nullptr, nullptr);

  // steps of 100 units: negative decimals, which degrees show as none at all
  CoordSysParamsDefault(&block);
  bounds = DRect{-1e11, -1e11, 1e11, 1e11};
  CoordSysInitWithBounds(&cs, 1, &block, &bounds);
  coordinates = DisplaySpec{kUnitDegree, 0, 0};
  CoordSysDisplayPrecision(&cs, &centre, &coordinates, nullptr, nullptr);
  EXPECT_EQ(coordinates.decimals, 65535);
  CoordSysParamsClear(&block);
  block.nonEarth = NonEarthHead{1, 1, 0, 7, 1, {}};
  CoordSysInitWithBounds(&cs, 0, &block, &bounds);
  coordinates = DisplaySpec{7, 0, 0};
  CoordSysDisplayPrecision(&cs, &centre, &coordinates, nullptr, nullptr);
  EXPECT_EQ(coordinates.decimals, uint16_t(-2));
  EXPECT_EQ(coordinates.format, 10);

  // longitude/latitude over the world: 9e-8 degrees a step of y
  CoordSysParamsDefault(&block);
  bounds = DRect{-360, -90, 360, 90};
  CoordSysInitWithBounds(&cs, 1, &block, &bounds);
  coordinates = DisplaySpec{kUnitDegree, 0, 0};
  distances = DisplaySpec{7, 0, 0};
  CoordSysDisplayPrecision(&cs, &centre, &coordinates, &distances, nullptr);
  EXPECT_EQ(coordinates.decimals, 8);
  EXPECT_EQ(distances.decimals, 2);  // 9e-8 degrees of latitude, about 0.01 m
}

}  // namespace
}  // namespace layerio
