#include "base/pagefile.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/qio.h"
#include "base/qtree.h"
#include "platform/env.h"
#include "tests/base/paged_file_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::PagedFileImage;
using testsupport::PutKeyedPage;
using testsupport::TempDir;

constexpr uint32_t kPlain = 0x1100AAAA;   // no length check
constexpr uint32_t kChecked = 0x2000900;  // length check, longer files pass as they are
constexpr uint32_t kRecount = 0x4000A00;  // length check, longer files are recounted

// Records every positioned read: (offset, count).
class ReadLog : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  int64_t ReadAt(int fd, void* b, size_t n, int64_t o) override {
    reads.emplace_back(o, n);
    if (failAt && *failAt == o) {
      errno = EIO;
      return -1;
    }
    return EnvWrapper::ReadAt(fd, b, n, o);
  }
  std::vector<std::pair<int64_t, size_t>> reads;
  const int64_t* failAt = nullptr;
};

TEST(PageCheckValueTest, SumsBytesShiftedByTheirPlace) {
  std::vector<uint8_t> page(64, 0);
  EXPECT_EQ(QPageCheckValue(page.data(), page.size()), 0);
  page[9] = 0x01;  // 9 mod 8 = 1
  EXPECT_EQ(QPageCheckValue(page.data(), page.size()), 2);
  page[7] = 0xFF;  // 0xFF << 7
  EXPECT_EQ(QPageCheckValue(page.data(), page.size()), 2 + (0xFF << 7));
  // The stored value itself is not summed, and only 16 bits are kept.
  std::vector<uint8_t> full(8192, 0xFF);
  uint32_t sum = 0;
  for (size_t i = 0; i < 8190; ++i) sum += 0xFFu << (i % 8);
  EXPECT_EQ(QPageCheckValue(full.data(), full.size()), uint16_t(sum));
  QPageSetCheckValue(full.data(), full.size());
  EXPECT_TRUE(QPageCheckValueValid(full.data(), full.size()));
  full[100] ^= 1;
  EXPECT_FALSE(QPageCheckValueValid(full.data(), full.size()));
  // Random bytes of any length against the plain sum.
  uint32_t seed = 12345;
  for (size_t size : {2, 3, 9, 17, 2049, 2058, 8192, 65535, 70001}) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    uint32_t plain = 0;
    for (size_t i = 0; i + 2 < size; ++i) plain += uint32_t(bytes[i]) << (i % 8);
    EXPECT_EQ(QPageCheckValue(bytes.data(), size), uint16_t(plain)) << size;
  }
}

TEST(QPagedFileTest, OpensASoundFileAndHandsOutItsPages) {
  TempDir dir;
  PagedFileImage image(kChecked, 512, 256, 3);
  std::string path = dir.Write("sound.pg", image.Seal().Text());
  QError error;
  QPagedFile file(path.c_str(), kChecked, 4, error);
  ASSERT_TRUE(file.IsOpen()) << error.Message() << " " << error.Detail();
  EXPECT_EQ(file.Signature(), kChecked);
  EXPECT_EQ(file.PageCount(), 3u);
  EXPECT_EQ(file.HeaderPageSize(), 512);
  EXPECT_EQ(file.PageSize(), 256);
  for (uint32_t n = 0; n < 3; ++n) {
    const uint8_t* page = file.GetPage(n);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page[0], n + 1);
  }
  EXPECT_EQ(file.GetPage(3), nullptr);
  // The record manager is named after the file's last 8 characters.
  EXPECT_STREQ(file.RecordMgr()->Name(), "sound.pg");
  EXPECT_FALSE(error.HasError());
}

struct Damage {
  const char* name;
  uint32_t signature;
  std::function<void(PagedFileImage&)> damage;  // after sealing
  int32_t code;
  std::string detail;  // "%s" stands for the path
};

TEST(QPagedFileTest, DamagedFilesGiveTheirCodes) {
  // 512-byte header page and 256-byte pages, 4 pages = 1536 bytes.
  const std::vector<Damage> cases = {
      {"another signature", 0x12345678, nullptr, 102, "%s"},
      {"shorter than the header record",
       kPlain, [](PagedFileImage& i) { i.Bytes().resize(200); }, 111, "%s"},
      {"header page smaller than the header record",
       kPlain, [](PagedFileImage& i) {
         QStoreU16LE(i.HeaderPage() + kQPagedHeaderPageSizeOffset, 200);
       }, 111, "%s"},
      {"page size below the check value",
       kPlain, [](PagedFileImage& i) { QStoreU16LE(i.HeaderPage() + kQPagedPageSizeOffset, 1); },
       111, "%s"},
      {"header page check value off by one bit",
       kPlain, [](PagedFileImage& i) { i.HeaderPage()[100] ^= 0x10; }, 111, "%s"},
      {"stored check value zero, computed one not",
       kPlain, [](PagedFileImage& i) { QStoreU16LE(i.HeaderPage() + 510, 0); }, 111, "%s"},
      {"header page runs past the end of the file",
       kPlain, [](PagedFileImage& i) { i.Bytes().resize(400); }, 111, "%s"},
      {"file shorter than its page count says",
       kChecked, [](PagedFileImage& i) { i.Bytes().resize(512 + 3 * 256); }, 111,
       "File %s is too long.  Expected 1536 found 1280 "},
      // 4194305 pages of 256 bytes wrap a 32-bit size to 512 + 256: the file
      // must not pass for one of a single page.
      {"page count that wraps 32 bits",
       kChecked, [](PagedFileImage& i) {
         i.Bytes().resize(512 + 256);
         i.SetPageCount(16777217);
         QPageSetCheckValue(i.HeaderPage(), 512);
       }, 111, "File %s is too long.  Expected 4294968064 found 768 "},
      {"recounted file half a page longer",
       kRecount, [](PagedFileImage& i) { i.Bytes().resize(i.Bytes().size() + 128); }, 111,
       "File %s is too short, expected 1792 found 1664 "},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    PagedFileImage image(c.signature == 0x12345678 ? kPlain : c.signature, 512, 256, 4);
    image.Seal();
    if (c.damage) c.damage(image);
    std::string path = dir.Write("damaged.pg", image.Text());
    QError error;
    QPagedFile file(path.c_str(), c.signature, 4, error);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(error.Code(), c.code);
    std::string detail = c.detail;
    detail.replace(detail.find("%s"), 2, path);
    EXPECT_EQ(error.Detail(), detail);
    EXPECT_NE(std::strstr(error.Location(), "..\\src\\pagefile"), nullptr) << error.Location();
  }
}

TEST(QPagedFileTest, AnotherSignatureFailsBeforeAnyPageIsRead) {
  TempDir dir;
  std::string path = dir.Write("other.pg", PagedFileImage(kPlain, 512, 256, 2).Seal().Text());
  ReadLog log(platform::Env::Current());
  platform::ScopedEnv scope(log);
  QError error;
  QPagedFile file(path.c_str(), kChecked, 4, error);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(error.Code(), 102);
  ASSERT_EQ(log.reads.size(), 1u);
  EXPECT_EQ(log.reads[0], std::make_pair(int64_t(0), size_t(280)));
}

TEST(QPagedFileTest, LongerFilesByKindOfSignature) {
  // Four pages in the file, fewer (or, unchecked, more) in the header.
  const struct {
    const char* name;
    uint32_t signature;
    uint32_t headerCount;
    uint32_t pageCount;
    std::pair<int64_t, size_t> lastRead;
  } cases[] = {
      {"recounted: the footer read is the real last page", kRecount, 3, 4, {512 + 3 * 256, 256}},
      {"other checked signatures pass it as it is", kChecked, 3, 3, {512 + 2 * 256, 256}},
      {"unchecked signatures take any length", kPlain, 99, 99, {0, 512}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PagedFileImage image(c.signature, 512, 256, 4);
    image.SetPageCount(c.headerCount);
    std::string path = dir.Write("longer.pg", image.Seal().Text());
    ReadLog log(platform::Env::Current());
    platform::ScopedEnv scope(log);
    QError error;
    QPagedFile file(path.c_str(), c.signature, 4, error);
    ASSERT_TRUE(file.IsOpen()) << error.Detail();
    EXPECT_EQ(file.PageCount(), c.pageCount);
    EXPECT_EQ(log.reads.back(), c.lastRead);
  }
}

TEST(QPagedFileTest, UnreadableFooter) {
  TempDir dir;
  std::string path = dir.Write("footer.pg", PagedFileImage(kChecked, 512, 256, 3).Seal().Text());
  ReadLog log(platform::Env::Current());
  int64_t lastPage = 512 + 2 * 256;
  log.failAt = &lastPage;
  platform::ScopedEnv scope(log);
  QError error;
  QPagedFile file(path.c_str(), kChecked, 4, error);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(error.Code(), 111);
  EXPECT_EQ(error.Detail(), "Cannot read footer page on file " + path);
}

TEST(QPagedFileTest, MissingFileKeepsTheOpenError) {
  TempDir dir;
  QError error;
  QPagedFile file(dir.File("none.pg").c_str(), kPlain, 4, error);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(error.Code(), ENOENT);
  EXPECT_EQ(file.GetPage(0), nullptr);
}

// A keyed page of 2-byte keys and 1-byte data.
std::vector<uint8_t> KeyedPage(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<uint8_t> page(64, 0);
  PutKeyedPage(page.data(), 64, 2, 1, entries);
  return page;
}

TEST(QIndexedFilePageTest, FindsTheFirstOfEqualKeys) {
  auto bytes = KeyedPage({{"aa", "0"}, {"bb", "1"}, {"bb", "2"}, {"cc", "3"}});
  QIndexedFilePage page;
  page.SetLengths(2, 1);
  EXPECT_EQ(page.Find("aa"), -1);  // no page yet
  page.Attach(bytes.data(), 64);
  EXPECT_EQ(page.EntryCount(), 4u);
  const struct {
    const char* key;
    int32_t index;
  } finds[] = {{"aa", 0}, {"bb", 1}, {"cc", 3}, {"ab", -1}, {"a\x01", -1}, {"zz", -1}};
  for (const auto& f : finds) EXPECT_EQ(page.Find(f.key), f.index) << f.key;
  char key[3] = {}, data[2] = {};
  EXPECT_TRUE(page.GetEntry(3, key, data));
  EXPECT_STREQ(key, "cc");
  EXPECT_STREQ(data, "3");
  EXPECT_TRUE(page.GetEntry(1, nullptr, data));
  EXPECT_STREQ(data, "1");
  EXPECT_FALSE(page.GetEntry(4, key, data));
  EXPECT_FALSE(page.GetEntry(-1, key, data));
  // Keys compare as unsigned bytes.
  auto high = KeyedPage({{"a\x7f", "0"}, {"a\x80", "1"}, {"a\xff", "2"}});
  page.Attach(high.data(), 64);
  EXPECT_EQ(page.Find("a\x80"), 1);
  EXPECT_EQ(page.Find("a\xff"), 2);
}

TEST(QIndexedFilePageTest, DamagedCountsStayInsideThePage) {
  auto bytes = KeyedPage({{"aa", "0"}, {"bb", "1"}});
  QIndexedFilePage page;
  page.SetLengths(2, 1);
  page.Attach(bytes.data(), 64);
  QStoreU32LE(bytes.data() + 4, 0xFFFFFFFF);  // count far beyond the page
  EXPECT_EQ(page.EntryCount(), (62u - 8) / 3);
  EXPECT_EQ(page.Find("zz"), -1);
  QStoreU32LE(bytes.data(), 5000);  // entry area ends past the page
  EXPECT_EQ(page.EntryCount(), 0u);
  EXPECT_FALSE(page.GetEntry(0, nullptr, nullptr));
  QStoreU32LE(bytes.data(), 4);  // ends before the page's own words
  EXPECT_EQ(page.EntryCount(), 0u);
  page.SetLengths(0, 0);
  QStoreU32LE(bytes.data(), 62);
  EXPECT_EQ(page.EntryCount(), 0u);
}

TEST(QIndexedFileTest, PositionsNumberEntriesFromZero) {
  EXPECT_EQ(QPositionMake(5, 7), 5u * 262144 + 7);
  EXPECT_EQ(QPositionPage(5u * 262144 + 7), 7u);
  EXPECT_EQ(QPositionEntry(5u * 262144 + 7), 5u);
  EXPECT_EQ(QPositionMake(0x3FFF, 262143), 0xFFFFFFFFu);
}

// An indexed file of 256-byte pages with 4-byte keys and 2-byte data, and a
// key tree (4-byte keys, u32 page numbers) from each page's first key.
class IndexedFileFixture : public ::testing::Test {
 protected:
  using Page = std::vector<std::pair<std::string, std::string>>;

  std::string Make(uint32_t signature, const std::vector<Page>& pages) {
    PagedFileImage image(signature, 512, 256, uint32_t(pages.size()));
    QStoreU32LE(image.HeaderPage() + kQIndexedKeyLengthOffset, 4);
    QStoreU32LE(image.HeaderPage() + kQIndexedDataLengthOffset, 2);
    for (size_t n = 0; n < pages.size(); ++n)
      PutKeyedPage(image.Page(uint32_t(n)), 256, 4, 2, pages[n]);
    image.Seal();
    path_ = dir_.Write("keyed.pg", image.Text());
    // The tree goes behind the pages.
    QError error;
    QioFile out(path_.c_str(), error);
    EXPECT_TRUE(out.WriteAt(0, uint32_t(image.Bytes().size()), image.Bytes().data()));
    QTreeBuild tree(error, dir_.path());
    tree.SetKeyLength(4);
    tree.SetDataLength(4);
    tree.SetPageSize(256);
    tree.SetCompare([](void*, const void* a, const void* b) { return std::memcmp(a, b, 4); },
                    nullptr);
    for (size_t n = 0; n < pages.size(); ++n) {
      uint8_t page[4];
      QStoreU32LE(page, uint32_t(n));
      std::string key = pages[n].front().first;
      EXPECT_TRUE(tree.Add(key.data(), page));
    }
    root_ = tree.Write(out);
    EXPECT_GT(root_, 0);
    return path_;
  }

  TempDir dir_;
  std::string path_;
  int64_t root_ = -1;
};

TEST_F(IndexedFileFixture, FindsKeysAcrossPages) {
  Make(kPlain, {{{"aaaa", "p0"}, {"aaaa", "p0"}, {"aaaa", "p0"}},
                {{"aaaa", "p1"}, {"bbbb", "p1"}, {"cccc", "p1"}},
                {{"dddd", "p2"}, {"eeee", "p2"}}});
  QError error;
  QIndexedFile file(path_.c_str(), kPlain, 8, nullptr, &error);
  ASSERT_TRUE(file.IsOpen()) << error.Detail();
  EXPECT_EQ(file.Page().KeyLength(), 4u);
  EXPECT_EQ(file.Page().DataLength(), 2u);
  uint32_t position = 0;
  EXPECT_FALSE(file.Find("aaaa", &position));  // no index yet
  ASSERT_TRUE(file.OpenIndex(uint64_t(root_)));

  // Equal keys run on into the next page.
  ASSERT_TRUE(file.Find("aaaa", &position));
  EXPECT_EQ(position, QPositionMake(0, 0));
  std::vector<uint32_t> walk;
  while (file.FindNext("aaaa", &position, 0)) walk.push_back(position);
  EXPECT_EQ(walk, (std::vector<uint32_t>{QPositionMake(1, 0), QPositionMake(2, 0),
                                         QPositionMake(0, 1)}));
  EXPECT_EQ(position, QPositionMake(1, 1));  // the first different entry

  const struct {
    const char* key;
    bool found;
    uint32_t position;
  } finds[] = {
      {"cccc", true, QPositionMake(2, 1)},  {"dddd", true, QPositionMake(0, 2)},
      {"eeee", true, QPositionMake(1, 2)},
      // Absent keys: the tree names the page before them; the search goes on
      // to the first entry of the next page and stops there.
      {"bbbc", false, QPositionMake(0, 2)}, {"zzzz", false, QPositionMake(0x3FFF, 2)},
      // Before the first key of the tree: nothing to look at.
      {"AAAA", false, 0},
  };
  for (const auto& f : finds) {
    position = 0;
    EXPECT_EQ(file.Find(f.key, &position), f.found) << f.key;
    EXPECT_EQ(position, f.position) << f.key;
  }
  // Mode 1 looks one further and leaves the position past an equal entry.
  position = QPositionMake(1, 0);
  EXPECT_TRUE(file.FindNext("aaaa", &position, 1));
  EXPECT_EQ(position, QPositionMake(3, 0));
  EXPECT_FALSE(error.HasError());
}

TEST_F(IndexedFileFixture, DamagedHeadersAndMissingErrorRecords) {
  Make(kPlain, {{{"aaaa", "p0"}}});
  {
    // Entry lengths that cannot fit a page.
    std::string bytes = testsupport::ReadAll(path_);
    auto* header = reinterpret_cast<uint8_t*>(bytes.data());
    QStoreU32LE(header + kQIndexedKeyLengthOffset, 0xFFFFFFF0);
    QStoreU32LE(header + kQIndexedDataLengthOffset, 0x20);
    QPageSetCheckValue(header, 512);
    std::string path = dir_.Write("lengths.pg", bytes);
    QError error;
    QIndexedFile file(path.c_str(), kPlain, 8, nullptr, &error);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(error.Code(), 111);
    uint32_t position;
    EXPECT_FALSE(file.OpenIndex(uint64_t(root_)));
    EXPECT_FALSE(file.Find("aaaa", &position));
  }
  {
    // Without an error record of the caller's, the first failure throws.
    try {
      QIndexedFile file(path_.c_str(), kChecked, 8, nullptr, nullptr);
      FAIL() << "no exception";
    } catch (const QError& caught) {
      EXPECT_EQ(caught.Code(), 102);
      EXPECT_EQ(caught.Detail(), path_);
    }
  }
  {
    // A tree position that is no tree.
    QError error;
    QIndexedFile file(path_.c_str(), kPlain, 8, nullptr, &error);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_FALSE(file.OpenIndex(100));
    EXPECT_EQ(error.Code(), 111);
  }
}

// A derived file with its own key order, as readers of particular files make.
class CaseBlindFile : public QIndexedFile {
 public:
  using QIndexedFile::QIndexedFile;
  int Compare(const void* key, const void* entryKey) override {
    return QTreeKeyCompare(key, entryKey, 4);
  }
};

class CaseBlindPage : public QIndexedFilePage {
 public:
  int Compare(const void* key, const void* entryKey) const override {
    return QTreeKeyCompare(key, entryKey, 4);
  }
};

TEST_F(IndexedFileFixture, DerivedKeyOrderReachesTreeAndPages) {
  Make(kPlain, {{{"aaaa", "p0"}, {"bbbb", "p0"}}, {{"cccc", "p1"}}});
  QError error;
  CaseBlindPage page;
  CaseBlindFile file(path_.c_str(), kPlain, 8, &page, &error);
  ASSERT_TRUE(file.OpenIndex(uint64_t(root_)));
  uint32_t position = 0;
  EXPECT_TRUE(file.Find("CCCC", &position));
  EXPECT_EQ(position, QPositionMake(0, 1));
  EXPECT_TRUE(file.Find("BbBb", &position));
  EXPECT_EQ(position, QPositionMake(1, 0));
}

}  // namespace
