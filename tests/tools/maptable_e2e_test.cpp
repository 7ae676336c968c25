// Map tables end to end on the real data sets: lio load puts each shapefile
// into a native table through liblayerio.so; gsbbuild of the table and
// gsbbuild of the shapefile then give the same boundary files, read back
// through Zonelib's C interface object by object (kind, names, label point,
// bounds, every ring's millionths, every attribute); gsbtool import of the
// table gives the same objects. A table made in a projected coordinate
// system reads back through lio dump --lonlat within 1e-6 degrees of the
// shapefile's own points, and gsbbuild and gsbtool import of it place its
// objects where the shapefile's are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::Outcome;
using testsupport::ReadAll;
using testsupport::RunProgram;
using testsupport::SharedDataPath;
using testsupport::TempDir;

struct DataSet {
  const char* name;
  const char* stem;     // under the shared data folder
  const char* idField;
  uint32_t objects;     // records that carry a shape
};

const DataSet kDataSets[] = {
    {"nc", "nc/nc", "NAME", 100},
    {"naturalearth_lowres", "naturalearth/naturalearth_lowres", "name", 177},
    {"naturalearth_cities", "naturalearth/naturalearth_cities", "name", 243},
    {"us_counties", "us/us_counties", "name", 3230},
};

// Copies a shapefile set into dir as name.shp, .shx, .dbf; bytes of 128 and
// above in the table's records (which gsbbuild refuses) become '?'.
std::string CopyShapefile(const TempDir& dir, const DataSet& set) {
  const std::string stem = SharedDataPath(set.stem);
  dir.Write(std::string(set.name) + ".shp", ReadAll(stem + ".shp"));
  dir.Write(std::string(set.name) + ".shx", ReadAll(stem + ".shx"));
  std::string dbf = ReadAll(stem + ".dbf");
  if (dbf.size() >= 12) {
    const size_t header = uint8_t(dbf[8]) | size_t(uint8_t(dbf[9])) << 8;
    for (size_t i = header; i < dbf.size(); ++i)
      if (uint8_t(dbf[i]) >= 128) dbf[i] = '?';
  }
  return dir.Write(std::string(set.name) + ".dbf", dbf);
}

using Ring = std::vector<std::pair<int32_t, int32_t>>;

struct BoundaryObject {
  std::string name, name2;
  uint32_t kind = 0;
  int32_t x = 0, y = 0;
  std::vector<int32_t> bounds;
  std::vector<Ring> rings;
  std::vector<std::pair<std::string, std::string>> attributes;  // name, value
};

// Every object of a boundary file by record number, with its attributes
// when the file has an attribute file.
std::map<uint32_t, BoundaryObject> ReadBoundaryFile(const std::string& path) {
  std::map<uint32_t, BoundaryObject> objects;
  const uint32_t context = uint32_t(pipInit(0, ""));
  uint32_t file = 0;
  EXPECT_EQ(pipObjectFileOpen(context, path.c_str(), 0, &file), 1) << path;
  char name[256];
  constexpr int32_t kWorld = 200000000;
  for (int32_t r = pipObjectFindFirstRect(file, -kWorld, -kWorld, kWorld, kWorld, name,
                                          sizeof name);
       file && r > 0; r = pipObjectFindNext(file, name, sizeof name)) {
    pipObjectInfoStruct info{};
    EXPECT_EQ(pipObjectGetInfo(file, &info), 1);
    BoundaryObject o;
    o.name = info.name;
    o.name2 = info.name2;
    o.kind = info.kind;
    o.x = info.x;
    o.y = info.y;
    o.bounds.assign(info.bounds, info.bounds + 4);
    uint32_t points = 0, parts = 0;
    EXPECT_EQ(pipObjectGetNumCoords(file, &points, &parts), 1);
    std::vector<int32_t> xy(2 * size_t(points) + 2);
    std::vector<uint32_t> counts(size_t(parts) + 1);
    uint32_t got = 0;
    EXPECT_EQ(pipObjectGetCoords(file, xy.data(), points, counts.data(), int32_t(parts), &got),
              1);
    size_t at = 0;
    for (uint32_t p = 0; p < got && p < parts; ++p) {
      Ring ring;
      for (uint32_t i = 0; i < counts[p] && at < points; ++i, ++at)
        ring.push_back({xy[2 * at], xy[2 * at + 1]});
      o.rings.push_back(ring);
    }
    int32_t fields = 0;
    if (pipObjectGetAttributeCount(file, &fields) == 1) {
      for (int32_t n = 0; n < fields; ++n) {
        pipAttributeInfoStruct a{};
        EXPECT_EQ(pipObjectGetAttributeInfoByNumber(file, uint32_t(n), &a), 1);
        o.attributes.push_back({a.name, a.value});
      }
    }
    EXPECT_TRUE(objects.emplace(info.recordNumber, o).second)
        << "record " << info.recordNumber << " found twice";
  }
  if (file) pipObjectFileClose(file);
  pipTerm(context);
  return objects;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}

// Attribute values agree: the same text, or the same number (the
// shapefile's attribute file keeps a number at its column's decimals, the
// table's keeps the row text's digits, which are all a column holds).
void ExpectSameValue(const std::string& fromShape, const std::string& fromTable) {
  const std::string a = Trimmed(fromShape), b = Trimmed(fromTable);
  if (a == b) return;
  char* endA = nullptr;
  char* endB = nullptr;
  const double x = std::strtod(a.c_str(), &endA), y = std::strtod(b.c_str(), &endB);
  ASSERT_TRUE(!a.empty() && !b.empty() && *endA == 0 && *endB == 0)
      << "\"" << a << "\" and \"" << b << "\"";
  EXPECT_EQ(x, y) << a << " and " << b;
}

// A region's rings as the map table keeps them: in an order of its own (it
// normalises regions as it stores them) and open. A shapefile ring whose
// point before the closing one lies less than a millionth from the first
// (Alaska in naturalearth_lowres) reaches the boundary file from the
// shapefile ending in its first point again; the table, whose grid is whole
// millionths, stores it without that repeat.
std::vector<Ring> Normalised(std::vector<Ring> rings) {
  for (Ring& ring : rings)
    if (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
  std::sort(rings.begin(), rings.end());
  return rings;
}

void ExpectSameObjects(const std::map<uint32_t, BoundaryObject>& fromShape,
                       const std::map<uint32_t, BoundaryObject>& fromTable, bool attributes) {
  ASSERT_EQ(fromShape.size(), fromTable.size());
  for (const auto& [record, a] : fromShape) {
    SCOPED_TRACE("record " + std::to_string(record) + " (" + a.name + ")");
    auto it = fromTable.find(record);
    ASSERT_NE(it, fromTable.end());
    const BoundaryObject& b = it->second;
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.name2, b.name2);
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.bounds, b.bounds);
    EXPECT_EQ(Normalised(a.rings), Normalised(b.rings));
    if (!attributes) continue;
    ASSERT_EQ(a.attributes.size(), b.attributes.size());
    ASSERT_FALSE(a.attributes.empty());
    for (size_t k = 0; k < a.attributes.size(); ++k) {
      SCOPED_TRACE(a.attributes[k].first);
      EXPECT_EQ(a.attributes[k].first, b.attributes[k].first);
      ExpectSameValue(a.attributes[k].second, b.attributes[k].second);
    }
  }
}

TEST(MapTableEndToEndTest, TableBuildsTheSameBoundaryFileAsTheShapefile) {
  for (const DataSet& set : kDataSets) {
    SCOPED_TRACE(set.name);
    TempDir dir;
    CopyShapefile(dir, set);
    const std::string shp = dir.File(std::string(set.name) + ".shp");
    const std::string tab = dir.File(std::string(set.name) + ".TAB");
    const Outcome load = RunProgram(dir, LIO_PATH, {"load", shp, tab});
    ASSERT_EQ(load.status, 0) << load.out << load.err;

    const Outcome fromShape = RunProgram(dir, GSBBUILD_PATH, {shp, dir.File("shp.gsb"), set.idField});
    ASSERT_EQ(fromShape.status, 1) << fromShape.out;
    const Outcome fromTable = RunProgram(dir, GSBBUILD_PATH, {tab, dir.File("tab.gsb"), set.idField});
    ASSERT_EQ(fromTable.status, 1) << fromTable.out;
    const Outcome imported =
        RunProgram(dir, GSBTOOL_PATH, {"import", tab, dir.File("import.gsb"), set.idField});
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;

    const auto a = ReadBoundaryFile(dir.File("shp.gsb"));
    EXPECT_EQ(a.size(), set.objects);
    ExpectSameObjects(a, ReadBoundaryFile(dir.File("tab.gsb")), true);
    ExpectSameObjects(a, ReadBoundaryFile(dir.File("import.gsb")), false);
  }
}

// ----- projected tables read back in degrees ---------------------------------

using Points = std::vector<std::pair<double, double>>;

// The points of each record of a shapefile, read through Zonelib, without
// the point that closes a ring; records without a shape give none.
std::vector<Points> ShapefilePoints(const std::string& stem) {
  std::vector<Points> records;
  ShapeHandle shape{};
  EXPECT_EQ(ShapeOpen(&shape, stem.c_str()), 0) << stem;
  while (ShapeRead(&shape) == 0) {
    Points points;
    if (shape.shapeType == SHAPE_POINT) {
      points.push_back({shape.points[0], shape.points[1]});
    } else if (shape.shapeType == SHAPE_POLYGON || shape.shapeType == SHAPE_POLYLINE) {
      for (uint32_t p = 0; p < shape.partCount; ++p) {
        const uint32_t n = shape.parts[p].count;
        const double* xy = shape.parts[p].points;
        const bool closed = shape.shapeType == SHAPE_POLYGON && n > 1 && xy[0] == xy[2 * n - 2] &&
                            xy[1] == xy[2 * n - 1];
        for (uint32_t i = 0; i < (closed ? n - 1 : n); ++i) points.push_back({xy[2 * i], xy[2 * i + 1]});
      }
    }
    records.push_back(points);
  }
  ShapeClose(&shape);
  return records;
}

// The points of a WKT text, ring by ring, without the point that closes a
// ring (the innermost parenthesised groups are the rings).
Points WktPoints(const std::string& wkt) {
  Points points;
  const bool polygon = wkt.find("POLYGON") != std::string::npos;
  for (size_t open = wkt.find('('); open != std::string::npos; open = wkt.find('(', open + 1)) {
    const size_t close = wkt.find(')', open);
    if (close == std::string::npos) break;
    const std::string group = wkt.substr(open + 1, close - open - 1);
    if (group.find('(') != std::string::npos) continue;
    Points ring;
    std::stringstream in(group);
    std::string pair;
    while (std::getline(in, pair, ',')) {
      double x = 0, y = 0;
      if (std::sscanf(pair.c_str(), "%lf %lf", &x, &y) == 2) ring.push_back({x, y});
    }
    if (polygon && ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
    points.insert(points.end(), ring.begin(), ring.end());
  }
  return points;
}

struct Dump {
  std::vector<std::string> rowTexts;
  std::vector<std::string> objects;
};

Dump ParseDump(const std::string& out) {
  Dump dump;
  std::stringstream in(out);
  std::string line;
  bool rows = false;
  while (std::getline(in, line)) {
    if (!rows) {
      rows = line.rfind("rows ", 0) == 0;
      continue;
    }
    const size_t tab = line.rfind('\t');
    dump.rowTexts.push_back(tab == std::string::npos ? std::string() : line.substr(0, tab));
    dump.objects.push_back(line.substr(tab == std::string::npos ? 0 : tab + 1));
  }
  return dump;
}

// Every point of one side lies within tolerance of a point of the other,
// and both have as many.
void ExpectSamePoints(Points a, Points b, double tolerance) {
  ASSERT_EQ(a.size(), b.size());
  std::sort(b.begin(), b.end());
  double worst = 0;
  for (const auto& p : a) {
    auto from = std::lower_bound(b.begin(), b.end(), std::make_pair(p.first - tolerance, -1e300));
    double best = 1e300;
    for (auto it = from; it != b.end() && it->first <= p.first + tolerance; ++it)
      best = std::min(best, std::max(std::fabs(it->first - p.first), std::fabs(it->second - p.second)));
    worst = std::max(worst, best);
  }
  EXPECT_LE(worst, tolerance);
}

// The same objects, names and rings, each point within 2 millionths of a
// degree (what a projected grid of whole millimetres moves a point by).
void ExpectNearObjects(const std::map<uint32_t, BoundaryObject>& fromShape,
                       const std::map<uint32_t, BoundaryObject>& fromTable) {
  ASSERT_EQ(fromShape.size(), fromTable.size());
  for (const auto& [record, a] : fromShape) {
    SCOPED_TRACE("record " + std::to_string(record) + " (" + a.name + ")");
    auto it = fromTable.find(record);
    ASSERT_NE(it, fromTable.end());
    const BoundaryObject& b = it->second;
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.kind, b.kind);
    Points pa, pb;
    for (const Ring& ring : Normalised(a.rings))
      for (const auto& [x, y] : ring) pa.push_back({x, y});
    for (const Ring& ring : Normalised(b.rings))
      for (const auto& [x, y] : ring) pb.push_back({x, y});
    if (a.rings.empty()) pa.push_back({a.x, a.y}), pb.push_back({b.x, b.y});
    ExpectSamePoints(pa, pb, 2);
  }
}

TEST(MapTableEndToEndTest, ProjectedTableReadsBackInDegrees) {
  struct Case {
    DataSet set;
    const char* clause;
  } cases[] = {
      // North Carolina's state plane (Lambert conformal conic on NAD 83).
      {kDataSets[0],
       "CoordSys Earth Projection 3, 74, \"m\", -79, 33.75, 34.3333333333, 36.1666666667, "
       "609601.22, 0 Bounds (0, 0) (1000000, 1000000)"},
      // Mercator on WGS 84 over the whole world.
      {kDataSets[2], "CoordSys Earth Projection 10, 104, \"m\", 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set.name);
    TempDir dir;
    CopyShapefile(dir, c.set);
    const std::string stem = dir.File(c.set.name);
    const Outcome load = RunProgram(dir, LIO_PATH, {"load", stem + ".shp", stem + ".TAB", c.clause});
    ASSERT_EQ(load.status, 0) << load.err;
    const Outcome degrees = RunProgram(dir, LIO_PATH, {"dump", stem + ".TAB", "--lonlat"});
    ASSERT_EQ(degrees.status, 0) << degrees.err;
    const Outcome units = RunProgram(dir, LIO_PATH, {"dump", stem + ".TAB"});
    ASSERT_EQ(units.status, 0) << units.err;

    // gsbbuild and gsbtool import read the table's objects in degrees too:
    // the same objects as from the shapefile, within the table's grid.
    const Outcome fromShape =
        RunProgram(dir, GSBBUILD_PATH, {stem + ".shp", dir.File("shp.gsb"), c.set.idField});
    ASSERT_EQ(fromShape.status, 1) << fromShape.out;
    const Outcome fromTable =
        RunProgram(dir, GSBBUILD_PATH, {stem + ".TAB", dir.File("tab.gsb"), c.set.idField});
    ASSERT_EQ(fromTable.status, 1) << fromTable.out;
    const Outcome imported = RunProgram(
        dir, GSBTOOL_PATH, {"import", stem + ".TAB", dir.File("import.gsb"), c.set.idField});
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;
    const auto shapeObjects = ReadBoundaryFile(dir.File("shp.gsb"));
    ExpectNearObjects(shapeObjects, ReadBoundaryFile(dir.File("tab.gsb")));
    ExpectNearObjects(shapeObjects, ReadBoundaryFile(dir.File("import.gsb")));

    const std::vector<Points> expected = ShapefilePoints(stem);
    const Dump inDegrees = ParseDump(degrees.out), inUnits = ParseDump(units.out);
    ASSERT_EQ(inDegrees.objects.size(), expected.size());
    EXPECT_EQ(inDegrees.rowTexts, inUnits.rowTexts);
    for (size_t r = 0; r < expected.size(); ++r) {
      SCOPED_TRACE("row " + std::to_string(r + 1));
      ExpectSamePoints(expected[r], WktPoints(inDegrees.objects[r]), 1e-6);
      // The table's own units are metres, far from any degree.
      const Points metres = WktPoints(inUnits.objects[r]);
      ASSERT_FALSE(metres.empty());
      EXPECT_GT(std::fabs(metres[0].first) + std::fabs(metres[0].second), 1000.0);
    }
  }
}

// ----- numbers --------------------------------------------------------------

// Numbers with more digits than a short form keeps: lio load makes N columns
// with decimals (and the 11-digit one) Float and the narrow whole one
// Integer; lio dump, and the attribute files gsbbuild makes of the table and
// of the shapefile, give back every digit. A numeric id names an object by
// "%f" from the shapefile and by the row text from the table.
TEST(MapTableEndToEndTest, NumbersKeepEveryDigitThroughTheTable) {
  TempDir dir;
  auto column = [](const char* name, char type, uint8_t width, uint8_t decimals) {
    DbfField f{};
    std::snprintf(f.name, sizeof f.name, "%s", name);
    f.type = type;
    f.width = width;
    f.decimals = decimals;
    std::snprintf(f.format, sizeof f.format, "%%%u.%uf", unsigned(width), unsigned(decimals));
    return f;
  };
  std::vector<DbfField> fields = {column("NAME", DBF_CHARACTER, 8, 0),
                                  column("RATIO", DBF_NUMERIC, 20, 7),
                                  column("AMOUNT", DBF_NUMERIC, 15, 6),
                                  column("BIG", DBF_NUMERIC, 11, 0),
                                  column("SMALL", DBF_NUMERIC, 6, 0)};
  struct Record {
    const char* name;
    double ratio, amount, big, small;
    const char* rowText;  // as lio dump shows it
  } records[] = {
      {"a", 0.1234567, 2.440629, 2147483647, 32767,
       "\"a\"\t0.1234567\t2.440629\t2147483647\t32767"},
      {"b", 12345678.901234, -1234567.123456, -2147483648.0, -32768,
       "\"b\"\t12345678.901234\t-1234567.123456\t-2147483648\t-32768"},
      {"c", -0.0000001, 99999999.000001, 1, 0, "\"c\"\t-1e-07\t99999999.000001\t1\t0"},
  };
  const std::string base = dir.File("x");
  {
    DbfHandle table{};
    table.fieldCount = uint32_t(fields.size());
    table.fields = fields.data();
    ASSERT_EQ(dbCreate(&table, base.c_str()), 0);
    ShapeHandle shape{};
    ASSERT_EQ(ShapeCreate(&shape, base.c_str()), 0);
    double x = -80;
    for (const Record& r : records) {
      std::snprintf(fields[0].value.text, sizeof fields[0].value.text, "%s", r.name);
      fields[1].value.number = r.ratio;
      fields[2].value.number = r.amount;
      fields[3].value.number = r.big;
      fields[4].value.number = r.small;
      ASSERT_EQ(dbWrite(&table), 0);
      double point[2] = {x += 0.5, 35};
      ASSERT_EQ(ShapeWritePoint(&shape, point), 0);
    }
    ASSERT_EQ(ShapeClose(&shape), 0);
    ASSERT_EQ(dbClose(&table), 0);
  }
  const Outcome load = RunProgram(dir, LIO_PATH, {"load", base + ".shp", base + ".TAB"});
  ASSERT_EQ(load.status, 0) << load.err;
  const Outcome dump = RunProgram(dir, LIO_PATH, {"dump", base + ".TAB"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("RATIO Float\nAMOUNT Float\nBIG Float\nSMALL Integer\n"),
            std::string::npos)
      << dump.out;
  const Dump rows = ParseDump(dump.out);
  ASSERT_EQ(rows.rowTexts.size(), std::size(records));
  for (size_t r = 0; r < std::size(records); ++r) EXPECT_EQ(rows.rowTexts[r], records[r].rowText);

  for (const char* id : {"NAME", "SMALL"}) {
    SCOPED_TRACE(id);
    const Outcome fromShape =
        RunProgram(dir, GSBBUILD_PATH, {base + ".shp", dir.File("shp.gsb"), id});
    ASSERT_EQ(fromShape.status, 1) << fromShape.out;
    const Outcome fromTable =
        RunProgram(dir, GSBBUILD_PATH, {base + ".TAB", dir.File("tab.gsb"), id});
    ASSERT_EQ(fromTable.status, 1) << fromTable.out;
    auto a = ReadBoundaryFile(dir.File("shp.gsb"));
    auto b = ReadBoundaryFile(dir.File("tab.gsb"));
    ASSERT_EQ(a.size(), std::size(records));
    for (size_t r = 0; r < std::size(records); ++r) {
      const Record& want = records[r];
      SCOPED_TRACE(want.name);
      BoundaryObject& shp = a[uint32_t(r + 1)];
      BoundaryObject& tab = b[uint32_t(r + 1)];
      if (std::string(id) == "SMALL") {
        char text[32];
        std::snprintf(text, sizeof text, "%f", want.small);
        EXPECT_EQ(shp.name, text);
        EXPECT_EQ(tab.name, std::to_string(int(want.small)));
        shp.name = tab.name;
      }
      ASSERT_EQ(shp.attributes.size(), 5u);
      EXPECT_EQ(std::strtod(tab.attributes[1].second.c_str(), nullptr), want.ratio);
      EXPECT_EQ(std::strtod(tab.attributes[2].second.c_str(), nullptr), want.amount);
      EXPECT_EQ(std::strtod(tab.attributes[3].second.c_str(), nullptr), want.big);
    }
    ExpectSameObjects(a, b, true);
  }
}

}  // namespace
