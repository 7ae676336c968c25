// The coordinate-system and object services of the interface: clause text
// and records, default bounds, datums and ellipsoids, a table's system and
// the caller's, object counts, and conversion, distance and intersection of
// object records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "layerio.h"
#include "mapfile/tables/frame.h"
#include "mapfile/tables/pxobject.h"
#include "mapfile/tables/table.h"
#include "tests/mapfile/tables/pxrecords_fixture.h"
#include "tests/mapfile/tables/pxstore_fixture.h"

namespace {

using layerio::CoordSys;
using pxrecords::Get;
using pxrecords::Put;

PXObject Point(double x, double y) {
  PXObject o{};
  o.u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_POINT;
  Put(o, PX_OBJECT_X, x);
  Put(o, PX_OBJECT_Y, y);
  return o;
}

PXObject Rectangle(double x1, double y1, double x2, double y2) {
  PXObject o{};
  o.u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_RECTANGLE;
  Put(o, PX_OBJECT_RECT, x1);
  Put(o, PX_OBJECT_RECT + 8, y1);
  Put(o, PX_OBJECT_RECT + 16, x2);
  Put(o, PX_OBJECT_RECT + 24, y2);
  return o;
}

uint16_t Projection(const PXCoordSys& cs) {
  uint16_t p;
  std::memcpy(&p, cs.u.bytes, sizeof p);
  return p;
}
void SetProjection(PXCoordSys& cs, uint16_t p) { std::memcpy(cs.u.bytes, &p, sizeof p); }
double Bound(const PXCoordSys& cs, int i) {
  double b;
  std::memcpy(&b, cs.u.bytes + 256 + 8 * i, sizeof b);
  return b;
}
void SetBounds(PXCoordSys& cs, double x1, double y1, double x2, double y2) {
  const double b[4] = {x1, y1, x2, y2};
  std::memcpy(cs.u.bytes + 256, b, sizeof b);
}

const char* kLonLat = "CoordSys Earth Projection 1, 104";
const char* kMercator =
    "CoordSys Earth Projection 10, 104, \"m\", 0 Bounds (-20037508, -20037508) (20037508, "
    "20037508)";

int16_t CloseNothing(layerio::TableObject*, uint16_t) { return 1; }

class CoordSysServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(PXInitialize(PX_INTERFACE_NUMBER), 1); }
  void TearDown() override {
    while (layerio::Initialised()) PXShutdown();
    for (layerio::ObjStore* store : stores_) pxtest::DeleteHeaderStore(store);
  }

  PXCoordSys Parse(const char* clause) {
    PXCoordSys cs{};
    EXPECT_EQ(PXParseCoordSys(clause, &cs), 1) << clause;
    return cs;
  }

  // A table in a slot of its own: with a map store of the given kind over
  // `clause`, or without a map part (kind 0).
  PXTableHandle Open(int16_t storeKind, const char* clause, uint32_t mode) {
    auto table = std::make_unique<layerio::TableObject>();
    if (storeKind) {
      CoordSys cs;
      EXPECT_TRUE(layerio::CoordSysParseText(&cs, clause, true));
      stores_.push_back(pxtest::NewHeaderStore(storeKind, &cs, 3, 4, 5));
      table->store = stores_.back();
    }
    tables_.push_back(std::move(table));
    return layerio::SlotRegister(layerio::FileHandle(700 + tables_.size()), tables_.back().get(),
                                 mode, layerio::kSlotKindNative, 0, CloseNothing);
  }

  std::vector<std::unique_ptr<layerio::TableObject>> tables_;
  std::vector<layerio::ObjStore*> stores_;
};

TEST_F(CoordSysServicesTest, ParsedRecordWritesItsWholeRangeBackAsClause) {
  struct Case {
    const char* clause;
    const char* written;
  };
  const Case cases[] = {
      // The default range of longitude/latitude systems goes without bounds.
      {kLonLat, "CoordSys Earth Projection 1, 104"},
      {"CoordSys Earth Projection 1, 104 Bounds (-180, -90) (180, 90)",
       "CoordSys Earth Projection 1, 104 Bounds (-180, -90) (180, 90)"},
      {"CoordSys NonEarth Units \"m\" Bounds (0, 0) (1000, 500)",
       "CoordSys NonEarth Units \"m\" Bounds (0, 0) (1000, 500)"},
  };
  for (const Case& c : cases) {
    PXCoordSys cs = Parse(c.clause);
    char text[300];
    ASSERT_EQ(PXCoordSysToClause(&cs, text), 1) << c.clause;
    EXPECT_STREQ(text, c.written);
    char shorter[254];
    ASSERT_EQ(PXCoordSysToString(&cs, shorter), 1) << c.clause;
    EXPECT_STREQ(shorter, c.written);
  }
  PXCoordSys out{};
  EXPECT_EQ(PXParseCoordSys("CoordSys Earth Projection", &out), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
}

TEST_F(CoordSysServicesTest, LonLatWorldBoundsAreTakenAsTheWideRange) {
  PXCoordSys cs = Parse(kLonLat);
  char text[300];
  struct Case {
    double bounds[4];
    const char* written;
  };
  const Case cases[] = {
      {{-360, -90, 360, 90}, "CoordSys Earth Projection 1, 104"},  // the default range
      {{-360, -90, 360, 89}, "CoordSys Earth Projection 1, 104 Bounds (-360, -90) (360, 89)"},
  };
  for (const Case& c : cases) {
    SetBounds(cs, c.bounds[0], c.bounds[1], c.bounds[2], c.bounds[3]);
    ASSERT_EQ(PXCoordSysToClause(&cs, text), 1);
    EXPECT_STREQ(text, c.written);
  }
}

TEST_F(CoordSysServicesTest, InvalidProjectionNumbers) {
  PXCoordSys cs = Parse(kLonLat);
  SetProjection(cs, 32);
  char text[300] = "x";
  EXPECT_EQ(PXCoordSysToClause(&cs, text), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXCoordSysToString(&cs, text), 0);
  PXCoordSys before = cs;
  PXSetDefaultBounds(&cs);
  EXPECT_EQ(std::memcmp(&before, &cs, sizeof cs), 0);
  PXObject a = Point(1, 2), out{};
  EXPECT_EQ(PXConvertObject(&a, &cs, &out, &cs), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
}

TEST_F(CoordSysServicesTest, DefaultBounds) {
  PXCoordSys cs = Parse(kLonLat);
  SetBounds(cs, 0, 0, 1, 1);
  PXSetDefaultBounds(&cs);
  EXPECT_EQ(Projection(cs), 1);
  EXPECT_DOUBLE_EQ(Bound(cs, 0), -1000);
  EXPECT_DOUBLE_EQ(Bound(cs, 3), 1000);
  PXCoordSys mercator = Parse(kMercator);
  SetBounds(mercator, 0, 0, 1, 1);
  PXSetDefaultBounds(&mercator);
  EXPECT_LT(Bound(mercator, 0), -2e7);
  EXPECT_GT(Bound(mercator, 2), 2e7);
}

TEST_F(CoordSysServicesTest, DatumsAndEllipsoids) {
  for (uint32_t number : {0u, 104u, 154u, 1000u, 1005u, 1019u}) {
    PXDatum datum;
    ASSERT_EQ(PXGetDatum(number, &datum), 1) << number;
    uint16_t found = 0;
    EXPECT_EQ(PXFindDatum(&datum, &found), 1) << number;
    EXPECT_EQ(found, number);
  }
  PXDatum unknown;
  ASSERT_EQ(PXGetDatum(500, &unknown), 1);
  EXPECT_EQ(unknown.u.bytes[0], 28);  // the empty record's ellipsoid
  PXDatum changed;
  PXGetDatum(1005, &changed);
  changed.u.bytes[8] ^= 1;  // dx no longer that of any datum
  uint16_t found = 7;
  EXPECT_EQ(PXFindDatum(&changed, &found), 0);
  EXPECT_EQ(found, 0);

  double values[3] = {};
  PXGetEllipsoid(28, values);
  EXPECT_DOUBLE_EQ(values[0], 6378137.0);  // WGS 84
  EXPECT_NEAR(1 / values[2], 298.257223563, 1e-6);

  PXCoordSys mercator = Parse(kMercator);
  PXShutdown();
  // Unguarded entries serve without the library.
  char text[254];
  ASSERT_EQ(PXCoordSysToString(&mercator, text), 1);
  EXPECT_STREQ(text,
               "CoordSys Earth Projection 10, 104, \"m\", 0 Bounds (-20037508, -20037508) "
               "(20037508, 20037508)");
  changed.u.bytes[8] ^= 1;  // datum 1005 again
  EXPECT_EQ(PXFindDatum(&changed, &found), 1);
  EXPECT_EQ(found, 1005);
  PXDatum zero;
  std::memset(&zero, 0x5A, sizeof zero);
  EXPECT_EQ(PXGetDatum(104, &zero), 0);
  for (uint8_t b : zero.u.bytes) ASSERT_EQ(b, 0);
  double none[3] = {1, 2, 3};
  PXGetEllipsoid(28, none);
  EXPECT_EQ(none[0], 0.0);
  EXPECT_EQ(none[2], 0.0);
}

TEST_F(CoordSysServicesTest, Distance) {
  PXCoordSys lonLat = Parse(kLonLat), mercator = Parse(kMercator);
  const uint32_t kKilometres = 1, kMetres = 7;
  PXObject a = Point(0, 0), b = Point(1, 0);
  double d = -1;
  ASSERT_EQ(PXDistance(&d, &a, &b, &lonLat, kKilometres, 0), 1);
  EXPECT_NEAR(d, 111.2, 0.1);
  // Projected: planar in the system's units with flag 0, on the sphere else.
  PXObject p = Point(0, 0), q = Point(3000, 4000);
  ASSERT_EQ(PXDistance(&d, &p, &q, &mercator, kMetres, 0), 1);
  EXPECT_DOUBLE_EQ(d, 5000.0);
  ASSERT_EQ(PXDistance(&d, &p, &q, &mercator, kMetres, 1), 1);
  EXPECT_NEAR(d, 5000.0, 30.0);
  EXPECT_NE(d, 5000.0);

  PXObject line{};
  line.u.bytes[PX_OBJECT_TYPE] = PX_OBJECT_LINE;
  d = -1;
  EXPECT_EQ(PXDistance(&d, &line, &b, &lonLat, kKilometres, 0), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXDistance(nullptr, &a, &b, &lonLat, kKilometres, 0), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXDistance(&d, &a, &b, &lonLat, 9999, 0), 0);
  // Points that are no finite numbers have no distance.
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    PXObject far = Point(bad, 0);
    d = -1;
    EXPECT_EQ(PXDistance(&d, &a, &far, &lonLat, kKilometres, 0), 0) << bad;
    EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
    EXPECT_EQ(d, 0.0);
  }
  // Nor do the object services take them.
  PXObject nowhere = Point(std::nan(""), 0), out;
  EXPECT_EQ(PXConvertObject(&nowhere, &lonLat, &out, &mercator), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(PXObjectsIntersect(&a, &nowhere, &lonLat), 0);
}

TEST_F(CoordSysServicesTest, ConvertObjectBetweenSystems) {
  PXCoordSys lonLat = Parse(kLonLat), mercator = Parse(kMercator);
  PXObject in = Point(1, 0), out;
  ASSERT_EQ(PXConvertObject(&in, &lonLat, &out, &mercator), 1);
  EXPECT_EQ(out.u.bytes[PX_OBJECT_TYPE], PX_OBJECT_POINT);
  EXPECT_NEAR(Get<double>(out, PX_OBJECT_X), 111319.49, 0.05);
  PXObject back;
  ASSERT_EQ(PXConvertObject(&out, &mercator, &back, &lonLat), 1);
  EXPECT_NEAR(Get<double>(back, PX_OBJECT_X), 1.0, 1e-6);
  // The systems of one call are not taken for the next: the same record
  // rewritten in place as another system converts as that system.
  PXCoordSys system = lonLat;
  PXObject again;
  ASSERT_EQ(PXConvertObject(&in, &system, &again, &mercator), 1);
  EXPECT_EQ(Get<double>(again, PX_OBJECT_X), Get<double>(out, PX_OBJECT_X));
  system = mercator;
  ASSERT_EQ(PXConvertObject(&out, &system, &again, &lonLat), 1);
  EXPECT_NEAR(Get<double>(again, PX_OBJECT_X), 1.0, 1e-6);

  PXObject bad{};
  bad.u.bytes[PX_OBJECT_TYPE] = 199;
  std::memset(&out, 0x5A, sizeof out);
  EXPECT_EQ(PXConvertObject(&bad, &lonLat, &out, &mercator), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  for (uint8_t byte : out.u.bytes) ASSERT_EQ(byte, 0);
}

TEST_F(CoordSysServicesTest, ObjectsIntersect) {
  PXCoordSys lonLat = Parse(kLonLat);
  PXObject box = Rectangle(0, 0, 2, 2);
  struct Case {
    const char* what;
    PXObject other;
    uint16_t meets;
  };
  const Case cases[] = {
      {"overlapping box", Rectangle(1, 1, 3, 3), 1},
      {"touching box", Rectangle(2, 0, 3, 1), 1},
      {"box apart", Rectangle(5, 5, 6, 6), 0},
      {"point inside", Point(1, 1), 1},
      {"point outside", Point(3, 1), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PXObjectsIntersect(&box, &c.other, &lonLat), c.meets) << c.what;
    EXPECT_EQ(PXGetLastError(), 0) << c.what;
  }
  PXObject bad{};
  bad.u.bytes[PX_OBJECT_TYPE] = 215;
  EXPECT_EQ(PXObjectsIntersect(&box, &bad, &lonLat), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
}

TEST_F(CoordSysServicesTest, TableAndCallerSystems) {
  const uint16_t kNoMapFile = 1920;
  PXTableHandle noMap = Open(0, nullptr, PX_OPEN_READ_WRITE);
  PXTableHandle memory = Open(pxtest::kStoreMemory, kMercator, PX_OPEN_READ_WRITE);
  PXTableHandle mapped = Open(pxtest::kStoreMapFile, kMercator, PX_OPEN_READ_WRITE);
  PXTableHandle readOnly = Open(pxtest::kStoreMapFile, kMercator, PX_OPEN_READ);
  ASSERT_TRUE(noMap && memory && mapped && readOnly);

  PXCoordSys cs{};
  EXPECT_EQ(PXGetTableCoordSys(noMap, &cs), 0);
  EXPECT_EQ(PXGetLastError(), kNoMapFile);
  EXPECT_EQ(PXGetTableCoordSys(memory, &cs), 0);
  EXPECT_EQ(PXGetLastError(), kNoMapFile);
  EXPECT_EQ(PXGetTableCoordSys(999, &cs), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  ASSERT_EQ(PXGetTableCoordSys(mapped, &cs), 1);
  char text[300];
  ASSERT_EQ(PXCoordSysToClause(&cs, text), 1);
  EXPECT_STREQ(text,
               "CoordSys Earth Projection 10, 104, \"m\", 0 Bounds (-20037508, -20037508) "
               "(20037508, 20037508)");

  // The table's own system (whatever its bounds) leaves objects unconverted.
  layerio::HandleSlot* slot = layerio::SlotFind(mapped);
  ASSERT_NE(slot, nullptr);
  SetBounds(cs, -1000, -1000, 1000, 1000);
  ASSERT_EQ(PXSetApiCoordSys(mapped, &cs), 1);
  EXPECT_EQ(slot->callerCoordSysDiffers, 0);
  PXCoordSys lonLat = Parse(kLonLat);
  ASSERT_EQ(PXSetApiCoordSys(mapped, &lonLat), 1);
  EXPECT_EQ(slot->callerCoordSysDiffers, 1);
  EXPECT_EQ(slot->callerCoordSys.projection, 1);
  // Another datum is another system.
  PXCoordSys otherDatum = Parse(
      "CoordSys Earth Projection 10, 33, \"m\", 0 Bounds (-20037508, -20037508) (20037508, "
      "20037508)");
  ASSERT_EQ(PXSetApiCoordSys(mapped, &otherDatum), 1);
  EXPECT_EQ(slot->callerCoordSysDiffers, 1);

  EXPECT_EQ(PXSetApiCoordSys(readOnly, &lonLat), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_READ_ONLY);
  PXCoordSys invalid = lonLat;
  SetProjection(invalid, 40);
  EXPECT_EQ(PXSetApiCoordSys(mapped, &invalid), 0);
  EXPECT_EQ(PXGetLastError(), PX_ERROR_BAD_HANDLE);
  EXPECT_EQ(slot->callerCoordSysDiffers, 1);

  uint32_t points = 9, lines = 9, regions = 9;
  ASSERT_EQ(PXGetObjectCounts(mapped, &points, &lines, &regions), 1);
  EXPECT_EQ(points, 3u);
  EXPECT_EQ(lines, 4u);
  EXPECT_EQ(regions, 5u);
  ASSERT_EQ(PXGetObjectCounts(readOnly, nullptr, &lines, nullptr), 1);
  ASSERT_EQ(PXGetObjectCounts(noMap, &points, &lines, &regions), 1);
  EXPECT_EQ(points + lines + regions, 0u);
}

}  // namespace
