// Object records of the map-object file: every code written and read back,
// records laid out by a generator straight from the layout tables (apart
// from the encoder), damaged and truncated records, and reads by row.
#include "mapfile/foundation/token.h"
#include "mapfile/objects/maprecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/objects/mapstyles.h"

namespace {

using namespace layerio;

// ----- objects of every kind -------------------------------------------------------

PenStyle Pen(int16_t width, uint32_t colour) { return PenStyle{width, 2, 0, colour}; }
BrushStyle Brush(uint32_t pattern, uint32_t fg, uint32_t bg) {
  return BrushStyle{pattern, fg, bg, 0};
}

SymbolStyle Symbol(int kind) {
  SymbolStyle s = StyleDefaults()->symbol;
  s.kind = static_cast<uint8_t>(kind);
  if (kind == kSymbolSimple) {
    s.shape = 40, s.colour = 0xAA0000, s.size = 12;
  } else if (kind == kSymbolFont) {
    std::memset(&s.font, 0, sizeof s.font);
    s.shape = 65, s.colour = 0x00BB00, s.size = 18, s.angle = 450;
    SymbolFontStyleSet(&s, 1);
    std::strcpy(s.font.name, "Map Symbols");
  } else {
    std::memset(&s.custom, 0, sizeof s.custom);
    s.colour = 0x0000CC, s.size = 24;
    SymbolCustomNameSet(&s, "pin.bmp");
    SymbolCustomStyleSet(&s, 3);
  }
  return s;
}

void SetBounds(GeomObject* o, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  IRectSet(&o->bounds, x1, y1, x2, y2);
}

// Part bounds and object bounds from the points; centroid at the centre.
void FinishPoly(GeomObject* o) {
  IRect all;
  IRectSetEmpty(&all);
  GeomPart* parts = GeomParts(o);
  for (uint32_t i = 0; i < o->u.poly.partCount; ++i) {
    IRect r;
    IRectSetEmpty(&r);
    const IPoint* pts = GeomPartPoints(o, &parts[i]);
    for (int k = 0; k < parts[i].pointCount; ++k) IRectAddPoint(&r, &pts[k]);
    parts[i].bounds = r;
    IRectUnion(&all, &r);
  }
  o->bounds = all;
  IRectCenter(&all, &o->u.poly.centroid);
}

// A polyline or region of `sections` sections of `each` points near (x, y),
// with value arrays when asked.
void MakePoly(GeomObject* o, int kind, int sections, int each, int32_t x, int32_t y,
              bool values) {
  GeomObjectInit(o, kind);
  o->pen = Pen(3, 0x112233);
  if (kind == kGeomRegion) o->brush = Brush(5, 0x445566, 0x778899);
  o->flagA = o->flagB = values ? 1 : 0;
  std::vector<int32_t> counts(size_t(sections), each);
  std::vector<IPoint> pts;
  std::vector<double> v1, v2;
  for (int s = 0; s < sections; ++s) {
    for (int k = 0; k < each; ++k) {
      pts.push_back(IPoint{x + 7 * k + s, y + ((k * 13 + s * 5) % 40) - 20});
      v1.push_back(k + 0.5 * s);
      v2.push_back(-k - 0.25);
    }
  }
  ASSERT_TRUE(GeomPartsSetAll(o, uint32_t(sections), counts.data(), pts.data(),
                              values ? v1.data() : nullptr, values ? v2.data() : nullptr));
  if (sections > 1) GeomParts(o)[0].following = uint32_t(sections - 1);
  if (kind == kGeomPolyline) o->u.poly.smooth = 1;
  FinishPoly(o);
}

void MakeMultipoint(GeomObject* o, int n, int32_t x, int32_t y, bool values, int symbolKind) {
  GeomObjectInit(o, kGeomMultipoint);
  ASSERT_TRUE(GeomObjectReset(o, kGeomMultipoint, 0));
  o->flagA = o->flagB = values ? 1 : 0;
  std::vector<IPoint> pts;
  std::vector<double> v1, v2;
  IRect r;
  IRectSetEmpty(&r);
  for (int i = 0; i < n; ++i) {
    pts.push_back(IPoint{x + 11 * i, y - 3 * i});
    IRectAddPoint(&r, &pts.back());
    v1.push_back(i * 1.5);
    v2.push_back(100 - i);
  }
  ASSERT_TRUE(GeomMultipointAddPoints(o, n, pts.data(), values ? v1.data() : nullptr,
                                      values ? v2.data() : nullptr));
  o->bounds = r;
  IRectCenter(&r, &o->u.multipoint.centroid);
  o->u.multipoint.symbol = Symbol(symbolKind);
}

// An object that a code of its kind and generation holds; coordinates lie
// near (1000, 1000) so that every form can hold them.
void ObjectForCode(GeomObject* o, int code, bool extended) {
  const int base = code - (code - 1) % 3;
  const int32_t x = 1000, y = 1000;
  switch (base) {
    case 1: case 40: case 43: case 58:
      GeomObjectInit(o, kGeomPoint);
      o->u.point.position = IPoint{x + 10, y - 10};
      o->u.point.symbol = Symbol(base == 40 ? kSymbolFont : base == 43 ? kSymbolCustom
                                                                        : kSymbolSimple);
      if (base == 58) {
        o->u.point.symbol = Symbol(kSymbolFont);
        o->flagA = o->flagB = extended ? 1 : 0;
        if (extended) {
          void* v1 = nullptr;
          void* v2 = nullptr;
          ASSERT_TRUE(GeomBufferReserve(8, &v1, nullptr, 0));
          ASSERT_TRUE(GeomBufferReserve(8, &v2, nullptr, 0));
          o->values1 = static_cast<double*>(v1);
          o->values2 = static_cast<double*>(v2);
          o->values1[0] = 1.5;
          o->values2[0] = -2.25;
        }
      }
      SetBounds(o, x + 10, y - 10, x + 10, y - 10);
      break;
    case 4:
      GeomObjectInit(o, kGeomLine);
      o->pen = Pen(2, 0xFF0000);
      o->u.line = GeomLineFields{x - 5, y, x + 20, y + 30};
      SetBounds(o, x - 5, y, x + 20, y + 30);
      break;
    case 7: MakePoly(o, kGeomPolyline, 1, 3, x, y, false); break;
    case 37: MakePoly(o, kGeomPolyline, 3, 4, x, y, false); break;
    case 49: MakePoly(o, kGeomPolyline, 2, 5, x, y, false); break;
    case 64: MakePoly(o, kGeomPolyline, 2, 6, x, y, extended); break;
    case 13: MakePoly(o, kGeomRegion, 2, 4, x, y, false); break;
    case 46: MakePoly(o, kGeomRegion, 3, 3, x, y, false); break;
    case 61: MakePoly(o, kGeomRegion, 2, 5, x, y, extended); break;
    case 10:
      GeomObjectInit(o, kGeomArc);
      o->pen = Pen(1, 0x00FF00);
      o->u.arc.ellipse = IRect{x - 10, y - 10, x + 30, y + 10};
      o->u.arc.startAngle = 300;
      o->u.arc.endAngle = 1200;
      o->bounds = o->u.arc.ellipse;
      break;
    case 16: {
      GeomObjectInit(o, kGeomText);
      ASSERT_TRUE(GeomObjectReset(o, kGeomText, 0));
      ASSERT_TRUE(GeomTextSet(o, "Hello, map"));
      GeomTextFields& t = o->u.text;
      t.font.style = 3;
      t.font.flagA = 1;
      std::strcpy(t.font.name, "Arial");
      t.font.foreground = 0x010203;
      t.font.background = 0x040506;
      t.font.backgroundFlag = 1;
      t.height = 8;
      t.angle = 150;
      t.frame = IRect{x, y, x + 40, y + 10};
      t.lineEnd = IPoint{x + 50, y + 20};
      t.flags = (1u << kTextJustifyShift) | (1u << kTextLabelShift) | 1u;
      o->pen = Pen(1, 0x0000FF);
      SetBounds(o, x, y, x + 50, y + 20);
      break;
    }
    case 19: case 25:
      GeomObjectInit(o, base == 19 ? kGeomRect : kGeomEllipse);
      o->pen = Pen(4, 0x123456);
      o->brush = Brush(2, 0x00FFFF, 0xFFFFFF);
      SetBounds(o, x - 3, y - 4, x + 50, y + 60);
      break;
    case 22:
      GeomObjectInit(o, kGeomRoundRect);
      o->brush = Brush(3, 0xFF00FF, 0x000000);
      o->u.roundRect.corner = 6;
      SetBounds(o, x, y, x + 40, y + 40);
      break;
    case 28:
      GeomObjectInit(o, kGeomFrame);
      o->u.frame.fill = 1;
      SetBounds(o, x, y, x + 100, y + 80);
      break;
    case 31: case 34: {
      const int kind = base == 31 ? kGeomItems12 : kGeomItems24;
      GeomObjectInit(o, kind);
      ASSERT_TRUE(GeomObjectReset(o, kind, 0));
      const int size = kind == kGeomItems12 ? 12 : 24;
      o->u.items.count = 3;
      ASSERT_TRUE(GeomBufferReserve(size_t(3 * size), &o->data, nullptr, 0));
      uint8_t* b = static_cast<uint8_t*>(o->data);
      std::memset(b, 0, size_t(3 * size));
      for (int i = 0; i < 3; ++i) {
        if (kind == kGeomItems12) {
          for (int k = 0; k < 12; ++k) b[12 * i + k] = uint8_t(i * 12 + k + 1);
        } else {
          uint32_t a = 0x01020304u * uint32_t(i + 1);
          double d = i + 0.125;
          uint16_t c = uint16_t(0xA0B0 + i);
          std::memcpy(b + 24 * i, &a, 4);
          std::memcpy(b + 24 * i + 8, &d, 8);
          std::memcpy(b + 24 * i + 16, &c, 2);
        }
      }
      o->pen = Pen(2, 0x333333);
      SetBounds(o, x, y, x + 10, y + 10);
      break;
    }
    case 52: MakeMultipoint(o, 5, x, y, false, kSymbolCustom); break;
    case 67: MakeMultipoint(o, 4, x, y, extended, kSymbolSimple); break;
    case 55: case 70: {
      GeomObjectInit(o, kGeomCollection);
      GeomObject region, line, points;
      MakePoly(&region, kGeomRegion, 2, 4, x, y, false);
      MakePoly(&line, kGeomPolyline, 2, 3, x + 5, y + 5, false);
      MakeMultipoint(&points, 3, x - 20, y + 7, false, kSymbolFont);
      ASSERT_TRUE(GeomCollectionAddObject(o, &region, 0));
      ASSERT_TRUE(GeomCollectionAddObject(o, &line, 0));
      ASSERT_TRUE(GeomCollectionAddObject(o, &points, 0));
      GeomObjectFree(&region);
      GeomObjectFree(&line);
      GeomObjectFree(&points);
      break;
    }
    default:
      FAIL() << "no object for code " << code;
  }
  o->row = uint32_t(code);
}

// ----- comparing objects ------------------------------------------------------------

void ExpectRect(const IRect& a, const IRect& b, const char* what) {
  EXPECT_TRUE(a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2)
      << what << ": " << a.x1 << "," << a.y1 << "," << a.x2 << "," << a.y2 << " vs " << b.x1
      << "," << b.y1 << "," << b.x2 << "," << b.y2;
}
void ExpectPoint(const IPoint& a, const IPoint& b, const char* what) {
  EXPECT_TRUE(a.x == b.x && a.y == b.y)
      << what << ": " << a.x << "," << a.y << " vs " << b.x << "," << b.y;
}
void ExpectPen(const PenStyle& a, const PenStyle& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.pattern, b.pattern);
  EXPECT_EQ(a.colour & 0xFFFFFF, b.colour & 0xFFFFFF);
}
void ExpectBrush(const BrushStyle& a, const BrushStyle& b) {
  EXPECT_EQ(a.pattern, b.pattern);
  EXPECT_EQ(a.foreground & 0xFFFFFF, b.foreground & 0xFFFFFF);
  EXPECT_EQ(a.background & 0xFFFFFF, b.background & 0xFFFFFF);
  EXPECT_EQ(a.transparent, b.transparent);
}
void ExpectSymbol(const SymbolStyle& a, const SymbolStyle& b) {
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.shape, b.shape);
  EXPECT_EQ(a.size, b.size);
  EXPECT_EQ(a.colour & 0xFFFFFF, b.colour & 0xFFFFFF);
  if (a.kind == kSymbolFont) {
    EXPECT_STREQ(a.font.name, b.font.name);
    EXPECT_EQ(a.angle, b.angle);
    EXPECT_EQ(SymbolFontStyleGet(&a), SymbolFontStyleGet(&b));
  } else if (a.kind == kSymbolCustom) {
    EXPECT_STREQ(a.custom.file, b.custom.file);
    EXPECT_EQ(SymbolCustomStyleGet(&a), SymbolCustomStyleGet(&b));
  }
}

void ExpectValues(const GeomObject& a, const GeomObject& b, size_t n) {
  EXPECT_EQ(a.flagA, b.flagA);
  EXPECT_EQ(a.flagB, b.flagB);
  for (size_t i = 0; i < n; ++i) {
    if (a.flagA && b.flagA) {
      EXPECT_EQ(a.values1[i], b.values1[i]) << i;
    }
    if (a.flagB && b.flagB) {
      EXPECT_EQ(a.values2[i], b.values2[i]) << i;
    }
  }
}

void ExpectSame(const GeomObject& a, const GeomObject& b);

void ExpectSamePoly(const GeomObject& a, const GeomObject& b) {
  EXPECT_EQ(a.u.poly.partCount, b.u.poly.partCount);
  ASSERT_EQ(a.u.poly.dataSize, b.u.poly.dataSize);
  ExpectPoint(a.u.poly.centroid, b.u.poly.centroid, "centroid");
  EXPECT_EQ(a.u.poly.smooth & 1, b.u.poly.smooth & 1);
  ASSERT_EQ(std::memcmp(a.data, b.data, a.u.poly.dataSize), 0) << "headers and points";
  GeomBufferSizes s;
  GeomObjectSizes(&a, &s);
  ExpectValues(a, b, s.values1 / 8);
}

void ExpectSame(const GeomObject& a, const GeomObject& b) {
  ASSERT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.row, b.row);
  ExpectRect(a.bounds, b.bounds, "bounds");
  switch (a.kind) {
    case kGeomPoint:
      ExpectPoint(a.u.point.position, b.u.point.position, "position");
      ExpectSymbol(a.u.point.symbol, b.u.point.symbol);
      ExpectValues(a, b, 1);
      break;
    case kGeomLine:
      EXPECT_EQ(0, std::memcmp(&a.u.line, &b.u.line, sizeof a.u.line));
      ExpectPen(a.pen, b.pen);
      break;
    case kGeomArc:
      ExpectRect(a.u.arc.ellipse, b.u.arc.ellipse, "ellipse");
      EXPECT_EQ(a.u.arc.startAngle, b.u.arc.startAngle);
      EXPECT_EQ(a.u.arc.endAngle, b.u.arc.endAngle);
      ExpectPen(a.pen, b.pen);
      break;
    case kGeomPolyline:
    case kGeomRegion:
      ExpectSamePoly(a, b);
      ExpectPen(a.pen, b.pen);
      if (a.kind == kGeomRegion) ExpectBrush(a.brush, b.brush);
      break;
    case kGeomText: {
      const GeomTextFields &s = a.u.text, &t = b.u.text;
      ASSERT_EQ(s.length, t.length);
      EXPECT_EQ(std::string(static_cast<char*>(a.data), s.length),
                std::string(static_cast<char*>(b.data), t.length));
      EXPECT_EQ(s.font.style, t.font.style);
      EXPECT_EQ(s.font.flagA, t.font.flagA);
      EXPECT_STREQ(s.font.name, t.font.name);
      EXPECT_EQ(s.font.foreground, t.font.foreground);
      EXPECT_EQ(s.font.background, t.font.background);
      EXPECT_EQ(s.font.backgroundFlag, t.font.backgroundFlag);
      EXPECT_EQ(s.height, t.height);
      EXPECT_EQ(s.angle, t.angle);
      EXPECT_EQ(s.flags & 0x1FF, t.flags & 0x1FF);
      EXPECT_EQ(s.user, t.user);
      ExpectRect(s.frame, t.frame, "frame");
      ExpectPoint(s.lineEnd, t.lineEnd, "label-line end");
      ExpectPen(a.pen, b.pen);
      break;
    }
    case kGeomRect:
    case kGeomEllipse:
    case kGeomRoundRect:
    case kGeomFrame:
      ExpectPen(a.pen, b.pen);
      ExpectBrush(a.brush, b.brush);
      if (a.kind == kGeomRoundRect) {
        EXPECT_EQ(a.u.roundRect.corner, b.u.roundRect.corner);
      }
      if (a.kind == kGeomFrame) {
        EXPECT_EQ(a.u.frame.fill, b.u.frame.fill);
      }
      break;
    case kGeomItems12:
    case kGeomItems24: {
      ASSERT_EQ(a.u.items.count, b.u.items.count);
      const size_t size = (a.kind == kGeomItems12 ? 12 : 24) * size_t(a.u.items.count);
      EXPECT_EQ(std::memcmp(a.data, b.data, size), 0);
      ExpectPen(a.pen, b.pen);
      break;
    }
    case kGeomMultipoint:
      ASSERT_EQ(a.u.multipoint.pointCount, b.u.multipoint.pointCount);
      EXPECT_EQ(std::memcmp(a.data, b.data, 8 * size_t(a.u.multipoint.pointCount)), 0);
      ExpectPoint(a.u.multipoint.centroid, b.u.multipoint.centroid, "centroid");
      ExpectSymbol(a.u.multipoint.symbol, b.u.multipoint.symbol);
      ExpectValues(a, b, a.u.multipoint.pointCount);
      break;
    case kGeomCollection: {
      const GeomObject* pa[3] = {a.u.collection.region, a.u.collection.polyline,
                                 a.u.collection.multipoint};
      const GeomObject* pb[3] = {b.u.collection.region, b.u.collection.polyline,
                                 b.u.collection.multipoint};
      for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(pa[i] != nullptr, pb[i] != nullptr);
        if (!pa[i]) continue;
        GeomObject x = *pa[i], y = *pb[i];
        x.row = y.row = 0;
        ExpectSame(x, y);
      }
      break;
    }
    default:
      break;
  }
}

// ----- the fixture --------------------------------------------------------------------

int gNextName = 0;

class MapRecordTest : public mapfiletest::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    CoordSysInstallUnitServices();
  }
  void TearDown() override {
    Close();
    TokEnd();
    FileLayerTest::TearDown();
  }

  void Create(int blockSize, bool extended) {
    name_ = "m" + std::to_string(gNextName++);
    table_ = Add(name_ + ".TAB", 1);
    CoordSys cs;
    std::string clause = "CoordSys NonEarth Units \"m\" Bounds (0, 0) (100000, 100000)";
    if (extended) clause += " supportmz";
    ASSERT_TRUE(CoordSysParseText(&cs, clause.c_str(), true));
    ASSERT_TRUE(MapFileCreate(&map_, &header_, table_, -1, &cs, 0, 0, blockSize));
    ASSERT_EQ(map_.extension != 0, extended);
    open_ = true;
    Lock();
  }
  void Lock() {
    ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeWrite, nullptr));
    ASSERT_TRUE(MapBlockSlotAlloc(&map_, &objectSlot_));
    ASSERT_TRUE(MapBlockSlotAlloc(&map_, &coordSlot_));
    locked_ = true;
  }
  void Unlock() {
    if (!locked_) return;
    MapBlockSlotFree(&map_, &objectSlot_);
    MapBlockSlotFree(&map_, &coordSlot_);
    // The style counts live in the header, which the object store marks.
    header_.flags |= kMapHeaderDirty;
    EXPECT_TRUE(MapFileUnlock(&map_, &header_));
    locked_ = false;
  }
  void Close() {
    Unlock();
    if (open_) MapFileClose(&map_);
    open_ = false;
  }
  // Reopens the file from disk: the style tables are read again.
  void Reopen() {
    Close();
    ASSERT_TRUE(MapFileOpen(&map_, &header_, table_, -1, 0)) << ErrorLastCode();
    open_ = true;
    Lock();
  }

  uint32_t NewObjectBlock(IPoint base) {
    uint32_t at = 0;
    EXPECT_TRUE(MapBlockAlloc(&map_, &at));
    MapObjectBlockInit(&map_, objectSlot_, &base);
    EXPECT_TRUE(MapBlockWrite(&map_, objectSlot_, at));
    return at;
  }

  // Writes the object with a given code at the end of the block; 0 when
  // the encoder refuses.
  uint32_t WriteCode(uint32_t block, const GeomObject& o, int code) {
    if (!MapBlockRead(&map_, objectSlot_, block)) return 0;
    MapObjectBlockHead head;
    MapObjectBlockHeadRead(objectSlot_->bytes, &head);
    uint8_t rec[128];
    if (!MapObjectEncode(&map_, &o, code, rec, &head.base, 0, kMapEncodeCountUse)) return 0;
    uint32_t start = 0;
    if (!MapObjectDataWrite(&map_, &o, code, coordSlot_, objectSlot_, &start)) return 0;
    if (MapCodeHasData(code)) {
      EXPECT_NE(start, 0u);
      QStoreU32LE(rec + 5, start);
    }
    MapObjectBlockHeadRead(objectSlot_->bytes, &head);
    const int L = MapCodeLength(code);
    if (kMapObjectBlockHead + head.used + L > map_.blockSize) return 0;
    const uint32_t offset = kMapObjectBlockHead + head.used;
    std::memcpy(objectSlot_->bytes + offset, rec, size_t(L));
    head.used = uint16_t(head.used + L);
    MapObjectBlockHeadWrite(objectSlot_->bytes, &head);
    if (!MapBlockWrite(&map_, objectSlot_, block)) return 0;
    return block + offset;
  }

  MapFile map_{};
  MapHeader header_{};
  FileHandle table_ = 0;
  std::string name_;
  MapBlockSlot* objectSlot_ = nullptr;
  MapBlockSlot* coordSlot_ = nullptr;
  bool locked_ = false;
  bool open_ = false;
};

struct Written {
  int code;
  uint32_t position;
};

TEST_F(MapRecordTest, EveryCodeIsWrittenAndReadBackAtBothBlockSizes) {
  for (int blockSize : {512, 16384}) {
    for (bool extended : {true, false}) {
      SCOPED_TRACE(testing::Message() << "block size " << blockSize << " extended " << extended);
      Create(blockSize, extended);
      std::vector<Written> written;
      uint32_t block = NewObjectBlock(IPoint{1000, 1000});
      for (int code = 1; code <= 72; ++code) {
        SCOPED_TRACE(code);
        GeomObject o;
        ObjectForCode(&o, code, extended);
        uint32_t at = WriteCode(block, o, code);
        if (at == 0) {  // the block is full: a new one
          block = NewObjectBlock(IPoint{1000, 1000});
          at = WriteCode(block, o, code);
        }
        ASSERT_NE(at, 0u);
        written.push_back({code, at});
        GeomObject back;
        GeomObjectInit(&back, kGeomNone);
        int code2 = 0;
        ASSERT_TRUE(MapObjectRecordRead(&map_, objectSlot_, coordSlot_, at, &back, &code2));
        EXPECT_EQ(code2, code);
        if (!extended) o.flagA = o.flagB = 0;  // values are not stored without the extension
        ExpectSame(o, back);
        GeomObjectFree(&back);
        GeomObjectFree(&o);
      }
      // From the file alone, with the style tables read again.
      Reopen();
      for (const Written& w : written) {
        SCOPED_TRACE(w.code);
        GeomObject o, back;
        ObjectForCode(&o, w.code, extended);
        if (!extended) o.flagA = o.flagB = 0;
        GeomObjectInit(&back, kGeomNone);
        int code = 0;
        ASSERT_TRUE(MapObjectRecordRead(&map_, objectSlot_, coordSlot_, w.position, &back, &code));
        EXPECT_EQ(code, w.code);
        ExpectSame(o, back);
        GeomObjectFree(&back);
        GeomObjectFree(&o);
      }
      Close();
    }
  }
}

// Objects placed by the writer's choice of code, read back by row through
// the .ID file; large objects run through chains of coordinate blocks.
TEST_F(MapRecordTest, AppendedObjectsReadBackByRowThroughBothCompressionChoices) {
  for (int blockSize : {512, 16384}) {
    SCOPED_TRACE(blockSize);
    Create(blockSize, true);
    IdFileAccess ids{};
    ASSERT_TRUE(IdFileCreate(&ids, table_));
    struct Made {
      int32_t row;
      GeomObject object;
      int code;
    };
    std::vector<Made> made;
    const uint32_t block = NewObjectBlock(IPoint{1000, 1000});
    uint32_t current = block;
    int32_t row = 1;
    auto put = [&](GeomObject o, int expectedCode) {
      o.row = uint32_t(row);
      uint32_t at = 0;
      int fits = 1;
      if (!MapObjectAppend(&map_, objectSlot_, coordSlot_, current, &o, &at, &fits)) {
        ASSERT_EQ(fits, 0);
        current = NewObjectBlock(IPoint{1000, 1000});
        ASSERT_TRUE(MapObjectAppend(&map_, objectSlot_, coordSlot_, current, &o, &at, &fits));
      }
      ASSERT_TRUE(IdFileWrite(row, at, &ids));
      made.push_back({row, o, expectedCode});
      ++row;
    };
    GeomObject o;
    ObjectForCode(&o, 4, true);
    put(o, 4);  // near the base point: compressed
    o.u.line.x2 = 1000 + 40000;
    o.bounds.x2 = o.u.line.x2;
    put(o, 5);  // too far for 16-bit deltas: long
    MakePoly(&o, kGeomRegion, 2, 4, 500000, 500000, false);
    put(o, 13);  // far from the block's base point, but small: its own base point
    MakePoly(&o, kGeomRegion, 2, 4, 500000, 500000, false);
    GeomPartPoints(&o, GeomParts(&o))[1].x += 70000;
    FinishPoly(&o);
    put(o, 14);  // 65535 wide or more: long
    MakePoly(&o, kGeomPolyline, 3, 300, 2000, 3000, false);
    put(o, 37);  // 900 points: several coordinate blocks at 512
    MakePoly(&o, kGeomPolyline, 1, 200, 2000, 3000, true);
    put(o, 64);  // values with the extension
    MakeMultipoint(&o, 150, -4000, 100, false, kSymbolSimple);
    put(o, 52);
    ObjectForCode(&o, 70, true);
    put(o, 55);
    ObjectForCode(&o, 16, true);
    put(o, 16);
    ObjectForCode(&o, 40, true);
    put(o, 40);

    for (Made& m : made) {
      SCOPED_TRACE(m.row);
      GeomObject back;
      GeomObjectInit(&back, kGeomNone);
      int styleFailure = -1;
      ASSERT_TRUE(MapObjectReadByRow(&map_, objectSlot_, coordSlot_, m.row, 1, IdFileRead, &ids,
                                     nullptr, nullptr, &back, &styleFailure));
      EXPECT_EQ(styleFailure, 0);
      uint32_t at = 0;
      ASSERT_TRUE(IdFileRead(m.row, &at, &ids));
      EXPECT_EQ(objectSlot_->bytes[at % uint32_t(blockSize)], m.code);
      ExpectSame(m.object, back);
      GeomObjectFree(&back);
    }
    // A row without an object, and row 0.
    GeomObject back;
    GeomObjectInit(&back, kGeomNone);
    EXPECT_FALSE(MapObjectReadByRow(&map_, objectSlot_, coordSlot_, row, 1, IdFileRead, &ids,
                                    nullptr, nullptr, &back, nullptr));
    EXPECT_FALSE(MapObjectReadByRow(&map_, objectSlot_, coordSlot_, 0, 1, IdFileRead, &ids,
                                    nullptr, nullptr, &back, nullptr));
    EXPECT_EQ(ErrorCount(), 0);
    GeomObjectFree(&back);
    for (Made& m : made) GeomObjectFree(&m.object);
    EXPECT_TRUE(IdFileFlush(&ids));
    Close();
  }
}

TEST_F(MapRecordTest, TheDataWordHoldsTheBytesActuallyStored) {
  Create(512, false);
  // Two rings of five points (closed): the compressed region of the mend.
  GeomObject o;
  GeomObjectInit(&o, kGeomRegion);
  const int32_t counts[2] = {4, 4};
  const IPoint pts[8] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {2, 2}, {4, 2}, {4, 4}, {2, 4}};
  ASSERT_TRUE(GeomPartsSetAll(&o, 2, counts, pts, nullptr, nullptr));
  FinishPoly(&o);
  ASSERT_EQ(o.u.poly.dataSize, 136u);
  const uint32_t block = NewObjectBlock(IPoint{0, 0});
  const uint32_t at = WriteCode(block, o, 13);
  ASSERT_NE(at, 0u);
  ASSERT_TRUE(MapBlockRead(&map_, objectSlot_, block));
  const uint8_t* rec = objectSlot_->bytes + (at - block);
  EXPECT_EQ(QLoadU32LE(rec + 9), 72u);  // 2 x 16 header bytes + 10 x 4 point bytes
  EXPECT_EQ(MapObjectStreamSize(&o, 13, 0), 72u);
  EXPECT_EQ(MapObjectStreamSize(&o, 14, 0), 2 * 24u + 10 * 8u);
  EXPECT_EQ(MapObjectStreamSize(&o, 61, 0), 2 * 20u + 10 * 4u);
  GeomObject back;
  GeomObjectInit(&back, kGeomNone);
  ASSERT_TRUE(MapObjectRecordRead(&map_, objectSlot_, coordSlot_, at, &back, nullptr));
  EXPECT_EQ(back.u.poly.dataSize, 136u);
  ExpectSame(o, back);
  GeomObjectFree(&back);
  GeomObjectFree(&o);
}

int SkipData(void* context, const IRect* bounds) {
  *static_cast<IRect*>(context) = *bounds;
  return 0;
}

TEST_F(MapRecordTest, WithoutItsDataAnObjectHasNoCoordinatesAndReleaseLowersUseCounts) {
  Create(512, false);
  IdFileAccess ids{};
  ASSERT_TRUE(IdFileCreate(&ids, table_));
  GeomObject o;
  MakePoly(&o, kGeomPolyline, 2, 5, 100, 100, false);
  o.row = 1;
  const uint32_t block = NewObjectBlock(IPoint{100, 100});
  uint32_t at = 0;
  ASSERT_TRUE(MapObjectAppend(&map_, objectSlot_, coordSlot_, block, &o, &at, nullptr));
  ASSERT_TRUE(IdFileWrite(1, at, &ids));

  for (int readData : {0, 1}) {
    SCOPED_TRACE(readData);
    GeomObject back;
    GeomObjectInit(&back, kGeomNone);
    IRect seen{};
    ASSERT_TRUE(MapObjectReadByRow(&map_, objectSlot_, coordSlot_, 1, readData, IdFileRead, &ids,
                                   SkipData, &seen, &back, nullptr));
    ExpectRect(seen, o.bounds, "bounds given to the filter");
    ExpectRect(back.bounds, o.bounds, "bounds");
    EXPECT_EQ(back.u.poly.partCount, 0u);  // the filter declined the data
    EXPECT_EQ(back.u.poly.dataSize, 0u);
    GeomObjectFree(&back);
  }

  // Decoding for a removal lowers the pen's use count: its entry is free.
  ASSERT_TRUE(MapBlockRead(&map_, objectSlot_, block));
  const uint8_t* rec = objectSlot_->bytes + (at - block);
  const uint8_t pen = rec[MapCodeLength(rec[0]) - 1];
  ASSERT_GT(pen, 0);
  EXPECT_EQ(map_.pens[pen - 1].position & kMapStyleEntryFree, 0u);
  GeomObject back;
  GeomObjectInit(&back, kGeomNone);
  const IPoint base{100, 100};
  EXPECT_TRUE(MapObjectDecode(&map_, rec, &back, nullptr, &base, 1));
  EXPECT_NE(map_.pens[pen - 1].position & kMapStyleEntryFree, 0u);
  ExpectPen(back.pen, o.pen);
  GeomObjectFree(&back);
  GeomObjectFree(&o);
  EXPECT_TRUE(IdFileFlush(&ids));
}

TEST_F(MapRecordTest, ReadingIntoAnObjectWithBorrowedBuffersLeavesThemAlone) {
  Create(512, true);
  GeomObject o;
  MakePoly(&o, kGeomRegion, 2, 5, 100, 100, true);
  const uint32_t block = NewObjectBlock(IPoint{100, 100});
  const uint32_t at = WriteCode(block, o, 61);
  ASSERT_NE(at, 0u);
  uint8_t lent[16] = {1, 2, 3};
  double lentValues[2] = {7, 8};
  GeomObject back;
  GeomObjectInit(&back, kGeomRegion);
  back.data = lent;
  back.values1 = lentValues;
  back.bufferFlags = kGeomBorrowed;
  ASSERT_TRUE(MapObjectRecordRead(&map_, objectSlot_, coordSlot_, at, &back, nullptr));
  EXPECT_EQ(lent[0], 1);
  EXPECT_EQ(lentValues[0], 7);
  EXPECT_NE(back.data, static_cast<void*>(lent));
  EXPECT_EQ(back.bufferFlags & kGeomBorrowed, 0u);
  o.row = back.row;
  ExpectSame(o, back);
  GeomObjectFree(&back);
  GeomObjectFree(&o);
}

TEST_F(MapRecordTest, ObjectsThatNoFormHoldsAreRefused) {
  Create(512, false);
  const IPoint base{0, 0};
  uint8_t rec[128];
  struct Case {
    const char* name;
    int code;
  } cases[] = {{"a line far from the base point as code 4", 4},
               {"one section expected by code 7", 7},
               {"wrong kind for the code", 1}};
  GeomObject line;
  ObjectForCode(&line, 4, false);
  line.u.line.x2 = 100000;
  EXPECT_FALSE(MapObjectEncode(&map_, &line, cases[0].code, rec, &base, 0, 0));
  GeomObject poly;
  MakePoly(&poly, kGeomPolyline, 2, 3, 0, 0, false);
  EXPECT_FALSE(MapObjectEncode(&map_, &poly, cases[1].code, rec, &base, 0, 0));
  EXPECT_FALSE(MapObjectEncode(&map_, &poly, cases[2].code, rec, &base, 0, 0));
  // A point of a compressed polyline more than 32767 from the centre of its
  // bounds (bounds that do not cover the points).
  poly.bounds = IRect{0, 0, 10, 10};
  GeomPartPoints(&poly, GeomParts(&poly))[0].x = 50000;
  EXPECT_FALSE(MapObjectEncode(&map_, &poly, 37, rec, &base, 0, 0));
  uint32_t start = 1;
  EXPECT_FALSE(MapObjectDataWrite(&map_, &poly, 37, coordSlot_, objectSlot_, &start));
  GeomObjectFree(&poly);
  GeomObjectFree(&line);
}

// ----- the generator -----------------------------------------------------------------
//
// Lays out object and coordinate blocks byte by byte from the layout tables,
// independently of the encoder, and keeps what each row should decode to.

struct Gen {
  uint32_t blockSize = 512;
  uint32_t first = 1024;  // the first block
  std::vector<uint8_t> bytes;  // the blocks from `first` on

  uint8_t* Block(int n) {
    const size_t need = size_t(n + 1) * blockSize;
    if (bytes.size() < need) bytes.resize(need, 0);
    return bytes.data() + size_t(n) * blockSize;
  }
  uint32_t Pos(int n) const { return first + uint32_t(n) * blockSize; }
  static void U16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
  }
  static void U32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
  }
  static void I32(uint8_t* p, int32_t v) { U32(p, uint32_t(v)); }
  static void D16(uint8_t* p, int dx, int dy) {
    U16(p, uint16_t(int16_t(dx)));
    U16(p + 2, uint16_t(int16_t(dy)));
  }
  void ObjectBlock(int n, int32_t bx, int32_t by, uint32_t used, uint32_t coord) {
    uint8_t* b = Block(n);
    U16(b, 2);
    U16(b + 2, used);
    I32(b + 4, bx);
    I32(b + 8, by);
    U32(b + 12, coord);
    U32(b + 16, coord);
  }
  void CoordBlock(int n, uint32_t used, uint32_t next) {
    uint8_t* b = Block(n);
    U16(b, 3);
    U16(b + 2, used);
    U32(b + 4, next);
  }
};

class GeneratedRecordTest : public MapRecordTest {
 protected:
  // Builds the generated file: an empty map's head and the generator's
  // blocks after it, then opens it.
  void Build() {
    Create(512, false);
    Close();
    std::string head = Contents(name_ + ".MAP");
    ASSERT_EQ(head.size(), 1024u);
    head.append(reinterpret_cast<const char*>(gen_.bytes.data()), gen_.bytes.size());
    // A file of its own that the file layer has never seen, so that nothing
    // cached of the empty map stands in for it.
    name_ += "g";
    dir_.Write(name_ + ".MAP", head);
    table_ = Add(name_ + ".TAB", 1);
    ASSERT_TRUE(MapFileOpen(&map_, &header_, table_, -1, 0));
    open_ = true;
    Lock();
  }

  static int16_t Reader(int32_t row, uint32_t* position, IdFileAccess*) {
    auto it = rows_.find(row);
    if (it == rows_.end()) return 0;
    *position = it->second;
    return 1;
  }
  int Read(int32_t row, GeomObject* o) {
    return MapObjectReadByRow(&map_, objectSlot_, coordSlot_, row, 1, Reader, nullptr, nullptr,
                              nullptr, o, nullptr);
  }

  // The standard layout: block 0 objects (base 1000, 1000), blocks 1 and 2
  // a coordinate chain, block 3 a second chain that splits a value.
  void Standard() {
    rows_.clear();
    gen_.Block(3);  // all four blocks first: pointers into them stay valid
    uint8_t* ob = gen_.Block(0);
    uint32_t at = 20;
    auto record = [&](int code, uint32_t row) {
      uint8_t* r = ob + at;
      r[0] = uint8_t(code);
      Gen::U32(r + 1, row);
      rows_[int32_t(row)] = gen_.Pos(0) + at;
      at += uint32_t(MapCodeLength(code));
      return r;
    };
    uint8_t* cb = gen_.Block(1);
    uint32_t c = 8;  // next free payload byte of block 1

    // Row 1, code 1: a point 5 left and 7 up from the base point.
    uint8_t* r = record(1, 1);
    Gen::D16(r + 5, -5, 7);
    r[9] = 0;

    // Row 2, code 7: a polyline of one section of three points; record
    // base (2000, 2000), points as deltas from it.
    r = record(7, 2);
    Gen::U32(r + 5, gen_.Pos(1) + c);
    Gen::U32(r + 9, 12);
    Gen::D16(r + 13, 1, 1);
    Gen::I32(r + 17, 2000);
    Gen::I32(r + 21, 2000);
    Gen::D16(r + 25, -10, -5);  // bounds
    Gen::D16(r + 29, 10, 5);
    r[33] = 0;
    const int line[3][2] = {{-10, -5}, {0, 5}, {10, 0}};
    for (auto& p : line) Gen::D16(cb + c, p[0], p[1]), c += 4;

    // Row 3, code 13: two closed rings of five points; data word 72.
    r = record(13, 3);
    Gen::U32(r + 5, gen_.Pos(1) + c);
    Gen::U32(r + 9, 72);
    Gen::U16(r + 13, 2);
    Gen::D16(r + 15, 0, 0);
    Gen::I32(r + 19, 500);
    Gen::I32(r + 23, 600);
    Gen::D16(r + 27, -10, -10);
    Gen::D16(r + 31, 10, 10);
    r[35] = 0, r[36] = 0;
    const int ring[2][5][2] = {{{-10, -10}, {10, -10}, {10, 10}, {-10, 10}, {-10, -10}},
                               {{-2, -2}, {2, -2}, {2, 2}, {-2, 2}, {-2, -2}}};
    for (int k = 0; k < 2; ++k) {
      Gen::U16(cb + c, 5);
      Gen::U16(cb + c + 2, 0);
      Gen::D16(cb + c + 4, k ? -2 : -10, k ? -2 : -10);
      Gen::D16(cb + c + 8, k ? 2 : 10, k ? 2 : 10);
      Gen::U32(cb + c + 12, uint32_t(2 * 24 + 40 * k));  // object offset less 4 x 2
      c += 16;
    }
    for (auto& rg : ring) {
      for (auto& p : rg) Gen::D16(cb + c, p[0], p[1]), c += 4;
    }

    // Row 4, code 10: an arc from 3500 to 100.
    r = record(10, 4);
    Gen::U16(r + 5, 3500);
    Gen::U16(r + 7, 100);
    Gen::D16(r + 9, -20, -10);
    Gen::D16(r + 13, 20, 10);
    Gen::D16(r + 17, -20, -10);
    Gen::D16(r + 21, 20, 10);
    r[25] = 0;

    // Row 5, code 16: the text "abc" with a label line.
    r = record(16, 5);
    Gen::U32(r + 5, gen_.Pos(1) + c);
    Gen::U32(r + 9, 3u | (0x23u << 24));  // flags: bit 0, bit 1, label line 1
    Gen::U16(r + 13, 900);
    r[15] = 1;  // font style byte
    Gen::D16(r + 23, 50, 60);
    Gen::U16(r + 27, 12);
    r[29] = 0;
    Gen::D16(r + 30, 0, 0);
    Gen::D16(r + 34, 30, 10);
    r[38] = 0;
    std::memcpy(cb + c, "abc", 3);
    c += 3;

    // Row 6, code 52: three points, record base (-100, 40).
    r = record(52, 6);
    Gen::U32(r + 5, gen_.Pos(1) + c);
    Gen::U32(r + 9, 3);
    r[13] = 0;  // simple symbol
    Gen::D16(r + 30, 0, 0);
    Gen::I32(r + 34, -100);
    Gen::I32(r + 38, 40);
    Gen::D16(r + 42, -1, -2);
    Gen::D16(r + 46, 1, 2);
    const int mp[3][2] = {{-1, -2}, {0, 0}, {1, 2}};
    for (auto& p : mp) Gen::D16(cb + c, p[0], p[1]), c += 4;

    // Row 7, code 8: three i32 points where the third would end one byte
    // past block 2's payload, so it starts block 3.
    r = record(8, 7);
    const uint32_t s2 = 512 - 7 - 16;
    Gen::U32(r + 5, gen_.Pos(2) + s2);
    Gen::U32(r + 9, 24);
    Gen::I32(r + 13, 7), Gen::I32(r + 17, 8);
    Gen::I32(r + 21, 1), Gen::I32(r + 25, 2), Gen::I32(r + 29, 30), Gen::I32(r + 33, 40);
    r[37] = 0;
    uint8_t* b2 = gen_.Block(2);
    const int32_t pts8[3][2] = {{1, 2}, {30, 40}, {5, 6}};
    Gen::I32(b2 + s2, pts8[0][0]), Gen::I32(b2 + s2 + 4, pts8[0][1]);
    Gen::I32(b2 + s2 + 8, pts8[1][0]), Gen::I32(b2 + s2 + 12, pts8[1][1]);
    gen_.CoordBlock(2, s2 + 16 - 8, gen_.Pos(3));
    uint8_t* b3 = gen_.Block(3);
    Gen::I32(b3 + 8, pts8[2][0]), Gen::I32(b3 + 12, pts8[2][1]);
    gen_.CoordBlock(3, 8, 0);

    gen_.CoordBlock(1, c - 8, 0);
    gen_.ObjectBlock(0, 1000, 1000, at - 20, gen_.Pos(1));
  }

  Gen gen_;
  static std::map<int32_t, uint32_t> rows_;
};
std::map<int32_t, uint32_t> GeneratedRecordTest::rows_;

TEST_F(GeneratedRecordTest, RecordsLaidOutFromTheTablesDecodeToTheirObjects) {
  Standard();
  Build();
  GeomObject o;
  GeomObjectInit(&o, kGeomNone);

  ASSERT_TRUE(Read(1, &o)) << ErrorLastCode();
  EXPECT_EQ(o.kind, kGeomPoint);
  ExpectPoint(o.u.point.position, IPoint{995, 1007}, "point");
  ExpectRect(o.bounds, IRect{995, 1007, 995, 1007}, "point bounds");
  EXPECT_EQ(o.row, 1u);
  ExpectSymbol(o.u.point.symbol, StyleDefaults()->symbol);

  ASSERT_TRUE(Read(2, &o));
  EXPECT_EQ(o.kind, kGeomPolyline);
  EXPECT_EQ(o.u.poly.partCount, 1u);
  EXPECT_EQ(o.u.poly.dataSize, 12u * 2 + 28);
  const GeomPart* part = GeomParts(&o);
  EXPECT_EQ(part->pointCount, 3);
  EXPECT_EQ(part->position, 28u);
  ExpectRect(part->bounds, IRect{1990, 1995, 2010, 2005}, "made-up header bounds");
  ExpectPoint(GeomPartPoints(&o, part)[2], IPoint{2010, 2000}, "third point");
  ExpectPoint(o.u.poly.centroid, IPoint{2001, 2001}, "centroid");
  ExpectPen(o.pen, StyleDefaults()->linePen);

  ASSERT_TRUE(Read(3, &o));
  EXPECT_EQ(o.kind, kGeomRegion);
  EXPECT_EQ(o.u.poly.partCount, 2u);
  EXPECT_EQ(o.u.poly.dataSize, 136u);  // not the 80 of "72 + 4 x sections"
  part = GeomParts(&o);
  EXPECT_EQ(part[0].position, 56u);
  EXPECT_EQ(part[1].position, 96u);
  EXPECT_EQ(part[1].pointCount, 5);
  ExpectPoint(GeomPartPoints(&o, &part[1])[2], IPoint{502, 602}, "inner ring");
  ExpectBrush(o.brush, StyleDefaults()->brush);

  ASSERT_TRUE(Read(4, &o));
  EXPECT_EQ(o.kind, kGeomArc);
  EXPECT_EQ(o.u.arc.startAngle, 3500);
  EXPECT_EQ(o.u.arc.endAngle, 3700);
  ExpectRect(o.u.arc.ellipse, IRect{980, 990, 1020, 1010}, "ellipse");

  ASSERT_TRUE(Read(5, &o));
  EXPECT_EQ(o.kind, kGeomText);
  ASSERT_EQ(o.u.text.length, 3);
  EXPECT_EQ(std::string(static_cast<char*>(o.data)), "abc");
  EXPECT_EQ(o.u.text.angle, 900);
  EXPECT_EQ(o.u.text.height, 12);
  EXPECT_EQ(o.u.text.flags, 0x23u);
  EXPECT_EQ(o.u.text.font.style, 1);
  ExpectRect(o.u.text.frame, IRect{1000, 1000, 1030, 1010}, "frame");
  ExpectRect(o.bounds, IRect{1000, 1000, 1050, 1060}, "bounds with the label line");

  ASSERT_TRUE(Read(6, &o));
  EXPECT_EQ(o.kind, kGeomMultipoint);
  ASSERT_EQ(o.u.multipoint.pointCount, 3u);
  ExpectPoint(static_cast<IPoint*>(o.data)[2], IPoint{-99, 42}, "third point");
  ExpectRect(o.bounds, IRect{-101, 38, -99, 42}, "bounds");

  ASSERT_TRUE(Read(7, &o));
  EXPECT_EQ(o.kind, kGeomPolyline);
  ASSERT_EQ(GeomParts(&o)->pointCount, 3);
  ExpectPoint(GeomPartPoints(&o, GeomParts(&o))[2], IPoint{5, 6}, "point from the next block");

  EXPECT_EQ(ErrorCount(), 0);
  GeomObjectFree(&o);
}

// Further layouts: an inline-style rectangle, a third-generation region
// with value arrays and a collection, laid out from the tables alone.
TEST_F(GeneratedRecordTest, InlineStylesValueArraysAndCollectionsDecode) {
  rows_.clear();
  gen_.Block(1);
  uint8_t* ob = gen_.Block(0);
  uint8_t* cb = gen_.Block(1);
  uint32_t at = 20, c = 8;
  auto record = [&](int code, uint32_t row) {
    uint8_t* r = ob + at;
    r[0] = uint8_t(code);
    Gen::U32(r + 1, row);
    rows_[int32_t(row)] = gen_.Pos(0) + at;
    at += uint32_t(MapCodeLength(code));
    return r;
  };
  auto d16 = [&](int dx, int dy) { Gen::D16(cb + c, dx, dy), c += 4; };
  auto u32 = [&](uint32_t v) { Gen::U32(cb + c, v), c += 4; };
  auto f64 = [&](double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) cb[c + uint32_t(i)] = uint8_t(bits >> (8 * i));
    c += 8;
  };

  // Row 1, code 21: rectangle with its pen (6 bytes) and brush (8) inline.
  uint8_t* r = record(21, 1);
  Gen::I32(r + 5, -1), Gen::I32(r + 9, -2), Gen::I32(r + 13, 30), Gen::I32(r + 17, 40);
  const uint8_t pen[6] = {3, 2, 0, 0x12, 0x34, 0x56};
  const uint8_t brush[8] = {5, 0, 0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03};
  std::memcpy(r + 21, pen, 6);
  std::memcpy(r + 27, brush, 8);

  // Row 2, code 61: one closed ring of four points with both value arrays;
  // record base (10, 20).
  r = record(61, 2);
  Gen::U32(r + 5, gen_.Pos(1) + c);
  Gen::U32(r + 9, 20 + 4 * 4);
  Gen::U32(r + 13, 1);
  r[17] = 3;
  Gen::D16(r + 50, 0, 0);
  Gen::I32(r + 54, 10), Gen::I32(r + 58, 20);
  Gen::D16(r + 62, -5, -5), Gen::D16(r + 66, 5, 5);
  u32(4), u32(0), d16(-5, -5), d16(5, 5), u32(28);
  d16(-5, -5), d16(5, -5), d16(0, 5), d16(-5, -5);
  for (int i = 0; i < 4; ++i) f64(i + 0.5);
  for (int i = 0; i < 4; ++i) f64(-i);

  // Row 3, code 55: a region part of one ring and a multipoint part of two
  // points, no polyline part; record base (-50, -60).
  r = record(55, 3);
  Gen::U32(r + 5, gen_.Pos(1) + c);
  Gen::U32(r + 9, 2);
  Gen::U32(r + 13, 18 + 4 * 4);
  Gen::U32(r + 17, 0);
  Gen::U16(r + 21, 1), Gen::U16(r + 23, 0);
  r[25] = 0;  // simple symbol
  Gen::I32(r + 45, -50), Gen::I32(r + 49, -60);
  Gen::D16(r + 53, -3, -3), Gen::D16(r + 57, 3, 3);
  d16(0, 0), d16(-3, -3), d16(3, 3);         // region part: centroid, bounds
  u32(4), Gen::U16(cb + c, 0), c += 2;        // its ring: count, second count
  d16(-3, -3), d16(3, 3), u32(28);            // bounds, offset
  d16(-3, -3), d16(3, -3), d16(0, 3), d16(-3, -3);
  d16(0, 0), d16(0, 0), d16(0, 0);            // no polyline part
  d16(1, 1), d16(1, 1), d16(2, 2);            // multipoint part: centroid, bounds
  d16(1, 1), d16(2, 2);

  gen_.CoordBlock(1, c - 8, 0);
  gen_.ObjectBlock(0, 0, 0, at - 20, gen_.Pos(1));
  Build();

  GeomObject o;
  GeomObjectInit(&o, kGeomNone);
  ASSERT_TRUE(Read(1, &o));
  EXPECT_EQ(o.kind, kGeomRect);
  ExpectRect(o.bounds, IRect{-1, -2, 30, 40}, "rectangle");
  ExpectPen(o.pen, PenStyle{3, 2, 0, 0x123456});
  ExpectBrush(o.brush, BrushStyle{5, 0xAABBCC, 0x010203, 0});

  ASSERT_TRUE(Read(2, &o));
  EXPECT_EQ(o.kind, kGeomRegion);
  ASSERT_EQ(o.u.poly.dataSize, 28u + 32);
  ASSERT_TRUE(o.flagA && o.flagB);
  ExpectPoint(GeomPartPoints(&o, GeomParts(&o))[2], IPoint{10, 25}, "third point");
  EXPECT_EQ(o.values1[3], 3.5);
  EXPECT_EQ(o.values2[2], -2.0);

  ASSERT_TRUE(Read(3, &o));
  EXPECT_EQ(o.kind, kGeomCollection);
  ExpectRect(o.bounds, IRect{-53, -63, -47, -57}, "collection");
  ASSERT_NE(o.u.collection.region, nullptr);
  EXPECT_EQ(o.u.collection.polyline, nullptr);
  ASSERT_NE(o.u.collection.multipoint, nullptr);
  const GeomObject& ring = *o.u.collection.region;
  ASSERT_EQ(ring.u.poly.partCount, 1u);
  ExpectPoint(GeomPartPoints(&ring, GeomParts(&ring))[1], IPoint{-47, -63}, "ring point");
  const GeomObject& mp = *o.u.collection.multipoint;
  ASSERT_EQ(mp.u.multipoint.pointCount, 2u);
  ExpectPoint(static_cast<IPoint*>(mp.data)[1], IPoint{-48, -58}, "multipoint");
  ExpectRect(mp.bounds, IRect{-49, -59, -48, -58}, "multipoint bounds");
  EXPECT_EQ(ErrorCount(), 0);
  GeomObjectFree(&o);
}

// Damaged records: each fails with an error pushed (a changed row word is
// simply not found), and nothing is read outside a block.
TEST_F(GeneratedRecordTest, DamagedRecordsFailWithAnError) {
  struct Case {
    const char* name;
    int32_t row;
    void (*damage)(Gen& g, std::map<int32_t, uint32_t>& rows);
    bool error;
  } cases[] = {
      {"object block of kind 3", 1, [](Gen& g, auto&) { Gen::U16(g.Block(0), 3); }, true},
      {"record before offset 20", 1, [](Gen& g, auto& rows) { rows[1] = g.Pos(0) + 10; }, true},
      {"record past the bytes in use", 7,
       [](Gen& g, auto&) { Gen::U16(g.Block(0) + 2, QLoadU16LE(g.Block(0) + 2) - 1); }, true},
      {"bytes in use past the block", 1, [](Gen& g, auto&) { Gen::U16(g.Block(0) + 2, 493); },
       true},
      {"code 0", 1, [](Gen& g, auto&) { g.Block(0)[20] = 0; }, true},
      {"code 73", 1, [](Gen& g, auto&) { g.Block(0)[20] = 73; }, true},
      {"position outside the file", 1, [](Gen& g, auto& rows) { rows[1] = g.Pos(40) + 20; },
       true},
      {"position in the head", 1, [](Gen&, auto& rows) { rows[1] = 300; }, true},
      {"row word of another row", 2, [](Gen& g, auto&) { g.Block(0)[20 + 10 + 1] = 9; }, false},
      {"removed record", 2, [](Gen& g, auto&) { g.Block(0)[20 + 10 + 4] |= 0x40; }, false},
      {"data start in an object block", 2,
       [](Gen& g, auto&) { Gen::U32(g.Block(0) + 30 + 5, g.Pos(0) + 40); }, true},
      {"data start in a block head", 2,
       [](Gen& g, auto&) { Gen::U32(g.Block(0) + 30 + 5, g.Pos(1) + 4); }, true},
      {"data start past the payload in use", 2,
       [](Gen& g, auto&) { Gen::U16(g.Block(1) + 2, 4); }, true},
      {"region data word by the old rule", 3,
       [](Gen& g, auto&) { Gen::U32(g.Block(0) + 64 + 9, 80); }, true},
      {"region data word short of its headers", 3,
       [](Gen& g, auto&) { Gen::U16(g.Block(0) + 64 + 13, 30000); }, true},
      {"negative section count", 3, [](Gen& g, auto&) { Gen::U16(g.Block(0) + 64 + 13, 0x8000); },
       true},
      {"ring counts that disagree with the data word", 3,
       [](Gen& g, auto&) { Gen::U16(g.Block(1) + 8 + 12, 6); }, true},
      {"ring offset past the points", 3,
       [](Gen& g, auto&) { Gen::U32(g.Block(1) + 8 + 12 + 12, 2 * 24 + 44); }, true},
      {"huge multipoint count", 6, [](Gen& g, auto&) { Gen::U32(g.Block(0) + 166 + 9, 100000000); },
       true},
      {"chained block of kind 1", 7, [](Gen& g, auto&) { Gen::U16(g.Block(3), 1); }, true},
      {"chain ending early", 7, [](Gen& g, auto&) { Gen::U32(g.Block(2) + 4, 0); }, true},
      {"chain leaving the file", 7, [](Gen& g, auto&) { Gen::U32(g.Block(2) + 4, g.Pos(90)); },
       true},
      {"chain link off the block grid", 7,
       [](Gen& g, auto&) { Gen::U32(g.Block(2) + 4, g.Pos(3) + 8); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gen_ = Gen();
    Standard();
    c.damage(gen_, rows_);
    Build();
    ErrorClear();
    GeomObject o;
    GeomObjectInit(&o, kGeomNone);
    EXPECT_FALSE(Read(c.row, &o));
    EXPECT_EQ(ErrorCount() > 0, c.error);
    if (c.error) {
      EXPECT_TRUE(ErrorHasCode(kErrMapDamaged));
    }
    GeomObjectFree(&o);
    Close();
  }
}

// Every byte of the generated blocks flipped in turn, and the file cut at
// every block: reads succeed or fail with an error, never crash (the
// sanitizer run watches for reads outside the blocks).
TEST_F(GeneratedRecordTest, FlippedBytesAndTruncatedFilesNeverReadOutsideABlock) {
  Standard();
  Build();
  const std::vector<uint8_t> clean = gen_.bytes;
  const int blocks = int(clean.size() / 512);
  int failures = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    const int n = int(i / 512);
    const size_t inBlock = i % 512;
    // Only the bytes in use matter; skip the zero tails of the blocks.
    if (inBlock >= 8u + QLoadU16LE(clean.data() + size_t(n) * 512 + 2) + (n == 0 ? 12u : 0u)) {
      continue;
    }
    ASSERT_TRUE(MapBlockRead(&map_, objectSlot_, gen_.Pos(n)));
    objectSlot_->bytes[inBlock] ^= 0xFF;
    ASSERT_TRUE(MapBlockWrite(&map_, objectSlot_, gen_.Pos(n)));
    for (const auto& [row, position] : rows_) {
      ErrorClear();
      GeomObject o;
      GeomObjectInit(&o, kGeomNone);
      if (!Read(row, &o)) {
        ++failures;
        // A failure without an error is a row word that no longer matches.
        const size_t rowWord = position - gen_.first + 1;
        if (ErrorCount() == 0) {
          EXPECT_TRUE(i >= rowWord && i < rowWord + 4) << "byte " << i << " row " << row;
        }
      }
      GeomObjectFree(&o);
    }
    ASSERT_TRUE(MapBlockRead(&map_, objectSlot_, gen_.Pos(n)));
    objectSlot_->bytes[inBlock] ^= 0xFF;
    ASSERT_TRUE(MapBlockWrite(&map_, objectSlot_, gen_.Pos(n)));
  }
  EXPECT_GT(failures, 0);
  for (int keep = blocks - 1; keep >= 0; --keep) {
    SCOPED_TRACE(keep);
    ASSERT_EQ(FileSetSize(map_.file, int64_t(gen_.Pos(keep))), 0);
    ++map_.generation;  // the slots must not serve the blocks cut off
    for (const auto& [row, position] : rows_) {
      ErrorClear();
      GeomObject o;
      GeomObjectInit(&o, kGeomNone);
      if (!Read(row, &o)) {
        EXPECT_GT(ErrorCount(), 0) << row;
      }
      GeomObjectFree(&o);
    }
  }
}

}  // namespace
