#include "boundary/import.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "boundary/cframe.h"
#include "platform/env.h"
#include "tests/boundary/context_fixture.h"
#include "tests/boundary/gsbfile_reader.h"
#include "tests/support/import_params.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using gsbtest::Point;
using gsbtest::Record;
using testsupport::ImportParams;
using testsupport::kImportPointLimit;
using testsupport::kImportPolygonLimit;
using testsupport::TempDir;

pipObjectInfoStruct Object(uint32_t kind, const char* name, int32_t x = 0, int32_t y = 0) {
  pipObjectInfoStruct o;
  std::memset(&o, 0, sizeof o);
  std::snprintf(o.name, sizeof o.name, "%s", name);
  o.kind = kind;
  o.x = x;
  o.y = y;
  return o;
}

bool Exists(const std::string& path) {
  platform::FileInfo info;
  return platform::Env::Current().PathStat(path, &info) == 0;
}

class ImportTest : public contexttest::ContextTest {
 protected:
  uint32_t Init(pipImportParamStruct params) {
    uint32_t handle = 0;
    EXPECT_EQ(pipImportInit(context_, path_.c_str(), &params, &handle), 1) << Detail();
    return handle;
  }
  int32_t Insert(uint32_t import, pipObjectInfoStruct& o, const std::vector<Point>& ring) {
    std::vector<int32_t> xy;
    for (const Point& p : ring) {
      xy.push_back(p.first);
      xy.push_back(p.second);
    }
    uint32_t count = uint32_t(ring.size());
    return pipImportInsert(import, &o, xy.data(), &count, 1);
  }

  TempDir dir_;
  std::string path_ = dir_.File("out.gsb");
};

TEST_F(ImportTest, LimitsInRangeOnly) {
  struct Case {
    int32_t pointLimit, polygonLimit;
    bool accepted;
  };
  const Case cases[] = {
      {55000000, 16383, true}, {1, 1, true},    {55000001, 16383, false}, {55000000, 16384, false},
      {0, 100, false},         {100, 0, false}, {-1, 100, false},         {100, INT32_MIN, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pointLimit << ", " << c.polygonLimit);
    pipImportParamStruct params = ImportParams(c.pointLimit, c.polygonLimit);
    uint32_t handle = 0xDEAD;
    int32_t result = pipImportInit(context_, path_.c_str(), &params, &handle);
    if (c.accepted) {
      ASSERT_EQ(result, 1);
      EXPECT_EQ(pipImportLimits().pointLimit, c.pointLimit);
      EXPECT_EQ(pipImportLimits().polygonLimit, c.polygonLimit);
      EXPECT_EQ(pipImportTerm(handle, 0), 1);
      continue;
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(handle, 0xDEADu);
    char message[256], detail[256];
    EXPECT_EQ(pipErrorGet(context_, message, detail), 106);
    EXPECT_STREQ(detail, "Parameter out of range.  PointLimit = 55000000, PolygonLimit = 16383.");
    EXPECT_FALSE(Exists(path_));
  }
}

// The limits are process-wide, but each import checks against the ones it
// was made with.
TEST_F(ImportTest, EachImportKeepsItsLimits) {
  uint32_t small = Init(ImportParams(4, 1));
  std::string otherPath = dir_.File("other.gsb");
  pipImportParamStruct params = ImportParams(1000, 10);
  uint32_t large = 0;
  ASSERT_EQ(pipImportInit(context_, otherPath.c_str(), &params, &large), 1);
  EXPECT_EQ(pipImportLimits().pointLimit, 1000);

  pipObjectInfoStruct o = Object(PIP_OBJECT_LINE, "a");
  const std::vector<Point> five = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}};
  EXPECT_EQ(Insert(small, o, five), -1);
  EXPECT_EQ(Detail(), "Too many points.");
  EXPECT_EQ(Insert(small, o, {five.begin(), five.begin() + 4}), 1);
  EXPECT_EQ(Insert(large, o, five), 1);
  EXPECT_EQ(pipImportTerm(small, 1), 1);
  EXPECT_EQ(pipImportTerm(large, 1), 1);
  EXPECT_EQ(gsbtest::File(path_).LineCount(), 1u);
  EXPECT_EQ(gsbtest::File(otherPath).LineCount(), 1u);
}

TEST_F(ImportTest, RecordNumbersStylesAndRefusedKinds) {
  uint32_t import = Init(ImportParams());
  pipObjectInfoStruct region = Object(PIP_OBJECT_REGION, "Region", 3, 4);
  std::snprintf(region.name2, sizeof region.name2, "  second\t ");
  region.code = 0x1FF;  // one byte kept
  region.styleA = 2;    // pen pattern
  region.styleB = 3;    // pen width
  region.brushPattern = 4;
  region.brushColour = 0xFF0000;
  region.brushBackground = 0x00FF00;
  region.recordNumber = 77;
  pipObjectInfoStruct bad = Object(3, "bad");
  pipObjectInfoStruct point = Object(PIP_OBJECT_POINT, "Point", -70000000, 40000000);
  point.styleA = 5;  // symbol shape
  point.styleB = 6;  // symbol size

  EXPECT_EQ(Insert(import, region, {{0, 0}, {10, 0}, {10, 10}}), 1);
  EXPECT_EQ(region.recordNumber, 1u);
  EXPECT_EQ(pipImportInsert(import, &bad, nullptr, nullptr, 0), -1);
  EXPECT_EQ(bad.recordNumber, 2u);
  EXPECT_EQ(Detail(), "Invalid object type.");
  EXPECT_EQ(pipImportInsert(import, &point, nullptr, nullptr, 0), 1);
  EXPECT_EQ(point.recordNumber, 3u);
  EXPECT_EQ(pipImportInsert(import, nullptr, nullptr, nullptr, 0), -1);
  EXPECT_EQ(pipImportTerm(import, 1), 1);

  gsbtest::File file(path_);
  std::vector<Record> records = file.Records();
  ASSERT_EQ(records.size(), 2u);
  const Record& r = records[0];
  EXPECT_EQ(r.name, "Region");
  EXPECT_EQ(r.name2, "second");
  EXPECT_EQ(r.code, 0xFF);
  EXPECT_EQ(r.penPattern, 2);
  EXPECT_EQ(r.penWidth, 3);
  EXPECT_EQ(r.brushPattern, 4);
  EXPECT_EQ(r.brushColour, 0xFF0000u);
  EXPECT_EQ(r.brushBackground, 0x00FF00u);
  EXPECT_EQ(r.recordNumber, 1u);
  EXPECT_EQ(std::make_pair(r.labelX, r.labelY), std::make_pair(3, 4));
  const Record& p = records[1];
  EXPECT_EQ(p.kind, 2);
  EXPECT_EQ(std::make_pair(p.x, p.y), std::make_pair(-70000000, 40000000));
  EXPECT_EQ(p.symbolShape, 5);
  EXPECT_EQ(p.symbolSize, 6);
  EXPECT_EQ(p.recordNumber, 3u);
  EXPECT_EQ(p.length, 24u + 8);
}

// A line or region whose parts say it has no points would be stored as an
// object no search finds: refused with 106, a record number still taken.
TEST_F(ImportTest, PartsWithoutPointsAreRefused) {
  const int32_t xy[] = {0, 0, 10, 0, 10, 10, 20, 20, 30, 20, 30, 30};
  const struct {
    const char* name;
    uint32_t kind;
    std::vector<uint32_t> counts;
    int32_t partCount;
    const char* detail;
  } cases[] = {
      {"negative part count", PIP_OBJECT_REGION, {3}, -1, "The part count is negative."},
      {"negative part count of a line", PIP_OBJECT_LINE, {3}, INT32_MIN,
       "The part count is negative."},
      {"first part empty", PIP_OBJECT_REGION, {0, 3}, 2, "Part 1 of 2 has no points."},
      {"second part empty", PIP_OBJECT_LINE, {3, 0, 3}, 3, "Part 2 of 3 has no points."},
  };
  uint32_t import = Init(ImportParams());
  uint32_t number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pipObjectInfoStruct o = Object(c.kind, c.name);
    EXPECT_EQ(pipImportInsert(import, &o, xy, c.counts.data(), c.partCount), -1);
    EXPECT_EQ(o.recordNumber, ++number);
    char message[256], detail[256];
    EXPECT_EQ(pipErrorGet(context_, message, detail), 106);
    EXPECT_STREQ(detail, c.detail);
  }
  pipObjectInfoStruct kept = Object(PIP_OBJECT_REGION, "kept");
  EXPECT_EQ(Insert(import, kept, {{0, 0}, {10, 0}, {10, 10}}), 1);
  EXPECT_EQ(pipImportTerm(import, 1), 1);
  std::vector<Record> records = gsbtest::File(path_).Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, "kept");
}

TEST_F(ImportTest, NamesAreCutAt127Characters) {
  uint32_t import = Init(ImportParams());
  pipObjectInfoStruct o = Object(PIP_OBJECT_POINT, "");
  std::memset(o.name, 'n', sizeof o.name);  // no terminator
  std::memset(o.name2, 'm', sizeof o.name2);
  EXPECT_EQ(pipImportInsert(import, &o, nullptr, nullptr, 0), 1);
  EXPECT_EQ(pipImportTerm(import, 1), 1);
  Record r = gsbtest::File(path_).RecordAt(536);
  EXPECT_EQ(r.name, std::string(127, 'n'));
  EXPECT_EQ(r.name2, std::string(127, 'm'));
}

TEST_F(ImportTest, TaxBoundaryFileRoundsToHundreds) {
  pipImportParamStruct params = ImportParams();
  uint32_t import = 0;
  ASSERT_EQ(pipImportTXBInit(context_, path_.c_str(), &params, &import), 1);
  EXPECT_STREQ(params.headerText, "Velmore Software, Inc.\r\nTax Boundary File");
  EXPECT_EQ(params.flags, PIP_IMPORT_TAX);

  struct Case {
    int32_t value, rounded;
  };
  const Case cases[] = {{150, 200},
                        {-150, -200},
                        {149, 100},
                        {0, 0},
                        {50, 100},
                        {-49, 0},
                        {2147483647, 2147483600},
                        {-2147483647 - 1, -2147483600}};
  std::vector<Point> ring;
  for (const Case& c : cases) {
    pipObjectInfoStruct point = Object(PIP_OBJECT_POINT, "p", c.value, -c.value / 2);
    EXPECT_EQ(pipImportInsert(import, &point, nullptr, nullptr, 0), 1);
    EXPECT_EQ(point.x, c.rounded) << c.value;  // the caller's record, in place
    ring.emplace_back(c.value, 1);
  }
  pipObjectInfoStruct line = Object(PIP_OBJECT_LINE, "l");
  ASSERT_EQ(Insert(import, line, ring), 1);
  EXPECT_EQ(ring[0].first, 150);  // the caller's coordinates stay
  EXPECT_EQ(pipImportTerm(import, 1), 1);

  gsbtest::File file(path_);
  EXPECT_EQ(file.Magic(), 0x8755CDCBu);
  EXPECT_EQ(file.Flags(), 0x18);
  EXPECT_EQ(file.HeaderText().substr(0, 42),
            std::string("Velmore Software, Inc.\r\nTax Boundary File\0", 42));
  std::vector<Record> records = file.Records();
  ASSERT_EQ(records.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(records[i].x, cases[i].rounded);
    EXPECT_EQ(records.back().xy[i], Point(cases[i].rounded, 0));
  }
  // A header text of the caller's own stays.
  pipImportParamStruct own = ImportParams();
  std::snprintf(own.headerText, sizeof own.headerText, "mine");
  ASSERT_EQ(pipImportTXBInit(context_, path_.c_str(), &own, &import), 1);
  EXPECT_STREQ(own.headerText, "mine");
  EXPECT_EQ(pipImportTerm(import, 1), 1);
  EXPECT_EQ(gsbtest::File(path_).HeaderText().substr(0, 5), std::string("mine\0", 5));
}

TEST_F(ImportTest, HeaderTextOfTheParameters) {
  pipImportParamStruct params = ImportParams();
  std::memset(params.headerText, 'h', sizeof params.headerText);  // no terminator
  uint32_t import = Init(params);
  EXPECT_EQ(pipImportTerm(import, 1), 1);
  EXPECT_EQ(gsbtest::File(path_).HeaderText(), std::string(255, 'h') + '\0');
}

TEST_F(ImportTest, ExtensionRecord) {
  pipImportParamStruct params = ImportParams();
  uint32_t import = 0;
  std::string longName(300, 'x');
  ASSERT_EQ(pipImportInitEx(context_, path_.c_str(), &params, 7, longName.c_str(),
                            "a text longer than thirty-one characters", &import),
            1);
  pipObjectInfoStruct o = Object(PIP_OBJECT_POINT, "p", 1, 2);
  EXPECT_EQ(pipImportInsert(import, &o, nullptr, nullptr, 0), 1);
  EXPECT_EQ(pipImportTerm(import, 1), 1);

  gsbtest::File file(path_);
  EXPECT_EQ(file.HasExtension(), 1);
  const std::string& b = file.Bytes();
  EXPECT_EQ(gsbtest::Text(b, 536, 256), std::string(255, 'x'));
  EXPECT_EQ(gsbtest::Text(b, 792, 32), "a text longer than thirty-one c");  // and its NUL
  std::string created = gsbtest::Text(b, 824, 32);
  ASSERT_EQ(created.size(), 24u) << created;
  EXPECT_EQ(created[3], ' ');
  EXPECT_EQ(created[13], ':');
  EXPECT_EQ(created[16], ':');
  EXPECT_EQ(gsbtest::U16(b, 856), 12);
  EXPECT_EQ(gsbtest::U16(b, 858), 7);
  EXPECT_EQ(file.Records().at(0).offset, 860u);
}

TEST_F(ImportTest, KeepZeroLeavesNoFile) {
  uint32_t import = Init(ImportParams());
  pipObjectInfoStruct o = Object(PIP_OBJECT_POINT, "p", 1, 2);
  EXPECT_EQ(pipImportInsert(import, &o, nullptr, nullptr, 0), 1);
  EXPECT_TRUE(Exists(path_));
  EXPECT_EQ(pipImportTerm(import, 0), 1);
  EXPECT_FALSE(Exists(path_));
  EXPECT_EQ(pipImportTerm(import, 1), -1);  // the handle is gone
}

TEST_F(ImportTest, OutputThatCannotBeCreated) {
  struct DenyingEnv : platform::EnvWrapper {
    using EnvWrapper::EnvWrapper;
    std::string denied;
    int Open(std::string_view p, unsigned f, int m) override {
      if (platform::DirectoryOf(p) == denied) {
        errno = EACCES;
        return -1;
      }
      return target_.Open(p, f, m);
    }
  };
  DenyingEnv denying(platform::Env::Current());
  denying.denied = dir_.File("locked");
  platform::ScopedEnv scoped(denying);
  struct Case {
    std::string path;
    const char* message;
  };
  const Case cases[] = {
      {dir_.File("missing/out.gsb"), "No such file or directory"},
      {dir_.File("locked/out.gsb"), "Permission denied"},
  };
  for (const Case& c : cases) {
    pipImportParamStruct params = ImportParams();
    uint32_t handle = 0;
    EXPECT_EQ(pipImportInit(context_, c.path.c_str(), &params, &handle), -1) << c.path;
    char message[256], detail[256];
    pipErrorGet(context_, message, detail);
    EXPECT_STREQ(message, c.message);
    EXPECT_EQ(std::string(detail), c.path);
  }
}

// A term call of the wrong family fails and leaves the handle alone; the
// import outlives its context's end and still reports into its error object.
TEST_F(ImportTest, HandlesOfOtherFamiliesAndEndedContexts) {
  uint32_t import = Init(ImportParams());
  EXPECT_EQ(pipTerm(import), -1);
  EXPECT_EQ(pipImportTerm(context_, 1), -1);
  char message[256], detail[256];
  EXPECT_EQ(pipErrorGet(context_, message, detail), -1);  // the context still works

  EXPECT_EQ(pipTerm(context_), 1);
  context_ = 0;
  pipObjectInfoStruct bad = Object(9, "bad");
  EXPECT_EQ(pipImportInsert(import, &bad, nullptr, nullptr, 0), -1);
  pipObjectInfoStruct good = Object(PIP_OBJECT_POINT, "p", 1, 1);
  EXPECT_EQ(pipImportInsert(import, &good, nullptr, nullptr, 0), 1);
  EXPECT_EQ(pipImportTerm(import, 1), 1);
  EXPECT_EQ(gsbtest::File(path_).PointCount(), 1u);
}

TEST_F(ImportTest, FullHandleTableDiscardsTheNewImport) {
  std::vector<uint32_t> held;
  while (HandleTable::Global().InUseCount() < 1599) held.push_back(uint32_t(pipInit(0, nullptr)));
  pipImportParamStruct params = ImportParams();
  uint32_t handle = 0;
  EXPECT_EQ(pipImportInit(context_, path_.c_str(), &params, &handle), -1);
  char message[256], detail[256];
  EXPECT_EQ(pipErrorGet(context_, message, detail), 103);
  EXPECT_STREQ(detail, "Too many handles in use!\n");
  EXPECT_FALSE(Exists(path_));
  for (uint32_t h : held) pipTerm(h);
}

TEST_F(ImportTest, NullArgumentsFail) {
  pipImportParamStruct params = ImportParams();
  uint32_t handle = 0;
  EXPECT_EQ(pipImportInit(context_, path_.c_str(), &params, nullptr), -1);
  EXPECT_EQ(pipImportInit(context_, path_.c_str(), nullptr, &handle), -1);
  EXPECT_EQ(pipImportInit(context_, nullptr, &params, &handle), -1);
  EXPECT_EQ(pipImportTXBInit(context_, path_.c_str(), nullptr, &handle), -1);
  uint32_t import = Init(params);
  pipObjectInfoStruct o = Object(PIP_OBJECT_REGION, "r");
  uint32_t counts[] = {3};
  EXPECT_EQ(pipImportInsert(import, &o, nullptr, counts, 1), -1);
  EXPECT_EQ(pipImportInsert(import, &o, nullptr, nullptr, 1), -1);
  EXPECT_EQ(pipImportTerm(import, 1), 1);
}

// The spatial index of files built through the interface: 1363 objects fill
// one root leaf; one more gives two leaves under a root. Every record is
// reached exactly once, from the spatial index and from the name index.
TEST_F(ImportTest, SpatialAndNameIndexCoverEveryObject) {
  for (int count : {0, 1363, 1364}) {
    SCOPED_TRACE(count);
    uint32_t import = Init(ImportParams(kImportPointLimit, kImportPolygonLimit, 1, PIP_IMPORT_PACKED));
    for (int i = 0; i < count; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "R%05d", (i * 7919) % 10007);
      pipObjectInfoStruct o =
          Object(i % 3 == 2 ? PIP_OBJECT_POINT : PIP_OBJECT_REGION, name, i * 1000, -i * 500);
      const int32_t x = i * 1000, y = -i * 500;
      ASSERT_EQ(Insert(import, o, {{x, y}, {x + 700, y}, {x + 700, y + 300}}), 1);
    }
    ASSERT_EQ(pipImportTerm(import, 1), 1) << Detail();

    gsbtest::File file(path_);
    std::vector<Record> records = file.Records();
    ASSERT_EQ(records.size(), size_t(count));
    std::map<int, std::vector<gsbtest::Page>> levels;
    auto leaves = file.WalkSpatialIndex(&levels);
    EXPECT_EQ(levels.size(), count > 1363 ? 2u : 1u);
    if (count > 1363) {
      EXPECT_EQ(levels[0].size(), 2u);
      EXPECT_EQ(levels[1].at(0).flags, 6);
      EXPECT_EQ(levels[1].at(0).count, 2);
    }
    std::map<uint64_t, gsbtest::Rect> fromIndex;
    for (auto& [rect, offset] : leaves)
      EXPECT_TRUE(fromIndex.emplace(offset, rect).second) << offset;
    auto names = file.NameEntries();
    ASSERT_EQ(names.size(), size_t(count));
    std::map<uint64_t, std::string> fromNames;
    for (auto& [key, offset] : names) EXPECT_TRUE(fromNames.emplace(offset, key).second) << offset;
    for (const Record& r : records) {
      ASSERT_EQ(fromIndex.count(r.offset), 1u) << r.offset;
      const gsbtest::Rect expected = r.kind == 2 ? gsbtest::Rect{r.x, r.y, r.x, r.y} : r.bounds;
      EXPECT_EQ(fromIndex[r.offset], expected);
      EXPECT_EQ(fromNames[r.offset].substr(0, 7), r.name + '\0');
    }
  }
}


// One input at a time: an open replaces the one before, a failed open leaves
// none, and objects read and inserted share the file with their own numbers.
TEST_F(ImportTest, OpenReadAndClose) {
  uint32_t import = Init(ImportParams());
  char name[6];
  std::memset(name, 'x', sizeof name);
  uint32_t percent = 7, count = 7;
  EXPECT_EQ(pipImportRead(import, name, sizeof name, &percent, &count), -1);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(percent, 7u);

  const std::string first = dir_.Write("first.bna", "\"A long name\",1\n1,1\n\"B\",1\n2,2\n");
  const std::string second = dir_.Write("second.bna", "\"C\",1\n3,3\n");
  ASSERT_EQ(pipImportOpenBNA(import, first.c_str(), 1), 1);
  EXPECT_EQ(pipImportRead(import, name, sizeof name, &percent, &count), 1);
  EXPECT_STREQ(name, "A lon");  // cut to the buffer
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(percent, 67u);  // 20 of 30 bytes
  pipObjectInfoStruct o = Object(PIP_OBJECT_POINT, "inserted", 9, 9);
  EXPECT_EQ(pipImportInsert(import, &o, nullptr, nullptr, 0), 1);
  EXPECT_EQ(o.recordNumber, 1u);
  ASSERT_EQ(pipImportOpenBNA(import, second.c_str(), 1), 1);  // B is never read
  EXPECT_EQ(pipImportRead(import, name, sizeof name, nullptr, nullptr), 1);
  EXPECT_STREQ(name, "C");
  EXPECT_EQ(pipImportRead(import, name, sizeof name, nullptr, nullptr), 0);
  EXPECT_STREQ(name, "C");  // the last name again

  EXPECT_EQ(pipImportOpenBNA(import, dir_.File("none.bna").c_str(), 1), -1);
  EXPECT_EQ(pipImportRead(import, name, sizeof name, nullptr, nullptr), -1);
  ASSERT_EQ(pipImportOpenBNA(import, second.c_str(), 1), 1);
  EXPECT_EQ(pipImportClose(import), 1);
  EXPECT_EQ(pipImportRead(import, name, sizeof name, nullptr, nullptr), -1);
  EXPECT_EQ(pipImportClose(import), 1);
  EXPECT_EQ(pipImportClose(context_), -1);  // not an import
  EXPECT_EQ(pipImportTerm(import, 1), 1);

  std::vector<Record> records = gsbtest::File(path_).Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].name, "A long name");
  EXPECT_EQ(records[1].name, "inserted");
  EXPECT_EQ(records[1].recordNumber, 1u);
  EXPECT_EQ(records[2].name, "C");
}

}  // namespace
