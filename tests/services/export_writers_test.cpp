// The shapefile and map-table writers of the exporters: the real data sets
// built into boundary files, exported through the C interface and read back
// through the project's readers (the import interface, gsbbuild, lio dump)
// give the same objects, coordinates and names; the shapefiles also read in
// ogrinfo and shapelib's shpdump and dbfdump with the counts, extents and
// names of the source shapefile. Single objects handed over with
// pipExportInsert cover the shapes each writer turns an object into and
// its failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/services/services_fixture.h"
#include "tests/support/command.h"
#include "tests/support/geos_oracle.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using svctest::Context;
using svctest::DataSet;
using testsupport::Geos;
using testsupport::Outcome;
using testsupport::RunCommand;
using testsupport::RunProgram;
using testsupport::ShellQuoted;
using testsupport::TempDir;

using Ring = std::vector<std::pair<int32_t, int32_t>>;

struct Object {
  std::string name, name2;
  uint32_t kind = 0;
  std::vector<Ring> rings;
  bool operator<(const Object& o) const {
    return std::tie(name, name2, kind, rings) < std::tie(o.name, o.name2, o.kind, o.rings);
  }
  bool operator==(const Object& o) const {
    return std::tie(name, name2, kind, rings) == std::tie(o.name, o.name2, o.kind, o.rings);
  }
};

// Rings as a map table keeps them: open, in an order of its own.
std::vector<Ring> Normalised(std::vector<Ring> rings) {
  for (Ring& ring : rings)
    if (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
  std::sort(rings.begin(), rings.end());
  return rings;
}

// Every object of a boundary file, sorted; rings normalised when asked.
std::vector<Object> ReadObjects(const std::string& path, bool normalise) {
  std::vector<Object> objects;
  Context c;
  svctest::OpenFile file(c, path);
  EXPECT_TRUE(file.ok()) << path;
  if (!file.ok()) return objects;
  char name[256];
  for (int32_t r = pipObjectFindFirstName(file.handle(), "*", name, sizeof name); r > 0;
       r = pipObjectFindNext(file.handle(), name, sizeof name)) {
    pipObjectInfoStruct info{};
    EXPECT_EQ(pipObjectGetInfo(file.handle(), &info), 1);
    Object o;
    o.name = info.name;
    o.name2 = info.name2;
    o.kind = info.kind;
    EXPECT_TRUE(svctest::CurrentRings(file.handle(), &o.rings)) << o.name;
    if (normalise) o.rings = Normalised(o.rings);
    objects.push_back(o);
  }
  std::sort(objects.begin(), objects.end());
  return objects;
}

// Exports every object of source through a writer made by init; the
// objects done.
template <class Init>
int32_t ExportAll(const std::string& source, Init init) {
  uint32_t exporter = 0;
  if (init(&exporter) != 1) return -1;
  EXPECT_EQ(pipExportOpen(exporter, source.c_str(), 0), 1);
  char name[160];
  int32_t percentage = 0, done = 0, last = 0;
  while (pipExportWrite(exporter, name, sizeof name, &percentage, &done) == 1) {
    EXPECT_GE(percentage, last);
    last = percentage;
  }
  EXPECT_EQ(percentage, 100);
  EXPECT_EQ(pipExportClose(exporter), 1);
  EXPECT_EQ(pipExportTerm(exporter, 1), 1);
  return done;
}

// A boundary file of what one of the project's readers makes of an export.
enum class Format { kShape, kTable };
bool Import(Format format, const std::string& path, const std::string& gsb) {
  Context c;
  pipImportParamStruct params = testsupport::ImportParams();
  uint32_t import = 0;
  if (pipImportInit(c.handle(), gsb.c_str(), &params, &import) != 1) return false;
  const int32_t opened = format == Format::kShape
                             ? pipImportOpenShape(import, path.c_str(), "NAME", "NAME2")
                             : pipImportOpenTAB(import, path.c_str(), "NAME", "NAME2");
  if (opened != 1) {
    pipImportTerm(import, 0);
    return false;
  }
  char name[128];
  int32_t status;
  while ((status = pipImportRead(import, name, sizeof name, nullptr, nullptr)) > 0) {
  }
  pipImportClose(import);
  return status >= 0 && pipImportTerm(import, 1) == 1;
}

const DataSet kSets[] = {svctest::kNc, svctest::kCountries, svctest::kCities, svctest::kCounties};

uint32_t KindOf(const DataSet& set) {
  return &set == &kSets[2] ? PIP_OBJECT_POINT : PIP_OBJECT_REGION;
}

TEST(ExportWritersTest, RealDataRoundTripsThroughShapefilesAndTables) {
  for (const DataSet& set : kSets) {
    SCOPED_TRACE(set.key);
    const std::string source = svctest::RealFile(set);
    ASSERT_FALSE(source.empty());
    const std::vector<Object> expected = ReadObjects(source, false);
    ASSERT_FALSE(expected.empty());
    TempDir dir;
    Context c;

    const std::string shp = dir.File("out.shp");
    EXPECT_EQ(ExportAll(source,
                        [&](uint32_t* h) {
                          return pipExportInitSHP(c.handle(), shp.c_str(), h, int32_t(KindOf(set)));
                        }),
              int32_t(expected.size()));
    ASSERT_TRUE(Import(Format::kShape, shp, dir.File("shp.gsb")));
    EXPECT_TRUE(ReadObjects(dir.File("shp.gsb"), false) == expected);

    const std::string tab = dir.File("out.TAB");
    EXPECT_EQ(
        ExportAll(source,
                  [&](uint32_t* h) { return pipExportInitTAB(c.handle(), tab.c_str(), h, 0); }),
        int32_t(expected.size()));
    ASSERT_TRUE(Import(Format::kTable, tab, dir.File("tab.gsb")));
    std::vector<Object> normalised = expected;
    for (Object& o : normalised) o.rings = Normalised(o.rings);
    std::sort(normalised.begin(), normalised.end());
    EXPECT_TRUE(ReadObjects(dir.File("tab.gsb"), true) == normalised);

    // lio dump: a row an object, its text the two names.
    const Outcome dump = RunProgram(dir, LIO_PATH, {"dump", tab});
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_NE(dump.out.find("rows " + std::to_string(expected.size()) + "\n"), std::string::npos);
    EXPECT_EQ(dump.out.find("GEOMETRYCOLLECTION EMPTY"), std::string::npos);
  }
}

TEST(ExportWritersTest, GsbbuildReadsTheExports) {
  const std::string source = svctest::RealFile(svctest::kNc);
  ASSERT_FALSE(source.empty());
  const std::vector<Object> expected = ReadObjects(source, true);
  TempDir dir;
  Context c;
  const std::string shp = dir.File("nc.shp"), tab = dir.File("nc.TAB");
  ExportAll(source, [&](uint32_t* h) {
    return pipExportInitSHP(c.handle(), shp.c_str(), h, PIP_OBJECT_REGION);
  });
  ExportAll(source, [&](uint32_t* h) { return pipExportInitTAB(c.handle(), tab.c_str(), h, 0); });
  for (const std::string& input : {shp, tab}) {
    SCOPED_TRACE(input);
    const Outcome built = RunProgram(dir, GSBBUILD_PATH, {input, dir.File("b.gsb"), "NAME"});
    ASSERT_EQ(built.status, 1) << built.out;
    EXPECT_TRUE(ReadObjects(dir.File("b.gsb"), true) == expected);
  }
}

// ----- the independent readers -------------------------------------------------

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

// The values of one field, as dbfdump -m lists them, sorted.
std::vector<std::string> DbfNames(const std::string& dbf, const std::string& field) {
  std::string out;
  EXPECT_TRUE(RunCommand("dbfdump -m " + ShellQuoted(dbf), &out));
  std::vector<std::string> names;
  std::stringstream in(out);
  std::string line;
  const std::string key = field + ": ";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) names.push_back(Trimmed(line.substr(key.size())));
  std::sort(names.begin(), names.end());
  return names;
}

struct Summary {
  long count = -1;
  double box[4] = {0, 0, 0, 0};
};

// ogrinfo's feature count and extent.
Summary OgrSummary(const std::string& shp) {
  std::string out;
  Summary s;
  EXPECT_TRUE(RunCommand("ogrinfo -ro -al -so " + ShellQuoted(shp) + " 2>&1", &out)) << out;
  const size_t count = out.find("Feature Count: ");
  if (count != std::string::npos) s.count = std::atol(out.c_str() + count + 15);
  const size_t extent = out.find("Extent: ");
  if (extent != std::string::npos)
    std::sscanf(out.c_str() + extent, "Extent: (%lf, %lf) - (%lf, %lf)", &s.box[0], &s.box[1],
                &s.box[2], &s.box[3]);
  return s;
}

// shpdump's shape count (null shapes apart) and file bounds.
Summary ShpdumpSummary(const std::string& shp) {
  std::string out;
  Summary s;
  EXPECT_TRUE(RunCommand("shpdump " + ShellQuoted(shp), &out));
  const size_t bounds = out.find("File Bounds: ");
  if (bounds != std::string::npos)
    std::sscanf(out.c_str() + bounds, "File Bounds: (%lf,%lf,%*f,%*f) to (%lf,%lf", &s.box[0],
                &s.box[1], &s.box[2], &s.box[3]);
  s.count = 0;
  for (size_t at = out.find("\nShape:"); at != std::string::npos; at = out.find("\nShape:", at + 1))
    if (out.compare(out.find('(', at), 11, "(NullShape)") != 0) ++s.count;
  return s;
}

void ExpectSameSummary(const Summary& source, const Summary& exported) {
  EXPECT_EQ(source.count, exported.count);
  // Coordinates pass through whole millionths of a degree.
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(source.box[i], exported.box[i], 1e-6) << i;
}

TEST(ExportWritersTest, ShapefilesReadInOgrinfoAndShapelib) {
  const bool ogr = testsupport::HaveCommand("command -v ogrinfo");
  const bool shapelib = testsupport::HaveCommand("command -v shpdump") &&
                        testsupport::HaveCommand("command -v dbfdump");
  if (!ogr && !shapelib) GTEST_SKIP() << "neither ogrinfo nor shpdump/dbfdump is installed";
  for (const DataSet& set : kSets) {
    SCOPED_TRACE(set.key);
    const std::string source = svctest::RealFile(set);
    ASSERT_FALSE(source.empty());
    TempDir dir;
    Context c;
    const std::string shp = dir.File("out.shp");
    ExportAll(source, [&](uint32_t* h) {
      return pipExportInitSHP(c.handle(), shp.c_str(), h, int32_t(KindOf(set)));
    });
    const std::string original = testsupport::SharedDataPath(set.shapefile);
    if (shapelib) {
      Summary s = ShpdumpSummary(original + ".shp");
      Summary e = ShpdumpSummary(shp);
      ExpectSameSummary(s, e);
      // The source's names as the boundary file keeps them: at most 127
      // characters.
      std::vector<std::string> names = DbfNames(original + ".dbf", set.nameField);
      for (std::string& n : names) n = Trimmed(n.substr(0, 127));
      std::sort(names.begin(), names.end());
      std::vector<std::string> got = DbfNames(dir.File("out.dbf"), "NAME");
      EXPECT_EQ(got.size(), size_t(e.count));
      EXPECT_TRUE(std::includes(names.begin(), names.end(), got.begin(), got.end()));
    }
    if (ogr) {
      Summary s = OgrSummary(original + ".shp");
      Summary e = OgrSummary(shp);
      // A record without a shape counts in the source but is not exported.
      if (s.count == e.count + 1) --s.count;
      ExpectSameSummary(s, e);
    }
  }
}

// ----- single objects ----------------------------------------------------------

struct Shape {
  uint32_t kind;
  const char* name;
  const char* name2;
  std::vector<Ring> parts;
};

int32_t Insert(uint32_t exporter, const Shape& shape) {
  pipObjectInfoStruct info{};
  std::strncpy(info.name, shape.name, sizeof info.name - 1);
  std::strncpy(info.name2, shape.name2, sizeof info.name2 - 1);
  info.kind = shape.kind;
  std::vector<int32_t> xy, counts;
  for (const Ring& part : shape.parts) {
    counts.push_back(int32_t(part.size()));
    for (const auto& [x, y] : part) {
      xy.push_back(x);
      xy.push_back(y);
    }
  }
  xy.resize(std::max<size_t>(xy.size(), 2));
  return pipExportInsert(exporter, shape.name, &info, xy.data(), counts.data(),
                         int32_t(counts.size()));
}

Ring Line(int32_t n, int32_t x0 = 0) {
  Ring ring;
  for (int32_t i = 0; i < n; ++i) ring.push_back({x0 + i * 1000, (i % 7) * 500000});
  return ring;
}

Ring Square(int32_t x, int32_t y, int32_t side = 1000) {
  return {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}};
}

// The text of a degree value as the WKT of lio dump shows it.
std::string Wkt(int32_t millionths) {
  char text[40];
  std::snprintf(text, sizeof text, "%.9g", millionths / 1e6);
  return text;
}

TEST(ExportWritersTest, TableObjectsKeepEveryPoint) {
  // Each row: the object, the WKT lio dump shows for it (start), and the
  // number of points the WKT holds.
  std::vector<Ring> manyRings;
  for (int32_t i = 0; i < 3000; ++i) manyRings.push_back(Square(i * 2000, 0));
  struct Case {
    const char* what;
    Shape shape;
    const char* wkt;
    size_t points;
  } cases[] = {
      {"point", {PIP_OBJECT_POINT, "p", "P2", {{{1500000, -2500000}}}}, "POINT (1.5 -2.5)", 1},
      {"two-point line", {PIP_OBJECT_LINE, "l2", "", {Line(2)}}, "LINESTRING (", 2},
      // Every inner point, not only the ends.
      {"three-point line", {PIP_OBJECT_LINE, "l3", "", {Line(3)}}, "LINESTRING (", 3},
      // Past the 32,768 points the buffers started with.
      {"long line", {PIP_OBJECT_LINE, "long", "", {Line(40000)}}, "LINESTRING (", 40000},
      {"two-part line",
       {PIP_OBJECT_LINE, "ml", "", {Line(3), Line(4, 5000000)}},
       "MULTILINESTRING (",
       7},
      // One ring closed by its first point again.
      {"one ring", {PIP_OBJECT_REGION, "r1", "x", {Square(0, 0)}}, "POLYGON ((", 5},
      // Past the 2,730 sections the buffers started with.
      {"3000 rings", {PIP_OBJECT_REGION, "r3000", "", manyRings}, "MULTIPOLYGON (", 3000 * 5},
  };
  TempDir dir;
  Context c;
  const std::string tab = dir.File("t.TAB");
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitTAB(c.handle(), tab.c_str(), &exporter, 0), 1);
  for (const Case& k : cases) EXPECT_EQ(Insert(exporter, k.shape), 1) << k.what;
  // The table stays also without keep.
  EXPECT_EQ(pipExportTerm(exporter, 0), 1);
  const Outcome dump = RunProgram(dir, LIO_PATH, {"dump", tab});
  ASSERT_EQ(dump.status, 0) << dump.err;
  std::stringstream in(dump.out);
  std::string line;
  while (std::getline(in, line) && line.rfind("rows ", 0) != 0) {
  }
  EXPECT_EQ(line, "rows " + std::to_string(std::size(cases)));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ASSERT_TRUE(std::getline(in, line));
    const size_t tab = line.find('\t', line.find('\t') + 1);
    ASSERT_NE(tab, std::string::npos) << line;
    EXPECT_EQ(line.substr(0, tab),
              "\"" + std::string(k.shape.name) + "\"\t\"" + k.shape.name2 + "\"");
    const std::string wkt = line.substr(tab + 1);
    EXPECT_EQ(wkt.rfind(k.wkt, 0), 0u) << wkt.substr(0, 80);
    // Points and parts are both separated by commas: one fewer than points.
    EXPECT_EQ(size_t(std::count(wkt.begin(), wkt.end(), ',')) + 1, k.points) << wkt.substr(0, 80);
    const auto& [x, y] = k.shape.parts.back().back();
    EXPECT_NE(wkt.find(Wkt(x) + " " + Wkt(y)), std::string::npos);
  }
}

TEST(ExportWritersTest, TableRowThatTheLibraryRefusesFails) {
  TempDir dir;
  Context c;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitTAB(c.handle(), dir.File("t.TAB").c_str(), &exporter, 0), 1);
  EXPECT_EQ(Insert(exporter, {PIP_OBJECT_REGION, "a", "", {Square(0, 0)}}), 1);
  // A region of a ring without points is no region.
  EXPECT_EQ(Insert(exporter, {PIP_OBJECT_REGION, "b", "", {Ring{}}}), -1);
  EXPECT_EQ(c.Code(), 100);
  char message[256], detail[256];
  pipErrorGet(c.handle(), message, detail);
  EXPECT_NE((std::string(message) + detail).find("PXInsertRow (row=2) failed, reason = "),
            std::string::npos)
      << message << detail;
  EXPECT_EQ(pipExportTerm(exporter, 1), 1);
}

TEST(ExportWritersTest, TableThatCannotBeMadeFailsTheInit) {
  TempDir dir;
  Context c;
  uint32_t exporter = 0;
  const std::string path = dir.File("no/such/folder/t.TAB");
  EXPECT_EQ(pipExportInitTAB(c.handle(), path.c_str(), &exporter, 0), -1);
  EXPECT_EQ(c.Code(), 100);
  char message[256], detail[256];
  pipErrorGet(c.handle(), message, detail);
  EXPECT_NE((std::string(message) + detail).find("Unable to create table " + path + "!"),
            std::string::npos);
}

TEST(ExportWritersTest, ShapefileRecordsAndNames) {
  struct Record {
    uint32_t type;
    std::vector<uint32_t> parts;  // point counts as written
  };
  struct Case {
    uint32_t kind;
    std::vector<Shape> shapes;
    std::vector<Record> records;
  } cases[] = {
      {PIP_OBJECT_POINT,
       {{PIP_OBJECT_POINT, "p", "second", {{{1000000, 2000000}}}}},
       {{SHAPE_POINT, {}}}},
      {PIP_OBJECT_LINE,
       {{PIP_OBJECT_LINE, "two", "", {Line(2)}},
        {PIP_OBJECT_LINE, "five", "", {Line(5)}},
        {PIP_OBJECT_LINE, "parts", "", {Line(2), Line(3)}}},
       {{SHAPE_POLYLINE, {2}}, {SHAPE_POLYLINE, {5}}, {SHAPE_POLYLINE, {2, 3}}}},
      // Rings closed by their first point again.
      {PIP_OBJECT_REGION,
       {{PIP_OBJECT_REGION, "one", "", {Square(0, 0)}},
        {PIP_OBJECT_REGION, "two", "n2", {Square(0, 0, 9000), Square(10, 10)}}},
       {{SHAPE_POLYGON, {5}}, {SHAPE_POLYGON, {5, 5}}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.kind);
    TempDir dir;
    Context c;
    uint32_t exporter = 0;
    ASSERT_EQ(pipExportInitSHP(c.handle(), dir.File("s.shp").c_str(), &exporter, int32_t(k.kind)),
              1);
    for (const Shape& s : k.shapes) EXPECT_EQ(Insert(exporter, s), 1) << s.name;
    EXPECT_EQ(pipExportTerm(exporter, 0), 1);

    ShapeHandle shape{};
    ASSERT_EQ(ShapeOpen(&shape, dir.File("s").c_str()), 0);
    DbfHandle dbf{};
    ASSERT_EQ(dbOpen(&dbf, dir.File("s").c_str()), 0);
    ASSERT_EQ(dbf.fieldCount, 2u);
    EXPECT_STREQ(dbf.fields[0].name, "NAME");
    EXPECT_STREQ(dbf.fields[1].name, "NAME2");
    EXPECT_EQ(dbf.fields[0].width, 128);
    for (size_t r = 0; r < k.records.size(); ++r) {
      SCOPED_TRACE(r);
      ASSERT_EQ(ShapeRead(&shape), 0);
      EXPECT_EQ(shape.shapeType, k.records[r].type);
      std::vector<uint32_t> parts;
      for (uint32_t p = 0; p < shape.partCount && shape.shapeType != SHAPE_POINT; ++p) {
        parts.push_back(shape.parts[p].count);
        const double* xy = shape.parts[p].points;
        const Ring& given = k.shapes[r].parts[p];
        EXPECT_EQ(xy[0], given[0].first / 1e6);
        EXPECT_EQ(xy[1], given[0].second / 1e6);
        if (k.kind == PIP_OBJECT_REGION) {
          EXPECT_EQ(xy[2 * parts.back() - 2], xy[0]);
          EXPECT_EQ(xy[2 * parts.back() - 1], xy[1]);
        }
      }
      if (shape.shapeType == SHAPE_POINT) {
        EXPECT_EQ(shape.points[0], 1.0);
        EXPECT_EQ(shape.points[1], 2.0);
      }
      EXPECT_EQ(parts, k.records[r].parts);
      ASSERT_EQ(dbRead(&dbf), 0);
      EXPECT_EQ(Trimmed(dbf.fields[0].value.text), k.shapes[r].name);
      EXPECT_EQ(Trimmed(dbf.fields[1].value.text), k.shapes[r].name2);
    }
    EXPECT_EQ(ShapeRead(&shape), 1);
    EXPECT_EQ(dbRead(&dbf), 1);
    ShapeClose(&shape);
    dbClose(&dbf);
  }
}

TEST(ExportWritersTest, ShapefileRefusesAnotherKind) {
  TempDir dir;
  Context c;
  uint32_t exporter = 0;
  ASSERT_EQ(pipExportInitSHP(c.handle(), dir.File("pts.shp").c_str(), &exporter, PIP_OBJECT_POINT),
            1);
  EXPECT_EQ(Insert(exporter, {PIP_OBJECT_LINE, "l", "", {Line(2)}}), -1);
  EXPECT_EQ(c.Code(), 100);
  char message[256], detail[256];
  pipErrorGet(c.handle(), message, detail);
  EXPECT_NE((std::string(message) + detail).find("An incorrect type was attempted to be written."),
            std::string::npos);
  EXPECT_EQ(Insert(exporter, {PIP_OBJECT_POINT, "p", "", {{{0, 0}}}}), 1);
  EXPECT_EQ(pipExportTerm(exporter, 1), 1);
  // Only the point was written, in both halves.
  ShapeHandle shape{};
  ASSERT_EQ(ShapeOpen(&shape, dir.File("pts").c_str()), 0);
  EXPECT_EQ(shape.recordCount, 1u);
  ShapeClose(&shape);
  DbfHandle dbf{};
  ASSERT_EQ(dbOpen(&dbf, dir.File("pts").c_str()), 0);
  EXPECT_EQ(dbf.recordCount, 1u);
  dbClose(&dbf);
}

// ----- ring orientation -----------------------------------------------------------

// Twice the signed area of a ring as a shapefile holds it (closed): above 0
// counter-clockwise.
double TwiceArea(const double* xy, uint32_t count) {
  double sum = 0;
  for (uint32_t i = 0; i + 1 < count; ++i)
    sum += (xy[2 * i] - xy[0]) * (xy[2 * i + 3] - xy[1]) - (xy[2 * i + 2] - xy[0]) * (xy[2 * i + 1] - xy[1]);
  return sum;
}

Ring Backwards(Ring ring) {
  std::reverse(ring.begin() + 1, ring.end());
  return ring;
}

// Readers of shapefiles tell outer rings from holes by orientation alone.
// Whatever the boundary file's order and orientation, an outer ring goes
// out clockwise and a hole counter-clockwise, each from its own first point.
TEST(ExportWritersTest, ShapefileRingsTurnByTheirNesting) {
  enum Turn { kCw = -1, kCcw = 1 };
  struct Case {
    const char* what;
    std::vector<Ring> rings;
    std::vector<Turn> turns;
  } cases[] = {
      {"outer ring counter-clockwise", {Square(0, 0, 9000)}, {kCw}},
      {"outer ring clockwise", {Backwards(Square(0, 0, 9000))}, {kCw}},
      {"both rings counter-clockwise", {Square(0, 0, 9000), Square(1000, 1000)}, {kCw, kCcw}},
      {"hole first, clockwise",
       {Backwards(Square(1000, 1000)), Square(0, 0, 9000)},
       {kCcw, kCw}},
      {"island in a lake", {Square(0, 0, 9000), Square(1000, 1000, 5000), Square(2000, 2000)},
       {kCw, kCcw, kCw}},
      {"two outer rings", {Square(0, 0), Backwards(Square(5000, 0))}, {kCw, kCw}},
      {"hole in a corner of its outer ring", {Square(0, 0, 9000), Square(0, 0, 3000)}, {kCw, kCcw}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TempDir dir;
    Context c;
    uint32_t exporter = 0;
    ASSERT_EQ(pipExportInitSHP(c.handle(), dir.File("s.shp").c_str(), &exporter, PIP_OBJECT_REGION),
              1);
    EXPECT_EQ(Insert(exporter, {PIP_OBJECT_REGION, "r", "", k.rings}), 1);
    EXPECT_EQ(pipExportTerm(exporter, 1), 1);
    ShapeHandle shape{};
    ASSERT_EQ(ShapeOpen(&shape, dir.File("s").c_str()), 0);
    ASSERT_EQ(ShapeRead(&shape), 0);
    ASSERT_EQ(shape.partCount, k.rings.size());
    for (uint32_t p = 0; p < shape.partCount; ++p) {
      SCOPED_TRACE(p);
      const double* xy = shape.parts[p].points;
      const uint32_t n = shape.parts[p].count;
      ASSERT_EQ(n, k.rings[p].size() + 1);
      EXPECT_EQ(TwiceArea(xy, n) > 0 ? kCcw : kCw, k.turns[p]);
      // The same points, from the same first point, one way or the other.
      Ring got;
      for (uint32_t i = 0; i + 1 < n; ++i)
        got.push_back({int32_t(std::lround(xy[2 * i] * 1e6)), int32_t(std::lround(xy[2 * i + 1] * 1e6))});
      EXPECT_TRUE(got == k.rings[p] || got == Backwards(k.rings[p]));
    }
    ShapeClose(&shape);
  }
}

// Each feature of a shapefile as GDAL reads it: the value of its name field
// and its geometry in GEOS.
std::vector<std::pair<std::string, Geos::Geom>> OgrFeatures(const Geos& geos, const std::string& shp,
                                                           const std::string& field = "NAME") {
  std::vector<std::pair<std::string, Geos::Geom>> features;
  std::string out;
  EXPECT_TRUE(RunCommand("ogrinfo -ro -al -q " + ShellQuoted(shp), &out));
  GEOSWKTReader* reader = GEOSWKTReader_create_r(geos.context());
  std::stringstream in(out);
  std::string line, name;
  while (std::getline(in, line)) {
    const std::string key = "  " + field + " (String) = ";
    if (line.rfind(key, 0) == 0) name = line.substr(key.size());
    if (line.rfind("  POLYGON", 0) == 0 || line.rfind("  MULTIPOLYGON", 0) == 0)
      features.emplace_back(name, geos.Own(GEOSWKTReader_read_r(geos.context(), reader, line.c_str() + 2)));
  }
  GEOSWKTReader_destroy_r(geos.context(), reader);
  return features;
}

// A name without its bytes of 128 and above, which GDAL decodes by the
// source's .cpg but leaves as they are in an export.
std::string AsciiOnly(std::string name) {
  name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return uint8_t(c) >= 0x80; }),
             name.end());
  return name;
}

// The names (AsciiOnly) of the features GEOS finds invalid as GDAL reads them.
std::set<std::string> InvalidInGdal(const std::string& shp, const std::string& field) {
  Geos geos;
  std::set<std::string> names;
  for (const auto& [name, g] : OgrFeatures(geos, shp, field))
    if (!g || GEOSisValid_r(geos.context(), g.get()) != 1) names.insert(AsciiOnly(name));
  return names;
}

// Every region of a boundary file exported to a shapefile reads in GDAL as a
// valid polygon of the region's own (even-odd) area, but for those already
// invalid in the source (rings that cross themselves).
void ExpectValidInGdal(const std::string& gsb, const TempDir& dir,
                       const std::set<std::string>& invalidAtSource = {}) {
  Context c;
  const std::string shp = dir.File("valid.shp");
  ExportAll(gsb, [&](uint32_t* h) {
    return pipExportInitSHP(c.handle(), shp.c_str(), h, PIP_OBJECT_REGION);
  });
  Geos geos;
  const Geos::Plane degrees{0, 0, 1e-6, 1e-6};
  std::vector<std::pair<std::string, double>> expected, got;
  for (const Object& o : ReadObjects(gsb, false)) {
    std::vector<std::vector<svctest::XY>> rings;
    for (const Ring& r : o.rings) {
      rings.emplace_back();
      for (const auto& [x, y] : r) rings.back().push_back({x, y});
    }
    expected.emplace_back(o.name, geos.Area(geos.Region(rings, degrees).get()));
  }
  size_t invalid = 0;
  for (const auto& [name, g] : OgrFeatures(geos, shp)) {
    ASSERT_TRUE(g) << name;
    if (invalidAtSource.count(AsciiOnly(name))) {
      expected.erase(std::remove_if(expected.begin(), expected.end(),
                                    [&](const auto& e) { return e.first == name; }),
                     expected.end());
      continue;
    }
    if (GEOSisValid_r(geos.context(), g.get()) != 1) {
      char* why = GEOSisValidReason_r(geos.context(), g.get());
      if (++invalid <= 5) ADD_FAILURE() << name << ": " << why;
      GEOSFree_r(geos.context(), why);
    }
    got.emplace_back(name, geos.Area(g.get()));
  }
  EXPECT_EQ(invalid, 0u);
  std::sort(expected.begin(), expected.end());
  std::sort(got.begin(), got.end());
  ASSERT_EQ(got.size(), expected.size());
  size_t wrong = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    const bool same = got[i].first == expected[i].first &&
                      std::fabs(got[i].second - expected[i].second) <= 1e-9 * expected[i].second + 1e-15;
    if (!same && ++wrong <= 5)
      ADD_FAILURE() << got[i].first << " " << got[i].second << " against " << expected[i].first << " "
                    << expected[i].second;
  }
  EXPECT_EQ(wrong, 0u);
}

bool HaveOgrinfo() { return testsupport::HaveCommand("command -v ogrinfo"); }

TEST(ExportWritersTest, TradeAreasReadValidInGdal) {
  if (!HaveOgrinfo()) GTEST_SKIP() << "ogrinfo is missing";
  TempDir dir;
  // Trade areas made as users make them, rings and hulls, each level above
  // the first holding the one below as a hole.
  dir.Write("stores.csv", "S1,-78.64,35.78\nS2,-78.66,35.80\nS3,-78.90,35.99\nS4,-80.84,35.23\n");
  std::string customers;
  for (int i = 0; i < 40; ++i) {
    const double a = i * 2.399, r = 0.002 * i;
    for (const char* store : {"S1", "S3"}) {
      char line[80];
      std::snprintf(line, sizeof line, "%s,%.6f,%.6f\n", store,
                    (store[1] == '1' ? -78.64 : -78.90) + r * std::cos(a),
                    (store[1] == '1' ? 35.78 : 35.99) + r * std::sin(a));
      customers += line;
    }
  }
  dir.Write("customers.csv", customers);
  const std::vector<std::vector<std::string>> areas = {{"ring", "1", "2", "3"},
                                                        {"hull", "0.3", "0.6", "1"}};
  for (const auto& levels : areas) {
    SCOPED_TRACE(levels[0]);
    std::vector<std::string> words = {"tradearea", dir.File("stores.csv"), dir.File("customers.csv"),
                                      dir.File("ta.gsb")};
    words.insert(words.end(), levels.begin(), levels.end());
    const Outcome made = RunProgram(dir, GSBTOOL_PATH, words);
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    ExpectValidInGdal(dir.File("ta.gsb"), dir);
  }
}

TEST(ExportWritersTest, CountiesReadValidInGdal) {
  if (!HaveOgrinfo()) GTEST_SKIP() << "ogrinfo is missing";
  TempDir dir;
  for (const DataSet& set : {svctest::kNc, svctest::kCounties}) {
    SCOPED_TRACE(set.key);
    const std::string source = svctest::RealFile(set);
    ASSERT_FALSE(source.empty());
    ExpectValidInGdal(source, dir,
                      InvalidInGdal(testsupport::SharedDataPath(std::string(set.shapefile) + ".shp"),
                                    set.nameField));
  }
}

// A grid of small regions stored every other way round, every third with a
// hole, and every fifth with the hole before its outer ring (20,000 of them:
// the rule shows at any size, and a million would take minutes here).
TEST(ExportWritersTest, GridOfRegionsReadsValidInGdal) {
  if (!HaveOgrinfo()) GTEST_SKIP() << "ogrinfo is missing";
  TempDir dir;
  std::vector<svctest::Obj> grid;
  for (int32_t i = 0; i < 20000; ++i) {
    const int32_t x = -100000000 + (i % 200) * 20000, y = 20000000 + (i / 200) * 20000;
    std::vector<svctest::XY> outer = svctest::Box(x, y, x + 10000, y + 10000);
    std::vector<svctest::XY> hole = svctest::Box(x + 2000, y + 2000, x + 5000, y + 5000);
    if (i % 2) std::reverse(outer.begin() + 1, outer.end());
    std::vector<std::vector<svctest::XY>> rings = {outer};
    if (i % 3 == 0) rings.insert(i % 5 == 0 ? rings.begin() : rings.end(), hole);
    char name[16];
    std::snprintf(name, sizeof name, "R%05d", i);
    grid.push_back(svctest::Region(name, rings));
  }
  ASSERT_TRUE(svctest::BuildFile(dir.File("grid.gsb"), grid));
  ExpectValidInGdal(dir.File("grid.gsb"), dir);
}

}  // namespace
