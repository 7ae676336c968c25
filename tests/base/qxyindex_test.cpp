#include "base/qxyindex.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <array>

#include "base/distance_model.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::Le16;
using testsupport::Le32;
using testsupport::TempDir;

#ifdef __SANITIZE_ADDRESS__
constexpr uint32_t kTreePoints = 20000;
#else
constexpr uint32_t kTreePoints = 100000;
#endif

// ---------------------------------------------------------------------------
// QxyIndex

struct Entry {
  uint16_t xmin, ymin, xmax, ymax;
  uint32_t data;
};
struct Page {
  uint16_t xmin, ymin, xmax, ymax;
  std::vector<Entry> entries;
  int countOverride = -1;
};

// An index of 4-byte entries after `lead` bytes of something else.
std::string IndexBytes(const std::vector<Page>& pages, uint16_t pageSize, size_t lead,
                       uint32_t dataSize = 4) {
  std::string b(lead, 'x');
  b += Le16(uint16_t(pages.size()));
  b += Le16(pageSize);
  b += Le32(dataSize);
  b.append(8, '\0');
  for (const Page& p : pages) {
    size_t start = b.size();
    b += Le16(uint16_t(p.countOverride >= 0 ? p.countOverride : int(p.entries.size())));
    b += Le16(0);
    for (uint16_t v : {p.xmin, p.ymin, p.xmax, p.ymax}) b += Le16(v);
    for (const Entry& e : p.entries) {
      for (uint16_t v : {e.xmin, e.ymin, e.xmax, e.ymax}) b += Le16(v);
      b += Le32(e.data);
    }
    b.resize(start + pageSize, '\0');
  }
  return b;
}

std::vector<uint32_t> Enumerate(const QxyIndex& index, QxyCellRect query) {
  std::vector<uint32_t> found;
  QxyIndexEnum walk;
  if (!index.First(walk, query)) return found;
  uint32_t data;
  while (index.Next(walk, &data, sizeof data)) found.push_back(data);
  return found;
}

const std::vector<Page> kPages = {
    {0, 0, 100, 100, {{0, 0, 10, 10, 1}, {50, 50, 60, 60, 2}, {90, 0, 100, 5, 3}}},
    {200, 200, 300, 300, {}},
    {150, 0, 250, 90, {{150, 0, 160, 10, 4}, {240, 80, 250, 90, 5}}},
};

TEST(QxyIndexTest, EnumeratesEntriesMeetingTheQueryInFileOrder) {
  TempDir dir;
  std::string path = dir.Write("old.gsb", IndexBytes(kPages, 64, 100));
  QError error;
  QFile file(error, path.c_str(), QFile::kRead);
  QxyIndex index(file, 100, error);
  ASSERT_TRUE(index.IsOpen()) << error.Detail();
  EXPECT_EQ(index.PageCount(), 3);
  EXPECT_EQ(index.EntryDataSize(), 4u);

  struct Case {
    const char* name;
    QxyCellRect query;
    std::vector<uint32_t> found;
  } cases[] = {
      {"everything", {0, 0, 65535, 65535}, {1, 2, 3, 4, 5}},
      {"borders meet", {10, 10, 50, 50}, {1, 2}},
      {"only the last page", {155, 5, 245, 85}, {4, 5}},
      {"a page but no entry", {20, 20, 40, 40}, {}},
      {"no page", {400, 400, 500, 500}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Enumerate(index, c.query), c.found) << c.name;

  // Data is copied up to the caller's room.
  QxyIndexEnum walk;
  ASSERT_TRUE(index.First(walk, {0, 0, 65535, 65535}));
  uint16_t half = 0xFFFF;
  ASSERT_TRUE(index.Next(walk, &half, sizeof half));
  EXPECT_EQ(half, 1);
}

TEST(QxyIndexTest, DamagedIndexesStayClosed) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"header cut short", IndexBytes(kPages, 64, 100).substr(0, 110)},
      {"last page cut short", IndexBytes(kPages, 64, 100).substr(0, 100 + 16 + 64 * 2 + 10)},
      {"entries overrun their page", IndexBytes({{0, 0, 1, 1, {{0, 0, 1, 1, 7}}, 5}}, 40, 100)},
      {"entry count past the page", IndexBytes({{0, 0, 1, 1, {}, 65535}}, 64, 100)},
      {"page smaller than one entry", IndexBytes({{0, 0, 1, 1, {}}}, 16, 100)},
      {"entry data larger than a page", IndexBytes({{0, 0, 1, 1, {}}}, 64, 100, 0xFFFFFFF0u)},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir.Write("old.gsb", c.bytes);
    QError error;
    QFile file(error, path.c_str(), QFile::kRead);
    QxyIndex index(file, 100, error);
    EXPECT_FALSE(index.IsOpen()) << c.name;
    EXPECT_EQ(error.Code(), Q_ERROR_CHECKSUM) << c.name;
    EXPECT_EQ(Enumerate(index, {0, 0, 65535, 65535}), std::vector<uint32_t>{}) << c.name;
  }
  // No pages at all is a valid, empty index.
  TempDir dir;
  std::string path = dir.Write("old.gsb", IndexBytes({}, 0, 100));
  QError error;
  QFile file(error, path.c_str(), QFile::kRead);
  QxyIndex index(file, 100, error);
  EXPECT_TRUE(index.IsOpen());
  EXPECT_EQ(Enumerate(index, {0, 0, 65535, 65535}), std::vector<uint32_t>{});
}

TEST(QxyGridCellsTest, QueriesAreClampedIntoTheGridAtBothEnds) {
  struct Case {
    const char* name;
    int32_t x1, y1, x2, y2;
    uint16_t xmin, ymin, xmax, ymax;
  } cases[] = {
      {"inside", -100000000, 40000000, -90000000, 41000000, 15000, 20000, 20000, 20500},
      {"east of -60 degrees", -100000000, 40000000, 0, 41000000, 0, 20000, 20000, 20500},
      {"wholly east of -60 degrees", 10000000, 40000000, 20000000, 41000000, 0, 20000, 0, 20500},
      {"west of -180 degrees", -200000000, 40000000, -190000000, 41000000, 59999, 20000, 59999,
       20500},
      {"south of the grid and north of it", -100000000, -5000000, -90000000, 95000000, 15000, 5,
       20000, 44999},
      {"the extremes", INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 5, 59999, 44999},
  };
  for (const Case& c : cases) {
    QxyCellRect r = QxyGridCells(c.x1, c.y1, c.x2, c.y2);
    EXPECT_EQ(r.xmin, c.xmin) << c.name;
    EXPECT_EQ(r.ymin, c.ymin) << c.name;
    EXPECT_EQ(r.xmax, c.xmax) << c.name;
    EXPECT_EQ(r.ymax, c.ymax) << c.name;
  }
}

// ---------------------------------------------------------------------------
// QxyTree

std::vector<const QxyTreeNode*> InRect(const QxyTree& tree, int32_t x1, int32_t y1, int32_t x2,
                                       int32_t y2) {
  QxyTreeRectSearch search(tree);
  search.Reset(x1, y1, x2, y2);
  std::vector<const QxyTreeNode*> found;
  while (const QxyTreeNode* n = tree.NextInRect(search)) found.push_back(n);
  return found;
}

TEST(QxyTreeTest, ArenaPieces) {
  QxyTree tree;
  ASSERT_TRUE(tree.IsValid());
  EXPECT_EQ(tree.Alloc(QxyTree::kBlockRoom), nullptr);
  void* a = tree.Alloc(3);
  void* b = tree.Alloc(1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), 8);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 8, 0u);
  // A piece that does not fit the newest block starts another.
  void* big = tree.Alloc(QxyTree::kBlockRoom - 8);
  ASSERT_NE(big, nullptr);
  EXPECT_NE(tree.Alloc(QxyTree::kBlockRoom - 8), nullptr);
}

TEST(QxyTreeTest, EqualCoordinatesGoRightAndBoundsAreIncluded) {
  QxyTree tree;
  ASSERT_TRUE(tree.Insert({5, 5}, 1));
  ASSERT_TRUE(tree.Insert({5, 9}, 2));  // equal y under a y node: right
  ASSERT_TRUE(tree.Insert({5, 1}, 3));
  ASSERT_TRUE(tree.Insert({5, 9}, 4));  // equal x under an x node: right
  EXPECT_EQ(tree.Count(), 4u);
  EXPECT_EQ(tree.Depth(), 3u);
  const QxyTreeNode* first = tree.Root()->right;
  EXPECT_EQ(first->value, 1u);
  EXPECT_EQ(first->right->value, 2u);
  EXPECT_EQ(first->left->value, 3u);
  EXPECT_EQ(first->right->right->value, 4u);
  // Pre-order, left subtree first.
  std::vector<uint64_t> values;
  for (const QxyTreeNode* n : InRect(tree, 0, 0, 5, 9)) values.push_back(n->value);
  EXPECT_EQ(values, (std::vector<uint64_t>{1, 3, 2, 4}));
  EXPECT_EQ(InRect(tree, 0, 0, 4, 9).size(), 0u);
  EXPECT_EQ(InRect(tree, 5, 9, 5, 9).size(), 2u);
}

TEST(QxyTreeTest, EmptyTreesFindNothing) {
  QxyTree tree;
  EXPECT_TRUE(InRect(tree, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX).empty());
  QxyTreeNearestSearch nearest(tree, 3, true);
  EXPECT_EQ(nearest.Find({0, 0}), nullptr);
  EXPECT_FALSE(nearest.Found());
  EXPECT_EQ(nearest.Count(), 0);
}

TEST(QxyTreeTest, NearestOfFewerPointsThanAskedAndGeographicScales) {
  QxyTree tree;
  tree.Insert({0, 3000000}, 1);
  tree.Insert({1, 0}, 2);
  QxyTreeNearestSearch search(tree, 3, true);
  const QxyTreeNode* nearest = search.Find({0, 0});
  ASSERT_NE(nearest, nullptr);
  EXPECT_TRUE(search.Found());
  EXPECT_EQ(nearest->value, 2u);
  ASSERT_EQ(search.Count(), 2);
  EXPECT_EQ(search.At(1).node->value, 1u);
  // At latitude 0 a millionth of a degree is 0.36432 feet on both axes.
  EXPECT_DOUBLE_EQ(search.At(0).distance, kFeetPerMillionth);
  EXPECT_DOUBLE_EQ(search.At(1).distance, 3000000 * kFeetPerMillionth);
  QxyTreeNearestSearch plain(tree, 1, false);
  plain.Find({0, 0});
  EXPECT_DOUBLE_EQ(plain.At(0).distance, 1.0);
}

// Whether two subtrees hold the same points in the same places.
bool SameTree(const QxyTreeNode* a, const QxyTreeNode* b) {
  if (!a || !b) return a == b;
  return a->x == b->x && a->y == b->y && a->value == b->value && SameTree(a->left, b->left) &&
         SameTree(a->right, b->right);
}

// A bulk build must give a tree Insert would: replaying its nodes through
// Insert in the order they lie in memory (each after its parent) rebuilds it
// exactly only if every point sits on the side of each ancestor that Insert
// sends it to. Rows of a grid, repeated points and a scatter, with more
// points than one cluster, so that both the upper levels and the clusters
// are checked; a second batch then goes in through Insert.
TEST(QxyTreeTest, BulkBuildIsATreeInsertWouldMake) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int32_t> wide(-1000000, 1000000), few(0, 40);
  std::vector<QxyTreeEntry> points;
  for (uint64_t i = 0; i < 30000; ++i) {
    const int32_t x = i % 3 == 0 ? wide(rng) : few(rng) * 1000;
    const int32_t y = i % 3 == 0 ? wide(rng) : (i % 5 == 0 ? 7000 : few(rng) * 1000);
    points.push_back({x, y, i});
  }
  std::vector<QxyTreeEntry> first(points.begin(), points.begin() + 20000);
  QxyTree bulk;
  ASSERT_TRUE(bulk.InsertBalanced(first.data(), first.size()));
  EXPECT_EQ(bulk.Count(), 20000u);
  std::vector<const QxyTreeNode*> nodes =
      InRect(bulk, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  ASSERT_EQ(nodes.size(), 20000u);
  std::sort(nodes.begin(), nodes.end());
  QxyTree replay;
  for (const QxyTreeNode* n : nodes) ASSERT_TRUE(replay.Insert({n->x, n->y}, n->value));
  EXPECT_TRUE(SameTree(bulk.Root()->right, replay.Root()->right));
  EXPECT_EQ(bulk.Depth(), replay.Depth());

  std::vector<QxyTreeEntry> second(points.begin() + 20000, points.end());
  ASSERT_TRUE(bulk.InsertBalanced(second.data(), second.size()));
  EXPECT_EQ(bulk.Count(), 30000u);
  for (const auto& [x1, y1, x2, y2] : std::vector<std::array<int32_t, 4>>{
           {0, 0, 40000, 40000}, {7000, 7000, 7000, 7000}, {-500000, -500000, 3000, 900000}}) {
    std::multiset<uint64_t> expected, found;
    for (const QxyTreeEntry& p : points)
      if (p.x >= x1 && p.x <= x2 && p.y >= y1 && p.y <= y2) expected.insert(p.value);
    for (const QxyTreeNode* n : InRect(bulk, x1, y1, x2, y2)) found.insert(n->value);
    EXPECT_EQ(found, expected) << x1 << "," << y1 << " " << x2 << "," << y2;
  }
}

// Brute force over 100,000 points: clusters, a wide scatter and repeated
// points, plain and geographic.
class QxyTreeBruteForceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 rng(31);
    std::normal_distribution<double> spread(0.0, 20000.0);
    std::uniform_int_distribution<int32_t> wide(-180000000, 180000000);
    std::uniform_int_distribution<int32_t> lat(-80000000, 80000000);
    for (uint32_t i = 0; i < kTreePoints; ++i) {
      QxyPoint p;
      if (i % 3 == 0) {
        p = {wide(rng), lat(rng)};
      } else if (i % 3 == 1 && i > 10) {
        p = points_[i / 2];
      } else {
        p = {static_cast<int32_t>(-80000000 + spread(rng)),
             static_cast<int32_t>(35000000 + spread(rng))};
      }
      points_.push_back(p);
      ASSERT_TRUE(tree_.Insert(p, i));
    }
    nodes_ = InRect(tree_, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
    ASSERT_EQ(nodes_.size(), kTreePoints);
  }

  QxyTree tree_;
  std::vector<QxyPoint> points_;
  std::vector<const QxyTreeNode*> nodes_;
};

TEST_F(QxyTreeBruteForceTest, RectanglesFindExactlyThePointsInside) {
  std::mt19937_64 rng(32);
  for (int q = 0; q < 200; ++q) {
    int32_t cx = -80000000 + std::uniform_int_distribution<int32_t>(-60000, 60000)(rng);
    int32_t cy = 35000000 + std::uniform_int_distribution<int32_t>(-60000, 60000)(rng);
    int32_t w = std::uniform_int_distribution<int32_t>(0, q % 10 == 0 ? 50000000 : 20000)(rng);
    int32_t h = std::uniform_int_distribution<int32_t>(0, 20000)(rng);
    std::multiset<uint64_t> expected, found;
    for (const QxyTreeNode* n : nodes_) {
      if (n->x >= cx - w && n->x <= cx + w && n->y >= cy - h && n->y <= cy + h) {
        expected.insert(n->value);
      }
    }
    for (const QxyTreeNode* n : InRect(tree_, cx + w, cy + h, cx - w, cy - h))
      found.insert(n->value);
    ASSERT_EQ(found, expected) << "query " << q;
  }
}

TEST_F(QxyTreeBruteForceTest, NearestPointsForOneToTwentyHits) {
  std::mt19937_64 rng(33);
  std::vector<std::pair<double, const QxyTreeNode*>> all(nodes_.size());
  for (bool geographic : {false, true}) {
    for (int n = 1; n <= 20; ++n) {
      for (int q = 0; q < 12; ++q) {
        QxyPoint p =
            q % 4 == 0
                ? points_[std::uniform_int_distribution<size_t>(0, points_.size() - 1)(rng)]
                : QxyPoint{-80000000 + std::uniform_int_distribution<int32_t>(-90000, 90000)(rng),
                           35000000 + std::uniform_int_distribution<int32_t>(-90000, 90000)(rng)};
        if (q % 6 == 5) p = {std::uniform_int_distribution<int32_t>(-170000000, 170000000)(rng), 0};
        double xs = geographic ? kFeetPerMillionth * std::cos(p.y * kRadiansPerMillionth) : 1.0;
        double ys = geographic ? kFeetPerMillionth : 1.0;
        for (size_t i = 0; i < nodes_.size(); ++i) {
          double dx = double(int64_t{nodes_[i]->x} - p.x) * xs;
          double dy = double(int64_t{nodes_[i]->y} - p.y) * ys;
          all[i] = {std::sqrt(dx * dx + dy * dy), nodes_[i]};
        }
        std::partial_sort(all.begin(), all.begin() + n, all.end());
        QxyTreeNearestSearch search(tree_, n, geographic);
        const QxyTreeNode* nearest = search.Find(p);
        ASSERT_EQ(nearest, all[0].second);
        ASSERT_EQ(search.Count(), n);
        for (int k = 0; k < n; ++k) {
          ASSERT_EQ(search.At(k).node, all[k].second)
              << "n " << n << " hit " << k << (geographic ? " geographic" : " plain");
          ASSERT_EQ(search.At(k).distance, all[k].first);
        }
      }
    }
  }
}

}  // namespace
