#include "base/recmgr.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/qfile.h"
#include "platform/env.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

// Counts the positioned reads of the file layer.
class CountingEnv : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  int64_t ReadAt(int fd, void* b, size_t n, int64_t o) override {
    offsets.push_back(o);
    return EnvWrapper::ReadAt(fd, b, n, o);
  }
  std::vector<int64_t> offsets;
};

// Ten records of 16 bytes after a 4-byte prefix; record n is filled with 'a' + n.
std::string TenRecords(const TempDir& dir) {
  std::string bytes = "HEAD";
  for (int n = 0; n < 10; ++n) bytes += std::string(16, char('a' + n));
  return dir.Write("records.bin", bytes);
}

TEST(QRecordMgrTest, LeastRecentlyUsedCacheCountsItsReads) {
  TempDir dir;
  std::string path = TenRecords(dir);
  QError error;
  QFile file(error, path.c_str(), QFile::kRead);
  CountingEnv counting(platform::Env::Current());
  platform::ScopedEnv scope(counting);
  QRecordMgr manager("records", file, 4, 16, 2, error);
  ASSERT_TRUE(manager.IsInitialised());
  EXPECT_EQ(manager.CacheCount(), 2u);

  // 1, 2, 1, 3: three reads; 2 is the least recently used when 3 comes.
  const struct {
    uint32_t record;
    int how;
  } steps[] = {{1, 0}, {2, 0}, {1, 1}, {3, 0}, {1, 1}, {2, 0}};
  for (const auto& step : steps) {
    int how = 7;
    const uint8_t* bytes = manager.GetRecord(step.record, &how);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0], 'a' + step.record);
    EXPECT_EQ(bytes[15], 'a' + step.record);
    EXPECT_EQ(how, step.how) << "record " << step.record;
  }
  EXPECT_EQ(counting.offsets, (std::vector<int64_t>{4 + 16, 4 + 32, 4 + 48, 4 + 32}));

  // A record past the end of the file is not there, and the slot it took
  // holds nothing afterwards.
  EXPECT_EQ(manager.GetRecord(10), nullptr);
  int how = 7;
  EXPECT_NE(manager.GetRecord(2, &how), nullptr);
  EXPECT_EQ(how, 1);
  EXPECT_NE(manager.GetRecord(1, &how), nullptr);
  EXPECT_EQ(how, 0);
  EXPECT_FALSE(error.HasError());
}

TEST(QRecordMgrTest, CacheSizeLimits) {
  TempDir dir;
  std::string path = TenRecords(dir);
  QError error;
  QFile file(error, path.c_str(), QFile::kRead);
  QRecordMgr none("x", file, 0, 16, 0, error);
  EXPECT_EQ(none.CacheCount(), 1u);
  QRecordMgr many("x", file, 0, 16, 5000, error);
  EXPECT_EQ(many.CacheCount(), 1024u);
  QRecordMgr empty("x", file, 0, 0, 4, error);
  EXPECT_FALSE(empty.IsInitialised());
  EXPECT_EQ(error.Code(), 106);
  EXPECT_EQ(empty.GetRecord(0), nullptr);
  QRecordMgr named("averylongname", file, 0, 16, 1, error);
  EXPECT_STREQ(named.Name(), "averylon");
}

TEST(QRecordMgrTest, MappedFilesAreReadFromTheView) {
  TempDir dir;
  std::string path = TenRecords(dir);
  QError error;
  QFile file(error, path.c_str(), QFile::kShared);
  ASSERT_TRUE(file.IsMapped());
  QRecordMgr manager("mapped", file, 4, 16, 8, error);
  ASSERT_TRUE(manager.IsInitialised());
  EXPECT_TRUE(manager.IsMapped());
  EXPECT_EQ(manager.CacheCount(), 0u);
  int how = 7;
  const uint8_t* bytes = manager.GetRecord(9, &how);
  EXPECT_EQ(how, -1);
  EXPECT_EQ(bytes, file.View() + 4 + 9 * 16);
  // Never past the end of the view, however large the number.
  EXPECT_EQ(manager.GetRecord(10), nullptr);
  EXPECT_EQ(manager.GetRecord(0xFFFFFFFF), nullptr);
}

}  // namespace
