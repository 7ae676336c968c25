#include "base/qstring.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(StrTest, Trim) {
  struct Case {
    const char* in;
    const char* trimmed;
    const char* left;
  } cases[] = {
      {"   ", "", ""},
      {"", "", ""},
      {"  a b \t\r\n", "a b", "a b \t\r\n"},
      {"x", "x", "x"},
      {"\vword", "word", "word"},
  };
  for (const auto& c : cases) {
    char a[64], b[64];
    std::strcpy(a, c.in);
    std::strcpy(b, c.in);
    EXPECT_STREQ(StrTrim(a), c.trimmed) << '[' << c.in << ']';
    EXPECT_STREQ(StrTrimLeft(b), c.left) << '[' << c.in << ']';
  }
  EXPECT_EQ(StrTrimLeft(nullptr), nullptr);
}

TEST(StrTest, CopySized) {
  char out[16] = "zzzzzzzzzzzzzzz";
  EXPECT_EQ(StrCopySized(out, "0123456789", 4), 10u);
  EXPECT_STREQ(out, "012");
  EXPECT_EQ(StrCopySized(out, "abc", 0), 3u);
  EXPECT_STREQ(out, "012");
  EXPECT_EQ(StrCopySized(out, "abc", 16), 3u);
  EXPECT_STREQ(out, "abc");
}

TEST(StrTest, TokenizeIsReentrant) {
  char a[] = ",,one,,two,";
  char b[] = "x y";
  char* sa = nullptr;
  char* sb = nullptr;
  EXPECT_STREQ(StrTokenize(a, ",", &sa), "one");
  EXPECT_STREQ(StrTokenize(b, " ", &sb), "x");
  EXPECT_STREQ(StrTokenize(nullptr, ",", &sa), "two");
  EXPECT_STREQ(StrTokenize(nullptr, " ", &sb), "y");
  EXPECT_EQ(StrTokenize(nullptr, ",", &sa), nullptr);
  EXPECT_EQ(StrTokenize(nullptr, " ", &sb), nullptr);
}

TEST(StrTest, ToIntReadsLikeAtoi) {
  EXPECT_EQ(StrToInt("  42abc"), 42);
  EXPECT_EQ(StrToInt("-17"), -17);
  EXPECT_EQ(StrToInt("+8"), 8);
  EXPECT_EQ(StrToInt("x"), 0);
  EXPECT_EQ(StrToInt("99999999999"), INT32_MAX);
  EXPECT_EQ(StrToInt("-99999999999"), INT32_MIN);
}

TEST(FileNameTest, ExtensionAndNamePart) {
  struct Case {
    const char* path;
    const char* extension;  // null: none
    const char* name;
  } cases[] = {
      {"dir.d/file", nullptr, "file"},
      {"dir.d\\file.txt", ".txt", "file.txt"},
      {"c:name.gsb", ".gsb", "name.gsb"},
      {"a.b.c", ".c", "a.b.c"},
      {"/x/y/", nullptr, ""},
      {"plain", nullptr, "plain"},
  };
  for (const auto& c : cases) {
    const char* ext = FileExtension(c.path);
    if (c.extension)
      EXPECT_STREQ(ext, c.extension) << c.path;
    else
      EXPECT_EQ(ext, nullptr) << c.path;
    EXPECT_STREQ(FileNamePart(c.path), c.name) << c.path;
  }
}

TEST(FileNameTest, SetExtensionFollowsTheOldCase) {
  struct Case {
    const char* path;
    const char* extension;
    const char* result;
  } cases[] = {
      {"DATA.TXT", "abc", "DATA.ABC"},
      {"data.txt", "abc", "data.abc"},
      {"Data.Txt", "abc", "Data.abc"},
      {"dir.d/file", "abc", "dir.d/file.abc"},
      {"x.123", "gsa", "x.GSA"},
      {"roads.SHP", ".dbf", "roads.DBF"},
      {"a.b", "0123456789012345678901234567890123", "a.012345678901234567890123456789"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSetExtension(c.path, c.extension), c.result) << c.path;
  char small[8] = "ab.txt";
  FileSetExtension(small, sizeof small, "json");
  EXPECT_STREQ(small, "ab.json");
  char tiny[5] = "ab.c";
  FileSetExtension(tiny, sizeof tiny, "json");
  EXPECT_STREQ(tiny, "ab.j");
}

TEST(DateTest, Parse) {
  struct Case {
    const char* text;
    int day, month, year;
  } cases[] = {
      {"15/3/2014", 15, 2, 114},
      {"15/3", 1, 0, 70},
      {"1-12-99", 1, 11, 99},
      {"2.1.1900", 2, 0, 1900},
      {"31.12.1901", 31, 11, 1},
      {"", 1, 0, 70},
  };
  for (const auto& c : cases) {
    struct tm t;
    std::memset(&t, 0x55, sizeof t);
    DateParse(&t, c.text);
    EXPECT_EQ(t.tm_mday, c.day) << c.text;
    EXPECT_EQ(t.tm_mon, c.month) << c.text;
    EXPECT_EQ(t.tm_year, c.year) << c.text;
    EXPECT_EQ(t.tm_hour, 0);
    EXPECT_EQ(t.tm_sec, 0);
  }
}

TEST(DateTest, ToSeconds) {
  struct Case {
    int year, second, minute, hour, day, month;
    int32_t seconds;
  } cases[] = {
      {70, 0, 0, 0, 1, 0, 0},
      {100, 0, 0, 0, 1, 0, 946684800},
      {140, 0, 0, 0, 1, 0, -1},
      {99, 0, 0, 0, 1, 12, 946684800},  // month 12 of 99 is January of 100
      {101, 0, 0, 0, 1, -12, 946684800},
      {100, 5, 4, 3, 1, 2, 951868800 + 3 * 3600 + 4 * 60 + 5},  // 1 March 2000, a leap year
      {68, 0, 0, 0, 1, 0, -1},
      {138, 7, 14, 3, 19, 0, 2147483647},  // the last second of signed 32 bits
      {138, 8, 14, 3, 19, 0, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DateToSeconds(c.year, c.second, c.minute, c.hour, c.day, c.month), c.seconds)
        << c.year << '/' << c.month << '/' << c.day;
}

int CompareInt(const void* key, const void* element) {
  int k = *static_cast<const int*>(key);
  int e = *static_cast<const int*>(element);
  return k < e ? -1 : k > e ? 1 : 0;
}

TEST(SearchTest, BinarySearch) {
  const int values[] = {1, 3, 5, 5, 7};
  struct Case {
    int key;
    int32_t index, exact;
  } cases[] = {
      {5, 2, 2}, {4, 1, -1}, {0, -1, -1}, {9, 4, -1}, {1, 0, 0}, {7, 4, 4}, {2, 0, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BinarySearch(&c.key, values, 5, sizeof(int), CompareInt), c.index) << c.key;
    EXPECT_EQ(BinarySearchExact(&c.key, values, 5, sizeof(int), CompareInt), c.exact) << c.key;
  }
  int key = 3;
  EXPECT_EQ(BinarySearch(&key, values, 0, sizeof(int), CompareInt), -1);
}

TEST(SearchTest, BinarySearchAgreesWithLowerBound) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<int> v(random() % 40);
    for (int& x : v) x = int(random() % 30);
    std::sort(v.begin(), v.end());
    for (int key = -1; key <= 31; ++key) {
      auto lb = std::lower_bound(v.begin(), v.end(), key);
      int32_t expected;
      if (lb != v.end() && *lb == key)
        expected = int32_t(lb - v.begin());
      else
        expected = int32_t(lb - v.begin()) - 1;  // the last element before the key
      EXPECT_EQ(BinarySearch(&key, v.data(), int32_t(v.size()), sizeof(int), CompareInt), expected);
    }
  }
}

struct Hit {
  int32_t distance;
  uint32_t offset;
};
static_assert(sizeof(Hit) == 8);

TEST(SearchTest, SortPointersSortsLikeStableOrderOfKeys) {
  std::mt19937 random(3);
  for (int n : {0, 1, 2, 15, 16, 17, 100, 5000}) {
    std::vector<Hit> hits(static_cast<size_t>(n));
    for (auto& h : hits) h = {int32_t(random() % 50), uint32_t(random())};
    auto less = [](const Hit& a, const Hit& b) {
      return a.distance != b.distance ? a.distance < b.distance : a.offset < b.offset;
    };
    std::vector<Hit> expected = hits;
    std::sort(expected.begin(), expected.end(), less);
    if (n) SortPointers(hits.data(), hits.data() + n - 1, less);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(hits[size_t(i)].distance, expected[size_t(i)].distance);
      EXPECT_EQ(hits[size_t(i)].offset, expected[size_t(i)].offset);
    }
  }
  // Already sorted and reversed inputs do not exhaust the pending stack.
  std::vector<Hit> big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = {int32_t(big.size() - i), uint32_t(i)};
  auto less = [](const Hit& a, const Hit& b) { return a.distance < b.distance; };
  SortPointers(big.data(), big.data() + big.size() - 1, less);
  EXPECT_TRUE(std::is_sorted(big.begin(), big.end(), less));
}

}  // namespace
