#include "boundary/shapefile.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "boundary/shapestream.h"
#include "platform/env.h"
#include "tests/support/bytes.h"
#include "tests/support/command.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::Be32;
using testsupport::Le32;
using testsupport::LeDouble;
using testsupport::ReadAll;
using testsupport::TempDir;

// ---- bytes of hand-made shapefiles ----

std::string Header(uint32_t type, uint32_t words) {
  std::string h;
  h += Be32(kShapeFileCode);
  h.append(20, '\0');
  h += Be32(words);
  h += Le32(kShapeVersion);
  h += Le32(type);
  h.append(64, '\0');
  return h;
}

// Content of a polyline or polygon record with the given part starts.
std::string PolyContent(uint32_t type, const std::vector<uint32_t>& starts,
                        const std::vector<double>& xy) {
  std::string c;
  c += Le32(type);
  for (double b : {0.0, 0.0, 1.0, 1.0}) c += LeDouble(b);
  c += Le32(uint32_t(starts.size()));
  c += Le32(uint32_t(xy.size() / 2));
  for (uint32_t s : starts) c += Le32(s);
  for (double v : xy) c += LeDouble(v);
  return c;
}

// A main file of the given record contents and its index file, written as
// base.shp and base.shx.
void WriteSet(const std::string& base, uint32_t type, const std::vector<std::string>& contents) {
  std::string records, index;
  uint32_t offset = kShapeHeaderWords;
  for (size_t i = 0; i < contents.size(); ++i) {
    uint32_t words = uint32_t(contents[i].size() / 2);
    records += Be32(uint32_t(i + 1));
    records += Be32(words);
    records += contents[i];
    index += Be32(offset);
    index += Be32(words);
    offset += 4 + words;
  }
  std::ofstream(base + ".shp", std::ios::binary) << Header(type, offset) << records;
  std::ofstream(base + ".shx", std::ios::binary)
      << Header(type, kShapeHeaderWords + uint32_t(index.size() / 2)) << index;
}

std::vector<double> Square(double x, double y, double size) {
  return {x, y, x, y + size, x + size, y + size, x + size, y, x, y};
}

// What one read record holds: its parts' points.
std::vector<std::vector<double>> Parts(const ShapeHandle& h) {
  std::vector<std::vector<double>> parts;
  for (uint32_t i = 0; i < h.partCount; ++i) {
    // Copied out: the pointer of a packed part must not be bound by reference.
    const double* first = h.parts[i].points;
    parts.emplace_back(first, first + 2 * h.parts[i].count);
  }
  return parts;
}

// ---- writing ----

TEST(ShapeWriteTest, RecordsIndexAndHeaders) {
  TempDir dir;
  std::string base = dir.File("out");
  ShapeHandle h{};
  ASSERT_EQ(ShapeCreate(&h, base.c_str()), 0);
  std::vector<double> ring = Square(-80, 35, 2);
  ShapePart part{5, ring.data()};
  ShapePartList list{1, &part};
  ASSERT_EQ(ShapeWritePoly(&h, &list, SHAPE_POLYGON), 0);
  double point[2] = {-70.5, 40.25};
  ASSERT_EQ(ShapeWritePoint(&h, point), 0);
  ASSERT_EQ(ShapeClose(&h), 0);

  std::string shp = ReadAll(base + ".shp"), shx = ReadAll(base + ".shx");
  // Polygon of one part of 5 points: 44 + 4 + 80 = 128 bytes (64 words);
  // point: 20 bytes (10 words); each after an 8-byte record header.
  ASSERT_EQ(shp.size(), 100u + 8 + 128 + 8 + 20);
  EXPECT_EQ(Be32(shp, 0), 9994u);
  EXPECT_EQ(Be32(shp, 24), shp.size() / 2);
  EXPECT_EQ(Le32(shp, 28), 1000u);
  EXPECT_EQ(Le32(shp, 32), uint32_t(SHAPE_POINT)) << "the type of the last record written";
  EXPECT_EQ(LeDouble(shp, 36), -80);
  EXPECT_EQ(LeDouble(shp, 44), 35);
  EXPECT_EQ(LeDouble(shp, 52), -70.5);
  EXPECT_EQ(LeDouble(shp, 60), 40.25);
  EXPECT_EQ(Be32(shp, 100), 1u);
  EXPECT_EQ(Be32(shp, 104), 64u);
  EXPECT_EQ(Le32(shp, 108), uint32_t(SHAPE_POLYGON));
  EXPECT_EQ(LeDouble(shp, 112), -80);
  EXPECT_EQ(LeDouble(shp, 136), 37);
  EXPECT_EQ(Le32(shp, 144), 1u);
  EXPECT_EQ(Le32(shp, 148), 5u);
  EXPECT_EQ(Le32(shp, 152), 0u);
  EXPECT_EQ(LeDouble(shp, 156), -80);
  EXPECT_EQ(Be32(shp, 236), 2u);
  EXPECT_EQ(Be32(shp, 240), 10u);

  ASSERT_EQ(shx.size(), 100u + 16);
  EXPECT_EQ(shx.substr(0, 24), shp.substr(0, 24));
  EXPECT_EQ(Be32(shx, 24), 58u);
  EXPECT_EQ(shx.substr(28, 72), shp.substr(28, 72));
  // Each entry: the record's offset in words before its header, its length.
  EXPECT_EQ(Be32(shx, 100), 50u);
  EXPECT_EQ(Be32(shx, 104), 64u);
  EXPECT_EQ(Be32(shx, 108), 50u + 4 + 64);
  EXPECT_EQ(Be32(shx, 112), 10u);
}

TEST(ShapeWriteTest, EmptyFileAndRefusedRecords) {
  TempDir dir;
  std::string base = dir.File("empty");
  ShapeHandle h{};
  ASSERT_EQ(ShapeCreate(&h, base.c_str()), 0);
  std::vector<double> xy = Square(0, 0, 1);
  ShapePart part{5, xy.data()};
  ShapePartList list{1, &part};
  EXPECT_EQ(ShapeWritePoly(&h, &list, SHAPE_MULTIPOINT), -1);
  EXPECT_STREQ(ShapeLastError(),
               "ShapeWritePoly: shape type 8 is neither a polyline nor a polygon");
  ShapePart hollow{3, nullptr};
  ShapePartList bad{1, &hollow};
  EXPECT_EQ(ShapeWritePoly(&h, &bad, SHAPE_POLYLINE), -1);
  EXPECT_EQ(ShapeWritePoint(&h, nullptr), -1);
  h.shapeType = SHAPE_NULL;  // the refused writes set it, as writes do
  ASSERT_EQ(ShapeClose(&h), 0);

  std::string shp = ReadAll(base + ".shp");
  ASSERT_EQ(shp.size(), 100u);
  EXPECT_EQ(Be32(shp, 24), 50u);
  EXPECT_EQ(Le32(shp, 32), 0u);
  EXPECT_EQ(LeDouble(shp, 36), 1e30);
  EXPECT_EQ(LeDouble(shp, 44), 1e30);
  EXPECT_EQ(LeDouble(shp, 52), -1e30);
  EXPECT_EQ(LeDouble(shp, 60), -1e30);
  EXPECT_EQ(ReadAll(base + ".shx"), shp);
  EXPECT_EQ(ShapeClose(nullptr), -1);
}

// ---- reading ----

TEST(ShapeReadTest, PartsHolesLinesAndPassedOverTypes) {
  TempDir dir;
  std::string base = dir.File("set");
  ShapeHandle w{};
  ASSERT_EQ(ShapeCreate(&w, base.c_str()), 0);
  std::vector<double> outer = Square(0, 0, 10), hole = {2, 2, 4, 2, 4, 4, 2, 4, 2, 2},
                      island = Square(20, 20, 1);
  ShapePart region[3] = {{5, outer.data()}, {5, hole.data()}, {5, island.data()}};
  ShapePartList regionList{3, region};
  ASSERT_EQ(ShapeWritePoly(&w, &regionList, SHAPE_POLYGON), 0);
  std::vector<double> a = {0, 0, 1, 1}, b = {5, 5, 6, 7, 8, 9};
  ShapePart line[2] = {{2, a.data()}, {3, b.data()}};
  ShapePartList lineList{2, line};
  ASSERT_EQ(ShapeWritePoly(&w, &lineList, SHAPE_POLYLINE), 0);
  ASSERT_EQ(ShapeClose(&w), 0);

  ShapeHandle r{};
  ASSERT_EQ(ShapeOpen(&r, base.c_str()), 0);
  EXPECT_EQ(r.recordCount, 2u);
  EXPECT_EQ(r.shapeType, uint32_t(SHAPE_POLYLINE));
  EXPECT_EQ(r.headerBox[0], 0);
  EXPECT_EQ(r.headerBox[3], 21);
  ASSERT_EQ(ShapeRead(&r), 0);
  EXPECT_EQ(r.shapeType, uint32_t(SHAPE_POLYGON));
  EXPECT_EQ(Parts(r), (std::vector<std::vector<double>>{outer, hole, island}));
  EXPECT_EQ(std::vector<double>(r.box, r.box + 4), (std::vector<double>{0, 0, 21, 21}));
  ASSERT_EQ(ShapeRead(&r), 0);
  EXPECT_EQ(r.shapeType, uint32_t(SHAPE_POLYLINE));
  EXPECT_EQ(Parts(r), (std::vector<std::vector<double>>{a, b}));
  EXPECT_EQ(ShapeRead(&r), 1);
  EXPECT_EQ(ShapeRead(&r), 1);
  EXPECT_EQ(ShapeClose(&r), 0);

  // Multipoints (also empty), null shapes and the Z and M types: the others
  // only set the type and leave the last record's values alone.
  std::string multi;
  multi += Le32(SHAPE_MULTIPOINT);
  for (double v : {1.0, 2.0, 3.0, 4.0}) multi += LeDouble(v);
  multi += Le32(2);
  for (double v : {1.0, 2.0, 3.0, 4.0}) multi += LeDouble(v);
  std::string emptyMulti = multi.substr(0, 36);
  emptyMulti += Le32(0);
  std::string polygonZ = PolyContent(15, {0}, Square(7, 7, 1));
  polygonZ.append(16 + 5 * 8, '\0');  // z range and z values
  std::string nullShape;
  nullShape += Le32(SHAPE_NULL);
  std::string point;
  point += Le32(SHAPE_POINT);
  point += LeDouble(-78.5);
  point += LeDouble(35.75);
  WriteSet(base, SHAPE_POLYGON,
           {multi, emptyMulti, point, polygonZ, nullShape, PolyContent(11, {}, {})});
  ShapeHandle m{};
  ASSERT_EQ(ShapeOpen(&m, base.c_str()), 0);
  ASSERT_EQ(ShapeRead(&m), 0);
  ASSERT_EQ(m.multiPointCount, 2u);
  EXPECT_EQ(std::vector<double>(m.multiPoints, m.multiPoints + 4),
            (std::vector<double>{1, 2, 3, 4}));
  ASSERT_EQ(ShapeRead(&m), 0);
  EXPECT_EQ(m.multiPointCount, 0u);
  ASSERT_EQ(ShapeRead(&m), 0);
  EXPECT_EQ(m.shapeType, uint32_t(SHAPE_POINT));
  EXPECT_EQ(m.points[0], -78.5);
  EXPECT_EQ(m.points[1], 35.75);
  EXPECT_EQ(std::vector<double>(m.box, m.box + 4),
            (std::vector<double>{-78.5, 35.75, -78.5, 35.75}));
  for (uint32_t type : {15u, 0u, 11u}) {
    ASSERT_EQ(ShapeRead(&m), 0) << type;
    EXPECT_EQ(m.shapeType, type);
    EXPECT_EQ(m.points[0], -78.5) << type;
    EXPECT_EQ(m.box[1], 35.75) << type;
  }
  EXPECT_EQ(ShapeRead(&m), 1);
  EXPECT_EQ(ShapeClose(&m), 0);
}

// Every damaged record gives -1 with a text naming the fault; the handle
// still closes cleanly (the sanitizer run shows nothing is read out of
// bounds).
TEST(ShapeReadTest, DamagedRecordsFail) {
  std::vector<double> ring = Square(0, 0, 1);
  std::string good = PolyContent(SHAPE_POLYGON, {0}, ring);
  struct Case {
    const char* name;
    std::function<void(std::string& shp)> damage;
    const char* text;
    int goodReads = 0;  // records read before the damage
  };
  auto setU32LE = [](std::string& s, size_t at, uint32_t v) {
    QStoreU32LE(s.data() + at, v);
  };
  auto setU32BE = [](std::string& s, size_t at, uint32_t v) {
    QStoreU32BE(s.data() + at, v);
  };
  const size_t content = 108;  // after the header and the record header
  const Case cases[] = {
      {"truncated file", [](std::string& s) { s.resize(s.size() - 30); },
       "runs past the end of the file"},
      {"length past the end", [&](std::string& s) { setU32BE(s, 104, 0x7FFFFFFF); },
       "runs past the end of the file"},
      {"record header cut", [](std::string& s) { s += "abc"; }, "record header cut short", 1},
      {"too many points", [&](std::string& s) { setU32LE(s, content + 40, 6); },
       "1 parts and 6 points need 144 bytes, the content has 128"},
      {"huge point count", [&](std::string& s) { setU32LE(s, content + 40, 0xFFFFFFFF); },
       "points need"},
      {"huge part count", [&](std::string& s) { setU32LE(s, content + 36, 0x40000000); },
       "parts and"},
      {"start past the points", [&](std::string& s) { setU32LE(s, content + 44, 6); },
       "part 0 starts at point 6 of 5"},
      {"negative start", [&](std::string& s) { setU32LE(s, content + 44, 0xFFFFFFFF); },
       "part 0 starts at point -1 of 5"},
      {"content too short",
       [&](std::string& s) {
         setU32BE(s, 104, 20);
         s.resize(content + 40);
       },
       "is too short for its parts"},
      {"point too short",
       [&](std::string& s) {
         setU32BE(s, 104, 6);
         setU32LE(s, content, SHAPE_POINT);
         s.resize(content + 12);
       },
       "is too short for a point"},
      {"multipoint too short",
       [&](std::string& s) {
         setU32LE(s, content, SHAPE_MULTIPOINT);
         setU32LE(s, content + 36, 6);
       },
       "6 points need 136 bytes, the content has 128"},
      {"no shape type",
       [&](std::string& s) {
         setU32BE(s, 104, 1);
         s.resize(content + 2);
       },
       "no shape type"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string base = dir.File("bad");
    WriteSet(base, SHAPE_POLYGON, {good});
    std::string shp = ReadAll(base + ".shp");
    c.damage(shp);
    std::ofstream(base + ".shp", std::ios::binary | std::ios::trunc) << shp;
    ShapeHandle h{};
    ASSERT_EQ(ShapeOpen(&h, base.c_str()), 0) << c.name;
    for (int i = 0; i < c.goodReads; ++i) EXPECT_EQ(ShapeRead(&h), 0) << c.name;
    EXPECT_EQ(ShapeRead(&h), -1) << c.name;
    EXPECT_NE(std::string(ShapeLastError()).find(c.text), std::string::npos)
        << c.name << ": " << ShapeLastError();
    EXPECT_EQ(std::string(ShapeLastError()).rfind("ShapeRead: ", 0), 0u) << c.name;
    EXPECT_EQ(ShapeClose(&h), 0) << c.name;
  }

  // Part starts that go back.
  TempDir dir;
  std::string base = dir.File("back");
  std::vector<double> two = Square(0, 0, 1);
  two.insert(two.end(), ring.begin(), ring.end());
  WriteSet(base, SHAPE_POLYGON, {PolyContent(SHAPE_POLYGON, {5, 0}, two)});
  ShapeHandle h{};
  ASSERT_EQ(ShapeOpen(&h, base.c_str()), 0);
  EXPECT_EQ(ShapeRead(&h), -1);
  EXPECT_NE(std::string(ShapeLastError()).find("back.shp record 1: part 1 starts at point 0 of 10"),
            std::string::npos)
      << ShapeLastError();
  EXPECT_EQ(h.partCount, 0u) << "nothing of a refused record is kept";
  EXPECT_EQ(ShapeClose(&h), 0);
}

TEST(ShapeOpenTest, LetterCaseAndFailures) {
  TempDir dir;
  // Written by other systems in capitals; the table in lower case.
  std::string upper = dir.File("NC");
  WriteSet(upper, SHAPE_POLYGON, {PolyContent(SHAPE_POLYGON, {0}, Square(0, 0, 1))});
  std::filesystem::rename(upper + ".shp", upper + ".SHP");
  std::filesystem::rename(upper + ".shx", upper + ".SHX");
  ShapeHandle h{};
  EXPECT_EQ(ShapeOpen(&h, dir.File("nc").c_str()), 0) << ShapeLastError();
  EXPECT_EQ(ShapeRead(&h), 0);
  EXPECT_EQ(ShapeClose(&h), 0);

  struct Case {
    const char* name;
    std::function<void(const std::string& base)> make;
    std::string text;  // what the failure text starts with, after the folder
  };
  const Case cases[] = {
      {"no main file", [](const std::string&) {}, "x.shp: No such file or directory"},
      {"no index file",
       [](const std::string& b) { std::ofstream(b + ".shp", std::ios::binary) << Header(5, 50); },
       "x.shx: No such file or directory"},
      {"short main header",
       [](const std::string& b) { std::ofstream(b + ".shp", std::ios::binary) << "short"; },
       "shpOpen::fread: "},
      {"not a shapefile",
       [](const std::string& b) {
         std::string h = Header(5, 50);
         h[3] = 1;
         std::ofstream(b + ".shp", std::ios::binary) << h;
       },
       "shpOpen: "},
      {"short index header",
       [](const std::string& b) {
         std::ofstream(b + ".shp", std::ios::binary) << Header(5, 50);
         std::ofstream(b + ".shx", std::ios::binary) << "x";
       },
       "shxOpen::fread: "},
  };
  for (const Case& c : cases) {
    TempDir d;
    std::string base = d.File("x");
    c.make(base);
    ShapeHandle s{};
    EXPECT_EQ(ShapeOpen(&s, base.c_str()), -1) << c.name;
    std::string text = ShapeLastError();
    if (text.rfind(d.path(), 0) == 0) text = text.substr(d.path().size() + 1);
    EXPECT_EQ(text.rfind(c.text, 0), 0u) << c.name << ": " << ShapeLastError();
    EXPECT_EQ(ShapeClose(&s), 0) << c.name;
  }
}

// A write that does not reach the disk is reported by the close.
TEST(ShapeCloseTest, FailedWritesAreReported) {
  struct FailingWrites : platform::EnvWrapper {
    FailingWrites() : EnvWrapper(platform::Env::Current()) {}
    int64_t WriteAt(int, const void*, size_t, int64_t) override {
      errno = ENOSPC;
      return -1;
    }
    int64_t Write(int fd, const void* b, size_t n) override {
      if (failWrites) {
        errno = ENOSPC;
        return -1;
      }
      return target_.Write(fd, b, n);
    }
    bool failWrites = false;
  };
  TempDir dir;
  for (bool failWrites : {false, true}) {
    FailingWrites env;
    env.failWrites = failWrites;
    ShapeHandle h{};
    {
      platform::ScopedEnv scoped(env);
      ASSERT_EQ(ShapeCreate(&h, dir.File("full").c_str()), 0);
      double point[2] = {1, 2};
      ASSERT_EQ(ShapeWritePoint(&h, point), 0);
      EXPECT_EQ(ShapeClose(&h), -1) << failWrites;
    }
    EXPECT_NE(std::string(ShapeLastError()).find("No space left on device"), std::string::npos)
        << ShapeLastError();
    EXPECT_EQ(h.main, nullptr);
    EXPECT_EQ(h.stage, nullptr);
  }
}

// ---- whole millionths of a degree ----

TEST(ShapeMillionthsTest, DecidedPerShapeAndRounded) {
  struct Case {
    const char* name;
    std::vector<double> xy;
    bool degrees;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      // A vertex on the equator stays in degrees with the rest of its shape.
      {"equator vertex",
       {10.5, 0, 11, 1, 10, 1, 10.5, 0},
       true,
       {10500000, 0, 11000000, 1000000, 10000000, 1000000, 10500000, 0}},
      {"nearest millionth",
       {4.35, -71.5, -0.0000006, 0.1234564},
       true,
       {4350000, -71500000, -1, 123456}},
      {"millionths as they are",
       {-80000000, 35000000, -80000000.4, 0},
       false,
       {-80000000, 35000000, -80000000, 0}},
      {"whole degrees on the axes", {0, 0, 1e6, -1e6}, false, {0, 0, 1000000, -1000000}},
      {"projected metres",
       {500000.7, 4000000, 500001, 4000001},
       false,
       {500001, 4000000, 500001, 4000001}},
  };
  for (const Case& c : cases) {
    size_t n = c.xy.size() / 2;
    EXPECT_EQ(ShapeInDegrees(c.xy.data(), n), c.degrees) << c.name;
    std::vector<int32_t> out(c.xy.size());
    ASSERT_TRUE(ShapeToMillionths(c.xy.data(), n, c.degrees, out.data())) << c.name;
    EXPECT_EQ(out, c.expected) << c.name;
  }
  // The same polygon in degrees and in millionths gives the same record.
  std::vector<double> degrees = {-78.123456, 35.5, -78, 35.654321, -78.123456, 35.5};
  std::vector<double> millionths = {-78123456, 35500000, -78000000, 35654321, -78123456, 35500000};
  std::vector<int32_t> a(6), b(6);
  ASSERT_TRUE(ShapeToMillionths(degrees.data(), 3, ShapeInDegrees(degrees.data(), 3), a.data()));
  ASSERT_TRUE(
      ShapeToMillionths(millionths.data(), 3, ShapeInDegrees(millionths.data(), 3), b.data()));
  EXPECT_EQ(a, b);

  int32_t out[2];
  const double outside[][2] = {
      {3e9, 5e6}, {2147483647.6, 5e6}, {std::nan(""), 5e6}, {1, 5e6 * 1e300}};
  for (const auto& xy : outside) EXPECT_FALSE(ShapeToMillionths(xy, 1, false, out)) << xy[0];
  const double far[2] = {2148, 0.5};
  EXPECT_FALSE(ShapeToMillionths(far, 1, true, out));
}

// ---- the C interface ----

TEST(ShapeExportsTest, TwelveFunctionsAreExported) {
  void* library = dlopen(GSB_ZONELIB_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name :
       {"dbOpen", "dbRead", "dbReadByRecno", "dbCreate", "dbWrite", "dbClose", "ShapeOpen",
        "ShapeRead", "ShapeCreate", "ShapeWritePoint", "ShapeWritePoly", "ShapeClose"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  EXPECT_EQ(dlsym(library, "_Z14ShapeLastErrorv"), nullptr);
  dlclose(library);
}

// ---- real data against independent readers ----

// Runs a command; its standard output and error, and whether it exited with 0.
bool RunCommand(const std::string& command, std::string* out) {
  return testsupport::RunCommand(command + " 2>&1", out);
}

bool HaveTool(const std::string& name) { return testsupport::HaveCommand("command -v " + name); }

// Copies base's shapefile set to copyBase through the readers and writers:
// every record read, written again, with its table row.
void CopySet(const std::string& base, const std::string& copyBase) {
  ShapeHandle in{}, out{};
  DbfHandle din{}, dout{};
  ASSERT_EQ(ShapeOpen(&in, base.c_str()), 0) << ShapeLastError();
  ASSERT_EQ(dbOpen(&din, base.c_str()), 0) << ShapeLastError();
  ASSERT_EQ(ShapeCreate(&out, copyBase.c_str()), 0);
  std::vector<DbfField> fields(din.fields, din.fields + din.fieldCount);
  dout.fieldCount = din.fieldCount;
  dout.fields = fields.data();
  ASSERT_EQ(dbCreate(&dout, copyBase.c_str()), 0);
  uint32_t records = 0;
  int status;
  while ((status = ShapeRead(&in)) == 0) {
    ++records;
    ASSERT_EQ(dbRead(&din), 0);
    for (uint32_t i = 0; i < din.fieldCount; ++i) fields[i].value = din.fields[i].value;
    ASSERT_EQ(dbWrite(&dout), 0) << ShapeLastError();
    if (in.shapeType == SHAPE_POINT) {
      ASSERT_EQ(ShapeWritePoint(&out, in.points), 0);
    } else {
      ASSERT_TRUE(in.shapeType == SHAPE_POLYGON || in.shapeType == SHAPE_POLYLINE);
      ShapePartList list{in.partCount, in.parts};
      ASSERT_EQ(ShapeWritePoly(&out, &list, int(in.shapeType)), 0);
    }
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(dbRead(&din), 1) << "as many rows as shapes";
  EXPECT_EQ(records, in.recordCount);
  EXPECT_EQ(records, din.recordCount);
  EXPECT_EQ(ShapeClose(&in), 0);
  EXPECT_EQ(dbClose(&din), 0);
  EXPECT_EQ(ShapeClose(&out), 0);
  EXPECT_EQ(dbClose(&dout), 0);
  // The companions the functions do not write, so that the tools read both
  // sets alike.
  for (const char* extension : {".prj", ".cpg"})
    if (std::filesystem::exists(base + extension))
      std::filesystem::copy_file(base + extension, copyBase + extension);
}

// ogrinfo's report without the table's date of last update (the copy's is
// today).
std::string WithoutUpdateDate(const std::string& text) {
  std::istringstream in(text);
  std::string line, kept;
  while (std::getline(in, line))
    if (line.find("DBF_DATE_LAST_UPDATE=") == std::string::npos) kept += line + "\n";
  return kept;
}

TEST(ShapeOracleTest, CopiesReadBackIdenticalInIndependentTools) {
  bool shapelib = HaveTool("shpdump") && HaveTool("dbfdump");
  bool gdal = HaveTool("ogrinfo");
  for (const char* set :
       {"nc/nc", "naturalearth/naturalearth_lowres", "naturalearth/naturalearth_cities"}) {
    std::string base = testsupport::SharedDataPath(set);
    if (!std::filesystem::exists(base + ".shp")) GTEST_SKIP() << base << ".shp is not there";
    TempDir dir;
    std::string copy = dir.File(std::filesystem::path(base).filename().string());
    CopySet(base, copy);
    // Written by an independent writer, so equal bytes show the layout.
    EXPECT_EQ(ReadAll(copy + ".shp"), ReadAll(base + ".shp")) << set;
    EXPECT_EQ(ReadAll(copy + ".shx"), ReadAll(base + ".shx")) << set;

    std::string expected, actual;
    if (shapelib) {
      for (const char* tool : {"shpdump", "dbfdump"}) {
        const char* extension = tool[0] == 's' ? ".shp" : ".dbf";
        ASSERT_TRUE(RunCommand(std::string(tool) + " '" + base + extension + "'", &expected))
            << expected;
        ASSERT_TRUE(RunCommand(std::string(tool) + " '" + copy + extension + "'", &actual))
            << actual;
        EXPECT_EQ(actual, expected) << set << " " << tool;
      }
    }
    if (gdal) {
      ASSERT_TRUE(RunCommand("ogrinfo -al -q '" + base + ".shp'", &expected)) << expected;
      ASSERT_TRUE(RunCommand("ogrinfo -al -q '" + copy + ".shp'", &actual)) << actual;
      EXPECT_EQ(WithoutUpdateDate(actual), WithoutUpdateDate(expected)) << set;
    }
  }
  if (!shapelib)
    GTEST_SKIP() << "shpdump and dbfdump (shapelib) are not installed (tools/install-deps)";
  if (!gdal) GTEST_SKIP() << "ogrinfo (gdal-bin) is not installed (tools/install-deps)";
}

}  // namespace
