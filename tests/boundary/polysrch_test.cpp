#include "boundary/polysrch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/pagefile.h"
#include "base/qio.h"
#include "base/qtree.h"
#include "platform/env.h"
#include "tests/boundary/gsbfile_reader.h"
#include "tests/boundary/search_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using searchtest::Context;
using searchtest::Obj;
using searchtest::OpenFile;
using searchtest::Square;

GsbHeader Header(uint32_t maxRecord, uint32_t maxPoints, uint16_t flags, uint32_t regions,
                 uint32_t maxRings) {
  GsbHeader h;
  h.maxRecordLength = maxRecord;
  h.maxPoints = maxPoints;
  h.flags = flags;
  h.regionCount = regions;
  h.maxRings = maxRings;
  return h;
}

TEST(PolygonCacheTest, SizeByMode) {
  const uint32_t mib = 1048576;
  struct Case {
    const char* what;
    GsbHeader header;
    uint32_t mode;
    int32_t count;
  } cases[] = {
      {"mode 0", Header(1000, 100, 0, 5, 1), 0, 1},
      {"mode 4 is mode 0", Header(1000, 100, 0, 5, 1), 4, 1},
      {"largest object 6 MB", Header(6 * mib, 100, 0, 5, 1), 1, 2},
      {"raw 1000 bytes, 5 MiB", Header(1000, 100, 0, 5, 1), 1, 5242},
      {"packed, 20 MiB", Header(1000, 500, kGsbFlagPacked, 5, 1), 2, 20 * mib / 5000},
      {"packed with segments, 100 MiB", Header(1000, 500, kGsbFlagPacked | kGsbFlagSegments, 5, 1),
       3, 100 * mib / 19000},
      {"segments without packing count nothing", Header(1000, 500, kGsbFlagSegments, 5, 1), 3,
       100 * mib / 1000},
      {"mode 7 is mode 3", Header(1000, 100, 0, 5, 1), 7, 100 * mib / 1000},
      {"points only, mode 1", Header(40, 0, kGsbFlagPacked, 0, 0), 1, 2},
      {"points only, mode 3", Header(40, 0, kGsbFlagPacked, 0, 0), 3, 2},
      {"points only, mode 0", Header(40, 0, 0, 0, 0), 0, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PolygonSearch::CacheCount(c.header, c.mode), c.count) << c.what;
}

class ReaderTest : public searchtest::FileTest {
 protected:
  std::unique_ptr<PolygonSearch> Open(const std::string& path, uint32_t mode) {
    return std::make_unique<PolygonSearch>(path.c_str(), mode, error_);
  }

  pipErrorRef error_ = std::make_shared<pipError>();
};

TEST_F(ReaderTest, PoolOfPointsKeepsTwoAndGivesWayLeastRecentlyUsed) {
  const std::string path = Build(
      {searchtest::Point("a", 1, 1), searchtest::Point("b", 2, 2), searchtest::Point("c", 3, 3)},
      PIP_IMPORT_PACKED);
  ASSERT_EQ(Open(path, 0)->CacheSize(), 1u);
  auto search = Open(path, 3);
  ASSERT_TRUE(search->IsOpen());
  ASSERT_EQ(search->CacheSize(), 2u);
  const auto records = gsbtest::File(path).Records();
  const uint64_t a = records[0].offset, b = records[1].offset, c = records[2].offset;
  PolygonObject* slotA = search->FetchObject(a);
  PolygonObject* slotB = search->FetchObject(b);
  ASSERT_TRUE(slotA && slotB && slotA != slotB);
  EXPECT_EQ(search->FetchObject(a), slotA) << "a hit";
  EXPECT_EQ(search->FetchObject(c), slotB) << "b was used least recently";
  EXPECT_STREQ(slotB->Name(), "c");
  EXPECT_EQ(search->FetchObject(b), slotA);
  EXPECT_EQ(search->FetchObject(c), slotB);
  EXPECT_EQ(search->FetchObject(b), slotA);
  EXPECT_STREQ(slotA->Name(), "b");
}

// Handles of one file in one mode share what they decode; another mode or
// another file (a copy) has its own, and what is shared goes with the last
// handle.
TEST_F(ReaderTest, HandlesOfOneFileShareWhatTheyDecode) {
  const std::string path = Build({searchtest::Point("a", 1, 1), searchtest::Point("b", 2, 2)},
                                 PIP_IMPORT_PACKED);
  const std::string copy = temp_.File("copy.gsb");
  std::filesystem::copy_file(path, copy);
  const uint64_t a = gsbtest::File(path).Records()[0].offset;
  {
    auto one = Open(path, 1), two = Open(path, 1), other = Open(path, 2), copied = Open(copy, 1);
    ASSERT_TRUE(one->IsOpen() && two->IsOpen() && other->IsOpen() && copied->IsOpen());
    EXPECT_EQ(one->Shared(), two->Shared());
    EXPECT_NE(one->Shared(), other->Shared());
    EXPECT_NE(one->Shared(), copied->Shared());
    ASSERT_TRUE(one->FetchObject(a));
    EXPECT_EQ(two->Shared()->objects.Count(), 1u) << "decoded by one, held for both";
  }
  auto again = Open(path, 1);
  ASSERT_TRUE(again->IsOpen());
  EXPECT_EQ(again->Shared()->objects.Count(), 0u) << "the last close let the decoded objects go";
}

// A containment lookup decodes the rings alone; the segment records come
// with a radius search, or at the first query that needs them.
TEST_F(ReaderTest, SegmentRecordsAreDecodedOnlyWhenNeeded) {
  const std::string path = Build({searchtest::Region("r", {Square(0, 0, 1000)}),
                                  searchtest::Region("s", {Square(5000, 0, 1000)})},
                                 PIP_IMPORT_PACKED | PIP_IMPORT_SEGMENTS);
  auto search = Open(path, 1);
  ASSERT_TRUE(search->IsOpen());
  const auto records = gsbtest::File(path).Records();
  auto decoded = [&](uint64_t offset) {
    SharedObject* o = search->Shared()->objects.Find(offset);
    const bool held = o && o->segments.load() != nullptr;
    if (o) o->Unref();
    return held;
  };
  PolygonObject* r = search->FetchObject(records[0].offset);
  ASSERT_TRUE(r && r->SegmentCount() > 0);
  EXPECT_TRUE(r->ContainsPoint(500, 500));
  EXPECT_FALSE(decoded(records[0].offset));
  EXPECT_GE(r->SegmentDistance(3000, 500), 0);
  EXPECT_TRUE(decoded(records[0].offset));
  ASSERT_TRUE(search->FetchObject(records[1].offset, true));
  EXPECT_TRUE(decoded(records[1].offset));
}

// The side index over the pool behaves as a map through every mix of
// inserts and erases, with offsets crowding a few home slots.
TEST(PolygonCacheIndexTest, AgreesWithAMap) {
  PolygonCacheIndex index;
  index.Reserve(4);
  std::map<uint64_t, PolygonObject*> model;
  std::mt19937_64 rng(3);
  std::vector<PolygonObject*> objects(64);
  for (size_t i = 0; i < objects.size(); ++i)
    objects[i] = reinterpret_cast<PolygonObject*>(uintptr_t(0x1000 + 16 * i));
  for (int step = 0; step < 200000; ++step) {
    const uint64_t offset = 860 + 4 * (rng() % 150);
    if (rng() % 2 && model.size() < 90) {
      PolygonObject* o = objects[rng() % objects.size()];
      index.Reserve(model.size() + 1);
      index.Insert(offset, o);
      model[offset] = o;
    } else {
      index.Erase(offset);
      model.erase(offset);
    }
    const uint64_t probe = 860 + 4 * (rng() % 150);
    auto it = model.find(probe);
    ASSERT_EQ(index.Find(probe), it == model.end() ? nullptr : it->second) << step;
  }
}

TEST_F(ReaderTest, TheEmptyNameWalksEveryObjectInKeyOrder) {
  std::vector<Obj> objects;
  for (const char* name : {"Wake", "alamance", "Buncombe", "wakefield", "Ashe", "", "Zeta", "ashe"})
    objects.push_back(searchtest::Point(name, 1, 1));
  const std::string path = Build(objects, 0);
  auto search = Open(path, 1);
  ASSERT_TRUE(search->IsOpen());
  std::vector<uint64_t> walked;
  uint64_t offset = 0;
  for (PolygonObject* o = search->NextByName("", &offset); o;
       o = search->NextByName(nullptr, &offset))
    walked.push_back(offset);
  std::vector<uint64_t> expected;
  for (const auto& [key, at] : gsbtest::File(path).NameEntries()) expected.push_back(at);
  EXPECT_EQ(walked, expected);
  ASSERT_EQ(walked.size(), objects.size());
  // A key finds the first name beginning with it, ignoring case.
  PolygonObject* o = search->NextByName("WAKE", &offset);
  ASSERT_TRUE(o);
  EXPECT_STREQ(o->Name(), "Wake");
}

TEST_F(ReaderTest, SearchDistanceIsHeldInItsRange) {
  const std::string path = Build({searchtest::Point("a", 1, 1)}, 0);
  auto search = Open(path, 0);
  EXPECT_EQ(search->GetSearchDistance(), 366000);
  struct Case {
    uint32_t set;
    int32_t result;
    int32_t stored;
  } cases[] = {{1000, -1, 2738},        {2737, -1, 2738},         {2738, 1, 2738},
               {36521358, 1, 36521358}, {36521359, -1, 36521358}, {0xFFFFFFFF, -1, 36521358},
               {500000, 1, 500000}};
  for (const Case& c : cases) {
    EXPECT_EQ(search->SetSearchDistance(c.set), c.result) << c.set;
    EXPECT_EQ(search->GetSearchDistance(), c.stored) << c.set;
  }
}

TEST_F(ReaderTest, CoordinatesFitExactlyOrFailWithTheirTexts) {
  const std::string path =
      Build({searchtest::Region("two rings", {Square(0, 0, 100), Square(200, 0, 50)})},
            PIP_IMPORT_PACKED);
  Context c;
  OpenFile f(c, path);
  ASSERT_TRUE(f.ok());
  ASSERT_EQ(pipObjectFindFirstName(f.handle(), "two rings", nullptr, 0), 1);
  uint32_t points = 0, parts = 0;
  ASSERT_EQ(pipObjectGetNumCoords(f.handle(), &points, &parts), 1);
  EXPECT_EQ(points, 8u);
  EXPECT_EQ(parts, 2u);
  int32_t xy[16];
  uint32_t counts[2];
  uint32_t got = 0;
  ASSERT_EQ(pipObjectGetCoords(f.handle(), xy, 8, counts, 2, &got), 1);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(counts[0] + counts[1], 8u);
  EXPECT_EQ(pipObjectGetCoords(f.handle(), xy, 8, counts, 1, &got), -1);
  EXPECT_EQ(c.Code(), Q_ERROR_TABLE_OVERFLOW);
  EXPECT_EQ(c.Detail(), "Object to large for input size (too many polygons).");
  EXPECT_EQ(pipObjectGetCoords(f.handle(), xy, 7, counts, 2, &got), -1);
  EXPECT_EQ(c.Detail(), "Object to large for input size (too many points).");
}

// An old file (magic 0x7755CDC9): records of the old layout with their
// bounds as grid numbers, the name index and the grid point index at the
// header's 32-bit offsets. A square region 5000 by 5000 millionths at
// (-80, 35) degrees and a point beside it.
std::string OldFile(const std::string& path) {
  QError error;
  QioFile out(path.c_str(), error);
  EXPECT_GE(out.Descriptor(), 0);
  out.Reserve(kGsbHeaderSize);
  // Region: old fixed part of 64 bytes, names, ring counts, raw points.
  GsbObjectRecord r;
  r.kind = kGsbRegion;
  r.rings = 1;
  r.points = 4;
  const size_t names = GsbNamesBlockLength(6, 0);
  r.ringOffset = uint32_t(kGsbOldRegionFixedSize + names);
  r.coordinateOffset = r.ringOffset + 4;
  r.length = r.coordinateOffset + 32;
  r.gridWest = 10000;   // x -80,000,000
  r.gridEast = 9997;    // x -79,994,000
  r.gridSouth = 17500;  // y 35,000,000
  r.gridNorth = 17503;  // y 35,006,000
  r.recordNumber = 1;
  std::vector<uint8_t> region(r.length);
  uint8_t fixed[kGsbLineFixedSize];
  EncodeGsbLineFixed(r, fixed);
  std::memcpy(region.data(), fixed, kGsbOldRegionFixedSize);
  EncodeGsbNamesBlock("square", "", region.data() + kGsbOldRegionFixedSize);
  QStoreU32LE(region.data() + r.ringOffset, 4);
  const int32_t xy[8] = {-80000000, 35000000, -79994000, 35000000,
                         -79994000, 35006000, -80000000, 35006000};
  for (int i = 0; i < 8; ++i)
    QStoreU32LE(region.data() + r.coordinateOffset + 4 * i, uint32_t(xy[i]));
  const int64_t regionAt = out.Reserve(r.length);
  out.WriteAt(regionAt, r.length, region.data());
  GsbObjectRecord p;
  p.kind = kGsbPoint;
  p.x = -79990000;
  p.y = 35003000;
  p.recordNumber = 2;
  p.length = uint32_t(kGsbPointFixedSize + GsbNamesBlockLength(5, 0));
  std::vector<uint8_t> point(p.length);
  EncodeGsbPointFixed(p, point.data());
  EncodeGsbNamesBlock("point", "", point.data() + kGsbPointFixedSize);
  const int64_t pointAt = out.Reserve(p.length);
  out.WriteAt(pointAt, p.length, point.data());

  QTreeBuild tree(error, std::string(platform::DirectoryOf(path)));
  uint8_t key[8] = {}, data[8];
  std::memcpy(key, "point", 5);
  QStoreU64LE(data, uint64_t(pointAt));
  tree.Add(key, data);
  std::memset(key, 0, 8);
  std::memcpy(key, "square", 6);
  QStoreU64LE(data, uint64_t(regionAt));
  tree.Add(key, data);
  const int64_t treeAt = tree.Write(out);
  EXPECT_GT(treeAt, 0);

  // Grid index: one page of two entries (cells x = (-x - 60,000,000) / 2000,
  // y = y / 2000), 4-byte record offsets.
  uint8_t index[16 + 64] = {};
  QStoreU16LE(index, 1);
  QStoreU16LE(index + 2, 64);
  QStoreU32LE(index + 4, 4);
  uint8_t* page = index + 16;
  QStoreU16LE(page, 2);
  const uint16_t pageRect[4] = {9995, 17500, 10000, 17503};
  const uint16_t regionRect[4] = {9997, 17500, 10000, 17503},
                 pointRect[4] = {9995, 17501, 9995, 17501};
  for (int i = 0; i < 4; ++i) {
    QStoreU16LE(page + 4 + 2 * i, pageRect[i]);
    QStoreU16LE(page + 12 + 2 * i, regionRect[i]);
    QStoreU16LE(page + 24 + 2 * i, pointRect[i]);
  }
  QStoreU32LE(page + 20, uint32_t(regionAt));
  QStoreU32LE(page + 32, uint32_t(pointAt));
  const int64_t indexAt = out.Reserve(sizeof index);
  out.WriteAt(indexAt, sizeof index, index);

  GsbHeader h;
  h.magic = kGsbMagicOld;
  h.flags = 0;
  h.coordinateKind = 1;
  h.nameIndexOffset32 = uint32_t(treeAt);
  h.spatialIndexOffset32 = uint32_t(indexAt);
  h.maxRecordLength = r.length;
  h.maxPoints = 4;
  h.maxRings = 1;
  h.regionCount = 1;
  h.pointCount = 1;
  h.gridWest = 10000;
  h.gridEast = 9995;
  h.gridSouth = 17500;
  h.gridNorth = 17503;
  uint8_t header[kGsbHeaderSize];
  EncodeGsbHeader(h, header);
  out.WriteAt(0, kGsbHeaderSize, header);
  out.Close();
  return path;
}

TEST_F(ReaderTest, OldFilesAreReadThroughTheirGridIndex) {
  const std::string path = OldFile(temp_.File("old.gsb"));
  OpenFile f(c_, path);
  ASSERT_TRUE(f.ok()) << c_.Detail();
  EXPECT_EQ(pipObjectFindFirstContaining(f.handle(), -79997000, 35003000, 0, name_, 128), 1);
  EXPECT_STREQ(name_, "square");
  pipObjectInfoStruct info;
  ASSERT_EQ(pipObjectGetInfo(f.handle(), &info), 1);
  const int32_t grid[4] = {-80000000, 35000000, -79994000, 35006000};
  EXPECT_TRUE(std::equal(grid, grid + 4, info.bounds));
  EXPECT_EQ(pipObjectFindFirstContaining(f.handle(), -79990000, 35003000, 0, name_, 128), 0);
  EXPECT_EQ(searchtest::Names(f.handle(),
                              pipObjectFindFirstRect(f.handle(), -80000000, 35000000, -79980000,
                                                     35010000, name_, 128),
                              name_),
            (std::vector<std::string>{"square", "point"}));
  EXPECT_EQ(
      searchtest::Names(f.handle(), pipObjectFindFirstName(f.handle(), "*", name_, 128), name_),
      (std::vector<std::string>{"point", "square"}));
  pipObjectFileInfoStruct header;
  ASSERT_EQ(pipObjectHandleFileQuery(f.handle(), &header), 1);
  EXPECT_EQ(header.bounds[0], -80002000) << "the header's grid numbers widened by one cell";
  EXPECT_EQ(header.bounds[3], 35008000);
}

// ---- damaged files ----------------------------------------------------------------

std::vector<Obj> MixedObjects() {
  std::vector<Obj> objects;
  for (int i = 0; i < 12; ++i) {
    const int32_t x = -80000000 + i * 300000;
    objects.push_back(
        searchtest::Region("region " + std::to_string(i),
                           {Square(x, 35000000, 250000), Square(x + 50000, 35050000, 100000)},
                           "second " + std::to_string(i)));
    objects.push_back(
        searchtest::Line("line " + std::to_string(i),
                         {{{x, 34000000}, {x + 100000, 34100000}, {x + 200000, 34000000}}}));
    objects.push_back(searchtest::Point("point " + std::to_string(i), x, 36000000));
  }
  return objects;
}

struct RecordPatch {
  const char* what;
  void (*patch)(uint8_t* record);
};

// A record whose counts or offsets do not fit fails to load: the search
// returns -1 with code 111 and the record's offset in the text.
TEST_F(ReaderTest, RecordsThatDoNotFitFailToLoad) {
  const RecordPatch cases[] = {
      {"more points than the largest object", [](uint8_t* r) { QStoreU32LE(r + 12, 1000000); }},
      {"more rings than the largest object", [](uint8_t* r) { QStoreU32LE(r + 8, 5000); }},
      {"ring counts not adding up",
       [](uint8_t* r) {
         QStoreU32LE(r + QLoadU32LE(r + 20), QLoadU32LE(r + QLoadU32LE(r + 20)) + 1);
       }},
      {"ring table past the coordinates", [](uint8_t* r) { QStoreU32LE(r + 20, 1u << 30); }},
      {"stream past the record", [](uint8_t* r) { QStoreU32LE(r + QLoadU32LE(r + 24), 60000); }},
      {"longer than the largest record", [](uint8_t* r) { QStoreU32LE(r + 4, 1u << 31); }},
      {"names without their NULs",
       [](uint8_t* r) { std::memset(r + 80, 'x', QLoadU32LE(r + 20) - 80); }},
      {"more segments than points", [](uint8_t* r) { QStoreU32LE(r + 16, 100000); }},
  };
  const std::string good = Build(MixedObjects(), PIP_IMPORT_PACKED | PIP_IMPORT_SEGMENTS);
  const uint64_t first = gsbtest::File(good).FirstRecord();
  for (const RecordPatch& p : cases) {
    std::string bytes = testsupport::ReadAll(good);
    p.patch(reinterpret_cast<uint8_t*>(bytes.data()) + first);
    const std::string path = temp_.Write("damaged.gsb", bytes);
    Context c;
    OpenFile f(c, path, 0);
    ASSERT_TRUE(f.ok()) << p.what;
    EXPECT_EQ(pipObjectFindFirstName(f.handle(), "region 0", nullptr, 0), -1) << p.what;
    EXPECT_EQ(c.Code(), Q_ERROR_CHECKSUM) << p.what;
    EXPECT_EQ(c.Detail().rfind("Object record at " + std::to_string(first), 0), 0u)
        << p.what << ": " << c.Detail();
    // The other objects are still there.
    EXPECT_EQ(pipObjectFindFirstName(f.handle(), "region 1", nullptr, 0), 1) << p.what;
  }
}

TEST_F(ReaderTest, TextsAreCopiedNoFurtherThanTheirFields) {
  const std::string good = Build({searchtest::Point("a", 1, 1)}, 0, true);
  std::string bytes = testsupport::ReadAll(good);
  std::memset(bytes.data(), 'H', 256);
  std::memset(bytes.data() + 536, 'N', 256 + 32 + 32);
  const std::string path = temp_.Write("texts.gsb", bytes);
  Context c;
  pipObjectFileInfoStruct info;
  ASSERT_EQ(pipObjectFileQuery(c.handle(), path.c_str(), &info), 1);
  EXPECT_EQ(std::string(info.headerText), std::string(255, 'H'));
  OpenFile f(c, path);
  ASSERT_TRUE(f.ok());
  pipObjectFileExtraInfoStruct extra;
  ASSERT_EQ(pipObjectHandleFileQueryEx(f.handle(), &extra), 1);
  EXPECT_EQ(std::string(extra.name), std::string(255, 'N'));
  EXPECT_EQ(std::string(extra.text), std::string(31, 'N'));
  EXPECT_EQ(std::string(extra.created), std::string(31, 'N'));
  EXPECT_EQ(extra.tag, 12u);
  EXPECT_EQ(extra.kind, 7u);
}

TEST_F(ReaderTest, HeaderQueries) {
  Context c;
  pipObjectFileInfoStruct info;
  const std::string other = temp_.Write("other.gsb", std::string(600, 'x'));
  EXPECT_EQ(pipObjectFileQuery(c.handle(), other.c_str(), &info), -1);
  EXPECT_EQ(c.Code(), Q_ERROR_SIGNATURE);
  EXPECT_EQ(c.Detail(), other);
  const std::string shortFile = temp_.Write("short.gsb", std::string(100, '\0'));
  EXPECT_EQ(pipObjectFileQuery(c.handle(), shortFile.c_str(), &info), -1);
  EXPECT_EQ(c.Code(), 28);

  const std::string plain = Build({searchtest::Region("r", {Square(10, 20, 30)})},
                                  PIP_IMPORT_PACKED | PIP_IMPORT_SEGMENTS);
  ASSERT_EQ(pipObjectFileQuery(c.handle(), plain.c_str(), &info), 1);
  EXPECT_EQ(info.flags, PIP_IMPORT_PACKED | PIP_IMPORT_SEGMENTS) << "0x08 reads 0";
  EXPECT_EQ(info.regionCount, 1u);
  EXPECT_EQ(info.maxPoints, 4u);
  EXPECT_EQ(info.maxParts, 1u);
  EXPECT_EQ(info.coordinateKind, 1u);
  const int32_t bounds[4] = {9, 19, 41, 51};
  EXPECT_TRUE(std::equal(bounds, bounds + 4, info.bounds));

  const std::string tax = temp_.File("tax.gsb");
  pipImportParamStruct params = testsupport::ImportParams();
  uint32_t import = 0;
  ASSERT_EQ(pipImportTXBInit(c.handle(), tax.c_str(), &params, &import), 1);
  ASSERT_EQ(pipImportTerm(import, 1), 1);
  ASSERT_EQ(pipObjectFileQuery(c.handle(), tax.c_str(), &info), 1);
  EXPECT_EQ(info.flags & PIP_IMPORT_TAX, PIP_IMPORT_TAX);
  OpenFile f(c, tax);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(pipObjectIsTaxFile(f.handle()), 1);
  OpenFile g(c, plain);
  EXPECT_EQ(pipObjectIsTaxFile(g.handle()), -1);
}

TEST_F(ReaderTest, HeaderMaximaBeyondTheFileAreRefused) {
  const std::string good =
      Build({searchtest::Region("r", {Square(10, 20, 30)})}, PIP_IMPORT_PACKED);
  struct Case {
    size_t at;
    uint32_t value;
  } cases[] = {{268, 0x7FFFFFFF}, {272, 0x40000000}, {288, 0x10000000}};
  for (const Case& k : cases) {
    std::string bytes = testsupport::ReadAll(good);
    QStoreU32LE(reinterpret_cast<uint8_t*>(bytes.data()) + k.at, k.value);
    const std::string path = temp_.Write("maxima.gsb", bytes);
    Context c;
    OpenFile f(c, path, 3);
    EXPECT_FALSE(f.ok()) << k.at;
    EXPECT_EQ(c.Code(), Q_ERROR_CHECKSUM) << k.at;
  }
}

// Files truncated anywhere and bytes flipped in every part, opened and
// searched in every way: each call gives a result or an error recorded,
// never a crash (the sanitizer run checks the reads).
TEST_F(ReaderTest, DamagedFilesGiveErrorsAndNeverCrash) {
  const std::string good = Build(MixedObjects(), PIP_IMPORT_PACKED | PIP_IMPORT_SEGMENTS, true);
  const std::string base = testsupport::ReadAll(good);
  gsbtest::File layout(good);
  const uint64_t records = layout.FirstRecord(), names = layout.NameIndex();
  const uint64_t pages = layout.SpatialRoot();
  const std::string path = temp_.File("fuzz.gsb");
  std::mt19937_64 rng(99);
  // The file is changed in place and put back after each run: a few bytes
  // written, or a cut, instead of a new file each time.
  std::ofstream(path, std::ios::binary).write(base.data(), std::streamsize(base.size()));
  std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
  auto put = [&io](uint64_t at, const char* bytes, size_t n) {
    io.seekp(std::streamoff(at));
    io.write(bytes, std::streamsize(n));
    io.flush();
  };
  const int kRuns = 10000;
  int opened = 0, failures = 0;
  for (int run = 0; run < kRuns; ++run) {
    std::string bytes = base;
    std::vector<uint64_t> changed;
    const int kind = run % 5;
    if (kind == 0) {
      std::filesystem::resize_file(path, rng() % base.size());
    } else {
      // Where to flip: header and extension, records, name index, pages.
      const uint64_t from[] = {0, records, names, pages};
      const uint64_t to[] = {records, names, pages, base.size()};
      const int part = kind - 1;
      for (int n = 1 + int(rng() % 3); n > 0; --n) {
        const uint64_t at = from[part] + rng() % (to[part] - from[part]);
        bytes[at] = char(uint8_t(bytes[at]) ^ uint8_t(1u << (rng() % 8)));
        changed.push_back(at);
        if (part == 3 && rng() % 2) {
          // Often with a sound check value, so that the walk reaches the damage.
          const uint64_t page = at / 32768 * 32768;
          if (page + 32768 <= bytes.size()) {
            QPageSetCheckValue(reinterpret_cast<uint8_t*>(bytes.data()) + page, 32768);
            changed.push_back(page + 32766);
            changed.push_back(page + 32767);
          }
        }
      }
      for (uint64_t at : changed) put(at, bytes.data() + at, 1);
    }
    struct Restore {
      std::function<void()> undo;
      ~Restore() { undo(); }
    } restore{[&] {
      if (kind == 0) {
        std::filesystem::resize_file(path, base.size());
        put(0, base.data(), base.size());
      } else {
        for (uint64_t at : changed) put(at, base.data() + at, 1);
      }
    }};
    Context c;
    uint32_t h = 0;
    const int32_t open = pipObjectFileOpen(c.handle(), path.c_str(), uint32_t(run % 4), &h);
    if (open != 1) {
      ASSERT_EQ(open, -1);
      ASSERT_NE(c.Code(), -1) << "a failed open records why (run " << run << ")";
      ++failures;
      continue;
    }
    ++opened;
    char name[128];
    int32_t xy[2 * 64];
    uint32_t counts[8], parts = 0;
    pipObjectInfoStruct info;
    auto check = [&](int32_t r, const char* what) {
      if (r < -1) ADD_FAILURE() << what << " gave " << r;
      if (r == -1 && c.Code() == -1) ADD_FAILURE() << what << " failed without an error";
    };
    const int32_t x = -80000000 + int32_t(rng() % 4000000), y = 34000000 + int32_t(rng() % 2500000);
    for (int32_t r = pipObjectFindFirstContaining(h, x, y, uint32_t(rng() % 3) * 5000, name, 128);
         r > 0; r = pipObjectFindNext(h, name, 128)) {
      pipObjectGetInfo(h, &info);
      pipObjectGetCoords(h, xy, 64, counts, 8, &parts);
      pipObjectDistanceToBorder(h, x, y);
    }
    check(pipObjectFindFirstContainingEx(h, x, y, 20000, name, 128), "buffered search");
    int32_t r = pipObjectFindFirstRect(h, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, name, 128);
    for (int n = 0; r > 0 && n < 100; ++n) r = pipObjectFindNext(h, name, 128);
    check(r, "rectangle search");
    r = pipObjectFindFirstName(h, "*", name, 128);
    for (int n = 0; r > 0 && n < 100; ++n) r = pipObjectFindNext(h, name, 128);
    check(r, "name search");
    check(pipObjectFindFirstNearest(h, x, y, 5, name, 128), "nearest search");
    pipObjectFileClose(h);
  }
  EXPECT_GT(opened, 0);
  EXPECT_GT(failures, 0);
}

}  // namespace
