// Double-byte-safe walking, case and classes, comparison, the string pool
// and quoting.
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/mapfile/foundation/foundation_fixture.h"

namespace {

using namespace layerio;
using mapfiletest::FoundationTest;

class StringsTest : public FoundationTest {};

constexpr int kShiftJis = 19;  // WindowsJapanese: 0x82 is a lead byte

// "a", then a double-byte character whose trail byte is '\', then "b\c".
const char kSjis[] = "a\x82\x5C" "b\\c";

TEST_F(StringsTest, DoubleByteWalkingKeepsCharactersWhole) {
  CharsetSetSystem(kShiftJis);
  ASSERT_TRUE(DbcsMode());
  EXPECT_TRUE(MbsIsLeadByte(kSjis + 1));
  EXPECT_FALSE(MbsIsLeadByte(kSjis));
  EXPECT_EQ(MbsNext(kSjis + 1), kSjis + 3);
  EXPECT_EQ(MbsNext(kSjis + 6), kSjis + 6);  // the end stays
  EXPECT_EQ(MbsPrev(kSjis, kSjis + 3), kSjis + 1);
  EXPECT_EQ(MbsPrev(kSjis, kSjis), kSjis);
  EXPECT_EQ(MbsChr(kSjis, '\\'), kSjis + 4);
  EXPECT_EQ(MbsChr(kSjis, 0), kSjis + 6);
  EXPECT_EQ(MbsChr(kSjis, 'z'), nullptr);
  EXPECT_EQ(MbsRchr(kSjis, '\\'), kSjis + 4);
  EXPECT_EQ(MbsCspn(kSjis, "\\"), 4u);
  EXPECT_EQ(MbsCspn(kSjis, "\x82\x5C"), 1u);  // the double-byte character itself
  EXPECT_EQ(MbsSpn(kSjis, "a\x82\x5C"), 3u);
  EXPECT_EQ(MbsPbrk(kSjis, "\\c"), kSjis + 4);
  EXPECT_EQ(MbsFindLastOf(kSjis, "\\a"), 4);
  EXPECT_EQ(MbsFindLastOf("", "a"), -1);
  EXPECT_EQ(MbsFindLastOf(kSjis, "z"), -1);

  char reversed[] = "a\x82\x5C" "b";
  EXPECT_STREQ(MbsReverse(reversed), "b\x82\x5C" "a");

  char tokens[] = "ab\x82\x5C" "cd\\\\ef\\";
  std::vector<std::string> got;
  for (char* t = MbsTok(tokens, "\\"); t; t = MbsTok(nullptr, "\\")) got.push_back(t);
  EXPECT_EQ(got, (std::vector<std::string>{"ab\x82\x5C" "cd", "ef"}));

  char upper[] = "a\x82\x61z";  // the trail byte 0x61 is no 'a'
  EXPECT_STREQ(StrToUpper(upper), "A\x82\x61Z");

  // The same text in a single-byte charset: the trail byte is a '\'.
  CharsetSetSystem(kDefaultSystemCharset);
  EXPECT_EQ(MbsChr(kSjis, '\\'), kSjis + 2);
  EXPECT_EQ(MbsCspn(kSjis, "\\"), 2u);
  EXPECT_EQ(MbsPrev(kSjis, kSjis + 3), kSjis + 2);
}

TEST_F(StringsTest, CaseAndClassesOfTheSystemCharset) {
  struct Case {
    unsigned c;
    unsigned upper, lower;
    int alpha, alnum, print;
  };
  for (Case c : {Case{'a', 'A', 'a', 1, 1, 1}, Case{'Z', 'Z', 'z', 1, 1, 1},
                 Case{'5', '5', '5', 0, 1, 1}, Case{0xE9, 0xC9, 0xE9, 1, 1, 1},
                 Case{0xC9, 0xC9, 0xE9, 1, 1, 1}, Case{0xFF, 0x9F, 0xFF, 1, 1, 1},
                 Case{0x9F, 0x9F, 0xFF, 1, 1, 1}, Case{0x9A, 0x8A, 0x9A, 1, 1, 1},
                 Case{0xDF, 0xDF, 0xDF, 1, 1, 1}, Case{0xF7, 0xF7, 0xF7, 0, 0, 1},
                 Case{0xD7, 0xD7, 0xD7, 0, 0, 1}, Case{0xB1, 0xB1, 0xB1, 0, 0, 1},
                 Case{0x7F, 0x7F, 0x7F, 0, 0, 0}, Case{0x1F, 0x1F, 0x1F, 0, 0, 0},
                 Case{' ', ' ', ' ', 0, 0, 1}, Case{'[', '[', '[', 0, 0, 1}}) {
    EXPECT_EQ(unsigned(CharToUpper(int(c.c))), c.upper) << std::hex << c.c;
    EXPECT_EQ(unsigned(CharToLower(int(c.c))), c.lower) << std::hex << c.c;
    EXPECT_EQ(CharIsAlpha(int(c.c)), c.alpha) << std::hex << c.c;
    EXPECT_EQ(CharIsAlnum(int(c.c)), c.alnum) << std::hex << c.c;
    EXPECT_EQ(CharIsPrint(int(c.c)), c.print) << std::hex << c.c;
  }
  char text[] = "Stra\xDF" "e \xE9t\xE9";
  EXPECT_STREQ(StrToUpper(text), "STRA\xDF" "E \xC9T\xC9");
  EXPECT_STREQ(StrToLower(text), "stra\xDF" "e \xE9t\xE9");

  // Windows Japanese: no case above ASCII, single-byte katakana are letters.
  CharsetSetSystem(kShiftJis);
  EXPECT_EQ(CharToUpper(0xE9), 0xE9);
  EXPECT_EQ(CharIsAlpha(0xB1), 1);
  EXPECT_EQ(CharIsAlnum(0xDF), 1);
  EXPECT_EQ(CharIsAlpha(0xE0), 0);
}

TEST_F(StringsTest, InstalledCaseTablesReplaceTheDefaults) {
  CaseTables t = CurrentCaseTables();
  t.upper[0xE9] = 'E';
  t.lower['E'] = 0xE9;
  SetCaseTables(&t);
  EXPECT_EQ(CharToUpper(0xE9), 'E');
  EXPECT_EQ(StrCompareNoCase("\xE9", "E"), 0);
  SetCaseTables(nullptr);
  EXPECT_EQ(CharToUpper(0xE9), 0xC9);
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

TEST_F(StringsTest, ComparisonIgnoringCase) {
  struct Case {
    const char* a;
    const char* b;
    int order;
    size_t n;
    int orderN;
  };
  for (Case c : {Case{"abc", "ABC", 0, 2, 0}, Case{"a", "b", -1, 1, -1},
                 Case{"abc", "abcd", -1, 3, 0}, Case{"\xE9t\xE9", "\xC9T\xC9", 0, 9, 0},
                 Case{"[", "a", -1, 1, -1}, Case{"abcX", "ABCy", -1, 3, 0},
                 Case{"b", "A", 1, 0, 0}, Case{"\xE9", "z", 1, 1, 1}, Case{"", "", 0, 4, 0}}) {
    EXPECT_EQ(Sign(StrCompareNoCase(c.a, c.b)), c.order) << c.a << " " << c.b;
    EXPECT_EQ(Sign(StrCompareNoCase(c.b, c.a)), -c.order) << c.a << " " << c.b;
    EXPECT_EQ(StrEqualNoCase(c.a, c.b), c.order == 0) << c.a << " " << c.b;
    EXPECT_EQ(Sign(StrCompareNoCaseN(c.a, c.b, c.n)), c.orderN) << c.a << " " << c.n;
    EXPECT_EQ(StrEqualNoCaseN(c.a, c.b, c.n), c.orderN == 0) << c.a << " " << c.n;
  }
  EXPECT_TRUE(StrEqual("abc", "abc"));
  EXPECT_FALSE(StrEqual("abc", "ABC"));
  EXPECT_TRUE(StrEqualN("abcX", "abcY", 3));
  EXPECT_FALSE(StrEqualN("abcX", "abcY", 4));

  // Double-byte characters count as one and compare by their bytes.
  CharsetSetSystem(kShiftJis);
  EXPECT_EQ(StrCompareNoCase("x\x82\x61", "X\x82\x61"), 0);
  EXPECT_NE(StrCompareNoCase("x\x82\x61", "X\x82\x41"), 0);
  EXPECT_EQ(StrCompareNoCaseN("\x82\x61" "ab", "\x82\x61" "AZ", 2), 0);
  EXPECT_LT(StrCompareNoCaseN("\x82\x61" "ab", "\x82\x61" "AZ", 3), 0);
}

// The ordering by lowered bytes, one byte at a time.
int ReferenceOrder(const std::string& a, const std::string& b, size_t n) {
  const uint8_t* lower = CurrentCaseTables().lower;
  for (size_t i = 0; i < n; ++i) {
    unsigned ca = lower[i < a.size() ? static_cast<unsigned char>(a[i]) : 0];
    unsigned cb = lower[i < b.size() ? static_cast<unsigned char>(b[i]) : 0];
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

TEST_F(StringsTest, ComparisonAgreesWithTheByteLoopAnywhereInAPage) {
  // Texts of up to 40 bytes that share prefixes and differ in case, in
  // letters next to the letter range and above ASCII, placed anywhere in a
  // page, up to its last byte.
  const std::string alphabet = "aAbBzZ@[`{09_ \xC9\xE9\xDF\xFF";
  std::mt19937 random(26);
  const size_t page = 4096;
  char* buffer = static_cast<char*>(std::aligned_alloc(page, 2 * page));
  ASSERT_NE(buffer, nullptr);
  for (int round = 0; round < 4000; ++round) {
    std::string a, b;
    size_t length = random() % 41;
    for (size_t i = 0; i < length; ++i) a += alphabet[random() % alphabet.size()];
    b = a;
    for (char& c : b) {
      if (random() % 3 == 0) c = char(CharToUpper(c));
      if (random() % 3 == 0) c = char(CharToLower(c));
    }
    if (!b.empty() && random() % 2) b[random() % b.size()] = alphabet[random() % alphabet.size()];
    if (random() % 4 == 0) b.resize(random() % (b.size() + 1));
    // a at a random place of the first page, b ending at the page's end
    size_t at = random() % (page - a.size());
    char* pa = buffer + at;
    std::memcpy(pa, a.c_str(), a.size() + 1);
    char* pb = buffer + 2 * page - (b.size() + 1);
    std::memcpy(pb, b.c_str(), b.size() + 1);
    size_t n = random() % 2 ? size_t(-1) : random() % 45;
    EXPECT_EQ(Sign(StrCompareNoCase(pa, pb)), ReferenceOrder(a, b, size_t(-1))) << a << " | " << b;
    EXPECT_EQ(Sign(StrCompareNoCaseN(pa, pb, n)), ReferenceOrder(a, b, n)) << a << " | " << b << " " << n;
  }
  std::free(buffer);
}

TEST_F(StringsTest, MapBytesLeavesDoubleByteCharactersAlone) {
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = uint8_t(i == 0 ? 0 : 255 - i);
  char text[] = "a\x82\x61";
  StrMapBytes(text, table);
  EXPECT_EQ(std::string(text), std::string("\x9E\x7D\x9E"));
  CharsetSetSystem(kShiftJis);
  char dbcs[] = "a\x82\x61";
  StrMapBytes(dbcs, table);
  EXPECT_EQ(std::string(dbcs), std::string("\x9E\x82\x61"));
}

TEST_F(StringsTest, StringPool) {
  MemHandle pool = nullptr;
  int32_t data = 10;
  EXPECT_EQ(StrPoolAdd(&pool, "Beta", &data, sizeof data, 1), 1u);
  data = 20;
  uint32_t alpha = StrPoolAdd(&pool, "alpha", &data, sizeof data, 1);
  EXPECT_EQ(alpha, 1u);  // sorted before Beta, which moves behind it
  data = 30;
  uint32_t gamma = StrPoolAdd(&pool, "gamma", &data, sizeof data, 0);
  EXPECT_EQ(StrPoolAdd(&pool, "", &data, sizeof data, 0), 0u);
  data = 21;
  EXPECT_EQ(StrPoolAdd(&pool, "ALPHA", &data, sizeof data, 1), alpha);  // same entry, new data
  EXPECT_EQ(StrPoolAdd(&pool, "ALPHA", nullptr, sizeof data, 1), alpha);

  std::vector<std::string> texts;
  std::vector<int32_t> values;
  const char* text = nullptr;
  size_t size = 0;
  for (int32_t n = 0; StrPoolGetNth(pool, n, &text, &size, &data, sizeof data); ++n) {
    texts.push_back(text);
    values.push_back(data);
    EXPECT_EQ(size, std::strlen(text));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"alpha", "Beta", "gamma"}));
  EXPECT_EQ(values, (std::vector<int32_t>{21, 10, 30}));

  StrPoolGetAt(pool, gamma, &text, &size, &data, sizeof data);
  EXPECT_STREQ(text, "gamma");
  EXPECT_EQ(data, 30);
  StrPoolGetAt(pool, 100000, &text, &size, nullptr, sizeof data);
  EXPECT_STREQ(text, "");
  StrPoolGetAt(nullptr, 1, &text, &size, nullptr, sizeof data);
  EXPECT_STREQ(text, "");

  EXPECT_TRUE(StrPoolFind(pool, "BETA", &data, sizeof data));
  EXPECT_EQ(data, 10);
  EXPECT_FALSE(StrPoolFind(pool, "delta", &data, sizeof data));
  EXPECT_FALSE(StrPoolFind(nullptr, "alpha", &data, sizeof data));
  MemFreePtr(&pool);

  // A pool without user data.
  EXPECT_EQ(StrPoolAdd(&pool, "x", nullptr, 0, 0), 1u);
  EXPECT_EQ(StrPoolAdd(&pool, "y", nullptr, 0, 0), 3u);
  EXPECT_TRUE(StrPoolFind(pool, "Y", nullptr, 0));
  MemFreePtr(&pool);
}

TEST_F(StringsTest, QuotingRoundTrips) {
  struct Case {
    const char* source;
    const char* quote;
    size_t size;
    const char* quoted;
    bool whole;  // unquoting gives the source back
  };
  const Case cases[] = {
      {"abc", nullptr, 10, "\"abc\"", true},
      {"a\"b", nullptr, 10, "\"a\"\"b\"", true},
      {"\"\"", nullptr, 10, "\"\"\"\"\"\"", true},
      {"", nullptr, 3, "\"\"", true},
      {"abc", nullptr, 3, "\"\"", false},
      {"abcdef", nullptr, 6, "\"abc\"", false},
      {"ab\"", nullptr, 6, "\"ab\"", false},  // the doubled quote would not fit
      {"it's", "'", 10, "'it''s'", true},
      {"plain", "", 4, "pla", false},
  };
  for (const Case& c : cases) {
    char out[32];
    ASSERT_NE(StrQuote(out, c.source, c.quote, c.size), nullptr) << c.source;
    EXPECT_STREQ(out, c.quoted) << c.source << " size " << c.size;
    char inPlace[32];
    std::strcpy(inPlace, c.source);
    StrQuote(inPlace, inPlace, c.quote, c.size);
    EXPECT_STREQ(inPlace, c.quoted) << "in place: " << c.source;
    char back[32];
    StrUnquote(back, out, c.quote, sizeof back);
    if (c.whole) {
      EXPECT_STREQ(back, c.source) << c.source;
    }
  }
  char out[8] = "zz";
  EXPECT_EQ(StrQuote(out, "abc", nullptr, 2), nullptr);
  EXPECT_STREQ(out, "zz");
  EXPECT_STREQ(StrQuoteDefault(out, "x", sizeof out), "\"x\"");
}

TEST_F(StringsTest, Unquote) {
  struct Case {
    const char* source;
    size_t size;
    const char* text;
  };
  for (Case c : {Case{"\"a\"\"b\" tail", 16, "a\"b"}, Case{"plain \"x\"", 16, "plain \"x\""},
                 Case{"\"abcdef\"", 4, "abc"}, Case{"\"open", 16, "open"},
                 Case{"\"\"", 16, ""}}) {
    char out[16];
    EXPECT_STREQ(StrUnquote(out, c.source, nullptr, c.size), c.text) << c.source;
    char inPlace[16];
    std::strcpy(inPlace, c.source);
    EXPECT_STREQ(StrUnquote(inPlace, inPlace, nullptr, c.size), c.text) << c.source;
  }
}

}  // namespace
