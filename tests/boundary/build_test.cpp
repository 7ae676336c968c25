#include "boundary/build.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tests/boundary/gsbfile_reader.h"
#include "tests/support/temp_dir.h"

namespace {

using gsbtest::Point;
using gsbtest::Record;
using gsbtest::Rect;
using gsbtest::Segment;
using testsupport::TempDir;
using Rings = std::vector<std::vector<Point>>;

constexpr uint16_t kSegments = 0x01;
constexpr uint16_t kPacked = 0x02;

class BuildTest : public ::testing::Test {
 protected:
  std::unique_ptr<BoundaryBuilder> Make(uint16_t flags, int32_t pointLimit = 1000,
                                        int32_t polygonLimit = 100, uint16_t kind = 0) {
    auto b = std::make_unique<BoundaryBuilder>(error_, path_.c_str(), flags, kind, pointLimit,
                                               polygonLimit);
    EXPECT_TRUE(b->Ok());
    return b;
  }
  gsbtest::File Finish(std::unique_ptr<BoundaryBuilder>& b) {
    EXPECT_TRUE(b->Finish()) << error_->Detail();
    b.reset();
    return gsbtest::File(path_);
  }

  // Adds a line (kind 1) or region (kind 0) of the rings; true when written.
  static bool Add(BoundaryBuilder& b, uint8_t kind, const char* name, const Rings& rings,
                  Point label = {0, 0}) {
    std::unique_ptr<QPolygonLine> object = kind == 0
                                               ? std::make_unique<QPolygonRegion>(b, name, "", 7)
                                               : std::make_unique<QPolygonLine>(b, name, "", 7);
    object->SetLabel(label.first, label.second);
    for (const auto& ring : rings) {
      for (const Point& p : ring)
        if (!object->AddPoint(p.first, p.second)) return false;
      if (!object->EndRing()) return false;
    }
    return object->Write();
  }

  TempDir dir_;
  std::string path_ = dir_.File("out.gsb");
  pipErrorRef error_ = std::make_shared<pipError>();
};

// A region of three points, by hand: widened bounds (9, 9, 21, 21), label at
// their centre, names "T" and "" (a 4-byte block), rings at 84, coordinates
// at 88.
TEST_F(BuildTest, TriangleRecordRawWithSegments) {
  auto b = Make(kSegments);
  ASSERT_TRUE(Add(*b, 0, "T", {{{10, 10}, {20, 10}, {20, 20}}}));
  gsbtest::File file = Finish(b);
  Record r = file.RecordAt(536);
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(r.code, 7);
  EXPECT_EQ(r.flags, 0x09);
  EXPECT_EQ(r.rings, 1u);
  EXPECT_EQ(r.points, 3u);
  EXPECT_EQ(r.segments, 3u);
  EXPECT_EQ(r.ringOffset, 84u);
  EXPECT_EQ(r.coordinateOffset, 88u);
  EXPECT_EQ(r.length, 88u + 3 * 8 + 3 * 28);
  EXPECT_EQ(r.bounds, (Rect{9, 9, 21, 21}));
  EXPECT_EQ(r.labelX, 15);
  EXPECT_EQ(r.labelY, 15);
  EXPECT_EQ(r.name, "T");
  EXPECT_EQ(r.ringCounts, (std::vector<uint32_t>{3}));
  EXPECT_EQ(r.xy, (std::vector<Point>{{10, 10}, {20, 10}, {20, 20}}));
  // From the origin (9, 9): (1, 1), (11, 1), (11, 11); the closing segment
  // first.
  EXPECT_EQ(r.segmentRecords, (std::vector<Segment>{{1, 1, 11, 11, 14, 7071067, 7071067},
                                                    {1, 1, 11, 1, 10, 10000000, 0},
                                                    {11, 1, 11, 11, 10, 0, 10000000}}));
  // Nothing between the fixed part and the names, and the bytes of the
  // grid and brush fields zero.
  EXPECT_EQ(file.Bytes().substr(536 + 80, 4), std::string("T\0\0\0", 4));
  EXPECT_EQ(file.Bytes().substr(536 + 28, 8), std::string(8, '\0'));
}

// The same triangle packed: x 10, 20, 20 is code 5 (p 7), 15 (the delta
// again), 0; y 10, 10, 20 is 5/7, 0, 5/7; each stream starts with its
// one-byte checkpoint part.
TEST_F(BuildTest, TriangleRecordPacked) {
  auto b = Make(kPacked);
  ASSERT_TRUE(Add(*b, 0, "T", {{{10, 10}, {20, 10}, {20, 20}}}));
  gsbtest::File file = Finish(b);
  Record r = file.RecordAt(536);
  EXPECT_EQ(r.flags, 0x0A);
  EXPECT_EQ(r.streamSizes, (std::vector<uint32_t>{3, 4}));
  EXPECT_EQ(r.length, 88u + 8 + 3 + 4);
  EXPECT_EQ(file.Bytes().substr(536 + 96, 7), std::string("\x01\x57\xF0\x01\x57\x05\x70", 7));
  EXPECT_EQ(r.xy, (std::vector<Point>{{10, 10}, {20, 10}, {20, 20}}));
  EXPECT_EQ(file.MaxRecordLength(), 103u);
}

// A region ring's closing point is dropped from the ring and from the
// object, so the next ring starts right after it; open and closed rings give
// the same record. Lines keep every point.
TEST_F(BuildTest, ClosingPointsOfRegionRings) {
  auto b = Make(kSegments);
  const Rings closed = {{{0, 0}, {10, 0}, {10, 10}, {0, 0}},
                        {{20, 20}, {30, 20}, {30, 30}, {20, 20}}};
  const Rings open = {{{0, 0}, {10, 0}, {10, 10}}, {{20, 20}, {30, 20}, {30, 30}}};
  ASSERT_TRUE(Add(*b, 0, "R", closed));
  ASSERT_TRUE(Add(*b, 0, "R", open));
  ASSERT_TRUE(Add(*b, 1, "L", closed));
  gsbtest::File file = Finish(b);
  std::vector<Record> records = file.Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(file.Bytes().substr(records[0].offset, records[0].length),
            file.Bytes().substr(records[1].offset, records[1].length));
  EXPECT_EQ(records[0].points, 6u);
  EXPECT_EQ(records[0].ringCounts, (std::vector<uint32_t>{3, 3}));
  EXPECT_EQ(records[0].xy,
            (std::vector<Point>{{0, 0}, {10, 0}, {10, 10}, {20, 20}, {30, 20}, {30, 30}}));
  EXPECT_EQ(records[0].segments, 6u);
  EXPECT_EQ(records[2].points, 8u);
  EXPECT_EQ(records[2].ringCounts, (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(records[2].segments, 6u);  // 3 per open part
  EXPECT_EQ(file.MaxPoints(), 8u);
  EXPECT_EQ(file.MaxRings(), 2u);
}

TEST_F(BuildTest, LabelPoints) {
  struct Case {
    uint8_t kind;
    Rings rings;
    Point label;
    Point expected;
  };
  const Case cases[] = {
      {1, {{{1, 1}, {3, 3}}}, {5, 7}, {5, 7}},
      {1, {{{1, 1}, {3, 3}}}, {0, 7}, {0, 7}},
      {1, {{{1, 1}, {3, 3}}}, {0, 0}, {2, 2}},
      // Widened (-21, -21, -10, -10): -31 / 2 truncates toward zero.
      {0, {{{-11, -11}, {-20, -20}, {-20, -11}}}, {0, 0}, {-15, -15}},
  };
  auto b = Make(0);
  for (const Case& c : cases) ASSERT_TRUE(Add(*b, c.kind, "x", c.rings, c.label));
  gsbtest::File file = Finish(b);
  std::vector<Record> records = file.Records();
  ASSERT_EQ(records.size(), std::size(cases));
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(Point(records[i].labelX, records[i].labelY), cases[i].expected) << i;
  }
}

// Each record's own flags say whether its coordinates are packed: streams
// that would be too long, overflow their buffers, need too long a checkpoint
// part or come out empty leave the record raw.
TEST_F(BuildTest, PackedOrRaw) {
  struct Case {
    const char* name;
    uint16_t flags;
    int32_t pointLimit;
    uint8_t kind;
    Rings rings;
    uint16_t recordFlags;
  };
  auto line = [](size_t n, auto point) {
    std::vector<Point> ring;
    for (size_t i = 0; i < n; ++i) ring.push_back(point(int32_t(i)));
    return Rings{ring};
  };
  const Case cases[] = {
      {"small region", kPacked, 1000, 0, {{{0, 0}, {5, 0}, {5, 5}}}, 0x0A},
      {"small region, segments", kPacked | kSegments, 1000, 0, {{{0, 0}, {5, 0}, {5, 5}}}, 0x0B},
      {"no segments: empty streams", kPacked | kSegments, 1000, 1, {{{3, 3}}}, 0x09},
      // Deltas of 5,000,000 take 3.5 bytes each: 70,000 bytes.
      {"x stream past 65,525 bytes", kPacked, 20000, 1,
       line(20000, [](int32_t i) { return Point(i % 2 ? 5000000 : 0, 0); }), 0x08},
      // Absolute values take 4.5 bytes each: 450 bytes in a 400-byte buffer.
      {"buffer of 4 x PointLimit", kPacked, 100, 1,
       line(100, [](int32_t i) { return Point(i % 2 ? 20000000 : 0, 0); }), 0x08},
      // Long runs: a checkpoint entry of about a nibble per 128 values, 276
      // bytes for 66,000 values, 251 for 60,000.
      {"checkpoint part past 255 bytes", kPacked, 66000, 1,
       line(66000, [](int32_t i) { return Point(i, 0); }), 0x08},
      {"just under it", kPacked, 66000, 1, line(60000, [](int32_t i) { return Point(i, 0); }),
       0x0A},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = Make(c.flags, c.pointLimit);
    ASSERT_TRUE(Add(*b, c.kind, "x", c.rings));
    gsbtest::File file = Finish(b);
    EXPECT_EQ(file.Flags(), c.flags | 0x08);
    Record r = file.RecordAt(536);
    EXPECT_EQ(r.flags, c.recordFlags);
    EXPECT_EQ(r.xy, c.rings[0]);
  }
}

TEST_F(BuildTest, LimitsOfOneObject) {
  auto b = Make(0, /*pointLimit=*/4, /*polygonLimit=*/2);
  struct Case {
    Rings rings;
    const char* error;  // null: written
  };
  const Case cases[] = {
      {{{{0, 0}, {1, 0}}, {{5, 5}, {6, 5}}}, nullptr},  // exactly both limits
      {{{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {2, 2}}}, kTooManyPointsText},
      {{{{0, 0}}, {{1, 1}}, {{2, 2}}}, kTooManyPolygonsText},
      // The dropped closing point frees its place.
      {{{{0, 0}, {1, 0}, {1, 1}, {0, 0}}, {{5, 5}}}, nullptr},
      {{{{0, 0}, {1, 0}, {1, 1}}}, nullptr},  // the builder is still usable
  };
  for (const Case& c : cases) {
    error_->Clear();
    EXPECT_EQ(Add(*b, 0, "x", c.rings), c.error == nullptr);
    if (c.error) {
      EXPECT_EQ(error_->Code(), 100);
      EXPECT_STREQ(error_->Detail(), c.error);
    }
  }
  QPolygonRegion region(*b, "p", "", 0);
  const int32_t xy[] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
  const uint32_t five[] = {5};
  EXPECT_FALSE(region.AddParts(xy, five, 1));
  EXPECT_STREQ(error_->Detail(), kTooManyPointsText);
  const uint32_t three[] = {1, 1, 1};
  EXPECT_FALSE(region.AddParts(xy, three, 3));
  EXPECT_STREQ(error_->Detail(), kTooManyPolygonsText);
  EXPECT_EQ(region.PointCount(), 0u);  // refused whole
  gsbtest::File file = Finish(b);
  EXPECT_EQ(file.RegionCount(), 3u);
}

TEST_F(BuildTest, HeaderOfAFile) {
  auto b = Make(kSegments | kPacked | 0x10, 1000, 100, 1);
  b->SetHeaderText("my text");
  ASSERT_TRUE(Add(*b, 0, "A", {{{-5, 1}, {0, 1}, {0, 4}}}));
  ASSERT_TRUE(Add(*b, 1, "B", {{{7, 7}, {8, 8}}, {{9, 9}, {9, 10}, {9, 11}}}));
  QPolygonPoint point(*b, "C", "", 0, 100, -50);
  ASSERT_TRUE(point.Write());
  gsbtest::File file = Finish(b);
  EXPECT_EQ(file.HeaderText(), std::string("my text") + std::string(256 - 7, '\0'));
  EXPECT_EQ(file.Magic(), 0x8755CDCBu);
  EXPECT_EQ(file.Flags(), 0x1B);
  EXPECT_EQ(file.CoordinateKind(), 1);
  EXPECT_EQ(file.RegionCount(), 1u);
  EXPECT_EQ(file.LineCount(), 1u);
  EXPECT_EQ(file.PointCount(), 1u);
  EXPECT_EQ(file.MaxPoints(), 5u);
  EXPECT_EQ(file.MaxRings(), 2u);
  uint32_t longest = 0;
  for (const Record& r : file.Records()) longest = std::max(longest, r.length);
  EXPECT_EQ(file.MaxRecordLength(), longest);
  EXPECT_EQ(file.Bounds(), (Rect{-6, -50, 100, 12}));  // widened objects, the bare point
  EXPECT_EQ(file.OffsetWidth(), 1);
  EXPECT_EQ(file.HasExtension(), 0);
  EXPECT_EQ(file.Bytes().substr(344, 192), std::string(192, '\0'));
  // The name index after the records, the spatial index at the end.
  EXPECT_GT(file.NameIndex(), 536u);
  EXPECT_EQ(file.NameIndex() % 1024, 0u);
  EXPECT_EQ(file.SpatialRoot() + 32768, file.Bytes().size());
}

TEST_F(BuildTest, EmptyFile) {
  auto b = Make(0);
  gsbtest::File file = Finish(b);
  EXPECT_EQ(file.HeaderText(), std::string(kGsbDefaultBanner) + std::string(256 - 54, '\0'));
  EXPECT_EQ(file.Magic(), 0x7755CDCBu);
  EXPECT_EQ(file.Flags(), 0x08);
  EXPECT_EQ(file.Bounds(), (Rect{0x7FFFFFFF, 0x7FFFFFFF, INT32_MIN, INT32_MIN}));
  EXPECT_EQ(file.PointCount() + file.LineCount() + file.RegionCount(), 0u);
  EXPECT_EQ(file.MaxRecordLength(), 0u);
  EXPECT_TRUE(file.NameEntries().empty());
  EXPECT_TRUE(file.WalkSpatialIndex().empty());
  EXPECT_EQ(file.PageAt(file.SpatialRoot() / 32768).flags, 5);
}

// Key: the first 8 bytes of the names block; data: the record's offset.
TEST_F(BuildTest, NameIndexEntries) {
  auto b = Make(0);
  struct Named {
    const char* name;
    const char* name2;
  };
  const Named named[] = {{"AB", "C"}, {"abc", "DEFG"}, {"ABCDEFGHIJ", ""}, {"A", ""}};
  for (const Named& n : named) {
    QPolygonPoint p(*b, n.name, n.name2, 0, 1, 1);
    ASSERT_TRUE(p.Write());
  }
  gsbtest::File file = Finish(b);
  std::vector<Record> records = file.Records();
  EXPECT_EQ(records[0].length, 24u + 8);
  EXPECT_EQ(records[1].length, 24u + 12);
  EXPECT_EQ(records[3].length, 28u);
  auto entries = file.NameEntries();
  ASSERT_EQ(entries.size(), 4u);
  // Case-insensitive order: "A", "AB", "abc", "ABCDEFGH".
  EXPECT_EQ(entries[0], std::make_pair(std::string("A\0\0\0\0\0\0\0", 8), records[3].offset));
  EXPECT_EQ(entries[1], std::make_pair(std::string("AB\0C\0\0\0\0", 8), records[0].offset));
  EXPECT_EQ(entries[2], std::make_pair(std::string("abc\0DEFG", 8), records[1].offset));
  EXPECT_EQ(entries[3], std::make_pair(std::string("ABCDEFGH", 8), records[2].offset));
}

// Fails the temporary files of the indexes, records where every new file is
// made.
struct RecordingEnv : platform::EnvWrapper {
  using EnvWrapper::EnvWrapper;
  std::vector<std::string> created;
  bool failTemp = false;
  int Open(std::string_view p, unsigned f, int m) override {
    if (f & platform::kExclusive) {
      created.emplace_back(p);
      if (failTemp) {
        errno = ENOSPC;
        return -1;
      }
    }
    return target_.Open(p, f, m);
  }
};

TEST_F(BuildTest, TemporaryFilesBesideTheOutput) {
  RecordingEnv recording(platform::Env::Current());
  platform::ScopedEnv scoped(recording);
  auto b = Make(0);
  // Enough entries for the spatial index's sort to need a file of its own.
  for (int i = 0; i < 10000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "N%d", 10000 - i);  // out of order: the tree sorts
    QPolygonPoint p(*b, name, "", 0, i, i);
    ASSERT_TRUE(p.Write());
  }
  Finish(b);
  bool treeFile = false, sortFile = false;
  for (const std::string& p : recording.created) {
    EXPECT_EQ(platform::DirectoryOf(p), dir_.path()) << p;
    treeFile |= p.find("qtb.tmp") != std::string::npos;
    sortFile |= p.find("qf.tmp") != std::string::npos;
  }
  EXPECT_TRUE(treeFile && sortFile);
  std::vector<std::string> left;
  platform::Env::Current().ListDirectory(dir_.path(), &left);
  EXPECT_EQ(left, (std::vector<std::string>{"out.gsb"}));
}

TEST_F(BuildTest, UnfinishedBuilderLeavesNoFile) {
  auto b = Make(kPacked);
  ASSERT_TRUE(Add(*b, 0, "A", {{{0, 0}, {1, 0}, {1, 1}}}));
  platform::FileInfo info;
  EXPECT_EQ(platform::Env::Current().PathStat(path_, &info), 0);
  b.reset();
  std::vector<std::string> left;
  platform::Env::Current().ListDirectory(dir_.path(), &left);
  EXPECT_TRUE(left.empty());
}

// An object whose index entry cannot be made is not in the file, and the file
// cannot be finished: the failure is reported again by Finish.
TEST_F(BuildTest, LostIndexEntryFailsTheObjectAndTheFile) {
  RecordingEnv failing(platform::Env::Current());
  platform::ScopedEnv scoped(failing);
  failing.failTemp = true;  // the name tree's record file
  auto b = Make(0);
  EXPECT_FALSE(Add(*b, 0, "A", {{{0, 0}, {1, 0}, {1, 1}}}));
  EXPECT_EQ(error_->Code(), ENOSPC);
  error_->Report(100, kTooManyPointsText, "test", 1);  // a later, unrelated failure
  EXPECT_FALSE(b->Finish());
  EXPECT_EQ(error_->Code(), ENOSPC);
  EXPECT_STREQ(error_->Message(), "No space left on device");
  b.reset();
  std::vector<std::string> left;
  platform::Env::Current().ListDirectory(dir_.path(), &left);
  EXPECT_TRUE(left.empty());
}

}  // namespace
