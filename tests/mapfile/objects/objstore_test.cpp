// The object store of an open table: inserts, replaces, deletes and reads by
// row over a map-object file and over the in-memory list, the header's
// counts and bounds, the .ID entries, temporary stores, remote stores with
// their pending rows, and a
// large mixed run whose index is checked and walked against a scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/token.h"
#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapindex.h"
#include "mapfile/objects/objstore.h"
#include "mapfile/objects/styles.h"
#include "tests/mapfile/objects/map_writer.h"
#include "platform/env.h"
#include "support/program_run.h"

namespace {

using namespace layerio;

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int CollectPoint(void* context, const IPoint* p) {
  static_cast<std::vector<IPoint>*>(context)->push_back(*p);
  return 1;
}

// What a reader sees of an object: kind, bounds, points, text and styles.
std::string Describe(const GeomObject* o) {
  std::string out = "kind " + std::to_string(o->kind) + " bounds " +
                    std::to_string(o->bounds.x1) + " " + std::to_string(o->bounds.y1) + " " +
                    std::to_string(o->bounds.x2) + " " + std::to_string(o->bounds.y2);
  if (o->kind == kGeomCollection) {
    const GeomObject* parts[3] = {o->u.collection.region, o->u.collection.polyline,
                                  o->u.collection.multipoint};
    for (const GeomObject* p : parts) out += p ? " [" + Describe(p) + "]" : " []";
    return out;
  }
  std::vector<IPoint> points;
  if (o->kind != kGeomText && o->kind != kGeomArc) GeomObjectForEachPoint(o, CollectPoint, &points);
  for (const IPoint& p : points) out += " " + std::to_string(p.x) + "," + std::to_string(p.y);
  if (o->kind == kGeomPolyline || o->kind == kGeomRegion)
    out += " parts " + std::to_string(o->u.poly.partCount);
  if (o->kind == kGeomText) out += " text " + std::string(static_cast<const char*>(o->data));
  PenStyle pen;
  BrushStyle brush;
  char text[kStyleClauseSize];
  if (GeomObjectGetLinePen(o, &pen) && StyleClausePen(pen, text, sizeof text)) out += text;
  if (GeomObjectGetBrush(o, &brush) && StyleClauseBrush(brush, text, sizeof text)) out += text;
  return out;
}

// Objects of mixed kinds around a centre, with a few shared styles.
class Maker {
 public:
  explicit Maker(uint32_t seed) : rng_(seed) {}

  int32_t Coord(int32_t centre, int32_t spread) {
    return centre + int32_t(rng_() % uint32_t(2 * spread + 1)) - spread;
  }
  PenStyle Pen() {
    PenStyle p{};
    p.width = 1;
    p.pattern = 2;
    p.colour = 0x110000u * (rng_() % 4);
    return p;
  }

  void Point(GeomObject* o, int32_t x, int32_t y) {
    GeomObjectInit(o, kGeomPoint);
    o->u.point.position = {x, y};
    o->u.point.symbol.kind = kSymbolSimple;
    o->u.point.symbol.shape = 35;
    o->u.point.symbol.size = 10;
    o->bounds = {x, y, x, y};
  }
  void Poly(GeomObject* o, int kind, int parts, int32_t cx, int32_t cy, int32_t spread) {
    GeomObjectInit(o, kind);
    std::vector<int32_t> counts;
    std::vector<IPoint> points;
    for (int p = 0; p < parts; ++p) {
      int n = 3 + int(rng_() % 8);
      counts.push_back(n);
      for (int k = 0; k < n; ++k) points.push_back({Coord(cx, spread), Coord(cy, spread)});
    }
    GeomPartsSetAll(o, uint32_t(parts), counts.data(), points.data(), nullptr, nullptr);
    maptest::PolyFinish(o);
    o->pen = Pen();
    if (kind == kGeomRegion) {
      o->brush.pattern = 2;
      o->brush.foreground = 0x00FF00;
      o->brush.background = 0xFFFFFF;
    }
  }
  void Make(GeomObject* o, int i) {
    const int32_t cx = Coord(0, 300000000), cy = Coord(0, 300000000);
    const int32_t spread = i % 3 == 0 ? 100000 : 2000;
    switch (i % 6) {
      case 0:
        Point(o, cx, cy);
        break;
      case 1:
        GeomObjectInit(o, kGeomLine);
        o->u.line = {cx, cy, cx + int32_t(rng_() % 5000), cy + int32_t(rng_() % 5000)};
        o->bounds = {o->u.line.x1, o->u.line.y1, o->u.line.x2, o->u.line.y2};
        o->pen = Pen();
        break;
      case 2:
        Poly(o, kGeomPolyline, 1 + int(rng_() % 2), cx, cy, spread);
        break;
      case 3:
        Poly(o, kGeomRegion, 1 + int(rng_() % 2), cx, cy, spread);
        break;
      case 4: {
        GeomObjectInit(o, kGeomRect);
        int32_t w = 1 + int32_t(rng_() % 9000), h = 1 + int32_t(rng_() % 9000);
        o->bounds = {cx, cy, cx + w, cy + h};
        o->pen = Pen();
        o->brush.pattern = 1;
        break;
      }
      default: {
        GeomObjectInit(o, kGeomText);
        GeomTextSet(o, ("label " + std::to_string(i)).c_str());
        std::strcpy(o->u.text.font.name, "Arial");
        int32_t w = 10 + int32_t(rng_() % 20000), h = 10 + int32_t(rng_() % 3000);
        o->bounds = {cx, cy, cx + w, cy + h};
        o->u.text.frame = o->bounds;
        o->u.text.height = h;
        o->u.text.lineEnd = {cx, cy};
        break;
      }
    }
  }

 private:
  std::mt19937 rng_;
};

// Counts the descriptors the file layer asks the system for.
class CountingEnv : public platform::EnvWrapper {
 public:
  CountingEnv() : EnvWrapper(platform::Env::Current()) {}
  int Open(std::string_view path, unsigned flags, int mode) override {
    ++opens;
    return target_.Open(path, flags, mode);
  }
  int opens = 0;
};

class ObjStoreTest : public mapfiletest::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    CoordSysInstallUnitServices();
    ASSERT_TRUE(GeomScratchInit());
    ASSERT_TRUE(CoordSysParseText(&cs_, "CoordSys Earth Projection 1, 104", true));
    table_.file = Add("roads.TAB", 1);
    ASSERT_NE(table_.file, 0);
  }
  void TearDown() override {
    if (store_.kind) ObjStoreClose(&store_);
    GeomScratchShutdown();
    TokEnd();
    FileLayerTest::TearDown();
  }

  bool Exists(const std::string& name) {
    return std::filesystem::exists(PathOf(name));
  }
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const char* n : {"roads.MAP", "roads.ID"})
      if (Exists(n)) names.push_back(n);
    return names;
  }

  // One operation through the store, bracketed as the table layer does.
  int Insert(GeomObject* o, int32_t row) { return Op([&](ObjStoreIndexCursor* c) {
      return ObjStoreInsertObject(c, &store_, o, row, 0); }); }
  int Update(GeomObject* o, int32_t row) { return Op([&](ObjStoreIndexCursor* c) {
      return ObjStoreUpdateObject(c, &store_, o, row, 0); }); }
  int Delete(int32_t row) { return Op([&](ObjStoreIndexCursor* c) {
      return ObjStoreDeleteObject(c, &store_, row); }); }
  template <typename F>
  int Op(F body) {
    if (!ObjStoreOpenBackend(&store_, kFileModeWrite)) return -1;
    ObjStoreIndexCursor cursor;
    int ok = ObjStoreIndexCursorOpen(&cursor, &store_) ? body(&cursor) : -2;
    ObjStoreIndexCursorClose(&cursor, &store_);
    if (!ObjStoreCloseBackend(&store_)) return -3;
    return ok;
  }
  // The row's object as a reader sees it, "" when it has none.
  std::string Read(int32_t row, const IRect* filter = nullptr) {
    if (!ObjStoreOpenBackend(&store_, kFileModeRead)) return "backend failed";
    ObjStoreCursor cursor;
    std::string out;
    if (ObjStoreCursorOpen(&cursor, &store_)) {
      if (filter) {
        cursor.filter = ObjStoreBoundsFilterFn;
        cursor.filterContext = const_cast<IRect*>(filter);
      }
      GeomObject o;
      GeomObjectInit(&o, kGeomNone);
      if (ObjStoreReadObject(&cursor, &store_, row, 1, &o, nullptr)) out = Describe(&o);
      ObjStoreCursorClose(&cursor, &store_);
    }
    ObjStoreCloseBackend(&store_);
    return out;
  }
  uint32_t IdEntry(int32_t row) {
    std::string bytes = Contents("roads.ID");
    if (size_t(row) * 4 > bytes.size()) return 0;
    return QLoadU32LE(reinterpret_cast<const uint8_t*>(bytes.data()) + (row - 1) * 4);
  }
  std::vector<uint32_t> Counts() const {
    const MapHeader& h = store_.header;
    return {h.pointCount, h.lineCount, h.regionCount, h.otherCount};
  }

  CoordSys cs_{};
  ObjStoreTable table_{};
  ObjStoreRemoteTable remoteTable_{};
  ObjStore store_{};
};

class ObjStoreKindTest : public ObjStoreTest, public ::testing::WithParamInterface<int> {
 protected:
  void Create() {
    ASSERT_TRUE(ObjStoreCreate(&store_, GetParam(), &table_, -1, &cs_, 0, 1));
  }
};

TEST_P(ObjStoreKindTest, BlankTextChangesNothingAndAnEmptyObjectIsRefused) {
  Create();
  GeomObject text;
  GeomObjectInit(&text, kGeomText);
  text.bounds = {0, 0, 10, 10};
  EXPECT_EQ(Insert(&text, 1), 1);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(IdEntry(1), 0u);
  EXPECT_EQ(Read(1), "");

  GeomObject empty;
  GeomObjectInit(&empty, kGeomPolyline);
  ErrorClear();
  EXPECT_EQ(Insert(&empty, 2), 0);
  EXPECT_TRUE(Pushed(kErrObjStoreEmptyObject));
  EXPECT_EQ(Update(&empty, 2), 0);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 0, 0, 0}));
  GeomObjectFree(&text);
  GeomObjectFree(&empty);
}

TEST_P(ObjStoreKindTest, CountsAndBoundsFollowInsertReplaceAndDelete) {
  Create();
  Maker maker(1);
  GeomObject point, region, line;
  maker.Point(&point, 100, 200);
  maker.Poly(&region, kGeomRegion, 1, 5000, -3000, 400);
  GeomObjectInit(&line, kGeomLine);
  line.u.line = {-50, -60, 70, 80};
  line.bounds = {-50, -60, 70, 80};
  ASSERT_EQ(Insert(&point, 1), 1);
  ASSERT_EQ(Insert(&region, 2), 1);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{1, 0, 1, 0}));
  IRect expected = point.bounds;
  IRectUnion(&expected, &region.bounds);
  EXPECT_EQ(std::memcmp(&store_.header.root, &expected, sizeof expected), 0);
  EXPECT_EQ(Read(1), Describe(&point));
  EXPECT_EQ(Read(2), Describe(&region));

  // Replacing the region by a line moves the count; the old object is gone.
  ASSERT_EQ(Update(&line, 2), 1);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{1, 1, 0, 0}));
  EXPECT_EQ(Read(2), Describe(&line));
  // Replacing a row without object adds one.
  ASSERT_EQ(Update(&region, 3), 1);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{1, 1, 1, 0}));

  if (GetParam() == kObjStoreMapFile) {
    EXPECT_NE(IdEntry(1), 0u);
  }
  ASSERT_EQ(Delete(1), 1);
  EXPECT_EQ(IdEntry(1), 0u);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 1, 1, 0}));
  EXPECT_EQ(Read(1), "");
  // A row without object: nothing changes.
  const uint32_t changes = store_.changeCount;
  ASSERT_EQ(Delete(1), 1);
  ASSERT_EQ(Delete(40), 1);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 1, 1, 0}));
  EXPECT_EQ(store_.changeCount, changes + 2);
  EXPECT_EQ(Read(2), Describe(&line));
  EXPECT_EQ(Read(3), Describe(&region));
  GeomObjectFree(&point);
  GeomObjectFree(&region);
  GeomObjectFree(&line);
}

TEST_P(ObjStoreKindTest, CollectionsCountByPartsAndReadBackWhole) {
  Create();
  Maker maker(2);
  GeomObject region, polyline, collection;
  maker.Poly(&region, kGeomRegion, 2, 1000, 1000, 300);
  maker.Poly(&polyline, kGeomPolyline, 1, 1500, 900, 300);
  GeomObjectInit(&collection, kGeomCollection);
  ASSERT_TRUE(GeomCollectionAddObject(&collection, &region, 0));
  ASSERT_TRUE(GeomCollectionAddObject(&collection, &polyline, 0));
  ASSERT_EQ(Insert(&collection, 5), 1);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 1, 1, 0}));
  EXPECT_EQ(Read(5), Describe(&collection));
  ASSERT_EQ(Delete(5), 1);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 0, 0, 0}));
  GeomObjectFree(&region);
  GeomObjectFree(&polyline);
  GeomObjectFree(&collection);
}

TEST_P(ObjStoreKindTest, OneCursorReadsManyRowsWithAndWithoutData) {
  Create();
  Maker maker(3);
  std::vector<std::string> written;
  for (int i = 0; i < 60; ++i) {
    GeomObject o;
    maker.Make(&o, i);
    ASSERT_EQ(Insert(&o, i + 1), 1) << i;
    written.push_back(Describe(&o));
    GeomObjectFree(&o);
  }
  ASSERT_TRUE(ObjStoreOpenBackend(&store_, kFileModeRead));
  ObjStoreCursor cursor;
  ASSERT_TRUE(ObjStoreCursorOpen(&cursor, &store_));
  GeomObject o;
  GeomObjectInit(&o, kGeomNone);
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 59; i >= 0; --i) {
      ASSERT_EQ(ObjStoreReadObject(&cursor, &store_, i + 1, 1, &o, nullptr), 1);
      EXPECT_EQ(Describe(&o), written[size_t(i)]);
      EXPECT_TRUE(o.bufferFlags & kGeomBorrowed);
      // Without data: the record only, no buffers.
      ASSERT_EQ(ObjStoreReadObject(&cursor, &store_, i + 1, 0, &o, nullptr), 1);
      EXPECT_EQ(o.data, nullptr);
      EXPECT_EQ(o.values1, nullptr);
    }
  }
  EXPECT_EQ(ObjStoreReadObject(&cursor, &store_, 61, 1, &o, nullptr), 0);
  ObjStoreCursorClose(&cursor, &store_);
  EXPECT_TRUE(ObjStoreCloseBackend(&store_));
}

TEST_P(ObjStoreKindTest, TemporaryStoreCloseRemovesItsFiles) {
  ASSERT_TRUE(ObjStoreCreate(&store_, GetParam(), &table_, -1, &cs_, 1, 1));
  Maker maker(4);
  GeomObject o;
  maker.Make(&o, 3);
  ASSERT_EQ(Insert(&o, 1), 1);
  GeomObjectFree(&o);
  EXPECT_TRUE(Exists("roads.ID"));
  EXPECT_TRUE(ObjStoreClose(&store_));
  EXPECT_EQ(store_.kind, 0);
  EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{})
      << "a temporary store leaves no file behind";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ObjStoreKindTest,
                         ::testing::Values(int(kObjStoreMapFile), int(kObjStoreMemory)),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == kObjStoreMapFile ? "MapFile" : "Memory";
                         });

TEST_F(ObjStoreTest, DiscardDeletesTheFilesOfAStore) {
  ASSERT_TRUE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 0, 1));
  Maker maker(5);
  GeomObject o;
  maker.Make(&o, 2);
  ASSERT_EQ(Insert(&o, 1), 1);
  GeomObjectFree(&o);
  EXPECT_EQ(Files(), (std::vector<std::string>{"roads.MAP", "roads.ID"}));
  EXPECT_TRUE(ObjStoreDiscard(&store_));
  EXPECT_EQ(store_.kind, 0);
  EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{});
}

TEST_F(ObjStoreTest, ReopenedStoreKeepsHeaderAndObjects) {
  ASSERT_TRUE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 0, 1));
  Maker maker(6);
  std::vector<std::string> written;
  for (int i = 0; i < 30; ++i) {
    GeomObject o;
    maker.Make(&o, i);
    ASSERT_EQ(Insert(&o, i + 1), 1);
    written.push_back(Describe(&o));
    GeomObjectFree(&o);
  }
  const std::vector<uint32_t> counts = Counts();
  const IRect root = store_.header.root;
  const uint8_t pens = store_.map.penCount;
  const uint8_t brushes = store_.map.brushCount;
  EXPECT_GT(pens, 1);
  ASSERT_TRUE(ObjStoreClose(&store_));
  ASSERT_TRUE(ObjStoreOpen(&store_, kObjStoreMapFile, &table_, 1, -1));
  EXPECT_EQ(Counts(), counts);
  EXPECT_EQ(std::memcmp(&store_.header.root, &root, sizeof root), 0);
  EXPECT_EQ(ObjStoreCoordSys(&store_)->projection, cs_.projection);
  // The style tables' counts reach the file with the header.
  EXPECT_EQ(store_.map.penCount, pens);
  EXPECT_EQ(store_.map.brushCount, brushes);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(Read(i + 1), written[size_t(i)]) << i;
}

TEST_F(ObjStoreTest, StoresThatCannotOpenAreLeftCleared) {
  struct Case {
    const char* name;
    int kind;
    int withId;
    int16_t error;  // 0: none expected
  };
  const Case cases[] = {
      {"in-memory", kObjStoreMemory, 0, 0},
      {"remote without definition", kObjStoreRemote, 0, 0},
      {"map without .ID", kObjStoreMapFile, 0, kErrObjStoreMapNeedsId},
      {"missing map", kObjStoreMapFile, 1, 0},
  };
  for (const Case& c : cases) {
    ErrorClear();
    std::memset(&store_, 0x5A, sizeof store_);
    ObjStoreTable* table = c.kind == kObjStoreRemote ? &remoteTable_ : &table_;
    EXPECT_FALSE(ObjStoreOpen(&store_, c.kind, table, c.withId, -1)) << c.name;
    ObjStore zero{};
    EXPECT_EQ(std::memcmp(&store_, &zero, sizeof zero), 0) << c.name;
    if (c.error) {
      EXPECT_TRUE(Pushed(c.error)) << c.name;
    }
  }
  EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{});
}

// An object index that does not hold an entry for every row, or cannot be
// read at all, is damaged: the store does not open, and the error names
// the file, where it would otherwise read as rows without objects.
TEST_F(ObjStoreTest, ObjectIndexThatCannotBeReadIsAnError) {
  table_.lastRow = 5;
  ASSERT_TRUE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 0, 1));
  Maker maker(7);
  for (int32_t row = 1; row <= 5; ++row) {
    GeomObject o;
    maker.Make(&o, row);
    ASSERT_EQ(Insert(&o, row), 1);
    GeomObjectFree(&o);
  }
  ASSERT_TRUE(ObjStoreClose(&store_));
  const std::string whole = Contents("roads.ID");
  ASSERT_EQ(whole.size(), 20u);
  const std::string id = PathOf("roads.ID");
  struct Case {
    const char* what;
    std::string bytes;  // empty: a folder in the file's place
    bool opens;
  } cases[] = {
      {"whole", whole, true},
      {"a part of an entry", whole.substr(0, 7), false},
      {"one entry of five", whole.substr(0, 4), false},
      {"empty", std::string(), false},
      {"a folder", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(id);
    if (std::string(c.what) == "a folder") {
      std::filesystem::create_directory(id);
    } else {
      dir_.Write("roads.ID", c.bytes);
    }
    ErrorClear();
    const bool opened = ObjStoreOpen(&store_, kObjStoreMapFile, &table_, 1, -1);
    EXPECT_EQ(opened, c.opens);
    if (opened) {
      EXPECT_NE(Read(5), "");
      ObjStoreClose(&store_);
    } else if (std::string(c.what) == "a folder") {
      EXPECT_EQ(ErrorCount(), 1) << ErrorLastCode();  // the open's own error
    } else {
      EXPECT_TRUE(Pushed(kErrMapDamaged));
      const ErrorStack& st = *State().errors;
      EXPECT_EQ(std::string(st.text + st.records[0].arg0.offset), id);
    }
  }
  std::filesystem::remove_all(id);
}

TEST_F(ObjStoreTest, FailedCreateRemovesTheIdFileItMade) {
  std::memset(&store_, 0x5A, sizeof store_);
  // A block size the map refuses: the map is not made after the .ID file was.
  EXPECT_FALSE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 1, 1, 1000));
  ObjStore zero{};
  EXPECT_EQ(std::memcmp(&store_, &zero, sizeof zero), 0);
  EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{});
}

// The remote table's side of a kind-4 store: rows 1 to 3 have a point at
// (row * 1000, row * 1000); its pending rows get an in-memory store.
struct RemoteTableDouble {
  ObjStoreRemoteDef def{};
  ObjStorePendingRows pendingRows{};
  ObjStore pendingObjects{};
  CoordSys cs{};
  int attached = 0;
  int detached = 0;
  int reads = 0;

  static int16_t Read(void* context, int32_t row, int, GeomObject* o) {
    auto* self = static_cast<RemoteTableDouble*>(context);
    ++self->reads;
    if (row > 3) return 0;
    const int32_t at = row * 1000;
    GeomObjectReset(o, kGeomPoint, 0);
    o->u.point.position = {at, at};
    o->bounds = {at, at, at, at};
    return 1;
  }
  static int16_t Attach(void* owner, ObjStoreLinked* linked) {
    auto* self = static_cast<RemoteTableDouble*>(owner);
    if (!ObjStoreCreate(&self->pendingObjects, kObjStoreMemory, nullptr, -1, &self->cs, 1, 0))
      return 0;
    ++self->attached;
    linked->objects = &self->pendingObjects;
    linked->rows = self;
    return 1;
  }
  static void Detach(void* owner, ObjStoreLinked*) {
    auto* self = static_cast<RemoteTableDouble*>(owner);
    ++self->detached;
    ObjStoreClose(&self->pendingObjects);
  }
  RemoteTableDouble(const CoordSys& coordSys, int geometryType, uint16_t carriesObjects) {
    def.objectsReady = 1;
    def.carriesObjects = carriesObjects;
    def.coordSys = coordSys;
    def.geometryType = geometryType;
    const double bounds[4] = {-10, -20, 30, 40};
    std::memcpy(def.bounds, bounds, sizeof bounds);
    def.read = Read;
    def.context = this;
    pendingRows = {Attach, Detach, this};
  }
};

TEST_F(ObjStoreTest, RemoteStoreTakesItsHeaderFromTheDefinition) {
  const struct {
    int geometryType;
    std::vector<uint32_t> counts;
  } cases[] = {{1, {1, 0, 0, 0}}, {2, {0, 1, 0, 0}}, {4, {0, 0, 1, 0}}, {3, {1, 1, 2, 0}}};
  for (const auto& c : cases) {
    RemoteTableDouble remote(cs_, c.geometryType, 0);
    remoteTable_.remote = &remote.def;
    ASSERT_TRUE(ObjStoreOpen(&store_, kObjStoreRemote, &remoteTable_, 0, -1)) << c.geometryType;
    EXPECT_EQ(Counts(), c.counts) << c.geometryType;
    IRect expected;
    DRect bounds{-10, -20, 30, 40};
    CoordUnitsRectToInt(&bounds, &expected, &cs_);
    EXPECT_EQ(std::memcmp(&store_.header.root, &expected, sizeof expected), 0);
    EXPECT_EQ(std::memcmp(&store_.header.second, &expected, sizeof expected), 0);
    EXPECT_TRUE(CoordSysEqual(ObjStoreCoordSys(&store_), &cs_));
    EXPECT_EQ(store_.linked, nullptr);
    ObjStoreClose(&store_);
  }
  // A definition not set up for objects opens no store.
  RemoteTableDouble remote(cs_, 1, 0);
  remote.def.objectsReady = 0;
  remoteTable_.remote = &remote.def;
  ErrorClear();
  EXPECT_FALSE(ObjStoreOpen(&store_, kObjStoreRemote, &remoteTable_, 0, -1));
  EXPECT_EQ(store_.kind, 0);
  remoteTable_.remote = nullptr;
}

TEST_F(ObjStoreTest, RemoteStoreReadsThroughTheTableAndIsNeverWritten) {
  RemoteTableDouble remote(cs_, 1, 0);
  remoteTable_.remote = &remote.def;
  ASSERT_TRUE(ObjStoreOpen(&store_, kObjStoreRemote, &remoteTable_, 0, -1));
  EXPECT_EQ(Read(2), "kind 1 bounds 2000 2000 2000 2000 2000,2000");
  EXPECT_EQ(Read(4), "");
  const IRect away{5000, 5000, 6000, 6000};
  const IRect near{1500, 1500, 2500, 2500};
  EXPECT_EQ(Read(2, &away), "");  // the filter sees what the table read
  EXPECT_EQ(Read(2, &near), "kind 1 bounds 2000 2000 2000 2000 2000,2000");

  Maker maker(7);
  GeomObject o;
  maker.Make(&o, 0);
  const std::vector<uint32_t> before = Counts();
  EXPECT_EQ(Insert(&o, 1), 0);
  EXPECT_EQ(Update(&o, 1), 1);
  EXPECT_EQ(Delete(1), 1);
  EXPECT_EQ(Counts(), before);
  EXPECT_EQ(Read(1), "kind 1 bounds 1000 1000 1000 1000 1000,1000");
  // Without the table's pending rows no linked store can be made.
  EXPECT_FALSE(ObjStoreLinkedCreate(&store_));
  GeomObjectFree(&o);
  remoteTable_.remote = nullptr;
}

TEST_F(ObjStoreTest, PendingRowsAreFoundFirstUntilTheyAreGone) {
  RemoteTableDouble remote(cs_, 0, 1);
  remoteTable_.remote = &remote.def;
  remoteTable_.pendingRows = &remote.pendingRows;
  ASSERT_TRUE(ObjStoreOpen(&store_, kObjStoreRemote, &remoteTable_, 0, -1));
  ASSERT_NE(store_.linked, nullptr);
  EXPECT_EQ(remote.attached, 1);
  EXPECT_TRUE(CoordSysEqual(ObjStoreCoordSys(&remote.pendingObjects), &cs_));

  // An empty rectangle finds nothing in the linked store.
  EXPECT_EQ(Read(2), "kind 1 bounds 2000 2000 2000 2000 2000,2000");
  Maker maker(3);
  GeomObject pending;
  maker.Point(&pending, 77, 88);
  ASSERT_EQ(Update(&pending, 2), 1);
  EXPECT_EQ(std::memcmp(&store_.linked->rect, &pending.bounds, sizeof pending.bounds), 0);
  const int readsBefore = remote.reads;
  EXPECT_EQ(Read(2), Describe(&pending));
  EXPECT_EQ(remote.reads, readsBefore);  // answered without the table
  EXPECT_EQ(Read(1), "kind 1 bounds 1000 1000 1000 1000 1000,1000");

  // A read cursor holds the linked store; closing the store first leaves it
  // to the cursor.
  ObjStoreCursor cursor;
  ASSERT_TRUE(ObjStoreCursorOpen(&cursor, &store_));
  EXPECT_EQ(store_.linked->refs, 2u);
  ObjStoreCursorClose(&cursor, &store_);
  EXPECT_EQ(store_.linked->refs, 1u);

  // Deleting reaches the linked store.
  ASSERT_EQ(Delete(2), 1);
  EXPECT_EQ(Read(2), "kind 1 bounds 2000 2000 2000 2000 2000,2000");
  ASSERT_EQ(Update(&pending, 3), 1);
  EXPECT_EQ(Read(3), Describe(&pending));
  // Once the pending rows are gone, the rectangle is forgotten.
  store_.linked->pending = 1;
  EXPECT_EQ(Read(3), "kind 1 bounds 3000 3000 3000 3000 3000,3000");
  EXPECT_TRUE(IRectIsZero(&store_.linked->rect));

  ObjStoreClose(&store_);
  EXPECT_EQ(remote.detached, 1);
  GeomObjectFree(&pending);
  remoteTable_.remote = nullptr;
  remoteTable_.pendingRows = nullptr;
}

TEST_F(ObjStoreTest, MapWithForeignCodesIsReadButNotChanged) {
  ASSERT_TRUE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 0, 1));
  Maker maker(8);
  GeomObject a, b;
  maker.Make(&a, 3);
  maker.Make(&b, 4);
  ASSERT_EQ(Insert(&a, 1), 1);
  store_.map.highestCode = 80;
  ErrorClear();
  EXPECT_EQ(Insert(&b, 2), 0);
  EXPECT_TRUE(Pushed(kErrMapForeignCodes));
  EXPECT_EQ(Update(&b, 1), 0);
  EXPECT_EQ(Delete(1), 0);
  EXPECT_EQ(Read(1), Describe(&a));
  EXPECT_EQ(Read(2), "");
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 0, 1, 0}));
  GeomObjectFree(&a);
  GeomObjectFree(&b);
}

TEST_F(ObjStoreTest, BoundsFilterTouchesCount) {
  const IRect filter{0, 0, 10, 10};
  struct Case {
    IRect bounds;
    int expected;
  } cases[] = {{{10, 10, 20, 20}, 1}, {{11, 0, 20, 5}, 0}, {{-5, -5, 0, 0}, 1},
               {{2, 2, 3, 3}, 1},     {{-9, 3, -1, 4}, 0}, {{-100, -100, 100, 100}, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(ObjStoreBoundsFilter(&c.bounds, 0, const_cast<IRect*>(&filter)), c.expected)
        << c.bounds.x1 << "," << c.bounds.y1;
}

int Visit(void* context, int32_t row, uint32_t, const IRect*) {
  static_cast<std::set<int32_t>*>(context)->insert(row);
  return 1;
}

// 20,000 mixed objects inserted, 2,000 replaced and 1,000 deleted, one
// operation per row as a table makes them: the descriptors are opened a
// handful of times in all, the index holds and reaches depth 3, every live
// row reads back equal, deleted rows are gone, and rectangles answered by
// walking the tree equal a scan through the store's bounds filter.
TEST_F(ObjStoreTest, MixedRunKeepsIndexAndRowsRight) {
  constexpr int kObjects = 20000;
  CountingEnv env;
  platform::ScopedEnv scoped(env);
  table_.lastRow = kObjects;
  ASSERT_TRUE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 0, 1));
  Maker maker(34);
  std::map<int32_t, std::string> live;
  std::map<int32_t, IRect> bounds;
  auto put = [&](int i, int32_t row, bool replace) {
    GeomObject o;
    maker.Make(&o, i);
    int ok = replace ? Update(&o, row) : Insert(&o, row);
    live[row] = Describe(&o);
    bounds[row] = o.bounds;
    GeomObjectFree(&o);
    return ok;
  };
  for (int i = 0; i < kObjects; ++i) ASSERT_EQ(put(i, i + 1, false), 1) << i << " " << ErrorLastCode();
  std::mt19937 rng(77);
  for (int k = 0; k < 2000; ++k)
    ASSERT_EQ(put(int(rng() % 1000), int32_t(1 + rng() % kObjects), true), 1) << k;
  for (int k = 0; k < 1000;) {
    int32_t row = int32_t(1 + rng() % kObjects);
    if (!live.count(row)) continue;
    ASSERT_EQ(Delete(row), 1) << row;
    live.erase(row);
    bounds.erase(row);
    ++k;
  }
  EXPECT_LT(env.opens, 10) << "a row loop must not open its files per row";

  const std::vector<uint32_t> counts = Counts();
  EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3], uint32_t(live.size()));
  ASSERT_TRUE(ObjStoreClose(&store_));
  ASSERT_TRUE(ObjStoreOpen(&store_, kObjStoreMapFile, &table_, 1, -1));
  EXPECT_EQ(Counts(), counts);

  ASSERT_TRUE(ObjStoreOpenBackend(&store_, kFileModeRead));
  MapIndexCheckResult check{};
  EXPECT_TRUE(MapIndexCheck(&store_.map, store_.readPosition, store_.positionHandle, kObjects,
                            &check))
      << check.message;
  EXPECT_GE(check.depth, 3u);
  EXPECT_EQ(check.live, uint32_t(live.size()));

  ObjStoreCursor cursor;
  ASSERT_TRUE(ObjStoreCursorOpen(&cursor, &store_));
  GeomObject o;
  GeomObjectInit(&o, kGeomNone);
  int mismatches = 0;
  for (int32_t row = 1; row <= kObjects && mismatches < 5; ++row) {
    auto it = live.find(row);
    int found = ObjStoreReadObject(&cursor, &store_, row, 1, &o, nullptr);
    if (it == live.end()) {
      if (found) ++mismatches, ADD_FAILURE() << "deleted row " << row << " reads";
    } else if (!found || Describe(&o) != it->second) {
      ++mismatches;
      ADD_FAILURE() << "row " << row << "\n written " << it->second << "\n read    "
                    << (found ? Describe(&o) : "nothing");
    }
  }

  // Rectangles: the tree walk against the store's filtered reads by row.
  for (int q = 0; q < 50; ++q) {
    int32_t x = int32_t(rng() % 600000000) - 300000000, y = int32_t(rng() % 600000000) - 300000000;
    int32_t w = int32_t(rng() % 40000000), h = int32_t(rng() % 40000000);
    IRect rect{x, y, x + w, y + h};
    std::set<int32_t> walked;
    ASSERT_TRUE(MapIndexSearch(&store_.map, &rect, Visit, &walked));
    std::set<int32_t> scanned;
    cursor.filter = ObjStoreBoundsFilterFn;
    cursor.filterContext = &rect;
    for (const auto& [row, b] : bounds)
      if (ObjStoreReadObject(&cursor, &store_, row, 0, &o, nullptr)) scanned.insert(row);
    cursor.filter = nullptr;
    EXPECT_EQ(walked, scanned) << "query " << q;
  }
  ObjStoreCursorClose(&cursor, &store_);
  EXPECT_TRUE(ObjStoreCloseBackend(&store_));
}

// The store keeps index nodes and .ID rows in memory from one operation to
// the next; files another writer changed in between (here a store of
// another table, whose files are then copied over this one's) must be read
// afresh: rows read as that writer left them, and inserts after it keep the
// index whole.
TEST_F(ObjStoreTest, FilesChangedByAnotherWriterBetweenOperationsAreReadAfresh) {
  constexpr int kRows = 400;
  table_.lastRow = kRows;
  ASSERT_TRUE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 0, 1));
  Maker maker(91);
  std::map<int32_t, std::string> live;
  auto make = [&](int i, GeomObject* o) {
    maker.Make(o, i);
    return Describe(o);
  };
  for (int i = 0; i < 150; ++i) {
    GeomObject o;
    live[i + 1] = make(i, &o);
    ASSERT_EQ(Insert(&o, i + 1), 1) << i;
    GeomObjectFree(&o);
  }
  EXPECT_GE(store_.map.indexDepth, 2);
  {
    ObjStoreTable otherTable{};
    otherTable.file = Add("other.TAB", 1);
    otherTable.lastRow = kRows;
    ObjStore other{};
    ASSERT_TRUE(ObjStoreCreate(&other, kObjStoreMapFile, &otherTable, -1, &cs_, 0, 1));
    ObjStoreIndexCursor cursor;
    ASSERT_TRUE(ObjStoreOpenBackend(&other, kFileModeWrite));
    ASSERT_TRUE(ObjStoreIndexCursorOpen(&cursor, &other));
    Maker again(91);
    for (int i = 0; i < 300; ++i) {
      GeomObject o;
      if (i < 150) {
        again.Make(&o, i);
      } else {
        live[i + 1] = make(i, &o);
      }
      ASSERT_EQ(ObjStoreInsertObject(&cursor, &other, &o, i + 1, 0), 1) << i;
      GeomObjectFree(&o);
    }
    for (int32_t row = 1; row <= 150; row += 7) {
      GeomObject o;
      live[row] = make(int(row) + 1000, &o);
      ASSERT_EQ(ObjStoreUpdateObject(&cursor, &other, &o, row, 0), 1) << row;
      GeomObjectFree(&o);
    }
    ObjStoreIndexCursorClose(&cursor, &other);
    ASSERT_TRUE(ObjStoreCloseBackend(&other));
    ASSERT_TRUE(ObjStoreClose(&other));
    FileRelease(otherTable.file);
    for (const char* ext : {".MAP", ".ID"}) {
      std::filesystem::copy_file(PathOf(std::string("other") + ext),
                                 PathOf(std::string("roads") + ext),
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
  for (int i = 300; i < kRows; ++i) {
    GeomObject o;
    live[i + 1] = make(i, &o);
    ASSERT_EQ(Insert(&o, i + 1), 1) << i;
    GeomObjectFree(&o);
  }
  for (const auto& [row, text] : live) EXPECT_EQ(Read(row), text) << row;
  ASSERT_TRUE(ObjStoreOpenBackend(&store_, kFileModeRead));
  MapIndexCheckResult check{};
  EXPECT_TRUE(MapIndexCheck(&store_.map, store_.readPosition, store_.positionHandle, kRows,
                            &check))
      << check.message;
  EXPECT_EQ(check.live, uint32_t(kRows));
  EXPECT_TRUE(ObjStoreCloseBackend(&store_));
}

}  // namespace

// lio mapdump --check over a map the store made: its index holds every live
// row; once a row's .ID entry points at another record, the check says so.
TEST_F(ObjStoreTest, LioMapdumpCheckFollowsTheIndex) {
  ASSERT_TRUE(ObjStoreCreate(&store_, kObjStoreMapFile, &table_, -1, &cs_, 0, 1));
  Maker maker(11);
  for (int i = 0; i < 1500; ++i) {
    GeomObject o;
    maker.Make(&o, i);
    ASSERT_EQ(Insert(&o, i + 1), 1);
    GeomObjectFree(&o);
  }
  for (int32_t row = 1; row <= 1500; row += 7) ASSERT_EQ(Delete(row), 1);
  ASSERT_TRUE(ObjStoreClose(&store_));

  testsupport::TempDir runDir;
  const std::string map = PathOf("roads.MAP");
  testsupport::Outcome good = testsupport::RunProgram(runDir, GSB_LIO_PROGRAM,
                                                      {"mapdump", "--check", map});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_NE(good.out.find("removed, depth"), std::string::npos) << good.out;
  EXPECT_NE(good.out.find(": consistent\n"), std::string::npos) << good.out;

  // Row 2's entry now names row 3's record.
  std::string id = Contents("roads.ID");
  std::memcpy(&id[4], &id[8], 4);
  {
    FILE* f = std::fopen(PathOf("roads.ID").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(id.data(), 1, id.size(), f);
    std::fclose(f);
  }
  testsupport::Outcome bad = testsupport::RunProgram(runDir, GSB_LIO_PROGRAM,
                                                     {"mapdump", "--check", map});
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.out.find("index: inconsistent: "), std::string::npos) << bad.out;
}
