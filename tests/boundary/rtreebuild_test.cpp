#include "boundary/rtreebuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/qio.h"
#include "platform/env.h"
#include "tests/boundary/gsbfile_reader.h"
#include "tests/support/temp_dir.h"

namespace {

using gsbtest::Page;
using gsbtest::Rect;
using testsupport::TempDir;

class RTreeBuildTest : public ::testing::Test {
 protected:
  // Writes an index of the rectangles behind `prefix` bytes of zeros; the
  // leaf reference of rectangle i is 1000 + i. Returns the root page number.
  int32_t Build(const std::vector<GsbBounds>& rects, int64_t prefix = 100) {
    path_ = dir_.File("index.gsb");
    QioFile out(path_.c_str(), error_);
    EXPECT_TRUE(out.Fill(0, prefix));
    rtIndexBuild build(error_, temp_);
    for (size_t i = 0; i < rects.size(); ++i) EXPECT_TRUE(build.Add(rects[i], 1000 + i));
    int32_t root = build.Write(out);
    out.Close();
    return root;
  }

  // A file whose header says where the root lies, for the test-side walker.
  gsbtest::File Reopen(int32_t root) {
    std::string bytes = testsupport::ReadAll(path_);
    for (int i = 0; i < 8; ++i) bytes[336 + i] = char((uint64_t(root) * 32768) >> (8 * i));
    return gsbtest::File(dir_.Write("walk.gsb", bytes));
  }

  std::vector<std::string> TempFiles() {
    std::vector<std::string> names;
    platform::Env::Current().ListDirectory(temp_, &names);
    return names;
  }

  TempDir dir_;
  std::string temp_ = [this] {
    std::string t = dir_.File("temp");
    platform::Env::Current().MakeDirectory(t);
    return t;
  }();
  std::string path_;
  QError error_;
};

std::vector<GsbBounds> RandomRects(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> where(-180000000, 180000000);
  std::uniform_int_distribution<int32_t> size(0, 500000);
  std::vector<GsbBounds> rects;
  for (size_t i = 0; i < count; ++i) {
    int32_t x = where(random), y = where(random) / 2;
    rects.push_back({x, y, x + size(random), y + size(random)});
  }
  return rects;
}

TEST_F(RTreeBuildTest, NoEntriesGiveOneEmptyRootLeaf) {
  int32_t root = Build({});
  EXPECT_EQ(root, 1);  // after the prefix, padded to a page
  gsbtest::File file(path_);
  EXPECT_EQ(file.Bytes().size(), 2u * 32768);
  Page p = file.PageAt(1);
  EXPECT_EQ(p.count, 0);
  EXPECT_EQ(p.flags, 5);
  EXPECT_EQ(p.level, 0);
  EXPECT_EQ(p.pageSize, 32768);
  EXPECT_EQ(p.rect, (Rect{0x7FFFFFFF, 0x7FFFFFFF, int32_t(0x80000001), int32_t(0x80000001)}));
  EXPECT_TRUE(p.checkValueOk);
  EXPECT_TRUE(TempFiles().empty());
}

// Page counts by level for numbers of entries around the page's capacity and
// past the point where a level is cut into slices (N / 1363 >= 4).
TEST_F(RTreeBuildTest, LevelsAndPages) {
  struct Case {
    size_t entries;
    std::vector<size_t> pagesByLevel;  // from the leaves up
    std::vector<size_t> leafCounts;    // entries of the leaves, in page order
  };
  const Case cases[] = {
      {1, {1}, {1}},
      {1363, {1}, {1363}},
      {1364, {2, 1}, {1363, 1}},
      {2 * 1363 + 5, {3, 1}, {1363, 1363, 5}},
      // S = trunc(sqrt(7)) = 2 slices of 5000: 1363, 1363, 1363, 911 each.
      {10000, {8, 1}, {1363, 1363, 1363, 911, 1363, 1363, 1363, 911}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    std::vector<GsbBounds> rects = RandomRects(c.entries, uint32_t(c.entries));
    int32_t root = Build(rects);
    ASSERT_GE(root, 1);
    std::map<int, std::vector<Page>> levels;
    auto leaves = Reopen(root).WalkSpatialIndex(&levels);

    ASSERT_EQ(levels.size(), c.pagesByLevel.size());
    for (size_t l = 0; l < c.pagesByLevel.size(); ++l)
      EXPECT_EQ(levels[int(l)].size(), c.pagesByLevel[l]);
    std::vector<Page> leafPages = levels[0];
    std::sort(leafPages.begin(), leafPages.end(),
              [](const Page& a, const Page& b) { return a.number < b.number; });
    std::vector<size_t> counts;
    for (const Page& p : leafPages) counts.push_back(p.count);
    EXPECT_EQ(counts, c.leafCounts);
    // The root is the last page written.
    EXPECT_EQ(uint64_t(root) + 1, gsbtest::File(path_).Bytes().size() / 32768);

    // Every entry exactly once, with its own rectangle.
    ASSERT_EQ(leaves.size(), rects.size());
    std::sort(leaves.begin(), leaves.end(), [](auto& a, auto& b) { return a.second < b.second; });
    for (size_t i = 0; i < rects.size(); ++i) {
      EXPECT_EQ(leaves[i].second, 1000 + i);
      EXPECT_EQ(leaves[i].first,
                (Rect{rects[i].xmin, rects[i].ymin, rects[i].xmax, rects[i].ymax}));
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

// Slices run in x order and pages within a slice in y order, both by
// midpoints compared as unsigned numbers: negative midpoints come last.
TEST_F(RTreeBuildTest, EntriesInMidpointOrder) {
  // One page: x midpoints 5, 10, -3, 0 (from -1 and 2: truncated toward 0).
  int32_t root = Build({{10, 0, 10, 0}, {-5, 0, -1, 0}, {4, 0, 6, 0}, {-1, 0, 2, 0}});
  Page p = gsbtest::File(path_).PageAt(uint64_t(root));
  std::vector<uint64_t> order;
  for (auto& e : p.entries) order.push_back(e.second);
  EXPECT_EQ(order, (std::vector<uint64_t>{1003, 1002, 1000, 1001}));

  // Two leaves of one slice cut in y order: the first holds the 1363
  // non-negative y midpoints, the second the negative one.
  std::vector<GsbBounds> rects;
  rects.push_back({0, -10, 0, -10});
  for (int i = 0; i < 1363; ++i) rects.push_back({i, i, i, i});
  root = Build(rects);
  std::map<int, std::vector<Page>> levels;
  Reopen(root).WalkSpatialIndex(&levels);
  ASSERT_EQ(levels[0].size(), 2u);
  const Page& last = levels[0][0].number > levels[0][1].number ? levels[0][0] : levels[0][1];
  ASSERT_EQ(last.count, 1);
  EXPECT_EQ(last.entries[0].second, 1000u);
}

// A failing write or temporary file ends Write with -1, recorded, and no
// temporary file stays behind.
TEST_F(RTreeBuildTest, FailuresGiveMinusOne) {
  struct FailingEnv : platform::EnvWrapper {
    using EnvWrapper::EnvWrapper;
    int pagesLeft = 0;  // pages written before the failure
    bool failTemp = false;
    int Open(std::string_view p, unsigned f, int m) override {
      if (failTemp && (f & platform::kExclusive)) {
        errno = ENOSPC;
        return -1;
      }
      return target_.Open(p, f, m);
    }
    int64_t Write(int fd, const void* b, size_t n) override {
      if (n == 32768 && pagesLeft-- == 0) {
        errno = EIO;
        return -1;
      }
      return target_.Write(fd, b, n);
    }
  };
  FailingEnv fail(platform::Env::Current());
  platform::ScopedEnv scoped(fail);
  std::vector<GsbBounds> rects = RandomRects(3000, 7);

  for (int pages : {0, 2, 3}) {  // a leaf, the last leaf, the root
    fail.pagesLeft = pages;
    error_.Clear();
    EXPECT_EQ(Build(rects), -1) << pages;
    EXPECT_EQ(error_.Code(), EIO) << pages;
  }
  fail.pagesLeft = -1;

  // More entries than a sort's buffer holds: a full buffer goes to a
  // temporary file, which cannot be made. The entry that does not fit is
  // refused, and the index is not written.
  fail.failTemp = true;
  error_.Clear();
  rects = RandomRects(10000, 8);
  QioFile out(dir_.File("refused.gsb").c_str(), error_);
  rtIndexBuild build(error_, temp_);
  size_t refused = 0;
  for (size_t i = 0; i < rects.size(); ++i) refused += !build.Add(rects[i], i);
  EXPECT_GT(refused, 0u);
  EXPECT_EQ(build.Count(), rects.size());
  EXPECT_EQ(error_.Code(), ENOSPC);
  EXPECT_EQ(build.Write(out), -1);
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
