// The spatial index of map-object files: the node layout, hand-laid trees
// that pin the choice of leaf, the leaf and node splits and the dropping of
// removed records, the refusal of maps with foreign type codes, and a long
// run of mixed inserts, replacements and deletions checked against the tree
// walk and a brute-force scan.
#include "mapfile/foundation/token.h"
#include "mapfile/objects/mapindex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "mapfile/coordsys/coordsys.h"
#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/objects/mapfile.h"
#include "mapfile/objects/maprecord.h"
#include "mapfile/objects/mapstyles.h"

namespace {

using namespace layerio;

// Little-endian readers and writers of the test's own, apart from the
// library's helpers.
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t GetI32(const uint8_t* p) { return int32_t(Get32(p)); }
void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// An in-memory .ID file: row n's position at rows[n].
struct MemoryIds : IdFileAccess {
  std::vector<uint32_t> rows;
};
int16_t MemRead(int32_t row, uint32_t* position, IdFileAccess* handle) {
  auto* ids = static_cast<MemoryIds*>(handle);
  if (row < 1 || size_t(row) >= ids->rows.size() || !ids->rows[size_t(row)]) return 0;
  *position = ids->rows[size_t(row)];
  return 1;
}
int16_t MemWrite(int32_t row, uint32_t position, IdFileAccess* handle) {
  auto* ids = static_cast<MemoryIds*>(handle);
  if (row < 1) return 0;
  if (size_t(row) >= ids->rows.size()) ids->rows.resize(size_t(row) + 1, 0);
  ids->rows[size_t(row)] = position;
  return 1;
}
int16_t FailingWrite(int32_t, uint32_t, IdFileAccess*) { return 0; }

IRect R(int32_t x1, int32_t y1, int32_t x2, int32_t y2) { return {x1, y1, x2, y2}; }
bool Same(const IRect& a, const IRect& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

// An object block laid out from the layout: head, then point records of
// code 1 (u8 code, u32 row word, i16 dx, i16 dy, u8 symbol index).
struct GenPoint {
  int32_t x, y;
  uint32_t word;
};
void LayPointLeaf(uint8_t* block, int blockSize, IPoint base, const std::vector<GenPoint>& pts) {
  std::memset(block, 0, size_t(blockSize));
  Put16(block, 2);
  Put16(block + 2, uint16_t(pts.size() * 10));
  Put32(block + 4, uint32_t(base.x));
  Put32(block + 8, uint32_t(base.y));
  uint8_t* r = block + 20;
  for (const GenPoint& p : pts) {
    r[0] = 1;
    Put32(r + 1, p.word);
    Put16(r + 5, uint16_t(int16_t(p.x - base.x)));
    Put16(r + 7, uint16_t(int16_t(p.y - base.y)));
    r[9] = 0;
    r += 10;
  }
}

// A point record is 10 bytes: 49 fill a 512-byte block.
constexpr int kPointsPerLeaf = 49;

class MapIndexTest : public mapfiletest::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    CoordSysInstallUnitServices();
    ids_.read = MemRead;
    ids_.write = MemWrite;
  }
  void TearDown() override {
    if (cursorOpen_) MapIndexCursorClose(&cursor_, &map_);
    if (slot_) MapBlockSlotFree(&map_, &slot_);
    if (locked_) MapFileUnlock(&map_, nullptr);
    if (map_.file) MapFileClose(&map_);
    TokEnd();
    FileLayerTest::TearDown();
  }

  void Create(int blockSize = 512) {
    CoordSys cs;
    ASSERT_TRUE(CoordSysParseText(
        &cs, "CoordSys NonEarth Units \"m\" Bounds (-1000000, -1000000) (1000000, 1000000)", true));
    table_ = Add("index.tab", 1);
    ASSERT_TRUE(MapFileCreate(&map_, &header_, table_, -1, &cs, 0, 0, blockSize));
    ASSERT_TRUE(MapFileLock(&map_, &header_, kFileModeWrite, nullptr));
    locked_ = true;
    ASSERT_TRUE(MapBlockSlotAlloc(&map_, &slot_));
    ASSERT_TRUE(MapIndexCursorOpen(&cursor_, &map_, 0));
    cursorOpen_ = true;
  }

  // Writes a block of raw bytes at a new position.
  uint32_t NewBlock(const uint8_t* bytes) {
    uint32_t position = 0;
    EXPECT_TRUE(MapBlockAlloc(&map_, &position));
    std::memcpy(slot_->bytes, bytes, size_t(map_.blockSize));
    EXPECT_TRUE(MapBlockWrite(&map_, slot_, position));
    return position;
  }
  std::vector<uint8_t> Block(uint32_t position) {
    EXPECT_TRUE(MapBlockRead(&map_, slot_, position));
    return std::vector<uint8_t>(slot_->bytes, slot_->bytes + map_.blockSize);
  }
  // A leaf of points with .ID entries for their rows.
  uint32_t PointLeaf(IPoint base, const std::vector<GenPoint>& pts) {
    std::vector<uint8_t> b(size_t(map_.blockSize));
    LayPointLeaf(b.data(), map_.blockSize, base, pts);
    uint32_t position = NewBlock(b.data());
    for (size_t i = 0; i < pts.size(); ++i) {
      if (!(pts[i].word & kMapRowRemoved)) {
        MemWrite(int32_t(pts[i].word & kMapRowMask), position + 20 + uint32_t(i) * 10, &ids_);
      }
    }
    return position;
  }
  uint32_t Node(const std::vector<MapIndexEntry>& entries) {
    MapIndexNode node{};
    for (const MapIndexEntry& e : entries) MapIndexNodeInsert(&node, &e);
    std::vector<uint8_t> b(size_t(map_.blockSize));
    MapIndexNodeWrite(&map_, &node, b.data());
    return NewBlock(b.data());
  }
  void SetRoot(uint32_t block, IRect rect, uint8_t depth) {
    map_.rootBlock = block;
    map_.root = rect;
    map_.indexDepth = depth;
  }

  // Leaves side by side along x under one root node of `full` entries; the
  // first leaf is full, so that a point inside it splits it into two. The
  // next free row.
  int32_t FillRootNode(int full) {
    std::vector<MapIndexEntry> entries;
    int32_t row = 1;
    for (int i = 0; i < full; ++i) {
      int32_t x0 = i * 1000;
      std::vector<GenPoint> pts;
      int n = i == 0 ? kPointsPerLeaf : 2;
      for (int k = 0; k < n; ++k) pts.push_back({x0 + k * 2, k % 7, uint32_t(row++)});
      IRect rect = R(x0, 0, x0 + (n - 1) * 2, 6);
      entries.push_back({rect, PointLeaf({x0 + 50, 3}, pts)});
    }
    SetRoot(Node(entries), R(0, 0, (full - 1) * 1000 + 2, 6), 2);
    return row;
  }

  bool InsertPoint(int32_t row, int32_t x, int32_t y) {
    GeomObject object;
    GeomObjectInit(&object, kGeomPoint);
    object.u.point.position = {x, y};
    object.bounds = R(x, y, x, y);
    return MapIndexInsert(&cursor_, &map_, &object, row, 0, MemWrite, &ids_) != 0;
  }
  bool Check(MapIndexCheckResult* result) {
    int32_t last = int32_t(ids_.rows.size()) - 1;
    return MapIndexCheck(&map_, MemRead, &ids_, last, result) != 0;
  }
  std::set<int32_t> Search(IRect rect) {
    std::set<int32_t> rows;
    EXPECT_TRUE(MapIndexSearch(
        &map_, &rect,
        [](void* context, int32_t row, uint32_t, const IRect*) {
          static_cast<std::set<int32_t>*>(context)->insert(row);
          return 1;
        },
        &rows));
    return rows;
  }
  IPoint LeafBase(uint32_t position) {
    std::vector<uint8_t> b = Block(position);
    EXPECT_EQ(Get16(b.data()), kMapBlockObject);
    return {GetI32(&b[4]), GetI32(&b[8])};
  }
  MapIndexNode RootNode() {
    MapIndexNode node{};
    std::vector<uint8_t> b = Block(map_.rootBlock);
    EXPECT_TRUE(MapIndexNodeRead(&map_, b.data(), &node));
    return node;
  }

  MapFile map_{};
  MapHeader header_{};
  FileHandle table_ = 0;
  MemoryIds ids_{};
  MapIndexCursor cursor_{};
  MapBlockSlot* slot_ = nullptr;
  bool locked_ = false;
  bool cursorOpen_ = false;
};

// ----- the node layout -----------------------------------------------------------

TEST_F(MapIndexTest, NodesAreWrittenFieldByFieldAndReadBack) {
  map_.blockSize = 512;
  MapIndexNode node{};
  MapIndexEntry a{R(-5, -6, 7, 8), 1024};
  MapIndexEntry b{R(100, 0, 300, 10), 1536};
  MapIndexNodeInsert(&node, &a);
  MapIndexNodeInsert(&node, &b);
  std::vector<uint8_t> block(512, 0xEE);
  MapIndexNodeWrite(&map_, &node, block.data());
  EXPECT_EQ(Get16(&block[0]), 1);
  EXPECT_EQ(Get16(&block[2]), 2);
  // b's centre x (200) is larger: it comes first.
  const int32_t expect[2][5] = {{100, 0, 300, 10, 1536}, {-5, -6, 7, 8, 1024}};
  for (int i = 0; i < 2; ++i) {
    const uint8_t* p = &block[4 + 20 * size_t(i)];
    for (int f = 0; f < 4; ++f) EXPECT_EQ(GetI32(p + 4 * f), expect[i][f]) << i << " " << f;
    EXPECT_EQ(Get32(p + 16), uint32_t(expect[i][4]));
  }
  EXPECT_TRUE(std::all_of(block.begin() + 44, block.end(), [](uint8_t c) { return c == 0; }));
  MapIndexNode back{};
  ASSERT_TRUE(MapIndexNodeRead(&map_, block.data(), &back));
  ASSERT_EQ(back.count, 2);
  EXPECT_TRUE(Same(back.entries[0].rect, b.rect));
  EXPECT_EQ(back.entries[1].child, 1024u);
  EXPECT_EQ(MapIndexNodeCapacity(&map_), 25);
}

TEST_F(MapIndexTest, DamagedNodesAreRefused) {
  map_.blockSize = 512;
  struct Case {
    const char* name;
    uint16_t kind;
    uint16_t count;
    IRect rect;
    uint32_t child;
  } cases[] = {
      {"object block", 2, 1, R(0, 0, 1, 1), 1024},
      {"no entries", 1, 0, R(0, 0, 1, 1), 1024},
      {"26 entries in 512 bytes", 1, 26, R(0, 0, 1, 1), 1024},
      {"count far beyond the block", 1, 0xFFFF, R(0, 0, 1, 1), 1024},
      {"inverted rectangle", 1, 1, R(5, 0, 1, 1), 1024},
      {"child 0", 1, 1, R(0, 0, 1, 1), 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block(512, 0);
    Put16(&block[0], c.kind);
    Put16(&block[2], c.count);
    for (int i = 0; i < 25; ++i) {
      uint8_t* p = &block[4 + 20 * size_t(i)];
      Put32(p, uint32_t(c.rect.x1));
      Put32(p + 4, uint32_t(c.rect.y1));
      Put32(p + 8, uint32_t(c.rect.x2));
      Put32(p + 12, uint32_t(c.rect.y2));
      Put32(p + 16, c.child);
    }
    ErrorClear();
    MapIndexNode node{};
    EXPECT_FALSE(MapIndexNodeRead(&map_, block.data(), &node)) << c.name;
    EXPECT_TRUE(Pushed(kErrMapDamaged)) << c.name;
  }
  // 25 entries are a full node, not a damaged one.
  std::vector<uint8_t> full(512, 0);
  Put16(&full[0], 1);
  Put16(&full[2], 25);
  for (int i = 0; i < 25; ++i) Put32(&full[4 + 20 * size_t(i) + 16], 1024);
  MapIndexNode node{};
  EXPECT_TRUE(MapIndexNodeRead(&map_, full.data(), &node));
}

TEST_F(MapIndexTest, EntriesAreOrderedByCentreXLargestFirstNewBeforeEqual) {
  MapIndexNode node{};
  const MapIndexEntry entries[] = {
      {R(0, 0, 10, 0), 1},   // centre 5
      {R(20, 0, 40, 0), 2},  // centre 30
      {R(-10, 0, 0, 0), 3},  // centre -5
      {R(4, 0, 6, 0), 4},    // centre 5, before the earlier 5
      {R(30, 0, 30, 0), 5},  // centre 30, before the earlier 30
  };
  for (const MapIndexEntry& e : entries) MapIndexNodeInsert(&node, &e);
  const uint32_t order[] = {5, 2, 4, 1, 3};
  ASSERT_EQ(node.count, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(node.entries[i].child, order[i]) << i;
}

// ----- insertion into hand-laid trees --------------------------------------

TEST_F(MapIndexTest, TheFirstObjectMakesARootObjectBlockOfDepthOne) {
  Create();
  GeomObject line;
  GeomObjectInit(&line, kGeomLine);
  line.u.line = {-300, 40, 500, 90};
  line.bounds = R(-300, 40, 500, 90);
  ASSERT_TRUE(MapIndexInsert(&cursor_, &map_, &line, 7, 0, MemWrite, &ids_));
  EXPECT_EQ(map_.indexDepth, 1);
  EXPECT_EQ(map_.rootBlock, 1024u);
  EXPECT_TRUE(Same(map_.root, R(-300, 40, 500, 90)));
  IPoint base = LeafBase(1024);
  EXPECT_EQ(base.x, 100);
  EXPECT_EQ(base.y, 65);
  EXPECT_EQ(ids_.rows[7], 1024u + 20);
  std::vector<uint8_t> b = Block(1024);
  EXPECT_EQ(Get32(&b[21]), 7u);  // the row word
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, 1u);
}

TEST_F(MapIndexTest, LeastGrowthChoosesTheLeafAndEqualGrowthTheLargerArea) {
  Create();
  // Three leaves; a point at (5, 5) grows neither A nor B, and B is larger.
  uint32_t a = PointLeaf({5, 5}, {{0, 0, 1}, {10, 10, 2}});
  uint32_t b = PointLeaf({10, 10}, {{0, 0, 3}, {20, 20, 4}});
  uint32_t c = PointLeaf({500, 500}, {{400, 400, 5}, {600, 600, 6}});
  uint32_t root = Node({{R(0, 0, 10, 10), a}, {R(0, 0, 20, 20), b}, {R(400, 400, 600, 600), c}});
  SetRoot(root, R(0, 0, 600, 600), 2);
  ASSERT_TRUE(InsertPoint(7, 5, 5));
  EXPECT_EQ(ids_.rows[7] - ids_.rows[7] % 512, b);
  // Near c but outside every leaf: c grows least.
  ASSERT_TRUE(InsertPoint(8, 610, 590));
  EXPECT_EQ(ids_.rows[8] - ids_.rows[8] % 512, c);
  MapIndexNode node = RootNode();
  bool grown = false;
  for (int i = 0; i < node.count; ++i) {
    if (node.entries[i].child == c) grown = Same(node.entries[i].rect, R(400, 400, 610, 600));
  }
  EXPECT_TRUE(grown);
  EXPECT_TRUE(Same(map_.root, R(0, 0, 610, 600)));
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, 8u);
}

TEST_F(MapIndexTest, AFullSquareLeafSplitsOnYAtItsMiddle) {
  Create();
  // 49 points in (0, 0)..(100, 100): the 50th does not fit.
  std::vector<GenPoint> pts;
  for (int i = 0; i < kPointsPerLeaf; ++i) {
    pts.push_back({(i * 37) % 101, (i * 53) % 101, uint32_t(i + 1)});
  }
  pts[0] = {0, 0, 1};
  pts[1] = {100, 100, 2};
  uint32_t leaf = PointLeaf({50, 50}, pts);
  SetRoot(leaf, R(0, 0, 100, 100), 1);
  ASSERT_EQ(pts[20].y, 50);  // the one record on the split line
  const int toggle = MapIndexTieToggle();
  ASSERT_TRUE(InsertPoint(50, 30, 10));
  EXPECT_NE(MapIndexTieToggle(), toggle);
  ASSERT_EQ(map_.indexDepth, 2);
  MapIndexNode node = RootNode();
  ASSERT_EQ(node.count, 2);
  // The new object's side (below y 50) has the new block; the old position
  // holds the other side. Base points: the centres of the halves.
  uint32_t newBlock = ids_.rows[50] - ids_.rows[50] % 512;
  EXPECT_NE(newBlock, leaf);
  IPoint low = LeafBase(newBlock);
  IPoint high = LeafBase(leaf);
  EXPECT_EQ(low.x, 50);
  EXPECT_EQ(low.y, 25);
  EXPECT_EQ(high.x, 50);
  EXPECT_EQ(high.y, 75);
  // The tie went to the side the toggle stood for.
  EXPECT_EQ(ids_.rows[21] - ids_.rows[21] % 512, toggle == 0 ? newBlock : leaf);
  for (int i = 0; i < node.count; ++i) {
    const IRect& r = node.entries[i].rect;
    if (node.entries[i].child == newBlock) {
      EXPECT_LE(r.y2, 50);
    } else {
      EXPECT_EQ(node.entries[i].child, leaf);
      EXPECT_GE(r.y1, 50);
    }
  }
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, 50u);
  EXPECT_EQ(result.leaves, 2u);
}

TEST_F(MapIndexTest, AWideLeafSplitsOnX) {
  Create();
  std::vector<GenPoint> pts;
  for (int i = 0; i < kPointsPerLeaf; ++i) pts.push_back({i * 10, i % 2, uint32_t(i + 1)});
  uint32_t leaf = PointLeaf({240, 0}, pts);
  SetRoot(leaf, R(0, 0, 480, 1), 1);
  ASSERT_TRUE(InsertPoint(50, 470, 1));
  ASSERT_EQ(map_.indexDepth, 2);
  uint32_t newBlock = ids_.rows[50] - ids_.rows[50] % 512;
  IPoint high = LeafBase(newBlock);
  IPoint low = LeafBase(leaf);
  EXPECT_EQ(high.x, (240 + 480) / 2);
  EXPECT_EQ(low.x, 120);
  EXPECT_EQ(high.y, 0);
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
}

TEST_F(MapIndexTest, ASplitWithEveryRecordOnTheNewSideFreesTheOtherBlock) {
  Create();
  // The leaf's rectangle reaches y 100 but every record lies below y 10;
  // four of them are marked removed and are dropped by the split.
  std::vector<GenPoint> pts;
  for (int i = 0; i < kPointsPerLeaf; ++i) {
    uint32_t word = uint32_t(i + 1) | (i % 12 == 3 ? kMapRowRemoved : 0);
    pts.push_back({i * 2, i % 10, word});
  }
  uint32_t leaf = PointLeaf({50, 5}, pts);
  SetRoot(leaf, R(0, 0, 100, 100), 1);
  ASSERT_TRUE(InsertPoint(50, 50, 5));
  EXPECT_EQ(map_.indexDepth, 1);
  EXPECT_NE(map_.rootBlock, leaf);
  EXPECT_EQ(map_.freeHead, leaf);  // not the file's last block: chained
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, 46u);
  EXPECT_EQ(result.removed, 0u);
  EXPECT_EQ(Search(R(-1000, -1000, 1000, 1000)).count(4), 0u);
}

TEST_F(MapIndexTest, ANodeOf24TakesASecondEntry) {
  Create();
  int32_t row = FillRootNode(24);
  ASSERT_TRUE(InsertPoint(row, 50, 3));
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, uint32_t(row));
  EXPECT_EQ(map_.indexDepth, 2);
  EXPECT_EQ(RootNode().count, 25);
}

TEST_F(MapIndexTest, ANodeOf25SplitsOnASecondEntryAndTheTreeGrowsALevel) {
  Create();
  int32_t row = FillRootNode(25);
  ASSERT_TRUE(InsertPoint(row, 50, 3));
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, uint32_t(row));
  EXPECT_EQ(map_.indexDepth, 3);
  EXPECT_EQ(result.nodes, 3u);
  MapIndexNode top = RootNode();
  ASSERT_EQ(top.count, 2);
  int total = 0;
  IRect both = top.entries[0].rect;
  IRectUnion(&both, &top.entries[1].rect);
  EXPECT_TRUE(Same(map_.root, both));
  for (int i = 0; i < 2; ++i) {
    MapIndexNode half{};
    std::vector<uint8_t> b = Block(top.entries[i].child);
    ASSERT_TRUE(MapIndexNodeRead(&map_, b.data(), &half));
    EXPECT_GE(half.count, 2);
    total += half.count;
  }
  EXPECT_EQ(total, 26);
}

TEST_F(MapIndexTest, DamagedTreesFailTheCheckTheWalkAndInsertsCleanly) {
  Create();
  uint32_t leaf = PointLeaf({0, 0}, {{0, 0, 1}, {10, 10, 2}});
  uint32_t self = 0;
  {
    // A node whose only entry is itself.
    MapIndexNode node{};
    node.count = 1;
    uint32_t at = 0;
    ASSERT_TRUE(MapBlockAlloc(&map_, &at));
    node.entries[0] = {R(0, 0, 10, 10), at};
    MapIndexNodeWrite(&map_, &node, slot_->bytes);
    ASSERT_TRUE(MapBlockWrite(&map_, slot_, at));
    self = at;
  }
  uint32_t overLeaf = Node({{R(0, 0, 10, 10), leaf}});
  uint32_t beyond = Node({{R(0, 0, 10, 10), 512u * 100000u}});
  struct Case {
    const char* name;
    uint32_t root;
    uint8_t depth;
  } cases[] = {
      {"a node below itself", self, 3},       {"an object block where a node belongs", overLeaf, 3},
      {"a child beyond the file", beyond, 2}, {"a node where a leaf belongs", overLeaf, 1},
      {"depth without a root", 0, 2},
  };
  for (const Case& c : cases) {
    SetRoot(c.root, R(0, 0, 10, 10), c.depth);
    MapIndexCheckResult result;
    EXPECT_FALSE(Check(&result)) << c.name;
    EXPECT_NE(result.message[0], 0) << c.name;
    ErrorClear();
    EXPECT_FALSE(MapIndexSearch(
        &map_, &map_.root, [](void*, int32_t, uint32_t, const IRect*) { return 1; }, nullptr))
        << c.name;
    ErrorClear();
    EXPECT_FALSE(InsertPoint(3, 5, 5)) << c.name;
    EXPECT_TRUE(Pushed(kErrMapDamaged)) << c.name;
  }
}

// ----- removal --------------------------------------------------------------

TEST_F(MapIndexTest, ARemovedRecordIsMarkedAndNotRemovedTwice) {
  Create();
  for (int32_t row = 1; row <= 3; ++row) ASSERT_TRUE(InsertPoint(row, row * 10, 0));
  uint32_t position = ids_.rows[2];
  int found = 0;
  int kind = 0;
  MapObjectCounts counts{};
  ASSERT_TRUE(MapRecordRemoveByRow(&cursor_, &map_, 2, MemRead, &ids_, &found, &kind, &counts));
  EXPECT_EQ(found, 1);
  EXPECT_EQ(kind, kGeomPoint);
  EXPECT_EQ(counts.points, 1u);
  std::vector<uint8_t> b = Block(position - position % 512);
  EXPECT_EQ(Get32(&b[position % 512 + 1]), 2u | kMapRowRemoved);
  // The record stays where it was, the row word carries the mark: removing
  // it again is refused, and a row without an entry is no removal.
  MemHandle handle = nullptr;
  GeomObject* object = nullptr;
  ASSERT_TRUE(GeomObjectAlloc(&handle, &object, kGeomPoint, 0));
  int styleFailure = 0;
  EXPECT_FALSE(MapObjectReadByRow(&map_, cursor_.object, cursor_.coord, 2, 1, MemRead, &ids_,
                                  nullptr, nullptr, object, &styleFailure));
  EXPECT_TRUE(MapObjectReadByRow(&map_, cursor_.object, cursor_.coord, 3, 1, MemRead, &ids_,
                                 nullptr, nullptr, object, &styleFailure));
  GeomObjectDestroy(handle);
  ErrorClear();
  EXPECT_FALSE(MapRecordRemove(&map_, slot_, position, 2, nullptr, nullptr));
  EXPECT_TRUE(Pushed(kErrMapDamaged));
  ids_.rows[2] = 0;
  ASSERT_TRUE(MapRecordRemoveByRow(&cursor_, &map_, 2, MemRead, &ids_, &found, &kind, &counts));
  EXPECT_EQ(found, 0);
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, 2u);
  EXPECT_EQ(result.removed, 1u);
  EXPECT_EQ(Search(R(-100, -100, 100, 100)), (std::set<int32_t>{1, 3}));
  // Clearing the mark brings it back.
  ASSERT_TRUE(MapRecordMark(&map_, position, 0));
  ids_.rows[2] = position;
  EXPECT_EQ(Search(R(-100, -100, 100, 100)), (std::set<int32_t>{1, 2, 3}));
}

TEST_F(MapIndexTest, MapsWithCodesAbove72RefuseChangesButAreStillWalked) {
  Create();
  ASSERT_TRUE(InsertPoint(1, 0, 0));
  map_.highestCode = 80;
  GeomObject point;
  GeomObjectInit(&point, kGeomPoint);
  point.bounds = R(5, 5, 5, 5);
  int found = 0;
  struct Op {
    const char* name;
    std::function<int()> run;
  } ops[] = {
      {"insert",
       [&] { return int(MapIndexInsert(&cursor_, &map_, &point, 2, 0, MemWrite, &ids_)); }},
      {"replace",
       [&] {
         return int(MapIndexReplace(&cursor_, &map_, &point, 1, 0, MemWrite, MemRead, &ids_));
       }},
      {"delete",
       [&] {
         return int(
             MapRecordRemoveByRow(&cursor_, &map_, 1, MemRead, &ids_, &found, nullptr, nullptr));
       }},
  };
  for (const Op& op : ops) {
    ErrorClear();
    EXPECT_FALSE(op.run()) << op.name;
    EXPECT_TRUE(Pushed(kErrMapForeignCodes)) << op.name;
  }
  EXPECT_EQ(Search(R(-1, -1, 1, 1)), (std::set<int32_t>{1}));
  MapIndexCheckResult result;
  EXPECT_TRUE(Check(&result)) << result.message;
}

TEST_F(MapIndexTest, AFailingIdWriterFailsTheInsert) {
  Create();
  GeomObject point;
  GeomObjectInit(&point, kGeomPoint);
  point.bounds = R(5, 5, 5, 5);
  EXPECT_FALSE(MapIndexInsert(&cursor_, &map_, &point, 1, 0, FailingWrite, &ids_));
}

TEST_F(MapIndexTest, TheCheckFindsWhatDoesNotHold) {
  Create();
  for (int32_t row = 1; row <= 60; ++row) ASSERT_TRUE(InsertPoint(row, row * 7, row % 5));
  MapIndexCheckResult result;
  ASSERT_TRUE(Check(&result)) << result.message;
  // An .ID entry pointing elsewhere, a row whose entry has no live record,
  // a root rectangle that misses an object.
  uint32_t kept = ids_.rows[5];
  ids_.rows[5] = ids_.rows[6];
  EXPECT_FALSE(Check(&result));
  ids_.rows[5] = kept;
  ASSERT_TRUE(MapRecordMark(&map_, kept, kMapRowRemoved));
  EXPECT_FALSE(Check(&result));
  EXPECT_NE(std::string(result.message).find("row 5"), std::string::npos) << result.message;
  ASSERT_TRUE(MapRecordMark(&map_, kept, 0));
  ASSERT_TRUE(Check(&result)) << result.message;
  IRect root = map_.root;
  map_.root.x2 -= 1;
  EXPECT_FALSE(Check(&result));
  map_.root = root;
  EXPECT_TRUE(Check(&result)) << result.message;
}

// ----- a long mixed run ------------------------------------------------------

// What the test remembers of each live row's object.
struct Kept {
  int kind;
  IRect bounds;
  std::vector<IPoint> points;  // the position, the line's ends, or every vertex
  PenStyle pen;
};

std::vector<IPoint> PointsOf(const GeomObject* object) {
  std::vector<IPoint> out;
  switch (object->kind) {
    case kGeomPoint:
      out.push_back(object->u.point.position);
      break;
    case kGeomLine:
      out.push_back({object->u.line.x1, object->u.line.y1});
      out.push_back({object->u.line.x2, object->u.line.y2});
      break;
    case kGeomPolyline:
    case kGeomRegion: {
      if (object->u.poly.partCount != 1) return {};
      GeomPart* part = GeomParts(object);
      out.resize(size_t(part->pointCount));
      GeomPartGetPoints(object, 0, 0, part->pointCount, out.data(), nullptr, nullptr);
      break;
    }
    default:
      break;
  }
  return out;
}

class MixedRun {
 public:
  explicit MixedRun(uint32_t seed) : rng_(seed) {}

  // A small object near one of a few hundred cluster centres, so that leaves
  // fill and split where objects crowd and stay sparse elsewhere.
  void Make(GeomObject* object, Kept* kept) {
    if (centres_.empty()) {
      for (int i = 0; i < 300; ++i) centres_.push_back({Coord(900000), Coord(900000)});
    }
    const IPoint c = centres_[Pick(centres_.size())];
    auto near = [&](int32_t spread) { return IPoint{c.x + Coord(spread), c.y + Coord(spread)}; };
    const int kinds[] = {kGeomPoint,  kGeomLine, kGeomPolyline,
                         kGeomRegion, kGeomRect, kGeomEllipse};
    const int kind = kinds[Pick(6)];
    EXPECT_TRUE(GeomObjectReset(object, kind, 0));
    object->brush = StyleDefaults()->brush;
    kept->kind = kind;
    kept->points.clear();
    static const PenStyle pens[] = {{1, 2, 0, 0xFF0000}, {2, 2, 0, 0x00FF00}, {3, 5, 0, 0x0000FF}};
    object->pen = pens[Pick(3)];
    kept->pen = object->pen;
    switch (kind) {
      case kGeomPoint: {
        IPoint p = near(3000);
        object->u.point.position = p;
        object->bounds = {p.x, p.y, p.x, p.y};
        kept->points.push_back(p);
        break;
      }
      case kGeomLine: {
        IPoint a = near(3000), b = near(3000);
        object->u.line = {a.x, a.y, b.x, b.y};
        IRectFromPoints(&object->bounds, &a, &b);
        kept->points = {a, b};
        break;
      }
      case kGeomPolyline:
      case kGeomRegion: {
        int32_t n = 2 + int32_t(Pick(6));
        std::vector<IPoint> pts;
        for (int32_t i = 0; i < n; ++i) pts.push_back(near(5000));
        int32_t count = int32_t(pts.size());
        EXPECT_TRUE(GeomPartsSetAll(object, 1, &count, pts.data(), nullptr, nullptr));
        IRectSetEmpty(&object->bounds);
        for (const IPoint& p : pts) IRectAddPoint(&object->bounds, &p);
        GeomParts(object)->bounds = object->bounds;
        IRectCenter(&object->bounds, &object->u.poly.centroid);
        kept->points = PointsOf(object);  // a region's ring closed
        break;
      }
      default: {
        IPoint a = near(4000), b = near(4000);
        IRectFromPoints(&object->bounds, &a, &b);
        break;
      }
    }
    kept->bounds = object->bounds;
  }

  IRect Rect(int32_t half) {
    IPoint a{Coord(half), Coord(half)}, b{Coord(half), Coord(half)};
    IRect r;
    IRectFromPoints(&r, &a, &b);
    return r;
  }
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

 private:
  int32_t Coord(int32_t half) { return std::uniform_int_distribution<int32_t>(-half, half)(rng_); }

  std::mt19937 rng_;
  std::vector<IPoint> centres_;
};

bool SamePoints(const std::vector<IPoint>& a, const std::vector<IPoint>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto& p, auto& q) {
           return p.x == q.x && p.y == q.y;
         });
}

std::string PointsText(const std::vector<IPoint>& pts) {
  std::string out;
  for (const IPoint& p : pts) out += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
  return out;
}

int NoFilter(void*, const IRect*) { return 1; }

TEST_F(MapIndexTest, TwentyThousandMixedObjectsReplacedAndDeletedStayReachable) {
  Create();
  MixedRun run(34);
  std::map<int32_t, Kept> live;
  MemHandle handle = nullptr;
  GeomObject* object = nullptr;
  ASSERT_TRUE(GeomObjectAlloc(&handle, &object, kGeomPoint, 0));
  const int32_t rows = 20000;
  for (int32_t row = 1; row <= rows; ++row) {
    Kept kept;
    run.Make(object, &kept);
    ASSERT_TRUE(MapIndexInsert(&cursor_, &map_, object, row, 0, MemWrite, &ids_))
        << row << " error " << ErrorLastCode();
    live[row] = kept;
  }
  for (int i = 0; i < 2000; ++i) {
    int32_t row = int32_t(1 + run.Pick(size_t(rows)));
    Kept kept;
    run.Make(object, &kept);
    ASSERT_TRUE(MapIndexReplace(&cursor_, &map_, object, row, 0, MemWrite, MemRead, &ids_))
        << row << " error " << ErrorLastCode();
    live[row] = kept;
  }
  std::vector<int32_t> deleted;
  while (deleted.size() < 1000) {
    int32_t row = int32_t(1 + run.Pick(size_t(rows)));
    if (!live.count(row)) continue;
    int found = 0;
    ErrorClear();
    ASSERT_TRUE(
        MapRecordRemoveByRow(&cursor_, &map_, row, MemRead, &ids_, &found, nullptr, nullptr))
        << row << " error " << ErrorLastCode();
    ASSERT_EQ(found, 1);
    ids_.rows[size_t(row)] = 0;  // as the store does
    live.erase(row);
    deleted.push_back(row);
  }
  EXPECT_GE(map_.indexDepth, 3);

  MapIndexCheckResult result;
  ASSERT_TRUE(Check(&result)) << result.message;
  EXPECT_EQ(result.live, uint32_t(live.size()));
  EXPECT_EQ(result.depth, map_.indexDepth);
  RecordProperty("depth", int(result.depth));
  RecordProperty("nodes", int(result.nodes));
  RecordProperty("leaves", int(result.leaves));

  // Every live row reads back equal; deleted rows are gone.
  for (const auto& [row, kept] : live) {
    int styleFailure = 0;
    ASSERT_TRUE(MapObjectReadByRow(&map_, cursor_.object, cursor_.coord, row, 1, MemRead, &ids_,
                                   NoFilter, nullptr, object, &styleFailure))
        << row;
    EXPECT_EQ(object->kind, kept.kind) << row;
    EXPECT_TRUE(Same(object->bounds, kept.bounds)) << row;
    EXPECT_TRUE(SamePoints(PointsOf(object), kept.points))
        << row << " kind " << kept.kind << " " << PointsText(PointsOf(object)) << " want "
        << PointsText(kept.points);
    if (kept.kind != kGeomPoint) {
      EXPECT_TRUE(PenEqual(&object->pen, &kept.pen)) << row;
    }
  }
  for (int32_t row : deleted) {
    int styleFailure = 0;
    EXPECT_FALSE(MapObjectReadByRow(&map_, cursor_.object, cursor_.coord, row, 1, MemRead, &ids_,
                                    NoFilter, nullptr, object, &styleFailure))
        << row;
  }

  // Rectangles answered by walking the tree equal a scan of every live row.
  for (int i = 0; i < 50; ++i) {
    IRect rect = run.Rect(i < 25 ? 1000000 : 60000);
    std::set<int32_t> expect;
    for (const auto& [row, kept] : live) {
      if (IRectsOverlap(&kept.bounds, &rect)) expect.insert(row);
    }
    EXPECT_EQ(Search(rect), expect) << i;
  }
  GeomObjectDestroy(handle);
}

TEST_F(MapIndexTest, ThroughTheIdFileSplitsKeepStyleUsesAndTheCheckHolds) {
  Create();
  IdFileAccess ids{};
  ASSERT_TRUE(IdFileCreate(&ids, table_));
  MixedRun run(7);
  std::map<int32_t, Kept> live;
  MemHandle handle = nullptr;
  GeomObject* object = nullptr;
  ASSERT_TRUE(GeomObjectAlloc(&handle, &object, kGeomPoint, 0));
  const int32_t rows = 3000;
  for (int32_t row = 1; row <= rows; ++row) {
    run.Make(object, &live[row]);
    ASSERT_TRUE(MapIndexInsert(&cursor_, &map_, object, row, 0, ids.write, &ids)) << row;
  }
  for (int i = 0; i < 300; ++i) {
    int32_t row = int32_t(1 + run.Pick(size_t(rows)));
    run.Make(object, &live[row]);
    ASSERT_TRUE(MapIndexReplace(&cursor_, &map_, object, row, 0, ids.write, ids.read, &ids));
  }
  for (int i = 0; i < 200; ++i) {
    int32_t row = int32_t(1 + run.Pick(size_t(rows)));
    int found = 0;
    MapObjectCounts counts{};
    ASSERT_TRUE(
        MapRecordRemoveByRow(&cursor_, &map_, row, ids.read, &ids, &found, nullptr, &counts));
    EXPECT_EQ(found, live.count(row) ? 1 : 0) << row;
    if (!found) continue;
    EXPECT_EQ(counts.points + counts.lines + counts.regions + counts.others, 1u);
    ASSERT_TRUE(ids.write(row, 0, &ids));
    live.erase(row);
  }
  EXPECT_GE(map_.indexDepth, 2);
  MapIndexCheckResult result;
  ASSERT_TRUE(MapIndexCheck(&map_, ids.read, &ids, rows, &result)) << result.message;
  EXPECT_EQ(result.live, uint32_t(live.size()));

  // Records that moved in splits kept their styles' use counts: each pen is
  // used by exactly the live objects that carry it (points carry none).
  std::map<uint32_t, uint32_t> expect;
  for (const auto& [row, kept] : live) {
    if (kept.kind == kGeomPoint) continue;
    uint8_t index = 0;
    ASSERT_TRUE(MapPenIndex(&map_, &kept.pen, &index, 0));
    ASSERT_GT(index, 0);
    ++expect[index];
  }
  ASSERT_EQ(expect.size(), 3u);
  for (const auto& [index, uses] : expect) {
    uint32_t count = 0;
    ASSERT_TRUE(MapStyleUseCount(&map_, map_.pens[index - 1].position, 0, &count));
    EXPECT_EQ(count, uses) << int(index);
  }
  GeomObjectDestroy(handle);
  ids.lastRow = rows;
  EXPECT_TRUE(IdFileFlush(&ids));
}

}  // namespace
