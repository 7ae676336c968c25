// Heap blocks, lists, padded copies, trimming, number parsing and rounding.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mapfile/foundation/locale.h"
#include "tests/mapfile/foundation/foundation_fixture.h"
#include "platform/crt.h"

namespace {

using namespace layerio;
using mapfiletest::FoundationTest;

class MemoryTest : public FoundationTest {};

TEST_F(MemoryTest, AllocZeroOfNothingGivesAZeroedBlock) {
  MemHandle h = nullptr;
  void* p = nullptr;
  ASSERT_TRUE(MemAllocZero(0, &h, &p));
  EXPECT_EQ(h, p);
  size_t size = MemSize(&p);
  EXPECT_GE(size, 1u);
  EXPECT_EQ(MemBlockSize(&h), size);
  for (size_t i = 0; i < size; ++i) EXPECT_EQ(static_cast<unsigned char*>(p)[i], 0) << i;
  MemFreePtr(&p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(MemSize(&p), 0u);
  EXPECT_TRUE(MemFreePtr(&p));  // a null variable stays null
}

TEST_F(MemoryTest, ResizeZeroesWhatGrowsAndKeepsTheContents) {
  MemHandle h = nullptr;
  void* p = nullptr;
  ASSERT_TRUE(MemAllocZero(16, &h, &p));
  std::memset(p, 0xAB, MemSize(&p));
  size_t old = MemSize(&p);
  ASSERT_TRUE(MemResize(64, &h, &p));
  EXPECT_EQ(h, p);
  auto* b = static_cast<unsigned char*>(p);
  size_t now = MemSize(&p);
  ASSERT_GE(now, 64u);
  for (size_t i = 0; i < old; ++i) EXPECT_EQ(b[i], 0xAB) << i;
  for (size_t i = old; i < now; ++i) EXPECT_EQ(b[i], 0) << i;
  // Shrinking keeps the front; the tail past the size asked for is zero.
  ASSERT_TRUE(MemReallocChecked(8, &h, nullptr));
  b = static_cast<unsigned char*>(h);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(b[i], 0xAB) << i;
  for (size_t i = 8; i < platform::HeapBlockSize(h); ++i) EXPECT_EQ(b[i], 0) << i;
  MemFreePtr(&h);
}

struct Item {
  ListNode link;
  int id;
};

std::vector<int> Ids(const List& list) {
  std::vector<int> ids;
  for (void* p = ListFirst(&list); p; p = ListNext(p)) ids.push_back(static_cast<Item*>(p)->id);
  return ids;
}

TEST_F(MemoryTest, ListOperations) {
  Item a{{}, 1}, b{{}, 2}, c{{}, 3}, d{{}, 4}, e{{}, 5};
  List list;
  ListInit(&list);
  ListInsert(&list, &b, 0);
  EXPECT_EQ(list.last, &b.link);
  ListInsert(&list, &a, 0);
  ListInsert(&list, &c, 1);
  ListInsert(&list, &e, 7);  // other values do nothing
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 3}));
  ListInsertAt(&list, &d, 99);  // past the end: appended and last
  EXPECT_EQ(list.last, &d.link);
  ListInsertAt(&list, &e, 1);
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 5, 2, 3, 4}));
  EXPECT_EQ(ListCount(&list), 5);
  EXPECT_EQ(ListAt(&list, 2), &b);
  EXPECT_EQ(ListAt(&list, -1), nullptr);
  EXPECT_EQ(ListAt(&list, 5), nullptr);
  EXPECT_EQ(ListNext(&list), &a);  // given the header, its first element

  void* out = nullptr;
  ASSERT_TRUE(ListPop(&list, &out, 1));
  EXPECT_EQ(out, &d);
  EXPECT_EQ(list.last, &c.link);
  ASSERT_TRUE(ListPop(&list, &out, 0));
  EXPECT_EQ(out, &a);
  EXPECT_TRUE(ListUnlink(&list, &c));
  EXPECT_EQ(list.last, &b.link);
  EXPECT_FALSE(ListUnlink(&list, &c));  // not in the list any more
  EXPECT_EQ(Ids(list), (std::vector<int>{5, 2}));

  List one;
  ListInit(&one);
  ListInsertAt(&one, &a, 3);  // into an empty list: at the head
  ASSERT_TRUE(ListPop(&one, &out, 1));
  EXPECT_EQ(one.first, nullptr);
  EXPECT_EQ(one.last, nullptr);
  EXPECT_FALSE(ListPop(&one, &out, 0));
  EXPECT_EQ(out, nullptr);
}

TEST_F(MemoryTest, ListFreeAllReleasesHeapElements) {
  List list;
  ListInit(&list);
  for (int i = 0; i < 3; ++i) {
    MemHandle h;
    void* p;
    ASSERT_TRUE(MemAllocZero(sizeof(Item), &h, &p));
    ListInsert(&list, p, 1);
  }
  ListFreeAll(&list);
  EXPECT_EQ(list.first, nullptr);
  EXPECT_EQ(list.last, nullptr);
}

TEST_F(MemoryTest, PaddedCopyFillsTheWholeBuffer) {
  char buffer[12];
  std::memset(buffer, 'x', sizeof buffer);
  StrCopyPadded(buffer, "abc", 10);
  EXPECT_EQ(std::string(buffer, 10), std::string("abc\0\0\0\0\0\0\0", 10));
  EXPECT_EQ(buffer[10], 'x');
  StrCopyPadded(buffer, "abcdef", 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 'b');
  StrCopyPadded(buffer, "abcdef", 4);
  EXPECT_STREQ(buffer, "abc");
  buffer[0] = 'q';
  StrCopyPadded(buffer, "abcdef", 0);
  EXPECT_EQ(buffer[0], 'q');
}

TEST_F(MemoryTest, StripAndTrim) {
  struct Case {
    const char* text;
    const char* stripped;
    int dropped;
    const char* trimmed;
    int length;
  };
  for (Case c : {Case{"ab \t", "ab \t", 0, "ab", 2}, Case{" \t\x01x y\r\n", "x y\r\n", 3, " \t\x01x y", 6},
                 Case{"   ", "", 3, "", 0}, Case{"\xA0z\xA0", "\xA0z\xA0", 0, "\xA0z\xA0", 3},
                 Case{"", "", 0, "", 0}}) {
    std::string s = c.text;
    EXPECT_EQ(StrStripLeading(s.data()), c.dropped) << c.text;
    EXPECT_STREQ(s.c_str(), c.stripped);
    std::string t = c.text;
    EXPECT_EQ(StrTrimRight(t.data()), c.length) << c.text;
    EXPECT_STREQ(t.c_str(), c.trimmed);
  }
}

TEST_F(MemoryTest, BytesReverseAndArraySearch) {
  char b[] = "abcde";
  BytesReverse(b, 5);
  EXPECT_STREQ(b, "edcba");
  BytesReverse(b, 4);
  EXPECT_STREQ(b, "bcdea");

  const int values[] = {1, 3, 5, 7};
  auto compare = [](const void* k, const void* e) {
    int a = *static_cast<const int*>(k), v = *static_cast<const int*>(e);
    return a < v ? -1 : (a > v ? 1 : 0);
  };
  struct Case {
    int key;
    int count;
    int index;
    int16_t found;
  };
  for (Case c : {Case{5, 4, 2, 1}, Case{1, 4, 0, 1}, Case{7, 4, 3, 1}, Case{4, 4, 2, 0},
                 Case{0, 4, 0, 0}, Case{9, 4, 4, 0}, Case{3, 0, 0, 0}}) {
    int16_t found = 7;
    void* p = ArraySearch(&c.key, values, c.count, sizeof(int), compare, &found);
    EXPECT_EQ(static_cast<const int*>(p) - values, c.index) << c.key;
    EXPECT_EQ(found, c.found) << c.key;
  }
}

// One parser call: whether it succeeded, its value and where it ended.
struct ParseCase {
  const char* name;
  const char* text;
  bool ok;
  double value;
  int end;  // offset of the end in the text
};

template <class T, class F>
void CheckParse(const ParseCase& c, F parse) {
  T out = T(77);
  const char* end = parse(c.text, &out);
  EXPECT_EQ(end != nullptr, c.ok) << c.name << " '" << (c.text ? c.text : "null") << "'";
  EXPECT_EQ(double(out), c.ok ? c.value : 0.0) << c.name << " " << (c.text ? c.text : "null");
  if (end && c.ok) {
    EXPECT_EQ(end - c.text, c.end) << c.name << " " << c.text;
  }
}

TEST_F(MemoryTest, NumberParsers) {
  const ParseCase shorts[] = {
      {"short", "12abc", true, 12, 2},    {"short", "40000", false, 0, 0},
      {"short", "abc", false, 0, 0},      {"short", "", false, 0, 0},
      {"short", nullptr, false, 0, 0},    {"short", "-32768", true, -32768, 6},
      {"short", "32767", true, 32767, 5}, {"short", "-32769", false, 0, 0},
      {"short", " +7 ", true, 7, 3},      {"short", "0x10", true, 0, 1},
  };
  for (const ParseCase& c : shorts) CheckParse<int16_t>(c, NumParseShort);
  const ParseCase longs[] = {
      {"long", "2147483647", true, 2147483647.0, 10},
      {"long", "-2147483648", true, -2147483648.0, 11},
      {"long", "2147483648", false, 0, 0},
      {"long", "99999999999999999999", false, 0, 0},
      {"long", "-12.5", true, -12, 3},
  };
  for (const ParseCase& c : longs) {
    CheckParse<int32_t>(c, NumParseLong);
    CheckParse<int32_t>(c, NumParseLongPlain);
  }
  const ParseCase hexes[] = {
      {"hex", "1F", true, 31, 2},        {"hex", "ffffffff", true, 4294967295.0, 8},
      {"hex", "0x1fz", true, 31, 4},     {"hex", "100000000", false, 0, 0},
      {"hex", "g", false, 0, 0},         {"hex", "-1", false, 0, 0},
  };
  for (const ParseCase& c : hexes) CheckParse<uint32_t>(c, NumParseHex);
  const ParseCase doubles[] = {
      {"double", ".", true, 0, 1},           {"double", "", false, 0, 0},
      {"double", "1.5e3x", true, 1500, 5},   {"double", "-.5", true, -0.5, 3},
      {"double", "  3", true, 3, 3},         {"double", "12,5", true, 12, 2},
      {"double", "1e999", false, 0, 0},      {"double", "1e-400", false, 0, 0},
      {"double", "inf", false, 0, 0},        {"double", "nan", false, 0, 0},
      {"double", "0x1p3", true, 0, 1},       {"double", "e5", false, 0, 0},
      {"double", "..5", false, 0, 0},        {"double", "7.", true, 7, 2},
  };
  for (const ParseCase& c : doubles) CheckParse<double>(c, NumParseDouble);
}

TEST_F(MemoryTest, CleanUpFormsReadTheLocaleForm) {
  // A locale with ',' for decimals and '.' between thousands.
  State().decimalSeparator = ',';
  State().thousandSeparator = '.';
  char text[] = "1.234,5";
  double d = 0;
  ASSERT_NE(NumParseDoubleEx(text, &d, 1), nullptr);
  EXPECT_EQ(d, 1234.5);
  EXPECT_STREQ(text, "1234.5");
  char plain[] = "1.234,5";
  ASSERT_NE(NumParseDoubleEx(plain, &d, 0), nullptr);
  EXPECT_EQ(d, 1.234);
  char integer[] = "12.345";
  int32_t n = 0;
  ASSERT_NE(NumParseLongEx(integer, &n, 1), nullptr);
  EXPECT_EQ(n, 12345);
  char small[] = "40.000";
  int16_t s = 1;
  EXPECT_EQ(NumParseShortEx(small, &s, 1), nullptr);
  EXPECT_EQ(s, 0);
  // With the locale's separators switched off the fixed ones apply.
  LocaleSetIgnoreSeparators(1);
  char fixed[] = "1,234.5";
  ASSERT_NE(NumParseDoubleEx(fixed, &d, 1), nullptr);
  EXPECT_EQ(d, 1234.5);
}

TEST_F(MemoryTest, Rounding) {
  EXPECT_EQ(NumRoundToStep(2.5, 1), 3);
  EXPECT_EQ(NumRoundToStep(-2.5, 1), -2);
  EXPECT_NEAR(NumRoundToStep(1.2345, 0.01), 1.23, 1e-12);
  EXPECT_EQ(NumRoundToStep(1.2345, 0), 1.2345);
  EXPECT_EQ(IntAddSaturate(INT32_MAX, 1), INT32_MAX);
  EXPECT_EQ(IntAddSaturate(INT32_MIN, -1), INT32_MIN);
  EXPECT_EQ(IntAddSaturate(5, -7), -2);
  EXPECT_EQ(NumMulDiv(3, 4, 2), 6.5);
  struct Div {
    int32_t a, b, q;
  };
  for (Div c : {Div{7, 2, 4}, Div{-7, 2, -4}, Div{7, -2, -4}, Div{-7, -2, 4}, Div{5, 0, 5},
                Div{1, 3, 0}, Div{2, 3, 1}, Div{INT32_MIN, 1, INT32_MIN},
                Div{INT32_MIN, -1, INT32_MAX}}) {
    EXPECT_EQ(IntDivRound(c.a, c.b), c.q) << c.a << "/" << c.b;
  }
  EXPECT_EQ(NumRound(2.5), 3);
  EXPECT_EQ(NumRound(-2.5), -3);
  EXPECT_EQ(NumRound(0.49), 0);
  EXPECT_EQ(NumRound(-0.49), 0);
  EXPECT_EQ(NumRound(1e300), INT64_MAX);
  EXPECT_EQ(NumRound(std::nan("")), 0);
  EXPECT_EQ(NumRoundAwayFromZero(0.002), 1);
  EXPECT_EQ(NumRoundAwayFromZero(0.0005), 0);  // 0.9995
  EXPECT_EQ(NumRoundAwayFromZero(2.0), 2);  // 2.999 truncated
  EXPECT_EQ(NumRoundAwayFromZero(2.01), 3);
  EXPECT_EQ(NumRoundAwayFromZero(0.0), 0);
  EXPECT_EQ(NumRoundAwayFromZero(-0.5), -1);
  EXPECT_EQ(NumRoundAwayFromZero(-3.0), -3);
  EXPECT_EQ(NumRoundAwayFromZero(1e300), INT32_MAX);
  EXPECT_EQ(NumRoundAwayFromZero(-HUGE_VAL), INT32_MIN);
}

}  // namespace
