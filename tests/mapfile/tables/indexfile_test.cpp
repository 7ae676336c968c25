// The .IND file of field indexes: the header of a new file, key bytes per
// field type, page splits and merges, the 29-entry limit, cursors, random
// inserts and deletes against a sorted model with a checker of the tree's
// invariants read from the file's bytes, damaged files and the collation
// check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/file_fixture.h"
#include "mapfile/tables/fieldindex.h"

namespace {

using namespace layerio;

// ----- values -----

struct Val {
  Value v{};
  Val() = default;
  Val(const Val&) = delete;
  Val& operator=(const Val&) = delete;
  ~Val() { ValueFree(&v); }
};

void SetInt(Val& x, int32_t n) { ValueSet(&x.v, kValueInteger, n); }
void SetText(Val& x, const char* s) {
  ValueFree(&x.v);
  ValueSet(&x.v, kValueText, s);
}
void SetDouble(Val& x, double d) { ValueSet(&x.v, kValueFloat, d); }

std::string Hex(const uint8_t* b, int n) {
  std::string s;
  char t[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(t, sizeof t, i ? " %02X" : "%02X", b[i]);
    s += t;
  }
  return s;
}

// ----- the file's bytes -----

uint32_t U32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}
uint16_t U16(const std::string& s, size_t at) {
  return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = char(v >> (8 * i));
}
void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = char(v);
  s[at + 1] = char(v >> 8);
}

struct TreeEntry {
  uint32_t root;
  uint16_t maxKeys;
  uint8_t depth;
  uint8_t keyLength;
};
TreeEntry EntryOf(const std::string& s, int number) {
  size_t at = 48 + size_t(number - 1) * 16;
  return {U32(s, at), U16(s, at + 4), uint8_t(s[at + 6]), uint8_t(s[at + 7])};
}

// Checks one tree of a file image: pages inside the file and used once,
// counts within the maximum and above half of it outside the root, every
// level a doubly linked list in key order, each separator the first key of
// its child's subtree. Gives "" or the first fault; the leaf entries in
// order go to *leaves.
class TreeChecker {
 public:
  TreeChecker(const std::string& image, int number, std::set<uint32_t>* used)
      : s_(image), used_(used) {
    e_ = EntryOf(s_, number);
    K_ = e_.keyLength;
    E_ = K_ + 4;
  }

  std::string Run(std::vector<std::pair<std::string, uint32_t>>* leaves) {
    leaves_ = leaves;
    levels_.assign(e_.depth, {});
    std::string first;
    std::string fault = Visit(e_.root, 0, true, &first);
    if (!fault.empty()) return fault;
    for (int level = 0; level < e_.depth; ++level) {
      const std::vector<uint32_t>& pages = levels_[size_t(level)];
      for (size_t i = 0; i < pages.size(); ++i) {
        uint32_t prev = U32(s_, pages[i] + 4), next = U32(s_, pages[i] + 8);
        if (prev != (i ? pages[i - 1] : 0) || next != (i + 1 < pages.size() ? pages[i + 1] : 0)) {
          return "level " + std::to_string(level) + " links at page " + std::to_string(pages[i]);
        }
      }
    }
    for (size_t i = 1; i < leaves->size(); ++i) {
      if ((*leaves)[i - 1].first > (*leaves)[i].first) return "leaf keys out of order";
    }
    return "";
  }

 private:
  std::string Key(uint32_t page, uint32_t i) const {
    return s_.substr(page + 12 + size_t(i) * E_, size_t(K_));
  }
  uint32_t Value(uint32_t page, uint32_t i) const {
    return U32(s_, page + 12 + size_t(i) * E_ + K_);
  }

  std::string Visit(uint32_t page, int level, bool leftmost, std::string* firstKey) {
    if (page < 512 || page % 512 || page + 512 > s_.size()) return "page outside the file";
    if (!used_->insert(page).second) return "page used twice: " + std::to_string(page);
    levels_[size_t(level)].push_back(page);
    uint32_t n = U32(s_, page);
    if (n > e_.maxKeys) return "count above the maximum";
    if (level > 0 && n <= e_.maxKeys / 2u) {
      return "underfull page at level " + std::to_string(level);
    }
    if (level == 0 && e_.depth > 1 && n < 2) return "root above the leaves with one entry";
    if (level + 1 == e_.depth) {
      for (uint32_t i = 0; i < n; ++i) leaves_->push_back({Key(page, i), Value(page, i)});
      *firstKey = n ? Key(page, 0) : std::string();
      return "";
    }
    for (uint32_t i = 0; i < n; ++i) {
      std::string childFirst;
      std::string fault = Visit(Value(page, i), level + 1, leftmost && i == 0, &childFirst);
      if (!fault.empty()) return fault;
      if (i == 0) *firstKey = childFirst;
      if ((i > 0 || !leftmost) && Key(page, i) != childFirst) {
        return "separator " + std::to_string(i) + " of page " + std::to_string(page) +
               " differs from its child's first key";
      }
    }
    return "";
  }

  const std::string& s_;
  std::set<uint32_t>* used_;
  TreeEntry e_;
  int K_, E_;
  std::vector<std::vector<uint32_t>> levels_;
  std::vector<std::pair<std::string, uint32_t>>* leaves_ = nullptr;
};

// Every page of the file is the header, a page of one tree or on the free
// list, exactly once.
using Leaves = std::vector<std::pair<std::string, uint32_t>>;

std::string CheckFile(const std::string& s, std::vector<Leaves>* trees) {
  if (s.size() < 512 || s.size() % 512) return "file length " + std::to_string(s.size());
  std::set<uint32_t> used;
  uint16_t count = U16(s, 12);
  trees->assign(count, {});
  for (int n = 1; n <= count; ++n) {
    if (EntryOf(s, n).root == 0) continue;
    std::string fault = TreeChecker(s, n, &used).Run(&(*trees)[size_t(n - 1)]);
    if (!fault.empty()) return "index " + std::to_string(n) + ": " + fault;
  }
  for (uint32_t page = U32(s, 8); page != 0; page = U32(s, page + 8)) {
    if (page < 512 || page % 512 || page + 512 > s.size()) return "free page outside the file";
    if (!used.insert(page).second) return "free page used twice";
  }
  if ((used.size() + 1) * 512 != s.size()) {
    return "file of " + std::to_string(s.size() / 512) + " pages, " +
           std::to_string(used.size() + 1) + " accounted for";
  }
  return "";
}

// ----- fixture -----

class IndexFileTest : public mapfiletest::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    ASSERT_EQ(NormTablesInit(), 1);
  }
  void TearDown() override {
    for (FieldIndex* x : indexes_) {
      IndexKeyFree(&x->key);
      delete x;
    }
    IndexCacheSetPageLimit(65536);
    State().systemCharset = kDefaultSystemCharset;
    NormTablesInit();
    FileLayerTest::TearDown();
  }

  IndexFile* Create(const char* name = "T") {
    IndexFile* f = IndexFileCreate(name, dir_.path().c_str(), kFileKindIndex, 0);
    EXPECT_NE(f, nullptr);
    return f;
  }
  std::string IndPath(const char* name = "T") { return PathOf(std::string(name) + ".IND"); }
  IndexFile* Open(const std::string& path, int mode = kFileModeWrite) {
    FileHandle h = FileTableFind(path.c_str(), kFileKindIndex);
    if (!h) h = FileTableAddName(path.c_str(), kFileKindIndex);
    EXPECT_NE(h, 0);
    return IndexFileOpen(h, mode);
  }
  FieldIndex* Bind(int number, uint8_t type, int width, int unique = 0, int decimals = 0) {
    auto* x = new FieldIndex{};
    x->number = uint16_t(number);
    x->unique = uint8_t(unique);
    EXPECT_EQ(IndexKeyInitForField(&x->key, type, width), 1);
    x->key.decimals = uint8_t(decimals);
    indexes_.push_back(x);
    return x;
  }
  FieldIndex* Add(IndexFile* f, uint8_t type, int width, int unique = 0) {
    int n = IndexAdd(f, type, width, unique);
    EXPECT_GT(n, 0);
    return Bind(n, type, width, unique);
  }
  static int16_t InsertInt(IndexFile* f, FieldIndex* x, int32_t n, uint32_t row) {
    Val v;
    SetInt(v, n);
    return IndexInsert(f, x, &v.v, row);
  }
  static int16_t DeleteInt(IndexFile* f, FieldIndex* x, int32_t n, uint32_t row) {
    Val v;
    SetInt(v, n);
    return IndexDelete(f, x, &v.v, row);
  }
  static int16_t InsertText(IndexFile* f, FieldIndex* x, const char* s, uint32_t row) {
    Val v;
    SetText(v, s);
    return IndexInsert(f, x, &v.v, row);
  }
  static int16_t SeekInt(IndexFile* f, FieldIndex* x, int32_t n, int move = kIndexSeek,
                         int* equal = nullptr) {
    Val v;
    SetInt(v, n);
    EXPECT_EQ(IndexKeyMake(&v.v, &x->key, 0, f->stamp), 1);
    return IndexMoveCursor(f, x, move, equal);
  }
  // Rows of a walk from the first entry on.
  static std::vector<uint32_t> Walk(IndexFile* f, FieldIndex* x, int first = kIndexFirst,
                                    int step = kIndexNext) {
    std::vector<uint32_t> rows;
    for (int16_t r = IndexMoveCursor(f, x, first, nullptr); r == 1;
         r = IndexMoveCursor(f, x, step, nullptr)) {
      rows.push_back(x->key.row);
      if (rows.size() > 1000000) break;
    }
    return rows;
  }
  std::string Image(IndexFile* f, const char* name = "T") {
    EXPECT_EQ(IndexFileFlush(f), 1);
    EXPECT_EQ(FileCacheFlush(f->file), 1);
    return testsupport::ReadAll(IndPath(name));
  }

  std::vector<FieldIndex*> indexes_;
};

TEST_F(IndexFileTest, NewFileIsOneHeaderPage) {
  IndexFile* f = Create();
  ASSERT_NE(f, nullptr);
  IndexFileClose(f);
  std::string s = testsupport::ReadAll(IndPath());
  ASSERT_EQ(s.size(), 512u);
  EXPECT_EQ(U32(s, 0), 24242424u);
  EXPECT_EQ(U16(s, 4), 100);
  EXPECT_EQ(U16(s, 6), 512);
  EXPECT_EQ(U32(s, 8), 0u);
  EXPECT_EQ(U16(s, 12), 0);
  EXPECT_EQ(U16(s, 14), NormStamp(1));
  EXPECT_EQ(U16(s, 16), 10);
  EXPECT_EQ(U16(s, 18), NormStamp(2));
  EXPECT_EQ(s.substr(20), std::string(492, '\0'));
}

TEST_F(IndexFileTest, TemporaryFileGoesAtClose) {
  IndexFile* f = IndexFileCreate(nullptr, dir_.path().c_str(), kFileKindIndex, 1);
  ASSERT_NE(f, nullptr);
  char path[kPathCapacity];
  FilePath(f->file, path);
  FieldIndex* x = Add(f, kFieldInteger, 4);
  EXPECT_EQ(InsertInt(f, x, 5, 1), 1);
  EXPECT_GT(testsupport::ReadAll(path).size(), 0u);
  IndexFileClose(f);
  FileStatRec st;
  EXPECT_NE(FileStat(path, &st), 0);
}

// ----- keys -----

struct KeyCase {
  const char* name;
  uint8_t type;
  int width;
  int decimals;
  uint8_t valueKind;
  double number;
  const char* text;
  const char* bytes;
};

TEST_F(IndexFileTest, KeyBytesPerType) {
  const uint8_t* norm = NormTable(1);
  ASSERT_NE(norm, nullptr);
  char ab[64];
  std::snprintf(ab, sizeof ab, "%02X %02X 00 00 00", norm['a'], norm['b']);
  const KeyCase cases[] = {
      {"integer -5", kFieldInteger, 4, 0, kValueInteger, -5, nullptr, "7F FF FF FB"},
      {"integer 0", kFieldInteger, 4, 0, kValueInteger, 0, nullptr, "80 00 00 00"},
      {"integer 7", kFieldInteger, 4, 0, kValueInteger, 7, nullptr, "80 00 00 07"},
      {"integer from text", kFieldInteger, 4, 0, kValueText, 0, "7", "80 00 00 07"},
      {"smallint -1", kFieldSmallint, 2, 0, kValueInteger, -1, nullptr, "7F FF"},
      {"smallint 258", kFieldSmallint, 2, 0, kValueInteger, 258, nullptr, "81 02"},
      {"float 2", kFieldFloat, 8, 0, kValueFloat, 2, nullptr, "C0 00 00 00 00 00 00 00"},
      {"float 0", kFieldFloat, 8, 0, kValueFloat, 0, nullptr, "80 00 00 00 00 00 00 00"},
      {"float -0 keys as 0", kFieldFloat, 8, 0, kValueFloat, -0.0, nullptr,
       "80 00 00 00 00 00 00 00"},
      {"float -2 inverted", kFieldFloat, 8, 0, kValueFloat, -2, nullptr,
       "3F FF FF FF FF FF FF FF"},
      {"decimal 1.234 to 2 places", kFieldDecimal, 8, 2, kValueFloat, 1.234, nullptr, nullptr},
      {"date 2024-03-05", kFieldDate, 4, 0, kValueText, 0, "20240305", "07 E8 03 05"},
      {"logical true", kFieldLogical, 2, 0, kValueText, 0, "T", "80 01"},
      {"logical false", kFieldLogical, 2, 0, kValueText, 0, "F", "80 00"},
      {"char trailing blanks", kFieldChar, 5, 0, kValueText, 0, "ab   ", ab},
      {"char cut to width", kFieldChar, 2, 0, kValueText, 0, "abcdef", nullptr},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    IndexKey key;
    ASSERT_EQ(IndexKeyInitForField(&key, c.type, c.width), 1);
    Val v;
    if (c.text) {
      SetText(v, c.text);
    } else if (c.valueKind == kValueInteger) {
      SetInt(v, int32_t(c.number));
    } else {
      SetDouble(v, c.number);
    }
    ASSERT_EQ(IndexKeyMake(&v.v, &key, c.decimals, uint16_t(NormStamp(1))), 1);
    std::string got = Hex(key.bytes, key.length);
    if (c.bytes) {
      EXPECT_EQ(got, c.bytes);
    }
    if (std::string(c.name) == "decimal 1.234 to 2 places") {
      IndexKey other;
      ASSERT_EQ(IndexKeyInitForField(&other, kFieldDecimal, 8), 1);
      Val w;
      SetDouble(w, 1.23);
      ASSERT_EQ(IndexKeyMake(&w.v, &other, 2, 0), 1);
      EXPECT_EQ(got, Hex(other.bytes, 8));
      EXPECT_EQ(key.value.u.d, 1.23);
    }
    if (std::string(c.name) == "char cut to width") {
      EXPECT_EQ(key.length, 2);
      char* p = nullptr;
      ValueData(&key.value, &p);
      EXPECT_STREQ(p, "ab");
    }
    IndexKeyFree(&key);
  }
  IndexKey memo;
  ErrorClear();
  EXPECT_EQ(IndexKeyInitForField(&memo, kFieldMemo, 10), 0);
  EXPECT_TRUE(Pushed(kErrIndexKeyType));
  EXPECT_EQ(IndexKeyLength(kFieldChar, 200, 0), 128);
  EXPECT_EQ(IndexKeyLength(kFieldChar25, 0, 0), 25);
}

// Byte order of the keys is the order of the values, and a decoded key gives
// the value back.
TEST_F(IndexFileTest, KeyOrderFollowsValueOrderAndDecodes) {
  const double doubles[] = {-1e300, -2.5, -1, -0.25, 0, 1e-300, 0.25, 1, 2.5, 1e300};
  const int32_t ints[] = {INT32_MIN, -70000, -5, -1, 0, 1, 7, 70000, INT32_MAX};
  IndexFile* f = Create();
  FieldIndex* fx = Add(f, kFieldFloat, 8);
  FieldIndex* ix = Add(f, kFieldInteger, 4);
  for (size_t i = 0; i < std::size(doubles); ++i) {
    Val v;
    SetDouble(v, doubles[std::size(doubles) - 1 - i]);
    ASSERT_EQ(IndexInsert(f, fx, &v.v, uint32_t(i + 1)), 1);
  }
  for (size_t i = 0; i < std::size(ints); ++i) {
    ASSERT_EQ(InsertInt(f, ix, ints[(i * 4) % std::size(ints)], uint32_t(i + 1)), 1);
  }
  std::vector<double> got;
  for (int16_t r = IndexMoveCursor(f, fx, kIndexFirst, nullptr); r == 1;
       r = IndexMoveCursor(f, fx, kIndexNext, nullptr)) {
    got.push_back(fx->key.value.u.d);
  }
  EXPECT_EQ(got, std::vector<double>(std::begin(doubles), std::end(doubles)));
  std::vector<int32_t> gotInts;
  for (int16_t r = IndexMoveCursor(f, ix, kIndexFirst, nullptr); r == 1;
       r = IndexMoveCursor(f, ix, kIndexNext, nullptr)) {
    gotInts.push_back(ix->key.value.u.i);
  }
  EXPECT_EQ(gotInts, std::vector<int32_t>(std::begin(ints), std::end(ints)));
  IndexFileClose(f);
}

TEST_F(IndexFileTest, CharKeysCompareThroughTheCollation) {
  IndexFile* f = Create();
  FieldIndex* x = Add(f, kFieldChar, 10);
  ASSERT_EQ(InsertText(f, x, "Zebra", 1), 1);
  ASSERT_EQ(InsertText(f, x, "apple", 2), 1);
  ASSERT_EQ(InsertText(f, x, "APPLE  ", 3), 1);
  ASSERT_EQ(InsertText(f, x, "banana", 4), 1);
  EXPECT_EQ(Walk(f, x), (std::vector<uint32_t>{2, 3, 4, 1}));
  Val v;
  SetText(v, "Apple");
  ASSERT_EQ(IndexKeyMake(&v.v, &x->key, 0, f->stamp), 1);
  int equal = 0;
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexSeek, &equal), 1);
  EXPECT_EQ(x->key.row, 2u);
  EXPECT_EQ(equal, 1);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexNextEqual, &equal), 1);
  EXPECT_EQ(x->key.row, 3u);
  EXPECT_EQ(equal, 1);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexNextEqual, &equal), 1);
  EXPECT_EQ(x->key.row, 4u);
  EXPECT_EQ(equal, 0);
  IndexFileClose(f);
}

// ----- pages -----

TEST_F(IndexFileTest, Char20SplitsAtTheTwentiethKey) {
  IndexFile* f = Create();
  FieldIndex* x = Add(f, kFieldChar, 20);
  std::string s = Image(f);
  EXPECT_EQ(s.size(), 1024u);
  TreeEntry e = EntryOf(s, 1);
  EXPECT_EQ(e.keyLength, 20);
  EXPECT_EQ(e.maxKeys, 19);
  EXPECT_EQ(e.depth, 1);
  char text[16];
  for (int i = 0; i < 19; ++i) {
    std::snprintf(text, sizeof text, "k%03d", i);
    ASSERT_EQ(InsertText(f, x, text, uint32_t(i + 1)), 1);
  }
  s = Image(f);
  EXPECT_EQ(EntryOf(s, 1).depth, 1);
  EXPECT_EQ(U32(s, 512), 19u);
  ASSERT_EQ(InsertText(f, x, "k019", 20), 1);
  s = Image(f);
  e = EntryOf(s, 1);
  ASSERT_EQ(e.depth, 2);
  ASSERT_EQ(s.size(), 4 * 512u);
  EXPECT_EQ(U32(s, e.root), 2u);
  const uint32_t left = U32(s, e.root + 12 + 20), right = U32(s, e.root + 12 + 24 + 20);
  EXPECT_EQ(U32(s, left), 10u);
  EXPECT_EQ(U32(s, right), 10u);
  EXPECT_EQ(U32(s, left + 8), right);
  EXPECT_EQ(U32(s, right + 4), left);
  EXPECT_EQ(s.substr(e.root + 12, 20), std::string(20, '\0'));  // the new root's first key
  EXPECT_EQ(s.substr(e.root + 12 + 24, 20), s.substr(right + 12, 20));
  std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
  EXPECT_EQ(CheckFile(s, &trees), "");
  IndexFileClose(f);
}

TEST_F(IndexFileTest, TwentyNineIndexesAtMost) {
  IndexFile* f = Create();
  for (int i = 1; i <= 29; ++i) ASSERT_EQ(IndexAdd(f, kFieldInteger, 4, 0), i);
  EXPECT_EQ(IndexAdd(f, kFieldInteger, 4, 0), 0);
  ASSERT_EQ(IndexDrop(f, 7), 1);
  EXPECT_EQ(IndexAdd(f, kFieldSmallint, 2, 0), 7);  // the free entry is taken again
  std::string s = Image(f);
  EXPECT_EQ(U16(s, 12), 29);
  EXPECT_EQ(EntryOf(s, 7).keyLength, 2);
  EXPECT_EQ(EntryOf(s, 7).maxKeys, 83);  // 500 / 6, odd
  std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
  EXPECT_EQ(CheckFile(s, &trees), "");
  IndexFileClose(f);
}

TEST_F(IndexFileTest, DroppingTheOnlyIndexCutsTheFileBack) {
  IndexFile* f = Create();
  FieldIndex* a = Add(f, kFieldInteger, 4);
  FieldIndex* b = Add(f, kFieldInteger, 4);
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(InsertInt(f, a, i, uint32_t(i + 1)), 1);
    ASSERT_EQ(InsertInt(f, b, -i, uint32_t(i + 1)), 1);
  }
  ASSERT_EQ(IndexDrop(f, 1), 1);
  std::string s = Image(f);
  std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
  EXPECT_EQ(CheckFile(s, &trees), "");
  EXPECT_EQ(trees[1].size(), 2000u);
  EXPECT_NE(U32(s, 8), 0u);  // the dropped tree's pages wait on the free list
  // A new tree takes freed pages before it grows the file.
  FieldIndex* c = Add(f, kFieldInteger, 4);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(InsertInt(f, c, i, 1), 1);
  EXPECT_EQ(Image(f).size(), s.size());
  ASSERT_EQ(IndexDrop(f, 1), 1);
  ASSERT_EQ(IndexDrop(f, 2), 1);
  s = Image(f);
  EXPECT_EQ(s.size(), 512u);
  EXPECT_EQ(U32(s, 8), 0u);
  IndexFileClose(f);
}

// A version-200 file is read and searched, and its trees change, but it gets
// no new index.
TEST_F(IndexFileTest, Version200IsUsedButGetsNoNewIndex) {
  IndexFile* f = Create("OLD");
  FieldIndex* x = Add(f, kFieldInteger, 4);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(InsertInt(f, x, i, uint32_t(i + 1)), 1);
  IndexFileClose(f);
  std::string s = testsupport::ReadAll(IndPath("OLD"));
  Put16(s, 4, 200);
  std::string path = PathOf("V200.IND");
  std::ofstream(path, std::ios::binary).write(s.data(), std::streamsize(s.size()));
  IndexFile* g = Open(path);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(SeekInt(g, x, 42), 1);
  EXPECT_EQ(x->key.row, 43u);
  EXPECT_EQ(InsertInt(g, x, 1000, 101), 1);
  EXPECT_EQ(IndexAdd(g, kFieldInteger, 4, 0), 0);
  IndexFileClose(g);
  EXPECT_EQ(U16(testsupport::ReadAll(path), 4), 200);
}

// ----- cursors -----

TEST_F(IndexFileTest, EmptyAndOneKeyTrees) {
  IndexFile* f = Create();
  FieldIndex* x = Add(f, kFieldInteger, 4);
  const int moves[] = {kIndexFirst, kIndexLast, kIndexNext, kIndexPrevious, kIndexBeforeFirst,
                       kIndexNext, kIndexAfterLast, kIndexPrevious};
  for (int m : moves) {
    EXPECT_EQ(IndexMoveCursor(f, x, m, nullptr), 0) << m;
    EXPECT_EQ(x->key.row, 0u);
  }
  EXPECT_EQ(SeekInt(f, x, 3), 0);
  EXPECT_EQ(ErrorCount(), 0);

  ASSERT_EQ(InsertInt(f, x, 3, 42), 1);
  EXPECT_EQ(SeekInt(f, x, 3), 1);
  EXPECT_EQ(x->key.row, 42u);
  EXPECT_EQ(SeekInt(f, x, -10), 1);
  EXPECT_EQ(SeekInt(f, x, 4), 0);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexPrevious, nullptr), 1);  // from after the last
  EXPECT_EQ(x->key.row, 42u);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexPrevious, nullptr), 0);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexNext, nullptr), 1);  // from before the first
  EXPECT_EQ(x->key.row, 42u);
  EXPECT_EQ(Walk(f, x, kIndexLast, kIndexPrevious), std::vector<uint32_t>{42});
  ASSERT_EQ(DeleteInt(f, x, 3, 42), 1);
  EXPECT_EQ(DeleteInt(f, x, 3, 42), 0);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexFirst, nullptr), 0);
  std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
  EXPECT_EQ(CheckFile(Image(f), &trees), "");
  IndexFileClose(f);
}

// Keys 10 x3 (rows 1-3), 20 x200 (rows 100-299, across pages), 30 (row 7).
TEST_F(IndexFileTest, CursorMovesOverDuplicates) {
  IndexFile* f = Create();
  FieldIndex* x = Add(f, kFieldInteger, 4);
  ASSERT_EQ(InsertInt(f, x, 30, 7), 1);
  for (uint32_t r = 100; r < 300; ++r) ASSERT_EQ(InsertInt(f, x, 20, r), 1);
  for (uint32_t r = 1; r <= 3; ++r) ASSERT_EQ(InsertInt(f, x, 10, r), 1);
  std::vector<uint32_t> all = Walk(f, x);
  ASSERT_EQ(all.size(), 204u);
  EXPECT_EQ(all[0], 1u);
  EXPECT_EQ(all[3], 100u);
  EXPECT_EQ(all[202], 299u);  // equal keys keep their insertion order
  EXPECT_EQ(all[203], 7u);
  std::vector<uint32_t> back = Walk(f, x, kIndexLast, kIndexPrevious);
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, all);
  EXPECT_EQ(Walk(f, x, kIndexFirst, kIndexNextDifferent), (std::vector<uint32_t>{1, 100, 7}));
  EXPECT_EQ(Walk(f, x, kIndexLast, kIndexPreviousDifferent), (std::vector<uint32_t>{7, 299, 3}));

  struct Step {
    int move;
    int32_t seek;  // for the seeks
    int16_t result;
    uint32_t row;
    int equal;
  };
  const Step steps[] = {
      {kIndexSeek, 20, 1, 100, 1},          {kIndexNextEqual, 0, 1, 101, 1},
      {kIndexSeekAfterEqual, 20, 1, 7, 0},  {kIndexPreviousEqual, 0, 1, 299, 0},
      {kIndexPreviousEqual, 0, 1, 298, 1},  {kIndexSeekAfterEqual, 10, 1, 100, 0},
      {kIndexPrevious, 0, 1, 3, 0},         {kIndexSeek, 15, 1, 100, 0},
      {kIndexPreviousDifferent, 0, 1, 3, 0}, {kIndexSeekAfterEqual, 30, 0, 0, 0},
      {kIndexPrevious, 0, 1, 7, 0},         {kIndexNext, 0, 0, 0, 0},
      {kIndexNext, 0, 0, 0, 0},             {kIndexBeforeFirst, 0, 0, 0, 0},
      {kIndexNextEqual, 0, 1, 1, 0},        {kIndexFirst, 0, 1, 1, 1},
      {kIndexPrevious, 0, 0, 0, 0},         {kIndexAfterLast, 0, 0, 0, 0},
      {kIndexPreviousEqual, 0, 1, 7, 0},    {kIndexLast, 0, 1, 7, 1},
  };
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(i++);
    int equal = -1;
    int16_t r = s.move == kIndexSeek || s.move == kIndexSeekAfterEqual
                    ? SeekInt(f, x, s.seek, s.move, &equal)
                    : IndexMoveCursor(f, x, s.move, &equal);
    EXPECT_EQ(r, s.result);
    EXPECT_EQ(x->key.row, s.row);
    EXPECT_EQ(equal, s.equal);
  }

  // The cursor is found again after inserts moved its entry, and reset by the
  // delete of its row.
  ASSERT_EQ(SeekInt(f, x, 20), 1);
  for (uint32_t r = 300; r < 400; ++r) ASSERT_EQ(InsertInt(f, x, 15, r), 1);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexNext, nullptr), 1);
  EXPECT_EQ(x->key.row, 101u);
  ASSERT_EQ(DeleteInt(f, x, 20, 101), 1);
  EXPECT_EQ(x->key.row, 0u);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexNext, nullptr), 0);
  EXPECT_EQ(IndexMoveCursor(f, x, kIndexLast, nullptr), 1);
  EXPECT_EQ(ErrorCount(), 0);
  IndexFileClose(f);
}

TEST_F(IndexFileTest, UniqueIndexRefusesAnEqualKey) {
  IndexFile* f = Create();
  FieldIndex* x = Add(f, kFieldInteger, 4, 1);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(InsertInt(f, x, i * 2, uint32_t(i + 1)), 1);
  for (int i = 0; i < 300; i += 7) {
    EXPECT_EQ(InsertInt(f, x, i * 2, 999), 0) << i;
    EXPECT_EQ(InsertInt(f, x, i * 2 + 1, uint32_t(1000 + i)), 1);
  }
  EXPECT_EQ(ErrorCount(), 0);
  FieldIndex* y = Bind(1, kFieldInteger, 4, 0);  // the same tree, not unique
  EXPECT_EQ(InsertInt(f, y, 0, 999), 1);
  std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
  EXPECT_EQ(CheckFile(Image(f), &trees), "");
  EXPECT_EQ(trees[0].size(), 300u + 43u + 1u);
  IndexFileClose(f);
}

TEST_F(IndexFileTest, ReopenedFileKeepsItsTreesAndRefusesWritesWhenRead) {
  {
    IndexFile* f = Create();
    FieldIndex* x = Add(f, kFieldInteger, 4);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(InsertInt(f, x, (i * 7919) % 5000, uint32_t(i)), 1);
    IndexFileClose(f);
  }
  IndexFile* f = Open(IndPath(), kFileModeRead);
  ASSERT_NE(f, nullptr);
  FieldIndex* x = Bind(1, kFieldInteger, 4);
  EXPECT_EQ(Walk(f, x).size(), 5000u);
  EXPECT_EQ(SeekInt(f, x, 4321), 1);
  EXPECT_EQ(x->key.value.u.i, 4321);
  EXPECT_EQ(InsertInt(f, x, 1, 1), 0);
  EXPECT_TRUE(Pushed(kErrFileAccessDenied));
  ErrorClear();
  ASSERT_EQ(IndexFileReopen(f, kFileModeWrite), 1);
  EXPECT_EQ(InsertInt(f, x, 1, 1), 1);
  IndexFileRelease(f);
  EXPECT_EQ(SeekInt(f, x, 1), 0);  // released: no use
  ASSERT_EQ(IndexFileAcquire(f, kFileModeWrite), 1);
  EXPECT_EQ(SeekInt(f, x, 1), 1);
  IndexFileClose(f);
}

// ----- random inserts and deletes -----

TEST_F(IndexFileTest, RandomInsertsAndDeletesKeepTheTree) {
  IndexFile* f = Create();
  FieldIndex* x = Add(f, kFieldChar, 8);
  std::mt19937 rng(20240611);
  struct {
    std::map<std::string, std::vector<uint32_t>> keys;
  } model;
  std::vector<uint32_t> source;  // row -> key number
  source.push_back(0);
  auto keyOf = [&](uint32_t n, Val* v) {
    char text[16];
    static const char* const kLetters = "aBcDeFgH";
    int len = 1 + int(n % 6);
    for (int i = 0; i < len; ++i) text[i] = kLetters[(n >> (3 * i + 3)) & 7];
    text[len] = 0;
    SetText(*v, text);
    IndexKey k;
    EXPECT_EQ(IndexKeyInitForField(&k, kFieldChar, 8), 1);
    EXPECT_EQ(IndexKeyMake(&v->v, &k, 0, f->stamp), 1);
    std::string bytes(reinterpret_cast<char*>(k.bytes), 8);
    IndexKeyFree(&k);
    return bytes;
  };
  std::vector<std::pair<std::string, uint32_t>> live;  // for picking a random entry
  int maxDepth = 0;
  auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    std::string s = Image(f);
    std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
    std::string fault = CheckFile(s, &trees);
    EXPECT_EQ(fault, "");
    maxDepth = std::max(maxDepth, int(EntryOf(s, 1).depth));
    std::vector<std::pair<std::string, uint32_t>> expected;
    for (const auto& [k, rows] : model.keys)
      for (uint32_t r : rows) expected.push_back({k, r});
    EXPECT_TRUE(trees[0] == expected) << "tree and model differ";
    // Seeks answer as a sorted scan does.
    for (int i = 0; i < 50; ++i) {
      Val v;
      std::string k = keyOf(uint32_t(rng() % 40000), &v);
      ASSERT_EQ(IndexKeyMake(&v.v, &x->key, 0, f->stamp), 1);
      for (int move : {kIndexSeek, kIndexSeekAfterEqual}) {
        auto it = move == kIndexSeek ? model.keys.lower_bound(k) : model.keys.upper_bound(k);
        ASSERT_EQ(IndexKeyMake(&v.v, &x->key, 0, f->stamp), 1);
        int16_t r = IndexMoveCursor(f, x, move, nullptr);
        ASSERT_EQ(r, it == model.keys.end() ? 0 : 1);
        if (r) {
          ASSERT_EQ(x->key.row, it->second.front());
        }
      }
    }
  };
  auto insert = [&]() {
    uint32_t n = uint32_t(rng() % 40000);
    Val v;
    std::string k = keyOf(n, &v);
    uint32_t row = uint32_t(source.size());
    source.push_back(n);
    ASSERT_EQ(IndexInsert(f, x, &v.v, row), 1);
    model.keys[k].push_back(row);
    live.push_back({k, row});
  };
  auto erase = [&]() {
    size_t at = rng() % live.size();
    auto [k, row] = live[at];
    live[at] = live.back();
    live.pop_back();
    Val v;
    keyOf(source[row], &v);
    ASSERT_EQ(IndexDelete(f, x, &v.v, row), 1);
    std::vector<uint32_t>& rows = model.keys[k];
    rows.erase(std::find(rows.begin(), rows.end(), row));
    if (rows.empty()) model.keys.erase(k);
  };
  std::uniform_real_distribution<double> coin(0, 1);
  const int kOps = 100000;
  for (int op = 0; op < kOps; ++op) {
    // Mostly inserts in the first 60%, mostly deletes afterwards.
    double share = op < kOps * 6 / 10 ? 0.75 : 0.2;
    if (live.empty() || coin(rng) < share) {
      insert();
    } else {
      erase();
    }
    if (HasFatalFailure()) break;
    if (op % 10000 == 9999) check("periodic");
    if (HasFatalFailure()) break;
  }
  while (!live.empty() && !HasFatalFailure()) erase();
  check("emptied");
  EXPECT_GE(maxDepth, 3);
  std::string s = Image(f);
  EXPECT_EQ(EntryOf(s, 1).depth, 1);
  EXPECT_EQ(U32(s, EntryOf(s, 1).root), 0u);
  IndexFileClose(f);
}

// The same with a cache of 16 pages: pages leave and come back through the
// file layer all the time.
TEST_F(IndexFileTest, SmallCacheWritesAndRereadsPages) {
  IndexCacheSetPageLimit(16);
  IndexFile* f = Create();
  FieldIndex* x = Add(f, kFieldInteger, 4);
  FieldIndex* y = Add(f, kFieldInteger, 4);
  std::mt19937 rng(7);
  std::multimap<int32_t, uint32_t> model;
  std::vector<std::pair<int32_t, uint32_t>> live;
  for (uint32_t row = 1; row <= 20000; ++row) {
    int32_t n = int32_t(rng() % 3000) - 1500;
    ASSERT_EQ(InsertInt(f, x, n, row), 1);
    ASSERT_EQ(InsertInt(f, y, -n, row), 1);
    model.insert({n, row});
    live.push_back({n, row});
    if (row % 3 == 0) {
      size_t at = rng() % live.size();
      auto [m, r] = live[at];
      live[at] = live.back();
      live.pop_back();
      ASSERT_EQ(DeleteInt(f, x, m, r), 1);
      ASSERT_EQ(DeleteInt(f, y, -m, r), 1);
      for (auto it = model.lower_bound(m); it != model.end(); ++it) {
        if (it->second == r) {
          model.erase(it);
          break;
        }
      }
    }
  }
  std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
  EXPECT_EQ(CheckFile(Image(f), &trees), "");
  std::vector<uint32_t> expected;
  for (const auto& [n, r] : model) expected.push_back(r);
  EXPECT_EQ(Walk(f, x), expected);
  IndexFileClose(f);
  IndexFile* g = Open(IndPath(), kFileModeRead);
  ASSERT_NE(g, nullptr);
  FieldIndex* z = Bind(1, kFieldInteger, 4);
  EXPECT_EQ(Walk(g, z), expected);
  IndexFileClose(g);
}

// ----- bulk building -----

// A bulk build holds the same entries in the same order as inserting row by
// row, with pages filled evenly; on an empty tree, a non-empty one, for no
// key and one key, for keys that fit the sort records and longer ones, for
// rows given in any order, and with free pages to reuse.
TEST_F(IndexFileTest, BulkBuildMatchesRowByRowInserts) {
  IndexFile* f = Create();
  std::mt19937 rng(99);
  struct Case {
    const char* name;
    uint8_t type;
    int width;
    int count;
    int before;      // keys inserted row by row first
    bool shuffled;   // rows not given in ascending order
    bool freePages;  // the file has free pages when the build starts
  };
  const Case cases[] = {
      {"integers with duplicates", kFieldInteger, 4, 30000, 0, false, false},
      {"long char keys", kFieldChar, 40, 5000, 0, false, false},
      {"char keys of 20 bytes", kFieldChar, 20, 5000, 0, false, false},
      {"char keys of 21 bytes", kFieldChar, 21, 5000, 0, false, false},
      {"rows out of order", kFieldInteger, 4, 20000, 0, true, false},
      {"long keys, rows out of order", kFieldChar, 40, 5000, 0, true, false},
      {"reusing free pages", kFieldChar, 20, 8000, 0, true, true},
      {"into a tree that has keys", kFieldInteger, 4, 3000, 500, false, false},
      {"no key", kFieldInteger, 4, 0, 0, false, false},
      {"one key", kFieldChar, 10, 1, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FieldIndex* bulk = Add(f, c.type, c.width);
    FieldIndex* rows = Add(f, c.type, c.width);
    if (c.freePages) {
      FieldIndex* gone = Add(f, kFieldInteger, 4);
      for (int i = 0; i < 5000; ++i) ASSERT_EQ(InsertInt(f, gone, i, uint32_t(i + 1)), 1);
      ASSERT_EQ(IndexDrop(f, gone->number), 1);
      ASSERT_NE(f->freeHead, 0u);
    }
    std::vector<uint32_t> order(size_t(c.before + c.count));
    for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i + 1);
    if (c.shuffled) std::shuffle(order.begin() + c.before, order.end(), rng);
    IndexBulk* b = nullptr;
    for (int i = 0; i < c.before + c.count; ++i) {
      if (i == c.before) {
        b = IndexBulkBegin(f, bulk, uint32_t(c.count / 2));
        ASSERT_NE(b, nullptr);
      }
      Val v;
      uint32_t n = uint32_t(rng() % 2000);
      if (c.type == kFieldChar) {
        char text[48];
        std::snprintf(text, sizeof text, "%0*u-%u", c.width - 2, n * 7919u, n % 3);
        SetText(v, text);
      } else {
        SetInt(v, int32_t(n) - 1000);
      }
      const uint32_t row = order[size_t(i)];
      if (i < c.before) {
        ASSERT_EQ(IndexInsert(f, bulk, &v.v, row), 1);
      } else {
        ASSERT_EQ(IndexBulkAdd(b, &v.v, row), 1);
      }
      ASSERT_EQ(IndexInsert(f, rows, &v.v, row), 1);
    }
    if (!b) b = IndexBulkBegin(f, bulk, 0);
    ASSERT_EQ(IndexBulkFinish(b), 1);
    std::vector<std::vector<std::pair<std::string, uint32_t>>> trees;
    ASSERT_EQ(CheckFile(Image(f), &trees), "");
    EXPECT_EQ(trees[size_t(bulk->number - 1)].size(), size_t(c.before + c.count));
    EXPECT_TRUE(trees[size_t(bulk->number - 1)] == trees[size_t(rows->number - 1)]);
    EXPECT_EQ(Walk(f, bulk), Walk(f, rows));
    ASSERT_EQ(IndexDrop(f, bulk->number), 1);
    ASSERT_EQ(IndexDrop(f, rows->number), 1);
  }
  IndexFileClose(f);
}

// Keys that differ only past the bytes a sort record holds are different.
TEST_F(IndexFileTest, BulkBuildOfAUniqueIndexFailsOnAnEqualKey) {
  IndexFile* f = Create();
  for (uint8_t type : {kFieldInteger, kFieldChar}) {
    for (int duplicate : {0, 1}) {
      SCOPED_TRACE(std::to_string(type) + (duplicate ? " duplicate" : ""));
      FieldIndex* x = Add(f, type, type == kFieldChar ? 30 : 4, 1);
      IndexBulk* b = IndexBulkBegin(f, x, 0);
      auto add = [&](int n, uint32_t row) {
        Val v;
        if (type == kFieldChar) {
          char text[32];
          std::snprintf(text, sizeof text, "%s%06d", std::string(22, 'k').c_str(), n);
          SetText(v, text);
        } else {
          SetInt(v, n);
        }
        return IndexBulkAdd(b, &v.v, row);
      };
      for (int i = 0; i < 1000; ++i) ASSERT_EQ(add((i * 7) % 1000, uint32_t(i + 1)), 1);
      ASSERT_EQ(add(duplicate ? 500 : 5000, 1001), 1);
      EXPECT_EQ(IndexBulkFinish(b), duplicate ? 0 : 1);
      EXPECT_EQ(Walk(f, x).size(), duplicate ? 0u : 1001u);
      ASSERT_EQ(IndexDrop(f, x->number), 1);
    }
  }
  IndexFileClose(f);
}

// ----- damaged files -----

class DamagedIndexTest : public IndexFileTest {
 protected:
  // Two trees: 1 Integer of depth 3, 2 Char(100) of depth 2 or more.
  std::string Build() {
    IndexFile* f = Create("GOOD");
    FieldIndex* a = Add(f, kFieldInteger, 4);
    FieldIndex* b = Add(f, kFieldChar, 100);
    char text[32];
    for (int i = 0; i < 3000; ++i) {
      EXPECT_EQ(InsertInt(f, a, (i * 37) % 3000, uint32_t(i + 1)), 1);
      if (i < 200) {
        std::snprintf(text, sizeof text, "name %05d", (i * 13) % 200);
        EXPECT_EQ(InsertText(f, b, text, uint32_t(i + 1)), 1);
      }
    }
    IndexFileClose(f);
    return testsupport::ReadAll(IndPath("GOOD"));
  }
  // Opens a damaged copy and drives both trees; the open (surely when
  // `openFails`) or a tree operation must fail with 972, and nothing may
  // crash or hang.
  void Drive(const std::string& name, const std::string& bytes, bool openFails) {
    SCOPED_TRACE(name);
    std::string path = PathOf(name + ".IND");
    {
      std::ofstream out(path, std::ios::binary);
      out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    ErrorClear();
    IndexFile* f = Open(path);
    if (openFails) {
      EXPECT_EQ(f, nullptr);
    }
    if (!f) {
      EXPECT_TRUE(Pushed(kErrIndexNotFile));
      return;
    }
    FieldIndex* a = Bind(1, kFieldInteger, 4);
    FieldIndex* b = Bind(2, kFieldChar, 100);
    for (FieldIndex* x : {a, b}) {
      Walk(f, x, kIndexFirst, kIndexNext);
      Walk(f, x, kIndexLast, kIndexPrevious);
      Walk(f, x, kIndexFirst, kIndexNextDifferent);
      Walk(f, x, kIndexLast, kIndexPreviousDifferent);
    }
    for (int i = 0; i < 3000; i += 97) {
      SeekInt(f, a, i);
      DeleteInt(f, a, i, uint32_t(i / 37 + 1));
      InsertInt(f, a, i, 5000);
    }
    IndexDrop(f, 2);
    IndexFileClose(f);
    EXPECT_TRUE(Pushed(kErrIndexNotFile));
  }
};

TEST_F(DamagedIndexTest, HeaderDamageFailsTheOpen) {
  const std::string good = Build();
  ASSERT_GE(good.size(), 512u * 20);
  const TreeEntry a = EntryOf(good, 1);
  ASSERT_EQ(a.depth, 3);
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto change) {
    std::string s = good;
    change(s);
    cases.push_back({name, s});
  };
  with("short", [](std::string& s) { s.resize(40); });
  with("empty", [](std::string& s) { s.clear(); });
  with("magic", [](std::string& s) { Put32(s, 0, 24242425); });
  with("version", [](std::string& s) { Put16(s, 4, 300); });
  with("page size", [](std::string& s) { Put16(s, 6, 1024); });
  with("30 entries", [](std::string& s) { Put16(s, 12, 30); });
  with("65535 entries", [](std::string& s) { Put16(s, 12, 65535); });
  with("key length 200", [](std::string& s) { s[48 + 16 + 7] = char(200); });
  with("key length 0", [](std::string& s) { s[48 + 7] = 0; });
  with("max keys beyond a page", [](std::string& s) { Put16(s, 48 + 4, 200); });
  with("max keys 1", [](std::string& s) { Put16(s, 48 + 4, 1); });
  with("depth 0", [](std::string& s) { s[48 + 6] = 0; });
  with("depth 200", [](std::string& s) { s[48 + 6] = char(200); });
  with("root beyond the file", [&](std::string& s) { Put32(s, 48, uint32_t(s.size())); });
  with("root inside a page", [&](std::string& s) { Put32(s, 48, a.root + 4); });
  with("root count too big", [&](std::string& s) { Put32(s, a.root, 5000); });
  with("free list beyond the file", [&](std::string& s) { Put32(s, 8, 0x7FFFFE00); });
  with("truncated to the root's page", [&](std::string& s) { s.resize(a.root); });
  for (const Case& c : cases) Drive(c.name, c.bytes, true);
}

TEST_F(DamagedIndexTest, PageDamageFailsTheOperations) {
  const std::string good = Build();
  const TreeEntry a = EntryOf(good, 1);
  const TreeEntry b = EntryOf(good, 2);
  ASSERT_EQ(a.depth, 3);
  // Pages of tree 1: the root's first child, that child's first leaf and the
  // leaf after it.
  const uint32_t inner = U32(good, a.root + 12 + 4);
  const uint32_t leaf = U32(good, inner + 12 + 4);
  const uint32_t leaf2 = U32(good, leaf + 8);
  const uint32_t bLeaf = U32(good, b.root + 12 + 100);
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto change) {
    std::string s = good;
    change(s);
    cases.push_back({name, s});
  };
  with("leaf count too big", [&](std::string& s) { Put32(s, leaf, 62); });
  with("leaf count huge", [&](std::string& s) { Put32(s, leaf2, 0xFFFFFFF0u); });
  with("internal count zero", [&](std::string& s) { Put32(s, inner, 0); });
  with("child beyond the file", [&](std::string& s) { Put32(s, inner + 12 + 4, 0x00FFFE00); });
  with("child inside a page", [&](std::string& s) { Put32(s, inner + 12 + 4, leaf + 100); });
  with("child is the header", [&](std::string& s) { Put32(s, inner + 12 + 4, 0); });
  with("leaf links to itself", [&](std::string& s) { Put32(s, leaf + 8, leaf); });
  with("leaf links back to the first", [&](std::string& s) { Put32(s, leaf2 + 8, leaf); });
  with("leaf ring with back links",
       [&](std::string& s) { Put32(s, leaf2 + 8, leaf); Put32(s, leaf + 4, leaf2); });
  with("previous link beyond the file", [&](std::string& s) { Put32(s, leaf2 + 4, 0x00FFFE00); });
  with("char tree's leaf count too big", [&](std::string& s) { Put32(s, bLeaf, 4); });
  with("last page cut off", [&](std::string& s) { s.resize(s.size() - 512); });
  with("last page cut short", [&](std::string& s) { s.resize(s.size() - 300); });
  for (const Case& c : cases) Drive(c.name, c.bytes, false);
}

// ----- collation -----

class CollationTest : public IndexFileTest {
 protected:
  std::string Write(uint16_t stamp, uint16_t charset, uint16_t subCrc) {
    IndexFile* f = Create("C");
    FieldIndex* x = Add(f, kFieldChar, 10);
    EXPECT_EQ(InsertText(f, x, "abc", 1), 1);
    IndexFileClose(f);
    std::string s = testsupport::ReadAll(IndPath("C"));
    Put16(s, 14, stamp);
    Put16(s, 16, charset);
    Put16(s, 18, subCrc);
    std::string path = PathOf("COPY.IND");
    std::ofstream(path, std::ios::binary).write(s.data(), std::streamsize(s.size()));
    return path;
  }
};

TEST_F(CollationTest, ForeignCollationIsRefusedUnlessItsCharsetDiffersAndSubCrcMatches) {
  const uint16_t own = uint16_t(NormStamp(1));
  const uint16_t sub = uint16_t(NormStamp(2));
  const uint16_t other = uint16_t(own ^ 0x5A5A);
  struct Case {
    const char* name;
    uint16_t stamp, charset, subCrc;
    bool opens;
  };
  const Case cases[] = {
      {"own stamp", own, 10, sub, true},
      {"own stamp, other charset and sub-CRC", own, 3, 1234, true},
      {"other stamp, same charset", other, 10, sub, false},
      {"other stamp, other charset, same sub-CRC", other, 3, sub, true},
      {"other stamp, other charset, other sub-CRC", other, 3, uint16_t(sub ^ 1), false},
      {"table 2's stamp", uint16_t(NormStamp(3)), 10, 0, true},
      {"table 3's stamp", uint16_t(NormStamp(4)), 10, 0, true},
      // Old files: no charset and sub-CRC recorded; read as charset 10 with
      // sub-CRC 24861.
      {"old file, other stamp", other, 0, 0, false},
      {"old double-byte file", 65496, 0, 0, sub == 24861},
      {"stamp 0", 0, 10, sub, sub == 24861},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorClear();
    std::string path = Write(c.stamp, c.charset, c.subCrc);
    IndexFile* f = Open(path);
    EXPECT_EQ(f != nullptr, c.opens);
    if (f && c.stamp != NormStamp(3) && c.stamp != NormStamp(4)) {
      // Keys sought through table 1, as the file's were made.
      FieldIndex* x = Bind(1, kFieldChar, 10);
      Val v;
      SetText(v, "ABC");
      ASSERT_EQ(IndexKeyMake(&v.v, &x->key, 0, f->stamp), 1);
      EXPECT_EQ(IndexMoveCursor(f, x, kIndexSeek, nullptr), 1);
      EXPECT_EQ(x->key.row, 1u);
    }
    if (f) {
      IndexFileClose(f);
    } else {
      EXPECT_TRUE(Pushed(kErrIndexCollation));
      EXPECT_EQ(FileOpenCount(FileTableFind(path.c_str(), kFileKindIndex)), 0);
    }
    FileRelease(FileTableFind(path.c_str(), kFileKindIndex));
    FileRelease(FileTableFind(IndPath("C").c_str(), kFileKindIndex));
    FileRemove(IndPath("C").c_str());
  }
}

TEST_F(CollationTest, RefusalGoesThroughTheFatalRoutine) {
  std::string path = Write(uint16_t(NormStamp(1) ^ 0x5A5A), 10, uint16_t(NormStamp(2)));
  TrapToggle(1);
  IndexFile* f = RunGuarded<IndexFile*>(nullptr, [&] { return Open(path); });
  TrapToggle(1);
  EXPECT_EQ(f, nullptr);
  EXPECT_TRUE(Pushed(kErrInternal));
  EXPECT_NE(std::string(FatalText()).find("COPY.IND was build using a different language."),
            std::string::npos);
  EXPECT_EQ(FileOpenCount(FileTableFind(path.c_str(), kFileKindIndex)), 0);
}

}  // namespace
