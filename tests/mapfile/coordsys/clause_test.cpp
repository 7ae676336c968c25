// The CoordSys clause: reading every form of it (value lists, custom datums,
// affine and bounds parts, layout systems, check-only mode), its error codes,
// the writer's number and bounds forms, and the write -> read round trip over
// every datum and every projection number.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/token.h"
#include "tests/mapfile/foundation/foundation_fixture.h"

namespace layerio {
namespace {

class ClauseTest : public mapfiletest::FoundationTest {
 protected:
  void SetUp() override {
    FoundationTest::SetUp();
    CoordSysInstallUnitServices();
  }
  void TearDown() override {
    TokEnd();
    FoundationTest::TearDown();
  }

  // Reads a clause from the tokenizer as a table definition would; the code
  // of the first error, or 0.
  int Parse(const char* text, bool wantBounds = false) {
    ErrorClear();
    std::memset(&block, 0, sizeof block);
    projection = -1;
    bounds = DRect{};
    TokBeginText(text);
    if (TokIs(kKwCoordSys)) TokNext();
    bool ok = CoordSysClauseParse(&projection, &block, wantBounds ? &bounds : nullptr);
    int code = int(ErrorLastCode());
    EXPECT_EQ(ok, code == 0) << text;
    return ok ? 0 : (code ? code : -1);
  }

  int16_t projection = -1;
  CoordSysParams block{};
  DRect bounds{};
};

PXDatum Datum(int n) {
  PXDatum d;
  DatumRecordGet(n, &d);
  return d;
}

bool SameDatum(const PXDatum& a, const PXDatum& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string Write(const CoordSys& cs, bool withBounds = true) {
  char text[400];
  EXPECT_TRUE(CoordSysWriteClause(&cs, text, sizeof text, withBounds));
  return text;
}

TEST_F(ClauseTest, EarthAloneIsLongitudeLatitudeOnDatumZero) {
  ASSERT_EQ(Parse("CoordSys Earth", true), 0);
  EXPECT_EQ(projection, 1);
  EXPECT_TRUE(SameDatum(block.datum, Datum(0)));
  EXPECT_EQ(block.lonLatQuadrant, 2);
  EXPECT_EQ(block.params[0], 0.0);
  EXPECT_EQ(block.flags, 0u);
  EXPECT_EQ(bounds.x1, -1000);
  EXPECT_EQ(bounds.y1, -1000);
  EXPECT_EQ(bounds.x2, 1000);
  EXPECT_EQ(bounds.y2, 1000);
  // keywords in any case, the leading CoordSys optional
  ASSERT_EQ(Parse("earth PROJECTION 1, 104"), 0);
  EXPECT_EQ(projection, 1);
  EXPECT_TRUE(SameDatum(block.datum, Datum(104)));
  EXPECT_EQ(block.lonLatQuadrant, 2);
}

TEST_F(ClauseTest, ProjectionListTakesUnitAndParameters) {
  ASSERT_EQ(Parse("CoordSys Earth Projection 8, 104, \"m\", -75, 0, 0.9996, 500000, -0"), 0);
  EXPECT_EQ(projection, 8);
  EXPECT_TRUE(SameDatum(block.datum, Datum(104)));
  EXPECT_EQ(block.projectedUnit, kUnitMetre);
  const double want[6] = {-75, 0, 0.9996, 500000, 0, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(block.params[i], want[i]) << i;
  EXPECT_FALSE(std::signbit(block.params[4]));  // -0 is stored as +0
  // a unit code in the place of a name; expressions as values
  ASSERT_EQ(Parse("CoordSys Earth Projection 10, 33, 7, -(-12.5)"), 0);
  EXPECT_EQ(block.projectedUnit, kUnitMetre);
  EXPECT_EQ(block.params[0], 12.5);
  ASSERT_EQ(Parse("CoordSys Earth Projection 0, \"ft\""), 0);
  EXPECT_EQ(projection, 0);
  EXPECT_EQ(block.nonEarth.one, 1);
  EXPECT_EQ(block.nonEarth.quadrant, 1);
  EXPECT_EQ(block.nonEarth.unit, 3);
  EXPECT_EQ(block.nonEarth.quadrant2, 1);
}

TEST_F(ClauseTest, ThousandsAddAffineAndBoundsToTheList) {
  // 1001: an affine unit and six coefficients after the parameters
  ASSERT_EQ(Parse("CoordSys Earth Projection 1001, 104, \"km\", 2, 0, 10, 0, 4, 20", true), 0);
  EXPECT_EQ(projection, 1);
  EXPECT_EQ(block.flags, kParamsAffine);
  EXPECT_EQ(block.affineUnit, 1);
  const double affine[6] = {2, 0, 10, 0, 4, 20};
  const double inverse[6] = {0.5, 0, -5, 0, 0.25, -5};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(block.affine[i], affine[i]) << i;
    EXPECT_EQ(block.affineInverse[i], inverse[i]) << i;
    EXPECT_FALSE(block.affineInverse[i] == 0 && std::signbit(block.affineInverse[i])) << i;
  }
  EXPECT_EQ(bounds.x1, -1000 * 2 + 10);  // the default bounds pass the affine
  EXPECT_EQ(bounds.y2, 1000 * 4 + 20);
  // 2001: four bounds close the list, normalised
  ASSERT_EQ(Parse("CoordSys Earth Projection 2001, 104, 10, 5, -10, -5", true), 0);
  EXPECT_EQ(block.flags, 0u);
  EXPECT_EQ(bounds.x1, -10);
  EXPECT_EQ(bounds.y1, -5);
  EXPECT_EQ(bounds.x2, 10);
  EXPECT_EQ(bounds.y2, 5);
  // 3001: both, the affine first
  ASSERT_EQ(Parse("CoordSys Earth Projection 3001, 104, \"m\", 1, 0, 0, 0, 1, 0, 1, 2, 3, 4",
                  true),
            0);
  EXPECT_EQ(projection, 1);
  EXPECT_EQ(block.flags, kParamsAffine);
  EXPECT_EQ(block.affineUnit, kUnitMetre);
  EXPECT_EQ(bounds.x1, 1);
  EXPECT_EQ(bounds.y2, 4);
  // a keyword affine part replaces the list's one
  ASSERT_EQ(Parse("CoordSys Earth Projection 1001, 104, \"km\", 2, 0, 10, 0, 4, 20 "
                  "Affine Units \"mi\", 1, 1, 0, 0, 1, 0"),
            0);
  EXPECT_EQ(block.affineUnit, 0);
  EXPECT_EQ(block.affine[1], 1);
  EXPECT_EQ(block.affineInverse[1], -1);
}

TEST_F(ClauseTest, CustomDatums) {
  // 999: ellipsoid and three shifts
  ASSERT_EQ(Parse("CoordSys Earth Projection 1, 999, 0, -8, 160, 176"), 0);
  PXDatum want{};
  want.ellipsoid = 0;
  want.dx = -8;
  want.dy = 160;
  want.dz = 176;
  EXPECT_TRUE(SameDatum(block.datum, want));
  // 9999: ellipsoid, three shifts, three rotations, scale and prime meridian
  ASSERT_EQ(Parse("CoordSys Earth Projection 2, 9999, 28, 1, 2, 3, 0.1, 0.2, 0.3, 4.5, 2.337, "
                  "\"m\", 0, 30"),
            0);
  want = PXDatum{};
  want.ellipsoid = 28;
  want.dx = 1;
  want.dy = 2;
  want.dz = 3;
  want.rx = 0.1;
  want.ry = 0.2;
  want.rz = 0.3;
  want.scale = 4.5;
  want.primeMeridian = 2.337;
  EXPECT_TRUE(SameDatum(block.datum, want));
  EXPECT_EQ(block.datum.number, 0);
  EXPECT_EQ(block.params[1], 30);
  // a value fewer or more than the custom datum takes
  EXPECT_EQ(Parse("CoordSys Earth Projection 1, 999, 0, -8, 160"), 636);
  EXPECT_EQ(Parse("CoordSys Earth Projection 1, 9999, 0, 1, 2, 3, 0, 0, 0, 0, 0, 7"), 635);
}

TEST_F(ClauseTest, LayoutUnitsReadsBackAsALayoutSystem) {
  ASSERT_EQ(Parse("CoordSys Layout Units \"in\"", true), 0);
  EXPECT_EQ(projection, 0);
  EXPECT_EQ(block.nonEarth.one, 1);
  EXPECT_EQ(block.nonEarth.quadrant, 1);
  EXPECT_EQ(block.nonEarth.unit, 2);
  EXPECT_EQ(block.nonEarth.quadrant2, 4);
  EXPECT_EQ(bounds.x2, 10);  // a layout needs no bounds part
  CoordSys cs;
  ASSERT_TRUE(CoordSysParseText(&cs, "CoordSys Layout Units \"in\"", true));
  EXPECT_TRUE(CoordSysIsLayout(&cs));
  EXPECT_EQ(Write(cs), "CoordSys Layout Units \"in\"");
}

TEST_F(ClauseTest, NonEarthWithBoundsAndSupportMz) {
  ASSERT_EQ(Parse("CoordSys NonEarth Units \"m\" Bounds (10, 20) (-10, 5) supportmz", true), 0);
  EXPECT_EQ(projection, 0);
  EXPECT_EQ(block.nonEarth.unit, kUnitMetre);
  EXPECT_EQ(block.nonEarth.quadrant2, 1);
  EXPECT_EQ(block.word246, 1);
  EXPECT_EQ(bounds.x1, -10);
  EXPECT_EQ(bounds.y1, 5);
  EXPECT_EQ(bounds.x2, 10);
  EXPECT_EQ(bounds.y2, 20);
  // without bounds wanted the bounds part may be left out
  EXPECT_EQ(Parse("CoordSys NonEarth Units \"m\""), 0);
}

TEST_F(ClauseTest, ErrorCodes) {
  std::string thirty = "CoordSys Earth Projection 1, 104";
  for (int i = 0; i < 28; ++i) thirty += ", 0";
  std::string twentyNine = "CoordSys Earth Projection 1, 104";
  for (int i = 0; i < 27; ++i) twentyNine += ", 0";
  const struct {
    std::string text;
    bool wantBounds;
    int code;
  } cases[] = {
      {"CoordSys Earth Projection 1, 104, 7", false, 635},
      {thirty, false, 635},      // the 30th value is refused, not stored
      {twentyNine, false, 635},  // a full list whose values are not all used
      {"CoordSys Earth Projection 3, 74, 7, 0", false, 636},
      {"CoordSys Earth Projection 32, 104", false, 888},
      {"CoordSys Earth Projection -1, 104", false, 888},
      {"CoordSys Earth Projection 4001, 104", false, 888},
      {"CoordSys Earth Projection 1, 500", false, 889},
      {"CoordSys Earth Projection 1, 100 + 4", false, 854},  // not evaluated here
      {"CoordSys Earth Projection 1, 999, 54, 0, 0, 0", false, 890},
      {"CoordSys Earth Projection 0, \"sq m\"", false, 646},
      {"CoordSys Earth Projection 8, 104, \"acre\", 0, 0, 1, 0, 0", false, 646},
      {"CoordSys Earth Projection 1001, 104, \"m\", 1, 2, 0, 2, 4, 0", false, 1357},
      {"CoordSys Earth Affine Units \"m\", 1, 2, 0, 2, 4, 0", false, 1357},
      {"CoordSys Earth Affine Units \"m\", 1, 0, 0, 0, 1", false, 615},
      {"CoordSys Earth Bounds (0, 0) (1)", false, 615},
      {"CoordSys NonEarth Units \"m\"", true, 615},
      {"CoordSys NonEarth \"m\" Bounds (0, 0) (1, 1)", false, 615},
      {"CoordSys NonEarth Units \"furlong\"", false, 606},
      {"CoordSys NonEarth Units \"sq mi\"", false, 646},
      {"CoordSys Layout \"in\"", false, 615},
      {"CoordSys Banana", false, 615},
      {"CoordSys", false, 615},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.text.c_str(), c.wantBounds), c.code) << c.text;
  }
}

TEST_F(ClauseTest, CheckOnlyModeFollowsTheGrammarAndStoresNothing) {
  SetParseMode(1);
  const char* good[] = {
      "CoordSys Earth Projection 1, 500, 7, 8",  // value checks are skipped
      "CoordSys Earth Projection 3001, -(2), \"m\", 1, 0, 0, 0, 1, 0, 1, 2, 3, 4 supportmz",
      "CoordSys Earth Affine Units \"m\", 1, 2, 0, 2, 4, 0 Bounds (-1, -1) (1, 1)",
      "CoordSys NonEarth Units \"m\" Bounds (0, 0) (f(1, 2) * 3, 10)",
  };
  for (const char* text : good) {
    ErrorClear();
    TokBeginText(text);
    TokNext();
    int16_t p = 77;
    CoordSysParams b;
    std::memset(&b, 0xAB, sizeof b);
    CoordSysParams before = b;
    DRect r{1, 2, 3, 4};
    EXPECT_TRUE(CoordSysClauseParse(&p, &b, &r)) << text;
    EXPECT_EQ(TokCurrent(), nullptr) << text;  // the whole clause was taken
    EXPECT_EQ(p, 77);
    EXPECT_EQ(std::memcmp(&b, &before, sizeof b), 0) << text;
    EXPECT_EQ(r.x1, 1);
  }
  ErrorClear();
  TokBeginText("CoordSys NonEarth \"m\"");
  TokNext();
  int16_t p = 0;
  CoordSysParams b;
  EXPECT_FALSE(CoordSysClauseParse(&p, &b, nullptr));
  EXPECT_TRUE(ErrorHasCode(615));
  SetParseMode(0);
}

TEST_F(ClauseTest, ParseTextRestoresTheOuterParseAndClearsErrors) {
  TokBeginText("alpha beta");
  ASSERT_TRUE(TokIs(kTokIdentifier));
  ErrorPush(kErrorSeverity, 999, nullptr, nullptr);
  CoordSys cs;
  ASSERT_TRUE(CoordSysParseText(&cs, "CoordSys Earth Projection 1, 104 Bounds (-10, -5) (10, 5)",
                                true));
  EXPECT_EQ(cs.projection, 1);
  EXPECT_EQ(ErrorCount(), 0);
  DRect r;
  CoordSysBoundsInUnits(&cs, &r, kUnitDegree);
  DRectNormalize(&r);
  EXPECT_NEAR(r.x1, -10, 1e-9);
  EXPECT_NEAR(r.y2, 5, 1e-9);
  // the outer token stream goes on where it was
  EXPECT_STREQ(TokCurrentText(), "alpha");
  TokNext();
  EXPECT_STREQ(TokCurrentText(), "beta");
  EXPECT_FALSE(CoordSysParseText(&cs, "CoordSys Earth Projection 1, 104, 7", false));
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_FALSE(CoordSysParseText(&cs, nullptr, false));
}

// A fatal error trapped inside the nested parse unwinds through it: the
// outer parse still finds its tokens.
TEST_F(ClauseTest, ParseTextUnwindsCleanlyFromATrappedFatalError) {
  TokBeginText("alpha beta");
  TrapToggle(1);
  CoordSys cs;
  int result = RunGuarded(-1, [&] {
    return CoordSysParseText(&cs, "CoordSys NonEarth Units \"m", false) ? 1 : 0;  // unclosed
  });
  TrapToggle(1);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(ErrorHasCode(kErrInternal));
  EXPECT_EQ(ParseMode(), 0);
  EXPECT_STREQ(TokCurrentText(), "alpha");
  TokNext();
  EXPECT_STREQ(TokCurrentText(), "beta");
}

CoordSys Make(int projection, const CoordSysParams& block, const DRect& bounds) {
  CoordSys cs;
  CoordSysInit(&cs, projection, &block);
  CoordSysSetBounds(&cs, bounds.x1, bounds.y1, bounds.x2, bounds.y2);
  return cs;
}

TEST_F(ClauseTest, WriterNumberForms) {
  CoordSysParams b;
  CoordSysParamsClear(&b);
  b.datum = Datum(104);
  b.projectedUnit = kUnitMetre;
  const double params[5] = {0.1, 1e-7, 12, 45.5, -3};
  std::memcpy(b.params, params, sizeof params);
  CoordSys cs = Make(8, b, DRect{-1000, -2000, 3000.5, 4000});
  EXPECT_EQ(Write(cs),
            "CoordSys Earth Projection 8, 104, \"m\", 0.1, 0.0000001, 12, 45.5, -3 "
            "Bounds (-1000, -2000) (3000.5, 4000)");
  EXPECT_EQ(Write(cs, false),
            "CoordSys Earth Projection 8, 104, \"m\", 0.1, 0.0000001, 12, 45.5, -3");
  // an affine: its head reads back
  b.flags = kParamsAffine;
  b.affineUnit = 1;
  const double affine[6] = {1, 0.5, 0, 0, 1, -250};
  std::memcpy(b.affine, affine, sizeof affine);
  ASSERT_TRUE(AffineTransformInvert(b.affine, b.affineInverse));
  cs = Make(8, b, DRect{0, 0, 1, 1});
  std::string text = Write(cs, false);
  EXPECT_EQ(text,
            "CoordSys Earth Projection 8, 104, \"m\", 0.1, 0.0000001, 12, 45.5, -3 "
            "Affine Units \"km\", 1, 0.5, 0, 0, 1, -250");
  CoordSys back;
  ASSERT_TRUE(CoordSysParseText(&back, text.c_str(), false));
  EXPECT_TRUE(CoordSysMatch(&cs, &back, false));
  // an unmatched datum always takes the nine-value form
  CoordSysParams custom;
  CoordSysParamsDefault(&custom);
  custom.datum = PXDatum{};
  custom.datum.ellipsoid = 0;
  custom.datum.dx = -8.5;
  custom.datum.dy = 160;
  custom.datum.dz = 176;
  cs = Make(1, custom, DRect{-180, -90, 180, 90});
  text = Write(cs);
  EXPECT_EQ(text, "CoordSys Earth Projection 1, 9999, 0, -8.5, 160, 176, 0, 0, 0, 0, 0 "
                  "Bounds (-180, -90) (180, 90)");
  ASSERT_TRUE(CoordSysParseText(&back, text.c_str(), true));
  EXPECT_TRUE(CoordSysMatch(&cs, &back, false));
}

TEST_F(ClauseTest, LongitudeLatitudeBoundsLeftOutExactlyForTheWholeWorld) {
  CoordSysParams b;
  CoordSysParamsDefault(&b);
  const struct {
    DRect bounds;
    bool written;
  } cases[] = {
      {{-360, -90, 360, 90}, false},
      {{-1000, -1000, 1000, 1000}, false},  // the integer range is clamped to the world
      {{-180, -90, 180, 90}, true},
      {{-360, -90, 360, 89}, true},
  };
  for (const auto& c : cases) {
    CoordSys cs = Make(1, b, c.bounds);
    std::string text = Write(cs);
    EXPECT_EQ(text.find("Bounds") != std::string::npos, c.written) << text;
  }
  // x runs left under quadrant code 2: the corner at 0 comes back as -0.0
  EXPECT_EQ(Write(Make(1, b, DRect{0, 0, 1, 1})),
            "CoordSys Earth Projection 1, 0 Bounds (0, 0) (1, 1)");
}

TEST_F(ClauseTest, WriterStopsAtTheSize) {
  CoordSysParams b;
  CoordSysParamsDefault(&b);
  CoordSys cs = Make(1, b, DRect{-10, -10, 10, 10});
  char text[40];
  std::memset(text, 'x', sizeof text);
  EXPECT_FALSE(CoordSysWriteClause(&cs, text, 20, true));
  EXPECT_EQ(std::strlen(text), 19u);
  EXPECT_EQ(text[20], 'x');
  EXPECT_TRUE(CoordSysWriteClause(&cs, text, 31, false));  // "CoordSys Earth Projection 1, 0"
  EXPECT_FALSE(CoordSysWriteClause(&cs, text, 30, false));
}

// Writes the clause of a system, reads it back and compares the two records
// with the match rules (the bounds pass through text with 12 digits).
void RoundTrip(const CoordSys& cs, bool withBounds) {
  char text[400];
  ASSERT_TRUE(CoordSysWriteClause(&cs, text, sizeof text, withBounds));
  CoordSys back;
  ASSERT_TRUE(CoordSysParseText(&back, text, withBounds)) << text;
  EXPECT_TRUE(CoordSysMatch(&cs, &back, false)) << text;
  EXPECT_TRUE(CoordSysMatch(&back, &cs, false)) << text;
  EXPECT_EQ(std::memcmp(&cs.params.datum, &back.params.datum, sizeof cs.params.datum), 0) << text;
}

TEST_F(ClauseTest, RoundTripOverEveryDatum) {
  int count = 0;
  for (int d = 0; d < 2000; ++d) {
    if (!DatumNumberValid(d) || d == 999) continue;
    ++count;
    CoordSysParams b;
    CoordSysParamsDefault(&b);
    b.datum = Datum(d);
    RoundTrip(Make(1, b, DRect{-180, -90, 180, 90}), true);
  }
  EXPECT_EQ(count, 155 + 20);
}

TEST_F(ClauseTest, RoundTripOverEveryProjection) {
  for (int p = 0; p <= 31; ++p) {
    SCOPED_TRACE(p);
    CoordSysParams b;
    if (p == 0) {
      CoordSysParamsClear(&b);
      b.nonEarth = NonEarthHead{1, 1, 0, kUnitMetre, 1, {}};
    } else {
      CoordSysParamsDefault(&b);
      if (p > 1) {
        b.datum = Datum(104);
        b.projectedUnit = kUnitMetre;
        b.lonLatQuadrant = 0;
      }
    }
    CoordSys cs = Make(p, b, DRect{-1000, -1000, 1000, 1000});
    RoundTrip(cs, true);
    RoundTrip(cs, false);
    // with an affine and supportmz (the writer leaves the word out, the match ignores it)
    b.flags = kParamsAffine;
    b.affineUnit = 3;
    const double affine[6] = {0.5, -0.25, 100, 0.25, 0.5, -100};
    std::memcpy(b.affine, affine, sizeof affine);
    ASSERT_TRUE(AffineTransformInvert(b.affine, b.affineInverse));
    b.word246 = 1;
    RoundTrip(Make(p, b, DRect{-1000, -1000, 1000, 1000}), true);
  }
  CoordSysParams layout;
  CoordSysParamsClear(&layout);
  layout.nonEarth = NonEarthHead{1, 1, 0, 2, 4, {}};
  RoundTrip(Make(0, layout, DRect{0, 0, 10, 10}), true);
}

}  // namespace
}  // namespace layerio
