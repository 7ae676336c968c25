#include "builder/pagebuild.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/pagefile.h"
#include "platform/env.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::ReadAll;
using testsupport::TempDir;

constexpr uint32_t kSignature = 0x12345678;  // not one whose length is checked

// A keyed file whose records are their keys: a page opens on its first key.
class KeyFileBuild : public QIndexedFileBuild {
 public:
  using QIndexedFileBuild::QIndexedFileBuild;
  void MakeKey(const void* record, uint8_t* key) override { std::memcpy(key, record, 8); }
};

QIndexedFileBuildParams Params(uint32_t pageSize, uint32_t pageKeyLength) {
  QIndexedFileBuildParams p;
  p.pageSize = pageSize;
  p.entryKeyLength = 8;
  p.entryDataLength = 4;
  p.pageKeyLength = pageKeyLength;
  p.signature = kSignature;
  p.dateText = "20240307";
  return p;
}

std::string Key(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "%08d", i);
  return text;
}

TEST(PageBuildTest, HeaderBlock) {
  TempDir dir;
  std::string path = dir.File("h.idx");
  {
    QIndexedFileBuild b(Params(1024, 8), path.c_str(), nullptr, nullptr);
    ASSERT_TRUE(b.Ok()) << b.Error().Detail();
    EXPECT_TRUE(b.Close());
  }
  std::string bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 1024u);
  auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_EQ(bytes.substr(0, 8), "3/2024\r\n");
  size_t end = bytes.find('\x1A');
  ASSERT_LT(end, 256u);
  EXPECT_EQ(bytes.substr(end - 2, 2), "\r\n");
  for (size_t i = end + 1; i < 256; ++i) EXPECT_EQ(h[i], 0) << i;
  EXPECT_EQ(QLoadU32LE(h + 256), kSignature);
  EXPECT_EQ(QLoadU32LE(h + 260), 0u);
  EXPECT_EQ(QLoadU16LE(h + 264), 1024);
  EXPECT_EQ(QLoadU16LE(h + 266), 1024);
  EXPECT_EQ(QLoadU16LE(h + 268), 0);
  EXPECT_EQ(QLoadU16LE(h + 270), 13127);  // ((3 - 1) + 34 x 12) x 32 + 7
  EXPECT_EQ(QLoadU32LE(h + 280), 0u);
  EXPECT_EQ(QLoadU32LE(h + 284), 8u);
  EXPECT_EQ(QLoadU32LE(h + 288), 8u);
  EXPECT_EQ(QLoadU32LE(h + 292), 4u);
  EXPECT_TRUE(QPageCheckValueValid(h, 1024));
}

TEST(PageBuildTest, DatesOfTheHeader) {
  EXPECT_EQ(QPackedDate(1990, 1, 1), 1);
  EXPECT_EQ(QPackedDate(2024, 3, 7), 13127);
  int y, m, d;
  EXPECT_TRUE(QParseDateText("19991231", &y, &m, &d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 19991231);
  for (const char* bad : {"1999123", "19991301", "19891231", "1999-1-1", "20240300"})
    EXPECT_FALSE(QParseDateText(bad, &y, &m, &d)) << bad;
  EXPECT_TRUE(QParseDateText(QTodayDateText().c_str(), &y, &m, &d));

  TempDir dir;
  QIndexedFileBuildParams p = Params(1024, 0);
  p.dateText = "2024-3-7";
  QIndexedFileBuild b(p, dir.File("d.idx").c_str(), nullptr, nullptr);
  EXPECT_EQ(b.Error().Code(), Q_ERROR_INVALID_DATA);
  EXPECT_STREQ(b.Error().Detail(), "Invalid date text 2024-3-7");
}

TEST(PageBuildTest, PageOf8192BytesHolds681TwelveByteKeys) {
  QIndexedFilePageBuild page(8192, 12, 0);
  char key[13];
  for (int i = 0; i < 681; ++i) {
    std::snprintf(key, sizeof key, "%012d", i);
    ASSERT_TRUE(page.AddEntry(key, nullptr, nullptr)) << i;
  }
  EXPECT_FALSE(page.AddEntry(key, nullptr, nullptr));  // (681 + 1) x 12 + 8 > 8190
  EXPECT_EQ(page.Count(), 681u);
  // Entry 0 lies highest; the reader over the page finds them all.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page.Block()) + 8190 - 12, 12), "000000000000");
  std::snprintf(key, sizeof key, "%012d", 500);
  EXPECT_EQ(page.Reader().Find(key), 500);
  page.Clear();
  EXPECT_EQ(page.Count(), 0u);
  EXPECT_EQ(QLoadU32LE(page.Block()), 8190u);
}

// Entries over many pages come back through the page-file reader: the key
// tree names the right page of every key.
TEST(PageBuildTest, KeyedFileReadsBack) {
  TempDir dir;
  std::string path = dir.File("k.idx");
  const int count = 2000;
  int64_t root = -1;
  {
    KeyFileBuild b(Params(1024, 8), path.c_str(), nullptr, nullptr);
    for (int i = 0; i < count; ++i) {
      std::string key = Key(i * 3);
      uint8_t data[4];
      QStoreU32LE(data, uint32_t(i));
      ASSERT_TRUE(b.Add(key.data(), data, key.data())) << b.Error().Detail();
    }
    root = b.Finish();
    ASSERT_GT(root, 0);
    EXPECT_EQ(b.PageCount(), (count + 83) / 84u);  // (84 + 1) x 12 + 8 > 1022
    ASSERT_TRUE(b.Close());
  }
  EXPECT_EQ(ReadAll(path).size() % 1024, 0u);
  QError error;
  QIndexedFile file(path.c_str(), kSignature, 8, nullptr, &error);
  ASSERT_TRUE(file.IsOpen()) << error.Detail();
  ASSERT_TRUE(file.OpenIndex(uint64_t(root))) << error.Detail();
  for (int i = 0; i < count; i += 7) {
    std::string key = Key(i * 3);
    uint32_t position = 0;
    ASSERT_TRUE(file.Find(key.data(), &position)) << key;
    uint8_t data[4];
    ASSERT_TRUE(file.Page().GetEntry(int32_t(QPositionEntry(position)), nullptr, data));
    EXPECT_EQ(QLoadU32LE(data), uint32_t(i));
  }
  uint32_t position = 0;
  EXPECT_FALSE(file.Find(Key(1).data(), &position));
}

TEST(PageBuildTest, KeysOutOfOrderAreRefused) {
  TempDir dir;
  // Page keys: the second page opens on a key below the first page's.
  {
    KeyFileBuild b(Params(1024, 8), dir.File("a.idx").c_str(), nullptr, nullptr);
    for (int i = 0; i < 84; ++i)
      ASSERT_TRUE(b.Add(Key(100 + i).data(), "data", Key(100 + i).data()));
    EXPECT_FALSE(b.Add(Key(5).data(), "data", Key(5).data()));
    EXPECT_STREQ(b.Error().Detail(), "Keys are unordered in QIndexedFileBuild (no sort)");
    EXPECT_FALSE(b.Add(Key(500).data(), "data", Key(500).data()));  // the error stands
  }
  // Entry keys, when nothing sorts the page keys.
  {
    QIndexedFileBuild b(Params(1024, 0), dir.File("b.idx").c_str(), nullptr, nullptr);
    ASSERT_TRUE(b.Add(Key(2).data(), "data", nullptr));
    ASSERT_TRUE(b.Add(Key(2).data(), "data", nullptr));
    EXPECT_FALSE(b.Add(Key(1).data(), "data", nullptr));
    EXPECT_STREQ(b.Error().Detail(), "Keys are unordered in QIndexedFileBuild (no sort)");
  }
}

TEST(PageBuildTest, AreasAreWholePages) {
  TempDir dir;
  std::string path = dir.File("area.idx");
  std::string text(1500, 'x');
  int64_t at = -1;
  {
    QIndexedFileBuild b(Params(1024, 0), path.c_str(), nullptr, nullptr);
    at = b.WriteArea(text.data(), uint32_t(text.size()));
    EXPECT_TRUE(b.Close());
  }
  EXPECT_EQ(at, 1024);
  std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes.size(), 3 * 1024u);
  EXPECT_EQ(bytes.substr(1024, 1500), text);
  EXPECT_EQ(bytes.substr(2524), std::string(3072 - 2524, '\0'));
}

TEST(PageBuildTest, FileErrorsNameTheFile) {
  TempDir dir;
  std::string missing = dir.File("no/such/folder/x.idx");
  QIndexedFileBuild a(Params(1024, 0), missing.c_str(), nullptr, nullptr);
  EXPECT_EQ(a.Error().Code(), ENOENT);
  EXPECT_EQ(a.Error().Detail(), missing);
  EXPECT_FALSE(a.Add(Key(1).data(), "data", nullptr));

  buildertest::FullDisk full(platform::Env::Current(), 1024 + 512);  // a header, half a page
  platform::ScopedEnv scoped(full);
  KeyFileBuild b(Params(1024, 8), dir.File("full.idx").c_str(), nullptr, nullptr);
  ASSERT_TRUE(b.Ok());
  EXPECT_FALSE(b.Add(Key(1).data(), "data", Key(1).data()));
  EXPECT_STREQ(b.Error().Detail(), "Unable to allocate space for page");
  EXPECT_FALSE(b.Close());
}

}  // namespace
