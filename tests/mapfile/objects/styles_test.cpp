#include "mapfile/objects/styles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/mapfile/objects/geom_fixture.h"
#include "mapfile/objects/geom.h"

namespace layerio {
namespace {

using Bytes = std::vector<int>;

Bytes PackPen(const PenStyle& pen) {
  uint8_t rec[kPenRecSize + 1];
  rec[kPenRecSize] = 0xEE;  // guard: nothing is written past the record
  PenRecPack(&pen, rec);
  EXPECT_EQ(rec[kPenRecSize], 0xEE);
  return Bytes(rec, rec + kPenRecSize);
}

PenStyle Pen(int width, uint32_t pattern = 2, uint32_t colour = 0) {
  PenStyle p{};
  p.width = int16_t(width);
  p.pattern = pattern;
  p.colour = colour;
  return p;
}

// ----- pen record -----------------------------------------------------------

TEST(PenRecord, WidthsByteByByteAndBack) {
  struct Case {
    int width;
    int byte0, byte2;
    int back;
  } cases[] = {
      {0, 0, 0, 0},
      {1, 1, 0, 1},
      {7, 7, 0, 7},
      {8, 7, 0, 7},  // pixel widths 8 and 9 would read back as points
      {9, 7, 0, 7},
      {-3, 0, 0, 0},
      {10, 1, 0, 1},  // zero points reads back as one pixel
      {11, 1, 1, 11},
      {265, 1, 255, 265},
      {266, 9, 0, 266},
      {300, 9, 34, 300},
      {516, 9, 250, 516},
      {10 + 2047, 15, 255, 10 + 2047},
      {10 + 2048, 1, 0, 1},  // bits above bit 10 are lost
      {10 + 2048 + 290, 9, 34, 300},
      {32767, 15, 0xF5, 10 + 0x7F5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Bytes rec = PackPen(Pen(c.width));
    EXPECT_EQ(rec[0], c.byte0);
    EXPECT_EQ(rec[2], c.byte2);
    uint8_t raw[kPenRecSize];
    for (size_t i = 0; i < kPenRecSize; ++i) raw[i] = uint8_t(rec[i]);
    PenStyle back;
    PenRecUnpack(raw, &back);
    EXPECT_EQ(back.width, c.back);
    EXPECT_EQ(PenRecIsPixelWidth(raw), PenWidthIsPixels(c.back));
    if (PenRecIsPixelWidth(raw)) {
      EXPECT_EQ(PenRecPixelWidth(raw), c.back);
    } else {
      EXPECT_EQ(PenRecPointWidth(raw), c.back);
    }
  }
}

TEST(PenRecord, EveryStorableWidthRoundTrips) {
  for (int width = 0; width <= 10 + 2047; ++width) {
    if (width == 8 || width == 9 || width == 10) continue;  // the cases above
    uint8_t rec[kPenRecSize];
    PenStyle pen = Pen(width);
    PenRecPack(&pen, rec);
    PenStyle back;
    PenRecUnpack(rec, &back);
    ASSERT_EQ(back.width, width);
  }
}

TEST(PenRecord, PatternAndColourBytes) {
  PenStyle pen = Pen(3, 0x1234, 0xFFA1B2C3);  // only the low bytes are kept
  pen.kept = 77;
  EXPECT_EQ(PackPen(pen), (Bytes{3, 0x34, 0, 0xA1, 0xB2, 0xC3}));
  uint8_t rec[kPenRecSize] = {2, 0xFF, 0, 1, 2, 3};
  PenStyle back = Pen(99, 99, 99);
  back.kept = 5;
  PenRecUnpack(rec, &back);
  EXPECT_EQ(back.width, 2);
  EXPECT_EQ(back.pattern, 0xFFu);
  EXPECT_EQ(back.kept, 0u);
  EXPECT_EQ(back.colour, 0x010203u);
  for (uint32_t pattern = 0; pattern < 256; ++pattern) {
    for (uint32_t colour : {0x000000u, 0xFFFFFFu, 0x800001u, 0x00FF00u}) {
      PenStyle p = Pen(12, pattern, colour);
      uint8_t r[kPenRecSize];
      PenRecPack(&p, r);
      PenStyle q;
      PenRecUnpack(r, &q);
      ASSERT_EQ(q.pattern, pattern);
      ASSERT_EQ(q.colour, colour);
    }
  }
}

// ----- brush, symbol and font records -----------------------------------------

TEST(BrushRecord, BytesAndRoundTrip) {
  BrushStyle brush{0x105, 0xFF112233, 0x01445566, 1};
  uint8_t rec[kBrushRecSize + 1];
  rec[kBrushRecSize] = 0xEE;
  BrushRecPack(&brush, rec);
  EXPECT_EQ(Bytes(rec, rec + kBrushRecSize + 1),
            (Bytes{0x05, 1, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xEE}));
  for (uint32_t pattern : {1u, 2u, 71u, 255u}) {
    for (uint8_t transparent : {0, 1}) {
      BrushStyle b{pattern, 0xABCDEF, 0x010203, transparent};
      BrushRecPack(&b, rec);
      BrushStyle back{};
      BrushRecUnpack(rec, &back);
      EXPECT_EQ(back.pattern, pattern);
      EXPECT_EQ(back.transparent, transparent);
      EXPECT_EQ(back.foreground, 0xABCDEFu);
      EXPECT_EQ(back.background, 0x010203u);
    }
  }
}

TEST(SymbolRecord, BytesRoundTripAndUntouchedFields) {
  SymbolStyle s{};
  s.shape = 0x1234;
  s.size = 0x0056;
  s.colour = 0xFF0A0B0C;
  uint8_t rec[kSymbolRecSize + 1];
  rec[kSymbolRecSize] = 0xEE;
  SymbolRecPack(&s, rec);
  EXPECT_EQ(Bytes(rec, rec + kSymbolRecSize + 1),
            (Bytes{0x34, 0x12, 0x56, 0x00, 0, 0x0A, 0x0B, 0x0C, 0xEE}));

  for (int shape : {0, 32, 67, 32767, -1, -32768}) {
    for (int size : {1, 9, 240, 32767}) {
      SymbolStyle in{};
      in.shape = int16_t(shape);
      in.size = int16_t(size);
      in.colour = 0x123456;
      SymbolRecPack(&in, rec);
      SymbolStyle back{};
      back.kind = kSymbolFont;
      back.angle = 450;
      FontNameCopy("Kept", back.font.name);
      SymbolRecUnpack(rec, &back);
      EXPECT_EQ(back.shape, shape);
      EXPECT_EQ(back.size, size);
      EXPECT_EQ(back.colour, 0x123456u);
      EXPECT_EQ(back.kind, kSymbolFont);
      EXPECT_EQ(back.angle, 450);
      EXPECT_STREQ(back.font.name, "Kept");
    }
  }
}

TEST(FontRecord, FlagBitsEachAlone) {
  struct Case {
    const char* flag;
    uint16_t FontStyle::*field;  // null: the background flag
    int bit;
  } cases[] = {
      {"background", nullptr, 1}, {"A", &FontStyle::flagA, 2},
      {"B", &FontStyle::flagB, 4}, {"C", &FontStyle::flagC, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag);
    FontStyle f{};
    if (c.field) {
      f.*c.field = 1;
    } else {
      f.backgroundFlag = 1;
    }
    uint8_t rec[kFontRecSize];
    FontRecPack(&f, rec);
    EXPECT_EQ(rec[1], c.bit);
    FontStyle back{};
    back.flagA = back.flagB = back.flagC = 7;
    back.backgroundFlag = 7;
    FontRecUnpack(rec, &back);
    EXPECT_EQ(back.backgroundFlag, c.field ? 0 : 1);
    EXPECT_EQ(back.flagA, c.field == &FontStyle::flagA ? 1 : 0);
    EXPECT_EQ(back.flagB, c.field == &FontStyle::flagB ? 1 : 0);
    EXPECT_EQ(back.flagC, c.field == &FontStyle::flagC ? 1 : 0);
  }
}

TEST(FontRecord, BytesAndWhatReadingResets) {
  FontStyle f{};
  f.style = 0x95;
  f.flagA = 1;
  f.flagC = 1;
  f.backgroundFlag = 1;
  f.foreground = 0xFF102030;
  f.background = 0x00405060;
  f.size = 12;
  uint8_t rec[kFontRecSize + 1];
  rec[kFontRecSize] = 0xEE;
  FontRecPack(&f, rec);
  EXPECT_EQ(Bytes(rec, rec + kFontRecSize + 1),
            (Bytes{0x95, 0x0B, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0xEE}));
  FontStyle back{};
  back.size = 14;
  back.kept = 2.5;
  FontNameCopy("Arial", back.name);
  FontRecUnpack(rec, &back);
  EXPECT_EQ(back.style, 0x95);
  EXPECT_EQ(back.flagA, 1);
  EXPECT_EQ(back.flagB, 0);
  EXPECT_EQ(back.flagC, 1);
  EXPECT_EQ(back.backgroundFlag, 1);
  EXPECT_EQ(back.foreground, 0x102030u);
  EXPECT_EQ(back.background, 0x405060u);
  EXPECT_EQ(back.size, 0);
  EXPECT_EQ(back.kept, 0.0);
  EXPECT_STREQ(back.name, "Arial");  // the name is stored apart
}

// ----- stored 16-bit styles and names ------------------------------------------

TEST(StoredStyles, FontStyleEveryValueRoundTrips) {
  for (unsigned v = 0; v < 0x800; ++v) {
    FontStyle f{};
    FontStyleUnpack(uint16_t(v), &f);
    ASSERT_LE(f.flagA, 1);
    ASSERT_EQ(FontStylePack(&f), v);
  }
  // Bits above 10 are not part of it; flags set to any non-zero value pack as one.
  FontStyle f{};
  f.name[0] = 'x';
  FontStyleUnpack(0xF8FF, &f);
  EXPECT_EQ(f.style, 0xFF);
  EXPECT_EQ(f.flagA + f.flagB + f.flagC, 0);
  EXPECT_EQ(f.name[0], 'x');
  f.flagB = 5;
  EXPECT_EQ(FontStylePack(&f), 0x2FF);
}

TEST(StoredStyles, FontSymbolStyleKeepsBitsZeroFourFiveAndTheFlag) {
  struct Case {
    uint16_t set;
    uint32_t styleFlags;
    uint16_t flag;
    uint16_t get;
  } cases[] = {
      {0x0000, 0x00, 0, 0x000}, {0x0001, 0x01, 0, 0x001}, {0x0010, 0x10, 0, 0x010},
      {0x0020, 0x20, 0, 0x020}, {0x0100, 0x00, 1, 0x100}, {0x0131, 0x31, 1, 0x131},
      {0xFFFF, 0x31, 1, 0x131}, {0x00CE, 0x00, 0, 0x000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    SymbolStyle s{};
    s.font.styleFlags = 0xFFFFFFFF;
    s.font.flag = 9;
    FontNameCopy("Wingdings", s.font.name);
    SymbolFontStyleSet(&s, c.set);
    EXPECT_EQ(s.font.styleFlags, c.styleFlags);
    EXPECT_EQ(s.font.flag, c.flag);
    EXPECT_EQ(SymbolFontStyleGet(&s), c.get);
    EXPECT_STREQ(s.font.name, "Wingdings");  // the name after the flags is left alone
  }
}

TEST(StoredStyles, CustomStyleUsesFlagBitsZeroOneThreeAndKeepsTheRest) {
  for (int style = 0; style < 8; ++style) {
    SCOPED_TRACE(style);
    SymbolStyle s{};
    s.custom.flags = 0xFFFFFFF4;  // bits 0, 1, 3 clear, all others set
    SymbolCustomStyleSet(&s, style);
    EXPECT_EQ(SymbolCustomStyleGet(&s), style);
    EXPECT_EQ(s.custom.flags & ~0xBu, 0xFFFFFFF4u);
    EXPECT_EQ((s.custom.flags >> 3) & 1, uint32_t(style >> 2));
  }
}

TEST(StoredStyles, NamesAreCutTo31Characters) {
  const std::string forty(40, 'n');
  SymbolStyle s{};
  s.shape = 35;
  SymbolCustomNameSet(&s, forty.c_str());
  EXPECT_EQ(s.shape, 0);
  EXPECT_EQ(std::string(s.custom.file), forty.substr(0, 31));
  FontStyle f{};
  FontNameCopy(forty.c_str(), f.name);
  EXPECT_EQ(std::string(f.name), forty.substr(0, 31));
}

// ----- equality -----------------------------------------------------------------

TEST(StyleEquality, Pens) {
  struct Case {
    const char* name;
    PenStyle a, b;
    int equal;
  } cases[] = {
      {"patterns differ", {1, 2, 0, 5}, {1, 3, 0, 5}, 0},
      {"no line, all else differs", {1, 1, 0, 5}, {40, 1, 9, 0xFF}, 1},
      {"same", {12, 5, 3, 0x123456}, {12, 5, 3, 0x123456}, 1},
      {"kept word differs", {1, 2, 0, 0}, {1, 2, 1, 0}, 0},
      {"width differs", {1, 2, 0, 0}, {2, 2, 0, 0}, 0},
      {"colour differs", {1, 2, 0, 0x10}, {1, 2, 0, 0x11}, 0},
      {"only the top byte of the colour differs", {1, 2, 0, 0x10}, {1, 2, 0, 0xAB000010}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PenEqual(&c.a, &c.b), c.equal) << c.name;
    EXPECT_EQ(PenEqual(&c.b, &c.a), c.equal) << c.name;
  }
}

TEST(StyleEquality, Brushes) {
  struct Case {
    const char* name;
    BrushStyle a, b;
    int equal;
  } cases[] = {
      {"patterns differ", {2, 0, 0, 0}, {3, 0, 0, 0}, 0},
      {"no fill, all else differs", {1, 1, 2, 0}, {1, 3, 4, 1}, 1},
      {"solid, backgrounds differ", {2, 7, 1, 0}, {2, 7, 2, 1}, 1},
      {"solid, foregrounds differ", {2, 7, 1, 0}, {2, 8, 1, 0}, 0},
      {"solid, top byte differs", {2, 7, 1, 0}, {2, 0xFF000007, 1, 0}, 1},
      {"pattern, foregrounds differ", {5, 7, 1, 1}, {5, 8, 1, 1}, 0},
      {"pattern, transparency differs", {5, 7, 1, 0}, {5, 7, 1, 1}, 0},
      {"pattern, transparent, backgrounds differ", {5, 7, 1, 1}, {5, 7, 2, 1}, 1},
      {"pattern, opaque, backgrounds differ", {5, 7, 1, 0}, {5, 7, 2, 0}, 0},
      {"pattern, opaque, same", {5, 7, 0x01000002, 0}, {5, 7, 2, 0}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BrushEqual(&c.a, &c.b), c.equal) << c.name;
    EXPECT_EQ(BrushEqual(&c.b, &c.a), c.equal) << c.name;
  }
}

// ----- clauses -------------------------------------------------------------------

std::string ClausePen(const PenStyle& p) {
  char buf[kStyleClauseSize];
  size_t n = StyleClausePen(p, buf, sizeof buf);
  EXPECT_EQ(n, std::strlen(buf));
  return buf;
}
std::string ClauseBrush(const BrushStyle& b) {
  char buf[kStyleClauseSize];
  size_t n = StyleClauseBrush(b, buf, sizeof buf);
  EXPECT_EQ(n, std::strlen(buf));
  return buf;
}
std::string ClauseSymbol(const SymbolStyle& s) {
  char buf[kStyleClauseSize];
  size_t n = StyleClauseSymbol(&s, buf, sizeof buf);
  EXPECT_EQ(n, std::strlen(buf));
  return buf;
}
std::string ClauseFont(const FontStyle& f) {
  char buf[kStyleClauseSize];
  size_t n = StyleClauseFont(f, buf, sizeof buf);
  EXPECT_EQ(n, std::strlen(buf));
  return buf;
}

TEST(StyleClauses, PenAndBrush) {
  EXPECT_EQ(ClausePen(Pen(1, 2, 0)), "Pen (1,2,0) ");
  EXPECT_EQ(ClausePen(Pen(300, 81, 0xFF00FF00)), "Pen (300,81,65280) ");
  EXPECT_EQ(ClauseBrush({2, 255, 16777215, 0}), "Brush (2,255,16777215) ");
  EXPECT_EQ(ClauseBrush({2, 255, 16777215, 1}), "Brush (2,255) ");
  EXPECT_EQ(ClauseBrush({71, 0xEE123456, 0xDD000001, 0}), "Brush (71,1193046,1) ");
}

TEST(StyleClauses, SymbolsByKind) {
  SymbolStyle s{};
  s.shape = 35;
  s.colour = 0xFFFF0000;
  s.size = 12;
  EXPECT_EQ(ClauseSymbol(s), "Symbol (35,16711680,12) ");

  s.kind = kSymbolFont;
  s.shape = 65;
  FontNameCopy("Map Symbols", s.font.name);
  SymbolFontStyleSet(&s, 0x101);
  s.angle = 455;
  EXPECT_EQ(ClauseSymbol(s), "Symbol (65,16711680,12,\"Map Symbols\",257,45.5) ");
  s.angle = -900;
  SymbolFontStyleSet(&s, 0);
  EXPECT_EQ(ClauseSymbol(s), "Symbol (65,16711680,12,\"Map Symbols\",0,-90) ");

  s = SymbolStyle{};
  s.kind = kSymbolCustom;
  s.colour = 0x0000FF;
  s.size = 24;
  SymbolCustomNameSet(&s, "PIN1.BMP");
  SymbolCustomStyleSet(&s, 5);
  EXPECT_EQ(ClauseSymbol(s), "Symbol (\"PIN1.BMP\",255,24,5) ");

  s.kind = 3;
  char buf[kStyleClauseSize] = "stale";
  EXPECT_EQ(StyleClauseSymbol(&s, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(StyleClauses, FontBackgroundOnlyWithTheFlagOrFlagA) {
  struct Case {
    uint8_t backgroundFlag;
    uint16_t flagA, flagB;
    const char* text;
  } cases[] = {
      {0, 0, 0, "Font (\"Arial\",1,10,16711680)"},
      {0, 0, 1, "Font (\"Arial\",513,10,16711680)"},
      {1, 0, 0, "Font (\"Arial\",1,10,16711680,65535)"},
      {0, 1, 0, "Font (\"Arial\",257,10,16711680,65535)"},
  };
  for (const Case& c : cases) {
    FontStyle f{};
    FontNameCopy("Arial", f.name);
    f.style = 1;
    f.size = 10;
    f.foreground = 0x01FF0000;
    f.background = 0xFF00FFFF;
    f.backgroundFlag = c.backgroundFlag;
    f.flagA = c.flagA;
    f.flagB = c.flagB;
    EXPECT_EQ(ClauseFont(f), c.text);
  }
}

TEST(StyleClauses, QuotesInNamesAreDoubled) {
  FontStyle f{};
  FontNameCopy("Say \"Hi\"", f.name);
  EXPECT_EQ(ClauseFont(f), "Font (\"Say \"\"Hi\"\"\",0,0,0)");

  SymbolStyle s{};
  s.kind = kSymbolCustom;
  SymbolCustomNameSet(&s, "a\"b.bmp");
  EXPECT_EQ(ClauseSymbol(s), "Symbol (\"a\"\"b.bmp\",0,0,0) ");

  s = SymbolStyle{};
  s.kind = kSymbolFont;
  FontNameCopy("\"", s.font.name);
  EXPECT_EQ(ClauseSymbol(s), "Symbol (0,0,0,\"\"\"\",0,0) ");
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(StyleClauses, LongestClausesFitAndShortBuffersGetNothing) {
  // 31 quotes double to 62 characters; every number at its widest.
  const std::string quotes(31, '"');
  SymbolStyle s{};
  s.kind = kSymbolFont;
  s.shape = -32768;
  s.size = -32768;
  s.colour = 0xFFFFFF;
  s.angle = -32768;
  FontNameCopy(quotes.c_str(), s.font.name);
  SymbolFontStyleSet(&s, 0x131);
  std::string symbol = ClauseSymbol(s);
  EXPECT_EQ(symbol.substr(0, 30), "Symbol (4294934528,16777215,42");
  EXPECT_TRUE(EndsWith(symbol, "\"\"\",305,-3276.8) ")) << symbol;
  EXPECT_LT(symbol.size(), kStyleClauseSize);

  FontStyle f{};
  FontNameCopy(quotes.c_str(), f.name);
  f.style = 0xFF;
  f.flagA = f.flagB = f.flagC = 1;
  f.size = -1;
  f.foreground = f.background = 0xFFFFFF;
  std::string font = ClauseFont(f);
  EXPECT_TRUE(EndsWith(font, "\"\"\",2047,4294967295,16777215,16777215)")) << font;
  EXPECT_LT(font.size(), kStyleClauseSize);

  // A buffer one byte short of the clause gets an empty text and 0.
  char buf[kStyleClauseSize];
  std::strcpy(buf, "stale");
  EXPECT_EQ(StyleClauseFont(f, buf, font.size()), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(StyleClauseFont(f, buf, font.size() + 1), font.size());
  EXPECT_EQ(StyleClausePen(Pen(1), buf, 0), 0u);
  EXPECT_EQ(StyleClauseBrush({2, 255, 16777215, 0}, buf, 12), 0u);
  EXPECT_STREQ(buf, "");
}

// ----- accessors on objects --------------------------------------------------------

class StyleObjectTest : public objtest::GeomHeapTest {};

TEST_F(StyleObjectTest, WhichKindCarriesWhichStyle) {
  // Bits by kind 0..14: line pen, border pen and brush, symbol.
  constexpr uint32_t kLinePen = 1u << 2 | 1u << 3 | 1u << 4 | 1u << 6;
  constexpr uint32_t kArea = 1u << 5 | 1u << 7 | 1u << 8 | 1u << 9 | 1u << 10;
  constexpr uint32_t kSymbol = 1u << 1 | 1u << 13;
  for (int kind = 0; kind < 14; ++kind) {
    SCOPED_TRACE(kind);
    GeomObject* o = New(kind);
    EXPECT_EQ(GeomObjectGetLinePen(o, nullptr), int((kLinePen >> kind) & 1));
    EXPECT_EQ(GeomObjectGetBorderPen(o, nullptr), int((kArea >> kind) & 1));
    EXPECT_EQ(GeomObjectGetBrush(o, nullptr), int((kArea >> kind) & 1));
    EXPECT_EQ(GeomObjectGetSymbol(o, nullptr), int((kSymbol >> kind) & 1));
  }
  EXPECT_EQ(PenWidthIsPixels(9), 1);
  EXPECT_EQ(PenWidthIsPixels(10), 0);
}

TEST_F(StyleObjectTest, SetStyleHandsEachKindItsStyles) {
  StyleBundle b = *StyleDefaults();
  b.linePen.colour = 0x11;
  b.areaPen.colour = 0x22;
  b.brush.foreground = 0x33;
  b.symbol.shape = 44;
  FontNameCopy("Courier", b.font.name);

  GeomObject* region = New(kGeomRegion);
  ASSERT_EQ(GeomObjectSetStyle(region, b), 1);
  EXPECT_EQ(region->pen.colour, 0x22u);
  EXPECT_EQ(region->brush.foreground, 0x33u);

  GeomObject* polyline = New(kGeomPolyline);
  ASSERT_EQ(GeomObjectSetStyle(polyline, b), 1);
  EXPECT_EQ(polyline->pen.colour, 0x11u);

  GeomObject* text = New(kGeomText);
  ASSERT_EQ(GeomObjectSetStyle(text, b), 1);
  EXPECT_STREQ(text->u.text.font.name, "Courier");
  EXPECT_EQ(text->pen.colour, 0x22u);  // the text's label line takes the area pen

  GeomObject* multipoint = New(kGeomMultipoint);
  ASSERT_EQ(GeomObjectSetStyle(multipoint, b), 1);
  EXPECT_EQ(multipoint->u.multipoint.symbol.shape, 44);

  GeomObject* items = New(kGeomItems12);
  items->pen.colour = 0x99;
  EXPECT_EQ(GeomObjectSetStyle(items, b), 1);
  EXPECT_EQ(items->pen.colour, 0x99u);
}

TEST_F(StyleObjectTest, CopyStyleFromATextGivesFontAndPen) {
  GeomObject* source = New(kGeomText);
  FontNameCopy("Times", source->u.text.font.name);
  source->pen.width = 4;
  GeomObject* target = New(kGeomText);
  EXPECT_EQ(GeomObjectCopyStyle(target, source), 1);
  EXPECT_STREQ(target->u.text.font.name, "Times");
  EXPECT_EQ(target->pen.width, 4);

  GeomObject* line = New(kGeomLine);
  EXPECT_EQ(GeomObjectCopyStyle(line, source), 1);  // the line pen lands; the font step fails
  EXPECT_EQ(line->pen.width, 4);

  GeomObject* point = New(kGeomPoint);
  point->u.point.symbol.shape = 40;
  GeomObject* multipoint = New(kGeomMultipoint);
  EXPECT_EQ(GeomObjectCopyStyle(multipoint, point), 1);
  EXPECT_EQ(multipoint->u.multipoint.symbol.shape, 40);
}

TEST(StyleDefaultsTest, TheDefaultBundle) {
  const StyleBundle& b = *StyleDefaults();
  for (const PenStyle* p : {&b.linePen, &b.areaPen}) {
    EXPECT_EQ(p->width, 1);
    EXPECT_EQ(p->pattern, 2u);
    EXPECT_EQ(p->colour, 0u);
  }
  EXPECT_EQ(b.brush.pattern, 2u);
  EXPECT_EQ(b.brush.foreground, 0xFFFFFFu);
  EXPECT_EQ(b.brush.background, 0xFFFFFFu);
  EXPECT_EQ(b.brush.transparent, 0);
  EXPECT_STREQ(b.font.name, "");
  EXPECT_EQ(b.font.size, 0);
  EXPECT_EQ(b.symbol.shape, 32);
  EXPECT_EQ(b.symbol.colour, 0u);
  EXPECT_EQ(b.symbol.size, 9);
  EXPECT_EQ(b.symbol.kind, kSymbolSimple);
}

}  // namespace
}  // namespace layerio
