// The object statement writer: one statement per kind, exactly as written,
// with the coordinate forms, the variable phrase, the text escapes and
// pieces, converted and rounded coordinates and mirrored arcs.
#include "mapfile/objects/statement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/file_fixture.h"

namespace layerio {
namespace {

constexpr uint32_t kRed = 0xFF0000;

class StatementTest : public mapfiletest::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    ASSERT_TRUE(GeomScratchInit());
  }
  void TearDown() override {
    for (MemHandle h : heap_) GeomObjectDestroy(h);
    GeomScratchShutdown();
    FileLayerTest::TearDown();
  }

  GeomObject* New(int kind) {
    MemHandle h;
    GeomObject* o;
    EXPECT_TRUE(GeomObjectAlloc(&h, &o, kind, 0));
    heap_.push_back(h);
    o->pen = PenStyle{2, 2, 0, kRed};
    return o;
  }

  GeomObject* Poly(int kind, const std::vector<std::vector<IPoint>>& parts) {
    GeomObject* o = New(kind);
    std::vector<int32_t> counts;
    std::vector<IPoint> points;
    for (const auto& part : parts) {
      counts.push_back(int32_t(part.size()));
      points.insert(points.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(GeomPartsSetAll(o, uint32_t(parts.size()), counts.data(), points.data(), nullptr,
                                nullptr));
    return o;
  }

  static SymbolStyle Symbol() {
    SymbolStyle s;
    std::memset(&s, 0, sizeof s);
    s.kind = kSymbolSimple;
    s.shape = 35;
    s.colour = 255;
    s.size = 12;
    return s;
  }

  // The statement as the file holds it (line ends of charset 1 are "\n").
  std::string Write(const GeomObject* o, const ObjWriteTransform* xf, const char* variable,
                    int parenthesised, int* result = nullptr) {
    std::string name = "s" + std::to_string(++files_) + ".txt";
    FileHandle h = Add(name);
    FileSetCharset(h, 1);
    EXPECT_EQ(FileOpenText(h, kFileModeCreate, nullptr), h);
    int r = ObjWriteByKind(h, o, xf, variable, parenthesised);
    if (result) *result = r;
    EXPECT_EQ(FileClose(h), 0);
    return Contents(name);
  }

  std::vector<MemHandle> heap_;
  int files_ = 0;
};

// The ellipse-like kinds share a shape: bounds (0,0)-(10,20).
GeomObject* Boxed(GeomObject* o) {
  o->bounds = IRect{0, 0, 10, 20};
  return o;
}

TEST_F(StatementTest, OneGoldenStatementPerKind) {
  const std::string pen = "    Pen (2,2,16711680) \n";
  const std::string brush = "    Brush (2,16777215,16777215)\n";
  const std::string symbol = "    Symbol (35,255,12) \n";
  struct Case {
    const char* name;
    std::function<GeomObject*()> make;
    const char* variable;
    int parenthesised;
    std::string expected;
  };
  std::vector<Case> cases = {
      {"point",
       [&] {
         GeomObject* o = New(kGeomPoint);
         o->u.point.position = IPoint{10, -20};
         o->u.point.symbol = Symbol();
         return o;
       },
       nullptr, 0, "Point 10 -20\n" + symbol},
      {"point into a variable, parenthesised",
       [&] {
         GeomObject* o = New(kGeomPoint);
         o->u.point.position = IPoint{10, -20};
         o->u.point.symbol = Symbol();
         return o;
       },
       "p", 1, "Point Into Variable p (10,-20)\n" + symbol},
      {"line",
       [&] {
         GeomObject* o = New(kGeomLine);
         o->u.line = GeomLineFields{0, 0, 100, 50};
         return o;
       },
       nullptr, 0, "Line 0 0 100 50\n" + pen},
      {"arc",
       [&] {
         GeomObject* o = New(kGeomArc);
         o->u.arc.ellipse = IRect{0, 0, 200, 100};
         o->u.arc.startAngle = 0;
         o->u.arc.endAngle = 905;
         return o;
       },
       nullptr, 1, "Arc (0,0) (200,100) 0 90.5\n" + pen},
      {"polyline of one part, smooth",
       [&] {
         GeomObject* o = Poly(kGeomPolyline, {{{0, 0}, {10, 0}, {10, 10}}});
         o->u.poly.smooth = 1;
         return o;
       },
       nullptr, 0, "Pline 3\n0 0\n10 0\n10 10\n" + pen + "    Smooth\n"},
      {"polyline of two parts",
       [&] { return Poly(kGeomPolyline, {{{0, 0}, {1, 1}}, {{5, 5}, {6, 6}}}); }, "v", 1,
       "Pline Into Variable v Multiple 2\n  2\n(0,0)\n(1,1)\n  2\n(5,5)\n(6,6)\n" + pen},
      {"region of two rings",
       [&] {
         GeomObject* o =
             Poly(kGeomRegion, {{{0, 0}, {10, 0}, {0, 10}}, {{20, 20}, {30, 20}, {20, 30}}});
         o->u.poly.centroid = IPoint{3, 4};
         return o;
       },
       nullptr, 0,
       "Region 2\n  4\n0 0\n10 0\n0 10\n0 0\n  4\n20 20\n30 20\n20 30\n20 20\n" + pen + brush +
           "    Center 3 4\n"},
      {"region with a transparent brush",
       [&] {
         GeomObject* o = Poly(kGeomRegion, {{{0, 0}, {10, 0}, {0, 10}}});
         o->brush = BrushStyle{5, 0x12345678, 0xFF, 1};
         o->u.poly.centroid = IPoint{3, 3};
         return o;
       },
       "r", 1,
       "Region Into Variable r 1\n  4\n(0,0)\n(10,0)\n(0,10)\n(0,0)\n" + pen +
           "    Brush (5,3430008)\n    Center (3,3)\n"},
      {"text",
       [&] {
         GeomObject* o = New(kGeomText);
         EXPECT_TRUE(GeomTextSet(o, "Say \"hi\"\r\nback\\slash\nend"));
         FontStyle& f = o->u.text.font;
         std::memset(&f, 0, sizeof f);
         std::strcpy(f.name, "Arial");
         f.style = 1;
         f.size = 10;
         f.foreground = 255;
         o->u.text.frame = IRect{0, 0, 100, 20};
         o->u.text.angle = 450;
         o->u.text.lineEnd = IPoint{50, 60};
         o->u.text.flags = (1u << kTextJustifyShift) | (1u << kTextSpacingShift) |
                           (1u << kTextLabelShift);
         return o;
       },
       nullptr, 0,
       "Text\n    \"Say \"\"hi\"\"\\nback\\\\slash\\nend\"\n    0 0 100 20\n"
       "    Font (\"Arial\",1,10,255)\n    Angle 45\n    Justify Center\n"
       "    Spacing 1.5    Label Line Simple 50 60\n"},
      {"plain text into a variable",
       [&] {
         GeomObject* o = New(kGeomText);
         EXPECT_TRUE(GeomTextSet(o, "x"));
         std::memset(&o->u.text.font, 0, sizeof o->u.text.font);
         o->u.text.frame = IRect{1, 2, 3, 4};
         o->u.text.flags = (2u << kTextJustifyShift) | (2u << kTextSpacingShift) |
                           (2u << kTextLabelShift);
         return o;
       },
       "t", 1,
       "Text Into Variable t \n    \"x\"\n    (1,2) (3,4)\n    Font (\"\",0,0,0)\n"
       "    Justify Right\n    Spacing 2    Label Line Arrow (0,0)\n"},
      {"rectangle", [&] { return Boxed(New(kGeomRect)); }, nullptr, 0,
       "Rect 0 0 10 20\n" + pen + brush},
      {"rounded rectangle",
       [&] {
         GeomObject* o = Boxed(New(kGeomRoundRect));
         o->u.roundRect.corner = -5;
         return o;
       },
       nullptr, 0, "Roundrect 0 0 10 20 5\n" + pen + brush},
      {"ellipse", [&] { return Boxed(New(kGeomEllipse)); }, "e", 1,
       "Ellipse Into Variable e (0,0) (10,20)\n" + pen + brush},
      {"frame",
       [&] {
         GeomObject* o = Boxed(New(kGeomFrame));
         o->u.frame.fill = 1;
         return o;
       },
       nullptr, 0, "Frame 0 0 10 20\n" + pen + brush + "    Title \"\"\n    FillFrame On\n"},
      {"multipoint into a variable",
       [&] {
         GeomObject* o = New(kGeomMultipoint);
         IPoint points[2] = {{1, 2}, {3, 4}};
         EXPECT_TRUE(GeomMultipointAddPoints(o, 2, points, nullptr, nullptr));
         o->u.multipoint.symbol = Symbol();
         return o;
       },
       "m", 0, "Multipoint 2\nInto Variable m 1 2\n3 4\n" + symbol},
      {"collection of three parts",
       [&] {
         GeomObject* o = New(kGeomCollection);
         GeomObject* region = Poly(kGeomRegion, {{{0, 0}, {10, 0}, {0, 10}}});
         GeomObject* line = Poly(kGeomPolyline, {{{0, 0}, {5, 5}}});
         GeomObject* points = New(kGeomMultipoint);
         IPoint p{7, 8};
         EXPECT_TRUE(GeomMultipointAddPoints(points, 1, &p, nullptr, nullptr));
         EXPECT_TRUE(GeomCollectionAddObject(o, region, 1));
         EXPECT_TRUE(GeomCollectionAddObject(o, line, 1));
         EXPECT_TRUE(GeomCollectionAddObject(o, points, 1));
         o->u.collection.region->pen = PenStyle{2, 2, 0, kRed};
         o->u.collection.region->brush = StyleDefaults()->brush;
         o->u.collection.region->u.poly.centroid = IPoint{3, 3};
         o->u.collection.polyline->pen = PenStyle{2, 2, 0, kRed};
         o->u.collection.multipoint->u.multipoint.symbol = Symbol();
         return o;
       },
       "c", 0,
       "Collection 3\nInto Variable c Region 1\n  4\n0 0\n10 0\n0 10\n0 0\n" + pen + brush +
           "    Center 3 3\nPline 2\n0 0\n5 5\n" + pen + "Multipoint 1\n7 8\n" + symbol},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GeomObject* o = c.make();
    int result = -1;
    EXPECT_EQ(Write(o, nullptr, c.variable, c.parenthesised, &result), c.expected);
    EXPECT_EQ(result, 1);
  }
}

TEST_F(StatementTest, KindsWithoutStatementWriteNothing) {
  for (int kind : {kGeomNone, kGeomItems12, kGeomItems24}) {
    SCOPED_TRACE(kind);
    GeomObject o;
    GeomObjectInit(&o, kind);
    int result = -1;
    EXPECT_EQ(Write(&o, nullptr, "v", 0, &result), "");
    EXPECT_EQ(result, 0);
  }
}

TEST_F(StatementTest, AFailedWriteAnswersZero) {
  GeomObject* o = Boxed(New(kGeomRect));
  EXPECT_EQ(ObjWriteByKind(kFileHandleBase + 900, o, nullptr, nullptr, 0), 0);
  // A handle open for reading refuses the writes too.
  dir_.Write("r.txt", "");
  FileHandle h = Add("r.txt");
  ASSERT_EQ(FileOpenText(h, kFileModeRead, nullptr), h);
  EXPECT_EQ(ObjWriteByKind(h, o, nullptr, nullptr, 0), 0);
  EXPECT_EQ(FileClose(h), 0);
}

TEST_F(StatementTest, LongTextsAreWrittenInPiecesThatNeverSplitAnEscape) {
  GeomObject* o = New(kGeomText);
  std::memset(&o->u.text.font, 0, sizeof o->u.text.font);
  // 253 letters and a quote: the doubled quote would make 255 characters.
  std::string text(253, 'a');
  text += "\"";
  text += std::string(300, 'b');
  ASSERT_TRUE(GeomTextSet(o, text.c_str()));
  std::string expected = "Text\n    \"" + std::string(253, 'a') + "\"+\n    \"\"\"" +
                         std::string(252, 'b') + "\"+\n    \"" + std::string(48, 'b') +
                         "\"\n    0 0 0 0\n    Font (\"\",0,0,0)\n\n";
  EXPECT_EQ(Write(o, nullptr, nullptr, 0), expected);

  // Exactly one piece's worth stays one quoted string; an empty text is "".
  ASSERT_TRUE(GeomTextSet(o, std::string(254, 'c').c_str()));
  EXPECT_EQ(Write(o, nullptr, nullptr, 0),
            "Text\n    \"" + std::string(254, 'c') + "\"\n    0 0 0 0\n    Font (\"\",0,0,0)\n\n");
  ASSERT_TRUE(GeomTextSet(o, ""));
  EXPECT_EQ(Write(o, nullptr, nullptr, 0),
            "Text\n    \"\"\n    0 0 0 0\n    Font (\"\",0,0,0)\n\n");
}

TEST(CoordRoundSignificantTest, RoundsToDigitsWithinTheMostDecimals) {
  struct Case {
    double value;
    int digits, decimals;
    double expected;
  } cases[] = {
      {0.0, 3, 2, 0.0},
      {NAN, 3, 2, 0.0},
      {6.23456789, 3, 2, 6.23},
      {6.23456789, 5, 2, 6.23},      // the decimals bound
      {1234.5678, 3, 2, 1230.0},     // fewer digits than the integer part
      {-1234.5678, 6, 8, -1234.57},
      {0.000123456, 3, 8, 0.000123},
      {0.000123456, 3, 4, 0.0001},
      {99.96, 3, 5, 100.0},          // rounding up carries into a new digit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_NEAR(CoordRoundSignificant(c.value, c.digits, c.decimals), c.expected, 1e-12);
  }
  double tiny = CoordRoundSignificant(-0.00004, 3, 2);
  EXPECT_EQ(tiny, 0.0);
  EXPECT_FALSE(std::signbit(tiny));  // never written as -0
}

void NonEarth(CoordSys* cs, int quadrant, double x1, double y1, double x2, double y2) {
  CoordSysParams block;
  std::memset(&block, 0, sizeof block);
  block.nonEarth.one = 1;
  block.nonEarth.quadrant = uint8_t(quadrant);
  block.nonEarth.unit = uint16_t(kUnitMetre);
  block.nonEarth.quadrant2 = 1;
  CoordSysInit(cs, 0, &block);
  CoordSysSetBounds(cs, x1, y1, x2, y2);
}

TEST_F(StatementTest, CoordinatesAreInTheSystemsUnitsRoundedToThePrecision) {
  CoordSys cs;
  NonEarth(&cs, 1, 0, 0, 10, 10);
  IPoint in[2] = {{0, 0}, {123456789, -987654321}};
  DPoint units[2];
  CoordIntToUnits(in, units, &cs, 2);

  GeomObject* line = New(kGeomLine);
  line->u.line = GeomLineFields{in[0].x, in[0].y, in[1].x, in[1].y};
  ObjWriteTransform raw{&cs, 0, 0};
  char expected[200];
  std::snprintf(expected, sizeof expected, "Line %.10g %.10g %.10g %.10g\n", units[0].x,
                units[0].y, units[1].x, units[1].y);
  EXPECT_EQ(Write(line, &raw, nullptr, 0), std::string(expected) + "    Pen (2,2,16711680) \n");

  ObjWriteTransform rounded{&cs, 3, 2};
  std::snprintf(expected, sizeof expected, "Line (%.10g,%.10g) (%.10g,%.10g)\n",
                CoordRoundSignificant(units[0].x, 3, 2), CoordRoundSignificant(units[0].y, 3, 2),
                CoordRoundSignificant(units[1].x, 3, 2), CoordRoundSignificant(units[1].y, 3, 2));
  std::string text = Write(line, &rounded, nullptr, 1);
  EXPECT_EQ(text, std::string(expected) + "    Pen (2,2,16711680) \n");
  // Three significant digits, and no more than two decimals near zero.
  EXPECT_EQ(text, "Line (5,5) (5.62,0.06)\n    Pen (2,2,16711680) \n");

  // The corner of a rounded rectangle is a distance: unrounded, positive.
  GeomObject* round = New(kGeomRoundRect);
  round->bounds = IRect{0, 0, 200000000, 100000000};
  round->u.roundRect.corner = -50000000;
  DPoint from, to;
  IPoint a{0, 0}, b{50000000, 0};
  CoordIntToUnits(&a, &from, &cs, 1);
  CoordIntToUnits(&b, &to, &cs, 1);
  std::snprintf(expected, sizeof expected, " %.10g\n", std::fabs(to.x - from.x));
  std::string statement = Write(round, &rounded, nullptr, 0);
  EXPECT_NE(statement.find(expected), std::string::npos) << statement;
}

TEST_F(StatementTest, AnArcInASystemThatMirrorsAnAxisTurnsItsAngles) {
  CoordSys cs;
  NonEarth(&cs, 2, 0, 0, 10, 10);  // x grows to the left
  IPoint corners[2] = {{0, 0}, {200, 100}};
  DPoint units[2];
  CoordIntToUnits(corners, units, &cs, 2);
  ASSERT_GT(units[0].x, units[1].x);
  ASSERT_LT(units[0].y, units[1].y);

  GeomObject* arc = New(kGeomArc);
  arc->u.arc.ellipse = IRect{0, 0, 200, 100};
  arc->u.arc.startAngle = 0;
  arc->u.arc.endAngle = 900;
  ObjWriteTransform xf{&cs, 0, 0};
  char expected[200];
  // Mirrored in x: 0..90 becomes 90..180.
  std::snprintf(expected, sizeof expected, "Arc %.10g %.10g %.10g %.10g 90 180\n", units[0].x,
                units[0].y, units[1].x, units[1].y);
  EXPECT_EQ(Write(arc, &xf, nullptr, 0), std::string(expected) + "    Pen (2,2,16711680) \n");
}

}  // namespace
}  // namespace layerio
