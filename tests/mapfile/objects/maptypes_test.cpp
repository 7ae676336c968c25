// Type codes of map-object records: the per-code table, kinds, the choice of
// code and the 16-bit delta form.
#include "mapfile/objects/maptypes.h"

#include <gtest/gtest.h>

#include <vector>

#include "mapfile/objects/mapfile.h"

namespace {

using namespace layerio;

// The record lengths of each triple as the layout tables give them
// (compressed, long, inline-style) and whether the kind has variable data.
struct Triple {
  int first;
  int kind;
  int lengths[3];
  bool data;
};
const Triple kTriples[] = {
    {1, kGeomPoint, {10, 14, 21}, false},       {4, kGeomLine, {14, 22, 27}, false},
    {7, kGeomPolyline, {34, 38, 43}, true},     {10, kGeomArc, {26, 42, 47}, false},
    {13, kGeomRegion, {37, 41, 53}, true},      {16, kGeomText, {39, 53, 89}, true},
    {19, kGeomRect, {15, 23, 35}, false},       {22, kGeomRoundRect, {19, 31, 43}, false},
    {25, kGeomEllipse, {15, 23, 35}, false},    {28, kGeomFrame, {79, 87, 99}, false},
    {31, kGeomItems12, {28, 36, 41}, true},     {34, kGeomItems24, {32, 40, 45}, true},
    {37, kGeomPolyline, {36, 40, 45}, true},    {40, kGeomPoint, {22, 26, 57}, false},
    {43, kGeomPoint, {13, 17, 55}, false},      {46, kGeomRegion, {37, 41, 53}, true},
    {49, kGeomPolyline, {36, 40, 45}, true},    {52, kGeomMultipoint, {50, 54, 92}, true},
    {55, kGeomCollection, {61, 61, 116}, true}, {58, kGeomPoint, {43, 47, 85}, false},
    {61, kGeomRegion, {72, 76, 88}, true},      {64, kGeomPolyline, {71, 75, 80}, true},
    {67, kGeomMultipoint, {83, 87, 125}, true}, {70, kGeomCollection, {66, 66, 121}, true},
};

TEST(MapTypes, EveryCodeHasTheKindLengthAndDataBitOfItsTriple) {
  const uint8_t* table = MapTypeTableLibrary();
  EXPECT_EQ(table[0], 0);
  for (int code = 73; code < 256; ++code) ASSERT_EQ(table[code], 0) << code;
  for (const Triple& t : kTriples) {
    for (int i = 0; i < 3; ++i) {
      const int code = t.first + i;
      SCOPED_TRACE(code);
      EXPECT_EQ(MapObjCodeKind(code), t.kind);
      EXPECT_EQ(MapCodeLength(code), t.lengths[i]);
      EXPECT_EQ(MapCodeHasData(code), t.data ? 1 : 0);
      EXPECT_EQ(table[code], t.lengths[i] + (t.data ? 128 : 0));
      EXPECT_EQ(MapCodeForm(code), i + 1);
    }
  }
  EXPECT_EQ(table[7], 162);
  for (int code : {0, 73, 255, -1}) EXPECT_EQ(MapObjCodeKind(code), 0) << code;
  EXPECT_EQ(MapObjCodeKind(58), kGeomPoint);
  EXPECT_EQ(MapObjCodeKind(72), kGeomCollection);
}

TEST(MapTypes, DeltasDecodeSignedAndEncodeTheLow16Bits) {
  const uint8_t stored[4] = {0xFF, 0xFF, 0x01, 0x00};
  const IPoint base{100, 100};
  IPoint p;
  DeltaPointDecode(stored, &p, &base);
  EXPECT_EQ(p.x, 99);
  EXPECT_EQ(p.y, 101);

  uint8_t out[8];
  DeltaPointEncode(&p, out, &base);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(stored, stored + 4));
  const IRect r{100 - 32768, 100 + 32767, 100 + 70000, 100};
  DeltaRectEncode(&r, out, &base);
  IRect back;
  DeltaRectDecode(out, &back, &base);
  EXPECT_EQ(back.x1, r.x1);
  EXPECT_EQ(back.y1, r.y1);
  EXPECT_EQ(back.x2, 100 + 70000 - 65536);  // only the low 16 bits are kept
  EXPECT_EQ(back.y2, r.y2);
  // Decoding near the edge of the integer range wraps instead of overflowing.
  const IPoint edge{2147483647, -2147483647 - 1};
  const uint8_t up[4] = {0x01, 0x00, 0xFF, 0xFF};
  DeltaPointDecode(up, &p, &edge);
  EXPECT_EQ(p.x, -2147483647 - 1);
  EXPECT_EQ(p.y, 2147483647);
}

GeomObject Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  GeomObject o;
  GeomObjectInit(&o, kGeomLine);
  o.u.line = GeomLineFields{x1, y1, x2, y2};
  IRectSet(&o.bounds, std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
  return o;
}

GeomObject Poly(int kind, uint32_t parts, uint32_t dataSize, int32_t width, int32_t height) {
  GeomObject o;
  GeomObjectInit(&o, kind);
  o.u.poly.partCount = parts;
  o.u.poly.dataSize = dataSize;
  IRectSet(&o.bounds, 0, 0, width, height);
  return o;
}

TEST(MapTypes, TheCompressedFormNeedsEveryDeltaWithin16Bits) {
  const IPoint base{1000, 1000};
  struct Case {
    const char* name;
    GeomObject object;
    const IPoint* base;
    int expected;
  } cases[] = {
      {"line 32767 away", Line(1000 - 32767, 1000, 1000 + 32767, 1000 + 32767), &base, 4},
      {"line 32768 away", Line(1000 - 32768, 1000, 1000, 1000), &base, 5},
      {"line without a base point", Line(1000, 1000, 1001, 1001), nullptr, 5},
      {"region 65534 wide", Poly(kGeomRegion, 1, 28 + 5 * 8, 65534, 65534), nullptr, 13},
      {"region 65535 wide", Poly(kGeomRegion, 1, 28 + 5 * 8, 65535, 10), nullptr, 14},
      {"region 65535 high", Poly(kGeomRegion, 1, 28 + 5 * 8, 10, 65535), nullptr, 14},
      {"polyline of one section", Poly(kGeomPolyline, 1, 28 + 16, 5, 5), nullptr, 7},
      {"polyline of two sections", Poly(kGeomPolyline, 2, 56 + 32, 5, 5), nullptr, 37},
      {"polyline of 2731 sections", Poly(kGeomPolyline, 2731, 2731 * 44, 5, 5), nullptr, 49},
      {"polyline of 32768 sections", Poly(kGeomPolyline, 32768, 32768 * 44, 70000, 5), nullptr,
       65},
      {"region of 2731 rings", Poly(kGeomRegion, 2731, 2731 * 44, 5, 5), nullptr, 46},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MapObjCodeFor(&c.object, 1, c.base, 1), c.expected);
  }
}

TEST(MapTypes, TheBaseCodeFollowsKindSymbolValuesAndSize) {
  GeomObject point;
  GeomObjectInit(&point, kGeomPoint);
  EXPECT_EQ(MapObjBaseCode(&point, 1), 1);
  point.u.point.symbol.kind = kSymbolFont;
  EXPECT_EQ(MapObjBaseCode(&point, 1), 40);
  point.u.point.symbol.kind = kSymbolCustom;
  EXPECT_EQ(MapObjBaseCode(&point, 1), 43);
  point.flagA = 1;
  EXPECT_EQ(MapObjBaseCode(&point, 1), 43);  // no values without the extension
  EXPECT_EQ(MapObjBaseCode(&point, 0), 58);

  struct Simple {
    int kind;
    int code;
  } simple[] = {{kGeomLine, 4},       {kGeomArc, 10},     {kGeomText, 16}, {kGeomRect, 19},
                {kGeomRoundRect, 22}, {kGeomEllipse, 25}, {kGeomFrame, 28}, {kGeomItems12, 31},
                {kGeomItems24, 34},   {kGeomNone, 0}};
  for (const Simple& s : simple) {
    GeomObject o;
    GeomObjectInit(&o, s.kind);
    EXPECT_EQ(MapObjBaseCode(&o, 1), s.code) << s.kind;
    if (s.code) {
      EXPECT_EQ(MapObjCodeFor(&o, 0, nullptr, 1), s.code + 2) << s.kind;
    }
  }

  GeomObject line = Poly(kGeomPolyline, 2, 88, 5, 5);
  line.flagB = 1;
  EXPECT_EQ(MapObjBaseCode(&line, 1), 37);
  EXPECT_EQ(MapObjBaseCode(&line, 0), 64);
  GeomObject region = Poly(kGeomRegion, 1, 60, 5, 5);
  region.flagA = 1;
  EXPECT_EQ(MapObjBaseCode(&region, 0), 61);

  // 1,048,576 points are 8 MB of coordinates: the third generation.
  GeomObject mp;
  GeomObjectInit(&mp, kGeomMultipoint);
  mp.u.multipoint.pointCount = 1048576;
  EXPECT_EQ(MapObjBaseCode(&mp, 1), 67);
  mp.u.multipoint.pointCount = 1048575;
  EXPECT_EQ(MapObjBaseCode(&mp, 1), 52);
  mp.flagA = 1;
  EXPECT_EQ(MapObjBaseCode(&mp, 0), 67);

  GeomObject collection;
  GeomObjectInit(&collection, kGeomCollection);
  EXPECT_EQ(MapObjBaseCode(&collection, 1), 55);
}

TEST(MapTypes, TextsAndRoundedRectanglesWithLargeSizesTakeTheLongForm) {
  const IPoint base{0, 0};
  GeomObject text;
  GeomObjectInit(&text, kGeomText);
  IRectSet(&text.bounds, 0, 0, 10, 10);
  text.u.text.frame = text.bounds;
  text.u.text.height = 65535;
  EXPECT_EQ(MapObjCodeFor(&text, 1, &base, 1), 16);
  text.u.text.height = 65536;
  EXPECT_EQ(MapObjCodeFor(&text, 1, &base, 1), 17);
  text.u.text.flags = kTextFlagBit8;  // the caller's u16 takes the height's place
  EXPECT_EQ(MapObjCodeFor(&text, 1, &base, 1), 16);
  text.u.text.flags = 0;
  text.u.text.height = 5;
  text.u.text.lineEnd = IPoint{40000, 0};  // the label line's end is stored as a delta too
  EXPECT_EQ(MapObjCodeFor(&text, 1, &base, 1), 17);

  GeomObject rr;
  GeomObjectInit(&rr, kGeomRoundRect);
  IRectSet(&rr.bounds, 0, 0, 10, 10);
  rr.u.roundRect.corner = -65535;
  EXPECT_EQ(MapObjCodeFor(&rr, 1, &base, 1), 22);
  rr.u.roundRect.corner = 65536;
  EXPECT_EQ(MapObjCodeFor(&rr, 1, &base, 1), 23);
}

TEST(MapTypes, CollectionPartsAndSectionHeaderForms) {
  struct Row {
    int collection, polyline, region, multipoint;
  } rows[] = {{55, 49, 46, 52}, {56, 50, 47, 53}, {57, 51, 48, 54},
              {70, 64, 61, 67}, {71, 65, 62, 68}, {72, 66, 63, 69}};
  for (const Row& r : rows) {
    EXPECT_EQ(MapCollectionPartCode(kGeomPolyline, r.collection), r.polyline);
    EXPECT_EQ(MapCollectionPartCode(kGeomRegion, r.collection), r.region);
    EXPECT_EQ(MapCollectionPartCode(kGeomMultipoint, r.collection), r.multipoint);
  }
  EXPECT_EQ(MapCollectionPartCode(kGeomPolyline, 58), 0);
  EXPECT_EQ(MapCollectionPartCode(kGeomPoint, 55), 0);

  struct Form {
    int code, diff, point16, second16;
  } forms[] = {{7, 12, 1, 1},  {13, 12, 1, 1}, {39, 12, 1, 1}, {46, 0, 0, 1},
               {51, 0, 0, 1},  {56, 0, 0, 1},  {61, 0, 0, 0},  {72, 0, 0, 0},
               {16, 16, 16, 16}};
  for (const Form& f : forms) {
    int p16 = -1, s16 = -1;
    EXPECT_EQ(MapCodeDataForm(3, f.code, &p16, &s16), f.diff) << f.code;
    EXPECT_EQ(p16, f.point16) << f.code;
    EXPECT_EQ(s16, f.second16) << f.code;
  }
}

}  // namespace
