#include "base/qsort.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/pagefile.h"
#include "platform/env.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

// 16-byte records: a 4-byte big-endian key (so memcmp orders it as a
// number), then the 12-byte data whose first 8 bytes are the sequence number.
using Record = std::array<uint8_t, 16>;

Record MakeRecord(uint32_t key, uint64_t sequence) {
  Record r{};
  r[0] = uint8_t(key >> 24);
  r[1] = uint8_t(key >> 16);
  r[2] = uint8_t(key >> 8);
  r[3] = uint8_t(key);
  QStoreU64LE(&r[4], sequence);
  return r;
}

size_t FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  platform::Env::Current().ListDirectory(folder, &names);
  return names.size();
}

std::vector<Record> SortAndRead(QSort& sort, const std::vector<Record>& input) {
  EXPECT_TRUE(sort.SetRecordLayout(4, 12));
  for (const Record& r : input) EXPECT_TRUE(sort.Add(r.data(), r.data() + 4));
  EXPECT_TRUE(sort.Finish());
  std::vector<Record> out;
  for (uint8_t* p = sort.Next(); p; p = sort.Next()) {
    Record r;
    std::memcpy(r.data(), p, 16);
    out.push_back(r);
  }
  return out;
}

std::vector<Record> StableSorted(std::vector<Record> records) {
  std::stable_sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
    return std::memcmp(a.data(), b.data(), 4) < 0;
  });
  return records;
}

TEST(QSortTest, MillionsOfRecordsWithASmallBufferSortAsStableSortDoes) {
#if defined(__SANITIZE_ADDRESS__)
  const uint32_t count = 200000;
#else
  const uint32_t count = 3000000;
#endif
  TempDir dir;
  std::mt19937 random(11);
  std::vector<Record> input;
  input.reserve(count);
  // Few distinct keys, so that equal keys meet in every merge.
  for (uint32_t i = 0; i < count; ++i) input.push_back(MakeRecord(random() % 5000, i));
  std::vector<int> passes;
  {
    QError error;
    QSort sort(error, dir.path(), 64 * 1024);
    sort.SetProgress([](void* context, int pass, int) {
      auto* seen = static_cast<std::vector<int>*>(context);
      if (seen->empty() || seen->back() != pass) seen->push_back(pass);
    }, &passes, 0);
    std::vector<Record> out = SortAndRead(sort, input);
    EXPECT_GT(sort.FirstRunSize(), 0u);
    EXPECT_LE(sort.FirstRunSize(), 64u * 1024);
    EXPECT_EQ(sort.RunCount(), 1u);
    EXPECT_EQ(sort.Count(), count);
    ASSERT_EQ(out.size(), input.size());
    EXPECT_TRUE(out == StableSorted(input));
    EXPECT_FALSE(error.HasError()) << error.Message();
    EXPECT_EQ(FilesIn(dir.path()), 1u);  // the one sorted run
  }
  EXPECT_EQ(FilesIn(dir.path()), 0u);
  // 64 KB holds runs of 4096 records and merges 2 runs at a time: one pass
  // per halving of the runs.
  int expected = 0;
  for (uint32_t runs = (count + 4095) / 4096; runs > 1; runs = (runs + 1) / 2) ++expected;
  std::vector<int> all(size_t(expected), 0);
  for (int i = 0; i < expected; ++i) all[size_t(i)] = i + 1;
  EXPECT_EQ(passes, all);
}

TEST(QSortTest, RecordsThatFitTheBufferNeverTouchAFile) {
  TempDir dir;
  QError error;
  QSort sort(error, dir.path());
  std::vector<Record> input;
  for (uint32_t i = 0; i < 1000; ++i) input.push_back(MakeRecord(999 - i % 10, i));
  std::vector<Record> out = SortAndRead(sort, input);
  EXPECT_TRUE(out == StableSorted(input));
  EXPECT_EQ(sort.RunCount(), 0u);
  EXPECT_EQ(FilesIn(dir.path()), 0u);
  // Reading again from the start gives the same records.
  sort.ResetRead();
  uint8_t* first = sort.Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::memcmp(first, out[0].data(), 16), 0);
}

TEST(QSortTest, EqualRecordsKeepTheOrderOfTheirRuns) {
  TempDir dir;
  QError error;
  QSort sort(error, dir.path(), 1024);  // 64 records a run, 21 a share
  std::vector<Record> input;
  for (uint32_t i = 0; i < 1000; ++i) input.push_back(MakeRecord(i % 3 == 0 ? 7 : 5, i));
  std::vector<Record> out = SortAndRead(sort, input);
  ASSERT_EQ(out.size(), 1000u);
  EXPECT_TRUE(out == StableSorted(input));
}

// A subclass with its own order: descending by key.
class Descending : public QSort {
 public:
  using QSort::QSort;
  int Compare(const void* a, const void* b) const override { return std::memcmp(b, a, 4); }
};

TEST(QSortTest, SubclassesSetTheOrder) {
  TempDir dir;
  QError error;
  Descending sort(error, dir.path(), 4096);
  std::vector<Record> input;
  for (uint32_t i = 0; i < 5000; ++i) input.push_back(MakeRecord(i * 7919 % 5000, i));
  std::vector<Record> out = SortAndRead(sort, input);
  ASSERT_EQ(out.size(), 5000u);
  for (uint32_t i = 0; i < 5000; ++i)
    ASSERT_EQ(std::memcmp(out[i].data(), MakeRecord(4999 - i, 0).data(), 4), 0) << i;
}

TEST(QSortTest, ChangedRecordsAreWrittenBackBeforeTheBufferMoves) {
  TempDir dir;
  QError error;
  QSort sort(error, dir.path(), 1024);
  std::vector<Record> input;
  for (uint32_t i = 0; i < 500; ++i) input.push_back(MakeRecord(i, i));
  SortAndRead(sort, input);
  sort.ResetRead();
  uint8_t* first = sort.Next();
  first[15] = 0xAB;
  sort.MarkDirty();
  while (sort.Next()) {
  }
  sort.ResetRead();
  EXPECT_EQ(sort.Next()[15], 0xAB);
}

TEST(QSortTest, LayoutAndFileFailures) {
  TempDir dir;
  QError error;
  QSort sort(error, dir.path(), 1024);
  EXPECT_FALSE(sort.SetRecordLayout(300, 100));  // three records must fit
  EXPECT_EQ(error.Code(), 106);
  EXPECT_TRUE(sort.SetRecordLayout(4, 12));
  Record r = MakeRecord(1, 1);
  ASSERT_TRUE(sort.Add(r.data(), r.data() + 4));
  EXPECT_FALSE(sort.SetRecordLayout(4, 4));  // records are there already

  // No folder for the runs: the record that needs a run written is refused.
  QError failed;
  QSort lost(failed, dir.File("missing"), 1024);
  ASSERT_TRUE(lost.SetRecordLayout(4, 12));
  bool all = true;
  for (uint32_t i = 0; i < 100 && all; ++i) all = lost.Add(r.data(), r.data() + 4);
  EXPECT_FALSE(all);
  EXPECT_EQ(failed.Code(), ENOENT);
  // What was taken is still there: one buffer of records, sorted in memory.
  EXPECT_EQ(lost.Count(), 64u);
  EXPECT_TRUE(lost.Finish());
}

}  // namespace
