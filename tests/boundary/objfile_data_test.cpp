// The object-file calls on the real data sets, built through the import
// calls, against independent answers: GEOS for containment, the source
// shapes for rectangles, python3-dbfread for the attribute rows, and scans
// of the names and points for the name and nearest searches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/boundary/search_fixture.h"
#include "tests/support/command.h"
#include "tests/support/geos_oracle.h"
#include "tests/support/shp_rings.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using searchtest::Context;
using searchtest::DataSet;
using searchtest::OpenFile;
using testsupport::Geos;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRandomPoints = 10000;
#else
constexpr int kRandomPoints = 100000;
#endif

// The record numbers (from 1) of every object the current search gives.
std::set<uint32_t> RecordNumbers(uint32_t file, int32_t first) {
  std::set<uint32_t> numbers;
  char name[128];
  for (int32_t r = first; r > 0; r = pipObjectFindNext(file, name, sizeof name)) {
    pipObjectInfoStruct info;
    EXPECT_EQ(pipObjectGetInfo(file, &info), 1);
    numbers.insert(info.recordNumber);
  }
  EXPECT_GE(first, 0);
  return numbers;
}

// The source shapes in GEOS, with an STR tree over them.
struct Oracle {
  explicit Oracle(const DataSet& set) {
    std::string error;
    const std::string shp = testsupport::SharedDataPath(std::string(set.shapefile) + ".shp");
    EXPECT_TRUE(testsupport::ReadShpRings(shp, &shapes, &error)) << error;
    tree = GEOSSTRtree_create_r(geos.context(), 10);
    for (const auto& s : shapes) {
      std::vector<std::vector<testsupport::ShpPoint>> rings;
      for (const auto& r : s.rings) rings.push_back(testsupport::WithoutClosingPoint(r));
      regions.push_back(geos.Region(rings));
      prepared.push_back(geos.Prepare(regions.back().get()));
      borders.emplace_back();
      for (const auto& r : rings) borders.back().push_back(geos.Line(r, true));
    }
    for (size_t i = 0; i < regions.size(); ++i)
      if (regions[i])
        GEOSSTRtree_insert_r(geos.context(), tree, regions[i].get(), reinterpret_cast<void*>(i));
  }
  ~Oracle() { GEOSSTRtree_destroy_r(geos.context(), tree); }

  // Record numbers of the shapes containing (x, y).
  std::set<uint32_t> Containing(int32_t x, int32_t y) {
    Geos::Geom point = geos.Point(x, y);
    struct Query {
      Oracle* oracle;
      const GEOSGeometry* point;
      std::set<uint32_t> found;
    } q{this, point.get(), {}};
    GEOSSTRtree_query_r(
        geos.context(), tree, point.get(),
        [](void* item, void* data) {
          auto* q = static_cast<Query*>(data);
          const auto i = reinterpret_cast<size_t>(item);
          if (GEOSPreparedContains_r(q->oracle->geos.context(), q->oracle->prepared[i].get(),
                                     q->point) == 1)
            q->found.insert(uint32_t(i + 1));
        },
        &q);
    return q.found;
  }

  // Distance from (x, y) to the border of record number n.
  double ToBorder(uint32_t n, int32_t x, int32_t y) {
    Geos::Geom point = geos.Point(x, y);
    double d = 1e300;
    for (const auto& line : borders[n - 1])
      if (line) d = std::min(d, geos.Distance(point.get(), line.get()));
    return d;
  }

  Geos geos;
  std::vector<testsupport::ShpShape> shapes;
  std::vector<Geos::Geom> regions;
  std::vector<Geos::Prepared> prepared;
  std::vector<std::vector<Geos::Geom>> borders;
  GEOSSTRtree* tree = nullptr;
};

class RealDataTest : public ::testing::TestWithParam<DataSet> {};

TEST_P(RealDataTest, ContainingObjectsAreGeossAnswer) {
  const DataSet set = GetParam();
  const std::string path = searchtest::RealFile(set, PIP_IMPORT_PACKED);
  ASSERT_FALSE(path.empty());
  Oracle oracle(set);
  Context c;
  OpenFile f(c, path, 2);
  ASSERT_TRUE(f.ok());
  pipObjectFileInfoStruct info;
  ASSERT_EQ(pipObjectHandleFileQuery(f.handle(), &info), 1);
  std::mt19937_64 rng(std::hash<std::string>()(set.key));
  std::uniform_int_distribution<int32_t> ux(info.bounds[0], info.bounds[2]);
  std::uniform_int_distribution<int32_t> uy(info.bounds[1], info.bounds[3]);
  int inside = 0, onBorders = 0;
  char name[128];
  for (int i = 0; i < kRandomPoints; ++i) {
    const int32_t x = ux(rng), y = uy(rng);
    const int32_t first = pipObjectFindFirstContaining(f.handle(), x, y, 0, name, sizeof name);
    ASSERT_GE(first, 0) << x << " " << y;
    const std::set<uint32_t> ours = RecordNumbers(f.handle(), first);
    const std::set<uint32_t> theirs = oracle.Containing(x, y);
    inside += !theirs.empty();
    if (ours == theirs) {
      EXPECT_EQ(first, theirs.empty() ? 0 : 1);
      continue;
    }
    std::vector<uint32_t> differ;
    std::set_symmetric_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(),
                                  std::back_inserter(differ));
    for (uint32_t n : differ)
      ASSERT_LE(oracle.ToBorder(n, x, y), 1.0)
          << set.key << ": (" << x << ", " << y << ") record " << n
          << (ours.count(n) ? " found, not by GEOS" : " not found");
    ++onBorders;
  }
  EXPECT_GT(inside, kRandomPoints / 50) << "the points should fall inside objects too";
  EXPECT_LT(onBorders, kRandomPoints / 1000 + 2);
}

TEST_P(RealDataTest, RectanglesFindTheObjectsWhoseBoxesMeetThem) {
  const DataSet set = GetParam();
  const std::string path = searchtest::RealFile(set, 0);
  ASSERT_FALSE(path.empty());
  std::vector<testsupport::ShpShape> shapes;
  std::string error;
  ASSERT_TRUE(testsupport::ReadShpRings(
      testsupport::SharedDataPath(std::string(set.shapefile) + ".shp"), &shapes, &error));
  struct Box {
    int64_t xmin = INT64_MAX, ymin = INT64_MAX, xmax = INT64_MIN, ymax = INT64_MIN;
  };
  std::vector<Box> boxes;
  for (const auto& s : shapes) {
    Box b;
    for (const auto& r : s.rings)
      for (const auto& p : r) {
        b.xmin = std::min<int64_t>(b.xmin, p.x - 1);
        b.ymin = std::min<int64_t>(b.ymin, p.y - 1);
        b.xmax = std::max<int64_t>(b.xmax, p.x + 1);
        b.ymax = std::max<int64_t>(b.ymax, p.y + 1);
      }
    boxes.push_back(b);
  }
  Context c;
  OpenFile f(c, path);
  pipObjectFileInfoStruct info;
  ASSERT_EQ(pipObjectHandleFileQuery(f.handle(), &info), 1);
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<int32_t> ux(info.bounds[0], info.bounds[2]);
  std::uniform_int_distribution<int32_t> uy(info.bounds[1], info.bounds[3]);
  std::uniform_int_distribution<int32_t> size(0, (info.bounds[2] - info.bounds[0]) / 20);
  char name[128];
  for (int i = 0; i < 300; ++i) {
    int32_t x1 = ux(rng), y1 = uy(rng), x2 = x1 + size(rng), y2 = y1 + size(rng);
    if (i % 2) std::swap(x1, x2);  // corners in any order
    std::set<uint32_t> expected;
    for (size_t k = 0; k < boxes.size(); ++k) {
      const Box& b = boxes[k];
      if (b.xmin <= b.xmax && std::max(x1, x2) >= b.xmin && std::min(x1, x2) <= b.xmax &&
          std::max(y1, y2) >= b.ymin && std::min(y1, y2) <= b.ymax)
        expected.insert(uint32_t(k + 1));
    }
    const int32_t first = pipObjectFindFirstRect(f.handle(), x1, y1, x2, y2, name, sizeof name);
    ASSERT_EQ(RecordNumbers(f.handle(), first), expected)
        << x1 << " " << y1 << " " << x2 << " " << y2;
  }
}

// The rows of a dBASE table as python3-dbfread reads them: field names, then
// one vector of texts per row (numbers as Python prints them).
struct Table {
  std::vector<std::string> fields;
  std::vector<std::vector<std::string>> rows;
};

Table ReadTable(const std::string& dbf) {
  Table t;
  const std::string script =
      "import sys\nfrom dbfread import DBF\nt = DBF(sys.argv[1], encoding='latin-1')\n"
      "out = lambda s: sys.stdout.buffer.write((s + '\\n').encode('latin-1'))\n"
      "out('\\t'.join(f.name for f in t.fields))\n"
      "for r in t:\n  out('\\t'.join('' if v is None else str(v).strip() for v in r.values()))\n";
  std::string out;
  if (!testsupport::RunCommand(
          std::string(testsupport::kPython) + " -c \"" + script + "\" '" + dbf + "'", &out))
    return t;
  std::istringstream lines(out);
  std::string line;
  auto split = [](const std::string& s) {
    std::vector<std::string> parts;
    std::string::size_type at = 0, tab;
    while ((tab = s.find('\t', at)) != std::string::npos) {
      parts.push_back(s.substr(at, tab - at));
      at = tab + 1;
    }
    parts.push_back(s.substr(at));
    return parts;
  };
  if (std::getline(lines, line)) t.fields = split(line);
  while (std::getline(lines, line)) t.rows.push_back(split(line));
  return t;
}

// Numbers keep the decimals their values use: they agree to below one unit
// of the last decimal kept. A number field that 32 bits cannot hold at
// those decimals keeps its texts, which read as the same number.
bool SameValue(const pipAttributeInfoStruct& ours, const std::string& theirs) {
  if (ours.type != 'N') {
    if (ours.value == theirs) return true;
    char* oursEnd = nullptr;
    char* theirsEnd = nullptr;
    const double a = std::strtod(ours.value, &oursEnd);
    const double b = std::strtod(theirs.c_str(), &theirsEnd);
    return oursEnd != ours.value && *oursEnd == '\0' && !theirs.empty() && *theirsEnd == '\0' &&
           a == b;
  }
  const double a = std::strtod(ours.value, nullptr), b = std::strtod(theirs.c_str(), nullptr);
  return std::fabs(a - b) < std::pow(10.0, -double(ours.decimals)) + 1e-9 * std::fabs(b);
}

TEST_P(RealDataTest, AttributesAreTheRowOfTheObjectFound) {
  const DataSet set = GetParam();
  if (!testsupport::HavePythonModule("dbfread")) GTEST_SKIP() << "python3-dbfread is missing";
  const Table table = ReadTable(testsupport::SharedDataPath(std::string(set.shapefile) + ".dbf"));
  ASSERT_FALSE(table.rows.empty());
  const std::string path = searchtest::RealFile(set, 0);
  Context c;
  OpenFile f(c, path);
  int32_t count = 0;
  ASSERT_EQ(pipObjectGetAttributeCount(f.handle(), &count), 1);
  ASSERT_EQ(size_t(count), table.fields.size());
  char name[128];
  // Every object, in name order.
  int objects = 0;
  for (int32_t r = pipObjectFindFirstName(f.handle(), "*", name, sizeof name); r > 0;
       r = pipObjectFindNext(f.handle(), name, sizeof name), ++objects) {
    pipObjectInfoStruct info;
    ASSERT_EQ(pipObjectGetInfo(f.handle(), &info), 1);
    ASSERT_LE(info.recordNumber, table.rows.size());
    const auto& row = table.rows[info.recordNumber - 1];
    for (size_t k = 0; k < table.fields.size(); ++k) {
      pipAttributeInfoStruct a;
      ASSERT_EQ(pipObjectGetAttributeInfoByName(f.handle(), table.fields[k].c_str(), &a), 1)
          << table.fields[k];
      EXPECT_TRUE(SameValue(a, row[k])) << set.key << " record " << info.recordNumber << " "
                                        << table.fields[k] << ": " << a.value << " vs " << row[k];
    }
  }
  EXPECT_GE(objects, int(table.rows.size()) - 1);
}

TEST_P(RealDataTest, NameSearchesAreAScanOfTheNames) {
  const DataSet set = GetParam();
  const std::string path = searchtest::RealFile(set, 0);
  Context c;
  OpenFile f(c, path);
  char name[128];
  std::vector<std::string> names = searchtest::Names(
      f.handle(), pipObjectFindFirstName(f.handle(), "*", name, sizeof name), name);
  ASSERT_GT(names.size(), 50u);
  auto lower = [](std::string s) {
    for (char& ch : s) ch = platform::AsciiLower(ch);
    return s;
  };
  std::vector<std::string> patterns;
  for (size_t i = 0; i < names.size(); i += names.size() / 15) {
    patterns.push_back(names[i]);
    patterns.push_back(lower(names[i]));
    patterns.push_back(names[i].substr(0, 1) + "*");
    patterns.push_back(lower(names[i].substr(0, 3)) + "*");
    patterns.push_back(names[i] + "x");
  }
  for (const std::string& pattern : patterns) {
    const size_t star = pattern.find('*');
    const std::string key = lower(pattern.substr(0, star));
    std::vector<std::string> expected;
    for (const std::string& n : names)
      if (star == std::string::npos ? lower(n) == key : lower(n).rfind(key, 0) == 0)
        expected.push_back(n);
    std::vector<std::string> found = searchtest::Names(
        f.handle(), pipObjectFindFirstName(f.handle(), pattern.c_str(), name, sizeof name), name);
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected) << pattern;
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, RealDataTest,
                         ::testing::Values(searchtest::kNc, searchtest::kCountries,
                                           searchtest::kCounties),
                         [](const auto& info) { return std::string(info.param.key); });

// ---- nearest points --------------------------------------------------------------

struct Place {
  int32_t x, y;
  uint32_t record;
};

// The nearest search's answer by brute force over all places: the distances
// by pipDistance of the count nearest within the search distance.
std::vector<int32_t> BruteNearest(const std::vector<Place>& places, int32_t x, int32_t y,
                                  uint32_t count, int32_t searchDistance) {
  std::vector<int32_t> distances;
  for (const Place& p : places) {
    const int32_t d = pipDistance(x, y, p.x, p.y, 1, nullptr);
    if (d >= 0 && d <= searchDistance) distances.push_back(d);
  }
  const size_t n = std::min<size_t>(count, distances.size());
  std::partial_sort(distances.begin(), distances.begin() + ptrdiff_t(n), distances.end());
  distances.resize(n);
  return distances;
}

// (distance, record number) of every hit of the current nearest search.
std::vector<std::pair<int32_t, uint32_t>> Hits(uint32_t file, int32_t first, int32_t x, int32_t y) {
  std::vector<std::pair<int32_t, uint32_t>> hits;
  char name[128];
  for (int32_t r = first; r > 0; r = pipObjectFindNext(file, name, sizeof name)) {
    pipObjectInfoStruct info;
    EXPECT_EQ(pipObjectGetInfo(file, &info), 1);
    hits.emplace_back(pipDistance(x, y, info.x, info.y, 1, nullptr), info.recordNumber);
  }
  EXPECT_GE(first, 0);
  return hits;
}

std::vector<Place> PlacesOf(uint32_t file) {
  std::vector<Place> places;
  char name[128];
  for (int32_t r = pipObjectFindFirstName(file, "*", name, sizeof name); r > 0;
       r = pipObjectFindNext(file, name, sizeof name)) {
    pipObjectInfoStruct info;
    pipObjectGetInfo(file, &info);
    places.push_back({info.x, info.y, info.recordNumber});
  }
  return places;
}

TEST(NearestRealDataTest, CitiesAsTheBruteForceFindsThem) {
  const std::string path = searchtest::RealFile(searchtest::kCities, 0);
  ASSERT_FALSE(path.empty());
  Context c;
  OpenFile f(c, path);
  ASSERT_TRUE(f.ok());
  const std::vector<Place> cities = PlacesOf(f.handle());
  ASSERT_EQ(cities.size(), 243u);
  std::mt19937_64 rng(17);
  std::uniform_int_distribution<int32_t> ux(-180000000, 180000000), uy(-90000000, 90000000);
  for (int32_t distance : {366000, 5000000, 36521358}) {
    ASSERT_EQ(pipObjectSetSearchDistance(f.handle(), uint32_t(distance)), 1);
    for (int i = 0; i < 200; ++i) {
      // Random points, and points beside cities.
      int32_t x = ux(rng), y = uy(rng);
      if (i % 2) {
        const Place& p = cities[rng() % cities.size()];
        x = p.x + int32_t(rng() % 200000) - 100000;
        y = p.y + int32_t(rng() % 200000) - 100000;
      }
      for (uint32_t k : {1u, 5u, 20u}) {
        const auto hits =
            Hits(f.handle(), pipObjectFindFirstNearest(f.handle(), x, y, k, nullptr, 0), x, y);
        std::vector<int32_t> distances;
        for (const auto& h : hits) distances.push_back(h.first);
        ASSERT_EQ(distances, BruteNearest(cities, x, y, k, distance))
            << x << " " << y << " k " << k << " distance " << distance;
      }
    }
  }
}

// Random points all over the globe, poles included, and queries among them
// and at high latitudes, where a degree east is short and the search window
// wide: every answer is the brute force's.
TEST(NearestRealDataTest, RandomPointsAsTheBruteForceFindsThem) {
  std::mt19937_64 rng(29);
  std::uniform_int_distribution<int32_t> ux(-180000000, 180000000), uy(-90000000, 90000000),
      polar(80000000, 90000000);
  std::vector<searchtest::Obj> objects;
  std::vector<Place> places;
  for (int i = 0; i < kRandomPoints; ++i) {
    const Place p{ux(rng), uy(rng), uint32_t(i + 1)};
    objects.push_back(searchtest::Point("p" + std::to_string(i), p.x, p.y));
    places.push_back(p);
  }
  testsupport::TempDir temp;
  const std::string path = temp.File("random.gsb");
  ASSERT_TRUE(searchtest::BuildFile(path, objects, 0));
  Context c;
  OpenFile f(c, path);
  ASSERT_TRUE(f.ok());
  for (int32_t distance : {2738, 366000, 36521358}) {
    ASSERT_EQ(pipObjectSetSearchDistance(f.handle(), uint32_t(distance)), 1);
    for (int i = 0; i < 60; ++i) {
      const int32_t x = ux(rng);
      const int32_t y = i % 3 == 0 ? polar(rng) : i % 3 == 1 ? -polar(rng) : uy(rng);
      for (uint32_t k : {1u, 8u, 100u}) {
        const auto hits =
            Hits(f.handle(), pipObjectFindFirstNearest(f.handle(), x, y, k, nullptr, 0), x, y);
        std::vector<int32_t> distances;
        for (const auto& h : hits) distances.push_back(h.first);
        ASSERT_EQ(distances, BruteNearest(places, x, y, k, distance))
            << x << " " << y << " k " << k << " distance " << distance;
      }
    }
  }
}

// Every point object in the order a rectangle search over everything meets
// them (the index's entries depth first), at the positions their records
// hold, with their record offsets.
std::vector<Place> PointsInWalkOrder(uint32_t file, std::vector<uint64_t>* offsets = nullptr) {
  std::vector<Place> places;
  char name[128];
  for (int32_t r = pipObjectFindFirstRect(file, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, name,
                                          sizeof name);
       r > 0; r = pipObjectFindNext(file, name, sizeof name)) {
    pipObjectInfoStruct info;
    EXPECT_EQ(pipObjectGetInfo(file, &info), 1);
    if (info.kind != PIP_OBJECT_POINT) continue;
    places.push_back({info.x, info.y, info.recordNumber});
    uint32_t low = 0, high = 0;
    pipObjectGetHandle64(file, &low, &high);
    if (offsets) offsets->push_back(uint64_t(high) << 32 | low);
  }
  return places;
}

using DistanceAndRecord = std::vector<std::pair<int32_t, uint32_t>>;

// The brute force with its order: the k least distances within reach, equal
// ones in the order of places.
DistanceAndRecord BruteInOrder(const std::vector<Place>& places, int32_t x, int32_t y, uint32_t k,
                               int32_t reach, int kind) {
  DistanceAndRecord all;
  for (const Place& p : places) {
    const int32_t d = pipDistance(x, y, p.x, p.y, kind, nullptr);
    if (d >= 0 && d <= reach) all.emplace_back(d, p.record);
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  all.resize(std::min<size_t>(k, all.size()));
  return all;
}

DistanceAndRecord NearestInOrder(uint32_t file, int32_t x, int32_t y, uint32_t k, int kind) {
  DistanceAndRecord hits;
  char name[128];
  const int32_t first = pipObjectFindFirstNearest(file, x, y, k, name, sizeof name);
  EXPECT_GE(first, 0);
  for (int32_t r = first; r > 0; r = pipObjectFindNext(file, name, sizeof name)) {
    pipObjectInfoStruct info;
    EXPECT_EQ(pipObjectGetInfo(file, &info), 1);
    hits.emplace_back(pipDistance(x, y, info.x, info.y, kind, nullptr), info.recordNumber);
  }
  return hits;
}

// Files of several index pages where equal distances abound, near the pole
// where a degree east is a few feet, and with points whose records lie away
// from their index entries: the answers, equal distances included, come in
// the brute force's order (that of the rectangle search for ties).
TEST(NearestRealDataTest, EqualDistancesAndHighLatitudesInTheBruteForceOrder) {
  constexpr int32_t kStep = 100, kSide = 70;
  // A lattice in plain units, with squares and lines among the points
  // (never answers) so that leaf pages hold entries of more than one cell.
  auto lattice = [](std::vector<searchtest::Obj>* objects) {
    for (int32_t i = 0; i < kSide; ++i)
      for (int32_t j = 0; j < kSide; ++j) {
        const std::string at = std::to_string(i) + "_" + std::to_string(j);
        objects->push_back(searchtest::Point("p" + at, i * kStep, j * kStep));
        if ((i * kSide + j) % 7 == 0)
          objects->push_back(searchtest::Region(
              "r" + at, {searchtest::Square(i * kStep + 20, j * kStep + 20, 160)}));
        if ((i * kSide + j) % 11 == 0)
          objects->push_back(searchtest::Line(
              "l" + at, {{{i * kStep + 10, j * kStep}, {i * kStep + 10, j * kStep + 250}}}));
      }
  };
  std::vector<std::pair<int32_t, int32_t>> latticeQueries = {{-500, 3000}, {3450, 8000}};
  for (int32_t i = 0; i < kSide; i += 9)
    for (int32_t j = 0; j < kSide; j += 8) {
      latticeQueries.emplace_back(i * kStep, j * kStep);
      latticeQueries.emplace_back(i * kStep + kStep / 2, j * kStep + kStep / 2);
    }
  // Points beyond 85 degrees, every tenth a second point at the same place.
  auto polar = [](std::vector<searchtest::Obj>* objects) {
    std::mt19937_64 rng(41);
    std::uniform_int_distribution<int32_t> ux(-180000000, 180000000), uy(85000000, 89999999);
    int32_t x = 0, y = 0;
    for (int i = 0; i < 3000; ++i) {
      if (i % 10 != 9) {
        x = ux(rng);
        y = uy(rng);
      }
      objects->push_back(searchtest::Point("n" + std::to_string(i), x, y));
    }
  };
  std::vector<std::pair<int32_t, int32_t>> polarQueries = {{0, 90000000}, {179999999, 89999999}};
  std::mt19937_64 rng(43);
  std::uniform_int_distribution<int32_t> qx(-180000000, 180000000), qy(84000000, 90000000);
  for (int i = 0; i < 40; ++i) polarQueries.emplace_back(qx(rng), qy(rng));

  struct Case {
    const char* name;
    uint32_t kind;
    std::function<void(std::vector<searchtest::Obj>*)> objects;
    const std::vector<std::pair<int32_t, int32_t>>& queries;
    std::vector<uint32_t> counts;
    std::vector<int32_t> reaches;
    bool moveEastColumn;  // the records of the points at the east side far east
  };
  const Case cases[] = {
      {"lattice", 0, lattice, latticeQueries, {1, 4, 9, 13, 60}, {2738, 36521358}, false},
      {"near the pole", 1, polar, polarQueries, {1, 8, 100}, {366000, 36521358}, false},
      {"records away from their entries", 0, lattice, latticeQueries, {1, 4, 60}, {36521358},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<searchtest::Obj> objects;
    c.objects(&objects);
    testsupport::TempDir temp;
    const std::string path = temp.File("points.gsb");
    ASSERT_TRUE(searchtest::BuildFile(path, objects, 0, c.kind));
    Context context;
    if (c.moveEastColumn) {
      std::vector<uint64_t> offsets;
      std::vector<Place> places;
      {
        OpenFile f(context, path);
        ASSERT_TRUE(f.ok());
        places = PointsInWalkOrder(f.handle(), &offsets);
      }
      // Away from every query (all lie west of the moved points' new
      // place), so the entries still bound the records' distances.
      std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
      for (size_t i = 0; i < places.size(); ++i) {
        if (places[i].x != (kSide - 1) * kStep) continue;
        const int32_t x = places[i].x + 1000000;
        const char bytes[4] = {char(x), char(x >> 8), char(x >> 16), char(x >> 24)};
        file.seekp(std::streamoff(offsets[i] + 8));
        file.write(bytes, 4);
      }
      ASSERT_TRUE(file.good());
    }
    OpenFile f(context, path);
    ASSERT_TRUE(f.ok());
    const std::vector<Place> places = PointsInWalkOrder(f.handle());
    for (int32_t reach : c.reaches) {
      ASSERT_EQ(pipObjectSetSearchDistance(f.handle(), uint32_t(reach)), 1);
      for (const auto& [x, y] : c.queries)
        for (uint32_t k : c.counts)
          ASSERT_EQ(NearestInOrder(f.handle(), x, y, k, int(c.kind)),
                    BruteInOrder(places, x, y, k, reach, int(c.kind)))
              << x << " " << y << " k " << k << " reach " << reach;
    }
  }
}

// Countries as points at the centres of their boxes, with the attribute
// file of their table: the filtered search keeps the brute force's
// filtered answer.
TEST(NearestRealDataTest, CriteriaOnANumberFilterTheBruteForce) {
  if (!testsupport::HavePythonModule("dbfread")) GTEST_SKIP() << "python3-dbfread is missing";
  const DataSet set = searchtest::kCountries;
  const std::string shp = testsupport::SharedDataPath(std::string(set.shapefile) + ".shp");
  const Table table = ReadTable(testsupport::SharedDataPath(std::string(set.shapefile) + ".dbf"));
  const size_t gdp = size_t(std::find(table.fields.begin(), table.fields.end(), "gdp_md_est") -
                            table.fields.begin());
  ASSERT_LT(gdp, table.fields.size());
  std::vector<testsupport::ShpShape> shapes;
  std::string error;
  ASSERT_TRUE(testsupport::ReadShpRings(shp, &shapes, &error));
  std::vector<searchtest::Obj> points;
  std::vector<Place> all, rich;
  for (size_t i = 0; i < shapes.size(); ++i) {
    int64_t xmin = INT64_MAX, ymin = INT64_MAX, xmax = INT64_MIN, ymax = INT64_MIN;
    for (const auto& r : shapes[i].rings)
      for (const auto& p : r) {
        xmin = std::min<int64_t>(xmin, p.x);
        ymin = std::min<int64_t>(ymin, p.y);
        xmax = std::max<int64_t>(xmax, p.x);
        ymax = std::max<int64_t>(ymax, p.y);
      }
    const Place place{int32_t((xmin + xmax) / 2), int32_t((ymin + ymax) / 2), uint32_t(i + 1)};
    points.push_back(searchtest::Point("c" + std::to_string(i), place.x, place.y));
    all.push_back(place);
    if (std::strtod(table.rows[i][gdp].c_str(), nullptr) > 100000) rich.push_back(place);
  }
  ASSERT_GT(rich.size(), 20u);
  ASSERT_LT(rich.size(), all.size() - 20);
  testsupport::TempDir temp;
  const std::string path = temp.File("centres.gsb");
  ASSERT_TRUE(searchtest::BuildFile(path, points, 0));
  Context c;
  std::string why;
  ASSERT_EQ(testsupport::WriteAttributeFile(c.handle(), shp, path, &why), 1) << why;
  OpenFile f(c, path);
  ASSERT_TRUE(f.ok());
  ASSERT_EQ(pipObjectSetSearchDistance(f.handle(), 36521358), 1);
  std::mt19937_64 rng(23);
  std::uniform_int_distribution<int32_t> ux(-180000000, 180000000), uy(-60000000, 75000000);
  for (int i = 0; i < 200; ++i) {
    const int32_t x = ux(rng), y = uy(rng);
    const auto hits = Hits(
        f.handle(),
        pipObjectFindFirstNearestEx(f.handle(), x, y, 5, "gdp_md_est > 100000", nullptr, 0), x, y);
    std::vector<int32_t> distances;
    for (const auto& h : hits) {
      distances.push_back(h.first);
      EXPECT_GT(std::strtod(table.rows[h.second - 1][gdp].c_str(), nullptr), 100000);
    }
    ASSERT_EQ(distances, BruteNearest(rich, x, y, 5, 36521358)) << x << " " << y;
  }
}

}  // namespace
