// Ellipsoids, datum records and datum shifts. The three-parameter shift is
// checked against PROJ's Molodensky operation (cct), the seven-parameter
// shift against cs2cs with the equivalent +towgs84 (PROJ's rotations are of
// the position-vector kind, ours of the coordinate-frame kind, hence the
// negated rotations), and the abridged shift against values worked out by
// hand from its formula.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "support/proj_oracle.h"

namespace layerio {
namespace {

using testsupport::HaveProj;
using testsupport::ProjEllipsoid;
using testsupport::RunProjLines;

constexpr double kPi = 3.141592653589793;
constexpr double kMillimetre = 1e-3;

PXDatum Datum(int n) {
  PXDatum d;
  DatumRecordGet(n, &d);
  return d;
}

EllipsoidParams Ellipsoid(int n) {
  EllipsoidParams e;
  EllipsoidGet(n, &e);
  return e;
}

// Semi-major axis and inverse flattening as PROJ takes them.
std::string ProjEllipsoidOf(int n) {
  EllipsoidParams e = Ellipsoid(n);
  return ProjEllipsoid(e.a, e.f == 0 ? 0 : 1 / e.f);
}

DPoint Shift(DPoint p, const PXDatum& from, const PXDatum& to) {
  EllipsoidParams fromEll = Ellipsoid(from.ellipsoid), toEll = Ellipsoid(to.ellipsoid);
  DPoint out;
  DatumShiftPoints(&p, &from, &fromEll, &out, &to, &toEll, 1);
  return out;
}

// The distance on the ellipsoid between two longitude/latitude points that
// lie close together, in metres.
double GroundError(const DPoint& p, double lon, double lat, double a) {
  double dlon = std::remainder(p.x - lon, 360.0);
  double dlat = p.y - lat;
  return std::hypot(dlat * kPi / 180 * a, dlon * kPi / 180 * a * std::cos(lat * kPi / 180));
}

std::vector<DPoint> RandomLonLat(unsigned seed, int n) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> lon(-180, 180), lat(-89, 89);
  std::vector<DPoint> points(n);
  for (DPoint& p : points) p = {lon(random), lat(random)};
  return points;
}

// Restores the process-wide method flag when a test changes it.
class MethodGuard {
 public:
  MethodGuard() : saved_(DatumShiftMethod()) {}
  ~MethodGuard() { SetDatumShiftMethod(saved_); }

 private:
  uint16_t saved_;
};

// ----- Ellipsoids and datum records -------------------------------------------

TEST(Ellipsoid, ConstantsAndFallback) {
  struct Case {
    int number;
    double a, inverseFlattening;
  } cases[] = {
      {0, 6378137, 298.257222101},
      {8, 6378450.047484481, 294.9786982},
      {12, 6370997, 0},
      {28, 6378137, 298.257223563},
      {29, 6378137, 298.257223563},
      {53, 6378140, 298.257},
      {54, 6378137, 298.257223563},
      {255, 6378137, 298.257223563},
      {-1, 6378137, 298.257223563},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EllipsoidParams e = Ellipsoid(c.number);
    double f = c.inverseFlattening == 0 ? 0 : 1 / c.inverseFlattening;
    EXPECT_EQ(e.a, c.a);
    EXPECT_EQ(e.f, f);
    EXPECT_EQ(e.e2, (2 - f) * f);
  }
  EXPECT_TRUE(EllipsoidNumberValid(0));
  EXPECT_TRUE(EllipsoidNumberValid(53));
  EXPECT_FALSE(EllipsoidNumberValid(54));
  EXPECT_FALSE(EllipsoidNumberValid(-1));
}

TEST(DatumRecord, NumbersValid) {
  for (int n : {0, 154, 999, 1000, 1019, 9999}) EXPECT_TRUE(DatumNumberValid(n)) << n;
  for (int n : {-1, 155, 998, 1020, 9998, 10000}) EXPECT_FALSE(DatumNumberValid(n)) << n;
}

TEST(DatumRecord, TableRecordsAreZeroedWholeAndCarryTheirNumber) {
  PXDatum expected;
  memset(&expected, 0, sizeof expected);
  expected.ellipsoid = 0;
  expected.dx = -199.87;
  expected.dy = 74.79;
  expected.dz = 246.62;
  expected.number = 153;
  PXDatum got = Datum(153);
  EXPECT_EQ(memcmp(&got, &expected, sizeof got), 0);

  memset(&expected, 0, sizeof expected);
  expected.ellipsoid = 30;
  expected.dx = -168;
  expected.dy = -60;
  expected.dz = 320;
  expected.primeMeridian = 2.337229167;
  expected.number = 1002;
  got = Datum(1002);
  EXPECT_EQ(memcmp(&got, &expected, sizeof got), 0);

  got = Datum(1019);
  EXPECT_EQ(got.ellipsoid, 4);
  EXPECT_EQ(got.scale, 0.999999);
  EXPECT_EQ(got.rz, -1.885);
  EXPECT_EQ(got.number, 1019);
}

// Datum 0 and datum 104 sit on ellipsoids with the same constants, but only
// 0 is "no datum"; a number outside the tables gives 104's values unnumbered.
TEST(DatumRecord, NoDatumReferenceAndUnknownNumbers) {
  EXPECT_EQ(Datum(0).ellipsoid, kEllipsoidNone);
  EXPECT_EQ(Datum(104).ellipsoid, 28);
  EllipsoidParams e28 = Ellipsoid(28), e29 = Ellipsoid(29);
  EXPECT_EQ(memcmp(&e28, &e29, sizeof e28), 0);

  PXDatum cleared;
  DatumRecordClear(&cleared);
  cleared.ellipsoid = 28;
  for (int n : {155, -1, 999, 9999, 1020}) {
    PXDatum got = Datum(n);
    EXPECT_EQ(memcmp(&got, &cleared, sizeof got), 0) << n;
  }
  int number = -1;
  ASSERT_TRUE(DatumNumberFind(&cleared, &number));
  EXPECT_EQ(number, 104);
}

TEST(DatumRecord, EqualityIgnoresTheNumberOnly) {
  PXDatum a = Datum(104), b = Datum(104);
  b.number = 0;
  EXPECT_TRUE(DatumRecordEqual(&a, &b));
  b.dz = 1e-9;
  EXPECT_FALSE(DatumRecordEqual(&a, &b));
  b = Datum(104);
  b.reserved2[0] = 1;
  EXPECT_FALSE(DatumRecordEqual(&a, &b));

  EXPECT_TRUE(DatumRecordMatches(104, &a));
  EXPECT_FALSE(DatumRecordMatches(0, &a));
  EXPECT_FALSE(DatumRecordMatches(155, &a));  // not a datum number
  EXPECT_TRUE(DatumRecordMatches(999, &a));   // 999 reads as the cleared ellipsoid-28 record
}

// Every table datum is found again under its own number, even where an
// earlier row holds the same values (75 and 140, 94 and 143, 95 and 126); a
// record without its number finds the first such row.
TEST(DatumRecord, FindPrefersTheRecordsOwnNumber) {
  for (int n = 0; n < 1020; n = n == 154 ? 1000 : n + 1) {
    PXDatum d = Datum(n);
    int found = -1;
    ASSERT_TRUE(DatumNumberFind(&d, &found)) << n;
    EXPECT_EQ(found, n);
  }
  struct Case {
    int datum, firstRow;
  } duplicates[] = {{140, 75}, {143, 94}, {126, 95}, {144, 53}, {115, 33}};
  for (const Case& c : duplicates) {
    PXDatum d = Datum(c.datum);
    d.number = 0;
    int found = -1;
    ASSERT_TRUE(DatumNumberFind(&d, &found)) << c.datum;
    EXPECT_EQ(found, c.firstRow);
  }
  // 999 and 9999 are never given back: a clause would expect values after
  // them.
  PXDatum custom = Datum(155);
  custom.number = 999;
  int found = -1;
  ASSERT_TRUE(DatumNumberFind(&custom, &found));
  EXPECT_EQ(found, 104);
  custom.dx = 1;
  EXPECT_FALSE(DatumNumberFind(&custom, &found));
}

// ----- Shifts against PROJ ------------------------------------------------------

TEST(DatumShift, ThreeParameterShiftAgreesWithProjMolodensky) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ programs not installed";
  struct Pair {
    int from, to;
  } pairs[] = {{1, 104}, {104, 25}, {79, 54}, {3, 26}, {153, 104}, {42, 96}};
  unsigned seed = 30;
  for (const Pair& pair : pairs) {
    PXDatum from = Datum(pair.from), to = Datum(pair.to);
    EllipsoidParams fromEll = Ellipsoid(from.ellipsoid), toEll = Ellipsoid(to.ellipsoid);
    char shifts[256];
    snprintf(shifts, sizeof shifts, " +da=%.17g +df=%.17g +dx=%.17g +dy=%.17g +dz=%.17g",
             toEll.a - fromEll.a, toEll.f - fromEll.f, from.dx - to.dx, from.dy - to.dy,
             from.dz - to.dz);
    std::string command =
        "cct -d 12 -z 0 -t 0 +proj=molodensky " + ProjEllipsoidOf(from.ellipsoid) + shifts;
    std::vector<DPoint> points = RandomLonLat(seed++, 200);
    std::vector<std::vector<double>> rows, expected;
    for (const DPoint& p : points) rows.push_back({p.x, p.y});
    ASSERT_TRUE(RunProjLines(command, rows, &expected)) << command;

    std::vector<DPoint> shifted(points.size());
    DatumShiftPoints(points.data(), &from, &fromEll, shifted.data(), &to, &toEll,
                     int(points.size()));
    for (size_t i = 0; i < points.size(); ++i) {
      ASSERT_GE(expected[i].size(), 2u);
      EXPECT_LT(GroundError(shifted[i], expected[i][0], expected[i][1], toEll.a), kMillimetre)
          << pair.from << " -> " << pair.to << " at " << points[i].x << " " << points[i].y;
    }
  }
}

TEST(DatumShift, SevenParameterShiftAgreesWithProjHelmert) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ programs not installed";
  struct Pair {
    int from, to;
  } pairs[] = {{1000, 104}, {1003, 1016}, {1011, 1018}, {104, 1019}, {1004, 3}, {1012, 1013}};
  unsigned seed = 300;
  for (const Pair& pair : pairs) {
    PXDatum from = Datum(pair.from), to = Datum(pair.to);
    EllipsoidParams fromEll = Ellipsoid(from.ellipsoid), toEll = Ellipsoid(to.ellipsoid);
    // One Helmert transformation of the differences, onto the destination
    // ellipsoid through a zero transformation. PROJ scales the rotated
    // coordinates, we leave out that scale-by-rotation product: at most
    // 0.84 mm over these pairs (datum 1000: 8.3 ppm times 3.3 arc-seconds).
    char towgs84[320];
    snprintf(towgs84, sizeof towgs84, " +towgs84=%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g",
             from.dx - to.dx, from.dy - to.dy, from.dz - to.dz, -(from.rx - to.rx),
             -(from.ry - to.ry), -(from.rz - to.rz), from.scale - to.scale);
    std::string command = "cs2cs -f %.12f +proj=longlat " + ProjEllipsoidOf(from.ellipsoid) +
                          towgs84 + " +to +proj=longlat " + ProjEllipsoidOf(to.ellipsoid) +
                          " +towgs84=0,0,0";
    std::vector<DPoint> points = RandomLonLat(seed++, 200);
    std::vector<std::vector<double>> rows, expected;
    for (const DPoint& p : points) rows.push_back({p.x, p.y});
    ASSERT_TRUE(RunProjLines(command, rows, &expected)) << command;

    std::vector<DPoint> shifted = points;  // shifted in place
    DatumShiftPoints(shifted.data(), &from, &fromEll, shifted.data(), &to, &toEll,
                     int(shifted.size()));
    for (size_t i = 0; i < points.size(); ++i) {
      ASSERT_GE(expected[i].size(), 2u);
      EXPECT_LT(GroundError(shifted[i], expected[i][0], expected[i][1], toEll.a), kMillimetre)
          << pair.from << " -> " << pair.to << " at " << points[i].x << " " << points[i].y;
    }
  }
}

// ----- Edge cases of the shift ---------------------------------------------------

TEST(DatumShift, AbridgedShiftUnderMethodZero) {
  MethodGuard guard;
  EXPECT_EQ(DatumShiftMethod(), 1);
  // Worked out by hand from the abridged formulas, with the ellipsoid
  // constants a and e2 = (2 - f) f of the source (Clarke 1880 for datum 1,
  // Bessel for 1000) and the differences source minus destination.
  struct Case {
    int from, to;
    double lon, lat, expectedLon, expectedLat;
  } cases[] = {
      {1, 104, 10, 50, 10.000227979497, 49.999208960348},
      {1, 104, -75, -30, -75.001655330816, -29.995814007416},
      {1000, 104, 15, 45, 14.998214989121, 44.999462632801},
      {1000, 104, -120, 60, -119.992346327754, 60.005145688806},
  };
  SetDatumShiftMethod(0);
  for (const Case& c : cases) {
    DPoint p = Shift({c.lon, c.lat}, Datum(c.from), Datum(c.to));
    EXPECT_NEAR(p.x, c.expectedLon, 1e-11) << c.from << " at " << c.lon << " " << c.lat;
    EXPECT_NEAR(p.y, c.expectedLat, 1e-11) << c.from << " at " << c.lon << " " << c.lat;
  }
  // Any other non-zero value chooses the seven-parameter shift like 1.
  DPoint withOne, withSeven;
  SetDatumShiftMethod(1);
  withOne = Shift({15, 45}, Datum(1000), Datum(104));
  SetDatumShiftMethod(7);
  withSeven = Shift({15, 45}, Datum(1000), Datum(104));
  EXPECT_EQ(memcmp(&withOne, &withSeven, sizeof withOne), 0);
  EXPECT_GT(std::fabs(withOne.x - 14.998214989121), 1e-7);
}

// A pair whose rotations and scales are equal moves by translation alone: it
// gives exactly what the same pair without rotations gives.
TEST(DatumShift, EqualRotationsTakeTheThreeParameterShift) {
  PXDatum from = Datum(1000), to = Datum(104);
  to.rx = from.rx;
  to.ry = from.ry;
  to.rz = from.rz;
  to.scale = from.scale;
  PXDatum fromPlain = from, toPlain = to;
  fromPlain.rx = fromPlain.ry = fromPlain.rz = fromPlain.scale = 0;
  toPlain.rx = toPlain.ry = toPlain.rz = toPlain.scale = 0;
  for (DPoint p : RandomLonLat(7, 20)) {
    DPoint rotated = Shift(p, from, to), plain = Shift(p, fromPlain, toPlain);
    EXPECT_EQ(memcmp(&rotated, &plain, sizeof rotated), 0);
  }
}

// Datum 1002 is datum 107 on a prime meridian 2.337229167 degrees east of
// Greenwich: the meridian is added before the shift and taken off after it.
TEST(DatumShift, PrimeMeridianOfTheSourceAndDestination) {
  const double meridian = 2.337229167;
  EXPECT_EQ(Datum(1002).primeMeridian, meridian);
  for (DPoint p : RandomLonLat(11, 20)) {
    DPoint withMeridian = Shift(p, Datum(1002), Datum(104));
    DPoint moved = Shift({p.x + meridian, p.y}, Datum(107), Datum(104));
    EXPECT_EQ(withMeridian.x, moved.x);
    EXPECT_EQ(withMeridian.y, moved.y);
    DPoint back = Shift(p, Datum(104), Datum(1002));
    DPoint plain = Shift(p, Datum(104), Datum(107));
    EXPECT_NEAR(back.x, plain.x - meridian, 1e-12);
    EXPECT_EQ(back.y, plain.y);
  }
}

// Points on or outside the longitude/latitude ranges are copied, clamped.
TEST(DatumShift, PointsOnTheRangeEdgesAreCopied) {
  struct Case {
    double lon, lat, expectedLon, expectedLat;
  } copied[] = {
      {10, 90, 10, 90},     {10, -90, 10, -90}, {360, 10, 360, 10},
      {-360, 10, -360, 10}, {400, 95, 360, 90}, {-500, -100, -360, -90},
  };
  for (uint16_t method : {0, 1}) {
    MethodGuard guard;
    SetDatumShiftMethod(method);
    for (const Case& c : copied) {
      for (int from : {1, 1000}) {
        DPoint p = Shift({c.lon, c.lat}, Datum(from), Datum(104));
        EXPECT_EQ(p.x, c.expectedLon) << method << " " << from << " at " << c.lon << " " << c.lat;
        EXPECT_EQ(p.y, c.expectedLat) << method << " " << from << " at " << c.lon << " " << c.lat;
      }
    }
  }
}

// Within 0.1 degree of a pole a point keeps its own latitude and moves by the
// shift (hundreds of metres here), as PROJ moves it; it is not pulled down to
// latitude 89.9.
TEST(DatumShift, PointsNearThePolesAgreeWithProj) {
  if (!HaveProj()) GTEST_SKIP() << "PROJ programs not installed";
  std::vector<std::vector<double>> rows = {{30, 89.95}, {-140, -89.99}, {75, 89.999}};
  // Three parameters: the latitude within 5 m of PROJ's Molodensky (the
  // increments are those at 89.9); pulled down to 89.9 it would be up to
  // 11 km off.
  PXDatum from = Datum(1), to = Datum(104);
  EllipsoidParams fromEll = Ellipsoid(from.ellipsoid), toEll = Ellipsoid(to.ellipsoid);
  char shifts[256];
  snprintf(shifts, sizeof shifts, " +da=%.17g +df=%.17g +dx=%.17g +dy=%.17g +dz=%.17g",
           toEll.a - fromEll.a, toEll.f - fromEll.f, from.dx, from.dy, from.dz);
  std::vector<std::vector<double>> expected;
  ASSERT_TRUE(RunProjLines(
      "cct -d 12 -z 0 -t 0 +proj=molodensky " + ProjEllipsoidOf(from.ellipsoid) + shifts, rows,
      &expected));
  for (size_t i = 0; i < rows.size(); ++i) {
    DPoint p = Shift({rows[i][0], rows[i][1]}, from, to);
    EXPECT_NEAR(p.y, expected[i][1], 5e-5) << rows[i][1];
  }
  // Seven parameters: the whole point within 1 mm of PROJ's.
  from = Datum(1000);
  fromEll = Ellipsoid(from.ellipsoid);
  char towgs84[256];
  snprintf(towgs84, sizeof towgs84, " +towgs84=%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g", from.dx,
           from.dy, from.dz, -from.rx, -from.ry, -from.rz, from.scale);
  ASSERT_TRUE(RunProjLines("cs2cs -f %.12f +proj=longlat " + ProjEllipsoidOf(from.ellipsoid) +
                               towgs84 + " +to +proj=longlat " + ProjEllipsoidOf(28) +
                               " +towgs84=0,0,0",
                           rows, &expected));
  for (size_t i = 0; i < rows.size(); ++i) {
    DPoint p = Shift({rows[i][0], rows[i][1]}, from, to);
    EXPECT_LT(GroundError(p, expected[i][0], expected[i][1], toEll.a), kMillimetre) << rows[i][1];
  }
}

// The geocentric shift keeps a point that starts at or beyond 179 degrees on
// its side of the antimeridian.
TEST(DatumShift, SevenParameterShiftAcrossTheAntimeridian) {
  // 104 -> 1000 moves points near longitude 180 east, 1000 -> 104 west.
  DPoint east = Shift({179.9999, 10}, Datum(104), Datum(1000));
  EXPECT_GT(east.x, 180.0);
  EXPECT_LT(east.x, 180.01);
  DPoint west = Shift({-179.9999, 10}, Datum(1000), Datum(104));
  EXPECT_LT(west.x, -180.0);
  EXPECT_GT(west.x, -180.01);
  DPoint far = Shift({250, 10}, Datum(1000), Datum(104));
  EXPECT_NEAR(far.x, 250, 0.01);
  DPoint farWest = Shift({-250, 10}, Datum(1000), Datum(104));
  EXPECT_NEAR(farWest.x, -250, 0.01);
}

TEST(DatumShift, RectangleIsTheBoundOfItsShiftedCorners) {
  DRect r = {-10, 40, 10, 60};
  PXDatum from = Datum(1000), to = Datum(104);
  EllipsoidParams fromEll = Ellipsoid(from.ellipsoid), toEll = Ellipsoid(to.ellipsoid);
  DRect out;
  DatumShiftRect(&r, &from, &fromEll, &out, &to, &toEll);
  DPoint ll = Shift({-10, 40}, from, to), ul = Shift({-10, 60}, from, to);
  DPoint ur = Shift({10, 60}, from, to), lr = Shift({10, 40}, from, to);
  EXPECT_EQ(out.x1, std::fmin(ll.x, ul.x));
  EXPECT_EQ(out.x2, std::fmax(ur.x, lr.x));
  EXPECT_EQ(out.y1, std::fmin(ll.y, lr.y));
  EXPECT_EQ(out.y2, std::fmax(ul.y, ur.y));
  DatumShiftRect(&r, &from, &fromEll, &r, &to, &toEll);  // in place
  EXPECT_EQ(memcmp(&r, &out, sizeof r), 0);
}

}  // namespace
}  // namespace layerio
