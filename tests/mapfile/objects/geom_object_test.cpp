#include "mapfile/objects/geom.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/mapfile/objects/geom_fixture.h"

namespace layerio {

// Points compare by value in the tests.
bool operator==(const IPoint& a, const IPoint& b) { return a.x == b.x && a.y == b.y; }
std::ostream& operator<<(std::ostream& os, const IPoint& p) {
  return os << "(" << p.x << "," << p.y << ")";
}

namespace {

class GeomTest : public objtest::GeomHeapTest {
 protected:
  // A polyline or region made of the given parts.
  GeomObject* Poly(int kind, const std::vector<std::vector<IPoint>>& parts) {
    GeomObject* o = New(kind);
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_TRUE(GeomPartSetPoints(o, int32_t(i), 0, parts[i].data(), int32_t(parts[i].size()),
                                    nullptr, nullptr));
    }
    return o;
  }

  static std::vector<IPoint> PartPoints(const GeomObject* o, int part) {
    const GeomPart& p = GeomParts(o)[part];
    const IPoint* pts = GeomPartPoints(o, &p);
    return std::vector<IPoint>(pts, pts + p.pointCount);
  }
};


bool IsNone(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits == kGeomValueNone;
}

// ----- new objects -----

TEST_F(GeomTest, EveryNewObjectHasTheDefaultAreaPenAndBrush) {
  for (int kind = 0; kind < kGeomKindCount; ++kind) {
    GeomObject stack;
    GeomObjectInit(&stack, kind);
    GeomObject* heap = New(kind);
    const GeomObject* both[2] = {&stack, heap};
    for (const GeomObject* o : both) {
      SCOPED_TRACE(kind);
      EXPECT_EQ(o->kind, kind);
      EXPECT_EQ(o->pen.width, 1);
      EXPECT_EQ(o->pen.pattern, 2u);
      EXPECT_EQ(o->pen.colour, 0u);
      EXPECT_EQ(o->brush.pattern, 2u);
      EXPECT_EQ(o->brush.foreground, 0xFFFFFFu);
      EXPECT_EQ(o->brush.background, 0xFFFFFFu);
      EXPECT_EQ(o->brush.transparent, 0);
    }
    // Objects with a data buffer start with an empty block of their own.
    bool buffered = kind == 4 || kind == 5 || kind == 6 || kind == 11 || kind == 12 ||
                    kind == 13 || kind == 14;
    EXPECT_EQ(GeomObjectOwnsBuffer(heap), buffered ? 1 : 0) << kind;
    GeomObjectFree(&stack);
  }
  SymbolStyle s;
  ASSERT_TRUE(GeomObjectGetSymbol(New(kGeomPoint), &s));
  EXPECT_EQ(s.shape, 32);
  EXPECT_EQ(s.size, 9);
  EXPECT_EQ(s.kind, kSymbolSimple);
}

TEST_F(GeomTest, KindGroupsAndNames) {
  const char* names[kGeomKindCount] = {"",       "Point",   "Line",      "Arc",
                                       "Polyline", "Region", "Text",    "Rectangle",
                                       "Rounded Rectangle", "Ellipse", "Frame", "",
                                       "",       "Multipoint", "Collection"};
  for (int kind = 0; kind < kGeomKindCount; ++kind) {
    GeomObject o;
    GeomObjectInit(&o, kind);
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    GeomObjectKindName(&o, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, names[kind]) << kind;
    EXPECT_EQ(buffer[31], 0);  // padded
    EXPECT_EQ(GeomKindIsArea(kind), kind >= 5 && kind <= 9) << kind;
    EXPECT_EQ(GeomKindIsLinear(kind), kind >= 2 && kind <= 4) << kind;
    EXPECT_EQ(GeomKindIsPoint(kind), kind == 1 || kind == 13) << kind;
    EXPECT_EQ(GeomKindHasBrush(kind), kind == 5 || (kind >= 7 && kind <= 10)) << kind;
  }
  GeomObject o;
  GeomObjectInit(&o, kGeomRegion);
  char small[4];
  GeomObjectKindName(&o, small, sizeof small);
  EXPECT_STREQ(small, "Reg");
}

// ----- objects held in values -----

// A value holds a copy of its object with buffers of its own, freed with the
// value, and reads as the object's kind name. Until the map-object services
// are installed an object is refused rather than copied as its bytes stand
// (which would share the source's buffers).
TEST_F(GeomTest, ValuesHoldTheirOwnCopyOfAnObject) {
  GeomObject* line = Poly(kGeomPolyline, {{{0, 0}, {10, 0}, {10, 5}}, {{1, 1}, {2, 2}}});
  Value held{};
  EXPECT_FALSE(ValueSetObject(line, 4, &held));
  EXPECT_TRUE(ErrorHasCode(479));
  EXPECT_EQ(held.u.p, nullptr);

  GeomValueServicesInstall();
  ASSERT_TRUE(ValueSetObject(line, 4, &held));
  const auto* object = static_cast<const GeomObject*>(held.u.p);
  EXPECT_NE(object->data, line->data);
  EXPECT_EQ(PartPoints(object, 1), PartPoints(line, 1));
  Value copy{};
  ASSERT_TRUE(ValueCopy(&copy, &held));
  EXPECT_EQ(copy.aux, 4);
  EXPECT_NE(static_cast<const GeomObject*>(copy.u.p)->data, object->data);
  ValueFree(&held);  // the copy stands on its own
  EXPECT_EQ(PartPoints(static_cast<const GeomObject*>(copy.u.p), 0), PartPoints(line, 0));
  char text[32];
  EXPECT_STREQ(ValueToText(&copy, text, sizeof text, -1, 0), "Polyline");
  ValueFree(&copy);
  EXPECT_EQ(copy.u.p, nullptr);
}

// ----- storage variants -----

TEST_F(GeomTest, StorageVariantOfEveryKind) {
  struct Case {
    const char* name;
    int kind;
    uint32_t parts;   // polylines and regions: empty parts added at once
    uint32_t points;  // points of one more part (poly) or of the multipoint
    int flagA;
    int allowShort;
    int variant;
    uint32_t size;
  };
  const Case cases[] = {
      {"point", 1, 0, 0, 0, 0, 1, 0},
      {"rectangle", 7, 0, 0, 0, 0, 1, 0},
      {"small polyline", 4, 0, 2, 0, 0, 1, 28 + 16 - 4},
      {"2730 parts", 4, 2729, 1, 0, 0, 1, 2730 * 24 + 8},
      {"2731 parts, small", 4, 2730, 1, 0, 0, 2, 2731 * 28 + 8},
      {"short size limit", 4, 0, 32764, 0, 0, 1, 262136},
      {"one point over", 4, 0, 32765, 0, 0, 2, 28 + 8 * 32765},
      {"32767 parts", 5, 32767, 0, 0, 0, 2, 32767 * 28},
      {"32768 parts", 5, 32768, 0, 0, 0, 3, 32768 * 28},
      {"medium size limit", 4, 0, 1048572, 0, 0, 2, 28 + 8 * 1048572},
      {"above medium size", 4, 0, 1048573, 0, 0, 3, 28 + 8 * 1048573},
      {"values, short forms", 5, 0, 4, 1, 1, 1, 28 + 32 - 4},
      {"values, no short forms", 5, 0, 4, 1, 0, 3, 28 + 32},
      {"multipoint", 13, 0, 3, 0, 0, 2, 24},
      {"multipoint limit", 13, 0, 1048575, 0, 0, 2, 8 * 1048575},
      {"multipoint 8 MiB", 13, 0, 1048576, 0, 0, 3, 8 * 1048576},
      {"multipoint values", 13, 0, 3, 1, 0, 3, 24},
      {"multipoint values, short", 13, 0, 3, 1, 1, 2, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GeomObject* o = New(c.kind);
    o->flagA = uint16_t(c.flagA);
    if (c.parts) {
      ASSERT_TRUE(GeomPartsAdd(o, c.parts, 0, 0, nullptr));
    }
    if (c.points) {
      std::vector<IPoint> pts(c.points);
      for (uint32_t i = 0; i < c.points; ++i) pts[i] = {int32_t(i), int32_t(i % 7)};
      // A region's ring is closed by one more point.
      int32_t n = c.kind == kGeomRegion ? int32_t(c.points) - 1 : int32_t(c.points);
      ASSERT_TRUE(GeomPartSetPoints(o, int32_t(c.parts), 0, pts.data(), n, nullptr, nullptr));
    }
    int variant = 0;
    EXPECT_EQ(GeomObjectStorageSize(o, &variant, c.allowShort), c.size);
    EXPECT_EQ(variant, c.variant);
    if (!c.allowShort) {
      EXPECT_EQ(GeomObjectIsCodeVariant1(o), c.variant == 1);
      EXPECT_EQ(GeomObjectIsCodeVariant2(o), c.variant == 2);
    }
  }
}

TEST_F(GeomTest, StorageVariantOfTextsItemsAndCollections) {
  GeomObject* text = New(kGeomText);
  ASSERT_TRUE(GeomTextSet(text, "Main Street"));
  int variant = 0;
  EXPECT_EQ(GeomObjectStorageSize(text, &variant, 0), 12u);
  EXPECT_EQ(variant, 1);

  GeomObject* items = New(kGeomItems24);
  items->u.items.count = 3;
  EXPECT_EQ(GeomObjectStorageSize(items, &variant, 0), 72u);
  EXPECT_EQ(variant, 1);

  GeomObject* collection = New(kGeomCollection);
  EXPECT_EQ(GeomObjectStorageSize(collection, &variant, 0), 0u);
  EXPECT_EQ(variant, 2);
  GeomObject* mp = New(kGeomMultipoint);
  IPoint p[2] = {{1, 2}, {3, 4}};
  ASSERT_TRUE(GeomMultipointAddPoints(mp, 2, p, nullptr, nullptr));
  ASSERT_TRUE(GeomCollectionAddObject(collection, mp, 0));
  EXPECT_EQ(GeomObjectStorageSize(collection, &variant, 0), 16u);
  EXPECT_EQ(variant, 2);
  // One part that needs the long form takes the collection with it.
  GeomObject* big = New(kGeomRegion);
  ASSERT_TRUE(GeomPartsAdd(big, 32768, 0, 0, nullptr));
  ASSERT_TRUE(GeomCollectionAddObject(collection, big, 0));
  EXPECT_EQ(GeomObjectStorageSize(collection, &variant, 0), 16u + 32768u * 28u);
  EXPECT_EQ(variant, 3);
}

// ----- parts -----

TEST_F(GeomTest, PartsAddLaysOutHeadersThenPoints) {
  GeomObject* o = Poly(kGeomPolyline, {{{0, 0}, {10, 0}, {10, 10}}, {{5, 5}, {6, 6}}});
  ASSERT_EQ(o->u.poly.partCount, 2u);
  // Headers first, then the points of the parts in order.
  const unsigned char* bytes = static_cast<const unsigned char*>(o->data);
  auto u32 = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes + at, 4);
    return v;
  };
  EXPECT_EQ(u32(0), 3u);           // point count of part 0
  EXPECT_EQ(u32(24), 56u);         // its first point after two headers
  EXPECT_EQ(u32(28 + 0), 2u);      // part 1
  EXPECT_EQ(u32(28 + 24), 56u + 24u);
  EXPECT_EQ(o->u.poly.dataSize, 56u + 5 * 8u);
  EXPECT_EQ(u32(56 + 8), 10u);     // x of the second point

  // A group of three parts added as one polygon: the first records the two
  // after it; all are empty, placed at the end of the data.
  uint32_t first = 0;
  ASSERT_TRUE(GeomPartsAdd(o, 3, 4, 1, &first));
  EXPECT_EQ(first, 2u);
  const GeomPart* parts = GeomParts(o);
  EXPECT_EQ(parts[0].position, 5 * 28u);  // existing points moved up
  EXPECT_EQ(parts[1].position, 5 * 28u + 24u);
  uint32_t following[5] = {0, 0, 2, 0, 0};
  for (int i = 2; i < 5; ++i) {
    EXPECT_EQ(parts[i].pointCount, 0);
    EXPECT_EQ(parts[i].following, following[i]);
    EXPECT_EQ(parts[i].position, o->u.poly.dataSize);
    EXPECT_EQ(parts[i].bounds.x1, INT32_MAX);
    EXPECT_EQ(parts[i].bounds.x2, INT32_MIN);
  }
  EXPECT_EQ(PartPoints(o, 0), (std::vector<IPoint>{{0, 0}, {10, 0}, {10, 10}}));
  EXPECT_EQ(PartPoints(o, 1), (std::vector<IPoint>{{5, 5}, {6, 6}}));

  // Filling the empty parts of the group in any order keeps every part's
  // points apart.
  IPoint a[2] = {{1, 1}, {2, 2}}, b[1] = {{7, 7}};
  ASSERT_TRUE(GeomPartInsertPoints(o, nullptr, 3, 0, a, 2, nullptr, nullptr));
  ASSERT_TRUE(GeomPartInsertPoints(o, nullptr, 2, 0, b, 1, nullptr, nullptr));
  EXPECT_EQ(PartPoints(o, 2), (std::vector<IPoint>{{7, 7}}));
  EXPECT_EQ(PartPoints(o, 3), (std::vector<IPoint>{{1, 1}, {2, 2}}));
  EXPECT_EQ(PartPoints(o, 1), (std::vector<IPoint>{{5, 5}, {6, 6}}));
  uint32_t n = 0;
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrPointCount, &n));
  EXPECT_EQ(n, 8u);
}

TEST_F(GeomTest, RegionRingsAreStoredClosed) {
  GeomObject* o = New(kGeomRegion);
  IPoint tri[3] = {{0, 0}, {10, 0}, {0, 10}};
  ASSERT_TRUE(GeomPartSetPoints(o, 0, 0, tri, 3, nullptr, nullptr));
  EXPECT_EQ(PartPoints(o, 0), (std::vector<IPoint>{{0, 0}, {10, 0}, {0, 10}, {0, 0}}));
  int32_t count = -1;
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrPartPoints + 0, &count));
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(GeomObjectGetAttr(o, kAttrPartPoints + 1, &count));  // n = part count

  // At the end of the ring a point goes before the closing point.
  IPoint end{-5, 5};
  ASSERT_TRUE(GeomPartInsertPoints(o, nullptr, 0, 4, &end, 1, nullptr, nullptr));
  EXPECT_EQ(PartPoints(o, 0),
            (std::vector<IPoint>{{0, 0}, {10, 0}, {0, 10}, {-5, 5}, {0, 0}}));
  // A new first point renews the closing point.
  IPoint front{-1, -1};
  ASSERT_TRUE(GeomPartInsertPoints(o, nullptr, 0, 0, &front, 1, nullptr, nullptr));
  EXPECT_EQ(PartPoints(o, 0),
            (std::vector<IPoint>{{-1, -1}, {0, 0}, {10, 0}, {0, 10}, {-5, 5}, {-1, -1}}));

  // A closed walk: past the closing point the run goes on from the second.
  IPoint walk[6];
  ASSERT_TRUE(GeomPartGetPoints(o, 0, 4, 6, walk, nullptr, nullptr));
  std::vector<IPoint> got(walk, walk + 6);
  EXPECT_EQ(got, (std::vector<IPoint>{{-5, 5}, {-1, -1}, {0, 0}, {10, 0}, {0, 10}, {-5, 5}}));
  EXPECT_FALSE(GeomPartGetPoints(o, 0, 0, 7, walk, nullptr, nullptr));
  EXPECT_FALSE(GeomPartGetPoints(o, 0, 6, 1, walk, nullptr, nullptr));
  EXPECT_FALSE(GeomPartGetPoints(o, 1, 0, 1, walk, nullptr, nullptr));

  // A polyline's run must stay inside the part.
  GeomObject* line = Poly(kGeomPolyline, {{{0, 0}, {1, 1}, {2, 2}}});
  EXPECT_TRUE(GeomPartGetPoints(line, 0, 1, 2, walk, nullptr, nullptr));
  EXPECT_FALSE(GeomPartGetPoints(line, 0, 1, 3, walk, nullptr, nullptr));
}

TEST_F(GeomTest, InsertionsFollowPartPositionsNotIndexes) {
  GeomObject* o = Poly(kGeomPolyline, {{{1, 1}, {2, 2}}, {{3, 3}}, {{4, 4}, {5, 5}}});
  // Swap the first two headers, as a sort of the parts does: the points
  // stay where they are.
  GeomPart* parts = GeomParts(o);
  std::swap(parts[0], parts[1]);
  IPoint add[2] = {{9, 9}, {8, 8}};
  // Part 1 (points at the front) grows at its end: every part whose points
  // lie after it moves, including part 0 that comes before it by index.
  ASSERT_TRUE(GeomPartInsertPoints(o, nullptr, 1, 2, add, 2, nullptr, nullptr));
  EXPECT_EQ(PartPoints(o, 0), (std::vector<IPoint>{{3, 3}}));
  EXPECT_EQ(PartPoints(o, 1), (std::vector<IPoint>{{1, 1}, {2, 2}, {9, 9}, {8, 8}}));
  EXPECT_EQ(PartPoints(o, 2), (std::vector<IPoint>{{4, 4}, {5, 5}}));
}

TEST_F(GeomTest, ValueArraysMoveWithThePoints) {
  GeomObject* o = New(kGeomRegion);
  o->flagA = 1;
  o->flagB = 1;
  IPoint ring[3] = {{0, 0}, {4, 0}, {0, 4}};
  double va[3] = {1, 2, 3};
  ASSERT_TRUE(GeomPartSetPoints(o, 0, 0, ring, 3, va, nullptr));
  IPoint second[2] = {{10, 10}, {11, 10}};
  ASSERT_TRUE(GeomPartSetPoints(o, 1, 0, second, 2, nullptr, nullptr));
  IPoint mid{2, 0};
  double vm = 1.5;
  ASSERT_TRUE(GeomPartInsertPoints(o, nullptr, 0, 1, &mid, 1, &vm, nullptr));
  // Ring 0: 1, 1.5, 2, 3 and the closing 1; ring 1: missing values.
  double want[5] = {1, 1.5, 2, 3, 1};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(o->values1[i], want[i]) << i;
    EXPECT_TRUE(IsNone(o->values2[i])) << i;
  }
  for (int i = 5; i < 8; ++i) EXPECT_TRUE(IsNone(o->values1[i])) << i;
  double a[8], b[8];
  ASSERT_TRUE(GeomPartGetPoints(o, 0, 3, 3, nullptr, a, b));
  EXPECT_EQ(a[0], 3);
  EXPECT_EQ(a[1], 1);    // the closing point
  EXPECT_EQ(a[2], 1.5);  // on from the second point
  GeomBufferSizes s;
  ASSERT_TRUE(GeomObjectSizes(o, &s));
  EXPECT_EQ(s.data, 2 * 28u + 8 * 8u);
  EXPECT_EQ(s.values1, 8 * 8u);
  EXPECT_EQ(s.values2, 8 * 8u);
}

TEST_F(GeomTest, PartArgumentsOutOfRangeChangeNothing) {
  GeomObject* o = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  IPoint p{5, 5};
  uint32_t size = o->u.poly.dataSize;
  EXPECT_FALSE(GeomPartInsertPoints(o, nullptr, 1, 0, &p, 1, nullptr, nullptr));
  EXPECT_FALSE(GeomPartInsertPoints(o, nullptr, -1, 0, &p, 1, nullptr, nullptr));
  EXPECT_FALSE(GeomPartInsertPoints(o, nullptr, 0, 3, &p, 1, nullptr, nullptr));
  EXPECT_FALSE(GeomPartSetPoints(o, 2, 0, &p, 1, nullptr, nullptr));  // skips a part
  EXPECT_TRUE(GeomPartSetPoints(o, 2, 0, &p, 0, nullptr, nullptr));   // nothing to do
  EXPECT_EQ(o->u.poly.dataSize, size);
  EXPECT_EQ(o->u.poly.partCount, 1u);
  GeomObject* rect = New(kGeomRect);
  EXPECT_FALSE(GeomPartSetPoints(rect, 0, 0, &p, 1, nullptr, nullptr));
  EXPECT_FALSE(GeomPartsAdd(rect, 1, 0, 0, nullptr));
}

TEST_F(GeomTest, PartLimitPushesTheKindsGrowthError) {
  for (int kind : {kGeomPolyline, kGeomRegion}) {
    ErrorClear();
    GeomObject* o = Poly(kind, {{{0, 0}, {1, 1}}});
    uint32_t size = o->u.poly.dataSize;
    EXPECT_FALSE(GeomPartsAdd(o, kGeomMaxParts - 1, 0, 0, nullptr));
    EXPECT_TRUE(ErrorHasCode(kind == kGeomPolyline ? 899 : 900));
    EXPECT_EQ(o->u.poly.partCount, 1u);
    EXPECT_EQ(o->u.poly.dataSize, size);
  }
}

TEST_F(GeomTest, SettingAllPartsAtOnceMatchesBuildingPartByPart) {
  const std::vector<std::vector<IPoint>> rings = {
      {{0, 0}, {9, 0}, {9, 9}, {0, 9}}, {{2, 2}, {3, 2}, {3, 3}}, {{20, 20}, {21, 20}, {20, 21}}};
  for (int kind : {kGeomPolyline, kGeomRegion}) {
    SCOPED_TRACE(kind);
    GeomObject* slow = New(kind);
    GeomObject* fast = Poly(kind, {{{5, 5}, {6, 6}}});  // replaced whole
    slow->flagA = fast->flagA = 1;
    std::vector<IPoint> all;
    std::vector<int32_t> counts;
    std::vector<double> values;
    for (size_t i = 0; i < rings.size(); ++i) {
      std::vector<double> v;
      for (size_t k = 0; k < rings[i].size(); ++k) v.push_back(double(10 * i + k));
      ASSERT_TRUE(GeomPartSetPoints(slow, int32_t(i), 0, rings[i].data(),
                                    int32_t(rings[i].size()), v.data(), nullptr));
      all.insert(all.end(), rings[i].begin(), rings[i].end());
      values.insert(values.end(), v.begin(), v.end());
      counts.push_back(int32_t(rings[i].size()));
    }
    ASSERT_TRUE(GeomPartsSetAll(fast, uint32_t(counts.size()), counts.data(), all.data(),
                                values.data(), nullptr));
    ASSERT_EQ(fast->u.poly.partCount, slow->u.poly.partCount);
    ASSERT_EQ(fast->u.poly.dataSize, slow->u.poly.dataSize);
    EXPECT_EQ(std::memcmp(fast->data, slow->data, slow->u.poly.dataSize), 0);
    uint32_t points = 0;
    ASSERT_TRUE(GeomObjectGetAttr(slow, kAttrPointCount, &points));
    for (uint32_t i = 0; i < points; ++i) EXPECT_EQ(fast->values1[i], slow->values1[i]) << i;
  }
  GeomObject* o = New(kGeomRegion);
  int32_t bad[2] = {3, 0};
  IPoint p[3] = {{0, 0}, {1, 0}, {0, 1}};
  EXPECT_FALSE(GeomPartsSetAll(o, 2, bad, p, nullptr, nullptr));  // an empty part
  EXPECT_FALSE(GeomPartsSetAll(New(kGeomMultipoint), 1, bad, p, nullptr, nullptr));

  // Many parts in linear time.
  const uint32_t islands = 100000;
  std::vector<int32_t> n(islands, 3);
  std::vector<IPoint> pts(3 * islands);
  for (uint32_t i = 0; i < islands; ++i) {
    int32_t x = int32_t(i % 1000) * 10, y = int32_t(i / 1000) * 10;
    pts[3 * i] = {x, y};
    pts[3 * i + 1] = {x + 5, y};
    pts[3 * i + 2] = {x, y + 5};
  }
  ASSERT_TRUE(GeomPartsSetAll(o, islands, n.data(), pts.data(), nullptr, nullptr));
  EXPECT_EQ(PartPoints(o, islands - 1).back(), pts[3 * (islands - 1)]);
  int variant = 0;
  GeomObjectStorageSize(o, &variant, 0);
  EXPECT_EQ(variant, 3);
}

TEST_F(GeomTest, GrowthBeyondThe32BitSizePushesTheGrowthError) {
  GeomObject* o = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  uint32_t size = o->u.poly.dataSize;
  EXPECT_FALSE(GeomPartsReserve(o, 0, 0x20000000, nullptr));
  EXPECT_TRUE(ErrorHasCode(899));
  EXPECT_EQ(o->u.poly.dataSize, size);
  EXPECT_EQ(PartPoints(o, 0), (std::vector<IPoint>{{0, 0}, {1, 1}}));
}

TEST_F(GeomTest, ReserveKeepsTheCallersPartAddress) {
  GeomObject* o = Poly(kGeomRegion, {{{0, 0}, {4, 0}, {0, 4}}, {{9, 9}, {9, 8}, {8, 8}}});
  GeomPart* walk = &GeomParts(o)[1];
  int r = GeomPartsReserve(o, 0, 200000, &walk);
  ASSERT_GT(r, 0);
  EXPECT_EQ(walk, &GeomParts(o)[1]);
  EXPECT_EQ(walk->pointCount, 4);
  EXPECT_EQ(GeomPartsReserve(o, 0, 10, &walk), 1);  // large enough now
  // Insertion with a walk: the address follows the buffer.
  std::vector<IPoint> many(300000, IPoint{1, 2});
  ASSERT_TRUE(GeomPartInsertPoints(o, &walk, 0, 1, many.data(), int32_t(many.size()), nullptr,
                                   nullptr));
  EXPECT_EQ(walk, &GeomParts(o)[1]);
  EXPECT_EQ(PartPoints(o, 1).front(), (IPoint{9, 9}));
}

// ----- ownership -----

TEST_F(GeomTest, CopiesOwnTheirBuffersWhateverTheSourceFlags) {
  struct Case {
    const char* name;
    uint32_t flags;
  } cases[] = {{"own", 0}, {"borrowed", kGeomBorrowed}, {"read-only", kGeomReadOnly},
               {"borrowed read-only", kGeomBorrowed | kGeomReadOnly}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The owner keeps the buffers; the view borrows them.
    GeomObject* owner = Poly(kGeomRegion, {{{0, 0}, {4, 0}, {0, 4}}});
    owner->flagA = 1;
    ASSERT_TRUE(GeomPartsReserve(owner, 0, 0, nullptr));
    for (int i = 0; i < 4; ++i) owner->values1[i] = i;
    owner->bufferFlags |= 1u << 7;  // other bits are kept
    GeomObject view = *owner;
    view.bufferFlags |= c.flags;

    GeomObject copy;
    ASSERT_TRUE(GeomObjectCopy(&view, &copy));
    EXPECT_NE(copy.data, owner->data);
    EXPECT_NE(copy.values1, owner->values1);
    EXPECT_EQ(copy.bufferFlags, 1u << 7);
    EXPECT_EQ(PartPoints(&copy, 0), PartPoints(owner, 0));
    EXPECT_EQ(copy.values1[3], 3);
    EXPECT_EQ(copy.values2, nullptr);
    EXPECT_TRUE(GeomObjectBufferWritable(&copy));
    IPoint p{1, 1};
    EXPECT_TRUE(GeomPartInsertPoints(&copy, nullptr, 0, 1, &p, 1, nullptr, nullptr));
    EXPECT_EQ(owner->u.poly.dataSize, 28u + 32u);
    GeomObjectFree(&copy);
    EXPECT_EQ(copy.data, nullptr);

    if (c.flags & kGeomBorrowed) {
      // Freeing a borrowed view leaves the owner's buffers alone.
      GeomObjectFree(&view);
      EXPECT_EQ(PartPoints(owner, 0).size(), 4u);
      EXPECT_EQ(owner->values1[2], 2);
    }
  }
}

TEST_F(GeomTest, ReadOnlyBuffersRefuseEveryChange) {
  GeomObject* region = Poly(kGeomRegion, {{{0, 0}, {4, 0}, {0, 4}}});
  GeomObject* text = New(kGeomText);
  ASSERT_TRUE(GeomTextSet(text, "abc"));
  GeomObject* mp = New(kGeomMultipoint);
  for (GeomObject* o : {region, text, mp}) o->bufferFlags |= kGeomReadOnly;
  IPoint p{1, 1};
  size_t size = region->u.poly.dataSize;
  EXPECT_FALSE(GeomPartInsertPoints(region, nullptr, 0, 0, &p, 1, nullptr, nullptr));
  EXPECT_FALSE(GeomPartsAdd(region, 1, 0, 0, nullptr));
  EXPECT_FALSE(GeomPartsReserve(region, 0, 1, nullptr));
  EXPECT_FALSE(GeomPartSetPoints(region, 1, 0, &p, 1, nullptr, nullptr));
  EXPECT_EQ(region->u.poly.dataSize, size);
  EXPECT_FALSE(GeomTextSet(text, "x"));
  EXPECT_FALSE(GeomObjectSetAttr(text, kAttrTextString, "x"));
  EXPECT_STREQ(static_cast<char*>(text->data), "abc");
  EXPECT_FALSE(GeomMultipointAddPoints(mp, 1, &p, nullptr, nullptr));
  EXPECT_EQ(mp->u.multipoint.pointCount, 0u);
  EXPECT_FALSE(GeomObjectBufferWritable(region));
}

TEST_F(GeomTest, BorrowedBuffersAreChangedInPlaceButNeverGrown) {
  GeomObject* owner = New(kGeomText);
  ASSERT_TRUE(GeomTextSet(owner, "abcdef"));
  GeomObject view = *owner;
  view.bufferFlags |= kGeomBorrowed;
  EXPECT_FALSE(GeomObjectOwnsBuffer(&view));
  EXPECT_FALSE(GeomObjectOwnsParts(&view));
  EXPECT_TRUE(GeomTextSet(&view, "xyz"));  // fits the borrowed bytes
  EXPECT_STREQ(static_cast<char*>(owner->data), "xyz");
  EXPECT_FALSE(GeomTextSet(&view, "a much longer text"));
  EXPECT_EQ(view.data, owner->data);
  GeomObjectFree(&view);
}

TEST_F(GeomTest, ResetMakesAnOwnerAgain) {
  // An object of its own keeps its block, emptied.
  GeomObject* own = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  own->flagA = 1;
  ASSERT_TRUE(GeomObjectReset(own, kGeomRegion, 0));
  EXPECT_EQ(own->kind, kGeomRegion);
  EXPECT_NE(own->data, nullptr);
  EXPECT_EQ(own->u.poly.partCount, 0u);
  EXPECT_EQ(own->u.poly.dataSize, 0u);
  EXPECT_EQ(own->flagA, 0);
  EXPECT_TRUE(GeomObjectIsEmpty(own));

  // A borrowed view lets go of what it borrowed and starts with a block of
  // its own; the owner's buffers and parts are untouched.
  GeomObject* owner = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  owner->flagA = 1;
  ASSERT_TRUE(GeomPartsReserve(owner, 0, 0, nullptr));
  ASSERT_NE(owner->values1, nullptr);
  GeomObject view = *owner;
  view.bufferFlags |= kGeomBorrowed | kGeomReadOnly;
  ASSERT_TRUE(GeomObjectReset(&view, kGeomPolyline, 0));
  EXPECT_NE(view.data, owner->data);
  EXPECT_EQ(view.values1, nullptr);
  EXPECT_EQ(view.bufferFlags & (kGeomBorrowed | kGeomReadOnly), 0u);
  IPoint p{3, 3};
  EXPECT_TRUE(GeomPartSetPoints(&view, 0, 0, &p, 1, nullptr, nullptr));
  EXPECT_EQ(PartPoints(owner, 0).size(), 2u);
  GeomObjectFree(&view);

  // Kinds without a data buffer keep their flags.
  GeomObject rect;
  GeomObjectInit(&rect, kGeomRect);
  rect.bufferFlags = kGeomReadOnly;
  ASSERT_TRUE(GeomObjectReset(&rect, kGeomEllipse, 0));
  EXPECT_EQ(rect.bufferFlags, kGeomReadOnly);
  EXPECT_EQ(rect.data, nullptr);
}

TEST_F(GeomTest, TheScratchBufferIsSharedGrownAndNeverFreedByObjects) {
  void* scratch = GeomScratch();
  ASSERT_NE(scratch, nullptr);
  MemHandle h;
  GeomObject* o;
  ASSERT_TRUE(GeomObjectAlloc(&h, &o, kGeomMultipoint, 1));
  EXPECT_EQ(o->data, scratch);
  EXPECT_FALSE(GeomObjectOwnsBuffer(o));
  // Growing it past 65,000 bytes moves the process-wide pointer along.
  std::vector<IPoint> pts(20000, IPoint{7, 8});
  ASSERT_TRUE(GeomMultipointAddPoints(o, int32_t(pts.size()), pts.data(), nullptr, nullptr));
  EXPECT_EQ(o->data, GeomScratch());
  EXPECT_GE(MemSize(&o->data), 160000u);
  // Reset keeps it; destroying the object leaves it alive (the sanitizer
  // run would see a double free at shutdown).
  ASSERT_TRUE(GeomObjectReset(o, kGeomRegion, 0));
  EXPECT_EQ(o->data, GeomScratch());
  GeomObjectDestroy(h);
  static_cast<char*>(GeomScratch())[0] = 1;
  // A copy of a scratch user owns a block of its own.
  GeomObject copy;
  GeomObject src;
  GeomObjectInit(&src, kGeomMultipoint);
  ASSERT_TRUE(GeomObjectReset(&src, kGeomMultipoint, 1));
  ASSERT_TRUE(GeomMultipointAddPoints(&src, 2, pts.data(), nullptr, nullptr));
  ASSERT_TRUE(GeomObjectCopy(&src, &copy));
  EXPECT_NE(copy.data, GeomScratch());
  GeomObjectFree(&copy);
  GeomObjectFree(&src);
  EXPECT_EQ(GeomScratchReserveLimited(size_t{0x40000000}, nullptr, 1), 0);
}

TEST_F(GeomTest, BufferReserveKeepsOrResizes) {
  void* buffer = nullptr;
  size_t used = 0;
  ASSERT_TRUE(GeomBufferReserve(200, &buffer, &used, 1));
  ASSERT_NE(buffer, nullptr);
  EXPECT_GE(used, 200u);
  static_cast<char*>(buffer)[0] = 'k';
  void* before = buffer;
  ASSERT_TRUE(GeomBufferReserve(100, &buffer, &used, 1));  // large enough: untouched
  EXPECT_EQ(buffer, before);
  EXPECT_GE(used, 200u);
  ASSERT_TRUE(GeomBufferReserve(5000, &buffer, &used, 0));  // resized, contents kept
  EXPECT_EQ(static_cast<char*>(buffer)[0], 'k');
  EXPECT_EQ(static_cast<char*>(buffer)[4999], 0);  // grown bytes are zero
  MemFreePtr(&buffer);
}

TEST_F(GeomTest, SaveAndRestoreBuffersAroundAFill) {
  GeomObject* o = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  void* own = o->data;
  GeomBufferSave save;
  GeomObjectSaveBuffers(o, &save);
  // Filled from a stored record through the scratch buffer ...
  uint8_t kind = kGeomMultipoint;
  ASSERT_TRUE(GeomObjectSetAttr(o, kAttrKind, &kind));
  IPoint p{5, 6};
  ASSERT_TRUE(GeomMultipointAddPoints(o, 1, &p, nullptr, nullptr));
  EXPECT_EQ(o->data, GeomScratch());
  // ... then given its own buffers back.
  GeomObjectRestoreBuffers(o, &save);
  EXPECT_EQ(o->data, own);

  GeomObject* target = Poly(kGeomRegion, {{{0, 0}, {4, 0}, {0, 4}}});
  void* targetData = target->data;
  GeomObject* source = New(kGeomRect);
  IRectSet(&source->bounds, 1, 2, 3, 4);
  GeomObjectCopyKeepBuffers(target, source);
  EXPECT_EQ(target->kind, kGeomRect);
  EXPECT_EQ(target->bounds.x2, 3);
  EXPECT_EQ(target->data, targetData);
}

TEST_F(GeomTest, CollectionsCopyAndDestroyTheirPartsDeeply) {
  GeomObject* c = New(kGeomCollection);
  GeomObject* region = Poly(kGeomRegion, {{{0, 0}, {4, 0}, {0, 4}}});
  IRectSet(&region->bounds, 0, 0, 4, 4);
  GeomObject* line = Poly(kGeomPolyline, {{{10, 10}, {20, 5}}});
  IRectSet(&line->bounds, 10, 5, 20, 10);
  ASSERT_TRUE(GeomCollectionAddObject(c, region, 0));
  ASSERT_TRUE(GeomCollectionAddObject(c, line, 0));
  EXPECT_NE(c->u.collection.region, region);  // a copy of its own
  EXPECT_EQ(c->regionHandle, static_cast<MemHandle>(c->u.collection.region));

  GeomObject* clone = Keep(GeomObjectClone(c));
  ASSERT_NE(clone, nullptr);
  EXPECT_NE(clone->u.collection.region, c->u.collection.region);
  EXPECT_NE(clone->u.collection.region->data, c->u.collection.region->data);
  EXPECT_EQ(clone->u.collection.multipoint, nullptr);
  EXPECT_EQ(clone->data, nullptr);
  EXPECT_EQ(PartPoints(clone->u.collection.polyline, 0), PartPoints(line, 0));

  // A borrowed collection never frees the parts it refers to.
  GeomObject view = *c;
  view.bufferFlags |= kGeomBorrowed;
  GeomObjectFree(&view);
  EXPECT_EQ(PartPoints(c->u.collection.polyline, 0).size(), 2u);
  // A collection reset to another kind still frees its parts (sanitizer
  // run: no leak).
  MemHandle h;
  GeomObject* other;
  ASSERT_TRUE(GeomObjectAlloc(&h, &other, kGeomCollection, 0));
  ASSERT_TRUE(GeomCollectionAddObject(other, line, 0));
  ASSERT_TRUE(GeomObjectReset(other, kGeomRegion, 0));
  GeomObjectDestroy(h);
}

// ----- collections -----

TEST_F(GeomTest, CollectionSlotsTakeTheirKinds) {
  GeomObject* c = New(kGeomCollection);
  EXPECT_TRUE(GeomObjectIsEmpty(c));
  uint32_t mask = 99;
  ASSERT_TRUE(GeomCollectionPartMask(c, &mask));
  EXPECT_EQ(mask, 0u);

  GeomObject* point = New(kGeomPoint);
  point->u.point.position = {5, 7};
  point->u.point.symbol.shape = 40;
  point->row = 12;
  ASSERT_TRUE(GeomCollectionAddObject(c, point, 0));
  GeomObject* mp = c->u.collection.multipoint;
  ASSERT_NE(mp, nullptr);
  EXPECT_EQ(mp->kind, kGeomMultipoint);
  EXPECT_EQ(mp->u.multipoint.pointCount, 1u);
  EXPECT_EQ(mp->u.multipoint.symbol.shape, 40);
  EXPECT_EQ(static_cast<IPoint*>(mp->data)[0], (IPoint{5, 7}));
  EXPECT_EQ(c->bounds.x1, 5);
  EXPECT_EQ(c->bounds.y2, 7);
  EXPECT_TRUE(GeomCollectionHasMultipoint(c));
  EXPECT_FALSE(GeomCollectionHasRegion(c));

  GeomObject* first = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  IRectSet(&first->bounds, 0, 0, 1, 1);
  GeomObject* second = Poly(kGeomPolyline, {{{-9, -9}, {1, 1}, {2, 2}}});
  IRectSet(&second->bounds, -9, -9, 2, 2);
  ASSERT_TRUE(GeomCollectionAddObject(c, first, 0));
  EXPECT_EQ(c->bounds.x1, 0);
  EXPECT_EQ(c->bounds.x2, 5);
  // The slot is taken: without replace nothing changes.
  GeomObject* kept = c->u.collection.polyline;
  EXPECT_FALSE(GeomCollectionAddObject(c, second, 0));
  EXPECT_EQ(c->u.collection.polyline, kept);
  EXPECT_EQ(PartPoints(kept, 0).size(), 2u);
  // With replace the old part is destroyed (sanitizer run: no leak).
  ASSERT_TRUE(GeomCollectionAddObject(c, second, 1));
  EXPECT_EQ(PartPoints(c->u.collection.polyline, 0).size(), 3u);
  EXPECT_EQ(c->bounds.x1, -9);
  ASSERT_TRUE(GeomCollectionPartMask(c, &mask));
  EXPECT_EQ(mask, 6u);

  // Not accepted: texts, frames, kinds 11 and 12, collections; and nothing
  // goes into an object that is not a collection.
  for (int kind : {kGeomText, kGeomFrame, kGeomItems12, kGeomItems24, kGeomCollection,
                   kGeomNone}) {
    EXPECT_FALSE(GeomCollectionAddObject(c, New(kind), 1)) << kind;
  }
  EXPECT_FALSE(GeomCollectionAddObject(New(kGeomRegion), point, 0));
  EXPECT_FALSE(GeomCollectionPartMask(point, &mask));
  EXPECT_FALSE(GeomCollectionHasPolyline(first));

  // An empty part does not count as present.
  GeomObject* empty = New(kGeomRegion);
  ASSERT_TRUE(GeomCollectionAddObject(c, empty, 0));
  EXPECT_NE(c->regionHandle, nullptr);
  EXPECT_FALSE(GeomCollectionHasRegion(c));
}

TEST_F(GeomTest, CollectionAnswersThroughItsParts) {
  GeomObject* c = New(kGeomCollection);
  GeomObject* mp = New(kGeomMultipoint);
  mp->flagB = 1;
  IPoint pts[3] = {{1, 1}, {2, 2}, {3, 3}};
  ASSERT_TRUE(GeomMultipointAddPoints(mp, 3, pts, nullptr, nullptr));
  mp->u.multipoint.centroid = {2, 2};
  ASSERT_TRUE(GeomCollectionAddObject(c, mp, 0));
  EXPECT_FALSE(GeomObjectHasValuesA(c));
  EXPECT_TRUE(GeomObjectHasValuesB(c));
  IPoint centroid;
  ASSERT_TRUE(GeomObjectGetAttr(c, kAttrCentroid, &centroid));
  EXPECT_EQ(centroid, (IPoint{2, 2}));

  GeomObject* region = Poly(kGeomRegion, {{{0, 0}, {4, 0}, {0, 4}}});
  region->u.poly.centroid = {1, 1};
  ASSERT_TRUE(GeomCollectionAddObject(c, region, 0));
  ASSERT_TRUE(GeomObjectCentroid(c, &centroid));
  EXPECT_EQ(centroid, (IPoint{1, 1}));  // the region part comes first
  IPoint moved{0, 1};
  ASSERT_TRUE(GeomObjectSetAttr(c, kAttrCentroid, &moved));
  EXPECT_EQ(c->u.collection.region->u.poly.centroid, moved);
  EXPECT_EQ(c->u.collection.multipoint->u.multipoint.centroid, (IPoint{2, 2}));

  GeomBufferSizes s;
  ASSERT_TRUE(GeomObjectSizes(c, &s));
  EXPECT_EQ(s.data, 24u + 28u + 32u);
  EXPECT_EQ(s.values2, 24u);
  EXPECT_EQ(s.values1, 0u);
  int16_t notEmpty = 0;
  ASSERT_TRUE(GeomObjectGetAttr(c, kAttrNotEmpty, &notEmpty));
  EXPECT_EQ(notEmpty, 1);

  // Styles of the parts: the default bundle reaches each present part.
  StyleBundle bundle = *StyleDefaults();
  bundle.brush.foreground = 0x123456;
  bundle.symbol.shape = 50;
  ASSERT_TRUE(GeomObjectSetStyle(c, bundle));
  BrushStyle brush;
  ASSERT_TRUE(GeomObjectGetBrush(c, &brush));
  EXPECT_EQ(brush.foreground, 0x123456u);
  SymbolStyle symbol;
  ASSERT_TRUE(GeomObjectGetSymbol(c, &symbol));
  EXPECT_EQ(symbol.shape, 50);
  EXPECT_FALSE(GeomObjectGetLinePen(c, nullptr));
}

// ----- multipoints and texts -----

TEST_F(GeomTest, MultipointPointsAndValues) {
  GeomObject* o = New(kGeomMultipoint);
  o->flagA = 1;
  IPoint pts[3] = {{1, 2}, {3, 4}, {5, 6}};
  double va[3] = {0.5, 1.5, 2.5};
  ASSERT_TRUE(GeomMultipointAddPoints(o, 2, pts, va, nullptr));
  ASSERT_TRUE(GeomPartSetPoints(o, 7, 7, pts + 2, 1, nullptr, nullptr));  // appends
  uint32_t n = 0;
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrPointCount, &n));
  EXPECT_EQ(n, 3u);
  IPoint out[3];
  double vo[3];
  ASSERT_TRUE(GeomMultipointGetPoints(o, 1, 2, out, vo, nullptr));
  EXPECT_EQ(out[0], (IPoint{3, 4}));
  EXPECT_EQ(out[1], (IPoint{5, 6}));
  EXPECT_EQ(vo[0], 1.5);
  EXPECT_TRUE(IsNone(vo[1]));
  EXPECT_FALSE(GeomMultipointGetPoints(o, 2, 2, out, nullptr, nullptr));
  EXPECT_FALSE(GeomMultipointGetPoints(o, 3, 0, out, nullptr, nullptr));
  EXPECT_FALSE(GeomMultipointGetPoints(o, -1, 1, out, nullptr, nullptr));
  GeomBufferSizes s;
  ASSERT_TRUE(GeomObjectSizes(o, &s));
  EXPECT_EQ(s.data, 24u);
  EXPECT_EQ(s.values1, 24u);
  EXPECT_EQ(s.values2, 0u);
}

TEST_F(GeomTest, TextAttributesKeepTheOtherFlagBits) {
  GeomObject* o = New(kGeomText);
  ASSERT_TRUE(GeomObjectSetAttr(o, kAttrTextString, "Elm"));
  char text[8];
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrTextString, text));
  EXPECT_STREQ(text, "Elm");
  GeomBufferSizes s;
  ASSERT_TRUE(GeomObjectSizes(o, &s));
  EXPECT_EQ(s.data, 4u);

  o->u.text.flags = 0xFFFF0000u;
  struct Case {
    int32_t code;
    uint16_t value;
    uint32_t bits;  // what the value sets
  } cases[] = {{kAttrTextFlag0, 1, 1u},         {kAttrTextJustify, 2, 2u << 1},
               {kAttrTextSpacing, 1, 1u << 3},  {kAttrTextLabelLine, 5, 5u << 5},
               {kAttrTextFlag8, 1, 1u << 8},    {kAttrTextNibble, 9, 9u << 9}};
  uint32_t want = 0xFFFF0000u;
  for (const Case& c : cases) {
    ASSERT_TRUE(GeomObjectSetAttr(o, c.code, &c.value)) << c.code;
    want |= c.bits;
    EXPECT_EQ(o->u.text.flags, want) << c.code;
    uint16_t back = 0;
    ASSERT_TRUE(GeomObjectGetAttr(o, c.code, &back));
    EXPECT_EQ(back, c.value) << c.code;
  }
  // Justification takes 0..3 only; other values leave it and still answer 1.
  uint16_t four = 4;
  EXPECT_TRUE(GeomObjectSetAttr(o, kAttrTextJustify, &four));
  EXPECT_EQ(o->u.text.flags, want);
  uint16_t three = 3;
  EXPECT_TRUE(GeomObjectSetAttr(o, kAttrTextJustify, &three));
  EXPECT_EQ(o->u.text.flags & kTextJustifyMask, 3u << 1);

  IPoint corners[4] = {{0, 0}, {-3, 4}, {1, 9}, {4, 5}};
  ASSERT_TRUE(GeomObjectSetAttr(o, kAttrTextCorners, corners));
  IRect r;
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrTextCornerBounds, &r));
  EXPECT_EQ(r.x1, -3);
  EXPECT_EQ(r.y1, 0);
  EXPECT_EQ(r.x2, 4);
  EXPECT_EQ(r.y2, 9);
  IRect frame{10, 20, 30, 40};
  ASSERT_TRUE(GeomObjectSetAttr(o, kAttrTextFrame, &frame));
  IPoint c;
  ASSERT_TRUE(GeomObjectCentroid(o, &c));
  EXPECT_EQ(c, (IPoint{20, 30}));
  IPoint corner{7, 8};
  ASSERT_TRUE(GeomObjectSetAttr(o, kAttrTextFrameCorner, &corner));
  EXPECT_EQ(o->u.text.frame.x2, 7);
  EXPECT_EQ(o->u.text.frame.y2, 8);

  // All fields at once; the text's length stays that of the buffer.
  GeomTextFields all;
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrTextAll, &all));
  all.length = 60000;
  all.height = 77;
  ASSERT_TRUE(GeomObjectSetAttr(o, kAttrTextAll, &all));
  EXPECT_EQ(o->u.text.height, 77);
  EXPECT_EQ(o->u.text.length, 3);
}

// ----- attributes -----

TEST_F(GeomTest, AttributesAnswerForTheirKinds) {
  // Kinds (bit per kind) for which a get answers 1.
  constexpr uint32_t kAll = 0x7FFF;
  auto kinds = [](std::initializer_list<int> list) {
    uint32_t m = 0;
    for (int k : list) m |= 1u << k;
    return m;
  };
  struct Case {
    int32_t code;
    uint32_t get;
    uint32_t set;
  } cases[] = {
      {kAttrKind, kAll, kAll},
      {kAttrPen, kAll & ~kinds({1}), kAll & ~kinds({1})},
      {kAttrBrush, kinds({5, 7, 8, 9, 10}), kinds({5, 7, 8, 9, 10})},
      {kAttrSymbol, kinds({1, 13}), kinds({1, 13})},
      {kAttrRow, kAll, kAll},
      {kAttrBounds, kAll, kAll},
      {kAttrNotEmpty, kAll, 0},
      {kAttrHasValuesA, kAll, 0},
      {kAttrHasValuesB, kAll, 0},
      {kAttrPoint, kinds({1}), kinds({1})},
      {kAttrLine, kinds({2}), kinds({2})},
      {kAttrTextHeight, kinds({6}), kinds({6})},
      {kAttrTextCornerBounds, kinds({6}), 0},
      {kAttrTextAll, kinds({6}), kinds({6})},
      {kAttrFrameFill, kinds({10}), kinds({10})},
      {kAttrSmooth, kinds({4}), kinds({4})},
      {kAttrPartCount, kinds({4, 5}), 0},
      {kAttrPointsLessParts, kinds({4, 5}), 0},
      {kAttrCentroid, kinds({4, 5, 13}), kinds({4, 5, 13})},  // empty collection: 0
      {kAttrPointCount, kinds({4, 5, 13}), 0},
      {kAttrPartPoints, kinds({4, 5}), 0},
      {300, 0, 0},
  };
  for (const Case& c : cases) {
    for (int kind = 0; kind < kGeomKindCount; ++kind) {
      GeomObject* o = kind == 4 || kind == 5 ? Poly(kind, {{{0, 0}, {1, 1}, {2, 0}}}) : New(kind);
      alignas(8) unsigned char value[256] = {};
      EXPECT_EQ(GeomObjectGetAttr(o, c.code, value), (c.get >> kind) & 1)
          << "get " << c.code << " kind " << kind;
      // Setting the kind takes the scratch buffer: the object's own comes
      // back afterwards, as a reader of stored records does it.
      GeomBufferSave save;
      GeomObjectSaveBuffers(o, &save);
      value[0] = uint8_t(kind);
      EXPECT_EQ(GeomObjectSetAttr(o, c.code, value), (c.set >> kind) & 1)
          << "set " << c.code << " kind " << kind;
      if (c.code == kAttrKind) GeomObjectRestoreBuffers(o, &save);
    }
  }
}

TEST_F(GeomTest, PolyCountsByAttribute) {
  GeomObject* o = Poly(kGeomRegion, {{{0, 0}, {4, 0}, {0, 4}}, {{1, 1}, {2, 1}, {1, 2}, {1, 1}}});
  uint32_t parts = 0, less = 0, points = 0;
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrPartCount, &parts));
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrPointsLessParts, &less));
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrPointCount, &points));
  EXPECT_EQ(parts, 2u);
  EXPECT_EQ(points, 9u);  // 4 + 5: every ring closed
  EXPECT_EQ(less, 7u);
  int32_t n = 0;
  ASSERT_TRUE(GeomObjectGetAttr(o, kAttrPartPoints + 1, &n));
  EXPECT_EQ(n, 4);
  uint16_t smooth = 1;
  EXPECT_FALSE(GeomObjectSetAttr(o, kAttrSmooth, &smooth));
  GeomObject* line = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  ASSERT_TRUE(GeomObjectSetAttr(line, kAttrSmooth, &smooth));
  ASSERT_TRUE(GeomObjectGetAttr(line, kAttrPartPoints + 0, &n));
  EXPECT_EQ(n, 2);  // a polyline has no closing point
  // Resetting the kind clears the smooth flag and the counts.
  ASSERT_TRUE(GeomObjectReset(line, kGeomPolyline, 0));
  EXPECT_EQ(line->u.poly.smooth, 0u);
  EXPECT_FALSE(GeomObjectGetAttr(line, kAttrPartPoints + 0, &n));
}

// ----- queries, styles and walks -----

TEST_F(GeomTest, PointWidthPens) {
  struct Case {
    int kind;
    int16_t width;
    int uses;
  } cases[] = {{kGeomLine, 9, 0},   {kGeomLine, 10, 1},        {kGeomPolyline, 300, 1},
               {kGeomRegion, 7, 0}, {kGeomRegion, 12, 1},      {kGeomText, 11, 1},
               {kGeomPoint, 50, 0}, {kGeomMultipoint, 50, 0},  {kGeomFrame, 10, 1}};
  for (const Case& c : cases) {
    GeomObject o;
    GeomObjectInit(&o, c.kind);
    o.pen.width = c.width;
    EXPECT_EQ(GeomObjectUsesPointWidth(&o), c.uses) << c.kind << " " << c.width;
  }
  GeomObject* col = New(kGeomCollection);
  GeomObject* line = Poly(kGeomPolyline, {{{0, 0}, {1, 1}}});
  line->pen.width = 15;
  ASSERT_TRUE(GeomCollectionAddObject(col, line, 0));
  EXPECT_EQ(GeomObjectUsesPointWidth(col), 1);
}

TEST_F(GeomTest, CopyStyleGoesToThePartThatUsesIt) {
  GeomObject* region = New(kGeomRegion);
  region->brush.foreground = 0xABCDEF;
  region->pen.colour = 0x00FF00;
  GeomObject* rect = New(kGeomRect);
  EXPECT_TRUE(GeomObjectCopyStyle(rect, region));
  EXPECT_EQ(rect->brush.foreground, 0xABCDEFu);
  EXPECT_EQ(rect->pen.colour, 0x00FF00u);

  GeomObject* line = New(kGeomLine);
  line->pen.width = 3;
  GeomObject* arc = New(kGeomArc);
  EXPECT_TRUE(GeomObjectCopyStyle(arc, line));
  EXPECT_EQ(arc->pen.width, 3);
  // An area target skips a line pen.
  GeomObject* ellipse = New(kGeomEllipse);
  ellipse->pen.width = 2;
  GeomObjectCopyStyle(ellipse, line);
  EXPECT_EQ(ellipse->pen.width, 2);
  // A collection without the part that would take the style fails.
  GeomObject* col = New(kGeomCollection);
  EXPECT_FALSE(GeomObjectCopyStyle(col, region));
}

TEST_F(GeomTest, CentroidsByKind) {
  GeomObject* point = New(kGeomPoint);
  point->u.point.position = {3, -4};
  GeomObject* ellipse = New(kGeomEllipse);
  IRectSet(&ellipse->bounds, -3, 0, 0, 10);
  GeomObject* mp = New(kGeomMultipoint);
  mp->u.multipoint.centroid = {8, 9};
  struct Case {
    GeomObject* o;
    IPoint want;
  } cases[] = {{point, {3, -4}}, {ellipse, {-1, 5}}, {mp, {8, 9}}};
  for (const Case& c : cases) {
    IPoint got;
    ASSERT_TRUE(GeomObjectCentroid(c.o, &got));
    EXPECT_EQ(got, c.want) << int(c.o->kind);
  }
}

struct Trace {
  std::vector<IPoint> points;
  int stopAfter = -1;
};
int VisitPoint(void* context, const IPoint* p) {
  Trace* t = static_cast<Trace*>(context);
  t->points.push_back(*p);
  return int(t->points.size()) != t->stopAfter;
}
int VisitSegment(void* context, const IPoint* a, const IPoint* b) {
  Trace* t = static_cast<Trace*>(context);
  t->points.push_back(*a);
  t->points.push_back(*b);
  return int(t->points.size()) / 2 != t->stopAfter;
}
int VisitPart(void* context, const GeomObject*, const GeomPart* part) {
  static_cast<Trace*>(context)->points.push_back({part->pointCount, 0});
  return 1;
}

TEST_F(GeomTest, WalksOverPointsSegmentsAndParts) {
  GeomObject* rect = New(kGeomRect);
  IRectSet(&rect->bounds, 0, 0, 2, 1);
  Trace t;
  EXPECT_EQ(GeomObjectForEachPoint(rect, VisitPoint, &t), 1);
  EXPECT_EQ(t.points, (std::vector<IPoint>{{0, 0}, {0, 1}, {2, 1}, {2, 0}}));
  t = {};
  EXPECT_EQ(GeomObjectForEachSegment(rect, VisitSegment, &t), 1);
  EXPECT_EQ(t.points.size(), 8u);
  EXPECT_EQ(t.points[7], (IPoint{0, 0}));  // the fourth side closes the ring

  GeomObject* region =
      Poly(kGeomRegion, {{{0, 0}, {4, 0}, {4, 0}, {0, 4}}, {{9, 9}, {9, 8}, {8, 8}}});
  t = {};
  EXPECT_EQ(GeomObjectForEachPoint(region, VisitPoint, &t), 1);
  EXPECT_EQ(t.points.size(), 9u);
  t = {};
  EXPECT_EQ(GeomObjectForEachSegment(region, VisitSegment, &t), 1);
  EXPECT_EQ(t.points.size(), 2u * (3 + 3));  // the repeated point gives no segment
  t = {};
  t.stopAfter = 2;
  EXPECT_EQ(GeomObjectForEachPoint(region, VisitPoint, &t), 0);
  EXPECT_EQ(t.points.size(), 2u);
  t = {};
  EXPECT_EQ(GeomObjectForEachPart(region, VisitPart, &t), 1);
  EXPECT_EQ(t.points, (std::vector<IPoint>{{5, 0}, {4, 0}}));

  // Empty objects give 0; kinds without points visit nothing and give 1.
  t = {};
  EXPECT_EQ(GeomObjectForEachPoint(New(kGeomPolyline), VisitPoint, &t), 0);
  EXPECT_EQ(GeomObjectForEachPart(New(kGeomRegion), VisitPart, &t), 0);
  EXPECT_EQ(GeomObjectForEachPart(rect, VisitPart, &t), 0);
  for (int kind : {kGeomArc, kGeomEllipse, kGeomFrame, kGeomItems12}) {
    EXPECT_EQ(GeomObjectForEachPoint(New(kind), VisitPoint, &t), 1) << kind;
    EXPECT_EQ(GeomObjectForEachSegment(New(kind), VisitSegment, &t), 1) << kind;
  }
  GeomObject* mp = New(kGeomMultipoint);
  IPoint pts[2] = {{1, 1}, {2, 2}};
  ASSERT_TRUE(GeomMultipointAddPoints(mp, 2, pts, nullptr, nullptr));
  EXPECT_EQ(GeomObjectForEachSegment(mp, VisitSegment, &t), 1);
  EXPECT_TRUE(t.points.empty());
  EXPECT_EQ(GeomObjectForEachPoint(mp, VisitPoint, &t), 1);
  EXPECT_EQ(t.points.size(), 2u);

  IPoint ring[5];
  EXPECT_EQ(GeomRectRing(ring, rect), 5);
  EXPECT_EQ(ring[4], ring[0]);
  EXPECT_EQ(ring[2], (IPoint{2, 1}));
}

}  // namespace
}  // namespace layerio
