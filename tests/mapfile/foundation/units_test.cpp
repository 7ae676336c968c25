// Units of measure: the table against GNU units, names, and the conversions
// of points and rectangles through degrees with a stand-in coordinate system.
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/foundation_fixture.h"
#include "support/command.h"

namespace {

using namespace layerio;
using mapfiletest::FoundationTest;

class UnitsTest : public FoundationTest {};

// Each unit as GNU units spells it, in code order.
const char* const kOracleNames[kUnitCount] = {
    "mile", "km", "inch", "ft", "yd", "mm", "cm", "m", "surveyfoot", "nmi", "twip", "point",
    "12 point", "pi/180 * 6370997 m",
    "mile^2", "km^2", "inch^2", "ft^2", "yd^2", "mm^2", "cm^2", "m^2", "surveyfoot^2", "nmi^2",
    "twip^2", "point^2", "(12 point)^2", "(pi/180 * 6370997 m)^2",
    "acre", "hectare", "link", "chain", "rod", "link^2", "chain^2", "rod^2", "rod^2", "rood"};

TEST_F(UnitsTest, EveryPairAgreesWithGnuUnits) {
  if (!testsupport::HaveCommand("command -v units")) {
    GTEST_SKIP() << "GNU units is not installed (tools/install-deps)";
  }
  std::string input;
  for (int u = 0; u < kUnitCount; ++u) {
    input += std::string(kOracleNames[u]) + "\\n" + (UnitIsLinear(u) ? "inch" : "inch^2") + "\\n";
  }
  std::string output;
  ASSERT_TRUE(testsupport::RunCommand("printf '" + input + "' | units -t -d 15 2>&1", &output));
  std::istringstream lines(output);
  std::vector<double> inches;
  for (std::string line; std::getline(lines, line);) {
    char* end = nullptr;
    double v = std::strtod(line.c_str(), &end);
    ASSERT_NE(end, line.c_str()) << "units said: " << line;
    inches.push_back(v);
  }
  ASSERT_EQ(inches.size(), size_t(kUnitCount)) << output;
  for (int from = 0; from < kUnitCount; ++from) {
    for (int to = 0; to < kUnitCount; ++to) {
      double out = 0;
      UnitConvert(&out, to, 1.0, from);
      if (UnitIsLinear(from) != UnitIsLinear(to)) {
        EXPECT_EQ(out, 1.0) << from << " -> " << to;
        continue;
      }
      double expected = inches[size_t(from)] / inches[size_t(to)];
      EXPECT_NEAR(out / expected, 1.0, 1e-12) << from << " -> " << to;
    }
  }
}

TEST_F(UnitsTest, ValuesAndClasses) {
  double out = 0;
  UnitConvert(&out, 1, 1.0, 0);
  EXPECT_NEAR(out, 1.609344, 1e-15);
  UnitConvert(&out, 21, 1.0, 28);
  EXPECT_NEAR(out, 4046.8564224, 1e-9);
  struct Unchanged {
    int target, source;
  };
  for (Unchanged c : {Unchanged{15, 1}, Unchanged{1, 15}, Unchanged{38, 1}, Unchanged{1, 1000},
                      Unchanged{-1, 2}}) {
    UnitConvert(&out, c.target, 2.5, c.source);
    EXPECT_EQ(out, 2.5) << c.source << " -> " << c.target;
  }
  EXPECT_TRUE(UnitIsValid(0));
  EXPECT_TRUE(UnitIsValid(37));
  EXPECT_FALSE(UnitIsValid(38));
  EXPECT_FALSE(UnitIsValid(-1));
  EXPECT_TRUE(UnitIsSpecial(1000));
  EXPECT_TRUE(UnitIsSpecial(1002));
  EXPECT_FALSE(UnitIsSpecial(1003));
  EXPECT_TRUE(UnitIsLinear(13));
  EXPECT_TRUE(UnitIsLinear(32));
  EXPECT_FALSE(UnitIsLinear(28));
  EXPECT_FALSE(UnitIsLinear(1000));
  EXPECT_EQ(UnitAreaOf(0), 14);
  EXPECT_EQ(UnitAreaOf(30), 33);
  EXPECT_EQ(UnitAreaOf(36), 36);
  EXPECT_EQ(UnitAreaOf(99), 14);
}

TEST_F(UnitsTest, Names) {
  struct Case {
    const char* name;
    int code;  // -1: unknown
  };
  for (Case c : {Case{"SQ FT", 17}, Case{"perch", 36}, Case{"sq rd", 35}, Case{"Survey Ft", 8},
                 Case{"degree", 13}, Case{"rood", 37}, Case{"mi", 0}, Case{"sq  ft", -1},
                 Case{"", -1}, Case{"furlong", -1}}) {
    int code = -1;
    EXPECT_EQ(UnitFromName(c.name, &code), c.code >= 0) << c.name;
    EXPECT_EQ(code, c.code) << c.name;
  }
  char buffer[16];
  EXPECT_TRUE(UnitName(22, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "sq survey ft");
  EXPECT_TRUE(UnitName(8, buffer, 4));
  EXPECT_STREQ(buffer, "sur");
  EXPECT_FALSE(UnitName(38, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, " ");
  for (int u = 0; u < kUnitCount; ++u) {
    int code = -1;
    ASSERT_TRUE(UnitName(u, buffer, sizeof buffer));
    EXPECT_TRUE(UnitFromName(buffer, &code));
    EXPECT_EQ(code, u) << buffer;
  }
}

// A stand-in coordinate system in metres: x = 1000 lon, y = 2000 lat.
struct FakeCoordSys {
  static int calls;
  static void LonLatToUnits(const UnitPair* in, UnitPair* out, const CoordSys*, int count) {
    ++calls;
    for (int i = 0; i < count; ++i) out[i] = UnitPair{in[i].x * 1000, in[i].y * 2000};
  }
  static void UnitsToLonLat(const UnitPair* in, UnitPair* out, const CoordSys*, int count) {
    ++calls;
    for (int i = 0; i < count; ++i) out[i] = UnitPair{in[i].x / 1000, in[i].y / 2000};
  }
  static void LonLatRectToUnits(const UnitRect* in, UnitRect* out, const CoordSys*) {
    ++calls;
    *out = UnitRect{in->x1 * 1000, in->y1 * 2000, in->x2 * 1000, in->y2 * 2000};
  }
  static void UnitsRectToLonLat(const UnitRect* in, UnitRect* out, const CoordSys*) {
    ++calls;
    *out = UnitRect{in->x1 / 1000, in->y1 / 2000, in->x2 / 1000, in->y2 / 2000};
  }
  static int Units(const CoordSys*) { return kUnitMetre; }
};
int FakeCoordSys::calls = 0;

const CoordSysServices kFakeServices = {FakeCoordSys::LonLatToUnits, FakeCoordSys::LonLatRectToUnits,
                                        FakeCoordSys::UnitsToLonLat, FakeCoordSys::UnitsRectToLonLat,
                                        FakeCoordSys::Units};

TEST_F(UnitsTest, PointsThroughDegrees) {
  UnitSetCoordSysServices(&kFakeServices);
  FakeCoordSys::calls = 0;
  struct Case {
    UnitPair in;
    int source, target;
    UnitPair out;
    int calls;
  };
  const Case cases[] = {
      {{1, 2}, 13, 1, {1, 4}, 1},          // degrees -> metres -> km
      {{1, 4}, 1, 13, {1, 2}, 1},          // km -> metres -> degrees
      {{400, -95}, 13, 13, {360, -90}, 0},  // clamped
      {{-400, 95}, 13, 13, {-360, 90}, 0},
      {{400, -95}, 7, 7, {400, -95}, 0},
      {{1, 1}, 7, 3, {39.37007874015748 / 12, 39.37007874015748 / 12}, 0},
      {{1, 1}, 7, 17, {1, 1}, 0},  // classes differ: unchanged
  };
  for (const Case& c : cases) {
    int before = FakeCoordSys::calls;
    UnitPair out{};
    UnitConvertPoint(&out, c.target, &c.in, c.source, nullptr);
    EXPECT_NEAR(out.x, c.out.x, 1e-12) << c.source << " -> " << c.target;
    EXPECT_NEAR(out.y, c.out.y, 1e-12) << c.source << " -> " << c.target;
    EXPECT_EQ(FakeCoordSys::calls - before, c.calls) << c.source << " -> " << c.target;
    UnitPair same = c.in;  // the output may be the input
    UnitConvertPoint(&same, c.target, &same, c.source, nullptr);
    EXPECT_NEAR(same.x, c.out.x, 1e-12);
    EXPECT_NEAR(same.y, c.out.y, 1e-12);
  }
}

TEST_F(UnitsTest, RectanglesThroughDegrees) {
  UnitSetCoordSysServices(&kFakeServices);
  UnitRect out{};
  UnitRect deg{1, 2, 3, 4};
  UnitConvertRect(&out, 1, &deg, 13, nullptr);
  EXPECT_NEAR(out.x1, 1, 1e-12);
  EXPECT_NEAR(out.y1, 4, 1e-12);
  EXPECT_NEAR(out.x2, 3, 1e-12);
  EXPECT_NEAR(out.y2, 8, 1e-12);
  UnitRect back{};
  UnitConvertRect(&back, 13, &out, 1, nullptr);
  EXPECT_NEAR(back.x1, 1, 1e-12);
  EXPECT_NEAR(back.y2, 4, 1e-12);
  UnitRect wide{-500, -100, 500, 100};
  UnitConvertRect(&out, 13, &wide, 13, nullptr);
  EXPECT_EQ(out.x1, -360);
  EXPECT_EQ(out.y1, -90);
  EXPECT_EQ(out.x2, 360);
  EXPECT_EQ(out.y2, 90);
  UnitRect feet{12, 24, 36, 48};
  UnitConvertRect(&out, 2, &feet, 3, nullptr);
  EXPECT_EQ(out.x1, 144);
  EXPECT_EQ(out.y2, 576);
}

TEST_F(UnitsTest, WithoutCoordinateSystemServicesDegreesPassUnchanged) {
  UnitPair p{1, 2};
  UnitConvertPoint(&p, 1, &p, 13, nullptr);
  EXPECT_EQ(p.x, 1);
  EXPECT_EQ(p.y, 2);
  UnitRect r{1, 2, 3, 4};
  UnitConvertRect(&r, 13, &r, 1, nullptr);
  EXPECT_EQ(r.x2, 3);
}

}  // namespace
