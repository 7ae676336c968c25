// The public object record: every type code converted inward and back out,
// through the table's own coordinate system and through a caller's, the
// record's edge cases, and the scratch arrays the filled records point into.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "layerio.h"
#include "mapfile/coordsys/coordsys.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/objstore.h"
#include "mapfile/tables/pxobject.h"
#include "tests/mapfile/tables/pxrecords_fixture.h"
#include "tests/mapfile/tables/pxstore_fixture.h"

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
using pxrecords::Describe;
using pxrecords::ExpectSame;
using pxrecords::Get;
using pxrecords::kOuter;
using pxrecords::Put;
using pxrecords::PutRect;
using pxrecords::PutRegionPart;
using pxrecords::Records;
using pxrecords::Sample;

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
