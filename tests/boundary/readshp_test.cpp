#include "boundary/readshp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/boundary/reader_fixture.h"
#include "tests/support/shp_rings.h"

namespace {

using gsbtest::Point;
using gsbtest::Record;
using readertest::Step;
using testsupport::SharedDataPath;

// One column of a dBASE table as python3-dbfread reads it: raw bytes,
// blanks stripped, one line per record.
std::vector<std::string> DbfColumn(const std::string& path, const std::string& column) {
  const std::string command =
      "/usr/bin/python3 -c 'import sys, dbfread\n"
      "for r in dbfread.DBF(sys.argv[1], raw=True): "
      "sys.stdout.buffer.write(r[sys.argv[2]].strip() + b\"\\n\")' '" +
      path + "' '" + column + "'";
  std::vector<std::string> values;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return values;
  std::string line;
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    if (c != '\n') {
      line.push_back(char(c));
      continue;
    }
    values.push_back(line.substr(0, 127));
    line.clear();
  }
  pclose(pipe);
  return values;
}

// The box of a shapefile's main header in whole millionths.
gsbtest::Rect ShapefileExtent(const std::string& path) {
  const std::string bytes = testsupport::ReadAll(path);
  double box[4] = {};
  if (bytes.size() >= 68) std::memcpy(box, bytes.data() + 36, sizeof box);
  auto m = [](double v) { return int32_t(std::lround(v * 1e6)); };
  return {m(box[0]), m(box[1]), m(box[2]), m(box[3])};
}

class ShpReadTest : public readertest::ReaderTest {
 protected:
  // Builds the file from path and returns its records; names and record
  // numbers are checked against the table's column in record order.
  std::vector<Record> BuildFrom(const std::string& path, const char* column, size_t objects) {
    Init();
    EXPECT_EQ(pipImportOpenShape(import_, path.c_str(), column, nullptr), 1) << Detail();
    std::vector<Step> steps;
    std::vector<int32_t> statuses = ReadAll(&steps);
    EXPECT_EQ(statuses.size(), objects + 1);
    EXPECT_EQ(statuses.back(), 0) << Detail();
    EXPECT_EQ(steps.back().percent, 100u);
    EXPECT_EQ(steps.back().count, objects);
    gsbtest::File file = Finish();
    std::vector<Record> records = file.Records();
    EXPECT_EQ(records.size(), objects);
    std::string base = path.substr(0, path.size() - 4);
    std::vector<std::string> names = DbfColumn(base + ".dbf", column);
    EXPECT_EQ(names.size(), objects);
    for (size_t i = 0; i < records.size() && i < names.size(); ++i) {
      EXPECT_EQ(records[i].name, names[i]) << "record " << i + 1;
      EXPECT_EQ(records[i].recordNumber, i + 1);
    }
    extent_ = ShapefileExtent(path);
    bounds_ = file.Bounds();
    return records;
  }
  // Each region's rings equal the shapefile's, without closing points.
  static void ExpectRings(const std::vector<Record>& records, const std::string& path) {
    std::vector<testsupport::ShpShape> shapes;
    std::string why;
    ASSERT_TRUE(testsupport::ReadShpRings(path, &shapes, &why)) << why;
    ASSERT_EQ(shapes.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      std::vector<Point> expected;
      std::vector<uint32_t> counts;
      for (const auto& ring : shapes[i].rings) {
        auto open = testsupport::WithoutClosingPoint(ring);
        counts.push_back(uint32_t(open.size()));
        for (const auto& p : open) expected.emplace_back(p.x, p.y);
      }
      EXPECT_EQ(records[i].ringCounts, counts) << "record " << i + 1;
      EXPECT_EQ(records[i].xy, expected) << "record " << i + 1;
    }
  }

  gsbtest::Rect extent_{}, bounds_{};
};

TEST_F(ShpReadTest, NorthCarolinaCounties) {
  const std::string path = SharedDataPath("nc/nc.shp");
  std::vector<Record> records = BuildFrom(path, "NAME", 100);
  ExpectRings(records, path);
  size_t several = 0;
  for (const Record& r : records) several += r.rings > 1;
  EXPECT_GT(several, 0u);
  // Region bounds are widened by one millionth on every side.
  EXPECT_EQ(bounds_, (gsbtest::Rect{extent_.xmin - 1, extent_.ymin - 1, extent_.xmax + 1,
                                    extent_.ymax + 1}));
}

TEST_F(ShpReadTest, NaturalEarthCountries) {
  const std::string path = SharedDataPath("naturalearth/naturalearth_lowres.shp");
  std::vector<Record> records = BuildFrom(path, "name", 177);
  ExpectRings(records, path);
  EXPECT_EQ(bounds_, (gsbtest::Rect{-180000001, -90000001, 180000001, extent_.ymax + 1}));
  // Both hemispheres, and shapes that reach the antimeridian.
  bool west = false, east = false, south = false;
  int antimeridian = 0;
  for (const Record& r : records) {
    west |= r.bounds.xmax < 0;
    east |= r.bounds.xmin > 0;
    south |= r.bounds.ymax < 0;
    antimeridian += r.bounds.xmax == 180000001 || r.bounds.xmin == -180000001;
  }
  EXPECT_TRUE(west && east && south);
  EXPECT_GE(antimeridian, 2);
}

TEST_F(ShpReadTest, NaturalEarthCities) {
  const std::string path = SharedDataPath("naturalearth/naturalearth_cities.shp");
  std::vector<Record> records = BuildFrom(path, "name", 243);
  for (const Record& r : records) EXPECT_EQ(r.kind, 2);
  EXPECT_EQ(bounds_, extent_);
}

// Small shapefiles written with the library's own writers.
class ShpEdgeTest : public readertest::ReaderTest {
 protected:
  struct Shape {
    int type;
    std::vector<std::vector<std::pair<double, double>>> parts;
  };
  // base.shp/.shx with the shapes and base.dbf with the fields and rows.
  // Types the writer does not make (null, Z and M) are written as polygons
  // and their records' type changed afterwards.
  void WriteSet(const std::string& base, const std::vector<Shape>& shapes,
                std::vector<DbfField> fields,
                const std::vector<std::function<void(DbfField*)>>& rows) {
    ShapeHandle shp{};
    ASSERT_EQ(ShapeCreate(&shp, base.c_str()), 0);
    for (const Shape& s : shapes) {
      if (s.type == SHAPE_POINT) {
        const double xy[2] = {s.parts[0][0].first, s.parts[0][0].second};
        ASSERT_EQ(ShapeWritePoint(&shp, xy), 0);
        continue;
      }
      std::vector<std::vector<double>> coords;
      std::vector<ShapePart> parts;
      for (const auto& part : s.parts) {
        coords.emplace_back();
        for (const auto& p : part) {
          coords.back().push_back(p.first);
          coords.back().push_back(p.second);
        }
      }
      for (size_t i = 0; i < s.parts.size(); ++i)
        parts.push_back({uint32_t(s.parts[i].size()), coords[i].data()});
      ShapePartList list{uint32_t(parts.size()), parts.data()};
      const bool written = s.type == SHAPE_POLYLINE || s.type == SHAPE_POLYGON;
      ASSERT_EQ(ShapeWritePoly(&shp, &list, written ? s.type : SHAPE_POLYGON), 0);
    }
    ASSERT_EQ(ShapeClose(&shp), 0);
    std::string bytes = testsupport::ReadAll(base + ".shp");
    size_t at = 100;
    for (const Shape& s : shapes) {
      ASSERT_LE(at + 12, bytes.size());
      bytes[at + 8] = char(s.type);
      const size_t words = (size_t(uint8_t(bytes[at + 6])) << 8) | uint8_t(bytes[at + 7]);
      at += 8 + 2 * words;
    }
    dir_.Write(std::filesystem::path(base).filename().string() + ".shp", bytes);
    DbfHandle dbf{};
    dbf.fieldCount = uint32_t(fields.size());
    dbf.fields = fields.data();
    ASSERT_EQ(dbCreate(&dbf, base.c_str()), 0);
    for (const auto& fill : rows) {
      fill(dbf.fields);
      ASSERT_EQ(dbWrite(&dbf), 0);
    }
    ASSERT_EQ(dbClose(&dbf), 0);
  }
  static DbfField Field(const char* name, char type, uint8_t width, uint8_t decimals = 0) {
    DbfField f{};
    std::snprintf(f.name, sizeof f.name, "%s", name);
    f.type = type;
    f.width = width;
    f.decimals = decimals;
    return f;
  }
  static std::function<void(DbfField*)> Named(const std::string& name) {
    return [name](DbfField* f) { std::snprintf(f[0].value.text, 256, "%s", name.c_str()); };
  }
  std::vector<std::function<void(DbfField*)>> Names(size_t n) {
    std::vector<std::function<void(DbfField*)>> rows;
    for (size_t i = 1; i <= n; ++i) rows.push_back(Named("s" + std::to_string(i)));
    return rows;
  }
};

// The kinds of shapes, the degree rules and the skipped types, with record
// numbers that count every shape record.
TEST_F(ShpEdgeTest, ShapesAndCoordinates) {
  const std::string base = dir_.File("shapes");
  const std::vector<Shape> shapes = {
      {SHAPE_POINT, {{{-78.5, 35.25}}}},                                          // 1
      {SHAPE_POLYLINE, {{{-78, 35}, {-77.5, 35.5}}}},                            // 2 two points
      {SHAPE_POLYLINE, {{{-78e6, 35e6}, {-77e6, 36e6}}}},                        // 3 millionths
      {SHAPE_POLYLINE, {{{0, 0}, {1, 1}, {2, 0}}, {{5, 5}, {6, 6}}}},            // 4 two parts
      {SHAPE_POLYGON, {{{4.35, 0}, {5, 1}, {6, 0}, {4.35, 0}}}},                 // 5 on the equator
      {SHAPE_POLYGON, {{{4350000, 0}, {5000000, 1000000}, {6000000, 0}, {4350000, 0}}}},  // 6
      {15, {{{1, 1}, {2, 2}, {3, 1}}}},                                          // 7 PolygonZ
      {SHAPE_NULL, {{}}},                                                        // 8 no points
      {SHAPE_POLYGON,                                                            // 9 hole
       {{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}}, {{2, 2}, {4, 2}, {4, 4}, {2, 2}}}},
  };
  WriteSet(base, shapes, {Field("NAME", DBF_CHARACTER, 10)}, Names(shapes.size()));
  Init();
  ASSERT_EQ(pipImportOpenShape(import_, (base + ".shp").c_str(), "NAME", nullptr), 1) << Detail();
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 1, 1, 1, 1, 1, 2, 2, 1, 0})) << Detail();
  std::vector<Record> records = Finish().Records();
  ASSERT_EQ(records.size(), 7u);
  const uint32_t numbers[] = {1, 2, 3, 4, 5, 6, 9};
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].recordNumber, numbers[i]);
    EXPECT_EQ(records[i].name, "s" + std::to_string(numbers[i]));
  }
  EXPECT_EQ(Point(records[0].x, records[0].y), Point(-78500000, 35250000));
  EXPECT_EQ(records[1].xy, (std::vector<Point>{{-78000000, 35000000}, {-77500000, 35500000}}));
  EXPECT_EQ(records[2].xy, (std::vector<Point>{{-78000000, 35000000}, {-77000000, 36000000}}));
  EXPECT_EQ(records[3].ringCounts, (std::vector<uint32_t>{3, 2}));
  // Degrees with a vertex on the equator and whole millionths: one record.
  EXPECT_EQ(records[4].xy, (std::vector<Point>{{4350000, 0}, {5000000, 1000000}, {6000000, 0}}));
  EXPECT_EQ(records[5].xy, records[4].xy);
  EXPECT_EQ(records[6].ringCounts, (std::vector<uint32_t>{4, 3}));
}

// A line of two points whose y values tell nothing fails the read.
TEST_F(ShpEdgeTest, LineOnTheEquatorFails) {
  const std::string base = dir_.File("eq");
  WriteSet(base, {{SHAPE_POLYLINE, {{{1, 0}, {2, 0}}}}}, {Field("NAME", DBF_CHARACTER, 4)},
           Names(1));
  Init();
  ASSERT_EQ(pipImportOpenShape(import_, base.c_str(), "NAME", nullptr), 1);
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{-1}));
  EXPECT_EQ(Detail(), std::string("Error: ") + kUndecidedLineText + "\nFile: " + base +
                          ".shp\nRecord: 1");
}

// Names by the field's type, and how the fields are chosen.
TEST_F(ShpEdgeTest, NamesByFieldType) {
  const std::string base = dir_.File("types");
  std::vector<DbfField> fields = {Field("TEXT", DBF_CHARACTER, 12), Field("NUM", DBF_NUMERIC, 10, 2),
                                  Field("FLT", DBF_FLOAT, 10, 1),   Field("YES", DBF_LOGICAL, 1),
                                  Field("DAY", DBF_DATE, 8),        Field("text", DBF_CHARACTER, 5)};
  std::snprintf(fields[2].format, sizeof fields[2].format, "%%10.1f");
  WriteSet(base, {{SHAPE_POINT, {{{1, 2}}}}}, fields, {[](DbfField* f) {
             std::snprintf(f[0].value.text, 256, "  padded  ");
             f[1].value.number = 37009.25;
             f[2].value.number = -1.5;
             f[3].value.logical = 'T';
             std::snprintf(f[4].value.text, 256, "20240131");
             std::snprintf(f[5].value.text, 256, "last");
           }});
  struct Case {
    const char* id;
    const char* second;
    const char* name;
    const char* name2;
    const char* warning;
  };
  const Case cases[] = {
      {"num", "DAY", "37009.250000", "20240131", nullptr},
      {"FLT", "YES", "-1.500000", "84", nullptr},
      {"yes", "nothing", "84", "", nullptr},
      {"Text", nullptr, "last", "", nullptr},  // the last field of the name
      {nullptr, nullptr, "padded", "", kShpIdNullText},
      {"missing", nullptr, "padded", "", kShpIdNotFoundText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id ? c.id : "null");
    Init();
    ASSERT_EQ(pipImportOpenShape(import_, base.c_str(), c.id, c.second), 1) << Detail();
    if (c.warning) {
      EXPECT_EQ(Code(), 106);
      EXPECT_EQ(Detail(), c.warning);
    }
    EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, 0}));
    Record r = Finish().Records().at(0);
    EXPECT_EQ(r.name, c.name);
    EXPECT_EQ(r.name2, c.name2);
  }
}

// Files as other writers name them: upper-case main and index files with a
// lower-case table, in a folder whose name has a dot.
TEST_F(ShpEdgeTest, FileNamesAndFolders) {
  namespace fs = std::filesystem;
  const std::string folder = dir_.File("v1.2");
  fs::create_directory(folder);
  fs::copy_file(SharedDataPath("nc/nc.shp"), folder + "/NC.SHP");
  fs::copy_file(SharedDataPath("nc/nc.shx"), folder + "/NC.SHX");
  fs::copy_file(SharedDataPath("nc/nc.dbf"), folder + "/nc.dbf");
  for (const std::string& given : {folder + "/NC.SHP", folder + "/nc", folder + "/nc.shp"}) {
    SCOPED_TRACE(given);
    Init();
    ASSERT_EQ(pipImportOpenSHP(import_, given.c_str(), "NAME", nullptr), 1) << Detail();
    EXPECT_EQ(Read().name, "Ashe");
  }
  Init();
  EXPECT_EQ(pipImportOpenSHP(import_, (folder + "/none.shp").c_str(), "NAME", nullptr), -1);
  // A set that is not there is named by its main file.
  EXPECT_NE(Detail().find("none.shp"), std::string::npos) << Detail();
  EXPECT_EQ(Read().status, -1);
}

// Damaged sets fail the read with the shapefile functions' text, never more.
// A .prj that names a projected system fails the first read: metres would
// be stored as millionths of a degree, a wrong place without a word. A
// geographic .prj, or none, reads as before.
TEST_F(ShpEdgeTest, ProjectedCoordinateSystemIsRefused) {
  const std::string base = dir_.File("utm");
  WriteSet(base, {{SHAPE_POINT, {{{500000, 4000000}}}}}, {Field("NAME", DBF_CHARACTER, 4)},
           Names(1));
  struct Case {
    const char* prj;  // null: no .prj
    int32_t first;
  } cases[] = {
      {"PROJCS[\"WGS 84 / UTM zone 31N\",GEOGCS[\"WGS 84\"],UNIT[\"metre\",1]]", -1},
      {" projcrs[\"ETRS89 / LAEA Europe\"]", -1},
      {"GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\"]]", 1},
      {nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prj ? c.prj : "no .prj");
    std::filesystem::remove(base + ".PRJ");
    if (c.prj) dir_.Write("utm.PRJ", c.prj);
    Init();
    ASSERT_EQ(pipImportOpenShape(import_, (base + ".shp").c_str(), "NAME", nullptr), 1);
    EXPECT_EQ(Read().status, c.first);
    if (c.first == -1) {
      EXPECT_EQ(Code(), 100);
      const std::string name = c.prj[1] == 'p' ? "ETRS89 / LAEA Europe" : "WGS 84 / UTM zone 31N";
      EXPECT_EQ(Detail(), "Error: " + base + ".PRJ names the projected coordinate system \"" +
                              name + "\". The input must be in degrees of longitude and latitude.");
    }
  }
}

TEST_F(ShpEdgeTest, DamagedSets) {
  namespace fs = std::filesystem;
  const std::string base = dir_.File("bad");
  const std::vector<Shape> shapes = {{SHAPE_POLYGON, {{{0, 0}, {1, 0}, {1, 1}, {0, 0}}}},
                                     {SHAPE_POLYGON, {{{0, 0}, {2, 0}, {2, 2}, {0, 0}}}}};
  // The table ends before the shapes do.
  WriteSet(base, shapes, {Field("NAME", DBF_CHARACTER, 4)}, Names(1));
  Init();
  ASSERT_EQ(pipImportOpenShape(import_, base.c_str(), "NAME", nullptr), 1);
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, -1}));
  EXPECT_EQ(Detail(), "Error: The .dbf file has fewer records than the .shp file.\nFile: " + base +
                          ".shp\nRecord: 2");

  // The main file cut inside its second record.
  WriteSet(base, shapes, {Field("NAME", DBF_CHARACTER, 4)}, Names(2));
  fs::resize_file(base + ".shp", fs::file_size(base + ".shp") - 20);
  Init();
  ASSERT_EQ(pipImportOpenShape(import_, base.c_str(), "NAME", nullptr), 1);
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{1, -1}));
  EXPECT_EQ(Code(), 100);
  EXPECT_NE(Detail().find("ShapeRead"), std::string::npos) << Detail();

  // Part starts past the point count.
  WriteSet(base, shapes, {Field("NAME", DBF_CHARACTER, 4)}, Names(2));
  std::string bytes = testsupport::ReadAll(base + ".shp");
  bytes[100 + 8 + 44] = 9;  // the first record's first part start
  dir_.Write("bad.shp", bytes);
  Init();
  ASSERT_EQ(pipImportOpenShape(import_, base.c_str(), "NAME", nullptr), 1);
  EXPECT_EQ(ReadAll(), (std::vector<int32_t>{-1}));
  EXPECT_NE(Detail().find("part"), std::string::npos) << Detail();
}

}  // namespace
