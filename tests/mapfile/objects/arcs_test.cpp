#include "mapfile/objects/arcs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "tests/mapfile/foundation/foundation_fixture.h"

namespace layerio {
namespace {

constexpr double kPi = 3.14159265358979323846;

class ArcsTest : public mapfiletest::FoundationTest {};

std::string RectText(const IRect& r) {
  return "(" + std::to_string(r.x1) + "," + std::to_string(r.y1) + "," + std::to_string(r.x2) +
         "," + std::to_string(r.y2) + ")";
}

GeomObject Arc(const IRect& ellipse, int16_t start, int16_t end) {
  GeomObject o;
  GeomObjectInit(&o, kGeomArc);
  o.u.arc.ellipse = ellipse;
  o.u.arc.startAngle = start;
  o.u.arc.endAngle = end;
  return o;
}

// ----- arc bounds -----

// The ellipse of these cases: centre (1000, 500), half axes 1000 and 500.
constexpr IRect kEllipse{0, 0, 2000, 1000};

struct ArcCase {
  const char* name;
  int16_t start, end;
  IRect bounds;
};

TEST_F(ArcsTest, ArcBoundsThroughEachQuadrant) {
  // cos 45 x 1000 = 707.1, sin 45 x 500 = 353.6; cos 10 x 1000 = 984.8,
  // sin 10 x 500 = 86.8; cos 80 x 1000 = 173.6, sin 80 x 500 = 492.4.
  const ArcCase cases[] = {
      {"top: 45 to 135", 450, 1350, {293, 854, 1707, 1000}},
      {"inside quadrant 0", 100, 800, {1174, 587, 1985, 992}},
      {"quarter 0 to 90", 0, 900, {1000, 500, 2000, 1000}},
      {"left: 135 to 225", 1350, 2250, {0, 146, 293, 854}},
      {"bottom: 225 to 315", 2250, 3150, {293, 0, 1707, 146}},
      {"right, over 0: 315 to 45", 3150, 450, {1707, 146, 2000, 854}},
      {"top, left and bottom: 45 to 315", 450, 3150, {0, 0, 1707, 1000}},
      {"bottom and right: 180 to 45", 1800, 450, {0, 0, 2000, 854}},
      {"negative start: -90 to 90", -900, 900, {1000, 0, 2000, 1000}},
      {"almost round, one quadrant: 10 to 5", 100, 50, {0, 0, 2000, 1000}},
      {"start equals end", 1200, 1200, {0, 0, 2000, 1000}},
      {"short, one quadrant: 10 to 15", 100, 150, {1966, 587, 1985, 629}},
  };
  for (const ArcCase& c : cases) {
    GeomObject o = Arc(kEllipse, c.start, c.end);
    ASSERT_EQ(ArcBounds(&o), 1) << c.name;
    EXPECT_EQ(RectText(o.bounds), RectText(c.bounds)) << c.name;
  }
}

// The bounds of densely sampled points of the arc, to within the rounding of
// the end points.
TEST_F(ArcsTest, ArcBoundsMatchSampledArcs) {
  const IRect ellipse{-300000, 100000, 500000, 400000};
  double cx = 100000, cy = 250000, rx = 400000, ry = 150000;
  for (int start = 0; start < 3600; start += 75) {
    for (int end = 0; end < 3600; end += 110) {
      GeomObject o = Arc(ellipse, int16_t(start), int16_t(end));
      ASSERT_EQ(ArcBounds(&o), 1);
      double sweep = end > start ? end - start : end - start + 3600;
      double x1 = 1e18, y1 = 1e18, x2 = -1e18, y2 = -1e18;
      for (int k = 0; k <= 4000; ++k) {
        double a = (start + sweep * k / 4000) / 1800.0 * kPi;
        double x = cx + rx * std::cos(a), y = cy + ry * std::sin(a);
        x1 = std::min(x1, x), y1 = std::min(y1, y), x2 = std::max(x2, x), y2 = std::max(y2, y);
      }
      std::string name = std::to_string(start) + " to " + std::to_string(end);
      EXPECT_NEAR(o.bounds.x1, x1, 1.0) << name;
      EXPECT_NEAR(o.bounds.y1, y1, 1.0) << name;
      EXPECT_NEAR(o.bounds.x2, x2, 1.0) << name;
      EXPECT_NEAR(o.bounds.y2, y2, 1.0) << name;
    }
  }
}

TEST_F(ArcsTest, ArcEndPointsRoundHalfAxesOfOddRectangles) {
  // Half axes 1.5 and 2.5: the end points round away from the integer centre.
  IPoint p, q;
  IPoint c;
  IRect r{0, 0, 3, 5};
  IRectCenter(&r, &c);
  ArcEndPoints(&r, 0, 2700, &p, &q);
  EXPECT_EQ(p.x, c.x + 2);
  EXPECT_EQ(p.y, c.y);
  EXPECT_EQ(q.x, c.x);
  EXPECT_EQ(q.y, c.y - 3);
}

TEST_F(ArcsTest, ArcBoundsLeavesOtherKinds) {
  GeomObject o;
  GeomObjectInit(&o, kGeomEllipse);
  o.bounds = IRect{1, 2, 3, 4};
  EXPECT_EQ(ArcBounds(&o), 0);
  EXPECT_EQ(RectText(o.bounds), "(1,2,3,4)");
}

// ----- mirrored angles -----

struct MirrorCase {
  int16_t start, end;
  int mirrorX, mirrorY;
  int16_t wantStart, wantEnd;
};

TEST_F(ArcsTest, ArcAnglesMirror) {
  const MirrorCase cases[] = {
      {0, 900, 1, 0, 900, 1800},     // the reversed arc of the mirror image
      {0, 900, 0, 1, 2700, 3600},    // end above the start, past a full turn
      {0, 900, 1, 1, 1800, 2700},    // a half turn: direction kept
      {100, 50, 0, 0, 100, 3650},    // nothing mirrored: the end is put past the start
      {450, 1350, 1, 0, 450, 1350},  // symmetric about the y axis
      {3000, 600, 0, 1, 3000, 4200},
      {2700, 900, 1, 0, 900, 2700},
  };
  for (const MirrorCase& c : cases) {
    int16_t s = c.start, e = c.end;
    ArcAnglesMirror(&s, &e, c.mirrorX, c.mirrorY);
    EXPECT_EQ(s, c.wantStart) << c.start << " " << c.end << " " << c.mirrorX << c.mirrorY;
    EXPECT_EQ(e, c.wantEnd) << c.start << " " << c.end << " " << c.mirrorX << c.mirrorY;
  }
}

// The mirrored angles on the same ellipse draw the mirror image of the arc,
// so its bounds are the mirrored bounds.
TEST_F(ArcsTest, MirroredAnglesGiveMirroredBounds) {
  const IRect ellipse{-1000, -600, 1000, 600};
  for (int start = 0; start < 3600; start += 150) {
    for (int end = 50; end < 3600; end += 250) {
      GeomObject o = Arc(ellipse, int16_t(start), int16_t(end));
      ArcBounds(&o);
      for (int m = 1; m <= 3; ++m) {
        int mx = m & 1, my = (m >> 1) & 1;
        GeomObject mirrored = o;
        ArcAnglesMirror(&mirrored.u.arc.startAngle, &mirrored.u.arc.endAngle, mx, my);
        ArcBounds(&mirrored);
        IRect want = o.bounds;
        if (mx) want.x1 = -o.bounds.x2, want.x2 = -o.bounds.x1;
        if (my) want.y1 = -o.bounds.y2, want.y2 = -o.bounds.y1;
        EXPECT_EQ(RectText(mirrored.bounds), RectText(want))
            << start << " to " << end << " mirror " << mx << my;
      }
    }
  }
}

// ----- rotated rectangles -----

struct RotateCase {
  int16_t angle;
  double x1, y1, x2, y2;
};

TEST_F(ArcsTest, DRectRotateTurnsAboutTheFirstCornerOnADisplay) {
  // The rectangle 100 wide and 50 high, y downward: a turn of 90 puts the
  // width upward (negative y) and the height to the right.
  const double r = std::sqrt(0.5);
  const double s = std::sin(0.1 / 180 * kPi), c = std::cos(0.1 / 180 * kPi);
  const RotateCase cases[] = {
      {0, 0, 0, 100, 50},
      {900, 0, -100, 50, 0},
      {1350, -100 * r, -150 * r, 50 * r, 0},
      {3599, -50 * s, 0, 100 * c, 100 * s + 50 * c},
      {1800, -100, -50, 0, 0},
      {-900, -50, 0, 0, 100},
  };
  for (const RotateCase& k : cases) {
    DRect d;
    DRectSet(&d, 0, 0, 100, 50);
    DRectRotate(&d, k.angle);
    EXPECT_NEAR(d.x1, k.x1, 1e-9) << k.angle;
    EXPECT_NEAR(d.y1, k.y1, 1e-9) << k.angle;
    EXPECT_NEAR(d.x2, k.x2, 1e-9) << k.angle;
    EXPECT_NEAR(d.y2, k.y2, 1e-9) << k.angle;
  }
  DPoint corners[4];
  DRect d;
  DRectSet(&d, 10, 20, 110, 70);
  DRectRotatedCorners(&d, 900, corners);
  const double want[4][2] = {{10, 20}, {10, -80}, {60, -80}, {60, 20}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(corners[i].x, want[i][0], 1e-9) << i;
    EXPECT_NEAR(corners[i].y, want[i][1], 1e-9) << i;
  }
}

// ----- text frames -----

void NonEarth(CoordSys* cs, double x1, double y1, double x2, double y2) {
  CoordSysParams block;
  std::memset(&block, 0, sizeof block);
  block.nonEarth.one = 1;
  block.nonEarth.quadrant = 1;
  block.nonEarth.unit = kUnitMetre;
  block.nonEarth.quadrant2 = 1;
  CoordSysInit(cs, 0, &block);
  CoordSysSetBounds(cs, x1, y1, x2, y2);
}

// The box turned counter-clockwise on the map about its top-left corner, as
// a text turns about the start of its first line.
IRect TurnedOnMap(const IRect& box, int16_t angle) {
  double t = angle / 1800.0 * kPi;
  double w = double(box.x2) - box.x1, h = double(box.y2) - box.y1;
  double px = box.x1, py = box.y2;
  double wx = w * std::cos(t), wy = w * std::sin(t);    // along the width
  double hx = h * std::sin(t), hy = -h * std::cos(t);   // down the height
  double xs[4] = {px, px + wx, px + wx + hx, px + hx};
  double ys[4] = {py, py + wy, py + wy + hy, py + hy};
  return IRect{int32_t(std::lround(*std::min_element(xs, xs + 4))),
               int32_t(std::lround(*std::min_element(ys, ys + 4))),
               int32_t(std::lround(*std::max_element(xs, xs + 4))),
               int32_t(std::lround(*std::max_element(ys, ys + 4)))};
}

void ExpectNearRect(const IRect& got, const IRect& want, int tolerance, const std::string& name) {
  EXPECT_NEAR(got.x1, want.x1, tolerance) << name << " got " << RectText(got);
  EXPECT_NEAR(got.y1, want.y1, tolerance) << name << " got " << RectText(got);
  EXPECT_NEAR(got.x2, want.x2, tolerance) << name << " got " << RectText(got);
  EXPECT_NEAR(got.y2, want.y2, tolerance) << name << " got " << RectText(got);
}

TEST_F(ArcsTest, TextRectRotateOnAPlane) {
  CoordSys cs;
  NonEarth(&cs, -1000, -1000, 1000, 1000);
  const IRect boxes[] = {{0, 0, 100000, 50000}, {-3000000, 2000000, -2970000, 2090000}};
  for (const IRect& box : boxes) {
    for (int16_t angle : {0, 900, 1350, 3599, 450, 1800, 2000, 2700, 3000, -900}) {
      IRect r = box;
      TextRectRotate(&r, angle, &cs);
      ExpectNearRect(r, TurnedOnMap(box, angle), 2,
                     RectText(box) + " at " + std::to_string(angle));
    }
  }
}

// In longitude and latitude the turn is made on the ground: at latitude 60
// a degree of longitude is half as long as one of latitude, so a box of two
// degrees by one is square and turns as a square.
TEST_F(ArcsTest, TextRectRotateInLongitudeAndLatitudeTurnsOnTheGround) {
  CoordSysParams block;
  std::memset(&block, 0, sizeof block);
  block.datum.ellipsoid = kEllipsoidNone;
  block.lonLatQuadrant = 2;
  CoordSys cs;
  CoordSysInit(&cs, 1, &block);
  CoordSysSetBounds(&cs, -180, -90, 180, 90);
  DRect box;
  DRectSet(&box, 10, 59.5, 12, 60.5);
  IRect r;
  CoordUnitsRectToInt(&box, &r, &cs);
  IRectNormalize(&r);
  const double k = 0.5;  // cos 60
  for (int16_t angle : {900, 1350, 3599, 450}) {
    // Turn the box about its top-left corner in ground-true coordinates.
    double t = angle / 1800.0 * kPi;
    double w = 2 * k, h = 1;
    double px = 10 * k, py = 60.5;
    double xs[4] = {px, px + w * std::cos(t), px + w * std::cos(t) + h * std::sin(t),
                    px + h * std::sin(t)};
    double ys[4] = {py, py + w * std::sin(t), py + w * std::sin(t) - h * std::cos(t),
                    py - h * std::cos(t)};
    IRect q = r;
    TextRectRotate(&q, angle, &cs);
    DRect got;
    CoordIntRectToUnits(&q, &got, &cs);
    DRectNormalize(&got);
    std::string name = "angle " + std::to_string(angle);
    EXPECT_NEAR(got.x1, *std::min_element(xs, xs + 4) / k, 1e-3) << name;
    EXPECT_NEAR(got.x2, *std::max_element(xs, xs + 4) / k, 1e-3) << name;
    EXPECT_NEAR(got.y1, *std::min_element(ys, ys + 4), 1e-3) << name;
    EXPECT_NEAR(got.y2, *std::max_element(ys, ys + 4), 1e-3) << name;
  }
}

GeomObject Text(const IRect& frame, int32_t height, int16_t angle) {
  GeomObject o;
  GeomObjectInit(&o, kGeomText);
  o.u.text.frame = frame;
  o.u.text.height = height;
  o.u.text.angle = angle;
  o.bounds = frame;
  return o;
}

// A text whose frame holds the bounds of its turned box gives back the box.
// Just past a quarter turn the width is found from a sliver of the frame
// divided by the sine of the angle within the quarter, which magnifies the
// rounding of the frame to integers: the tolerance grows alike.
TEST_F(ArcsTest, TextBoundsRotatedFindsTheBoxOfATurnedText) {
  CoordSys cs;
  NonEarth(&cs, -1000, -1000, 1000, 1000);
  const IRect box{100000, 200000, 160000, 230000};  // one line of 30,000
  for (int16_t angle : {0, 900, 1350, 3599, 10, 450, 1800, 1810, 2250, 2700, 2710, 3300,
                        -900, -450, 4500}) {
    GeomObject o = Text(TurnedOnMap(box, angle), 30000, angle);
    IRect got;
    ASSERT_EQ(TextBoundsRotated(&o, &cs, &got), 1);
    int within = ((angle % 900) + 900) % 900;
    int tolerance = within == 0 ? 4 : 4 + int(1.5 / std::sin(within / 1800.0 * kPi));
    ExpectNearRect(got, box, tolerance, "angle " + std::to_string(angle));
  }
}

TEST_F(ArcsTest, UnturnedTextKeepsItsFrame) {
  CoordSys cs;
  NonEarth(&cs, -1000, -1000, 1000, 1000);
  GeomObject o = Text(IRect{-5, -7, 1234567, 89}, 96, 0);
  IRect got;
  ASSERT_EQ(TextBoundsRotated(&o, &cs, &got), 1);
  EXPECT_EQ(RectText(got), "(-5,-7,1234567,89)");
  IRect r{-5, -7, 1234567, 89};
  TextRectRotate(&r, 0, &cs);
  EXPECT_EQ(RectText(r), "(-5,-7,1234567,89)");

  GeomObject line;
  GeomObjectInit(&line, kGeomLine);
  EXPECT_EQ(TextBoundsRotated(&line, &cs, &got), 0);
  DRect d;
  TextWorkSpace space;
  TextWorkSpaceInit(&space, &cs, &o.u.text.frame);
  EXPECT_EQ(TextFrameUnrotate(&line, &space.xf, &d), 0);
}

// The working system maps the frame onto a 0..1000 plane, y downward.
TEST_F(ArcsTest, TextWorkSpaceIsADisplayOverTheFrame) {
  CoordSys cs;
  NonEarth(&cs, -1000, -1000, 1000, 1000);
  const IRect frame{0, 0, 100000, 50000};
  TextWorkSpace space;
  TextWorkSpaceInit(&space, &cs, &frame);
  DRect d;
  TextWorkRectIn(&space, &frame, &d);
  EXPECT_NEAR(d.x1, 0, 1e-6);
  EXPECT_NEAR(d.x2, 1000, 1e-6);
  EXPECT_NEAR(d.y1, 250, 1e-6);
  EXPECT_NEAR(d.y2, 750, 1e-6);
  IRect top{0, 40000, 10000, 50000};  // the top-left corner of the frame
  TextWorkRectIn(&space, &top, &d);
  EXPECT_NEAR(d.x1, 0, 1e-6);
  EXPECT_NEAR(d.y1, 250, 1e-6);
  IRect back;
  TextWorkRectOut(&space, &d, &back);
  EXPECT_EQ(RectText(back), RectText(top));
}

// ----- line ends -----

struct LineEndCase {
  const char* name;
  std::string statement;
  std::string stored;
};

TEST_F(ArcsTest, TextLineEndsConvert) {
  const LineEndCase cases[] = {
      {"one line end", std::string("a\\nb"), std::string("a\r\nb")},
      {"two in a row", std::string("\\n\\n"), std::string("\r\n\r\n")},
      {"at both ends", std::string("\\nx\\n"), std::string("\r\nx\r\n")},
      {"nothing to do", std::string("plain"), std::string("plain")},
      {"empty", std::string(), std::string()},
  };
  for (const LineEndCase& c : cases) {
    std::string out(c.stored.size(), '?');
    TextLineEndsConvert(out.data(), c.stored.data(), c.stored.size(), 0);
    EXPECT_EQ(out, c.statement) << c.name;
    std::string back(c.statement.size(), '?');
    TextLineEndsConvert(back.data(), c.statement.data(), c.statement.size(), 1);
    EXPECT_EQ(back, c.stored) << c.name;
  }
  // One way only: lone CR or LF, other escapes, a pair cut by the length.
  const struct {
    const char* name;
    std::string in;
    size_t length;
    int toStored;
    std::string want;
  } oneWay[] = {
      {"lone CR and LF stay", std::string("a\rb\nc\n\r"), 7, 0, std::string("a\rb\nc\n\r")},
      {"other escapes stay", std::string("\\t\\N\\"), 5, 1, std::string("\\t\\N\\")},
      {"pair cut by the length", std::string("ab\r\n"), 3, 0, std::string("ab\r")},
      {"escape cut by the length", std::string("ab\\n"), 3, 1, std::string("ab\\")},
  };
  for (const auto& c : oneWay) {
    std::string out(c.length, '?');
    TextLineEndsConvert(out.data(), c.in.data(), c.length, c.toStored);
    EXPECT_EQ(out, c.want) << c.name;
  }
  // In place.
  char text[] = "x\r\ny";
  TextLineEndsConvert(text, text, 4, 0);
  EXPECT_STREQ(text, "x\\ny");
}

TEST_F(ArcsTest, LineEndsKeepDoubleByteCharactersWhole) {
  CharsetSetSystem(19);  // Shift-JIS: 0x82 leads, and a trail byte may be '\'
  ASSERT_TRUE(DbcsMode());
  std::string s = "\x82\\n\\n";  // a character ending in '\', an 'n', then a line end
  std::string out(s.size(), '?');
  TextLineEndsConvert(out.data(), s.data(), s.size(), 1);
  EXPECT_EQ(out, std::string("\x82\\n\r\n"));
  char replace[] = "\x82\\\\a\\";
  MbsReplaceChar(replace, '\\', '/');
  EXPECT_STREQ(replace, "\x82\\/a/");
  CharsetSetSystem(kDefaultSystemCharset);
  std::string single(s.size(), '?');
  TextLineEndsConvert(single.data(), s.data(), s.size(), 1);
  EXPECT_EQ(single, std::string("\x82\r\n\r\n"));
}

TEST_F(ArcsTest, TextStripCRAndReplaceChar) {
  const struct {
    const char* in;
    const char* want;
  } cases[] = {
      {"a\r\nb", "a\nb"},
      {"\r\n\r\n", "\n\n"},
      {"a\rb\n\r", "a\rb\n\r"},
      {"\r\r\n", "\r\n"},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string buffer = c.in;
    size_t n = TextStripCR(buffer.data());
    EXPECT_EQ(n, std::strlen(c.want)) << c.in;
    EXPECT_STREQ(buffer.c_str(), c.want) << c.in;
  }
  char text[] = "a,b,,c";
  MbsReplaceChar(text, ',', ';');
  EXPECT_STREQ(text, "a;b;;c");
}

}  // namespace
}  // namespace layerio
