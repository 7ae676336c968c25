// Ten thousand objects of mixed kinds with shared and distinct styles written
// to a map-object file, the file closed and reopened, and every object and
// style read back by row equal to what was written.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "mapfile/foundation/token.h"
#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/objects/geom.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/maprecord.h"
#include "mapfile/objects/styles.h"
#include "tests/mapfile/objects/map_writer.h"

namespace {

using namespace layerio;

int CollectPoint(void* context, const IPoint* p) {
  static_cast<std::vector<IPoint>*>(context)->push_back(*p);
  return 1;
}

// What a reader sees of an object: kind, bounds, every point, the text and
// the style clauses.
std::string Describe(const GeomObject* o) {
  std::string out = "kind " + std::to_string(o->kind) + " row " + std::to_string(o->row);
  char text[kStyleClauseSize];
  out += " bounds " + std::to_string(o->bounds.x1) + " " + std::to_string(o->bounds.y1) + " " +
         std::to_string(o->bounds.x2) + " " + std::to_string(o->bounds.y2);
  if (o->kind == kGeomCollection) {
    const GeomObject* parts[3] = {o->u.collection.region, o->u.collection.polyline,
                                  o->u.collection.multipoint};
    for (const GeomObject* p : parts) out += p ? " [" + Describe(p) + "]" : " []";
    return out;
  }
  std::vector<IPoint> points;
  if (o->kind != kGeomText && o->kind != kGeomArc) GeomObjectForEachPoint(o, CollectPoint, &points);
  out += " points";
  for (const IPoint& p : points) out += " " + std::to_string(p.x) + "," + std::to_string(p.y);
  if (o->kind == kGeomPolyline || o->kind == kGeomRegion)
    out += " parts " + std::to_string(o->u.poly.partCount);
  if (o->kind == kGeomArc)
    out += " angles " + std::to_string(o->u.arc.startAngle) + " " +
           std::to_string(o->u.arc.endAngle);
  if (o->kind == kGeomRoundRect) out += " corner " + std::to_string(o->u.roundRect.corner);
  if (o->kind == kGeomText) {
    out += " text \"" + std::string(static_cast<const char*>(o->data)) + "\"";
    out += " angle " + std::to_string(o->u.text.angle);
    out += " height " + std::to_string(o->u.text.height);
    if (StyleClauseFont(o->u.text.font, text, sizeof text)) out += std::string(" ") + text;
  }
  PenStyle pen;
  BrushStyle brush;
  SymbolStyle symbol;
  if (GeomObjectGetLinePen(o, &pen) && StyleClausePen(pen, text, sizeof text)) out += text;
  if (GeomObjectGetBorderPen(o, &pen) && StyleClausePen(pen, text, sizeof text)) out += text;
  if (GeomObjectGetBrush(o, &brush) && StyleClauseBrush(brush, text, sizeof text)) out += text;
  if (GeomObjectGetSymbol(o, &symbol) && StyleClauseSymbol(&symbol, text, sizeof text))
    out += text;
  return out;
}

class ObjectMaker {
 public:
  explicit ObjectMaker(uint32_t seed) : rng_(seed) {}

  int32_t Coord(int32_t centre, int32_t spread) {
    return centre + int32_t(rng_() % uint32_t(2 * spread + 1)) - spread;
  }
  // Shared styles come from small palettes; every seventh object gets a
  // colour of its own (up to 120 distinct ones), so that no table passes the
  // 255 entries it holds and every style reads back exactly.
  uint32_t Colour(int i) {
    if (i % 7 == 0) return 0x100000u + uint32_t((i / 7) % 120) * 0x0101u;
    static const uint32_t palette[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x808080, 0x123456};
    return palette[rng_() % 5];
  }
  PenStyle Pen(int i) {
    PenStyle p{};
    p.width = int16_t(i % 7 ? 1 + rng_() % 2 : 1);
    p.pattern = i % 7 ? 2 + rng_() % 2 : 2;
    p.colour = Colour(i);
    return p;
  }
  BrushStyle Brush(int i) {
    BrushStyle b{};
    b.pattern = i % 7 ? 2 + rng_() % 6 : 2;
    b.foreground = Colour(i);
    b.background = 0xFFFFFF;
    b.transparent = uint8_t(i % 7 ? rng_() % 2 : 0);
    return b;
  }
  SymbolStyle Symbol(int i) {
    SymbolStyle s{};
    s.kind = kSymbolSimple;
    static const int16_t shapes[] = {35, 36, 40};
    s.shape = i % 7 ? shapes[rng_() % 3] : 35;
    s.colour = Colour(i);
    s.size = int16_t(i % 7 ? 8 + 4 * (rng_() % 2) : 10);
    return s;
  }

  void Poly(GeomObject* o, int kind, int parts, int32_t cx, int32_t cy, int32_t spread) {
    GeomObjectInit(o, kind);
    std::vector<int32_t> counts;
    std::vector<IPoint> points;
    for (int p = 0; p < parts; ++p) {
      int n = 3 + int(rng_() % 12);
      counts.push_back(n);
      for (int k = 0; k < n; ++k) points.push_back({Coord(cx, spread), Coord(cy, spread)});
    }
    ASSERT_TRUE(GeomPartsSetAll(o, uint32_t(parts), counts.data(), points.data(), nullptr,
                                nullptr));
    maptest::PolyFinish(o);
  }

  // Object i: the kind cycles; the spread decides between small deltas (the
  // compressed codes) and wide coordinates (the long codes).
  void Make(GeomObject* o, int i) {
    const int32_t cx = Coord(0, 400000000), cy = Coord(0, 400000000);
    const int32_t spread = i % 3 == 0 ? 200000 : 3000;
    switch (i % 11) {
      case 0:
        GeomObjectInit(o, kGeomPoint);
        o->u.point.position = {cx, cy};
        o->u.point.symbol = Symbol(i);
        o->bounds = {cx, cy, cx, cy};
        break;
      case 1:
        GeomObjectInit(o, kGeomLine);
        o->u.line = {cx, cy, Coord(cx, spread), Coord(cy, spread)};
        o->bounds = {std::min(o->u.line.x1, o->u.line.x2), std::min(o->u.line.y1, o->u.line.y2),
                     std::max(o->u.line.x1, o->u.line.x2), std::max(o->u.line.y1, o->u.line.y2)};
        o->pen = Pen(i);
        break;
      case 2:
        Poly(o, kGeomPolyline, 1, cx, cy, spread);
        o->pen = Pen(i);
        break;
      case 3:
        Poly(o, kGeomPolyline, 2 + int(rng_() % 3), cx, cy, spread);
        o->pen = Pen(i);
        break;
      case 4:
      case 5:
        Poly(o, kGeomRegion, 1 + int(rng_() % 3), cx, cy, spread);
        o->pen = Pen(i);
        o->brush = Brush(i);
        break;
      case 6: {
        GeomObjectInit(o, kGeomMultipoint);
        std::vector<IPoint> pts;
        int n = 1 + int(rng_() % 20);
        IRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
        for (int k = 0; k < n; ++k) {
          IPoint p{Coord(cx, spread), Coord(cy, spread)};
          pts.push_back(p);
          r = {std::min(r.x1, p.x), std::min(r.y1, p.y), std::max(r.x2, p.x),
               std::max(r.y2, p.y)};
        }
        ASSERT_TRUE(GeomMultipointAddPoints(o, n, pts.data(), nullptr, nullptr));
        o->bounds = r;
        o->u.multipoint.centroid = {(r.x1 + r.x2) / 2, (r.y1 + r.y2) / 2};
        o->u.multipoint.symbol = Symbol(i);
        break;
      }
      case 7:
      case 8:
      case 9: {
        static const int kinds[] = {kGeomRect, kGeomEllipse, kGeomRoundRect};
        GeomObjectInit(o, kinds[i % 11 - 7]);
        int32_t w = 1 + int32_t(rng_() % uint32_t(spread)), h = 1 + int32_t(rng_() % 5000);
        o->bounds = {cx, cy, cx + w, cy + h};
        if (o->kind == kGeomRoundRect) o->u.roundRect.corner = int32_t(rng_() % 3000);
        o->pen = Pen(i);
        o->brush = Brush(i);
        break;
      }
      default: {
        GeomObjectInit(o, kGeomText);
        std::string text = "label " + std::to_string(i) + (i % 2 ? " ÄÖ" : "");
        ASSERT_TRUE(GeomTextSet(o, text.c_str()));
        FontStyle& f = o->u.text.font;
        std::strcpy(f.name, i % 4 ? "Arial" : "Times New Roman");
        f.size = 0;
        f.style = uint8_t(rng_() % 4);
        f.foreground = Colour(i);
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

class MapRoundTripTest : public mapfiletest::FileLayerTest,
                         public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    CoordSysInstallUnitServices();
    ASSERT_TRUE(GeomScratchInit());
  }
  void TearDown() override {
    GeomScratchShutdown();
    TokEnd();
    FileLayerTest::TearDown();
  }
};

TEST_P(MapRoundTripTest, TenThousandObjectsReadBackEqual) {
  constexpr int kObjects = 10000;
  CoordSys cs;
  ASSERT_TRUE(CoordSysParseText(&cs, "CoordSys Earth Projection 1, 104", true));
  FileHandle table = Add("mixed.TAB", 1);
  MapFile map{};
  MapHeader header{};
  ASSERT_TRUE(MapFileCreate(&map, &header, table, -1, &cs, 0, 0, GetParam()));
  IdFileAccess id{};
  ASSERT_TRUE(IdFileCreate(&id, table));
  ASSERT_TRUE(MapFileLock(&map, &header, kFileModeWrite, nullptr));
  maptest::MapWriter writer;
  ASSERT_TRUE(writer.Begin(&map, &header, &id));
  std::vector<std::string> written;
  ObjectMaker maker(33);
  for (int i = 0; i < kObjects; ++i) {
    GeomObject o;
    maker.Make(&o, i);
    ASSERT_TRUE(writer.Add(&o, i + 1)) << "object " << i << " error " << ErrorLastCode();
    written.push_back(Describe(&o));
    GeomObjectFree(&o);
  }
  writer.End();
  ASSERT_TRUE(MapFileUnlock(&map, &header));
  id.lastRow = kObjects;
  ASSERT_TRUE(IdFileFlush(&id));
  MapFileClose(&map);
  EXPECT_EQ(FileDescriptorCount() >= 0, true);

  MapFile again{};
  MapHeader againHeader{};
  ASSERT_TRUE(MapFileOpen(&again, &againHeader, table, -1, 0));
  EXPECT_EQ(againHeader.pointCount + againHeader.lineCount + againHeader.regionCount +
                againHeader.otherCount,
            uint32_t(kObjects));
  EXPECT_GT(again.penCount, 100);  // shared and distinct pens
  ASSERT_TRUE(IdFileOpen(&id, table));
  ASSERT_TRUE(MapFileLock(&again, &againHeader, kFileModeRead, nullptr));
  MapBlockSlot *objectSlot, *coordSlot;
  ASSERT_TRUE(MapBlockSlotAlloc(&again, &objectSlot));
  ASSERT_TRUE(MapBlockSlotAlloc(&again, &coordSlot));
  GeomObject o;
  GeomObjectInit(&o, kGeomNone);
  int mismatches = 0;
  for (int i = 0; i < kObjects && mismatches < 5; ++i) {
    ASSERT_EQ(MapObjectReadByRow(&again, objectSlot, coordSlot, i + 1, 1, IdFileRead, &id,
                                 nullptr, nullptr, &o, nullptr),
              1)
        << "row " << i + 1 << " error " << ErrorLastCode();
    std::string read = Describe(&o);
    if (read != written[size_t(i)]) {
      ++mismatches;
      ADD_FAILURE() << "row " << i + 1 << "\n written " << written[size_t(i)] << "\n read    "
                    << read;
    }
  }
  GeomObjectFree(&o);
  MapBlockSlotFree(&again, &objectSlot);
  MapBlockSlotFree(&again, &coordSlot);
  EXPECT_TRUE(MapFileUnlock(&again, &againHeader));
  EXPECT_TRUE(IdFileFlush(&id));
  MapFileClose(&again);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, MapRoundTripTest, ::testing::Values(512, 16384));

}  // namespace
