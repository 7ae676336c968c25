// Normalization tables, CRC-16 stamps and collated comparison.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation_fixture.h"
#include "mapfile/foundation/messages.h"

namespace mapfiletest {
namespace {

using namespace layerio;

// CRC-16/ARC bit by bit, apart from the library's table-driven one.
uint16_t BitwiseCrc16(const unsigned char* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

std::string Item(int byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X;", byte);
  return text;
}

// The bytes from..255 each as an item, leaving out those in skip.
std::string Items(int from, std::vector<int> skip = {}) {
  std::string text;
  for (int b = from; b < 256; ++b) {
    bool skipped = false;
    for (int s : skip) skipped = skipped || s == b;
    if (!skipped) text += Item(b);
  }
  return text;
}

constexpr int32_t kTestId = 90000;  // no built-in row has it

// Definitions handed to the builders as message rows of their own: the text
// cut into rows of 37 characters (cuts fall inside items too), then a row
// that begins with a blank.
class Definitions {
 public:
  void Add(int32_t firstId, const std::string& text) {
    for (size_t i = 0; i < text.size(); i += 37) texts_.push_back(text.substr(i, 37));
    texts_.push_back(" ");
    ids_.push_back({firstId, texts_.size()});
  }
  void Install() {
    rows_.clear();
    size_t start = 0;
    for (auto [id, end] : ids_) {
      for (size_t i = start; i < end; ++i) {
        rows_.push_back({uint32_t(id + int32_t(i - start)), texts_[i].c_str()});
      }
      start = end;
    }
    rows_.push_back({0, nullptr});
    MsgSetOverrideRows(rows_.data());
  }

 private:
  std::vector<std::string> texts_;
  std::vector<std::pair<int32_t, size_t>> ids_;
  std::vector<MsgRow> rows_;
};

class NormTest : public FoundationTest {
 protected:
  void TearDown() override {
    MsgSetOverrideRows(nullptr);
    State().norm = NormState{};
    FoundationTest::TearDown();
  }
};

TEST_F(NormTest, Crc16MatchesTheCheckValueAndABitwiseCrc) {
  EXPECT_EQ(Crc16("123456789", 9), 0xBB3D);
  EXPECT_EQ(Crc16("", 0), 0);
  std::mt19937 random(27);
  for (int round = 0; round < 300; ++round) {
    std::vector<unsigned char> bytes(random() % 700);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    ASSERT_EQ(Crc16(bytes.data(), bytes.size()), BitwiseCrc16(bytes.data(), bytes.size()))
        << "round " << round << ", " << bytes.size() << " bytes";
  }
}

// One definition each; `fatal` is the first fatal text with trapping on
// (empty when the definition is sound); `values` are entries of the table
// built with trapping off, where the build goes on past every error.
struct GrammarCase {
  const char* name;
  std::string text;
  std::string fatal;
  std::vector<std::pair<int, int>> values;
};

TEST_F(NormTest, DefinitionGrammar) {
  const GrammarCase cases[] = {
      {"group shares one value", "0x01;(0x02;0x03);0x04;" + Items(5), "",
       {{1, 1}, {2, 2}, {3, 2}, {4, 3}, {5, 4}, {255, 254}}},
      {"blanks and lower-case hex", "0x01 ; 0X02;0xa;" + Items(3, {10}), "",
       {{1, 1}, {2, 2}, {10, 3}, {3, 4}}},
      {"single character names its byte", "A;" + Items(1, {0x41}), "", {{0x41, 1}, {1, 2}}},
      {"at-item sets the value", "@0x80;0x41;" + Items(1, {0x41}), "",
       {{0x41, 0x80}, {1, 0x81}, {0x7F, 0xFE}, {0x80, 0xFF}, {0xFF, 0xFF}}},
      {"at-item 0x101", "@0x101;" + Items(1),
       "Normalization table character 0x101 cannot be converted.", {{1, 1}, {255, 255}}},
      {"at-item not in hex", "@12;" + Items(1),
       "Normalization table character 12 cannot be converted.", {{1, 1}}},
      // Value 0x100 does not fit a table entry: its bytes stay unset.
      {"at-item 0x100", "@0x100;" + Items(1),
       "Normalization table error: value for 0x01 never set.", {{1, 0}, {255, 0}}},
      {"item past the item buffer (kept as far as it fits)",
       "0x" + std::string(70, '0') + "41;" + Items(1, {0x41}),
       "Normalization table character 0x" + std::string(61, '0') + " cannot be converted.",
       {{0x41, 0}, {1, 2}}},
      {"byte named twice", Items(1) + "0x41;",
       "Normalization table error: value 0x41 set twice - once to 0x41, then to 0xff.",
       {{0x41, 0xFF}, {0x42, 0x42}}},
      {"byte never named", Items(1, {5}), "Normalization table error: value for 0x05 never set.",
       {{5, 0}, {4, 4}, {6, 5}}},
      // A refused item still takes its value.
      {"byte 0", "0x00;" + Items(1), "Normalization table character 0x00 cannot be converted.",
       {{1, 2}}},
      {"0x and no digits", "0x;" + Items(1),
       "Normalization table character 0x cannot be converted.", {{1, 2}}},
      {"character outside the grammar", "0x01;G" + Items(2),
       "Normalization table character G cannot be converted.", {{1, 1}, {2, 2}}},
      {"number past the table", Items(1) + "0x100;",
       "Normalization table character 0x100 cannot be converted.", {{255, 255}}},
  };
  for (const GrammarCase& c : cases) {
    SCOPED_TRACE(c.name);
    Definitions d;
    d.Add(kTestId, c.text);
    d.Install();

    TrapToggle(1);
    const uint8_t* built = RunGuarded<const uint8_t*>(nullptr, [] {
      return NormTableBuild(kTestId);
    });
    TrapToggle(1);
    if (!c.fatal.empty()) {
      EXPECT_EQ(built, nullptr);
      EXPECT_EQ(FatalText(), c.fatal);
      EXPECT_EQ(ErrorLastCode(), kErrInternal);
    } else {
      EXPECT_NE(built, nullptr);
      EXPECT_EQ(ErrorLastCode(), 0);
    }

    ErrorClear();
    const uint8_t* table = RunGuarded<const uint8_t*>(nullptr, [] {
      return NormTableBuild(kTestId);
    });
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(ErrorLastCode(), 0);
    EXPECT_EQ(table[0], 0);
    for (auto [byte, value] : c.values) EXPECT_EQ(table[byte], value) << "byte " << byte;
  }
}

TEST_F(NormTest, ATrappedErrorKeepsTheTableBuiltBefore) {
  Definitions d;
  d.Add(kTestId, Items(1));
  d.Add(kTestId + 100, Items(2));
  d.Install();
  ASSERT_NE(NormTableBuild(kTestId), nullptr);
  TrapToggle(1);
  EXPECT_EQ(RunGuarded<const uint8_t*>(nullptr, [] { return NormTableBuild(kTestId + 100); }),
            nullptr);
  ASSERT_NE(NormTable(1), nullptr);
  EXPECT_EQ(NormTable(1)[1], 1);
  EXPECT_EQ(NormTable(1)[255], 255);
  EXPECT_EQ(NormTableBuild(kTestId + 1000), nullptr) << "no row: no table";
  EXPECT_EQ(NormTable(1)[1], 1);
}

struct BuiltInSet {
  int32_t first, last;
  int table;
};
constexpr BuiltInSet kBuiltInSets[] = {
    {10000, 10016, 1}, {10100, 10117, 1}, {11000, 11017, 1}, {11100, 11117, 1},
    {12100, 12120, 1}, {14100, 14117, 2}, {15000, 15017, 2}, {16100, 16117, 3},
    {17000, 17017, 3},
};

// Every set fills its range, ends with its blank row, and builds with each
// byte 1..255 named once: trapping on, any slip would end the build.
TEST_F(NormTest, EveryBuiltInDefinitionBuildsWithoutHoles) {
  TrapToggle(1);
  for (const BuiltInSet& set : kBuiltInSets) {
    SCOPED_TRACE(set.first);
    for (int32_t id = set.first; id <= set.last; ++id) {
      ASSERT_TRUE(MsgExists(id)) << id;
      const char* text = MsgGetText(id);
      EXPECT_EQ(text[0] == ' ', id == set.last) << id;
      EXPECT_LT(std::strlen(MsgFind(id)->text), 255u) << id;
    }
    EXPECT_FALSE(MsgExists(set.last + 1));
    const uint8_t* table = RunGuarded<const uint8_t*>(nullptr, [&] {
      return set.table == 1 ? NormTableBuild(set.first)
             : set.table == 2 ? NormTableBuild2(set.first) : NormTableBuild3(set.first);
    });
    ASSERT_NE(table, nullptr) << FatalText();
    EXPECT_EQ(ErrorLastCode(), 0);
    EXPECT_EQ(table[0], 0);
    for (int b = 1; b < 256; ++b) EXPECT_NE(table[b], 0) << "byte " << b;
  }
  EXPECT_STREQ(MsgGetText(11004),
               "0x40;(0x41;0x61;0xC0;0xE0;0xC1;0xE1;0xC2;0xE2;0xC3;0xE3;0xC4;0xE4;0xC5;0xE5;"
               "0xC6;");
  EXPECT_EQ(std::strncmp(MsgGetText(11005), "0xE6);(0x42;0x62);", 18), 0);
  EXPECT_STREQ(MsgGetText(988), "Normalization table character %s cannot be converted.");
}

// How the sets order bytes: '=' one value, '<' the first sorts first.
struct OrderCase {
  int32_t first;
  int table;
  int a;
  char relation;
  int b;
};

TEST_F(NormTest, CollationsOfTheBuiltInSets) {
  const OrderCase cases[] = {
      {10000, 1, 'a', '=', 'A'},   {10000, 1, '@', '<', 'A'},   {10000, 1, 'Z', '<', '['},
      {10000, 1, '~', '<', 0x80},  {10000, 1, 0xC0, '<', 0xE0}, {11000, 1, 'a', '=', 0xC0},
      {11000, 1, 0xE6, '=', 'A'},  {11000, 1, 0xE6, '<', 'b'},  {11000, 1, 0xDF, '=', 'S'},
      {11000, 1, 0x9A, '=', 's'},  {11000, 1, 0xFF, '=', 'Y'},  {11000, 1, 0xDE, '=', 0xFE},
      {11000, 1, 'z', '<', 0xDE},  {11000, 1, 0xDE, '<', '['},  {11000, 1, '~', '<', 0xA9},
      {10100, 1, 0xF1, '=', 'N'},  {10100, 1, 0x9A, '<', 0xA0}, {11100, 1, 0xA3, '=', 'l'},
      {11100, 1, 0x8A, '=', 's'},  {12100, 1, 0x80, '=', 'a'},  {12100, 1, 0xF5, '=', 'I'},
      {15000, 2, 'a', '=', 'A'},   {15000, 2, 'a', '<', 0xC0},  {15000, 2, 0xC0, '=', 0xE0},
      {15000, 2, 0xE6, '<', 'B'},  {14100, 2, 0xD1, '=', 0xF1}, {14100, 2, 'n', '<', 0xF1},
      {17000, 3, 'A', '<', 'a'},   {17000, 3, 'a', '<', 0xC0},  {17000, 3, 0xC0, '<', 0xE0},
      {17000, 3, 0xE6, '<', 'B'},  {16100, 3, 'S', '<', 's'},   {16100, 3, 's', '<', 0xDF},
      {16100, 3, 0xDF, '<', 'T'},
  };
  for (const OrderCase& c : cases) {
    const uint8_t* t = c.table == 1 ? NormTableBuild(c.first)
                       : c.table == 2 ? NormTableBuild2(c.first) : NormTableBuild3(c.first);
    ASSERT_NE(t, nullptr);
    int va = t[c.a], vb = t[c.b];
    char got = va == vb ? '=' : va < vb ? '<' : '>';
    EXPECT_EQ(got, c.relation) << c.first << ": 0x" << std::hex << c.a << " against 0x" << c.b;
  }
}

struct InitCase {
  int charset;
  int32_t table1, table2, table3;  // 0: no table
};

TEST_F(NormTest, InitBuildsTheTablesAndStampsOfTheSystemCharset) {
  const InitCase cases[] = {
      {10, 11000, 15000, 17000}, {1, 10100, 14100, 16100}, {11, 11100, 0, 0},
      {21, 12100, 0, 0},         {0, 10000, 0, 0},         {34, 10000, 0, 0},
      {41, 10000, 0, 0},  // (41 + 100) x 100 is a table-2 set, not one of table 1
      {50, 10000, 0, 0},         {19, 10000, 0, 0},
  };
  for (const InitCase& c : cases) {
    SCOPED_TRACE(c.charset);
    const int32_t ids[3] = {c.table1, c.table2, c.table3};
    uint8_t expected[3][256] = {};
    for (int k = 0; k < 3; ++k) {
      if (!ids[k]) continue;
      const uint8_t* t = k == 0   ? NormTableBuild(ids[k])
                         : k == 1 ? NormTableBuild2(ids[k])
                                  : NormTableBuild3(ids[k]);
      ASSERT_NE(t, nullptr);
      std::memcpy(expected[k], t, 256);
    }
    State().systemCharset = c.charset;
    ASSERT_EQ(NormTablesInit(), 1);
    ASSERT_NE(NormTable(1), nullptr);
    EXPECT_EQ(std::memcmp(NormTable(1), expected[0], 256), 0);
    EXPECT_EQ(NormStamp(1), Crc16(expected[0], 256));
    EXPECT_EQ(NormStamp(2), Crc16(expected[0] + 32, 95));
    for (int k = 1; k < 3; ++k) {
      if (ids[k]) {
        ASSERT_NE(NormTable(k + 1), nullptr);
        EXPECT_EQ(std::memcmp(NormTable(k + 1), expected[k], 256), 0);
        EXPECT_EQ(NormStamp(k + 2), Crc16(expected[k], 256));
      } else {
        EXPECT_EQ(NormTable(k + 1), nullptr);
        EXPECT_EQ(NormStamp(k + 2), 0u);
      }
    }
  }
}

// Bytes 1..255 in their own places, except that 0x8A sorts with '<': a table
// whose CRC-16 is 44414.
std::string ClashingDefinition() {
  std::string text;
  for (int b = 1; b < 256; ++b) text += b == 0x8A ? "@0x3C;0x8A;@0x8B;" : Item(b);
  return text;
}

struct ClashCase {
  const char* name;
  int charset;
  bool table1, table2, table3;  // which of the tables clash
  uint32_t stamp1, stamp3, stamp4;  // 1: the real CRC
};

TEST_F(NormTest, OnlyTheFirstClashingStampIsReplacedUnderWindowsLatin1) {
  const ClashCase cases[] = {
      {"table 1", 10, true, false, false, 5607, 1, 1},
      {"tables 1 and 2", 10, true, true, false, 5607, 44414, 1},
      {"tables 2 and 3", 10, false, true, true, 1, 5607, 44414},
      {"table 3", 10, false, false, true, 1, 1, 5607},
      {"ISO8859_1 keeps it", 1, true, true, false, 44414, 44414, 1},
  };
  for (const ClashCase& c : cases) {
    SCOPED_TRACE(c.name);
    bool latin1 = c.charset == 1;
    Definitions d;
    if (c.table1) d.Add(latin1 ? 10100 : 11000, ClashingDefinition());
    if (c.table2) d.Add(latin1 ? 14100 : 15000, ClashingDefinition());
    if (c.table3) d.Add(latin1 ? 16100 : 17000, ClashingDefinition());
    d.Install();
    State().systemCharset = c.charset;
    ASSERT_EQ(NormTablesInit(), 1);
    uint32_t expected[3] = {c.stamp1, c.stamp3, c.stamp4};
    int which[3] = {1, 3, 4};
    for (int k = 0; k < 3; ++k) {
      const uint8_t* t = NormTable(which[k] == 1 ? 1 : which[k] - 1);
      ASSERT_NE(t, nullptr);
      uint32_t want = expected[k] == 1 ? Crc16(t, 256) : expected[k];
      if (expected[k] == 1) {
        EXPECT_NE(want, 44414u);
      }
      EXPECT_EQ(NormStamp(which[k]), want) << "stamp " << which[k];
    }
  }
  MsgSetOverrideRows(nullptr);
  State().systemCharset = 10;
  ASSERT_EQ(NormTablesInit(), 1);
  for (int k : {1, 3, 4}) EXPECT_NE(NormStamp(k), 44414u) << "the shipped tables do not clash";
}

struct CollatedCase {
  std::string a, b;
  int expected;
};

TEST_F(NormTest, CollatedComparisonUnderWindowsLatin1) {
  State().systemCharset = 10;
  ASSERT_EQ(NormTablesInit(), 1);
  std::string longText(400, 'q');
  std::string longUpper(400, 'Q');
  const CollatedCase cases[] = {
      {"Hello World", "hELLO wORLD", 0},
      {"\xC0" "bc", "ABC", 0},  // A grave
      {"stra\xDF" "e", "STRASSE", -1},  // sharp s sorts as one s
      {"abc", "abd", -1},
      {"abd", "ABC", 1},
      {"ab", "abc", -1},
      {"", "", 0},
      {"Z", "[", -1},
      {longText + "a", longUpper + "A", 0},  // beyond the stack copies
      {longText + "a", longUpper + "B", -1},
      {longUpper + "c", "q", 1},
  };
  for (const CollatedCase& c : cases) {
    EXPECT_EQ(StrCompareCollated(c.a.c_str(), c.b.c_str()), c.expected)
        << c.a.substr(0, 20) << " against " << c.b.substr(0, 20);
    EXPECT_EQ(StrCompareCollated(c.b.c_str(), c.a.c_str()), -c.expected);
  }
}

// Index keys are stored normalised; a search text is mapped through the
// table the index's stamp names before the bytes are compared.
TEST_F(NormTest, IndexKeysCompareThroughTheTableOfTheirStamp) {
  State().systemCharset = 10;
  ASSERT_EQ(NormTablesInit(), 1);
  struct Key {
    char head[16];
    Value v;
  };
  const struct {
    uint32_t stamp;
    int table;
    const char* stored;
    const char* search;
    int expected;
  } cases[] = {
      {0, 1, "\xC4pfel", "APFEL", 0},
      {NormStamp(1), 1, "\xC4pfel", "apfel", 0},
      {NormStamp(3), 2, "\xC4pfel", "\xE4PFEL", 0},
      {NormStamp(3), 2, "\xC4pfel", "apfel", -1},
      {NormStamp(4), 3, "Apfel", "apfel", 1},
      {NormStamp(4), 3, "apfel", "apfel", 0},
      {12345, 1, "Apfel", "APFEL", 0},  // a stamp of no table: table 1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    std::string stored = c.stored;
    StrMapBytes(stored.data(), NormTable(c.table));
    Key key{};
    ValueSet(&key.v, kValueText, stored.c_str());
    Value search{};
    ValueSet(&search, kValueText, c.search);
    int out = 9;
    EXPECT_TRUE(ValueCompareIndexKey(&search, &key, &out, 0, c.stamp));
    EXPECT_EQ(out, c.expected) << "stamp " << c.stamp;
    ValueFree(&search);
    ValueFree(&key.v);
  }
}

}  // namespace
}  // namespace mapfiletest
