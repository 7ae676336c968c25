#include "boundary/spindex.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/pagefile.h"
#include "boundary/gsbformat.h"
#include "boundary/polysrch.h"
#include "tests/boundary/gsbfile_reader.h"
#include "tests/boundary/search_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using searchtest::Obj;
using searchtest::Square;

// A file of many objects: squares of all sizes, points, and a few regions
// that span most of the extent, so that the tree has two levels and its
// leaves get grids.
std::vector<Obj> ManyObjects(int count, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int32_t> x(-120000000, -70000000), y(25000000, 49000000);
  std::uniform_int_distribution<int32_t> side(1, 400000);
  std::vector<Obj> objects;
  for (int i = 0; i < count; ++i) {
    const std::string name = "o" + std::to_string(i);
    if (i % 7 == 0)
      objects.push_back(searchtest::Point(name, x(rng), y(rng)));
    else if (i % 500 == 1)
      objects.push_back(searchtest::Region(name, {Square(-119000000, 26000000, 20000000)}));
    else
      objects.push_back(searchtest::Region(name, {Square(x(rng), y(rng), side(rng))}));
  }
  return objects;
}

struct Index {
  explicit Index(const std::string& path) : file(error, path.c_str(), QFile::kRead) {
    gsbtest::File f(path);
    index = std::make_unique<rtSpatialIndex>(file, f.SpatialRoot(), error);
  }
  pipError error;
  QFile file;
  std::unique_ptr<rtSpatialIndex> index;
};

std::vector<uint64_t> Walk(SpatialIndexEnum& e, const SpatialRect& r) {
  std::vector<uint64_t> hits;
  uint64_t offset = 0;
  for (bool more = e.First(r, &offset); more; more = e.Next(&offset)) hits.push_back(offset);
  return hits;
}

bool Meets(const gsbtest::Rect& e, const SpatialRect& r) {
  return !(r.x2 < e.xmin || r.x1 > e.xmax || r.y2 < e.ymin || r.y1 > e.ymax);
}

// The leaves' entries that meet r, in their stored order.
std::vector<uint64_t> Expected(const std::vector<std::pair<gsbtest::Rect, uint64_t>>& leaves,
                               const SpatialRect& r) {
  std::vector<uint64_t> hits;
  for (const auto& [rect, offset] : leaves)
    if (Meets(rect, r)) hits.push_back(offset);
  return hits;
}

std::vector<SpatialRect> Queries(const std::vector<std::pair<gsbtest::Rect, uint64_t>>& leaves,
                                 int count, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int32_t> x(-125000000, -65000000), y(20000000, 52000000);
  std::uniform_int_distribution<int32_t> w(0, 3000000);
  std::vector<SpatialRect> queries;
  for (int i = 0; i < count; ++i) {
    const int32_t qx = x(rng), qy = y(rng);
    if (i % 3 == 0)
      queries.push_back({qx, qy, qx, qy});
    else
      queries.push_back({qx, qy, qx + w(rng), qy + w(rng)});
  }
  // Rectangles that touch entries only at a border, from each side.
  for (size_t i = 0; i < leaves.size(); i += leaves.size() / 20) {
    const gsbtest::Rect& e = leaves[i].first;
    queries.push_back({e.xmax, e.ymin, e.xmax + 1000, e.ymin});
    queries.push_back({e.xmin - 1000, e.ymax, e.xmin, e.ymax + 1000});
  }
  return queries;
}

class RtreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testsupport::TempDir;
    path_ = folder_->File("many.gsb");
    ASSERT_TRUE(searchtest::BuildFile(path_, ManyObjects(5000, 7), 0));
  }
  static void TearDownTestSuite() { delete folder_; }

  // A copy of the file with page bytes changed by patch (page bytes, then
  // the check value set again unless keepCheckValue).
  using Patch = void (*)(uint8_t* page, uint64_t number);
  std::string Patched(uint64_t page, Patch patch, bool keepCheckValue = false) {
    std::string bytes = testsupport::ReadAll(path_);
    auto* p = reinterpret_cast<uint8_t*>(bytes.data()) + page * 32768;
    patch(p, page);
    if (!keepCheckValue) QPageSetCheckValue(p, 32768);
    return temp_.Write("patched.gsb", bytes);
  }

  static testsupport::TempDir* folder_;
  static std::string path_;
  testsupport::TempDir temp_;
};
testsupport::TempDir* RtreeTest::folder_ = nullptr;
std::string RtreeTest::path_;

TEST_F(RtreeTest, HitsAreTheMeetingLeafEntriesInStoredOrder) {
  gsbtest::File f(path_);
  std::map<int, std::vector<gsbtest::Page>> levels;
  const auto leaves = f.WalkSpatialIndex(&levels);
  ASSERT_EQ(levels.size(), 2u) << "the tree should have a root above its leaves";
  Index index(path_);
  ASSERT_TRUE(index.index->IsOpen());
  auto e = index.index->CreateEnum();
  for (const SpatialRect& r : Queries(leaves, 3000, 11)) {
    ASSERT_EQ(Walk(*e, r), Expected(leaves, r))
        << r.x1 << " " << r.y1 << " " << r.x2 << " " << r.y2;
    EXPECT_FALSE(e->Failed());
  }
  // The whole extent, and a rectangle that meets nothing.
  EXPECT_EQ(Walk(*e, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}).size(), leaves.size());
  EXPECT_TRUE(Walk(*e, {0, 0, 10, 10}).empty());
}

TEST_F(RtreeTest, TwoEnumeratorsWalkIndependently) {
  const auto leaves = gsbtest::File(path_).WalkSpatialIndex();
  Index index(path_);
  auto a = index.index->CreateEnum();
  auto b = index.index->CreateEnum();
  const SpatialRect ra{-120000000, 25000000, -100000000, 40000000};
  const SpatialRect rb{-90000000, 30000000, -70000000, 49000000};
  std::vector<uint64_t> ha, hb;
  uint64_t oa = 0, ob = 0;
  bool ma = a->First(ra, &oa), mb = b->First(rb, &ob);
  while (ma || mb) {
    if (ma) ha.push_back(oa), ma = a->Next(&oa);
    if (mb) hb.push_back(ob), mb = b->Next(&ob);
  }
  EXPECT_EQ(ha, Expected(leaves, ra));
  EXPECT_EQ(hb, Expected(leaves, rb));
}

// Budgets that keep one page, a few, or every page: the walks yield what
// the unbudgeted reader yields, also when pages give way under walks that
// are half done, and what is kept stays within the budget.
TEST_F(RtreeTest, EveryCacheBudgetGivesTheSameHits) {
  const std::string path = temp_.File("pages.gsb");
  ASSERT_TRUE(searchtest::BuildFile(path, ManyObjects(20000, 8), 0));
  gsbtest::File f(path);
  std::map<int, std::vector<gsbtest::Page>> levels;
  const auto leaves = f.WalkSpatialIndex(&levels);
  ASSERT_GT(levels[0].size(), 4u);
  const auto queries = Queries(leaves, 400, 13);
  const SpatialRect wide{-120000000, 25000000, -70000000, 49000000};
  struct Case {
    const char* name;
    uint64_t budget;
  };
  const Case cases[] = {
      {"one page", 0},
      {"about three pages", 3 * 120000},
      {"the default", rtIndex::kDefaultCacheBudget},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Index index(path);
    rtIndex& rt = index.index->Index();
    rt.SetCacheBudget(c.budget);
    EXPECT_EQ(rt.CacheBudget(), c.budget);
    auto a = index.index->CreateEnum();
    auto b = index.index->CreateEnum();
    for (size_t i = 0; i + 1 < queries.size(); i += 2) {
      // a walks a wide rectangle step by step while b runs whole queries.
      std::vector<uint64_t> ha;
      uint64_t offset = 0;
      bool more = a->First(wide, &offset);
      for (size_t q = i; more; more = a->Next(&offset)) {
        ha.push_back(offset);
        if (ha.size() % 997 == 0 && q < i + 2) {
          ASSERT_EQ(Walk(*b, queries[q]), Expected(leaves, queries[q]));
          ++q;
        }
        if (rt.CachedPages() > 1) {
          ASSERT_LE(rt.CachedBytes(), c.budget);
        }
      }
      ASSERT_FALSE(a->Failed());
      ASSERT_EQ(ha, Expected(leaves, wide));
    }
    if (c.budget == 0) {
      EXPECT_EQ(rt.CachedPages(), 1u);
    }
    if (c.budget == rtIndex::kDefaultCacheBudget) {
      // Everything fits: each page was decoded once.
      size_t pages = 0;
      for (const auto& [level, list] : levels) pages += list.size();
      EXPECT_EQ(rt.CachedPages(), pages);
      EXPECT_EQ(rt.Decodes(), pages);
    }
    // Lowering the budget lets pages go at once, and the hits stay.
    rt.SetCacheBudget(0);
    EXPECT_EQ(rt.CachedPages(), 0u);
    EXPECT_EQ(Walk(*a, wide), Expected(leaves, wide));
  }
}

// Readers of one shared store on threads of their own, under budgets that
// make pages give way while other readers are in the middle of walks: every
// walk yields what the file holds, and pages are decoded again rather than
// read after they were freed (the sanitizer builds would see that).
TEST_F(RtreeTest, ReadersOnThreadsShareOneStore) {
  const std::string path = temp_.File("shared.gsb");
  ASSERT_TRUE(searchtest::BuildFile(path, ManyObjects(20000, 8), 0));
  gsbtest::File f(path);
  const auto leaves = f.WalkSpatialIndex(nullptr);
  const auto queries = Queries(leaves, 120, 17);
  for (const uint64_t budget : {uint64_t(0), uint64_t(3 * 120000), rtIndex::kDefaultCacheBudget}) {
    SCOPED_TRACE(budget);
    pipError storeError;
    QFile file(storeError, path.c_str(), QFile::kShared);
    auto store = std::make_shared<rtPageStore>(file, f.SpatialRoot());
    ASSERT_TRUE(store->IsOpen());
    store->SetBudget(budget);
    constexpr int kThreads = 4;
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        pipError error;
        rtSpatialIndex index(store, error);
        auto e = index.CreateEnum();
        for (size_t q = size_t(t); q < queries.size(); q += 2)
          wrong[size_t(t)] += Walk(*e, queries[q]) != Expected(leaves, queries[q]);
      });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[size_t(t)], 0) << "thread " << t;
    if (budget == rtIndex::kDefaultCacheBudget) {
      EXPECT_EQ(store->Decodes(), store->CachedPages()) << "each page decoded once";
    }
  }
}

TEST_F(RtreeTest, ARootThatIsALeafEnumeratesAlone) {
  const std::string path = temp_.File("small.gsb");
  ASSERT_TRUE(searchtest::BuildFile(
      path, {searchtest::Region("a", {Square(0, 0, 10)}), searchtest::Point("b", 5, 5)}, 0));
  Index index(path);
  ASSERT_TRUE(index.index->IsOpen());
  EXPECT_EQ(index.index->Index().RootLevel(), 0);
  auto e = index.index->CreateEnum();
  EXPECT_EQ(Walk(*e, {5, 5, 5, 5}).size(), 2u);
  EXPECT_EQ(Walk(*e, {11, 11, 20, 20}).size(), 1u) << "the region's rectangle is widened by 1";
}

// Entries stored with their corners swapped meet what the whole-page test
// says they meet, through the grid as without it.
TEST_F(RtreeTest, GridsAnswerAsAScanOfThePage) {
  gsbtest::File f(path_);
  const uint64_t leaf = f.PageAt(f.SpatialRoot() / 32768).entries[1].second;
  const std::string path = Patched(leaf, [](uint8_t* p, uint64_t) {
    for (int i = 0; i < 1000; i += 37) {
      uint8_t* e = p + 24 + 24 * i;
      uint8_t x1[4];
      std::memcpy(x1, e, 4);
      std::memcpy(e, e + 8, 4);
      std::memcpy(e + 8, x1, 4);
    }
  });
  // The parents no longer cover their children: expect what a walk sees.
  gsbtest::File patched(path);
  const gsbtest::Page root = patched.PageAt(patched.SpatialRoot() / 32768);
  Index index(path);
  auto e = index.index->CreateEnum();
  const auto queries = Queries(patched.WalkSpatialIndex(), 2000, 5);
  for (const SpatialRect& r : queries) {
    std::vector<uint64_t> expected;
    for (const auto& [rect, child] : root.entries)
      if (Meets(rect, r))
        for (const auto& [entry, offset] : patched.PageAt(child).entries)
          if (Meets(entry, r)) expected.push_back(offset);
    ASSERT_EQ(Walk(*e, r), expected);
  }
}

struct Damage {
  const char* what;
  bool root;  // patch the root page, else its first child
  void (*patch)(uint8_t* page, uint64_t number);
  bool keepCheckValue;
};

TEST_F(RtreeTest, DamagedPagesEndTheWalkWithAnError) {
  const Damage cases[] = {
      {"count beyond the page", false, [](uint8_t* p, uint64_t) { QStoreU16LE(p, 1400); }, false},
      {"a leaf one level up", false, [](uint8_t* p, uint64_t) { QStoreU16LE(p + 6, 1); }, false},
      {"another page size", false, [](uint8_t* p, uint64_t) { QStoreU16LE(p + 4, 16384); }, false},
      {"check value", false, [](uint8_t* p, uint64_t) { p[100] ^= 0x40; }, true},
      {"a child that is the root itself", true,
       [](uint8_t* p, uint64_t self) { QStoreU64LE(p + 24 + 16, self); }, false},
  };
  gsbtest::File f(path_);
  const uint64_t root = f.SpatialRoot() / 32768;
  for (const Damage& d : cases) {
    const uint64_t page = d.root ? root : f.PageAt(root).entries[0].second;
    const std::string path = Patched(page, d.patch, d.keepCheckValue);
    Index index(path);
    ASSERT_TRUE(index.index->IsOpen()) << d.what;
    auto e = index.index->CreateEnum();
    Walk(*e, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
    EXPECT_TRUE(e->Failed()) << d.what;
    EXPECT_EQ(index.error.Code(), Q_ERROR_CHECKSUM) << d.what;
    EXPECT_NE(std::string(index.error.Detail()).find("Spatial index page"), std::string::npos)
        << d.what;
    // The nearest search's walk meets the damage as well (its window of
    // reach covers the whole file).
    searchtest::Context c;
    searchtest::OpenFile open(c, path);
    ASSERT_TRUE(open.ok()) << d.what;
    ASSERT_EQ(pipObjectSetSearchDistance(open.handle(), kSearchDistanceMax), 1);
    char name[128];
    EXPECT_EQ(pipObjectFindFirstNearest(open.handle(), -95000000, 37000000, 5000, name, 128), -1)
        << d.what;
    EXPECT_EQ(c.Code(), Q_ERROR_CHECKSUM) << d.what;
  }
}

// Pages whose every entry leads to the same child: three such pages stacked
// on a leaf would make a walk enter that leaf 1363^3 times.
TEST_F(RtreeTest, AWalkEntersNoMorePagesThanTheFileHolds) {
  std::string bytes = testsupport::ReadAll(path_);
  gsbtest::File f(path_);
  uint64_t child = f.PageAt(f.SpatialRoot() / 32768).entries[0].second;
  std::vector<uint8_t> entries(size_t(kGsbPageEntriesMax) * kGsbPageEntrySize);
  std::vector<uint8_t> page(kGsbPageSize);
  for (uint16_t level = 1; level <= 3; ++level) {
    for (uint16_t i = 0; i < kGsbPageEntriesMax; ++i)
      EncodeGsbPageEntry({{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, child},
                         &entries[size_t(i) * kGsbPageEntrySize]);
    GsbPageHeader header;
    header.count = kGsbPageEntriesMax;
    header.flags = kGsbPageInner;
    header.level = level;
    EncodeGsbPage(header, entries.data(), page.data());
    child = bytes.size() / kGsbPageSize;
    bytes.append(reinterpret_cast<const char*>(page.data()), page.size());
  }
  // The header names the stacked pages' top as the root.
  GsbHeader header;
  ASSERT_TRUE(DecodeGsbHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                              bytes.size(), &header, nullptr));
  header.spatialRoot = child * kGsbPageSize;
  EncodeGsbHeader(header, reinterpret_cast<uint8_t*>(bytes.data()));
  const std::string path = temp_.Write("shared.gsb", bytes);
  pipError error;
  QFile file(error, path.c_str(), QFile::kRead);
  rtSpatialIndex index(file, child * kGsbPageSize, error);
  ASSERT_TRUE(index.IsOpen());
  auto e = index.CreateEnum();
  Walk(*e, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
  EXPECT_TRUE(e->Failed());
  EXPECT_EQ(error.Code(), Q_ERROR_CHECKSUM);
  EXPECT_NE(std::string(error.Detail()).find("more often than the file has pages"),
            std::string::npos)
      << error.Detail();
  // So does the nearest search's walk.
  searchtest::Context c;
  searchtest::OpenFile open(c, path);
  ASSERT_TRUE(open.ok());
  char name[128];
  EXPECT_EQ(pipObjectFindFirstNearest(open.handle(), -95000000, 37000000, 10, name, 128), -1);
  EXPECT_EQ(c.Code(), Q_ERROR_CHECKSUM);
}

TEST_F(RtreeTest, APageSizeBelow48IsRefused) {
  gsbtest::File f(path_);
  for (uint16_t size : {0, 16, 47}) {
    std::string bytes = testsupport::ReadAll(path_);
    QStoreU16LE(reinterpret_cast<uint8_t*>(bytes.data()) + f.SpatialRoot() + 4, size);
    Index index(temp_.Write("small_pages.gsb", bytes));
    EXPECT_FALSE(index.index->IsOpen()) << size;
  }
}

TEST_F(RtreeTest, LeafEntriesOfAnInnerRootLeadBelowTheLeaves) {
  const std::string path = temp_.File("flat.gsb");
  ASSERT_TRUE(searchtest::BuildFile(path, {searchtest::Region("a", {Square(0, 0, 10)})}, 0));
  std::string bytes = testsupport::ReadAll(path);
  const uint64_t root = gsbtest::File(path).SpatialRoot();
  auto* p = reinterpret_cast<uint8_t*>(bytes.data()) + root;
  QStoreU16LE(p + 2, kGsbPageInner | kGsbPageRoot);
  QPageSetCheckValue(p, 32768);
  Index index(temp_.Write("flat_inner.gsb", bytes));
  auto e = index.index->CreateEnum();
  EXPECT_TRUE(Walk(*e, {0, 0, 10, 10}).empty());
  EXPECT_TRUE(e->Failed());
}

// ---- the old grid index ---------------------------------------------------------

// One page of two entries: the grid's far-west corner cell and its far-east
// one, with 4-byte data.
std::string OldIndex() {
  std::string b(16 + 64, '\0');
  auto* p = reinterpret_cast<uint8_t*>(b.data());
  QStoreU16LE(p, 1);
  QStoreU16LE(p + 2, 64);
  QStoreU32LE(p + 4, 4);
  uint8_t* page = p + 16;
  QStoreU16LE(page, 2);
  const uint16_t rect[4] = {0, 5, 59999, 44999};
  for (int i = 0; i < 4; ++i) QStoreU16LE(page + 4 + 2 * i, rect[i]);
  const uint16_t west[4] = {59999, 5, 59999, 5}, east[4] = {0, 44999, 0, 44999};
  for (int i = 0; i < 4; ++i) QStoreU16LE(page + 12 + 2 * i, west[i]);
  QStoreU32LE(page + 20, 1111);
  for (int i = 0; i < 4; ++i) QStoreU16LE(page + 24 + 2 * i, east[i]);
  QStoreU32LE(page + 32, 2222);
  return b;
}

TEST(OldGridIndexTest, QueriesOutsideTheGridAreClampedToIt) {
  testsupport::TempDir temp;
  const std::string path = temp.Write("old.idx", OldIndex());
  pipError error;
  QFile file(error, path.c_str(), QFile::kRead);
  QxySpatialIndex index(file, 0, error);
  ASSERT_TRUE(index.IsOpen());
  auto e = index.CreateEnum();
  struct Case {
    SpatialRect rect;
    std::vector<uint64_t> hits;
  } cases[] = {
      {{-200000000, 10000, -190000000, 10000}, {1111}},      // west of -180 degrees
      {{-50000000, 89999999, -40000000, 95000000}, {2222}},  // east of -60, north of 90
      {{-200000000, 0, -40000000, 95000000}, {1111, 2222}},
      {{-100000000, 40000000, -100000000, 40000000}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Walk(*e, c.rect), c.hits) << c.rect.x1 << " " << c.rect.y1;
}

}  // namespace
