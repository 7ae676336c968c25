// The public object record: every type code converted inward and back out,
// through the table's own coordinate system and through a caller's, the
// record's edge cases, and the scratch arrays the filled records point into.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/objstore.h"
#include "mapfile/tables/pxobject.h"
#include "mapfile_tables/pxstore_fixture.h"

namespace pxtest {

// A map store that only answers for its header (kind, system, counts).
layerio::ObjStore* NewHeaderStore(int16_t kind, const layerio::CoordSys* cs, uint32_t points,
                                  uint32_t lines, uint32_t regions) {
  auto* store = new layerio::ObjStore();
  store->kind = kind;
  store->header.coordSys = *cs;
  store->header.pointCount = points;
  store->header.lineCount = lines;
  store->header.regionCount = regions;
  return store;
}

void DeleteHeaderStore(layerio::ObjStore* store) { delete store; }

static_assert(kStoreMapFile == layerio::kObjStoreMapFile &&
              kStoreMemory == layerio::kObjStoreMemory);

}  // namespace pxtest

namespace {

using layerio::CoordSys;
using layerio::GeomObject;

template <class T>
void Put(PXObject& o, size_t offset, T value) {
  std::memcpy(o.u.bytes + offset, &value, sizeof value);
}
template <class T>
T Get(const PXObject& o, size_t offset) {
  T value;
  std::memcpy(&value, o.u.bytes + offset, sizeof value);
  return value;
}

// Records whose point and section arrays live as long as the builder.
class Records {
 public:
  PXObject Make(uint8_t code) {
    PXObject o{};
    o.u.bytes[PX_OBJECT_TYPE] = code;
    return o;
  }
  PXPoint* Points(std::vector<PXPoint> points) {
    points_.push_back(std::move(points));
    return points_.back().data();
  }
  PXSection* Sections(const std::vector<std::vector<PXPoint>>& parts) {
    std::vector<PXSection> entries;
    for (const auto& p : parts) entries.push_back({int32_t(p.size()), 0, Points(p)});
    sections_.push_back(std::move(entries));
    return sections_.back().data();
  }
  const char* Text(std::string text) {
    texts_.push_back(std::move(text));
    return texts_.back().c_str();
  }

 private:
  std::deque<std::vector<PXPoint>> points_;
  std::deque<std::vector<PXSection>> sections_;
  std::deque<std::string> texts_;
};

void PutPen(PXObject& o, size_t at, uint32_t width, uint32_t pattern, uint32_t colour) {
  Put<uint32_t>(o, at, width);
  Put<uint32_t>(o, at + 4, pattern);
  Put<uint32_t>(o, at + 8, 0);
  Put<uint32_t>(o, at + 12, colour);
}
void PutBrush(PXObject& o, size_t at, uint32_t pattern, uint32_t fore, uint32_t back) {
  Put<uint32_t>(o, at, pattern);
  Put<uint32_t>(o, at + 4, fore);
  Put<uint32_t>(o, at + 8, back);
  Put<uint32_t>(o, at + 12, 1);
}
void PutRect(PXObject& o, size_t at, double x1, double y1, double x2, double y2) {
  Put(o, at, x1);
  Put(o, at + 8, y1);
  Put(o, at + 16, x2);
  Put(o, at + 24, y2);
}
void PutName(PXObject& o, size_t at, const char* name) {
  std::memcpy(o.u.bytes + at, name, std::strlen(name));
}
void PutSymbol(PXObject& o, size_t at, uint8_t code) {
  switch (code) {
    case PX_OBJECT_POINT:
      Put<uint32_t>(o, at + PX_SYMBOL_CODE, 35);
      Put<uint32_t>(o, at + PX_SYMBOL_COLOUR, 0x00FF00);
      Put<int16_t>(o, at + PX_SYMBOL_SIZE, 12);
      break;
    case PX_OBJECT_FONT_POINT:
      Put<uint32_t>(o, at + PX_SYMBOL_CODE, 65);
      Put<uint32_t>(o, at + PX_SYMBOL_COLOUR, 0x0000FF);
      Put<int16_t>(o, at + PX_SYMBOL_SIZE, 18);
      PutName(o, at + PX_FONT_SYMBOL_NAME, "Symbols Sans");
      Put<uint16_t>(o, at + PX_FONT_SYMBOL_STYLE, 0x111);
      Put<double>(o, at + PX_FONT_SYMBOL_ANGLE, 45.5);
      break;
    case PX_OBJECT_CUSTOM_POINT:
      PutName(o, at + PX_CUSTOM_SYMBOL_NAME, "PIN1.BMP");
      Put<uint32_t>(o, at + PX_CUSTOM_SYMBOL_COLOUR, 0x123456);
      Put<int16_t>(o, at + PX_CUSTOM_SYMBOL_SIZE, 24);
      Put<uint16_t>(o, at + PX_CUSTOM_SYMBOL_STYLE, 5);
      break;
  }
}

// ----- one record of every code (coordinates in degrees near 10 E, 5 N) -----

const std::vector<PXPoint> kLine3 = {{10.0, 5.0}, {10.2, 5.1}, {10.4, 5.05}};
const std::vector<PXPoint> kLong = {{10.0, 5.0}, {10.5, 5.5}, {11.0, 5.2}, {11.5, 5.9}};
const std::vector<PXPoint> kShort = {{10.1, 5.6}, {10.15, 5.62}};
const std::vector<PXPoint> kOuter = {{10.0, 5.0}, {10.4, 5.0}, {10.4, 5.4}, {10.0, 5.4}};
const std::vector<PXPoint> kHole = {{10.1, 5.1}, {10.1, 5.2}, {10.2, 5.2}, {10.2, 5.1}};

void PutRegionPart(Records& r, PXObject& o, size_t shift) {
  Put<uint32_t>(o, shift + PX_OBJECT_COUNT, 2);
  PutPen(o, shift + PX_OBJECT_REGION_PEN, 1, 2, 0x102030);
  PutBrush(o, shift + PX_OBJECT_REGION_BRUSH, 2, 0xFFFF00, 0x00FFFF);
  Put<double>(o, shift + PX_OBJECT_REGION_CENTROID_X, 10.3);
  Put<double>(o, shift + PX_OBJECT_REGION_CENTROID_Y, 5.3);
  Put<PXSection*>(o, shift + PX_OBJECT_REGION_POLYGONS, r.Sections({kOuter, kHole}));
}
void PutMultiPolylinePart(Records& r, PXObject& o, size_t shift) {
  Put<uint32_t>(o, shift + PX_OBJECT_COUNT, 2);
  Put<uint32_t>(o, shift + PX_OBJECT_POLYLINE_FLAGS, 1);
  PutPen(o, shift + PX_OBJECT_POLYLINE_PEN, 3, 2, 0xFF0000);
  Put<PXSection*>(o, shift + PX_OBJECT_MULTI_POLYLINE_SECTIONS, r.Sections({kLong, kShort}));
}
void PutMultipointPart(Records& r, PXObject& o) {
  Put<uint32_t>(o, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE, PX_OBJECT_FONT_POINT);
  PutSymbol(o, PX_OBJECT_MULTIPOINT_SYMBOL, PX_OBJECT_FONT_POINT);
  Put<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT, 3);
  Put<PXPoint*>(o, PX_OBJECT_MULTIPOINT_POINTS, r.Points(kLine3));
}

PXObject Sample(Records& r, uint8_t code) {
  PXObject o = r.Make(code);
  switch (code) {
    case PX_OBJECT_POINT:
    case PX_OBJECT_FONT_POINT:
    case PX_OBJECT_CUSTOM_POINT:
      Put(o, PX_OBJECT_X, 10.123456);
      Put(o, PX_OBJECT_Y, -5.654321);
      PutSymbol(o, PX_OBJECT_SYMBOL, code);
      break;
    case PX_OBJECT_LINE:
      PutRect(o, PX_OBJECT_X, 10.0, 5.0, 10.5, 4.5);
      PutPen(o, PX_OBJECT_LINE_PEN, 2, 2, 0x0000FF);
      break;
    case PX_OBJECT_ARC:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.4, 5.2);
      Put(o, PX_OBJECT_ARC_START, 30.0);
      Put(o, PX_OBJECT_ARC_END, 120.5);
      PutPen(o, PX_OBJECT_ARC_PEN, 1, 5, 0x00FF00);
      break;
    case PX_OBJECT_POLYLINE:
      Put<uint32_t>(o, PX_OBJECT_COUNT, 3);
      Put<uint32_t>(o, PX_OBJECT_POLYLINE_FLAGS, 1);
      PutPen(o, PX_OBJECT_POLYLINE_PEN, 4, 2, 0x808080);
      Put<PXPoint*>(o, PX_OBJECT_POLYLINE_POINTS, r.Points(kLine3));
      break;
    case PX_OBJECT_REGION:
      PutRegionPart(r, o, 0);
      break;
    case PX_OBJECT_TEXT:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.6, 5.1);
      Put(o, PX_OBJECT_TEXT_LINE_END_X, 10.8);
      Put(o, PX_OBJECT_TEXT_LINE_END_Y, 5.3);
      PutPen(o, PX_OBJECT_TEXT_PEN, 1, 2, 0x00AA00);
      Put<uint16_t>(o, PX_OBJECT_TEXT_ATTRIBUTES, 0x15);  // centred, label line
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_STYLE, 0x05);
      Put<uint16_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FLAGS, 1);
      Put<uint16_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FLAGS + 4, 1);
      PutName(o, PX_OBJECT_TEXT_FONT + PX_FONT_NAME, "Serif");
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FOREGROUND, 0x112233);
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_BACKGROUND, 0xFFFFFF);
      Put<uint32_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_BACKGROUND_FLAG, 1);
      Put<const char*>(o, PX_OBJECT_TEXT_STRING, r.Text("North\nGate"));
      break;
    case PX_OBJECT_RECTANGLE:
    case PX_OBJECT_ELLIPSE:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.3, 5.2);
      PutPen(o, PX_OBJECT_RECT_PEN, 1, 2, 0);
      PutBrush(o, PX_OBJECT_RECT_BRUSH, 5, 0x00FF00, 0xFFFFFF);
      break;
    case PX_OBJECT_ROUNDED_RECTANGLE:
      PutRect(o, PX_OBJECT_RECT, 10.0, 5.0, 10.3, 5.2);
      Put(o, PX_OBJECT_CORNER_WIDTH, 0.02);
      Put(o, PX_OBJECT_CORNER_HEIGHT, 0.02);
      PutPen(o, PX_OBJECT_ROUNDED_PEN, 1, 2, 0);
      PutBrush(o, PX_OBJECT_ROUNDED_BRUSH, 2, 0x0000FF, 0);
      break;
    case PX_OBJECT_MULTI_POLYLINE:
      PutMultiPolylinePart(r, o, 0);
      break;
    case PX_OBJECT_MULTIPOINT:
      PutMultipointPart(r, o);
      break;
    case PX_OBJECT_COLLECTION:
      PutMultipointPart(r, o);
      PutMultiPolylinePart(r, o, PX_OBJECT_COLLECTION_POLYLINE);
      PutRegionPart(r, o, PX_OBJECT_COLLECTION_REGION);
      break;
  }
  return o;
}

// ----- a record as a list of named values, to compare two records -----

struct Value {
  std::string name;
  double value;
  bool coordinate;
};
using Values = std::vector<Value>;

void Add(Values& v, const std::string& name, double value, bool coordinate = false) {
  v.push_back({name, value, coordinate});
}
void AddPoints(Values& v, const std::string& name, const uint8_t* points, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    PXPoint p;
    std::memcpy(&p, points + i * sizeof p, sizeof p);
    Add(v, name + ".x" + std::to_string(i), p.x, true);
    Add(v, name + ".y" + std::to_string(i), p.y, true);
  }
}
void AddWords(Values& v, const PXObject& o, const std::string& name, size_t at, int words) {
  for (int i = 0; i < words; ++i) Add(v, name + std::to_string(i), Get<uint32_t>(o, at + 4 * i));
}
void AddCoords(Values& v, const PXObject& o, const std::string& name, size_t at, int n) {
  for (int i = 0; i < n; ++i) Add(v, name + std::to_string(i), Get<double>(o, at + 8 * i), true);
}
void AddName(Values& v, const PXObject& o, const std::string& name, size_t at) {
  std::string text(reinterpret_cast<const char*>(o.u.bytes + at), PX_STYLE_NAME_SIZE);
  for (size_t i = 0; i < text.size(); ++i) Add(v, name + std::to_string(i), text[i]);
}
void AddSymbol(Values& v, const PXObject& o, size_t at, uint32_t code) {
  if (code == PX_OBJECT_CUSTOM_POINT) {
    AddName(v, o, "custom.name", at + PX_CUSTOM_SYMBOL_NAME);
    AddWords(v, o, "custom.colour", at + PX_CUSTOM_SYMBOL_COLOUR, 1);
    Add(v, "custom.size", Get<int16_t>(o, at + PX_CUSTOM_SYMBOL_SIZE));
    Add(v, "custom.style", Get<uint16_t>(o, at + PX_CUSTOM_SYMBOL_STYLE));
    return;
  }
  AddWords(v, o, "symbol.code", at, 2);
  Add(v, "symbol.size", Get<int16_t>(o, at + PX_SYMBOL_SIZE));
  if (code == PX_OBJECT_FONT_POINT) {
    AddName(v, o, "symbol.name", at + PX_FONT_SYMBOL_NAME);
    Add(v, "symbol.style", Get<uint16_t>(o, at + PX_FONT_SYMBOL_STYLE));
    Add(v, "symbol.angle", Get<double>(o, at + PX_FONT_SYMBOL_ANGLE));
  }
}
void AddSections(Values& v, const PXObject& o, const std::string& name, size_t countAt,
                 size_t pointerAt) {
  uint32_t n = Get<uint32_t>(o, countAt);
  Add(v, name + ".count", n);
  const auto* entries = Get<const PXSection*>(o, pointerAt);
  for (uint32_t i = 0; i < n; ++i) {
    Add(v, name + std::to_string(i) + ".points", entries[i].count);
    AddPoints(v, name + std::to_string(i), reinterpret_cast<const uint8_t*>(entries[i].points),
              uint32_t(entries[i].count));
  }
}
void AddMultipoint(Values& v, const PXObject& o) {
  uint32_t type = Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE);
  Add(v, "multipoint.type", type);
  AddSymbol(v, o, PX_OBJECT_MULTIPOINT_SYMBOL, type);
  uint32_t n = Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT);
  Add(v, "multipoint.count", n);
  AddPoints(v, "multipoint", Get<const uint8_t*>(o, PX_OBJECT_MULTIPOINT_POINTS), n);
}
void AddMultiPolyline(Values& v, const PXObject& o, size_t shift) {
  Add(v, "polyline.flags", Get<uint32_t>(o, shift + PX_OBJECT_POLYLINE_FLAGS));
  AddWords(v, o, "polyline.pen", shift + PX_OBJECT_POLYLINE_PEN, 4);
  AddSections(v, o, "polyline", shift + PX_OBJECT_COUNT,
              shift + PX_OBJECT_MULTI_POLYLINE_SECTIONS);
}
void AddRegion(Values& v, const PXObject& o, size_t shift) {
  AddWords(v, o, "region.pen", shift + PX_OBJECT_REGION_PEN, 4);
  AddWords(v, o, "region.brush", shift + PX_OBJECT_REGION_BRUSH, 4);
  AddCoords(v, o, "region.centroid", shift + PX_OBJECT_REGION_CENTROID_X, 2);
  AddSections(v, o, "region", shift + PX_OBJECT_COUNT, shift + PX_OBJECT_REGION_POLYGONS);
}

Values Describe(const PXObject& o) {
  Values v;
  const uint8_t code = o.u.bytes[PX_OBJECT_TYPE];
  Add(v, "type", code);
  switch (code) {
    case PX_OBJECT_POINT:
    case PX_OBJECT_FONT_POINT:
    case PX_OBJECT_CUSTOM_POINT:
      AddCoords(v, o, "xy", PX_OBJECT_X, 2);
      AddSymbol(v, o, PX_OBJECT_SYMBOL, code);
      break;
    case PX_OBJECT_LINE:
      AddCoords(v, o, "ends", PX_OBJECT_X, 4);
      AddWords(v, o, "pen", PX_OBJECT_LINE_PEN, 4);
      break;
    case PX_OBJECT_ARC:
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      Add(v, "start", Get<double>(o, PX_OBJECT_ARC_START));
      Add(v, "end", Get<double>(o, PX_OBJECT_ARC_END));
      AddWords(v, o, "pen", PX_OBJECT_ARC_PEN, 4);
      break;
    case PX_OBJECT_POLYLINE: {
      uint32_t n = Get<uint32_t>(o, PX_OBJECT_COUNT);
      Add(v, "count", n);
      Add(v, "flags", Get<uint32_t>(o, PX_OBJECT_POLYLINE_FLAGS));
      AddWords(v, o, "pen", PX_OBJECT_POLYLINE_PEN, 4);
      AddPoints(v, "points", Get<const uint8_t*>(o, PX_OBJECT_POLYLINE_POINTS), n);
      break;
    }
    case PX_OBJECT_REGION:
      AddRegion(v, o, 0);
      break;
    case PX_OBJECT_TEXT: {
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      AddCoords(v, o, "lineEnd", PX_OBJECT_TEXT_LINE_END_X, 2);
      AddWords(v, o, "pen", PX_OBJECT_TEXT_PEN, 4);
      Add(v, "angle", Get<double>(o, PX_OBJECT_TEXT_ANGLE));
      Add(v, "attributes", Get<uint16_t>(o, PX_OBJECT_TEXT_ATTRIBUTES));
      AddWords(v, o, "font.style", PX_OBJECT_TEXT_FONT + PX_FONT_STYLE, 1);
      for (int i = 0; i < 3; ++i)
        Add(v, "font.flag" + std::to_string(i),
            Get<uint16_t>(o, PX_OBJECT_TEXT_FONT + PX_FONT_FLAGS + 2 * i));
      AddName(v, o, "font.name", PX_OBJECT_TEXT_FONT + PX_FONT_NAME);
      AddWords(v, o, "font.colours", PX_OBJECT_TEXT_FONT + PX_FONT_FOREGROUND, 3);
      const char* text = Get<const char*>(o, PX_OBJECT_TEXT_STRING);
      for (size_t i = 0; text && text[i]; ++i) Add(v, "text" + std::to_string(i), text[i]);
      break;
    }
    case PX_OBJECT_RECTANGLE:
    case PX_OBJECT_ELLIPSE:
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      AddWords(v, o, "pen", PX_OBJECT_RECT_PEN, 4);
      AddWords(v, o, "brush", PX_OBJECT_RECT_BRUSH, 4);
      break;
    case PX_OBJECT_ROUNDED_RECTANGLE:
      AddCoords(v, o, "rect", PX_OBJECT_RECT, 4);
      // The object keeps one corner size: the height comes back from it
      // (checked apart, as a projection scales the axes apart).
      AddCoords(v, o, "cornerWidth", PX_OBJECT_CORNER_WIDTH, 1);
      AddWords(v, o, "pen", PX_OBJECT_ROUNDED_PEN, 4);
      AddWords(v, o, "brush", PX_OBJECT_ROUNDED_BRUSH, 4);
      break;
    case PX_OBJECT_MULTI_POLYLINE:
      AddMultiPolyline(v, o, 0);
      break;
    case PX_OBJECT_MULTIPOINT:
      AddMultipoint(v, o);
      break;
    case PX_OBJECT_COLLECTION:
      if (Get<uint32_t>(o, PX_OBJECT_MULTIPOINT_COUNT)) AddMultipoint(v, o);
      if (Get<uint32_t>(o, PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_COUNT))
        AddMultiPolyline(v, o, PX_OBJECT_COLLECTION_POLYLINE);
      if (Get<uint32_t>(o, PX_OBJECT_COLLECTION_REGION + PX_OBJECT_COUNT))
        AddRegion(v, o, PX_OBJECT_COLLECTION_REGION);
      break;
  }
  return v;
}

void ExpectSame(const Values& expected, const Values& actual, double tolerance,
                const std::string& what) {
  ASSERT_EQ(expected.size(), actual.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i].name, actual[i].name) << what;
    if (expected[i].coordinate)
      EXPECT_NEAR(expected[i].value, actual[i].value, tolerance) << what << " " << expected[i].name;
    else
      EXPECT_DOUBLE_EQ(expected[i].value, actual[i].value) << what << " " << expected[i].name;
  }
}

// ----- the systems -----

class PublicObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1);
    ASSERT_TRUE(layerio::CoordSysParseText(&lonLat_, "CoordSys Earth Projection 1, 104", true));
    // A table kept in metres: Mercator on WGS 84.
    ASSERT_TRUE(layerio::CoordSysParseText(
        &mercator_,
        "CoordSys Earth Projection 10, 104, \"m\", 0 Bounds (-20037508, -20037508) (20037508, "
        "20037508)",
        true));
  }
  void TearDown() override {
    layerio::PublicObjectScratchFree();
    PXShutdown();
  }

  // In and out again; the record read back.
  bool RoundTrip(const PXObject& in, PXObject* out, const CoordSys* table,
                 const CoordSys* caller) {
    GeomObject object;
    bool ok = layerio::ObjectFromPublic(&in, &object, caller, table) &&
              layerio::ObjectToPublic(&object, out, table, caller);
    layerio::GeomObjectFree(&object);
    return ok;
  }

  CoordSys lonLat_;
  CoordSys mercator_;
};

TEST_F(PublicObjectTest, EveryCodeComesBackEqualThroughEitherSystem) {
  struct Passage {
    const char* name;
    const CoordSys* table;
    const CoordSys* caller;
  };
  const Passage passages[] = {
      {"table's own longitude/latitude", &lonLat_, nullptr},
      {"projected table, caller in longitude/latitude", &mercator_, &lonLat_},
  };
  for (const Passage& passage : passages) {
    for (int code = PX_OBJECT_NONE; code <= PX_OBJECT_COLLECTION; ++code) {
      Records records;
      PXObject in = Sample(records, uint8_t(code));
      PXObject out;
      std::string what = std::string(passage.name) + ", code " + std::to_string(code);
      ASSERT_TRUE(RoundTrip(in, &out, passage.table, passage.caller)) << what;
      ExpectSame(Describe(in), Describe(out), 1e-6, what);
      for (int i = 1; i < 8; ++i) EXPECT_EQ(out.u.bytes[i], 0) << what;
      if (code == PX_OBJECT_ROUNDED_RECTANGLE) {
        EXPECT_NEAR(Get<double>(out, PX_OBJECT_CORNER_HEIGHT), 0.02, 0.02 * 0.01) << what;
      }
    }
  }
}

// The projected table holds metres: the same point crossed without a caller
// system is taken as metres.
TEST_F(PublicObjectTest, WithoutCallerSystemCoordinatesAreTableUnits) {
  Records records;
  PXObject in = Sample(records, PX_OBJECT_POINT);
  Put(in, PX_OBJECT_X, 1.0);
  Put(in, PX_OBJECT_Y, 0.0);
  GeomObject viaCaller, direct;
  ASSERT_TRUE(layerio::ObjectFromPublic(&in, &viaCaller, &lonLat_, &mercator_));
  ASSERT_TRUE(layerio::ObjectFromPublic(&in, &direct, nullptr, &mercator_));
  PXObject metres;
  ASSERT_TRUE(layerio::ObjectToPublic(&viaCaller, &metres, &mercator_, nullptr));
  // One degree of longitude on the equator of the WGS 84 ellipsoid.
  EXPECT_NEAR(Get<double>(metres, PX_OBJECT_X), 111319.49, 0.05);
  EXPECT_NEAR(Get<double>(metres, PX_OBJECT_Y), 0.0, 0.05);
  PXObject raw;
  ASSERT_TRUE(layerio::ObjectToPublic(&direct, &raw, &mercator_, nullptr));
  EXPECT_NEAR(Get<double>(raw, PX_OBJECT_X), 1.0, 0.05);
  layerio::GeomObjectFree(&viaCaller);
  layerio::GeomObjectFree(&direct);
}

TEST_F(PublicObjectTest, EdgeCases) {
  Records r;
  GeomObject object;
  PXObject out;

  // An arc from 370 to 30 degrees keeps tenths 100 and 300 and reads back as
  // 10 and 30. Longitude/latitude tables keep x growing westward in their
  // integers, so there the stored arc is mirrored, and mirrored back.
  struct ArcCase {
    const char* table;
    const CoordSys* cs;
    double x1, y1, x2, y2;
    int16_t start, end;
  };
  const ArcCase arcs[] = {
      {"metres", &mercator_, 1000, 2000, 5000, 4000, 100, 300},
      {"degrees", &lonLat_, 10.0, 5.0, 10.4, 5.2, 1500, 1700},
  };
  for (const ArcCase& c : arcs) {
    PXObject arc = Sample(r, PX_OBJECT_ARC);
    PutRect(arc, PX_OBJECT_RECT, c.x1, c.y1, c.x2, c.y2);
    Put(arc, PX_OBJECT_ARC_START, 370.0);
    Put(arc, PX_OBJECT_ARC_END, 30.0);
    ASSERT_TRUE(layerio::ObjectFromPublic(&arc, &object, nullptr, c.cs)) << c.table;
    EXPECT_EQ(object.u.arc.startAngle, c.start) << c.table;
    EXPECT_EQ(object.u.arc.endAngle, c.end) << c.table;
    ASSERT_TRUE(layerio::ObjectToPublic(&object, &out, c.cs, nullptr));
    EXPECT_DOUBLE_EQ(Get<double>(out, PX_OBJECT_ARC_START), 10.0) << c.table;
    EXPECT_DOUBLE_EQ(Get<double>(out, PX_OBJECT_ARC_END), 30.0) << c.table;
    layerio::GeomObjectFree(&object);
  }

  // Vector symbol sizes are kept within 1..240; colours lose their top byte.
  struct SizeCase {
    int16_t given, stored;
  };
  for (SizeCase c : {SizeCase{0, 1}, SizeCase{500, 240}, SizeCase{-3, 1}, SizeCase{240, 240}}) {
    PXObject point = Sample(r, PX_OBJECT_POINT);
    Put<int16_t>(point, PX_OBJECT_SYMBOL + PX_SYMBOL_SIZE, c.given);
    Put<uint32_t>(point, PX_OBJECT_SYMBOL + PX_SYMBOL_COLOUR, 0xAB123456);
    ASSERT_TRUE(layerio::ObjectFromPublic(&point, &object, nullptr, &lonLat_));
    EXPECT_EQ(object.u.point.symbol.size, c.stored) << c.given;
    ASSERT_TRUE(layerio::ObjectToPublic(&object, &out, &lonLat_, nullptr));
    EXPECT_EQ(Get<uint32_t>(out, PX_OBJECT_SYMBOL + PX_SYMBOL_COLOUR), 0x123456u);
    layerio::GeomObjectFree(&object);
  }

  // A region ring given closed stores one point fewer (the ring closes itself
  // inside) and reads back with that count.
  {
    PXObject region = r.Make(PX_OBJECT_REGION);
    std::vector<PXPoint> closed = kOuter;
    closed.push_back(closed.front());
    Put<uint32_t>(region, PX_OBJECT_COUNT, 1);
    Put<PXSection*>(region, PX_OBJECT_REGION_POLYGONS, r.Sections({closed}));
    ASSERT_TRUE(layerio::ObjectFromPublic(&region, &object, nullptr, &lonLat_));
    ASSERT_TRUE(layerio::ObjectToPublic(&object, &out, &lonLat_, nullptr));
    const auto* sections = Get<const PXSection*>(out, PX_OBJECT_REGION_POLYGONS);
    EXPECT_EQ(sections[0].count, 4);
    EXPECT_NEAR(sections[0].points[3].x, 10.0, 1e-6);
    EXPECT_NEAR(sections[0].points[3].y, 5.4, 1e-6);
    layerio::GeomObjectFree(&object);
  }

  // Text line ends become single LF characters.
  struct TextCase {
    const char* given;
    const char* stored;
  };
  for (TextCase c : {TextCase{"a\r\nb", "a\nb"}, TextCase{"a\rb\nc", "a\nb\nc"},
                     TextCase{"", ""}}) {
    PXObject text = Sample(r, PX_OBJECT_TEXT);
    Put<const char*>(text, PX_OBJECT_TEXT_STRING, r.Text(c.given));
    ASSERT_TRUE(layerio::ObjectFromPublic(&text, &object, nullptr, &lonLat_));
    EXPECT_STREQ(static_cast<const char*>(object.data), c.stored);
    ASSERT_TRUE(layerio::ObjectToPublic(&object, &out, &lonLat_, nullptr));
    EXPECT_STREQ(Get<const char*>(out, PX_OBJECT_TEXT_STRING), c.stored);
    layerio::GeomObjectFree(&object);
  }

  // Records refused inward.
  struct Refused {
    const char* what;
    PXObject record;
  };
  std::vector<Refused> refused;
  refused.push_back({"code 199", r.Make(199)});
  refused.push_back({"code 215", r.Make(215)});
  refused.push_back({"type byte 0", r.Make(0)});
  PXObject zeroPoints = Sample(r, PX_OBJECT_POLYLINE);
  Put<uint32_t>(zeroPoints, PX_OBJECT_COUNT, 0);
  refused.push_back({"polyline of 0 points", zeroPoints});
  PXObject tooManyPoints = Sample(r, PX_OBJECT_POLYLINE);
  Put<uint32_t>(tooManyPoints, PX_OBJECT_COUNT, layerio::kPublicMaxPoints + 1);
  refused.push_back({"polyline of too many points", tooManyPoints});
  PXObject noPoints = Sample(r, PX_OBJECT_POLYLINE);
  Put<PXPoint*>(noPoints, PX_OBJECT_POLYLINE_POINTS, nullptr);
  refused.push_back({"polyline without points", noPoints});
  PXObject noSections = Sample(r, PX_OBJECT_MULTI_POLYLINE);
  Put<uint32_t>(noSections, PX_OBJECT_COUNT, 0);
  refused.push_back({"polyline of 0 sections", noSections});
  PXObject tooManySections = Sample(r, PX_OBJECT_REGION);
  Put<uint32_t>(tooManySections, PX_OBJECT_COUNT, layerio::kPublicMaxSections + 1);
  refused.push_back({"region of too many sections", tooManySections});
  PXObject emptySection = r.Make(PX_OBJECT_REGION);
  Put<uint32_t>(emptySection, PX_OBJECT_COUNT, 2);
  Put<PXSection*>(emptySection, PX_OBJECT_REGION_POLYGONS, r.Sections({kOuter, {}}));
  refused.push_back({"region with an empty section", emptySection});
  PXObject lineSymbol = Sample(r, PX_OBJECT_MULTIPOINT);
  Put<uint32_t>(lineSymbol, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE, PX_OBJECT_LINE);
  refused.push_back({"multipoint of symbol type 202", lineSymbol});
  PXObject badAngle = Sample(r, PX_OBJECT_ARC);
  Put(badAngle, PX_OBJECT_ARC_START, std::nan(""));
  refused.push_back({"arc angle not a number", badAngle});
  PXObject badPart = Sample(r, PX_OBJECT_COLLECTION);
  Put<uint32_t>(badPart, PX_OBJECT_MULTIPOINT_SYMBOL_TYPE, 0);
  refused.push_back({"collection with a refused part", badPart});
  for (const Refused& c : refused) {
    EXPECT_EQ(layerio::ObjectFromPublic(&c.record, &object, nullptr, &lonLat_), 0) << c.what;
    EXPECT_EQ(object.kind, layerio::kGeomNone) << c.what;
    layerio::GeomObjectFree(&object);
  }
}

TEST_F(PublicObjectTest, CollectionPartsArePresentByTheirCounts) {
  Records r;
  PXObject in = r.Make(PX_OBJECT_COLLECTION);
  PutRegionPart(r, in, PX_OBJECT_COLLECTION_REGION);
  GeomObject object;
  ASSERT_TRUE(layerio::ObjectFromPublic(&in, &object, nullptr, &lonLat_));
  uint32_t mask = 0;
  ASSERT_TRUE(layerio::GeomCollectionPartMask(&object, &mask));
  EXPECT_EQ(mask, 1u);
  PXObject out;
  ASSERT_TRUE(layerio::ObjectToPublic(&object, &out, &lonLat_, nullptr));
  EXPECT_EQ(Get<uint32_t>(out, PX_OBJECT_MULTIPOINT_COUNT), 0u);
  EXPECT_EQ(Get<uint32_t>(out, PX_OBJECT_COLLECTION_POLYLINE + PX_OBJECT_COUNT), 0u);
  ExpectSame(Describe(in), Describe(out), 1e-6, "region part only");
  layerio::GeomObjectFree(&object);
}

// A turned text comes back as the box it was given, within the rounding of
// the frame's working plane.
TEST_F(PublicObjectTest, TurnedTextKeepsItsBox) {
  Records r;
  for (double angle : {30.0, 135.0, 250.0, 300.0}) {
    PXObject in = Sample(r, PX_OBJECT_TEXT);
    Put(in, PX_OBJECT_TEXT_ANGLE, angle);
    PXObject out;
    ASSERT_TRUE(RoundTrip(in, &out, &lonLat_, nullptr)) << angle;
    EXPECT_DOUBLE_EQ(Get<double>(out, PX_OBJECT_TEXT_ANGLE), angle);
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(Get<double>(out, PX_OBJECT_RECT + 8 * i), Get<double>(in, PX_OBJECT_RECT + 8 * i),
                  0.01)
          << angle << " corner value " << i;
  }
}

TEST_F(PublicObjectTest, KindsTheRecordCannotCarryAreRefusedOutward) {
  GeomObject frame;
  layerio::GeomObjectInit(&frame, layerio::kGeomFrame);
  PXObject out;
  std::memset(&out, 0x5A, sizeof out);
  EXPECT_EQ(layerio::ObjectToPublic(&frame, &out, &lonLat_, nullptr), 0);
  for (uint8_t byte : out.u.bytes) ASSERT_EQ(byte, 0);
}

// Filled records point into scratch arrays that grow for a larger object and
// serve the next conversion again.
TEST_F(PublicObjectTest, ScratchArraysGrowAndAreReused) {
  Records r;
  std::vector<PXPoint> many;
  for (int i = 0; i < 20000; ++i) many.push_back({10.0 + i * 1e-4, 5.0 + (i % 7) * 1e-3});
  PXObject big = r.Make(PX_OBJECT_POLYLINE);
  Put<uint32_t>(big, PX_OBJECT_COUNT, uint32_t(many.size()));
  Put<PXPoint*>(big, PX_OBJECT_POLYLINE_POINTS, r.Points(many));
  PXObject out;
  ASSERT_TRUE(RoundTrip(big, &out, &lonLat_, nullptr));
  ExpectSame(Describe(big), Describe(out), 1e-6, "20,000 points");
  const auto* first = Get<const PXPoint*>(out, PX_OBJECT_POLYLINE_POINTS);
  PXObject small = Sample(r, PX_OBJECT_POLYLINE);
  ASSERT_TRUE(RoundTrip(small, &out, &lonLat_, nullptr));
  EXPECT_EQ(Get<const PXPoint*>(out, PX_OBJECT_POLYLINE_POINTS), first);
  layerio::PublicObjectScratchFree();
  ASSERT_TRUE(RoundTrip(small, &out, &lonLat_, nullptr));
  ExpectSame(Describe(small), Describe(out), 1e-6, "after the arrays were freed");
}

}  // namespace
