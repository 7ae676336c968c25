#include "base/qtree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/pagefile.h"
#include "base/qio.h"
#include "platform/env.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

struct Record {
  std::string key;  // 8 bytes
  uint64_t data;
};

std::string Key(const std::string& text) {
  std::string key = text;
  key.resize(8, '\0');
  return key;
}

// count records with the keys format(key(i)) and data i.
template <class KeyOf>
std::vector<Record> Numbered(int count, const char* format, KeyOf key) {
  std::vector<Record> records;
  for (int i = 0; i < count; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, format, key(i));
    records.push_back({Key(text), uint64_t(i)});
  }
  return records;
}
std::vector<Record> Numbered(int count, const char* format) {
  return Numbered(count, format, [](int i) { return i; });
}

// The search key's text (at most 8 characters) against the start of the
// entry key, ignoring case.
int PrefixCompare(void*, const void* key, const void* entryKey) {
  return QTreeKeyCompare(key, entryKey, strnlen(static_cast<const char*>(key), 8));
}

// Files left in a folder, apart from the names given.
std::vector<std::string> Leftovers(const std::string& folder, std::vector<std::string> keep) {
  std::vector<std::string> names;
  platform::Env::Current().ListDirectory(folder, &names);
  std::vector<std::string> left;
  for (const auto& n : names)
    if (std::find(keep.begin(), keep.end(), n) == keep.end()) left.push_back(n);
  return left;
}

// Builds a tree of 8-byte keys and 8-byte data in 1024-byte pages behind a
// prefix of the output file; the temporary files go to a folder of their own.
class TreeFixture : public ::testing::Test {
 protected:
  int64_t Build(const std::vector<Record>& records, size_t prefix = 0) {
    path_ = dir_.File("tree.out");
    QioFile out(path_.c_str(), error_);
    if (prefix) out.Fill(0, int64_t(prefix));
    std::string temp = dir_.File("temp");
    platform::Env::Current().MakeDirectory(temp);
    QTreeBuild build(error_, temp);
    build.SetProgress(
        [](void* context, const char* text, int value) {
          static_cast<TreeFixture*>(context)->progress_.emplace_back(text, value);
        },
        this);
    for (const Record& r : records) {
      uint8_t data[8];
      QStoreU64LE(data, r.data);
      EXPECT_TRUE(build.Add(r.key.data(), data));
    }
    needsSort_ = build.NeedsSort();
    int64_t root = build.Write(out);
    EXPECT_TRUE(Leftovers(temp, {}).empty()) << "temporary files left after Write";
    return root;
  }

  // Opens the tree just built; keys compare as prefixes, so the empty key
  // finds the first entry.
  std::unique_ptr<QTree> Open(int64_t root, QTreeCompare compare = &PrefixCompare) {
    file_ = std::make_unique<QFile>(error_, path_.c_str(), QFile::kRead);
    return std::make_unique<QTree>("test", *file_, uint64_t(root), compare, nullptr, error_);
  }

  std::vector<uint8_t> Node(int64_t offset) {
    std::string bytes = testsupport::ReadAll(path_);
    return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + 1024);
  }

  // Walks the whole tree from its first entry.
  std::vector<Record> Walk(QTree& tree) {
    std::vector<Record> out;
    char key[8];
    uint8_t data[8];
    if (!tree.Find("", key, data, true)) return out;
    do out.push_back({std::string(key, 8), QLoadU64LE(data)});
    while (tree.FindNext(key, data));
    return out;
  }

  TempDir dir_;
  QError error_;
  std::string path_;
  std::unique_ptr<QFile> file_;
  std::vector<std::pair<std::string, int>> progress_;
  bool needsSort_ = false;
};

TEST_F(TreeFixture, HundredRecordsFillOneLeafAndPartOfAnother) {
  int64_t root = Build(Numbered(100, "key%03d"), 100);
  // Padded to a page, then two leaves, then the root.
  ASSERT_EQ(root, 3 * 1024);
  EXPECT_FALSE(needsSort_);
  auto leaf0 = Node(1024), leaf1 = Node(2048), top = Node(3072);
  const struct {
    const char* name;
    std::vector<uint8_t>* node;
    uint16_t count, level;
    uint8_t flags, dataLength;
  } nodes[] = {{"first leaf", &leaf0, 63, 0, 2 | 4, 8},
               {"second leaf", &leaf1, 37, 0, 2 | 8, 8},
               {"root", &top, 2, 1, 1 | 4 | 8, 8}};
  for (const auto& n : nodes) {
    SCOPED_TRACE(n.name);
    const uint8_t* p = n.node->data();
    EXPECT_EQ(QLoadU16LE(p), n.count);
    EXPECT_EQ(QLoadU16LE(p + 2), 1024);
    EXPECT_EQ(QLoadU16LE(p + 4), n.level);
    EXPECT_EQ(p[6], n.flags);
    EXPECT_EQ(p[7], 0);
    EXPECT_EQ(p[8], 8);
    EXPECT_EQ(p[9], n.dataLength);
    EXPECT_EQ(QLoadU16LE(p + 10), 0);
    EXPECT_TRUE(QPageCheckValueValid(p, 1024));
    // Nothing after the entries but the check value.
    EXPECT_TRUE(std::all_of(p + 12 + n.count * 16, p + 1022, [](uint8_t b) { return b == 0; }));
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&leaf1[12]), 8), Key("key063"));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&top[12]), 8), Key("key000"));
  EXPECT_EQ(QLoadU64LE(&top[20]), 1024u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&top[28]), 8), Key("key063"));
  EXPECT_EQ(QLoadU64LE(&top[36]), 2048u);
  std::vector<std::pair<std::string, int>> expected = {
      {"Level 0", 0}, {"Level 0", 6300}, {"Level 1", 0}};
  EXPECT_EQ(progress_, expected);
}

TEST_F(TreeFixture, SmallTreesAreOneLeaf) {
  // One record: the leaf is the root with flags 2 + 4 + 8.
  int64_t root = Build({{Key("only"), 42}});
  EXPECT_EQ(root, 0);
  EXPECT_EQ(Node(0)[6], 2 | 4 | 8);
  auto tree = Open(root, nullptr);  // the default key order
  ASSERT_TRUE(tree->IsOpen());
  char key[8];
  uint8_t data[8];
  EXPECT_TRUE(tree->Find("ONLY", key, data, false));
  EXPECT_EQ(QLoadU64LE(data), 42u);
  EXPECT_FALSE(tree->FindNext(key, data));
  EXPECT_FALSE(tree->Find("other", key, data, false));
  EXPECT_FALSE(tree->FindNext(key, data));  // no current entry

  // No records: an empty root leaf that finds nothing.
  root = Build({});
  EXPECT_EQ(QLoadU16LE(Node(root).data()), 0);
  EXPECT_EQ(Node(root)[6], 2 | 4 | 8);
  tree = Open(root);
  ASSERT_TRUE(tree->IsOpen());
  EXPECT_FALSE(tree->Find("", key, data, true));
}

// Keys in random order, found one by one and walked in key order.
TEST_F(TreeFixture, FindsEveryKeyOfTreesOfManySizes) {
  for (int size : {1, 63, 64, 100, 100000}) {
    SCOPED_TRACE(size);
    std::vector<Record> records = Numbered(size, "K%07d", [](int i) { return i * 7; });
    std::vector<Record> shuffled = records;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(size));
    int64_t root = Build(shuffled);
    ASSERT_GE(root, 0) << error_.Detail();
    EXPECT_EQ(needsSort_, size > 1);
    auto tree = Open(root);
    ASSERT_TRUE(tree->IsOpen());
    EXPECT_EQ(tree->RootLevel(), size <= 63 ? 0 : (size <= 63 * 63 ? 1 : 2));
    std::vector<Record> walked = Walk(*tree);
    ASSERT_EQ(walked.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      ASSERT_EQ(walked[i].key, records[i].key);
      ASSERT_EQ(walked[i].data, records[i].data);
    }
    std::mt19937 pick(size + 1);
    for (int n = 0; n < 200; ++n) {
      const Record& r = records[pick() % records.size()];
      char key[8];
      uint8_t data[8];
      ASSERT_TRUE(tree->Find(r.key.data(), key, data, n % 2 == 0));
      EXPECT_EQ(QLoadU64LE(data), r.data);
    }
    // Between two keys: not there exactly; with first set, the entry before.
    char key[8];
    uint8_t data[8];
    EXPECT_FALSE(tree->Find("K0000001", key, data, false));
    EXPECT_TRUE(tree->Find("K0000001", key, data, true));
    EXPECT_EQ(std::string(key, 8), Key("K0000000"));
    EXPECT_FALSE(tree->Find("A", key, data, true));  // before the first key
  }
}

TEST_F(TreeFixture, SortedAndShuffledInputGiveTheSameBytes) {
  std::vector<Record> records = Numbered(5000, "n%06d");
  Build(records);
  std::string sorted = testsupport::ReadAll(path_);
  std::shuffle(records.begin(), records.end(), std::mt19937(3));
  progress_.clear();
  Build(records);
  EXPECT_EQ(testsupport::ReadAll(path_), sorted);
  ASSERT_GE(progress_.size(), 3u);
  EXPECT_EQ(progress_[0], std::make_pair(std::string("Sorting"), 0));
  auto complete = std::find(progress_.begin(), progress_.end(),
                            std::make_pair(std::string("Sort complete"), 10000));
  ASSERT_NE(complete, progress_.end());
  EXPECT_EQ((complete + 1)->first, "Level 0");
}

TEST_F(TreeFixture, EqualKeysStraddlingLeavesAreFoundFromTheFirst) {
  // Leaf 0 holds 63 entries: 61 distinct keys, then two of "dup"; the third
  // "dup" opens leaf 1.
  std::vector<Record> records = Numbered(61, "a%03d");
  for (int i = 0; i < 3; ++i) records.push_back({Key("dup"), uint64_t(100 + i)});
  records.push_back({Key("zzz"), 200});
  int64_t root = Build(records);
  auto tree = Open(root);
  char key[8];
  uint8_t data[8];
  ASSERT_TRUE(tree->Find("DUP", key, data, true));
  EXPECT_EQ(QLoadU64LE(data), 100u);
  EXPECT_EQ(tree->CurrentPage(), 0);
  ASSERT_TRUE(tree->FindNext(key, data));
  EXPECT_EQ(QLoadU64LE(data), 101u);
  ASSERT_TRUE(tree->FindNext(key, data));
  EXPECT_EQ(QLoadU64LE(data), 102u);
  EXPECT_EQ(tree->CurrentPage(), 1);
  ASSERT_TRUE(tree->FindNext(key, data));
  EXPECT_EQ(QLoadU64LE(data), 200u);
  // Without first, any equal entry will do: the one the inner node leads to.
  ASSERT_TRUE(tree->Find("dup", key, data, false));
  EXPECT_EQ(QLoadU64LE(data), 102u);

  // 200 equal keys over several leaves and across the boundary of two
  // level-1 nodes (each covers 63 x 63 = 3969 records) keep the order they
  // were added in, and the first is found.
  records = Numbered(20000, "k%05d", [](int i) { return (i >= 3900 && i < 4100) ? 3900 : i; });
  std::reverse(records.begin(), records.end());
  root = Build(records);
  tree = Open(root);
  ASSERT_EQ(tree->RootLevel(), 2);
  ASSERT_TRUE(tree->Find("k03900", key, data, true));
  std::vector<uint64_t> found = {QLoadU64LE(data)};
  while (tree->FindNext(key, data) && std::string(key, 6) == "k03900")
    found.push_back(QLoadU64LE(data));
  std::vector<uint64_t> expected;
  for (int i = 4099; i >= 3900; --i) expected.push_back(uint64_t(i));
  EXPECT_EQ(found, expected);
}

TEST_F(TreeFixture, KeysCompareAsAsciiTextsWithinTheirEightBytes) {
  // Keys that fill all 8 bytes compare on those 8 bytes only: equal ones
  // keep their order whatever their data; case is folded, other bytes are
  // compared as unsigned, a zero ends the text.
  std::vector<Record> records = {
      {Key("ZZZZZZZZ"), 1}, {"abcdefgh", 2},        {"ABCDEFGH", 3},
      {Key("\xe9t\xe9"), 4}, {Key("ab\0xyz"), 5},  {Key("AB\0qqq"), 6},
      {Key("_"), 7},        {Key("a"), 8},
  };
  records[4].key = std::string("ab\0xyz\0\0", 8);
  records[5].key = std::string("AB\0qqq\0\0", 8);
  Build(records);
  auto tree = Open(0);
  std::vector<uint64_t> order;
  for (const Record& r : Walk(*tree)) order.push_back(r.data);
  // '_' (0x5F) sorts before 'a' because letters fold to lower case.
  EXPECT_EQ(order, (std::vector<uint64_t>{7, 8, 5, 6, 2, 3, 1, 4}));

  EXPECT_EQ(QTreeKeyCompare("abc", "ABD", 3), -1);
  EXPECT_EQ(QTreeKeyCompare("abc\0zz", "ABC\0aa", 6), 0);
  EXPECT_EQ(QTreeKeyCompare("ABCDEFGHxx", "abcdefghyy", 8), 0);
  EXPECT_EQ(QTreeKeyCompare("\xc9", "\xe9", 1), -1);  // no folding beyond ASCII
}

TEST_F(TreeFixture, CallerAreaOfALeaf) {
  int64_t root = Build({{Key("a"), 1}, {Key("b"), 2}});
  std::string bytes = testsupport::ReadAll(path_);
  bytes[7] = 1;
  bytes.replace(12 + 2 * 16, 4, "MARK");  // right after the two entries
  dir_.Write("tree.out", bytes);
  auto tree = Open(root);
  char key[8];
  uint8_t data[8];
  ASSERT_TRUE(tree->Find("a", key, data, false));
  ASSERT_NE(tree->CallerArea(), nullptr);
  EXPECT_EQ(std::memcmp(tree->CallerArea(), "MARK", 4), 0);
  tree = Open(Build({{Key("a"), 1}}));
  ASSERT_TRUE(tree->Find("a", key, data, false));
  EXPECT_EQ(tree->CallerArea(), nullptr);
}

TEST_F(TreeFixture, DamagedTreesAreRefused) {
  const int64_t root = Build(Numbered(200, "r%04d"));  // leaves at 0-3, root at 4096
  ASSERT_EQ(root, 4 * 1024);
  const std::string sound = testsupport::ReadAll(path_);
  const struct {
    const char* name;
    int64_t root;
    size_t at;   // byte to change
    int width;   // 1, 2 or 8
    uint64_t value;
    bool opens;  // the root itself is sound
  } cases[] = {
      {"root not on a page boundary", root + 8, 0, 0, 0, false},
      {"root past the end of the file", root + 1024, 0, 0, 0, false},
      {"root page size of 0", root, size_t(root) + 2, 2, 0, false},
      {"root key length of 0", root, size_t(root) + 8, 1, 0, false},
      {"root with a leaf's flags", root, size_t(root) + 6, 1, 2 | 4 | 8, false},
      {"root count beyond its page", root, size_t(root), 2, 1000, false},
      {"root level beyond any tree", root, size_t(root) + 4, 2, 60000, false},
      {"child offset past the file", root, size_t(root) + 12 + 8 + 16, 8, 1u << 30, true},
      {"child offset inside a page", root, size_t(root) + 12 + 8 + 16, 8, 1024 + 3, true},
      {"leaf of another level", root, 1024 + 4, 2, 1, true},
      {"leaf of another data length", root, 1024 + 9, 1, 4, true},
      {"leaf count beyond its page", root, 1024, 2, 64, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = sound;
    for (int i = 0; i < c.width; ++i) bytes[c.at + i] = char(c.value >> (8 * i));
    dir_.Write("tree.out", bytes);
    error_.Clear();
    auto tree = Open(c.root);
    EXPECT_EQ(tree->IsOpen(), c.opens);
    // Walk everything: a damaged page stops the walk with 111, never a crash.
    char key[8];
    uint8_t data[8];
    bool found = tree->Find("r0100", key, data, false);
    while (tree->FindNext(key, data)) {
    }
    EXPECT_FALSE(found && !c.opens);
    EXPECT_EQ(error_.Code(), 111);
  }
}

TEST_F(TreeFixture, LayoutsThatCannotNarrowAreRefused) {
  QTreeBuild build(error_, dir_.path());
  build.SetKeyLength(200);
  build.SetPageSize(400);  // an inner node could hold only one entry
  EXPECT_FALSE(build.Add("k", "d"));
  EXPECT_EQ(error_.Code(), 106);
  QioFile out(dir_.File("x").c_str(), error_);
  EXPECT_EQ(build.Write(out), -1);
}

TEST_F(TreeFixture, TemporaryFilesGoEvenWhenWriteFails) {
  std::string temp = dir_.File("temp");
  platform::Env::Current().MakeDirectory(temp);
  {
    QTreeBuild build(error_, temp);
    for (int i = 0; i < 1000; ++i) {
      char key[8] = {char('z' - i % 26), char('a' + i % 7)};
      uint8_t data[8] = {};
      ASSERT_TRUE(build.Add(key, data));
    }
    EXPECT_EQ(Leftovers(temp, {}).size(), 1u);  // the record file
    QioFile out(dir_.File("no-such-folder/out").c_str(), error_);
    EXPECT_EQ(build.Write(out), -1);
  }
  EXPECT_TRUE(Leftovers(temp, {}).empty());
}

}  // namespace
